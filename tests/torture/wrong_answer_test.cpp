// Answers that used to pass as success: results from finite input are finite or the call fails,
// a refusal leaves the caller's arrays as they were, a failed allocation is a failure, and every
// record maker that hands back null says so in the error state.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "construct/srfrevol.h"
#include "curve/cintrplt.h"
#include "mesh/poffset.h"
#include "quadric/cone.h"
#include "quadric/quadrics.h"
#include "registration/kdtree.h"
#include "shrinkwrap/crvfair.h"
#include "splinefit/fitsplin.h"
#include "splinefit/intrplt.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/torture/meshes.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using WrongAnswers = KernelTest;

TEST_F(WrongAnswers, FiniteButHugeInputsGiveFiniteResultsOrFail) {
  BsplineKeeper keep;
  // Coefficients near the double range: the derivatives overflow.
  Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 1e308, -1e308, 0, -1e308, 1e308, 0, 1e308, 0, 1e308}));
  ASSERT_NE(c, nullptr);
  const int du[3] = {0, 1, 2};
  double out[3][3];
  for (auto& row : out)
    for (double& v : row) v = 12345.0;
  const int r = EvalPointOnGeometryM(c, 0.4, 0.0, du, du, 3, 0, out);
  if (r == 0) {
    for (auto& row : out)
      for (double v : row) EXPECT_TRUE(std::isfinite(v));
  } else {
    EXPECT_EQ(r, -2);
    for (auto& row : out)
      for (double v : row) EXPECT_EQ(v, 12345.0);
  }
  EXPECT_NE(r, 0) << "the second derivative of these coefficients overflows";
  // The same curve far from the axis: the revolution's weighted points overflow.
  double p0[3] = {0, 0, 0}, p1[3] = {0, 1, 0};
  ClearKernelError();
  Bspline* revolved = RevolveCurveGeometry(c, p0, p1, 0.0, 360.0);
  if (revolved) {
    keep(revolved);
    EXPECT_TRUE(BsplineSound(revolved));
  } else {
    EXPECT_TRUE(KernelFailedNow());
  }
  // A mesh offset beyond the float range.
  const double centre[3] = {1e4, -2e4, 3e4};
  Cloud* m = MakeOctahedronMesh(1.0, centre);
  ClearKernelError();
  EXPECT_EQ(BuildOffsetPolyCloud(m, 1e300, nullptr), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  Cloud* shell = BuildOffsetPolyCloud(m, 0.25, nullptr);
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(shell->npts, 12);
  FreeCloud(shell);
  FreeCloud(m);
}

TEST_F(WrongAnswers, NearestPointIsFoundHoweverFarTheQuery) {
  const float x[] = {0, 1, 2, 3, -1}, y[] = {0, 0, 1, 1, 5}, z[] = {0, 2, 0, 1, 0};
  KDTree* tree = Create3DTree(x, y, z, 5, 2);
  ASSERT_NE(tree, nullptr);
  for (double far : {1e3, 1e20, 1e200}) {
    const double q[3] = {0.3 * far, 2.0 * far, -0.1 * far};
    int best = -2;
    EXPECT_EQ(SearchKDTreeNearest(tree, q, &best), 0);
    // The nearest within round-off of the distances (at 1e20 all five tie).
    double bestD = HUGE_VAL;
    for (int i = 0; i < 5; ++i) bestD = std::min(bestD, std::hypot(q[0] - x[i], q[1] - y[i], q[2] - z[i]));
    ASSERT_GE(best, 0) << far;
    ASSERT_LT(best, 5) << far;
    EXPECT_LE(std::hypot(q[0] - x[best], q[1] - y[best], q[2] - z[best]), bestD * (1 + 1e-15)) << far;
  }
  const double bad[3] = {kNaN, 0, 0};
  int best = 7;
  EXPECT_EQ(SearchKDTreeNearest(tree, bad, &best), -2);
  EXPECT_EQ(best, -1);
  FreeKDTree(tree);
}

TEST_F(WrongAnswers, InterpolationLeavesTheCallersPointsAloneWhenItRefuses) {
  // Two duplicate pairs; degree 2 is refused, the points must not come back merged.
  std::vector<double> x = {0, 0, 1, 2, 2, 3}, y = {0, 0, 1, 0, 0, 1}, z = {0, 0, 0, 1, 1, 0};
  const std::vector<double> x0 = x, y0 = y, z0 = z;
  EXPECT_EQ(CurveIntrplt(x.data(), y.data(), z.data(), 5, nullptr, 2, 0), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(x, x0);
  EXPECT_EQ(y, y0);
  EXPECT_EQ(z, z0);
  // Degree 1 handed the cubic's padded layout (four copies of the first value): refused.
  ClearKernelError();
  std::vector<double> px = {0, 1, 2, 3}, py = {0, 1, 0, 1}, pz = {0, 0, 1, 1};
  std::vector<double> cubic = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  EXPECT_EQ(CurveIntrplt(px.data(), py.data(), pz.data(), 3, cubic.data(), 1, 0), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  // Its own layout works and interpolates.
  ClearKernelError();
  std::vector<double> linear = {0, 0, 1, 2, 3, 3};
  BsplineKeeper keep;
  Bspline* c = keep(CurveIntrplt(px.data(), py.data(), pz.data(), 3, linear.data(), 1, 0));
  ASSERT_NE(c, nullptr);
  for (int i = 0; i < 4; ++i) {
    double p[3];
    Eval3DPointOnCurve3Array(c, double(i), 0, p);
    EXPECT_NEAR(p[0], px[i], 1e-12);
    EXPECT_NEAR(p[1], py[i], 1e-12);
  }
  // A cubic through the duplicates still merges them on the caller's arrays, as callers expect.
  ClearKernelError();
  Bspline* cubicCurve = keep(CurveIntrplt(x.data(), y.data(), z.data(), 5, nullptr, 3, 0));
  ASSERT_NE(cubicCurve, nullptr);
  EXPECT_EQ(NumCtrlU(cubicCurve), 4 + 2);
}

TEST_F(WrongAnswers, AFailedAllocationIsAFailedCall) {
  // A cone's points: every injection point either fails the fit or gives the cone itself.
  std::vector<float> x, y, z;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 10; ++i) {
      const double h = 1.0 + 0.3 * j, a = 2.0 * M_PI * i / 10 + 0.1 * j;
      x.push_back(float(0.5 * h * std::cos(a))), y.push_back(float(0.5 * h * std::sin(a))), z.push_back(float(h));
    }
  QuadricInfo clean{};
  double cleanError = 0.0;
  ASSERT_EQ(FitCone(x.data(), y.data(), z.data(), int(x.size()), &clean, &cleanError), 0);
  int failed = 0;
  RunWithInjectedFailures(400, 1, [&] {
    QuadricInfo info{};
    double error = 0.0;
    const int r = FitCone(x.data(), y.data(), z.data(), int(x.size()), &info, &error);
    if (r == 0) {
      EXPECT_FALSE(KernelFailedNow());
      for (int k = 0; k < 7; ++k) EXPECT_NEAR(info.v[k], clean.v[k], 1e-9) << k;
    } else {
      ++failed;
    }
    return r;
  });
  EXPECT_GT(failed, 0);
  // Smoothing: a failure leaves the curve exactly as it was.
  RunWithInjectedFailures(20, 1, [&] {
    Bspline* c = BuildRandomCurve(3, 3, 12, 3);
    if (!c) return -2;
    MallocFailClear();
    Bspline* ref = BuildRandomCurve(3, 3, 12, 3);
    ClearKernelError();
    MallocFailAfter(0, -1);
    const int r = SmoothCurve(c, 2, 7);
    MallocFailClear();
    if (r != 0) {
      EXPECT_EQ(std::memcmp(c->X[0], ref->X[0], 12 * sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(c->Y[0], ref->Y[0], 12 * sizeof(double)), 0);
    }
    EXPECT_EQ(r != 0, KernelFailedNow());
    FreeBspline(ref);
    FreeBspline(c);
    return r;
  });
}

TEST_F(WrongAnswers, RecordMakersSetTheErrorStateWithEveryNull) {
  double x[4] = {0, 1, 2, 3}, y[4] = {0, 1, 0, 1}, z[4] = {0, 0, 1, 1};
  auto refused = [&](const char* what, Bspline* made) {
    EXPECT_EQ(made, nullptr) << what;
    EXPECT_TRUE(KernelFailedNow()) << what;
    if (made) FreeBspline(made);
    ClearKernelError();
  };
  refused("PointCurve", PointCurve(x, y, z, 23));
  refused("MakeCurveZero", MakeCurveZero(x, y, nullptr, 40));
  refused("IntrpltWithDegree1", IntrpltWithDegree1(x, y, z, 0, nullptr));
  refused("NewCurveIntrplt", NewCurveIntrplt(x, y, z, -1, nullptr, 3));
  refused("CurveIntrplt", CurveIntrplt(x, y, z, 3, nullptr, 5, 0));
  refused("RevolveCurveGeometry", RevolveCurveGeometry(nullptr, x, y, 0.0, 90.0));
  const float fx[3] = {0, 1, 2}, fy[3] = {0, 1, 0}, fz[3] = {0, 0, 1};
  refused("FitSphereBspline", FitSphereBspline(fx, fy, fz, 2));
  double nan3[3] = {kNaN, 0, 0};
  refused("InterpolateLineCurve3", InterpolateLineCurve3(nan3, x));
  // More control points than points to fix them: refused at once, not ground through.
  std::vector<float> cx, cy, cz;
  for (int i = 0; i < 48; ++i) cx.push_back(float(i % 8)), cy.push_back(float(i / 8)), cz.push_back(float(0.1 * (i % 5)));
  Cloud* cloud = MakeCld(cx.data(), cy.data(), cz.data(), 48, nullptr);
  ASSERT_NE(cloud, nullptr);
  refused("SimpleFitSplineSurface", SimpleFitSplineSurface(cloud, 3, 3, 1000, 4, 0));
  Bspline* fitted = SimpleFitSplineSurface(cloud, 3, 3, 4, 4, 0);
  EXPECT_NE(fitted, nullptr);
  if (fitted) FreeBspline(fitted);
  FreeCloud(cloud);
  // While the error state is set, a sound allocation is refused too (docs/errors.md).
  SetKernelError(-2);
  EXPECT_EQ(MallocCurveBspline(3, 3, 4), nullptr);
  ClearKernelError();
}

}  // namespace
