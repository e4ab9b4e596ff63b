#include "surface/srfnorm.h"

#include "bspline/helper.h"

void ComputeSurfNormalNPnts(Bspline* srf, const double* u, const double* v, double (*normals)[3],
                            int n) {
  SurfaceNormalsAt(srf, u, v, normals, n);
}
