#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "curve/crvoffst.h"
#include "curve/crvutil.h"
#include "foundation/vec3.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveIntersectTest : public KernelTest {};

// A gently bent cubic from p to q, bulging by `bend` along `side`.
Bspline* Bent(const double p[3], const double q[3], const double side[3], double bend) {
  std::vector<double> pts;
  for (int i = 0; i < 6; ++i) {
    const double s = i / 5.0;
    for (int c = 0; c < 3; ++c) pts.push_back(p[c] + s * (q[c] - p[c]) + bend * 4 * s * (1 - s) * side[c]);
  }
  return BuildCurve(3, 3, pts, ClampedKnots(3, 6, 0.0, 2.0));
}

TEST_F(CurveIntersectTest, FindsTheClosestApproachFoundByDenseSampling) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(-0.3, 0.3);
  for (int trial = 0; trial < 12; ++trial) {
    const double p0[3] = {-1, U(rng), U(rng)}, q0[3] = {1, U(rng), U(rng)};
    const double p1[3] = {U(rng), -1, U(rng)}, q1[3] = {U(rng), 1, 0.2 + U(rng)};
    const double s0[3] = {0, 1, 0.3}, s1[3] = {1, 0, -0.2};
    Bspline* a = Bent(p0, q0, s0, U(rng));
    Bspline* b = Bent(p1, q1, s1, U(rng));
    double t1 = -1, t2 = -1;
    ASSERT_GE(Intersect2Curve3(a, b, &t1, &t2), -2);
    double pa[3], pb[3];
    RefEvalCurve(a, t1, pa);
    RefEvalCurve(b, t2, pb);
    const double found = VecDist3(pa, pb);
    // Dense sampling, then a local polish on a fine grid around the best pair.
    double best = 1e30, ba = 0, bb = 0;
    const int m = 400;
    std::vector<double> A(3 * (m + 1)), B(3 * (m + 1));
    for (int i = 0; i <= m; ++i) {
      RefEvalCurve(a, 2.0 * i / m, &A[3 * i]);
      RefEvalCurve(b, 2.0 * i / m, &B[3 * i]);
    }
    for (int i = 0; i <= m; ++i)
      for (int j = 0; j <= m; ++j) {
        const double d = VecDist3(&A[3 * i], &B[3 * j]);
        if (d < best) {
          best = d;
          ba = 2.0 * i / m;
          bb = 2.0 * j / m;
        }
      }
    EXPECT_LE(found, best + 1e-9) << trial;
    EXPECT_NEAR(t1, ba, 0.02) << trial;
    EXPECT_NEAR(t2, bb, 0.02) << trial;
    FreeBspline(a);
    FreeBspline(b);
  }
}

TEST_F(CurveIntersectTest, KnotArrayUnionKeepsTheLargerMultiplicity) {
  const double A[4] = {0, 0, 1, 1}, B[3] = {0, 0.5, 1};
  double* C = nullptr;
  int n = 0;
  UnionKnotArrays(A, 4, B, 3, &C, &n);
  ASSERT_EQ(n, 5);
  const double want[5] = {0, 0, 0.5, 1, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(C[i], want[i]);
  Free(C);

  // A knot of B a hair off A's: counted as A's, and A takes B's exact value.
  double A2[9] = {0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  const double B2[9] = {0, 0, 0, 0, 0.5 + 1e-7, 1, 1, 1, 1};
  ASSERT_EQ(PutInCKnotsOfBNotInA_changeA(A2, 9, B2, 9, &C, &n), 0);
  EXPECT_EQ(A2[4], 0.5 + 1e-7);
  Free(C);
}

TEST_F(CurveIntersectTest, PlanarityAndCentroidOfControlPoints) {
  // Control points on a tilted plane: planar for any tolerance >= 0, axis 2 its normal.
  std::vector<double> pts;
  const double n[3] = {1 / std::sqrt(3.0), 1 / std::sqrt(3.0), 1 / std::sqrt(3.0)};
  for (int i = 0; i < 7; ++i) {
    const double u = i - 3.0, v = std::sin(i);
    // u (1, -1, 0)/sqrt2 + v (1, 1, -2)/sqrt6 + 2 n
    pts.insert(pts.end(), {u / std::sqrt(2.0) + v / std::sqrt(6.0) + 2 * n[0],
                           -u / std::sqrt(2.0) + v / std::sqrt(6.0) + 2 * n[1], -2 * v / std::sqrt(6.0) + 2 * n[2]});
  }
  Bspline* c = BuildCurve(3, 3, pts);
  double a0[3], a1[3], a2[3];
  EXPECT_EQ(IsPlanarCurve3(c, 1e-9, a0, a1, a2), 1);
  EXPECT_NEAR(std::fabs(VecDotProd3(a2, n)), 1.0, 1e-6);
  double cr[3];
  VecCrossProd3(a0, a1, cr);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(cr[k], a2[k], 1e-6);  // right-handed
  double centre[3];
  ASSERT_EQ(ComputeCrvBsplineCentroid(c, centre), 0);
  double sx = 0;
  for (int i = 0; i < 7; ++i) sx += pts[3 * i];
  EXPECT_NEAR(centre[0], sx / 7, 1e-12);
  c->Z[0][3] += 1.0;  // lift one point off the plane
  EXPECT_EQ(IsPlanarCurve3(c, 1e-3, a0, a1, a2), 0);
  FreeBspline(c);
  EXPECT_EQ(ComputeCrvBsplineCentroid(nullptr, centre), -2);
}

}  // namespace
