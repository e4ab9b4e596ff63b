#include "intersect/curvatur.h"

#include "splinefit/sconvert.h"

// The grid fit's sample weights need these values below this floor; the work lives there.
void ComputeCurvatureGivenArrays(const Bspline* srf, double* out, const double* u, const double* v,
                                 int nu, int nv, int kind) {
  CurvatureOnParameterGrid(srf, out, u, v, nu, nv, kind);
}
