#include "bspline/measure.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "foundation/vec3.h"

void CurveOnSurfParamBox(const Bspline* curve, double* umin, double* umax, double* vmin,
                         double* vmax) {
  if (!RecordShapesSound({curve})) return;
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
}

void ControlPointBox(const Bspline* obj, double lo[3], double hi[3]) {
  for (int c = 0; c < 3; ++c) {
    lo[c] = kEmptyBoxBound;
    hi[c] = -kEmptyBoxBound;
  }
  if (!RecordShapesSound({obj})) return;
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
    // This box sizes the tolerances of every closest-point query, so it is on their path: a
    // pass per coordinate with four running minima and maxima, free of branches and of one
    // long chain of dependent comparisons.
    const double* coords[3] = {X, Y, obj->Z[0]};
    for (int c = 0; c < 3; ++c) {
      const double* q = coords[c];
      double a[4] = {lo[c], lo[c], lo[c], lo[c]}, b[4] = {hi[c], hi[c], hi[c], hi[c]};
      int i = 0;
      for (; i + 3 < n; i += 4)
        for (int k = 0; k < 4; ++k) {
          a[k] = std::min(a[k], q[i + k]);
          b[k] = std::max(b[k], q[i + k]);
        }
      for (; i < n; ++i) {
        a[0] = std::min(a[0], q[i]);
        b[0] = std::max(b[0], q[i]);
      }
      lo[c] = std::min(std::min(a[0], a[1]), std::min(a[2], a[3]));
      hi[c] = std::max(std::max(b[0], b[1]), std::max(b[2], b[3]));
    }
  }
}

double ControlPointDiagonal(const Bspline* obj) {
  double lo[3], hi[3];
  ControlPointBox(obj, lo, hi);
  if (!(lo[0] <= hi[0])) return 0.0;
  const double dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double ControlPointSetDiagonal(Bspline* const* objs, int n) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound};
  double hi[3] = {-kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; objs && i < n; ++i) {
    if (!objs[i]) continue;
    double a[3], b[3];
    ControlPointBox(objs[i], a, b);
    for (int k = 0; k < 3; ++k) lo[k] = std::fmin(lo[k], a[k]), hi[k] = std::fmax(hi[k], b[k]);
  }
  if (!(lo[0] <= hi[0])) return 0.0;
  const double dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double GrevilleDeviation(const double* knots, int p, int n, int i, double d) {
  if (p < 1 || p > kMaxSplineDegree || i < 0 || i >= n) return 0.0;
  const double g = GrevilleAbscissa(knots, p + 1, i);
  int span = p;
  FindLowKnotIndex(knots, p, g, &span, n);
  double N[kMaxSplineDegree + 2];
  ComputeNubVals(knots, p, g, span, N);
  // N[1] .. N[p+1] belong to the basis functions span - p .. span.
  const int k = i - (span - p) + 1;
  return k >= 1 && k <= p + 1 ? d * N[k] : 0.0;
}

int ShortestCtrlPair(const Bspline* a, const Bspline* b, int* index, double* dist) {
  if (!a || !b || a->dimension != 3 || b->dimension != 3 || !a->Z || !b->Z ||
      NumCtrlU(a) != NumCtrlU(b))
    return -2;
  const int n = NumCtrlU(a);
  int best = -1;
  double bestDist = 0.0;
  for (int i = 0; i < n; ++i) {
    const double dx = a->X[0][i] - b->X[0][i];
    const double dy = a->Y[0][i] - b->Y[0][i];
    const double dz = a->Z[0][i] - b->Z[0][i];
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (best < 0 || d <= bestDist) {
      best = i;
      bestDist = d;
    }
  }
  if (index) *index = best;
  if (dist) *dist = bestDist;
  return 0;
}

double BoundaryDeviation(const Bspline* bnd, const Bspline* next, double angle) {
  if (angle == 0.0) return 0.0;
  int i = 0;
  double d = 0.0;
  if (ShortestCtrlPair(bnd, next, &i, &d) != 0) return 0.0;
  const double deviation = std::tan(angle * M_PI / 180.0) * d * 0.5;
  if (!next->knotsU) return 0.0;
  return GrevilleDeviation(next->knotsU, next->degreeU, NumCtrlU(next), i, deviation);
}
