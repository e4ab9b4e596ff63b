// Knot tidying: tiny ranges mapped onto [0, 1] with the curves on the surface following,
// near-equal knots merged, wrapped directions clamped, each reported by its bit.
#include <vector>

#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CleanKnotsTest : public KernelTest {};

TEST_F(CleanKnotsTest, TinyRangeIsMappedOntoTheUnitInterval) {
  const std::vector<double> pts = {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 0, 2};
  Bspline* c = BuildCurve(3, 3, pts, {5e-9, 5e-9, 5e-9, 5e-9, 1.5e-8, 1.5e-8, 1.5e-8, 1.5e-8});
  double before[3], after[3];
  RefEvalCurve(c, 1e-8, before);
  EXPECT_EQ(CleanBsplineKnots(c, 1e-6), 1);
  EXPECT_EQ(c->umin, 0.0);
  EXPECT_EQ(c->umax, 1.0);
  RefEvalCurve(c, 0.5, after);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(after[k], before[k], 1e-12);
  FreeBspline(c);

  // A surface short in v: its curves' v coordinates follow, u stays.
  PatchOptions o;
  o.vmin = 2.0;
  o.vmax = 2.0 + 4e-7;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x + y; }, o);
  Bspline* on = BuildCurveOnSurface(s, 1, {0.25, 2.0 + 1e-7, 0.75, 2.0 + 3e-7});
  EXPECT_EQ(CleanBsplineKnots(s, 1e-6), 1);
  EXPECT_EQ(s->vmax, 1.0);
  EXPECT_EQ(s->umax, 1.0);
  EXPECT_NEAR(on->Y[0][0], 0.25, 1e-9);
  EXPECT_NEAR(on->Y[0][1], 0.75, 1e-9);
  EXPECT_EQ(on->X[0][1], 0.75);
  FreeBspline(s);
}

TEST_F(CleanKnotsTest, CloseKnotsMergeAndWrappedEndsClamp) {
  const std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 1, 0, 4, 0, 0, 5, 1, 0};
  Bspline* c = BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.5, 0.5 + 1e-9, 1, 1, 1, 1});
  const int bits = CleanBsplineKnots(c, 1e-6);
  EXPECT_EQ(bits & 2, 2);
  EXPECT_EQ(bits & 9, 0);
  EXPECT_EQ(c->knotsU[4], c->knotsU[5]);
  FreeBspline(c);

  Bspline* w = BuildCurve(3, 3, pts, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::vector<double> before;
  for (int i = 0; i <= 10; ++i) {
    double p[3];
    RefEvalCurve(w, 3.0 + 0.3 * i, p);
    before.insert(before.end(), p, p + 3);
  }
  EXPECT_EQ(CleanBsplineKnots(w, 1e-6), 8);
  EXPECT_EQ(CheckBspline(w, 1e-9), 0);
  for (int i = 0; i <= 10; ++i) {
    double p[3];
    RefEvalCurve(w, 3.0 + 0.3 * i, p);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], before[3 * i + k], 1e-12);
  }
  EXPECT_EQ(CleanBsplineKnots(w, 1e-6), 0);  // nothing left to do
  FreeBspline(w);

  Bspline* point = BuildCurve(1, 3, {0, 0, 0, 1, 1, 1}, {0.5, 0.5, 0.5, 0.5});
  EXPECT_EQ(CleanBsplineKnots(point, 1e-6), -2);
  FreeBspline(point);
}

}  // namespace
