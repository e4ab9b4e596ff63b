// Boundary structure of a surface group: records and build, the reasons an edge or curve stays
// open, queries and evaluation on a boundary curve. Edge samples are in srfbndr_sample.cpp,
// averaged targets and continuity measures in srfbndr_measure.cpp, end and corner geometry in
// srfbndr_corner.cpp. See healing/srfbndr.h for the slot and side conventions.
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/fitcurve.h"
#include "foundation/onelink.h"
#include "foundation/sort.h"
#include "healing/srfbndr_internal.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"

using namespace srfbndr_internal;

namespace {

// Squared spread of control points, against the squared size of their object, within which a
// side is a point (a pole); the absolute limit at unit size.
constexpr double kDegenerateSpread2 = 4e-8;

// (u, v) of a boundary curve at t: a trim curve through its 2D curve, a side from the domain.
int BndrCrvUV(const CrvInfoStruct* crv, double t, double* u, double* v) {
  const Bspline* s = crv->srf;
  switch (crv->side) {
    case 0: {
      double uv[2];
      Eval2DPointOnCurve2Array(s, crv->node->item, t, 0, uv);
      if (KernelFailed()) return -2;
      *u = uv[0];
      *v = uv[1];
      return 0;
    }
    case 1: *u = s->umin; *v = t; return 0;
    case 2: *u = t; *v = s->vmin; return 0;
    case 3: *u = s->umax; *v = t; return 0;
    case 4: *u = t; *v = s->vmax; return 0;
    default: return -2;
  }
}

}  // namespace

// ===== records, build and free ===================================================================

BndrStruct* MallocNullBndrStruct() {
  BndrStruct* bs = nullptr;
  UntrackedScope own;  // the structure and its arrays outlive every caller's scope
  if (!CallocArrayUnlessFailed(bs, 1)) return nullptr;
  bs->tol = 1e-6;
  bs->nSample = 100;
  bs->gram = NewCrv3GramCache();
  if (!bs->gram) {
    Free(bs);
    return nullptr;
  }
  return bs;
}

int FreeBndrStruct(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; bs->corners && i < bs->nCorner; ++i) {
    CornerInfoStruct* c = &bs->corners[i];
    FreeAndNull(c->edgeCopies);
    FreeAndNull(c->edgeIds);
    FreeAndNull(c->srfIds);
  }
  for (int i = 0; bs->edges && i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    FreeEdgeSampleArrays(e);
    FreeAndNull(e->cornerCopies);
  }
  for (int i = 0; bs->crvs && i < bs->nCrv; ++i) {
    CrvInfoStruct* c = &bs->crvs[i];
    FreeBspline(c->crv3);
    c->crv3 = nullptr;
    FreeAndNull(c->edgeCopies);
    FreeAndNull(c->cornerCopies);
    FreeAndNull(c->edgeIds);
    FreeAndNull(c->cornerIds);
  }
  for (int i = 0; bs->srfs && i < bs->nSrf; ++i) {
    SrfInfoStruct* s = &bs->srfs[i];
    FreeBspline(s->work);
    s->work = nullptr;
    FreeAndNull(s->crvIds);
    FreeAndNull(s->aux1);
    FreeAndNull(s->aux2);
    FreeAndNull(s->edges);
    FreeAndNull(s->corners);
  }
  FreeAndNull(bs->srfs);
  FreeAndNull(bs->crvs);
  FreeAndNull(bs->edges);
  FreeAndNull(bs->corners);
  FreeCrv3GramCache(bs->gram);
  Free(bs);
  return 0;
}

int FreeBndrStructEdgeSamples(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; bs->edges && i < bs->nEdge; ++i) {
    FreeEdgeSampleArrays(&bs->edges[i]);
    bs->edges[i].nSample = 0;
  }
  return 0;
}

BndrStruct* ConvertGsrfBndrToBndrStruct(Gsrf* g, int nSamples, double maxGap, double maxAngle,
                                        int outerContinuity) {
  if (!g) return nullptr;
  const int n = nSamples <= 2 ? 2 : nSamples;
  TrackingScope scope;
  // Freed before the scope on a failure: the surfaces' work copies are blocks of the scope.
  Owned<BndrStruct, FreeBndrStruct> owner(MallocNullBndrStruct());
  BndrStruct* bs = owner.get();
  if (!bs) return nullptr;
  bs->nSrf = g->nSrf;
  bs->nCrv = g->nCrv;
  bs->nEdge = g->nEl;
  bs->tol = g->tol;
  bs->gapTol = g->gapTol;
  bs->angleTol = maxAngle;
  bs->maxDev = g->maxDev;

  // Until the curve and edge arrays exist their counts stay 0: the free must not walk counts
  // not yet backed by arrays.
  bs->nCrv = 0;
  bs->nEdge = 0;
  bool made = false;
  {
    UntrackedScope own;
    made = CallocArrayUnlessFailed(bs->srfs, g->nSrf);
  }
  if (!made) {
    bs->nSrf = 0;
    return nullptr;
  }
  for (int i = 0; i < g->nSrf; ++i) {
    SrfInfoStruct* s = &bs->srfs[i];
    const GsrfSrf* gs = &g->srfs[i];
    s->index = i;
    s->fixed = 0;
    s->srf = gs->srf;
    s->nCrv = gs->nCrv;
    s->nEdge = gs->nEl;
    s->work = CopyBsplineStructAndChildren(gs->srf);
    if (!s->work || KernelFailed()) return nullptr;
  }
  if (FillUpCrvInfoStruct(bs, g) != 0) return nullptr;
  if (FillUpBndrInfoStruct(bs, g) != 0) return nullptr;
  if (AssignBndrStructElementIds(bs) != 0) return nullptr;
  if (EvalAllBndrCrvCurve3Form(bs) != 0) return nullptr;
  if (SampleNewBndryStruct(bs, n) != 0) return nullptr;
  for (int i = 0; i < bs->nEdge; ++i) bs->edges[i].continuity = -1;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (e->paired && SetBndrEdgeContinuity(e, maxGap, maxAngle) != 0) return nullptr;
  }
  if (KernelFailed()) return nullptr;
  SetSkinSrfsOuterContinuity(bs, outerContinuity);
  scope.keep();
  return owner.release();
}

int FillUpCrvInfoStruct(BndrStruct* bs, Gsrf* g) {
  if (!bs || !g) return -2;
  CrvInfoStruct* crvs = nullptr;
  {
    UntrackedScope own;
    if (!CallocArrayUnlessFailed(crvs, g->nCrv)) return -2;
  }
  bs->crvs = crvs;
  bs->nCrv = g->nCrv;
  for (int i = 0; i < g->nCrv; ++i) {
    const GsrfCrv* gc = &g->crvs[i];
    CrvInfoStruct* c = &crvs[i];
    c->index = i;
    c->side = gc->kind;
    c->outer = 0;
    c->fixed = 0;
    c->outerCont = -1;
    c->node = gc->node;
    c->srf = gc->srf;
    c->closed = gc->closed;
    c->nEdge = gc->nEl;
    for (int s = 0; s < bs->nSrf && !c->srfInfo; ++s)
      if (bs->srfs[s].srf == gc->srf) c->srfInfo = &bs->srfs[s];
    if (!c->srfInfo) return -2;
    if (c->side >= 1 && c->side <= 4) {
      c->crv3 = GetBndrCrvCurve3Form(c);
      if (!c->crv3 || KernelFailed()) return -2;
    }
  }
  return 0;
}

int NormalizeBndrSrfDomain(Bspline* srf) {
  if (!srf || srf->kind != 2 || !srf->knotsU || !srf->knotsV) return -2;
  if (!RecordShapesSound({srf})) return -2;
  const int counts[2] = {NumKnotsU(srf), NumKnotsV(srf)};
  double* knots[2] = {srf->knotsU, srf->knotsV};
  for (int d = 0; d < 2; ++d)
    if (!(knots[d][counts[d] - 1] - knots[d][0] > 0.0)) return -2;
  for (int d = 0; d < 2; ++d) {
    // The domain ends go by the knots' own arithmetic, so an end still equals its knots exactly
    // (the vectors need not be clamped).
    const double first = knots[d][0], range = knots[d][counts[d] - 1] - first;
    double& lo = d ? srf->vmin : srf->umin;
    double& hi = d ? srf->vmax : srf->umax;
    lo = (lo - first) / range;
    hi = (hi - first) / range;
    const double scale = NormalizeKnots(knots[d], counts[d]);
    SpreadOverfullKnotRuns(srf, d);
    PropotionCurveListCoefi(srf->curves, scale, -first * scale, d);
  }
  return 0;
}

int FillUpBndrInfoStruct(BndrStruct* bs, Gsrf* g) {
  if (!bs || !g || (g->nEl > 0 && !g->els)) return -2;
  TrackingScope scope;
  const int nEl = g->nEl;
  EdgeInfoStruct* edges = nullptr;
  int* map = nullptr;   // element -> edge
  int* owner = nullptr;  // edge -> the element that made it (side A)
  if (!CallocArrayUnlessFailed(map, nEl) || !CallocArrayUnlessFailed(owner, nEl)) return -2;
  // From here on every block belongs to the structure; the scope above frees the two maps.
  UntrackedScope own;
  if (!CallocArrayUnlessFailed(edges, nEl)) return -2;
  bs->edges = edges;  // the edge count follows as edges are made
  bs->nEdge = 0;
  for (int i = 0; i < nEl; ++i) map[i] = -1;

  auto crvInfo = [&](const GsrfCrv* gc) -> CrvInfoStruct* {
    if (!gc || gc->id < 0 || gc->id >= bs->nCrv) return nullptr;
    return &bs->crvs[gc->id];
  };
  int nEdge = 0;
  for (int i = 0; i < nEl; ++i) {
    if (map[i] >= 0) continue;
    const GsrfBndrEl* el = &g->els[i];
    EdgeInfoStruct* e = &edges[nEdge];
    e->index = nEdge;
    e->continuity = -1;
    e->infoA = crvInfo(el->crv);
    if (!e->infoA) return -2;
    e->crvA = e->infoA->index;
    e->crvB = -1;
    e->par[BndrSlot(0, 0)] = el->t0;
    e->par[BndrSlot(0, 1)] = el->t1;
    const GsrfBndrEl* pt = el->partner;
    const int pid = pt ? static_cast<int>(pt - g->els) : -1;
    // A partner already taken by another edge (a one-sided link) cannot join this one too.
    if (pt && pid >= 0 && pid < nEl && pid != i && map[pid] < 0 && crvInfo(pt->crv)) {
      e->infoB = crvInfo(pt->crv);
      e->crvB = e->infoB->index;
      e->par[BndrSlot(1, 0)] = pt->t0;
      e->par[BndrSlot(1, 1)] = pt->t1;
      e->paired = 1;
      map[pid] = nEdge;
    } else {
      e->par[BndrSlot(1, 0)] = el->t0;
      e->par[BndrSlot(1, 1)] = el->t1;
    }
    // The graph keeps its sample parameters in single precision, which may round a domain end
    // (an exporter's 1e-16 where its neighbour knot is 0.2 away) just outside the domain: the
    // ends are the curves' own values.
    for (int s = 0; s < 4; ++s) {
      double lo = 0.0, hi = 0.0;
      if (GetBndrCrvParamMinMax(SideCrv(e, s & 1), &lo, &hi) == 0) e->par[s] = std::clamp(e->par[s], lo, hi);
    }
    e->orient = el->orient;
    e->corner0 = el->v0;
    e->corner1 = el->v1;
    map[i] = nEdge;
    owner[nEdge] = i;
    bs->nEdge = ++nEdge;
  }
  for (int k = 0; k < nEdge; ++k) {
    const GsrfBndrEl* el = &g->els[owner[k]];
    if (el->next) edges[k].next = &edges[map[el->next - g->els]];
    if (el->prev) edges[k].prev = &edges[map[el->prev - g->els]];
  }

  // Corners: per vertex the distinct edges whose elements start or end there, element order.
  const int nCorner = g->nVert;
  CornerInfoStruct* corners = nullptr;
  if (!CallocArrayUnlessFailed(corners, nCorner)) return -2;
  bs->corners = corners;
  bs->nCorner = nCorner;
  auto validCorner = [&](int v) { return v >= 0 && v < nCorner; };
  for (int i = 0; i < nEl; ++i) {
    const GsrfBndrEl* el = &g->els[i];
    if (validCorner(el->v0)) corners[el->v0].nEdge++;
    if (el->v1 != el->v0 && validCorner(el->v1)) corners[el->v1].nEdge++;
  }
  for (int v = 0; v < nCorner; ++v) {
    CornerInfoStruct* c = &corners[v];
    c->index = v;
    Copy3(g->verts[v].c, c->pos);
    const int room = c->nEdge;
    c->nEdge = 0;
    if (!CallocArrayUnlessFailed(c->edgeCopies, room)) return -2;
  }
  for (int i = 0; i < nEl; ++i) {
    const GsrfBndrEl* el = &g->els[i];
    const int ends[2] = {el->v0, el->v1};
    for (int k = 0; k < 2; ++k) {
      if (!validCorner(ends[k]) || (k == 1 && ends[1] == ends[0])) continue;
      CornerInfoStruct* c = &corners[ends[k]];
      const int edge = map[i];
      bool seen = false;
      for (int j = 0; j < c->nEdge && !seen; ++j) seen = c->edgeCopies[j].index == edge;
      if (!seen) c->edgeCopies[c->nEdge++] = edges[edge];
    }
  }

  CornerInfoStruct empty{};
  auto cornerOf = [&](int v) -> const CornerInfoStruct& { return validCorner(v) ? corners[v] : empty; };
  for (int k = 0; k < nEdge; ++k) {
    EdgeInfoStruct* e = &edges[k];
    if (!CallocArrayUnlessFailed(e->cornerCopies, 2)) return -2;
    e->cornerCopies[0] = cornerOf(e->corner0);
    e->cornerCopies[1] = cornerOf(e->corner1);
    e->nCornerCopy = 2;
  }

  for (int s = 0; s < bs->nSrf; ++s) {
    SrfInfoStruct* si = &bs->srfs[s];
    const GsrfSrf* gs = &g->srfs[s];
    si->nEdge = gs->nEl;
    si->nCorner = gs->nEl;
    if (gs->nEl > 0 && (gs->firstEl < 0 || gs->firstEl + gs->nEl > nEl)) return -2;
    if (!CallocArrayUnlessFailed(si->edges, gs->nEl) || !CallocArrayUnlessFailed(si->corners, gs->nEl)) return -2;
    for (int j = 0; j < gs->nEl; ++j) {
      const EdgeInfoStruct& e = edges[map[gs->firstEl + j]];
      si->edges[j] = e;
      // The start corner of the first edge, then the end corners of all but the last.
      si->corners[j] = j == 0 ? cornerOf(e.corner0) : cornerOf(edges[map[gs->firstEl + j - 1]].corner1);
    }
  }
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* ci = &bs->crvs[c];
    const GsrfCrv* gc = &g->crvs[c];
    const int ne = gc->nEl;
    const int nc = ne > 0 ? ne + 1 - (gc->closed ? 1 : 0) : 0;
    if (ne > 0 && (gc->firstEl < 0 || gc->firstEl + ne > nEl)) return -2;
    if (!CallocArrayUnlessFailed(ci->edgeCopies, ne) || !CallocArrayUnlessFailed(ci->cornerCopies, nc)) return -2;
    for (int j = 0; j < ne; ++j) {
      const EdgeInfoStruct& e = edges[map[gc->firstEl + j]];
      ci->edgeCopies[j] = e;
      if (j == 0) ci->cornerCopies[0] = cornerOf(e.corner0);
      if (j + 1 < nc) ci->cornerCopies[j + 1] = cornerOf(e.corner1);
    }
  }
  return 0;  // the scope frees the two maps
}

int AssignBndrStructElementIds(BndrStruct* bs) {
  if (!bs) return -2;
  if (AssignBndrStructCrvBndrIds(bs) != 0) return -2;
  if (AssignCorner2BndrIndices(bs) != 0) return -2;
  if (AssignSrf2BndrCrvIndices(bs) != 0) return -2;
  return 0;
}

int GetCrvAllBndrElementIndices(BndrStruct* bs, int curve, int** edges, int* n) {
  if (!bs || !edges || !n || curve < 0 || curve >= bs->nCrv) return -2;
  *edges = nullptr;
  *n = 0;
  TrackingScope scope;
  int* ids = nullptr;
  int* order = nullptr;
  double* keys = nullptr;
  if (!CallocArrayUnlessFailed(ids, bs->nEdge) || !CallocArrayUnlessFailed(keys, bs->nEdge) ||
      !CallocArrayUnlessFailed(order, bs->nEdge))
    return -2;
  int count = 0;
  for (int i = 0; i < bs->nEdge; ++i) {
    const EdgeInfoStruct* e = &bs->edges[i];
    if (e->crvA == curve) {
      ids[count] = i;
      keys[count++] = e->par[BndrSlot(0, 0)];
    } else if (IsPaired(e) && e->crvB == curve) {
      ids[count] = i;
      keys[count++] = e->par[BndrSlot(1, 0)];
    }
  }
  if (count == 0) return -2;
  HeapSortWithIndexing(count, keys, order);
  int* out = nullptr;
  UntrackedScope own;  // the list goes to the caller's record
  if (!CallocArrayUnlessFailed(out, count)) return -2;
  for (int i = 0; i < count; ++i) out[i] = ids[order[i]];
  // Consecutive edges along the curve are made to meet at one parameter.
  for (int i = 0; i + 1 < count; ++i) {
    EdgeInfoStruct* a = &bs->edges[out[i]];
    EdgeInfoStruct* b = &bs->edges[out[i + 1]];
    const int sa = a->crvA == curve ? 0 : 1;
    const int sb = b->crvA == curve ? 0 : 1;
    const double mid = 0.5 * (a->par[BndrSlot(sa, 1)] + b->par[BndrSlot(sb, 0)]);
    a->par[BndrSlot(sa, 1)] = mid;
    b->par[BndrSlot(sb, 0)] = mid;
  }
  *edges = out;
  *n = count;
  return 0;
}

int AssignBndrStructCrvBndrIds(BndrStruct* bs) {
  if (!bs) return -2;
  for (int c = 0; c < bs->nCrv; ++c) {
    bs->crvs[c].index = c;
    bs->crvs[c].nEdge = 0;
  }
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    e->crvA = e->infoA ? e->infoA->index : -1;
    e->crvB = e->infoB ? e->infoB->index : -1;
    if (e->infoA) e->infoA->nEdge++;
    if (e->infoB && e->infoB != e->infoA) e->infoB->nEdge++;
  }
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* ci = &bs->crvs[c];
    FreeAndNull(ci->edgeIds);
    FreeAndNull(ci->cornerIds);
    ci->nCorner = 0;
    if (ci->nEdge == 0) continue;
    int n = 0;
    if (GetCrvAllBndrElementIndices(bs, c, &ci->edgeIds, &n) != 0) return -2;
    ci->nEdge = n;
    UntrackedScope own;
    if (!CallocArrayUnlessFailed(ci->cornerIds, n + 1)) return -2;
    ci->nCorner = n + 1;
    // Corners in the curve's own running direction: side B against side A swaps the ends.
    for (int k = 0; k < n; ++k) {
      const EdgeInfoStruct* e = &bs->edges[ci->edgeIds[k]];
      const bool along = e->crvA == c || e->orient;
      if (k == 0) ci->cornerIds[0] = along ? e->corner0 : e->corner1;
      ci->cornerIds[k + 1] = along ? e->corner1 : e->corner0;
    }
  }
  return 0;
}

int AssignCorner2BndrIndices(BndrStruct* bs) {
  if (!bs) return -2;
  if (bs->nSrf == 0) return 0;
  if (!bs->corners || bs->nCorner <= 0) return -2;
  UntrackedScope own;
  for (int c = 0; c < bs->nCorner; ++c) {
    CornerInfoStruct* ci = &bs->corners[c];
    FreeAndNull(ci->edgeIds);
    int count = 0;
    for (int i = 0; i < bs->nEdge; ++i)
      if (bs->edges[i].corner0 == c || bs->edges[i].corner1 == c) ++count;
    ci->nEdge = 0;
    if (!CallocArrayUnlessFailed(ci->edgeIds, count)) return -2;
    for (int i = 0; i < bs->nEdge; ++i)
      if (bs->edges[i].corner0 == c || bs->edges[i].corner1 == c) ci->edgeIds[ci->nEdge++] = i;
  }
  return 0;
}

int AssignSrf2BndrCrvIndices(BndrStruct* bs) {
  if (!bs) return -2;
  UntrackedScope own;
  for (int s = 0; s < bs->nSrf; ++s) {
    SrfInfoStruct* si = &bs->srfs[s];
    FreeAndNull(si->crvIds);
    int count = 0;
    for (int c = 0; c < bs->nCrv; ++c)
      if (bs->crvs[c].srfInfo == si) ++count;
    si->nCrv = 0;
    if (!CallocArrayUnlessFailed(si->crvIds, std::max(count, 1))) return -2;
    for (int c = 0; c < bs->nCrv; ++c)
      if (bs->crvs[c].srfInfo == si) si->crvIds[si->nCrv++] = c;
  }
  return 0;
}

int SetSkinSrfsOuterContinuity(BndrStruct* bs, int continuity) {
  if (!bs) return -2;
  const int c = continuity < 0 ? -1 : continuity;
  for (int i = 0; i < bs->nCrv; ++i) {
    bs->crvs[i].outer = 0;
    bs->crvs[i].outerCont = c;
  }
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (e->paired || !e->infoA) continue;
    e->continuity = c;
    e->infoA->outer = 1;
    e->infoA->outerCont = c;
  }
  // A natural side counts as outer only when none of its edges is paired; a trim curve with
  // any unpaired edge stays outer.
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (!e->paired) continue;
    CrvInfoStruct* sides[2] = {e->infoA, e->infoB};
    for (CrvInfoStruct* ci : sides)
      if (ci && ci->outer && ci->side != 0) ci->outer = 0;
  }
  return 0;
}

int SetSkinSrfsFixedCrvs(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nCrv; ++i) {
    CrvInfoStruct* c = &bs->crvs[i];
    c->fixed = c->srfInfo && c->srfInfo->fixed ? 1 : 0;
  }
  return 0;
}

int ForgetBndrEdgeStarts(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; bs->edges && i < bs->nEdge; ++i) bs->edges[i].startSet = 0;
  for (int c = 0; bs->corners && c < bs->nCorner; ++c) bs->corners[c].flat = 0;
  return 0;
}

namespace {

// Whether a smooth seam ends at corner c. A crease laid towards one plane there turns that seam's
// end tangent off its own line by up to half the crease's angle, and the sides of few control
// points along it, held to the turned tangent, bow across their whole length and the long nets
// beside them fold.
bool SmoothSeamEndsAt(const BndrStruct* bs, int c) {
  for (int i = 0; bs->edges && i < bs->nEdge; ++i) {
    const EdgeInfoStruct* e = &bs->edges[i];
    if ((e->corner0 == c || e->corner1 == c) && IsPaired(e) && IsG1Paired(e)) return true;
  }
  return false;
}

}  // namespace

int FlattenRisenCreaseCorners(BndrStruct* bs, double rise) {
  if (!bs) return -2;
  int found = 0;
  for (int i = 0; bs->edges && i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (!IsPaired(e) || e->continuity != 0 || IsG1Paired(e) || !e->startSet) continue;
    double now = 0.0;
    if (BndrEdgeMaxNormalDiff(e, 0.0, &now) != 0) {
      if (KernelFailed()) return -2;
      continue;
    }
    if (now <= e->startMaxAngle + rise) continue;
    for (int c : {e->corner0, e->corner1})
      if (c >= 0 && c < bs->nCorner && bs->corners[c].flat < 2 && !SmoothSeamEndsAt(bs, c)) {
        bs->corners[c].flat += 1;
        ++found;
      }
  }
  return found;
}

namespace {

// Data per control point of the fit below: enough that every control point has points in its
// support, and the fit's error shows between samples.
constexpr int kFitPointsPerCtrl = 8;
// Refits at corrected parameters: at most this many, and only while each takes the largest
// distance below this share of the best before.
constexpr int kMaxRefits = 30;
constexpr double kRefitGain = 0.98;

// Whether side `side` of a paired edge, a natural side with the knots it has, cannot follow the
// other side's shape within gapTol: the least-squares curve on its knots through the other side's
// points along the edge (and its own points elsewhere on its curve) misses one of them by more,
// at the best parameters found for them. 1 when it cannot, 0 when it can; -1 when it cannot tell
// (a trim curve, a fit without a solution), -2 for a failed allocation.
int SideTooCoarse(const EdgeInfoStruct* e, int side, double gapTol) {
  const CrvInfoStruct* own = side ? e->infoB : e->infoA;
  const CrvInfoStruct* other = side ? e->infoA : e->infoB;
  const double* ts = side ? e->sampleB : e->sampleA;
  const double* to = side ? e->sampleA : e->sampleB;
  if (own->side < 1 || own->side > 4 || !ts || !to || e->nSample < 2) return -1;
  TrackingScope scope;  // the data and the fit are scratch
  const Owned<Bspline, FreeBspline> owned(GetBndrCrvCurve3Form(own));
  Bspline* form = owned.get();
  double tmin = 0.0, tmax = 0.0;
  if (!form || GetBndrCrvParamMinMax(own, &tmin, &tmax) != 0) return KernelFailed() ? -2 : -1;
  const int n = std::max(200, kFitPointsPerCtrl * NumCtrlU(form));
  double* t = MallocArray<double>(n);
  float* xyz = MallocArray<float>(3 * n);
  bool* inside = MallocArray<bool>(n);
  if (KernelFailed() || !t || !xyz || !inside) return -2;
  // The other side's point for the own parameter t: at the parameter that lies as far along its
  // stretch of the edge (sides of one knot vector and one parametrisation meet exactly so).
  const int last = e->nSample - 1;
  const double lo = std::min(ts[0], ts[last]), hi = std::max(ts[0], ts[last]);
  const double spanOwn = ts[last] - ts[0];
  double origin[3];
  if (EvalPntOnBndryCrv(own, tmin, origin) != 0) return KernelFailed() ? -2 : -1;
  for (int k = 0; k < n; ++k) {
    t[k] = tmin + (tmax - tmin) * k / (n - 1);
    inside[k] = t[k] >= lo && t[k] <= hi;
    double p[3];
    int s = 0;
    if (inside[k]) {
      const double f = spanOwn != 0.0 ? (t[k] - ts[0]) / spanOwn : 0.0;
      s = EvalPntOnBndryCrv(other, to[0] + f * (to[last] - to[0]), p);
    } else {
      s = EvalPntOnBndryCrv(own, t[k], p);
    }
    if (s != 0) return KernelFailed() ? -2 : -1;
    // Single-precision data, so taken from the curve's start: its size, not its place, sets
    // the rounding.
    for (int c = 0; c < 3; ++c) xyz[c * n + k] = static_cast<float>(p[c] - origin[c]);
  }
  // The two sides' parameters slide along each other, which no net has to follow: the points
  // are refitted at the parameters of their feet on the last fit (parameter correction) for as
  // long as the largest distance of the other side's points keeps falling. From two starts: the
  // parameters as read (exact for a side of the same parametrisation) and the feet on the own
  // curve (near the other's arc length where the shapes are close).
  double* dist2 = MallocArray<double>(n);
  double* feet = MallocArray<double>(n);
  if (!dist2 || !feet) return -2;
  for (int i = 0; i < NumCtrlU(form); ++i) {  // the own curve, placed as the data are
    form->X[0][i] -= origin[0];
    form->Y[0][i] -= origin[1];
    form->Z[0][i] -= origin[2];
  }
  std::memcpy(feet, t, sizeof(double) * n);
  if (PointCurve3Diff(form, feet, xyz, xyz + n, xyz + 2 * n, n, dist2) != 0) return KernelFailed() ? -2 : -1;
  auto follows = [&]() {
    double best = HUGE_VAL;
    for (int round = 0, slow = 0; round < kMaxRefits && slow < 2; ++round) {
      if (Curve3LeastSqFit(form, t, xyz, xyz + n, xyz + 2 * n, n, nullptr, nullptr, 0) != 0 ||
          PointCurve3Diff(form, t, xyz, xyz + n, xyz + 2 * n, n, dist2) != 0)
        return -1;
      double worst = 0.0;
      for (int k = 0; k < n; ++k)
        if (inside[k]) worst = std::max(worst, std::sqrt(dist2[k]));
      if (worst <= gapTol) return 1;
      slow = worst > kRefitGain * best ? slow + 1 : 0;
      best = std::min(best, worst);
    }
    return 0;
  };
  for (const double* from : {static_cast<const double*>(nullptr), static_cast<const double*>(feet)}) {
    if (from) std::memcpy(t, from, sizeof(double) * n);
    const int fits = follows();
    if (fits != 0) return fits == 1 ? 0 : KernelFailed() ? -2 : -1;
  }
  return KernelFailed() ? -2 : 1;
}

// The natural side of a surface that meets side `side` at its start (curveEnd 0) or its end:
// sides 1 and 3 run in v from v-min (2) to v-max (4), sides 2 and 4 in u from u-min (1) to
// u-max (3).
int SideAtCurveEnd(int side, int curveEnd) {
  if (side == 1 || side == 3) return curveEnd == 0 ? 2 : 4;
  return curveEnd == 0 ? 1 : 3;
}

// Which end of its curve side `side` (0 A, 1 B) of a paired edge reaches at the end that meets
// A's end `end` (BndrCrvEndAt); its range goes to t0, t1.
int CurveEndAt(const BndrStruct* bs, const EdgeInfoStruct* e, int side, int end, double* t0, double* t1) {
  const CrvInfoStruct* c = SideCrv(e, side);
  if (!c || GetBndrCrvParamMinMax(c, t0, t1) != 0 || !(*t1 > *t0)) return -2;
  return BndrCrvEndAt(bs, c, e->par[side == 0 ? BndrSlot(0, end) : MatchSlot(e, end)]);
}

// Whether side `side` (0 A, 1 B) of a paired edge ends, at the end that meets A's end `end`, in
// a corner of its surface that lies on a held outer side of that surface; the corner's point
// goes to `corner`. An edge end partway along the side (a T-junction) ends in no corner.
bool EndsInHeldCorner(const BndrStruct* bs, const EdgeInfoStruct* e, int side, int end, double corner[3]) {
  const CrvInfoStruct* c = SideCrv(e, side);
  double t0 = 0.0, t1 = 0.0;
  if (!c || c->side < 1 || c->side > 4 || !c->srfInfo || !c->srfInfo->crvIds) return false;
  const int curveEnd = CurveEndAt(bs, e, side, end, &t0, &t1);
  if (curveEnd < 0) return false;
  const int next = SideAtCurveEnd(c->side, curveEnd);
  const SrfInfoStruct* si = c->srfInfo;
  for (int k = 0; k < si->nCrv; ++k) {
    const int id = si->crvIds[k];
    if (id < 0 || id >= bs->nCrv) continue;
    const CrvInfoStruct* n = &bs->crvs[id];
    if (n->side == next && n->outer && n->outerCont >= 0)
      return EvalPntOnBndryCrv(c, curveEnd == 0 ? t0 : t1, corner) == 0;
  }
  return false;
}

}  // namespace

int BndrCrvEndAt(const BndrStruct* bs, const CrvInfoStruct* c, double t) {
  double t0 = 0.0, t1 = 0.0;
  if (!bs || !c || GetBndrCrvParamMinMax(c, &t0, &t1) != 0 || !(t1 > t0)) return -2;
  const int nearer = t - t0 < t1 - t ? 0 : 1;
  const double along = std::fabs(t - (nearer ? t1 : t0));
  if (along <= 1e-9 * (t1 - t0)) return nearer;
  // A corner within reach of the side's end is that end moved by the damage, however short the
  // side: along a narrow face's end a hundredth of the side is a fraction of what the damage
  // moves a corner by.
  if (!(bs->gapTol > 0.0)) return along > 0.01 * (t1 - t0) ? -1 : nearer;
  double p[3], endPoint[3], otherEnd[3];
  if (EvalPntOnBndryCrv(c, t, p) != 0 || EvalPntOnBndryCrv(c, nearer ? t1 : t0, endPoint) != 0 ||
      EvalPntOnBndryCrv(c, nearer ? t0 : t1, otherEnd) != 0)
    return -2;
  return VecDist3(p, endPoint) > CornerEndReach(VecDist3(endPoint, otherEnd), bs->gapTol) ? -1 : nearer;
}

int FindBndrEdgeOpenReason(const BndrStruct* bs, int edge, int side, double gapTol) {
  if (!bs || edge < 0 || edge >= bs->nEdge || side < 0 || side > 1) return -2;
  const EdgeInfoStruct* e = &bs->edges[edge];
  if (!IsPaired(e)) return 0;
  // First: a surface the heal put back leaves its seams as they came, whatever the nets could do
  // (held corners that differ meet where the corner rules put them, unless a surface goes back).
  int a = -1, b = -1;
  GetBndrEdgeAdjSrfIds(e, &a, &b);  // a side without its surface record names none (-1)
  // The fold first: a surface put back for one keeps its neighbours' seams open (kKeptAlone).
  int kept = 0;
  for (const int s : {a, b}) {
    const int why = s >= 0 && s < bs->nSrf ? bs->srfs[s].keptStart : 0;
    if (why == kKeptFold) return kBndrOpenKeptFold;
    if (why != 0) kept = kept == kKeptWorse ? kept : why;
  }
  if (kept) return kept == kKeptAlone ? kBndrOpenKeptAlone : kBndrOpenKeptStart;
  // Then: at such an end the gap lies between two points of the held outer boundary that the heal
  // did not bring together, which no shape of the nets along the seam closes.
  for (int end = 0; end < 2; ++end) {
    double pa[3], pb[3];
    if (EndsInHeldCorner(bs, e, 0, end, pa) && EndsInHeldCorner(bs, e, 1, end, pb) && VecDist3(pa, pb) > gapTol)
      return kBndrOpenHeldEnd;
  }
  if (KernelFailed()) return -2;
  const int own = SideTooCoarse(e, side, gapTol);
  if (own == -2) return -2;
  if (own == 1) return kBndrOpenCoarseSide;
  const int other = SideTooCoarse(e, 1 - side, gapTol);
  if (other == -2) return -2;
  if (other == 1) return kBndrOpenCoarseOther;
  constexpr int kByMark[] = {0, kBndrOpenStalled, kBndrOpenPassesEnded, kBndrOpenReopened};
  return e->stalled >= 1 && e->stalled <= 3 ? kByMark[e->stalled] : 0;
}

int FindBndrEdgeEndReason(const BndrStruct* bs, int edge, int side, double gapTol) {
  if (!bs || edge < 0 || edge >= bs->nEdge || side < 0 || side > 1) return -2;
  const EdgeInfoStruct* e = &bs->edges[edge];
  if (!IsPaired(e) || !e->cornerCopies) return 0;
  for (int end = 0; end < 2; ++end) {
    double t0 = 0.0, t1 = 0.0, u0 = 0.0, u1 = 0.0, own[3], other[3];
    const int otherEnd = CurveEndAt(bs, e, 1 - side, end, &u0, &u1);
    const int ownEnd = CurveEndAt(bs, e, side, end, &t0, &t1);
    if (otherEnd == -2 || ownEnd < 0) continue;
    if (otherEnd == -1) {
      // The edge's corners run with side A: its end `end` is A's.
      const double t = e->par[side == 0 ? BndrSlot(0, end) : MatchSlot(e, end)];
      if (EvalPntOnBndryCrv(SideCrv(e, side), t, own) == 0 && VecDist3(own, e->cornerCopies[end].pos) > gapTol)
        return kBndrOpenMovedEnd;
    } else if (EvalPntOnBndryCrv(SideCrv(e, side), ownEnd ? t1 : t0, own) == 0 &&
               EvalPntOnBndryCrv(SideCrv(e, 1 - side), otherEnd ? u1 : u0, other) == 0 && VecDist3(own, other) > gapTol) {
      return kBndrOpenEndsApart;
    }
  }
  return 0;
}

namespace {

// Samples along a side for the distance of a point to it: a polyline close enough to a side of
// the nets the report meets to tell a side running beside another within the largest gap.
constexpr int kBesideSamples = 33;

bool SidePolyline(const CrvInfoStruct* c, double pts[kBesideSamples][3]) {
  double t0 = 0.0, t1 = 0.0;
  if (GetBndrCrvParamMinMax(c, &t0, &t1) != 0 || !(t1 > t0)) return false;
  for (int i = 0; i < kBesideSamples; ++i)
    if (EvalPntOnBndryCrv(c, t0 + (t1 - t0) * i / (kBesideSamples - 1), pts[i]) != 0) return false;
  return true;
}

double DistanceToPolyline(const double p[3], const double pts[kBesideSamples][3]) {
  double best = VecDist3(p, pts[0]);
  for (int i = 0; i + 1 < kBesideSamples; ++i) {
    double d[3], w[3];
    for (int k = 0; k < 3; ++k) d[k] = pts[i + 1][k] - pts[i][k], w[k] = p[k] - pts[i][k];
    const double dd = VecDotProd3(d, d);
    const double s = dd > 0.0 ? std::clamp(VecDotProd3(w, d) / dd, 0.0, 1.0) : 0.0;
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = pts[i][k] + s * d[k];
    best = std::min(best, VecDist3(p, q));
  }
  return best;
}

// Whether the two curves end at the same two corners of the structure (either way round).
bool EndAtSameCorners(const CrvInfoStruct* a, const CrvInfoStruct* b) {
  if (!a->cornerIds || !b->cornerIds || a->nCorner < 2 || b->nCorner < 2) return true;
  const int a0 = a->cornerIds[0], a1 = a->cornerIds[a->nCorner - 1];
  const int b0 = b->cornerIds[0], b1 = b->cornerIds[b->nCorner - 1];
  return (a0 == b0 && a1 == b1) || (a0 == b1 && a1 == b0);
}

bool InNoSeam(const BndrStruct* bs, const CrvInfoStruct* c) {
  if (c->side < 1 || c->side > 4 || !c->srfInfo) return false;
  for (int k = 0; c->edgeIds && k < c->nEdge; ++k) {
    const int id = c->edgeIds[k];
    if (id >= 0 && id < bs->nEdge && bs->edges[id].paired) return false;
  }
  return true;
}

using SideLine = double[kBesideSamples][3];

// The polylines of every side in no seam, made once for all the pairs a search looks at; have[k]
// is 0 for the others. False when out of memory.
bool NoSeamPolylines(const BndrStruct* bs, SideLine* lines, unsigned char* have) {
  for (int k = 0; k < bs->nCrv; ++k) have[k] = InNoSeam(bs, &bs->crvs[k]) && SidePolyline(&bs->crvs[k], lines[k]);
  return !KernelFailed();
}

// Whether two polylines' boxes lie farther than `gap` apart on some axis: then no point of one
// lies within the gap of the other, and the search need not measure them.
bool BoxesApart(const double (*a)[3], const double (*b)[3], double gap) {
  for (int k = 0; k < 3; ++k) {
    double aLo = a[0][k], aHi = a[0][k], bLo = b[0][k], bHi = b[0][k];
    for (int i = 1; i < kBesideSamples; ++i) {
      aLo = std::min(aLo, a[i][k]), aHi = std::max(aHi, a[i][k]);
      bLo = std::min(bLo, b[i][k]), bHi = std::max(bHi, b[i][k]);
    }
    if (bLo - aHi > gap || aLo - bHi > gap) return true;
  }
  return false;
}

int UnpairedReasonAmong(const BndrStruct* bs, int curve, const SideLine* lines, const unsigned char* have,
                        double gap) {
  const CrvInfoStruct* c = &bs->crvs[curve];
  if (!have[curve] || !(gap > 0.0)) return 0;
  const double(*own)[3] = lines[curve];
  const int mid = kBesideSamples / 2, last = kBesideSamples - 1;
  for (int k = 0; k < bs->nCrv; ++k) {
    const CrvInfoStruct* o = &bs->crvs[k];
    if (k == curve || !have[k] || o->srfInfo == c->srfInfo || BoxesApart(lines[curve], lines[k], gap)) continue;
    const double(*other)[3] = lines[k];
    // Beside each other where the middle of either lies within the gap of the other: a side the
    // damage drew out past its neighbour's ends lies along it with its own middle off it.
    if (DistanceToPolyline(other[mid], own) > gap && DistanceToPolyline(own[mid], other) > gap) continue;
    for (const int end : {0, last})
      if (VecDist3(own[end], other[0]) > gap && VecDist3(own[end], other[last]) > gap) return kBndrOpenCornersApart;
    // Ends within the gap of each other's that still did not meet: the corners of more surfaces
    // there spread wider than the gap about any one point, and split into two.
    if (!EndAtSameCorners(c, o)) return kBndrOpenCornersSplit;
  }
  return 0;
}

}  // namespace

int FindBndrCrvUnpairedReason(const BndrStruct* bs, int curve) {
  if (!bs || curve < 0 || curve >= bs->nCrv) return -2;
  if (!InNoSeam(bs, &bs->crvs[curve]) || !(bs->gapTol > 0.0)) return 0;
  TrackingScope scope;
  SideLine* lines = MallocArray<SideLine>(bs->nCrv);
  unsigned char* have = MallocArray<unsigned char>(bs->nCrv);
  if (!lines || !have || !NoSeamPolylines(bs, lines, have)) return -2;
  return UnpairedReasonAmong(bs, curve, lines, have, bs->gapTol);
}

int FindBndrCrvUnpairedReasons(const BndrStruct* bs, double gap, int* reasons) {
  if (!bs || !reasons) return -2;
  if (!(gap > 0.0)) gap = bs->gapTol;
  for (int k = 0; k < bs->nCrv; ++k) reasons[k] = 0;
  if (bs->nCrv < 1 || !(gap > 0.0)) return 0;
  TrackingScope scope;
  SideLine* lines = MallocArray<SideLine>(bs->nCrv);
  unsigned char* have = MallocArray<unsigned char>(bs->nCrv);
  if (!lines || !have || !NoSeamPolylines(bs, lines, have)) return -2;
  for (int k = 0; k < bs->nCrv; ++k) reasons[k] = UnpairedReasonAmong(bs, k, lines, have, gap);
  return 0;
}

int KeepBndrCrvUnpairedReasons(BndrStruct* bs) {
  if (!bs) return -2;
  for (int k = 0; k < bs->nCrv; ++k) bs->crvs[k].unpairedReason = 0;
  if (bs->nCrv < 1) return 0;
  TrackingScope scope;
  int* reasons = MallocArray<int>(bs->nCrv);
  if (!reasons || FindBndrCrvUnpairedReasons(bs, bs->gapTol, reasons) != 0) return -2;
  for (int k = 0; k < bs->nCrv; ++k) bs->crvs[k].unpairedReason = reasons[k];
  return 0;
}

// ===== queries ====================================================================================

int IsBndrEdgeStartAtCorner(const BndrStruct* bs, int edge, int corner) {
  if (!bs || edge < 0 || edge >= bs->nEdge || corner < 0 || corner >= bs->nCorner) return 0;
  return bs->edges[edge].corner0 == corner ? 1 : 0;
}

int IsBndrEdgeEndAtCorner(const BndrStruct* bs, int edge, int corner) {
  if (!bs || edge < 0 || edge >= bs->nEdge || corner < 0 || corner >= bs->nCorner) return 0;
  return bs->edges[edge].corner1 == corner ? 1 : 0;
}

int IsOuterFixedBndrEdge(const EdgeInfoStruct* e) {
  if (!e || e->paired || !e->infoA) return 0;
  return e->infoA->outer && e->infoA->outerCont >= 0 ? 1 : 0;
}

int IsBndrCrvOnlyOuterEdge(const CrvInfoStruct* crv) {
  if (!crv) return 0;
  return crv->outer && crv->edgeIds && crv->nEdge == 1 ? 1 : 0;
}

int IsBndrCrvMeetWithG1Cont(const BndrStruct* bs, int curve) {
  if (!bs || curve < 0 || curve >= bs->nCrv) return 0;
  const CrvInfoStruct* c = &bs->crvs[curve];
  for (int k = 0; c->edgeIds && k < c->nEdge; ++k) {
    const int id = c->edgeIds[k];
    if (id >= 0 && id < bs->nEdge && IsG1Paired(&bs->edges[id])) return 1;
  }
  return 0;
}

int GetBndrEdgeAdjSrfIds(const EdgeInfoStruct* e, int* srfA, int* srfB) {
  if (!e || !srfA || !srfB) return -2;
  *srfA = -1;
  *srfB = -1;
  if (!e->infoA || !e->infoA->srfInfo) return -2;
  *srfA = e->infoA->srfInfo->index;
  if (e->paired) {
    if (!e->infoB || !e->infoB->srfInfo) return -2;
    *srfB = e->infoB->srfInfo->index;
  }
  return 0;
}

namespace srfbndr_internal {

// at = m - a n0 - b n1, with a and b from the 2 x 2 normal equations of n_s . (at - p_s) = 0,
// taken about p0 so that it is as exact far from the origin as at it.
bool NearestOnTwoPlanes(const double (*p)[3], const double (*n)[3], const double m[3], double at[3]) {
  double r[2], d[3];
  for (int s = 0; s < 2; ++s) {
    for (int i = 0; i < 3; ++i) d[i] = m[i] - p[s][i];
    r[s] = VecDotProd3(n[s], d);
  }
  const double g00 = VecDotProd3(n[0], n[0]), g01 = VecDotProd3(n[0], n[1]), g11 = VecDotProd3(n[1], n[1]);
  const double det = g00 * g11 - g01 * g01;
  if (!(det > kTiny)) return false;
  const double a = (g11 * r[0] - g01 * r[1]) / det, b = (g00 * r[1] - g01 * r[0]) / det;
  for (int i = 0; i < 3; ++i) at[i] = p[0][i] + ((m[i] - p[0][i]) - a * n[0][i] - b * n[1][i]);
  return true;
}

bool CreaseCornerMeet(const BndrStruct* bs, const CornerInfoStruct* corner, double meet[3]) {
  constexpr int kFaces = 3;
  constexpr double kCornerMoveBound = 3.0;  // the heal's bound: three times the largest gap closed
  const SrfInfoStruct* srf[kFaces] = {};
  double point[kFaces][3] = {}, normal[kFaces][3] = {}, largestGap = 0.0;
  int nSrf = 0, nEnds = 0;
  for (int k = 0; corner->edgeIds && k < corner->nEdge; ++k) {
    const int id = corner->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return false;
    const EdgeInfoStruct* e = &bs->edges[id];
    if (!IsPaired(e)) continue;
    if (IsG1Paired(e) || !e->startSet || (e->corner0 == corner->index && e->corner1 == corner->index)) return false;
    largestGap = std::max(largestGap, e->startGap);
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner->index) continue;
      for (int side = 0; side < 2; ++side) {
        const CrvInfoStruct* c = SideCrv(e, side);
        const int slot = side ? MatchSlot(e, end) : BndrSlot(0, end);
        // Straight by its degree: a bilinear plane's edge, whose corner alone fixes its normal.
        if (!c->srf || c->side < 1 || ((c->side == 1 || c->side == 3) ? c->srf->degreeV : c->srf->degreeU) != 1)
          return false;
        if (c->fixed || (c->outer && c->outerCont >= 0) || BndrCrvEndAt(bs, c, e->par[slot]) < 0) return false;
        double p[3], n[3];
        if (EvalPntOnBndryCrv(c, e->par[slot], p) != 0 || UnitOrZero(e->nrm[slot], n) < kTiny) return false;
        int s = 0;
        while (s < nSrf && srf[s] != c->srfInfo) ++s;
        if (s == nSrf) {
          if (nSrf == kFaces) return false;
          srf[nSrf++] = c->srfInfo;
          Copy3(p, point[s]);
          Copy3(n, normal[s]);
        }
        ++nEnds;
      }
    }
  }
  // Two faces in one crease, their other sides there free: the point of the line where their
  // tangent planes meet nearest the corners' mean. Each face keeps its normal at the corner as it
  // came, short sides and all: the crease's angle there stays the one the heal judges it by, where
  // closed at the mean a narrow strip's corner would turn the strip by degrees. Planes meeting at
  // a small angle meet far off: no corner goes farther than the two lie apart (the mean moves each
  // half that).
  if (nSrf == 2 && nEnds == 2) {
    double at[3];
    if (!NearestOnTwoPlanes(point, normal, meet, at)) return false;
    const double apart = VecDist3(point[0], point[1]);
    for (int s = 0; s < 2; ++s)
      if (!(VecDist3(at, point[s]) <= apart)) return false;
    Copy3(at, meet);
    return true;
  }
  // Three faces, each in a crease with another there: whether a face's other side at the corner is
  // in a seam too or free, its corner moved within its tangent plane keeps its normal there. So
  // does a narrow face's, whose plane the damage may have turned by degrees: the creases are kept
  // as they came, and a corner at the mean would turn such a face by as many degrees again.
  if (nSrf != kFaces) return false;
  // n_s . X = n_s . P_s for the three planes, by Cramer's rule about the first corner (so that
  // the solve is as exact far from the origin as at it).
  double rhs[kFaces], c12[3], c20[3], c01[3];
  for (int s = 0; s < kFaces; ++s) {
    double d[3];
    VecDiff3(point[s], point[0], d);
    rhs[s] = VecDotProd3(normal[s], d);
  }
  cross_product(normal[1], normal[2], c12);
  cross_product(normal[2], normal[0], c20);
  cross_product(normal[0], normal[1], c01);
  const double det = VecDotProd3(normal[0], c12);
  if (!(std::fabs(det) > kTiny)) return false;
  double at[3];
  for (int i = 0; i < 3; ++i) at[i] = point[0][i] + (rhs[0] * c12[i] + rhs[1] * c20[i] + rhs[2] * c01[i]) / det;
  // No corner goes farther than the heal lets its surface move for the seams there as they came.
  for (int s = 0; s < kFaces; ++s)
    if (!(VecDist3(at, point[s]) <= kCornerMoveBound * largestGap)) return false;
  Copy3(at, meet);
  return true;
}

}  // namespace srfbndr_internal

int BndrSrfIndexAtCorner(const BndrStruct* bs, int corner, int** ids, int* n) {
  if (!bs || !ids || !n || corner < 0 || corner >= bs->nCorner) return -2;
  *ids = nullptr;
  *n = 0;
  const CornerInfoStruct* c = &bs->corners[corner];
  if (c->nEdge < 2) return 0;
  OneLink* list = nullptr;
  int count = 0;
  bool ok = true;
  auto add = [&](int s) {
    if (s < 0 || SearchSortedOneLink(list, s)) return;
    OneLink* grown = InsertSortedOneLink(list, s);
    if (KernelFailed()) {
      ok = false;
      return;
    }
    list = grown;
    ++count;
  };
  for (int k = 0; ok && k < c->nEdge; ++k) {
    const int id = c->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    int a = -1, b = -1;
    GetBndrEdgeAdjSrfIds(&bs->edges[id], &a, &b);
    add(a);
    if (ok) add(b);
  }
  if (!ok) {
    FreeOneLink(list);
    return -2;
  }
  int* out = nullptr;
  UntrackedScope own;
  if (!CallocArrayUnlessFailed(out, count)) {
    FreeOneLink(list);
    return -2;
  }
  int i = 0;
  for (const OneLink* l = list; l; l = l->next) out[i++] = l->value;
  FreeOneLink(list);
  *ids = out;
  *n = count;
  return 0;
}

int GetSkinSrfBndrCons(const BndrStruct* bs, int srf, int cons[4]) {
  if (!bs || !cons || srf < 0 || srf >= bs->nSrf) return -2;
  // Slot order of the shrink-wrap's held rows: u-min, v-max, u-max, v-min.
  static const int slotOfSide[5] = {-1, 0, 3, 2, 1};
  for (int k = 0; k < 4; ++k) cons[k] = -1;
  const SrfInfoStruct* s = &bs->srfs[srf];
  for (int k = 0; s->crvIds && k < s->nCrv; ++k) {
    const CrvInfoStruct* c = &bs->crvs[s->crvIds[k]];
    if (c->side >= 1 && c->side <= 4 && c->outer) cons[slotOfSide[c->side]] = c->outerCont;
  }
  return 0;
}

int GetBndrCrvParamMinMax(const CrvInfoStruct* crv, double* tmin, double* tmax) {
  if (!crv || !crv->srf || !tmin || !tmax) return -2;
  switch (crv->side) {
    case 0:
      if (!crv->node || !crv->node->item) return -2;
      *tmin = crv->node->item->umin;
      *tmax = crv->node->item->umax;
      return 0;
    case 1:
    case 3:
      *tmin = crv->srf->vmin;
      *tmax = crv->srf->vmax;
      return 0;
    case 2:
    case 4:
      *tmin = crv->srf->umin;
      *tmax = crv->srf->umax;
      return 0;
    default:
      return -2;
  }
}

Bspline* GetBndrCrvCurve3Form(const CrvInfoStruct* crv) {
  if (!crv || !crv->srf) return nullptr;
  Bspline* s = crv->srf;
  switch (crv->side) {
    case 1: return IsoCurve3(s, s->umin, s->vmin, 1);
    case 2: return IsoCurve3(s, s->umin, s->vmin, 0);
    case 3: return IsoCurve3(s, s->umax, s->vmin, 1);
    case 4: return IsoCurve3(s, s->umin, s->vmax, 0);
    default: return nullptr;
  }
}

int EvalAllBndrCrvCurve3Form(BndrStruct* bs) {
  if (!bs) return -2;
  int result = 0;
  for (int i = 0; i < bs->nCrv; ++i) {
    CrvInfoStruct* c = &bs->crvs[i];
    FreeBspline(c->crv3);
    c->crv3 = GetBndrCrvCurve3Form(c);
    // A natural side left without its form after a failed allocation is a failure, not 0.
    if (c->side >= 1 && c->side <= 4 && !c->crv3 && KernelFailed()) result = -2;
  }
  return result;
}

int IsCrv3Degenerate(const Bspline* crv) { return IsCrv3DegenerateAtSize(crv, 1.0); }

int IsCrv3DegenerateAtSize(const Bspline* crv, double size) {
  if (!crv || crv->kind != 1 || crv->dimension != 3 || !crv->X || !crv->Y || !crv->Z) return 0;
  const int n = NumCtrlU(crv);
  const double limit2 = kDegenerateSpread2 * size * size;
  const double x0 = crv->X[0][0], y0 = crv->Y[0][0], z0 = crv->Z[0][0];
  for (int i = 1; i < n; ++i) {
    const double dx = crv->X[0][i] - x0, dy = crv->Y[0][i] - y0, dz = crv->Z[0][i] - z0;
    if (dx * dx + dy * dy + dz * dz > limit2) return 0;
  }
  return 1;
}

int IsBndrCrvDegenerate(const CrvInfoStruct* crv) {
  if (!crv) return 1;
  if (crv->side == 0) return 0;
  if (!crv->crv3) return 1;
  return IsCrv3DegenerateAtSize(crv->crv3, crv->srf ? ControlPointDiagonal(crv->srf) : 1.0);
}

// ===== evaluation on a boundary curve ==============================================================

int EvalPntOnBndryCrv(const CrvInfoStruct* crv, double t, double point[3]) {
  if (!crv || !crv->srf || !InCrvRange(crv, t)) return -2;
  if (crv->side == 0) {
    Eval3DPointOnBsplOnSurfArray(crv->srf, crv->node->item, t, 0, 0, point);
  } else {
    double u = 0.0, v = 0.0;
    if (BndrCrvUV(crv, t, &u, &v) != 0) return -2;
    Eval3DPointOnSurfArray(crv->srf, u, v, 0, 0, point);
  }
  return KernelFailed() ? -2 : 0;
}

namespace {

// The unit normal of a boundary curve from the surface's normal n there.
int UnitBndrNormal(const CrvInfoStruct* crv, const double n[3], double normal[3]) {
  // The normal is as long as Su x Sv, which goes with the square of the unit of length (1e-6 for
  // a patch a thousandth of a unit wide): only a normal of no length at all has no direction.
  const double len = VecSize3(n);
  if (!(len > 0.0)) {
    Zero3(normal);
    return crv->side == 0 ? -2 : 0;
  }
  for (int k = 0; k < 3; ++k) normal[k] = n[k] / len;
  return 0;
}

}  // namespace

int EvalNormalOnBndryCrv(const CrvInfoStruct* crv, double t, double normal[3]) {
  if (!crv || !crv->srf || !InCrvRange(crv, t)) return -2;
  double u = 0.0, v = 0.0;
  if (BndrCrvUV(crv, t, &u, &v) != 0) return -2;
  // The normals must not depend on the group's size: for a group a millionth of a unit wide
  // those of SurfaceNormalsAt differ by 1e-6 from the same group's at unit size, enough for the
  // tangential heal to move the second rows.
  double n[1][3] = {{0.0, 0.0, 0.0}};
  SurfaceNormalsAtAnySize(crv->srf, &u, &v, n, 1);
  if (KernelFailed()) return -2;
  return UnitBndrNormal(crv, n[0], normal);
}

void EvalNormalsOnBndryCrv(const CrvInfoStruct* crv, const double* ts, int n, double (*normals)[3], int* status) {
  if (!crv || !crv->srf || crv->side == 0) {
    for (int i = 0; i < n; ++i) status[i] = EvalNormalOnBndryCrv(crv, ts[i], normals[i]);
    return;
  }
  // A natural side keeps one parameter fixed: the surface's normals a block of samples at a
  // time take its basis once per block.
  constexpr int kBlock = 64;
  double us[kBlock], vs[kBlock], raw[kBlock][3];
  int at[kBlock];
  for (int i0 = 0; i0 < n; i0 += kBlock) {
    int m = 0;
    for (int i = i0; i < std::min(n, i0 + kBlock); ++i) {
      status[i] = -2;
      if (!InCrvRange(crv, ts[i]) || BndrCrvUV(crv, ts[i], &us[m], &vs[m]) != 0) continue;
      raw[m][0] = raw[m][1] = raw[m][2] = 0.0;
      at[m++] = i;
    }
    SurfaceNormalsAtAnySize(crv->srf, us, vs, raw, m);
    if (KernelFailed()) continue;
    for (int k = 0; k < m; ++k) status[at[k]] = UnitBndrNormal(crv, raw[k], normals[at[k]]);
  }
}

int EvalTangentOnBndryCrv(const CrvInfoStruct* crv, double t, double tangent[3]) {
  return TangentOnSide(crv, TangentScaleOf(crv), t, tangent);
}
