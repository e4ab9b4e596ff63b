// Growing, splitting and compacting meshes: what the mesh edits stand on.
#include <cmath>
#include <iterator>
#include <set>
#include <vector>

#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshStorage : public KernelTest {};

using P3 = std::array<float, 3>;

P3 Point(const Cloud* m, int i) { return {m->x[i], m->y[i], m->z[i]}; }

// Each live triangle as its three points, so meshes can be compared across renumbering.
std::multiset<std::array<P3, 3>> Triangles(const Cloud* m) {
  std::multiset<std::array<P3, 3>> out;
  for (int t = 0; t < m->ntri; ++t) out.insert({Point(m, m->tri[t].v[0]), Point(m, m->tri[t].v[1]), Point(m, m->tri[t].v[2])});
  return out;
}

TEST_F(MeshStorage, GrownPointArraysKeepThePointsAndMarkTheNewEntries) {
  Cloud* m = MakeGridMesh(3, 3, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  const int n = m->npts;
  EXPECT_EQ(ReallocCldXYZArrays(m, n - 1), 0);
  EXPECT_EQ(m->nx, nullptr);
  // The same size only creates the normals, every one still to be computed.
  ASSERT_EQ(ReallocCldXYZArrays(m, n), 1);
  ASSERT_NE(m->nx, nullptr);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(m->nx[i] == -1 && m->ny[i] == -1 && m->nz[i] == -1);
  for (int i = 0; i < n; ++i) m->nx[i] = 0, m->ny[i] = 0, m->nz[i] = 1;
  m->reliability = CallocArray<uint8_t>(n);
  for (float*& c : m->colour) c = CallocArray<float>(n);
  ASSERT_NE(m->colour[2], nullptr);
  m->reliability[n - 1] = 7;
  ASSERT_EQ(ReallocCldXYZArrays(m, 4 * n), 1);
  EXPECT_EQ(m->npts, n);
  for (int i = 0; i < 4 * n; ++i) {
    const bool old = i < n;
    EXPECT_EQ(m->nz[i], old ? 1.0f : -1.0f) << i;
    EXPECT_EQ(m->colour[1][i], old ? 0.0f : 0.33f) << i;
    EXPECT_EQ(m->reliability[i], i == n - 1 ? 7 : 0) << i;
    if (old) {
      EXPECT_EQ(m->x[i], float(i % 3));
    }
  }
  FreeCloud(m);
}

TEST_F(MeshStorage, RefusedGrowthLeavesAMeshThatHoldsItsPoints) {
  for (bool withNormals : {false, true}) {
    Cloud* m = MakeGridMesh(4, 3, [](int, int) { return true; });
    ASSERT_NE(m, nullptr);
    if (withNormals) {
      ASSERT_EQ(ReallocCldXYZArrays(m, m->npts), 1);
    }
    const int n = m->npts;
    int capacity = n;
    RunWithInjectedFailures(12, 1, [&] {
      const int r = ReallocCldXYZArrays(m, capacity + 5);
      if (r) capacity += 5;
      // Created normals enter only with every other array grown.
      EXPECT_EQ(m->nx != nullptr, withNormals || capacity > n);
      for (int i = 0; i < n; ++i) EXPECT_EQ(m->y[i], float(i / 4));
      return r ? 0 : 1;
    });
    EXPECT_GT(capacity, n);
    FreeCloud(m);
  }
}

TEST_F(MeshStorage, SplitKeepsTheAreaAndTheLists) {
  Cloud* m = MakeTestMesh({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {4, 4, 0}, {2, 2, 0}}, {{0, 1, 2}, {1, 3, 2}});
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(ReallocCldPolyList(m, 4), 1);
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(3 * 2 + 6 * 2);  // six more per split
  MakePolyPointers(m, heads.data(), nodes.data());
  int used = 3 * m->ntri;
  // Vertex 4 lies on the shared edge 1-2: split both triangles there.
  SplitCloudPoly(m, 0, 1, 2, 4, heads.data(), nodes.data(), &used);
  SplitCloudPoly(m, 1, 1, 2, 4, heads.data(), nodes.data(), &used);
  ASSERT_EQ(m->ntri, 4);
  EXPECT_EQ(used, 18);
  const std::vector<TestTriangle> expect = {{0, 4, 2}, {4, 3, 2}, {0, 1, 4}, {1, 3, 4}};
  for (int t = 0; t < 4; ++t)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(m->tri[t].v[k], expect[t][k]) << t;
  // Orientation kept: every plane faces the same way as the triangles split.
  for (int t = 0; t < 4; ++t) EXPECT_FLOAT_EQ(m->tri[t].plane[2], m->tri[0].plane[2]);
  EXPECT_FLOAT_EQ(std::fabs(m->tri[0].plane[2]), 1.0f);
  for (int v = 0; v < m->npts; ++v) {
    std::set<int> listed, holding;
    for (IndexNode* n = heads[v]; n; n = n->next) listed.insert(n->index);
    for (int t = 0; t < 4; ++t)
      if (PolygonHasVertex(m, t, v)) holding.insert(t);
    EXPECT_EQ(listed, holding) << v;
  }
  FreeCloud(m);
}

TEST_F(MeshStorage, CompactionDropsFlaggedTrianglesAndPointsAndRenumbers) {
  Cloud* m = MakeGridMesh(4, 4, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  const auto before = Triangles(m);
  EXPECT_EQ(DeleteCldVertsAndPolys(m, nullptr, nullptr), 1);
  EXPECT_EQ(Triangles(m), before);
  // Triangle flags: only an exact 1 deletes.
  std::vector<int> tflags(m->ntri, 0);
  tflags[0] = 1;
  tflags[5] = 2;
  tflags[17] = 1;
  auto expect = Triangles(m);
  for (int t : {0, 17}) expect.erase(expect.find({Point(m, m->tri[t].v[0]), Point(m, m->tri[t].v[1]), Point(m, m->tri[t].v[2])}));
  const CloudTriangle sixth = m->tri[6];
  // Point flags: vertex 5 goes, and with it every triangle that used it.
  std::vector<int> pflags(m->npts, 0);
  pflags[5] = 1;
  const P3 gone = Point(m, 5);
  for (auto it = expect.begin(); it != expect.end();)
    it = ((*it)[0] == gone || (*it)[1] == gone || (*it)[2] == gone) ? expect.erase(it) : std::next(it);
  ASSERT_EQ(DeleteCldVertsAndPolys(m, nullptr, tflags.data()), 1);
  EXPECT_EQ(m->ntri, 16);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(m->tri[5].v[k], sixth.v[k]);  // order kept
  ASSERT_EQ(DeleteCldVertsAndPolys(m, pflags.data(), nullptr), 1);
  EXPECT_EQ(m->npts, 15);
  EXPECT_EQ(Triangles(m), expect);
  for (int t = 0; t < m->ntri; ++t)
    for (int v : m->tri[t].v) EXPECT_LT(v, m->npts);
  int order[4] = {1, 2, 3, 4};
  ReverseIntArray(order, 3);
  EXPECT_EQ(order[0] * 1000 + order[1] * 100 + order[2] * 10 + order[3], 3214);
  FreeCloud(m);
}

}  // namespace
