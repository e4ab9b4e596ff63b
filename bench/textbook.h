// The textbook's span search and basis functions with their derivatives, for the plain
// references of the benchmarks.
#pragma once

#include <utility>

namespace bench {

constexpr int kMaxP = 8;

// Span s with U[s] <= t < U[s + 1], the last span at the domain end (n control points).
inline int Span(const double* U, int n, int p, double t) {
  if (t >= U[n]) return n - 1;
  int lo = p, hi = n;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (t < U[mid])
      hi = mid;
    else
      lo = mid;
  }
  return lo;
}

// ders[k][j]: the k-th derivative of N(span - p + j) at t, k = 0 .. d. The triangular table
// ndu holds the basis values of every degree (upper triangle) and the knot differences (lower);
// the derivatives combine its degree p - k row with coefficients a that are differenced k times.
inline void BasisDerivatives(const double* U, int span, int p, double t, int d,
                             double ders[][kMaxP + 1]) {
  double ndu[kMaxP + 1][kMaxP + 1], left[kMaxP + 1], right[kMaxP + 1], a[2][kMaxP + 1];
  ndu[0][0] = 1.0;
  for (int j = 1; j <= p; ++j) {
    left[j] = t - U[span + 1 - j];
    right[j] = U[span + j] - t;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      ndu[j][r] = right[r + 1] + left[j - r];
      const double temp = ndu[r][j - 1] / ndu[j][r];
      ndu[r][j] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    ndu[j][j] = saved;
  }
  for (int j = 0; j <= p; ++j) ders[0][j] = ndu[j][p];
  for (int r = 0; r <= p; ++r) {
    int s1 = 0, s2 = 1;
    a[0][0] = 1.0;
    for (int k = 1; k <= d; ++k) {
      double dd = 0.0;
      const int rk = r - k, pk = p - k;
      if (r >= k) {
        a[s2][0] = a[s1][0] / ndu[pk + 1][rk];
        dd = a[s2][0] * ndu[rk][pk];
      }
      const int j1 = rk >= -1 ? 1 : -rk;
      const int j2 = r - 1 <= pk ? k - 1 : p - r;
      for (int j = j1; j <= j2; ++j) {
        a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
        dd += a[s2][j] * ndu[rk + j][pk];
      }
      if (r <= pk) {
        a[s2][k] = -a[s1][k - 1] / ndu[pk + 1][r];
        dd += a[s2][k] * ndu[r][pk];
      }
      ders[k][r] = dd;
      std::swap(s1, s2);
    }
  }
  double f = p;
  for (int k = 1; k <= d; ++k) {
    for (int j = 0; j <= p; ++j) ders[k][j] *= f;
    f *= p - k;
  }
}

}  // namespace bench
