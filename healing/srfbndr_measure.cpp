// Boundary structure of a surface group: basis-value tables of the edge samples, the averaged
// targets (points and normals), the continuity classification and measures of the edges, and the
// plane the nets' first legs at a corner lie closest to.
#include "healing/srfbndr.h"

#include <algorithm>
#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/knots.h"
#include "foundation/eigen.h"
#include "healing/srfbndr_internal.h"

using namespace srfbndr_internal;

namespace {

// A sample a rounding away from a tenth (or nine tenths) of its edge still lies inside it.
constexpr double kInsideMargin = 1e-9;

}  // namespace

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

// The mean length of a side's legs across its net, from the boundary row to the row inside: how
// far that row moves to turn the side's normal by a given angle. -1 where there is no row inside
// to turn (two rows across: the next is the opposite boundary).
double AcrossLeg(const CrvInfoStruct* c) {
  const Bspline* s = c ? (c->srfInfo && c->srfInfo->srf ? c->srfInfo->srf : c->srf) : nullptr;
  if (!s || !s->X || c->side < 1 || c->side > 4) return -1.0;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  const bool alongU = c->side == 2 || c->side == 4;
  const int across = alongU ? nv : nu, along = alongU ? nu : nv;
  if (across < 3 || along < 1) return -1.0;
  const int r0 = c->side == 1 || c->side == 2 ? 0 : across - 1, r1 = r0 == 0 ? 1 : across - 2;
  double sum = 0.0;
  for (int m = 0; m < along; ++m) {
    const int j0 = alongU ? r0 : m, k0 = alongU ? m : r0, j1 = alongU ? r1 : m, k1 = alongU ? m : r1;
    const double d[3] = {s->X[j1][k1] - s->X[j0][k0], s->Y[j1][k1] - s->Y[j0][k0], s->Z[j1][k1] - s->Z[j0][k0]};
    sum += VecSize3(d);
  }
  return sum / along;
}

// The share of side A's normal in the normal both sides of a smooth seam are turned to. Each side
// turns by moving its row inside, its legs across times the angle: the side whose legs are the
// longer (a coarse net, or one with no row inside to move) keeps nearly its own normal and the
// finer net follows it, so that neither moves its row farther than the other. Turned alike, a
// coarse strip's rows far from the seam swing through many times the gap, chasing the rough
// normals of a dense neighbour.
double SideAShare(const EdgeInfoStruct* e) {
  const double a = AcrossLeg(e->infoA), b = AcrossLeg(e->infoB);
  if (a < 0.0 || b < 0.0) return a < 0.0 && b < 0.0 ? 0.5 : a < 0.0 ? 1.0 : 0.0;
  return a + b > 0.0 ? a / (a + b) : 0.5;
}

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
  const double shareA = g1 && e->infoB ? SideAShare(e) : 1.0;
  for (int end = 0; end < 2; ++end) {
    double sum[3];
    UnitOrZero(e->nrm[BndrSlot(0, end)], sum);
    const bool withB = g1 && (end == 0 || !IsOuterFixedBndrEdge(e));
    if (withB) {
      double ref[3];
      Copy3(sum, ref);
      double other[3];
      UnitOrZero(e->nrm[MatchSlot(e, end)], other);
      const double sgn = VecDotProd3(ref, other) < 0.0 ? -1.0 : 1.0;
      for (int k = 0; k < 3; ++k) sum[k] = shareA * ref[k] + (1.0 - shareA) * sgn * other[k];
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
    UnitOrZero(nb, nb);
    const double sgn = VecDotProd3(na, nb) < 0.0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k) v[k] = shareA * na[k] + (1.0 - shareA) * sgn * nb[k];
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

double SmoothSeamShareA(const EdgeInfoStruct* e) { return e && e->infoB ? SideAShare(e) : 1.0; }

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

namespace {

// Carried back to the seam from a few spans in, the sides' slopes keep the net's noise there,
// doubled by the carrying: a crease is taken as smooth by them only well within the angle limit.
constexpr double kSlopeShare = 0.5;
// How many knot spans in the slopes are read: enough for the noise of one leg to average out.
constexpr int kSlopeSpans = 8;

// Distinct knot spans of a knot vector within [lo, hi].
int SpansWithin(const double* k, int count, double lo, double hi) {
  int spans = 0;
  for (int i = 0; i + 1 < count; ++i) spans += k[i] >= lo && k[i + 1] <= hi && k[i + 1] > k[i];
  return spans;
}

// v made unit in place; false for a vector of no length (any length counts: chords of a part a
// millionth of a unit wide are that short).
bool MakeUnit(double v[3]) {
  const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  for (int k = 0; k < 3; ++k) v[k] /= len;
  return true;
}

// A natural side's slope across the seam at t, taken a few knot spans in and carried back to the
// seam, with the seam's direction `along` taken out (unit; false where it cannot be had). With
// chords c(h), c(2 h) from the seam point to the points h and 2 h in, 2 c(h) - c(2 h) cancels the
// turn of a curved side over h (exactly on a circle), and the chords reach past the first leg of
// a dense net, which noise on a boundary row tilts by degrees where the net's rows lie close.
bool CrossSlopeIn(const CrvInfoStruct* crv, double t, const double along[3], double out[3]) {
  const Bspline* s = crv ? crv->srf : nullptr;
  if (!s || crv->side < 1 || crv->side > 4) return false;
  const bool acrossU = crv->side == 1 || crv->side == 3;
  const double lo = acrossU ? s->umin : s->vmin, hi = acrossU ? s->umax : s->vmax;
  const int spans = acrossU ? SpansWithin(s->knotsU, NumKnotsU(s), lo, hi) : SpansWithin(s->knotsV, NumKnotsV(s), lo, hi);
  // Eight spans in, where eight spans are at most a quarter of the side: on a coarser net the
  // first leg is no short step, and the side's own normal reads the seam.
  if (spans < 4 * kSlopeSpans || !(hi > lo)) return false;
  const double h = (hi - lo) * kSlopeSpans / spans;
  const double start = crv->side <= 2 ? lo : hi, dir = crv->side <= 2 ? 1.0 : -1.0;
  double p[3][3];
  for (int k = 0; k < 3; ++k) {
    const double c = start + dir * h * k;
    Eval3DPointOnSurfArray(s, acrossU ? c : t, acrossU ? t : c, 0, 0, p[k]);
  }
  if (KernelFailed()) return false;
  double c1[3], c2[3];
  for (int k = 0; k < 3; ++k) c1[k] = p[1][k] - p[0][k], c2[k] = p[2][k] - p[0][k];
  if (!MakeUnit(c1) || !MakeUnit(c2)) return false;
  for (int k = 0; k < 3; ++k) out[k] = 2.0 * c1[k] - c2[k];
  const double d = out[0] * along[0] + out[1] * along[1] + out[2] * along[2];
  for (int k = 0; k < 3; ++k) out[k] -= d * along[k];
  return MakeUnit(out);
}

}  // namespace

int BndrEdgeInsideSlopeDiff(const EdgeInfoStruct* e, double* angle) {
  if (!e || !angle) return -2;
  *angle = 0.0;
  if (!IsPaired(e) || e->nSample < 1 || !e->sampleA || !e->sampleB) return 0;
  const double lo = std::min(e->par[0], e->par[2]), hi = std::max(e->par[0], e->par[2]);
  if (!(hi > lo)) return 0;
  // Trim curves have no rows across them to read.
  if (e->infoA->side < 1 || e->infoA->side > 4 || e->infoB->side < 1 || e->infoB->side > 4) return 1;
  int measured = 0;
  for (int i = 0; i < e->nSample; ++i) {
    const double f = (e->sampleA[i] - lo) / (hi - lo);
    if (f < 0.1 - kInsideMargin || f > 0.9 + kInsideMargin) continue;
    double along[3], a[3], b[3];
    if (EvalTangentOnBndryCrv(e->infoA, e->sampleA[i], along) != 0) return -2;
    if (VecSize3(along) < kTiny || !CrossSlopeIn(e->infoA, e->sampleA[i], along, a) ||
        !CrossSlopeIn(e->infoB, e->sampleB[i], along, b)) {
      *angle = 0.0;
      return KernelFailed() ? -2 : 1;
    }
    // Smooth across, the two slopes point away from each other.
    *angle = std::max(*angle, 180.0 - FindAngleVectors3(a, b));
    ++measured;
  }
  return measured ? 0 : 1;
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
  // Beyond the angle limit only in the first legs of the nets across it: noise on a dense net's
  // boundary rows kinks a smooth seam by degrees there, while a few spans in the sides run on
  // into each other.
  if (e->continuity == 0 && !e->smoothInside && BndrEdgeInsideSlopeDiff(e, &inside) == 0)
    e->smoothInside = inside <= kSlopeShare * angleTol;
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

// ===== corner planes ==============================================================================

namespace {

// The first legs of a half-edge's surface net at its end, a corner of the net: along its side, from
// the side's end point to the next one, and across, from that point to the second row. Both lie in
// the surface's tangent plane there as far as the net follows it. false for a trim curve, a net too
// small, or an end inside the side (another surface's corner on it), where no leg of the net starts.
bool HalfEdgeLegs(const BndrStruct* bs, const BndrHalfEdge* h, double along[3], double across[3]) {
  const EdgeInfoStruct* e = &bs->edges[h->edge];
  const CrvInfoStruct* c = SideCrv(e, h->side);
  const Bspline* s = c && c->srfInfo ? c->srfInfo->srf : nullptr;
  const Bspline* k = c ? c->crv3 : nullptr;
  if (!s || !k || !k->knotsU || c->side < 1 || c->side > 4 || !s->X) return false;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s), p = k->degreeU;
  const bool alongV = c->side == 1 || c->side == 3;
  const int n = alongV ? nv : nu;
  if (n < 2 || (alongV ? nu : nv) < 2 || NumCtrlU(k) != n || p < 1) return false;
  const double t = e->par[h->side == 0 ? BndrSlot(0, h->end) : MatchSlot(e, h->end)];
  int j = 0;
  double best = -1.0;
  for (int i = 0; i < n; ++i) {
    const double d = std::fabs(GrevilleAbscissa(k->knotsU, p + 1, i) - t);
    if (best < 0.0 || d < best) best = d, j = i;
  }
  if (j != 0 && j != n - 1) return false;
  const int jn = j == 0 ? 1 : n - 2;
  const int edge = c->side == 1 || c->side == 2 ? 0 : (alongV ? nu : nv) - 1;
  const int inner = edge == 0 ? 1 : edge - 1;
  auto at = [&](int a, int b, double out[3]) {  // a along the side, b across it
    const int row = alongV ? a : b, col = alongV ? b : a;
    out[0] = s->X[row][col], out[1] = s->Y[row][col], out[2] = s->Z[row][col];
  };
  double o[3], q[3], r[3];
  at(j, edge, o);
  at(jn, edge, q);
  at(j, inner, r);
  for (int i = 0; i < 3; ++i) along[i] = q[i] - o[i], across[i] = r[i] - o[i];
  return true;
}

}  // namespace

namespace srfbndr_internal {

// The normal of the plane the legs of a group's surfaces at a corner lie closest to, each leg's
// direction weighted by its length: noise of a given size tilts a short leg farther than a long one,
// and turning a long leg into another plane moves a coarse net's inner points its length times the
// turn, where a fine net follows the same turn by a fraction of that. So the finer net follows the
// coarser where a side of one span and degree 4 or more starts: its first leg is a fifth of the
// side or more, and its inner points swing across the seam to follow a turn of it (a closed
// quintic cylinder of one span along its own seam beside a torus fillet whose rows lie a hundredth
// of that apart). false, and the plain mean stands, at any other corner, at one a crease or a free
// side meets (their sides keep their own normals at their ends), at a corner inside a side, and
// where the legs leave no one plane.
bool LegPlaneNormal(const BndrStruct* bs, const BndrHalfEdge* he, const int* group, int n, double normal[3]) {
  double m[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  bool singleSpan = false;
  for (int k = 0; k < n; ++k) {
    if (!group[k]) continue;
    const EdgeInfoStruct* e = &bs->edges[he[k].edge];
    if (!IsPaired(e) || !IsG1Paired(e)) return false;
    const CrvInfoStruct* c = SideCrv(e, he[k].side);
    singleSpan = singleSpan || (c->crv3 && c->crv3->interiorU == 0 && c->crv3->degreeU >= 4);
    double legs[2][3];
    if (!HalfEdgeLegs(bs, &he[k], legs[0], legs[1])) return false;
    for (const auto& l : legs) {
      const double len = VecSize3(l);
      if (!(len > 0.0)) continue;
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) m[a][b] += l[a] * l[b] / len;
    }
  }
  double w[3];
  return singleSpan && SymEigen3Smallest(m, w, normal) == 0 && w[2] > 0.0 && UnitOrZero(normal, normal) >= kTiny;
}

}  // namespace srfbndr_internal
