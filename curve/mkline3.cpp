#include "curve/mkline3.h"

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "quadric/cpoint.h"

namespace {

// A clamped straight curve of the given degree on [0, 1] through start and end, control points
// evenly spaced; no exact form. Null on failure.
Bspline* StraightCurve(const double start[3], const double end[3], int degree) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = degree;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  double** M[3] = {c->X, c->Y, c->Z};
  for (int i = 0; i <= degree; ++i) {
    c->knotsU[i] = 0.0;
    c->knotsU[degree + 1 + i] = 1.0;
    const double s = static_cast<double>(i) / degree;
    for (int k = 0; k < 3; ++k) M[k][0][i] = start[k] + s * (end[k] - start[k]);
  }
  // The end exactly as given, free of the rounding of the interpolation.
  for (int k = 0; k < 3; ++k) M[k][0][degree] = end[k];
  c->umin = 0.0;
  c->umax = 1.0;
  scope.keep();
  return c.release();
}

}  // namespace

Bspline* MkLine3(const double start[3], const double end[3], Bspline** out) {
  Bspline* c = StraightCurve(start, end, 3);
  if (out) *out = c;
  return c;
}

void MkLine2(const double start[2], const double end[2], Bspline* crv) {
  if (!crv) return;
  TrackingScope scope;
  double* knots = MallocArray<double>(8);
  if (!knots || KernelFailed()) return;
  double** X = allocate_matrix_fh(1, 4);
  if (!X || KernelFailed()) return;
  double** Y = allocate_matrix_fh(1, 4);
  if (!Y || KernelFailed()) return;
  scope.keep();  // the arrays belong to the record from here on
  for (int i = 0; i < 4; ++i) {
    knots[i] = 0.0;
    knots[4 + i] = 1.0;
  }
  static const double kThirds[4] = {0.0, 1.0 / 3.0, 2.0 / 3.0, 1.0};
  for (int i = 0; i < 4; ++i) {
    X[0][i] = start[0] + kThirds[i] * (end[0] - start[0]);
    Y[0][i] = start[1] + kThirds[i] * (end[1] - start[1]);
  }
  X[0][3] = end[0];
  Y[0][3] = end[1];
  // A line in the parameter plane has neither z nor weights: the record's old ones go with
  // its old arrays.
  InstallBsplineArrays(crv, knots, nullptr, X, Y, nullptr, nullptr);
  crv->rational = 0;
  crv->degreeU = 3;
  crv->interiorU = 0;
  crv->umin = 0.0;
  crv->umax = 1.0;
}

Bspline* CreateLineBsplineDegree1(const double start[3], const double end[3]) {
  return CreateLineWith2Points(start, end);
}

Bspline* IsoLineCurve2(Bspline* srf, int side, double value) {
  if (!RecordsSound({srf}) || srf->kind != 2 || side < 0 || side > 3) return nullptr;
  const bool runsInV = side == 0 || side == 2;
  if (value == -1.0) {
    static const int kUses[4] = {0, 1, 1, 0};  // the side's boundary: the minimum or maximum
    value = runsInV ? (kUses[side] ? srf->umax : srf->umin) : (kUses[side] ? srf->vmax : srf->vmin);
  }
  const double lo = runsInV ? srf->vmin : srf->umin, hi = runsInV ? srf->vmax : srf->umax;
  const double start[2] = {runsInV ? value : lo, runsInV ? lo : value};
  const double end[2] = {runsInV ? value : hi, runsInV ? hi : value};
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 2;
  c->owner = srf;
  // The Bezier line on [0, 1], its knots then moved onto the running direction's domain.
  MkLine2(start, end, c.get());
  if (KernelFailed()) return nullptr;
  for (int i = 0; i < 4; ++i) {
    c->knotsU[i] = lo;
    c->knotsU[4 + i] = hi;
  }
  c->umin = lo;
  c->umax = hi;
  c->closedU = runsInV ? srf->closedV : srf->closedU;
  if (c->closedU == 0) MarkClosedFromControlPoints(c.get());
  scope.keep();
  return c.release();
}
