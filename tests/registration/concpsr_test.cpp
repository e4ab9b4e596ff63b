#include "registration/concpsr.h"

#include <cmath>
#include <cstring>
#include <random>

#include "foundation/geometry.h"
#include "registration/cpsr.h"
#include "tests/registration/freedom.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

using freedom::AboutLine;
using freedom::Apply;
using freedom::Around;
using freedom::Then;

// A cloud without symmetry around C, of size `scale`.
PointSet Part(std::mt19937& rng, const double C[3], double scale, int n) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  PointSet s;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {C[0] + scale * (0.3 + u(rng)), C[1] + scale * 0.6 * u(rng), C[2] + scale * 0.4 * u(rng)};
    s.add(p);
  }
  return s;
}

double Residual(const PointSet& a, const PointSet& b, const RegVec& m) {
  double r = -1.0;
  CorPntSetRegistrationError(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(), &m,
                             &r);
  return r;
}

int Solve(const PointSet& a, const PointSet& b, const RegConstraint* c, RegVec* m, double* r) {
  return ConstrainedRegCorPntSet(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(), c,
                                 m, r);
}

// A motion the mode allows; kind 2 with the centre in a plane (mode 42) is built here, the
// others come from the matchers' sampler.
RegVec Allowed(std::mt19937& rng, const RegConstraint& c, double scale) {
  if (GetRegConstraintMode(c) != 42) return freedom::Sample(rng, c, scale);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double P[3], r[3];
  for (int k = 0; k < 3; ++k) P[k] = c.point[k] + scale * u(rng);
  freedom::RandomPerp(rng, c.axis, r);
  return Then(AboutLine(P, c.axis, 2.0 * u(rng)), freedom::Shift(r, scale * u(rng)));
}

class ConstrainedClosedForm : public KernelTest {};

// Every served mode recovers a motion it allows, at every scale: the residual is float round-off
// of the part's size, and the turn about an axis is the one that made B.
TEST_F(ConstrainedClosedForm, RecoversEveryAllowedMotionAtEveryScale) {
  const int modes[] = {0, 1, 2, 15, 32, 37, 42, 47, 48, 53, 58, 64, 79};
  std::mt19937 rng(7);
  for (double scale : {1e-6, 1.0, 1e6}) {
    const double C[3] = {0.4 * scale, -1.1 * scale, 0.7 * scale};
    double d[3], slide[3];
    freedom::RandomUnit(rng, d);
    freedom::RandomPerp(rng, d, slide);
    for (int mode : modes) {
      const RegConstraint c = Around(mode, C, d, scale, slide);
      const PointSet a = Part(rng, C, scale, 40);
      const RegVec truth = Allowed(rng, c, 0.5 * scale);
      const PointSet b = MovedBy(a, truth);
      RegVec m;
      double r = -1.0;
      ASSERT_EQ(Solve(a, b, &c, &m, &r), 0) << mode << " at " << scale;
      EXPECT_LT(r, 1e-11 * scale * scale) << mode << " at " << scale;
      EXPECT_NEAR(r, Residual(a, b, m), 1e-12 * scale * scale) << mode;
      if (mode == 0) continue;
      double far[3] = {C[0] + 3 * scale, C[1] - 2 * scale, C[2] + scale}, p1[3], p2[3];
      Apply(m, far, p1);
      Apply(truth, far, p2);
      EXPECT_LT(VecDist3(p1, p2), 1e-5 * scale) << mode << " at " << scale;
    }
  }
}

// For a B no allowed motion reaches, the result still lies within the constraint, and about a
// fixed line or point no rotation of a fine sweep fits better.
TEST_F(ConstrainedClosedForm, UnreachableTargetsKeepTheConstraintAndTheBestFit) {
  std::mt19937 rng(11);
  std::normal_distribution<double> g(0.0, 0.2);
  const double C[3] = {1.0, 2.0, -0.5};
  double d[3], slide[3];
  freedom::RandomUnit(rng, d);
  freedom::RandomPerp(rng, d, slide);
  const PointSet a = Part(rng, C, 2.0, 60);
  PointSet b = MovedBy(a, RegVec{{0.9, 0.2, -0.3, 0.25}, {0.3, -0.2, 0.5}});
  for (int i = 0; i < b.n(); ++i) b.x[i] += float(g(rng)), b.y[i] += float(g(rng)), b.z[i] += float(g(rng));
  const double onAxis[3] = {C[0] + 5 * d[0], C[1] + 5 * d[1], C[2] + 5 * d[2]};

  for (int mode : {1, 2, 32, 37, 48, 64}) {
    const RegConstraint c = Around(mode, C, d, 1.0, slide);
    RegVec m;
    double r;
    ASSERT_EQ(Solve(a, b, &c, &m, &r), 0) << mode;
    double moved[3], rot[3];
    if (mode == 1 || mode == 2) {
      EXPECT_TRUE(IsIdentityQuaternion(m.q)) << mode;
      const double along = VecDotProd3(m.t, mode == 1 ? slide : d);
      if (mode == 1) {
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(m.t[k], along * slide[k], 1e-12);
      } else {
        EXPECT_NEAR(along, 0.0, 1e-12);
      }
      continue;
    }
    // The axis keeps its direction (reversed by a turn-over), the centre or axis point stays
    // on the axis line, and only the C1T1 mode slides along it.
    VecRotWquaternion(d, &m, rot);
    if (mode != 64) {
      EXPECT_NEAR(std::fabs(VecDotProd3(rot, d)), 1.0, 1e-9) << mode;
    }
    Apply(m, mode == 64 ? C : onAxis, moved);
    double off[3], foot[3], dist;
    VecDiff3(moved, mode == 64 ? C : onAxis, off);
    if (mode == 64) {
      EXPECT_LT(VecSize3(off), 1e-9) << mode;
    } else {
      LinePntMinDist(moved, C, onAxis, foot, &dist);
      EXPECT_LT(dist, 1e-9) << mode;
      if (mode != 37 && mode != 48) {
        EXPECT_LT(VecSize3(off), 1e-9) << mode;
      }
    }
    if (mode == 32) {
      for (int s = 0; s < 720; ++s) EXPECT_LE(r, Residual(a, b, AboutLine(C, d, s * M_PI / 360)) + 1e-9);
    }
    if (mode == 64) {
      // Small turns about the centre away from the optimum only raise the residual.
      for (int s = 0; s < 300; ++s) {
        double axis[3];
        freedom::RandomUnit(rng, axis);
        EXPECT_LE(r, Residual(a, b, Then(m, AboutLine(C, axis, 0.002 * (1 + s % 5)))) + 1e-9);
      }
    }
  }
}

// A part turned over on its axis: the turn-over solution wins and reproduces B, with the centre
// taken from the point, from the axis line or from the plane.
TEST_F(ConstrainedClosedForm, TurnedOverPartsAreFoundWithEveryCentre) {
  std::mt19937 rng(5);
  const double C[3] = {-0.5, 0.25, 2.0}, d[3] = {0.0, 0.6, 0.8}, slide[3] = {1, 0, 0};
  const PointSet a = Part(rng, C, 1.5, 30);
  double perp[3];
  freedom::RandomPerp(rng, d, perp);
  const RegVec flip = Then(AboutLine(C, d, 0.7), AboutLine(C, perp, M_PI));
  const PointSet b = MovedBy(a, flip);
  for (int mode : {48, 53, 58}) {
    const RegConstraint c = Around(mode, C, d, 1.0, slide);
    RegVec m;
    double r;
    ASSERT_EQ(Solve(a, b, &c, &m, &r), 0);
    EXPECT_LT(r, 1e-11) << mode;
    double rd[3];
    VecRotWquaternion(d, &m, rd);
    EXPECT_NEAR(VecDotProd3(rd, d), -1.0, 1e-9) << mode;
  }
}

TEST_F(ConstrainedClosedForm, RefusesWhatNoSolverServes) {
  std::mt19937 rng(3);
  const double C[3] = {0, 0, 0}, d[3] = {0, 0, 1}, slide[3] = {1, 0, 0};
  const PointSet a = Part(rng, C, 1.0, 8), b = MovedBy(a, AboutLine(C, d, 0.3));
  RegVec m = {{0.5, 0.5, 0.5, 0.5}, {9, 9, 9}};
  const RegVec before = m;
  double r = 42.0;
  RegConstraint c = Around(16, C, d, 1.0, slide);  // half turn about a line
  EXPECT_EQ(Solve(a, b, &c, &m, &r), -2);
  c.kind = 5;
  EXPECT_EQ(Solve(a, b, &c, &m, &r), -2);
  c = Around(64, C, d, 1.0, slide);
  c.transFreedom = 4;
  EXPECT_EQ(Solve(a, b, &c, &m, &r), -2);
  c = Around(32, C, d, 1.0, slide);
  c.axis[0] = c.axis[1] = c.axis[2] = 1e-7;
  EXPECT_EQ(Solve(a, b, &c, &m, &r), -2);
  c = Around(32, C, d, 1.0, slide);
  c.centreFreedom = 2;
  c.plane[0] = c.plane[1] = c.plane[2] = 0.0;
  EXPECT_EQ(Solve(a, b, &c, &m, &r), -2);
  EXPECT_EQ(CPSRRotAxis(a.x.data(), a.y.data(), a.z.data(), 1, b.x.data(), b.y.data(), b.z.data(), &c, &m, &r), -2);
  c = Around(64, C, d, 1.0, slide);
  EXPECT_EQ(CPSRRot3D(a.x.data(), a.y.data(), a.z.data(), 2, b.x.data(), b.y.data(), b.z.data(), &c, &m, &r), -2);
  EXPECT_EQ(ConstrainedRegCorPntSet(a.x.data(), a.y.data(), a.z.data(), 8, b.x.data(), nullptr, b.z.data(), &c, &m,
                                    &r),
            -2);
  EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
  EXPECT_EQ(r, 42.0);
  EXPECT_FALSE(KernelFailedNow());
}

// Without a constraint the free closed form answers; mode Fixed measures the pairs as they are.
TEST_F(ConstrainedClosedForm, FreeAndFixedAreTheEndsOfTheScale) {
  std::mt19937 rng(9);
  const double C[3] = {2, 1, 0}, d[3] = {1, 0, 0}, slide[3] = {0, 1, 0};
  const PointSet a = Part(rng, C, 1.0, 20);
  const PointSet b = MovedBy(a, RegVec{{0.8, 0.0, 0.6, 0.0}, {0.1, 0.2, 0.3}});
  RegVec m, free;
  double r, rf;
  ASSERT_EQ(Solve(a, b, nullptr, &m, &r), 0);
  ASSERT_EQ(RegisterCorPntSets(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                               &free, &rf),
            0);
  EXPECT_EQ(std::memcmp(&m, &free, sizeof m), 0);
  const RegConstraint fixed = Around(0, C, d, 1.0, slide);
  ASSERT_EQ(Solve(a, b, &fixed, &m, &r), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(VecSize3(m.t), 0.0);
  EXPECT_DOUBLE_EQ(r, Residual(a, b, RegVec{{1, 0, 0, 0}, {0, 0, 0}}));
}

}  // namespace
