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
  // 30 points: the first 21 decide; 11 in and 10 out is inside, 10 in and 11 out is not.
  std::vector<double> x(30), y(30, 5.0);
  for (int i = 0; i < 30; ++i) x[i] = i < 11 ? 5.0 : 15.0;
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 30, 20, 20, X, Y, 4), 1);
  x[10] = 15.0;
  for (int i = 21; i < 30; ++i) x[i] = 5.0;  // beyond the first 21: not looked at
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 30, 20, 20, X, Y, 4), 0);
  EXPECT_EQ(IsList2DInList(x.data() + 9, y.data(), 2, 20, 20, X, Y, 4), 0);  // one in, one out: a tie
  EXPECT_EQ(IsList2DInList(x.data(), y.data(), 0, 20, 20, X, Y, 4), 0);
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
        const double far[2] = {1e3 * s, 1.1e3 * s};
        ExpectTiles(loop, tri, count, [&](double px, double py) {
          return IsPoint2DInList(px, py, far[0], far[1], loop.x.data(), loop.y.data(), loop.size()) == 1;
        });
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

TEST_F(LoopTriangulation, AHoleBridgedIntoItsOuterLoopIsLeftOpen) {
  // Outer square 0..3, hole 4..7 walked against it and joined by a bridge 0-4 used both ways;
  // the hole's corners stand on the outer corners' diagonals so that they fall inside ears.
  Loop2 ring;
  const double outer[4][2] = {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, hole[4][2] = {{1, 1}, {3, 1}, {3, 3}, {1, 3}};
  ring.Add(0, outer[0][0], outer[0][1]);
  for (const int h : {4, 7, 6, 5, 4}) ring.Add(h, hole[h - 4][0], hole[h - 4][1]);
  for (const int o : {0, 1, 2, 3}) ring.Add(o, outer[o][0], outer[o][1]);
  for (const bool reversed : {false, true}) {
    const Loop2 loop = reversed ? ring.Reversed() : ring;
    std::vector<int> tri;
    int count = 0;
    ASSERT_EQ(Triangulate(loop, tri, count), 1);
    ExpectTiles(loop, tri, count, [](double px, double py) {
      return px > 0 && px < 4 && py > 0 && py < 4 && !(px > 1 && px < 3 && py > 1 && py < 3);
    });
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
  ExpectTiles(loop, tri, count, [&](double px, double py) {
    return IsPoint2DInList(px, py, -5.0, 7.0, loop.x.data(), loop.y.data(), loop.size()) == 1;
  }, 20);
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
  Loop2 square;
  for (const auto& p : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}}) square.Add(p.first, p.second);
  for (const Loop2& base : {square, Comb(4), Spiral(2.0, 16), Star(5, 1)})
    for (const bool reversed : {false, true}) {
      Loop2 loop = reversed ? base.Reversed() : base;
      const Loop2 given = loop;
      int flag = -1;
      SetCounterClock2DPoly(loop.size(), loop.idx.data(), loop.x.data(), loop.y.data(), &flag);
      EXPECT_EQ(flag, reversed ? 1 : 0);
      EXPECT_GT(loop.SignedArea(), 0.0);
      EXPECT_EQ(loop.idx, reversed ? given.Reversed().idx : given.idx);
    }
  Loop2 upright;  // every x equal: left alone
  for (const int y : {0, 2, 1}) upright.Add(0, y);
  int flag = -1;
  SetCounterClock2DPoly(upright.size(), upright.idx.data(), upright.x.data(), upright.y.data(), &flag);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(upright.idx, (std::vector<int>{0, 1, 2}));
}

// ---- Loops in space ---------------------------------------------------------------------------

// A planar loop laid on a tilted plane in space, and its labels' points.
struct Loop3 {
  std::vector<int> idx;
  std::vector<double> x, y, z;
  int size() const { return static_cast<int>(idx.size()); }
};

Loop3 Tilted(const Loop2& loop, double bump = 0.0) {
  Xform M;
  const double origin[3] = {1, 2, 3}, axis[3] = {1.8, 2.6, 3.9};
  TransformToZAxis(origin, axis, M);  // any rigid motion
  Loop3 r;
  for (int i = 0; i < loop.size(); ++i) {
    const double p[3] = {loop.x[i], loop.y[i], bump * std::sin(3.0 * i)};
    double q[3];
    VecTrans3(p, M, q);
    r.idx.push_back(loop.idx[i]), r.x.push_back(q[0]), r.y.push_back(q[1]), r.z.push_back(q[2]);
  }
  return r;
}

// Every directed loop edge lies in a triangle and the other edges are used once each way; each
// triangle's normal agrees with the loop's vector area.
void ExpectClosesInSpace(const Loop3& loop, const std::vector<int>& tri, int count) {
  const int n = loop.size();
  ASSERT_EQ(count, n - 2);
  std::map<int, int> pos;
  for (int i = 0; i < n; ++i) pos[loop.idx[i]] = i;
  std::map<std::pair<int, int>, int> directed;
  for (int t = 0; t < 3 * count; ++t) ++directed[{tri[t], tri[t - t % 3 + (t + 1) % 3]}];
  for (int i = 0; i < n; ++i) {
    const auto e = directed.find({loop.idx[i], loop.idx[(i + 1) % n]});
    ASSERT_TRUE(e != directed.end() && e->second > 0) << "loop edge " << i;
    --e->second;
  }
  for (const auto& [e, uses] : directed) {
    const auto back = directed.find({e.second, e.first});
    EXPECT_EQ(uses, back == directed.end() ? 0 : back->second);
  }
  double area[3] = {0, 0, 0};
  auto P = [&](int label, double p[3]) {
    const int i = pos.at(label);
    p[0] = loop.x[i], p[1] = loop.y[i], p[2] = loop.z[i];
  };
  for (int i = 0; i < n; ++i) {
    double a[3], b[3], c[3];
    P(loop.idx[i], a), P(loop.idx[(i + 1) % n], b);
    VecCrossProd3(a, b, c);
    for (int k = 0; k < 3; ++k) area[k] += c[k] / 2;
  }
  for (int t = 0; t < count; ++t) {
    double a[3], b[3], c[3], u[3], v[3], nrm[3];
    P(tri[3 * t], a), P(tri[3 * t + 1], b), P(tri[3 * t + 2], c);
    VecCrossProd3(VecDiff3(b, a, u), VecDiff3(c, a, v), nrm);
    EXPECT_GE(VecDotProd3(nrm, area), -1e-9 * VecDotProd3(area, area)) << "triangle " << t;
  }
}

class SpaceLoopTriangulation : public KernelTest {};

TEST_F(SpaceLoopTriangulation, BothFrontEndsCloseTiltedLoopsInTheLoopsOrder) {
  for (const Loop2& base : {Comb(6), Star(9, 1), Spiral(2.5, 24)})
    for (const bool reversed : {false, true})
      for (const double bump : {0.0, 0.02}) {
        const Loop3 loop = Tilted(reversed ? base.Reversed() : base, bump);
        for (const bool sharpest : {false, true}) {
          SCOPED_TRACE(testing::Message() << (sharpest ? "sharpest corner first" : "leftmost first")
                                          << (reversed ? ", reversed" : "") << ", bump " << bump);
          std::vector<int> tri(3 * loop.size());
          int count = 0;
          auto f = sharpest ? BreakPoly3DToTriangleToo : BreakPoly3DToTriangle;
          ASSERT_EQ(f(loop.size(), loop.idx.data(), loop.x.data(), loop.y.data(), loop.z.data(), &count,
                      tri.data()), 1);
          ExpectClosesInSpace(loop, tri, count);
        }
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

TEST_F(SpaceLoopTriangulation, TheSharpestCornerIsClippedFirst) {
  // A kite whose sharp corner (label 2) is neither first nor leftmost.
  Loop2 kite;
  kite.Add(0, 0), kite.Add(2, -1), kite.Add(9, 0), kite.Add(2, 1);
  const Loop3 loop = Tilted(kite.Reversed());
  std::vector<int> tri(6);
  int count = 0;
  ASSERT_EQ(BreakPoly3DToTriangleToo(4, loop.idx.data(), loop.x.data(), loop.y.data(), loop.z.data(), &count,
                                     tri.data()), 1);
  EXPECT_EQ(tri[1], 2);
  ExpectClosesInSpace(loop, tri, count);
  // A dart whose sharpest corner, the tip 0, has the notch 2 inside its ear: the loop is split
  // from the tip to the notch.
  Loop2 dart;
  dart.Add(0, 0), dart.Add(10, -1), dart.Add(9, 0), dart.Add(10, 1);
  for (const Loop2& way : {dart, dart.Reversed()}) {  // reversed: turned back after the split
    const Loop3 darts = Tilted(way);
    count = 0;
    ASSERT_EQ(BreakPoly3DToTriangleToo(4, darts.idx.data(), darts.x.data(), darts.y.data(), darts.z.data(), &count,
                                       tri.data()), 1);
    ExpectClosesInSpace(darts, tri, count);
    for (int t = 0; t < 2; ++t) EXPECT_TRUE(std::count(tri.begin() + 3 * t, tri.begin() + 3 * t + 3, 0) &&
                                            std::count(tri.begin() + 3 * t, tri.begin() + 3 * t + 3, 2)) << t;
  }
}

}  // namespace
