// Derivative curves of boundary curves: for curves on surfaces, the position, first or second
// cross-boundary derivative curve of the owner surface along them, and the owner's degree
// across a curve; and the control points that boundary curves fix in a net.
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

// The control points of an nU x nV net (index row x nU + column, rows are v) that the boundary
// curves fix, once each, indices ascending, with the z control coordinate each must take.
// Sides: 0 column 0 (u-min), 1 row nV - 1 (v-max), 2 column nU - 1 (u-max), 3 row 0 (v-min),
// each curve running with the net (sides 0 and 2 along v, 1 and 3 along u). A side counts when
// flags[i] > -1 and pos[i] is given: pos[i] fixes the side's line, d1[i] the next line inward
// (all but its two end points), d2[i] with d1[i] the line after that (all but two at each end).
// A point reached by two sides takes the first side's value (corners go to side 0, then 1).
// *valuesOut (room for 6 (nU + nV)) and *indicesOut (room for nU nV) are new arrays the caller
// frees; *countOut their length. Failures (-2, nothing handed out): null outputs, nU or nV
// below 1, a curve that is not 3D or has fewer control points than its line, memory.
int GetCntrlPtsToFix(Bspline* pos[4], Bspline* d1[4], Bspline* d2[4], int flags[4],
                     double** valuesOut, int** indicesOut, int* countOut, int nU, int nV);
