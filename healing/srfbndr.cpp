// Boundary structure of a surface group: records and build, edge sampling and averaged
// targets, corner geometry and continuity measures. See healing/srfbndr.h for the slot and
// side conventions.
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/onelink.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/csmooth.h"

namespace {

// Below this length a normal, tangent or direction is taken as vanished.
constexpr double kTiny = 1e-6;
// Squared spread of control points, against the squared size of their object, within which a
// side is a point (a pole); the absolute limit at unit size.
constexpr double kDegenerateSpread2 = 4e-8;
// Every per-sample array has room for two entries more than the count: a rematch may accept
// the two end samples as interior matches.
constexpr int kRoom = 2;
// Dense samples of side B per closest-point search, and the count for a curve of one edge.
constexpr int kMaxCorSample = 50;
// A sample a rounding away from a tenth (or nine tenths) of its edge still lies inside it.
constexpr double kInsideMargin = 1e-9;
constexpr int kSingleEdgeCorSample = 200;

void Copy3(const double a[3], double out[3]) {
  out[0] = a[0];
  out[1] = a[1];
  out[2] = a[2];
}

void Zero3(double v[3]) { v[0] = v[1] = v[2] = 0.0; }

// Unit vector, or the zero vector when shorter than kTiny; returns the length.
double UnitOrZero(const double v[3], double out[3]) {
  const double len = VecSize3(v);
  if (len < kTiny) {
    Zero3(out);
    return len;
  }
  out[0] = v[0] / len;
  out[1] = v[1] / len;
  out[2] = v[2] / len;
  return len;
}

// Normals of two surfaces meeting at a seam may point to opposite sides: fold at 90 degrees.
double FoldedAngle(const double a[3], const double b[3]) {
  const double ang = FindAngleVectors3(a, b);
  return ang > 90.0 ? std::fabs(180.0 - ang) : ang;
}

// Slot of side B at the end that meets side A's end `end`.
int MatchSlot(const EdgeInfoStruct* e, int end) { return BndrMatchedSlot(e, 1, end); }

const CrvInfoStruct* SideCrv(const EdgeInfoStruct* e, int side) { return side ? e->infoB : e->infoA; }

double* SideSamples(const EdgeInfoStruct* e, int side) { return side ? e->sampleB : e->sampleA; }

bool IsPaired(const EdgeInfoStruct* e) { return e->paired && e->infoB; }

bool IsG1Paired(const EdgeInfoStruct* e) { return IsBndrEdgeHealedSmooth(e) == 1; }

bool IsTrim(const CrvInfoStruct* c) { return c && c->side == 0; }

// Projection of v onto the plane perpendicular to n, unit; false (out untouched) when v, n or
// the projection is shorter than kTiny.
bool ProjectUnit(const double v[3], const double n[3], double out[3]) {
  if (VecSize3(v) < kTiny) return false;
  double un[3];
  if (UnitOrZero(n, un) < kTiny) return false;
  const double s = VecDotProd3(v, un);
  const double r[3] = {v[0] - s * un[0], v[1] - s * un[1], v[2] - s * un[2]};
  if (VecSize3(r) < kTiny) return false;
  UnitOrZero(r, out);
  return true;
}

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

// Range check shared by the three boundary-curve evaluators.
bool InCrvRange(const CrvInfoStruct* crv, double t) {
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return false;
  return t >= lo && t <= hi;
}

// Frees the three old coordinate arrays and puts the new ones (null to clear) in their place.
void ReplaceCoordArrays(double*& ax, double*& ay, double*& az, double* x, double* y, double* z) {
  FreeAndNull(ax);
  FreeAndNull(ay);
  FreeAndNull(az);
  ax = x;
  ay = y;
  az = z;
}

void FreeEdgeAvgArrays(EdgeInfoStruct* e) {
  ReplaceCoordArrays(e->avgX, e->avgY, e->avgZ, nullptr, nullptr, nullptr);
  ReplaceCoordArrays(e->avgNx, e->avgNy, e->avgNz, nullptr, nullptr, nullptr);
}

void FreeEdgeSampleArrays(EdgeInfoStruct* e) {
  FreeAndNull(e->sampleA);
  FreeAndNull(e->sampleB);
  FreeEdgeAvgArrays(e);
  FreeBndrEdgeNubVals(e);
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

// Whether side `side` (0 A, 1 B) of a paired edge ends, at the end that meets A's end `end`, in
// a corner of its surface that lies on a held outer side of that surface; the corner's point
// goes to `corner`. An edge end a hundredth of the side or more from the side's end (a
// T-junction) ends in no corner.
// Which end of its curve side `side` (0 A, 1 B) of a paired edge reaches at the end that meets
// A's end `end`: 0 its start, 1 its end, -1 partway (a hundredth of the curve or more from both
// ends: a T-junction), -2 when the curve cannot tell; its range goes to t0, t1.
int CurveEndAt(const EdgeInfoStruct* e, int side, int end, double* t0, double* t1) {
  const CrvInfoStruct* c = SideCrv(e, side);
  if (!c || GetBndrCrvParamMinMax(c, t0, t1) != 0 || !(*t1 > *t0)) return -2;
  const double t = e->par[side == 0 ? BndrSlot(0, end) : MatchSlot(e, end)];
  const double margin = 0.01 * (*t1 - *t0);
  return t <= *t0 + margin ? 0 : (t >= *t1 - margin ? 1 : -1);
}

bool EndsInHeldCorner(const BndrStruct* bs, const EdgeInfoStruct* e, int side, int end, double corner[3]) {
  const CrvInfoStruct* c = SideCrv(e, side);
  double t0 = 0.0, t1 = 0.0;
  if (!c || c->side < 1 || c->side > 4 || !c->srfInfo || !c->srfInfo->crvIds) return false;
  const int curveEnd = CurveEndAt(e, side, end, &t0, &t1);
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

int FindBndrEdgeOpenReason(const BndrStruct* bs, int edge, int side, double gapTol) {
  if (!bs || edge < 0 || edge >= bs->nEdge || side < 0 || side > 1) return -2;
  const EdgeInfoStruct* e = &bs->edges[edge];
  if (!IsPaired(e)) return 0;
  // First: at such an end the gap lies between two points of the held outer boundary, which no
  // shape of the nets along the seam closes.
  for (int end = 0; end < 2; ++end) {
    double a[3], b[3];
    if (EndsInHeldCorner(bs, e, 0, end, a) && EndsInHeldCorner(bs, e, 1, end, b) && VecDist3(a, b) > gapTol)
      return kBndrOpenHeldEnd;
  }
  if (KernelFailed()) return -2;
  // Then: a surface the heal put back leaves its seams as they came, whatever the nets could do.
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
  const int own = SideTooCoarse(e, side, gapTol);
  if (own == -2) return -2;
  if (own == 1) return kBndrOpenCoarseSide;
  const int other = SideTooCoarse(e, 1 - side, gapTol);
  if (other == -2) return -2;
  return other == 1 ? kBndrOpenCoarseOther : 0;
}

int FindBndrEdgeEndReason(const BndrStruct* bs, int edge, int side, double gapTol) {
  if (!bs || edge < 0 || edge >= bs->nEdge || side < 0 || side > 1) return -2;
  const EdgeInfoStruct* e = &bs->edges[edge];
  if (!IsPaired(e) || !e->cornerCopies) return 0;
  for (int end = 0; end < 2; ++end) {
    double t0 = 0.0, t1 = 0.0, u0 = 0.0, u1 = 0.0, own[3], other[3];
    const int otherEnd = CurveEndAt(e, 1 - side, end, &u0, &u1);
    const int ownEnd = CurveEndAt(e, side, end, &t0, &t1);
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

bool InNoSeam(const BndrStruct* bs, const CrvInfoStruct* c) {
  if (c->side < 1 || c->side > 4 || !c->srfInfo) return false;
  for (int k = 0; c->edgeIds && k < c->nEdge; ++k) {
    const int id = c->edgeIds[k];
    if (id >= 0 && id < bs->nEdge && bs->edges[id].paired) return false;
  }
  return true;
}

}  // namespace

int FindBndrCrvUnpairedReason(const BndrStruct* bs, int curve) {
  if (!bs || curve < 0 || curve >= bs->nCrv) return -2;
  const CrvInfoStruct* c = &bs->crvs[curve];
  const double gap = bs->gapTol;
  if (!InNoSeam(bs, c) || !(gap > 0.0)) return 0;
  double own[kBesideSamples][3], other[kBesideSamples][3];
  if (!SidePolyline(c, own)) return 0;
  const int mid = kBesideSamples / 2, last = kBesideSamples - 1;
  for (int k = 0; k < bs->nCrv; ++k) {
    const CrvInfoStruct* o = &bs->crvs[k];
    double t0 = 0.0, t1 = 0.0, middle[3];
    if (k == curve || o->srfInfo == c->srfInfo || !InNoSeam(bs, o)) continue;
    // The other side's middle alone first: most sides lie nowhere near.
    if (GetBndrCrvParamMinMax(o, &t0, &t1) != 0 || EvalPntOnBndryCrv(o, 0.5 * (t0 + t1), middle) != 0 ||
        DistanceToPolyline(middle, own) > gap || !SidePolyline(o, other) || DistanceToPolyline(own[mid], other) > gap)
      continue;
    for (const int end : {0, last})
      if (VecDist3(own[end], other[0]) > gap && VecDist3(own[end], other[last]) > gap) return kBndrOpenCornersApart;
  }
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

namespace {

// What the tangents along one side need of its curve and surface besides the parameter: whether
// a natural side is collapsed to a point, and the speed a curve of its size runs at over its
// parameter range. Both read every control point, so a walk along a side whose control points
// stay as they are takes them once (the same answers as taking them at every sample).
struct SideTangentScale {
  bool degenerate = false;
  double speed = 1.0;
};

SideTangentScale TangentScaleOf(const CrvInfoStruct* crv) {
  SideTangentScale s;
  if (!crv || !crv->srf) return s;
  s.degenerate = IsBndrCrvDegenerate(crv) != 0;
  const Bspline* shape = crv->side == 0 ? crv->srf : crv->crv3;
  if (s.degenerate || !shape) return s;
  double lo = 0.0, hi = 0.0;
  GetBndrCrvParamMinMax(crv, &lo, &hi);
  if (hi > lo) s.speed = ControlPointDiagonal(shape) / (hi - lo);
  return s;
}

// The unit direction of a curve's derivative d, or false (and the zero vector) where it
// vanishes: shorter than kTiny of the curve's size over its parameter range (the speed), so
// that a group of any size and any knot values has tangents alike.
bool UnitDerivative(double speed, const double d[3], double out[3]) {
  const double len = VecSize3(d);
  if (!(len > kTiny * speed)) {
    Zero3(out);
    return false;
  }
  for (int k = 0; k < 3; ++k) out[k] = d[k] / len;
  return true;
}

// EvalTangentOnBndryCrv with the side's scale already taken.
int TangentOnSide(const CrvInfoStruct* crv, const SideTangentScale& scale, double t, double tangent[3]) {
  if (!crv || !crv->srf || !InCrvRange(crv, t)) return -2;
  double d[3] = {0.0, 0.0, 0.0};
  if (crv->side == 0) {
    Eval3DPointOnBsplOnSurfArray(crv->srf, crv->node->item, t, 1, 0, d);
    if (KernelFailed()) return -2;
    return UnitDerivative(scale.speed, d, tangent) ? 0 : -2;
  }
  if (scale.degenerate) {
    Zero3(tangent);
    return 0;
  }
  Eval3DPointOnCurve3Array(crv->crv3, t, 1, d);
  if (KernelFailed()) return -2;
  UnitDerivative(scale.speed, d, tangent);
  return 0;
}

}  // namespace

int EvalTangentOnBndryCrv(const CrvInfoStruct* crv, double t, double tangent[3]) {
  return TangentOnSide(crv, TangentScaleOf(crv), t, tangent);
}

// ===== edge samples ================================================================================

int GetBndrCrvUniformSamplesInIntervals(const CrvInfoStruct* crv, double t0, double t1, int n,
                                        double** params, int* count) {
  if (!params || !count) return -2;
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return -2;
  if (n < 3) n = 2;
  t0 = std::clamp(t0, lo, hi);
  t1 = std::clamp(t1, lo, hi);
  if (t1 < t0) std::swap(t0, t1);
  double* p = nullptr;
  UntrackedScope own;
  if (!CallocArrayUnlessFailed(p, n + kRoom)) return -2;
  const double step = (t1 - t0) / (n - 1);
  p[0] = t0;
  for (int i = 1; i < n - 1; ++i) p[i] = t0 + i * step;
  p[n - 1] = t1;
  *params = p;
  *count = n;
  return 0;
}

int EvalSamplePntsOnBndryCrvInterval(const CrvInfoStruct* crv, double t0, double t1, int n,
                                     double** params, double** points, int* count) {
  if (!params || !points || !count) return -2;
  double lo = 0.0, hi = 0.0;
  if (GetBndrCrvParamMinMax(crv, &lo, &hi) != 0) return -2;
  if (n < 2) n = 2;
  t0 = std::clamp(t0, lo, hi);
  t1 = std::clamp(t1, lo, hi);
  const double step = std::fabs(t1 - t0) / (n - 1);
  TrackingScope scope;
  double* p = nullptr;
  double* q = nullptr;
  if (!CallocArrayUnlessFailed(p, n + kRoom) || !CallocArrayUnlessFailed(q, 3 * (n + kRoom))) return -2;
  int m = 0;
  p[m++] = t0;
  if (t1 > t0)
    for (int k = 1; m < n + kRoom - 1 && t0 + k * step < t1; ++k) p[m++] = t0 + k * step;
  p[m++] = t1;
  for (int i = 0; i < m; ++i)
    if (EvalPntOnBndryCrv(crv, p[i], q + 3 * i) != 0) return -2;
  scope.keep();
  *params = p;
  *points = q;
  *count = m;
  return 0;
}

namespace {

// FindBndrCrvClosestPntSearch; *size3 is the control-point diagonal of a natural side's 3D
// form, taken at the first search that needs it (negative until then) and kept for the next
// searches on the same form: reading every control point cost as much as the search itself.
int ClosestPntOnSide(CrvInfoStruct* crv, double* size3, const double P[3], int n, const double* params,
                     const double* points, double lo, double hi, double point[3], double* t) {
  if (!crv || !point || !t) return -2;
  double start = 0.5 * (lo + hi);
  double best = 1.797693e308;
  for (int i = 0; params && points && i < n; ++i) {
    if (params[i] < lo || params[i] > hi) continue;
    const double* q = points + 3 * i;
    const double dx = q[0] - P[0], dy = q[1] - P[1], dz = q[2] - P[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (d2 < best) {
      best = d2;
      start = params[i];
    }
  }
  double tt = start, C[3], distSq = 0.0, stepSq = 0.0;
  if (crv->side == 0) {
    if (!crv->node || !crv->node->item) return -2;
    if (FindClosestPointCurveOnSurf(crv->node->item, P, C, lo, hi, &tt, &distSq, &stepSq, 6) != 0)
      return -2;
  } else {
    // The form is kept on the curve: the next search (and the sample tables) use it too.
    if (!crv->crv3) crv->crv3 = GetBndrCrvCurve3Form(crv);
    if (!crv->crv3) return -2;
    if (*size3 < 0.0) *size3 = ControlPointDiagonal(crv->crv3);
    // A refinement that did not converge may have wandered: the dense sample stands.
    if (FindClosestPointCurve3OfSize(crv->crv3, *size3, P, C, lo, hi, &tt, &distSq, &stepSq, 6) != 0) tt = start;
  }
  tt = std::clamp(tt, lo, hi);
  *t = tt;
  return EvalPntOnBndryCrv(crv, tt, point);
}

}  // namespace

int FindBndrCrvClosestPntSearch(CrvInfoStruct* crv, double x, double y, double z, int n,
                                const double* params, const double* points, double lo, double hi,
                                double point[3], double* t) {
  const double P[3] = {x, y, z};
  double size3 = -1.0;
  return ClosestPntOnSide(crv, &size3, P, n, params, points, lo, hi, point, t);
}

int ComputeBndrEdgeCorParVals(EdgeInfoStruct* e) {
  if (!e || e->nSample < 1 || !e->sampleA) return -2;
  if (!IsPaired(e)) return 0;
  CrvInfoStruct* B = e->infoB;
  double bmin = 0.0, bmax = 0.0;
  if (GetBndrCrvParamMinMax(B, &bmin, &bmax) != 0) return -2;
  const double eps = 1e-6 * std::fabs(bmax - bmin);
  const double lo = std::min(e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)]);
  const double hi = std::max(e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)]);
  const int dense = B->nEdge < 2 ? kSingleEdgeCorSample : kMaxCorSample;

  TrackingScope scope;
  double* dp = nullptr;
  double* dq = nullptr;
  int nd = 0;
  if (EvalSamplePntsOnBndryCrvInterval(B, lo, hi, dense, &dp, &dq, &nd) != 0) return -2;
  const int room = e->nSample + kRoom;
  double* newA = nullptr;
  double* newB = nullptr;
  if (!CallocArrayUnlessFailed(newA, room) || !CallocArrayUnlessFailed(newB, room)) {
    Free(dp);
    Free(dq);
    return -2;
  }
  const bool same = e->orient != 0;
  int m = 0;
  newA[m] = e->par[BndrSlot(0, 0)];
  newB[m++] = same ? lo : hi;
  double prev = newB[0];
  // Side-B matches stay monotone along the edge; a match that would fold back or sit on an
  // end of the remaining interval is dropped.
  const double a0 = std::min(e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)]);
  const double a1 = std::max(e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)]);
  double sizeB = -1.0;  // side B's form does not change along the matches
  for (int i = 0; i < e->nSample && m < room - 1; ++i) {
    // Side A's end parameters are the first and last entries already: matching them again
    // (when the two pieces' ends differ) would repeat a side-A parameter.
    if (!(e->sampleA[i] > a0 && e->sampleA[i] < a1)) continue;
    double PA[3], PB[3], t = 0.0;
    if (EvalPntOnBndryCrv(e->infoA, e->sampleA[i], PA) != 0) continue;
    const double a = same ? prev : lo;
    const double b = same ? hi : prev;
    if (ClosestPntOnSide(B, &sizeB, PA, nd, dp, dq, a, b, PB, &t) != 0) continue;
    t = std::clamp(t, a, b);
    if (t - a < eps || b - t < eps) continue;
    newA[m] = e->sampleA[i];
    newB[m++] = t;
    prev = t;
  }
  newA[m] = e->par[BndrSlot(0, 1)];
  newB[m++] = same ? hi : lo;
  Free(dp);
  Free(dq);
  // A failed evaluation above may have been a failed allocation: then nothing is replaced.
  if (KernelFailed()) return -2;
  scope.keep();
  // Averaged arrays sized for fewer samples would be read past their end.
  if (m > e->nSample) FreeEdgeAvgArrays(e);
  FreeAndNull(e->sampleA);
  FreeAndNull(e->sampleB);
  e->sampleA = newA;
  e->sampleB = newB;
  e->nSample = m;
  return 0;
}

int ComputeBndrEdgeParamSamples(EdgeInfoStruct* e, int uniform, int n) {
  (void)uniform;  // the sampler always works in uniform mode
  if (!e || !e->infoA) return -2;
  // A curve that is one edge gets at least as many samples as its control net can bend.
  auto countFor = [n](const CrvInfoStruct* c, int extra) {
    if (c->nEdge == 1 && c->crv3) return std::max(n, NumCtrlU(c->crv3) * c->crv3->degreeU + extra);
    return n;
  };
  auto install = [e](double* a, double* b, int count) {
    FreeEdgeSampleArrays(e);  // averaged arrays and tables of the old samples are stale
    e->sampleA = a;
    e->sampleB = b;
    e->nSample = count;
  };
  // The sample lists below are owned blocks (outside any scope): every path frees or installs them.
  double* pa = nullptr;
  int na = 0;
  if (GetBndrCrvUniformSamplesInIntervals(e->infoA, e->par[BndrSlot(0, 0)], e->par[BndrSlot(0, 1)],
                                          countFor(e->infoA, 1), &pa, &na) != 0)
    return -2;
  if (!IsPaired(e)) {
    install(pa, nullptr, na);
    return 0;
  }
  double* pb = nullptr;
  int nb = 0;
  if (GetBndrCrvUniformSamplesInIntervals(e->infoB, e->par[BndrSlot(1, 0)], e->par[BndrSlot(1, 1)],
                                          countFor(e->infoB, 4), &pb, &nb) != 0) {
    Free(pa);
    return -2;
  }
  if (nb > na) {
    // Side B drives: side A is matched to B's samples on a copy with the sides exchanged.
    Free(pa);
    FreeEdgeSampleArrays(e);
    e->nSample = 0;
    EdgeInfoStruct swapped = *e;
    swapped.infoA = e->infoB;
    swapped.infoB = e->infoA;
    swapped.crvA = e->crvB;
    swapped.crvB = e->crvA;
    for (int end = 0; end < 2; ++end) {
      swapped.par[BndrSlot(0, end)] = e->par[BndrSlot(1, end)];
      swapped.par[BndrSlot(1, end)] = e->par[BndrSlot(0, end)];
    }
    swapped.sampleA = pb;
    swapped.sampleB = nullptr;
    swapped.nSample = nb;
    if (ComputeBndrEdgeCorParVals(&swapped) != 0) {
      Free(swapped.sampleA);
      return -2;
    }
    double* a = swapped.sampleB;
    double* b = swapped.sampleA;
    const int m = swapped.nSample;
    if (!e->orient) {
      // Side A's list must ascend; side B's then descends.
      std::reverse(a, a + m);
      std::reverse(b, b + m);
    }
    install(a, b, m);
    return 0;
  }
  Free(pb);
  install(pa, nullptr, na);
  if (ComputeBndrEdgeCorParVals(e) != 0) {
    FreeAndNull(e->sampleA);
    e->nSample = 0;
    return -2;
  }
  return 0;
}

int ComputeBndrEdgeParamSamplesAndNubVals(EdgeInfoStruct* e, int uniform, int n) {
  if (!e) return -2;
  if (ComputeBndrEdgeParamSamples(e, uniform, std::max(n, 2)) != 0) return -2;
  if (e->nSample < 1 || !e->infoA) return -2;
  return ComputeBndrEdgeNubVals(e);
}

namespace {

// SampleNewBndryStruct, of the unpaired edges alone when `unpairedOnly`.
int SampleBndryStructEdges(BndrStruct* bs, int n, bool unpairedOnly) {
  if (!bs) return -2;
  const int paired = n < 3 ? 2 : n;
  int single = std::max(n, 2) / 4;
  if (single < 51) single = 50;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (unpairedOnly && e->paired) continue;
    if (ComputeBndrEdgeParamSamplesAndNubVals(e, 1, e->paired ? paired : single) != 0) return -2;
  }
  return 0;
}

}  // namespace

int SampleNewBndryStruct(BndrStruct* bs, int n) { return SampleBndryStructEdges(bs, n, false); }

int SampleNewBndryStructUnpaired(BndrStruct* bs, int n) { return SampleBndryStructEdges(bs, n, true); }

int ReSampleBndrEdgeParams(EdgeInfoStruct* e) {
  if (!e || e->nSample < 1 || !e->sampleA) return -2;
  if (!IsPaired(e)) return 0;
  FreeAndNull(e->sampleB);
  if (ComputeBndrEdgeCorParVals(e) != 0) return -2;
  return ComputeBndrEdgeNubVals(e);
}

int ReSampleNewBndryStruct(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nEdge; ++i)
    if (ReSampleBndrEdgeParams(&bs->edges[i]) != 0) return -2;
  return 0;
}

// ===== basis-value tables ==========================================================================

int FreeBndrEdgeNubVals(EdgeInfoStruct* e) {
  if (!e) return -2;
  for (int s = 0; s < 2; ++s) {
    FreeAndNull(e->nubTabU[s]);
    FreeAndNull(e->nubTabV[s]);
    FreeAndNull(e->nubSpan[s]);
    FreeAndNull(e->nubSpare[s]);
  }
  return e->nSample < 1 || !e->infoA ? -2 : 0;
}

int ComputeBndrEdgeNubVals(EdgeInfoStruct* e) {
  if (!e) return -2;
  FreeBndrEdgeNubVals(e);
  static const int order0[1] = {0};
  for (int side = 0; side < 2; ++side) {
    const CrvInfoStruct* c = SideCrv(e, side);
    const double* ts = SideSamples(e, side);
    if (side == 1 && !IsPaired(e)) break;
    if (!c || c->side == 0 || !c->crv3 || !ts || e->nSample < 1) continue;
    int* vSpans = nullptr;
    if (EvalNubValsOnGridM(c->crv3, ts, nullptr, e->nSample, 1, order0, order0, 1, &e->nubTabU[side],
                           &e->nubTabV[side], &e->nubSpan[side], &vSpans) != 0 ||
        KernelFailed()) {
      FreeBndrEdgeNubVals(e);
      return -2;
    }
    FreeAndNull(vSpans);
  }
  return 0;
}

int SetAllEdgesNubVals(BndrStruct* bs) {
  if (!bs || bs->nEdge <= 0) return -2;
  int result = 0;
  for (int i = 0; i < bs->nEdge; ++i)
    if (ComputeBndrEdgeNubVals(&bs->edges[i]) != 0) result = -2;
  return result;
}

namespace {

// Point of one side at its i-th sample: from the basis tables of a natural side where they
// exist, otherwise evaluated on the curve.
int SideSamplePoint(const EdgeInfoStruct* e, int side, int i, double out[3]) {
  const CrvInfoStruct* c = SideCrv(e, side);
  const double* ts = SideSamples(e, side);
  if (!c || !ts) return -2;
  if (c->side != 0 && c->crv3 && e->nubTabU[side] && e->nubSpan[side]) {
    static const int order0[1] = {0};
    const int row = 3 * (c->crv3->degreeU + 1);
    double pt[1][3];
    EvalPointOnGeometryGivenNubValsM(c->crv3, order0, order0, 1, e->nubTabU[side] + i * row, nullptr,
                                     e->nubSpan[side][i], 0, 0, pt);
    Copy3(pt[0], out);
    return 0;
  }
  return EvalPntOnBndryCrv(c, ts[i], out);
}

// Three new coordinate arrays with room for the sample count.
bool AllocCoordArrays(int n, double*& x, double*& y, double*& z) {
  return CallocArrayUnlessFailed(x, n + kRoom) && CallocArrayUnlessFailed(y, n + kRoom) &&
         CallocArrayUnlessFailed(z, n + kRoom);
}

}  // namespace

int ComputeBndrEdgeAvgSamplePntsWithNubVals(EdgeInfoStruct* e) {
  if (!e || e->nSample < 1 || !e->sampleA || !e->infoA) return -2;
  const int n = e->nSample;
  TrackingScope scope;
  double *x = nullptr, *y = nullptr, *z = nullptr;
  if (!AllocCoordArrays(n, x, y, z)) return -2;
  const CrvInfoStruct* A = e->infoA;
  const CrvInfoStruct* B = e->infoB;
  const bool aKeeps = !IsPaired(e) || !e->sampleB || A->side == 0 || A->fixed || A->outer;
  for (int i = 1; i < n - 1; ++i) {
    double p[3];
    if (SideSamplePoint(e, 0, i, p) != 0) return -2;
    if (!aKeeps) {
      double q[3];
      if (SideSamplePoint(e, 1, i, q) != 0) return -2;
      if (B->outer || B->side == 0 || B->fixed) {
        Copy3(q, p);
      } else {
        for (int k = 0; k < 3; ++k) p[k] = 0.5 * (p[k] + q[k]);
      }
    }
    x[i] = p[0];
    y[i] = p[1];
    z[i] = p[2];
  }
  // The ends are the stored end points, which the corner steps keep common to every edge there.
  x[0] = e->pnt[0][0];
  y[0] = e->pnt[0][1];
  z[0] = e->pnt[0][2];
  x[n - 1] = e->pnt[2][0];
  y[n - 1] = e->pnt[2][1];
  z[n - 1] = e->pnt[2][2];
  scope.keep();
  ReplaceCoordArrays(e->avgX, e->avgY, e->avgZ, x, y, z);
  return 0;
}

int ComputeBndrEdgeAvgSamplePnts(EdgeInfoStruct* e) { return ComputeBndrEdgeAvgSamplePntsWithNubVals(e); }

int ComputeAllBndrEdgesAvgSamplePnts(BndrStruct* bs) {
  if (!bs) return -2;
  int result = 0;
  for (int i = 0; i < bs->nEdge; ++i)
    if (ComputeBndrEdgeAvgSamplePnts(&bs->edges[i]) != 0) result = -2;
  return result;
}

namespace {

// A side's own normal at an edge sample, side 0 (A) or 1 (B): the sample's parameter on that side.
int SampleNormal(const EdgeInfoStruct* e, int side, int i, double out[3]) {
  return side == 0 ? EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], out)
                   : EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], out);
}

// Each side's normal at each sample of one edge, the whole side at its first reading (its
// fixed parameter's basis taken once): the averaged normals and the largest angle read the same
// ones. Lives in the caller's scope; valid while neither the geometry nor the samples change.
class SampleNormalMemo {
 public:
  explicit SampleNormalMemo(const EdgeInfoStruct* e) : e_(e) {
    const int n = e->nSample;
    if (n < 1) return;  // nothing to read
    normals_ = MallocArray<double>(6, n);
    status_ = MallocArray<int>(2, n);
  }
  bool ok() const { return e_->nSample < 1 || (normals_ && status_); }
  // SampleNormal's status and normal (written only on success, as there).
  int operator()(int side, int i, double out[3]) {
    const int n = e_->nSample;
    if (!SideSamples(e_, side)) return -2;
    if (!read_[side])
      EvalNormalsOnBndryCrv(SideCrv(e_, side), SideSamples(e_, side), n,
                            reinterpret_cast<double(*)[3]>(normals_ + 3 * side * n), status_ + side * n);
    read_[side] = true;
    const int slot = side * n + i;
    if (status_[slot] != 0) return -2;
    Copy3(normals_ + 3 * slot, out);
    return 0;
  }

 private:
  const EdgeInfoStruct* e_;
  double* normals_ = nullptr;
  int* status_ = nullptr;
  bool read_[2] = {false, false};
};

// NewEvalBndrEdgeAvgSampleNormals with the samples' normals from normalAt(side, i, out).
template <class NormalAt>
int AvgSampleNormals(EdgeInfoStruct* e, NormalAt&& normalAt) {
  if (!e || e->nSample < 2 || !e->sampleA || !e->infoA) return -2;
  const int n = e->nSample;
  const bool g1 = IsG1Paired(e);
  TrackingScope scope;
  double *x = nullptr, *y = nullptr, *z = nullptr;
  if (!AllocCoordArrays(n, x, y, z)) return -2;
  auto put = [&](int i, const double v[3]) {
    x[i] = v[0];
    y[i] = v[1];
    z[i] = v[2];
  };
  // Ends: the stored end normals, averaged with side B's at the matching end on G1 joints.
  for (int end = 0; end < 2; ++end) {
    double sum[3];
    UnitOrZero(e->nrm[BndrSlot(0, end)], sum);
    const bool withB = g1 && (end == 0 || !IsOuterFixedBndrEdge(e));
    if (withB) {
      double ref[3];
      Copy3(sum, ref);
      int count = 1;
      AddOneNormalizedVecToSumVec(ref, e->nrm[MatchSlot(e, end)], sum, &count);
      for (double& c : sum) c *= 0.5;
    }
    double unit[3];
    if (UnitOrZero(sum, unit) < kTiny) {
      if (end == 0) return -2;
      Copy3(sum, unit);  // the last entry is normalised only when it can be
    }
    put(end == 0 ? 0 : n - 1, unit);
  }
  const bool aOnly = !g1 || IsOuterFixedBndrEdge(e) || e->infoA->fixed;
  for (int i = 1; i < n - 1; ++i) {
    double na[3], v[3];
    if (normalAt(0, i, na) != 0) return -2;
    UnitOrZero(na, na);
    if (aOnly || !e->sampleB) {
      put(i, na);
      continue;
    }
    double nb[3];
    if (normalAt(1, i, nb) != 0) return -2;
    if (e->infoB->fixed) {
      put(i, nb);
      continue;
    }
    const double sgn = VecDotProd3(na, nb) < 0.0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k) v[k] = 0.5 * (na[k] + sgn * nb[k]);
    UnitOrZero(v, v);
    put(i, v);
  }
  scope.keep();
  ReplaceCoordArrays(e->avgNx, e->avgNy, e->avgNz, x, y, z);
  return 0;
}

// BndrEdgeMaxNormalDiff with the samples' normals from normalAt(side, i, out).
template <class NormalAt>
int MaxSampleNormalDiff(EdgeInfoStruct* e, double* angle, NormalAt&& normalAt) {
  if (!IsPaired(e) || e->nSample < 1) {
    e->maxAngle = 0.0;
    if (angle) *angle = 0.0;
    return 0;
  }
  double n[4][3];
  for (int s = 0; s < 4; ++s) {
    double raw[3];
    if (EvalNormalOnBndryCrv(SideCrv(e, s & 1), e->par[s], raw) != 0) return -2;
    if (UnitOrZero(raw, n[s]) < kTiny) return -2;
  }
  double best = 0.0;
  for (int end = 0; end < 2; ++end)
    best = std::max(best, FoldedAngle(n[BndrSlot(0, end)], n[MatchSlot(e, end)]));
  for (int i = 0; e->sampleA && e->sampleB && i < e->nSample; ++i) {
    double a[3], b[3];
    if (normalAt(0, i, a) != 0 || VecSize3(a) < kTiny) continue;
    if (normalAt(1, i, b) != 0 || VecSize3(b) < kTiny) continue;
    best = std::max(best, FoldedAngle(a, b));
  }
  e->maxAngle = best;
  if (angle) *angle = best;
  return 0;
}

}  // namespace

int NewEvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e) {
  if (!e || e->nSample < 2 || !e->sampleA || !e->infoA) return -2;
  return AvgSampleNormals(e, [e](int side, int i, double out[3]) { return SampleNormal(e, side, i, out); });
}

int EvalBndrEdgeAvgSampleNormalsAndMaxDiff(EdgeInfoStruct* e, int* avgStatus, double* angle) {
  if (!e || !avgStatus) return -2;
  *avgStatus = -2;
  // Nothing to share: the two as they stand.
  if (e->nSample < 2 || !e->sampleA || !e->infoA) return BndrEdgeMaxNormalDiff(e, 0.0, angle);
  TrackingScope scope;  // the memo is scratch
  SampleNormalMemo memo(e);
  if (!memo.ok() || KernelFailed()) return -2;
  *avgStatus = AvgSampleNormals(e, memo);
  return MaxSampleNormalDiff(e, angle, memo);
}

int EvalBndrEdgeAvgSampleNormals(EdgeInfoStruct* e) { return NewEvalBndrEdgeAvgSampleNormals(e); }

int EvalAllBndrEdgeAvgSampleNormals(BndrStruct* bs) {
  if (!bs || !bs->edges) return -2;
  for (int i = 0; i < bs->nEdge; ++i)
    if (bs->edges[i].nSample > 0) EvalBndrEdgeAvgSampleNormals(&bs->edges[i]);
  return 0;
}

// ===== continuity classification and measures =======================================================

int IsBndrEdgeG0Continuity(const EdgeInfoStruct* e, double gapTol) {
  if (!e || !IsPaired(e) || e->nSample < 1 || !e->sampleA || !e->sampleB) return 0;
  double p[4][3];
  for (int s = 0; s < 4; ++s)
    if (EvalPntOnBndryCrv(SideCrv(e, s & 1), e->par[s], p[s]) != 0) return 0;
  for (int end = 0; end < 2; ++end)
    if (VecDist3(p[BndrSlot(0, end)], p[MatchSlot(e, end)]) > gapTol) return 0;
  for (int i = 0; i < e->nSample; ++i) {
    double a[3], b[3];
    if (EvalPntOnBndryCrv(e->infoA, e->sampleA[i], a) != 0) return 0;
    if (EvalPntOnBndryCrv(e->infoB, e->sampleB[i], b) != 0) return 0;
    if (VecDist3(a, b) > gapTol) return 0;
  }
  return 1;
}

int IsBndrEdgeG1Continuity(const EdgeInfoStruct* e, double gapTol, double angleTol) {
  if (!e || !IsPaired(e) || e->nSample < 1) return 0;
  if (!IsBndrEdgeG0Continuity(e, gapTol)) return 0;
  double n[4][3];
  for (int s = 0; s < 4; ++s) {
    if (EvalNormalOnBndryCrv(SideCrv(e, s & 1), e->par[s], n[s]) != 0) return 0;
    if (VecSize3(n[s]) < kTiny) return 0;
  }
  for (int end = 0; end < 2; ++end)
    if (FoldedAngle(n[BndrSlot(0, end)], n[MatchSlot(e, end)]) > angleTol) return 0;
  for (int i = 0; i < e->nSample; ++i) {
    double a[3], b[3];
    if (EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], a) != 0) return 0;
    if (EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], b) != 0) return 0;
    // A vanished natural-side normal (zero vector) measures 0 degrees: it agrees.
    if (FoldedAngle(a, b) > angleTol) return 0;
  }
  return 1;
}

int IsBndrEdgeHealedSmooth(const EdgeInfoStruct* e) {
  return e && IsPaired(e) && (e->continuity >= 1 || (e->continuity == 0 && e->smoothInside)) ? 1 : 0;
}

int SetBndrEdgeContinuity(EdgeInfoStruct* e, double gapTol, double angleTol) {
  if (!e) return -2;
  if (!IsPaired(e)) return 0;
  e->continuity = 0;
  e->smoothInside = 0;
  if (!IsBndrEdgeG0Continuity(e, gapTol)) return 0;
  e->continuity = IsBndrEdgeG1Continuity(e, gapTol, angleTol) ? 1 : 0;
  // Beyond the angle limit only next to a corner: on rough grids a jittered corner's copies
  // set the seam's normals apart there alone. Healed as the crease it is classified, its sides
  // would turn degrees steeper inside.
  double inside = 0.0;
  if (e->continuity == 0 && BndrEdgeInsideNormalDiff(e, &inside) == 0) e->smoothInside = inside <= angleTol;
  return 0;
}

namespace {

// Largest gap of a paired edge; samples through `point(side, i, out)`.
template <class SamplePoint>
int MaxEdgeGap(EdgeInfoStruct* e, double* gap, double* tA, double* tB, SamplePoint point) {
  double p[4][3];
  for (int s = 0; s < 4; ++s)
    if (EvalPntOnBndryCrv(SideCrv(e, s & 1), e->par[s], p[s]) != 0) return -2;
  double best = VecDist3(p[0], p[MatchSlot(e, 0)]);
  double ba = e->par[0], bb = e->par[MatchSlot(e, 0)];
  const double atEnd = VecDist3(p[2], p[MatchSlot(e, 1)]);
  if (atEnd > best) {
    best = atEnd;
    ba = e->par[2];
    bb = e->par[MatchSlot(e, 1)];
  }
  for (int i = 0; e->sampleA && e->sampleB && i < e->nSample; ++i) {
    double a[3], b[3];
    if (point(0, i, a) != 0 || point(1, i, b) != 0) return -2;
    const double d = VecDist3(a, b);
    if (d > best) {
      best = d;
      ba = e->sampleA[i];
      bb = e->sampleB[i];
    }
  }
  e->gapParA = ba;
  e->gapParB = bb;
  e->maxGap = best;
  if (gap) *gap = best;
  if (tA) *tA = ba;
  if (tB) *tB = bb;
  return 0;
}

}  // namespace

int ComputeMaxBndrEdgeGap(EdgeInfoStruct* e, double* gap, double* tA, double* tB) {
  if (!e) return -2;
  if (!IsPaired(e)) {
    if (gap) *gap = 0.0;
    if (tA) *tA = e->par[0];
    return -2;
  }
  return MaxEdgeGap(e, gap, tA, tB, [e](int side, int i, double out[3]) {
    return EvalPntOnBndryCrv(SideCrv(e, side), SideSamples(e, side)[i], out);
  });
}

int ComputeMaxBndrEdgeGapNubVals(EdgeInfoStruct* e, double* gap, double* tA, double* tB) {
  if (!e) return -2;
  if (!IsPaired(e)) {
    if (gap) *gap = 0.0;
    if (tA) *tA = e->par[0];
    return 0;
  }
  if (e->infoA->side == 0 || e->infoB->side == 0) return -2;
  for (int s = 0; s < 2; ++s)
    if (!e->nubTabU[s] || !e->nubSpan[s] || !SideCrv(e, s)->crv3) return -2;
  return MaxEdgeGap(e, gap, tA, tB,
                    [e](int side, int i, double out[3]) { return SideSamplePoint(e, side, i, out); });
}

int ComputeBndrInfoMaxEdgeGap(BndrStruct* bs, double* gap, int* edge, double* tA, double* tB) {
  if (!bs) return -2;
  double best = 0.0, ba = 0.0, bb = 0.0;
  int which = -1;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (!IsPaired(e)) continue;
    double g = 0.0, a = 0.0, b = 0.0;
    if (ComputeMaxBndrEdgeGap(e, &g, &a, &b) != 0) return -2;
    if (which < 0 || g > best) {
      best = g;
      which = i;
      ba = a;
      bb = b;
    }
  }
  if (gap) *gap = best;
  if (edge) *edge = which;
  if (tA) *tA = ba;
  if (tB) *tB = bb;
  return 0;
}

int BndrEdgeMaxNormalDiff(EdgeInfoStruct* e, double ignored, double* angle) {
  (void)ignored;
  if (!e) return -2;
  if (!IsPaired(e) || e->nSample < 1 || !e->sampleA || !e->sampleB)
    return MaxSampleNormalDiff(e, angle, [e](int side, int i, double out[3]) { return SampleNormal(e, side, i, out); });
  TrackingScope scope;  // the memo is scratch
  SampleNormalMemo memo(e);
  if (!memo.ok() || KernelFailed()) return -2;
  return MaxSampleNormalDiff(e, angle, memo);
}

int BndrEdgeInsideNormalDiff(const EdgeInfoStruct* e, double* angle) {
  if (!e || !angle) return -2;
  *angle = 0.0;
  if (!IsPaired(e) || e->nSample < 1 || !e->sampleA || !e->sampleB) return 0;
  const double lo = std::min(e->par[0], e->par[2]), hi = std::max(e->par[0], e->par[2]);
  if (!(hi > lo)) return 0;
  for (int i = 0; i < e->nSample; ++i) {
    const double f = (e->sampleA[i] - lo) / (hi - lo);
    if (f < 0.1 - kInsideMargin || f > 0.9 + kInsideMargin) continue;
    double a[3], b[3];
    if (EvalNormalOnBndryCrv(e->infoA, e->sampleA[i], a) != 0 || EvalNormalOnBndryCrv(e->infoB, e->sampleB[i], b) != 0)
      return -2;
    // A vanished normal agrees, as in the classification.
    *angle = std::max(*angle, FoldedAngle(a, b));
  }
  return 0;
}

int ComputeBndrInfoMaxNormalDiff(BndrStruct* bs, double ignored, double* angle, int* edge) {
  if (!bs) return -2;
  double best = 0.0;
  int which = 0;
  bool any = false;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (!IsPaired(e)) {
      e->maxAngle = 0.0;
      continue;
    }
    double a = 0.0;
    if (BndrEdgeMaxNormalDiff(e, ignored, &a) != 0) return -2;
    if (e->continuity >= 1 && (!any || a > best)) {
      best = a;
      which = i;
      any = true;
    }
  }
  if (angle) *angle = best;
  if (edge) *edge = which;
  return 0;
}

int ComputeSrfsGrpContinuity(BndrStruct* bs, int mode, int nSamples, double* maxGap,
                             double* maxAngle) {
  if (!bs) return -2;
  switch (mode) {
    case 0:
      break;
    case 1:
      if (ReSampleNewBndryStruct(bs) != 0) return -2;
      break;
    case 2:
      FreeBndrStructEdgeSamples(bs);
      if (SampleNewBndryStruct(bs, nSamples < 3 ? 2 : nSamples) != 0) return -2;
      break;
    default:
      return -2;
  }
  int edge = -1;
  double gap = 0.0, angle = 0.0;
  if (ComputeBndrInfoMaxEdgeGap(bs, &gap, &edge, nullptr, nullptr) != 0) return -2;
  if (ComputeBndrInfoMaxNormalDiff(bs, 0.0, &angle, &edge) != 0) return -2;
  if (maxGap) *maxGap = gap;
  if (maxAngle) *maxAngle = angle;
  return 0;
}

int ComputeMaxBndrCrvToEdgeSampleDiff(const CrvInfoStruct* crv, const EdgeInfoStruct* edges,
                                      int nEdge, double* dist, double* t) {
  if (!crv || !dist || !t) return -2;
  double tmin = 0.0, tmax = 0.0;
  GetBndrCrvParamMinMax(crv, &tmin, &tmax);
  double best = -1.0, bt = tmin;
  bool anyPaired = false;
  for (int k = 0; crv->edgeIds && edges && k < crv->nEdge; ++k) {
    const int id = crv->edgeIds[k];
    if (id < 0 || id >= nEdge) continue;
    const EdgeInfoStruct* e = &edges[id];
    if (!IsPaired(e)) continue;
    anyPaired = true;
    const int side = e->crvA == crv->index ? 0 : 1;
    const double* ts = SideSamples(e, side);
    if (!ts || !e->avgX || !e->avgY || !e->avgZ) continue;
    for (int i = 1; i < e->nSample - 1; ++i) {
      double p[3];
      if (EvalPntOnBndryCrv(crv, ts[i], p) != 0) return -2;
      const double d[3] = {p[0] - e->avgX[i], p[1] - e->avgY[i], p[2] - e->avgZ[i]};
      const double d2 = VecDotProd3(d, d);
      if (d2 > best) {
        best = d2;
        bt = ts[i];
      }
    }
  }
  if (!anyPaired) {
    *dist = 0.0;
    *t = tmin;
    return 0;
  }
  if (best < 0.0) return -2;
  *dist = std::sqrt(best);
  *t = bt;
  return 0;
}

int GetBndrEdgeNormalAtCorner(const BndrStruct* bs, int edge, int corner, double normals[6],
                              int* count) {
  if (!bs || !normals || !count || edge < 0 || edge >= bs->nEdge) return -2;
  const EdgeInfoStruct* e = &bs->edges[edge];
  if (!e->infoA || !e->infoA->srf) return -2;
  int end;
  if (e->corner0 == corner)
    end = 0;
  else if (e->corner1 == corner)
    end = 1;
  else
    return -2;
  Copy3(e->nrm[BndrSlot(0, end)], normals);
  *count = 1;
  if (IsPaired(e)) {
    Copy3(e->nrm[MatchSlot(e, end)], normals + 3);
    *count = 2;
  }
  return 0;
}

// ===== end and corner geometry =====================================================================

namespace {

// Evaluates one quantity at the four end slots; an unpaired edge copies side A into B's slots.
template <class Eval>
int EvalEdgeEnds(EdgeInfoStruct* e, double (*out)[3], Eval eval) {
  if (!e || !e->infoA) return -2;
  const bool paired = IsPaired(e);
  for (int s = 0; s < 4; ++s) {
    if ((s & 1) && !paired) continue;
    if (eval(SideCrv(e, s & 1), e->par[s], out[s]) != 0) return -2;
  }
  if (!paired) {
    Copy3(out[BndrSlot(0, 0)], out[BndrSlot(1, 0)]);
    Copy3(out[BndrSlot(0, 1)], out[BndrSlot(1, 1)]);
  }
  return 0;
}

}  // namespace

int EvalBndrEdgeEndPoints(EdgeInfoStruct* e) {
  return EvalEdgeEnds(e, e ? e->pnt : nullptr, [](const CrvInfoStruct* c, double t, double out[3]) {
    return EvalPntOnBndryCrv(c, t, out);
  });
}

int EvalBndrEdgeEndNormals(EdgeInfoStruct* e) {
  return EvalEdgeEnds(e, e ? e->nrm : nullptr, [](const CrvInfoStruct* c, double t, double out[3]) {
    double n[3];
    if (EvalNormalOnBndryCrv(c, t, n) != 0) return -2;
    UnitOrZero(n, out);
    return 0;
  });
}

int EvalBndrEdgeEndTangents(EdgeInfoStruct* e) {
  return EvalEdgeEnds(e, e ? e->tan : nullptr, [](const CrvInfoStruct* c, double t, double out[3]) {
    double d[3];
    if (EvalTangentOnBndryCrv(c, t, d) != 0) return -2;
    if (VecSize3(d) > kTiny)
      UnitOrZero(d, out);
    else
      Copy3(d, out);
    return 0;
  });
}

int SetBndrEdgeAvgEndPoints(EdgeInfoStruct* e) {
  if (!e) return -2;
  if (!IsPaired(e)) return 0;
  const CrvInfoStruct* A = e->infoA;
  const CrvInfoStruct* B = e->infoB;
  const int m0 = MatchSlot(e, 0), m1 = MatchSlot(e, 1);
  double start[3], end[3];
  for (int k = 0; k < 3; ++k) {
    start[k] = 0.5 * (e->pnt[0][k] + e->pnt[m0][k]);
    end[k] = 0.5 * (e->pnt[2][k] + e->pnt[m1][k]);
  }
  // Later rules override earlier ones: outer, then trim curve, then fixed.
  auto keepSide = [&](bool a, bool b) {
    if (a == b) return;
    Copy3(a ? e->pnt[0] : e->pnt[m0], start);
    Copy3(a ? e->pnt[2] : e->pnt[m1], end);
  };
  keepSide(A->outer != 0, B->outer != 0);
  keepSide(A->side == 0, B->side == 0);
  keepSide(A->fixed != 0, B->fixed != 0);
  Copy3(start, e->pnt[0]);
  Copy3(start, e->pnt[m0]);
  Copy3(end, e->pnt[2]);
  Copy3(end, e->pnt[m1]);
  return 0;
}

int SetUpBndrCornerPositions(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nEdge; ++i) SetBndrEdgeAvgEndPoints(&bs->edges[i]);
  for (int c = 0; c < bs->nCorner; ++c) {
    const CornerInfoStruct* ci = &bs->corners[c];
    double all[3] = {0, 0, 0}, fixed[3] = {0, 0, 0};
    int nAll = 0, nFixed = 0;
    for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
      const int id = ci->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) return -2;
      const EdgeInfoStruct* e = &bs->edges[id];
      if (e->corner0 != c && e->corner1 != c) return -2;
      const CrvInfoStruct* A = e->infoA;
      const CrvInfoStruct* B = IsPaired(e) ? e->infoB : nullptr;
      const bool isFixed = IsOuterFixedBndrEdge(e) || (A->side != 0 && IsTrim(B)) || A->side == 0 ||
                           A->fixed || (B && B->fixed);
      // An edge closed on this corner contributes both of its ends.
      for (int end = 0; end < 2; ++end) {
        if ((end == 0 ? e->corner0 : e->corner1) != c) continue;
        const double* p = e->pnt[BndrSlot(0, end)];
        for (int j = 0; j < 3; ++j) all[j] += p[j];
        ++nAll;
        if (isFixed) {
          for (int j = 0; j < 3; ++j) fixed[j] += p[j];
          ++nFixed;
        }
      }
    }
    if (nAll == 0) continue;
    double pos[3];
    for (int j = 0; j < 3; ++j) pos[j] = nFixed > 0 ? fixed[j] / nFixed : all[j] / nAll;
    SetBndrInfoCornerPosition(bs, c, pos[0], pos[1], pos[2]);
  }
  return 0;
}

int SetBndrInfoCornerPosition(BndrStruct* bs, int corner, double x, double y, double z) {
  if (!bs || corner < 0 || corner >= bs->nCorner) return -2;
  CornerInfoStruct* ci = &bs->corners[corner];
  const double p[3] = {x, y, z};
  Copy3(p, ci->pos);
  for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    EdgeInfoStruct* e = &bs->edges[id];
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner) continue;
      Copy3(p, e->pnt[BndrSlot(0, end)]);
      Copy3(p, e->pnt[MatchSlot(e, end)]);
      if (e->nSample > 0 && e->avgX && e->avgY && e->avgZ) {
        const int i = end == 0 ? 0 : e->nSample - 1;
        e->avgX[i] = x;
        e->avgY[i] = y;
        e->avgZ[i] = z;
      }
    }
  }
  return 0;
}

// ---- vector helpers -----------------------------------------------------------------------------

int AddOneNormalizedVecToSumVec(const double ref[3], const double v[3], double sum[3], int* count) {
  double u[3];
  if (UnitOrZero(v, u) < kTiny) return -2;
  const double s = VecDotProd3(ref, u) >= 0.0 ? 1.0 : -1.0;
  for (int k = 0; k < 3; ++k) sum[k] += s * u[k];
  if (count) ++*count;
  return 0;
}

int SetUnitVecOnSameSide(double v[3], const double w[3]) {
  double uv[3], uw[3];
  if (UnitOrZero(v, uv) < kTiny || UnitOrZero(w, uw) < kTiny) return -2;
  const double s = VecDotProd3(uv, uw) >= 0.0 ? 1.0 : -1.0;
  for (int k = 0; k < 3; ++k) v[k] = s * uw[k];
  return 0;
}

int VecProjectReverse3(const double src[3], double dst[3]) {
  double ud[3], us[3];
  UnitOrZero(dst, ud);
  UnitOrZero(src, us);
  const double s = VecDotProd3(ud, us) < 0.001 ? -1.0 : 1.0;
  for (int k = 0; k < 3; ++k) dst[k] = s * src[k];
  return 0;
}

// The planes' common line is taken for the seam only within 8 degrees of the sides' tangents.
// Further off it turns the boundary's end within its patch: on rough rows the wrap would slide
// the control point next to a corner sideways by several times the gap it closes, dragging the
// second rows with it.
constexpr double kCommonTangentCos = 0.99;

int FindEdgeCommonTangent(double nA[3], double nB[3], double tA[3], double tB[3]) {
  if (!nA || !nB || !tA || !tB) return -2;
  if (VecSize3(nA) < kTiny || VecSize3(nB) < kTiny) return 0;
  const double a = FoldedAngle(nA, nB);
  double d[3] = {0.0, 0.0, 0.0};
  if (a > 0.01) {
    double c[3];
    cross_product(nA, nB, c);
    UnitOrZero(c, d);
  }
  const bool zA = VecSize3(tA) < kTiny, zB = VecSize3(tB) < kTiny;
  if (zA && zB) {
    Zero3(tA);
    Zero3(tB);
    return 0;
  }
  if (zA || zB) {
    double* zero = zA ? tA : tB;
    double* other = zA ? tB : tA;
    Zero3(zero);
    if (a > 0.01 && VecSize3(d) >= kTiny)
      SetUnitVecOnSameSide(other, d);
    else
      UnitOrZero(other, other);
    return 0;
  }
  UnitOrZero(nA, nA);
  UnitOrZero(nB, nB);
  double m[3];
  const double s = VecDotProd3(tA, tB) < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < 3; ++k) m[k] = tA[k] + s * tB[k];
  if (UnitOrZero(m, m) < kTiny) return -2;
  // The two tangent planes meet along nA x nB, which is the seam's direction only when the
  // normals differ by a turn about the seam (a kink). When they differ by a twist across it, as
  // rough rows give at a corner, the product points across the seam, and a boundary held to it
  // runs diagonally into its patch: both sides at a corner end up nearly parallel and the patch
  // folds there. Such a product is not taken for the seam's direction.
  double c[3];
  cross_product(nA, nB, c);
  if (a >= 0.01 && UnitOrZero(c, d) >= kTiny && std::fabs(VecDotProd3(d, m)) >= kCommonTangentCos) {
    SetUnitVecOnSameSide(tA, d);
    SetUnitVecOnSameSide(tB, d);
    return 0;
  }
  // Parallel normals (or a twist): the common tangent is the mean direction in the plane of
  // the mean normal, which both sides then share. (In A's plane it would be A's own tangent, to
  // which B's would turn by the whole of their difference, degrees at jittered corners.)
  const double sB = VecDotProd3(nA, nB) < 0.0 ? -1.0 : 1.0;  // each side keeps its orientation
  double nm[3] = {nA[0] + sB * nB[0], nA[1] + sB * nB[1], nA[2] + sB * nB[2]};
  if (UnitOrZero(nm, nm) < kTiny) return -2;
  Copy3(nm, nA);
  for (int k = 0; k < 3; ++k) nB[k] = sB * nm[k];
  double p[3];
  if (!ProjectUnit(m, nA, p)) return -2;
  SetUnitVecOnSameSide(tA, p);
  SetUnitVecOnSameSide(tB, p);
  return 0;
}

int ProjectBndrEdgeEndTangents(EdgeInfoStruct* e) {
  if (!e) return -2;
  for (int s = 0; s < 4; ++s) {
    double p[3];
    if (ProjectUnit(e->tan[s], e->nrm[s], p))
      Copy3(p, e->tan[s]);
    else
      Zero3(e->tan[s]);
  }
  if (!IsPaired(e)) {
    Copy3(e->tan[BndrSlot(0, 0)], e->tan[BndrSlot(1, 0)]);
    Copy3(e->tan[BndrSlot(0, 1)], e->tan[BndrSlot(1, 1)]);
    return 0;
  }
  if (e->continuity >= 0) {
    for (int end = 0; end < 2; ++end) {
      const int a = BndrSlot(0, end), b = MatchSlot(e, end);
      if (FindEdgeCommonTangent(e->nrm[a], e->nrm[b], e->tan[a], e->tan[b]) != 0) return -2;
    }
  }
  return 0;
}

int SetG1EdgeWithtrimCurveEndTangents(EdgeInfoStruct* e) {
  if (!e) return -2;
  if (!IsPaired(e)) return 0;
  const CrvInfoStruct* A = e->infoA;
  const CrvInfoStruct* B = e->infoB;
  if (!((A->side == 0 || B->side == 0) && (A->fixed || B->fixed))) return 0;
  // `to` takes the tangents (and normals) of `from` at the matching ends.
  const bool aTakes = A->side != 0 && !A->fixed;
  for (int end = 0; end < 2; ++end) {
    const int a = BndrSlot(0, end), b = MatchSlot(e, end);
    const int to = aTakes ? a : b, from = aTakes ? b : a;
    Copy3(e->tan[from], e->tan[to]);
    if (!IsG1Paired(e)) {
      double p[3];
      if (ProjectUnit(e->nrm[to], e->tan[to], p)) Copy3(p, e->nrm[to]);
      if (!aTakes) continue;
    }
    VecProjectReverse3(e->nrm[from], e->nrm[to]);
  }
  return 0;
}

int ModifyBndrCrvG0EdgesEndTangents(BndrStruct* bs, int curve) {
  if (!bs || curve < 0 || curve >= bs->nCrv) return -2;
  const CrvInfoStruct* c = &bs->crvs[curve];
  if (c->side == 0 || c->nEdge < 2 || !c->edgeIds) return 0;
  auto sideOn = [curve](const EdgeInfoStruct* e) { return IsPaired(e) && e->crvB == curve ? 1 : 0; };
  for (int k = 0; k < c->nEdge; ++k) {
    EdgeInfoStruct* e = &bs->edges[c->edgeIds[k]];
    if (IsG1Paired(e)) continue;
    const int s = sideOn(e);
    if (k > 0) {
      const EdgeInfoStruct* p = &bs->edges[c->edgeIds[k - 1]];
      if (IsG1Paired(p)) Copy3(p->tan[BndrSlot(sideOn(p), 1)], e->tan[BndrSlot(s, 0)]);
    }
    if (k + 1 < c->nEdge) {
      const EdgeInfoStruct* n = &bs->edges[c->edgeIds[k + 1]];
      if (IsG1Paired(n)) Copy3(n->tan[BndrSlot(sideOn(n), 0)], e->tan[BndrSlot(s, 1)]);
    }
  }
  return 0;
}

// ---- corner normals ------------------------------------------------------------------------------

int IsHalfEdgeG1Adjacent(const BndrStruct* bs, const BndrHalfEdge* h, const BndrHalfEdge* k) {
  if (!bs || !h || !k) return 0;
  const EdgeInfoStruct* eh = &bs->edges[h->edge];
  const EdgeInfoStruct* ek = &bs->edges[k->edge];
  if (h->edge != k->edge) {
    const CrvInfoStruct* ch = SideCrv(eh, h->side);
    const CrvInfoStruct* ck = SideCrv(ek, k->side);
    return ch && ck && ch->srfInfo == ck->srfInfo ? 1 : 0;
  }
  if (h->side == k->side) return h->end != k->end ? 1 : 0;
  return IsG1Paired(eh) ? 1 : 0;
}

int GetHalfEdgeNormalAtVertex(const BndrStruct* bs, const BndrHalfEdge* h, int corner,
                              double normal[3]) {
  if (!bs || !h || h->edge < 0 || h->edge >= bs->nEdge) return -2;
  const EdgeInfoStruct* e = &bs->edges[h->edge];
  if ((h->end == 0 ? e->corner0 : e->corner1) != corner) return -2;
  const int slot = h->side == 0 ? BndrSlot(0, h->end) : MatchSlot(e, h->end);
  UnitOrZero(e->nrm[slot], normal);
  return 0;
}

int IsHalfEdgeNormalFixed(const BndrStruct* bs, const BndrHalfEdge* h) {
  if (!bs || !h) return 0;
  const CrvInfoStruct* c = SideCrv(&bs->edges[h->edge], h->side);
  return c && (c->fixed || c->side == 0) ? 1 : 0;
}

int SetHalfEdgeNormal(BndrStruct* bs, const BndrHalfEdge* h, const double normal[3]) {
  if (!bs || !h) return -2;
  EdgeInfoStruct* e = &bs->edges[h->edge];
  double u[3];
  if (UnitOrZero(normal, u) < kTiny) return 0;
  const int slot = h->side == 0 ? BndrSlot(0, h->end) : MatchSlot(e, h->end);
  const double s = VecDotProd3(u, e->nrm[slot]) < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < 3; ++k) e->nrm[slot][k] = s * u[k];
  return 0;
}

int SIAverageBndrTopoCornerNormals(BndrStruct* bs, int corner) {
  if (!bs || corner < 0 || corner >= bs->nCorner) return -2;
  const CornerInfoStruct* ci = &bs->corners[corner];
  TrackingScope scope;
  BndrHalfEdge* he = nullptr;
  if (!CallocArrayUnlessFailed(he, 4 * std::max(ci->nEdge, 1))) return -2;
  int n = 0;
  for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return -2;
    const EdgeInfoStruct* e = &bs->edges[id];
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner) continue;
      he[n++] = {id, 0, end};
      if (IsPaired(e)) he[n++] = {id, 1, end};
    }
  }
  if (n == 0) return -2;
  if (n == 1) return 0;
  int* adj = nullptr;
  unsigned char* done = nullptr;
  if (!CallocArrayUnlessFailed(adj, n * n) || !CallocArrayUnlessFailed(done, n)) return -2;
  for (int h = 0; h < n; ++h) {
    adj[h * n + h] = 1;
    for (int k = h + 1; k < n; ++k) adj[h * n + k] = adj[k * n + h] = IsHalfEdgeG1Adjacent(bs, &he[h], &he[k]);
  }
  // One pass of transitive closure, in place.
  for (int h = 0; h < n; ++h)
    for (int k = 0; k < n; ++k) {
      if (adj[h * n + k] < 1) continue;
      for (int m = 0; m < n; ++m)
        if (adj[k * n + m] > 0) adj[h * n + m] = adj[m * n + h] = 1;
    }
  for (int h = 0; h < n; ++h) {
    if (done[h]) continue;
    double ref[3];
    if (GetHalfEdgeNormalAtVertex(bs, &he[h], corner, ref) != 0) continue;
    double sum[3] = {0, 0, 0}, fsum[3] = {0, 0, 0};
    int cnt = 0, fcnt = 0;
    for (int k = 0; k < n; ++k) {
      if (adj[h * n + k] < 1) continue;
      double nk[3];
      if (GetHalfEdgeNormalAtVertex(bs, &he[k], corner, nk) != 0) continue;
      if (AddOneNormalizedVecToSumVec(ref, nk, sum, &cnt) != 0) continue;
      if (IsHalfEdgeNormalFixed(bs, &he[k])) AddOneNormalizedVecToSumVec(ref, nk, fsum, &fcnt);
    }
    if (cnt == 0) continue;
    double g[3];
    for (int j = 0; j < 3; ++j) g[j] = fcnt > 0 ? fsum[j] / fcnt : sum[j] / cnt;
    for (int k = 0; k < n; ++k) {
      if (adj[h * n + k] < 1) continue;
      SetHalfEdgeNormal(bs, &he[k], g);
      done[k] = 1;
    }
  }
  return 0;
}

int AverageBndrTopoCornerNormals(BndrStruct* bs, int corner) { return SIAverageBndrTopoCornerNormals(bs, corner); }

int SetUpBndrAllCornerNormals(BndrStruct* bs) {
  if (!bs || bs->nCorner <= 0) return -2;
  for (int c = 0; c < bs->nCorner; ++c) {
    // A corner left without edges has no normals to agree on; only a failed allocation stops.
    if (SIAverageBndrTopoCornerNormals(bs, c) != 0 && KernelFailed()) return -2;
  }
  return 0;
}

int GetAverageSrfNormalsAtCorner(BndrStruct* bs, int corner, double (*normals)[3]) {
  if (!bs || !normals || corner < 0 || corner >= bs->nCorner) return -2;
  const CornerInfoStruct* ci = &bs->corners[corner];
  for (int s = 0; s < ci->nSrfId; ++s) {
    double sum[3] = {0, 0, 0}, fsum[3] = {0, 0, 0}, ref[3] = {0, 0, 0};
    int cnt = 0, fcnt = 0;
    for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
      const int id = ci->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) continue;
      const EdgeInfoStruct* e = &bs->edges[id];
      double nn[6];
      int count = 0;
      if (GetBndrEdgeNormalAtCorner(bs, id, corner, nn, &count) != 0) continue;
      for (int side = 0; side < count; ++side) {
        const CrvInfoStruct* c = SideCrv(e, side);
        if (!c || !c->srfInfo || c->srfInfo->index != ci->srfIds[s]) continue;
        const double* v = nn + 3 * side;
        if (cnt == 0 && VecSize3(v) >= kTiny) UnitOrZero(v, ref);
        if (AddOneNormalizedVecToSumVec(ref, v, sum, &cnt) != 0) continue;
        const bool fixed = c->side == 0 || c->fixed ||
                           (side == 0 && !e->paired && c->outer && c->outerCont >= 1);
        if (fixed) AddOneNormalizedVecToSumVec(ref, v, fsum, &fcnt);
      }
    }
    for (int j = 0; j < 3; ++j) normals[s][j] = fcnt > 0 ? fsum[j] / fcnt : cnt > 0 ? sum[j] / cnt : 0.0;
    UnitOrZero(normals[s], normals[s]);
  }
  return 0;
}

int NewAverageBndrTopoCornerNormals(BndrStruct* bs, int corner) {
  if (!bs || corner < 0 || corner >= bs->nCorner) return -2;
  CornerInfoStruct* ci = &bs->corners[corner];
  if (ci->nEdge < 2) return 0;
  FreeAndNull(ci->srfIds);
  ci->nSrfId = 0;
  int* ids = nullptr;
  int ns = 0;
  if (BndrSrfIndexAtCorner(bs, corner, &ids, &ns) != 0 || ns == 0) {
    FreeAndNull(ids);
    return -2;
  }
  ci->srfIds = ids;
  ci->nSrfId = ns;
  TrackingScope scope;
  double(*sn)[3] = nullptr;
  int* adj = nullptr;
  if (!CallocArrayUnlessFailed(sn, ns) || !CallocArrayUnlessFailed(adj, ns * ns)) return -2;
  if (GetAverageSrfNormalsAtCorner(bs, corner, sn) != 0) return -2;
  auto slotOf = [&](const CrvInfoStruct* c) {
    for (int s = 0; c && c->srfInfo && s < ns; ++s)
      if (ids[s] == c->srfInfo->index) return s;
    return -1;
  };
  for (int s = 0; s < ns; ++s) adj[s * ns + s] = 1;
  for (int k = 0; k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    const EdgeInfoStruct* e = &bs->edges[id];
    if (!IsG1Paired(e)) continue;
    const int a = slotOf(e->infoA), b = slotOf(e->infoB);
    if (a < 0 || b < 0) continue;
    adj[a * ns + b] = adj[b * ns + a] = 1;
    if (e->infoA->side == 0 || e->infoA->fixed)
      Copy3(sn[a], sn[b]);
    else if (e->infoB->side == 0 || e->infoB->fixed)
      Copy3(sn[b], sn[a]);
  }
  for (int i = 0; i < ns; ++i)
    for (int j = 0; j < ns; ++j)
      if (j != i && adj[i * ns + j])
        for (int m = 0; m < ns; ++m) adj[i * ns + m] += adj[j * ns + m];
  double(*out)[3] = nullptr;
  if (!CallocArrayUnlessFailed(out, ns)) return -2;
  for (int i = 0; i < ns; ++i) {
    double sum[3] = {0, 0, 0};
    int cnt = 0;
    for (int j = 0; j < ns; ++j)
      if (adj[i * ns + j]) AddOneNormalizedVecToSumVec(sn[i], sn[j], sum, &cnt);
    Copy3(sn[i], out[i]);
    if (cnt > 1) {
      double u[3];
      if (UnitOrZero(sum, u) >= kTiny) {
        if (VecDotProd3(u, sn[i]) < 0.0)
          for (double& x : u) x = -x;
        Copy3(u, out[i]);
      }
    }
  }
  for (int k = 0; k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    EdgeInfoStruct* e = &bs->edges[id];
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner) continue;
      const int a = slotOf(e->infoA);
      const BndrHalfEdge ha{id, 0, end}, hb{id, 1, end};
      if (a >= 0) SetHalfEdgeNormal(bs, &ha, out[a]);
      if (IsPaired(e)) {
        const int b = slotOf(e->infoB);
        if (b >= 0) SetHalfEdgeNormal(bs, &hb, out[b]);
      }
    }
  }
  return 0;
}

namespace {

// A corner's end slots: one per side of every edge there (every edge paired, at most
// kCornerSlots of them), with the surface on that side.
constexpr int kCornerSlots = 16;
struct CornerSlot {
  EdgeInfoStruct* e;
  int slot, other, srf;
};

// Angles by which the end of a seam may rise at a corner before the seams' end tangents there
// are turned towards one plane (degrees): round-off for a crease (a little more slack lets
// seams of a rough mixed-degree group rise at the corner and step back, open), the
// smooth seams' slack of the heal's safety check for a smooth seam.
constexpr double kCreaseCornerRise = 0.001;
constexpr double kSmoothCornerRise = 0.01;

// The surfaces' normals at a corner that the slots' end tangents t give (a surface's normal is
// the product of its two end tangents there), each turned to the side of its slot's normal;
// false where a surface's two tangents are parallel.
bool CornerNormalsFromTangents(const CornerSlot* slots, int n, const double (*t)[3], double (*m)[3]) {
  for (int i = 0; i < n; ++i) {
    int j = 0;
    while (j < n && (j == i || slots[j].srf != slots[i].srf)) ++j;
    double c[3];
    if (j == n) return false;
    cross_product(t[i], t[j], c);
    if (UnitOrZero(c, m[i]) < kTiny) return false;
    if (VecDotProd3(m[i], slots[i].e->nrm[slots[i].slot]) < 0.0)
      for (double& x : m[i]) x = -x;
  }
  return true;
}

// A corner's slots for the turns below: every edge there paired and free to move (not outer
// fixed, no trim curve, neither side fixed), both its surfaces known, at most kCornerSlots
// slots; slots 2k and 2k + 1 are sides A and B of one edge end. 1 when the corner qualifies,
// 0 when not, -2 for a bad edge index.
int CollectCornerSlots(BndrStruct* bs, int corner, CornerSlot* slots, int* n, int* creases) {
  const CornerInfoStruct* ci = &bs->corners[corner];
  *n = *creases = 0;
  if (!ci->edgeIds || ci->nEdge < 3) return 0;
  for (int k = 0; k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) return -2;
    EdgeInfoStruct* e = &bs->edges[id];
    if (!IsPaired(e) || IsOuterFixedBndrEdge(e) || IsTrim(e->infoA) || IsTrim(e->infoB) || e->infoA->fixed ||
        e->infoB->fixed)
      return 0;
    int a = -1, b = -1;
    if (GetBndrEdgeAdjSrfIds(e, &a, &b) != 0) return 0;
    *creases += !IsG1Paired(e);
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner) continue;
      if (*n + 2 > kCornerSlots) return 0;
      const int sa = BndrSlot(0, end), sb = MatchSlot(e, end);
      slots[(*n)++] = {e, sa, sb, a};
      slots[(*n)++] = {e, sb, sa, b};
    }
  }
  return 1;
}

// ---- keeping a crease's angle at its corners ------------------------------------------------------

// Below the angle a crease started with, how far an end may stay (degrees) for the corner to
// count as keeping it, and above the crease's largest starting angle how far an end may rise:
// half the degree the heal's safety check allows, for the host's measure samples otherwise.
constexpr double kCreaseEndMargin = 0.5;
// The share of its starting angle a crease aims at, at a corner marked flat once (at half, more
// sides of large rough grids stay open).
constexpr double kSoftenedCrease = 0.4;
// Below the bound, how far a crease's end may be aimed above its largest starting angle (and
// where the pull back towards it starts): a quarter of a degree.
constexpr double kCreaseAimMargin = kCreaseEndMargin - 0.25;
// A direction turned further than this (radians) would drag the boundary's end into its patch.
constexpr double kMaxCornerTurn = 0.35;

// A value with its derivative along one direction of the unknowns (forward differentiation):
// the corner solve's Jacobian comes out exact, one column at a time.
struct Dual {
  double v, d;
};
Dual operator+(Dual a, Dual b) { return {a.v + b.v, a.d + b.d}; }
Dual operator-(Dual a, Dual b) { return {a.v - b.v, a.d - b.d}; }
Dual operator*(Dual a, Dual b) { return {a.v * b.v, a.d * b.v + a.v * b.d}; }
Dual operator*(double s, Dual a) { return {s * a.v, s * a.d}; }
Dual DualDot(const Dual a[3], const Dual b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
void DualCross(const Dual a[3], const Dual b[3], Dual out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}
// Unit vector; false when shorter than kTiny.
bool DualUnit(Dual v[3]) {
  const Dual len2 = DualDot(v, v);
  const double len = std::sqrt(len2.v);
  if (len < kTiny) return false;
  const double dlen = 0.5 * len2.d / len;
  for (int k = 0; k < 3; ++k) v[k] = {v[k].v / len, (v[k].d * len - v[k].v * dlen) / (len * len)};
  return true;
}
Dual DualAtan2(Dual y, Dual x) {
  const double r = x.v * x.v + y.v * y.v;
  return {std::atan2(y.v, x.v), r > 0.0 ? (x.v * y.d - y.v * x.d) / r : 0.0};
}

// Signed angle (degrees) between a seam's two normals a and b at an end, b first turned to a's
// side (folded), signed by the way they turn about the direction d.
double SignedFoldedAngle(const double a[3], const double b[3], const double d[3]) {
  double bb[3], c[3];
  const double s = VecDotProd3(a, b) < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < 3; ++k) bb[k] = s * b[k];
  cross_product(a, bb, c);
  const double angle = FoldedAngle(a, b);
  return VecDotProd3(c, d) < 0.0 ? -angle : angle;
}

// The share of the angle between normals a and b (b turned to a's side) that is a turn about
// the direction d: the component of their rotation axis along d.
double FoldShare(const double a[3], const double b[3], const double d[3]) {
  double bb[3], c[3], u[3], du[3];
  const double s = VecDotProd3(a, b) < 0.0 ? -1.0 : 1.0;
  for (int k = 0; k < 3; ++k) bb[k] = s * b[k];
  cross_product(a, bb, c);
  if (UnitOrZero(c, u) < kTiny || UnitOrZero(d, du) < kTiny) return 0.0;
  return std::fabs(VecDotProd3(u, du));
}

// How near an end (as a share of the edge) a crease's start may dip and still be what its corner
// aims at: nearer, the jittered corner copies' spike still falls off; from 0.08 on, a dip nearer
// the end is missed and the corner lifts the crease there by a degree.
constexpr double kCornerAimFrom = 0.05;
// Round-off of a sample's share of the edge.
constexpr double kShareTol = 1e-9;

// The seam as found: both ends' signed angles from the sides' own end normals and tangents
// (just evaluated), signed as one fold with the samples between them, and the largest angle of
// them all.
int RecordEdgeStart(EdgeInfoStruct* e) {
  if (!IsPaired(e) || e->startSet) return 0;
  double largest = 0.0;
  for (int end = 0; end < 2; ++end) {
    const int a = BndrSlot(0, end), b = MatchSlot(e, end);
    const double s = VecDotProd3(e->tan[a], e->tan[b]) < 0.0 ? -1.0 : 1.0;
    double d[3];
    for (int k = 0; k < 3; ++k) d[k] = e->tan[a][k] + s * e->tan[b][k];
    e->startEndAngle[end] = SignedFoldedAngle(e->nrm[a], e->nrm[b], d);
    largest = std::max(largest, std::fabs(e->startEndAngle[end]));
  }
  // The signed angles along the edge are scratch: they only sign the ends.
  TrackingScope scope;
  const int n = e->sampleA && e->sampleB ? e->nSample : 0;
  double* angle = n > 0 ? MallocArray<double>(n) : nullptr;
  if (KernelFailed()) return -2;
  double* at = n > 0 ? MallocArray<double>(n) : nullptr;  // each kept sample's share of the edge
  if (KernelFailed()) return -2;
  const double lo = n > 0 ? std::min(e->par[0], e->par[2]) : 0.0, hi = n > 0 ? std::max(e->par[0], e->par[2]) : 0.0;
  int count = 0, anchor = 0;
  double anchorFold = -1.0;
  const SideTangentScale scaleA = TangentScaleOf(e->infoA), scaleB = TangentScaleOf(e->infoB);
  SampleNormalMemo normalAt(e);
  if (!normalAt.ok() || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    double na[3], nb[3], ta[3], tb[3];
    if (normalAt(0, i, na) != 0 || UnitOrZero(na, na) < kTiny || normalAt(1, i, nb) != 0 || UnitOrZero(nb, nb) < kTiny ||
        TangentOnSide(e->infoA, scaleA, e->sampleA[i], ta) != 0 ||
        TangentOnSide(e->infoB, scaleB, e->sampleB[i], tb) != 0) {
      if (KernelFailed()) return -2;
      continue;  // a sample without normals has no angle to keep
    }
    UnitOrZero(ta, ta);
    UnitOrZero(tb, tb);
    const double s = VecDotProd3(ta, tb) < 0.0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k) ta[k] += s * tb[k];
    angle[count] = SignedFoldedAngle(na, nb, ta);
    at[count] = hi > lo ? (e->sampleA[i] - lo) / (hi - lo) : 0.5;
    // The turn about the seam's direction, whose sign alone is meaningful where it is large.
    const double fold = std::fabs(angle[count] * FoldShare(na, nb, ta));
    if (fold > anchorFold) {
      anchorFold = fold;
      anchor = count;
    }
    largest = std::max(largest, std::fabs(angle[count]));
    ++count;
  }
  // Where the two normals differ mostly by a twist, the sign of their small turn about the
  // seam flips from sample to sample; closed, the seam can only fold, so the angles are signed
  // as one fold: from the sample that folds most, each next one takes the sign that keeps it
  // nearest its neighbour. The ends take the signs of the profile's ends.
  for (int dir = -1; dir <= 1 && count > 0; dir += 2)
    for (int k = anchor + dir; k >= 0 && k < count; k += dir) {
      const double prev = angle[k - dir], a = std::fabs(angle[k]);
      angle[k] = std::fabs(prev - a) <= std::fabs(prev + a) ? a : -a;
    }
  if (count > 0) {
    for (int end = 0; end < 2; ++end) {
      const double near = angle[end ? count - 1 : 0];
      if (near * e->startEndAngle[end] < 0.0) e->startEndAngle[end] = -e->startEndAngle[end];
      // Where the inside begins: the sample nearest a tenth of the edge from this end.
      const double f = end ? 0.9 : 0.1;
      int best = 0;
      for (int k = 1; k < count; ++k)
        if (std::fabs(at[k] - f) < std::fabs(at[best] - f)) best = k;
      e->startInsideAngle[end] = e->startCornerAim[end] = angle[best];
      // Where the start dips just before its inside begins, the corner aims at the dip: the
      // angle the corner keeps decays into the seam through the end span, and aimed at the
      // tenth's angle it would lift the dip.
      for (int k = 0; k < count; ++k) {
        const double from = end ? 1.0 - at[k] : at[k];
        if (from >= kCornerAimFrom - kShareTol && from <= 0.1 + kShareTol &&
            std::fabs(angle[k]) < std::fabs(e->startCornerAim[end]))
          e->startCornerAim[end] = angle[k];
      }
    }
  } else {
    for (int end = 0; end < 2; ++end) e->startInsideAngle[end] = e->startCornerAim[end] = e->startEndAngle[end];
  }
  e->startMaxAngle = largest;
  e->startSet = 1;
  return 0;
}

// The corner as the solve sees it: per edge end k a direction D_k = unit(D0_k + x_2k B1_k +
// x_2k+1 B2_k) shared by both sides (slot i's tangent is sign[i] D_k), per slot the slot of the
// same surface and the side its normal points to, per edge end its target angle, the bound on
// its angle and the weight of its misfit.
struct CornerSolve {
  const CornerSlot* slots;
  int n, K;
  double D0[kCornerSlots / 2][3], B1[kCornerSlots / 2][3], B2[kCornerSlots / 2][3];
  double sign[kCornerSlots];
  int mate[kCornerSlots];
  double side[kCornerSlots];  // +-1: the surface normal's orientation
  double flip[kCornerSlots / 2];  // +-1: side B's normal turned to side A's
  double target[kCornerSlots / 2], bound[kCornerSlots / 2], weight[kCornerSlots / 2];
  int shared[kCornerSlots / 2];  // the target is the grid line's shared size, either way
};

// The edge ends' signed angles (radians) at unknowns x, differentiated along unknown `seed`
// (none for -1); the slots' unit tangents and surface normals in t and m when given. False
// where a surface's two tangents fall parallel.
bool CornerAngles(const CornerSolve& c, const double* x, int seed, Dual* angle, double (*t)[3] = nullptr,
                  double (*m)[3] = nullptr) {
  Dual D[kCornerSlots / 2][3], M[kCornerSlots][3];
  for (int k = 0; k < c.K; ++k) {
    for (int j = 0; j < 3; ++j)
      D[k][j] = {c.D0[k][j] + x[2 * k] * c.B1[k][j] + x[2 * k + 1] * c.B2[k][j],
                 seed == 2 * k ? c.B1[k][j] : seed == 2 * k + 1 ? c.B2[k][j] : 0.0};
    if (!DualUnit(D[k])) return false;
  }
  for (int i = 0; i < c.n; ++i) {
    Dual ti[3], tj[3];
    for (int j = 0; j < 3; ++j) {
      ti[j] = c.sign[i] * D[i / 2][j];
      tj[j] = c.sign[c.mate[i]] * D[c.mate[i] / 2][j];
    }
    DualCross(ti, tj, M[i]);
    if (!DualUnit(M[i])) return false;
    for (Dual& v : M[i]) v = c.side[i] * v;
    if (t)
      for (int j = 0; j < 3; ++j) t[i][j] = ti[j].v;
    if (m)
      for (int j = 0; j < 3; ++j) m[i][j] = M[i][j].v;
  }
  for (int k = 0; k < c.K; ++k) {
    Dual b[3], cr[3];
    for (int j = 0; j < 3; ++j) b[j] = c.flip[k] * M[2 * k + 1][j];
    DualCross(M[2 * k], b, cr);
    angle[k] = DualAtan2(DualDot(cr, D[k]), DualDot(M[2 * k], b));
  }
  return true;
}

// Misfits at x: per edge end its weighted distance from the target and its excess over the
// bound, then the turns themselves (least change); with seed their derivatives along it.
constexpr int kMaxUnknowns = kCornerSlots;
constexpr int kMaxResiduals = 3 * kCornerSlots / 2 + kMaxUnknowns;
constexpr double kBoundWeight = 100.0;
constexpr double kTurnWeight = 1.0;
constexpr double kRadian = 3.14159265358979323846 / 180.0;
int CornerResiduals(const CornerSolve& c, const double* x, int seed, Dual* r) {
  Dual a[kCornerSlots / 2];
  if (!CornerAngles(c, x, seed, a)) return 0;
  int m = 0;
  for (int k = 0; k < c.K; ++k) {
    r[m++] = c.weight[k] * (a[k] - Dual{c.target[k] * kRadian, 0.0});
    // The hinge starts a little inside the bound, which the result must keep (a crease's at
    // the highest it is aimed at).
    const double over = std::fabs(a[k].v) - std::max(0.9 * c.bound[k], c.bound[k] - kCreaseAimMargin) * kRadian;
    const double s = a[k].v < 0.0 ? -1.0 : 1.0;
    r[m++] = over > 0.0 ? Dual{kBoundWeight * over, kBoundWeight * s * a[k].d} : Dual{0.0, 0.0};
    // Nor the other way than the target (beyond the margin): the rows beside it would then
    // have to turn the fold over within the end span. A grid line's shared size has no way of
    // its own to keep.
    const double ts = c.target[k] < 0.0 ? -1.0 : 1.0;
    const double against = -ts * a[k].v - kCreaseEndMargin * kRadian;
    r[m++] = against > 0.0 && c.target[k] != 0.0 && !c.shared[k] ? Dual{kBoundWeight * against, -kBoundWeight * ts * a[k].d}
                                                : Dual{0.0, 0.0};
  }
  for (int j = 0; j < 2 * c.K; ++j) r[m++] = {kTurnWeight * x[j], seed == j ? kTurnWeight : 0.0};
  return m;
}

double SumOfSquares(const Dual* r, int m) {
  double s = 0.0;
  for (int i = 0; i < m; ++i) s += r[i].v * r[i].v;
  return s;
}

// The other half of edge end k's grid line at a four-way corner: the edge end whose two
// surfaces are neither of k's; -1 elsewhere.
int GridLinePartner(const CornerSolve& c, int k) {
  if (c.K != 4) return -1;
  const int a = c.slots[2 * k].srf, b = c.slots[2 * k + 1].srf;
  for (int q = 0; q < c.K; ++q) {
    const int p = c.slots[2 * q].srf, r = c.slots[2 * q + 1].srf;
    if (q != k && p != a && p != b && r != a && r != b) return q;
  }
  return -1;
}

// Closed, the two halves of a grid line through a four-way corner fold there by one angle (to
// first order), whatever angles they started with; the measure of a crease is the size of its
// angle, not its way. Each half then aims at one size, the one nearest both aims (their mean),
// but at most a quarter of a degree above the largest starting angle of either half (so within a
// degree of both where they began within 1.25 of each other), and at the way the corner folds
// now, so that no direction turns over.
void AimGridLinesAtSharedAngles(CornerSolve* c, const double* x, const Dual* now) {
  double grad[kCornerSlots / 2][kMaxUnknowns];
  for (int j = 0; j < 2 * c->K; ++j) {
    Dual d[kCornerSlots / 2];
    if (!CornerAngles(*c, x, j, d)) return;
    for (int k = 0; k < c->K; ++k) grad[k][j] = d[k].d;
  }
  for (int k = 0; k < c->K; ++k) {
    const int q = GridLinePartner(*c, k);
    if (q < k) continue;
    const EdgeInfoStruct* ek = c->slots[2 * k].e;
    const EdgeInfoStruct* eq = c->slots[2 * q].e;
    if (IsG1Paired(ek) || IsG1Paired(eq)) continue;
    // Whether the two halves' angles rise together or oppositely as the directions turn.
    double dot = 0.0;
    for (int j = 0; j < 2 * c->K; ++j) dot += grad[k][j] * grad[q][j];
    const double together = dot < 0.0 ? -1.0 : 1.0;
    const double mk = std::fabs(c->target[k]), mq = std::fabs(c->target[q]);
    double size = 0.5 * (mk + mq);
    size = std::min({size, c->bound[k] - kCreaseAimMargin, c->bound[q] - kCreaseAimMargin});
    const double way = now[k].v + together * now[q].v;
    const double sk = way != 0.0 ? (way < 0.0 ? -1.0 : 1.0) : (c->target[k] < 0.0 ? -1.0 : 1.0);
    c->target[k] = sk * size;
    c->target[q] = together * sk * size;
    c->shared[k] = c->shared[q] = 1;
  }
}

// Where creases meet at a corner, each crease keeps there the angle it started with, as far as the
// corner allows: the angle it had a tenth of its length away, where its inside begins, or the
// flattest it was between a twentieth and a tenth where it dipped there (startCornerAim). At the
// corner itself a seam's start also carries the spike of jittered corner copies, which no closed
// corner keeps; aimed at it, the kink would spread from the end into the crease. Once the seams
// close, every surface's normal at the corner is the product of its two end tangents, so the
// corner's angles are functions of the seams' end directions (two freedoms each).
// Levenberg-Marquardt on the directions, from the seams' common tangents, seeks that angle of each
// crease (signed, so a fold keeps its way) and 0 for a smooth seam, with the least turn, and holds
// every end below what its seam may reach: a crease its largest starting angle plus
// kCreaseEndMargin, a smooth seam kSmoothCornerRise. The two halves of a grid line through a
// four-way corner nearly share one angle there (to first order the crossing line's kink; they part
// by the tangent of an in-plane turn times the crossing line's angle), so there both aim at one
// size (AimGridLinesAtSharedAngles).
// With `scale` below 1 every crease aims at that share of its starting angle only. 1 when the
// corner took the directions; 0 when the solve did no better than turning towards one plane (or
// some seam lacks its start).
int KeepCreaseCornerAngles(const CornerSlot* slots, int n, double scale) {
  CornerSolve c{};
  c.slots = slots;
  c.n = n;
  c.K = n / 2;
  for (int k = 0; k < c.K; ++k) {
    const CornerSlot& a = slots[2 * k];
    const EdgeInfoStruct* e = a.e;
    if (!e->startSet || UnitOrZero(e->tan[a.slot], c.D0[k]) < kTiny) return 0;
    // Two directions across D0.
    double any[3] = {1.0, 0.0, 0.0};
    if (std::fabs(c.D0[k][0]) > 0.6) any[0] = 0.0, any[1] = 1.0;
    double b[3];
    cross_product(c.D0[k], any, b);
    UnitOrZero(b, c.B1[k]);
    cross_product(c.D0[k], c.B1[k], c.B2[k]);
    const int end = a.slot >= 2 ? 1 : 0;
    const bool crease = !IsG1Paired(e);
    c.target[k] = crease ? scale * e->startCornerAim[end] : 0.0;
    c.bound[k] = crease ? e->startMaxAngle + kCreaseEndMargin : kSmoothCornerRise;
    c.weight[k] = crease ? 1.0 : 10.0;
  }
  for (int i = 0; i < n; ++i) {
    int j = 0;
    while (j < n && (j == i || slots[j].srf != slots[i].srf)) ++j;
    if (j == n) return 0;
    c.mate[i] = j;
    c.sign[i] = VecDotProd3(slots[i].e->tan[slots[i].slot], c.D0[i / 2]) < 0.0 ? -1.0 : 1.0;
    c.side[i] = 1.0;
  }
  double x[kMaxUnknowns] = {}, t[kCornerSlots][3], m[kCornerSlots][3];
  Dual a[kCornerSlots / 2];
  if (!CornerAngles(c, x, -1, a, t, m)) return 0;
  for (int i = 0; i < n; ++i)
    if (VecDotProd3(m[i], slots[i].e->nrm[slots[i].slot]) < 0.0) c.side[i] = -1.0;
  if (!CornerAngles(c, x, -1, a, t, m)) return 0;
  for (int k = 0; k < c.K; ++k) c.flip[k] = VecDotProd3(m[2 * k], m[2 * k + 1]) < 0.0 ? -1.0 : 1.0;
  AimGridLinesAtSharedAngles(&c, x, a);

  const int U = 2 * c.K;
  Dual r[kMaxResiduals];
  double J[kMaxResiduals][kMaxUnknowns], rv[kMaxResiduals];
  auto linearise = [&](const double* at) {
    int rows = 0;
    for (int j = 0; j < U; ++j) {
      rows = CornerResiduals(c, at, j, r);
      if (rows == 0) return 0;
      for (int i = 0; i < rows; ++i) J[i][j] = r[i].d;
    }
    for (int i = 0; i < rows; ++i) rv[i] = r[i].v;
    return rows;
  };
  int rows = linearise(x);
  if (rows == 0) return 0;
  double cost = SumOfSquares(r, rows), lambda = 1e-3;
  double A[kMaxUnknowns][kMaxUnknowns], g[kMaxUnknowns], step[kMaxUnknowns], trial[kMaxUnknowns];
  double* Arows[kMaxUnknowns];
  for (int j = 0; j < U; ++j) Arows[j] = A[j];
  for (int it = 0; it < 60 && lambda < 1e10; ++it) {
    for (int p = 0; p < U; ++p) {
      g[p] = 0.0;
      for (int i = 0; i < rows; ++i) g[p] -= J[i][p] * rv[i];
      for (int q = 0; q < U; ++q) {
        double s = 0.0;
        for (int i = 0; i < rows; ++i) s += J[i][p] * J[i][q];
        A[p][q] = s;
      }
    }
    for (int p = 0; p < U; ++p) A[p][p] *= 1.0 + lambda;
    if (SolveLinearSystem_ff(Arows, U, g, step) != 0) {
      if (KernelFailed()) return -2;
      lambda *= 10.0;
      continue;
    }
    double largest = 0.0;
    for (int j = 0; j < U; ++j) {
      trial[j] = x[j] + step[j];
      largest = std::max(largest, std::fabs(step[j]));
    }
    const int got = CornerResiduals(c, trial, -1, r);
    const double tc = got ? SumOfSquares(r, got) : HUGE_VAL;
    if (tc < cost) {
      std::memcpy(x, trial, sizeof(double) * U);
      cost = tc;
      lambda = std::max(0.3 * lambda, 1e-9);
      if (largest < 1e-10 || (rows = linearise(x)) == 0) break;
    } else {
      lambda *= 10.0;
    }
  }
  if (!CornerAngles(c, x, -1, a, t, m)) return 0;
  // Taken only when every end stays within its bound, no direction turns too far, and the
  // creases end nearer their starting angles than in one plane (where every angle is 0).
  double misfit = 0.0, flat = 0.0;
  for (int k = 0; k < c.K; ++k) {
    const double deg = a[k].v / kRadian;
    if (std::fabs(deg) > c.bound[k] + 1e-9 || std::hypot(x[2 * k], x[2 * k + 1]) > kMaxCornerTurn) return 0;
    misfit += c.weight[k] * std::fabs(deg - c.target[k]);
    flat += c.weight[k] * std::fabs(c.target[k]);
  }
  if (misfit >= flat) return 0;
  for (int i = 0; i < n; ++i) {
    Copy3(t[i], slots[i].e->tan[slots[i].slot]);
    Copy3(m[i], slots[i].e->nrm[slots[i].slot]);
  }
  return 1;
}

// Where creases meet other seams at a corner (seams beyond the angle limit, closed in position
// only), each surface's normal at the corner follows, once the seams close, from the end tangents
// of its two seams alone. With each seam's own common tangent the ends need not keep their angles:
// the two halves of a grid line through a jittered corner end (to first order) with one angle
// there, so the half that began flatter rises (by more than a degree on rough grids, enough for
// its surfaces to step back and leave their seams open), and a smooth seam between two creases
// kinks. Where that would happen, the end tangents are turned towards the plane of the surfaces'
// mean normal, just so far (bisected) that no end rises beyond its slack; in that plane every
// surface has the same normal. The turn scales each tangent's part along the mean normal, a linear
// map, so surfaces whose tangents shared a plane (a smooth seam's sides) still share one. Where
// the seams' tangents keep the surfaces' normals (a fold through the corner, two folds crossing,
// the corner of a box) they stay as they are. Creases keep their angles at the corner first where
// KeepCreaseCornerAngles finds directions that do; a corner marked flat once (keeping its angles
// made a crease rise) keeps 0.4 of them, one marked twice is laid into the plane outright.
int TurnCornerTangentsTowardsOnePlane(BndrStruct* bs, int corner) {
  CornerSlot slots[kCornerSlots];
  int n = 0, creases = 0;
  const int found = CollectCornerSlots(bs, corner, slots, &n, &creases);
  if (found <= 0) return found;
  if (creases < 1) return 0;
  const int flat = bs->corners[corner].flat;
  const int kept = flat >= 2 ? 0 : KeepCreaseCornerAngles(slots, n, flat == 1 ? kSoftenedCrease : 1.0);
  if (kept != 0) return kept < 0 ? -2 : 0;
  // The mean normal, and each tangent split into its part in that plane and its part along it.
  double sum[3] = {0, 0, 0}, ref[3], N[3];
  int cnt = 0;
  if (UnitOrZero(slots[0].e->nrm[slots[0].slot], ref) < kTiny) return 0;
  for (int i = 0; i < n; ++i) AddOneNormalizedVecToSumVec(ref, slots[i].e->nrm[slots[i].slot], sum, &cnt);
  if (cnt == 0 || UnitOrZero(sum, N) < kTiny) return 0;
  double inPlane[kCornerSlots][3], along[kCornerSlots];
  for (int i = 0; i < n; ++i) {
    const double* t = slots[i].e->tan[slots[i].slot];
    along[i] = VecDotProd3(t, N);
    for (int k = 0; k < 3; ++k) inPlane[i][k] = t[k] - along[i] * N[k];
    if (VecSize3(inPlane[i]) < kTiny) return 0;
  }
  double t[kCornerSlots][3], m[kCornerSlots][3];
  // Tangents with the part along N scaled by s (1: as they are, 0: in the plane), and whether
  // with them some end rises beyond its slack (or a surface's tangents fall parallel).
  auto rises = [&](double s) {
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < 3; ++k) t[i][k] = inPlane[i][k] + s * along[i] * N[k];
      UnitOrZero(t[i], t[i]);
    }
    if (!CornerNormalsFromTangents(slots, n, t, m)) return true;
    for (int i = 0; i < n; ++i) {
      const CornerSlot& c = slots[i];  // slots i and i ^ 1 are the two sides of one edge end
      // Held to the angle of the seam's stored normals there: a kink's own, none where the two
      // sides differed by a twist (they took a common normal), which no closed seam keeps.
      // Held to the surfaces' own normals instead, twisted ends would keep a little more of their
      // angle but leave sides of rough grids open.
      const double slack = IsG1Paired(c.e) ? kSmoothCornerRise : kCreaseCornerRise;
      const double before = FoldedAngle(c.e->nrm[c.slot], c.e->nrm[c.other]);
      if (FoldedAngle(m[i], m[i ^ 1]) > before + slack) return true;
    }
    return false;
  };
  // A corner marked flat twice: keeping even 0.4 of its creases' angles made one rise, and its
  // seams closed meanwhile, so their normals there no longer tell what the corner began with;
  // laid into the plane, the corner's ends all end flat.
  if (flat >= 2) {
    for (int i = 0; i < n; ++i) {
      for (int k = 0; k < 3; ++k) t[i][k] = inPlane[i][k];
      UnitOrZero(t[i], t[i]);
    }
    if (!CornerNormalsFromTangents(slots, n, t, m)) return 0;
    for (int i = 0; i < n; ++i) {
      Copy3(t[i], slots[i].e->tan[slots[i].slot]);
      Copy3(m[i], slots[i].e->nrm[slots[i].slot]);
    }
    return 0;
  }
  if (!rises(1.0)) return 0;
  double lo = 0.0, hi = 1.0;
  if (rises(lo)) return 0;
  for (int it = 0; it < 30; ++it) {
    const double mid = 0.5 * (lo + hi);
    (rises(mid) ? hi : lo) = mid;
  }
  rises(lo);
  // Each slot takes its tangent and its surface's normal from them.
  for (int i = 0; i < n; ++i) {
    Copy3(t[i], slots[i].e->tan[slots[i].slot]);
    Copy3(m[i], slots[i].e->nrm[slots[i].slot]);
  }
  return 0;
}

}  // namespace

// ---- whole set-up -----------------------------------------------------------------------------------

int SetUpBndrEdgeCornerGeometry(BndrStruct* bs) {
  if (!bs) return -2;
  if (EvalAllBndrCrvCurve3Form(bs) != 0) return -2;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (EvalBndrEdgeEndPoints(e) != 0 || EvalBndrEdgeEndTangents(e) != 0 || EvalBndrEdgeEndNormals(e) != 0)
      return -2;
    if (RecordEdgeStart(e) != 0) return -2;
  }
  if (SetUpBndrCornerPositions(bs) != 0) return -2;
  if (SetUpBndrAllCornerNormals(bs) != 0) return -2;
  for (int i = 0; i < bs->nEdge; ++i) {
    if (ProjectBndrEdgeEndTangents(&bs->edges[i]) != 0) return -2;
    if (SetG1EdgeWithtrimCurveEndTangents(&bs->edges[i]) != 0) return -2;
  }
  for (int c = 0; c < bs->nCorner; ++c)
    if (TurnCornerTangentsTowardsOnePlane(bs, c) != 0) return -2;
  for (int c = 0; c < bs->nCrv; ++c)
    if (ModifyBndrCrvG0EdgesEndTangents(bs, c) != 0) return -2;
  if (SetAllEdgesNubVals(bs) != 0) return -2;
  TrackingScope scope;  // the averaged arrays are kept by their own step
  int result = 0;
  for (int i = 0; i < bs->nEdge; ++i)
    if (ComputeBndrEdgeAvgSamplePnts(&bs->edges[i]) != 0) result = -2;
  return result;
}

int RefineBndrCornerPositions(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nEdge; ++i) {
    EdgeInfoStruct* e = &bs->edges[i];
    if (e->nSample < 1 || !e->avgX || !e->avgY || !e->avgZ) continue;
    const int fixed[2] = {0, e->nSample - 1};
    if (FairPolylineLambdaGamma(e->avgX, e->avgY, e->avgZ, e->nSample, fixed, 2, 1, 0, 0.2, -0.21, 20,
                                0.0) != 0)
      return -2;
  }
  for (int c = 0; c < bs->nCorner; ++c) {
    const CornerInfoStruct* ci = &bs->corners[c];
    if (ci->nEdge < 3) continue;
    double d[3] = {0, 0, 0};
    int cnt = 0;
    for (int k = 0; k < ci->nEdge; ++k) {
      const int id = ci->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) continue;
      const EdgeInfoStruct* e = &bs->edges[id];
      if (e->nSample < 3 || !e->avgX || !e->avgY || !e->avgZ) continue;
      for (int end = 0; end < 2; ++end) {
        if ((end == 0 ? e->corner0 : e->corner1) != c) continue;
        const int i = end == 0 ? 1 : e->nSample - 2;
        d[0] += e->avgX[i] - ci->pos[0];
        d[1] += e->avgY[i] - ci->pos[1];
        d[2] += e->avgZ[i] - ci->pos[2];
        ++cnt;
      }
    }
    if (cnt == 0) continue;
    SetBndrInfoCornerPosition(bs, c, ci->pos[0] + 0.5 * d[0] / cnt, ci->pos[1] + 0.5 * d[1] / cnt,
                              ci->pos[2] + 0.5 * d[2] / cnt);
  }
  return 0;
}
