#include <cmath>
#include <numbers>
#include <random>
#include <utility>

#include "cloud/makecld.h"
#include "foundation/algebra.h"
#include "foundation/angle.h"
#include "foundation/convert.h"
#include "foundation/integral.h"
#include "foundation/lsrchopt.h"
#include "foundation/mathutil.h"
#include "tests/support/kernel_fixture.h"

namespace {

class NumericUtil : public KernelTest {};

constexpr double kPi = std::numbers::pi;

TEST_F(NumericUtil, PowersFactorialsAndBinomials) {
  for (int n = -6; n <= 6; ++n) EXPECT_NEAR(ZK_POW_N(1.3, n), std::pow(1.3, n), 1e-12);
  EXPECT_EQ(GetFactorial(-5), 1.0);
  // Past the table (30!) the values go on by the recurrence.
  for (int n = 1; n <= 40; ++n) EXPECT_DOUBLE_EQ(GetFactorial(n), n * GetFactorial(n - 1)) << n;
  for (int n = 1; n <= 25; ++n)
    for (int k = 0; k <= n; ++k) {
      double c = 0.0;
      ASSERT_EQ(GetBinomialCoeficient(n, k, &c), 0);
      EXPECT_NEAR(c, std::tgamma(n + 1) / (std::tgamma(k + 1) * std::tgamma(n - k + 1)), 1e-9 * c) << n << " " << k;
    }
  const double p[3] = {1, 2, 2}, o[3] = {0, 0, 0};
  EXPECT_EQ(PntToPntDist(p, o), 3.0);
  const float v[5] = {1, 2, 3, 4, 10};
  EXPECT_NEAR(ComputeVarianceSum(v, 5), 3 * 3 + 2 * 2 + 1 + 0 + 6 * 6, 1e-12);  // mean 4
  EXPECT_EQ(ComputeVarianceSum(v, 0), 0.0);
}

TEST_F(NumericUtil, CramerSolvesLeaveTinyResidualsOrRefuseHugeSolutions) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int trial = 0; trial < 200; ++trial) {
    double m[12], x, y, z;
    for (double& e : m) e = u(rng);
    if (SolveLin2(m[0], m[1], m[2], m[3], m[4], m[5], &x, &y) == 0) {
      const double scale = 1e-9 * (1 + std::fabs(x) + std::fabs(y));
      for (int r = 0; r < 2; ++r) EXPECT_NEAR(m[3 * r] * x + m[3 * r + 1] * y, m[3 * r + 2], scale);
    }
    if (SolveLin3(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], &x, &y, &z) == 0) {
      const double scale = 1e-9 * (1 + std::fabs(x) + std::fabs(y) + std::fabs(z));
      for (int r = 0; r < 3; ++r) EXPECT_NEAR(m[4 * r] * x + m[4 * r + 1] * y + m[4 * r + 2] * z, m[4 * r + 3], scale);
    }
  }
  double x = -1, y = -1, z = -1;
  EXPECT_EQ(SolveLin2(1, 2, 3, 2, 4, 6, &x, &y), -2);  // singular, consistent
  EXPECT_EQ(x, -1);
  EXPECT_EQ(SolveLin2(0, 0, 0, 0, 0, 0, &x, &y), -2);  // 0 >= 0 refuses a zero determinant
  // det = 1e-12: x = 1 would be fine, y = 1e12 is not.
  EXPECT_EQ(SolveLin2(1, 0, 1, 0, 1e-12, 1, &x, &y), -2);
  x = -1;
  EXPECT_EQ(SolveLin3(1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1e-12, 1, &x, &y, &z), -2);
  EXPECT_TRUE(x == -1 && y == -1);  // nothing written by either
  EXPECT_EQ(SolveLin3(1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1e-3, 1, &x, &y, &z), 0);
  EXPECT_DOUBLE_EQ(z, 1000.0);
}

TEST_F(NumericUtil, InterpolationAndFoldedAngles) {
  double out = 42;
  EXPECT_EQ(Poly1Interpolate(1, 2, 1, 5, 1, &out), -2);  // vertical pair: no value
  EXPECT_EQ(out, 42);
  auto f = [](double t) { return 0.5 * t * t - 3 * t + 2; };
  EXPECT_EQ(Poly2Interpolate(-1, f(-1), 0.5, f(0.5), 4, f(4), 2.2, &out), 0);
  EXPECT_NEAR(out, f(2.2), 1e-12);
  // Coincident abscissas fall back to the line through the distinct points.
  EXPECT_TRUE(Poly2Interpolate(0, 1, 0, 1, 2, 5, 1, &out) == 0 && out == 3.0);
  out = 0;
  EXPECT_TRUE(Poly2Interpolate(0, 1, 2, 5, 2, 5, 1, &out) == 0 && out == 3.0);
  EXPECT_EQ(Poly2Interpolate(0, 1, 2, 5, 2, 6, 1, &out), -2);
  // Angles with planes are folded: opposite normals count as parallel.
  const double o[3] = {0, 0, 0}, diag[3] = {1, 0, std::sqrt(3.0)};  // 30 degrees from +z
  const PlaneEq up = {0, 0, 2, -1}, down = {0, 0, -1, 3}, tilted = {1, 0, 1, 0};
  EXPECT_NEAR(PlanePlaneAngle(up, down), 0.0, 1e-12);
  EXPECT_NEAR(PlanePlaneAngle(up, tilted), 45.0, 1e-12);
  EXPECT_NEAR(LinePlaneAngle(diag, o, up), 60.0, 1e-12);
}

TEST_F(NumericUtil, CoordinateConversionsRoundTrip) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int i = 0; i < 500; ++i) {
    const double p[3] = {u(rng), u(rng), u(rng)};
    double t, h, r, phi, q[3], s[3];
    xyz_to_theta_h(p[0], p[1], p[2], &t, &h, &r);
    EXPECT_TRUE(t >= -1e-4 && t < 2 * kPi);
    theta_h_to_xyz(t, h, r, &q[0], &q[1], &q[2]);
    xyz_to_theta_phi(p[0], p[1], p[2], &t, &phi, &r);
    EXPECT_TRUE(phi >= 0.0 && phi <= kPi);
    theta_phi_to_xyz(t, phi, r, &s[0], &s[1], &s[2]);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::fabs(q[k] - p[k]) < 1e-12 && std::fabs(s[k] - p[k]) < 1e-12) << k;
  }
  double t, h, r;
  xyz_to_theta_h(1, -0.00005, 0, &t, &h, &r);  // legacy: stays slightly negative
  EXPECT_TRUE(t < 0 && t > -1e-4);
  // The object form converts in place for type 5 only: cylindrical for modes 2 and 6,
  // spherical for 3 and 7.
  const double p[3] = {1.0, -2.0, 0.5};
  for (int mode : {2, 3, 6, 7}) {
    double a, b, c;
    (mode % 4 == 2 ? xyz_to_theta_h : xyz_to_theta_phi)(p[0], p[1], p[2], &a, &b, &c);
    const double polar[3] = {a, b, c};
    put_object_to_world(&a, &b, &c, 1, 4, mode);
    EXPECT_TRUE(a == polar[0] && b == polar[1] && c == polar[2]);
    put_object_to_world(&a, &b, &c, 1, 5, mode);
    EXPECT_TRUE(std::fabs(a - p[0]) < 1e-12 && std::fabs(b - p[1]) < 1e-12 && std::fabs(c - p[2]) < 1e-12) << mode;
  }

  // In place on arrays; the cylindrical frame's axis point is placed by its axis code.
  Cloud frame{};
  frame.grid.cylCentre[0] = 10, frame.grid.cylCentre[1] = 20, frame.grid.cylCentre[2] = 30;
  const double expect[3][3] = {{20, 30, 10}, {30, 10, 20}, {10, 20, 30}};
  for (int k = 0; k < 3; ++k) {
    frame.grid.rowAxis = k;
    double ta[1] = {0}, tb[1] = {0}, tc[1] = {0};  // theta 0, h 0, r 0: the origin
    TransformArraysToXYZSpace(ta, tb, tc, 1, 1, &frame);
    EXPECT_TRUE(ta[0] == expect[k][0] && tb[0] == expect[k][1] && tc[0] == expect[k][2]) << k;
  }
}

TEST_F(NumericUtil, GaussLegendreIsExactUpToDegreeTwoNMinusOne) {
  double x[24], w[24];
  EXPECT_EQ(ComputeGaussLegendreCoefi(-1, 1, 0, x, w), -2);
  const double a = -0.5, b = 2.0;
  auto integral = [&](int n, int k) {  // rule and exact value of t^k
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += w[i] * std::pow(x[i], k);
    return std::make_pair(sum, (std::pow(b, k + 1) - std::pow(a, k + 1)) / (k + 1));
  };
  for (int n = 1; n <= 24; ++n) {
    ASSERT_EQ(ComputeGaussLegendreCoefi(a, b, n, x, w), 0);
    for (int i = 1; i < n; ++i) EXPECT_LT(x[i - 1], x[i]);
    for (int k = 0; k <= 2 * n - 1; ++k) {
      const auto [rule, exact] = integral(n, k);
      EXPECT_NEAR(rule, exact, 1e-12 * (1 + std::fabs(exact))) << "n " << n << " degree " << k;
    }
  }
}

// ---- minimisers ------------------------------------------------------------------------------

// An anisotropic quadratic with its minimum at (1, -2, 0.5, 3).
const double kTarget[4] = {1, -2, 0.5, 3};
const double kWeight[4] = {1, 4, 0.5, 2};

int Quadratic(const double* x, int n, double* value) {
  *value = 0;
  for (int i = 0; i < n; ++i) *value += kWeight[i] * (x[i] - kTarget[i]) * (x[i] - kTarget[i]);
  return 0;
}
int QuadraticGrad(const double* x, int n, double* g) {
  for (int i = 0; i < n; ++i) g[i] = 2 * kWeight[i] * (x[i] - kTarget[i]);
  return 0;
}
int VetoAll(const double*, int) { return 1; }
int gradCalls = 0;
int QuadraticGradFailsLater(const double* x, int n, double* g) {
  if (++gradCalls <= 2) return QuadraticGrad(x, n, g);
  for (int i = 0; i < n; ++i) g[i] = NAN;  // garbage the minimiser must not use
  return -2;
}

TEST_F(NumericUtil, ConjugateGradientsConvergeOrKeepAConsistentPoint) {
  double r[4] = {0, 0, 0, 0}, p[4] = {0, 0, 0, 0}, fret = -1, f = 0;
  int iters = 0;
  EXPECT_EQ(FrprMin(r, 4, 1e-14, 200, 10.0, &iters, &fret, Quadratic, QuadraticGrad, nullptr), 0);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(r[k], kTarget[k], 1e-5) << k;
  Quadratic(r, 4, &f);
  EXPECT_DOUBLE_EQ(f, fret);
  // A vetoing check stops with failure at the start; the value belongs to the returned point.
  EXPECT_EQ(FrprMin(p, 4, 1e-12, 200, 1.0, &iters, &fret, Quadratic, QuadraticGrad, VetoAll), -2);
  for (double v : p) EXPECT_EQ(v, 0.0);
  Quadratic(p, 4, &f);
  EXPECT_EQ(fret, f);
  // A failing gradient keeps the last good point.
  gradCalls = 0;
  EXPECT_EQ(FrprMin(p, 4, 0, 200, 10.0, &iters, &fret, Quadratic, QuadraticGradFailsLater, nullptr), 0);
  for (double v : p) EXPECT_TRUE(std::isfinite(v));
  Quadratic(p, 4, &f);
  EXPECT_EQ(f, fret);
  EXPECT_LE(iters, 2);
  // No memory: the point is untouched.
  r[0] = -1.2;
  MallocFailAfter(0, -1);
  EXPECT_EQ(FrprMin(r, 4, 1e-10, 10, 1.0, &iters, &fret, Quadratic, QuadraticGrad, nullptr), -2);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow() && r[0] == -1.2);
}

double parabolaShift = 0.3;
double Parabola(double t) { return (t - parabolaShift) * (t - parabolaShift) + 2; }

TEST_F(NumericUtil, BrentAndLineSearch) {
  double t = -1;
  EXPECT_NEAR(DminBrent(0, 1, Parabola, 1e-10, 100, &t), 2.0, 1e-12);
  EXPECT_NEAR(t, 0.3, 1e-6);
  EXPECT_EQ(DminBrent(2, 1, Parabola, 0, 100, &t), Parabola(1));  // reversed bracket
  EXPECT_EQ(t, 1);
  parabolaShift = 5;  // minimum outside: the bracket end nearest to it
  DminBrent(0, 1, Parabola, 1e-10, 100, &t);
  EXPECT_NEAR(t, 1.0, 1e-5);
  parabolaShift = 0.3;

  // Zero direction: no move (no division by a zero norm).
  double p[4] = {1, 1, 1, 1}, f = -1, f0 = 0;
  const double zero[4] = {0, 0, 0, 0}, dir[4] = {0, -50, 0, 0};
  EXPECT_EQ(LineMin(p, zero, 4, 0.5, 1e-6, 10, &f, Quadratic), 0);
  for (double v : p) EXPECT_EQ(v, 1.0);
  Quadratic(p, 4, &f0);
  EXPECT_EQ(f, f0);
  // The step is bounded by min(stepMax, 1) along the unit direction.
  EXPECT_EQ(LineMin(p, dir, 4, 0.2, 1e-8, 50, &f, Quadratic), 0);
  EXPECT_NEAR(p[1], 0.8, 1e-6);
  EXPECT_EQ(p[0], 1.0);
}

}  // namespace
