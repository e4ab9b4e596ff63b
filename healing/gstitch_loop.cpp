// The positional stitch loop: samples averaged, corners set up, boundary curves wrapped onto them.
#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/gstitch_internal.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/csmooth.h"
#include "splinefit/fitsplin.h"

using namespace gstitch_internal;

// ---- positional stitch loop -----------------------------------------------------------------

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
// The share of the gap target below which an iteration's gain counts as none, whatever smallest
// gain the caller gives: that one (scaled with the group) can exceed the target itself, and a loop
// still narrowing its widest seam by a fifth at every iteration would stop many times the target
// short of it.
constexpr double kStallShare = 0.3;

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

// Whether a side of the edge is a curve of one span and degree 4 or more.
bool SingleHighSpanSide(const EdgeInfoStruct* e) {
  for (const CrvInfoStruct* c : {e->infoA, e->infoB})
    if (c && c->crv3 && c->crv3->interiorU == 0 && c->crv3->degreeU >= 4) return true;
  return false;
}

// Side B's samples of the paired edges matched again: of all of them with `all`, else, when a
// corner set-up follows (`setUpNext`), of those with a side of one span and high degree. The
// set-up moves the seams' ends along the sides; samples still paired as first matched would hold
// such a side where the other side's parametrisation first put them while its ends go to the new
// corners, and its fits would swing its inner points along the seam many times the ends' move,
// further at every pass. Matched anew, the samples pair points beside each other.
int MatchSamplesAgain(BndrStruct* bs, bool all, bool setUpNext) {
  for (int k = 0; k < bs->nEdge; ++k) {
    EdgeInfoStruct* e = &bs->edges[k];
    if (e->paired && (all || (setUpNext && SingleHighSpanSide(e))) && ReSampleBndrEdgeParams(e) != 0) return -2;
  }
  return 0;
}

// Marks the paired edges the loop leaves at or above the gap target (after the shared rows, which
// close some of them): 1 where it stalled, 2 where it ended short of the target otherwise (out of
// iterations, its gaps growing); and those it closed 3, which the passes after it may open again:
// so that no seam left open goes without a reason.
void MarkStalledEdges(BndrStruct* bs, bool stalled, bool shortOfTarget, double gapTol) {
  const int mark = stalled ? 1 : shortOfTarget ? 2 : 0;
  for (int k = 0; k < bs->nEdge; ++k) {
    EdgeInfoStruct* e = &bs->edges[k];
    e->stalled = !e->paired ? 0 : e->maxGap >= gapTol ? mark : 3;
  }
}

// The boundary rows' fits' options in the loop (its sigma set per iteration).
ShrnkWrapParams LoopWrapParams() {
  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  for (int k = 0; k < 4; ++k) params.fixedRows[k] = -1;
  params.Tension = 0.7;
  double roughness = 0.3;
  SmoothnessToRoughness(&roughness);
  params.Roughness = roughness;
  return params;
}

// Ends the positional loop's hold on the structure: the boundary rows' fits no longer keep the
// sides' points where they lay along them when the loop began.
void DropSlideAnchor(BndrStruct* bs) { bs->slideAnchor = nullptr; }

// Samples paired at the start still carry the sides' slide along each other, which the fits leave
// as it is (it narrows no seam): the gap a loop ends with is measured across, side B matched again.
int MeasureAcross(BndrStruct* bs, double* gap, int* edge, double* tA, double* tB) {
  return MatchSamplesAgain(bs, true, false) != 0 ? -2 : ComputeBndrInfoMaxEdgeGap(bs, gap, edge, tA, tB);
}

}  // namespace

namespace gstitch_internal {

// The edges sampled anew (the old samples dropped), or only side B's parameters matched again.
int SampleEdges(BndrStruct* bs, bool anew, int samples) {
  if (!anew) return ReSampleNewBndryStruct(bs);
  FreeBndrStructEdgeSamples(bs);
  return SampleNewBndryStruct(bs, samples);
}

}  // namespace gstitch_internal

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

namespace gstitch_internal {

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
  stagnation = std::max(std::min(stagnation, kStallShare * gapTol), 1e-12);
  relTol = std::max(relTol, 1e-4);
  *reason = 2;

  ShrnkWrapParams params = LoopWrapParams();
  double gap = 0.0, tA = 0.0, tB = 0.0;
  int gapEdge = -1;
  // A gap below a millionth of the group's size gives no relative gain to judge.
  const double least = 1e-6 * GroupSize(bs);
  // The seams as they are now are what the creases keep: the first set-up records them.
  if (ForgetBndrEdgeStarts(bs) != 0) return -2;
  for (int c = 0; c < bs->nCrv; ++c) bs->crvs[c].followsCorners = 0;
  if (EvalAllBndrCrvCurve3Form(bs) != 0 ||
      (pairedSampled ? SampleNewBndryStructUnpaired(bs, samples) : SampleNewBndryStruct(bs, samples)) != 0 ||
      SetUpBndrEdgeCornerGeometry(bs) != 0 || ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0 ||
      KernelFailed())
    return -2;

  // Seams whose two sides share their knots are closed by giving them one row, the creases before
  // the fits; after them every seam the fits left open and every crease they refitted (see
  // ShareSeamRows), and the inner points of smooth seams open between corners the fits met
  // (ShareSeamRowInsides).
  bool fitted = false;  // some fit of the loop ran
  auto shareRows = [&](bool afterFits) {
    if (maxIter < 1 || (gap < 0.95 * gapTol && !(afterFits && fitted))) return 0;
    int shared = ShareSeamRows(bs, 0.95 * gapTol, afterFits);
    const int insides = afterFits && fitted && gap >= 0.95 * gapTol ? ShareSeamRowInsides(bs, 0.95 * gapTol) : 0;
    shared = insides < 0 ? insides : shared + insides;
    if (shared == 0) return 0;
    return shared < 0 || EvalAllBndrCrvCurve3Form(bs) != 0 ||
                   ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0 ? -2 : 0;
  };
  if (shareRows(false) != 0) return -2;
  SrfGrpNets nets{}, anchor{};
  const Owned<SrfGrpNets, FreeSrfGrpNets> ownNets(&nets), ownAnchor(&anchor);
  // The fits keep each side's points where they lie along it now (WrapBndrCrv3ToSamplePoints).
  const Owned<BndrStruct, DropSlideAnchor> dropAnchor(bs);
  if (SaveSrfGrpNets(bs, &anchor) != 0) return -2;
  bs->slideAnchor = &anchor;
  TrackingScope scope;
  const int minIter = MinimumIterations(insertKnot, maxIter);
  double sigma = 0.01;
  int stagnant = 0, slow = 0, growing = 0, lastFailed = 0, totalReduced = 0;
  // Fixed samples keep side B's parameters as first matched, which still carry how far the two
  // sides' parametrisations slid apart: where they slide, the averaged points lie between points
  // that are not beside each other, and the loop stalls at a gap that is the slide, not a distance
  // across the seam (two straight sides on one line, apart by parameter and not at all across it,
  // never close). Once the loop stalls, side B is matched again at every iteration from there on.
  bool rematch = false;

  // Nothing to close: the group comes back as it came.
  for (int i = 0; i < maxIter && gap >= 0.95 * gapTol; ++i) {
    if (!bFixedSamples && SampleEdges(bs, i % 4 == 3, samples) != 0) break;
    if (MatchSamplesAgain(bs, rematch, i >= 1 && i < maxSetupStep) != 0) return -2;

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
    if (prev > gap && i > minIter && std::fabs(prev) > least)
      slow = std::fabs(d / prev) < relTol ? slow + 1 : 0;
    else
      slow = 0;
    if ((stagnant > 1 || slow > 1) && bFixedSamples && !rematch) {
      rematch = true;
      stagnant = slow = 0;
      if (EvalAllBndrCrvCurve3Form(bs) != 0) break;
      continue;
    }
    if (stagnant > 1 || slow > 1) break;
    growing = prev < gap ? growing + 1 : 0;
    if (growing >= 3 && i > 10) break;
    if (EvalAllBndrCrvCurve3Form(bs) != 0) break;
    if (i + 1 >= maxIter) break;
  }

  if (shareRows(true) != 0) return -2;
  if (bFixedSamples && !rematch && gap >= 0.95 * gapTol && MeasureAcross(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;
  // Only a stall leaves these counts above 1.
  MarkStalledEdges(bs, stagnant > 1 || slow > 1, gap >= 0.95 * gapTol, gapTol);

  scope.keep();
  *finalGap = gap;
  *reason = totalReduced >= 1 ? 1 : (lastFailed >= 1 ? 2 : 0);
  return 0;
}

}  // namespace gstitch_internal

namespace {

// A free side (in no seam, the outer boundary not held) follows its two end corners, which the
// seams' fits move, and keeps its shape: each control point takes the two corners' moves blended
// linearly at its Greville abscissa. So does a side split by a vertex inside it (another surface's
// corner that only touches it, within the largest gap): a fit to its samples would take it through
// that vertex as through a corner of its own, bent onto a surface it is in no seam with, and on the
// short spans of a finely knotted arc its control points then swing many times the gaps the seams
// beside it closed. 1 when the side followed its corners, 0 when it is no such side (or its edges
// do not run end to end along it).
int FollowCorners(BndrStruct* bs, CrvInfoStruct* crv) {
  const Bspline* c = crv->crv3;
  Bspline* s = crv->srfInfo ? crv->srfInfo->srf : nullptr;
  if (crv->nEdge < 1 || !crv->edgeIds || !c || !c->knotsU || c->degreeU < 1 || !s) return 0;
  const int n = NumCtrlU(c), p = c->degreeU;
  if (n < 2 || n != ((crv->side == 1 || crv->side == 3) ? NumCtrlV(s) : NumCtrlU(s))) return 0;
  double t0 = 0.0, t1 = 0.0;
  if (GetBndrCrvParamMinMax(crv, &t0, &t1) != 0 || !(t1 > t0)) return 0;
  const double margin = 1e-9 * (t1 - t0);
  double at = t0;
  for (int q = 0; q < crv->nEdge; ++q) {
    const int id = crv->edgeIds[q];
    if (id < 0 || id >= bs->nEdge) return 0;
    const EdgeInfoStruct* e = &bs->edges[id];
    if (e->paired || e->infoA != crv || !(e->par[2] > e->par[0]) || std::fabs(e->par[0] - at) > margin) return 0;
    at = e->par[2];
  }
  if (std::fabs(at - t1) > margin) return 0;
  // From the side as the pass began (its curve form: the seams' rows through its corners may
  // have moved them already, which must not hide the corners' moves from the rest of it).
  const EdgeInfoStruct* first = &bs->edges[crv->edgeIds[0]];
  const EdgeInfoStruct* last = &bs->edges[crv->edgeIds[crv->nEdge - 1]];
  double** P[3] = {c->X, c->Y, c->Z};
  double move[2][3];
  for (int k = 0; k < 3; ++k) {
    move[0][k] = first->pnt[BndrSlot(0, 0)][k] - P[k][0][0];
    move[1][k] = last->pnt[BndrSlot(0, 1)][k] - P[k][0][n - 1];
  }
  for (int j = 0; j < n; ++j) {
    double g = 0.0;
    for (int i = 1; i <= p; ++i) g += c->knotsU[j + i];
    const double f = std::clamp((g / p - t0) / (t1 - t0), 0.0, 1.0);
    for (int k = 0; k < 3; ++k) *SideRowPoint(s, crv->side, 0, j, k) = P[k][0][j] + (1.0 - f) * move[0][k] + f * move[1][k];
  }
  // As a fit would, the side leaves each end of it along the tangent the corner set-up gave it
  // there, within the plane of the corner's normal, with its first leg as long as it was: the
  // surfaces at the corner share that normal only so. A side of one edge keeps its first legs.
  for (int end = 0; end < 2 && n > 2 && crv->nEdge > 1; ++end) {
    const EdgeInfoStruct* e = end ? last : first;
    const double* tg = e->tan[BndrSlot(0, end)];
    const double* nm = e->nrm[BndrSlot(0, end)];
    const int j0 = end ? n - 1 : 0, j1 = end ? n - 2 : 1;
    double leg[3], dir[3];
    for (int k = 0; k < 3; ++k) leg[k] = *SideRowPoint(s, crv->side, 0, j1, k) - *SideRowPoint(s, crv->side, 0, j0, k);
    const double tn = VecDotProd3(tg, nm), nn = VecDotProd3(nm, nm);
    if (!(nn > 0.0)) continue;
    for (int k = 0; k < 3; ++k) dir[k] = tg[k] - tn / nn * nm[k];
    const double ld = VecSize3(dir), ll = VecSize3(leg);
    if (!(ld > 0.0) || !(ll > 0.0)) continue;
    const double sign = VecDotProd3(dir, leg) < 0.0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k)
      *SideRowPoint(s, crv->side, 0, j1, k) = *SideRowPoint(s, crv->side, 0, j0, k) + sign * ll / ld * dir[k];
  }
  FreeBsplineProperties(s);
  return 1;
}

// Whether a curve's control polygon, refitted from `was` (same layout) to `now`, folds: some leg
// keeps less than half of its length along where it pointed. A side's fit to its own samples
// smooths the noise on its row; where its control points lie closer together than that noise (a
// side running into a pole, its points a fraction of the noise apart), the smoothing moves them
// past each other and the surface folds along the side.
bool FoldsAlong(const Bspline* was, const Bspline* now) {
  if (!was || !now || NumCtrlU(was) != NumCtrlU(now)) return false;
  for (int j = 1; j < NumCtrlU(was); ++j) {
    const double a[3] = {was->X[0][j] - was->X[0][j - 1], was->Y[0][j] - was->Y[0][j - 1],
                         was->Z[0][j] - was->Z[0][j - 1]};
    const double b[3] = {now->X[0][j] - now->X[0][j - 1], now->Y[0][j] - now->Y[0][j - 1],
                         now->Z[0][j] - now->Z[0][j - 1]};
    if (VecDotProd3(a, b) < 0.5 * VecDotProd3(a, a)) return true;
  }
  return false;
}

// Whether a side is free: its one edge in no seam.
bool FreeSideOfOneEdge(const BndrStruct* bs, const CrvInfoStruct* crv) {
  if (crv->nEdge != 1 || !crv->edgeIds) return false;
  const int id = crv->edgeIds[0];
  return id >= 0 && id < bs->nEdge && !bs->edges[id].paired;
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
      if ((crv->nEdge > 1 || crv->followsCorners) && FollowCorners(bs, crv) == 1) {
        ++nWrapped;
        RebuildCurve3Form(crv);
        continue;
      }
      // A free side has nothing to close: a fit that folds it gives way to its corners' moves.
      Owned<Bspline, FreeBspline> was;
      if (FreeSideOfOneEdge(bs, crv) && crv->crv3) {
        TrackingScope scope;
        was.reset(CopyBsplineStructAndChildren(crv->crv3));
        scope.keep();
        if (!was || KernelFailed()) {
          ++nFailed;
          continue;
        }
      }
      int red = 0;
      if (WrapBndrCrv3ToSamplePoints(bs, c, insertKnot, refine, &params, &red) != 0) {
        ++nFailed;
      } else if (was && FoldsAlong(was.get(), crv->crv3)) {
        if (UpdateSrfBndryCrvGeom(crv->srfInfo ? crv->srfInfo->srf : nullptr, crv->side, was.get()) != 0) {
          ++nFailed;
          continue;
        }
        FreeBspline(crv->crv3);
        crv->crv3 = was.release();
        crv->followsCorners = 1;
        FollowCorners(bs, crv);
        ++nWrapped;
      } else {
        ++nWrapped;
      }
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
