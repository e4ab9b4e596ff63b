#include "surface/srfnorm.h"

#include "bspline/ctrlnubs.h"
#include "foundation/helper.h"

void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n) {
  static const int du[2] = {1, 0};
  static const int dv[2] = {0, 1};
  for (int i = 0; i < n; ++i) {
    double partials[2][3] = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    EvalPointOnGeometryM(srf, u[i], v[i], du, dv, 2, 0, partials);
    ComputeSurfaceNormal(srf, u[i], v[i], partials[0], partials[1], normals[i]);
  }
}
