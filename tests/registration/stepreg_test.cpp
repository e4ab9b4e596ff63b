#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "bspline/bsvalid.h"
#include "foundation/umalloc.h"
#include "registration/confreg.h"
#include "registration/regpair.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace freedom;

class StepByStep : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetRegAngleTol(1.0);
  }
};

bool SameConstraint(const RegConstraint& a, const RegConstraint& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

RegVec RandomMotion(std::mt19937& rng, double scale) {
  std::normal_distribution<double> g(0.0, 1.0);
  RegVec m = {{g(rng), g(rng), g(rng), g(rng)}, {scale * g(rng), scale * g(rng), scale * g(rng)}};
  NormalizeQternion(m.q);
  return m;
}

// A list of pairs whose targets are the moving features carried by `truth`, in list order:
// 'p' point, 'd' direction, 'l' line, 'L' directed line, 'f' line fixed along itself, 'P' plane.
// The moving features lie within `scale` of `centre`.
RegPair* PairsUnder(std::mt19937& rng, const RegVec& truth, const std::string& kinds, const double centre[3],
                    double scale) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  RegPair* list = nullptr;
  for (auto kind = kinds.rbegin(); kind != kinds.rend(); ++kind) {
    double a[3], b[3], a2[3], b2[3];
    for (int k = 0; k < 3; ++k) a[k] = centre[k] + scale * u(rng), a2[k] = centre[k] + scale * u(rng);
    Apply(truth, a, b);
    Apply(truth, a2, b2);
    double n[3], nb[3];
    RandomUnit(rng, n);
    RegVec turn = truth;
    VecRotWquaternion(n, &turn, nb);
    switch (*kind) {
      case 'p': EXPECT_EQ(AddPointFeaturePair(&list, a, b), 0); break;
      case 'd': EXPECT_EQ(AddDirectionFeaturePair(&list, n, nb), 0); break;
      case 'l': EXPECT_EQ(AddLineFeaturePair(&list, a, a2, b, b2), 0); break;
      case 'L':
      case 'f':
        EXPECT_EQ(AddDLineFeaturePair(&list, a, a2, b, b2), 0);
        if (*kind == 'f') list->A->type = list->B->type = 3;
        break;
      default: {
        const double pa[4] = {n[0], n[1], n[2], -VecDotProd3(n, a)};
        const double pb[4] = {nb[0], nb[1], nb[2], -VecDotProd3(nb, b)};
        EXPECT_EQ(AddPlaneFeaturePair(&list, pa, pb), 0);
      }
    }
  }
  return list;
}

// Largest distance between the images of points around `centre` under the two motions, over
// `scale`.
double Miss(const RegVec& m, const RegVec& truth, const double centre[3], double scale) {
  double worst = 0.0;
  for (int i = 0; i < 8; ++i) {
    double X[3], a[3], b[3];
    for (int k = 0; k < 3; ++k) X[k] = centre[k] + scale * ((i >> k & 1) ? 1 : -1);
    Apply(m, X, a);
    Apply(truth, X, b);
    worst = std::fmax(worst, VecDist3(a, b) / scale);
  }
  return worst;
}

// Lists that fix the motion recover it at every scale and place, the matrix and the motion agree,
// the list is left as it was, and pairs met once the motion is fixed still count.
TEST_F(StepByStep, PairsThatFixTheMotionRecoverIt) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (const char* kinds : {"ppp", "dpp", "ddp", "pdp", "pppd", "ddpp", "Plp", "PLp", "Pfp", "PPP", "fp", "Lp", "lpp", "dfp", "pPp", "dPp", "Pdp", "lll", "LL", "fP", "lPp", "LPp", "ffp", "pdd"}) {
      for (int trial = 0; trial < 4; ++trial) {
        const std::string where = std::string(kinds) + " scale " + std::to_string(scale);
        const double centre[3] = {scale * u(rng), scale * u(rng), scale * u(rng)};
        RegVec truth = RandomMotion(rng, scale);
        RegPair* list = PairsUnder(rng, truth, kinds, centre, scale);
        RegPair* before = CopyRegPairList(list);
        int count = -1;
        RegVec m;
        Xform M;
        RegConstraint left;
        EXPECT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0) << where;
        EXPECT_EQ(count, static_cast<int>(std::strlen(kinds))) << where;
        EXPECT_EQ(GetRegConstraintMode(left), 0) << where;
        EXPECT_LE(Miss(m, truth, centre, scale), 1e-9) << where;
        double viaMatrix[3], viaMotion[3];
        VecTrans3(centre, M, viaMatrix);
        Apply(m, centre, viaMotion);
        EXPECT_LE(VecDist3(viaMatrix, viaMotion), 1e-9 * scale) << where;
        for (const RegPair *a = list, *b = before; a; a = a->next, b = b->next)
          for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(a->A->point[k], b->A->point[k]);
            EXPECT_EQ(a->A->dir[k], b->A->dir[k]);
          }
        FreeFeaturePairList(before);
        FreeFeaturePairList(list);
      }
    }
  }
}

// How far a motion carries a target feature off itself: a point or a fixed line's first point
// moves, a direction turns, a line's ends leave its line (a directed one also its sense), a plane's
// foot of the origin leaves the plane.
double Drift(const RegFeature& f, const RegVec& s, double scale) {
  double a[3], b[3], d[3], n[3];
  RegVec copy = s;
  switch (f.type) {
    case 0: Apply(s, f.point, a); return VecDist3(a, f.point) / scale;
    case 5: VecRotWquaternion(f.dir, &copy, a); return VecDist3(a, f.dir);
    case 4: {
      for (int k = 0; k < 3; ++k) n[k] = f.plane[k];
      const double len = VecSize3(n);
      for (int k = 0; k < 3; ++k) b[k] = -f.plane[3] * n[k] / (len * len);
      Apply(s, b, a);
      VecRotWquaternion(n, &copy, d);
      return std::fabs(VecDotProd3(n, a) + f.plane[3]) / len / scale + 1 - std::fabs(VecDotProd3(d, n)) / (len * len);
    }
    default: {
      VecDiff3(f.end2, f.end1, d);
      const double len = VecSize3(d);
      double worst = 0.0, v[3], c[3];
      for (const double* e : {f.end1, f.end2}) {
        Apply(s, e, a);
        VecDiff3(a, f.end1, v);
        VectorCrossProduct(v, d, c);
        worst = std::fmax(worst, VecSize3(c) / len / scale);
      }
      VecRotWquaternion(d, &copy, v);
      if (f.type >= 2) worst += 1 - VecDotProd3(v, d) / (len * len);
      if (f.type == 3) {
        Apply(s, f.end1, a);
        worst += VecDist3(a, f.end1) / scale;
      }
      return worst;
    }
  }
}

// Lists that leave freedom: every motion the remaining constraint allows keeps every target in
// place, so what is reported undetermined truly is.
TEST_F(StepByStep, TheFreedomLeftKeepsEveryTarget) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (const char* kinds : {"p", "d", "l", "L", "f", "P", "pp", "pd", "dp", "lp", "pl", "PP", "Pl", "dP", "Pd",
                              "ld", "dl"}) {
      const double centre[3] = {scale * u(rng), scale * u(rng), scale * u(rng)};
      RegVec truth = RandomMotion(rng, scale);
      RegPair* list = PairsUnder(rng, truth, kinds, centre, scale);
      int count;
      RegVec m;
      Xform M;
      RegConstraint left;
      const std::string where = std::string(kinds) + " scale " + std::to_string(scale);
      EXPECT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0) << where;
      for (const RegPair* pair = list; pair; pair = pair->next) {
        double worst = 0.0;
        for (int s = 0; s < 6; ++s) worst = std::fmax(worst, Drift(*pair->B, Sample(rng, left, scale), scale));
        EXPECT_LE(worst, 1e-9) << where << " left " << GetRegConstraintMode(left) << " type " << pair->B->type;
      }
      FreeFeaturePairList(list);
    }
  }
}

// A direction pair first turns about the moving feature's own point and leaves rotation about
// the target direction through it, with any translation.
TEST_F(StepByStep, ADirectionFirstTurnsAboutItsOwnPoint) {
  const double a[3] = {1, 2, 3};
  RegPair* list = nullptr;
  int count;
  RegVec m;
  Xform M;
  RegConstraint left;
  const double x[3] = {1, 0, 0}, y[3] = {0, 2, 0};
  ASSERT_EQ(AddDirectionFeaturePair(&list, x, y), 0);
  for (int k = 0; k < 3; ++k) list->A->point[k] = a[k];
  ASSERT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0);
  double moved[3];
  Apply(m, a, moved);
  EXPECT_LE(VecDist3(moved, a), 1e-14);
  VecRot3(x, M, moved);
  EXPECT_NEAR(moved[1], 1, 1e-15);
  EXPECT_EQ(GetRegConstraintMode(left), 47);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(left.axisPoint1[k], a[k]);
    EXPECT_NEAR(left.axis[k], y[k] / 2, 1e-15);
  }
  FreeFeaturePairList(list);
}

TEST_F(StepByStep, DispatchRefusalsLeaveTheIdentityAndTheCopiedConstraint) {
  const double p[3] = {1, 2, 3}, q[3] = {3, -2, 1}, origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
  RegPair* dirs = nullptr;
  RegPair* points = nullptr;
  ASSERT_EQ(AddDirectionFeaturePair(&dirs, p, q), 0);
  ASSERT_EQ(AddPointFeaturePair(&points, p, q), 0);
  RegConstraint left;
  RegVec m;
  auto refused = [&](const RegPair* pair, const RegConstraint& c) {
    m = RegVec{{0, 1, 0, 0}, {7, 7, 7}};
    EXPECT_EQ(ConstrainedRegFeaturePair(pair, c, &left, &m), -2) << GetRegConstraintMode(c);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
    EXPECT_TRUE(SameConstraint(left, c)) << GetRegConstraintMode(c);
  };
  // A translation cannot turn a direction, nor bring a plane onto another within a plane or freely.
  RegPair* planes = nullptr;
  const double pa[4] = {0, 0, 1, -1}, pb[4] = {1, 0, 0, -2};
  ASSERT_EQ(AddPlaneFeaturePair(&planes, pa, pb), 0);
  for (int mode : {1, 2, 15}) refused(dirs, Around(mode, origin, z, 1.0, z));
  for (int mode : {2, 15}) refused(planes, Around(mode, origin, z, 1.0, z));
  FreeFeaturePairList(planes);
  // Modes outside the fourteen.
  for (int mode : {3, 42, 63}) {
    refused(dirs, Around(mode, origin, z, 1.0, z));
    refused(points, Around(mode, origin, z, 1.0, z));
  }
  RegConstraint free;
  SetNullRegConstraint(&free);
  refused(nullptr, free);
  // Features of different types, a missing feature, a point set (no matcher).
  RegFeature* keep = points->B;
  points->B = dirs->B;
  refused(points, free);
  points->B = nullptr;
  refused(points, free);
  points->B = keep;
  points->A->type = points->B->type = 6;
  refused(points, free);
  points->A->type = points->B->type = 0;
  EXPECT_EQ(ConstrainedRegFeaturePair(points, free, nullptr, &m), -2);
  EXPECT_EQ(ConstrainedRegFeaturePair(points, free, &left, nullptr), -2);
  // Under Fixed every matcher succeeds with the identity.
  RegConstraint fixed = Around(0, origin, z, 1.0, z);
  for (const RegPair* pair : {dirs, points}) {
    EXPECT_EQ(ConstrainedRegFeaturePair(pair, fixed, &left, &m), 0);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    EXPECT_EQ(m.t[0], 0.0);
  }
  FreeFeaturePairList(dirs);
  FreeFeaturePairList(points);
}

// The three line types reach their matchers with their own flags: a line is brought onto the
// target line, a directed line also turned round to the target's sense with its midpoint on the
// target's, a line fixed along itself with its first point on the target's first.
TEST_F(StepByStep, LineTypesKeepTheirMeaning) {
  const double p[3] = {0, 0, 0}, q[3] = {1, 0, 0}, b1[3] = {7, 0, 0}, b2[3] = {5, 0, 0};
  for (int type : {1, 2, 3}) {
    RegPair* list = nullptr;
    ASSERT_EQ(AddLineFeaturePair(&list, p, q, b1, b2), 0);
    list->A->type = list->B->type = type;
    int count;
    RegVec m;
    Xform M;
    RegConstraint left;
    ASSERT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0) << type;
    double x[3], start[3], end[3];
    VecRot3(q, M, x);
    Apply(m, p, start);
    Apply(m, q, end);
    EXPECT_NEAR(std::hypot(start[1], start[2]) + std::hypot(end[1], end[2]), 0, 1e-12) << type;
    if (type >= 2) {
      EXPECT_NEAR(x[0], -1, 1e-12) << type;
      EXPECT_NEAR(start[0], type == 2 ? 6.5 : 7, 1e-12) << type;
    }
    FreeFeaturePairList(list);
  }
}

// A run that fails (a refused pair, a null list, memory running out) reports no pair solved and
// the identity matrix, and leaves the motion and constraint as they were.
TEST_F(StepByStep, AFailedRunWritesNothing) {
  std::mt19937 rng(3);
  const double centre[3] = {1, 1, 1};
  RegVec truth = RandomMotion(rng, 1.0);
  const RegVec sentinel = {{0, 0, 1, 0}, {9, 9, 9}};
  RegConstraint unset;
  SetNullRegConstraint(&unset);
  unset.point[0] = 42;
  auto expectUntouched = [&](int count, const RegVec& m, const Xform M, const RegConstraint& left) {
    EXPECT_EQ(count, 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(M[i], i % 5 == 0 ? 1.0 : 0.0);
    EXPECT_EQ(std::memcmp(&m, &sentinel, sizeof m), 0);
    EXPECT_TRUE(SameConstraint(left, unset));
  };
  // The third direction meets Trans3D, which no direction matcher accepts; the third pair of
  // points has features of different types.
  for (const char* kinds : {"ddd", "ppp"}) {
    RegPair* list = PairsUnder(rng, truth, kinds, centre, 1.0);
    if (kinds[0] == 'p') list->next->next->A->type = 5;
    int count = 5;
    RegVec m = sentinel;
    Xform M;
    for (double& e : M) e = 3;
    RegConstraint left = unset;
    EXPECT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), -2) << kinds;
    expectUntouched(count, m, M, left);
    FreeFeaturePairList(list);
  }
  int count = 5;
  RegVec m = sentinel;
  Xform M;
  RegConstraint left = unset;
  EXPECT_EQ(DoStepByStepRegistration(nullptr, &count, &m, M, &left), -2);
  expectUntouched(count, m, M, left);
  EXPECT_EQ(DoStepByStepRegistration(nullptr, nullptr, &m, M, &left), -2);

  RegPair* list = PairsUnder(rng, truth, "dpp", centre, 1.0);
  const int failed = RunWithInjectedFailures(60, 1, [&] {
    count = 5;
    m = sentinel;
    left = unset;
    const int r = DoStepByStepRegistration(list, &count, &m, M, &left);
    if (r != 0) {
      expectUntouched(count, m, M, left);
    } else {
      EXPECT_LE(Miss(m, truth, centre, 1.0), 1e-9);
    }
    return r;
  });
  EXPECT_GT(failed, 0);
  EXPECT_LT(failed, 60);
  FreeFeaturePairList(list);
}

// Seeded torture: lists of every pair type with values that are not numbers, infinite, huge,
// tiny or zero written into their coordinates. A run either fails cleanly or hands back a finite
// motion, matrix and constraint.
TEST_F(StepByStep, ExtremeValuesFailCleanlyOrGiveFiniteMotions) {
  std::mt19937 rng(17);
  const double extremes[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 1e-300, 0.0};
  const char kinds[] = "pdlLfP";
  std::uniform_int_distribution<int> pick(0, 5), which(0, 6), slot(0, 12);
  int solved = 0, refused = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::string list = {kinds[pick(rng)], kinds[pick(rng)], kinds[pick(rng)]};
    const double centre[3] = {0, 0, 0};
    RegPair* pairs = PairsUnder(rng, RandomMotion(rng, 1.0), list, centre, 1.0);
    RegFeature* f = (trial % 2) ? pairs->next->A : pairs->next->next->B;
    double* fields[] = {f->point, f->dir, f->end1, f->end2, f->plane};
    const int s = slot(rng);
    fields[s / 3 % 5][s % 3] = extremes[which(rng)];
    int count;
    RegVec m;
    Xform M;
    RegConstraint left;
    if (DoStepByStepRegistration(pairs, &count, &m, M, &left) == 0) {
      ++solved;
      EXPECT_TRUE(AllFinite(m.q, 4) && AllFinite(m.t, 3) && AllFinite(M, 16)) << list;
      EXPECT_TRUE(AllFinite(left.point, 3) && AllFinite(left.axisPoint2, 3) && AllFinite(left.plane, 4)) << list;
    } else {
      ++refused;
    }
    FreeFeaturePairList(pairs);
  }
  EXPECT_GT(solved, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace

namespace {

// Three exact point pairs, the third point 1e-4 of the size off the line of the first two, at
// sizes 1e-6 .. 1e6, at the origin and moved 1e4 x the size away: the three fix the motion
// (no turn about that line left free) and carry every moving point onto its target.
TEST_F(StepByStep, NearlyCollinearPointsFixTheMotionAnywhere) {
  std::mt19937 rng(9);
  for (double scale : {1e-6, 1.0, 1e6})
    for (double move : {0.0, 1e4}) {
      const double o[3] = {move * scale, -0.6 * move * scale, 0.35 * move * scale};
      const double a[3][3] = {{o[0], o[1], o[2]}, {o[0] + scale, o[1], o[2]}, {o[0] + 0.5 * scale, o[1] + 1e-4 * scale, o[2]}};
      RegVec truth = RandomMotion(rng, scale);
      RegPair* list = nullptr;
      double b[3][3];
      for (int i = 2; i >= 0; --i) {
        Apply(truth, a[i], b[i]);
        ASSERT_EQ(AddPointFeaturePair(&list, a[i], b[i]), 0);
      }
      int count = -1;
      RegVec m;
      Xform M;
      RegConstraint left;
      const std::string where = "scale " + std::to_string(scale) + " move " + std::to_string(move);
      EXPECT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0) << where;
      EXPECT_EQ(count, 3) << where;
      EXPECT_EQ(GetRegConstraintMode(left), 0) << where;
      for (int i = 0; i < 3; ++i) {
        double moved[3], viaMatrix[3];
        Apply(m, a[i], moved);
        VecTrans3(a[i], M, viaMatrix);
        // Far away the points carry 1e-12 of the size less: 1e-4 of it off the line leaves 1e-8.
        EXPECT_LE(VecDist3(moved, b[i]), 1e-7 * scale) << where << " point " << i;
        EXPECT_LE(VecDist3(viaMatrix, b[i]), 1e-7 * scale) << where << " point " << i;
      }
      FreeFeaturePairList(list);
    }
}

}  // namespace

namespace {

// A point pair matched directly under a rotation about the point C, the moving point 5e-3 of the
// size from C and its target a size away, at sizes 1e-6 .. 1e6, at the origin and moved 1e4 x
// the size: A turns onto the ray from C towards B (C stays), and the turn about that ray is left.
TEST_F(StepByStep, ADirectMatchJudgesLengthsByTheFeaturesAnywhere) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (double move : {0.0, 1e4}) {
      const double o[3] = {move * scale, -0.6 * move * scale, 0.35 * move * scale};
      const double C[3] = {o[0], o[1], o[2]};
      const double A[3] = {o[0] + 3e-3 * scale, o[1] + 4e-3 * scale, o[2]};
      const double B[3] = {o[0] + 0.36 * scale, o[1] - 0.48 * scale, o[2] + 0.8 * scale};
      RegPair* list = nullptr;
      ASSERT_EQ(AddPointFeaturePair(&list, A, B), 0);
      RegConstraint c, left;
      SetNullRegConstraint(&c);
      c.kind = 4, c.centreFreedom = 0, c.transFreedom = 0;  // RotPoint
      for (int k = 0; k < 3; ++k) c.point[k] = C[k];
      RegVec m;
      const std::string where = "scale " + std::to_string(scale) + " move " + std::to_string(move);
      ASSERT_EQ(ConstrainedRegFeaturePair(list, c, &left, &m), 0) << where;
      double movedA[3], movedC[3], onRay[3];
      Apply(m, A, movedA);
      Apply(m, C, movedC);
      for (int k = 0; k < 3; ++k) onRay[k] = C[k] + 5e-3 * (B[k] - C[k]);
      EXPECT_LE(VecDist3(movedA, onRay), 1e-9 * scale) << where;
      EXPECT_LE(VecDist3(movedC, C), 1e-9 * scale) << where;
      EXPECT_EQ(GetRegConstraintMode(left), static_cast<int>(RegConstraintMode::ArFixed)) << where;
      EXPECT_LE(VecDist3(left.axisPoint1, C), 1e-9 * scale) << where;
      double e[3], u[3], cross[3];
      for (int k = 0; k < 3; ++k) e[k] = left.axisPoint2[k] - left.axisPoint1[k], u[k] = B[k] - C[k];
      VecCrossProd3(e, u, cross);
      EXPECT_LE(VecSize3(cross), 1e-9 * VecSize3(e) * VecSize3(u)) << where;
      FreeFeaturePairList(list);
    }
}

}  // namespace

namespace {

// Lists of planes and directions (with a point or line where planes and directions leave a
// slide) that fix the motion, at sizes 1e-6 .. 1e6 moved 1e4 x the size from the origin: the
// motion is recovered to the round-off of coordinates there, and the freedom left is none.
TEST_F(StepByStep, PlanesAndDirectionsFixTheMotionFarFromTheOrigin) {
  std::mt19937 rng(41);
  for (double scale : {1e-6, 1e-3, 1.0, 1e3, 1e6})
    for (const char* kinds : {"PPP", "PPPd", "dPp", "Pdp", "dpP", "PPl", "pPP"})
      for (int trial = 0; trial < 3; ++trial) {
        const std::string where = std::string(kinds) + " scale " + std::to_string(scale);
        const double centre[3] = {1e4 * scale, -6e3 * scale, 3.5e3 * scale};
        RegVec truth = RandomMotion(rng, scale);
        RegPair* list = PairsUnder(rng, truth, kinds, centre, scale);
        int count = -1;
        RegVec m;
        Xform M;
        RegConstraint left;
        EXPECT_EQ(DoStepByStepRegistration(list, &count, &m, M, &left), 0) << where;
        EXPECT_EQ(GetRegConstraintMode(left), 0) << where;
        EXPECT_LE(Miss(m, truth, centre, scale), 1e-9) << where;
        FreeFeaturePairList(list);
      }
}

}  // namespace
