#include <cmath>
#include <random>

#include "registration/confreg.h"
#include "registration/regpoint.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"

namespace {

using namespace freedom;

class PointMatch : public MatchTest {};

// A point well off the axis through C along d and well off the plane through C normal to d.
void OffAxis(std::mt19937& rng, const double C[3], const double d[3], double scale, double A[3]) {
  std::uniform_real_distribution<double> u(1.0, 3.0);
  double r[3];
  RandomPerp(rng, d, r);
  double h = u(rng) * (u(rng) > 2.0 ? 1 : -1), along = u(rng);
  for (int k = 0; k < 3; ++k) A[k] = C[k] + scale * (h * d[k] + along * r[k]);
}

// For every mode and scale: a target reached by a motion the constraint allows is matched
// exactly, the identity leaves an already matched point alone, and whatever freedom is left
// keeps the target in place. The left axis is written consistently in all its forms.
// `far` moves everything 1e4 x the scale from the origin, where the data carry 1e-12 of it less.
void CheckReachablePoints(std::mt19937& rng, bool far) {
  std::uniform_real_distribution<double> u(-4.0, 4.0);
  const double away[3] = {far ? 1e4 : 0.0, far ? -6e3 : 0.0, far ? 3.5e3 : 0.0};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int mode : kModes) {
      for (int trial = 0; trial < 12; ++trial) {
        double C[3] = {scale * (away[0] + u(rng)), scale * (away[1] + u(rng)), scale * (away[2] + u(rng))}, d[3],
               slide[3], A[3], B[3];
        RandomUnit(rng, d);
        RandomUnit(rng, slide);
        RegConstraint c = Around(mode, C, d, scale, slide);
        OffAxis(rng, C, d, scale, A);
        const bool alreadyMatched = trial == 0;
        RegVec allowed = alreadyMatched ? RegVec{{1, 0, 0, 0}, {0, 0, 0}} : Sample(rng, c, scale);
        Apply(allowed, A, B);

        RegConstraint left;
        RegVec motion;
        ASSERT_EQ(ConstrainedMatchPoints(c, A, B, &left, &motion), 0) << mode;
        double moved[3];
        Apply(motion, A, moved);
        const double tol = (far ? 1e-7 : 1e-8) * scale;
        EXPECT_LE(VecDist3(moved, B), tol) << "mode " << mode << " scale " << scale << " trial " << trial;
        const int leftMode = GetRegConstraintMode(left);
        EXPECT_TRUE(leftMode == 0 || leftMode == 16 || leftMode == 32 || leftMode == 48 || leftMode == 64)
            << mode << " left " << leftMode;
        EXPECT_LE(WorstDrift(rng, left, B, scale), tol) << "mode " << mode << " left " << leftMode;
        if (leftMode == 16 || leftMode == 32) {
          // point and axis describe the same line as the two axis points.
          double P[3], a[3], toPoint[3], cross[3];
          AxisOf(left, P, a);
          VecDiff3(left.point, P, toPoint);
          VectorCrossProduct(toPoint, a, cross);
          EXPECT_LE(VecSize3(cross), tol) << mode;
          VectorCrossProduct(left.axis, a, cross);
          EXPECT_LE(VecSize3(cross), 1e-9) << mode;
        }
        if (leftMode == 48) {
          EXPECT_LE(std::fabs(VecDotProd3(left.plane, left.point) + left.plane[3]), tol) << mode;
        }
      }
    }
  }
}

TEST_F(PointMatch, ReachableTargetsAreMatchedAndTheFreedomLeftKeepsThem) {
  std::mt19937 rng(11);
  CheckReachablePoints(rng, false);
}

TEST_F(PointMatch, PointsFarFromTheOriginAreMatchedAlike) {
  std::mt19937 rng(12);
  CheckReachablePoints(rng, true);
}

// The rows of the table that a generated reachable target does not exercise.
TEST_F(PointMatch, KnownAnswersAndDegeneratePositions) {
  RegConstraint c, left;
  RegVec m;
  double moved[3];
  SetNullRegConstraint(&c);
  const double A[3] = {1, 2, 3}, B[3] = {4, 6, 8};
  ASSERT_EQ(ConstrainedMatchPoints(c, A, B, &left, &m), 0);
  EXPECT_DOUBLE_EQ(m.t[0], 3);
  EXPECT_DOUBLE_EQ(m.t[1], 4);
  EXPECT_DOUBLE_EQ(m.t[2], 5);
  EXPECT_EQ(GetRegConstraintMode(left), 64);
  EXPECT_DOUBLE_EQ(left.point[2], 8);

  // A point at the centre of a point rotation: nothing to turn, nothing fixed.
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  c = Around(64, origin, z, 1.0, x);
  ASSERT_EQ(ConstrainedMatchPoints(c, origin, B, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_TRUE(SameConstraint(left, c));

  // A half turn about z that would leave A as far from B as before keeps the identity.
  c = Around(16, origin, z, 1.0, x);
  const double P[3] = {1, 0, 0}, Q[3] = {0, 1, 0};
  ASSERT_EQ(ConstrainedMatchPoints(c, P, Q, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(GetRegConstraintMode(left), 0);

  // Turn-over plane z = 0: opposite sides with the same foot turn over about a line in the plane.
  c = Around(58, origin, z, 1.0, x);
  const double above[3] = {2, 1, 3}, below[3] = {2, 1, -3};
  ASSERT_EQ(ConstrainedMatchPoints(c, above, below, &left, &m), 0);
  Apply(m, above, moved);
  EXPECT_LE(VecDist3(moved, below), 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 32);
  // A target on the plane: an in-plane slide, and turn-overs stay free.
  const double onPlane[3] = {5, -1, 0};
  ASSERT_EQ(ConstrainedMatchPoints(c, above, onPlane, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_DOUBLE_EQ(m.t[0], 3);
  EXPECT_DOUBLE_EQ(m.t[1], -2);
  EXPECT_DOUBLE_EQ(m.t[2], 0);
  EXPECT_EQ(GetRegConstraintMode(left), 48);

  // Fixed turn-over axis with A on its plane: the half turn left is about the ray towards B'.
  c = Around(48, origin, z, 1.0, x);
  const double inPlane[3] = {2, 0, 0}, target[3] = {0, 2, 1};
  ASSERT_EQ(ConstrainedMatchPoints(c, inPlane, target, &left, &m), 0);
  Apply(m, inPlane, moved);
  EXPECT_NEAR(moved[0], 0, 1e-12);
  EXPECT_NEAR(moved[1], 2, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 16);
  EXPECT_NEAR(left.axis[1], 1, 1e-12);
}

TEST_F(PointMatch, RefusalsLeaveTheIdentityAndTheCopiedConstraint) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  const double A[3] = {1, 2, 3}, B[3] = {3, -2, 3};
  RegConstraint left;
  RegVec m;
  RegConstraint c = Around(32, origin, z, 1.0, x);
  EXPECT_EQ(ConstrainedMatchPoints(c, A, B, nullptr, &m), -2);
  EXPECT_EQ(ConstrainedMatchPoints(c, A, B, &left, nullptr), -2);
  // A solver called under another mode refuses.
  EXPECT_EQ(CRFreeMatchPoints(c, A, B, &left, &m), -2);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));

  auto refused = [&](const RegConstraint& bad) {
    m = RegVec{{0, 1, 0, 0}, {7, 7, 7}};
    EXPECT_EQ(ConstrainedMatchPoints(bad, A, B, &left, &m), -2) << GetRegConstraintMode(bad);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
    EXPECT_TRUE(SameConstraint(left, bad)) << GetRegConstraintMode(bad);
  };
  // Coincident axis points: an axis rotation cannot be made, so the pair is not matched.
  for (int mode : {16, 32, 37, 53}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    for (int k = 0; k < 3; ++k) bad.axisPoint2[k] = bad.axisPoint1[k];
    refused(bad);
  }
  for (int mode : {48, 58}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    bad.plane[0] = bad.plane[1] = bad.plane[2] = 0;
    refused(bad);
  }
  RegConstraint bad = Around(1, origin, z, 1.0, x);
  bad.transDir[0] = bad.transDir[1] = bad.transDir[2] = 0;
  refused(bad);
  bad = Around(2, origin, z, 1.0, x);
  bad.transNormal[0] = bad.transNormal[1] = bad.transNormal[2] = 0;
  refused(bad);
  // Modes with no solver, and fields outside their ranges that would alias one.
  refused(Around(3, origin, z, 1.0, x));
  bad = Around(79, origin, z, 1.0, x);
  bad.transFreedom = 4;
  refused(bad);
}

}  // namespace
