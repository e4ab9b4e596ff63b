// Small measures shared by the feature registrations.
#pragma once

// The acute angle between two lines whose directions make the angle a (degrees): |a| when
// |a| <= 90, else 180 - |a|.
float AbsAngle(float a);
// out = base + d unit(p2 - p1), the line given as {p1, p2}; a line of no length gives base.
// Returns 0.
int PointOnLine(const double line[6], const double base[3], float d, double out[3]);
