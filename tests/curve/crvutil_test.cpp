// Knot-array routines and the closest approach of two curves, against brute force.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "curve/crvclpt.h"
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

// Vectors too short or without range have no end runs to read: count 0 and no array, never
// a read past either array (the sanitizers watch the exact-size copies).
TEST_F(CurveUtilTest, MalformedVectorsGiveNoKnots) {
  const std::vector<double> good = {0, 0, 0.5, 1, 1};
  const std::vector<std::vector<double>> bad = {{}, {0.5}, {1, 1, 1}, {2, 2, 1, 1}};
  for (const auto& a : bad) {
    for (const auto& b : {good, std::vector<double>{}}) {
      for (bool change : {false, true}) {
        std::vector<double> A = a;
        const double* B = b.empty() ? nullptr : b.data();
        double* C = reinterpret_cast<double*>(&A);  // anything but null, to see it cleared
        int nC = -7;
        const int r = change ? PutInCKnotsOfBNotInA_changeA(A.data(), int(A.size()), B, int(b.size()), &C, &nC)
                             : PutInCKnotsOfBNotInA(A.data(), int(A.size()), B, int(b.size()), &C, &nC);
        EXPECT_EQ(r, 0);
        EXPECT_EQ(nC, 0);
        EXPECT_EQ(C, nullptr);
        EXPECT_EQ(A, a);
      }
    }
  }
  // A good A against an empty B is no vector either.
  double* C = nullptr;
  int nC = -7;
  EXPECT_EQ(PutInCKnotsOfBNotInA(good.data(), 5, good.data(), 0, &C, &nC), 0);
  EXPECT_TRUE(C == nullptr && nC == 0);
  EXPECT_FALSE(KernelFailedNow());
}

// Inside the domain the surface point itself; outside, the point reflection 2E - M through the
// edge point E of the mirrored point M, so a parameter beyond the edge continues the surface
// to first order. A flat patch parametrised uniformly has range / length as its factor.
TEST_F(CurveUtilTest, ControlPointsOffTheDomainReflectThroughTheEdge) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(2 * x) + x * y * y; },
                                  {.nu = 7, .umin = 1.0, .umax = 3.0, .vmin = -1.0, .vmax = 0.5,
                                   .layout = KnotLayout::Random, .rational = true});
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (int trial = 0; trial < 60; ++trial) {
    const double u = 1.0 + 2.0 * (1.6 * U(rng) - 0.3), v = -1.0 + 1.5 * (1.6 * U(rng) - 0.3);
    double p[3], e[3], m[3];
    FindBsplOnSurf3dControlPoint(s, u, v, &p[0], &p[1], &p[2]);
    const double uc = std::clamp(u, 1.0, 3.0), vc = std::clamp(v, -1.0, 0.5);
    const double um = std::clamp(2 * uc - u, 1.0, 3.0), vm = std::clamp(2 * vc - v, -1.0, 0.5);
    RefEvalSurface(s, uc, vc, e);
    RefEvalSurface(s, um, vm, m);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], 2 * e[k] - m[k], 1e-11 * RefScale(s)) << u << " " << v;
  }
  FreeBspline(s);

  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; },
                                     {.x0 = 0.0, .x1 = 4.0, .y0 = 0.0, .y1 = 0.5, .umin = 0.0, .umax = 2.0,
                                      .vmin = 1.0, .vmax = 2.0});
  EXPECT_NEAR(GetUVFactor(flat, 0), 2.0 / 4.0, 1e-12);
  EXPECT_NEAR(GetUVFactor(flat, 1), 1.0 / 0.5, 1e-12);
  for (int i = 0; i < NumCtrlU(flat); ++i) flat->X[0][i] = flat->Y[0][i] = 0.0;  // first row collapsed
  // The collapsed row's factor is that of a row 1e-6 of the diagonal long (the box 4 x 0.5).
  EXPECT_NEAR(GetUVFactor(flat, 0), 2.0 / (1e-6 * std::hypot(4.0, 0.5)), 1e-3);
  FreeBspline(flat);
}

// The factor is the range over the row's length at every size and wherever the surface lies.
TEST_F(CurveUtilTest, UVFactorIsAlikeAtEverySizeAndPlace) {
  for (double size : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1.0}) {
      const double x = 1e4 * far * size, y = -6e3 * far * size, z = 3.5e3 * far * size;
      Bspline* s = BuildFunctionPatch([z](double, double) { return z; },
                                      {.x0 = x, .x1 = x + 0.8 * size, .y0 = y, .y1 = y + 0.3 * size, .umin = 0.0,
                                       .umax = 2.0, .vmin = 1.0, .vmax = 2.0});
      EXPECT_NEAR(GetUVFactor(s, 0) * size, 2.0 / 0.8, 1e-9) << size << " " << far;
      EXPECT_NEAR(GetUVFactor(s, 1) * size, 1.0 / 0.3, 1e-9) << size << " " << far;
      FreeBspline(s);
    }
}

// The edit point of a control point is its Greville abscissa: control points placed there
// reproduce the parameter (linear precision), for every order.
TEST_F(CurveUtilTest, EditPointsAreTheGrevilleAbscissae) {
  for (int p = 1; p <= 4; ++p) {
    const int n = p + 4;
    const std::vector<double> k = ClampedKnots(p, n, 0.0, 2.0, KnotLayout::Random, 3 + p);
    std::vector<double> pts;
    for (int i = 0; i < n; ++i) pts.insert(pts.end(), {GetEditPoint(k.data(), p + 1, i), 0.0, 0.0});
    EXPECT_EQ(pts[0], 0.0);
    EXPECT_EQ(pts[3 * (n - 1)], 2.0);
    Bspline* c = BuildCurve(p, 3, pts, k);
    for (double t : {0.0, 0.3, 1.1, 2.0}) {
      double q[3];
      RefEvalCurve(c, t, q);
      EXPECT_NEAR(q[0], t, 1e-14) << p;
    }
    FreeBspline(c);
  }
}

}  // namespace
