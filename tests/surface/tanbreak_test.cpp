// Curves on surfaces cut at tangent breaks: where the breaks are found, and that the pieces take
// the curve's place in the curve list and the trim loop and reproduce it; a failure leaves the
// surface's lists as they were.
#include <algorithm>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class TanBreakTest : public KernelTest {};

// On the flat patch z = 0 (parameters are x and y): along v = 0.1 to (0.9, 0.1), then up to
// (0.9, 0.9); the double knot at 0.5 sits at the corner.
Bspline* Corner(Bspline* s) {
  return BuildCurveOnSurface(s, 2, {0.1, 0.1, 0.5, 0.1, 0.9, 0.1, 0.9, 0.5, 0.9, 0.9},
                             {0, 0, 0, 0.5, 0.5, 1, 1, 1});
}

TEST_F(TanBreakTest, PiecesTakeTheCurvesPlaceInListAndLoop) {
  const std::vector<double> polyUV = {0.9, 0.9, 0.1, 0.9, 0.1, 0.1};  // corner at 0.5
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
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
    EXPECT_TRUE(items[i]->umin == 0.5 * (i % 2) && items[i]->umax == 0.5 * (i % 2) + 0.5) << i;
    EXPECT_LT(ShapeDiff(items[i], ref[i / 2]), 1e-12) << i;
  }
  for (Bspline* b : {ref[0], ref[1], c3, s}) FreeBspline(b);

  // Memory failures: either the whole replacement or none. Every run builds its surface first
  // and then refuses allocations after the run's count.
  long skip = 0;
  const int failures = RunWithInjectedFailures(120, 1, [&] {
    MallocFailClear();
    Bspline* srf = BuildFunctionPatch([](double, double) { return 0.0; });
    TrimList* l = AddLoop(srf, {Corner(srf), BuildCurveOnSurface(srf, 1, {0.9, 0.9, 0.1, 0.1})});
    const std::vector<Bspline*> list = ListItems(srf), loopBefore = LoopItems(l);
    MallocFailAfter(skip++, -1);
    const int r = ReplaceGroupSrfCrvBsplWithG1ContSubs(&srf, 1, 25.0);
    MallocFailClear();
    EXPECT_TRUE(r == 0 || (r == -2 && KernelFailedNow() && ListAndLoopAre(srf, l, list, loopBefore))) << skip;
    EXPECT_EQ(LoopItems(l).size(), r == 0 ? 3u : 2u);
    EXPECT_EQ(ListItems(srf).size(), LoopItems(l).size());
    FreeBspline(srf);
    return r;
  });
  EXPECT_TRUE(failures > 5 && failures < 120) << failures;
}

std::vector<double> Samples(const std::vector<double>& breaks, int k, double a, double b) {
  double* out = nullptr;
  int n = -1;
  EXPECT_EQ(GetParSamplesInIntervals(breaks.data(), int(breaks.size()), k, a, b, &out, &n), 0);
  std::vector<double> v(out, out + n);
  Free(out);
  return v;
}

// Samples over a portion of a knot vector: from a to b ascending whatever their order, the
// per-span samples strictly between, no value twice for repeated knots.
TEST_F(TanBreakTest, SamplesOverAPortionOfTheBreaks) {
  EXPECT_EQ(Samples({0, 1}, 5, 0.1, 0.3), (std::vector<double>{0.1, 0.25, 0.3}));
  EXPECT_EQ(Samples({0, 1}, 5, 0.3, 0.1), (std::vector<double>{0.1, 0.25, 0.3}));
  EXPECT_EQ(Samples({0, 1}, 5, 0.3, 0.4), (std::vector<double>{0.3, 0.325, 0.35, 0.375, 0.4}));
  EXPECT_EQ(Samples({0, 1}, 5, 0.5, 0.5), (std::vector<double>{0.5}));
  EXPECT_EQ(Samples({0, 1}, 3, -2.0, 7.0), (std::vector<double>{0, 0.5, 1}));  // ends taken into range
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> U(-0.2, 3.2);
  for (int trial = 0; trial < 60; ++trial) {
    const int p = 1 + trial % 3, k = 2 + trial % 4;
    std::vector<double> breaks = ClampedKnots(p, p + 3 + trial % 4, 0.0, 3.0, KnotLayout::Random, trial);
    breaks.insert(breaks.begin() + p + 2, breaks[p + 1]);  // a doubled interior knot
    const double a = U(rng), b = U(rng);
    const std::vector<double> v = Samples(breaks, k, a, b);
    const double lo = std::clamp(std::min(a, b), 0.0, 3.0), hi = std::clamp(std::max(a, b), 0.0, 3.0);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.front(), v.size() == 1 ? hi : lo);
    EXPECT_EQ(v.back(), hi);
    for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]) << trial;
    if (v.size() > 2 && v.size() != size_t(k)) {
      // Every knot strictly inside shows up among the samples.
      for (double kn : breaks) {
        if (kn > lo + 1e-5 && kn < hi - 1e-5) {
          EXPECT_NE(std::find(v.begin(), v.end(), kn), v.end()) << trial;
        }
      }
    }
  }
  double* out = nullptr;
  int n = 3;
  const double one = 1.0;
  EXPECT_EQ(GetParSamplesInIntervals(&one, 1, 3, 0, 1, &out, &n), -2);
  EXPECT_TRUE(out == nullptr && n == 0);
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    const double b[4] = {0, 0, 1, 1};
    double* s = nullptr;
    int c = 0;
    const int r = GetParSamplesInIntervals(b, 4, 4, 0.2, 0.9, &s, &c);
    EXPECT_TRUE(r == 0 ? c == 4 : !s);
    Free(s);
    return r;
  });
  EXPECT_TRUE(failures > 0 && failures < 12) << failures;
}

}  // namespace
