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
// 1e-5) give null with zk_error_status -9.

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
// degrees equalised, knots made compatible on [0, 1], rationality equalised. Null for a null
// or non-3D curve and on failure.
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
