// Surfaces with exact intersections for the intersection and fillet tests: planes, half and
// whole cylinders, cones, spheres and a sphere patch (rational quadratic arcs, exact), each placed by a scale
// (and a shift) so that the same pair can be built at every unit of length and place.
#pragma once

#include <cmath>
#include <vector>

#include "bspline/smake.h"
#include "tests/support/builders.h"

namespace shapes {

// Greville abscissae of the uniform clamped knots of degree p with n control points on [0, 1].
inline std::vector<double> Greville(int p, int n) {
  const std::vector<double> k = ClampedKnots(p, n);
  std::vector<double> g(n);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 1; j <= p; ++j) s += k[i + j];
    g[i] = s / p;
  }
  return g;
}

// The plane patch O + u e1 + v e2, (u, v) in [0, 1]^2, exactly (control points at the Greville
// abscissae), then scaled by s about the origin.
inline Bspline* Plane(const double O[3], const double e1[3], const double e2[3], double s = 1.0,
                      int p = 3, int n = 6) {
  const std::vector<double> g = Greville(p, n);
  std::vector<double> pts;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 3; ++c) pts.push_back(s * (O[c] + g[i] * e1[c] + g[j] * e2[c]));
  return BuildSurface(p, p, n, n, pts);
}

// Half of the cylinder x^2 + y^2 = R^2 (y >= 0) for z in [z0, z1], u around (two rational
// quadratic quarter arcs), v along the axis (degree 1); scaled by s.
inline Bspline* HalfCylinder(double R, double z0, double z1, double s = 1.0) {
  const double w = std::sqrt(0.5);
  const double cx[5] = {1, 1, 0, -1, -1}, cy[5] = {0, 1, 1, 1, 0}, cw[5] = {1, w, 1, w, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 5; ++i) {
      pts.push_back(s * R * cx[i]);
      pts.push_back(s * R * cy[i]);
      pts.push_back(s * (j ? z1 : z0));
      weights.push_back(cw[i]);
    }
  return BuildSurface(2, 1, 5, 2, pts, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, {0, 0, 1, 1}, weights);
}

// The whole cylinder x^2 + y^2 = R^2 for z in [z0, z1], closed in u (four quarter arcs).
inline Bspline* Cylinder(double R, double z0, double z1) {
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> pts, weights;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 9; ++i) {
      pts.insert(pts.end(), {R * cx[i], R * cy[i], j ? z1 : z0});
      weights.push_back(i % 2 ? w : 1.0);
    }
  Bspline* c = BuildSurface(2, 1, 9, 2, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                            {0, 0, 1, 1}, weights);
  if (c) c->closedU = 1;
  return c;
}

// The patch of the unit sphere between latitudes -45 and 45 degrees and longitudes 0 and 90
// (u along the meridian, v around), scaled by s.
inline Bspline* SpherePatch(double s = 1.0) {
  const double w = std::sqrt(0.5);
  const double mr[3] = {w, 2 * w, w}, mz[3] = {-w, 0, w}, mw[3] = {1, w, 1};
  const double cx[3] = {1, 1, 0}, cy[3] = {0, 1, 1}, cw[3] = {1, w, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      pts.push_back(s * mr[i] * cx[j]);
      pts.push_back(s * mr[i] * cy[j]);
      pts.push_back(s * mz[i]);
      weights.push_back(mw[i] * cw[j]);
    }
  return BuildSurface(2, 2, 3, 3, pts, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, weights);
}

// Diagonal of the box of both nets' control points: the size tolerances are shares of.
inline double PairSize(const Bspline* a, const Bspline* b) {
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  for (const Bspline* s : {a, b})
    for (int i = 0; i < NumCtrlU(s) * NumCtrlV(s); ++i) {
      const double p[3] = {s->X[0][i], s->Y[0][i], s->Z[0][i]};
      for (int q = 0; q < 3; ++q) {
        lo[q] = std::fmin(lo[q], p[q]);
        hi[q] = std::fmax(hi[q], p[q]);
      }
    }
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

// Placement of a case: points x map to scale x + shift.
struct Place {
  double scale = 1.0;
  double shift[3] = {0.0, 0.0, 0.0};
  void Map(const double p[3], double out[3]) const {
    for (int q = 0; q < 3; ++q) out[q] = scale * p[q] + shift[q];
  }
  void Unmap(const double p[3], double out[3]) const {
    for (int q = 0; q < 3; ++q) out[q] = (p[q] - shift[q]) / scale;
  }
};

// The plane patch O + u e1 + v e2 of Plane, placed.
inline Bspline* Plane(const double O[3], const double e1[3], const double e2[3], const Place& at) {
  double o[3], a[3], b[3];
  at.Map(O, o);
  for (int c = 0; c < 3; ++c) a[c] = at.scale * e1[c], b[c] = at.scale * e2[c];
  return Plane(o, a, b);
}

// The parameter of the angle theta (0 .. 2 pi, from the seam) round a circle of four rational
// quadratic quarter arcs, as the closed shapes below run round their axes: within its quarter,
// tan of half the angle from the quarter's middle is (2 s - 1) tan(pi / 8) at the quarter's
// share s.
inline double AngleParam(double theta) {
  const double quarter = std::fmin(std::floor(theta / (M_PI / 2)), 3.0);
  const double s = 0.5 * (std::tan(0.5 * (theta - quarter * M_PI / 2 - M_PI / 4)) / std::tan(M_PI / 8) + 1.0);
  return (quarter + s) / 4;
}

// The cone about the axis a through the origin whose radius runs from R0 at height h0 to R1 at
// height h1 along it; u goes round from the direction e (the seam), v from h0 to h1. Normals
// Su x Sv point away from the axis for h0 < h1 and toward it for h0 > h1. Exact: rational
// quadratic quarter arcs, degree 1 along; closed in u.
inline Bspline* Cone(const double a[3], const double e[3], double R0, double R1, double h0, double h1,
                     const Place& at) {
  const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> pts, weights;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 9; ++i) {
      const double R = j ? R1 : R0;
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = R * (cx[i] * e[c] + cy[i] * f[c]) + (j ? h1 : h0) * a[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back(i % 2 ? w : 1.0);
    }
  Bspline* s = BuildSurface(2, 1, 9, 2, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                            {0, 0, 1, 1}, weights);
  if (s) s->closedU = 1;
  return s;
}

// The cylinder of radius R about the axis a through the origin, for heights h0..h1 along it;
// u goes round from the direction e (the seam), v along the axis. Exact: rational quadratic
// quarter arcs; closed in u.
inline Bspline* Cylinder(const double a[3], const double e[3], double R, double h0, double h1,
                  const Place& at) {
  return Cone(a, e, R, R, h0, h1, at);
}

// The sphere of radius R about the origin: u round the axis a from the direction e (closed), v
// along the meridians from the pole at -a to the one at a (rational quadratic quarter arcs both
// ways); normals Su x Sv point outward.
inline Bspline* Sphere(const double a[3], const double e[3], double R, const Place& at) {
  const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  const double mr[5] = {0, 1, 1, 1, 0}, mz[5] = {-1, -1, 0, 1, 1}, mw[5] = {1, w, 1, w, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 9; ++i) {
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = R * (mr[j] * (cx[i] * e[c] + cy[i] * f[c]) + mz[j] * a[c]);
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back((i % 2 ? w : 1.0) * mw[j]);
    }
  Bspline* s = BuildSurface(2, 2, 9, 5, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                            {0, 0, 0, .5, .5, 1, 1, 1}, weights);
  if (s) s->closedU = 1;
  return s;
}

// The torus of radii R (centre circle) and r (tube) about the axis a through the origin: u round
// the axis from the direction e (normal to a), v round the tube from its outer equator toward a;
// exact (the product of two rational quadratic circles), closed both ways.
inline Bspline* Torus(const double a[3], const double e[3], double R, double r, const Place& at) {
  const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> pts, weights;
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 9; ++i) {
      const double rho = R + r * cx[j];
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = rho * (cx[i] * e[c] + cy[i] * f[c]) + r * cy[j] * a[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back((i % 2 ? w : 1.0) * (j % 2 ? w : 1.0));
    }
  const std::vector<double> k = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};
  Bspline* s = BuildSurface(2, 2, 9, 9, pts, k, k, weights);
  if (s) s->closedU = s->closedV = 1;
  return s;
}

// The sphere of radius R about the origin with its poles on the z axis and its seam at +x.
inline Bspline* Sphere(double R, const Place& at) {
  const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  return Sphere(z, x, R, at);
}

}  // namespace shapes
