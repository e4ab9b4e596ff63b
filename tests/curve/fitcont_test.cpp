// Fits with end continuity: a curve continuing a neighbour in position, tangent and curvature,
// given end tangents, conditions lowered for straight neighbours and curves, knots inserted when
// the ends claim too many control points, closed fits, and the caller's clouds left alone.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "curve/fitcurve.h"
#include "foundation/cloudrec.h"
#include "foundation/umalloc.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ContinuityFitTest : public KernelTest {};

// One wavy cubic on [0, 2]: its first half is the neighbour, points of its second half the cloud.
Bspline* Whole() {
  return BuildCurve(3, 3, {0, 0, 0, 1, 1, 0.2, 2, -0.5, 0.4, 3, 0.8, 0, 4, 0, -0.3, 5, 0.6, 0.1, 6, 0, 0},
                    {0, 0, 0, 0, 0.5, 1, 1.5, 2, 2, 2, 2});
}

Cloud* SampleCloud(const Bspline* c, double t0, double t1, int n) {
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    double p[3];
    RefEvalCurve(c, t0 + (t1 - t0) * i / (n - 1), p);
    x[i] = float(p[0]), y[i] = float(p[1]), z[i] = float(p[2]);
  }
  return MakeCld(x.data(), y.data(), z.data(), n, nullptr);
}

double Angle(const double a[3], const double b[3]) {
  const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const double na = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  return std::acos(std::clamp(dot / (na * nb), -1.0, 1.0));
}

double Curvature(const Bspline* c, double t) {
  double d1[3], d2[3];
  RefEvalDeriv(c, t, 0, 1, 0, d1);
  RefEvalDeriv(c, t, 0, 2, 0, d2);
  const double cx = d1[1] * d2[2] - d1[2] * d2[1], cy = d1[2] * d2[0] - d1[0] * d2[2],
               cz = d1[0] * d2[1] - d1[1] * d2[0];
  return std::sqrt(cx * cx + cy * cy + cz * cz) / std::pow(std::hypot(d1[0], d1[1], d1[2]), 3);
}

// The fit of one cloud; the caller owns the result.
Bspline* FitOne(Cloud* cloud, int closed, int nCtrl, int cont[2], Bspline* nbs[2], double param[2],
                double tangent[2][3] = nullptr) {
  double scale[2] = {1, 1};
  Cloud* clouds[1] = {cloud};
  Bspline** fits = FitCurveWContinuity(clouds, 1, closed, nCtrl, 3, cont, nbs, param, scale, tangent,
                                       0.3, 0.7, 0.01, 1);
  if (!fits) return nullptr;
  Bspline* f = fits[0];
  Free(fits);
  return f;
}

TEST_F(ContinuityFitTest, FitContinuesItsNeighbourAtEitherOfItsEnds) {
  BsplineKeeper keep;
  Bspline* whole = keep(Whole());
  Bspline* half = keep(ExtractParamRange(whole, 0, 0.0, 1.0));
  Bspline* back = keep(ExtractParamRange(whole, 0, 1.0, 0.0));  // the joint at its start
  Owned<Cloud, FreeCloud> cloud(SampleCloud(whole, 1.0, 2.0, 150));
  double joint[3], along[3];
  RefEvalCurve(whole, 1.0, joint);
  RefEvalDeriv(whole, 1.0, 0, 1, 0, along);
  for (Bspline* nb : {half, back}) {
    double kappaError[4] = {0, 0, 0, 0};
    for (int c = 1; c <= 3; ++c) {
      int cont[2] = {c, -1};
      Bspline* nbs[2] = {nb, nullptr};
      // Parameters near the joint, not on it: the nearer end is taken.
      double param[2] = {nb == half ? 0.9 : back->umin + 0.1, 0};
      Bspline* f = keep(FitOne(cloud.get(), 0, 8, cont, nbs, param));
      ASSERT_NE(f, nullptr);
      double p[3], tp[3];
      RefEvalCurve(f, f->umin, p);
      RefEvalDeriv(f, f->umin, 0, 1, 0, tp);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], joint[k], 1e-12) << c;
      if (c >= 2) {
        EXPECT_LT(Angle(tp, along), 1e-9) << c;
      }
      kappaError[c] = std::fabs(Curvature(f, f->umin) - Curvature(whole, 1.0));
      // The rest follows the cloud.
      double wt, wd;
      int wi;
      ASSERT_EQ(FindCurveBsplineCloudMaxDiff(f, cloud.get(), &wt, &wd, &wi), 0);
      EXPECT_LT(std::sqrt(wd), 0.05) << c;
    }
    EXPECT_LT(kappaError[3], kappaError[2]);
  }
  EXPECT_NE(Messages().find("Fitting curve 1 of 1 ..."), std::string::npos);
}

TEST_F(ContinuityFitTest, ConditionsAreLoweredOrMadeRoomFor) {
  BsplineKeeper keep;
  Bspline* whole = keep(Whole());
  Owned<Cloud, FreeCloud> cloud(SampleCloud(whole, 1.0, 2.0, 60));
  // A straight neighbour has no curvature to pass on: its end is lowered to tangency in the
  // caller's array; the other end is joined to a cubic in curvature.
  Bspline* line = keep(BuildCurve(1, 3, {-1, 0, 0, 0, 0, 0}));
  double start[3];
  RefEvalCurve(whole, 1.0, start);
  for (int k = 0; k < 3; ++k) line->X[0][1] = start[0], line->Y[0][1] = start[1], line->Z[0][1] = start[2];
  Bspline* tail = keep(ExtractParamRange(whole, 0, 2.0, 1.5));  // joint at its start
  int cont[2] = {3, 3};
  Bspline* nbs[2] = {line, tail};
  double param[2] = {1.0, tail->umin};
  // Four control points cannot hold 2 + 3: one knot goes in.
  Bspline* f = keep(FitOne(cloud.get(), 0, 4, cont, nbs, param));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(cont[0], 2);
  EXPECT_EQ(cont[1], 3);
  EXPECT_EQ(NumCtrlU(f), 5);
  // Both ends at 3 on four control points: six.
  int both[2] = {3, 3};
  Bspline* nb2[2] = {tail, tail};
  double par2[2] = {tail->umin, tail->umin};
  Bspline* g = keep(FitOne(cloud.get(), 0, 4, both, nb2, par2));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(NumCtrlU(g), 6);
}

TEST_F(ContinuityFitTest, GivenEndTangentsHoldTwoControlPointsEachEnd) {
  BsplineKeeper keep;
  Bspline* whole = keep(Whole());
  Owned<Cloud, FreeCloud> cloud(SampleCloud(whole, 0.0, 2.0, 90));
  int cont[2] = {4, 4};
  double tangent[2][3] = {{0, 2, 0}, {0, 0, -1}}, param[2] = {0, 0};
  Bspline* nbs[2] = {nullptr, nullptr};
  Bspline* f = keep(FitOne(cloud.get(), 0, 10, cont, nbs, param, tangent));
  ASSERT_NE(f, nullptr);
  // s_e = scale x chord length / (3 (m + 1)), m = 6 interior knots.
  std::vector<double> t(90);
  const double length = normalize_tarray3(cloud->x, cloud->y, cloud->z, 90, t.data());
  const double s = length / 21.0;
  EXPECT_EQ(f->X[0][0], cloud->x[0]);
  EXPECT_NEAR(f->Y[0][1], cloud->y[0] + 2 * s, 1e-12);
  EXPECT_EQ(f->X[0][1], cloud->x[0]);
  EXPECT_EQ(f->Z[0][9], cloud->z[89]);
  EXPECT_NEAR(f->Z[0][8], cloud->z[89] - s, 1e-12);
}

TEST_F(ContinuityFitTest, ClosedFitsLeaveTheCallersCloudAlone) {
  BsplineKeeper keep;
  const int n = 80;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    x[i] = float(std::cos(a)), y[i] = float(0.7 * std::sin(a)), z[i] = float(0.1 * std::cos(3 * a));
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), n, nullptr));
  Owned<Cloud, FreeCloud> tiny(MakeCld(x.data(), y.data(), z.data(), 1, nullptr));
  int cont[2] = {-1, -1};
  Cloud* clouds[2] = {cloud.get(), tiny.get()};
  double scale[2] = {1, 1};
  Bspline** fits = FitCurveWContinuity(clouds, 2, 1, 12, 3, cont, nullptr, nullptr, scale, nullptr,
                                       0.3, 0.7, 0.01, 0);
  ASSERT_NE(fits, nullptr);
  Bspline* f = keep(fits[0]);
  EXPECT_EQ(fits[1], nullptr);  // one point: nothing to fit
  Free(fits);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->closedU, 3);
  EXPECT_EQ(cloud->npts, n);  // not wrapped in place
  EXPECT_EQ(cloud->x[0], x[0]);
  EXPECT_EQ(f->fitProps.flag, 1);
  EXPECT_EQ(f->fitProps.tension, 0.7);
  double a[3], b[3];
  RefEvalCurve(f, f->umin, a);
  RefEvalCurve(f, f->umax, b);
  EXPECT_NEAR(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 0.0, 1e-12);
  double wt, wd;
  int wi;
  ASSERT_EQ(FindCurveBsplineCloudMaxDiff(f, cloud.get(), &wt, &wd, &wi), 0);
  EXPECT_LT(std::sqrt(wd), 0.02);
  // A fit that fails (roughness 0 is refused) leaves its entry null, not a curve of undefined
  // control points.
  Bspline** failed = FitCurveWContinuity(clouds, 1, 0, 12, 3, cont, nullptr, nullptr, scale,
                                         nullptr, 0.0, 0.7, 0.01, 0);
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed[0], nullptr);
  Free(failed);
  // Allocation failures: a null array or null entries, nothing left behind.
  const int failures = RunWithInjectedFailures(300, 7, [&] {
    Bspline** r = FitCurveWContinuity(clouds, 2, 1, 12, 3, cont, nullptr, nullptr, scale, nullptr,
                                      0.3, 0.7, 0.01, 0);
    if (!r) return -2;
    const int ok = r[0] != nullptr;
    FreeBsplineArray(r, 2);
    return ok ? 0 : -2;
  });
  EXPECT_GT(failures, 10);
}

TEST_F(ContinuityFitTest, NeighbourEndsGoIntoACopyOfTheCloud) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildCurve(1, 3, {-2, 0, 0, -1, 0, 0}));
  Bspline* b = keep(BuildCurve(1, 3, {9, 0, 0, 5, 1, 0}));
  const float x[2] = {0, 3}, y[2] = {0, 0}, z[2] = {0, 0};
  Owned<Cloud, FreeCloud> cloud(MakeCld(x, y, z, 2, nullptr));
  int cont[2] = {1, 1};
  Bspline* nbs[2] = {a, b};
  double param[2] = {0.9, 0.6};  // a's end (-1, 0, 0); b's end (5, 1, 0)
  Owned<Cloud, FreeCloud> more(InsertContinuityPoints(cloud.get(), cont, param, nbs));
  ASSERT_NE(more.get(), nullptr);
  ASSERT_EQ(more->npts, 4);
  EXPECT_EQ(more->x[0], -1.0f);
  EXPECT_EQ(more->x[1], 0.0f);
  EXPECT_EQ(more->x[3], 5.0f);
  EXPECT_EQ(more->y[3], 1.0f);
  EXPECT_EQ(cloud->npts, 2);
  // Halfway: a tie takes the neighbour's end.
  double tie[2] = {0.5, 0.5};
  Owned<Cloud, FreeCloud> tied(InsertContinuityPoints(cloud.get(), cont, tie, nbs));
  EXPECT_EQ(tied->x[0], -1.0f);
}

TEST_F(ContinuityFitTest, EndPiecesOfCurvesOnSurfacesIn3D) {
  BsplineKeeper keep;
  PatchOptions o;
  Bspline* srf = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * y; }, o));
  Bspline* c2 = BuildCurveOnSurface(srf, 3, {0.1, 0.1, 0.3, 0.5, 0.5, 0.2, 0.7, 0.8, 0.9, 0.6, 0.95, 0.9},
                                    {0, 0, 0, 0, 0.3, 0.7, 1, 1, 1, 1});
  for (int atEnd : {0, 1}) {
    Bspline* piece = keep(Get2SpanCurve3ForCurve2(c2, atEnd));
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(piece->dimension, 3);
    // Its far end lies on the surface at the 2D curve's end.
    double uv[3], s[3], p[3];
    RefEvalCurve(c2, atEnd ? 1.0 : 0.0, uv);
    RefEvalSurface(srf, uv[0], uv[1], s);
    RefEvalCurve(piece, atEnd ? piece->umax : piece->umin, p);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], s[k], 1e-6) << atEnd;
  }
  Bspline* free3 = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 1, 1}));
  EXPECT_EQ(Get2SpanCurve3ForCurve2(free3, 0), nullptr);
}

}  // namespace
