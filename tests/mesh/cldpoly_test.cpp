// Mesh topology against brute force: unique edges, corner pointers, adjacency lists and
// boundary loops of grids with holes, a bow tie, an edge of three triangles and closed meshes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldpoly.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshTopology : public KernelTest {};

using Edge = std::pair<int, int>;

// Each unordered corner pair with the number of corners that use it.
std::map<Edge, int> BruteEdges(const Cloud* m) {
  std::map<Edge, int> uses;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  return uses;
}

using Topology = MeshEdgesAndLoops;

// Checks the edge table and corner pointers against the corner pairs, then that the loops are
// head-to-tail cycles (paths where an edge of three or more triangles was taken out) that hold
// every edge of exactly one triangle once. Returns the loop sizes.
std::vector<int> CheckTopology(const Cloud* m, Topology& tp) {
  const auto uses = BruteEdges(m);
  bool manifold = true;
  for (const auto& [e, n] : uses) manifold = manifold && n <= 2;
  std::vector<Edge> expect;
  for (const auto& [e, n] : uses) expect.push_back(e);
  EXPECT_EQ(tp.nedges, int(expect.size()));
  for (int e = 0; e < tp.nedges && e < int(expect.size()); ++e)
    EXPECT_EQ(Edge(tp.edges[2 * e], tp.edges[2 * e + 1]), expect[e]) << e;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int32_t* p = tp.corners[3 * t + k];
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      EXPECT_EQ(Edge(p[0], p[1]), Edge(std::min(a, b), std::max(a, b))) << t << " " << k;
      EXPECT_EQ((p - tp.edges) % 2, 0);
    }
  std::set<int> once;
  for (int e = 0; e < tp.nedges; ++e)
    if (uses.at({tp.edges[2 * e], tp.edges[2 * e + 1]}) == 1) once.insert(e);
  std::multiset<int> walked;
  std::vector<int> sizes;
  int total = 0;
  for (int l = 0; l < tp.nloops; ++l) {
    int n = 0;
    for (IndexNode* node = tp.loops[l]; node; node = node->next, ++n) walked.insert(node->index);
    EXPECT_EQ(n, tp.sizes[l]);
    EXPECT_GT(n, 0);
    sizes.push_back(n);
    total += n;
  }
  EXPECT_EQ(total, tp.total);
  EXPECT_EQ(std::set<int>(walked.begin(), walked.end()), once);
  EXPECT_EQ(walked.size(), once.size());  // no edge twice
  // Head to tail and closed, once the pairs are turned to walking order.
  std::vector<int32_t> pairs(tp.edges, tp.edges + 2 * tp.nedges);
  MakeEdgeVertsConsistent(pairs.data(), tp.loops, tp.nloops);
  for (int l = 0; l < tp.nloops; ++l) {
    if (tp.sizes[l] < 2) continue;
    std::vector<int> order;
    for (IndexNode* node = tp.loops[l]; node; node = node->next) order.push_back(node->index);
    // Loops that lost an edge of three or more triangles are open paths.
    const size_t links = manifold ? order.size() : order.size() - 1;
    for (size_t i = 0; i < links; ++i) {
      const int e = order[i], f = order[(i + 1) % order.size()];
      EXPECT_EQ(pairs[2 * e + 1], pairs[2 * f]) << "loop " << l << " at " << i;
    }
  }
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

TEST_F(MeshTopology, GridWithHolesHasOneLoopPerHoleAndTheOuterLoop) {
  for (int holes : {0, 1, 3}) {
    // 2 x 2-cell holes on a 12 x 9 vertex grid; one hole touches the outer rim at a corner.
    auto keep = [holes](int i, int j) {
      if (holes >= 1 && i >= 2 && i <= 3 && j >= 2 && j <= 3) return false;
      if (holes >= 2 && i >= 6 && i <= 7 && j >= 4 && j <= 5) return false;
      if (holes >= 3 && i >= 2 && i <= 3 && j >= 5 && j <= 6) return false;
      return true;
    };
    Cloud* m = MakeGridMesh(12, 9, keep, 1e-3);
    ASSERT_NE(m, nullptr);
    Topology tp;
    ASSERT_EQ(tp.Build(m), 0);
    std::vector<int> expect(holes, 8);
    expect.push_back(2 * (11 + 8));
    EXPECT_EQ(CheckTopology(m, tp), expect) << holes;
    FreeCloud(m);
  }
}

TEST_F(MeshTopology, BowTieGivesTwoLoopsOfThree) {
  // Two triangles sharing vertex 0 only, the shared vertex numbered lowest and highest.
  for (int shared : {0, 4}) {
    std::vector<TestTriangle> tris = {{0, 1, 2}, {0, 3, 4}};
    for (auto& t : tris)
      for (int& v : t) v = v == 0 ? shared : (v == shared ? 0 : v);
    Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 0, 0}, {-1, -1, 0}}, tris);
    ASSERT_NE(m, nullptr);
    Topology tp;
    ASSERT_EQ(tp.Build(m), 0);
    EXPECT_EQ(CheckTopology(m, tp), (std::vector<int>{3, 3}));
    EXPECT_EQ(tp.total, 6);
    FreeCloud(m);
  }
}

TEST_F(MeshTopology, EdgesOfThreeTrianglesLeaveTheLoops) {
  // A fan of three triangles on edge 0-1: the edge is walked but taken out of the loops.
  Cloud* fan = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0.5, 1, 0}, {0.5, -1, 0}, {0.5, 0, 1}}, {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}});
  ASSERT_NE(fan, nullptr);
  Topology tp;
  ASSERT_EQ(tp.Build(fan), 0);
  CheckTopology(fan, tp);
  EXPECT_EQ(tp.total, 6);
  FreeCloud(fan);
  // A closed octahedron has no boundary; one with a fin on an edge has only the fin's two
  // outer edges left, and a loop made only of a thrice-used edge is dropped.
  const std::vector<std::array<double, 3>> pts = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}, {2, 2, 2}};
  std::vector<TestTriangle> octa = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  Cloud* closed = MakeTestMesh(pts, octa);
  ASSERT_NE(closed, nullptr);
  Topology tc;
  ASSERT_EQ(tc.Build(closed), 0);
  EXPECT_EQ(tc.total, 0);
  EXPECT_EQ(tc.nloops, 0);
  EXPECT_EQ(tc.loops, nullptr);
  CheckTopology(closed, tc);
  FreeCloud(closed);
  octa.push_back({0, 4, 6});
  Cloud* fin = MakeTestMesh(pts, octa);
  ASSERT_NE(fin, nullptr);
  Topology tf;
  ASSERT_EQ(tf.Build(fin), 0);
  EXPECT_EQ(CheckTopology(fin, tf), (std::vector<int>{2}));
  FreeCloud(fin);
}

TEST_F(MeshTopology, EmptyMeshAndSingleTriangle) {
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {});
  ASSERT_NE(m, nullptr);
  Topology tp;
  tp.edges = reinterpret_cast<int32_t*>(&tp);  // overwritten with null
  EXPECT_EQ(CreatePolyEdges(m, &tp.edges, &tp.corners, &tp.nedges), 1);
  EXPECT_EQ(tp.edges, nullptr);
  EXPECT_EQ(tp.nedges, 0);
  EXPECT_EQ(MakeOuterEdgeList(m, tp.edges, tp.corners, 0, &tp.loops, &tp.nloops, &tp.sizes, &tp.loopNodes), 0);
  FreeCloud(m);
  Cloud* one = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{2, 0, 1}});
  ASSERT_NE(one, nullptr);
  Topology t1;
  ASSERT_EQ(t1.Build(one), 0);
  EXPECT_EQ(CheckTopology(one, t1), (std::vector<int>{3}));
  FreeCloud(one);
  // The walk's chain keeps insertion order and is freed node by node.
  IndexNode* chain = nullptr;
  for (int v : {4, -1, 7}) chain = InsertPolyCloudEdge(chain, v);
  DeleteCloudEdge(&chain->next, 9);  // not there: nothing unlinked
  std::vector<int> values;
  for (; chain; chain = DeletePolyCloudEdge(chain)) values.push_back(chain->index);
  EXPECT_EQ(values, (std::vector<int>{4, -1, 7}));
}

// The edge table against the corner pairs, and every corner pointing at its own pair, one of
// the table's.
void ExpectCornersOnTheirEdges(const Cloud* m) {
  Topology tp;
  ASSERT_EQ(CreatePolyEdges(m, &tp.edges, &tp.corners, &tp.nedges), 1);
  std::vector<Edge> expect;
  for (const auto& [e, n] : BruteEdges(m)) expect.push_back(e);
  ASSERT_EQ(tp.nedges, int(expect.size()));
  for (int e = 0; e < tp.nedges; ++e) EXPECT_EQ(Edge(tp.edges[2 * e], tp.edges[2 * e + 1]), expect[e]) << e;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int32_t* p = tp.corners[3 * t + k];
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      ASSERT_EQ((p - tp.edges) % 2, 0);
      ASSERT_GE(p - tp.edges, 0);
      ASSERT_LT(p - tp.edges, 2 * tp.nedges) << t << " " << k;
      EXPECT_EQ(Edge(p[0], p[1]), Edge(std::min(a, b), std::max(a, b))) << t << " " << k;
    }
}

// Scans and exports carry corners that name no point, negative ones among them: the table still
// holds every corner pair once (one with a negative end counts as a deleted edge), whatever
// numbers the triangles hold. All corners negative puts (-2, -1) last in order.
TEST_F(MeshTopology, CornersNamingNoPointStillPointAtTheirEdges) {
  const std::vector<std::vector<TestTriangle>> meshes = {
      {{-3, -2, -1}},
      {{-2, -1, -2}, {-1, -2, -5}},
      {{0, 1, 2}, {-2, -1, -3}, {2, 1, 3}},
      {{0, 1, 2}, {2, 1, 7}, {3, INT32_MAX, -1}},
      {{INT32_MIN, -1, -2}, {-2, -1, INT32_MIN}},
  };
  for (const auto& tris : meshes) {
    std::vector<TestTriangle> named = tris;
    for (TestTriangle& t : named)
      for (int& w : t) w = w >= 0 && w < 4 ? w : 0;
    Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, named);
    ASSERT_NE(m, nullptr);
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k) m->tri[t].v[k] = tris[t][k];
    ExpectCornersOnTheirEdges(m);
    FreeCloud(m);
  }
}

TEST_F(MeshTopology, AdjacencyListsAgreeWithTheTriangles) {
  Cloud* m = MakeGridMesh(6, 5, [](int i, int j) { return !(i == 2 && j == 1); });
  ASSERT_NE(m, nullptr);
  Topology tp;
  ASSERT_EQ(tp.Build(m), 0);
  std::vector<IndexNode*> vheads(m->npts), eheads(tp.nedges), theads(m->npts);
  std::vector<IndexNode> vnodes(2 * tp.nedges), enodes(3 * m->ntri), tnodes(3 * m->ntri + 3);
  MakeEdgePointers(m, tp.edges, tp.nedges, vheads.data(), vnodes.data());
  EdgeToPolyPointers(m, eheads.data(), enodes.data(), tp.corners, tp.edges, tp.nedges);
  MakePolyPointers(m, theads.data(), tnodes.data());
  for (int v = 0; v < m->npts; ++v)
    for (int w = 0; w < m->npts; ++w) {
      if (v == w) {  // any edge of v holds v; no triangle is on an edge v-v
        int count = -1;
        FindAllPolysWithVert(m, v, v, theads.data(), nullptr, &count);
        EXPECT_EQ(count, 0);
        continue;
      }
      const int e = GetEdgeNo(tp.edges, vheads.data(), v, w);
      int expect = -1;
      for (int f = 0; f < tp.nedges; ++f)
        if ((tp.edges[2 * f] == v && tp.edges[2 * f + 1] == w) || (tp.edges[2 * f] == w && tp.edges[2 * f + 1] == v))
          expect = f;
      EXPECT_EQ(e, expect) << v << " " << w;
      // The triangles on v-w: from the edge's list and from v's list.
      std::vector<int32_t> onEdge, found(8);
      if (e >= 0)
        for (IndexNode* n = eheads[e]; n; n = n->next) onEdge.push_back(n->index);
      int count = -1;
      FindAllPolysWithVert(m, v, w, theads.data(), found.data(), &count);
      found.resize(count);
      std::sort(onEdge.begin(), onEdge.end());
      std::sort(found.begin(), found.end());
      EXPECT_EQ(found, onEdge) << v << " " << w;
    }
  for (int t = 0; t < m->ntri; ++t) {
    int32_t e[3];
    EXPECT_EQ(FindPolygonEdges(m, t, tp.edges, vheads.data(), e), e[2]);
    const int32_t* v = m->tri[t].v;
    EXPECT_EQ(tp.corners[3 * t] - tp.edges, 2 * e[0]);
    EXPECT_EQ(tp.corners[3 * t + 1] - tp.edges, 2 * e[1]);
    EXPECT_EQ(tp.corners[3 * t + 2] - tp.edges, 2 * e[2]);
    EXPECT_EQ(GetPolyFromVertices(theads.data(), m->tri, v[1], v[2], v[0]), t);
    EXPECT_EQ(PolygonHasVertex(m, t, v[2]), 1);
  }
  // Marked lists hold exactly the marked vertices' entries (vertex 8 is on the missing cell).
  std::vector<unsigned char> mask(m->npts, 0);
  mask[7] = mask[8] = 1;
  MakeMarkedPolyPointers(m, theads.data(), tnodes.data(), mask.data());
  MakeMarkedEdgePointers(m, tp.edges, tp.nedges, vheads.data(), vnodes.data(), mask.data());
  std::vector<int> nt(m->npts), ne(m->npts);
  for (int v = 0; v < m->npts; ++v) {
    for (IndexNode* n = theads[v]; n; n = n->next) nt[v] += PolygonHasVertex(m, n->index, v);
    for (IndexNode* n = vheads[v]; n; n = n->next) ne[v] += tp.edges[2 * n->index] == v || tp.edges[2 * n->index + 1] == v;
  }
  std::vector<int> expectT(m->npts), expectE(m->npts);
  expectT[7] = expectE[7] = 6;
  expectT[8] = 4;
  expectE[8] = 5;
  EXPECT_EQ(nt, expectT);
  EXPECT_EQ(ne, expectE);
  FreeCloud(m);
}

TEST_F(MeshTopology, RefusedAllocationsHandOutNothing) {
  Cloud* m = MakeGridMesh(10, 8, [](int i, int j) { return !(i >= 3 && i <= 4 && j >= 3 && j <= 4) && !(i == 7 && j == 2); });
  ASSERT_NE(m, nullptr);
  Topology ref;
  ASSERT_EQ(ref.Build(m), 0);
  // Each block of the edge table and of the loop walk is refused in turn.
  const int failures = RunWithInjectedFailures(400, 1, [&] {
    Topology tp;
    if (tp.Build(m)) {
      EXPECT_EQ(tp.loops, nullptr);
      EXPECT_EQ(tp.sizes, nullptr);
      EXPECT_EQ(tp.loopNodes, nullptr);
      EXPECT_EQ(tp.nloops, 0);
      EXPECT_EQ(tp.total, 0);
      if (!tp.edges) {
        EXPECT_EQ(tp.corners, nullptr);
      }
      return 1;
    }
    EXPECT_EQ(tp.total, ref.total);
    EXPECT_EQ(tp.nloops, ref.nloops);
    return 0;
  });
  EXPECT_GT(failures, 20);
  EXPECT_LT(failures, 400);
  // The loops without the table: a refusal anywhere hands out nothing, else the same loops.
  const int refused = RunWithInjectedFailures(400, 1, [&] {
    int32_t* edges = nullptr;
    IndexNode** loops = nullptr;
    int nloops = -1, *sizes = nullptr;
    IndexNode* nodes = nullptr;
    const int total = MakeBoundaryLoops(m, &edges, &loops, &nloops, &sizes, &nodes);
    EXPECT_TRUE(total == 0 || (total == ref.total && nloops == ref.nloops));
    EXPECT_EQ(total == 0, !edges && !loops && !sizes && !nodes && nloops == 0);
    for (void* p : {(void*)edges, (void*)loops, (void*)sizes, (void*)nodes})
      if (p) Free(p);
    return total == 0 ? 1 : 0;
  });
  EXPECT_GT(refused, 5);
  EXPECT_LT(refused, 400);
  FreeCloud(m);
}

}  // namespace

namespace {

// Each loop as its vertex sequence, from the pairs its edge numbers name.
std::vector<std::vector<int>> LoopPairs(const int32_t* edges, IndexNode* const* loops, int nloops) {
  std::vector<std::vector<int>> out;
  for (int l = 0; l < nloops; ++l) {
    out.emplace_back();
    for (const IndexNode* e = loops[l]; e; e = e->next) out.back().push_back(edges[2 * e->index]), out.back().push_back(edges[2 * e->index + 1]);
  }
  return out;
}

// Loops found without the edge table are those of the table, edge for edge and in order, on
// random soups over few points: edges of one to four triangles, repeated and degenerate triangles,
// holes touching at vertices.
TEST_F(MeshTopology, LoopsWithoutTheEdgeTableAreTheTablesLoops) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const int npts = 4 + trial % 13;
    std::vector<std::array<double, 3>> pts(npts, {0.0, 0.0, 0.0});
    std::vector<TestTriangle> tris;
    const int ntri = 1 + int(rng() % 24);
    for (int t = 0; t < ntri; ++t) {
      TestTriangle tr;
      for (int& v : tr) v = int(rng() % npts);
      tris.push_back(tr);
    }
    Cloud* m = MakeTestMesh(pts, tris);
    ASSERT_NE(m, nullptr);
    Topology ref;
    ASSERT_EQ(ref.Build(m), 0);
    int32_t* edges = nullptr;
    IndexNode** loops = nullptr;
    int nloops = -1, *sizes = nullptr;
    IndexNode* nodes = nullptr;
    EXPECT_EQ(MakeBoundaryLoops(m, &edges, &loops, &nloops, &sizes, &nodes), ref.total) << trial;
    ASSERT_EQ(nloops, ref.nloops) << trial;
    EXPECT_EQ(LoopPairs(edges, loops, nloops), LoopPairs(ref.edges, ref.loops, ref.nloops)) << trial;
    for (int l = 0; l < nloops; ++l) EXPECT_EQ(sizes[l], ref.sizes[l]);
    for (void* p : {(void*)edges, (void*)loops, (void*)sizes, (void*)nodes})
      if (p) Free(p);
    FreeCloud(m);
  }
}

}  // namespace
