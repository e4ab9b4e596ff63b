#include "surface/bnd2crv.h"

#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/startpnt.h"

Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir) {
  return IsoCurve3(srf, u, v, dir);
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
  if (!IsCompleteSurface3(srf) || index < 0) return nullptr;
  // A column (dir nonzero) is counted across u, a row across v.
  const int last = dir ? srf->degreeU + srf->interiorU : srf->degreeV + srf->interiorV;
  if (index > last) return nullptr;
  return ControlLineCurve(srf, index, dir != 0);
}
