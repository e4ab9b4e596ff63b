// Curves on surfaces cut at tangent breaks: where the breaks are found, and that the pieces take
// the curve's place in the curve list and the trim loop, reproduce it, and leave no leak; a
// failure leaves the surface's lists as they were.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/srfsnip.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class TanBreakTest : public KernelTest {};

// A flat patch z = 0 whose parameters are its x and y.
Bspline* Plane() {
  return BuildFunctionPatch([](double, double) { return 0.0; });
}

// A parabola-free corner: along v = 0.1 to (0.9, 0.1), then up to (0.9, 0.9); the double knot
// at 0.5 sits at the corner.
Bspline* Corner(Bspline* s) {
  return BuildCurveOnSurface(s, 2, {0.1, 0.1, 0.5, 0.1, 0.9, 0.1, 0.9, 0.5, 0.9, 0.9},
                             {0, 0, 0, 0.5, 0.5, 1, 1, 1});
}

std::vector<Bspline*> ListItems(const Bspline* s) {
  std::vector<Bspline*> v;
  for (BsplineList* n = s->curves; n; n = n->next) v.push_back(n->item);
  return v;
}

std::vector<Bspline*> LoopItems(const TrimList* loop) {
  std::vector<Bspline*> v;
  for (BsplineList* n = loop->loopCurves; n; n = n->next) v.push_back(n->item);
  return v;
}

void ExpectSameUV(const Bspline* a, double ta, const Bspline* b, double tb) {
  double p[3], q[3];
  RefEvalCurve(a, ta, p);
  RefEvalCurve(b, tb, q);
  EXPECT_NEAR(p[0], q[0], 1e-12);
  EXPECT_NEAR(p[1], q[1], 1e-12);
}

TEST_F(TanBreakTest, AngleBetweenVectors) {
  const double x[3] = {1, 0, 0}, y[3] = {0, 2, 0}, mx[3] = {-3, 0, 0}, zero[3] = {0, 0, 0};
  const double d[3] = {1, 1, 0};
  EXPECT_EQ(AngleBetweenVectors(x, y), 90.0);
  EXPECT_NEAR(AngleBetweenVectors(x, d), 45.0, 1e-12);
  EXPECT_EQ(AngleBetweenVectors(x, mx), 0.0);  // exactly opposite counts as parallel
  EXPECT_EQ(AngleBetweenVectors(x, zero), 0.0);
}

TEST_F(TanBreakTest, WhichKnotsAreBreaks) {
  // A polyline turning by 90 degrees at 1/3 and by about 20 degrees at 2/3.
  const double turn = 20.0 * M_PI / 180.0;
  Bspline* poly = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0, 1 + std::sin(turn), 1 + std::cos(turn), 0});
  int n = -1;
  double* breaks = nullptr;
  ASSERT_EQ(GetTanDiscontKnots(poly, 25.0, &n, &breaks), 0);
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(breaks[0], 1.0 / 3.0, 1e-15);
  Free(breaks);
  ASSERT_EQ(GetTanDiscontKnots(poly, 90.0, &n, &breaks), 0);  // an angle equal to the threshold
  EXPECT_EQ(n, 1);
  Free(breaks);
  ASSERT_EQ(GetTanDiscontKnots(poly, 15.0, &n, &breaks), 0);
  EXPECT_EQ(n, 2);
  Free(breaks);
  FreeBspline(poly);

  // Going straight back is no break; simple knots of a cubic never are, whatever the shape.
  Bspline* back = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 0, 0, 0});
  ASSERT_EQ(GetTanDiscontKnots(back, 25.0, &n, &breaks), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(breaks, nullptr);
  FreeBspline(back);
  Bspline* wiggle = BuildRandomCurve(4, 3, 9);
  ASSERT_EQ(GetTanDiscontKnots(wiggle, 1.0, &n, &breaks), 0);
  EXPECT_EQ(n, 0);

  Bspline* s = Plane();
  EXPECT_EQ(GetTanDiscontKnots(s, 25.0, &n, &breaks), -2);
  int np = -1;
  Bspline** pieces = nullptr;
  EXPECT_EQ(BreakCurveAtTanDiscont(s, 25.0, &np, &pieces), -2);
  EXPECT_EQ(np, 0);
  // A curve in a parameter plane is measured in space through its surface.
  Bspline* corner = Corner(s);
  ASSERT_EQ(BreakCurveAtTanDiscont(corner, 25.0, &np, &pieces), 0);
  ASSERT_EQ(np, 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(pieces[i]->owner, s);
    ASSERT_EQ(GetTanDiscontKnots(pieces[i], 25.0, &n, &breaks), 0);
    EXPECT_EQ(n, 0);
  }
  FreeBsplineArray(pieces, np);
  FreeBspline(wiggle);
  FreeBspline(s);
}

TEST_F(TanBreakTest, PiecesTakeTheCurvesPlaceInListAndLoop) {
  Bspline* s = Plane();
  Bspline* a = Corner(s);
  Bspline* b = BuildCurveOnSurface(s, 1, {0.9, 0.9, 0.1, 0.9, 0.1, 0.1});  // corner at 0.5
  Bspline* loose = BuildCurveOnSurface(s, 1, {0.3, 0.3, 0.6, 0.3, 0.6, 0.6});  // in no loop
  Bspline* smooth = BuildCurveOnSurface(s, 2, {0.2, 0.5, 0.3, 0.5, 0.4, 0.5, 0.5, 0.5, 0.6, 0.5},
                                        {0, 0, 0, 0.5, 0.5, 1, 1, 1});
  TrimList* loop = AddLoop(s, {a, b});
  Bspline* ref[3] = {Corner(s), BuildCurveOnSurface(s, 1, {0.9, 0.9, 0.1, 0.9, 0.1, 0.1}),
                     BuildCurveOnSurface(s, 1, {0.3, 0.3, 0.6, 0.3, 0.6, 0.6})};
  for (Bspline* r : ref) {  // references only, off the surface
    RemoveCurveFromBsplineList(r);
    r->owner = nullptr;
  }
  Bspline* c3 = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0, 1, 1, 0});  // not a surface: skipped
  Bspline* group[3] = {c3, nullptr, s};

  ASSERT_EQ(ReplaceGroupSrfCrvBsplWithG1ContSubs(group, 3, 25.0), 0);
  EXPECT_EQ(NumCtrlU(c3), 3);
  const std::vector<Bspline*> items = LoopItems(loop);
  ASSERT_EQ(items.size(), 4u);
  const std::vector<Bspline*> list = ListItems(s);
  EXPECT_EQ(list.size(), 7u);  // four loop pieces, two loose pieces, the smooth curve
  for (Bspline* c : items) {
    EXPECT_NE(std::find(list.begin(), list.end(), c), list.end());
    EXPECT_EQ(c->owner, s);
  }
  EXPECT_NE(std::find(list.begin(), list.end(), smooth), list.end());
  // The loop runs through the pieces in order: each piece is its curve on half the range,
  // and consecutive pieces meet.
  for (int i = 0; i < 4; ++i) {
    const Bspline* whole = ref[i / 2];
    const double lo = 0.5 * (i % 2);
    for (int k = 0; k <= 8; ++k) {
      const double t = lo + 0.5 * k / 8.0;
      ExpectSameUV(items[i], t, whole, t);
    }
    if (i < 3) ExpectSameUV(items[i], items[i]->umax, items[i + 1], items[i + 1]->umin);
  }
  int loosePieces = 0;
  for (Bspline* c : list) {
    if (std::find(items.begin(), items.end(), c) != items.end() || c == smooth) continue;
    ++loosePieces;
    ExpectSameUV(c, c->umin, ref[2], c->umin);
    ExpectSameUV(c, c->umax, ref[2], c->umax);
  }
  EXPECT_EQ(loosePieces, 2);
  EXPECT_EQ(s->trims, loop);
  EXPECT_EQ(loop->next, nullptr);
  for (Bspline* r : ref) FreeBspline(r);
  FreeBspline(c3);
  FreeBspline(s);
  (void)a, (void)b, (void)loose;  // freed by the replacement
}

TEST_F(TanBreakTest, ReplacementRefusesPiecesOfAnotherSurface) {
  Bspline* s = Plane();
  Bspline* t = Plane();
  Bspline* a = BuildCurveOnSurface(s, 1, {0, 0, 1, 1});
  Bspline* other = BuildCurveOnSurface(t, 1, {0, 0, 1, 1});
  AddLoop(s, {a});
  Bspline* subs[2] = {a, other};
  EXPECT_EQ(ReplaceTrimCurveWithNSubs(a, 2, subs), -2);
  Bspline* none[2] = {a, nullptr};
  EXPECT_EQ(ReplaceTrimCurveWithNSubs(a, 2, none), -2);
  EXPECT_EQ(ReplaceTrimCurveWithNSubs(a, 0, none), 0);
  EXPECT_EQ(LoopItems(s->trims), std::vector<Bspline*>{a});
  FreeBspline(s);
  FreeBspline(t);
}

TEST_F(TanBreakTest, FailuresLeaveListAndLoopAsTheyWere) {
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    Bspline* s = Plane();
    Bspline* a = Corner(s);
    Bspline* b = BuildCurveOnSurface(s, 1, {0.9, 0.9, 0.1, 0.1});
    TrimList* loop = AddLoop(s, {a, b});
    const std::vector<Bspline*> list = ListItems(s);
    const int tracked = MallocTrackedCount();
    MallocFailAfter(n, -1);
    const int r = ReplaceGroupSrfCrvBsplWithG1ContSubs(&s, 1, 25.0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    if (r == 0) {
      EXPECT_EQ(LoopItems(loop).size(), 3u);
      EXPECT_EQ(ListItems(s).size(), 3u);
      FreeBspline(s);
      break;
    }
    ++failures;
    EXPECT_EQ(r, -2);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(ListItems(s), list);
    EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{a, b}));
    FreeBspline(s);
  }
  EXPECT_GT(failures, 5);
}

}  // namespace
