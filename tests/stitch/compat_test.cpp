// Object sets made compatible: shapes stay, the knot vectors become bit-identical; the
// distinct interior knots of a direction.
#include <cmath>
#include <vector>

#include "bspline/cclone.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class ObjSetCompatibleTest : public KernelTest {};

TEST_F(ObjSetCompatibleTest, ShapesStayAndKnotVectorsBecomeIdentical) {
  // Curves of one degree on different ranges and knots, one with a double knot, and a
  // surface taken in v.
  Bspline* c0 = BuildCurve(3, 3, {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 0, 4, 1, 1, 5, 0, 2, 6, 1, 0},
                           ClampedKnots(3, 7, 2.0, 5.0, KnotLayout::Random, 4));
  Bspline* c1 = BuildCurve(3, 3, {0, 1, 0, 1, 1, 1, 2, 3, 0, 3, 1, 2, 4, 0, 1, 5, 2, 2},
                           {0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1});
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; },
                                  {.nv = 6, .vmin = -1.0, .vmax = 3.0, .layout = KnotLayout::Random});
  Bspline* objs[3] = {c0, c1, s};
  Bspline* before[3];
  for (int i = 0; i < 3; ++i) before[i] = CopyBsplineStruct(objs[i]);
  int dirs[3] = {0, 0, 1};
  MakeObjSetCompatible(objs, dirs, 3, 0);
  ASSERT_FALSE(KernelFailedNow());
  for (int i = 0; i < 3; ++i) EXPECT_LT(ShapeDiff(before[i], objs[i], true), 1e-10) << i;
  const int nk = NumKnotsU(c0);
  ASSERT_TRUE(NumKnotsU(c1) == nk && NumKnotsV(s) == nk);
  int doubled = 0;  // c1's double knot survives with its multiplicity
  for (int k = 0; k < nk; ++k) {
    EXPECT_EQ(c0->knotsU[k], c1->knotsU[k]);
    EXPECT_EQ(c0->knotsU[k], s->knotsV[k]);
    doubled += c0->knotsU[k] == 0.5;
  }
  EXPECT_EQ(doubled, 2);
  EXPECT_TRUE(c0->umin == 0.0 && c0->umax == 1.0 && s->vmax == 1.0);
  for (Bspline* b : before) FreeBspline(b);

  const int failures = RunWithInjectedFailures(400, 7, [&] {
    Bspline* set[2] = {CopyCurveBspline(c0), BuildRandomCurve(9u, 3, 9)};
    if (set[0] && set[1]) MakeObjSetCompatible(set, nullptr, 2, 0);
    const int r = set[0] && set[1] && !KernelFailedNow() ? 0 : -2;
    for (Bspline* b : set) FreeBspline(b);
    return r;
  });
  EXPECT_GT(failures, 0);
  for (Bspline* b : objs) FreeBspline(b);
}

// With scaleOther a surface's other direction is scaled by the factor that maps the set's
// direction onto [0, 1], and the curves on the surface follow both: S'(u / 2, v / 2) = S(u, v).
TEST_F(ObjSetCompatibleTest, ScalingTheOtherDirectionKeepsTheSurfaceAndItsCurves) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x - y; },
                                  {.umin = 0.0, .umax = 2.0, .vmin = 1.0, .vmax = 3.0,
                                   .layout = KnotLayout::Random});
  Bspline* c = BuildCurveOnSurface(s, 2, {0.5, 1.5, 1.0, 2.0, 1.8, 2.5});
  Bspline* before = CopyBsplineStruct(s);
  const double t[3] = {0.0, 0.4, 1.0};
  double onCurve[3][3];
  for (int i = 0; i < 3; ++i) RefEvalCurve(c, t[i], onCurve[i]);
  Bspline* objs[1] = {s};
  int dirs[1] = {0};
  MakeObjSetCompatible(objs, dirs, 1, 1);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_TRUE(s->umin == 0.0 && s->umax == 1.0 && s->vmin == 0.5 && s->vmax == 1.5);
  for (double u : {0.0, 0.7, 2.0})
    for (double v : {1.0, 2.2, 3.0}) {
      double a[3], b[3];
      RefEvalSurface(before, u, v, a);
      RefEvalSurface(s, u / 2, v / 2, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12);
    }
  for (int i = 0; i < 3; ++i) {
    double p[3];
    RefEvalCurve(c, t[i], p);
    EXPECT_NEAR(p[0], onCurve[i][0] / 2, 1e-12);
    EXPECT_NEAR(p[1], onCurve[i][1] / 2, 1e-12);
  }
  FreeBspline(before);
  FreeBspline(s);
}

}  // namespace
