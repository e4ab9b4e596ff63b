#include <cmath>
#include <cstring>
#include <random>

#include "registration/stepreg.h"
#include "tests/registration/freedom.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class Locate321 : public KernelTest {
 protected:
  // A motion turning about a tilted axis and moving by about the part's size.
  static RegVec Known(double scale) {
    RegVec m = {{0.9, 0.25, -0.2, 0.3}, {0.4 * scale, -0.7 * scale, 0.2 * scale}};
    NormalizeQternion(m.q);
    return m;
  }
  static void Move(const RegVec& m, const double (*in)[3], double (*out)[3], int n) {
    for (int i = 0; i < n; ++i) freedom::Apply(m, in[i], out[i]);
  }
  // Largest distance between where the two motions put the corners of a box of the given size.
  static double Gap(const RegVec& a, const RegVec& b, double scale) {
    double gap = 0.0;
    for (int c = 0; c < 8; ++c) {
      const double p[3] = {(c & 1) * scale, ((c >> 1) & 1) * scale, ((c >> 2) & 1) * scale};
      double pa[3], pb[3];
      freedom::Apply(a, p, pa);
      freedom::Apply(b, p, pb);
      gap = std::fmax(gap, VecDist3(pa, pb));
    }
    return gap;
  }
};

// Six locating points of a part (three on its base, two on a side, one on an end) and the same
// points on the fixture: the part's motion comes back to float accuracy at every scale.
TEST_F(Locate321, SixPointsOfAMovedPartGiveItsMotionBack) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    double A[6][3] = {{0.1, 0.2, 0}, {0.9, 0.1, 0.02}, {0.5, 0.8, -0.01}, {0.2, 0, 0.3}, {0.8, 0.01, 0.5}, {0, 0.4, 0.4}};
    for (auto& p : A)
      for (double& c : p) c *= scale;
    double B[6][3];
    const RegVec truth = Known(scale);
    Move(truth, A, B, 6);
    const int index[6] = {2, 2, 2, 1, 1, 0};
    RegVec m = {{0, 0, 0, 0}, {0, 0, 0}};
    ASSERT_EQ(New321PntSetReg(A, B, 6, index, 0.0, &m), 0) << scale;
    EXPECT_LT(Gap(m, truth, scale), 1e-5 * scale) << scale;
  }
}

// Nine points whose groups are interleaved, with the first six alone too few for a primary group:
// every index counts (the group sizes used to come from the first six only).
TEST_F(Locate321, InterleavedGroupsAreCountedOverAllPoints) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  double A[9][3], B[9][3];
  for (auto& p : A)
    for (double& c : p) c = 5.0 * u(rng);
  const RegVec truth = Known(5.0);
  Move(truth, A, B, 9);
  const int index[9] = {0, 1, 0, 1, 2, 2, 2, 2, 1};
  RegVec m;
  ASSERT_EQ(New321PntSetReg(A, B, 9, index, 0.0, &m), 0);
  EXPECT_LT(Gap(m, truth, 5.0), 1e-4);
}

TEST_F(Locate321, GroupsTooSmallOrIndicesOutOfRangeAreRefused) {
  double A[7][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1}, {2, 0, 1}, {0, 2, 2}, {3, 1, 0}};
  RegVec m = {{0.5, 0.5, 0.5, 0.5}, {1, 2, 3}};
  const RegVec before = m;
  const int even[6] = {2, 2, 1, 1, 0, 0}, outside[6] = {2, 2, 2, 1, 1, 3}, good[6] = {2, 2, 2, 1, 1, 0};
  EXPECT_EQ(New321PntSetReg(A, A, 6, even, 0.0, &m), -2);
  EXPECT_EQ(New321PntSetReg(A, A, 6, outside, 0.0, &m), -2);
  EXPECT_EQ(New321PntSetReg(A, A, 5, good, 0.0, &m), -2);
  EXPECT_EQ(New321PntSetReg(A, nullptr, 6, good, 0.0, &m), -2);
  EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0);
  // Refused allocations fail cleanly or give the same answer.
  RegVec clean;
  ASSERT_EQ(New321PntSetReg(A, A, 6, good, 0.0, &clean), 0);
  const int failures = RunWithInjectedFailures(8, 1, [&] {
    RegVec r = before;
    const int result = New321PntSetReg(A, A, 6, good, 0.0, &r);
    if (result == 0) {
      EXPECT_LT(Gap(r, clean, 1.0), 1e-12);
    } else {
      EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    }
    return result;
  });
  EXPECT_GT(failures, 0);
}

// Features of a part and of its image under a known motion: the five stage motions composed
// give the motion back; a target point off the line is reached only along it.
TEST_F(Locate321, FeaturesOfAMovedPartGiveItsMotionBack) {
  const double P[6][3] = {{0, 0, 0}, {4, 0.5, 0}, {1, 3, 0}, {0.5, 0.2, 1}, {3.5, 0.4, 1.2}, {0.1, 2, 0.8}};
  const RegVec truth = Known(1.0);
  double T[6][3];
  Move(truth, P, T, 6);
  double n[3], u[3], w[3];
  VecDiff3(T[1], T[0], u);
  VecDiff3(T[2], T[0], w);
  VecCrossProd3(u, w, n);
  VecNormalize3(n, n);
  const double plane[4] = {n[0], n[1], n[2], -VecDotProd3(n, T[0])};
  const double line[6] = {T[3][0], T[3][1], T[3][2], T[4][0], T[4][1], T[4][2]};
  RegVec m[5];
  ASSERT_EQ(Do321Registration(2, P, plane, T[2], line, T[5], 0, 0, &m[0], &m[1], &m[2], &m[3], &m[4]), 0);
  RegVec total = m[0];
  for (int k = 1; k < 5; ++k) total = freedom::Then(total, m[k]);
  EXPECT_LT(Gap(total, truth, 4.0), 1e-6);
  EXPECT_TRUE(IsIdentityQuaternion(m[1].q));

  // A target point lifted off the line: the last stage still slides only along the line.
  double off[3] = {T[5][0] + 0.3 * n[0], T[5][1] + 0.3 * n[1], T[5][2] + 0.3 * n[2]};
  RegVec k[5];
  ASSERT_EQ(Do321Registration(2, P, plane, T[2], line, off, 0, 0, &k[0], &k[1], &k[2], &k[3], &k[4]), 0);
  double dir[3];
  VecDiff3(T[4], T[3], dir);
  VecNormalize3(dir, dir);
  double cross[3];
  VecCrossProd3(k[4].t, dir, cross);
  EXPECT_LT(VecSize3(cross), 1e-9);
  EXPECT_LT(Gap(k[4], m[4], 4.0), 1e-6);

  // With the second flip the part is reversed along the line: a half turn about the line's
  // shadow on the plane, so the base stays on the plane, P3 and P4 fall on the shadow line at
  // their heights mirrored, and P3 to P4 runs the other way along it.
  RegVec f[5];
  ASSERT_EQ(Do321Registration(2, P, plane, T[2], line, T[5], 0, 1, &f[0], &f[1], &f[2], &f[3], &f[4]), 0);
  EXPECT_NEAR(std::fabs(f[3].q[0]), 0.0, 1e-12);  // cos of half the turn: a half turn
  RegVec flipped = f[0];
  for (int s = 1; s < 5; ++s) flipped = freedom::Then(flipped, f[s]);
  double q[6][3];
  for (int i = 0; i < 6; ++i) freedom::Apply(flipped, P[i], q[i]);
  auto height = [&](const double* x) { return VecDotProd3(n, x) + plane[3]; };
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(height(q[i]), 0.0, 1e-9) << i;
  double shadow[3];
  for (int k = 0; k < 3; ++k) shadow[k] = dir[k] - VecDotProd3(dir, n) * n[k];
  VecNormalize3(shadow, shadow);
  for (int i : {3, 4}) {
    EXPECT_NEAR(height(q[i]), -height(T[i]), 1e-9) << i;
    double r[3], c[3];
    VecDiff3(q[i], T[3], r);
    const double up = VecDotProd3(r, n);
    for (int k = 0; k < 3; ++k) r[k] -= up * n[k];
    EXPECT_LT(VecSize3(VecCrossProd3(r, shadow, c)), 1e-9) << i;
  }
  double along[3], was[3];
  VecDiff3(q[4], q[3], along);
  VecDiff3(T[4], T[3], was);
  EXPECT_NEAR(VecDotProd3(along, shadow), -VecDotProd3(was, shadow), 1e-9);

  // The flip alone refuses constraints that are not a line in a plane, or whose line is normal
  // to it; outputs stay unwritten.
  RegConstraint c{};
  c.kind = 1;
  c.axis[2] = 1.0;
  c.plane[2] = 1.0;
  RegVec out = truth;
  RegConstraint outC{};
  EXPECT_EQ(Do321RegistrationSecondFlip(c, &out, &outC), -2);
  c.kind = 3;
  c.axis[0] = 1.0;
  c.axis[2] = 0.0;
  EXPECT_EQ(Do321RegistrationSecondFlip(c, &out, &outC), -2);
  EXPECT_EQ(std::memcmp(&out, &truth, sizeof out), 0);
}

TEST_F(Locate321, TurnedOverPartsStayOnThePlaneAndBadInputsGiveIdentities) {
  const double P[6][3] = {{0, 0, 0}, {4, 0.5, 0}, {1, 3, 0}, {0.5, 0.2, 1}, {3.5, 0.4, 1.2}, {0.1, 2, 0.8}};
  const double plane[4] = {0, 0, 1, -2}, onPlane[3] = {1, 1, 2}, line[6] = {0, 0, 2, 1, 0, 2}, pt[3] = {0, 0, 2};
  RegVec m[5];
  ASSERT_EQ(Do321Registration(0, P, plane, onPlane, line, pt, 1, 0, &m[0], &m[1], &m[2], &m[3], &m[4]), 0);
  const RegVec total = freedom::Then(m[0], m[1]);
  for (int i = 0; i < 3; ++i) {
    double q[3];
    freedom::Apply(total, P[i], q);
    EXPECT_NEAR(q[2], 2.0, 1e-9);
  }
  const double up[3] = {0, 0, 1};
  double turned[3];
  VecRotWquaternion(up, &total, turned);
  EXPECT_NEAR(turned[2], -1.0, 1e-9);  // the base normal (+z) now points down
  EXPECT_TRUE(IsIdentityQuaternion(m[2].q));

  double flat[6][3];
  std::memcpy(flat, P, sizeof flat);
  flat[2][0] = 8, flat[2][1] = 1, flat[2][2] = 0;  // P0, P1, P2 on one line
  for (int stage : {3, -1, 2}) {
    for (RegVec& r : m) r = RegVec{{0.5, 0.5, 0.5, 0.5}, {1, 1, 1}};
    const double(*points)[3] = stage == 2 ? flat : P;
    EXPECT_EQ(Do321Registration(stage, points, plane, onPlane, line, pt, 0, 0, &m[0], &m[1], &m[2], &m[3], &m[4]),
              -2);
    if (stage == 2) {
      for (RegVec& r : m) EXPECT_TRUE(IsIdentityQuaternion(r.q));
    }
  }
}

}  // namespace
