// Centroids, covariance and principal axes, the best line and the best-fit plane frame, and the
// overlapping x-y grid of height fields.
#include <cmath>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "cloud/princip.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/vec3.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PointStatistics : public KernelTest {};

// n points of an ellipsoidal cloud with semi-axes 3, 1.5, 0.4 along a rotated frame about c.
struct Cloud3 {
  std::vector<double> x, y, z;
  std::vector<float> fx, fy, fz;
};
Cloud3 Ellipsoid(int n, const double c[3], unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0, 1);
  double e0[3] = {1, 2, 0.5}, e1[3], e2[3];
  VecNormalize3(e0, e0);
  PerpVecs(e0, e1, e2);
  Cloud3 p;
  for (int i = 0; i < n; ++i) {
    const double a = 3 * g(rng), b = 1.5 * g(rng), d = 0.4 * g(rng);
    p.x.push_back(c[0] + a * e0[0] + b * e1[0] + d * e2[0]);
    p.y.push_back(c[1] + a * e0[1] + b * e1[1] + d * e2[1]);
    p.z.push_back(c[2] + a * e0[2] + b * e1[2] + d * e2[2]);
    p.fx.push_back(float(p.x.back())), p.fy.push_back(float(p.y.back())), p.fz.push_back(float(p.z.back()));
  }
  return p;
}

TEST_F(PointStatistics, AxesAreARightHandedEigenbasisOfTheCovariance) {
  const double c0[3] = {1, -2, 3};
  const Cloud3 p = Ellipsoid(2000, c0, 21);
  const int n = 2000;
  double** cov = allocate_matrix_ff(3, 3);
  double centroid[3];
  ASSERT_EQ(PntsetCovMatrix(p.fx.data(), p.fy.data(), p.fz.data(), n, centroid, cov), 0);
  double ev[3], axes[3][3], evd[3], axd[3][3], cd[3];
  ASSERT_EQ(PrincipleComponentAnalysis(p.fx.data(), p.fy.data(), p.fz.data(), n, ev, axes), 0);
  ASSERT_EQ(PntSetPrincipleAxis_d(p.x.data(), p.y.data(), p.z.data(), n, axd, evd, cd), 0);
  for (auto [e, a] : {std::pair{ev, axes}, std::pair{evd, axd}}) {
    EXPECT_TRUE(e[0] >= e[1] && e[1] >= e[2] && e[2] > 0);
    double cr[3];
    VecCrossProd3(a[0], a[1], cr);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(cr[k], a[2][k], 1e-9);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(VecDotProd3(a[k], a[j]), k == j, 1e-9);
    }
    // Spectral decomposition: sum of eigenvalue times axis outer product is the covariance.
    for (int r = 0; r < 3; ++r)
      for (int s = 0; s < 3; ++s) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) sum += e[k] * a[k][r] * a[k][s];
        EXPECT_NEAR(sum, cov[r][s], 1e-5 * e[0]);
      }
  }
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(cd[k], centroid[k], 1e-6);

  // A translated cloud has the same axes (up to sign) and eigenvalues.
  std::vector<double> tx = p.x, ty = p.y, tz = p.z;
  for (int i = 0; i < n; ++i) tx[i] += 40, ty[i] -= 7, tz[i] += 0.5;
  double evt[3], axt[3][3], ct[3];
  ASSERT_EQ(PntSetPrincipleAxis_d(tx.data(), ty.data(), tz.data(), n, axt, evt, ct), 0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(evt[k], evd[k], 1e-9 * evd[0]);
    EXPECT_NEAR(std::fabs(VecDotProd3(axt[k], axd[k])), 1.0, 1e-9);
  }
  EXPECT_NEAR(ct[0], cd[0] + 40, 1e-9);

  // Refused input and injected failures leave the outputs alone.
  EXPECT_EQ(PntSetPrincipleAxis_d(p.x.data(), p.y.data(), p.z.data(), 2, axd, evd, cd), -2);
  EXPECT_EQ(PntsetCovMatrix(p.fx.data(), p.fy.data(), p.fz.data(), 0, centroid, cov), -2);
  EXPECT_EQ(ComputeCorrelationMat_d(p.x.data(), p.y.data(), nullptr, n, cov), -2);
  const double before = axd[1][2];
  const int failures = RunWithInjectedFailures(12, 1, [&] {
    const int r = PntSetPrincipleAxis_d(p.x.data(), p.y.data(), p.z.data(), n, axd, evd, cd);
    if (r != 0) {
      EXPECT_EQ(axd[1][2], before);
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  matrix_free_ff(cov);
}

TEST_F(PointStatistics, MomentsAndCentroidsSumInBlocks) {
  double** M = allocate_matrix_ff(3, 3);
  const float one[3] = {1, 2, 3};
  ComputeCorrelationMatrix(&one[0], &one[1], &one[2], 1, M);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(M[r][c], (r + 1) * (c + 1));
  // More than one block of identical points: exactly that point and its moments.
  const int n = 25003;
  std::vector<double> x(n, 0.375), y(n, -7.25), z(n, 2.5);  // sums of these are exact
  std::vector<float> fx(n, 0.1f), fy(n, -7.3f);
  ASSERT_EQ(ComputeCorrelationMat_d(x.data(), y.data(), z.data(), n, M), 0);
  EXPECT_EQ(M[0][1], 0.375 * -7.25);
  double c[3], c2[2];
  ASSERT_EQ(ComputeCenterOfMass_d(x.data(), y.data(), z.data(), n, c), 0);
  EXPECT_TRUE(c[0] == 0.375 && c[1] == -7.25 && c[2] == 2.5);
  ASSERT_EQ(ComputeCenterOfMass2D_f(fx.data(), fy.data(), n, c2), 0);
  EXPECT_TRUE(c2[0] == double(0.1f) && c2[1] == double(-7.3f));
  EXPECT_EQ(ComputeCenterOfMass2D_f(fx.data(), nullptr, n, c2), -2);
  EXPECT_EQ(ComputeCenterOfMassCoord(fx.data(), fy.data(), fy.data(), 0, c), -2);
  ASSERT_EQ(ComputeCenterOfMassCoord(fx.data(), fy.data(), fy.data(), n, c), 0);
  EXPECT_EQ(c[2], double(-7.3f));
  matrix_free_ff(M);
}

TEST_F(PointStatistics, BestLineOfASegmentsPointsIsTheSegment) {
  const double a[3] = {1, 2, -1}, b[3] = {4, -2, 5};
  std::mt19937 rng(3);
  for (int n : {2, 3, 17, 200}) {
    std::vector<float> x, y, z;
    for (int i = 0; i < n; ++i) {
      const double t = i == 0 ? 0 : i == 1 ? 1 : std::uniform_real_distribution<double>(0, 1)(rng);
      x.push_back(float(a[0] + t * (b[0] - a[0]))), y.push_back(float(a[1] + t * (b[1] - a[1])));
      z.push_back(float(a[2] + t * (b[2] - a[2])));
    }
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
    double s[3], e[3];
    ASSERT_EQ(FitALine(c, s, e), 0);
    const bool forward = VecDist3(s, a) < VecDist3(s, b);
    EXPECT_NEAR(VecDist3(s, forward ? a : b), 0, 1e-5) << n;
    EXPECT_NEAR(VecDist3(e, forward ? b : a), 0, 1e-5) << n;
    FreeCloud(c);
  }
  // Fewer than two points have no line: refused, outputs untouched.
  const float p = 1.0f;
  Cloud* c = MakeCld(&p, &p, &p, 1, nullptr);
  double s[3] = {7, 7, 7}, e[3];
  EXPECT_EQ(FitALine(c, s, e), -2);
  c->npts = 0;
  EXPECT_EQ(FitALine(c, s, e), -2);
  EXPECT_EQ(s[0], 7.0);
  c->npts = 1;
  FreeCloud(c);
}

TEST_F(PointStatistics, PlaneFrameRoundTripsAndFlattensAPlane) {
  const double c0[3] = {-3, 5, 2};
  const Cloud3 p = Ellipsoid(300, c0, 8);
  const int n = 300;
  std::vector<float> u(n), v(n), w(n);
  Xform M, inv;
  ASSERT_EQ(ProjectPointsToBestFitPlane_f(p.fx.data(), p.fy.data(), p.fz.data(), n, u.data(), v.data(), w.data(), M), 0);
  ASSERT_EQ(mat_inverse4(M, inv), 0);
  for (int i = 0; i < n; ++i) {
    const double q[3] = {p.fx[i], p.fy[i], p.fz[i]}, f[3] = {u[i], v[i], w[i]};
    double image[3], back[3];
    VecTrans3(q, M, image);
    VecTrans3(f, inv, back);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(image[k], f[k], 1e-4);
      EXPECT_NEAR(back[k], q[k], 1e-4);
    }
  }
  // Points of the plane z = 5 have no offset from it.
  std::vector<float> x(n), y(n), z(n, 5.0f);
  for (int i = 0; i < n; ++i) x[i] = p.fx[i], y[i] = p.fy[i];
  ASSERT_EQ(ProjectPointsToBestFitPlane_f(x.data(), y.data(), z.data(), n, u.data(), v.data(), w.data(), M), 0);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(w[i], 0.0f, 1e-5);
  EXPECT_EQ(ProjectPointsToBestFitPlane_f(x.data(), y.data(), z.data(), 2, u.data(), v.data(), w.data(), M), -2);
}

TEST_F(PointStatistics, OverlapGridHoldsEachPointInItsOwnCellAndRefusesWalls) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> U(0, 10);
  const int n = 100;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) x[i] = U(rng), y[i] = U(rng), z[i] = 0.1f * U(rng);
  x[0] = y[0] = 0, x[1] = y[1] = 10;
  std::vector<int> cell(n), bin(n);
  auto build = [&](int ppc, XYOverlapGrid* g) {
    *g = XYOverlapGrid{};
    g->xmin = 0, g->xmax = 10, g->ymin = 0, g->ymax = 10;
    return SubdivideArrays2DOnXYWithOverlap(x.data(), y.data(), z.data(), n, ppc, g, cell.data(), bin.data());
  };
  BeginTrackingMallocs();  // the grid lives in the caller's scope
  XYOverlapGrid g;
  ASSERT_EQ(build(4, &g), 0);
  EXPECT_TRUE(g.ncellsX == 5 && g.ncellsY == 5);
  std::vector<int> entries(n, 0);
  for (int c = 0; c < 25; ++c)
    for (int b = 0; b < 25; ++b)
      for (int k = 0; k < g.cells[c].bins[b].count; ++k) ++entries[g.cells[c].bins[b].items[k]];
  for (int i = 0; i < n; ++i) {
    const IndexBin& own = g.cells[cell[i]].bins[bin[i]];
    EXPECT_NE(std::find(own.items, own.items + own.count, i), own.items + own.count);
    EXPECT_TRUE(entries[i] >= 1 && entries[i] <= 9);
  }
  XYOverlapGrid g0, g1;
  ASSERT_EQ(build(0, &g0), 0);  // no points per cell count as one
  ASSERT_EQ(build(1, &g1), 0);
  EXPECT_TRUE(g0.ncellsX == g1.ncellsX && g0.ncellsY == g1.ncellsY);
  // Points on a line along x, or all on one spot: finite counts in 1..50.
  for (float spread : {1.0f, 0.0f}) {
    for (int i = 0; i < n; ++i) x[i] = spread * U(rng), y[i] = 3, z[i] = 0;
    XYOverlapGrid line{};
    line.xmin = 0, line.xmax = 10 * spread, line.ymin = line.ymax = 3;
    ASSERT_EQ(SubdivideArrays2DOnXYWithOverlap(x.data(), y.data(), z.data(), n, 4, &line, cell.data(), bin.data()), 0);
    EXPECT_TRUE(line.ncellsY == 1 && line.ncellsX >= 1 && line.ncellsX <= 50);
    for (int i = 0; i < n; ++i) EXPECT_TRUE(cell[i] >= 0 && cell[i] < line.ncellsX && bin[i] >= 0 && bin[i] < 25);
  }
  // A wall inside one cell is no height field.
  for (int i = 0; i < n; ++i) x[i] = U(rng), y[i] = U(rng), z[i] = 0;
  z[5] = 1000;
  ASSERT_EQ(build(4, &g), -2);
  EXPECT_NE(Messages().find("not a single-valued cloud"), std::string::npos);
  FreeTrackedMallocs();
  z[5] = 0;
  const int failures = RunWithInjectedFailures(200, 13, [&] {
    BeginTrackingMallocs();
    XYOverlapGrid f;
    const int r = build(4, &f);
    FreeTrackedMallocs();
    return r;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
