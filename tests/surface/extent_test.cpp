// Parameter boxes of objects and of the curves on a surface, clean knot vectors, and the knots
// nearest to a parameter.
#include <algorithm>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "surface/srfutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ExtentTest : public KernelTest {};

// Outer loops narrow the box to their curves' control points, clamped to the domain; holes
// never do. Curves hold their control-point box.
TEST_F(ExtentTest, OuterLoopsNarrowTheParameterBox) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; },
                                  {.umin = 1.0, .umax = 3.0, .vmin = -1.0, .vmax = 1.0});
  double box[4];
  auto extent = [&] { GetParametricExtent(s, &box[0], &box[1], &box[2], &box[3]); };
  extent();
  EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{1, 3, -1, 1}));
  AddLoop(s, {BuildCurveOnSurface(s, 1, {1.5, -0.5, 2.5, -0.5, 2.5, 0.5})}, 1);  // a hole only
  extent();
  EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{1, 3, -1, 1}));
  // An outer loop reaching past u = 3: the box ends at the domain there.
  Bspline* a = BuildCurveOnSurface(s, 2, {1.2, -0.8, 2.0, -0.9, 3.4, -0.3});
  Bspline* b = BuildCurveOnSurface(s, 1, {3.4, -0.3, 1.7, 0.6, 1.2, -0.8});
  AddLoop(s, {a, b});
  extent();
  EXPECT_EQ(std::vector<double>(box, box + 4), (std::vector<double>{1.2, 3, -0.9, 0.6}));
  double c[4];
  GetSrfParExtentOfCrvOnSrf(a, &c[0], &c[1], &c[2], &c[3]);  // umin, vmin, umax, vmax
  EXPECT_EQ(std::vector<double>(c, c + 4), (std::vector<double>{1.2, -0.9, 3.4, -0.3}));
  // Every evaluated point of a random curve lies in its control-point box.
  Bspline* r = BuildRandomCurve(5u, 3, 8, 2, true);
  GetSrfParExtentOfCrvOnSrf(r, &c[0], &c[1], &c[2], &c[3]);
  for (int i = 0; i <= 50; ++i) {
    double p[3];
    RefEvalCurve(r, i / 50.0, p);
    EXPECT_TRUE(p[0] >= c[0] - 1e-12 && p[0] <= c[2] + 1e-12 && p[1] >= c[1] - 1e-12 && p[1] <= c[3] + 1e-12);
  }
  double u[4] = {7, 7, 7, 7};
  GetParametricExtent(r, &u[0], &u[1], &u[2], &u[3]);  // a curve: its domain, v untouched
  EXPECT_EQ(std::vector<double>(u, u + 4), (std::vector<double>{0, 1, 7, 7}));
  FreeBspline(r);
  FreeBspline(s);
}

// Clean vectors: the documented example, then random clamped vectors with repeated interior
// knots: each distinct value once inside, the ends degree + 1 times, multiplicities that add up
// to the vector's length.
TEST_F(ExtentTest, CleanKnotsCollapseRepeats) {
  const double k[11] = {0, 0, 0, 0, 1, 1, 2, 3, 3, 3, 3};
  int mult[11];
  double vals[11];
  ASSERT_EQ(GetCleanKnotsFromKnots(k, 11, 4, mult, vals, 1e-6), 10);
  EXPECT_EQ(std::vector<double>(vals, vals + 10), (std::vector<double>{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}));
  EXPECT_EQ(std::vector<int>(mult, mult + 4), (std::vector<int>{4, 2, 1, 3}));

  std::mt19937 rng(8);
  for (int trial = 0; trial < 40; ++trial) {
    const int p = 1 + trial % 4;
    std::vector<double> interior;
    std::vector<int> reps;
    for (int i = 1; i <= 1 + int(rng() % 5); ++i) {
      reps.push_back(1 + int(rng() % p));
      interior.insert(interior.end(), reps.back(), -1.0 + 0.5 * i);
    }
    Bspline* c = BuildCurve(p, 3, std::vector<double>(3 * (interior.size() + p + 1), 0.5),
                            [&] {
                              std::vector<double> kv(p + 1, -1.0);
                              kv.insert(kv.end(), interior.begin(), interior.end());
                              kv.insert(kv.end(), p + 1, 2.0);
                              return kv;
                            }());
    c->knotsU[p + reps[0]] += 1e-8;  // the end of the first run a hair off: still the same value
    int* m = nullptr;
    double* v = nullptr;
    const int n = GetCleanKnots(c, 0, &m, &v, 1e-6);
    ASSERT_EQ(n, int(reps.size()) + 2 * (p + 1)) << trial;
    for (int i = 0; i <= p; ++i) EXPECT_TRUE(v[i] == -1.0 && v[n - 1 - i] == 2.0);
    for (size_t i = 0; i < reps.size(); ++i) {
      EXPECT_NEAR(v[p + 1 + i], -0.5 + 0.5 * i, 1e-7);
      EXPECT_EQ(m[1 + i], reps[i]);
    }
    EXPECT_EQ(m[0], p + 1);
    int sum = 0;
    for (size_t i = 0; i < reps.size() + 2; ++i) sum += m[i];
    EXPECT_EQ(sum, NumKnotsU(c) - 1);  // the last end copy is not in the scan
    Free(m);
    Free(v);
    FreeBspline(c);
  }
  Bspline* c = BuildRandomCurve(2u, 3, 7);
  const int failures = RunWithInjectedFailures(8, 1, [&] {
    int* m = nullptr;
    double* v = nullptr;
    const int n = GetCleanKnots(c, 0, &m, &v, 1e-6);
    EXPECT_TRUE(n > 0 || (n == -2 && !m && !v));
    Free(m);
    Free(v);
    return n > 0 ? 0 : -2;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(c);
}

// The nearest bounding knot of a normalised parameter (the upper one on a tie), and the next
// knot towards a reference parameter.
TEST_F(ExtentTest, NearestAndNextKnots) {
  Bspline* s = BuildFunctionPatch([](double x, double) { return x; },
                                  {.nu = 7, .umin = 2.0, .umax = 6.0, .vmin = 0.0, .vmax = 1.0});
  // u knots 2, 3, 4, 5, 6 (7 control points, cubic): s = 0.375 is u = 3.5, halfway.
  EXPECT_EQ(FindNearestKnot(s, 0, 0.375), 0.5);
  EXPECT_EQ(FindNearestKnot(s, 0, 0.3), 0.25);
  EXPECT_EQ(FindNearestKnot(s, 0, 0.45), 0.5);
  EXPECT_EQ(FindNextKnot(s, 0, 0.3, 3.0), 0.5);  // reference below: the upper knot
  EXPECT_EQ(FindNextKnot(s, 0, 0.3, 4.0), 0.25);
  FreeBspline(s);
}

}  // namespace
