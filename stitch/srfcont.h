// Sampling operations that the continuity measures along shared edges are built from: the
// parameter of an object's boundary, evenly spaced parameters per knot span along an
// iso-parametric line or between given values, and the closest points of 3D points on a curve
// or on a surface's boundary iso-curve.
//
// Boundary indices: a surface's 0 u-min, 1 v-max, 2 u-max, 3 v-min; a curve's 0 start, 2 end.
#pragma once

#include "bspline/smake.h"

// The parameter of boundary b: a surface's u-min (0), v-max (1), u-max (2), v-min (3) knot; a
// curve's start (0) or end (2). b 1 and 3 of a curve read no defined value; callers pass 0 or 2.
double GetParValOfBndry(Bspline* obj, int b);

// Samples along an iso line of a surface, over every knot span of the varying direction as the
// knot vector holds it (a repeated knot gives a zero-length span repeating its value): n below 3
// counts as 2, and each span gets n - 1 equal steps. alongV: v varies and u repeats `fixed`;
// otherwise u varies and v repeats `fixed`. (n - 1)(k + 1) + 1 values, k the interior-knot count;
// the caller sizes both arrays. A curve is left alone.
void GetParValsOnIsoPar(Bspline* obj, int alongV, double* u, double* v, double fixed, int n);

// The same over the distinct knots only (values within tol x the range count as one), with n
// equal steps per span (n below 3 counts as 2): returns the count n (d + 1) + 1, d the number of
// distinct interior knots. The fixed parameter's array may be null. -2 for a curve or when
// memory ran out.
int GetParValsOnIsoPar2(Bspline* obj, int alongV, double* u, double* v, double fixed, int n,
                        double tol);

// n samples per span between the m given values (n below 2 counts as 2), each shared end written
// once: (m - 1)(n - 1) + 1 values into out.
void GetNpntsPSpan(const double* values, int m, double* out, int n);

// For each of the count points, the parameter of its closest point on the curve obj or, for a
// surface, on its iso-parametric 3D curve at isoValue (the u value when alongV is set, else the
// v value), into params; the points into closest when it is not null. A failed estimate stops
// the walk at that point (entries before it stand; the error state shows why).
void GetClosestPointsOnCrvOnSrf(const double (*points)[3], int count, Bspline* obj,
                                double isoValue, int alongV, double* params, double (*closest)[3]);

// The same, with the curve's 3D sample points (the estimator's x, y, z arrays) held by the
// caller between calls: used when *cacheX holds an array, else made here and handed back through
// the three pointers (the caller frees them). Only meaningful when every call sees the same curve.
void GetClosestPointsOnCrvOnSrfArrays(const double (*points)[3], int count, Bspline* obj,
                                      double isoValue, int alongV, double* params,
                                      double (*closest)[3], double** cacheX, double** cacheY,
                                      double** cacheZ);
