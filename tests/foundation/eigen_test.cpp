#include "foundation/eigen.h"

#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "tests/support/kernel_fixture.h"

namespace {

class EigenSystem : public KernelTest {};

// Checks V diag(d) Vt = A, Vt V = I and d descending.
void ExpectDecomposition(double** A, double** V, const double* d, int n, double tol) {
  for (int i = 0; i + 1 < n; ++i) EXPECT_GE(d[i], d[i + 1]);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      double a = 0, o = 0;
      for (int k = 0; k < n; ++k) a += V[i][k] * d[k] * V[j][k], o += V[k][i] * V[k][j];
      EXPECT_NEAR(a, A[i][j], tol);
      EXPECT_NEAR(o, i == j ? 1.0 : 0.0, tol);
    }
}

TEST_F(EigenSystem, RandomSymmetricMatricesDecompose) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int round = 0; round < 80; ++round) {
    const int n = 1 + rng() % 8;
    double** A = allocate_matrix_ff(n, n);
    double** V = allocate_matrix_ff(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j) A[i][j] = A[j][i] = u(rng);
    for (int i = 0; i < n * n; ++i) V[0][i] = A[0][i];
    std::vector<double> d(n);
    ASSERT_EQ(eigensystem(V, n, d.data()), 0);
    ExpectDecomposition(A, V, d.data(), n, 1e-10);
    matrix_free_ff(A);
    matrix_free_ff(V);
  }
}

TEST_F(EigenSystem, DiagonalAndRepeatedEigenvalues) {
  double** A = allocate_matrix_ff(3, 3);
  const double diag[3] = {2, 7, -1};
  for (int i = 0; i < 9; ++i) A[0][i] = 0;
  for (int i = 0; i < 3; ++i) A[i][i] = diag[i];
  double d[3];
  ASSERT_EQ(eigensystem(A, 3, d), 0);
  EXPECT_EQ(d[0], 7);
  EXPECT_EQ(d[1], 2);
  EXPECT_EQ(d[2], -1);
  EXPECT_EQ(std::abs(A[1][0]), 1.0);  // unit columns permuted
  EXPECT_EQ(std::abs(A[0][1]), 1.0);
  EXPECT_EQ(std::abs(A[2][2]), 1.0);

  // Eigenvalues 3, 3, 0 of J - diag: the repeated pair still gets an orthonormal basis.
  double** B = allocate_matrix_ff(3, 3);
  double** R = allocate_matrix_ff(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) B[i][j] = R[i][j] = i == j ? 2.0 : -1.0;
  ASSERT_EQ(eigensystem(R, 3, d), 0);
  EXPECT_NEAR(d[0], 3, 1e-12);
  EXPECT_NEAR(d[1], 3, 1e-12);
  EXPECT_NEAR(d[2], 0, 1e-12);
  ExpectDecomposition(B, R, d, 3, 1e-12);

  double** one = allocate_matrix_ff(1, 1);
  one[0][0] = -4.5;
  ASSERT_EQ(eigensystem(one, 1, d), 0);
  EXPECT_EQ(d[0], -4.5);
  EXPECT_EQ(one[0][0], 1.0);
  for (double** m : {A, B, R, one}) matrix_free_ff(m);
}

TEST_F(EigenSystem, MissingScratchLeavesInputAlone) {
  double** A = allocate_matrix_ff(2, 2);
  A[0][0] = 1, A[0][1] = A[1][0] = 2, A[1][1] = 3;
  double d[2] = {9, 9};
  MallocFailAfter(0, -1);
  EXPECT_EQ(eigensystem(A, 2, d), -2);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(A[0][1], 2);
  EXPECT_EQ(d[0], 9);
  matrix_free_ff(A);
}

}  // namespace
