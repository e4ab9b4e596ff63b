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
#include "foundation/unitfrm.h"
#include "quadric/quadrics.h"

namespace {

// A copy of the surface without curves in the unit frame of its control-point box (moved to the
// box's centre and scaled by the power of two at or below its longest side), which *frame
// receives. The recognisers' fits and
// tolerances are set for unit size, and their samples are single precision: a part far from the
// origin keeps its digits only once moved. The copy is flagged closed in u: whether the surface
// is a sphere, cylinder or cone is for its points and boundary circles to say, not for the flag
// (an extruded circle or a half cylinder is one). Null for a box of no extent or on failure.
Bspline* UnitSizeTrial(Bspline* s, UnitFrame* frame) {
  double lo[3], hi[3];
  ControlPointBox(s, lo, hi);
  double size = 0.0;
  for (int c = 0; c < 3; ++c) {
    size = std::fmax(size, hi[c] - lo[c]);
    frame->centre[c] = 0.5 * lo[c] + 0.5 * hi[c];
  }
  if (!(size > 0.0) || !std::isfinite(size)) return nullptr;
  // A power of two: the scaling is exact, and the recognisers' tolerances keep the sizes they
  // were set for (the longest side between 1 and 2).
  frame->size = std::ldexp(1.0, std::ilogb(size));
  Bspline* copy = CopyBsplineSurface(s);
  if (!copy) return nullptr;
  double** m[3] = {copy->X, copy->Y, copy->Z};
  for (int j = 0; j < NumCtrlV(copy); ++j)
    for (int i = 0; i < NumCtrlU(copy); ++i) {
      double p[3] = {m[0][j][i], m[1][j][i], m[2][j][i]};
      PointToUnitFrame(*frame, p, p);
      for (int c = 0; c < 3; ++c) m[c][j][i] = p[c];
    }
  copy->closedU = 1;
  return copy;
}

// The exact form found on the unit-size trial, taken back to the surface's frame: positions
// mapped back, lengths times the size, directions and angles as they are.
void FormFromUnitFrame(Bspline* trial, const UnitFrame& frame) {
  double* v = trial->quadric->v;
  switch (trial->quadricType) {
    case 21:  // radius, centre
      v[0] *= frame.size;
      PointFromUnitFrame(frame, v + 1, v + 1);
      break;
    case 22:  // axis point, axis, radius, start and end heights
    case 23:  // apex, axis, half angle, start and end heights
      PointFromUnitFrame(frame, v, v);
      for (int k : {7, 8}) v[k] *= frame.size;
      if (trial->quadricType == 22) v[6] *= frame.size;
      break;
    case 25:  // a x + b y + c z + d = 0 with x = (X - centre) / size
      v[3] = v[3] * frame.size - (v[0] * frame.centre[0] + v[1] * frame.centre[1] + v[2] * frame.centre[2]);
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
    UnitFrame frame;
    Owned<Bspline, FreeBspline> trial(BsplineShapeSound(s) ? UnitSizeTrial(s, &frame) : nullptr);
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
      FormFromUnitFrame(t, frame);
      if (AttachQuadricOf(s, t) == 1) found[i] = 1;
    }
    // A trial that failed is no recognition: the next surface starts with a clean state.
    if (KernelFailed() && memory_error != 1) ClearKernelError();
  }
  return 0;
}
