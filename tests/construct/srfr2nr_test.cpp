// Samples of a surface on its distinct knot spans: the grid is m steps per distinct u span and
// n per v span plus the last knot, its points are the surface's points there, an untrimmed
// surface gives one scan per v row, a trimmed one only the points inside its loop.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "construct/srfr2nr.h"
#include "foundation/cloudrec.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PlateSamples : public KernelTest {};

// Bicubic-by-quadratic patch: u knots with a double interior knot at 0.4 and one at 0.7 (three
// distinct spans), v knots with one interior knot at 0.5 (two spans).
Bspline* Patch() {
  const std::vector<double> ku = {0, 0, 0, 0, 0.4, 0.4, 0.7, 1, 1, 1, 1};
  const std::vector<double> kv = {0, 0, 0, 0.5, 1, 1, 1};
  PatchOptions o;
  o.nu = 7;
  o.nv = 4;
  o.degreeV = 2;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(2 * x) * y; }, o);
  if (!s) return nullptr;
  for (int i = 0; i < 11; ++i) s->knotsU[i] = ku[i];
  s->interiorU = 3;
  for (int i = 0; i < 7; ++i) s->knotsV[i] = kv[i];
  return s;
}

TEST_F(PlateSamples, GridPerDistinctSpanOnTheSurfaceOneScanPerRow) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch());
  ASSERT_NE(s, nullptr);
  const std::vector<double> us = {0, 0.2, 0.4, 0.55, 0.7, 0.85, 1.0};  // m = 2
  const std::vector<double> vs = {0, 1.0 / 6, 2.0 / 6, 0.5, 0.5 + 1.0 / 6, 0.5 + 2.0 / 6, 1.0};
  double box[6];
  Cloud* c = SampleSurfacePlateBspline(s, 2, 3, box);
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->npts, 7 * 7);
  EXPECT_EQ(c->type, 13);
  ASSERT_EQ(c->nscans, 7);
  float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
  for (int j = 0; j < 7; ++j) {
    EXPECT_EQ(c->scanStart[j], 7 * j);
    EXPECT_EQ(c->scanEnd[j], 7 * j + 6);
    for (int i = 0; i < 7; ++i) {
      double p[3];
      RefEvalSurface(s, us[i], vs[j], p);
      const int k = 7 * j + i;
      const float q[3] = {c->x[k], c->y[k], c->z[k]};
      for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(q[a], p[a], 1e-6) << i << " " << j;
        lo[a] = std::fmin(lo[a], q[a]);
        hi[a] = std::fmax(hi[a], q[a]);
      }
    }
  }
  for (int a = 0; a < 3; ++a) {
    EXPECT_FLOAT_EQ(box[a], lo[a]);
    EXPECT_FLOAT_EQ(box[3 + a], hi[a]);
  }
  FreeCloud(c);
  // Refused: no surface, no samples per span.
  EXPECT_EQ(SampleSurfacePlateBspline(nullptr, 2, 2, nullptr), nullptr);
  EXPECT_EQ(SampleSurfacePlateBspline(s, 0, 2, nullptr), nullptr);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(PlateSamples, TrimmedSurfaceKeepsOnlyTheGridInsideItsLoop) {
  BsplineKeeper keep;
  Bspline* s = keep(Patch());
  ASSERT_NE(s, nullptr);
  const double a = 0.3, b = 0.8;
  const double c2[5][2] = {{a, a}, {b, a}, {b, b}, {a, b}, {a, a}};
  std::vector<Bspline*> curves;
  for (int k = 0; k < 4; ++k)
    curves.push_back(BuildCurveOnSurface(s, 1, {c2[k][0], c2[k][1], c2[k + 1][0], c2[k + 1][1]}));
  AddLoop(s, curves);
  Cloud* c = SampleSurfacePlateBspline(s, 2, 3, nullptr);
  ASSERT_NE(c, nullptr);
  // Inside [0.3, 0.8]^2: u 0.4, 0.55, 0.7 and v 1/3, 0.5, 2/3.
  ASSERT_EQ(c->npts, 9);
  EXPECT_EQ(c->type, 0);
  const double in_u[3] = {0.4, 0.55, 0.7}, in_v[3] = {1.0 / 3, 0.5, 0.5 + 1.0 / 6};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      double p[3];
      RefEvalSurface(s, in_u[i], in_v[j], p);
      const int k = 3 * j + i;
      EXPECT_NEAR(c->x[k], p[0], 1e-6) << k;
      EXPECT_NEAR(c->y[k], p[1], 1e-6) << k;
      EXPECT_NEAR(c->z[k], p[2], 1e-6) << k;
    }
  FreeCloud(c);
  EXPECT_FALSE(KernelFailed());
}

}  // namespace
