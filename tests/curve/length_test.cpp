// Curve lengths as polylines of equal parameter steps and samples equally spaced by arc length,
// against an exact circle and a fine polyline made here.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveLengthTest : public KernelTest {};

// The rational quadratic quarter circle of radius 2: exact length pi.
Bspline* QuarterCircle() {
  return BuildCurve(2, 3, {2, 0, 0, 2, 2, 0, 0, 2, 0}, {}, {1, std::sqrt(0.5), 1});
}

TEST_F(CurveLengthTest, PolylineLengthsRiseToTheArc) {
  Bspline* c = QuarterCircle();
  double prev = 0.0;
  for (int n = 1; n <= 4096; n *= 2) {
    const double L = GetPartCurveLength(c, 0.0, 1.0, n);
    EXPECT_GE(L, prev - 1e-12) << n;  // halving the steps never shortens an inscribed polyline
    EXPECT_LE(L, M_PI + 1e-12) << n;
    prev = L;
  }
  EXPECT_NEAR(prev, M_PI, 1e-6);
  // Symmetric in its ends; ends on opposite sides beyond the domain measure the whole curve.
  EXPECT_EQ(GetPartCurveLength(c, 0.8, 0.1, 50), GetPartCurveLength(c, 0.1, 0.8, 50));
  EXPECT_EQ(GetPartCurveLength(c, -3.0, 5.0, 64), GetPartCurveLength(c, 0.0, 1.0, 64));
  // Both ends beyond the same end: an empty interval, not a reversed one outside the curve.
  EXPECT_EQ(GetPartCurveLength(c, 1.5, 2.0, 10), 0.0);
  EXPECT_EQ(GetPartCurveLength(c, -2.0, -1.0, 10), 0.0);
  double *x, *y, *z;
  int count = 0;
  ASSERT_EQ(UnifArcSampleCurve(c, 1.5, 2.0, 0.0, 8, 0, &x, &y, &z, &count), 1);
  EXPECT_EQ(count, 1);
  EXPECT_NEAR(x[0], 0.0, 1e-12);  // the curve's end
  for (double* a : {x, y, z}) Free(a);
  EXPECT_EQ(GetPartCurveLength(c, 0.0, 1.0, 0), -1.0);
  // The polyline's points, parameters and running lengths.
  std::vector<double> px(11), py(11), pz(11), t(11), s(11);
  const double L = GetPartCurveLengthAndParams(c, 0.25, 0.75, 10, px.data(), py.data(), pz.data(), t.data(), s.data());
  EXPECT_EQ(L, GetPartCurveLength(c, 0.25, 0.75, 10));
  EXPECT_EQ(t[10], 0.75);
  EXPECT_EQ(s[0], 0.0);
  EXPECT_EQ(s[10], L);
  Bspline* loose = BuildCurve(1, 2, {0, 0, 1, 1});
  EXPECT_EQ(GetPartCurveLengthAndParams(loose, 0, 1, 10, px.data(), py.data(), pz.data(), t.data(), s.data()), -1.0);
  FreeBspline(loose);
  FreeBspline(c);
}

// Arc-length samples against a fine polyline made here: consecutive samples are L / n apart
// along the curve, also on curves whose speed varies wildly.
TEST_F(CurveLengthTest, ArcSamplesAreEvenlySpacedAlongTheCurve) {
  const int fine = 40000;
  for (int which = 0; which < 3; ++which) {
    Bspline* c = which == 0 ? QuarterCircle()
               : which == 1 ? BuildCurve(3, 3, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 3, 1, 0, 6, 0, 1})
                            : BuildRandomCurve(21, 3, 9);
    std::vector<double> fx(fine + 1), fy(fine + 1), fz(fine + 1), ft(fine + 1), fs(fine + 1);
    const double L = GetPartCurveLengthAndParams(c, 0.0, 1.0, fine, fx.data(), fy.data(), fz.data(), ft.data(), fs.data());
    for (int n : {1, 2, 7, 40}) {
      double *x, *y, *z;
      int count = 0;
      ASSERT_EQ(UnifArcSampleCurve(c, 0.0, 1.0, 0.0, n, 0, &x, &y, &z, &count), 1);
      ASSERT_EQ(count, n + 1);
      double prevS = 0.0;
      for (int k = 0; k <= n; ++k) {
        const double P[3] = {x[k], y[k], z[k]};
        int best = 0;
        double bestD = 1e300;
        for (int i = 0; i <= fine; ++i) {
          const double Q[3] = {fx[i], fy[i], fz[i]}, d = VecDist3(P, Q);
          if (d < bestD) bestD = d, best = i;
        }
        EXPECT_LT(bestD, 1e-3 * L);
        if (k > 0) {
          EXPECT_NEAR(fs[best] - prevS, L / n, 2e-3 * L) << "curve " << which << " n " << n << " k " << k;
        }
        prevS = fs[best];
      }
      for (double* a : {x, y, z}) Free(a);
    }
    FreeBspline(c);
  }
}

TEST_F(CurveLengthTest, SpacingCountAndBadInput) {
  Bspline* line = BuildCurve(1, 3, {0, 0, 0, 10, 0, 0});
  double *x, *y, *z;
  int count = 0;
  // 10 / 3 lies nearer 3 than 10 / 4: four samples 10 / 3 apart.
  ASSERT_EQ(UnifArcSampleCurve(line, 0.0, 1.0, 3.0, 0, 0, &x, &y, &z, &count), 1);
  ASSERT_EQ(count, 4);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(x[k], 10.0 * k / 3, 1e-9);
  for (double* a : {x, y, z}) Free(a);
  ASSERT_EQ(UnifArcSampleCurve(line, 0.0, 1.0, 0.0, 5, 1, &x, &y, &z, &count), 1);
  for (int k = 0; k < count; ++k) EXPECT_NEAR(x[k], 10.0, 1e-9);  // first derivatives
  for (double* a : {x, y, z}) Free(a);
  EXPECT_EQ(UnifArcSampleCurve(line, 0.0, 1.0, 0.0, 5, 2, &x, &y, &z, &count), 0);
  EXPECT_EQ(UnifArcSampleCurve(line, 0.0, 1.0, 1e-11, 5, 0, &x, &y, &z, &count), 0);
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    double *a = nullptr, *b = nullptr, *d = nullptr;
    int n = 0;
    const int r = UnifArcSampleCurve(line, 0.0, 1.0, 0.0, 5, 0, &a, &b, &d, &n);
    if (r == 1) {
      for (double* p : {a, b, d}) Free(p);
      return 0;
    }
    return -2;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(line);
}

}  // namespace
