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

// ---- Piecewise polynomial (power-basis) forms ------------------------------------------------
// One polynomial per distinct knot span, written in the local parameter s = (t - b_i) /
// (b_i+1 - b_i) that runs from 0 to 1 over span i. Coordinate c of segment i is
// sum_k coefficients[c][k] s^k. For a rational curve the pieces are the degree-p Taylor
// polynomials of the rational segment at its start (exact at s = 0 up to order p only).
struct PpolySegment {
  int degree;
  int dim;
  int coefficientCount;   // degree + 1
  double** coefficients;  // dim rows of degree + 1 (allocate_matrix_ff)
};

struct PpolyCurve {
  int degree;        // the common degree: the largest of its segments'
  int segmentCount;  // distinct knot values less one
  int dim;           // 2 for a curve on a surface, else 3
  double* breakpoints;     // segmentCount + 1 ascending values
  PpolySegment** segments;  // segmentCount pointers
};

// Coefficient [k][l][c] of s^k r^l (s local in u, r local in v), coordinate c.
struct PpolyPatch {
  int degreeU;
  int degreeV;
  int dim;  // 3
  int countU;  // degreeU + 1
  int countV;  // degreeV + 1
  double*** coefficients;  // allocate_3dim_matrix_ff(countU, countV, dim)
};

struct PpolySurface {
  int degreeU;  // the common degrees: the largest of its patches'
  int degreeV;
  int segmentCountU;
  int segmentCountV;
  int dim;  // 3
  double* breakpointsU;
  double* breakpointsV;
  PpolyPatch*** patches;  // [u segment][v segment]
};

// The power-basis form of a curve into *pp (its previous contents are not read). The curve is
// read only: it is bit-identical afterwards on every exit. 0; -2 for a null or unsound curve or
// when memory runs out (*pp then holds nothing to free). What hangs from *pp survives every
// tracking scope and is released with FreePpolyCurve.
int bspline2ppolyCurve(Bspline* curve, PpolyCurve* pp);
// The same for a surface, one patch per knot-span rectangle. 0 or -2 as above.
int bsurf2ppoly(Bspline* srf, PpolySurface* pp);
// Release what hangs from the records (the top records are the caller's) and zero them.
void FreePpolyCurve(PpolyCurve* pp);
void FreePpolySurface(PpolySurface* pp);
