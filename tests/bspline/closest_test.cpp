#include "bspline/refines2.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ClosestPoint : public KernelTest {};

double Wavy(double x, double y) { return 0.25 * std::sin(2.5 * x) * std::cos(1.5 * y) + 0.1 * x * y; }

// A unit vector perpendicular to d.
void Perpendicular(const double d[3], std::mt19937& rng, double out[3]) {
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double r[3] = {U(rng), U(rng), U(rng)};
  VecNormalize3(VecCrossProd3(d, r, out), out);
}

void SurfaceNormal(Bspline* s, double u, double v, double n[3]) {
  double Su[3], Sv[3];
  RefEvalDeriv(s, u, v, 1, 0, Su);
  RefEvalDeriv(s, u, v, 0, 1, Sv);
  VecNormalize3(VecCrossProd3(Su, Sv, n), n);
}

TEST_F(ClosestPoint, OffsetFromASpaceCurveProjectsBackToItsFoot) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.15, 0.85);
  for (unsigned seed = 1; seed <= 12; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 7, 3, seed % 3 == 0);
    ASSERT_NE(c, nullptr);
    const double t0 = U(rng), delta = 2e-3;
    double C[3], D[3], n[3], P[3];
    RefEvalCurve(c, t0, C);
    RefEvalDeriv(c, t0, 0.0, 1, 0, D);
    Perpendicular(D, rng, n);
    for (int k = 0; k < 3; ++k) P[k] = C[k] + delta * n[k];
    double t = t0 + 0.01, foot[3], dsq, step;
    EXPECT_EQ(FindClosestPointCurve3(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 30), 0) << seed;
    EXPECT_NEAR(t, t0, 1e-7) << seed;
    EXPECT_NEAR(std::sqrt(dsq), delta, 1e-9) << seed;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(foot[k], C[k], 1e-8);
    FreeBspline(c);
  }
}

TEST_F(ClosestPoint, OffsetFromACurveOnASurfaceProjectsBackToItsFoot) {
  PatchOptions opt;
  opt.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch(Wavy, opt);
  ASSERT_NE(s, nullptr);
  Bspline* c = BuildCurveOnSurface(s, 3, {0.05, 0.1, 0.3, 0.5, 0.6, 0.2, 0.95, 0.9});
  ASSERT_NE(c, nullptr);
  for (double t0 : {0.2, 0.45, 0.7}) {
    for (double delta : {0.01, -0.01}) {
      // Along the surface normal the offset is perpendicular to the curve's image.
      double uv[3], C[3], n[3], P[3];
      RefEvalCurve(c, t0, uv);
      RefEvalSurface(s, uv[0], uv[1], C);
      SurfaceNormal(s, uv[0], uv[1], n);
      for (int k = 0; k < 3; ++k) P[k] = C[k] + delta * n[k];
      double t = t0 - 0.02, foot[3], dsq, step;
      EXPECT_EQ(FindClosestPointCurveOnSurf(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 30), 0);
      EXPECT_NEAR(t, t0, 1e-7);
      EXPECT_NEAR(std::sqrt(dsq), std::fabs(delta), 1e-9);
    }
  }
  FreeBspline(s);
}

TEST_F(ClosestPoint, CurveResultAgreesWithDenseSampling) {
  // Points within reach of the curve: closer than its smallest radius of curvature, where
  // projecting on the tangent converges (farther out it may oscillate and report -2).
  // Started from a 200-sample estimate as callers do.
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(-1.0, 1.0), T(-0.05, 1.05);
  Bspline* c = BuildRandomCurve(21, 3, 9);
  ASSERT_NE(c, nullptr);
  std::vector<std::array<double, 3>> dense(20001);
  double reach = 0.08;
  for (int i = 0; i <= 20000; ++i) RefEvalCurve(c, i / 20000.0, dense[i].data());
  for (int i = 0; i <= 2000; ++i) {
    double d1[3], d2[3], x[3];
    RefEvalDeriv(c, i / 2000.0, 0.0, 1, 0, d1);
    RefEvalDeriv(c, i / 2000.0, 0.0, 2, 0, d2);
    reach = std::min(reach, 0.5 * std::pow(VecSize3(d1), 3) / VecSize3(VecCrossProd3(d1, d2, x)));
  }
  for (int trial = 0; trial < 20; ++trial) {
    double P[3], r[3] = {U(rng), U(rng), U(rng)};
    RefEvalCurve(c, T(rng), P);
    for (int k = 0; k < 3; ++k) P[k] += reach / std::sqrt(3.0) * r[k];
    double best = 1e300, tStart = 0.0;
    for (int i = 0; i <= 200; ++i) {
      const double d = VecDist3(dense[i * 100].data(), P);
      if (d < best) best = d, tStart = i / 200.0;
    }
    double denseMin = 1e300;
    for (const auto& q : dense) denseMin = std::min(denseMin, VecDist3(q.data(), P));
    double t = tStart, foot[3], dsq, step;
    const int rc = FindClosestPointCurve3(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 30);
    // Never worse than the samples, and the foot really is the curve's point at t (so it
    // cannot beat the true minimum either). A foot beyond an end gives -2 at that end.
    EXPECT_LE(std::sqrt(dsq), denseMin + 1e-9) << trial;
    EXPECT_TRUE(rc == 0 || t == 0.0 || t == 1.0) << trial;
    double at[3];
    RefEvalCurve(c, t, at);
    EXPECT_LT(VecDist3(at, foot), 1e-12);
    EXPECT_NEAR(VecDist3(foot, P), std::sqrt(dsq), 1e-12);
  }
  FreeBspline(c);
}

TEST_F(ClosestPoint, OffsetFromASurfaceProjectsBackWithSignedDistance) {
  for (bool rational : {false, true}) {
    PatchOptions opt;
    opt.rational = rational;
    opt.layout = KnotLayout::Random;
    opt.seed = 4;
    Bspline* s = BuildFunctionPatch(Wavy, opt);
    ASSERT_NE(s, nullptr);
    for (double u0 : {0.2, 0.55, 0.8})
      for (double v0 : {0.3, 0.6})
        for (double delta : {0.05, -0.05}) {
          double S0[3], n[3], P[3];
          RefEvalSurface(s, u0, v0, S0);
          SurfaceNormal(s, u0, v0, n);
          for (int k = 0; k < 3; ++k) P[k] = S0[k] + delta * n[k];
          double u = u0 + 0.04, v = v0 - 0.03, S[3], dist, step, normal[3];
          EXPECT_EQ(FindClosestUVPointGuessNorm(s, P, S, &u, &v, &dist, &step, 30, normal), 0);
          // Convergence is declared once the tangent-plane step is below ~1.4e-5.
          EXPECT_NEAR(u, u0, 3e-5);
          EXPECT_NEAR(v, v0, 3e-5);
          EXPECT_NEAR(dist, delta, 1e-8) << "the back side gives a negative distance";
          EXPECT_GT(VecDotProd3(normal, n) / VecSize3(normal), 1.0 - 1e-9);
          u = u0 - 0.05, v = v0 + 0.05;
          EXPECT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 30), 0);
          EXPECT_NEAR(dist, delta, 1e-8);
        }
    FreeBspline(s);
  }
}

TEST_F(ClosestPoint, SurfaceResultAgreesWithDenseSampling) {
  PatchOptions opt;
  opt.nu = 8;
  opt.nv = 7;
  Bspline* s = BuildFunctionPatch(Wavy, opt);
  ASSERT_NE(s, nullptr);
  const int m = 300;
  std::vector<std::array<double, 3>> dense((m + 1) * (m + 1));
  for (int j = 0; j <= m; ++j)
    for (int i = 0; i <= m; ++i) RefEvalSurface(s, double(i) / m, double(j) / m, dense[j * (m + 1) + i].data());
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-0.1, 1.1), H(-0.4, 0.4);
  for (int trial = 0; trial < 15; ++trial) {
    const double P[3] = {U(rng), U(rng), H(rng)};
    double best = 1e300, u = 0, v = 0;
    for (int j = 0; j <= 10; ++j)
      for (int i = 0; i <= 10; ++i) {
        const auto& q = dense[(j * 30) * (m + 1) + i * 30];
        const double d = VecDist3(q.data(), P);
        if (d < best) best = d, u = i / 10.0, v = j / 10.0;
      }
    double denseMin = 1e300;
    for (const auto& q : dense) denseMin = std::min(denseMin, VecDist3(q.data(), P));
    double S[3], dist, step;
    EXPECT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 40), 0);
    EXPECT_LE(std::fabs(dist), denseMin + 1e-9) << trial;
    double at[3];
    RefEvalSurface(s, u, v, at);
    EXPECT_LT(VecDist3(at, S), 1e-12);
    EXPECT_NEAR(VecDist3(S, P), std::fabs(dist), 1e-12);
  }
  FreeBspline(s);
}

TEST_F(ClosestPoint, PointOnTheCurveAndPointBeyondItsEnd) {
  Bspline* c = BuildCurve(3, 3, {0, 0, 0, 1, 0.5, 0, 2, 0.5, 0, 3, 0, 0});
  ASSERT_NE(c, nullptr);
  double P[3], foot[3], dsq, step, t = 0.4;
  RefEvalCurve(c, 0.4, P);
  EXPECT_EQ(FindClosestPointCurve3(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 1), 0);
  EXPECT_LT(step, 1e-20);
  EXPECT_EQ(t, 0.4);

  // Beyond the end the foot stays off the tangent line: the end point after the iterations.
  const double Q[3] = {4.0, -0.5, 0.0};
  t = 0.9;
  EXPECT_EQ(FindClosestPointCurve3(c, Q, foot, 0.0, 1.0, &t, &dsq, &step, 10), -2);
  EXPECT_EQ(t, 1.0);
  EXPECT_NEAR(dsq, 1.0 + 0.25, 1e-12);
  FreeBspline(c);

  // A curve whose tangent vanishes (all control points equal) fails cleanly.
  Bspline* dot = BuildCurve(2, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1});
  ASSERT_NE(dot, nullptr);
  t = 0.5;
  EXPECT_EQ(FindClosestPointCurve3(dot, Q, foot, 0.0, 1.0, &t, &dsq, &step, 5), -2);
  FreeBspline(dot);
}

TEST_F(ClosestPoint, CrossingCurvesMeetAndParallelLinesStopAtOnce) {
  Bspline* a = BuildRandomCurve(7, 3, 6);
  ASSERT_NE(a, nullptr);
  double Q[3], D[3];
  RefEvalCurve(a, 0.4, Q);
  RefEvalDeriv(a, 0.4, 0.0, 1, 0, D);
  std::mt19937 rng(1);
  double n[3];
  Perpendicular(D, rng, n);
  // A straight cubic through a(0.4) across it, crossing at its own parameter 0.5.
  std::vector<double> pts;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k) pts.push_back(Q[k] + (i / 3.0 - 0.5) * 0.6 * (n[k] + 0.3 * D[k] / VecSize3(D)));
  Bspline* b = BuildCurve(3, 3, pts);
  ASSERT_NE(b, nullptr);
  double t1 = 0.43, t2 = 0.46, dsq;
  EXPECT_EQ(RefineCurve3sClosestPoint(a, b, &t1, &t2, &dsq, 30), 0);
  EXPECT_LT(dsq, 1e-14);
  EXPECT_NEAR(t1, 0.4, 1e-6);
  EXPECT_NEAR(t2, 0.5, 1e-6);
  t1 = 0.37, t2 = 0.55;
  EXPECT_EQ(RefineCurvesClosestPoint(a, b, &t1, &t2, &dsq, 30), 0);
  EXPECT_LT(dsq, 1e-14);

  Bspline* l1 = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  Bspline* l2 = BuildCurve(1, 3, {0, 1, 0, 1, 1, 0});
  ASSERT_NE(l1, nullptr);
  ASSERT_NE(l2, nullptr);
  t1 = 0.2, t2 = 0.7;
  EXPECT_EQ(RefineCurve3sClosestPoint(l1, l2, &t1, &t2, &dsq, 10), 0);
  EXPECT_EQ(t1, 0.2);
  EXPECT_EQ(t2, 0.7);
  EXPECT_NEAR(dsq, 0.25 + 1.0, 1e-12);
  FreeBspline(a);
  FreeBspline(b);
  FreeBspline(l1);
  FreeBspline(l2);
}

TEST_F(ClosestPoint, SkewAndEndBoundPairsMatchTheGeometry) {
  // Skew lines: the x axis and the line through (0.3, -0.5, 1) along (1, 1, 0): the closest
  // pair is (0.8, 0, 0) on the first and (0.8, 0, 1) on the second, at distance 1.
  Bspline* a = BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0});
  Bspline* b = BuildCurve(1, 3, {0.3, -0.5, 1, 2.3, 1.5, 1});
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  double t1 = 0.1, t2 = 0.9, dsq;
  EXPECT_EQ(RefineCurvesClosestPoint(a, b, &t1, &t2, &dsq, 30), 0);
  EXPECT_NEAR(dsq, 1.0, 1e-10);
  EXPECT_NEAR(t1, 0.8 / 3.0, 1e-6);
  EXPECT_NEAR(t2, 0.25, 1e-6);

  // The closest pair sits at the end of the first curve: a point-to-curve finish there.
  Bspline* c = BuildCurve(1, 3, {3.5, -1, 0.5, 3.5, 1, 0.5});
  ASSERT_NE(c, nullptr);
  t1 = 0.5, t2 = 0.2;
  const int rc = RefineCurve3sClosestPoint(a, c, &t1, &t2, &dsq, 30);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(t1, 1.0);
  EXPECT_NEAR(t2, 0.5, 1e-6);
  EXPECT_NEAR(dsq, 0.25 + 0.25, 1e-9);
  FreeBspline(a);
  FreeBspline(b);
  FreeBspline(c);
}

}  // namespace
