// Differences between point clouds and surfaces: the deviation of every cloud point from one
// surface or from the nearest of several transformed ones, normals for a cloud from the nearest
// surface, the largest deviation of one surface from another, and the statistics of a
// difference with the process-wide soft and hard tolerances.
//
// Per-point results go compactly into caller-owned float arrays of the cloud's size (the k-th
// kept point to element k, *count kept points). Signed distances are positive on the side the
// surface normal points to. The searches show the thermometer with "Difference Analysis" (one
// surface) or "Surface(s) to Cloud Difference" (several) and poll the user break every ten
// points; a break closes the thermometer and gives 0 with the results so far in place.
#pragma once

#include <cstdint>

#include "bspline/smake.h"
#include "foundation/vec3.h"

struct Cloud;
struct Subdiv;

// ---- One surface ------------------------------------------------------------------------------
// SurfToCloudDifferenceLow without the show mask.
int SurfToCloudDifference(Bspline* srf, Cloud* cloud, int refine, double maxDist,
                          double sinSqMaxAngle, double offset, int* count, float* px, float* py,
                          float* pz, int* index, float* cx, float* cy, float* cz, float* nx,
                          float* ny, float* nz, float* u, float* v, float* dist);

// Every cloud point (with useShowMask and a show mask, only the shown ones) against a 100 x 100
// grid of the surface (inside its trim loops, the trim boundary sampled beside it): the point
// (moved by the offset), its closest surface point, unit normal, (u, v) and signed distance.
// refine: each estimate is refined on the surface (up to 20 steps), and the foot of a point
// away from the trim boundary and the domain's sides is re-projected along the normal.
// Dropped: points beyond maxDist + offset (an unrefined estimate is allowed a grid step more),
// and, with sinSqMaxAngle below 1, points whose deviation leans from the normal by more than
// the angle whose squared sine it is. offset compares against the surface moved by it along its
// normal (each point moves by it against the normal); 0 or -0 for none. index, nx (with ny,
// nz), u (with v) and dist may be null. Returns 1 when a point was kept, 0 otherwise (also for
// no memory, a user break, and a missing surface, cloud or required array: *count 0 then).
int SurfToCloudDifferenceLow(Bspline* srf, Cloud* cloud, int refine, double maxDist,
                             double sinSqMaxAngle, double offset, int useShowMask, int* count,
                             float* px, float* py, float* pz, int* index, float* cx, float* cy,
                             float* cz, float* nx, float* ny, float* nz, float* u, float* v,
                             float* dist);

// ---- Estimates the searches share ---------------------------------------------------------------
// The squared distance up to which a grid estimate is accepted: a + b + 4 maxDistSq, a and b the
// largest squared steps along the first row and the first column of the nu x nv samples (4
// maxDistSq alone for a null array).
double EstimateWeedOutDistSq(double maxDistSq, int nu, int nv, const float* x, const float* y,
                             const float* z);
// The nearest sample to p in its bin `*cell` (ix, iy, iz), else in the nearest of nine rings of
// bins around it (*cell then the winner's bin, -1 when none): the squared distance (3.37e38 when
// none), the sample, its (u, v) and index (-1 when none).
double FindClosestPointEstimate(const double p[3], const Subdiv* subdiv, int ix, int iy, int iz,
                                int* cell, double searchDistSq, const float* x, const float* y,
                                const float* z, const float* u, const float* v, double closest[3],
                                double* uOut, double* vOut, int* sampleIndex);
// The nearest point on the sampled trim loops' polylines and its interpolated (u, v); the
// squared distance, 3.37e38 (outputs untouched) when there is no segment.
double FindClosestPointOnBndr(const double p[3], float*** xs, float*** ys, float*** zs,
                              double*** us, double*** vs, int loops, const int* curvesPerLoop,
                              int** pointsPerCurve, double* uOut, double* vOut, double closest[3]);
// The nearest sample of every index range starts[r]..ends[r] (one surface each): bestIndex[r]
// (-1 when none) and bestDistSq[r] (3.37e38 when none).
void FindNClosestPointEstimates(const double p[3], const Subdiv* subdiv, int ix, int iy, int iz,
                                int* cell, double searchDistSq, const float* x, const float* y,
                                const float* z, const int* starts, const int* ends, int nRanges,
                                int* bestIndex, double* bestDistSq);
// The range r (ascending, contiguous ranges) holding value, searched from the last one found
// (the process-wide FAE_mid, restarted at n / 2 when it lies outside 0..n - 1).
int FindArrayIndexSEfn(const int* starts, const int* ends, int n, int value);

// ---- Several surfaces -------------------------------------------------------------------------
// The same over 1 .. 32000 surfaces, each placed in the scene by xforms[s] (null: all in place),
// sampled 2 .. 75 times per direction by its size against the group's. For each kept point the
// nearest surface (srfIndex, required; the first of equally near ones): the point, closest
// point and normal in that surface's own frame. refine: the nearest sample of every surface is
// refined one step and the winner up to six. No angle filter. flagFar: a point beyond the limit
// keeps its slot (counted), with srfIndex -1, the point itself as point and foot, zero normal,
// (u, v) and distance; otherwise it is dropped. Returns 1 after a completed run (also with no
// point kept), 0 for a surface count outside 1..32000, an object that is no surface, a missing
// cloud or required array, no memory, a singular transform or a user break.
int SurfsToCloudDifference(Bspline** srfs, int nSrfs, const Xform* xforms, Cloud* cloud,
                           int refine, double maxDist, double offset, int flagFar, int useShowMask,
                           int* count, float* px, float* py, float* pz, int* index, float* cx,
                           float* cy, float* cz, float* nx, float* ny, float* nz, float* u,
                           float* v, int16_t* srfIndex, float* dist);

// Every cloud point's unit normal, in cloud order, from the nearest surface (within maxDist),
// in that surface's own frame and turned towards the point; the zero vector for a point no
// surface is near (*count is the cloud's count less those). Returns as SurfsToCloudDifference.
int SurfsGetCloudNorms(Bspline** srfs, int nSrfs, const Xform* xforms, Cloud* cloud, int refine,
                       double maxDist, int* count, float* nx, float* ny, float* nz);

// ---- Two surfaces -------------------------------------------------------------------------------
// The largest |distance| of srfA's samples (degree + 1 per distinct knot span each way, inside
// its trims) from srfB taken untrimmed (its trim loops are put back on every path); samples whose
// deviation leans more than five degrees from B's normal do not count. 0, or -2 (maxDiff not
// written) for a missing object or one that is no sound (bsvalid) surface, and when nothing could
// be measured.
int SimpleSrfToSrfMaxDifference(Bspline* srfA, Bspline* srfB, double* maxDiff);

// ---- Statistics ---------------------------------------------------------------------------------
// Statistics of a difference cloud `data` of n measured points: x, y hold 3n values, z 4n: the
// points (0..n-1), their closest points (n..2n-1), the unit reference direction (x, y at 2n + i,
// z at 3n + i: the surface normal, or the curve tangent) and the distance (z at 2n + i; signed for
// a surface, not negative for a curve). The caller owns the record; the operations only write.
struct ErrorStatistics {
  Cloud* data;           // null: nothing is computed
  double stdDev;         // of the absolute distances
  double meanAbs;
  double maxPositive;
  double maxNegative;    // a negative number, 0 when none
  double meanPositive;
  double meanNegative;   // a negative number
  int countPositive;     // distances above 0
  int countNegative;     // below 0 (an exact 0 counts in neither)
  double minPositive;    // the smallest positive distance, 0 when none
  double minNegative;    // the negative distance nearest 0, 0 when none
  // Rows: maximum, mean, standard deviation; columns: the normal component of the positive, of
  // the negative and of all points, the absolute distance, the tangential component.
  double maxNormalPositive, maxNormalNegative, maxNormal, maxAbs, maxTangential;
  double meanNormalPositive, meanNormalNegative, meanNormal, meanAbsAll, meanTangential;
  double stdNormalPositive, stdNormalNegative, stdNormal, stdAbs, stdTangential;
  int kind;  // 4 after ComputeErrorStatistics, 7 after ComputeCurveErrorStatistics
};

// Surface statistics (kind 4): the reference direction is the normal, so a point's normal
// component is |V . N| (V the deviation vector, clamped to |d|) and its tangential one the rest
// of d. The negative column's maximum and mean are negative numbers. Each group's standard
// deviation is taken around its own mean. The data cloud's zMin, zMax receive the smallest and
// largest |d|. With no point every statistic is 0 except minPositive and minNegative.
void ComputeErrorStatistics(ErrorStatistics* stats);
// Curve statistics (kind 7): the reference is the tangent, so the components swap roles; every
// point counts as positive; zMin, zMax receive the smallest and largest d; minPositive and
// minNegative are not written; stdNormalPositive equals stdNormal.
void ComputeCurveErrorStatistics(ErrorStatistics* stats);

// The process-wide soft and hard tolerances for the positive and negative side. Get gives 0
// (outputs untouched) while they were never set, else writes them and gives 1.
void SetCurrentSoftHardTols(double posSoft, double posHard, double negSoft, double negHard);
int GetCurrentSoftHardTols(double* posSoft, double* posHard, double* negSoft, double* negHard);
