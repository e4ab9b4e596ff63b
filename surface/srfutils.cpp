#include "surface/srfutils.h"

#include <cmath>

#include "bspline/nubs.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

int GetCurveOnSurfMinMaxSurfParams(Bspline* curve, double* umin, double* umax, double* vmin,
                                   double* vmax) {
  double lu = kEmptyBoxBound, hu = -kEmptyBoxBound;
  double lv = kEmptyBoxBound, hv = -kEmptyBoxBound;
  auto take = [&](double t) {
    double p[2];
    Eval2DPointOnCurve2Array(nullptr, curve, t, 0, p);
    if (p[0] < lu) lu = p[0];
    if (p[0] > hu) hu = p[0];
    if (p[1] < lv) lv = p[1];
    if (p[1] > hv) hv = p[1];
  };
  const double* k = curve->knotsU;
  const int p = curve->degreeU;
  // Five samples per span from its start, then the domain end: 5 x interior + 6 parameters.
  for (int s = p; s <= p + curve->interiorU; ++s)
    for (int j = 0; j < 5; ++j) take(k[s] + 0.2 * j * (k[s + 1] - k[s]));
  take(k[p + curve->interiorU + 1]);
  *umin = lu;
  *umax = hu;
  *vmin = lv;
  *vmax = hv;
  return 0;
}

void GetCPTValueExtent(Bspline* obj, double* xmin, double* xmax, double* ymin, double* ymax,
                       double* zmin, double* zmax) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  auto take = [&](const double q[3]) {
    for (int c = 0; c < 3; ++c) {
      if (q[c] < lo[c]) lo[c] = q[c];
      if (q[c] > hi[c]) hi[c] = q[c];
    }
  };
  const int n = NumCtrlU(obj) * (obj->kind == 2 ? NumCtrlV(obj) : 1);
  const double* X = obj->X[0];
  const double* Y = obj->Y[0];
  if (obj->dimension == 2) {
    for (int i = 0; i < n; ++i) {
      double q[3] = {X[i], Y[i], 0.0};
      // Control points read as (u, v) are mapped onto the owner, as a point of the curve would be.
      if (obj->owner) Eval3DPointOnSurfArray(obj->owner, X[i], Y[i], 0, 0, q);
      take(q);
    }
  } else {
    const double* Z = obj->Z[0];
    for (int i = 0; i < n; ++i) {
      const double q[3] = {X[i], Y[i], Z[i]};
      take(q);
    }
  }
  *xmin = lo[0];
  *xmax = hi[0];
  *ymin = lo[1];
  *ymax = hi[1];
  *zmin = lo[2];
  *zmax = hi[2];
}

double GetGeometricDiagonalSizeOfObj(Bspline* obj) {
  double x0, x1, y0, y1, z0, z1;
  GetCPTValueExtent(obj, &x0, &x1, &y0, &y1, &z0, &z1);
  const double dx = x1 - x0, dy = y1 - y0, dz = z1 - z0;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

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
  double* out = static_cast<double*>(Malloc(sizeof(double) * n));
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  FindParamValuesOfCoefiFromKnots(inV ? obj->knotsV : obj->knotsU, n, p, out);
  return out;
}
