#include "surface/srfpick.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "bspline/srfgrid.h"
#include "curve/crvfoot.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

int EstimateClosestPntSurf(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                           double q[3], double* u, double* v, int interiorOnly) {
  return SurfaceGridClosest(srf, p, gx, gy, gz, q, u, v, interiorOnly);
}

int GetClosestPointOnSurfaceResult(Bspline* srf, const double p[3], double* u, double* v,
                                   double q[3], double* d, double** gx, double** gy, double** gz,
                                   double* e) {
  return SurfaceClosestPoint(srf, p, u, v, q, d, gx, gy, gz, e);
}

int FindClosestPointOnBspline(Bspline* obj, double x, double y, double z, double out[3]) {
  const double P[3] = {x, y, z};
  double C[3];
  if (!obj || !AllFinite({x, y, z})) return 0;
  if (obj->kind == 1) {
    if (!BsplineSound(obj)) return 0;
    if (obj->dimension == 2 && !BsplineSound(obj->owner)) return 0;
    double t;
    if (GlobalClosestOnCurve(obj, P, &t, C) != 0) return 0;
  } else {
    double *gx = nullptr, *gy = nullptr, *gz = nullptr, u, v, d, e;
    const int r = SurfaceClosestFromGrid(obj, P, &u, &v, C, &d, &gx, &gy, &gz, &e, 0);
    FreeSurfaceGrid(&gx, &gy, &gz);
    if (r != 0) return 0;
  }
  out[0] = C[0];
  out[1] = C[1];
  out[2] = C[2];
  return 1;
}
