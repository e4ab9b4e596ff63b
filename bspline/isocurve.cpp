#include "bspline/isocurve.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

bool IsCompleteSurface3(const Bspline* srf) {
  return srf && srf->kind == 2 && srf->dimension == 3 && srf->knotsU && srf->knotsV && srf->X &&
         srf->Y && srf->Z && (!srf->rational || srf->W);
}

Bspline* ControlLineCurve(const Bspline* src, int line, bool runsInV) {
  if (!RecordShapesSound({src}) || src->kind != 2 || src->dimension != 3 || line < 0 ||
      line >= (runsInV ? NumCtrlU(src) : NumCtrlV(src))) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->rational = src->rational;
  c->degreeU = runsInV ? src->degreeV : src->degreeU;
  c->interiorU = runsInV ? src->interiorV : src->interiorU;
  c->closedU = runsInV ? src->closedV : src->closedU;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  const int n = NumCtrlU(c.get());
  std::memcpy(c->knotsU, runsInV ? src->knotsV : src->knotsU, sizeof(double) * NumKnotsU(c.get()));
  SetDomainFromKnots(c.get(), 0);
  double** from[4] = {src->X, src->Y, src->Z, src->rational ? src->W : nullptr};
  double** to[4] = {c->X, c->Y, c->Z, c->rational ? c->W : nullptr};
  for (int k = 0; k < 4; ++k) {
    if (!from[k] || !to[k]) continue;
    for (int i = 0; i < n; ++i) to[k][0][i] = runsInV ? from[k][i][line] : from[k][line][i];
  }
  scope.keep();
  return c.release();
}

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

void MarkClosedFromControlPoints(Bspline* obj) {
  if (!RecordShapesSound({obj})) return;
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

Bspline* IsoCurve3(Bspline* srf, double u, double v, int dir) {
  if (!IsCompleteSurface3(srf) || !BsplineSound(srf) || !std::isfinite(dir ? u : v)) {
    SetKernelError(-2);
    return nullptr;
  }
  const bool runsInV = dir != 0;
  // The cut direction is the one held fixed.
  const int cutDir = runsInV ? 0 : 1;
  const int p = runsInV ? srf->degreeU : srf->degreeV;
  const int interior = runsInV ? srf->interiorU : srf->interiorV;
  const double* cutKnots = runsInV ? srf->knotsU : srf->knotsV;
  const double lo = cutKnots[p], hi = cutKnots[p + interior + 1];
  const double tol = 1e-6 * (hi - lo);
  double value = std::clamp(runsInV ? u : v, lo, hi);

  // At a domain end the boundary row is the curve; inside, the value made a knot of full
  // multiplicity in a copy of the surface isolates the row that interpolates the curve, so
  // the caller's surface never holds the inserted knots.
  Owned<Bspline, FreeBspline> work;
  const Bspline* src = srf;
  int row = 0;
  if (std::fabs(value - hi) < tol) {
    row = interior + p;
  } else if (!(std::fabs(value - lo) < tol)) {
    work.reset(CopyBsplineSurface(srf));
    if (!work) return nullptr;
    InsertNKnotsToObject(-1, 1, cutDir, work.get(), 2, &value);  // value snaps onto a knot within tol
    if (KernelFailed()) return nullptr;
    // The last copy of the value ends the span; the row before its first copy ends the left
    // part of the net, whose last row is the curve.
    int span = p;
    FindLowKnotIndex(runsInV ? work->knotsU : work->knotsV, p, value, &span,
                     runsInV ? NumCtrlU(work.get()) : NumCtrlV(work.get()));
    row = span - p - 1;
    src = work.get();
  }
  Bspline* c = ControlLineCurve(src, row, runsInV);
  if (!c) return nullptr;
  if (c->closedU == 0) MarkClosedFromControlPoints(c);
  return c;
}

int IsoParameterKind(Bspline* crv, int interiorTest) {
  if (!crv || crv->kind != 1 || crv->dimension != 2 || !crv->owner) return -1;
  const Bspline* s = crv->owner;
  const double tolU = 1e-6 * (s->umax - s->umin), tolV = 1e-6 * (s->vmax - s->vmin);
  const int n = NumCtrlU(crv);
  const double* u = crv->X[0];
  const double* v = crv->Y[0];
  if (interiorTest) {
    double mid[2] = {u[n / 2], v[n / 2]};
    if (n == 2) Eval2DPointOnCurve2Array(nullptr, crv, 0.5 * (crv->umin + crv->umax), 0, mid);
    const bool inU = std::fabs(mid[0] - s->umin) > tolU && std::fabs(mid[0] - s->umax) > tolU;
    const bool inV = std::fabs(mid[1] - s->vmin) > tolV && std::fabs(mid[1] - s->vmax) > tolV;
    if (inU && inV) return 0;
  }
  const double uLow = *std::min_element(u, u + n), vLow = *std::min_element(v, v + n);
  bool alongU = true, alongV = true;  // u constant, v constant
  for (int i = 0; i < n; ++i) {
    alongU = alongU && std::fabs(u[i] - uLow) <= tolU;
    alongV = alongV && std::fabs(v[i] - vLow) <= tolV;
    if (!alongU && !alongV) return -1;
  }
  return alongU ? 1 : 2;
}
