#include "curve/crvclpt.h"

double GetEditPoint(const double* knots, int order, int i) {
  double sum = 0.0;
  for (int k = i + 1; k <= i + order - 1; ++k) sum += knots[k];
  const double mean = sum / (order - 1);
  return mean < knots[0] ? knots[0] : mean;
}
