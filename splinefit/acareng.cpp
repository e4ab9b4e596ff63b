#include "splinefit/acareng.h"

#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "splinefit/aspline.h"
#include "splinefit/gspline.h"

void acar_spline_fit(Bspline* srf, double* fixVals, int* fixIdx, int nFix, Cloud* cloud, double tension,
                     double roughness, double sigma) {
  if (!srf) {
    SetKernelError(-2);
    return;
  }
  srf->fitProps = {1, tension, roughness, sigma};
  if (!srf->Z) assign_gcar_knots(srf, srf->umin, srf->vmin, srf->umax, srf->vmax);
  if (!KernelFailed()) find_plate_coefi(srf, cloud, fixVals, fixIdx, nFix, 0);
  if (KernelFailed()) {
    FreeAndNull(srf->knotsU);
    FreeAndNull(srf->knotsV);
  }
}
