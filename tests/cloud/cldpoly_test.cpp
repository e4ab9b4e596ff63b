// Vertex-to-triangle lists and the small triangle queries the cloud floor shares with meshes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "cloud/cldpoly.h"
#include "cloud/pgr2cld.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshLists : public KernelTest {};

TEST_F(MeshLists, VertexListsHoldExactlyTheTrianglesOfEachVertexHighestFirst) {
  // A grid with a hole and an unused vertex block inside it.
  Cloud* m = MakeGridMesh(7, 6, [](int i, int j) { return !(i >= 2 && i <= 3 && j >= 2 && j <= 3); });
  ASSERT_NE(m, nullptr);
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(3 * m->ntri);
  MakePolyPointers(m, heads.data(), nodes.data());
  for (int v = 0; v < m->npts; ++v) {
    std::vector<int> expect, got;
    for (int t = m->ntri - 1; t >= 0; --t)
      if (m->tri[t].v[0] == v || m->tri[t].v[1] == v || m->tri[t].v[2] == v) expect.push_back(t);
    for (IndexNode* n = heads[v]; n; n = n->next) {
      EXPECT_GE(n, nodes.data());  // every node comes from the caller's block
      EXPECT_LT(n, nodes.data() + nodes.size());
      got.push_back(n->index);
    }
    EXPECT_EQ(got, expect) << "vertex " << v;
  }
  FreeCloud(m);
}

TEST_F(MeshLists, TriangleCornersPointsAndUnitNormals) {
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1e6, 0, 0}, {0, 1e-6, 2}, {5, 5, 5}}, {{0, 1, 2}, {3, 2, 1}});
  ASSERT_NE(m, nullptr);
  int32_t v[3];
  double pts[3][3], norms[3][3] = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  FindPolyVertsAndNorms(m, 1, v, pts, norms);  // no normals in the mesh: no reliable normal
  EXPECT_EQ(v[0], 3);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 1);
  int pos = -1;
  EXPECT_EQ(IntInArray(2, v, 3, &pos), 1);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(IntInArray(3, v, 0, &pos), 0);  // no entries to search
  EXPECT_EQ(pts[2][0], 1e6);
  EXPECT_EQ(pts[1][1], double(1e-6f));
  for (auto& n : norms) EXPECT_EQ(std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]), 0.0);
  const float nx[4] = {0, 3, 0, -1}, ny[4] = {0, 4, 0, -1}, nz[4] = {2, 0, 1e-3f, -1};
  ASSERT_EQ(CopyCloudNormals(m, nx, ny, nz, 4), 1);
  FindPolyVertsAndNorms(m, 1, nullptr, nullptr, norms);
  for (auto& n : norms) EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-12);
  EXPECT_NEAR(norms[2][0], 0.6, 1e-12);  // (3, 4, 0) made unit
  EXPECT_NEAR(norms[0][2], -1 / std::sqrt(3.0), 1e-12);  // the "to be computed" marker, made unit
  double p[3];
  GetCldPoint(m, 3, p);
  EXPECT_EQ(p[0] + p[1] + p[2], 15.0);
  FreeCloud(m);
}

}  // namespace
