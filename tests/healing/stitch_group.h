// Small surface groups for the heal tests and a seam measure taken with the textbook
// evaluator, independent of the kernel's boundary structure.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "tests/support/builders.h"

namespace stitchtest {

// Owns a group of surfaces for one test.
struct Group {
  std::vector<Bspline*> srfs;
  Group() = default;
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;
  ~Group() {
    for (Bspline* s : srfs) FreeBspline(s);
  }
  Bspline** data() { return srfs.data(); }
  int size() const { return static_cast<int>(srfs.size()); }
};

// Bicubic patch of nu x nv control points over [x0, x0 + 1] x [0, 1] on the height field
// z = 0.2 y^2 - 0.1 x y, then turned by kinkDegrees about the line x = x0, z = 0 (the y axis
// through the seam) and lifted by lift.
inline Bspline* Patch(double x0, double kinkDegrees, double lift, int nu = 6, int nv = 6) {
  const double a = kinkDegrees * M_PI / 180.0;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double x = x0 + double(i) / (nu - 1), y = double(j) / (nv - 1);
      const double z = 0.2 * y * y - 0.1 * x * y;
      const double dx = x - x0;
      pts.insert(pts.end(), {x0 + dx * std::cos(a) - z * std::sin(a), y, dx * std::sin(a) + z * std::cos(a) + lift});
    }
  return BuildSurface(3, 3, nu, nv, pts);
}

// Patch A on [0, 1] and patch B on [1, 2]; B is lifted by gap and kinked about the seam.
inline void TwoPatches(Group& g, double gap, double kinkDegrees) {
  g.srfs.push_back(Patch(0.0, 0.0, 0.0));
  g.srfs.push_back(Patch(1.0, kinkDegrees, gap));
}

inline double SegmentDistance(const double p[3], const double a[3], const double b[3]) {
  double ab[3], ap[3];
  double l2 = 0.0, t = 0.0;
  for (int c = 0; c < 3; ++c) {
    ab[c] = b[c] - a[c];
    ap[c] = p[c] - a[c];
    l2 += ab[c] * ab[c];
    t += ab[c] * ap[c];
  }
  t = l2 > 0.0 ? std::clamp(t / l2, 0.0, 1.0) : 0.0;
  double d2 = 0.0;
  for (int c = 0; c < 3; ++c) d2 += (ap[c] - t * ab[c]) * (ap[c] - t * ab[c]);
  return std::sqrt(d2);
}

// Point of a surface on its side (1 u-min, 2 v-min, 3 u-max, 4 v-max) at fraction s of the side.
inline void SidePoint(const Bspline* b, int side, double s, double out[3]) {
  const double u = side == 1 ? b->umin : side == 3 ? b->umax : b->umin + s * (b->umax - b->umin);
  const double v = side == 2 ? b->vmin : side == 4 ? b->vmax : b->vmin + s * (b->vmax - b->vmin);
  RefEvalSurface(b, u, v, out);
}

// Largest distance from `samples` points of side sa of a to the dense polyline of side sb of b.
inline double SeamGap(const Bspline* a, int sa, const Bspline* b, int sb, int samples = 200, int dense = 2000) {
  std::vector<double> poly(3 * (dense + 1));
  for (int k = 0; k <= dense; ++k) SidePoint(b, sb, double(k) / dense, &poly[3 * k]);
  double worst = 0.0;
  for (int i = 0; i <= samples; ++i) {
    double p[3];
    SidePoint(a, sa, double(i) / samples, p);
    double best = 1e300;
    for (int k = 0; k < dense; ++k) best = std::min(best, SegmentDistance(p, &poly[3 * k], &poly[3 * k + 3]));
    worst = std::max(worst, best);
  }
  return worst;
}

// Control points of a surface, x y z per point, rows v, columns u.
inline std::vector<double> Net(const Bspline* b) {
  std::vector<double> out;
  for (int j = 0; j < NumCtrlV(b); ++j)
    for (int i = 0; i < NumCtrlU(b); ++i) out.insert(out.end(), {b->X[j][i], b->Y[j][i], b->Z[j][i]});
  return out;
}

// Rational flag, degrees, control counts and both knot vectors in one list.
inline std::vector<double> Structure(const Bspline* b) {
  std::vector<double> out = {double(b->rational), double(b->degreeU), double(b->degreeV), double(NumCtrlU(b)),
                             double(NumCtrlV(b))};
  out.insert(out.end(), b->knotsU, b->knotsU + NumKnotsU(b));
  out.insert(out.end(), b->knotsV, b->knotsV + NumKnotsV(b));
  return out;
}

}  // namespace stitchtest
