#include "cloud/premove.h"

#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

int RemoveDuplicates_d(double* x, double* y, double* z, int n, double tol) {
  if (n <= 1) return n;
  TrackingScope scope;
  // The kept points are gathered first, so a failed allocation leaves the arrays as they were.
  double* kx = MallocArray<double>(n);
  double* ky = MallocArray<double>(n);
  double* kz = z ? MallocArray<double>(n) : nullptr;
  if (!kx || !ky || (z && !kz) || KernelFailed()) return -2;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const bool dup = i > 0 && std::fabs(x[i] - x[i - 1]) <= tol &&
                     std::fabs(y[i] - y[i - 1]) <= tol &&
                     (!z || std::fabs(z[i] - z[i - 1]) <= tol);
    if (dup) continue;
    kx[m] = x[i];
    ky[m] = y[i];
    if (z) kz[m] = z[i];
    ++m;
  }
  for (int i = 0; i < m; ++i) {
    x[i] = kx[i];
    y[i] = ky[i];
    if (z) z[i] = kz[i];
  }
  return m;
}
