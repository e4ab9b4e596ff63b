#include "stitch/srferr.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "cloud/makecld.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/clouddev.h"
#include "stitch/srfsample.h"

namespace {
// Squared sine of five degrees: deviations leaning more from the normal are not measured.
constexpr double kSinSqFiveDegrees = 0.007596123;

CloudDiffArrays Arrays(float* px, float* py, float* pz, int* index, float* cx, float* cy,
                       float* cz, float* nx, float* ny, float* nz, float* u, float* v,
                       float* dist) {
  CloudDiffArrays out;
  out.px = px;
  out.py = py;
  out.pz = pz;
  out.index = index;
  out.cx = cx;
  out.cy = cy;
  out.cz = cz;
  out.nx = nx;
  out.ny = ny;
  out.nz = nz;
  out.u = u;
  out.v = v;
  out.dist = dist;
  return out;
}

}  // namespace

int SurfToCloudDifference(Bspline* srf, Cloud* cloud, int refine, double maxDist,
                          double sinSqMaxAngle, double offset, int* count, float* px, float* py,
                          float* pz, int* index, float* cx, float* cy, float* cz, float* nx,
                          float* ny, float* nz, float* u, float* v, float* dist) {
  return SurfToCloudDifferenceLow(srf, cloud, refine, maxDist, sinSqMaxAngle, offset, 0, count, px,
                                  py, pz, index, cx, cy, cz, nx, ny, nz, u, v, dist);
}

int SurfToCloudDifferenceLow(Bspline* srf, Cloud* cloud, int refine, double maxDist,
                             double sinSqMaxAngle, double offset, int useShowMask, int* count,
                             float* px, float* py, float* pz, int* index, float* cx, float* cy,
                             float* cz, float* nx, float* ny, float* nz, float* u, float* v,
                             float* dist) {
  return SurfCloudDeviations(srf, cloud, refine, maxDist, sinSqMaxAngle, offset, useShowMask,
                             count, Arrays(px, py, pz, index, cx, cy, cz, nx, ny, nz, u, v, dist));
}

double EstimateWeedOutDistSq(double maxDistSq, int nu, int nv, const float* x, const float* y,
                             const float* z) {
  return WeedOutDistSq(maxDistSq, nu, nv, x, y, z);
}

double FindClosestPointEstimate(const double p[3], const Subdiv* subdiv, int ix, int iy, int iz,
                                int* cell, double searchDistSq, const float* x, const float* y,
                                const float* z, const float* u, const float* v, double closest[3],
                                double* uOut, double* vOut, int* sampleIndex) {
  return NearestSampleEstimate(p, subdiv, ix, iy, iz, cell, searchDistSq, x, y, z, u, v, closest,
                               uOut, vOut, sampleIndex);
}

double FindClosestPointOnBndr(const double p[3], float*** xs, float*** ys, float*** zs,
                              double*** us, double*** vs, int loops, const int* curvesPerLoop,
                              int** pointsPerCurve, double* uOut, double* vOut, double closest[3]) {
  return NearestTrimBoundaryPoint(p, xs, ys, zs, us, vs, loops, curvesPerLoop, pointsPerCurve, uOut,
                                  vOut, closest);
}

void FindNClosestPointEstimates(const double p[3], const Subdiv* subdiv, int ix, int iy, int iz,
                                int* cell, double searchDistSq, const float* x, const float* y,
                                const float* z, const int* starts, const int* ends, int nRanges,
                                int* bestIndex, double* bestDistSq) {
  NearestSamplePerRange(p, subdiv, ix, iy, iz, cell, searchDistSq, x, y, z, starts, ends, nRanges,
                        bestIndex, bestDistSq);
}

int FindArrayIndexSEfn(const int* starts, const int* ends, int n, int value) {
  return RangeIndexOf(starts, ends, n, value);
}

int SurfsToCloudDifference(Bspline** srfs, int nSrfs, const Xform* xforms, Cloud* cloud,
                           int refine, double maxDist, double offset, int flagFar, int useShowMask,
                           int* count, float* px, float* py, float* pz, int* index, float* cx,
                           float* cy, float* cz, float* nx, float* ny, float* nz, float* u,
                           float* v, int16_t* srfIndex, float* dist) {
  CloudDiffArrays out = Arrays(px, py, pz, index, cx, cy, cz, nx, ny, nz, u, v, dist);
  out.srfIndex = srfIndex;
  return SurfsCloudDeviations(srfs, nSrfs, xforms, cloud, refine, maxDist, offset, flagFar,
                              useShowMask, count, out);
}

int SurfsGetCloudNorms(Bspline** srfs, int nSrfs, const Xform* xforms, Cloud* cloud, int refine,
                       double maxDist, int* count, float* nx, float* ny, float* nz) {
  return SurfsCloudNormals(srfs, nSrfs, xforms, cloud, refine, maxDist, count, nx, ny, nz);
}

int SimpleSrfToSrfMaxDifference(Bspline* srfA, Bspline* srfB, double* maxDiff) {
  if (!BsplineSound(srfA) || !BsplineSound(srfB) || srfA->kind != 2 || srfB->kind != 2) return -2;
  TrackingScope scope;
  Owned<Cloud, FreeCloud> samples(
      KnotSpanSampleCloud(srfA, srfA->degreeU + 1, srfA->degreeV + 1, nullptr));
  if (!samples || KernelFailed()) return -2;
  const int n = samples->npts;
  float* a[12];
  for (float*& arr : a) arr = MallocArray<float>(n);
  if (KernelFailed()) return -2;
  // B is measured as the untrimmed surface: its loops are off only for the call.
  TrimList* loops = srfB->trims;
  srfB->trims = nullptr;
  int count = 0;
  const int r = SurfToCloudDifference(srfB, samples.get(), 1, kNoValue, kSinSqFiveDegrees, 0.0,
                                      &count, a[0], a[1], a[2], nullptr, a[3], a[4], a[5], a[6],
                                      a[7], a[8], a[9], a[10], a[11]);
  srfB->trims = loops;
  if (r != 1 || count < 1) return -2;
  double largest = -1.0;
  for (int i = 0; i < count; ++i) largest = std::max(largest, std::fabs(static_cast<double>(a[11][i])));
  *maxDiff = largest;
  return 0;
}

// ---- Statistics ---------------------------------------------------------------------------------
namespace {

double posSoftTol = 0.0, posHardTol = 0.0, negSoftTol = 0.0, negHardTol = 0.0;
int bTolerancesInitialized = 0;

// One measured point of a difference cloud: its distance d and its components along (p) and
// across (q) the reference direction.
struct Deviation {
  double d, p, q;
};

Deviation DeviationAt(const Cloud* c, int i, double d) {
  const int n = c->npts;
  const double V[3] = {static_cast<double>(c->x[i]) - c->x[n + i],
                       static_cast<double>(c->y[i]) - c->y[n + i],
                       static_cast<double>(c->z[i]) - c->z[n + i]};
  const double R[3] = {c->x[2 * n + i], c->y[2 * n + i], c->z[3 * n + i]};
  const double p = std::min(std::fabs(V[0] * R[0] + V[1] * R[1] + V[2] * R[2]), std::fabs(d));
  return {d, p, std::sqrt(std::max(d * d - p * p, 0.0))};
}

double Distance(const Cloud* c, int i) { return c->z[2 * c->npts + i]; }

// Sum, count, extremes and squared deviations of one group of values.
struct Tally {
  double sum = 0.0, max = 0.0, min = kNoValue, sq = 0.0;
  int count = 0;
  void Add(double x) {
    sum += x;
    max = std::max(max, x);
    min = std::min(min, x);
    ++count;
  }
  // The factor of a mean: 1 / count, or 1 for an empty group (whose sum is 0).
  double Factor() const { return count ? 1.0 / count : 1.0; }
  double Mean() const { return sum * Factor(); }
  double Std() const { return std::sqrt(std::fabs(sq * Factor())); }
};

void ZeroStatistics(ErrorStatistics* s) {
  s->stdDev = s->meanAbs = s->maxPositive = s->maxNegative = s->meanPositive = s->meanNegative = 0;
  s->countPositive = s->countNegative = 0;
  s->maxNormalPositive = s->maxNormalNegative = s->maxNormal = s->maxAbs = s->maxTangential = 0;
  s->meanNormalPositive = s->meanNormalNegative = s->meanNormal = s->meanAbsAll = 0;
  s->meanTangential = 0;
  s->stdNormalPositive = s->stdNormalNegative = s->stdNormal = s->stdAbs = s->stdTangential = 0;
}

}  // namespace

void ComputeErrorStatistics(ErrorStatistics* stats) {
  if (!stats || !stats->data) return;
  stats->kind = 4;
  Cloud* c = stats->data;
  const int n = c->npts;
  if (n < 1) {
    ZeroStatistics(stats);
    return;
  }
  // abs: |d| of all points; normal, tangential: the components of all points; posA, negA: |d|
  // of each side; posN, negN: the normal component of each side.
  Tally abs, normal, tangential, posA, negA, posN, negN;
  for (int i = 0; i < n; ++i) {
    const Deviation e = DeviationAt(c, i, Distance(c, i));
    abs.Add(std::fabs(e.d));
    normal.Add(e.p);
    tangential.Add(e.q);
    if (e.d > 0) {
      posA.Add(e.d);
      posN.Add(e.p);
    } else if (e.d < 0) {
      negA.Add(-e.d);
      negN.Add(e.p);
    }
  }
  c->zMin = abs.min;
  c->zMax = abs.max;
  for (int i = 0; i < n; ++i) {
    const Deviation e = DeviationAt(c, i, Distance(c, i));
    abs.sq += (std::fabs(e.d) - abs.Mean()) * (std::fabs(e.d) - abs.Mean());
    normal.sq += (e.p - normal.Mean()) * (e.p - normal.Mean());
    tangential.sq += (e.q - tangential.Mean()) * (e.q - tangential.Mean());
    // Each side's normal spread around its own mean.
    if (e.d > 0) posN.sq += (e.p - posN.Mean()) * (e.p - posN.Mean());
    if (e.d < 0) negN.sq += (e.p - negN.Mean()) * (e.p - negN.Mean());
  }
  stats->countPositive = posA.count;
  stats->countNegative = negA.count;
  stats->maxPositive = posA.max;
  stats->maxNegative = -negA.max;
  stats->minPositive = std::min(posA.min, posA.max);
  stats->minNegative = -std::min(negA.min, negA.max);
  stats->maxNormalPositive = posN.max;
  stats->maxNormalNegative = -negN.max;
  stats->maxNormal = normal.max;
  stats->maxAbs = abs.max;
  stats->maxTangential = tangential.max;
  stats->meanAbs = stats->meanAbsAll = abs.Mean();
  stats->meanNormal = normal.Mean();
  stats->meanTangential = tangential.Mean();
  stats->meanPositive = posA.Mean();
  stats->meanNormalPositive = posN.Mean();
  stats->meanNegative = -negA.Mean();
  stats->meanNormalNegative = -negN.Mean();
  stats->stdDev = stats->stdAbs = abs.Std();
  stats->stdNormal = normal.Std();
  stats->stdTangential = tangential.Std();
  stats->stdNormalPositive = posN.Std();
  stats->stdNormalNegative = negN.Std();
}

void ComputeCurveErrorStatistics(ErrorStatistics* stats) {
  if (!stats || !stats->data) return;
  stats->kind = 7;
  Cloud* c = stats->data;
  const int n = c->npts;
  if (n < 1) {
    ZeroStatistics(stats);
    return;
  }
  // The reference is the tangent: p runs along the curve, q across it.
  Tally dist, across, along;
  for (int i = 0; i < n; ++i) {
    const Deviation e = DeviationAt(c, i, Distance(c, i));
    dist.Add(e.d);
    across.Add(e.q);
    along.Add(e.p);
  }
  c->zMin = dist.min;
  c->zMax = dist.max;
  for (int i = 0; i < n; ++i) {
    const Deviation e = DeviationAt(c, i, Distance(c, i));
    dist.sq += (e.d - dist.Mean()) * (e.d - dist.Mean());
    across.sq += (e.q - across.Mean()) * (e.q - across.Mean());
    along.sq += (e.p - along.Mean()) * (e.p - along.Mean());
  }
  stats->countPositive = n;
  stats->countNegative = 0;
  stats->maxPositive = stats->maxAbs = dist.max;
  stats->maxNormalPositive = stats->maxNormal = across.max;
  stats->maxTangential = along.max;
  stats->maxNegative = stats->maxNormalNegative = stats->meanNegative = 0;
  stats->meanNormalNegative = stats->stdNormalNegative = 0;
  stats->meanAbs = stats->meanAbsAll = stats->meanPositive = dist.Mean();
  stats->meanNormalPositive = stats->meanNormal = across.Mean();
  stats->meanTangential = along.Mean();
  stats->stdDev = stats->stdAbs = dist.Std();
  stats->stdNormal = stats->stdNormalPositive = across.Std();
  stats->stdTangential = along.Std();
}

void SetCurrentSoftHardTols(double posSoft, double posHard, double negSoft, double negHard) {
  posSoftTol = posSoft;
  posHardTol = posHard;
  negSoftTol = negSoft;
  negHardTol = negHard;
  bTolerancesInitialized = 1;
}

int GetCurrentSoftHardTols(double* posSoft, double* posHard, double* negSoft, double* negHard) {
  if (!bTolerancesInitialized) return 0;
  *posSoft = posSoftTol;
  *posHard = posHardTol;
  *negSoft = negSoftTol;
  *negHard = negHardTol;
  return 1;
}
