#include "foundation/dispmat.h"

#include <algorithm>
#include <cstring>

#include "foundation/vec3.h"

void CopyMatrixToArray(double** M, int c0, int c1, int r0, int r1, double* out) {
  const int width = c1 - c0 + 1;
  if (!M || !out || width <= 0 || c0 < 0 || r0 < 0) return;
  for (int r = r0; r <= r1; ++r, out += width) std::memcpy(out, M[r] + c0, sizeof(double) * width);
}

void cp_vec_to_matrix_fh_fh(const double* flat, double** M, int cols, int rows) {
  if (cols <= 0 || rows <= 0 || !flat || !M) return;
  for (int r = 0; r < rows; ++r) std::memcpy(M[r], flat + static_cast<long>(r) * cols, sizeof(double) * cols);
}

int IsLastColZeros_h(double** M, int rows, int cols) {
  if (!M || cols < 1) return 0;
  for (int i = 0; i < rows; ++i)
    if (M[i][cols - 1] != 0.0) return 1;
  return 0;
}

int IsLastColZeros_f(double** M, int rows, int cols) { return IsLastColZeros_h(M, rows, cols); }

void FlipMatrix(double* M, int cols, int rows, int byRows) {
  if (!M || cols <= 0 || rows <= 0) return;
  if (byRows == 0) {
    for (int r = 0; r < rows; ++r) std::reverse(M + static_cast<long>(r) * cols, M + static_cast<long>(r + 1) * cols);
    return;
  }
  for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(M + static_cast<long>(top) * cols, M + static_cast<long>(top + 1) * cols,
                     M + static_cast<long>(bottom) * cols);
}

void FillMatFromSubMat(double* dst, const double* src, int offset, int cols, int stride, int rows) {
  if (!dst || !src || rows < 1 || cols <= 0 || offset < 0 || stride < 0) return;
  for (int r = 0; r < rows; ++r)
    std::memcpy(dst + static_cast<long>(r) * cols, src + offset + static_cast<long>(r) * stride,
                sizeof(double) * cols);
}

void FillSubMatFromMat(const double* src, double* dst, int offset, int cols, int stride, int rows,
                       int transposed) {
  if (!src || !dst || rows < 1 || cols < 1 || offset < 0 || stride < 0) return;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const long at = transposed == 0 ? offset + static_cast<long>(r) * stride + c
                                      : offset + static_cast<long>(c) * stride + r;
      dst[at] = src[static_cast<long>(r) * cols + c];
    }
}

void SetValsOfMatCol(const double* vals, double* dst, const double* srcA, const double* srcB, int dstOff,
                     int aOff, int bOff, int dstStride, int aStride, int bStride, int count, int mode) {
  if (!dst || mode < 1 || mode > 3) return;
  for (int k = 0; k < count; ++k) {
    double v;
    if (mode == 1)
      v = srcB[bOff + static_cast<long>(k) * bStride];
    else if (mode == 2)
      v = (srcA[aOff + static_cast<long>(k) * aStride] + srcB[bOff + static_cast<long>(k) * bStride]) / 2.0;
    else
      v = vals[k];
    dst[dstOff + static_cast<long>(k) * dstStride] = v;
  }
}

void Copy3DPointsToPolylineGrid(const double* x, const double* y, const double* z, double* outX,
                                double* outY, double* outZ, int nu, int nv) {
  if (!x || !y || !z || !outX || !outY || !outZ) return;
  long o = 0;
  auto put = [&](long p) {
    outX[o] = x[p];
    outY[o] = y[p];
    outZ[o] = z[p];
    ++o;
  };
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i + 1 < nu; ++i) {
      put(static_cast<long>(j) * nu + i);
      put(static_cast<long>(j) * nu + i + 1);
    }
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j + 1 < nv; ++j) {
      put(static_cast<long>(j) * nu + i);
      put(static_cast<long>(j + 1) * nu + i);
    }
}

void Compute3DArrayMinsMaxs_f(double* xmin, double* xmax, double* ymin, double* ymax, double* zmin,
                              double* zmax, const float* x, const float* y, const float* z, int n) {
  if (n > 0 && (!x || !y || !z)) return;
  *xmin = *ymin = *zmin = kEmptyBoxBound;
  *xmax = *ymax = *zmax = -kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    *xmin = std::min(*xmin, static_cast<double>(x[i]));
    *xmax = std::max(*xmax, static_cast<double>(x[i]));
    *ymin = std::min(*ymin, static_cast<double>(y[i]));
    *ymax = std::max(*ymax, static_cast<double>(y[i]));
    *zmin = std::min(*zmin, static_cast<double>(z[i]));
    *zmax = std::max(*zmax, static_cast<double>(z[i]));
  }
}
