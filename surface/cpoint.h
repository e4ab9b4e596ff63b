// The mirror image of a point through a curve or surface (quadric/cpoint holds the rest of the
// derived points; this one needs the surface floor's closest points).
#pragma once

struct Bspline;

// out = 2 foot - p, foot the point of the curve or surface closest to p: the mirror image of p
// through the foot (for a surface, through its tangent plane there). 1; 0 when no closest point
// is found.
int FindSymmetricPointFromBspline(Bspline* obj, const double p[3], double out[3]);
