// Seams the averaging cannot close alone: T-junctions, sides of one knot vector that share a
// row, and smooth seams of two-row nets.
#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/gstitch_internal.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndr_internal.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"

using namespace gstitch_internal;

// ---- T-junctions ---------------------------------------------------------------------------
//
// Where a side ends in the middle of a longer side (a T-junction), averaging the two sides
// asks the longer one to bend at the shorter one's corner: a longer side of few control points
// (a plane's edge is one straight span) cannot, the shorter ones meet it halfway, and the gap
// stays open at half its size. A shorter side can always follow its part of the longer side's
// curve (a piece of a curve is a curve of the same degree), so the longer side stays where it is
// and the shorter sides' rows and corners go onto it.

namespace {

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

// The point of the one curve that runs through the corner (the corner lies inside its range) in
// a seam there into `foot`; false when no curve or more than one does. A side that only passes
// the corner, in no seam there (a narrow wall's end beside the corner of two faces it is not sewn
// to), is no T-junction: put onto it, the corner would leave the faces' planes that close there.
bool CornerFoot(const BndrStruct* bs, const CornerInfoStruct* corner, double foot[3]) {
  const CrvInfoStruct* through = nullptr;
  double at = 0.0;
  for (int k = 0; k < corner->nEdge; ++k) {
    const int id = corner->edgeIds ? corner->edgeIds[k] : -1;
    if (id < 0 || id >= bs->nEdge) continue;
    const EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired) continue;
    for (int end = 0; end < 2; ++end) {
      if ((end == 0 ? e->corner0 : e->corner1) != corner->index) continue;
      for (int side = 0; side < (e->infoB ? 2 : 1); ++side) {
        const CrvInfoStruct* c = side ? e->infoB : e->infoA;
        const int slot = BndrMatchedSlot(e, side, end);
        if (BndrCrvEndAt(bs, c, e->par[slot]) != -1) continue;
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

}  // namespace

namespace gstitch_internal {

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

}  // namespace gstitch_internal

// ---- sides of one knot vector ----------------------------------------------------------------
//
// Two sides that run along each other over their whole length on the same knots (mapped onto
// one another) and of one degree are one curve exactly when their boundary rows are equal. The
// fits of the loop reach that only down to their smoothing floor (each side fitted at its own
// parameters to the same averaged samples), which on a long noisy net is many times the gap
// target. Such a seam is closed by giving both rows their mean; each second row moves with its
// boundary row, so the surfaces keep their derivatives across the seam.

namespace gstitch_internal {

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

namespace {

// How far apart across the row, as a multiple of the seam's gap now, two rows on one knot vector
// may lie point for point where the gap the seam came with is not recorded (a control polygon's
// points lie farther apart than its curve's).
constexpr double kRowShareApart = 4.0;
// How far such rows' inner points may lie apart along the row, as a share of the row's step
// there: their mean then moves each point at most a quarter step along the row, so the mean row's
// steps keep their direction and the surfaces' parametrisation near the seam stays as it was.
constexpr double kRowShareSlide = 0.5;

// The point nearest m where the tangent planes of nets a and b at their boundary row points ka and
// kb meet (each spanned by the row's step there and the step to the second row), within as far of
// each row point as the two lie apart; false where it lies farther (planes meeting at a small
// angle) or a plane has no normal.
bool CreaseRowMeet(Bspline* a, int sa, int ka, Bspline* b, int sb, int kb, int n, const double m[3], double at[3]) {
  double p[2][3], nrm[2][3];
  const struct {
    Bspline* s;
    int side, k;
  } rows[2] = {{a, sa, ka}, {b, sb, kb}};
  for (int r = 0; r < 2; ++r) {
    const int k = rows[r].k, lo = std::max(0, k - 1), hi = std::min(n - 1, k + 1);
    double along[3], across[3];
    for (int c = 0; c < 3; ++c) {
      p[r][c] = *SideRowPoint(rows[r].s, rows[r].side, 0, k, c);
      along[c] = *SideRowPoint(rows[r].s, rows[r].side, 0, hi, c) - *SideRowPoint(rows[r].s, rows[r].side, 0, lo, c);
      across[c] = *SideRowPoint(rows[r].s, rows[r].side, 1, k, c) - p[r][c];
    }
    VecCrossProd3(along, across, nrm[r]);
    const double len = VecSize3(nrm[r]);
    if (!(len > 0.0)) return false;
    for (double& x : nrm[r]) x /= len;
  }
  if (!srfbndr_internal::NearestOnTwoPlanes(p, nrm, m, at)) return false;
  const double apart = VecDist3(p[0], p[1]);
  return VecDist3(at, p[0]) <= apart && VecDist3(at, p[1]) <= apart;
}

// Gives the two boundary rows of a seam whose sides lie on one knot vector their mean, at every
// point (`ends`) or at the inner ones only. Each second row marked in `secondRows` (side A, B)
// first takes its row's move across the row, so the surfaces keep their derivatives across the
// seam. The matched side's samples are then the driving side's mapped onto its knots. -1 when a
// basis table could not be made.
int GiveRowsTheirMean(EdgeInfoStruct* e, bool ends, const bool secondRows[2]) {
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
  // A crease between straight sides closes on the line where the two surfaces' tangent planes
  // meet at each row point: a point moved within its own tangent plane leaves that normal as it
  // was, where the mean would turn a narrow net by the gap over its width; the second rows stay.
  const bool creaseRows = ends && e->continuity == 0 && IsBndrEdgeHealedSmooth(e) != 1 && StraightSide(e->infoA) &&
                          StraightSide(e->infoB);
  for (int k = 1; !creaseRows && (secondRows[0] || secondRows[1]) && k + 1 < n; ++k) {
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
      if (secondRows[0]) *SideRowPoint(a, sa, 1, k, c) += across;
      if (secondRows[1]) *SideRowPoint(b, sb, 1, kb, c) -= across;
    }
  }
  Owned<double, Free> owned;
  if (creaseRows) {
    TrackingScope scope;
    owned.reset(MallocArray<double>(3L * n));
    scope.keep();
    if (!owned || KernelFailed()) return -1;
  }
  double* target = owned.get();
  for (int k = 0; creaseRows && k < n; ++k) {
    double m[3];
    for (int c = 0; c < 3; ++c) m[c] = mean(k, c);
    if (!CreaseRowMeet(a, sa, k, b, sb, e->orient ? k : n - 1 - k, n, m, target + 3 * k))
      std::copy(m, m + 3, target + 3 * k);
  }
  for (int k = ends ? 0 : 1; k < (ends ? n : n - 1); ++k)
    for (int c = 0; c < 3; ++c) {
      const double m = creaseRows ? target[3 * k + c] : mean(k, c);
      *SideRowPoint(a, sa, 0, k, c) = m;
      *SideRowPoint(b, sb, 0, e->orient ? k : n - 1 - k, c) = m;
    }
  RebuildCurve3Form(e->infoA);
  RebuildCurve3Form(e->infoB);
  // One curve now, on knots mapped onto one another: the matched side's sample parameters are
  // the driving side's mapped the same way (no projection needed); the ends stay matched as they
  // were.
  const bool va = sa % 2 == 1, vb = sb % 2 == 1;
  const int p = va ? a->degreeV : a->degreeU;
  const double *ka = va ? a->knotsV : a->knotsU, *kb = vb ? b->knotsV : b->knotsU;
  const double a0 = ka[0], a1 = ka[n + p], b0 = kb[0], b1 = kb[n + p];
  if (e->sampleA && e->sampleB) {
    for (int i = 1; i + 1 < e->nSample; ++i) {
      if (e->bDrives) {
        const double f = e->orient ? (e->sampleB[i] - b0) / (b1 - b0) : (b1 - e->sampleB[i]) / (b1 - b0);
        e->sampleA[i] = a0 + f * (a1 - a0);
        continue;
      }
      const double f = (e->sampleA[i] - a0) / (a1 - a0);
      e->sampleB[i] = e->orient ? b0 + f * (b1 - b0) : b1 - f * (b1 - b0);
    }
    if (ComputeBndrEdgeNubVals(e) != 0) return -1;
  }
  return 0;
}

}  // namespace

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
    const bool both[2] = {true, true};
    if (GiveRowsTheirMean(e, true, both) != 0) return -1;
    ++changed;
  }
  return changed;
}

// Gives the inner points of both boundary rows of every smooth seam the fits left above the gap
// target their mean, where both sides are whole sides on one knot vector and the rows already
// share their end points (the corners, which the seams and sides meeting there share too): the
// two sides are then one curve and the seam is closed, whatever the fits' smoothing floor, and no
// other seam's boundary row moves. Creases keep their rows as the crease stages leave them, and a
// seam the damage kinked beyond the angle limit is the tangential heal's to turn; but a closed
// surface runs on across its own seam, so a crease or kink there is the damage's, and its sides
// close so too (each keeps its slope across, its second row following). A second row
// moves with its row only on a net with a row between it and the opposite side: on a net two rows
// across, it is that side's boundary row. Rows whose points lie farther apart across the row than
// the seam's gap as it came (the mean then moves each by at most half of it), or slid along it by
// more than kRowShareSlide of its steps, are left to the fits. The number of seams changed, -1
// when a basis table could not be made.
int ShareSeamRowInsides(BndrStruct* bs, double gapTol) {
  int changed = 0;
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired || !(e->maxGap >= gapTol) || !e->infoA || !e->infoB || !MovableSide(e->infoA) ||
        !MovableSide(e->infoB) || e->infoA->nEdge != 1 || e->infoB->nEdge != 1 || !e->infoA->srf || !e->infoB->srf ||
        CoveredFraction(e, 0) < 0.99 || CoveredFraction(e, 1) < 0.99 || !SidesOnOneKnotVector(e))
      continue;
    const bool ownSeam = e->infoA->srf == e->infoB->srf;
    if (!ownSeam && IsBndrEdgeHealedSmooth(e) != 1) continue;
    Bspline *a = e->infoA->srf, *b = e->infoB->srf;
    const int sa = e->infoA->side, sb = e->infoB->side;
    const int n = sa % 2 ? NumCtrlV(a) : NumCtrlU(a);
    if (n < 3) continue;
    // Where the rows part across themselves, and how far each inner pair slid along the row as a
    // share of the row's steps beside it.
    double endApart = 0.0, across = 0.0, slide = 0.0;
    auto point = [&](int side, int k, double p[3]) {
      for (int c = 0; c < 3; ++c)
        p[c] = side ? *SideRowPoint(b, sb, 0, e->orient ? k : n - 1 - k, c) : *SideRowPoint(a, sa, 0, k, c);
    };
    for (int k = 0; k < n; ++k) {
      double pa[3], pb[3], d[3];
      point(0, k, pa);
      point(1, k, pb);
      for (int c = 0; c < 3; ++c) d[c] = pa[c] - pb[c];
      if (k == 0 || k == n - 1) {
        endApart = std::max(endApart, std::sqrt(Dot3(d, d)));
        continue;
      }
      double lo[3], hi[3], t[3];
      point(0, k - 1, lo);
      point(0, k + 1, hi);
      for (int c = 0; c < 3; ++c) t[c] = hi[c] - lo[c];
      const double len = std::sqrt(Dot3(t, t));
      if (!(len > 0.0)) continue;
      const double along = Dot3(d, t) / len;
      across = std::max(across, std::sqrt(std::max(0.0, Dot3(d, d) - along * along)));
      slide = std::max(slide, std::fabs(along) / (0.5 * len));
    }
    const double acrossMost = e->startSet ? e->startGap : kRowShareApart * e->maxGap;
    if (!(endApart <= 0.5 * gapTol) || !(across <= acrossMost) || !(slide <= kRowShareSlide)) continue;
    double angle = 0.0;
    if (!ownSeam && (BndrEdgeMaxNormalDiff(e, 0.0, &angle) != 0 || !(angle <= bs->angleTol))) continue;
    // On a closed net of three rows across, its own seam's two second rows are one.
    const int rowsFree = ownSeam ? 3 : 2;
    const bool second[2] = {(sa % 2 ? NumCtrlU(a) : NumCtrlV(a)) > rowsFree,
                            (sb % 2 ? NumCtrlU(b) : NumCtrlV(b)) > rowsFree};
    if (GiveRowsTheirMean(e, false, second) != 0) return -1;
    ++changed;
  }
  return changed;
}

// Gives the inner points of the one row of every crease closed between sides on one knot vector
// the mean of the two rows as they came (`start`), where the heal took a point of that row beyond
// its surface's move bound (`bound`, per surface; negative for a surface that keeps its place,
// whose seams are left as they are). The fits place such a row where the two sides' fits meet,
// each at its own parameters: on two coarse nets parametrised apart (a cubic side of four points
// whose inner points lie along the row from the other side's) that can leave one side with most
// of the move, its points sliding along the row several times the gap the seam closed. The mean
// moves each side's points by half the rows' distance, the least the larger move can be. Each
// second row takes its row's whole move, so the derivative across the seam, and with it the
// crease's angle, stays as the heal left it (moved across the row only, the second rows would
// leave the normals as they were but tilt the crease by the turn of the row's mean tangent). A
// smooth seam is left to the bound: its second rows are the tangential heal's. The rows' end
// points stay, the corners being the other seams' too. Flags the surfaces changed in `stages`;
// whether any changed.
bool MeanClosedRowsBeyondBound(BndrStruct* bs, Bspline* const* start, const GroupMeasure& after, double healGap,
                               const double* bound, SurfaceStage* stages) {
  bool any = false;
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired || !(after.gap[id] <= healGap) || !e->infoA || !e->infoB || !e->infoA->srf || !e->infoB->srf ||
        !e->infoA->srfInfo || !e->infoB->srfInfo || e->infoA->srf == e->infoB->srf || e->infoA->nEdge != 1 ||
        e->infoB->nEdge != 1 || CoveredFraction(e, 0) < 0.99 || CoveredFraction(e, 1) < 0.99 ||
        IsBndrEdgeHealedSmooth(e) == 1 || !SidesOnOneKnotVector(e))
      continue;
    const int ia = e->infoA->srfInfo->index, ib = e->infoB->srfInfo->index;
    if (ia < 0 || ia >= bs->nSrf || ib < 0 || ib >= bs->nSrf || !start[ia] || !start[ib] || bound[ia] < 0.0 ||
        bound[ib] < 0.0)
      continue;
    Bspline *a = e->infoA->srf, *b = e->infoB->srf, *a0 = start[ia], *b0 = start[ib];
    if (NumCtrlU(a) != NumCtrlU(a0) || NumCtrlV(a) != NumCtrlV(a0) || NumCtrlU(b) != NumCtrlU(b0) ||
        NumCtrlV(b) != NumCtrlV(b0))
      continue;
    const int sa = e->infoA->side, sb = e->infoB->side;
    const int n = sa % 2 ? NumCtrlV(a) : NumCtrlU(a);
    if (n < 3) continue;
    auto atB = [&](int k) { return e->orient ? k : n - 1 - k; };
    // One row (within the gap target point for point), some inner point of it beyond a bound.
    bool oneRow = true, beyond = false;
    for (int k = 0; k < n && oneRow; ++k) {
      double pa[3], pb[3], wa[3], wb[3];
      for (int c = 0; c < 3; ++c) {
        pa[c] = *SideRowPoint(a, sa, 0, k, c), pb[c] = *SideRowPoint(b, sb, 0, atB(k), c);
        wa[c] = *SideRowPoint(a0, sa, 0, k, c), wb[c] = *SideRowPoint(b0, sb, 0, atB(k), c);
      }
      oneRow = VecDist3(pa, pb) <= healGap;
      if (k > 0 && k + 1 < n) beyond = beyond || VecDist3(pa, wa) > bound[ia] || VecDist3(pb, wb) > bound[ib];
    }
    if (!oneRow || !beyond) continue;
    auto mean = [&](int k, int c) {
      return 0.5 * (*SideRowPoint(a0, sa, 0, k, c) + *SideRowPoint(b0, sb, 0, atB(k), c));
    };
    const bool second[2] = {(sa % 2 ? NumCtrlU(a) : NumCtrlV(a)) > 2, (sb % 2 ? NumCtrlU(b) : NumCtrlV(b)) > 2};
    for (int k = 1; k + 1 < n; ++k)
      for (int side = 0; side < 2; ++side) {
        Bspline* s = side ? b : a;
        const int sd = side ? sb : sa, kk = side ? atB(k) : k;
        for (int c = 0; c < 3; ++c) {
          const double d = mean(k, c) - *SideRowPoint(s, sd, 0, kk, c);
          *SideRowPoint(s, sd, 0, kk, c) += d;
          if (second[side]) *SideRowPoint(s, sd, 1, kk, c) += d;
        }
      }
    RebuildCurve3Form(e->infoA);
    RebuildCurve3Form(e->infoB);
    stages[ia].changed = stages[ib].changed = 1;
    any = true;
  }
  return any;
}

}  // namespace gstitch_internal

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

namespace {

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

}  // namespace

namespace gstitch_internal {

// Turns, at each end of every smooth seam still steeper than `target` degrees there, the normal
// of each side of two rows across whose opposite row's end point lies on free sides only,
// towards the other side's normal until the seam's end is within the target (both such sides
// turn halfway), where the seam came steeper than the target at that end. Where a side of more
// rows across has a free side through the corner, that side turns instead (moving the free
// side's second point) and no side of two rows does. The curves of the surfaces changed get
// their 3D forms anew.
int TurnTwoRowCornersOntoSmoothSeams(BndrStruct* bs, double target) {
  constexpr double kDegree = 3.14159265358979323846 / 180.0;
  for (int id = 0; id < bs->nEdge; ++id) {
    EdgeInfoStruct* e = &bs->edges[id];
    if (!e->paired || !e->infoA || !e->infoB || IsBndrEdgeHealedSmooth(e) != 1) continue;
    for (int end = 0; end < 2; ++end) {
      Bspline* srf[2] = {};
      int side[2] = {}, k[2] = {};
      double along[2][3], across[2][3], normal[2][3];
      bool movable[2] = {}, finer[2] = {};
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
        // With more rows across, the point across is the second point of the side through the
        // corner only: turning it bends that free side's end, not the whole surface.
        finer[sd] = rowsAcross > 2 && MovableSide(c) && !c->srfInfo->fixed && FreeNaturalSide(bs, c->srfInfo, through);
      }
      // Where the finer net can turn, it follows the coarser one: a plane turned about the seam
      // moves its far side by its width times the turn (many times the gap the seam closed), the
      // finer net's point by its first step's.
      if (finer[0] || finer[1]) movable[0] = finer[0], movable[1] = finer[1];
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

}  // namespace gstitch_internal
