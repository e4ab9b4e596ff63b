// Small checks and seeded draws shared by the property tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "foundation/vec3.h"

// Each of the three coordinates of a within tol of b's.
inline void ExpectNear3(const double* a, const double* b, double tol, const char* what = "") {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << what << " coordinate " << k;
}

// Distance of p from the line through a along d (any length but 0).
inline double LineDistance(const double p[3], const double a[3], const double d[3]) {
  const double q[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
  const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const double t = (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd;
  const double r[3] = {q[0] - t * d[0], q[1] - t * d[1], q[2] - t * d[2]};
  return std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
}

inline double Uniform(std::mt19937& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// A point whose coordinates are uniform in [-r, r].
inline void RandomPoint(std::mt19937& rng, double p[3], double r) {
  for (int k = 0; k < 3; ++k) p[k] = Uniform(rng, -r, r);
}

// A well-conditioned affine transform: the 3 x 3 part near twice the identity, a translation
// up to 5, last column (0, 0, 0, 1).
inline void RandomAffine(std::mt19937& rng, Xform M) {
  Get_imat(M);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M[4 * r + c] = (r == c ? 2.0 : 0.0) + Uniform(rng, -0.8, 0.8);
  for (int c = 0; c < 3; ++c) M[12 + c] = Uniform(rng, -5, 5);
}
