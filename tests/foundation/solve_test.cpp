#include "foundation/solvmat.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "tests/support/kernel_fixture.h"

namespace {

class DenseSolve : public KernelTest {};

double** RandomMatrix(std::mt19937& rng, int n, double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double** A = allocate_matrix_ff(n, n);
  for (int i = 0; i < n * n; ++i) A[0][i] = scale * u(rng);
  return A;
}

double** Copy(double** A, int n) {
  double** B = allocate_matrix_ff(n, n);
  std::memcpy(B[0], A[0], sizeof(double) * n * n);
  return B;
}

double Det(double** A, int n) {  // cofactor expansion, for small n only
  if (n == 1) return A[0][0];
  double s = 0;
  for (int c = 0; c < n; ++c) {
    double** M = allocate_matrix_ff(n - 1, n - 1);
    for (int i = 1; i < n; ++i)
      for (int j = 0, k = 0; j < n; ++j)
        if (j != c) M[i - 1][k++] = A[i][j];
    s += (c % 2 ? -1 : 1) * A[0][c] * Det(M, n - 1);
    matrix_free_ff(M);
  }
  return s;
}

TEST_F(DenseSolve, LuResidualsInverseAndDeterminant) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int round = 0; round < 60; ++round) {
    const int n = 1 + rng() % 7;
    // Rows of very different magnitudes exercise the implicit scaling.
    double** A = RandomMatrix(rng, n, 1.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) A[i][j] *= std::pow(10.0, static_cast<int>(rng() % 7) - 3);
    double** F = Copy(A, n);
    std::vector<int> indx(n);
    double d = 0;
    ASSERT_EQ(ludcmp_ff(F, n, indx.data(), &d), 0);
    double det = d;
    for (int i = 0; i < n; ++i) det *= F[i][i];
    if (n <= 5) {
      EXPECT_NEAR(det, Det(A, n), 1e-9 * (1 + std::abs(Det(A, n))));
    }

    std::vector<double> b(n), x(n);
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
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        double s = 0, mag = 0;
        for (int k = 0; k < n; ++k) s += A[i][k] * Ainv[k][j], mag += std::abs(A[i][k] * Ainv[k][j]);
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-11 * (1 + mag));
      }

    // The non-destructive form agrees, leaves A alone and may solve in place.
    double** Keep = Copy(A, n);
    std::vector<double> y = b;
    ASSERT_EQ(SolveLinearSystem_ff(A, n, y.data(), y.data()), 0);
    EXPECT_EQ(std::memcmp(A[0], Keep[0], sizeof(double) * n * n), 0);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(y[i], x[i], 1e-9 * (1 + std::abs(x[i])));
    for (double** m : {A, F, G, Ainv, Keep}) matrix_free_ff(m);
  }
}

TEST_F(DenseSolve, SingularAndTinyMatrices) {
  double** A = allocate_matrix_ff(3, 3);
  const double rows[9] = {1, 2, 3, 0, 0, 0, 4, 5, 6};
  std::memcpy(A[0], rows, sizeof rows);
  int indx[3];
  double d;
  EXPECT_EQ(ludcmp_ff(A, 3, indx, &d), -2);
  EXPECT_EQ(std::memcmp(A[0], rows, sizeof rows), 0);  // refused before any change

  double** Ainv = allocate_matrix_ff(3, 3);
  for (int i = 0; i < 9; ++i) Ainv[0][i] = 7;
  const double dup[9] = {1, 2, 3, 2, 4, 6, 1, 0, 1};  // exactly singular: row 1 = 2 row 0
  std::memcpy(A[0], dup, sizeof dup);
  EXPECT_EQ(inverse_matrix_ff(A, Ainv, 3), -2);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(Ainv[0][i], 7);

  double b[3] = {1, 2, 3}, x[3] = {0, 0, 0};
  std::memcpy(A[0], dup, sizeof dup);
  EXPECT_EQ(SolveLinearSystem_ff(A, 3, b, x), -2);
  EXPECT_EQ(x[2], 3);  // holds b
  EXPECT_EQ(SolveLinearSystem_ff(nullptr, 3, b, x), -2);

  // Tiny but regular: the small-scale mode decomposes it.
  double** T = allocate_matrix_ff(2, 2);
  T[0][0] = 1e-12, T[0][1] = 0, T[1][0] = 0, T[1][1] = 1e-12;
  EXPECT_EQ(ludcmp_ff(T, 2, indx, &d), 0);
  double t[2] = {1e-12, 2e-12};
  lubksb_ff(T, 2, indx, t);
  EXPECT_NEAR(t[0], 1.0, 1e-12);
  EXPECT_NEAR(t[1], 2.0, 1e-12);

  // Rows equal after scaling: the later row is taken as pivot.
  T[0][0] = 1, T[0][1] = 1, T[1][0] = 2, T[1][1] = -2;
  EXPECT_EQ(ludcmp_ff(T, 2, indx, &d), 0);
  EXPECT_EQ(indx[0], 1);
  EXPECT_EQ(d, -1.0);

  EXPECT_EQ(ludcmp_ff(T, 0, indx, &d), 0);
  EXPECT_EQ(inverse_matrix_ff(T, Ainv, 0), 0);
  for (double** m : {A, Ainv, T}) matrix_free_ff(m);
}

TEST_F(DenseSolve, MissingScratchIsReported) {
  double** A = allocate_matrix_ff(3, 3);
  double** Ainv = allocate_matrix_ff(3, 3);
  for (int i = 0; i < 9; ++i) A[0][i] = i == 0 || i == 4 || i == 8 ? 2 : 0;
  MallocFailAfter(0, -1);
  EXPECT_EQ(inverse_matrix_ff(A, Ainv, 3), -1);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  // The flag alone makes the decomposition refuse, even with memory available.
  int indx[3];
  double d;
  EXPECT_EQ(ludcmp_ff(A, 3, indx, &d), -2);
  double b[3] = {1, 1, 1}, x[3];
  EXPECT_EQ(SolveLinearSystem_ff(A, 3, b, x), -2);
  matrix_free_ff(A);
  matrix_free_ff(Ainv);
}

TEST_F(DenseSolve, Inverse4OfRandomTransforms) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int round = 0; round < 100; ++round) {
    double M[16];
    for (double& v : M) v = u(rng);
    // A transform: arbitrary 3 x 3 part, large translation in the last row, last column 0001.
    M[3] = M[7] = M[11] = 0, M[15] = 1;
    for (int k = 12; k < 15; ++k) M[k] *= 1e5;
    double Minv[16];
    ASSERT_EQ(mat_inverse4(M, Minv), 0);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) {
        double s = 0, mag = 0;
        for (int k = 0; k < 4; ++k) s += M[4 * i + k] * Minv[4 * k + j], mag += std::abs(M[4 * i + k] * Minv[4 * k + j]);
        EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12 * (1 + mag));
      }
    double same[16];
    std::memcpy(same, M, sizeof M);
    ASSERT_EQ(mat_inverse4(same, same), 0);  // in place
    EXPECT_EQ(std::memcmp(same, Minv, sizeof Minv), 0);
  }
}

TEST_F(DenseSolve, Singular4IsReported) {
  const double zeroRows[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  double Minv[16];
  for (double& v : Minv) v = 3;
  EXPECT_EQ(mat_inverse4(zeroRows, Minv), -2);
  for (double v : Minv) EXPECT_EQ(v, 3);
  size_t count = 0;
  for (size_t at = Messages().find("Singular matrix in LUDMP()"); at != std::string::npos;
       at = Messages().find("Singular matrix in LUDMP()", at + 1))
    ++count;
  EXPECT_EQ(count, 2u);  // once per zero row

  // Rank 3 without a zero row: rounding leaves a tiny pivot, still singular.
  const double rank3[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 1, 1, 1, 1};
  EXPECT_EQ(mat_inverse4(rank3, Minv), -2);

  double a[25] = {};
  int indx[5];
  double d = 0;
  EXPECT_EQ(ludcmp4(a, 5, indx, &d), -2);  // beyond the fixed 4 x 4 storage
  EXPECT_EQ(d, 0);
}

}  // namespace
