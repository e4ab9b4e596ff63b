// Closing open meshes along their boundaries: welding, splitting and bridging across cracks and
// gaps, edge-use counts, cancel and memory failures.
#include <array>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <random>

#include "cloud/psubdiv.h"
#include "mesh/cldpoly.h"
#include "mesh/rpmclose.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshJoin : public KernelTest {};

using Pts = std::vector<std::array<double, 3>>;
using Tris = std::vector<TestTriangle>;

// Two strips of one row of cells, one above the other: the lower one of nLow cells of width
// wLow on y in [0, 1], the upper one of nHigh cells of width wHigh shifted by `shift` in x and
// lifted by `gap` over y = 1, all coordinates times s.
Cloud* StripPair(int nLow, double wLow, int nHigh, double wHigh, double gap, double shift, double s) {
  Pts pts;
  Tris tris;
  for (int strip = 0; strip < 2; ++strip) {
    const int base = int(pts.size()), n = strip ? nHigh : nLow;
    const double x0 = strip ? shift : 0.0, y0 = strip ? 1.0 + gap : 0.0, w = strip ? wHigh : wLow;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i <= n; ++i) pts.push_back({s * (x0 + w * i), s * (y0 + j), 0.0});
    for (int i = 0; i < n; ++i) {
      const int a = base + i, c = base + n + 1 + i;
      tris.push_back({a, a + 1, c + 1});
      tris.push_back({a, c + 1, c});
    }
  }
  return MakeTestMesh(pts, tris);
}

// Two strips of n unit cells.
Cloud* TwoStrips(int n, double gap, double shift, double s) { return StripPair(n, 1.0, n, 1.0, gap, shift, s); }

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
  // Corners are told by their angle alone, at every size: a triangle's three corners, and of a
  // strip's outline the four corners but none of the straight runs between them.
  for (double s : {1e-6, 1.0, 1e6}) {
    Cloud* m = TwoStrips(3, 5.0, 0.0, s);
    ASSERT_NE(m, nullptr);
    int32_t* edges;
    int32_t** corners;
    int nedges, open = 0;
    ASSERT_EQ(CreatePolyEdges(m, &edges, &corners, &nedges), 1);
    std::vector<unsigned char> mask(nedges), corner(m->npts, 9);
    ASSERT_EQ(FindOuterPolyEdges(m, edges, corners, nedges, &open, mask.data()), 1);
    std::vector<IndexNode*> vedge(m->npts);
    std::vector<IndexNode> nodes(2 * nedges);
    MakeEdgePointers(m, edges, nedges, vedge.data(), nodes.data());
    MarkCornerVertices(m, edges, vedge.data(), mask.data(), 0.5, corner.data());
    for (int v = 0; v < m->npts; ++v) {
      const int i = v % 4;
      EXPECT_EQ(corner[v], i == 0 || i == 3) << s << " " << v;
    }
    Free(edges);
    Free(corners);
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, AFootAtAnEdgesEndNeverSplitsIt) {
  // The open edge a-b of triangle (a, b, c), and a vertex v joined to a by an open edge of its
  // own triangle, 0.1 above the line at distance d along it (tol 0.2): it splits the edge only
  // with its foot inside, d > 1e-6 of the edge's length.
  for (double d : {0.0, 1e-3}) {
    Cloud* m = MakeTestMesh({{0, 0, 0}, {10, 0, 0}, {5, -1, 0}, {d, 0.1, 0}, {-1, 1, 0}}, {{0, 2, 1}, {0, 3, 4}});
    ASSERT_NE(m, nullptr);
    int splits = -1;
    ASSERT_EQ(JoinCldPolys(m, 0.2, 0, &splits, nullptr, -1), 1);
    EXPECT_EQ(splits, d > 0 ? 1 : 0) << d;
    EXPECT_EQ(m->ntri, d > 0 ? 3 : 2);
    const Topology top = Inspect(m);
    EXPECT_EQ(top.misoriented, 0);
    EXPECT_EQ(top.multiple, 0);
    FreeCloud(m);
  }
}

TEST_F(MeshJoin, ASplitNeverLeavesTrianglesFacingAgainstEachOther) {
  // The set-up above with v's triangle turned over, so that it runs a-v the way the split's half
  // would: the split would lay two triangles facing against each other on a-v, and is refused.
  // Either way round the mesh comes out without a misoriented edge.
  for (const bool turned : {false, true})
    for (double s : {1e-6, 1.0, 1e6}) {
      const TestTriangle vs = turned ? TestTriangle{0, 4, 3} : TestTriangle{0, 3, 4};
      Cloud* m = MakeTestMesh({{0, 0, 0}, {10 * s, 0, 0}, {5 * s, -s, 0}, {s, 0.1 * s, 0}, {-s, s, 0}}, {{0, 2, 1}, vs});
      ASSERT_NE(m, nullptr);
      int splits = -1;
      ASSERT_EQ(JoinCldPolys(m, 0.2 * s, 0, &splits, nullptr, -1), 1);
      EXPECT_EQ(splits, turned ? 0 : 1) << s;
      const Topology top = Inspect(m);
      EXPECT_EQ(top.misoriented, 0) << turned << " " << s;
      EXPECT_EQ(top.multiple, 0);
      FreeCloud(m);
    }
}

TEST_F(MeshJoin, OverlapTestsTellFacingSidesFromOneSide) {
  // Two strips across a crack: the lower strip's top row faces the upper strip's bottom row.
  Cloud* m = TwoStrips(4, 0.1, 0.5, 1.0);
  ASSERT_NE(m, nullptr);
  int32_t* edges;
  int32_t** corners;
  int nedges, open = 0;
  ASSERT_EQ(CreatePolyEdges(m, &edges, &corners, &nedges), 1);
  std::vector<unsigned char> mask(nedges);
  ASSERT_EQ(FindOuterPolyEdges(m, edges, corners, nedges, &open, mask.data()), 1);
  std::vector<IndexNode*> vedge(m->npts);
  std::vector<IndexNode> nodes(2 * nedges);
  MakeEdgePointers(m, edges, nedges, vedge.data(), nodes.data());
  // Lower top row: vertices 6..10; upper bottom row: 10 + 1 .. 14.
  const int lowTop = 6, highBottom = 10;
  EXPECT_EQ(PolygonsEdgesOverlap(m->x, m->y, m->z, vedge.data(), edges, lowTop + 2, highBottom + 2, mask.data()), 0);
  EXPECT_EQ(PolygonsEdgesOverlap(m->x, m->y, m->z, vedge.data(), edges, lowTop + 1, lowTop + 3, mask.data()), 1);
  // Splitting the upper strip's bottom edge 12-13 at a lower vertex: allowed; at a vertex of its
  // own side (the upper strip's vertex 14, beside it on the same row): vetoed.
  int t = -1;
  for (int k = 0; k < m->ntri && t < 0; ++k)
    if (PolygonHasVertex(m, k, highBottom + 2) && PolygonHasVertex(m, k, highBottom + 3)) t = k;
  ASSERT_GE(t, 0);
  int c = -1;
  for (int32_t v : m->tri[t].v) c = v != highBottom + 2 && v != highBottom + 3 ? v : c;
  EXPECT_EQ(PolyVertEdgesOverlap(m->x, m->y, m->z, vedge.data(), edges, lowTop + 2, highBottom + 2, highBottom + 3, c,
                                 &m->tri[t], mask.data()),
            0);
  EXPECT_EQ(PolyVertEdgesOverlap(m->x, m->y, m->z, vedge.data(), edges, highBottom + 4, highBottom + 2, highBottom + 3,
                                 c, &m->tri[t], mask.data()),
            1);
  Free(edges);
  Free(corners);
  FreeCloud(m);
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

TEST_F(MeshJoin, ALapJointIsBridgedOnlyByTheNearestVertexPhase) {
  // A second strip lies over the first one's edge 0.3 higher (a lap joint): every vertex lies on
  // the same side of the other strip's edge as that edge's triangle, so the outer-side bridges
  // refuse it, and the nearest-vertex bridges close it.
  Pts pts;
  Tris tris;
  const int n = 6;
  for (int strip = 0; strip < 2; ++strip) {
    const int base = int(pts.size());
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i <= n; ++i) pts.push_back({double(i), strip ? 0.8 + 1.2 * j : double(j), strip ? 0.3 : 0.0});
    for (int i = 0; i < n; ++i) {
      const int a = base + i, c = base + n + 1 + i;
      tris.push_back({a, a + 1, c + 1});
      tris.push_back({a, c + 1, c});
    }
  }
  Cloud* m = MakeTestMesh(pts, tris);
  ASSERT_NE(m, nullptr);
  int splits = -1;
  ASSERT_EQ(JoinCldPolys(m, 0.2, 0.5, &splits, nullptr, -1), 1);
  const Topology top = Inspect(m);
  EXPECT_GT(m->ntri, 4 * n);
  EXPECT_EQ(top.multiple, 0);
  EXPECT_EQ(top.loops, 1);
  FreeCloud(m);
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

namespace {

class MeshZip : public KernelTest {};

// Sum of |area| of the triangles from `first` on, and whether they all turn the same way.
std::pair<double, bool> BandArea(const Cloud* m, int first) {
  double sum = 0;
  int pos = 0, neg = 0;
  for (int t = first; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    const double a = 0.5 * ((m->x[v[1]] - m->x[v[0]]) * (m->y[v[2]] - m->y[v[0]]) -
                            (m->y[v[1]] - m->y[v[0]]) * (m->x[v[2]] - m->x[v[0]]));
    sum += std::fabs(a);
    (a > 0 ? pos : neg)++;
  }
  return {sum, pos == 0 || neg == 0};
}

TEST_F(MeshZip, ZippedChainsTileTheSpaceBetweenThemExactly) {
  // Random chains along y = 0 and y = 1 over the same span: countA + countB - 2 triangles that
  // all turn one way and cover the trapezoid once (their areas add up to it: none overlap).
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (int trial = 0; trial < 40; ++trial) {
    const int countA = 1 + trial % 7, countB = 1 + (trial * 5) % 11;
    if (countA + countB < 3) continue;
    Pts pts;
    auto chainAlong = [&](int n, double y) {
      std::vector<double> xs = {0.0, 6.0};
      for (int i = 2; i < n; ++i) xs.push_back(6.0 * U(rng));
      std::sort(xs.begin(), xs.end());
      if (n == 1) xs = {3.0};
      std::vector<int> chain;
      for (int i = 0; i < n; ++i) chain.push_back(int(pts.size())), pts.push_back({xs[i], y, 0});
      return chain;
    };
    std::vector<int> A = chainAlong(countA, 0.0), B = chainAlong(countB, 1.0);
    Cloud* m = MakeTestMesh(pts, {});
    ASSERT_NE(m, nullptr);
    int capacity = 0;
    ASSERT_EQ(JoinVerticesByBridging(m, A.data(), countA, B.data(), countB, &capacity), 1);
    EXPECT_EQ(m->ntri, countA + countB - 2) << trial;
    EXPECT_GE(capacity, m->ntri);
    const auto [area, oneWay] = BandArea(m, 0);
    EXPECT_TRUE(oneWay) << trial;
    const double expected = countA == 1 || countB == 1 ? 3.0 : 6.0;
    EXPECT_NEAR(area, expected, 1e-5) << trial;
    FreeCloud(m);
  }
}

TEST_F(MeshZip, SharedEndsTiesAndRungs) {
  // A unit square: the diagonals tie, so the first triangle is chain A's.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {});
  ASSERT_NE(m, nullptr);
  int A[2] = {0, 1}, B[2] = {2, 3}, capacity = 0;
  ASSERT_EQ(JoinVerticesByBridging(m, A, 2, B, 2, &capacity), 1);
  ASSERT_EQ(m->ntri, 2);
  EXPECT_TRUE(PolygonHasVertex(m, 0, 0) && PolygonHasVertex(m, 0, 1));
  // Rung by rung: 2 (n - 1) triangles covering the square once.
  m->ntri = 0;
  ASSERT_EQ(JoinEqualVerticesByBridging(m, A, B, 2, &capacity), 1);
  EXPECT_EQ(m->ntri, 2);
  EXPECT_NEAR(BandArea(m, 0).first, 1.0, 1e-6);
  EXPECT_TRUE(BandArea(m, 0).second);
  EXPECT_EQ(JoinEqualVerticesByBridging(m, A, B, 1, &capacity), 1);
  EXPECT_EQ(m->ntri, 2);
  FreeCloud(m);

  // A fan whose chains share their end (B's last is A's first): chain A is turned round and the
  // shared vertex gets no degenerate triangle.
  m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {});
  ASSERT_NE(m, nullptr);
  int A3[3] = {2, 1, 0}, B3[3] = {3, 4, 2};
  capacity = 0;
  ASSERT_EQ(JoinVerticesByBridging(m, A3, 3, B3, 3, &capacity), 1);
  EXPECT_EQ(A3[0], 0);
  EXPECT_EQ(m->ntri, 3);
  Inspect(m);  // no repeated corner
  EXPECT_NEAR(BandArea(m, 0).first, 1.5, 1e-6);
  // The third vertex of the last of 0's triangles that hold 1, through the lists: they run from
  // the highest triangle down, so that is the lowest-numbered one.
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(3 * m->ntri);
  MakePolyPointers(m, heads.data(), nodes.data());
  int lowest = -1;
  for (int t = 0; t < m->ntri && lowest < 0; ++t)
    if (PolygonHasVertex(m, t, 0) && PolygonHasVertex(m, t, 1))
      for (int32_t v : m->tri[t].v) lowest = v != 0 && v != 1 ? v : lowest;
  ASSERT_GE(lowest, 0);
  EXPECT_EQ(GetThirdPoint(heads.data(), m->tri, 0, 1), lowest);
  EXPECT_EQ(GetThirdPoint(heads.data(), m->tri, 0, 99), -1);  // no triangle holds both
  SetCldPointsEqual(m, 0, 4);
  EXPECT_EQ(m->x[0], 0.5f);
  EXPECT_EQ(m->y[4], 0.5f);
  FreeCloud(m);
}

// A fan of n triangles around a centre (a disc, ring edges running counter-clockwise) or a ring
// of 2n triangles between radii r and R; the ring's vertices on the inner circle come first.
void AddDisc(Pts& pts, Tris& tris, int n, double r) {
  const int c = int(pts.size());
  pts.push_back({0, 0, 0});
  for (int i = 0; i < n; ++i) pts.push_back({r * std::cos(2 * M_PI * i / n), r * std::sin(2 * M_PI * i / n), 0});
  for (int i = 0; i < n; ++i) tris.push_back({c, c + 1 + i, c + 1 + (i + 1) % n});
}
void AddRing(Pts& pts, Tris& tris, int n, double r, double R) {
  const int b = int(pts.size());
  for (double rad : {r, R})
    for (int i = 0; i < n; ++i)
      pts.push_back({rad * std::cos(2 * M_PI * (i + 0.5) / n), rad * std::sin(2 * M_PI * (i + 0.5) / n), 0});
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    tris.push_back({b + i, b + n + i, b + n + j});
    tris.push_back({b + i, b + n + j, b + j});
  }
}

TEST_F(MeshZip, RingsInEitherSenseZipIntoOneCleanBand) {
  for (bool reverseInner : {false, true}) {
    Pts pts;
    Tris tris;
    AddDisc(pts, tris, 7, 1.0);
    AddRing(pts, tris, 12, 2.0, 3.0);
    Cloud* m = MakeTestMesh(pts, tris);
    ASSERT_NE(m, nullptr);
    const int before = m->ntri;
    // The two rings as edge lists: the disc's rim and the ring's inner circle.
    std::vector<int32_t> edges;
    std::vector<IndexNode> nodes(19);
    IndexNode* loops[2] = {nullptr, nullptr};
    auto ring = [&](int loop, int first, int n, bool reverse, int nodeBase) {
      for (int i = 0; i < n; ++i) {
        const int k = reverse ? n - 1 - i : i;
        const int a = first + k, b = first + (reverse ? (k + n - 1) % n : (k + 1) % n);
        nodes[nodeBase + i] = {nullptr, int32_t(edges.size() / 2)};
        if (i > 0) nodes[nodeBase + i - 1].next = &nodes[nodeBase + i];
        edges.push_back(a);
        edges.push_back(b);
      }
      loops[loop] = &nodes[nodeBase];
    };
    ring(0, 8, 12, false, 0);         // ring A: the ring's inner circle
    ring(1, 1, 7, reverseInner, 12);  // ring B: the disc's rim
    const int pair[2] = {0, 1};
    ASSERT_EQ(CloseCloudEdgeRings(m, edges.data(), loops, pair), 1);
    EXPECT_EQ(m->ntri, before + 12 + 7);
    const Topology top = Inspect(m);
    ExpectOneCleanLoop(top, reverseInner);
    EXPECT_EQ(top.open, 12);  // the outer circle alone
    // The band covers the annulus between the 12-gon of radius 2 and the 7-gon of radius 1.
    const double annulus = 0.5 * 12 * 4 * std::sin(2 * M_PI / 12) - 0.5 * 7 * std::sin(2 * M_PI / 7);
    EXPECT_NEAR(BandArea(m, before).first, annulus, 1e-5);
    EXPECT_TRUE(BandArea(m, before).second);
    FreeCloud(m);
  }
}

TEST_F(MeshZip, FacingRunsOfSevenAndElevenVerticesCloseInOnePass) {
  for (double s : {1e-3, 1.0, 1e3}) {
    // 6 cells below, 10 above, across a crack 0.05 wide.
    Cloud* m = StripPair(6, 1.0, 10, 0.6, 0.05, 0.0, s);
    ASSERT_NE(m, nullptr);
    const double area = Inspect(m).signedArea;
    ASSERT_EQ(NewJoinCldPolys(m, 0.1 * s, 0.2 * s, 0.5 * s), 1) << s;
    const Topology top = Inspect(m);
    EXPECT_EQ(m->ntri, 32 + 6 + 10) << s;
    ExpectOneCleanLoop(top, s);
    EXPECT_EQ(top.open, 6 + 10 + 2 + 2 + 2) << s;  // the outline, with the crack's two ends
    EXPECT_NEAR(top.signedArea, area + 0.05 * 6 * s * s, 1e-4 * area) << s;
    // Nothing left to join: a second run adds nothing.
    ASSERT_EQ(NewJoinCldPolys(m, 0.1 * s, 0.2 * s, 0.5 * s), 1);
    EXPECT_EQ(m->ntri, 48);
    FreeCloud(m);
  }
  // A crack wider than sideTol, or shorter than minLength, stays open.
  for (auto [gap, minLength] : {std::pair{0.3, 0.5}, std::pair{0.05, 7.0}}) {
    Cloud* m = StripPair(6, 1.0, 10, 0.6, gap, 0.0, 1.0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(NewJoinCldPolys(m, 0.1, 0.2, minLength), 1);
    EXPECT_EQ(m->ntri, 32) << gap;
    FreeCloud(m);
  }
}

TEST_F(MeshZip, NeighbourEdgesRunTheSameWayWithinThirtyDegrees) {
  // A loop of five edges: two straight, a 20-degree turn, a 40-degree turn and one backward.
  const double c20 = std::cos(M_PI / 9), s20 = std::sin(M_PI / 9);
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {2 + c20, s20, 0}, {2 + c20 + 0.5, s20 + 0.9, 0},
                           {1.5 + c20, s20 + 0.9, 0}},
                          {});
  ASSERT_NE(m, nullptr);
  const int32_t edges[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5};
  std::vector<IndexNode> nodes(5);
  for (int e = 0; e < 5; ++e) nodes[e] = {e + 1 < 5 ? &nodes[e + 1] : nullptr, e};
  IndexNode* loops[1] = {&nodes[0]};
  const double limit = 0.75;
  EXPECT_EQ(EdgesWithinTol(m, edges, limit, 0, 1, 1), 1);
  EXPECT_EQ(EdgesWithinTol(m, edges, limit, 1, 2, 1), 1);
  EXPECT_EQ(EdgesWithinTol(m, edges, limit, 2, 3, 1), 0);  // 40 degrees
  EXPECT_EQ(EdgesWithinTol(m, edges, limit, 0, 4, 1), 0);  // against each other
  EXPECT_EQ(EdgesWithinTol(m, edges, limit, 0, 4, 0), 1);
  int nb[2], count = -1;
  FindNeighborEdge(m, edges, 1, 1, loops, limit, nb, &count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(nb[0], 2);  // the following edge first
  EXPECT_EQ(nb[1], 0);
  FindNeighborEdge(m, edges, 4, 1, loops, limit, nb, &count);
  EXPECT_EQ(count, 0);  // the tail: no following edge, the preceding one turns too far
  FindNeighborEdge(m, edges, 9, 1, loops, limit, nb, &count);
  EXPECT_EQ(count, 0);
  // As a ring: closed only when the last edge ends where the first begins.
  std::vector<EdgeRingNode> ringNodes(5);
  EdgeRingNode* ringHead = nullptr;
  ConvertLooplistTo2Links(edges, loops[0], ringNodes.data(), &ringHead);
  EXPECT_EQ(ringHead, &ringNodes[0]);
  EXPECT_EQ(ringNodes[4].next, nullptr);
  const int32_t closed[] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 0};
  ConvertLooplistTo2Links(closed, loops[0], ringNodes.data(), &ringHead);
  EXPECT_EQ(ringNodes[4].next, &ringNodes[0]);
  EXPECT_EQ(ringNodes[0].prev, &ringNodes[4]);
  FreeCloud(m);
}

TEST_F(MeshZip, CancelAndRefusedMemoryKeepTheTrianglesAddedBefore) {
  Cloud* ref = StripPair(6, 1.0, 10, 0.6, 0.05, 0.0, 1.0);
  ASSERT_NE(ref, nullptr);
  const auto before = TrianglesOf(ref);
  FreeCloud(ref);
  StubBreakAfterPolls(1);
  Cloud* m = StripPair(6, 1.0, 10, 0.6, 0.05, 0.0, 1.0);
  EXPECT_EQ(NewJoinCldPolys(m, 0.1, 0.2, 0.5), 0);
  StubBreakAfterPolls(0);
  EXPECT_EQ(TrianglesOf(m), before);
  FreeCloud(m);
  bool finished = false;
  for (long skip = 0; skip < 300 && !finished; ++skip) {
    ClearKernelError();
    m = StripPair(6, 1.0, 10, 0.6, 0.05, 0.0, 1.0);
    MallocFailAfter(skip, -1);
    const int r = NewJoinCldPolys(m, 0.1, 0.2, 0.5);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    const auto after = TrianglesOf(m);
    // Whatever a failed run added is a whole band: the old triangles stay in front.
    ASSERT_GE(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << skip;
    finished = r == 1;
    FreeCloud(m);
  }
  ClearKernelError();
  EXPECT_TRUE(finished);
}

TEST_F(MeshZip, CellAndEdgeLinksComeAndGoTogether) {
  TrackingScope scope;  // the node blocks are the caller's scope's
  // Points on a 4 x 4 grid of unit cells in the x-y plane, one point per cell.
  std::vector<float> x, y, z;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) x.push_back(i + 0.5f), y.push_back(j + 0.5f), z.push_back(0);
  Subdiv* grid = SubdivideArraysMax(x.data(), y.data(), z.data(), 16, 0, 0, 0, 4, 4, 0, 0.5, 0.5, 0.5, 96);
  ASSERT_NE(grid, nullptr);
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  ASSERT_EQ(ncells, 16);
  std::vector<unsigned char> flags(ncells, 0);
  std::vector<IndexNode*> edgeCells(2, nullptr);
  IndexNode* block = nullptr;
  int used = 0;
  const int base = 100;
  // Edge 0 from point 0 to point 10 spans a 3 x 3 box of cells, each of which takes the edge's
  // id as an item; the box of point 5 with itself is one cell.
  ASSERT_EQ(AddEdgeToCellLinks(grid, 0, 10, 0, edgeCells.data(), &block, 4, &used, flags.data()), 1);
  int linked = 0;
  for (const IndexNode* n = edgeCells[0]; n; n = n->next) ++linked;
  EXPECT_EQ(linked, 9);
  EXPECT_EQ(std::count(flags.begin(), flags.end(), 1), 9);
  std::vector<unsigned char> one(ncells, 0);
  SetCellFlag(grid, 5, 5, one.data());
  EXPECT_EQ(std::count(one.begin(), one.end(), 1), 1);
  EXPECT_EQ(one[grid->ownCell[5]], 1);
  for (const IndexNode* n = edgeCells[0]; n; n = n->next) {
    SubdivCell& c = grid->cells[n->index];
    c.items = static_cast<int32_t*>(Realloc(c.items, sizeof(int32_t) * (c.count + 1)));
    c.items[c.count++] = base + 0;
  }
  RemoveEdgeCellLinks(0, edgeCells.data(), grid->cells, base);
  for (int c = 0; c < ncells; ++c) {
    EXPECT_EQ(grid->cells[c].count, 1) << c;
    EXPECT_LT(grid->cells[c].items[0], 16);
  }
  FreeSubdiv(grid);
  // Vertex lists: one free node left in the block goes to v, w's takes a new block.
  std::vector<IndexNode*> vertexEdges(4, nullptr);
  const int32_t ends[] = {0, 1, 1, 2, 2, 3, 0, 2, 2, 1};
  IndexNode* vblock = nullptr;
  int vused = 0;
  for (int e = 0; e < 4; ++e) ASSERT_EQ(AddVedgeLinks(ends[2 * e], ends[2 * e + 1], e, vertexEdges.data(), &vblock, 9, &vused), 1);
  IndexNode* firstBlock = vblock;
  ASSERT_EQ(AddVedgeLinks(2, 1, 4, vertexEdges.data(), &vblock, 9, &vused), 1);
  EXPECT_EQ(vertexEdges[2], &firstBlock[8]);
  EXPECT_NE(vblock, firstBlock);
  EXPECT_EQ(vused, 1);
  // Joining 0 and 3 makes their edges to the common neighbour 2 one edge, and joining 0 and 2
  // their edges to 1: both leave the outline each time.
  std::vector<int16_t> open(5, 1);
  RemoveJointEdgesFromOuter(0, 3, nullptr, vertexEdges.data(), open.data(), ends);
  EXPECT_EQ(std::count(open.begin(), open.end(), 1), 3);
  EXPECT_TRUE(open[3] == 0 && open[2] == 0);  // 0-2 and 2-3
  std::fill(open.begin(), open.end(), 1);
  RemoveJointEdgesFromOuter(0, 2, nullptr, vertexEdges.data(), open.data(), ends);
  EXPECT_EQ(open[0], 0);  // 0-1
  EXPECT_EQ(open[4], 0);  // 2-1, the first of 2's edges to 1
  EXPECT_EQ(open[1], 1);
  RemoveEdgeVertexLinks(ends, 3, vertexEdges.data(), nullptr);
  EXPECT_EQ(GetEdgeNo(ends, vertexEdges.data(), 0, 2), -1);
}

}  // namespace
