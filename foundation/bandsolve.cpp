#include "foundation/bandsolve.h"

#include <algorithm>

int SolveSymBandSystem(double** band, int n, int W, double* const* rhs, int nRhs) {
  if (n <= 0) return 0;
  if (band == nullptr || W < 1) return -2;
  double** A = band;
  // Row k, in order: its pivot d_k = A[k][0] from the unscaled entries above it; those entries
  // then become multipliers l_jk = u_jk / d_j; the rest of row k is reduced by the earlier
  // rows (multiplier times still-unscaled entry); forward substitution rides in the same pass.
  for (int k = 0; k < n; ++k) {
    const int lo = std::max(0, k - W + 1);
    double d = A[k][0];
    for (int j = lo; j < k; ++j) d -= A[j][k - j] * A[j][k - j] / A[j][0];
    if (d == 0.0) return -2;
    A[k][0] = d;
    for (int j = lo; j < k; ++j) A[j][k - j] /= A[j][0];
    // Entries past the last row (k + e > n - 1) belong to no unknown and are left alone.
    const int eMax = std::min(W - 1, n - 1 - k);
    for (int e = 1; e <= eMax; ++e) {
      double s = A[k][e];
      for (int j = std::max(lo, k + e - W + 1); j < k; ++j) s -= A[j][k - j] * A[j][k + e - j];
      A[k][e] = s;
    }
    for (int r = 0; r < nRhs; ++r) {
      double* b = rhs[r];
      double s = b[k];
      for (int j = lo; j < k; ++j) s -= A[j][k - j] * b[j];
      b[k] = s;
    }
  }
  // Back substitution with Lt, row k's band now holding l_k,k+e.
  for (int r = 0; r < nRhs; ++r) {
    double* b = rhs[r];
    for (int k = n - 1; k >= 0; --k) {
      double s = b[k] / A[k][0];
      const int eMax = std::min(W - 1, n - 1 - k);
      for (int e = 1; e <= eMax; ++e) s -= A[k][e] * b[k + e];
      b[k] = s;
    }
  }
  return 0;
}
