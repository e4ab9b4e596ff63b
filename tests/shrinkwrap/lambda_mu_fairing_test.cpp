// Non-shrinking lambda/mu smoothing of polylines and curve stretches.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "shrinkwrap/csmooth.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class LambdaMuFairingTest : public KernelTest {};

struct Poly {
  std::vector<double> x, y, z;
  int Fair(const int* fixed, int nFixed, int half, int type, double lambda, double mu, int its, double sigma = 0.0) {
    return FairPolylineLambdaGamma(x.data(), y.data(), z.data(), int(x.size()), fixed, nFixed, half, type,
                                   lambda, mu, its, sigma);
  }
};

Poly NoisyCircle(int n, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-noise, noise);
  Poly p;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n, r = 1.0 + U(rng);
    p.x.push_back(r * std::cos(a));
    p.y.push_back(r * std::sin(a));
    p.z.push_back(U(rng));
  }
  return p;
}

// Mean radius and radial spread over the points away from the open ends.
void RadiusStats(const Poly& p, double* mean, double* spread) {
  const int n = int(p.x.size()), lo = n / 8, hi = n - n / 8;
  double s = 0.0, s2 = 0.0;
  for (int i = lo; i < hi; ++i) {
    const double r = std::hypot(p.x[i], p.y[i]);
    s += r;
    s2 += r * r;
  }
  *mean = s / (hi - lo);
  *spread = std::sqrt(std::max(s2 / (hi - lo) - *mean * *mean, 0.0));
}

// The pass band k gives lambda as the root of (2 - k) l^2 + k l - 1 = 0 and mu with
// 1/lambda + 1/mu = k; smoothing a noisy circle with them removes noise but keeps the radius,
// where plain Laplacian steps shrink it.
TEST_F(LambdaMuFairingTest, NoisyCircleKeepsItsRadiusUnlikeLaplacian) {
  for (double k : {0.05, 0.1, 0.3, 1.0}) {
    double l = 0.0, mu = 0.0;
    ASSERT_EQ(MaxShrinkFactorlambda(k, &l), 0);
    EXPECT_NEAR((2.0 - k) * l * l + k * l - 1.0, 0.0, 1e-12);
    ASSERT_EQ(ComputeLambdaGammaFromPassbandFqncy(k, 0.5 * l, &mu), 0);
    EXPECT_NEAR(2.0 / l + 1.0 / mu, k, 1e-12);
  }
  double mu = 0.0;
  EXPECT_EQ(ComputeLambdaGammaFromPassbandFqncy(0.5, 2.0, &mu), -2);  // 1/lambda = k
  EXPECT_EQ(mu, -2.0);

  const Poly start = NoisyCircle(200, 0.01, 4);
  double lambda = 0.0, r0, noise0, rT, noiseT, rL, noiseL;
  ASSERT_EQ(MaxShrinkFactorlambda(0.1, &lambda), 0);
  lambda *= 0.5;
  ASSERT_EQ(ComputeLambdaGammaFromPassbandFqncy(0.1, lambda, &mu), 0);
  ASSERT_LT(mu, -lambda);
  Poly taubin = start, laplace = start;
  ASSERT_EQ(taubin.Fair(nullptr, 0, 1, 0, lambda, mu, 100), 0);
  ASSERT_EQ(laplace.Fair(nullptr, 0, 1, 0, lambda, 0.0, 200), 0);
  RadiusStats(start, &r0, &noise0);
  RadiusStats(taubin, &rT, &noiseT);
  RadiusStats(laplace, &rL, &noiseL);
  // White noise keeps the share that falls inside the pass band (about 0.4 of it here).
  EXPECT_LT(noiseT, 0.5 * noise0);
  EXPECT_LT(noiseL, 0.5 * noise0);
  EXPECT_LT(std::fabs(rT - r0), 0.002);
  EXPECT_LT(rL, r0 - 0.01);
}

TEST_F(LambdaMuFairingTest, LaplacianStepsFixedPointsAndCoincidentNeighbours) {
  // One full Laplacian step moves every point to the mean of its neighbours.
  Poly p{{0, 1, 3, 7}, {0, 2, 0, 1}, {0, 0, 4, 0}};
  const Poly s = p;
  ASSERT_EQ(p.Fair(nullptr, 0, 1, 0, 1.0, 0.0, 1), 0);
  for (int i = 0; i < 4; ++i) {
    const int a = i == 0 ? 1 : i - 1, b = i == 3 ? 2 : i + 1;  // an end has one neighbour
    EXPECT_DOUBLE_EQ(p.x[i], 0.5 * (s.x[a] + s.x[b]));
    EXPECT_DOUBLE_EQ(p.z[i], 0.5 * (s.z[a] + s.z[b]));
  }
  // Fixed points stay.
  Poly q = s;
  const int fixed[4] = {0, 1, 2, 3};
  ASSERT_EQ(q.Fair(fixed, 4, 1, 2, 0.5, -0.53, 5), 0);
  EXPECT_EQ(q.x, s.x);
  // Every neighbour on top of a point leaves no inverse-distance weight defined: the weights
  // are 0 and the point does not move (no division by zero).
  const double o[3] = {0, 0, 0}, zx[2] = {0, 1e-8}, zy[2] = {0, 0};
  double w[2] = {7, 7};
  EXPECT_EQ(GetNeighborSmoothingWeight(o, zx, zy, zy, 2, 2, 0.0, w), -2);
  EXPECT_TRUE(w[0] == 0.0 && w[1] == 0.0);
  for (int type = 2; type <= 3; ++type) {
    Poly r{{0, 0, 0, 5}, {1, 1, 1, 5}, {2, 2, 2, 5}};
    ASSERT_EQ(r.Fair(nullptr, 0, 1, type, 0.5, -0.53, 4), 0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(r.x[i]) && std::isfinite(r.z[i]));
    EXPECT_EQ(r.x[1], 0.0);
  }
  // A Gaussian too narrow for every neighbour: nothing to average, nothing moves.
  Poly g{{0, 10, 20}, {0, 5, 0}, {0, 0, 0}};
  ASSERT_EQ(g.Fair(nullptr, 0, 1, 1, 0.5, -0.53, 2, 1e-6), 0);
  EXPECT_EQ(g.y[1], 5.0);

  const Poly circle = NoisyCircle(20, 0.05, 9);
  const int failures = RunWithInjectedFailures(25, 1, [&] {
    Poly c = circle;
    const int r = c.Fair(nullptr, 0, 2, 1, 0.5, -0.53, 3, 0.1);
    EXPECT_TRUE(r == 0 || c.x == circle.x);
    return r;
  });
  EXPECT_TRUE(failures > 0 && failures < 25) << failures;
}

// A cubic with 12 control points on uniform knots 0, 1/9, ..., 1 and a zig-zag in z.
Bspline* ZigZagCurve() {
  std::vector<double> pts;
  for (int i = 0; i < 12; ++i) pts.insert(pts.end(), {double(i), 0.1 * i * i, i % 2 ? 0.3 : -0.3});
  return BuildCurve(3, 3, pts);
}

// Control points 5..7 are the ones whose support lies in [knot 5, knot 11]: only they move,
// and the zig-zag among them is damped.
TEST_F(LambdaMuFairingTest, StretchSmoothingLeavesTheRestOfTheCurve) {
  Bspline* c = ZigZagCurve();
  const double* k = c->knotsU;
  int endFixed[2] = {5, -1}, first = -1, last = -1, nFree = 0;
  ASSERT_EQ(FindCrvSegmentFreeCntrlPnts(c, k[5], k[11], endFixed, &first, &last), 0);
  EXPECT_TRUE(endFixed[0] == 2 && first == 5 && last == 7);  // endFixed limited to degree - 1
  EXPECT_EQ(FindCrvSegmentFreeCntrlPnts(c, 0.5 * (k[5] + k[6]), 1.0, endFixed, &first, &last), -2);
  ASSERT_EQ(CheckCrvSegmentFreeCntrlPnts(c, 0.5 * (k[5] + k[6]), k[9], endFixed, &nFree), 0);
  EXPECT_EQ(nFree, 1);  // the inserted knot shifts the end span by one: points 6..6
  const std::vector<double> z0(c->Z[0], c->Z[0] + 12);
  auto wiggle = [&] { return std::pow(c->Z[0][5] - 2 * c->Z[0][6] + c->Z[0][7], 2); };
  const double before = wiggle();
  ASSERT_EQ(NonShrinkSmoothCurveSegment(c, k[11], k[5], 0.5, -0.53, 5), 0);  // any order
  EXPECT_LT(wiggle(), 0.5 * before);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE((i >= 5 && i <= 7) || c->Z[0][i] == z0[i]) << i;
  // Off a knot, outside the domain, or too few free points.
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, 0.5 * (k[5] + k[6]), k[11], 0.5, -0.53, 5), -2);
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, k[5], 1.5, 0.5, -0.53, 5), -2);
  EXPECT_EQ(NonShrinkSmoothCurveSegment(c, k[5], k[9], 0.5, -0.53, 5), -2);
  FreeBspline(c);
}

TEST_F(LambdaMuFairingTest, StagedSmoothingWorksOnACopy) {
  Bspline* c = ZigZagCurve();
  const double t0 = 0.25, t1 = 0.8;  // neither is a knot
  int endFixed[2] = {0, 0};
  Bspline* out = nullptr;
  ASSERT_EQ(SimpleSmoothCrvSegment(c, t0, t1, endFixed, 1, 0.6, &out), 0);
  EXPECT_TRUE(NumCtrlU(c) == 12 && NumCtrlU(out) > 12);
  // Outside the stretch the curve is unchanged; inside it the zig-zag is damped.
  double a[3], b[3], wiggleIn = 0.0, wiggleOut = 0.0;
  for (double t : {0.0, 0.1, 0.2, 0.25, 0.8, 0.9, 1.0}) {
    RefEvalCurve(c, t, a);
    RefEvalCurve(out, t, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << t;
  }
  for (int i = 0; i <= 40; ++i) {
    RefEvalDeriv(c, t0 + (t1 - t0) * i / 40.0, 0.0, 2, 0, a);
    RefEvalDeriv(out, t0 + (t1 - t0) * i / 40.0, 0.0, 2, 0, b);
    wiggleIn += a[2] * a[2];
    wiggleOut += b[2] * b[2];
  }
  EXPECT_LT(wiggleOut, 0.5 * wiggleIn);
  FreeBspline(out);
  // Without knot insertion a stretch with fewer than 4 free points is refused.
  EXPECT_EQ(SimpleSmoothCrvSegment(c, 0.3, 0.45, endFixed, 0, 0.5, &out), -2);
  EXPECT_EQ(out, nullptr);
  const int failures = RunMakerWithInjectedFailures(400, 7, [&](Bspline** r) {
    return SimpleSmoothCrvSegment(c, t0, t1, endFixed, 1, 0.6, r);
  });
  EXPECT_GT(failures, 0);
  EXPECT_EQ(NumCtrlU(c), 12);
  FreeBspline(c);
}

}  // namespace
