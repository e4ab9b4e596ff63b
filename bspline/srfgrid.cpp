#include "bspline/srfgrid.h"

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

}  // namespace

int SurfaceGridClosest(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                       double q[3], double* u, double* v, int interiorOnly) {
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
  if (!srf) return -2;
  // The seam rows of a closed surface repeat points; matching them would start the refinement
  // on the wrong side of the seam.
  const int interiorOnly = srf->closedU || srf->closedV;
  if (SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly) != 0) {
    FreeSurfaceGrid(gx, gy, gz);
    return KernelFailed() ? -1 : -2;
  }
  FindClosestUVPointGuessDist(srf, p, q, u, v, d, e, 7);
  return 0;
}

SurfaceGridCache::~SurfaceGridCache() { FreeSurfaceGrid(&x, &y, &z); }

int SurfaceGridCache::Closest(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                              double* d, double* e) {
  return SurfaceClosestPoint(srf, p, u, v, q, d, &x, &y, &z, e);
}
