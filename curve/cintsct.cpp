#include "curve/cintsct.h"

#include <cmath>

#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/intrplt.h"
#include "surface/srfsnip.h"

int Intersect2Curve3(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  double a, b;
  if (FindClosestCPT3paramValue(crv1, crv2, &a, &b) != 0) return -2;
  double distSq;
  const int r = RefineCurve3sClosestPoint(crv1, crv2, &a, &b, &distSq, 21);
  *t1 = a;
  *t2 = b;
  return r;
}

int Intersect2Curve2(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  double a, b;
  const int est = !crv1->owner && !crv2->owner ? FindClosestCPTparamValueCurve2(crv1, crv2, &a, &b)
                                               : FindClosestCPTparamValue(crv1, crv2, &a, &b);
  if (est != 0) return -2;
  double distSq;
  const int r = RefineCurve2Intersect(crv1, crv2, &a, &b, &distSq, 10);
  *t1 = a;
  *t2 = b;
  return r;
}

int Intersect2Curves(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  double a, b;
  const int est = crv1->dimension == 2 ? FindClosestEstParamValueCurveOnSurf(crv1, crv2, &a, &b)
                                       : FindClosestCPTparamValueCurves(crv1, crv2, &a, &b);
  if (est != 0) return -2;
  double distSq;
  const int r = RefineCurvesClosestPoint(crv1, crv2, &a, &b, &distSq, 10);
  *t1 = a;
  *t2 = b;
  return r;
}

int FindAllCurve3Intersections(Bspline** curves, int n, int** dirs, double** starts, double** ends) {
  // With one curve the chain would intersect the curve with itself.
  if (!curves || n < 2) return -2;
  TrackingScope scope;
  double* s = MallocArray<double>(n);
  double* e = MallocArray<double>(n);
  int* d = MallocArray<int>(n);
  if (!s || !e || !d || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    s[i] = curves[i]->umin;
    e[i] = curves[i]->umax;
  }
  int status = 0;
  auto meet = [&](int a, int b, double* ta, double* tb) {
    if (Intersect2Curve3(curves[a], curves[b], ta, tb) == -2) status = -2;
  };
  if (n == 2) {
    // Two curves closing a chain meet twice: each pairing finds the meeting first along its
    // first curve, and the chain runs the two curves against each other.
    meet(0, 1, &s[0], &e[1]);
    meet(1, 0, &s[1], &e[0]);
  } else {
    for (int i = 0; i + 1 < n; ++i) meet(i, i + 1, &e[i], &s[i + 1]);
    meet(n - 1, 0, &e[n - 1], &s[0]);
  }
  if (MemoryErrorSet()) return -2;
  for (int i = 0; i < n; ++i) {
    d[i] = e[i] >= s[i] ? 1 : -1;
    Bspline* piece;
    {
      // The piece belongs to the chain from the moment it replaces the curve.
      UntrackedScope untracked;
      piece = ExtractObjFromObjGivenPar(curves[i], 0, s[i], e[i]);
    }
    if (!piece) {
      if (zk_error_status == -9) {
        SetKernelError(-5);
        return -5;
      }
      return status != 0 ? status : -2;
    }
    FreeBspline(curves[i]);
    curves[i] = piece;
  }
  scope.keep();
  *dirs = d;
  *starts = s;
  *ends = e;
  return status;
}

void SubCurveBspline(Bspline* curve, double t0, double t1, Bspline** piece) {
  if (std::fabs(t1 - t0) < 1e-6) {
    *piece = nullptr;
    SetKernelError(-2);
    return;
  }
  TrackingScope scope;
  // Falling parameters give the piece running backwards, from t0.
  Bspline* p = ExtractObjFromObjGivenPar(curve, 0, t0, t1);
  if (!p || KernelFailed()) return;
  scope.keep();
  *piece = p;
}

// ---- crossings with the surface's knot lines ----------------------------------------------------
void GetUVKnotIndices(const double* uKnots, const double* vKnots, int nu, int nv, double u,
                      double v, int* iu, int* iv) {
  auto index = [](const double* k, int n, double x) {
    if (x <= k[0]) return -1;
    for (int i = 1; i < n; ++i)
      if (k[i] > x) return i - 1;
    return n - 1;
  };
  *iu = index(uKnots, nu, u);
  *iv = index(vKnots, nv, v);
}

namespace {

// The three output arrays of the crossing walk; they double whenever one free slot is left.
struct SectArrays {
  double* t = nullptr;
  double* u = nullptr;
  double* v = nullptr;
  int n = 0;
  int cap = 0;

  bool Make(int capacity) {
    cap = capacity;
    t = MallocArray<double>(cap);
    u = MallocArray<double>(cap);
    v = MallocArray<double>(cap);
    return t && u && v && !KernelFailed();
  }
  bool Append(double tt, double uu, double vv) {
    t[n] = tt;
    u[n] = uu;
    v[n] = vv;
    if (cap - ++n > 1) return true;
    double* arrays[3] = {t, u, v};
    if (!Make(2 * cap)) return false;
    double* grown[3] = {t, u, v};
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < n; ++i) grown[k][i] = arrays[k][i];
      Free(arrays[k]);
    }
    return true;
  }
};

// A point of the walk: curve parameter, (u, v) and span indices.
struct WalkPoint {
  double t, c[2];
  int idx[2];
};

// The next knot line of one direction (0 u, 1 v) that the curve crosses between cur and the
// breakpoint bp, as a linear estimate and its refinement.
struct Crossing {
  bool found = false;
  double est = 0.0, t = 0.0, knot = 0.0;
  int newIdx = 0;
};

Crossing NextCrossing(Bspline* curve, const double* k, int nk, double tol, int dir,
                      const WalkPoint& cur, const WalkPoint& bp) {
  Crossing x;
  const int ic = cur.idx[dir], ib = bp.idx[dir];
  const double c0 = cur.c[dir], c1 = bp.c[dir];
  if (ic == ib || std::fabs(c1 - c0) <= tol) return x;
  if (ib > ic) {
    // Up across k[ic + 1], into the span that starts at the last knot of its run.
    x.knot = k[ic + 1];
    x.newIdx = ic + 1;
    while (x.newIdx + 1 < nk && k[x.newIdx + 1] == x.knot) ++x.newIdx;
  } else {
    // Down across k[ic], into the span below the first knot of its run.
    x.knot = k[ic];
    int first = ic;
    while (first > 0 && k[first - 1] == x.knot) --first;
    x.newIdx = first - 1;
  }
  x.found = true;
  x.est = cur.t + (x.knot - c0) * (bp.t - cur.t) / (c1 - c0);
  double t = x.est, pt[2], residual;
  FindXorYIntersectCurve2(curve, x.knot, dir == 0 ? 1 : 0, pt, &t, &residual, 7);
  // A refinement that strays from the interval keeps the estimate.
  x.t = std::isfinite(t) && t > cur.t && t < bp.t ? t : x.est;
  return x;
}

}  // namespace

int GetCurve2DSurfParamSect(Bspline* curve, int* count, double** params, double** us,
                            double** vs) {
  Bspline* srf = curve->owner;
  if (!srf) return -2;
  const int p = curve->degreeU, m = curve->interiorU + 2;
  const double* breaks = curve->knotsU + p;
  const double* kn[2] = {srf->knotsU + srf->degreeU, srf->knotsV + srf->degreeV};
  const int nk[2] = {srf->interiorU + 2, srf->interiorV + 2};
  const double tol[2] = {1e-6 * (kn[0][nk[0] - 1] - kn[0][0]), 1e-6 * (kn[1][nk[1] - 1] - kn[1][0])};
  const double lo[2] = {srf->umin, srf->vmin}, hi[2] = {srf->umax, srf->vmax};

  TrackingScope scope;
  SectArrays out;
  if (!out.Make(4 * m)) return -2;
  auto indices = [&](WalkPoint& w) {
    GetUVKnotIndices(kn[0], kn[1], nk[0], nk[1], w.c[0], w.c[1], &w.idx[0], &w.idx[1]);
  };
  WalkPoint cur;
  cur.t = breaks[0];
  Eval2DPointOnCurve2Array(srf, curve, cur.t, 0, cur.c);
  indices(cur);
  if (!out.Append(cur.t, cur.c[0], cur.c[1])) return -2;
  for (int b = 1; b < m; ++b) {
    WalkPoint bp;
    bp.t = breaks[b];
    Eval2DPointOnCurve2Array(nullptr, curve, bp.t, 0, bp.c);
    indices(bp);
    // Each crossing moves one span index one step towards the breakpoint's, so the walk ends.
    while (cur.idx[0] != bp.idx[0] || cur.idx[1] != bp.idx[1]) {
      Crossing x[2];
      for (int dir = 0; dir < 2; ++dir) x[dir] = NextCrossing(curve, kn[dir], nk[dir], tol[dir], dir, cur, bp);
      auto inside = [&](const Crossing& c) { return c.found && c.est > cur.t && c.est < bp.t; };
      bool take[2] = {false, false};
      if (x[0].found && x[1].found && x[0].est == x[1].est) {
        take[0] = take[1] = inside(x[0]);
      } else {
        const int first = x[0].found && (!x[1].found || x[0].est < x[1].est) ? 0 : 1;
        if (inside(x[first]))
          take[first] = true;
        else if (inside(x[1 - first]))
          take[1 - first] = true;
      }
      if (!take[0] && !take[1]) break;
      const int lead = take[0] ? 0 : 1;
      WalkPoint next = cur;
      next.t = x[lead].t;
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, curve, next.t, 0, uv);
      for (int dir = 0; dir < 2; ++dir) {
        if (take[dir]) {
          next.c[dir] = x[dir].knot;
          next.idx[dir] = x[dir].newIdx;
        } else {
          next.c[dir] = std::fmin(std::fmax(uv[dir], lo[dir]), hi[dir]);
        }
      }
      if (!out.Append(next.t, next.c[0], next.c[1])) return -2;
      cur = next;
    }
    if (!out.Append(bp.t, bp.c[0], bp.c[1])) return -2;
    cur = bp;
  }
  scope.keep();
  *count = out.n;
  *params = out.t;
  *us = out.u;
  *vs = out.v;
  return 0;
}

// ---- exact iso-parametric pieces --------------------------------------------------------------
namespace {


Bspline* ExtractIsopar(Bspline* srf, Bspline* curve, Bspline* iso, bool spatial) {
  if (!srf || !curve || !iso) return nullptr;
  if (spatial ? iso->dimension < 3 : iso->dimension != 2) return nullptr;
  double ends[2][3];
  Eval3DPointOnBsplOnSurfArray(srf, curve, curve->umin, 0, 0, ends[0]);
  Eval3DPointOnBsplOnSurfArray(srf, curve, curve->umax, 0, 0, ends[1]);
  CurveSampleCache cache;
  double t[2];
  for (int k = 0; k < 2; ++k) {
    if (cache.Estimate(iso, ends[k], &t[k]) != 0) return nullptr;
    // A refiner that refuses the curve leaves the distance unmeasured: too far.
    double C[3], distSq = kEmptyBoxBound, stepSq;
    if (spatial)
      FindClosestPointCurve3(iso, ends[k], C, iso->umin, iso->umax, &t[k], &distSq, &stepSq, 7);
    else
      FindClosestPointCurveOnSurf(iso, ends[k], C, iso->umin, iso->umax, &t[k], &distSq, &stepSq, 7);
    if (std::sqrt(distSq) > 0.001) {
      if (k == 0 || !spatial) return nullptr;
      return MakeCurveZero(cache.x, cache.y, cache.z, 3);
    }
  }
  if (std::fabs(t[0] - t[1]) < 1e-6) return spatial ? MakeCurveZero(cache.x, cache.y, cache.z, 3) : nullptr;
  TrackingScope scope;
  // From the start's parameter to the end's: reversed when the curve runs against the iso curve.
  Bspline* piece = ExtractObjFromObjGivenPar(iso, 0, t[0], t[1]);
  if (zk_error_status == -9) {
    // Too short to matter: the caller keeps its own curve, and no error is left behind.
    ClearKernelError();
    return nullptr;
  }
  if (!piece || KernelFailed()) return nullptr;
  scope.keep();
  return piece;
}

}  // namespace

Bspline* ExtractIsoparCurve2(Bspline* srf, Bspline* curve, Bspline* iso) {
  return ExtractIsopar(srf, curve, iso, false);
}

Bspline* ExtractIsoparCurve3(Bspline* srf, Bspline* curve, Bspline* iso) {
  return ExtractIsopar(srf, curve, iso, true);
}
