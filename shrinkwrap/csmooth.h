// Non-shrinking (lambda/mu) smoothing: every point moves by a factor times the weighted mean of
// its offsets to its neighbours, alternating a shrinking factor lambda > 0 and an inflating
// factor mu < 0, on polylines, on grids of points and on the control points of a stretch of a
// curve; the pass-band arithmetic that turns a pass band into lambda and mu; and the staged
// smoother of a curve stretch built on it.
//
// Neighbour weight types (clamped into 0..3), normalised to sum 1:
//   0 uniform; 1 Gaussian of the distance, exp(-d^2 / 2 s^2) with s >= 0.001;
//   2 1/d (0 for d < 1e-6); 3 1/d^2 (0 for d^2 < 1e-6).
// The functions taking a curve refuse (-2) one that is not sound (bsvalid).
#pragma once

#include "bspline/smake.h"

// Fairs n points in place. Listed fixed indices never move; neighbours of i are the points
// i - halfWindow .. i + halfWindow other than i. The weights are taken from the starting
// positions. Weight type 1 scales sigma by the polyline length. 0, or -2 when memory ran out.
int FairPolylineLambdaGamma(double* x, double* y, double* z, int n, const int* fixed, int nFixed,
                            int halfWindow, int weightType, double lambda, double mu,
                            int iterations, double sigma);

// Sum of the n - 1 segment lengths; 0 for null arrays or n < 2.
double PolylineLength(const double* x, const double* y, const double* z, int n);

// Normalised weights w[count] of the neighbours (nx, ny, nz) of point p. -2 for null arrays,
// count < 1, or (types 2 and 3) when every neighbour coincides with p: then every weight is 0.
int GetNeighborSmoothingWeight(const double p[3], const double* nx, const double* ny,
                               const double* nz, int count, int weightType, double sigma,
                               double* w);

// Fairs the points of an nr x nc grid whose movable entry is non-zero; the neighbours of (i, j)
// are the grid points within halfWindow in both indices, weighted afresh at every step.
int FairGridPntsLambdaGamma(double** X, double** Y, double** Z, int nr, int nc, int** movable,
                            int halfWindow, int weightType, double lambda, double mu,
                            int iterations);

// The largest shrink factor lambda for the pass band kPB (clamped into [0.001, 1.25]).
int MaxShrinkFactorlambda(double kPB, double* lambda);
// mu with 1/lambda + 1/mu = kPB (kPB clamped as above); *mu is -lambda when -2 is returned.
int ComputeLambdaGammaFromPassbandFqncy(double kPB, double lambda, double* mu);

// Smooths, in place, the control points of the curve whose basis support lies inside
// [t0, t1] (t0 must be a knot); the first and last control points never move.
int NonShrinkSmoothCurveSegment(Bspline* curve, double t0, double t1, double lambda, double mu,
                                int iterations);

// The control points first..last whose support lies in [t0, t1]; endFixed {start, end} holds
// endFixed[k] + 1 points at an end of the curve that the stretch reaches (-1: none). endFixed
// is limited in place to degree - 1.
int FindCrvSegmentFreeCntrlPnts(const Bspline* curve, double t0, double t1, int endFixed[2],
                                int* first, int* last);
// Their count once t0 and t1 are knots (checked on a copy of the curve).
int CheckCrvSegmentFreeCntrlPnts(const Bspline* curve, double t0, double t1, int endFixed[2],
                                 int* nFree);

// A new curve: a copy with t0 and t1 made knots (and, with insertKnots, enough knots between
// them for 4 free control points) whose stretch is smoothed in five stages; amount 0..1 sets
// the strength. -2 with *result null on failure; the input curve is never changed.
int SimpleSmoothCrvSegment(const Bspline* curve, double t0, double t1, int endFixed[2],
                           int insertKnots, double amount, Bspline** result);
