#include "surface/quadrics.h"

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/srfsnip.h"

int MyFunc(Bspline* curve) {
  if (!curve || curve->kind != 1 || curve->dimension != 2 || !curve->owner) return 1;
  TrackingScope scope;
  int k = 0;
  double *params = nullptr, *us = nullptr, *vs = nullptr;
  if (GetCurve2DSurfParamSect(curve, &k, &params, &us, &vs) != 0) return 1;
  // Both searches hand their arrays out of their scopes.
  Owned<double, Free> crossings(params), uAt(us), vAt(vs);
  double* cuts = nullptr;
  int m = 0;
  PutInCKnotsOfBNotInA(curve->knotsU, NumKnotsU(curve), params, k, &cuts, &m);
  Owned<double, Free> ownedCuts(cuts);
  if (m <= 0 || !cuts || KernelFailed()) return 1;
  OwnedArray<Bspline, FreeBspline> pieces = OwnedArray<Bspline, FreeBspline>::Zeroed(m + 1);
  if (!pieces || KernelFailed()) return 1;
  SplitObjectToNObjects(curve, m, cuts, 0, pieces.get());
  return 1;
}
