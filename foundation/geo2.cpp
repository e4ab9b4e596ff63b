#include "foundation/geo2.h"

#include <algorithm>
#include <cmath>

#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"

namespace {

// Squared cosine of 0.1 degree: segments and lines closer to parallel than that are refused.
constexpr double kNearParallelCos2 = 0.99999695;

// Weighted sums are added into the matrix every this many points, so that a long run of small
// terms is not lost against a large running total.
constexpr int kPartialSumBlock = 1000;

inline double Cross2D(const double o[2], const double a[2], const double b[2]) {
  return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The plane through point with unit normal a x b; -2 when a x b is shorter than 1e-6.
int PlaneFromCross(const double a[3], const double b[3], const double point[3], PlaneEq plane) {
  double nrm[3];
  VecCrossProd3(a, b, nrm);
  if (VecSize3(nrm) < 1e-6) return -2;
  VecNormalize3(nrm, nrm);
  GetPlnFromPtAndNorm(point, nrm, plane);
  return 0;
}

}  // namespace

// ---- distances ------------------------------------------------------------------------------

int LineSegPntMinDistSq(const double p[3], const double a[3], const double b[3], double foot[3], double* d2,
                        double* t) {
  const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  double f[3];
  double tt;
  // Collapsed when every component of b - a is below 1e-10 times the configuration's size, capped
  // at 1: an absolute 1e-10 took sliver edges of small models for points, so a point next to one
  // got the midpoint and a distance many times too large.
  // The bound is at most 1e-10: a component at least that long settles it without the two
  // distances (this runs for every edge of every point-triangle distance).
  const bool small = std::fabs(e[0]) < 1e-10 && std::fabs(e[1]) < 1e-10 && std::fabs(e[2]) < 1e-10;
  const double tol = small ? 1e-10 * std::fmin(1.0, std::fmax(VecDist3(p, a), VecDist3(p, b))) : 0.0;
  if (small && std::fabs(e[0]) < tol && std::fabs(e[1]) < tol && std::fabs(e[2]) < tol) {
    // Legacy: the midpoint stands for a collapsed segment, with t = 0 although it is not b.
    tt = 0.0;
    for (int i = 0; i < 3; ++i) f[i] = 0.5 * (a[i] + b[i]);
  } else {
    tt = ((b[0] - p[0]) * e[0] + (b[1] - p[1]) * e[1] + (b[2] - p[2]) * e[2]) / VecDotProd3(e, e);
    if (tt < 0.0) tt = 0.0;
    if (tt > 1.0) tt = 1.0;
    for (int i = 0; i < 3; ++i) f[i] = tt * a[i] + (1.0 - tt) * b[i];
  }
  const double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
  foot[0] = f[0], foot[1] = f[1], foot[2] = f[2];
  *d2 = VecDotProd3(d, d);
  *t = tt;
  return 0;
}

int LineSegPnt2DMinDistSq(const double p[2], const double a[2], const double b[2], double foot[2], double* d2,
                          double* t) {
  const double p3[3] = {p[0], p[1], 0.0}, a3[3] = {a[0], a[1], 0.0}, b3[3] = {b[0], b[1], 0.0};
  double f3[3];
  LineSegPntMinDistSq(p3, a3, b3, f3, d2, t);
  foot[0] = f3[0];
  foot[1] = f3[1];
  return 0;
}

int TriangPntMinDistSq(const double p[3], const double a[3], const double b[3], const double c[3],
                       double foot[3], double* d2, double* s, double* t) {
  // foot = c + t e1 + s e2: t is the weight of b, s the weight of a.
  const double e1[3] = {b[0] - c[0], b[1] - c[1], b[2] - c[2]};
  const double e2[3] = {a[0] - c[0], a[1] - c[1], a[2] - c[2]};
  const double w[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
  const double A = VecDotProd3(e1, e1), B = VecDotProd3(e1, e2), C = VecDotProd3(e2, e2);
  const double den = B * B - A * C;  // -|e1 x e2|^2
  // Too thin to tell the inside from the edges when the sine of the angle at c is below 1e-5.
  // The bound scales with A C: an absolute one sent every triangle smaller than about 3e-3
  // to its edges, so points above a small triangle got a foot on its boundary.
  const bool flat = !(std::fabs(den) > 1e-10 * A * C);
  if (!flat) {
    const double D = VecDotProd3(w, e1), E = VecDotProd3(w, e2);
    const double tt = (E * B - D * C) / den;
    const double ss = (D * B - A * E) / den;
    if (tt >= 0.0 && ss >= 0.0 && 1.0 - tt - ss >= 0.0) {
      double f[3];
      for (int i = 0; i < 3; ++i) f[i] = tt * b[i] + ss * a[i] + (1.0 - tt - ss) * c[i];
      const double d[3] = {p[0] - f[0], p[1] - f[1], p[2] - f[2]};
      foot[0] = f[0], foot[1] = f[1], foot[2] = f[2];
      *d2 = VecDotProd3(d, d);
      *s = ss;
      *t = tt;
      return 0;
    }
  }
  // The foot of the perpendicular is outside (or the triangle is too thin to tell): the
  // closest point lies on the boundary, so take the nearest of the three edges exactly.
  double f[3], dd, u;
  LineSegPntMinDistSq(p, a, c, f, &dd, &u);  // edge a c: u is the weight of a
  double bestF[3] = {f[0], f[1], f[2]}, best = dd, bestS = u, bestT = 0.0;
  LineSegPntMinDistSq(p, b, c, f, &dd, &u);  // edge b c: u is the weight of b
  if (dd < best) {
    best = dd, bestS = 0.0, bestT = u;
    bestF[0] = f[0], bestF[1] = f[1], bestF[2] = f[2];
  }
  LineSegPntMinDistSq(p, b, a, f, &dd, &u);  // edge b a: u is the weight of b
  if (dd < best) {
    best = dd, bestS = 1.0 - u, bestT = u;
    bestF[0] = f[0], bestF[1] = f[1], bestF[2] = f[2];
  }
  foot[0] = bestF[0], foot[1] = bestF[1], foot[2] = bestF[2];
  *d2 = best;
  *s = bestS;
  *t = bestT;
  return 0;
}

void PlaneMinDistSq(const double p[3], double a, double b, double c, double d, double foot[3], double* d2) {
  const double s = -(a * p[0] + b * p[1] + c * p[2] + d) / (a * a + b * b + c * c);
  const double f[3] = {p[0] + s * a, p[1] + s * b, p[2] + s * c};
  const double e[3] = {f[0] - p[0], f[1] - p[1], f[2] - p[2]};
  foot[0] = f[0], foot[1] = f[1], foot[2] = f[2];
  *d2 = VecDotProd3(e, e);
}

double LinePointMinDistSq(const double linePoint[3], const double dir[3], const double p[3], double foot[3]) {
  const double len2 = VecDotProd3(dir, dir);
  if (len2 < 1e-10) {
    foot[0] = foot[1] = foot[2] = kEmptyBoxBound;
    return kEmptyBoxBound;
  }
  const double w[3] = {p[0] - linePoint[0], p[1] - linePoint[1], p[2] - linePoint[2]};
  const double t = VecDotProd3(w, dir) / len2;
  for (int i = 0; i < 3; ++i) foot[i] = linePoint[i] + t * dir[i];
  return (foot[0] - p[0]) * (foot[0] - p[0]) + (foot[1] - p[1]) * (foot[1] - p[1]) +
         (foot[2] - p[2]) * (foot[2] - p[2]);
}

int LineSegsMinDistsq(const double p0[3], const double p1[3], const double q0[3], const double q1[3], double* d2,
                      double* s, double* t) {
  const double d1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const double d2v[3] = {q1[0] - q0[0], q1[1] - q0[1], q1[2] - q0[2]};
  const double r[3] = {p0[0] - q0[0], p0[1] - q0[1], p0[2] - q0[2]};
  const double a = VecDotProd3(d1, d1), e = VecDotProd3(d2v, d2v), b = VecDotProd3(d1, d2v);
  const double c = VecDotProd3(d1, r), f = VecDotProd3(d2v, r);
  auto clamp01 = [](double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); };
  double ss, tt;
  // A segment is a point when its squared length is below 1e-10 times the configuration's squared
  // size, capped at 1: an absolute 1e-10 made every segment shorter than 1e-5 a point, so small
  // crossing segments were measured between their first ends.
  const double size = std::fmin(1.0, std::fmax(VecSize3(r), std::sqrt(std::fmax(a, e))));
  const double tiny = 1e-10 * size * size;
  if (a <= tiny && e <= tiny) {
    ss = tt = 0.0;
  } else if (a <= tiny) {
    ss = 0.0;
    tt = clamp01(f / e);
  } else if (e <= tiny) {
    tt = 0.0;
    ss = clamp01(-c / a);
  } else {
    if (b * b / (a * e) > kNearParallelCos2) {
      *d2 = kEmptyBoxBound;
      return -2;
    }
    // a s - b t = -c, b s - e t = -f: the closest points of the two infinite lines.
    if (SolveLin2(a, -b, -c, b, -e, -f, &ss, &tt) != 0) {
      *d2 = kEmptyBoxBound;
      return -2;
    }
    // Clamp s, take the t nearest to that point, and when t had to be clamped take the s
    // nearest to the clamped end: this reaches the true minimum of the convex problem.
    ss = clamp01(ss);
    tt = (b * ss + f) / e;
    if (tt < 0.0) {
      tt = 0.0;
      ss = clamp01(-c / a);
    } else if (tt > 1.0) {
      tt = 1.0;
      ss = clamp01((b - c) / a);
    }
  }
  double diff[3];
  for (int i = 0; i < 3; ++i) diff[i] = (q0[i] + tt * d2v[i]) - (p0[i] + ss * d1[i]);
  *d2 = VecDotProd3(diff, diff);
  *s = ss;
  *t = tt;
  return 0;
}

int LinesMinDist(const double p0[3], const double d0[3], const double p1[3], const double d1[3], double foot0[3],
                 double foot1[3], double* dist) {
  const double cs = VecDotProd3(d0, d1);
  double s, t;
  const double r[3] = {p0[0] - p1[0], p0[1] - p1[1], p0[2] - p1[2]};
  if (cs * cs > kNearParallelCos2 || SolveLin2(1.0, -cs, -VecDotProd3(r, d0), -cs, 1.0, VecDotProd3(r, d1), &s, &t) != 0) {
    if (dist != nullptr) *dist = kEmptyBoxBound;
    return -2;
  }
  for (int i = 0; i < 3; ++i) {
    foot0[i] = p0[i] + s * d0[i];
    foot1[i] = p1[i] + t * d1[i];
  }
  if (dist != nullptr) *dist = VecDist3(foot0, foot1);
  return 0;
}

double Distance2DBetPtAndBbox(const double p[2], const Bbox box) {
  const double corners[4][2] = {{box[0], box[1]}, {box[3], box[1]}, {box[3], box[4]}, {box[0], box[4]}};
  double best = kEmptyBoxBound;
  for (int k = 0; k < 4; ++k) {
    double foot[2], d2, t;
    LineSegPnt2DMinDistSq(p, corners[k], corners[(k + 1) % 4], foot, &d2, &t);
    if (d2 < best) best = d2;
  }
  return best;
}

const double* DistanceBetweenPoints(const double a[3], const double b[3], double* out) {
  *out = VecDist3(a, b);
  return a;
}

double AreaOfTriangle(const double a[3], const double b[3], const double c[3]) {
  double ab[3], bc[3], ca[3];
  VecCrossProd3(a, b, ab);
  VecCrossProd3(b, c, bc);
  VecCrossProd3(c, a, ca);
  const double s[3] = {ab[0] + bc[0] + ca[0], ab[1] + bc[1] + ca[1], ab[2] + bc[2] + ca[2]};
  return 0.5 * VecSize3(s);
}

// ---- tests ----------------------------------------------------------------------------------

int SameSide2D(const double a[2], const double b[2], const double c[2], const double d[2]) {
  const double k = Cross2D(a, b, c) * Cross2D(a, b, d);
  return k > 0.0 ? 2 : (k == 0.0 ? 1 : 0);
}

int IsPointInTriangle2Dw(const double a[2], const double b[2], const double c[2], const double p[2], double* wa,
                         double* wb) {
  for (int k = 0; k < 2; ++k) {
    if (p[k] > a[k] && p[k] > b[k] && p[k] > c[k]) return 0;
    if (p[k] < a[k] && p[k] < b[k] && p[k] < c[k]) return 0;
  }
  double u, v;
  if (SolveLin2(a[0] - c[0], b[0] - c[0], p[0] - c[0], a[1] - c[1], b[1] - c[1], p[1] - c[1], &u, &v) != 0)
    return 0;
  if (wa != nullptr) *wa = u;
  if (wb != nullptr) *wb = v;
  return (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0 && u + v <= 1.0) ? 1 : 0;
}

int IsPointInTriangle2D(const double a[2], const double b[2], const double c[2], const double p[2]) {
  return IsPointInTriangle2Dw(a, b, c, p, nullptr, nullptr);
}

int IsPointInLine(const double a[2], const double b[2], const double c[2], const double p[2]) {
  auto same = [](const double u[2], const double v[2]) { return u[0] == v[0] && u[1] == v[1]; };
  if (same(p, a) || same(p, b) || same(p, c)) return 1;
  const double* u;
  const double* w;
  if (same(a, b)) {
    u = a, w = c;
  } else if (same(a, c)) {
    u = a, w = b;
  } else if (same(b, c)) {
    u = b, w = a;
  } else {
    return 0;
  }
  if (same(u, w)) return 0;  // all three coincide and p is not that point
  if (p[0] < std::fmin(u[0], w[0]) || p[0] > std::fmax(u[0], w[0])) return 0;
  if (p[1] < std::fmin(u[1], w[1]) || p[1] > std::fmax(u[1], w[1])) return 0;
  // Legacy screen-space tolerances: differences are taken in single precision.
  const float wux = static_cast<float>(w[0] - u[0]), wpx = static_cast<float>(w[0] - p[0]);
  const float wuy = static_cast<float>(w[1] - u[1]), wpy = static_cast<float>(w[1] - p[1]);
  if (std::fabs(wux) < 4.0f && std::fabs(wpx) < 4.0f) return 1;
  if (std::fabs(wuy) < 4.0f && std::fabs(wpy) < 4.0f) return 1;
  return std::fabs(wpy * wux - wuy * wpx) < 0.001f ? 1 : 0;
}

int IsLinear(const float* x, const float* y, const float* z, int n) {
  if (n > 0 && (!x || !y || !z)) return 0;
  if (n < 3) return 1;
  // A point counts as the first one when it differs from it by no more than a millionth of the
  // set's largest side in every coordinate: for a unit-sized set the classic absolute 1e-6, and
  // the same answer for the set scaled by any factor.
  double lo[3] = {x[0], y[0], z[0]}, hi[3] = {x[0], y[0], z[0]};
  for (int j = 1; j < n; ++j) {
    const double p[3] = {x[j], y[j], z[j]};
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
  const double same = 1e-6 * std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  auto differs = [&](int j, double e[3]) {
    e[0] = static_cast<double>(x[j]) - x[0];
    e[1] = static_cast<double>(y[j]) - y[0];
    e[2] = static_cast<double>(z[j]) - z[0];
    return std::fabs(e[0]) > same || std::fabs(e[1]) > same || std::fabs(e[2]) > same;
  };
  double d[3];
  int k = 1;
  while (k <= n - 2 && !differs(k, d)) ++k;
  if (k > n - 2) return 1;
  const double dd = VecDotProd3(d, d);
  for (int j = k + 1; j < n; ++j) {
    double e[3];
    if (!differs(j, e)) continue;
    const double de = VecDotProd3(d, e);
    if (de * de / (dd * VecDotProd3(e, e)) < 0.99999) return 0;
  }
  return 1;
}

// ---- constructions --------------------------------------------------------------------------

double ThetaOrder(const double origin[2], const double p[2]) {
  const double dx = p[0] - origin[0], dy = p[1] - origin[1];
  if (dx == 0.0 && dy == 0.0) return 0.0;
  const double t = dy / (std::fabs(dx) + std::fabs(dy));
  if (dx >= 0.0) return dy >= 0.0 ? t * 90.0 : (t + 4.0) * 90.0;
  return (2.0 - t) * 90.0;
}

char* GrahamConvexHull(const float* x, const float* y, int n) {
  if (n > 0 && (!x || !y)) {
    SetKernelError(-2);
    return nullptr;
  }
  Owned<char, Free> flags(MallocArray<char>(n > 0 ? n : 0));
  const Owned<int, Free> cand(MallocArray<int>(n > 0 ? n : 0));
  const Owned<double, Free> angle(MallocArray<double>(n > 0 ? n : 0));
  if (KernelFailed() || !flags) return nullptr;
  if (n < 4) {
    for (int i = 0; i < n; ++i) flags[i] = 1;
    return flags.release();
  }
  auto pt = [&](int i, double q[2]) {
    q[0] = x[i];
    q[1] = y[i];
  };

  // Extreme points in cyclic order: lowest, leftmost, highest, rightmost.
  int ext[4] = {0, 0, 0, 0};
  for (int i = 1; i < n; ++i) {
    if (y[i] < y[ext[0]] || (y[i] == y[ext[0]] && x[i] < x[ext[0]])) ext[0] = i;
    if (x[i] < x[ext[1]] || (x[i] == x[ext[1]] && y[i] > y[ext[1]])) ext[1] = i;
    if (y[i] > y[ext[2]] || (y[i] == y[ext[2]] && x[i] > x[ext[2]])) ext[2] = i;
    if (x[i] > x[ext[3]] || (x[i] == x[ext[3]] && y[i] < y[ext[3]])) ext[3] = i;
  }
  int m = 0;
  int uniq[4];
  for (int k = 0; k < 4; ++k)
    if (m == 0 || ext[k] != uniq[m - 1]) uniq[m++] = ext[k];
  if (m > 1 && uniq[m - 1] == uniq[0]) --m;
  const int lowest = ext[0];
  for (int i = 0; i < n; ++i) flags[i] = static_cast<char>(m);

  // Points strictly inside the polygon of the extremes cannot be on the hull.
  if (m > 2) {
    double cen[2] = {0.0, 0.0};
    for (int k = 0; k < m; ++k) {
      cen[0] += x[uniq[k]] / static_cast<double>(m);
      cen[1] += y[uniq[k]] / static_cast<double>(m);
    }
    for (int k = 0; k < m; ++k) {
      double e0[2], e1[2];
      pt(uniq[k], e0);
      pt(uniq[(k + 1) % m], e1);
      for (int i = 0; i < n; ++i) {
        double q[2];
        pt(i, q);
        if (SameSide2D(e0, e1, q, cen) == 2) --flags[i];
      }
    }
  }

  // Candidates ordered by pseudo-angle about the lowest point, which comes first.
  double low[2];
  pt(lowest, low);
  int count = 0;
  cand[count] = lowest;
  angle[count++] = -1.0;
  for (int i = 0; i < n; ++i) {
    if (i == lowest || flags[i] == 0) continue;
    double q[2];
    pt(i, q);
    cand[count] = i;
    angle[count++] = ThetaOrder(low, q);
  }
  HeapSort2FloatInt4(count, angle.get(), cand.get());

  // Repeated points and points nearer the lowest point on a ray shared with a farther one are
  // not hull vertices. Each candidate is compared with the last one still live, so that a
  // repeated point cannot shield a nearer point on the same ray.
  auto dist2 = [&](int i) {
    const double dx = x[i] - low[0], dy = y[i] - low[1];
    return dx * dx + dy * dy;
  };
  int prev = 0;
  for (int k = 1; k < count; ++k) {
    const int a = cand[prev], b = cand[k];
    if (x[a] == x[b] && y[a] == y[b]) {
      flags[b] = 0;
      continue;
    }
    if (angle[prev] == angle[k]) {
      if (dist2(b) < dist2(a)) {
        flags[b] = 0;
        continue;
      }
      flags[a] = 0;
    }
    prev = k;
  }

  // Scan: drop every live candidate that does not make a strict left turn.
  auto lastLiveBefore = [&](int k) {
    for (int j = k - 1; j > 0; --j)
      if (flags[cand[j]] != 0) return j;
    return 0;  // position 0 is the lowest point, always live
  };
  for (int k = 2; k < count; ++k) {
    if (flags[cand[k]] == 0) continue;
    double p[2];
    pt(cand[k], p);
    for (;;) {
      const int bpos = lastLiveBefore(k);
      if (bpos == 0) break;
      const int apos = lastLiveBefore(bpos);
      if (apos == 0) break;
      double a[2], b[2];
      pt(cand[apos], a);
      pt(cand[bpos], b);
      if (SameSide2D(b, a, low, p) == 2) break;
      flags[cand[bpos]] = 0;
    }
  }
  return flags.release();
}

int FindCircle3Pts(const double p0[3], const double p1[3], const double p2[3], double centre[3]) {
  const double u[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const double v[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
  double n[3];
  VecCrossProd3(u, v, n);
  centre[0] = centre[1] = centre[2] = 0.0;
  // Collinear when every component of u x v is below 1e-6 |u| |v|: an absolute 1e-6 called every
  // circle smaller than about 1e-3 collinear.
  const double tol = 1e-6 * VecSize3(u) * VecSize3(v);
  if (!(std::fabs(n[0]) > tol || std::fabs(n[1]) > tol || std::fabs(n[2]) > tol)) return 0;
  // Equidistant from p0 and p1, from p1 and p2, and in the plane of the three points.
  const double r0 = VecDotProd3(p0, p0), r1 = VecDotProd3(p1, p1), r2 = VecDotProd3(p2, p2);
  double c[3];
  if (SolveLin3(2.0 * u[0], 2.0 * u[1], 2.0 * u[2], r1 - r0, 2.0 * v[0], 2.0 * v[1], 2.0 * v[2], r2 - r1, n[0], n[1],
                n[2], VecDotProd3(n, p0), &c[0], &c[1], &c[2]) != 0)
    return 0;
  centre[0] = c[0], centre[1] = c[1], centre[2] = c[2];
  return 1;
}

int Get2DCircle(double x1, double y1, double x2, double y2, double x3, double y3, double* cx, double* cy,
                double* r2) {
  double a, b;
  if (SolveLin2(2.0 * (x2 - x1), 2.0 * (y2 - y1), x2 * x2 - x1 * x1 + y2 * y2 - y1 * y1, 2.0 * (x3 - x2),
                2.0 * (y3 - y2), x3 * x3 - x2 * x2 + y3 * y3 - y2 * y2, &a, &b) != 0)
    return 0;
  *cx = a;
  *cy = b;
  *r2 = (x1 - a) * (x1 - a) + (y1 - b) * (y1 - b);
  return 1;
}

int FitSphereFourPts(const double p0[3], const double p1[3], const double p2[3], const double p3[3],
                     double centre[3], double* radius) {
  const double* pk[3] = {p1, p2, p3};
  double row[3][4];
  const double s0 = VecDotProd3(p0, p0);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < 3; ++i) row[k][i] = 2.0 * (p0[i] - pk[k][i]);
    row[k][3] = s0 - VecDotProd3(pk[k], pk[k]);
  }
  double c[3];
  if (SolveLin3(row[0][0], row[0][1], row[0][2], row[0][3], row[1][0], row[1][1], row[1][2], row[1][3], row[2][0],
                row[2][1], row[2][2], row[2][3], &c[0], &c[1], &c[2]) != 0) {
    centre[0] = centre[1] = centre[2] = 0.0;
    *radius = 0.0;
    return 0;
  }
  centre[0] = c[0], centre[1] = c[1], centre[2] = c[2];
  *radius = VecDist3(p0, centre);
  return 1;
}

int FitSphere3PtsAndRadius(const double p0[3], const double p1[3], const double p2[3], double r, double c1[3],
                           double c2[3]) {
  double m[3];
  PlaneEq plane;
  if (FindCircle3Pts(p0, p1, p2, m) == 0) return 0;
  if (FindPlaneEq(p0, p1, p2, plane) != 0) return 0;
  const double rc = VecDist3(m, p0);
  const double h2 = r * r - rc * rc;
  if (h2 < 0.0) return 0;  // r is smaller than the circle through the points: no such sphere
  double n[3];
  VecNormalize3(plane, n);
  const double h = std::sqrt(h2);
  for (int i = 0; i < 3; ++i) {
    c1[i] = m[i] - h * n[i];
    c2[i] = m[i] + h * n[i];
  }
  return 1;
}

int CircleFitThroughPnt(const double point[3], int n, const double* x, const double* y, const double* z,
                        double normal[3], double centre[3], double* radius, double tangentPoint[3], double* flag) {
  if (n < 2 || !x || !y || !z) return 0;
  PlaneEq plane;
  double residual = 0.0, maxDist = 0.0;
  if (PlaneFitThroughPoint(x, y, z, n, nullptr, point, plane, &residual, &maxDist) != 0) return 0;
  if (flag != nullptr) *flag = residual;
  normal[0] = plane[0], normal[1] = plane[1], normal[2] = plane[2];
  const double tip[3] = {point[0] + 10.0 * normal[0], point[1] + 10.0 * normal[1], point[2] + 10.0 * normal[2]};
  Xform M, Minv;
  TransformToZAxis(point, tip, M);
  Get_imat(Minv);
  mat_inverse4(M, Minv);

  // The samples are taken into the plane's frame one at a time; the caller's arrays are only read.
  double sxx = 0.0, sxy = 0.0, syy = 0.0, rx = 0.0, ry = 0.0, first[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double q[3];
    VecTrans3(p, M, q);
    if (i == 0) first[0] = q[0], first[1] = q[1], first[2] = q[2];
    const double r2 = q[0] * q[0] + q[1] * q[1];
    sxx += q[0] * q[0], sxy += q[0] * q[1], syy += q[1] * q[1];
    rx += q[0] * r2, ry += q[1] * r2;
  }
  // x^2 + y^2 = 2 cx x + 2 cy y: the circle through the origin, which is the given point.
  double cx, cy;
  if (SolveLin2(2.0 * sxx, 2.0 * sxy, rx, 2.0 * sxy, 2.0 * syy, ry, &cx, &cy) != 0) return 0;
  *radius = std::sqrt(cx * cx + cy * cy);
  double tangent[3] = {cy, -cx, 0.0};
  if (tangent[0] * first[0] + tangent[1] * first[1] < 0.0) {
    tangent[0] = -tangent[0];
    tangent[1] = -tangent[1];
  }
  const double c[3] = {cx, cy, 0.0};
  VecTrans3(c, Minv, centre);
  VecTrans3(tangent, Minv, tangentPoint);
  return 1;
}

int PlaneFitThroughLine(const double* x, const double* y, const double* z, int n, const double* weights,
                        const double linePoint[3], const double lineDir[3], PlaneEq plane, double* residual) {
  if (x == nullptr || y == nullptr || z == nullptr || n < 1) return -2;
  if (VecSize3(lineDir) < 1e-6) return -2;
  const double* L = linePoint;
  if (n == 1) {
    const double v[3] = {x[0] - L[0], y[0] - L[1], z[0] - L[2]};
    if (VecSize3(v) < 1e-10) return -2;
    double uv[3];
    VecNormalize3(v, uv);
    if (PlaneFromCross(lineDir, uv, L, plane) != 0) return -2;
    *residual = 0.0;
    return 0;
  }
  double dir[3];
  VecNormalize3(lineDir, dir);
  double u[3], v[3], w[3];
  if (Vec3To3Vecs(dir, u, v, w) != 0) return -2;

  TrackingScope scope;
  double** S = allocate_matrix_ff(2, 2);
  if (S == nullptr || KernelFailed()) return -2;
  S[0][0] = S[0][1] = S[1][0] = S[1][1] = 0.0;
  // (b, c): coordinates across the line in the frame (dir, v, w).
  double bb = 0.0, bc = 0.0, cc = 0.0;
  for (int i = 0; i < n; ++i) {
    const double q[3] = {x[i] - L[0], y[i] - L[1], z[i] - L[2]};
    const double b = VecDotProd3(q, v), c = VecDotProd3(q, w);
    const double wt = weights != nullptr ? weights[i] : 1.0;
    bb += wt * b * b, bc += wt * b * c, cc += wt * c * c;
    if ((i + 1) % kPartialSumBlock == 0 || i == n - 1) {
      S[0][0] += bb, S[0][1] += bc, S[1][1] += cc;
      bb = bc = cc = 0.0;
    }
  }
  S[1][0] = S[0][1];
  double ev[2];
  if (eigensystem(S, 2, ev) != 0 || KernelFailed()) return -2;
  *residual = ev[1] / n;
  // The normal (0, E[0][1], E[1][1]) in the frame; the frame is orthonormal, so mapping it back
  // is the combination of its axes.
  double nrm[3];
  for (int k = 0; k < 3; ++k) nrm[k] = S[0][1] * v[k] + S[1][1] * w[k];
  VecNormalize3(nrm, nrm);
  GetPlnFromPtAndNorm(L, nrm, plane);
  return 0;
}

int PlaneFitThroughPoint(const double* x, const double* y, const double* z, int n, const double* weights,
                         const double point[3], PlaneEq plane, double* residual, double* maxDist) {
  if (x == nullptr || y == nullptr || z == nullptr || n < 2) return -2;
  const double* P = point;
  if (n == 2) {
    const double e1[3] = {x[0] - P[0], y[0] - P[1], z[0] - P[2]};
    const double e2[3] = {x[1] - P[0], y[1] - P[1], z[1] - P[2]};
    if (VecSize3(e1) < 1e-10 || VecSize3(e2) < 1e-10) return -2;
    double u1[3], u2[3];
    VecNormalize3(e1, u1);
    VecNormalize3(e2, u2);
    if (PlaneFromCross(u1, u2, P, plane) != 0) return -2;
    *residual = 0.0;
    *maxDist = 0.0;  // both points lie on the plane
    return 0;
  }

  TrackingScope scope;
  double** S = allocate_matrix_ff(3, 3);
  if (S == nullptr || KernelFailed()) return -2;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) S[r][c] = 0.0;
  double part[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - P[0], dy = y[i] - P[1], dz = z[i] - P[2];
    const double wt = weights != nullptr ? weights[i] : 1.0;
    part[0] += wt * dx * dx, part[1] += wt * dx * dy, part[2] += wt * dx * dz;
    part[3] += wt * dy * dy, part[4] += wt * dy * dz, part[5] += wt * dz * dz;
    if ((i + 1) % kPartialSumBlock == 0 || i == n - 1) {
      S[0][0] += part[0], S[0][1] += part[1], S[0][2] += part[2];
      S[1][1] += part[3], S[1][2] += part[4], S[2][2] += part[5];
      for (double& v : part) v = 0.0;
    }
  }
  S[1][0] = S[0][1], S[2][0] = S[0][2], S[2][1] = S[1][2];
  double ev[3];
  if (eigensystem(S, 3, ev) != 0 || KernelFailed()) return -2;
  *residual = ev[2] / n;
  double nrm[3] = {S[0][2], S[1][2], S[2][2]};
  if (VecSize3(nrm) < 1e-6) return -2;
  VecNormalize3(nrm, nrm);
  GetPlnFromPtAndNorm(P, nrm, plane);
  double far = 0.0;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double foot[3], d;
    PlaneMinDist(p, plane[0], plane[1], plane[2], plane[3], foot, &d);
    if (d > far) far = d;
  }
  *maxDist = far;
  return 0;
}

void GetPlnFromPtAndNorm(const double point[3], const double normal[3], PlaneEq plane) {
  const double d = -VecDotProd3(normal, point);
  plane[0] = normal[0], plane[1] = normal[1], plane[2] = normal[2];
  plane[3] = d;
}

int GetPointOnPlane(const PlaneEq plane, double out[3]) {
  out[0] = out[1] = out[2] = 0.0;
  const double ax = std::fabs(plane[0]), ay = std::fabs(plane[1]), az = std::fabs(plane[2]);
  int k = ay >= ax ? 1 : 0;  // ties go to y over x
  if (az > std::fmax(ax, ay)) k = 2;
  if (std::fabs(plane[k]) < 1e-10) return -2;
  out[k] = -plane[3] / plane[k];
  return 0;
}

int GetPointOnPlaneCoord(const PlaneEq plane, double out[3]) {
  double q[3];
  if (GetPointOnPlane(plane, q) != 0) return -2;
  out[0] = q[0], out[1] = q[1], out[2] = q[2];
  return 0;
}

double* GetSymetryDir(const double v[3], const double axis[3], double out[3]) {
  const double s = 2.0 * VecDotProd3(v, axis);
  const double r[3] = {s * axis[0] - v[0], s * axis[1] - v[1], s * axis[2] - v[2]};
  out[0] = r[0], out[1] = r[1], out[2] = r[2];
  return out;
}

void SolveQuadratic(double a, double b, double c, double* r1, double* r2) {
  double disc = b * b - 4.0 * a * c;
  if (disc < 0.0) disc = -disc;
  if (std::fabs(a) < 1e-6) a = a < 0.0 ? -1e-6 : 1e-6;
  const double sq = std::sqrt(disc);
  *r1 = (sq - b) / (2.0 * a);
  *r2 = -(sq + b) / (2.0 * a);
}
