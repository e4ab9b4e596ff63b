#include "bspline/srfgrid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
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

// Refines every stretch of the grid that could hold a point nearer than the refined foot (u, v,
// q, d, e) and keeps the nearest. Near a centre of curvature, or between two bulges, the
// distance has several shallow minima, and the refinement from the nearest grid point may end
// in one that is not the least; in a flat valley the grid's nearest point need not even lie in
// the least one's basin. So the distance about each grid point is modelled by the quadratic
// through its 3 x 3 neighbourhood: where that has a minimum within a cell of the point and below
// the foot's distance, the surface is refined within two cells of it. The least distance may
// also lie on an edge of the domain (or a corner), where the distance still falls outwards: a
// point of an edge that is open (not a closed seam) no farther than its neighbours along the
// edge and inwards is modelled by the parabola along the edge (a corner by its own distance).
int CompareGridMinima(Bspline* srf, const double p[3], const double* x, const double* y, const double* z,
                      int nu, int nv, double* u, double* v, double q[3], double* d, double* e) {
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  TrackingScope scope;
  double* dist = MallocArray<double>(nu, nv);
  if (!dist || KernelFailed()) return -2;
  for (int k = 0; k < nu * nv; ++k) {
    const double ex = x[k] - p[0], ey = y[k] - p[1], ez = z[k] - p[2];
    dist[k] = std::sqrt(ex * ex + ey * ey + ez * ez);
  }
  double key[kMostCandidates], at[kMostCandidates][2];
  int count = 0;
  // Keeps the most promising candidates, nearest predicted first.
  auto offer = [&](double predicted, double cu, double cv) {
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
    const int inward = side % 2 ? -1 : 1;
    auto index = [&](int t, int depth) {
      return alongU ? (fixed + inward * depth) * nu + t : t * nu + fixed + inward * depth;
    };
    for (int t = 0; t < n; ++t) {
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
      offer(predicted, alongU ? along : across, alongU ? across : along);
    }
  }
  for (int j = 1; j + 1 < nv; ++j)
    for (int i = 1; i + 1 < nu; ++i) {
      const double* D = dist + j * nu + i;  // D[b * nu + a]: a along u, b along v
      const double gu = 0.5 * (D[1] - D[-1]), gv = 0.5 * (D[nu] - D[-nu]);
      const double huu = D[1] - 2.0 * D[0] + D[-1], hvv = D[nu] - 2.0 * D[0] + D[-nu];
      const double huv = 0.25 * (D[nu + 1] - D[nu - 1] - D[-nu + 1] + D[-nu - 1]);
      const double det = huu * hvv - huv * huv;
      if (!(huu > 0.0 && det > 0.0)) continue;
      const double su = -(hvv * gu - huv * gv) / det, sv = -(huu * gv - huv * gu) / det;
      if (!(std::fabs(su) <= 1.0 && std::fabs(sv) <= 1.0)) continue;
      offer(D[0] + 0.5 * (gu * su + gv * sv), srf->umin + (i + su) * du, srf->vmin + (j + sv) * dv);
    }
  for (int c = 0; c < count; ++c) {
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

// Whether grid point (i, j) is no farther from p than its (up to eight) neighbours stride points
// away: only there
// can the distance have a minimum of its own; a point of the foot's basin has a nearer neighbour.
bool LocalGridMinimum(const double p[3], const double* x, const double* y, const double* z, int nu, int nv,
                      int i, int j, int stride) {
  auto distSq = [&](int k) {
    const double ex = x[k] - p[0], ey = y[k] - p[1], ez = z[k] - p[2];
    return ex * ex + ey * ey + ez * ez;
  };
  const double own = distSq(j * nu + i);
  for (int b = std::max(0, j - stride); b <= std::min(nv - 1, j + stride); b += stride)
    for (int a = std::max(0, i - stride); a <= std::min(nu - 1, i + stride); a += stride)
      if (distSq(b * nu + a) < own) return false;
  return true;
}

// Whether a grid point away from the foot (u, v) at distance dist, a local minimum of the grid's
// distances, is nearly as near as the foot:
// then another stretch of the surface may hold a nearer minimum than the one refined (a point
// over a fold, or between two valleys, whose nearest grid point lay in the other one's basin).
// About a minimum the distance rises as the square of the step over the distance in the tangent
// plane, so a grid point within a cell of a nearer minimum is at most about r^2 / dist farther,
// r half a cell's diagonal (never more than r); margins of 2 and 4 cover cells of uneven size and
// a surface bending away. The grid points within two cells of the foot (across a closed seam
// too) are the foot's own basin.
bool AnotherGridPointAsNear(const Bspline* srf, const double p[3], const double* x, const double* y,
                            const double* z, int nu, int nv, double u, double v, double dist) {
  const double du = (srf->umax - srf->umin) / (nu - 1), dv = (srf->vmax - srf->vmin) / (nv - 1);
  const int i0 = std::lround(std::fmin(std::fmax((u - srf->umin) / du, 0.0), nu - 1.0));
  const int j0 = std::lround(std::fmin(std::fmax((v - srf->vmin) / dv, 0.0), nv - 1.0));
  auto at = [nu](int i, int j) { return j * nu + i; };
  const int ia = i0 > 0 ? i0 - 1 : 0, ib = i0 + 1 < nu ? i0 + 1 : nu - 1;
  const int ja = j0 > 0 ? j0 - 1 : 0, jb = j0 + 1 < nv ? j0 + 1 : nv - 1;
  auto distSq = [&](int a, int b) {
    const double ex = x[a] - x[b], ey = y[a] - y[b], ez = z[a] - z[b];
    return ex * ex + ey * ey + ez * ez;
  };
  // Half a cell's diagonal, from the diagonals of the (up to) two by two cells about the foot.
  const double span = std::max(1, std::max(ib - ia, jb - ja));
  const double r = 0.5 * std::sqrt(std::fmax(distSq(at(ia, ja), at(ib, jb)), distSq(at(ib, ja), at(ia, jb)))) / span;
  // Every other point of the grid is read (a quarter of the cost): cells twice as wide.
  const int stride = 2;
  const double wide = stride * r;
  const double margin = dist > 0.0 ? std::fmin(2.0 * wide, 4.0 * wide * wide / dist) : 2.0 * wide;
  const double limitSq = (dist + margin) * (dist + margin);
  for (int j = 0; j < nv; j += stride) {
    int dj = std::abs(j - j0);
    if (srf->closedV) dj = std::min(dj, nv - 1 - dj);
    const double* rx = x + j * nu;
    const double* ry = y + j * nu;
    const double* rz = z + j * nu;
    for (int i = 0; i < nu; i += stride) {
      const double ex = rx[i] - p[0], ey = ry[i] - p[1], ez = rz[i] - p[2];
      if (!(ex * ex + ey * ey + ez * ez < limitSq)) continue;
      int di = std::abs(i - i0);
      if (srf->closedU) di = std::min(di, nu - 1 - di);
      if ((di > 2 * stride || dj > 2 * stride) && LocalGridMinimum(p, x, y, z, nu, nv, i, j, stride)) return true;
    }
  }
  return false;
}

}  // namespace

int SurfaceClosestFromGrid(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                           double* d, double** gx, double** gy, double** gz, double* e, int interiorOnly) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
  if (SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly) != 0) return -2;
  // Unset by a refiner that refuses the surface: then no other minimum is compared.
  *d = kEmptyBoxBound;
  FindClosestUVPointGuessDist(srf, p, q, u, v, d, e, 7);
  return CompareGridMinima(srf, p, *gx, *gy, *gz, GridSize(srf->interiorU), GridSize(srf->interiorV), u, v, q, d, e);
}

int SurfaceGridClosest(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                       double q[3], double* u, double* v, int interiorOnly) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return -2;
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
  // The seam rows of a closed surface repeat points; matching them would start the refinement
  // on the wrong side of the seam.
  const int interiorOnly = srf->closedU || srf->closedV;
  if (SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly) != 0) {
    FreeSurfaceGrid(gx, gy, gz);
    return KernelFailed() ? -1 : -2;
  }
  const int nu = GridSize(srf->interiorU), nv = GridSize(srf->interiorV);
  if (FindClosestUVPointGuessDist(srf, p, q, u, v, d, e, 7) == 0 &&
      (NearAFocalPoint(srf, p, *u, *v, q) || AnotherGridPointAsNear(srf, p, *gx, *gy, *gz, nu, nv, *u, *v, std::fabs(*d))))
    return CompareGridMinima(srf, p, *gx, *gy, *gz, nu, nv, u, v, q, d, e) == 0
               ? 0
               : (KernelFailed() ? -1 : -2);
  return 0;
}

SurfaceGridCache::~SurfaceGridCache() { FreeSurfaceGrid(&x, &y, &z); }

int SurfaceGridCache::Closest(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                              double* d, double* e) {
  return SurfaceClosestPoint(srf, p, u, v, q, d, &x, &y, &z, e);
}
