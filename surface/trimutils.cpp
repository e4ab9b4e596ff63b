#include "surface/trimutils.h"

#include <cmath>
#include <utility>

#include "bspline/creverse.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"
#include "foundation/umalloc.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "curve/trimpoly.h"
#include "surface/bnd2crv.h"
#include "surface/srfsnip.h"

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

int IsTrimPiece(const Bspline* crv) { return IsInTrimLoop(crv); }

int GetTrimCurveOfTrimPiece(const BsplineList* node, TrimList* loops, TrimList** out) {
  for (TrimList* l = loops; l; l = l->next)
    for (const BsplineList* n = l->loopCurves; n; n = n->next)
      if (n == node) {
        if (out) *out = l;
        return 1;
      }
  return 0;
}

int CountTrimCurves(const Bspline* srf) { return CountTrimLoops(srf); }

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

void ReverseTrimCurveBsplines(TrimList* loop) { ReverseTrimLoop(loop); }

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

int TrimCurveSampleCount(const Bspline* crv) { return TrimCurvePolylineCount(crv); }

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

int IsPointInTrimArrays(const Bspline* srf, double u, double v, const double*, double*** us,
                        double*** vs) {
  return PointInTrimPolylines(srf, u, v, us, vs);
}

int IsInTrimcurveArrays(const TrimList* loop, int, double u, double v, const double*, double** us,
                        double** vs) {
  return LoopPolylineParity(loop, u, v, us, vs);
}

int Curve2VertIntersectArraysCount(const Bspline* crv, int, double u, double v, const double* us,
                                   const double* vs) {
  return CurvePolylineRayCrossings(crv, u, v, us, vs);
}

void GetAllTrimArrays(const Bspline* srf, double*** us, double*** vs) { TrimLoopPolylines(srf, us, vs); }

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
  SampleTrimCurvePolyline(crv, t, us, vs);
  int count = 0;
  for (int i = 1; i < n; ++i)
    count += IsIntersectPlineOK(us[i - 1], vs[i - 1], us[i], vs[i], q0[0], q0[1], q1[0], q1[1]);
  return count;
}

// ---- Snipping and self-intersection ---------------------------------------------------------

namespace {

double ParTol(const Bspline* c) { return 1e-6 * (CurveEnd(c) - CurveStart(c)); }

// The end of c nearer to t; an exact tie goes to the end.
double NearerEnd(const Bspline* c, double t) {
  return CurveEnd(c) - t > t - CurveStart(c) ? CurveStart(c) : CurveEnd(c);
}

bool Near(const Bspline* c, double a, double b) { return std::fabs(a - b) < ParTol(c); }

double Dist3(const Bspline* a, double ta, const Bspline* b, double tb) {
  double pa[3], pb[3];
  Eval3DPointOnBsplOnSurfCoord(nullptr, a, ta, 0, 0, pa);
  Eval3DPointOnBsplOnSurfCoord(nullptr, b, tb, 0, 0, pb);
  return std::sqrt((pa[0] - pb[0]) * (pa[0] - pb[0]) + (pa[1] - pb[1]) * (pa[1] - pb[1]) +
                   (pa[2] - pb[2]) * (pa[2] - pb[2]));
}

// Intersects a with b: -2 on a failure with the error state set, else 1 for a true intersection
// (the points less than 1e-6 apart in 3D) and 0 for none; p and q keep their values when the
// estimate found nothing.
int Meet(Bspline* a, Bspline* b, double* p, double* q) {
  Intersect2Curves(a, b, p, q);
  if (KernelFailed()) return -2;
  return Dist3(a, *p, b, *q) < 1e-6 ? 1 : 0;
}

// A parameter that coincides with the other cut of its curve goes to the curve's other end; in
// the interior the other cut moves to the start and the parameter to the end.
void AwayFrom(const Bspline* c, double* other, double* t) {
  if (!Near(c, *t, *other)) return;
  if (Near(c, *t, CurveStart(c))) {
    *t = CurveEnd(c);
  } else if (Near(c, *t, CurveEnd(c))) {
    *t = CurveStart(c);
  } else {
    *other = CurveStart(c);
    *t = CurveEnd(c);
  }
}

// Either a true meeting adjusted off the ends, or with end snapping both taken to nearer ends.
void Settle(int met, int snapEnds, const Bspline* a, double* p, const Bspline* b, double* q) {
  if (met) {
    AdjustSnipParameter(a, p);
    AdjustSnipParameter(b, q);
  } else if (snapEnds) {
    *p = NearerEnd(a, *p);
    *q = NearerEnd(b, *q);
  }
}

// The cut parameters of one closed curve: the stretch between its two passes through a crossing.
int SnipOne(Bspline* c, double* A, double* B) {
  const double t0 = CurveStart(c), t1 = CurveEnd(c), m = 0.5 * (t0 + t1);
  *A = t0;
  *B = t1;
  UntrackedScope owned;
  Owned<Bspline, FreeBspline> first(ExtractObjFromObjGivenPar(c, 0, t0, m));
  Owned<Bspline, FreeBspline> second(ExtractObjFromObjGivenPar(c, 0, 0.5 * (m + t1), t1));
  if (!first || !second || KernelFailed()) return -2;
  double p = t0, q = t1;
  const int met = Meet(first.get(), second.get(), &p, &q);
  if (met < 0) return -2;
  if (met) {
    *A = p;
    *B = q;
  }
  return 0;
}

int SnipTwo(Bspline* c0, Bspline* c1, int orient, int snapEnds, double* A, double* B) {
  const double m1 = 0.5 * (CurveStart(c1) + CurveEnd(c1));
  UntrackedScope owned;
  Owned<Bspline, FreeBspline> half(ExtractObjFromObjGivenPar(c1, 0, CurveStart(c1), m1));
  if (!half || KernelFailed()) return -2;
  double p = CurveEnd(c0), q = CurveStart(c1);
  int met = Meet(c0, half.get(), &p, &q);
  if (met < 0) return -2;
  if (met) {
    AdjustSnipParameter(c0, &p);
    AdjustSnipParameter(c1, &q);
    A[0] = p;
    B[1] = q;
    Owned<Bspline, FreeBspline> rest(ExtractObjFromObjGivenPar(c1, 0, m1, CurveEnd(c1)));
    if (!rest || KernelFailed()) return -2;
    double p2 = CurveStart(c0), q2 = CurveEnd(c1);
    const int met2 = Meet(c0, rest.get(), &p2, &q2);
    if (met2 < 0) return -2;
    if (!met2 && (snapEnds || Near(c1, q2, m1))) {
      p2 = NearerEnd(c0, p2);
      q2 = NearerEnd(c1, q2);
    }
    AwayFrom(c0, &A[0], &p2);
    AwayFrom(c1, &B[1], &q2);
    if (met2) {
      AdjustSnipParameter(c0, &p2);
      AdjustSnipParameter(c1, &q2);
    }
    A[1] = q2;
    B[0] = p2;
  } else {
    met = Meet(c0, c1, &p, &q);
    if (met < 0) return -2;
    Settle(met, snapEnds, c0, &p, c1, &q);
    A[0] = p;
    B[1] = q;
    // The far ends; at an exact tie the start.
    B[0] = CurveEnd(c0) - p > p - CurveStart(c0) ? CurveEnd(c0) : CurveStart(c0);
    A[1] = CurveEnd(c1) - q > q - CurveStart(c1) ? CurveEnd(c1) : CurveStart(c1);
  }
  if (B[0] < A[0]) {
    std::swap(A[0], B[0]);
    std::swap(A[1], B[1]);
  }
  if (orient && Dist3(c0, B[0], c1, B[1]) < Dist3(c0, B[0], c1, A[1])) std::swap(A[1], B[1]);
  return 0;
}

int SnipMany(Bspline** c, int n, int orient, int snapEnds, double* A, double* B) {
  for (int i = 0; i < n; ++i) {
    A[i] = CurveStart(c[i]);
    B[i] = CurveEnd(c[i]);
  }
  for (int i = 0; i + 1 < n; ++i) {
    double p = CurveEnd(c[i]), q = CurveStart(c[i + 1]);
    const int met = Meet(c[i], c[i + 1], &p, &q);
    if (met < 0) return -2;
    if (!met && snapEnds) {
      p = NearerEnd(c[i], p);
      q = NearerEnd(c[i + 1], q);
    }
    if (i > 0) AwayFrom(c[i], &A[i], &p);
    if (met) {
      AdjustSnipParameter(c[i], &p);
      AdjustSnipParameter(c[i + 1], &q);
    }
    B[i] = p;
    A[i + 1] = q;
  }
  Bspline* last = c[n - 1];
  double q = CurveEnd(last), p = CurveStart(c[0]);
  const int met = Meet(last, c[0], &q, &p);
  if (met < 0) return -2;
  if (!met && snapEnds) {
    if (orient) {
      q = NearerEnd(last, q);
      p = NearerEnd(c[0], p);
    } else {
      q = CurveEnd(last);
      p = CurveStart(c[0]);
    }
  }
  if (Near(last, q, A[n - 1])) q = Near(last, q, CurveStart(last)) ? CurveEnd(last) : CurveStart(last);
  if (met) {
    AdjustSnipParameter(last, &q);
    AdjustSnipParameter(c[0], &p);
  }
  B[n - 1] = q;
  if (Near(c[0], p, B[0])) p = Near(c[0], p, CurveStart(c[0])) ? CurveEnd(c[0]) : CurveStart(c[0]);
  A[0] = p;
  if (orient) {
    double r[3];
    Eval3DPointOnBsplOnSurfCoord(nullptr, c[0], B[0], 0, 0, r);
    for (int i = 1; i < n; ++i) {
      double a[3], b[3];
      Eval3DPointOnBsplOnSurfCoord(nullptr, c[i], A[i], 0, 0, a);
      Eval3DPointOnBsplOnSurfCoord(nullptr, c[i], B[i], 0, 0, b);
      auto d2 = [&](const double* x) {
        return (x[0] - r[0]) * (x[0] - r[0]) + (x[1] - r[1]) * (x[1] - r[1]) + (x[2] - r[2]) * (x[2] - r[2]);
      };
      if (d2(b) < d2(a)) {
        std::swap(A[i], B[i]);
        std::swap(a, b);
      }
      for (int k = 0; k < 3; ++k) r[k] = b[k];
    }
  }
  return 0;
}

void AppendNode(BsplineList** list, BsplineList* node) {
  while (*list) list = &(*list)->next;
  *list = node;
}

}  // namespace

int AdjustSnipParameter(const Bspline* crv, double* t) {
  const double t0 = CurveStart(crv), t1 = CurveEnd(crv), tol = ParTol(crv);
  const double d0 = std::fabs(*t - t0), d1 = std::fabs(*t - t1);
  if (d0 > tol && d1 > tol) return 0;
  if (d0 < tol * tol || d1 < tol * tol) return 0;
  if (d0 < tol) {
    *t = t0 + 1.5 * tol;
  } else if (d1 < tol) {
    *t = t1 - 1.5 * tol;
  }
  return 0;
}

int SnipTrimCurvesAtIntersections(BsplineList* list, BsplineList** replaced, int enable, int orient,
                                  int snapEnds) {
  if (!enable) return 0;
  const int n = GetNumCurvePieces(list);
  if (n < 1) return 0;
  TrackingScope scope;
  double* A = MallocArray<double>(n);
  double* B = MallocArray<double>(n);
  Bspline** c = MallocArray<Bspline*>(n);
  if (!A || !B || !c || KernelFailed()) return -2;
  int k = 0;
  for (BsplineList* node = list; node; node = node->next) c[k++] = node->item;
  const int found = n == 1   ? SnipOne(c[0], &A[0], &B[0])
                    : n == 2 ? SnipTwo(c[0], c[1], orient, snapEnds, A, B)
                             : SnipMany(c, n, orient, snapEnds, A, B);
  if (found != 0) return -2;
  k = 0;
  for (BsplineList* node = list; node; node = node->next, ++k) {
    if (!orient && B[k] < A[k]) std::swap(A[k], B[k]);
    UntrackedScope owned;
    Owned<Bspline, FreeBspline> piece;
    const int cut = ExtractParamRangeUnlessShort(c[k], 0, A[k], B[k], piece.receive());
    if (cut == 1) return -5;  // a snip shorter than the tolerance: no error left behind
    if (!piece || KernelFailed()) return -2;
    BsplineList* was = MallocNullBsplineList();
    BsplineList* listed = MallocNullBsplineList();
    if (!was || !listed || KernelFailed()) {
      Free(was);
      Free(listed);
      return -2;
    }
    Bspline* owner = c[k]->owner;
    piece->owner = owner;
    was->item = c[k];
    AppendNode(replaced, was);
    listed->item = piece.get();
    if (owner) {
      AppendNode(&owner->curves, listed);
    } else {
      Free(listed);
    }
    node->item = piece.release();
  }
  return 0;
}

namespace {

// The loop as one polyline with near-repeated samples dropped; first[k], last[k] are the
// polyline indices of curve k's ends. n + 1 slots, for the closing point. -2 on failure.
struct LoopPolyline {
  double* u = nullptr;
  double* v = nullptr;
  int n = 0;
  int* first = nullptr;
  int* last = nullptr;
  int curves = 0;
};

int SampleLoopPolyline(TrimList* loop, LoopPolyline* pl) {
  const BsplineList* nodes = loop ? loop->loopCurves : nullptr;
  pl->curves = GetNumCurvePieces(nodes);
  if (!pl->curves) return 0;
  const Bspline* srf = nodes->item->owner;
  const double tu = srf ? 1e-6 * (srf->umax - srf->umin) : 0.0;
  const double tv = srf ? 1e-6 * (srf->vmax - srf->vmin) : 0.0;
  // The sample arrays are the caller's of SampleCurvePlateProper: freed here on every path.
  auto ts = OwnedArray<double, Free>::Zeroed(pl->curves);
  int* counts = MallocArray<int>(pl->curves);
  pl->first = MallocArray<int>(pl->curves);
  pl->last = MallocArray<int>(pl->curves);
  if (KernelFailed()) return -2;
  int total = 0, k = 0;
  for (const BsplineList* n = nodes; n; n = n->next, ++k) {
    ts[k] = SampleCurvePlateProper(n->item, n->item->degreeU + 1, &counts[k]);
    if (!ts[k] || KernelFailed()) return -2;
    total += counts[k];
  }
  pl->u = MallocArray<double>(total + 1);
  pl->v = MallocArray<double>(total + 1);
  double* su = MallocArray<double>(total);
  double* sv = MallocArray<double>(total);
  if (KernelFailed()) return -2;
  k = 0;
  for (const BsplineList* n = nodes; n; n = n->next, ++k) {
    EvalNpntsOnObj(n->item, 0, 0, ts[k], nullptr, counts[k], su, sv, nullptr);
    for (int i = 0; i < counts[k]; ++i) {
      const bool repeat = pl->n > 0 && std::fabs(su[i] - pl->u[pl->n - 1]) <= tu &&
                          std::fabs(sv[i] - pl->v[pl->n - 1]) <= tv;
      if (!repeat) {
        pl->u[pl->n] = su[i];
        pl->v[pl->n] = sv[i];
        ++pl->n;
      }
      if (i == 0) pl->first[k] = pl->n - 1;
    }
    pl->last[k] = pl->n - 1;
  }
  if (pl->n > 1 && std::fabs(pl->u[pl->n - 1] - pl->u[0]) <= tu &&
      std::fabs(pl->v[pl->n - 1] - pl->v[0]) <= tv) {
    --pl->n;
    for (k = 0; k < pl->curves; ++k) {
      if (pl->first[k] == pl->n) pl->first[k] = 0;
      if (pl->last[k] == pl->n) pl->last[k] = 0;
    }
  }
  return 0;
}

}  // namespace

int IsTrimCurveLinearSelfIntersectPoints(TrimList* loop, double u[4], double v[4]) {
  TrackingScope scope;
  LoopPolyline pl;
  if (SampleLoopPolyline(loop, &pl) < 0) return -2;
  if (pl.n < 1) return 1;
  int i = 0, j = 0;
  if (!IsClosedPoints2DIntersect(pl.u, pl.v, pl.n, &i, &j)) return 1;
  const int at[4] = {i, i + 1, j, j + 1};
  bool allEnds = true;
  for (int k = 0; k < 4; ++k) {
    const int p = at[k] % pl.n;
    u[k] = pl.u[p];
    v[k] = pl.v[p];
    bool end = false;
    for (int c = 0; c < pl.curves && !end; ++c) end = pl.first[c] == p || pl.last[c] == p;
    allEnds = allEnds && end;
  }
  return allEnds ? -2 : -1;
}

int IsTrimCurveLinearSelfIntersect(TrimList* loop) {
  TrackingScope scope;
  LoopPolyline pl;
  if (SampleLoopPolyline(loop, &pl) < 0) return 0;
  if (pl.n < 1) return 1;
  int i = 0, j = 0;
  return IsClosedPoints2DIntersect(pl.u, pl.v, pl.n, &i, &j);
}

// ---- Closing loops --------------------------------------------------------------------------

namespace {

double* FirstPoint(Bspline* c, double uv[2]) {
  uv[0] = c->X[0][0];
  uv[1] = c->Y[0][0];
  return uv;
}
double* LastPoint(Bspline* c, double uv[2]) {
  const int k = c->degreeU + c->interiorU;
  uv[0] = c->X[0][k];
  uv[1] = c->Y[0][k];
  return uv;
}
void SetFirst(Bspline* c, const double uv[2]) {
  c->X[0][0] = uv[0];
  c->Y[0][0] = uv[1];
}
void SetLast(Bspline* c, const double uv[2]) {
  const int k = c->degreeU + c->interiorU;
  c->X[0][k] = uv[0];
  c->Y[0][k] = uv[1];
}
double Clamp(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }

double Gap3(const Bspline* srf, const double a[2], const double b[2]) {
  double pa[3], pb[3];
  Eval3DPointOnSurfCoord(srf, a[0], a[1], 0, 0, pa);
  Eval3DPointOnSurfCoord(srf, b[0], b[1], 0, 0, pb);
  return VecDist3(pa, pb);
}

// A new node at the head of *list; false on failure.
bool Push(BsplineList** list, Bspline* c) {
  UntrackedScope owned;
  BsplineList* n = MallocNullBsplineList();
  if (!n || KernelFailed()) return false;
  n->item = c;
  n->next = *list;
  *list = n;
  return true;
}

}  // namespace

int IsTwoCurvePiecesMerged(Bspline* srf, Bspline* a, Bspline* b, double endA[3], double startB[3],
                           double tol) {
  double pa[2], pb[2];
  LastPoint(a, pa);
  FirstPoint(b, pb);
  for (double* p : {pa, pb}) {
    p[0] = Clamp(p[0], srf->umin, srf->umax);
    p[1] = Clamp(p[1], srf->vmin, srf->vmax);
  }
  if (Gap3(srf, pa, pb) <= tol) {
    const double mid[2] = {0.5 * (pa[0] + pb[0]), 0.5 * (pa[1] + pb[1])};
    SetFirst(b, mid);
    SetLast(a, mid);
    return 1;
  }
  endA[0] = pa[0];
  endA[1] = pa[1];
  startB[0] = pb[0];
  startB[1] = pb[1];
  return 0;
}

namespace {

// Undoes MakeTrimCurveContinuous after a failure: the bridges come off the loop and the
// surface, nothing else changed.
BsplineList* RemoveBridges(TrimList* loop, BsplineList* inserted) {
  while (inserted) {
    BsplineList* next = inserted->next;
    Bspline* bridge = inserted->item;
    for (BsplineList** at = &loop->loopCurves; *at; at = &(*at)->next)
      if ((*at)->item == bridge) {
        BsplineList* gone = *at;
        *at = gone->next;
        Free(gone);
        break;
      }
    FreeBspline(bridge);
    Free(inserted);
    inserted = next;
  }
  return nullptr;
}

}  // namespace

BsplineList* MakeTrimCurveContinuous(Bspline* srf, TrimList* loop, double tol) {
  if (!srf || !loop || !loop->loopCurves) return nullptr;
  BsplineList* inserted = nullptr;
  BsplineList* node = loop->loopCurves;
  for (;;) {
    BsplineList* next = node->next;
    const bool closing = next == nullptr;
    Bspline* b = closing ? loop->loopCurves->item : next->item;
    double endA[3] = {}, startB[3] = {};
    if (!IsTwoCurvePiecesMerged(srf, node->item, b, endA, startB, tol)) {
      Bspline* bridge = AddCurve2CurveList(0, endA, startB, node, srf);
      if (!bridge) return RemoveBridges(loop, inserted);
      if (!Push(&inserted, bridge)) {
        BsplineList* bridgeNode = node->next;  // where AddCurve2CurveList put it
        node->next = bridgeNode->next;
        Free(bridgeNode);
        FreeBspline(bridge);
        return RemoveBridges(loop, inserted);
      }
    }
    if (closing) break;
    node = next;
  }
  return inserted;
}

int CheckObjSpanAndBlend(Bspline* srf, Bspline* crv, Bspline* next, double tol) {
  if (ControlPolygonSpan(crv, 0, 1) >= tol) return 0;
  if (GetBndryForBndryCrv(crv, srf) >= 0) return 0;
  double uv[2];
  SetFirst(next, FirstPoint(crv, uv));
  return 1;
}

BsplineList* RemoveTrimPiecesToTol(Bspline* srf, TrimList* loop, double tol) {
  BsplineList* removed = nullptr;
  if (!srf || !loop) return nullptr;
  BsplineList** at = &loop->loopCurves;
  while (*at && (*at)->next) {
    BsplineList* node = *at;
    if (CheckObjSpanAndBlend(srf, node->item, node->next->item, tol)) {
      if (!Push(&removed, node->item)) return removed;
      *at = node->next;
      Free(node);
    } else {
      at = &node->next;
    }
  }
  BsplineList* last = *at;
  if (last && last != loop->loopCurves && last->item != loop->loopCurves->item &&
      CheckObjSpanAndBlend(srf, last->item, loop->loopCurves->item, tol)) {
    if (!Push(&removed, last->item)) return removed;
    *at = nullptr;
    Free(last);
  }
  return removed;
}

BsplineList* TrimCurveMerge(Bspline* srf, TrimList* loop, BsplineList** inserted,
                            BsplineList** removed, double tol) {
  *inserted = MakeTrimCurveContinuous(srf, loop, tol);
  *removed = RemoveTrimPiecesToTol(srf, loop, tol);
  return *removed;
}

TrimList* RemoveSelfIntersectionToTol(Bspline* srf, TrimList* loops, double tol) {
  TrimList* lastLoop = nullptr;
  for (TrimList* l = loops; l; l = l->next) {
    lastLoop = l;
    auto snap = [&](Bspline* a, Bspline* b) {
      double pa[2], pb[2];
      LastPoint(a, pa);
      FirstPoint(b, pb);
      const double d = Gap3(srf, pa, pb);
      if (d > 0.0 && d < tol) {
        const double mid[2] = {0.5 * (pa[0] + pb[0]), 0.5 * (pa[1] + pb[1])};
        SetLast(a, mid);
        SetFirst(b, mid);
      }
    };
    BsplineList* n = l->loopCurves;
    if (!n) continue;
    for (; n->next; n = n->next) snap(n->item, n->next->item);
    if (n->item != l->loopCurves->item) snap(n->item, l->loopCurves->item);
  }
  return lastLoop;
}

int ConstructTrimCurveList(Bspline* srf, BsplineList* curves, int hole, int selfTest, double cu[4],
                           double cv[4], int snip, int orient, int snapEnds, BsplineList** replaced,
                           TrimList** out) {
  TrimList* loop = nullptr;
  {
    UntrackedScope owned;
    loop = MallocNullTrimList();
  }
  if (!loop || KernelFailed()) return -2;
  loop->loopCurves = curves;
  loop->hole = hole;
  loop->attached = 1;
  if (snip && SnipTrimCurvesAtIntersections(loop->loopCurves, replaced, snip, orient, snapEnds) != 0) {
    // The list's nodes stay the caller's on this refusal.
    Free(loop);
    if (out) *out = nullptr;
    return -2;
  }
  if (selfTest) {
    const int r = IsTrimCurveLinearSelfIntersectPoints(loop, cu, cv);
    if (r != 1) {
      FreeUnattachedTrimcurve(loop);
      if (out) *out = nullptr;
      return r;
    }
  }
  BsplineList *inserted = nullptr, *removed = nullptr;
  TrimCurveMerge(srf, loop, &inserted, &removed, GlobalTrimGapTol);
  FreeNodes(inserted);
  FreeNodes(removed);
  AddOrderedTrimCurve(srf, loop);
  if (out) *out = loop;
  return 0;
}

BsplineList* GetSiblingTrimCurveList(Bspline** curves, int start, int count, double endA[2],
                                     double endB[2], int* used) {
  if (IsTrimPiece(curves[start])) return nullptr;
  auto dist = [](const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1]); };
  FirstPoint(curves[start], endA);
  LastPoint(curves[start], endB);
  BsplineList* list = nullptr;
  BsplineList** tail = &list;
  auto append = [&](Bspline* c) {
    UntrackedScope owned;
    BsplineList* n = MallocNullBsplineList();
    if (!n || KernelFailed()) return false;
    n->item = c;
    *tail = n;
    tail = &n->next;
    return true;
  };
  if (!append(curves[start])) return nullptr;
  double startFirst[2], startLast[2];
  FirstPoint(curves[start], startFirst);
  LastPoint(curves[start], startLast);
  const double ownGap = dist(startFirst, startLast);
  int current = start;
  for (;;) {
    double best = ownGap;
    int choice = ownGap <= GlobalTrimGapTol ? start : -1;
    double open[2] = {endB[0], endB[1]};
    for (int j = 0; j < count; ++j) {
      if (used[j] || j == current) continue;
      double f[2], l[2];
      FirstPoint(curves[j], f);
      LastPoint(curves[j], l);
      const double dF = dist(endB, f), dL = dist(endB, l);
      // The chain continues from the curve's far end.
      const double d = dL <= dF ? dL : dF;
      if (d < best && d <= GlobalTrimGapTol) {
        best = d;
        choice = j;
        open[0] = dL <= dF ? f[0] : l[0];
        open[1] = dL <= dF ? f[1] : l[1];
      }
    }
    if (choice < 0) {
      used[current] = 1;
      FreeNodes(list);
      return nullptr;
    }
    if (choice == start) {
      used[start] = used[current] = 1;
      return list;
    }
    endB[0] = open[0];
    endB[1] = open[1];
    if (current != start) used[current] = 1;
    if (!append(curves[choice])) {
      FreeNodes(list);
      return nullptr;
    }
    current = choice;
  }
}

int GetAllTrimXYZArrays(const Bspline* srf, double*** u, double*** v, float*** x, float*** y,
                        float*** z, int* total, int* nCurves, int* nLoops, int* curvesPerLoop,
                        int** counts) {
  int samples = 0, curves = 0, loops = 0, most = 0;
  for (const TrimList* l = srf ? srf->trims : nullptr; l; l = l->next, ++loops) {
    curvesPerLoop[loops] = 0;
    for (const BsplineList* n = l->loopCurves; n; n = n->next, ++curves) {
      ++curvesPerLoop[loops];
      const int k = TrimCurveSampleCount(n->item);
      samples += k;
      if (k > most) most = k;
    }
  }
  *total = samples;
  *nCurves = curves;
  *nLoops = loops;
  double* fu = MallocArray<double>(samples);
  double* fv = MallocArray<double>(samples);
  float* fx = MallocArray<float>(samples);
  float* fy = MallocArray<float>(samples);
  float* fz = MallocArray<float>(samples);
  double** cu = MallocArray<double*>(curves);
  double** cv = MallocArray<double*>(curves);
  float** cx = MallocArray<float*>(curves);
  float** cy = MallocArray<float*>(curves);
  float** cz = MallocArray<float*>(curves);
  int* cn = MallocArray<int>(curves);
  double* t = MallocArray<double>(most);
  if (KernelFailed() || (samples && (!fu || !fv || !fx || !fy || !fz || !cu || !cv || !cx || !cy ||
                                     !cz || !cn || !t)))
    return 0;
  int c = 0, at = 0, l = 0;
  for (const TrimList* loop = srf ? srf->trims : nullptr; loop; loop = loop->next, ++l) {
    u[l] = cu + c;
    v[l] = cv + c;
    x[l] = cx + c;
    y[l] = cy + c;
    z[l] = cz + c;
    counts[l] = cn + c;
    for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++c) {
      cn[c] = TrimCurveSampleCount(n->item);
      cu[c] = fu + at;
      cv[c] = fv + at;
      cx[c] = fx + at;
      cy[c] = fy + at;
      cz[c] = fz + at;
      SampleTrimCurvePolyline(n->item, t, fu + at, fv + at);
      at += cn[c];
    }
  }
  if (samples) EvalNpntsOnObj_f(srf, 0, 0, fu, fv, samples, fx, fy, fz);
  Free(t);
  return 1;
}
