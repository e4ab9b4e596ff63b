// The inputs the benchmarks share: a cubic curve of 16 control points and a bicubic surface of
// 12 x 10 control points, clamped on [0, 1], optionally rational.
#pragma once

#include <cmath>

#include "bspline/smake.h"

namespace bench {

inline Bspline* Cubic16(bool rational) {
  const int n = 16, p = 3;
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 3;
  c->rational = rational ? 1 : 0;
  c->degreeU = p;
  c->interiorU = n - p - 1;
  AllocateBsplineArrays(c);
  for (int i = 0; i < n + p + 1; ++i)
    c->knotsU[i] = i <= p ? 0.0 : (i >= n ? 1.0 : double(i - p) / (n - p));
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

}  // namespace bench
