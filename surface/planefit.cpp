#include "surface/planefit.h"

#include "bspline/measure.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/crvproj.h"
#include "curve/planefit.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/trimutils.h"

namespace {

// The curves lie in the patch's plane up to the plane fit's residual, so their projections are
// fitted to a thousandth of the patch's size (0.01 for a patch of diagonal 10).
constexpr double kProjectionTol = 1e-3;

}  // namespace

int CreatePlaneBsplineTrimmedToCurves(Bspline** curves, int n, Bspline** patch) {
  if (!patch) return -2;
  *patch = nullptr;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> plane(BsplinePlaneFrom3DLines(curves, n));
  if (!plane || KernelFailed()) return -2;
  const double tol = kProjectionTol * ControlPointDiagonal(plane.get());
  // The projected curves sit on the patch's curve list (the patch owns them); the loop gets
  // nodes of its own over them, in curve order.
  BsplineList* loopCurves = nullptr;
  BsplineList** tail = &loopCurves;
  for (int k = 0; k < n; ++k) {
    BsplineList** before = tail;
    *tail = SurfCurveProjectClosestGeometry(plane.get(), curves[k], 0, tol, 1, 0);
    while (*tail) tail = &(*tail)->next;
    if (tail == before || KernelFailed()) {
      // A failed projection may hand back curves it could not list on the patch: each goes
      // with its node (FreeBspline takes a listed one off the patch's list).
      FreeCurvesAndNodes(loopCurves);
      return -2;
    }
  }
  BsplineList* replaced = nullptr;
  TrimList* loop = nullptr;
  double cu[4], cv[4];
  // Snipped with the curves kept as they run and ends that miss each other taken to their nearer
  // ends; refused when the loop crosses itself. A refused loop takes its nodes with it.
  const int made = ConstructTrimCurveList(plane.get(), loopCurves, 0, 1, cu, cv, 1, 0, 1, &replaced, &loop);
  // The curves the snip replaced by their pieces are of no further use.
  FreeCurvesAndNodes(replaced);
  if (made != 0 || !loop || KernelFailed()) return -2;
  scope.keep();
  *patch = plane.release();
  return 0;
}
