// Interpolation: curves through ordered points (cubic with Bessel ends, degree 1, any degree),
// surfaces through point grids, and curves and surfaces through samples at given parameters in
// a given spline space.
//
// Point input: parallel arrays x, y and z (z null: a 2D curve), points 0..n, n the last index.
// The interpolators change the caller's arrays in place: without given knots, points within
// 1e-5 of the points' size (the longest side of their box; at least the round-off of their
// coordinates) of their predecessor on every axis are dropped (the arrays are compacted, and
// the result's control-point count tells the new count); with given knots they are moved apart
// by that distance instead, so the count still fits the knots.
//
// Padded parameter array for points 0..m and degree p: m + 2p + 1 doubles, p copies of t0, the
// chord-length parameters t0 = 0, t(i+1) = t(i) + |P(i+1) - P(i)| (not normalised), then p
// copies of tm. For p = 1 and p = 3 it is the clamped knot vector of the interpolant.
//
// Band storage: n + 1 rows of w doubles and an index array idx; row r holds the columns
// idx[r] .. idx[r] + w - 1, so entry (r, c) sits at position c - idx[r], and an entry whose
// position falls outside 0..w - 1 is zero.
//
// Results are new records owned by the caller (FreeBspline); every new array is the caller's to
// Free. Failures: null (or -2) with the error state set: out of memory when memory ran out, -2
// for a refused argument (a degree, count or knot array the maker cannot use) and for band systems
// the parameters cannot solve (a zero or non-finite pivot).
#pragma once

#include "bspline/smake.h"

// ---- Curves through points ------------------------------------------------------------------
// The interpolating curve through points 0..n. knots: null, or the padded parameter array of the
// chosen degree (m + 7 values for degree 3, m + 3 for degree 1: a clamped knot vector of that
// degree, refused otherwise). anyDegree non-zero hands every argument to NewCurveIntrplt. One
// distinct point gives MakeCurveZero of the degree; degree 1 the polyline; degrees below 1 and
// degree 3 the cubic with Bessel end conditions. Degree 2 or above 3 without anyDegree shows
// "Currently Unavailable" and returns null with the error state -2. Points within 1e-5 of their
// predecessor are merged (without knots) or moved apart (with knots) on the caller's arrays when
// a curve comes out; a refusal leaves them as they were. Two 3D points carry a line as exact form.
Bspline* CurveIntrplt(double* x, double* y, double* z, int n, double* knots, int degree,
                      int anyDegree);
// The same on copies of the caller's floats, which never change.
Bspline* CurveIntrplt_f(const float* x, const float* y, const float* z, int n, double* knots,
                        int degree, int anyDegree);
// Point curve at (x[0], y[0], z[0]): degree + 1 equal control points on [0, 1]. A degree below
// 1 is taken as 3 (the cubic path's degree); null above the highest degree.
Bspline* MakeCurveZero(const double* x, const double* y, const double* z, int degree);
// Degree-1 interpolant of points 0..m (m >= 1): the points are its control points; closedU is 1
// when the first and last point agree within 0.001 of the points' size per coordinate.
Bspline* IntrpltWithDegree1(double* x, double* y, double* z, int m, double* knots);
// Moves each point within tol of its predecessor (as passed in) on every axis apart: along the
// direction to its successor, or, for the last point, one coordinate by tol. Returns count.
int FixDuplicates(double* x, double* y, double* z, int count, double tol);
// Padded chord-length parameters for degree 3 (m + 7 values), 1 (m + 3) and p (m + 2p + 1).
void AssignKnots(const double* x, const double* y, const double* z, int m, double* out);
void AssignKnotsForDegree1(const double* x, const double* y, const double* z, int m, double* out);
// NewAssignKnots does nothing for a null x, y or out, m < 0 or p < 0.
void NewAssignKnots(const double* x, const double* y, const double* z, int m, int p, double* out);

// ---- Tridiagonal collocation (cubic interpolation and skinning) -----------------------------
// Rows of the collocation system at the parameters knots[p + i], i = 1..m - 1, between two
// identity rows; the row next to an end whose condition is 2 is left out (rows move up). Does
// nothing for a null array, m < 1 or a degree outside 0..kMaxSplineDegree.
void setup_system(const double* knots, int m, double* lower, double* diag, double* upper, int p,
                  int endStart, int endEnd);
// The Bessel control values next to both ends of data d[0..m] over the cubic knot vector;
// nothing for a null array or m < 1.
void bessel_ends(const double* d, const double* knots, int m, double* first, double* last);
// Factors once (no pivoting), then solves per right-hand side; rhs and out may be one array.
// Both do nothing for a null array or m < 0.
void LUD_tridiag(const double* lower, const double* diag, const double* upper, double* d,
                 double* l, int m);
void solve_tridiag(const double* d, const double* l, const double* upper, int m,
                   const double* rhs, double* out);

// ---- Any degree ------------------------------------------------------------------------------
// Degree-p curve through points 0..n with knots averaged from the parameters (params: null or
// a padded parameter array of n + 2p + 1 values). Fewer points than p + 1 get points added on a
// lower-degree interpolant first (without params; with params: null). Points too close to
// split give a point curve of degree p.
Bspline* NewCurveIntrplt(double* x, double* y, double* z, int n, double* params, int p);
// Collocation rows at params[p + i]; a parameter exactly on a knot takes the span before it.
// Does nothing for a null array, m < 1, w < 1 or a degree outside 0..kMaxSplineDegree.
void Newsetup_system(const double* knots, const double* params, int m, double** A, int* idx, int w,
                     int p);
// In-place LU of rows 0..n (Doolittle, no pivoting). 0, or -2 (error state -2) at a zero or
// non-finite pivot: the parameters do not fit the knots.
int LUD_BandMatrix(double** A, int n, int ml, int mu, int* idx);
// Solves with the factors into x (n + 1 values). 0; -2 for a null array, on memory failure or a
// zero pivot, or a solution that is not finite (error state -2).
int solve_BandMatrix(double** A, int n, const double* b, double* x, int w, const int* idx);
// Averaged knot vector (m + p + 2 values) of the padded parameters: interior knot j is the mean
// of t(j) .. t(j + p - 1). Null, error state -2, for null params.
double* RemoveByAveKnotsForInterpolate(const double* params, int m, int p);
// Adds points until there are p + 1: on the segment between two points, else on a cubic (four or
// more points) or quadratic through them at midpoints inserted from both ends. The new arrays
// replace *x, *y, *z (the old ones stay the caller's). 0; -2 memory or a single point (nothing to
// split: arrays untouched); -9 two points too close to split.
int AddPointsIfLessThanOrder(double** x, double** y, double** z, int* count, int p);
// Parameter arrays with midpoints inserted alternately from both ends until count more values
// sit inside the domain (*count receives the number inserted, which may be one more). Null, error
// state -2, for null params or count.
double* GetNewKnotsAfterInsert(const double* params, int len, int p, int* count);
// InsertSymmetricKnots: null (error state -2) for a null array, p < 0 or len < 2p + 2 (no span
// inside the domain).
double* InsertSymmetricKnots(const double* knots, int len, int p, int count);
// len + count knots with one midpoint in each of the count largest spans (at most one per span).
double* GetLargestSpanAndInsert(double* knots, int len, int p, int count);
// Knot vectors of m + p + 2 values made by removing p - 1 parameters from the padded array, in
// pairs from both ends: next to the ends, or stepping (m + 1) / p inwards. No caller in the
// kernel. Null when too few parameters remain to remove from.
double* RemoveKnotsForInterpolate(const double* params, int m, int p);
double* TestRemoveKnotsForInterpolate(const double* params, int m, int p);

// ---- Surfaces through grids -----------------------------------------------------------------
// Grid: x, y, z of nu nv doubles, row j (v) holding points j nu .. j nu + nu - 1 (u). Rows are
// interpolated with common u parameters (averaged over the rows), then skinned across. Grids
// too small for the degrees are extended on private copies (the caller's arrays are only moved
// apart at duplicates). Ends with the u knots scaled in proportion to the v knots.
// pu 1 or 3 (uknots: padded for pu), pv 1..22 (vknots: the complete v knot vector); a row
// interpolation that refuses the degree gives null.
Bspline* SurfaceInterpolate(double* x, double* y, double* z, int nu, int nv, double* uknots,
                            double* vknots, int pu, int pv);
Bspline* SurfaceInterpolate_f(const float* x, const float* y, const float* z, int nu, int nv,
                              double* uknots, double* vknots, int pu, int pv);
// Any degrees; uparams, vparams padded parameter arrays or null (each ignored when the grid had
// to grow in its direction).
Bspline* NewSurfaceInterpolate(double* x, double* y, double* z, int nu, int nv, double* uparams,
                               double* vparams, int pu, int pv);
Bspline* NewSurfaceInterpolate_f(const float* x, const float* y, const float* z, int nu, int nv,
                                 double* uparams, double* vparams, int pu, int pv);
// Padded parameters (nu + 2p values) from the chords between neighbouring columns averaged over
// the nv rows. Null on memory failure, and (error state -2) for a null array, nu or nv < 1 or
// p < 0.
double* CreateKnotVectorForNVectors(const double* x, const double* y, const double* z, int nu,
                                    int nv, int p);
// New grid arrays with rows of at least pu + 1 and columns of at least pv + 1 points (added
// points on interpolants of the given ones, the given points kept). 0, or -2.
int AddPointsInGridIfLessThanOrder(double** x, double** y, double** z, int* nu, int* nv, int pu,
                                   int pv);

// ---- Given parameters and knots --------------------------------------------------------------
// Degree-p curve of count control points through the points at params (one per point,
// ascending) on the given clamped knot vector (count + p + 1 values). Nothing is derived from
// the points. Null when the parameters do not fit the knots (error state -2).
Bspline* CurveIntrpltShrink(double* x, double* y, double* z, const double* params, int count,
                            const double* knots, int p);
Bspline* SurfaceInterpolateShrink(double* x, double* y, double* z, int nu, int nv,
                                  const double* uparams, const double* vparams,
                                  const double* uknots, const double* vknots, int pu, int pv);
// Skins n compatible non-rational curves at vparams on vknots; the domain is the caller's to
// set.
Bspline* Curve3ToSurfShrink(int n, Bspline** curves, const double* vparams, const double* vknots,
                            int pv);
// Collocation rows for points 0..m; a parameter on a knot takes the span that starts there.
// Refused as CollocationRowsAtParams (shrinkwrap/gridintp.h) refuses.
void SetupSystemShrink(const double* knots, const double* params, int m, double** A, int* idx,
                       int w, int p);
