// Sampling operations that the continuity measures along shared edges are built from: the
// parameter of an object's boundary, evenly spaced parameters per knot span along an
// iso-parametric line or between given values, and the closest points of 3D points on a curve
// or on a surface's boundary iso-curve.
//
// Boundary indices: a surface's 0 u-min, 1 v-max, 2 u-max, 3 v-min; a curve's 0 start, 2 end.
#pragma once

#include "bspline/smake.h"

struct UnitFrame;

// The parameter of boundary b: a surface's u-min (0), v-max (1), u-max (2), v-min (3) knot; a
// curve's start (0) or end (2). b 1 and 3 of a curve read no defined value; callers pass 0 or 2.
double GetParValOfBndry(Bspline* obj, int b);

// Samples along an iso line of a surface, over every knot span of the varying direction as the
// knot vector holds it (a repeated knot gives a zero-length span repeating its value): n below 3
// counts as 2, and each span gets n - 1 equal steps. alongV: v varies and u repeats `fixed`;
// otherwise u varies and v repeats `fixed`. (n - 1)(k + 1) + 1 values, k the interior-knot count;
// the caller sizes both arrays. A curve is left alone; so (error state -2) is a record whose
// structure is not sound (bsvalid), a varying direction whose knots are not a knot vector's, and
// a null u or v.
void GetParValsOnIsoPar(Bspline* obj, int alongV, double* u, double* v, double fixed, int n);

// The same over the distinct knots only (values within tol x the range count as one), with n
// equal steps per span (n below 3 counts as 2): returns the count n (d + 1) + 1, d the number of
// distinct interior knots. The fixed parameter's array may be null. -2 for a curve or when
// memory ran out.
int GetParValsOnIsoPar2(Bspline* obj, int alongV, double* u, double* v, double fixed, int n,
                        double tol);

// n samples per span between the m given values (n below 2 counts as 2), each shared end written
// once: (m - 1)(n - 1) + 1 values into out. Writes nothing, error state -2, for a null array with
// m > 0.
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

// ---- Continuity along shared edges ---------------------------------------------------------
// Extremes of the gap and of the normal (or tangent) angle along an edge two objects share.
// Angles are in degrees folded into 0..90 (opposite normals count as parallel). A measure a call
// does not take leaves its fields as the caller set them.
struct ObjContInfo {
  double minGap;
  double maxGap;
  double minAngle;
  double maxAngle;
};

// Needle arrays: `count` display segments of two 3D points in one block of count x 6 doubles,
// in three planes: x (needle i: start, end), then y, then z, i.e. double[3][count][2]. The
// continuity measures allocate them (Malloc) for the caller, who frees them.

// Gap and angle extremes along the edge where two objects meet: objs two surfaces, two curves
// or a surface then a curve; bndry their boundary indices; curves[i] a curve on objs[i] standing
// for its edge, or null. Level 0 measures the gap, 1 the gap and the normal (or tangent) angle,
// 3 the gap and, for a curve against a surface, the angle between the curve and the tangent
// plane. Two surfaces give count needles: the gaps (level 0), along the mean normal with the
// gap's length standing on the gap's midpoint (level 0 with normalNeedles), the angles (level 1;
// with `scaled` to a display length and with the angle fields filled, else the bare vectors
// with the angle fields untouched); level 3 gives zero-length needles at the samples. Two
// surfaces with a curve go to ComputeObjContTrimSurfs. The caller's surfaces are not changed,
// but when the two surfaces change roles (the first becomes the one whose edge the other's ends
// span more of) so do the entries of bndry. Curves give *countOut 1 and no needles.
// -2 for level 2, a level outside 0..3, another pairing of kinds, a boundary index outside 0..3
// (0 or 2 for a curve), and a failed copy,
// harmonisation, allocation or evaluation (the fields written before stay).
int ComputeObjCont(Bspline* objs[2], Bspline* curves[2], int bndry[2], int level, ObjContInfo* info,
                   int normalNeedles, double** needlesOut, int* countOut, int scaled);

// Gap extremes of the n point pairs into info's gap fields, the index of the largest gap (the
// first of equal ones) into *maxIndexOut.
void FindNeedleInfoG0(const double (*p0)[3], const double (*p1)[3], ObjContInfo* info,
                      int* maxIndexOut, int n);
// Angle extremes of the n normal pairs (degrees, folded to 0..90) into anglesOut, the index of
// the largest into *maxIndexOut, and the angle needles: n0[i] := points[i], n1[i] := points[i]
// plus the mean normal direction times the angle, scaled so that the largest needle has length
// `scale` (unscaled when every angle is below 1e-5 radians). On no memory nothing is written.
void FindNeedleInfoG1(const double (*points)[3], double (*n0)[3], double (*n1)[3],
                      double anglesOut[2], int* maxIndexOut, int n, double scale);
// The same needles unscaled and without extremes, n1[i] holding the needle vector itself.
// 0, or -2 when its scratch cannot be allocated.
int FindUnscaledNeedleInfo(const double (*points)[3], double (*n0)[3], double (*n1)[3], int n);
// Gap needles along the mean normal: p0[i] := the gap's midpoint, n0[i] := the midpoint plus
// the unit mean normal times the gap.
void FindUnscaledG0NeedleInfo(double (*p0)[3], const double (*p1)[3], double (*n0)[3],
                              double (*n1)[3], int n);
// Needle i from a[i] to b[i] into the three-plane layout.
void MakeNeedles(double* needles, const double (*a)[3], const double (*b)[3], int n);
// Negates the n vectors in place; 0.
int ReverseNormalDirections(double (*v)[3], int n);
// Mean of the average control-polygon lengths in u and in v (GetObjSpanInParDir); 0 with the
// error state set for an object that is not sound (bsvalid) or a length that overflows.
double GetAvgLengthOfBspline(Bspline* obj);

// ---- Continuity along curves on surfaces ---------------------------------------------------
// ComputeObjCont's branch for two surfaces meeting along curves on them (a missing curve stands
// for its surface's boundary bndry[i]); level 0 or 1, needles as ComputeObjCont makes them (level
// 0 with normalNeedles and scaled: the angle needles). Given curves are changed in place: knots
// inserted where they cross their surface's knot lines, the second maybe reversed to run with
// the first, both mapped onto [0, 1]. -2 for a level above 1 (or below 0) and on failure (curves
// made here and scratch freed; changes to given curves stay).
int ComputeObjContTrimSurfs(Bspline* srfs[2], Bspline* curves[2], int bndry[2], int level,
                            ObjContInfo* info, double** needlesOut, int* countOut, int scaled,
                            int normalNeedles);

// The leaner form: gap extremes (level 0) and angle extremes (level 1) along the curves, no
// needles; atMax[0] the parameter on the second curve at the largest gap, atMax[1] (level 1
// only) at the largest angle. A second curve made from the boundary gives surface parameters
// along that boundary instead. Neither given curve is changed. -2 for a level outside 0..1 and
// on failure.
int ComputeObjContTrimSurfs2(Bspline* srfs[2], Bspline* curves[2], int bndry[2], int level,
                             ObjContInfo* info, double atMax[2]);

// The normal Su x Sv of the curve's owner at the curve's point t, not of unit length; returns out.
// Null (error state -2, out untouched) for a curve that is not a sound (bsvalid) curve on a 3D
// surface, a t that is not finite or a null out.
double* GetCurveOnSurfaceNorm(double out[3], Bspline* curve, double t);

// Inserts into each curve on a surface the parameters where it crosses its surface's knot
// lines (each once), so no span of it crosses one; the shapes stay. A failure stops the walk
// and shows in the error state.
void MakeCrvOnSrfsPlateProper(Bspline** curves, int n);

// The curve at curve's place in srfA's curve list, taken from srfB's list (for a surface and
// its copy); null when srfA has no list, curve is not on it, or srfB's list is shorter.
Bspline* GetMatchingBsplineOnSrf(Bspline* srfA, Bspline* srfB, Bspline* curve);

// ---- Curves on surfaces in a unit frame ------------------------------------------------------
// Constructions whose directions, steps and tolerances are set for objects of unit size work on
// copies of their curves in such a frame and map their answer back (ObjectFromUnitFrame).
// The frame of n curves (3D, or on surfaces, every one with its owner): the centre of the box of
// their points (17 on each) and the power of two at or below the box's longest side, so that the
// scaling is exact. False when the box has no extent or is not finite.
bool CurvesUnitFrame(Bspline** curves, int n, UnitFrame* frame);
// Copies of the n curves moved into frame, into work: a 3D curve copied and moved (held in
// loose[i]), each owner surface copied once with its curves and trim loops and moved (held in
// owners[i]), a curve on it taken from the copy's list, or copied onto the copy when its owner
// does not list it (held in loose[i]). owners and loose (n entries, null on entry) hold what the
// caller frees, loose before owners. False on failure (what was made stays held).
bool CurvesInUnitFrame(Bspline** curves, int n, const UnitFrame& frame, Bspline** work, Bspline** owners,
                       Bspline** loose);
