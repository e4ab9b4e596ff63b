// Crease sides keep their normals: after the positional stitch has moved a crease side's second
// row (as the carry at a corner does), the row turns back so that along the crease, between a
// tenth and nine tenths of it, each surface's normal is the one it started with. Measured with
// the independent evaluator of the healing suites, at sizes 1e-3 to 1e3.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/srfclone.h"
#include "healing/mshrink.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class CreaseNormals : public KernelTest {};

// A's u-max side against B's u-min side, both running in v over [0, 1]: the largest angle
// between each surface's normal now and where it began, over the inner eight tenths.
double LargestTurn(const Bspline* const now[2], const Bspline* const was[2]) {
  double worst = 0.0;
  for (int s = 0; s < 2; ++s)
    for (int i = 10; i <= 90; ++i) {
      double a[3], b[3];
      SideNormal(now[s], s == 0 ? 3 : 1, i / 100.0, a);
      SideNormal(was[s], s == 0 ? 3 : 1, i / 100.0, b);
      worst = std::max(worst, RefFoldedAngle(a, b));
    }
  return worst;
}

void Scale(Bspline* s, double f) {
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) {
      s->X[j][i] *= f;
      s->Y[j][i] *= f;
      s->Z[j][i] *= f;
    }
}

// Both second rows along a 12-degree crease tilted at random (the stitch's carry does this near
// corners): the rows come back to the starting normals, every point but the inner points of
// those two rows stays exactly, and the seam keeps its angle. A 3-degree kink at a 5-degree
// limit is a smooth seam, the tangential heal's: nothing moves. Nor does anything beside no
// smooth seam when only the sides the tangential heal disturbed are asked for.
TEST_F(CreaseNormals, CreaseRowsTurnBackToTheirStartingNormals) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> tilt(-0.01, 0.01);
  for (double size : {1e-3, 1.0, 1e3})
    for (double kink : {12.0, 3.0}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " kink " << kink);
      Group g;
      TwoPatches(g, [=](double) { return kink; }, false, [](double) { return 0.0; });
      for (Bspline* s : g.srfs) Scale(s, size);
      ASSERT_TRUE(g.Prepare(0.01 * size, 5.0));
      ASSERT_EQ(g.PairedCount(), 1);
      Group start;
      for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
      for (int s = 0; s < 2; ++s) {
        Bspline* b = g.srfs[s];
        const int col = s == 0 ? NumCtrlU(b) - 2 : 1;
        for (int j = 2; j < NumCtrlV(b) - 2; ++j) b->Z[j][col] += size * tilt(rng);
      }
      const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
      const Bspline* now[2] = {g.srfs[0], g.srfs[1]};
      const Bspline* was[2] = {start.srfs[0], start.srfs[1]};
      ASSERT_GT(LargestTurn(now, was), 1.0);
      // Taken only beside sides that meet smooth seams (after the tangential heal), the rows
      // of two patches with no smooth seam stay as they are.
      ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data(), 1), 0);
      EXPECT_EQ(Net(g.srfs[0]), a0);
      EXPECT_EQ(Net(g.srfs[1]), b0);
      ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data()), 0);
      if (kink < 5.0) {
        EXPECT_EQ(Net(g.srfs[0]), a0);
        EXPECT_EQ(Net(g.srfs[1]), b0);
        continue;
      }
      // Up to the fit's smoothing: the tilt turned them by degrees.
      EXPECT_LT(LargestTurn(now, was), 0.05);
      for (int s = 0; s < 2; ++s) {
        const std::vector<double> before = s == 0 ? a0 : b0, after = Net(g.srfs[s]);
        const int nu = NumCtrlU(g.srfs[s]), nv = NumCtrlV(g.srfs[s]), n = nu * nv;
        for (int k = 0; k < 3 * n; ++k) {
          const int i = k % n % nu, j = k % n / nu;
          if (i != (s == 0 ? nu - 2 : 1) || j < 2 || j > nv - 3) {
            EXPECT_EQ(after[k], before[k]) << i << "," << j;
          }
        }
      }
    }
  EXPECT_EQ(KeepCreaseSideNormals(nullptr, nullptr), -2);
}

}  // namespace
