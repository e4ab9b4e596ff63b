// Inscribed and enclosing circles of roundness inspection: the inscribed circle holds no point
// and lies in the enclosing one, which holds every point; a user break falls back on the
// least-squares centre; degenerate sets are refused.
#include <cmath>
#include <random>
#include <vector>

#include "platform/tstubs.h"
#include "quadric/qcircle.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ExtremeCircleTest : public KernelTest {};

struct Planar {
  std::vector<float> x, y;
  void add(double px, double py) {
    x.push_back(static_cast<float>(px));
    y.push_back(static_cast<float>(py));
  }
  int n() const { return static_cast<int>(x.size()); }
};

// n points about (cx, cy) at radius r with radial noise in [-noise, noise].
Planar RoundPoints(double cx, double cy, double r, int n, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> N(-noise, noise);
  Planar p;
  for (int i = 0; i < n; ++i) {
    const double t = 6.283185307179586 * i / n, rr = r + N(rng);
    p.add(cx + rr * std::cos(t), cy + rr * std::sin(t));
  }
  return p;
}

double MinDist(const Planar& p, const double c[2]) {
  double m = 1e300;
  for (int i = 0; i < p.n(); ++i) m = std::fmin(m, std::hypot(p.x[i] - c[0], p.y[i] - c[1]));
  return m;
}

double MaxDist(const Planar& p, const double c[2]) {
  double m = 0;
  for (int i = 0; i < p.n(); ++i) m = std::fmax(m, std::hypot(p.x[i] - c[0], p.y[i] - c[1]));
  return m;
}

TEST_F(ExtremeCircleTest, InscribedLiesWithinEnclosingOnRoundData) {
  for (unsigned seed : {1u, 2u, 3u}) {
    Planar p = RoundPoints(3, -1, 2.0, 60 + 20 * seed, 0.05, seed);
    double ic[2], ir, oc[2], orr;
    ASSERT_EQ(MakeExtremeCircles(p.x.data(), p.y.data(), p.n(), ic, &ir, oc, &orr), 1);
    EXPECT_EQ(IsIncludeCircle(oc[0], oc[1], orr * orr, orr, ic[0], ic[1], ir * ir, ir), 1);
    EXPECT_GE(MinDist(p, ic), ir * (1 - 1e-6));  // no point inside the inscribed circle
    EXPECT_LE(MaxDist(p, oc), orr * (1 + 1e-6));  // every point inside the enclosing one
    EXPECT_GT(ir, 1.85);
    EXPECT_LT(orr, 2.15);
    double ic2[2], ir2;
    ASSERT_EQ(MakeInnerCircle(p.x.data(), p.y.data(), p.n(), ic2, &ir2), 1);
    EXPECT_GE(MinDist(p, ic2), ir2 * (1 - 1e-6));
    double oc2[2], or2;
    ASSERT_EQ(MakeOuterCircle2(p.x.data(), p.y.data(), p.n(), oc2, &or2), 1);
    EXPECT_TRUE(oc2[0] == oc[0] && oc2[1] == oc[1] && or2 == orr);
  }
}

TEST_F(ExtremeCircleTest, EnclosingCircleDependsOnTheHullOnly) {
  Planar square;
  const double corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (const auto& k : corners) square.add(k[0], k[1]);
  double c[2], r;
  ASSERT_EQ(MakeOuterCircle(square.x.data(), square.y.data(), 4, c, &r), 1);
  EXPECT_TRUE(c[0] == 0.5 && c[1] == 0.5);
  EXPECT_NEAR(r, std::sqrt(0.5), 1e-15);
  Planar obtuse;
  obtuse.add(0, 0);
  obtuse.add(4, 0);
  obtuse.add(2, 1);
  ASSERT_EQ(MakeOuterCircle(obtuse.x.data(), obtuse.y.data(), 3, c, &r), 1);
  EXPECT_TRUE(c[0] == 2 && c[1] == 0 && r == 2);  // the diameter circle, not the circumcircle

  Planar p = RoundPoints(0, 0, 5.0, 40, 0.3, 7);
  double base[2], baseR;
  ASSERT_EQ(MakeOuterCircle(p.x.data(), p.y.data(), p.n(), base, &baseR), 1);
  EXPECT_LE(MaxDist(p, base), baseR * (1 + 1e-9));
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> U(-3.0, 3.0);
  for (int i = 0; i < 50; ++i) p.add(U(rng), U(rng));  // inside the hull
  ASSERT_EQ(MakeOuterCircle(p.x.data(), p.y.data(), p.n(), c, &r), 1);
  EXPECT_NEAR(c[0], base[0], 1e-12);
  EXPECT_NEAR(c[1], base[1], 1e-12);
  EXPECT_NEAR(r, baseR, 1e-12);

  ASSERT_EQ(FitFakeOuterCircle(p.x.data(), p.y.data(), 40, c, &r), 0);
  EXPECT_NEAR(c[0], 0, 0.1);
  EXPECT_NEAR(r, 5.0, 0.4);
}

TEST_F(ExtremeCircleTest, DegenerateSetsAreRefused) {
  Planar line;
  for (int i = 0; i < 3; ++i) line.add(i, 0);
  double ic[2], ir, oc[2], orr;
  EXPECT_EQ(MakeExtremeCircles(line.x.data(), line.y.data(), 3, ic, &ir, oc, &orr), 0);
  EXPECT_EQ(MakeInnerCircle(line.x.data(), line.y.data(), 3, ic, &ir), 0);
  EXPECT_EQ(MakeExtremeCircles(line.x.data(), line.y.data(), 2, ic, &ir, oc, &orr), 0);
  EXPECT_EQ(MakeOuterCircle(line.x.data(), line.y.data(), 2, oc, &orr), 0);
  Planar same;
  for (int i = 0; i < 4; ++i) same.add(1, 1);
  EXPECT_EQ(FitFakeOuterCircle(same.x.data(), same.y.data(), 4, oc, &orr), -2);
  // IsIncludeCircle: a larger circle never fits; touching from inside does.
  EXPECT_EQ(IsIncludeCircle(0, 0, 4, 2, 1, 0, 1, 1), 1);
  EXPECT_EQ(IsIncludeCircle(0, 0, 4, 2, 1.1, 0, 1, 1), 0);
  EXPECT_EQ(IsIncludeCircle(0, 0, 1, 1, 0, 0, 4, 2), 0);
}

TEST_F(ExtremeCircleTest, UserBreakFallsBackOnTheLeastSquaresCentre) {
  // Points exactly on one circle keep the completion stages' working sets large, so the search
  // polls the user break.
  Planar p = RoundPoints(1, 2, 3.0, 400, 0.0, 9);
  StubSetUserBreak(1);
  double ic[2], ir, oc[2], orr;
  ASSERT_EQ(MakeExtremeCircles(p.x.data(), p.y.data(), p.n(), ic, &ir, oc, &orr), 1);
  EXPECT_GT(StubUserBreakPolls(), 0);
  EXPECT_NEAR(ic[0], 1, 1e-5);
  EXPECT_NEAR(ic[1], 2, 1e-5);
  EXPECT_NEAR(ir, MinDist(p, ic), 1e-5);
  EXPECT_LE(MaxDist(p, oc), orr * (1 + 1e-6));
  double c2[2], r2;
  ASSERT_EQ(MakeInnerCircle(p.x.data(), p.y.data(), p.n(), c2, &r2), 1);
  EXPECT_NEAR(c2[0], 1, 1e-4);

  // When even the least-squares circle cannot be made, no inscribed circle is reported.
  RunWithInjectedFailures(40, 1, [&] {
    double c[2] = {NAN, NAN}, r = NAN, o[2], orad;
    const int rc = MakeExtremeCircles(p.x.data(), p.y.data(), p.n(), c, &r, o, &orad);
    if (rc == 1) {
      EXPECT_TRUE(std::isfinite(c[0] + c[1] + r));
    }
    return rc == 1 ? 0 : -2;
  });
  StubSetUserBreak(0);
}

}  // namespace
