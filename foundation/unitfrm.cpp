#include "foundation/unitfrm.h"

#include <algorithm>
#include <cmath>

namespace {

// Centroid and box of points whose coordinates are read through T (double or float); the sums
// are taken in double relative to the first point, so points far from the origin keep the
// digits of their spread.
template <class T>
UnitFrame FrameOf(const T* x, const T* y, const T* z, int n, bool planOnly) {
  UnitFrame f = IdentityUnitFrame();
  if (n < 1 || !x || !y || !z) return f;
  const T* a[3] = {x, y, z};
  double extent = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double first = a[c][0];
    double sum = 0.0, lo = first, hi = first;
    for (int i = 0; i < n; ++i) {
      const double v = a[c][i];
      sum += v - first;
      lo = std::min(lo, v), hi = std::max(hi, v);
    }
    f.centre[c] = first + sum / n;
    if (!std::isfinite(f.centre[c])) f.centre[c] = 0.0;
    if (!planOnly || c < 2) extent = std::max(extent, hi - lo);
  }
  f.size = extent > 0.0 && std::isfinite(extent) ? extent : 1.0;
  return f;
}

}  // namespace

UnitFrame IdentityUnitFrame() { return UnitFrame{{0.0, 0.0, 0.0}, 1.0}; }

UnitFrame UnitFrameOfPoints(const double* x, const double* y, const double* z, int n, bool planOnly) {
  return FrameOf(x, y, z, n, planOnly);
}

UnitFrame UnitFrameOfPointsF(const float* x, const float* y, const float* z, int n, bool planOnly) {
  return FrameOf(x, y, z, n, planOnly);
}

void PointsToUnitFrame(const UnitFrame& f, double* x, double* y, double* z, int n) {
  double* a[3] = {x, y, z};
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < n; ++i) a[c][i] = (a[c][i] - f.centre[c]) / f.size;
}

void PointsFromUnitFrame(const UnitFrame& f, double* x, double* y, double* z, int n) {
  double* a[3] = {x, y, z};
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < n; ++i) a[c][i] = f.centre[c] + f.size * a[c][i];
}

void PointToUnitFrame(const UnitFrame& f, const double p[3], double out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = (p[c] - f.centre[c]) / f.size;
}

void PointFromUnitFrame(const UnitFrame& f, const double p[3], double out[3]) {
  for (int c = 0; c < 3; ++c) out[c] = f.centre[c] + f.size * p[c];
}
