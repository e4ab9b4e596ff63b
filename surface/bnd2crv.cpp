#include "surface/bnd2crv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/startpnt.h"

Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir) {
  if (!srf || srf->kind != 2 || srf->dimension != 3 || !srf->knotsU || !srf->knotsV || !srf->X ||
      !srf->Y || !srf->Z || (srf->rational && !srf->W))
    return nullptr;
  const bool runsInV = dir != 0;
  // The cut direction is the one held fixed.
  const int cutDir = runsInV ? 0 : 1;
  const int p = runsInV ? srf->degreeU : srf->degreeV;
  const int interior = runsInV ? srf->interiorU : srf->interiorV;
  const double* cutKnots = runsInV ? srf->knotsU : srf->knotsV;
  const double lo = cutKnots[p], hi = cutKnots[p + interior + 1];
  const double tol = 1e-6 * (hi - lo);
  double value = std::clamp(runsInV ? u : v, lo, hi);

  TrackingScope scope;
  Bspline* c = MallocNullBspline();
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->rational = srf->rational;
  c->degreeU = runsInV ? srf->degreeV : srf->degreeU;
  c->interiorU = runsInV ? srf->interiorV : srf->interiorU;
  c->closedU = runsInV ? srf->closedV : srf->closedU;

  // At a domain end the boundary row is the curve; inside, the value made a knot of full
  // multiplicity in a copy of the surface isolates the row that interpolates the curve.
  const Bspline* src = srf;
  Bspline* work = nullptr;
  int row = 0;
  if (std::fabs(value - hi) < tol) {
    row = interior + p;
  } else if (!(std::fabs(value - lo) < tol)) {
    work = CopyBsplineSurface(srf);
    if (!work) return nullptr;
    InsertNKnotsToObject(-1, 1, cutDir, work, 2, &value);  // value snaps onto a knot within tol
    if (KernelFailed()) {
      FreeBspline(work);
      return nullptr;
    }
    // The last copy of the value ends the span; the row before its first copy ends the left
    // part of the net, whose last row is the curve.
    int span = p;
    FindLowKnotIndex(runsInV ? work->knotsU : work->knotsV, p, value, &span,
                     runsInV ? NumCtrlU(work) : NumCtrlV(work));
    row = span - p - 1;
    src = work;
  }
  if (AllocateBsplineArrays(c) < 0 || KernelFailed()) {
    FreeBspline(work);
    return nullptr;
  }
  const int n = NumCtrlU(c);
  std::memcpy(c->knotsU, runsInV ? srf->knotsV : srf->knotsU, sizeof(double) * NumKnotsU(c));
  c->umin = c->knotsU[c->degreeU];
  c->umax = c->knotsU[n];
  double** from[4] = {src->X, src->Y, src->Z, src->rational ? src->W : nullptr};
  double** to[4] = {c->X, c->Y, c->Z, c->rational ? c->W : nullptr};
  for (int k = 0; k < 4; ++k) {
    if (!from[k] || !to[k]) continue;
    // Rows of the net are v: a curve running in v reads one column, one in u one row.
    for (int i = 0; i < n; ++i) to[k][0][i] = runsInV ? from[k][i][row] : from[k][row][i];
  }
  FreeBspline(work);
  if (c->closedU == 0) SetObjClosed(c);
  scope.keep();
  return c;
}
