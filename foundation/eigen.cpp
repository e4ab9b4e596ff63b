#include "foundation/eigen.h"

#include <cmath>
#include <utility>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

void tred2(double** a, int n, double* d, double* e) {
  for (int i = n - 1; i > 0; --i) {
    const int l = i - 1;
    double h = 0.0;
    if (l > 0) {
      double scale = 0.0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(a[i][k]);
      if (scale == 0.0) {
        e[i] = a[i][l];  // row already reduced
      } else {
        for (int k = 0; k <= l; ++k) {
          a[i][k] /= scale;  // scaled so that sum of squares cannot overflow
          h += a[i][k] * a[i][k];
        }
        double f = a[i][l];
        double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a[i][l] = f - g;  // row i now holds the Householder vector u
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          a[j][i] = a[i][j] / h;  // u / H kept in column i for the accumulation below
          g = 0.0;
          for (int k = 0; k <= j; ++k) g += a[j][k] * a[i][k];
          for (int k = j + 1; k <= l; ++k) g += a[k][j] * a[i][k];
          e[j] = g / h;  // p = A u / H, stored in the free part of e
          f += e[j] * a[i][j];
        }
        const double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) {
          f = a[i][j];
          e[j] = g = e[j] - hh * f;  // q = p - K u
          for (int k = 0; k <= j; ++k) a[j][k] -= f * e[k] + g * a[i][k];
        }
      }
    } else {
      e[i] = a[i][l];
    }
    d[i] = h;
  }
  if (n > 0) {
    d[0] = 0.0;
    e[0] = 0.0;
  }
  // Accumulate the transformations; d[i] != 0 marks a step that was actually taken.
  for (int i = 0; i < n; ++i) {
    const int l = i - 1;
    if (d[i] != 0.0) {
      for (int j = 0; j <= l; ++j) {
        double g = 0.0;
        for (int k = 0; k <= l; ++k) g += a[i][k] * a[k][j];
        for (int k = 0; k <= l; ++k) a[k][j] -= g * a[k][i];
      }
    }
    d[i] = a[i][i];
    a[i][i] = 1.0;
    for (int j = 0; j <= l; ++j) a[j][i] = a[i][j] = 0.0;
  }
}

void tqli(double* d, double* e, int n, double** z) {
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  if (n > 0) e[n - 1] = 0.0;
  for (int l = 0; l < n; ++l) {
    int iter = 0;
    int m;
    do {
      // A sub-diagonal entry negligible against its neighbours splits the matrix; the test is
      // an exact floating-point comparison on purpose (no tolerance to tune).
      for (m = l; m < n - 1; ++m) {
        const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
        if (std::fabs(e[m]) + dd == dd) break;
      }
      if (m == l) break;
      if (iter++ == 30) {
        if (ZK666DEBUG) DebugMessageFormat("%s", MSGstr("Too many iterations."));
        break;  // keep the value reached so far and go on with the next eigenvalue
      }
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = std::hypot(g, 1.0);
      g = d[m] - d[l] + e[l] / (g + std::copysign(r, g));
      double s = 1.0;
      double c = 1.0;
      double p = 0.0;
      int i;
      for (i = m - 1; i >= l; --i) {
        const double f = s * e[i];
        const double b = c * e[i];
        e[i + 1] = r = std::hypot(f, g);
        if (r == 0.0) {  // underflow: deflate and restart the sweep
          d[i + 1] -= p;
          e[m] = 0.0;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        p = s * r;
        d[i + 1] = g + p;
        g = c * r - b;
        for (int k = 0; k < n; ++k) {
          const double t = z[k][i + 1];
          z[k][i + 1] = s * z[k][i] + c * t;
          z[k][i] = c * z[k][i] - s * t;
        }
      }
      if (r == 0.0 && i >= l) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    } while (true);
  }
}

void eigsrt(double* d, double** v, int n) {
  for (int i = 0; i < n - 1; ++i) {
    int k = i;
    double p = d[i];
    for (int j = i + 1; j < n; ++j)
      if (d[j] >= p) {  // on equal values the later index wins
        k = j;
        p = d[j];
      }
    if (k != i) {
      d[k] = d[i];
      d[i] = p;
      for (int r = 0; r < n; ++r) std::swap(v[r][i], v[r][k]);
    }
  }
}

int eigensystem(double** a, int n, double* d) {
  if (n <= 0) return 0;
  auto* e = MallocArray<double>(n);
  if (!e) return -2;  // the allocator has set the error state
  tred2(a, n, d, e);
  tqli(d, e, n, a);
  eigsrt(d, a, n);
  Free(e);
  return 0;
}

void SymEigen3(const double a[3][3], double w[3], double v[3][3]) {
  double m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = a[r][c], v[r][c] = r == c ? 1.0 : 0.0;
  static constexpr int kPairs[3][3] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0}};  // p, q and the third index
  // Quadratic convergence: a handful of sweeps reach round-off; the cap only guards NaN input.
  for (int sweep = 0; sweep < 32; ++sweep) {
    const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
    const double diag = m[0][0] * m[0][0] + m[1][1] * m[1][1] + m[2][2] * m[2][2];
    if (!(off > 1e-36 * diag)) break;  // also ends on 0 and NaN
    for (const auto& pq : kPairs) {
      const int p = pq[0], q = pq[1], r = pq[2];
      const double apq = m[p][q];
      if (apq == 0.0) continue;
      // The rotation angle's tangent, the smaller root (|angle| <= pi/4) for stability.
      const double theta = (m[q][q] - m[p][p]) / (2.0 * apq);
      const double t = std::fabs(theta) > 1e150 ? 0.5 / theta
                                                : (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
      const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
      m[p][p] -= t * apq;
      m[q][q] += t * apq;
      m[p][q] = m[q][p] = 0.0;
      const double mrp = m[r][p], mrq = m[r][q];
      m[r][p] = m[p][r] = c * mrp - s * mrq;
      m[r][q] = m[q][r] = s * mrp + c * mrq;
      for (int k = 0; k < 3; ++k) {
        const double vp = v[k][p], vq = v[k][q];
        v[k][p] = c * vp - s * vq;
        v[k][q] = s * vp + c * vq;
      }
    }
  }
  int order[3] = {0, 1, 2};
  for (int i = 0; i < 3; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (m[order[j]][order[j]] < m[order[i]][order[i]]) std::swap(order[i], order[j]);
  double u[3][3];
  for (int k = 0; k < 3; ++k) {
    w[k] = m[order[k]][order[k]];
    for (int r = 0; r < 3; ++r) u[r][k] = v[r][order[k]];
  }
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) v[r][k] = u[r][k];
}
