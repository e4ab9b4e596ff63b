// A seam's fold read from its rows: the closest point of a side, samples whose fold can be read
// again after second-row points move, the seams beside a jitter crease's ends, and the folds two
// creases share at a four-way corner.
#include "healing/mshrink.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/mshrink_internal.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"

using namespace mshrink_internal;

namespace mshrink_internal {

// A side's point (d[0]), first and second derivatives along it (d[1], d[2]) and a vector along
// its first derivative across (d[3], from the step to its second row) at parameter t, from the
// rows of frame f on knots k (n points, degree p). False when the basis cannot be made.
bool SideRowsAt(const SideFrame& f, const double* k, int n, int p, double t, double* table, double d[4][3]) {
  const int orders[3] = {0, 1, 2};
  int span = p;
  if (ComputeNubValDerivativesM(k, t, n + p + 1, p, orders, 3, &span, table) != 0) return false;
  for (int a = 0; a < 4; ++a) d[a][0] = d[a][1] = d[a][2] = 0.0;
  for (int j = 0; j <= p; ++j) {
    double q0[3], q1[3];
    f.Get(0, span - p + j, q0);
    f.Get(1, span - p + j, q1);
    for (int c = 0; c < 3; ++c) {
      d[0][c] += table[j] * q0[c];
      d[1][c] += table[p + 1 + j] * q0[c];
      d[2][c] += table[2 * (p + 1) + j] * q0[c];
      d[3][c] += table[j] * (q1[c] - q0[c]);
    }
  }
  return true;
}

// The parameter of the point of the side closest to P, by Newton's method from t (clamped to
// [lo, hi]), d as SideRowsAt gives it there. A step below 1e-9 of the range is not taken: the
// angle and the gap do not see it.
double ClosestRowParam(const SideFrame& f, const double* k, int n, int p, double t, double lo, double hi,
                       const double P[3], double* table, double d[4][3]) {
  for (int it = 0; it < 30; ++it) {
    if (!SideRowsAt(f, k, n, p, t, table, d)) break;
    const double w[3] = {d[0][0] - P[0], d[0][1] - P[1], d[0][2] - P[2]};
    const double f1 = VecDotProd3(w, d[1]), f2 = VecDotProd3(d[1], d[1]) + VecDotProd3(w, d[2]);
    const double step = -f1 / (f2 > 0.0 ? f2 : std::max(VecDotProd3(d[1], d[1]), DBL_MIN));
    const double next = std::clamp(t + step, lo, hi);
    if (!std::isfinite(next) || std::fabs(next - t) <= 1e-9 * (hi - lo)) break;
    t = next;
  }
  return t;
}

// A sample of seam e at fraction f of side A's parameter range, at side B's point closest to A's:
// each side's knot span and basis values (and first derivatives) there, kept, so that its fold
// can be read again after second-row points move (no boundary row does).
struct FoldSample {
  SideFrame f[2];
  int span[2] = {0, 0};
  double N[2][2 * (kMaxSplineDegree + 1)] = {};  // per side the values, then the derivatives

  bool Init(const EdgeInfoStruct* e, Bspline* a, Bspline* b, double frac) {
    if (!f[0].Init(a, e->infoA->side) || !f[1].Init(b, e->infoB->side)) return false;
    const double* k[2];
    double lo[2], hi[2], table[3 * (kMaxSplineDegree + 1)], d[4][3];
    for (int s = 0; s < 2; ++s) {
      const int n = f[s].nAlong, p = f[s].degAlong;
      if (p < 1 || p > kMaxSplineDegree) return false;
      k[s] = (f[s].side == 1 || f[s].side == 3) ? f[s].s->knotsV : f[s].s->knotsU;
      lo[s] = k[s][p], hi[s] = k[s][n];
    }
    double t[2] = {lo[0] + frac * (hi[0] - lo[0]), 0.0};
    if (!SideRowsAt(f[0], k[0], f[0].nAlong, f[0].degAlong, t[0], table, d)) return false;
    const double mapped = e->orient ? lo[1] + frac * (hi[1] - lo[1]) : hi[1] - frac * (hi[1] - lo[1]);
    t[1] = ClosestRowParam(f[1], k[1], f[1].nAlong, f[1].degAlong, mapped, lo[1], hi[1], d[0], table, d);
    const int orders[2] = {0, 1};
    for (int s = 0; s < 2; ++s) {
      const int n = f[s].nAlong, p = f[s].degAlong;
      span[s] = p;
      if (ComputeNubValDerivativesM(k[s], t[s], n + p + 1, p, orders, 2, &span[s], table) != 0) return false;
      std::copy(table, table + 2 * (p + 1), N[s]);
    }
    return true;
  }
  // The folded angle (degrees) between the two sides' normals; -1 where either vanishes.
  double Fold() const {
    double u[2][3];
    for (int s = 0; s < 2; ++s) {
      const int p = f[s].degAlong;
      double along[3] = {0, 0, 0}, across[3] = {0, 0, 0};
      for (int j = 0; j <= p; ++j) {
        double q0[3], q1[3];
        f[s].Get(0, span[s] - p + j, q0);
        f[s].Get(1, span[s] - p + j, q1);
        for (int c = 0; c < 3; ++c) along[c] += N[s][p + 1 + j] * q0[c], across[c] += N[s][j] * (q1[c] - q0[c]);
      }
      VecCrossProd3(along, across, u[s]);
    }
    const double la = VecSize3(u[0]), lb = VecSize3(u[1]);
    if (!(la > 0.0) || !(lb > 0.0)) return -1.0;
    const double raw = std::acos(std::clamp(VecDotProd3(u[0], u[1]) / (la * lb), -1.0, 1.0)) * kRadToDeg;
    return raw > 90.0 ? 180.0 - raw : raw;
  }
};

}  // namespace mshrink_internal

namespace {

// The fold of seam e at fraction f between surfaces a (side A's) and b (side B's), as FoldSample.
double SeamFoldAt(const EdgeInfoStruct* e, Bspline* a, Bspline* b, double f) {
  FoldSample s;
  return s.Init(e, a, b, f) ? s.Fold() : -1.0;
}

// The shared fold of two creases at a four-way corner whose other two seams are healed smooth.
// Samples from a tenth of each crease's length in, a fortieth of the length apart, as far as the
// moved points reach (at most kFoldWindow of them: to nine tenths).
constexpr int kFoldWindow = 65;
constexpr double kFoldStep = 0.0125;
// A crease rising more than this a tenth in or further starts the search; one rising more than
// kFoldRiseLeft counts against a displacement before the size of the rise does (the fall-backs and
// the measure allow a degree).
constexpr double kFoldRiseLeft = 0.95;
// Degrees a smooth seam between moved points may fold more than it did.
constexpr double kFoldSmoothRise = 0.01;

}  // namespace

namespace mshrink_internal {

int WatchSeamBeside(const BndrStruct* bs, Bspline* const* start, const EdgeInfoStruct* e, int c,
                    const CrvInfoStruct* crv, SeamBeside* w) {
  if (c < 0 || c >= bs->nCorner || !bs->corners[c].edgeIds || !crv->srfInfo) return 0;
  const CornerInfoStruct* corner = &bs->corners[c];
  const int own = crv->srfInfo->index;
  auto surface = [](const CrvInfoStruct* k) { return k && k->srfInfo ? k->srfInfo->index : -1; };
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return 0;
    const EdgeInfoStruct* o = &bs->edges[id];
    if (o == e || (surface(o->infoA) != own && surface(o->infoB) != own)) continue;
    if (w->seam || !o->paired || !o->infoA || !o->infoB || o->corner0 == o->corner1) return 0;
    w->seam = o;
  }
  const EdgeInfoStruct* o = w->seam;
  if (!o || IsG1Edge(o)) return 0;
  const int a = surface(o->infoA), b = surface(o->infoB);
  if (a < 0 || a >= bs->nSrf || b < 0 || b >= bs->nSrf || !HasSurface3Arrays(start[a]) || !HasSurface3Arrays(start[b])) return 0;
  w->now = MallocArray<FoldSample>(kWatchSamples);
  if (KernelFailed() || !w->now) return -2;
  double least = HUGE_VAL;
  for (int q = 0; q < kWatchSamples; ++q) {
    const double g = kFoldStep * (q + 1), f = o->corner0 == c ? g : 1.0 - g;
    FoldSample* at = new (w->now + q) FoldSample();
    if (!at->Init(o, SurfaceOf(o->infoA), SurfaceOf(o->infoB), f) || (w->was[q] = at->Fold()) < 0.0 ||
        (w->start[q] = SeamFoldAt(o, start[a], start[b], f)) < 0.0)
      return 0;
    if (g >= 0.1) {
      least = std::min(least, w->start[q]);
      w->startLargest = std::max(w->startLargest, w->start[q]);
    }
  }
  double largest = 0.0;
  for (int q = 0; q < kWatchSamples; ++q)
    if (kFoldStep * (q + 1) >= 0.1) largest = std::max(largest, w->was[q]);
  for (double g = kFoldStep * (kWatchSamples + 1); g <= 0.9 + 1e-9; g += kFoldStep) {
    const double f = o->corner0 == c ? g : 1.0 - g, was = SeamFoldAt(o, start[a], start[b], f),
                 now = SeamFoldAt(o, SurfaceOf(o->infoA), SurfaceOf(o->infoB), f);
    if (was < 0.0 || now < 0.0) return 0;
    least = std::min(least, was);
    w->startLargest = std::max(w->startLargest, was);
    w->restLargest = std::max(w->restLargest, now);
  }
  w->real = least > bs->angleTol;
  w->off = std::fabs(std::max(largest, w->restLargest) - w->startLargest);
  return 1;
}

bool SeamBesideHolds(const SeamBeside& w, bool flatter) {
  double largest = w.restLargest;
  for (int q = 0; q < kWatchSamples; ++q) {
    const double a = w.now[q].Fold();
    if (a < 0.0 || a > std::max(w.was[q], w.start[q] + kCreaseCeilRise) ||
        (w.real && a < std::min(w.was[q], w.start[q] - kCreaseAngleHeld)))
      return false;
    if (kFoldStep * (q + 1) >= 0.1) largest = std::max(largest, a);
  }
  return flatter || std::fabs(largest - w.startLargest) <= std::max(w.off, kCreaseAngleHeld);
}

}  // namespace mshrink_internal

namespace {

// The seams and points of four-way corner c of two or three creases that one displacement moves.
// Two creases at a right angle (both sides of one surface there; the pick-th such surface around
// the corner): that surface's point diagonal to the corner, which only those two seams read. Two
// creases continuing one grid line with two smooth seams: the points diagonal to the corner of the
// two surfaces either side of smooth seam `pick`, turned about that seam as one (opposite
// displacements in proportion to their steps across it), so it stays smooth. (Corners of four
// creases are left: searching them too costs a heal of a grid rich in them much time.)
struct CornerFold {
  EdgeInfoStruct* crease[2] = {nullptr, nullptr};
  const EdgeInfoStruct* smooth = nullptr;  // the smooth seam between the moved points, if any
  SideFrame frame[2];
  int index[2] = {0, 0};  // the moved points' indices along their frames' second rows
  int moved = 0;
};

bool CornerFoldOf(const BndrStruct* bs, int c, int pick, CornerFold* out) {
  const CornerInfoStruct* corner = &bs->corners[c];
  if (!corner->edgeIds || corner->nEdge != 4) return false;
  EdgeInfoStruct *smooth[4], *creases[4];
  int nc = 0, ns = 0;
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return false;
    EdgeInfoStruct* o = &bs->edges[id];
    if (!o->paired || !o->infoA || !o->infoB || o->corner0 == o->corner1 || (o->corner0 != c && o->corner1 != c))
      return false;
    if (IsG1Edge(o)) smooth[ns++] = o;
    else creases[nc++] = o;
  }
  if (nc < 2 || nc > 3) return false;
  auto surface = [](const CrvInfoStruct* crv) { return crv->srfInfo ? crv->srfInfo->index : -1; };
  const CrvInfoStruct* mv[2] = {nullptr, nullptr};
  // The pick-th surface whose two sides at the corner are both creases.
  int found = 0;
  for (int i = 0; i < nc; ++i)
    for (int j = i + 1; j < nc; ++j)
      for (const CrvInfoStruct* a : {creases[i]->infoA, creases[i]->infoB})
        for (const CrvInfoStruct* b : {creases[j]->infoA, creases[j]->infoB})
          if (surface(a) >= 0 && surface(a) == surface(b) && found++ == pick) {
            mv[0] = a, mv[1] = b, out->moved = 1;
            out->crease[0] = creases[i], out->crease[1] = creases[j];
          }
  if (out->moved == 0) {
    // Two halves of one grid line.
    if (found > 0 || nc != 2 || pick >= 2) return false;
    out->crease[0] = creases[0], out->crease[1] = creases[1];
    const EdgeInfoStruct* m = smooth[pick];
    const int ma = surface(m->infoA), mb = surface(m->infoB);
    for (const CrvInfoStruct* a : {out->crease[0]->infoA, out->crease[0]->infoB})
      for (const CrvInfoStruct* b : {out->crease[1]->infoA, out->crease[1]->infoB})
        if ((surface(a) == ma && surface(b) == mb) || (surface(a) == mb && surface(b) == ma))
          mv[0] = a, mv[1] = b, out->moved = 2;
    if (out->moved != 2) return false;
    out->smooth = m;
  }
  const EdgeInfoStruct* along[2] = {out->crease[0], out->crease[1]};
  for (int j = 0; j < 2; ++j) {
    const EdgeInfoStruct* e = along[j];
    const int si = surface(mv[j]);
    if (si < 0 || si >= bs->nSrf || bs->srfs[si].fixed || mv[j]->fixed || !FrameForCurve(mv[j], &out->frame[j]))
      return false;
    const int n = out->frame[j].nAlong, iA = e->corner0 == c ? 1 : n - 2;
    if (n < 4) return false;
    out->index[j] = mv[j] == e->infoA || e->orient ? iA : n - 1 - iA;
  }
  // Both frames of an L read the same point: the check that the corner ends were matched.
  const SideFrame* f = out->frame;
  if (out->moved == 1 && f[0].At(f[0].s->X, 1, out->index[0]) != f[1].At(f[1].s->X, 1, out->index[1])) return false;
  return true;
}

// At a four-way corner the normals the closed corner shares tie the seams' folds a row in (the two
// halves of one grid line fold by the sum of the other two's): where two creases meet two smooth
// seams, two creases at a right angle share one fold there, two halves of one line one size.
// Where the start folds there differ, that shared fold can rise above the smaller by more than a
// degree. The moved points' one
// displacement sets the shared fold: searched (three rounds of 21 steps, each a tenth of the last)
// for the least rise of either crease from its start between a tenth of its length and as far as
// the points reach, no crease newly more than a degree flatter there, none losing its largest
// angle inside where it kept it (within kCreaseRiseMargin of its start's), and the smooth seam
// between two moved points no steeper than kFoldSmoothRise more. 1 when the points moved; -2 on a
// memory failure.
int KeepCornerFold(BndrStruct* bs, Bspline* const* start, int c, int pick) {
  CornerFold cf;
  if (!CornerFoldOf(bs, c, pick, &cf)) return 0;
  auto surface = [](const CrvInfoStruct* crv) { return crv->srfInfo ? crv->srfInfo->index : -1; };
  const EdgeInfoStruct* seams[3] = {cf.crease[0], cf.crease[1], cf.smooth};
  const int nseam = cf.smooth ? 3 : 2;
  for (int j = 0; j < nseam; ++j)
    for (const CrvInfoStruct* crv : {seams[j]->infoA, seams[j]->infoB}) {
      const int k = surface(crv);
      if (k < 0 || k >= bs->nSrf || !HasSurface3Arrays(start[k]) || !HasSurface3Arrays(SurfaceOf(crv))) return 0;
    }
  // The window: to the end of the moved points' reach along either crease's rows (the last knot
  // of their basis functions' support).
  double reach = 0.1;
  for (int j = 0; j < 2; ++j) {
    const SideFrame& f = cf.frame[j];
    const double* k = (f.side == 1 || f.side == 3) ? f.s->knotsV : f.s->knotsU;
    const int p = f.degAlong, n = f.nAlong, i = cf.index[j];
    const double lo = k[p], hi = k[n];
    if (!(hi > lo)) return 0;
    reach = std::max(reach, i == 1 ? (k[i + p + 1] - lo) / (hi - lo) : (hi - k[i]) / (hi - lo));
  }
  const int window = std::min(kFoldWindow, static_cast<int>(std::ceil((reach - 0.1) / kFoldStep - 1e-9)) + 1);
  // Per sample of either crease its fraction and its start.
  double frac[3][kFoldWindow], was[2][kFoldWindow], startLargest[2] = {0.0, 0.0}, restLargest[2] = {0.0, 0.0};
  for (int j = 0; j < nseam; ++j)
    for (int q = 0; q < window; ++q) {
      const EdgeInfoStruct* e = seams[j];
      const double g = 0.1 + kFoldStep * q;
      frac[j][q] = e->corner0 == c ? g : 1.0 - g;
      if (j < 2 && (was[j][q] = SeamFoldAt(e, start[surface(e->infoA)], start[surface(e->infoB)], frac[j][q])) < 0.0)
        return 0;
    }
  struct Fold {
    double rise[2], flat[2], largest[2], smooth;
    double Rise() const { return std::max(rise[0], rise[1]); }
    // Creases rising by more than kFoldRiseLeft first, then the largest rise.
    double Score() const { return 100.0 * ((rise[0] > kFoldRiseLeft) + (rise[1] > kFoldRiseLeft)) + Rise(); }
  };
  // The samples of the rows as they are: the moved points are no boundary row's.
  TrackingScope scope;
  FoldSample* now = MallocArray<FoldSample>(static_cast<long>(nseam) * window);
  if (KernelFailed() || !now) return -2;
  for (int j = 0; j < nseam; ++j)
    for (int q = 0; q < window; ++q) {
      FoldSample* at = new (now + j * window + q) FoldSample();
      if (!at->Init(seams[j], SurfaceOf(seams[j]->infoA), SurfaceOf(seams[j]->infoB), frac[j][q])) return 0;
    }
  auto measure = [&](Fold* m) {
    m->smooth = 0.0;
    for (int j = 0; j < nseam; ++j) {
      if (j < 2) m->rise[j] = m->flat[j] = -HUGE_VAL, m->largest[j] = restLargest[j];
      for (int q = 0; q < window; ++q) {
        const double a = now[j * window + q].Fold();
        if (a < 0.0) return false;
        if (j == 2) {
          m->smooth = std::max(m->smooth, a);
          continue;
        }
        m->rise[j] = std::max(m->rise[j], a - was[j][q]);
        m->flat[j] = std::max(m->flat[j], was[j][q] - a);
        m->largest[j] = std::max(m->largest[j], a);
      }
    }
    return true;
  };
  Fold at0;
  if (!measure(&at0) || !(at0.Rise() > kCreaseCeilRise)) return 0;
  // Per crease the start's largest angle between a tenth and nine tenths, and the largest now
  // beyond the window.
  for (int j = 0; j < 2; ++j) {
    const EdgeInfoStruct* e = seams[j];
    for (int q = 0; q < kFoldWindow; ++q) {
      const double g = 0.1 + kFoldStep * q, fr = e->corner0 == c ? g : 1.0 - g;
      const double a = q < window ? was[j][q] : SeamFoldAt(e, start[surface(e->infoA)], start[surface(e->infoB)], fr);
      const double b = q < window ? 0.0 : SeamFoldAt(e, SurfaceOf(e->infoA), SurfaceOf(e->infoB), fr);
      if (a < 0.0 || b < 0.0) return 0;
      startLargest[j] = std::max(startLargest[j], a);
      restLargest[j] = std::max(restLargest[j], b);
    }
    at0.largest[j] = std::max(at0.largest[j], restLargest[j]);
  }
  // The displacement's directions: each point along its surface's normal there, scaled by the
  // first moved point's step from its boundary row.
  double P0[2][3], dir[2][3], h = 0.0;
  for (int j = 0; j < cf.moved; ++j) {
    const SideFrame& f = cf.frame[j];
    double lo[3], hi[3], b[3], u[3], v[3];
    f.Get(1, cf.index[j], P0[j]);
    f.Get(0, cf.index[j] - 1, lo);
    f.Get(0, cf.index[j] + 1, hi);
    f.Get(0, cf.index[j], b);
    for (int k = 0; k < 3; ++k) u[k] = hi[k] - lo[k], v[k] = P0[j][k] - b[k];
    VecCrossProd3(u, v, dir[j]);
    if (j == 0) h = VecSize3(v);
    if (VecPseudoNormalize3(dir[j], dir[j]) <= 0.0 || !(h > 0.0)) return 0;
  }
  if (cf.moved == 2) {
    // Either side of the smooth seam: one normal, and opposite displacements in proportion to
    // each point's step across the seam (from the seam's point next to the corner).
    const double sg = VecDotProd3(dir[0], dir[1]) < 0.0 ? -1.0 : 1.0;
    double mean[3], len[2];
    for (int k = 0; k < 3; ++k) mean[k] = dir[0][k] + sg * dir[1][k];
    if (VecPseudoNormalize3(mean, dir[0]) <= 0.0) return 0;
    for (int j = 0; j < 2; ++j) {
      double q[3];
      cf.frame[j].Get(1, cf.index[j] == 1 ? 0 : cf.frame[j].nAlong - 1, q);
      len[j] = VecDist3(P0[j], q);
    }
    if (!(len[0] > 0.0)) return 0;
    for (int k = 0; k < 3; ++k) dir[1][k] = -dir[0][k] * len[1] / len[0];
  }
  auto place = [&](double t) {
    for (int j = 0; j < cf.moved; ++j) {
      double P[3];
      for (int k = 0; k < 3; ++k) P[k] = P0[j][k] + t * h * dir[j][k];
      cf.frame[j].Set(1, cf.index[j], P);
    }
  };
  const double off[2] = {std::fabs(at0.largest[0] - startLargest[0]), std::fabs(at0.largest[1] - startLargest[1])};
  auto score = [&](double t) {
    Fold m;
    place(t);
    if (!measure(&m) || m.smooth > at0.smooth + kFoldSmoothRise) return HUGE_VAL;
    for (int j = 0; j < 2; ++j)
      if ((at0.flat[j] <= kCreaseAngleHeld && m.flat[j] > kCreaseAngleHeld) ||
          (off[j] <= kCreaseAngleHeld &&
           std::fabs(m.largest[j] - startLargest[j]) > std::max(off[j], kCreaseRiseMargin)))
        return HUGE_VAL;
    return m.Score();
  };
  const double was0 = at0.Score();
  double bestT = 0.0, best = was0, step = 0.01;
  for (int round = 0; round < 3; ++round, step *= 0.1) {
    const double centre = bestT;
    for (int q = -10; q <= 10; ++q) {
      const double t = centre + q * step, sc = q == 0 ? best : score(t);
      if (sc < best) best = sc, bestT = t;
    }
  }
  place(best < was0 ? bestT : 0.0);
  for (int j = 0; j < cf.moved; ++j) FreeBsplineProperties(cf.frame[j].s);
  return best < was0 ? 1 : 0;
}

}  // namespace

int KeepCornerSharedFolds(BndrStruct* bs, Bspline* const* start) {
  if (!bs || !start) return -2;
  if (!bs->corners || !(bs->angleTol > 0.0)) return 0;
  int moved = 0;
  for (int c = 0; c < bs->nCorner; ++c)
    for (int pick = 0; pick < 3; ++pick) {
      const int kept = KeepCornerFold(bs, start, c, pick);
      if (kept < 0) return -2;
      moved += kept;
    }
  return KernelFailed() ? -2 : moved;
}
