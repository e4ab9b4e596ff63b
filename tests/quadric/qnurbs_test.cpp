// Exact sphere, cylinder and cone surfaces: every evaluated point lies on its quadric, the
// parametrisation has its documented landmarks, and refused or failed fills attach nothing.
#include <cmath>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/vec3.h"
#include "quadric/qnurbs.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class QuadricSurfaceTest : public KernelTest {};

constexpr double kPi = 3.141592653589793;

// Radial distance from the line (p, unit a) and the height along it.
void AxisCoordinates(const double q[3], const double p[3], const double a[3], double* radial, double* height) {
  double d[3];
  VecDiff3(q, p, d);
  *height = VecDotProd3(d, a);
  *radial = std::sqrt(std::fmax(VecDotProd3(d, d) - *height * *height, 0.0));
}

TEST_F(QuadricSurfaceTest, SpherePointsLieOnTheSphere) {
  Bspline* s = MallocInitSurfaceBspline();
  ASSERT_EQ(SphereNurbs(1, -2, 3, 2.5, s), 0);
  EXPECT_TRUE(s->quadricType == 21 && s->quadric->v[0] == 2.5 && s->quadric->v[3] == 3);
  const double c[3] = {1, -2, 3};
  for (int i = 0; i <= 16; ++i)
    for (int j = 0; j <= 16; ++j) {
      double p[3];
      RefEvalSurface(s, i / 16.0, j / 16.0, p);
      EXPECT_NEAR(VecDist3(p, c), 2.5, 1e-12);
    }
  // The equator at u = 0.125 lies at 45 degrees between the +x and +y sides.
  double p[3];
  RefEvalSurface(s, 0.125, 0.5, p);
  EXPECT_NEAR(p[0] - 1, 2.5 * std::cos(kPi / 4), 1e-12);
  EXPECT_NEAR(p[1] + 2, 2.5 * std::sin(kPi / 4), 1e-12);
  EXPECT_NEAR(p[2], 3, 1e-12);

  // A negative radius gives the same sphere reversed: the antipode of every point.
  Bspline* r = MallocInitSurfaceBspline();
  ASSERT_EQ(SphereNurbs(1, -2, 3, -2.5, r), 0);
  EXPECT_EQ(r->quadric->v[0], -2.5);
  for (double u : {0.0, 0.3, 0.7})
    for (double v : {0.1, 0.5, 0.9}) {
      double a[3], b[3];
      RefEvalSurface(s, u, v, a);
      RefEvalSurface(r, u, v, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k] + b[k], 2 * c[k], 1e-12);
    }
  FreeBspline(r);

  // A record that already holds arrays is refused, untouched (no leak of what it holds).
  double* knots = s->knotsU;
  EXPECT_EQ(SphereNurbs(0, 0, 0, 1, s), -2);
  EXPECT_EQ(s->knotsU, knots);
  const QuadricInfo cyl = {{0, 0, 0, 0, 0, 1, 1, 0, 1}};
  EXPECT_EQ(CylinderNurbs(&cyl, s), -2);
  EXPECT_EQ(ConeNurbs(&cyl, s), -2);
  EXPECT_EQ(s->quadricType, 21);
  FreeBspline(s);
}

TEST_F(QuadricSurfaceTest, CylinderAndConeRulingsFollowTheAxis) {
  const double point[3] = {1, 2, -1};
  double axis[3] = {2, -1, 2}, a[3];
  VecNormalize3(axis, a);
  const QuadricInfo cyl = {{point[0], point[1], point[2], axis[0], axis[1], axis[2], 1.5, -1, 2}};
  Bspline* s = MallocInitSurfaceBspline();
  ASSERT_EQ(CylinderNurbs(&cyl, s), 0);
  EXPECT_EQ(s->quadricType, 22);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(s->quadric->v[k], cyl.v[k]);  // the axis as given
  for (int i = 0; i <= 12; ++i)
    for (int j = 0; j <= 4; ++j) {
      double p[3], radial, height;
      RefEvalSurface(s, i / 12.0, j / 4.0, p);
      AxisCoordinates(p, point, a, &radial, &height);
      EXPECT_NEAR(radial, 1.5, 1e-12);
      EXPECT_NEAR(height, -1 + 3 * j / 4.0, 1e-12);
    }
  FreeBspline(s);

  // Cones with both ends on one side of the apex and with the apex between them: every column
  // (fixed u) is a straight ruling through the apex, and the rows have radius |h| tan(angle).
  for (double start : {0.5, -1.0}) {
    const QuadricInfo cone = {{point[0], point[1], point[2], axis[0], axis[1], axis[2], 0.3, start, 2}};
    Bspline* k = MallocInitSurfaceBspline();
    ASSERT_EQ(ConeNurbs(&cone, k), 0);
    EXPECT_EQ(k->quadricType, 23);
    for (int i = 0; i <= 12; ++i) {
      double p0[3], p1[3], pm[3];
      RefEvalSurface(k, i / 12.0, 0.0, p0);
      RefEvalSurface(k, i / 12.0, 1.0, p1);
      RefEvalSurface(k, i / 12.0, 0.37, pm);
      double d0[3], d1[3], cross[3];
      VecDiff3(p0, point, d0);
      VecDiff3(p1, point, d1);
      VecCrossProd3(d0, d1, cross);
      EXPECT_LT(VecSize3(cross), 1e-12);
      double radial, height;
      AxisCoordinates(pm, point, a, &radial, &height);
      EXPECT_NEAR(radial, std::fabs(height) * std::tan(0.3), 1e-12);
    }
    FreeBspline(k);
  }
  EXPECT_EQ(CylinderNurbs(nullptr, nullptr), -2);
}

TEST_F(QuadricSurfaceTest, ExhaustedMemoryAttachesNothing) {
  const QuadricInfo cyl = {{0, 0, 0, 0, 0, 1, 1, 0, 1}};
  for (int which = 0; which < 3; ++which) {
    RunWithInjectedFailures(30, 1, [&] {
      Bspline* s = MallocInitSurfaceBspline();
      if (!s) return -2;
      const int r = which == 0 ? SphereNurbs(0, 0, 0, 1, s) : which == 1 ? CylinderNurbs(&cyl, s) : ConeNurbs(&cyl, s);
      if (r != 0) {
        EXPECT_TRUE(!s->knotsU && !s->knotsV && !s->X && !s->W && !s->quadric);
      }
      FreeBspline(s);
      return r;
    });
  }
}

}  // namespace
