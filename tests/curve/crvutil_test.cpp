// Knot-array routines and the closest approach of two curves, against brute force.
#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveUtilTest : public KernelTest {};

// Random pairs of clamped vectors over one range: C holds every value exactly as many times as
// B has it beyond A, so A and C together contain B; a knot of B a hair off A's counts as A's.
// Their union keeps the larger multiplicity of every value.
TEST_F(CurveUtilTest, MissingAndUnitedKnotsFollowTheMultiplicities) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const int p = 1 + trial % 3;
    const double off = trial % 5 == 0 ? 1e-7 : 0.0;
    std::map<double, int> mA, mB;
    for (int i = 1; i < 8; ++i) {
      mA[2.0 + 3.0 * i / 8.0] = int(rng() % (p + 1));
      mB[2.0 + 3.0 * i / 8.0 + off] = int(rng() % (p + 1));
    }
    auto build = [p](const std::map<double, int>& m) {
      std::vector<double> k(p + 1, 2.0);
      for (auto [v, c] : m) k.insert(k.end(), c, v);
      k.insert(k.end(), p + 1, 5.0);
      return k;
    };
    std::vector<double> A = build(mA), expected;
    const std::vector<double> B = build(mB);
    auto a = mA.begin();
    for (auto [v, c] : mB) expected.insert(expected.end(), std::max(0, c - (a++)->second), v);
    for (bool change : {false, true}) {
      double* C = nullptr;
      int nC = -7;
      const int r = change ? PutInCKnotsOfBNotInA_changeA(A.data(), int(A.size()), B.data(), int(B.size()), &C, &nC)
                           : PutInCKnotsOfBNotInA(A.data(), int(A.size()), B.data(), int(B.size()), &C, &nC);
      EXPECT_EQ(r, nC);
      EXPECT_EQ(std::vector<double>(C, C + (C ? nC : 0)), expected) << "trial " << trial;
      Free(C);
    }
    // With changeA, A's knots that match one of B's took B's exact value.
    for (auto [v, c] : mA) EXPECT_EQ(std::count(A.begin(), A.end(), v + off), off == 0 || mB[v + off] ? c : 0) << v;
    if (off == 0) {  // the union keeps every value's larger multiplicity
      double* C = nullptr;
      int n = 0;
      for (auto& [v, c] : mA) c = std::max(c, mB[v]);
      UnionKnotArrays(A.data(), int(A.size()), B.data(), int(B.size()), &C, &n);
      EXPECT_EQ(std::vector<double>(C, C + n), build(mA)) << "trial " << trial;
      Free(C);
    }
  }
}

// Random gently bent cubics on [0, 2], one along x and one along y, against the best pair of a
// 400 x 400 sampling.
TEST_F(CurveUtilTest, FindsTheClosestApproachFoundByDenseSampling) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(-0.3, 0.3);
  const int m = 400;
  for (int trial = 0; trial < 12; ++trial) {
    Bspline* c[2];
    std::vector<double> samples[2];
    for (int k = 0; k < 2; ++k) {
      const double p[3] = {k ? U(rng) : -1, k ? -1 : U(rng), U(rng)};
      const double q[3] = {k ? U(rng) : 1, k ? 1 : U(rng), 0.2 * k + U(rng)};
      const double side[3] = {double(k), 1.0 - k, 0.3 - 0.5 * k}, bend = U(rng);
      std::vector<double> pts;
      for (int i = 0; i < 6; ++i)
        for (int a = 0; a < 3; ++a)
          pts.push_back(p[a] + i / 5.0 * (q[a] - p[a]) + bend * 4 * i / 5.0 * (1 - i / 5.0) * side[a]);
      c[k] = BuildCurve(3, 3, pts, ClampedKnots(3, 6, 0.0, 2.0));
      samples[k].resize(3 * (m + 1));
      for (int i = 0; i <= m; ++i) RefEvalCurve(c[k], 2.0 * i / m, &samples[k][3 * i]);
    }
    double best = 1e30, ba = 0, bb = 0, t1 = -1, t2 = -1, pa[3], pb[3];
    for (int i = 0; i <= m; ++i)
      for (int j = 0; j <= m; ++j) {
        const double d = VecDist3(&samples[0][3 * i], &samples[1][3 * j]);
        if (d < best) best = d, ba = 2.0 * i / m, bb = 2.0 * j / m;
      }
    ASSERT_GE(Intersect2Curve3(c[0], c[1], &t1, &t2), -2);
    RefEvalCurve(c[0], t1, pa);
    RefEvalCurve(c[1], t2, pb);
    EXPECT_LE(VecDist3(pa, pb), best + 1e-9) << trial;
    EXPECT_NEAR(t1, ba, 0.02) << trial;
    EXPECT_NEAR(t2, bb, 0.02) << trial;
    for (Bspline* b : c) FreeBspline(b);
  }
}

}  // namespace
