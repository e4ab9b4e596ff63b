// The measure of seams and normals that a heal may not make worse, and the steps back.
#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/gstitch_internal.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"

using namespace gstitch_internal;

// ---- what a heal may not make worse --------------------------------------------------------
//
// The stitch and the tangential heal aim at the targets, but nothing in them guarantees that a
// seam ends better than it began: on a group of mixed degrees or rough rows a boundary move can
// tilt the normals across a seam, or fold a patch near a corner. So the heal measures every
// seam (largest gap, largest folded normal angle, on fresh samples) and every surface's
// normals before and after; a surface on a seam that got worse, or whose normals turned over
// anywhere, goes back to where it began, and the measure is repeated until no seam is worse
// than it was. Each round only adds surfaces, so at worst the whole group stays as it came.

namespace {

// The normals are compared at every knot of each direction, at kNormalGrid even steps at least,
// and along the boundaries (where the stitch moves the rows) at kLineSteps at least: a fixed
// grid coarser than the net sees only some of its knots, and a fold the noise turned at a
// boundary row's end can lie wholly between two of its sites.
constexpr int kNormalGrid = 12;
constexpr int kLineSteps = 48;
constexpr double kGapSlack = 1e-6;     // of the group's size: below the float rounding of host coordinates
constexpr double kNormalSine = 1e-12;  // sine of the partials' angle below which there is no normal
constexpr double kAngleSlack = 0.01;   // degrees
constexpr double kCreaseAngleRise = 1.0;  // degrees
constexpr double kCreaseAngleGive = 5.0;  // degrees: the most a crease's angle may give anywhere
constexpr int kSampleReach = 2;           // neighbours each side whose start a crease sample may keep to
// Of the angle limit: a seam whose angle comes this near tangency somewhere is smooth there, and a
// part beyond the limit is the damage's twist, not a crease (no real crease dips so far).
constexpr double kTwistedShare = 0.25;
constexpr double kDegPerRad = 57.29577951308232;

}  // namespace

namespace gstitch_internal {

// The largest control-point box diagonal of the group's surfaces: the scale of its gaps.
double GroupSize(const BndrStruct* bs) {
  double size = 0.0;
  for (int i = 0; i < bs->nSrf; ++i)
    if (bs->srfs[i].srf) size = std::max(size, ControlPointDiagonal(bs->srfs[i].srf));
  return size;
}

}  // namespace gstitch_internal

namespace {

// The sites of one direction of a surface: every breakpoint of its knots within the domain, and
// where there are fewer than `steps` spans, the points splitting each into as many even parts
// as make `steps` steps at least. Counts them when `out` is null.
int DirectionSites(const double* knots, int count, double lo, double hi, int steps, double* out) {
  int spans = 0;
  for (int k = 0; k + 1 < count; ++k) spans += knots[k] >= lo && knots[k + 1] <= hi && knots[k + 1] > knots[k];
  if (spans < 1) {
    // Knots that do not cover the domain: even steps.
    for (int k = 0; out && k <= steps; ++k) out[k] = lo + (hi - lo) * k / steps;
    return steps + 1;
  }
  const int parts = (steps + spans - 1) / spans;
  int m = 0;
  for (int k = 0; k + 1 < count; ++k) {
    const double a = knots[k], b = knots[k + 1];
    if (!(a >= lo && b <= hi && b > a)) continue;
    for (int j = 0; j < parts; ++j, ++m)
      if (out) out[m] = a + (b - a) * j / parts;
  }
  if (out) out[m] = hi;
  return m + 1;
}

// Grid g of a surface's sites (see GroupMeasure): its counts, and its u then v sites into `out`
// unless null.
void GridSites(const Bspline* s, int g, int* nu, int* nv, double* out) {
  const int cu = NumCtrlU(s) + s->degreeU + 1, cv = NumCtrlV(s) + s->degreeV + 1;
  auto ends = [](double lo, double hi, double* at) {
    if (at) at[0] = lo, at[1] = hi;
    return 2;
  };
  *nu = g == 2 ? ends(s->umin, s->umax, out)
               : DirectionSites(s->knotsU, cu, s->umin, s->umax, g == 0 ? kNormalGrid : kLineSteps, out);
  double* v = out ? out + *nu : nullptr;
  *nv = g == 1 ? ends(s->vmin, s->vmax, v)
               : DirectionSites(s->knotsV, cv, s->vmin, s->vmax, g == 0 ? kNormalGrid : kLineSteps, v);
}

// Normals on the grid of the given sites, u fastest; the partials come in two grid evaluations
// (spans and basis values once per site, not once per point).
int SurfaceNormals(const Bspline* s, const double* us, int nu, const double* vs, int nv, double* out) {
  TrackingScope scope;
  const int count = nu * nv;
  double* d[6];
  for (double*& a : d) a = MallocArray<double>(count);
  if (KernelFailed()) return -2;
  for (double* a : d)
    if (!a) return -2;
  if (Eval4DGridOnRSurfArray(s, us, nu, vs, nv, 1, 0, 1, nullptr, d[0], d[1], d[2]) != 0 ||
      Eval4DGridOnRSurfArray(s, us, nu, vs, nv, 0, 1, 1, nullptr, d[3], d[4], d[5]) != 0)
    return -2;
  for (int k = 0; k < count; ++k) {
    const double su[3] = {d[0][k], d[1][k], d[2][k]}, sv[3] = {d[3][k], d[4][k], d[5][k]};
    double* n = out + 3 * k;
    n[0] = su[1] * sv[2] - su[2] * sv[1];
    n[1] = su[2] * sv[0] - su[0] * sv[2];
    n[2] = su[0] * sv[1] - su[1] * sv[0];
    // The normal vanishes where the partials are parallel or one of them vanishes, judged by
    // the sine of their angle: on a part a millionth of a unit across the cross product of
    // sound partials lies below any fixed floor, and the flip check saw no normal at all.
    auto square = [](const double* a) { return a[0] * a[0] + a[1] * a[1] + a[2] * a[2]; };
    const double len = std::sqrt(square(n));
    const double scale = std::sqrt(square(su) * square(sv));
    for (int c = 0; c < 3; ++c) n[c] = len > kNormalSine * scale ? n[c] / len : 0.0;
  }
  return KernelFailed() ? -2 : 0;
}

// The sites of every surface, from its knots now (or, with `like`, those of an earlier measure,
// so that before and after compare the same points whatever knots the heal inserted).
int SetNormalSites(BndrStruct* bs, GroupMeasure* m, const GroupMeasure* like) {
  const int n = bs->nSrf, entries = 12 * n;
  m->layout.reset(MallocArray<int>(entries));
  if (!m->layout || KernelFailed()) return -2;
  if (like && like->layout) {
    for (int k = 0; k < entries; ++k) m->layout[k] = like->layout[k];
  } else {
    int site = 0, normal = 0;
    for (int i = 0; i < n; ++i)
      for (int g = 0; g < 3; ++g) {
        int* l = m->layout.get() + 12 * i + 4 * g;
        GridSites(TopologySurface(bs, i), g, &l[0], &l[1], nullptr);
        l[2] = site, l[3] = normal;
        site += l[0] + l[1];
        normal += 3 * l[0] * l[1];
      }
  }
  const int* last = m->layout.get() + entries - 4;
  const int sites = last[2] + last[0] + last[1], normals = last[3] + 3 * last[0] * last[1];
  m->sites.reset(MallocArray<double>(sites));
  m->normals.reset(MallocArray<double>(normals));
  if (!m->sites || !m->normals || KernelFailed()) return -2;
  if (like && like->sites) {
    for (int k = 0; k < sites; ++k) m->sites[k] = like->sites[k];
    return 0;
  }
  for (int i = 0; i < n; ++i)
    for (int g = 0; g < 3; ++g) {
      const int* l = m->layout.get() + 12 * i + 4 * g;
      int nu = 0, nv = 0;
      GridSites(TopologySurface(bs, i), g, &nu, &nv, m->sites.get() + l[2]);
    }
  return 0;
}

// The folded angle (degrees) between the two sides' normals at sample i of a paired edge; 0
// where a side has no normal there (and then *normal, when given, is false).
int SampleAngle(const EdgeInfoStruct* e, int i, double* angle, bool* normal = nullptr) {
  double na[3], nb[3];
  *angle = 0.0;
  if (normal) *normal = false;
  if (!e->sampleA || !e->sampleB || EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], na) != 0 ||
      EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], nb) != 0)
    return KernelFailed() ? -2 : 0;
  const double la = std::sqrt(VecDotProd3(na, na)), lb = std::sqrt(VecDotProd3(nb, nb));
  if (!(la > 0.0 && lb > 0.0)) return 0;
  *angle = std::acos(std::clamp(std::fabs(VecDotProd3(na, nb)) / (la * lb), 0.0, 1.0)) * kDegPerRad;
  if (normal) *normal = true;
  return 0;
}

// The distance from p to the segment from a to b; with `pastA`, to the segment carried on past a
// (a point lying past a side's end a is as far from it as it lies across its line there).
double DistanceToSegment(const double p[3], const double a[3], const double b[3], bool pastA = false) {
  double d[3], w[3], q[3];
  for (int c = 0; c < 3; ++c) d[c] = b[c] - a[c], w[c] = p[c] - a[c];
  const double dd = Dot3(d, d);
  const double t = dd > 0.0 ? std::clamp(Dot3(w, d) / dd, pastA ? -HUGE_VAL : 0.0, 1.0) : 0.0;
  for (int c = 0; c < 3; ++c) q[c] = a[c] + t * d[c];
  return VecDist3(p, q);
}

// The largest gap across a paired edge at its samples: between matched samples inside it, and
// at each end from each side's end point to the other side's first step. How far the corners lie
// apart along the seam is left out: it is no gap across the seam. Into `line` the same with each
// end measured to the other side's first step carried on past its end, which leaves out also how
// far one side's end stands out past the other's.
int GapAcross(const EdgeInfoStruct* e, double* gap, double* line) {
  *gap = *line = 0.0;
  const int n = e->nSample;
  if (n < 2 || !e->sampleA || !e->sampleB) return 0;
  auto point = [e](int side, int i, double p[3]) {
    return EvalPntOnBndryCrv(side ? e->infoB : e->infoA, side ? e->sampleB[i] : e->sampleA[i], p);
  };
  double a0[3], a1[3], b0[3], b1[3];
  for (int i = 1; i + 1 < n; ++i) {
    if (point(0, i, a0) != 0 || point(1, i, b0) != 0) return -2;
    *gap = std::max(*gap, VecDist3(a0, b0));
  }
  const double inside = *gap;
  for (int end = 0; end < 2; ++end) {
    const int i = end ? n - 1 : 0, next = end ? n - 2 : 1;
    if (point(0, i, a0) != 0 || point(0, next, a1) != 0 || point(1, i, b0) != 0 || point(1, next, b1) != 0) return -2;
    *gap = std::max({*gap, DistanceToSegment(a0, b0, b1), DistanceToSegment(b0, a0, a1)});
    *line = std::max({*line, DistanceToSegment(a0, b0, b1, true), DistanceToSegment(b0, a0, a1, true)});
  }
  *line = std::max(*line, inside);
  return 0;
}

}  // namespace

namespace gstitch_internal {

// Seams and normals of the topology's current surfaces, all of them or (with `stages`, one
// record per surface) only the seams and normals of the surfaces marked: the others kept their
// geometry, and so their measures (the edges keep theirs too). Every paired edge is sampled
// anew, as ComputeSrfsGrpContinuity (mode 2, 100 samples) would. The normals are taken at the
// sites of `like` when given; without it (the start) the creases' inside angles and the gaps
// across the seams are taken too. The arrays live in the caller's scope.
int MeasureGroup(BndrStruct* bs, GroupMeasure* m, const SurfaceStage* stages, const GroupMeasure* like) {
  if (!m->gap) {
    m->gap.reset(MallocArray<double>(bs->nEdge + 1));
    m->angle.reset(MallocArray<double>(bs->nEdge + 1));
    m->ends.reset(MallocArray<double>(2 * bs->nEdge + 2));
    if (!like) m->inside.reset(MallocArray<double>(bs->nEdge + 1));
    if (!like) m->least.reset(MallocArray<double>(bs->nEdge + 1));
    if (!like) m->across.reset(MallocArray<double>(bs->nEdge + 1));
    if (!like) m->acrossLine.reset(MallocArray<double>(bs->nEdge + 1));
    m->profile.reset(MallocArray<double>((bs->nEdge + 1) * kProfileStride));
    if (!m->gap || !m->angle || !m->ends || !m->profile ||
        (!like && (!m->inside || !m->least || !m->across || !m->acrossLine)) ||
        KernelFailed() || SetNormalSites(bs, m, like) != 0)
      return -2;
    for (int k = 0; k < 2 * bs->nEdge + 2; ++k) m->ends[k] = 0.0;
    for (int k = 0; k < (bs->nEdge + 1) * kProfileStride; ++k) m->profile[k] = 0.0;
  }
  auto moved = [&](int s) { return !stages || (s >= 0 && s < bs->nSrf && stages[s].changed); };
  for (int e = 0; e < bs->nEdge; ++e) {
    EdgeInfoStruct* ed = &bs->edges[e];
    m->gap[e] = m->angle[e] = 0.0;
    if (m->inside) m->inside[e] = 0.0;
    if (m->least) m->least[e] = 0.0;
    if (m->across) m->across[e] = m->acrossLine[e] = 0.0;
    if (!ed->paired) {
      ed->maxAngle = 0.0;
      continue;
    }
    int a = -1, b = -1;
    GetBndrEdgeAdjSrfIds(ed, &a, &b);
    if (moved(a) || moved(b)) {
      double g = 0.0, angle = 0.0;
      if (ComputeBndrEdgeParamSamplesAndNubVals(ed, 1, kMeasureSamples) != 0 || ComputeMaxBndrEdgeGap(ed, &g, nullptr, nullptr) != 0 ||
          BndrEdgeMaxNormalDiff(ed, 0.0, &angle) != 0 || KernelFailed())
        return -2;
      for (int end = 0; end < 2 && ed->nSample > 0; ++end)
        if (SampleAngle(ed, end ? ed->nSample - 1 : 0, &m->ends[2 * e + end]) != 0) return -2;
      // The angle at every sample (a crease's ends are judged against its middle) and, at the
      // start, the least: above the limit all along, a crease is a real one.
      double* profile = m->profile.get() + e * kProfileStride;
      const int kept = std::min(ed->nSample, kProfileStride - 1);
      profile[0] = kept;
      for (int i = 0; i < ed->nSample; ++i) {
        double at = 0.0;
        bool normal = false;
        if (SampleAngle(ed, i, &at, &normal) != 0) return -2;
        // The last sample is the seam's end, whatever the count.
        const int slot = i == ed->nSample - 1 ? kept : i + 1;
        if (slot < kept || i == ed->nSample - 1) profile[slot] = normal ? at : -1.0;
        if (m->least) m->least[e] = i == 0 ? at : std::min(m->least[e], at);
      }
      if (m->across && GapAcross(ed, &m->across[e], &m->acrossLine[e]) != 0) return -2;
    }
    if (m->inside && !IsBndrEdgeHealedSmooth(ed) && BndrEdgeInsideNormalDiff(ed, &m->inside[e]) != 0) return -2;
    m->gap[e] = ed->maxGap;
    m->angle[e] = ed->maxAngle;
  }
  for (int i = 0; i < bs->nSrf; ++i)
    for (int g = 0; moved(i) && g < 3; ++g) {
      const int* l = m->layout.get() + 12 * i + 4 * g;
      const double* at = m->sites.get() + l[2];
      if (SurfaceNormals(TopologySurface(bs, i), at, l[0], at + l[0], l[1], m->normals.get() + l[3]) != 0) return -2;
    }
  return 0;
}

}  // namespace gstitch_internal

namespace {

// The cosine below which a site's normal turned with a fold the heal undid, over or not.
constexpr double kFoldTurnCosine = 0.5;

// Whether the normal at site (u, v) of a grid of nu x nv turned over because the heal undid a
// fold the surface came with: its normal now lies in line with the healed normals of the nearest
// sites along the grid that did not turn (no fold is left there) and with the start normal of
// one of them at least (it came back to the surface as it was). A band the heal turned over
// ends in sites whose start normals its own now opposes. Noise at a clamped end can turn the
// last short step of a boundary row round (the end's normals 90 to 110 degrees from the
// strip's); closing the seam there turns it back, which is no fold of ours. A site that turned
// beyond 60 degrees without going over turned with the end and tells nothing of what stayed: an
// end the seam turns back whole carries its corner site far round, and judged against that site
// the surface would go back and leave its seam open.
bool FoldUndone(const double* before, const double* after, int nu, int nv, int u, int v) {
  constexpr int kReach = 4;
  const double* a = after + 3 * (u + nu * v);
  const double* b = before + 3 * (u + nu * v);
  bool cameBack = false;
  const int du[4] = {1, -1, 0, 0}, dv[4] = {0, 0, 1, -1};
  for (int d = 0; d < 4; ++d) {
    // A boundary grid has only the two ends across: the site there lies on the opposite side
    // of the surface (a half-cylinder's normal points the other way), no neighbour of this one.
    if ((du[d] != 0 && nu == 2) || (dv[d] != 0 && nv == 2)) continue;
    for (int step = 1; step <= kReach; ++step) {
      const int qu = u + step * du[d], qv = v + step * dv[d];
      if (qu < 0 || qu >= nu || qv < 0 || qv >= nv) break;
      const double *qb = before + 3 * (qu + nu * qv), *qa = after + 3 * (qu + nu * qv);
      if (Dot3(qb, qa) < kFoldTurnCosine) continue;
      if (!(Dot3(a, qa) > 0.0 && Dot3(a, qa) >= Dot3(b, qb))) return false;
      cameBack = cameBack || Dot3(a, qb) > 0.0;
      break;
    }
  }
  return cameBack;
}

// The sharpest turn between neighbouring sites of a grid of nu x nv within `reach` of site
// (u, v), as the cosine of the angle (the lowest).
double SharpestTurnNear(const double* n, int nu, int nv, int u, int v, int reach) {
  double low = 1.0;
  for (int qv = std::max(0, v - reach); qv <= std::min(nv - 1, v + reach); ++qv)
    for (int qu = std::max(0, u - reach); qu <= std::min(nu - 1, u + reach); ++qu) {
      const double* q = n + 3 * (qu + nu * qv);
      if (qu + 1 < nu && qu + 1 <= u + reach && nu > 2) low = std::min(low, Dot3(q, n + 3 * (qu + 1 + nu * qv)));
      if (qv + 1 < nv && qv + 1 <= v + reach && nv > 2) low = std::min(low, Dot3(q, n + 3 * (qu + nu * (qv + 1))));
    }
  return low;
}

// The inside grid's site (iu, iv) nearest site k of boundary grid g (1 u-running, 2 v-running)
// of surface i: on the boundary's first or last row across, nearest along it.
void InsideSiteOf(const GroupMeasure& m, int i, int g, int k, int* iu, int* iv) {
  const int* lb = m.layout.get() + 12 * i + 4 * g;
  const int* li = m.layout.get() + 12 * i;
  const double* sb = m.sites.get() + lb[2];
  const double* si = m.sites.get() + li[2];
  const int u = k % lb[0], v = k / lb[0];
  auto nearest = [](const double* at, int count, double t) {
    int best = 0;
    for (int j = 1; j < count; ++j)
      if (std::fabs(at[j] - t) < std::fabs(at[best] - t)) best = j;
    return best;
  };
  if (g == 1) {
    *iu = nearest(si, li[0], sb[u]);
    *iv = v == 0 ? 0 : li[1] - 1;
  } else {
    *iu = u == 0 ? 0 : li[0] - 1;
    *iv = nearest(si + li[0], li[1], sb[lb[0] + v]);
  }
}

// Whether the sharpest turn between neighbouring sites near site k of grid g of surface i is no
// sharper after the heal than it came: on the site's own grid and, for a boundary site, on the
// inside grid near its nearest inside site. A normal turned over where that holds moved with a
// fold or kink the surface came with and made none. Judged by its neighbours' turns alone
// (FoldUndone), it would go back wherever the end it lies on turned with it or its neighbours lie
// round a curve: at a noisy tube's end the closed seam turns the end's normals back and eases the
// end's sharpest turn, while a site there may end a few degrees further from a site along the
// cylinder than it came, most of that the cylinder's own curvature. A kink the heal makes
// sharpens the turn and still sends the surface back.
bool NoSharperTurnNear(const GroupMeasure& before, const GroupMeasure& after, int i, int g, int k) {
  constexpr int kReach = 4;
  const int* l = before.layout.get() + 12 * i + 4 * g;
  double b = SharpestTurnNear(before.normals.get() + l[3], l[0], l[1], k % l[0], k / l[0], kReach);
  double a = SharpestTurnNear(after.normals.get() + l[3], l[0], l[1], k % l[0], k / l[0], kReach);
  if (g > 0) {
    const int* li = before.layout.get() + 12 * i;
    int iu = 0, iv = 0;
    InsideSiteOf(before, i, g, k, &iu, &iv);
    b = std::min(b, SharpestTurnNear(before.normals.get() + li[3], li[0], li[1], iu, iv, kReach));
    a = std::min(a, SharpestTurnNear(after.normals.get() + li[3], li[0], li[1], iu, iv, kReach));
  }
  return a >= b;
}

// Whether site k of boundary grid g (1 u-running, 2 v-running) of surface i lies where the
// inside grid's nearest site on the same boundary turned (over, or beyond kFoldTurnCosine)
// because the heal undid a fold.
// Along a strip's end the noise can turn every start normal of the end row, so the boundary
// grid alone has no sound neighbour to judge by; the inside grid's rows further in have.
bool FoldUndoneInside(const GroupMeasure& before, const GroupMeasure& after, int i, int g, int k) {
  const int* li = before.layout.get() + 12 * i;
  int iu = 0, iv = 0;
  InsideSiteOf(before, i, g, k, &iu, &iv);
  const double* nb = before.normals.get() + li[3];
  const double* na = after.normals.get() + li[3];
  const int s = iu + li[0] * iv;
  return Dot3(nb + 3 * s, na + 3 * s) < kFoldTurnCosine && FoldUndone(nb, na, li[0], li[1], iu, iv);
}


// Whether a paired edge of surface s ends within the gap target in the measure m.
bool ClosesASeam(const BndrStruct* bs, const GroupMeasure& m, int s, double healGap) {
  for (int e = 0; e < bs->nEdge; ++e) {
    int a = -1, b = -1;
    if (!bs->edges[e].paired) continue;
    GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
    if ((a == s || b == s) && m.gap[e] <= healGap) return true;
  }
  return false;
}

// Whether the corner at end `end` (0 first, 1 last) of edge e ends another paired edge too.
bool EndSharedWithASeam(const BndrStruct* bs, int e, int end) {
  const int c = end ? bs->edges[e].corner1 : bs->edges[e].corner0;
  for (int j = 0; c >= 0 && c < bs->nCorner && j < bs->corners[c].nEdge; ++j) {
    const int id = bs->corners[c].edgeIds ? bs->corners[c].edgeIds[j] : -1;
    if (id >= 0 && id < bs->nEdge && id != e && bs->edges[id].paired) return true;
  }
  return false;
}

// Whether a real crease (beyond the angle limit all along at the start) ends at each corner it
// shares with another seam no farther from its median start angle than a crease may give
// (kCreaseAngleGive) or, where the damage had put the end or a sample next to it farther, than it
// came, give or take the degree a crease may change. The heal knows only the damaged crease: an end
// the noise tilted may come back towards the crease as a whole by any amount, but no end may be
// bent away from it. The corners that close the seams meeting there set the end: judged by the
// largest angle and the middle alone, a corner could bend the crease's end by tens of degrees where
// the noise steepened it further along. Ends on the outer boundary are left to the fold rules:
// there the noise can fold a clamped row's last step, and its angle tells nothing of the crease.
bool CreaseEndsKept(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, int e) {
  if (IsBndrEdgeHealedSmooth(&bs->edges[e]) == 1 || !before.least || !(before.least[e] > bs->angleTol)) return true;
  const double* was = before.profile.get() + e * kProfileStride;
  const double* now = after.profile.get() + e * kProfileStride;
  const int count = static_cast<int>(was[0]);
  if (count != static_cast<int>(now[0]) || count < 1) return true;
  double sorted[kProfileStride];
  int m = 0;
  for (int i = 1; i <= count; ++i)
    if (was[i] >= 0.0) sorted[m++] = was[i];
  if (m == 0) return true;
  std::sort(sorted, sorted + m);
  const double median = m % 2 ? sorted[m / 2] : 0.5 * (sorted[m / 2 - 1] + sorted[m / 2]);
  for (int end = 0; end < 2; ++end) {
    const int i = end ? count : 1;
    if (now[i] < 0.0 || !EndSharedWithASeam(bs, e, end)) continue;
    double came = kCreaseAngleGive;
    for (int j = std::max(1, i - kSampleReach); j <= std::min(count, i + kSampleReach); ++j)
      if (was[j] >= 0.0) came = std::max(came, std::fabs(was[j] - median));
    if (std::fabs(now[i] - median) > came + kCreaseAngleRise) return false;
  }
  return true;
}

// Whether surface i had no gap to close (every seam of it came within healGap; a surface in no
// seam has none) and either came within both targets on every seam or does not end so: a smooth
// seam within healAngle too, a crease within healGap.
bool NothingToClose(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, int i,
                    double healGap, double healAngle) {
  bool metBefore = true, metAfter = true;
  for (int e = 0; e < bs->nEdge; ++e) {
    const EdgeInfoStruct* ed = &bs->edges[e];
    int a = -1, b = -1;
    if (!ed->paired || GetBndrEdgeAdjSrfIds(ed, &a, &b) != 0 || (a != i && b != i)) continue;
    if (before.gap[e] > healGap) return false;
    const bool smooth = IsBndrEdgeHealedSmooth(ed) == 1;
    metBefore = metBefore && (!smooth || before.angle[e] <= healAngle);
    metAfter = metAfter && after.gap[e] <= healGap && (!smooth || after.angle[e] <= healAngle);
  }
  return metBefore || !metAfter;
}

}  // namespace

namespace gstitch_internal {

// Steps back, one stage at a time, the surfaces on every seam that got worse than it began (a
// smooth seam within both targets is not worse) and every surface whose normals turned over
// anywhere but where the heal undid a fold the surface came with or left the turns near the site
// no sharper than they came; the number of surfaces
// stepped back. A seam is judged on its own: the surfaces of seams that did not get worse keep
// their stage, so one rough seam no longer sends a whole neighbourhood back to its start.
// Each surface's record says its stage, whether it stepped back this round and why it last
// stepped back (kKeptWorse, kKeptFold, kKeptAlone), for the report of a surface that ends back at
// its start.
int StepBackWorsened(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, double healGap,
                     double healAngle, SurfaceStage* stages, const char* takenBack) {
  int marked = 0;
  const double gapSlack = kGapSlack * GroupSize(bs);
  // Each surface steps back at most once per round: the next measure judges the new stage.
  const int n = bs->nSrf;
  auto stepped = [&](int s) { return stages[s].changed != 0; };
  auto drop = [&](int s, char why) {
    if (s >= 0 && s < n && stages[s].stage > kStart && !stepped(s)) {
      --stages[s].stage;
      stages[s].changed = 1;
      stages[s].why = why;
      ++marked;
    }
  };
  for (int s = 0; s < n; ++s) stages[s].changed = 0;
  for (int e = 0; e < bs->nEdge; ++e) {
    const EdgeInfoStruct* ed = &bs->edges[e];
    if (!ed->paired) continue;
    // A seam whose one surface is back at its start and whose other surface's rows there went back
    // where they came (TakeBackMovesTowardsPutBack) is as it came but where a corner closes another
    // seam of that surface: judged, it would send that surface back and open the seam it closes.
    int ta = -1, tb = -1;
    GetBndrEdgeAdjSrfIds(ed, &ta, &tb);
    auto atStart = [&](int s) { return s >= 0 && s < n && stages[s].stage == kStart; };
    if (takenBack && takenBack[e] && (atStart(ta) || atStart(tb))) continue;
    // A crease (a seam beyond the angle limit, healed in position only) keeps its angle within
    // a degree: closing it moves both boundaries onto one curve and turns the ends of the seams
    // meeting at its corners onto common tangents, which tilts the normals near the corners.
    // Held to the smooth seams' hundredth of a degree, rough groups would stay as they came.
    const bool smooth = IsBndrEdgeHealedSmooth(ed) == 1;
    // A smooth seam closed in position may turn as a crease may where the tangential heal
    // cannot be asked to bring it within the angle target: it came beyond the target (a kink
    // the damage made, noise on the boundary rows, which closing the gap may steepen by a
    // fraction of a degree), or one side runs on past the other (a T-junction), whose longer
    // side keeps its shape and whose shorter surface follows it and tilts as it must (a plane's
    // side ending partway along another plane's straight side). Held to a hundredth of a degree,
    // such seams would send their surfaces back and, through their other seams, whole groups of
    // planes with them. A seam that came within the target is held to it: closing it must not
    // kink it. The turn is allowed from the positional result on, without the tangential heal's
    // moves, which could take a surface beyond 3 x the gap it closed.
    const double fa = CoveredFraction(ed, 0), fb = CoveredFraction(ed, 1);
    const bool runsOn = fa < kRunsOnShare * fb || fb < kRunsOnShare * fa;
    int sa0 = -1, sb0 = -1;
    GetBndrEdgeAdjSrfIds(ed, &sa0, &sb0);
    auto positionalAtMost = [&](int s) { return s < 0 || s >= n || stages[s].stage <= kPositional; };
    const bool turnFree = after.gap[e] <= healGap && (before.angle[e] > healAngle || runsOn) &&
                          positionalAtMost(sa0) && positionalAtMost(sb0);
    const double slack = smooth && !turnFree ? kAngleSlack : kCreaseAngleRise;
    // A smooth seam that ends within both targets is healed, whatever it began with: held to
    // its start, a seam of a few hundredths of a degree whose gap closed would go back open for
    // the hundredth that closing it adds.
    const bool met = smooth && after.gap[e] <= healGap && after.angle[e] <= healAngle;
    // A crease is judged along its length too, between a tenth and nine tenths: its largest
    // angle can lie at an end, set by the corners and by folds the noise made there, and rise
    // there by degrees as the seam closes while its inside stays as it was. Either measure within
    // a degree of its start will do, so no crease that passed the whole-seam rule goes back. A
    // crease left open is judged so only where each of its surfaces that moved closes a seam:
    // otherwise a surface healed against a neighbour put back could keep its moves with both of
    // its seams open. The
    // edge's samples are those of the geometry measured last.
    auto insideKept = [&] {
      double now = 0.0;
      if (smooth || !before.inside || BndrEdgeInsideNormalDiff(ed, &now) != 0 || now > before.inside[e] + kCreaseAngleRise)
        return false;
      if (after.gap[e] <= healGap) return true;
      int a = -1, b = -1;
      GetBndrEdgeAdjSrfIds(ed, &a, &b);
      for (int s : {a, b})
        if (s >= 0 && s < n && stages[s].stage > kStart && !ClosesASeam(bs, after, s, healGap)) return false;
      return true;
    };
    const bool gapKept = after.gap[e] <= before.gap[e] + gapSlack;
    // A real crease (beyond the limit all along its length at the start) does not flatten at an
    // end it shares with another seam, where the measures above do not look (its largest angle
    // lies inside; the inside leaves the ends to the corners): a smooth seam's heal can turn such
    // a corner and halve the crease's angle at its end while its largest angle stays, the strip
    // moving many times the gap it closes. An end that drops more than a crease may give
    // (5 degrees) below the least angle the crease had along its length makes the seam worse.
    // Ends on the outer boundary, where the noise folds a clamped row's last step, are left to
    // the fold rules, and a crease whose largest angle went down too is a smooth seam's jitter
    // that the heal smoothed.
    const bool real = before.least && before.least[e] > bs->angleTol;
    auto endKept = [&](int k) {
      return !EndSharedWithASeam(bs, e, k % 2) || after.ends[k] >= before.least[e] - kCreaseAngleGive;
    };
    const bool flattened = after.angle[e] < before.angle[e] - kCreaseAngleRise;
    const bool endsKept = smooth || !real || flattened || (endKept(2 * e) && endKept(2 * e + 1));
    // A seam taken as a crease whose angle comes within a quarter of the limit somewhere is a
    // smooth seam the damage twisted (a dense net's noisy first rows turn its side by tens of
    // degrees at one end and none further on), not a crease to keep: once closed, its angle may
    // rise short of a fold (kFoldTurnCosine). Held to its start, closing it would put both
    // surfaces back and leave it open.
    const bool twisted = !smooth && before.least && before.least[e] <= kTwistedShare * bs->angleTol &&
                         after.gap[e] <= healGap && gapKept &&
                         std::cos(after.angle[e] / kDegPerRad) >= kFoldTurnCosine;
    if (met || twisted ||
        (gapKept && endsKept && CreaseEndsKept(bs, before, after, e) &&
         (after.angle[e] <= before.angle[e] + slack || insideKept())))
      continue;
    int a = -1, b = -1;
    GetBndrEdgeAdjSrfIds(ed, &a, &b);
    // One surface of the seam steps back per round, the one further along first (a surface
    // stepped back for another seam this round counts for this one too); the next round sees
    // whether that was enough.
    const int sa = (a >= 0 && a < n) ? stages[a].stage : -1, sb = (b >= 0 && b < n) ? stages[b].stage : -1;
    if (sa >= sb) {
      if (!stepped(b)) drop(a, kKeptWorse);
    } else {
      if (!stepped(a)) drop(b, kKeptWorse);
    }
  }
  for (int i = 0; i < n; ++i) {
    if (stages[i].stage == kStart || stepped(i)) continue;
    // A site's neighbours are those of its own grid (inside, u-running or v-running).
    bool flipped = false;
    for (int g = 0; g < 3 && !flipped; ++g) {
      const int* l = before.layout.get() + 12 * i + 4 * g;
      const double* nb = before.normals.get() + l[3];
      const double* na = after.normals.get() + l[3];
      for (int k = 0; k < l[0] * l[1] && !flipped; ++k)
        flipped = Dot3(nb + 3 * k, na + 3 * k) < 0.0 && !FoldUndone(nb, na, l[0], l[1], k % l[0], k / l[0]) &&
                  !(g > 0 && FoldUndoneInside(before, after, i, g, k)) &&
                  !NoSharperTurnNear(before, after, i, g, k);
    }
    if (flipped) drop(i, kKeptFold);
  }
  // A surface that closes none of its seams while a neighbour across an open one is back where
  // it began moved towards a neighbour that did not come: it steps back too, rather than keep
  // moves that leave its seams open.
  for (int i = 0; i < n; ++i) {
    if (stages[i].stage == kStart || stepped(i) || ClosesASeam(bs, after, i, healGap)) continue;
    for (int e = 0; e < bs->nEdge; ++e) {
      int a = -1, b = -1;
      if (!bs->edges[e].paired || after.gap[e] <= healGap) continue;
      GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
      const int other = a == i ? b : b == i ? a : -1;
      if (other >= 0 && other < n && other != i && stages[other].stage == kStart && !bs->srfs[other].fixed) {
        drop(i, kKeptAlone);
        break;
      }
    }
  }
  return marked;
}

int KeepIdleSurfaces(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, double healGap,
                     double healAngle, SurfaceStage* stages) {
  const int n = bs->nSrf;
  int marked = 0;
  for (int i = 0; i < n; ++i) {
    SurfaceStage& s = stages[i];
    if (s.stage == kStart || s.changed || bs->srfs[i].fixed || !NothingToClose(bs, before, after, i, healGap, healAngle))
      continue;
    s.stage = kStart;
    s.changed = 1;
    s.why = 0;  // not a fall-back: the report names no reason for it
    ++marked;
  }
  return marked;
}

}  // namespace gstitch_internal
