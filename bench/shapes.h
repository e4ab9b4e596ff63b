// The inputs the benchmarks share: a cubic curve of 16 control points, a bicubic surface of
// 12 x 10 control points, clamped on [0, 1], optionally rational, a sine-wave bicubic over the
// unit square, and random parameter pairs.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "bspline/smake.h"

namespace bench {

// Uniform clamped cubic knots for n control points on [0, 1].
inline void UniformKnots(double* k, int n) {
  for (int i = 0; i < n + 4; ++i) k[i] = i <= 3 ? 0.0 : (i >= n ? 1.0 : double(i - 3) / (n - 3));
}

inline Bspline* Cubic16(bool rational) {
  const int n = 16, p = 3;
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 3;
  c->rational = rational ? 1 : 0;
  c->degreeU = p;
  c->interiorU = n - p - 1;
  AllocateBsplineArrays(c);
  UniformKnots(c->knotsU, n);
  c->umin = 0.0;
  c->umax = 1.0;
  for (int i = 0; i < n; ++i) {
    c->X[0][i] = i;
    c->Y[0][i] = std::sin(0.7 * i);
    c->Z[0][i] = 0.1 * i * i;
    if (rational) c->W[0][i] = 1.0 + 0.3 * std::cos(i);
  }
  return c;
}

constexpr int kSurfNu = 12, kSurfNv = 10, kSurfDeg = 3;

// Clamped cubic on [0, 1] with slightly uneven interior knots; z a smooth bump; weights in
// [0.7, 1.3] when rational.
inline Bspline* Bicubic(bool rational) {
  Bspline* s = MallocNullBspline();
  s->kind = 2;
  s->dimension = 3;
  s->rational = rational ? 1 : 0;
  s->degreeU = s->degreeV = kSurfDeg;
  s->interiorU = kSurfNu - kSurfDeg - 1;
  s->interiorV = kSurfNv - kSurfDeg - 1;
  AllocateBsplineArrays(s);
  auto knots = [](double* k, int n) {
    const int interior = n - kSurfDeg - 1;
    for (int i = 0; i <= kSurfDeg; ++i) {
      k[i] = 0.0;
      k[n + i] = 1.0;
    }
    for (int i = 1; i <= interior; ++i) {
      const double t = static_cast<double>(i) / (interior + 1);
      k[kSurfDeg + i] = t + 0.2 * t * (1.0 - t) * std::sin(7.0 * i) / (interior + 1);
    }
  };
  knots(s->knotsU, kSurfNu);
  knots(s->knotsV, kSurfNv);
  for (int j = 0; j < kSurfNv; ++j)
    for (int i = 0; i < kSurfNu; ++i) {
      s->X[j][i] = i + 0.1 * j;
      s->Y[j][i] = j - 0.05 * i;
      s->Z[j][i] = std::sin(0.7 * i) * std::cos(0.5 * j);
      if (rational) s->W[j][i] = 1.0 + 0.3 * std::sin(1.3 * i + 0.7 * j);
    }
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  return s;
}

// Clamped uniform bicubic of n x n control points over the unit square, the control points on
// the regular grid with z = amp sin(fx x) cos(fy y).
inline Bspline* WaveBicubic(int n, double amp, double fx, double fy) {
  Bspline* s = MallocInitSurfaceBspline();
  s->interiorU = s->interiorV = n - 4;
  AllocateBsplineArrays(s);
  UniformKnots(s->knotsU, n);
  UniformKnots(s->knotsV, n);
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double x = double(i) / (n - 1), y = double(j) / (n - 1);
      s->X[j][i] = x;
      s->Y[j][i] = y;
      s->Z[j][i] = amp * std::sin(fx * x) * std::cos(fy * y);
    }
  return s;
}

// Clamped uniform curve of degree p on [0, 1] of n control points, the points left for the caller.
inline Bspline* UniformCurve(int p, int n) {
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = p;
  c->interiorU = n - p - 1;
  AllocateBsplineArrays(c);
  for (int i = 0; i < n + p + 1; ++i) c->knotsU[i] = i <= p ? 0.0 : (i >= n ? 1.0 : double(i - p) / (n - p));
  c->umin = 0.0;
  c->umax = 1.0;
  return c;
}

inline Bspline* UniformCubic(int n) { return UniformCurve(3, n); }

// Clamped uniform cubic on [0, 1] of n control points, point i at (x(s), y(s), z(s)) for
// s = i / (n - 1).
inline Bspline* CubicThrough(int n, double (*x)(double), double (*y)(double), double (*z)(double)) {
  Bspline* c = UniformCubic(n);
  for (int i = 0; i < n; ++i) {
    const double s = double(i) / (n - 1);
    c->X[0][i] = x(s);
    c->Y[0][i] = y(s);
    c->Z[0][i] = z(s);
  }
  return c;
}

// Fills u and v (of equal size) with pairs drawn uniformly from [0, 1), u before v in each pair.
inline void RandomParams(unsigned seed, std::vector<double>& u, std::vector<double>& v) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(0.0, 1.0);
  for (size_t i = 0; i < u.size(); ++i) {
    u[i] = d(rng);
    v[i] = d(rng);
  }
}

}  // namespace bench
