#include "splinefit/gspline.h"

#include "bspline/bsvalid.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

void InitFillBsplineStruct(Bspline* srf, double umin, double vmin, double umax, double vmax) {
  if (!BsplineCountsSound(srf) || srf->kind != 2) {
    SetKernelError(-2);
    return;
  }
  if (!srf->X) {
    if (AllocateBsplineArrays(srf) < 0) return;
  } else {
    // X and Y stay; new knots and Z are built aside and installed only when all were had.
    TrackingScope scope;
    double* ku = MallocArray<double>(NumKnotsU(srf));
    double* kv = MallocArray<double>(NumKnotsV(srf));
    double** Z = ku && kv && !KernelFailed() ? allocate_matrix_fh(NumCtrlV(srf), NumCtrlU(srf)) : nullptr;
    if (!Z || KernelFailed()) return;
    scope.keep();
    Free(srf->knotsU);
    Free(srf->knotsV);
    if (srf->Z) matrix_free_fh(srf->Z);
    srf->knotsU = ku;
    srf->knotsV = kv;
    srf->Z = Z;
  }
  const int p = srf->degreeU, q = srf->degreeV;
  const int lastU = NumKnotsU(srf) - 1, lastV = NumKnotsV(srf) - 1;
  for (int k = 0; k <= p; ++k) {
    srf->knotsU[k] = umin;
    srf->knotsU[lastU - k] = umax;
  }
  for (int k = 0; k <= q; ++k) {
    srf->knotsV[k] = vmin;
    srf->knotsV[lastV - k] = vmax;
  }
}

void auto_gcar_knot_select(Bspline* srf, double umin, double vmin, double umax, double vmax) {
  if (!RecordShapesSound({srf}) || srf->kind != 2) return;
  const int p = srf->degreeU, q = srf->degreeV;
  const double hu = (umax - umin) / (srf->interiorU + 1), hv = (vmax - vmin) / (srf->interiorV + 1);
  for (int k = 1; k <= srf->interiorU; ++k) srf->knotsU[p + k] = srf->knotsU[p + k - 1] + hu;
  for (int k = 1; k <= srf->interiorV; ++k) srf->knotsV[q + k] = srf->knotsV[q + k - 1] + hv;
}

void assign_gcar_knots(Bspline* srf, double umin, double vmin, double umax, double vmax) {
  InitFillBsplineStruct(srf, umin, vmin, umax, vmax);
  if (KernelFailed()) return;
  auto_gcar_knot_select(srf, umin, vmin, umax, vmax);
}
