// Deviations of clouds from curves: the projection record against a dense brute-force search
// made here, the worst point and its ties, the three grading modes, one curve against another
// and the closest pair of two curves.
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "foundation/cloudrec.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveDeviationTest : public KernelTest {};

// Squared distance from p to the curve by dense sampling and a golden-section polish.
double BruteDistSq(const Bspline* c, const double p[3], double* tBest) {
  auto f = [&](double t) {
    double q[3];
    RefEvalCurve(c, t, q);
    return (q[0] - p[0]) * (q[0] - p[0]) + (q[1] - p[1]) * (q[1] - p[1]) + (q[2] - p[2]) * (q[2] - p[2]);
  };
  const int m = 800;
  int best = 0;
  for (int i = 1; i <= m; ++i)
    if (f(double(i) / m) < f(double(best) / m)) best = i;
  double a = std::max(0.0, (best - 1.0) / m), b = std::min(1.0, (best + 1.0) / m);
  for (int k = 0; k < 80; ++k) {
    const double c1 = b - 0.618 * (b - a), c2 = a + 0.618 * (b - a);
    if (f(c1) < f(c2)) b = c2; else a = c1;
  }
  *tBest = 0.5 * (a + b);
  return f(*tBest);
}

Cloud* Points(const std::vector<double>& xyz) {
  std::vector<float> x, y, z;
  for (size_t i = 0; i < xyz.size(); i += 3) {
    x.push_back(float(xyz[i]));
    y.push_back(float(xyz[i + 1]));
    z.push_back(float(xyz[i + 2]));
  }
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

TEST_F(CurveDeviationTest, RecordAgreesWithDenseProjection) {
  BsplineKeeper keep;
  for (double scale : {1e-6, 1.0, 1e6}) {
    Bspline* c = keep(BuildRandomCurve(11, 3, 8));
    for (double** row : {c->X, c->Y, c->Z})
      for (int i = 0; i < 8; ++i) row[0][i] *= scale;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1.2, 1.2);
    std::vector<double> xyz;
    for (int i = 0; i < 60; ++i) {
      for (int k = 0; k < 3; ++k) xyz.push_back(u(rng) * scale);
      if (i % 10 == 3)  // a repeated point projects from its predecessor's start
        for (int k = 0; k < 3; ++k) xyz.push_back(xyz[xyz.size() - 3]);
    }
    Owned<Cloud, FreeCloud> cloud(Points(xyz));
    const int n = cloud->npts;
    std::vector<double> d(n), t(n);
    ASSERT_EQ(RecordCurveBsplineCloudDiff(c, cloud.get(), d.data(), t.data()), 0);
    int better = 0;
    for (int i = 0; i < n; ++i) {
      const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
      double tb;
      const double ref = BruteDistSq(c, p, &tb);
      // Never farther than the true foot; a projection may settle in a local foot only when
      // the global one is another branch of about the same distance.
      EXPECT_GE(d[i], ref * (1 - 1e-9) - 1e-24 * scale * scale) << i;
      better += d[i] <= ref * (1 + 1e-8) + 1e-20 * scale * scale;
    }
    EXPECT_GE(better, n - 2) << scale;
  }
}

TEST_F(CurveDeviationTest, WorstPointAndTheThreeGrades) {
  BsplineKeeper keep;
  // The segment from (0,0,0) to (10,0,0); points at heights 0.5, 2, 1, 2 (tie), 0.
  Bspline* line = keep(BuildCurve(1, 3, {0, 0, 0, 10, 0, 0}));
  Owned<Cloud, FreeCloud> cloud(Points({1, 0.5, 0, 3, 2, 0, 5, 1, 0, 7, 2, 0, 9, 0, 0}));
  double wt, wd;
  int wi;
  ASSERT_EQ(FindCurveBsplineCloudMaxDiff(line, cloud.get(), &wt, &wd, &wi), 0);
  EXPECT_EQ(wi, 1);  // the earlier of two equal worst points
  EXPECT_NEAR(wd, 4.0, 1e-12);
  EXPECT_NEAR(wt, 0.3, 1e-12);
  // Mode 0: every point within tol; exactly at tol counts as within.
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 0, 2.0, 0, &wt, &wd, &wi), 1);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 0, 1.99, 0, &wt, &wd, &wi), 0);
  EXPECT_NEAR(wd, 4.0, 1e-12);
  // Mode 1: mean distance 1.1, reported squared in place of the worst.
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 1, 1.1 + 1e-9, 0, &wt, &wd, &wi), 1);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 1, 1.09, 0, &wt, &wd, &wi), 0);
  EXPECT_NEAR(wd, 1.21, 1e-12);
  EXPECT_EQ(wi, 1);
  // Mode 2: three of five points within 1 (0.6), all five within 2.
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 2, 1.0, 0.6, &wt, &wd, &wi), 1);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 2, 1.0, 0.61, &wt, &wd, &wi), 0);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 2, 2.0, 1.0, &wt, &wd, &wi), 1);
  EXPECT_NEAR(wd, 4.0, 1e-12);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(line, cloud.get(), 3, 9.0, 0, &wt, &wd, &wi), 0);
  // A first point that is the worst is index 0.
  Owned<Cloud, FreeCloud> first(Points({5, 3, 0, 6, 1, 0}));
  ASSERT_EQ(FindCurveBsplineCloudMaxDiff(line, first.get(), &wt, &wd, &wi), 0);
  EXPECT_EQ(wi, 0);
  // A curve of an unsupported kind writes nothing: refused, not a success over garbage.
  Bspline* bad = keep(BuildCurve(1, 3, {0, 0, 0, 10, 0, 0}));
  bad->dimension = 2;  // no owner surface
  std::vector<double> d(5, -1.0), t(5, -1.0);
  EXPECT_EQ(RecordCurveBsplineCloudDiff(bad, cloud.get(), d.data(), t.data()), -2);
  EXPECT_EQ(FindCurveBsplineCloudMaxDiff(bad, cloud.get(), &wt, &wd, &wi), -2);
  EXPECT_EQ(CheckCurveBsplineCloudMaxDiff(bad, cloud.get(), 0, 1e9, 0, &wt, &wd, &wi), 0);
  bad->dimension = 3;
  // No leaks and no open scope when allocations fail.
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    return FindCurveBsplineCloudMaxDiff(line, cloud.get(), &wt, &wd, &wi);
  });
  EXPECT_GT(failures, 0);
}

TEST_F(CurveDeviationTest, CurveOnSurfaceIsMeasuredInSpace) {
  BsplineKeeper keep;
  // The plane z = 2 x over [0, 1]^2; the diagonal curve in its parameter plane.
  Bspline* plane = keep(BuildSurface(1, 1, 2, 2, {0, 0, 0, 1, 0, 2, 0, 1, 0, 1, 1, 2}));
  Bspline* diag = BuildCurveOnSurface(plane, 1, {0, 0, 1, 1});
  Owned<Cloud, FreeCloud> cloud(Points({0.5, 0.5, 1.0 + 0.3, 0.25, 0.25, 0.5}));
  std::vector<double> d(2), t(2);
  ASSERT_EQ(RecordCurveBsplineCloudDiff(diag, cloud.get(), d.data(), t.data()), 0);
  // In space the curve is (t, t, 2 t): the foot of P is at t = P . (1, 1, 2) / 6.
  EXPECT_NEAR(t[0], 0.5 + 0.3 * 2 / 6.0, 1e-7);  // float points
  EXPECT_NEAR(d[1], 0.0, 1e-12);
}

TEST_F(CurveDeviationTest, CurveAgainstCurve) {
  BsplineKeeper keep;
  // A parabola y = x^2 on [0, 1] and the x axis: largest distance 1 at x = 1.
  Bspline* parab = keep(BuildCurve(2, 3, {0, 0, 0, 0.5, 0, 0, 1, 1, 0}));
  Bspline* axis = keep(BuildCurve(1, 3, {-1, 0, 0, 2, 0, 0}));
  double m = 0.0;
  ASSERT_EQ(TwoCurve3MaxDiff(parab, axis, 5, &m), 0);
  EXPECT_NEAR(m, 1.0, 1e-6);
  // Samples a span up to 4096 measure as few do; more (a count near the int range asked for
  // hours of closest-point searches) are refused, nothing written.
  m = 0.0;
  ASSERT_EQ(TwoCurve3MaxDiff(parab, axis, 4096, &m), 0);
  EXPECT_NEAR(m, 1.0, 1e-6);
  for (int count : {4097, INT_MAX - 2, INT_MAX}) {
    m = 42.0;
    EXPECT_EQ(TwoCurve3MaxDiff(parab, axis, count, &m), -2);
    EXPECT_EQ(m, 42.0);
  }
  ASSERT_EQ(TwoCurve3MaxDiff(axis, parab, 1, &m), 0);  // one sample per span counts as two
  double x = 1.0;  // the foot of (2, 0, 0) on the parabola: 4 x^3 + 2 x - 4 = 0
  for (int k = 0; k < 30; ++k) x -= (4 * x * x * x + 2 * x - 4) / (12 * x * x + 2);
  EXPECT_NEAR(m, std::hypot(x - 2.0, x * x), 1e-6);
  Bspline* flat = keep(BuildCurve(1, 2, {0, 0, 1, 1}));
  EXPECT_EQ(TwoCurve3MaxDiff(parab, flat, 5, &m), -2);
  EXPECT_EQ(TwoCurve3MaxDiff(flat, parab, 5, &m), -2);
  // Two skew lines: the closest pair and its squared gap.
  Bspline* a = keep(BuildCurve(1, 3, {-1, 0, 0, 1, 0, 0}));
  Bspline* b = keep(BuildCurve(3, 3, {0.25, -1, 2, 0.25, -0.3, 2, 0.25, 0.4, 2, 0.25, 1, 2}));
  double pa[3], pb[3];
  EXPECT_NEAR(curve_curve_min_dist(a, b, pa, pb), 4.0, 1e-10);
  EXPECT_NEAR(pa[0], 0.25, 1e-7);
  EXPECT_NEAR(pb[1], 0.0, 1e-7);
  EXPECT_EQ(curve_curve_min_dist(a, flat, pa, pb), -2.0);
}

}  // namespace

// A planar cubic and its copy lifted off the plane by d: every point of one is exactly d from the
// other, at every size and wherever the pair lies.
TEST_F(CurveDeviationTest, CurveAgainstLiftedCopyAnywhere) {
  const double unit[] = {0, 0, 0, 0.3, 0.6, 0, 0.7, -0.2, 0, 1, 0.4, 0, 1.3, 0.1, 0};
  const double lift = 1e-6;
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1.0}) {
      BsplineKeeper keep;
      const double shift[3] = {1e4 * far * size, -6e3 * far * size, 3.5e3 * far * size};
      std::vector<double> a, b;
      for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 3; ++c) {
          a.push_back(shift[c] + size * unit[3 * i + c]);
          b.push_back(shift[c] + size * (unit[3 * i + c] + (c == 2 ? lift : 0.0)));
        }
      Bspline* A = keep(BuildCurve(3, 3, a));
      Bspline* B = keep(BuildCurve(3, 3, b));
      double m = 0.0;
      ASSERT_EQ(TwoCurve3MaxDiff(A, B, 16, &m), 0);
      EXPECT_NEAR(m / size, lift, 1e-3 * lift) << size << " " << far;
      ASSERT_EQ(TwoCurve3MaxDiff(B, A, 16, &m), 0);
      EXPECT_NEAR(m / size, lift, 1e-3 * lift) << size << " " << far;
    }
}
