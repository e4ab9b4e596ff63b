// Thin-plate reshaping of curves through points, the Gram matrices behind it, and the snapping
// of crossing curve families.
#include <cmath>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "shrinkwrap/crvnet.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/gridintp.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class ReshapeTest : public KernelTest {};

// Entries of the Gram matrix of the r-th derivatives against the integral by five-point
// Gauss-Legendre on each knot interval, exact for these polynomials (the kernel drops entries
// below 1e-6); degree 0 gives the diagonal of the interval lengths. The derivative's
// coefficients in the degree p - r basis of the same knots sum to the textbook derivative, for a
// whole spline and for one basis function.
TEST_F(ReshapeTest, GramMatricesMatchTheirIntegrals) {
  const double gx[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831, 0.9061798459386640};
  const double gw[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889, 0.4786286704993665,
                        0.2369268850561891};
  for (int p = 0; p <= 4; ++p) {
    const int n = p + 4;
    const std::vector<double> k = p ? ClampedKnots(p, n, 0.0, 2.0, KnotLayout::Random, 3u + p)
                                    : std::vector<double>{0.0, 0.25, 0.5, 1.5, 2.0};
    const int nk = static_cast<int>(k.size());
    for (int r = 0; r <= std::min(p, 2); ++r) {
      double** g = allocate_matrix_ff(n, n);
      ASSERT_EQ(ComputeDiffGramMatrix(k.data(), nk, p, r, g), 0) << p << " " << r;
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          double e = 0.0;
          for (int s = 0; s + 1 < nk; ++s)
            for (int q = 0; q < 5 && k[s + 1] > k[s]; ++q) {
              const double h = 0.5 * (k[s + 1] - k[s]), t = k[s] + h * (1.0 + gx[q]);
              e += h * gw[q] * RefBasisDeriv(k.data(), nk, i, p, r, t) * RefBasisDeriv(k.data(), nk, j, p, r, t);
            }
          EXPECT_NEAR(g[i][j], std::fabs(e) < 1e-6 ? 0.0 : e, 1e-10 * (1.0 + std::fabs(e))) << p << " " << r << " " << i << " " << j;
        }
      matrix_free_ff(g);
      std::vector<double> c(n), d(nk), one(r + 1);
      for (int i = 0; i < n; ++i) c[i] = std::sin(1.0 + i);
      ASSERT_EQ(NSplineDerivative(k.data(), nk, p, r, c.data(), d.data()), 0);
      ASSERT_EQ(SingleSplineDerivative(k.data(), nk, 1, p, r, one.data()), 0);
      for (double t : {0.1, 0.9, 1.7}) {
        double ref = 0.0, got = 0.0, single = 0.0;
        for (int i = 0; i < n; ++i) ref += c[i] * RefBasisDeriv(k.data(), nk, i, p, r, t);
        for (int i = 0; i < n + r; ++i) got += d[i] * RefBasis(k.data(), nk, i, p - r, t);
        for (int j = 0; j <= r; ++j) single += one[j] * RefBasis(k.data(), nk, 1 + j, p - r, t);
        EXPECT_NEAR(got, ref, 1e-9 * (1.0 + std::fabs(ref))) << p << " " << r << " " << t;
        EXPECT_NEAR(single, RefBasisDeriv(k.data(), nk, 1, p, r, t), 1e-9) << p << " " << r << " " << t;
      }
    }
    double dummy[8];
    EXPECT_EQ(NSplineDerivative(k.data(), nk, p, p + 1, dummy, dummy), -2);
  }
  double** g5 = allocate_matrix_ff(7, 7);
  EXPECT_EQ(ComputeGramMatrixGQ(ClampedKnots(5, 7).data(), 13, 5, g5), -2);  // degree 4 is the highest
  matrix_free_ff(g5);
}

// The recursive basis counts a knot interval within 1e-6 of the domain as empty, and the dense
// Gram matrix integrates that basis: on knots with such an interval it equals a quadrature of
// NubValRecursive itself (the rules read from the tables the Gram computation fills), and
// away from it the recursion is the shared basis.
TEST_F(ReshapeTest, GramMatrixIntegratesTheRecursiveBasis) {
  for (int p = 1; p <= 4; ++p) {
    std::vector<double> k = ClampedKnots(p, p + 5, 0.0, 2.0, KnotLayout::Random, 7u + p);
    k.insert(k.begin() + p + 3, k[p + 2] + 1e-9);  // an interval of 1e-9 after knot p + 2
    const int nk = static_cast<int>(k.size()), n = nk - p - 1, order = p + 1;
    const double tol = (k[n] - k[p]) * 1e-6;
    double** g = allocate_matrix_ff(n, n);
    ASSERT_EQ(ComputeGramMatrixGQ(k.data(), nk, p, g), 0) << p;
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double e = 0.0;
        for (int s = 0; s + 1 < nk; ++s)
          for (int q = 1; q <= order && k[s + 1] > k[s]; ++q) {
            const double h = 0.5 * (k[s + 1] - k[s]), t = k[s] + h * (1.0 + gqSample[order][q]);
            e += h * gqWeight[order][q] * NubValRecursive(k.data(), i, order, t, tol) *
                 NubValRecursive(k.data(), j, order, t, tol);
          }
        EXPECT_NEAR(g[i][j], e, 1e-14) << p << " " << i << " " << j;
      }
    for (double t : {0.1, 0.7, 1.3, 1.9})
      for (int i = 0; i < n; ++i)
        EXPECT_NEAR(NubValRecursive(k.data(), i, order, t, tol), RefBasis(k.data(), nk, i, p, t), 1e-14);
    matrix_free_ff(g);
  }
}

// The curve's points at ts moved off by `offset`, and the matching parameters.
std::vector<double> OffsetTargets(const Bspline* c, const std::vector<double>& ts, double offset) {
  std::vector<double> pts;
  for (double t : ts) {
    double q[3];
    RefEvalCurve(c, t, q);
    pts.insert(pts.end(), {q[0] + offset, q[1] - 0.5 * offset, q[2] + 2.0 * offset});
  }
  return pts;
}

int Reshape(Bspline* c, const std::vector<double>& pts, const std::vector<double>& ts) {
  return ReshapeCurve3ToNpnts(c, reinterpret_cast<const double(*)[3]>(pts.data()), int(ts.size()), ts.data(),
                              0.7, 0.3, 0.01);
}

// The recursive basis and the collocation rows are partitions of unity inside the domain, and
// refuse indices, orders and counts that reach outside the knots (error state -2, 0 or nothing
// written).
TEST_F(ReshapeTest, BasisAndCollocationRowsRefuseIndicesOutsideTheKnots) {
  const double knots[10] = {0, 0, 0, 0.2, 0.5, 0.55, 0.9, 1, 1, 1};  // 7 quadratic functions
  for (double t : {0.0, 0.1, 0.5, 0.7, 0.999}) {
    double sum = 0.0;
    for (int i = 0; i < 7; ++i) sum += NubValRecursive(knots, i, 3, t, 1e-9);
    EXPECT_NEAR(sum, 1.0, 1e-15) << t;
  }
  ASSERT_FALSE(KernelFailedNow());
  for (auto [i, order] : {std::pair{-1, 3}, {0, 0}, {0, kMaxSplineDegree + 2}}) {
    EXPECT_EQ(NubValRecursive(knots, i, order, 0.5, 1e-9), 0.0);
    EXPECT_TRUE(KernelFailedNow()) << i << " " << order;
    ClearKernelError();
  }
  // Points 0..6 at increasing parameters on the same knots; the band is 3 wide.
  const double params[7] = {0, 0.1, 0.3, 0.5, 0.7, 0.95, 1};
  Owned<double*, matrix_free_ff> A(allocate_matrix_ff(7, 3));
  int idx[7] = {};
  for (int r = 0; r < 7; ++r)
    for (int k = 0; k < 3; ++k) A[r][k] = -7.0;
  CollocationRowsAtParams(knots, params, 1, A.get(), idx, 3, 2);  // two points for a quadratic
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  CollocationRowsAtParams(knots, params, 6, A.get(), idx, 2, 2);  // rows too narrow
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  EXPECT_EQ(A[1][0], -7.0);
  CollocationRowsAtParams(knots, params, 6, A.get(), idx, 3, 2);
  ASSERT_FALSE(KernelFailedNow());
  for (int r = 0; r < 7; ++r) EXPECT_NEAR(A[r][0] + A[r][1] + A[r][2], 1.0, 1e-15) << r;
}

TEST_F(ReshapeTest, ReshapedCurvePassesThroughItsPoints) {
  for (int p : {1, 2, 3, 4}) {
    Bspline* c = BuildRandomCurve(10u + p, p, 9);
    const std::vector<double> ts = {1.0, 0.23, 0.41, 0.62, 0.8, 0.0}, pts = OffsetTargets(c, ts, 0.05);
    ASSERT_EQ(Reshape(c, pts, ts), 0) << p;
    EXPECT_GE(c->degreeU, 2);  // a degree-1 curve is raised
    for (size_t k = 0; k < ts.size(); ++k) {
      double q[3];
      RefEvalCurve(c, ts[k], q);
      for (int a = 0; a < 3; ++a) EXPECT_NEAR(q[a], pts[3 * k + a], 1e-9) << p << " " << k;
    }
    EXPECT_TRUE(c->X[0][NumCtrlU(c) - 1] == pts[0] && c->Z[0][0] == pts[17]);  // ends exactly
    // Handed to another (rational, shorter) record, the reshaped shape comes along whole.
    Bspline* d = BuildRandomCurve(5u, 2, 4, 3, true);
    ASSERT_EQ(UpdateCurveBsplineCntrlPts(d, c), 0);
    EXPECT_EQ(ShapeDiff(c, d), 0.0) << p;
    EXPECT_EQ(d->rational, 0);
    FreeBspline(d);
    FreeBspline(c);
  }
}

// Energy of the displacement D of the reshape: w0 D'G0 D + w1 (P+D)'G1 (P+D) + w2 (P+D)'G2 (P+D).
double Energy(double** G[3], const double w[3], int n, const std::vector<double>& P, const std::vector<double>& D) {
  double e = 0.0;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double pi = P[c * n + i] + D[c * n + i], pj = P[c * n + j] + D[c * n + j];
        e += w[0] * G[0][i][j] * D[c * n + i] * D[c * n + j] + (w[1] * G[1][i][j] + w[2] * G[2][i][j]) * pi * pj;
      }
  return e;
}

// Random admissible changes (on the points allowed to move, invisible to the constraint rows)
// added to the reshape's change all cost more energy.
TEST_F(ReshapeTest, ReshapeChangesLessThanAnyOtherAdmissibleChange) {
  Bspline* c = BuildRandomCurve(21u, 3, 10, 3, false, KnotLayout::Uniform);
  const std::vector<double> ts = {0.37, 0.58}, pts = OffsetTargets(c, ts, 0.1);
  Bspline* before = CopyCurveBspline(c);
  ASSERT_EQ(DistributeReshapeCrvKnots(before, nullptr, ts.data(), 2), 0);
  ASSERT_EQ(Reshape(c, pts, ts), 0);
  const int n = NumCtrlU(c);
  ASSERT_EQ(NumCtrlU(before), n);
  // The constraint rows and the points allowed to move, on the refined curve.
  double** C = allocate_matrix_ff(2, n);
  std::vector<int> idx(n);
  int k = 0;
  for (int r = 0; r < 2; ++r) {
    double d[3];
    ASSERT_EQ(ComputeReshapeCrv3PointConstraint(before, 0, 0, 0, ts[r], C[r], d), 0);
  }
  ASSERT_EQ(SelectCntrlPntChanged(C, 2, n, idx.data(), &k), 0);
  ASSERT_LT(k, n);
  double w[3] = {1.0 / (0.01 * 0.01), 0.0, 0.0};
  ASSERT_EQ(GetCrvThinPlateWeights(before, 0.7, 0.3, &w[1], &w[2]), 0);
  int nG = 0;
  double** G[3];
  ASSERT_EQ(ComputeCurveThinPlateWTensionMatrix(before, &nG, &G[2], &G[1], &G[0]), 0);
  std::vector<double> P(3 * n), D(3 * n);
  for (int a = 0; a < 3; ++a)
    for (int i = 0; i < n; ++i) {
      P[a * n + i] = (a == 0 ? before->X : a == 1 ? before->Y : before->Z)[0][i];
      D[a * n + i] = (a == 0 ? c->X : a == 1 ? c->Y : c->Z)[0][i] - P[a * n + i];
    }
  const double best = Energy(G, w, n, P, D);
  // The rows made orthonormal on the moving points (Gram-Schmidt), to project them out.
  auto projectOut = [&](std::vector<double>& v, const std::vector<std::vector<double>>& rows) {
    for (const auto& q : rows) {
      double d = 0.0;
      for (int b = 0; b < k; ++b) d += v[b] * q[b];
      for (int b = 0; b < k; ++b) v[b] -= d * q[b];
    }
  };
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < 2; ++r) {
    std::vector<double> v(k);
    for (int a = 0; a < k; ++a) v[a] = C[r][idx[a]];
    projectOut(v, rows);
    const double len = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
    for (double& x : v) x /= len;
    rows.push_back(v);
  }
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<double> E = D;
    for (int a = 0; a < 3; ++a) {
      std::vector<double> v(k);
      for (double& x : v) x = U(rng);
      projectOut(v, rows);
      for (int b = 0; b < k; ++b) E[a * n + idx[b]] += (trial < 20 ? 1e-3 : 1e-1) * v[b];
    }
    EXPECT_GT(Energy(G, w, n, P, E), best) << trial;
  }
  for (double** m : {G[0], G[1], G[2], C}) matrix_free_ff(m);
  for (Bspline* obj : {before, c}) FreeBspline(obj);
}

TEST_F(ReshapeTest, DegreeTwoSpansWithManyParametersGetKnotsAndFailuresLeaveNoLeak) {
  // Degree 2 advanced by a zero stride in the legacy code: this must end and refine.
  Bspline* c = BuildRandomCurve(41u, 2, 6, 3, false, KnotLayout::Uniform);
  Bspline* ref = CopyCurveBspline(c);
  const double t[5] = {0.40, 0.42, 0.45, 0.47, 0.49};  // one interior span
  ASSERT_EQ(DistributeReshapeCrvKnots(c, nullptr, t, 5), 0);
  EXPECT_GT(NumCtrlU(c), NumCtrlU(ref));
  EXPECT_LT(ShapeDiff(ref, c), 1e-12);  // knots only: shape kept
  const std::vector<double> ts = {0.3, 0.5, 0.7}, pts = OffsetTargets(ref, ts, 0.05);
  const int failures = RunWithInjectedFailures(3000, 23, [&] {
    Bspline* copy = CopyCurveBspline(ref);
    const int r = copy ? Reshape(copy, pts, ts) : -2;
    FreeBspline(copy);
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* obj : {ref, c}) FreeBspline(obj);
}

// A gently bent cubic from (x0, y0, z0) to (x1, y1, z1).
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
      double ta, tb, pa[3], pb[3];
      ASSERT_GE(Intersect2Curve3(nA[i], nB[0], &ta, &tb), -2);
      Eval3DPointOnCurve3Array(nA[i], ta, 0, pa);
      Eval3DPointOnCurve3Array(nB[0], tb, 0, pb);
      EXPECT_LT(VecDist3(pa, pb), 1e-7) << mode << " " << i;
      // Mode 0 moves A onto B (z = 0.2), mode 1 B onto A (z = 0), mode 2 both halfway.
      EXPECT_NEAR(pa[2], (std::vector<double>{0.2, 0.0, 0.1})[mode], 0.01) << mode;
    }
    // Mode 0 moves only A: B keeps its control points.
    for (int j = 0; j < NumCtrlU(B[0]) && mode == 0; ++j) EXPECT_EQ(nB[0]->Z[0][j], B[0]->Z[0][j]);
    if (mode == 2) {  // both families reshaped and made compatible: one knot vector per family
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
    EXPECT_TRUE(r == 0 || a == nullptr);
    if (r == 0) {
      FreeBsplineArray(a, 2);
      FreeBsplineArray(b, 1);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* x : {A[0], A[1], B[0]}) FreeBspline(x);
}

}  // namespace

namespace {

// A normal row at a parameter that is not a number picked no span and wrote outside the row;
// a 2D source copied into a 3D curve left it without z coordinates. Both are refused, the
// outputs and the curve as they were.
TEST_F(ReshapeTest, RowsAndCopiesRefuseWhatWouldLeaveThemUnsound) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(3, 3, 6, 3));
  const double n[3] = {0.0, 0.0, 1.0};
  std::vector<double> row(3 * 6, -7.0);
  double d = -7.0;
  EXPECT_EQ(ComputeReshapeCrv3NormConstraint(c, n, std::nan(""), row.data(), &d), -2);
  EXPECT_EQ(d, -7.0);
  EXPECT_EQ(row, std::vector<double>(3 * 6, -7.0));
  EXPECT_EQ(ComputeReshapeCrv3NormConstraint(c, n, 0.5, row.data(), &d), 0);

  Bspline* flat = keep(BuildRandomCurve(4, 2, 5, 2));
  EXPECT_EQ(UpdateCurveBsplineCntrlPts(c, flat), -2);
  EXPECT_TRUE(KernelFailed());
  EXPECT_TRUE(BsplineSound(c));
  EXPECT_EQ(NumCtrlU(c), 6);
}

}  // namespace
