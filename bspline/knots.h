// Knot-vector arithmetic of the B-spline core: the one implementation of the small routines
// over knot arrays and the knot vectors of objects. The kernel's documented names for them
// (NormalizeKnotArray, PutInCKnotsOfBNotInA, UnionKnotArrays, GetEditPoint, GetDistinctKnots,
// ResetBsplineParamInfo, ...) live in the modules that document them and call these, so that
// the core never reaches above bspline/ for its own arithmetic.
//
// Knot arrays are sorted, caller-owned arrays of doubles; result arrays come from Malloc in
// the caller's current scope and belong to the caller.
#pragma once

#include "bspline/smake.h"

// t -> (t - t[0]) / (t[n-1] - t[0]) in place; returns 1 / (t[n-1] - t[0]), the factor of the
// chain rule for derivatives. A zero range is the caller's to avoid. 0, knots untouched, for a
// null array or n < 2.
double NormalizeKnots(double* knots, int n);

// The knots that A must gain to contain B, each repeated by its missing multiplicity, into a
// new array *C (max(nA, nB) slots); equality within 1e-6 of A's range, B's end knots skipped.
// snapA is null, or A itself: then A's knots that match a knot of B take B's exact value (A's
// multiplicity is counted before that). Returns the count (also in *nC); 0 with *C null when B
// holds nothing but end knots, when A has fewer than 2 knots or no range, or when B is empty;
// -1 when the allocation failed (error state set).
int KnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC,
                   double* snapA);

// Sets the knots around knots[idx] that lie strictly within tol of value to value: downwards
// (never entry 0), then upwards, each direction stopping at the first knot outside. Returns
// the number of writes; 0 for a null array or idx outside 0..n-1.
int SnapKnotsToValue(double* knots, int n, int idx, double value, double tol);

// Sorted merge of two ascending arrays into a new array *C of nA + nB slots (count in *nC);
// values within 1e-6 (absolute) are matched pair by pair, so each value keeps the larger of
// its two multiplicities, and are written as one value (the first written, the last value for
// the run at the end), so the merge never decreases. On allocation failure *C is null (error
// state set), *nC untouched; likewise, error state -2, for a negative count or a null array
// with a positive count.
void MergeKnotVectors(const double* A, int nA, const double* B, int nB, double** C, int* nC);

// Greville abscissa of control point i for a knot vector of the given order (degree + 1 >= 2):
//   g_i = (t[i+1] + ... + t[i+order-1]) / (order - 1), not below t[0]. 0 with the error state
// -2 for a null array.
double GrevilleAbscissa(const double* knots, int order, int i);

// The distinct interior knots of one direction (u for curves) and their multiplicities, values
// within tol x the direction's range counting as one; see GetDistinctKnots for the contract.
int DistinctInteriorKnots(const Bspline* obj, int dir, int** mults, double** knots, double tol);

// One direction's domain from its knots again: [t[p], t[n]] with n control points; v for a
// surface with dir nonzero, else u. Null is ignored; a record whose structure is not sound
// (bsvalid) is left as it is, error state -2.
void SetDomainFromKnots(Bspline* obj, int dir);

// Sets apart again, by the least steps, copies of a knot beyond p + 1 in one direction (v for a
// surface with dir nonzero, else u): a mirror, shift or scale of the knots rounds values an ulp
// or so apart onto one, and a run of p + 2 leaves a basis function without support (no sound
// record, bsvalid). The copies of the first knot beyond p + 1 step up from it, those of any other
// run step down, so both ends keep their values; the shape moves by round-off. Only runs beyond
// p + 1 change; a vector that decreases anywhere is left as it is. A record whose structure is
// not sound (bsvalid) is left as it is, error state -2.
void SpreadOverfullKnotRuns(Bspline* obj, int dir);

// Greville parameters of the n >= 2 control points of a knot vector of the given degree:
// out[i] = (knots[i+1] + .. + knots[i+degree]) / degree, with out[0] = knots[degree] and
// out[n-1] = knots[n] exactly (FindParamValuesOfCoefiFromKnots). Does nothing for a null array,
// n < 2 or degree < 1.
void GrevilleParams(const double* knots, int n, int degree, double* out);
// A new array of the Greville parameters of the object's control points in direction dir (v for
// a surface with dir nonzero, else u); the caller frees it. Null on allocation failure
// (FindParamValuesOfCoefi) and, error state -2, for a record whose structure is not sound.
double* ObjectGrevilleParams(const Bspline* obj, int dir);

// The parameter of boundary b: a surface's u-min (0), v-max (1), u-max (2) or v-min (3) knot,
// 0.0 for another b; a curve's end for b = 2, else its start (GetParValOfBndry). 0.0 with the
// error state -2 for a record whose structure is not sound (bsvalid).
double BoundaryParam(const Bspline* obj, int b);

// The distinct values of a sorted knot vector of full length n into a new array *distinct
// (count in *count): the first entry, then each entry i = 1 .. n - 2 that exceeds its
// predecessor, with no tolerance; the last entry of a clamped vector equals its predecessor and
// adds nothing (FindDistinctKnots). *count 0 and *distinct null for n < 1 or on failure (error
// state set: -2 for a null knot array).
void DistinctKnotValues(int n, const double* knots, int* count, double** distinct);

// n samples per interval (n below 2 counts as 2) between the m values, shared ends written once:
// (m - 1)(n - 1) + 1 values into out (GetNpntsPSpan). Writes nothing, error state -2, for a null
// array with m > 0.
void SamplesPerSpan(const double* values, int m, double* out, int n);
