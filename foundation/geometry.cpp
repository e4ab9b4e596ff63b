#include "foundation/geometry.h"

#include <cmath>

#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/geo2.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"

namespace {

// Foot of p on the line through a and b in the legacy parametrisation foot = t a + (1 - t) b.
// A line with |b - a|^2 below minLen2 is taken as the point a.
double LineFoot(const double p[3], const double a[3], const double b[3], double minLen2, double foot[3]) {
  const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double len2 = VecDotProd3(e, e);
  double f[3];
  const double t = len2 > 0.0 ? ((b[0] - p[0]) * e[0] + (b[1] - p[1]) * e[1] + (b[2] - p[2]) * e[2]) / len2 : 0.0;
  if (len2 < minLen2 || len2 == 0.0 || !std::isfinite(t)) {
    f[0] = a[0], f[1] = a[1], f[2] = a[2];
  } else {
    for (int i = 0; i < 3; ++i) f[i] = t * a[i] + (1.0 - t) * b[i];
  }
  const double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
  foot[0] = f[0], foot[1] = f[1], foot[2] = f[2];
  return VecDotProd3(d, d);
}

int LineTriangle(const double A[3], const double B[3], const double C[3], const double dir[3], const double P[3],
                 double out[3], double bary[3], double tol) {
  // P + s dir = C + u (A - C) + v (B - C): three equations in u, v, s.
  double u, v, s;
  if (SolveLin3(A[0] - C[0], B[0] - C[0], -dir[0], P[0] - C[0], A[1] - C[1], B[1] - C[1], -dir[1], P[1] - C[1],
                A[2] - C[2], B[2] - C[2], -dir[2], P[2] - C[2], &u, &v, &s) != 0)
    return 0;
  const double w = 1.0 - u - v;
  const double lo = -tol, hi = 1.0 + tol;
  if (u < lo || u > hi || v < lo || v > hi || w < lo || w > hi) return 0;
  for (int i = 0; i < 3; ++i) out[i] = P[i] + s * dir[i];
  bary[0] = u;
  bary[1] = v;
  bary[2] = w;
  return 1;
}

}  // namespace

// ---- distances ------------------------------------------------------------------------------

int LineSegPntMinDist(const double p[3], const double a[3], const double b[3], double foot[3], double* dist) {
  double d2, t;
  LineSegPntMinDistSq(p, a, b, foot, &d2, &t);
  *dist = std::sqrt(d2);
  return 0;
}

void LinePntMinDist(const double p[3], const double a[3], const double b[3], double foot[3], double* dist) {
  *dist = std::sqrt(LineFoot(p, a, b, 0.0, foot));
}

void LinePntMinDistSq(const double p[3], const double a[3], const double b[3], double foot[3], double* dist2) {
  // The line is taken as the point a when |b - a|^2 is below exp(-12) times the square of the
  // configuration's size, capped at 1. An absolute exp(-12) turned every line shorter than about
  // 2.5e-3 into a point, so small models got feet at a; the cap keeps a short line with a far
  // point a line, as before.
  const double size = std::fmin(1.0, std::fmax(VecDist3(p, a), VecDist3(p, b)));
  *dist2 = LineFoot(p, a, b, std::exp(-12.0) * size * size, foot);
}

int LineSegPntMinSqDistParam(const double p[3], const double a[3], const double b[3], double foot[3],
                             double* dist2, double* t) {
  return LineSegPntMinDistSq(p, a, b, foot, dist2, t);
}

double ScreenLineSeg2DPntMinSqDist(int px, int py, int x0, int y0, int x1, int y1, double* t) {
  const double dx = static_cast<double>(x1) - x0, dy = static_cast<double>(y1) - y0;
  const double len2 = dx * dx + dy * dy;
  auto sq = [&](double qx, double qy) { return (qx - px) * (qx - px) + (qy - py) * (qy - py); };
  if (len2 == 0.0) {
    *t = 0.0;
    return sq(x0, y0);
  }
  const double tt = ((static_cast<double>(x1) - px) * dx + (static_cast<double>(y1) - py) * dy) / len2;
  if (tt < 0.0) {
    *t = 0.0;
    return sq(x1, y1);
  }
  if (tt > 1.0) {
    *t = 1.0;
    return sq(x0, y0);
  }
  *t = tt;
  return sq(tt * x0 + (1.0 - tt) * x1, tt * y0 + (1.0 - tt) * y1);
}

int TriangPntMinDist(const double p[3], const double a[3], const double b[3], const double c[3], double foot[3],
                     double* dist) {
  double d2, s, t;
  TriangPntMinDistSq(p, a, b, c, foot, &d2, &s, &t);
  *dist = std::sqrt(d2);
  return 0;
}

void PlaneMinDist(const double p[3], double a, double b, double c, double d, double foot[3], double* dist) {
  double d2;
  PlaneMinDistSq(p, a, b, c, d, foot, &d2);
  *dist = std::sqrt(d2);
}

int Plane3PntsMinDist(const double p[3], const double a[3], const double b[3], const double c[3], double foot[3],
                      double* dist) {
  const double e1[3] = {a[0] - c[0], a[1] - c[1], a[2] - c[2]};
  const double e2[3] = {b[0] - c[0], b[1] - c[1], b[2] - c[2]};
  const double w[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
  const double g11 = VecDotProd3(e1, e1), g12 = VecDotProd3(e1, e2), g22 = VecDotProd3(e2, e2);
  double u, v;
  if (SolveLin2(g11, g12, VecDotProd3(w, e1), g12, g22, VecDotProd3(w, e2), &u, &v) != 0) {
    // Collinear points span no plane: leave the point where it is.
    foot[0] = p[0], foot[1] = p[1], foot[2] = p[2];
    *dist = 0.0;
    return -2;
  }
  for (int i = 0; i < 3; ++i) foot[i] = c[i] + u * e1[i] + v * e2[i];
  *dist = VecDist3(p, foot);
  return 0;
}

// ---- planes ---------------------------------------------------------------------------------

int FindPlaneEq(const double p0[3], const double p1[3], const double p2[3], PlaneEq plane) {
  const double u[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
  const double v[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
  double n[3];
  VecCrossProd3(u, v, n);
  // Collinear when every component of u x v is below 1e-10 |u| |v|: an absolute 1e-10 called
  // every triangle smaller than about 1e-5 collinear.
  const double tol = 1e-10 * VecSize3(u) * VecSize3(v);
  if (!(std::fabs(n[0]) > tol || std::fabs(n[1]) > tol || std::fabs(n[2]) > tol)) return -2;
  const double ax = std::fabs(n[0]), ay = std::fabs(n[1]), az = std::fabs(n[2]);
  const int k = (ax >= ay && ax >= az) ? 0 : (ay >= az ? 1 : 2);
  const double s = n[k];
  for (int i = 0; i < 3; ++i) {
    n[i] = (i == k) ? 1.0 : n[i] / s;
    if (i != k && std::fabs(n[i]) < 1e-6) n[i] = 0.0;
  }
  plane[0] = n[0];
  plane[1] = n[1];
  plane[2] = n[2];
  plane[3] = -VecDotProd3(n, p0);
  return 0;
}

int TransformPlaneEq(const PlaneEq plane, PlaneEq out, const Xform M) {
  const double a = plane[0], b = plane[1], c = plane[2], d = plane[3];
  double r[4];
  for (int i = 0; i < 3; ++i) r[i] = M[4 * i] * a + M[4 * i + 1] * b + M[4 * i + 2] * c;
  r[3] = M[12] * a + M[13] * b + M[14] * c + d;
  for (int i = 0; i < 4; ++i) out[i] = r[i];
  return 0;
}

namespace {

// The centroid and the second moments about it (n times the covariance) of the points that a
// plane fit accepts; false for n < 3, fewer than 6 collinear points or coincident points.
bool PlaneFitMoments(const float* x, const float* y, const float* z, int n, double mean[3], double cov[3][3]) {
  if (n < 3) return false;
  if (n < 6 && IsLinear(x, y, z, n)) return false;
  bool spread = false;
  for (int i = 1; i < n && !spread; ++i)
    spread = std::fabs(static_cast<double>(x[i]) - x[0]) > 1e-10 || std::fabs(static_cast<double>(y[i]) - y[0]) > 1e-10 ||
             std::fabs(static_cast<double>(z[i]) - z[0]) > 1e-10;
  if (!spread) return false;

  // Centred in double on the fly: the caller's arrays are never written.
  mean[0] = mean[1] = mean[2] = 0.0;
  for (int i = 0; i < n; ++i) {
    mean[0] += x[i];
    mean[1] += y[i];
    mean[2] += z[i];
  }
  for (int k = 0; k < 3; ++k) mean[k] /= n;
  double s[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - mean[0], dy = y[i] - mean[1], dz = z[i] - mean[2];
    s[0] += dx * dx, s[1] += dx * dy, s[2] += dx * dz;
    s[3] += dy * dy, s[4] += dy * dz, s[5] += dz * dz;
  }
  cov[0][0] = s[0] / n, cov[0][1] = cov[1][0] = s[1] / n, cov[0][2] = cov[2][0] = s[2] / n;
  cov[1][1] = s[3] / n, cov[1][2] = cov[2][1] = s[4] / n, cov[2][2] = s[5] / n;
  return true;
}

}  // namespace

int PlaneFitClearNormal(const float* x, const float* y, const float* z, int n, double normal[3]) {
  if (!x || !y || !z) return 0;
  double mean[3], cov[3][3], w[3];
  if (!PlaneFitMoments(x, y, z, n, mean, cov) || SymEigen3Smallest(cov, w, normal) != 0) return 0;
  // The eigenvector moves by about round-off times w[2] / (w[1] - w[0]): a gap of a thousandth
  // keeps it within 1e-12 of any other accurate solver's.
  if (!(w[1] - w[0] > 1e-3 * w[2])) return 0;
  for (int k = 0; k < 3; ++k) {
    // Components this close to the zeroing threshold could fall either side of it.
    if (std::fabs(std::fabs(normal[k]) - 1e-6) < 1e-12) return 0;
  }
  return UnitDirReduceSmallToZero3(normal) == 0 ? 1 : 0;
}

int PlaneFit(const float* x, const float* y, const float* z, int n, PlaneEq plane) {
  double mean[3], cov[3][3], inv[3][3];
  if (!PlaneFitMoments(x, y, z, n, mean, cov)) return 0;
  if (KernelFailed()) return 0;

  double d[3];
  eigensystem3(cov, d);
  // The third row of the inverse of the eigenvector matrix is the eigenvector of the smallest
  // eigenvalue.
  if (inverse_matrix3(cov, inv) != 0) return 0;
  double normal[3] = {inv[2][0], inv[2][1], inv[2][2]};
  if (UnitDirReduceSmallToZero3(normal) != 0) return 0;
  plane[0] = normal[0];
  plane[1] = normal[1];
  plane[2] = normal[2];
  plane[3] = -VecDotProd3(normal, mean);
  return 1;
}

int PlanesIntersect(const PlaneEq plane1, const PlaneEq plane2, double q0[3], double q1[3]) {
  double c[3];
  VecCrossProd3(plane1, plane2, c);
  const double ax = std::fabs(c[0]), ay = std::fabs(c[1]), az = std::fabs(c[2]);
  if (ax < 1e-10 && ay < 1e-10 && az < 1e-10) return -2;
  const int k = (ay <= ax && az <= ax) ? 0 : (az <= ay ? 1 : 2);
  const int i = (k + 1) % 3, j = (k + 2) % 3;
  // With coordinate k fixed at value, the other two solve the plane equations; c[k] is their
  // determinant (Cramer).
  auto point = [&](double value, double q[3]) {
    const double r1 = -(plane1[3] + plane1[k] * value);
    const double r2 = -(plane2[3] + plane2[k] * value);
    q[k] = value;
    q[i] = (r1 * plane2[j] - r2 * plane1[j]) / c[k];
    q[j] = (plane1[i] * r2 - plane2[i] * r1) / c[k];
  };
  point(0.0, q0);
  point(1024.0, q1);
  return 0;
}

int FindBestPlanesSect(const double (*planes)[4], const double* ref, int n, double out[3]) {
  out[0] = out[1] = out[2] = 0.0;
  if (n < 2) return 0;
  int bi = 0, bj = 1;
  double best = kEmptyBoxBound;
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j) {
      const double c = std::fabs(VecDotProd3(planes[i], planes[j]));
      if (c < best) {
        best = c;
        bi = i;
        bj = j;
      }
    }
  double q0[3], q1[3];
  if (PlanesIntersect(planes[bi], planes[bj], q0, q1) != 0) return 0;
  const double dir[3] = {q1[0] - q0[0], q1[1] - q0[1], q1[2] - q0[2]};
  double sum[3] = {0.0, 0.0, 0.0};
  int count = 0;
  for (int k = 0; k < n; ++k) {
    if (k == bi || k == bj) continue;
    double q[3];
    if (PlaneLineIntersect(planes[k], q0, dir, q) != 0) continue;  // parallel to the line
    for (int m = 0; m < 3; ++m) sum[m] += q[m];
    ++count;
  }
  if (count > 0) {
    for (int m = 0; m < 3; ++m) out[m] = sum[m] / count;
  } else if (ref != nullptr) {
    // No third plane crosses the line (two planes, or more along a crease): the origin would be
    // an arbitrary point; the foot of ref is the one nearest the caller's.
    double d2;
    LinePntMinDistSq(ref, q0, q1, out, &d2);
  }
  return 1;
}

// ---- intersections and angles ---------------------------------------------------------------

int PlaneLineIntersect(const PlaneEq plane, const double P[3], const double dir[3], double out[3]) {
  const double nd = VecDotProd3(plane, dir);
  // Parallel when the sine of the angle between the line and the plane is below 1e-6: against
  // |n| |dir|, since an absolute 1e-6 refused every line whose direction vector was that short.
  if (!(std::fabs(nd) > 1e-6 * VecSize3(plane) * VecSize3(dir))) return -2;
  const double s = -(VecDotProd3(plane, P) + plane[3]) / nd;
  for (int i = 0; i < 3; ++i) out[i] = P[i] + s * dir[i];
  return 0;
}

int IntersectRange(double lo, double hi, double a, double b, int* clippedLo, int* clippedHi, double* newLo,
                   double* newHi) {
  *clippedLo = 0;
  *clippedHi = 0;
  if (lo < a) {
    lo = a;
    *clippedLo = 1;
  }
  if (hi > b) {
    hi = b;
    *clippedHi = 1;
  }
  if (hi <= lo) return 0;
  *newLo = lo;
  *newHi = hi;
  return 1;
}

int IntersectsLineSegBbox(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax, double x0,
                          double y0, double z0, double x1, double y1, double z1) {
  const double bmin[3] = {xmin, ymin, zmin}, bmax[3] = {xmax, ymax, zmax};
  double p[3] = {x0, y0, z0}, q[3] = {x1, y1, z1};
  for (int k = 0; k < 3; ++k) {
    if (p[k] == q[k]) {
      if (p[k] < bmin[k] || p[k] > bmax[k]) return 0;
      continue;
    }
    double* lo = p[k] < q[k] ? p : q;  // the end with the smaller coordinate on this axis
    double* hi = p[k] < q[k] ? q : p;
    int cutLo, cutHi;
    double nlo, nhi;
    if (!IntersectRange(lo[k], hi[k], bmin[k], bmax[k], &cutLo, &cutHi, &nlo, &nhi)) return 0;
    // Both new ends are interpolated on the segment as it was before this axis.
    double newLo[3], newHi[3];
    LinInterpolate3(lo, hi, nlo, k, newLo);
    LinInterpolate3(lo, hi, nhi, k, newHi);
    if (cutLo)
      for (int m = 0; m < 3; ++m) lo[m] = newLo[m];
    if (cutHi)
      for (int m = 0; m < 3; ++m) hi[m] = newHi[m];
  }
  return 1;
}

int IntersectsLineBbox(double xmin, double ymin, double zmin, double xmax, double ymax, double zmax, double px,
                       double py, double pz, double dx, double dy, double dz) {
  const double bmin[3] = {xmin, ymin, zmin}, bmax[3] = {xmax, ymax, zmax};
  const double p[3] = {px, py, pz}, d[3] = {dx, dy, dz};
  double enter = -kEmptyBoxBound, leave = kEmptyBoxBound;
  for (int k = 0; k < 3; ++k) {
    if (std::fabs(d[k]) < 1e-10) {
      if (p[k] < bmin[k] || p[k] > bmax[k]) return 0;
      continue;
    }
    double t1 = (bmin[k] - p[k]) / d[k], t2 = (bmax[k] - p[k]) / d[k];
    if (t1 > t2) {
      const double t = t1;
      t1 = t2;
      t2 = t;
    }
    if (t1 > enter) enter = t1;
    if (t2 < leave) leave = t2;
    if (enter > leave) return 0;
  }
  return 1;
}

int IntersectLineTriangle(const double A[3], const double B[3], const double C[3], const double dir[3],
                          const double P[3], double out[3], double bary[3]) {
  return LineTriangle(A, B, C, dir, P, out, bary, 0.0);
}

int IntersectLineTriangleTol(const double A[3], const double B[3], const double C[3], const double dir[3],
                             const double P[3], double out[3], double bary[3], double tol) {
  return LineTriangle(A, B, C, dir, P, out, bary, tol);
}

int Intersect2DSegments(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                        double* s, double* t) {
  // A1 + s (A2 - A1) = B1 + t (B2 - B1).
  double ss, tt;
  if (SolveLin2(x2 - x1, x3 - x4, x3 - x1, y2 - y1, y3 - y4, y3 - y1, &ss, &tt) != 0) return 0;
  *s = ss;
  *t = tt;
  return (ss >= 0.0 && ss <= 1.0 && tt >= 0.0 && tt <= 1.0) ? 1 : 0;
}

int IsIntersectLines(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4) {
  const double a = x2 - x1, b = x3 - x4, c = y2 - y1, d = y3 - y4;
  const double det = a * d - b * c;
  // Parallel against the segments' own lengths: an absolute 1e-10 called every pair of segments
  // shorter than about 1e-5 parallel.
  if (!(std::fabs(det) > 1e-10 * std::hypot(a, c) * std::hypot(b, d))) return 0;
  const double e = x3 - x1, f = y3 - y1;
  const double s = (e * d - b * f) / det;
  const double t = (a * f - c * e) / det;
  return (s >= 0.0 && s <= 1.0 && t >= 0.0 && t <= 1.0) ? 1 : 0;
}

int IsClosedPoints2DIntersect(double* x, double* y, int n, int* i, int* j) {
  if (n < 2) return 0;
  int m = n;
  if (x[n - 1] != x[0] || y[n - 1] != y[0]) {
    x[n] = x[0];
    y[n] = y[0];
    m = n + 1;
  }
  const int edges = m - 1;  // edge k runs from point k to point k + 1
  for (int a = 0; a < edges; ++a)
    for (int b = a + 2; b < edges; ++b) {
      if (a == 0 && b == edges - 1) continue;  // they share the closing point
      if (IsIntersectLines(x[a], y[a], x[a + 1], y[a + 1], x[b], y[b], x[b + 1], y[b + 1])) {
        *i = a;
        *j = b;
        return 1;
      }
    }
  return 0;
}

double FindAngleVectors3(const double a[3], const double b[3]) {
  return AngleFromDotAndSizes(VecDotProd3(a, b), VecSize3(a) * VecSize3(b));
}

double LinePlaneNormalAngle(const double line[6], const double normal[3]) {
  const double d[3] = {line[3] - line[0], line[4] - line[1], line[5] - line[2]};
  const double mag = VecSize3(d) * VecSize3(normal);
  if (mag == 0.0) return 0.0;
  double c = std::fabs(VecDotProd3(d, normal)) / mag;
  if (c > 1.0) c = 1.0;
  return std::acos(c) * 57.29577951308232;
}

int LineLineMinDist(const double line1[6], const double line2[6], double q1[3], double q2[3], double* dist) {
  const double* p0 = line1;
  const double* r0 = line2;
  const double d1[3] = {line1[3] - p0[0], line1[4] - p0[1], line1[5] - p0[2]};
  const double d2[3] = {line2[3] - r0[0], line2[4] - r0[1], line2[5] - r0[2]};
  const double w[3] = {p0[0] - r0[0], p0[1] - r0[1], p0[2] - r0[2]};
  const double a = VecDotProd3(d1, d1), b = VecDotProd3(d1, d2), e = VecDotProd3(d2, d2);
  double s, t;
  // Parallel when a e - b^2 = |d1 x d2|^2 is below 1e-12 a e (an angle under 1e-6): there the
  // normal equations are round-off, and their solution lies anywhere along the lines. Tested
  // against the lines' own lengths, as an absolute bound holds at no scale.
  const bool parallel = !(a * e - b * b > 1e-12 * a * e);
  if (parallel || SolveLin2(a, -b, -VecDotProd3(d1, w), b, -e, -VecDotProd3(d2, w), &s, &t) != 0) {
    // Parallel (or degenerate) lines: line 1's first point and its foot on line 2.
    for (int i = 0; i < 3; ++i) q1[i] = p0[i];
    double dd;
    LinePntMinDist(p0, r0, line2 + 3, q2, &dd);
  } else {
    for (int i = 0; i < 3; ++i) {
      q1[i] = p0[i] + s * d1[i];
      q2[i] = r0[i] + t * d2[i];
    }
  }
  *dist = VecDist3(q1, q2);
  return 0;
}
