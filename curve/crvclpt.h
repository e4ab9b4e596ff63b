// Parameters of control points, and points of a surface for parameters of control points.
#pragma once

#include "bspline/smake.h"

// The Greville abscissa of control point i of a clamped knot vector of the given order
// (degree + 1, at least 2): the mean of knots[i + 1 .. i + order - 1], not below knots[0]. 0 with
// the error state -2 for a null array.
double GetEditPoint(const double* knots, int order, int i);

// Parameter range per unit of 3D length along direction dir (0 u, otherwise v) of a surface:
// the range over the distance between the end points of the first row (u) or first column (v)
// of control points; range / (1e-6 D) when that distance is 1e-6 D or less, D the diagonal of
// the surface's control-point box. 0.0 (error state -2) for a srf that is not a sound (bsvalid)
// 3D surface.
double GetUVFactor(Bspline* srf, int dir);

// The 3D point of a parameter pair that may lie outside the surface's domain: the surface point
// inside; outside, 2E - M with E the point at the pair clamped into the domain and M the point
// at the pair mirrored into it about the crossed edge (a point reflection through the edge, so
// control points of a 2D curve that stray beyond the domain keep their distance from it). A srf
// that is not a sound (bsvalid) 3D surface or a pair that is not finite writes nothing (error
// state -2).
void FindBsplOnSurf3dControlPoint(Bspline* srf, double u, double v, double* x, double* y,
                                  double* z);

// The curve after (before) crv in the first trim loop of its owner that holds it, cyclically;
// also stored in *out. Null (and *out null) without owner, loops or a loop holding it.
Bspline* FindNextCurveInTrim(const Bspline* crv, Bspline** out);
Bspline* FindPrevCurveInTrim(const Bspline* crv, Bspline** out);
