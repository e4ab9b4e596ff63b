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
#include "bspline/crvlist.h"

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

class NonRational : public KernelTest {};

// A rational bicubic patch over [0, 1]^2 with random weights, an outer square loop and a hole.
Bspline* TrimmedRationalPatch() {
  PatchOptions o;
  o.nu = 4;
  o.nv = 4;
  o.rational = true;
  o.seed = 3;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.3 * std::sin(3 * x) + 0.2 * y * y; }, o);
  if (!s) return nullptr;
  auto line = [&](double u0, double v0, double u1, double v1) {
    return BuildCurveOnSurface(s, 1, {u0, v0, u1, v1});
  };
  AddLoop(s, {line(0.1, 0.1, 0.9, 0.1), line(0.9, 0.1, 0.9, 0.9), line(0.9, 0.9, 0.1, 0.9),
              line(0.1, 0.9, 0.1, 0.1)});
  AddLoop(s, {line(0.4, 0.4, 0.6, 0.4), line(0.6, 0.4, 0.5, 0.6), line(0.5, 0.6, 0.4, 0.4)}, 1);
  return s;
}

// 4 x 4 control points are sampled 6 x 6 and interpolated by a bicubic of 8 x 8 control points
// through every sample; the outer and hole loops come over, the hole first (loops are pushed on
// the front), each within the surface's domain.
TEST_F(NonRational, RationalPatchWithHoleBecomesNonRationalKeepingBothLoops) {
  BsplineKeeper keep;
  Bspline* s = keep(TrimmedRationalPatch());
  ASSERT_NE(s, nullptr);
  Bspline* r = keep(SurfaceRationalToNonRationalBspline(s));
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(KernelFailed());
  EXPECT_EQ(r->rational, 0);
  EXPECT_EQ(NumCtrlU(r), 8);
  EXPECT_EQ(NumCtrlV(r), 8);
  Cloud* c = SampleSurfaceBspline(s, 6, 6, 0, nullptr);
  ASSERT_NE(c, nullptr);
  // The cubic interpolant's distinct knots are its sample parameters.
  std::vector<double> ku, kv;
  for (int k = 3; k < NumKnotsU(r) - 3; ++k)
    if (ku.empty() || r->knotsU[k] > ku.back()) ku.push_back(r->knotsU[k]);
  for (int k = 3; k < NumKnotsV(r) - 3; ++k)
    if (kv.empty() || r->knotsV[k] > kv.back()) kv.push_back(r->knotsV[k]);
  ASSERT_EQ(ku.size(), 6u);
  ASSERT_EQ(kv.size(), 6u);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) {
      const double u = ku[i], v = kv[j];
      double p[3];
      RefEvalSurface(r, u, v, p);
      EXPECT_NEAR(p[0], c->x[6 * j + i], 1e-5);
      EXPECT_NEAR(p[2], c->z[6 * j + i], 1e-5);
    }
  FreeCloud(c);
  std::vector<int> holes, counts;
  for (TrimList* t = r->trims; t; t = t->next) {
    holes.push_back(t->hole);
    counts.push_back(GetNumCurvePieces(t->loopCurves));
    for (BsplineList* n = t->loopCurves; n; n = n->next) EXPECT_EQ(n->item->owner, r);
  }
  EXPECT_EQ(holes, (std::vector<int>{1, 0}));
  for (int n : counts) EXPECT_GE(n, 1);
}

// Unit normals with the points; the trimmed grid keeps only what lies inside, a row with no point
// inside gives no scan, and an untrimmed surface with useTrims set gives the full grid.
TEST_F(NonRational, SamplesWithNormalsAndTrims) {
  BsplineKeeper keep;
  Bspline* s = keep(TrimmedRationalPatch());
  Cloud* full = SampleSurfaceBspline(s, 5, 7, 0, nullptr);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->npts, 35);
  EXPECT_EQ(full->nscans, 7);
  for (int k = 0; k < full->npts; ++k) {
    const double u = 0.25 * (k % 5), v = (k / 5) / 6.0;
    double a[3], b[3];
    RefEvalDeriv(s, u, v, 1, 0, a);
    RefEvalDeriv(s, u, v, 0, 1, b);
    const double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    EXPECT_NEAR(full->nx[k], n[0] / len, 1e-6);
    EXPECT_NEAR(full->nz[k], n[2] / len, 1e-6);
  }
  FreeCloud(full);
  // v rows 0 and 1 (v = 0, 1/6 > 0.1 ... ) : row 0 at v = 0 lies outside the outer loop.
  Cloud* cut = SampleSurfaceBspline(s, 5, 7, 1, nullptr);
  ASSERT_NE(cut, nullptr);
  // Rows v = 1/6 .. 5/6 keep u = 0.25 and 0.75; u = 0.5 is in the hole at v = 0.5 only.
  EXPECT_EQ(cut->nscans, 5);
  EXPECT_EQ(cut->npts, 5 * 3 - 1);
  FreeCloud(cut);
}

// A free curve that cannot be projected (a coordinate is not a number) stops the projection with
// the error state set, so a caller that gets no status still sees it.
TEST_F(NonRational, FailedProjectionSetsTheErrorState) {
  BsplineKeeper keep;
  Bspline* s = keep(TrimmedRationalPatch());
  Bspline* bad = BuildCurveOnSurface(s, 1, {0.2, 0.2, 0.3, 0.3});
  bad->X[0][1] = std::nan("");
  Bspline* t = keep(BuildFunctionPatch([](double, double) { return 0.0; }));
  ProjectAllCONSToSurf(s, t);
  EXPECT_TRUE(KernelFailed());
}

}  // namespace
