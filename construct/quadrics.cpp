#include "construct/quadrics.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "construct/srfr2nr.h"
#include "curve/quadrics.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "quadric/quadrics.h"

namespace {

// A copy of the surface without curves, scaled about the origin by the power of two that brings
// its control-point box nearest to unit size (exact in floating point); *scale receives that
// factor's inverse, which takes the copy's lengths back to the surface's. The recognisers' fits
// and tolerances are set for unit size. The copy is flagged closed in u: whether the surface is
// a sphere, cylinder or cone is for its points and boundary circles to say, not for the flag
// (an extruded circle or a half cylinder is one). Null on failure.
Bspline* UnitSizeTrial(Bspline* s, double* scale) {
  double lo[3], hi[3];
  ControlPointBox(s, lo, hi);
  double size = 0.0;
  for (int c = 0; c < 3; ++c) size = std::fmax(size, hi[c] - lo[c]);
  const int k = size > 0.0 && std::isfinite(size) ? std::ilogb(size) : 0;
  *scale = std::ldexp(1.0, k);
  Bspline* copy = CopyBsplineSurface(s);
  if (!copy) return nullptr;
  for (double** m : {copy->X, copy->Y, copy->Z})
    for (int j = 0; j < NumCtrlV(copy); ++j)
      for (int i = 0; i < NumCtrlU(copy); ++i) m[j][i] = std::ldexp(m[j][i], -k);
  copy->closedU = 1;
  return copy;
}

// The exact form found on the unit-size trial, taken back to the surface's size: positions and
// lengths times scale, directions and angles as they are.
void ScaleForm(Bspline* trial, double scale) {
  double* v = trial->quadric->v;
  switch (trial->quadricType) {
    case 21:  // radius, centre
      for (int k = 0; k < 4; ++k) v[k] *= scale;
      break;
    case 22:  // axis point, axis, radius, start and end heights
    case 23:  // apex, axis, half angle, start and end heights
      for (int k : {0, 1, 2, 7, 8}) v[k] *= scale;
      if (trial->quadricType == 22) v[6] *= scale;
      break;
    case 25:  // a x + b y + c z + d = 0
      v[3] *= scale;
      break;
    default:
      break;
  }
}

}  // namespace

int IdentifySurfQuadric(Bspline** surfaces, int n, int request, int* found) {
  if (!surfaces || !found) return 0;
  // Request code of each recognisable type, in the order request 0 tries them.
  static const int kTypeOfRequest[5] = {0, 22, 21, 23, 25};
  for (int i = 0; i < n; ++i) {
    Bspline* s = surfaces[i];
    if (!s || s->kind != 2) continue;
    const int type = s->quadricType;
    if (type == 21 || type == 22 || type == 23 || type == 25) {
      if (request == 0 || (request >= 1 && request <= 4 && kTypeOfRequest[request] == type)) found[i] = 1;
      continue;
    }
    if (request < 0 || request > 4) continue;
    double scale = 1.0;
    Owned<Bspline, FreeBspline> trial(BsplineShapeSound(s) ? UnitSizeTrial(s, &scale) : nullptr);
    Bbox box;
    Owned<Cloud, FreeCloud> cloud(trial ? SampleSurfaceBspline(trial.get(), 20, 20, 0, box) : nullptr);
    if (!cloud || KernelFailed()) {
      if (memory_error != 1) ClearKernelError();
      continue;
    }
    const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
    const int m = cloud->npts;
    Bspline* t = trial.get();
    int r = 0;
    if (request == 0 || request == 2) r = GetSphereFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 1)) r = GetCylFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 3)) r = GetConeFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 4)) r = GetPlaneFromPts(x, y, z, m, box, t);
    if (r == 1 && t->quadric) {
      ScaleForm(t, scale);
      if (AttachQuadricOf(s, t) == 1) found[i] = 1;
    }
    // A trial that failed is no recognition: the next surface starts with a clean state.
    if (KernelFailed() && memory_error != 1) ClearKernelError();
  }
  return 0;
}
