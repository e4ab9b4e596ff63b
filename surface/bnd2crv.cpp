#include "surface/bnd2crv.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/startpnt.h"

Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir) {
  return MadeOrFailed(IsoCurve3(srf, u, v, dir));
}

Bspline* MakeIsoparCurve2(Bspline* srf, int side, double value) {
  if (!BsplineSound(srf) || !std::isfinite(value)) return MadeOrFailed<Bspline>(nullptr);
  return SoundRecordOrFailed(IsoLineCurve2(srf, side, value));
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
  if (!IsCompleteSurface3(srf) || !BsplineShapeSound(srf) || index < 0) return MadeOrFailed<Bspline>(nullptr);
  // A column (dir nonzero) is counted across u, a row across v.
  const int last = dir ? srf->degreeU + srf->interiorU : srf->degreeV + srf->interiorV;
  if (index > last) return MadeOrFailed<Bspline>(nullptr);
  return MadeOrFailed(ControlLineCurve(srf, index, dir != 0));
}
