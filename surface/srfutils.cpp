#include "surface/srfutils.h"

#include "bspline/measure.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

int GetCurveOnSurfMinMaxSurfParams(Bspline* curve, double* umin, double* umax, double* vmin,
                                   double* vmax) {
  CurveOnSurfParamBox(curve, umin, umax, vmin, vmax);
  return 0;
}

void GetCPTValueExtent(Bspline* obj, double* xmin, double* xmax, double* ymin, double* ymax,
                       double* zmin, double* zmax) {
  double lo[3], hi[3];
  ControlPointBox(obj, lo, hi);
  *xmin = lo[0];
  *xmax = hi[0];
  *ymin = lo[1];
  *ymax = hi[1];
  *zmin = lo[2];
  *zmax = hi[2];
}

double GetGeometricDiagonalSizeOfObj(Bspline* obj) { return ControlPointDiagonal(obj); }

void FindParamValuesOfCoefiFromKnots(const double* knots, int n, int degree, double* out) {
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int k = 1; k <= degree; ++k) s += knots[i + k];
    out[i] = s / degree;
  }
  // The ends exactly on the domain ends, free of the rounding of the sums.
  out[0] = knots[degree];
  out[n - 1] = knots[n];
}

double* FindParamValuesOfCoefi(Bspline* obj, int dir) {
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int n = p + (inV ? obj->interiorV : obj->interiorU) + 1;
  double* out = MallocArray<double>(n);
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  FindParamValuesOfCoefiFromKnots(inV ? obj->knotsV : obj->knotsU, n, p, out);
  return out;
}
