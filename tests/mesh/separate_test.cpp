// Cutting a mesh open along given edges: copies of the cut vertices take alternate sectors.
#include <array>
#include <map>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldtrim.h"
#include "mesh/pharm.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshSeparation : public KernelTest {};

using Edge = std::pair<int, int>;

std::map<Edge, std::vector<int>> EdgeUses(const Cloud* m) {
  std::map<Edge, std::vector<int>> uses;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      uses[{std::min(a, b), std::max(a, b)}].push_back(t);
    }
  return uses;
}

int BoundaryEdges(const Cloud* m) {
  int n = 0;
  for (const auto& [e, ts] : EdgeUses(m)) n += ts.size() == 1;
  return n;
}

// Pieces of triangles joined across shared edges.
int Pieces(const Cloud* m) {
  std::vector<int> parent(m->ntri);
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int t) {
    while (parent[t] != t) t = parent[t] = parent[parent[t]];
    return t;
  };
  for (const auto& [e, ts] : EdgeUses(m))
    for (size_t i = 1; i < ts.size(); ++i) parent[find(ts[i])] = find(ts[0]);
  int n = 0;
  for (int t = 0; t < m->ntri; ++t) n += find(t) == t;
  return n;
}

// Every triangle still has its corners' positions, and every corner is a valid point.
void ExpectTrianglesInPlace(const Cloud* m, const std::vector<CloudTriangle>& before,
                            const std::vector<std::array<float, 3>>& pts) {
  ASSERT_EQ(m->ntri, int(before.size()));
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int v = m->tri[t].v[k], o = before[t].v[k];
      ASSERT_TRUE(v >= 0 && v < m->npts);
      EXPECT_EQ(m->x[v], pts[o][0]);
      EXPECT_EQ(m->y[v], pts[o][1]);
      EXPECT_EQ(m->z[v], pts[o][2]);
    }
}

struct Snapshot {
  std::vector<CloudTriangle> tris;
  std::vector<std::array<float, 3>> pts;
  explicit Snapshot(const Cloud* m) : tris(m->tri, m->tri + m->ntri) {
    for (int i = 0; i < m->npts; ++i) pts.push_back({m->x[i], m->y[i], m->z[i]});
  }
};

TEST_F(MeshSeparation, TwoCrossingChainsCutAGridIntoFourPieces) {
  const int n = 7;
  Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  const Snapshot before(m);
  std::vector<int> cuts;
  for (int i = 0; i + 1 < n; ++i) {
    cuts.insert(cuts.end(), {i + n * 3, i + 1 + n * 3});      // the row y = 3
    cuts.insert(cuts.end(), {3 + n * (i + 1), 3 + n * i});    // the column x = 3, reversed
  }
  const int ncuts = int(cuts.size()) / 2;
  const int boundary = BoundaryEdges(m);
  ASSERT_EQ(Pieces(m), 1);
  ASSERT_EQ(SepHarmonizedRegionsCore(m, cuts.data(), ncuts), 1);
  // One copy per distinct cut vertex (the crossing counted once), no triangle added.
  EXPECT_EQ(m->npts, n * n + 2 * n - 1);
  ExpectTrianglesInPlace(m, before.tris, before.pts);
  // Every cut edge is open on both sides; the four quarters come apart.
  EXPECT_EQ(BoundaryEdges(m), boundary + 2 * ncuts);
  EXPECT_EQ(Pieces(m), 4);
  FreeCloud(m);
}

TEST_F(MeshSeparation, ThreeCutEdgesAtAnInnerVertexMoveOneSector) {
  const int n = 7, v = 3 + n * 3;
  Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  const Snapshot before(m);
  // Spokes to the right, upwards and down-left along a diagonal: three sectors round v.
  const std::vector<int> cuts = {v, v + 1, v + n, v, v, v - n - 1};
  const int boundary = BoundaryEdges(m);
  ASSERT_EQ(SepHarmonizedRegionsCore(m, cuts.data(), 3), 1);
  EXPECT_EQ(m->npts, n * n + 4);
  ExpectTrianglesInPlace(m, before.tris, before.pts);
  // Two of the three spokes open on both sides, one stays shared at v.
  EXPECT_EQ(BoundaryEdges(m), boundary + 4);
  int onV = 0, onCopy = 0;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      onV += m->tri[t].v[k] == v;
      onCopy += m->tri[t].v[k] == n * n + 1;  // copies follow the cut vertices in order: v is second
    }
  // v's six triangles form three sectors of two: one goes to the copy, two stay.
  EXPECT_EQ(onCopy, 2);
  EXPECT_EQ(onV, 4);
  EXPECT_EQ(Pieces(m), 1);
  FreeCloud(m);
}

TEST_F(MeshSeparation, RegionsGrowAcrossUncutEdgesUntilAClaimedEdge) {
  // The 3 x 3 grid's centre 4 with the cut 3-4-5 across it: triangles 0, 1, 3 below, 4, 6, 7
  // above. Triangle 0 (0, 1, 4) is claimed.
  Cloud* m = MakeGridMesh(3, 3, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(ReallocCldXYZArrays(m, 10), 1);
  std::vector<int> origin(10, -1);
  const int fan[6] = {0, 1, 3, 4, 6, 7}, states[6] = {-1, 1, 1, 1, 1, 1};
  const int cuts[4] = {3, 4, 5, 4}, claimed[6] = {0, 1, 1, 4, 4, 0};
  auto disconnected = [&](int t, int nclaimed) {
    return PolyDisconnected(m, t, claimed, nclaimed, origin.data(), fan, 6, cuts, 2, states);
  };
  EXPECT_EQ(disconnected(1, 0), 1);  // nothing claimed yet
  EXPECT_EQ(disconnected(1, 3), 0);  // shares 4-0 with the claim
  EXPECT_EQ(disconnected(6, 3), 1);  // the upper sector reaches no claimed edge
  EXPECT_EQ(PolyConnected(m, 3, claimed, 3, origin.data()), 1);
  EXPECT_EQ(PolyConnected(m, 7, claimed, 3, origin.data()), 0);
  // A corner moved to a copy (a new point, as the separation appends it) still shows its
  // original edges.
  m->x[9] = m->x[4], m->y[9] = m->y[4], m->z[9] = m->z[4];
  m->npts = 10;
  m->tri[7].v[0] = 9;
  origin[9] = 4;
  const int spoke[2] = {7, 4};
  EXPECT_EQ(PolyConnected(m, 7, spoke, 1, origin.data()), 1);
  EXPECT_EQ(IsEdgeInArray(4, 3, cuts, 2), 1);
  EXPECT_EQ(IsEdgeInArray(3, 5, cuts, 2), 0);
  FreeCloud(m);
}

TEST_F(MeshSeparation, RefusedAllocationsFailCleanly) {
  long skip = 0;
  const int failures = RunWithInjectedFailures(30, 1, [&] {
    MallocFailClear();
    Cloud* m = MakeGridMesh(6, 6, [](int, int) { return true; });
    MallocFailAfter(skip++, -1);
    if (!m) return 1;
    const Snapshot before(m);
    std::vector<int> cuts;
    for (int i = 0; i + 1 < 6; ++i) cuts.insert(cuts.end(), {i + 6 * 2, i + 1 + 6 * 2});
    const int r = SepHarmonizedRegionsCore(m, cuts.data(), 5);
    MallocFailClear();
    ExpectTrianglesInPlace(m, before.tris, before.pts);
    if (r) {
      EXPECT_EQ(Pieces(m), 2);
    }
    FreeCloud(m);
    return r ? 0 : 1;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace
