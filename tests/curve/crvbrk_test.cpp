// Curves on a surface broken at the boundary of its parameter rectangle: where they cross it,
// which portions are kept, straight pieces along the edges, the trim loop and curve list
// updated, and no change at all when memory fails.
#include <algorithm>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/crvbrk.h"
#include "tests/bspline/trimloops.h"
#include "tests/surface/recordviews.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveBreakTest : public KernelTest {};

Bspline* Plane() {
  return BuildFunctionPatch([](double x, double y) { return x * y; });
}

void At(const Bspline* c, double t, double uv[3]) { RefEvalCurve(c, t, uv); }

// Out through u = 1 near t = 0.38 and back near t = 0.62.
const std::vector<double> kBulge = {0.5, 0.2, 1.6, 0.5, 0.5, 0.8};

TEST_F(CurveBreakTest, CrossingsOfTheRectangle) {
  Bspline* s = Plane();
  Bspline* inside = BuildCurveOnSurface(s, 3, {0.1, 0.1, 0.9, 0.2, 0.2, 0.8, 0.9, 0.9});
  Bspline* bulge = BuildCurveOnSurface(s, 2, kBulge);
  std::vector<double> params(kMaxBoundaryCrossings);
  int n = 0;
  ASSERT_EQ(FindBoundaryCrossings(bulge, params.data(), &n), 0);
  ASSERT_EQ(n, 4);
  for (int i : {1, 2}) {
    double p[3];
    At(bulge, params[i], p);
    EXPECT_NEAR(p[0], 1.0 + 1e-6, 1e-6);  // on the widened rectangle, to the refiner's 1e-6
  }
  // A curve that never leaves has its two ends only, and stays as it is.
  ASSERT_EQ(FindBoundaryCrossings(inside, params.data(), &n), 0);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(BreakCurveOnSurface(inside), 0);
  EXPECT_EQ(ListItems(s), (std::vector<Bspline*>{bulge, inside}));
  FreeBspline(s);
}

TEST_F(CurveBreakTest, ExcursionBesideAnEdgeBecomesAnEdgePiece) {
  Bspline* s = Plane();
  Bspline* bulge = BuildCurveOnSurface(s, 2, kBulge);
  Bspline* back = BuildCurveOnSurface(s, 1, {0.5, 0.8, 0.5, 0.2});
  TrimList* loop = AddLoop(s, {bulge, back});
  Bspline* ref = BuildCurve(2, 2, kBulge);
  ASSERT_EQ(BreakAllCurvesOnSurface(s), 0);

  const std::vector<Bspline*> items = LoopItems(loop);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[3], back);
  const std::vector<Bspline*> list = ListItems(s);
  EXPECT_EQ(list.size(), 4u);
  for (Bspline* c : items) {
    EXPECT_EQ(c->owner, s);
    EXPECT_NE(std::find(list.begin(), list.end(), c), list.end());
  }
  // Inside portions are the curve itself.
  for (int i : {0, 2}) {
    const Bspline* c = items[i];
    for (int k = 0; k <= 6; ++k) {
      const double t = c->umin + (c->umax - c->umin) * k / 6.0;
      double p[3], q[3];
      At(c, t, p);
      At(ref, t, q);
      EXPECT_NEAR(p[0], q[0], 1e-12);
      EXPECT_NEAR(p[1], q[1], 1e-12);
    }
  }
  // The edge piece lies on u = 1 and runs from the exit to the re-entry.
  const Bspline* edge = items[1];
  for (int i = 0; i < NumCtrlU(edge); ++i) EXPECT_EQ(edge->X[0][i], 1.0);
  for (int i = 0; i < 3; ++i) {
    double a[3], b[3];
    At(items[i], items[i]->umax, a);
    At(items[i + 1], items[i + 1]->umin, b);
    EXPECT_NEAR(a[0], b[0], 1e-5);
    EXPECT_NEAR(a[1], b[1], 1e-5);
  }
  FreeBspline(ref);
  FreeBspline(s);
}

TEST_F(CurveBreakTest, PortionBeyondACornerIsDropped) {
  Bspline* s = Plane();
  Bspline* c = BuildCurveOnSurface(s, 2, {0.5, 0.9, 1.5, 1.5, 0.9, 0.5});
  ASSERT_EQ(BreakCurveOnSurface(c), 0);
  const std::vector<Bspline*> list = ListItems(s);
  int onEdge = 0;
  for (const Bspline* p : list) {
    bool edge = true;
    for (int i = 0; i < NumCtrlU(p); ++i) {
      EXPECT_LE(p->X[0][i], 1.0 + 1e-5);
      EXPECT_LE(p->Y[0][i], 1.0 + 1e-5);
      edge = edge && (p->X[0][i] == 1.0 || p->Y[0][i] == 1.0);
    }
    onEdge += edge;
  }
  EXPECT_EQ(list.size(), 4u);  // inside, top edge, (corner dropped), right edge, inside
  EXPECT_EQ(onEdge, 2);
  FreeBspline(s);
}

TEST_F(CurveBreakTest, StraightEdgePieceRunsFromTheFirstPointToTheSecond) {
  EXPECT_EQ(SurfPartEdge2CurveOnSurface(0.0, 0.5, 0.00005, 0.50005, 0), nullptr);
  Bspline* c = SurfPartEdge2CurveOnSurface(0.0, 0.8, 0.0, 0.2, 0);  // downwards along u = 0
  ASSERT_NE(c, nullptr);
  double a[3], b[3], m[3];
  At(c, c->umin, a);
  At(c, c->umax, b);
  At(c, 0.5 * (c->umin + c->umax), m);
  EXPECT_EQ(a[0], 0.0);
  EXPECT_DOUBLE_EQ(a[1], 0.8);
  EXPECT_DOUBLE_EQ(b[1], 0.2);
  EXPECT_NEAR(m[1], 0.5, 1e-15);  // control points at thirds: uniform speed
  FreeBspline(c);
}

TEST_F(CurveBreakTest, CopyBreaksTheCopyOnly) {
  Bspline* s = Plane();
  Bspline* bulge = BuildCurveOnSurface(s, 2, kBulge);
  Bspline* back = BuildCurveOnSurface(s, 1, {0.5, 0.8, 0.5, 0.2});
  AddLoop(s, {bulge, back});
  Bspline* copy = CopySurfaceAndBreakCurves(s);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(LoopItems(s->trims), (std::vector<Bspline*>{bulge, back}));
  const std::vector<Bspline*> items = LoopItems(copy->trims);
  EXPECT_EQ(items.size(), 4u);
  for (Bspline* c : items) {
    EXPECT_EQ(c->owner, copy);
    EXPECT_NE(c, bulge);
    EXPECT_NE(c, back);
  }
  FreeBspline(copy);
  // Loops without curves to refer to are not copied.
  Bspline* bare = Plane();
  AddLoop(bare, {});
  Bspline* bareCopy = CopySurfaceAndBreakCurves(bare);
  ASSERT_NE(bareCopy, nullptr);
  EXPECT_EQ(bareCopy->trims, nullptr);
  FreeBspline(bareCopy);
  FreeBspline(bare);
  FreeBspline(s);
}

TEST_F(CurveBreakTest, FailuresChangeNothing) {
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    Bspline* s = Plane();
    Bspline* bulge = BuildCurveOnSurface(s, 2, kBulge);
    Bspline* back = BuildCurveOnSurface(s, 1, {0.5, 0.8, 0.5, 0.2});
    TrimList* loop = AddLoop(s, {bulge, back});
    const std::vector<Bspline*> list = ListItems(s);
    const int tracked = MallocTrackedCount();
    MallocFailAfter(n, -1);
    Bspline* copy = CopySurfaceAndBreakCurves(s);
    const int r = copy ? BreakCurveOnSurface(bulge) : -2;
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), tracked);
    const bool done = copy && r == 0;
    if (copy) FreeBspline(copy);
    if (done) {
      EXPECT_EQ(LoopItems(loop).size(), 4u);
      FreeBspline(s);
      break;
    }
    ++failures;
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_EQ(ListItems(s), list);
    EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{bulge, back}));
    FreeBspline(s);
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
