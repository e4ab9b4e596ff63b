// Curve lists of surfaces: the parameter box of all curves against their sampled points,
// clipped to the owner's domain; trim loops dropped from a set while the curves stay listed;
// float arrays reversed.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/sfree.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveList : public KernelTest {};

TEST_F(CurveList, ExtremesLoopsAndReversal) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x - y; }));
  Bspline* a = BuildCurveOnSurface(s, 1, {0.2, 0.3, 0.6, 0.1});
  Bspline* b = BuildCurveOnSurface(s, 1, {0.4, 0.5, 0.7, 0.8});
  double umin = 0, umax = 0, vmin = 0, vmax = 0;
  GetCurveListExtremes(s->curves, &umin, &umax, &vmin, &vmax);
  EXPECT_NEAR(umin, 0.2, 1e-12);
  EXPECT_NEAR(umax, 0.7, 1e-12);
  EXPECT_NEAR(vmin, 0.1, 1e-12);
  EXPECT_NEAR(vmax, 0.8, 1e-12);
  // A curve beyond the domain is clipped to it.
  BuildCurveOnSurface(s, 1, {0.5, 0.5, 1.4, -0.3});
  GetCurveListExtremes(s->curves, &umin, &umax, &vmin, &vmax);
  EXPECT_TRUE(umin == 0.2 && umax == 1.0 && vmin == 0.0);
  double untouched = 9.0;
  GetCurveListExtremes(nullptr, &untouched, &untouched, &untouched, &untouched);
  EXPECT_EQ(untouched, 9.0);

  // Loops go, the curves stay on the list (the sanitizer would see them freed).
  Bspline* t = keep(BuildFunctionPatch([](double x, double y) { return x * y; }));
  AddLoop(s, {a, b});
  AddLoop(t, {BuildCurveOnSurface(t, 1, {0.1, 0.1, 0.9, 0.9})});
  Bspline* set[3] = {s, nullptr, t};
  DeleteTrimInfoOfBsplSet(set, 3);
  EXPECT_TRUE(s->trims == nullptr && t->trims == nullptr);
  EXPECT_EQ(s->curves->item->owner, s);
  EXPECT_EQ(a->X[0][0], 0.2);

  std::vector<float> v = {1, 2, 3, 4, 5}, w = v;
  reverse_array(w.data(), 5);
  EXPECT_TRUE(std::equal(v.rbegin(), v.rend(), w.begin()));
  reverse_array(w.data(), 4);
  EXPECT_EQ(w, (std::vector<float>{2, 3, 4, 5, 1}));
}

}  // namespace
