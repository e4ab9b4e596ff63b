#include "surface/trimutils.h"

#include <cmath>

#include "bspline/creverse.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/bnd2crv.h"

namespace {

double CurveStart(const Bspline* c) { return c->knotsU[c->degreeU]; }
double CurveEnd(const Bspline* c) { return c->knotsU[c->degreeU + c->interiorU + 1]; }

void FreeNodes(BsplineList* n) {
  while (n) {
    BsplineList* next = n->next;
    Free(n);
    n = next;
  }
}

// The sample parameters of a trim curve: the domain start, then per span from a to b the four
// values b - j (b - a) / 5 (j = 4 .. 1) and b itself.
void TrimSampleParams(const Bspline* c, double* t) {
  const int p = c->degreeU;
  int k = 0;
  t[k++] = c->knotsU[p];
  for (int s = 0; s <= c->interiorU; ++s) {
    const double a = c->knotsU[p + s], b = c->knotsU[p + s + 1];
    for (int j = 4; j >= 1; --j) t[k++] = b - j * (b - a) * 0.2;
    t[k++] = b;
  }
}

// (u, v) samples of the curve into us, vs (TrimCurveSampleCount entries each); t is scratch of
// the same length.
void SampleTrimCurve(const Bspline* c, double* t, double* us, double* vs) {
  TrimSampleParams(c, t);
  const int n = TrimCurveSampleCount(c);
  for (int i = 0; i < n; ++i) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, c, t[i], 0, uv);
    us[i] = uv[0];
    vs[i] = uv[1];
  }
}

// Which of the two wrapping walks from `from` finds a sample differing from values[from]: the
// index, or -1 when all are equal. Forward to the end first, then from sample 0 up to `from`.
int NextDiffering(const double* values, int n, int from) {
  for (int i = from + 1; i < n; ++i)
    if (values[i] != values[from]) return i;
  for (int i = 0; i < from; ++i)
    if (values[i] != values[from]) return i;
  return -1;
}

}  // namespace

// ---- Loops ----------------------------------------------------------------------------------

TrimList* CreateSurfBoundaryAsTrimCurveBspline(Bspline* srf) {
  if (!srf || srf->kind != 2) return nullptr;
  BsplineList* const before = srf->curves;
  static const int kSides[4] = {0, 3, 2, 1};
  Bspline* made[4] = {};
  TrimList* loop = nullptr;
  {
    TrackingScope scope;
    for (int i = 0; i < 4; ++i) {
      made[i] = MakeIsoparCurve2(srf, kSides[i], -1.0);
      if (!made[i]) break;
    }
    if (made[3] && !KernelFailed()) {
      reverseBspline(made[0]);
      reverseBspline(made[3]);
      UntrackedScope owned;
      loop = MallocNullTrimList();
      BsplineList** tail = loop ? &loop->loopCurves : nullptr;
      for (int i = 0; i < 4 && tail && !KernelFailed(); ++i) {
        PutBsplToSurfCrvList(made[i], srf);
        *tail = MallocNullBsplineList();
        if (!*tail) break;
        (*tail)->item = made[i];
        tail = &(*tail)->next;
      }
    }
    if (loop && !KernelFailed()) {
      loop->attached = 1;
      return loop;
    }
  }
  // A failure: back to the curve list as it was, nothing of the loop left.
  while (srf->curves != before) {
    BsplineList* n = srf->curves;
    srf->curves = n->next;
    Free(n);
  }
  if (loop) FreeUnattachedTrimcurve(loop);
  for (Bspline* c : made) FreeBspline(c);
  return nullptr;
}

int AddOrderedTrimCurve(Bspline* srf, TrimList* loop) {
  if (!loop || !srf) return 1;
  loop->next = srf->trims;
  srf->trims = loop;
  loop->attached = 1;
  return 1;
}

TrimList* CreateTrimList(Bspline* srf, Bspline* curve, TrimList* loop) {
  if (!loop && !srf) return nullptr;
  UntrackedScope owned;
  TrimList* fresh = nullptr;
  if (!loop) {
    fresh = loop = MallocNullTrimList();
    if (!loop || KernelFailed()) return nullptr;
  }
  BsplineList** tail = &loop->loopCurves;
  for (; *tail; tail = &(*tail)->next)
    if ((*tail)->item == curve) return loop;
  BsplineList* node = MallocNullBsplineList();
  if (!node || KernelFailed()) {
    Free(fresh);
    return nullptr;
  }
  node->item = curve;
  *tail = node;
  if (fresh) {
    fresh->next = srf->trims;
    srf->trims = fresh;
  }
  return loop;
}

Bspline* AddCurve2CurveList(int, const double p0[3], const double p1[3], BsplineList* node,
                            Bspline* srf) {
  if (!node || !srf) return nullptr;
  Owned<Bspline, FreeBspline> c;
  BsplineList* fresh = nullptr;
  {
    UntrackedScope owned;
    c.reset(MallocNullBspline());
    if (!c || KernelFailed()) return nullptr;
    c->kind = 1;
    c->dimension = 2;
    MkLine2(p0, p1, c.get());
    if (KernelFailed()) return nullptr;
    fresh = MallocNullBsplineList();
    if (!fresh || KernelFailed()) return nullptr;
  }
  PutBsplToSurfCrvList(c.get(), srf);
  if (KernelFailed()) {
    Free(fresh);
    return nullptr;
  }
  fresh->item = c.get();
  fresh->next = node->next;
  node->next = fresh;
  return c.release();
}

int IsOuterTrim(const Bspline* srf) {
  for (const TrimList* l = srf ? srf->trims : nullptr; l; l = l->next)
    if (l->attached && !l->hole) return 1;
  return 0;
}

int IsPrevOutTrimInvalid(Bspline* srf, TrimList** out) {
  TrimList* last = nullptr;
  for (TrimList* l = srf && srf->trims ? srf->trims->next : nullptr; l; l = l->next)
    if (l->attached && !l->hole) last = l;
  if (!last) return 0;
  last->attached = 0;
  if (out) *out = last;
  return 1;
}

int IsTrimPiece(const Bspline* crv) {
  if (!crv || !crv->owner) return 0;
  for (const TrimList* l = crv->owner->trims; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next)
      if (n->item == crv) return 1;
  return 0;
}

int GetTrimCurveOfTrimPiece(const BsplineList* node, TrimList* loops, TrimList** out) {
  for (TrimList* l = loops; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next)
      if (n == node) {
        if (out) *out = l;
        return 1;
      }
  return 0;
}

int CountTrimCurves(const Bspline* srf) {
  int n = 0;
  for (const TrimList* l = srf ? srf->trims : nullptr; l; l = l->next) ++n;
  return n;
}

int FindTrimCurveDirection(Bspline*, TrimList* loop) {
  // A loop without curves has no direction; callers treat -2 as a failure.
  if (!loop || !loop->loopCurves) return -2;
  constexpr int kN = 50;
  TrackingScope scope;
  double* u = MallocArray<double>(kN);
  double* v = MallocArray<double>(kN);
  if (!u || !v || KernelFailed()) return -2;
  double maxU = -3.37e38;
  int result = 1;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next) {
    const Bspline* c = n->item;
    const double t0 = CurveStart(c), t1 = CurveEnd(c);
    for (int i = 0; i < kN; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, c, t0 + (t1 - t0) * i / (kN - 1), 0, uv);
      u[i] = uv[0];
      v[i] = uv[1];
    }
    int k = -1;
    for (int i = 1; i < kN - 1; ++i)
      if (u[i] > maxU) {
        maxU = u[i];
        k = i;
      }
    if (k < 0) continue;
    int m = 0;
    double vLo = v[0];
    for (int i = 1; i < kN; ++i) {
      if (v[i] > v[m]) m = i;
      if (v[i] < vLo) vLo = v[i];
    }
    if (v[m] - vLo > 1e-6) {
      const int j = NextDiffering(v, kN, k);
      result = j >= 0 && v[k] < v[j] ? 2 : 1;
    } else {
      // A horizontal curve: the way it runs at its top sample.
      const int j = NextDiffering(u, kN, m);
      result = j >= 0 && u[m] > u[j] ? 2 : 1;
    }
  }
  return result;
}

void ReverseTrimCurveBsplines(TrimList* loop) {
  if (!loop) return;
  BsplineList* reversed = nullptr;
  for (BsplineList* n = loop->loopCurves; n;) {
    BsplineList* next = n->next;
    reverseBspline(n->item);
    n->next = reversed;
    reversed = n;
    n = next;
  }
  loop->loopCurves = reversed;
}

void ReverseInnerRelToOuter(Bspline* srf) {
  if (!srf) return;
  TrimList* outer = srf->trims;
  while (outer && outer->hole) outer = outer->next;
  if (!outer) return;
  const int dir = FindTrimCurveDirection(srf, outer);
  for (TrimList* l = srf->trims; l; l = l->next)
    if (l->hole == 1 && FindTrimCurveDirection(srf, l) == dir) ReverseTrimCurveBsplines(l);
}

int IsTrimCurveOpen(TrimList* loop, double tol) {
  if (!loop || !loop->loopCurves) return 0;
  const Bspline* srf = loop->loopCurves->item->owner;
  const double tol2 = tol * tol;
  auto gap2 = [&](const Bspline* a, const Bspline* b) {
    double pa[3], pb[3];
    Eval3DPointOnBsplOnSurfCoord(srf, a, CurveEnd(a), 0, 0, pa);
    Eval3DPointOnBsplOnSurfCoord(srf, b, CurveStart(b), 0, 0, pb);
    return (pa[0] - pb[0]) * (pa[0] - pb[0]) + (pa[1] - pb[1]) * (pa[1] - pb[1]) +
           (pa[2] - pb[2]) * (pa[2] - pb[2]);
  };
  const BsplineList* n = loop->loopCurves;
  for (; n->next; n = n->next)
    if (gap2(n->item, n->next->item) > tol2) return 1;
  return gap2(n->item, loop->loopCurves->item) > tol2 ? 1 : 0;
}

void SetInOutTrim(Bspline* srf, int* flags, int nu, int nv) {
  if (!srf || !flags || nv < 1 || nu < 1) return;
  // The loops are sampled once for the whole grid.
  TrackingScope scope;
  const int loops = CountTrimCurves(srf);
  double*** us = loops ? MallocArray<double**>(loops) : nullptr;
  double*** vs = loops ? MallocArray<double**>(loops) : nullptr;
  if (loops && us && vs) GetAllTrimArrays(srf, us, vs);
  const bool sampled = loops && us && vs && !KernelFailed();
  const double du = (srf->umax - srf->umin) / (nu > 1 ? nu - 1 : 1);
  const double dv = (srf->vmax - srf->vmin) / (nv > 1 ? nv - 1 : 1);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i)
      flags[j * nu + i] = !loops ? 1
                          : sampled ? IsPointInTrimArrays(srf, srf->umin + i * du, srf->vmin + j * dv,
                                                          nullptr, us, vs)
                                    : 0;
}

void FreeUnattachedTrimcurve(TrimList* loop) {
  if (!loop) return;
  FreeNodes(loop->loopCurves);
  Free(loop);
}

void FreeNewTrimcurve(TrimList* loop) { FreeUnattachedTrimcurve(loop); }

// ---- Point in trim --------------------------------------------------------------------------

int TrimCurveSampleCount(const Bspline* crv) { return 5 * crv->interiorU + 6; }

int IsPointInTrim(Bspline* srf, double u, double v) {
  if (!srf || !srf->trims) return 1;
  TrackingScope scope;
  const int loops = CountTrimCurves(srf);
  double*** us = MallocArray<double**>(loops);
  double*** vs = MallocArray<double**>(loops);
  if (!us || !vs || KernelFailed()) return 0;
  GetAllTrimArrays(srf, us, vs);
  if (KernelFailed()) return 0;
  return IsPointInTrimArrays(srf, u, v, nullptr, us, vs);
}

int IsPointInTrimArrays(const Bspline* srf, double u, double v, const double* far, double*** us,
                        double*** vs) {
  int l = 0;
  for (const TrimList* loop = srf ? srf->trims : nullptr; loop; loop = loop->next, ++l) {
    const int in = IsInTrimcurveArrays(loop, 0, u, v, far, us[l], vs[l]);
    if (loop->hole ? in : !in) return 0;
  }
  return 1;
}

int IsInTrimcurveArrays(const TrimList* loop, int, double u, double v, const double*, double** us,
                        double** vs) {
  if (!us || !vs) return 0;
  int crossings = 0, c = 0;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++c)
    crossings += Curve2VertIntersectArraysCount(n->item, 0, u, v, us[c], vs[c]);
  return crossings % 2;
}

int Curve2VertIntersectArraysCount(const Bspline* crv, int, double u, double v, const double* us,
                                   const double* vs) {
  const int n = TrimCurveSampleCount(crv);
  if (n < 2 || !us || !vs) return 0;
  int count = 0;
  bool prevRight = us[0] > u;
  for (int i = 1; i < n; ++i) {
    const bool right = us[i] > u;
    if (right != prevRight) {
      const double vx = std::fabs(us[i] - us[i - 1]) >= 1e-6
                            ? (u - us[i - 1]) * (vs[i] - vs[i - 1]) / (us[i] - us[i - 1]) + vs[i - 1]
                            : 0.5 * (vs[i - 1] + vs[i]);
      if (v < vx) ++count;
    }
    prevRight = right;
  }
  return count;
}

void GetAllTrimArrays(const Bspline* srf, double*** us, double*** vs) {
  if (!srf) return;
  int l = 0;
  for (const TrimList* loop = srf->trims; loop; loop = loop->next, ++l) {
    us[l] = vs[l] = nullptr;
    int curves = 0, most = 0;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++curves)
      if (TrimCurveSampleCount(n->item) > most) most = TrimCurveSampleCount(n->item);
    double** lu = MallocArray<double*>(curves);
    double** lv = MallocArray<double*>(curves);
    double* t = MallocArray<double>(most);
    if (KernelFailed()) return;
    int c = 0;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++c) {
      const int count = TrimCurveSampleCount(n->item);
      lu[c] = MallocArray<double>(count);
      lv[c] = MallocArray<double>(count);
      if (KernelFailed()) return;
      SampleTrimCurve(n->item, t, lu[c], lv[c]);
    }
    Free(t);
    // Each curve starts where the one before it ends, and the last ends at the first's start,
    // so the polyline is closed exactly however the curves meet.
    c = 0;
    const BsplineList* prev = nullptr;
    for (const BsplineList* n = loop->loopCurves; n; prev = n, n = n->next, ++c)
      if (prev) {
        const int end = TrimCurveSampleCount(prev->item) - 1;
        lu[c][0] = lu[c - 1][end];
        lv[c][0] = lv[c - 1][end];
      }
    if (prev) {
      const int end = TrimCurveSampleCount(prev->item) - 1;
      lu[c - 1][end] = lu[0][0];
      lv[c - 1][end] = lv[0][0];
    }
    us[l] = lu;
    vs[l] = lv;
  }
}

namespace {

// Where segment p0-p1 (s from p1 at 0 to p0 at 1) meets the line through q0, q1 (t from q1 at 0
// to q0 at 1): false for parallel segments or s outside [0, 1); a vertex belongs to the segment
// that ends there.
bool PlineCrossing(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v, double q1u,
                   double q1v, double* t) {
  const double dpu = p0u - p1u, dpv = p0v - p1v, dqu = q0u - q1u, dqv = q0v - q1v;
  const double ru = p1u - q1u, rv = p1v - q1v;
  const double d = dqv * dpu - dqu * dpv;
  if (std::fabs(d) < 1e-10) return false;
  const double s = (rv * dqu - dqv * ru) / d;
  *t = (rv * dpu - ru * dpv) / d;
  return s >= 0.0 && s < 1.0;
}

}  // namespace

int IsIntersectPlineOK(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                       double q1u, double q1v) {
  double t;
  return PlineCrossing(p0u, p0v, p1u, p1v, q0u, q0v, q1u, q1v, &t) && t >= 0.0 && t <= 1.0;
}

int IsIntersectPline(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v,
                     double q1u, double q1v) {
  double t;
  return PlineCrossing(p0u, p0v, p1u, p1v, q0u, q0v, q1u, q1v, &t) && t <= 1.0;
}

int Curve2IntersectArraysCount(const Bspline* crv, int, const double q0[2], const double q1[2],
                               const double* us, const double* vs) {
  int count = 0;
  for (int i = 1; i < TrimCurveSampleCount(crv); ++i)
    count += IsIntersectPline(us[i - 1], vs[i - 1], us[i], vs[i], q0[0], q0[1], q1[0], q1[1]);
  return count;
}

int Curve2IntersectCount(const Bspline* crv, int, const double q0[2], const double q1[2]) {
  const int n = TrimCurveSampleCount(crv);
  TrackingScope scope;
  double* t = MallocArray<double>(n);
  double* us = MallocArray<double>(n);
  double* vs = MallocArray<double>(n);
  if (KernelFailed()) return 0;
  SampleTrimCurve(crv, t, us, vs);
  int count = 0;
  for (int i = 1; i < n; ++i)
    count += IsIntersectPlineOK(us[i - 1], vs[i - 1], us[i], vs[i], q0[0], q0[1], q1[0], q1[1]);
  return count;
}
