// Cylinder and cone fits of one shape at sizes 1e-6 .. 1e6, at the origin and moved 1e4 x its size
// away: the same axis, radius and half angle relative to the size, whatever the outliers, and no
// coordinate of a small part clipped away.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "quadric/cone.h"
#include "quadric/cylinder.h"
#include "quadric/sphere.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

class FitAnywhere : public KernelTest {};

constexpr double kSizes[] = {1e-6, 1e-3, 1.0, 1e3, 1e6};
constexpr double kFar[3] = {1e4, -6e3, 3.5e3};  // times the size
constexpr double kDeg = 0.017453292519943295;

// A tilted orthonormal frame; row 2 is the axis.
const double kFrame[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The point base + h axis + r (cos t e0 + sin t e1), all in units of size, moved by offset x size.
void Place(const double base[3], double h, double r, double t, double size, const double offset[3], double out[3]) {
  for (int k = 0; k < 3; ++k)
    out[k] = size * (offset[k] + base[k] + h * kFrame[2][k] +
                     r * (std::cos(t) * kFrame[0][k] + std::sin(t) * kFrame[1][k]));
}

// A 60-degree sector of the cylinder of radius 0.5 about the axis through base, one unit high;
// every twentieth point 0.15 outside (5% outliers).
PointSet Sector(const double base[3], double size, const double offset[3], bool outliers) {
  PointSet p;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 12; ++j) {
      const int index = 12 * i + j;
      const double r = outliers && index % 20 == 7 ? 0.65 : 0.5;
      double q[3];
      Place(base, 0.1 * i, r, 60 * kDeg * (j + 0.3 * (i % 2)) / 11, size, offset, q);
      p.add(q);
    }
  return p;
}

const double kBase[3] = {0.3, -0.2, 0.1};

TEST_F(FitAnywhere, CylinderSectorWithOutliersGivesOneAxisEverywhere) {
  const double origin[3] = {0, 0, 0};
  for (bool outliers : {false, true}) {
    // The reference: size 1 at the origin.
    const PointSet ref = Sector(kBase, 1.0, origin, outliers);
    double P0[3], A0[3], r0, e0;
    ASSERT_EQ(FitCylinder(ref.x.data(), ref.y.data(), ref.z.data(), ref.n(), P0, A0, &r0, &e0), 0);
    if (!outliers) {
      EXPECT_NEAR(std::fabs(Dot(A0, kFrame[2])), 1.0, 1e-10);
      EXPECT_NEAR(r0, 0.5, 1e-6);
    }
    for (double size : kSizes)
      for (bool far : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "outliers " << outliers << " size " << size << " far " << far);
        const double* offset = far ? kFar : origin;
        const PointSet p = Sector(kBase, size, offset, outliers);
        double P[3], A[3], r, e;
        ASSERT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P, A, &r, &e), 0);
        // Single-precision points 1e4 sizes away are rounded to 6e-4 of the size, near the
        // origin to 6e-8 of it; a sector's fit is ill-conditioned across its bisector, and more
        // so with outliers, which magnifies that rounding a hundredfold.
        const double rounding = far ? (outliers ? 2e-3 : 1e-3) : (outliers ? 3e-5 : 1e-6);
        EXPECT_LT(std::acos(std::fmin(1.0, std::fabs(Dot(A, A0)))), 2 * rounding);
        EXPECT_NEAR(r / size, r0, rounding);
        // The outliers' mean squared error, a flat minimum, agrees to a percent.
        EXPECT_NEAR(e / (size * size), e0, outliers ? 1e-2 * e0 : rounding * rounding);
        // The reference axis where it passes the points, moved and scaled, lies on the fitted one.
        for (double h : {0.0, 0.9}) {
          double t[3], q[3];
          for (int k = 0; k < 3; ++k) t[k] = kBase[k] + h * kFrame[2][k] - P0[k];
          const double along = Dot(t, A0);
          for (int k = 0; k < 3; ++k) q[k] = size * (offset[k] + P0[k] + along * A0[k]);
          EXPECT_LT(LineDistance(q, P, A) / size, 2 * rounding) << h;
        }
        // Without outliers every point lies on the fitted cylinder, to its rounding.
        if (!outliers)
          for (int i = 0; i < p.n(); ++i) {
            const double q[3] = {p.x[i], p.y[i], p.z[i]};
            ASSERT_NEAR(LineDistance(q, P, A) / size, 0.5, rounding) << i;
          }
        // The surface over the points is as high as they are in every unit.
        Owned<Bspline, FreeBspline> s(FitCylinderBspline(p.x.data(), p.y.data(), p.z.data(), p.n(), &e));
        ASSERT_TRUE(s);
        EXPECT_NEAR(s->quadric->v[8] / size, 0.9, 0.02);
      }
  }
}

// Points on the cone with apex at base, half angle 5 degrees, between heights 1 and 2.
PointSet Cone(const double base[3], double size, const double offset[3]) {
  PointSet p;
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 12; ++j) {
      const double h = 1.0 + i / 7.0;
      double q[3];
      Place(base, h, h * std::tan(5 * kDeg), 6.283185307179586 * (j + 0.41 * i) / 12, size, offset, q);
      p.add(q);
    }
  return p;
}

TEST_F(FitAnywhere, ThinConeIsFittedAtEverySizeAndPlace) {
  const double origin[3] = {0, 0, 0};
  for (double size : kSizes)
    for (bool far : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far);
      const double* offset = far ? kFar : origin;
      const PointSet p = Cone(kBase, size, offset);
      QuadricInfo info;
      double error = -1;
      ASSERT_EQ(FitCone(p.x.data(), p.y.data(), p.z.data(), p.n(), &info, &error), 0);
      EXPECT_FALSE(KernelFailed());
      // The points span 0.25 of the size across; far away they are rounded to 6e-4 of it.
      const double rounding = far ? 3e-3 : 1e-5;
      EXPECT_NEAR(info.v[6], 5 * kDeg, 10 * rounding);
      EXPECT_NEAR(std::fabs(Dot(info.v + 3, kFrame[2])), 1.0, rounding);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(info.v[k] / size - offset[k], kBase[k], 20 * rounding) << k;
      EXPECT_NEAR(std::fabs(info.v[8] - info.v[7]) / size, 1.0, rounding);
    }
}

// Integer points of the sphere of radius 9 (and a cap of it), turned by the integer matrix 7 R and
// moved by an integer offset, scaled by a power of two from 2^-20 to 2^20: single precision holds
// every coordinate, near the origin and 1e4 radii from it, so the sphere has an exact answer and
// every size and place the same answer relative to the size.
TEST_F(FitAnywhere, LatticeSphereAndCapAreFittedExactlyAtEverySizeAndPlace) {
  constexpr int kTurn[3][3] = {{3, -2, 6}, {6, 3, -2}, {-2, 6, 3}};
  for (int e : {-20, -10, 0, 10, 20})
    for (bool far : {false, true})
      for (int lowest : {-9, 5}) {  // the whole sphere, a cap above z = 5 (a sixth of its height)
        SCOPED_TRACE(::testing::Message() << "2^" << e << " far " << far << " cap " << (lowest > -9));
        const double scale = std::ldexp(1.0, e);
        const double offset[3] = {far ? 630000.0 : 5.0, far ? -378000.0 : -3.0, far ? 220500.0 : 2.0};
        PointSet p;
        for (int x = -9; x <= 9; ++x)
          for (int y = -9; y <= 9; ++y)
            for (int z = lowest; z <= 9; ++z) {
              if (x * x + y * y + z * z != 81) continue;
              const int q[3] = {x, y, z};
              double w[3];
              for (int r = 0; r < 3; ++r)
                w[r] = (offset[r] + kTurn[r][0] * q[0] + kTurn[r][1] * q[1] + kTurn[r][2] * q[2]) * scale;
              p.add(w);
            }
        double centre[3], r = -1, err = -1;
        ASSERT_EQ(FitSphere(p.x.data(), p.y.data(), p.z.data(), p.n(), centre, &r, &err), 0);
        // The fit's single-precision copies about the centroid keep 2e-8 of the radius.
        EXPECT_NEAR(r / scale, 63.0, 63.0 * 2e-8);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(centre[k] / scale, offset[k], 63.0 * 2e-8) << k;
        EXPECT_LT(err, 1e-15 * r * r);
      }
}

// A flat grid with one point raised: refused when the rise is well within a thousandth of the
// points' spread from their centroid, fitted when well beyond it, at every size and place alike.
TEST_F(FitAnywhere, SphereFitRefusesFlatPointsRelativeToTheirSize) {
  const double origin[3] = {0, 0, 0};
  for (double size : kSizes)
    for (bool far : {false, true})
      for (double rise : {1e-4, 1e-2}) {
        SCOPED_TRACE(::testing::Message() << "size " << size << " far " << far << " rise " << rise);
        const double* offset = far ? kFar : origin;
        PointSet p;
        for (int i = 0; i < 5; ++i)
          for (int j = 0; j < 5; ++j) {
            double q[3];
            Place(kBase, i == 2 && j == 2 ? rise : 0.0, 0.0, 0.0, size, offset, q);
            for (int k = 0; k < 3; ++k) q[k] += size * (0.25 * i * kFrame[0][k] + 0.25 * j * kFrame[1][k]);
            p.add(q);
          }
        double centre[3], r, err;
        EXPECT_EQ(FitSphere(p.x.data(), p.y.data(), p.z.data(), p.n(), centre, &r, &err), rise < 1e-3 ? -2 : 0);
      }
}

}  // namespace
