// Knots for the shrink-wrap fits: snapping or inserting single knots and spreading knots over
// intervals (the shape never changes), and the knots and free control points that held rows
// and parameter boxes give.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "shrinkwrap/shrink.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class ShrinkKnotsTest : public KernelTest {};

// Within 1e-6 of the range of a knot a value snaps to it (from above, and from below after the
// lower knot was tried); elsewhere it is inserted. Also in v of a surface.
TEST_F(ShrinkKnotsTest, SnappingOrInsertingAKnotKeepsTheShape) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    Bspline* c = BuildRandomCurve(seed, 1 + seed % 4, 8, 3, seed % 2 == 0);
    Bspline* ref = BuildRandomCurve(seed, 1 + seed % 4, 8, 3, seed % 2 == 0);
    const double knot = c->knotsU[c->degreeU + 2], mid = 0.5 * (c->knotsU[c->degreeU + 1] + knot);
    int inserted = -1;
    for (double t0 : {knot + 0.4e-6, knot - 0.4e-6, mid}) {
      double t = t0;
      ASSERT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), 0);
      EXPECT_EQ(t, t0 == mid ? mid : knot);
      EXPECT_EQ(inserted, t0 == mid);
    }
    EXPECT_EQ(c->interiorU, ref->interiorU + 1);
    EXPECT_LT(ShapeDiff(ref, c), 1e-12);
    double t = c->umax + 0.01;
    EXPECT_EQ(SnapInsertOneKnotToObject(c, 0, &t, &inserted), -2);
    t = 0.5;
    EXPECT_EQ(SnapInsertOneKnotToObject(c, 1, &t, &inserted), -2);  // a curve has no v
    for (Bspline* obj : {c, ref}) FreeBspline(obj);
  }
  const PatchOptions o{.layout = KnotLayout::Random};
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  Bspline* ref = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  double t = 0.37;
  int inserted = 0;
  ASSERT_EQ(SnapInsertOneKnotToObject(s, 1, &t, &inserted), 0);
  EXPECT_TRUE(inserted == 1 && s->interiorV == ref->interiorV + 1 && s->interiorU == ref->interiorU);
  EXPECT_LT(ShapeDiff(ref, s), 1e-12);
  for (Bspline* obj : {s, ref}) FreeBspline(obj);
}

TEST_F(ShrinkKnotsTest, SpreadKnotsSplitTheLongestIntervalAndKeepTheShape) {
  // The list holds a, the knots between a and b, and b; ties go to the first interval.
  const double knots[10] = {0, 0, 0, 0, 0.25, 0.5, 1, 1, 1, 1};
  double* loc = nullptr;
  int count = 0;
  BeginTrackingMallocs();
  ASSERT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, 0.125, 1.0, 3, &loc, &count), 0);
  FreeTrackedMallocs();  // the result survives the caller's scope
  EXPECT_EQ(std::vector<double>(loc, loc + count), (std::vector<double>{0.75, 0.375, 0.625}));
  Free(loc);
  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, 0.5, 0.5, 1, &loc, &count), -2);
  EXPECT_EQ(FindUniformKnotLocInInterval(knots, 10, 3, -0.1, 0.5, 1, &loc, &count), -2);
  EXPECT_EQ(loc, nullptr);

  Bspline* c = BuildRandomCurve(3, 3, 7);
  Bspline* ref = BuildRandomCurve(3, 3, 7);
  ASSERT_EQ(InsertKnotsUniformlyWithinInterval(c, 0, 0.8, 0.3, 4), 0);  // ends in any order
  int inside = 0;
  for (int k = 0; k < NumKnotsU(c); ++k) inside += c->knotsU[k] > 0.3 && c->knotsU[k] < 0.8;
  for (int k = 0; k < NumKnotsU(ref); ++k) inside -= ref->knotsU[k] > 0.3 && ref->knotsU[k] < 0.8;
  EXPECT_TRUE(inside == 4 && c->interiorU == ref->interiorU + 4);
  EXPECT_LT(ShapeDiff(ref, c), 1e-12);
  EXPECT_EQ(InsertKnotsUniformlyWithinInterval(c, 0, 0.3, 0.3 + 1e-8, 1), -2);
  for (Bspline* obj : {c, ref}) FreeBspline(obj);

  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - y; });
  Bspline* out = nullptr;
  ASSERT_EQ(LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 0.6, 0.9, 3, 2, &out), 0);
  EXPECT_TRUE(out->interiorU == s->interiorU + 3 && out->interiorV == s->interiorV + 2);
  EXPECT_LT(ShapeDiff(s, out), 1e-12);
  FreeBspline(out);
  EXPECT_EQ(LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 1.6, 0.9, 3, 2, &out), -2);
  EXPECT_EQ(out, nullptr);
  const int failures = RunMakerWithInjectedFailures(120, 3, [&](Bspline** r) {
    return LocalUnfrmInsertSrfKnots(s, 0.1, 0.2, 0.6, 0.9, 3, 2, r);
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

TEST_F(ShrinkKnotsTest, HeldRowsAndParameterBoxes) {
  // Held rows in the isoparametric side order (0 u-min, 1 v-max, 2 u-max, 3 v-min).
  PatchOptions o{.nu = 4, .nv = 4};
  Bspline* s = BuildFunctionPatch([](double x, double) { return x; }, o);
  Bspline* ref = BuildFunctionPatch([](double x, double) { return x; }, o);
  int nU = -1, nV = -1;
  const int fixed[4] = {2, -1, 2, -5}, held[4] = {0, 1, 0, 1};
  ASSERT_EQ(ComputeNumSrfShrinkWrapNeededKnots(s, fixed, &nU, &nV), 0);
  EXPECT_TRUE(nU == 4 && nV == 0);  // max(2, 1) + 3 + 3 - 4; max(2, 1) - 4 < 0
  ASSERT_EQ(ComputeNumSrfShrinkWrapNeededKnots(s, held, &nU, &nV), 0);
  EXPECT_TRUE(nU == 0 && nV == 2);  // 2 + 1 + 1 = 4 rows, there are 4
  ASSERT_EQ(InsertSurfShrinkWrapKnots(s, fixed), 0);
  EXPECT_TRUE(NumCtrlU(s) == 8 && NumCtrlV(s) == 4);
  EXPECT_LT(ShapeDiff(ref, s), 1e-12);
  for (Bspline* obj : {s, ref}) FreeBspline(obj);

  // Free block in the box order (0 u-min, 1 v-min, 2 u-max, 3 v-max), counts limited to the
  // degree; u knots 0, 1/7, ..., 1 and v knots 0, 1/3, 2/3, 1.
  o.nu = 10, o.nv = 6;
  Bspline* b = BuildFunctionPatch([](double, double) { return 0.0; }, o);
  const double* ku = b->knotsU;
  int firstU, firstV;
  int none[4] = {-1, -1, -1, -1}, sides[4] = {0, 5, 1, -1};
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(b, 0, 0, 1, 1, none, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_TRUE(firstU == 0 && nU == 10 && firstV == 0 && nV == 6);
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(b, 0, 0, 1, 1, sides, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_EQ(sides[1], 3);
  EXPECT_TRUE(firstU == 1 && nU == 7 && firstV == 4 && nV == 2);
  // An interior box: the points whose support lies inside it.
  ASSERT_EQ(GetFreeCntrlPntsInParamBox(b, ku[4], 0, ku[9], 1, none, &nU, &firstU, &nV, &firstV), 0);
  EXPECT_TRUE(firstU == 4 && nU == 2);
  EXPECT_EQ(GetFreeCntrlPntsInParamBox(b, 0.5, 0, 0.5, 1, none, &nU, &firstU, &nV, &firstV), -2);
  FreeBspline(b);

  // A difference cloud (x = u, y = v) keeps, in order, exactly the points inside the box.
  std::vector<float> cu, cv, cz;
  for (int i = 0; i < 40; ++i) cu.push_back(0.025f * i), cv.push_back(float((7 * i) % 11) / 10), cz.push_back(float(i));
  Cloud* cloud = MakeCld(cu.data(), cv.data(), cz.data(), 40, nullptr);
  ASSERT_EQ(SelectDiffCloudInParamBox(cloud, 0.2, 0.3, 0.7, 0.8), 0);
  std::vector<float> inside;
  for (int i = 0; i < 40; ++i)
    if (cu[i] >= 0.2 && cu[i] <= 0.7 && cv[i] >= 0.3 && cv[i] <= 0.8) inside.push_back(cz[i]);
  EXPECT_EQ(std::vector<float>(cloud->z, cloud->z + cloud->npts), inside);
  FreeCloud(cloud);
}

// Grid runs sorted by keys: columns (dir 0), rows (dir 1), or rows by u and then columns by v.
// Every point travels with its keys (x holds the u key, y the v key) and no point is lost.
TEST_F(ShrinkKnotsTest, GridRunsSortByTheirKeys) {
  std::mt19937 rng(4);
  const int n = 5, m = 4;
  for (int mode : {0, 1, 2}) {
    std::vector<double> x(n * m), y(n * m), z(n * m), u(n * m), v(n * m);
    double zsum = 0.0;
    for (int i = 0; i < n * m; ++i) {
      x[i] = u[i] = double(rng() % 7), y[i] = v[i] = double(rng() % 5), z[i] = x[i] + 10 * y[i];
      zsum += z[i];
    }
    if (mode < 2)
      Sort3DPointsUsing1DPoints(x.data(), y.data(), z.data(), u.data(), n, m, mode);
    else
      Sort3DPointsUsing2DPoints(x.data(), y.data(), z.data(), u.data(), v.data(), n, m);
    const std::vector<double>& key = mode == 2 ? v : u;
    for (int i = 0; i < n * m; ++i) {
      EXPECT_EQ(z[i], x[i] + 10 * y[i]);
      EXPECT_EQ(x[i], u[i]);
      EXPECT_TRUE(mode != 2 || y[i] == v[i]);
      const int next = mode == 1 ? (i % n + 1 < n ? i + 1 : -1) : (i + n < n * m ? i + n : -1);
      EXPECT_TRUE(next < 0 || key[i] <= key[next]) << mode << " " << i;
      zsum -= z[i];
    }
    EXPECT_EQ(zsum, 0.0);
  }
}

}  // namespace
