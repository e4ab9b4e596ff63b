// A group fitted to a point cloud, then stitched.
#include "healing/gstitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "cloud/pmedian.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "healing/gstitch_internal.h"
#include "healing/mshrink.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "platform/tstubs.h"
#include "shrinkwrap/cshrink.h"
#include "splinefit/fitsplin.h"

using namespace gstitch_internal;

// ---- group fit to a cloud, then stitch ------------------------------------------------------

namespace {

// Build-time switches of the older pipeline: the older positional loop (not the global stitch),
// the topology's angle kept at 55 degrees, full samples from the first iteration, corners
// refined only in a run of refineStepOld iterations; an added knot goes to the middle of its
// span (InsertKnotsToSrfGrpWrtEdgeGap).
constexpr int newTest = 0;
constexpr int stitchTest = 1;
constexpr int kMaxSubdiv = 100;
constexpr int refineStepOld = 100;

// A topology made by SetupStitchSrfsTopology with the surfaces it owns.
void FreeTopologyAndSurfaces(BndrStruct* bs) {
  if (!bs) return;
  for (int i = 0; i < bs->nSrf; ++i) {
    FreeBspline(bs->srfs[i].srf);
    bs->srfs[i].srf = nullptr;
  }
  FreeBndrStruct(bs);
}

// One surface's fit: knots for the held rows (both copies), the offsets fitted on `work`,
// filtered when asked, the rebuild from `target`. Null when skipped or failed.
Bspline* FitSkinSurface(Bspline* work, Bspline* target, Cloud* diff, const int fixed[4],
                        const ShrnkWrapParams& options) {
  int nU = 0, nV = 0;
  if (ComputeNumSrfShrinkWrapNeededKnots(target, fixed, &nU, &nV) != 0) return nullptr;
  if (nU + nV > 0) {
    if (!options.insertKnots) return nullptr;
    if (InsertSurfShrinkWrapKnots(work, fixed) != 0 || InsertSurfShrinkWrapKnots(target, fixed) != 0)
      return nullptr;
  }
  work->fitProps = {1, options.Tension, options.Roughness, options.Sigma};
  work->umin = target->umin, work->umax = target->umax;
  work->vmin = target->vmin, work->vmax = target->vmax;
  if (FitWCoefiToCloud(work, diff, fixed) != 0) return nullptr;
  if (options.medianFilter) MedianFilterGriddedArray_d(work->Z, NumCtrlU(work), NumCtrlV(work), 3);
  Bspline* r = MakeShrinkWrapSurf(target, work, 0.0, 0.0, 0.0, fixed);
  if (r) DropShrinkWrapForms(r);
  return r;
}

}  // namespace

int ShrinkWrapFitSkinSrfs(BndrStruct* bs, Cloud* cloud, double fitDist, ShrnkWrapParams options,
                          Bspline*** fitted, int* count) {
  if (fitted) *fitted = nullptr;
  if (count) *count = 0;
  if (!bs || bs->nSrf < 1 || !fitted || !count || !cloud || cloud->npts < 3) return -2;
  const int n = bs->nSrf;
  for (int i = 0; i < n; ++i)
    if (!IsStitchableSurface(TopologySurface(bs, i))) return -2;
  TrackingScope scope;
  // work: the offsets are fitted on them and they go; result: what is handed back.
  auto work = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  OwnedArray<Bspline, FreeBspline> result;
  {
    UntrackedScope own;  // the array is handed to the caller
    result = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  }
  auto clouds = OwnedArray<Cloud, FreeCloud>::Zeroed(n);
  if (!work || !result || !clouds || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    work[i] = CopyBsplineSurface(TopologySurface(bs, i));
    result[i] = CopyBsplineSurface(TopologySurface(bs, i));
    if (!work[i] || !result[i] || KernelFailed()) return -2;
  }
  if (MakeSrfsNormalDiffClouds(cloud, result.get(), n, fitDist, clouds.get()) != 0) return -2;
  int done = 0;
  for (int i = 0; i < n; ++i) {
    if (!clouds[i] || clouds[i]->npts < 2) {
      ++done;  // nothing to fit: the copy stands
      continue;
    }
    int fixed[4];
    if (GetSkinSrfBndrCons(bs, i, fixed) != 0) return -2;
    Bspline* r = FitSkinSurface(work[i], result[i], clouds[i], fixed, options);
    if (!r) {
      // A skipped or failed fit leaves the copy; a failed allocation stops the whole fit.
      if (memory_error == 1) return -2;
      ClearKernelError();
      continue;
    }
    FreeBspline(result[i]);
    result[i] = r;
    ++done;
  }
  if (KernelFailed()) return -2;
  *count = done;
  *fitted = result.release();
  return 0;
}

int HealSrfGrpEdgeG0Continuity(BndrStruct* bs, double tol, int continuity, double gapTol,
                               int maxIter, double stagnation, double relScale, int insertKnot,
                               int* reason, double* finalGap) {
  (void)tol;
  (void)continuity;
  int reasonDummy = 0;
  double gapDummy = 0.0;
  if (!reason) reason = &reasonDummy;
  if (!finalGap) finalGap = &gapDummy;
  stagnation = std::max(stagnation, 1e-12);
  const double relTol = 0.01 * relScale;
  *reason = 2;
  if (!bs || bs->nSrf < 1) return -2;
  if (bs->nSrf == 1) {
    *reason = 0;
    *finalGap = 0.0;
    return 0;
  }
  if (EvalAllBndrCrvCurve3Form(bs) != 0) return -2;
  ShrnkWrapParams params;
  SetDefaultShrnkWrapParams(&params);
  for (int k = 0; k < 4; ++k) params.fixedRows[k] = -1;
  TrackingScope scope;
  double sigma = 0.05, gap = 0.0, tA = 0.0, tB = 0.0;
  int gapEdge = -1, stagnant = 0, slow = 0, growing = 0, lastFailed = 0;
  bool reducedFirst = false;
  const int patience = insertKnot ? 6 : 2;  // iterations before the gain tests count
  for (int i = 0; i < maxIter; ++i) {
    const int samples = stitchTest || i > 0 ? kMaxSubdiv : 50;
    if (i == 1) sigma = 0.05;
    sigma = std::max(0.8 * sigma, 0.01);
    params.Sigma = sigma;
    if (!bParamFixed && SampleEdges(bs, i % 4 == 0, samples) != 0) return -2;
    if (i < 20) {
      if (SetUpBndrEdgeCornerGeometry(bs) != 0) {
        *reason = 2;
        return -2;
      }
    } else if (ComputeAllBndrEdgesAvgSamplePnts(bs) != 0) {
      break;
    }
    if (i == 0 && ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;
    if (i == refineStepOld && gap > 2.0 * gapTol) RefineBndrCornerPositions(bs);
    if (insertKnot && i >= 4 && i % 3 == 2 && InsertKnotsToSrfGrpWrtEdgeGap(bs, gapTol) != 0) return -2;

    int failed = 0;
    for (int c = 0; c < bs->nCrv; ++c) {
      CrvInfoStruct* crv = &bs->crvs[c];
      if (crv->side < 1 || crv->side > 4 || crv->fixed || crv->nEdge < 1) continue;
      if (crv->outer && (crv->outerCont >= 0 || (i >= 20 && crv->nEdge == 1))) continue;
      int red = 0;
      if (WrapBndrCrv3ToSamplePoints(bs, c, insertKnot, bParamFixed ? 0 : 1, &params, &red) != 0) ++failed;
      RebuildCurve3Form(crv);
      if (i == 0 && red == 1) {
        reducedFirst = true;
        break;
      }
    }
    lastFailed = failed;

    const double prev = gap;
    if (ComputeBndrInfoMaxEdgeGap(bs, &gap, &gapEdge, &tA, &tB) != 0) return -2;
    if (failed > 0 || reducedFirst) break;
    if (gap < 0.95 * gapTol) break;
    const double d = prev - gap;
    stagnant = (std::fabs(d) < stagnation && i > patience) ? stagnant + 1 : 0;
    if (stagnant > 1) break;
    if (prev > gap && std::fabs(prev) > 1e-6 && i > patience)
      slow = std::fabs(d / prev) < relTol ? slow + 1 : 0;
    else
      slow = 0;
    if (slow > 1) break;
    growing = prev < gap ? growing + 1 : 0;
    if (growing >= 3) break;
  }
  scope.keep();
  *finalGap = gap;
  *reason = reducedFirst ? 1 : (lastFailed > 0 ? 2 : 0);
  return 0;
}

int MultiSrfsShrinkWrapGeom(Cloud* cloud, Bspline** srfs, int n, ShrnkWrapParams options,
                            double graphTol, double fitDist, double topoGap, int continuity,
                            double gapTol, double angleTol, int insertKnot, int* state) {
  int stateDummy = 0;
  if (!state) state = &stateDummy;
  *state = 1;
  if (n <= 0 || !cloud || !srfs) return -2;
  for (int i = 0; i < n; ++i)
    if (!IsStitchableSurface(srfs[i])) return -2;
  // The topology's angle: twice the target, at least 90; the stitch test pins it to 55.
  double angle = std::max(2.0 * angleTol, 90.0);
  if (stitchTest) angle = std::max(std::min(2.0 * angleTol, 15.0), 55.0);
  BndrStruct* bs = nullptr;
  if (SetupStitchSrfsTopology(srfs, n, graphTol, topoGap, angle, continuity, &bs) != 0 || !bs) return -2;
  const Owned<BndrStruct, FreeTopologyAndSurfaces> topology(bs);

  for (int k = 0; k < 4; ++k) options.fixedRows[k] = continuity;
  options.medianFilter = 1;
  Bspline** fitted = nullptr;
  int count = 0;
  if (ShrinkWrapFitSkinSrfs(bs, cloud, fitDist, options, &fitted, &count) != 0 || !fitted) return -2;
  auto ownFitted = OwnedArray<Bspline, FreeBspline>(fitted, n);
  if (count < n) {
    *state = 2;
    return 0;
  }
  for (int i = 0; i < n; ++i)
    if (ReplaceSrfBsplineGeometry(TopologySurface(bs, i), fitted[i]) != 0 || KernelFailed()) return -2;
  ownFitted.reset();

  StatusMessageFormat("%s", MSGstr("Set up Continuity"));
  int reason = 0;
  double gap = 0.0;
  int s = 0;
  if (newTest)
    s = G0GlobalStitchSrfGrp(bs, continuity, gapTol, angleTol, 0, 1, 60, kMaxSubdiv, 1e-5, 0.01, &reason, &gap);
  else
    s = HealSrfGrpEdgeG0Continuity(bs, graphTol, continuity, gapTol, 60, 1e-5, 1.0, insertKnot, &reason, &gap);
  if (s != 0) {
    *state = 1;
    ClearStatusMessage();
    return -2;
  }
  if (reason == 1 || memory_error == 1) {
    *state = reason == 1 ? 3 : 1;
    ClearStatusMessage();
    return -2;
  }
  ClearKernelError();  // a failed wrap of the last sweep is reported through the state
  *state = reason == 2 ? 1 : (gap >= gapTol ? 4 : 0);
  const double stagnation = std::clamp(0.01 * angleTol, 0.0001, 0.005);
  if (NewHealSrfGrpEdgeG1Continuity(bs, gapTol, angleTol, 20, stagnation, 1.0, insertKnot) != 0) {
    *state = 4;
    if (memory_error == 1) {
      ClearStatusMessage();
      return -2;
    }
    ClearKernelError();  // the positional result stands
  }
  // All or none: every caller surface takes its topology surface only when all could be staged.
  Bspline** healed = CallocArray<Bspline*>(n);
  if (!healed || KernelFailed()) {
    ClearStatusMessage();
    return -2;
  }
  for (int i = 0; i < n; ++i) healed[i] = TopologySurface(bs, i);
  const int copied = CopyHealedBack(srfs, n, nullptr, healed);
  Free(healed);
  ClearStatusMessage();
  return copied == 0 ? 0 : -2;
}
