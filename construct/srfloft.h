// Lofts through a sequence of curves: the first and last may be curves on surfaces, met with
// tangent or curvature continuity from cross-boundary derivative curves of their owners; the
// set is made compatible, cleaned of superfluous knots and skinned (Curve3ToSurf).
#pragma once

#include "bspline/smake.h"

// A new surface through the n curves (v across them), or null. Entries 1..n - 2 are 3D curves;
// 0 and n - 1 are 3D curves or curves on surfaces. ends: conditions 0 (Bessel), 1 (tangent to
// the owner), 2 (curvature; kept only for a curve along an iso line of a non-rational owner of
// cross degree 2 or more, else lowered to 1). spans: the v lengths assumed next to the first and
// last curve (a third of each scales the derivative rows). innerTol: knot removal among the
// inner curves; boundaryTol and angle (degrees): the cleaning of the whole set (negative
// tolerances count as 0, an angle outside 0..90 as 0). samples and modes: the derivative
// curves' sample count (-1 automatic) and direction (0 toward the neighbouring curve, 1
// perpendicular to the boundary curve). cleanMode 0 CleanLoftCurves, 1 every curve refitted on
// nCtrl uniform control points, 2 every curve reduced to nCtrl control points (then made
// compatible again), other no cleaning. The caller's curves and ends are not changed. Null for
// n < 2, a condition outside 0..2, vdegree outside 1..22, a nonzero condition on an end that is
// not a curve on a surface; zk_error_status -9 for coincident neighbouring rows; null on
// failure.
Bspline* NonFeatureMatchedLoft(int n, Bspline** curves, double innerTol, int vdegree, int ends[2],
                               double spans[2], void* ignored, double boundaryTol, double angle,
                               int samples, int modes[2], int cleanMode, int nCtrl);
// The loft through n curves that each carry m increasing feature parameters (row i of the n x m
// array features for curve i): every curve is cut at its features, the pieces between
// corresponding features are lofted as NonFeatureMatchedLoft lofts (always cleaned with
// CleanLoftCurves) on one v knot vector, and the patches are joined along u with continuity one
// below the degree; u then takes the control net's speed of v. m = 0 is NonFeatureMatchedLoft
// with cleaning mode 0 followed by that reparametrisation. Null for the refusals of
// NonFeatureMatchedLoft, for a curve with no feature inside its range (zk_error_status -2) or
// with a feature the cut drops (at an end, or repeating the one before: -2), -9 for coincident
// rows, null on failure.
Bspline* FeatureMatchedLoft(Bspline** curves, int n, double* features, int m, double innerTol,
                            int vdegree, int ends[2], double spans[2], void* ignored,
                            double boundaryTol, double angle, int samples, int modes[2]);
// The skinning array of the n curves: each curve on a surface at an end replaced by its
// position curve and, per its condition, its first and second cross-derivative curves
// (*count = n plus those; *nStart, *nEnd the new curves at each end); other entries are the
// caller's own pointers. mags[0], mags[1] receive the magnitudes of the first-derivative curves
// toward the neighbouring curves (magModes per end). Null on failure (curves made released).
Bspline** GetSnippedDerivativeCurves(Bspline** in, int ends[2], int n, int* count, int* nStart,
                                     int* nEnd, int iso0, int iso1, int modes[2],
                                     double ignoredValue, int samples, double* mags[2],
                                     int magModes[2]);
// t = (pos minimum, pos maximum) when the first derivatives of crv (through its owner) and pos
// at their starts agree in direction, else (maximum, minimum).
void MakeParameterAdjustment(Bspline* crv, Bspline* pos, double t[2]);
// The v knots of skinning the n entries (rows of m curves) with order k and conditions c0, c1:
// k zeros, a placeholder for c0 = 2, the running mean control-point distances of the data rows,
// a placeholder for c1 = 2, k copies of the total. 0, or -9 for coincident neighbouring rows
// (the knots are still written).
int ComputeVKnotVecOfSurf(Bspline** curves, int m, int n, double* knots, int k, int c0, int c1);
// Removes a maximal subset of the candidate knots from all n curves within tol, lowered to the
// boundary allowances of the angle at ends with a condition (0 when angle is exactly 0).
// Nothing without candidates or when tol and angle are both below 1e-6. 0, or -2.
int CleanLoftCurves(Bspline** curves, double* knots, int nKnots, int n, int ends[2], double tol,
                    double angle);
// Frees the first nFirst and the last nLast curves of the array of count, then the array.
void FreeCrvArray(Bspline** arr, int nFirst, int nLast, int count);
// A new non-rational curve of nCtrl control points on uniform knots over crv's range, fitted to
// its plate samples; crv is not changed. Null on failure.
Bspline* ReparametrizeCurveUniform(Bspline* crv, int nCtrl);
// The parameters of a curve on a surface where its shape needs samples: its plate samples
// ((pu + pv) pc * 2 + 2 per span) kept by a chordal reduction of the 3D points within tol or of
// the (u, v) points within 0.0005 of the smaller parameter range (turns of 45 degrees end a
// span), in order. 1 with a new array in *params (*count values, the caller frees it); 0 on
// failure or for a curve without owner.
int SamplePosCurveChordalDev(Bspline* crv, double tol, double** params, int* count);
