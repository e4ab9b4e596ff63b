#include "registration/cpsr.h"

#include <cmath>
#include <random>
#include <vector>

#include "registration/stepreg.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

using Set = PointSet;


Set Random(std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> u(-2, 2);
  Set s;
  for (int i = 0; i < n; ++i) s.x.push_back(u(rng)), s.y.push_back(u(rng)), s.z.push_back(u(rng));
  return s;
}

// The two motions move points alike (q and -q allowed).
void ExpectSameMotion(const RegVec& a, const RegVec& b, double tol) {
  const double probes[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (const auto& p : probes) {
    double pa[3], pb[3];
    VecQterTrans3(p, &a, pa);
    VecQterTrans3(p, &b, pb);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(pa[k], pb[k], tol);
  }
}

class ClosedForm : public KernelTest {
 protected:
  void TearDown() override {
    SetRegistrationMode(0);
    KernelTest::TearDown();
  }
};

TEST_F(ClosedForm, KnownMotionOfCorrespondingPointsIsRecovered) {
  std::mt19937 rng(21);
  std::normal_distribution<double> g(0, 1);
  for (int trial = 0; trial < 20; ++trial) {
    RegVec v = {{g(rng), g(rng), g(rng), g(rng)}, {5 * g(rng), 5 * g(rng), 5 * g(rng)}};
    NormalizeQternion(v.q);
    const Set a = Random(rng, 4 + trial * 3);
    const Set b = MovedBy(a, v);
    RegVec found;
    double residual = -1;
    ASSERT_EQ(RegisterCorPntSets(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                                 &found, &residual),
              0);
    ExpectSameMotion(found, v, 1e-5);
    EXPECT_LT(residual, 1e-10);
    Xform M;
    RegVecToXfrmMat(&found, M);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(lastXform[k], M[k]);

    // B onto A is the inverse motion.
    RegVec back;
    ASSERT_EQ(RegisterCorPntSets(b.x.data(), b.y.data(), b.z.data(), b.n(), a.x.data(), a.y.data(), a.z.data(),
                                 &back, &residual),
              0);
    RegVec id;
    MultiplyTwoRegVecs(&found, &back, &id);
    if (id.q[0] < 0)
      for (double& q : id.q) q = -q;
    EXPECT_NEAR(id.q[0], 1.0, 1e-9);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(id.t[k], 0.0, 1e-5);

    // The iterative loop's form agrees in the free mode and reports the same residual.
    RegVec loop;
    const double s =
        register_point_sets(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(), &loop);
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 1e-10);
    ExpectSameMotion(loop, v, 1e-5);
  }
}

TEST_F(ClosedForm, ResidualIsTheMeanSquaredDistance) {
  std::mt19937 rng(4);
  Set a = Random(rng, 2500), b = a;
  for (int i = 0; i < b.n(); ++i) b.z[i] += (i % 2 ? 0.5f : -0.5f);
  RegVec id;
  SetIdentityQuaternion(&id);
  double e = -1;
  ASSERT_EQ(CorPntSetRegistrationError(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                       b.z.data(), &id, &e),
            0);
  EXPECT_NEAR(e, 0.25, 1e-6);
  EXPECT_EQ(CorPntSetRegistrationError(a.x.data(), a.y.data(), a.z.data(), 0, b.x.data(), b.y.data(),
                                       b.z.data(), &id, &e),
            -2);
}

TEST_F(ClosedForm, AxisModeTurnsAboutThatAxisAndDropsItsTranslation) {
  std::mt19937 rng(8);
  const Set a = Random(rng, 30);
  const double s = std::sqrt(0.5);
  const RegVec v = {{s, 0, 0, s}, {1, 2, 3}};  // 90 degrees about z, moved by (1, 2, 3)
  const Set b = MovedBy(a, v);
  ASSERT_EQ(SetRegistrationMode(3), 0);
  EXPECT_EQ(SetRegistrationMode(4), -2);
  EXPECT_EQ(CurrentRegistrationMode(), 3);
  RegVec r;
  const double res =
      register_point_sets(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(), &r);
  EXPECT_EQ(r.q[1], 0.0);
  EXPECT_EQ(r.q[2], 0.0);
  EXPECT_NEAR(std::fabs(r.q[0]), s, 1e-6);
  EXPECT_NEAR(r.q[0] * r.q[3], 0.5, 1e-6);  // same sense as v
  EXPECT_NEAR(r.t[0], 1.0, 1e-5);
  EXPECT_NEAR(r.t[1], 2.0, 1e-5);
  EXPECT_EQ(r.t[2], 0.0);
  EXPECT_NEAR(res, 9.0, 1e-4);  // the dropped z offset, per point
}

TEST_F(ClosedForm, TooFewPairsFailWithoutWriting) {
  // Two pairs fix no rotation: the loop's solver used to hand back a stale motion.
  const float x[2] = {0, 1}, y[2] = {0, 0}, z[2] = {0, 0};
  RegVec out = {{9, 9, 9, 9}, {9, 9, 9}};
  double residual = 7;
  EXPECT_EQ(RegisterCorPntSets(x, y, z, 2, x, y, z, &out, &residual), -2);
  EXPECT_LT(register_point_sets(x, y, z, 2, x, y, z, &out), 0.0);
  EXPECT_LT(register_point_sets(x, y, z, 1, x, y, z, &out), 0.0);
  const int kinds[2] = {0, 1};
  EXPECT_EQ(Reg321CorPntSets(x, y, z, 2, x, y, z, kinds, &out, &residual), -2);
  EXPECT_EQ(out.q[0], 9.0);
  EXPECT_EQ(out.t[2], 9.0);
  EXPECT_EQ(residual, 7.0);
  EXPECT_EQ(RegisterCorPntSets(nullptr, y, z, 3, x, y, z, &out, &residual), -2);
}

TEST_F(ClosedForm, ThreeTwoOneWithEveryCoordinateMeasuredIsTheFreeSolution) {
  // Each point entered three times, measuring x, y and z in turn: the one-coordinate terms add
  // up to the full cross-covariance, so the motion comes back exactly.
  std::mt19937 rng(12);
  const RegVec v = {{0.9, 0.1, -0.3, 0.2}, {0.2, -0.1, 0.3}};
  RegVec unit = v;
  NormalizeQternion(unit.q);
  const Set base = Random(rng, 8);
  Set a;
  std::vector<int> kinds;
  for (int i = 0; i < base.n(); ++i)
    for (int k = 0; k < 3; ++k) {
      a.x.push_back(base.x[i]), a.y.push_back(base.y[i]), a.z.push_back(base.z[i]);
      kinds.push_back(k);
    }
  const Set b = MovedBy(a, unit);
  RegVec r;
  double residual = -1;
  ASSERT_EQ(Reg321CorPntSets(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                             kinds.data(), &r, &residual),
            0);
  ExpectSameMotion(r, unit, 1e-5);
  EXPECT_LT(residual, 1e-10);

  // A pair of unknown kind adds nothing to the covariance but counts in the centroids.
  double N1[4][4], N2[4][4], ca[3], cb[3];
  double* r1[4] = {N1[0], N1[1], N1[2], N1[3]};
  double* r2[4] = {N2[0], N2[1], N2[2], N2[3]};
  std::vector<int> fewer = kinds;
  fewer.back() = 7;
  ASSERT_EQ(Get321CovMatrix(a.x.data(), a.y.data(), a.z.data(), a.n() - 1, b.x.data(), b.y.data(), b.z.data(),
                            kinds.data(), r1, ca, cb),
            0);
  const double caBefore = ca[0];
  ASSERT_EQ(Get321CovMatrix(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                            fewer.data(), r2, ca, cb),
            0);
  EXPECT_NE(ca[0], caBefore);
  EXPECT_EQ(Get321CovMatrix(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                            nullptr, r2, ca, cb),
            -2);
}

}  // namespace
