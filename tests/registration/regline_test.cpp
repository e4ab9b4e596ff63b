#include <cmath>
#include <random>

#include "foundation/geometry.h"
#include "registration/confreg.h"
#include "registration/regline.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"

namespace {

using namespace freedom;

class LineMatch : public MatchTest {};

struct Kind {
  int directed, fixed;
};
constexpr Kind kKinds[] = {{0, 0}, {1, 0}, {1, 1}};

void MoveLine(const RegVec& m, const double L[6], double out[6]) {
  Apply(m, L, out);
  Apply(m, L + 3, out + 3);
}

// How far `moved` is from being the line `target` as the flags read it: both points on the target
// line, the same sense when directed, the same first point when fixed.
double Mismatch(const double moved[6], const double target[6], Kind k) {
  double worst = 0.0, foot[3], dist, dm[3], dt[3];
  for (int i = 0; i < 2; ++i) {
    LinePntMinDist(moved + 3 * i, target, target + 3, foot, &dist);
    worst = std::fmax(worst, dist);
  }
  VecDiff3(moved + 3, moved, dm);
  VecDiff3(target + 3, target, dt);
  if (k.directed && VecDotProd3(dm, dt) <= 0.0) worst = std::fmax(worst, VecSize3(dt));
  if (k.fixed) worst = std::fmax(worst, VecDist3(moved, target));
  return worst;
}

// A line in general position near C: neither along nor across the axis d, not through C.
void GeneralLine(std::mt19937& rng, const double C[3], const double d[3], double scale, double L[6]) {
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  double dir[3];
  do {
    RandomUnit(rng, dir);
  } while (std::fabs(VecDotProd3(dir, d)) > 0.9 || std::fabs(VecDotProd3(dir, d)) < 0.2);
  double off[3];
  RandomPerp(rng, dir, off);
  const double r = 1.0 + std::fabs(u(rng)), along = u(rng), len = 1.0 + std::fabs(u(rng));
  for (int k = 0; k < 3; ++k) {
    L[k] = C[k] + scale * (r * off[k] + along * dir[k]);
    L[3 + k] = L[k] + scale * len * dir[k];
  }
}

// A line in a special position towards the axis through C along d: 1 along the axis direction,
// 2 across it through the plane normal to it at C, 3 through C, 4 on the axis itself, 5 across
// it away from that plane.
void SpecialLine(std::mt19937& rng, int position, const double C[3], const double d[3], double scale, double L[6]) {
  std::uniform_real_distribution<double> u(1.0, 3.0);
  double dir[3], off[3];
  RandomPerp(rng, d, off);
  if (position == 1 || position == 4) {
    for (int k = 0; k < 3; ++k) dir[k] = d[k];
  } else if (position == 2 || position == 5) {
    RandomPerp(rng, d, dir);
  } else {
    RandomUnit(rng, dir);
  }
  const double r = position == 3 || position == 4 ? 0.0 : u(rng), along = u(rng) - 2.0, len = u(rng);
  const double height = position == 5 ? u(rng) : 0.0;
  for (int k = 0; k < 3; ++k) {
    L[k] = C[k] + scale * (r * off[k] + along * dir[k] + height * d[k]);
    L[3 + k] = L[k] + scale * len * dir[k];
  }
}

// Matches a reachable target for every mode, kind of line and scale and checks the match and the
// freedom left; `position` 0 draws lines in general position, else special ones (SpecialLine).
// `far` moves everything 1e4 x the scale from the origin.
void CheckReachable(int position, std::mt19937& rng, bool far = false) {
  std::uniform_real_distribution<double> u(-4.0, 4.0);
  const double away[3] = {far ? 1e4 : 0.0, far ? -6e3 : 0.0, far ? 3.5e3 : 0.0};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int mode : kModes) {
      for (Kind kind : kKinds) {
        for (int trial = 0; trial < 10; ++trial) {
          double C[3] = {scale * (away[0] + u(rng)), scale * (away[1] + u(rng)), scale * (away[2] + u(rng))}, d[3],
                 slide[3], A[6], B[6];
          RandomUnit(rng, d);
          RandomUnit(rng, slide);
          RegConstraint c = Around(mode, C, d, scale, slide);
          if (position == 0)
            GeneralLine(rng, C, d, scale, A);
          else
            SpecialLine(rng, position, C, d, scale, A);
          const bool alreadyMatched = trial == 0;
          MoveLine(alreadyMatched ? RegVec{{1, 0, 0, 0}, {0, 0, 0}} : Sample(rng, c, scale), A, B);
          if (!alreadyMatched && !kind.fixed) {
            const double s = u(rng);
            for (int k = 0; k < 3; ++k) {
              const double along = s * (B[3 + k] - B[k]);
              B[k] += along;
              B[3 + k] += along;
            }
          }
          if (!alreadyMatched && !kind.directed && trial % 2) {
            for (int k = 0; k < 3; ++k) std::swap(B[k], B[3 + k]);
          }

          RegConstraint left;
          RegVec motion;
          ASSERT_EQ(ConstrainedMatchLines(c, A, B, kind.directed, kind.fixed, &left, &motion), 0)
              << "position " << position << " mode " << mode << " kind " << kind.directed << kind.fixed << " trial " << trial;
          double moved[6];
          MoveLine(motion, A, moved);
          const double tol = 1e-7 * scale;
          const int leftMode = GetRegConstraintMode(left);
          EXPECT_LE(Mismatch(moved, B, kind), tol) << "position " << position << " mode " << mode << " kind "
                                                   << kind.directed << kind.fixed << " scale " << scale
                                                   << " trial " << trial;
          double worst = 0.0;
          for (int s = 0; s < 6; ++s) {
            double again[6];
            MoveLine(Sample(rng, left, scale), B, again);
            worst = std::fmax(worst, Mismatch(again, B, kind));
          }
          EXPECT_LE(worst, tol) << "position " << position << " mode " << mode << " left " << leftMode << " kind "
                                << kind.directed << kind.fixed << " trial " << trial;
        }
      }
    }
  }
}

// For every mode, kind of line and scale: a target reached by a motion the constraint allows
// (reversed when undirected, slid along itself unless fixed) is matched exactly, an already
// matched line stays where it is, and whatever freedom is left keeps the target in place.
TEST_F(LineMatch, ReachableTargetsAreMatchedAndTheFreedomLeftKeepsThem) {
  std::mt19937 rng(21);
  CheckReachable(0, rng);
}

TEST_F(LineMatch, LinesAlongAcrossAndThroughTheAxis) {
  std::mt19937 rng(22);
  for (int position = 1; position <= 5; ++position) CheckReachable(position, rng);
}

// The same 1e4 x the scale from the origin: lengths are judged by the lines, not by where they lie.
TEST_F(LineMatch, LinesFarFromTheOriginAreMatchedAlike) {
  std::mt19937 rng(23);
  for (int position = 0; position <= 5; ++position) CheckReachable(position, rng, true);
}

TEST_F(LineMatch, KnownAnswers) {
  RegConstraint c, left;
  RegVec m;
  SetNullRegConstraint(&c);
  const double A[6] = {0, 0, 0, 1, 0, 0}, B[6] = {0, 1, 0, 0, 3, 0};
  ASSERT_EQ(ConstrainedMatchLines(c, A, B, 0, 0, &left, &m), 0);
  double mid[3] = {0.5, 0, 0}, moved[3], x[3] = {1, 0, 0}, turned[3];
  Apply(m, mid, moved);
  EXPECT_NEAR(VecDist3(moved, B + 3), 1.0, 1e-12);
  EXPECT_NEAR(moved[1], 2.0, 1e-12);
  VecRotWquaternion(x, &m, turned);
  EXPECT_NEAR(turned[1], 1.0, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 53);
  // What stays free is B's own: directed lines keep their sense, fixed ones their place.
  const int expected[3] = {53, 37, 32};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ConstrainedMatchLines(c, A, B, kKinds[i].directed, kKinds[i].fixed, &left, &m), 0);
    EXPECT_EQ(GetRegConstraintMode(left), expected[i]);
  }
  ASSERT_EQ(ConstrainedMatchLines(c, A, B, 0, 1, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 48);

  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  // A line on the fixed axis cannot be turned anywhere: nothing moves, nothing is settled.
  c = Around(32, origin, z, 1.0, x);
  const double onAxis[6] = {0, 0, 1, 0, 0, 2}, off[6] = {1, 0, 0, 1, 1, 1};
  ASSERT_EQ(ConstrainedMatchLines(c, onAxis, off, 0, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_TRUE(SameConstraint(left, c));

  // Translation along x: crossing lines already meet, so the identity and the slide stays.
  c = Around(1, origin, z, 1.0, x);
  const double alongY[6] = {0, -1, 0, 0, 1, 0}, alongZ[6] = {0, 0, -1, 0, 0, 1};
  ASSERT_EQ(ConstrainedMatchLines(c, alongY, alongZ, 0, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(GetRegConstraintMode(left), 1);
  // A line along y moved along x until it meets one along z elsewhere; then nothing is left.
  const double yLine[6] = {0, 0, 0, 0, 1, 0}, zAt5[6] = {5, 1, -1, 5, 1, 1};
  ASSERT_EQ(ConstrainedMatchLines(c, yLine, zAt5, 0, 0, &left, &m), 0);
  EXPECT_NEAR(m.t[0], 5, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 0);
  // Lines on the x axis: one fixed along itself slides its first point onto the target's, a
  // plain one stays and may still slide.
  const double xFrom1[6] = {1, 0, 0, 2, 0, 0}, xFrom4[6] = {4, 0, 0, 6, 0, 0};
  ASSERT_EQ(ConstrainedMatchLines(c, xFrom1, xFrom4, 1, 1, &left, &m), 0);
  EXPECT_NEAR(m.t[0], 3, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 0);
  ASSERT_EQ(ConstrainedMatchLines(c, xFrom1, xFrom4, 0, 0, &left, &m), 0);
  EXPECT_EQ(VecSize3(m.t), 0.0);
  EXPECT_EQ(GetRegConstraintMode(left), 1);

  // Half turn about z with sliding along it, a line along z and one across: the half turn is
  // made because it brings the line nearer.
  c = Around(21, origin, z, 1.0, z);
  const double alongAxis[6] = {1, 0, 0, 1, 0, 1}, oblique[6] = {-1, 0, 0, -1, 1, 1};
  ASSERT_EQ(ConstrainedMatchLines(c, alongAxis, oblique, 0, 0, &left, &m), 0);
  const double at[3] = {1, 0, 0};
  Apply(m, at, moved);
  EXPECT_NEAR(moved[0], -1, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 1);
}

// Lines the half turn or the constraint cannot use, and the remaining constraints that once
// claimed freedom the matched line did not have.
TEST_F(LineMatch, DegenerateLinesAndHonestRemainders) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  RegConstraint left;
  RegVec m;
  std::mt19937 rng(5);

  // Coincident lines across the translation: any slide would part them.
  RegConstraint c = Around(1, origin, z, 1.0, x);
  const double xAxis[6] = {0, 0, 0, 1, 0, 0}, xLonger[6] = {-2, 0, 0, 3, 0, 0};
  c.transDir[0] = 1, c.transDir[1] = 1, c.transDir[2] = 0;
  ASSERT_EQ(ConstrainedMatchLines(c, xAxis, xLonger, 0, 0, &left, &m), 0);
  EXPECT_EQ(VecSize3(m.t), 0.0);
  EXPECT_EQ(GetRegConstraintMode(left), 0);

  // Trans3D never leaves a rotation: parallel lines may slide along themselves, crossing ones
  // nothing.
  c = Around(15, origin, z, 1.0, x);
  const double shifted[6] = {1, 2, 3, 2, 2, 3}, skew[6] = {0, 1, 0, 0, 1, 1};
  ASSERT_EQ(ConstrainedMatchLines(c, xAxis, shifted, 0, 0, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 1);
  EXPECT_NEAR(m.t[1], 2, 1e-12);
  EXPECT_NEAR(m.t[2], 3, 1e-12);
  ASSERT_EQ(ConstrainedMatchLines(c, xAxis, skew, 0, 0, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 0);
  EXPECT_NEAR(m.t[1], 1, 1e-12);

  // A fixed turn-over axis z with a directed line along it and one oblique: only the sense can
  // be matched, by a half turn about a line through C across z, leaving the turn about z.
  c = Around(48, origin, z, 1.0, x);
  const double up[6] = {0, 0, 1, 0, 0, 2}, down[6] = {3, 0, 0, 2, 1, -1};
  ASSERT_EQ(ConstrainedMatchLines(c, up, down, 1, 0, &left, &m), 0);
  double turned[3];
  VecRotWquaternion(z, &m, turned);
  EXPECT_NEAR(turned[2], -1, 1e-12);
  EXPECT_LE(VecSize3(m.t), 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 32);
  // An undirected pair there is left alone.
  ASSERT_EQ(ConstrainedMatchLines(c, up, down, 0, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_TRUE(SameConstraint(left, c));

  // Turn-over plane z = 0 with lines parallel to it, B above it: A below is turned over to B's
  // side, and what is left keeps B (no turn-over keeps a line off the plane at its height).
  c = Around(58, origin, z, 1.0, x);
  const double below[6] = {0, 0, -2, 1, 1, -2}, above[6] = {4, 1, 2, 4, 3, 2};
  for (Kind k : kKinds) {
    ASSERT_EQ(ConstrainedMatchLines(c, below, above, k.directed, k.fixed, &left, &m), 0);
    double moved[6];
    MoveLine(m, below, moved);
    EXPECT_LE(Mismatch(moved, above, k), 1e-12) << k.directed << k.fixed;
    for (int s = 0; s < 8; ++s) {
      MoveLine(Sample(rng, left, 1.0), above, moved);
      EXPECT_LE(Mismatch(moved, above, k), 1e-12) << k.directed << k.fixed << GetRegConstraintMode(left);
    }
  }

  // Parallel lines under a half turn about z: the line's distance decides, not its midpoint (a
  // line slid along itself is the same line).
  c = Around(16, origin, z, 1.0, x);
  const double right[6] = {1, 1, 0, 3, 1, 0}, slid[6] = {-3, 1, 0, -0.5, 1, 0}, mirrored[6] = {-3, -1, 0, -0.5, -1, 0};
  ASSERT_EQ(ConstrainedMatchLines(c, right, slid, 0, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  ASSERT_EQ(ConstrainedMatchLines(c, right, mirrored, 0, 0, &left, &m), 0);
  double moved[6];
  MoveLine(m, right, moved);
  EXPECT_LE(Mismatch(moved, mirrored, kKinds[0]), 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 0);
}

TEST_F(LineMatch, RefusalsLeaveTheIdentityAndTheCopiedConstraint) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  const double A[6] = {1, 2, 3, 2, 2, 4}, B[6] = {3, -2, 3, 3, -1, 5};
  RegConstraint left;
  RegVec m;
  RegConstraint c = Around(32, origin, z, 1.0, x);
  EXPECT_EQ(ConstrainedMatchLines(c, A, B, 0, 0, nullptr, &m), -2);
  EXPECT_EQ(ConstrainedMatchLines(c, A, B, 0, 0, &left, nullptr), -2);
  EXPECT_EQ(CRFreeMatchLines(c, A, B, 0, 0, &left, &m), -2);

  auto refused = [&](const RegConstraint& bad, const double* a, const double* b) {
    m = RegVec{{0, 1, 0, 0}, {7, 7, 7}};
    EXPECT_EQ(ConstrainedMatchLines(bad, a, b, 1, 0, &left, &m), -2) << GetRegConstraintMode(bad);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
    EXPECT_TRUE(SameConstraint(left, bad)) << GetRegConstraintMode(bad);
  };
  for (int mode : {32, 37, 47, 53}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    for (int k = 0; k < 3; ++k) bad.axisPoint2[k] = bad.axisPoint1[k];
    refused(bad, A, B);
  }
  for (int mode : {16, 21}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    bad.axis[0] = bad.axis[1] = bad.axis[2] = 0;
    refused(bad, A, B);
  }
  for (int mode : {48, 58}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    bad.plane[0] = bad.plane[1] = bad.plane[2] = 0;
    refused(bad, A, B);
  }
  RegConstraint bad = Around(1, origin, z, 1.0, x);
  bad.transDir[0] = bad.transDir[1] = bad.transDir[2] = 0;
  refused(bad, A, B);
  bad = Around(2, origin, z, 1.0, x);
  bad.transNormal[0] = bad.transNormal[1] = bad.transNormal[2] = 0;
  refused(bad, A, B);
  // A line of no length has no direction to turn about a point.
  const double dot[6] = {1, 2, 3, 1, 2, 3 + 1e-9};
  refused(Around(64, origin, z, 1.0, x), dot, B);
  // Translation along a direction that cannot close the gap between parallel lines.
  bad = Around(1, origin, z, 1.0, x);
  const double yLine[6] = {0, 0, 0, 0, 1, 0}, raised[6] = {0, 0, 1, 0, 1, 1};
  refused(bad, yLine, raised);
  refused(Around(3, origin, z, 1.0, x), A, B);
}

TEST_F(LineMatch, SidesOfAPlane) {
  for (double s : {1e-6, 1.0, 1e6}) {
    const PlaneEq plane = {0, 0, 2, -2 * s};  // z = s
    const double above[3] = {s, 0, 3 * s}, alsoAbove[3] = {-5 * s, 2 * s, 1.5 * s}, below[3] = {0, s, -s},
                 on[3] = {7 * s, -3 * s, s};
    EXPECT_EQ(IsPntOnSameSideOfPlane(plane, above, alsoAbove), 1);
    EXPECT_EQ(IsPntOnSameSideOfPlane(plane, above, below), 0);
    EXPECT_EQ(IsPntOnSameSideOfPlane(plane, on, below), 1);
    EXPECT_EQ(IsPntOnSameSideOfPlane(plane, below, on), 1);
    const PlaneEq none = {0, 0, 0, 1};
    EXPECT_EQ(IsPntOnSameSideOfPlane(none, above, below), 1);
  }
}

}  // namespace
