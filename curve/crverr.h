// How far a cloud lies from a curve: every point projected onto the curve with its squared
// distance and parameter, the worst point, a fit graded against a tolerance, the largest
// deviation of one curve from another and the closest pair of points of two curves.
//
// The curve's domain for every projection: knots[degree] .. knots[degree + interior + 1].
// Failures: -2 (0 for the grading) for an empty cloud, a curve that cannot be projected on (not
// a sound curve of dimension 3, or of dimension 2 with a sound owner surface), a failed start
// estimate or no memory; the call's scratch is released, output arrays already written stay.
#pragma once

#include "bspline/smake.h"
#include "foundation/vec3.h"

struct Cloud;

// distSq[i] and param[i] (caller's arrays of the cloud's count): the squared distance of point
// i to the curve (a 2D curve measured in 3D through its owner) and the parameter of its closest
// point, from a start estimated on samples of the curve kept for the whole cloud; a point equal
// to its predecessor starts from the predecessor's start parameter.
int RecordCurveBsplineCloudDiff(Bspline* curve, Cloud* cloud, double* distSq, double* param);

// The point of largest squared distance (the earliest of equals): its parameter, squared
// distance and index.
int FindCurveBsplineCloudMaxDiff(Bspline* curve, Cloud* cloud, double* worstParam,
                                 double* worstDistSq, int* worstIndex);

// 1 when the curve meets tol in the mode, else 0 (also on failure). Mode 0: every point within
// tol. Mode 1: the mean distance within tol; worstDistSq then receives the squared mean, not the
// worst value (callers print it as the deviation). Mode 2: at least `fraction` of the points
// within tol (a point at tol counts as within). The worst point is reported in every mode; any
// other mode gives 0.
int CheckCurveBsplineCloudMaxDiff(Bspline* curve, Cloud* cloud, int mode, double tol,
                                  double fraction, double* worstParam, double* worstDistSq,
                                  int* worstIndex);

// The largest distance from curve A's points, samplesPerSpan per knot span (at least 2, at most
// 4096), to curve B. -2 unless both are sound (bsvalid) 3D curves, for more than 4096 samples a
// span, and when the distance overflows.
int TwoCurve3MaxDiff(Bspline* curveA, Bspline* curveB, int samplesPerSpan, double* maxDiff);

// The closest pair of two 3D curves into pointA and pointB. Returns the SQUARED distance of the
// pair (the refiner's measure; callers compare it with squared tolerances), or -2 (points not
// written) for curves that are not sound 3D curves or no memory.
double curve_curve_min_dist(Bspline* curveA, Bspline* curveB, double pointA[3], double pointB[3]);

// Every cloud point against the nearest of nCurves curves (3D, or 2D on a surface measured
// through its owner), each placed by xforms[c] (null: all in place), compared in the curve's own
// frame. For each point within maxDist of a curve (a point exactly at maxDist is kept), compactly
// in cloud order: the point as the nearest curve's frame sees it, its index, the nearest curve
// (the earliest of equally near ones), its closest point, the unit tangent there, the parameter
// and the distance (never negative). index, curveIndex, tx (with ty, tz), param and dist may be
// null. Shows the thermometer with "Difference Analysis" and polls the user break at every
// point. 1 when a point was kept; 0 otherwise, and for a curve that cannot be projected on, a
// failed estimate, a singular transform, no memory or a user break (the results so far stay).
int CurveToCloudDifference(Bspline** curves, int nCurves, const Xform* xforms, Cloud* cloud,
                           double maxDist, int* count, float* px, float* py, float* pz, int* index,
                           float* cx, float* cy, float* cz, int* curveIndex, float* tx, float* ty,
                           float* tz, float* param, float* dist);
