// Smoothing of surfaces by moving control points, never knots: lambda/mu (shrink-free) fairing
// of the control net with boundary rows held, a staged schedule of such passes driven by one
// amount in [0, 1], and the smoothing of one iso-parameter curve spread back onto the net.
// Also the exchange of a surface's parameter directions, the free-point mask of a net and two
// searches in ascending vectors.
//
// Held rows: a count k per side holds control rows 0..k from that side (0, 1 or 2; -1 free).
// The mask's side order is 0 u-min, 1 v-min, 2 u-max, 3 v-max; mask[j][i] is control point
// (column i, row j), 1 when it may move. Every function taking a surface refuses (-2, nothing
// changed) one that is not a sound (bsvalid) 3D surface.
#pragma once

#include "bspline/smake.h"

// In place; fixedRows is held on all four sides (a negative count is refused). 0 or -2 (the
// surface unchanged).
int SmoothSrfCntrlPntsLambdaGamma(Bspline* srf, int fixedRows, double lambda, double mu, int iterations);
// *result = a new copy smoothed in stages with one boundary row held per side.
int SimpleSmoothSrfLambdaGamma(Bspline* srf, double amount, Bspline** result);
// *enough = 1 when at least two control points stay free in each direction, else *addU, *addV
// are the knots to add. Negative counts become -1 in place.
int IsEnoughSrfCntrlPntsForSmoothing(Bspline* srf, int fixed[4], int* enough, int* addU, int* addV);
// Checks the counts, refines a copy when needed and allowed, and smooths it (one boundary row
// held per side whatever the counts; they only decide the refinement).
int SimpleSmoothSurface(Bspline* srf, int fixed[4], double amount, int insertKnots, Bspline** result);
// A new nV x nU int mask (caller frees it with matrix_free_ih) and the number of free points.
int FindSrfFreeCntrlPntsGivenBndry(Bspline* srf, const int fixed[4], int* nFree, int*** mask);

// Smooths the iso-curve u = const (in place) and moves the control columns that carry it by the
// least-norm change that reproduces the smoothed curve; the first and last row and column stay.
int SimpleSmoothSrfIsoCrvU(Bspline* srf, double u, double amount, int iterations);
int SimpleSmoothSrfIsoCrvV(Bspline* srf, double v, double amount, int iterations);
// On a new copy: the iso-curve at v (dir nonzero) or at u.
int SimpleSmoothSrfIsoCrv(Bspline* srf, double u, double v, int dir, double amount, int iterations,
                          Bspline** result);

// Exchanges u and v in place (a 2D curve swaps its coordinate rows; a surface's curves follow,
// a plane description is negated). 0; -2 for other objects or when memory ran out (unchanged).
int FlipBspline(Bspline* obj);
// A new surface with u and v exchanged (the copy has no curves; a plane description is
// negated as by FlipBspline, other exact forms are copied as they are); null for a non-surface
// or on failure.
Bspline* GetSrfBsplineTranspose(Bspline* srf);

// Index of the last element <= x of the ascending a[0..n-1]; -1 when x < a[0] or n < 1.
int SearchVector(const double* a, double x, int n);
// The same by walking from seed (clamped into the array).
int SearchVectorSeeded(const double* a, double x, int n, int seed);
