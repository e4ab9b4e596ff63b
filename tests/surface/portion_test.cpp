// Trimming a surface to the portion a chain of curves and a pick point select: the picked side
// of a chain across the surface, a closed chain as hole or outer loop, and existing loops kept
// or dropped by where they lie.
#include <cmath>
#include <utility>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class Portion : public KernelTest {};

Bspline* Patch() {
  return BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; });
}

// The chain's list (its nodes become the new loop's).
BsplineList* Chain(const std::vector<Bspline*>& curves) {
  BsplineList* head = nullptr;
  BsplineList** tail = &head;
  for (Bspline* c : curves) {
    *tail = MallocNullBsplineList();
    (*tail)->item = c;
    tail = &(*tail)->next;
  }
  return head;
}

// A closed polygon of degree-1 curves through the corners.
std::vector<Bspline*> Polygon(Bspline* s, const std::vector<double>& uv) {
  std::vector<Bspline*> curves;
  const int n = int(uv.size()) / 2;
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    curves.push_back(BuildCurveOnSurface(s, 1, {uv[2 * i], uv[2 * i + 1], uv[2 * j], uv[2 * j + 1]}));
  }
  return curves;
}

TEST_F(Portion, ChainAcrossTheSurfaceKeepsThePickedSide) {
  for (int below = 0; below < 2; ++below) {
    Bspline* s = Patch();
    Bspline* c = BuildCurveOnSurface(s, 3, {0.0, 0.4, 0.3, 0.45, 0.7, 0.6, 1.0, 0.55});
    double cu[4], cv[4];
    TrimList* loop = nullptr;
    const float pv = below ? 0.2f : 0.8f;
    ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain({c}), 0.5f, pv, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(s->trims, loop);
    EXPECT_EQ(IsTrimCurveOpen(loop, 1e-9), 0);
    // The pick is inside, the other side of the chain outside, whatever the chain's shape.
    for (double u : {0.05, 0.3, 0.5, 0.7, 0.95}) {
      EXPECT_EQ(IsPointInTrim(s, u, 0.1), below) << u;
      EXPECT_EQ(IsPointInTrim(s, u, 0.9), 1 - below) << u;
    }
    FreeBspline(s);
  }
  // A chain that stops short of the sides is extended onto them.
  Bspline* s = Patch();
  Bspline* c = BuildCurveOnSurface(s, 1, {0.2, 0.45, 0.8, 0.55});
  double cu[4], cv[4];
  TrimList* loop = nullptr;
  ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain({c}), 0.5f, 0.2f, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
  for (double u : {0.05, 0.5, 0.95}) {
    EXPECT_EQ(IsPointInTrim(s, u, 0.3), 1) << u;
    EXPECT_EQ(IsPointInTrim(s, u, 0.7), 0) << u;
  }
  FreeBspline(s);
}

TEST_F(Portion, ClosedChainBecomesAHoleOrAnOuterLoopByThePick) {
  for (int inside = 0; inside < 2; ++inside) {
    Bspline* s = Patch();
    auto curves = Polygon(s, {0.3, 0.3, 0.7, 0.3, 0.7, 0.6, 0.3, 0.6});
    double cu[4], cv[4];
    TrimList* loop = nullptr;
    const float pu = inside ? 0.5f : 0.1f;
    ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain(curves), pu, 0.4f, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->hole, inside ? 0 : 1);
    EXPECT_EQ(LoopItems(loop), curves);
    FreeBspline(s);
  }
}

TEST_F(Portion, LoopsTheChainDoesNotCrossStayOrGoByWhereTheyLie) {
  Bspline* s = Patch();
  auto outer = Polygon(s, {0.05, 0.05, 0.95, 0.05, 0.95, 0.95, 0.05, 0.95});
  auto holeFar = Polygon(s, {0.75, 0.1, 0.75, 0.2, 0.85, 0.2, 0.85, 0.1});
  auto holeIn = Polygon(s, {0.45, 0.45, 0.45, 0.5, 0.5, 0.5, 0.5, 0.45});
  TrimList* lOuter = AddLoop(s, outer);
  TrimList* lFar = AddLoop(s, holeFar, 1);
  AddLoop(s, holeIn, 1);
  // A closed chain round the inner hole, picked outside it: a new hole; the loop inside it goes.
  auto chain = Polygon(s, {0.3, 0.3, 0.7, 0.3, 0.7, 0.6, 0.3, 0.6});
  double cu[4], cv[4];
  TrimList* loop = nullptr;
  ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain(chain), 0.2f, 0.8f, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
  ASSERT_NE(loop, nullptr);
  EXPECT_EQ(loop->hole, 1);
  std::vector<TrimList*> loops;
  for (TrimList* l = s->trims; l; l = l->next) loops.push_back(l);
  ASSERT_EQ(loops.size(), 3u);
  EXPECT_EQ(loops[0], loop);
  EXPECT_EQ(LoopItems(lOuter), outer);
  EXPECT_EQ(LoopItems(lFar), holeFar);
  EXPECT_EQ(ListItems(s).size(), 16u);  // the dropped loop's curves stay listed
  FreeBspline(s);
}

TEST_F(Portion, ChainAcrossATrimmedSurfaceCutsItsLoop) {
  for (int below = 0; below < 2; ++below) {
    Bspline* s = Patch();
    auto outer = Polygon(s, {0.05, 0.05, 0.95, 0.05, 0.95, 0.95, 0.05, 0.95});
    AddLoop(s, outer);
    auto hole = Polygon(s, {0.4, 0.7, 0.4, 0.8, 0.6, 0.8, 0.6, 0.7});
    AddLoop(s, hole, 1);
    Bspline* c = BuildCurveOnSurface(s, 3, {0.0, 0.4, 0.3, 0.45, 0.7, 0.6, 1.0, 0.55});
    double cu[4], cv[4];
    TrimList* loop = nullptr;
    const float pv = below ? 0.2f : 0.9f;
    ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain({c}), 0.5f, pv, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(IsTrimCurveOpen(loop, 1e-6), 0);
    // Inside: the old loop's region on the picked side of the chain, the hole still a hole.
    for (double u : {0.02, 0.3, 0.5, 0.7, 0.98}) {
      const bool inOld = u > 0.05 && u < 0.95;
      EXPECT_EQ(IsPointInTrim(s, u, 0.1), below && inOld ? 1 : 0) << u;
      EXPECT_EQ(IsPointInTrim(s, u, 0.9), !below && inOld ? 1 : 0) << u;
    }
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.75), 0);
    FreeBspline(s);
  }
}

// The test patch over a square of parameters of the given side lying `away` sides from the
// origin; At maps shares of the square to its parameters.
struct SquarePatch {
  double lo, side;
  Bspline* s;
  SquarePatch(double side_, double away) : lo(away * side_), side(side_) {
    PatchOptions o;
    o.umin = o.vmin = lo;
    o.umax = o.vmax = lo + side;
    s = BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; }, o);
  }
  std::vector<double> At(std::vector<double> uv) const {
    for (double& x : uv) x = lo + side * x;
    return uv;
  }
};

// A chain from side to side of a trimmed surface whose parameter rectangle has the given side and
// lies `away` sides from the origin, the chain's own parameters running over [0, range], picked
// below or above it: the portion keeps the picked part of the loop and the hole stays out.
// Without an outer loop the rectangle bounds the surface and the portion reaches its sides.
void ExpectChainCutsTheLoop(double side, double away, double range, bool below, bool outerLoop = true) {
  SCOPED_TRACE(testing::Message() << "side " << side << " away " << away << " range " << range << " below " << below
                                  << " outer loop " << outerLoop);
  const SquarePatch sq(side, away);
  Bspline* s = sq.s;
  if (outerLoop) AddLoop(s, Polygon(s, sq.At({0.05, 0.05, 0.95, 0.05, 0.95, 0.95, 0.05, 0.95})));
  AddLoop(s, Polygon(s, sq.At({0.4, 0.7, 0.4, 0.8, 0.6, 0.8, 0.6, 0.7})), 1);
  Bspline* c =
      BuildCurveOnSurface(s, 3, sq.At({0.0, 0.4, 0.3, 0.45, 0.7, 0.6, 1.0, 0.55}), ClampedKnots(3, 4, 0.0, range));
  double cu[4], cv[4];
  TrimList* loop = nullptr;
  const float pu = float(sq.lo + 0.5 * side), pv = float(sq.lo + (below ? 0.2 : 0.9) * side);
  EXPECT_EQ(ConstructSurfBndryPortionTrim(Chain({c}), pu, pv, 0, 0, cu, cv, 0, 0, nullptr, &loop), 0);
  for (double u : {0.02, 0.3, 0.5, 0.7, 0.98}) {
    const bool inOld = !outerLoop || (u > 0.05 && u < 0.95);
    const double x = sq.lo + side * u;
    EXPECT_EQ(IsPointInTrim(s, x, sq.lo + side * 0.1), below && inOld ? 1 : 0) << u;
    EXPECT_EQ(IsPointInTrim(s, x, sq.lo + side * 0.9), !below && inOld ? 1 : 0) << u;
  }
  EXPECT_EQ(IsPointInTrim(s, sq.lo + 0.5 * side, sq.lo + 0.75 * side), 0);
  FreeBspline(s);
}

// Sides 0.01 .. 0.1, at the origin and 1e4 sides away: the chain's ends lie a side apart, so it is
// open and cuts the loop as on the unit rectangle. Ends within the fixed gap for parts of unit
// size (0.1) made it a closed chain, and the portion failed.
TEST_F(Portion, AChainAcrossASmallRectangleIsOpen) {
  for (double side : {0.01, 0.03, 0.1})
    for (double away : {0.0, 1e4})
      for (bool below : {false, true}) ExpectChainCutsTheLoop(side, away, 1.0, below);
}

// Sides 1e-6 and 1e6 (at the origin and 1e4 sides away), and a chain whose own parameters run over
// 1e-6: the chain cuts the loop as on the unit rectangle. The chain's extension to the box was
// asked for the rectangle's diagonal as a length in space, which the extension turns into
// parameter units: on the surface 0.2 x y of side 1e6 it fell short of the box, on side 1e-6 it
// was refused; and crossings of a chain of range 1e-6 were passed over as behind the walk by a
// fixed 1e-6.
TEST_F(Portion, AChainAcrossARectangleOfAnySizeCutsTheLoop) {
  struct Case {
    double side, away, range;
  };
  for (Case k : {Case{1e-6, 0.0, 1.0}, Case{1e-6, 1e4, 1.0}, Case{1e6, 0.0, 1.0}, Case{1e6, 1e4, 1.0},
                 Case{1e6, 0.0, 1e-6}, Case{1.0, 0.0, 1e-6}})
    for (bool below : {false, true}) ExpectChainCutsTheLoop(k.side, k.away, k.range, below);
}

// With no outer loop the rectangle's sides bound the surface, and the box sides closing the
// portion run along them: their meetings are ends of shared stretches, no crossings, and a
// point where the rectangle's side leaves the chain is judged a little inside the rectangle.
TEST_F(Portion, AChainAcrossASurfaceWithoutOuterLoopReachesItsSides) {
  for (double side : {0.01, 1e6})
    for (double away : {0.0, 1e4})
      for (bool below : {false, true}) ExpectChainCutsTheLoop(side, away, side, below, false);
}

// A chain across a hole smaller than the gap tolerance for drawn loops: the walked loop keeps
// the hole's short sides on the picked side, so the hole stays out there.
TEST_F(Portion, AChainAcrossASmallHoleKeepsItsSides) {
  for (bool outerLoop : {false, true})
    for (bool below : {false, true}) {
      SCOPED_TRACE(testing::Message() << "outer loop " << outerLoop << " below " << below);
      Bspline* s = Patch();
      if (outerLoop) AddLoop(s, Polygon(s, {0.05, 0.05, 0.95, 0.05, 0.95, 0.95, 0.05, 0.95}));
      AddLoop(s, Polygon(s, {0.4, 0.45, 0.4, 0.55, 0.6, 0.55, 0.6, 0.45}), 1);
      Bspline* c = BuildCurveOnSurface(s, 3, {0.0, 0.4, 0.3, 0.45, 0.7, 0.6, 1.0, 0.55});
      double cu[4], cv[4];
      TrimList* loop = nullptr;
      ASSERT_EQ(ConstructSurfBndryPortionTrim(Chain({c}), 0.5f, below ? 0.2f : 0.9f, 0, 0, cu, cv, 0, 0, nullptr,
                                              &loop), 0);
      // The chain runs at v 0.49 .. 0.53 over the hole.
      const double v = below ? 0.46 : 0.56;
      for (double u : {0.42, 0.5, 0.58}) EXPECT_EQ(IsPointInTrim(s, u, below ? v : 0.54), 0) << u;
      for (double u : {0.35, 0.65}) EXPECT_EQ(IsPointInTrim(s, u, v), 1) << u;
      FreeBspline(s);
    }
}

// A closed chain across a hole, starting inside the surface's region: its portion lies round
// the chain's end from the crossings; a success must be the rectangle less the hole (or, picked
// outside, the surface less both), never the overlap of the two.
TEST_F(Portion, AClosedChainAcrossAHoleNeverKeepsTheOverlap) {
  for (bool inside : {false, true}) {
    SCOPED_TRACE(inside);
    Bspline* s = Patch();
    AddLoop(s, Polygon(s, {0.4, 0.45, 0.4, 0.55, 0.6, 0.55, 0.6, 0.45}), 1);
    auto chain = Polygon(s, {0.3, 0.3, 0.7, 0.3, 0.7, 0.5, 0.3, 0.5});
    double cu[4], cv[4];
    TrimList* loop = nullptr;
    const float p = inside ? 0.35f : 0.1f;
    BsplineList* nodes = Chain(chain);
    const int r = ConstructSurfBndryPortionTrim(nodes, p, p, 0, 0, cu, cv, 0, 0, nullptr, &loop);
    if (r == 0) {
      EXPECT_EQ(IsPointInTrim(s, 0.5, 0.47), 0);
      EXPECT_EQ(IsPointInTrim(s, 0.35, 0.4), inside ? 1 : 0);
      EXPECT_EQ(IsPointInTrim(s, 0.2, 0.2), inside ? 0 : 1);
    } else {
      EXPECT_EQ(r, -2);  // the refused chain's nodes are used up
      ClearKernelError();
    }
    FreeBspline(s);
  }
}

// A closed chain through the corners (in tenths and hundredths of the side), from corner `start`
// and the other way round when reversed, on a rectangle of the given side `away` sides from the
// origin whose region is its outer loop 0.05 .. 0.95 less the hole 0.4 .. 0.6 x 0.45 .. 0.55,
// picked at `pick` inside the chain or at (0.15, 0.2) outside it: the region left is the old one
// within the chain or without it, by the pick, and the new loop is a hole only when it bounds
// the region from inside (picked outside, the chain not across the outer loop).
void ExpectClosedChainKeepsThePickedSide(const std::vector<double>& corners, int start, bool reversed,
                                         const double pick[2], bool pickIn, bool acrossOuter, double side,
                                         double away) {
  SCOPED_TRACE(testing::Message() << "side " << side << " away " << away << " start " << start << " reversed "
                                  << reversed << " pick in " << pickIn << " across outer " << acrossOuter);
  const int n = int(corners.size()) / 2;
  std::vector<double> chain;
  for (int i = 0; i < n; ++i) {
    const int j = ((start + (reversed ? -i : i)) % n + n) % n;
    chain.push_back(corners[2 * j]);
    chain.push_back(corners[2 * j + 1]);
  }
  const SquarePatch sq(side, away);
  Bspline* s = sq.s;
  AddLoop(s, SquareCurves(s, sq.lo + 0.05 * side, sq.lo + 0.05 * side, sq.lo + 0.95 * side, sq.lo + 0.95 * side));
  AddLoop(s, SquareCurves(s, sq.lo + 0.4 * side, sq.lo + 0.45 * side, sq.lo + 0.6 * side, sq.lo + 0.55 * side,
                          true), 1);
  double cu[4], cv[4];
  TrimList* loop = nullptr;
  const double pu = pickIn ? pick[0] : 0.15, pv = pickIn ? pick[1] : 0.2;
  const int r = ConstructSurfBndryPortionTrim(Chain(Polygon(s, sq.At(chain))), float(sq.lo + side * pu),
                                              float(sq.lo + side * pv), 0, 0, cu, cv, 0, 0, nullptr, &loop);
  EXPECT_EQ(r, 0);
  if (r == 0 && loop) {
    EXPECT_EQ(loop->hole, !pickIn && !acrossOuter ? 1 : 0);
    // Points off every boundary: the grid of tenths shifted by 0.03.
    for (int i = 0; i < 10; ++i)
      for (int j = 0; j < 10; ++j) {
        const double x = 0.1 * i + 0.03, y = 0.1 * j + 0.03;
        bool inChain = false;
        for (int a = 0, b = n - 1; a < n; b = a++)
          if ((chain[2 * a + 1] > y) != (chain[2 * b + 1] > y) &&
              x < chain[2 * a] + (chain[2 * b] - chain[2 * a]) * (y - chain[2 * a + 1]) /
                                     (chain[2 * b + 1] - chain[2 * a + 1]))
            inChain = !inChain;
        const bool inRegion =
            x > 0.05 && x < 0.95 && y > 0.05 && y < 0.95 && !(x > 0.4 && x < 0.6 && y > 0.45 && y < 0.55);
        EXPECT_EQ(IsPointInTrim(s, sq.lo + side * x, sq.lo + side * y), inRegion && inChain == pickIn ? 1 : 0)
            << x << " " << y;
      }
  } else {
    ClearKernelError();
  }
  FreeBspline(s);
}

struct ClosedChainShape {
  std::vector<double> corners;
  int starts[2];  // corners inside the region and outside it
  double pick[2];
  bool acrossOuter;
};

void ExpectClosedChainsKeepThePickedSide(const std::vector<ClosedChainShape>& shapes,
                                         const std::vector<std::pair<double, double>>& sizes) {
  for (auto [side, away] : sizes)
    for (const ClosedChainShape& k : shapes)
      for (int start : k.starts)
        for (bool reversed : {false, true})
          for (bool pickIn : {false, true})
            ExpectClosedChainKeepsThePickedSide(k.corners, start, reversed, k.pick, pickIn, k.acrossOuter, side,
                                                away);
}

// Closed chains across the hole, and across the outer loop and the hole, starting inside the
// surface's region or outside it, run either way round and picked inside or outside, on
// rectangles of side 1e-6 .. 1e6. A start inside the region sends the walk round the chain's
// end, and was refused; picked outside, the walk kept the overlap with the chain.
TEST_F(Portion, AClosedChainAcrossTheLoopsKeepsThePickedSideFromAnyStart) {
  ExpectClosedChainsKeepThePickedSide(
      {{{0.52, 0.5, 0.56, 0.36, 0.72, 0.35, 0.78, 0.5, 0.71, 0.66, 0.55, 0.64}, {2, 0}, {0.7, 0.5}, false},
       {{0.55, 0.5, 0.66, 0.41, 0.97, 0.42, 0.97, 0.58, 0.66, 0.6}, {1, 3}, {0.8, 0.5}, true}},
      {{1e-6, 0.0}, {0.05, 1e4}, {1e6, 0.0}});
}

// Symmetric closed chains across the hole: sides over the same parameter range cross it at
// equal parameters, and the walk took the crossing of one side for the other's.
TEST_F(Portion, AClosedChainWhoseSidesCrossAtEqualParametersKeepsThePickedSide) {
  ExpectClosedChainsKeepThePickedSide(
      {{{0.3, 0.3, 0.7, 0.3, 0.7, 0.5, 0.5, 0.5, 0.3, 0.5}, {0, 3}, {0.35, 0.35}, false},
       {{0.45, 0.3, 0.55, 0.3, 0.65, 0.4, 0.65, 0.48, 0.55, 0.52, 0.45, 0.52, 0.35, 0.48, 0.35, 0.4},
        {0, 4},
        {0.5, 0.35},
        false}},
      {{1.0, 0.0}, {1e3, 0.0}, {1e-6, 0.0}, {1e6, 0.0}, {0.05, 1e4}});
}

// The stretch of a chain between a crossing and its neighbour along it, asked for by the two
// crossings' parameters, where every side of the closed chain (each over [0, 1]) crosses the
// hole at 0.25 and 0.75: it runs from the crossing the walk left its loop at (marked used, or
// where the curves already in the list end) to the next one. The first crossings of the two
// parameters were taken, on the first side, whichever side the walk stood at.
TEST_F(Portion, AStretchBetweenCrossingsAtEqualParametersRunsFromTheWalksCrossing) {
  for (auto [side, away] : {std::pair{1.0, 0.0}, {1e-6, 0.0}, {1e6, 0.0}, {0.05, 1e4}})
    for (bool byMarks : {true, false}) {
      SCOPED_TRACE(testing::Message() << "side " << side << " away " << away << " by marks " << byMarks);
      const SquarePatch sq(side, away);
      Bspline* s = sq.s;
      TrimList* hole = AddLoop(s, Polygon(s, sq.At({0.5, 0.05, 0.95, 0.5, 0.5, 0.95, 0.05, 0.5})), 1);
      const std::vector<Bspline*> sides = Polygon(s, sq.At({0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8}));
      BsplineList* chain = Chain(sides);
      TArrayList list = {nullptr, nullptr, 0};
      const double params[2] = {0.25, 0.75}, trimParams[2] = {0.5, 0.5};
      const int kinds[2] = {1, 2};
      BsplineList* trim = hole->loopCurves;
      for (Bspline* c : sides) {
        ShoveIntoOrderedTArrayList(params, trimParams, kinds, trim, c, 2, &list, 1);
        trim = trim->next;
      }
      std::vector<TArrayNode*> at;
      for (TArrayNode* e = list.head; e; e = e->next) at.push_back(e);
      ASSERT_EQ(at.size(), 8u);
      // From side k at 0.75 round the corner to side k + 1 at 0.25; the walk started at the
      // first crossing.
      at[0]->used = byMarks;
      for (int k = 1; k + 1 < 8; k += 2) {
        TArrayNode *e0 = at[k], *e1 = at[k + 1];
        double from[2], to[2], first[2], last[2];
        Eval2DPointOnCurve2Array(nullptr, e0->pieceA, e0->param, 0, from);
        Eval2DPointOnCurve2Array(nullptr, e1->pieceA, e1->param, 0, to);
        BsplineList* out = nullptr;
        if (byMarks)
          e0->used = 1;
        else
          out = Chain({BuildCurveOnSurface(s, 1, {sq.lo + 0.5 * side, sq.lo + 0.5 * side, from[0], from[1]})});
        const BsplineList* got = FindIfAnyPortionCurve(s, chain, &list, e0->param, e1->param, &out);
        ASSERT_NE(got, nullptr) << k;
        const Bspline* end = got->item;
        for (const BsplineList* n = got; n; n = n->next) end = n->item;
        Eval2DPointOnCurve2Array(nullptr, got->item, got->item->umin, 0, first);
        Eval2DPointOnCurve2Array(nullptr, end, end->umax, 0, last);
        EXPECT_LT(std::hypot(first[0] - from[0], first[1] - from[1]), 1e-9 * side) << k;
        EXPECT_LT(std::hypot(last[0] - to[0], last[1] - to[1]), 1e-9 * side) << k;
        if (byMarks) e1->used = 1;
        FreeNodeList(out);
      }
      FreeTArrayNodes(&list);
      FreeNodeList(chain);
      FreeBspline(s);
    }
}

// Closed chains through corners of the hole: across it through two opposite corners, into it
// from a corner of the chain's own, and touching its side with a corner and never crossing (the
// hole then lies whole on one side). The meetings at a corner were found on both of its sides
// and a touch taken for a crossing: the chain was refused or kept the wrong side.
TEST_F(Portion, AClosedChainThroughAHoleCornerKeepsThePickedSide) {
  ExpectClosedChainsKeepThePickedSide(
      {{{0.2, 0.35, 0.8, 0.65, 0.8, 0.2, 0.2, 0.2}, {0, 1}, {0.7, 0.3}, false},
       {{0.3, 0.3, 0.7, 0.3, 0.5, 0.5, 0.4, 0.45}, {3, 0}, {0.5, 0.35}, false},
       {{0.3, 0.3, 0.7, 0.3, 0.7, 0.4, 0.5, 0.45, 0.3, 0.4}, {3, 0}, {0.35, 0.35}, false}},
      {{1.0, 0.0}, {0.05, 1e4}, {1e6, 0.0}});
}

// A closed band across the outer loop, picked outside it: the side kept is two pieces, above and
// below the band, that one loop cannot bound. The walk closed round the piece it started in and
// that piece alone was returned as the region, the other lost. Refused instead, at every size;
// picked inside, the band's one piece is kept.
TEST_F(Portion, AClosedChainSplittingThePickedSideIsRefused) {
  for (auto [side, away] : {std::pair{1.0, 0.0}, {0.05, 1e4}, {1e6, 0.0}})
    for (bool pickIn : {false, true}) {
      SCOPED_TRACE(testing::Message() << "side " << side << " away " << away << " pick in " << pickIn);
      const SquarePatch sq(side, away);
      Bspline* s = sq.s;
      AddLoop(s, Polygon(s, sq.At({0.05, 0.05, 0.95, 0.05, 0.95, 0.95, 0.05, 0.95})));
      double cu[4], cv[4];
      TrimList* loop = nullptr;
      const double pv = pickIn ? 0.32 : 0.2;
      const int r = ConstructSurfBndryPortionTrim(Chain(Polygon(s, sq.At({0.02, 0.3, 0.98, 0.3, 0.98, 0.35, 0.02, 0.35}))),
                                                  float(sq.lo + side * 0.5), float(sq.lo + side * pv), 0, 0, cu, cv, 0,
                                                  0, nullptr, &loop);
      if (pickIn) {
        EXPECT_EQ(r, 0);
        EXPECT_EQ(IsPointInTrim(s, sq.lo + side * 0.5, sq.lo + side * 0.32), 1);
        EXPECT_EQ(IsPointInTrim(s, sq.lo + side * 0.5, sq.lo + side * 0.2), 0);
        EXPECT_EQ(IsPointInTrim(s, sq.lo + side * 0.5, sq.lo + side * 0.6), 0);
      } else {
        EXPECT_EQ(r, -2);
        ClearKernelError();
      }
      FreeBspline(s);
    }
}

// A refused chain's nodes are used up whichever step refuses it, as a refused loop's are: the
// caller frees none of them (the curves stay the surface's).
TEST_F(Portion, ARefusedChainUsesUpItsNodes) {
  Bspline* s = Patch();
  double cu[4], cv[4];
  TrimList* loop = nullptr;
  // Refused before any loop is made: a closed chain across a hole with a curve that is not
  // sound (its crossings cannot be found), ...
  AddLoop(s, Polygon(s, {0.4, 0.45, 0.4, 0.55, 0.6, 0.55, 0.6, 0.45}), 1);
  std::vector<Bspline*> unsound = Polygon(s, {0.3, 0.3, 0.7, 0.3, 0.7, 0.5, 0.3, 0.5});
  unsound[1] = BuildCurveOnSurface(s, 2, {0.7, 0.3, 0.7, std::nan(""), 0.7, 0.5});
  EXPECT_EQ(ConstructSurfBndryPortionTrim(Chain(unsound), 0.35f, 0.35f, 0, 0, cu, cv, 0, 0, nullptr, &loop), -2);
  EXPECT_EQ(loop, nullptr);
  ClearKernelError();
  // ... and a curve that belongs to no surface (its curve the caller's).
  Bspline* loose = BuildCurve(1, 2, {0.1, 0.5, 0.9, 0.5});
  EXPECT_EQ(ConstructSurfBndryPortionTrim(Chain({loose}), 0.5f, 0.5f, 0, 0, cu, cv, 0, 0, nullptr, &loop), -2);
  FreeBspline(loose);
  ClearKernelError();
  // Refused by the loop's self-crossing test: a bow tie.
  Bspline* t = Patch();
  EXPECT_EQ(ConstructSurfBndryPortionTrim(Chain(Polygon(t, {0.2, 0.2, 0.8, 0.8, 0.8, 0.2, 0.2, 0.8})), 0.5f, 0.3f,
                                          0, 1, cu, cv, 0, 0, nullptr, &loop), -1);
  EXPECT_EQ(loop, nullptr);
  EXPECT_EQ(t->trims, nullptr);
  ClearKernelError();
  FreeBspline(t);
  FreeBspline(s);
}

TEST_F(Portion, CraftedCrossingsThatNeverCloseEndTheWalkWithFailure) {
  Bspline* s = Patch();
  auto sides = Polygon(s, {0.2, 0.2, 0.8, 0.2, 0.8, 0.8, 0.2, 0.8});
  TrimList* l = AddLoop(s, sides);
  BsplineList* n[4];
  n[0] = l->loopCurves;
  for (int i = 1; i < 4; ++i) n[i] = n[i - 1]->next;
  Bspline* chainCurve = BuildCurveOnSurface(s, 1, {0.0, 0.5, 1.0, 0.5});
  BsplineList chain{nullptr, chainCurve};
  // Along the chain A, B, C, D; the loop leads from A and from C to D, whose predecessor along
  // the chain is C: the walk circles C -> D -> C and never comes back to A.
  TArrayNode d{nullptr, nullptr, 0.4, 0.4, 0.5, 1, n[1], 2, 0, chainCurve, nullptr};
  TArrayNode c{&d, nullptr, 0.3, 0.3, 0.7, 1, n[0], 1, 0, chainCurve, nullptr};
  TArrayNode b{&c, nullptr, 0.2, 0.2, 0.5, 1, n[3], 2, 0, chainCurve, nullptr};
  TArrayNode a{&b, nullptr, 0.1, 0.1, 0.5, 1, n[0], 1, 0, chainCurve, nullptr};
  TArrayList list{&a, nullptr, 4};
  BsplineList* loopCurves = nullptr;
  TrimList** walked = nullptr;
  int nWalked = 0;
  const int before = int(ListItems(s).size());
  EXPECT_EQ(CreateSurfPortionWithTrim(s, &list, &chain, &loopCurves, &walked, &nWalked), -2);
  EXPECT_EQ(loopCurves, nullptr);
  EXPECT_EQ(int(ListItems(s).size()), before);  // the stretches made on the way are gone
  Free(walked);
  // A loop entered with no way out of the portion.
  TArrayNode lone{nullptr, nullptr, 0.1, 0.1, 0.5, 1, n[0], 1, 0, chainCurve, nullptr};
  TArrayList one{&lone, nullptr, 1};
  walked = nullptr;
  nWalked = 0;
  EXPECT_EQ(CreateSurfPortionWithTrim(s, &one, &chain, &loopCurves, &walked, &nWalked), -2);
  Free(walked);
  FreeBspline(s);
}

}  // namespace
