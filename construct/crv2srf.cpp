#include "construct/crv2srf.h"

#include "bspline/measure.h"

int GetShortestCntrlPair(Bspline* a, Bspline* b, int* index, double* dist) {
  return ShortestCtrlPair(a, b, index, dist);
}

int GetBndryDeviation(Bspline* bnd, Bspline* next, double angle, double* dev) {
  if (dev) *dev = BoundaryDeviation(bnd, next, angle);
  return 0;
}
