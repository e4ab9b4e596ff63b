#include "foundation/lsrchopt.h"

#include <cmath>

#include "tests/support/kernel_fixture.h"

namespace {

class ConjugateGradients : public KernelTest {};

// An anisotropic quadratic with its minimum at (1, -2, 0.5, 3).
const double kTarget[4] = {1, -2, 0.5, 3};
const double kWeight[4] = {1, 4, 0.5, 2};

int Quadratic(const double* x, int n, double* value) {
  double f = 0;
  for (int i = 0; i < n; ++i) f += kWeight[i] * (x[i] - kTarget[i]) * (x[i] - kTarget[i]);
  *value = f;
  return 0;
}

int QuadraticGrad(const double* x, int n, double* g) {
  for (int i = 0; i < n; ++i) g[i] = 2 * kWeight[i] * (x[i] - kTarget[i]);
  return 0;
}

int Rosenbrock(const double* x, int, double* value) {
  *value = 100 * std::pow(x[1] - x[0] * x[0], 2) + std::pow(1 - x[0], 2);
  return 0;
}

int RosenbrockGrad(const double* x, int, double* g) {
  g[0] = -400 * x[0] * (x[1] - x[0] * x[0]) - 2 * (1 - x[0]);
  g[1] = 200 * (x[1] - x[0] * x[0]);
  return 0;
}

int VetoAll(const double*, int) { return 1; }

int gradCalls = 0;
int QuadraticGradFailsLater(const double* x, int n, double* g) {
  if (++gradCalls > 2) {
    for (int i = 0; i < n; ++i) g[i] = NAN;  // garbage the minimiser must not use
    return -2;
  }
  return QuadraticGrad(x, n, g);
}

TEST_F(ConjugateGradients, ConvergesOnAQuadratic) {
  double p[4] = {0, 0, 0, 0};
  int iters = 0;
  double fret = -1;
  EXPECT_EQ(FrprMin(p, 4, 1e-12, 200, 10.0, &iters, &fret, Quadratic, QuadraticGrad, nullptr), 0);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(p[i], kTarget[i], 1e-3);
  EXPECT_LT(fret, 1e-6);
  EXPECT_GT(iters, 0);
}

TEST_F(ConjugateGradients, ConvergesOnRosenbrock) {
  double p[2] = {-1.2, 1.0};
  int iters = 0;
  double fret = -1;
  EXPECT_EQ(FrprMin(p, 2, 1e-14, 2000, 10.0, &iters, &fret, Rosenbrock, RosenbrockGrad, nullptr), 0);
  EXPECT_NEAR(p[0], 1.0, 1e-3);
  EXPECT_NEAR(p[1], 1.0, 1e-3);
  double check = 0;
  Rosenbrock(p, 2, &check);
  EXPECT_DOUBLE_EQ(check, fret);
}

TEST_F(ConjugateGradients, AVetoingCheckStopsWithFailureAtTheStart) {
  double p[4] = {0, 0, 0, 0};
  int iters = 0;
  double fret = -1;
  EXPECT_EQ(FrprMin(p, 4, 1e-12, 200, 1.0, &iters, &fret, Quadratic, QuadraticGrad, VetoAll), -2);
  for (double v : p) EXPECT_EQ(v, 0.0);
  double f0 = 0;
  Quadratic(p, 4, &f0);
  EXPECT_EQ(fret, f0);  // the value belongs to the returned point
}

TEST_F(ConjugateGradients, AFailingGradientKeepsTheLastGoodPoint) {
  gradCalls = 0;
  double p[4] = {0, 0, 0, 0};
  int iters = 0;
  double fret = -1;
  EXPECT_EQ(FrprMin(p, 4, 0, 200, 10.0, &iters, &fret, Quadratic, QuadraticGradFailsLater, nullptr),
            0);
  for (double v : p) EXPECT_TRUE(std::isfinite(v));
  double f = 0;
  Quadratic(p, 4, &f);
  EXPECT_EQ(f, fret);
  EXPECT_LE(iters, 2);
}

TEST_F(ConjugateGradients, NoMemoryFailsWithoutTouchingThePoint) {
  double p[2] = {-1.2, 1.0};
  int iters = 0;
  double fret = 0;
  MallocFailAfter(0, -1);
  EXPECT_EQ(FrprMin(p, 2, 1e-10, 10, 1.0, &iters, &fret, Rosenbrock, RosenbrockGrad, nullptr), -2);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(p[0], -1.2);
  EXPECT_EQ(p[1], 1.0);
}

double parabolaShift = 0.3;
double Parabola(double t) { return (t - parabolaShift) * (t - parabolaShift) + 2; }

TEST_F(ConjugateGradients, BrentAndLineSearchBehave) {
  double t = -1;
  EXPECT_NEAR(DminBrent(0, 1, Parabola, 1e-10, 100, &t), 2.0, 1e-12);
  EXPECT_NEAR(t, 0.3, 1e-6);
  parabolaShift = 5;  // minimum outside: the bracket end nearest to it
  DminBrent(0, 1, Parabola, 1e-10, 100, &t);
  EXPECT_NEAR(t, 1.0, 1e-5);
  parabolaShift = 0.3;
  EXPECT_EQ(DminBrent(2, 1, Parabola, 0, 100, &t), Parabola(1));  // reversed bracket
  EXPECT_EQ(t, 1);

  // Zero direction: no move (no division by a zero norm).
  double p[4] = {1, 1, 1, 1};
  const double zero[4] = {0, 0, 0, 0};
  double f = -1;
  EXPECT_EQ(LineMin(p, zero, 4, 0.5, 1e-6, 10, &f, Quadratic), 0);
  for (double v : p) EXPECT_EQ(v, 1.0);
  double f0 = 0;
  Quadratic(p, 4, &f0);
  EXPECT_EQ(f, f0);
  // The step is bounded by min(stepMax, 1) along the unit direction.
  const double dir[4] = {0, -50, 0, 0};
  EXPECT_EQ(LineMin(p, dir, 4, 0.2, 1e-8, 50, &f, Quadratic), 0);
  EXPECT_NEAR(p[1], 0.8, 1e-6);
  EXPECT_EQ(p[0], 1.0);
}

}  // namespace
