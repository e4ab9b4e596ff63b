// Knot clean-up and uniform refit of rows of curves: the work behind CleanLoftCurves and
// ReparametrizeCurveUniform (construct/srfloft documents them), here because the four-sided
// blend (stitch/userdef) cleans and refits its boundary and derivative rows with them.
#pragma once

#include "bspline/smake.h"

// CleanLoftCurves: removes as many of the given interior knots from the n compatible curves as
// stay within tol (with an angle, within the boundary deviation of the end rows ends[] mark).
// 0, or -2 when the removal failed.
int CleanCurveRowKnots(Bspline** curves, double* knots, int nKnots, int n, int ends[2],
                       double tol, double angle);
// ReparametrizeCurveUniform: a new curve of the same degree and range with nCtrl control points
// on uniform knots, fitted to samples of crv (3D or on a surface). Null on failure.
Bspline* RefitCurveUniform(Bspline* crv, int nCtrl);
