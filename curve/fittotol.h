// Fitting curves to ordered point clouds within a tolerance, with as few control points as the
// knot search finds: knots start at the cloud's points of high curvature (or at a start curve's
// knots), a fit is improved by parameter correction and point weighting, and while it is out of
// tolerance one knot at a time goes into the span of the worst point. The curvature points of
// a cloud are found here too.
//
// Fits: non-rational 3D curves on [0, 1] whose first and last control points are held at the
// first and last cloud points; weights in the order roughness, tension, sigma. A fit shows its
// outcome once on the status line, "Control points = %d, Maximum deviation = %S", the deviation
// being the returned curve's (RefitCurve3, OptimalKnotVect and FitToTolerance each once per call).
//
// Tolerances are met as asked down to 1e-6 of the cloud's extent; a finer one (0 too) is raised
// to that: the points hold single-precision coordinates, and a finer tolerance would only add
// knots until the points are interpolated.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// ---- curvature points ------------------------------------------------------------------------
// Per point of the cloud (n points): the turning of the chord tangent over a window of half
// width w = spacing / 2 (0.05 of the chord length when spacing <= 0) by arc length, the median
// over the window in c[i], the bending direction in D[i] (zero where the window does not bend
// one way), the segment lengths seg[i] = |P_i - P_(i-1)| (seg[0] = 0) and their total. Fewer than
// 3 points: every c[i] is 0 and nothing else is written. 0, or -2 when memory ran out or for a
// null cloud or c (nothing written).
int GetCloudCurvature(Cloud* cloud, double* c, double spacing, double D[][3], double* seg,
                      double* total);
// The point indices where knots should start (indices needs room for n): in each run of points
// with curvature at least 0.1 that bends one way, the sharpest point per stretch of `spacing`
// arc length (never the first or last point), and the points where runs begin and end (next to
// them, outside; their curvature negated), ordered by decreasing signed curvature: peaks first.
// 0; -2 for spacing <= 0 (nothing found), or when memory ran out (the error state is then
// cleared again).
int GetCldMaxCurv(Cloud* cloud, int* indices, int* count, double spacing);

// ---- fitting to a tolerance ------------------------------------------------------------------
// t[0] = 0, t[i] = t[i-1] + d_i (mode 0) or + sqrt(d_i) (mode nonzero), d_i the distance from
// point i - 1 to point i; *length = the sum of the d_i; t is divided by t[n-1] unless the points
// all coincide (length within 1e-6 of the coordinates' magnitude). Writes nothing for a null
// argument or a cloud without points.
void GetCloudParameters(Cloud* cloud, int mode, double* t, double* length);
// Refits curve (its knots kept) to the cloud from the parameters t: nCorrection passes move t to
// the points' closest parameters, then up to min(nWeighting, 10) passes add three copies of each
// of the n / 10 worst points outside tolSq (-1: no tolerance) to the data. The best curve found
// is kept; *maxSq and *worstParam describe it (its largest squared deviation and the parameter of
// its first worst point). A rational curve loses its weights. 0; -2 when memory ran out, a fit
// failed or a deviation could not be measured (the curve then holds its last fit).
int RefitCurve3(Cloud* cloud, Bspline* curve, double* t, int nCorrection, double tolSq,
                int nWeighting, double* maxSq, double* worstParam, int closed, int degree,
                double roughness, double tension, double sigma);
// The search itself on the cloud with parameters t (updated) and the given weights: start knots,
// first fit, one RefitCurve3, then knots one by one at the cloud point nearest the middle of the
// worst point's span (the span of the parameter the point is fitted at; never a point used
// before) until the check of mode (0 largest deviation, 1 mean, 2 the fraction of points within
// tol) passes; when knots run out, the interpolant of the points. A tolerance at or below the
// noise of the points is met only by chasing single points: once the check's deviation has not
// halved while the interior knots grew by as many as the best fit had (at least 10), and the
// points' mean squared deviation has not fallen to a quarter over such a stretch of knots
// either (on exact points of an under-resolved curve it does, while the largest deviation
// wanders), the search stops, hands back that best fit (outside tol) and says so in a message
// ("The deviation stopped falling at N control points: ..."). umin and umax are not read (the
// domain is [0, 1]). Null on a user break, when memory ran out, or when a fit failed.
Bspline* OptimalKnotVect(Cloud* cloud, Bspline* startCurve, double spacing, double* t,
                         int nCorrection, int nWeighting, double umin, double umax, int closed,
                         int degree, double roughness, double tension, double sigma, int mode,
                         double tol, double fraction);
// A curve within tol of the cloud (check mode and fraction as in OptimalKnotVect) with roughness
// 1e6, tension 0 and sigma 0.1 whatever the globals hold; a start curve gives closed and degree
// and its knots. w1, w2, w3 are not read. *status: -1 for a closed fit of fewer than 4 points,
// -2 for an open fit of fewer than 2 (null then), and -2 with the error state set for a spacing
// that is not positive and finite or a negative (or NaN) tol; not written otherwise. Coincident
// points give their interpolant. Null on failure.
Bspline* FitToTolerance(Cloud* cloud, Bspline* startCurve, double tol, double spacing, int closed,
                        int degree, double w1, double w2, double w3, int* status, int mode,
                        double fraction);
// FitToTolerance without the status message: *deviation receives what the message would show
// (the returned curve's largest distance from the points, by the check of mode; 0 otherwise).
// exactPoints: the points are exact samples of a curve (no noise beyond their rounding), so the
// knot search never stops where the deviation stalls, and a fit that would need knots at more
// than half of the points is their interpolant.
Bspline* FitToToleranceMeasured(Cloud* cloud, Bspline* startCurve, double tol, double spacing,
                                int closed, int degree, int* status, int mode, double fraction,
                                double* deviation, bool exactPoints = false);
// The status line of the fits: "Control points = nCtrl, Maximum deviation = deviation".
void ShowCurveFitStatus(int nCtrl, double deviation);
// Every cloud fitted as OptimalKnotVect does with the start curve's closed flag, degree and
// knots, mode 0 and the fitting globals set to tension 0, roughness 1e6, sigma 0.1 meanwhile
// (restored exactly). The clouds are taken from the one with the most curvature points down;
// entry j of the new array (the caller's, Free) is the curve of the j-th cloud in ascending
// order of that count (null where a fit failed). Null without a start curve, or when memory ran
// out.
Bspline** CurveBasedFitCurvesToTolerance(Cloud** clouds, int nClouds, Bspline* startCurve,
                                         double tol);
