#include "surface/startpnt.h"

#include "bspline/isocurve.h"

void SetObjClosed(Bspline* obj) { MarkClosedFromControlPoints(obj); }

int ObjectClosed(Bspline* obj) {
  return (obj->closedU ? 1 : 0) + (obj->kind == 2 && obj->closedV ? 2 : 0);
}
