#include "quadric/cpoint.h"

#include <cmath>

#include "cloud/princip.h"
#include "foundation/geometry.h"

namespace {

constexpr double kTolerance = 0.001;

template <class T>
int Collinear(const T* x, const T* y, const T* z, int n) {
  if (n < 3) return 1;
  const double a[3] = {static_cast<double>(x[0]), static_cast<double>(y[0]), static_cast<double>(z[0])};
  int bi = 1;
  for (; bi < n; ++bi) {
    const double d[3] = {x[bi] - a[0], y[bi] - a[1], z[bi] - a[2]};
    if (std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) > kTolerance) break;
  }
  if (bi == n) return 1;
  const double b[3] = {static_cast<double>(x[bi]), static_cast<double>(y[bi]), static_cast<double>(z[bi])};
  for (int i = bi + 1; i < n; ++i) {
    const double p[3] = {static_cast<double>(x[i]), static_cast<double>(y[i]), static_cast<double>(z[i])};
    double foot[3], d2 = 0.0;
    LinePntMinDistSq(p, a, b, foot, &d2);
    if (std::sqrt(std::fabs(d2)) > kTolerance) return 0;
  }
  return 1;
}

}  // namespace

int IsPointsCoplanar_f(const float* x, const float* y, const float* z, int n) {
  if (!x || !y || !z) return 0;
  if (n < 4) return 1;
  double eigenvalues[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, eigenvalues, axes) != 0) return 0;
  return std::sqrt(std::fabs(eigenvalues[2])) < kTolerance ? 1 : 0;
}

int IsPointsCollinear_f(const float* x, const float* y, const float* z, int n) { return Collinear(x, y, z, n); }

int IsPointsCollinear(const double* x, const double* y, const double* z, int n) { return Collinear(x, y, z, n); }
