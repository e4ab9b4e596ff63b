#include "foundation/dispmat.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"

#include <vector>

#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Matrices : public KernelTest {};

// Every failed allocation must be reported and leave nothing in the caller's scope.
template <typename Make, typename Release>
void SweepAllocationFailures(Make make, Release release) {
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    BeginTrackingMallocs();
    auto* m = make();
    EXPECT_EQ(m == nullptr, KernelFailedNow());
    if (m) release(m);
    EXPECT_EQ(MallocTrackedCount(), 0);
    FreeTrackedMallocs();
    return m ? 0 : -2;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 40);
}

TEST_F(Matrices, OneContiguousBlockAndCleanFailures) {
  double**** q = allocate_4dim_matrix_fh(2, 3, 2, 5);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 2; ++k) EXPECT_EQ(q[i][j][k], q[0][0][0] + ((i * 3 + j) * 2 + k) * 5);
  q[1][2][1][4] = 7.0;  // last element is addressable (ASan checks the bound)
  matrix_free_4dim_fh(2, 3, q);
  // The 3-index forms: one block, row (i, j) at element (i n2 + j) n3.
  for (auto alloc : {allocate_3dim_matrix_ff, allocate_3dim_matrix_fh}) {
    double*** t = alloc(3, 4, 2);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_EQ(t[i][j], t[0][0] + (i * 4 + j) * 2);
    t[2][3][1] = 1.0;
    alloc == allocate_3dim_matrix_ff ? matrix_free_3dim_ff(3, t) : matrix_free_3dim_fh(3, t);
  }
  int** l = allocate_matrix_ll(3, 4);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l[2], l[0] + 8);
  l[2][3] = 5;
  matrix_free_ih(l);
  EXPECT_EQ(allocate_matrix_ff(0, 5), nullptr);
  double** m = allocate_matrix_ff(3, 0);
  EXPECT_TRUE(m[0] == nullptr && m[2] == nullptr);
  matrix_free_ff(m);
  EXPECT_EQ(matrix_free_ff(nullptr), 1);  // nothing to free: Free's answer for null
  EXPECT_FALSE(KernelFailedNow());

  SweepAllocationFailures([] { return allocate_matrix_fh(6, 7); }, matrix_free_fh);
  SweepAllocationFailures([] { return allocate_4dim_matrix_ff(3, 2, 4, 2); },
                          [](double**** p) { matrix_free_4dim_ff(3, 2, p); });
  // Legacy convention: once an allocation failed anywhere, the matrix allocators keep
  // failing, without leaking, until the error state is cleared.
  MallocFailAfter(0, -1);
  EXPECT_EQ(Malloc(16), nullptr);
  MallocFailClear();
  BeginTrackingMallocs();
  EXPECT_EQ(allocate_matrix_ii(2, 2), nullptr);
  EXPECT_EQ(allocate_4dim_matrix_ff(2, 2, 2, 2), nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
  FreeTrackedMallocs();
  ClearKernelError();
}

TEST_F(Matrices, ProductsOfWrongSizesAreRefused) {
  double** A = allocate_matrix_ff(2, 3);
  double** C = allocate_matrix_ff(2, 2);
  for (int i = 0; i < 6; ++i) A[0][i] = i + 1;
  for (int i = 0; i < 4; ++i) C[0][i] = -1;
  multiply_matrices_ff_ff_ff(A, A, C, 2, 3, 2, 3);  // inner sizes 3 and 2 differ
  EXPECT_EQ(C[1][1], -1);
  double v[3] = {1, 1, 1}, out[2] = {5, 5};
  multiply_matrix_vector_ff_ff_ff(A, v, out, 2, 3, 2);
  EXPECT_EQ(out[1], 5);
  multiply_matrix_vector_ff_ff_ff(A, v, out, 2, 3, 3);  // row sums
  EXPECT_TRUE(out[0] == 6 && out[1] == 15);
  EXPECT_NE(Messages().find("Matrix error: wrong size."), std::string::npos);
  matrix_free_ff(A);
  matrix_free_ff(C);
}

TEST_F(Matrices, BlockCopiesRoundTripAndFlip) {
  const int rows = 3, cols = 4, stride = 6, offset = 2;
  std::vector<double> flat(rows * cols), big(offset + cols * stride + rows, 0.0), back(rows * cols, -1);
  for (int i = 0; i < rows * cols; ++i) flat[i] = i + 1;
  FillSubMatFromMat(flat.data(), big.data(), offset, cols, stride, rows, 0);
  FillMatFromSubMat(back.data(), big.data(), offset, cols, stride, rows);
  EXPECT_EQ(back, flat);
  // transposed placement: element (r, c) lands at column r of row c
  FillSubMatFromMat(flat.data(), big.data(), offset, cols, rows + 2, rows, 1);
  std::vector<double> f = flat;
  FlipMatrix(f.data(), cols, rows, 1);  // whole rows, then each row in itself
  FlipMatrix(f.data(), cols, rows, 0);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      EXPECT_EQ(big[offset + c * (rows + 2) + r], flat[r * cols + c]);
      EXPECT_EQ(f[r * cols + c], flat[(rows - 1 - r) * cols + cols - 1 - c]);
    }
}

}  // namespace
