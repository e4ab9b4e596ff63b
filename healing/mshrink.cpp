// Positional wraps of boundary curves and the helpers the wraps and the tangential heal share.
#include "healing/mshrink.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/mshrink_internal.h"
#include "healing/srfbndr.h"
#include "splinefit/fitsplin.h"

using namespace mshrink_internal;

namespace mshrink_internal {

bool ValidCurve(const BndrStruct* bs, int curve) {
  return bs && bs->crvs && curve >= 0 && curve < bs->nCrv;
}

const EdgeInfoStruct* EdgeAt(const BndrStruct* bs, int id) {
  if (!bs || !bs->edges || id < 0 || id >= bs->nEdge) return nullptr;
  return &bs->edges[id];
}

// The curve's own side of the edge: 0 A, 1 B, -1 when the edge does not touch it.
int OwnSide(const EdgeInfoStruct* e, int curve) {
  if (!e) return -1;
  if (e->crvA == curve) return 0;
  if (e->crvB == curve && e->infoB) return 1;
  return -1;
}

bool IsG1Edge(const EdgeInfoStruct* e) { return IsBndrEdgeHealedSmooth(e) == 1; }

// The topology's surface of a curve (the record the heal writes into).
Bspline* SurfaceOf(const CrvInfoStruct* crv) {
  if (!crv) return nullptr;
  if (crv->srfInfo && crv->srfInfo->srf) return crv->srfInfo->srf;
  return crv->srf;
}

// A side the stitch may move: a natural side, neither held nor on a held outer boundary.
bool MovableSide(const CrvInfoStruct* c) { return c && c->side >= 1 && !c->fixed && !(c->outer && c->outerCont >= 0); }

// The share of its side's curve that a side of a paired edge covers.
double CoveredFraction(const EdgeInfoStruct* e, int side) {
  const CrvInfoStruct* c = side ? e->infoB : e->infoA;
  double t0 = 0.0, t1 = 0.0;
  if (!c || GetBndrCrvParamMinMax(c, &t0, &t1) != 0 || !(t1 > t0)) return 1.0;
  return std::fabs(e->par[BndrSlot(side, 1)] - e->par[BndrSlot(side, 0)]) / (t1 - t0);
}

// Whether a paired edge's two sides are of one degree and control-point count on knots that map
// onto one another (reversed where side B runs the other way).
bool SidesOnOneKnotVector(const EdgeInfoStruct* e) {
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
  return SidesOnOneKnotVector(e);
}

// ---- constraint records -----------------------------------------------------------------------
void ClearConstraint(LinearConstraint* c) {
  double** arrays[] = {&c->posPar, &c->posSpare, &c->posX,     &c->posY,  &c->posZ,
                       &c->normPar, &c->normSpare, &c->normX, &c->normY, &c->normZ};
  for (double** a : arrays) {
    if (*a) Free(*a);
    *a = nullptr;
  }
  c->nPos = 0;
  c->nNorm = 0;
}

// Replaces the record's position (pos != 0) or normal entries by copies of the n given ones.
int InstallEntries(LinearConstraint* c, bool pos, int n, const double* par, const double* x,
                   const double* y, const double* z) {
  double* a[4] = {};
  if (n > 0) {
    TrackingScope scope;
    for (double*& v : a) v = MallocArray<double>(std::max(n, 1));
    if (KernelFailed() || !a[0] || !a[1] || !a[2] || !a[3]) return -2;
    std::memcpy(a[0], par, sizeof(double) * n);
    std::memcpy(a[1], x, sizeof(double) * n);
    std::memcpy(a[2], y, sizeof(double) * n);
    std::memcpy(a[3], z, sizeof(double) * n);
    scope.keep();
  }
  double** slots[4] = {pos ? &c->posPar : &c->normPar, pos ? &c->posX : &c->normX,
                       pos ? &c->posY : &c->normY, pos ? &c->posZ : &c->normZ};
  for (int i = 0; i < 4; ++i) {
    if (*slots[i]) Free(*slots[i]);
    *slots[i] = a[i];
  }
  (pos ? c->nPos : c->nNorm) = n;
  return 0;
}

}  // namespace mshrink_internal

namespace {

// One corner of a curve: its parameter and the curve side's stored end geometry there.
struct CurveCorner {
  double t;
  double p[3];
  double n[3];
  double tg[3];
  const EdgeInfoStruct* e;
  int slot;
};

void TakeCorner(const EdgeInfoStruct* e, int side, int end, CurveCorner* out) {
  const int slot = BndrSlot(side, end);
  out->t = e->par[slot];
  out->e = e;
  out->slot = slot;
  for (int i = 0; i < 3; ++i) {
    out->p[i] = e->pnt[slot][i];
    out->n[i] = e->nrm[slot][i];
    out->tg[i] = e->tan[slot][i];
  }
}

// The largest gap any seam of the curve's surface had when the heal found it: the surface may
// move a few times that, and no more.
double LargestStartGapOfSurface(const BndrStruct* bs, const CrvInfoStruct* crv) {
  const SrfInfoStruct* si = crv ? crv->srfInfo : nullptr;
  double gap = 0.0;
  for (int k = 0; si && si->crvIds && k < si->nCrv; ++k) {
    const int id = si->crvIds[k];
    if (id < 0 || id >= bs->nCrv) continue;
    ForEachOwnEdge(bs, id, [&](const EdgeInfoStruct* e, int) {
      if (e->paired && e->startSet) gap = std::max(gap, e->startGap);
    });
  }
  return gap;
}

// The tangent tg (unit) turned back towards the side's start tangent `start` (unit) so that it
// lies within `cap` radians of it; false when tg was within already.
bool TurnWithin(const double start[3], double cap, double tg[3]) {
  double s[3] = {start[0], start[1], start[2]};
  if (VecDotProd3(s, tg) < 0.0)
    for (double& a : s) a = -a;
  const double c = std::clamp(VecDotProd3(s, tg), -1.0, 1.0), angle = std::acos(c);
  if (angle <= cap) return false;
  double w[3] = {tg[0] - c * s[0], tg[1] - c * s[1], tg[2] - c * s[2]};
  const double lw = VecSize3(w);
  if (!(lw > 0.0)) return false;
  for (int k = 0; k < 3; ++k) tg[k] = std::cos(cap) * s[k] + std::sin(cap) * w[k] / lw;
  return true;
}

// Legs from a second-row point to its two boundaries further apart in length than this are unlike.
constexpr double kUnlikeLegs = 4.0;
// A free side's end leg turned with its surface's own smooth seam moves its far point by at most
// this many times the surface's largest gap: the seam's own move comes on top of it, and the
// surface is to end within 3 x that gap of where it came.
constexpr double kGiveMoveShare = 1.5;

// Length of the leg across the side at its end nearer t: from the corner to the next point of
// the surface's other boundary there.
double AcrossLegLength(const CrvInfoStruct* crv, double t) {
  const Bspline* s = crv->srf;
  const Bspline* C = crv->crv3;
  if (!s || !C || crv->side < 1 || crv->side > 4) return 0.0;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  if (nu < 2 || nv < 2) return 0.0;
  const bool last = std::fabs(t - C->umax) < std::fabs(t - C->umin);
  int r0, c0, r1, c1;
  if (crv->side == 1 || crv->side == 3) {
    r0 = r1 = last ? nv - 1 : 0;
    c0 = crv->side == 1 ? 0 : nu - 1;
    c1 = crv->side == 1 ? 1 : nu - 2;
  } else {
    c0 = c1 = last ? nu - 1 : 0;
    r0 = crv->side == 2 ? 0 : nv - 1;
    r1 = crv->side == 2 ? 1 : nv - 2;
  }
  const double d[3] = {s->X[r1][c1] - s->X[r0][c0], s->Y[r1][c1] - s->Y[r0][c0], s->Z[r1][c1] - s->Z[r0][c0]};
  return VecSize3(d);
}

// Length of the curve's first or last leg, whichever ends nearer t.
double EndLegLength(const Bspline* C, double t) {
  const int n = C ? NumCtrlU(C) : 0;
  if (n < 2) return 0.0;
  const bool last = std::fabs(t - C->umax) < std::fabs(t - C->umin);
  const int i0 = last ? n - 1 : 0, i1 = last ? n - 2 : 1;
  const double d[3] = {C->X[0][i1] - C->X[0][i0], C->Y[0][i1] - C->Y[0][i0], C->Z[0][i1] - C->Z[0][i0]};
  return VecSize3(d);
}

// The angle by which the smooth seams of the free side's surface at the corner where edge e ends
// (end 0 or 1) turn that surface's normal there: each seam's two sides turn to a normal split by
// their legs across, so a net whose rows lie far apart keeps nearly its own. -1 where no smooth
// seam of that surface ends there, or where a crease of it does (its corner keeps its angles).
// *ownSeam says whether one of those seams is the surface's own (a closed surface's two sides).
double TurnItsSeamsGive(const BndrStruct* bs, const CrvInfoStruct* own, const EdgeInfoStruct* e, int end,
                        bool* ownSeam) {
  const int c = end ? e->corner1 : e->corner0;
  if (!own->srfInfo || c < 0 || c >= bs->nCorner) return -1.0;
  const CornerInfoStruct* ci = &bs->corners[c];
  double turn = -1.0;
  for (int k = 0; ci->edgeIds && k < ci->nEdge; ++k) {
    const int id = ci->edgeIds[k];
    if (id < 0 || id >= bs->nEdge) continue;
    const EdgeInfoStruct* f = &bs->edges[id];
    if (f == e || !f->paired || !f->startSet) continue;
    for (int fe = 0; fe < 2; ++fe) {
      if ((fe ? f->corner1 : f->corner0) != c) continue;
      for (int side = 0; side < 2; ++side) {
        const CrvInfoStruct* mine = side ? f->infoB : f->infoA;
        if (!mine || mine->srfInfo != own->srfInfo) continue;
        if (IsBndrEdgeHealedSmooth(f) != 1) return -1.0;
        const CrvInfoStruct* across = side ? f->infoA : f->infoB;
        *ownSeam = *ownSeam || (across && across->srfInfo == own->srfInfo);
        const double* no = f->startNrm[BndrMatchedSlot(f, side, fe)];
        const double* nx = f->startNrm[BndrMatchedSlot(f, 1 - side, fe)];
        if (VecSize3(no) < 0.5 || VecSize3(nx) < 0.5) return -1.0;
        const double shareA = SmoothSeamShareA(f), w = side ? 1.0 - shareA : shareA;
        const double sgn = VecDotProd3(no, nx) < 0.0 ? -1.0 : 1.0;
        double aim[3];
        for (int q = 0; q < 3; ++q) aim[q] = w * no[q] + (1.0 - w) * sgn * nx[q];
        const double len = VecSize3(aim);
        if (len < kTiny) return -1.0;
        turn = std::max(turn, std::acos(std::clamp(VecDotProd3(no, aim) / len, -1.0, 1.0)));
      }
    }
  }
  return turn;
}

// How far the tangent at corner k may turn from where the seam began there: the seam's start
// tangent (its two sides' own, averaged) in `start` and the angle, from the longer end leg of the
// two sides and the larger move either surface's gaps allow it. Both sides of a seam get the same,
// so that their ends still meet. A free side whose end leg is many times longer than the leg across
// it turns from its own start tangent, by its own end leg: the normal at its corner, averaged with
// the surfaces across the seams there, is tilted by the noise on the short leg, and the long side
// held square to it would swing over its whole length. Where the legs are alike, the side may
// also turn as far as its surface's smooth seams there turn its normal (their angle targets need
// that much), but not with the rough normals of a fine net beside it, which those seams leave to
// the fine net to follow, and not beyond kGiveMoveShare x its gap at its end leg's far point where
// a seam there is the surface's own: both of its sides turn with the one surface, and a clamped
// ring's kink there is the model's, no gap to close; at a crease's corner it turns with the normal. False when nothing was
// recorded, and where a side has two points along: it turns with its corners, and the other side
// must follow it to close.
bool CornerTurnLimit(const BndrStruct* bs, const CurveCorner& k, double start[3], double* cap) {
  const EdgeInfoStruct* e = k.e;
  if (!e || !e->startSet) return false;
  const int side = k.slot & 1, end = k.slot / 2;
  const CrvInfoStruct* own = side ? e->infoB : e->infoA;
  const CrvInfoStruct* other = side ? e->infoA : e->infoB;
  if (!e->paired) {
    if (!own || !own->crv3 || NumCtrlU(own->crv3) < 3) return false;
    for (int q = 0; q < 3; ++q) start[q] = e->startTan[k.slot][q];
    if (VecSize3(start) < 0.5) return false;
    const double leg = EndLegLength(own->crv3, k.t);
    if (!(leg > 0.0)) return false;
    *cap = std::atan(LargestStartGapOfSurface(bs, own) / leg);
    if (leg > kUnlikeLegs * AcrossLegLength(own, k.t)) return true;
    bool ownSeam = false;
    const double give = TurnItsSeamsGive(bs, own, e, end, &ownSeam);
    if (give < 0.0) return false;
    *cap = std::max(*cap, ownSeam ? std::min(give, std::atan(kGiveMoveShare * LargestStartGapOfSurface(bs, own) / leg))
                                  : give);
    return true;
  }
  if (!own || !other || !own->crv3 || !other->crv3 || NumCtrlU(own->crv3) < 3 || NumCtrlU(other->crv3) < 3)
    return false;
  const int otherSlot = BndrSlot(1 - side, e->orient ? end : 1 - end);
  double sum[3];
  for (int q = 0; q < 3; ++q) sum[q] = e->startTan[k.slot][q];
  if (VecSize3(sum) < 0.5) return false;
  const double* o = e->startTan[otherSlot];
  const double sign = VecDotProd3(sum, o) < 0.0 ? -1.0 : 1.0;
  for (int q = 0; q < 3; ++q) sum[q] += sign * o[q];
  const double len = VecSize3(sum);
  if (!(len > 0.0)) return false;
  for (int q = 0; q < 3; ++q) start[q] = sum[q] / len;
  const double leg = std::max(EndLegLength(own->crv3, k.t), EndLegLength(other->crv3, e->par[otherSlot]));
  if (!(leg > 0.0)) return false;
  const double budget = std::max(LargestStartGapOfSurface(bs, own), LargestStartGapOfSurface(bs, other));
  *cap = std::atan(budget / leg);
  return true;
}

// Corners in wrap order: the end of the last listed edge, then the start of every edge.
// `out` has room for nEdge + 1 entries.
int CollectCorners(const BndrStruct* bs, int curve, CurveCorner* out) {
  const CrvInfoStruct* crv = &bs->crvs[curve];
  int n = 0;
  if (crv->nEdge < 1 || !crv->edgeIds) return 0;
  const EdgeInfoStruct* last = EdgeAt(bs, crv->edgeIds[crv->nEdge - 1]);
  const int lastSide = OwnSide(last, curve);
  if (lastSide >= 0) TakeCorner(last, lastSide, 1, &out[n++]);
  ForEachOwnEdge(bs, curve,
                 [&](const EdgeInfoStruct* e, int side) { TakeCorner(e, side, 0, &out[n++]); });
  return n;
}

}  // namespace

namespace mshrink_internal {

// The correction's options: smoothing weights of the tangential heal.
ShrnkWrapParams CrossDerivOptions() {
  ShrnkWrapParams o;
  SetDefaultShrnkWrapParams(&o);
  o.Tension = 0.7;
  double r = 0.25;
  SmoothnessToRoughness(&r);
  o.Roughness = r;
  o.Sigma = 0.05;
  return o;
}

// The sample parameters of one side of an edge, or null.
const double* SideSamples(const EdgeInfoStruct* e, int side) {
  if (!e || e->nSample < 1) return nullptr;
  return side == 0 ? e->sampleA : e->sampleB;
}

// The fits weight a curve's derivatives per squared extent of the curve up to unit extent and
// keep raw weights above it (shrinkwrap/cshrink.h): a curve ten times longer than a unit is
// smoothed a hundred times less against its samples, so a group healed at a thousand units
// would end away from the same group healed at unit size. The heal's fits run on
// copies brought to at most unit size by this factor, a power of two so that the copies and
// the fit brought back are exact: curves up to unit size are fitted unscaled, and a group heals
// alike at every size. 1 for a curve no larger than a unit (or without a size).
double BelowUnitSize(const Bspline* curve) {
  const double size = ControlPointDiagonal(curve);
  if (!(size > 1.0) || !std::isfinite(size)) return 1.0;
  int exponent = 0;
  std::frexp(size, &exponent);  // size < 2^exponent
  return std::ldexp(1.0, -exponent);
}

void ScaleCurvePoints(Bspline* curve, double f) {
  for (int i = 0; i < NumCtrlU(curve); ++i) {
    curve->X[0][i] *= f;
    curve->Y[0][i] *= f;
    curve->Z[0][i] *= f;
  }
}

}  // namespace mshrink_internal

namespace {

// The frame a wrap is fitted in: the curve's control-point centroid at the origin, at most unit
// size (BelowUnitSize). The fit's zeroth-order energy pulls the curve towards the origin of its
// coordinates; in the world's, a curve far from it slid along itself towards it, its interior
// control points by many times the gap its seam closed, and the same group healed differently
// at every place.
struct WrapFrame {
  double origin[3] = {0.0, 0.0, 0.0};
  double f = 1.0;
};

WrapFrame FrameOfWrap(const Bspline* curve) {
  WrapFrame w;
  const int n = NumCtrlU(curve);
  for (int i = 0; i < n; ++i) {
    w.origin[0] += curve->X[0][i] / n;
    w.origin[1] += curve->Y[0][i] / n;
    w.origin[2] += curve->Z[0][i] / n;
  }
  w.f = BelowUnitSize(curve);
  return w;
}

void MoveValues(double* v, int n, double o, double f) {
  for (int i = 0; v && i < n; ++i) v[i] = (v[i] - o) * f;
}

void MoveCurvePoints(Bspline* curve, const double o[3], double f) {
  MoveValues(curve->X[0], NumCtrlU(curve), o[0], f);
  MoveValues(curve->Y[0], NumCtrlU(curve), o[1], f);
  MoveValues(curve->Z[0], NumCtrlU(curve), o[2], f);
}

// A wrap's curve, samples and corner positions taken into the frame.
void ToWrapFrame(const WrapFrame& w, Bspline* curve, LinearConstraint* c, double* x, double* y, double* z,
                 int count) {
  MoveCurvePoints(curve, w.origin, w.f);
  double* v[3] = {x, y, z};
  double* p[3] = {c->posX, c->posY, c->posZ};
  for (int k = 0; k < 3; ++k) {
    MoveValues(v[k], count, w.origin[k], w.f);
    MoveValues(p[k], c->nPos, w.origin[k], w.f);
  }
}

// The fitted curve brought back from the frame.
void FromWrapFrame(const WrapFrame& w, Bspline* curve) {
  const double back[3] = {-w.origin[0] * w.f, -w.origin[1] * w.f, -w.origin[2] * w.f};
  MoveCurvePoints(curve, back, 1.0 / w.f);
}

}  // namespace

// =============================================================================================
// Positional wrap
// =============================================================================================

int SetBndrCrvWrapConstraint(BndrStruct* bs, int curve, LinearConstraint* c) {
  if (!ValidCurve(bs, curve) || !c) return -2;
  if (NewSetBndrCrvWrapConstraint(bs, curve, c) != 0) return -2;
  if (bs->crvs[curve].nEdge < 1) return 0;
  return NewSetBndrCrvWrapTangentConstraint(bs, curve, c);
}

int NewSetBndrCrvWrapConstraint(BndrStruct* bs, int curve, LinearConstraint* c) {
  if (!ValidCurve(bs, curve) || !c) return -2;
  ClearConstraint(c);
  const CrvInfoStruct* crv = &bs->crvs[curve];
  if (crv->nEdge < 1 || !crv->edgeIds) return 0;
  TrackingScope scope;
  auto* corners = MallocArray<CurveCorner>(crv->nEdge + 1);
  double* v[4];
  for (double*& a : v) a = MallocArray<double>(std::max(crv->nEdge + 1, 1));
  if (KernelFailed() || !corners || !v[0] || !v[1] || !v[2] || !v[3]) return -2;
  const int n = CollectCorners(bs, curve, corners);
  for (int i = 0; i < n; ++i) {
    v[0][i] = corners[i].t;
    v[1][i] = corners[i].p[0];
    v[2][i] = corners[i].p[1];
    v[3][i] = corners[i].p[2];
  }
  return InstallEntries(c, true, n, v[0], v[1], v[2], v[3]);
}

int NewSetBndrCrvWrapTangentConstraint(BndrStruct* bs, int curve, LinearConstraint* c) {
  if (!ValidCurve(bs, curve) || !c) return -2;
  const CrvInfoStruct* crv = &bs->crvs[curve];
  const int room = 2 * (crv->nEdge + 1);
  TrackingScope scope;
  auto* corners = MallocArray<CurveCorner>(crv->nEdge + 1);
  double* v[4];
  for (double*& a : v) a = MallocArray<double>(std::max(room, 1));
  if (KernelFailed() || !corners || !v[0] || !v[1] || !v[2] || !v[3]) return -2;
  const int nc = (crv->nEdge >= 1 && crv->edgeIds) ? CollectCorners(bs, curve, corners) : 0;
  int m = 0;
  auto append = [&](double t, const double d[3]) {
    // Only directions of usable length constrain anything; they go in unit length.
    const double len = VecSize3(d);
    if (len < kTiny) return;
    v[0][m] = t;
    v[1][m] = d[0] / len;
    v[2][m] = d[1] / len;
    v[3][m] = d[2] / len;
    ++m;
  };
  // The corners' tangents come from their normals, which on a net whose rows lie close across
  // the side are those of its short first leg, tilted by degrees by noise there. A side of few
  // control points along the seam, held to such a tangent, bows over its whole length (a tenth
  // of a degree at the end of a 10-unit leg moves it 0.02): the turn from the side's start is
  // kept within the move the surface's largest gap allows its end leg.
  for (int i = 0; i < nc; ++i) {
    const CurveCorner& k = corners[i];
    const double ln = VecSize3(k.n), lt = VecSize3(k.tg);
    if (ln < kTiny || lt < kTiny) continue;
    double n[3] = {k.n[0] / ln, k.n[1] / ln, k.n[2] / ln};
    double tg[3] = {k.tg[0] / lt, k.tg[1] / lt, k.tg[2] / lt};
    double start[3], cap = 0.0;
    if (CornerTurnLimit(bs, k, start, &cap) && TurnWithin(start, cap, tg)) {
      // The normal is then taken square to the turned tangent.
      const double dt = VecDotProd3(n, tg);
      for (int q = 0; q < 3; ++q) n[q] -= dt * tg[q];
      const double lnn = VecSize3(n);
      if (lnn < kTiny) continue;
      for (double& a : n) a /= lnn;
    }
    // The tangent direction within the tangent plane; the curve's tangent is held along it by
    // being perpendicular to both n and b = n x t'.
    const double dn = VecDotProd3(tg, n);
    double tp[3] = {tg[0] - dn * n[0], tg[1] - dn * n[1], tg[2] - dn * n[2]};
    const double ltp = VecSize3(tp);
    if (ltp < kTiny) continue;
    for (double& a : tp) a /= ltp;
    double b[3];
    cross_product(n, tp, b);
    if (VecSize3(b) < kTiny) continue;
    append(k.t, n);
    append(k.t, b);
  }
  if (m < 1) {
    InstallEntries(c, false, 0, nullptr, nullptr, nullptr, nullptr);
    return -2;
  }
  return InstallEntries(c, false, m, v[0], v[1], v[2], v[3]);
}

int ReduceWrapConstraint(Bspline* curve, LinearConstraint* c) {
  if (!curve || !c) return -2;
  const int nPos = c->nPos > 0 ? c->nPos : 0;
  if (c->nNorm != 2 * nPos) return -2;
  if (nPos == 0) return 0;
  TrackingScope scope;
  double* pv[4];
  double* nv[4];
  for (double*& a : pv) a = MallocArray<double>(std::max(nPos, 1));
  for (double*& a : nv) a = MallocArray<double>(std::max(2 * nPos, 1));
  if (KernelFailed() || !pv[0] || !pv[1] || !pv[2] || !pv[3] || !nv[0] || !nv[1] || !nv[2] ||
      !nv[3])
    return -2;
  const double* posSrc[4] = {c->posPar, c->posX, c->posY, c->posZ};
  const double* normSrc[4] = {c->normPar, c->normX, c->normY, c->normZ};
  LinearConstraint trial{};
  trial.posPar = pv[0];
  trial.posX = pv[1];
  trial.posY = pv[2];
  trial.posZ = pv[3];
  trial.normPar = nv[0];
  trial.normX = nv[1];
  trial.normY = nv[2];
  trial.normZ = nv[3];
  // A corner that cannot keep its tangent direction still keeps its position: dropped
  // altogether, the curve's end would drift with the samples, away from the corner that every
  // other curve there is held to (and along a free outer boundary). The knot count charges a
  // position at an end to the end control point alone, so a position always fits there.
  int kept = 0, keptNorm = 0;
  for (int k = 0; k < nPos; ++k) {
    // Tentatively appended; dropped again (by not advancing the counts) when too many.
    for (int i = 0; i < 4; ++i) {
      pv[i][kept] = posSrc[i][k];
      nv[i][keptNorm] = normSrc[i][2 * k];
      nv[i][keptNorm + 1] = normSrc[i][2 * k + 1];
    }
    for (int withNormals = 1; withNormals >= 0; --withNormals) {
      trial.nPos = kept + 1;
      trial.nNorm = keptNorm + 2 * withNormals;
      int enough = 0;
      if (IsEnoughCrv3KnotForWrapConstraint(curve, &trial, &enough) == 0 && enough) {
        ++kept;
        keptNorm += 2 * withNormals;
        break;
      }
      if (KernelFailed()) return -2;
    }
  }
  if (InstallEntries(c, true, kept, pv[0], pv[1], pv[2], pv[3]) != 0) return -2;
  if (InstallEntries(c, false, keptNorm, nv[0], nv[1], nv[2], nv[3]) != 0) return -2;
  return 0;
}

namespace {

// Interior samples of the curve's edges (each edge's first and last are its corners, held
// exactly by the constraints): parameters and averaged points, and with `tables` pointers into
// the edges' basis-value tables of the curve's side. New arrays handed to the caller.
int CollectWrapSamples(const BndrStruct* bs, int curve, bool tables, double** t, double** x,
                       double** y, double** z, double*** basis, int*** spans, int* count) {
  const CrvInfoStruct* crv = &bs->crvs[curve];
  if (tables && !crv->crv3) return -2;
  // The tables were made for the 3D form: degree + 1 values per order, three orders per sample.
  const int order = tables ? crv->crv3->degreeU + 1 : 0;
  auto usable = [&](const EdgeInfoStruct* e, int side) {
    return SideSamples(e, side) && e->avgX && e->avgY && e->avgZ &&
           (!tables || (e->nubTabU[side] && e->nubSpan[side]));
  };
  int n = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (usable(e, side) && e->nSample > 2) n += e->nSample - 2;
  });
  if (n < 1) return -2;
  TrackingScope scope;
  double* v[4];
  for (double*& a : v) a = MallocArray<double>(std::max(n, 1));
  double** b = tables ? MallocArray<double*>(n) : nullptr;
  int** s = tables ? MallocArray<int*>(n) : nullptr;
  if (KernelFailed() || !v[0] || !v[1] || !v[2] || !v[3] || (tables && (!b || !s))) return -2;
  int m = 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    if (!usable(e, side)) return;
    const double* par = SideSamples(e, side);
    for (int i = 1; i < e->nSample - 1; ++i, ++m) {
      v[0][m] = par[i];
      v[1][m] = e->avgX[i];
      v[2][m] = e->avgY[i];
      v[3][m] = e->avgZ[i];
      if (!tables) continue;
      b[m] = e->nubTabU[side] + 3 * order * i;
      s[m] = e->nubSpan[side] + i;
    }
  });
  scope.keep();
  *t = v[0];
  *x = v[1];
  *y = v[2];
  *z = v[3];
  if (basis) *basis = b;
  if (spans) *spans = s;
  *count = m;
  return 0;
}

}  // namespace

int SetBndrCrvWrapPointSamplesAndNubVals(BndrStruct* bs, int curve, double** t, double** x,
                                         double** y, double** z, double*** basis, int*** spans,
                                         int* count) {
  if (!ValidCurve(bs, curve) || !t || !x || !y || !z || !basis || !spans || !count) return -2;
  *t = *x = *y = *z = nullptr;
  *basis = nullptr;
  *spans = nullptr;
  *count = 0;
  return CollectWrapSamples(bs, curve, true, t, x, y, z, basis, spans, count);
}

int SetBndrCrvWrapPointSample(BndrStruct* bs, int curve, double** t, double** x, double** y,
                              double** z, int* count) {
  if (!ValidCurve(bs, curve) || !t || !x || !y || !z || !count) return -2;
  *t = *x = *y = *z = nullptr;
  *count = 0;
  return CollectWrapSamples(bs, curve, false, t, x, y, z, nullptr, nullptr, count);
}

int RefineBndrCrvWrapPointParams(CrvInfoStruct* crv, double* t, double* x, double* y, double* z,
                                 int* count) {
  if (!crv || !crv->crv3 || !t || !x || !y || !z || !count) return -2;
  Bspline* c3 = crv->crv3;
  const double tmin = c3->umin, tmax = c3->umax;
  int m = 0;
  for (int i = 0; i < *count; ++i) {
    if (t[i] < tmin || t[i] > tmax) continue;
    const double P[3] = {x[i], y[i], z[i]};
    double C[3], ti = t[i], distSq = 0.0, stepSq = 0.0;
    // Not converging within five steps still leaves a better parameter than the start.
    FindClosestPointCurve3(c3, P, C, tmin, tmax, &ti, &distSq, &stepSq, 5);
    t[m] = std::clamp(ti, tmin, tmax);
    x[m] = x[i];
    y[m] = y[i];
    z[m] = z[i];
    ++m;
  }
  *count = m;
  return 0;
}

namespace {

// The curve a wrap works on: -2 for bad input, 0 for one left alone (a trim or fixed curve),
// 1 for a natural side to wrap.
int CurveToWrap(BndrStruct* bs, int curve, CrvInfoStruct** crv) {
  if (!bs || bs->nSrf < 1 || !bs->srfs || !ValidCurve(bs, curve)) return -2;
  *crv = &bs->crvs[curve];
  if ((*crv)->side == 0 || (*crv)->fixed) return 0;
  return (*crv)->side < 0 || (*crv)->side > 4 ? -2 : 1;
}

// Whether the refit curve W runs back (or nearly stops) at one of its corners where the curve C
// it replaces ran forward. The corner's two normal entries hold the end tangent's direction up
// to its sign and length only: pulled by rough samples beside a corner, the fit can put the
// first interior control point behind the corner, and the surface folds there. Such a wrap is
// not installed (it counts as failed, and the curve stays as it was).
bool TurnsBackAtCorner(const Bspline* C, const Bspline* W, const LinearConstraint* c) {
  for (int k = 0; k < c->nPos; ++k) {
    double a[3], b[3];
    Eval3DPointOnCurve3Array(C, c->posPar[k], 1, a);
    Eval3DPointOnCurve3Array(W, c->posPar[k], 1, b);
    if (VecDotProd3(a, b) < 0.1 * VecDotProd3(a, a)) return true;
  }
  return false;
}

// The least degree of a side whose points keep their places along it through the stitch's fits
// (KeepSlideOfHeldPoints). Below it a span's points follow the samples along the seam closely,
// without the swings, and there the fits may let the two sides' parametrisations meet.
constexpr int kSlideKeptDegree = 4;

// Whether every seam of the curve is healed smooth between two surfaces that keep rows of their
// own. Along a crease the passes that keep its angle compare the two sides' normals at the samples
// as paired, and sides on one knot vector (a seam whose rows can be shared, a closed surface's own
// seam) close by sharing their points, which must lie beside each other along the seam: there the
// fits still let the sides' parametrisations meet. With `straightCreases`, a crease counts too
// where its other side is a straight segment (a bilinear plane's, of degree 1): a point's place
// along a segment carries no shape to pair normals by, and a one-span side fitted to samples paired
// at parameters swung its inner points along it several times the gap.
bool OwnSmoothSeams(const BndrStruct* bs, int curve, bool straightCreases = false) {
  bool own = bs->crvs[curve].nEdge > 0;
  ForEachOwnEdge(bs, curve, [&](const EdgeInfoStruct* e, int side) {
    const CrvInfoStruct* other = e->paired ? (side ? e->infoA : e->infoB) : nullptr;
    const bool straight = other && other->crv3 && other->crv3->degreeU == 1;
    own = own && (IsG1Edge(e) || (straightCreases && straight)) && e->infoA->srfInfo != e->infoB->srfInfo &&
          !SharedRowSeam(bs, e);
  });
  return own;
}

// Whether the side starts and ends at one corner: a closed ring (a cylinder's or a torus fillet's
// circle beside another ring). Its corner holds none of its other points along the seam, and where
// the ring beside it is on one knot vector with it the fits let the two rings' parametrisations
// meet: each pass's targets follow both rings as they are, and the fits' smoothing slid them along
// the seam together a little at every pass, the points at the span joints of long degree-5 rings
// many times the gap closed while the surfaces moved a fraction of it. Its points keep their places
// along it whatever its seams.
bool RingSide(const CrvInfoStruct* crv) {
  return crv->cornerIds && crv->nCorner >= 2 && crv->cornerIds[0] >= 0 &&
         crv->cornerIds[0] == crv->cornerIds[crv->nCorner - 1];
}

// The parameter step along C that moving C(t) to P makes, to first order; 0 where C stops.
double SlideAt(const Bspline* C, double t, const double P[3]) {
  double c[3], d[3];
  Eval3DPointOnCurve3Array(C, t, 0, c);
  Eval3DPointOnCurve3Array(C, t, 1, d);
  const double dd = VecDotProd3(d, d);
  if (!(dd > 0.0)) return 0.0;
  const double m[3] = {P[0] - c[0], P[1] - c[1], P[2] - c[2]};
  return VecDotProd3(m, d) / dd;
}

// The slide along C that the held positions make at t: theirs at the nearest held parameter on
// each side, blended linearly between the two (the nearest one's beyond the last); 0 with none.
double HeldSlideAt(const Bspline* C, const LinearConstraint* c, double t) {
  int lo = -1, hi = -1;
  for (int k = 0; k < c->nPos; ++k) {
    const double p = c->posPar[k];
    if (p <= t && (lo < 0 || p > c->posPar[lo])) lo = k;
    if (p >= t && (hi < 0 || p < c->posPar[hi])) hi = k;
  }
  if (lo < 0 && hi < 0) return 0.0;
  auto slide = [&](int k) {
    const double P[3] = {c->posX[k], c->posY[k], c->posZ[k]};
    return SlideAt(C, c->posPar[k], P);
  };
  if (lo < 0 || hi < 0 || lo == hi) return slide(lo < 0 ? hi : lo);
  const double p0 = c->posPar[lo], p1 = c->posPar[hi];
  const double w = p1 > p0 ? (t - p0) / (p1 - p0) : 0.0;
  return (1.0 - w) * slide(lo) + w * slide(hi);
}

// A copy of the curve C of a side with the boundary row the anchor holds for its surface; null
// when there is none or its layout differs.
Bspline* AnchoredForm(const BndrStruct* bs, const CrvInfoStruct* crv, const Bspline* C) {
  const SrfGrpNets* a = bs->slideAnchor;
  const SrfInfoStruct* si = crv->srfInfo;
  if (!a || !si || si->index < 0 || si->index >= a->n || !a->pts || !a->pts[si->index]) return nullptr;
  SideFrame f;
  if (!f.Init(SurfaceOf(crv), crv->side) || NumCtrlU(C) != f.nAlong) return nullptr;
  const int nu = a->nu[si->index], nv = a->nv[si->index];
  if (nu != NumCtrlU(f.s) || nv != NumCtrlV(f.s)) return nullptr;
  Bspline* S = CopyCurveBspline(const_cast<Bspline*>(C));
  if (!S || KernelFailed()) {
    if (S) FreeBspline(S);
    return nullptr;
  }
  const double* P = a->pts[si->index];
  for (int j = 0; j < f.nAlong; ++j) {
    const int k = (crv->side == 1 || crv->side == 3) ? j * nu + f.Across(0) : f.Across(0) * nu + j;
    S->X[0][j] = P[3 * k];
    S->Y[0][j] = P[3 * k + 1];
    S->Z[0][j] = P[3 * k + 2];
  }
  FreeBsplineProperties(S);
  return S;
}

// The samples' targets keep the places along the side that its points had when the stitch began,
// but for the slide its held positions (the corners) make there. A seam's samples stay paired at
// the parameters first matched, so where the two sides' parametrisations differ the averaged point
// lies partly along each side: fitted, that part moves control points along the seam, which
// narrows it nowhere, and on a single-span side of high degree in alternating steps several times
// the gap. Anchored to where the side began, the places along it do not depend on which side
// was matched to which, nor on how the loop went.
void KeepSlideOfHeldPoints(const Bspline* C, const Bspline* start, const LinearConstraint* c, int n, const double* t,
                           double* x, double* y, double* z) {
  const Bspline* S = start ? start : C;
  for (int i = 0; i < n; ++i) {
    double d[3], s[3];
    Eval3DPointOnCurve3Array(C, t[i], 1, d);
    Eval3DPointOnCurve3Array(S, t[i], 0, s);
    const double P[3] = {x[i], y[i], z[i]};
    const double off = SlideAt(C, t[i], P) - SlideAt(C, t[i], s) - HeldSlideAt(S, c, t[i]);
    x[i] -= off * d[0];
    y[i] -= off * d[1];
    z[i] -= off * d[2];
  }
}

// Installs W as the curve's 3D form after writing it into the surface's boundary row.
int InstallWrappedCurve(CrvInfoStruct* crv, Bspline* W) {
  if (UpdateSrfBndryCrvGeom(SurfaceOf(crv), crv->side, W) != 0) {
    FreeBspline(W);
    return -2;
  }
  if (crv->crv3) FreeBspline(crv->crv3);
  crv->crv3 = W;
  return 0;
}

}  // namespace

int WrapBndrCrv3ToSamplePointNubVals(BndrStruct* bs, int curve, const ShrnkWrapParams* params,
                                     int* reduced) {
  if (reduced) *reduced = 0;
  CrvInfoStruct* crv = nullptr;
  const int todo = CurveToWrap(bs, curve, &crv);
  if (todo != 1) return todo;

  Bspline* W = nullptr;
  bool wasReduced = false;
  {
    TrackingScope scope;
    BsplinePtr C(GetBndrCrvCurve3Form(crv));
    if (!C || KernelFailed()) return -2;
    ConstraintPtr c(AllocateNullLinearConstraint());
    if (!c) return -2;
    if (SetBndrCrvWrapConstraint(bs, curve, c.get()) != 0) return -2;
    int enough = 0;
    if (IsEnoughCrv3KnotForWrapConstraint(C.get(), c.get(), &enough) != 0) return -2;
    if (!enough) {
      wasReduced = true;
      if (ReduceWrapConstraint(C.get(), c.get()) != 0) {
        if (reduced) *reduced = 1;
        return -2;
      }
      if (IsEnoughCrv3KnotForWrapConstraint(C.get(), c.get(), &enough) != 0 || !enough) {
        // The corners cannot all be held with these knots: the curve is left as it is.
        if (reduced) *reduced = 1;
        return 0;
      }
    }
    double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
    double** basis = nullptr;
    int** spans = nullptr;
    int count = 0;
    if (SetBndrCrvWrapPointSamplesAndNubVals(bs, curve, &t, &x, &y, &z, &basis, &spans, &count) !=
        0)
      return -2;
    const Samples ownT(t), ownX(x), ownY(y), ownZ(z);
    const Owned<double*, Free> ownBasis(basis);
    const Owned<int*, Free> ownSpans(spans);
    if (C->degreeU >= kSlideKeptDegree &&
        (OwnSmoothSeams(bs, curve, C->interiorU == 0) || RingSide(crv))) {
      BsplinePtr S(AnchoredForm(bs, crv, C.get()));
      KeepSlideOfHeldPoints(C.get(), S.get(), c.get(), count, t, x, y, z);
    }
    const WrapFrame frame = FrameOfWrap(C.get());
    ToWrapFrame(frame, C.get(), c.get(), x, y, z, count);
    if (ConstrainedShrinkWrapCrv3NubVals(C.get(), count, t, x, y, z, params, c.get(), basis, spans,
                                         &W, bs->gram) != 0)
      W = nullptr;
    if (W && TurnsBackAtCorner(C.get(), W, c.get())) {
      FreeBspline(W);
      W = nullptr;
    }
    if (W) FromWrapFrame(frame, W);
  }
  if (!W) return -2;
  if (InstallWrappedCurve(crv, W) != 0) return -2;
  if (reduced && wasReduced) *reduced = 1;
  return 0;
}

int WrapBndrCrv3ToSamplePoints(BndrStruct* bs, int curve, int insertKnot, int refine,
                               const ShrnkWrapParams* params, int* reduced) {
  if (insertKnot == 0 && refine == 0)
    return WrapBndrCrv3ToSamplePointNubVals(bs, curve, params, reduced);
  if (reduced) *reduced = 0;
  // A fixed curve keeps its geometry on this path as on the basis-value path.
  CrvInfoStruct* crv = nullptr;
  const int todo = CurveToWrap(bs, curve, &crv);
  if (todo != 1) return todo;

  // 1: the knots suffice and the basis-value path takes over; 2: degenerate, nothing to do.
  Bspline* W = nullptr;
  const int status = [&]() -> int {
    TrackingScope scope;
    BsplinePtr C(GetBndrCrvCurve3Form(crv));
    if (!C || KernelFailed()) return -2;
    if (IsCrv3DegenerateAtSize(C.get(), crv->srf ? ControlPointDiagonal(crv->srf) : 1.0)) return 2;
    ConstraintPtr c(AllocateNullLinearConstraint());
    if (!c) return -2;
    if (SetBndrCrvWrapConstraint(bs, curve, c.get()) != 0) return -2;
    int enough = 0;
    if (IsEnoughCrv3KnotForWrapConstraint(C.get(), c.get(), &enough) != 0) return -2;
    if (enough) return 1;
    if (!insertKnot) {
      if (reduced) *reduced = 1;
      return -2;
    }
    if (InsertWrapConstraintKnotCrv3(C.get(), c.get()) != 0) return -2;
    double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
    int count = 0;
    if (SetBndrCrvWrapPointSample(bs, curve, &t, &x, &y, &z, &count) != 0) return -2;
    const Samples ownT(t), ownX(x), ownY(y), ownZ(z);
    if (refine && RefineBndrCrvWrapPointParams(crv, t, x, y, z, &count) != 0) return -2;
    const WrapFrame frame = FrameOfWrap(C.get());
    ToWrapFrame(frame, C.get(), c.get(), x, y, z, count);
    if (NewConstrainedShrinkWrapCrv3(C.get(), count, t, x, y, z, params, c.get(), insertKnot, &W) !=
        0)
      W = nullptr;
    if (W) FromWrapFrame(frame, W);
    return 0;
  }();
  if (status == 1) return WrapBndrCrv3ToSamplePointNubVals(bs, curve, params, reduced);
  if (status == 2) return 0;
  if (status != 0 || !W) return -2;
  const int oldInterior = crv->crv3 ? crv->crv3->interiorU : -1;
  const int newInterior = W->interiorU;
  if (InstallWrappedCurve(crv, W) != 0) return -2;
  if (newInterior != oldInterior) {
    // The surface gained knots: every side's form and every basis table must follow.
    if (EvalAllBndrCrvCurve3Form(bs) != 0 || SetAllEdgesNubVals(bs) != 0) return -2;
  }
  return 0;
}

int UpdateSrfBndryCrvGeom(Bspline* surface, int side, const Bspline* curve) {
  if (!surface || surface->kind != 2 || surface->dimension != 3 || !curve) return -2;
  if (side == 0) return 0;
  if (side < 0 || side > 4) return -2;
  if (!RecordsSound({surface, curve})) return -2;
  if (curve->kind != 1 || curve->dimension != 3) {
    SetKernelError(-2);
    return -2;
  }
  const int dir = (side == 1 || side == 3) ? 1 : 0;  // knot direction the side runs in
  const int deg = dir ? surface->degreeV : surface->degreeU;
  if (curve->degreeU != deg) return -2;

  const int interior = dir ? surface->interiorV : surface->interiorU;
  const double* sk = dir ? surface->knotsV : surface->knotsU;
  const int nk = NumKnotsU(curve);
  bool same = curve->interiorU == interior;
  if (same) {
    const double range = std::fabs(sk[nk - 1] - sk[0]);
    for (int i = 0; i < nk && same; ++i)
      same = std::fabs(curve->knotsU[i] - sk[i]) <= 1e-6 * range;
  }
  if (!same) {
    // Knots go into a copy first, so that a failure leaves the surface as it was.
    BsplinePtr T(CopyBsplineSurface(surface));
    if (!T || KernelFailed()) return -2;
    for (int i = deg; i < nk; ++i) {
      double v = curve->knotsU[i];
      int inserted = 0;
      if (SnapInsertOneKnotToObject(T.get(), dir, &v, &inserted) != 0 || KernelFailed()) return -2;
    }
    if (curve->interiorU != (dir ? T->interiorV : T->interiorU)) return -2;
    SwapKnotsAndNet(surface, T.get());
  }
  const int nu = NumCtrlU(surface), nv = NumCtrlV(surface);
  const int n = dir ? nv : nu;
  if (NumCtrlU(curve) != n) return -2;
  for (int j = 0; j < n; ++j) {
    int r, c;
    if (dir) {
      r = j;
      c = side == 1 ? 0 : nu - 1;
    } else {
      r = side == 2 ? 0 : nv - 1;
      c = j;
    }
    surface->X[r][c] = curve->X[0][j];
    surface->Y[r][c] = curve->Y[0][j];
    surface->Z[r][c] = curve->Z[0][j];
  }
  FreeBsplineProperties(surface);
  return 0;
}


int CarrySecondRows(Bspline* surface, int nu, int nv, const double* before) {
  if (!HasSurface3Arrays(surface) || !before) return -2;
  if (NumCtrlU(surface) != nu || NumCtrlV(surface) != nv) return 0;
  // A direction with two rows has no second row (it is the opposite boundary); with three the
  // middle row is the second row of both sides and takes half of each.
  auto weight = [](int i, int n, bool low) {
    if (n < 3) return 0.0;
    const double w = n == 3 ? 0.5 : 1.0;
    return (low ? i == 1 : i == n - 2) ? w : 0.0;
  };
  double** M[3] = {surface->X, surface->Y, surface->Z};
  auto at = [&](int i, int j, int c) { return before[3 * (j * nu + i) + c]; };
  for (int j = 1; j < nv - 1; ++j) {
    const double w2 = weight(j, nv, true), w4 = weight(j, nv, false);
    for (int i = 1; i < nu - 1; ++i) {
      const double w1 = weight(i, nu, true), w3 = weight(i, nu, false);
      if (w1 == 0.0 && w3 == 0.0 && w2 == 0.0 && w4 == 0.0) continue;
      double du[3], dv[3];
      for (int c = 0; c < 3; ++c) {
        auto d = [&](int a, int b) { return M[c][b][a] - at(a, b, c); };
        du[c] = w1 * d(0, j) + w3 * d(nu - 1, j);
        dv[c] = w2 * d(i, 0) + w4 * d(i, nv - 1);
      }
      // The point diagonal to a corner is in two second rows. Keeping the twist there (the
      // sum of both displacements less the corner's) hands each side the whole change of the
      // other side's end, which the common corner tangents turn: on rough rows that tilts the
      // normals across the seams near the corners by degrees. It takes the mean of the two
      // sides' displacements instead, unless its legs to the two boundaries are unlike (a net
      // whose rows lie close across a side and far apart along it, where a seam row moved along
      // the surface by more than the short leg, a little at each step of the stitch, would turn
      // it over) or the mean turns one of them over: then each side's move is weighted by the
      // length of the other side's leg, so that both legs turn alike and the short one keeps
      // nearly all of its side's move.
      const bool corner = (w1 != 0.0 || w3 != 0.0) && (w2 != 0.0 || w4 != 0.0);
      if (!corner) {
        for (int c = 0; c < 3; ++c) M[c][j][i] += du[c] + dv[c];
        continue;
      }
      const int bu = w1 != 0.0 ? 0 : nu - 1, bv = w2 != 0.0 ? 0 : nv - 1;
      double legU[3], legV[3];
      for (int c = 0; c < 3; ++c) legU[c] = at(i, j, c) - at(bu, j, c), legV[c] = at(i, j, c) - at(i, bv, c);
      // Whether a leg, its far end moved by `far` and this point by `m`, keeps more than half of
      // its length along where it pointed.
      auto keeps = [](const double leg[3], const double far[3], const double m[3]) {
        double dot = 0.0, len2 = 0.0;
        for (int c = 0; c < 3; ++c) dot += (leg[c] + m[c] - far[c]) * leg[c], len2 += leg[c] * leg[c];
        return dot > 0.5 * len2;
      };
      double m[3];
      for (int c = 0; c < 3; ++c) m[c] = 0.5 * (du[c] + dv[c]);
      const double lu = VecSize3(legU), lv = VecSize3(legV);
      const bool unlike = std::max(lu, lv) > kUnlikeLegs * std::min(lu, lv);
      if ((unlike || !keeps(legU, du, m) || !keeps(legV, dv, m)) && lu + lv > 0.0)
        for (int c = 0; c < 3; ++c) m[c] = (lv * du[c] + lu * dv[c]) / (lu + lv);
      for (int c = 0; c < 3; ++c) M[c][j][i] += m[c];
    }
  }
  FreeBsplineProperties(surface);
  return 0;
}

void FreeSrfGrpNets(SrfGrpNets* nets) {
  if (!nets) return;
  for (int i = 0; nets->pts && i < nets->n; ++i) Free(nets->pts[i]);
  Free(nets->pts);
  Free(nets->nu);
  Free(nets->nv);
  *nets = SrfGrpNets{};
}

int SaveSrfGrpNets(BndrStruct* bs, SrfGrpNets* nets) {
  if (!bs || !nets || !bs->srfs) return -2;
  // The blocks are the record's own, also those made before a failure: made in a scope of
  // their own and kept, so no enclosing scope frees them under the record.
  UntrackedScope owned;
  if (!nets->pts) {
    nets->pts = CallocArray<double*>(std::max(bs->nSrf, 1));
    nets->nu = CallocArray<int>(std::max(bs->nSrf, 1));
    nets->nv = CallocArray<int>(std::max(bs->nSrf, 1));
    nets->n = bs->nSrf;
    if (!nets->pts || !nets->nu || !nets->nv || KernelFailed()) return -2;
  }
  if (nets->n != bs->nSrf) return -2;
  for (int i = 0; i < nets->n; ++i) {
    const Bspline* s = bs->srfs[i].srf;
    if (!HasSurface3Arrays(s)) return -2;
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    if (nu != nets->nu[i] || nv != nets->nv[i] || !nets->pts[i]) {
      Free(nets->pts[i]);
      nets->nu[i] = nets->nv[i] = 0;
      nets->pts[i] = MallocArray<double>(3, nu, nv);
      if (!nets->pts[i] || KernelFailed()) return -2;
      nets->nu[i] = nu;
      nets->nv[i] = nv;
    }
    double* p = nets->pts[i];
    for (int j = 0; j < nv; ++j)
      for (int k = 0; k < nu; ++k, p += 3) {
        p[0] = s->X[j][k];
        p[1] = s->Y[j][k];
        p[2] = s->Z[j][k];
      }
  }
  return 0;
}

int RestoreSrfGrpNets(BndrStruct* bs, const SrfGrpNets* nets) {
  if (!bs || !nets || !nets->pts || nets->n != bs->nSrf) return -2;
  for (int i = 0; i < nets->n; ++i) {
    Bspline* s = bs->srfs[i].srf;
    if (bs->srfs[i].fixed || !HasSurface3Arrays(s) || !nets->pts[i]) continue;
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    if (nu != nets->nu[i] || nv != nets->nv[i]) continue;
    const double* p = nets->pts[i];
    for (int j = 0; j < nv; ++j)
      for (int k = 0; k < nu; ++k, p += 3) {
        s->X[j][k] = p[0];
        s->Y[j][k] = p[1];
        s->Z[j][k] = p[2];
      }
    FreeBsplineProperties(s);
  }
  return 0;
}

namespace {

// A held outer side keeps its row, but a seam ending at its corner moves that corner to where the
// seam's sides meet (the mean of the held points there). The corner's neighbours follow it so that
// the seam keeps its angle there instead of tilting by the corner's move over the (often tiny)
// first step of the held row: the held row's point next to the corner takes the corner's move (the
// held side keeps its direction at the corner), and the point diagonal to the corner takes the
// move of the seam side's point next to the corner (the seam side's derivative across it is kept
// there too, rather than half of it, which on a net of four rows across tilts the whole seam).
// A held row of three shares its middle point between both ends; one of two has no point to carry.
void CarryHeldRowEnds(BndrStruct* bs, int i, const double* before) {
  const SrfInfoStruct* si = &bs->srfs[i];
  Bspline* s = si->srf;
  const int nu = NumCtrlU(s), nv = NumCtrlV(s);
  double** M[3] = {s->X, s->Y, s->Z};
  auto moved = [&](int col, int row, int c) { return M[c][row][col] - before[3 * (row * nu + col) + c]; };
  for (int k = 0; k < si->nCrv && si->crvIds; ++k) {
    const int id = si->crvIds[k];
    if (id < 0 || id >= bs->nCrv) continue;
    const CrvInfoStruct* crv = &bs->crvs[id];
    if (crv->side < 1 || crv->side > 4 || !crv->outer || crv->outerCont < 0 || IsBndrCrvDegenerate(crv)) continue;
    const bool alongU = crv->side == 2 || crv->side == 4;
    const int n = alongU ? nu : nv, across = alongU ? nv : nu;
    if (n < 3) continue;
    const int row0 = crv->side == 1 || crv->side == 2 ? 0 : across - 1;
    const int row1 = row0 == 0 ? 1 : across - 2;
    // Point m of row r along the side (r = row0 the side's own, row1 the one inside) as (column, row).
    auto at = [&](int m, int r, int* col, int* row) {
      *col = alongU ? m : r;
      *row = alongU ? r : m;
    };
    // Only a row the stitch left where it was: one the wrap moved carries nothing.
    bool untouched = true;
    for (int m = 1; m + 1 < n && untouched; ++m) {
      int col, row;
      at(m, row0, &col, &row);
      for (int c = 0; c < 3; ++c) untouched = untouched && moved(col, row, c) == 0.0;
    }
    if (!untouched) continue;
    const double share = n == 3 ? 0.5 : 1.0;
    for (const int end : {0, n - 1}) {
      const int next = end == 0 ? 1 : n - 2;
      int cc, cr, nc, nr, pc, pr, dc, dr;
      at(end, row0, &cc, &cr);   // the corner
      at(next, row0, &nc, &nr);  // its neighbour along the held row
      at(end, row1, &pc, &pr);   // its neighbour along the seam's side
      at(next, row1, &dc, &dr);  // the point diagonal to it
      for (int c = 0; c < 3; ++c) {
        M[c][nr][nc] += share * moved(cc, cr, c);
        if (n >= 4 && across >= 3)
          M[c][dr][dc] = before[3 * (dr * nu + dc) + c] + moved(pc, pr, c);
      }
    }
  }
  FreeBsplineProperties(s);
}

}  // namespace

int CarrySrfGrpSecondRows(BndrStruct* bs, const SrfGrpNets* before) {
  if (!bs || !before || !before->pts || before->n != bs->nSrf) return -2;
  for (int i = 0; i < before->n; ++i) {
    if (bs->srfs[i].fixed || !before->pts[i]) continue;
    const Bspline* s = bs->srfs[i].srf;
    if (CarrySecondRows(bs->srfs[i].srf, before->nu[i], before->nv[i], before->pts[i]) != 0) return -2;
    if (HasSurface3Arrays(s) && NumCtrlU(s) == before->nu[i] && NumCtrlV(s) == before->nv[i])
      CarryHeldRowEnds(bs, i, before->pts[i]);
  }
  return 0;
}
