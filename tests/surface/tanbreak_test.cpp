// Curves on surfaces cut at tangent breaks: where the breaks are found, and that the pieces take
// the curve's place in the curve list and the trim loop, reproduce it, and leave no leak; a
// failure leaves the surface's lists as they were.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "tests/bspline/trimloops.h"
#include "tests/surface/recordviews.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class TanBreakTest : public KernelTest {};

// A flat patch z = 0 whose parameters are its x and y.
Bspline* Plane() {
  return BuildFunctionPatch([](double, double) { return 0.0; });
}

// A parabola-free corner: along v = 0.1 to (0.9, 0.1), then up to (0.9, 0.9); the double knot
// at 0.5 sits at the corner.
Bspline* Corner(Bspline* s) {
  return BuildCurveOnSurface(s, 2, {0.1, 0.1, 0.5, 0.1, 0.9, 0.1, 0.9, 0.5, 0.9, 0.9},
                             {0, 0, 0, 0.5, 0.5, 1, 1, 1});
}

void ExpectSameUV(const Bspline* a, double ta, const Bspline* b, double tb) {
  double p[3], q[3];
  RefEvalCurve(a, ta, p);
  RefEvalCurve(b, tb, q);
  EXPECT_NEAR(p[0], q[0], 1e-12);
  EXPECT_NEAR(p[1], q[1], 1e-12);
}

TEST_F(TanBreakTest, WhichKnotsAreBreaks) {
  // A polyline turning by 90 degrees at 1/3 and by 20 degrees at 2/3; an angle equal to the
  // threshold is a break.
  const double turn = 20.0 * M_PI / 180.0;
  Bspline* poly = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0, 1 + std::sin(turn), 1 + std::cos(turn), 0});
  // Going straight back is no break; simple knots of a cubic never are, whatever the shape.
  Bspline* back = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 0, 0, 0});
  Bspline* wiggle = BuildRandomCurve(4, 3, 9);
  const struct {
    Bspline* curve;
    double angle;
    int count;
  } cases[] = {{poly, 25.0, 1}, {poly, 90.0, 1}, {poly, 15.0, 2}, {back, 25.0, 0}, {wiggle, 1.0, 0}};
  for (const auto& c : cases) {
    int n = -1;
    double* breaks = nullptr;
    ASSERT_EQ(GetTanDiscontKnots(c.curve, c.angle, &n, &breaks), 0);
    EXPECT_EQ(n, c.count) << c.angle;
    if (n > 0) {
      EXPECT_NEAR(breaks[0], 1.0 / 3.0, 1e-15);
    }
    Free(breaks);
  }
  for (Bspline* c : {poly, back, wiggle}) FreeBspline(c);
}

TEST_F(TanBreakTest, PiecesTakeTheCurvesPlaceInListAndLoop) {
  const std::vector<double> polyUV = {0.9, 0.9, 0.1, 0.9, 0.1, 0.1};  // corner at 0.5
  Bspline* s = Plane();
  TrimList* loop = AddLoop(s, {Corner(s), BuildCurveOnSurface(s, 1, polyUV)});
  BuildCurveOnSurface(s, 1, {0.3, 0.3, 0.6, 0.3, 0.6, 0.6});  // in no loop
  Bspline* smooth = BuildCurveOnSurface(s, 2, {0.2, 0.5, 0.3, 0.5, 0.4, 0.5, 0.5, 0.5, 0.6, 0.5},
                                        {0, 0, 0, 0.5, 0.5, 1, 1, 1});
  Bspline* ref[2] = {Corner(s), BuildCurve(1, 2, polyUV)};
  RemoveCurveFromBsplineList(ref[0]);  // a reference only
  Bspline* c3 = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0});  // not a surface: skipped
  Bspline* group[3] = {c3, nullptr, s};

  ASSERT_EQ(ReplaceGroupSrfCrvBsplWithG1ContSubs(group, 3, 25.0), 0);
  EXPECT_EQ(NumCtrlU(c3), 3);
  const std::vector<Bspline*> items = LoopItems(loop);
  ASSERT_EQ(items.size(), 4u);
  const std::vector<Bspline*> list = ListItems(s);
  EXPECT_EQ(list.size(), 7u);  // four loop pieces, two loose pieces, the smooth curve
  EXPECT_NE(std::find(list.begin(), list.end(), smooth), list.end());
  // The loop runs through the pieces in order: each piece is its curve on half the range.
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(std::find(list.begin(), list.end(), items[i]), list.end());
    EXPECT_EQ(items[i]->owner, s);
    for (int k = 0; k <= 8; ++k) {
      const double t = 0.5 * (i % 2) + 0.5 * k / 8.0;
      ExpectSameUV(items[i], t, ref[i / 2], t);
    }
  }
  for (Bspline* b : {ref[0], ref[1], c3, s}) FreeBspline(b);
}

TEST_F(TanBreakTest, FailuresLeaveListAndLoopAsTheyWere) {
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    Bspline* s = Plane();
    Bspline* a = Corner(s);
    Bspline* b = BuildCurveOnSurface(s, 1, {0.9, 0.9, 0.1, 0.1});
    TrimList* loop = AddLoop(s, {a, b});
    const std::vector<Bspline*> list = ListItems(s);
    const int tracked = MallocTrackedCount();
    MallocFailAfter(n, -1);
    const int r = ReplaceGroupSrfCrvBsplWithG1ContSubs(&s, 1, 25.0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    if (r == 0) {
      EXPECT_EQ(LoopItems(loop).size(), 3u);
      EXPECT_EQ(ListItems(s).size(), 3u);
      FreeBspline(s);
      break;
    }
    ++failures;
    EXPECT_EQ(r, -2);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(ListItems(s), list);
    EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{a, b}));
    FreeBspline(s);
  }
  EXPECT_GT(failures, 5);
}

}  // namespace
