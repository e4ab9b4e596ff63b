// Boundary graph of a surface group: each sample's nearest sample on another curve by a grid
// search, and the elements built from them.
#include "healing/srfbndrc.h"

#include <algorithm>
#include <cmath>

#include "cloud/psubdiv.h"
#include "foundation/geo2.h"
#include "healing/srfbndrc_internal.h"

using namespace srfbndrc_internal;

namespace {

constexpr int kGridCellsPerAxis = 96;

// Where the grid search looks from sample s: the sample itself, but the middle of the end span
// at a curve's ends (the corner itself would find the neighbouring curve's end). Returns the
// other sample of that span (s itself inside the curve).
int ProbePoint(const Gsrf* g, const GsrfCrv& c, int s, double q[3]) {
  SamplePoint(g, s, q);
  if (s != c.firstSample && s != LastOf(c)) return s;
  const int other = s == c.firstSample ? s + 1 : s - 1;
  double r[3];
  SamplePoint(g, other, r);
  for (int a = 0; a < 3; ++a) q[a] = 0.5 * (q[a] + r[a]);
  return other;
}

// Clears every element field of the graph and its curves, loops and surfaces.
void ClearElementLinks(Gsrf* g) {
  g->els = nullptr;
  g->nEl = 0;
  for (int i = 0; i < g->nCrv; ++i) g->crvs[i].els = nullptr, g->crvs[i].nEl = 0, g->crvs[i].firstEl = 0;
  for (int i = 0; i < g->nLoop; ++i) g->loops[i].els = nullptr, g->loops[i].nEl = 0, g->loops[i].firstEl = 0;
  for (int i = 0; i < g->nSrf; ++i) g->srfs[i].els = nullptr, g->srfs[i].nEl = 0, g->srfs[i].firstEl = 0;
}

}  // namespace

// ============================================================================================
// Grid search and element builder (an alternative to the corner matching; no caller uses it)
// ============================================================================================

int ClosestSampleGsrf(Gsrf* g) {
  if (!g || g->nSample < 2 || !g->x) return 0;
  const int n = g->nSample;
  TrackingScope scope;
  float* pos = MallocArray<float>(n);
  float* par = MallocArray<float>(n);
  int* crvOf = MallocArray<int>(n);
  if (!pos || !par || !crvOf || KernelFailed()) return 0;
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int c = 0; c < g->nCrv; ++c)
    for (int k = g->crvs[c].firstSample; k <= LastOf(g->crvs[c]); ++k) crvOf[k] = c;
  for (int k = 0; k < n; ++k) {
    double p[3];
    SamplePoint(g, k, p);
    for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], p[a]), hi[a] = std::max(hi[a], p[a]);
  }
  for (int a = 0; a < 3; ++a) lo[a] = AxisKey(g, a, lo[a]), hi[a] = AxisKey(g, a, hi[a]);
  Subdiv* grid = SubdivideArrays(g->x, g->y, g->z, n, lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], g->gapTol,
                                 kGridCellsPerAxis);
  if (!grid || KernelFailed()) {
    FreeSubdiv(grid);
    return 0;
  }
  // Segment ids follow the point indices in the cells: segment k (samples k, k+1) is n + k.
  for (int c = 0; c < g->nCrv; ++c) {
    for (int k = g->crvs[c].firstSample; k < LastOf(g->crvs[c]); ++k) {
      if (!AddLineTo3DSubdivToo(grid, k, k + 1, n + k)) {
        FreeSubdiv(grid);
        return 0;
      }
    }
  }
  const double gap2 = g->gapTol * g->gapTol;
  for (int s = 0; s < n; ++s) {
    if (BreakRequested(s)) {
      FreeSubdiv(grid);
      return 0;
    }
    pos[s] = par[s] = -1.0f;
    const GsrfCrv& own = g->crvs[crvOf[s]];
    // At a curve's ends the probe sits mid-span: search the cells of both samples of the span.
    double q[3];
    const int cellSamples[2] = {s, ProbePoint(g, own, s, q)};
    double best = kEmptyBoxBound;
    for (int cs = 0; cs < 2; ++cs) {
      if (cs == 1 && grid->ownCell[cellSamples[1]] == grid->ownCell[cellSamples[0]]) break;
      const SubdivCell& cell = grid->cells[grid->ownCell[cellSamples[cs]]];
      for (int it = 0; it < cell.count; ++it) {
        const int id = cell.items[it];
        if (id < n) continue;
        const int k = id - n;
        const int ck = crvOf[k];
        if (ck == own.id || ck == own.prev || ck == own.next) continue;
        double a[3], b[3], foot[3], d2, t;
        SamplePoint(g, k, a);
        SamplePoint(g, k + 1, b);
        LineSegPntMinDistSq(q, a, b, foot, &d2, &t);
        if (d2 > gap2 || d2 >= best) continue;
        best = d2;
        pos[s] = static_cast<float>(k + 1.0 - t);
        par[s] = static_cast<float>(t * g->t[k] + (1.0 - t) * g->t[k + 1]);
      }
    }
  }
  FreeSubdiv(grid);
  Free(crvOf);
  scope.keep();
  Free(g->closePos);
  Free(g->closeT);
  g->closePos = pos;
  g->closeT = par;
  for (int c = 0; c < g->nCrv; ++c) {
    g->crvs[c].closePos = pos + g->crvs[c].firstSample;
    g->crvs[c].closeT = par + g->crvs[c].firstSample;
  }
  return 1;
}

void InsertBndrEl(GsrfCrv* c, GsrfBndrEl* el) {
  el->crv = c;
  GsrfBndrEl* before = nullptr;
  GsrfBndrEl* last = nullptr;
  for (GsrfBndrEl* p = c->els; p; p = p->next) {
    if (p->t0 >= el->t1) {
      before = p;
      break;
    }
    last = p;
  }
  el->next = before;
  el->prev = before ? before->prev : last;
  if (el->prev)
    el->prev->next = el;
  else
    c->els = el;
  if (before) before->prev = el;
  ++c->nEl;
}

namespace {
int BuildGridElements(Gsrf* g, int n);
}

int MakeGsrfBndrEl(Gsrf* g) {
  if (!g || !g->closePos || !g->closeT || g->nSample < 2) return 0;
  const int n = g->nSample;
  Free(g->els);
  ClearElementLinks(g);
  int ok = BuildGridElements(g, n);
  if (!ok) ClearElementLinks(g);  // the curves' lists pointed into freed scratch
  return ok;
}

namespace {

int BuildGridElements(Gsrf* g, int n) {
  TrackingScope scope;
  // A run holds at least two samples, so n elements always suffice.
  GsrfBndrEl* work = CallocArray<GsrfBndrEl>(n);
  int* otherCrv = MallocArray<int>(n);
  double* otherT = MallocArray<double>(2L * n);  // the element ends projected on the other curve
  if (!work || !otherCrv || !otherT || KernelFailed()) return 0;

  auto footPoint = [g](double pos, double out[3]) {  // point at a fractional global sample index
    const int k = std::min(static_cast<int>(pos), g->nSample - 2);
    const double f = pos - k;
    double a[3], b[3];
    SamplePoint(g, k, a);
    SamplePoint(g, k + 1, b);
    for (int i = 0; i < 3; ++i) out[i] = (1.0 - f) * a[i] + f * b[i];
  };
  int nEl = 0;
  for (int ci = 0; ci < g->nCrv; ++ci) {
    if (BreakRequested(ci)) return 0;
    GsrfCrv& c = g->crvs[ci];
    const int last = LastOf(c);
    int k = c.firstSample;
    while (k <= last) {
      if (g->closePos[k] < 0.0f) {
        ++k;
        continue;
      }
      const int other = GetCrvIdFromIndex(g, static_cast<int>(g->closePos[k]), -1);
      int j = k;
      while (j < last && g->closePos[j + 1] >= 0.0f &&
             GetCrvIdFromIndex(g, static_cast<int>(g->closePos[j + 1]), other) == other)
        ++j;
      if (j > k && other >= 0) {
        double p0[3], p1[3], q0[3], q1[3], d[3], e[3];
        SamplePoint(g, k, p0);
        SamplePoint(g, j, p1);
        footPoint(g->closePos[k], q0);
        footPoint(g->closePos[j], q1);
        VecDiff3(p1, p0, d);
        VecDiff3(q1, q0, e);
        const double dot = VecDotProd3(d, e);
        const double l2 = VecDotProd3(d, d) * VecDotProd3(e, e);
        if (l2 > 0.0 && dot * dot >= 0.25 * l2) {  // within 60 degrees of parallel, either sense
          GsrfBndrEl& el = work[nEl];
          el.srfId = c.srfId;
          el.t0 = g->t[k];
          el.t1 = g->t[j];
          el.orient = dot >= 0.0 ? 1 : 0;
          el.v0 = el.v1 = -1;
          for (int s = k; s <= j; ++s) {
            double p[3], q[3];
            ProbePoint(g, c, s, p);
            footPoint(g->closePos[s], q);
            el.maxDist = std::max(el.maxDist, std::sqrt(Dist2(p, q)));
          }
          otherCrv[nEl] = other;
          otherT[2 * nEl] = g->closeT[k];
          otherT[2 * nEl + 1] = g->closeT[j];
          ClosestPointOnBndrCrv(&g->crvs[other], p0, &otherT[2 * nEl]);
          ClosestPointOnBndrCrv(&g->crvs[other], p1, &otherT[2 * nEl + 1]);
          InsertBndrEl(&c, &el);
          ++nEl;
        }
      }
      k = j + 1;
    }
  }
  if (KernelFailed()) return 0;
  // Partners: an element and one on its other curve whose range overlaps its projected ends,
  // each looking back at the first one's curve.
  for (int a = 0; a < nEl; ++a) {
    if (work[a].partner) continue;
    const double lo = std::min(otherT[2 * a], otherT[2 * a + 1]);
    const double hi = std::max(otherT[2 * a], otherT[2 * a + 1]);
    for (GsrfBndrEl* b = g->crvs[otherCrv[a]].els; b; b = b->next) {
      const int bi = static_cast<int>(b - work);
      if (b->partner || otherCrv[bi] != work[a].crv->id || b->t1 < lo || b->t0 > hi) continue;
      work[a].partner = b;
      b->partner = &work[a];
      break;
    }
  }
  // Copy into one array in curve order so that every curve's elements form a consecutive range.
  GsrfBndrEl* els = CallocArray<GsrfBndrEl>(nEl);
  int* newId = MallocArray<int>(nEl);
  if (nEl > 0 && (!els || !newId || KernelFailed())) return 0;
  int id = 0;
  for (int ci = 0; ci < g->nCrv; ++ci)
    for (GsrfBndrEl* e = g->crvs[ci].els; e; e = e->next) newId[e - work] = id++;
  for (int w = 0; w < nEl; ++w) {
    GsrfBndrEl& e = els[newId[w]];
    e = work[w];
    e.id = newId[w];
    e.prev = work[w].prev ? els + newId[work[w].prev - work] : nullptr;
    e.next = work[w].next ? els + newId[work[w].next - work] : nullptr;
    e.partner = work[w].partner ? els + newId[work[w].partner - work] : nullptr;
  }
  Free(work);
  Free(otherCrv);
  Free(otherT);
  Free(newId);
  scope.keep();
  g->els = els;
  g->nEl = nEl;
  int run = 0;
  for (int ci = 0; ci < g->nCrv; ++ci) {
    GsrfCrv& c = g->crvs[ci];
    c.firstEl = run;
    c.els = c.nEl > 0 ? els + run : nullptr;
    run += c.nEl;
  }
  SpreadElementRanges(g);
  return 1;
}

}  // namespace
