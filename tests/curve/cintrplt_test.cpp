// Curves through ordered clouds: open at the asked degree, closed as a cubic whose seam is
// curvature continuous, and straight lines with their exact form.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/cintrplt.h"
#include "curve/crverr.h"
#include "foundation/cloudrec.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveInterpTest : public KernelTest {};

// n points of a wavy closed space curve of size `scale`; the last one short of the first.
Cloud* Loop(int n, double scale) {
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n + 0.1 * std::sin(3.0 * i);
    x[i] = float(scale * (1.3 * std::cos(a)));
    y[i] = float(scale * std::sin(a));
    z[i] = float(scale * 0.4 * std::sin(2 * a));
  }
  return MakeCld(x.data(), y.data(), z.data(), n, nullptr);
}

// Largest distance of the cloud's points from the curve, and whether the closest parameters
// rise along the cloud (the curve visits the points in order).
double Deviation(Bspline* c, Cloud* cloud, bool* inOrder) {
  std::vector<double> d(cloud->npts), t(cloud->npts);
  EXPECT_EQ(RecordCurveBsplineCloudDiff(c, cloud, d.data(), t.data()), 0);
  double worst = 0.0;
  *inOrder = true;
  for (int i = 0; i < cloud->npts; ++i) {
    worst = std::max(worst, std::sqrt(d[i]));
    if (i > 0 && t[i] <= t[i - 1]) *inOrder = false;
  }
  return worst;
}

TEST_F(CurveInterpTest, OpenCurvesPassThroughEveryPointInOrder) {
  BsplineKeeper keep;
  // (The open interpolation merges points within 1e-5 of each other on every axis, so clouds
  // much smaller than a millimetre's worth of that are not interpolated point by point.)
  for (double scale : {1e-3, 1.0, 1e6}) {
    Owned<Cloud, FreeCloud> cloud(Loop(25, scale));
    for (int degree : {1, 2, 3, 5}) {
      Bspline* c = keep(InterpCurve3(cloud.get(), 0, degree));
      ASSERT_NE(c, nullptr) << degree;
      EXPECT_EQ(c->degreeU, degree);
      EXPECT_EQ(c->closedU, 0);
      bool inOrder;
      EXPECT_LT(Deviation(c, cloud.get(), &inOrder), 1e-6 * scale) << degree << " " << scale;
      EXPECT_TRUE(inOrder) << degree;
    }
    // Flags other than 1 are open too.
    Bspline* other = keep(InterpCurve3(cloud.get(), 2, 3));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->closedU, 0);
  }
}

TEST_F(CurveInterpTest, ClosedCurvesAreCubicsWithASmoothSeam) {
  BsplineKeeper keep;
  for (int n : {4, 5, 30}) {
   for (double scale : {1e-6, 2.0, 1e6}) {
    Owned<Cloud, FreeCloud> cloud(Loop(n, scale));
    Bspline* c = keep(InterpCurve3(cloud.get(), 1, 5));
    ASSERT_NE(c, nullptr) << n;
    EXPECT_EQ(c->degreeU, 3);
    EXPECT_EQ(c->closedU, 3);
    EXPECT_EQ(cloud->npts, n);  // the caller's cloud is not wrapped
    bool inOrder;
    EXPECT_LT(Deviation(c, cloud.get(), &inOrder), 1e-6 * scale) << n;
    for (int d = 0; d <= 2; ++d) {
      double a[3], b[3];
      RefEvalDeriv(c, c->umin, 0, d, 0, a);
      RefEvalDeriv(c, c->umax, 0, d, 0, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-9 * scale * (1 + std::fabs(a[k] / scale))) << n << " " << d;
    }
   }
  }
  // A cloud whose last point repeats the first is the same loop.
  std::vector<float> x = {0, 1, 1, 0, 0}, y = {0, 0, 1, 1, 0}, z(5, 0.0f);
  Owned<Cloud, FreeCloud> square(MakeCld(x.data(), y.data(), z.data(), 5, nullptr));
  Bspline* sq = keep(InterpCurve3(square.get(), 1, 3));
  ASSERT_NE(sq, nullptr);
  EXPECT_EQ(NumCtrlU(sq), 4 + 3);
  Owned<Cloud, FreeCloud> three(Loop(3, 1.0));
  EXPECT_EQ(InterpCurve3(three.get(), 1, 3), nullptr);
  EXPECT_EQ(InterpCurve3(nullptr, 0, 3), nullptr);
  Owned<Cloud, FreeCloud> cloud(Loop(12, 1.0));
  const int failures = RunMakerWithInjectedFailures(120, 3, [&](Bspline** out) {
    *out = InterpCurve3(cloud.get(), 1, 3);
    return *out ? 0 : -2;
  });
  EXPECT_GT(failures, 5);
}

TEST_F(CurveInterpTest, LinesCarryTheirExactForm) {
  BsplineKeeper keep;
  double p0[3] = {1, 2, 3}, p1[3] = {-4, 0.5, 7};
  Bspline* line = keep(InterpolateLineCurve3(p0, p1));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->quadricType, 1);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(line->quadric->v[k], p0[k]);
    EXPECT_EQ(line->quadric->v[3 + k], p1[k]);
  }
  double a[3], b[3], m[3];
  RefEvalCurve(line, line->umin, a);
  RefEvalCurve(line, line->umax, b);
  RefEvalCurve(line, 0.5 * (line->umin + line->umax), m);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(a[k], p0[k], 1e-12);
    EXPECT_NEAR(b[k], p1[k], 1e-12);
    EXPECT_NEAR(m[k], 0.5 * (p0[k] + p1[k]), 1e-12);  // straight and evenly run
  }
  double bad[3] = {0, NAN, 0};
  EXPECT_EQ(InterpolateLineCurve3(p0, bad), nullptr);
}

}  // namespace
