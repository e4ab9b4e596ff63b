#include "surface/srfpick.h"

#include <initializer_list>

#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/srfgrid.h"
#include "curve/crvutil.h"
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
  if (obj->kind == 1) {
    double t, distSq, stepSq;
    int r;
    {
      CurveSampleCache cache;
      r = cache.Estimate(obj, P, &t);
    }
    if (r != 0) return 0;
    r = obj->dimension == 2
            ? FindClosestPointCurveOnSurf(obj, P, C, obj->umin, obj->umax, &t, &distSq, &stepSq, 7)
            : FindClosestPointCurve3(obj, P, C, obj->umin, obj->umax, &t, &distSq, &stepSq, 7);
    if (r == -2) return 0;
  } else {
    double *gx = nullptr, *gy = nullptr, *gz = nullptr, u, v, d, e;
    const int r = EstimateClosestPntSurf(obj, P, &gx, &gy, &gz, C, &u, &v, 0);
    if (r == 0) FindClosestUVPointGuessDist(obj, P, C, &u, &v, &d, &e, 7);
    FreeSurfaceGrid(&gx, &gy, &gz);
    if (r != 0) return 0;
  }
  out[0] = C[0];
  out[1] = C[1];
  out[2] = C[2];
  return 1;
}
