// Banded symmetric solves and the elimination of fixed unknowns, against a dense reference.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/solvmat.h"
#include "splinefit/aspline.h"
#include "splinefit/curve.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BandSolve : public KernelTest {};

using Dense = std::vector<std::vector<double>>;

// A random symmetric positive definite matrix of half-bandwidth bw - 1 (diagonally dominant).
Dense RandomBandSpd(std::mt19937& rng, int n, int bw) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Dense A(n, std::vector<double>(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int k = 1; k < bw && i + k < n; ++k) A[i][i + k] = A[i + k][i] = u(rng);
  for (int i = 0; i < n; ++i) {
    double s = 0;
    for (int j = 0; j < n; ++j)
      if (j != i) s += std::abs(A[i][j]);
    A[i][i] = s + 0.5 + std::abs(u(rng));
  }
  return A;
}

// Band storage of A. Entries past the last row belong to no unknown: zero (which lets the
// elimination narrow the band) or a huge value that must never reach a solution.
double** ToBand(const Dense& A, int bw, double beyond = 0.0) {
  const int n = static_cast<int>(A.size());
  double** band = allocate_matrix_ff(n, bw);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < bw; ++k) band[i][k] = i + k < n ? A[i][i + k] : beyond;
  return band;
}

// Dense reference: solve A x = b with the listed unknowns held, through the LU solver.
std::vector<double> DenseFixedSolve(const Dense& A, const std::vector<double>& b, const std::vector<int>& fix,
                                    const std::vector<double>& vals) {
  const int n = static_cast<int>(A.size());
  std::vector<int> freeIdx;
  for (int i = 0; i < n; ++i)
    if (std::find(fix.begin(), fix.end(), i) == fix.end()) freeIdx.push_back(i);
  std::vector<double> x(n);
  for (size_t t = 0; t < fix.size(); ++t) x[fix[t]] = vals[t];
  const int m = static_cast<int>(freeIdx.size());
  if (m == 0) return x;
  double** R = allocate_matrix_ff(m, m);
  std::vector<double> r(m), y(m);
  for (int a = 0; a < m; ++a) {
    r[a] = b[freeIdx[a]];
    for (size_t t = 0; t < fix.size(); ++t) r[a] -= A[freeIdx[a]][fix[t]] * vals[t];
    for (int c = 0; c < m; ++c) R[a][c] = A[freeIdx[a]][freeIdx[c]];
  }
  EXPECT_EQ(SolveLinearSystem_ff(R, m, r.data(), y.data()), 0);
  for (int a = 0; a < m; ++a) x[freeIdx[a]] = y[a];
  matrix_free_ff(R);
  return x;
}

void ExpectClose(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "unknown " << i;
}

std::vector<int> RandomAscendingSubset(std::mt19937& rng, int n, int count) {
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  std::shuffle(all.begin(), all.end(), rng);
  all.resize(count);
  std::sort(all.begin(), all.end());
  return all;
}

TEST_F(BandSolve, BandedSolvesMatchDenseSolve) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int round = 0; round < 60; ++round) {
    const int n = 1 + rng() % 25, bw = 1 + rng() % 6;
    const Dense A = RandomBandSpd(rng, n, bw);
    std::vector<double> bx(n), by(n), bz(n);
    for (int i = 0; i < n; ++i) bx[i] = u(rng), by[i] = u(rng), bz[i] = u(rng);
    const auto rx = DenseFixedSolve(A, bx, {}, {}), ry = DenseFixedSolve(A, by, {}, {}),
               rz = DenseFixedSolve(A, bz, {}, {});
    const double beyond = round % 2 ? 1e300 : 0.0;
    double** band = ToBand(A, bw, beyond);
    std::vector<double> x = bx;
    EXPECT_EQ(solve_linear_eq_h(band, n, bw, x.data()), 0);
    ExpectClose(x, rx, 1e-10);
    matrix_free_ff(band);

    band = ToBand(A, bw, beyond);
    std::vector<double> cx = bx, cy = by, cz = bz;
    EXPECT_EQ(solve_linear_eq_curve(band, n, bw, cx.data(), cy.data(), cz.data()), 0);
    ExpectClose(cx, rx, 1e-10);
    ExpectClose(cy, ry, 1e-10);
    ExpectClose(cz, rz, 1e-10);
    matrix_free_ff(band);
  }
}

TEST_F(BandSolve, DiagonalBandAndZeroPivot) {
  double** band = allocate_matrix_ff(3, 1);
  band[0][0] = 2, band[1][0] = 4, band[2][0] = 0.5;
  double x[3] = {1, 2, 3}, y[3] = {4, 4, 4}, z[3] = {0, 1, 0};
  EXPECT_EQ(solve_linear_eq_curve(band, 3, 1, x, y, z), 0);
  EXPECT_EQ(x[0], 0.5);
  EXPECT_EQ(x[2], 6.0);
  EXPECT_EQ(y[1], 1.0);
  EXPECT_EQ(z[1], 0.25);
  // A singular band is reported instead of dividing by the zero pivot.
  band[0][0] = 1, band[1][0] = 0, band[2][0] = 1;
  EXPECT_EQ(solve_linear_eq_h(band, 3, 1, x), -2);
  matrix_free_ff(band);
}

TEST_F(BandSolve, FixedUnknownsMatchDenseReducedSolve) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int round = 0; round < 80; ++round) {
    const int n = 1 + rng() % 20, bw = 1 + rng() % 5, nFix = rng() % (n + 1);
    const Dense A = RandomBandSpd(rng, n, bw);
    // Stored wider than the couplings need, as the surface systems do: the all-zero last
    // column lets the elimination narrow the band.
    const int W = bw + static_cast<int>(rng() % 2);
    std::vector<int> fix = RandomAscendingSubset(rng, n, nFix);
    std::vector<double> vals(nFix), xyz(3 * nFix), b(n), bx(n), by(n), bz(n);
    for (auto& v : vals) v = u(rng);
    for (auto& v : xyz) v = u(rng);
    for (int i = 0; i < n; ++i) b[i] = u(rng), bx[i] = u(rng), by[i] = u(rng), bz[i] = u(rng);

    const auto ref = DenseFixedSolve(A, b, fix, vals);
    const double beyond = round % 2 ? 1e300 : 0.0;
    double** band = ToBand(A, W, beyond);
    std::vector<int> idx = fix;
    std::vector<double> x = b;
    ASSERT_EQ(ConvertMatToFixPts_h(band, nFix, idx.data(), vals.data(), n, W, x.data()), 0);
    EXPECT_EQ(idx, fix) << "fixIdx must come back as given";
    ExpectClose(x, ref, 1e-9);
    for (int t = 0; t < nFix; ++t) EXPECT_EQ(x[fix[t]], vals[t]);  // held exactly
    matrix_free_ff(band);

    std::vector<double> vx(nFix), vy(nFix), vz(nFix);
    for (int t = 0; t < nFix; ++t) vx[t] = xyz[3 * t], vy[t] = xyz[3 * t + 1], vz[t] = xyz[3 * t + 2];
    const auto refX = DenseFixedSolve(A, bx, fix, vx), refY = DenseFixedSolve(A, by, fix, vy),
               refZ = DenseFixedSolve(A, bz, fix, vz);
    band = ToBand(A, W, beyond);
    std::vector<double> cx = bx, cy = by, cz = bz;
    ASSERT_EQ(ConvertMatToFixPtsCurve(band, idx.data(), xyz.data(), nFix, n, W, cx.data(), cy.data(), cz.data()),
              0);
    EXPECT_EQ(idx, fix);
    ExpectClose(cx, refX, 1e-9);
    ExpectClose(cy, refY, 1e-9);
    ExpectClose(cz, refZ, 1e-9);
    matrix_free_ff(band);
  }
}

TEST_F(BandSolve, TridiagonalWithBothEndsHeld) {
  // 5 x 5 tridiagonal (2, -1): holding x0 = 1 and x4 = 5 leaves the interior to solve, and
  // with a zero right-hand side the solution is the straight line through the two ends.
  double** band = allocate_matrix_ff(5, 2);
  for (int i = 0; i < 5; ++i) band[i][0] = 2, band[i][1] = i < 4 ? -1 : 0;
  int fix[2] = {0, 4};
  const double vals[2] = {1, 5};
  double x[5] = {0, 0, 0, 0, 0};
  ASSERT_EQ(ConvertMatToFixPts_h(band, 2, fix, vals, 5, 2, x), 0);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(x[i], 1.0 + i, 1e-12);
  EXPECT_EQ(fix[0], 0);
  EXPECT_EQ(fix[1], 4);
  matrix_free_ff(band);
}

TEST_F(BandSolve, BadFixedIndicesAreRefusedUntouched) {
  std::mt19937 rng(2);
  const Dense A = RandomBandSpd(rng, 6, 3);
  const std::vector<std::vector<int>> bad = {{3, 1}, {2, 2}, {-1, 3}, {4, 6}, {0, 1, 2, 3, 4, 5, 5}};
  for (const auto& fix : bad) {
    double** band = ToBand(A, 3);
    std::vector<double> before(band[0], band[0] + 18);
    std::vector<int> idx = fix;
    std::vector<double> vals(fix.size(), 1.0), xyz(3 * fix.size(), 1.0);
    std::vector<double> x = {1, 2, 3, 4, 5, 6}, y = x, z = x;
    const int nFix = static_cast<int>(fix.size());
    EXPECT_EQ(ConvertMatToFixPts_h(band, nFix, idx.data(), vals.data(), 6, 3, x.data()), -2);
    EXPECT_EQ(ConvertMatToFixPtsCurve(band, idx.data(), xyz.data(), nFix, 6, 3, x.data(), y.data(), z.data()),
              -2);
    EXPECT_EQ(std::vector<double>(band[0], band[0] + 18), before);
    EXPECT_EQ(idx, fix);
    EXPECT_EQ(x, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    matrix_free_ff(band);
  }
}

TEST_F(BandSolve, MissingScratchFailsCleanly) {
  std::mt19937 rng(8);
  const Dense A = RandomBandSpd(rng, 8, 3);
  int fix[2] = {1, 6};
  const double vals[2] = {2, -2};
  std::vector<double> b(8, 1.0);
  const auto ref = DenseFixedSolve(A, b, {1, 6}, {2, -2});
  for (long k = 0; k < 50; ++k) {
    ClearKernelError();
    double** band = ToBand(A, 3);
    std::vector<double> before(band[0], band[0] + 24);
    std::vector<double> x = b;
    BeginTrackingMallocs();
    MallocFailAfter(k, -1);
    const int rc = ConvertMatToFixPts_h(band, 2, fix, vals, 8, 3, x.data());
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    FreeTrackedMallocs();
    const std::vector<double> after(band[0], band[0] + 24);
    matrix_free_ff(band);
    if (rc == 0) {
      ExpectClose(x, ref, 1e-10);
      return;
    }
    EXPECT_EQ(rc, -2);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(after, before);
    EXPECT_EQ(x, b);
    EXPECT_EQ(fix[0], 1);
    EXPECT_EQ(fix[1], 6);
  }
  ADD_FAILURE() << "never succeeded";
}

}  // namespace
