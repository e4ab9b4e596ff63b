#include "foundation/mathmat.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/bandsolve.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

// ---- n-vectors ------------------------------------------------------------------------------

int NormalizeVector(double* v, int n, double tol) {
  const double len = VectorMagnitude(v, n);
  if (!(len >= tol)) return -2;
  for (int i = 0; i < n; ++i) v[i] /= len;
  return 0;
}

double VectorMagnitude(const double* v, int n) { return std::sqrt(VectorDotProduct(v, v, n)); }

double VectorDotProduct(const double* a, const double* b, int n) {
  if (!a || !b) return 0.0;
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

void VectorScalerProduct(double* v, double s, int n) {
  if (!v) return;
  for (int i = 0; i < n; ++i) v[i] *= s;
}

void VectorVectorProduct(double* a, const double* b, int n) {
  if (!a || !b) return;
  for (int i = 0; i < n; ++i) a[i] *= b[i];
}

void VectorVectorProduct2(const double* a, const double* b, double* out, int n) {
  if (!a || !b || !out) return;
  for (int i = 0; i < n; ++i) out[i] = a[i] * b[i];
}

void VectorVectorDivision(double* a, const double* b, int n) {
  if (!a || !b) return;
  for (int i = 0; i < n; ++i) a[i] /= b[i];
}

void VectorVectorDivision_f(float* a, const float* b, int n) {
  if (!a || !b) return;
  for (int i = 0; i < n; ++i) a[i] = static_cast<float>(static_cast<double>(a[i]) / b[i]);
}

void VectorVectorSubtrct(double* a, const double* b, int n) {
  if (!a || !b) return;
  for (int i = 0; i < n; ++i) a[i] -= b[i];
}

void VectorVectorAdd(double* a, const double* b, int n) {
  if (!a || !b) return;
  for (int i = 0; i < n; ++i) a[i] += b[i];
}

void VectorSubtraction(const double* a, const double* b, double* out, int n) {
  if (!a || !b || !out) return;
  for (int i = 0; i < n; ++i) out[i] = a[i] - b[i];
}

void NegateVector(const double* a, double* out, int n) {
  if (!a || !out) return;
  for (int i = 0; i < n; ++i) out[i] = -a[i];
}

int IsEqualVectors(const double* a, const double* b, int n, double tol) {
  if (n > 0 && (!a || !b)) return 0;
  for (int i = 0; i < n; ++i)
    if (!(std::fabs(a[i] - b[i]) <= tol)) return 0;
  return 1;
}

void VectorScalerSubtraction(double* v, double s, int n, int mode) {
  for (int i = 0; i < n; ++i) v[i] = mode == 0 ? s - v[i] : v[i] - s;
}

void ScaleAndTransVector(double* v, int n, double scale, double shift) {
  for (int i = 0; i < n; ++i) v[i] = v[i] * scale + shift;
}

void TransVector(double* v, int n, double shift) {
  for (int i = 0; i < n; ++i) v[i] += shift;
}

void Fill1DArray_fh(double* a, int n, double value) {
  for (int i = 0; i < n; ++i) a[i] = value;
}

int PutVectorToZero(double* v, int n) {
  Fill1DArray_fh(v, n, 0.0);
  return 0;
}

int FindMultOfValInArray(const double* a, int n, double value, int start, int maxCount, int forward,
                         double tol) {
  if (!a || start < 0 || start >= n) return 0;
  const int limit = std::min(maxCount, forward ? n - start : start + 1);
  const int step = forward ? 1 : -1;
  int count = 0;
  for (int i = start; count < limit && std::fabs(a[i] - value) <= tol; i += step) ++count;
  return count;
}

int ZK_hMemCpy(void* dst, const void* src, long bytes) {
  auto* d = static_cast<unsigned char*>(dst);
  const auto* s = static_cast<const unsigned char*>(src);
  long i = 0;
  // Word by word and strictly forward: an overlapping copy behaves as the legacy one did.
  for (; i + 4 <= bytes; i += 4) {
    unsigned char w[4];
    std::memcpy(w, s + i, 4);
    std::memcpy(d + i, w, 4);
  }
  for (; i < bytes; ++i) d[i] = s[i];
  return 0;
}

// ---- row-pointer matrices -------------------------------------------------------------------

void transpose_matrix_ff(double** A, double** B, int rows, int cols) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) B[j][i] = A[i][j];
}

void transpose_matrix_fh(double** A, double** B, int r0, int r1, int c0, int c1) {
  if (!A || !B || r0 < 0 || c0 < 0) return;
  for (int i = r0; i <= r1; ++i)
    for (int j = c0; j <= c1; ++j) B[j][i] = A[i][j];
}

void multiply_matrices_ff_ff_ff(double** A, double** B, double** C, int rowsA, int colsA, int rowsB,
                                int colsB) {
  if (rowsB != colsA) return;
  multiply_matrices_fh_fh_ff(A, B, C, 0, rowsA - 1, 0, colsA - 1, 0, colsB - 1);
}

void multiply_matrices_fh_fh_ff(double** A, double** B, double** C, int i0, int i1, int k0, int k1, int j0,
                                int j1) {
  if (!A || !B || !C || i0 < 0 || k0 < 0 || j0 < 0) return;
  for (int i = i0; i <= i1; ++i)
    for (int j = j0; j <= j1; ++j) {
      double s = 0.0;
      for (int k = k0; k <= k1; ++k) s += A[i][k] * B[k][j];
      C[i][j] = s;
    }
}

void multiply_matrix_vector_ff_ff_ff(double** M, const double* v, double* out, int rows, int cols, int n) {
  if (n != cols) {
    InfoMessageFormat("%s", MSGstr("Matrix error: wrong size."));
    return;
  }
  multiply_matrix_vector_fh_fh_ff(M, v, out, 0, rows - 1, cols - 1);
}

void multiply_matrix_vector_fh_fh_ff(double** M, const double* v, double* out, int r0, int r1, int lastCol) {
  if (!M || !v || !out || r0 < 0) return;
  for (int i = r0; i <= r1; ++i) out[i] = VectorDotProduct(M[i], v, lastCol + 1);
}

void MatrixMatrixDotProduct(double** A, double** B, int rows, int cols) {
  for (int i = 0; i < rows; ++i) VectorVectorProduct(A[i], B[i], cols);
}

// ---- fixed unknowns -------------------------------------------------------------------------

namespace {

// Shared by the one- and three-right-hand-side forms: vals holds nRhs values per fixed
// unknown. All work happens on scratch copies of rhs and fixIdx, so a refused call (bad
// indices, no scratch) leaves the caller's arrays as they were; the band is only touched once
// everything needed has been obtained.
int EliminateFixedAndSolve(double** band, int nFix, const int* fixIdx, const double* vals, int n, int bw,
                           double* const* rhs, int nRhs) {
  if (n < 0 || nFix < 0 || nFix > n) return -2;
  if (nFix > 0 && (!fixIdx || !vals)) return -2;
  for (int r = 0; r < nRhs; ++r)
    if (n > 0 && !rhs[r]) return -2;
  if (n > 0 && (!band || bw < 1)) return -2;
  // Each elimination renumbers the later unknowns, which is only right for strictly
  // ascending indices; an index out of range would address rows that do not exist.
  for (int t = 0; t < nFix; ++t) {
    if (fixIdx[t] < 0 || fixIdx[t] >= n) return -2;
    if (t > 0 && fixIdx[t] <= fixIdx[t - 1]) return -2;
  }
  if (n == 0) return 0;

  TrackingScope scope;
  int* idx = nFix > 0 ? MallocArray<int>(nFix) : nullptr;
  if (KernelFailed()) return -2;
  auto* work = MallocArray<double>(n, nRhs);
  if (KernelFailed() || !work) return -2;
  double* b[3];
  for (int r = 0; r < nRhs; ++r) {
    b[r] = work + static_cast<long>(r) * n;
    std::memcpy(b[r], rhs[r], sizeof(double) * n);
  }
  if (nFix > 0) std::memcpy(idx, fixIdx, sizeof(int) * nFix);

  int m = n;
  int w = bw;
  for (int t = 0; t < nFix; ++t) {
    const int f = idx[t];
    // Column f times its value goes to the right-hand side: rows above through the band,
    // rows below through row f.
    for (int r = 0; r < nRhs; ++r) {
      const double v = vals[t * nRhs + r];
      for (int i = std::max(0, f - w + 1); i <= f; ++i) b[r][i] -= band[i][f - i] * v;
      for (int i = f + 1; i < m && i - f < w; ++i) b[r][i] -= band[f][i - f] * v;
    }
    // Drop column f from the rows above (their band entries past f slide left) ...
    for (int i = f - 1; i >= 0 && i >= f - w + 1; --i) {
      for (int k = f - i; k <= w - 2; ++k) band[i][k] = band[i][k + 1];
      band[i][w - 1] = 0.0;
    }
    // ... and row f itself; values move, the row pointers keep their order.
    for (int i = f + 1; i < m; ++i) {
      std::memcpy(band[i - 1], band[i], sizeof(double) * w);
      for (int r = 0; r < nRhs; ++r) b[r][i - 1] = b[r][i];
    }
    --m;
    for (int s = t + 1; s < nFix; ++s) --idx[s];
    if (w > 0 && IsLastColZeros_h(band, m, w) == 0) --w;
  }

  if (m > 0 && w > 0) {
    const int rc = SolveSymBandSystem(band, m, w, b, nRhs);
    if (rc != 0) return -2;
  }

  // Reassemble in index order: fixed values at the caller's indices, solved ones between.
  for (int r = 0; r < nRhs; ++r) {
    int t = 0;
    int q = 0;
    for (int i = 0; i < n; ++i) {
      if (t < nFix && fixIdx[t] == i) {
        rhs[r][i] = vals[t * nRhs + r];
        ++t;
      } else {
        rhs[r][i] = b[r][q++];
      }
    }
  }
  return 0;
}

}  // namespace

int ConvertMatToFixPts_h(double** band, int nFix, int* fixIdx, const double* fixVals, int n, int bw,
                         double* rhs) {
  double* const r[1] = {rhs};
  return EliminateFixedAndSolve(band, nFix, fixIdx, fixVals, n, bw, r, 1);
}

int ConvertMatToFixPtsCurve(double** band, int* fixIdx, const double* fixXYZ, int nFix, int n, int bw,
                            double* rhsX, double* rhsY, double* rhsZ) {
  double* const r[3] = {rhsX, rhsY, rhsZ};
  return EliminateFixedAndSolve(band, nFix, fixIdx, fixXYZ, n, bw, r, 3);
}
