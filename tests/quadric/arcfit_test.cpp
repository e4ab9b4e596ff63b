// Arcs at their knots and fitted arcs: every knot of an exact arc lies on the circle at the knot's
// angle; arcs fitted to points of a circle come back with their ends at the first and last point;
// circles of known radius or axis keep what is known.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class ArcFitTest : public KernelTest {};

constexpr double kPi = 3.141592653589793;

TEST_F(ArcFitTest, EveryKnotLiesOnTheCircleAtItsAngle) {
  const double centre[3] = {2, -1, 0.5}, r = 1.25;
  // Sweeps crossing 0, a full circle, near-multiples of 90 and short arcs.
  const double cases[][2] = {{350, 10}, {300, 60}, {45, 45}, {0, 270.00004}, {10, 99.99}, {0, 5}, {20, 20.0005}, {-30, 200}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k[0]);
    Owned<Bspline, FreeBspline> a(MakeArcZBspline(k[0], k[1], centre, r));
    ASSERT_TRUE(a);
    const double sweep = a->quadric->v[7] * kPi / 180, a0 = k[0] * kPi / 180;
    const bool unit = a->umax - a->umin == 1.0 && sweep < 0.1;
    const int last = NumCtrlU(a.get()) + 2;
    for (int i = 2; i <= last - 2; ++i) {
      const double t = a->knotsU[i];
      // Radian knots name the angle; a short arc's [0, 1] maps onto its sweep.
      const double angle = unit ? a0 + (t - a->umin) * sweep : t;
      double p[3];
      RefEvalCurve(a.get(), t, p);
      EXPECT_NEAR(p[0], centre[0] + r * std::cos(angle), 1e-12);
      EXPECT_NEAR(p[1], centre[1] + r * std::sin(angle), 1e-12);
      EXPECT_EQ(p[2], centre[2]);
    }
  }
}

// n points of a circle (centre, radius) in the plane with unit frame rows e0, e1, from angle a0
// over sweep (radians), listed in order.
void ArcPoints(const double c[3], double r, const double e0[3], const double e1[3], double a0, double sweep, int n,
               std::vector<float>* x, std::vector<float>* y, std::vector<float>* z) {
  for (int i = 0; i < n; ++i) {
    const double t = a0 + sweep * i / (n - 1);
    x->push_back(static_cast<float>(c[0] + r * (std::cos(t) * e0[0] + std::sin(t) * e1[0])));
    y->push_back(static_cast<float>(c[1] + r * (std::cos(t) * e0[1] + std::sin(t) * e1[1])));
    z->push_back(static_cast<float>(c[2] + r * (std::cos(t) * e0[2] + std::sin(t) * e1[2])));
  }
}

TEST_F(ArcFitTest, FittedArcEndsAtTheFirstAndLastPoint) {
  const double c[3] = {1, 2, -1}, e0[3] = {0.36, 0.48, -0.8}, e1[3] = {-0.8, 0.6, 0.0};
  for (double sweep : {kPi, 0.6 * kPi, 1.5 * kPi}) {
    SCOPED_TRACE(sweep);
    std::vector<float> x, y, z;
    ArcPoints(c, 3.0, e0, e1, 0.3, sweep, 15, &x, &y, &z);
    const std::vector<float> x0 = x, y0 = y, z0 = z;
    int status = 1;
    Owned<Bspline, FreeBspline> a(FitArcBspline(x.data(), y.data(), z.data(), 15, &status));
    ASSERT_TRUE(a);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(x == x0 && y == y0 && z == z0);
    EXPECT_NEAR(a->quadric->v[6], 3.0, 1e-5);
    EXPECT_NEAR(a->quadric->v[7], sweep * 180 / kPi, 1e-3);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a->quadric->v[k], c[k], 1e-5);
    double ends[2][3];
    RefEvalCurve(a.get(), a->umin, ends[0]);
    RefEvalCurve(a.get(), a->umax, ends[1]);
    // The arc runs one way or the other between the first and last point.
    const double f[3] = {x[0], y[0], z[0]}, l[3] = {x[14], y[14], z[14]};
    const double dfs = VecDist3(f, ends[0]) + VecDist3(l, ends[1]), dsf = VecDist3(f, ends[1]) + VecDist3(l, ends[0]);
    EXPECT_LT(std::min(dfs, dsf), 1e-4);
  }
}

TEST_F(ArcFitTest, ArcEstimateRefusesDegenerateChords) {
  // A chord parallel to y: the elimination has no form, and reports it instead of a NaN arc.
  std::vector<float> x = {1, 0, -1, 0, 1}, y = {-1, 0.5, 0, -0.5, 1}, z(5, 0.0f);
  double coef[4] = {7, 7, 7, 7}, centre[2] = {7, 7}, r = 7;
  EXPECT_EQ(estimate_arc_para(x.data(), y.data(), 5, coef, centre, &r), -2);
  EXPECT_EQ(coef[0], 7.0);
  // Coincident end points (here all points): status -2, null, and the error state set.
  const std::vector<float> same(4, 1.5f);
  int status = 0;
  EXPECT_EQ(FitArcBspline(same.data(), same.data(), same.data(), 4, &status), nullptr);
  EXPECT_EQ(status, -2);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  EXPECT_EQ(FitArcBspline(same.data(), same.data(), nullptr, 4, &status), nullptr);
}

TEST_F(ArcFitTest, ArcExtentFollowsTheLargestGap) {
  const double c[2] = {0, 0};
  const double deg[3] = {10, 350, 20};
  std::vector<float> u, v;
  for (double d : deg) u.push_back(static_cast<float>(std::cos(d * kPi / 180))), v.push_back(static_cast<float>(std::sin(d * kPi / 180)));
  double a0, a1;
  ASSERT_EQ(ComputeFitArcAngle(u.data(), v.data(), 3, c, 1.0, &a0, &a1), 0);
  EXPECT_NEAR(a0, 350, 1e-4);
  EXPECT_NEAR(a1, 20, 1e-4);
  EXPECT_EQ(ComputeFitArcAngle(u.data(), v.data(), 1, c, 1.0, &a0, &a1), -2);
}

TEST_F(ArcFitTest, GivenRadiusKeepsTheRadiusAndBeatsItsVote) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> N(-0.02, 0.02);
  for (int n : {30, 99, 100, 1200}) {
    SCOPED_TRACE(n);
    std::vector<float> x, y;
    for (int i = 0; i < n; ++i) {
      const double t = 4.0 * i / n, rr = 3.0 + N(rng);
      x.push_back(static_cast<float>(5 + rr * std::cos(t)));
      y.push_back(static_cast<float>(-2 + rr * std::sin(t)));
    }
    double centre[2], error;
    ASSERT_EQ(FitCircleWithGivenRadius(x.data(), y.data(), n, 3.0, centre, &error), 0);
    EXPECT_NEAR(centre[0], 5, 0.02);
    EXPECT_NEAR(centre[1], -2, 0.02);
    // The vote's own centre fits no better than the refined one.
    double vote[2], voteError, maxDev;
    ASSERT_EQ(CircleHoughTransWithRadius(x.data(), y.data(), n, 3.0, n < 100 ? 40 : 50, n < 1000 ? 180 : 100, vote), 0);
    circle_fit_error(x.data(), y.data(), n, vote, 3.0, &voteError, &maxDev);
    EXPECT_LE(error, voteError * (1 + 1e-9));
    double check;
    circle_fit_error(x.data(), y.data(), n, centre, 3.0, &check, &maxDev);
    EXPECT_NEAR(check, error, 1e-6 * error + 1e-12);
  }
  // r = 0 on points of one vertical line: a box of no width still votes cleanly.
  const float lx[4] = {1, 1, 1, 1}, ly[4] = {0, 1, 2, 3};
  double centre[2];
  EXPECT_EQ(CircleHoughTransWithRadius(lx, ly, 4, 0.0, 40, 180, centre), 0);
  EXPECT_TRUE(std::isfinite(centre[0]) && std::isfinite(centre[1]));
  EXPECT_EQ(CircleHoughTransWithRadius(lx, ly, 4, 1.0, 1, 180, centre), -2);
  EXPECT_EQ(CircleHoughTransWithRadius(lx, ly, 4, 1.0, 40, 1, centre), -2);
}

TEST_F(ArcFitTest, KnownRadiusAndKnownAxisCircles) {
  const double c[3] = {1, 2, -1}, e0[3] = {0.36, 0.48, -0.8}, e1[3] = {-0.8, 0.6, 0.0}, normal[3] = {0.48, 0.64, 0.6};
  std::vector<float> x, y, z;
  ArcPoints(c, 2.0, e0, e1, 0.0, 5.0, 40, &x, &y, &z);
  Cloud cloud{};
  cloud.npts = 40, cloud.x = x.data(), cloud.y = y.data(), cloud.z = z.data();
  double error = 0;
  Owned<Bspline, FreeBspline> k(FitCircleBsplineWithKnownRadius(&cloud, 2.0, &error));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->quadric->v[6], 2.0);
  EXPECT_LT(error, 1e-8);
  EXPECT_NEAR(std::fabs(VecDotProd3(k->quadric->v + 3, normal)), 1.0, 1e-6);
  for (int i = 0; i < 8; ++i) {
    double p[3], d[3];
    RefEvalCurve(k.get(), k->umin + (k->umax - k->umin) * i / 8, p);
    VecDiff3(p, c, d);
    EXPECT_NEAR(VecSize3(d), 2.0, 1e-5);
    EXPECT_NEAR(VecDotProd3(d, normal), 0.0, 1e-5);
  }
  Cloud line{};
  float lx[3] = {0, 1, 2};
  line.npts = 3, line.x = lx, line.y = lx, line.z = lx;
  EXPECT_EQ(FitCircleBsplineWithKnownRadius(&line, 1.0, &error), nullptr);
  EXPECT_EQ(error, 3.37e38f);
  // A given axis: the circle lies in the plane normal to it, and the axis is recorded as given.
  const double axis[3] = {0.96, 1.28, 1.2};  // twice the unit normal
  Owned<Bspline, FreeBspline> g(MakeCircleWGivenAxis(c, 1.5, axis));
  ASSERT_TRUE(g);
  for (int k2 = 0; k2 < 3; ++k2) EXPECT_EQ(g->quadric->v[3 + k2], axis[k2]);
  for (int i = 0; i < 8; ++i) {
    double p[3], d[3];
    RefEvalCurve(g.get(), g->umin + (g->umax - g->umin) * i / 8, p);
    VecDiff3(p, c, d);
    EXPECT_NEAR(VecSize3(d), 1.5, 1e-12);
    EXPECT_NEAR(VecDotProd3(d, normal), 0.0, 1e-12);
  }
  RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
    double e;
    *out = FitCircleBsplineWithKnownRadius(&cloud, 2.0, &e);
    return *out ? 0 : -2;
  });
  RunMakerWithInjectedFailures(60, 1, [&](Bspline** out) {
    int s;
    *out = FitArcBspline(x.data(), y.data(), z.data(), 20, &s);
    return *out ? 0 : -2;
  });
}

// The known-radius circle of the same arc at sizes 1e-6 .. 1e6, at the origin and moved 1e4 x
// the size away: found everywhere (an absolute collinearity test refused it below about 1e-3),
// with the radius as given and the curve on the arc to the points' single precision.
TEST_F(ArcFitTest, KnownRadiusCircleAtEverySizeAndPlace) {
  const double e0[3] = {0.36, 0.48, -0.8}, e1[3] = {-0.8, 0.6, 0.0}, normal[3] = {0.48, 0.64, 0.6};
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6})
    for (double away : {0.0, 1e4}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " away " << away);
      const double c[3] = {size * (1 + away), size * (2 - 0.6 * away), size * (-1 + 0.35 * away)};
      std::vector<float> x, y, z;
      ArcPoints(c, 2.0 * size, e0, e1, 0.0, 5.0, 40, &x, &y, &z);
      Cloud cloud{};
      cloud.npts = 40, cloud.x = x.data(), cloud.y = y.data(), cloud.z = z.data();
      double error = 0;
      Owned<Bspline, FreeBspline> k(FitCircleBsplineWithKnownRadius(&cloud, 2.0 * size, &error));
      ASSERT_TRUE(k);
      EXPECT_EQ(k->quadric->v[6], 2.0 * size);
      // Single-precision points 1e4 sizes away are rounded to 6e-4 of the size.
      const double tol = (away > 0 ? 3e-3 : 1e-5) * size;
      EXPECT_NEAR(std::fabs(VecDotProd3(k->quadric->v + 3, normal)), 1.0, away > 0 ? 1e-3 : 1e-6);
      for (int i = 0; i < 8; ++i) {
        double p[3], d[3];
        RefEvalCurve(k.get(), k->umin + (k->umax - k->umin) * i / 8, p);
        VecDiff3(p, c, d);
        EXPECT_NEAR(VecSize3(d), 2.0 * size, tol);
        EXPECT_NEAR(VecDotProd3(d, normal), 0.0, tol);
      }
    }
}

}  // namespace

// A 90-degree arc of radius 1 about (0.2, -0.1, 0.3) in z = 0.3, placed at every size and place
// (turned far away): the same arc in the points' units. Near the origin the float points carry
// 6e-8 of the size, far away 6e-4, which the estimate through the end points magnifies a few
// times.
TEST_F(ArcFitTest, FittedArcIsTheSameAtEverySizeAndPlace) {
  const double c[3] = {0.2, -0.1, 0.3}, e0[3] = {1, 0, 0}, e1[3] = {0, 1, 0}, up[3] = {0, 0, 1};
  std::vector<float> ux, uy, uz;
  ArcPoints(c, 1.0, e0, e1, 0.3, kPi / 2, 15, &ux, &uy, &uz);
  for (const Place& pl : EveryPlace()) {
    SCOPED_TRACE(Where(pl));
    std::vector<float> x, y, z;
    for (size_t i = 0; i < ux.size(); ++i) {
      double p[3] = {ux[i], uy[i], uz[i]};
      pl.Map(p, p);
      x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2]));
    }
    int status = 1;
    Owned<Bspline, FreeBspline> a(FitArcBspline(x.data(), y.data(), z.data(), int(x.size()), &status));
    ASSERT_TRUE(a);
    const double tol = pl.far ? 5e-3 : 2e-6;
    double centre[3], normal[3];
    pl.Unmap(a->quadric->v, centre);
    pl.UnmapDirection(a->quadric->v + 3, normal);
    EXPECT_NEAR(a->quadric->v[6] / pl.size, 1.0, tol);
    EXPECT_LT(VecDist3(centre, c), tol);
    EXPECT_NEAR(std::fabs(VecDotProd3(normal, up)), 1.0, tol * tol);
    EXPECT_NEAR(a->quadric->v[7], 90.0, 60 * tol);
  }
}

// Forty points over 5 degrees of the circle of radius 0.5 about (0.2, -0.1), turned by 0.7
// radians, at every size about the origin: the free and the known-radius circle are the same
// circle in the points' units (the free radius within the points' rounding magnified by the
// short arc).
TEST_F(ArcFitTest, ShortArcGivesItsCircleAtEverySize) {
  const double c = std::cos(0.7), s = std::sin(0.7);
  const double centre[2] = {c * 0.2 + s * 0.1, s * 0.2 - c * 0.1};
  for (double size : kPlaceSizes) {
    SCOPED_TRACE(size);
    std::vector<float> x, y;
    for (int i = 0; i < 40; ++i) {
      const double t = 5 * kPi / 180 * i / 40 + 0.3, u = 0.2 + 0.5 * std::cos(t), v = -0.1 + 0.5 * std::sin(t);
      x.push_back(static_cast<float>(size * (c * u - s * v))), y.push_back(static_cast<float>(size * (s * u + c * v)));
    }
    double free[3], r, e, known[2], ek;
    ASSERT_EQ(NewFitCircle(x.data(), y.data(), 40, free, &r, &e), 0);
    EXPECT_NEAR(r / size, 0.5, 2e-5);
    EXPECT_LT(std::hypot(free[0] / size - centre[0], free[1] / size - centre[1]), 2e-5);
    ASSERT_EQ(FitCircleWithGivenRadius(x.data(), y.data(), 40, 0.5 * size, known, &ek), 0);
    EXPECT_LT(std::hypot(known[0] / size - centre[0], known[1] / size - centre[1]), 1e-6);
    EXPECT_LT(ek / (size * size), 1e-14);
  }
}
