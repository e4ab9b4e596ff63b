// Boundary loops where holes touch at a vertex, and capping every loop of a mesh soundly: caps
// that reuse no mesh edge, cross no sheet near the hole and leave a closed, consistently
// oriented surface.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class HoleLoops : public KernelTest {};
class HoleCapping : public KernelTest {};

// The loops as vertex cycles, checked on the way: each closed (consecutive edges share a vertex,
// the last meets the first) and simple (no vertex twice), each boundary edge in exactly one loop,
// and every loop running its edges one way against the triangles on them.
std::vector<std::vector<int>> CheckedLoops(const Cloud* m) {
  MeshEdgesAndLoops t;
  EXPECT_EQ(t.Build(m), 0);
  std::map<std::pair<int, int>, int> runs;  // boundary edge -> +1 run low to high by its triangle, -1 the other way
  std::map<std::pair<int, int>, int> uses;
  for (int tr = 0; tr < m->ntri; ++tr)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[tr].v[k], b = m->tri[tr].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
      runs[{std::min(a, b), std::max(a, b)}] = a < b ? 1 : -1;
    }
  std::set<std::pair<int, int>> boundary, seen;
  for (const auto& [e, n] : uses)
    if (n == 1) boundary.insert(e);
  std::vector<std::vector<int>> cycles;
  for (int l = 0; l < t.nloops; ++l) {
    std::vector<std::pair<int, int>> edges;
    for (const IndexNode* e = t.loops[l]; e; e = e->next)
      edges.push_back({t.edges[2 * e->index], t.edges[2 * e->index + 1]});
    EXPECT_EQ(int(edges.size()), t.sizes[l]);
    if (edges.size() < 3) {
      ADD_FAILURE() << "loop " << l << " of " << edges.size() << " edges";
      continue;
    }
    const auto& [a0, b0] = edges[0];
    const bool startsAtA = a0 != edges[1].first && a0 != edges[1].second;
    int v = startsAtA ? a0 : b0;
    std::vector<int> cycle;
    int sense = 0;
    bool oneWay = true;
    for (const auto& [a, b] : edges) {
      if (a != v && b != v) {
        ADD_FAILURE() << "loop " << l << " is broken at vertex " << v;
        break;
      }
      cycle.push_back(v);
      const int w = a == v ? b : a;
      const int run = runs[{std::min(v, w), std::max(v, w)}] * (v < w ? 1 : -1);
      if (sense == 0) sense = run;
      oneWay = oneWay && run == sense;
      EXPECT_TRUE(seen.insert({std::min(a, b), std::max(a, b)}).second) << "edge in two loops";
      v = w;
    }
    EXPECT_EQ(v, cycle.front()) << "loop " << l << " is an open chain";
    EXPECT_TRUE(oneWay) << "loop " << l << " turns back against its triangles";
    EXPECT_EQ(std::set<int>(cycle.begin(), cycle.end()).size(), cycle.size()) << "loop " << l << " repeats a vertex";
    cycles.push_back(cycle);
  }
  EXPECT_EQ(seen, boundary) << "boundary edges left out of the loops";
  return cycles;
}

// The top face's cells of a 6 x 6 x 2 box, the left-out ones given.
Cloud* BoxWithTopHoles(const std::set<std::pair<int, int>>& holes, double scale = 1.0) {
  return BoxSurface(6, 6, 2, [&](int face, int i, int j) { return face != 5 || !holes.count({i, j}); }, scale);
}

TEST_F(HoleLoops, HolesTouchingAtVerticesSplitThereIntoClosedCycles) {
  struct Case {
    std::set<std::pair<int, int>> cells;
    int loops;
  };
  // Two holes at one vertex; three in a diagonal chain; four around one vertex (a checkerboard
  // of 2 x 2 whose two left-out cells meet at the middle); one hole touching itself (a ring of
  // cells round a kept one, closed through a corner).
  const std::vector<Case> cases = {
      {{{1, 1}, {2, 2}}, 2},
      {{{1, 1}, {2, 2}, {3, 3}}, 3},
      {{{1, 1}, {2, 2}, {1, 3}, {3, 1}}, 4},
      {{{1, 1}, {2, 1}, {3, 1}, {3, 2}, {3, 3}, {2, 3}, {1, 3}, {0, 2}}, 2},
  };
  for (const Case& c : cases) {
    Cloud* m = BoxWithTopHoles(c.cells);
    ASSERT_NE(m, nullptr);
    const auto cycles = CheckedLoops(m);
    EXPECT_EQ(int(cycles.size()), c.loops) << c.cells.size() << " cells";
    FreeCloud(m);
  }
}

TEST_F(HoleLoops, RandomHolesGiveEveryBoundaryEdgeOnceInAClosedCycle) {
  std::mt19937 rng(57);
  for (int trial = 0; trial < 12; ++trial) {
    std::set<std::pair<int, int>> cells;
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j)
        if (std::uniform_int_distribution<int>(0, 99)(rng) < 30) cells.insert({i, j});
    Cloud* m = BoxWithTopHoles(cells);
    ASSERT_NE(m, nullptr);
    CheckedLoops(m);
    FreeCloud(m);
  }
}

// Caps the mesh (and frees it), expecting: closed, no edge of three triangles, every edge run both
// ways, no cap crossing the mesh, V - E + F = 2 for the box's sphere, and no failure reported.
void ExpectCappedSoundly(Cloud* m, const char* what) {
  ASSERT_NE(m, nullptr);
  const int ntriBefore = m->ntri;
  EXPECT_EQ(CapAllLoops(m), 1);
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, 0) << what;
  EXPECT_EQ(s.overused, 0) << what;
  EXPECT_EQ(s.disagreeing, 0) << what;
  EXPECT_EQ(CrossingPairs(m, ntriBefore), 0) << what;
  std::set<int> used;
  std::set<std::pair<int, int>> edges;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      used.insert(a);
      edges.insert({std::min(a, b), std::max(a, b)});
    }
  EXPECT_EQ(int(used.size()) - int(edges.size()) + m->ntri, 2) << what;
  EXPECT_FALSE(KernelFailedNow()) << what;
  FreeCloud(m);
}

TEST_F(HoleCapping, PinchedHolesAreEachCappedIntoAClosedOrientedSurface) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (const auto& cells : std::vector<std::set<std::pair<int, int>>>{
             {{1, 1}, {2, 2}}, {{1, 1}, {2, 2}, {1, 3}, {3, 1}}, {{1, 1}, {2, 1}, {3, 1}, {3, 2}, {3, 3}, {2, 3}, {1, 3}, {0, 2}}})
      ExpectCappedSoundly(BoxWithTopHoles(cells, scale), "pinched holes");
  }
}

// A band cut round one end of a thin slab (top and bottom strips and the end face gone): the
// loop runs along the top face, round the side faces' ends and back along the bottom face, so
// that seen along its mean plane its two long sides lie over each other, and the side faces'
// mesh lies right inside the turns it makes there. Cut on that plane, the cap reuses side-face
// edges.
TEST_F(HoleCapping, CapsOfLoopsBesideOtherSheetsCrossNoneAndReuseNoEdge) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    const auto keep = [](int face, int i, int) { return face != 0 && (face < 4 || i >= 2); };
    ExpectCappedSoundly(BoxSurface(8, 4, 1, keep, scale), "band round a slab's end");
  }
}

// Past a few dozen loops the capper looks for mesh near a cap among all triangles, not only those
// near some loop: both ways give the same sound caps.
TEST_F(HoleCapping, ManyHolesAreCappedAsSoundlyAsAFew) {
  for (int rows : {3, 7}) {
    const auto keep = [rows](int face, int i, int j) { return face != 5 || i % 3 != 1 || j % 3 != 1 || i >= 3 * rows; };
    ExpectCappedSoundly(BoxSurface(21, 21, 2, keep), "holes a cell apart");
  }
}

TEST_F(HoleCapping, RandomHolesOnABoxAreClosedSoundlyOrReported) {
  std::mt19937 rng(5);
  int reported = 0;
  for (int trial = 0; trial < 16; ++trial) {
    std::set<std::array<int, 3>> gone;
    for (int face = 0; face < 6; ++face)
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
          if (std::uniform_int_distribution<int>(0, 99)(rng) < 12) gone.insert({face, i, j});
    Cloud* m = BoxSurface(4, 4, 4, [&](int face, int i, int j) { return !gone.count({face, i, j}); });
    ASSERT_NE(m, nullptr);
    const int before = m->ntri;
    ClearKernelError();
    EXPECT_EQ(CapAllLoops(m), 1);
    const MeshSoundness s(m);
    EXPECT_EQ(s.overused, 0) << trial;
    EXPECT_EQ(s.disagreeing, 0) << trial;
    if (KernelFailedNow()) {
      ++reported;
    } else {
      EXPECT_EQ(s.open, 0) << trial;
      EXPECT_EQ(CrossingPairs(m, before), 0) << trial;
    }
    FreeCloud(m);
  }
  ClearKernelError();
  EXPECT_EQ(reported, 0);
}

// Refused allocations anywhere in capping leave nothing tracked and a mesh that is still sound
// where it was capped (no edge of three triangles, none run twice the same way), the failure
// reported; given enough, both pinched holes are closed.
// The band cut round a slab's end (above) on a finer slab, 1e4 sizes from the origin, and one
// more triangle beside it: near (a tilted triangle round the slab), reaching to the float range,
// which leaves every triangle of the slab in one cell of a grid over their extent, or across it
// (from -3e38 to 3e38: a span no float holds). The slab's cap, which must pass the crossing test
// against the side faces in the turns of its loop, and the error state come out the same each way.
TEST_F(HoleCapping, ATriangleReachingToTheFloatRangeChangesNoCap) {
  // The finer slab crowds a cell of the crossing test's grid (a tree answers there), the coarser
  // one does not.
  for (int nx : {40, 12})
  for (double s : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(testing::Message() << nx << " " << s);
    const double o = 1e4 * 40 * s, span = 3 * nx * s;
    std::vector<std::vector<int>> caps;
    std::vector<int> failed;
    for (double reach : {span, 3e38, -3e38}) {
      ClearKernelError();
      Owned<Cloud, FreeCloud> slab(
          BoxSurface(nx, nx / 2, 5, [&](int face, int i, int) { return face != 0 && (face < 4 || i >= nx / 4); }, s));
      ASSERT_EQ(slab->ntri > 2048, nx == 40);
      std::vector<std::array<double, 3>> pts;
      for (int i = 0; i < slab->npts; ++i) pts.push_back({o + slab->x[i], o + slab->y[i], o + slab->z[i]});
      std::vector<TestTriangle> tris;
      for (int t = 0; t < slab->ntri; ++t) tris.push_back({slab->tri[t].v[0], slab->tri[t].v[1], slab->tri[t].v[2]});
      const int n = slab->npts, ntri = slab->ntri;
      if (reach > 0) pts.push_back({o + reach, o, o}), pts.push_back({o, o + reach, o}), pts.push_back({o, o, o + reach});
      else pts.push_back({o - reach, o, o}), pts.push_back({o + reach, o - reach, o}), pts.push_back({o, o, o - reach});
      tris.push_back({n, n + 1, n + 2});
      Owned<Cloud, FreeCloud> m(MakeTestMesh(pts, tris));
      EXPECT_EQ(CapAllLoops(m.get()), 1);
      failed.push_back(KernelFailed());
      caps.emplace_back();
      for (int t = ntri + 1; t < m->ntri; ++t) {
        const int32_t* v = m->tri[t].v;
        if (v[0] < n && v[1] < n && v[2] < n) caps.back().insert(caps.back().end(), v, v + 3);
      }
    }
    EXPECT_EQ(failed[0], failed[1]);  // the lone triangle's loop cannot be capped without reusing its edges
    EXPECT_EQ(failed[0], failed[2]);
    EXPECT_FALSE(caps[0].empty());
    EXPECT_EQ(caps[0], caps[1]);
    EXPECT_EQ(caps[0], caps[2]);
  }
}

TEST_F(HoleCapping, RefusedAllocationsLeaveNothingAndNoUnsoundCap) {
  int closed = 0;
  const int failed = RefuseInTurn(
      120, [] { return BoxWithTopHoles({{1, 1}, {2, 2}}); },
      [&](Cloud* m) {
        EXPECT_EQ(CapAllLoops(m), 1);
        const MeshSoundness s(m);
        EXPECT_EQ(s.overused, 0);
        EXPECT_EQ(s.disagreeing, 0);
        closed += s.open == 0 && !KernelFailed();
        return KernelFailed() ? 1 : 0;
      },
      [](int r) { return r != 0; });
  EXPECT_GT(failed, 0);
  EXPECT_GT(closed, 0);
}

}  // namespace
