#include "curve/cintsct.h"

#include "bspline/refines2.h"
#include "curve/crvutil.h"

int Intersect2Curve3(Bspline* crv1, Bspline* crv2, double* t1, double* t2) {
  double a, b;
  if (FindClosestCPT3paramValue(crv1, crv2, &a, &b) != 0) return -2;
  double distSq;
  const int r = RefineCurve3sClosestPoint(crv1, crv2, &a, &b, &distSq, 21);
  *t1 = a;
  *t2 = b;
  return r;
}
