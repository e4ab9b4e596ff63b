#include "registration/icp.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "registration/concpsr.h"
#include "registration/cpsr.h"
#include "registration/icploop.h"
#include "registration/register.h"
#include "registration/stepreg.h"
#include "tests/registration/freedom.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

// An L-bracket in millimetres: a 100 x 50 base plate with a round hole and a 50 x 75 upright,
// sampled on a grid of `step`. No symmetry maps it onto itself, so the registration has one answer.
Cloud* Bracket(double step) {
  const double S = 25.0;
  std::vector<float> x, y, z;
  for (double u = 0; u <= 4.0 * S + 1e-9; u += step)
    for (double v = 0; v <= 2.0 * S + 1e-9; v += step) {
      if ((u - 2.8 * S) * (u - 2.8 * S) + (v - 1.1 * S) * (v - 1.1 * S) < 0.25 * S * S) continue;
      x.push_back(float(u)), y.push_back(float(v)), z.push_back(0.0f);
    }
  for (double v = 0; v <= 2.0 * S + 1e-9; v += step)
    for (double w = step; w <= 3.0 * S + 1e-9; w += step)
      x.push_back(0.0f), y.push_back(float(v)), z.push_back(float(w));
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

Cloud* MovedCopy(const Cloud* c, const RegVec& v) {
  std::vector<float> x(c->npts), y(c->npts), z(c->npts);
  TransformPntSet(c->x, c->y, c->z, c->npts, &v, x.data(), y.data(), z.data());
  return MakeCld(x.data(), y.data(), z.data(), c->npts, nullptr);
}

RegVec Turn(double degrees, const double axis[3], const double t[3]) {
  double a[3];
  VecNormalize3(axis, a);
  const double h = degrees * kPi / 360;
  return RegVec{{std::cos(h), std::sin(h) * a[0], std::sin(h) * a[1], std::sin(h) * a[2]}, {t[0], t[1], t[2]}};
}

RegVec Inverse(const RegVec& v) {
  RegVec inv = {{v.q[0], -v.q[1], -v.q[2], -v.q[3]}, {0, 0, 0}};
  double r[3];
  VecRotWquaternion(v.t, &inv, r);
  for (int k = 0; k < 3; ++k) inv.t[k] = -r[k];
  return inv;
}

// Largest displacement between the two motions over the bracket's corners.
double MotionGap(const RegVec& a, const RegVec& b) {
  const double corners[4][3] = {{0, 0, 0}, {100, 50, 0}, {0, 50, 75}, {100, 0, 0}};
  double gap = 0;
  for (const auto& p : corners) {
    double pa[3], pb[3];
    VecQterTrans3(p, &a, pa);
    VecQterTrans3(p, &b, pb);
    gap = std::max(gap, VecDist3(pa, pb));
  }
  return gap;
}

class Icp : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetDefaultRegParams(&params);
    target = Bracket(2.5);
    const double axis[3] = {0.3, -0.5, 1}, t[3] = {0.5, -0.25, 0.375};
    truth = Turn(2.0, axis, t);  // moving = truth^-1 (target): truth brings it back
    moving = MovedCopy(target, Inverse(truth));
  }
  void TearDown() override {
    FreeCloud(target);
    FreeCloud(moving);
    SetRegistrationMode(0);
    KernelTest::TearDown();
  }
  RegParams params;
  Cloud* target = nullptr;
  Cloud* moving = nullptr;
  RegVec truth;
};

TEST_F(Icp, MovedCopyIsRegisteredBack) {
  params.tolerance = 1e-5;
  params.maxIterations = 100;
  RegVec m;
  SetIdentityQuaternion(&m);
  double error = -1, largest = -1;
  int brk = -1;
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(brk, 0);
  EXPECT_LT(error, 1e-4);
  EXPECT_LT(MotionGap(m, truth), 1e-3);
  // The reported error is the closed form's residual against the last pairs: the motion's own
  // nearest-point error can only be smaller.
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  double e2, l2;
  ASSERT_EQ(PntSetRegError(moving->x, moving->y, moving->z, moving->npts, &m, tree, params.maxDistance, &e2, &l2), 0);
  EXPECT_LE(e2, error + 1e-9);
  FreeKDTree(tree);
}

TEST_F(Icp, GlobalSearchFindsALargeTurn) {
  FreeCloud(moving);
  const double axis[3] = {0, 0, 1}, t[3] = {25, -50, 12.5};
  truth = Turn(100.0, axis, t);
  moving = MovedCopy(target, Inverse(truth));
  params.globalSearch = 1;
  params.tolerance = 1e-4;
  RegVec m;
  SetIdentityQuaternion(&m);
  double error, largest;
  int brk;
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
  EXPECT_LT(error, 0.05);
  EXPECT_LT(MotionGap(m, truth), 0.5);
}

TEST_F(Icp, UserBreakStopsWithTheBestMotionSoFar) {
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  RegVec id;
  SetIdentityQuaternion(&id);
  double startError, startLargest;
  PntSetRegError(moving->x, moving->y, moving->z, moving->npts, &id, tree, params.maxDistance, &startError,
                 &startLargest);
  FreeKDTree(tree);
  StubBreakAfterPolls(0);
  RegVec clean = id;
  double cleanError, cleanLargest;
  int cleanBreak;
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &clean, &cleanError, &cleanLargest, &cleanBreak), 0);
  const long total = StubUserBreakPolls();
  ASSERT_GT(total, 3);
  for (long polls : {1L, 2L, total / 2, total}) {
    StubBreakAfterPolls(polls);
    RegVec m = id;
    double error = -1, largest = -1;
    int brk = 0;
    ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
    // A break in the main loop used to be swallowed, the flag left 0.
    EXPECT_EQ(brk, 1) << polls;
    EXPECT_LE(error, startError) << polls;
    EXPECT_EQ(StubUserBreakPolls(), polls);
  }
  StubBreakAfterPolls(0);
}

TEST_F(Icp, DisplayIsSwitchedOnceAndShowsOnlyImprovements) {
  params.animate = 1;
  RegVec m;
  SetIdentityQuaternion(&m);
  double error, largest;
  int brk;
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
  StubRegAnimation shown = StubGetRegAnimation();
  EXPECT_EQ(shown.enables, 1);
  EXPECT_EQ(shown.disables, 0);
  EXPECT_GT(shown.frames, 0);
  EXPECT_LE(shown.frames, params.maxIterations + 5);
  // The last frame shown is the motion handed back.
  double expect[4][4];
  registr_transform_matrix(&m, expect);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(shown.last[i][j], expect[i][j], 1e-12);

  StubReset();
  params.animate = 0;
  SetIdentityQuaternion(&m);
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
  shown = StubGetRegAnimation();
  EXPECT_EQ(shown.enables, 0);
  EXPECT_EQ(shown.disables, 1);
  EXPECT_EQ(shown.frames, 0);
}

TEST_F(Icp, RefusedInputsWriteNothingButTheBreakFlag) {
  const float x[2] = {0, 1}, y[2] = {0, 0}, z[2] = {0, 0};
  Cloud* two = MakeCld(x, y, z, 2, nullptr);
  RegVec m = {{2, 0, 0, 0}, {1, 1, 1}};
  double error = 7, largest = 7;
  int brk = 5;
  EXPECT_EQ(ICPtwoClouds(two, target, params, &m, &error, &largest, &brk), -2);
  EXPECT_EQ(ICPtwoClouds(moving, two, params, &m, &error, &largest, &brk), -2);
  EXPECT_EQ(brk, 0);
  EXPECT_EQ(error, 7.0);
  EXPECT_EQ(m.q[0], 2.0);
  FreeCloud(two);
  // No pair within reach at the start.
  params.maxDistance = 1e-9;
  EXPECT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), -2);
  EXPECT_EQ(error, 7.0);
  EXPECT_EQ(SetDefaultRegParams(nullptr), -2);
}

TEST_F(Icp, EveryRefusedAllocationFailsCleanlyOrChangesNothing) {
  FreeCloud(target);
  FreeCloud(moving);
  target = Bracket(6.0);
  moving = MovedCopy(target, Inverse(truth));
  RegVec clean;
  SetIdentityQuaternion(&clean);
  double cleanError, largest;
  int brk;
  const long before = MallocRuntimeRequests();
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &clean, &cleanError, &largest, &brk), 0);
  const long requests = MallocRuntimeRequests() - before;
  const int failures = RunWithInjectedFailures(requests + 2, 1, [&] {
    RegVec m = {{2, 0, 0, 0}, {0, 0, 0}};
    double error = -1, far = -1;
    int b = -1;
    const int r = ICPtwoClouds(moving, target, params, &m, &error, &far, &b);
    if (r != 0) {
      EXPECT_EQ(r, -2);
      EXPECT_EQ(error, -1.0);
      EXPECT_TRUE(m.q[0] == 2.0 || m.q[0] == 1.0);  // at most normalised
    } else {
      EXPECT_EQ(error, cleanError);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(Icp, ExtrapolationFollowsAStraightRunToTheZeroOfItsErrors) {
  // Errors on a line falling to zero one step ahead; the parabola is degenerate.
  const double x[3] = {0, -1, -2}, e[3] = {1, 2, 3};
  double s = -1;
  Func3ValExtrapolate(x, e, 5.0, &s);
  EXPECT_NEAR(s, 1.0, 1e-12);
  const double zero[3] = {0, 1, 2};
  Func3ValExtrapolate(x, zero, 5.0, &s);
  EXPECT_EQ(s, 0.0);
  // Two positions alike: the parabola's system is refused, so there is no vertex (its
  // coefficients used to be read unset); the least-squares line decides.
  const double twice[3] = {0, -1, -1};
  Func3ValExtrapolate(twice, e, 5.0, &s);
  EXPECT_NEAR(s, 2.0 / 3.0, 1e-12);

  double** table = allocate_matrix_ff(4, 7);
  for (int r = 0; r < 4; ++r) {
    const RegVec v = {{1, 0, 0, 0}, {0.1 * r, 0, 0}};
    Insert_registr_table(table, 4, &v);  // rows end newest first: 0.3, 0.2, 0.1, 0.0
  }
  EXPECT_NEAR(table[0][4], 0.3, 1e-15);
  EXPECT_NEAR(table[3][4], 0.0, 1e-15);
  // Error = distance still to go to x = 0.6, whose zero the straight run reaches.
  const double h[4] = {0.3, 0.4, 0.5, 0.6};
  RegVec out;
  int done = 0;
  ASSERT_EQ(UpdateICPRegistration(table, h, 0.925, 10.0, &out, &done), 0);
  EXPECT_EQ(done, 1);
  EXPECT_NEAR(out.t[0], 0.6, 1e-12);
  EXPECT_EQ(out.q[0], 1.0);
  // A bent run is not extrapolated.
  table[2][5] = 0.1;
  EXPECT_EQ(UpdateICPRegistration(table, h, 0.925, 10.0, &out, &done), -2);
  EXPECT_EQ(done, 0);
  matrix_free_ff(table);
}

TEST_F(Icp, SamplingAndSetHelpers) {
  std::vector<float> x(250), y(250), z(250);
  for (int i = 0; i < 250; ++i) x[i] = float(i), y[i] = float(2 * i), z[i] = 1.0f;
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), 250, nullptr);
  BeginTrackingMallocs();
  float *sx = nullptr, *sy = nullptr, *sz = nullptr;
  int n = 0;
  ASSERT_EQ(SimpleSampleCloud(c, 100, &sx, &sy, &sz, &n), 0);
  FreeTrackedMallocs();  // the sample is the caller's, outside the scope
  ASSERT_EQ(n, 125);
  EXPECT_EQ(sx[124], 248.0f);
  EXPECT_EQ(sy[1], 4.0f);
  Free(sx), Free(sy), Free(sz);
  c->npts = 100;
  ASSERT_EQ(SimpleSampleCloud(c, 100, &sx, &sy, &sz, &n), 0);
  EXPECT_EQ(n, 100);
  Free(sx), Free(sy), Free(sz);
  ASSERT_EQ(SimpleSampleCloud(c, 0, &sx, &sy, &sz, &n), 0);
  EXPECT_EQ(n, 100);
  Free(sx), Free(sy), Free(sz);
  c->npts = 250;
  FreeCloud(c);
  EXPECT_EQ(SimpleSampleCloud(nullptr, 10, &sx, &sy, &sz, &n), -2);

  // The covariance's trace is the mean squared distance from the centroid.
  double M[3][3];
  double* rows[3] = {M[0], M[1], M[2]};
  pntset_covariance_matrix(x.data(), y.data(), z.data(), 250, rows);
  double mx = 0, my = 0, ms = 0;
  for (int i = 0; i < 250; ++i) mx += x[i] / 250.0, my += y[i] / 250.0;
  for (int i = 0; i < 250; ++i) ms += ((x[i] - mx) * (x[i] - mx) + (y[i] - my) * (y[i] - my)) / 250.0;
  EXPECT_NEAR(M[0][0] + M[1][1] + M[2][2], ms, 1e-6 * ms);
  EXPECT_NEAR(M[0][1], M[1][0], 0.0);
  pntset_covariance_matrix(x.data(), y.data(), z.data(), 0, rows);
  EXPECT_EQ(M[1][1], 0.0);
  const RegVec id = {{1, 0, 0, 0}, {0, 0, 0}};
  EXPECT_EQ(TransformPntSet(x.data(), y.data(), z.data(), 3, &id, nullptr, y.data(), z.data()), -2);
}

TEST_F(Icp, AxisModeTurnsOnlyAboutZAndStillImproves) {
  FreeCloud(moving);
  const double axis[3] = {0, 0, 1}, t[3] = {1.25, -0.75, 0};
  truth = Turn(4.0, axis, t);
  moving = MovedCopy(target, Inverse(truth));
  ASSERT_EQ(SetRegistrationMode(3), 0);
  RegVec m;
  SetIdentityQuaternion(&m);
  double error, largest;
  int brk;
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  double startError, startLargest;
  PntSetRegError(moving->x, moving->y, moving->z, moving->npts, &m, tree, params.maxDistance, &startError,
                 &startLargest);
  FreeKDTree(tree);
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(m.q[1], 0.0);
  EXPECT_EQ(m.q[2], 0.0);
  EXPECT_EQ(m.t[2], 0.0);
  EXPECT_LT(error, startError);
}

}  // namespace

namespace {

TEST_F(Icp, TooFewPointsOrNoPairsLeaveTheStartMotion) {
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  // Two points fix no rotation: the closed form refuses and the loop keeps the (normalised) start
  // instead of a stale motion.
  RegVec m = {{2, 0, 0, 0}, {0.5, 0, 0}};
  double error = -1, largest = -1;
  int brk = -1;
  ASSERT_EQ(ICPPntSet(moving->x, moving->y, moving->z, 2, params, tree, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(m.q[0], 1.0);
  EXPECT_EQ(m.t[0], 0.5);
  EXPECT_EQ(brk, 0);
  // No pair within reach: the outputs stay unwritten and the motion stays.
  params.maxDistance = 1e-9;
  error = largest = -1;
  ASSERT_EQ(ICPPntSet(moving->x, moving->y, moving->z, moving->npts, params, tree, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(error, -1.0);
  EXPECT_EQ(m.t[0], 0.5);
  FreeKDTree(tree);
}

TEST_F(Icp, ShortStartTableOnALargeSetReadsNoRowPastIt) {
  // Above 20000 points the fine stage takes five starts; a retry's table has four.
  std::vector<float> x(20001), y(20001), z(20001);
  for (int i = 0; i < 20001; ++i) x[i] = float(i % 150), y[i] = float(i / 150), z[i] = 0.01f * float(i % 7);
  KDTree* tree = Create3DTree(x.data(), y.data(), z.data(), 20001, 20);
  RegVec m = {{1, 0, 0, 0}, {0.2, 0.1, 0}};
  double** starts = nullptr;
  int count = 0;
  ASSERT_EQ(GetPerturbedQuaternion(&m, 0.017453292519943295, &starts, &count), 0);
  params.startPoses = starts;
  params.startCount = count;
  params.maxIterations = 2;
  double error, largest;
  int brk;
  EXPECT_EQ(ICPtwoPntSetsGlobalSearch(x.data(), y.data(), z.data(), 20001, params, tree, &m, &error, &largest, &brk),
            0);
  EXPECT_EQ(brk, 0);
  matrix_free_ff(starts);
  FreeKDTree(tree);
}

}  // namespace

namespace {

// A bumpy, lopsided patch over the unit square, 2000 points at random (no grid that a shifted copy
// could half match), scaled by s; keep (optional) selects a part of it.
Cloud* Patch(double s, bool (*keep)(float, float, float) = nullptr) {
  std::mt19937 rng(43);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<float> x, y, z;
  for (int i = 0; i < 2000; ++i) {
    const double a = u(rng), b = u(rng);
    const double h = 0.25 * std::sin(4.0 * a) * std::cos(3.0 * b) + 0.3 * a * a * b + 0.1 * std::sin(9.0 * a * b);
    if (keep && !keep(float(a), float(b), float(h))) continue;
    x.push_back(float(s * a)), y.push_back(float(s * b)), z.push_back(float(s * h));
  }
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

// Angle of the rotation a b^-1 in radians, from its vector part (acos would lose half the digits).
double AngleBetween(const RegVec& a, const RegVec& b) {
  const double* p = a.q;
  const double w[4] = {b.q[0], -b.q[1], -b.q[2], -b.q[3]};
  const double r[4] = {p[0] * w[0] - p[1] * w[1] - p[2] * w[2] - p[3] * w[3],
                       p[0] * w[1] + p[1] * w[0] + p[2] * w[3] - p[3] * w[2],
                       p[0] * w[2] - p[1] * w[3] + p[2] * w[0] + p[3] * w[1],
                       p[0] * w[3] + p[1] * w[2] - p[2] * w[1] + p[3] * w[0]};
  const double na = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]);
  const double nb = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2] + w[3] * w[3]);
  return 2.0 * std::atan2(std::sqrt(r[1] * r[1] + r[2] * r[2] + r[3] * r[3]) / (na * nb), std::fabs(r[0]) / (na * nb));
}

RegVec ScaledMotion(RegVec v, double s) {
  for (double& t : v.t) t *= s;
  return v;
}

// Largest displacement between the two motions over the corners of the cube [0, s]^3.
double Gap(const RegVec& a, const RegVec& b, double s) {
  double gap = 0;
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {s * (c & 1), s * ((c >> 1) & 1), s * ((c >> 2) & 1)};
    double pa[3], pb[3];
    VecQterTrans3(p, &a, pa);
    VecQterTrans3(p, &b, pb);
    gap = std::max(gap, VecDist3(pa, pb));
  }
  return gap;
}

// Rotations of 3 to 15 degrees about tilted axes, translations of 3 to 10 percent of the patch's
// diagonal (1.45 at scale 1).
struct Known {
  double degrees, axis[3], t[3];
};
const Known kKnown[] = {{15.0, {0.3, -0.5, 1.0}, {0.05, -0.075, 0.1}},
                        {-12.0, {1.0, 0.2, 0.1}, {-0.1, 0.03, 0.04}},
                        {8.0, {-0.4, 1.0, 0.6}, {0.025, 0.025, -0.025}},
                        {3.0, {0.0, 0.0, 1.0}, {0.14, 0.0, 0.0}}};
constexpr double kDiagonal = 1.45;

RegParams Tight(double size) {
  RegParams p;
  SetDefaultRegParams(&p);
  p.tolerance = 1e-9 * size;
  p.relTolerance = 1e-12;
  p.maxIterations = 300;
  return p;
}

TEST_F(Icp, KnownMotionsOfExactCopiesAreRecoveredToRoundOffAtEveryScale) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    Cloud* b = Patch(scale);
    const double size = kDiagonal * scale;
    for (const Known& k : kKnown) {
      const RegVec truth = ScaledMotion(Turn(k.degrees, k.axis, k.t), scale);
      Cloud* a = MovedCopy(b, Inverse(truth));
      RegVec m;
      SetIdentityQuaternion(&m);
      double error = -1, largest = -1;
      int brk = -1;
      ASSERT_EQ(ICPtwoClouds(a, b, Tight(size), &m, &error, &largest, &brk), 0);
      EXPECT_LT(AngleBetween(m, truth), 1e-6) << scale << " " << k.degrees;
      EXPECT_LT(Gap(m, truth, scale), 1e-6 * size) << scale << " " << k.degrees;
      EXPECT_LT(error, 1e-6 * size) << scale << " " << k.degrees;
      // The largest distance is the result's, not that of a pass's start.
      EXPECT_LT(largest, 1e-5 * size) << scale << " " << k.degrees;
      FreeCloud(a);
    }
    FreeCloud(b);
  }
}

// The loop itself runs to its tolerance, past the sixth iteration where the first refused
// extrapolation used to end it, and says how it ended.
TEST_F(Icp, TheLoopRunsUntilItsOwnStoppingTestsEndIt) {
  Cloud* b = Patch(1.0);
  const Known& k = kKnown[1];
  const RegVec truth = Turn(k.degrees, k.axis, k.t);
  Cloud* a = MovedCopy(b, Inverse(truth));
  KDTree* tree = Create3DTree(b->x, b->y, b->z, b->npts, 5);
  RegParams p = Tight(kDiagonal);
  RegVec m;
  SetIdentityQuaternion(&m);
  double error, largest;
  int brk;
  ICPLoopReport report = {};
  ASSERT_EQ(RunICPLoop(a->x, a->y, a->z, a->npts, p, tree, FreeICPStep(), &m, &error, &largest, &brk, &report), 0);
  EXPECT_GT(report.iterations, 6);
  EXPECT_EQ(report.converged, 1);
  EXPECT_TRUE(report.stop == ICPStop::NoChange || report.stop == ICPStop::Tolerance);
  EXPECT_EQ(report.error, error);
  EXPECT_LT(AngleBetween(m, truth), 1e-6);
  EXPECT_LT(Gap(m, truth, 1.0), 1e-6 * kDiagonal);
  // One more iteration moves the motion by less than the tolerance.
  RegVec again = m;
  p.maxIterations = 1;
  ASSERT_EQ(ICPPntSet(a->x, a->y, a->z, a->npts, p, tree, &again, &error, &largest, &brk), 0);
  EXPECT_LT(Gap(again, m, 1.0), p.tolerance);

  // The documented tests still end it: the iteration limit (not met), the absolute and the
  // relative tolerance (met), a user break.
  const struct {
    int maxIterations;
    double tolerance, relTolerance;
    ICPStop stop;
    int converged;
  } cases[] = {{3, 0.0, 0.0, ICPStop::IterationLimit, 0},
               {300, 0.01, 0.0, ICPStop::Tolerance, 1},
               {300, 0.0, 0.9, ICPStop::RelTolerance, 1}};
  for (const auto& c : cases) {
    p.maxIterations = c.maxIterations, p.tolerance = c.tolerance, p.relTolerance = c.relTolerance;
    SetIdentityQuaternion(&m);
    ASSERT_EQ(RunICPLoop(a->x, a->y, a->z, a->npts, p, tree, FreeICPStep(), &m, &error, &largest, &brk, &report),
              0);
    EXPECT_EQ(report.stop, c.stop);
    EXPECT_EQ(report.converged, c.converged);
    if (c.stop != ICPStop::Tolerance) {
      EXPECT_EQ(report.iterations, 3);  // the limit, or three slow steps in a row
    } else {
      EXPECT_LE(error, 0.01);
    }
  }
  StubBreakAfterPolls(2);
  SetIdentityQuaternion(&m);
  p = Tight(kDiagonal);
  ASSERT_EQ(RunICPLoop(a->x, a->y, a->z, a->npts, p, tree, FreeICPStep(), &m, &error, &largest, &brk, &report), 0);
  StubBreakAfterPolls(0);
  EXPECT_EQ(brk, 1);
  EXPECT_EQ(report.stop, ICPStop::Break);
  EXPECT_EQ(report.iterations, 1);
  FreeKDTree(tree);
  FreeCloud(a);
  FreeCloud(b);
}

TEST_F(Icp, NoisyCopiesEndAtTheNoiseLevel) {
  std::mt19937 rng(41);
  const double sigma = 0.002;  // per coordinate; points are about 0.02 apart
  std::normal_distribution<double> g(0.0, sigma);
  Cloud* b = Patch(1.0);
  for (const Known& k : kKnown) {
    const RegVec truth = Turn(k.degrees, k.axis, k.t);
    Cloud* a = MovedCopy(b, Inverse(truth));
    for (int i = 0; i < a->npts; ++i) a->x[i] += float(g(rng)), a->y[i] += float(g(rng)), a->z[i] += float(g(rng));
    RegVec m;
    SetIdentityQuaternion(&m);
    double error, largest;
    int brk;
    ASSERT_EQ(ICPtwoClouds(a, b, Tight(kDiagonal), &m, &error, &largest, &brk), 0);
    // Each pair is off by the noise, sqrt(3) sigma in RMS, less what a nearer neighbour takes.
    EXPECT_GT(error, 0.8 * std::sqrt(3.0) * sigma) << k.degrees;
    EXPECT_LT(error, 1.02 * std::sqrt(3.0) * sigma) << k.degrees;
    EXPECT_LT(Gap(m, truth, 1.0), 2.0 * sigma) << k.degrees;
    FreeCloud(a);
  }
  FreeCloud(b);
}

// A moving cloud that covers only part of the target.
TEST_F(Icp, PartialOverlapIsRegisteredExactly) {
  Cloud* b = Patch(1.0);
  bool (*parts[])(float, float, float) = {[](float x, float, float) { return x < 0.6f; },
                                          [](float x, float y, float) { return x + y > 0.8f; },
                                          [](float, float, float z) { return z > 0.0f; }};
  for (auto keep : parts)
    for (const Known& k : {kKnown[0], kKnown[3]}) {
      Cloud* part = Patch(1.0, keep);
      const RegVec truth = Turn(k.degrees, k.axis, k.t);
      Cloud* a = MovedCopy(part, Inverse(truth));
      RegVec m;
      SetIdentityQuaternion(&m);
      double error, largest;
      int brk;
      ASSERT_EQ(ICPtwoClouds(a, b, Tight(kDiagonal), &m, &error, &largest, &brk), 0);
      EXPECT_LT(AngleBetween(m, truth), 1e-6) << part->npts << " " << k.degrees;
      EXPECT_LT(Gap(m, truth, 1.0), 1e-6 * kDiagonal) << part->npts << " " << k.degrees;
      FreeCloud(a);
      FreeCloud(part);
    }
  FreeCloud(b);
}

}  // namespace

// Registration under a constraint: the bracket turned about an axis or a point, or shifted
// along a line, and registered back within what the constraint allows.
namespace {

class ConstrainedIcp : public Icp {
 protected:
  // The constraint of `mode` about the line through C along the unit d (slides along d).
  RegConstraint Around(int mode, const double C[3], const double d[3]) {
    return freedom::Around(mode, C, d, 10.0, d);
  }
  void MoveBy(const RegVec& v) {
    FreeCloud(moving);
    truth = v;
    moving = MovedCopy(target, Inverse(truth));
  }
  int Register(RegConstraint* c, RegVec* m, double* error, double* largest, int* brk) {
    params.constraint = c;
    SetIdentityQuaternion(m);
    return CICPtwoClouds(moving, target, &params, m, error, largest, brk);
  }
  void SetUp() override {
    Icp::SetUp();
    VecNormalize3(kTilted, kAxis);
  }
  static constexpr double kC[3] = {50, 25, 10};
  // Turns about an axis normal to the plate leave its grid on itself, where nearest points hold
  // any loop in place: the axes here are tilted.
  static constexpr double kTilted[3] = {0.3, -0.5, 1};
  double kAxis[3];
};

struct Drift {
  double centre[3];
  double worst = 0.0;
  int frames = 0;
};

// Where a shown row-vector transform puts the centre.
void RecordDrift(const double m[4][4], void* user) {
  Drift* d = static_cast<Drift*>(user);
  double moved[3];
  for (int j = 0; j < 3; ++j)
    moved[j] = d->centre[0] * m[0][j] + d->centre[1] * m[1][j] + d->centre[2] * m[2][j] + m[3][j];
  d->worst = std::max(d->worst, VecDist3(moved, d->centre));
  ++d->frames;
}

TEST_F(ConstrainedIcp, TranslationAlongALineStaysOnTheLine) {
  const double dir[3] = {0.6, 0.0, 0.8};
  RegConstraint c = Around(1, kC, dir);
  for (int reachable : {1, 0}) {
    if (reachable) MoveBy(freedom::Shift(dir, 4.0));
    RegVec m;
    double error, largest;
    int brk;
    ASSERT_EQ(Register(&c, &m, &error, &largest, &brk), 0);
    EXPECT_TRUE(IsIdentityQuaternion(m.q));
    const double along = VecDotProd3(m.t, dir);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(m.t[k], along * dir[k], 1e-12);
    if (reachable) {
      EXPECT_NEAR(along, 4.0, 1e-3);
      EXPECT_LT(error, 1e-3);
    } else {
      FreeCloud(moving);
      moving = MovedCopy(target, Turn(-2.0, kAxis, dir));
    }
  }
}

TEST_F(ConstrainedIcp, EveryShownMotionAboutAPointKeepsThePointFixed) {
  const double axis[3] = {1.0, -0.6, 0.5};
  double a[3];
  VecNormalize3(axis, a);
  MoveBy(freedom::AboutLine(kC, a, 3.0 * kPi / 180));
  RegConstraint c = Around(64, kC, a);
  Drift drift = {{kC[0], kC[1], kC[2]}};
  StubSetRegAnimationSink(RecordDrift, &drift);
  params.animate = 1;
  params.tolerance = 1e-5;
  RegVec m;
  double error, largest;
  int brk;
  ASSERT_EQ(Register(&c, &m, &error, &largest, &brk), 0);
  EXPECT_GT(drift.frames, 2);
  EXPECT_LT(drift.worst, 1e-9);
  EXPECT_LT(MotionGap(m, truth), 1e-3);
  EXPECT_EQ(params.animate, 1);
  EXPECT_EQ(params.bestError, error);
}

// A 100 degree turn about a fixed axis is beyond the loop's reach from the identity; the search
// over turns about the axis finds it.
TEST_F(ConstrainedIcp, GlobalSearchTurnsAboutTheAxisOnly) {
  MoveBy(freedom::AboutLine(kC, kAxis, 100.0 * kPi / 180));
  RegConstraint c = Around(32, kC, kAxis);
  params.globalSearch = 1;
  params.tolerance = 1e-4;
  RegVec m;
  double error, largest;
  int brk;
  ASSERT_EQ(Register(&c, &m, &error, &largest, &brk), 0);
  EXPECT_LT(MotionGap(m, truth), 1e-2);
  const double high[3] = {kC[0] + 500 * kAxis[0], kC[1] + 500 * kAxis[1], kC[2] + 500 * kAxis[2]};
  double moved[3];
  VecQterTrans3(high, &m, moved);
  EXPECT_LT(VecDist3(moved, high), 1e-8);
  // The main pass runs with the caller's iteration limit again.
  EXPECT_EQ(params.maxIterations, 40);
}

TEST_F(ConstrainedIcp, UnservedConstraintsAreReportedAsFailures) {
  RegConstraint half = Around(16, kC, kAxis);  // a half turn about a line has no point-set solver
  RegVec m;
  double error = 7, largest = 7;
  int brk;
  EXPECT_EQ(Register(&half, &m, &error, &largest, &brk), -2);
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  params.constraint = &half;
  m = RegVec{{2, 0, 0, 0}, {1, 2, 3}};
  EXPECT_EQ(CICPPntSet(moving->x, moving->y, moving->z, moving->npts, &params, tree, &m, &error, &largest, &brk), -2);
  EXPECT_EQ(m.q[0], 1.0);
  EXPECT_EQ(m.t[2], 3.0);
  RegConstraint flip = Around(48, kC, kAxis);  // turn-overs have no start motions
  params.constraint = &flip;
  EXPECT_EQ(CICPPntSetsGlobalSearch(moving->x, moving->y, moving->z, moving->npts, &params, tree, &m, &error,
                                    &largest, &brk),
            -2);
  EXPECT_EQ(CICPPntSet(moving->x, moving->y, moving->z, moving->npts, nullptr, tree, &m, &error, &largest, &brk), -2);
  FreeKDTree(tree);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(ConstrainedIcp, AUserBreakStopsEveryStageWithItsFlag) {
  RegConstraint c = Around(32, kC, kAxis);
  MoveBy(freedom::AboutLine(kC, kAxis, 3.0 * kPi / 180));
  RegVec m;
  double error, largest;
  int brk;
  StubBreakAfterPolls(0);
  const RegParams fresh = params;
  ASSERT_EQ(Register(&c, &m, &error, &largest, &brk), 0);
  const long total = StubUserBreakPolls();
  ASSERT_GT(total, 3);
  for (long polls : {1L, 2L, total / 2, total}) {
    params = fresh;
    StubBreakAfterPolls(polls);
    ASSERT_EQ(Register(&c, &m, &error, &largest, &brk), 0);
    // A break in the main pass used to end it unreported.
    EXPECT_EQ(brk, 1) << polls;
    EXPECT_EQ(StubUserBreakPolls(), polls);
  }
  StubBreakAfterPolls(0);
}

TEST_F(ConstrainedIcp, NoConstraintIsExactlyTheFreeRegistration) {
  RegVec free, m;
  double fe, fl, error, largest;
  int fb, brk;
  SetIdentityQuaternion(&free);
  ASSERT_EQ(ICPtwoClouds(moving, target, params, &free, &fe, &fl, &fb), 0);
  const RegParams before = params;
  ASSERT_EQ(Register(nullptr, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(std::memcmp(&before, &params, sizeof params), 0);
  EXPECT_EQ(std::memcmp(&free, &m, sizeof m), 0);
  EXPECT_EQ(fe, error);
  EXPECT_EQ(fl, largest);
}

TEST_F(ConstrainedIcp, LoopsWithoutPairsInReachReportNoStaleError) {
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  RegConstraint c = Around(32, kC, kAxis);
  params.constraint = &c;
  params.maxDistance = 1e-9;
  RegVec m;
  SetIdentityQuaternion(&m);
  double error = 7, largest = 7;
  int brk;
  ASSERT_EQ(NewICPPntSet(moving->x, moving->y, moving->z, moving->npts, params, tree, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(error, double(3.37e38f));
  EXPECT_EQ(largest, double(3.37e38f));
  error = largest = 7;
  ASSERT_EQ(CICPPntSet(moving->x, moving->y, moving->z, moving->npts, &params, tree, &m, &error, &largest, &brk), 0);
  EXPECT_EQ(error, double(3.37e38f));
  FreeKDTree(tree);
}

// The constrained step inside the full loop: a turn about the axis is found with extrapolation
// off, and the free step through the constrained solver agrees with the free loop.
TEST_F(ConstrainedIcp, TheFullLoopTakesTheConstrainedStep) {
  KDTree* tree = Create3DTree(target->x, target->y, target->z, target->npts, 5);
  MoveBy(freedom::AboutLine(kC, kAxis, 2.0 * kPi / 180));
  RegConstraint c = Around(32, kC, kAxis);
  params.constraint = &c;
  params.tolerance = 1e-6;
  params.maxIterations = 200;
  RegVec m, free;
  SetIdentityQuaternion(&m);
  double error, largest;
  int brk;
  ASSERT_EQ(NewICPPntSet(moving->x, moving->y, moving->z, moving->npts, params, tree, &m, &error, &largest, &brk), 0);
  EXPECT_LT(MotionGap(m, truth), 1e-3);
  const double shift[3] = {1.0, -0.5, 0.25};
  MoveBy(Turn(2.0, kAxis, shift));
  params.constraint = nullptr;
  SetIdentityQuaternion(&m);
  SetIdentityQuaternion(&free);
  double fe, fl;
  ASSERT_EQ(NewICPPntSet(moving->x, moving->y, moving->z, moving->npts, params, tree, &m, &error, &largest, &brk), 0);
  ASSERT_EQ(ICPPntSet(moving->x, moving->y, moving->z, moving->npts, params, tree, &free, &fe, &fl, &brk), 0);
  EXPECT_LT(MotionGap(m, free), 1e-6);
  FreeKDTree(tree);
}

TEST_F(ConstrainedIcp, TwoStartsOnALargeSetReadNoRowPastThem) {
  // Above 20000 points the fine stage takes five starts; a translation has two.
  std::vector<float> x(20001), y(20001), z(20001);
  for (int i = 0; i < 20001; ++i) x[i] = float(i % 150), y[i] = float(i / 150), z[i] = 0.01f * float(i % 7);
  KDTree* tree = Create3DTree(x.data(), y.data(), z.data(), 20001, 20);
  const double dir[3] = {1, 0, 0};
  RegConstraint c = Around(1, kC, dir);
  params.constraint = &c;
  params.maxIterations = 4;
  RegVec m = {{1, 0, 0, 0}, {0.2, 0.1, 0}};
  double error, largest;
  int brk;
  ASSERT_EQ(CICPPntSetsGlobalSearch(x.data(), y.data(), z.data(), 20001, &params, tree, &m, &error, &largest, &brk),
            0);
  EXPECT_TRUE(IsIdentityQuaternion(m.q));
  EXPECT_EQ(m.t[1], 0.0);
  FreeKDTree(tree);
}

TEST_F(ConstrainedIcp, EveryRefusedAllocationFailsCleanly) {
  FreeCloud(target);
  target = Bracket(6.0);
  MoveBy(freedom::AboutLine(kC, kAxis, 3.0 * kPi / 180));
  RegConstraint c = Around(32, kC, kAxis);
  const RegParams fresh = params;
  RegVec clean;
  double cleanError, largest;
  int brk;
  const long before = MallocRuntimeRequests();
  ASSERT_EQ(Register(&c, &clean, &cleanError, &largest, &brk), 0);
  const long requests = MallocRuntimeRequests() - before;
  const int failures = RunWithInjectedFailures(requests + 2, 1, [&] {
    params = fresh;
    RegVec m;
    double error = -1, far = -1;
    int b = -1;
    const int r = Register(&c, &m, &error, &far, &b);
    if (r == 0) {
      EXPECT_EQ(error, cleanError);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
