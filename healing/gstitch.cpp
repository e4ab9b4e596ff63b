#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "cloud/pmedian.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "platform/tstubs.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/csmooth.h"
#include "splinefit/fitsplin.h"

BndrStruct* srfsTopology = nullptr;
int SIbInsertKnot = 0;
int bParamFixed = 0;

namespace {

// Tuning of the stitch loop; fixed at build time.
constexpr int maxSetupStep = 3;  // corner geometry is set up again in iterations 1 .. 2
constexpr int setFixedStep = 2;  // iteration that fixes curves with too few knots
constexpr int refineStep = 6;    // averaged samples are faired every refineStep iterations
constexpr int gTest = 1;
// Degrees a crease may stand above its start early in the stitch before the corners at its ends
// keep less of their angles: below the degree the heal's safety check allows at the end, with
// room for what the later iterations add.
constexpr double kFlattenRise = 0.8;

// The heal moves x, y, z only and works on non-rational records: weights within 0.001 of 1 and an
// exact form would no longer describe the moved points, so they are released, not just unhooked.
void DropRationalParts(Bspline* b) {
  b->rational = 0;
  if (b->W) matrix_free_fh(b->W);
  b->W = nullptr;
  FreeQuadricInfo(b);
  b->quadricType = 0;
}

// A surface the stitch can read: a sound record (finite knots that never decrease, finite
// coefficients, counts that match its arrays; bspline/bsvalid), a 3D surface of degree 1 or
// more in both directions. Anything else is bad input, refused with -2 before the topology or
// any caller surface is touched.
bool IsSurface3(const Bspline* b) {
  return BsplineSound(b) && b->kind == 2 && b->dimension == 3 && b->degreeU >= 1 && b->degreeV >= 1;
}

// The topology's own copy of surface i.
Bspline* TopologySurface(BndrStruct* bs, int i) { return bs->srfs[i].srf; }

void FillResult(int** result, int n, int code) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < 4; ++j) result[i][j] = code;
}

// A heal that stops writes nothing back; after a memory failure the report marks every side -1,
// after any other the codes stay as they were.
int FailedHeal(int report, int** result, int n) {
  if (report == 1 && KernelFailed()) FillResult(result, n, -1);
  return -2;
}

// Rebuilds a curve's 3D form so that the new curve lives outside every open scope: the form
// belongs to the topology, not to the scratch of whatever loop asked for it.
void RebuildCurve3Form(CrvInfoStruct* crv) {
  TrackingScope scope;
  if (crv->crv3) FreeBspline(crv->crv3);
  crv->crv3 = GetBndrCrvCurve3Form(crv);
  scope.keep();
}

// The outer boundary (held for continuity >= 0) and the fixed surfaces with all their curves.
int MarkHeldGeometry(BndrStruct* bs, int n, const int* fixed, int continuity) {
  if (SetSkinSrfsOuterContinuity(bs, continuity) != 0) return -2;
  for (int i = 0; i < n; ++i) {
    bs->srfs[i].fixed = fixed ? fixed[i] : 0;
    bs->srfs[i].keptStart = 0;
  }
  return SetSkinSrfsFixedCrvs(bs);
}

// Healed geometry into every caller surface that is not fixed (and, with `keep`, is kept).
// All or nothing: every new geometry is first built in a staging record, and only when all of
// them stand are the caller's arrays exchanged, which cannot fail. A failure part of the way
// would otherwise leave some surfaces healed and others not, under a report of none.
int CopyHealedBack(Bspline** srfs, int n, const int* fixed, Bspline** healed, const char* keep = nullptr) {
  // The staging records hold blocks that their own operations kept out of every scope, so
  // their owner releases them on every path.
  auto staged = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!staged || KernelFailed()) return -2;
  auto writes = [&](int i) { return !(fixed && fixed[i]) && healed[i] && (!keep || keep[i]); };
  for (int i = 0; i < n; ++i) {
    if (!writes(i)) continue;
    Bspline* t = MallocNullBspline();
    if (!t || KernelFailed()) return -2;
    staged[i] = t;
    t->kind = 2;
    t->dimension = 3;
    t->umin = srfs[i]->umin, t->umax = srfs[i]->umax;  // the caller's domain is kept
    t->vmin = srfs[i]->vmin, t->vmax = srfs[i]->vmax;
    if (ReplaceSrfBsplineGeometry(t, healed[i]) != 0 || KernelFailed()) return -2;
  }
  for (int i = 0; i < n; ++i) {
    Bspline* t = staged[i];
    if (!t) continue;
    Bspline* s = srfs[i];
    s->closedU = t->closedU, s->closedV = t->closedV;
    s->degreeU = t->degreeU, s->degreeV = t->degreeV;
    s->interiorU = t->interiorU, s->interiorV = t->interiorV;
    s->rational = t->rational;
    // The caller's old arrays go with the staging record, which is released with them.
    std::swap(s->knotsU, t->knotsU);
    std::swap(s->knotsV, t->knotsV);
    std::swap(s->X, t->X);
    std::swap(s->Y, t->Y);
    std::swap(s->Z, t->Z);
    std::swap(s->W, t->W);
    std::memset(&s->fitProps, 0, sizeof s->fitProps);
    std::memset(&s->propsB, 0, sizeof s->propsB);
  }
  return 0;
}

// ---- what a heal may not make worse --------------------------------------------------------
//
// The stitch and the tangential heal aim at the targets, but nothing in them guarantees that a
// seam ends better than it began: on a group of mixed degrees or rough rows a boundary move can
// tilt the normals across a seam, or fold a patch near a corner. So the heal measures every
// seam (largest gap, largest folded normal angle, on fresh samples) and every surface's
// normals before and after; a surface on a seam that got worse, or whose normals turned over
// anywhere, goes back to where it began, and the measure is repeated until no seam is worse
// than it was. Each round only adds surfaces, so at worst the whole group stays as it came.

// The normals are compared at every knot of each direction, at kNormalGrid even steps at least,
// and along the boundaries (where the stitch moves the rows) at kLineSteps at least: a fixed
// grid coarser than the net sees only some of its knots, and a fold the noise turned at a
// boundary row's end can lie wholly between two of its sites.
constexpr int kNormalGrid = 12;
constexpr int kLineSteps = 48;
constexpr int kMeasureSamples = 100;  // per seam, as ComputeSrfsGrpContinuity takes them
constexpr double kGapSlack = 1e-6;     // of the group's size: below the float rounding of host coordinates
constexpr double kNormalSine = 1e-12;  // sine of the partials' angle below which there is no normal
constexpr double kAngleSlack = 0.01;   // degrees
constexpr double kCreaseAngleRise = 1.0;  // degrees
constexpr double kCreaseAngleGive = 5.0;  // degrees: the most a crease's angle may give anywhere
constexpr double kDegPerRad = 57.29577951308232;
// Share of the other side's covered fraction below which a side's curve runs on past the edge
// (a T-junction), as KeptSide judges it.
constexpr double kRunsOnShare = 0.9;

// The largest control-point box diagonal of the group's surfaces: the scale of its gaps.
double GroupSize(const BndrStruct* bs) {
  double size = 0.0;
  for (int i = 0; i < bs->nSrf; ++i)
    if (bs->srfs[i].srf) size = std::max(size, ControlPointDiagonal(bs->srfs[i].srf));
  return size;
}

// Lives outside every tracking scope (the topology's records made while it is held must not
// be tied to one), so its blocks have owners.
struct GroupMeasure {
  Owned<double, Free> gap;      // per edge
  Owned<double, Free> angle;    // per edge
  Owned<double, Free> inside;   // per edge, at the start only: a crease's largest angle between a tenth and nine tenths
  Owned<double, Free> ends;     // 2 per edge: the angle (degrees) at its first and last sample
  Owned<double, Free> least;    // per edge, at the start only: the least angle at its samples
  Owned<double, Free> normals;  // 3 per site of every surface: unit normals (0 where none)
  // Per surface three grids (the inside, the u-running boundaries, the v-running ones), each
  // its u sites, v sites, first site and first normal; the sites are each grid's u, then v.
  Owned<double, Free> sites;
  Owned<int, Free> layout;
};

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
// where a side has no normal there.
int SampleAngle(const EdgeInfoStruct* e, int i, double* angle) {
  double na[3], nb[3];
  *angle = 0.0;
  if (!e->sampleA || !e->sampleB || EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], na) != 0 ||
      EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], nb) != 0)
    return KernelFailed() ? -2 : 0;
  const double la = std::sqrt(VecDotProd3(na, na)), lb = std::sqrt(VecDotProd3(nb, nb));
  if (!(la > 0.0 && lb > 0.0)) return 0;
  *angle = std::acos(std::clamp(std::fabs(VecDotProd3(na, nb)) / (la * lb), 0.0, 1.0)) * kDegPerRad;
  return 0;
}

// Seams and normals of the topology's current surfaces, all of them or (with `changed`, one
// flag per surface) only the seams and normals of the surfaces marked: the others kept their
// geometry, and so their measures (the edges keep theirs too). Every paired edge is sampled
// anew, as ComputeSrfsGrpContinuity (mode 2, 100 samples) would. The normals are taken at the
// sites of `like` when given; without it (the start) the creases' inside angles are taken too.
// The arrays live in the caller's scope.
int MeasureGroup(BndrStruct* bs, GroupMeasure* m, const char* changed = nullptr, const GroupMeasure* like = nullptr) {
  if (!m->gap) {
    m->gap.reset(MallocArray<double>(bs->nEdge + 1));
    m->angle.reset(MallocArray<double>(bs->nEdge + 1));
    m->ends.reset(MallocArray<double>(2 * bs->nEdge + 2));
    if (!like) m->inside.reset(MallocArray<double>(bs->nEdge + 1));
    if (!like) m->least.reset(MallocArray<double>(bs->nEdge + 1));
    if (!m->gap || !m->angle || !m->ends || (!like && !m->inside) || KernelFailed() || SetNormalSites(bs, m, like) != 0)
      return -2;
    for (int k = 0; k < 2 * bs->nEdge + 2; ++k) m->ends[k] = 0.0;
  }
  auto moved = [&](int s) { return !changed || (s >= 0 && s < bs->nSrf && changed[s]); };
  for (int e = 0; e < bs->nEdge; ++e) {
    EdgeInfoStruct* ed = &bs->edges[e];
    m->gap[e] = m->angle[e] = 0.0;
    if (m->inside) m->inside[e] = 0.0;
    if (m->least) m->least[e] = 0.0;
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
      // The least angle along a crease at the start: above the limit all along, it is a real one.
      for (int i = 0; m->least && i < ed->nSample; ++i) {
        double at = 0.0;
        if (SampleAngle(ed, i, &at) != 0) return -2;
        m->least[e] = i == 0 ? at : std::min(m->least[e], at);
      }
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

// The stages a surface's geometry can be in after a heal, best first: the one-row creases'
// angle solve and the tangential heal on top of the positional stitch, the positional stitch
// alone, the positional stitch with its crease sides turned back to their start normals nearer
// their corners, the same with the rows' points diagonal to the corners free too, and the
// surface as it came. The point diagonal to a corner,
// set by the corner rules, rules a crease's first tenth: next to a corner laid into one plane it
// can leave a crease steeper a tenth in than it began, whatever the rest of the row does. Freed,
// it tilts the ends of the neighbouring sides' normals too, so it comes only after the rows that
// keep it, and only where those failed: in their place it would leave open sides the rows close.
enum HealStage : char { kStart = 0, kRowsFree = 1, kCornersKept = 2, kPositional = 3, kTangential = 4 };

double Dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

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

// The share of its side's curve that a side of a paired edge covers.
double CoveredFraction(const EdgeInfoStruct* e, int side) {
  const CrvInfoStruct* c = side ? e->infoB : e->infoA;
  double t0 = 0.0, t1 = 0.0;
  if (!c || GetBndrCrvParamMinMax(c, &t0, &t1) != 0 || !(t1 > t0)) return 1.0;
  return std::fabs(e->par[BndrSlot(side, 1)] - e->par[BndrSlot(side, 0)]) / (t1 - t0);
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

// Steps back, one stage at a time, the surfaces on every seam that got worse than it began (a
// smooth seam within both targets is not worse) and every surface whose normals turned over
// anywhere but where the heal undid a fold the surface came with or left the turns near the site
// no sharper than they came; the number of surfaces
// stepped back. A seam is judged on its own: the surfaces of seams that did not get worse keep
// their stage, so one rough seam no longer sends a whole neighbourhood back to its start.
// stage holds n stages, then n flags of the surfaces stepped back this round, then (from 3 n on)
// why each surface last stepped back (kKeptWorse, kKeptFold, kKeptAlone), for the report of a
// surface that ends back at its start.
int StepBackWorsened(const BndrStruct* bs, const GroupMeasure& before, const GroupMeasure& after, double healGap,
                     double healAngle, char* stage) {
  int marked = 0;
  const double gapSlack = kGapSlack * GroupSize(bs);
  // Each surface steps back at most once per round: the next measure judges the new stage.
  const int n = bs->nSrf;
  auto stepped = [&](int s) { return stage[n + s] != 0; };
  auto drop = [&](int s, char why) {
    if (s >= 0 && s < n && stage[s] > kStart && !stepped(s)) {
      --stage[s];
      stage[n + s] = 1;
      stage[3 * n + s] = why;
      ++marked;
    }
  };
  for (int s = 0; s < n; ++s) stage[n + s] = 0;
  for (int e = 0; e < bs->nEdge; ++e) {
    const EdgeInfoStruct* ed = &bs->edges[e];
    if (!ed->paired) continue;
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
    auto positionalAtMost = [&](int s) { return s < 0 || s >= n || stage[s] <= kPositional; };
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
        if (s >= 0 && s < n && stage[s] > kStart && !ClosesASeam(bs, after, s, healGap)) return false;
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
      const int c = k % 2 ? ed->corner1 : ed->corner0;
      bool shared = false;
      for (int j = 0; c >= 0 && c < bs->nCorner && j < bs->corners[c].nEdge && !shared; ++j) {
        const int id = bs->corners[c].edgeIds ? bs->corners[c].edgeIds[j] : -1;
        shared = id >= 0 && id < bs->nEdge && id != e && bs->edges[id].paired;
      }
      return !shared || after.ends[k] >= before.least[e] - kCreaseAngleGive;
    };
    const bool flattened = after.angle[e] < before.angle[e] - kCreaseAngleRise;
    const bool endsKept = smooth || !real || flattened || (endKept(2 * e) && endKept(2 * e + 1));
    if (met || (gapKept && endsKept && (after.angle[e] <= before.angle[e] + slack || insideKept()))) continue;
    int a = -1, b = -1;
    GetBndrEdgeAdjSrfIds(ed, &a, &b);
    // One surface of the seam steps back per round, the one further along first (a surface
    // stepped back for another seam this round counts for this one too); the next round sees
    // whether that was enough.
    const int sa = (a >= 0 && a < n) ? stage[a] : -1, sb = (b >= 0 && b < n) ? stage[b] : -1;
    if (sa >= sb) {
      if (!stepped(b)) drop(a, kKeptWorse);
    } else {
      if (!stepped(a)) drop(b, kKeptWorse);
    }
  }
  for (int i = 0; i < n; ++i) {
    if (stage[i] == kStart || stepped(i)) continue;
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
    if (stage[i] == kStart || stepped(i) || ClosesASeam(bs, after, i, healGap)) continue;
    for (int e = 0; e < bs->nEdge; ++e) {
      int a = -1, b = -1;
      if (!bs->edges[e].paired || after.gap[e] <= healGap) continue;
      GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
      const int other = a == i ? b : b == i ? a : -1;
      if (other >= 0 && other < n && other != i && stage[other] == kStart && !bs->srfs[other].fixed) {
        drop(i, kKeptAlone);
        break;
      }
    }
  }
  return marked;
}

// Curves held where they are (SetCrvWnotEnoughKnotsTobeFixed only ever adds to them).
int FixedCurveCount(const BndrStruct* bs) {
  int count = 0;
  for (int c = 0; c < bs->nCrv; ++c) count += bs->crvs[c].fixed != 0;
  return count;
}

int MinimumIterations(int insertKnot, int maxIter) {
  int m = insertKnot ? 8 : maxIter / 4;
  if (m <= 10) m = 10;
  if (m >= 15) m = 15;
  return m;
}

// The edges sampled anew (the old samples dropped), or only side B's parameters matched again.
int SampleEdges(BndrStruct* bs, bool anew, int samples) {
  if (!anew) return ReSampleNewBndryStruct(bs);
  FreeBndrStructEdgeSamples(bs);
  return SampleNewBndryStruct(bs, samples);
}

// ---- T-junctions ---------------------------------------------------------------------------
//
// Where a side ends in the middle of a longer side (a T-junction), averaging the two sides
// asks the longer one to bend at the shorter one's corner: a longer side of few control points
// (a plane's edge is one straight span) cannot, the shorter ones meet it halfway, and the gap
// stays open at half its size. A shorter side can always follow its part of the longer side's
// curve (a piece of a curve is a curve of the same degree), so the longer side stays where it is
// and the shorter sides' rows and corners go onto it.

bool MovableSide(const CrvInfoStruct* c) { return c && c->side >= 1 && !c->fixed && !(c->outer && c->outerCont >= 0); }

// Where the parameter lies strictly inside the curve's range (not at one of its ends).
bool InsideCurve(const CrvInfoStruct* c, double t) {
  double t0 = 0.0, t1 = 0.0;
  if (!c || GetBndrCrvParamMinMax(c, &t0, &t1) != 0 || !(t1 > t0)) return false;
  // A corner a hundredth of the side from its end is that end moved by the damage, not a
  // T-junction.
  const double margin = 0.01 * (t1 - t0);
  return t > t0 + margin && t < t1 - margin;
}

// Whether the side is one polynomial piece between the parameters (no knot of its surface
// along it strictly between them), of a degree that the other side's degree can follow.
bool OnePieceFollowable(const CrvInfoStruct* c, double t0, double t1, const CrvInfoStruct* follower) {
  const Bspline* s = c->srf;
  const bool alongV = c->side == 1 || c->side == 3;
  const int p = alongV ? s->degreeV : s->degreeU, n = alongV ? NumCtrlV(s) : NumCtrlU(s);
  const double* k = alongV ? s->knotsV : s->knotsU;
  const double lo = std::min(t0, t1), hi = std::max(t0, t1), margin = 1e-9 * (hi - lo);
  for (int i = p + 1; i < n; ++i)
    if (k[i] > lo + margin && k[i] < hi - margin) return false;
  const Bspline* f = follower->srf;
  const bool fAlongV = follower->side == 1 || follower->side == 3;
  return (fAlongV ? f->degreeV : f->degreeU) >= p;
}

// Interior knots of a natural side's curve.
int SideInteriorKnots(const CrvInfoStruct* c) {
  return (c->side == 1 || c->side == 3) ? c->srf->interiorV : c->srf->interiorU;
}

// The side (0 A, 1 B) of a paired edge that keeps its shape while the other side goes onto it,
// or -1 when both meet halfway. A side keeps its shape where the other can follow it exactly
// and it cannot follow the other: it is one polynomial piece along the edge of a degree the
// other side has too, and its curve runs on past the edge where the other's ends (a T-junction:
// a piece of a curve is a curve of the same degree) or the other is of a higher degree or has
// interior knots (a plane's bilinear edge against a cylinder's cubic row). Only a side with a
// 3D form keeps, and only towards a side that may move.
int KeptSide(const EdgeInfoStruct* e) {
  if (!e->paired || !e->infoB || e->nSample < 2 || !e->sampleA || !e->sampleB || !e->avgX) return -1;
  if (e->infoA->side < 1 || e->infoB->side < 1 || !e->infoA->srf || !e->infoB->srf) return -1;
  const double fa = CoveredFraction(e, 0), fb = CoveredFraction(e, 1);
  for (int kept = 0; kept < 2; ++kept) {
    const CrvInfoStruct* k = kept ? e->infoB : e->infoA;
    const CrvInfoStruct* other = kept ? e->infoA : e->infoB;
    if (!k->crv3 || !MovableSide(other)) continue;
    if (!OnePieceFollowable(k, e->par[BndrSlot(kept, 0)], e->par[BndrSlot(kept, 1)], other)) continue;
    const bool runsOn = (kept ? fb < kRunsOnShare * fa : fa < kRunsOnShare * fb);
    const bool coarser = !OnePieceFollowable(other, e->par[BndrSlot(1 - kept, 0)], e->par[BndrSlot(1 - kept, 1)], k) ||
                         SideInteriorKnots(other) > SideInteriorKnots(k);
    if (runsOn || coarser) return kept;
  }
  return -1;
}

// The point of the one curve that runs through the corner (the corner lies inside its range)
// into `foot`; false when no curve or more than one does.
bool CornerFoot(const BndrStruct* bs, const CornerInfoStruct* corner, double foot[3]) {
  const CrvInfoStruct* through = nullptr;
  double at = 0.0;
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds ? corner->edgeIds[k] : -1;
    if (id < 0 || id >= bs->nEdge) continue;
    const EdgeInfoStruct* e = &bs->edges[id];
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner->index) continue;
      for (int side = 0; side < (e->infoB ? 2 : 1); ++side) {
        const CrvInfoStruct* c = side ? e->infoB : e->infoA;
        const int slot = BndrMatchedSlot(e, side, end);
        if (!InsideCurve(c, e->par[slot])) continue;
        if (through && through != c) return false;
        through = c;
        at = e->par[slot];
      }
    }
  }
  // The sides ending there follow the through side exactly only where it is one polynomial
  // piece; elsewhere they meet it halfway, as every seam does.
  if (!through || !through->crv3 || SideInteriorKnots(through) != 0) return false;
  Eval3DPointOnCurve3Array(through->crv3, at, 0, foot);
  return true;
}

// Whether the side is straight by its degree (one along it: a bilinear plane's edge).
bool StraightSide(const CrvInfoStruct* c) {
  return c && c->srf && ((c->side == 1 || c->side == 3) ? c->srf->degreeV : c->srf->degreeU) == 1;
}

// The point where every seam at the corner has its kept side end into `foot`: false when a seam
// there meets halfway (no side kept), keeps a side that is not straight, covers only part of a
// side (a T-junction's longer side keeps its ends' corners averaged: put onto it, a noisy
// T-junction's faces would keep most of their seams open) or the kept
// sides end at different points.
bool KeptCornerPoint(const BndrStruct* bs, const CornerInfoStruct* corner, double foot[3]) {
  bool found = false;
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds ? corner->edgeIds[k] : -1;
    if (id < 0 || id >= bs->nEdge || !bs->edges[id].paired) continue;
    const EdgeInfoStruct* e = &bs->edges[id];
    if (!StraightSide(e->infoA) && !StraightSide(e->infoB)) return false;
    const int kept = KeptSide(e);
    if (kept < 0 || !StraightSide(kept ? e->infoB : e->infoA) || CoveredFraction(e, 0) < 0.99 ||
        CoveredFraction(e, 1) < 0.99)
      return false;
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner->index) continue;
      const int slot = BndrMatchedSlot(e, kept, end);
      double p[3];
      Eval3DPointOnCurve3Array((kept ? e->infoB : e->infoA)->crv3, e->par[slot], 0, p);
      // Kept sides of one surface end at its corner point up to the curves' round-off (the
      // group's size, a pass over every net, is taken only where two kept sides meet).
      if (found && std::hypot(p[0] - foot[0], p[1] - foot[1], p[2] - foot[2]) > 1e-9 * GroupSize(bs)) return false;
      foot[0] = p[0], foot[1] = p[1], foot[2] = p[2];
      found = true;
    }
  }
  return found;
}

// Puts every corner that lies inside one side onto that side's curve (the end points of every
// edge there and their end samples), and the averaged samples of every edge that covers part
// of a longer side onto the longer side's curve. A corner where every seam keeps one side goes
// to where the kept sides end: averaged with the follower's corner it would move the kept
// side along its own line, by as much as the corners lie apart along the seam (on a noisy row,
// many times its gap).
// Runs after the averaging and the corner set-up of an iteration, before the wraps read them.
int OntoLongerSides(BndrStruct* bs) {
  for (int c = 0; c < bs->nCorner; ++c) {
    const CornerInfoStruct* corner = &bs->corners[c];
    double foot[3];
    if (!CornerFoot(bs, corner, foot) && !KeptCornerPoint(bs, corner, foot)) continue;
    for (int k = 0; k < corner->nEdge; ++k) {
      const int id = corner->edgeIds ? corner->edgeIds[k] : -1;
      if (id < 0 || id >= bs->nEdge) continue;
      EdgeInfoStruct* e = &bs->edges[id];
      for (int end = 0; end < 2; ++end) {
        if ((end == 0 ? e->corner0 : e->corner1) != c) continue;
        for (int i = 0; i < 3; ++i) {
          e->pnt[BndrSlot(0, end)][i] = foot[i];
          if (e->infoB) e->pnt[BndrMatchedSlot(e, 1, end)][i] = foot[i];
        }
        if (e->avgX && e->nSample >= 1) {
          const int at = end == 0 ? 0 : e->nSample - 1;
          e->avgX[at] = foot[0], e->avgY[at] = foot[1], e->avgZ[at] = foot[2];
        }
      }
    }
  }
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    const int longer = KeptSide(e);
    if (longer < 0) continue;
    const Bspline* curve = (longer ? e->infoB : e->infoA)->crv3;
    const double* t = longer ? e->sampleB : e->sampleA;
    for (int i = 1; i < e->nSample - 1; ++i) {
      double p[3];
      Eval3DPointOnCurve3Array(curve, t[i], 0, p);
      e->avgX[i] = p[0], e->avgY[i] = p[1], e->avgZ[i] = p[2];
    }
    // The ends leave along the kept curve: a common tangent between it and the side going onto
    // it would bend that side off the curve near its ends, and so would an end normal that is
    // not square to it (the wrap holds the tangent within the normal's plane).
    for (int end = 0; end < 2; ++end) {
      const int keptSlot = BndrMatchedSlot(e, longer, end);
      double d[3];
      Eval3DPointOnCurve3Array(curve, e->par[keptSlot], 1, d);
      const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      if (!(len > 0.0)) continue;
      for (int slot : {BndrSlot(0, end), BndrMatchedSlot(e, 1, end)}) {
        double* tg = e->tan[slot];
        const double sign = tg[0] * d[0] + tg[1] * d[1] + tg[2] * d[2] < 0.0 ? -1.0 : 1.0;
        for (int i = 0; i < 3; ++i) tg[i] = sign * d[i] / len;
        double* nr = e->nrm[slot];
        const double along = nr[0] * tg[0] + nr[1] * tg[1] + nr[2] * tg[2];
        double square[3] = {nr[0] - along * tg[0], nr[1] - along * tg[1], nr[2] - along * tg[2]};
        const double ln = std::sqrt(square[0] * square[0] + square[1] * square[1] + square[2] * square[2]);
        if (ln > 1e-6)
          for (int i = 0; i < 3; ++i) nr[i] = square[i] / ln;
      }
    }
  }
  return KernelFailed() ? -2 : 0;
}

// ---- sides of one knot vector ----------------------------------------------------------------
//
// Two sides that run along each other over their whole length on the same knots (mapped onto
// one another) and of one degree are one curve exactly when their boundary rows are equal. The
// fits of the loop reach that only down to their smoothing floor (each side fitted at its own
// parameters to the same averaged samples), which on a long noisy net is many times the gap
// target. Such a seam is closed by giving both rows their mean; each second row moves with its
// boundary row, so the surfaces keep their derivatives across the seam.

// Control point k of a side's boundary row (row 0) or of the row beside it (row 1).
double* SideRowPoint(Bspline* s, int side, int row, int k, int coord) {
  double** P = coord == 0 ? s->X : coord == 1 ? s->Y : s->Z;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  switch (side) {
    case 1: return &P[k][row];
    case 3: return &P[k][nu - 1 - row];
    case 2: return &P[row][k];
    default: return &P[nv - 1 - row][k];
  }
}

// Whether the edge's two sides are whole sides of one degree on knots that map onto one
// another (reversed where side B runs the other way), with nothing but free sides at its ends.
bool SharedRowSeam(const BndrStruct* bs, const EdgeInfoStruct* e) {
  if (!e->paired || !e->infoA || !e->infoB || !MovableSide(e->infoA) || !MovableSide(e->infoB)) return false;
  if (e->infoA->nEdge != 1 || e->infoB->nEdge != 1 || !e->infoA->srf || !e->infoB->srf) return false;
  if (e->infoA->srf == e->infoB->srf) return false;
  if (CoveredFraction(e, 0) < 0.99 || CoveredFraction(e, 1) < 0.99) return false;
  for (int corner : {e->corner0, e->corner1}) {
    if (corner < 0 || corner >= bs->nCorner) return false;
    const CornerInfoStruct* c = &bs->corners[corner];
    for (int k = 0; k < c->nEdge; ++k) {
      const int id = c->edgeIds ? c->edgeIds[k] : -1;
      if (id < 0 || id >= bs->nEdge || id == e->index) continue;
      // Another seam there, or a held side whose end the rows' ends would move.
      const EdgeInfoStruct* other = &bs->edges[id];
      if (other->paired || !MovableSide(other->infoA)) return false;
    }
  }
  const Bspline *a = e->infoA->srf, *b = e->infoB->srf;
  const bool va = e->infoA->side % 2 == 1, vb = e->infoB->side % 2 == 1;
  const int p = va ? a->degreeV : a->degreeU, n = va ? NumCtrlV(a) : NumCtrlU(a);
  if (p != (vb ? b->degreeV : b->degreeU) || n != (vb ? NumCtrlV(b) : NumCtrlU(b))) return false;
  const double *ka = va ? a->knotsV : a->knotsU, *kb = vb ? b->knotsV : b->knotsU;
  const double a0 = ka[0], a1 = ka[n + p], b0 = kb[0], b1 = kb[n + p];
  if (!(a1 > a0) || !(b1 > b0)) return false;
  for (int i = 0; i <= n + p; ++i) {
    const double fa = (ka[i] - a0) / (a1 - a0);
    const double fb = e->orient ? (kb[i] - b0) / (b1 - b0) : (b1 - kb[n + p - i]) / (b1 - b0);
    if (std::fabs(fa - fb) > 1e-9) return false;
  }
  return true;
}

// Whether the two sides of such a seam have one boundary row (point for point).
bool OneRow(const EdgeInfoStruct* e) {
  Bspline *a = e->infoA->srf, *b = e->infoB->srf;
  const int sa = e->infoA->side, sb = e->infoB->side, n = sa % 2 ? NumCtrlV(a) : NumCtrlU(a);
  for (int k = 0; k < n; ++k)
    for (int c = 0; c < 3; ++c)
      if (*SideRowPoint(a, sa, 0, k, c) != *SideRowPoint(b, sb, 0, e->orient ? k : n - 1 - k, c)) return false;
  return true;
}

// Lays the last step of every one-row seam's row in line with the step before it at both ends,
// its length the mean of the sides' start steps there (`start`: the caller's surfaces); both
// sides take the same end point, so the seam stays closed, and the end point lies on the free
// sides at the seam's ends only. Noise as large as a clamped end's short last step can turn
// that step, and the mean of two such rows can point across the seam: the corner's normal,
// normal to the row's step and to the step across, then turns over whatever the rows behind do,
// and the row's move carried into the second row keeps it so. Laid in line, the end turns back
// the kink the noise made. A mean row that turns no sharper than both sides came can still turn
// the corner's normal over, so every end is laid.
// Returns the number of ends laid.
int StraightenSharedRowEnds(BndrStruct* bs, Bspline** start) {
  int laid = 0;
  auto sameNet = [](const Bspline* x, const Bspline* y) {
    return NumCtrlU(x) == NumCtrlU(y) && NumCtrlV(x) == NumCtrlV(y);
  };
  auto length = [](const double* d) { return std::sqrt(Dot3(d, d)); };
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!SharedRowSeam(bs, e) || !OneRow(e)) continue;
    const CrvInfoStruct *ca = e->infoA, *cb = e->infoB;
    Bspline *a = ca->srf, *b = cb->srf, *a0 = start[ca->srfInfo->index], *b0 = start[cb->srfInfo->index];
    const int n = ca->side % 2 ? NumCtrlV(a) : NumCtrlU(a);
    if (!sameNet(a, a0) || !sameNet(b, b0) || n < 3) continue;
    auto atB = [&](int k) { return e->orient ? k : n - 1 - k; };
    for (int k0 : {0, n - 1}) {
      const int d = k0 == 0 ? 1 : -1;
      // The row's step before the last as it stands, and each side's last step at the start.
      double inner[3], lastA[3], lastB[3];
      for (int c = 0; c < 3; ++c) {
        inner[c] = *SideRowPoint(a, ca->side, 0, k0 + 2 * d, c) - *SideRowPoint(a, ca->side, 0, k0 + d, c);
        lastA[c] = *SideRowPoint(a0, ca->side, 0, k0 + d, c) - *SideRowPoint(a0, ca->side, 0, k0, c);
        lastB[c] = *SideRowPoint(b0, cb->side, 0, atB(k0 + d), c) - *SideRowPoint(b0, cb->side, 0, atB(k0), c);
      }
      if (!(length(inner) > 0.0)) continue;
      const double scale = 0.5 * (length(lastA) + length(lastB)) / length(inner);
      for (int c = 0; c < 3; ++c) {
        const double p = *SideRowPoint(a, ca->side, 0, k0 + d, c) - scale * inner[c];
        *SideRowPoint(a, ca->side, 0, k0, c) = p;
        *SideRowPoint(b, cb->side, 0, atB(k0), c) = p;
      }
      ++laid;
    }
  }
  // The end points lie on the free sides at the seams' ends too.
  for (int c = 0; laid && c < bs->nCrv; ++c) RebuildCurve3Form(&bs->crvs[c]);
  return laid;
}

// Whether every seam above the gap target is one whose rows can be shared.
bool OnlySharedRowSeamsOpen(const BndrStruct* bs, double gapTol) {
  for (int id = 0; id < bs->nEdge; ++id) {
    const EdgeInfoStruct* e = &bs->edges[id];
    if (e->paired && e->maxGap >= gapTol && !SharedRowSeam(bs, e)) return false;
  }
  return true;
}

// Gives both boundary rows of every such seam still above the gap target their mean (before the
// fits, of every such crease: a smooth seam is the tangential heal's too, which works from the
// state the loop leaves). After the fits every such crease that is not one row gets it too,
// whatever its gap: the fits refit the rows given one before them (both sides alike, to the same
// samples, but for round-off), and only crease sides of one row are held while the others turn
// back to their start normals; turned towards their noisy start normals, long thin nets would
// move several times the gap they close, next to the seams' free ends. Returns the
// number of seams changed, -1 when a basis table could not be made.
int ShareSeamRows(BndrStruct* bs, double gapTol, bool afterFits) {
  int changed = 0;
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    const bool open = e->maxGap >= gapTol, crease = e->continuity == 0 && !IsBndrEdgeHealedSmooth(e);
    if (!(afterFits ? open || crease : open && crease) || !SharedRowSeam(bs, e) || (!open && OneRow(e))) continue;
    Bspline *a = e->infoA->srf, *b = e->infoB->srf;
    const int sa = e->infoA->side, sb = e->infoB->side;
    const int n = sa % 2 ? NumCtrlV(a) : NumCtrlU(a);
    // The mean of the two rows' points at k, from the rows as they still are.
    auto mean = [&](int k, int c) {
      return 0.5 * (*SideRowPoint(a, sa, 0, k, c) + *SideRowPoint(b, sb, 0, e->orient ? k : n - 1 - k, c));
    };
    // A second row takes its row's move across the row only: a move along it would add to the
    // partial across the seam a multiple of the partial along it (which leaves the normals there
    // as they were) but would shorten the net's steps along the second row, and on a net whose
    // steps the noise has already shortened it can turn the surface over beside the seam's ends.
    // The second row's first and last points stay: they lie on the neighbouring sides' boundary
    // rows, beside the corners, and moved across the seam they would bend those rows' first steps
    // (short on a clamped net, as short as the noise on a noisy one) and turn the end over.
    for (int k = 1; k + 1 < n; ++k) {
      const int kb = e->orient ? k : n - 1 - k, lo = k - 1, hi = k + 1;
      double t[3], half[3], len = 0.0, along = 0.0;
      for (int c = 0; c < 3; ++c) {
        t[c] = mean(hi, c) - mean(lo, c);
        half[c] = mean(k, c) - *SideRowPoint(a, sa, 0, k, c);
        len += t[c] * t[c];
        along += t[c] * half[c];
      }
      along = len > 0.0 ? along / len : 0.0;
      for (int c = 0; c < 3; ++c) {
        const double across = half[c] - along * t[c];
        *SideRowPoint(a, sa, 1, k, c) += across;
        *SideRowPoint(b, sb, 1, kb, c) -= across;
      }
    }
    for (int k = 0; k < n; ++k)
      for (int c = 0; c < 3; ++c) {
        const double m = mean(k, c);
        *SideRowPoint(a, sa, 0, k, c) = m;
        *SideRowPoint(b, sb, 0, e->orient ? k : n - 1 - k, c) = m;
      }
    RebuildCurve3Form(e->infoA);
    RebuildCurve3Form(e->infoB);
    // One curve now, on knots mapped onto one another: side B's sample parameters are side A's
    // mapped the same way (no projection needed); the ends stay matched as they were.
    const bool va = sa % 2 == 1, vb = sb % 2 == 1;
    const int p = va ? a->degreeV : a->degreeU;
    const double *ka = va ? a->knotsV : a->knotsU, *kb = vb ? b->knotsV : b->knotsU;
    const double a0 = ka[0], a1 = ka[n + p], b0 = kb[0], b1 = kb[n + p];
    if (e->sampleA && e->sampleB) {
      for (int i = 1; i + 1 < e->nSample; ++i) {
        const double f = (e->sampleA[i] - a0) / (a1 - a0);
        e->sampleB[i] = e->orient ? b0 + f * (b1 - b0) : b1 - f * (b1 - b0);
      }
      if (ComputeBndrEdgeNubVals(e) != 0) return -1;
    }
    ++changed;
  }
  return changed;
}

}  // namespace

int SISetbInsertKnot(int value) {
  SIbInsertKnot = value;
  return 0;
}

int IsRationalBspline(const Bspline* b) {
  if (!b || b->rational != 1 || !b->W) return 0;
  const int rows = b->kind == 2 ? NumCtrlV(b) : 1;
  const int cols = NumCtrlU(b);
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < cols; ++i)
      if (std::fabs(b->W[j][i] - 1.0) > 0.001) return 1;
  return 0;
}

// ---- topology API ---------------------------------------------------------------------------

int CleanupTopology() {
  if (!srfsTopology) return 0;
  BndrStruct* bs = srfsTopology;
  srfsTopology = nullptr;
  for (int i = 0; i < bs->nSrf; ++i) {
    FreeBspline(bs->srfs[i].srf);
    bs->srfs[i].srf = nullptr;
  }
  FreeBndrStruct(bs);
  return 0;
}

int MakeTopologyZK(Bspline** srfs, int n, double maxGap, double maxAngle) {
  // A failure of an earlier call must not make this one fail: the allocators test the flags.
  ClearKernelError();
  if (!srfs || n < 1) return -2;
  maxGap = std::max(maxGap, 0.0);
  maxAngle = std::max(maxAngle, 0.0);
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

  CleanupTopology();
  if (SetupStitchSrfsTopology(srfs, n, 1e-6, maxGap, maxAngle, -1, &srfsTopology) != 0 || !srfsTopology) {
    srfsTopology = nullptr;
    return -2;
  }
  return 0;
}

int SetupStitchSrfsTopology(Bspline** srfs, int n, double tol, double gapTol, double angleTol, int continuity,
                            BndrStruct** out) {
  if (!srfs || n < 1 || !out) return -2;
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(srfs[i])) return -2;

  // Everything made here either ends up in the topology (kept) or is freed on the way out.
  TrackingScope scope;
  auto copies = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!copies || KernelFailed()) return -2;

  for (int i = 0; i < n; ++i) {
    copies[i] = CopyBsplineStructAndChildren(srfs[i]);
    if (!copies[i] || KernelFailed() || IsRationalBspline(copies[i])) return -2;
    DropRationalParts(copies[i]);
    // Knot values carry no shape: the topology and the heal work on [0, 1] x [0, 1], and the
    // healed surfaces go back onto the caller's own domains.
    if (NormalizeBndrSrfDomain(copies[i]) != 0) return -2;
  }

  int status = 0;
  Gsrf* graph = MakeGSrfBndrStructCore(copies.get(), n, tol, gapTol, &status);
  if (!graph) return -2;
  BndrStruct* bs = ConvertGsrfBndrToBndrStruct(graph, 100, gapTol, angleTol, continuity);
  FreeGsrfBndr(graph);
  if (!bs) return -2;
  if (SetSkinSrfsOuterContinuity(bs, continuity) != 0 || SetUpBndrEdgeCornerGeometry(bs) != 0) {
    FreeBndrStruct(bs);
    return -2;
  }

  *out = bs;
  Free(copies.release());  // the surfaces themselves now belong to the topology
  scope.keep();
  return 0;
}

namespace {

// Iterations of the heal's stitch for n surfaces and a gap target of healGap in the units of a
// group of unit size: a tight gap target gets more; a NaN target counts as tight.
int HealStitchIterations(int n, double healGap) {
  const int base = n > 10 ? 25 : 30;
  return healGap >= 0.1 ? base : (base * 3) / 2 + 1;
}

}  // namespace

int SetHealStitchInfo(int n, int continuity, int bFixedSamples, double healGap, double healAngle,
                      GlobalStitchInfo* info) {
  if (!info) return -2;
  std::memset(static_cast<void*>(info), 0, sizeof(*info));
  info->continuity = continuity;
  // HEALGAP halved (and HEALANGLE cut to three quarters, half above 2 degrees): the stitch
  // measures at its own samples, while the report judges every seam against the user's targets
  // from fresh samples, between the stitch's and after the stages that follow it; the margin
  // keeps a seam the stitch calls closed within the targets there too. Every gapTol and angleTol
  // below is this halved target, not the user's.
  info->gapTol = 0.5 * healGap;
  info->angleTol = healAngle <= 2.0 ? 0.75 * healAngle : 0.5 * healAngle;
  info->insertKnot = SIbInsertKnot;
  info->bFixedSamples = bFixedSamples;
  info->maxIter = HealStitchIterations(n, healGap);
  info->samples = 100;
  info->stagnation = 5e-5;
  info->relTol = bFixedSamples ? 0.01 : 0.02;
  return 0;
}

namespace {

// Copies of the topology's surfaces, all of them or (with `which`) those marked; null entries
// elsewhere. A new array outside every scope, or null when memory ran out.
Bspline** CopyTopologySurfaces(BndrStruct* bs, int n, const char* which = nullptr) {
  TrackingScope scope;
  // The copies leave every scope as they are made: their owner frees them on a failure.
  auto out = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!out || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    if (which && !which[i]) continue;
    out[i] = CopyBsplineStructAndChildren(TopologySurface(bs, i));
    if (!out[i] || KernelFailed()) return nullptr;
  }
  scope.keep();
  return out.release();
}

// The per-side codes from the edges' current largest gaps and angles.
void SetSrfsGrpCrvGapCodes(const BndrStruct* bs, double healGap, double healAngle, int** result) {
  for (int c = 0; c < bs->nCrv; ++c) {
    const CrvInfoStruct* crv = &bs->crvs[c];
    if (crv->side < 1 || crv->side > 4 || !crv->srfInfo) continue;
    const int s = crv->srfInfo->index;
    if (s < 0 || s >= bs->nSrf) continue;
    int& entry = result[s][crv->side - 1];
    entry = -4;
    if (crv->outer && crv->outerCont >= 0) {
      entry = -3;
      continue;
    }
    if (crv->outer && crv->outerCont < 0 && IsBndrCrvOnlyOuterEdge(crv)) {
      entry = 0;
      continue;
    }
    double g = 0.0, a = 0.0;
    for (int k = 0; k < crv->nEdge; ++k) {
      const int e = crv->edgeIds ? crv->edgeIds[k] : -1;
      if (e < 0 || e >= bs->nEdge) continue;
      g = std::max(g, bs->edges[e].maxGap);
      a = std::max(a, bs->edges[e].maxAngle);
    }
    const bool gapOk = g <= healGap, angleOk = a <= healAngle;
    entry = gapOk ? (angleOk ? 0 : -5) : (angleOk ? -6 : -4);
  }
}

// Crease sides turned back to their start normals (`srfs`, the group as the heal found it): all
// of them after the stitch, those beside smooth seams' sides after the tangential heal (with
// besideSmooth) or, with `which`, those of the surfaces marked, nearer their corners, the rows'
// `held` points at each end staying.
// Sides given one row already kept theirs (each second row moved across the seam with its row);
// turned again towards their noisy start normals, long nets would move several times the gap
// they close.
// They are held (marked 2) for the turn.
int KeepCreaseNormals(BndrStruct* bs, Bspline** srfs, const char* which, int besideSmooth, int held = 2) {
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!SharedRowSeam(bs, e) || !OneRow(e)) continue;
    e->infoA->fixed = e->infoB->fixed = 2;
  }
  const int kept =
      which ? KeepCreaseSideNormalsNearCorners(bs, srfs, which, held) : KeepCreaseSideNormals(bs, srfs, besideSmooth);
  for (int c = 0; c < bs->nCrv; ++c)
    if (bs->crvs[c].fixed == 2) bs->crvs[c].fixed = 0;
  return kept;
}

// G0GlobalStitchSrfGrp; with `pairedSampled` the paired edges keep the samples they have, taken
// as its first sampling would take them (on the same geometry and curve forms).
int PositionalStitch(BndrStruct* bs, int continuity, double gapTol, double angleTol, int insertKnot, int bFixedSamples,
                     int maxIter, int samples, double stagnation, double relTol, int* reason, double* finalGap,
                     bool pairedSampled);

// ---- smooth seams of two-row nets ------------------------------------------------------------
//
// A side with only two control rows across it has no second row for the tangential heal to turn
// (the row beside it is the opposite boundary): its normal along the seam is set by where the
// stitch left the boundary row and by the opposite row. At a corner the normal is the cross
// product of the row's first step along and the step across to the opposite row's end point, so
// where that point lies on free sides only (no seam, not held) it can be moved square to the
// normal the seam's end needs without touching any seam. Otherwise a smooth seam's free end that
// the stitch tilts past the angle target has no row to turn it back, and its surface goes back to
// its start with its seams open.

// Whether the surface's natural side `side` runs free: every curve of it unpaired and movable.
// With `creaseOnly`, whether no curve of it is on a smooth seam instead.
bool FreeNaturalSide(const BndrStruct* bs, const SrfInfoStruct* si, int side, bool creaseOnly = false) {
  bool found = false;
  for (int k = 0; k < si->nCrv && si->crvIds; ++k) {
    const int id = si->crvIds[k];
    if (id < 0 || id >= bs->nCrv || bs->crvs[id].side != side) continue;
    const CrvInfoStruct* c = &bs->crvs[id];
    if (!creaseOnly && !MovableSide(c)) return false;
    for (int j = 0; j < c->nEdge && c->edgeIds; ++j) {
      const int eid = c->edgeIds[j];
      if (eid < 0 || eid >= bs->nEdge || !bs->edges[eid].paired) continue;
      if (!creaseOnly || IsBndrEdgeHealedSmooth(&bs->edges[eid]) == 1) return false;
    }
    found = true;
  }
  return found;
}

// The index along the side's boundary row of the row end at parameter t: 0 or the last, -1
// when t is not at an end of the surface's range along the side.
int RowEndAt(const Bspline* s, int side, double t) {
  const bool alongV = side == 1 || side == 3;
  const double lo = alongV ? s->vmin : s->umin, hi = alongV ? s->vmax : s->umax;
  const double margin = 1e-9 * (hi - lo);
  if (std::fabs(t - lo) <= margin) return 0;
  if (std::fabs(t - hi) <= margin) return (alongV ? NumCtrlV(s) : NumCtrlU(s)) - 1;
  return -1;
}

// The row's unit step along at row end k, the step across from it, and the unit normal
// (along x across); false where a step vanishes.
bool CornerFrame(Bspline* s, int side, int k, double along[3], double across[3], double normal[3]) {
  const int count = (side == 1 || side == 3) ? NumCtrlV(s) : NumCtrlU(s);
  const int next = k == 0 ? 1 : count - 2;
  if (count < 2) return false;
  for (int c = 0; c < 3; ++c) {
    along[c] = *SideRowPoint(s, side, 0, next, c) - *SideRowPoint(s, side, 0, k, c);
    across[c] = *SideRowPoint(s, side, 1, k, c) - *SideRowPoint(s, side, 0, k, c);
  }
  const double la = VecSize3(along);
  VecCrossProd3(along, across, normal);
  const double ln = VecSize3(normal);
  if (!(la > 0.0) || !(ln > 0.0)) return false;
  for (int c = 0; c < 3; ++c) along[c] /= la, normal[c] /= ln;
  return true;
}

// Turns, at each end of every smooth seam still steeper than `target` degrees there, the normal
// of each side of two rows across whose opposite row's end point lies on free sides only,
// towards the other side's normal until the seam's end is within the target (both such sides
// turn halfway), where the seam came steeper than the target at that end. The curves of the
// surfaces changed get their 3D forms anew.
int TurnTwoRowCornersOntoSmoothSeams(BndrStruct* bs, double target) {
  constexpr double kDegree = 3.14159265358979323846 / 180.0;
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired || !e->infoA || !e->infoB || IsBndrEdgeHealedSmooth(e) != 1) continue;
    for (int end = 0; end < 2; ++end) {
      Bspline* srf[2] = {};
      int side[2] = {}, k[2] = {};
      double along[2][3], across[2][3], normal[2][3];
      bool movable[2] = {};
      bool framed = true;
      for (int sd = 0; sd < 2 && framed; ++sd) {
        const CrvInfoStruct* c = sd ? e->infoB : e->infoA;
        const int slot = BndrMatchedSlot(e, sd, end);
        srf[sd] = c->srf, side[sd] = c->side;
        if (!srf[sd] || side[sd] < 1 || side[sd] > 4 || !c->srfInfo) {
          framed = false;
          break;
        }
        k[sd] = RowEndAt(srf[sd], side[sd], e->par[slot]);
        framed = k[sd] >= 0 && CornerFrame(srf[sd], side[sd], k[sd], along[sd], across[sd], normal[sd]);
        if (!framed) break;
        const bool alongV = side[sd] == 1 || side[sd] == 3;
        const int rowsAcross = alongV ? NumCtrlU(srf[sd]) : NumCtrlV(srf[sd]);
        // The side through the corner and its opposite row, by the natural side numbering
        // (1 u low, 2 v low, 3 u high, 4 v high).
        const int opposite = (side[sd] + 1) % 4 + 1;
        const int through = alongV ? (k[sd] == 0 ? 2 : 4) : (k[sd] == 0 ? 1 : 3);
        // The end point across is the point across from the fourth side's far end too: that side
        // turns with it, which a crease takes (within its degree) and a smooth seam would not.
        const int fourth = (through + 1) % 4 + 1;
        movable[sd] = rowsAcross == 2 && MovableSide(c) && !c->srfInfo->fixed &&
                      FreeNaturalSide(bs, c->srfInfo, opposite) && FreeNaturalSide(bs, c->srfInfo, through) &&
                      FreeNaturalSide(bs, c->srfInfo, fourth, true);
      }
      // Only an end that came steeper than the aim, which a second row would have been turned
      // for: where a flat seam closes kinked (two planes side by side at different heights), the
      // kink is the closing's own and the fall-backs judge it.
      if (!framed || !(movable[0] || movable[1]) || !(std::fabs(e->startEndAngle[end]) > target)) continue;
      double cosine = Dot3(normal[0], normal[1]);
      const double sign = cosine < 0.0 ? -1.0 : 1.0;
      cosine = std::min(1.0, std::fabs(cosine));
      const double angle = std::acos(cosine) / kDegree;
      if (!(angle > target)) continue;
      const double turn = (angle - target) * kDegree / (movable[0] && movable[1] ? 2.0 : 1.0);
      double start[2][3];
      for (int c = 0; c < 3; ++c) start[0][c] = normal[0][c], start[1][c] = sign * normal[1][c];
      for (int sd = 0; sd < 2; ++sd) {
        if (!movable[sd]) continue;
        const double* n = start[sd];
        const double* o = start[1 - sd];
        double w[3], m[3];
        const double no = Dot3(n, o);
        for (int c = 0; c < 3; ++c) w[c] = o[c] - no * n[c];
        const double lw = VecSize3(w);
        if (!(lw > 0.0)) continue;
        for (int c = 0; c < 3; ++c) m[c] = std::cos(turn) * n[c] + std::sin(turn) * w[c] / lw;
        // Square to the row's step along, so that the step along and the new step across span
        // the plane the normal asks for.
        const double ma = Dot3(m, along[sd]);
        for (int c = 0; c < 3; ++c) m[c] -= ma * along[sd][c];
        const double lm = VecSize3(m);
        if (!(lm > 0.0)) continue;
        const double off = Dot3(across[sd], m) / lm;
        for (int c = 0; c < 3; ++c) *SideRowPoint(srf[sd], side[sd], 1, k[sd], c) -= off * m[c] / lm;
        FreeBsplineProperties(srf[sd]);
        const SrfInfoStruct* si = (sd ? e->infoB : e->infoA)->srfInfo;
        for (int j = 0; j < si->nCrv && si->crvIds; ++j)
          if (si->crvIds[j] >= 0 && si->crvIds[j] < bs->nCrv) RebuildCurve3Form(&bs->crvs[si->crvIds[j]]);
      }
    }
  }
  return KernelFailed() ? -2 : 0;
}

// `solve` (an angle solve of mshrink.h) on every crease whose sides keep their own boundary rows;
// the sides' curve forms of those whose rows it changed are rebuilt. -2 on a failure.
int SolveSplitRowCreases(BndrStruct* bs, Bspline** srfs, int (*solve)(BndrStruct*, Bspline* const*, int)) {
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired || !e->infoA || !e->infoB || IsBndrEdgeHealedSmooth(e) || (SharedRowSeam(bs, e) && OneRow(e)))
      continue;
    const int kept = solve(bs, srfs, id);
    if (kept < 0) return -2;
    if (kept == 1) {
      RebuildCurve3Form(e->infoA);
      RebuildCurve3Form(e->infoB);
    }
  }
  return 0;
}

// The stitch and the tangential heal on the topology's surfaces, starting from the caller's
// control points (which are only read). With `positional`, a copy of every surface as the
// positional stitch left it, before the one-row creases' angle solve and the tangential heal,
// goes there (new records, outside every scope).
// The positional loop's smallest gain that counts is info.stagnation times gainScale.
// With `pairedSampled` the paired edges' samples are those the stitch's first sampling takes
// (see PositionalStitch). With `straightenEnds` the one-row seams' row ends are laid in line
// (StraightenSharedRowEnds) before anything else is built on the stitch.
int StitchInStages(BndrStruct* bs, Bspline** srfs, int n, const GlobalStitchInfo& info, double gainScale,
                   Bspline** positional, bool pairedSampled = false, bool straightenEnds = false) {
  if (!bs || !srfs || n < 1 || bs->nSrf != n) return -2;
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

  // Every heal starts from the caller's current control points on the stored pairing. Weights
  // within 0.001 of 1 are dropped from the topology's copy; the caller's record is left alone,
  // so a heal that fails changes nothing of it.
  for (int i = 0; i < n; ++i) {
    if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), srfs[i]) != 0 || KernelFailed()) return -2;
    DropRationalParts(TopologySurface(bs, i));
  }

  int reason = 2;
  double finalGap = 0.0;
  // info.gapTol is half the user's HEALGAP (SetHealStitchInfo says why).
  if (PositionalStitch(bs, info.continuity, info.gapTol, info.angleTol, info.insertKnot, info.bFixedSamples,
                       info.maxIter, info.samples, gainScale * info.stagnation, info.relTol, &reason, &finalGap,
                       pairedSampled) != 0)
    return -2;
  // Creases are closed in position only: along them each side keeps the normals it came with.
  if (KeepCreaseNormals(bs, srfs, nullptr, 0) != 0) return -2;
  if (straightenEnds) StraightenSharedRowEnds(bs, srfs);
  // The fall-backs' positional stage is the stitch before the angle solve below: a side whose
  // neighbour across a one-row crease goes back to its start meets that start's normals there
  // as it came out of the stitch, not at the angle solved against the neighbour's new rows (met
  // there, the solved side would have to go back too and open another seam).
  if (positional) {
    TrackingScope scope;
    for (int i = 0; i < n; ++i) {
      positional[i] = CopyBsplineStructAndChildren(TopologySurface(bs, i));
      if (!positional[i] || KernelFailed()) {
        FreeBsplineArrayContents(positional, n);
        scope.keep();
        return -2;
      }
    }
    scope.keep();
  }
  // A crease of one row: its angle, not only each side's normal, kept along its length.
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!SharedRowSeam(bs, e) || !OneRow(e)) continue;
    const int kept = KeepSharedRowCreaseAngle(bs, srfs, id);
    if (kept < 0) return -2;
    if (kept == 1) {
      RebuildCurve3Form(e->infoA);
      RebuildCurve3Form(e->infoB);
    }
  }

  // The tangential heal is an improvement on top: its failure does not undo the stitch.
  NewHealSrfGrpEdgeG1Continuity(bs, info.gapTol, info.angleTol, 25, std::max(info.stagnation, 0.01), info.relTol,
                                0);
  if (TurnTwoRowCornersOntoSmoothSeams(bs, info.angleTol) != 0) return -2;
  // The tangential heal moves the smooth seams' second rows, whose first inner points are those
  // of the crease sides meeting them at a corner too: those crease rows are fitted again around
  // them, so that the smooth seams' moves do not lift the creases' insides.
  if (KernelFailed() || KeepCreaseNormals(bs, srfs, nullptr, 1) != 0) return -2;
  // Fitted to each side's start normals, a crease of two rows keeps its angle only as closely as
  // the fit does, which on rough grids leaves its middle degrees off its start. So it is solved
  // for the angle once the tangential heal is done, with only the corners' shared folds and the
  // jitter's rise below to move the rows again.
  if (SolveSplitRowCreases(bs, srfs, KeepSplitRowCreaseAngle) != 0) return -2;
  // The angle solve holds the rows' points diagonal to the corners, which tie the creases meeting
  // at a corner to shared folds a row in: set there, a shared fold no longer rises above the
  // flatter crease's start a tenth in.
  if (KeepCornerSharedFolds(bs, srfs) < 0) return -2;
  // A crease beyond the limit over only part of its length is a smooth seam's jitter: where
  // the stages above left it steeper than its start (a row in from a corner whose smooth seams
  // fix its fold there, or where the start's fold passes through none), its rows are solved down
  // to the start, flatter allowed, the points diagonal to a corner it shares with other creases
  // too, so that no stage leaves a seam's inside steeper than it came.
  if (SolveSplitRowCreases(bs, srfs, KeepJitterCreaseFromRising) != 0) return -2;
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int HealTopologyZK(Bspline** srfs, int n, const int* fixed, int continuity, int bFixedSamples, double healGap,
                   double healAngle, int report, int** result) {
  // The error flags are sticky: without this one failed heal would make every later one fail.
  ClearKernelError();
  BndrStruct* bs = srfsTopology;
  if (!srfs || n < 1 || !bs || bs->nSrf != n) return -2;
  if (report == 1) {
    if (!result) return -2;
    FillResult(result, n, -2);
  }
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

  if (MarkHeldGeometry(bs, n, fixed, continuity) != 0) return -2;

  GlobalStitchInfo info;
  SetHealStitchInfo(n, continuity, bFixedSamples, healGap, healAngle, &info);

  OwnedArray<Bspline, FreeBspline> healed, positional;
  // n stages, n flags of the surfaces stepped back in a round, n of those whose crease sides turn,
  // n reasons of the last step back
  Owned<char, Free> stage;
  // Whatever fails below, the caller's surfaces are written only at the very end, all at once:
  // the report and the status never speak of geometry that was not written, nor the reverse.

  // The group as it came: every seam and every surface's normals.
  GroupMeasure before, after;
  for (int i = 0; i < n; ++i)
    if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), srfs[i]) != 0) return FailedHeal(report, result, n);
  // The sides' curve forms of these surfaces, not those an earlier heal left: the measure's
  // closest points are searched on them, and so its samples are the stitch's first ones, taken
  // once instead of twice.
  if (EvalAllBndrCrvCurve3Form(bs) != 0 || MeasureGroup(bs, &before) != 0) return FailedHeal(report, result, n);
  // Whether the gap target is tight is a matter of the group's shape, not of its unit: judged
  // in absolute units, a group a thousand units across would take fewer iterations than the
  // same group at unit size and heal to another result.
  info.maxIter = HealStitchIterations(n, healGap / GroupSize(bs));

  {
    TrackingScope scope;
    positional = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
    stage.reset(MallocArray<char>(4, n));
    scope.keep();
  }
  if (!positional || !stage || KernelFailed()) return FailedHeal(report, result, n);
  // A memory error anywhere in the stitch leaves the topology's surfaces half done: none of
  // them goes back to the caller.
  // The smallest gain that counts is one of a unit-size group: scaled with the group, so that
  // a part a millionth of a unit across is not taken as stalled from its first iterations on,
  // nor one a thousand units across driven on for gains below its round-off.
  auto stitchAndStepBack = [&](bool straightenEnds) {
    if (StitchInStages(bs, srfs, n, info, GroupSize(bs), positional.get(), info.samples == kMeasureSamples,
                       straightenEnds) != 0)
      return false;
    // Position first: a seam the tangential heal made worse falls back to the positional result
    // of its surfaces, then to that result with its crease sides turned back nearer their corners,
    // then with the rows' points diagonal to the corners free in that turn too, and only a seam
    // still worse then to where they began.
    for (int i = 0; i < n; ++i) {
      stage[i] = (fixed && fixed[i]) ? kStart : kTangential;
      stage[3 * n + i] = 0;
    }
    for (int round = 0;; ++round) {
      // After the first round only the surfaces stepped back have changed.
      if (MeasureGroup(bs, &after, round == 0 ? nullptr : stage.get() + n, &before) != 0) return false;
      if (StepBackWorsened(bs, before, after, healGap, healAngle, stage.get()) == 0) break;
      // A surface stepped back to kCornersKept or kRowsFree turns its crease sides after its
      // positional result.
      char* which = stage.get() + 2 * n;
      bool turned = false;
      for (int i = 0; i < n; ++i) {
        which[i] = stage[n + i] && (stage[i] == kCornersKept || stage[i] == kRowsFree);
        turned = turned || which[i];
        if (!stage[n + i]) continue;
        const Bspline* back = stage[i] >= kRowsFree ? positional[i] : srfs[i];
        if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), back) != 0) return false;
      }
      if (!turned) continue;
      // The turn reads the sides' curves: those of the surfaces put back are rebuilt first.
      for (int c = 0; c < bs->nCrv; ++c) {
        const SrfInfoStruct* si = bs->crvs[c].srfInfo;
        if (si && si->index >= 0 && si->index < n && which[si->index]) RebuildCurve3Form(&bs->crvs[c]);
      }
      // kCornersKept holds the rows' two points at each end as the corner rules left them;
      // kRowsFree holds the corner's own only.
      for (int held = 2; held >= 1; --held) {
        for (int i = 0; i < n; ++i) which[i] = stage[n + i] && stage[i] == (held == 2 ? kCornersKept : kRowsFree);
        if (KernelFailed() || KeepCreaseNormals(bs, srfs, which, 0, held) != 0) return false;
      }
    }
    return true;
  };
  if (!stitchAndStepBack(false)) return FailedHeal(report, result, n);
  // A surface back at its start for a fold made sharper (where the noise turned a one-row seam's
  // short end step) may close with the rows' ends laid in line
  // (StraightenSharedRowEnds): the heal is done once more so, from the start, and kept when it
  // closes more seams; otherwise the first one stands. A group where nothing went back for a
  // fold, or with no seam whose rows can be shared, heals as it did and costs no more.
  auto seamsClosed = [&] {
    int closed = 0;
    for (int e = 0; e < bs->nEdge; ++e) closed += bs->edges[e].paired && after.gap[e] <= healGap;
    return closed;
  };
  bool folded = false, shareable = false;
  for (int i = 0; i < n; ++i) folded = folded || (stage[i] == kStart && stage[3 * n + i] == kKeptFold);
  for (int e = 0; e < bs->nEdge; ++e) shareable = shareable || SharedRowSeam(bs, &bs->edges[e]);
  if (folded && shareable) {
    const int closedFirst = seamsClosed();
    OwnedArray<Bspline, FreeBspline> first;
    first.reset(CopyTopologySurfaces(bs, n), n);
    Owned<char, Free> firstStage;
    {
      TrackingScope scope;
      firstStage.reset(MallocArray<char>(2, n));
      scope.keep();
    }
    if (!first || !firstStage || KernelFailed()) return FailedHeal(report, result, n);
    // The stages and the reasons of the surfaces put back.
    for (int i = 0; i < n; ++i) firstStage[i] = stage[i], firstStage[n + i] = stage[3 * n + i];
    FreeBsplineArrayContents(positional.get(), n);
    // The stitch's first samples are those of the group as it came.
    for (int i = 0; i < n; ++i)
      if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), srfs[i]) != 0) return FailedHeal(report, result, n);
    if (EvalAllBndrCrvCurve3Form(bs) != 0 || MeasureGroup(bs, &before) != 0 || !stitchAndStepBack(true))
      return FailedHeal(report, result, n);
    if (seamsClosed() <= closedFirst) {
      for (int i = 0; i < n; ++i) {
        stage[i] = firstStage[i], stage[3 * n + i] = firstStage[n + i];
        if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), first[i]) != 0) return FailedHeal(report, result, n);
      }
      if (EvalAllBndrCrvCurve3Form(bs) != 0 || MeasureGroup(bs, &after, nullptr, &before) != 0)
        return FailedHeal(report, result, n);
    }
  }

  // Left on the topology for the report: a seam of such a surface stays as it came.
  for (int i = 0; i < n; ++i) bs->srfs[i].keptStart = stage[i] == kStart && !(fixed && fixed[i]) ? stage[3 * n + i] : 0;
  // The codes describe the geometry about to be written, measured before anything is: the
  // last round measured every seam as ComputeSrfsGrpCrvGapStats would (100 fresh samples), so
  // its measures give the codes.
  if (report == 1) SetSrfsGrpCrvGapCodes(bs, healGap, healAngle, result);
  // Surfaces back at their start are not written at all.
  for (int i = 0; i < n; ++i) stage[i] = stage[i] != kStart;
  healed.reset(CopyTopologySurfaces(bs, n, stage.get()), n);
  if (!healed) return FailedHeal(report, result, n);
  if (CopyHealedBack(srfs, n, fixed, healed.get(), stage.get()) != 0) return FailedHeal(report, result, n);
  return 0;
}

int StitchSrfsWithGivenTopology(BndrStruct* bs, Bspline** srfs, int n, const int* fixed, GlobalStitchInfo info,
                                Bspline*** healed, int* state) {
  (void)fixed;  // the topology's fixed flags were set by the caller
  if (state) *state = 1;
  if (healed) *healed = nullptr;
  if (!bs || !srfs || n < 1 || bs->nSrf != n || !healed) return -2;
  if (StitchInStages(bs, srfs, n, info, 1.0, nullptr) != 0) return -2;
  Bspline** out = CopyTopologySurfaces(bs, n);
  if (!out) return -2;
  *healed = out;
  if (state) *state = 0;
  return 0;
}

int ComputeSrfsGrpCrvGapStats(BndrStruct* bs, double healGap, double healAngle, int samples, int** result) {
  if (!bs || !result) return -2;
  if (samples < 11) samples = 10;
  double maxGap = 0.0, maxAngle = 0.0;
  if (ComputeSrfsGrpContinuity(bs, 2, samples, &maxGap, &maxAngle) != 0) return -2;
  SetSrfsGrpCrvGapCodes(bs, healGap, healAngle, result);
  return 0;
}

// ---- positional stitch loop -----------------------------------------------------------------

int SetDefaultGlobalStitchInfo(GlobalStitchInfo* info) {
  if (!info) return -2;
  info->continuity = -1;
  info->gapTol = 0.001;
  info->angleTol = 0.5;
  info->insertKnot = 0;
  info->bFixedSamples = 0;
  info->maxIter = 30;
  info->samples = 100;
  info->stagnation = 5e-5;
  info->relTol = 0.01;
  return 0;
}

int G0GlobalStitchSrfGrp(BndrStruct* bs, int continuity, double gapTol, double angleTol, int insertKnot,
                         int bFixedSamples, int maxIter, int samples, double stagnation, double relTol, int* reason,
                         double* finalGap) {
  return PositionalStitch(bs, continuity, gapTol, angleTol, insertKnot, bFixedSamples, maxIter, samples, stagnation,
                          relTol, reason, finalGap, false);
}

namespace {

int PositionalStitch(BndrStruct* bs, int continuity, double gapTol, double angleTol, int insertKnot, int bFixedSamples,
                     int maxIter, int samples, double stagnation, double relTol, int* reason, double* finalGap,
                     bool pairedSampled) {
  (void)continuity;  // the outer boundary was set on the topology; the angle is the heal's
  (void)angleTol;
  int reasonDummy = 0;
  double gapDummy = 0.0;
  if (!reason) reason = &reasonDummy;
  if (!finalGap) finalGap = &gapDummy;
  if (!bs || bs->nSrf < 1) return -2;
  if (samples < 11) samples = 10;
  stagnation = std::max(stagnation, 1e-12);
  relTol = std::max(relTol, 1e-4);
  *reason = 2;

  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  for (int k = 0; k < 4; ++k) params.fixedRows[k] = -1;
  params.Tension = 0.7;
  double roughness = 0.3;
  SmoothnessToRoughness(&roughness);
  params.Roughness = roughness;

  double gap = 0.0, tA = 0.0, tB = 0.0;
  int gapEdge = -1;
  // A gap below a millionth of the group's size gives no relative gain to judge.
  const double least = 1e-6 * GroupSize(bs);
  // The seams as they are now are what the creases keep: the first set-up records them.
  if (ForgetBndrEdgeStarts(bs) != 0) return -2;
  if (EvalAllBndrCrvCurve3Form(bs) != 0 ||
      (pairedSampled ? SampleNewBndryStructUnpaired(bs, samples) : SampleNewBndryStruct(bs, samples)) != 0 ||
      SetUpBndrEdgeCornerGeometry(bs) != 0 || ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0 ||
      KernelFailed())
    return -2;

  // Seams whose two sides share their knots are closed by giving them one row, the creases before
  // the fits; after them every seam the fits left open and every crease they refitted (see
  // ShareSeamRows).
  bool fitted = false;  // some fit of the loop ran
  auto shareRows = [&](bool afterFits) {
    if (maxIter < 1 || (gap < 0.95 * gapTol && !(afterFits && fitted))) return 0;
    const int shared = ShareSeamRows(bs, 0.95 * gapTol, afterFits);
    if (shared == 0) return 0;
    return shared < 0 || EvalAllBndrCrvCurve3Form(bs) != 0 ||
                   ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0
               ? -2
               : 0;
  };
  if (shareRows(false) != 0) return -2;
  SrfGrpNets nets{};
  const Owned<SrfGrpNets, FreeSrfGrpNets> ownNets(&nets);
  TrackingScope scope;
  const int minIter = MinimumIterations(insertKnot, maxIter);
  double sigma = 0.01;
  int stagnant = 0, slow = 0, growing = 0, lastFailed = 0, totalReduced = 0;

  // Nothing to close: the group comes back as it came.
  for (int i = 0; i < maxIter && gap >= 0.95 * gapTol; ++i) {
    if (!bFixedSamples && SampleEdges(bs, i % 4 == 3, samples) != 0) break;

    bool setUp = false;
    int s = 0;
    if (i >= 1 && i < maxSetupStep) {
      // A crease that the angles kept at its corners made steeper than it began has them
      // reduced there from here on, and if it rises again, laid into one plane.
      if (FlattenRisenCreaseCorners(bs, kFlattenRise) < 0) return -2;
      s = SetUpBndrEdgeCornerGeometry(bs);
      setUp = true;
    }
    if (s == 0 && !insertKnot && i == setFixedStep) {
      const int fixedBefore = FixedCurveCount(bs);
      s = SetCrvWnotEnoughKnotsTobeFixed(bs);
      // The set-up reads the surfaces, the samples, the fixed flags, the seams' recorded starts
      // and the corners' marks: made just above and with no curve newly fixed, it would come
      // out the same.
      if (s == 0 && !(setUp && FixedCurveCount(bs) == fixedBefore)) s = SetUpBndrEdgeCornerGeometry(bs);
      setUp = true;
    }
    if (s == 0 && !setUp) s = ComputeAllBndrEdgesAvgSamplePnts(bs);
    if (s != 0) {
      *reason = 2;
      return -2;  // the scope frees this loop's blocks
    }

    const bool nearTarget = gap < 2.0 * gapTol;
    const int fairIter = nearTarget ? 2 : 10;
    const double lambda = nearTarget ? 0.01 : 0.1;
    const double mu = nearTarget ? -0.009 : -0.11;
    if (gTest && i % refineStep == 0) RefineAllEdgeSamples(bs, fairIter, lambda, mu);

    if (insertKnot && i >= 2 && i % 3 == 2 && InsertKnotsToSrfGrpWrtEdgeGap(bs, gapTol) != 0) return -2;
    if (OntoLongerSides(bs) != 0) return -2;

    // A loose fit in the first iterations, tightening towards 0.01.
    sigma = std::max(0.75 * sigma, 0.01);
    if (i == 0) sigma = 0.02;
    if (i == 1) sigma = 0.03;
    params.Sigma = sigma;

    const int refine = (i % 5 == 0 && !bFixedSamples) ? 1 : 0;
    int wrapped = 0, failed = 0, reduced = 0;
    if (SaveSrfGrpNets(bs, &nets) != 0) return -2;
    WrapAllBndrCrv3ToSamplePoints(bs, insertKnot, refine, params, &wrapped, &failed, &reduced);
    fitted = true;
    // The boundary rows moved; the second rows go with them, so the surfaces keep their
    // derivatives across the boundaries (and the seams their angles) instead of tilting
    // between a moved boundary and a second row left behind.
    if (CarrySrfGrpSecondRows(bs, &nets) != 0) return -2;
    lastFailed = failed;
    totalReduced += reduced;

    const double prev = gap;
    if (ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;

    // Seams whose rows can be shared are closed after the loop: it ends once only they are open.
    if (gap < 0.95 * gapTol || OnlySharedRowSeamsOpen(bs, 0.95 * gapTol)) break;
    const double d = prev - gap;
    stagnant = (std::fabs(d) < stagnation && i > minIter) ? stagnant + 1 : 0;
    if (stagnant > 1) break;
    if (prev > gap && i > minIter && std::fabs(prev) > least)
      slow = std::fabs(d / prev) < relTol ? slow + 1 : 0;
    else
      slow = 0;
    if (slow > 1) break;
    growing = prev < gap ? growing + 1 : 0;
    if (growing >= 3 && i > 10) break;
    if (EvalAllBndrCrvCurve3Form(bs) != 0) break;
    if (i + 1 >= maxIter) break;
  }

  if (shareRows(true) != 0) return -2;

  scope.keep();
  *finalGap = gap;
  *reason = totalReduced >= 1 ? 1 : (lastFailed >= 1 ? 2 : 0);
  return 0;
}

}  // namespace

int WrapAllBndrCrv3ToSamplePoints(BndrStruct* bs, int insertKnot, int refine, ShrnkWrapParams params,
                                  int* wrapped, int* failed, int* reduced) {
  int nWrapped = 0, nFailed = 0, nReduced = 0;
  if (bs) {
    for (int c = 0; c < bs->nCrv; ++c) {
      CrvInfoStruct* crv = &bs->crvs[c];
      if (crv->side < 1 || crv->side > 4 || crv->fixed) continue;
      if (crv->outer && crv->outerCont >= 0) continue;  // held outer boundary
      if (crv->nEdge < 1 || IsBndrCrvDegenerate(crv)) continue;
      int red = 0;
      if (WrapBndrCrv3ToSamplePoints(bs, c, insertKnot, refine, &params, &red) != 0)
        ++nFailed;
      else
        ++nWrapped;
      if (red == 1) ++nReduced;
      RebuildCurve3Form(crv);  // so it shows the new boundary row
    }
  }
  if (wrapped) *wrapped = nWrapped;
  if (failed) *failed = nFailed;
  if (reduced) *reduced = nReduced;
  return nFailed > 0 ? -2 : 0;
}

int SetCrvWnotEnoughKnotsTobeFixed(BndrStruct* bs) {
  if (!bs || EvalAllBndrCrvCurve3Form(bs) != 0) return -2;
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* crv = &bs->crvs[c];
    if (crv->side < 1 || crv->side > 4 || crv->fixed) continue;
    if (crv->outer && crv->outerCont >= 0) {
      crv->fixed = 1;
      continue;
    }
    if (crv->nEdge < 1) continue;
    if (IsBndrCrvDegenerate(crv)) {
      crv->fixed = 1;
      continue;
    }
    TrackingScope scope;  // the trial curve and constraints are scratch
    Bspline* curve = GetBndrCrvCurve3Form(crv);
    LinearConstraint* lc = curve ? AllocateNullLinearConstraint() : nullptr;
    int enough = 0;
    bool ok = curve && lc && SetBndrCrvWrapConstraint(bs, c, lc) == 0 &&
              IsEnoughCrv3KnotForWrapConstraint(curve, lc, &enough) == 0;
    // Too few knots for every corner's tangent: the wrap holds what the knots allow (every
    // corner's position at least), so only a curve that cannot even hold that stays where it
    // is. Fixed, a curve would neither close its seam (with a fixed partner the gap stays for
    // good) nor take part in the tangential heal.
    if (ok && !enough)
      ok = ReduceWrapConstraint(curve, lc) == 0 && IsEnoughCrv3KnotForWrapConstraint(curve, lc, &enough) == 0;
    if (!ok || !enough) crv->fixed = 1;
    FreeWrapConstraint(lc);
    FreeBspline(curve);
  }
  return 0;
}

int RefineAllEdgeSamples(BndrStruct* bs, int iterations, double lambda, double mu) {
  if (!bs) return -2;
  iterations = std::max(iterations, 0);
  if (std::fabs(lambda) > std::fabs(mu)) mu = -lambda;
  for (int k = 0; k < bs->nEdge; ++k) {
    EdgeInfoStruct* e = &bs->edges[k];
    const int n = e->nSample;
    if (n < 3 || !e->infoA || !e->infoB || !e->avgX || !e->avgY || !e->avgZ) continue;
    // An unpaired edge with two side curves gets a single pass; the count is this edge's only.
    const int passes = e->paired ? iterations : 1;
    const int ends[2] = {0, n - 1};
    FairPolylineLambdaGamma(e->avgX, e->avgY, e->avgZ, n, ends, 2, 1, 0, lambda, mu, passes, 0.0);
  }
  return 0;
}

int InsertKnotsToSrfGrpWrtEdgeGap(BndrStruct* bs, double gapTol) {
  if (!bs) return -2;
  const double threshold = 0.5 * std::max(gapTol, 1e-6);
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* crv = &bs->crvs[c];
    double d = 0.0, t = 0.0;
    if (ComputeMaxBndrCrvToEdgeSampleDiff(crv, bs->edges, bs->nEdge, &d, &t) != 0) continue;
    if (d <= threshold || crv->side < 1 || crv->side > 4 || crv->fixed || !crv->crv3) continue;
    TrackingScope scope;  // the knot vector grows inside the topology's own curve
    int inserted = 0;
    InsertOneKnotInCrv3Span(crv->crv3, t, 1, &inserted);
    Bspline* surface = crv->srfInfo ? crv->srfInfo->srf : crv->srf;
    if (inserted) UpdateSrfBndryCrvGeom(surface, crv->side, crv->crv3);
    scope.keep();
  }
  if (EvalAllBndrCrvCurve3Form(bs) != 0 || SetAllEdgesNubVals(bs) != 0) return -2;
  return 0;
}

int GlobalStitchSrfTopology(int unused, Bspline** srfs, int n, const int* fixed, int continuity, int insertKnot,
                            int bFixedSamples, double gapTol, double angleTol, int samples, int maxIter) {
  (void)unused;
  BndrStruct* bs = srfsTopology;
  if (!srfs || n < 1 || !bs || bs->nSrf != n) return -2;
  if (MarkHeldGeometry(bs, n, fixed, continuity) != 0) return -2;

  GlobalStitchInfo info;
  SetDefaultGlobalStitchInfo(&info);
  info.continuity = continuity;
  info.gapTol = gapTol;
  info.angleTol = angleTol;
  info.insertKnot = insertKnot;
  info.bFixedSamples = bFixedSamples;
  info.samples = samples;
  info.maxIter = std::max(maxIter, 2);
  info.stagnation = 5e-5;
  info.relTol = bFixedSamples ? 0.01 : 0.02;

  Bspline** healed = nullptr;
  int state = 1;
  if (StitchSrfsWithGivenTopology(bs, srfs, n, fixed, info, &healed, &state) != 0 || !healed) {
    FreeBsplineArray(healed, n);
    return -2;
  }
  const int copied = CopyHealedBack(srfs, n, fixed, healed);
  FreeBsplineArray(healed, n);
  return copied;
}

// ---- group fit to a cloud, then stitch ------------------------------------------------------

namespace {

// Build-time switches of the older pipeline: the older positional loop (not the global stitch),
// the topology's angle kept at 55 degrees, full samples from the first iteration, corners
// refined only in a run of refineStepOld iterations; an added knot goes to the middle of its
// span (InsertKnotsToSrfGrpWrtEdgeGap).
constexpr int newTest = 0;
constexpr int stitchTest = 1;
constexpr int kMaxSubdiv = 100;
constexpr int refineStepOld = 100;

// A topology made by SetupStitchSrfsTopology with the surfaces it owns.
void FreeTopologyAndSurfaces(BndrStruct* bs) {
  if (!bs) return;
  for (int i = 0; i < bs->nSrf; ++i) {
    FreeBspline(bs->srfs[i].srf);
    bs->srfs[i].srf = nullptr;
  }
  FreeBndrStruct(bs);
}


// One surface's fit: knots for the held rows (both copies), the offsets fitted on `work`,
// filtered when asked, the rebuild from `target`. Null when skipped or failed.
Bspline* FitSkinSurface(Bspline* work, Bspline* target, Cloud* diff, const int fixed[4],
                        const ShrnkWrapParams& options) {
  int nU = 0, nV = 0;
  if (ComputeNumSrfShrinkWrapNeededKnots(target, fixed, &nU, &nV) != 0) return nullptr;
  if (nU + nV > 0) {
    if (!options.insertKnots) return nullptr;
    if (InsertSurfShrinkWrapKnots(work, fixed) != 0 || InsertSurfShrinkWrapKnots(target, fixed) != 0)
      return nullptr;
  }
  work->fitProps = {1, options.Tension, options.Roughness, options.Sigma};
  work->umin = target->umin, work->umax = target->umax;
  work->vmin = target->vmin, work->vmax = target->vmax;
  if (FitWCoefiToCloud(work, diff, fixed) != 0) return nullptr;
  if (options.medianFilter) MedianFilterGriddedArray_d(work->Z, NumCtrlU(work), NumCtrlV(work), 3);
  Bspline* r = MakeShrinkWrapSurf(target, work, 0.0, 0.0, 0.0, fixed);
  if (r) DropShrinkWrapForms(r);
  return r;
}

}  // namespace

int ShrinkWrapFitSkinSrfs(BndrStruct* bs, Cloud* cloud, double fitDist, ShrnkWrapParams options,
                          Bspline*** fitted, int* count) {
  if (fitted) *fitted = nullptr;
  if (count) *count = 0;
  if (!bs || bs->nSrf < 1 || !fitted || !count || !cloud || cloud->npts < 3) return -2;
  const int n = bs->nSrf;
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(TopologySurface(bs, i))) return -2;
  TrackingScope scope;
  // work: the offsets are fitted on them and they go; result: what is handed back.
  auto work = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  OwnedArray<Bspline, FreeBspline> result;
  {
    UntrackedScope own;  // the array is handed to the caller
    result = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  auto clouds = OwnedArray<Cloud, FreeCloud>::Zeroed(n);
  if (!work || !result || !clouds || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    work[i] = CopyBsplineSurface(TopologySurface(bs, i));
    result[i] = CopyBsplineSurface(TopologySurface(bs, i));
    if (!work[i] || !result[i] || KernelFailed()) return -2;
  }
  if (MakeSrfsNormalDiffClouds(cloud, result.get(), n, fitDist, clouds.get()) != 0) return -2;
  int done = 0;
  for (int i = 0; i < n; ++i) {
    if (!clouds[i] || clouds[i]->npts < 2) {
      ++done;  // nothing to fit: the copy stands
      continue;
    }
    int fixed[4];
    if (GetSkinSrfBndrCons(bs, i, fixed) != 0) return -2;
    Bspline* r = FitSkinSurface(work[i], result[i], clouds[i], fixed, options);
    if (!r) {
      // A skipped or failed fit leaves the copy; a failed allocation stops the whole fit.
      if (memory_error == 1) return -2;
      ClearKernelError();
      continue;
    }
    FreeBspline(result[i]);
    result[i] = r;
    ++done;
  }
  if (KernelFailed()) return -2;
  *count = done;
  *fitted = result.release();
  return 0;
}

int HealSrfGrpEdgeG0Continuity(BndrStruct* bs, double tol, int continuity, double gapTol,
                               int maxIter, double stagnation, double relScale, int insertKnot,
                               int* reason, double* finalGap) {
  (void)tol;
  (void)continuity;
  int reasonDummy = 0;
  double gapDummy = 0.0;
  if (!reason) reason = &reasonDummy;
  if (!finalGap) finalGap = &gapDummy;
  stagnation = std::max(stagnation, 1e-12);
  const double relTol = 0.01 * relScale;
  *reason = 2;
  if (!bs || bs->nSrf < 1) return -2;
  if (bs->nSrf == 1) {
    *reason = 0;
    *finalGap = 0.0;
    return 0;
  }
  if (EvalAllBndrCrvCurve3Form(bs) != 0) return -2;
  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  for (int k = 0; k < 4; ++k) params.fixedRows[k] = -1;
  TrackingScope scope;
  double sigma = 0.05, gap = 0.0, tA = 0.0, tB = 0.0;
  int gapEdge = -1, stagnant = 0, slow = 0, growing = 0, lastFailed = 0;
  bool reducedFirst = false;
  const int patience = insertKnot ? 6 : 2;  // iterations before the gain tests count
  for (int i = 0; i < maxIter; ++i) {
    const int samples = stitchTest || i > 0 ? kMaxSubdiv : 50;
    if (i == 1) sigma = 0.05;
    sigma = std::max(0.8 * sigma, 0.01);
    params.Sigma = sigma;
    if (!bParamFixed && SampleEdges(bs, i % 4 == 0, samples) != 0) return -2;
    if (i < 20) {
      if (SetUpBndrEdgeCornerGeometry(bs) != 0) {
        *reason = 2;
        return -2;
      }
    } else if (ComputeAllBndrEdgesAvgSamplePnts(bs) != 0) {
      break;
    }
    if (i == 0 && ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;
    if (i == refineStepOld && gap > 2.0 * gapTol) RefineBndrCornerPositions(bs);
    if (insertKnot && i >= 4 && i % 3 == 2 && InsertKnotsToSrfGrpWrtEdgeGap(bs, gapTol) != 0) return -2;

    int failed = 0;
    for (int c = 0; c < bs->nCrv; ++c) {
      CrvInfoStruct* crv = &bs->crvs[c];
      if (crv->side < 1 || crv->side > 4 || crv->fixed || crv->nEdge < 1) continue;
      if (crv->outer && (crv->outerCont >= 0 || (i >= 20 && crv->nEdge == 1))) continue;
      int red = 0;
      if (WrapBndrCrv3ToSamplePoints(bs, c, insertKnot, bParamFixed ? 0 : 1, &params, &red) != 0) ++failed;
      RebuildCurve3Form(crv);
      if (i == 0 && red == 1) {
        reducedFirst = true;
        break;
      }
    }
    lastFailed = failed;

    const double prev = gap;
    if (ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;
    if (failed > 0 || reducedFirst) break;
    if (gap < 0.95 * gapTol) break;
    const double d = prev - gap;
    stagnant = (std::fabs(d) < stagnation && i > patience) ? stagnant + 1 : 0;
    if (stagnant > 1) break;
    if (prev > gap && std::fabs(prev) > 1e-6 && i > patience)
      slow = std::fabs(d / prev) < relTol ? slow + 1 : 0;
    else
      slow = 0;
    if (slow > 1) break;
    growing = prev < gap ? growing + 1 : 0;
    if (growing >= 3) break;
  }
  scope.keep();
  *finalGap = gap;
  *reason = reducedFirst ? 1 : (lastFailed > 0 ? 2 : 0);
  return 0;
}

int MultiSrfsShrinkWrapGeom(Cloud* cloud, Bspline** srfs, int n, ShrnkWrapParams options,
                            double graphTol, double fitDist, double topoGap, int continuity,
                            double gapTol, double angleTol, int insertKnot, int* state) {
  int stateDummy = 0;
  if (!state) state = &stateDummy;
  *state = 1;
  if (n <= 0 || !cloud || !srfs) return -2;
  for (int i = 0; i < n; ++i)
    if (!IsSurface3(srfs[i])) return -2;
  // The topology's angle: twice the target, at least 90; the stitch test pins it to 55.
  double angle = std::max(2.0 * angleTol, 90.0);
  if (stitchTest) angle = std::max(std::min(2.0 * angleTol, 15.0), 55.0);
  BndrStruct* bs = nullptr;
  if (SetupStitchSrfsTopology(srfs, n, graphTol, topoGap, angle, continuity, &bs) != 0 || !bs) return -2;
  const Owned<BndrStruct, FreeTopologyAndSurfaces> topology(bs);

  for (int k = 0; k < 4; ++k) options.fixedRows[k] = continuity;
  options.medianFilter = 1;
  Bspline** fitted = nullptr;
  int count = 0;
  if (ShrinkWrapFitSkinSrfs(bs, cloud, fitDist, options, &fitted, &count) != 0 || !fitted) return -2;
  auto ownFitted = OwnedArray<Bspline, FreeBspline>(fitted, n);
  if (count < n) {
    *state = 2;
    return 0;
  }
  for (int i = 0; i < n; ++i)
    if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), fitted[i]) != 0 || KernelFailed()) return -2;
  ownFitted.reset();

  StatusMessageFormat("%s", MSGstr("Set up Continuity"));
  int reason = 0;
  double gap = 0.0;
  int s = 0;
  if (newTest)
    s = G0GlobalStitchSrfGrp(bs, continuity, gapTol, angleTol, 0, 1, 60, kMaxSubdiv, 1e-5, 0.01, &reason, &gap);
  else
    s = HealSrfGrpEdgeG0Continuity(bs, graphTol, continuity, gapTol, 60, 1e-5, 1.0, insertKnot, &reason, &gap);
  if (s != 0) {
    *state = 1;
    ClearStatusMessage();
    return -2;
  }
  if (reason == 1 || memory_error == 1) {
    *state = reason == 1 ? 3 : 1;
    ClearStatusMessage();
    return -2;
  }
  ClearKernelError();  // a failed wrap of the last sweep is reported through the state
  *state = reason == 2 ? 1 : (gap >= gapTol ? 4 : 0);
  const double stagnation = std::clamp(0.01 * angleTol, 0.0001, 0.005);
  if (NewHealSrfGrpEdgeG1Continuity(bs, gapTol, angleTol, 20, stagnation, 1.0, insertKnot) != 0) {
    *state = 4;
    if (memory_error == 1) {
      ClearStatusMessage();
      return -2;
    }
    ClearKernelError();  // the positional result stands
  }
  // All or none: every caller surface takes its topology surface only when all could be staged.
  Bspline** healed = CallocArray<Bspline*>(n);
  if (!healed || KernelFailed()) {
    ClearStatusMessage();
    return -2;
  }
  for (int i = 0; i < n; ++i) healed[i] = TopologySurface(bs, i);
  const int copied = CopyHealedBack(srfs, n, nullptr, healed);
  Free(healed);
  ClearStatusMessage();
  return copied == 0 ? 0 : -2;
}
