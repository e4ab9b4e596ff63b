#include "surface/cpoint.h"

#include "surface/srfpick.h"

int FindSymmetricPointFromBspline(Bspline* obj, const double p[3], double out[3]) {
  double foot[3];
  if (!obj || FindClosestPointOnBspline(obj, p[0], p[1], p[2], foot) != 1) return 0;
  for (int k = 0; k < 3; ++k) out[k] = 2.0 * foot[k] - p[k];
  return 1;
}
