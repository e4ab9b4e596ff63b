#include "foundation/algebra.h"

#include <algorithm>
#include <cmath>

namespace {

// A quotient num / det is refused when it would reach 1e10 in magnitude; written as a product so
// that det = 0 needs no special case (0 >= 0 refuses it).
constexpr double kCramerLimit = 1e10;

bool QuotientOverflows(double num, double det) {
  return std::fabs(num) >= std::fabs(kCramerLimit * det);
}

}  // namespace

int SolveLin2(double a, double b, double e, double c, double d, double f, double* x, double* y) {
  const double det = a * d - c * b;
  const double nx = d * e - f * b;
  if (QuotientOverflows(nx, det)) return -2;
  *x = nx / det;
  const double ny = f * a - c * e;
  if (QuotientOverflows(ny, det)) return -2;
  *y = ny / det;
  return 0;
}

int SolveLin3(double a1, double b1, double c1, double d1, double a2, double b2, double c2,
              double d2, double a3, double b3, double c3, double d3, double* x, double* y,
              double* z) {
  // Cofactor expansion along the first column; each numerator replaces one column by d.
  const double det = a1 * (b2 * c3 - b3 * c2) + a2 * (b3 * c1 - b1 * c3) + a3 * (b1 * c2 - b2 * c1);
  const double nx = d1 * (b2 * c3 - b3 * c2) + d2 * (b3 * c1 - b1 * c3) + d3 * (b1 * c2 - b2 * c1);
  const double ny = a1 * (d2 * c3 - d3 * c2) + a2 * (d3 * c1 - d1 * c3) + a3 * (d1 * c2 - d2 * c1);
  const double nz = a1 * (b2 * d3 - b3 * d2) + a2 * (b3 * d1 - b1 * d3) + a3 * (b1 * d2 - b2 * d1);
  const double largest = std::max({std::fabs(nx), std::fabs(ny), std::fabs(nz)});
  if (QuotientOverflows(largest, det)) return -2;
  *x = nx / det;
  *y = ny / det;
  *z = nz / det;
  return 0;
}

int Poly1Interpolate(double x0, double y0, double x1, double y1, double x, double* out) {
  if (x1 != x0) {
    *out = (x - x0) / (x1 - x0) * (y1 - y0) + y0;
    return 0;
  }
  // A vertical pair defines no function of x: only the single point itself can be answered.
  if (y1 != y0 || x != x0) return -2;
  *out = y0;
  return 0;
}

int Poly2Interpolate(double x0, double y0, double x1, double y1, double x2, double y2, double x,
                     double* out) {
  // Parabola y0 + A (x^2 - x0^2) + B (x - x0): subtract the equations at x1 and x2 from x0's.
  double A = 0.0;
  double B = 0.0;
  if (SolveLin2(x0 * x0 - x1 * x1, x0 - x1, y0 - y1, x0 * x0 - x2 * x2, x0 - x2, y0 - y2, &A, &B) ==
      0) {
    *out = y0 + A * (x * x - x0 * x0) + B * (x - x0);
    return 0;
  }
  // Two abscissas coincide: those points must agree, and the line through the distinct ones
  // serves.
  if (x1 == x0) {
    if (y1 != y0) return -2;
    return Poly1Interpolate(x0, y0, x2, y2, x, out);
  }
  if (x2 != x0) {  // then x2 == x1
    if (y2 != y1) return -2;
    return Poly1Interpolate(x0, y0, x1, y1, x, out);
  }
  if (y2 != y0) return -2;
  return Poly1Interpolate(x0, y0, x1, y1, x, out);
}
