#include "surface/trimutils.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/creverse.h"
#include "bspline/isocurve.h"
#include "bspline/measure.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/sort.h"
#include "foundation/vec3.h"
#include "foundation/umalloc.h"
#include "curve/cintsct.h"
#include "curve/crvbrk.h"
#include "curve/crvintr.h"
#include "curve/crvutil.h"
#include "curve/trimpoly.h"
#include "surface/bnd2crv.h"
#include "surface/srfextend.h"
#include "surface/srfsnip.h"
#include "surface/startpnt.h"

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

int FindTrimCurveDirection(Bspline* srf, TrimList* loop) {
  // A loop without curves has no direction; callers treat -2 as a failure.
  if (!loop || !loop->loopCurves) return -2;
  constexpr int kN = 50;
  TrackingScope scope;
  double* u = MallocArray<double>(kN);
  double* v = MallocArray<double>(kN);
  if (!u || !v || KernelFailed()) return -2;
  double maxU = -kNoValue;
  int result = 1;
  // A curve flatter in v than this is horizontal: 1e-6 of the surface's v range, so that a
  // domain of any width is read alike (1e-6 itself without a surface).
  const double flat = srf && srf->kind == 2 ? 1e-6 * (srf->vmax - srf->vmin) : 1e-6;
  // Twice the signed area of the sampled loop, taken about its first sample so that a loop far
  // from the origin keeps its digits: a horizontal curve holding the rightmost sample ends at a
  // corner whose other curve, above or below it, alone tells the way round.
  double twiceArea = 0.0, u0 = 0.0, v0 = 0.0, pu = 0.0, pv = 0.0;
  bool first = true, horizontal = false;
  for (const BsplineList* n = loop->loopCurves; n; n = n->next) {
    const Bspline* c = n->item;
    const double t0 = CurveStart(c), t1 = CurveEnd(c);
    for (int i = 0; i < kN; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, c, t0 + (t1 - t0) * i / (kN - 1), 0, uv);
      u[i] = uv[0];
      v[i] = uv[1];
      if (first) u0 = pu = uv[0], v0 = pv = uv[1], first = false;
      twiceArea += (pu - u0) * (uv[1] - v0) - (uv[0] - u0) * (pv - v0);
      pu = uv[0], pv = uv[1];
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
    horizontal = v[m] - vLo <= flat;
    if (!horizontal) {
      const int j = NextDiffering(v, kN, k);
      result = j >= 0 && v[k] < v[j] ? 2 : 1;
    } else {
      // A horizontal curve: the way it runs at its top sample (the loop's area decides below).
      const int j = NextDiffering(u, kN, m);
      result = j >= 0 && u[m] > u[j] ? 2 : 1;
    }
  }
  if (horizontal && twiceArea != 0.0) result = twiceArea > 0.0 ? 2 : 1;
  return result;
}

void ReverseTrimCurveBsplines(TrimList* loop) { ReverseTrimLoop(loop); }

void ReverseInnerRelToOuter(Bspline* srf) {
  if (!srf) return;
  TrimList* outer = srf->trims;
  while (outer && outer->hole) outer = outer->next;
  if (!outer) return;
  // A direction that could not be found (memory) turns no hole: two failures are no match.
  const int dir = FindTrimCurveDirection(srf, outer);
  if (dir < 1) return;
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
// to q0 at 1): false for parallel segments (the sine of their angle below 1e-10, so that a
// parameter domain of any width is read alike) or s outside [0, 1); a vertex belongs to the
// segment that ends there.
bool PlineCrossing(double p0u, double p0v, double p1u, double p1v, double q0u, double q0v, double q1u,
                   double q1v, double* t) {
  const double dpu = p0u - p1u, dpv = p0v - p1v, dqu = q0u - q1u, dqv = q0v - q1v;
  const double ru = p1u - q1u, rv = p1v - q1v;
  const double d = dqv * dpu - dqu * dpv;
  if (!(std::fabs(d) >= 1e-10 * std::hypot(dpu, dpv) * std::hypot(dqu, dqv)) || d == 0.0) return false;
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
// (the points meeting as the search counts a meeting, relative to the curves' size, so that a
// loop is snipped alike at every size and place) and 0 for none; p and q keep their values when
// the estimate found nothing.
int Meet(Bspline* a, Bspline* b, double* p, double* q) {
  Intersect2Curves(a, b, p, q);
  if (KernelFailed()) return -2;
  return CurvesMeetAt(a, *p, b, *q) ? 1 : 0;
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
  if (!t || !RecordShapesSound({crv})) return 0;
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

int ModifyBndryTrimCurveForClosedSurfs(Bspline* srf, TrimList* loop) {
  if (!srf) return 0;
  SetObjClosed(srf);
  if (!srf->closedU && !srf->closedV) return 0;
  // Closed in u the seam curves run at one u (iso kind 1) and move in u, the X coordinate of
  // the parameter-plane curve; otherwise in v. Only iso curves are moved: setting every control
  // point of any other curve to the seam's value would flatten it.
  const bool inU = srf->closedU != 0;
  const int kind = inU ? 1 : 2;
  const double lo = inU ? srf->umin : srf->vmin, hi = inU ? srf->umax : srf->vmax;
  // Seam within 1e-4 of the parameter range, so that the test holds at every scale.
  const double tol = 1e-4 * (hi - lo);
  TrackingScope scope;
  for (TrimList* l = loop; l; l = l->next)
    for (BsplineList* node = l->loopCurves; node; node = node->next) {
      Bspline* c = node->item;
      if (!c || c->kind != 1 || IsoParameterKind(c, 1) != kind) continue;
      double* x = inU ? c->X[0] : c->Y[0];
      const int n = NumCtrlU(c);
      double to = 0.0;
      if (std::fabs(x[0] - hi) < tol)
        to = lo;
      else if (std::fabs(x[0] - lo) < tol)
        to = hi;
      else
        continue;
      double* was = MallocArray<double>(n);
      if (!was || KernelFailed()) return -2;
      std::copy_n(x, n, was);
      std::fill_n(x, n, to);
      // The test answers 0 for no crossing and for memory that ran out: only the first is success.
      const int crossing = IsTrimCurveLinearSelfIntersect(l);
      if (!crossing && !KernelFailed()) return 0;
      std::copy_n(was, n, x);
      if (KernelFailed()) return -2;
      Free(was);
    }
  return 1;
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
  if (!RecordsSound({srf, a, b})) return 0;
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
  // No curve is shorter than the distance between its ends. The length is measured on samples
  // at the curve's knots, taken once within an absolute 1e-6: a curve whose parameters run over
  // less than that measures nothing, however long it is.
  if (RecordsSound({srf, crv})) {
    double a[2], b[2];
    Eval2DPointOnCurve2Array(nullptr, crv, CurveStart(crv), 0, a);
    Eval2DPointOnCurve2Array(nullptr, crv, CurveEnd(crv), 0, b);
    if (Gap3(srf, a, b) >= tol) return 0;
  }
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

double TrimGapTolerance(const Bspline* srf) {
  // The global tolerance is set for parts of unit size; its share of a smaller part's diagonal.
  constexpr double kGapShare = 0.1;
  return std::fmin(GlobalTrimGapTol, kGapShare * ControlPointDiagonal(srf));
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
  return ConstructTrimCurveListWithin(srf, curves, hole, selfTest, cu, cv, snip, orient, snapEnds, replaced, out,
                                      TrimGapTolerance(srf));
}

int ConstructTrimCurveListWithin(Bspline* srf, BsplineList* curves, int hole, int selfTest, double cu[4],
                                 double cv[4], int snip, int orient, int snapEnds, BsplineList** replaced,
                                 TrimList** out, double gapTol) {
  TrimList* loop = nullptr;
  {
    UntrackedScope owned;
    loop = MallocNullTrimList();
  }
  if (out) *out = nullptr;
  if (!loop || KernelFailed()) {
    // Every refusal uses up the list's nodes, as on the later ones: no caller keeps them.
    Free(loop);
    FreeNodes(curves);
    return -2;
  }
  loop->loopCurves = curves;
  loop->hole = hole;
  loop->attached = 1;
  if (snip && SnipTrimCurvesAtIntersections(loop->loopCurves, replaced, snip, orient, snapEnds) != 0) {
    FreeUnattachedTrimcurve(loop);
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
  TrimCurveMerge(srf, loop, &inserted, &removed, gapTol);
  FreeNodes(inserted);
  FreeNodes(removed);
  AddOrderedTrimCurve(srf, loop);
  if (out) *out = loop;
  return 0;
}

BsplineList* GetSiblingTrimCurveList(Bspline** curves, int start, int count, double endA[2],
                                     double endB[2], int* used) {
  if (start < 0 || start >= count || !RecordArraySound(curves, count)) {
    SetKernelError(-2);
    return nullptr;
  }
  for (int i = 0; i < count; ++i)
    if (!curves[i]) {
      SetKernelError(-2);
      return nullptr;
    }
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

// ---- Sorted crossing lists and box-side curves ----------------------------------------------

int NextTrimCrossing(const BsplineList* trimNode, const TArrayNode* firstNode, double t,
                     int excludedSide, double* trimParamOut, int* sideOut, double* paramOut,
                     double* sortKeyOut) {
  const TArrayNode* best = nullptr;
  // A bare list node has no curve to take a range from: its parameters count as of range one.
  const double tol = trimNode && trimNode->item ? ParTol(trimNode->item) : 1e-6;
  for (const TArrayNode* n = firstNode; n; n = n->next)
    if (n->trimCurve == trimNode && n->trimParam - t > -tol &&
        n->side != excludedSide && (!best || n->trimParam < best->trimParam))
      best = n;
  if (!best) return 0;
  *trimParamOut = best->trimParam;
  *sideOut = best->side;
  *paramOut = best->param;
  *sortKeyOut = best->sortKey;
  return 1;
}

void NeighbourCrossing(const TArrayList* list, double t, double* paramOut, double* trimParamOut,
                       BsplineList** trimNodeOut, int forward, double* sortKeyOut) {
  if (!list || !list->head) return;
  const TArrayNode* before = nullptr;
  const TArrayNode* at = list->head;
  while (at && at->param != t) {
    before = at;
    at = at->next;
  }
  const TArrayNode* to = nullptr;
  if (forward) {
    to = at ? at->next : nullptr;
  } else if (at && before) {
    to = before;
  } else {
    // The head's predecessor, and the answer when no node has t, is the last node.
    for (to = list->head; to->next;) to = to->next;
  }
  if (!to) return;
  *paramOut = to->param;
  *trimParamOut = to->trimParam;
  *trimNodeOut = to->trimCurve;
  *sortKeyOut = to->sortKey;
}

void MarkCrossingUsed(TArrayList* list, double t) {
  if (!list) return;
  for (TArrayNode* n = list->head; n; n = n->next)
    if (n->trimParam == t) {
      n->used = 1;
      return;
    }
}

void MakeBoxSideCurve(Bspline* srf, int edge, int orientation, BsplineList** list, double au,
                      double av, double bu, double bv, int whole) {
  if (!srf || edge < 0 || edge > 3) return;
  const double u0 = whole ? srf->umin : std::min(au, bu), u1 = whole ? srf->umax : std::max(au, bu);
  const double v0 = whole ? srf->vmin : std::min(av, bv), v1 = whole ? srf->vmax : std::max(av, bv);
  // Orientation 1: edge 0 up in v, 1 up in u, 2 down in v, 3 down in u.
  double a[2], b[2];
  switch (edge) {
    case 0: a[0] = b[0] = srf->umin, a[1] = v0, b[1] = v1; break;
    case 1: a[1] = b[1] = srf->vmax, a[0] = u0, b[0] = u1; break;
    case 2: a[0] = b[0] = srf->umax, a[1] = v1, b[1] = v0; break;
    default: a[1] = b[1] = srf->vmin, a[0] = u1, b[0] = u0; break;
  }
  if (orientation != 1) std::swap(a, b);
  // Shorter than 1e-4 of the domain in both directions: a gap of round-off, no edge to fill.
  if (std::fabs(a[0] - b[0]) < 1e-4 * (srf->umax - srf->umin) &&
      std::fabs(a[1] - b[1]) < 1e-4 * (srf->vmax - srf->vmin))
    return;
  Bspline* c = nullptr;
  {
    UntrackedScope owned;  // the surface owns the curve from here on
    c = SurfPartEdge2CurveOnSurface(a[0], a[1], b[0], b[1], edge);
  }
  if (!c) return;
  AppendBsplToSurfCrvList(c, srf);
  if (KernelFailed()) {
    FreeBspline(c);
    return;
  }
  UntrackedScope owned;
  AppendBsplToList(list, c);
}

int PointInPolygonByFarPoint(double px, double py, double qx, double qy, const double* x,
                             const double* y, int n) {
  if (!x || !y) return 0;
  int crossings = 0;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    double s = 0.0, t = 0.0;
    if (Intersect2DSegments(px, py, qx, qy, x[i], y[i], x[j], y[j], &s, &t) && t > 0.0) ++crossings;
  }
  return crossings % 2;
}

// ---- Surface portions bounded by a chain of curves ------------------------------------------

namespace {

void ChainEnds(BsplineList* chain, double start[2], double end[2]) {
  BsplineList* last = chain;
  while (last->next) last = last->next;
  FirstPoint(chain->item, start);
  LastPoint(last->item, end);
}

// The box side a point lies on (0 u-min, 3 v-min, 2 u-max, 1 v-max; at a corner the later
// test wins), within 0.001 of the parameter's range; -1 for none.
int BoxSide(const Bspline* s, const double p[2]) {
  const double tu = 0.001 * (s->umax - s->umin), tv = 0.001 * (s->vmax - s->vmin);
  int side = -1;
  if (std::fabs(p[0] - s->umin) < tu) side = 0;
  if (std::fabs(p[1] - s->vmin) < tv) side = 3;
  if (std::fabs(p[0] - s->umax) < tu) side = 2;
  if (std::fabs(p[1] - s->vmax) < tv) side = 1;
  return side;
}

// The place of a point on side `side` along the box perimeter, counter-clockwise from
// (umin, vmin): v-min side [0, 1), u-max [1, 2), v-max [2, 3), u-min [3, 4).
double Perimeter(const Bspline* s, int side, const double p[2]) {
  const double fu = (p[0] - s->umin) / (s->umax - s->umin);
  const double fv = (p[1] - s->vmin) / (s->vmax - s->vmin);
  switch (side) {
    case 3: return std::min(std::max(fu, 0.0), 1.0);
    case 2: return 1.0 + std::min(std::max(fv, 0.0), 1.0);
    case 1: return 2.0 + std::min(std::max(1.0 - fu, 0.0), 1.0);
    default: return std::fmod(3.0 + std::min(std::max(1.0 - fv, 0.0), 1.0), 4.0);
  }
}

// Corner k of the perimeter (0 (umin, vmin), 1 (umax, vmin), 2 (umax, vmax), 3 (umin, vmax)).
void Corner(const Bspline* s, int k, double c[2]) {
  c[0] = k == 1 || k == 2 ? s->umax : s->umin;
  c[1] = k >= 2 ? s->vmax : s->vmin;
}

// The corners passed walking the perimeter from a to b, clockwise or counter-clockwise (a
// corner at a itself is not passed).
int CornersBetween(double a, double b, bool clockwise, int* corners) {
  int n = 0;
  double d = clockwise ? a - b : b - a;
  if (d <= 0) d += 4.0;
  const bool onCorner = a == std::floor(a);
  const double first = clockwise ? (onCorner ? a - 1 : std::floor(a)) : (onCorner ? a + 1 : std::ceil(a));
  for (int k = 0; k < 4; ++k) {
    const double c = clockwise ? first - k : first + k;
    if (std::fabs(c - a) < d) corners[n++] = ((int(c) % 4) + 4) % 4;
  }
  return n;
}

// The (u, v) polygon of the chain's samples (degree + 1 per span), in chain order.
bool ChainPolygon(BsplineList* chain, std::vector<double>& pu, std::vector<double>& pv) {
  for (BsplineList* n = chain; n; n = n->next) {
    int count = 0;
    double* t = SampleCurvePlateProper(n->item, n->item->degreeU + 1, &count);
    if (!t) return false;
    for (int i = 0; i < count; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, n->item, t[i], 0, uv);
      pu.push_back(uv[0]);
      pv.push_back(uv[1]);
    }
    Free(t);
  }
  return true;
}

double CurveRange(const Bspline* c) { return CurveEnd(c) - CurveStart(c); }

// Whether every control point of the 2D curve c lies on one side of the box of srf (within
// round-off of the parameter's range), as the box sides a portion is closed with do.
bool AlongBoxSide(const Bspline* s, const Bspline* c) {
  if (c->rational) return false;
  const int n = NumCtrlU(c);
  const double tu = 1e-9 * (s->umax - s->umin), tv = 1e-9 * (s->vmax - s->vmin);
  const double at[4] = {s->umin, s->vmax, s->umax, s->vmin};
  for (int side = 0; side < 4; ++side) {
    const bool inU = side % 2 == 0;
    bool all = true;
    for (int i = 0; i < n && all; ++i)
      all = std::fabs((inU ? c->X[0][i] : c->Y[0][i]) - at[side]) <= (inU ? tu : tv);
    if (all) return true;
  }
  return false;
}

// Extends the chain curve of node at its start (edge 0) or end (2) by length, tangent
// continuous; the extension takes its place in the chain and the surface's curve list and the
// old curve is freed. False when the extension failed (nothing changed).
bool ExtendChainEnd(Bspline* srf, BsplineList* node, int edge, double length) {
  Bspline* old = node->item;
  Bspline* ext = nullptr;
  {
    UntrackedScope owned;  // the surface owns the extension
    ext = ExtendObjectByBridge(old, length, 1, edge, 1, 1.0);
  }
  if (!ext || KernelFailed()) {
    FreeBspline(ext);
    return false;
  }
  ext->owner = srf;
  for (BsplineList* n = srf->curves; n; n = n->next)
    if (n->item == old) n->item = ext;
  node->item = ext;
  FreeBspline(old);
  return true;
}

// The entry of the list whose chain parameter is exactly p (the first).
TArrayNode* EntryAt(TArrayList* list, double p) {
  for (TArrayNode* n = list->head; n; n = n->next)
    if (n->param == p) return n;
  return nullptr;
}

// The part of curve c from a to b (b < a: running backwards), null for a part shorter than the
// piece tolerance (not an error).
Bspline* PartBetween(Bspline* c, double a, double b) {
  if (std::fabs(a - b) <= 1e-6 * CurveRange(c)) return nullptr;
  const double tol = 1e-6 * CurveRange(c);
  if (std::fabs(std::min(a, b) - CurveStart(c)) <= tol && std::fabs(std::max(a, b) - CurveEnd(c)) <= tol) {
    Bspline* copy = CopyBsplineStruct(c);
    if (copy && b < a) reverseBspline(copy);
    return copy;
  }
  return ExtractObjFromObjGivenPar(c, 0, a, b);
}

// Puts a new curve on the surface and at the tail of the result list.
bool Adopt(Bspline* srf, Bspline* c, BsplineList** result) {
  AppendBsplToSurfCrvList(c, srf);
  if (KernelFailed()) return false;
  UntrackedScope owned;  // the result list becomes a loop of the surface
  return AppendBsplToList(result, c) != nullptr;
}

// Whether the point lies inside the portion polygon, tested from the far point. A point on a
// side of the box of s may lie on the polygon's own stretch of that side, within round-off of it
// on either hand: it is moved a little into the box (far less than the 0.01 of a curve's range
// the points tested lie from a crossing) and tested from outside that side.
int InPortionPolygon(const Bspline* s, const double p[2], const double* polyU, const double* polyV, int nPoly,
                     const double far[2]) {
  double uv[2] = {p[0], p[1]};
  double q[2] = {far[0], far[1]};
  if (s) {
    constexpr double kIntoBox = 1e-4;
    const double du = s->umax - s->umin, dv = s->vmax - s->vmin;
    const double tu = 1e-6 * du, tv = 1e-6 * dv;
    const double mu = 0.5 * (s->umin + s->umax), mv = 0.5 * (s->vmin + s->vmax);
    if (std::fabs(uv[0] - s->umin) <= tu) uv[0] = s->umin + kIntoBox * du, q[0] = s->umin - du, q[1] = mv;
    else if (std::fabs(uv[0] - s->umax) <= tu) uv[0] = s->umax - kIntoBox * du, q[0] = s->umax + du, q[1] = mv;
    else if (std::fabs(uv[1] - s->vmin) <= tv) uv[1] = s->vmin + kIntoBox * dv, q[0] = mu, q[1] = s->vmin - dv;
    else if (std::fabs(uv[1] - s->vmax) <= tv) uv[1] = s->vmax - kIntoBox * dv, q[0] = mu, q[1] = s->vmax + dv;
  }
  return PointInPolygonByFarPoint(uv[0], uv[1], q[0], q[1], polyU, polyV, nPoly);
}

}  // namespace

void FreeTArrayNodes(TArrayList* list) {
  for (TArrayNode* n = list->head; n;) {
    TArrayNode* next = n->next;
    Free(n);
    n = next;
  }
  list->head = list->tail = nullptr;
  list->count = 0;
}

int FindIfInOutSurfPortion(Bspline* trimCurve, double param, const double* polyU,
                           const double* polyV, int nPoly, const double far[2], int flag) {
  if (!RecordsSound({trimCurve})) return 2;
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, trimCurve, param + 0.01 * CurveRange(trimCurve), 0, uv);
  const int inside = InPortionPolygon(trimCurve->owner, uv, polyU, polyV, nPoly, far);
  return (inside != 0) != (flag != 0) ? 1 : 2;
}

void ShoveIntoOrderedTArrayList(const double* params, const double* trimParams, const int* kinds,
                                BsplineList* trimNode, Bspline* chainCurve, int n,
                                TArrayList* list, int tag) {
  for (int i = 0; i < n; ++i) {
    bool seen = false;
    for (TArrayNode* e = list->head; e && !seen; e = e->next)
      seen = e->pieceA == chainCurve && e->kind == tag &&
             std::fabs(e->param - params[i]) < 1e-4 * CurveRange(chainCurve);
    if (seen) continue;
    TArrayNode* node = CallocArray<TArrayNode>(1);
    if (!node || KernelFailed()) return;
    node->param = node->sortKey = params[i];
    node->trimParam = trimParams[i];
    node->side = kinds[i];
    node->trimCurve = trimNode;
    node->kind = tag;
    node->pieceA = chainCurve;
    // Before the first entry of the same chain curve with a larger key, else at the end.
    TArrayNode** at = &list->head;
    while (*at && !((*at)->pieceA == chainCurve && (*at)->sortKey > node->sortKey)) at = &(*at)->next;
    node->next = *at;
    *at = node;
    ++list->count;
  }
}

int ShoveIntoTArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* chainCurve,
                        TArrayList* list, const double* polyU, const double* polyV, int nPoly,
                        const double far[2], int flag, Bspline*) {
  const int n = hits->count;
  if (n < 1) return 0;
  Owned<double, Free> p(MallocArray<double>(n)), tp(MallocArray<double>(n));
  Owned<int, Free> ids(MallocArray<int>(n)), kinds(MallocArray<int>(n));
  Owned<double, Free> sp(MallocArray<double>(n));
  if (!p || !tp || !ids || !kinds || !sp || KernelFailed()) return -2;
  int k = 0;
  for (CrvIntrNode* h = hits->first; h && k < n; h = h->next, ++k) {
    p[k] = h->t1;
    tp[k] = h->t2;
    ids[k] = k;
  }
  HeapSort2FloatInt4(k, p.get(), ids.get());
  for (int i = 0; i < k; ++i) sp[i] = tp[ids[i]];
  for (int i = 0; i < k; ++i)
    kinds[i] = FindIfInOutSurfPortion(trimNode->item, sp[i], polyU, polyV, nPoly, far, flag);
  ShoveIntoOrderedTArrayList(p.get(), sp.get(), kinds.get(), trimNode, chainCurve, k, list, 1);
  return KernelFailed() ? -2 : 0;
}

int GetCrvIntrList(Bspline* srf, Bspline* chainCurve, TArrayList* list, CrvIntrList** scratch,
                   const double* polyU, const double* polyV, int nPoly, const double far[2],
                   int flag, double tol) {
  for (TrimList* loop = srf->trims; loop; loop = loop->next)
    for (BsplineList* node = loop->loopCurves; node; node = node->next) {
      if (*scratch) (*scratch)->count = 0;
      if (CrvIntersect(chainCurve, node->item, scratch, tol, 0) == -2) return -2;
      if ((*scratch)->count > 0 &&
          ShoveIntoTArrayList(*scratch, node, chainCurve, list, polyU, polyV, nPoly, far, flag, srf) != 0)
        return -2;
      // The nodes found go; the head stays for the next pair.
      ClearCrvIntrList(*scratch);
    }
  return 0;
}

namespace {

// Where the curve c first stands in the chain, -1 where it is not in it.
int ChainPosition(const BsplineList* chain, const Bspline* c) {
  int k = 0;
  for (const BsplineList* n = chain; n; n = n->next, ++k)
    if (n->item == c) return k;
  return -1;
}

// The portion polygon with the far point its tests are made from, and how near a point of a
// loop lies to it when the loop runs along the chain.
struct PortionPolygon {
  const Bspline* srf;
  const double* u;
  const double* v;
  int n;
  const double* far;
  double along;
};

// Whether p lies on an edge of the polygon. Edges along a side of the box are passed over: a loop
// runs along them on the surface's boundary, and InPortionPolygon settles points there.
bool OnPortionPolygon(const PortionPolygon& P, const double p[2]) {
  const Bspline* s = P.srf;
  const double tu = 1e-9 * (s->umax - s->umin), tv = 1e-9 * (s->vmax - s->vmin);
  auto both = [](double a, double b, double at, double tol) {
    return std::fabs(a - at) <= tol && std::fabs(b - at) <= tol;
  };
  for (int i = 0; i < P.n; ++i) {
    const int j = i + 1 < P.n ? i + 1 : 0;
    if (both(P.u[i], P.u[j], s->umin, tu) || both(P.u[i], P.u[j], s->umax, tu) ||
        both(P.v[i], P.v[j], s->vmin, tv) || both(P.v[i], P.v[j], s->vmax, tv))
      continue;
    const double a[2] = {P.u[i], P.v[i]}, b[2] = {P.u[j], P.v[j]};
    double foot[2], d2 = 0.0, t = 0.0;
    LineSegPnt2DMinDistSq(p, a, b, foot, &d2, &t);
    if (d2 <= P.along * P.along) return true;
  }
  return false;
}

// The side of the polygon the loop lies on beside its point at t on node, forward or backward
// along it: steps of 0.01 of each curve's range pass over the points on the polygon (where the
// loop runs along the chain) to the first one off it. 1 inside, 0 outside, -1 when the loop runs
// along the chain all the way round. *along: the first step was on the polygon.
int LoopSideFrom(const PortionPolygon& P, TrimList* loop, BsplineList* node, double t, bool forward, bool* along) {
  constexpr int kSteps = 100;
  *along = false;
  bool firstStep = true;
  const int nCurves = GetNumCurvePieces(loop->loopCurves);
  for (int c = 0; c <= nCurves; ++c) {
    const Bspline* crv = node->item;
    const double h = CurveRange(crv) / kSteps;
    for (int k = 1;; ++k) {
      const double at = forward ? t + k * h : t - k * h;
      // The curve's far end is the next curve's near end: a corner, tested from there on.
      if (forward ? at > CurveEnd(crv) - 0.5 * h : at < CurveStart(crv) + 0.5 * h) break;
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, crv, at, 0, uv);
      const bool on = OnPortionPolygon(P, uv);
      if (firstStep) *along = on;
      firstStep = false;
      if (!on) return InPortionPolygon(P.srf, uv, P.u, P.v, P.n, P.far) != 0 ? 1 : 0;
    }
    if (forward) {
      node = node->next ? node->next : loop->loopCurves;
      t = CurveStart(node->item);
    } else {
      BsplineList* prev = loop->loopCurves;
      while (prev->next && prev->next != node) prev = prev->next;
      node = prev;
      t = CurveEnd(node->item);
    }
  }
  return -1;
}

// Settles the crossings of the chain with the loops before the walk. A meeting at the end of a
// trim curve (or of a chain curve) is the one at the start of the next: a corner meets both of
// its sides, and the corner is one crossing. A meeting where the loop comes back to the side of
// the chain it came from touches the chain and crosses nothing, nor does the first end of a
// stretch where the loop runs along the chain (its other end is the crossing, if any). Each
// crossing kept gets its side by where the loop runs after it; the list is left in chain order.
void SettleCrossings(Bspline* srf, BsplineList* chain, TArrayList* list, const PortionPolygon& P, int keep) {
  std::vector<TArrayNode*> entries;
  for (TArrayNode* e = list->head; e; e = e->next) entries.push_back(e);
  for (TArrayNode* e : entries) {
    TrimList* loop = nullptr;
    if (!GetTrimCurveOfTrimPiece(e->trimCurve, srf->trims, &loop)) continue;
    const Bspline* trim = e->trimCurve->item;
    if (e->trimParam >= CurveEnd(trim) - ParTol(trim)) {
      e->trimCurve = e->trimCurve->next ? e->trimCurve->next : loop->loopCurves;
      e->trimParam = CurveStart(e->trimCurve->item);
    }
    const int k = ChainPosition(chain, e->pieceA);
    if (k < 0 || e->param < CurveEnd(e->pieceA) - ParTol(e->pieceA)) continue;
    BsplineList* at = chain;
    for (int i = 0; i < k; ++i) at = at->next;
    // The chain is walked as closed; a box side after it has no crossings of its own.
    Bspline* next = at->next ? at->next->item : chain->item;
    if (next == e->pieceA || AlongBoxSide(srf, next)) continue;
    e->pieceA = next;
    e->param = e->sortKey = CurveStart(next);
  }
  std::stable_sort(entries.begin(), entries.end(), [&](const TArrayNode* a, const TArrayNode* b) {
    const int ia = ChainPosition(chain, a->pieceA), ib = ChainPosition(chain, b->pieceA);
    return ia != ib ? ia < ib : a->sortKey < b->sortKey;
  });
  std::vector<TArrayNode*> kept;
  for (TArrayNode* e : entries) {
    bool drop = false;
    for (const TArrayNode* o : kept)
      drop = drop || (o->pieceA == e->pieceA && std::fabs(o->param - e->param) <= ParTol(e->pieceA) &&
                      o->trimCurve == e->trimCurve &&
                      std::fabs(o->trimParam - e->trimParam) <= ParTol(e->trimCurve->item));
    TrimList* loop = nullptr;
    if (!drop && GetTrimCurveOfTrimPiece(e->trimCurve, srf->trims, &loop)) {
      bool alongAfter = false, alongBefore = false;
      const int after = LoopSideFrom(P, loop, e->trimCurve, e->trimParam, true, &alongAfter);
      const int before = LoopSideFrom(P, loop, e->trimCurve, e->trimParam, false, &alongBefore);
      drop = after < 0 || alongAfter || before == after;
      e->side = (after != 0) != (keep != 0) ? 1 : 2;
    }
    if (drop) {
      Free(e);
      continue;
    }
    kept.push_back(e);
  }
  list->head = list->tail = nullptr;
  list->count = 0;
  for (TArrayNode* e : kept) {
    e->prev = list->tail;
    e->next = nullptr;
    (list->tail ? list->tail->next : list->head) = e;
    list->tail = e;
    ++list->count;
  }
}

// Whether the chain runs inside the surface's region before its first crossing (the list's
// head). Its start may lie on a loop (a hole's corner): judged halfway from the start to that
// crossing, or, for a chain starting at it, halfway to the next one, where the chain has crossed.
bool ChainStartsInside(Bspline* srf, BsplineList* chain, const TArrayList* list) {
  const TArrayNode* h = list->head;
  Bspline* c0 = chain->item;
  double t = 0.5 * (CurveStart(c0) + CurveEnd(c0));
  bool crossed = false;
  if (h->pieceA == c0 && h->param > CurveStart(c0) + ParTol(c0)) {
    t = 0.5 * (CurveStart(c0) + h->param);
  } else if (h->pieceA == c0) {
    crossed = true;
    t = 0.5 * (h->param + (h->next && h->next->pieceA == c0 ? h->next->param : CurveEnd(c0)));
  }
  double uv[2];
  Eval2DPointOnCurve2Array(nullptr, c0, t, 0, uv);
  return (IsPointInTrim(srf, uv[0], uv[1]) != 0) != crossed;
}

// The crossing next to e along the chain, forward or backward. The chain is closed (its ends
// meet, or box sides close it): past its last crossing it comes round to its first, and back.
TArrayNode* ChainNeighbour(const TArrayList* list, TArrayNode* e, bool forward) {
  if (forward) return e->next ? e->next : list->head;
  TArrayNode* prev = list->head;
  while (prev->next && prev->next != e) prev = prev->next;
  return prev;
}

// The chain between the crossings e0 and e1 running forward or backward along it; a chain
// walked round a closed portion passes its end (and its start) when e1 lies behind e0 that way.
// The first new node, or null as FindIfAnyPortionCurve.
BsplineList* ChainStretch(Bspline* srf, BsplineList* chain, const TArrayNode* e0, const TArrayNode* e1, bool forward,
                          BsplineList** out) {
  const double p0 = e0->param, p1 = e1->param;
  BsplineList* before = *out;
  while (before && before->next) before = before->next;
  auto first = [&]() { return before ? before->next : *out; };
  std::vector<Bspline*> curves;
  for (BsplineList* n = chain; n; n = n->next) curves.push_back(n->item);
  const int n = int(curves.size());
  const int i0 = ChainPosition(chain, e0->pieceA), i1 = ChainPosition(chain, e1->pieceA);
  if (i0 < 0 || i1 < 0) return nullptr;
  auto add = [&](Bspline* c, double a, double b) {
    Bspline* part = PartBetween(c, a, b);
    if (!part) return !KernelFailed();
    if (!Adopt(srf, part, out)) {
      FreeBspline(part);
      return false;
    }
    return true;
  };
  Bspline* c0 = curves[i0];
  Bspline* c1 = curves[i1];
  if (i0 == i1 && (forward ? p0 <= p1 : p0 >= p1)) return add(c0, p0, p1) ? first() : nullptr;
  auto head = [&](Bspline* c) { return forward ? CurveStart(c) : CurveEnd(c); };
  auto tail = [&](Bspline* c) { return forward ? CurveEnd(c) : CurveStart(c); };
  if (!add(c0, p0, tail(c0))) return nullptr;
  const int step = forward ? 1 : n - 1;
  for (int k = (i0 + step) % n; k != i1; k = (k + step) % n)
    if (!add(curves[k], head(curves[k]), tail(curves[k]))) return nullptr;
  if (!add(c1, head(c1), p1)) return nullptr;
  return first();
}

}  // namespace

BsplineList* FindIfAnyPortionCurve(Bspline* srf, BsplineList* chain, TArrayList* list, double p0,
                                   double p1, BsplineList** out) {
  // Sides of a closed chain over one parameter range cross the loops at equal parameters, so a
  // parameter alone may name several crossings. The pair is looked up as the walk takes it: a
  // crossing and its neighbour along the chain. Among pairs alike comes first the one the walk
  // stands at: the crossing it left its loop at marked used and the neighbour not yet; then the
  // one the curves in *out end at (the loop's stretch reaching the crossing; on the walk's last
  // step both ends are marked); then the way chain order gives. Parameters of no such pair name
  // their first crossings, in chain order.
  double tail[2] = {0.0, 0.0};
  const BsplineList* last = *out;
  while (last && last->next) last = last->next;
  if (last) Eval2DPointOnCurve2Array(nullptr, last->item, CurveEnd(last->item), 0, tail);
  TArrayNode *e0 = nullptr, *e1 = nullptr;
  bool forward = true;
  std::tuple<int, double, int> best(-1, 0.0, 0);  // marks, the gap negated, chain order
  for (TArrayNode* e = list->head; e; e = e->next) {
    if (e->param != p0 || ChainPosition(chain, e->pieceA) < 0) continue;
    double at[2] = {tail[0], tail[1]};
    if (last) Eval2DPointOnCurve2Array(nullptr, e->pieceA, e->param, 0, at);
    const double gap = std::hypot(at[0] - tail[0], at[1] - tail[1]);
    for (int way = 0; way < 2; ++way) {
      TArrayNode* n = ChainNeighbour(list, e, way == 0);
      if (n == e || n->param != p1 || ChainPosition(chain, n->pieceA) < 0) continue;
      const bool ahead = ChainPosition(chain, e->pieceA) < ChainPosition(chain, n->pieceA) ||
                         (e->pieceA == n->pieceA && p0 <= p1);
      const std::tuple<int, double, int> rank(2 * (e->used != 0) + (n->used == 0), -gap, (way == 0) == ahead);
      if (rank > best) best = rank, e0 = e, e1 = n, forward = way == 0;
    }
  }
  if (KernelFailed()) return nullptr;
  if (!e0) {
    e0 = EntryAt(list, p0);
    e1 = EntryAt(list, p1);
    if (!e0 || !e1) return nullptr;
    const int i0 = ChainPosition(chain, e0->pieceA), i1 = ChainPosition(chain, e1->pieceA);
    forward = i0 < i1 || (i0 == i1 && p0 <= p1);
  }
  if (ChainPosition(chain, e0->pieceA) < 0 || ChainPosition(chain, e1->pieceA) < 0) return nullptr;
  return ChainStretch(srf, chain, e0, e1, forward, out);
}

// Method: the walk starts at a crossing where a trim loop runs into the portion (side 1); it
// keeps the loop from there to the next crossing where it leaves (side 2), then the chain from
// that crossing to its neighbour along the chain, which enters a loop again, and so on until it
// reaches its start. Every step consumes a crossing, so more steps than crossings cannot close.
int CreateSurfPortionWithTrim(Bspline* srf, TArrayList* list, BsplineList* chain,
                              BsplineList** loopCurves, TrimList*** released, int* nReleased) {
  *loopCurves = nullptr;
  TArrayNode* head = list->head;
  if (!head) return -2;
  TrimList* loop = nullptr;
  if (!GetTrimCurveOfTrimPiece(head->trimCurve, srf->trims, &loop)) return -2;
  BsplineList* node = head->trimCurve;
  double trimParam = head->trimParam, param = head->param, key = 0.0;
  int forward = 0, side = 0;
  if (head->side == 2) {
    forward = 1;
    bool found = false;
    double from = trimParam;
    for (int k = 0; k <= GetNumCurvePieces(loop->loopCurves) && !found; ++k) {
      found = NextTrimCrossing(node, list->head, from, 2, &trimParam, &side, &param, &key) == 1;
      if (!found) {
        node = node->next ? node->next : loop->loopCurves;
        from = CurveStart(node->item);
      }
    }
    if (!found) return -2;
  }
  // Crossings are told apart by their entries: chain curves over the same parameter range
  // cross the loops at equal parameters (a symmetric polygon's sides do).
  auto entryOf = [&](const BsplineList* trim, double t, double p, int sd) -> TArrayNode* {
    for (TArrayNode* e = list->head; e; e = e->next)
      if (e->trimCurve == trim && e->trimParam == t && e->param == p && e->side == sd) return e;
    return nullptr;
  };
  TArrayNode* const startEntry = head->side == 2 ? entryOf(node, trimParam, param, side) : head;
  if (!startEntry) return -2;
  TArrayNode* entry = startEntry;
  // The way along the chain is the one that runs into the surface's region from the crossings
  // the walk leaves a loop at. Read off the first crossing, it holds for a chain that runs into
  // the region there, as one from a side of the box does; a closed chain starting inside the
  // region leaves it there, and its way is the other one, round the chain's end.
  double first[2];
  FirstPoint(chain->item, first);
  if (BoxSide(srf, first) < 0 && ChainStartsInside(srf, chain, list)) forward = !forward;
  BsplineList* result = nullptr;
  auto fail = [&]() {
    FreeCurvesAndNodes(result);
    return -2;
  };
  // The loops walked, released by the caller once the walk is done: a loop may be walked again.
  auto remember = [&](TrimList* l) {
    for (int i = 0; i < *nReleased; ++i)
      if ((*released)[i] == l) return true;
    TrimList** grown = static_cast<TrimList**>(Realloc(*released, sizeof(TrimList*) * (*nReleased + 1)));
    if (!grown || KernelFailed()) return false;
    *released = grown;
    grown[(*nReleased)++] = l;
    return true;
  };
  for (int steps = 0; steps <= list->count; ++steps) {
    if (!GetTrimCurveOfTrimPiece(node, srf->trims, &loop) || !remember(loop)) return fail();
    entry->used = 1;
    // Along the loop to where it leaves the portion.
    double from = trimParam, exitTrim = 0.0, exitParam = 0.0, exitKey = 0.0;
    bool left = false;
    for (int k = 0; k <= GetNumCurvePieces(loop->loopCurves) + 1; ++k) {
      left = NextTrimCrossing(node, list->head, from, 1, &exitTrim, &side, &exitParam, &exitKey) == 1;
      Bspline* part = PartBetween(node->item, from, left ? exitTrim : CurveEnd(node->item));
      if (KernelFailed() || (part && !Adopt(srf, part, &result))) {
        FreeBspline(part);
        return fail();
      }
      if (left) break;
      node = node->next ? node->next : loop->loopCurves;
      from = CurveStart(node->item);
    }
    TArrayNode* exit = left ? entryOf(node, exitTrim, exitParam, side) : nullptr;
    if (!exit) return fail();
    exit->used = 1;
    // Along the chain to the neighbouring crossing.
    TArrayNode* next = ChainNeighbour(list, exit, forward != 0);
    if (!ChainStretch(srf, chain, exit, next, forward != 0, &result) && KernelFailed()) return fail();
    if (next == startEntry) {
      *loopCurves = result;
      return 0;
    }
    entry = next;
    node = next->trimCurve;
    trimParam = next->trimParam;
  }
  return fail();
}

int ConstructTrimmedSurfBndryPortionTrim(Bspline* srf, BsplineList** chain, const double far[2],
                                         const double* polyU, const double* polyV, int keep,
                                         BsplineList** curveList, int nPoly) {
  if (!srf || !srf->trims || !chain || !*chain) return -2;
  // Bridges where successive chain curves do not meet.
  for (BsplineList* n = *chain; n && n->next; n = n->next) {
    double endA[3], startB[3];
    if (IsTwoCurvePiecesMerged(srf, n->item, n->next->item, endA, startB, TrimGapTolerance(srf))) continue;
    Bspline* bridge = MallocNullBspline();
    if (!bridge) return -2;
    bridge->kind = 1;
    bridge->dimension = 2;
    MkLine2(endA, startB, bridge);
    BsplineList* node = MallocNullBsplineList();
    if (KernelFailed() || !node) {
      FreeBspline(bridge);
      return -2;
    }
    AppendBsplToSurfCrvList(bridge, srf);
    node->item = bridge;
    node->next = n->next;
    n->next = node;
    n = node;
  }
  if (!IsOuterTrim(srf)) {
    TrimList* boundary = CreateSurfBoundaryAsTrimCurveBspline(srf);
    if (!boundary) return -2;
    AddOrderedTrimCurve(srf, boundary);
  }
  ReverseInnerRelToOuter(srf);

  TrackingScope scope;
  TArrayList list = {nullptr, nullptr, 0};
  CrvIntrList* hits = nullptr;
  int r = 0;
  // A chain curve along a side of the box lies on the surface's boundary: where a loop runs
  // along it too (the box as outer loop) their meetings are ends of a shared stretch, no
  // crossing into the portion, and the walk takes the loop there instead.
  for (BsplineList* n = *chain; n && r == 0; n = n->next)
    if (!AlongBoxSide(srf, n->item))
      r = GetCrvIntrList(srf, n->item, &list, &hits, polyU, polyV, nPoly, far, keep, 1e-6);
  FreeCrvIntrList(hits);
  if (r != 0) return -2;
  // A loop lies on the chain when within round-off of the parameter rectangle's size.
  const PortionPolygon P{srf, polyU, polyV, nPoly, far,
                         1e-9 * std::hypot(srf->umax - srf->umin, srf->vmax - srf->vmin)};
  SettleCrossings(srf, *chain, &list, P, keep);
  TrimList** walked = nullptr;
  int nWalked = 0;
  if (list.head) {
    BsplineList* loopCurves = nullptr;
    r = CreateSurfPortionWithTrim(srf, &list, *chain, &loopCurves, &walked, &nWalked);
    if (r != 0) return -2;
    // A crossing the closed walk never reached bounds another region of the picked side: the
    // side falls apart into pieces that one loop cannot bound, and keeping the piece walked
    // would drop the others.
    for (TArrayNode* e = list.head; e; e = e->next)
      if (!e->used && e->trimParam != -100.0) {
        FreeCurvesAndNodes(loopCurves);
        return -2;
      }
    // The new loop's curves replace the chain.
    FreeCurvesAndNodes(*chain);
    *chain = loopCurves;
  }
  // Loops the walk did not touch stay or go by where they lie against the portion.
  for (TrimList* l = srf->trims; l;) {
    TrimList* next = l->next;
    bool crossed = false;
    for (TArrayNode* e = list.head; e && !crossed; e = e->next)
      for (BsplineList* c = l->loopCurves; c && !crossed; c = c->next) crossed = e->trimCurve == c;
    if (!crossed && l->loopCurves) {
      // Judged off the chain: a loop touching it lies on the side it comes back to.
      bool along = false;
      const int inside = LoopSideFrom(P, l, l->loopCurves, CurveStart(l->loopCurves->item), true, &along);
      if ((keep && inside == 1) || (!keep && inside == 0)) FreeTrimCurve(l, srf);
    }
    l = next;
  }
  // The walked loops go last: the walk needed them until it closed.
  for (int i = 0; i < nWalked; ++i) {
    TrimList* l = walked[i];
    if (curveList) {
      for (BsplineList* c = l->loopCurves; c; c = c->next) {
        UntrackedScope owned;
        AppendBsplToList(curveList, c->item);
      }
      FreeTrimCurve(l, srf);
    } else {
      FreeTrimCurveBsplines(l);
    }
  }
  Free(walked);
  FreeTArrayNodes(&list);
  scope.keep();
  return KernelFailed() ? -2 : 0;
}

int ConstructSurfBndryPortionTrim(BsplineList* chain, float pu, float pv, int hole, int selfTest,
                                  double cu[4], double cv[4], int snip, int orient,
                                  BsplineList** replaced, TrimList** out) {
  if (out) *out = nullptr;
  // Every refusal uses up the chain's nodes, as ConstructTrimCurveList's refusals do: the walk
  // may have put new nodes in the old ones' place, so the caller could not free them itself.
  if (!chain || !chain->item || !chain->item->owner) {
    FreeNodes(chain);
    return -2;
  }
  Bspline* srf = chain->item->owner;
  double start[2], end[2];
  ChainEnds(chain, start, end);
  // The global gap is set for a parameter rectangle of unit size; on a smaller one its share of
  // the rectangle's diagonal, or a chain across a rectangle of side 0.01 would be taken as closed.
  constexpr double kClosedShare = 0.1;
  const double gap =
      std::fmin(GlobalTrimGapTol, kClosedShare * std::hypot(srf->umax - srf->umin, srf->vmax - srf->vmin));
  const bool closed = std::hypot(start[0] - end[0], start[1] - end[1]) <= gap;
  int sS = -1, sE = -1;
  if (!closed) {
    // An open chain is extended at both ends, far enough to reach the box from anywhere inside
    // it, and cut back where it leaves the box; its ends must then lie on the box's sides.
    // The extension takes a length in space and turns it into parameter units by the
    // surface's mean control-polygon spans: the rectangle's diagonal is handed over in space
    // by the same ratio, or a surface much larger (or smaller) in space than its rectangle
    // would get an extension falling short of the box (or refused as too short).
    const double du = srf->umax - srf->umin, dv = srf->vmax - srf->vmin;
    const double span = ControlPolygonSpan(srf, 0, 1) + ControlPolygonSpan(srf, 1, 1);
    const double length = std::hypot(du, dv) * (span > 0.0 ? span / (du + dv) : 1.0);
    BsplineList* last = chain;
    while (last->next) last = last->next;
    if (!ExtendChainEnd(srf, chain, 0, length) || !ExtendChainEnd(srf, last, 2, length)) {
      FreeNodes(chain);
      return -2;
    }
    ChainEnds(chain, start, end);
    sS = BoxSide(srf, start);
    sE = BoxSide(srf, end);
    if (sS < 0 || sE < 0) {
      FreeNodes(chain);
      return -2;
    }
  }
  std::vector<double> pu0, pv0;
  if (!ChainPolygon(chain, pu0, pv0)) {
    FreeNodes(chain);
    return -2;
  }
  // A rectangle's width outside it: a fixed distance would be lost in round-off on a rectangle
  // far out or send the ray a million widths away on a small one.
  const double far[2] = {srf->umin - (srf->umax - srf->umin), 0.5 * (srf->vmin + srf->vmax)};
  const double pick[2] = {pu, pv};
  auto inside = [&](const std::vector<double>& u, const std::vector<double>& v) {
    return PointInPolygonByFarPoint(pick[0], pick[1], far[0], far[1], u.data(), v.data(), int(u.size())) != 0;
  };
  // A loop walked along the trim loops meets end to end: its short pieces (a stretch of a
  // small hole's side) are part of it, not gaps to close by the user's gap tolerance.
  auto construct = [&](BsplineList* curves, bool walked, int loopHole) {
    if (walked)
      return ConstructTrimCurveListWithin(srf, curves, loopHole, selfTest, cu, cv, snip, orient, 1, replaced,
                                          out, kWalkGapShare * ControlPointDiagonal(srf));
    return ConstructTrimCurveList(srf, curves, loopHole, selfTest, cu, cv, snip, orient, 1, replaced, out);
  };
  if (closed) {
    const bool in = inside(pu0, pv0);
    int loopHole = in ? 0 : 1;
    BsplineList* const given = chain;
    if (srf->trims &&
        ConstructTrimmedSurfBndryPortionTrim(srf, &chain, far, pu0.data(), pv0.data(), in ? 0 : 1,
                                             nullptr, int(pu0.size())) != 0) {
      FreeNodes(chain);
      return -2;
    }
    // Picked outside, the walked loop bounds the region less the chain's inside: a hole, unless
    // the walk took the outer loop in it (the chain crossed it), when it is the new outer loop.
    if (!in && chain != given) {
      bool outerLeft = false;
      for (TrimList* l = srf->trims; l && !outerLeft; l = l->next) outerLeft = !l->hole && l->loopCurves;
      loopHole = outerLeft ? 1 : 0;
    }
    return construct(chain, chain != given, loopHole);
  }
  // Walk the box from the chain's end back to its start, one way or the other.
  const double pE = Perimeter(srf, sE, end), pS = Perimeter(srf, sS, start);
  int cw[4], ccw[4];
  const int ncw = CornersBetween(pE, pS, true, cw), nccw = CornersBetween(pE, pS, false, ccw);
  const bool opposite = sS >= 0 && std::abs(sS - sE) == 2;
  bool clockwise = opposite ? true : ncw <= nccw;
  auto polygon = [&](bool way, std::vector<double>& u, std::vector<double>& v) {
    u = pu0;
    v = pv0;
    const int* cs = way ? cw : ccw;
    const int nc = way ? ncw : nccw;
    for (int k = 0; k < nc; ++k) {
      double c[2];
      Corner(srf, cs[k], c);
      u.push_back(c[0]);
      v.push_back(c[1]);
    }
  };
  std::vector<double> u, v;
  polygon(clockwise, u, v);
  if (!inside(u, v)) {
    clockwise = !clockwise;
    polygon(clockwise, u, v);
  }
  // The box sides along the portion, from the end's side round to the start's.
  const int* cs = clockwise ? cw : ccw;
  const int nc = clockwise ? ncw : nccw;
  double from[2] = {end[0], end[1]};
  int side = sE;
  BsplineList* list = chain;
  for (int k = 0; k <= nc; ++k) {
    double to[2] = {start[0], start[1]};
    if (k < nc) Corner(srf, cs[k], to);
    MakeBoxSideCurve(srf, side, clockwise ? 1 : -1, &list, from[0], from[1], to[0], to[1], 0);
    if (KernelFailed()) {
      FreeNodes(list);
      return -2;
    }
    if (k < nc) {
      // Past corner c the walk runs on the next side.
      const int c = cs[k];
      const int sideAfterCw[4] = {0, 3, 2, 1};   // corner -> side clockwise after it
      const int sideAfterCcw[4] = {3, 2, 1, 0};  // corner -> side counter-clockwise after it
      side = clockwise ? sideAfterCw[c] : sideAfterCcw[c];
      from[0] = to[0];
      from[1] = to[1];
    }
  }
  BsplineList* const given = list;
  if (srf->trims) {
    const int keep = inside(u, v) ? 0 : 1;
    if (ConstructTrimmedSurfBndryPortionTrim(srf, &list, far, u.data(), v.data(), keep, nullptr,
                                             int(u.size())) != 0) {
      FreeNodes(list);
      return -2;
    }
  }
  return construct(list, list != given, hole);
}

// ---- Trim loop search among loose curves ----------------------------------------------------

int IsRemovePiece(const Bspline* curve, const BsplineList* removed) {
  for (; removed; removed = removed->next)
    if (removed->item == curve) return 1;
  return 0;
}

int ReplaceCurveWSubs(Bspline* curve, int n, Bspline** pieces, BsplineList** removed) {
  if (!curve || !curve->owner || n < 1 || !pieces) return -2;
  int made = 0;
  for (int i = 0; i < n; ++i) made += pieces[i] ? 1 : 0;
  if (made == 0) return -2;
  Bspline* owner = curve->owner;
  int holders = 0;
  for (TrimList* l = owner->trims; l; l = l->next)
    for (BsplineList* c = l->loopCurves; c; c = c->next) holders += c->item == curve ? 1 : 0;
  // Every node first, so that a failure changes nothing.
  const int need = made + holders * (made - 1) + 1;
  UntrackedScope owned;
  BsplineList** nodes = MallocArray<BsplineList*>(need);
  if (!nodes || KernelFailed()) return -2;
  for (int k = 0; k < need; ++k) nodes[k] = nullptr;
  for (int k = 0; k < need; ++k) {
    nodes[k] = MallocNullBsplineList();
    if (!nodes[k] || KernelFailed()) {
      for (int j = 0; j < need; ++j) Free(nodes[j]);
      Free(nodes);
      return -2;
    }
  }
  int next = 0;
  BsplineList** tail = &owner->curves;
  while (*tail) tail = &(*tail)->next;
  for (int i = 0; i < n; ++i) {
    if (!pieces[i]) continue;
    pieces[i]->owner = owner;
    nodes[next]->item = pieces[i];
    *tail = nodes[next++];
    tail = &(*tail)->next;
  }
  for (TrimList* l = owner->trims; l; l = l->next)
    for (BsplineList* c = l->loopCurves; c; c = c->next) {
      if (c->item != curve) continue;
      bool first = true;
      for (int i = 0; i < n; ++i) {
        if (!pieces[i]) continue;
        if (first) {
          c->item = pieces[i];
          first = false;
          continue;
        }
        BsplineList* node = nodes[next++];
        node->item = pieces[i];
        node->next = c->next;
        c->next = node;
        c = node;
      }
    }
  BsplineList* gone = nodes[next++];
  gone->item = curve;
  while (*removed) removed = &(*removed)->next;
  *removed = gone;
  Free(nodes);
  return 0;
}

int IsCurveSelfIntersecting(Bspline* curve) {
  if (!curve || curve->kind != 1) return -2;
  int count = 0;
  Owned<double, Free> t(SampleCurvePlateProper(curve, curve->degreeU + 1, &count));
  if (!t) return -2;
  Owned<double, Free> u(MallocArray<double>(count)), v(MallocArray<double>(count));
  if (!u || !v || KernelFailed()) return -2;
  for (int i = 0; i < count; ++i) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, curve, t[i], 0, uv);
    u[i] = uv[0];
    v[i] = uv[1];
  }
  for (int i = 0; i + 1 < count; ++i) {
    if (u[i] == u[i + 1] && v[i] == v[i + 1]) continue;
    for (int j = i + 2; j + 1 < count; ++j) {
      if (u[j] == u[j + 1] && v[j] == v[j + 1]) continue;
      // The first and last segments of a closed curve meet at its ends, not across.
      if (i == 0 && j + 2 == count && u[0] == u[count - 1] && v[0] == v[count - 1]) continue;
      if (IsIntersectLines(u[i], v[i], u[i + 1], v[i + 1], u[j], v[j], u[j + 1], v[j + 1])) return 1;
    }
  }
  return 0;
}

namespace {

// A curve's meeting parameters, kept ascending (equal ones kept).
struct Meetings {
  double* t;
  int count;
  int room;
};

bool AddMeeting(Meetings& m, double t) {
  if (m.count == m.room) {
    const int room = m.room ? 2 * m.room : 8;
    double* grown = static_cast<double*>(Realloc(m.t, sizeof(double) * room));
    if (!grown || KernelFailed()) return false;
    m.t = grown;
    m.room = room;
  }
  int k = m.count++;
  while (k > 0 && m.t[k - 1] > t) {
    m.t[k] = m.t[k - 1];
    --k;
  }
  m.t[k] = t;
  return true;
}

bool Inside(const Bspline* c, double t) {
  const double tol = 1e-6 * CurveRange(c);
  return t - CurveStart(c) > tol && CurveEnd(c) - t > tol;
}

bool EndsMeet(Bspline* c, double tol) {
  double a[2], b[2];
  FirstPoint(c, a);
  LastPoint(c, b);
  return std::fabs(a[0] - b[0]) <= tol && std::fabs(a[1] - b[1]) <= tol;
}

// Cuts c at the n ascending values and puts the pieces in its place. 0 or -2.
int CutInPlace(Bspline* c, int n, double* values, BsplineList** removed) {
  Bspline** pieces = MallocArray<Bspline*>(n + 1);
  if (!pieces || KernelFailed()) return -2;
  int r = 0;
  {
    UntrackedScope owned;  // the pieces belong to the surface
    r = SplitObjectToNObjects(c, n, values, 0, pieces);
  }
  if (r == 0 && ReplaceCurveWSubs(c, n + 1, pieces, removed) == 0) {
    Free(pieces);
    return 0;
  }
  if (r == 0) FreeBsplineArrayContents(pieces, n + 1);
  Free(pieces);
  return -2;
}

}  // namespace

int SnipSurfCurvesAtIntersects(Bspline* srf, BsplineList** removed) {
  if (!srf || !removed) return -2;
  // Overlapping curves: the later one goes (its successor is taken first, as freeing it takes
  // it off the list). A record whose leading word is set is listed as removed instead.
  for (BsplineList* a = srf->curves; a; a = a->next) {
    if (!a->item || IsRemovePiece(a->item, *removed)) continue;
    for (BsplineList* b = a->next; b;) {
      BsplineList* next = b->next;
      Bspline* d = b->item;
      if (d && !IsRemovePiece(d, *removed) && FindIfTwoCurvesOverlap(a->item, d, 1e-6)) {
        if (d->spare) {
          UntrackedScope owned;
          if (!AppendBsplToList(removed, d)) return -2;
        } else {
          FreeBspline(d);
        }
      }
      b = next;
    }
  }
  TrackingScope scope;
  int n = 0;
  for (BsplineList* a = srf->curves; a; a = a->next)
    if (a->item && a->item->dimension == 2 && !IsRemovePiece(a->item, *removed)) ++n;
  if (n == 0) return 0;
  Bspline** c = MallocArray<Bspline*>(n);
  Meetings* m = CallocArray<Meetings>(n);
  if (!c || !m || KernelFailed()) return -2;
  n = 0;
  for (BsplineList* a = srf->curves; a; a = a->next)
    if (a->item && a->item->dimension == 2 && !IsRemovePiece(a->item, *removed)) c[n++] = a->item;
  CrvIntrList* hits = nullptr;
  int failed = 0;
  for (int i = 0; i < n && !failed; ++i)
    for (int j = i + 1; j < n && !failed; ++j) {
      if (IsTrimPiece(c[i]) && IsTrimPiece(c[j])) continue;
      if (CrvIntersect(c[i], c[j], &hits, 1e-6, 0) == -2) {
        failed = 1;
        break;
      }
      // The head may hold a node it did not use: the counted ones are read, then every node goes.
      int used = 0;
      for (const CrvIntrNode* h = hits->first; h && used < hits->count; h = h->next, ++used) {
        if (Inside(c[i], h->t1) && !AddMeeting(m[i], h->t1)) failed = 1;
        if (Inside(c[j], h->t2) && !AddMeeting(m[j], h->t2)) failed = 1;
      }
      ClearCrvIntrList(hits);
    }
  FreeCrvIntrList(hits);
  if (failed) return -2;
  for (int i = 0; i < n; ++i) {
    if (m[i].count == 0) {
      // A closed or self-crossing curve meets nothing: its halves can still close a loop.
      const int crossing = EndsMeet(c[i], GlobalTrimGapTol) ? 1 : IsCurveSelfIntersecting(c[i]);
      if (crossing == -2) return -2;
      if (crossing == 0) continue;
      double mid = 0.5 * (CurveStart(c[i]) + CurveEnd(c[i]));
      if (CutInPlace(c[i], 1, &mid, removed) != 0) return -2;
      continue;
    }
    if (CutInPlace(c[i], m[i].count, m[i].t, removed) != 0) return -2;
  }
  return 0;
}

namespace {

// The loop search's records, all scratch of one tracking scope.
struct Neighbour {
  Neighbour* next;
  int index;        // the neighbouring curve
  int end;          // which end of this curve touches it: 0 start, 1 end
  int visited;      // the link was followed in the current search
  Neighbour* twin;  // the same link seen from the neighbour
};
struct CurveEntry {
  Bspline* curve;
  Neighbour* nbrs;
  int visited;
  int useCount;
};
struct PathNode {
  PathNode* next;
  int index;
  int reversed;
};
constexpr int kOuterLoop = 0, kHoleLoop = 1, kDiscarded = -999, kLostPick = -666;
struct Cycle {
  Cycle* next;
  Cycle* parent;
  int nSamples;
  int status;
  float box[4];  // minimum u, minimum v, maximum u, maximum v
  double* us;
  double* vs;
  PathNode* path;  // the first index repeated at the end
};

struct LoopSearch {
  CurveEntry* table;
  int n;
  Cycle* cycles;
  double tolU, tolV;  // end coincidence of two-curve cycles
  int* path;          // the search's stack of curve indices
};

bool Link(LoopSearch& S, int i, int ei, int j, int ej) {
  Neighbour* a = CallocArray<Neighbour>(1);
  Neighbour* b = i == j ? a : CallocArray<Neighbour>(1);
  if (!a || !b || KernelFailed()) return false;
  a->index = j, a->end = ei, a->twin = b;
  b->index = i, b->end = ej, b->twin = a;
  for (auto [k, node] : {std::pair<int, Neighbour*>{i, a}, std::pair<int, Neighbour*>{j, b}}) {
    Neighbour** tail = &S.table[k].nbrs;
    while (*tail && *tail != node) tail = &(*tail)->next;
    if (!*tail) *tail = node;
    if (i == j) break;
  }
  return true;
}

bool CloseNeighbours(LoopSearch& S, int i) {
  const double tol2 = GlobalTrimGapTol * GlobalTrimGapTol;
  auto d2 = [](const double* a, const double* b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]);
  };
  double si[2], ei[2];
  FirstPoint(S.table[i].curve, si);
  LastPoint(S.table[i].curve, ei);
  if (d2(si, ei) < tol2) return Link(S, i, 0, i, 0);
  for (int j = i + 1; j < S.n; ++j) {
    double sj[2], ej[2];
    FirstPoint(S.table[j].curve, sj);
    LastPoint(S.table[j].curve, ej);
    if (d2(si, sj) < tol2 && !Link(S, i, 0, j, 0)) return false;
    if (d2(si, ej) < tol2 && !Link(S, i, 0, j, 1)) return false;
    if (d2(ei, sj) < tol2 && !Link(S, i, 1, j, 0)) return false;
    if (d2(ei, ej) < tol2 && !Link(S, i, 1, j, 1)) return false;
  }
  return true;
}

// Two curves close a loop only when both pairs of ends coincide.
bool TwoCurvesClose(const LoopSearch& S, int a, int b) {
  double a0[2], a1[2], b0[2], b1[2];
  FirstPoint(S.table[a].curve, a0);
  LastPoint(S.table[a].curve, a1);
  FirstPoint(S.table[b].curve, b0);
  LastPoint(S.table[b].curve, b1);
  auto same = [&](const double* p, const double* q) {
    return std::fabs(p[0] - q[0]) <= S.tolU && std::fabs(p[1] - q[1]) <= S.tolV;
  };
  return (same(a0, b0) && same(a1, b1)) || (same(a0, b1) && same(a1, b0));
}

bool FoundBefore(const LoopSearch& S, const int* idx, int n) {
  std::vector<int> mine(idx, idx + n);
  std::sort(mine.begin(), mine.end());
  for (const Cycle* c = S.cycles; c; c = c->next) {
    std::vector<int> theirs;
    for (const PathNode* p = c->path; p && p->next; p = p->next) theirs.push_back(p->index);
    std::sort(theirs.begin(), theirs.end());
    if (theirs == mine) return true;
  }
  return false;
}

bool RecordCycle(LoopSearch& S, int depth) {
  if (FoundBefore(S, S.path, depth + 1)) return true;
  Cycle* c = CallocArray<Cycle>(1);
  if (!c || KernelFailed()) return false;
  PathNode** tail = &c->path;
  for (int k = 0; k <= depth + 1; ++k) {
    PathNode* p = CallocArray<PathNode>(1);
    if (!p || KernelFailed()) return false;
    p->index = S.path[k <= depth ? k : 0];
    *tail = p;
    tail = &p->next;
  }
  Cycle** at = &S.cycles;
  while (*at) at = &(*at)->next;
  *at = c;
  return true;
}

// Depth first from cur, leaving it through its end `leave`; links followed stay marked for
// the whole search from s. *rejected is set when a two-curve cycle did not close.
bool PathLoops(LoopSearch& S, int s, int cur, int leave, int depth, bool* rejected) {
  S.path[depth] = cur;
  for (Neighbour* nb = S.table[cur].nbrs; nb; nb = nb->next) {
    if (nb->visited || nb->end != leave) continue;
    const int k = nb->index;
    if (k != s && S.table[k].visited) continue;
    nb->visited = 1;
    nb->twin->visited = 1;
    if (k == s) {
      if (depth == 1 && !TwoCurvesClose(S, s, cur)) {
        *rejected = true;
        continue;
      }
      if (depth >= 1 && !RecordCycle(S, depth)) return false;
      continue;
    }
    bool onPath = false;
    for (int d = 0; d <= depth; ++d) onPath = onPath || S.path[d] == k;
    if (onPath) continue;
    if (!PathLoops(S, s, k, 1 - nb->twin->end, depth + 1, rejected)) return false;
  }
  return true;
}

bool AnyLoops(LoopSearch& S, int s) {
  CurveEntry& e = S.table[s];
  bool open = false;
  for (Neighbour* nb = e.nbrs; nb; nb = nb->next) open = open || !S.table[nb->index].visited || nb->index == s;
  if (!e.nbrs || !open) {
    e.visited = 1;
    return true;
  }
  bool rejected = false;
  bool ok = true;
  if (e.nbrs->index == s && !e.nbrs->next) {
    // A closed curve is a loop by itself.
    S.path[0] = s;
    ok = RecordCycle(S, 0);
  } else {
    ok = PathLoops(S, s, s, 1, 0, &rejected);
  }
  for (int i = 0; i < S.n; ++i)
    for (Neighbour* nb = S.table[i].nbrs; nb; nb = nb->next) nb->visited = 0;
  if (!rejected) e.visited = 1;
  return ok;
}

// Orients a cycle: each next curve runs on from where the previous one ends.
void AlignLoop(LoopSearch& S, Cycle* c) {
  PathNode* p = c->path;
  if (!p) return;
  p->reversed = 0;
  double at[2];
  LastPoint(S.table[p->index].curve, at);
  ++S.table[p->index].useCount;
  for (PathNode* q = p->next; q && q->next; q = q->next) {
    Bspline* crv = S.table[q->index].curve;
    double a[2], b[2];
    FirstPoint(crv, a);
    LastPoint(crv, b);
    const double da = (at[0] - a[0]) * (at[0] - a[0]) + (at[1] - a[1]) * (at[1] - a[1]);
    const double db = (at[0] - b[0]) * (at[0] - b[0]) + (at[1] - b[1]) * (at[1] - b[1]);
    q->reversed = db < da ? 1 : 0;
    at[0] = q->reversed ? a[0] : b[0];
    at[1] = q->reversed ? a[1] : b[1];
    ++S.table[q->index].useCount;
  }
}

bool SampleLoop(LoopSearch& S, Cycle* c) {
  std::vector<double> u, v;
  for (PathNode* p = c->path; p && p->next; p = p->next) {
    Bspline* crv = S.table[p->index].curve;
    int count = 0;
    double* t = SampleCurvePlateProper(crv, crv->degreeU + 1, &count);
    if (!t) return false;
    std::vector<double> cu(count), cv(count);
    for (int i = 0; i < count; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, crv, t[i], 0, uv);
      cu[i] = uv[0];
      cv[i] = uv[1];
    }
    Free(t);
    if (p->reversed) {
      std::reverse(cu.begin(), cu.end());
      std::reverse(cv.begin(), cv.end());
    }
    u.insert(u.end(), cu.begin(), cu.end());
    v.insert(v.end(), cv.begin(), cv.end());
  }
  const int n = int(u.size());
  c->us = MallocArray<double>(n > 0 ? n : 1);
  c->vs = MallocArray<double>(n > 0 ? n : 1);
  if (!c->us || !c->vs || KernelFailed()) return false;
  c->nSamples = n;
  c->box[0] = c->box[1] = kNoValueF;
  c->box[2] = c->box[3] = -kNoValueF;
  for (int i = 0; i < n; ++i) {
    c->us[i] = u[i];
    c->vs[i] = v[i];
    c->box[0] = std::min(c->box[0], float(u[i]));
    c->box[1] = std::min(c->box[1], float(v[i]));
    c->box[2] = std::max(c->box[2], float(u[i]));
    c->box[3] = std::max(c->box[3], float(v[i]));
  }
  return true;
}

bool BoxInside(const Cycle* in, const Cycle* out) {
  return in->box[0] >= out->box[0] && in->box[1] >= out->box[1] && in->box[2] <= out->box[2] &&
         in->box[3] <= out->box[3];
}

bool Holds(const Cycle* c, int index) {
  for (const PathNode* p = c->path; p && p->next; p = p->next)
    if (p->index == index) return true;
  return false;
}

// Of two nested holes of one parent the outer one stays.
void KeepOuterHole(Bspline* srf, Cycle* fresh, Cycle* other, const double far[2]) {
  const double tu = 1e-6 * (srf->umax - srf->umin), tv = 1e-6 * (srf->vmax - srf->vmin);
  for (int i = 0; i < fresh->nSamples; ++i) {
    bool shared = false;
    for (int j = 0; j < other->nSamples && !shared; ++j)
      shared = std::fabs(fresh->us[i] - other->us[j]) <= tu && std::fabs(fresh->vs[i] - other->vs[j]) <= tv;
    if (shared) continue;
    if (!PointInPolygonByFarPoint(fresh->us[i], fresh->vs[i], far[0], far[1], other->us,
                                  other->vs, other->nSamples)) {
      other->status = kDiscarded;
      return;
    }
  }
  fresh->status = kDiscarded;
  other->status = kHoleLoop;
}

// The second cycle's curves, without the shared one, take its place in the first's path.
bool JoinCycles(LoopSearch& S, Cycle* a, Cycle* b, int shared) {
  std::vector<std::pair<int, int>> pa, pb;  // (index, reversed) without the repeat
  for (PathNode* p = a->path; p && p->next; p = p->next) pa.push_back({p->index, p->reversed});
  for (PathNode* p = b->path; p && p->next; p = p->next) pb.push_back({p->index, p->reversed});
  size_t ia = 0, ib = 0;
  while (ia < pa.size() && pa[ia].first != shared) ++ia;
  while (ib < pb.size() && pb[ib].first != shared) ++ib;
  if (ia == pa.size() || ib == pb.size()) return true;
  // Run b from after the shared curve round to before it, backwards when b runs the shared
  // curve the same way a does.
  const bool backwards = pa[ia].second == pb[ib].second;
  std::vector<int> insert;
  const size_t m = pb.size();
  for (size_t k = 1; k < m; ++k) insert.push_back(pb[backwards ? (ib + m - k) % m : (ib + k) % m].first);
  std::vector<int> idx;
  for (size_t k = 0; k < ia; ++k) idx.push_back(pa[k].first);
  idx.insert(idx.end(), insert.begin(), insert.end());
  for (size_t k = ia + 1; k < pa.size(); ++k) idx.push_back(pa[k].first);
  if (idx.empty()) return true;
  // Rebuild a's path (the old nodes stay in the scope).
  PathNode* head = nullptr;
  PathNode** tail = &head;
  for (size_t k = 0; k <= idx.size(); ++k) {
    PathNode* p = CallocArray<PathNode>(1);
    if (!p || KernelFailed()) return false;
    p->index = idx[k < idx.size() ? k : 0];
    *tail = p;
    tail = &p->next;
  }
  a->path = head;
  for (Cycle** at = &S.cycles; *at; at = &(*at)->next)
    if (*at == b) {
      *at = b->next;
      break;
    }
  AlignLoop(S, a);
  return true;
}

// A loop (untracked) over the cycle's curves in path order; on a copy of the surface the curves
// are copies listed on it, reversed where the path says. The loop, null on failure.
TrimList* LoopOfCycle(LoopSearch& S, const Cycle* c, Bspline* target, bool copies, int hole) {
  UntrackedScope owned;
  TrimList* loop = MallocNullTrimList();
  if (!loop || KernelFailed()) return nullptr;
  loop->hole = hole;
  loop->attached = 1;
  BsplineList** tail = &loop->loopCurves;
  for (const PathNode* p = c->path; p && p->next; p = p->next) {
    Bspline* crv = S.table[p->index].curve;
    if (copies) {
      crv = CopyBsplineStruct(crv);
      if (!crv) break;
      if (p->reversed) reverseBspline(crv);
      AppendBsplToSurfCrvList(crv, target);
      if (KernelFailed()) {
        FreeBspline(crv);
        break;
      }
    }
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) break;
    node->item = crv;
    *tail = node;
    tail = &node->next;
  }
  if (KernelFailed()) {
    FreeUnattachedTrimcurve(loop);
    return nullptr;
  }
  return loop;
}

// Each pick makes the smallest cycle around it an outer loop; cycles inside a picked one become
// its holes (other picked ones go), an outer loop inside another goes, and a hole whose parent
// went moves up to the next kept ancestor. far is a point outside the domain for the parity test.
void ClassifyCycles(LoopSearch& S, Bspline* srf, int nPicks, const float* pu, const float* pv,
                    const double far[2]) {
  for (int p = 0; p < nPicks; ++p) {
    Cycle* best = nullptr;
    double bestArea = 0.0;
    for (Cycle* c = S.cycles; c; c = c->next) {
      if (c->status == kOuterLoop || c->nSamples < 1) continue;
      if (!PointInPolygonByFarPoint(pu[p], pv[p], far[0], far[1], c->us, c->vs, c->nSamples)) continue;
      c->status = kLostPick;
      const double area = double(c->box[2] - c->box[0]) * double(c->box[3] - c->box[1]);
      if (!best || area < bestArea) best = c, bestArea = area;  // equal areas: the first wins
    }
    if (best) best->status = kOuterLoop;
  }
  // Cycles inside a picked one: other picked ones go, the rest become its holes.
  for (Cycle* a = S.cycles; a; a = a->next) {
    if (a->status != kOuterLoop) continue;
    for (Cycle* b = S.cycles; b; b = b->next) {
      if (b == a || !BoxInside(b, a) || b->nSamples < 1) continue;
      if (b->status == kOuterLoop || b->status == kLostPick) {
        b->status = kDiscarded;
        continue;
      }
      b->status = kHoleLoop;
      b->parent = a;
      for (Cycle* c = S.cycles; c; c = c->next) {
        if (c == b || c->status != kHoleLoop || c->parent != a) continue;
        if (!BoxInside(b, c) && !BoxInside(c, b)) continue;
        KeepOuterHole(srf, b, c, far);
        if (b->status != kHoleLoop) break;
      }
    }
  }
  for (Cycle* a = S.cycles; a; a = a->next)
    for (Cycle* b = S.cycles; b && a->status == kOuterLoop; b = b->next)
      if (b != a && b->status == kOuterLoop && BoxInside(a, b)) {
        a->parent = b;
        a->status = kDiscarded;
      }
  for (int pass = 0; pass < 64; ++pass) {
    bool moved = false;
    for (Cycle* h = S.cycles; h; h = h->next)
      if (h->status == kHoleLoop && h->parent &&
          (h->parent->status == kDiscarded || h->parent->status == kLostPick)) {
        h->parent = h->parent->parent;
        moved = true;
        if (!h->parent) h->status = kDiscarded;
      }
    if (!moved) break;
  }
}

// Picked cycles that share a curve become one. False when a join fails.
bool JoinCyclesSharingCurves(LoopSearch& S) {
  for (bool again = true; again;) {
    again = false;
    for (Cycle* a = S.cycles; a && !again; a = a->next) {
      if (a->status == kDiscarded || a->status == kLostPick) continue;
      for (PathNode* p = a->path; p && p->next && !again; p = p->next) {
        if (S.table[p->index].useCount <= 1) continue;
        for (Cycle* b = S.cycles; b && !again; b = b->next) {
          if (b == a || b->status == kDiscarded || b->status == kLostPick) continue;
          if (!Holds(b, p->index)) continue;
          const int shared = p->index;
          if (!JoinCycles(S, a, b, shared)) return false;
          --S.table[shared].useCount;
          again = true;
        }
      }
    }
  }
  return true;
}

void CloseLoop(Bspline* srf, TrimList* loop) {
  BsplineList *inserted = nullptr, *dropped = nullptr;
  TrimCurveMerge(srf, loop, &inserted, &dropped, TrimGapTolerance(srf));
  FreeNodes(inserted);
  FreeNodes(dropped);
}

}  // namespace

int FindAllTrimLoops(Bspline* srf, int nPicks, const float* pu, const float* pv, int* nOut,
                     BsplineList** removed, Bspline*** out) {
  if (nOut) *nOut = 0;
  if (out) *out = nullptr;
  if (!srf || srf->kind != 2 || !removed || !out || !nOut || nPicks < 0 || (nPicks > 0 && (!pu || !pv)))
    return -2;
  if (!IsOuterTrim(srf)) {
    TrimList* boundary = CreateSurfBoundaryAsTrimCurveBspline(srf);
    if (!boundary) return -2;
    AddOrderedTrimCurve(srf, boundary);
  }
  if (SnipSurfCurvesAtIntersects(srf, removed) != 0) return -2;

  TrackingScope scope;
  LoopSearch S{};
  S.tolU = 1e-6 * (srf->umax - srf->umin);
  S.tolV = 1e-6 * (srf->vmax - srf->vmin);
  for (BsplineList* a = srf->curves; a; a = a->next)
    if (a->item && a->item->dimension == 2 && !IsRemovePiece(a->item, *removed)) ++S.n;
  if (S.n == 0) return -2;
  S.table = CallocArray<CurveEntry>(S.n);
  S.path = MallocArray<int>(S.n + 1);
  if (!S.table || !S.path || KernelFailed()) return -2;
  int k = 0;
  for (BsplineList* a = srf->curves; a; a = a->next)
    if (a->item && a->item->dimension == 2 && !IsRemovePiece(a->item, *removed)) S.table[k++].curve = a->item;
  for (int i = 0; i < S.n; ++i)
    if (!CloseNeighbours(S, i)) return -2;
  for (int i = 0; i < S.n; ++i)
    if (!S.table[i].visited && !AnyLoops(S, i)) return -2;
  if (!S.cycles) return -2;

  for (Cycle* c = S.cycles; c; c = c->next) AlignLoop(S, c);
  for (Cycle* c = S.cycles; c; c = c->next) {
    c->status = kDiscarded;
    if (c->path && c->path->next && !SampleLoop(S, c)) return -2;
  }
  const double far[2] = {srf->umin - (srf->umax - srf->umin), 0.5 * (srf->vmin + srf->vmax)};
  ClassifyCycles(S, srf, nPicks, pu, pv, far);
  if (!JoinCyclesSharingCurves(S)) return -2;

  int nOuter = 0;
  for (Cycle* c = S.cycles; c; c = c->next) nOuter += c->status == kOuterLoop ? 1 : 0;
  if (nOuter == 0) return -2;  // no pick inside any loop: the surface keeps its trims
  // Everything is made before the surface's own trim list changes.
  Bspline** result = nullptr;
  {
    UntrackedScope owned;
    result = CallocArray<Bspline*>(nOuter);
  }
  if (!result || KernelFailed()) return -2;
  result[0] = srf;
  // Loops of the given surface, attached only at the end.
  std::vector<TrimList*> own;
  auto dropOwn = [&]() {
    for (TrimList* l : own) FreeUnattachedTrimcurve(l);
  };
  auto fail = [&]() {
    dropOwn();
    for (int i = 1; i < nOuter; ++i) FreeBspline(result[i]);
    Free(result);
    return -2;
  };
  int slot = 0;
  for (Cycle* c = S.cycles; c; c = c->next) {
    if (c->status != kOuterLoop) continue;
    const bool copy = slot > 0;
    Bspline* target = srf;
    if (copy) {
      UntrackedScope owned;
      target = result[slot] = CopyBsplineStruct(srf);
      if (!target) return fail();
    }
    std::vector<TrimList*> loops;
    TrimList* outer = LoopOfCycle(S, c, target, copy, 0);
    if (!outer) return fail();
    loops.push_back(outer);
    for (Cycle* h = S.cycles; h; h = h->next) {
      if (h->status != kHoleLoop || h->parent != c) continue;
      TrimList* hole = LoopOfCycle(S, h, target, copy, 1);
      if (!hole) {
        for (TrimList* l : loops) FreeUnattachedTrimcurve(l);
        return fail();
      }
      loops.push_back(hole);
    }
    if (copy) {
      TrimList** at = &target->trims;
      for (TrimList* l : loops) {
        *at = l;
        at = &l->next;
      }
      // Discarded cycles of this outer loop go along as loose curves.
      for (Cycle* d = S.cycles; d; d = d->next) {
        if ((d->status != kDiscarded && d->status != kLostPick) || d->parent != c) continue;
        for (PathNode* p = d->path; p && p->next; p = p->next) {
          UntrackedScope owned;
          Bspline* cc = CopyBsplineStruct(S.table[p->index].curve);
          if (!cc) return fail();
          if (p->reversed) reverseBspline(cc);
          AppendBsplToSurfCrvList(cc, target);
          if (KernelFailed()) {
            FreeBspline(cc);
            return fail();
          }
        }
      }
      for (TrimList* l : loops) CloseLoop(target, l);
    } else {
      own = loops;
    }
    ++slot;
  }
  // The swap: the old loops go (their curves stay), the curves run as their loops need, the
  // new loops go in and are closed.
  FreeTrimList(srf->trims, srf);
  srf->trims = nullptr;
  Cycle* first = nullptr;
  for (Cycle* o = S.cycles; o && !first; o = o->next)
    if (o->status == kOuterLoop) first = o;
  for (Cycle* c = S.cycles; c; c = c->next) {
    if (c != first && !(c->status == kHoleLoop && c->parent == first)) continue;
    for (PathNode* p = c->path; p && p->next; p = p->next)
      if (p->reversed) reverseBspline(S.table[p->index].curve);
  }
  TrimList** at = &srf->trims;
  for (TrimList* l : own) {
    *at = l;
    at = &l->next;
  }
  // Closing only bridges or merges gaps; a bridge that cannot be made leaves its gap.
  for (TrimList* l : own) CloseLoop(srf, l);
  *out = result;
  *nOut = nOuter;
  return 0;
}
