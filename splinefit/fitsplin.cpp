#include "splinefit/fitsplin.h"

#include <cmath>

int GetDefaultBsplFitParams(BsplFitParams* p) {
  if (!p) return -2;
  p->DegreeU = 3;
  p->DegreeV = 3;
  p->NumCntrlU = 10;
  p->NumCntrlV = 10;
  p->WrapU = 0;
  p->WrapV = 0;
  p->Reserved2 = 0;
  p->ScatteredOnly = 1;
  p->Tension = 0.7;
  double r = 0.3;
  SmoothnessToRoughness(&r);
  p->Roughness = r;
  p->Sigma = 1.0;
  p->Reserved4 = 0.001;
  return 0;
}

int CheckSrfBsplFitParams(BsplFitParams p) {
  if (p.DegreeU < 1 || p.DegreeV < 1) return 0;
  if (p.DegreeU + 1 > p.NumCntrlU || p.DegreeV + 1 > p.NumCntrlV) return 0;
  return 1;
}

void SmoothnessToRoughness(double* value) { *value = std::exp(10.0 * (1.0 - *value)); }

// A roughness of 0 or below is not guarded: callers only hand back values made by the
// conversion above.
double* RoughnessToSmoothness(double* value) {
  *value = (10.0 - std::log(*value)) * 0.1;
  return value;
}
