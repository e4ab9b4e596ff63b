// Roots of B-spline functions against a brute-force reference (dense sampling and bisection in
// the test), on functions with simple and close roots; a root on a knot, seen from two spans,
// counts once; one-signed coefficients allocate nothing; and curve/plane crossings.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "splinefit/splzero.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Roots : public KernelTest {};

// A function record: Z the coefficients, X the Greville parameters, Y zero.
Bspline* Function(int degree, const std::vector<double>& coefs, const std::vector<double>& knots = {}) {
  std::vector<double> pts;
  for (double c : coefs) pts.insert(pts.end(), {0.0, 0.0, c});
  Bspline* f = BuildCurve(degree, 3, pts, knots);
  EXPECT_EQ(FindBsplFuncInitXYCoefi(f), 0);
  return f;
}

double Value(const Bspline* f, double t) {
  double out[3];
  RefEvalCurve(f, t, out);
  return out[2];
}

// Every sign change of f between 20000 samples, bisected to round-off.
std::vector<double> BruteRoots(const Bspline* f) {
  std::vector<double> r;
  const int n = 20000;
  double a = f->umin, fa = Value(f, a);
  for (int k = 1; k <= n; ++k) {
    double b = f->umin + (f->umax - f->umin) * k / n, fb = Value(f, b);
    if (fa == 0.0) r.push_back(a);
    if (fa * fb < 0) {
      double lo = a, hi = b, flo = fa;
      for (int it = 0; it < 100; ++it) {
        const double m = 0.5 * (lo + hi), fm = Value(f, m);
        if ((fm < 0) == (flo < 0))
          lo = m, flo = fm;
        else
          hi = m;
      }
      r.push_back(0.5 * (lo + hi));
    }
    a = b, fa = fb;
  }
  return r;
}

std::vector<double> Found(Bspline* f) {
  double* roots = nullptr;
  int count = -1;
  EXPECT_EQ(FindAllBsplFuncRoots(f, &roots, &count), 0);
  std::vector<double> out(roots, roots + count);
  Free(roots);
  return out;
}

TEST_F(Roots, RandomFunctionsMatchTheBruteForceRoots) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int round = 0; round < 12; ++round) {
    const int degree = 1 + round % 4, n = 6 + round;
    std::vector<double> c(n);
    for (double& v : c) v = U(rng);
    BsplineKeeper keep;
    Bspline* f = keep(Function(degree, c, ClampedKnots(degree, n, 0.0, 1.0, KnotLayout::Random, round)));
    const auto want = BruteRoots(f), got = Found(f);
    ASSERT_EQ(got.size(), want.size()) << round;
    for (size_t k = 0; k < got.size(); ++k) {
      EXPECT_NEAR(got[k], want[k], 1e-9) << round;
      EXPECT_LT(std::fabs(Value(f, got[k])), 1e-12);
    }
  }
}

TEST_F(Roots, CloseRootsAreBothFoundAndAKnotRootOnce) {
  // (t - 0.3)(t - 0.3004)(t - 0.7) as a cubic Bezier: Bernstein coefficients from the power form.
  const double a0 = -0.3 * 0.3004 * 0.7, a1 = 0.3 * 0.3004 + 0.3 * 0.7 + 0.3004 * 0.7, a2 = -(0.3 + 0.3004 + 0.7);
  const std::vector<double> b = {a0, a0 + a1 / 3, a0 + 2 * a1 / 3 + a2 / 3, a0 + a1 + a2 + 1};
  BsplineKeeper keep;
  const auto got = Found(keep(Function(3, b)));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_NEAR(got[0], 0.3, 1e-9);
  EXPECT_NEAR(got[1], 0.3004, 1e-9);
  EXPECT_NEAR(got[2], 0.7, 1e-9);
  // Degree 1 through zero at its middle knot: both spans see it, it is reported once.
  const auto knot = Found(keep(Function(1, {-1.0, 0.0, 2.0})));
  ASSERT_EQ(knot.size(), 1u);
  EXPECT_NEAR(knot[0], 0.5, 1e-12);
  // A double root (the graph touches zero) is found too.
  const auto touch = Found(keep(Function(2, {1.0, -1.0, 1.0})));  // (1 - 2t)^2
  ASSERT_EQ(touch.size(), 1u);
  EXPECT_NEAR(touch[0], 0.5, 1e-6);
}

TEST_F(Roots, OneSignedCoefficientsHaveNoRootAndTheSignTestCountsTolAsNegative) {
  BsplineKeeper keep;
  Bspline* f = keep(Function(3, {1.0, 0.5, 2.0, 1e-6 * 1.5}));
  double* roots = reinterpret_cast<double*>(&f);  // must be cleared
  int count = 9;
  const int before = MallocTrackedCount();
  EXPECT_EQ(FindAllBsplFuncRoots(f, &roots, &count), 0);
  EXPECT_EQ(roots, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(MallocTrackedCount(), before);
  const double tol = 1e-6;
  const double v1[2] = {tol, tol}, v2[2] = {tol, 1.0}, v3[2] = {-1.0, tol}, v4[2] = {0.5 * tol, 1.0};
  EXPECT_EQ(IsAllValsSameSign(v1, 2, tol), 1);
  EXPECT_EQ(IsAllValsSameSign(v2, 2, tol), 0);
  EXPECT_EQ(IsAllValsSameSign(v3, 2, tol), 1);
  EXPECT_EQ(IsAllValsSameSign(v4, 2, tol), 0);  // too small to have a sign
  EXPECT_EQ(IsAllValsSameSign(nullptr, 2, tol), 0);
  EXPECT_EQ(IsAllValsSameSign(v1, 0, tol), 1);
  EXPECT_EQ(FindAllBsplFuncRoots(nullptr, &roots, &count), -2);
}

TEST_F(Roots, CurvesCrossPlanesWhereTheBruteForceSaysAndOneLyingInItGivesMany) {
  BsplineKeeper keep;
  // A line crossing z = 0.25 once.
  Bspline* line = keep(BuildCurve(1, 3, {0, 0, 0, 1, 2, 1}));
  double* t = nullptr;
  int n = 0;
  ASSERT_EQ(Crv3PlaneIntersect(line, 0, 0, 2, -0.5, &t, &n), 0);  // 2z - 0.5 = 0
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(t[0], 0.25, 1e-12);
  Free(t);
  // A random space curve against a tilted plane: compare with the distance function sampled.
  for (int seed = 1; seed <= 6; ++seed) {
    Bspline* c = keep(BuildRandomCurve(seed, 3, 9, 3, seed % 2 == 0));
    const double a = 0.3, b = -0.5, cc = 0.8, d = 0.05;
    ASSERT_EQ(Crv3PlaneIntersect(c, a, b, cc, d, &t, &n), 0);
    std::vector<double> want;
    double prev = 0, tp = 0;
    for (int k = 0; k <= 20000; ++k) {
      const double s = k / 20000.0;
      double P[3];
      RefEvalCurve(c, s, P);
      const double v = a * P[0] + b * P[1] + cc * P[2] + d;
      if (k > 0 && prev * v < 0) want.push_back(0.5 * (tp + s));
      prev = v, tp = s;
    }
    ASSERT_EQ(n, int(want.size())) << seed;
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(t[k], want[k], 1e-4) << seed;
      double P[3];
      RefEvalCurve(c, t[k], P);
      EXPECT_LT(std::fabs(a * P[0] + b * P[1] + cc * P[2] + d), 1e-10);
    }
    Free(t);
  }
  // A curve lying in the plane: zero everywhere, many roots at least 1e-6 apart.
  Bspline* flat = keep(BuildCurve(3, 3, {0, 0, 1, 1, 2, 1, 2, 0, 1, 3, 1, 1}));
  ASSERT_EQ(Crv3PlaneIntersect(flat, 0, 0, 1, -1, &t, &n), 0);
  EXPECT_GT(n, 4);
  for (int k = 1; k < n; ++k) EXPECT_GE(t[k] - t[k - 1], 1e-6);
  Free(t);
  EXPECT_EQ(Crv3PlaneIntersect(flat, 0, 0, 0, 1, &t, &n), -2);
}

}  // namespace
