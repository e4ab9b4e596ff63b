// Makes a cubic curve, evaluates it, refines it by knot insertion and frees it.
#include <cstdio>

#include "bspline/kinsert.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"

int main() {
  // Degree 3, 4 control points in 3D: 4 + 3 + 1 = 8 knots, clamped on [0, 1].
  Bspline* c = MallocCurveBspline(3, 3, 4);
  if (!c) return 1;
  const double knots[8] = {0, 0, 0, 0, 1, 1, 1, 1};
  const double x[4] = {0, 1, 2, 4}, y[4] = {0, 2, -1, 0}, z[4] = {1, 0, 3, 2};
  for (int i = 0; i < 8; ++i) c->knotsU[i] = knots[i];
  for (int i = 0; i < 4; ++i) {
    c->X[0][i] = x[i];  // control point i of the one row of a curve
    c->Y[0][i] = y[i];
    c->Z[0][i] = z[i];
  }
  c->umin = 0.0;
  c->umax = 1.0;

  double before[3], after[3];
  Eval3DPointOnCurve3Array(c, 0.3, 0, before);  // position (0th derivative) at t = 0.3
  double t = 0.5;
  InsertNKnotsToObject(1, 1, 0, c, 2, &t);  // one knot at 0.5: same shape, 5 control points
  Eval3DPointOnCurve3Array(c, 0.3, 0, after);
  if (KernelFailed()) {  // a refused record or a failed allocation
    fprintf(stderr, "kernel error %d\n", zk_error_status);
    ClearKernelError();
    FreeBspline(c);
    return 1;
  }
  printf("%d control points; C(0.3) = (%g, %g, %g), after refinement (%g, %g, %g)\n", NumCtrlU(c),
         before[0], before[1], before[2], after[0], after[1], after[2]);
  FreeBspline(c);
  return 0;
}
