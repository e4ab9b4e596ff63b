#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "shrinkwrap/cshrink.h"
#include "shrinkwrap/shrink.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ShrinkKnotsTest : public KernelTest {};

void ExpectSameCurve(const Bspline* a, const Bspline* b, double tol) {
  for (int i = 0; i <= 50; ++i) {
    const double t = a->umin + (a->umax - a->umin) * i / 50.0;
    double pa[3], pb[3];
    RefEvalCurve(a, t, pa);
    RefEvalCurve(b, t, pb);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(pa[k], pb[k], tol) << t;
  }
}

void ExpectSameSurface(const Bspline* a, const Bspline* b, double tol) {
  for (int i = 0; i <= 12; ++i)
    for (int j = 0; j <= 12; ++j) {
      const double u = a->umin + (a->umax - a->umin) * i / 12.0;
      const double v = a->vmin + (a->vmax - a->vmin) * j / 12.0;
      double pa[3], pb[3];
      RefEvalSurface(a, u, v, pa);
      RefEvalSurface(b, u, v, pb);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(pa[k], pb[k], tol) << u << " " << v;
    }
}

TEST_F(ShrinkKnotsTest, DefaultsFollowTheGlobals) {
  ShrnkWrapParams p;
  p.fixedRows[2] = 7;
  p.spare[1] = 9;
  const double saved[3] = {Global_Tension, Global_Roughness, Global_Sigma};
  Global_Tension = 0.25;
  Global_Roughness = 12.0;
  Global_Sigma = 0.5;
  ASSERT_EQ(SetDefaultShrnkWrapParams(&p), 0);
  Global_Tension = saved[0];
  Global_Roughness = saved[1];
  Global_Sigma = saved[2];
  for (int k = 0; k < 4; ++k) EXPECT_EQ(p.fixedRows[k], 0);
  EXPECT_EQ(p.medianFilter, 0);
  EXPECT_EQ(p.insertKnots, 0);
  EXPECT_EQ(p.spare[1], 0);
  EXPECT_EQ(p.Tension, 0.25);
  EXPECT_EQ(p.Roughness, 12.0);
  EXPECT_EQ(p.Sigma, 0.5);
  EXPECT_EQ(p.spareD, 0.001);
  EXPECT_EQ(sizeof(ShrnkWrapParams), 64u);
  EXPECT_EQ(SetDefaultShrnkWrapParams(nullptr), -2);
}

TEST_F(ShrinkKnotsTest, SnappingAKnotKeepsTheShape) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 1 + seed % 4, 8, 3, seed % 2 == 0);
    ASSERT_NE(c, nullptr);
    std::vector<double> before(c->knotsU, c->knotsU + NumKnotsU(c));
    Bspline* ref = BuildRandomCurve(seed, 1 + seed % 4, 8, 3, seed % 2 == 0);
    const int interior = c->interiorU;
    const double range = c->umax - c->umin;
    const int p = c->degreeU;

    // Within 1e-6 of the range above a knot: snaps down, nothing inserted.
    double t = before[p + 2] + 0.4e-6 * range;
    int inserted = -1;
    ASSERT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), 0);
    EXPECT_EQ(t, before[p + 2]);
    EXPECT_EQ(inserted, 0);
    // Just below a knot: the lower knot is tried first, then the upper one.
    t = before[p + 2] - 0.4e-6 * range;
    ASSERT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), 0);
    EXPECT_EQ(t, before[p + 2]);
    EXPECT_EQ(c->interiorU, interior);

    t = 0.5 * (before[p + 1] + before[p + 2]);
    const double want = t;
    ASSERT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), 0);
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(t, want);
    EXPECT_EQ(c->interiorU, interior + 1);
    ExpectSameCurve(ref, c, 1e-12);

    t = c->umax + 0.01;
    EXPECT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), -2);
    t = 0.5;
    EXPECT_EQ(SnapInsertOneKnotToObject(c, 1, &t, &inserted), -2);  // a curve has no v
    FreeBspline(c);
    FreeBspline(ref);
  }
  double t = 0.5;
  EXPECT_EQ(SnapInsertOneKnotToObject(nullptr, 0, &t, nullptr), -2);
}

TEST_F(ShrinkKnotsTest, SnappingInVOfASurface) {
  PatchOptions o;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  Bspline* ref = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  ASSERT_NE(s, nullptr);
  double t = 0.37;
  int inserted = 0;
  ASSERT_EQ(SnapInsertOneKnotToObject(s, 1, &t, &inserted), 0);
  EXPECT_EQ(inserted, 1);
  EXPECT_EQ(s->interiorV, ref->interiorV + 1);
  EXPECT_EQ(s->interiorU, ref->interiorU);
  ExpectSameSurface(ref, s, 1e-12);
  FreeBspline(s);
  FreeBspline(ref);
}

TEST_F(ShrinkKnotsTest, UniformLocationsSplitTheLongestInterval) {
  const double bezier[8] = {0, 0, 0, 0, 1, 1, 1, 1};
  double* loc = nullptr;
  int count = 0;
  ASSERT_EQ(FindUniformKnotLocInInterval(bezier, 8, 3, 0.0, 1.0, 3, &loc, &count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(loc[0], 0.5);
  EXPECT_EQ(loc[1], 0.25);  // ties go to the first interval
  EXPECT_EQ(loc[2], 0.75);
  Free(loc);

  // The list holds a, the knots between a and b, and b.
  const double knots[10] = {0, 0, 0, 0, 0.25, 0.5, 1, 1, 1, 1};
  BeginTrackingMallocs();
  ASSERT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, 0.125, 1.0, 2, &loc, &count), 0);
  FreeTrackedMallocs();      // the result survives the caller's scope
  EXPECT_EQ(loc[0], 0.75);   // [0.5, 1]
  EXPECT_EQ(loc[1], 0.375);  // first of the three intervals of length 1/4
  Free(loc);

  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, 0.5, 0.5, 1, &loc, &count), -2);
  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, -0.1, 0.5, 1, &loc, &count), -2);
  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, 0.1, 0.5, 0, &loc, &count), -2);
  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 0, 0.1, 0.5, 1, &loc, &count), -2);
  EXPECT_EQ(loc, nullptr);
}

TEST_F(ShrinkKnotsTest, SpreadingKnotsOverAnInterval) {
  Bspline* c = BuildRandomCurve(3, 3, 7);
  Bspline* ref = BuildRandomCurve(3, 3, 7);
  ASSERT_NE(c, nullptr);
  const int interior = c->interiorU;
  ASSERT_EQ(InsertKnotsUniformlyWithinInterval(c, 0, 0.8, 0.3, 4), 0);  // ends in any order
  EXPECT_EQ(c->interiorU, interior + 4);
  int inside = 0;
  for (int k = 0; k < NumKnotsU(c); ++k)
    if (c->knotsU[k] > 0.3 && c->knotsU[k] < 0.8) ++inside;
  int insideRef = 0;
  for (int k = 0; k < NumKnotsU(ref); ++k)
    if (ref->knotsU[k] > 0.3 && ref->knotsU[k] < 0.8) ++insideRef;
  EXPECT_EQ(inside, insideRef + 4);
  ExpectSameCurve(ref, c, 1e-12);
  EXPECT_EQ(InsertKnotsUniformlyWithinInterval(c, 0, 0.3, 0.3 + 1e-8, 1), -2);
  EXPECT_EQ(InsertKnotsUniformlyWithinInterval(c, 0, 0.3, 0.4, 0), 0);
  FreeBspline(c);
  FreeBspline(ref);

  PatchOptions o;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - y; }, o);
  ASSERT_NE(s, nullptr);
  Bspline* out = nullptr;
  BeginTrackingMallocs();
  ASSERT_EQ(LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 0.6, 0.9, 3, 2, &out), 0);
  FreeTrackedMallocs();
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->interiorU, s->interiorU + 3);
  EXPECT_EQ(out->interiorV, s->interiorV + 2);
  ExpectSameSurface(s, out, 1e-12);
  FreeBspline(out);
  EXPECT_EQ(LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 1.6, 0.9, 3, 2, &out), -2);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 0.6, 0.9, 0, 1, &out), 0);
  EXPECT_EQ(out->interiorU, s->interiorU);
  FreeBspline(out);
  FreeBspline(s);
}

TEST_F(ShrinkKnotsTest, LocalInsertionAllocationFailures) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, PatchOptions{});
  ASSERT_NE(s, nullptr);
  const int failures = RunMakerWithInjectedFailures(120, 3, [&](Bspline** out) {
    return LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 0.6, 0.9, 3, 2, out);
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

TEST_F(ShrinkKnotsTest, KnotsNeededForHeldRows) {
  PatchOptions o;
  o.nu = 4;
  o.nv = 4;
  Bspline* s = BuildFunctionPatch([](double x, double) { return x; }, o);
  ASSERT_NE(s, nullptr);
  int nU = -1, nV = -1;
  const int fixed[4] = {2, -1, 2, -5};
  ASSERT_EQ(ComputeNumSrfShrinkWrapNeededKnots(s, fixed, &nU, &nV), 0);
  EXPECT_EQ(nU, 4);  // max(2, 1) + 3 + 3 - 4
  EXPECT_EQ(nV, 0);  // max(2, 1) - 4 < 0
  const int held[4] = {0, 1, 0, 1};
  ASSERT_EQ(ComputeNumSrfShrinkWrapNeededKnots(s, held, &nU, &nV), 0);
  EXPECT_EQ(nU, 0);  // 2 + 1 + 1 = 4 rows, there are 4
  EXPECT_EQ(nV, 2);
  Bspline* ref = BuildFunctionPatch([](double x, double) { return x; }, o);
  ASSERT_EQ(InsertSurfShrinkWrapKnots(s, fixed), 0);
  EXPECT_EQ(NumCtrlU(s), 8);
  EXPECT_EQ(NumCtrlV(s), 4);
  ExpectSameSurface(ref, s, 1e-12);
  EXPECT_EQ(ComputeNumSrfShrinkWrapNeededKnots(nullptr, fixed, &nU, &nV), -2);
  FreeBspline(s);
  FreeBspline(ref);
}

TEST_F(ShrinkKnotsTest, FreeBlockOfAParameterBox) {
  PatchOptions o;
  o.nu = 10;  // u knots 0, 1/7, ..., 1
  o.nv = 6;   // v knots 0, 1/3, 2/3, 1
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  ASSERT_NE(s, nullptr);
  int nU, firstU, nV, firstV;
  int freeSides[4] = {-1, -1, -1, -1};
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(s, 0, 0, 1, 1, freeSides, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_EQ(firstU, 0);
  EXPECT_EQ(nU, 10);
  EXPECT_EQ(firstV, 0);
  EXPECT_EQ(nV, 6);
  // Sides in the box order: 0 u-min, 1 v-min, 2 u-max, 3 v-max; counts limited to the degree.
  int held[4] = {0, 5, 1, -1};
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(s, 0, 0, 1, 1, held, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_EQ(held[1], 3);
  EXPECT_EQ(firstU, 1);
  EXPECT_EQ(nU, 10 - 3);  // row 0 held at u-min, rows 0 and 1 from u-max
  EXPECT_EQ(firstV, 4);
  EXPECT_EQ(nV, 2);
  // An interior box: the points whose support lies inside it.
  const double* ku = s->knotsU;
  int none[4] = {-1, -1, -1, -1};
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(s, ku[4], 0, ku[9], 1, none, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_EQ(firstU, 4);
  EXPECT_EQ(nU, 9 - 4 - 4 + 1);
  EXPECT_EQ(GetFreeCntrlPntsInParamBox(s, 0.5, 0, 0.5, 1, none, &nU, &firstU, &nV, &firstV), -2);
  FreeBspline(s);
}

TEST_F(ShrinkKnotsTest, GridSortsAndBoxSelection) {
  // 3 columns x 2 rows, u fastest.
  double x[6] = {0, 1, 2, 3, 4, 5}, y[6] = {0, 0, 0, 0, 0, 0}, z[6] = {0, 0, 0, 0, 0, 0};
  double keys[6] = {3, 1, 2, 9, 8, 7};
  Sort3DPointsUsing1DPoints(x, y, z, keys, 3, 2, 1);
  const double rowX[6] = {1, 2, 0, 5, 4, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(x[i], rowX[i]);
  double cx[6] = {0, 1, 2, 3, 4, 5}, cy[6] = {}, cz[6] = {};
  double ck[6] = {5, 0, 5, 1, 1, 1};
  Sort3DPointsUsing1DPoints(cx, cy, cz, ck, 3, 2, 0);  // the columns: stride 3
  const double colX[6] = {3, 1, 5, 0, 4, 2};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(cx[i], colX[i]);

  // A shuffled 2 x 2 grid comes back in u, then v order, keys travelling with their points.
  double gx[4] = {11, 10, 1, 0}, gy[4] = {0}, gz[4] = {0};
  double u[4] = {1, 0, 1, 0}, v[4] = {1, 1, 0, 0};
  Sort3DPointsUsing2DPoints(gx, gy, gz, u, v, 2, 2);
  const double gridX[4] = {0, 1, 10, 11};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(gx[i], gridX[i]);

  const float px[5] = {0.1f, 0.5f, 0.9f, 0.5f, 0.45f};
  const float py[5] = {0.5f, 0.5f, 0.5f, 0.95f, 0.2f};
  const float pz[5] = {1, 2, 3, 4, 5};
  Cloud* cloud = MakeCld(px, py, pz, 5, nullptr);
  ASSERT_NE(cloud, nullptr);
  ASSERT_EQ(SelectDiffCloudInParamBox(cloud, 0.4, 0.2, 0.9, 0.9), 0);
  ASSERT_EQ(cloud->npts, 3);
  EXPECT_EQ(cloud->z[0], 2.0f);
  EXPECT_EQ(cloud->z[1], 3.0f);
  EXPECT_EQ(cloud->z[2], 5.0f);
  FreeCloud(cloud);
}

}  // namespace
