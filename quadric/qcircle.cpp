#include "quadric/qcircle.h"

#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

Bspline* NewCircleBspline(const double centre[3], double radius) {
  // Four quarter arcs, each a rational quadratic Bezier whose middle weight is cos 45 degrees.
  static const double kSquare[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0},
                                       {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  static const double kKnots[12] = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
  constexpr double kMidWeight = 0.7071067811865475;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->rational = 1;
  c->closedU = 2;
  c->degreeU = 2;
  c->interiorU = 6;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i < 12; ++i) c->knotsU[i] = kKnots[i];
  c->umin = c->knotsU[2];
  c->umax = c->knotsU[9];
  for (int k = 0; k < 9; ++k) {
    c->X[0][k] = centre[0] + radius * kSquare[k][0];
    c->Y[0][k] = centre[1] + radius * kSquare[k][1];
    c->Z[0][k] = centre[2];
    c->W[0][k] = k % 2 ? kMidWeight : 1.0;
  }
  const QuadricInfo circle = {{centre[0], centre[1], centre[2], 0.0, 0.0, 1.0, radius}};
  c->quadric = DuplicateQuadricInfo(&circle, QuadricDoubles(2));
  if (!c->quadric || KernelFailed()) return nullptr;
  c->quadricType = 2;
  scope.keep();
  return c.release();
}

Bspline* MakeCircleWGivenAxis(const double centre[3], double r, const double axis[3]) {
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  Bspline* c = NewCircleBspline(kOrigin, r);
  if (!c) return nullptr;
  // The circle is made about the origin in the xy plane; the inverse of the frame that takes
  // the axis onto +z turns it into the plane normal to the axis, then it moves to the centre.
  Xform M, Minv;
  Get_imat(Minv);
  if (VecSize3(axis) >= 1e-10) {
    TransformToZAxis(kOrigin, axis, M);
    mat_inverse4(M, Minv);
  }
  for (int k = 0; k < NumCtrlU(c); ++k) {
    vector_xform(&c->X[0][k], &c->Y[0][k], &c->Z[0][k], Minv);
    c->X[0][k] += centre[0];
    c->Y[0][k] += centre[1];
    c->Z[0][k] += centre[2];
  }
  for (int k = 0; k < 3; ++k) {
    c->quadric->v[k] = centre[k];
    c->quadric->v[3 + k] = axis[k];
  }
  return c;
}
