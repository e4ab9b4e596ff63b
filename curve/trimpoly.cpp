#include "curve/trimpoly.h"

#include <cmath>
#include <cstdlib>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

int TrimCurvePolylineCount(const Bspline* crv) {
  // No samples of a curve whose counts cannot be trusted: every reader below sizes by this.
  if (!RecordShapesSound({crv}) || crv->kind != 1) return 0;
  return 5 * crv->interiorU + 6;
}

// Parameters: the domain start, then per span from a to b the values b - j (b - a) / 5
// (j = 4 .. 1) and b itself.
void SampleTrimCurvePolyline(const Bspline* c, double* t, double* us, double* vs) {
  if (TrimCurvePolylineCount(c) < 2 || !t || !us || !vs) return;
  const int p = c->degreeU;
  int k = 0;
  t[k++] = c->knotsU[p];
  for (int s = 0; s <= c->interiorU; ++s) {
    const double a = c->knotsU[p + s], b = c->knotsU[p + s + 1];
    for (int j = 4; j >= 1; --j) t[k++] = b - j * (b - a) * 0.2;
    t[k++] = b;
  }
  for (int i = 0; i < k; ++i) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, c, t[i], 0, uv);
    us[i] = uv[0];
    vs[i] = uv[1];
  }
}

int CountTrimLoops(const Bspline* srf) {
  int n = 0;
  for (const TrimList* l = srf ? srf->trims : nullptr; l; l = l->next) ++n;
  return n;
}

void TrimLoopPolylines(const Bspline* srf, double*** us, double*** vs) {
  if (!srf) return;
  int l = 0;
  for (const TrimList* loop = srf->trims; loop; loop = loop->next, ++l) {
    us[l] = vs[l] = nullptr;
    int curves = 0, most = 0;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++curves)
      if (TrimCurvePolylineCount(n->item) > most) most = TrimCurvePolylineCount(n->item);
    double** lu = MallocArray<double*>(curves);
    double** lv = MallocArray<double*>(curves);
    double* t = MallocArray<double>(most);
    if (KernelFailed()) return;
    int c = 0;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++c) {
      const int count = TrimCurvePolylineCount(n->item);
      lu[c] = MallocArray<double>(count);
      lv[c] = MallocArray<double>(count);
      if (KernelFailed()) return;
      SampleTrimCurvePolyline(n->item, t, lu[c], lv[c]);
    }
    Free(t);
    // Each curve starts where the one before it ends, and the last ends at the first's start,
    // so the polyline is closed exactly however the curves meet.
    c = 0;
    const BsplineList* prev = nullptr;
    for (const BsplineList* n = loop->loopCurves; n; prev = n, n = n->next, ++c)
      if (prev) {
        const int end = TrimCurvePolylineCount(prev->item) - 1;
        lu[c][0] = lu[c - 1][end];
        lv[c][0] = lv[c - 1][end];
      }
    if (prev) {
      const int end = TrimCurvePolylineCount(prev->item) - 1;
      lu[c - 1][end] = lu[0][0];
      lv[c - 1][end] = lv[0][0];
    }
    us[l] = lu;
    vs[l] = lv;
  }
}

int PointInTrimPolylines(const Bspline* srf, double u, double v, double*** us, double*** vs) {
  int l = 0;
  for (const TrimList* loop = srf ? srf->trims : nullptr; loop; loop = loop->next, ++l) {
    const int in = LoopPolylineParity(loop, u, v, us[l], vs[l]);
    if (loop->hole ? in : !in) return 0;
  }
  return 1;
}

int LoopPolylineParity(const TrimList* loop, double u, double v, double** us, double** vs) {
  if (!us || !vs) return 0;
  int crossings = 0, c = 0;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++c)
    crossings += CurvePolylineRayCrossings(n->item, u, v, us[c], vs[c]);
  return crossings % 2;
}

int CurvePolylineRayCrossings(const Bspline* crv, double u, double v, const double* us,
                              const double* vs) {
  const int n = TrimCurvePolylineCount(crv);
  if (n < 2 || !us || !vs) return 0;
  int count = 0;
  bool prevRight = us[0] > u;
  for (int i = 1; i < n; ++i) {
    const bool right = us[i] > u;
    if (right != prevRight) {
      // The segment straddles u, so its ends' u differ and the height where the ray meets it is
      // a share in [0, 1] of its rise, at any size of the domain.
      const double vx = (u - us[i - 1]) * (vs[i] - vs[i - 1]) / (us[i] - us[i - 1]) + vs[i - 1];
      if (v < vx) ++count;
    }
    prevRight = right;
  }
  return count;
}

int SampleTrimPolylines(const Bspline* srf, double jitter, TrimPolylines* out) {
  *out = TrimPolylines{srf, 0, nullptr, nullptr, {0.0, 0.0}};
  out->loops = CountTrimLoops(srf);
  if (!out->loops) return 0;
  out->far[0] = 2.0 * srf->umax - srf->umin + std::rand() * jitter;
  out->far[1] = 0.5 * (srf->vmin + srf->vmax) + std::rand() * jitter;
  out->us = MallocArray<double**>(out->loops);
  out->vs = MallocArray<double**>(out->loops);
  if (!out->us || !out->vs || KernelFailed()) return -2;
  TrimLoopPolylines(srf, out->us, out->vs);
  return KernelFailed() ? -2 : 0;
}

int InsideTrimPolylines(const TrimPolylines* tp, double u, double v) {
  return !tp->loops || PointInTrimPolylines(tp->srf, u, v, tp->us, tp->vs);
}
