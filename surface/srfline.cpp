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
  // Beyond this angle the line crosses the grid's triangles where it crosses the surface.
  if (std::fabs(sine) > 0.2) return 0;
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

// The signed height of the line's point X = P + s d (d unit) above the surface, measured from
// its foot found from (u, v), which follows; false where the foot has no normal.
bool HeightAlong(Bspline* srf, const double d[3], const double P[3], double s, double* u, double* v,
                 double* h) {
  static const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  const double X[3] = {P[0] + s * d[0], P[1] + s * d[1], P[2] + s * d[2]};
  double S[3][3], n[3];
  // The foot by Gauss-Newton: X lies close to the surface, within a grid spacing.
  for (int it = 0; it < 6; ++it) {
    if (EvalPointOnGeometryM(srf, *u, *v, du, dv, 3, 0, S) != 0) return false;
    const double r[3] = {X[0] - S[0][0], X[1] - S[0][1], X[2] - S[0][2]};
    const double a = VecDotProd3(S[1], S[1]), b = VecDotProd3(S[1], S[2]), c = VecDotProd3(S[2], S[2]);
    const double det = a * c - b * b;
    if (!(det > 0.0)) return false;
    const double ru = VecDotProd3(S[1], r), rv = VecDotProd3(S[2], r);
    *u = Clamp(*u + (c * ru - b * rv) / det, srf->umin, srf->umax);
    *v = Clamp(*v + (a * rv - b * ru) / det, srf->vmin, srf->vmax);
  }
  if (EvalPointOnGeometryM(srf, *u, *v, du, dv, 3, 0, S) != 0) return false;
  VecCrossProd3(S[1], S[2], n);
  const double ln = VecSize3(n);
  if (!(ln > 0.0)) return false;
  *h = 0.0;
  for (int q = 0; q < 3; ++q) *h += n[q] * (X[q] - S[0][q]) / ln;
  return true;
}

// Steps along the line both ways from where it passes the surface point at (u, v) closest,
// quarter-spacing steps over two grid spacings, for the places where its height above the
// surface changes sign: the crossings of a line that skims a curved surface, which the grid's
// triangles may pass on either side of. Each crossing is narrowed by halving the step to a
// sixteenth of it; its foot's parameters into su, sv (up to two). The number written.
int CrossingsNearMiss(Bspline* srf, const double D[3], const double P[3], double u, double v,
                      double spacing, double su[2], double sv[2]) {
  double d[3], S[3];
  VecNormalize3(D, d);
  Eval3DPointOnSurfCoord(srf, u, v, 0, 0, S);
  const double s0 = (S[0] - P[0]) * d[0] + (S[1] - P[1]) * d[1] + (S[2] - P[2]) * d[2];
  const double h = 0.25 * spacing;
  int m = 0;
  for (int side = -1; side <= 1 && m < 2; side += 2) {
    double a = u, b = v, last = 0.0;
    if (!HeightAlong(srf, d, P, s0, &a, &b, &last)) return m;
    for (int k = 1; k <= 8; ++k) {
      double pa = a, pb = b, now = 0.0;
      if (!HeightAlong(srf, d, P, s0 + side * k * h, &a, &b, &now)) break;
      if ((now < 0.0) == (last < 0.0)) {
        last = now;
        continue;
      }
      // Halve the step between the two heights of opposite sign.
      double lo = s0 + side * (k - 1) * h, hi = s0 + side * k * h, hlo = last;
      for (int it = 0; it < 4; ++it) {
        const double mid = 0.5 * (lo + hi);
        double hm = 0.0;
        if (!HeightAlong(srf, d, P, mid, &pa, &pb, &hm)) break;
        if ((hm < 0.0) == (hlo < 0.0)) lo = mid, hlo = hm;
        else hi = mid;
      }
      su[m] = pa;
      sv[m] = pb;
      ++m;
      break;
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
// line passing the surface close by has none). Duplicates within 1e-6 are dropped before and
// after refinement.
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
  double* away = MallocArray<double>(nu, nv);
  if (!block || !grid || !away || KernelFailed()) return -2;
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

  double ru[kMaxLineHits], rv[kMaxLineHits];
  int found = 0;
  // Refines a start and keeps it when it reaches the line inside the trims and is new.
  auto keep = [&](double u, double v, const double* from, double spacing) {
    if (from) {
      double S[3], distSq = 0.0, stepSq = 0.0;
      FindClosestUVPointGuess(srf, from, S, &u, &v, &distSq, &stepSq, 7);
      u = Clamp(u, srf->umin, srf->umax);
      v = Clamp(v, srf->vmin, srf->vmax);
    }
    const bool hit = RefineOntoLine(srf, dir, point, &u, &v) <= tol;
    if (hit && InsideTrimPolylines(&trims, u, v) && !Stored(ru, rv, found, u, v)) {
      ru[found] = u;
      rv[found] = v;
      ++found;
    }
    // The other crossings close by that the triangles may pass: the second crossing of a
    // grazing line from its quadratic, those of a line skimming the surface by stepping along.
    double su[2], sv[2];
    int m = 0;
    if (hit) {
      double x[2], w[2];
      if (LocalCrossings(srf, dir, point, u, v, x, w) == 2) {
        su[0] = Clamp(u + x[1] * w[0], srf->umin, srf->umax);
        sv[0] = Clamp(v + x[1] * w[1], srf->vmin, srf->vmax);
        m = std::isfinite(su[0]) && std::isfinite(sv[0]) ? 1 : 0;
      }
    } else if (spacing > 0.0) {
      m = CrossingsNearMiss(srf, dir, point, u, v, spacing, su, sv);
    }
    for (int k = 0; k < m && found < kMaxLineHits; ++k) {
      if (RefineOntoLine(srf, dir, point, &su[k], &sv[k]) > tol) continue;
      if (InsideTrimPolylines(&trims, su[k], sv[k]) && !Stored(ru, rv, found, su[k], sv[k])) {
        ru[found] = su[k];
        rv[found] = sv[k];
        ++found;
      }
    }
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
        keep(u, v, hit, 0.0);
      }
  for (int j = 0; j < nv && found < kMaxLineHits; ++j)
    for (int i = 0; i < nu && found < kMaxLineHits; ++i) {
      const double a = away[j * nu + i];
      double spacing = 0.0;
      bool least = true;
      for (int b = std::max(0, j - 1); b <= std::min(nv - 1, j + 1) && least; ++b)
        for (int c = std::max(0, i - 1); c <= std::min(nu - 1, i + 1); ++c) {
          if (b == j && c == i) continue;
          if (away[b * nu + c] < a) least = false;
          spacing = std::fmax(spacing, VecDist3(grid[b * nu + c], grid[j * nu + i]));
        }
      if (least && a <= spacing && !Stored(ru, rv, found, gu[i], gv[j])) keep(gu[i], gv[j], nullptr, spacing);
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
