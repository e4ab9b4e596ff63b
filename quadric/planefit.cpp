#include "quadric/planefit.h"

#include "bspline/knots.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

void FindInitXYCoefi(Bspline* srf, double** X, double** Y) {
  if (!srf || !X || !Y || srf->kind != 2 || !srf->knotsU || !srf->knotsV) {
    SetKernelError(-2);
    return;
  }
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  TrackingScope scope;
  double* u = ObjectGrevilleParams(srf, 0);
  double* v = ObjectGrevilleParams(srf, 1);
  if (!u || !v || KernelFailed()) return;
  if (srf->closedU) {
    // A wrapped u direction has unclamped uniform knots: its control columns sit one step
    // apart, the first one step before the domain.
    const double h = (srf->umax - srf->umin) / (srf->interiorU + 1);
    for (int c = 0; c < nU; ++c) u[c] = srf->umin + (c - 1) * h;
  }
  for (int r = 0; r < nV; ++r) {
    for (int c = 0; c < nU; ++c) {
      X[r][c] = u[c];
      Y[r][c] = v[r];
    }
  }
}
