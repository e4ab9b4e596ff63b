#include "curve/fitcurve.h"

#include <cmath>

double normalize_tarray3(const float* x, const float* y, const float* z, int n, double* t) {
  if (n < 1) return 0.0;
  t[0] = 0.0;
  if (n < 2) return 0.0;
  for (int i = 1; i < n; ++i) {
    const double dx = static_cast<double>(x[i]) - x[i - 1];
    const double dy = static_cast<double>(y[i]) - y[i - 1];
    const double dz = static_cast<double>(z[i]) - z[i - 1];
    t[i] = t[i - 1] + std::sqrt(dx * dx + dy * dy + dz * dz);
  }
  const double total = t[n - 1];
  for (int i = 1; i < n; ++i) t[i] = total > 1e-10 ? t[i] / total : 1e-10;
  return total;
}
