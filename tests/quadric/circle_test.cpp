// Exact circles and arcs: every point at the radius from the centre in the circle's plane, the
// sweep from the start angle, and the documented segment layouts.
#include <cmath>
#include <random>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CircleTest : public KernelTest {};

constexpr double kPi = 3.141592653589793;

// Largest deviation of the curve's points from the circle (centre, unit normal, radius): the
// distance from the centre against r, and the offset from the plane.
double CircleDeviation(const Bspline* c, const double centre[3], const double normal[3], double r) {
  double worst = 0.0;
  for (int i = 0; i <= 64; ++i) {
    double p[3], d[3];
    RefEvalCurve(c, c->umin + (c->umax - c->umin) * i / 64.0, p);
    VecDiff3(p, centre, d);
    worst = std::max(worst, std::fabs(VecSize3(d) - std::fabs(r)));
    worst = std::max(worst, std::fabs(VecDotProd3(d, normal)));
  }
  return worst;
}

TEST_F(CircleTest, CirclesLieOnTheirCircleAboutAnyAxis) {
  const double centre[3] = {1, 2, 3};
  Bspline* c = NewCircleBspline(centre, 2.0);
  ASSERT_TRUE(c);
  const double expect[9][2] = {{3, 2}, {3, 4}, {1, 4}, {-1, 4}, {-1, 2}, {-1, 0}, {1, 0}, {3, 0}, {3, 2}};
  for (int k = 0; k < 9; ++k) EXPECT_TRUE(c->X[0][k] == expect[k][0] && c->Y[0][k] == expect[k][1] && c->Z[0][k] == 3);
  const double q[7] = {1, 2, 3, 0, 0, 1, 2};
  ASSERT_EQ(c->quadricType, 2);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(c->quadric->v[k], q[k]);
  EXPECT_TRUE(c->closedU == 2 && c->rational && c->umin == 0 && c->umax == 1);
  const double z[3] = {0, 0, 1};
  EXPECT_LT(CircleDeviation(c, centre, z, 2.0), 1e-14);
  double p[3];
  RefEvalCurve(c, 0.25, p);  // the +y side at a quarter
  EXPECT_NEAR(p[0], 1.0, 1e-14);
  EXPECT_NEAR(p[1], 4.0, 1e-14);
  FreeBspline(c);

  std::mt19937 rng(2);
  std::uniform_real_distribution<double> U(-3.0, 3.0);
  for (int trial = 0; trial < 20; ++trial) {
    const double o[3] = {U(rng), U(rng), U(rng)};
    double axis[3] = {U(rng), U(rng), U(rng)}, n[3];
    if (trial == 0) axis[0] = axis[1] = 0.0;  // along z: the same circle as NewCircleBspline
    const double r = 0.5 + std::fabs(U(rng));
    Bspline* a = MakeCircleWGivenAxis(o, r, axis);
    ASSERT_TRUE(a);
    VecNormalize3(axis, n);
    EXPECT_LT(CircleDeviation(a, o, n, r), 1e-12) << trial;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a->quadric->v[3 + k], axis[k]);  // recorded as given
    // Counter-clockwise about the axis: the tangent at the start turns like n x (p - centre).
    double p0[3], d1[3], rad[3], turn[3];
    RefEvalCurve(a, 0.0, p0);
    RefEvalDeriv(a, 0.0, 0.0, 1, 0, d1);
    VecDiff3(p0, o, rad);
    VecCrossProd3(n, rad, turn);
    EXPECT_GT(VecDotProd3(turn, d1), 0.0) << trial;
    FreeBspline(a);
  }
  const double zero[3] = {0, 0, 0};
  Bspline* flat = MakeCircleWGivenAxis(centre, 1.0, zero);  // no axis: no rotation
  EXPECT_LT(CircleDeviation(flat, centre, z, 1.0), 1e-14);
  FreeBspline(flat);
}

// Arcs: on the circle, from the start angle through the sweep, with the documented segments.
TEST_F(CircleTest, ArcsSweepFromTheStartAngle) {
  const double centre[3] = {-1, 0.5, 2};
  const double z[3] = {0, 0, 1};
  // {start, end, sweep, control points, first knot}
  const double cases[][5] = {{0, 90, 90, 3, 0},          {30, 30, 360, 9, kPi / 6}, {350, 10, 20, 3, 350 * kPi / 180},
                             {0, 5, 5, 3, 0},            {0, 180.00005, 180, 5, 0}, {0, 135, 135, 5, 0},
                             {-200, 100, 300, 9, -200 * kPi / 180}};
  for (const auto& k : cases) {
    Bspline* a = MakeArcZBspline(k[0], k[1], centre, 1.5);
    ASSERT_TRUE(a) << k[0];
    EXPECT_EQ(NumCtrlU(a), int(k[3])) << k[0];
    EXPECT_NEAR(a->knotsU[0], k[4], 1e-15) << k[0];
    EXPECT_EQ(a->closedU, k[2] == 360 ? 2 : 0);
    EXPECT_EQ(a->quadric->v[7], k[2]);
    EXPECT_LT(CircleDeviation(a, centre, z, 1.5), 1e-13) << k[0];
    // Start and end points at their angles.
    for (int e = 0; e < 2; ++e) {
      double p[3];
      RefEvalCurve(a, e ? a->umax : a->umin, p);
      const double ang = (k[0] + e * k[2]) * kPi / 180;
      EXPECT_NEAR(p[0], centre[0] + 1.5 * std::cos(ang), 1e-13) << k[0];
      EXPECT_NEAR(p[1], centre[1] + 1.5 * std::sin(ang), 1e-13) << k[0];
    }
    // A radian parametrisation unless the arc is short: then [0, 1].
    const double range = k[2] * kPi / 180;
    EXPECT_NEAR(a->umax - a->umin, range < 0.1 ? 1.0 : range, 1e-14);
    FreeBspline(a);
  }
  Bspline* quarter = MakeArcZBspline(0, 90, z, 1.0);
  EXPECT_EQ(quarter->W[0][1], 0.7071067811865476);
  FreeBspline(quarter);
  EXPECT_EQ(MakeArcZBspline(800, 0, centre, 1.0), nullptr);  // no positive sweep
  EXPECT_FALSE(KernelFailedNow());

  const int failures = RunMakerWithInjectedFailures(120, 1, [&](Bspline** out) {
    Bspline* c = MakeCircleWGivenAxis(centre, 1.0, z);
    if (!c) return -2;
    FreeBspline(c);
    *out = MakeArcZBspline(10, 200, centre, 2.0);
    return *out ? 0 : -2;
  });
  EXPECT_TRUE(failures > 3 && failures < 120) << failures;
}

}  // namespace
