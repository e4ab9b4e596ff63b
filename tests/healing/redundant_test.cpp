// Redundant and duplicate surfaces: a copy and a patch cut from a larger surface join its group
// under the smallest index, a surface overlapping it in part does not; the core flags exactly the
// members that are not heads; boxes must nest, not merely meet; the nearest point of a trimmed
// surface is the nearest foot on its loop; a user break or a refused allocation fails cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "foundation/onelink.h"
#include "foundation/umalloc.h"
#include "healing/srfbndrc.h"
#include "platform/tstubs.h"
#include "surface/srfutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

// Bilinear in x and y, which the patches reproduce exactly: a patch over any rectangle lies
// exactly on the one over a larger rectangle.
Bspline* Sheet(double x0, double x1, double y0, double y1, double s = 1.0, double lift = 0.0) {
  return BuildFunctionPatch(
      [s, lift](double x, double y) { return 0.3 * x * y / s + 0.2 * x - 0.1 * y + lift * s; },
      {.nu = 5, .nv = 4, .x0 = x0 * s, .x1 = x1 * s, .y0 = y0 * s, .y1 = y1 * s});
}

// Distance from p to the nearest of the curves' points, by a dense walk over each.
double NearestOnCurves(Bspline* s, const std::vector<Bspline*>& curves, const double p[3]) {
  double best = 1e300;
  for (Bspline* crv : curves)
    for (int i = 0; i <= 20000; ++i) {
      double q[3];
      EvalCrvOnSrfArray(s, crv, i / 20000.0, 0, q);
      best = std::min(best, std::hypot(q[0] - p[0], q[1] - p[1], q[2] - p[2]));
    }
  return best;
}

class RedundantTest : public KernelTest {
 protected:
  void TearDown() override {
    for (Bspline* b : srfs_) FreeBspline(b);
    KernelTest::TearDown();
  }
  void Use(std::vector<Bspline*> s) {
    for (Bspline* b : srfs_) FreeBspline(b);
    srfs_ = std::move(s);
  }
  std::vector<Bspline*> srfs_;
};

std::vector<int> Members(const OneLink* list) {
  std::vector<int> m;
  for (; list; list = list->next) m.push_back(list->value);
  std::sort(m.begin(), m.end());
  return m;
}

TEST_F(RedundantTest, ACopyAndACutPatchJoinTheGroupAPartialOverlapDoesNot) {
  for (double s : {1e-3, 1.0, 1e3}) {
    // 0 far away, 1 overlapping the big sheet in part, 2 the big sheet, 3 cut from it, 4 its copy.
    Use({Sheet(5, 6, 5, 6, s), Sheet(1.5, 3, 0, 1, s), Sheet(0, 2, 0, 2, s), Sheet(0.5, 1, 0.5, 1.5, s),
         Sheet(0, 2, 0, 2, s)});
    const double tol = 1e-6 * s;
    const int n = 5;
    double boxes[n][6];
    for (int k = 0; k < n; ++k) GetCPTValueExtent(srfs_[k], &boxes[k][0], &boxes[k][3], &boxes[k][1],
                                                  &boxes[k][4], &boxes[k][2], &boxes[k][5]);
    OneLink* heads[n];
    OneLink pool[n];
    ASSERT_EQ(FindRedundantSurfaces(srfs_.data(), n, boxes, heads, pool, tol), 1) << s;
    EXPECT_EQ(Members(heads[0]), std::vector<int>{0});
    EXPECT_EQ(Members(heads[1]), std::vector<int>{1});
    EXPECT_EQ(Members(heads[2]), (std::vector<int>{2, 3, 4})) << s;
    EXPECT_EQ(heads[3], nullptr);
    EXPECT_EQ(heads[4], nullptr);

    int flags[n];
    ASSERT_EQ(FindRedundantSurfacesCore(srfs_.data(), n, flags, tol), 0);
    EXPECT_EQ(std::vector<int>(flags, flags + n), (std::vector<int>{0, 0, 0, 1, 1})) << s;

    // One direction only: the cut patch lies on the sheet, not the sheet on it; the partly
    // overlapping one lies on neither side, even when asked directly.
    double *gx = nullptr, *gy = nullptr, *gz = nullptr;
    EXPECT_EQ(DuplicateSurfaces(srfs_[3], srfs_[2], &gx, &gy, &gz, tol), 1);
    EXPECT_EQ(DuplicateSurfaces(srfs_[1], srfs_[2], &gx, &gy, &gz, tol), 0);
    FreeSurfaceGrid(&gx, &gy, &gz);
    EXPECT_EQ(DuplicateSurfaces(srfs_[2], srfs_[3], &gx, &gy, &gz, tol), 0);
    FreeSurfaceGrid(&gx, &gy, &gz);
  }
}

TEST_F(RedundantTest, BoxesMustNestWithinTheTolerance) {
  const double big[6] = {0, 0, 0, 2, 2, 2}, in[6] = {0.5, 0.5, 0.5, 1, 1, 1};
  const double sticking[6] = {0.5, 0.5, 0.5, 2.1, 1, 1}, apart[6] = {3, 3, 3, 4, 4, 4};
  EXPECT_EQ(BboxesOverlap(big, in, 0.0), 1);
  EXPECT_EQ(BboxesOverlap(in, big, 0.0), 1);
  EXPECT_EQ(BboxesOverlap(big, sticking, 0.05), 0);  // they meet, neither holds the other
  EXPECT_EQ(BboxesOverlap(big, sticking, 0.1), 1);
  EXPECT_EQ(BboxesOverlap(big, apart, 0.5), 0);
}

TEST_F(RedundantTest, TheNearestPointInATrimIsTheNearestFootOnTheLoop) {
  Bspline* s = Sheet(0, 1, 0, 1);
  srfs_ = {s};
  const double c[5][2] = {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}, {0.25, 0.25}};
  std::vector<Bspline*> loop;
  for (int k = 0; k < 4; ++k)
    loop.push_back(BuildCurveOnSurface(s, 1, {c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]}));
  AddLoop(s, loop);
  // The answer is the nearest point of the whole loop (a dense brute-force walk over its curves),
  // not the foot on the last curve of the loop (the left side).
  for (const auto& uv : {std::pair{0.6, 0.1}, std::pair{0.9, 0.7}, std::pair{0.3, 0.95}}) {
    double p[3], out[3];
    Eval3DPointOnSurfArray(s, uv.first, uv.second, 0, 0, p);
    ASSERT_EQ(GetClosestPntInTrim(uv.first, uv.second, s, out), 0);
    EXPECT_NEAR(std::hypot(out[0] - p[0], out[1] - p[1], out[2] - p[2]), NearestOnCurves(s, loop, p), 1e-6)
        << uv.first << " " << uv.second;
  }

  // A patch inside the trimmed region lies on it; one across the trim's edge does not have its
  // middle inside, whose nearest point then lies on the loop, off the patch's own middle.
  Bspline* inside = Sheet(0.3, 0.7, 0.3, 0.7);
  Bspline* corner = Sheet(0.0, 0.2, 0.0, 0.2);
  srfs_.push_back(inside);
  srfs_.push_back(corner);
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  EXPECT_EQ(DuplicateSurfaces(inside, s, &gx, &gy, &gz, 1e-6), 1);
  EXPECT_EQ(DuplicateSurfaces(corner, s, &gx, &gy, &gz, 1e-6), 0);
  FreeSurfaceGrid(&gx, &gy, &gz);
}

TEST_F(RedundantTest, ATrimmedPatchIsJudgedByItsLoopsAndItsHolesByTheirs) {
  // A patch with an outer loop and a hole, lying on the big sheet; its untrimmed part reaches
  // past the sheet, which only its trim keeps off.
  Bspline* big = Sheet(0, 2, 0, 2);
  Bspline* holed = Sheet(1, 3, 0.5, 1.5);
  srfs_ = {big, holed};
  auto square = [&](Bspline* s, double u0, double u1, double v0, double v1, int hole) {
    const double c[5][2] = {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}, {u0, v0}};
    std::vector<Bspline*> loop;
    for (int k = 0; k < 4; ++k)
      loop.push_back(BuildCurveOnSurface(s, 1, {c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]}));
    AddLoop(s, loop, hole);
    return loop;
  };
  square(holed, 0.0, 0.45, 0.0, 1.0, 0);                   // x from 1 to 1.9
  std::vector<Bspline*> hole = square(holed, 0.2, 0.3, 0.4, 0.6, 1);
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  EXPECT_EQ(DuplicateSurfaces(holed, big, &gx, &gy, &gz, 1e-6), 1);
  FreeSurfaceGrid(&gx, &gy, &gz);
  EXPECT_EQ(DuplicateSurfaces(big, holed, &gx, &gy, &gz, 1e-6), 0);
  FreeSurfaceGrid(&gx, &gy, &gz);

  // A point inside the hole's box finds its nearest point on the hole, not on the outer loop.
  double p[3], out[3];
  Eval3DPointOnSurfArray(holed, 0.26, 0.5, 0, 0, p);
  ASSERT_EQ(GetClosestPntInTrim(0.26, 0.5, holed, out), 0);
  EXPECT_NEAR(std::hypot(out[0] - p[0], out[1] - p[1], out[2] - p[2]), NearestOnCurves(holed, hole, p), 1e-6);
}

TEST_F(RedundantTest, AUserBreakOrARefusedAllocationFailsAndLeaksNothing) {
  // 21 sheets over one rectangle with nested boxes but different heights: one candidate group of
  // 210 pairs, none of them duplicates, so the tests poll the break.
  std::vector<Bspline*> s;
  for (int k = 0; k < 21; ++k)
    s.push_back(BuildFunctionPatch([k](double x, double y) { return 0.01 * (k + 1) * x * y; }, {.nu = 4, .nv = 4}));
  Use(s);
  const int n = 21;
  int flags[n];
  StubBreakAfterPolls(2);  // the box pass polls once, the second poll is the 200th test
  EXPECT_EQ(FindRedundantSurfacesCore(srfs_.data(), n, flags, 1e-6), -2);
  EXPECT_EQ(StubUserBreakPolls(), 2);
  StubBreakAfterPolls(1);
  EXPECT_EQ(FindRedundantSurfacesCore(srfs_.data(), n, flags, 1e-6), -2);
  StubBreakAfterPolls(0);

  Use({Sheet(0, 2, 0, 2), Sheet(0.5, 1, 0.5, 1.5), Sheet(1.5, 3, 0, 1), Sheet(0, 2, 0, 2)});
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(FindRedundantSurfacesCore(srfs_.data(), 4, flags, 1e-6), 0);
  const long used = MallocRuntimeRequests() - start;
  const int failures = RunWithInjectedFailures(used + 1, std::max(1L, used / 100), [&] {
    int f[4] = {7, 7, 7, 7};
    const int r = FindRedundantSurfacesCore(srfs_.data(), 4, f, 1e-6);
    if (r == 0) {
      EXPECT_EQ(std::vector<int>(f, f + 4), (std::vector<int>{0, 1, 0, 1}));
    }
    return r;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
