#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubinner.h"
#include "foundation/makemat.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class GramMatrix : public KernelTest {};

struct Case {
  int p;
  std::vector<double> knots;
  int nk() const { return static_cast<int>(knots.size()); }
  int n() const { return nk() - p - 1; }
};

// Degrees 0 to 5 on uneven knots, and a doubled interior knot: the empty interval must cost
// nothing and change nothing.
std::vector<Case> Cases() {
  std::vector<Case> cases = {{0, {0.0, 0.3, 0.35, 1.1, 2.0}},
                             {3, {0, 0, 0, 0, 0.4, 0.4, 0.7, 1, 1, 1, 1}}};
  for (int p = 1; p <= 5; ++p)
    cases.push_back({p, ClampedKnots(p, p + 4, -1.0, 2.0, KnotLayout::Random, 11 + p)});
  return cases;
}

// The band matrix of order r (the plain Gram routine for r = 0) of the first n functions.
double** Gram(const Case& c, int r, int n = -1) {
  if (n < 0) n = c.n();
  double** G = allocate_matrix_ff(n, c.p + 1);
  const int rc = r == 0 ? NewComputeGramMatrixGQ(c.knots.data(), c.nk(), n, c.p, G)
                        : NewComputeDiffGramMatrixGQ(c.knots.data(), c.nk(), n, c.p, r, G);
  EXPECT_EQ(rc, 0);
  return G;
}

// Full symmetric entry (i, j) of a band matrix.
double Full(double** G, int i, int j) { return i <= j ? G[i][j - i] : G[j][i - j]; }

// Brute force: Romberg integration of the textbook basis (or its r-th derivative) on every
// knot interval where both supports meet; R(5, 5) is exact for polynomials of degree up to
// 11, above the products of degree 2 p <= 10 met here.
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
    double R[6][6];
    R[0][0] = (b - a) / 2 * (f(a) + f(b));
    for (int k = 1; k < 6; ++k) {
      const int m = 1 << (k - 1);
      const double h = (b - a) / (2 * m);
      double mid = 0.0;
      for (int q = 0; q < m; ++q) mid += f(a + (2 * q + 1) * h);
      R[k][0] = R[k - 1][0] / 2 + h * mid;
      for (int l = 1; l <= k; ++l)
        R[k][l] = R[k][l - 1] + (R[k][l - 1] - R[k - 1][l - 1]) / ((1 << (2 * l)) - 1);
    }
    sum += R[5][5];
  }
  return sum;
}

// Partition of unity: sum_j G(i, j) is the integral of N(i), (t[i+p+1] - t[i]) / (p + 1); the
// derivatives of sum N(i) = 1 vanish, so every row of a derivative Gram sums to 0.
TEST_F(GramMatrix, RowSumsAreBasisIntegralsAndDerivativesAnnihilateConstants) {
  for (const Case& c : Cases())
    for (int r = 0; r <= c.p + 1; ++r) {
      double** G = Gram(c, r);
      double scale = 1.0;
      for (int i = 0; i < c.n(); ++i) scale = std::max(scale, std::fabs(G[i][0]));
      for (int i = 0; i < c.n(); ++i) {
        double row = 0.0;
        for (int j = std::max(0, i - c.p); j < std::min(c.n(), i + c.p + 1); ++j)
          row += Full(G, i, j);
        if (r == 0)
          EXPECT_NEAR(row, (c.knots[i + c.p + 1] - c.knots[i]) / (c.p + 1), 1e-12)
              << c.p << " " << i;
        else
          EXPECT_NEAR(row, 0.0, 1e-10 * scale) << "p " << c.p << " r " << r << " row " << i;
      }
      matrix_free_ff(G);
    }
}

TEST_F(GramMatrix, MatchesBruteForceIntegration) {
  for (const Case& c : Cases())
    for (int r : {0, 1, c.p, c.p + 1}) {
      double** G = Gram(c, r);
      // Derivative magnitudes grow like (p / h)^r: compare relative to the diagonal's scale.
      double scale = 0.0;
      for (int i = 0; i < c.n(); ++i) scale = std::max(scale, std::fabs(G[i][0]));
      for (int i = 0; i < c.n(); ++i)
        for (int k = 0; k <= c.p; ++k) {
          const double expect = i + k < c.n() ? BruteGram(c.knots, c.p, r, i, i + k) : 0.0;
          EXPECT_NEAR(G[i][k], expect, 1e-10 * (1.0 + scale))
              << "p " << c.p << " r " << r << " (" << i << ", " << k << ")";
        }
      matrix_free_ff(G);
    }
}

TEST_F(GramMatrix, PartialBasisStaysInsideItsRowsAndBadArgumentsAreRefused) {
  // Asking for fewer functions than the knots carry fills only those rows; the products with
  // the functions left out have no slot and are dropped instead of written past the matrix.
  const Case all{3, ClampedKnots(3, 8, 0.0, 1.0, KnotLayout::Random, 5)};
  for (int r : {0, 2}) {
    double** full = Gram(all, r);
    double** G = Gram(all, r, 5);
    for (int i = 0; i < 5; ++i)
      for (int k = 0; k <= 3; ++k) EXPECT_DOUBLE_EQ(G[i][k], i + k < 5 ? full[i][k] : 0.0);
    matrix_free_ff(full);
    matrix_free_ff(G);
  }
  const double t[] = {0, 0, 0.5, 1, 1};
  double** G = allocate_matrix_ff(3, 2);
  EXPECT_EQ(NewComputeGramMatrixGQ(t, 5, 4, 1, G), -2);  // p + n >= nKnots
  EXPECT_EQ(NewComputeDiffGramMatrixGQ(t, 5, 3, 1, -1, G), -2);
  matrix_free_ff(G);
  EXPECT_FALSE(KernelFailedNow());
}

// The coefficients themselves are checked through the derivative Gram matrices built from
// them; here the orders and indices at the edge.
TEST_F(GramMatrix, DerivativeCoefficientsAtTheEdges) {
  const std::vector<double> t = ClampedKnots(4, 9, 0.0, 2.0, KnotLayout::Random, 3);
  const int nk = static_cast<int>(t.size()), p = 4;
  double D[7] = {9, 9, 9, 9, 9, 9, 9}, d[16];
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 2, p, 6, D), 0);  // r > p: zeros
  for (double x : D) EXPECT_EQ(x, 0.0);
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 9, p, 1, D), -2);  // no such function
  EXPECT_EQ(SingleBsplineDerivCoefs(t.data(), nk, 2, p, 0, D), -2);
  EXPECT_EQ(NBsplineDerivative(t.data(), nk, p, p + 1, D, d), -2);
}

// One function's derivative coefficients are those of the whole curve whose only non-zero
// coefficient is that function's: for every function of every case (a doubled knot among
// them), every order, the first and the last functions included.
TEST_F(GramMatrix, OneFunctionsCoefficientsAreTheCurvesWithOneCoefficient) {
  for (const Case& c : Cases())
    for (int r = 1; r <= c.p; ++r)
      for (int i = 0; i < c.n(); ++i) {
        std::vector<double> coef(c.n(), 0.0), all(c.nk());
        coef[i] = 1.0;
        ASSERT_EQ(NBsplineDerivative(c.knots.data(), c.nk(), c.p, r, coef.data(), all.data()), 0);
        double D[8];
        ASSERT_EQ(SingleBsplineDerivCoefs(c.knots.data(), c.nk(), i, c.p, r, D), 0);
        for (int a = 0; a <= r; ++a) EXPECT_EQ(D[a], all[i + a]) << c.p << " " << r << " " << i << " " << a;
      }
}

TEST_F(GramMatrix, AllocationFailuresLeaveNothingBehind) {
  const Case c{3, ClampedKnots(3, 10, 0.0, 1.0, KnotLayout::Random, 8)};
  double** G = allocate_matrix_ff(10, 4);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    const int rc = NewComputeDiffGramMatrixGQ(c.knots.data(), c.nk(), 10, 3, 2, G);
    EXPECT_EQ(rc != 0, KernelFailedNow());
    return rc;
  });
  EXPECT_GT(failures, 3);
  EXPECT_LT(failures, 60);  // the last runs succeed
  matrix_free_ff(G);
}

}  // namespace
