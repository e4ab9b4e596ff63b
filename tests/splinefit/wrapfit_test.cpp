// Wrapped (unclamped) directions made clamped: the same shape on the domain, the same number of
// control points, clamped knots, and the object untouched when memory fails.
#include <cmath>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "splinefit/wrapfit.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class WrapTest : public KernelTest {};

// n scattered coordinates in [-1, 1].
std::vector<double> Points(int n, double seed) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = std::sin(12.9898 * i + seed);
  return v;
}

// The knots a, a + 1, ..., a + n - 1.
std::vector<double> Steps(double a, int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = a + i;
  return v;
}

TEST_F(WrapTest, WrappedDirectionsBecomeClampedKeepingTheShape) {
  std::vector<double> w(42, 1.0);
  w[10] = 2.0, w[23] = 0.5;
  const struct {
    Bspline* obj;
    int dir;
  } cases[] = {
      {BuildCurve(3, 3, Points(21, 1), Steps(0.0, 11)), 0},  // uniform periodic
      {BuildCurve(3, 3, Points(21, 1), Steps(0.0, 11), {1.0, 0.5, 2.0, 1.5, 0.8, 1.2, 1.0}), 0},
      {BuildCurve(3, 3, Points(21, 2), {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7}), 0},  // one end only
      {BuildSurface(2, 3, 6, 7, Points(126, 4), Steps(0.0, 9), {}, w), 0},
      {BuildSurface(2, 3, 6, 7, Points(126, 5), {}, Steps(-2.0, 11), w), 1}};
  for (const auto& c : cases) {
    Bspline* b = c.obj;
    Bspline* before = CopyBsplineStruct(b);
    const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
    const std::vector<double> other(b->knotsU, b->knotsU + (c.dir ? NumKnotsU(b) : 0));
    ASSERT_EQ(PutWrapedObjToNonWraped(b, c.dir, 0), 8);
    EXPECT_EQ(CheckBspline(b, 1e-9), 0);
    EXPECT_EQ(NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1), n);
    EXPECT_LT(ShapeDiff(b, before), 1e-12);
    FreeBspline(before);
    EXPECT_EQ(other, std::vector<double>(b->knotsU, b->knotsU + (c.dir ? NumKnotsU(b) : 0)));
    EXPECT_EQ(PutWrapedObjToNonWraped(b, c.dir, 0), 0);  // already clamped: nothing to do
  }
  EXPECT_EQ(std::vector<double>(cases[1].obj->knotsU, cases[1].obj->knotsU + 11),
            (std::vector<double>{3, 3, 3, 3, 4, 5, 6, 7, 7, 7, 7}));
  EXPECT_EQ(cases[2].obj->umax, 4.0);
  for (const auto& c : cases) FreeBspline(c.obj);
}

TEST_F(WrapTest, AveragedEndsCoincideAndFailuresLeaveTheObject) {
  Bspline* c = BuildCurve(3, 3, Points(27, 5), Steps(0.0, 13));
  const std::vector<double> before = Snapshot(c);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    const int r = PutWrapedObjToNonWraped(c, 0, 1);
    EXPECT_TRUE(r >= 0 || (r == -2 && Snapshot(c) == before)) << r;  // 0 once converted
    return r >= 0 ? 0 : -2;
  });
  EXPECT_TRUE(failures > 3 && failures < 60) << failures;
  const int n = NumCtrlU(c);
  EXPECT_TRUE(c->X[0][0] == c->X[0][n - 1] && c->Z[0][0] == c->Z[0][n - 1]);
  FreeBspline(c);
}

}  // namespace
