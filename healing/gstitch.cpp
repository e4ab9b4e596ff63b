// The group's stored topology and the heal driver: the stitch and the tangential heal in stages,
// every stage judged against the group as it came, the healed geometry copied back.
//
// A crease (a seam beyond the angle limit) is closed in position only and keeps its angle. The
// stages that handle creases, in the order a heal runs them:
//  1. The stitch (PositionalStitch, gstitch_loop.cpp): creases on one knot vector take one row
//     (ShareSeamRows, gstitch_seams.cpp); a crease whose corners rose is flattened there
//     (FlattenRisenCreaseCorners, srfbndr.cpp) and the corners set up (srfbndr_corner.cpp).
//  2. Each crease side turned back to its start normals (KeepCreaseNormals here, calling
//     KeepCreaseSideNormals, mshrink_g1.cpp); on the second try the one-row ends laid in line
//     (StraightenSharedRowEnds, gstitch_seams.cpp).
//  3. One-row creases keep their angle along their length (KeepSharedRowCreaseAngle,
//     mshrink_crease.cpp).
//  4. The tangential heal of the smooth seams (mshrink_g1.cpp, TurnTwoRowCornersOntoSmoothSeams),
//     then the crease sides beside them fitted again (KeepCreaseNormals).
//  5. Two-row creases solved for their angle (SolveSplitRowCreases with
//     KeepClosedSplitRowCreaseAngle, mshrink_crease.cpp), the folds the creases share at corners
//     (KeepCornerSharedFolds, mshrink_fold.cpp), then the creases a smooth seam's jitter made
//     (KeepJitterCreaseFromRising, mshrink_crease.cpp).
//  6. The fall-backs judge every crease against its start (StepBackWorsened, gstitch_guard.cpp);
//     a surface stepped back to kCornersKept or kRowsFree turns its crease sides back nearer its
//     corners (StepBackRounds here, KeepCreaseSideNormalsNearCorners, mshrink_g1.cpp).
#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/gstitch_internal.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"

using namespace gstitch_internal;

BndrStruct* srfsTopology = nullptr;
int SIbInsertKnot = 0;
int bParamFixed = 0;

namespace {

// The heal moves x, y, z only and works on non-rational records: weights within 0.001 of 1 and an
// exact form would no longer describe the moved points, so they are released, not just unhooked.
void DropRationalParts(Bspline* b) {
  b->rational = 0;
  if (b->W) matrix_free_fh(b->W);
  b->W = nullptr;
  FreeQuadricInfo(b);
  b->quadricType = 0;
}

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

}  // namespace

namespace gstitch_internal {

// A surface the stitch can read: a sound record (finite knots that never decrease, finite
// coefficients, counts that match its arrays; bspline/bsvalid), a 3D surface of degree 1 or
// more in both directions. Anything else is bad input, refused with -2 before the topology or
// any caller surface is touched.
bool IsStitchableSurface(const Bspline* b) {
  return BsplineSound(b) && b->kind == 2 && b->dimension == 3 && b->degreeU >= 1 && b->degreeV >= 1;
}

// The topology's own copy of surface i.
Bspline* TopologySurface(BndrStruct* bs, int i) { return bs->srfs[i].srf; }

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

// Healed geometry into every caller surface that is not fixed (and, with `stages`, is Written).
// All or nothing: every new geometry is first built in a staging record, and only when all of
// them stand are the caller's arrays exchanged, which cannot fail. A failure part of the way
// would otherwise leave some surfaces healed and others not, under a report of none.
int CopyHealedBack(Bspline** srfs, int n, const int* fixed, Bspline** healed, const SurfaceStage* stages) {
  // The staging records hold blocks that their own operations kept out of every scope, so
  // their owner releases them on every path.
  auto staged = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!staged || KernelFailed()) return -2;
  auto writes = [&](int i) { return !(fixed && fixed[i]) && healed[i] && (!stages || Written(stages[i])); };
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
    // The caller's old arrays go with the staging record, which is released with them.
    SwapKnotsAndNet(s, t);
    std::memset(&s->fitProps, 0, sizeof s->fitProps);
    std::memset(&s->propsB, 0, sizeof s->propsB);
  }
  return 0;
}

}  // namespace gstitch_internal

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
    if (!IsStitchableSurface(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

  CleanupTopology();
  if (SetupStitchSrfsTopology(srfs, n, 1e-6, maxGap, maxAngle, -1, &srfsTopology) != 0 || !srfsTopology) {
    srfsTopology = nullptr;
    return -2;
  }
  // The reasons are the report's own: running out of memory while finding them only leaves them out.
  if (KeepBndrCrvUnpairedReasons(srfsTopology) != 0) ClearKernelError();
  return 0;
}

int SetupStitchSrfsTopology(Bspline** srfs, int n, double tol, double gapTol, double angleTol, int continuity,
                            BndrStruct** out) {
  if (!srfs || n < 1 || !out) return -2;
  for (int i = 0; i < n; ++i)
    if (!IsStitchableSurface(srfs[i])) return -2;

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

// Copies of n surfaces, all of them or (with `stages`) those Written; null entries elsewhere. A
// new array outside every scope, or null when memory ran out.
Bspline** CopySurfaces(Bspline* const* from, int n, const SurfaceStage* stages = nullptr) {
  TrackingScope scope;
  // The copies leave every scope as they are made: their owner frees them on a failure.
  auto out = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!out || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    if (stages && !Written(stages[i])) continue;
    out[i] = CopyBsplineStructAndChildren(from[i]);
    if (!out[i] || KernelFailed()) return nullptr;
  }
  scope.keep();
  return out.release();
}

// Copies of the topology's surfaces, as CopySurfaces.
Bspline** CopyTopologySurfaces(BndrStruct* bs, int n, const SurfaceStage* stages = nullptr) {
  Owned<Bspline*, Free> view;
  {
    TrackingScope scope;
    view.reset(MallocArray<Bspline*>(n));
    scope.keep();
  }
  if (!view || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) view[i] = TopologySurface(bs, i);
  return CopySurfaces(view.get(), n, stages);
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
    if (!IsStitchableSurface(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

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
  if (SolveSplitRowCreases(bs, srfs, KeepClosedSplitRowCreaseAngle) != 0) return -2;
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

// The most a heal may move a surface's control points, as a multiple of the largest gap on
// its seams as they came: a user heals a gap, and a surface that ends farther from where it
// came than a few times that gap has been reshaped, not healed. Three times the gap is the
// promise; the heal aims at 0.9 of it, as the stitch aims at half the gap target: it measures
// the gaps at its own samples and closest points, which can read a seam a few percent wider
// than a user's measure does.
constexpr double kMoveBound = 0.9 * 3.0;
// Passes that hold surfaces back to the gaps they close (StepBackRounds): each can open a seam
// that sends a surface back, which changes what its neighbours close.
constexpr int kBoundPasses = 4;

// The largest distance between corresponding control points of two nets of one layout; -1
// when the layouts differ (knots were inserted).
double ControlPointMove(const Bspline* a, const Bspline* b) {
  if (!a || !b || NumCtrlU(a) != NumCtrlU(b) || NumCtrlV(a) != NumCtrlV(b)) return -1.0;
  double most = 0.0;
  for (int j = 0; j < NumCtrlV(a); ++j)
    for (int k = 0; k < NumCtrlU(a); ++k) {
      const double d[3] = {a->X[j][k] - b->X[j][k], a->Y[j][k] - b->Y[j][k], a->Z[j][k] - b->Z[j][k]};
      most = std::max(most, VecSize3(d));
    }
  return most;
}

// Whether control point (row j, column k) of surface i lies on the boundary row of a side in a
// seam: the seams' rows must stay where the stitch put them, or the seams open again. With
// `closed`, only seams that end within healGap in that measure count, and for a smooth one the row
// beside the boundary row too: there the tangential heal turns the surface to meet its neighbour.
// With healAngle (>= 0), only a smooth seam that ends within it keeps that row: a turn that did
// not meet the neighbour bought no seam, and beyond the bound it only reshapes the surface.
bool OnSeamRow(const BndrStruct* bs, int i, int j, int k, const GroupMeasure* closed = nullptr, double healGap = 0.0,
               double healAngle = -1.0) {
  const SrfInfoStruct* si = &bs->srfs[i];
  const Bspline* s = si->srf;
  for (int c = 0; c < si->nCrv && si->crvIds; ++c) {
    const int id = si->crvIds[c];
    if (id < 0 || id >= bs->nCrv) continue;
    const CrvInfoStruct* crv = &bs->crvs[id];
    for (int q = 0; q < crv->nEdge && crv->edgeIds; ++q) {
      const int eid = crv->edgeIds[q];
      if (eid < 0 || eid >= bs->nEdge || !bs->edges[eid].paired || (closed && closed->gap[eid] > healGap)) continue;
      const int in = closed && IsBndrEdgeHealedSmooth(&bs->edges[eid]) == 1 &&
                             (healAngle < 0.0 || closed->angle[eid] <= healAngle)
                         ? 1
                         : 0;
      if ((crv->side == 1 && k <= in) || (crv->side == 3 && k >= NumCtrlU(s) - 1 - in) || (crv->side == 2 && j <= in) ||
          (crv->side == 4 && j >= NumCtrlV(s) - 1 - in))
        return true;
    }
  }
  return false;
}

// Each surface's bound on its control points' moves: kMoveBound times the largest gap across its
// seams as they came (HEALGAP at least).
void MoveBounds(const BndrStruct* bs, const GroupMeasure& before, double healGap, double* bounds) {
  for (int i = 0; i < bs->nSrf; ++i) bounds[i] = healGap;
  for (int e = 0; e < bs->nEdge; ++e) {
    int a = -1, b = -1;
    if (!bs->edges[e].paired) continue;
    GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
    for (const int s : {a, b})
      if (s >= 0 && s < bs->nSrf) bounds[s] = std::max(bounds[s], before.across[e]);
  }
  for (int i = 0; i < bs->nSrf; ++i) bounds[i] *= kMoveBound;
}

// The 3D forms of surface i's sides, after its control points changed.
void RebuildSidesOf(BndrStruct* bs, int i) {
  for (int c = 0; c < bs->srfs[i].nCrv && bs->srfs[i].crvIds; ++c) {
    const int id = bs->srfs[i].crvIds[c];
    if (id >= 0 && id < bs->nCrv) RebuildCurve3Form(&bs->crvs[id]);
  }
}

// Whether surface i has a side on a smooth seam with only two control rows across it: its normal
// along that seam turns only as the whole net turns about the seam (the row beside the boundary
// row is the opposite side's).
bool TurnsWholeOnSmoothSeam(const BndrStruct* bs, int i) {
  const SrfInfoStruct* si = &bs->srfs[i];
  const Bspline* s = si->srf;
  for (int c = 0; c < si->nCrv && si->crvIds && s; ++c) {
    const int id = si->crvIds[c];
    if (id < 0 || id >= bs->nCrv) continue;
    const CrvInfoStruct* crv = &bs->crvs[id];
    const int across = crv->side == 1 || crv->side == 3 ? NumCtrlU(s) : NumCtrlV(s);
    if (across != 2) continue;
    for (int q = 0; q < crv->nEdge && crv->edgeIds; ++q) {
      const int eid = crv->edgeIds[q];
      if (eid >= 0 && eid < bs->nEdge && bs->edges[eid].paired && IsBndrEdgeHealedSmooth(&bs->edges[eid]) == 1)
        return true;
    }
  }
  return false;
}

// Takes back, on every surface (at kTangential) whose heal took its control points beyond its
// bound from where they came (`srfs`), the share of the moves since its positional result beyond
// the bound: each point off the seams' rows goes back along its move since `positional` until the
// farthest lies at the bound (or, where the stitch took it farther, where the stitch left it).
// Moves beyond the bound only reshape the surface: the angle at a held corner, which no move inside
// reaches, or a kink the model has below the angle limit (two planes a few degrees apart), taken
// out by turning a plane about the seam, its far side moving its width times the turn (such a net
// goes back to kPositional, TurnsWholeOnSmoothSeam, and so does a surface with no gap to close,
// whose bound is `idleBound`). Such a surface goes to kBounded, flagged changed; a copy of its
// whole heal goes to `whole`. -2 when memory ran out.
int BoundMoves(BndrStruct* bs, Bspline* const* srfs, Bspline* const* positional, const double* bounds,
               double idleBound, Bspline** whole, SurfaceStage* stages) {
  for (int i = 0; i < bs->nSrf; ++i) {
    stages[i].changed = 0;
    Bspline* s = TopologySurface(bs, i);
    const Bspline* in = srfs[i];
    const Bspline* st = positional[i];
    const double bound = bounds[i];
    if (stages[i].stage != kTangential || !st || ControlPointMove(s, st) < 0.0 || !(ControlPointMove(s, in) > bound))
      continue;
    // The largest share t of each point's move since the stitch with |from + t step| <= bound.
    double share = 1.0;
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int k = 0; k < NumCtrlU(s); ++k) {
        if (OnSeamRow(bs, i, j, k)) continue;
        const double from[3] = {st->X[j][k] - in->X[j][k], st->Y[j][k] - in->Y[j][k], st->Z[j][k] - in->Z[j][k]};
        const double step[3] = {s->X[j][k] - st->X[j][k], s->Y[j][k] - st->Y[j][k], s->Z[j][k] - st->Z[j][k]};
        // A point the stitch took beyond the bound may keep that distance, not add to it.
        const double ss = VecDotProd3(step, step), fs = VecDotProd3(from, step), ff = VecDotProd3(from, from);
        const double rest = std::max(bound * bound, ff) - ff;
        if (!(ss > 0.0)) continue;
        share = std::min(share, std::max(0.0, (-fs + std::sqrt(std::max(0.0, fs * fs + ss * rest))) / ss));
      }
    if (!(share < 1.0)) continue;
    // A net two rows across a smooth seam turns as a whole about it: part of that turn leaves the
    // seam kinked all the same and swings the far side its width times the turn away from where
    // it came. It turns all the way within its bound or keeps its place: it goes back to its
    // positional result, judged and stepped back from there as one the tangential heal left alone.
    // So does a surface with no gap to close: a turn cut to HEALGAP's bound takes no kink out.
    if (TurnsWholeOnSmoothSeam(bs, i) || bound <= idleBound) {
      if (ReplaceSrfBsplineGeometry(s, st) != 0) return -2;
      RebuildSidesOf(bs, i);
      stages[i].stage = kPositional;
      stages[i].changed = 1;
      continue;
    }
    {
      TrackingScope scope;
      whole[i] = CopyBsplineStructAndChildren(s);
      scope.keep();
    }
    if (!whole[i] || KernelFailed()) return -2;
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int k = 0; k < NumCtrlU(s); ++k) {
        if (OnSeamRow(bs, i, j, k)) continue;
        s->X[j][k] = st->X[j][k] + share * (s->X[j][k] - st->X[j][k]);
        s->Y[j][k] = st->Y[j][k] + share * (s->Y[j][k] - st->Y[j][k]);
        s->Z[j][k] = st->Z[j][k] + share * (s->Z[j][k] - st->Z[j][k]);
      }
    FreeBsplineProperties(s);
    RebuildSidesOf(bs, i);
    stages[i].stage = kBounded;
    stages[i].changed = 1;
  }
  return KernelFailed() ? -2 : 0;
}

// Holds every surface about to be written that closes a seam to kMoveBound times the largest gap
// across the seams it closes as they came, an end standing out past the other side's left out
// (HEALGAP at least): a control point that went farther goes back along its move to the bound,
// but for those on the rows of the seams it closes (OnSeamRow, the second rows of smooth seams
// only where they end within healAngle), which stay where they met.
// Bounded by the gaps of all its seams (MoveBounds), a surface would keep the moves it made
// towards a seam left open, where the neighbour went back; a surface that closes none of its
// seams keeps that bound. A closed seam's one row that went beyond the bound first takes the mean of
// the two rows as they came (MeanClosedRowsBeyondBound): held where they met, the rows of two
// coarse nets parametrised apart can keep one side's points sliding along the row several times
// the gap. The surfaces held back are flagged changed; whether there were any.
bool BoundByClosedSeams(BndrStruct* bs, Bspline* const* srfs, const GroupMeasure& before, const GroupMeasure& after,
                        double healGap, double healAngle, SurfaceStage* stages) {
  TrackingScope scope;
  double* bound = MallocArray<double>(bs->nSrf);
  if (!bound) return false;
  for (int i = 0; i < bs->nSrf; ++i) {
    stages[i].changed = 0;
    bound[i] = -1.0;
    if (stages[i].stage == kStart || ControlPointMove(TopologySurface(bs, i), srfs[i]) < 0.0) continue;
    double closed = -1.0;
    for (int e = 0; e < bs->nEdge; ++e) {
      int a = -1, b = -1;
      if (!bs->edges[e].paired || after.gap[e] > healGap) continue;
      GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
      if (a == i || b == i) closed = std::max(closed, before.acrossLine[e]);
    }
    if (closed >= 0.0) bound[i] = kMoveBound * std::max(closed, healGap);
  }
  bool any = MeanClosedRowsBeyondBound(bs, srfs, after, healGap, bound, stages);
  for (int i = 0; i < bs->nSrf; ++i) {
    Bspline* s = TopologySurface(bs, i);
    const Bspline* in = srfs[i];
    if (!(bound[i] >= 0.0)) continue;
    bool held = false;
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int k = 0; k < NumCtrlU(s); ++k) {
        const double d[3] = {s->X[j][k] - in->X[j][k], s->Y[j][k] - in->Y[j][k], s->Z[j][k] - in->Z[j][k]};
        const double len = VecSize3(d);
        if (!(len > bound[i] * (1.0 + 1e-9)) || OnSeamRow(bs, i, j, k, &after, healGap, healAngle)) continue;
        const double f = bound[i] / len;
        s->X[j][k] = in->X[j][k] + f * d[0];
        s->Y[j][k] = in->Y[j][k] + f * d[1];
        s->Z[j][k] = in->Z[j][k] + f * d[2];
        held = true;
      }
    if (!held && !stages[i].changed) continue;
    stages[i].changed = 1;
    any = true;
    FreeBsplineProperties(s);
    RebuildSidesOf(bs, i);
  }
  return any;
}

// How far, in multiples of its size, a kept corner's move across a row fades out along the row a
// take-back sets: a move fading over a stretch L turns the normals there by about move / L, here
// under 3 degrees, and leaves the rest of the side where it came.
constexpr double kCarryFade = 20.0;

// Sets the points of one row `row` of surface s that are not on the rows of the seams it closes back
// to where they came (`in`), but for a share of the moves of those that are, which stay where they
// met. The moves shared are those of row `moveRow` (the side's boundary row) at the nearest such
// points on each side, weighted linearly by length along the row as it came (nothing at a row end
// not on such a row): their part along the row in full, so that the side keeps its points' places
// between its ends, and their part across it fading within kCarryFade times its size. A row that went
// back but at a corner kept to close another seam turned the normals there by tens of degrees, and a
// crease along it with them. Whether a point changed.
bool TakeBackRow(const BndrStruct* bs, int i, Bspline* s, const Bspline* in, bool alongU, int row, int moveRow,
                 const GroupMeasure& after, double healGap) {
  const int along = alongU ? NumCtrlU(s) : NumCtrlV(s);
  auto jk = [&](int m, int* j, int* k) { *j = alongU ? row : m, *k = alongU ? m : row; };
  auto kept = [&](int m) {
    int j, k;
    jk(m, &j, &k);
    return OnSeamRow(bs, i, j, k, &after, healGap);
  };
  auto chord = [&](int a, int b) {  // length of the row as it came from point a to point b (a <= b)
    double l = 0.0;
    for (int m = a; m < b; ++m) {
      int j0, k0, j1, k1;
      jk(m, &j0, &k0), jk(m + 1, &j1, &k1);
      l += std::hypot(in->X[j1][k1] - in->X[j0][k0], in->Y[j1][k1] - in->Y[j0][k0], in->Z[j1][k1] - in->Z[j0][k0]);
    }
    return l;
  };
  // Adds the share of point m's move at weight w, l along the row from it; dir: the row's unit
  // direction between the anchors.
  auto moveOf = [&](int m, double w, double l, const double dir[3], double d[3]) {
    const int j = alongU ? moveRow : m, k = alongU ? m : moveRow;
    double mv[3] = {s->X[j][k] - in->X[j][k], s->Y[j][k] - in->Y[j][k], s->Z[j][k] - in->Z[j][k]};
    const double a = mv[0] * dir[0] + mv[1] * dir[1] + mv[2] * dir[2];
    double pp[3] = {mv[0] - a * dir[0], mv[1] - a * dir[1], mv[2] - a * dir[2]};
    const double pl = std::sqrt(pp[0] * pp[0] + pp[1] * pp[1] + pp[2] * pp[2]);
    const double wp = pl > 0 ? std::min(w, std::max(0.0, 1.0 - l / (kCarryFade * pl))) : 0.0;
    for (int c = 0; c < 3; ++c) d[c] += w * a * dir[c] + wp * pp[c];
  };
  bool moved = false;
  int left = -1, right = -2;  // the nearest kept points before and after (-1: none, -2: not yet looked for)
  for (int m = 0; m < along; ++m) {
    if (kept(m)) {
      left = m;
      continue;
    }
    if (right != -1 && right <= m) {
      right = -1;
      for (int q = m + 1; q < along && right < 0; ++q)
        if (kept(q)) right = q;
    }
    double d[3] = {0.0, 0.0, 0.0};
    if (left >= 0 || right >= 0) {
      const int a = left >= 0 ? left : 0, b = right >= 0 ? right : along - 1;
      double la = chord(a, m), lb = chord(m, b);
      if (!(la + lb > 0.0)) la = m - a, lb = b - m;
      int ja, ka, jb, kb;
      jk(a, &ja, &ka), jk(b, &jb, &kb);
      double dir[3] = {in->X[jb][kb] - in->X[ja][ka], in->Y[jb][kb] - in->Y[ja][ka], in->Z[jb][kb] - in->Z[ja][ka]};
      const double dl = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
      for (double& c : dir) c = dl > 0 ? c / dl : 0.0;
      if (left >= 0) moveOf(left, lb / (la + lb), la, dir, d);
      if (right >= 0) moveOf(right, la / (la + lb), lb, dir, d);
    }
    int j, k;
    jk(m, &j, &k);
    const double x = in->X[j][k] + d[0], y = in->Y[j][k] + d[1], z = in->Z[j][k] + d[2];
    if (s->X[j][k] == x && s->Y[j][k] == y && s->Z[j][k] == z) continue;
    s->X[j][k] = x, s->Y[j][k] = y, s->Z[j][k] = z;
    moved = true;
  }
  return moved;
}

}  // namespace

namespace gstitch_internal {

bool TakeBackMovesTowardsPutBack(BndrStruct* bs, Bspline* const* srfs, const GroupMeasure& after, double healGap,
                                 SurfaceStage* stages, char* taken) {
  bool any = false;
  const int n = bs->nSrf;
  for (int e = 0; e < bs->nEdge; ++e) {
    const EdgeInfoStruct* ed = &bs->edges[e];
    if (!ed->paired || after.gap[e] <= healGap || !ed->infoA || !ed->infoB) continue;
    for (const CrvInfoStruct* own : {ed->infoA, ed->infoB}) {
      const CrvInfoStruct* other = own == ed->infoA ? ed->infoB : ed->infoA;
      const int i = own->srfInfo ? own->srfInfo->index : -1, o = other->srfInfo ? other->srfInfo->index : -1;
      if (i < 0 || i >= n || o < 0 || o >= n || i == o || stages[i].stage == kStart || stages[o].stage != kStart ||
          bs->srfs[o].fixed || own->side < 1 || own->side > 4)
        continue;
      Bspline* s = TopologySurface(bs, i);
      const Bspline* in = srfs[i];
      if (ControlPointMove(s, in) < 0.0) continue;
      const bool alongU = own->side == 2 || own->side == 4;
      const int across = alongU ? NumCtrlV(s) : NumCtrlU(s);
      bool moved = false;
      taken[e] = 1;
      for (int r = 0; r < std::min(2, across - 1); ++r) {
        const int row = own->side == 1 || own->side == 2 ? r : across - 1 - r;
        const int edgeRow = own->side == 1 || own->side == 2 ? 0 : across - 1;
        moved = TakeBackRow(bs, i, s, in, alongU, row, edgeRow, after, healGap) || moved;
      }
      if (!moved) continue;
      any = true;
      stages[i].changed = 1;
      FreeBsplineProperties(s);
      RebuildSidesOf(bs, i);
    }
  }
  return any;
}

}  // namespace gstitch_internal

namespace {

// Each held outer side's endMove: how far its end points lie from the caller's (as it came) on a
// surface about to be written, 0 on one that is not.
void RecordHeldEndMoves(BndrStruct* bs, Bspline* const* srfs, const SurfaceStage* stages) {
  for (int c = 0; c < bs->nCrv; ++c) {
    CrvInfoStruct* crv = &bs->crvs[c];
    crv->endMove = 0.0;
    const int i = crv->srfInfo ? crv->srfInfo->index : -1;
    if (crv->side < 1 || crv->side > 4 || !crv->outer || crv->outerCont < 0 || i < 0 || i >= bs->nSrf || !Written(stages[i]))
      continue;
    const Bspline* now = TopologySurface(bs, i);
    const Bspline* was = srfs[i];
    for (int end = 0; end < 2; ++end) {
      auto corner = [&](const Bspline* s, double p[3]) {
        const int last[2] = {NumCtrlU(s) - 1, NumCtrlV(s) - 1};
        const int k = crv->side == 1 ? 0 : crv->side == 3 ? last[0] : (end ? last[0] : 0);
        const int j = crv->side == 2 ? 0 : crv->side == 4 ? last[1] : (end ? last[1] : 0);
        p[0] = s->X[j][k], p[1] = s->Y[j][k], p[2] = s->Z[j][k];
      };
      double a[3], b[3];
      corner(now, a);
      corner(was, b);
      crv->endMove = std::max(crv->endMove, VecDist3(a, b));
    }
  }
}

// Steps surfaces back, round by round, until no seam is worse than it came (StepBackWorsened),
// and holds them to the gaps they close (BoundByClosedSeams), judging again after each hold.
// stages holds each surface's record. false on a failure.
bool StepBackRounds(BndrStruct* bs, Bspline** srfs, int n, const GroupMeasure& before, GroupMeasure* after,
                    double healGap, double healAngle, SurfaceStage* stages, Bspline* const* positional,
                    Bspline* const* tangential) {
  int held = 0;
  // Per edge, whether a surface's rows on it went back where they came (TakeBackMovesTowardsPutBack).
  Owned<char, Free> taken;
  // Per surface, whether its crease sides turn (read by the crease stages below the heal).
  Owned<char, Free> which;
  {
    TrackingScope scope;
    taken.reset(MallocArray<char>(std::max(bs->nEdge, 1)));
    which.reset(MallocArray<char>(n));
    scope.keep();
  }
  if (!taken || !which || KernelFailed()) return false;
  std::fill(taken.get(), taken.get() + std::max(bs->nEdge, 1), 0);
  for (int round = 0;; ++round) {
    // After the first round only the surfaces stepped back or held back have changed.
    if (MeasureGroup(bs, after, round == 0 ? nullptr : stages, &before) != 0) return false;
    const int worsened = StepBackWorsened(bs, before, *after, healGap, healAngle, stages, taken.get());
    if (worsened + KeepIdleSurfaces(bs, before, *after, healGap, healAngle, stages) == 0) {
      // The rounds that step surfaces back after the last hold re-solve their crease sides, which
      // may move them far beyond their bounds: the heal ends with every surface held once more.
      if (held >= kBoundPasses) {
        if (BoundByClosedSeams(bs, srfs, before, *after, healGap, healAngle, stages) &&
            MeasureGroup(bs, after, stages, &before) != 0)
          return false;
        break;
      }
      const bool bounded = BoundByClosedSeams(bs, srfs, before, *after, healGap, healAngle, stages);
      if (!TakeBackMovesTowardsPutBack(bs, srfs, *after, healGap, stages, taken.get()) && !bounded) break;
      ++held;
      continue;
    }
    // A surface stepped back takes up moves its rows made towards a neighbour put back again.
    for (int e = 0; e < bs->nEdge; ++e) {
      int a = -1, b = -1;
      GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
      if ((a >= 0 && a < n && stages[a].changed) || (b >= 0 && b < n && stages[b].changed)) taken[e] = 0;
    }
    // A surface stepped back to kCornersKept or kRowsFree turns its crease sides after its
    // positional result.
    bool turned = false;
    for (int i = 0; i < n; ++i) {
      const char stage = stages[i].stage;
      which[i] = stages[i].changed && (stage == kCornersKept || stage == kRowsFree);
      turned = turned || which[i];
      if (!stages[i].changed) continue;
      const Bspline* back = stage == kTangential ? tangential[i] : stage >= kRowsFree ? positional[i] : srfs[i];
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
      for (int i = 0; i < n; ++i)
        which[i] = stages[i].changed && stages[i].stage == (held == 2 ? kCornersKept : kRowsFree);
      if (KernelFailed() || KeepCreaseNormals(bs, srfs, which.get(), 0, held) != 0) return false;
    }
  }
  return true;
}

// One heal of the group on the stored topology, as HealTopologyZK describes it.
int HealPass(Bspline** srfs, int n, const int* fixed, int continuity, int bFixedSamples, double healGap,
             double healAngle, int report, int** result) {
  BndrStruct* bs = srfsTopology;
  if (MarkHeldGeometry(bs, n, fixed, continuity) != 0) return -2;

  GlobalStitchInfo info;
  SetHealStitchInfo(n, continuity, bFixedSamples, healGap, healAngle, &info);

  // positional: each surface as the stitch left it; tangential: the whole tangential heal of a
  // surface taken back to its move bound
  OwnedArray<Bspline, FreeBspline> healed, positional, tangential;
  Owned<SurfaceStage, Free> stages;  // per surface
  Owned<double, Free> bounds;  // per surface, the most its control points may move (MoveBounds)
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
    tangential = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
    stages.reset(MallocArray<SurfaceStage>(n));
    bounds.reset(MallocArray<double>(n));
    scope.keep();
  }
  if (!positional || !tangential || !stages || !bounds || KernelFailed()) return FailedHeal(report, result, n);
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
    // still worse then to where they began. Before them all, a surface moved beyond its bound is
    // taken back within it, and has its whole tangential heal only where that leaves a seam of it
    // worse than it came.
    for (int i = 0; i < n; ++i) {
      stages[i].stage = (fixed && fixed[i]) ? kStart : kTangential;
      stages[i].why = 0;
    }
    MoveBounds(bs, before, healGap, bounds.get());
    FreeBsplineArrayContents(tangential.get(), n);
    if (BoundMoves(bs, srfs, positional.get(), bounds.get(), kMoveBound * healGap, tangential.get(), stages.get()) !=
        0)
      return false;
    return StepBackRounds(bs, srfs, n, before, &after, healGap, healAngle, stages.get(), positional.get(),
                          tangential.get());
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
  for (int i = 0; i < n; ++i) folded = folded || (stages[i].stage == kStart && stages[i].why == kKeptFold);
  for (int e = 0; e < bs->nEdge; ++e) shareable = shareable || SharedRowSeam(bs, &bs->edges[e]);
  if (folded && shareable) {
    const int closedFirst = seamsClosed();
    OwnedArray<Bspline, FreeBspline> first;
    first.reset(CopyTopologySurfaces(bs, n), n);
    Owned<SurfaceStage, Free> firstStage;
    {
      TrackingScope scope;
      firstStage.reset(MallocArray<SurfaceStage>(n));
      scope.keep();
    }
    if (!first || !firstStage || KernelFailed()) return FailedHeal(report, result, n);
    // The stages and the reasons of the surfaces put back.
    for (int i = 0; i < n; ++i) firstStage[i] = stages[i];
    FreeBsplineArrayContents(positional.get(), n);
    // The stitch's first samples are those of the group as it came.
    for (int i = 0; i < n; ++i)
      if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), srfs[i]) != 0) return FailedHeal(report, result, n);
    if (EvalAllBndrCrvCurve3Form(bs) != 0 || MeasureGroup(bs, &before) != 0 || !stitchAndStepBack(true))
      return FailedHeal(report, result, n);
    if (seamsClosed() <= closedFirst) {
      for (int i = 0; i < n; ++i) {
        stages[i].stage = firstStage[i].stage, stages[i].why = firstStage[i].why;
        if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), first[i]) != 0) return FailedHeal(report, result, n);
      }
      if (EvalAllBndrCrvCurve3Form(bs) != 0 || MeasureGroup(bs, &after, nullptr, &before) != 0)
        return FailedHeal(report, result, n);
    }
  }

  // Left on the topology for the report: a seam of such a surface stays as it came.
  for (int i = 0; i < n; ++i)
    bs->srfs[i].keptStart = stages[i].stage == kStart && !(fixed && fixed[i]) ? stages[i].why : 0;
  // The codes describe the geometry about to be written, measured before anything is: the
  // last round measured every seam as ComputeSrfsGrpCrvGapStats would (100 fresh samples), so
  // its measures give the codes.
  if (report == 1) SetSrfsGrpCrvGapCodes(bs, healGap, healAngle, result);
  // Surfaces back at their start are not written at all (Written).
  RecordHeldEndMoves(bs, srfs, stages.get());
  healed.reset(CopyTopologySurfaces(bs, n, stages.get()), n);
  if (!healed) return FailedHeal(report, result, n);
  if (CopyHealedBack(srfs, n, fixed, healed.get(), stages.get()) != 0) return FailedHeal(report, result, n);
  return 0;
}

// The surfaces a second pass heals: those on a seam the pass before closed in position and left
// short of the angle target. The others are held; false when there are none.
bool SecondPassSurfaces(const BndrStruct* bs, int n, const int* fixed, double healGap, double healAngle,
                        int* held) {
  for (int i = 0; i < n; ++i) held[i] = 1;
  bool any = false;
  for (int e = 0; e < bs->nEdge; ++e) {
    const EdgeInfoStruct* ed = &bs->edges[e];
    int a = -1, b = -1;
    if (!ed->paired || IsBndrEdgeHealedSmooth(ed) != 1 || !(ed->maxGap <= healGap) || !(ed->maxAngle > healAngle) ||
        GetBndrEdgeAdjSrfIds(ed, &a, &b) != 0)
      continue;
    for (const int s : {a, b})
      if (s >= 0 && s < n && !(fixed && fixed[s]) && !bs->srfs[s].keptStart) held[s] = 0, any = true;
  }
  return any;
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
    if (!IsStitchableSurface(srfs[i]) || IsRationalBspline(srfs[i])) return -2;

  // The heal works on copies: the caller's surfaces take its result only at the very end, all at once.
  OwnedArray<Bspline, FreeBspline> work;
  work.reset(CopySurfaces(srfs, n), n);
  if (!work) return FailedHeal(report, result, n);
  int status = HealPass(work.get(), n, fixed, continuity, bFixedSamples, healGap, healAngle, report, result);
  if (status != 0) return status;
  // A seam the heal closed short of its angle target is healed once more from where the heal left
  // it, its other surfaces held: the tangential heal starts anew from a closed seam and reaches
  // what a heal of the healed group would. Healed again, the group then has nothing left to move.
  Owned<int, Free> held;
  Owned<double, Free> endMoves;
  Owned<int, Free> kept, stalled;
  {
    TrackingScope scope;
    held.reset(MallocArray<int>(n));
    kept.reset(MallocArray<int>(n));
    endMoves.reset(MallocArray<double>(std::max(bs->nCrv, 1)));
    stalled.reset(MallocArray<int>(std::max(bs->nEdge, 1)));
    scope.keep();
  }
  if (!held || !kept || !endMoves || !stalled || KernelFailed()) return FailedHeal(report, result, n);
  if (SecondPassSurfaces(bs, n, fixed, healGap, healAngle, held.get())) {
    // What the first pass found of the surfaces and seams the second holds still stands.
    for (int i = 0; i < n; ++i) kept[i] = bs->srfs[i].keptStart;
    for (int c = 0; c < bs->nCrv; ++c) endMoves[c] = bs->crvs[c].endMove;
    for (int e = 0; e < bs->nEdge; ++e) stalled[e] = bs->edges[e].stalled;
    for (int i = 0; i < n; ++i) held[i] = held[i] || (fixed && fixed[i]);
    status = HealPass(work.get(), n, held.get(), continuity, bFixedSamples, healGap, healAngle, report, result);
    if (status != 0) return status;
    for (int i = 0; i < n; ++i)
      if (held[i] && !(fixed && fixed[i])) bs->srfs[i].keptStart = kept[i];
    for (int c = 0; c < bs->nCrv; ++c) bs->crvs[c].endMove = std::max(bs->crvs[c].endMove, endMoves[c]);
    for (int e = 0; e < bs->nEdge; ++e) {
      int a = -1, b = -1;
      GetBndrEdgeAdjSrfIds(&bs->edges[e], &a, &b);
      const bool moved = (a >= 0 && a < n && !held[a]) || (b >= 0 && b < n && !held[b]);
      if (!moved) bs->edges[e].stalled = stalled[e];
    }
  }
  if (CopyHealedBack(srfs, n, fixed, work.get(), nullptr) != 0) return FailedHeal(report, result, n);
  return 0;
}

int MeasureGroupAsHeldZK(Bspline* const* held, int n, double healGap, double healAngle, int** codes) {
  BndrStruct* bs = srfsTopology;
  if (!held || !codes || !bs || n < 1 || bs->nSrf != n) return -2;
  for (int i = 0; i < n; ++i)
    if (!held[i] || ReplaceSrfBsplineGeometry(TopologySurface(bs, i), held[i]) != 0) return -2;
  if (EvalAllBndrCrvCurve3Form(bs) != 0) return -2;
  return ComputeSrfsGrpCrvGapStats(bs, healGap, healAngle, kMeasureSamples, codes);
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
