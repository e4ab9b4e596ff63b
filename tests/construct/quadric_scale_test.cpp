// Exact quadric offsets and recognition at sizes 1e-6 .. 1e6: offsets that reach or pass the
// centre or axis are refused with their limiting distance, whichever way the normals point;
// spheres, cylinders (closed, extruded from a circle, halved) and cones built at any size are
// recognised with their own centre, axis and radius in their own units, and a bent copy is not.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/subobj.h"
#include "construct/extrude.h"
#include "construct/quadrics.h"
#include "construct/srfoffst.h"
#include "quadric/qcircle.h"
#include "quadric/quadrics.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"

namespace {

class QuadricScale : public KernelTest {};

constexpr double kSizes[] = {1e-6, 1e-3, 1.0, 1e3, 1e6};

// The exact form's values, taken off the surface so that recognition has to find them again.
std::vector<double> Strip(Bspline* b) {
  if (!b->quadric) return {};
  std::vector<double> v(b->quadric->v, b->quadric->v + QuadricDoubles(b->quadricType));
  FreeQuadricInfo(b);
  return v;
}

int Identify(Bspline* s, int request) {
  int found = 0;
  EXPECT_EQ(IdentifySurfQuadric(&s, 1, request, &found), 0);
  return found;
}

// 1 when the normals of the sphere or cylinder point toward its centre or axis.
bool Inward(Bspline* s) {
  double limit = 0.0;
  return CheckForQuadricSurface(s, 0.0, &limit) == -10 && limit != 100000.0;
}

TEST_F(QuadricScale, OffsetsThroughTheCentreOrAxisAreRefusedWithTheirLimit) {
  for (double size : kSizes) {
    for (double sign : {1.0, -1.0}) {  // a negative radius turns the normals round
      BsplineKeeper keep;
      const double R = 0.5 * size;
      const QuadricInfo cylInfo = {{0.1 * size, 0.2 * size, 0.0, 0.0, 0.0, 1.0, sign * R, -size, size}};
      Bspline* made[2] = {keep(CreateSphereBspline(0.3 * size, -0.2 * size, 0.1 * size, sign * R)),
                          keep(CreateCylinderBspline(&cylInfo))};
      for (Bspline* s : made) {
        ASSERT_NE(s, nullptr);
        SCOPED_TRACE(::testing::Message() << "size " << size << " sign " << sign << " type " << s->quadricType);
        // The signed distance that reaches the centre or axis.
        const double toCentre = Inward(s) ? R : -R;
        for (double f : {1.0, 1.5, 3.0}) {
          double limit = 0.0;
          EXPECT_EQ(OffsetQuadricSurface(s, f * toCentre, &limit), nullptr) << f;
          EXPECT_EQ(limit, toCentre) << f;
          limit = 0.0;
          EXPECT_EQ(CheckForQuadricSurface(s, f * toCentre, &limit), -100) << f;
          EXPECT_EQ(limit, toCentre) << f;
        }
        EXPECT_FALSE(KernelFailed());
        // Half way in and one radius out both work: radius R / 2 and 2 R, the sign kept.
        for (double f : {0.5, -1.0}) {
          double limit = 0.0;
          EXPECT_EQ(CheckForQuadricSurface(s, f * toCentre, &limit), -10) << f;
          Bspline* off = keep(OffsetQuadricSurface(s, f * toCentre, &limit));
          ASSERT_NE(off, nullptr) << f;
          ASSERT_EQ(off->quadricType, s->quadricType);
          const double r2 = off->quadricType == 21 ? off->quadric->v[0] : off->quadric->v[6];
          EXPECT_NEAR(r2, sign * (1.0 - f) * R, 1e-12 * R) << f;
        }
      }
    }
  }
}

TEST_F(QuadricScale, QuadricsAreRecognisedAtEverySizeWhateverTheirClosedFlag) {
  for (double size : kSizes) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    BsplineKeeper keep;
    const double tol = 1e-6 * size;
    // A sphere: its centre and radius.
    const double c[3] = {0.3 * size, -0.2 * size, 0.1 * size};
    Bspline* sphere = keep(CreateSphereBspline(c[0], c[1], c[2], 0.5 * size));
    ASSERT_NE(sphere, nullptr);
    Strip(sphere);
    ASSERT_EQ(Identify(sphere, 0), 1);
    ASSERT_EQ(sphere->quadricType, 21);
    EXPECT_NEAR(std::fabs(sphere->quadric->v[0]), 0.5 * size, tol);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(sphere->quadric->v[1 + k], c[k], tol) << k;
    // Cylinders about the axis through (0.1, 0.2) size along z, radius 0.5 size: closed, half
    // of it (open in u), and a circle extruded along the axis (open flag, same geometry).
    const QuadricInfo info = {{0.1 * size, 0.2 * size, 0.0, 0.0, 0.0, 1.0, 0.5 * size, -0.5 * size, 0.5 * size}};
    Bspline* closed = keep(CreateCylinderBspline(&info));
    ASSERT_NE(closed, nullptr);
    Bspline* half = keep(ExtractParamRange(closed, 0, closed->umin, 0.5 * (closed->umin + closed->umax)));
    const double base[3] = {0.1 * size, 0.2 * size, -0.5 * size};
    Bspline* circle = keep(NewCircleBspline(base, 0.5 * size));
    double dir[3] = {0, 0, 1};
    Bspline* extruded = keep(CreateExtrudeSurface(circle, 0, dir, size));
    ASSERT_TRUE(half && extruded);
    EXPECT_EQ(half->closedU, 0);
    EXPECT_EQ(extruded->closedU, 0);
    for (Bspline* cyl : {closed, half, extruded}) {
      Strip(cyl);
      ASSERT_EQ(Identify(cyl, 0), 1);
      ASSERT_EQ(cyl->quadricType, 22);
      const double* e = cyl->quadric->v;
      EXPECT_NEAR(std::fabs(e[6]), 0.5 * size, tol);
      const double onAxis[2][3] = {{0.1 * size, 0.2 * size, 0.0}, {0.1 * size, 0.2 * size, size}};
      for (const auto& p : onAxis) EXPECT_LT(LineDistance(p, e, e + 3), tol);
    }
    // A cone: apex, axis and half angle.
    const QuadricInfo coneInfo = {{0.5 * size, -size, 2 * size, 0, 1, 0, 0.4, 0.5 * size, 1.5 * size}};
    Bspline* cone = keep(CreateConeBspline(&coneInfo));
    ASSERT_NE(cone, nullptr);
    Strip(cone);
    ASSERT_EQ(Identify(cone, 0), 1);
    ASSERT_EQ(cone->quadricType, 23);
    const double* e = cone->quadric->v;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(e[k], coneInfo.v[k], 1e-4 * size) << k;
    EXPECT_NEAR(std::fabs(e[4]) / std::sqrt(e[3] * e[3] + e[4] * e[4] + e[5] * e[5]), 1.0, 1e-8);
    EXPECT_NEAR(e[6], 0.4, 1e-6);
    // Bent out of shape, the half cylinder is no quadric at any size.
    Bspline* bent = keep(ExtractParamRange(closed, 0, closed->umin, 0.5 * (closed->umin + closed->umax)));
    Strip(bent);
    bent->X[1][2] += 0.2 * size;
    EXPECT_EQ(Identify(bent, 0), 0);
    EXPECT_EQ(bent->quadricType, 0);
    EXPECT_FALSE(KernelFailed());
  }
}

}  // namespace

namespace {

// The values of the form found once the surface, stripped of its own, has every control point
// moved by offset; null unless it is recognised under request as type.
const double* FoundWhenMoved(Bspline* b, const double offset[3], int request, int type) {
  if (!b) return nullptr;
  Strip(b);
  for (int j = 0; j < NumCtrlV(b); ++j)
    for (int i = 0; i < NumCtrlU(b); ++i) {
      b->X[j][i] += offset[0];
      b->Y[j][i] += offset[1];
      b->Z[j][i] += offset[2];
    }
  return Identify(b, request) == 1 && b->quadricType == type ? b->quadric->v : nullptr;
}

TEST_F(QuadricScale, PartsOfQuadricsAreRecognisedFarFromTheOrigin) {
  for (double size : kSizes)
    for (bool far : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      const double offset[3] = {far ? 1e4 * size : 0.0, far ? -6e3 * size : 0.0, far ? 3.5e3 * size : 0.0};
      BsplineKeeper keep;
      // A sixth of a cylinder (a 60-degree sector at most) about the axis through (0.1, 0.2) along z.
      const QuadricInfo info = {{0.1 * size, 0.2 * size, 0.0, 0.0, 0.0, 1.0, 0.5 * size, -0.5 * size, 0.5 * size}};
      Bspline* cyl = keep(CreateCylinderBspline(&info));
      ASSERT_NE(cyl, nullptr);
      Bspline* sector = keep(ExtractParamRange(cyl, 0, cyl->umin, cyl->umin + (cyl->umax - cyl->umin) / 6));
      const double* e = FoundWhenMoved(sector, offset, 1, 22);
      ASSERT_NE(e, nullptr);
      EXPECT_NEAR(std::fabs(e[6]), 0.5 * size, 1e-6 * size);
      for (double h : {0.0, 1.0}) {
        const double p[3] = {0.1 * size + offset[0], 0.2 * size + offset[1], h * size + offset[2]};
        EXPECT_LT(LineDistance(p, e, e + 3), 1e-6 * size) << h;
      }
      // A cone of half angle 5 degrees.
      const double half = 0.08726646259971647;
      const QuadricInfo coneInfo = {{0.5 * size, -size, 2 * size, 0, 1, 0, half, 0.5 * size, 1.5 * size}};
      const double* c = FoundWhenMoved(keep(CreateConeBspline(&coneInfo)), offset, 3, 23);
      ASSERT_NE(c, nullptr);
      EXPECT_NEAR(c[6], coneInfo.v[6], 1e-6);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[k], coneInfo.v[k] + offset[k], 1e-4 * size) << k;
      // A cap of a sphere: its radius and centre.
      Bspline* sphere = keep(CreateSphereBspline(0.3 * size, -0.2 * size, 0.1 * size, 0.5 * size));
      ASSERT_NE(sphere, nullptr);
      const double vCap = sphere->vmin + 0.25 * (sphere->vmax - sphere->vmin);
      const double* s = FoundWhenMoved(keep(ExtractParamRange(sphere, 1, sphere->vmin, vCap)), offset, 0, 21);
      ASSERT_NE(s, nullptr);
      EXPECT_NEAR(std::fabs(s[0]), 0.5 * size, 1e-6 * size);
      const double centre[3] = {0.3 * size, -0.2 * size, 0.1 * size};
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(s[1 + k], centre[k] + offset[k], 1e-6 * size) << k;
      EXPECT_FALSE(KernelFailed());
    }
}

}  // namespace
