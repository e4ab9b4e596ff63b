#include <cmath>
#include <random>

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"
#include "registration/stepreg.h"
#include "tests/support/kernel_fixture.h"

namespace {

constexpr double kPi = 3.141592653589793;

RegVec RandomMotion(std::mt19937& rng) {
  std::normal_distribution<double> g(0.0, 1.0);
  RegVec v = {{g(rng), g(rng), g(rng), g(rng)}, {3 * g(rng), 3 * g(rng), 3 * g(rng)}};
  NormalizeQternion(v.q);
  return v;
}

void RandomPoint(std::mt19937& rng, double p[3]) {
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  for (int k = 0; k < 3; ++k) p[k] = u(rng);
}

RegVec AboutAxis(const double axis[3], double radians, const double t[3] = nullptr) {
  double a[3];
  VecNormalize3(axis, a);
  RegVec v = {{std::cos(radians / 2), std::sin(radians / 2) * a[0], std::sin(radians / 2) * a[1],
               std::sin(radians / 2) * a[2]},
              {t ? t[0] : 0.0, t ? t[1] : 0.0, t ? t[2] : 0.0}};
  return v;
}

void ExpectNear3(const double a[3], const double b[3], double tol) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << k;
}

class Motion : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetRegAngleTol(1.0);
  }
};

TEST_F(Motion, RotationIsOrthonormalAndEveryWayOfMovingAPointAgrees) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    RegVec v = RandomMotion(rng);
    double R[3][3];
    double* rows[3] = {R[0], R[1], R[2]};
    RegVec copy = v;
    ASSERT_EQ(quaternion_rotation_matrix(copy.q, rows), 0);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double dot = 0;
        for (int k = 0; k < 3; ++k) dot += R[k][i] * R[k][j];
        EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
      }
    const double det = R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1]) -
                       R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0]) +
                       R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
    EXPECT_NEAR(det, 1.0, 1e-12);

    double p[3], a[3], b[3], c[3], rot[3];
    RandomPoint(rng, p);
    Xform M;
    ASSERT_EQ(RegVecToXfrmMat(&v, M), 0);
    VecTrans3(p, M, a);
    ASSERT_EQ(VecQterTrans3(p, &v, b), 0);
    RegVec w = v;
    ASSERT_EQ(VecTrans3WithQternion(p, &w, c), 0);
    ExpectNear3(a, b, 1e-12);
    ExpectNear3(a, c, 1e-12);
    ASSERT_EQ(VecRotWquaternion(p, &v, rot), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k] - v.t[k], rot[k], 1e-12);
    // q and -q are one rotation.
    RegVec neg = v;
    for (double& q : neg.q) q = -q;
    VecQterTrans3(p, &neg, b);
    ExpectNear3(a, b, 1e-12);
  }
}

TEST_F(Motion, CompositionAppliesInTurnIsAssociativeAndUndoesItsInverse) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 40; ++trial) {
    const RegVec a = RandomMotion(rng), b = RandomMotion(rng), c = RandomMotion(rng);
    double p[3], pa[3], pab[3], direct[3];
    RandomPoint(rng, p);
    RegVec ba;
    ASSERT_EQ(MultiplyRegVecs(&a, &b, &ba), 0);
    VecQterTrans3(p, &a, pa);
    VecQterTrans3(pa, &b, pab);
    VecQterTrans3(p, &ba, direct);
    ExpectNear3(pab, direct, 1e-11);

    // The twin that may write over its input gives the same motion.
    RegVec inPlace = a;
    ASSERT_EQ(MultiplyTwoRegVecs(&inPlace, &b, &inPlace), 0);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(inPlace.q[k], ba.q[k], 1e-14);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(inPlace.t[k], ba.t[k], 1e-12);

    RegVec left, right, cb, cba;
    MultiplyTwoRegVecs(&ba, &c, &left);  // c after (b after a)
    MultiplyTwoRegVecs(&b, &c, &cb);
    MultiplyTwoRegVecs(&a, &cb, &right);  // (c after b) after a
    double pl[3], pr[3];
    VecQterTrans3(p, &left, pl);
    VecQterTrans3(p, &right, pr);
    ExpectNear3(pl, pr, 1e-11);
    (void)cba;

    // The inverse: conjugate rotation, translation -R^T t.
    RegVec inv = {{a.q[0], -a.q[1], -a.q[2], -a.q[3]}, {0, 0, 0}};
    double rt[3];
    VecRotWquaternion(a.t, &inv, rt);
    for (int k = 0; k < 3; ++k) inv.t[k] = -rt[k];
    RegVec id;
    ASSERT_EQ(MultiplyTwoRegVecs(&a, &inv, &id), 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(id.t[k], 0.0, 1e-11);
    RegVec idq = id;
    if (idq.q[0] < 0)
      for (double& q : idq.q) q = -q;
    EXPECT_EQ(IsIdentityQuaternion(idq.q), 1);
  }
  // b after a: a translates by x, b turns 90 degrees about z; the origin lands on y.
  const double z[3] = {0, 0, 1}, tx[3] = {1, 0, 0}, origin[3] = {0, 0, 0}, y[3] = {0, 1, 0};
  RegVec a = {{1, 0, 0, 0}, {1, 0, 0}}, b = AboutAxis(z, kPi / 2), ba;
  (void)tx;
  MultiplyRegVecs(&a, &b, &ba);
  double moved[3];
  VecQterTrans3(origin, &ba, moved);
  ExpectNear3(moved, y, 1e-14);
}

TEST_F(Motion, NormalisingAndTheIdentityKeepTheirLegacyAnswers) {
  double tiny[4] = {1e-9, 0, 0, 0};
  EXPECT_EQ(NormalizeQternion(tiny), -2);
  EXPECT_EQ(tiny[0], 0.0);
  double neg[4] = {-2, 0, 0, 0};
  EXPECT_EQ(NormalizeQternion(neg), 0);
  EXPECT_EQ(neg[0], -1.0);
  EXPECT_EQ(IsIdentityQuaternion(neg), 0);  // -q is not recognised
  double near[4] = {1, 1e-11, 0, 0};
  EXPECT_EQ(IsIdentityQuaternion(near), 1);
  EXPECT_EQ(IsIdentityQuaternion(nullptr), 0);
  EXPECT_EQ(NormalizeQternion(nullptr), -2);
  EXPECT_EQ(QternionDiff(nullptr, nullptr), static_cast<double>(3.37e38f));
  RegVec a, b;
  SetIdentityQuaternion(&a);
  SetIdentityQuaternion(&b);
  EXPECT_EQ(QternionDiff(&a, &b), 0.0);
  const double z[3] = {0, 0, 1};
  b = AboutAxis(z, kPi / 2);
  EXPECT_GT(QternionDiff(&a, &b), 0.5);
}

TEST_F(Motion, ZeroQuaternionMovesNothingAndSaysSo) {
  // A point moved by a zero quaternion used to be left unwritten with success reported.
  const RegVec zero = {{0, 0, 0, 0}, {1, 2, 3}};
  const double p[3] = {4, 5, 6};
  double out[3] = {-1, -1, -1};
  EXPECT_EQ(VecRotWquaternion(p, &zero, out), -2);
  ExpectNear3(out, p, 0.0);
  out[0] = out[1] = out[2] = -1;
  EXPECT_EQ(VecQterTrans3(p, &zero, out), -2);
  ExpectNear3(out, p, 0.0);
  Xform M;
  M[0] = 42;
  EXPECT_EQ(RegVecToXfrmMat(&zero, M), -2);
  EXPECT_EQ(M[0], 42.0);
  RegVec z2 = zero;
  EXPECT_EQ(VecTrans3WithQternion(p, &z2, out), -2);
}

TEST_F(Motion, AxisAngleFormsRebuildTheRotation) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 40; ++trial) {
    RegVec v = RandomMotion(rng);
    v.t[0] = v.t[1] = v.t[2] = 0;
    RegVec w = v;
    double axis[3], deg;
    ASSERT_EQ(Qternion2AxisRotAngle(w.q, axis, &deg), 0);
    const RegVec rebuilt = AboutAxis(axis, deg * kPi / 180.0);
    double rx, ry, rz;
    RegVec u = v;
    ASSERT_EQ(XYZAxisRotFromQternion(u.q, &rx, &ry, &rz), 0);
    const double ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0}, ez[3] = {0, 0, 1};
    const RegVec Rx = AboutAxis(ex, rx), Ry = AboutAxis(ey, ry), Rz = AboutAxis(ez, rz);
    RegVec yx, zyx;
    MultiplyTwoRegVecs(&Rx, &Ry, &yx);
    MultiplyTwoRegVecs(&yx, &Rz, &zyx);
    double p[3], a[3], b[3], c[3];
    RandomPoint(rng, p);
    VecQterTrans3(p, &v, a);
    VecQterTrans3(p, &rebuilt, b);
    VecQterTrans3(p, &zyx, c);
    ExpectNear3(a, b, 1e-9);
    ExpectNear3(a, c, 1e-9);
  }
  double id[4] = {1, 0, 0, 0}, axis[3], deg;
  Qternion2AxisRotAngle(id, axis, &deg);
  EXPECT_EQ(deg, 0.0);
  EXPECT_EQ(VecSize3(axis), 0.0);
  const double ez[3] = {0, 0, 1}, ex[3] = {1, 0, 0};
  RegVec q90 = AboutAxis(ez, kPi / 2);
  Qternion2AxisRotAngle(q90.q, axis, &deg);
  EXPECT_NEAR(deg, 90.0, 1e-9);
  ExpectNear3(axis, ez, 1e-12);
  RegVec q30 = AboutAxis(ex, kPi / 6);
  double rx, ry, rz;
  XYZAxisRotFromQternion(q30.q, &rx, &ry, &rz);
  EXPECT_NEAR(rx, kPi / 6, 1e-12);
  EXPECT_NEAR(ry, 0.0, 1e-12);
  EXPECT_NEAR(rz, 0.0, 1e-12);
}

TEST_F(Motion, AlignmentsMapDirectionsAndKeepTheirPointFixed) {
  std::mt19937 rng(3);
  std::normal_distribution<double> g(0.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    double a[3] = {g(rng), g(rng), g(rng)}, b[3] = {g(rng), g(rng), g(rng)}, P[3];
    RandomPoint(rng, P);
    if (trial == 1)
      for (int k = 0; k < 3; ++k) b[k] = 2 * a[k];  // parallel
    if (trial == 2)
      for (int k = 0; k < 3; ++k) b[k] = -a[k];  // opposite
    RegVec v;
    ASSERT_EQ(AlignTwoVectorQternion(a, b, P, &v), 0);
    double ra[3], ua[3], ub[3], fixed[3];
    VecRotWquaternion(a, &v, ra);
    VecNormalize3(ra, ua);
    VecNormalize3(b, ub);
    ExpectNear3(ua, ub, 1e-9);
    VecQterTrans3(P, &v, fixed);
    ExpectNear3(fixed, P, 1e-9);
    RegVec x;
    AlignTwoVectorXform(a, b, P, &x);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(x.q[k], v.q[k], 1e-14);

    // Closest by rotation about an axis: the image of u lies in the plane of A and w, on w's side.
    double A[3] = {g(rng), g(rng), g(rng)}, u[3] = {g(rng), g(rng), g(rng)};
    RegVec r;
    ASSERT_EQ(AlignTwoVecsClosestByAxisRot(u, b, P, A, &r), 0);
    double ru[3], n[3], t[3];
    VecRotWquaternion(u, &r, ru);
    VecCrossProd3(A, b, n);
    EXPECT_NEAR(VecDotProd3(ru, n) / (VecSize3(ru) * VecSize3(n)), 0.0, 1e-9);
    // ... and the component along A is unchanged.
    EXPECT_NEAR(VecDotProd3(ru, A), VecDotProd3(u, A), 1e-9);
    VecQterTrans3(P, &r, t);
    ExpectNear3(t, P, 1e-9);
  }
  // A direction along the axis gives the identity; a zero vector aligns as the identity.
  const double A[3] = {0, 0, 1}, u[3] = {0, 0, 3}, w[3] = {1, 0, 0}, P[3] = {1, 2, 3}, zero[3] = {0, 0, 0};
  RegVec r;
  AlignTwoVecsClosestByAxisRot(u, w, P, A, &r);
  EXPECT_EQ(IsIdentityQuaternion(r.q), 1);
  EXPECT_EQ(AlignTwoVectorXform(zero, w, P, &r), 0);
  EXPECT_EQ(IsIdentityQuaternion(r.q), 1);
  ExpectNear3(r.t, zero, 0.0);
  // Half turn about an axis through P.
  EXPECT_EQ(Rot180Qternion(P, zero, &r), -2);
  ASSERT_EQ(Rot180Qternion(P, A, &r), 0);
  const double q[3] = {2, 2, 5}, expect[3] = {0, 2, 5};
  double out[3];
  VecQterTrans3(q, &r, out);
  ExpectNear3(out, expect, 1e-12);
}

TEST_F(Motion, FlipAlignBringsUOntoTheSideOfW) {
  const double P[3] = {1, 1, 1}, A[3] = {0, 0, 1};
  const double u[3] = {1, 0, 0.5}, w[3] = {0, 1, -0.5};  // different hemispheres of A
  RegVec r;
  ASSERT_EQ(FlipAlignTwoVecs(P, A, u, w, &r), 0);
  double ru[3];
  VecRotWquaternion(u, &r, ru);
  EXPECT_GT(VecDotProd3(ru, A) * VecDotProd3(w, A), 0.0);
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(FlipAlignTwoVecs(P, A, zero, w, &r), -2);
  EXPECT_EQ(FlipAlignTwoVecs(P, A, u, w, nullptr), -2);
}

TEST_F(Motion, DirectionTestsAreInclusiveParallelAndStrictPerpendicular) {
  auto at = [](double deg) {
    static double v[3];
    v[0] = std::cos(deg * kPi / 180);
    v[1] = std::sin(deg * kPi / 180);
    v[2] = 0;
    return v;
  };
  const double x[3] = {1, 0, 0}, zero[3] = {0, 0, 0}, negx[3] = {-1, 0, 0};
  EXPECT_EQ(AreTwoVecsParallel(x, at(0.999999)), 1);
  EXPECT_EQ(AreTwoVecsParallel(x, at(1.001)), 0);
  EXPECT_EQ(AreTwoVecsParallel(x, negx), 1);
  EXPECT_EQ(AreTwoVecsPerpendicular(x, at(88.999)), 0);
  EXPECT_EQ(AreTwoVecsPerpendicular(x, at(89.5)), 1);
  EXPECT_EQ(AreTwoVecsPerpendicular(x, zero), 1);
  EXPECT_EQ(AreTwoVecsParallel(x, zero), 0);
  SetRegAngleTol(-1.0);
  EXPECT_EQ(AreTwoVecsParallel(x, x), 0);
  EXPECT_EQ(AreTwoVecsPerpendicular(x, at(90)), 0);
  SetRegAngleTol(1.0);
  const double z[3] = {0, 0, 1};
  EXPECT_EQ(AreTwoVecsOnSameHemisphere(z, at(10), at(20)), 1);  // both in the plane
  const double up[3] = {1, 0, 1}, down[3] = {1, 0, -1};
  EXPECT_EQ(AreTwoVecsOnSameHemisphere(z, up, down), 0);
  EXPECT_EQ(AreTwoVecsOnSameHemisphere(zero, up, up), 0);
}

TEST_F(Motion, LineAndPlanePredicates) {
  const double l1[6] = {0, 0, 0, 2, 0, 0}, l2[6] = {5, 0, 0, -1, 0, 0}, l3[6] = {0, 0.01, 0, 2, 0.01, 0};
  EXPECT_EQ(DoTwoLinesCoincide(l1, l2), 1);
  EXPECT_EQ(DoTwoLinesCoincide(l1, l3), 0);
  const double degenerate[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(DoTwoLinesCoincide(l1, degenerate), 0);
  double dir[3];
  EXPECT_EQ(LineDirection(degenerate, degenerate + 3, dir), -2);
  EXPECT_EQ(VecSize3(dir), 0.0);
  // A line half the size long has its direction at every size and 1e4 sizes from the origin.
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6})
    for (double away : {0.0, 1e4}) {
      const double p[3] = {size * away, -0.6 * size * away, 0.35 * size * away};
      const double q[3] = {p[0] + 0.18 * size, p[1] + 0.24 * size, p[2] - 0.4 * size};
      ASSERT_EQ(LineDirection(p, q, dir), 0) << size << " " << away;
      EXPECT_NEAR(dir[0], 0.36, 1e-9);
      EXPECT_NEAR(dir[1], 0.48, 1e-9);
      EXPECT_NEAR(dir[2], -0.8, 1e-9);
    }
  const double plane[4] = {0, 0, 2, 0};  // z = 0, normal not unit
  EXPECT_EQ(IsLineOnPlane(l1, plane), 1);
  const double lifted[6] = {0, 0, 2e-6, 1, 0, 2e-6};
  EXPECT_EQ(IsLineOnPlane(lifted, plane), 0);
  const double across[6] = {0, 0, 0, 0, 0, 1};
  EXPECT_EQ(IsLineOnPlane(across, plane), 0);
  const double v[3] = {1, 2, 3}, n[3] = {0, 1, 0};
  double out[3];
  VecProject3(v, n, out);
  const double along[3] = {0, 2, 0};
  ExpectNear3(out, along, 1e-15);
}

// Coincidence of lines answers alike for the lines scaled by any power of ten and moved: a
// midpoint a ten-thousandth of their size off the other line coincides, a hundredth does not, and
// a line a ten-millionth of their size long is parallel to nothing.
TEST_F(Motion, LinesCoincideAlikeAtEveryScale) {
  for (int e = -6; e <= 6; ++e) {
    const double s = std::pow(10.0, e);
    SCOPED_TRACE(s);
    const double T[3] = {3 * s, -7 * s, 1e3 * s};
    auto line = [&](double ax, double ay, double bx, double by, double l[6]) {
      const double raw[6] = {ax, ay, 0, bx, by, 0};
      for (int k = 0; k < 6; ++k) l[k] = raw[k] * s + T[k % 3];
    };
    double l1[6], l2[6], near[6], off[6], tiny[6], skew[6];
    line(0, 0, 2, 0, l1);
    line(5, 0, -1, 0, l2);
    line(0, 1e-4, 2, 1e-4, near);
    line(0, 0.01, 2, 0.01, off);
    line(1, 0, 1 + 1e-7, 0, tiny);
    line(0, 0, 2, 0.2, skew);
    EXPECT_EQ(DoTwoLinesCoincide(l1, l2), 1);
    EXPECT_EQ(DoTwoLinesCoincide(l2, l1), 1);
    EXPECT_EQ(DoTwoLinesCoincide(near, l2), 1);
    EXPECT_EQ(DoTwoLinesCoincide(off, l2), 0);
    EXPECT_EQ(DoTwoLinesCoincide(tiny, l1), 0);
    EXPECT_EQ(DoTwoLinesCoincide(skew, l1), 0);
  }
}

// A line (0.82 of the size long) on a tilted plane is on it at every size and wherever it lies;
// lifted by 2e-6 of the size it is not, by 5e-7 it still is.
TEST_F(Motion, LinesLieOnPlanesAlikeAtEverySizeAndPlace) {
  const double n[3] = {0.48, 0.6, 0.64};  // unit
  const double along[3] = {0.8, -0.64, 0.0};  // normal to n, length 1.02
  for (double s : {1e-6, 1.0, 1e6})
    for (double far : {0.0, 1.0}) {
      SCOPED_TRACE(testing::Message() << s << " " << far);
      const double P[3] = {1e4 * far * s, -6e3 * far * s, 3.5e3 * far * s};
      const double plane[4] = {2 * n[0], 2 * n[1], 2 * n[2], -2 * VecDotProd3(n, P)};
      auto line = [&](double lift, double l[6]) {
        for (int k = 0; k < 3; ++k) {
          l[k] = P[k] + s * (0.3 * along[k] + lift * n[k]);
          l[k + 3] = P[k] + s * (1.1 * along[k] + lift * n[k]);
        }
      };
      double on[6], near[6], off[6];
      line(0.0, on);
      line(5e-7, near);
      line(2e-6, off);
      EXPECT_EQ(IsLineOnPlane(on, plane), 1);
      EXPECT_EQ(IsLineOnPlane(near, plane), 1);
      EXPECT_EQ(IsLineOnPlane(off, plane), 0);
    }
}

TEST_F(Motion, ConstraintModesRefuseOutOfRangeFields) {
  RegConstraint c;
  ASSERT_EQ(SetNullRegConstraint(&c), 0);
  EXPECT_EQ(GetRegConstraintMode(c), static_cast<int>(RegConstraintMode::Free));
  c.kind = 2, c.centreFreedom = 1, c.transFreedom = 1;
  EXPECT_EQ(GetRegConstraintMode(c), static_cast<int>(RegConstraintMode::ArC1T1));
  // (1, -4, 15) used to alias Trans3D (15).
  c.kind = 1, c.centreFreedom = -4, c.transFreedom = 15;
  EXPECT_EQ(GetRegConstraintMode(c), -1);
  c.kind = 5, c.centreFreedom = 0, c.transFreedom = 0;
  EXPECT_EQ(GetRegConstraintMode(c), -1);
  c.kind = 0, c.centreFreedom = 4;
  EXPECT_EQ(GetRegConstraintMode(c), -1);
  RegConstraint d;
  c.kind = 2, c.centreFreedom = 0, c.point[1] = 7;
  EXPECT_EQ(CopyRegConstraint(&c, nullptr), -2);
  EXPECT_EQ(CopyRegConstraint(&c, &d), 0);
  EXPECT_EQ(d.point[1], 7.0);
  EXPECT_EQ(IsValidRegConstraint(d), 1);
  EXPECT_EQ(SetNullRegConstraint(nullptr), -2);
  RegConstraint* m = MallocNullRegConstraint();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetRegConstraintMode(*m), 79);
  Free(m);
  MallocFailAfter(0, -1);
  EXPECT_EQ(MallocNullRegConstraint(), nullptr);
}

TEST_F(Motion, QuaternionProductComposesRotationsAndTheConjugateUndoesIt) {
  std::mt19937 rng(5);
  double ra[9], rb[9], rp[9];
  double* Ra[3] = {ra, ra + 3, ra + 6};
  double* Rb[3] = {rb, rb + 3, rb + 6};
  double* Rp[3] = {rp, rp + 3, rp + 6};
  for (int trial = 0; trial < 20; ++trial) {
    RegVec a = RandomMotion(rng), b = RandomMotion(rng);
    // Unnormalised inputs: the product comes back as a unit quaternion.
    const double s = trial % 2 ? 1e-3 : 1e3;
    const double as[4] = {s * a.q[0], s * a.q[1], s * a.q[2], s * a.q[3]};
    double p[4];
    ASSERT_EQ(MultiplyQternion(as, b.q, p), 0);
    EXPECT_NEAR(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3], 1.0, 1e-12);
    ASSERT_EQ(quaternion_rotation_matrix(a.q, Ra), 0);
    ASSERT_EQ(quaternion_rotation_matrix(b.q, Rb), 0);
    ASSERT_EQ(quaternion_rotation_matrix(p, Rp), 0);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double ab = 0;
        for (int k = 0; k < 3; ++k) ab += Ra[i][k] * Rb[k][j];
        EXPECT_NEAR(Rp[i][j], ab, 1e-12) << trial << " " << i << j;
      }
    const double conj[4] = {a.q[0], -a.q[1], -a.q[2], -a.q[3]};
    ASSERT_EQ(MultiplyQternion(a.q, conj, p), 0);
    EXPECT_EQ(IsIdentityQuaternion(p), 1) << p[0] << " " << p[1] << " " << p[2] << " " << p[3];
  }
  const double zero[4] = {0, 0, 0, 0}, one[4] = {1, 0, 0, 0};
  double p[4];
  EXPECT_EQ(MultiplyQternion(zero, one, p), -2);
  EXPECT_EQ(MultiplyQternion(nullptr, one, p), -2);
}

}  // namespace
