// Operations on n-vectors and row-pointer matrices (foundation/makemat.h), and the
// elimination of fixed unknowns from symmetric banded systems.
//
// Band storage: a row-pointer matrix of n rows and bw columns holding the upper band of a
// symmetric matrix A: band[i][0] = A[i][i], band[i][k] = A[i][i + k] for k < bw.
#pragma once

// ---- n-vectors (in place: the first array is overwritten). Every form does nothing when an
// ---- array is null; the dot product and magnitude are then 0, IsEqualVectors 0 and
// ---- NormalizeVector -2.
int NormalizeVector(double* v, int n, double tol);  // -2 and v unchanged when |v| < tol
double VectorMagnitude(const double* v, int n);                 // |v|
double VectorDotProduct(const double* a, const double* b, int n);  // a . b
void VectorScalerProduct(double* v, double s, int n);            // v *= s
void VectorVectorProduct(double* a, const double* b, int n);     // a[i] *= b[i]
void VectorVectorProduct2(const double* a, const double* b, double* out, int n);  // out[i] = a[i] b[i]
void VectorVectorDivision(double* a, const double* b, int n);    // a[i] /= b[i]
void VectorVectorDivision_f(float* a, const float* b, int n);    // the same on floats
void VectorVectorSubtrct(double* a, const double* b, int n);     // a -= b
void VectorVectorAdd(double* a, const double* b, int n);         // a += b
void VectorSubtraction(const double* a, const double* b, double* out, int n);  // out = a - b
void NegateVector(const double* a, double* out, int n);  // out = -a
// 1 when every |a[i] - b[i]| <= tol (a NaN never is), else 0 (also for a null array, n > 0).
int IsEqualVectors(const double* a, const double* b, int n, double tol);
// mode 0: v[i] = s - v[i]; otherwise v[i] = v[i] - s.
void VectorScalerSubtraction(double* v, double s, int n, int mode);
void ScaleAndTransVector(double* v, int n, double scale, double shift);  // v[i] = v[i] scale + shift
void TransVector(double* v, int n, double shift);       // v[i] += shift
void Fill1DArray_fh(double* a, int n, double value);    // a[i] = value
int PutVectorToZero(double* v, int n);                  // v[i] = 0; returns 0
// Length of the run of entries within tol of value starting at a[start], walking up
// (forward != 0) or down; at most maxCount. Used for knot multiplicities.
int FindMultOfValInArray(const double* a, int n, double value, int start, int maxCount, int forward,
                         double tol);
// Forward copy (4-byte words, then the tail bytes); overlapping ranges are not handled.
int ZK_hMemCpy(void* dst, const void* src, long bytes);

// ---- row-pointer matrices; index ranges written r0..r1 are inclusive ----------------------
// B = A transposed: over rows x cols, or over A's rows r0..r1 and columns c0..c1 (the latter does
// nothing for a null matrix or a negative r0 or c0).
void transpose_matrix_ff(double** A, double** B, int rows, int cols);
void transpose_matrix_fh(double** A, double** B, int r0, int r1, int c0, int c1);
// Does nothing when rowsB != colsA.
void multiply_matrices_ff_ff_ff(double** A, double** B, double** C, int rowsA, int colsA, int rowsB,
                                int colsB);
// C[i][j] = sum over k0..k1 of A[i][k] B[k][j], for i in i0..i1 and j in j0..j1. Does nothing for a
// null matrix or a negative i0, k0 or j0.
void multiply_matrices_fh_fh_ff(double** A, double** B, double** C, int i0, int i1, int k0, int k1, int j0,
                                int j1);
// Shows "Matrix error: wrong size." and leaves out alone when n != cols.
void multiply_matrix_vector_ff_ff_ff(double** M, const double* v, double* out, int rows, int cols, int n);
// out[i] = M[i][0..lastCol] . v for the rows r0..r1. Does nothing for a null array or r0 < 0.
void multiply_matrix_vector_fh_fh_ff(double** M, const double* v, double* out, int r0, int r1, int lastCol);
// A[i][j] *= B[i][j] over rows x cols.
void MatrixMatrixDotProduct(double** A, double** B, int rows, int cols);

// ---- fixed unknowns -------------------------------------------------------------------------
// Solves the n x n banded system (band, rhs) with the unknowns fixIdx[0..nFix-1] held at
// fixVals; rhs receives all n unknowns. fixIdx must be strictly ascending inside 0..n-1.
// The band is left reduced and factored; fixIdx is restored. Returns 0, or -2 for bad
// indices or missing scratch, in which case band, rhs and fixIdx are untouched.
int ConvertMatToFixPts_h(double** band, int nFix, int* fixIdx, const double* fixVals, int n, int bw,
                         double* rhs);
// The same for three right-hand sides sharing one matrix; fixXYZ holds x, y, z per fixed
// unknown. With nFix = 0 it solves directly.
int ConvertMatToFixPtsCurve(double** band, int* fixIdx, const double* fixXYZ, int nFix, int n, int bw,
                            double* rhsX, double* rhsY, double* rhsZ);
