// Cylinder fits: exact points give their cylinder with no error and a surface through every
// point, a rigid motion of the points moves the fit alike, and degenerate inputs are refused.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "quadric/cylinder.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

class CylinderTest : public KernelTest {};

using Points = PointSet;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Points on the cylinder (base, unit frame e with axis e[2], radius r) between heights h0 and h1,
// each moved radially by up to noise.
Points OnCylinder(const double base[3], const double e[3][3], double r, double h0, double h1, double noise,
                  unsigned seed, int rows = 9, int cols = 12) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> N(-noise, noise);
  Points p;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double h = rows > 1 ? h0 + (h1 - h0) * i / (rows - 1) : h0;
      const double t = 6.283185307179586 * (j + 0.29 * i) / cols, rr = r + N(rng);
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = base[k] + h * e[2][k] + rr * (std::cos(t) * e[0][k] + std::sin(t) * e[1][k]);
      p.add(q);
    }
  return p;
}

const double kZFrame[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
// A tilted frame: rows orthonormal.
const double kTilted[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};

TEST_F(CylinderTest, ExactPointsGiveTheirCylinderAndABoundedSurface) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(scale);
    const double base[3] = {0, 0, 2 * scale};
    const Points p = OnCylinder(base, kZFrame, 5 * scale, 0, 10 * scale, 0, 1);
    double P[3], A[3], r, e;
    ASSERT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P, A, &r, &e), 0);
    EXPECT_NEAR(r, 5 * scale, 1e-5 * scale);
    EXPECT_NEAR(std::fabs(A[2]), 1.0, 1e-9);
    EXPECT_EQ(A[0], 0.0);  // components below 1e-6 come out exact
    EXPECT_EQ(A[1], 0.0);
    EXPECT_LT(e, 1e-10 * scale * scale);
    double fe = -1;
    Owned<Bspline, FreeBspline> s(FitCylinderBspline(p.x.data(), p.y.data(), p.z.data(), p.n(), &fe));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->quadricType, 22);
    const double* q = s->quadric->v;
    // Axis point at the lower end of the points (z = 2 or 12 by the axis' sign), height 10.
    EXPECT_NEAR(q[8] - q[7], 10 * scale, 1e-5 * scale);
    EXPECT_NEAR(q[2] + (q[5] > 0 ? 0 : -10 * scale), 2 * scale, 1e-5 * scale);
    // Every input point lies on the surface: its foot on the axis within the surface's heights
    // and its distance from the axis the radius.
    for (int i = 0; i < p.n(); ++i) {
      const double pt[3] = {p.x[i], p.y[i], p.z[i]};
      const double d[3] = {pt[0] - q[0], pt[1] - q[1], pt[2] - q[2]};
      const double h = Dot(d, q + 3);
      EXPECT_GE(h, q[7] - 1e-5 * scale);
      EXPECT_LE(h, q[8] + 1e-5 * scale);
      EXPECT_NEAR(LineDistance(pt, q, q + 3), q[6], 1e-5 * scale);
    }
    // The surface's own points lie on the cylinder too.
    const int du[1] = {0}, dv[1] = {0};
    for (double u : {0.1, 0.6})
      for (double v : {0.0, 0.5, 1.0}) {
        double sp[1][3];
        ASSERT_EQ(EvalPointOnGeometryM(s.get(), s->umin + u * (s->umax - s->umin), s->vmin + v * (s->vmax - s->vmin),
                                       du, dv, 1, 0, sp), 0);
        EXPECT_NEAR(std::hypot(sp[0][0], sp[0][1]), 5 * scale, 1e-5 * scale);
      }
  }
}

TEST_F(CylinderTest, RigidMotionMovesTheFitAlike) {
  const double base[3] = {0, 0, 0};
  const Points p = OnCylinder(base, kZFrame, 2.0, -3, 3, 0.01, 5);
  // The same points in the tilted frame, moved.
  const double shift[3] = {10, -4, 7};
  Points q;
  for (int i = 0; i < p.n(); ++i) {
    double m[3];
    for (int k = 0; k < 3; ++k)
      m[k] = shift[k] + p.x[i] * kTilted[0][k] + p.y[i] * kTilted[1][k] + p.z[i] * kTilted[2][k];
    q.add(m);
  }
  double P0[3], A0[3], r0, e0, P1[3], A1[3], r1, e1;
  ASSERT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), p.n(), P0, A0, &r0, &e0), 0);
  ASSERT_EQ(FitCylinder(q.x.data(), q.y.data(), q.z.data(), q.n(), P1, A1, &r1, &e1), 0);
  EXPECT_NEAR(r1, r0, 1e-5);
  EXPECT_NEAR(e1, e0, 1e-7);
  EXPECT_NEAR(std::fabs(Dot(A1, kTilted[2])), 1.0, 1e-6);
  // The moved axis passes through the moved fitted axis point.
  double M0[3];
  for (int k = 0; k < 3; ++k) M0[k] = shift[k] + P0[0] * kTilted[0][k] + P0[1] * kTilted[1][k] + P0[2] * kTilted[2][k];
  // The polish stops within a fraction of the noise of the optimum, not at it.
  EXPECT_LT(LineDistance(M0, P1, A1), 5e-3);
  // The known radius finds the same axis.
  double P2[3], A2[3], e2;
  ASSERT_EQ(FitCylinderWithGivenRadius(q.x.data(), q.y.data(), q.z.data(), q.n(), r0, P2, A2, &e2), 0);
  EXPECT_NEAR(std::fabs(Dot(A2, A1)), 1.0, 1e-6);
  EXPECT_LT(LineDistance(P2, P1, A1), 1e-4);
  Owned<Bspline, FreeBspline> s(FitCylinderBsplineGivenRadius(q.x.data(), q.y.data(), q.z.data(), q.n(), r0));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->quadric->v[6], r0);
}

TEST_F(CylinderTest, DegenerateInputsAreRefused) {
  const double base[3] = {1, 2, 3};
  const Points p = OnCylinder(base, kTilted, 1.5, 0, 2, 0, 2);
  double P[3], A[3], r, e;
  EXPECT_EQ(FitCylinder(p.x.data(), p.y.data(), nullptr, p.n(), P, A, &r, &e), -2);
  EXPECT_EQ(FitCylinderWithGivenRadius(p.x.data(), p.y.data(), nullptr, p.n(), 1.5, P, A, &e), -2);
  EXPECT_EQ(FitCylinderWithGivenRadius(p.x.data(), p.y.data(), p.z.data(), p.n(), -1, P, A, &e), -2);
  // Five points leave the solver fewer residuals than its seven parameters.
  EXPECT_EQ(FitCylinder(p.x.data(), p.y.data(), p.z.data(), 5, P, A, &r, &e), -2);
  const std::vector<float> same(8, 0.5f);
  EXPECT_EQ(FitCylinder(same.data(), same.data(), same.data(), 8, P, A, &r, &e), -2);
  EXPECT_EQ(FitCylinderBspline(p.x.data(), p.y.data(), nullptr, p.n(), &e), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  // One circle of points at sizes 1e-6 .. 1e6: a surface of the least height, a thousandth of
  // the longest side of the points' box (3 across).
  for (double size : {1e-6, 1.0, 1e6}) {
    const double at[3] = {base[0] * size, base[1] * size, base[2] * size};
    const Points ring = OnCylinder(at, kZFrame, 1.5 * size, 0, 0, 0, 3, 1, 16);
    Owned<Bspline, FreeBspline> s(FitCylinderBspline(ring.x.data(), ring.y.data(), ring.z.data(), ring.n(), &e));
    ASSERT_TRUE(s);
    EXPECT_NEAR(s->quadric->v[8], 0.003 * size, 1e-8 * size);
    EXPECT_NEAR(s->quadric->v[6], 1.5 * size, 1e-5 * size);
  }
}

TEST_F(CylinderTest, AllocationFailuresLeaveNothing) {
  const double base[3] = {0, 0, 0};
  const Points p = OnCylinder(base, kTilted, 1.0, 0, 3, 0.001, 4, 5, 8);
  EXPECT_GT(RunMakerWithInjectedFailures(80, 1, [&](Bspline** out) {
              double e;
              *out = FitCylinderBspline(p.x.data(), p.y.data(), p.z.data(), p.n(), &e);
              return *out ? 0 : -2;
            }), 0);
  RunMakerWithInjectedFailures(80, 3, [&](Bspline** out) {
    *out = FitCylinderBsplineGivenRadius(p.x.data(), p.y.data(), p.z.data(), p.n(), 1.0);
    return *out ? 0 : -2;
  });
}

}  // namespace
