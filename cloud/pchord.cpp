#include "cloud/pchord.h"

#include <cmath>

#include "foundation/umalloc.h"

namespace {

void PointOf(const float* x, const float* y, const float* z, int i, double P[3]) {
  P[0] = x[i], P[1] = y[i], P[2] = z[i];
}

}  // namespace

void FindPointOfEndSpanArraysAng(const float* x, const float* y, const float* z, int n, int a,
                                 const double A[3], int* end, double E[3], double span2, double c2) {
  int e = n - 1;
  double prev[3] = {0.0, 0.0, 0.0};  // the step before, zero at the first step
  for (int j = a + 1; j < n; ++j) {
    const double d[3] = {x[j] - A[0], y[j] - A[1], z[j] - A[2]};
    if (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > span2) {
      e = j - 1 == a ? j : j - 1;
      break;
    }
    const double s[3] = {double(x[j]) - x[j - 1], double(y[j]) - y[j - 1], double(z[j]) - z[j - 1]};
    const double ss = s[0] * s[0] + s[1] * s[1] + s[2] * s[2];
    const double pp = prev[0] * prev[0] + prev[1] * prev[1] + prev[2] * prev[2];
    const double sp = s[0] * prev[0] + s[1] * prev[1] + s[2] * prev[2];
    // A turn sharper than the angle at p(j - 1), judged by the squared cosine of the two steps.
    if (pp * ss > 1e-12 * sp * sp && pp * ss * c2 > sp * sp) {
      e = j - 1 == a ? j : j - 1;
      break;
    }
    prev[0] = s[0], prev[1] = s[1], prev[2] = s[2];
  }
  *end = e;
  PointOf(x, y, z, e, E);
}

void FindPointOfMaxDevArrays(const float* x, const float* y, const float* z, int a,
                             const double A[3], int e, const double E[3], int* worst, double W[3],
                             double* dev) {
  *worst = e;
  *dev = 0.0;
  const double C[3] = {E[0] - A[0], E[1] - A[1], E[2] - A[2]};
  const double L2 = C[0] * C[0] + C[1] * C[1] + C[2] * C[2];
  for (int j = a + 1; j < e; ++j) {
    double P[3];
    PointOf(x, y, z, j, P);
    double q[3] = {A[0], A[1], A[2]};
    if (L2 > 1e-10) {
      double u = ((E[0] - P[0]) * C[0] + (E[1] - P[1]) * C[1] + (E[2] - P[2]) * C[2]) / L2;
      u = u < 0.0 ? 0.0 : (u > 1.0 ? 1.0 : u);
      for (int k = 0; k < 3; ++k) q[k] = u * A[k] + (1.0 - u) * E[k];
    }
    const double d = (P[0] - q[0]) * (P[0] - q[0]) + (P[1] - q[1]) * (P[1] - q[1]) +
                     (P[2] - q[2]) * (P[2] - q[2]);
    if (d > *dev) *dev = d, *worst = j;
  }
  PointOf(x, y, z, *worst, W);
}

int ChordDevAngOptArrays(const float* x, const float* y, const float* z, int n, double tol,
                         double span, double angle, int* keep) {
  for (int i = 0; i < n; ++i) keep[i] = 0;
  if (n < 1) return 0;
  keep[0] = keep[n - 1] = 1;
  if (n < 6) return 0;
  TrackingScope scope;
  int* stack = MallocArray<int>(n);
  if (!stack) return -2;
  int top = 0;
  const double tol2 = tol * tol, span2 = span * span;
  const double c = std::cos(angle * 0.017453292519943295), c2 = c * c;
  int a = 0;
  double A[3];
  PointOf(x, y, z, 0, A);
  while (a < n - 1) {
    int e;
    double E[3];
    if (top > 0) {
      e = stack[top - 1];
      if (e <= a) {
        --top;
        continue;
      }
      PointOf(x, y, z, e, E);
    } else {
      FindPointOfEndSpanArraysAng(x, y, z, n, a, A, &e, E, span2, c2);
    }
    if (e > a + 1) {
      int m;
      double M[3], d;
      FindPointOfMaxDevArrays(x, y, z, a, A, e, E, &m, M, &d);
      while (d > tol2 && e > a + 1) {
        stack[top++] = m;
        e = m;
        E[0] = M[0], E[1] = M[1], E[2] = M[2];
        FindPointOfMaxDevArrays(x, y, z, a, A, e, E, &m, M, &d);
      }
    }
    if (top > 0 && stack[top - 1] == e) --top;
    a = e;
    A[0] = E[0], A[1] = E[1], A[2] = E[2];
    keep[e] = 1;
  }
  return 0;
}
