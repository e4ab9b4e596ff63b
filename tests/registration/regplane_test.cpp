#include <cmath>
#include <random>

#include "registration/confreg.h"
#include "registration/regpair.h"
#include "registration/regplane.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"

namespace {

using namespace freedom;

class PlaneMatch : public MatchTest {};

constexpr int kPlaneModes[] = {0, 1, 16, 21, 32, 37, 47, 48, 53, 58, 64, 79};

// Three points spanning the plane through Q with the unit normal n, `scale` apart.
void Span(const double Q[3], const double n[3], double scale, double pts[3][3]) {
  double u[3], v[3], w[3];
  Vec3To3Vecs(n, u, v, w);
  for (int k = 0; k < 3; ++k) {
    pts[0][k] = Q[k];
    pts[1][k] = Q[k] + scale * v[k];
    pts[2][k] = Q[k] + scale * w[k];
  }
}

// The largest distance from the plane of three points moved by m.
double OffPlane(const RegVec& m, const double pts[3][3], const PlaneEq plane) {
  double worst = 0.0;
  const double s = VecSize3(plane);
  for (int i = 0; i < 3; ++i) {
    double moved[3];
    Apply(m, pts[i], moved);
    worst = std::fmax(worst, std::fabs(VecDotProd3(plane, moved) + plane[3]) / s);
  }
  return worst;
}

// Matches a reachable target plane for every mode and scale and checks the match and the
// freedom left. `position` 0 draws planes in general position towards the axis through C along
// d; 1 across the axis, 2 along it (its normal across d), 3 through C, 4 holding the axis.
// `far` moves everything 1e4 x the scale from the origin; `viaPair` matches the planes as a
// feature pair (their reference points the features' points) instead of directly.
void CheckReachable(int position, std::mt19937& rng, bool far = false, bool viaPair = false, int trials = 12) {
  std::uniform_real_distribution<double> u(-4.0, 4.0), factor(0.5, 3.0);
  const double away[3] = {far ? 1e4 : 0.0, far ? -6e3 : 0.0, far ? 3.5e3 : 0.0};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (int mode : kPlaneModes) {
      for (int trial = 0; trial < trials; ++trial) {
        double C[3] = {scale * (away[0] + u(rng)), scale * (away[1] + u(rng)), scale * (away[2] + u(rng))}, d[3],
               slide[3], nA[3], off[3];
        RandomUnit(rng, d);
        RandomUnit(rng, slide);
        RegConstraint c = Around(mode, C, d, scale, slide);
        if (position == 1) {
          for (int k = 0; k < 3; ++k) nA[k] = d[k];
        } else if (position == 2 || position == 4) {
          RandomPerp(rng, d, nA);
        } else {
          do {
            RandomUnit(rng, nA);
          } while (std::fabs(VecDotProd3(nA, d)) > 0.9 || std::fabs(VecDotProd3(nA, d)) < 0.2);
        }
        RandomUnit(rng, off);
        double Q[3], ptsA[3][3], ptsB[3][3];
        for (int k = 0; k < 3; ++k) Q[k] = C[k] + (position >= 3 ? 0.0 : scale * 2.0 * off[k]);
        Span(Q, nA, scale, ptsA);
        const double f = factor(rng);
        const PlaneEq A = {f * nA[0], f * nA[1], f * nA[2], -f * VecDotProd3(nA, Q)};
        const RegVec allowed = trial == 0 ? RegVec{{1, 0, 0, 0}, {0, 0, 0}} : Sample(rng, c, scale);
        double nB[3], QB[3];
        VecRotWquaternion(nA, &allowed, nB);
        Apply(allowed, Q, QB);
        const double g = factor(rng) * (trial % 2 ? -1 : 1);
        const PlaneEq B = {g * nB[0], g * nB[1], g * nB[2], -g * VecDotProd3(nB, QB)};
        Span(QB, nB, scale, ptsB);
        // Far away the planes always come with their reference points: the foot of the origin
        // would lie 1e4 x the scale off, where a match measured from it is one from the origin.
        const double* refA = trial % 3 != 0 ? ptsA[trial % 3] : far ? ptsA[0] : nullptr;
        const double* refB = trial % 4 != 0 ? ptsB[trial % 4 == 1 ? 1 : 2] : far ? ptsB[0] : nullptr;

        RegConstraint left;
        RegVec motion;
        if (viaPair) {
          RegPair* pair = nullptr;
          ASSERT_EQ(AddPlaneFeaturePair(&pair, A, B), 0);
          for (int k = 0; k < 3; ++k) {
            if (refA) pair->A->point[k] = refA[k];
            if (refB) pair->B->point[k] = refB[k];
          }
          const int rc = ConstrainedRegFeaturePair(pair, c, &left, &motion);
          FreeFeaturePairList(pair);
          ASSERT_EQ(rc, 0) << "position " << position << " mode " << mode << " trial " << trial;
        } else {
          ASSERT_EQ(ConstrainedMatchPlanes(c, A, refA, B, refB, 0, &left, &motion), 0)
              << "position " << position << " mode " << mode << " trial " << trial;
        }
        const double tol = 1e-7 * scale;
        EXPECT_LE(OffPlane(motion, ptsA, B), tol)
            << "position " << position << " mode " << mode << " scale " << scale << " trial " << trial;
        const int leftMode = GetRegConstraintMode(left);
        if (leftMode == 42) continue;  // no named mode: nothing can be drawn from it
        double worst = 0.0;
        for (int s = 0; s < 6; ++s) worst = std::fmax(worst, OffPlane(Sample(rng, left, scale), ptsB, B));
        EXPECT_LE(worst, tol) << "position " << position << " mode " << mode << " left " << leftMode << " trial "
                              << trial;
      }
    }
  }
}

// For every mode and scale: a target plane reached by a motion the constraint allows (its
// equation rescaled, its sense at random, reference points anywhere in the planes or none) is
// matched exactly, an already matched plane stays where it is, and whatever freedom is left
// keeps the target in place.
TEST_F(PlaneMatch, ReachableTargetsAreMatchedAndTheFreedomLeftKeepsThem) {
  std::mt19937 rng(31);
  CheckReachable(0, rng);
}

TEST_F(PlaneMatch, PlanesAcrossAlongAndThroughTheAxis) {
  std::mt19937 rng(32);
  for (int position = 1; position <= 4; ++position) CheckReachable(position, rng);
}

// The same as feature pairs 1e4 x the scale from the origin, matched about the pair's own points:
// the freedom left keeps the target as it does near the origin.
TEST_F(PlaneMatch, PlanePairsFarFromTheOriginAreMatchedAlike) {
  std::mt19937 rng(33);
  for (int position = 0; position <= 4; ++position) CheckReachable(position, rng, true, true, 40);
}

// The matchers themselves judge lengths by the spread of the points in play, not by their
// distance from the origin: the same planes matched directly.
TEST_F(PlaneMatch, PlanesFarFromTheOriginAreMatchedDirectly) {
  std::mt19937 rng(34);
  for (int position = 0; position <= 4; ++position) CheckReachable(position, rng, true, false, 40);
}

TEST_F(PlaneMatch, KnownAnswers) {
  double P[3];
  const PlaneEq z2 = {0, 0, 1, -2};
  EXPECT_EQ(GetDefaultPointOnPlane(z2, P), 0);
  EXPECT_DOUBLE_EQ(P[2], 2.0);
  EXPECT_EQ(P[0], 0.0);

  // Free with no reference points: the feet of the origin are matched, normal z onto x.
  RegConstraint c, left;
  RegVec m;
  SetNullRegConstraint(&c);
  const PlaneEq z1 = {0, 0, 1, -1}, x2 = {1, 0, 0, -2};
  ASSERT_EQ(ConstrainedMatchPlanes(c, z1, nullptr, x2, nullptr, 0, &left, &m), 0);
  const double up[3] = {0, 0, 1};
  double moved[3], turned[3];
  Apply(m, up, moved);
  EXPECT_NEAR(moved[0], 2, 1e-12);
  EXPECT_NEAR(VecSize3(moved), 2, 1e-12);
  VecRotWquaternion(up, &m, turned);
  EXPECT_NEAR(turned[0], 1, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 58);
  EXPECT_EQ(left.plane[0], 1.0);
  EXPECT_EQ(left.plane[3], -2.0);

  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  // A plane the translation direction runs in cannot be moved onto another.
  c = Around(1, origin, z, 1.0, x);
  const PlaneEq y1 = {0, 1, 0, -1}, y3 = {0, 1, 0, -3};
  ASSERT_EQ(ConstrainedMatchPlanes(c, y1, nullptr, y3, nullptr, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(VecSize3(m.t), 0.0);
  EXPECT_TRUE(SameConstraint(left, c));

  // A point rotation with its centre on A: turn-overs about lines in B through C stay free.
  c = Around(64, origin, z, 1.0, x);
  const PlaneEq throughC = {1, 1, 0, 0}, away = {0, 1, 1, -3};
  ASSERT_EQ(ConstrainedMatchPlanes(c, throughC, nullptr, away, nullptr, 0, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 48);

  // Axis direction z with exactly one plane across it: nothing to do.
  c = Around(47, origin, z, 1.0, x);
  const PlaneEq across = {0, 0, 1, -1}, oblique = {1, 0, 1, -1};
  ASSERT_EQ(ConstrainedMatchPlanes(c, across, nullptr, oblique, nullptr, 0, &left, &m), 0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_TRUE(SameConstraint(left, c));
  // Both across it: a translation, and a freedom no matcher can take further.
  const PlaneEq acrossHigher = {0, 0, 2, -8};
  ASSERT_EQ(ConstrainedMatchPlanes(c, across, nullptr, acrossHigher, nullptr, 0, &left, &m), 0);
  EXPECT_NEAR(m.t[2], 3, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 42);
  RegConstraint next;
  EXPECT_EQ(ConstrainedMatchPlanes(left, across, nullptr, acrossHigher, nullptr, 0, &next, &m), -2);
}

// Remainders that once described the moving side or no mode at all, and turns that once trusted
// the reference points.
TEST_F(PlaneMatch, RemaindersOnTheTargetSide) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  RegConstraint left, next;
  RegVec m;
  std::mt19937 rng(8);

  // Axis z parallel to both planes: the turn about it places A, and sliding along z is left.
  RegConstraint c = Around(37, origin, z, 1.0, x);
  const PlaneEq xAt2 = {1, 0, 0, -2}, yAt2 = {0, -1, 0, -2};  // x = 2, y = -2
  double ptsB[3][3];
  const double QB[3] = {0, -2, 5}, nB[3] = {0, -1, 0};
  Span(QB, nB, 1.0, ptsB);
  ASSERT_EQ(ConstrainedMatchPlanes(c, xAt2, nullptr, yAt2, nullptr, 0, &left, &m), 0);
  const double onA[3] = {2, 7, -1};
  double moved[3];
  Apply(m, onA, moved);
  EXPECT_NEAR(moved[1], -2, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 1);
  EXPECT_NEAR(std::fabs(left.transDir[2]), 1, 1e-12);
  for (int s = 0; s < 6; ++s) EXPECT_LE(OffPlane(Sample(rng, left, 1.0), ptsB, yAt2), 1e-12);
  EXPECT_EQ(ConstrainedMatchPlanes(left, xAt2, nullptr, yAt2, nullptr, 0, &next, &m), 0);

  // Axis z crossing both planes, with turn-overs: the point left lies where the axis meets B.
  c = Around(53, origin, z, 1.0, x);
  const PlaneEq low = {1, 0, 1, 1}, high = {0, 1, 1, -4};
  ASSERT_EQ(ConstrainedMatchPlanes(c, low, nullptr, high, nullptr, 0, &left, &m), 0);
  EXPECT_EQ(GetRegConstraintMode(left), 16);
  EXPECT_NEAR(left.point[2], 4, 1e-12);
  EXPECT_NEAR(left.axisPoint1[2], 4, 1e-12);

  // A half turn about z with sliding, both planes parallel to z on opposite sides: the sides are
  // told from the axis, not from reference points far along the planes.
  c = Around(21, origin, z, 1.0, z);
  const PlaneEq east = {1, 0, 0, -1}, west = {1, 0, 0, 1};  // x = 1, x = -1
  const double farEast[3] = {1, 50, 0}, farWest[3] = {-1, 50, 0};
  ASSERT_EQ(ConstrainedMatchPlanes(c, east, farEast, west, farWest, 0, &left, &m), 0);
  Apply(m, farEast, moved);
  EXPECT_NEAR(moved[0], -1, 1e-12);
  EXPECT_EQ(GetRegConstraintMode(left), 1);
}

TEST_F(PlaneMatch, RefusalsLeaveTheIdentityAndTheCopiedConstraint) {
  const double origin[3] = {0, 0, 0}, z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  const PlaneEq A = {1, 2, 3, -4}, B = {-1, 1, 2, 5}, none = {0, 0, 0, 1};
  RegConstraint left;
  RegVec m;
  RegConstraint c = Around(32, origin, z, 1.0, x);
  EXPECT_EQ(ConstrainedMatchPlanes(c, A, nullptr, B, nullptr, 0, nullptr, &m), -2);
  EXPECT_EQ(ConstrainedMatchPlanes(c, A, nullptr, B, nullptr, 0, &left, nullptr), -2);
  EXPECT_EQ(CRFreeMatchPlanes(c, A, nullptr, B, nullptr, 0, &left, &m), -2);

  auto refused = [&](const RegConstraint& bad, const double* a) {
    m = RegVec{{0, 1, 0, 0}, {7, 7, 7}};
    EXPECT_EQ(ConstrainedMatchPlanes(bad, a, nullptr, B, nullptr, 0, &left, &m), -2) << GetRegConstraintMode(bad);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
    EXPECT_TRUE(SameConstraint(left, bad)) << GetRegConstraintMode(bad);
  };
  // Translation-only modes have no plane solver.
  refused(Around(2, origin, z, 1.0, x), A);
  refused(Around(15, origin, z, 1.0, x), A);
  refused(Around(3, origin, z, 1.0, x), A);
  for (int mode : {16, 21, 32, 37, 47, 53}) {
    RegConstraint bad = Around(mode, origin, z, 1.0, x);
    for (int k = 0; k < 3; ++k) bad.axisPoint2[k] = bad.axisPoint1[k];
    refused(bad, A);
  }
  RegConstraint bad = Around(58, origin, z, 1.0, x);
  bad.plane[0] = bad.plane[1] = bad.plane[2] = 0;
  refused(bad, A);
  bad = Around(48, origin, z, 1.0, x);
  bad.axis[0] = bad.axis[1] = bad.axis[2] = 0;
  refused(bad, A);
  bad = Around(1, origin, z, 1.0, x);
  bad.transDir[0] = bad.transDir[1] = bad.transDir[2] = 0;
  refused(bad, A);
  refused(Around(47, origin, z, 1.0, x), none);
}

}  // namespace
