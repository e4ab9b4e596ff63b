#include "splinefit/wrapfit.h"

#include "bspline/subobj.h"

int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average) {
  return ClampWrappedDirection(obj, dir, average);
}
