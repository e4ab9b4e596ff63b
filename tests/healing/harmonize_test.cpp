// Harmonised orientation of a surface group: on a chain of patches with some reversed, exactly
// those are reversed and every normal then agrees with the reference; a patch sharing no edge
// keeps its orientation; bad input and refused allocations reverse nothing and leak nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "foundation/umalloc.h"
#include "healing/srfnorm.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class HarmonizeTest : public KernelTest {
 protected:
  void TearDown() override {
    for (Bspline* s : srfs_) FreeBspline(s);
    KernelTest::TearDown();
  }

  // Patches side by side along x (each [k, k + 1] x [0, 1] at the given scale), the listed ones
  // reversed in v, and one far away when `loner` is set.
  void Chain(int n, const std::vector<int>& reversed, bool loner = false, double scale = 1.0) {
    for (int k = 0; k < n + (loner ? 1 : 0); ++k) {
      const double x0 = k < n ? k : n + 5.0;
      Bspline* s = BuildFunctionPatch(
          [scale](double x, double y) { return 0.2 * x + 0.3 * y * y / scale; },
          {.nu = 5, .nv = 4, .x0 = x0 * scale, .x1 = (x0 + 1) * scale, .y0 = 0.0, .y1 = scale});
      srfs_.push_back(s);
    }
    for (int k : reversed) ReverseDirection(srfs_[k], 1);
  }

  // The z of the normal at the middle of each patch: its sign is the patch's orientation.
  std::vector<double> Orientation() const {
    std::vector<double> z;
    for (Bspline* s : srfs_) {
      double mid[2] = {0.5, 0.5}, n[1][3];
      SurfaceNormalsAt(s, &mid[0], &mid[1], n, 1);
      z.push_back(n[0][2] > 0 ? 1.0 : -1.0);
    }
    return z;
  }

  std::vector<Bspline*> srfs_;
};

TEST_F(HarmonizeTest, ExactlyTheReversedPatchesOfAChainTurn) {
  for (double scale : {1e-6, 1e-3, 1.0, 1e6}) {
    for (Bspline* s : srfs_) FreeBspline(s);
    srfs_.clear();
    Chain(5, {1, 3}, false, scale);
    Bspline** out = nullptr;
    const double tol = 1e-4 * scale;
    ASSERT_EQ(HarmonizeSrfNormals(srfs_.data(), 5, srfs_[0], tol, 10 * tol, &out), 2) << scale;
    ASSERT_NE(out, nullptr);
    std::vector<Bspline*> got(out, out + 2);
    std::sort(got.begin(), got.end());
    std::vector<Bspline*> want = {srfs_[1], srfs_[3]};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    Free(out);
    EXPECT_EQ(Orientation(), std::vector<double>(5, 1.0)) << scale;
    // Agreeing patches: nothing to do, and no list.
    EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 5, srfs_[2], tol, 10 * tol, &out), 0);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(HarmonizeTest, TheReferenceDecidesAndALonerKeepsItsOrientation) {
  // Patch 0 is the reference and runs against the others; the loner runs with them.
  Chain(3, {0}, true);
  Bspline** out = nullptr;
  ASSERT_EQ(HarmonizeSrfNormals(srfs_.data(), 4, srfs_[0], 1e-4, 1e-3, &out), 2);
  Free(out);
  EXPECT_EQ(Orientation(), (std::vector<double>{-1, -1, -1, 1}));
}

TEST_F(HarmonizeTest, AnEdgeAlongATrimCurveDecidesLikeASide) {
  // The middle patch reaches past its neighbour's edge and is trimmed back to it: the shared
  // edge is its trim curve on one side and the neighbour's u-min side on the other.
  Chain(1, {});
  auto shape = [](double x, double y) { return 0.2 * x + 0.3 * y * y; };
  Bspline* wide = BuildFunctionPatch(shape, {.nu = 6, .nv = 4, .x0 = 1.0, .x1 = 2.5});
  Bspline* last = BuildFunctionPatch(shape, {.nu = 5, .nv = 4, .x0 = 2.0, .x1 = 3.0});
  const double e = 2.0 / 3.0;  // x = 2 on the wide patch
  const double c[5][2] = {{0, 0}, {e, 0}, {e, 1}, {0, 1}, {0, 0}};
  std::vector<Bspline*> loop;
  for (int k = 0; k < 4; ++k)
    loop.push_back(BuildCurveOnSurface(wide, 1, {c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]}));
  AddLoop(wide, loop);
  srfs_.push_back(wide);
  srfs_.push_back(last);
  for (int turned = 1; turned <= 2; ++turned) {
    ReverseDirection(srfs_[turned], 1);
    Bspline** out = nullptr;
    ASSERT_EQ(HarmonizeSrfNormals(srfs_.data(), 3, srfs_[0], 1e-4, 1e-3, &out), 1) << turned;
    EXPECT_EQ(out[0], srfs_[turned]);
    Free(out);
    EXPECT_EQ(Orientation(), std::vector<double>(3, 1.0)) << turned;
  }
}

TEST_F(HarmonizeTest, RefusalsAndFailuresReverseNothing) {
  Chain(4, {2});
  Bspline** out = nullptr;
  Bspline* curve = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  Bspline* stranger = BuildFunctionPatch([](double, double) { return 0.0; });
  EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 4, stranger, 1e-4, 1e-3, &out), -2);
  EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 4, srfs_[0], -1.0, 1e-3, &out), -2);
  EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 4, srfs_[0], 1e-4, -1e-3, &out), -2);
  EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 0, srfs_[0], 1e-4, 1e-3, &out), -2);
  EXPECT_EQ(HarmonizeSrfNormals(srfs_.data(), 1, srfs_[0], 1e-4, 1e-3, &out), -2);  // one surface
  Bspline* mixed[2] = {curve, srfs_[0]};
  EXPECT_EQ(HarmonizeSrfNormals(mixed, 2, curve, 1e-4, 1e-3, &out), -2);
  EXPECT_EQ(out, nullptr);
  FreeBspline(curve);
  FreeBspline(stranger);

  const std::vector<double> before = Orientation();
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(HarmonizeSrfNormals(srfs_.data(), 4, srfs_[0], 1e-4, 1e-3, &out), 1);
  const long used = MallocRuntimeRequests() - start;
  Free(out);
  ReverseDirection(srfs_[2], 1);  // back as it was
  const int failures = RunWithInjectedFailures(used + 1, std::max(1L, used / 150), [&] {
    const int r = HarmonizeSrfNormals(srfs_.data(), 4, srfs_[0], 1e-4, 1e-3, &out);
    if (r < 0) {
      EXPECT_EQ(out, nullptr);
      EXPECT_EQ(Orientation(), before);
      return -2;
    }
    EXPECT_EQ(r, 1);
    Free(out);
    ReverseDirection(srfs_[2], 1);
    return 0;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
