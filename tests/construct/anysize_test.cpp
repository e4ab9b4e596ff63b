// Constructions and approximations give the same shape at every size and anywhere in space:
// each case is built at unit size, then scaled by 1e-6 .. 1e6 and moved 1e4 sizes from the
// origin, and the answer must be the unit answer mapped the same way; plus the exact answers
// the cases have (tangent planes of the surfaces they meet, rigid profiles, met tolerances).
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "construct/srfmerge.h"
#include "foundation/coreglob.h"
#include "stitch/srfcont.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class AnySize : public KernelTest {};

constexpr double kSizes[] = {1e-6, 1e-3, 0.01, 0.1, 1.0, 1e3, 1e6};

// A placement: p -> size p + shift, shift 1e4 sizes from the origin when far.
struct Place {
  double size;
  double shift[3];
  Place(double s, bool far) : size(s) {
    const double d[3] = {0.6, -0.48, 0.64};
    for (int k = 0; k < 3; ++k) shift[k] = far ? 1e4 * s * d[k] : 0.0;
  }
  void Map(Bspline* b) const {
    const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
    double** c[3] = {b->X, b->Y, b->Z};
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i)
        for (int k = 0; k < 3; ++k) c[k][j][i] = size * c[k][j][i] + shift[k];
  }
  void Map(const double p[3], double out[3]) const {
    for (int k = 0; k < 3; ++k) out[k] = size * p[k] + shift[k];
  }
};

// Largest distance between the control points of b and of ref mapped by pl, over pl's size;
// infinity when the nets differ in shape.
double NetMiss(const Bspline* b, const Bspline* ref, const Place& pl) {
  if (!b || !ref || NumCtrlU(b) != NumCtrlU(ref) || b->kind != ref->kind ||
      (b->kind == 2 && NumCtrlV(b) != NumCtrlV(ref)))
    return INFINITY;
  const int nu = NumCtrlU(b), nv = b->kind == 2 ? NumCtrlV(b) : 1;
  double worst = 0.0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double p[3] = {ref->X[j][i], ref->Y[j][i], ref->Z[j][i]};
      double q[3];
      pl.Map(p, q);
      const double d = std::hypot(b->X[j][i] - q[0], b->Y[j][i] - q[1], b->Z[j][i] - q[2]);
      worst = std::max(worst, d / pl.size);
    }
  return worst;
}

// ---- Bridge between a plane and a cylinder ----------------------------------------------------

struct BridgeCase {
  BsplineKeeper keep;
  Bspline* plane;
  Bspline* cyl;
  Bspline* c1;
  Bspline* c2;
  explicit BridgeCase(const Place& pl) {
    const double O[3] = {1.5, 1.2, 0.0}, e1[3] = {1.0, 0.0, 0.0}, e2[3] = {0.0, 0.0, 1.0};
    plane = keep(shapes::Plane(O, e1, e2));
    cyl = keep(shapes::HalfCylinder(1.0, 0.0, 1.0));
    pl.Map(plane);
    pl.Map(cyl);
    c1 = BuildCurveOnSurface(plane, 3, {0, 0, 0, 1.0 / 3, 0, 2.0 / 3, 0, 1});
    c2 = BuildCurveOnSurface(cyl, 3, {0.25, 0, 0.25, 1.0 / 3, 0.25, 2.0 / 3, 0.25, 1});
  }
  Bspline* Bridge() { return keep(FindMergeSurfFrom2Curve2s(c1, c2, 0, 0, 1, 1, 1.0, 1.0, 0, 0)); }
  // Largest angle, degrees, between the bridge and each surface along its curve.
  double Angle(Bspline* b, double* gap) {
    double worst = 0.0;
    *gap = 0.0;
    for (int side = 0; side < 2; ++side) {
      Bspline* srfs[2] = {b, side == 0 ? plane : cyl};
      Bspline* curves[2] = {nullptr, side == 0 ? c1 : c2};
      int bndry[2] = {side == 0 ? 0 : 2, 0};
      ObjContInfo info{};
      double where[2];
      if (ComputeObjContTrimSurfs2(srfs, curves, bndry, 1, &info, where) != 0) return INFINITY;
      worst = std::max(worst, info.maxAngle);
      *gap = std::max(*gap, info.maxGap);
    }
    return worst;
  }
};

TEST_F(AnySize, BridgeMeetsBothSurfacesAtEverySize) {
  BridgeCase unit(Place(1.0, false));
  Bspline* ref = unit.Bridge();
  ASSERT_NE(ref, nullptr);
  for (double size : kSizes)
    for (bool far : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      const Place pl(size, far);
      BridgeCase g(pl);
      Bspline* b = g.Bridge();
      ASSERT_NE(b, nullptr);
      double gap;
      const double angle = g.Angle(b, &gap);
      EXPECT_LT(angle, 0.5);
      EXPECT_LT(gap, 1e-3 * size);
      EXPECT_LT(NetMiss(b, ref, pl), 1e-6);
    }
}

}  // namespace
