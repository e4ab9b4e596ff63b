// n-vectors, row-pointer matrices and flat blocks: the vector operations as a field's
// identities, matrix products and transposes against each other, copies as round trips,
// grid polylines joining neighbours, ranges against std::minmax.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "foundation/dispmat.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/minmax.h"
#include "foundation/sort.h"
#include "foundation/vec3.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Arrays : public KernelTest {};

std::vector<double> RandomVector(std::mt19937& rng, int n, double lo = -2.0, double hi = 2.0) {
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> v(n);
  for (double& x : v) x = d(rng);
  return v;
}

TEST_F(Arrays, VectorOperationsKeepTheFieldIdentities) {
  std::mt19937 rng(5);
  const int n = 9;
  for (int trial = 0; trial < 10; ++trial) {
    const std::vector<double> a = RandomVector(rng, n), b = RandomVector(rng, n, 0.5, 2.0);
    const double s = RandomVector(rng, 1)[0];
    // (a - b) + b = a, (a b) / b = a, -(a) + a = 0, both product forms agree.
    std::vector<double> x = a, y(n), z(n), neg(n);
    VectorVectorSubtrct(x.data(), b.data(), n);
    VectorSubtraction(a.data(), b.data(), y.data(), n);
    EXPECT_EQ(x, y);
    VectorVectorAdd(x.data(), b.data(), n);
    EXPECT_EQ(IsEqualVectors(x.data(), a.data(), n, 1e-14), 1);
    x = a;
    VectorVectorProduct(x.data(), b.data(), n);
    VectorVectorProduct2(a.data(), b.data(), y.data(), n);
    EXPECT_EQ(x, y);
    EXPECT_NEAR(std::accumulate(x.begin(), x.end(), 0.0), VectorDotProduct(a.data(), b.data(), n), 1e-13);
    VectorVectorDivision(x.data(), b.data(), n);
    EXPECT_EQ(IsEqualVectors(x.data(), a.data(), n, 1e-14), 1);
    std::vector<float> fa(a.begin(), a.end()), fb(b.begin(), b.end()), fx = fa;
    VectorVectorDivision_f(fx.data(), fb.data(), n);
    for (int i = 0; i < n; ++i) EXPECT_EQ(fx[i], static_cast<float>(double(fa[i]) / fb[i]));
    NegateVector(a.data(), neg.data(), n);
    VectorVectorAdd(neg.data(), a.data(), n);
    EXPECT_EQ(VectorMagnitude(neg.data(), n), 0.0);
    // The null forms do nothing.
    x = a;
    VectorVectorAdd(x.data(), nullptr, n), VectorVectorSubtrct(nullptr, b.data(), n);
    VectorVectorProduct(x.data(), nullptr, n), VectorVectorDivision(x.data(), nullptr, n);
    EXPECT_EQ(x, a);
    // |s a| = |s| |a|; the unit vector has length 1 and the direction of a.
    x = a;
    VectorScalerProduct(x.data(), s, n);
    EXPECT_NEAR(VectorMagnitude(x.data(), n), std::fabs(s) * VectorMagnitude(a.data(), n), 1e-13);
    x = a;
    ASSERT_EQ(NormalizeVector(x.data(), n, 1e-9), 0);
    EXPECT_NEAR(VectorMagnitude(x.data(), n), 1.0, 1e-15);
    EXPECT_NEAR(VectorDotProduct(x.data(), a.data(), n), VectorMagnitude(a.data(), n), 1e-13);
    // s - v and v - s are negatives of each other; scale-and-shift is undone by its inverse.
    x = a, y = a;
    VectorScalerSubtraction(x.data(), s, n, 0);
    VectorScalerSubtraction(y.data(), s, n, 1);
    VectorVectorAdd(x.data(), y.data(), n);
    EXPECT_LE(VectorMagnitude(x.data(), n), 1e-14);
    x = a;
    ScaleAndTransVector(x.data(), n, 4.0, s);
    TransVector(x.data(), n, -s);
    VectorScalerProduct(x.data(), 0.25, n);
    EXPECT_EQ(IsEqualVectors(x.data(), a.data(), n, 1e-14), 1);
    EXPECT_EQ(PutVectorToZero(x.data(), n), 0);
    EXPECT_EQ(VectorMagnitude(x.data(), n), 0.0);
    Fill1DArray_fh(x.data(), n, s);
    EXPECT_EQ(std::count(x.begin(), x.end(), s), n);
  }
  double small[2] = {1e-8, 0.0};
  EXPECT_EQ(NormalizeVector(small, 2, 1e-6), -2);
  EXPECT_EQ(small[0], 1e-8);
  const double nan[1] = {std::nan("")}, zero[1] = {0.0};
  EXPECT_EQ(IsEqualVectors(nan, zero, 1, 1.0), 0);  // a NaN is never equal
}

// Runs of a value: at most maxCount, bounded by the array end in either direction.
TEST_F(Arrays, MultiplicityRunsAndWordCopies) {
  const double k[9] = {0, 0, 0, 0.5, 0.5 + 1e-9, 0.7, 1, 1, 1};
  EXPECT_EQ(FindMultOfValInArray(k, 9, 0.0, 0, 9, 1, 1e-6), 3);
  EXPECT_EQ(FindMultOfValInArray(k, 9, 0.0, 2, 9, 0, 1e-6), 3);
  EXPECT_EQ(FindMultOfValInArray(k, 9, 0.5, 3, 9, 1, 1e-6), 2);
  EXPECT_EQ(FindMultOfValInArray(k, 9, 0.5, 3, 9, 1, 1e-12), 1);
  EXPECT_EQ(FindMultOfValInArray(k, 9, 1.0, 6, 2, 1, 1e-6), 2);
  EXPECT_EQ(FindMultOfValInArray(k, 9, 1.0, 8, 9, 1, 1e-6), 1);  // the end stops it
  EXPECT_EQ(FindMultOfValInArray(k, 9, 1.0, 9, 9, 1, 1e-6), 0);
  EXPECT_EQ(FindMultOfValInArray(nullptr, 9, 1.0, 0, 9, 1, 1e-6), 0);
  // Word copies of every length up to a few words, tails included.
  unsigned char src[23], dst[23];
  for (int i = 0; i < 23; ++i) src[i] = static_cast<unsigned char>(3 * i + 1);
  for (long len = 0; len <= 23; ++len) {
    std::fill(dst, dst + 23, 0);
    EXPECT_EQ(ZK_hMemCpy(dst, src, len), 0);
    EXPECT_TRUE(std::equal(src, src + len, dst) && std::count(dst + len, dst + 23, 0) == 23 - len);
  }
}

TEST_F(Arrays, MatrixProductsAndTransposesAgree) {
  std::mt19937 rng(8);
  const int m = 4, k = 3, n = 5;
  double** A = allocate_matrix_ff(m, k);
  double** B = allocate_matrix_ff(k, n);
  double** C = allocate_matrix_ff(m, n);
  double** At = allocate_matrix_ff(k, m);
  double** Bt = allocate_matrix_ff(n, k);
  double** Ct = allocate_matrix_ff(n, m);
  double** D = allocate_matrix_ff(n, m);
  for (int i = 0; i < m; ++i) std::copy_n(RandomVector(rng, k).begin(), k, A[i]);
  for (int i = 0; i < k; ++i) std::copy_n(RandomVector(rng, n).begin(), n, B[i]);
  multiply_matrices_ff_ff_ff(A, B, C, m, k, k, n);
  // (A B)^T = B^T A^T.
  transpose_matrix_ff(A, At, m, k);
  transpose_matrix_fh(B, Bt, 0, k - 1, 0, n - 1);
  multiply_matrices_ff_ff_ff(Bt, At, D, n, k, k, m);
  transpose_matrix_ff(C, Ct, m, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) EXPECT_NEAR(D[i][j], Ct[i][j], 1e-14);
  // A product with one column of B is the matrix-vector product.
  std::vector<double> col(k), out(m, 9.0);
  for (int c = 0; c < n; ++c) {
    for (int i = 0; i < k; ++i) col[i] = B[i][c];
    multiply_matrix_vector_ff_ff_ff(A, col.data(), out.data(), m, k, k);
    for (int i = 0; i < m; ++i) EXPECT_EQ(out[i], C[i][c]);
  }
  // Wrong sizes: nothing written, and the vector form says so.
  C[0][0] = 42.0, out[0] = 42.0;
  multiply_matrices_ff_ff_ff(A, B, C, m, k, n, n);
  multiply_matrix_vector_ff_ff_ff(A, col.data(), out.data(), m, k, k + 1);
  EXPECT_TRUE(C[0][0] == 42.0 && out[0] == 42.0);
  EXPECT_NE(Messages().find("Matrix error: wrong size."), std::string::npos);
  // The element-wise product of A and A is A squared entry by entry.
  transpose_matrix_ff(At, D, k, m);  // D = A again (as m x k within its n x m rows)
  MatrixMatrixDotProduct(D, A, m, k);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < k; ++j) EXPECT_EQ(D[i][j], A[i][j] * A[i][j]);
  for (double** M : {A, B, C, At, Bt, Ct, D}) matrix_free_ff(M);
}

// Matrix and flat copies undo each other; column writes pick their source; the polyline grid
// joins neighbours.
TEST_F(Arrays, CopiesColumnWritesAndGridPolylines) {
  std::mt19937 rng(12);
  const int rows = 4, cols = 5;
  const std::vector<double> flat = RandomVector(rng, rows * cols);
  double** M = allocate_matrix_ff(rows + 1, cols + 2);
  cp_vec_to_matrix_fh_fh(flat.data(), M, cols, rows);
  std::vector<double> back(rows * cols), part(2 * 3);
  CopyMatrixToArray(M, 0, cols - 1, 0, rows - 1, back.data());
  EXPECT_EQ(back, flat);
  CopyMatrixToArray(M, 1, 3, 2, 3, part.data());  // rows 2..3, columns 1..3
  EXPECT_EQ(part, (std::vector<double>{flat[11], flat[12], flat[13], flat[16], flat[17], flat[18]}));
  // The last-column test: 1 when some entry of the last column is not zero.
  for (int r = 0; r < rows; ++r) M[r][cols - 1] = 0.0;
  EXPECT_EQ(IsLastColZeros_h(M, rows, cols), 0);
  M[rows - 1][cols - 1] = 1e-300;
  EXPECT_EQ(IsLastColZeros_f(M, rows, cols), 1);
  matrix_free_ff(M);
  // Column writes: from B, the mean of A and B, or given values.
  const double a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {10, 20, 30, 40, 50, 60}, vals[3] = {7, 8, 9};
  double dst[7] = {};
  SetValsOfMatCol(vals, dst, a, b, 1, 0, 1, 2, 2, 2, 3, 1);
  EXPECT_TRUE(dst[1] == 20 && dst[3] == 40 && dst[5] == 60 && dst[0] == 0 && dst[2] == 0);
  SetValsOfMatCol(vals, dst, a, b, 0, 1, 0, 3, 1, 1, 3, 2);
  EXPECT_TRUE(dst[0] == 6 && dst[3] == 11.5 && dst[6] == 17);
  SetValsOfMatCol(vals, dst, a, b, 0, 0, 0, 1, 1, 1, 3, 3);
  EXPECT_TRUE(dst[0] == 7 && dst[1] == 8 && dst[2] == 9);
  SetValsOfMatCol(vals, dst, a, b, 0, 0, 0, 1, 1, 1, 3, 4);  // unknown mode
  EXPECT_EQ(dst[0], 7);

  // Grid polylines: every segment joins two grid neighbours, and every neighbour pair is one
  // segment: 2 (nu - 1) nv + 2 (nv - 1) nu end points.
  const int nu = 4, nv = 3;
  std::vector<double> x(nu * nv), y(nu * nv), z(nu * nv);
  for (int g = 0; g < nu * nv; ++g) x[g] = g % nu, y[g] = g / nu, z[g] = g;
  const int segs = (nu - 1) * nv + (nv - 1) * nu;
  std::vector<double> ox(2 * segs), oy(2 * segs), oz(2 * segs);
  Copy3DPointsToPolylineGrid(x.data(), y.data(), z.data(), ox.data(), oy.data(), oz.data(), nu, nv);
  std::vector<std::pair<int, int>> seen;
  for (int s = 0; s < segs; ++s) {
    EXPECT_EQ(std::fabs(ox[2 * s] - ox[2 * s + 1]) + std::fabs(oy[2 * s] - oy[2 * s + 1]), 1.0);
    seen.push_back({static_cast<int>(oz[2 * s]), static_cast<int>(oz[2 * s + 1])});
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

TEST_F(Arrays, RangesAreTheSmallestAndLargestValues) {
  std::mt19937 rng(3);
  const std::vector<double> d = RandomVector(rng, 17);
  const std::vector<float> fx(d.begin(), d.end());
  std::vector<float> fy(fx.rbegin(), fx.rend()), fz(17);
  for (int i = 0; i < 17; ++i) fz[i] = fx[i] * fx[i];
  double lo = 0, hi = 0;
  GetMinMaxD(d.data(), 17, &lo, &hi);
  EXPECT_TRUE(lo == *std::min_element(d.begin(), d.end()) && hi == *std::max_element(d.begin(), d.end()));
  GetMinMaxF(fz.data(), 17, &lo, &hi);
  EXPECT_TRUE(lo == *std::min_element(fz.begin(), fz.end()) && hi == *std::max_element(fz.begin(), fz.end()));
  double untouched = 5.0;
  GetMinMaxD(d.data(), 0, &untouched, &untouched);
  EXPECT_EQ(untouched, 5.0);
  double box[6], b[6];
  Compute3DArrayMinsMaxs_f(&b[0], &b[3], &b[1], &b[4], &b[2], &b[5], fx.data(), fy.data(), fz.data(), 17);
  Cloud* c = MakeCld(fx.data(), fy.data(), fz.data(), 17, box);
  ASSERT_NE(c, nullptr);
  double g[6];
  GetCloudMinMax(c, &g[0], &g[1], &g[2], &g[3], &g[4], &g[5]);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(g[i] == box[i] && b[i] == box[i]) << i;
  FreeCloud(c);
  Compute3DArrayMinsMaxs_f(&b[0], &b[3], &b[1], &b[4], &b[2], &b[5], fx.data(), fy.data(), fz.data(), 0);
  EXPECT_TRUE(b[0] == kEmptyBoxBound && b[3] == -kEmptyBoxBound);
}

// A range that starts before the first row, column or entry names memory the caller does not
// own: every block copy and product refuses it and leaves its output as it was.
TEST_F(Arrays, RangesStartingBeforeTheFirstEntryAreRefused) {
  const int n = 4;
  double** A = allocate_matrix_ff(n, n);
  double** C = allocate_matrix_ff(n, n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) A[r][c] = 1.0 + r * n + c, C[r][c] = -7.0;
  std::vector<double> out(n * n + n, -7.0);
  const std::vector<double> untouched = out;
  for (int start = -1; start >= -2; --start) {
    CopyMatrixToArray(A, start, n - 1, 0, n - 1, out.data());
    CopyMatrixToArray(A, 0, n - 1, start, n - 1, out.data());
    FillMatFromSubMat(out.data(), A[0], start, 2, n, 2);
    FillMatFromSubMat(out.data(), A[0], 0, 2, start, 2);
    FillSubMatFromMat(A[0], out.data(), start, 2, n, 2, 0);
    FillSubMatFromMat(A[0], out.data(), 0, 2, start, 2, 1);
    multiply_matrix_vector_fh_fh_ff(A, A[0], out.data(), start, n - 1, n - 1);
    EXPECT_EQ(out, untouched) << start;
    transpose_matrix_fh(A, C, start, n - 1, 0, n - 1);
    transpose_matrix_fh(A, C, 0, n - 1, start, n - 1);
    multiply_matrices_fh_fh_ff(A, A, C, start, n - 1, 0, n - 1, 0, n - 1);
    multiply_matrices_fh_fh_ff(A, A, C, 0, n - 1, start, n - 1, 0, n - 1);
    multiply_matrices_fh_fh_ff(A, A, C, 0, n - 1, 0, n - 1, start, n - 1);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) EXPECT_EQ(C[r][c], -7.0);
  }
  // No last column to test: none of it is non-zero.
  EXPECT_EQ(IsLastColZeros_h(A, n, 0), 0);
  EXPECT_EQ(IsLastColZeros_f(A, n, -1), 0);
  EXPECT_EQ(IsLastColZeros_h(A, n, n), 1);
  // The sort keeps to the entries it is given.
  std::vector<double> keys = {3, 1, 2};
  quicksort(keys.data() + 1, -1, 1);
  EXPECT_EQ(keys, (std::vector<double>{3, 1, 2}));
  quicksort(keys.data(), 0, 2);
  EXPECT_EQ(keys, (std::vector<double>{1, 2, 3}));
  matrix_free_ff(A);
  matrix_free_ff(C);
}

}  // namespace
