#include "bspline/cutcurves.h"

#include <algorithm>
#include <cmath>

#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// Shares of the curve's parameter range: crossings closer than the first are one crossing, and
// a refined crossing closer than the second (round-off) to a sample is taken at the sample. Only
// shares keep a curve cut where it crosses whatever its parameter range: a fixed length would
// merge every crossing of a curve whose range is 1e-6 and move a crossing of a curve whose
// range is 0.01 to a sample up to a tenth of the surface away from the edge.
constexpr double kSameParamShare = 1e-6;
constexpr double kSnapToSampleShare = 1e-12;
// The share of the surface's parameter range by which the rectangle is widened on each side, so
// that a curve running along an edge does not cross it back and forth at round-off: a fixed
// length would swallow a small surface's whole rectangle.
constexpr double kWidenShare = 1e-6;
// An edge piece shorter than this share of the rectangle's side in both directions holds nothing
// worth keeping: a share, so that a small surface keeps its edge pieces as a unit one does.
constexpr double kShortEdgeShare = 1e-4;
constexpr int kSamplesPerSpan = 16;
// Bounds the crossings searched between two samples (a segment between samples crosses each
// boundary line at most once in practice); then the walk moves on to the sample.
constexpr int kTriesPerSample = 8;

struct Rect {
  double lo[2];
  double hi[2];
};

Rect DomainOf(const Bspline* s) {
  return {{s->knotsU[s->degreeU], s->knotsV[s->degreeV]},
          {s->knotsU[NumCtrlU(s)], s->knotsV[NumCtrlV(s)]}};
}

// (u, v) of the curve, not clamped into any surface domain: leaving it is what is looked for.
void PointAt(const Bspline* c, double t, double uv[2]) { Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv); }

int Code(double x, double lo, double hi) { return x <= lo ? -1 : (x >= hi ? 1 : 0); }

Rect Widened(Rect box) {
  for (int k = 0; k < 2; ++k) {
    const double widen = kWidenShare * (box.hi[k] - box.lo[k]);
    box.lo[k] -= widen;
    box.hi[k] += widen;
  }
  return box;
}

// For a curve without crossings of the widened rectangle: its ends and middle all beyond it (all
// three, so that an excursion the crossing search passed over does not make an inside curve out).
bool OutsideWidened(const Bspline* curve, const Rect& box) {
  const Rect wide = Widened(box);
  const double a = curve->knotsU[curve->degreeU], b = curve->knotsU[NumCtrlU(curve)];
  for (double t : {a, 0.5 * (a + b), b}) {
    double uv[2];
    PointAt(curve, t, uv);
    if (Code(uv[0], wide.lo[0], wide.hi[0]) == 0 && Code(uv[1], wide.lo[1], wide.hi[1]) == 0) return false;
  }
  return true;
}

}  // namespace

int DomainBoundaryCrossings(Bspline* curve, double* params, int* count) {
  *count = 0;
  if (!curve || curve->dimension != 2 || !curve->owner || !curve->knotsU) return -2;
  const Rect box = Widened(DomainOf(curve->owner));
  const int p = curve->degreeU, m = curve->interiorU;
  const double* K = curve->knotsU;
  const double range = K[p + m + 1] - K[p];
  const double sameParam = kSameParamShare * range, snapToSample = kSnapToSampleShare * range;
  const int ns = kSamplesPerSpan * (m + 1) + 1;
  TrackingScope scope;
  double* ts = MallocArray<double>(ns);
  if (!ts || KernelFailed()) return -2;
  for (int i = 0; i <= m; ++i)
    for (int j = 0; j < kSamplesPerSpan; ++j)
      ts[kSamplesPerSpan * i + j] = K[p + i] + j * (1.0 / kSamplesPerSpan) * (K[p + i + 1] - K[p + i]);
  ts[ns - 1] = K[p + m + 1];

  int n = 0;
  params[n++] = ts[0];
  double tPrev = ts[0];
  double prev[2];
  PointAt(curve, tPrev, prev);
  int code[2] = {Code(prev[0], box.lo[0], box.hi[0]), Code(prev[1], box.lo[1], box.hi[1])};
  for (int i = 1; i < ns; ++i) {
    const double t = ts[i];
    double pt[2];
    PointAt(curve, t, pt);
    const int c[2] = {Code(pt[0], box.lo[0], box.hi[0]), Code(pt[1], box.lo[1], box.hi[1])};
    // Crossings between the last accepted point and the sample, earliest first.
    auto record = [&](double x) {
      if (std::fabs(x - params[n - 1]) < sameParam) return true;
      if (n == kMaxBoundaryCrossings) return false;
      params[n++] = x;
      return true;
    };
    for (int tries = 0; (c[0] != code[0] || c[1] != code[1]) && tries < kTriesPerSample; ++tries) {
      double best = 0.0;
      bool found = false;
      for (int k = 0; k < 2; ++k) {  // u first, so u wins a tie
        if (c[k] == code[k] || pt[k] == prev[k]) continue;
        const double bound = (c[k] == 1 || code[k] == 1) ? box.hi[k] : box.lo[k];
        const double estimate = tPrev + (bound - prev[k]) / (pt[k] - prev[k]) * (t - tPrev);
        double tr = estimate, point[2], residual;
        if (FindXorYIntersectCurve2(curve, bound, k == 0 ? 1 : 0, point, &tr, &residual, 25) != 0)
          tr = estimate;
        if (std::fabs(tr - t) < snapToSample) tr = t;
        else if (std::fabs(tr - tPrev) < snapToSample) tr = tPrev;
        if (tr == tPrev) {
          // The point just accepted lies on this boundary (its refined position may sit a hair
          // on the old side): the crossing is here, and searching again would find it again.
          if (!record(tr)) return -2;
          code[k] = c[k];
          continue;
        }
        if (tr > tPrev && tr <= t && (!found || tr < best)) {
          best = tr;
          found = true;
        }
      }
      if (!found) break;
      if (!record(best)) return -2;
      tPrev = best;
      PointAt(curve, tPrev, prev);
      code[0] = Code(prev[0], box.lo[0], box.hi[0]);
      code[1] = Code(prev[1], box.lo[1], box.hi[1]);
    }
    // Each crossing is searched between the sample before it and the sample after it.
    tPrev = t;
    prev[0] = pt[0];
    prev[1] = pt[1];
    code[0] = c[0];
    code[1] = c[1];
  }
  if (std::fabs(ts[ns - 1] - params[n - 1]) < sameParam) {
    params[n - 1] = ts[ns - 1];
  } else {
    if (n == kMaxBoundaryCrossings) return -2;
    params[n++] = ts[ns - 1];
  }
  *count = n;
  return 0;
}

Bspline* DomainEdgePiece(double uA, double vA, double uB, double vB, int edge,
                         const double shortest[2]) {
  if (edge < 0 || edge > 3) return nullptr;
  if (std::fabs(uA - uB) < shortest[0] && std::fabs(vA - vB) < shortest[1]) return nullptr;
  const bool alongV = edge == 0 || edge == 2;
  // Running coordinate a, fixed coordinate f.
  double a0 = alongV ? vA : uA, a1 = alongV ? vB : uB;
  const double f = alongV ? uA : vA;
  if (a0 == a1) return nullptr;  // no length along the edge
  const bool exchanged = a0 > a1;
  if (exchanged) std::swap(a0, a1);

  TrackingScope scope;
  Bspline* c = MallocNullBspline();  // a cubic without interior knots
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 2;
  if (AllocateBsplineArrays(c) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i < 4; ++i) {
    c->knotsU[i] = a0;
    c->knotsU[4 + i] = a1;
  }
  c->umin = a0;
  c->umax = a1;
  const double run[4] = {a0, a0 + (a1 - a0) / 3.0, a0 + 2.0 * (a1 - a0) / 3.0, a1};
  for (int i = 0; i < 4; ++i) {
    (alongV ? c->X : c->Y)[0][i] = f;
    (alongV ? c->Y : c->X)[0][i] = run[i];
  }
  if (exchanged) reverseBspline(c);  // runs from the first given point to the second
  scope.keep();
  return c;
}

namespace {

// Unlinks the curve's node from the first loop of srf that holds it, unless it is the loop's only
// node (freeing the curve then dissolves the loop, as it always did).
void DropFromTrimLoop(const Bspline* curve, Bspline* srf) {
  for (TrimList* loop = srf->trims; loop; loop = loop->next) {
    for (BsplineList** link = &loop->loopCurves; *link; link = &(*link)->next) {
      BsplineList* node = *link;
      if (node->item != curve) continue;
      if (link == &loop->loopCurves && !node->next) return;
      *link = node->next;
      Free(node);
      return;
    }
  }
}

}  // namespace

void SpliceIntoTrimLoop(Bspline* oldCurve, BsplineList* newHead, BsplineList* newTail,
                        Bspline* srf) {
  if (!oldCurve || !newHead || !newTail || !srf) return;
  // One chain can stand in one place only: a second loop holding the curve would relink it.
  for (TrimList* loop = srf->trims; loop; loop = loop->next) {
    for (BsplineList** link = &loop->loopCurves; *link; link = &(*link)->next) {
      BsplineList* node = *link;
      if (node->item != oldCurve) continue;
      newTail->next = node->next;
      *link = newHead;
      Free(node);
      return;
    }
  }
}

int CutCurveAtDomain(Bspline* curve) {
  if (!curve || curve->kind != 1 || curve->dimension != 2 || !curve->owner) return -2;
  Bspline* srf = curve->owner;
  const Rect box = DomainOf(srf);
  const double shortest[2] = {kShortEdgeShare * (box.hi[0] - box.lo[0]),
                              kShortEdgeShare * (box.hi[1] - box.lo[1])};

  TrackingScope scope;
  double* params = MallocArray<double>(kMaxBoundaryCrossings);
  if (!params || KernelFailed()) return -2;
  int n = 0;
  if (DomainBoundaryCrossings(curve, params, &n) != 0 || n < 2) return -2;
  // No crossing: the curve lies wholly inside the widened rectangle, or wholly outside it, where
  // it is one portion beside an edge or beyond a corner like any other; left as it was, a side
  // of a trim loop beyond an edge would stay there, the loop open by its distance from the edge.
  if (n == 2 && !OutsideWidened(curve, box)) return 0;

  // Until the curve is freed at the end, every failure puts everything back as it was.
  auto made = OwnedArray<Bspline, FreeBspline>::Zeroed(n - 1);
  if (!made || KernelFailed()) return -2;
  int np = 0;
  for (int i = 0; i + 1 < n; ++i) {
    const double a = params[i], b = params[i + 1];
    double pa[2], pb[2], pm[2];
    PointAt(curve, a, pa);
    PointAt(curve, b, pb);
    PointAt(curve, 0.5 * (a + b), pm);
    const bool uIn = pm[0] >= box.lo[0] && pm[0] <= box.hi[0];
    const bool vIn = pm[1] >= box.lo[1] && pm[1] <= box.hi[1];
    if (uIn && vIn) {
      Bspline* piece = nullptr;
      const int cut = ExtractParamRangeUnlessShort(curve, 0, a, b, &piece);
      if (cut < 0) return -2;
      // A portion shorter than the curve's parameter tolerance holds nothing worth keeping.
      if (cut == 0) made[np++] = piece;
      continue;
    }
    const bool uStrict = pm[0] > box.lo[0] && pm[0] < box.hi[0];
    const bool vStrict = pm[1] > box.lo[1] && pm[1] < box.hi[1];
    if (!uStrict && !vStrict) continue;  // beyond a corner: dropped
    // Beside an edge: the portion becomes the piece of that edge between its two ends.
    for (double* q : {pa, pb}) {
      q[0] = std::clamp(q[0], box.lo[0], box.hi[0]);
      q[1] = std::clamp(q[1], box.lo[1], box.hi[1]);
    }
    int edge;
    if (pm[0] < box.lo[0]) {
      edge = 0;
      pa[0] = pb[0] = box.lo[0];
    } else if (pm[0] > box.hi[0]) {
      edge = 2;
      pa[0] = pb[0] = box.hi[0];
    } else if (pm[1] > box.hi[1]) {
      edge = 1;
      pa[1] = pb[1] = box.hi[1];
    } else {
      edge = 3;
      pa[1] = pb[1] = box.lo[1];
    }
    Bspline* piece = DomainEdgePiece(pa[0], pa[1], pb[0], pb[1], edge, shortest);
    if (!piece) {
      if (KernelFailed()) return -2;
      continue;  // too short to keep
    }
    piece->owner = srf;
    made[np++] = piece;
  }

  BsplineList* head = nullptr;
  BsplineList* tail = nullptr;
  for (int i = 0; i < np; ++i) {
    BsplineList* node = MallocNullBsplineList();
    if (!node || KernelFailed()) return -2;
    node->item = made[i];
    (tail ? tail->next : head) = node;
    tail = node;
  }
  for (int i = 0; i < np; ++i) PutBsplToSurfCrvList(made[i], srf);
  if (KernelFailed()) return -2;
  if (head && FindTrimCurve(curve, srf)) {
    SpliceIntoTrimLoop(curve, head, tail, srf);
  } else {
    // Nothing of the curve kept (it ran beyond a corner): its neighbours in the loop end at that
    // corner, so the loop goes on without it; freeing the curve would dissolve the whole loop.
    if (!head) DropFromTrimLoop(curve, srf);
    while (head) {
      BsplineList* next = head->next;
      Free(head);
      head = next;
    }
  }
  FreeBspline(curve);
  Free(made.release());
  Free(params);
  scope.keep();  // the loop's new nodes
  return 0;
}

int CutCurvesAtDomain(Bspline* srf) {
  if (!srf) return -2;
  // Pieces are pushed at the head of the list: reading the successor first visits only the
  // original curves.
  for (BsplineList* node = srf->curves; node;) {
    BsplineList* next = node->next;
    if (node->item && CutCurveAtDomain(node->item) != 0) return -2;
    node = next;
  }
  return 0;
}
