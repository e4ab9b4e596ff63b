#include <cmath>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "shrinkwrap/crvfair.h"
#include "tests/shrinkwrap/injected_failures.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveFairTest : public KernelTest {
 protected:
  void TearDown() override {
    SmoothCurveRegionCleanUp();
    KernelTest::TearDown();
  }
};

// A gentle 3D curve with a bump in y around its middle; planar (z = 0) on request.
Bspline* BumpCurve(bool planar, double bump = 0.5) {
  std::vector<double> pts;
  for (int i = 0; i < 14; ++i) {
    const double x = i;
    pts.insert(pts.end(), {x, 0.2 * std::sin(x / 3.0) + (i == 7 ? bump : 0.0),
                           planar ? 0.0 : 0.3 * std::sin(x / 4.0)});
  }
  return BuildCurve(3, 3, pts);
}

// Sum of squared changes of the curvature between neighbouring dense samples, per unit length:
// a discrete measure of curvature variation.
double CurvatureVariation(const Bspline* c) {
  const int m = 600;
  double prev = 0.0, sum = 0.0;
  for (int i = 0; i <= m; ++i) {
    const double t = static_cast<double>(i) / m;
    double d1[3], d2[3], cr[3];
    Eval3DPointOnCurve3Array(c, t, 1, d1);
    Eval3DPointOnCurve3Array(c, t, 2, d2);
    VecCrossProd3(d1, d2, cr);
    const double s = VecSize3(d1);
    const double k = VecSize3(cr) / (s * s * s);
    if (i > 0) sum += (k - prev) * (k - prev);
    prev = k;
  }
  return sum;
}

struct Indices {
  int* idx = nullptr;
  int n = 0;
  ~Indices() { Free(idx); }
};

TEST_F(CurveFairTest, FairingABumpLowersCurvatureVariationAndKeepsTheEnds) {
  for (int isMVC : {1, 0}) {
    for (bool planar : {false, true}) {
      Bspline* c = BumpCurve(planar);
      const double before = CurvatureVariation(c);
      ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
      Indices ix;
      ASSERT_EQ(FindCurveSegmentCntrlPnts(c, 0.25, 0.75, &ix.idx, &ix.n), 0);
      Bspline* start = CopyCurveBspline(c);
      const int n = NumCtrlU(c);
      for (int k = 0; k < ix.n; ++k) {
        EXPECT_GE(ix.idx[k], 2);
        EXPECT_LT(ix.idx[k], n - 2);
      }
      int changed = -1;
      double change = -1.0;
      ASSERT_EQ(FairBsplineCurve3(c, ix.idx, ix.n, 40, 0.4, 0.0, 0.1, isMVC, &changed, &change, nullptr), 0);
      EXPECT_EQ(changed, 1) << isMVC << planar;
      EXPECT_GT(change, 0.0);
      EXPECT_LE(change, 0.4 + 1e-9);
      // The variation functional aims at exactly this measure; the energy one lowers it too.
      EXPECT_LT(CurvatureVariation(c), (isMVC ? 0.5 : 0.9) * before) << isMVC << planar;
      for (int i : {0, 1, n - 2, n - 1}) {
        EXPECT_EQ(c->X[0][i], start->X[0][i]);
        EXPECT_EQ(c->Y[0][i], start->Y[0][i]);
        EXPECT_EQ(c->Z[0][i], start->Z[0][i]);
      }
      if (planar) {
        for (int i = 0; i < n; ++i) EXPECT_NEAR(c->Z[0][i], 0.0, 1e-12);  // stays in its plane
      }
      FreeBspline(start);
      SmoothCurveRegionCleanUp();
      FreeBspline(c);
    }
  }
}

TEST_F(CurveFairTest, FairingNeedsItsSetUpOnTheSameCurve) {
  Bspline* c = BumpCurve(false);
  Bspline* other = BumpCurve(false);
  const int idx[4] = {5, 6, 7, 8};
  int changed = -1;
  double change = -1.0;
  EXPECT_EQ(FairBsplineCurve3(c, idx, 4, 10, 0.4, 0.0, 0.1, 1, &changed, &change, nullptr), -2);
  EXPECT_EQ(changed, 0);
  ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  EXPECT_EQ(FairBsplineCurve3(other, idx, 4, 10, 0.4, 0.0, 0.1, 1, &changed, &change, nullptr), -2);
  SmoothCurveRegionCleanUp();
  EXPECT_EQ(FairBsplineCurve3(c, idx, 4, 10, 0.4, 0.0, 0.1, 1, &changed, &change, nullptr), -2);

  // A curve already farther than the tolerance from its set-up shape is left alone.
  ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  c->Y[0][7] += 1.0;
  Bspline* moved = CopyCurveBspline(c);
  ASSERT_EQ(FairBsplineCurve3(c, idx, 4, 10, 0.1, 0.0, 0.1, 1, &changed, &change, nullptr), 0);
  EXPECT_EQ(changed, 0);
  EXPECT_GT(change, 0.1);
  for (int i = 0; i < NumCtrlU(c); ++i) EXPECT_EQ(c->Y[0][i], moved->Y[0][i]);
  FreeBspline(moved);
  FreeBspline(other);
  FreeBspline(c);
}

TEST_F(CurveFairTest, RegionSmoothingAndRangeRefinement) {
  Bspline* c = BumpCurve(false);
  Bspline* start = CopyCurveBspline(c);
  const int n = NumCtrlU(c);
  ASSERT_EQ(SmoothCurveRegion(c, 0.0, 1.0), 0);
  EXPECT_EQ(c->Y[0][0], start->Y[0][0]);  // the run's ends stay
  EXPECT_EQ(c->Y[0][n - 1], start->Y[0][n - 1]);
  EXPECT_LT(c->Y[0][7], start->Y[0][7]);  // the bump is pulled down
  FreeBspline(start);

  // A range inside one span gets knots until degree + 2 spans lie between its ends.
  Bspline* b = BuildRandomCurve(4u, 3, 5, 3, false, KnotLayout::Uniform);
  Indices ix;
  ASSERT_EQ(FindCurveSegmentCntrlPnts(b, 0.05, 0.45, &ix.idx, &ix.n), 0);
  int in = 0;
  for (int k = 0; k < NumKnotsU(b); ++k) in += b->knotsU[k] > 0.05 && b->knotsU[k] < 0.45;
  EXPECT_GE(in, 4);
  EXPECT_GT(ix.n, 0);
  Indices none;
  EXPECT_EQ(FindCurveSegmentCntrlPnts(b, 0.3, 0.3, &none.idx, &none.n), -2);
  FreeBspline(b);
  FreeBspline(c);
}

TEST_F(CurveFairTest, InjectedFailuresRestoreTheCurveAndLeaveNoLeak) {
  Bspline* c = BumpCurve(false);
  ASSERT_EQ(SmoothCurveRegionSetUp(c, 10.0), 0);
  Indices ix;
  ASSERT_EQ(FindCurveSegmentCntrlPnts(c, 0.25, 0.75, &ix.idx, &ix.n), 0);
  Bspline* start = CopyCurveBspline(c);
  const int failures = RunWithInjectedFailures(300, 3, [&] {
    int changed = 0;
    double change = 0.0;
    const int r = FairBsplineCurve3(c, ix.idx, ix.n, 5, 0.4, 0.0, 0.1, 1, &changed, &change, nullptr);
    if (r != 0) {
      for (int i = 0; i < NumCtrlU(c); ++i) EXPECT_EQ(c->Y[0][i], start->Y[0][i]);
    }
    for (int i = 0; i < NumCtrlU(c); ++i) {  // back to the start for the next run
      c->X[0][i] = start->X[0][i];
      c->Y[0][i] = start->Y[0][i];
      c->Z[0][i] = start->Z[0][i];
    }
    return r;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(start);
  SmoothCurveRegionCleanUp();
  FreeBspline(c);
}

}  // namespace
