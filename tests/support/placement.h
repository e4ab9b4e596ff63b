// Placements of a unit-size case: scaled by 1e-6 .. 1e6, at the origin or turned and moved 1e4
// sizes away, with the maps of points, directions and control nets both ways, for the tests
// that an answer is the same at every size and anywhere in space.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/nubs.h"

// The sizes every such test visits.
constexpr double kPlaceSizes[] = {1e-6, 1e-3, 0.01, 0.1, 1.0, 1e3, 1e6};

// p -> size R p + shift; far away, R turns about (1, 2, 2) / 3 by 0.7 radians and shift lies
// 1e4 sizes from the origin, near by R is the identity and shift 0.
struct Place {
  double size;
  bool far;
  double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double shift[3] = {0, 0, 0};
  Place(double s, bool farAway) : size(s), far(farAway) {
    if (!far) return;
    const double d[3] = {0.6, -0.48, 0.64}, a[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3};
    const double c = std::cos(0.7), sn = std::sin(0.7);
    for (int i = 0; i < 3; ++i) {
      shift[i] = 1e4 * s * d[i];
      for (int j = 0; j < 3; ++j) R[i][j] = (i == j ? c : 0.0) + (1 - c) * a[i] * a[j];
    }
    R[0][1] -= sn * a[2], R[1][0] += sn * a[2];
    R[0][2] += sn * a[1], R[2][0] -= sn * a[1];
    R[1][2] -= sn * a[0], R[2][1] += sn * a[0];
  }
  // A point; out may be p.
  void Map(const double p[3], double out[3]) const {
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = size * (R[k][0] * p[0] + R[k][1] * p[1] + R[k][2] * p[2]) + shift[k];
    for (int k = 0; k < 3; ++k) out[k] = q[k];
  }
  // A direction: turned, neither scaled nor moved.
  void MapDirection(const double v[3], double out[3]) const {
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = R[k][0] * v[0] + R[k][1] * v[1] + R[k][2] * v[2];
    for (int k = 0; k < 3; ++k) out[k] = q[k];
  }
  // Every control point of a 3D curve or surface (weights stay).
  void Map(Bspline* b) const {
    const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        double p[3] = {b->X[j][i], b->Y[j][i], b->Z[j][i]};
        Map(p, p);
        b->X[j][i] = p[0], b->Y[j][i] = p[1], b->Z[j][i] = p[2];
      }
  }
  // Back to unit coordinates: a point, or a direction (no shift, no size); out may be p.
  void Unmap(const double p[3], double out[3]) const {
    const double q[3] = {(p[0] - shift[0]) / size, (p[1] - shift[1]) / size, (p[2] - shift[2]) / size};
    for (int k = 0; k < 3; ++k) out[k] = R[0][k] * q[0] + R[1][k] * q[1] + R[2][k] * q[2];
  }
  void UnmapDirection(const double v[3], double out[3]) const {
    const double q[3] = {v[0], v[1], v[2]};
    for (int k = 0; k < 3; ++k) out[k] = R[0][k] * q[0] + R[1][k] * q[1] + R[2][k] * q[2];
  }
};

// Every size of kPlaceSizes, at the origin and turned 1e4 sizes away.
inline std::vector<Place> EveryPlace() {
  std::vector<Place> all;
  for (double size : kPlaceSizes)
    for (bool far : {false, true}) all.emplace_back(size, far);
  return all;
}

inline ::testing::Message Where(const Place& pl) {
  return ::testing::Message() << "size " << pl.size << (pl.far ? " far" : " near");
}

// Largest distance between the control points of b and of ref mapped by pl, over pl's size;
// infinity when the nets differ in shape.
inline double NetMiss(const Bspline* b, const Bspline* ref, const Place& pl) {
  if (!b || !ref || NumCtrlU(b) != NumCtrlU(ref) || b->kind != ref->kind ||
      (b->kind == 2 && NumCtrlV(b) != NumCtrlV(ref)))
    return INFINITY;
  const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
  double worst = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double p[3] = {ref->X[j][i], ref->Y[j][i], ref->Z[j][i]};
      double q[3];
      pl.Map(p, q);
      const double d = std::hypot(b->X[j][i] - q[0], b->Y[j][i] - q[1], b->Z[j][i] - q[2]);
      worst = std::max(worst, d / pl.size);
    }
  return worst;
}
