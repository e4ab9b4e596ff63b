#include "curve/planefit.h"

#include <algorithm>

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "bspline/smake.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "quadric/planefit.h"

Bspline* BsplinePlaneFrom3DLines(Bspline** curves, int n) {
  if (!curves || n < 1) return nullptr;
  for (int k = 0; k < n; ++k)
    if (!RecordsSound({curves[k]}) || curves[k]->kind != 1) return nullptr;
  OrderCurves(curves, n);
  TrackingScope scope;
  // The samplers hand their parameter arrays out of their scopes: held here.
  OwnedArray<double, Free> params = OwnedArray<double, Free>::Zeroed(n);
  int* counts = MallocArray<int>(n);
  if (!params || !counts || KernelFailed()) return nullptr;
  int total = 0;
  for (int k = 0; k < n; ++k) {
    params[k] = SampleCurvePlateProper(curves[k], curves[k]->degreeU + 1, &counts[k]);
    if (!params[k] || KernelFailed()) return nullptr;
    total += counts[k];
  }
  float* x = MallocArray<float>(total);
  float* y = MallocArray<float>(total);
  float* z = MallocArray<float>(total);
  if (!x || !y || !z || KernelFailed()) return nullptr;
  for (int k = 0, at = 0; k < n; at += counts[k], ++k)
    EvalNpntsOnObj_f(curves[k], 0, 0, params[k], nullptr, counts[k], x + at, y + at, z + at);
  if (KernelFailed()) return nullptr;
  Bbox box = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; i < total; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int c = 0; c < 3; ++c) {
      box[c] = std::min(box[c], p[c]);
      box[3 + c] = std::max(box[3 + c], p[c]);
    }
  }
  // The patch leaves the scope kept by its maker; the samples go with the scope.
  return CreatePlaneBsplineFromCloud(x, y, z, total, box);
}
