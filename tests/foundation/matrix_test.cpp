#include "foundation/dispmat.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/kernel_fixture.h"

namespace {

class Matrices : public KernelTest {};

// Runs `attempt` with every runtime request from the k-th on refused, k = 0, 1, ... until an
// attempt succeeds. Each failed attempt must report failure through the error globals and
// leave no tracked block behind; the attempt frees its own result.
template <typename Attempt>
void SweepAllocationFailures(Attempt attempt) {
  for (long k = 0; k < 200; ++k) {
    ClearKernelError();
    BeginTrackingMallocs();
    const int before = MallocTrackedCount();
    MallocFailAfter(k, -1);
    const bool ok = attempt();
    MallocFailClear();
    if (ok) {
      EXPECT_FALSE(KernelFailedNow());
      FreeTrackedMallocs();
      ClearKernelError();
      return;
    }
    EXPECT_TRUE(KernelFailedNow()) << "failure at request " << k << " not reported";
    EXPECT_EQ(MallocTrackedCount(), before) << "failure at request " << k << " leaked";
    FreeTrackedMallocs();
  }
  ADD_FAILURE() << "never succeeded";
}

TEST_F(Matrices, RowPointersShareOneContiguousBlock) {
  double** m = allocate_matrix_ff(4, 3);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(m[i], m[0] + 3 * i);
  int** k = allocate_matrix_ih(3, 5);
  ASSERT_NE(k, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(k[i], k[0] + 5 * i);
  EXPECT_EQ(matrix_free_ff(m), 0);
  EXPECT_EQ(matrix_free_ih(k), 0);

  double*** t = allocate_3dim_matrix_ff(2, 3, 4);
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(t[i][j], t[0][0] + (i * 3 + j) * 4);
  matrix_free_3dim_ff(2, t);

  double**** q = allocate_4dim_matrix_fh(2, 3, 2, 5);
  ASSERT_NE(q, nullptr);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k2 = 0; k2 < 2; ++k2) EXPECT_EQ(q[i][j][k2], q[0][0][0] + ((i * 3 + j) * 2 + k2) * 5);
  q[1][2][1][4] = 7.0;  // last element is addressable (ASan checks the bound)
  matrix_free_4dim_fh(2, 3, q);
}

TEST_F(Matrices, EmptyShapes) {
  EXPECT_EQ(allocate_matrix_ff(0, 5), nullptr);
  EXPECT_FALSE(KernelFailedNow());
  double** m = allocate_matrix_ff(3, 0);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m[i], nullptr);
  matrix_free_ff(m);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(Matrices, InjectedFailuresLeaveNoBlockAndStayFailed) {
  SweepAllocationFailures([] {
    double** m = allocate_matrix_fh(6, 7);
    if (!m) return false;
    matrix_free_fh(m);
    return true;
  });
  SweepAllocationFailures([] {
    double*** t = allocate_3dim_matrix_fh(3, 4, 5);
    if (!t) return false;
    matrix_free_3dim_fh(3, t);
    return true;
  });
  SweepAllocationFailures([] {
    double**** q = allocate_4dim_matrix_ff(3, 2, 4, 2);
    if (!q) return false;
    matrix_free_4dim_ff(3, 2, q);
    return true;
  });
  SweepAllocationFailures([] {
    int** m = allocate_matrix_ll(5, 2);
    if (!m) return false;
    matrix_free_ih(m);
    return true;
  });

  // Legacy convention: once an allocation failed anywhere, the matrix allocators keep
  // failing, without leaking, until the error state is cleared.
  MallocFailAfter(0, -1);
  EXPECT_EQ(Malloc(16), nullptr);
  MallocFailClear();
  ASSERT_TRUE(KernelFailedNow());
  BeginTrackingMallocs();
  EXPECT_EQ(allocate_matrix_ff(2, 2), nullptr);
  EXPECT_EQ(allocate_matrix_ii(2, 2), nullptr);
  EXPECT_EQ(allocate_3dim_matrix_ff(2, 2, 2), nullptr);
  EXPECT_EQ(allocate_4dim_matrix_ff(2, 2, 2, 2), nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
  FreeTrackedMallocs();
  ClearKernelError();
  double** m = allocate_matrix_ff(2, 2);
  ASSERT_NE(m, nullptr);
  matrix_free_ff(m);
}

TEST_F(Matrices, ProductsAgreeWithBruteForce) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  for (int round = 0; round < 20; ++round) {
    const int r = 1 + rng() % 6, c = 1 + rng() % 6, k = 1 + rng() % 6;
    double** A = allocate_matrix_ff(r, c);
    double** B = allocate_matrix_ff(c, k);
    double** C = allocate_matrix_ff(r, k);
    double** At = allocate_matrix_ff(c, r);
    double** Att = allocate_matrix_ff(r, c);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < c; ++j) A[i][j] = u(rng);
    for (int i = 0; i < c; ++i)
      for (int j = 0; j < k; ++j) B[i][j] = u(rng);
    multiply_matrices_ff_ff_ff(A, B, C, r, c, c, k);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < k; ++j) {
        double s = 0;
        for (int m = 0; m < c; ++m) s += A[i][m] * B[m][j];
        EXPECT_NEAR(C[i][j], s, 1e-12);
      }
    // (A B)^T = B^T A^T through the transposes.
    transpose_matrix_ff(A, At, r, c);
    transpose_matrix_ff(At, Att, c, r);
    EXPECT_EQ(std::memcmp(A[0], Att[0], sizeof(double) * r * c), 0);

    std::vector<double> v(c), out(r, 42.0);
    for (auto& x : v) x = u(rng);
    multiply_matrix_vector_ff_ff_ff(A, v.data(), out.data(), r, c, c);
    for (int i = 0; i < r; ++i) EXPECT_NEAR(out[i], VectorDotProduct(A[i], v.data(), c), 1e-12);
    matrix_free_ff(A);
    matrix_free_ff(B);
    matrix_free_ff(C);
    matrix_free_ff(At);
    matrix_free_ff(Att);
  }
}

TEST_F(Matrices, WrongSizeProductIsRefused) {
  double** A = allocate_matrix_ff(2, 3);
  double** C = allocate_matrix_ff(2, 2);
  for (int i = 0; i < 6; ++i) A[0][i] = i + 1;
  C[0][0] = C[0][1] = C[1][0] = C[1][1] = -1;
  multiply_matrices_ff_ff_ff(A, A, C, 2, 3, 2, 3);  // inner sizes 3 and 2 differ
  EXPECT_EQ(C[1][1], -1);
  double v[2] = {1, 1}, out[2] = {5, 5};
  multiply_matrix_vector_ff_ff_ff(A, v, out, 2, 3, 2);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], 5);
  EXPECT_NE(Messages().find("Matrix error: wrong size."), std::string::npos);
  matrix_free_ff(A);
  matrix_free_ff(C);
}

TEST_F(Matrices, VectorHelpers) {
  double v[3] = {3, 0, 4};
  EXPECT_EQ(NormalizeVector(v, 3, 1e-9), 0);
  EXPECT_DOUBLE_EQ(VectorMagnitude(v, 3), 1.0);
  double z[2] = {1e-12, 0};
  EXPECT_EQ(NormalizeVector(z, 2, 1e-9), -2);
  EXPECT_EQ(z[0], 1e-12);

  const double knots[7] = {0, 0, 0, 0.5, 1, 1, 1};
  EXPECT_EQ(FindMultOfValInArray(knots, 7, 1.0, 6, 10, 0, 1e-9), 3);
  EXPECT_EQ(FindMultOfValInArray(knots, 7, 0.0, 0, 10, 1, 1e-9), 3);
  EXPECT_EQ(FindMultOfValInArray(knots, 7, 1.0, 6, 2, 0, 1e-9), 2);
  EXPECT_EQ(FindMultOfValInArray(knots, 7, 0.0, 0, 2, 1, 1e-9), 2);
  EXPECT_EQ(FindMultOfValInArray(knots, 7, 0.5, 6, 5, 0, 1e-9), 0);

  for (long bytes = 0; bytes < 19; ++bytes) {
    unsigned char src[19], dst[19];
    for (int i = 0; i < 19; ++i) src[i] = static_cast<unsigned char>(i * 7 + 1), dst[i] = 0;
    ZK_hMemCpy(dst, src, bytes);
    for (int i = 0; i < 19; ++i) EXPECT_EQ(dst[i], i < bytes ? src[i] : 0);
  }
}

TEST_F(Matrices, FlatBlockCopiesRoundTrip) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    const int rows = 1 + rng() % 5, cols = 1 + rng() % 5, stride = cols + rng() % 3;
    const int offset = rng() % 4;
    std::vector<double> flat(rows * cols), big(offset + rows * stride + cols * stride + rows, 0.0);
    for (auto& x : flat) x = static_cast<double>(rng() % 1000);
    // flat -> strided block -> flat
    FillSubMatFromMat(flat.data(), big.data(), offset, cols, stride, rows, 0);
    std::vector<double> back(rows * cols, -1);
    FillMatFromSubMat(back.data(), big.data(), offset, cols, stride, rows);
    EXPECT_EQ(back, flat);
    // transposed placement: element (r, c) lands at column r of row c
    std::vector<double> tbig(offset + cols * (rows + 2), 0.0);
    FillSubMatFromMat(flat.data(), tbig.data(), offset, cols, rows + 2, rows, 1);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) EXPECT_EQ(tbig[offset + c * (rows + 2) + r], flat[r * cols + c]);
    // flat -> row pointers -> flat
    double** M = allocate_matrix_ff(rows, cols);
    cp_vec_to_matrix_fh_fh(flat.data(), M, cols, rows);
    std::vector<double> again(rows * cols);
    CopyMatrixToArray(M, 0, cols - 1, 0, rows - 1, again.data());
    EXPECT_EQ(again, flat);
    // flipping twice either way is the identity; rows flip as whole rows
    std::vector<double> f = flat;
    FlipMatrix(f.data(), cols, rows, 1);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) EXPECT_EQ(f[r * cols + c], flat[(rows - 1 - r) * cols + c]);
    FlipMatrix(f.data(), cols, rows, 0);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) EXPECT_EQ(f[r * cols + c], flat[(rows - 1 - r) * cols + cols - 1 - c]);
    matrix_free_ff(M);
  }
  double m3x2[6] = {1, 2, 3, 4, 5, 6};
  FlipMatrix(m3x2, 2, 3, 1);
  EXPECT_EQ(std::vector<double>(m3x2, m3x2 + 6), (std::vector<double>{5, 6, 3, 4, 1, 2}));
}

TEST_F(Matrices, ColumnAndGridHelpers) {
  double** M = allocate_matrix_ff(3, 2);
  for (int i = 0; i < 6; ++i) M[0][i] = (i % 2 == 0) ? 1.0 : 0.0;
  EXPECT_EQ(IsLastColZeros_h(M, 3, 2), 0);  // 0 means: all zero
  M[2][1] = -0.0;
  EXPECT_EQ(IsLastColZeros_f(M, 3, 2), 0);
  M[1][1] = 1e-300;
  EXPECT_EQ(IsLastColZeros_h(M, 3, 2), 1);
  EXPECT_EQ(IsLastColZeros_h(M, 0, 2), 0);
  matrix_free_ff(M);

  const double a[4] = {1, 2, 3, 4}, b[4] = {10, 20, 30, 40}, vals[2] = {-1, -2};
  double dst[4] = {0, 0, 0, 0};
  SetValsOfMatCol(vals, dst, a, b, 0, 0, 1, 2, 1, 2, 2, 2);  // means of a[0], b[1]; a[1], b[3]
  EXPECT_EQ(dst[0], 10.5);
  EXPECT_EQ(dst[2], 21.0);
  SetValsOfMatCol(vals, dst, a, b, 1, 0, 0, 2, 1, 1, 2, 3);
  EXPECT_EQ(dst[1], -1);
  EXPECT_EQ(dst[3], -2);
  SetValsOfMatCol(vals, dst, a, b, 0, 0, 0, 1, 1, 1, 4, 7);  // unknown mode: nothing
  EXPECT_EQ(dst[0], 10.5);

  // Every segment of the grid joins neighbouring grid points, and each grid edge appears once.
  const int nu = 4, nv = 3;
  std::vector<double> x(nu * nv), y(nu * nv), z(nu * nv, 0.0);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) x[j * nu + i] = i, y[j * nu + i] = j;
  const int nOut = nv * 2 * (nu - 1) + nu * 2 * (nv - 1);
  std::vector<double> ox(nOut), oy(nOut), oz(nOut);
  Copy3DPointsToPolylineGrid(x.data(), y.data(), z.data(), ox.data(), oy.data(), oz.data(), nu, nv);
  for (int s = 0; s < nOut; s += 2) {
    const double d = std::abs(ox[s] - ox[s + 1]) + std::abs(oy[s] - oy[s + 1]);
    EXPECT_EQ(d, 1.0);
    if (s < nv * 2 * (nu - 1)) EXPECT_EQ(oy[s], oy[s + 1]);  // rows first
    else EXPECT_EQ(ox[s], ox[s + 1]);
  }

  double mins[3], maxs[3];
  const float px[3] = {1, -2, 3}, py[3] = {0, 5, -1}, pz[3] = {2, 2, 2};
  Compute3DArrayMinsMaxs_f(&mins[0], &maxs[0], &mins[1], &maxs[1], &mins[2], &maxs[2], px, py, pz, 3);
  EXPECT_EQ(mins[0], -2);
  EXPECT_EQ(maxs[1], 5);
  EXPECT_EQ(mins[2], 2);
  Compute3DArrayMinsMaxs_f(&mins[0], &maxs[0], &mins[1], &maxs[1], &mins[2], &maxs[2], px, py, pz, 0);
  EXPECT_EQ(mins[0], static_cast<double>(3.37e38f));
  EXPECT_EQ(maxs[2], -static_cast<double>(3.37e38f));
}

}  // namespace
