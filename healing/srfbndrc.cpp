// Boundary graph of a surface group: building and freeing it, and sampling its boundary curves.
// The grid search is in srfbndrc_grid.cpp, the corner matching in srfbndrc_corner.cpp.
#include "healing/srfbndrc.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "healing/srfbndrc_internal.h"
#include "surface/srfsnip.h"

using namespace srfbndrc_internal;

namespace {

constexpr int kProjectIterations = 9;  // iteration setting of every boundary projection

// Point of a boundary curve at its own parameter t.
void EvalBndrCrv(const GsrfCrv* c, double t, double out[3]) {
  const Bspline* s = c->srf;
  switch (c->kind) {
    case 0: Eval3DPointOnBsplOnSurfArray(s, c->node->item, t, 0, 0, out); break;
    case 1: Eval3DPointOnSurfArray(s, s->umin, t, 0, 0, out); break;
    case 2: Eval3DPointOnSurfArray(s, t, s->vmin, 0, 0, out); break;
    case 3: Eval3DPointOnSurfArray(s, s->umax, t, 0, 0, out); break;
    default: Eval3DPointOnSurfArray(s, t, s->vmax, 0, 0, out); break;
  }
}

// Projection shared by ClosestPointOnBndrCrv and ClosestDistOnBndrCrv.
int ProjectOnBndrCrv(GsrfCrv* c, const double p[3], double* t, double* dist) {
  if (c->kind < 0 || c->kind > 4) return c->kind;
  double foot[3], stepSq;
  if (c->kind == 0) {
    if (!c->node || !c->node->item) return -2;
    Bspline* crv = c->node->item;
    double d2 = 0.0;
    const int rc = FindClosestPointCurveOnSurf(crv, p, foot, crv->umin, crv->umax, t, &d2, &stepSq,
                                               kProjectIterations);
    *dist = std::sqrt(d2);
    return rc;
  }
  Bspline* s = c->srf;
  double u = c->kind == 1 ? s->umin : c->kind == 3 ? s->umax : *t;
  double v = c->kind == 2 ? s->vmin : c->kind == 4 ? s->vmax : *t;
  double d = 0.0, normal[3];
  const int rc = FindClosestUVPointGuessNorm(s, p, foot, &u, &v, &d, &stepSq, kProjectIterations, normal);
  *t = (c->kind == 1 || c->kind == 3) ? v : u;
  // The surface foot leaves the side when p lies over the surface; measuring to the side's own
  // point keeps an overlap from passing for a joint.
  double q[3];
  EvalBndrCrv(c, *t, q);
  *dist = std::sqrt(Dist2(p, q));
  return rc;
}

}  // namespace

// ============================================================================================
// Building and freeing
// ============================================================================================

int MakeGSrfSurfsCore(Gsrf* g, Bspline** objs, int n) {
  if (!g || !objs || n < 1) return 0;
  int count = 0;
  for (int i = 0; i < n; ++i)
    if (objs[i] && objs[i]->kind == 2) ++count;
  if (count == 0) return 0;
  GsrfSrf* srfs = CallocArray<GsrfSrf>(count);
  if (!srfs || KernelFailed()) return 0;
  int id = 0;
  for (int i = 0; i < n; ++i) {
    if (!objs[i] || objs[i]->kind != 2) continue;
    srfs[id].id = id;
    srfs[id].srf = objs[i];
    srfs[id].owner = g;
    ++id;
  }
  g->srfs = srfs;
  g->nSrf = count;
  return 1;
}

int MakeGSrfLoops(Gsrf* g) {
  if (!g || !g->srfs || g->nSrf < 1) return 0;
  int total = 0;
  for (int s = 0; s < g->nSrf; ++s) {
    // A surface needs its natural rectangle unless one of its trim loops is an outer loop.
    int natural = 1, trims = 0;
    for (TrimList* t = g->srfs[s].srf->trims; t; t = t->next) {
      ++trims;
      if (t->hole == 0) natural = 0;
    }
    g->srfs[s].nLoop = natural + trims;
    total += g->srfs[s].nLoop;
  }
  GsrfLoop* loops = CallocArray<GsrfLoop>(total);
  if (!loops || KernelFailed()) return 0;
  int id = 0;
  for (int s = 0; s < g->nSrf; ++s) {
    GsrfSrf& sr = g->srfs[s];
    sr.firstLoop = id;
    sr.loops = loops + id;
    int trims = 0;
    for (TrimList* t = sr.srf->trims; t; t = t->next) ++trims;
    auto add = [&](TrimList* trim) {
      loops[id].id = id;
      loops[id].trim = trim;
      loops[id].srf = sr.srf;
      loops[id].srfId = sr.id;
      ++id;
    };
    if (sr.nLoop > trims) add(nullptr);  // the natural loop comes first
    for (TrimList* t = sr.srf->trims; t; t = t->next) add(t);
  }
  g->loops = loops;
  g->nLoop = total;
  return 1;
}

int MakeGSrfTcurves(Gsrf* g) {
  if (!g || !g->loops || g->nLoop < 1) return 0;
  int total = 0;
  for (int l = 0; l < g->nLoop; ++l) {
    GsrfLoop& lp = g->loops[l];
    if (!lp.trim) {
      lp.nCrv = 4;
    } else {
      lp.nCrv = 0;
      for (BsplineList* node = lp.trim->loopCurves; node; node = node->next) ++lp.nCrv;
    }
    total += lp.nCrv;
  }
  GsrfCrv* crvs = CallocArray<GsrfCrv>(total);
  if (!crvs || KernelFailed()) return 0;
  int id = 0;
  for (int l = 0; l < g->nLoop; ++l) {
    GsrfLoop& lp = g->loops[l];
    lp.firstCrv = id;
    lp.crvs = crvs + id;
    const int n = lp.nCrv;
    BsplineList* node = lp.trim ? lp.trim->loopCurves : nullptr;
    for (int k = 0; k < n; ++k) {
      GsrfCrv& c = crvs[id + k];
      c.id = id + k;
      c.kind = lp.trim ? 0 : k + 1;  // natural sides in the order 1 u-min, 2 v-min, 3 u-max, 4 v-max
      c.node = node;
      c.srf = lp.srf;
      c.srfId = lp.srfId;
      c.prev = id + (k + n - 1) % n;
      c.next = id + (k + 1) % n;
      if (node) node = node->next;
    }
    id += n;
  }
  for (int s = 0; s < g->nSrf; ++s) {
    GsrfSrf& sr = g->srfs[s];
    sr.firstCrv = g->loops[sr.firstLoop].firstCrv;
    sr.crvs = crvs + sr.firstCrv;
    sr.nCrv = 0;
    for (int l = sr.firstLoop; l < sr.firstLoop + sr.nLoop; ++l) sr.nCrv += g->loops[l].nCrv;
  }
  g->crvs = crvs;
  g->nCrv = total;
  return 1;
}

Gsrf* MakeGSrfBndrStructCore(Bspline** objs, int n, double tol, double gapTol, int* status) {
  int localStatus = 0;
  if (!status) status = &localStatus;
  *status = 0;
  if (n == 0) return nullptr;
  // Every object is read, and the surfaces' trim curves split, before the graph exists.
  bool sound = objs && n > 0;
  for (int i = 0; sound && i < n; ++i) sound = RecordsSound({objs[i]});
  if (!sound || !AllFinite({tol, gapTol})) {
    SetKernelError(-2);
    *status = -2;
    return nullptr;
  }
  Gsrf* g = nullptr;
  {
    TrackingScope scope;
    g = CallocArray<Gsrf>(1);
    if (!g || KernelFailed()) {
      *status = -2;
      return nullptr;
    }
    g->tol = tol;
    g->gapTol = gapTol;
    g->maxDev = -kEmptyBoxBound;
    // Trim loops are split at their tangent breaks first, so every loop corner is a curve end.
    if (!objs || ReplaceGroupSrfCrvBsplWithG1ContSubs(objs, n, 25.0) != 0 || KernelFailed() ||
        !MakeGSrfSurfsCore(g, objs, n) || !MakeGSrfLoops(g) || !MakeGSrfTcurves(g) || KernelFailed()) {
      *status = -2;
      return nullptr;
    }
    scope.keep();
  }
  if (!SampleGsrfBndr(g, 50) || !ClosestSampleGsrfBySort(g)) {
    FreeGsrfBndr(g);
    *status = -2;
    return nullptr;
  }
  return g;
}

void FreeGsrfSamples(Gsrf* g) {
  if (!g) return;
  float** arrays[] = {&g->x, &g->y, &g->z, &g->dev, &g->t, &g->closePos, &g->closeT};
  for (float** a : arrays) {
    FreeAndNull(*a);
  }
  g->nSample = 0;
  for (int i = 0; i < g->nCrv; ++i) {
    GsrfCrv& c = g->crvs[i];
    c.nSample = 0;
    c.x = c.y = c.z = c.dev = c.t = c.closePos = c.closeT = nullptr;
  }
  for (int i = 0; i < g->nLoop; ++i) g->loops[i].nSample = 0;
  for (int i = 0; i < g->nSrf; ++i) g->srfs[i].nSample = 0;
}

void FreeGsrfBndr(Gsrf* g) {
  if (!g) return;
  FreeGsrfSamples(g);
  FreeMatchingRecords(g);
  Free(g->els);
  Free(g->crvs);
  Free(g->loops);
  Free(g->srfs);
  Free(g);
}

int GetCrvIdFromIndex(Gsrf* g, int sample, int hint) {
  if (!g || sample < 0 || sample >= g->nSample || g->nCrv < 1) return -1;
  const GsrfCrv* c = g->crvs;
  if (hint < 0) {
    // Last curve whose first sample is not beyond the index; curves without samples share
    // their successor's first index, so the last of them is the one that holds samples.
    int lo = 0, hi = g->nCrv - 1;
    while (lo < hi) {
      const int mid = (lo + hi + 1) / 2;
      if (c[mid].firstSample <= sample)
        lo = mid;
      else
        hi = mid - 1;
    }
    return lo;
  }
  int h = std::min(hint, g->nCrv - 1);
  while (h > 0 && sample < c[h].firstSample) --h;
  while (h < g->nCrv - 1 && sample >= c[h].firstSample + c[h].nSample) ++h;
  return h;
}

// ============================================================================================
// Sampling
// ============================================================================================

double GetChordalDev3Pts(const float a[3], const float m[3], const float b[3], double size) {
  const double pa[3] = {a[0], a[1], a[2]};
  const double pm[3] = {m[0], m[1], m[2]};
  const double pb[3] = {b[0], b[1], b[2]};
  double d[3], e[3];
  VecDiff3(pb, pa, d);
  const double l2 = VecDotProd3(d, d);
  if (l2 < kFlatChord2 * size * size) return kFlatChordDev * size;
  const double t = VecDotProd3(VecDiff3(pm, pa, e), d) / l2;  // not clamped: distance to the line
  const double foot[3] = {pa[0] + t * d[0], pa[1] + t * d[1], pa[2] + t * d[2]};
  return std::sqrt(Dist2(pm, foot));
}

namespace {

// SampleCrvBndr with the samples stored as their offsets from `origin`.
int SampleCrvFrom(GsrfCrv* c, int n, double tol, double* maxDev, const double origin[3]) {
  c->nSample = 0;
  c->closed = 0;
  if (c->kind < 0 || c->kind > 4 || !c->srf) return 0;
  const Bspline* s = c->srf;
  const Bspline* crv = nullptr;
  if (c->kind == 0) {
    if (!c->node || !c->node->item) return 0;
    crv = c->node->item;
    c->t0 = crv->umin;
    c->t1 = crv->umax;
  } else if (c->kind == 1 || c->kind == 3) {
    c->t0 = s->vmin;
    c->t1 = s->vmax;
  } else {
    c->t0 = s->umin;
    c->t1 = s->umax;
  }
  if (n < 2) return 0;

  const double step = (c->t1 - c->t0) / (n - 1);
  double t = c->t0;
  for (int i = 0; i < n; ++i) {
    const double ti = i == n - 1 ? c->t1 : t;  // the last value is the range end itself
    c->t[i] = static_cast<float>(ti);
    // In double before the offset is taken, a trim curve's points too, so that nothing is rounded
    // at the point's distance from the world's origin.
    double p[3];
    EvalBndrCrv(c, ti, p);
    c->x[i] = static_cast<float>(p[0] - origin[0]);
    c->y[i] = static_cast<float>(p[1] - origin[1]);
    c->z[i] = static_cast<float>(p[2] - origin[2]);
    t += step;
  }
  if (KernelFailed()) return -2;

  auto move = [c](int from, int to) {
    c->x[to] = c->x[from];
    c->y[to] = c->y[from];
    c->z[to] = c->z[from];
    c->t[to] = c->t[from];
  };
  auto dist2 = [c](int a, int b) {
    const double dx = double(c->x[a]) - c->x[b], dy = double(c->y[a]) - c->y[b], dz = double(c->z[a]) - c->z[b];
    return dx * dx + dy * dy + dz * dz;
  };
  int count = n;
  // The merge distance is a length: a surface below unit size merges as the same surface at unit
  // size would (at a millionth of unit size every sample of a side fell within it).
  tol = std::min(tol, tol * SizeOf(*c));
  const double tol2 = tol * tol;
  if (tol != 0.0) {
    // Distances are taken from the last kept sample, not from the one dropped before.
    int k = 0;
    for (int i = 1; i < n - 1; ++i) {
      if (dist2(i, k) <= tol2) continue;
      move(i, ++k);
    }
    if (dist2(n - 1, k) <= tol2)
      move(n - 1, k);
    else
      move(n - 1, ++k);
    count = k + 1;
    if (count == 1) return 0;
  }
  c->nSample = count;
  c->closed = dist2(count - 1, 0) < tol2 ? 1 : 0;

  const double size = SizeOf(*c);
  for (int i = 0; i + 1 < count; ++i) {
    double m[3];
    EvalBndrCrv(c, 0.5 * (double(c->t[i]) + double(c->t[i + 1])), m);
    const float a[3] = {c->x[i], c->y[i], c->z[i]};
    const float b[3] = {c->x[i + 1], c->y[i + 1], c->z[i + 1]};
    const float mf[3] = {float(m[0] - origin[0]), float(m[1] - origin[1]), float(m[2] - origin[2])};
    const double dev = 1.1 * GetChordalDev3Pts(a, mf, b, size);
    c->dev[i] = static_cast<float>(dev);
    if (dev > *maxDev) *maxDev = dev;
  }
  c->dev[count - 1] = 0.0f;  // no span starts at the last sample
  return KernelFailed() ? -2 : 0;
}

}  // namespace

int SampleCrvBndr(GsrfCrv* c, int n, double tol, double* maxDev) {
  const double atOrigin[3] = {0.0, 0.0, 0.0};
  return SampleCrvFrom(c, n, tol, maxDev, atOrigin);
}

int SampleGsrfBndr(Gsrf* g, int n) {
  if (!g || !g->crvs || g->nCrv < 1) return 0;
  FreeGsrfSamples(g);
  const int per = std::max(n, 3);
  const long room = static_cast<long>(g->nCrv) * per;
  TrackingScope scope;
  float* arrays[5];
  for (float*& a : arrays) a = MallocArray<float>(room);
  if (KernelFailed() || std::find(arrays, arrays + 5, nullptr) != arrays + 5) return 0;

  auto setViews = [&arrays](GsrfCrv& c, int at) {
    c.x = arrays[0] + at;
    c.y = arrays[1] + at;
    c.z = arrays[2] + at;
    c.dev = arrays[3] + at;
    c.t = arrays[4] + at;
  };
  g->maxDev = -kEmptyBoxBound;
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; i < g->nSrf; ++i) {
    if (!g->srfs[i].srf) continue;
    double slo[3], shi[3];
    ControlPointBox(g->srfs[i].srf, slo, shi);
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], slo[k]), hi[k] = std::max(hi[k], shi[k]);
  }
  for (int k = 0; k < 3; ++k) g->origin[k] = lo[k] <= hi[k] ? 0.5 * (lo[k] + hi[k]) : 0.0;
  int total = 0;
  for (int i = 0; i < g->nCrv; ++i) {
    if (BreakRequested(i)) return 0;
    GsrfCrv& c = g->crvs[i];
    c.firstSample = total;
    setViews(c, total);
    if (SampleCrvFrom(&c, per, g->tol, &g->maxDev, g->origin) != 0 || KernelFailed()) return 0;
    if (c.nSample == 0) {  // the curve drops out of its loop
      g->crvs[c.prev].next = c.next;
      g->crvs[c.next].prev = c.prev;
    }
    total += c.nSample;
  }
  if (total == 0) return 0;
  if (total < room) {
    for (float*& a : arrays) {
      auto* shrunk = ReallocArray(a, total);
      if (!shrunk || KernelFailed()) return 0;
      a = shrunk;
    }
    for (int i = 0; i < g->nCrv; ++i) setViews(g->crvs[i], g->crvs[i].firstSample);
  }
  scope.keep();
  g->x = arrays[0];
  g->y = arrays[1];
  g->z = arrays[2];
  g->dev = arrays[3];
  g->t = arrays[4];
  g->nSample = total;

  int run = 0;
  for (int s = 0; s < g->nSrf; ++s) {
    GsrfSrf& sr = g->srfs[s];
    sr.firstSample = run;
    sr.nSample = 0;
    for (int l = sr.firstLoop; l < sr.firstLoop + sr.nLoop; ++l) {
      GsrfLoop& lp = g->loops[l];
      lp.firstSample = run;
      lp.nSample = 0;
      for (int c = lp.firstCrv; c < lp.firstCrv + lp.nCrv; ++c) lp.nSample += g->crvs[c].nSample;
      run += lp.nSample;
      sr.nSample += lp.nSample;
    }
  }
  return 1;
}

int ClosestPointOnBndrCrv(GsrfCrv* c, const double p[3], double* t) {
  double dist;
  return ProjectOnBndrCrv(c, p, t, &dist);
}

double ClosestDistOnBndrCrv(GsrfCrv* c, const double p[3], double* t) {
  double dist = -1.0;
  ProjectOnBndrCrv(c, p, t, &dist);
  return dist;
}
