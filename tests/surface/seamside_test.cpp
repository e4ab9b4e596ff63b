// Seam curves of closed surfaces put on the side of the seam where their loop does not cross
// itself: a cylinder closed in u, a torus-like surface closed in both directions (only u moves),
// a tube closed in v alone, at parameter scales 1e-6 .. 1e6; curves left bit for bit alone when
// no move helps, on open surfaces, for curves that are not iso lines and after failed runs.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SeamSide : public KernelTest {};

// Clamped uniform cubic knots for n points on [0, L].
std::vector<double> Knots(int n, double L) {
  std::vector<double> k(4, 0.0);
  for (int i = 1; i < n - 3; ++i) k.push_back(L * i / (n - 3));
  k.insert(k.end(), 4, L);
  return k;
}

// Ring i goes round a circle with its last point on its first. torus: the rings go round a
// circle too (closed in both directions); otherwise they run along z (closed in u). swap
// exchanges the directions (a tube closed in v alone).
Bspline* Closed(bool torus, bool swap, double L) {
  const int nu = 9, nv = 8;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = 2 * M_PI * (swap ? j / (nv - 1.0) : i / (nu - 1.0));
      const double b = swap ? i / (nu - 1.0) : j / (nv - 1.0);
      const double r = torus ? 3 + std::cos(2 * M_PI * b) : 1.0;
      pts.insert(pts.end(), {r * std::cos(a), r * std::sin(a), torus ? std::sin(2 * M_PI * b) : b});
    }
  return BuildSurface(3, 3, nu, nv, pts, Knots(nu, L), Knots(nv, L));
}

// A loop of straight curves through the corners (unit parameter square scaled by L); swap
// exchanges u and v.
std::vector<Bspline*> Loop(Bspline* s, const std::vector<std::vector<double>>& sides, double L,
                           bool swap) {
  std::vector<Bspline*> curves;
  for (const std::vector<double>& c : sides) {
    std::vector<double> uv;
    for (std::size_t k = 0; k < c.size(); k += 2) {
      uv.push_back(L * c[k + (swap ? 1 : 0)]);
      uv.push_back(L * c[k + (swap ? 0 : 1)]);
    }
    curves.push_back(BuildCurveOnSurface(s, 1, uv));
  }
  return curves;
}

std::vector<std::vector<double>> Coefficients(const std::vector<Bspline*>& curves) {
  std::vector<std::vector<double>> all;
  for (const Bspline* c : curves) {
    all.emplace_back(c->X[0], c->X[0] + NumCtrlU(c));
    all.emplace_back(c->Y[0], c->Y[0] + NumCtrlU(c));
  }
  return all;
}

// Near the seam at 0 with the seam curve drawn at 1, and the mirror image near 1: the long
// edges to the far side cross the loop's inner side; on the right side of the seam it is a
// simple quadrilateral.
const std::vector<std::vector<double>> kNearLow = {
    {0, .3, .3, .2}, {.3, .2, .3, .8}, {.3, .8, 0, .7}, {1, .7, 1, .3}};
const std::vector<std::vector<double>> kNearHigh = {
    {1, .3, .7, .2}, {.7, .2, .7, .8}, {.7, .8, 1, .7}, {0, .7, 0, .3}};

TEST_F(SeamSide, SeamCurveMovesToTheSideWhereItsLoopIsSimple) {
  for (double L : {1e-6, 1.0, 1e6})
    for (bool torus : {false, true})
      for (bool swap : {false, true}) {
        if (torus && swap) continue;  // closed both ways: u is the seam that moves
        for (int side = 0; side < 2; ++side) {
          Bspline* s = Closed(torus, swap, L);
          std::vector<Bspline*> curves = Loop(s, side ? kNearHigh : kNearLow, L, swap);
          // A clean loop first: the function goes on to the loops after the one given.
          TrimList* first = AddLoop(s, SquareCurves(s, .4 * L, .4 * L, .6 * L, .6 * L));
          TrimList* loop = AddLoop(s, curves);
          ASSERT_EQ(IsTrimCurveLinearSelfIntersect(loop), 1);
          const auto before = Coefficients(curves);
          EXPECT_EQ(ModifyBndryTrimCurveForClosedSurfs(s, first), 0) << L << torus << swap;
          EXPECT_EQ(IsTrimCurveLinearSelfIntersect(loop), 0);
          const auto after = Coefficients(curves);
          const double to = side ? L : 0.0;  // the other end of the seam, exactly
          for (int k = 0; k < 8; ++k) {
            const bool moved = k == (swap ? 7 : 6);  // the seam curve's u (v when swapped)
            if (moved)
              EXPECT_EQ(after[k], std::vector<double>(2, to)) << L << torus << swap << side;
            else
              EXPECT_EQ(after[k], before[k]) << L << torus << swap << side << k;
          }
          FreeBspline(s);
        }
      }
}

TEST_F(SeamSide, NothingMovesWhereNoMoveHelpsOrNothingIsClosed) {
  for (double L : {1e-6, 1e6}) {
    // A loop crossing itself away from the seam (its last curve runs back through the middle)
    // on the cylinder: the seam curve is tried and put back. A curve from the seam that is not
    // an iso line is not flattened onto the other side.
    Bspline* s = Closed(false, false, L);
    std::vector<Bspline*> bow = Loop(s, {{0, .3, .3, .2}, {.3, .2, .3, .8}, {.3, .8, 0, .7},
                                          {1, .7, 1, .5}, {1, .5, .1, .9}, {.1, .9, 1, .3}},
                                     L, false);
    std::vector<Bspline*> slanted = Loop(s, kNearLow, L, false);
    slanted[3]->X[0][1] = 0.95 * L;
    TrimList* bowLoop = AddLoop(s, bow);
    AddLoop(s, slanted);
    const auto before = Coefficients(bow), slantedBefore = Coefficients(slanted);
    EXPECT_EQ(ModifyBndryTrimCurveForClosedSurfs(s, bowLoop), 1) << L;
    EXPECT_EQ(Coefficients(bow), before);
    EXPECT_EQ(Coefficients(slanted), slantedBefore);
    FreeBspline(s);
    // On the torus only u seams move: a v seam curve stays where it is.
    s = Closed(true, false, L);
    std::vector<Bspline*> vSeam = Loop(s, kNearLow, L, true);
    TrimList* loop = AddLoop(s, vSeam);
    const auto vBefore = Coefficients(vSeam);
    EXPECT_EQ(ModifyBndryTrimCurveForClosedSurfs(s, loop), 1) << L;
    EXPECT_EQ(Coefficients(vSeam), vBefore);
    FreeBspline(s);
    // An open patch: 0 at once, nothing touched.
    s = BuildFunctionPatch([](double x, double y) { return x * y; });
    std::vector<Bspline*> open = Loop(s, kNearLow, 1.0, false);
    loop = AddLoop(s, open);
    const auto openBefore = Coefficients(open);
    EXPECT_EQ(ModifyBndryTrimCurveForClosedSurfs(s, loop), 0);
    EXPECT_EQ(Coefficients(open), openBefore);
    FreeBspline(s);
  }
  EXPECT_EQ(ModifyBndryTrimCurveForClosedSurfs(nullptr, nullptr), 0);
}

// Memory running out during the test of a move is a failure (-2), not the move's success, and
// leaves the curves as they were and nothing allocated.
TEST_F(SeamSide, FailedRunsLeaveTheCurvesAsTheyWere) {
  Bspline* s = Closed(false, false, 1.0);
  std::vector<Bspline*> curves = Loop(s, kNearLow, 1.0, false);
  TrimList* loop = AddLoop(s, curves);
  const auto before = Coefficients(curves);
  const int failures = RunWithInjectedFailures(400, 1, [&] {
    const int r = ModifyBndryTrimCurveForClosedSurfs(s, loop);
    if (r == 0) {
      EXPECT_FALSE(KernelFailed());
      std::copy_n(before[6].begin(), 2, curves[3]->X[0]);  // back to the far side for the next run
      return 0;
    }
    EXPECT_EQ(r, -2);
    EXPECT_EQ(Coefficients(curves), before);
    return r;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 400);
  FreeBspline(s);
}

}  // namespace
