// Dense LU solves, inverses, 4 x 4 transform inverses, the symmetric eigensystem, and banded
// symmetric solves with fixed unknowns, against dense references.
#include <algorithm>
#include <cmath>
#include <limits>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/eigen.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/solvmat.h"
#include "splinefit/aspline.h"
#include "splinefit/curve.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class DenseSolve : public KernelTest {};

using Vec = std::vector<double>;
using Dense = std::vector<Vec>;

double** Copy(double** A, int n) {
  double** B = allocate_matrix_ff(n, n);
  std::memcpy(B[0], A[0], sizeof(double) * n * n);
  return B;
}

// sum_k A[i][k] B[k][j] is the identity up to tol times the sizes of the terms (row stride n).
void ExpectProductIsIdentity(const double* A, const double* B, int n, double tol) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0, mag = 0;
      for (int k = 0; k < n; ++k) s += A[n * i + k] * B[n * k + j], mag += std::abs(A[n * i + k] * B[n * k + j]);
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, tol * (1 + mag));
    }
}

TEST_F(DenseSolve, LuResidualsAndInverse) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int round = 0; round < 60; ++round) {
    const int n = 1 + rng() % 7;
    // Rows of very different magnitudes exercise the implicit scaling.
    double** A = allocate_matrix_ff(n, n);
    for (int i = 0; i < n * n; ++i) A[0][i] = u(rng) * std::pow(10.0, static_cast<int>(rng() % 7) - 3);
    double** F = Copy(A, n);
    std::vector<int> indx(n);
    double d = 0;
    ASSERT_EQ(ludcmp_ff(F, n, indx.data(), &d), 0);
    Vec b(n), x(n);
    for (auto& v : b) v = u(rng);
    x = b;
    lubksb_ff(F, n, indx.data(), x.data());
    for (int i = 0; i < n; ++i) {
      double r = -b[i], mag = std::abs(b[i]);
      for (int j = 0; j < n; ++j) r += A[i][j] * x[j], mag += std::abs(A[i][j] * x[j]);
      EXPECT_LE(std::abs(r), 1e-11 * mag);
    }
    double** G = Copy(A, n);
    double** Ainv = allocate_matrix_ff(n, n);
    ASSERT_EQ(inverse_matrix_ff(G, Ainv, n), 0);
    ExpectProductIsIdentity(A[0], Ainv[0], n, 1e-11);
    // The non-destructive form agrees, leaves A alone and may solve in place.
    double** Keep = Copy(A, n);
    ASSERT_EQ(SolveLinearSystem_ff(A, n, b.data(), b.data()), 0);
    EXPECT_EQ(std::memcmp(A[0], Keep[0], sizeof(double) * n * n), 0);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], x[i], 1e-9 * (1 + std::abs(x[i])));
    for (double** m : {A, F, G, Ainv, Keep}) matrix_free_ff(m);
  }
}

// Crout's method as written in the books, every inner product summed in full, with the
// decomposition's pivot rule (implicit row scaling, the later row within 1e-10 of the best
// measure wins): the reference for the factors. Rows of ordinary size only (none below 1e-10).
int FullCrout(Dense& a, std::vector<int>& indx, double* d) {
  const int n = static_cast<int>(a.size());
  Vec scale(n);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (double v : a[i]) big = std::max(big, std::abs(v));
    scale[i] = 1.0 / big;
  }
  *d = 1.0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      double s = a[i][j];
      for (int k = 0; k < std::min(i, j); ++k) s -= a[i][k] * a[k][j];
      a[i][j] = s;
    }
    double best = 0.0;
    int p = j;
    for (int i = j; i < n; ++i) {
      const double m = std::abs(a[i][j]) * scale[i];
      if (m > best || std::abs(m - best) <= 1e-10) best = m, p = i;
    }
    if (p != j) std::swap(a[p], a[j]), *d = -*d, scale[p] = scale[j];
    indx[j] = p;
    const double pivot = a[j][j];
    if (pivot == 0.0) return -2;
    // A pivot below 1e-10 divides (its reciprocal could overflow).
    for (int i = j + 1; i < n; ++i) a[i][j] = std::abs(pivot) >= 1e-10 ? a[i][j] * (1.0 / pivot) : a[i][j] / pivot;
  }
  return 0;
}

// Systems that are mostly zeros, as the constrained curve fits give (three copies of a band on
// the diagonal bordered by constraint rows), and random sparse ones, at scales 1e-6 .. 1e6:
// the decomposition leaves out the products with a zero factor, and its factors, pivots and
// solutions are still those of the full sums to the last bit (a zero may differ in sign only).
// A matrix holding an infinity has its NaNs spread over the same entries.
TEST_F(DenseSolve, SparseSystemsFactorAsTheFullSums) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int round = 0; round < 60; ++round) {
    const double size = std::pow(10.0, static_cast<int>(rng() % 13) - 6);
    Dense a;
    if (round % 2 == 0) {
      // [[A, -C'], [C, 0]] with A three copies of a symmetric band of width 4.
      const int nc = 4 + rng() % 6, n = 3 * nc, m = 2 + rng() % 6;
      a.assign(n + m, Vec(n + m, 0.0));
      for (int b = 0; b < 3; ++b)
        for (int i = 0; i < nc; ++i)
          for (int j = i; j < std::min(nc, i + 4); ++j)
            a[b * nc + i][b * nc + j] = a[b * nc + j][b * nc + i] = i == j ? 4.0 * size : size * u(rng);
      for (int k = 0; k < m; ++k)
        for (int j = 0; j < n; ++j)
          if (rng() % 5 == 0) a[n + k][j] = size * u(rng), a[j][n + k] = -a[n + k][j];
    } else {
      const int n = 1 + rng() % 40;
      a.assign(n, Vec(n, 0.0));
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          if (i == j || rng() % 4 == 0) a[i][j] = size * u(rng);
    }
    const int n = static_cast<int>(a.size());
    Dense ref = a;
    std::vector<int> refIndx(n), indx(n);
    double refD = 0.0, d = 0.0;
    const int refStatus = FullCrout(ref, refIndx, &refD);
    double** F = allocate_matrix_ff(n, n);
    for (int i = 0; i < n; ++i) std::copy(a[i].begin(), a[i].end(), F[i]);
    ASSERT_EQ(ludcmp_ff(F, n, indx.data(), &d), refStatus) << round;
    if (refStatus == 0) {
      EXPECT_EQ(indx, refIndx) << round;
      EXPECT_EQ(d, refD);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) ASSERT_EQ(F[i][j], ref[i][j]) << round << " " << i << " " << j;
      Vec b(n), x(n);
      for (auto& v : b) v = u(rng);
      x = b;
      lubksb_ff(F, n, indx.data(), x.data());
      double** R = allocate_matrix_ff(n, n);
      for (int i = 0; i < n; ++i) std::copy(ref[i].begin(), ref[i].end(), R[i]);
      lubksb_ff(R, n, refIndx.data(), b.data());
      EXPECT_EQ(x, b) << round;
      matrix_free_ff(R);
    }
    // One infinity: zero times it is NaN, and the NaNs reach the entries the full sums reach.
    a[n - 1][0] = std::numeric_limits<double>::infinity();
    ref = a;
    FullCrout(ref, refIndx, &refD);
    for (int i = 0; i < n; ++i) std::copy(a[i].begin(), a[i].end(), F[i]);
    ludcmp_ff(F, n, indx.data(), &d);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) EXPECT_EQ(std::isnan(F[i][j]), std::isnan(ref[i][j])) << round << " " << i << " " << j;
    matrix_free_ff(F);
  }
}

TEST_F(DenseSolve, SingularTinyAndFailedMatrices) {
  double** A = allocate_matrix_ff(3, 3);
  double** Ainv = allocate_matrix_ff(3, 3);
  const double zeroRow[9] = {1, 2, 3, 0, 0, 0, 4, 5, 6}, dup[9] = {1, 2, 3, 2, 4, 6, 1, 0, 1};
  std::memcpy(A[0], zeroRow, sizeof zeroRow);
  int indx[3];
  double d, b[3] = {1, 2, 3}, x[3] = {0, 0, 0};
  EXPECT_EQ(ludcmp_ff(A, 3, indx, &d), -2);
  EXPECT_EQ(std::memcmp(A[0], zeroRow, sizeof zeroRow), 0);  // refused before any change
  for (int i = 0; i < 9; ++i) Ainv[0][i] = 7;
  std::memcpy(A[0], dup, sizeof dup);  // exactly singular: row 1 = 2 row 0
  EXPECT_EQ(inverse_matrix_ff(A, Ainv, 3), -2);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(Ainv[0][i], 7);
  std::memcpy(A[0], dup, sizeof dup);
  EXPECT_EQ(SolveLinearSystem_ff(A, 3, b, x), -2);
  EXPECT_EQ(x[2], 3);  // holds b
  EXPECT_EQ(SolveLinearSystem_ff(nullptr, 3, b, x), -2);

  // Tiny but regular: the small-scale mode decomposes it.
  double t[2] = {1e-12, 2e-12};
  for (int i = 0; i < 9; ++i) A[0][i] = i % 4 == 0 ? 1e-12 : 0;
  EXPECT_EQ(ludcmp_ff(A, 2, indx, &d), 0);
  lubksb_ff(A, 2, indx, t);
  EXPECT_NEAR(t[0], 1.0, 1e-12);
  EXPECT_NEAR(t[1], 2.0, 1e-12);

  // No scratch: -1 from the inverse, and the flag alone makes later decompositions refuse.
  for (int i = 0; i < 9; ++i) A[0][i] = i % 4 == 0 ? 2 : 0;
  MallocFailAfter(0, -1);
  EXPECT_EQ(inverse_matrix_ff(A, Ainv, 3), -1);
  MallocFailClear();
  EXPECT_EQ(ludcmp_ff(A, 3, indx, &d), -2);
  EXPECT_EQ(SolveLinearSystem_ff(A, 3, b, x), -2);
  matrix_free_ff(A);
  matrix_free_ff(Ainv);
}

TEST_F(DenseSolve, Inverse4OfRandomTransformsAndSingularOnes) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double M[16], Minv[16], same[16];
  for (int round = 0; round < 100; ++round) {
    // A transform: arbitrary 3 x 3 part, large translation in the last row, last column 0001.
    for (int k = 0; k < 16; ++k) M[k] = k % 4 == 3 ? (k == 15) : u(rng) * (k >= 12 ? 1e5 : 1);
    ASSERT_EQ(mat_inverse4(M, Minv), 0);
    ExpectProductIsIdentity(M, Minv, 4, 1e-12);
    std::memcpy(same, M, sizeof M);
    ASSERT_EQ(mat_inverse4(same, same), 0);  // in place
    EXPECT_EQ(std::memcmp(same, Minv, sizeof Minv), 0);
  }
  const double zeroRows[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  for (double& v : Minv) v = 3;
  EXPECT_EQ(mat_inverse4(zeroRows, Minv), -2);
  for (double v : Minv) EXPECT_EQ(v, 3);
  const std::string msg = "Singular matrix in LUDMP()";
  ASSERT_NE(Messages().find(msg), std::string::npos);
  EXPECT_NE(Messages().find(msg, Messages().find(msg) + 1), std::string::npos);  // once per zero row
  // Rank 3 without a zero row: rounding leaves a tiny pivot, still singular.
  const double rank3[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 1, 1, 1, 1};
  EXPECT_EQ(mat_inverse4(rank3, Minv), -2);
  double a[25] = {}, d = 0;
  int indx[5];
  EXPECT_EQ(ludcmp4(a, 5, indx, &d), -2);  // beyond the fixed 4 x 4 storage
}

TEST_F(DenseSolve, SymmetricEigensystems) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int round = 0; round < 81; ++round) {
    const int n = round == 80 ? 3 : 1 + rng() % 8;
    double** A = allocate_matrix_ff(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j) A[i][j] = A[j][i] = round == 80 ? (i == j ? 2.0 : -1.0) : u(rng);
    // The last one is 3 I - J, eigenvalues 3, 3, 0: the repeated pair still needs an
    // orthonormal basis.
    double** V = Copy(A, n);
    Vec d(n);
    ASSERT_EQ(eigensystem(V, n, d.data()), 0);
    for (int i = 0; i + 1 < n; ++i) EXPECT_GE(d[i], d[i + 1]);
    for (int i = 0; i < n; ++i)  // V diag(d) Vt = A and Vt V = I
      for (int j = 0; j < n; ++j) {
        double a = 0, o = 0;
        for (int k = 0; k < n; ++k) a += V[i][k] * d[k] * V[j][k], o += V[k][i] * V[k][j];
        EXPECT_NEAR(a, A[i][j], 1e-10);
        EXPECT_NEAR(o, i == j ? 1.0 : 0.0, 1e-10);
      }
    if (round == 80) {
      EXPECT_NEAR(d[2], 0.0, 1e-12);
      const Vec a0(A[0], A[0] + 9);  // no scratch: input and output untouched
      d[0] = 99;
      MallocFailAfter(0, -1);
      EXPECT_EQ(eigensystem(A, n, d.data()), -2);
      MallocFailClear();
      EXPECT_TRUE(d[0] == 99 && Vec(A[0], A[0] + 9) == a0);
    }
    matrix_free_ff(A);
    matrix_free_ff(V);
  }
}

// The allocation-free 3 x 3 eigensystem and inverse give the general routines' answers to the
// last bit (fits rely on the sign of the vectors they pick), at scales 1e-6..1e6 and on the
// awkward spectra: repeated, zero, diagonal already, rank one, a zero row, exactly singular.
TEST_F(DenseSolve, FixedSizeThreeByThreeMatchTheGeneralRoutinesBitForBit) {
  std::mt19937 gen(23);
  std::uniform_real_distribution<double> u(-1, 1);
  const double fixed[][9] = {{2, -1, -1, -1, 2, -1, -1, -1, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {3, 0, 0, 0, 1, 0, 0, 0, 2},
                             {1, 2, 3, 2, 4, 6, 3, 6, 9},        {0, 0, 0, 0, 1, 2, 0, 2, 5}, {0, 0, 0, 0, 0, 0, 0, 0, 0},
                             {1, 1e-300, 0, 1e-300, 1, 0, 0, 0, 1e-12}};
  const int nFixed = sizeof fixed / sizeof fixed[0];
  double** G = allocate_matrix_ff(3, 3);
  double** Ginv = allocate_matrix_ff(3, 3);
  int failures = 0;
  for (int round = 0; round < 400 + nFixed; ++round) {
    double a[3][3];
    const double scale = std::pow(10.0, -6 + round % 13);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j <= i; ++j)
        a[i][j] = a[j][i] = round >= 400 ? fixed[round - 400][3 * i + j] : scale * u(gen);
    if (round < 400 && round % 5 == 0) a[0][1] = a[1][0] = a[0][2] = a[2][0] = 0;  // already partly reduced
    double raw[3][3], e[3], d3[3], d[3];
    std::memcpy(raw, a, sizeof a);
    std::memcpy(G[0], a, sizeof a);
    tred2(G, 3, d, e);
    tqli(d, e, 3, G);
    eigsrt(d, G, 3);
    eigensystem3(a, d3);
    EXPECT_EQ(std::memcmp(d, d3, sizeof d), 0) << round;
    EXPECT_EQ(std::memcmp(G[0], a, sizeof a), 0) << round;

    // The inverse of the eigenvectors, and of the matrix itself, which may be singular.
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) std::memcpy(a, raw, sizeof a);
      double inv[3][3];
      for (int i = 0; i < 9; ++i) Ginv[0][i] = inv[i / 3][i % 3] = 7;
      std::memcpy(G[0], a, sizeof a);
      const int status = inverse_matrix_ff(G, Ginv, 3);
      EXPECT_EQ(inverse_matrix3(a, inv), status) << round;
      failures += status != 0;
      EXPECT_EQ(std::memcmp(Ginv[0], inv, sizeof inv), 0) << round;
      EXPECT_EQ(std::memcmp(G[0], a, sizeof a), 0) << round;  // the same factors
    }
  }
  EXPECT_GE(failures, 3);  // the singular ones were among them
  matrix_free_ff(G);
  matrix_free_ff(Ginv);
}

// Q diag(w) Q^T with a random rotation Q: the closed form gives w back and, where the least
// eigenvalue stands apart, its eigenvector to round-off (the residual |a v - w0 v|), at scales
// 1e-6..1e6; a repeated least eigenvalue has no single eigenvector and is declined.
TEST_F(DenseSolve, SymmetricThreeByThreeSmallestEigenpair) {
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> u(-1, 1);
  const double spectra[][3] = {{0.01, 1, 2}, {0, 1, 1}, {-3, 2, 2.5}, {1e-9, 0.5, 1}, {0.2, 0.2, 1}, {1, 1, 1}};
  for (double scale : {1e-6, 1.0, 1e6})
    for (const auto& eig : spectra)
      for (int round = 0; round < 20; ++round) {
        double q[3][3], a[3][3], w[3], v[3];
        // A random rotation: Gram-Schmidt on random columns.
        for (int c = 0; c < 3; ++c) {
          for (int r = 0; r < 3; ++r) q[r][c] = u(gen);
          for (int b = 0; b < c; ++b) {
            const double d = q[0][c] * q[0][b] + q[1][c] * q[1][b] + q[2][c] * q[2][b];
            for (int r = 0; r < 3; ++r) q[r][c] -= d * q[r][b];
          }
          const double len = std::sqrt(q[0][c] * q[0][c] + q[1][c] * q[1][c] + q[2][c] * q[2][c]);
          for (int r = 0; r < 3; ++r) q[r][c] /= len;
        }
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 3; ++c)
            a[r][c] = scale * (q[r][0] * eig[0] * q[c][0] + q[r][1] * eig[1] * q[c][1] + q[r][2] * eig[2] * q[c][2]);
        const double size = scale * std::fmax(std::fabs(eig[0]), std::fabs(eig[2]));
        const int status = SymEigen3Smallest(a, w, v);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(w[k], scale * eig[k], 1e-7 * size);
        if (eig[1] - eig[0] < 1e-6 * std::fabs(eig[2])) {
          EXPECT_EQ(status, -2);
          continue;
        }
        ASSERT_EQ(status, 0);
        EXPECT_NEAR(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 1.0, 1e-14);
        EXPECT_NEAR(std::fabs(v[0] * q[0][0] + v[1] * q[1][0] + v[2] * q[2][0]), 1.0, 1e-12);
        for (int r = 0; r < 3; ++r)
          EXPECT_NEAR(a[r][0] * v[0] + a[r][1] * v[1] + a[r][2] * v[2] - w[0] * v[r], 0.0, 1e-13 * size);
      }
}

// ---- banded symmetric systems ---------------------------------------------------------------

Vec RandomVec(std::mt19937& rng, int n, double r) {
  std::uniform_real_distribution<double> u(-r, r);
  Vec v(n);
  for (double& e : v) e = u(rng);
  return v;
}

// A random symmetric positive definite matrix of half-bandwidth bw - 1 (diagonally dominant).
Dense RandomBandSpd(std::mt19937& rng, int n, int bw) {
  Dense A(n, Vec(n, 0.0));
  for (int i = 0; i < n; ++i)
    for (int k = 1; k < bw && i + k < n; ++k) A[i][i + k] = A[i + k][i] = RandomVec(rng, 1, 1)[0];
  for (int i = 0; i < n; ++i) {
    A[i][i] = 0.5 + std::abs(RandomVec(rng, 1, 1)[0]);
    for (int j = 0; j < n; ++j) A[i][i] += j != i ? std::abs(A[i][j]) : 0.0;
  }
  return A;
}

// Band storage of A, owned by the test. Entries past the last row belong to no unknown: zero
// (which lets the elimination narrow the band) or a huge value that must never reach a solution.
struct Band {
  Vec data;
  std::vector<double*> rows;
  Band(const Dense& A, int bw, double beyond = 0.0) : data(A.size() * bw), rows(A.size()) {
    for (size_t i = 0; i < A.size(); ++i) {
      rows[i] = data.data() + i * bw;
      for (int k = 0; k < bw; ++k) rows[i][k] = i + k < A.size() ? A[i][i + k] : beyond;
    }
  }
  double** operator*() { return rows.data(); }
};

// Dense reference through the LU solver: a held unknown's row becomes x_f = value.
Vec DenseFixedSolve(const Dense& A, Vec b, const std::vector<int>& fix = {}, const Vec& vals = {}) {
  const int n = static_cast<int>(A.size());
  double** R = allocate_matrix_ff(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) R[i][j] = A[i][j];
  for (size_t t = 0; t < fix.size(); ++t) {
    for (int j = 0; j < n; ++j) R[fix[t]][j] = j == fix[t] ? 1.0 : 0.0;
    b[fix[t]] = vals[t];
  }
  Vec x(n);
  EXPECT_EQ(SolveLinearSystem_ff(R, n, b.data(), x.data()), 0);
  matrix_free_ff(R);
  return x;
}

void ExpectClose(const Vec& got, const Vec& want, double tol) {
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "unknown " << i;
}

TEST_F(DenseSolve, BandedSolvesWithFixedUnknownsMatchTheDenseSolve) {
  std::mt19937 rng(17);
  for (int round = 0; round < 80; ++round) {
    const int n = 1 + rng() % 20, bw = 1 + rng() % 5;
    const Dense A = RandomBandSpd(rng, n, bw);
    // Stored wider than the couplings need, as the surface systems do: the all-zero last
    // column lets the elimination narrow the band.
    const int W = bw + static_cast<int>(rng() % 2);
    std::vector<int> fix;
    for (int i = 0; i < n; ++i)
      if (rng() % 3 == 0) fix.push_back(i);
    const int nFix = static_cast<int>(fix.size());
    const Vec xyz = RandomVec(rng, 3 * nFix, 3);
    Vec c[3], ref[3], vals[3];
    for (int k = 0; k < 3; ++k) {
      c[k] = RandomVec(rng, n, 3);
      for (int t = 0; t < nFix; ++t) vals[k].push_back(xyz[3 * t + k]);
      ref[k] = DenseFixedSolve(A, c[k], fix, vals[k]);
    }
    Band band(A, W, round % 2 ? 1e300 : 0.0), band2(A, W, round % 2 ? 1e300 : 0.0);
    std::vector<int> idx = fix;
    Vec x = c[0];
    ASSERT_EQ(ConvertMatToFixPts_h(*band, nFix, idx.data(), vals[0].data(), n, W, x.data()), 0);
    EXPECT_EQ(idx, fix) << "fixIdx must come back as given";
    ExpectClose(x, ref[0], 1e-9);
    for (int t = 0; t < nFix; ++t) EXPECT_EQ(x[fix[t]], vals[0][t]);  // held exactly
    // Three right-hand sides, x y z interleaved per fixed unknown.
    ASSERT_EQ(ConvertMatToFixPtsCurve(*band2, idx.data(), xyz.data(), nFix, n, W, c[0].data(), c[1].data(),
                                      c[2].data()),
              0);
    EXPECT_EQ(idx, fix);
    for (int k = 0; k < 3; ++k) ExpectClose(c[k], ref[k], 1e-9);
  }
  // A singular band is reported instead of dividing by the zero pivot.
  Band band(Dense{{1, 0, 0}, {0, 0, 0}, {0, 0, 1}}, 1);
  double x[3] = {1, 2, 3};
  EXPECT_EQ(solve_linear_eq_h(*band, 3, 1, x), -2);
  EXPECT_EQ(solve_linear_eq_curve(*band, 3, 1, x, x, x), -2);
}

TEST_F(DenseSolve, BandBadFixedIndicesOrMissingScratchLeaveEverythingUntouched) {
  std::mt19937 rng(2);
  const Dense A = RandomBandSpd(rng, 6, 3);
  const Vec x0 = {1, 2, 3, 4, 5, 6};
  const std::vector<std::vector<int>> bad = {{3, 1}, {2, 2}, {-1, 3}, {4, 6}, {0, 1, 2, 3, 4, 5, 5}};
  for (const auto& fix : bad) {
    Band band(A, 3);
    const Vec before = band.data, vals(fix.size(), 1.0), xyz(3 * fix.size(), 1.0);
    std::vector<int> idx = fix;
    Vec x = x0, y = x0, z = x0;
    const int nFix = static_cast<int>(fix.size());
    EXPECT_EQ(ConvertMatToFixPts_h(*band, nFix, idx.data(), vals.data(), 6, 3, x.data()), -2);
    EXPECT_EQ(ConvertMatToFixPtsCurve(*band, idx.data(), xyz.data(), nFix, 6, 3, x.data(), y.data(), z.data()), -2);
    EXPECT_TRUE(band.data == before && idx == fix && x == x0);
  }
  int fix[2] = {1, 4};
  const double vals[2] = {2, -2};
  const Vec ref = DenseFixedSolve(A, x0, {1, 4}, {2, -2});
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    Band band(A, 3);
    const Vec before = band.data;
    Vec x = x0;
    const int rc = ConvertMatToFixPts_h(*band, 2, fix, vals, 6, 3, x.data());
    const bool untouched = x == x0 && band.data == before;
    ExpectClose(x, rc == 0 ? ref : x0, 1e-10);
    EXPECT_TRUE(rc == 0 || (rc == -2 && KernelFailedNow() && untouched));
    EXPECT_TRUE(fix[0] == 1 && fix[1] == 4);
    return rc;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 40);
}

}  // namespace
