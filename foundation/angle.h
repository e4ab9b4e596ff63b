// Angles (degrees) between lines and planes.
#pragma once

#include "foundation/vec3.h"

// Angle between the directions p1 - p0 and q1 - q0, 0..180.
double LineLineAngle(const double p0[3], const double p1[3], const double q0[3],
                     const double q1[3]);

// Angle between the plane normals folded into 0..90: opposite normals count as parallel.
double PlanePlaneAngle(const PlaneEq plane1, const PlaneEq plane2);

// Angle between the line p0 p1 and the plane: 90 minus the folded line/normal angle.
double LinePlaneAngle(const double p0[3], const double p1[3], const PlaneEq plane);

// out = the plane's (a, b, c) normalised (a zero normal stays zero).
void PlaneNormalDirection(const PlaneEq plane, double out[3]);
