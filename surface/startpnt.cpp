#include "surface/startpnt.h"

#include <algorithm>
#include <cmath>

#include "bspline/nubs.h"

namespace {

// Closure is judged on coordinates, absolutely: the tolerance the kernel's closed boundary
// curves are built to.
constexpr double kCloseTol = 1e-6;

bool Near(double a, double b) { return std::fabs(a - b) <= kCloseTol; }

// Control point i of row r of one coordinate, weighted for a rational object.
double Weighted(const Bspline* b, double** M, int r, int i) {
  return b->rational ? M[r][i] * b->W[r][i] : M[r][i];
}

bool SamePoint(const Bspline* b, int r0, int i0, int r1, int i1) {
  for (double** M : {b->X, b->Y, b->dimension == 3 ? b->Z : nullptr})
    if (M && !Near(Weighted(b, M, r0, i0), Weighted(b, M, r1, i1))) return false;
  return !b->rational || Near(b->W[r0][i0], b->W[r1][i1]);
}

void SetCurve2Closed(Bspline* c) {
  const int last = NumCtrlU(c) - 1;
  const Bspline* s = c->owner;
  if (!s) {
    c->closedU = Near(c->X[0][0], c->X[0][last]) && Near(c->Y[0][0], c->Y[0][last]) ? 3 : 0;
    return;
  }
  c->closedU = 3;
  const double u0 = std::clamp(c->X[0][0], s->umin, s->umax);
  const double v0 = std::clamp(c->Y[0][0], s->vmin, s->vmax);
  const double u1 = std::clamp(c->X[0][last], s->umin, s->umax);
  const double v1 = std::clamp(c->Y[0][last], s->vmin, s->vmax);
  if (std::fabs(u1 - u0) <= 1e-6 * (s->umax - s->umin) &&
      std::fabs(v1 - v0) <= 1e-6 * (s->vmax - s->vmin))
    return;
  double p0[3], p1[3];
  Eval3DPointOnSurfArray(s, u0, v0, 0, 0, p0);
  Eval3DPointOnSurfArray(s, u1, v1, 0, 0, p1);
  if (Near(p0[0], p1[0]) && Near(p0[1], p1[1]) && Near(p0[2], p1[2])) return;
  c->closedU = 0;
}

}  // namespace

void SetObjClosed(Bspline* obj) {
  if (!obj || !obj->X || !obj->Y) return;
  if (obj->kind == 1) {
    if (obj->dimension == 3 && obj->Z) {
      const int last = NumCtrlU(obj) - 1;
      // Unweighted coordinates: equal end coordinates make equal end points.
      obj->closedU = Near(obj->X[0][0], obj->X[0][last]) && Near(obj->Y[0][0], obj->Y[0][last]) &&
                             Near(obj->Z[0][0], obj->Z[0][last])
                         ? 3
                         : 0;
    } else if (obj->dimension == 2) {
      SetCurve2Closed(obj);
    }
    return;
  }
  if (obj->kind != 2 || !obj->Z || (obj->rational && !obj->W)) return;
  const int nu = NumCtrlU(obj), nv = NumCtrlV(obj);
  obj->closedU = 1;
  for (int r = 0; r < nv; ++r) {
    if (!SamePoint(obj, r, 0, r, nu - 1)) {
      obj->closedU = 0;
      break;
    }
  }
  obj->closedV = 1;
  for (int i = 0; i < nu; ++i) {
    if (!SamePoint(obj, 0, i, nv - 1, i)) {
      obj->closedV = 0;
      break;
    }
  }
}

int ObjectClosed(Bspline* obj) {
  return (obj->closedU ? 1 : 0) + (obj->kind == 2 && obj->closedV ? 2 : 0);
}
