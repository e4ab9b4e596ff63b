#include "curve/crvclpt.h"

#include "bspline/knots.h"

double GetEditPoint(const double* knots, int order, int i) {
  return GrevilleAbscissa(knots, order, i);
}
