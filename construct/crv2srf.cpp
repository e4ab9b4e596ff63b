#include "construct/crv2srf.h"

#include <cmath>

#include "splinefit/splutil.h"

int GetShortestCntrlPair(Bspline* a, Bspline* b, int* index, double* dist) {
  if (!a || !b || a->dimension != 3 || b->dimension != 3 || !a->Z || !b->Z ||
      NumCtrlU(a) != NumCtrlU(b))
    return -2;
  const int n = NumCtrlU(a);
  int best = -1;
  double bestDist = 0.0;
  for (int i = 0; i < n; ++i) {
    const double dx = a->X[0][i] - b->X[0][i];
    const double dy = a->Y[0][i] - b->Y[0][i];
    const double dz = a->Z[0][i] - b->Z[0][i];
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (best < 0 || d <= bestDist) {
      best = i;
      bestDist = d;
    }
  }
  if (index) *index = best;
  if (dist) *dist = bestDist;
  return 0;
}

int GetBndryDeviation(Bspline* bnd, Bspline* next, double angle, double* dev) {
  if (!dev) return 0;
  *dev = 0.0;
  if (angle == 0.0) return 0;
  int i = 0;
  double d = 0.0;
  if (GetShortestCntrlPair(bnd, next, &i, &d) != 0) return 0;
  const double deviation = std::tan(angle * M_PI / 180.0) * d * 0.5;
  GetMaxCurveDeviation(next, i, deviation, dev);
  return 0;
}
