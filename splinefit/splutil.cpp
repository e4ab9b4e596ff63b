#include "splinefit/splutil.h"

#include "bspline/measure.h"

void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out) {
  if (!out) return;
  *out = 0.0;
  if (!curve || !curve->knotsU) return;
  *out = GrevilleDeviation(curve->knotsU, curve->degreeU, NumCtrlU(curve), i, d);
}
