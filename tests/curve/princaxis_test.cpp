// Best-fit planes and principal axes: a planar curve in any position and at any scale has no
// spread across its plane and a third axis along the plane's normal, flattening leaves it where
// it is and makes any curve planar through its chord; the axes of a surface turn to its normal
// side, skip what its trims remove, and points given beside an object win over it.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/princip.h"
#include "curve/crvutil.h"
#include "foundation/vec3.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PrincipalAxes : public KernelTest {};

// A rotation about a random axis by a random angle (Rodrigues), row after row.
void RandomRotation(std::mt19937& rng, double R[3][3]) {
  double a[3];
  RandomPoint(rng, a, 1.0);
  const double n = VecSize3(a);
  for (double& c : a) c /= n;
  const double t = Uniform(rng, 0.0, 2.0 * M_PI), c = std::cos(t), s = std::sin(t);
  const double K[3][3] = {{0, -a[2], a[1]}, {a[2], 0, -a[0]}, {-a[1], a[0], 0}};
  for (int r = 0; r < 3; ++r)
    for (int q = 0; q < 3; ++q) {
      double kk = 0.0;
      for (int m = 0; m < 3; ++m) kk += K[r][m] * K[m][q];
      R[r][q] = (r == q ? 1.0 : 0.0) + s * K[r][q] + (1.0 - c) * kk;
    }
}

// Control points of a random curve in the plane z = 0, then rotated, scaled and moved.
std::vector<double> PlanarPoints(std::mt19937& rng, int n, double scale, double R[3][3],
                                 const double shift[3]) {
  std::vector<double> pts;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {Uniform(rng, -1, 1), Uniform(rng, -1, 1), 0.0};
    for (int r = 0; r < 3; ++r)
      pts.push_back(scale * (R[r][0] * p[0] + R[r][1] * p[1] + R[r][2] * p[2]) + shift[r]);
  }
  return pts;
}

double Det(const double A[3][3]) {
  double c[3];
  VecCrossProd3(A[0], A[1], c);
  return VecDotProd3(c, A[2]);
}

TEST_F(PrincipalAxes, PlanarCurvesAtEveryScaleAndPosition) {
  std::mt19937 rng(5);
  for (double scale : {1e-6, 1.0, 1e6})
    for (int trial = 0; trial < 6; ++trial) {
      double R[3][3], shift[3];
      RandomRotation(rng, R);
      RandomPoint(rng, shift, 3.0 * scale);
      const int degree = 1 + trial % 3;
      Bspline* c = BuildCurve(degree, 3, PlanarPoints(rng, 7, scale, R, shift),
                              ClampedKnots(degree, 7, 0.0, 1.0, KnotLayout::Random, trial));
      double axes[3][3], third = -1.0, centroid[3];
      ASSERT_EQ(BsplCrvBestFitPlane(c, axes, &third, centroid), 0);
      EXPECT_LT(std::fabs(third), 1e-12 * scale * scale);
      // The plane's normal is the third column of R (the image of z).
      const double normal[3] = {R[0][2], R[1][2], R[2][2]};
      EXPECT_NEAR(std::fabs(VecDotProd3(axes[2], normal)), 1.0, 1e-9);
      EXPECT_NEAR(Det(axes), 1.0, 1e-9);
      // The centroid lies in the plane.
      const double d[3] = {centroid[0] - c->X[0][0], centroid[1] - c->Y[0][0], centroid[2] - c->Z[0][0]};
      EXPECT_LT(std::fabs(VecDotProd3(d, normal)), 1e-9 * scale);
      // The same answer through the object entry.
      double again[3][3], third2, centroid2[3];
      ASSERT_EQ(FindObjectPrincAxis(nullptr, nullptr, nullptr, 0, c, again, &third2, centroid2), 0);
      EXPECT_EQ(third2, third);

      // Flattening a planar curve moves no control point.
      Bspline* flat = SimpleRemoveCurveTorsion(c, nullptr);
      ASSERT_NE(flat, nullptr);
      for (int i = 0; i < 7; ++i) {
        EXPECT_NEAR(flat->X[0][i], c->X[0][i], 1e-9 * scale);
        EXPECT_NEAR(flat->Y[0][i], c->Y[0][i], 1e-9 * scale);
        EXPECT_NEAR(flat->Z[0][i], c->Z[0][i], 1e-9 * scale);
      }
      FreeBspline(flat);
      FreeBspline(c);
    }
  EXPECT_EQ(MallocTrackedCount(), 0);
}

// Any space curve becomes planar; the plane holds its chord, so the end points stay, and the
// copy keeps the knots. A closed curve uses its start tangent instead of a chord of length 0.
TEST_F(PrincipalAxes, FlatteningMakesAnyCurvePlanarThroughItsChord) {
  for (unsigned seed = 1; seed <= 8; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 3, 8);
    if (seed % 4 == 0) {  // closed: the last control point on the first
      c->X[0][7] = c->X[0][0];
      c->Y[0][7] = c->Y[0][0];
      c->Z[0][7] = c->Z[0][0];
      c->closedU = 3;
    }
    double residual = -1.0;
    Bspline* flat = SimpleRemoveCurveTorsion(c, &residual);
    ASSERT_NE(flat, nullptr);
    EXPECT_GE(residual, 0.0);
    double axes[3][3], third, centroid[3];
    ASSERT_EQ(BsplCrvBestFitPlane(flat, axes, &third, centroid), 0);
    EXPECT_LT(third, 1e-14);
    for (int i : {0, 7}) {
      EXPECT_NEAR(flat->X[0][i], c->X[0][i], 1e-12);
      EXPECT_NEAR(flat->Y[0][i], c->Y[0][i], 1e-12);
      EXPECT_NEAR(flat->Z[0][i], c->Z[0][i], 1e-12);
    }
    for (int k = 0; k < 12; ++k) EXPECT_EQ(flat->knotsU[k], c->knotsU[k]);
    FreeBspline(flat);
    FreeBspline(c);
  }
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  EXPECT_EQ(SimpleRemoveCurveTorsion(s, nullptr), nullptr);
  double axes[3][3], third, centroid[3];
  EXPECT_EQ(BsplCrvBestFitPlane(s, axes, &third, centroid), -2);
  FreeBspline(s);
}

TEST_F(PrincipalAxes, PointsWinOverTheObjectAndTooFewFail) {
  const double x[4] = {0, 1, 0, 0.2}, y[4] = {0, 0, 1, 0.3}, z[4] = {0, 0, 0, 0};
  Bspline* c = BuildRandomCurve(3, 3, 6);
  double axes[3][3], third = -1, centroid[3];
  EXPECT_EQ(FindObjectPrincAxis(x, y, z, 2, nullptr, axes, &third, centroid), -2);
  EXPECT_EQ(FindObjectPrincAxis(x, y, z, 2, c, axes, &third, centroid), -2);
  EXPECT_EQ(FindObjectPrincAxis(x, y, nullptr, 4, c, axes, &third, centroid), -2);
  EXPECT_EQ(FindObjectPrincAxis(nullptr, nullptr, nullptr, 0, nullptr, axes, &third, centroid), -2);
  EXPECT_EQ(FindObjectPrincAxis(x, y, z, 4, c, nullptr, &third, centroid), -2);
  ASSERT_EQ(FindObjectPrincAxis(x, y, z, 4, c, axes, &third, centroid), 0);
  double ref[3][3], values[3], refCentroid[3];
  ASSERT_EQ(PntSetPrincipleAxis_d(x, y, z, 4, ref, values, refCentroid), 0);
  EXPECT_EQ(third, values[2]);
  ExpectNear3(centroid, refCentroid, 0.0);
  for (int a = 0; a < 3; ++a) ExpectNear3(axes[a], ref[a], 0.0);
  FreeBspline(c);
}

// A tilted plane given both ways round: the third axis follows Su x Sv, whichever sign the
// point-set analysis chose; a bumpy patch too; the frame stays right-handed.
TEST_F(PrincipalAxes, SurfaceThirdAxisFollowsItsNormalSide) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 8; ++trial) {
    const double a = Uniform(rng, -0.7, 0.7), b = Uniform(rng, -0.7, 0.7);
    const double bump = trial % 2 ? 0.05 : 0.0;
    Bspline* s = BuildFunctionPatch([&](double x, double y) {
      return a * x + b * y + bump * std::sin(6 * x) * std::cos(5 * y);
    });
    if (trial >= 4) {  // mirror in x: the normal turns to the other side
      for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 6; ++i) s->X[j][i] = -s->X[j][i];
    }
    double axes[3][3], third, centroid[3];
    ASSERT_EQ(FindObjectPrincAxis(nullptr, nullptr, nullptr, 0, s, axes, &third, centroid), 0);
    double n[3] = {-a, -b, 1.0};
    if (trial >= 4) n[1] = b, n[2] = -1.0;  // (Mu) x (Mv) = det M M^-T (u x v), M = diag(-1, 1, 1)
    VecNormalize3(n, n);
    EXPECT_GT(VecDotProd3(axes[2], n), bump ? 0.99 : 1.0 - 1e-9) << trial;
    EXPECT_NEAR(Det(axes), 1.0, 1e-9);
    FreeBspline(s);
  }
}

// Trims remove samples: a plane cut down to the square [0, 0.3]^2 has its centroid there.
TEST_F(PrincipalAxes, TrimmedSurfaceCountsOnlyWhatIsLeft) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  AddLoop(s, SquareCurves(s, 0.0, 0.0, 0.3, 0.3));
  double axes[3][3], third, centroid[3];
  ASSERT_EQ(FindObjectPrincAxis(nullptr, nullptr, nullptr, 0, s, axes, &third, centroid), 0);
  EXPECT_LT(centroid[0], 0.2);
  EXPECT_LT(centroid[1], 0.2);
  EXPECT_GT(axes[2][2], 1.0 - 1e-9);
  EXPECT_EQ(MallocTrackedCount(), 0);
  FreeBspline(s);
}

TEST_F(PrincipalAxes, FailedAllocationsLeaveNothing) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; });
  AddLoop(s, SquareCurves(s, 0.1, 0.1, 0.9, 0.9));
  Bspline* c = BuildRandomCurve(4, 3, 7);
  const int failed = RunWithInjectedFailures(200, 2, [&] {
    double axes[3][3], third, centroid[3], residual;
    Bspline* flat = SimpleRemoveCurveTorsion(c, &residual);
    FreeBspline(flat);
    const int r = FindObjectPrincAxis(nullptr, nullptr, nullptr, 0, s, axes, &third, centroid);
    return flat && r == 0 ? 0 : -2;
  });
  EXPECT_GT(failed, 0);
  FreeBspline(c);
  FreeBspline(s);
}

}  // namespace
