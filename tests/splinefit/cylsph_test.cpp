// Cylindrical and spherical fits: the largest empty sector on hand-made bin patterns, the seam
// moved into it (or not), tubes and balls fitted with the radius they have, a fit closed in u
// whose first control columns repeat its last, one radius at a pole, and injected failures
// through the wrapped fit that leave nothing behind and the cloud as it was.
#include <cmath>
#include <cstring>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "splinefit/acyleng.h"
#include "splinefit/aspheng.h"
#include "splinefit/cylfit.h"
#include "splinefit/fitsplin.h"
#include "splinefit/sphfit.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CylSphFit : public KernelTest {};

constexpr double kDeg = M_PI / 180;

struct Points {
  std::vector<float> x, y, z;
  Cloud* Make() const { return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr); }
};

// Points on the cylinder of radius R about z, angles a0 .. a1 degrees (may run past 360),
// heights 0 .. H, jittered so no two rows align.
Points Tube(double R, double a0, double a1, double H, int na = 40, int nh = 12) {
  Points P;
  for (int j = 0; j < nh; ++j)
    for (int i = 0; i < na; ++i) {
      const double a = (a0 + (a1 - a0) * (i + 0.25 * std::sin(1.7 * j)) / (na - 1)) * kDeg;
      const double h = H * (j + 0.3 * std::cos(2.1 * i)) / (nh - 1);
      P.x.push_back(float(R * std::cos(a))), P.y.push_back(float(R * std::sin(a))), P.z.push_back(float(h));
    }
  return P;
}

// Largest distance of the surface from the axis-z cylinder of radius R.
double WorstRadiusError(const Bspline* s, double R) {
  double worst = 0;
  for (int a = 0; a <= 20; ++a)
    for (int b = 0; b <= 20; ++b) {
      double P[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * a / 20, s->vmin + (s->vmax - s->vmin) * b / 20, P);
      worst = std::max(worst, std::fabs(std::hypot(P[0], P[1]) - R));
    }
  return worst;
}

TEST_F(CylSphFit, LargestEmptySlotOnHandMadeBins) {
  int first = -1, last = -1;
  const int a[6] = {0, 5, 0, 0, 7, 0};
  ASSERT_EQ(FindLargestEmptySlotInArray(a, 6, 1, &first, &last), 0);
  EXPECT_TRUE(first == 2 && last == 3);  // the wrapped run only ties
  const int b[4] = {0, 0, 5, 0};
  ASSERT_EQ(FindLargestEmptySlotInArray(b, 4, 1, &first, &last), 0);
  EXPECT_TRUE(first == 3 && last == 1);  // wrapped: last < first
  ASSERT_EQ(FindLargestEmptySlotInArray(b, 4, 0, &first, &last), 0);
  EXPECT_TRUE(first == 0 && last == 1);
  const int full[3] = {1, 2, 3}, none[3] = {0, 0, 0}, tie[7] = {1, 0, 0, 1, 0, 0, 1};
  ASSERT_EQ(FindLargestEmptySlotInArray(full, 3, 1, &first, &last), 0);
  EXPECT_TRUE(first == 0 && last == 0);
  ASSERT_EQ(FindLargestEmptySlotInArray(none, 3, 1, &first, &last), 0);
  EXPECT_TRUE(first == 0 && last == 2);
  ASSERT_EQ(FindLargestEmptySlotInArray(tie, 7, 1, &first, &last), 0);
  EXPECT_TRUE(first == 1 && last == 2);  // the earliest of equal runs
  EXPECT_EQ(FindLargestEmptySlotInArray(nullptr, 3, 1, &first, &last), -2);
  EXPECT_EQ(FindLargestEmptySlotInArray(full, 1, 1, &first, &last), -2);
}

TEST_F(CylSphFit, SeamMovesIntoTheEmptySectorAndTheBackTransformUndoesIt) {
  // Data from 300 through 0 to 60 degrees: the empty sector 60 .. 299 takes the seam.
  const Points P = Tube(2.0, 300, 420, 3.0);
  Cloud* cloud = P.Make();
  Xform back;
  Cloud* canon = ConvertToCylindricalCloud(cloud, 2, back);
  ASSERT_NE(canon, nullptr);
  // The jitter moves the data's ends by up to a degree: the sector's last bin is 298 or 299.
  EXPECT_GT(canon->grid.colOrigin, 0.0);
  EXPECT_LT(canon->grid.colOrigin, 2.5 * kDeg);
  EXPECT_NEAR(canon->grid.colStep, 121 * kDeg, 2 * kDeg);
  for (int i = 0; i < canon->npts; i += 37) {
    // Canonical (theta, h, r) mapped back lands on the data point.
    const double q[3] = {canon->z[i] * std::cos(canon->x[i]), canon->z[i] * std::sin(canon->x[i]), canon->y[i]};
    double p[3];
    VecTrans3(q, back, p);
    EXPECT_NEAR(p[0], P.x[i], 1e-5);
    EXPECT_NEAR(p[1], P.y[i], 1e-5);
    EXPECT_NEAR(p[2], P.z[i], 1e-5);
  }
  FreeCloud(canon);
  FreeCloud(cloud);
  // A gap of about 10 degrees is not worth a move.
  const Points Q = Tube(2.0, 5, 355, 1.0, 80, 4);
  cloud = Q.Make();
  canon = ConvertToCylindricalCloud(cloud, 2, back);
  ASSERT_NE(canon, nullptr);
  EXPECT_NEAR(canon->grid.colOrigin, 5 * kDeg, 1.5 * kDeg);
  FreeCloud(canon);
  FreeCloud(cloud);
}

TEST_F(CylSphFit, TubesFitTheirRadiusOpenOrClosed) {
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.Roughness = 1e6;
  BsplineKeeper keep;
  const Points open = Tube(2.0, 300, 420, 3.0);
  Cloud* c1 = open.Make();
  Bspline* s = keep(CylFitBsplSrf(c1, params, 2));
  ASSERT_NE(s, nullptr);
  EXPECT_LT(WorstRadiusError(s, 2.0), 2e-3);
  FreeCloud(c1);
  // The whole turn, wrapped: the canonical surface is closed in u, its first p columns equal its
  // last p, and the Cartesian surface meets itself along the seam.
  const Points ring = Tube(1.5, 0, 354, 2.0, 60, 10);
  Cloud* c2 = ring.Make();
  params.WrapU = 1;
  params.NumCntrlU = 20;  // the Cartesian surface interpolates 20 samples around the turn
  Xform back;
  Cloud* canon = ConvertToCylindricalCloud(c2, 2, back);
  ASSERT_NE(canon, nullptr);
  Bspline* canonSrf = keep(FitCanonicalCylCldSrfBspline(canon, nullptr, params));
  ASSERT_NE(canonSrf, nullptr);
  EXPECT_EQ(canonSrf->closedU, 1);
  const int p = canonSrf->degreeU, nU = NumCtrlU(canonSrf);
  for (int j = 0; j < NumCtrlV(canonSrf); ++j)
    for (int k = 0; k < p; ++k) EXPECT_EQ(canonSrf->Z[j][k], canonSrf->Z[j][nU - p + k]);
  EXPECT_NEAR(canonSrf->knotsU[p], 0.0, 1e-12);
  EXPECT_NEAR(canonSrf->knotsU[nU], 2 * M_PI, 1e-12);
  EXPECT_LT(canonSrf->knotsU[0], canonSrf->knotsU[1]);  // unclamped
  FreeCloud(canon);
  Bspline* closed = keep(CylFitBsplSrf(c2, params, 2));
  ASSERT_NE(closed, nullptr);
  EXPECT_LT(WorstRadiusError(closed, 1.5), 5e-3);
  for (int b = 0; b <= 4; ++b) {
    double A[3], B[3];
    const double v = closed->vmin + (closed->vmax - closed->vmin) * b / 4;
    RefEvalSurface(closed, closed->umin, v, A);
    RefEvalSurface(closed, closed->umax, v, B);
    EXPECT_NEAR(std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]), 0.0, 1e-9);
  }
  // About the x axis: the same tube turned.
  Points turned = open;
  for (size_t i = 0; i < turned.x.size(); ++i) std::swap(turned.x[i], turned.z[i]);
  Cloud* c3 = turned.Make();
  params.WrapU = 0;
  Bspline* sx = keep(CylFitBsplSrf(c3, params, 0));
  ASSERT_NE(sx, nullptr);
  double worst = 0;
  for (int a = 0; a <= 10; ++a) {
    double P[3];
    RefEvalSurface(sx, sx->umin + (sx->umax - sx->umin) * a / 10, 0.5 * (sx->vmin + sx->vmax), P);
    worst = std::max(worst, std::fabs(std::hypot(P[1], P[2]) - 2.0));
  }
  EXPECT_LT(worst, 2e-3);
  FreeCloud(c2);
  FreeCloud(c3);
}

TEST_F(CylSphFit, BallsFitTheirRadiusAndPolesGetOneRadius) {
  Points P;
  const double c[3] = {1, 2, 3};
  for (int j = 0; j < 14; ++j)
    for (int i = 0; i < 30; ++i) {
      const double phi = (20 + 140.0 * (j + 0.2 * std::sin(i)) / 13) * kDeg, th = (10 + 200.0 * i / 29) * kDeg;
      P.x.push_back(float(c[0] + 3 * std::cos(th) * std::sin(phi)));
      P.y.push_back(float(c[1] + 3 * std::sin(th) * std::sin(phi)));
      P.z.push_back(float(c[2] + 3 * std::cos(phi)));
    }
  Cloud* cloud = P.Make();
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.Roughness = 1e6;
  BsplineKeeper keep;
  Bspline* s = keep(SphFitBsplSrf(cloud, params, c[0], c[1], c[2]));
  ASSERT_NE(s, nullptr);
  double worst = 0;
  for (int a = 0; a <= 12; ++a)
    for (int b = 0; b <= 12; ++b) {
      double Q[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * a / 12, s->vmin + (s->vmax - s->vmin) * b / 12, Q);
      worst = std::max(worst, std::fabs(std::hypot(Q[0] - c[0], Q[1] - c[1], Q[2] - c[2]) - 3.0));
    }
  EXPECT_LT(worst, 5e-3);
  FreeCloud(cloud);
  // The whole ball, wrapped in theta and reaching both poles.
  Points W;
  for (int j = 0; j <= 16; ++j)
    for (int i = 0; i < 36; ++i) {
      const double phi = M_PI * j / 16, th = (i + 0.5 * (j % 2)) * 10 * kDeg;
      W.x.push_back(float(3 * std::cos(th) * std::sin(phi)));
      W.y.push_back(float(3 * std::sin(th) * std::sin(phi)));
      W.z.push_back(float(3 * std::cos(phi)));
    }
  cloud = W.Make();
  params.WrapU = 1, params.NumCntrlU = 20;
  Bspline* ball = keep(SphFitBsplSrf(cloud, params, 0, 0, 0));
  ASSERT_NE(ball, nullptr);
  worst = 0;
  for (int a = 0; a <= 12; ++a)
    for (int b = 0; b <= 12; ++b) {
      double Q[3];
      RefEvalSurface(ball, ball->umin + (ball->umax - ball->umin) * a / 12, ball->vmin + (ball->vmax - ball->vmin) * b / 12, Q);
      worst = std::max(worst, std::fabs(std::hypot(Q[0], Q[1], Q[2]) - 3.0));
    }
  EXPECT_LT(worst, 0.02);
  FreeCloud(cloud);
  // Points within 0.01 of the pole all take the mean radius of those points.
  Points pole{{0.1f, 0.2f, 0.3f, 1.0f}, {0.001f, 0.005f, 0.5f, 3.1f}, {2.0f, 4.0f, 7.0f, 9.0f}};
  Cloud* canon = pole.Make();
  Bspline* rec = keep(MallocInitSurfaceBspline());
  rec->vmin = 0.0, rec->vmax = M_PI;
  equalize_sparse_pole(1, 1, rec, canon);
  EXPECT_EQ(canon->z[0], 3.0f);
  EXPECT_EQ(canon->z[1], 3.0f);
  EXPECT_EQ(canon->z[2], 7.0f);
  EXPECT_EQ(canon->z[3], 9.0f);  // within 0.01 of pi only by 0.04: left alone
  FreeCloud(canon);
}

TEST_F(CylSphFit, InjectedFailuresThroughTheWrappedFitLeaveNothing) {
  const Points ring = Tube(1.0, 0, 350, 1.0, 16, 5);
  Cloud* cloud = ring.Make();
  const std::vector<float> x(cloud->x, cloud->x + cloud->npts);
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.WrapU = 1, params.NumCntrlU = 6, params.NumCntrlV = 5;
  const int failures = RunWithInjectedFailures(900, 11, [&] {
    Bspline* s = CylFitBsplSrf(cloud, params, 2);
    EXPECT_EQ(std::memcmp(x.data(), cloud->x, sizeof(float) * x.size()), 0);
    EXPECT_EQ(cloud->npts, int(x.size()));
    if (!s) return -2;
    FreeBspline(s);
    return 0;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 82);
  FreeCloud(cloud);
}


TEST_F(CylSphFit, FrontEndTypesPickTheFitAndTheOlderEntryTakesType2AsCylindrical) {
  const Points open = Tube(2.0, 300, 420, 3.0, 20, 8);
  Cloud* cloud = open.Make();
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.NumCntrlU = 8, params.NumCntrlV = 6;
  BsplineKeeper keep;
  Bspline* cyl = keep(NewFitSplineSurfaceGeometry(cloud, 1, params));
  Bspline* older = keep(FitSplineSurfaceGeometry(cloud, 2, 3, 3, 8, 6, 1, params.Tension, params.Roughness, 1.0));
  ASSERT_TRUE(cyl && older);
  ASSERT_EQ(NumCtrlU(cyl), NumCtrlU(older));
  for (int j = 0; j < NumCtrlV(cyl); ++j)
    for (int i = 0; i < NumCtrlU(cyl); ++i) {
      EXPECT_NEAR(cyl->X[j][i], older->X[j][i], 1e-12);
      EXPECT_NEAR(cyl->Z[j][i], older->Z[j][i], 1e-12);
    }
  EXPECT_EQ(NewFitSplineSurfaceGeometry(cloud, 3, params), nullptr);
  FreeCloud(cloud);
}

}  // namespace
