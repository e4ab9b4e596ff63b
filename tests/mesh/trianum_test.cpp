// Triangulating planar loops and loops in space, and the even-odd point-in-polygon tests.
#include "mesh/trianum.h"

#include <algorithm>
#include <vector>

#include "foundation/vec3.h"
#include "tests/mesh/loop_checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PointInPolygon : public KernelTest {};

TEST_F(PointInPolygon, CountsACrossingThroughAVertexOnce) {
  // A diamond: the segments below run exactly through its left and right corners.
  const double x[4] = {1, 2, 1, 0}, y[4] = {0, 1, 2, 1};
  EXPECT_EQ(IsPoint2DInList(1.0, 1.0, -1.0, 1.0, x, y, 4), 1);  // through (0, 1) only
  EXPECT_EQ(IsPoint2DInList(3.0, 1.0, -1.0, 1.0, x, y, 4), 0);  // through (2, 1) and (0, 1)
  EXPECT_EQ(IsPoint2DInList(1.0, 1.5, -1.0, 1.5, x, y, 4), 1);
  EXPECT_EQ(IsPoint2DInList(1.8, 1.8, -1.0, 1.8, x, y, 4), 0);
  // A non-convex L: the notch is outside.
  const double lx[6] = {0, 2, 2, 1, 1, 0}, ly[6] = {0, 0, 1, 1, 2, 2};
  EXPECT_EQ(IsPoint2DInList(1.5, 1.5, -1.0, 1.5, lx, ly, 6), 0);
  EXPECT_EQ(IsPoint2DInList(0.5, 1.5, -1.0, 1.5, lx, ly, 6), 1);
  EXPECT_EQ(IsPoint2DInList(1.5, 0.5, -1.0, 0.5, lx, ly, 6), 1);
}

TEST_F(PointInPolygon, ALoopIsInsideWhenMostOfItsFirstPointsAre) {
  const double X[4] = {0, 10, 10, 0}, Y[4] = {0, 0, 10, 10};
  // Of 30 points only the first 21 count: 11 in and 10 out is inside, a tie is not.
  std::vector<double> x(30, 15.0), y(30, 5.0);
  std::fill(x.begin(), x.begin() + 11, 5.0);
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 30, 20, 20, X, Y, 4), 1);
  x[10] = 15.0;
  std::fill(x.begin() + 21, x.end(), 5.0);  // 19 in of 30, but 10 in of the first 21
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 30, 20, 20, X, Y, 4), 0);
  EXPECT_EQ(IsList2DInList(x.data() + 9, y.data(), 2, 20, 20, X, Y, 4), 0);
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 0, 20, 20, X, Y, 4), 0);
}

// Inside the loop by the even-odd test, against a point beyond its box.
auto InsideOf(const Loop2& loop) {
  const double fx = 2 * *std::max_element(loop.x.begin(), loop.x.end()) - *std::min_element(loop.x.begin(), loop.x.end()) + 1;
  const double fy = 2 * *std::max_element(loop.y.begin(), loop.y.end()) - *std::min_element(loop.y.begin(), loop.y.end()) + 1;
  return [&loop, fx, fy](double px, double py) {
    return IsPoint2DInList(px, py, fx, fy, loop.x.data(), loop.y.data(), loop.size()) == 1;
  };
}

class LoopTriangulation : public KernelTest {
 protected:
  // Triangulates the loop from exactly sized arrays (an overrun is an ASan failure).
  int Triangulate(const Loop2& loop, std::vector<int>& tri, int& count) {
    tri.assign(3 * loop.size(), -7);
    count = 0;
    return BreakPolyToTriangle(loop.size(), loop.idx.data(), loop.x.data(), loop.y.data(), &count, tri.data());
  }
  void ExpectTilesAtEveryScale(const Loop2& base) {
    for (const double s : {1e-6, 1.0, 1e6})
      for (const bool reversed : {false, true}) {
        SCOPED_TRACE(testing::Message() << "scale " << s << (reversed ? " clockwise" : ""));
        const Loop2 loop = (reversed ? base.Reversed() : base).Scaled(s, 3 * s, -2 * s);
        std::vector<int> tri;
        int count = 0;
        ASSERT_EQ(Triangulate(loop, tri, count), 1);
        ExpectTiles(loop, tri, count, InsideOf(loop));
      }
  }
};

TEST_F(LoopTriangulation, ClipsTheLeftmostEarOrSplitsTowardsItsBlocker) {
  std::vector<int> tri;
  int count = 0;
  Loop2 square;
  for (const auto& p : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) square.Add(p.first, p.second);
  ASSERT_EQ(Triangulate(square, tri, count), 1);
  EXPECT_EQ(std::vector<int>(tri.begin(), tri.begin() + 6), (std::vector<int>{3, 0, 1, 1, 2, 3}));
  // A dart pointing left: its notch blocks the ear at the tip, so the loop is split along the
  // diagonal from the tip to the notch, the part between them in loop order first.
  Loop2 dart;
  for (const auto& p : {std::pair{0, 0}, {4, -4}, {1, 0}, {4, 4}}) dart.Add(p.first, p.second);
  ASSERT_EQ(Triangulate(dart, tri, count), 1);
  EXPECT_EQ(std::vector<int>(tri.begin(), tri.begin() + 6), (std::vector<int>{0, 1, 2, 0, 2, 3}));
  // Fewer than three vertices, or a coordinate that is no number: nothing is written.
  count = 0;
  EXPECT_EQ(BreakPolyToTriangle(2, square.idx.data(), square.x.data(), square.y.data(), &count, tri.data()), 0);
  square.y[2] = std::nan("");
  EXPECT_EQ(Triangulate(square, tri, count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(LoopTriangulation, CombsSpiralsAndStarsWithCollinearRunsAreTiledExactly) {
  {
    SCOPED_TRACE("comb");
    ExpectTilesAtEveryScale(Comb(9));
  }
  {
    SCOPED_TRACE("spiral");
    ExpectTilesAtEveryScale(Spiral(3.5, 40));
  }
  {
    SCOPED_TRACE("star");
    ExpectTilesAtEveryScale(Star(17, 2));
  }
}

TEST_F(LoopTriangulation, ALongZigzagNeedsNoDeepRecursion) {
  // 20,000 vertices: teeth of alternating depth hanging from a straight run, every deep one a
  // notch in the ear at the run's start, so the loop is split again and again.
  Loop2 zig;
  const int teeth = 6666;
  zig.Add(0, 0);
  for (int k = 0; k < teeth; ++k) zig.Add(k + 0.5, k % 2 ? -0.2 : -3.0), zig.Add(k + 1.0, -0.1);
  for (int k = teeth; k >= 0; --k) zig.Add(k + 1.5, 0.0);
  ASSERT_EQ(zig.size(), 20000);
  const Loop2 loop = zig.Reversed();
  std::vector<int> tri;
  int count = 0;
  ASSERT_EQ(Triangulate(loop, tri, count), 1);
  ExpectTiles(loop, tri, count, InsideOf(loop), 20);
}

TEST_F(LoopTriangulation, OutOfMemoryGivesNothingOrTheWholeTiling) {
  const Loop2 loop = Star(6, 1);
  const int failures = RunWithInjectedFailures(40, 1, [&] {
    std::vector<int> tri;
    int count = 0;
    const int r = Triangulate(loop, tri, count);
    if (r == 1) {
      EXPECT_EQ(count, loop.size() - 2);
    }
    return r == 1 ? 0 : 1;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(LoopTriangulation, SetCounterClockReversesOnlyClockwiseLoops) {
  Loop2 upright;  // every x equal: left alone
  for (const int y : {0, 2, 1}) upright.Add(0, y);
  for (const Loop2& base : {Comb(4), Spiral(2.0, 16), Star(5, 1), upright.Reversed()})
    for (const bool reversed : {false, true}) {
      Loop2 loop = reversed ? base.Reversed() : base;
      const std::vector<int> given = loop.idx;
      int flag = -1;
      SetCounterClock2DPoly(loop.size(), loop.idx.data(), loop.x.data(), loop.y.data(), &flag);
      const bool flat = loop.SignedArea() == 0.0;
      EXPECT_EQ(flag, reversed && !flat ? 1 : 0);
      EXPECT_TRUE(flat || loop.SignedArea() > 0.0);
      EXPECT_EQ(loop.idx, flag ? std::vector<int>(given.rbegin(), given.rend()) : given);
    }
}

// ---- Loops in space ---------------------------------------------------------------------------

using FrontEnd = int (*)(int, const int*, const double*, const double*, const double*, int*, int*);

// The loop laid on a tilted plane by a rigid motion.
void Tilt(const Loop2& loop, std::vector<double>& x, std::vector<double>& y, std::vector<double>& z) {
  Xform M;
  const double origin[3] = {1, 2, 3}, axis[3] = {1.8, 2.6, 3.9};
  TransformToZAxis(origin, axis, M);
  x.clear(), y.clear(), z.clear();
  for (int i = 0; i < loop.size(); ++i) {
    const double p[3] = {loop.x[i], loop.y[i], 0.0};
    double q[3];
    VecTrans3(p, M, q);
    x.push_back(q[0]), y.push_back(q[1]), z.push_back(q[2]);
  }
}

// Triangulates the loop laid on a tilted plane and expects the flat loop tiled.
void ExpectTilesInSpace(const Loop2& loop, FrontEnd f, std::vector<int>& tri) {
  std::vector<double> x, y, z;
  Tilt(loop, x, y, z);
  tri.assign(3 * loop.size(), -1);
  int count = 0;
  ASSERT_EQ(f(loop.size(), loop.idx.data(), x.data(), y.data(), z.data(), &count, tri.data()), 1);
  ExpectTiles(loop, tri, count, InsideOf(loop));
}

class SpaceLoopTriangulation : public KernelTest {};

TEST_F(SpaceLoopTriangulation, BothFrontEndsTileTiltedLoopsInTheLoopsOrder) {
  std::vector<int> tri;
  for (const Loop2& base : {Comb(6), Star(9, 1), Spiral(2.5, 24)})
    for (const Loop2& loop : {base, base.Reversed()})
      for (const FrontEnd f : {BreakPoly3DToTriangle, BreakPoly3DToTriangleToo}) ExpectTilesInSpace(loop, f, tri);
  // Sharpest corner first: the kite's sharp corner 2, neither first nor leftmost, goes first; the
  // dart's tip 0 has the notch 2 inside its ear, so the dart is split from the tip to the notch
  // (both ways round: a reversed part turns its halves' triangles back after them).
  Loop2 kite, dart;
  kite.Add(0, 0), kite.Add(2, -1), kite.Add(9, 0), kite.Add(2, 1);
  ExpectTilesInSpace(kite.Reversed(), BreakPoly3DToTriangleToo, tri);
  EXPECT_EQ(tri[1], 2);
  dart.Add(0, 0), dart.Add(10, -1), dart.Add(9, 0), dart.Add(10, 1);
  for (const Loop2& way : {dart, dart.Reversed()}) {
    ExpectTilesInSpace(way, BreakPoly3DToTriangleToo, tri);
    for (int t = 0; t < 2; ++t)
      EXPECT_TRUE(std::count(&tri[3 * t], &tri[3 * t + 3], 0) && std::count(&tri[3 * t], &tri[3 * t + 3], 2)) << t;
  }
}

TEST_F(SpaceLoopTriangulation, SharpestCornerIgnoresRepeatsPaddingALoopPastThirtyTwoEntries) {
  // Loops of up to 32 entries (a point's ring) are worked in scratch on the stack, longer ones in
  // an allocated block; later repeats are dropped first, so a loop padded with them past that size
  // must give the same triangles in the same order, splits and reversed parts included.
  Loop2 dart;
  dart.Add(0, 0), dart.Add(10, -1), dart.Add(9, 0), dart.Add(10, 1);
  for (const Loop2& base : {Comb(3), Star(4, 1, 0.2), Spiral(1.25, 12), dart})
    for (const Loop2& loop : {base, base.Reversed()}) {
      ASSERT_LE(loop.size(), 32);
      std::vector<int> tri;
      ExpectTilesInSpace(loop, BreakPoly3DToTriangleToo, tri);
      Loop2 padded = loop;
      for (int k = 0; k == 0 || padded.size() < 33; ++k) padded.Add(loop.idx[k % loop.size()], 1e3 + k, -7.0);
      std::vector<double> x, y, z;
      Tilt(padded, x, y, z);
      std::vector<int> again(3 * padded.size(), -1);
      int count = 0;
      ASSERT_EQ(BreakPoly3DToTriangleToo(padded.size(), padded.idx.data(), x.data(), y.data(), z.data(), &count,
                                         again.data()),
                1);
      EXPECT_EQ(count, loop.size() - 2);
      again.resize(tri.size(), -1);
      EXPECT_EQ(again, tri);
    }
}

TEST_F(SpaceLoopTriangulation, RepeatsAreDroppedAndAStraightLoopBecomesAFan) {
  // A square with its second corner repeated at the end: two triangles of the four corners.
  const std::vector<int> idx = {5, 6, 7, 8, 6};
  const std::vector<double> x = {0, 1, 1, 0, 1}, y = {0, 0, 1, 1, 0}, z(5, 2.0);
  for (auto f : {BreakPoly3DToTriangle, BreakPoly3DToTriangleToo}) {
    std::vector<int> tri(9, -1);
    int count = 0;
    ASSERT_EQ(f(5, idx.data(), x.data(), y.data(), z.data(), &count, tri.data()), 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tri[6], -1);
    // Two distinct indices are no loop.
    count = 0;
    const std::vector<int> two = {5, 6, 5, 6};
    EXPECT_EQ(f(4, two.data(), x.data(), y.data(), z.data(), &count, tri.data()), 0);
    EXPECT_EQ(count, 0);
  }
  // Four points on a line fit no plane: the leftmost-first front end fans from the first one,
  // the sharpest-corner one gives up.
  const std::vector<int> line = {0, 1, 2, 3};
  const std::vector<double> lx = {0, 1, 2, 3}, l0(4, 0.0);
  std::vector<int> tri(6);
  int count = 0;
  ASSERT_EQ(BreakPoly3DToTriangle(4, line.data(), lx.data(), lx.data(), l0.data(), &count, tri.data()), 1);
  EXPECT_EQ(tri, (std::vector<int>{0, 1, 2, 0, 2, 3}));
  count = 0;
  EXPECT_EQ(BreakPoly3DToTriangleToo(4, line.data(), lx.data(), lx.data(), l0.data(), &count, tri.data()), 0);
}

}  // namespace
