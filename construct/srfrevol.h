// Exact surfaces of revolution: a profile curve swept about an axis between two angles (in
// degrees), every control point of the profile tracing circular arcs of at most 90 degrees, each
// a rational quadratic segment; and the small frame tools the rotation sweeps share.
#pragma once

#include "bspline/smake.h"
#include "foundation/vec3.h"

// The profile revolved about the axis through p0 and p1 (direction p1 - p0) from startAngle to
// endAngle. The result is rational: u runs around the axis (degree 2, 2k + 1 control points for
// k arcs, every arc boundary a double knot), v along the profile (its degree and knots). Equal
// angles, or a sweep of 360 or more, give the full revolution, closed in u; otherwise the sweep
// goes from start to end counter-clockwise about the axis (start 270, end 90 covers 180 degrees
// from -90). The u knots are finally scaled so that u and v have the same control-net speed.
// Neither the profile nor the axis points change. Null with the error state set on failure
// (memory, a profile or axis the revolution refuses, a surface that would not be finite).
Bspline* RevolveCurveGeometry(Bspline* profile, double p0[3], double p1[3], double startAngle,
                              double endAngle);

// A rational copy of the profile (weights copied, or 1.0) with every control point transformed by
// M = TransformToZAxis(p0, p1), which takes p0 to the origin and p1 - p0 onto +z; M is written
// for the caller. Null on failure (memory).
Bspline* SrfRevolArbitAxCurveGeometry(Bspline* profile, double p0[3], double p1[3], double M[16]);

// The point where the tangents at a and b of the circle of radius r about the z axis meet (out
// z = a's z). 0, or -2 when the tangents are (nearly) parallel.
int FindPtAtIntrscnOf2Tan(double r, double a[3], double b[3], double out[3]);

// M = the rotation about z that turns the xy projection of d onto +y (row vectors); the identity
// when that projection is shorter than 1e-10.
void RotToPosY(double d[3], double M[16]);
