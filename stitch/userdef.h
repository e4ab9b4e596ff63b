// Derivative curves of boundary curves: for curves on surfaces, the position, first or second
// cross-boundary derivative curve of the owner surface along them, and the owner's degree
// across a curve.
#pragma once

#include "bspline/smake.h"

// A new array of n curves (the caller frees it and the curves), for each input curve the curve
// of the order across its owner along it: a 3D input curve gives a copy for order 0 and a null
// entry otherwise; a curve on a surface that runs along an iso line (isoFlag not -1) of a
// non-rational owner gives the exact iso form (GetIsoDerivOfSurf with unit results, order 2
// the G2 reflection, the derivative turned toward guides[i]'s start and mapped onto the
// curve's own range), any other the sampled form (GetNonIsoDerivOfSurf with guides[i],
// params[i] as magnitude mode, mode, tol, flag as samples, and the knots and degree). With
// order 1, a guide and guideResults, guideResults[i] receives a new array of the magnitudes
// toward the guide. Null (curves made so far released) on failure.
Bspline** CreateDerivativeCurves(Bspline** curves, Bspline** guides, double** guideResults,
                                 int* params, int mode, double tol, int flag, int order, int n,
                                 int isoFlag, double* knots, int knotCount, int degree);
// The owner's degree across a curve on a surface: its v degree when the curve's ends differ in
// u by 1e-6 or more, else its u degree; -2 for a curve that is not on a surface.
int GetCrossDegreeOfCurveOnSurf(Bspline* curve);
