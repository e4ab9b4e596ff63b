#include "surface/srfutils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

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

void GetSrfParExtentOfCrvOnSrf(Bspline* curve, double* umin, double* vmin, double* umax,
                               double* vmax) {
  *umin = *vmin = kEmptyBoxBound;
  *umax = *vmax = -kEmptyBoxBound;
  for (int i = 0; i < NumCtrlU(curve); ++i) {
    *umin = std::min(*umin, curve->X[0][i]);
    *umax = std::max(*umax, curve->X[0][i]);
    *vmin = std::min(*vmin, curve->Y[0][i]);
    *vmax = std::max(*vmax, curve->Y[0][i]);
  }
}

void GetParametricExtent(Bspline* obj, double* umin, double* umax, double* vmin, double* vmax) {
  if (obj->kind == 1) {
    *umin = obj->umin;
    *umax = obj->umax;
    return;
  }
  if (obj->kind != 2) return;
  *umin = obj->umin;
  *umax = obj->umax;
  *vmin = obj->vmin;
  *vmax = obj->vmax;
  bool outer = false;
  for (const TrimList* loop = obj->trims; loop; loop = loop->next) outer |= loop->hole == 0;
  if (!outer) return;
  // Holes never widen what the outer loops bound, so only the outer loops are read.
  double u0 = kEmptyBoxBound, u1 = -kEmptyBoxBound, v0 = kEmptyBoxBound, v1 = -kEmptyBoxBound;
  for (const TrimList* loop = obj->trims; loop; loop = loop->next) {
    if (loop->hole != 0) continue;
    for (const BsplineList* node = loop->loopCurves; node; node = node->next) {
      if (!node->item) continue;
      double a, b, c, d;
      GetSrfParExtentOfCrvOnSrf(node->item, &a, &b, &c, &d);
      u0 = std::min(u0, a);
      v0 = std::min(v0, b);
      u1 = std::max(u1, c);
      v1 = std::max(v1, d);
    }
  }
  *umin = std::max(u0, obj->umin);
  *umax = std::min(u1, obj->umax);
  *vmin = std::max(v0, obj->vmin);
  *vmax = std::min(v1, obj->vmax);
}

int GetCleanKnotsFromKnots(const double* knots, int total, int order, int* mult, double* vals,
                           double tol) {
  const int d = order - 1;
  int n = 0;
  for (int i = 0; i < d; ++i) vals[n++] = knots[i];
  // The window runs from the last copy of the start knot to the knot before the last; the
  // scan stops once only the end run is left in it.
  const double* w = knots + d;
  const int len = total - order;
  int m = 0;
  for (int i = 0; i < total - 2 * d && i < len;) {
    int run = FindMultOfValInArray(w, len, w[i], i, len - i, 1, tol);
    if (run < 1) run = 1;
    vals[n++] = w[i];
    mult[m] = m == 0 ? d + run : run;
    ++m;
    i += run;
  }
  const double end = knots[total - order];
  if (n > d && std::fabs(vals[n - 1] - end) <= tol) vals[n - 1] = end;
  for (int i = 0; i < d; ++i) vals[n++] = end;
  return n;
}

int GetCleanKnots(Bspline* obj, int dir, int** mult, double** vals, double factor) {
  *mult = nullptr;
  *vals = nullptr;
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int total = (inV ? obj->interiorV : obj->interiorU) + 2 * (p + 1);
  const double tol = factor * (inV ? obj->vmax - obj->vmin : obj->umax - obj->umin);
  TrackingScope scope;
  int* m = MallocArray<int>(total);
  double* v = MallocArray<double>(total);
  if (!m || !v || KernelFailed()) return -2;
  scope.keep();
  *mult = m;
  *vals = v;
  return GetCleanKnotsFromKnots(inV ? obj->knotsV : obj->knotsU, total, p + 1, m, v, tol);
}

namespace {

// The span of the normalised parameter s in direction dir: its bounding knots, the parameter
// and the direction's start and range.
struct KnotSpan {
  double t, lo, hi, min, range;
};

KnotSpan SpanOf(const Bspline* obj, int dir, double s) {
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int nCtrl = inV ? NumCtrlV(obj) : NumCtrlU(obj);
  const double* k = inV ? obj->knotsV : obj->knotsU;
  KnotSpan out;
  out.min = inV ? obj->vmin : obj->umin;
  out.range = (inV ? obj->vmax : obj->umax) - out.min;
  out.t = out.min + s * out.range;
  int span = p;
  FindLowKnotIndex(k, p, out.t, &span, nCtrl);
  out.lo = k[span];
  out.hi = k[span + 1];
  return out;
}

}  // namespace

double FindNearestKnot(Bspline* obj, int dir, double s) {
  const KnotSpan k = SpanOf(obj, dir, s);
  const double knot = k.t - k.lo < k.hi - k.t ? k.lo : k.hi;
  return (knot - k.min) / k.range;
}

double FindNextKnot(Bspline* obj, int dir, double s, double r) {
  const KnotSpan k = SpanOf(obj, dir, s);
  std::printf("\n par %lf", k.t);
  std::printf("\n lowKnotVal before %lf", k.lo);
  std::printf("\n highKnotVal before %lf", k.hi);
  if (r - k.t <= 0.0) {
    const double out = (k.hi - k.min) / k.range;
    std::printf("\n highKnotVal %lf", out);
    return out;
  }
  const double out = (k.lo - k.min) / k.range;
  std::printf("\n lowKnotVal %lf", out);
  return out;
}
