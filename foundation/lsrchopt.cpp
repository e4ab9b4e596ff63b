#include "foundation/lsrchopt.h"

#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

// One-dimensional view of the caller's function during a LineMin call (pointers only then).
static LsrchFunc lminFunc = nullptr;
static int lminNumvar = 0;
static double* lminXarray = nullptr;
static double* lminDirection = nullptr;
static double* lminXtemp = nullptr;
// Search directions are scaled to unit length, so step lengths are distances.
static const int g_Normalized = 1;

namespace {

void CopyDoubles(const double* from, int n, double* to) {
  for (int i = 0; i < n; ++i) to[i] = from[i];
}

// Start value of a function evaluation: a failing callback that writes nothing reads as a very
// bad point rather than as garbage.

}  // namespace

double lminF1dim(double t) {
  for (int j = 0; j < lminNumvar; ++j) lminXtemp[j] = lminXarray[j] + t * lminDirection[j];
  double value = kNoValue;
  lminFunc(lminXtemp, lminNumvar, &value);
  return value;
}

double DminBrent(double a, double b, double (*f)(double), double tol, int itmax, double* xmin) {
  if (tol <= 0.0) tol = 1e-15;
  if (a > b) {
    *xmin = b;
    return f(b);
  }
  const double c = 0.3819660112501051;  // (3 - sqrt 5) / 2
  double x = a + c * (b - a);
  double v = x;
  double w = x;
  double fx = f(x);
  double fv = fx;
  double fw = fx;
  double d = 0.0;  // the step just taken
  double e = 0.0;  // the step before it
  for (int iter = 0; iter < itmax; ++iter) {
    const double xm = 0.5 * (a + b);
    const double tol1 = 1e-6 * std::fabs(x) + tol / 3.0;
    const double tol2 = 2.0 * tol1;
    if (std::fabs(x - xm) + 0.5 * (b - a) <= tol2) break;
    double p = 0.0;
    double q = 0.0;
    double r = 0.0;
    if (std::fabs(e) > tol1) {
      // Parabola through (v, fv), (w, fw), (x, fx); its vertex is at x + p / q.
      r = (x - w) * (fx - fv);
      q = (x - v) * (fx - fw);
      p = (x - v) * q - (x - w) * r;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = std::fabs(q);
      r = e;
      e = d;
    }
    if (std::fabs(p) < std::fabs(0.5 * q * r) && p > q * (a - x) && p < q * (b - x)) {
      // Accept the parabolic step, but never within tol2 of an end of the bracket.
      d = p / q;
      const double u = x + d;
      if (u - a < tol2 || b - u < tol2) d = xm > x ? tol1 : -tol1;
    } else {
      // Golden section into the larger of the two sub-intervals.
      e = x >= xm ? a - x : b - x;
      d = c * e;
    }
    const double u = std::fabs(d) >= tol1 ? x + d : x + (d > 0.0 ? tol1 : -tol1);
    const double fu = f(u);
    if (fu <= fx) {
      if (u < x) {
        b = x;
      } else {
        a = x;
      }
      v = w, fv = fw;
      w = x, fw = fx;
      x = u, fx = fu;
    } else {
      if (u < x) {
        a = u;
      } else {
        b = u;
      }
      if (fu <= fw || w == x) {
        v = w, fv = fw;
        w = u, fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  *xmin = x;
  return f(x);
}

int LineMin(double* p, const double* xi, int n, double stepMax, double tol, int itmax,
            double* fret, LsrchFunc func) {
  TrackingScope scope;
  double* xarray = MallocArray<double>(n);
  double* direction = MallocArray<double>(n);
  double* xtemp = MallocArray<double>(n);
  if (KernelFailed() || !xarray || !direction || !xtemp) return -2;

  double norm = 0.0;
  for (int j = 0; j < n; ++j) norm += xi[j] * xi[j];
  norm = std::sqrt(norm);
  if (!(norm > 0.0)) {
    // No direction to search along: the point stays where it is.
    double value = kNoValue;
    func(p, n, &value);
    *fret = value;
    return 0;
  }
  CopyDoubles(p, n, xarray);
  for (int j = 0; j < n; ++j) direction[j] = g_Normalized ? xi[j] / norm : xi[j];

  lminFunc = func;
  lminNumvar = n;
  lminXarray = xarray;
  lminDirection = direction;
  lminXtemp = xtemp;
  const double bracketEnd = stepMax < 1.0 ? stepMax : 1.0;
  double t = 0.0;
  *fret = DminBrent(0.0, bracketEnd, lminF1dim, tol, itmax, &t);
  for (int j = 0; j < n; ++j) p[j] = xarray[j] + t * direction[j];
  lminFunc = nullptr;
  lminNumvar = 0;
  lminXarray = lminDirection = lminXtemp = nullptr;
  return 0;
}

int FrprMin(double* p, int n, double ftol, int itmax, double scale, int* iterations,
            double* fret, LsrchFunc func, LsrchDFunc dfunc, LsrchCheck check) {
  if (!p || n < 1) return -2;
  TrackingScope scope;
  double* g = MallocArray<double>(n);
  double* h = MallocArray<double>(n);
  double* xi = MallocArray<double>(n);
  double* current = MallocArray<double>(n);
  double* previous = MallocArray<double>(n);
  if (KernelFailed() || !g || !h || !xi || !current || !previous) return -2;

  double fp = 0.0;
  if (func(p, n, &fp) != 0) return -2;
  if (dfunc(p, n, xi) != 0) return -2;
  for (int j = 0; j < n; ++j) {
    g[j] = -xi[j];
    h[j] = g[j];
    xi[j] = g[j];
  }
  CopyDoubles(p, n, current);
  CopyDoubles(p, n, previous);
  double fprev = fp;
  double fPrevious = fp;  // value at `previous`, for a veto's restore

  double stepMax = 0.2 * scale;
  const double stepMin = 0.01 * scale;
  int iters = 0;
  int successes = 0;
  int consecutiveSuccesses = 0;
  int consecutiveFailures = 0;
  bool lastSearchSucceeded = false;
  while (iters < itmax) {
    if (check && check(current, n) == 1) {
      CopyDoubles(previous, n, current);
      fp = fPrevious;
      // The vetoed point was the only fruit of its line search: it no longer counts as an
      // improvement, so a check that rejects everything ends in failure.
      if (lastSearchSucceeded) --successes;
      lastSearchSucceeded = false;
      stepMax *= 0.1;
      if (stepMax < stepMin) break;
    }
    ++iters;
    CopyDoubles(current, n, previous);
    fPrevious = fp;
    fprev = fp;
    if (LineMin(current, xi, n, stepMax, 1e-6, 10, &fp, func) != 0) {
      CopyDoubles(previous, n, current);
      fp = fprev;
      break;
    }
    lastSearchSucceeded = fp <= fprev;
    if (lastSearchSucceeded) {
      ++successes;
      consecutiveFailures = 0;
      if (++consecutiveSuccesses == 3) {
        // Legacy step growth, kept as callers know it: squaring shrinks a limit below 1.
        stepMax = stepMax * stepMax < scale ? stepMax * stepMax : scale;
        consecutiveSuccesses = 0;
      }
    } else {
      // Retry the same direction with a ten times shorter bracket.
      stepMax *= 0.1;
      ++consecutiveFailures;
      consecutiveSuccesses = 0;
      CopyDoubles(previous, n, current);
      fp = fprev;
      if (consecutiveFailures > 2) break;
      continue;
    }
    const double change = std::fabs(fprev - fp);
    if (change < 1e-6 * (std::fabs(fprev) + std::fabs(fp) + 1e-10) / 2.0 || change < ftol) break;
    fprev = fp;
    // A failed gradient leaves xi undefined: stop at the current point, which is good.
    if (dfunc(current, n, xi) != 0) break;
    double gradNorm = 0.0;
    for (int j = 0; j < n; ++j) gradNorm += xi[j] * xi[j];
    if (std::sqrt(gradNorm) < 0.001) break;
    double gg = 0.0;
    double dgg = 0.0;
    for (int j = 0; j < n; ++j) {
      gg += g[j] * g[j];
      dgg += (xi[j] + g[j]) * xi[j];  // Polak-Ribiere
    }
    if (std::fabs(gg) < 1e-14) break;
    double gamma = dgg / gg;
    if (consecutiveFailures >= 2 || iters % 10 == 5) gamma = 0.0;  // steepest-descent restart
    for (int j = 0; j < n; ++j) {
      g[j] = -xi[j];
      h[j] = g[j] + gamma * h[j];
      xi[j] = h[j];
    }
  }
  CopyDoubles(current, n, p);
  if (iterations) *iterations = iters;
  if (fret) *fret = fp;
  return successes > 0 ? 0 : -2;
}
