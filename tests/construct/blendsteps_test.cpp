// The steps of the hole fill on curves they cannot work with: a failed step frees only the
// curves it made, never what the caller's arrays held, and a step that reads control points by
// position refuses curves that do not have them, changing nothing.
#include <cstring>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "construct/srfblend.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc_hooks.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BlendSteps : public KernelTest {};

// Every control point of the curves, for comparing before and after.
std::vector<double> Net(const std::vector<Bspline*>& curves) {
  std::vector<double> v;
  for (const Bspline* c : curves)
    for (int j = 0; j < NumCtrlU(c); ++j) v.insert(v.end(), {c->X[0][j], c->Y[0][j], c->Z[0][j]});
  return v;
}

TEST_F(BlendSteps, FailedHalfSideStepFreesOnlyTheCurvesItMade) {
  BsplineKeeper keep;
  const double v[3][3] = {{0, 0, 0}, {1, 0, 0}, {0.3, 0.8, 0}};
  std::vector<Bspline*> sides;
  for (int i = 0; i < 3; ++i) sides.push_back(keep(MkLine3(v[i], v[(i + 1) % 3], nullptr)));
  // The caller's arrays hold a record of its own where the step writes.
  Bspline* mine = keep(BuildRandomCurve(5, 3, 6));
  int sc[3] = {0, 0, 0};
  int failures = 0;
  for (long skip = 0; skip < 40; ++skip) {
    Bspline* pos[6];
    Bspline* tan[6];
    for (int j = 0; j < 6; ++j) pos[j] = tan[j] = mine;
    ClearKernelError();
    MallocFailAfter(skip, -1);
    GetSidePosAndTanCurves(sides.data(), nullptr, nullptr, nullptr, 0.0, sc, 3, pos, tan);
    MallocFailClear();
    if (KernelFailed()) {
      ++failures;
      for (Bspline* p : pos) EXPECT_EQ(p, nullptr) << skip;
    } else {
      for (Bspline* p : pos) FreeBspline(p);
    }
    // No tangent was asked for: those entries are the caller's as they were.
    for (Bspline* t : tan) EXPECT_EQ(t, mine);
    EXPECT_TRUE(BsplineSound(mine)) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0);
  }
  ClearKernelError();
  EXPECT_GT(failures, 0);
}

TEST_F(BlendSteps, StepsRefuseCurvesShorterThanTheControlPointsTheyIndex) {
  BsplineKeeper keep;
  const int n = 3;
  // Mid curves of degree 1 through two points; the centre twists read three from the end.
  std::vector<Bspline*> mid, tan;
  for (int i = 0; i < n; ++i) mid.push_back(keep(BuildRandomCurve(60 + i, 1, 2)));
  for (int j = 0; j < 2 * n; ++j) tan.push_back(keep(BuildRandomCurve(80 + j, 3, 4)));
  std::vector<double> a(n, 0.0), b(n, 0.1), c(n, 0.5), d(n, 1.0);
  const std::vector<double> before = Net(tan);
  GetCenterTwistPoints(mid.data(), n, a.data(), b.data(), c.data(), d.data(), tan.data());
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(Net(tan), before);
  ClearKernelError();
  // A tangent curve read control point by control point against a shorter half.
  std::vector<Bspline*> pos(2 * n), der(2 * n);
  for (int j = 0; j < 2 * n; ++j) {
    pos[j] = keep(BuildRandomCurve(20 + j, 1, 2));
    der[j] = keep(BuildRandomCurve(40 + j, 3, 5));
  }
  const std::vector<double> derBefore = Net(der);
  Get3DDerivativeCurves(pos.data(), der.data(), 2 * n);
  EXPECT_TRUE(KernelFailed());
  EXPECT_EQ(Net(der), derBefore);
}

}  // namespace
