#include "curve/crvoffst.h"

#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

int IsPlanarCurve3(Bspline* crv, double tol, double axis0[3], double axis1[3], double axis2[3]) {
  if (!crv || crv->kind != 1 || crv->dimension != 3 || !crv->Z) return 0;
  const int n = NumCtrlU(crv);
  TrackingScope scope;
  float* x = MallocArray<float>(3u, n);
  if (!x || KernelFailed()) return 0;
  float* y = x + n;
  float* z = y + n;
  for (int i = 0; i < n; ++i) {
    x[i] = static_cast<float>(crv->X[0][i]);
    y[i] = static_cast<float>(crv->Y[0][i]);
    z[i] = static_cast<float>(crv->Z[0][i]);
  }
  double ev[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, ev, axes) != 0) return 0;
  double* out[3] = {axis0, axis1, axis2};
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) out[k][c] = axes[k][c];
  return tol >= ev[2] ? 1 : 0;
}

int ComputeCrvBsplineCentroid(Bspline* crv, double p[3]) {
  if (!crv || !p) return -2;
  const int n = NumCtrlU(crv);
  double** rows[3] = {crv->X, crv->Y, crv->dimension == 3 ? crv->Z : nullptr};
  double total[3] = {0, 0, 0}, part[3] = {0, 0, 0};
  int inPart = 0;
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) part[c] += rows[c] ? rows[c][0][i] : 0.0;
    // Blocks of 1001 points keep the partial sums short on long curves.
    if (++inPart == 1001) {
      for (int c = 0; c < 3; ++c) {
        total[c] += part[c];
        part[c] = 0.0;
      }
      inPart = 0;
    }
  }
  for (int c = 0; c < 3; ++c) p[c] = (total[c] + part[c]) / n;
  return 0;
}
