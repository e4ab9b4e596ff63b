#include "foundation/eigen.h"

#include <cmath>
#include <utility>

#include "foundation/coreglob.h"
#include "foundation/matview.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

namespace {

// The routines below over any matrix layout (foundation/matview.h).
template <typename M>
void Tred2(M a, int n, double* d, double* e) {
  for (int i = n - 1; i > 0; --i) {
    const int l = i - 1;
    double h = 0.0;
    if (l > 0) {
      double scale = 0.0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(a(i, k));
      if (scale == 0.0) {
        e[i] = a(i, l);  // row already reduced
      } else {
        for (int k = 0; k <= l; ++k) {
          a(i, k) /= scale;  // scaled so that sum of squares cannot overflow
          h += a(i, k) * a(i, k);
        }
        double f = a(i, l);
        double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a(i, l) = f - g;  // row i now holds the Householder vector u
        f = 0.0;
        for (int j = 0; j <= l; ++j) {
          a(j, i) = a(i, j) / h;  // u / H kept in column i for the accumulation below
          g = 0.0;
          for (int k = 0; k <= j; ++k) g += a(j, k) * a(i, k);
          for (int k = j + 1; k <= l; ++k) g += a(k, j) * a(i, k);
          e[j] = g / h;  // p = A u / H, stored in the free part of e
          f += e[j] * a(i, j);
        }
        const double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) {
          f = a(i, j);
          e[j] = g = e[j] - hh * f;  // q = p - K u
          for (int k = 0; k <= j; ++k) a(j, k) -= f * e[k] + g * a(i, k);
        }
      }
    } else {
      e[i] = a(i, l);
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
        for (int k = 0; k <= l; ++k) g += a(i, k) * a(k, j);
        for (int k = 0; k <= l; ++k) a(k, j) -= g * a(k, i);
      }
    }
    d[i] = a(i, i);
    a(i, i) = 1.0;
    for (int j = 0; j <= l; ++j) a(j, i) = a(i, j) = 0.0;
  }
}

template <typename M>
void Tqli(double* d, double* e, int n, M z) {
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
          const double t = z(k, i + 1);
          z(k, i + 1) = s * z(k, i) + c * t;
          z(k, i) = c * z(k, i) - s * t;
        }
      }
      if (r == 0.0 && i >= l) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0.0;
    } while (true);
  }
}

template <typename M>
void Eigsrt(double* d, M v, int n) {
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
      for (int r = 0; r < n; ++r) std::swap(v(r, i), v(r, k));
    }
  }
}

}  // namespace

void tred2(double** a, int n, double* d, double* e) { Tred2(RowPtrView{a}, n, d, e); }
void tqli(double* d, double* e, int n, double** z) { Tqli(d, e, n, RowPtrView{z}); }
void eigsrt(double* d, double** v, int n) { Eigsrt(d, RowPtrView{v}, n); }

void eigensystem3(double a[3][3], double d[3]) {
  double e[3];
  const Fixed3View m{a};
  Tred2(m, 3, d, e);
  Tqli(d, e, 3, m);
  Eigsrt(d, m, 3);
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

namespace {

// The unit null vector of the rows of a - lambda I: the longest of their cross products (two
// rows of a well-separated eigenvalue are never both small). False when all vanish.
bool NullVector3(const double a[3][3], double lambda, double v[3]) {
  const double r[3][3] = {{a[0][0] - lambda, a[0][1], a[0][2]},
                          {a[1][0], a[1][1] - lambda, a[1][2]},
                          {a[2][0], a[2][1], a[2][2] - lambda}};
  double best = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double* u = r[i];
    const double* w = r[(i + 1) % 3];
    const double c[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    const double len2 = c[0] * c[0] + c[1] * c[1] + c[2] * c[2];
    if (len2 > best) best = len2, v[0] = c[0], v[1] = c[1], v[2] = c[2];
  }
  if (!(best > 0.0)) return false;
  const double len = std::sqrt(best);
  for (int k = 0; k < 3; ++k) v[k] /= len;
  return true;
}

}  // namespace

int SymEigen3Smallest(const double a[3][3], double w[3], double v[3]) {
  // The eigenvalues from the trigonometric solution of the characteristic cubic of the
  // deviator b = a - q I.
  const double q = (a[0][0] + a[1][1] + a[2][2]) / 3.0;
  const double b00 = a[0][0] - q, b11 = a[1][1] - q, b22 = a[2][2] - q;
  const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
  const double p = std::sqrt((b00 * b00 + b11 * b11 + b22 * b22 + 2.0 * off) / 6.0);
  if (!(p > 0.0)) {  // a multiple of the identity (or NaN): every direction is an eigenvector
    w[0] = w[1] = w[2] = q;
    return -2;
  }
  const double det = b00 * (b11 * b22 - a[1][2] * a[1][2]) - a[0][1] * (a[0][1] * b22 - a[1][2] * a[0][2]) +
                     a[0][2] * (a[0][1] * a[1][2] - b11 * a[0][2]);
  const double r = std::fmax(-1.0, std::fmin(1.0, det / (2.0 * p * p * p)));
  const double phi = std::acos(r) / 3.0;
  w[2] = q + 2.0 * p * std::cos(phi);
  w[0] = q + 2.0 * p * std::cos(phi + 2.0943951023931957);  // + 2 pi / 3
  w[1] = 3.0 * q - w[0] - w[2];
  // Near a repeated root the angle carries only half the digits. The Rayleigh quotient of the
  // vector from a value squares that value's error over the gap; once it no longer moves the
  // value, the vector from it is good to round-off over the gap.
  const double size = std::fabs(w[2]) + std::fabs(w[0]);
  if (!(w[1] - w[0] > 1e-6 * size)) return -2;
  for (int step = 0; step < 4; ++step) {
    if (!NullVector3(a, w[0], v)) return -2;
    double av[3];
    for (int i = 0; i < 3; ++i) av[i] = a[i][0] * v[0] + a[i][1] * v[1] + a[i][2] * v[2];
    const double rayleigh = v[0] * av[0] + v[1] * av[1] + v[2] * av[2];
    if (std::fabs(rayleigh - w[0]) <= 1e-15 * size) return 0;
    w[0] = rayleigh;
  }
  return NullVector3(a, w[0], v) ? 0 : -2;
}
