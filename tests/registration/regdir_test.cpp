#include <cmath>
#include <cstring>
#include <random>

#include "registration/confreg.h"
#include "registration/regdir.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace freedom;

class DirectionMatch : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetRegAngleTol(1.0);
  }
};

constexpr int kDirectionModes[] = {0, 16, 21, 32, 37, 47, 48, 53, 58, 64, 79};

bool SameConstraint(const RegConstraint& a, const RegConstraint& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void Turn(const RegVec& m, const double v[3], double out[3]) {
  RegVec copy = m;
  VecRotWquaternion(v, &copy, out);
}

// A unit direction well off both the axis d and the plane normal to it, so that sides and
// closest turns are never decided within the angle tolerance.
void Slanted(std::mt19937& rng, const double d[3], double v[3]) {
  std::uniform_real_distribution<double> u(0.2, 0.9);
  double r[3], h = u(rng) * (u(rng) > 0.55 ? 1 : -1);
  RandomPerp(rng, d, r);
  for (int k = 0; k < 3; ++k) v[k] = h * d[k] + std::sqrt(1 - h * h) * r[k];
}

double DistToLine(const double X[3], const double P[3], const double a[3]) {
  double v[3], c[3];
  VecDiff3(X, P, v);
  VectorCrossProduct(v, a, c);
  return VecSize3(c);
}

// How far the motion strays from what the constraint allows: the axis line (with its sense for
// the fixed-sense kinds), the turn-over plane or the centre must be kept.
double Stray(const RegConstraint& c, const RegVec& m, double scale) {
  const int mode = GetRegConstraintMode(c);
  double P[3], a[3], Q[3], mP[3], mQ[3], ma[3];
  if (mode == 0) return std::fabs(std::fabs(m.q[0]) - 1) * scale + VecSize3(m.t);
  if (mode == 64) {
    Apply(m, c.point, mP);
    return VecDist3(mP, c.point);
  }
  if (mode == 79) return 0.0;
  AxisOf(c, P, a);
  for (int k = 0; k < 3; ++k) Q[k] = P[k] + scale * a[k];
  Apply(m, P, mP);
  Apply(m, Q, mQ);
  Turn(m, a, ma);
  const bool sensed = c.kind == 2 || c.kind == 0;
  const double sense = sensed ? 1 - VecDotProd3(ma, a) : 1 - std::fabs(VecDotProd3(ma, a));
  if (mode == 47) return sense * scale;
  if (mode == 58) return std::fabs(VecDotProd3(a, mP) - VecDotProd3(a, P)) + sense * scale;
  return DistToLine(mP, P, a) + DistToLine(mQ, P, a) + sense * scale;
}

// For every direction mode and scale: a target reached by a motion the constraint allows is
// matched exactly by a motion the constraint allows; an already matched pair stays; an arbitrary
// target comes no nearer under any allowed motion than under the match; and whatever freedom is
// left keeps the match as good as it is.
TEST_F(DirectionMatch, MatchesAreAllowedBestAndTheFreedomLeftKeepsThem) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-4.0, 4.0);
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int mode : kDirectionModes) {
      for (int trial = 0; trial < 16; ++trial) {
        double C[3] = {scale * u(rng), scale * u(rng), scale * u(rng)}, d[3], slide[3], dA[3], dB[3];
        RandomUnit(rng, d);
        RandomUnit(rng, slide);
        RegConstraint c = Around(mode, C, d, scale, slide);
        Slanted(rng, d, dA);
        const bool alreadyMatched = trial == 0, reachable = trial < 8;
        if (reachable) {
          RegVec allowed = alreadyMatched ? RegVec{{1, 0, 0, 0}, {0, 0, 0}} : Sample(rng, c, scale);
          Turn(allowed, dA, dB);
        } else {
          Slanted(rng, d, dB);
        }
        RegConstraint left;
        RegVec motion;
        ASSERT_EQ(ConstrainedMatchDirections(c, dA, dB, &left, &motion), 0) << mode;
        const std::string where = "mode " + std::to_string(mode) + " scale " + std::to_string(scale) + " trial " +
                                  std::to_string(trial);
        EXPECT_LE(Stray(c, motion, scale), 1e-8 * scale) << where;
        double moved[3];
        Turn(motion, dA, moved);
        const double reached = VecDotProd3(moved, dB);
        if (reachable) {
          EXPECT_LE(VecDist3(moved, dB), 1e-9) << where;
        }
        for (int s = 0; s < 6; ++s) {
          double other[3];
          Turn(Sample(rng, c, scale), dA, other);
          EXPECT_LE(VecDotProd3(other, dB), reached + 1e-10) << where;
        }
        for (int s = 0; s < 6; ++s) {
          double kept[3];
          Turn(Sample(rng, left, scale), moved, kept);
          EXPECT_NEAR(VecDotProd3(kept, moved), 1.0, 1e-10) << where << " left " << GetRegConstraintMode(left);
        }
      }
    }
  }
}

// Ties, directions along the axis, and the turn-over plane kept.
TEST_F(DirectionMatch, KnownAnswers) {
  const double origin[3] = {0, 0, 0}, C[3] = {1, 2, 3}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, z[3] = {0, 0, 1};
  const double slant[3] = {0, 0.6, 0.8}, minusX[3] = {-1, 0, 0};
  RegConstraint c, left;
  RegVec m;
  double moved[3];

  // A half turn about z through the origin takes x to -x (the dot product rises from -1 to 1);
  // when it would change nothing the identity stays.
  c = Around(16, origin, z, 1.0, x);
  ASSERT_EQ(ConstrainedMatchDirections(c, x, minusX, &left, &m), 0);
  Turn(m, x, moved);
  EXPECT_NEAR(moved[0], -1, 1e-15);
  EXPECT_EQ(GetRegConstraintMode(left), 0);
  ASSERT_EQ(ConstrainedMatchDirections(c, x, x, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(GetRegConstraintMode(left), 0);
  c = Around(21, origin, z, 1.0, y);
  ASSERT_EQ(ConstrainedMatchDirections(c, x, minusX, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 1);
  EXPECT_EQ(left.transDir[2], 1.0);  // the input's slide is kept

  // A turn of a tenth of a microradian is made, not dropped.
  c = Around(32, C, z, 1.0, x);
  const double tiny[3] = {std::cos(1e-7), std::sin(1e-7), 0};
  ASSERT_EQ(ConstrainedMatchDirections(c, x, tiny, &left, &m), 0);
  Turn(m, x, moved);
  EXPECT_NEAR(moved[1], std::sin(1e-7), 1e-21);

  // Directions along the axis: nothing to turn, the constraint stays (the turn-over modes lose
  // their turn-overs once the sense is matched).
  for (int mode : {16, 21, 32, 37, 47}) {
    c = Around(mode, origin, z, 1.0, x);
    ASSERT_EQ(ConstrainedMatchDirections(c, z, slant, &left, &m), 0) << mode;
    EXPECT_TRUE(IsIdentityQuaternion(m.q)) << mode;
    EXPECT_TRUE(SameConstraint(left, c)) << mode;
  }
  const double minusZ[3] = {0, 0, -1};
  for (int mode : {48, 53}) {
    c = Around(mode, C, z, 1.0, x);
    ASSERT_EQ(ConstrainedMatchDirections(c, z, minusZ, &left, &m), 0) << mode;
    Turn(m, z, moved);
    EXPECT_NEAR(moved[2], -1, 1e-15) << mode;
    EXPECT_EQ(GetRegConstraintMode(left), mode - 16) << mode;
  }

  // Turn-over plane z = 3: a direction below turned up to one above by a half turn about a line
  // in the plane, which keeps the plane; what is left is the slide within it.
  c = Around(58, C, z, 1.0, x);
  c.point[0] += 5, c.point[2] += 2;  // off the plane: its foot serves
  const double down[3] = {0.6, 0, -0.8}, up[3] = {0, 0.6, 0.8};
  ASSERT_EQ(ConstrainedMatchDirections(c, down, up, &left, &m), 0);
  Turn(m, down, moved);
  EXPECT_NEAR(VecDotProd3(moved, up), 1, 1e-14);
  Turn(m, z, moved);
  EXPECT_NEAR(moved[2], -1, 1e-14);
  const double onPlane[3] = {-7, 11, 3};
  Apply(m, onPlane, moved);
  EXPECT_NEAR(moved[2], 3, 1e-13);
  EXPECT_EQ(GetRegConstraintMode(left), 2);
  EXPECT_NEAR(left.point[0], 6, 1e-14);
  EXPECT_NEAR(left.point[2], 3, 1e-14);
}

TEST_F(DirectionMatch, RefusalsLeaveTheIdentityAndTheCopiedConstraint) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0}, zero[3] = {0, 0, 0};
  const double dA[3] = {1, 2, 3}, dB[3] = {3, -2, 3};
  RegConstraint left;
  RegVec m;
  RegConstraint c = Around(32, origin, z, 1.0, x);
  EXPECT_EQ(ConstrainedMatchDirections(c, dA, dB, nullptr, &m), -2);
  EXPECT_EQ(ConstrainedMatchDirections(c, dA, dB, &left, nullptr), -2);
  EXPECT_EQ(CRFreeMatchDirections(c, dA, dB, &left, &m), -2);

  auto refused = [&](const RegConstraint& bad, const double* a, const double* b) {
    m = RegVec{{0, 1, 0, 0}, {7, 7, 7}};
    EXPECT_EQ(ConstrainedMatchDirections(bad, a, b, &left, &m), -2) << GetRegConstraintMode(bad);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
    EXPECT_TRUE(SameConstraint(left, bad)) << GetRegConstraintMode(bad);
  };
  // A translation cannot turn a direction; other modes have no solver.
  for (int mode : {1, 2, 15, 3, 42}) refused(Around(mode, origin, z, 1.0, x), dA, dB);
  // A direction of no length, except under Free, which turns nothing then.
  for (int mode : {16, 21, 32, 37, 47, 48, 53, 58, 64}) {
    refused(Around(mode, origin, z, 1.0, x), zero, dB);
    refused(Around(mode, origin, z, 1.0, x), dA, zero);
  }
  c = Around(79, origin, z, 1.0, x);
  EXPECT_EQ(ConstrainedMatchDirections(c, zero, dB, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  // Degenerate axes in the form each mode reads.
  for (int mode : {16, 21, 47}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    bad.axis[0] = bad.axis[1] = bad.axis[2] = 0;
    refused(bad, dA, dB);
  }
  for (int mode : {37, 53}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    for (int k = 0; k < 3; ++k) bad.axisPoint2[k] = bad.axisPoint1[k];
    refused(bad, dA, dB);
  }
  for (int mode : {32, 48, 58}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    bad.plane[0] = bad.plane[1] = bad.plane[2] = 0;
    refused(bad, dA, dB);
  }
}

}  // namespace
