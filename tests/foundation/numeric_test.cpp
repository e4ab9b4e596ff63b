#include <cmath>
#include <numbers>
#include <random>

#include "cloud/makecld.h"
#include "foundation/algebra.h"
#include "foundation/angle.h"
#include "foundation/convert.h"
#include "foundation/integral.h"
#include "foundation/mathutil.h"
#include "foundation/minmax.h"
#include "tests/support/kernel_fixture.h"

namespace {

class NumericUtil : public KernelTest {};

constexpr double kPi = std::numbers::pi;

TEST_F(NumericUtil, PowersFactorialsAndBinomialsObeyTheirIdentities) {
  EXPECT_EQ(ZK_POW_N(2.0, -3), 0.125);
  EXPECT_EQ(ZK_POW_N(-7.5, 0), 1.0);
  for (int n = -6; n <= 6; ++n) EXPECT_NEAR(ZK_POW_N(1.3, n), std::pow(1.3, n), 1e-12);
  EXPECT_EQ(GetFactorial(0), 1.0);
  EXPECT_EQ(GetFactorial(-5), 1.0);
  for (int n = 1; n <= 40; ++n) {
    EXPECT_DOUBLE_EQ(GetFactorial(n), n * GetFactorial(n - 1)) << n;
  }
  EXPECT_EQ(GetFactorial(31), 31.0 * GetFactorial(30));
  // Pascal's rule and the row sums 2^n.
  for (int n = 1; n <= 25; ++n) {
    double rowSum = 0.0;
    for (int k = 0; k <= n; ++k) {
      double c = 0.0, left = 0.0, right = 0.0;
      ASSERT_EQ(GetBinomialCoeficient(n, k, &c), 0);
      rowSum += c;
      if (k >= 1 && k < n) {
        GetBinomialCoeficient(n - 1, k - 1, &left);
        GetBinomialCoeficient(n - 1, k, &right);
        EXPECT_NEAR(c, left + right, 1e-9 * c);
      }
    }
    EXPECT_NEAR(rowSum, std::ldexp(1.0, n), 1e-9 * rowSum);
  }
}

TEST_F(NumericUtil, DistanceAndVarianceSumMatchDirectFormulas) {
  const double a[3] = {1, 2, 3}, b[3] = {4, 6, 3};
  EXPECT_DOUBLE_EQ(PntToPntDist(a, b), 5.0);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  float v[50];
  double sum = 0.0, sumSq = 0.0;
  for (float& x : v) {
    x = u(rng);
    sum += x;
    sumSq += double(x) * x;
  }
  EXPECT_NEAR(ComputeVarianceSum(v, 50), sumSq - sum * sum / 50, 1e-9 * sumSq);
  EXPECT_EQ(ComputeVarianceSum(v, 0), 0.0);
}

TEST_F(NumericUtil, CramerSolvesLeaveTinyResiduals) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int trial = 0; trial < 200; ++trial) {
    double m[12];
    for (double& e : m) e = u(rng);
    double x, y, z;
    if (SolveLin2(m[0], m[1], m[2], m[3], m[4], m[5], &x, &y) == 0) {
      EXPECT_NEAR(m[0] * x + m[1] * y, m[2], 1e-9 * (1 + std::fabs(x) + std::fabs(y)));
      EXPECT_NEAR(m[3] * x + m[4] * y, m[5], 1e-9 * (1 + std::fabs(x) + std::fabs(y)));
    }
    if (SolveLin3(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], &x,
                  &y, &z) == 0) {
      const double scale = 1 + std::fabs(x) + std::fabs(y) + std::fabs(z);
      EXPECT_NEAR(m[0] * x + m[1] * y + m[2] * z, m[3], 1e-9 * scale);
      EXPECT_NEAR(m[4] * x + m[5] * y + m[6] * z, m[7], 1e-9 * scale);
      EXPECT_NEAR(m[8] * x + m[9] * y + m[10] * z, m[11], 1e-9 * scale);
    }
  }
}

TEST_F(NumericUtil, CramerOverflowGuardRefusesSingularAndHugeSolutions) {
  double x = -1, y = -1, z = -1;
  EXPECT_EQ(SolveLin2(1, 2, 3, 2, 4, 6, &x, &y), -2);  // singular, consistent
  EXPECT_EQ(x, -1);
  EXPECT_EQ(SolveLin2(0, 0, 0, 0, 0, 0, &x, &y), -2);  // 0 >= 0 refuses a zero determinant
  // det = 1e-12: x = 1 would be fine, y = 1e12 is not; x is written first (legacy order).
  EXPECT_EQ(SolveLin2(1, 0, 1, 0, 1e-12, 1, &x, &y), -2);
  EXPECT_DOUBLE_EQ(x, 1.0);
  EXPECT_EQ(y, -1);
  x = y = -1;
  EXPECT_EQ(SolveLin3(1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1e-12, 1, &x, &y, &z), -2);
  EXPECT_EQ(x, -1);  // nothing written by the 3 x 3 solve
  EXPECT_EQ(SolveLin3(1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1e-3, 1, &x, &y, &z), 0);
  EXPECT_DOUBLE_EQ(z, 1000.0);
}

TEST_F(NumericUtil, InterpolationReproducesLinesAndParabolas) {
  double out = 0;
  EXPECT_EQ(Poly1Interpolate(1, 2, 3, 6, 2.5, &out), 0);
  EXPECT_DOUBLE_EQ(out, 5.0);
  out = 42;
  EXPECT_EQ(Poly1Interpolate(1, 2, 1, 5, 1, &out), -2);  // vertical pair: no value
  EXPECT_EQ(out, 42);
  EXPECT_EQ(Poly1Interpolate(1, 2, 1, 2, 1.5, &out), -2);
  EXPECT_EQ(Poly1Interpolate(1, 2, 1, 2, 1, &out), 0);
  EXPECT_EQ(out, 2);
  auto f = [](double t) { return 0.5 * t * t - 3 * t + 2; };
  EXPECT_EQ(Poly2Interpolate(-1, f(-1), 0.5, f(0.5), 4, f(4), 2.2, &out), 0);
  EXPECT_NEAR(out, f(2.2), 1e-12);
  // Coincident abscissas fall back to the line through the distinct points.
  EXPECT_EQ(Poly2Interpolate(0, 1, 0, 1, 2, 5, 1, &out), 0);
  EXPECT_DOUBLE_EQ(out, 3.0);
  EXPECT_EQ(Poly2Interpolate(0, 1, 2, 5, 2, 5, 1, &out), 0);
  EXPECT_DOUBLE_EQ(out, 3.0);
  EXPECT_EQ(Poly2Interpolate(0, 1, 2, 5, 2, 6, 1, &out), -2);
}

TEST_F(NumericUtil, MinMaxOfArraysAndClouds) {
  const float f[5] = {3, -2, 7, 0, 7};
  const double d[3] = {-1e-3, 4, 2};
  double lo = 99, hi = 99;
  GetMinMaxF(f, 0, &lo, &hi);
  EXPECT_EQ(lo, 99);
  GetMinMaxF(f, 5, &lo, &hi);
  EXPECT_EQ(lo, -2);
  EXPECT_EQ(hi, 7);
  GetMinMaxD(d, 3, &lo, &hi);
  EXPECT_EQ(lo, -1e-3);
  EXPECT_EQ(hi, 4);
  const float x[3] = {1, 5, 3}, y[3] = {0, -1, 2}, z[3] = {9, 8, 7};
  Cloud* c = MakeCld(x, y, z, 3, nullptr);
  ASSERT_NE(c, nullptr);
  double b[6];
  GetCloudMinMax(c, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], -1);
  EXPECT_EQ(b[2], 7);
  EXPECT_EQ(b[3], 5);
  EXPECT_EQ(b[4], 2);
  EXPECT_EQ(b[5], 9);
  FreeCloud(c);
}

TEST_F(NumericUtil, AnglesBetweenLinesAndPlanesAreFolded) {
  const double o[3] = {0, 0, 0}, ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  const double diag[3] = {1, 0, std::sqrt(3.0)};  // 30 degrees from +z, 60 from the plane
  EXPECT_NEAR(LineLineAngle(o, ex, o, ey), 90.0, 1e-12);
  EXPECT_NEAR(LineLineAngle(ex, o, o, ex), 180.0, 1e-12);
  const PlaneEq up = {0, 0, 2, -1}, down = {0, 0, -1, 3}, tilted = {1, 0, 1, 0};
  EXPECT_NEAR(PlanePlaneAngle(up, down), 0.0, 1e-12);
  EXPECT_NEAR(PlanePlaneAngle(up, tilted), 45.0, 1e-12);
  EXPECT_NEAR(LinePlaneAngle(o, diag, up), 60.0, 1e-12);
  EXPECT_NEAR(LinePlaneAngle(diag, o, up), 60.0, 1e-12);
  EXPECT_NEAR(LinePlaneAngle(o, ex, up), 0.0, 1e-12);
  double n[3];
  PlaneNormalDirection(up, n);
  EXPECT_DOUBLE_EQ(n[2], 1.0);
}

TEST_F(NumericUtil, CoordinateConversionsRoundTrip) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int i = 0; i < 500; ++i) {
    const double p[3] = {u(rng), u(rng), u(rng)};
    double t, h, r, q[3];
    xyz_to_theta_h(p[0], p[1], p[2], &t, &h, &r);
    EXPECT_GE(t, -1e-4);
    EXPECT_LT(t, 2 * kPi);
    theta_h_to_xyz(t, h, r, &q[0], &q[1], &q[2]);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], p[k], 1e-12);
    double phi;
    xyz_to_theta_phi(p[0], p[1], p[2], &t, &phi, &r);
    EXPECT_GE(phi, 0.0);
    EXPECT_LE(phi, kPi);
    theta_phi_to_xyz(t, phi, r, &q[0], &q[1], &q[2]);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], p[k], 1e-12);
  }
  double t, h, r;
  xyz_to_theta_h(0, 0, 5, &t, &h, &r);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(h, 5);
  EXPECT_EQ(r, 0);
  xyz_to_theta_h(0, -1, 0, &t, &h, &r);
  EXPECT_DOUBLE_EQ(t, 1.5 * kPi);
  xyz_to_theta_h(-1, 0, 0, &t, &h, &r);
  EXPECT_DOUBLE_EQ(t, kPi);
  xyz_to_theta_h(1, -0.00005, 0, &t, &h, &r);  // legacy: stays slightly negative
  EXPECT_LT(t, 0);
  EXPECT_GT(t, -1e-4);
}

TEST_F(NumericUtil, ArrayConversionsApplyModesAndTheFrameOffset) {
  double a[2] = {kPi / 2, 0}, b[2] = {4, 1}, c[2] = {2, 3};
  put_object_to_world(a, b, c, 2, 4, 2);  // wrong type: nothing
  EXPECT_EQ(b[0], 4);
  put_object_to_world(a, b, c, 2, 5, 6);  // cylindrical
  EXPECT_NEAR(a[0], 0, 1e-12);
  EXPECT_NEAR(b[0], 2, 1e-12);
  EXPECT_NEAR(c[0], 4, 1e-12);
  Cloud frame{};
  frame.grid.cylCentre[0] = 10;
  frame.grid.cylCentre[1] = 20;
  frame.grid.cylCentre[2] = 30;
  const int axis[3] = {0, 1, 2};
  const double expect[3][3] = {{20, 30, 10}, {30, 10, 20}, {10, 20, 30}};
  for (int k = 0; k < 3; ++k) {
    frame.grid.rowAxis = axis[k];
    double ta[1] = {0}, tb[1] = {0}, tc[1] = {0};  // theta 0, h 0, r 0: the origin
    TransformArraysToXYZSpace(ta, tb, tc, 1, 1, &frame);
    EXPECT_EQ(ta[0], expect[k][0]);
    EXPECT_EQ(tb[0], expect[k][1]);
    EXPECT_EQ(tc[0], expect[k][2]);
  }
  double sa[1] = {0}, sb[1] = {0}, sc[1] = {2};  // spherical: phi 0 is +z, never offset
  TransformArraysToXYZSpace(sa, sb, sc, 1, 2, &frame);
  EXPECT_NEAR(sc[0], 2, 1e-12);
  EXPECT_NEAR(sa[0], 0, 1e-12);
}

TEST_F(NumericUtil, GaussLegendreIsExactUpToDegreeTwoNMinusOne) {
  double x[24], w[24];
  EXPECT_EQ(ComputeGaussLegendreCoefi(-1, 1, 0, x, w), -2);
  ASSERT_EQ(ComputeGaussLegendreCoefi(-1, 1, 2, x, w), 0);
  EXPECT_NEAR(x[0], -0.5773502691896258, 1e-15);
  EXPECT_NEAR(x[1], 0.5773502691896258, 1e-15);
  EXPECT_NEAR(w[0], 1.0, 1e-15);
  const double a = -0.5, b = 2.0;
  for (int n = 1; n <= 24; ++n) {
    ASSERT_EQ(ComputeGaussLegendreCoefi(a, b, n, x, w), 0);
    for (int i = 1; i < n; ++i) EXPECT_LT(x[i - 1], x[i]);
    for (int k = 0; k <= 2 * n - 1; ++k) {
      double sum = 0.0;
      for (int i = 0; i < n; ++i) sum += w[i] * std::pow(x[i], k);
      const double exact = (std::pow(b, k + 1) - std::pow(a, k + 1)) / (k + 1);
      EXPECT_NEAR(sum, exact, 1e-12 * (1 + std::fabs(exact))) << "n " << n << " degree " << k;
    }
    // One degree more is no longer exact (the rule's order is sharp); beyond a few points the
    // error drops below rounding.
    if (n > 5) continue;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += w[i] * std::pow(x[i], 2 * n);
    const double exact = (std::pow(b, 2 * n + 1) - std::pow(a, 2 * n + 1)) / (2 * n + 1);
    EXPECT_GT(std::fabs(sum - exact), 1e-10 * exact) << n;
  }
}

}  // namespace
