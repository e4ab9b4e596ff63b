// Refinement and small edits of meshes: splits into three and four, picked points, long
// triangles, and capping every closed boundary loop.
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "mesh/cldpoly.h"
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

// The triangle's area and unit normal, in double.
double Area(const Cloud* m, int t, double n[3] = nullptr) {
  double p[3][3];
  for (int k = 0; k < 3; ++k) {
    const int v = m->tri[t].v[k];
    p[k][0] = m->x[v], p[k][1] = m->y[v], p[k][2] = m->z[v];
  }
  const double a[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
  const double b[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
  const double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  const double len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
  if (n)
    for (int k = 0; k < 3; ++k) n[k] = len > 0 ? c[k] / len : 0.0;
  return len / 2;
}

double TotalArea(const Cloud* m) {
  double s = 0;
  for (int t = 0; t < m->ntri; ++t) s += Area(m, t);
  return s;
}

// A bumpy height field: no two neighbouring triangles lie in one plane.
Cloud* MakeBumpyGrid(int n) {
  Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; });
  if (!m) return m;
  for (int i = 0; i < m->npts; ++i) m->z[i] = float(0.3 * std::sin(1.3 * m->x[i]) * std::cos(0.7 * m->y[i]));
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  return m;
}

TEST_F(MeshEdits, SplitIntoThreeSharesTheCentroidAndFacesTheParentsWay) {
  Cloud* m = MakeBumpyGrid(5);
  ASSERT_NE(m, nullptr);
  const int ntri = m->ntri, npts = m->npts;
  const double area = TotalArea(m);
  std::vector<std::array<double, 3>> normals(ntri);
  for (int t = 0; t < ntri; ++t) Area(m, t, normals[t].data());
  std::vector<uint8_t> mask(ntri, 0);
  int selected = 0;
  for (int t = 0; t < ntri; t += 3) mask[t] = 1, ++selected;
  const std::vector<CloudTriangle> parents(m->tri, m->tri + ntri);
  ASSERT_EQ(SubdivideCldPolys(m, 0, nullptr, mask.data()), 1);
  ASSERT_EQ(m->ntri, ntri + 2 * selected);
  ASSERT_EQ(m->npts, npts + selected);
  EXPECT_NEAR(TotalArea(m), area, 1e-5 * area);
  int added = ntri, centroid = npts;
  for (int t = 0; t < ntri; ++t) {
    if (!mask[t]) {
      for (int k = 0; k < 3; ++k) EXPECT_EQ(m->tri[t].v[k], parents[t].v[k]);
      continue;
    }
    const int c = centroid++;
    const int children[3] = {added, added + 1, t};
    added += 2;
    double cx = 0;
    for (int k = 0; k < 3; ++k) cx += m->x[parents[t].v[k]];
    EXPECT_NEAR(m->x[c], cx / 3, 1e-6);
    for (int k = 0; k < 3; ++k) {
      // Child k is the parent with corner k at the centroid.
      for (int j = 0; j < 3; ++j) EXPECT_EQ(m->tri[children[k]].v[j], j == k ? c : parents[t].v[j]) << t;
      double n[3];
      Area(m, children[k], n);
      EXPECT_GT(n[0] * normals[t][0] + n[1] * normals[t][1] + n[2] * normals[t][2], 0.9) << t;
      // The plane record turns with it.
      const float* q = m->tri[children[k]].plane;
      const float* o = parents[t].plane;
      EXPECT_GT(q[0] * o[0] + q[1] * o[1] + q[2] * o[2], 0.9f);
    }
    // New normals are computed, unit length.
    EXPECT_NEAR(std::hypot(m->nx[c], m->ny[c], m->nz[c]), 1.0, 1e-5);
  }
  // A point mask selects the triangles touching a marked point.
  Cloud* g = MakeGridMesh(3, 3, [](int, int) { return true; });
  ASSERT_NE(g, nullptr);
  std::vector<uint8_t> pmask(g->npts, 0);
  pmask[0] = 1;  // a corner: in both triangles of cell (0, 0) only
  ASSERT_EQ(SubdividePolysInto3Polys(g, pmask.data(), nullptr), 1);
  EXPECT_EQ(g->ntri, 8 + 4);
  FreeCloud(g);
  FreeCloud(m);
}

TEST_F(MeshEdits, SplitIntoFourLeavesHangingMidpointsOnlyOnUnselectedNeighbours) {
  {
    // The two-triangle square: eight triangles, five midpoints (the diagonal's shared).
    Cloud* sq = MakeGridMesh(2, 2, [](int, int) { return true; });
    ASSERT_NE(sq, nullptr);
    ASSERT_EQ(SubdivideCldPolys(sq, 1, nullptr, nullptr), 1);
    EXPECT_EQ(sq->ntri, 8);
    EXPECT_EQ(sq->npts, 9);
    for (const auto& [e, uses] : DirectedEdges(sq)) EXPECT_EQ(uses, 1);
    FreeCloud(sq);
  }
  Cloud* m = MakeBumpyGrid(6);
  ASSERT_NE(m, nullptr);
  const int ntri = m->ntri, npts = m->npts;
  const double area = TotalArea(m);
  const std::vector<CloudTriangle> parents(m->tri, m->tri + ntri);
  std::vector<std::array<double, 3>> normals(ntri);
  for (int t = 0; t < ntri; ++t) Area(m, t, normals[t].data());
  // The triangles of the cells with i + j < 4.
  std::vector<uint8_t> mask(ntri, 0);
  int selected = 0;
  for (int t = 0; t < ntri; ++t) {
    const int cell = t / 2, i = cell % 5, j = cell / 5;
    if (i + j < 4) mask[t] = 1, ++selected;
  }
  ASSERT_EQ(SubdivideCldPolys(m, 1, nullptr, mask.data()), 1);
  ASSERT_EQ(m->ntri, ntri + 3 * selected);
  EXPECT_NEAR(TotalArea(m), area, 1e-5 * area);
  // Each new point is the midpoint of an original edge of a selected triangle; the edge stays
  // in the mesh exactly where an unselected triangle holds it (a hanging midpoint).
  std::map<std::pair<int, int>, std::vector<int>> holders;  // original edge -> original triangles
  for (int t = 0; t < ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = parents[t].v[k], b = parents[t].v[(k + 1) % 3];
      holders[{std::min(a, b), std::max(a, b)}].push_back(t);
    }
  const auto directed = DirectedEdges(m);
  int midpoints = 0;
  for (const auto& [e, ts] : holders) {
    bool anySelected = false, anyUnselected = false;
    for (int t : ts) (mask[t] ? anySelected : anyUnselected) = true;
    const bool present = directed.count(e) || directed.count({e.second, e.first});
    EXPECT_EQ(present, anyUnselected) << e.first << "-" << e.second;
    if (!anySelected) continue;
    ++midpoints;
    int found = 0;
    for (int v = npts; v < m->npts; ++v)
      if (m->x[v] == float(0.5 * (double(m->x[e.first]) + m->x[e.second])) &&
          m->y[v] == float(0.5 * (double(m->y[e.first]) + m->y[e.second])) &&
          m->z[v] == float(0.5 * (double(m->z[e.first]) + m->z[e.second])))
        ++found;
    EXPECT_EQ(found, 1) << e.first << "-" << e.second;
  }
  EXPECT_EQ(m->npts, npts + midpoints);
  // Children face their parent's way; the arrays were trimmed to the counts... and every
  // interior edge of the refined region is met once each way.
  for (int t = 0; t < ntri; ++t) {
    if (!mask[t]) continue;
    double n[3];
    Area(m, t, n);
    EXPECT_GT(n[0] * normals[t][0] + n[1] * normals[t][1] + n[2] * normals[t][2], 0.9) << t;
  }
  for (const auto& [e, uses] : directed) EXPECT_EQ(uses, 1);
  FreeCloud(m);
}

TEST_F(MeshEdits, SplitIntoFourOutOfMemoryKeepsAWellFormedMesh) {
  long skip = 0;
  int failures = RunWithInjectedFailures(40, 1, [&] {
    MallocFailClear();
    Cloud* m = MakeBumpyGrid(12);
    MallocFailAfter(skip++, -1);
    if (!m) return 1;
    const double area = TotalArea(m);
    const int r = SubdividePolysInto4Polys(m, nullptr, nullptr);
    MallocFailClear();
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k) EXPECT_TRUE(m->tri[t].v[k] >= 0 && m->tri[t].v[k] < m->npts);
    // Whole triangles were split or none: the area is kept either way.
    EXPECT_NEAR(TotalArea(m), area, 1e-4 * area);
    FreeCloud(m);
    return r ? 0 : 1;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(MeshEdits, PickedPointsSplitTheirTriangleOrBothOnAnEdge) {
  Cloud* m = MakeGridMesh(3, 3, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  const int ntri = m->ntri, npts = m->npts;
  // On corner 0: nothing changes.
  {
    const int tri[1] = {0};
    const double s[1] = {1.0}, t[1] = {0.0};
    ASSERT_EQ(DividePolyAtPickedPoint(m, tri, s, t, 1), 1);
    EXPECT_EQ(m->ntri, ntri);
    EXPECT_EQ(m->npts, npts);
  }
  // Triangle 0 is (0, 1, 4), triangle 1 (0, 4, 3), triangle 2 (1, 2, 5). A pick on triangle
  // 0's inner edge 1-4 and one on the diagonal 0-4 (through triangle 1) each split two triangles
  // (twelve list nodes), then one inside triangle 2 splits it into three.
  const int tri[3] = {0, 1, 2};
  const double s[3] = {0.0, 0.5, 0.2}, t[3] = {0.5, 0.5, 0.3};
  ASSERT_EQ(DividePolyAtPickedPoint(m, tri, s, t, 3), 1);
  EXPECT_EQ(m->npts, npts + 3);
  EXPECT_EQ(m->ntri, ntri + 2 + 2 + 2);
  EXPECT_FLOAT_EQ(m->x[npts], 1.0f);
  EXPECT_FLOAT_EQ(m->y[npts], 0.5f);
  EXPECT_FLOAT_EQ(m->x[npts + 1], 0.5f);
  EXPECT_FLOAT_EQ(m->y[npts + 1], 0.5f);
  // All still face the grid's way (planes point along (p2 - p0) x (p1 - p0): -z here), tile it
  // and leave no hanging vertex: the new ones are corners of 5 (the diagonal's pick split one of
  // its triangles again), 4 and 3 triangles.
  for (int t2 = 0; t2 < m->ntri; ++t2) EXPECT_NEAR(m->tri[t2].plane[2], -1.0f, 1e-6) << t2;
  EXPECT_NEAR(TotalArea(m), 4.0, 1e-6);
  for (const auto& [e, uses] : DirectedEdges(m)) EXPECT_EQ(uses, 1);
  for (int v = npts; v < m->npts; ++v) {
    int around = 0;
    for (int t2 = 0; t2 < m->ntri; ++t2) around += PolygonHasVertex(m, t2, v);
    EXPECT_EQ(around, 5 - (v - npts)) << v;
  }
  // Refused: weights outside the triangle, a triangle out of range, NaN.
  const int n0 = m->npts, t0 = m->ntri;
  const int bad[3] = {0, 99, 0};
  const double bs[3] = {1.5, 0.2, NAN}, bt[3] = {0.2, 0.2, 0.1};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(DividePolyAtPickedPoint(m, bad + k, bs + k, bt + k, 1), 0) << k;
    EXPECT_EQ(m->npts, n0);
    EXPECT_EQ(m->ntri, t0);
  }
  FreeCloud(m);
}

TEST_F(MeshEdits, LongTrianglesGoWhenAnEdgeReachesTheLength) {
  // A 3-4-5 triangle and a small one of sides 1, 1, sqrt 2 beside it (exact in floats).
  Cloud* m = MakeTestMesh({{0, 0, 0}, {3, 0, 0}, {0, 4, 0}, {4, 0, 0}, {3, 1, 0}}, {{0, 1, 2}, {1, 3, 4}});
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(RemoveLongCldPolys(m, 5.0001, nullptr), 0);
  EXPECT_EQ(m->ntri, 2);
  // Only triangles with a marked vertex are looked at: vertex 3 is the small one's alone.
  std::vector<uint8_t> mask(m->npts, 0);
  mask[3] = 1;
  EXPECT_EQ(RemoveLongCldPolys(m, 1.0, mask.data()), 1);
  ASSERT_EQ(m->ntri, 1);
  EXPECT_EQ(m->tri[0].v[2], 2);
  // A length equal to the longest edge removes it; points stay.
  EXPECT_EQ(RemoveLongCldPolys(m, 5.0, nullptr), 1);
  EXPECT_EQ(m->ntri, 0);
  EXPECT_EQ(m->npts, 5);
  FreeCloud(m);
}

}  // namespace
