// Straight-line curves: the parameter is proportional to length, the ends are exact, and a
// record refilled in place keeps what the caller set.
#include <random>

#include "bspline/sfree.h"
#include "curve/mkline3.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class LineTest : public KernelTest {};

TEST_F(LineTest, LinesRunAtConstantSpeedBetweenExactEnds) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(-5.0, 5.0);
  for (int trial = 0; trial < 20; ++trial) {
    const double a[3] = {U(rng), U(rng), U(rng)};
    // Every fifth segment has zero length: accepted, with coincident control points.
    const double b[3] = {trial % 5 ? U(rng) : a[0], trial % 5 ? U(rng) : a[1], trial % 5 ? U(rng) : a[2]};
    Bspline* out = nullptr;
    Bspline* cubic = MkLine3(a, b, &out);
    Bspline* linear = CreateLineBsplineDegree1(a, b);
    ASSERT_TRUE(cubic && linear);
    EXPECT_EQ(out, cubic);
    EXPECT_TRUE(cubic->degreeU == 3 && linear->degreeU == 1 && !cubic->rational && cubic->quadricType == 0);
    for (Bspline* c : {cubic, linear}) {
      EXPECT_TRUE(c->umin == 0.0 && c->umax == 1.0 && c->interiorU == 0);
      const int last = NumCtrlU(c) - 1;
      EXPECT_TRUE(c->X[0][0] == a[0] && c->Y[0][0] == a[1] && c->Z[0][0] == a[2]);
      EXPECT_TRUE(c->X[0][last] == b[0] && c->Y[0][last] == b[1] && c->Z[0][last] == b[2]);
      for (int i = 0; i <= 10; ++i) {
        double p[3];
        RefEvalCurve(c, i / 10.0, p);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], a[k] + i / 10.0 * (b[k] - a[k]), 1e-12);
      }
    }
    // The exact form of the degree-1 line: start then end.
    ASSERT_EQ(linear->quadricType, 1);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(linear->quadric->v[k] == a[k] && linear->quadric->v[3 + k] == b[k]);
    FreeBspline(cubic);
    FreeBspline(linear);
  }
}

// MkLine2 fills a caller's record: kind, dimension and owner stay; old arrays (here a rational
// 3D curve's, z and weights included) are released, not leaked.
TEST_F(LineTest, ParameterPlaneLineRefillsTheCallersRecord) {
  Bspline* surface = BuildFunctionPatch([](double x, double y) { return x * y; });
  Bspline* c = BuildRandomCurve(4u, 4, 9, 3, true);
  c->owner = surface;
  c->dimension = 2;  // the caller's choice; MkLine2 does not look at it
  const double a[2] = {0.2, 0.9}, b[2] = {0.8, 0.1};
  MkLine2(a, b, c);
  EXPECT_TRUE(c->kind == 1 && c->dimension == 2 && c->owner == surface);
  EXPECT_TRUE(c->degreeU == 3 && c->interiorU == 0 && !c->rational && !c->Z && !c->W);
  for (int i = 0; i <= 8; ++i) {
    double p[3];
    RefEvalCurve(c, i / 8.0, p);
    EXPECT_NEAR(p[0], 0.2 + 0.6 * i / 8.0, 1e-12);
    EXPECT_NEAR(p[1], 0.9 - 0.8 * i / 8.0, 1e-12);
  }
  // A failed allocation leaves the record as it was.
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    const double q[2] = {0.5, 0.5};
    MkLine2(a, q, c);
    const bool moved = c->X[0][3] == 0.5;
    EXPECT_TRUE(moved || (KernelFailedNow() && c->X[0][3] == b[0]));
    return moved ? 0 : -2;
  });
  EXPECT_GT(failures, 0);
  c->owner = nullptr;
  FreeBspline(c);
  FreeBspline(surface);
  const int makerFailures = RunMakerWithInjectedFailures(30, 1, [](Bspline** out) {
    const double a3[3] = {0, 0, 0}, b3[3] = {1, 2, 3};
    *out = CreateLineBsplineDegree1(a3, b3);
    return *out ? 0 : -2;
  });
  EXPECT_GT(makerFailures, 0);
}

}  // namespace
