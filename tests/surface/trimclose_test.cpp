// Closing trim loops within a gap tolerance of 0.1 on the plane x = u, y = v (3D gaps equal
// parameter gaps): close ends meet at their mean, far ends get a bridge, short pieces go unless
// they lie along a side; loops built from loose or overshooting curves come out closed, and a
// self-crossing one is refused.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class TrimClose : public KernelTest {};

Bspline* Plane() {
  return BuildFunctionPatch([](double, double) { return 0.0; });
}

// A straight cubic from a to b on s.
Bspline* Line(Bspline* s, double au, double av, double bu, double bv) {
  std::vector<double> uv;
  for (int i = 0; i < 4; ++i) {
    uv.push_back(au + (bu - au) * i / 3.0);
    uv.push_back(av + (bv - av) * i / 3.0);
  }
  return BuildCurveOnSurface(s, 3, uv);
}

std::vector<double> First(const Bspline* c) { return {c->X[0][0], c->Y[0][0]}; }
std::vector<double> Last(const Bspline* c) {
  const int k = c->degreeU + c->interiorU;
  return {c->X[0][k], c->Y[0][k]};
}

BsplineList* ListOf(const std::vector<Bspline*>& curves) {
  BsplineList* head = nullptr;
  for (auto it = curves.rbegin(); it != curves.rend(); ++it) {
    BsplineList* n = MallocNullBsplineList();
    n->item = *it;
    n->next = head;
    head = n;
  }
  return head;
}

TEST_F(TrimClose, CloseEndsMeetAtTheirMeanAndFarEndsAreBridged) {
  Bspline* s = Plane();
  Bspline* a = Line(s, 0.2, 0.2, 0.8, 0.2);
  Bspline* b = Line(s, 0.8, 0.25, 0.5, 0.8);  // 0.05 from a's end
  Bspline* c = Line(s, 0.5, 0.8, 0.2, 0.4);   // 0.2 short of a's start
  TrimList* loop = AddLoop(s, {a, b, c});
  BsplineList *inserted = nullptr, *removed = nullptr;
  EXPECT_EQ(TrimCurveMerge(s, loop, &inserted, &removed, GlobalTrimGapTol), nullptr);
  EXPECT_EQ(Last(a), (std::vector<double>{0.8, 0.225}));
  EXPECT_EQ(First(b), (std::vector<double>{0.8, 0.225}));
  ASSERT_EQ(GetNumCurvePieces(inserted), 1);
  Bspline* bridge = inserted->item;
  EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{a, b, c, bridge}));
  EXPECT_EQ(s->curves->item, bridge);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-12), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.4), 1);
  FreeNodeList(inserted);
  FreeBspline(s);
}

TEST_F(TrimClose, ShortPiecesGoUnlessTheyLieAlongASide) {
  Bspline* s = Plane();
  Bspline* a = Line(s, 0.0, 0.1, 0.0, 0.8);
  Bspline* shortOnSide = Line(s, 0.0, 0.8, 0.0, 0.85);
  Bspline* b = Line(s, 0.0, 0.85, 0.6, 0.6);
  Bspline* shortInside = Line(s, 0.6, 0.6, 0.62, 0.57);
  Bspline* c = Line(s, 0.62, 0.57, 0.0, 0.1);
  TrimList* loop = AddLoop(s, {a, shortOnSide, b, shortInside, c});
  BsplineList* removed = RemoveTrimPiecesToTol(s, loop, GlobalTrimGapTol);
  EXPECT_EQ(Items(removed), (std::vector<Bspline*>{shortInside}));
  EXPECT_EQ(LoopItems(loop), (std::vector<Bspline*>{a, shortOnSide, b, c}));
  EXPECT_EQ(First(c), (std::vector<double>{0.6, 0.6}));  // starts where the dropped one did
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-12), 0);
  FreeNodeList(removed);
  // A loop of one short curve is never emptied.
  TrimList* single = AddLoop(s, {Line(s, 0.3, 0.3, 0.31, 0.3)});
  EXPECT_EQ(RemoveTrimPiecesToTol(s, single, GlobalTrimGapTol), nullptr);
  EXPECT_EQ(GetNumCurvePieces(single->loopCurves), 1);
  FreeBspline(s);
}

TEST_F(TrimClose, SidesOfBoundaryCurves) {
  Bspline* s = Plane();
  EXPECT_EQ(GetBndryForBndryCrv(BuildCurveOnSurface(s, 2, {0, 0.2, 0, 0.5, 0, 0.9}), s), 0);
  EXPECT_EQ(GetBndryForBndryCrv(BuildCurveOnSurface(s, 3, {0, 0.2, 0, 0.5, 0.5, 0.5, 0, 0.9}), s), -1);
  EXPECT_EQ(GetBndryForBndryCrv(Line(s, 0.1, 1.0, 0.7, 1.0), s), 1);
  EXPECT_EQ(GetBndryForBndryCrv(Line(s, 1.0, 0.9, 1.0, 0.1), s), 2);
  EXPECT_EQ(GetBndryForBndryCrv(Line(s, 0.9, 0.0, 0.2, 0.0), s), 3);
  EXPECT_EQ(GetBndryForBndryCrv(Line(s, 0.0, 0.0, 1.0, 1.0), s), -1);  // corner to corner
  Bspline* other = Plane();
  EXPECT_EQ(GetBndryForBndryCrv(s->curves->item, other), -1);  // not its owner
  FreeBspline(other);
  FreeBspline(s);
}

TEST_F(TrimClose, SnappingLeavesCoincidingEnds) {
  Bspline* s = Plane();
  Bspline* a = Line(s, 0.2, 0.2, 0.8, 0.2);
  Bspline* b = Line(s, 0.8, 0.2, 0.5, 0.8);
  Bspline* c = Line(s, 0.5, 0.83, 0.2, 0.2);  // 0.03 from b's end
  TrimList* loop = AddLoop(s, {a, b, c});
  EXPECT_EQ(RemoveSelfIntersectionToTol(s, loop, GlobalTrimGapTol), loop);
  EXPECT_EQ(Last(a), (std::vector<double>{0.8, 0.2}));
  EXPECT_EQ(Last(b), First(c));
  EXPECT_NEAR(Last(b)[1], 0.815, 1e-15);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-12), 0);
  FreeBspline(s);
}

TEST_F(TrimClose, ConstructedLoopsAreClosedAndHungFirst) {
  Bspline* s = Plane();
  // Overshooting sides of a square, snipped, then closed.
  std::vector<Bspline*> sides = {Line(s, 0.15, 0.2, 0.85, 0.2), Line(s, 0.8, 0.15, 0.8, 0.85),
                                 Line(s, 0.85, 0.8, 0.15, 0.8), Line(s, 0.2, 0.85, 0.2, 0.15)};
  BsplineList* replaced = nullptr;
  TrimList* loop = nullptr;
  double cu[4], cv[4];
  ASSERT_EQ(ConstructTrimCurveList(s, ListOf(sides), 0, 1, cu, cv, 1, 1, 1, &replaced, &loop), 0);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(s->trims, loop);
  EXPECT_EQ(IsOuterTrim(s), 1);
  EXPECT_EQ(Items(replaced), sides);
  EXPECT_EQ(GetNumCurvePieces(loop->loopCurves), 4);
  EXPECT_EQ(IsTrimCurveOpen(loop, 1e-5), 0);
  EXPECT_EQ(FindTrimCurveDirection(s, loop), 2);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), 1);
  EXPECT_EQ(IsPointInTrim(s, 0.1, 0.5), 0);
  FreeNodeList(replaced);

  // A hole with a gap gets its bridge.
  TrimList* hole = nullptr;
  std::vector<Bspline*> tri = {Line(s, 0.4, 0.4, 0.6, 0.4), Line(s, 0.6, 0.4, 0.5, 0.6),
                               Line(s, 0.5, 0.6, 0.4, 0.45)};
  ASSERT_EQ(ConstructTrimCurveList(s, ListOf(tri), 1, 0, cu, cv, 0, 0, 0, nullptr, &hole), 0);
  EXPECT_EQ(s->trims, hole);
  EXPECT_EQ(GetNumCurvePieces(hole->loopCurves), 3);  // 0.05 apart: joined, not bridged
  EXPECT_EQ(IsTrimCurveOpen(hole, 1e-12), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.45), 0);

  // A bow tie is refused with its crossing reported; the trim list stays as it was.
  std::vector<Bspline*> bow = {Line(s, 0.2, 0.2, 0.8, 0.8), Line(s, 0.8, 0.8, 0.8, 0.2),
                               Line(s, 0.8, 0.2, 0.2, 0.8), Line(s, 0.2, 0.8, 0.2, 0.2)};
  TrimList* refused = loop;
  EXPECT_EQ(ConstructTrimCurveList(s, ListOf(bow), 0, 1, cu, cv, 0, 0, 0, nullptr, &refused), -1);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(CountTrimCurves(s), 2);
  FreeBspline(s);
}

TEST_F(TrimClose, LooseCurvesChainByNearestEnds) {
  Bspline* s = Plane();
  // The sides of a square, shuffled, two of them reversed, ends up to 0.05 apart; a stray curve.
  Bspline* bottom = Line(s, 0.2, 0.2, 0.8, 0.2);
  Bspline* right = Line(s, 0.8, 0.85, 0.8, 0.25);  // reversed
  Bspline* top = Line(s, 0.8, 0.8, 0.2, 0.8);
  Bspline* left = Line(s, 0.2, 0.25, 0.2, 0.8);  // reversed
  Bspline* stray = Line(s, 0.5, 0.5, 0.6, 0.6);
  std::vector<Bspline*> curves = {top, stray, left, bottom, right};
  std::vector<int> used(curves.size(), 0);
  double endA[2], endB[2];
  BsplineList* chain = GetSiblingTrimCurveList(curves.data(), 3, 5, endA, endB, used.data());
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(Items(chain), (std::vector<Bspline*>{bottom, right, top, left}));
  EXPECT_EQ(used, (std::vector<int>{1, 0, 1, 1, 1}));
  EXPECT_EQ(endA[0], 0.2);
  EXPECT_EQ(endA[1], 0.2);
  FreeNodeList(chain);
  // Without the top the chain stops open.
  std::vector<Bspline*> open = {stray, left, bottom, right};
  std::vector<int> none(open.size(), 0);
  EXPECT_EQ(GetSiblingTrimCurveList(open.data(), 2, 4, endA, endB, none.data()), nullptr);
  EXPECT_NEAR(endB[0], 0.8, 1e-15);
  EXPECT_NEAR(endB[1], 0.85, 1e-15);
  FreeBspline(s);
}

TEST_F(TrimClose, BridgingFailuresInsertNothing) {
  Bspline* s = Plane();
  std::vector<Bspline*> far = {Line(s, 0.2, 0.2, 0.8, 0.2), Line(s, 0.8, 0.5, 0.5, 0.8),
                               Line(s, 0.5, 0.8, 0.2, 0.5)};
  TrimList* loop = AddLoop(s, far);
  const int failures = RunWithInjectedFailures(200, 1, [&] {
    BsplineList* inserted = MakeTrimCurveContinuous(s, loop, GlobalTrimGapTol);
    if (!inserted) {
      EXPECT_EQ(LoopItems(loop), far);
      EXPECT_EQ(GetNumCurvePieces(s->curves), 3);
      return 1;
    }
    EXPECT_EQ(GetNumCurvePieces(inserted), 2);
    for (BsplineList* n = inserted; n;) {  // take the bridges out again for the next run
      BsplineList* next = n->next;
      for (BsplineList** at = &loop->loopCurves; *at; at = &(*at)->next)
        if ((*at)->item == n->item) {
          BsplineList* gone = *at;
          *at = gone->next;
          Free(gone);
          break;
        }
      FreeBspline(n->item);
      Free(n);
      n = next;
    }
    return 0;
  });
  EXPECT_GT(failures, 0);
  FreeBspline(s);
}

}  // namespace
