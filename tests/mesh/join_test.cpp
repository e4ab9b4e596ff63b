// Closing open meshes along their boundaries: welding, splitting and bridging across cracks and
// gaps, edge-use counts, cancel and memory failures.
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "mesh/cldpoly.h"
#include "mesh/rpmclose.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshJoin : public KernelTest {};

using Pts = std::vector<std::array<double, 3>>;
using Tris = std::vector<TestTriangle>;

// Two grid strips of n x 1 cells, one above the other: the lower one on y in [0, 1], the upper
// one shifted by `shift` in x and lifted by `gap` over y = 1, all coordinates times s.
Cloud* TwoStrips(int n, double gap, double shift, double s) {
  Pts pts;
  Tris tris;
  for (int strip = 0; strip < 2; ++strip) {
    const int base = int(pts.size());
    const double x0 = strip ? shift : 0.0, y0 = strip ? 1.0 + gap : 0.0;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i <= n; ++i) pts.push_back({s * (x0 + i), s * (y0 + j), 0.0});
    for (int i = 0; i < n; ++i) {
      const int a = base + i, c = base + n + 1 + i;
      tris.push_back({a, a + 1, c + 1});
      tris.push_back({a, c + 1, c});
    }
  }
  return MakeTestMesh(pts, tris);
}

std::vector<TestTriangle> TrianglesOf(const Cloud* m) {
  std::vector<TestTriangle> out;
  for (int t = 0; t < m->ntri; ++t) out.push_back({m->tri[t].v[0], m->tri[t].v[1], m->tri[t].v[2]});
  return out;
}

struct Topology {
  int open = 0;        // edges used once
  int multiple = 0;    // edges used three or more times
  int misoriented = 0; // edges run the same way by both their triangles
  int loops = 0;
  double signedArea = 0;   // in the x-y plane
  double smallestArea = 1e300;
};

// Corner indices in range, no repeated corner, and the edge uses of the mesh.
Topology Inspect(const Cloud* m) {
  Topology top;
  std::map<std::pair<int, int>, std::pair<int, int>> uses;  // (min, max) -> (forward, backward)
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(v[k] >= 0 && v[k] < m->npts) << t;
      if (v[k] < 0 || v[k] >= m->npts) return top;
    }
    EXPECT_TRUE(v[0] != v[1] && v[1] != v[2] && v[0] != v[2]) << t;
    for (int k = 0; k < 3; ++k) {
      const int a = v[k], b = v[(k + 1) % 3];
      auto& u = uses[{std::min(a, b), std::max(a, b)}];
      (a < b ? u.first : u.second)++;
    }
    const double ax = m->x[v[1]] - m->x[v[0]], ay = m->y[v[1]] - m->y[v[0]];
    const double bx = m->x[v[2]] - m->x[v[0]], by = m->y[v[2]] - m->y[v[0]];
    const double area = 0.5 * (ax * by - ay * bx);
    top.signedArea += area;
    top.smallestArea = std::min(top.smallestArea, area);
  }
  for (const auto& [edge, u] : uses) {
    const int n = u.first + u.second;
    top.open += n == 1;
    top.multiple += n >= 3;
    top.misoriented += n == 2 && u.first != 1;
  }
  int32_t* edges;
  int32_t** corners;
  int nedges, nloops = 0, *sizes = nullptr;
  IndexNode **heads = nullptr, *nodes = nullptr;
  if (CreatePolyEdges(m, &edges, &corners, &nedges)) {
    MakeOuterEdgeList(m, edges, corners, nedges, &heads, &nloops, &sizes, &nodes);
    Free(edges);
    Free(corners);
    Free(heads);
    Free(sizes);
    Free(nodes);
  }
  top.loops = nloops;
  return top;
}

// The closed crack or gap: one boundary loop, no edge of three triangles, every triangle facing
// up and every interior edge run both ways.
void ExpectOneCleanLoop(const Topology& top, double s) {
  EXPECT_EQ(top.loops, 1) << s;
  EXPECT_EQ(top.multiple, 0) << s;
  EXPECT_EQ(top.misoriented, 0) << s;
  EXPECT_GT(top.smallestArea, 0) << s;
}

// A boundary edge a-b of length `len` on the x axis whose triangle's other edges are interior:
// the fan (a, b, c) with (a, c, d) on the left and (b, e, c) on the right.
Cloud* ShortEdgeFan(double len, double s) {
  const Pts pts = {{0, 0, 0}, {s * len, 0, 0}, {s * len / 2, s, 0}, {-s, s / 2, 0}, {s * (len + 1), s / 2, 0}};
  return MakeTestMesh(pts, {{0, 1, 2}, {0, 2, 3}, {1, 4, 2}});
}

TEST_F(MeshJoin, ShortBoundaryEdgesCollapseBelowHalfTheTolerance) {
  // Exactly tol/2 stays; a hair shorter collapses into its midpoint at every scale.
  for (double s : {1e-6, 1.0, 1e6}) {
    Cloud* m = ShortEdgeFan(0.2499, s);
    ASSERT_NE(m, nullptr);
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.5 * s, 0, &splits, nullptr, -1), 1) << s;
    EXPECT_EQ(splits, 0);
    ASSERT_EQ(m->ntri, 2) << s;
    EXPECT_EQ(m->npts, 5);  // vertices are never removed
    EXPECT_NEAR(m->x[0], s * 0.2499 / 2, 1e-6 * s);
    for (int t = 0; t < 2; ++t) EXPECT_FALSE(PolygonHasVertex(m, t, 1));
    const Topology top = Inspect(m);
    EXPECT_EQ(top.misoriented, 0);
    EXPECT_GT(top.smallestArea, 0);
    FreeCloud(m);
  }
  Cloud* m = ShortEdgeFan(0.25, 1.0);
  ASSERT_NE(m, nullptr);
  const auto before = TrianglesOf(m);
  int splits = -1;
  ASSERT_EQ(JoinCldPolys(m, 0.5, 0, &splits, nullptr, -1), 1);
  // Its ends are closer than tol but joined by an edge: they never weld either.
  EXPECT_EQ(TrianglesOf(m), before);
  EXPECT_EQ(m->x[1], 0.25f);
  FreeCloud(m);
}

TEST_F(MeshJoin, CornersWeldUpToExactlyTheTolerance) {
  // Two triangles whose nearest corners are gap apart; tol = 0.5 is exact in float.
  auto twoTriangles = [](double gap) {
    const Pts pts = {{0, 0, 0}, {1, 0, 0}, {0.5, 0.8, 0}, {1 + gap, 0, 0}, {2 + gap, 0, 0}, {1.5 + gap, 0.8, 0}};
    return MakeTestMesh(pts, {{0, 1, 2}, {3, 4, 5}});
  };
  for (double gap : {0.5, 0.5 + 1.0 / 1024}) {
    Cloud* m = twoTriangles(gap);
    ASSERT_NE(m, nullptr);
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.5, 0, &splits, nullptr, -1), 1);
    ASSERT_EQ(m->ntri, 2);
    const bool welded = PolygonHasVertex(m, 1, 1) || PolygonHasVertex(m, 0, 3);
    EXPECT_EQ(welded, gap == 0.5) << gap;
    if (welded) {
      EXPECT_FLOAT_EQ(m->x[1], 1.25f);
    }
    EXPECT_EQ(Inspect(m).misoriented, 0);
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, ACrackOfFacingVerticesWeldsShutAtEveryScale) {
  for (double s : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    Cloud* m = TwoStrips(12, 0.1, 0.0, s);
    ASSERT_NE(m, nullptr);
    const double area = Inspect(m).signedArea;
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.25 * s, 0, &splits, nullptr, -1), 1) << s;
    const Topology top = Inspect(m);
    EXPECT_EQ(m->ntri, 48);
    ExpectOneCleanLoop(top, s);
    EXPECT_EQ(top.open, 2 * 12 + 2 * 2) << s;  // the outline of one 12 x 2 strip
    EXPECT_NEAR(top.signedArea, area, 0.15 * area) << s;
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, AStaggeredCrackClosesBySplittingEdges) {
  // Facing vertices half a cell apart: none within tol of another, each within tol of the
  // middle of an edge across the crack.
  for (double s : {1e-3, 1.0, 1e5}) {
    Cloud* m = TwoStrips(10, 0.1, 0.5, s);
    ASSERT_NE(m, nullptr);
    const double area = Inspect(m).signedArea;
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.25 * s, 0, &splits, nullptr, -1), 1) << s;
    const Topology top = Inspect(m);
    EXPECT_GE(splits, 10) << s;
    EXPECT_EQ(m->ntri, 40 + splits);  // each split adds one triangle and moves nothing
    ExpectOneCleanLoop(top, s);
    // The triangles laid into the crack add its area, 0.1 x 10 cells.
    EXPECT_NEAR(top.signedArea, area + 1.0 * s * s, 1e-5 * area);
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, AGapWiderThanTheToleranceClosesOnlyByBridging) {
  for (double s : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    // Without bridging nothing within tol: the mesh stays as it was.
    Cloud* m = TwoStrips(8, 0.3, 0.0, s);
    ASSERT_NE(m, nullptr);
    const auto before = TrianglesOf(m);
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.2 * s, 0, &splits, nullptr, -1), 1);
    EXPECT_EQ(TrianglesOf(m), before);
    EXPECT_EQ(Inspect(m).loops, 2);
    FreeCloud(m);

    m = TwoStrips(8, 0.3, 0.0, s);
    ASSERT_NE(m, nullptr);
    const double area = Inspect(m).signedArea;
    ASSERT_EQ(JoinCldPolys(m, 0.2 * s, 0.5 * s, &splits, nullptr, -1), 1) << s;
    const Topology top = Inspect(m);
    ExpectOneCleanLoop(top, s);
    EXPECT_EQ(top.open, 2 * 8 + 2 * 2 + 2) << s;  // the outline, with the gap's two ends
    // The bridges fill the gap exactly: 8 x 0.3 more area.
    EXPECT_NEAR(top.signedArea, area + 8 * 0.3 * s * s, 1e-5 * area) << s;
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, AClosedMeshPassesUnchanged) {
  const Pts pts = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const Tris tris = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  Cloud* m = MakeTestMesh(pts, tris);
  ASSERT_NE(m, nullptr);
  int splits = -1;
  ASSERT_EQ(JoinCldPolys(m, 0.5, 0.8, &splits, nullptr, -1), 1);
  EXPECT_EQ(splits, 0);
  EXPECT_EQ(TrianglesOf(m), tris);
  PolyEdgeCounts counts;
  ASSERT_EQ(JustVerifyClosedPolyCloud(m, &counts), 1);
  EXPECT_EQ(counts.uses[2], 12);
  EXPECT_EQ(counts.uses[1] + counts.uses[3] + counts.uses[4] + counts.uses[5], 0);
  FreeCloud(m);

  // Nothing to join without triangles, and a given mask is still the operation's to free.
  Cloud* bare = MakeTestMesh(pts, {});
  ASSERT_NE(bare, nullptr);
  unsigned char* mask = MallocArray<unsigned char>(4);
  ASSERT_EQ(JoinCldPolys(bare, 0.5, 0, &splits, mask, 0), 0);
  EXPECT_EQ(splits, 0);
  ASSERT_EQ(JustVerifyClosedPolyCloud(bare, &counts), 1);
  EXPECT_EQ(counts.uses[1] + counts.uses[2], 0);
  FreeCloud(bare);
}

TEST_F(MeshJoin, EdgeUsesAreCountedInFull) {
  // A book of n pages around the edge 0-1; each page adds two open edges and one degenerate
  // triangle adds nothing. With counts kept in a byte, 257 uses would read as one.
  for (int n : {3, 4, 5, 257, 300}) {
    Pts pts = {{0, 0, 0}, {1, 0, 0}};
    Tris tris;
    for (int i = 0; i < n; ++i) {
      const double a = 2 * M_PI * i / n;
      pts.push_back({0.5, std::cos(a), std::sin(a)});
      tris.push_back({0, 1, i + 2});
    }
    tris.push_back({2, 2, 3});
    Cloud* m = MakeTestMesh(pts, tris);
    ASSERT_NE(m, nullptr);
    PolyEdgeCounts counts;
    ASSERT_EQ(JustVerifyClosedPolyCloud(m, &counts), 1);
    EXPECT_EQ(counts.uses[0], 0);
    EXPECT_EQ(counts.uses[1], 2 * n) << n;
    EXPECT_EQ(counts.uses[std::min(n, 5)], 1) << n;

    int32_t* edges;
    int32_t** corners;
    int nedges, open = -1;
    ASSERT_EQ(CreatePolyEdges(m, &edges, &corners, &nedges), 1);
    std::vector<unsigned char> mask(nedges, 7);
    ASSERT_EQ(FindOuterPolyEdges(m, edges, corners, nedges, &open, mask.data()), 1);
    EXPECT_EQ(open, 2 * n);
    for (int e = 0; e < nedges; ++e) {
      if (edges[2 * e] == 0 && edges[2 * e + 1] == 1) {
        EXPECT_EQ(mask[e], 0) << n;
      }
    }
    Free(edges);
    Free(corners);
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, AGivenMaskGivesTheSameResultAsABuiltOne) {
  Cloud* built = TwoStrips(9, 0.1, 0.5, 1.0);
  Cloud* given = TwoStrips(9, 0.1, 0.5, 1.0);
  ASSERT_TRUE(built && given);
  int32_t* edges;
  int32_t** corners;
  int nedges, open = 0;
  ASSERT_EQ(CreatePolyEdges(given, &edges, &corners, &nedges), 1);
  unsigned char* mask = MallocArray<unsigned char>(nedges);
  ASSERT_EQ(FindOuterPolyEdges(given, edges, corners, nedges, &open, mask), 1);
  Free(edges);
  Free(corners);
  int s1 = 0, s2 = 0;
  ASSERT_EQ(JoinCldPolys(built, 0.25, 0, &s1, nullptr, -1), 1);
  ASSERT_EQ(JoinCldPolys(given, 0.25, 0, &s2, mask, open), 1);
  EXPECT_EQ(s1, s2);
  EXPECT_EQ(TrianglesOf(built), TrianglesOf(given));
  FreeCloud(built);
  FreeCloud(given);
}

TEST_F(MeshJoin, CancelOrRefusedMemoryLeavesTheTrianglesAsTheyWere) {
  const auto reference = [] { return TwoStrips(6, 0.1, 0.5, 1.0); };
  Cloud* m0 = reference();
  ASSERT_NE(m0, nullptr);
  const auto before = TrianglesOf(m0);
  FreeCloud(m0);
  // A break at each poll in turn, until the run gets through.
  bool finished = false;
  for (long k = 1; k < 200 && !finished; ++k) {
    Cloud* m = reference();
    StubBreakAfterPolls(k);
    int splits = -1;
    const int r = JoinCldPolys(m, 0.25, 0.4, &splits, nullptr, -1);
    StubBreakAfterPolls(0);
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (r == 0) {
      EXPECT_EQ(TrianglesOf(m), before) << k;
      EXPECT_EQ(splits, 0);
    } else {
      finished = true;
      EXPECT_GT(k, 5);  // set-up, every stage and every pass poll
    }
    FreeCloud(m);
  }
  EXPECT_TRUE(finished);
  // Allocations refused from the n-th on.
  finished = false;
  for (long skip = 0; skip < 400 && !finished; ++skip) {
    ClearKernelError();
    Cloud* m = reference();
    MallocFailAfter(skip, -1);
    int splits = -1;
    const int r = JoinCldPolys(m, 0.25, 0.4, &splits, nullptr, -1);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    if (r == 0) {
      EXPECT_EQ(TrianglesOf(m), before) << skip;
    } else {
      finished = true;
      EXPECT_FALSE(KernelFailedNow());
    }
    FreeCloud(m);
  }
  ClearKernelError();
  EXPECT_TRUE(finished);
}

TEST_F(MeshJoin, StageReportsOnlyUnderTheDebugLevel) {
  for (int level : {0, 1}) {
    Cloud* m = TwoStrips(4, 0.1, 0.0, 1.0);
    ASSERT_NE(m, nullptr);
    ZK666DEBUG = level;
    testing::internal::CaptureStdout();
    int splits = 0;
    const int r = JoinCldPolys(m, 0.25, 0.3, &splits, nullptr, -1);
    const std::string out = testing::internal::GetCapturedStdout();
    ZK666DEBUG = 0;
    EXPECT_EQ(r, 1);
    if (level == 0) {
      EXPECT_EQ(out, "");
    } else {
      // Two strips of 4 cells: 2 x 10 open edges at the start, the 12 of one strip at the end.
      EXPECT_EQ(out.rfind("Join Polys Start\n  20 open edges\n--------------------------------\n", 0), 0u) << out;
      for (const char* title : {"After removing small outer edges\n", "After joining corner vertices\n",
                                "After joining vertices\n", "After Join vert to edge edges\n",
                                "After Bridge vert to edge edges\n  12 open edges\n"})
        EXPECT_NE(out.find(title), std::string::npos) << title;
      EXPECT_EQ(out.find("MULTS"), std::string::npos);
    }
    FreeCloud(m);
  }
}

}  // namespace
