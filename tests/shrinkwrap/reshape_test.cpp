#include <cmath>
#include <random>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/crvnet.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ReshapeTest : public KernelTest {};

struct Matrix {
  double** m;
  explicit Matrix(int n) : m(allocate_matrix_ff(n, n)) {}
  ~Matrix() { matrix_free_ff(m); }
};

TEST_F(ReshapeTest, GramMatricesMatchBruteForceIntegrals) {
  // Degree 0: the basis functions are disjoint boxes, so the Gram matrix is the diagonal of
  // the interval lengths.
  const std::vector<double> k0 = {0.0, 0.25, 0.5, 1.5, 2.0};
  Matrix g0(4);
  ASSERT_EQ(ComputeGramMatrixGQ(k0.data(), 5, 0, g0.m), 0);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(g0.m[i][j], i == j ? k0[i + 1] - k0[i] : 0.0, 1e-14);

  for (int p = 1; p <= 4; ++p) {
    const int n = p + 4;
    const std::vector<double> k = ClampedKnots(p, n, 0.0, 2.0, KnotLayout::Random, 3u + p);
    const int nk = static_cast<int>(k.size());
    for (int r = 0; r <= std::min(p, 2); ++r) {
      Matrix g(n);
      ASSERT_EQ(ComputeDiffGramMatrix(k.data(), nk, p, r, g.m), 0) << p << " " << r;
      // Composite Simpson per knot interval (the integrand is one polynomial there), basis
      // values sampled once per interval.
      std::vector<double> ref(n * n, 0.0);
      const int steps = 256;
      for (int s = 0; s + 1 < nk; ++s) {
        if (!(k[s + 1] > k[s])) continue;
        const double h = (k[s + 1] - k[s]) / steps;
        std::vector<double> v(n * (steps + 1));
        for (int m = 0; m <= steps; ++m) {
          const double t = m == steps ? std::nextafter(k[s + 1], k[s]) : k[s] + m * h;
          for (int i = 0; i < n; ++i) v[i * (steps + 1) + m] = RefBasisDeriv(k.data(), nk, i, p, r, t);
        }
        for (int i = 0; i < n; ++i)
          for (int j = 0; j < n; ++j) {
            double sum = 0.0;
            for (int m = 0; m <= steps; ++m) {
              const double f = v[i * (steps + 1) + m] * v[j * (steps + 1) + m];
              sum += f * ((m == 0 || m == steps) ? 1.0 : (m % 2 ? 4.0 : 2.0));
            }
            ref[i * n + j] += sum * h / 3.0;
          }
      }
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          double e = ref[i * n + j];
          if (std::fabs(e) < 1e-6) e = 0.0;  // the kernel drops entries below 1e-6
          EXPECT_NEAR(g.m[i][j], e, 1e-7 * (1.0 + std::fabs(e))) << p << " " << r << " " << i << " " << j;
        }
    }
  }
  Matrix g5(7);
  const std::vector<double> k5 = ClampedKnots(5, 7);
  EXPECT_EQ(ComputeGramMatrixGQ(k5.data(), 13, 5, g5.m), -2);  // degree 4 is the highest
  // The tables hold the standard rules: the 3-point rule integrates x^4 on [-1, 1] exactly.
  double s = 0.0;
  for (int g = 1; g <= 3; ++g) s += gqWeight[3][g] * std::pow(gqSample[3][g], 4);
  EXPECT_NEAR(s, 0.4, 1e-14);
}

// Points and parameters of targets: the curve's points moved off by `offset`.
struct Targets {
  std::vector<double> t;
  std::vector<double> p;  // xyz triples
  const double (*pts() const)[3] { return reinterpret_cast<const double(*)[3]>(p.data()); }
  int n() const { return static_cast<int>(t.size()); }
};

Targets OffsetTargets(const Bspline* c, const std::vector<double>& ts, double offset) {
  Targets g;
  for (double t : ts) {
    double q[3];
    RefEvalCurve(c, t, q);
    g.t.push_back(t);
    g.p.insert(g.p.end(), {q[0] + offset, q[1] - 0.5 * offset, q[2] + 2.0 * offset});
  }
  return g;
}

TEST_F(ReshapeTest, ReshapedCurvePassesThroughItsPoints) {
  for (int p : {1, 2, 3, 4}) {
    Bspline* c = BuildRandomCurve(10u + p, p, 9);
    ASSERT_NE(c, nullptr);
    const Targets g = OffsetTargets(c, {0.0, 0.23, 0.41, 0.62, 0.8, 1.0}, 0.05);
    ASSERT_EQ(ReshapeCurve3ToNpnts(c, g.pts(), g.n(), g.t.data(), 0.7, 0.3, 0.01), 0) << p;
    EXPECT_GE(c->degreeU, 2);  // a degree-1 curve is raised
    for (int k = 0; k < g.n(); ++k) {
      double q[3];
      RefEvalCurve(c, g.t[k], q);
      for (int a = 0; a < 3; ++a) EXPECT_NEAR(q[a], g.p[3 * k + a], 1e-9) << p << " " << k;
    }
    FreeBspline(c);
  }
}

// Energy of the displacement D of the reshape: w0 D'G0 D + w1 (P+D)'G1 (P+D) + w2 (P+D)'G2 (P+D).
double Energy(double** G0, double** G1, double** G2, const double w[3], int n,
              const std::vector<double>& P, const std::vector<double>& D) {
  double e = 0.0;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double pi = P[c * n + i] + D[c * n + i], pj = P[c * n + j] + D[c * n + j];
        e += w[0] * G0[i][j] * D[c * n + i] * D[c * n + j] + (w[1] * G1[i][j] + w[2] * G2[i][j]) * pi * pj;
      }
  return e;
}

TEST_F(ReshapeTest, ReshapeChangesLessThanAnyOtherAdmissibleChange) {
  Bspline* c = BuildRandomCurve(21u, 3, 10, 3, false, KnotLayout::Uniform);
  ASSERT_NE(c, nullptr);
  const Targets g = OffsetTargets(c, {0.37, 0.58}, 0.1);
  Bspline* before = CopyCurveBspline(c);
  ASSERT_EQ(DistributeReshapeCrvKnots(before, nullptr, g.t.data(), g.n()), 0);
  ASSERT_EQ(ReshapeCurve3ToNpnts(c, g.pts(), g.n(), g.t.data(), 0.7, 0.3, 0.01), 0);
  const int n = NumCtrlU(c);
  ASSERT_EQ(NumCtrlU(before), n);

  // The constraint rows and the points allowed to move, on the refined curve.
  double** C = allocate_matrix_ff(g.n(), n);
  std::vector<int> idx(n);
  int k = 0;
  for (int r = 0; r < g.n(); ++r) {
    double d[3];
    ASSERT_EQ(ComputeReshapeCrv3PointConstraint(before, 0, 0, 0, g.t[r], C[r], d), 0);
  }
  ASSERT_EQ(SelectCntrlPntChanged(C, g.n(), n, idx.data(), &k), 0);
  ASSERT_LT(k, n);
  double w[3] = {1.0 / (0.01 * 0.01), 0.0, 0.0};
  ASSERT_EQ(GetCrvThinPlateWeights(before, 0.7, 0.3, &w[1], &w[2]), 0);
  int nG = 0;
  double **G2, **G1, **G0;
  ASSERT_EQ(ComputeCurveThinPlateWTensionMatrix(before, &nG, &G2, &G1, &G0), 0);

  std::vector<double> P(3 * n), D(3 * n);
  double** pb[3] = {before->X, before->Y, before->Z};
  double** pa[3] = {c->X, c->Y, c->Z};
  for (int a = 0; a < 3; ++a)
    for (int i = 0; i < n; ++i) {
      P[a * n + i] = pb[a][0][i];
      D[a * n + i] = pa[a][0][i] - pb[a][0][i];
    }
  const double best = Energy(G0, G1, G2, w, n, P, D);

  // Admissible changes: supported on the moving points and invisible to the constraint rows
  // (the rows are made orthonormal on that support and projected out).
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < g.n(); ++r) {
    std::vector<double> v(k);
    for (int a = 0; a < k; ++a) v[a] = C[r][idx[a]];
    for (const auto& q : rows) {
      double d = 0.0;
      for (int a = 0; a < k; ++a) d += v[a] * q[a];
      for (int a = 0; a < k; ++a) v[a] -= d * q[a];
    }
    double len = 0.0;
    for (double x : v) len += x * x;
    for (double& x : v) x /= std::sqrt(len);
    rows.push_back(v);
  }
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<double> E = D;
    const double size = trial < 20 ? 1e-3 : 1e-1;
    for (int a = 0; a < 3; ++a) {
      std::vector<double> v(k);
      for (double& x : v) x = U(rng);
      for (const auto& q : rows) {
        double d = 0.0;
        for (int b = 0; b < k; ++b) d += v[b] * q[b];
        for (int b = 0; b < k; ++b) v[b] -= d * q[b];
      }
      for (int b = 0; b < k; ++b) E[a * n + idx[b]] += size * v[b];
    }
    EXPECT_GT(Energy(G0, G1, G2, w, n, P, E), best) << trial;
  }
  for (double** m : {G0, G1, G2, C}) matrix_free_ff(m);
  FreeBspline(before);
  FreeBspline(c);
}

TEST_F(ReshapeTest, TargetsAtTheEndsMoveTheEndControlPoints) {
  Bspline* c = BuildRandomCurve(31u, 3, 6);
  const double ends[6] = {1, 2, 3, -1, -2, -3};
  const double t[2] = {1.0, 0.0};
  ASSERT_EQ(ReshapeCurve3ToNpnts(c, reinterpret_cast<const double(*)[3]>(ends), 2, t, 0.7, 0.3, 0.01), 0);
  EXPECT_EQ(c->X[0][NumCtrlU(c) - 1], 1.0);
  EXPECT_EQ(c->Z[0][0], -3.0);
  FreeBspline(c);
}

TEST_F(ReshapeTest, DegreeTwoSpansWithManyParametersGetKnots) {
  // Degree 2 advanced by a zero stride in the legacy code: this must end and refine.
  Bspline* c = BuildRandomCurve(41u, 2, 6, 3, false, KnotLayout::Uniform);
  Bspline* ref = CopyCurveBspline(c);
  const double t[5] = {0.40, 0.42, 0.45, 0.47, 0.49};  // one interior span
  ASSERT_EQ(DistributeReshapeCrvKnots(c, nullptr, t, 5), 0);
  EXPECT_GT(NumCtrlU(c), NumCtrlU(ref));
  for (double s = 0.0; s <= 1.0; s += 0.05) {
    double a[3], b[3];
    RefEvalCurve(c, s, a);
    RefEvalCurve(ref, s, b);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12);  // knots only: shape kept
  }
  FreeBspline(ref);
  FreeBspline(c);
}

Bspline* Line(double x0, double y0, double z0, double x1, double y1, double z1, double bend) {
  std::vector<double> pts;
  for (int i = 0; i < 5; ++i) {
    const double s = i / 4.0;
    pts.insert(pts.end(), {x0 + s * (x1 - x0), y0 + s * (y1 - y0) + bend * s * (1 - s), z0 + s * (z1 - z0)});
  }
  return BuildCurve(3, 3, pts);
}

TEST_F(ReshapeTest, CrossingCurvesSnapToCommonPoints) {
  // Two near-crossing curves: A along x, B along y, passing 0.2 apart in z.
  Bspline* A[2] = {Line(-1, 0, 0, 1, 0.1, 0, 0.2), Line(-1, 1, 0, 1, 1.1, 0, -0.1)};
  Bspline* B[1] = {Line(0.1, -1, 0.2, -0.1, 2, 0.2, 0.3)};
  for (int mode : {0, 1, 2}) {
    Bspline **nA = nullptr, **nB = nullptr;
    ASSERT_EQ(SnapTwoCrv3Array(A, B, 2, 1, mode, 0.7, 0.3, 0.01, 1, &nA, &nB), 0) << mode;
    for (int i = 0; i < 2; ++i) {
      double ta, tb;
      ASSERT_GE(Intersect2Curve3(nA[i], nB[0], &ta, &tb), -2);
      double pa[3], pb[3];
      Eval3DPointOnCurve3Array(nA[i], ta, 0, pa);
      Eval3DPointOnCurve3Array(nB[0], tb, 0, pb);
      EXPECT_LT(VecDist3(pa, pb), 1e-7) << mode << " " << i;
    }
    // Mode 0 moves only A: B keeps its control points (its knots were normalised only when
    // made compatible, which mode 0 does not do to B).
    if (mode == 0) {
      for (int j = 0; j < NumCtrlU(B[0]); ++j) EXPECT_EQ(nB[0]->Z[0][j], B[0]->Z[0][j]);
    }
    // Mode 2 moves both halfway: the snap point lies at z = 0.1.
    if (mode == 2) {
      double ta, tb, pa[3];
      Intersect2Curve3(nA[0], nB[0], &ta, &tb);
      Eval3DPointOnCurve3Array(nA[0], ta, 0, pa);
      EXPECT_NEAR(pa[2], 0.1, 0.01);
      // Made compatible again: one knot vector per family.
      ASSERT_EQ(NumKnotsU(nA[0]), NumKnotsU(nA[1]));
      for (int k = 0; k < NumKnotsU(nA[0]); ++k) EXPECT_EQ(nA[0]->knotsU[k], nA[1]->knotsU[k]);
    }
    FreeBsplineArray(nA, 2);
    FreeBsplineArray(nB, 1);
  }
  for (int j = 0; j < 5; ++j) EXPECT_EQ(B[0]->Z[0][j], 0.2);  // inputs never change
  Bspline **nA = nullptr, **nB = nullptr;
  EXPECT_EQ(SnapTwoCrv3Array(A, B, 2, 1, 3, 0.7, 0.3, 0.01, 0, &nA, &nB), -2);
  EXPECT_EQ(nA, nullptr);

  const int failures = RunWithInjectedFailures(4000, 37, [&] {
    Bspline **a = nullptr, **b = nullptr;
    const int r = SnapTwoCrv3Array(A, B, 2, 1, 2, 0.7, 0.3, 0.01, 1, &a, &b);
    if (r == 0) {
      FreeBsplineArray(a, 2);
      FreeBsplineArray(b, 1);
    } else {
      EXPECT_EQ(a, nullptr);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* x : {A[0], A[1], B[0]}) FreeBspline(x);
}

TEST_F(ReshapeTest, InjectedFailuresLeaveNoLeak) {
  Bspline* c = BuildRandomCurve(51u, 3, 8);
  const Targets g = OffsetTargets(c, {0.3, 0.5, 0.7}, 0.05);
  const int failures = RunWithInjectedFailures(3000, 23, [&] {
    Bspline* copy = CopyCurveBspline(c);
    if (!copy) return -2;
    const int r = ReshapeCurve3ToNpnts(copy, g.pts(), g.n(), g.t.data(), 0.7, 0.3, 0.01);
    FreeBspline(copy);
    return r;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(c);
}

}  // namespace
