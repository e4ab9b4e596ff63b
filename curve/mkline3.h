// Straight segments as B-spline curves.
#pragma once

#include "bspline/smake.h"

// A new 3D cubic Bezier line from start to end, control points at thirds, so the parameter on
// [0, 1] is proportional to length. Also stored in *out (when given). Null on failure.
Bspline* MkLine3(const double start[3], const double end[3], Bspline** out);

// Makes the given record the 2D cubic Bezier line from (u, v) start to end on [0, 1]: degree 3,
// no interior knots, not rational, X holding u and Y holding v. Kind, dimension and owner stay
// as the caller set them. The record's old arrays are released; a failed allocation leaves the
// record as it was and shows only in the error state.
void MkLine2(const double start[2], const double end[2], Bspline* crv);

// A new 3D degree-1 line from start to end on [0, 1] carrying its exact form (quadric type 1:
// start then end). Null on failure.
Bspline* CreateLineBsplineDegree1(const double start[3], const double end[3]);

// MakeIsoparCurve2 as surface/bnd2crv.h documents it (the 2D line of srf along side 0..3 at
// value, -1.0 meaning the side's boundary), here so that the projection onto surfaces on this
// floor makes iso lines too.
Bspline* IsoLineCurve2(Bspline* srf, int side, double value);
