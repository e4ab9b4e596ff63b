#include "curve/cpoint.h"

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "bspline/smake.h"
#include "curve/cintsct.h"

int FindPntsOn2CurvesClosest(Bspline* c1, Bspline* c2, double p1[3], double p2[3]) {
  // Callers rely on the 1; a curve that cannot be read leaves the points untouched.
  if (!RecordsSound({c1, c2}) || c1->dimension != c2->dimension) return 1;
  double t1 = c1->umin, t2 = c2->umin;
  if (c1->dimension == 2)
    Intersect2Curve2(c1, c2, &t1, &t2);
  else
    Intersect2Curve3(c1, c2, &t1, &t2);
  // Each in 3D, a curve on a surface through its owner.
  EvalNpntsOnObj(c1, 0, 0, &t1, nullptr, 1, &p1[0], &p1[1], &p1[2]);
  EvalNpntsOnObj(c2, 0, 0, &t2, nullptr, 1, &p2[0], &p2[1], &p2[2]);
  return 1;
}
