// Refinement and small edits of meshes: splits into three and four, picked points, long
// triangles, and capping every closed boundary loop.
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldtrim.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshEdits : public KernelTest {};

// Directed edges of the live triangles with their multiplicity.
std::map<std::pair<int, int>, int> DirectedEdges(const Cloud* m) {
  std::map<std::pair<int, int>, int> out;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) ++out[{m->tri[t].v[k], m->tri[t].v[(k + 1) % 3]}];
  return out;
}

// Every edge is met once in each direction: the mesh is closed and consistently oriented.
void ExpectClosedAndOriented(const Cloud* m) {
  const auto directed = DirectedEdges(m);
  for (const auto& [e, uses] : directed) {
    EXPECT_EQ(uses, 1) << e.first << "-" << e.second;
    const auto back = directed.find({e.second, e.first});
    EXPECT_TRUE(back != directed.end() && back->second == 1) << e.first << "-" << e.second;
  }
}

// An open tube of m vertices round and k rings along z, both ends open, with the wall cell
// (hole, 1) left out when hole >= 0. Rim vertices are joined only to their ring neighbours, so a
// cap's diagonals never repeat a mesh edge.
Cloud* MakeTube(int m, int k, int hole) {
  std::vector<std::array<double, 3>> pts;
  for (int j = 0; j < k; ++j)
    for (int i = 0; i < m; ++i) pts.push_back({std::cos(2 * M_PI * i / m), std::sin(2 * M_PI * i / m), 0.7 * j});
  std::vector<TestTriangle> tris;
  for (int j = 0; j + 1 < k; ++j)
    for (int i = 0; i < m; ++i) {
      if (i == hole && j == 1) continue;
      const int a = i + m * j, b = (i + 1) % m + m * j;
      tris.push_back({a, b, b + m});
      tris.push_back({a, b + m, a + m});
    }
  return MakeTestMesh(pts, tris);
}

TEST_F(MeshEdits, EveryClosedLoopIsCappedOnItsOwnFacingTheMeshsWay) {
  // Three closed loops: the two rims and a hole in the wall.
  Cloud* m = MakeTube(8, 5, 3);
  ASSERT_NE(m, nullptr);
  const int before = m->ntri, npts = m->npts;
  EXPECT_EQ(CapAllLoops(m), 1);
  EXPECT_FALSE(KernelFailedNow());
  EXPECT_EQ(m->npts, npts);
  // Euler: a closed genus-0 surface on V vertices has 2V - 4 triangles.
  EXPECT_EQ(m->ntri, 2 * npts - 4);
  EXPECT_GT(m->ntri, before);
  ExpectClosedAndOriented(m);
  // Closed now: capping again changes nothing.
  const int closed = m->ntri;
  EXPECT_EQ(CapAllLoops(m), 1);
  EXPECT_EQ(m->ntri, closed);
  FreeCloud(m);
}

TEST_F(MeshEdits, CappingOutOfMemoryStillAnswersOneAndShowsTheFailureInTheFlags) {
  Cloud* m = MakeTube(8, 5, 3);
  ASSERT_NE(m, nullptr);
  const int ntri = m->ntri;
  int failedRuns = 0;
  RunWithInjectedFailures(60, 1, [&] {
    Cloud* c = MakeTube(8, 5, 3);
    if (!c) return 1;
    EXPECT_EQ(CapAllLoops(c), 1);
    const bool failed = KernelFailed();
    failedRuns += failed;
    // Caps come whole: the hole's (2 triangles) and each rim's (6), any of them or none.
    const int added = c->ntri - ntri;
    EXPECT_TRUE(added % 2 == 0 && added <= 14 && added != 4 && added != 10) << added;
    if (!failed) ExpectClosedAndOriented(c);
    for (int t = 0; t < c->ntri; ++t)
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(c->tri[t].v[k] >= 0 && c->tri[t].v[k] < c->npts);
    FreeCloud(c);
    return failed ? 1 : 0;
  });
  EXPECT_GT(failedRuns, 0);
  FreeCloud(m);
}

}  // namespace
