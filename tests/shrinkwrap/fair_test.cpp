// Fairing a stretch of a 3D curve: the variational fairing lowers the variation of curvature and
// keeps the ends, the Gaussian region filter pulls a bump down, and failures restore the curve.
#include <cmath>
#include <limits>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "shrinkwrap/crvfair.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveFairTest : public KernelTest {
 protected:
  void TearDown() override {
    SmoothCurveRegionCleanUp();
    KernelTest::TearDown();
  }
};

// A gentle 3D curve with a bump in y around its middle; planar (z = 0) on request.
Bspline* BumpCurve(bool planar) {
  std::vector<double> pts;
  for (int i = 0; i < 14; ++i)
    pts.insert(pts.end(), {double(i), 0.2 * std::sin(i / 3.0) + (i == 7 ? 0.5 : 0.0), planar ? 0.0 : 0.3 * std::sin(i / 4.0)});
  return BuildCurve(3, 3, pts);
}

// K = C' x C'' / |C'|^3, whose length is the curvature.
void CurvatureVector(const Bspline* c, double t, double K[3]) {
  double d1[3], d2[3];
  Eval3DPointOnCurve3Array(c, t, 1, d1);
  Eval3DPointOnCurve3Array(c, t, 2, d2);
  VecCrossProd3(d1, d2, K);
  for (int a = 0; a < 3; ++a) K[a] /= std::pow(VecSize3(d1), 3);
}

// Sum of squared changes of the curvature between neighbouring dense samples: a discrete
// measure of curvature variation.
double CurvatureVariation(const Bspline* c) {
  double prev = 0.0, sum = 0.0;
  for (int i = 0; i <= 600; ++i) {
    double K[3];
    CurvatureVector(c, i / 600.0, K);
    const double k = VecSize3(K);
    if (i > 0) sum += (k - prev) * (k - prev);
    prev = k;
  }
  return sum;
}

// The control points of [0.25, 0.75] after the set-up on c; the first two and last two are
// never among them.
std::vector<int> SetUpMiddle(Bspline* c) {
  int* idx = nullptr;
  int n = 0;
  EXPECT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  EXPECT_EQ(FindCurveSegmentCntrlPnts(c, 0.25, 0.75, &idx, &n), 0);
  std::vector<int> v(idx, idx + n);
  Free(idx);
  for (int i : v) EXPECT_TRUE(i >= 2 && i < NumCtrlU(c) - 2) << i;
  return v;
}

int Fair(Bspline* c, const std::vector<int>& idx, int itmax, double tol, int isMVC, int* changed, double* change) {
  return FairBsplineCurve3(c, idx.data(), int(idx.size()), itmax, tol, 0.0, 0.1, isMVC, changed, change, nullptr);
}

TEST_F(CurveFairTest, FairingABumpLowersCurvatureVariationAndKeepsTheEnds) {
  for (int isMVC : {1, 0}) {
    for (bool planar : {false, true}) {
      Bspline* c = BumpCurve(planar);
      const double before = CurvatureVariation(c);
      const std::vector<int> idx = SetUpMiddle(c);
      Bspline* start = CopyCurveBspline(c);
      const int n = NumCtrlU(c);
      int changed = -1;
      double change = -1.0;
      ASSERT_EQ(Fair(c, idx, 40, 0.4, isMVC, &changed, &change), 0);
      EXPECT_EQ(changed, 1) << isMVC << planar;
      EXPECT_TRUE(change > 0.0 && change <= 0.4 + 1e-9) << change;
      // The variation functional aims at exactly this measure; the energy one lowers it too.
      EXPECT_LT(CurvatureVariation(c), (isMVC ? 0.5 : 0.9) * before) << isMVC << planar;
      for (int i : {0, 1, n - 2, n - 1})
        EXPECT_TRUE(c->X[0][i] == start->X[0][i] && c->Y[0][i] == start->Y[0][i] && c->Z[0][i] == start->Z[0][i]);
      for (int i = 0; i < n && planar; ++i) EXPECT_NEAR(c->Z[0][i], 0.0, 1e-12);  // stays in its plane
      // The curvature vector's derivative against a central difference of the vector.
      for (double t : {0.2, 0.55}) {
        const double h = 1e-5;
        double dk[3], kp[3], km[3];
        ASSERT_EQ(BsplCurve3DiffCurvature(c, t, dk), 0);
        CurvatureVector(c, t + h, kp);
        CurvatureVector(c, t - h, km);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(dk[a], (kp[a] - km[a]) / (2 * h), 1e-4 * (1 + std::fabs(dk[a])));
      }
      FreeBspline(start);
      SmoothCurveRegionCleanUp();
      FreeBspline(c);
    }
  }
}

TEST_F(CurveFairTest, FairingNeedsItsSetUpOnTheSameCurve) {
  Bspline* c = BumpCurve(false);
  Bspline* other = BumpCurve(false);
  // The Gaussian region filter (no set-up needed) pulls the bump down and keeps the run's ends.
  const std::vector<double> y(other->Y[0], other->Y[0] + NumCtrlU(other));
  ASSERT_EQ(SmoothCurveRegion(other, 0.0, 1.0), 0);
  EXPECT_TRUE(other->Y[0][0] == y[0] && other->Y[0][13] == y[13] && other->Y[0][7] < y[7]);
  const std::vector<int> idx = {5, 6, 7, 8};
  int changed = -1;
  double change = -1.0;
  EXPECT_EQ(Fair(c, idx, 10, 0.4, 1, &changed, &change), -2);
  EXPECT_EQ(changed, 0);
  ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  EXPECT_EQ(Fair(other, idx, 10, 0.4, 1, &changed, &change), -2);
  SmoothCurveRegionCleanUp();
  // A curve already farther than the tolerance from its set-up shape is left alone.
  ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  c->Y[0][7] += 1.0;
  const std::vector<double> moved(c->Y[0], c->Y[0] + NumCtrlU(c));
  ASSERT_EQ(Fair(c, idx, 10, 0.1, 1, &changed, &change), 0);
  EXPECT_TRUE(changed == 0 && change > 0.1);
  EXPECT_EQ(std::vector<double>(c->Y[0], c->Y[0] + NumCtrlU(c)), moved);
  for (Bspline* obj : {other, c}) FreeBspline(obj);
  // The Gauss samples of an interval integrate polynomials of degree 19 exactly.
  double *t = nullptr, *w = nullptr;
  int n = 0;
  ASSERT_EQ(GetGaussQuadSampleWeight(0.5, 2.0, &t, &w, &n), 0);
  for (int deg : {0, 7, 19}) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += w[i] * std::pow(t[i], deg);
    EXPECT_NEAR(sum, (std::pow(2.0, deg + 1) - std::pow(0.5, deg + 1)) / (deg + 1), 1e-9 * std::pow(2.0, deg)) << deg;
  }
  Free(t);
  Free(w);
}

// The samples of [a, b] split at the knots integrate the piecewise cubic |t - 0.3|^3 exactly
// (it is one polynomial between the knots); ends that are not numbers, and a degree the knots
// cannot hold, are refused.
TEST_F(CurveFairTest, KnotIntegralSamplesAreExactAndRefuseEndsThatAreNotNumbers) {
  const double knots[9] = {0, 0, 0, 0, 0.3, 1, 1, 1, 1};
  double *t = nullptr, *w = nullptr;
  int n = 0;
  ASSERT_EQ(SetupKnotIntegralSample(knots, 9, 3, 0.1, 0.8, &t, &w, &n), 0);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += w[i] * std::pow(std::fabs(t[i] - 0.3), 3);
  EXPECT_NEAR(sum, (std::pow(0.2, 4) + std::pow(0.5, 4)) / 4.0, 1e-15);
  Free(t);
  Free(w);
  for (double b : {std::nan(""), std::numeric_limits<double>::infinity()})
    EXPECT_EQ(SetupKnotIntegralSample(knots, 9, 3, 0.1, b, &t, &w, &n), -2) << b;
  EXPECT_EQ(SetupKnotIntegralSample(knots, 9, 4, 0.1, 0.8, &t, &w, &n), -2);  // 9 knots hold degree 3
  EXPECT_EQ(SetupKnotIntegralSample(knots, 9, -1, 0.1, 0.8, &t, &w, &n), -2);
}

TEST_F(CurveFairTest, InjectedFailuresRestoreTheCurveAndLeaveNoLeak) {
  Bspline* c = BumpCurve(false);
  const std::vector<int> idx = SetUpMiddle(c);
  Bspline* start = CopyCurveBspline(c);
  const int n = NumCtrlU(c);
  const int failures = RunWithInjectedFailures(300, 3, [&] {
    int changed = 0;
    double change = 0.0;
    const int r = Fair(c, idx, 5, 0.4, 1, &changed, &change);
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(r == 0 || c->Y[0][i] == start->Y[0][i]);
      c->X[0][i] = start->X[0][i], c->Y[0][i] = start->Y[0][i], c->Z[0][i] = start->Z[0][i];
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* obj : {start, c}) FreeBspline(obj);
}

}  // namespace
