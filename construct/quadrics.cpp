#include "construct/quadrics.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "construct/srfr2nr.h"
#include "curve/quadrics.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/geometry.h"
#include "quadric/qnlfit.h"
#include "quadric/quadrics.h"

namespace {

// A recognised form must hold the surface within this fraction of the diagonal of its samples'
// box, the limit the plane's own test sets: a fit's mean error alone lets a long narrow part
// pass as a large sphere.
constexpr double kFormTolerance = 1e-3;
// Samples per direction of the check: twice the recognisers' grid less one, so that it also
// holds between their samples.
constexpr int kCheckSamples = 39;

// The largest distance of the points from the exact form of s (types 21, 22, 23, 25); a form of
// another type holds none.
double FormDeviation(const Bspline* s, const float* x, const float* y, const float* z, int n) {
  const double* v = s->quadric->v;
  double e = 0.0, largest = 0.0;
  switch (s->quadricType) {
    case 21:
      SphereFitError(x, y, z, n, v + 1, v[0], &e, &largest);
      return largest;
    case 22:
      CylinderFitError(x, y, z, n, v, v + 3, std::fabs(v[6]), &e, &largest);
      return largest;
    case 23:
      ConeFitError(x, y, z, n, v, v + 3, std::tan(v[6]), &e, &largest);
      return largest;
    case 25:
      for (int i = 0; i < n; ++i) {
        const double p[3] = {x[i], y[i], z[i]};
        double foot[3], d;
        PlaneMinDist(p, v[0], v[1], v[2], v[3], foot, &d);
        largest = std::fmax(largest, std::fabs(d));
      }
      return largest;
    default:
      return kNoValue;
  }
}

// 1 when the surface t lies within kFormTolerance of the form found on it, checked on a grid
// finer than the recognisers'.
bool FormHoldsSurface(const Bspline* t) {
  Bbox box;
  Owned<Cloud, FreeCloud> cloud(SampleSurfaceBspline(t, kCheckSamples, kCheckSamples, 0, box));
  if (!cloud || KernelFailed()) return false;
  double diag2 = 0.0;
  for (int k = 0; k < 3; ++k) diag2 += (box[3 + k] - box[k]) * (box[3 + k] - box[k]);
  return FormDeviation(t, cloud->x, cloud->y, cloud->z, cloud->npts) <= kFormTolerance * std::sqrt(diag2);
}

// A recogniser's result r on t, kept when the form it put there holds t; otherwise the form
// is taken off again and the result is 0.
int Held(int r, Bspline* t) {
  if (r != 1 || !t->quadric) return r;
  if (FormHoldsSurface(t)) return 1;
  FreeQuadricInfo(t);
  return 0;
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
    // Recognised on a copy at unit size (UnitSizeCopy), flagged closed in u: whether the surface
    // is a sphere, cylinder or cone is for its points and boundary circles to say, not for the
    // flag (an extruded circle or a half cylinder is one).
    UnitFrame frame;
    Owned<Bspline, FreeBspline> trial(BsplineShapeSound(s) ? UnitSizeCopy(s, &frame) : nullptr);
    if (trial) trial->closedU = 1;
    Bbox box;
    Owned<Cloud, FreeCloud> cloud(trial ? SampleSurfaceBspline(trial.get(), 20, 20, 0, box) : nullptr);
    if (!cloud || KernelFailed()) {
      if (memory_error != 1) ClearKernelError();
      continue;
    }
    const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
    const int m = cloud->npts;
    Bspline* t = trial.get();
    // A form that does not hold the surface is no recognition: the next kind is tried.
    int r = 0;
    if (request == 0 || request == 2) r = Held(GetSphereFromPts(x, y, z, m, t), t);
    if (r == 0 && (request == 0 || request == 1)) r = Held(GetCylFromPts(x, y, z, m, t), t);
    if (r == 0 && (request == 0 || request == 3)) r = Held(GetConeFromPts(x, y, z, m, t), t);
    if (r == 0 && (request == 0 || request == 4)) r = Held(GetPlaneFromPts(x, y, z, m, box, t), t);
    if (r == 1 && t->quadric) {
      QuadricFormFromUnitFrame(t, frame);
      if (AttachQuadricOf(s, t) == 1) found[i] = 1;
    }
    // A trial that failed is no recognition: the next surface starts with a clean state.
    if (KernelFailed() && memory_error != 1) ClearKernelError();
  }
  return 0;
}
