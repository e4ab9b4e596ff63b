#include "curve/crverr.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "cloud/putil.h"
#include "curve/crvoffst.h"
#include "curve/crvutil.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

// A curve the projections can run on: 3D, or 2D in the plane of a sound owner surface.
bool ProjectableCurve(const Bspline* c) {
  if (!BsplineSound(c) || c->kind != 1) return false;
  if (c->dimension == 3) return true;
  return c->dimension == 2 && c->owner && c->owner->kind == 2 && BsplineSound(c->owner);
}

bool CloudSound(const Cloud* cloud) {
  return cloud && cloud->npts > 0 && cloud->x && cloud->y && cloud->z;
}

// The deviation record in a scratch block of the caller's scope: distances, then parameters.
double* RecordInScope(Bspline* curve, Cloud* cloud) {
  const int n = cloud->npts;
  double* d = MallocArray<double>(n, 2);
  if (!d || KernelFailed()) return nullptr;
  if (RecordCurveBsplineCloudDiff(curve, cloud, d, d + n) != 0) return nullptr;
  return d;
}

// The foot of q on the curve within [t0, t1] from the start *t, at most 7 steps: C, *t and the
// squared distance. A foot held at an end of the domain reports -2 but is the closest point there.
double FootFrom(Bspline* curve, const double q[3], double t0, double t1, double* t, double C[3]) {
  double d = 0.0, step = 0.0;
  if (curve->dimension == 2)
    FindClosestPointCurveOnSurf(curve, q, C, t0, t1, t, &d, &step, 7);
  else
    FindClosestPointCurve3(curve, q, C, t0, t1, t, &d, &step, 7);
  return d;
}

// distSq[i] and param[i] of the n points at(i, q) projected onto the curve, each from a start
// estimated on samples of the curve kept for all of them; a point equal to its predecessor
// starts from the predecessor's start parameter.
template <class PointAt>
int ProjectPoints(Bspline* curve, int n, const PointAt& at, double* distSq, double* param) {
  // Any other kind of curve would leave the record unwritten for the worst-point search.
  if (!ProjectableCurve(curve)) return -2;
  const double t0 = curve->knotsU[curve->degreeU];
  const double t1 = curve->knotsU[curve->degreeU + curve->interiorU + 1];
  TrackingScope scope;
  CurveSampleCache cache;
  double prev[3] = {0.0, 0.0, 0.0}, t = t0;
  for (int i = 0; i < n; ++i) {
    double q[3];
    at(i, q);
    // A repeated point starts where its predecessor started: no new estimate.
    if (i == 0 || q[0] != prev[0] || q[1] != prev[1] || q[2] != prev[2]) {
      if (cache.Estimate(curve, q, &t) != 0 || KernelFailed()) return -2;
    }
    double C[3], ti = t;
    distSq[i] = FootFrom(curve, q, t0, t1, &ti, C);
    param[i] = ti;
    for (int c = 0; c < 3; ++c) prev[c] = q[c];
  }
  return 0;
}

int WorstOf(const double* distSq, int n) {
  int worst = 0;
  for (int i = 1; i < n; ++i)
    if (distSq[i] > distSq[worst]) worst = i;
  return worst;
}

}  // namespace

int RecordCurveBsplineCloudDiff(Bspline* curve, Cloud* cloud, double* distSq, double* param) {
  if (!CloudSound(cloud) || !distSq || !param) return -2;
  const auto at = [cloud](int i, double q[3]) {
    q[0] = cloud->x[i], q[1] = cloud->y[i], q[2] = cloud->z[i];
  };
  return ProjectPoints(curve, cloud->npts, at, distSq, param);
}

int FindCurveBsplineCloudMaxDiff(Bspline* curve, Cloud* cloud, double* worstParam,
                                 double* worstDistSq, int* worstIndex) {
  if (!CloudSound(cloud) || !worstParam || !worstDistSq || !worstIndex) return -2;
  TrackingScope scope;
  const double* d = RecordInScope(curve, cloud);
  if (!d) return -2;
  const int w = WorstOf(d, cloud->npts);
  *worstParam = d[cloud->npts + w];
  *worstDistSq = d[w];
  *worstIndex = w;
  return 0;
}

int CheckCurveBsplineCloudMaxDiff(Bspline* curve, Cloud* cloud, int mode, double tol,
                                  double fraction, double* worstParam, double* worstDistSq,
                                  int* worstIndex) {
  if (!CloudSound(cloud) || !worstParam || !worstDistSq || !worstIndex) return 0;
  TrackingScope scope;
  const double* d = RecordInScope(curve, cloud);
  if (!d) return 0;
  const int n = cloud->npts, w = WorstOf(d, n);
  *worstParam = d[n + w];
  *worstDistSq = d[w];
  *worstIndex = w;
  const double tolSq = tol * tol;
  switch (mode) {
    case 0:
      return d[w] <= tolSq ? 1 : 0;
    case 1: {
      double sum = 0.0;
      for (int i = 0; i < n; ++i) sum += std::sqrt(d[i]);
      const double mean = sum / n;
      *worstDistSq = mean * mean;
      return mean <= tol ? 1 : 0;
    }
    case 2: {
      int out = 0;
      for (int i = 0; i < n; ++i) out += d[i] > tolSq;
      return 1.0 - static_cast<double>(out) / n >= fraction ? 1 : 0;
    }
    default:
      return 0;
  }
}

// Samples a span beyond any resolution a deviation needs: each is a closest-point search, and a
// count near the int range asks for hours of them.
constexpr int kMostSamplesPerSpan = 4096;

int TwoCurve3MaxDiff(Bspline* curveA, Bspline* curveB, int samplesPerSpan, double* maxDiff) {
  if (samplesPerSpan > kMostSamplesPerSpan) return -2;
  if (!maxDiff || !curveA || !curveB || curveA->kind != 1 || curveB->kind != 1 ||
      curveA->dimension != 3 || curveB->dimension != 3 || !BsplineSound(curveA) || !BsplineSound(curveB))
    return -2;
  TrackingScope scope;
  Owned<double, Free> params;  // made outside the scope
  int count = 0;
  if (GetNParValsPerSpan(curveA->knotsU, NumKnotsU(curveA), std::max(samplesPerSpan, 1),
                         params.receive(), &count) != 0 ||
      count < 1 || KernelFailed())
    return -2;
  // Curve A's points stay in double: single-precision samples far from the origin would be
  // rounded by far more than the deviation of a close fit.
  double* a = MallocArray<double>(count, 3);
  double* d = MallocArray<double>(count, 2);
  if (!a || !d || KernelFailed()) return -2;
  for (int i = 0; i < count; ++i) Eval3DPointOnCurve3Coord(curveA, params[i], 0, a + 3 * i);
  if (KernelFailed()) return -2;
  const auto at = [a](int i, double q[3]) {
    for (int c = 0; c < 3; ++c) q[c] = a[3 * i + c];
  };
  if (ProjectPoints(curveB, count, at, d, d + count) != 0) return -2;
  // Curves far apart in the double range: the distance overflows.
  const double worstSq = d[WorstOf(d, count)];
  if (!std::isfinite(worstSq)) return -2;
  *maxDiff = std::sqrt(worstSq);
  return 0;
}

double curve_curve_min_dist(Bspline* curveA, Bspline* curveB, double pointA[3], double pointB[3]) {
  if (!pointA || !pointB) return -2.0;
  for (const Bspline* c : {curveA, curveB})
    if (!BsplineSound(c) || c->kind != 1 || c->dimension != 3) return -2.0;
  double t1 = curveA->knotsU[curveA->degreeU], t2 = curveB->knotsU[curveB->degreeU];
  if (FindClosestCPT3paramValue(curveA, curveB, &t1, &t2) != 0 || KernelFailed()) return -2.0;
  double gapSq = 0.0;
  // A refinement that stops early (a vanishing tangent) still leaves its best pair.
  RefineCurve3sClosestPoint(curveA, curveB, &t1, &t2, &gapSq, 21);
  if (KernelFailed() || !AllFinite({t1, t2, gapSq})) return -2.0;
  Eval3DPointOnCurve3Coord(curveA, t1, 0, pointA);
  Eval3DPointOnCurve3Coord(curveB, t2, 0, pointB);
  return gapSq;
}

namespace {

// The estimator's sample caches of a set of curves, one per curve, kept for a whole cloud (the
// samples depend on the curve alone). The estimator hands its arrays to the caller outside
// every scope, so they are freed here.
struct CurveCaches {
  double** t = nullptr;
  double** x = nullptr;
  double** y = nullptr;
  double** z = nullptr;
  int* n = nullptr;
  int count = 0;
  bool Allocate(int curves) {
    count = curves;
    t = CallocArray<double*>(curves);
    x = CallocArray<double*>(curves);
    y = CallocArray<double*>(curves);
    z = CallocArray<double*>(curves);
    n = CallocArray<int>(curves);
    return t && x && y && z && n && !KernelFailed();
  }
  int Estimate(Bspline* crv, int c, const double q[3], double* par) {
    return EstimateClosestPntCurve(crv, q, &t[c], &n[c], &x[c], &y[c], &z[c], nullptr, par,
                                   crv->closedU);
  }
  void Release() {
    for (int c = 0; t && c < count; ++c) {
      Free(t[c]);
      Free(x[c]);
      Free(y[c]);
      Free(z[c]);
    }
  }
};

// The per-point pass of CurveToCloudDifference; false on a user break or a failed estimate.
bool MatchPointsWithCurves(Bspline** curves, int nCurves, const char* moved, const Xform* inverse,
                           CurveCaches& caches, const Cloud* cloud, double maxDistSq,
                           Thermometer& thermometer, int* count, float* px, float* py, float* pz,
                           int* index, float* cx, float* cy, float* cz, int* curveIndex,
                           float* tx, float* ty, float* tz, float* param, float* dist) {
  const int n = cloud->npts;
  PercentMarks marks(n);
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (user_break()) return false;
    int percent = 0;
    if (marks.Due(i, &percent)) thermometer.set(percent);
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    double best = 1.797693e308, bestC[3] = {0, 0, 0}, bestQ[3] = {0, 0, 0}, bestT = 0.0;
    int bestCurve = -1;
    for (int c = 0; c < nCurves; ++c) {
      Bspline* crv = curves[c];
      // Compared in the curve's own frame.
      double q[3] = {p[0], p[1], p[2]};
      if (moved[c]) VecTrans3(p, inverse[c], q);
      const double t0 = crv->knotsU[crv->degreeU];
      const double t1 = crv->knotsU[crv->degreeU + crv->interiorU + 1];
      double t = t0, C[3];
      if (caches.Estimate(crv, c, q, &t) != 0 || KernelFailed()) return false;
      const double d = FootFrom(crv, q, t0, t1, &t, C);
      if (d < best) {  // ties keep the earlier curve
        best = d;
        bestCurve = c;
        bestT = t;
        for (int a = 0; a < 3; ++a) {
          bestC[a] = C[a];
          bestQ[a] = q[a];
        }
      }
    }
    if (best > maxDistSq) {
      --*count;
      continue;
    }
    // The point is reported in the frame of the curve it was matched with.
    px[k] = static_cast<float>(bestQ[0]);
    py[k] = static_cast<float>(bestQ[1]);
    pz[k] = static_cast<float>(bestQ[2]);
    if (index) index[k] = i;
    if (curveIndex) curveIndex[k] = bestCurve;
    cx[k] = static_cast<float>(bestC[0]);
    cy[k] = static_cast<float>(bestC[1]);
    cz[k] = static_cast<float>(bestC[2]);
    if (tx) {
      Bspline* crv = curves[bestCurve];
      double D[3];
      if (crv->dimension == 2)
        EvalCrvOnSrfArray(crv->owner, crv, bestT, 1, D);
      else
        Eval3DPointOnCurve3Array(crv, bestT, 1, D);
      // Unit at any length: a small curve's derivative lies below VecNormalize3's floor.
      const double len = VecSize3(D);
      tx[k] = static_cast<float>(len > 0.0 ? D[0] / len : 0.0);
      ty[k] = static_cast<float>(len > 0.0 ? D[1] / len : 0.0);
      tz[k] = static_cast<float>(len > 0.0 ? D[2] / len : 0.0);
    }
    if (param) param[k] = static_cast<float>(bestT);
    if (dist) dist[k] = static_cast<float>(std::sqrt(best));
    ++k;
  }
  return true;
}

}  // namespace

int CurveToCloudDifference(Bspline** curves, int nCurves, const Xform* xforms, Cloud* cloud,
                           double maxDist, int* count, float* px, float* py, float* pz, int* index,
                           float* cx, float* cy, float* cz, int* curveIndex, float* tx, float* ty,
                           float* tz, float* param, float* dist) {
  *count = cloud ? cloud->npts : 0;
  Thermometer thermometer("Difference Analysis");
  TrackingScope scope;
  // Per curve: whether it is moved and the inverse of its transform.
  char* moved = CallocArray<char>(std::max(nCurves, 0));
  Xform* inverse = MallocArray<Xform>(std::max(nCurves, 0));
  CurveCaches caches;
  bool ok = cloud && curves && nCurves > 0 && moved && inverse && caches.Allocate(nCurves);
  for (int c = 0; ok && c < nCurves; ++c) {
    ok = ProjectableCurve(curves[c]);
    moved[c] = ok && xforms && not_identity_xform(xforms[c]);
    if (moved[c]) ok = mat_inverse4(xforms[c], inverse[c]) == 0;
  }
  ok = ok && MatchPointsWithCurves(curves, nCurves, moved, inverse, caches, cloud, maxDist * maxDist,
                                   thermometer, count, px, py, pz, index, cx, cy, cz, curveIndex,
                                   tx, ty, tz, param, dist);
  caches.Release();
  thermometer.finish();
  return ok && *count != 0 ? 1 : 0;
}
