#include "bspline/nubinner.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/makemat.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class GramMatrix : public KernelTest {};

// Full symmetric entry (i, j) of a band matrix.
double Full(double** G, int i, int j) { return i <= j ? G[i][j - i] : G[j][i - j]; }

// Brute force: Romberg integration of the textbook basis (or its r-th derivative) on every
// knot interval where both supports meet; six extrapolation levels are exact for the
// polynomial products of degree up to 2 p = 10 met here.
double BruteGram(const std::vector<double>& t, int p, int r, int i, int j) {
  const int nk = static_cast<int>(t.size());
  auto f = [&](double x) {
    return RefBasisDeriv(t.data(), nk, i, p, r, x) * RefBasisDeriv(t.data(), nk, j, p, r, x);
  };
  double sum = 0.0;
  for (int s = std::max(i, j); s < std::min(i, j) + p + 1; ++s) {
    if (!(t[s + 1] > t[s])) continue;
    // Off the knots by a hair, so a derivative that jumps there is taken from inside.
    const double a = t[s] + 1e-14, b = t[s + 1] - 1e-14;
    double R[7][7];
    R[0][0] = (b - a) / 2 * (f(a) + f(b));
    for (int k = 1; k < 7; ++k) {
      const int m = 1 << (k - 1);
      const double h = (b - a) / (2 * m);
      double mid = 0.0;
      for (int q = 0; q < m; ++q) mid += f(a + (2 * q + 1) * h);
      R[k][0] = R[k - 1][0] / 2 + h * mid;
      for (int l = 1; l <= k; ++l)
        R[k][l] = R[k][l - 1] + (R[k][l - 1] - R[k - 1][l - 1]) / ((1 << (2 * l)) - 1);
    }
    sum += R[6][6];
  }
  return sum;
}

struct Case {
  int p;
  std::vector<double> knots;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (int p = 0; p <= 5; ++p) {
    const int nCtrl = p + 4;
    if (p == 0) {
      cases.push_back({0, {0.0, 0.3, 0.35, 1.1, 2.0}});
      continue;
    }
    cases.push_back({p, ClampedKnots(p, nCtrl, -1.0, 2.0, KnotLayout::Random, 11 + p)});
  }
  // A doubled interior knot: the empty interval must cost nothing and change nothing.
  cases.push_back({3, {0, 0, 0, 0, 0.4, 0.4, 0.7, 1, 1, 1, 1}});
  return cases;
}

TEST_F(GramMatrix, RowSumsAreBasisIntegrals) {
  // Partition of unity: sum_j G(i, j) = integral of N(i) = (t[i+p+1] - t[i]) / (p + 1).
  for (const Case& c : Cases()) {
    const int nk = static_cast<int>(c.knots.size());
    const int n = nk - c.p - 1;
    double** G = allocate_matrix_ff(n, c.p + 1);
    ASSERT_EQ(NewComputeGramMatrixGQ(c.knots.data(), nk, n, c.p, G), 0);
    for (int i = 0; i < n; ++i) {
      double row = 0.0;
      for (int j = 0; j < n; ++j)
        if (std::abs(i - j) <= c.p) row += Full(G, i, j);
      const double expect = (c.knots[i + c.p + 1] - c.knots[i]) / (c.p + 1);
      EXPECT_NEAR(row, expect, 1e-12) << "p " << c.p << " row " << i;
    }
    matrix_free_ff(G);
  }
}

TEST_F(GramMatrix, MatchesBruteForceIntegration) {
  for (const Case& c : Cases()) {
    const int nk = static_cast<int>(c.knots.size());
    const int n = nk - c.p - 1;
    for (int r = 0; r <= c.p; ++r) {
      double** G = allocate_matrix_ff(n, c.p + 1);
      ASSERT_EQ(NewComputeDiffGramMatrixGQ(c.knots.data(), nk, n, c.p, r, G), 0);
      // Derivative magnitudes grow like (p / h)^r: compare relative to the diagonal's scale.
      double scale = 0.0;
      for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(G[i][0]));
      for (int i = 0; i < n; ++i)
        for (int k = 0; k <= c.p; ++k) {
          const double expect = i + k < n ? BruteGram(c.knots, c.p, r, i, i + k) : 0.0;
          EXPECT_NEAR(G[i][k], expect, 1e-10 * (1.0 + scale)) << "p " << c.p << " r " << r
                                                             << " (" << i << ", " << k << ")";
        }
      matrix_free_ff(G);
    }
  }
}

TEST_F(GramMatrix, DerivativeGramAnnihilatesConstants) {
  // The derivative of sum N(i) = 1 vanishes, so every row of the derivative Gram sums to 0.
  for (const Case& c : Cases()) {
    if (c.p < 1) continue;
    const int nk = static_cast<int>(c.knots.size());
    const int n = nk - c.p - 1;
    for (int r = 1; r <= c.p + 1; ++r) {
      double** G = allocate_matrix_ff(n, c.p + 1);
      ASSERT_EQ(NewComputeDiffGramMatrixGQ(c.knots.data(), nk, n, c.p, r, G), 0);
      double scale = 1.0;
      for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(G[i][0]));
      for (int i = 0; i < n; ++i) {
        double row = 0.0;
        for (int j = 0; j < n; ++j)
          if (std::abs(i - j) <= c.p) row += Full(G, i, j);
        EXPECT_NEAR(row, 0.0, 1e-10 * scale) << "p " << c.p << " r " << r << " row " << i;
      }
      matrix_free_ff(G);
    }
  }
}

TEST_F(GramMatrix, SmallExactCases) {
  const double lin[] = {0, 0, 1, 1};
  double** G = allocate_matrix_ff(2, 2);
  ASSERT_EQ(NewComputeGramMatrixGQ(lin, 4, 2, 1, G), 0);
  EXPECT_NEAR(G[0][0], 1.0 / 3, 1e-15);
  EXPECT_NEAR(G[0][1], 1.0 / 6, 1e-15);
  EXPECT_NEAR(G[1][0], 1.0 / 3, 1e-15);
  EXPECT_EQ(G[1][1], 0.0);
  ASSERT_EQ(NewComputeDiffGramMatrixGQ(lin, 4, 2, 1, 1, G), 0);
  EXPECT_NEAR(G[0][0], 1.0, 1e-14);
  EXPECT_NEAR(G[0][1], -1.0, 1e-14);
  EXPECT_NEAR(G[1][0], 1.0, 1e-14);
  // The second derivative of a degree-1 basis vanishes.
  ASSERT_EQ(NewComputeDiffGramMatrixGQ(lin, 4, 2, 1, 2, G), 0);
  EXPECT_EQ(G[0][0], 0.0);
  EXPECT_EQ(G[0][1], 0.0);
  EXPECT_EQ(G[1][0], 0.0);
  matrix_free_ff(G);

  const double step[] = {0, 1, 3};
  double** H = allocate_matrix_ff(2, 1);
  ASSERT_EQ(NewComputeGramMatrixGQ(step, 3, 2, 0, H), 0);
  EXPECT_NEAR(H[0][0], 1.0, 1e-15);
  EXPECT_NEAR(H[1][0], 2.0, 1e-15);
  matrix_free_ff(H);
}

TEST_F(GramMatrix, PartialBasisStaysInsideItsRows) {
  // Asking for fewer functions than the knots carry fills only those rows; the products with
  // the functions left out have no slot and are dropped instead of written past the matrix.
  const std::vector<double> t = ClampedKnots(3, 8, 0.0, 1.0, KnotLayout::Random, 5);
  const int nk = static_cast<int>(t.size());
  double** full = allocate_matrix_ff(8, 4);
  double** part = allocate_matrix_ff(5, 4);
  ASSERT_EQ(NewComputeGramMatrixGQ(t.data(), nk, 8, 3, full), 0);
  ASSERT_EQ(NewComputeGramMatrixGQ(t.data(), nk, 5, 3, part), 0);
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k <= 3; ++k) EXPECT_DOUBLE_EQ(part[i][k], i + k < 5 ? full[i][k] : 0.0);
  ASSERT_EQ(NewComputeDiffGramMatrixGQ(t.data(), nk, 8, 3, 2, full), 0);
  ASSERT_EQ(NewComputeDiffGramMatrixGQ(t.data(), nk, 5, 3, 2, part), 0);
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k <= 3; ++k) EXPECT_DOUBLE_EQ(part[i][k], i + k < 5 ? full[i][k] : 0.0);
  matrix_free_ff(full);
  matrix_free_ff(part);
}

TEST_F(GramMatrix, DerivativeCoefficientsRebuildTheDerivative) {
  const std::vector<double> t = ClampedKnots(4, 9, 0.0, 2.0, KnotLayout::Random, 3);
  const int nk = static_cast<int>(t.size());
  const int p = 4;
  for (int r = 1; r <= p; ++r) {
    for (int i = 0; i < 9; ++i) {
      double D[8];
      ASSERT_EQ(SingleBsplineDerivCoefs(t.data(), nk, i, p, r, D), 0);
      for (double x : {0.05, 0.37, 0.81, 1.3, 1.77}) {
        double sum = 0.0;
        for (int a = 0; a <= r; ++a) sum += D[a] * RefBasis(t.data(), nk, i + a, p - r, x);
        EXPECT_NEAR(sum, RefBasisDeriv(t.data(), nk, i, p, r, x), 1e-9 * std::pow(20.0, r))
            << "i " << i << " r " << r << " t " << x;
      }
    }
  }
  double D[7] = {9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 2, p, 6, D), 0);  // r > p: zeros
  for (double d : D) EXPECT_EQ(d, 0.0);
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 9, p, 1, D), -2);  // no such function
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 2, p, 0, D), -2);
  double d[16];
  EXPECT_EQ(NBsplineDerivative(t.data(), nk, p, p + 1, D, d), -2);
}

TEST_F(GramMatrix, RefusesBadArguments) {
  const double t[] = {0, 0, 0.5, 1, 1};
  double** G = allocate_matrix_ff(3, 2);
  EXPECT_EQ(NewComputeGramMatrixGQ(nullptr, 5, 3, 1, G), -2);
  EXPECT_EQ(NewComputeGramMatrixGQ(t, 5, 3, 1, nullptr), -2);
  EXPECT_EQ(NewComputeGramMatrixGQ(t, 5, 4, 1, G), -2);  // p + n >= nKnots
  EXPECT_EQ(NewComputeDiffGramMatrixGQ(t, 5, 3, 1, -1, G), -2);
  EXPECT_EQ(NewComputeDiffGramMatrixGQ(t, 5, 4, 1, 1, G), -2);
  matrix_free_ff(G);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(GramMatrix, AllocationFailuresLeaveNothingBehind) {
  const std::vector<double> t = ClampedKnots(3, 10, 0.0, 1.0, KnotLayout::Random, 8);
  const int nk = static_cast<int>(t.size());
  double** G = allocate_matrix_ff(10, 4);
  bool succeeded = false;
  int failures = 0;
  for (long skip = 0; skip < 200 && !succeeded; ++skip) {
    const int before = MallocTrackedCount();
    MallocFailAfter(skip, -1);
    const int rc = NewComputeDiffGramMatrixGQ(t.data(), nk, 10, 3, 2, G);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), before);
    if (rc == 0) {
      EXPECT_FALSE(KernelFailedNow());
      succeeded = true;
    } else {
      EXPECT_EQ(rc, -2);
      EXPECT_TRUE(KernelFailedNow());
      ClearKernelError();
      ++failures;
    }
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(failures, 3);
  matrix_free_ff(G);
}

}  // namespace
