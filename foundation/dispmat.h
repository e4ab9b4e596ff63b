// Block copies between row-pointer matrices, flat row-major arrays and strided sub-blocks,
// and small grid and range helpers. A flat array is addressed with a start offset and a row
// stride (the distance between consecutive rows, at least the number of columns used).
#pragma once

// out receives rows r0..r1, columns c0..c1 (inclusive) of M, row by row. Does nothing for a null
// matrix or array, c1 < c0, or a negative r0 or c0.
void CopyMatrixToArray(double** M, int c0, int c1, int r0, int r1, double* out);
// M[r][c] = flat[r cols + c]. Does nothing for a null array.
void cp_vec_to_matrix_fh_fh(const double* flat, double** M, int cols, int rows);
// 0 when M[i][cols - 1] is exactly 0 for every i < rows (also for rows < 1, cols < 1 or a null M),
// 1 otherwise: the legacy sense is "1 = the last column is not all zero", and callers test it that
// way.
int IsLastColZeros_f(double** M, int rows, int cols);
int IsLastColZeros_h(double** M, int rows, int cols);  // the same
// byRows 0: reverses every row of the flat rows x cols array; otherwise reverses the row order.
void FlipMatrix(double* M, int cols, int rows, int byRows);
// dst[r cols + c] = src[offset + r stride + c]. Does nothing for a null array, rows or cols < 1,
// or a negative offset or stride.
void FillMatFromSubMat(double* dst, const double* src, int offset, int cols, int stride, int rows);
// transposed 0: dst[offset + r stride + c] = src[r cols + c]; else dst[offset + c stride + r].
// Does nothing for a null array, rows or cols < 1, or a negative offset or stride.
void FillSubMatFromMat(const double* src, double* dst, int offset, int cols, int stride, int rows,
                       int transposed);
// For k < count sets dst[dstOff + k dstStride] to: mode 1 srcB[bOff + k bStride]; mode 2 the
// mean of that and srcA[aOff + k aStride]; mode 3 vals[k]. Other modes do nothing.
void SetValsOfMatCol(const double* vals, double* dst, const double* srcA, const double* srcB, int dstOff,
                     int aOff, int bOff, int dstStride, int aStride, int bStride, int count, int mode);
// Grid lines of an nu x nv grid (u fastest, at least 2 x 2) as segments of two end points
// each: every row first (2 (nu - 1) points per row), then every column (2 (nv - 1) points).
// Does nothing for a null array.
void Copy3DPointsToPolylineGrid(const double* x, const double* y, const double* z, double* outX,
                                double* outY, double* outZ, int nu, int nv);
// Per-axis range of n float points; n < 1 gives the empty range +/-3.37e38. Does nothing for a
// null array with n > 0.
void Compute3DArrayMinsMaxs_f(double* xmin, double* xmax, double* ymin, double* ymax, double* zmin,
                              double* zmax, const float* x, const float* y, const float* z, int n);
