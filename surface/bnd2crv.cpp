#include "surface/bnd2crv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "stitch/vcnobj.h"
#include "surface/startpnt.h"

namespace {

bool IsSurface3(const Bspline* srf) {
  return srf && srf->kind == 2 && srf->dimension == 3 && srf->knotsU && srf->knotsV && srf->X &&
         srf->Y && srf->Z && (!srf->rational || srf->W);
}

// A new 3D curve through line `line` of src's control net: a curve running in v reads column
// `line` (rows of the net are v), one running in u reads row `line`. It takes src's degree,
// interior count, closed flag and knots of the running direction and src's rational flag.
// Null on failure.
Bspline* CurveOfControlLine(const Bspline* src, int line, bool runsInV) {
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
  ResetBsplineParamInfo(c.get(), 0);
  double** from[4] = {src->X, src->Y, src->Z, src->rational ? src->W : nullptr};
  double** to[4] = {c->X, c->Y, c->Z, c->rational ? c->W : nullptr};
  for (int k = 0; k < 4; ++k) {
    if (!from[k] || !to[k]) continue;
    for (int i = 0; i < n; ++i) to[k][0][i] = runsInV ? from[k][i][line] : from[k][line][i];
  }
  scope.keep();
  return c.release();
}

}  // namespace

Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir) {
  if (!IsSurface3(srf)) return nullptr;
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
  Bspline* c = CurveOfControlLine(src, row, runsInV);
  if (!c) return nullptr;
  if (c->closedU == 0) SetObjClosed(c);
  return c;
}

Bspline* MakeIsoparCurve2(Bspline* srf, int side, double value) {
  if (!srf || srf->kind != 2 || side < 0 || side > 3) return nullptr;
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
  if (c->closedU == 0) SetObjClosed(c.get());
  scope.keep();
  return c.release();
}

Bspline* GetSurfBoundary(Bspline* crv, int side, Bspline* srf) {
  Bspline* c = crv ? CopyBsplineStruct(crv) : MakeIsoparCurve2(srf, side, -1.0);
  if (!c) return nullptr;
  Bspline* owner = c->owner;
  if (!owner) {
    FreeBspline(c);
    return nullptr;
  }
  PutBsplToSurfCrvList(c, owner);
  if (KernelFailed()) {
    FreeBspline(c);
    return nullptr;
  }
  return c;
}

Bspline* ExtractCrvFromSrfCntrlLine(Bspline* srf, int index, int dir) {
  if (!IsSurface3(srf) || index < 0) return nullptr;
  // A column (dir nonzero) is counted across u, a row across v.
  const int last = dir ? srf->degreeU + srf->interiorU : srf->degreeV + srf->interiorV;
  if (index > last) return nullptr;
  return CurveOfControlLine(srf, index, dir != 0);
}
