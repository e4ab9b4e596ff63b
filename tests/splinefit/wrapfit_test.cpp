// Wrapped (unclamped) directions made clamped: the same shape on the domain, the same number of
// control points, clamped knots, and the object untouched when memory fails.
#include <cmath>
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "splinefit/wrapfit.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class WrapTest : public KernelTest {};

// n scattered coordinates in [-1, 1].
std::vector<double> Points(int n, double seed) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = std::sin(12.9898 * i + seed);
  return v;
}

// The knots a, a + 1, ..., a + n - 1.
std::vector<double> Steps(double a, int n) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = a + i;
  return v;
}

TEST_F(WrapTest, WrappedDirectionsBecomeClampedKeepingTheShape) {
  std::vector<double> w(42, 1.0);
  w[10] = 2.0, w[23] = 0.5;
  const struct {
    Bspline* obj;
    int dir;
  } cases[] = {
      {BuildCurve(3, 3, Points(21, 1), Steps(0.0, 11)), 0},  // uniform periodic
      {BuildCurve(3, 3, Points(21, 1), Steps(0.0, 11), {1.0, 0.5, 2.0, 1.5, 0.8, 1.2, 1.0}), 0},
      {BuildCurve(3, 3, Points(21, 2), {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7}), 0},  // one end only
      {BuildSurface(2, 3, 6, 7, Points(126, 4), Steps(0.0, 9), {}, w), 0},
      {BuildSurface(2, 3, 6, 7, Points(126, 5), {}, Steps(-2.0, 11), w), 1}};
  for (const auto& c : cases) {
    Bspline* b = c.obj;
    Bspline* before = CopyBsplineStruct(b);
    const int n = NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1);
    const std::vector<double> other(b->knotsU, b->knotsU + (c.dir ? NumKnotsU(b) : 0));
    ASSERT_EQ(PutWrapedObjToNonWraped(b, c.dir, 0), 8);
    EXPECT_EQ(CheckBspline(b, 1e-9), 0);
    EXPECT_EQ(NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1), n);
    EXPECT_LT(ShapeDiff(b, before), 1e-12);
    FreeBspline(before);
    EXPECT_EQ(other, std::vector<double>(b->knotsU, b->knotsU + (c.dir ? NumKnotsU(b) : 0)));
    EXPECT_EQ(PutWrapedObjToNonWraped(b, c.dir, 0), 0);  // already clamped: nothing to do
  }
  EXPECT_EQ(std::vector<double>(cases[1].obj->knotsU, cases[1].obj->knotsU + 11),
            (std::vector<double>{3, 3, 3, 3, 4, 5, 6, 7, 7, 7, 7}));
  EXPECT_EQ(cases[2].obj->umax, 4.0);
  for (const auto& c : cases) FreeBspline(c.obj);
}

TEST_F(WrapTest, AveragedEndsCoincideAndFailuresLeaveTheObject) {
  Bspline* c = BuildCurve(3, 3, Points(27, 5), Steps(0.0, 13));
  const std::vector<double> before = Snapshot(c);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    const int r = PutWrapedObjToNonWraped(c, 0, 1);
    EXPECT_TRUE(r >= 0 || (r == -2 && Snapshot(c) == before)) << r;  // 0 once converted
    return r >= 0 ? 0 : -2;
  });
  EXPECT_TRUE(failures > 3 && failures < 60) << failures;
  const int n = NumCtrlU(c);
  EXPECT_TRUE(c->X[0][0] == c->X[0][n - 1] && c->Z[0][0] == c->Z[0][n - 1]);
  FreeBspline(c);
}

}  // namespace

// ---- Closed curves by wrapping ----------------------------------------------------------------
#include "cloud/makecld.h"
#include "splinefit/intrplt.h"

namespace {

class ClosedCurves : public KernelTest {};

// n points of the ellipse x = 2 cos, y = sin at z = 0.5; with the first point repeated at the end
// when closed.
Cloud* Ellipse(int n, bool closed, double size = 1.0) {
  std::vector<float> x, y, z;
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n + 0.1 * std::sin(3.0 * i);
    x.push_back(float(size * 2.0 * std::cos(a)));
    y.push_back(float(size * std::sin(a)));
    z.push_back(float(size * 0.5));
  }
  if (closed) x.push_back(x[0]), y.push_back(y[0]), z.push_back(z[0]);
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

TEST_F(ClosedCurves, WrappedLayoutsCopyTheEndsAroundTheSeam) {
  for (bool closed : {true, false}) {
    Cloud* c = Ellipse(9, closed);
    const std::vector<float> x(c->x, c->x + c->npts);
    EXPECT_EQ(InitClosedCurve(c, 3, 0, nullptr), closed ? 1 : 0);
    ASSERT_EQ(c->npts, closed ? 16 : 17);
    const int n = int(x.size());
    for (int k = 0; k < 4; ++k) EXPECT_EQ(c->x[k], x[n - 4 + k]);          // the tail in front
    for (int k = 0; k < 4; ++k) EXPECT_EQ(c->x[c->npts - 4 + k], x[k]);    // the head behind
    EXPECT_EQ(c->x[4], closed ? x[1] : x[0]);  // a closed middle copy skips P0
    FreeCloud(c);
  }
}

// Whether the ends meet is judged against the points' size: an open ellipse 1e-6 across is not
// closed, nor is a closed one 1e6 across open.
TEST_F(ClosedCurves, EndsMeetRelativeToTheSize) {
  for (double size : {1e-6, 1e6})
    for (bool closed : {true, false}) {
      Cloud* c = Ellipse(9, closed, size);
      EXPECT_EQ(InitClosedCurve(c, 3, 0, nullptr), closed ? 1 : 0) << size;
      EXPECT_EQ(c->npts, closed ? 16 : 17);
      FreeCloud(c);
    }
}

// The layout on its own: tail in front, the sequence (a closed one without its seam copies),
// head behind; four at each end is what the cubic wrap uses.
TEST_F(ClosedCurves, WrappedArraysAreTheLayoutTheCubicWrapUses) {
  for (bool closed : {true, false}) {
    Cloud* c = Ellipse(9, closed);
    const int n = c->npts;
    const std::vector<float> x(c->x, c->x + n), y(c->y, c->y + n);
    std::vector<float> wx(n + 8), wy(n + 8), wz(n + 8);
    int count = -1;
    MakeWrapedArrays(c, wx.data(), wy.data(), wz.data(), 2, 3, closed, &count);
    const int mid = closed ? n - 2 : n;
    ASSERT_EQ(count, 3 + mid + 2);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(wx[k], x[n - 3 + k]) << k;
    for (int k = 0; k < mid; ++k) EXPECT_EQ(wy[3 + k], y[k + (closed ? 1 : 0)]) << k;
    for (int k = 0; k < 2; ++k) EXPECT_EQ(wx[3 + mid + k], x[k]) << k;

    MakeWrapedArrays(c, wx.data(), wy.data(), wz.data(), 4, 4, closed, &count);
    EXPECT_EQ(InitClosedCurve(c, 3, 0, nullptr), closed ? 1 : 0);
    ASSERT_EQ(c->npts, count);
    wx.resize(count), wz.resize(count);
    EXPECT_EQ(std::vector<float>(c->x, c->x + count), wx);
    EXPECT_EQ(std::vector<float>(c->z, c->z + count), wz);
    FreeCloud(c);
  }
}

TEST_F(ClosedCurves, WrappedParametersRiseThroughTheSeam) {
  for (bool closed : {true, false}) {
    Cloud* c = Ellipse(20, closed);
    double* t = nullptr;
    EXPECT_EQ(InitClosedCurve(c, 3, 8, &t), 1);  // an open sequence is closed first
    ASSERT_NE(t, nullptr);
    for (int i = 1; i < c->npts; ++i) EXPECT_LT(t[i - 1], t[i]) << i;
    EXPECT_LT(t[0], 0.0);
    EXPECT_GT(t[c->npts - 1], 1.0);
    Free(t);
    FreeCloud(c);
  }
}

TEST_F(ClosedCurves, InterpolatedWrappedPointsEndAsAClampedClosedCurve) {
  for (bool closed : {true, false}) {
    Cloud* c = Ellipse(24, closed);
    const std::vector<float> x(c->x, c->x + 24), y(c->y, c->y + 24);
    const int flag = InitClosedCurve(c, 3, 0, nullptr);
    Bspline* crv = CurveIntrplt_f(c->x, c->y, c->z, c->npts - 1, nullptr, 3, 0);
    ASSERT_NE(crv, nullptr);
    ASSERT_EQ(EndClosedCurve(crv, 3, flag), 8);
    EXPECT_EQ(crv->closedU, 3);
    EXPECT_EQ(CheckBspline(crv, 1e-9), 0);  // clamped
    const int last = NumCtrlU(crv) - 1;
    EXPECT_EQ(crv->X[0][0], crv->X[0][last]);
    EXPECT_EQ(crv->Y[0][0], crv->Y[0][last]);
    EXPECT_EQ(crv->umin, 0.0);
    // Close to every given point.
    for (int i = 0; i < 24; ++i) {
      double best = 1e300;
      for (int k = 0; k <= 4000; ++k) {
        double q[3];
        RefEvalCurve(crv, crv->umin + (crv->umax - crv->umin) * k / 4000.0, q);
        best = std::min(best, std::hypot(q[0] - x[i], q[1] - y[i], q[2] - 0.5));
      }
      EXPECT_LT(best, 1e-2) << closed << " " << i;
    }
    FreeBspline(crv);
    FreeCloud(c);
  }
}

TEST_F(ClosedCurves, TooFewPointsAreRefusedAndTheCloudStays) {
  // Regression: three points wrapped for a cubic read before the first point.
  Cloud* c = Ellipse(3, false);
  float* x = c->x;
  const std::vector<float> before(c->x, c->x + 3);
  EXPECT_EQ(InitClosedCurve(c, 3, 0, nullptr), 0);
  EXPECT_EQ(zk_error_status, -2);
  EXPECT_EQ(c->x, x);
  EXPECT_EQ(c->npts, 3);
  EXPECT_EQ(std::vector<float>(c->x, c->x + 3), before);
  FreeCloud(c);
}

TEST_F(ClosedCurves, InjectedFailuresLeaveTheCloudWhole) {
  Cloud* clean = Ellipse(12, false);
  double* t0 = nullptr;
  InitClosedCurve(clean, 3, 5, &t0);
  const int wrapped = clean->npts;
  Free(t0);
  FreeCloud(clean);
  RunWithInjectedFailures(200, 1, [&] {
    Cloud* c = Ellipse(12, false);
    if (!c) return -2;
    double* t = nullptr;
    InitClosedCurve(c, 3, 5, &t);
    const bool failed = KernelFailed();
    EXPECT_EQ(c->npts, failed ? 12 : wrapped) << failed;
    Free(t);
    FreeCloud(c);
    return failed ? -2 : 0;
  });
}

}  // namespace

namespace {

class ClosedCurveFailures : public KernelTest {};

TEST_F(ClosedCurveFailures, AFailedEndLeavesTheCurveAsItWas) {
  Cloud* c = Ellipse(16, false);
  const int flag = InitClosedCurve(c, 3, 0, nullptr);
  Bspline* proto = CurveIntrplt_f(c->x, c->y, c->z, c->npts - 1, nullptr, 3, 0);
  ASSERT_NE(proto, nullptr);
  RunWithInjectedFailures(200, 1, [&] {
    Bspline* crv = CopyBsplineStruct(proto);
    if (!crv) return -2;
    const int r = EndClosedCurve(crv, 3, flag);
    if (r != 8) {
      EXPECT_EQ(NumCtrlU(crv), NumCtrlU(proto));
      EXPECT_LT(ShapeDiff(crv, proto), 1e-15);
    }
    FreeBspline(crv);
    return r == 8 ? 0 : -2;
  });
  FreeBspline(proto);
  FreeCloud(c);
}

}  // namespace
