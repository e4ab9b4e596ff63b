#include "bspline/srfgrid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

int GridSize(int interior) {
  const int n = 2 * interior + 4;
  if (n < 51) return 50;
  return n >= 200 ? 200 : n;
}

// Fills an empty cache: the surface on the uniform grid.
int FillGrid(Bspline* srf, int nu, int nv, double** gx, double** gy, double** gz) {
  TrackingScope scope;
  double* x = MallocArray<double>(nu, nv);
  double* y = MallocArray<double>(nu, nv);
  double* z = MallocArray<double>(nu, nv);
  double* par = MallocArray<double>(nu + nv);
  if (!x || !y || !z || !par || KernelFailed()) {
    *gx = *gy = *gz = nullptr;
    return -2;
  }
  double* us = par;
  double* vs = par + nu;
  for (int i = 0; i < nu; ++i) us[i] = srf->umin + i * (srf->umax - srf->umin) / (nu - 1);
  for (int j = 0; j < nv; ++j) vs[j] = srf->vmin + j * (srf->vmax - srf->vmin) / (nv - 1);
  if (Eval3DGridOnBsplArray(srf, us, nu, vs, nv, x, y, z) != 0) {
    *gx = *gy = *gz = nullptr;
    return -2;
  }
  Free(par);
  scope.keep();
  *gx = x;
  *gy = y;
  *gz = z;
  return 0;
}

// Candidates compared at most, the most promising first.
const int kMostCandidates = 16;

// How far the minimum about grid point a (at distance dist from P) may lie below what the grid
// predicts there: with r half the diagonal of a cell (b and c opposite corners of two cells
// about a), the sag of the distance over a cell. About a minimum the distance rises as the
// square of the step over the distance, so a grid point within a cell of a nearer minimum is at
// most about r^2 / dist farther (never more than r); margins of 2 and 4 cover cells of uneven
// size and a surface bending away.
double HalfCellDiagonal(const double* x, const double* y, const double* z, int b, int c) {
  const double ex = x[b] - x[c], ey = y[b] - y[c], ez = z[b] - z[c];
  return 0.25 * std::sqrt(ex * ex + ey * ey + ez * ez);
}
double CellSlack(double r, double dist) { return dist > 0.0 ? std::fmin(2.0 * r, 4.0 * r * r / dist) : 2.0 * r; }

// Grid minima this near the foot (in cells, both directions) lie in the basin the foot's
// refinement searched: a cell and a half when the whole grid is compared; beside the foot only
// its own point (within half a cell), since two minima can be less than a cell apart.
const double kOffTheFootsBasin = 1.5;
const double kOffTheFootsPoint = 0.5;

// Whether (cu, cv) lies within `cells` cells of the foot (fu, fv) in both directions, across a
// closed seam too.
bool NearTheFoot(const Bspline* srf, int nu, int nv, double cu, double cv, double fu, double fv, double cells) {
  double a = std::fabs(cu - fu) / ((srf->umax - srf->umin) / (nu - 1));
  double b = std::fabs(cv - fv) / ((srf->vmax - srf->vmin) / (nv - 1));
  if (srf->closedU) a = std::fmin(a, nu - 1 - a);
  if (srf->closedV) b = std::fmin(b, nv - 1 - b);
  return a <= cells && b <= cells;
}

// Refines every stretch of the grid that could hold a point nearer than the refined foot (u, v,
// q, d, e) and keeps the nearest. Near a centre of curvature, or between two bulges, the
// distance has several shallow minima, and the refinement from the nearest grid point may end
// in one that is not the least; in a flat valley the grid's nearest point need not even lie in
// the least one's basin. So the distance about each grid point is modelled by the quadratic
// through its 3 x 3 neighbourhood: where that has a minimum within a cell of the point, or the
// point is no farther than its eight neighbours, and the minimum (or the point) is below the
// foot's distance plus the distance's sag over a cell (a grid too coarse for the bumps about a
// minimum misses it by that much), the surface is refined within two cells of it, nearest
// prospects first. The least distance may also lie on an edge of the domain (or a corner),
// where the distance still falls outwards: a point of an edge that is open (not a closed seam)
// no farther than its neighbours along the edge and inwards is modelled by the parabola along
// the edge (a corner by its own distance). offFoot: no candidate within offFoot cells of the
// foot, whose basin the foot's refinement has searched, unless the grid itself predicts a
// distance below the foot's (never within kOffTheFootsPoint). Only the grid points of the area (first and last column, first and
// last row) are modelled.
int CompareGridMinima(Bspline* srf, const double p[3], const double* x, const double* y, const double* z,
                      int nu, int nv, double* u, double* v, double q[3], double* d, double* e, double offFoot,
                      const int area[4]) {
  const int window[4] = {std::max(0, area[0]), std::min(nu - 1, area[1]), std::max(0, area[2]), std::min(nv - 1, area[3])};
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  const double footU = *u, footV = *v;
  // The distances read: the window and its neighbours.
  const int i0 = std::max(0, window[0] - 1), i1 = std::min(nu - 1, window[1] + 1);
  const int j0 = std::max(0, window[2] - 1), j1 = std::min(nv - 1, window[3] + 1);
  TrackingScope scope;
  double* dist = MallocArray<double>(nu, nv);
  if (!dist || KernelFailed()) return -2;
  for (int j = j0; j <= j1; ++j)
    for (int k = j * nu + i0; k <= j * nu + i1; ++k) {
      const double ex = x[k] - p[0], ey = y[k] - p[1], ez = z[k] - p[2];
      dist[k] = std::sqrt(ex * ex + ey * ey + ez * ez);
    }
  double key[kMostCandidates], at[kMostCandidates][2];
  int count = 0;
  auto slackAt = [&](int a, int b, int c) { return CellSlack(HalfCellDiagonal(x, y, z, b, c), dist[a]); };
  // Keeps the most promising candidates, the least possible distance (predicted less slack) first.
  auto offer = [&](double predicted, double slack, double cu, double cv) {
    // Near the foot a refinement would start in the foot's own basin, unless the grid predicts
    // less; at the foot's own point always.
    if (offFoot > 0.0 && NearTheFoot(srf, nu, nv, cu, cv, footU, footV, offFoot) &&
        (!(predicted < std::fabs(*d)) || NearTheFoot(srf, nu, nv, cu, cv, footU, footV, kOffTheFootsPoint)))
      return;
    predicted -= slack;
    if (!(predicted < std::fabs(*d))) return;
    if (count == kMostCandidates && key[count - 1] <= predicted) return;
    int c = count < kMostCandidates ? count++ : kMostCandidates - 1;
    for (; c > 0 && key[c - 1] > predicted; --c) {
      key[c] = key[c - 1];
      at[c][0] = at[c - 1][0];
      at[c][1] = at[c - 1][1];
    }
    key[c] = predicted;
    at[c][0] = cu;
    at[c][1] = cv;
  };
  // The edges: along u at j = 0 and nv - 1 (open in v), along v at i = 0 and nu - 1 (open in u).
  for (int side = 0; side < 4; ++side) {
    const bool alongU = side < 2;
    if (alongU ? srf->closedV : srf->closedU) continue;
    const int n = alongU ? nu : nv, fixed = side % 2 ? (alongU ? nv - 1 : nu - 1) : 0;
    if (alongU ? fixed < window[2] || fixed > window[3] : fixed < window[0] || fixed > window[1]) continue;
    const int inward = side % 2 ? -1 : 1;
    auto index = [&](int t, int depth) {
      return alongU ? (fixed + inward * depth) * nu + t : t * nu + fixed + inward * depth;
    };
    const int t0 = alongU ? window[0] : window[2], t1 = alongU ? window[1] : window[3];
    for (int t = t0; t <= t1; ++t) {
      const double own = dist[index(t, 0)];
      if (dist[index(t, 1)] < own || (t > 0 && dist[index(t - 1, 0)] < own) || (t + 1 < n && dist[index(t + 1, 0)] < own))
        continue;
      double shift = 0.0, predicted = own;
      if (t > 0 && t + 1 < n) {
        const double g = 0.5 * (dist[index(t + 1, 0)] - dist[index(t - 1, 0)]);
        const double h2 = dist[index(t + 1, 0)] - 2.0 * own + dist[index(t - 1, 0)];
        if (h2 > 0.0 && std::fabs(g) <= h2) {
          shift = -g / h2;
          predicted = own + 0.5 * g * shift;
        }
      }
      const double along = (alongU ? srf->umin : srf->vmin) + (t + shift) * (alongU ? du : dv);
      const double across = alongU ? (side % 2 ? srf->vmax : srf->vmin) : (side % 2 ? srf->umax : srf->umin);
      const int a = index(t, 0), b = index(t > 0 ? t - 1 : t, 0), c = index(t + 1 < n ? t + 1 : t, 1);
      offer(predicted, slackAt(a, b, c), alongU ? along : across, alongU ? across : along);
    }
  }
  for (int j = std::max(1, window[2]); j + 1 < nv && j <= window[3]; ++j)
    for (int i = std::max(1, window[0]); i + 1 < nu && i <= window[1]; ++i) {
      const double* D = dist + j * nu + i;  // D[b * nu + a]: a along u, b along v
      const double gu = 0.5 * (D[1] - D[-1]), gv = 0.5 * (D[nu] - D[-nu]);
      const double huu = D[1] - 2.0 * D[0] + D[-1], hvv = D[nu] - 2.0 * D[0] + D[-nu];
      const double huv = 0.25 * (D[nu + 1] - D[nu - 1] - D[-nu + 1] + D[-nu - 1]);
      const double det = huu * hvv - huv * huv;
      const int k = j * nu + i;
      const double slack = std::fmax(slackAt(k, k - nu - 1, k + nu + 1), slackAt(k, k - nu + 1, k + nu - 1));
      // A point no farther than its eight neighbours is a minimum of the grid, whatever the model
      // (too coarse a grid for the bumps about it can bend the model away).
      bool least = true;
      for (int b = -1; b <= 1 && least; ++b)
        for (int a = -1; a <= 1 && least; ++a) least = D[b * nu + a] >= D[0];
      if (huu > 0.0 && det > 0.0) {
        const double su = -(hvv * gu - huv * gv) / det, sv = -(huu * gv - huv * gu) / det;
        if (std::fabs(su) <= 1.0 && std::fabs(sv) <= 1.0) {
          offer(D[0] + 0.5 * (gu * su + gv * sv), slack, srf->umin + (i + su) * du, srf->vmin + (j + sv) * dv);
          continue;
        }
      }
      if (least) offer(D[0], slack, srf->umin + i * du, srf->vmin + j * dv);
    }
  for (int c = 0; c < count && key[c] < std::fabs(*d); ++c) {
    double cu = at[c][0], cv = at[c][1];
    const double box[4] = {std::fmax(srf->umin, cu - 2.0 * du), std::fmin(srf->umax, cu + 2.0 * du),
                           std::fmax(srf->vmin, cv - 2.0 * dv), std::fmin(srf->vmax, cv + 2.0 * dv)};
    double cq[3], cd = kEmptyBoxBound, ce = 0.0;
    if (FindClosestUVPointWithin(srf, p, box, cq, &cu, &cv, &cd, &ce, 7) != 0 || !(std::fabs(cd) < std::fabs(*d)))
      continue;
    *u = cu;
    *v = cv;
    *d = cd;
    *e = ce;
    for (int k = 0; k < 3; ++k) q[k] = cq[k];
  }
  return 0;
}

// Where P lies this far towards a centre of curvature of its foot (distance times the larger
// principal curvature on P's side), the distance is flat enough about the foot for another
// minimum to be nearer: only then are the grid's other minima compared.
const double kFocalShare = 0.8;

// Whether P lies near a focal point of the foot (u, v, q): h k >= kFocalShare for a principal
// curvature k towards P (the eigenvalues of I^-1 II with the normal turned to P).
bool NearAFocalPoint(Bspline* srf, const double p[3], double u, double v, const double q[3]) {
  static const int du[5] = {1, 0, 2, 1, 0}, dv[5] = {0, 1, 0, 1, 2};
  double D[5][3];
  if (EvalPointOnGeometryM(srf, u, v, du, dv, 5, 0, D) != 0) return false;
  const double r[3] = {p[0] - q[0], p[1] - q[1], p[2] - q[2]};
  const double h = std::sqrt(VecDotProd3(r, r));
  if (!(h > 0.0)) return false;
  // II taken with the unit vector towards P (normal to the surface at a foot).
  const double L = VecDotProd3(D[2], r) / h, M = VecDotProd3(D[3], r) / h, N = VecDotProd3(D[4], r) / h;
  const double E = VecDotProd3(D[0], D[0]), F = VecDotProd3(D[0], D[1]), G = VecDotProd3(D[1], D[1]);
  const double det = E * G - F * F;
  if (!(det > 0.0)) return true;
  // Eigenvalues of I^-1 II: k^2 - 2 H k + K = 0.
  const double K = (L * N - M * M) / det, H = 0.5 * (E * N - 2.0 * F * M + G * L) / det;
  const double kMax = H + std::sqrt(std::fmax(0.0, H * H - K));
  return h * kMax >= kFocalShare;
}

// Whether the grid may hold a minimum of the distance nearer than the refined foot (u, v) at
// distance dist, away from the foot's own basin: a grid point no farther than its (up to four)
// neighbours, more than a cell and a half from the foot (or nearer than the foot itself), whose
// distance less its cell's slack (CellSlack) and a cell's half diagonal (how far a quadratic
// model about a neighbour may fall below it) is below dist. CompareGridMinima is only worth its
// cost then. The grid is read at every other point (a quarter of the cost), three rows at a time;
// about each minimum of those, the points within three cells are examined.
bool MayHoldANearerMinimum(const Bspline* srf, const double p[3], const double* x, const double* y,
                           const double* z, int nu, int nv, double u, double v, double dist) {
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  auto distSq = [&](int i, int j) {
    const int k = j * nu + i;
    const double ex = x[k] - p[0], ey = y[k] - p[1], ez = z[k] - p[2];
    return ex * ex + ey * ey + ez * ez;
  };
  // Whether fine point (i, j) is a minimum that may be nearer than the foot.
  auto nearer = [&](int i, int j) {
    const double own = distSq(i, j);
    if ((i > 0 && distSq(i - 1, j) < own) || (i + 1 < nu && distSq(i + 1, j) < own) ||
        (j > 0 && distSq(i, j - 1) < own) || (j + 1 < nv && distSq(i, j + 1) < own))
      return false;
    const double D = std::sqrt(own);
    if (!(D < dist) && NearTheFoot(srf, nu, nv, srf->umin + i * du, srf->vmin + j * dv, u, v, 1.5)) return false;
    const int b = std::max(0, j - 1) * nu + std::max(0, i - 1), c = std::min(nv - 1, j + 1) * nu + std::min(nu - 1, i + 1);
    const double half = HalfCellDiagonal(x, y, z, b, c);
    return D - CellSlack(half, D) - half < dist;
  };
  // The coarse points: every other index, the last one too.
  const int cu = (nu + 2) / 2, cv = (nv + 2) / 2;
  auto fine = [](int c, int n) { return std::min(2 * c, n - 1); };
  double rows[3][101];  // GridSize is at most 200
  auto fill = [&](int cj, double* row) {
    for (int ci = 0; ci < cu; ++ci) row[ci] = distSq(fine(ci, nu), fine(cj, nv));
  };
  fill(0, rows[0]);
  if (cv > 1) fill(1, rows[1]);
  for (int cj = 0; cj < cv; ++cj) {
    const double* below = cj > 0 ? rows[(cj - 1) % 3] : nullptr;
    const double* row = rows[cj % 3];
    const double* above = cj + 1 < cv ? rows[(cj + 1) % 3] : nullptr;
    for (int ci = 0; ci < cu; ++ci) {
      const double own = row[ci];
      if ((ci > 0 && row[ci - 1] < own) || (ci + 1 < cu && row[ci + 1] < own) || (below && below[ci] < own) ||
          (above && above[ci] < own))
        continue;
      const int i0 = fine(ci, nu), j0 = fine(cj, nv);
      for (int j = std::max(0, j0 - 3); j <= std::min(nv - 1, j0 + 3); ++j)
        for (int i = std::max(0, i0 - 3); i <= std::min(nu - 1, i0 + 3); ++i)
          if (nearer(i, j)) return true;
    }
    if (cj + 2 < cv) fill(cj + 2, rows[(cj + 2) % 3]);
  }
  return false;
}

// Bounds of the first and second partial derivatives of a surface over its whole domain.
struct DerivativeBounds {
  double u1 = 0.0, u2 = 0.0, v1 = 0.0, v2 = 0.0;  // |S_u|, |S_uu|, |S_v|, |S_vv|
  // Second derivatives bounded off kinks and clusters of knots only (see NetBoundsAlong).
  bool clusteredU = false, clusteredV = false;
};

// Bounds along one direction from the control net: the partial derivatives of a non-rational
// spline are splines whose control points are the net's differences, p (P[a+1] - P[a]) /
// (t[a+p+1] - t[a+1]) and again (p - 1) (...) / (t[a+p] - t[a+1]), and a spline lies in the hull
// of its control points. false where the first derivative is not bounded (an interior knot of
// multiplicity above p). At an interior knot of multiplicity p (a kink: every interior knot of
// degree 1, whose spans are flat along the direction), and over p knots within kKnotCluster of
// the domain (a kink turned within that stretch, where the second differences divide round-off
// of the net by the square of its length), the second derivative is bounded off them only
// (*clustered set), and a cell across one is bounded as across a kink.
const double kKnotCluster = 1e-8;

bool NetBoundsAlong(const Bspline* s, bool alongU, double* first, double* second, bool* clustered) {
  const int p = alongU ? s->degreeU : s->degreeV;
  const int n = alongU ? NumCtrlU(s) : NumCtrlV(s), other = alongU ? NumCtrlV(s) : NumCtrlU(s);
  const double* t = alongU ? s->knotsU : s->knotsV;
  if (p == 1 && n > 2) *clustered = true;
  const double cluster = kKnotCluster * (t[n] - t[p]);
  // The net is one block, rows of u: a point's neighbour along the direction is `step` on.
  const double *X = s->X[0], *Y = s->Y[0], *Z = s->Z[0];
  const int step = alongU ? 1 : NumCtrlU(s), across = alongU ? NumCtrlU(s) : 1;
  double most1 = 0.0, most2 = 0.0, before = 0.0;  // before: p / span of the previous difference
  for (int a = 0; a + 1 < n; ++a) {
    const double span = t[a + p + 1] - t[a + 1];
    if (!(span > 0.0)) return false;
    const double f = p / span;
    for (int c = 0, k = a * step; c < other; ++c, k += across) {
      const double Q[3] = {f * (X[k + step] - X[k]), f * (Y[k + step] - Y[k]), f * (Z[k + step] - Z[k])};
      const double q2 = Q[0] * Q[0] + Q[1] * Q[1] + Q[2] * Q[2];
      if (q2 > most1) most1 = q2;
    }
    if (a > 0 && p > 1) {
      const double span2 = t[a + p] - t[a + 1];
      if (span2 <= cluster) {
        *clustered = true;
        before = f;
        continue;
      }
      const double g = (p - 1) / span2;
      for (int c = 0, k = a * step; c < other; ++c, k += across) {
        const double R[3] = {g * (f * (X[k + step] - X[k]) - before * (X[k] - X[k - step])),
                             g * (f * (Y[k + step] - Y[k]) - before * (Y[k] - Y[k - step])),
                             g * (f * (Z[k + step] - Z[k]) - before * (Z[k] - Z[k - step]))};
        const double r2 = R[0] * R[0] + R[1] * R[1] + R[2] * R[2];
        if (r2 > most2) most2 = r2;
      }
    }
    before = f;
  }
  *first = std::sqrt(most1);
  *second = std::sqrt(most2);
  return std::isfinite(*first) && std::isfinite(*second);
}

// The bounds of a non-rational surface twice differentiable inside but for kinks and clusters of
// knots (the only ones its net bounds); false for any other.
bool NetDerivativeBounds(const Bspline* s, DerivativeBounds* b) {
  return !s->rational && NetBoundsAlong(s, true, &b->u1, &b->u2, &b->clusteredU) &&
         NetBoundsAlong(s, false, &b->v1, &b->v2, &b->clusteredV);
}

// [lo, hi] of parameter alongU cut at the kinks and clusters of knots (as NetBoundsAlong skips them) on
// either side of middle, to the stretch between them.
void KeepToTheSide(const Bspline* s, bool alongU, double middle, double* lo, double* hi) {
  const int p = alongU ? s->degreeU : s->degreeV, n = alongU ? NumCtrlU(s) : NumCtrlV(s);
  const double* t = alongU ? s->knotsU : s->knotsV;
  const double cluster = kKnotCluster * (t[n] - t[p]);
  for (int a = 1; a + 1 < n; ++a) {
    const double span2 = t[a + p] - t[a + 1];
    if (!(span2 <= cluster)) continue;
    if (t[a + p] <= middle && t[a + p] > *lo) *lo = t[a + p];
    if (t[a + 1] >= middle && t[a + 1] < *hi) *hi = t[a + 1];
  }
}

// How many kinks and clusters of knots as NetBoundsAlong skips them [lo, hi] of parameter alongU
// meets (0: none).
int KinksMet(const Bspline* s, bool alongU, double lo, double hi) {
  const int p = alongU ? s->degreeU : s->degreeV, n = alongU ? NumCtrlU(s) : NumCtrlV(s);
  const double* t = alongU ? s->knotsU : s->knotsV;
  const double cluster = kKnotCluster * (t[n] - t[p]);
  int met = 0;
  for (int a = 1; a + 1 < n; ++a) {
    const double span2 = t[a + p] - t[a + 1];
    if (span2 <= cluster && t[a + p] >= lo && t[a + 1] <= hi) ++met;
  }
  return met;
}

// How far the squared distance over a grid cell may fall below the least of its corners' (see
// SearchCells) for a foot at distance d.
double BoundSlack(const Bspline* srf, int nu, int nv, const DerivativeBounds& b, double d) {
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  const double reach = std::fabs(d) + du * b.u1 + dv * b.v1;
  return 0.25 * (du * du * (b.u1 * b.u1 + reach * b.u2) + dv * dv * (b.v1 * b.v1 + reach * b.v2));
}

// Where that slack reaches this share of the foot's squared distance, P lies within about a
// cell of the surface: the distance is then no quadratic over a cell and the grid's minima
// and models no guide to the others, so the cells are searched with the bound instead.
const double kNearShare = 1.0;

// Whether the surface has the bounds and P lies that near it.
bool SearchTheCells(const Bspline* srf, int nu, int nv, double d, DerivativeBounds* b) {
  return std::fabs(d) < kEmptyBoxBound && NetDerivativeBounds(srf, b) &&
         BoundSlack(srf, nu, nv, *b, d) >= kNearShare * d * d;
}

// Levels of halving below a grid cell before a cell that may still hold a nearer point is
// refined from its nearest corner: each level quarters the bound's slack.
const int kCellLevels = 4;

// Branch and bound over the grid's cells: the least distance, wherever it lies, edges and
// corners included. Over a cell of du x dv the squared distance f = |S - P|^2 lies above the
// least of its corners' values less (du^2 max f_uu + dv^2 max f_vv) / 8 (the error of bilinear
// interpolation, whose least value is at a corner), with f_uu = 2 (|S_u|^2 + (S - P) . S_uu) <=
// 2 (|S_u|max^2 + H |S_uu|max) for H the largest distance in a cell that could hold a point
// nearer than the foot (the foot's distance and the cell's diameter), |S_u|max su taken from the
// cell's own sides where that is less than the net's bound. A cell whose bound is
// below the foot's squared distance is halved both ways (the surface evaluated at its centre and
// the middles of its sides; a sample nearer than the foot is refined at once, so the foot only
// comes nearer and the bound prunes more), down to kCellLevels; a cell left at the last level
// more than a cell and a half (of its own size) from every foot found is refined from its
// nearest corner.
int SearchCells(Bspline* srf, const double p[3], const double* x, const double* y, const double* z, int nu,
                int nv, const DerivativeBounds& b, double* u, double* v, double q[3], double* d, double* e) {
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  const double slack0 = BoundSlack(srf, nu, nv, b, *d);
  double best = (*d) * (*d);
  // Feet refined from cells at the last level: a cell holding one has been searched.
  const int kFeetKept = 8;
  double feet[kFeetKept][2];
  int feetCount = 0;
  auto keep = [&](double fu, double fv) {
    feet[feetCount % kFeetKept][0] = fu;
    feet[feetCount % kFeetKept][1] = fv;
    ++feetCount;
  };
  keep(*u, *v);
  auto distSq = [&](const double s[3]) {
    const double ex = s[0] - p[0], ey = s[1] - p[1], ez = s[2] - p[2];
    return ex * ex + ey * ey + ez * ez;
  };
  auto take = [&](double cu, double cv, double cd, double ce, const double cq[3]) {
    if (!(std::fabs(cd) < std::fabs(*d))) return false;
    *u = cu;
    *v = cv;
    *d = cd;
    *e = ce;
    for (int k = 0; k < 3; ++k) q[k] = cq[k];
    best = cd * cd;
    return true;
  };
  struct Cell {
    double u0, v0;
    int level;
    double f[4];     // corners (u0, v0), (u1, v0), (u0, v1), (u1, v1)
    double s[4][3];  // the surface there
  };
  const double reach = std::fabs(*d) + du * b.u1 + dv * b.v1;
  // Across a kink or a cluster of knots the second derivative is unbounded, but the first is (the net's
  // bound): there the slope of f = |S - P|^2 along the parameter, 2 (S - P) . S_u, may fall by
  // up to 4 H |S_u|max at each kink the cell meets, as often as the degree lets S_u turn, and
  // over a cell of su it falls below its chord by that times su / 4 beside the second
  // derivative's share; nor are the cell's sides a bound of |S_u| there. H is the cell's own: the
  // nearest foot's distance and its diameter, which shrink as the search goes deeper and nearer
  // (a degree-1 net, kinked at every knot, would refine every last-level cell along a crease
  // within a top cell of P).
  const bool kinked = b.clusteredU || b.clusteredV;
  auto kinkSlack = [&](int metU, int metV, double su, double sv) {
    if (!metU && !metV) return 0.0;
    const double H = std::sqrt(best) + su * b.u1 + sv * b.v1;
    return metU * srf->degreeU * H * b.u1 * su + metV * srf->degreeV * H * b.v1 * sv;
  };
  auto kinks = [&](double u0, double v0, double su, double sv, bool* acrossU, bool* acrossV) {
    const int metU = b.clusteredU ? KinksMet(srf, true, u0, u0 + su) : 0;
    const int metV = b.clusteredV ? KinksMet(srf, false, v0, v0 + sv) : 0;
    *acrossU = metU > 0;
    *acrossV = metV > 0;
    return kinkSlack(metU, metV, su, sv);
  };
  // The slack of a cell su x sv from its own sides: |S_u| su is at most the longer side along u
  // plus su^2 |S_uu|max (the derivative's spread over the cell) plus sv^2 |S_vv|max / 4 (how
  // far the chord along u bends between the sides); so along v.
  auto slackOf = [&](const Cell& c, double su, double sv) {
    auto side = [&](int i, int j) {
      const double ex = c.s[i][0] - c.s[j][0], ey = c.s[i][1] - c.s[j][1], ez = c.s[i][2] - c.s[j][2];
      return std::sqrt(ex * ex + ey * ey + ez * ez);
    };
    bool acrossU = false, acrossV = false;
    const double kink = kinked ? kinks(c.u0, c.v0, su, sv, &acrossU, &acrossV) : 0.0;
    const double lu = std::max(side(1, 0), side(3, 2)) + su * su * b.u2 + 0.25 * sv * sv * b.v2;
    const double lv = std::max(side(2, 0), side(3, 1)) + sv * sv * b.v2 + 0.25 * su * su * b.u2;
    const double su1 = acrossU || acrossV ? su * b.u1 : std::min(lu, su * b.u1);
    const double sv1 = acrossU || acrossV ? sv * b.v1 : std::min(lv, sv * b.v1);
    return 0.25 * (su1 * su1 + su * su * reach * b.u2 + sv1 * sv1 + sv * sv * reach * b.v2) + kink;
  };
  Cell stack[4 * kCellLevels + 4];
  auto search = [&](const Cell& top) {
    int depth = 0;
    stack[depth++] = top;
    while (depth > 0) {
      const Cell c = stack[--depth];
      const double scale = std::ldexp(1.0, -c.level), su = du * scale, sv = dv * scale;
      const double least = std::fmin(std::fmin(c.f[0], c.f[1]), std::fmin(c.f[2], c.f[3]));
      if (!(least - slackOf(c, su, sv) < best)) continue;
      const double u1 = std::fmin(c.u0 + su, srf->umax), v1 = std::fmin(c.v0 + sv, srf->vmax);
      if (c.level == kCellLevels) {
        // A foot across a kink or a cluster of knots is another piece's: the cell's is not searched by it.
        bool searched = false;
        for (int k = 0; k < std::min(feetCount, kFeetKept) && !searched; ++k)
          searched = feet[k][0] >= c.u0 - 1.5 * su && feet[k][0] <= u1 + 1.5 * su && feet[k][1] >= c.v0 - 1.5 * sv &&
                     feet[k][1] <= v1 + 1.5 * sv &&
                     !(b.clusteredU && KinksMet(srf, true, std::fmin(feet[k][0], c.u0), std::fmax(feet[k][0], u1))) &&
                     !(b.clusteredV && KinksMet(srf, false, std::fmin(feet[k][1], c.v0), std::fmax(feet[k][1], v1)));
        if (searched) continue;
        const int at = c.f[0] == least ? 0 : c.f[1] == least ? 1 : c.f[2] == least ? 2 : 3;
        double cu = at % 2 ? u1 : c.u0, cv = at / 2 ? v1 : c.v0, cq[3], cd = kEmptyBoxBound, ce = 0.0;
        double box[4] = {std::fmax(srf->umin, c.u0 - su), std::fmin(srf->umax, u1 + su),
                         std::fmax(srf->vmin, c.v0 - sv), std::fmin(srf->vmax, v1 + sv)};
        // Across a kink the refinement would slide into the minimum on the other side, found
        // or searched from there: it keeps to the side of the cell's middle.
        if (b.clusteredU) KeepToTheSide(srf, true, c.u0 + 0.5 * su, &box[0], &box[1]);
        if (b.clusteredV) KeepToTheSide(srf, false, c.v0 + 0.5 * sv, &box[2], &box[3]);
        cu = std::fmin(std::fmax(cu, box[0]), box[1]);
        cv = std::fmin(std::fmax(cv, box[2]), box[3]);
        if (FindClosestUVPointWithin(srf, p, box, cq, &cu, &cv, &cd, &ce, 7) != 0) continue;
        // A foot on the side of the box is no minimum: the search goes on from there unbounded
        // where it is nearer, and is not kept as a searched foot where it is not.
        const bool inside = (cu > box[0] || box[0] == srf->umin) && (cu < box[1] || box[1] == srf->umax) &&
                            (cv > box[2] || box[2] == srf->vmin) && (cv < box[3] || box[3] == srf->vmax);
        if (std::fabs(cd) < std::fabs(*d)) {
          if (FindClosestUVPointGuessDist(srf, p, cq, &cu, &cv, &cd, &ce, 7) != 0) continue;
          take(cu, cv, cd, ce, cq);
        } else if (!inside) {
          continue;
        }
        keep(cu, cv);
        continue;
      }
      const double um = c.u0 + 0.5 * su, vm = c.v0 + 0.5 * sv;
      const double at[5][2] = {{um, c.v0}, {c.u0, vm}, {um, vm}, {u1, vm}, {um, v1}};
      double f[5], m[5][3];
      for (int k = 0; k < 5; ++k) {
        Eval3DPointOnSurfCoord(srf, at[k][0], at[k][1], 0, 0, m[k]);
        f[k] = distSq(m[k]);
      }
      for (int k = 0; k < 5; ++k)
        if (f[k] < best) {
          double cu = at[k][0], cv = at[k][1], cq[3], cd = kEmptyBoxBound, ce = 0.0;
          if (FindClosestUVPointGuessDist(srf, p, cq, &cu, &cv, &cd, &ce, 7) == 0 && take(cu, cv, cd, ce, cq))
            keep(cu, cv);
        }
      const double* corner[4][4] = {{c.s[0], m[0], m[1], m[2]}, {m[0], c.s[1], m[2], m[3]},
                                    {m[1], m[2], c.s[2], m[4]}, {m[2], m[3], m[4], c.s[3]}};
      const double fc[4][4] = {{c.f[0], f[0], f[1], f[2]}, {f[0], c.f[1], f[2], f[3]},
                               {f[1], f[2], c.f[2], f[4]}, {f[2], f[3], f[4], c.f[3]}};
      for (int h = 0; h < 4; ++h) {
        Cell& child = stack[depth++];
        child.u0 = h % 2 ? um : c.u0;
        child.v0 = h / 2 ? vm : c.v0;
        child.level = c.level + 1;
        for (int k = 0; k < 4; ++k) {
          child.f[k] = fc[h][k];
          for (int l = 0; l < 3; ++l) child.s[k][l] = corner[h][k][l];
        }
      }
    }
  };
  // The kinks each column (u) and row (v) of grid cells meets, as kinks() counts them, read once
  // from the knots rather than for every cell.
  int met[2][200] = {};  // GridSize is at most 200
  for (int dir = 0; dir < 2 && kinked; ++dir) {
    const bool alongU = dir == 0;
    if (!(alongU ? b.clusteredU : b.clusteredV)) continue;
    const int p = alongU ? srf->degreeU : srf->degreeV, n = alongU ? NumCtrlU(srf) : NumCtrlV(srf);
    const int cells = (alongU ? nu : nv) - 1;
    const double* t = alongU ? srf->knotsU : srf->knotsV;
    const double cluster = kKnotCluster * (t[n] - t[p]), lo = alongU ? srf->umin : srf->vmin, cell = alongU ? du : dv;
    for (int a = 1; a + 1 < n; ++a) {
      if (!(t[a + p] - t[a + 1] <= cluster)) continue;
      const int first = std::max(0, int(std::floor((t[a + 1] - lo) / cell)) - 1);
      const int last = std::min(cells - 1, int(std::floor((t[a + p] - lo) / cell)) + 1);
      for (int i = first; i <= last; ++i)
        if (t[a + p] >= lo + i * cell && t[a + 1] <= lo + i * cell + cell) ++met[dir][i];
    }
  }
  double rows[2][200];  // GridSize is at most 200
  auto fill = [&](int j, double* row) {
    for (int i = 0; i < nu; ++i) {
      const int k = j * nu + i;
      const double ex = x[k] - p[0], ey = y[k] - p[1], ez = z[k] - p[2];
      row[i] = ex * ex + ey * ey + ez * ez;
    }
  };
  fill(0, rows[0]);
  for (int j = 0; j + 1 < nv; ++j) {
    const double* lo = rows[j % 2];
    double* hi = rows[(j + 1) % 2];
    fill(j + 1, hi);
    for (int i = 0; i + 1 < nu; ++i) {
      const double least = std::min(std::min(lo[i], lo[i + 1]), std::min(hi[i], hi[i + 1]));
      if (!(least - slack0 < best) && !(kinked && least - slack0 - kinkSlack(met[0][i], met[1][j], du, dv) < best))
        continue;
      Cell top = {srf->umin + i * du, srf->vmin + j * dv, 0, {lo[i], lo[i + 1], hi[i], hi[i + 1]}, {}};
      const int k[4] = {j * nu + i, j * nu + i + 1, (j + 1) * nu + i, (j + 1) * nu + i + 1};
      for (int h = 0; h < 4; ++h) {
        top.s[h][0] = x[k[h]];
        top.s[h][1] = y[k[h]];
        top.s[h][2] = z[k[h]];
      }
      search(top);
    }
  }
  return 0;
}

// The refinement from (cu, cv) within box (as FindClosestUVPointWithin takes it) where it ends
// nearer than the foot (u, v, q, d, e), which it replaces; held on the box's side, it goes on from
// there unbounded, and that replaces the foot again where it is nearer still.
void RefineWithinThenOn(Bspline* srf, const double p[3], const double box[4], double cu, double cv, double* u,
                        double* v, double q[3], double* d, double* e) {
  double cq[3], cd = kEmptyBoxBound, ce = 0.0;
  auto take = [&]() {
    *u = cu;
    *v = cv;
    *d = cd;
    *e = ce;
    for (int k = 0; k < 3; ++k) q[k] = cq[k];
  };
  if (FindClosestUVPointWithin(srf, p, box, cq, &cu, &cv, &cd, &ce, 7) != 0 || !(std::fabs(cd) < std::fabs(*d)))
    return;
  take();
  if (FindClosestUVPointGuessDist(srf, p, cq, &cu, &cv, &cd, &ce, 7) == 0 && std::fabs(cd) < std::fabs(*d)) take();
}

// One parameter direction of a surface as the searches beside and along its kinks read it: the
// degree, control count and knots that way, its range, the width below which knots make one kink
// and the grid's cell (nu x nv samples).
struct KinkDirection {
  int deg, n;
  const double* t;
  double lo, hi, cluster, cell;
  KinkDirection(const Bspline* srf, bool alongU, int nu, int nv)
      : deg(alongU ? srf->degreeU : srf->degreeV),
        n(alongU ? NumCtrlU(srf) : NumCtrlV(srf)),
        t(alongU ? srf->knotsU : srf->knotsV),
        lo(alongU ? srf->umin : srf->vmin),
        hi(alongU ? srf->umax : srf->vmax),
        cluster(kKnotCluster * (t[n] - t[deg])),
        cell((hi - lo) / ((alongU ? nu : nv) - 1)) {}
};

// Beside a kink (an interior knot of multiplicity p, or a cluster of knots as NetBoundsAlong
// skips it) the distance may have a minimum on either side less than a grid cell apart, which
// the grid's models take for one: the refined foot (u, v, q, d, e) is refined again on the far
// side of each kink within a cell of it, from the kink, within two cells, and the nearer kept.
void AcrossNearKinks(Bspline* srf, const double p[3], int nu, int nv, double* u, double* v, double q[3], double* d,
                     double* e) {
  for (int dir = 0; dir < 2; ++dir) {
    const bool alongU = dir == 0;
    const auto [deg, n, t, lo, hi, cluster, cell] = KinkDirection(srf, alongU, nu, nv);
    const double acrossLo = alongU ? srf->vmin : srf->umin, acrossHi = alongU ? srf->vmax : srf->umax;
    const double acrossCell = (acrossHi - acrossLo) / ((alongU ? nv : nu) - 1);
    for (int a = 1; a + 1 < n; ++a) {
      const double c0 = t[a + 1], c1 = t[a + deg], foot = alongU ? *u : *v, other = alongU ? *v : *u;
      if (!(c1 - c0 <= cluster) || c0 <= lo || c1 >= hi || c1 < foot - cell || c0 > foot + cell) continue;
      if (foot > c0 && foot < c1) continue;  // on the kink
      const bool below = foot <= c0;
      double box[4];
      box[alongU ? 0 : 2] = below ? c1 : std::fmax(lo, c0 - 2.0 * cell);
      box[alongU ? 1 : 3] = below ? std::fmin(hi, c1 + 2.0 * cell) : c0;
      box[alongU ? 2 : 0] = std::fmax(acrossLo, other - 2.0 * acrossCell);
      box[alongU ? 3 : 1] = std::fmin(acrossHi, other + 2.0 * acrossCell);
      const double at = below ? c1 : c0;
      RefineWithinThenOn(srf, p, box, alongU ? at : other, alongU ? other : at, u, v, q, d, e);
    }
  }
}

// Sine of the angle between the legs of the net at a kink below which the surface turns no
// crease there (an exact quadric's arcs meet so, at a double knot of degree 2): far below any
// angle whose crest a grid cell could hide by more than round-off of the distance.
const double kTangentLegs = 1e-10;

// Whether the surface folds to a crease at the kink whose knots begin at index a + 1 (control
// point a interpolated there): in some row of the net across it, the legs from the control point
// before to it and on to the one after are not of one direction (a row with a leg of no length,
// as at a pole, is passed over).
bool CreaseAt(const Bspline* s, bool alongU, int a) {
  const int across = alongU ? NumCtrlV(s) : NumCtrlU(s);
  for (int c = 0; c < across; ++c) {
    double leg[2][3];
    for (int h = 0; h < 2; ++h) {
      const int j0 = alongU ? c : a - 1 + h, i0 = alongU ? a - 1 + h : c;
      const int j1 = alongU ? c : a + h, i1 = alongU ? a + h : c;
      leg[h][0] = s->X[j1][i1] - s->X[j0][i0];
      leg[h][1] = s->Y[j1][i1] - s->Y[j0][i0];
      leg[h][2] = s->Z[j1][i1] - s->Z[j0][i0];
    }
    const double l0 = VecSize3(leg[0]), l1 = VecSize3(leg[1]);
    if (l0 == 0.0 || l1 == 0.0) continue;  // a row collapsed to a pole tells no direction
    double n[3];
    VecCrossProd3(leg[0], leg[1], n);
    if (!(VecDotProd3(leg[0], leg[1]) > 0.0) || !(VecSize3(n) <= kTangentLegs * l0 * l1)) return true;
  }
  return false;
}

// Round-off of a refined foot's distance relative to the lengths it is made of (the surface's
// control-point diagonal, the foot's coordinates, the distance), as the refiner measures it.
const double kFootRoundOff = 64.0 * 2.220446049250313e-16;
// The most samples along a crease whose need is held (the grid's largest size).
const int kMostGridSize = 200;
// Golden-section steps along a crease from a sample: the stretch of two cells shrinks to 1e-7
// of it, the distance to round-off about a minimum.
const int kGoldenSteps = 34;

// Along a kink (an interior knot of multiplicity p, or a cluster of knots as NetBoundsAlong
// skips it) where the net's legs turn (CreaseAt) the surface folds to a crease, and the nearest
// point may lie on the crease itself: no critical point of the distance on either side, and
// between two grid lines, so neither the grid's minima nor their models show it (a point far off
// a ridge is nearest to its crest, or to an end of it on the boundary). So the kink's parameter
// line is sampled at the grid's values along (but where the box of the control points that make
// a span of it lies no nearer than the foot), and about every sample no farther than its
// neighbours whose distance, less the sag over a step to them, is below the foot's the least
// distance along the crease is sought within a cell either way; where that comes nearer than the
// foot by more than round-off, the foot is refined on either side of the kink from there, within
// two cells, and then unbounded where nearer; the nearest foot (u, v, q, d, e) is kept.
void AlongKinks(Bspline* srf, const double p[3], int nu, int nv, double* u, double* v, double q[3], double* d,
                double* e) {
  double roundOff = -1.0;  // of the foot's distance, once a crease asks it
  for (int dir = 0; dir < 2; ++dir) {
    const bool alongU = dir == 0;
    const auto [deg, n, t, lo, hi, cluster, cell] = KinkDirection(srf, alongU, nu, nv);
    const int count = alongU ? nv : nu;  // samples along the crease: the grid's across this direction
    const double olo = alongU ? srf->vmin : srf->umin, ohi = alongU ? srf->vmax : srf->umax;
    const double ocell = (ohi - olo) / (count - 1);
    double last = lo;  // the kink met last: a run of knots longer than p is one kink
    for (int a = 1; a + 1 < n; ++a) {
      const double c0 = t[a + 1], c1 = t[a + deg];
      if (!(c1 - c0 <= cluster) || c0 <= lo || c1 >= hi || c0 <= last) continue;
      last = c1;
      if (!CreaseAt(srf, alongU, a)) continue;
      // The crease's point at o is a convex combination of control points a + 1 - p .. a + 1 in
      // this direction and of the span's p + 1 across (weights positive): a sample whose own and
      // neighbours' spans all have the box of those points no nearer than the foot cannot lead
      // to a nearer point, and is not evaluated (its distance taken as beyond reach).
      const int first = std::max(0, a + 1 - deg), lastColumn = std::min(n - 1, a + 1);
      const int odeg = alongU ? srf->degreeV : srf->degreeU, on = alongU ? NumCtrlV(srf) : NumCtrlU(srf);
      const double* ot = alongU ? srf->knotsV : srf->knotsU;
      // The samples within a cell of a span whose box of those points comes nearer than the
      // foot (all of them when the weights are not all positive or there are too many samples).
      bool wanted[kMostGridSize];
      const bool pruned = count <= kMostGridSize;
      bool any = !pruned;
      for (int i = 0; pruned && i < count; ++i) wanted[i] = false;
      for (int span = odeg; pruned && span < on; ++span) {
        if (!(ot[span + 1] > ot[span])) continue;
        double lo3[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
        double hi3[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
        bool hull = true;
        for (int c = first; c <= lastColumn; ++c)
          for (int k = span - odeg; k <= span; ++k) {
            const int j = alongU ? k : c, i = alongU ? c : k;
            if (srf->W && !(srf->W[j][i] > 0.0)) hull = false;
            const double pt[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
            for (int m = 0; m < 3; ++m) {
              if (pt[m] < lo3[m]) lo3[m] = pt[m];
              if (pt[m] > hi3[m]) hi3[m] = pt[m];
            }
          }
        double gap2 = 0.0;
        for (int m = 0; m < 3; ++m) {
          const double gap = lo3[m] > p[m] ? lo3[m] - p[m] : (p[m] > hi3[m] ? p[m] - hi3[m] : 0.0);
          gap2 += gap * gap;
        }
        if (hull && !(std::sqrt(gap2) < std::fabs(*d))) continue;
        const int i0 = std::max(0, int(std::floor((ot[span] - olo) / ocell)) - 1);
        const int i1 = std::min(count - 1, int(std::ceil((ot[span + 1] - olo) / ocell)) + 1);
        for (int i = i0; i <= i1; ++i) wanted[i] = any = true;
      }
      if (!any) continue;
      double prev[4] = {0, 0, 0, 0}, own[4], next[4];
      auto at = [&](int i, double* sp) {
        if (pruned && !wanted[i]) {
          sp[0] = sp[1] = sp[2] = 0.0;
          sp[3] = kEmptyBoxBound;
          return;
        }
        const double o = std::fmin(olo + i * ocell, ohi);
        Eval3DPointOnSurfCoord(srf, alongU ? c0 : o, alongU ? o : c0, 0, 0, sp);
        sp[3] = VecDist3(sp, p);
      };
      at(0, own);
      if (count > 1) at(1, next);
      for (int i = 0; i < count; ++i) {
        double r = 0.0;
        bool least = true;
        if (i > 0 && prev[3] < kEmptyBoxBound) {
          least = !(prev[3] < own[3]);
          r = 0.5 * VecDist3(prev, own);
        }
        if (i + 1 < count && next[3] < kEmptyBoxBound) {
          least = least && !(next[3] < own[3]);
          r = std::fmax(r, 0.5 * VecDist3(next, own));
        }
        if (least && own[3] < kEmptyBoxBound && own[3] - CellSlack(r, own[3]) < std::fabs(*d)) {
          // The least distance along the crease within a cell either way (golden sections),
          // and the refinements (the dear part) only where the crease comes nearer than the foot.
          double a0 = std::fmax(olo, olo + (i - 1) * ocell), a1 = std::fmin(ohi, olo + (i + 1) * ocell);
          auto along = [&](double o) {
            double sp[3];
            Eval3DPointOnSurfCoord(srf, alongU ? c0 : o, alongU ? o : c0, 0, 0, sp);
            return VecDist3(sp, p);
          };
          const double g = 0.3819660112501051;
          double x0 = a0 + g * (a1 - a0), x1 = a1 - g * (a1 - a0), f0 = along(x0), f1 = along(x1);
          for (int it = 0; it < kGoldenSteps; ++it) {
            if (f0 <= f1) {
              a1 = x1, x1 = x0, f1 = f0;
              x0 = a0 + g * (a1 - a0), f0 = along(x0);
            } else {
              a0 = x0, x0 = x1, f0 = f1;
              x1 = a1 - g * (a1 - a0), f1 = along(x1);
            }
          }
          double o = f0 <= f1 ? x0 : x1, least2 = std::fmin(f0, f1);
          for (const double end : {std::fmax(olo, olo + (i - 1) * ocell), std::fmin(ohi, olo + (i + 1) * ocell)}) {
            const double fe = along(end);
            if (fe < least2) least2 = fe, o = end;
          }
          // On a faceted surface the foot itself often lies on a crease: only a crease point nearer
          // by more than the round-off of a foot's distance is another minimum.
          if (roundOff < 0.0) {
            double big = std::fabs(*d);
            for (int k = 0; k < 3; ++k) big = std::fmax(big, std::fabs(p[k]));
            roundOff = kFootRoundOff * (ControlPointDiagonal(srf) + big);
          }
          for (int side = 0; side < 2 && least2 < std::fabs(*d) - roundOff; ++side) {
            double box[4];
            box[alongU ? 0 : 2] = side == 0 ? std::fmax(lo, c0 - 2.0 * cell) : c1;
            box[alongU ? 1 : 3] = side == 0 ? c0 : std::fmin(hi, c1 + 2.0 * cell);
            box[alongU ? 2 : 0] = std::fmax(olo, o - 2.0 * ocell);
            box[alongU ? 3 : 1] = std::fmin(ohi, o + 2.0 * ocell);
            const double from = side == 0 ? c0 : c1;
            RefineWithinThenOn(srf, p, box, alongU ? from : o, alongU ? o : from, u, v, q, d, e);
          }
        }
        for (int k = 0; k < 4; ++k) prev[k] = own[k], own[k] = next[k];
        if (i + 2 < count) at(i + 2, next);
      }
    }
  }
}

// Where p + 1 knots of a direction lie within less than a grid cell (a cluster of them, a break
// spread over a short stretch) the surface goes from one piece to the next over a strip of
// parameters the grid may not sample at all: across it the surface can swing out to a wall or a
// spike, and its nearest point be a minimum that no grid model shows. So each such strip is
// sampled on its own, at its knots and the middles between them across and the grid's values
// along, and every sample no farther than its neighbours both ways whose distance, less the sag
// over a step to them, is below the foot's is refined within the strip and two cells along, then
// unbounded where nearer; the nearest foot (u, v, q, d, e) is kept.
void AlongNarrowStrips(Bspline* srf, const double p[3], int nu, int nv, double* u, double* v, double q[3],
                       double* d, double* e) {
  for (int dir = 0; dir < 2; ++dir) {
    const bool alongU = dir == 0;
    const int deg = alongU ? srf->degreeU : srf->degreeV, n = alongU ? NumCtrlU(srf) : NumCtrlV(srf);
    const double* t = alongU ? srf->knotsU : srf->knotsV;
    const double lo = alongU ? srf->umin : srf->vmin, hi = alongU ? srf->umax : srf->vmax;
    const double cell = (hi - lo) / ((alongU ? nu : nv) - 1);
    const int count = alongU ? nv : nu;  // samples along the strip: the grid's across this direction
    const double olo = alongU ? srf->vmin : srf->umin, ohi = alongU ? srf->vmax : srf->umax;
    const double ocell = (ohi - olo) / (count - 1);
    for (int a = 0; a <= n;) {
      if (!(t[a + deg] - t[a] < cell)) {
        ++a;
        continue;
      }
      // The strip: overlapping narrow runs joined; one as wide as a cell the grid samples.
      int b = a;
      while (b + 1 <= n && t[b + 1 + deg] - t[b + 1] < cell && t[b + 1] < t[b + deg]) ++b;
      const double s0 = t[a], s1 = t[b + deg];
      a = b + 1;
      if (!(s1 > s0) || !(s1 - s0 < cell)) continue;
      // Across: the distinct knots of the strip and the middles between them.
      double across[2 * kMostCandidates + 1];
      int m = 0;
      for (int k = 0; k < n + deg + 1 && m < 2 * kMostCandidates; ++k) {
        if (t[k] < s0 || t[k] > s1 || (m > 0 && t[k] == across[m - 1])) continue;
        if (m > 0) {
          const double middle = 0.5 * (across[m - 1] + t[k]);
          across[m++] = middle;
        }
        across[m++] = t[k];
      }
      // Rows of the strip's samples across it, three held at a time: row i at i % 3.
      double rows[3][2 * kMostCandidates + 1][4];  // the point and its distance
      auto fill = [&](int i) {
        const double o = std::fmin(olo + i * ocell, ohi);
        for (int k = 0; k < m; ++k) {
          double* sp = rows[i % 3][k];
          Eval3DPointOnSurfCoord(srf, alongU ? across[k] : o, alongU ? o : across[k], 0, 0, sp);
          const double ex = sp[0] - p[0], ey = sp[1] - p[1], ez = sp[2] - p[2];
          sp[3] = std::sqrt(ex * ex + ey * ey + ez * ez);
        }
      };
      auto half = [](const double* a, const double* b) {
        const double ex = a[0] - b[0], ey = a[1] - b[1], ez = a[2] - b[2];
        return 0.5 * std::sqrt(ex * ex + ey * ey + ez * ez);
      };
      fill(0);
      if (count > 1) fill(1);
      for (int i = 0; i < count; ++i) {
        if (i > 0 && i + 1 < count) fill(i + 1);
        for (int k = 0; k < m; ++k) {
          // A sample no farther than its neighbours along and across, with the sag over a step
          // to them (half the longer way to a neighbour each way).
          const double* own = rows[i % 3][k];
          double ra = 0.0, rc = 0.0;
          bool least = true;
          for (int j : {i - 1, i + 1}) {
            if (j < 0 || j >= count) continue;
            const double* nb = rows[j % 3][k];
            least = least && !(nb[3] < own[3]);
            ra = std::fmax(ra, half(own, nb));
          }
          for (int c : {k - 1, k + 1}) {
            if (c < 0 || c >= m) continue;
            const double* nb = rows[i % 3][c];
            least = least && !(nb[3] < own[3]);
            rc = std::fmax(rc, half(own, nb));
          }
          if (!least || !(own[3] - CellSlack(std::hypot(ra, rc), own[3]) < std::fabs(*d))) continue;
          // Refined within the strip and two cells either way along it.
          const double o = std::fmin(olo + i * ocell, ohi);
          double box[4];
          box[alongU ? 0 : 2] = s0;
          box[alongU ? 1 : 3] = s1;
          box[alongU ? 2 : 0] = std::fmax(olo, o - 2.0 * ocell);
          box[alongU ? 3 : 1] = std::fmin(ohi, o + 2.0 * ocell);
          RefineWithinThenOn(srf, p, box, alongU ? across[k] : o, alongU ? o : across[k], u, v, q, d, e);
        }
      }
    }
  }
}

// Weights of a rational surface spread wider than this (largest over least) can crowd most of
// the surface into a sliver of its parameters beside a heavy control point, which a uniform grid
// does not sample: the exact quadrics' weights differ by a factor of two at most, and random
// weights in [0.5, 2] by four.
const double kWideWeights = 100.0;
// A patch of the branch and bound below this share of the surface's size is refined from its
// middle; the halvings of a span, and the patches examined, at most per query (a point near a
// centre of curvature keeps many patches near the foot's distance; so do slivers of weights
// whose hulls shrink slowly).
const double kPatchLeafShare = 1e-2;
const int kPatchDepth = 48;
const int kMostPatches = 4000;

bool WeightsSpreadWide(const Bspline* srf) {
  if (!srf->rational || !srf->W) return false;
  double lo = INFINITY, hi = 0.0;
  for (int j = 0; j < NumCtrlV(srf); ++j)
    for (int i = 0; i < NumCtrlU(srf); ++i) {
      const double w = srf->W[j][i];
      if (!(w > 0.0)) return false;  // the hull property needs positive weights
      lo = std::fmin(lo, w), hi = std::fmax(hi, w);
    }
  return hi > kWideWeights * lo;
}

// Branch and bound over the Bezier patches of a rational surface with positive weights: a patch
// lies in the hull of its control points, so one whose hull is no nearer to P than the foot
// cannot hold a nearer point; any other is halved both ways (de Casteljau on the patch's
// homogeneous net) until it is below kPatchLeafShare of the size, then refined from its middle
// within it (RefineWithinThenOn), the nearest foot kept.
struct PatchSearch {
  Bspline* srf;
  const double* p;
  double size;
  double *u, *v, *q, *d, *e;
  int p1, q1;           // Bezier points per row (u) and per column (v)
  const double* net;    // the span's homogeneous net, v outer: ((j p1) + i) 4 + c
  double k0, k1, l0, l1;  // the span's parameters in u and v
  int examined = 0;

  // A lower bound on the distance from P over [a, b] x [c, dd] of the span, and the diagonal of
  // its control points' box: the box's gap, the slab beyond the nearest control point along the
  // direction from P to the corners' middle, and the nearest corner (a point of the surface)
  // less the diagonal.
  void Bound(double a, double b, double c, double dd, double* lower, double* diag) {
    const int pu = p1 - 1, pv = q1 - 1;
    double rows[kMaxSplineDegree + 1][kMaxSplineDegree + 1][4];  // [j][i]
    for (int j = 0; j <= pv; ++j) {
      double d4[kMaxSplineDegree + 1][4];
      BezierSubPiece(net + 4 * j * p1, pu, k0, k1, a, b, d4);
      for (int i = 0; i <= pu; ++i)
        for (int t = 0; t < 4; ++t) rows[j][i][t] = d4[i][t];
    }
    double pts[(kMaxSplineDegree + 1) * (kMaxSplineDegree + 1)][3];
    for (int i = 0; i <= pu; ++i) {
      double col[kMaxSplineDegree + 1][4], d4[kMaxSplineDegree + 1][4];
      for (int j = 0; j <= pv; ++j)
        for (int t = 0; t < 4; ++t) col[j][t] = rows[j][i][t];
      BezierSubPiece(&col[0][0], pv, l0, l1, c, dd, d4);
      for (int j = 0; j <= pv; ++j)
        for (int t = 0; t < 3; ++t) pts[j * p1 + i][t] = d4[j][t] / d4[j][3];
    }
    const int n = p1 * q1;
    double lo[3], hi[3], mid[3] = {0.0, 0.0, 0.0};
    for (int t = 0; t < 3; ++t) lo[t] = hi[t] = pts[0][t];
    for (int k = 1; k < n; ++k)
      for (int t = 0; t < 3; ++t) lo[t] = std::fmin(lo[t], pts[k][t]), hi[t] = std::fmax(hi[t], pts[k][t]);
    double gapSq = 0.0, diagSq = 0.0;
    for (int t = 0; t < 3; ++t) {
      const double g = std::fmax(0.0, std::fmax(lo[t] - p[t], p[t] - hi[t]));
      gapSq += g * g;
      diagSq += (hi[t] - lo[t]) * (hi[t] - lo[t]);
    }
    const int corners[4] = {0, pu, pv * p1, pv * p1 + pu};
    for (int k : corners)
      for (int t = 0; t < 3; ++t) mid[t] += 0.25 * (pts[k][t] - p[t]);
    const double len = VecSize3(mid);
    double slab = 0.0;
    if (len > 0.0) {
      slab = INFINITY;
      for (int k = 0; k < n; ++k) {
        const double r[3] = {pts[k][0] - p[0], pts[k][1] - p[1], pts[k][2] - p[2]};
        slab = std::fmin(slab, VecDotProd3(r, mid) / len);
      }
    }
    *diag = std::sqrt(diagSq);
    // The corners are points of the surface, and every point of the patch lies in the box.
    double corner = INFINITY;
    for (int k : corners)
      corner = std::fmin(corner, VecDist3(pts[k], p));
    *lower = std::fmax(std::fmax(std::sqrt(gapSq), slab), corner - *diag);
  }

  void Search(double a, double b, double c, double dd, double lower, double diag, int depth) {
    if (!(lower < std::fabs(*d)) || examined >= kMostPatches) return;
    const double um = 0.5 * (a + b), vm = 0.5 * (c + dd);
    if (diag <= kPatchLeafShare * size || depth >= kPatchDepth || !(um > a && um < b) || !(vm > c && vm < dd)) {
      const double box[4] = {a, b, c, dd};
      RefineWithinThenOn(srf, p, box, um, vm, u, v, q, d, e);
      return;
    }
    double kids[4][6] = {{a, um, c, vm}, {um, b, c, vm}, {a, um, vm, dd}, {um, b, vm, dd}};
    for (auto& kid : kids) {
      Bound(kid[0], kid[1], kid[2], kid[3], &kid[4], &kid[5]);
      ++examined;
    }
    // The nearest first: its foot prunes the others.
    int order[4] = {0, 1, 2, 3};
    std::sort(order, order + 4, [&kids](int x, int y) { return kids[x][4] < kids[y][4]; });
    for (int k : order) Search(kids[k][0], kids[k][1], kids[k][2], kids[k][3], kids[k][4], kids[k][5], depth + 1);
  }
};

// On a rational surface whose weights spread wide the grid's minima are no guide to where the
// surface comes nearest (see kWideWeights): the foot (u, v, q, d, e) is compared with a branch and
// bound over every Bezier patch within the domain, and the nearest kept.
void AcrossWideWeights(Bspline* srf, const double p[3], double* u, double* v, double q[3], double* d, double* e) {
  if (!WeightsSpreadWide(srf) || !(*d < kEmptyBoxBound)) return;
  const int pu = srf->degreeU, pv = srf->degreeV, nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  const double *ku = srf->knotsU, *kv = srf->knotsV;
  PatchSearch search{srf, p, ControlPointDiagonal(srf), u, v, q, d, e, pu + 1, pv + 1, nullptr, 0, 0, 0, 0};
  double net[(kMaxSplineDegree + 1) * (kMaxSplineDegree + 1)][4];
  for (int sv = pv; sv < nv; ++sv) {
    if (!(kv[sv] < kv[sv + 1]) || kv[sv + 1] <= srf->vmin || kv[sv] >= srf->vmax) continue;
    for (int su = pu; su < nu; ++su) {
      if (!(ku[su] < ku[su + 1]) || ku[su + 1] <= srf->umin || ku[su] >= srf->umax) continue;
      // Along u row by row, then along v column by column.
      double rows[kMaxSplineDegree + 1][kMaxSplineDegree + 1][4];  // [j][i]
      for (int j = 0; j <= pv; ++j) {
        const int r = sv - pv + j;
        for (int i = 0; i <= pu; ++i) {
          const int c = su - pu + i;
          const double w = srf->W[r][c];
          rows[j][i][0] = w * srf->X[r][c], rows[j][i][1] = w * srf->Y[r][c];
          rows[j][i][2] = w * srf->Z[r][c], rows[j][i][3] = w;
        }
        SpanBezierFromDeBoor(ku, su, pu, rows[j]);
      }
      for (int i = 0; i <= pu; ++i) {
        double col[kMaxSplineDegree + 1][4];
        for (int j = 0; j <= pv; ++j)
          for (int t = 0; t < 4; ++t) col[j][t] = rows[j][i][t];
        SpanBezierFromDeBoor(kv, sv, pv, col);
        for (int j = 0; j <= pv; ++j)
          for (int t = 0; t < 4; ++t) net[j * (pu + 1) + i][t] = col[j][t];
      }
      search.net = &net[0][0];
      search.k0 = ku[su], search.k1 = ku[su + 1], search.l0 = kv[sv], search.l1 = kv[sv + 1];
      const double a = std::fmax(ku[su], srf->umin), b = std::fmin(ku[su + 1], srf->umax);
      const double c = std::fmax(kv[sv], srf->vmin), dd = std::fmin(kv[sv + 1], srf->vmax);
      double lower, diag;
      search.Bound(a, b, c, dd, &lower, &diag);
      search.Search(a, b, c, dd, lower, diag, 0);
    }
  }
}

// The minima of the distance other than the refined foot (u, v, q, d, e) that SurfaceClosestPoint
// compares: the cells by the bound within about a cell of a surface that has it, else the grid's
// minima beside the foot and, where the foot may not be the least, over the whole grid.
int OtherMinima(Bspline* srf, const double p[3], double** gx, double** gy, double** gz, int nu, int nv, double* u,
                double* v, double q[3], double* d, double* e) {
  DerivativeBounds bounds;
  if (SearchTheCells(srf, nu, nv, *d, &bounds))
    return SearchCells(srf, p, *gx, *gy, *gz, nu, nv, bounds, u, v, q, d, e);
  // Two minima less than a cell apart may both round to the grid point the refinement started
  // from: the grid's minima beside the foot, but off the foot's own point, are compared always.
  const double fi = (*u - srf->umin) / ((srf->umax - srf->umin) / (nu - 1));
  const double fj = (*v - srf->vmin) / ((srf->vmax - srf->vmin) / (nv - 1));
  const int beside[4] = {int(std::floor(fi)) - 1, int(std::ceil(fi)) + 1, int(std::floor(fj)) - 1, int(std::ceil(fj)) + 1};
  if (CompareGridMinima(srf, p, *gx, *gy, *gz, nu, nv, u, v, q, d, e, kOffTheFootsPoint, beside) != 0)
    return KernelFailed() ? -1 : -2;
  const bool focal = NearAFocalPoint(srf, p, *u, *v, q);
  if (!focal && !MayHoldANearerMinimum(srf, p, *gx, *gy, *gz, nu, nv, *u, *v, std::fabs(*d))) return 0;
  const int whole[4] = {0, nu - 1, 0, nv - 1};
  return CompareGridMinima(srf, p, *gx, *gy, *gz, nu, nv, u, v, q, d, e, focal ? 0.0 : kOffTheFootsBasin, whole) == 0
             ? 0
             : (KernelFailed() ? -1 : -2);
}

// Beside a pole the distance cannot tell feet round it apart (see SurfaceBesidePole), and a
// foot the comparisons above took for a round-off less distance may be one held on the side of
// a box, off the true azimuth: the foot (u, v, q, d, e) is refined once more from where it is,
// unbounded, and taken where it ends no farther than round-off.
void RoundAPole(Bspline* srf, const double p[3], double* u, double* v, double q[3], double* d, double* e) {
  if (!(*d < kEmptyBoxBound) || !SurfaceBesidePole(srf, *u, *v)) return;
  double cu = *u, cv = *v, cq[3], cd = kEmptyBoxBound, ce = 0.0;
  if (FindClosestUVPointGuessDist(srf, p, cq, &cu, &cv, &cd, &ce, 7) != 0) return;
  double big = std::fabs(*d);
  for (int k = 0; k < 3; ++k) big = std::fmax(big, std::fabs(q[k]));
  if (!(std::fabs(cd) <= std::fabs(*d) + kFootRoundOff * (ControlPointDiagonal(srf) + big))) return;
  *u = cu;
  *v = cv;
  *d = cd;
  *e = ce;
  for (int k = 0; k < 3; ++k) q[k] = cq[k];
}

}  // namespace

int SurfaceClosestFromGrid(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                           double* d, double** gx, double** gy, double** gz, double* e, int interiorOnly) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  if (!AllFinite(p, 3)) return -2;
  if (SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly) != 0) return -2;
  // Unset by a refiner that refuses the surface: then no other minimum is compared.
  *d = kEmptyBoxBound;
  FindClosestUVPointGuessDist(srf, p, q, u, v, d, e, 7);
  const int nu = GridSize(srf->interiorU), nv = GridSize(srf->interiorV), whole[4] = {0, nu - 1, 0, nv - 1};
  if (*d < kEmptyBoxBound) AcrossNearKinks(srf, p, nu, nv, u, v, q, d, e);
  DerivativeBounds bounds;
  const int rc = SearchTheCells(srf, nu, nv, *d, &bounds)
                     ? SearchCells(srf, p, *gx, *gy, *gz, nu, nv, bounds, u, v, q, d, e)
                     : CompareGridMinima(srf, p, *gx, *gy, *gz, nu, nv, u, v, q, d, e, 0.0, whole);
  if (rc == 0 && *d < kEmptyBoxBound) AlongNarrowStrips(srf, p, nu, nv, u, v, q, d, e);
  if (rc == 0 && *d < kEmptyBoxBound) AlongKinks(srf, p, nu, nv, u, v, q, d, e);
  if (rc == 0) AcrossWideWeights(srf, p, u, v, q, d, e);
  if (rc == 0) RoundAPole(srf, p, u, v, q, d, e);
  return rc;
}

int SurfaceGridClosest(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                       double q[3], double* u, double* v, int interiorOnly) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  if (!AllFinite(p, 3)) return -2;
  const int nu = GridSize(srf->interiorU), nv = GridSize(srf->interiorV);
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  if (!*gx && FillGrid(srf, nu, nv, gx, gy, gz) != 0) return -2;
  const double *x = *gx, *y = *gy, *z = *gz;
  const int skip = interiorOnly ? 1 : 0;
  double best = kEmptyBoxBound, bu = srf->umin, bv = srf->vmin;
  double vv = srf->vmin + skip * dv;
  for (int j = skip; j < nv - skip; ++j, vv += dv) {
    const double vHeld = vv < srf->vmax ? vv : srf->vmax;
    double uu = srf->umin + skip * du;
    const double* rx = x + j * nu;
    const double* ry = y + j * nu;
    const double* rz = z + j * nu;
    for (int i = skip; i < nu - skip; ++i, uu += du) {
      const double ex = rx[i] - p[0], ey = ry[i] - p[1], ez = rz[i] - p[2];
      const double d2 = ex * ex + ey * ey + ez * ez;
      if (d2 < best) {  // the first minimum in scan order wins
        best = d2;
        bu = uu < srf->umax ? uu : srf->umax;
        bv = vHeld;
      }
    }
  }
  // A point so far away that every squared distance overflows has no nearest grid point.
  if (!(best < kEmptyBoxBound)) return -2;
  *u = bu;
  *v = bv;
  Eval3DPointOnSurfCoord(srf, bu, bv, 0, 0, q);
  return 0;
}

void FreeSurfaceGrid(double** gx, double** gy, double** gz) {
  Free(*gx);
  Free(*gy);
  Free(*gz);
  *gx = *gy = *gz = nullptr;
}

int SurfaceClosestPoint(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                        double* d, double** gx, double** gy, double** gz, double* e) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  // A point that is not finite has no closest point; the cache stays as it is. (One so far
  // away that every squared distance overflows fails in the estimate.)
  if (!AllFinite(p, 3)) return -2;
  // The seam rows of a closed surface repeat points; matching them would start the refinement
  // on the wrong side of the seam.
  const int interiorOnly = srf->closedU || srf->closedV;
  if (SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly) != 0) {
    FreeSurfaceGrid(gx, gy, gz);
    return KernelFailed() ? -1 : -2;
  }
  const int nu = GridSize(srf->interiorU), nv = GridSize(srf->interiorV);
  if (FindClosestUVPointGuessDist(srf, p, q, u, v, d, e, 7) != 0) return 0;
  AcrossNearKinks(srf, p, nu, nv, u, v, q, d, e);
  const int rc = OtherMinima(srf, p, gx, gy, gz, nu, nv, u, v, q, d, e);
  if (rc == 0) AlongNarrowStrips(srf, p, nu, nv, u, v, q, d, e);
  if (rc == 0) AlongKinks(srf, p, nu, nv, u, v, q, d, e);
  if (rc == 0) AcrossWideWeights(srf, p, u, v, q, d, e);
  if (rc == 0) RoundAPole(srf, p, u, v, q, d, e);
  return rc;
}

SurfaceGridCache::~SurfaceGridCache() { FreeSurfaceGrid(&x, &y, &z); }

int SurfaceGridCache::Closest(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                              double* d, double* e) {
  return SurfaceClosestPoint(srf, p, u, v, q, d, &x, &y, &z, e);
}
