// Curve-to-surface construction: the deviation allowed next to a boundary curve for a
// tangent-plane angle, used when cleaning the knots of lofted and bounded surfaces.
#pragma once

#include "bspline/smake.h"

// Deviation allowed next to the boundary curve `bnd` for the tangent-plane angle (degrees):
// half the shortest distance between corresponding control points of bnd and `next` times
// tan(angle), weighted by next's basis at that control point. Always 0; *dev = 0 for angle 0
// and when the two curves do not correspond (not 3D, or different control-point counts).
int GetBndryDeviation(Bspline* bnd, Bspline* next, double angle, double* dev);
// The corresponding control-point pair of a and b with the smallest distance (ties: the later
// index) and that distance. 0, or -2 unless both are 3D curves with equal control-point counts.
int GetShortestCntrlPair(Bspline* a, Bspline* b, int* index, double* dist);

// ---- Skinning: surfaces through a row of compatible curves --------------------------------
// The curves are 3D curves of one u degree, interior-knot count and knot vector (the callers
// make them compatible); the surface takes u from the first curve and passes through every
// data curve in v (row i of the control net belongs to curve i). Rational curves are skinned
// in homogeneous form. Coincident neighbouring curves (summed control-point distance below
// 1e-5 of the diagonal of all the curves' control points) give null with zk_error_status -9.

// Cubic (vdegree 3) skinning with a tridiagonal system, or the degree-1 skin through the curves
// (vdegree 1). ends[0] (first curve) and ends[1] (last): 0 Bessel condition; 1 the second
// control row next to that end is the next entry of the array; 2 the second and third control
// rows are the next two entries (see the entry order in the module's documentation: the
// control-row entries follow the first curve and precede the last). vknots: the complete v knot
// vector (nCtrlV + vdegree + 1 values) or null for chord-length knots across the curves. Null
// without an error code for: an end condition other than 0 without vknots, one outside 0..2,
// vdegree other than 1 or 3 (the tridiagonal collocation serves no other degree), vdegree 1
// with a condition 2, fewer entries than ends[0] + ends[1] + 2, curves that are not compatible
// 3D curves.
Bspline* Curve3ToSurf(int n, Bspline** curves, double* vknots, int vdegree, int ends[2]);
// Skinning of any degree with a band system: n control rows on knots averaged from vparams (a
// padded parameter array of n + 2 vdegree values, or null for chord-length parameters across
// the curves). Fewer curves than vdegree + 1 get curves added between them first (the caller's
// array and curves stay as they were; vparams is then ignored). Null on failure.
Bspline* NewCurve3ToSurf(int n, Bspline** curves, double* vparams, int vdegree);
// Padded chord-length parameters across the curves for order k (n + 2k - 2 values): k zeros,
// the running mean control-point distance at curves 1..n-2, then k copies of the total. 0;
// -2 with zk_error_status -9 when two neighbouring curves coincide. A first curve of dimension
// 2 returns 0 at once, out untouched.
int ComputeKnotVecAcrossNCurves(Bspline** curves, int n, double* out, int k);
// The array to skin with: the input itself when vdegree + 1 <= *n; otherwise a new array of at
// least vdegree + 1 entries (*n updated) holding the caller's curves in order with new curves
// between them, at parameters inserted alternately from both ends, whose control points lie on
// interpolants of the given control columns. The caller frees the new array and the added
// curves. Null on failure, also for a single curve (nothing to insert between).
Bspline** AddCurvesIfLessThanOrder(Bspline** curves, int* n, int vdegree);
// The degree-1 surface from c0 (v = 0) to c1 (v = 1). The two curves are changed in place:
// degrees equalised, knots made compatible on [0, 1], rationality equalised. Null with the error
// state set for a null, unsound (bsvalid; both curves then unchanged) or non-3D curve and on
// failure.
Bspline* RuledSurface(Bspline* c0, Bspline* c1);

// ---- Iso-parameter curves on surfaces --------------------------------------------------------
// Whether a 2D curve on a surface runs along an iso-parameter line: 1 when all its control points
// share one u (within 1e-6 of the owner's u range; also when they share both), 2 when they share
// one v, -1 otherwise, without an owner or for a curve that is not 2D. With interiorTest, 0 when
// the curve's middle point (evaluated for two control points, else control point n / 2) lies
// strictly inside the domain, away from every edge.
int IsCurveAnIsoPar(Bspline* crv, int interiorTest);

// The G2 reflection of an edge (0 u-minimum, 1 v-maximum, 2 u-maximum, 3 v-minimum; a curve's
// start 0, its end otherwise): with P0, P1, P2 the edge row and the next two rows across of the
// end span made Bezier, the vectors from P0 to P2 mirrored in the plane through P0 normal to
// P0 - P1. A surface gives a new non-rational 3D curve along the edge (the along direction's
// degree and knots); a curve gives null and writes its one vector to out (z 0 for a 2D
// curve). obj is not changed. Null with the error state set for fewer than three rows across
// and on failure.
Bspline* MakeG2ReflecBspline(Bspline* obj, int edge, double out[3]);

// ---- Cross-boundary derivative curves --------------------------------------------------------
// Along the iso line at iso (dir 0: v = iso, the line running in u; otherwise u = iso, running
// in v), the piece over [t0, t1] of: the 3D iso curve (order 0; rational surfaces too); the
// first (order 1) or second (order 2) cross derivative, exact from the control net (one-sided
// differences of the rows at iso; order 1 only with mode nonzero, mode 0 hands the line to
// GetNonIsoDerivOfSurf with ref, mag, magMode and samples); or with g2 and order 2 the G2
// reflection curve of the edge (edge 3 or 1 for dir 0, 0 or 2 otherwise, by atMin). atMin: the
// derivative belongs to the part of the surface beyond iso toward the minimum, and points out
// of it (negated). normalize makes every control point unit length. The surface is never
// changed. Null for a rational surface with order 1 or 2, a cross degree below the order, a
// piece shorter than 1e-6 of the range (zk_error_status -9) and on failure. ignoredFlag and
// ignoredValue are not read.
Bspline* GetIsoDerivOfSurf(Bspline* srf, Bspline* ref, double** mag, int ignoredFlag, int magMode,
                           int mode, double ignoredValue, int samples, double iso, double t0,
                           double t1, int dir, int order, int atMin, int g2, int normalize);
// Along a curve on a surface, the degree-`degree` curve interpolating at the Greville parameters
// of the knots (given, nKnots values; or the curve's plate samples, `samples` per span, -1
// automatic) the surface points (order 0) or the unit cross directions of
// GetNonIsoG1PointsOfSurf (order 1). With wantMag, *mag receives a new array of the magnitudes
// at those parameters. Null for a curve not on a surface, an order other than 0 and 1 (no
// second derivative is defined along a general curve), and on failure.
Bspline* GetNonIsoDerivOfSurf(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                              int mode, double ignoredValue, int samples, int order,
                              double* knots, int nKnots, int degree);
// At each of the n parameters t of the curve on a surface a unit vector into x, y, z: mode 0
// in the tangent plane toward the reference curve ref (its parameter mapped linearly), mode 1
// N x T perpendicular to the curve, oriented once at the middle sample out of the curve's
// trimmed domain. With wantMag *mag receives a new array of ComputeTangentMagnitude(S, R, the
// mode-0 direction, magMode), else null. 0; -2 for a curve not on a surface, a missing ref or a
// failed allocation.
int GetNonIsoG1PointsOfSurf(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                            int mode, double* t, double* x, double* y, double* z, int n);
// D = R - S, L = |D|: mode 0 L; otherwise 2 (D . D) / (L + dir . D), the length of a circular
// arc's tangent reaching R; 0 when L < 1e-10 or when dir points straight away from R.
double ComputeTangentMagnitude(double S[3], double R[3], double dir[3], int mode);
// Every control point of a 3D curve made unit length (points shorter than 1e-10 stay).
void NormalizeBspline(Bspline* crv);

// ---- Derivative curves into control rows -----------------------------------------------------
// D_i = P_i + scale m_i D_i: m at the start is |P_0 - targets[0..2]| over D's first usable
// length, at the end likewise with targets[3..5]; m is their mean everywhere unless vary is set,
// n >= 5 and the start's factor differs from the mean by 1 % or more, when it runs linearly in
// P's Greville parameters from the start's value to the mean (first n / 2 + 1 points) and on to
// the end's. 0, or -2 for a 2D curve or curves of different control counts.
int GetScaledDerivCntrl(Bspline* D, Bspline* P, double targets[6], double scale, int vary);
// Length of the first vector longer than 1e-10 scanning up from 0 (preferred 0) or down from
// n - 1; 1e-10 when there is none.
double GetDerivVecMagNearPrefIndx(double* x, double* y, double* z, int preferred, int n);
// Turns the derivative entries of a skinning array into control rows in place (entry 1, and 2
// for a condition 2, after the first position curve; n - 2, n - 3 before the last): P + s_i g
// D_i with s from mags[0] (start) or mags[1] (end, null: 1) and g a share of spans[] / 3.
void ComputeDerivCntrlPts(Bspline** curves, int n, int ends[2], double* mags[2], double spans[2]);
