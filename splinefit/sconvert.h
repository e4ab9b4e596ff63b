// Knot vectors for approximation and conversion: clamped uniform vectors, distinct values,
// samples span by span, multiplicities capped, knots added in the largest spans, interior knots
// ranked by what their removal would change, and the reduced interior knots of a surface
// direction to be re-approximated with another degree.
//
// Every array returned is a new block (Malloc) the caller releases with Free.
#pragma once

#include "bspline/smake.h"

// Clamped uniform knot vector of n values on [a, b] for degree p. Null for n < 2p + 2 (no room
// for the two clamped ends: nothing to divide the range by), p < 1, or on memory failure.
double* GetUniformKnots(int n, int p, double a, double b);
// The distinct values of the sorted vector (n its full length; only the first n - 1 entries are
// compared, so the last entry of a clamped vector adds nothing) into *distinct, count in *count.
// Failure shows in the error state only.
void FindDistinctKnots(int n, const double* knots, int* count, double** distinct);
// m samples per interval between distinct knots (equal within 0.001 of the range) and the
// domain end: (intervals) m + 1 values into *params. The count, 0 on failure.
int SampleCurvePlate(const Bspline* curve, int m, double** params);
// Close values of knots (within tol) made equal in place (the last one kept), then a copy in
// which no value occurs more than maxMult times into *out. The new length; 0 on failure.
int CleanKnotsToSpecMult(double* knots, int n, double tol, int maxMult, double** out);
// A copy of the clamped vector with up to *extra midpoints added in the largest spans, no span
// getting a second one before every span (longer than 1e-6 of the range) has one; *extra
// receives how many were added (0 with an unchanged copy when *extra <= 0). Null on failure.
double* InsertNewKnotsInLargeSpan(double* knots, int n, int p, int* extra);
// For every interior knot entry the removal error bound of one copy weighted by the basis
// function of the control point it moves at that point's Greville abscissa (interior-knot count
// values, in knot order). Null on failure or for a curve without interior knots.
double* GetCurveKnotsRanking(const Bspline* curve);
// The interior knots for direction dir of a surface to be re-approximated with degree d there;
// *count receives their number (at most the direction's interior-knot count). tol is not used.
// Null with *count 0 when the direction has no interior knots or on failure.
double* GetReducedInternalKnots(const Bspline* srf, int d, int dir, double tol, int* count);
