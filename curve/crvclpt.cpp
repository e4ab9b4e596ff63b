#include "curve/crvclpt.h"

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "foundation/vec3.h"

double GetEditPoint(const double* knots, int order, int i) {
  return GrevilleAbscissa(knots, order, i);
}

double GetUVFactor(Bspline* srf, int dir) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3) return 0.0;
  double a[3], b[3], range;
  if (dir == 0) {
    const int last = NumCtrlU(srf) - 1;
    a[0] = srf->X[0][0], a[1] = srf->Y[0][0], a[2] = srf->Z[0][0];
    b[0] = srf->X[0][last], b[1] = srf->Y[0][last], b[2] = srf->Z[0][last];
    range = srf->umax - srf->umin;
  } else {
    const int last = NumCtrlV(srf) - 1;
    a[0] = srf->X[0][0], a[1] = srf->Y[0][0], a[2] = srf->Z[0][0];
    b[0] = srf->X[last][0], b[1] = srf->Y[last][0], b[2] = srf->Z[last][0];
    range = srf->vmax - srf->vmin;
  }
  const double d = VecDist3(a, b);
  // A collapsed row (relative to the surface's size, so that a small surface keeps its own
  // factor) gives a large factor rather than a division by (almost) nothing.
  const double collapsed = 1e-6 * ControlPointDiagonal(srf);
  return d <= collapsed ? range / collapsed : range / d;
}

namespace {

// The value clamped into [lo, hi] and its mirror about the crossed end, kept inside the range.
void ClampAndMirror(double t, double lo, double hi, double* clamped, double* mirrored) {
  if (t < lo) {
    *clamped = lo;
    *mirrored = 2.0 * lo - t;
    if (*mirrored > hi) *mirrored = hi;
  } else if (t > hi) {
    *clamped = hi;
    *mirrored = 2.0 * hi - t;
    if (*mirrored < lo) *mirrored = lo;
  } else {
    *clamped = *mirrored = t;
  }
}

}  // namespace

void FindBsplOnSurf3dControlPoint(Bspline* srf, double u, double v, double* x, double* y,
                                  double* z) {
  if (!RecordsSound({srf}) || srf->kind != 2 || srf->dimension != 3 || !AllFinite({u, v})) return;
  double p[3];
  if (u >= srf->umin && u <= srf->umax && v >= srf->vmin && v <= srf->vmax) {
    Eval3DPointOnSurfCoord(srf, u, v, 0, 0, p);
  } else {
    double uc, um, vc, vm, e[3], m[3];
    ClampAndMirror(u, srf->umin, srf->umax, &uc, &um);
    ClampAndMirror(v, srf->vmin, srf->vmax, &vc, &vm);
    Eval3DPointOnSurfCoord(srf, uc, vc, 0, 0, e);
    Eval3DPointOnSurfCoord(srf, um, vm, 0, 0, m);
    for (int k = 0; k < 3; ++k) p[k] = 2.0 * e[k] - m[k];
  }
  *x = p[0];
  *y = p[1];
  *z = p[2];
}

namespace {

// The loop and node holding crv (the first loop of its owner that does), with the node before
// it in that loop (null for the first node). False when none holds it.
bool FindLoopNode(const Bspline* crv, TrimList** loop, BsplineList** node, BsplineList** prev) {
  if (!crv || !crv->owner) return false;
  for (TrimList* l = crv->owner->trims; l; l = l->next) {
    BsplineList* before = nullptr;
    for (BsplineList* n = l->loopCurves; n; before = n, n = n->next)
      if (n->item == crv) {
        *loop = l;
        *node = n;
        *prev = before;
        return true;
      }
  }
  return false;
}

}  // namespace

Bspline* FindNextCurveInTrim(const Bspline* crv, Bspline** out) {
  TrimList* loop;
  BsplineList *node, *prev;
  Bspline* next = nullptr;
  if (FindLoopNode(crv, &loop, &node, &prev)) next = node->next ? node->next->item : loop->loopCurves->item;
  if (out) *out = next;
  return next;
}

Bspline* FindPrevCurveInTrim(const Bspline* crv, Bspline** out) {
  TrimList* loop;
  BsplineList *node, *prev;
  Bspline* before = nullptr;
  if (FindLoopNode(crv, &loop, &node, &prev)) {
    if (prev) {
      before = prev->item;
    } else {
      BsplineList* last = node;
      while (last->next) last = last->next;
      before = last->item;
    }
  }
  if (out) *out = before;
  return before;
}
