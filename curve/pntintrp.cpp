#include "curve/pntintrp.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "cloud/premove.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

// Points closer than this on every axis, relative to the points' size (the longest side of their
// box), are one point to the interpolators: a parameter step that short would only carry noise.
constexpr double kDuplicateTol = 1e-5;
// Coordinates that differ by this relative to their own magnitude differ by round-off alone: a
// set that spreads no further (a pole row of a grid) is one point whatever its size.
constexpr double kRoundOff = 1e-13;
// The first and last point this close on every axis, relative to the points' size, close a curve.
constexpr double kClosedTol = 1e-3;

// The longest side of the box of points 0..count-1 and the largest coordinate magnitude.
void PointsExtent(const double* x, const double* y, const double* z, int count, double* size, double* magnitude) {
  const double* a[3] = {x, y, z};
  *size = 0.0, *magnitude = 0.0;
  for (int c = 0; c < 3; ++c) {
    if (!a[c] || count < 1) continue;
    double lo = a[c][0], hi = a[c][0];
    for (int i = 0; i < count; ++i) {
      lo = std::fmin(lo, a[c][i]);
      hi = std::fmax(hi, a[c][i]);
    }
    *size = std::fmax(*size, hi - lo);
    *magnitude = std::fmax(*magnitude, std::fmax(std::fabs(lo), std::fabs(hi)));
  }
}

// The duplicate distance of the points: kDuplicateTol of their size, at least their round-off.
double DuplicateTol(const double* x, const double* y, const double* z, int count) {
  double size, magnitude;
  PointsExtent(x, y, z, count, &size, &magnitude);
  return std::fmax(kDuplicateTol * size, kRoundOff * magnitude);
}

// Two 3D points: the curve is a line and says so.
bool AttachLine(Bspline* c, const double* x, const double* y, const double* z) {
  UntrackedScope own;  // the form belongs to the record
  const QuadricInfo line = {{x[0], y[0], z[0], x[1], y[1], z[1]}};
  c->quadric = DuplicateQuadricInfo(&line, QuadricDoubles(1));
  if (!c->quadric || KernelFailed()) return false;
  c->quadricType = 1;
  return true;
}

double Chord(const double* x, const double* y, const double* z, int i) {
  const double dx = x[i + 1] - x[i], dy = y[i + 1] - y[i], dz = z ? z[i + 1] - z[i] : 0.0;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Knots and coefficients are numbers: chords of huge coordinates overflow to infinite knots.
bool RowFinite(Bspline* c) {
  const int n = NumCtrlU(c);
  if (!AllFinite(c->knotsU, NumKnotsU(c))) return false;
  if (!AllFinite(c->X[0], n) || !AllFinite(c->Y[0], n)) return false;
  return !c->Z || AllFinite(c->Z[0], n);
}

bool Inside(int pos, int w) { return pos >= 0 && pos < w; }

// Duplicates out of the caller's arrays: compacted without knots, moved apart with them (the
// count must still fit the knots). The count, or -1 on failure.
int HandleDuplicates(double* x, double* y, double* z, int count, bool knotsGiven) {
  const double tol = DuplicateTol(x, y, z, count);
  const int c = knotsGiven ? SeparateDuplicates(x, y, z, count, tol) : RemoveDuplicates_d(x, y, z, count, tol);
  if (c < 1 || KernelFailed() || (knotsGiven && c != count)) return -1;
  return c;
}

// The averaged knots of AveragedKnotVector into out (m + p + 2 values).
void AverageKnots(const double* params, int m, int p, double* out) {
  const double* t = params + p;
  for (int i = 0; i <= p; ++i) {
    out[i] = t[0];
    out[m + 1 + i] = t[m];
  }
  for (int j = 1; j <= m - p; ++j) {
    double s = 0.0;
    for (int i = j; i < j + p; ++i) s += t[i];
    out[p + j] = s / p;
  }
}

// The n given points with k (or k + 1) points added on an interpolant of degree 3 (four or more
// points) or 2 at midpoints of the degree-p parameter spans, merged in parameter order into out.
// The count written, or -1 on failure.
int MergeAddedPoints(const double* const src[3], int dims, int n, int p, int k, double* out[3]) {
  TrackingScope work;
  double* copy = MallocArray<double>(3, n);
  if (!copy || KernelFailed()) return -1;
  double *cx = copy, *cy = cx + n, *cz = cy + n;
  for (int i = 0; i < n; ++i) {
    cx[i] = src[0][i];
    cy[i] = src[1][i];
    cz[i] = dims == 3 ? src[2][i] : 0.0;  // the helper curve is 3D either way
  }
  Owned<Bspline, FreeBspline> curve(InterpolatePointsAnyDegree(cx, cy, cz, n - 1, nullptr, n >= 4 ? 3 : 2));
  if (!curve || KernelFailed()) return -1;
  const int len = n + 2 * p;
  double* params = MallocArray<double>(len);
  if (!params || KernelFailed()) return -1;
  PaddedChordParams(src[0], src[1], src[2], n - 1, p, params);
  int inserted = k;
  double* refined = InsertParamsSymmetric(params, len, p, &inserted);
  if (!refined || KernelFailed()) return -1;
  double* added = nullptr;
  int nAdded = 0;
  if (KnotsOfBNotInA(params, len, refined, len + inserted, &added, &nAdded, nullptr) < 0 ||
      nAdded != inserted || nAdded > k + 1)
    return -1;
  double* ev = MallocArray<double>(3, nAdded);
  if (!ev || KernelFailed()) return -1;
  EvalNpntsOnObj(curve.get(), 0, 0, added, added, nAdded, ev, ev + nAdded, ev + 2 * nAdded);
  // A position of the refined parameters holding the next added value takes the next
  // evaluated point, any other the next given point.
  int given = 0, next = 0, total = 0;
  for (int pos = p; pos < p + n + nAdded; ++pos, ++total) {
    if (next < nAdded && refined[pos] == added[next]) {
      for (int c = 0; c < dims; ++c) out[c][total] = ev[c * nAdded + next];
      ++next;
    } else {
      if (given >= n) return -1;
      for (int c = 0; c < dims; ++c) out[c][total] = src[c][given];
      ++given;
    }
  }
  return given == n && next == nAdded ? total : -1;
}

void ShowUnavailable() { InfoMessageFormat("%s", MSGstr("Currently Unavailable")); }

// The cubic with Bessel ends through points 0..m (m >= 1).
Bspline* CubicInterpolant(double* x, double* y, double* z, int m, const double* knots) {
  // The padded layout: the parameters knots[3 .. m + 3] between three extra copies of each end.
  if (knots && !KnotVectorSound(knots, 3, m + 3)) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  const int dim = z ? 3 : 2;
  Owned<Bspline, FreeBspline> c(MallocCurveBspline(dim, 3, m + 3));
  if (!c) return nullptr;
  double* K = c->knotsU;
  if (knots)
    std::memcpy(K, knots, sizeof(double) * (m + 7));
  else
    PaddedChordParams(x, y, z, m, 3, K);
  double* work = MallocArray<double>(5, m + 1);
  if (!work || KernelFailed()) return nullptr;
  double *lower = work, *diag = lower + m + 1, *upper = diag + m + 1, *d = upper + m + 1,
         *l = d + m + 1;
  TridiagCollocation(K, m, lower, diag, upper, 3, 0, 0);
  FactorTridiag(lower, diag, upper, d, l, m);
  const double* data[3] = {x, y, z};
  double** rows[3] = {c->X, c->Y, c->Z};
  for (int k = 0; k < dim; ++k) {
    const double* D = data[k];
    double* row = rows[k][0];
    double first, last;
    BesselEnds(D, K, m, &first, &last);
    // Unknowns are control points 1..m+1: the identity rows pin the two Bessel values, the
    // rows between collocate the data.
    for (int i = 0; i <= m; ++i) row[i + 1] = D[i];
    row[1] = first;
    row[m + 1] = last;
    SolveTridiag(d, l, upper, m, row + 1, row + 1);
    row[0] = D[0];
    row[m + 2] = D[m];
  }
  if (!RowFinite(c.get())) {
    SetKernelError(-2);
    return nullptr;
  }
  SetDomainFromKnots(c.get(), 0);
  if (m == 1 && z && !AttachLine(c.get(), x, y, z)) return nullptr;
  return c.release();
}

// Runs `make` on copies of the points 0..n (z may be null): the caller's points take the copies
// (duplicates merged or moved apart) only when a sound curve comes out and stay as they were
// after a refusal; a curve that is not sound (overflowed) is no curve. Null always comes with
// the error state set.
template <class Make>
Bspline* OnCopiesOfPoints(double* x, double* y, double* z, int n, Make make) {
  if (!x || !y || n < 0 || n == INT_MAX) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  const int dims = z ? 3 : 2, total = n + 1;
  double* copy = MallocArray<double>(dims, total);
  if (!copy || KernelFailed()) return nullptr;
  double* own[3] = {copy, copy + total, z ? copy + 2 * total : nullptr};
  double* theirs[3] = {x, y, z};
  for (int k = 0; k < dims; ++k) std::memcpy(own[k], theirs[k], sizeof(double) * total);
  Bspline* c = make(own[0], own[1], own[2]);
  if (c && !BsplineSound(c)) {
    FreeBspline(c);
    c = nullptr;
  }
  if (!c) return MadeOrFailed<Bspline>(nullptr);
  for (int k = 0; k < dims; ++k) std::memcpy(theirs[k], own[k], sizeof(double) * total);
  return c;
}

}  // namespace

// Width of the band for degree p: the collocation rows and their LU factors fit in it.
int InterpBandWidth(int p) { return std::max(p + 1, 2 * p - 1); }

// A given parameter or knot array must be a sorted array of finite values.
bool SortedFiniteArray(const double* a, int n) {
  if (n > 0 && !a) return false;
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(a[i]) || (i > 0 && a[i] < a[i - 1])) return false;
  return true;
}

// Solves the factored band for every coordinate row of c from the data columns. False when a
// solve failed (zero pivot or a result that is not finite).
bool SolveBandCoordinates(double** A, int m, int w, const int* idx, const double* const data[3],
                      Bspline* c) {
  double** rows[3] = {c->X, c->Y, c->Z};
  for (int k = 0; k < c->dimension; ++k)
    if (SolveBandRows(A, m, data[k], rows[k][0], w, idx) < 0) return false;
  return true;
}

// ---- Curves through points ------------------------------------------------------------------

Bspline* InterpolateDegree1(double* x, double* y, double* z, int m, double* knots) {
  // The padded layout: the parameters knots[1 .. m + 1] between one extra copy of each end.
  if (!x || !y || m < 1 || m > INT_MAX - 3 || (knots && !KnotVectorSound(knots, 1, m + 1))) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocCurveBspline(z ? 3 : 2, 1, m + 1));
  if (!c) return nullptr;
  if (knots)
    std::memcpy(c->knotsU, knots, sizeof(double) * (m + 3));
  else
    PaddedChordParams(x, y, z, m, 1, c->knotsU);
  const double* data[3] = {x, y, z};
  double** rows[3] = {c->X, c->Y, c->Z};
  for (int k = 0; k < c->dimension; ++k)
    std::memcpy(rows[k][0], data[k], sizeof(double) * (m + 1));
  if (!RowFinite(c.get())) {
    SetKernelError(-2);
    return nullptr;
  }
  double size, magnitude;
  PointsExtent(x, y, z, m + 1, &size, &magnitude);
  const double closeTol = kClosedTol * size;
  const bool closed = std::fabs(x[0] - x[m]) <= closeTol && std::fabs(y[0] - y[m]) <= closeTol &&
                      (!z || std::fabs(z[0] - z[m]) < closeTol);
  c->closedU = closed ? 1 : 0;
  SetDomainFromKnots(c.get(), 0);
  if (m == 1 && z && !AttachLine(c.get(), x, y, z)) return nullptr;
  return c.release();
}

Bspline* InterpolatePoints(double* x, double* y, double* z, int n, double* knots, int degree,
                      int anyDegree) {
  if (anyDegree) return InterpolatePointsAnyDegree(x, y, z, n, knots, degree);
  return OnCopiesOfPoints(x, y, z, n, [&](double* ox, double* oy, double* oz) -> Bspline* {
    const int count = HandleDuplicates(ox, oy, oz, n + 1, knots != nullptr);
    if (count < 0) return nullptr;
    const int m = count - 1;
    if (m == 0) return PointCurve(ox, oy, oz, degree);
    if (degree == 1) return InterpolateDegree1(ox, oy, oz, m, knots);
    if (degree == 2 || degree > 3) {
      ShowUnavailable();
      return nullptr;
    }
    return CubicInterpolant(ox, oy, oz, m, knots);
  });
}

Bspline* InterpolatePoints_f(const float* x, const float* y, const float* z, int n, double* knots,
                        int degree, int anyDegree) {
  if (!x || !y || n < 0) return nullptr;
  TrackingScope scope;
  const int count = n + 1;
  double* block = MallocArray<double>(z ? 3 : 2, count);
  if (!block || KernelFailed()) return nullptr;
  double *dx = block, *dy = dx + count, *dz = z ? dy + count : nullptr;
  for (int i = 0; i < count; ++i) {
    dx[i] = x[i];
    dy[i] = y[i];
    if (z) dz[i] = z[i];
  }
  return InterpolatePoints(dx, dy, dz, n, knots, degree, anyDegree);
}

int SeparateDuplicates(double* x, double* y, double* z, int count, double tol) {
  if (count <= 1 || !x || !y) return count;
  TrackingScope scope;
  double* block = MallocArray<double>(3, count);
  if (!block || KernelFailed()) return count;
  double *nx = block, *ny = nx + count, *nz = ny + count;
  auto P = [&](int i, double out[3]) {
    out[0] = x[i], out[1] = y[i], out[2] = z ? z[i] : 0.0;
  };
  nx[0] = x[0], ny[0] = y[0], nz[0] = z ? z[0] : 0.0;
  const int dims = z ? 3 : 2;
  for (int i = 1; i < count; ++i) {
    double prev[3], cur[3];
    P(i - 1, prev);
    P(i, cur);
    bool dup = true;
    for (int k = 0; k < dims; ++k) dup = dup && std::fabs(cur[k] - prev[k]) <= tol;
    if (!dup) {
      nx[i] = cur[0], ny[i] = cur[1], nz[i] = cur[2];
      continue;
    }
    if (i < count - 1) {
      // Along the way to the successor, so the point stays between its neighbours.
      double next[3], d[3], u[3];
      P(i + 1, next);
      VecDiff3(next, prev, d);
      VecNormalize3(d, u);
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = prev[k] + tol * u[k];
      bool nearNext = true;
      for (int k = 0; k < dims; ++k) nearNext = nearNext && std::fabs(q[k] - next[k]) < tol;
      if (nearNext)
        for (int k = 0; k < 3; ++k) q[k] = 0.5 * (prev[k] + next[k]) + tol;
      nx[i] = q[0], ny[i] = q[1], nz[i] = z ? q[2] : 0.0;
    } else {
      // The last point keeps its own values but for the first coordinate that is too close.
      double q[3] = {cur[0], cur[1], cur[2]};
      for (int k = 0; k < dims; ++k) {
        if (std::fabs(cur[k] - prev[k]) < tol) {
          q[k] = prev[k] <= cur[k] ? prev[k] + tol : prev[k] - tol;
          break;
        }
      }
      nx[i] = q[0], ny[i] = q[1], nz[i] = q[2];
    }
  }
  for (int i = 0; i < count; ++i) {
    x[i] = nx[i];
    y[i] = ny[i];
    if (z) z[i] = nz[i];
  }
  return count;
}

void PaddedChordParams(const double* x, const double* y, const double* z, int m, int p, double* out) {
  if (!x || !y || !out || m < 0 || p < 0) return;
  for (int i = 0; i <= p; ++i) out[i] = 0.0;
  for (int i = 0; i < m; ++i) out[p + 1 + i] = out[p + i] + Chord(x, y, z, i);
  for (int i = 1; i <= p; ++i) out[p + m + i] = out[p + m];
}

// ---- Tridiagonal collocation ----------------------------------------------------------------

void TridiagCollocation(const double* knots, int m, double* lower, double* diag, double* upper, int p,
                  int endStart, int endEnd) {
  if (!knots || !lower || !diag || !upper || m < 1 || p < 0 || p > kMaxSplineDegree) return;
  lower[0] = 0.0, diag[0] = 1.0, upper[0] = 0.0;
  int row = 1;
  for (int i = 1; i <= m - 1; ++i) {
    if ((i == 1 && endStart == 2) || (i == m - 1 && endEnd == 2)) continue;
    // The basis at a knot: N(i+3) vanishes there, so three values make the row; a degree
    // below 2 leaves the third value 0.
    double N[kMaxSplineDegree + 3] = {};
    ComputeNubVals(knots, p, knots[p + i], p + i, N);
    lower[row] = N[1], diag[row] = N[2], upper[row] = N[3];
    ++row;
  }
  lower[row] = 0.0, diag[row] = 1.0, upper[row] = 0.0;
}

void BesselEnds(const double* d, const double* knots, int m, double* first, double* last) {
  if (!d || !knots || !first || !last || m < 1) return;
  if (m == 1) {
    *first = (2.0 * d[0] + d[1]) / 3.0;
    *last = (d[0] + 2.0 * d[1]) / 3.0;
    return;
  }
  // The middle Bezier point of the parabola through the first (last) three data values at
  // their parameters; the cubic's second control point lies two thirds of the way to it.
  const double a = (knots[5] - knots[4]) / (knots[5] - knots[3]), b = 1.0 - a;
  const double M = (d[1] - a * a * d[0] - b * b * d[2]) / (2.0 * a * b);
  *first = (2.0 * (a * d[0] + b * M) + d[0]) / 3.0;
  const double r = (knots[m + 3] - knots[m + 2]) / (knots[m + 3] - knots[m + 1]), s = 1.0 - r;
  const double M2 = (d[m - 1] - r * r * d[m - 2] - s * s * d[m]) / (2.0 * r * s);
  *last = (2.0 * (s * d[m] + r * M2) + d[m]) / 3.0;
}

void FactorTridiag(const double* lower, const double* diag, const double* upper, double* d,
                 double* l, int m) {
  if (!lower || !diag || !upper || !d || !l || m < 0) return;
  d[0] = diag[0];
  l[0] = 0.0;
  for (int i = 1; i <= m; ++i) {
    l[i] = lower[i] / d[i - 1];
    d[i] = diag[i] - l[i] * upper[i - 1];
  }
}

void SolveTridiag(const double* d, const double* l, const double* upper, int m,
                   const double* rhs, double* out) {
  if (!d || !l || !upper || !rhs || !out || m < 0) return;
  // The forward sweep's column lives in out until the backward sweep overwrites it.
  out[0] = rhs[0];
  for (int i = 1; i <= m; ++i) out[i] = rhs[i] - l[i] * out[i - 1];
  out[m] = out[m] / d[m];
  for (int i = m - 1; i >= 0; --i) out[i] = (out[i] - upper[i] * out[i + 1]) / d[i];
}

// ---- Any degree ------------------------------------------------------------------------------

double* AveragedKnotVector(const double* params, int m, int p) {
  if (!params) {
    SetKernelError(-2);
    return nullptr;
  }
  double* K = MallocArray<double>(m + p + 2);
  if (!K || KernelFailed()) return nullptr;
  AverageKnots(params, m, p, K);
  return K;
}

void BandCollocation(const double* knots, const double* params, int m, double** A, int* idx, int w,
                     int p) {
  if (!knots || !params || !A || !idx || m < 1 || w < 1 || p < 0 || p > kMaxSplineDegree) return;
  for (int r = 0; r <= m; ++r)
    for (int k = 0; k < w; ++k) A[r][k] = 0.0;
  idx[0] = 0;
  A[0][0] = 1.0;
  int span = p, j = p;
  for (int i = 1; i <= m - 1; ++i) {
    const double t = params[p + i];
    // The first knot at or above t; the parameters ascend, so the scan goes on from the last
    // row's (restarting only for a parameter that steps back).
    if (j > p && knots[j - 1] >= t) j = p;
    while (j < m + 1 && knots[j] < t) ++j;
    int s;
    if (j <= m + 1 && knots[j] == t) {
      s = j - 1;  // on a knot the row takes the span that ends there
    } else {
      s = span;
      FindLowKnotIndex(knots, p, t, &s, m + 1);
    }
    span = s;
    double N[kMaxSplineDegree + 3] = {};
    ComputeNubVals(knots, p, t, s, N);
    for (int k = 0; k <= p; ++k) A[i][k] = N[k + 1];
    idx[i] = s - p;
  }
  int s = span;
  FindLowKnotIndex(knots, p, params[p + m], &s, m + 1);
  idx[m] = s - p;
  A[m][p] = 1.0;
}

int FactorBandRows(double** A, int n, int ml, int mu, int* idx) {
  const int w = ml + mu + 1;
  for (int k = 0; k <= n; ++k) {
    // A pivot the factorisation divides by must be a number other than 0: otherwise the
    // parameters do not fit the knots (Schoenberg-Whitney) and the factors would spread
    // infinities through every solution.
    const int kk = k - idx[k];
    if (Inside(kk, w) && (A[k][kk] == 0.0 || !std::isfinite(A[k][kk]))) {
      SetKernelError(-2);
      return -2;
    }
    if (k == n) break;
    const int jEnd = std::min(k + ml, n);
    for (int j = k + 1; j <= jEnd; ++j) {
      const int jk = k - idx[j];
      if (Inside(jk, w) && Inside(kk, w)) A[j][jk] /= A[k][kk];
    }
    const int cEnd = std::min(k + mu, n);
    for (int c = k + 1; c <= cEnd; ++c) {
      const int kc = c - idx[k];
      if (!Inside(kc, w)) continue;
      for (int j = k + 1; j <= jEnd; ++j) {
        const int jc = c - idx[j], jk = k - idx[j];
        if (Inside(jc, w) && Inside(jk, w)) A[j][jc] -= A[k][kc] * A[j][jk];
      }
    }
  }
  return 0;
}

int SolveBandRows(double** A, int n, const double* b, double* x, int w, const int* idx) {
  if (!A || !b || !x || !idx) return -2;
  // Forward with the unit lower factor; x holds the intermediate column until the backward
  // sweep overwrites it from the bottom (b and x may be one array).
  for (int i = 0; i <= n; ++i) {
    double s = b[i];
    for (int j = std::max(idx[i], 0); j < i; ++j)
      if (Inside(j - idx[i], w)) s -= A[i][j - idx[i]] * x[j];
    x[i] = s;
  }
  for (int i = n; i >= 0; --i) {
    const int ii = i - idx[i];
    const double piv = Inside(ii, w) ? A[i][ii] : 0.0;
    if (piv == 0.0 || !std::isfinite(piv)) {
      SetKernelError(-2);
      return -2;
    }
    double s = x[i];
    for (int j = i + 1; j <= std::min(n, idx[i] + w - 1); ++j) s -= A[i][j - idx[i]] * x[j];
    x[i] = s / piv;
  }
  if (!AllFinite(x, n + 1)) {
    SetKernelError(-2);
    return -2;
  }
  return 0;
}

// InterpolatePointsAnyDegree's work, on copies of the caller's points.
static Bspline* AnyDegreeOnCopies(double* x, double* y, double* z, int n, double* params, int p) {
  if (!x || !y || n < 0 || p < 1 || p > kMaxSplineDegree) return nullptr;
  if (params && n + 1 < p + 1) return nullptr;
  if (params && !SortedFiniteArray(params, n + 2 * p + 1)) return nullptr;
  int count = HandleDuplicates(x, y, z, n + 1, params != nullptr);
  if (count < 0) return nullptr;
  if (count == 1) return PointCurve(x, y, z, p);
  TrackingScope scope;
  double *lx = x, *ly = y, *lz = z;
  if (!params) {
    // Added points live in this call's scope; the caller's arrays do not grow.
    const int r = AddPointsToOrder(&lx, &ly, &lz, &count, p);
    if (r == -9) return PointCurve(x, y, z, p);
    if (r < 0) return nullptr;
    SeparateDuplicates(lx, ly, lz, count, DuplicateTol(lx, ly, lz, count));
    if (KernelFailed()) return nullptr;
  }
  const int m = count - 1;
  double* pad = MallocArray<double>(m + 2 * p + 1);
  if (!pad || KernelFailed()) return nullptr;
  if (params)
    std::memcpy(pad, params, sizeof(double) * (m + 2 * p + 1));
  else
    PaddedChordParams(lx, ly, lz, m, p, pad);
  Owned<Bspline, FreeBspline> c(MallocCurveBspline(z ? 3 : 2, p, m + 1));
  if (!c) return nullptr;
  AverageKnots(pad, m, p, c->knotsU);
  const int w = InterpBandWidth(p), h = (w - 1) / 2;
  double** A = allocate_matrix_ff(m + 1, w);
  int* idx = MallocArray<int>(m + 1);
  if (!A || !idx || KernelFailed()) return nullptr;
  BandCollocation(c->knotsU, pad, m, A, idx, w, p);
  if (FactorBandRows(A, m, h, h, idx) < 0) return nullptr;
  const double* data[3] = {lx, ly, lz};
  if (!SolveBandCoordinates(A, m, w, idx, data, c.get())) return nullptr;
  if (!RowFinite(c.get())) {
    SetKernelError(-2);
    return nullptr;
  }
  SetDomainFromKnots(c.get(), 0);
  if (m == 1 && z && !AttachLine(c.get(), lx, ly, lz)) return nullptr;
  return c.release();
}

Bspline* InterpolatePointsAnyDegree(double* x, double* y, double* z, int n, double* params, int p) {
  return OnCopiesOfPoints(x, y, z, n, [&](double* ox, double* oy, double* oz) {
    return AnyDegreeOnCopies(ox, oy, oz, n, params, p);
  });
}

int AddPointsToOrder(double** x, double** y, double** z, int* count, int p) {
  const int n = *count;
  if (n >= p + 1) return 0;
  if (n < 2) return -2;  // a single point has no span to split
  const bool hasZ = z && *z;
  const double* X = *x;
  const double* Y = *y;
  const double* Z = hasZ ? *z : nullptr;
  const int dims = hasZ ? 3 : 2;
  const int k = p + 1 - n;
  if (n == 2) {
    // Evenly on the segment; an even count keeps the points symmetric about its middle.
    const int add = k + (k & 1);
    double* block = MallocArray<double>(dims, add + 2);
    if (!block || KernelFailed()) return -2;
    double* out[3] = {block, block + add + 2, hasZ ? block + 2 * (add + 2) : nullptr};
    const double* in[3] = {X, Y, Z};
    bool tooClose = true;
    const double tol = DuplicateTol(X, Y, Z, 2);
    for (int c = 0; c < dims; ++c) {
      out[c][0] = in[c][0];
      out[c][add + 1] = in[c][1];
      for (int i = 1; i <= add; ++i)
        out[c][i] = in[c][0] + (in[c][1] - in[c][0]) * i / (add + 1);
      tooClose = tooClose && std::fabs(out[c][1] - in[c][0]) < tol;
    }
    if (tooClose) {
      Free(block);
      return -9;
    }
    *x = out[0];
    *y = out[1];
    if (hasZ) *z = out[2];
    *count = add + 2;
    return 0;
  }
  // Three or more points: new points on a lower-degree interpolant at midpoints of the
  // parameter spans, inserted alternately from both ends. The result arrays belong to the
  // caller's scope; at most k + 1 points are added.
  double* block = MallocArray<double>(dims, n + k + 1);
  if (!block || KernelFailed()) return -2;
  const int cap = n + k + 1;
  double* out[3] = {block, block + cap, hasZ ? block + 2 * cap : nullptr};
  const double* src[3] = {X, Y, Z};
  const int total = MergeAddedPoints(src, dims, n, p, k, out);
  if (total < 0) {
    Free(block);
    return -2;
  }
  *x = out[0];
  *y = out[1];
  if (hasZ) *z = out[2];
  *count = total;
  return 0;
}

double* InsertMidpointsSymmetric(const double* knots, int len, int p, int count) {
  // Both insertion points start inside the domain: it needs a span of its own.
  if (!knots || p < 0 || len < 2 * p + 2) {
    SetKernelError(-2);
    return nullptr;
  }
  double* K = MallocArray<double>(len + std::max(count, 0));
  if (!K || KernelFailed()) return nullptr;
  std::memcpy(K, knots, sizeof(double) * len);
  int n = len, f = p, b = len - p - 2;
  for (int i = 0; i < count; ++i) {
    const bool front = (i % 2) == 0;
    const int s = front ? f : b;
    const double mid = 0.5 * (K[s] + K[s + 1]);
    std::memmove(K + s + 2, K + s + 1, sizeof(double) * (n - s - 1));
    K[s + 1] = mid;
    ++n;
    if (front) {
      ++b;  // the back position moved up with the values behind the insertion
    } else {
      f += 2;  // past the split span to the next one
      --b;
      if (f > b) std::swap(f, b);
    }
  }
  return K;
}

double* InsertParamsSymmetric(const double* params, int len, int p, int* count) {
  if (!params || !count) {
    SetKernelError(-2);
    return nullptr;
  }
  int remaining = *count, total = 0;
  double* cur = MallocArray<double>(len);
  if (!cur || KernelFailed()) return nullptr;
  std::memcpy(cur, params, sizeof(double) * len);
  while (remaining > 0) {
    const int spans = len - 2 * p - 1;
    if (spans < 1) {
      Free(cur);
      SetKernelError(-2);
      return nullptr;
    }
    const int batch = remaining < spans ? remaining + (remaining & 1) : spans;
    double* next = InsertMidpointsSymmetric(cur, len, p, batch);
    Free(cur);
    if (!next) return nullptr;
    cur = next;
    len += batch;
    remaining -= batch;
    total += batch;
  }
  *count = total;
  return cur;
}

double* InsertInLargestSpans(double* knots, int len, int p, int count) {
  // One midpoint per span: never more midpoints than spans.
  const int c = std::min(count, len - 2 * p - 1);
  if (c < 1) {
    double* copy;
    {
      UntrackedScope own;  // the result is the caller's, as the grown vector below
      copy = MallocArray<double>(len);
    }
    if (!copy || KernelFailed()) {
      Free(copy);
      return nullptr;
    }
    std::memcpy(copy, knots, sizeof(double) * len);
    return copy;
  }
  TrackingScope scope;
  int* positions = FindNLargestSpanIndices(c, p, len - p, knots);
  if (!positions || KernelFailed()) return nullptr;
  double* mids = FindFixedWeightedPoints(knots, c, positions, 1.0, 1.0);
  if (!mids || KernelFailed()) return nullptr;
  SortIndicesAndValues(c, &mids, &positions);
  if (KernelFailed()) return nullptr;
  double* out;
  {
    UntrackedScope own;  // the result is the caller's
    out = InsertNColsInVectorByIndex(len, knots, c, mids, positions);
  }
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  return out;
}

// ---- Closed fits by wrapping ----------------------------------------------------------------

void WrapCloudArrays(const Cloud* cloud, float* x, float* y, float* z, int nHead, int nTail,
                      int closed, int* count) {
  if (!cloud || !x || !y || !z || !count) return;
  const int n = cloud->npts;
  // The head and tail are copies of the cloud's own points.
  if (!cloud->x || !cloud->y || !cloud->z || nHead < 0 || nTail < 0 || nHead > n || nTail > n) return;
  int k = 0;
  auto put = [&](int i) {
    x[k] = cloud->x[i];
    y[k] = cloud->y[i];
    z[k] = cloud->z[i];
    ++k;
  };
  for (int i = n - nTail; i < n; ++i) put(i);
  for (int i = closed ? 1 : 0; i < (closed ? n - 1 : n); ++i) put(i);
  for (int i = 0; i < nHead; ++i) put(i);
  *count = k;
}

int WrapCloudForClosedFit(Cloud* cloud, int degree, int ncoef, double** params) {
  // The wrap copies degree + 1 points from each end: fewer points would be read from outside
  // the cloud.
  if (!cloud || !cloud->x || !cloud->y || !cloud->z || degree < 1 || cloud->npts < degree + 1 ||
      (ncoef >= 1 && !params)) {
    SetKernelError(-2);
    return 0;
  }
  TrackingScope scope;
  int n = cloud->npts;
  const float* px = cloud->x;
  const float* py = cloud->y;
  const float* pz = cloud->z;
  auto sq = [](double d) { return d * d; };
  // Ends within kClosedTol of the points' size of each other close the sequence.
  double lo[3] = {px[0], py[0], pz[0]}, hi[3] = {px[0], py[0], pz[0]};
  for (int i = 0; i < n; ++i) {
    const double p[3] = {px[i], py[i], pz[i]};
    for (int c = 0; c < 3; ++c) lo[c] = std::fmin(lo[c], p[c]), hi[c] = std::fmax(hi[c], p[c]);
  }
  const double closeTol = kClosedTol * std::sqrt(sq(hi[0] - lo[0]) + sq(hi[1] - lo[1]) + sq(hi[2] - lo[2]));
  int closed = sq(px[0] - px[n - 1]) + sq(py[0] - py[n - 1]) + sq(pz[0] - pz[n - 1]) < sq(closeTol);
  float* appended = nullptr;  // the open sequence with its first point repeated
  double* wrapped = nullptr;
  int nHead = degree + 1, nTail = degree + 1;
  if (ncoef >= 1) {
    if (!closed) {
      appended = MallocArray<float>(3, n + 1);
      if (!appended || KernelFailed()) return 0;
      float* a[3] = {appended, appended + n + 1, appended + 2 * (n + 1)};
      const float* src[3] = {px, py, pz};
      for (int c = 0; c < 3; ++c) {
        std::memcpy(a[c], src[c], sizeof(float) * n);
        a[c][n] = src[c][0];
      }
      px = a[0], py = a[1], pz = a[2];
      ++n;
      closed = 1;
    }
    double* t = MallocArray<double>(n);
    wrapped = MallocArray<double>(3, n);
    if (!t || !wrapped || KernelFailed()) return 0;
    normalize_tarray3(px, py, pz, n, t);
    const double w = static_cast<double>(degree) / (ncoef - 1);
    nHead = 0;
    while (nHead < n && t[nHead] <= w) ++nHead;
    nTail = 0;
    while (nTail < n - 1 && t[n - 1 - nTail] >= 1.0 - w) ++nTail;
    int k = 0;
    for (int i = n - nTail; i < n; ++i) wrapped[k++] = t[i] - 1.0;
    for (int i = 1; i <= n - 2; ++i) wrapped[k++] = t[i];
    for (int i = 0; i < nHead; ++i) wrapped[k++] = t[i] + 1.0;
    Free(t);
  }
  float* out = MallocArray<float>(3, 3 * n);
  if (!out || KernelFailed()) return 0;
  Cloud view = *cloud;  // the points to wrap, appended or not
  view.npts = n;
  view.x = const_cast<float*>(px), view.y = const_cast<float*>(py), view.z = const_cast<float*>(pz);
  int count = 0;
  WrapCloudArrays(&view, out, out + 3 * n, out + 6 * n, nHead, nTail, closed, &count);
  // Three arrays the cloud owns and frees one by one.
  float* nx = MallocArray<float>(count);
  float* ny = MallocArray<float>(count);
  float* nz = MallocArray<float>(count);
  if (!nx || !ny || !nz || KernelFailed()) return 0;
  std::memcpy(nx, out, sizeof(float) * count);
  std::memcpy(ny, out + 3 * n, sizeof(float) * count);
  std::memcpy(nz, out + 6 * n, sizeof(float) * count);
  Free(out);
  Free(appended);
  scope.keep();
  Free(cloud->x);
  Free(cloud->y);
  Free(cloud->z);
  cloud->x = nx, cloud->y = ny, cloud->z = nz;
  cloud->npts = count;
  if (wrapped) *params = wrapped;
  return closed;
}

int UnwrapClosedFit(Bspline* curve, int nWrap, int closed) {
  if (!curve || curve->kind != 1 || !BsplineShapeSound(curve) || nWrap < 0) return -2;
  const int p = curve->degreeU, N = NumCtrlU(curve);
  const int s = closed == 0 ? nWrap + 1 : nWrap;
  const int c = N - s - nWrap;
  if (c < 1) return c;
  if (c < p + 1) return -2;  // too few control points left for a curve of the degree
  double* K;
  double** rows[4] = {nullptr, nullptr, nullptr, nullptr};
  double** old[4] = {curve->X, curve->Y, curve->dimension == 3 ? curve->Z : nullptr,
                     curve->rational ? curve->W : nullptr};
  {
    TrackingScope scope;
    K = MallocArray<double>(p + c + 1);
    if (!K || KernelFailed()) return -2;
    for (int k = 0; k < 4; ++k) {
      if (!old[k]) continue;
      rows[k] = allocate_matrix_fh(1, c);
      if (!rows[k] || KernelFailed()) return -2;
    }
    scope.keep();  // the new arrays belong to the curve from here on
  }
  const double* k0 = curve->knotsU;
  for (int j = 0; j <= p + c; ++j) K[j] = k0[s + j] - k0[s + p];
  for (int k = 0; k < 4; ++k) {
    if (!rows[k]) continue;
    for (int i = 0; i < c; ++i) rows[k][0][i] = old[k][0][s + i];
    // The last p control points repeat the first p: the period closes on itself.
    if (k < 3) {
      for (int i = 0; i < p && i < c; ++i) {
        const double mean = 0.5 * (rows[k][0][c - p + i] + rows[k][0][i]);
        rows[k][0][c - p + i] = rows[k][0][i] = mean;
      }
    }
  }
  // The cut period is clamped as a record of its own, so that a failure leaves the curve as
  // it was.
  Owned<Bspline, FreeBspline> cut;
  {
    TrackingScope scope;
    cut.reset(MallocNullBspline());
    if (cut && !KernelFailed()) scope.keep();
  }
  if (!cut || KernelFailed()) {
    cut.reset();
    Free(K);
    for (double** r : rows)
      if (r) matrix_free_fh(r);
    if (!KernelFailed()) SetKernelError(-2);
    return -2;
  }
  cut->kind = 1;
  cut->dimension = curve->dimension;
  cut->rational = curve->rational;
  cut->degreeU = p;
  cut->interiorU = c - p - 1;
  cut->closedU = 3;
  InstallBsplineArrays(cut.get(), K, nullptr, rows[0], rows[1], rows[2], rows[3]);
  SetDomainFromKnots(cut.get(), 0);
  const int r = ClampWrappedDirection(cut.get(), 0, 1);
  if (r < 0) return r;
  InstallBsplineArrays(curve, cut->knotsU, nullptr, cut->X, cut->Y, cut->Z, cut->W);
  cut->knotsU = nullptr, cut->X = cut->Y = cut->Z = cut->W = nullptr;
  curve->interiorU = cut->interiorU;
  curve->closedU = 3;
  SetDomainFromKnots(curve, 0);
  FreeBsplineProperties(curve);
  return r;
}
