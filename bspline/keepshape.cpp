#include "bspline/keepshape.h"

#include "bspline/bsvalid.h"
#include "foundation/coreglob.h"

void RestoreBsplineShape(Bspline* obj, Bspline* saved) {
  // The arrays move by the counts: obj's are freed by its own, saved's must fit obj's kind.
  if (!RecordShapesSound({obj, saved})) return;
  if (obj->kind != saved->kind || obj->dimension != saved->dimension) {
    SetKernelError(-2);
    return;
  }
  InstallBsplineArrays(obj, saved->knotsU, saved->knotsV, saved->X, saved->Y, saved->Z, saved->W);
  saved->knotsU = saved->knotsV = nullptr;
  saved->X = saved->Y = saved->Z = saved->W = nullptr;
  obj->rational = saved->rational;
  obj->degreeU = saved->degreeU;
  obj->interiorU = saved->interiorU;
  obj->umin = saved->umin;
  obj->umax = saved->umax;
  // A curve's copy has no v direction of its own: the curve's v fields stay as they are.
  if (obj->kind != 2) return;
  obj->degreeV = saved->degreeV;
  obj->interiorV = saved->interiorV;
  obj->vmin = saved->vmin;
  obj->vmax = saved->vmax;
}
