#include "foundation/integral.h"

#include <cmath>
#include <numbers>

int ComputeGaussLegendreCoefi(double a, double b, int n, double* x, double* w) {
  if (n < 1 || !std::isfinite(a) || !std::isfinite(b) || !std::isfinite(b - a)) return -2;
  const double xm = 0.5 * (a + b);
  const double xl = 0.5 * (b - a);
  // The roots are symmetric about 0: find the (n + 1) / 2 non-negative ones by Newton's method
  // from the classical cosine estimate, and mirror them.
  for (int i = 1; i <= (n + 1) / 2; ++i) {
    double z = std::cos(std::numbers::pi * (i - 0.25) / (n + 0.5));
    double pp = 0.0;
    for (int iter = 0; iter < 101; ++iter) {
      // P_n(z) by the three-term recurrence, keeping P_{n-1} for the derivative.
      double p1 = 1.0;
      double p2 = 0.0;
      for (int j = 1; j <= n; ++j) {
        const double p3 = p2;
        p2 = p1;
        p1 = ((2.0 * j - 1.0) * z * p2 - (j - 1.0) * p3) / j;
      }
      pp = n * (z * p1 - p2) / (z * z - 1.0);
      const double z1 = z;
      z = z1 - p1 / pp;
      if (std::fabs(z - z1) <= 1e-15) break;
    }
    x[i - 1] = xm - xl * z;
    x[n - i] = xm + xl * z;
    w[i - 1] = 2.0 * xl / ((1.0 - z * z) * pp * pp);
    w[n - i] = w[i - 1];
  }
  return 0;
}
