#include "construct/quadrics.h"

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "construct/srfr2nr.h"
#include "curve/quadrics.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "quadric/quadrics.h"

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
    int r = 0;
    if (request == 0 || request == 2) r = GetSphereFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 1)) r = GetCylFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 3)) r = GetConeFromPts(x, y, z, m, t);
    if (r == 0 && (request == 0 || request == 4)) r = GetPlaneFromPts(x, y, z, m, box, t);
    if (r == 1 && t->quadric) {
      QuadricFormFromUnitFrame(t, frame);
      if (AttachQuadricOf(s, t) == 1) found[i] = 1;
    }
    // A trial that failed is no recognition: the next surface starts with a clean state.
    if (KernelFailed() && memory_error != 1) ClearKernelError();
  }
  return 0;
}
