// Boundary structure of a surface group: the geometry at the ends of edges and at corners
// (end points, normals and tangents, corner positions and normals, crease corner angles).
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/ctrlnubs.h"
#include "foundation/solvmat.h"
#include "healing/srfbndr_internal.h"
#include "shrinkwrap/csmooth.h"

using namespace srfbndr_internal;

namespace {

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

}  // namespace

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

namespace {

// The surfaces a corner joins: those with a side paired at it. A surface whose sides there are
// all free keeps its own corner point: ends of two faces that come within the largest gap of
// each other but share no seam there (a box's corner a little off its neighbour's, whose band
// face is not in the group) are not pulled together, which would tilt both faces' free sides.
// A corner with no paired side joins only the surface of its first edge; one with more
// surfaces than are counted takes every end (`all`).
struct JoinedAtCorner {
  static constexpr int kMost = 32;
  const SrfInfoStruct* srf[kMost];
  int n = 0;
  bool all = false;
  bool Collect(const BndrStruct* bs, const CornerInfoStruct* ci) {
    for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
      const int id = ci->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) return false;
      const EdgeInfoStruct* e = &bs->edges[id];
      if (!IsPaired(e)) continue;
      for (const CrvInfoStruct* side : {e->infoA, e->infoB}) {
        if (!side || Has(side->srfInfo)) continue;
        if (n == kMost) {
          all = true;
          return true;
        }
        srf[n++] = side->srfInfo;
      }
    }
    if (n == 0 && ci->edgeIds && ci->nEdge > 0) srf[n++] = bs->edges[ci->edgeIds[0]].infoA->srfInfo;
    return true;
  }
  bool Has(const SrfInfoStruct* s) const {
    for (int i = 0; i < n; ++i)
      if (srf[i] == s) return true;
    return false;
  }
  bool Takes(const EdgeInfoStruct* e) const { return all || (e->infoA && Has(e->infoA->srfInfo)); }
};

// SetBndrInfoCornerPosition, on the ends of the edges `joined` takes only when given.
void PlaceCorner(BndrStruct* bs, int corner, const double p[3], const JoinedAtCorner* joined) {
  CornerInfoStruct* ci = &bs->corners[corner];
  Copy3(p, ci->pos);
  for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    EdgeInfoStruct* e = &bs->edges[id];
    if (joined && !joined->Takes(e)) continue;
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner) continue;
      Copy3(p, e->pnt[BndrSlot(0, end)]);
      Copy3(p, e->pnt[MatchSlot(e, end)]);
      if (e->nSample > 0 && e->avgX && e->avgY && e->avgZ) {
        const int i = end == 0 ? 0 : e->nSample - 1;
        e->avgX[i] = p[0];
        e->avgY[i] = p[1];
        e->avgZ[i] = p[2];
      }
    }
  }
}

}  // namespace

int SetUpBndrCornerPositions(BndrStruct* bs) {
  if (!bs) return -2;
  for (int i = 0; i < bs->nEdge; ++i) SetBndrEdgeAvgEndPoints(&bs->edges[i]);
  for (int c = 0; c < bs->nCorner; ++c) {
    const CornerInfoStruct* ci = &bs->corners[c];
    double all[3] = {0, 0, 0}, fixed[3] = {0, 0, 0};
    int nAll = 0, nFixed = 0, nHeld = 0;
    JoinedAtCorner joined;
    if (!joined.Collect(bs, ci)) return -2;
    for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
      const int id = ci->edgeIds[k];
      if (id < 0 || id >= bs->nEdge) return -2;
      const EdgeInfoStruct* e = &bs->edges[id];
      if (e->corner0 != c && e->corner1 != c) return -2;
      if (!joined.Takes(e)) continue;
      const CrvInfoStruct* A = e->infoA;
      const CrvInfoStruct* B = IsPaired(e) ? e->infoB : nullptr;
      const bool held = (A->side != 0 && IsTrim(B)) || A->side == 0 || A->fixed || (B && B->fixed);
      const bool isFixed = IsOuterFixedBndrEdge(e) || held;
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
        nHeld += held;
      }
    }
    if (nAll == 0) continue;
    double pos[3];
    for (int j = 0; j < 3; ++j) pos[j] = nFixed > 0 ? fixed[j] / nFixed : all[j] / nAll;
    // A side held only as part of the outer boundary keeps its tangency, not its corner (the mean
    // of such corners moves them all): a crease's corner goes where its faces meet there too.
    if (nHeld == 0 && !joined.all) CreaseCornerMeet(bs, ci, pos);
    PlaceCorner(bs, c, pos, &joined);
  }
  return 0;
}

int SetBndrInfoCornerPosition(BndrStruct* bs, int corner, double x, double y, double z) {
  if (!bs || corner < 0 || corner >= bs->nCorner) return -2;
  const double p[3] = {x, y, z};
  PlaceCorner(bs, corner, p, nullptr);
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

namespace {

int AverageCornerNormals(BndrStruct* bs, int corner, bool legPlane) {
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
    if (legPlane && fcnt == 0 && cnt > 1) {
      double fit[3];
      if (LegPlaneNormal(bs, he, adj + h * n, n, fit)) SetUnitVecOnSameSide(g, fit);
    }
    for (int k = 0; k < n; ++k) {
      if (adj[h * n + k] < 1) continue;
      SetHalfEdgeNormal(bs, &he[k], g);
      done[k] = 1;
    }
  }
  return 0;
}

}  // namespace

int SIAverageBndrTopoCornerNormals(BndrStruct* bs, int corner) { return AverageCornerNormals(bs, corner, false); }

int AverageBndrTopoCornerNormals(BndrStruct* bs, int corner) { return SIAverageBndrTopoCornerNormals(bs, corner); }

int SetUpBndrAllCornerNormals(BndrStruct* bs) {
  if (!bs || bs->nCorner <= 0) return -2;
  for (int c = 0; c < bs->nCorner; ++c) {
    // A corner left without edges has no normals to agree on; only a failed allocation stops.
    if (AverageCornerNormals(bs, c, true) != 0 && KernelFailed()) return -2;
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
// Samples between a twentieth and a tenth of an edge from which their median, not their flattest,
// is the noise's middle.
constexpr int kDenseAimWindow = 16;
// Within kCornerNoiseTilt (degrees) of its aim, a crease's end keeps within kCornerEndHold of its
// start: three quarters of the degree a crease may change, the rest for the samples beside it.
constexpr double kCornerNoiseTilt = 5.0;
constexpr double kCornerEndHold = 0.75;

// An end of a dense edge that the noise tilted a little off its inside (as it tilts the samples
// along it, not a spike of corner copies, which no closed corner keeps) is aimed at its inside
// only as far as keeps it within a degree of where it began.
double HeldNearStart(double aim, double from) {
  if (std::fabs(from - aim) > kCornerNoiseTilt) return aim;
  return std::clamp(aim, from - kCornerEndHold, from + kCornerEndHold);
}

// The seam as found: both ends' signed angles from the sides' own end normals and tangents
// (just evaluated), signed as one fold with the samples between them, and the largest angle of
// them all; of an unpaired edge, its side's end tangents.
int RecordEdgeStart(EdgeInfoStruct* e) {
  if (!e || e->startSet) return 0;
  // The end tangents are still the sides' own here: the corner rules turn them afterwards.
  for (int s = 0; s < 4; ++s) {
    UnitOrZero(e->tan[s], e->startTan[s]);
    UnitOrZero(e->nrm[s], e->startNrm[s]);
  }
  if (!IsPaired(e)) {
    // A free side keeps only its end tangents: the wrap holds its turn at the corners to them.
    e->startGap = 0.0;
    e->startSet = 1;
    return 0;
  }
  if (ComputeMaxBndrEdgeGap(e, &e->startGap, nullptr, nullptr) != 0) return -2;
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
  double* window = n > 0 ? MallocArray<double>(n) : nullptr;
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
      // On a dense edge the window holds many samples, and its flattest is the extreme of the
      // noise on the rows rather than a dip: the corner aims at their median there.
      int m = 0;
      for (int k = 0; k < count; ++k) {
        const double from = end ? 1.0 - at[k] : at[k];
        if (from >= kCornerAimFrom - kShareTol && from <= 0.1 + kShareTol) window[m++] = angle[k];
      }
      std::sort(window, window + m, [](double x, double y) { return std::fabs(x) < std::fabs(y); });
      const double aim = m >= kDenseAimWindow ? window[m / 2] : m > 0 ? window[0] : e->startCornerAim[end];
      if (std::fabs(aim) < std::fabs(e->startCornerAim[end])) e->startCornerAim[end] = aim;
      if (m >= kDenseAimWindow) e->startCornerAim[end] = HeldNearStart(e->startCornerAim[end], e->startEndAngle[end]);
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
    // Where both ends are aimed near where they began (HeldNearStart) and began within a degree
    // and a half of each other, the one size keeps each within a degree of its start.
    const double fk = std::fabs(c->slots[2 * k].e->startEndAngle[c->slots[2 * k].slot >= 2 ? 1 : 0]);
    const double fq = std::fabs(c->slots[2 * q].e->startEndAngle[c->slots[2 * q].slot >= 2 ? 1 : 0]);
    const double lo = std::max(fk, fq) - kCornerEndHold, hi = std::min(fk, fq) + kCornerEndHold;
    const double held = kCornerEndHold + kShareTol;
    if (lo <= hi && std::fabs(mk - fk) <= held && std::fabs(mq - fq) <= held) size = std::clamp(size, lo, hi);
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
