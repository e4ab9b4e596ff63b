// Cloud points to surface parameters: on a surface whose x and y are its parameters every point
// maps onto itself keeping its z; points off the surface are dropped; a strip too thin in v and a
// cloud with nothing on the surface give the documented statuses; a curved, skewed surface maps
// back onto the parameters the points came from, at sizes 1e-6 to 1e6.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "stitch/userdef.h"
#include "foundation/umalloc.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudParams : public KernelTest {};

Cloud* MakeCloud(const std::vector<float>& x, const std::vector<float>& y,
                 const std::vector<float>& z, double box[6]) {
  return MakeCld(x.data(), y.data(), z.data(), static_cast<int>(x.size()), box);
}

TEST_F(CloudParams, PlaneOfItsOwnParametersMapsPointsOntoThemselves) {
  BsplineKeeper keep;
  PatchOptions o;
  o.layout = KnotLayout::Random;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * x - y; }, o));
  std::vector<float> x, y, z;
  for (int k = 0; k < 40; ++k) {
    x.push_back(static_cast<float>(std::fmod(0.37 * k, 1.0)));
    y.push_back(static_cast<float>(std::fmod(0.61 * k + 0.05, 1.0)));
    z.push_back(static_cast<float>(k));
  }
  // Two points beyond the surface's x-y image are dropped.
  x.insert(x.begin() + 7, 1.5f), y.insert(y.begin() + 7, 0.5f), z.insert(z.begin() + 7, -1.0f);
  x.push_back(0.5f), y.push_back(-0.4f), z.push_back(-1.0f);
  double box[6];
  Cloud* c = MakeCloud(x, y, z, box);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(xy2uv(s, c, box), 0);
  ASSERT_EQ(c->npts, 40);
  for (int k = 0; k < 40; ++k) {
    EXPECT_NEAR(c->x[k], std::fmod(0.37 * k, 1.0), 1e-6) << k;
    EXPECT_NEAR(c->y[k], std::fmod(0.61 * k + 0.05, 1.0), 1e-6) << k;
    EXPECT_EQ(c->z[k], static_cast<float>(k));
  }
  EXPECT_EQ(c->zMin, 0.0);
  EXPECT_EQ(c->zMax, 39.0);
  EXPECT_EQ(c->type, 0);
  FreeCloud(c);
}

TEST_F(CloudParams, SkewedCurvedSurfaceMapsBackToTheSampledParametersAtAnyScale) {
  for (const double scale : {1e-6, 1.0, 1e6}) {
    BsplineKeeper keep;
    PatchOptions o;
    o.nu = 6, o.nv = 6, o.layout = KnotLayout::Random, o.seed = 4;
    Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(x + 2 * y); }, o));
    // Bend the net in x-y so that x and y are no longer the parameters (still one-to-one).
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int i = 0; i < NumCtrlU(s); ++i) {
        const double x = s->X[j][i], y = s->Y[j][i];
        s->X[j][i] = scale * (x + 0.2 * y * y), s->Y[j][i] = scale * (y + 0.1 * x);
      }
    std::vector<float> x, y, z;
    std::vector<double> us, vs;
    for (int k = 0; k < 30; ++k) {
      const double u = 0.02 + 0.96 * std::fmod(0.29 * k, 1.0), v = 0.02 + 0.96 * std::fmod(0.53 * k, 1.0);
      double P[3];
      Eval3DPointOnSurfArray(s, u, v, 0, 0, P);
      x.push_back(static_cast<float>(P[0])), y.push_back(static_cast<float>(P[1])), z.push_back(0.0f);
      us.push_back(u), vs.push_back(v);
    }
    double box[6];
    Cloud* c = MakeCloud(x, y, z, box);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(xy2uv(s, c, box), 0) << scale;
    ASSERT_EQ(c->npts, 30) << scale;
    for (int k = 0; k < 30; ++k) {
      EXPECT_NEAR(c->x[k], us[k], 1e-4) << k << " " << scale;
      EXPECT_NEAR(c->y[k], vs[k], 1e-4) << k << " " << scale;
    }
    FreeCloud(c);
  }
}

TEST_F(CloudParams, ThinStripsAndCloudsOffTheSurfaceAreReported) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x + y; }));
  std::vector<float> x, y, z;
  for (int k = 0; k < 10; ++k) x.push_back(0.1f * k), y.push_back(0.5f + 0.0005f * k), z.push_back(1.0f);
  double box[6];
  Cloud* c = MakeCloud(x, y, z, box);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(xy2uv(s, c, box), -2);
  EXPECT_EQ(zk_error_status, 100);
  EXPECT_EQ(c->npts, 10);  // the cloud already holds the mapped points
  FreeCloud(c);
  ClearKernelError();
  Cloud* off = MakeCloud({3.0f, 4.0f}, {3.0f, -2.0f}, {0.0f, 0.0f}, box);
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(xy2uv(s, off, box), -2);
  EXPECT_EQ(zk_error_status, -100);
  EXPECT_EQ(off->npts, 0);
  FreeCloud(off);
  ClearKernelError();
}

TEST_F(CloudParams, NewArraysOutliveTheCallersScopeAndFailuresLeaveTheCloud) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x - y; }));
  const std::vector<float> x = {0.1f, 0.5f, 0.9f}, y = {0.2f, 0.6f, 0.8f}, z = {1.0f, 2.0f, 3.0f};
  double box[6];
  Cloud* c = MakeCloud(x, y, z, box);
  ASSERT_NE(c, nullptr);
  // A caller's scope freed after the call must not take the cloud's new arrays with it.
  BeginTrackingMallocs();
  EXPECT_EQ(xy2uv(s, c, box), 0);
  FreeTrackedMallocs();
  EXPECT_NEAR(c->x[2], 0.9, 1e-6);
  EXPECT_EQ(c->z[1], 2.0f);
  FreeCloud(c);
  // Out of memory: -2 and the cloud as it was.
  std::vector<Cloud*> clouds;
  for (int k = 0; k < 12; ++k) clouds.push_back(MakeCloud(x, y, z, box));
  int run = 0;
  RunWithInjectedFailures(12, 1, [&] {
    Cloud* cl = clouds[run++];
    const int r = xy2uv(s, cl, box);
    if (r != 0) {
      EXPECT_EQ(cl->npts, 3);
      EXPECT_EQ(cl->x[2], 0.9f);
    }
    return r;
  });
  for (Cloud* cl : clouds) FreeCloud(cl);
}

TEST_F(CloudParams, CollapsedEdgeIsLeftByAStepInTheLargerError) {
  BsplineKeeper keep;
  // (u v, v): the edge v = 0 collapses to the origin, where the Jacobian has no inverse; the
  // nearest control point (the origin, first in row order) starts the solve there.
  Bspline* s = keep(BuildSurface(1, 1, 2, 2, {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0}));
  double u = 0.0, v = 0.0;
  EXPECT_EQ(SolveForUV(s, 0.25, 0.5, &u, &v), 0);
  EXPECT_NEAR(u, 0.5, 1e-6);
  EXPECT_NEAR(v, 0.5, 1e-6);
}

}  // namespace
