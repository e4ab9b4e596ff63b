#include "foundation/convert.h"

#include <cmath>
#include <numbers>

#include "foundation/cloudrec.h"

namespace {

constexpr double kPi = std::numbers::pi;

// Coordinates below this magnitude count as zero when an angle is taken from them.
constexpr double kAxisTol = 1e-4;

// Angle of (x, y) about the z axis in [0, 2pi), but for the legacy slightly negative angles of
// x > 0, -1e-4 <= y < 0.
double ThetaFromXY(double x, double y) {
  const bool xSmall = std::fabs(x) < kAxisTol;
  const bool ySmall = std::fabs(y) < kAxisTol;
  if (xSmall && ySmall) return 0.0;
  if (xSmall) return y > 0.0 ? kPi / 2.0 : 3.0 * kPi / 2.0;
  const double t = std::atan(y / x);
  if (x < 0.0) return t + kPi;
  if (y >= 0.0 || std::fabs(y) <= kAxisTol) return t;
  return t + 2.0 * kPi;
}

void CylindricalArraysToXYZ(double* a, double* b, double* c, int n) {
  for (int i = 0; i < n; ++i) theta_h_to_xyz(a[i], b[i], c[i], &a[i], &b[i], &c[i]);
}

void SphericalArraysToXYZ(double* a, double* b, double* c, int n) {
  for (int i = 0; i < n; ++i) theta_phi_to_xyz(a[i], b[i], c[i], &a[i], &b[i], &c[i]);
}

}  // namespace

void theta_h_to_xyz(double theta, double h, double r, double* x, double* y, double* z) {
  *x = r * std::cos(theta);
  *y = r * std::sin(theta);
  *z = h;
}

void xyz_to_theta_h(double x, double y, double z, double* theta, double* h, double* r) {
  *h = z;
  *r = std::sqrt(x * x + y * y);
  *theta = ThetaFromXY(x, y);
}

void theta_phi_to_xyz(double theta, double phi, double r, double* x, double* y, double* z) {
  *x = r * std::cos(theta) * std::sin(phi);
  *y = r * std::sin(theta) * std::sin(phi);
  *z = r * std::cos(phi);
}

void xyz_to_theta_phi(double x, double y, double z, double* theta, double* phi, double* r) {
  *r = std::sqrt(x * x + y * y + z * z);
  if (std::fabs(z) < kAxisTol) {
    *phi = kPi / 2.0;
  } else {
    *phi = std::atan(std::sqrt(x * x + y * y) / z);
    if (z < -kAxisTol) *phi += kPi;
  }
  *theta = ThetaFromXY(x, y);
}

void put_object_to_world(double* a, double* b, double* c, int n, int type, int mode) {
  if (type != 5) return;
  if (mode == 2 || mode == 6) {
    CylindricalArraysToXYZ(a, b, c, n);
  } else if (mode == 3 || mode == 7) {
    SphericalArraysToXYZ(a, b, c, n);
  }
}

void TransformArraysToXYZSpace(double* a, double* b, double* c, int n, int mode,
                               const Cloud* frame) {
  if (mode == 2) {
    SphericalArraysToXYZ(a, b, c, n);
    return;
  }
  if (mode != 1) return;
  CylindricalArraysToXYZ(a, b, c, n);
  if (!frame) return;
  // The axis point (o1, o2, o3) is given in axis-first order: code 0 adds it to (z, x, y),
  // code 1 to (y, z, x), any other code to (x, y, z).
  const double* o = frame->grid.cylCentre;
  double* first;
  double* second;
  double* third;
  if (frame->grid.rowAxis == 0) {
    first = c, second = a, third = b;
  } else if (frame->grid.rowAxis == 1) {
    first = b, second = c, third = a;
  } else {
    first = a, second = b, third = c;
  }
  for (int i = 0; i < n; ++i) {
    first[i] += o[0];
    second[i] += o[1];
    third[i] += o[2];
  }
}
