#include "surface/srfline.h"

#include <algorithm>
#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "curve/crvutil.h"
#include "curve/trimpoly.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfutils.h"

namespace {

// The most hits a line pick reports.
constexpr int kMaxLineHits = 20;
// The pick grid: enough triangles to find every sheet of a moderately folded surface.
constexpr int kLineGrid = 25;

double Clamp(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }

void SurfacePoint(const Bspline* srf, double u, double v, double P[3]) {
  static const int du[1] = {0}, dv[1] = {0};
  double out[1][3];
  EvalPointOnGeometryM(srf, u, v, du, dv, 1, 0, out);
  for (int c = 0; c < 3; ++c) P[c] = out[0][c];
}

// The parameter values of one direction for GetInitialUVArrays (see there) into a new array.
double* GridValues(const Bspline* srf, int dir, int mode, int a, int* n) {
  const bool inV = dir != 0;
  const double lo = inV ? srf->vmin : srf->umin, hi = inV ? srf->vmax : srf->umax;
  if (mode == 1) {
    double* out = MallocArray<double>(a);
    if (!out) return nullptr;
    for (int i = 0; i < a; ++i) out[i] = a > 1 ? lo + i * (hi - lo) / (a - 1) : lo;
    if (a > 1) out[a - 1] = hi;
    *n = a;
    return out;
  }
  const int p = inV ? srf->degreeV : srf->degreeU, m = inV ? srf->interiorV : srf->interiorU;
  const double* K = inV ? srf->knotsV : srf->knotsU;
  double* out = MallocArray<double>(a * (m + 1) + 1);
  if (!out) return nullptr;
  int k = 0;
  for (int s = 0; s <= m; ++s)
    for (int i = 0; i < a; ++i) out[k++] = K[p + s] + i * (K[p + s + 1] - K[p + s]) / a;
  out[k++] = hi;
  *n = k;
  return out;
}

// Beyond this sine of the angle between the line and the surface the line crosses the grid's
// triangles where it crosses the surface; below it a crossing may have neighbours they pass.
constexpr double kGrazing = 0.2;

// A hit lies on the line within this share of the surface's size: round-off of the size, far
// below any line that passes the surface without touching it.
constexpr double kOnLine = 1e-10;

// Damped Gauss-Newton (Levenberg-Marquardt) on the two components of S(u, v) - P across the
// line's direction D, clamped to the domain, until the miss reaches round-off of the surface's
// size or no step lowers it. The damping starts negligible (a Newton step where the surface
// crosses the line) and grows where a step fails: where the line grazes the surface the
// Jacobian loses rank at the touch and a plain Newton step leaves the neighbourhood. Returns
// the final miss; on a line that passes the surface by it ends at the least miss nearby.
double RefineOntoLine(Bspline* srf, const double D[3], const double P[3], double* u, double* v) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  // Two unit vectors across the line.
  double d[3] = {D[0], D[1], D[2]}, e1[3], e2[3];
  VecNormalize3(d, d);
  const double pick[3] = {std::fabs(d[0]) < 0.6 ? 1.0 : 0.0, std::fabs(d[0]) < 0.6 ? 0.0 : 1.0, 0.0};
  VecNormalize3(VecCrossProd3(d, pick, e1), e1);
  VecCrossProd3(d, e1, e2);
  auto miss = [&](double a, double b, double f[2], double J[2][2]) {
    double S[3][3];
    EvalPointOnGeometryM(srf, a, b, du, dv, 3, 0, S);
    const double r[3] = {S[0][0] - P[0], S[0][1] - P[1], S[0][2] - P[2]};
    f[0] = VecDotProd3(e1, r);
    f[1] = VecDotProd3(e2, r);
    J[0][0] = VecDotProd3(e1, S[1]);
    J[0][1] = VecDotProd3(e1, S[2]);
    J[1][0] = VecDotProd3(e2, S[1]);
    J[1][1] = VecDotProd3(e2, S[2]);
    return std::hypot(f[0], f[1]);
  };
  // The damping's floor, a share of J^T J's larger diagonal entry: at a touch the smaller singular
  // value of J falls with the distance to it, and a floor at the square of round-off lets the
  // step follow it until the miss (quadratic in that distance there) reaches round-off too.
  constexpr double kLeastDamping = 1e-30;
  const double roundOff = 1e-15 * ControlPointDiagonal(srf);
  const double tinyU = 1e-15 * (srf->umax - srf->umin), tinyV = 1e-15 * (srf->vmax - srf->vmin);
  double f[2], J[2][2];
  double err = miss(*u, *v, f, J), damping = kLeastDamping;
  for (int it = 0; it < 200 && err > roundOff; ++it) {
    // (J^T J + mu I) s = -J^T f, mu a share of the larger diagonal entry.
    const double a = J[0][0] * J[0][0] + J[1][0] * J[1][0], c = J[0][1] * J[0][1] + J[1][1] * J[1][1];
    const double b = J[0][0] * J[0][1] + J[1][0] * J[1][1];
    const double g0 = J[0][0] * f[0] + J[1][0] * f[1], g1 = J[0][1] * f[0] + J[1][1] * f[1];
    bool moved = false, tiny = false;
    while (!moved && damping < 1e12) {
      const double mu = damping * std::fmax(a, c);
      const double det = (a + mu) * (c + mu) - b * b;
      if (!(det > 0.0)) {
        damping *= 10.0;
        continue;
      }
      const double su = -((c + mu) * g0 - b * g1) / det, sv = -((a + mu) * g1 - b * g0) / det;
      const double nu = Clamp(*u + su, srf->umin, srf->umax), nv = Clamp(*v + sv, srf->vmin, srf->vmax);
      tiny = std::fabs(nu - *u) <= tinyU && std::fabs(nv - *v) <= tinyV;
      if (tiny) break;
      double g[2], K[2][2];
      const double e = miss(nu, nv, g, K);
      if (e < err) {
        *u = nu;
        *v = nv;
        err = e;
        f[0] = g[0];
        f[1] = g[1];
        std::copy(&K[0][0], &K[0][0] + 4, &J[0][0]);
        damping = std::fmax(kLeastDamping, 0.1 * damping);
        moved = true;
      } else {
        damping *= 10.0;
      }
    }
    if (!moved) break;
  }
  return err;
}

// The line's height above the surface near the point at (u, v), to second order along the
// line (d unit, s from the line's point nearest S): h0 + (n . d) s - II(w, w) s^2 / 2, with w the
// parameter direction of d's part in the tangent plane and II the second fundamental form. The
// roots where it vanishes (up to two, nearest first) into x and w; 0 where the line is steeper
// than the grid's triangles need help with, or the surface has no tangent plane.
int LocalCrossings(Bspline* srf, const double D[3], const double P[3], double u, double v,
                   double x[2], double w[2]) {
  static const int du[6] = {0, 1, 0, 2, 1, 0}, dv[6] = {0, 0, 1, 0, 1, 2};
  double S[6][3], d[3], n[3];
  if (EvalPointOnGeometryM(srf, u, v, du, dv, 6, 0, S) != 0) return 0;
  VecNormalize3(D, d);
  VecCrossProd3(S[1], S[2], n);
  const double ln = VecSize3(n);
  if (!(ln > 0.0)) return 0;
  for (int q = 0; q < 3; ++q) n[q] /= ln;
  const double sine = VecDotProd3(n, d);
  if (std::fabs(sine) > kGrazing) return 0;
  double r[3];
  for (int q = 0; q < 3; ++q) r[q] = S[0][q] - P[q];
  const double s0 = VecDotProd3(r, d);  // S's foot on the line, from P
  double h0 = 0.0, t[3];
  for (int q = 0; q < 3; ++q) {
    h0 += n[q] * (P[q] + s0 * d[q] - S[0][q]);
    t[q] = d[q] - sine * n[q];
  }
  // (wu, wv) with wu Su + wv Sv = t, by the normal equations of the 3 x 2 system.
  const double a = VecDotProd3(S[1], S[1]), b = VecDotProd3(S[1], S[2]), c = VecDotProd3(S[2], S[2]);
  const double det = a * c - b * b;
  if (!(det > 0.0)) return 0;
  const double ru = VecDotProd3(S[1], t), rv = VecDotProd3(S[2], t);
  w[0] = (c * ru - b * rv) / det;
  w[1] = (a * rv - b * ru) / det;
  double k[3];
  for (int q = 0; q < 3; ++q)
    k[q] = S[3][q] * w[0] * w[0] + 2.0 * S[4][q] * w[0] * w[1] + S[5][q] * w[1] * w[1];
  const double II = VecDotProd3(n, k);
  // II s^2 / 2 - sine s - h0 = 0, the roots by the stable form.
  const double disc = sine * sine + 2.0 * II * h0;
  if (!(disc >= 0.0)) return 0;
  const double q = sine + std::copysign(std::sqrt(disc), sine);
  int m = 0;
  if (q != 0.0) x[m++] = -2.0 * h0 / q;
  if (II != 0.0) x[m++] = q / II;
  if (m == 2 && std::fabs(x[1]) < std::fabs(x[0])) std::swap(x[0], x[1]);
  return m;
}

// The line and what a walk along it reads of the pick grid: steps, bands, and which opposite edges
// meet (a torus or cylinder made without the closed flag), so that a foot runs on across the seam.
struct LineWalkFrame {
  double d[3];     // the line's unit direction
  double P[3];     // the line's point
  double step;     // a quarter of the grid's longest edge: the walk's longest step
  double cellU, cellV;  // the grid's cell in parameters
  // Per grid point, half its largest second difference (four times its triangles' sag or more):
  // heights beyond the band of the points about a foot are seen by the grid's triangles.
  const double* band;
  int nu, nv;
  bool seamU, seamV;
};

// One sample of the walk: the line's point P + s d, its foot (u, v) on the surface, its signed
// height h above the foot and the height's rate along the line, n . d.
struct LineSample {
  double s, u, v, h, slope;
  double reach;  // how far along the line the foot moves a quarter of a grid cell
};

// Moves a parameter that left [lo, hi] back in: across a seam to the other side, else clamped.
double IntoDomain(double x, double lo, double hi, bool seam) {
  if (seam && (x < lo || x > hi)) x = x < lo ? x + (hi - lo) : x - (hi - lo);
  return Clamp(x, lo, hi);
}

// The band about the foot (u, v): the largest of the grid points of the cell and its neighbours.
double BandAt(const Bspline* srf, const LineWalkFrame& w, double u, double v) {
  const int i = std::clamp(static_cast<int>((u - srf->umin) / w.cellU), 0, w.nu - 2);
  const int j = std::clamp(static_cast<int>((v - srf->vmin) / w.cellV), 0, w.nv - 2);
  double most = 0.0;
  for (int b = std::max(0, j - 1); b <= std::min(w.nv - 1, j + 2); ++b)
    for (int a = std::max(0, i - 1); a <= std::min(w.nu - 1, i + 2); ++a) most = std::fmax(most, w.band[b * w.nu + a]);
  return most;
}

// The sample at s, its foot followed by Gauss-Newton from (at->u, at->v). False where the foot
// has no normal or lies on an edge the line has passed (the point then sits off the surface's
// normal, so its height there means nothing and no crossing lies beyond).
bool SampleAlong(Bspline* srf, const LineWalkFrame& w, double s, LineSample* at) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  const double X[3] = {w.P[0] + s * w.d[0], w.P[1] + s * w.d[1], w.P[2] + s * w.d[2]};
  double S[3][3], n[3], u = at->u, v = at->v;
  // The foot: X lies within a step of the last foot's point, so a few steps converge.
  for (int it = 0; it < 8; ++it) {
    if (EvalPointOnGeometryM(srf, u, v, du, dv, 3, 0, S) != 0) return false;
    const double r[3] = {X[0] - S[0][0], X[1] - S[0][1], X[2] - S[0][2]};
    const double a = VecDotProd3(S[1], S[1]), b = VecDotProd3(S[1], S[2]), c = VecDotProd3(S[2], S[2]);
    const double det = a * c - b * b;
    if (!(det > 0.0)) return false;
    const double ru = VecDotProd3(S[1], r), rv = VecDotProd3(S[2], r);
    const double su = (c * ru - b * rv) / det, sv = (a * rv - b * ru) / det;
    const double nu = IntoDomain(u + su, srf->umin, srf->umax, w.seamU);
    const double nv = IntoDomain(v + sv, srf->vmin, srf->vmax, w.seamV);
    const bool still = nu == u && nv == v;
    u = nu;
    v = nv;
    if (still || (std::fabs(su) <= 1e-15 * (srf->umax - srf->umin) && std::fabs(sv) <= 1e-15 * (srf->vmax - srf->vmin)))
      break;
  }
  if (EvalPointOnGeometryM(srf, u, v, du, dv, 3, 0, S) != 0) return false;
  VecCrossProd3(S[1], S[2], n);
  const double ln = VecSize3(n);
  if (!(ln > 0.0)) return false;
  const double r[3] = {X[0] - S[0][0], X[1] - S[0][1], X[2] - S[0][2]};
  const double h = VecDotProd3(n, r) / ln, off = VecSize3(r);
  // A foot held on an edge leaves X well off its normal.
  if (off > 0.0 && std::sqrt(std::fmax(0.0, off * off - h * h)) > 0.5 * off + 1e-9 * w.step) return false;
  // The foot's rate along the line, (wu, wv) with wu Su + wv Sv = d's part in the tangent plane.
  const double a = VecDotProd3(S[1], S[1]), b = VecDotProd3(S[1], S[2]), c = VecDotProd3(S[2], S[2]);
  const double ru = VecDotProd3(S[1], w.d), rv = VecDotProd3(S[2], w.d), det = a * c - b * b;
  const double rate = std::fmax(std::fabs(c * ru - b * rv) / (det * w.cellU), std::fabs(a * rv - b * ru) / (det * w.cellV));
  const double reach = rate > 0.25 / w.step ? 0.25 / rate : w.step;
  *at = {s, u, v, h, VecDotProd3(n, w.d) / ln, reach};
  return true;
}

// The root of the height between two samples of opposite sign, by false position (Illinois),
// its foot into (*u, *v).
void RootBetween(Bspline* srf, const LineWalkFrame& w, LineSample lo, LineSample hi, double* u, double* v) {
  int side = 0;
  for (int it = 0; it < 60 && std::fabs(hi.s - lo.s) > 1e-14 * w.step; ++it) {
    double s = (lo.s * hi.h - hi.s * lo.h) / (hi.h - lo.h);
    if (!(s > std::fmin(lo.s, hi.s) && s < std::fmax(lo.s, hi.s))) s = 0.5 * (lo.s + hi.s);
    LineSample m = lo;
    if (!SampleAlong(srf, w, s, &m)) break;
    if (m.h == 0.0) {
      lo = hi = m;
      break;
    }
    if ((m.h < 0.0) == (lo.h < 0.0)) {
      lo = m;
      if (side == -1) hi.h *= 0.5;
      side = -1;
    } else {
      hi = m;
      if (side == 1) lo.h *= 0.5;
      side = 1;
    }
  }
  const LineSample& at = std::fabs(lo.h) < std::fabs(hi.h) ? lo : hi;
  *u = at.u;
  *v = at.v;
}

// Whether the height can pass zero between two samples of one sign: the cubic through their
// heights and rates (Hermite) comes within a quarter of the nearer height of zero. Where the line
// dips through the surface between them it then has two crossings there.
bool MayDip(const LineSample& a, const LineSample& b) {
  const double L = b.s - a.s, sg = a.h < 0.0 ? -1.0 : 1.0;
  const double p0 = sg * a.h, p1 = sg * b.h, m0 = sg * a.slope * L, m1 = sg * b.slope * L;
  if (m0 >= 0.0 && m1 <= 0.0) return false;  // rising from a, falling into b: no dip between
  // p(t) = p0 + m0 t + (3 (p1 - p0) - 2 m0 - m1) t^2 + (2 (p0 - p1) + m0 + m1) t^3.
  const double c2 = 3.0 * (p1 - p0) - 2.0 * m0 - m1, c3 = 2.0 * (p0 - p1) + m0 + m1;
  double least = std::fmin(p0, p1);
  // p'(t) = m0 + 2 c2 t + 3 c3 t^2 = 0.
  const double A = 3.0 * c3, B = 2.0 * c2, disc = B * B - 4.0 * A * m0;
  double t[2] = {-1.0, -1.0};
  if (A == 0.0) {
    if (B != 0.0) t[0] = -m0 / B;
  } else if (disc >= 0.0) {
    const double q = -0.5 * (B + std::copysign(std::sqrt(disc), B));
    t[0] = q / A;
    if (q != 0.0) t[1] = m0 / q;
  }
  for (double x : t)
    if (x > 0.0 && x < 1.0) least = std::fmin(least, p0 + x * (m0 + x * (c2 + x * c3)));
  return least < 0.25 * std::fmin(p0, p1);
}

// The crossings between two samples: a change of sign is one, and a stretch where the height may
// dip through zero is halved (to a 256th of a step) until its crossings show or it cannot dip.
// Feet of the crossings into su, sv while there is room; the number written.
int CrossingsBetween(Bspline* srf, const LineWalkFrame& w, const LineSample& a, const LineSample& b, int depth,
                     double* su, double* sv, int room) {
  if (room <= 0) return 0;
  if ((a.h < 0.0) != (b.h < 0.0)) {
    RootBetween(srf, w, a, b, su, sv);
    return 1;
  }
  if (depth >= 8 || !MayDip(a, b)) return 0;
  LineSample m = a;
  if (!SampleAlong(srf, w, 0.5 * (a.s + b.s), &m)) return 0;
  const int k = CrossingsBetween(srf, w, a, m, depth + 1, su, sv, room);
  return k + CrossingsBetween(srf, w, m, b, depth + 1, su + k, sv + k, room - k);
}

// Walks the line both ways from where it passes the surface point at (u, v) closest, a step at a
// time, over the stretch where it runs within the band of the surface: there the grid's
// triangles, off the surface by their sag, may pass a crossing on either side, and a crossing
// found there may have refined to a neighbour. Every change of sign of the height is a crossing
// (and every dip through zero between two samples); the walk ends where a sample lies beyond the
// band, at a domain edge the line passes, or after kWalkSteps steps (four a cell, across the grid
// four times). The stretch walked into *from, *to; the crossings' feet into su, sv while there is
// room; their number.
constexpr int kWalkSteps = 4 * 4 * kLineGrid;
int CrossingsAlongLine(Bspline* srf, const LineWalkFrame& w, double u, double v, double* from, double* to,
                       double* su, double* sv, int room) {
  double S[3];
  Eval3DPointOnSurfCoord(srf, u, v, 0, 0, S);
  const double s0 = (S[0] - w.P[0]) * w.d[0] + (S[1] - w.P[1]) * w.d[1] + (S[2] - w.P[2]) * w.d[2];
  *from = *to = s0;
  LineSample start = {s0, u, v, 0.0, 0.0, 0.0};
  // Beyond the band the triangles saw every crossing close by.
  if (!SampleAlong(srf, w, s0, &start) || std::fabs(start.h) > BandAt(srf, w, start.u, start.v)) return 0;
  int m = 0;
  for (int side = -1; side <= 1; side += 2) {
    LineSample last = start;
    for (int k = 1; k <= kWalkSteps; ++k) {
      const double next = last.s + side * last.reach;
      LineSample now = last;
      if (!SampleAlong(srf, w, next, &now)) {
        // The line leaves the domain within this step: close in on where, so that a crossing
        // just inside the edge is bracketed too.
        double lo = last.s, hi = next;
        bool any = false;
        for (int it = 0; it < 10; ++it) {
          LineSample probe = now;
          const double mid = 0.5 * (lo + hi);
          if (SampleAlong(srf, w, mid, &probe)) {
            now = probe;
            lo = mid;
            any = true;
          } else {
            hi = mid;
          }
        }
        if (any) m += CrossingsBetween(srf, w, side < 0 ? now : last, side < 0 ? last : now, 0, su + m, sv + m, room - m);
        if (any) (side < 0 ? *from : *to) = now.s;
        break;
      }
      const LineSample& a = side < 0 ? now : last;
      const LineSample& b = side < 0 ? last : now;
      m += CrossingsBetween(srf, w, a, b, 0, su + m, sv + m, room - m);
      (side < 0 ? *from : *to) = now.s;
      last = now;
      if (std::fabs(now.h) > BandAt(srf, w, now.u, now.v)) break;
    }
  }
  return m;
}

// True when (u, v) lies within 1e-6 in both parameters of one of the n stored results.
bool Stored(const double* us, const double* vs, int n, double u, double v) {
  for (int k = 0; k < n; ++k)
    if (std::fabs(us[k] - u) <= 1e-6 && std::fabs(vs[k] - v) <= 1e-6) return true;
  return false;
}

}  // namespace

int GetInitialUVArrays(Bspline* srf, int mode, int a, int b, double** us, double** vs, int* nu,
                       int* nv) {
  *us = *vs = nullptr;
  if (!srf || srf->kind != 2 || a < 1 || b < 1 || (mode != 0 && mode != 1)) return 0;
  int n[2] = {0, 0};
  double* u = GridValues(srf, 0, mode, a, &n[0]);
  double* v = u ? GridValues(srf, 1, mode, b, &n[1]) : nullptr;
  if (!u || !v || KernelFailed()) {
    Free(u);
    Free(v);
    return 0;
  }
  *us = u;
  *vs = v;
  *nu = n[0];
  *nv = n[1];
  return 1;
}

// Method: the line against the two triangles of every cell of a 25 x 25 grid of surface points
// (barycentric tolerance 0.001, so a line through a shared edge or vertex is seen by both
// sides); a hit's (u, v) is the same combination of the corners' parameters. Where the line
// grazes the surface the triangles may pass on either side of it, so the grid points where the
// line's distance is least among their neighbours (and below their spacing) are starts too.
// Each start is refined to the closest surface point of the triangle hit and then onto the
// line itself; only a point that reaches the line within round-off of the size is a hit (a
// line passing the surface close by has none). From a grazing hit or a near miss the line is
// walked while it stays within a few triangle sags of the surface, where the triangles cannot
// tell its side, and every change of sign of its height there is a crossing. Duplicates within
// 1e-6 are dropped before and after refinement.
int FindAllSurfLineIntersections(Bspline* srf, const double dir[3], const double point[3],
                                 double** us, double** vs, int* count) {
  *us = *vs = nullptr;
  *count = 0;
  if (!srf || srf->kind != 2 || srf->dimension != 3 || !dir || !point) return -2;
  TrackingScope scope;
  TrimPolylines trims;
  if (SampleTrimPolylines(srf, 10.0 / 32767.0, &trims) != 0) return -2;
  double *gu = nullptr, *gv = nullptr;
  int nu = 0, nv = 0;
  if (!GetInitialUVArrays(srf, 1, kLineGrid, kLineGrid, &gu, &gv, &nu, &nv)) return -2;
  double* block = MallocArray<double>(nu, nv, 3);
  double** grid = MallocArray<double*>(nu, nv);
  double* away = MallocArray<double>(nu, nv, 2);  // then the walk's bands
  if (!block || !grid || !away || KernelFailed()) return -2;
  double* bands = away + nu * nv;
  for (int k = 0; k < nu * nv; ++k) grid[k] = block + 3 * k;
  static const int du[1] = {0}, dv[1] = {0};
  if (EvalGridOnGeometryM(srf, gu, gv, nu, nv, du, dv, 1, 0, grid) != 0) return -2;
  const double tol = kOnLine * ControlPointDiagonal(srf);
  const double len = VecSize3(dir);
  if (!(len > 0.0)) return 0;
  for (int k = 0; k < nu * nv; ++k) {
    const double r[3] = {grid[k][0] - point[0], grid[k][1] - point[1], grid[k][2] - point[2]};
    double c[3];
    away[k] = VecSize3(VecCrossProd3(r, dir, c)) / len;
  }
  LineWalkFrame walk = {{dir[0] / len, dir[1] / len, dir[2] / len},
                        {point[0], point[1], point[2]},
                        0.0,
                        (srf->umax - srf->umin) / (nu - 1),
                        (srf->vmax - srf->vmin) / (nv - 1),
                        bands,
                        nu,
                        nv,
                        true,
                        true};
  // The walk's step from the grid's longest edge, its bands from the second differences, and the
  // seams from the edge rows; made for the first walk, as steep lines need none.
  auto frame = [&]() {
    auto distSq = [](const double* a, const double* b) {
      const double x = a[0] - b[0], y = a[1] - b[1], z = a[2] - b[2];
      return x * x + y * y + z * z;
    };
    double edgeSq = 0.0;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double* g = grid[j * nu + i];
        if (i + 1 < nu) edgeSq = std::max(edgeSq, distSq(g, grid[j * nu + i + 1]));
        if (j + 1 < nv) edgeSq = std::max(edgeSq, distSq(g, grid[(j + 1) * nu + i]));
        double bendSq = 0.0;
        for (int dirn = 0; dirn < 4; ++dirn) {
          // Along u, along v and along both diagonals, the triangles' edges.
          const int di = dirn == 1 ? 0 : 1, dj = dirn == 0 ? 0 : dirn == 3 ? -1 : 1;
          if (i < di || i + di >= nu || j < std::abs(dj) || j + std::abs(dj) >= nv) continue;
          const double *a = grid[(j - dj) * nu + i - di], *c = grid[(j + dj) * nu + i + di];
          const double x = a[0] - 2.0 * g[0] + c[0], y = a[1] - 2.0 * g[1] + c[1], z = a[2] - 2.0 * g[2] + c[2];
          bendSq = std::max(bendSq, x * x + y * y + z * z);
        }
        bands[j * nu + i] = 0.5 * std::sqrt(bendSq);
      }
    const double seamSq = 1e-24 * ControlPointDiagonal(srf) * ControlPointDiagonal(srf);
    for (int j = 0; j < nv; ++j) walk.seamU = walk.seamU && distSq(grid[j * nu], grid[j * nu + nu - 1]) <= seamSq;
    for (int i = 0; i < nu; ++i) walk.seamV = walk.seamV && distSq(grid[i], grid[(nv - 1) * nu + i]) <= seamSq;
    walk.step = 0.25 * std::sqrt(edgeSq);
  };

  double ru[kMaxLineHits], rv[kMaxLineHits];
  int found = 0;
  // The stretches of the line already walked (as parameters along it).
  constexpr int kMostWalks = 64;
  double walked[kMostWalks][2];
  int walks = 0;
  // Stores a refined point that reaches the line inside the trims and is new.
  auto store = [&](double u, double v) {
    if (found < kMaxLineHits && RefineOntoLine(srf, dir, point, &u, &v) <= tol && InsideTrimPolylines(&trims, u, v) &&
        !Stored(ru, rv, found, u, v)) {
      ru[found] = u;
      rv[found] = v;
      ++found;
    }
  };
  // Refines a start and keeps it when it reaches the line inside the trims and is new.
  auto keep = [&](double u, double v, const double* from) {
    if (from) {
      double S[3], distSq = 0.0, stepSq = 0.0;
      FindClosestUVPointGuess(srf, from, S, &u, &v, &distSq, &stepSq, 7);
      u = Clamp(u, srf->umin, srf->umax);
      v = Clamp(v, srf->vmin, srf->vmax);
    }
    const bool hit = RefineOntoLine(srf, dir, point, &u, &v) <= tol;
    // A hit met before has had its neighbours looked for.
    if (hit && Stored(ru, rv, found, u, v)) return;
    if (hit && InsideTrimPolylines(&trims, u, v)) {
      ru[found] = u;
      rv[found] = v;
      ++found;
    }
    // The other crossings close by that the triangles may pass: the second crossing of a
    // grazing line from its quadratic, and those where the line runs within the band of the
    // surface by walking along it.
    double su[kMaxLineHits], sv[kMaxLineHits];
    int m = 0;
    if (hit) {
      double x[2], w[2];
      if (LocalCrossings(srf, dir, point, u, v, x, w) == 2) {
        su[0] = Clamp(u + x[1] * w[0], srf->umin, srf->umax);
        sv[0] = Clamp(v + x[1] * w[1], srf->vmin, srf->vmax);
        m = std::isfinite(su[0]) && std::isfinite(sv[0]) ? 1 : 0;
      }
    }
    static const int du3[3] = {0, 1, 0}, dv3[3] = {0, 0, 1};
    double S[3][3], n[3];
    EvalPointOnGeometryM(srf, u, v, du3, dv3, 3, 0, S);
    VecCrossProd3(S[1], S[2], n);
    const double s0 = (S[0][0] - point[0]) * walk.d[0] + (S[0][1] - point[1]) * walk.d[1] + (S[0][2] - point[2]) * walk.d[2];
    // A line that crosses the surface steeply leaves the band within a step: only a grazing hit
    // or a near miss is walked from.
    bool done = hit && !(std::fabs(VecDotProd3(n, walk.d)) < kGrazing * VecSize3(n));
    for (int k = 0; k < walks && !done; ++k) done = walked[k][0] <= s0 && s0 <= walked[k][1];
    if (!done && walks < kMostWalks) {
      if (walks == 0) frame();
      m += CrossingsAlongLine(srf, walk, u, v, &walked[walks][0], &walked[walks][1], su + m, sv + m, kMaxLineHits - m);
      ++walks;
    }
    for (int k = 0; k < m; ++k) store(su[k], sv[k]);
  };
  for (int j = 0; j + 1 < nv && found < kMaxLineHits; ++j)
    for (int i = 0; i + 1 < nu && found < kMaxLineHits; ++i)
      for (int tri = 0; tri < 2 && found < kMaxLineHits; ++tri) {
        // Corners (i, j), (i, j + 1), (i + 1, j), then (i + 1, j + 1), (i + 1, j), (i, j + 1).
        const int ci[3] = {tri ? i + 1 : i, tri ? i + 1 : i, tri ? i : i + 1};
        const int cj[3] = {tri ? j + 1 : j, tri ? j : j + 1, tri ? j + 1 : j};
        double hit[3], bary[3];
        if (!IntersectLineTriangleTol(grid[cj[0] * nu + ci[0]], grid[cj[1] * nu + ci[1]],
                                      grid[cj[2] * nu + ci[2]], dir, point, hit, bary, 0.001))
          continue;
        double u = 0.0, v = 0.0;
        for (int c = 0; c < 3; ++c) {
          u += bary[c] * gu[ci[c]];
          v += bary[c] * gv[cj[c]];
        }
        if (!InsideTrimPolylines(&trims, u, v) || Stored(ru, rv, found, u, v)) continue;
        keep(u, v, hit);
      }
  for (int j = 0; j < nv && found < kMaxLineHits; ++j)
    for (int i = 0; i < nu && found < kMaxLineHits; ++i) {
      const double a = away[j * nu + i];
      bool least = true;
      for (int b = std::max(0, j - 1); b <= std::min(nv - 1, j + 1) && least; ++b)
        for (int c = std::max(0, i - 1); c <= std::min(nu - 1, i + 1) && least; ++c) least = away[b * nu + c] >= a;
      if (!least) continue;
      double spacing = 0.0;
      for (int b = std::max(0, j - 1); b <= std::min(nv - 1, j + 1); ++b)
        for (int c = std::max(0, i - 1); c <= std::min(nu - 1, i + 1); ++c)
          spacing = std::fmax(spacing, VecDist3(grid[b * nu + c], grid[j * nu + i]));
      if (a <= spacing && !Stored(ru, rv, found, gu[i], gv[j])) keep(gu[i], gv[j], nullptr);
    }
  if (found == 0) return 0;
  double *outU, *outV;
  {
    UntrackedScope own;  // the results are the caller's
    outU = MallocArray<double>(found);
    outV = MallocArray<double>(found);
  }
  if (!outU || !outV || KernelFailed()) {
    Free(outU);
    Free(outV);
    return -2;
  }
  std::copy(ru, ru + found, outU);
  std::copy(rv, rv + found, outV);
  *us = outU;
  *vs = outV;
  *count = found;
  return 0;
}

// ---- Iso lines against trim loops ------------------------------------------------------------

TrimList* FindMinMaxofTrimCurve(TrimList* loops, double* loopBoxes, double* curveBoxes) {
  TrimList* last = nullptr;
  int l = 0, c = 0;
  for (TrimList* loop = loops; loop; last = loop, loop = loop->next, ++l) {
    double* box = loopBoxes + 4 * l;
    box[0] = box[2] = kEmptyBoxBound;
    box[1] = box[3] = -kEmptyBoxBound;
    for (BsplineList* n = loop->loopCurves; n; n = n->next, ++c) {
      double* cb = curveBoxes + 4 * c;
      GetCurveOnSurfMinMaxSurfParams(n->item, &cb[0], &cb[1], &cb[2], &cb[3]);
      box[0] = std::min(box[0], cb[0]);
      box[1] = std::max(box[1], cb[1]);
      box[2] = std::min(box[2], cb[2]);
      box[3] = std::max(box[3], cb[3]);
    }
  }
  return last;
}

int CheckTrimCurveBBoxIntersect(const double box[4], double value, int side) {
  const double* pair = side == 0 ? box : side == 3 ? box + 2 : nullptr;
  return pair && pair[0] + 1e-6 < value && value < pair[1] - 1e-6 ? 1 : 0;
}

int IsBoundaryPoint(double value, const double range[2]) {
  return std::fabs(value - range[0]) <= 1e-10 || std::fabs(value - range[1]) <= 1e-10 ? 1 : 0;
}

int CheckCrvCoincidence(const double box[4], double value, int side, double* out, int* count,
                        const Bspline* curve) {
  // The curve's extent across the line: u for the line u = value.
  const double* pair = side == 0 ? box : side == 3 ? box + 2 : nullptr;
  if (!pair || pair[1] - pair[0] >= 1e-10 || std::fabs(pair[0] - value) > 1e-6) return 0;
  out[(*count)++] = curve->knotsU[curve->degreeU];
  out[(*count)++] = curve->knotsU[curve->degreeU + curve->interiorU + 1];
  return 1;
}

namespace {

// The coordinate that runs along the line: v on the line u = value (side 0), else u.
double Along(const IsoHit* h, int side) { return side == 0 ? h->v : h->u; }

IsoHit* NewIsoHit(const Bspline* srf, double u, double v, double t) {
  IsoHit* h = MallocArray<IsoHit>(1);
  if (!h) return nullptr;
  *h = IsoHit{nullptr, nullptr, {0, 0, 0}, u, v, t};
  SurfacePoint(srf, u, v, h->point);
  return h;
}

void LinkBefore(IsoHit** list, IsoHit* at, IsoHit* h) {
  h->next = at;
  h->prev = at->prev;
  if (at->prev) at->prev->next = h;
  else *list = h;
  at->prev = h;
}

void LinkAfter(IsoHit* at, IsoHit* h) {
  h->prev = at;
  h->next = at->next;
  if (at->next) at->next->prev = h;
  at->next = h;
}

}  // namespace

int FindAllTrimBsplIsoIntersects(double value, Bspline* curve, IsoHit** list, int* count, int side,
                                 const double curveBox[4], const double loopBox[4]) {
  if (!curve || !curve->owner || !list || !count || (side != 0 && side != 3)) return 0;
  // Room for every crossing the search can report: one per pair of its samples.
  const int room = std::max(2, 5 * curve->interiorU + 5);
  double* hits = MallocArray<double>(room);
  if (!hits) return 0;
  int n = 0;
  if (!CheckCrvCoincidence(curveBox, value, side, hits, &n, curve)) {
    // A line along the loop box's edge only touches the loop.
    if (IsBoundaryPoint(value, side == 0 ? loopBox : loopBox + 2) ||
        FindCurve2IsoParamIntersections(curve, side == 0 ? 1 : 0, value, hits, &n) != 0) {
      Free(hits);
      return 0;
    }
  }
  for (int k = 0; k < n; ++k) {
    double uv[2];
    Eval2DPointOnCurve2Array(nullptr, curve, hits[k], 0, uv);
    IsoHit* h = NewIsoHit(curve->owner, uv[0], uv[1], hits[k]);
    if (!h) break;
    const double s = Along(h, side);
    IsoHit* at = *list;
    IsoHit* tail = nullptr;
    while (at && Along(at, side) + 1e-6 < s) {
      tail = at;
      at = at->next;
    }
    if (at && std::fabs(Along(at, side) - s) <= 1e-6) {
      Free(h);
      continue;
    }
    if (at) LinkBefore(list, at, h);
    else if (tail) LinkAfter(tail, h);
    else *list = h;
  }
  Free(hits);
  int c = 0;
  for (IsoHit* h = *list; h; h = h->next) ++c;
  *count = c;
  return KernelFailed() ? 0 : 1;
}

int CutIntersectLine(IsoHit** list, TrimList* loop, int side, double value, const double loopBox[4]) {
  if (!list || !*list || !loop || !loop->loopCurves || (side != 0 && side != 3)) return 0;
  const Bspline* srf = loop->loopCurves->item->owner;
  if (!srf) return 0;
  IsoHit* hit = *list;
  const double ends[2][2] = {{side == 0 ? value : srf->umin, side == 0 ? srf->vmin : value},
                             {side == 0 ? value : srf->umax, side == 0 ? srf->vmax : value}};
  bool in[2];
  for (int e = 0; e < 2; ++e)
    in[e] = loopBox[0] <= ends[e][0] && ends[e][0] <= loopBox[1] && loopBox[2] <= ends[e][1] &&
            ends[e][1] <= loopBox[3];
  if (in[0] == in[1]) {
    if (loop->hole) {
      Free(hit);
      *list = nullptr;
      return 0;
    }
    IsoHit* copy = MallocArray<IsoHit>(1);
    if (!copy) return 0;
    *copy = *hit;
    LinkAfter(hit, copy);
    return 2;
  }
  // The end inside the box for an outer loop, outside it for a hole.
  const int e = (in[0] != (loop->hole != 0)) ? 0 : 1;
  IsoHit* end = NewIsoHit(srf, ends[e][0], ends[e][1], 0.0);
  if (!end) return 0;
  if (Along(end, side) <= Along(hit, side)) LinkBefore(list, hit, end);
  else LinkAfter(hit, end);
  return 2;
}

namespace {

// Values over the breaks of one direction: each interval cut into one more equal part than
// there are distinct knots strictly inside it, the last break closing the list.
double* SampleBetweenBreaks(const Bspline* srf, int dir, const double* breaks, int nb, int* n) {
  int* mults = nullptr;
  double* knots = nullptr;
  const int nk = DistinctInteriorKnots(srf, dir, &mults, &knots, 1e-6);
  Free(mults);
  if (nk < 0) return nullptr;
  int total = 1;
  for (int b = 0; b + 1 < nb; ++b) {
    int inside = 0;
    for (int k = 0; k < nk; ++k) inside += knots[k] > breaks[b] && knots[k] < breaks[b + 1];
    total += inside + 1;
  }
  double* out = MallocArray<double>(total);
  if (!out) {
    Free(knots);
    return nullptr;
  }
  int at = 0;
  for (int b = 0; b + 1 < nb; ++b) {
    int parts = 1;
    for (int k = 0; k < nk; ++k) parts += knots[k] > breaks[b] && knots[k] < breaks[b + 1];
    for (int i = 0; i < parts; ++i) out[at++] = breaks[b] + i * (breaks[b + 1] - breaks[b]) / parts;
  }
  out[at++] = breaks[nb - 1];
  Free(knots);
  *n = at;
  return out;
}

// The domain ends with the distinct knots between them (spans below 1e-6 of the range merged).
double* KnotBreaks(const Bspline* srf, int dir, int* nb) {
  int* mults = nullptr;
  double* knots = nullptr;
  const int nk = DistinctInteriorKnots(srf, dir, &mults, &knots, 1e-6);
  Free(mults);
  if (nk < 0) return nullptr;
  double* b = MallocArray<double>(nk + 2);
  if (b) {
    b[0] = dir ? srf->vmin : srf->umin;
    std::copy(knots, knots + nk, b + 1);
    b[nk + 1] = dir ? srf->vmax : srf->umax;
    *nb = nk + 2;
  }
  Free(knots);
  return b;
}

}  // namespace

int GetSampledUVVectors(Bspline* srf, double** us, double** vs, int* nus, int* nvs, int mode,
                        const double* uBreaks, const double* vBreaks, int nu, int nv) {
  *us = *vs = nullptr;
  if (!srf || srf->kind != 2 || (mode != 0 && mode != 1)) return 0;
  if (mode == 1 && (!uBreaks || !vBreaks || nu < 2 || nv < 2)) return 0;
  double* out[2] = {nullptr, nullptr};
  int count[2] = {0, 0};
  for (int dir = 0; dir < 2; ++dir) {
    int nb = dir ? nv : nu;
    double* own = mode == 0 ? KnotBreaks(srf, dir, &nb) : nullptr;
    const double* breaks = mode == 0 ? own : dir ? vBreaks : uBreaks;
    if (breaks) out[dir] = SampleBetweenBreaks(srf, dir, breaks, nb, &count[dir]);
    Free(own);
    if (!out[dir] || KernelFailed()) {
      Free(out[0]);
      Free(out[1]);
      return 0;
    }
  }
  *us = out[0];
  *vs = out[1];
  *nus = count[0];
  *nvs = count[1];
  return 1;
}
