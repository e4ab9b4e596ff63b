// The heal benchmark's grid, shared with the tests that heal parts of it: bicubic patches of
// 8 x 8 control points on one smooth height field, every patch's boundary rows jittered on their
// own by up to 0.01 in z, so that every seam and corner has a gap and some seams are creases
// next to a corner only. Free of the test framework, so the benchmarks can take it too.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>

#include "bspline/smake.h"

namespace heightgrid {

constexpr int kCtrl = 8, kDegree = 3;
constexpr double kJitter = 0.01;

inline double Height(double x, double y) { return 0.15 * std::sin(1.3 * x) * std::cos(0.9 * y) + 0.05 * x * y; }

// The patch over the grid cell (gi, gj), its boundary rows jittered from rng (one draw per
// boundary point, rows of v then columns of u). Null when memory runs out.
inline Bspline* JitteredPatch(int gi, int gj, std::mt19937& rng) {
  Bspline* s = MallocNullBspline();
  if (!s) return nullptr;
  s->kind = 2;
  s->dimension = 3;
  s->degreeU = s->degreeV = kDegree;
  s->interiorU = s->interiorV = kCtrl - kDegree - 1;
  AllocateBsplineArrays(s);
  for (int k = 0; k < kCtrl + kDegree + 1; ++k)
    s->knotsU[k] = s->knotsV[k] = std::clamp(double(k - kDegree) / (kCtrl - kDegree), 0.0, 1.0);
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  std::uniform_real_distribution<double> jitter(-kJitter, kJitter);
  for (int j = 0; j < kCtrl; ++j)
    for (int i = 0; i < kCtrl; ++i) {
      // Greville abscissae, so the boundary rows of neighbours start out on one curve.
      double gu = 0.0, gv = 0.0;
      for (int k = 1; k <= kDegree; ++k) gu += s->knotsU[i + k], gv += s->knotsV[j + k];
      const double x = gi + gu / kDegree, y = gj + gv / kDegree;
      const bool boundary = i == 0 || j == 0 || i == kCtrl - 1 || j == kCtrl - 1;
      s->X[j][i] = x;
      s->Y[j][i] = y;
      s->Z[j][i] = Height(x, y) + (boundary ? jitter(rng) : 0.0);
    }
  return s;
}

}  // namespace heightgrid
