// Routines over plain knot arrays: sorted, caller-owned arrays of doubles, usually the clamped
// knot vector of a curve or of one surface direction. Result arrays come from Malloc in the
// caller's current scope and belong to the caller.
//
// The functions below that take a curve refuse, before they read it, one that is not sound
// (bsvalid's BsplineSound; GetPointParOnCurve3 its structure alone) or not a curve, with their
// failure return (null, 0, -1.0, -2.0 or -2 as each lists; nothing written) and the error state
// -2.
#pragma once

// Maps the n knots onto [0, 1] in place and returns 1 / (last - first), the factor callers
// apply to derivatives. A zero range is the caller's to avoid. 0, knots untouched, for a null
// array or n < 2.
double NormalizeKnotArray(double* knots, int n);

// The knots that A must gain to contain B (two clamped vectors over the same range), each
// repeated by its missing multiplicity, in ascending order, in a new array *C of
// max(nA, nB) values; values within 1e-6 of A's range count as equal and B's end knots are
// skipped. Returns the count, also stored in *nC; 0 with *C null when B holds nothing but
// end knots, when A has fewer than 2 knots or no range, or when B is empty; -1 when the
// allocation failed (error state set).
int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC);

// As PutInCKnotsOfBNotInA; besides, A's knots that match a knot of B within the tolerance take
// B's exact value (A's multiplicity is counted before that).
int PutInCKnotsOfBNotInA_changeA(double* A, int nA, const double* B, int nB, double** C, int* nC);

// Sets the knots around knots[idx] that lie strictly within tol of value to value: downwards
// (never entry 0), then upwards, each direction stopping at the first knot outside. Returns
// the number of writes; 0 for a null array or idx outside 0..n-1.
int PutAllKnotsWithinTolOfValToVal(double* knots, int n, int idx, double value, double tol);

// The sorted merge of two ascending arrays into a new array *C of nA + nB slots (count in
// *nC): values within 1e-6 (absolute) are matched pair by pair and taken once, so each value
// keeps the larger of its two multiplicities. On allocation failure *C is null (error state
// set) and *nC untouched; likewise, error state -2, for a negative count or a null array with a
// positive count.
void UnionKnotArrays(const double* A, int nA, const double* B, int nB, double** C, int* nC);

#include "bspline/smake.h"
#include "foundation/vec3.h"

// ---- sampling per knot span ----------------------------------------------------------------
// Parameters of the curve, n per interval (n below 2 counts as 2) between the entries of its
// knot vector from index degree on, shared ends written once: (m + 1)(n - 1) + 1 values, m the
// number of entries between the two end runs. For a 2D curve on a surface the vector also holds
// the parameters where the curve crosses the surface's knot lines, so that every interval lies
// in one polynomial piece of the composed map. A new array (count in *count); null on failure.
double* SampleCurvePlateProper(Bspline* curve, int n, int* count);

// Fills the caller's array of `total` values: mode 0 total uniform values over the domain; mode
// 1 n values per knot span [k_j, k_j+1) and the domain end in the last slot; other modes write
// nothing.
void ComputeCrvParamArraysForEval(Bspline* curve, int mode, int n, double* out, int total);

// The 3D points of every curve of every trim loop of the surface, loop by loop and curve by
// curve, each sampled per span (n per span, 0: the curve's degree + 1). New float arrays for the
// caller; returns the number of points, 0 on failure (or with no trim curves).
int SampleTrimCurvePlate(Bspline* srf, int n, float** x, float** y, float** z);

// Adaptive 3D samples of a 2D curve on a surface: a sample is kept once the chords to and from
// the midpoint of its interval turn by no more than angTol degrees. Every (u, v) is clamped into
// the surface's box. New float arrays; the number of points, 0 without owner or on failure.
int SampleCurveWithAngTol(Bspline* curve, double angTol, float** x, float** y, float** z);

// n samples (u, v) of a trim loop evenly spaced by 3D chord length, from the first control
// point of its first curve to the last control point of its last curve; slots that the fine
// walk leaves empty take that last point. New arrays for the caller. 0; -2 for n below 2, an
// empty loop, a curve without owner, or when memory ran out (nothing allocated).
int SampleTrimCurveUniformChordLength(TrimList* loop, int n, double** u, double** v);

// ---- closest parameters --------------------------------------------------------------------
// The parameter on the curve nearest to P from a polyline of cached samples, the start for a
// Newton refinement. Cache: *params, *count, *x, *y, *z (the curve's 3D points at the
// parameters), all null at first: the call finding *params null fills it (if the point arrays
// are already there, only the parameters are made and the points reused) and the caller frees
// the arrays with Free. Samples per span: 200 / (interior + 1) + 1, at most 2 degree + 2, at
// least 4. A closed curve gets denser samples in its two end intervals and never matches the
// two segments at its seam. closestPoint (may be null) receives the polyline point. 0; -2 when
// the cache cannot be made (every cache pointer null again).
int EstimateClosestPntCurve(Bspline* curve, const double P[3], double** params, int* count,
                            double** x, double** y, double** z, double* closestPoint, double* t,
                            int closed);

// The estimator's cache held by one caller for a pass of queries on one curve: the arrays are
// freed (Free) when the holder goes out of scope.
struct CurveSampleCache {
  double* t = nullptr;
  double* x = nullptr;
  double* y = nullptr;
  double* z = nullptr;
  int n = 0;
  CurveSampleCache() = default;
  CurveSampleCache(const CurveSampleCache&) = delete;
  CurveSampleCache& operator=(const CurveSampleCache&) = delete;
  ~CurveSampleCache();
  // EstimateClosestPntCurve on this cache, closed as the curve's closed-in-u flag says.
  int Estimate(Bspline* curve, const double P[3], double* par, double* polylinePoint = nullptr);
};

// Start values for the closest approach of two curves: the closest pair of segments of the two
// polylines through the curve points at the Greville parameters. 0; -2 when memory ran out.
// Near-parallel segment pairs are skipped; when all are, t1 and t2 stay at the starts.
// Two 3D curves:
int FindClosestCPT3paramValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// Curves in 3D or on surfaces, the latter mapped through their owners:
int FindClosestCPTparamValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// Two 2D curves compared in their parameter plane:
int FindClosestCPTparamValueCurve2(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// Any two curves (as FindClosestCPTparamValue):
int FindClosestCPTparamValueCurves(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
// Two curves on surfaces over denser polylines: both sampled per span (n = 1 + the largest of
// the curve's degree and the first curve's owner's two degrees). 0 or -2.
int FindClosestEstParamValueCurveOnSurf(Bspline* crv1, Bspline* crv2, double* t1, double* t2);

// GetClosestPointsOnCrvOnSrf and GetClosestPointsOnCrvOnSrfArrays (stitch/srfcont) as documented
// there: the closest parameters of the points on the curve obj or on a surface's 3D iso curve at
// isoValue, the estimator's x, y, z samples kept in the caller's cache when cacheX is not null.
void ClosestParamsOnCurveOrIso(const double (*points)[3], int count, Bspline* obj, double isoValue,
                               int alongV, double* params, double (*closest)[3], double** cacheX,
                               double** cacheY, double** cacheZ);

// The parameter of the point on a 3D curve: the global minimum of the distance, refined to
// round-off (at least 7 steps), an end included; a sound curve is searched over its Bezier pieces
// (curve/crvfoot) and needs no scratch memory. A curve that is not sound keeps the sample
// estimate (only the spans whose control points' box can hold it, for an open curve) refined
// the same way. 1, or 0 on failure (also for a point that is not finite, t untouched).
int GetPointParOnCurve3(Bspline* curve, float x, float y, float z, double* t);

// The parameter on B of the point of A at tA: A's point is mapped by xfA followed by the inverse
// of xfB (skipped when that is the identity within 1e-4), estimated and refined on B (to
// round-off, at least 7 steps).
// point: B's (u, v) for a curve on a surface, else the 3D point mapped back by xfB. The branch
// follows B's dimension (2 or 3); another dimension leaves the outputs unset. 0 or -2.
int GetClosestPointOnCrvToCrvPar(Bspline* crvA, Bspline* crvB, const double xfA[16],
                                 const double xfB[16], double tA, double* tB, double point[3]);

// A frame where P meets boundary b (0..3) of the surface: the parameter along b of P's closest
// point (snap 0: to the nearest knot, 2: to the nearer range end, else kept), the 3D iso curve
// across the surface through it, starting on b, and the transform taking its first point to the
// origin and the surface normal there onto +z (frame) with its inverse. Returns the iso curve
// (the caller's), or null when obj is not a surface or on failure.
Bspline* GetClosestSurfaceIsoPar(const double P[3], Bspline* srf, int b, int snap,
                                 double frame[16], double inverse[16]);

// ---- lengths and arc-length samples ----------------------------------------------------------
// The interval of these operations is [max(min(t1, t2), tmin), min(max(t1, t2), tmax)]; an
// interval lying beyond one end of the domain is empty.

// Length of the polyline of n equal parameter steps; curves on surfaces are measured in 3D.
// -1.0 for n < 1 or a surface; 0.0 for an empty interval or another dimension.
double GetPartCurveLength(Bspline* curve, double t1, double t2, int n);
// The same polyline into the caller's arrays of n + 1: points x, y, z, parameters t and running
// lengths s (s[0] = 0). Returns the length; -1.0 as above and for a 2D curve without owner.
double GetPartCurveLengthAndParams(Bspline* curve, double t1, double t2, int n, double* x,
                                   double* y, double* z, double* t, double* s);
// Points (deriv 1: first derivatives) equally spaced by arc length: n + 1 samples, or with a
// spacing h > 0 the count nearest to that spacing. New arrays *x, *y, *z (the caller's), count
// in *count. 1; 0 for a bad flag or spacing, no curve, a 2D curve without owner, or memory.
int UnifArcSampleCurve(Bspline* curve, double t1, double t2, double h, int n, int deriv,
                       double** x, double** y, double** z, int* count);

// 3D length of a curve on a surface over its plate samples (GetCurveOnSurf3DLength of
// stitch/vcnobj, documented there); and the mean control-polygon length in a direction
// (GetObjSpanInParDir), which the trim-loop tools of the surface floor also measure with.
double CurveOnSurfaceLength(Bspline* crv);
double ControlPolygonSpan(Bspline* obj, int dir, int curveOnSurf3D);

// ---- trim-loop curves ----------------------------------------------------------------------
// The side of srf's parameter box a 2D curve of srf runs along, every control point on the
// box's edge (within 1e-6 of the range): 0 u-min, 1 v-max, 2 u-max, 3 v-min; -1 otherwise.
int GetBndryForBndryCrv(const Bspline* crv, const Bspline* srf);
// Puts a new node holding newCrv in the place of crv's node in the first loop of crv's owner
// that holds crv (the old node freed; no curve freed). 0.
int ReplaceCurveWithCurveInTrimList(Bspline* crv, Bspline* newCrv);
// Puts one new node holding newCrv in the place of crv and the curve after it (cyclically; a
// loop of two becomes the new node alone). `count` is not used. 0.
int ReplaceCurvesInTrimList(Bspline* crv, int count, Bspline* newCrv);
// 1 when c2 follows c1 in a loop (c1's loop reversed when c2 preceded it) or neither is a trim
// piece; else 0.
int CheckIfPickedCurvesTrimNeighbors(Bspline* c1, Bspline* c2);
// Cuts curves[0 .. n-2] where the last curve crosses them: the pieces (two per curve) go to
// pieces in order, to the owner's curve list and in the curve's place in its loop; the cut
// curves are then freed. 0; -2 for a cut at a curve's end or a failure (curves cut before it
// keep their pieces, none is freed).
int SnipCurveAtIntersectionCore(Bspline** curves, int n, Bspline** pieces);

// ---- transforms and conversions ------------------------------------------------------------
// Weights of a rational curve w_i -> w_i c^i with c = (w_0 / w_(n-1))^(1 / (n - 1)), then all
// divided by the first, so both end weights become 1; the (unweighted) coordinates stay. The
// shape is kept exactly for a single-span curve (a Moebius reparametrisation of a Bezier piece).
// 0, also for a surface, a non-rational curve or one control point (nothing changes); -2 with
// the weights untouched when they are not positive and finite (the root has no real value), or
// (error state -2) when the record's structure is not sound (bsvalid).
int ReparametrizeRationalCurve(Bspline* curve);
// Control points through M as points (row vectors, translation in the last row); a line's end
// points follow as points, a circle's or arc's centre as a point and its normal by the rotation
// part only (radius and sweep stay).
void XformCurve3Bspline(Bspline* curve, const Xform M);
// Scales the exact form in the frame F (p -> ((p F) scaled) F^-1; F within 1e-4 of the identity
// scales directly): a line's end points; a circle's or arc's centre and radius (times |sx|) only
// when the absolute factors agree within 1e-6 |sx|, else the form no longer fits, and the
// property blocks and form are dropped (type 0). Other forms stay. 0; -2 without a form, or when
// F has no inverse.
int ScaleCurveQuadricInfo(Bspline* curve, double sx, double sy, double sz, const Xform F);
// A new 3D curve along a 2D curve on a surface: the exact piece of the surface's iso curve when
// the 2D curve runs at one u or v, else a cubic through samples to the angle tolerance (closed
// with a smooth seam when the 2D curve is closed) with knots removed within tol. Null without
// owner, for a closed curve of 2 or 3 samples, or on failure (nothing left behind).
Bspline* MakeCurve3BsplineFromCurve2(Bspline* curve, double tol, double angTol);
// The cubic interpolating a free 3D curve (no owner, no curve list) at degree + 1 samples per
// span; the weights are not consulted. Null otherwise or on failure.
Bspline* Rational2NonRationalCurve3Bspline(Bspline* curve);
// 0.01 without owner; else 0.001 over the diagonal of the box of the surface points at the
// curve's control points (0.01 when that box is a point).
double GetTolForCurveOnSurf(Bspline* curve);

// ---- best-fit planes and principal axes ----------------------------------------------------
// Axes are three unit vectors, axis after axis and right-handed, in the order of
// PntSetPrincipleAxis_d; the single value beside them is the third eigenvalue, the spread
// normal to the best plane. Samples are 2 degree + 2 per knot span.

// A planar copy of a 3D curve: its control points projected onto the least-squares plane
// through the line from the start point along the chord (the start tangent when the chord is
// shorter than 1e-6 of the control box or the curve is closed). residual receives the plane
// fit's residual (may be null). Null for another object, a failed fit or memory.
Bspline* SimpleRemoveCurveTorsion(Bspline* curve, double* residual);
// Principal axes, third eigenvalue and centroid of a curve's samples (a 2D curve in space
// through its owner, as (u, v, 0) without one). 0; -2 for a surface or when sampling or the
// axes fail, and (error state -2) for a curve, or its owner, that is not sound (bsvalid).
int BsplCrvBestFitPlane(Bspline* curve, double axes[3][3], double* third, double centroid[3]);
// The same for n >= 3 points given by all three arrays; else, with all arrays null, for the
// object: a curve as above, a surface from its grid samples kept inside its trims (5 per span
// when 2 degree + 2 is below 6), the second and third axes negated when the mean unit normal
// points against the third. -2 without axes, for fewer than 3 points, an array missing with
// others given, no object, or memory.
int FindObjectPrincAxis(const double* x, const double* y, const double* z, int n, Bspline* obj,
                        double axes[3][3], double* third, double centroid[3]);

// ---- iso-parameter crossings and polylines -------------------------------------------------
// Direction flag d: non-zero the line u = c (along it v runs), 0 the line v = c.

// The parameters where the 2D curve crosses the line, in increasing order, into out (room for
// 5 interior + 5 values), their number in *count. Samples 5 per knot span and the end; a
// sample is on side 1 when w - c <= 1e-10 e (w the compared coordinate, e the extent of the
// curve's control points in it), else 2, and each change of side is refined by false position
// to |w - c| <= 1e-7 e (or until w stalls), so that a curve in a parameter domain of any size
// crosses alike. Returns 0.
int FindCurve2IsoParamIntersections(Bspline* curve, int d, double c, double* out, int* count);
// The visible part of the surface's iso line as segments: point pairs 2i, 2i + 1 in new float
// arrays for the caller. Samples degree + 1 per knot span of the running direction, cut at the
// trim crossings and midway between them; a segment with one end outside is cut back to the
// trim by 7 halvings. The number of points; 0 with null arrays when nothing is visible (c not
// in the fixed direction's domain) or on failure (error state -2 for a surface that is not
// sound, bsvalid).
int CreateIsoPlineArrays(Bspline* srf, double c, int d, float** x, float** y, float** z);
// The same over running parameters [t0, t1]; 0 at once unless min <= t0 <= t1 <= max.
int CreateIsoPlineArraysGivenPar(Bspline* srf, double c, int d, double t0, double t1, float** x,
                                 float** y, float** z);
