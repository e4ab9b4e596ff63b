#include "splinefit/splutil.h"

#include "bspline/nubutil.h"
#include "curve/crvclpt.h"

void GetMaxCurveDeviation(const Bspline* curve, int i, double d, double* out) {
  if (!out) return;
  *out = 0.0;
  if (!curve || !curve->knotsU) return;
  const int p = curve->degreeU;
  const int n = NumCtrlU(curve);
  if (p < 1 || p > kMaxSplineDegree || i < 0 || i >= n) return;
  const double* K = curve->knotsU;
  const double g = GetEditPoint(K, p + 1, i);
  int span = p;
  FindLowKnotIndex(K, p, g, &span, n);
  double N[kMaxSplineDegree + 2];
  ComputeNubVals(K, p, g, span, N);
  // N[1] .. N[p+1] belong to the basis functions span - p .. span.
  const int k = i - (span - p) + 1;
  if (k >= 1 && k <= p + 1) *out = d * N[k];
}
