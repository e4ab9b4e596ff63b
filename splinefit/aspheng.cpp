#include "splinefit/aspheng.h"

#include <cmath>

#include "bspline/smake.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "splinefit/acareng.h"
#include "splinefit/acyleng.h"

namespace {

void EqualizeNear(double pole, Cloud* canon) {
  double sum = 0.0;
  int count = 0;
  for (int i = 0; i < canon->npts; ++i)
    if (std::fabs(canon->y[i] - pole) < 0.01) sum += canon->z[i], ++count;
  if (count == 0) return;
  const float mean = static_cast<float>(sum / count);
  for (int i = 0; i < canon->npts; ++i)
    if (std::fabs(canon->y[i] - pole) < 0.01) canon->z[i] = mean;
}

}  // namespace

void equalize_sparse_pole(int atVmin, int atVmax, Bspline* srf, Cloud* canon) {
  if (!srf || !canon || !canon->y || !canon->z) return;
  if (atVmin) EqualizeNear(srf->vmin, canon);
  if (atVmax) EqualizeNear(srf->vmax, canon);
}

void asph_spline_fit(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma) {
  if (!srf) {
    SetKernelError(-2);
    return;
  }
  const bool wrapped = std::fabs(srf->umin - srf->umax + 2.0 * M_PI) < 0.01;
  if (wrapped) srf->closedU = 1;
  const bool poleMin = std::fabs(srf->vmin) < 0.01, poleMax = std::fabs(M_PI - srf->vmax) < 0.01;
  if (!wrapped && !poleMin && !poleMax) {
    acar_spline_fit(srf, nullptr, nullptr, 0, canon, tension, roughness, sigma);
    return;
  }
  srf->fitProps.flag = 1;
  equalize_sparse_pole(poleMin, poleMax, srf, canon);
  if (!wrapped) {
    acar_spline_fit(srf, nullptr, nullptr, 0, canon, tension, roughness, sigma);
    return;
  }
  WRAP_SPAN = 2 * srf->degreeU + 1;
  wrap_in_theta_sparse(srf, canon, tension, roughness, sigma);
}
