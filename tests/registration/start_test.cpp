#include "registration/register.h"

#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "registration/stepreg.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/point_sets.h"

namespace {

constexpr double kPi = 3.141592653589793;

using Set = PointSet;

RegVec RowOf(double** t, int i) { return RegVec{{t[i][0], t[i][1], t[i][2], t[i][3]}, {t[i][4], t[i][5], t[i][6]}}; }

// An elongated, flattened box of points: distinct principal axes.
Set Box(std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> u(-1, 1);
  Set s;
  for (int i = 0; i < n; ++i) s.x.push_back(4 * u(rng)), s.y.push_back(2 * u(rng)), s.z.push_back(0.5f * u(rng));
  return s;
}


double Centroid(const Set& s, int k) {
  double c = 0;
  for (int i = 0; i < s.n(); ++i) c += (k == 0 ? s.x[i] : (k == 1 ? s.y[i] : s.z[i]));
  return c / s.n();
}

using StartMotions = KernelTest;

TEST_F(StartMotions, LatticeSampleHoldsEveryRotationOfTheGrid) {
  double** t = nullptr;
  int n = -1;
  ASSERT_EQ(Get3DQternionSample(&t, &n), 0);
  ASSERT_EQ(n, 53);
  EXPECT_EQ(t[0][0], 1.0);
  const double r = 1 / std::sqrt(3.0);
  for (int k = 1; k < 4; ++k) EXPECT_NEAR(t[52][k], -r, 1e-15);
  EXPECT_EQ(t[52][0], 0.0);
  for (int i = 0; i < n; ++i) {
    double norm = 0;
    for (int k = 0; k < 4; ++k) norm += t[i][k] * t[i][k];
    EXPECT_NEAR(norm, 1.0, 1e-15);
    EXPECT_EQ(t[i][4] + t[i][5] + t[i][6], 0.0);
  }
  matrix_free_ff(t);
}

TEST_F(StartMotions, InitialMotionsBringTheCentroidsTogetherAndAlignTheAxes) {
  std::mt19937 rng(5);
  const Set a = Box(rng, 400);
  RegVec v = {{0.8, 0.3, -0.4, 0.2}, {5, -2, 1}};
  NormalizeQternion(v.q);
  const Set b = MovedBy(a, v);
  double** t = nullptr;
  int n = 0;
  ASSERT_EQ(GetInitialQuaternion(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(), b.z.data(),
                                 b.n(), &t, &n),
            0);
  EXPECT_EQ(n, 44);  // four alignments and the 40 lattice rotations without their negatives
  const double ca[3] = {Centroid(a, 0), Centroid(a, 1), Centroid(a, 2)};
  const double cb[3] = {Centroid(b, 0), Centroid(b, 1), Centroid(b, 2)};
  double bestAxisError = 1e9;
  for (int i = 0; i < n; ++i) {
    const RegVec r = RowOf(t, i);
    double moved[3];
    VecQterTrans3(ca, &r, moved);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(moved[k], cb[k], 1e-4) << i;
    if (i < 4) {  // one of the alignments is the motion itself, up to the box's symmetry
      double err = 0;
      const double probe[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
      for (const auto& p : probe) {
        double x1[3], x2[3];
        VecRotWquaternion(p, &r, x1);
        VecRotWquaternion(p, &v, x2);
        err += std::fabs(std::fabs(VecDotProd3(x1, x2)) - 1);
      }
      bestAxisError = std::min(bestAxisError, err);
    }
  }
  EXPECT_LT(bestAxisError, 0.05);
  matrix_free_ff(t);

  // One or two points: no alignment, the lattice alone, the identity first.
  const float px[2] = {0, 1}, py[2] = {0, 0}, pz[2] = {0, 0}, qx[1] = {3}, qy[1] = {4}, qz[1] = {5};
  ASSERT_EQ(GetInitialQuaternion(px, py, pz, 2, qx, qy, qz, 1, &t, &n), 0);
  EXPECT_EQ(n, 40);
  EXPECT_EQ(t[0][0], 1.0);
  EXPECT_NEAR(t[0][4], 2.5, 1e-12);
  EXPECT_NEAR(t[0][5], 4.0, 1e-12);
  EXPECT_NEAR(t[0][6], 5.0, 1e-12);
  matrix_free_ff(t);
}

TEST_F(StartMotions, TablesSurviveTheCallersScopeAndFailuresLeaveNone) {
  std::mt19937 rng(9);
  const Set a = Box(rng, 50);
  BeginTrackingMallocs();
  double** t = nullptr;
  int n = 0;
  ASSERT_EQ(GetInitialQuaternion(a.x.data(), a.y.data(), a.z.data(), a.n(), a.x.data(), a.y.data(), a.z.data(),
                                 a.n(), &t, &n),
            0);
  FreeTrackedMallocs();
  EXPECT_EQ(t[0][0] * 0 + n, 44);
  matrix_free_ff(t);

  RegConstraint c;
  SetNullRegConstraint(&c);
  c.kind = 4;
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    double** table = reinterpret_cast<double**>(1);
    int count = -1;
    const int r = GetConstrainedInitQternion(a.x.data(), a.y.data(), a.z.data(), a.n(), a.x.data(), a.y.data(),
                                             a.z.data(), a.n(), &c, &table, &count);
    if (r != 0) {
      EXPECT_EQ(table, nullptr);
      EXPECT_EQ(count, 0);
    } else {
      matrix_free_ff(table);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(StartMotions, AxisSamplesStepByAFullTurnOverKPlusOne) {
  const double P[3] = {1, 2, 0}, axis[3] = {0, 0, 2};
  double** t = nullptr;
  int n = 0;
  ASSERT_EQ(GetRotAxisQternionSample(P, axis, 1, &t, &n), 0);
  ASSERT_EQ(n, 3);
  for (int i = 0; i < 3; ++i) {
    RegVec r = RowOf(t, i);
    double ax[3], deg;
    double fixed[3];
    VecQterTrans3(P, &r, fixed);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(fixed[k], P[k], 1e-12);
    Qternion2AxisRotAngle(r.q, ax, &deg);
    EXPECT_NEAR(deg, 90.0 * i, 1e-9);
  }
  matrix_free_ff(t);
  ASSERT_EQ(GetRotAxisQternionSample(P, axis, 60, &t, &n), 0);
  EXPECT_EQ(n, 60);
  RegVec last = RowOf(t, 59);
  double ax[3], deg;
  Qternion2AxisRotAngle(last.q, ax, &deg);
  EXPECT_NEAR(deg, 59 * 360.0 / 61, 1e-9);
  matrix_free_ff(t);
  const double zero[3] = {0, 0, 0};
  EXPECT_EQ(GetRotAxisQternionSample(P, zero, 5, &t, &n), -2);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(t, nullptr);
}

TEST_F(StartMotions, ConstrainedStartsKeepToTheirFreedom) {
  std::mt19937 rng(3);
  const Set a = Box(rng, 60);
  RegVec v = {{1, 0, 0, 0}, {3, 4, 5}};
  const Set b = MovedBy(a, v);
  RegConstraint c;
  SetNullRegConstraint(&c);
  c.kind = 0, c.centreFreedom = 0, c.transFreedom = 1;
  c.transDir[0] = 2;
  double** t = nullptr;
  int n = 0;
  ASSERT_EQ(GetConstrainedInitQternion(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                       b.z.data(), b.n(), &c, &t, &n),
            0);
  ASSERT_EQ(n, 2);
  EXPECT_NEAR(t[1][4], 3.0, 1e-5);
  EXPECT_EQ(t[1][5], 0.0);
  EXPECT_EQ(t[1][6], 0.0);
  matrix_free_ff(t);

  // Rotation about a point with translation in the plane normal to z: no row moves along z.
  c.kind = 4, c.transFreedom = 2;
  c.transNormal[2] = 1;
  ASSERT_EQ(GetConstrainedInitQternion(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                       b.z.data(), b.n(), &c, &t, &n),
            0);
  EXPECT_EQ(n, 1 + 4 + 52);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(t[i][6], 0.0, 1e-12);
  matrix_free_ff(t);

  // Rotation about an axis: every start turns about a line parallel to the axis through cA.
  c.kind = 2, c.centreFreedom = 3, c.transFreedom = 0;
  c.axis[0] = 0, c.axis[1] = 0, c.axis[2] = 5;
  double centre[3];
  ASSERT_EQ(GetEstRotCenterForRotAxis(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                      b.z.data(), b.n(), &c, centre),
            0);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(centre[k], Centroid(a, k), 1e-5);
  ASSERT_EQ(GetConstrainedInitQternion(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                       b.z.data(), b.n(), &c, &t, &n),
            0);
  EXPECT_EQ(n, 60);
  for (int i = 0; i < n; ++i) {
    RegVec r = RowOf(t, i);
    double moved[3];
    VecQterTrans3(centre, &r, moved);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(moved[k], centre[k], 1e-5);
  }
  matrix_free_ff(t);
  c.centreFreedom = 4;
  EXPECT_EQ(GetEstRotCenterForRotAxis(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                      b.z.data(), b.n(), &c, centre),
            -2);
  for (int kind : {1, 3}) {
    c.kind = kind;
    EXPECT_EQ(GetConstrainedInitQternion(a.x.data(), a.y.data(), a.z.data(), a.n(), b.x.data(), b.y.data(),
                                         b.z.data(), b.n(), &c, &t, &n),
              -2);
    EXPECT_EQ(n, 0);
  }
}

TEST_F(StartMotions, PerturbedRestartsTurnOneDegreeFurtherAboutTiltedAxes) {
  RegVec id = {{1, 0, 0, 0}, {1, 2, 3}};
  double** t = nullptr;
  int n = 0;
  ASSERT_EQ(GetPerturbedQuaternion(&id, 2 * kPi / 360, &t, &n), 0);
  ASSERT_EQ(n, 4);
  for (int i = 0; i < 4; ++i) {
    RegVec r = RowOf(t, i);
    double axis[3], deg;
    Qternion2AxisRotAngle(r.q, axis, &deg);
    EXPECT_NEAR(deg, 1.0, 1e-9);
    EXPECT_LE(std::acos(std::min(1.0, axis[2])) * 180 / kPi, 0.5 + 1e-9);
    EXPECT_EQ(r.t[1], 2.0);
  }
  matrix_free_ff(t);
  RegVec zero = {{0, 0, 0, 0}, {0, 0, 0}};
  EXPECT_EQ(GetPerturbedQuaternion(&zero, 0.1, &t, &n), -2);
  EXPECT_EQ(t, nullptr);
  // A q0 a rounding error above 1 still perturbs.
  RegVec over = {{1.0 + 1e-16, 0, 0, 0}, {0, 0, 0}};
  ASSERT_EQ(GetPerturbedQuaternion(&over, 0.1, &t, &n), 0);
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isfinite(t[0][k]));
  matrix_free_ff(t);
}

}  // namespace
