// Cartesian height-field fits and the front end: the gridded engine reproduces a bicubic spline
// from its grid (values on the knots included), reads a transposed grid as the same surface,
// and the dispatch picks the engine and property block the rules say; the plane-aligned fits
// stand a wall upright and fall back to the plain fit; failures leave nothing behind and the
// caller's cloud as it was.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "cloud/makecld.h"
#include "foundation/makemat.h"
#include "quadric/planefit.h"
#include "splinefit/acareng.h"
#include "splinefit/fitsplin.h"
#include "splinefit/gcareng.h"
#include "splinefit/gspline.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CartesianFit : public KernelTest {};

double HeightAt(const Bspline* s, double u, double v) {
  double out[3];
  RefEvalSurface(s, u, v, out);
  return out[2];
}

// A bicubic height field on [0, 3] x [0, 2] with uniform knots: 7 x 6 control points.
Bspline* Truth() {
  Bspline* s = MallocInitSurfaceBspline();
  s->interiorU = 3, s->interiorV = 2;
  s->umin = 0, s->umax = 3, s->vmin = 0, s->vmax = 2;
  assign_gcar_knots(s, 0, 0, 3, 2);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 7; ++i) s->Z[j][i] = std::cos(0.9 * i) + 0.3 * j - 0.05 * i * j * j;
  FindInitXYCoefi(s, s->X, s->Y);
  return s;
}

// The grid of nx x ny heights of s on its domain, x along the rows; transposed: rows along x.
Cloud* GridOf(const Bspline* s, int nx, int ny, bool transposed) {
  const double sx = (s->umax - s->umin) / (nx - 1), sy = (s->vmax - s->vmin) / (ny - 1);
  std::vector<float> h(nx * ny);
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      const float z = float(HeightAt(s, s->umin + i * sx, s->vmin + j * sy));
      if (transposed)
        h[i * ny + j] = z;
      else
        h[j * nx + i] = z;
    }
  if (transposed) return MakeGridCld(s->vmin, s->umin, sy, sx, ny, nx, 1, 0, h.data(), nullptr);
  return MakeGridCld(s->umin, s->vmin, sx, sy, nx, ny, 0, 1, h.data(), nullptr);
}

std::vector<double> Zs(const Bspline* s) {
  std::vector<double> z;
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) z.push_back(s->Z[j][i]);
  return z;
}

TEST_F(CartesianFit, GriddedEngineReproducesASplineAndReadsATransposedGridAlike) {
  BsplineKeeper keep;
  Bspline* truth = keep(Truth());
  // 13 x 9 values: every knot of both directions is a grid value.
  Cloud* grid = GridOf(truth, 13, 9, false);
  Cloud* gridT = GridOf(truth, 13, 9, true);
  ASSERT_TRUE(grid && gridT);
  double box[6], boxT[6];
  Bspline* fit = keep(FitCartisianSpline(grid, box, 3, 3, 7, 6, 0, 0.7, 1e3, 1.0));
  Bspline* fitT = keep(FitCartisianSpline(gridT, boxT, 3, 3, 7, 6, 0, 0.7, 1e3, 1.0));
  ASSERT_TRUE(fit && fitT);
  EXPECT_EQ(fit->fitProps.flag, 0);  // the gridded engine's block
  EXPECT_EQ(fit->fitProps.tension, 0.0);
  EXPECT_EQ(fit->fitProps.roughness, 1.0e6);
  EXPECT_EQ(fit->fitProps.sigma, 0.1);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(fit->Z[j][i], truth->Z[j][i], 2e-4) << i << " " << j;
  const auto z = Zs(fit), zT = Zs(fitT);
  for (size_t k = 0; k < z.size(); ++k) EXPECT_NEAR(z[k], zT[k], 1e-12);
  // X and Y are the control points' parameters: the surface maps (u, v) to (u, v, z).
  double P[3];
  RefEvalSurface(fit, 1.3, 0.7, P);
  EXPECT_NEAR(P[0], 1.3, 1e-12);
  EXPECT_NEAR(P[1], 0.7, 1e-12);
  FreeCloud(grid);
  FreeCloud(gridT);
}

// A built bicubic record handed to the gridded engine is refitted in place (its heights come
// back from its own grid); one whose knots cannot be read is refused with -2 and left as it was.
TEST_F(CartesianFit, GriddedEngineRefitsABuiltRecordAndRefusesOneItCannotRead) {
  BsplineKeeper keep;
  Bspline* truth = keep(Truth());
  Cloud* grid = GridOf(truth, 13, 9, false);
  ASSERT_NE(grid, nullptr);
  Bspline* rec = keep(CopyBsplineSurface(truth));
  ASSERT_NE(rec, nullptr);
  for (int j = 0; j < 6; ++j) std::fill(rec->Z[j], rec->Z[j] + 7, 0.0);
  gcar_spline_fit(rec, grid);
  ASSERT_FALSE(KernelFailedNow());
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(rec->Z[j][i], truth->Z[j][i], 2e-4) << i << " " << j;
  double* knots = rec->knotsU;
  rec->knotsU = nullptr;
  rec->fitProps.flag = 5;
  const std::vector<double> z = Zs(rec);
  gcar_spline_fit(rec, grid);
  EXPECT_EQ(zk_error_status, -2);
  EXPECT_EQ(rec->fitProps.flag, 5);
  EXPECT_EQ(rec->knotsU, nullptr);
  rec->knotsU = knots;
  EXPECT_EQ(Zs(rec), z);
  FreeCloud(grid);
}

TEST_F(CartesianFit, DispatchPicksTheEngineAndItsPropertyBlock) {
  BsplineKeeper keep;
  Bspline* truth = keep(Truth());
  Cloud* grid = GridOf(truth, 13, 9, false);
  double box[6];
  // Scattered on request, for axis code z, and for grids too small for the net.
  Bspline* a = keep(FitCartisianSpline(grid, box, 3, 3, 7, 6, 1, 0.6, 50.0, 2.0));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->fitProps.flag, 1);
  EXPECT_EQ(a->fitProps.tension, 0.6);
  EXPECT_EQ(a->fitProps.roughness, 50.0);
  EXPECT_EQ(a->fitProps.sigma, 2.0);
  Bspline* b = keep(FitCartisianSpline(grid, box, 3, 3, 14, 6, 0, 0.6, 50.0, 2.0));  // 13 - 4 < 10
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->fitProps.flag, 1);
  grid->grid.rowAxis = 2;
  Bspline* c = keep(FitCartisianSpline(grid, box, 3, 3, 7, 6, 0, 0.6, 50.0, 2.0));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->fitProps.flag, 1);
  grid->grid.rowAxis = 1;
  // The front ends copy the points into an unordered cloud: never the gridded engine.
  BsplFitParams params;
  GetDefaultBsplFitParams(&params);
  params.ScatteredOnly = 0, params.NumCntrlU = 7, params.NumCntrlV = 6;
  Bspline* d = keep(NewFitSplineSurfaceGeometry(grid, 0, params));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->fitProps.flag, 1);
  // Refusals at the door set the error state: degree 23, an unknown type, a negative type, fewer
  // control points than the degree needs.
  const std::function<Bspline*()> refusals[] = {
      [&] { return SimpleFitSplineSurface(grid, 23, 3, 30, 6, 0); },
      [&] { return SimpleFitSplineSurface(grid, 3, 3, 7, 6, 3); },
      [&] { return FitSplineSurfaceGeometry(grid, -1, 3, 3, 7, 6, 1, 0.7, 1e3, 1.0); },
      [&] { return FitSplineSurfaceGeometry(grid, 0, 3, 3, 3, 6, 1, 0.7, 1e3, 1.0); }};
  for (const auto& refused : refusals) {
    EXPECT_EQ(refused(), nullptr);
    EXPECT_TRUE(KernelFailedNow());
    ClearKernelError();
  }
  FreeCloud(grid);
}

// Points of a bumpy sheet: heights h(a, b) over the plan coordinates (a, b) in [0, 2]^2, mapped
// into space by `place`.
template <class Place>
Cloud* Sheet(Place place, int n = 14) {
  std::vector<float> x, y, z;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double a = 2.0 * (i + 0.3 * std::sin(3.1 * j)) / (n - 1), b = 2.0 * (j + 0.3 * std::cos(2.3 * i)) / (n - 1);
      const double h = 0.1 * std::sin(2 * a) * std::cos(1.5 * b);
      double p[3];
      place(a, b, h, p);
      x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2]));
    }
  return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
}

TEST_F(CartesianFit, PlaneAlignedFitsStandAWallUprightAndKeepNearlyLevelDataPlain) {
  BsplineKeeper keep;
  // A wall: heights along x. The plain fit cannot see it as a height field over x, y; the
  // aligned fit returns a surface standing in it.
  Cloud* wall = Sheet([](double a, double b, double h, double p[3]) { p[0] = 2.0 + h, p[1] = a, p[2] = b; });
  Bspline* s = keep(SimpleFitSplineSurfaceZAlignFree(wall, 3, 3, 6, 6, 0));
  ASSERT_NE(s, nullptr);
  double worst = 0;
  for (int a = 0; a <= 8; ++a)
    for (int b = 0; b <= 8; ++b) {
      double P[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * a / 8, s->vmin + (s->vmax - s->vmin) * b / 8, P);
      worst = std::max(worst, std::fabs(P[0] - (2.0 + 0.1 * std::sin(2 * P[1]) * std::cos(1.5 * P[2]))));
    }
  EXPECT_LT(worst, 0.02);
  FreeCloud(wall);
  // A plane z = 5 tilted by two degrees: the alignment snaps to z, so the fit is the plain one.
  const double tilt = std::tan(2.0 * M_PI / 180);
  Cloud* level = Sheet([&](double a, double b, double h, double p[3]) { p[0] = a, p[1] = b, p[2] = 5 + h + tilt * a; });
  Bspline* aligned = keep(FitSplineSurfaceZAlignFree(level, 3, 3, 6, 6, 0, 1, 0.7, 1e3, 1.0));
  Bspline* plain = keep(FitSplineSurfaceGeometry(level, 0, 3, 3, 6, 6, 1, 0.7, 1e3, 1.0));
  ASSERT_TRUE(aligned && plain);
  const auto za = Zs(aligned), zp = Zs(plain);
  for (size_t k = 0; k < za.size(); ++k) EXPECT_NEAR(za[k], zp[k], 1e-12);
  FreeCloud(level);
}

TEST_F(CartesianFit, InjectedFailuresThroughAnAlignedFitLeaveTheCloudAsItWas) {
  Cloud* tilted = Sheet([](double a, double b, double h, double p[3]) {
    p[0] = a, p[1] = b * 0.6, p[2] = b * 0.8 + h;  // normal well away from every axis
  }, 8);
  const std::vector<float> x(tilted->x, tilted->x + tilted->npts), z(tilted->z, tilted->z + tilted->npts);
  const int failures = RunWithInjectedFailures(600, 7, [&] {
    Bspline* s = SimpleFitSplineSurfaceZAlignFree(tilted, 3, 3, 5, 5, 0);
    EXPECT_EQ(std::memcmp(x.data(), tilted->x, sizeof(float) * x.size()), 0);
    EXPECT_EQ(std::memcmp(z.data(), tilted->z, sizeof(float) * z.size()), 0);
    if (!s) return -2;
    FreeBspline(s);
    return 0;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 86);
  FreeCloud(tilted);
}


TEST_F(CartesianFit, OtherDegreesOnAGridGoThroughThePlateFitAndARecordKeepsItsXY) {
  // A biquadratic spline's grid, gridded engine requested: not bicubic, so the plate fit on the
  // grid without smoothing (the gridded engine's block has flag 0) reproduces it.
  BsplineKeeper keep;
  Bspline* truth = keep(MallocInitSurfaceBspline());
  truth->degreeU = truth->degreeV = 2, truth->interiorU = 3, truth->interiorV = 2;
  truth->umin = 0, truth->umax = 3, truth->vmin = 0, truth->vmax = 2;
  assign_gcar_knots(truth, 0, 0, 3, 2);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) truth->Z[j][i] = std::sin(1.1 * i + 0.4 * j);
  FindInitXYCoefi(truth, truth->X, truth->Y);
  Cloud* grid = GridOf(truth, 13, 9, false);
  double box[6];
  Bspline* fit = keep(FitCartisianSpline(grid, box, 2, 2, 6, 5, 0, 0.7, 1e3, 1.0));
  ASSERT_NE(fit, nullptr);
  EXPECT_EQ(fit->fitProps.flag, 0);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(fit->Z[j][i], truth->Z[j][i], 1e-6);
  // A record that has X and Y but no Z keeps its X and Y and gets knots and Z.
  Bspline* rec = keep(MallocInitSurfaceBspline());
  rec->degreeU = rec->degreeV = 2, rec->interiorU = 3, rec->interiorV = 2;
  rec->umin = 0, rec->umax = 3, rec->vmin = 0, rec->vmax = 2;
  ASSERT_GE(AllocateBsplineArrays(rec), 0);
  matrix_free_fh(rec->Z);
  rec->Z = nullptr;
  double** X = rec->X;
  ASSERT_EQ(rec->Z, nullptr);
  acar_spline_fit(rec, nullptr, nullptr, 0, grid, 0.7, 1e8, 1.0);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(rec->X, X);
  EXPECT_NEAR(HeightAt(rec, 1.3, 0.9), HeightAt(truth, 1.3, 0.9), 1e-3);
  FreeCloud(grid);
}

}  // namespace
