// The plane cut of a mesh into two halves, and the segment-against-triangle crossing test.
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "cloud/pgr2cld.h"
#include "mesh/putil.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class PlaneCutTest : public KernelTest {};

// A unit sphere of nlat bands and nlon sectors, every triangle (a, b, c) with (b - a) x (c - a)
// pointing outwards. With an even nlat a ring of vertices lies on the equator.
Cloud* Sphere(int nlat, int nlon) {
  std::vector<std::array<double, 3>> pts = {{0, 0, 1}};
  for (int i = 1; i < nlat; ++i)
    for (int j = 0; j < nlon; ++j) {
      const double th = M_PI * i / nlat, ph = 2 * M_PI * j / nlon;
      pts.push_back({std::sin(th) * std::cos(ph), std::sin(th) * std::sin(ph), std::cos(th)});
    }
  const int south = int(pts.size());
  pts.push_back({0, 0, -1});
  auto at = [&](int i, int j) { return 1 + (i - 1) * nlon + (j % nlon); };
  std::vector<TestTriangle> tris;
  for (int j = 0; j < nlon; ++j) {
    tris.push_back({0, at(1, j), at(1, j + 1)});
    tris.push_back({south, at(nlat - 1, j + 1), at(nlat - 1, j)});
    for (int i = 1; i + 1 < nlat; ++i) {
      tris.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      tris.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  }
  return MakeTestMesh(pts, tris);
}

struct Half {
  std::vector<int32_t> tris, toMesh, fromMesh, cut;
  std::vector<float> xyz, normals;
  int indices = 0, points = 0, cuts = 0;
  Half(int room, int mapRoom)
      : tris(6 * room), toMesh(mapRoom), fromMesh(mapRoom, -1), cut(mapRoom), xyz(3 * mapRoom), normals(3 * mapRoom) {}
  const float* P(int k) const { return &xyz[3 * k]; }
};

double PlaneValue(const double* plane, const float* p) {
  return plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3];
}

// Cuts the sphere by the plane (points classified by the exact sign of their plane value) and
// checks both halves against the triangles that cross it.
void CutAndCheck(const Cloud* m, const double plane[4], const char* what) {
  SCOPED_TRACE(what);
  MeshEdgesAndLoops e;
  ASSERT_EQ(e.Build(m), 0);
  std::vector<int32_t> side(m->npts), tv(3 * m->ntri), cache(e.nedges, -1);
  for (int i = 0; i < m->npts; ++i) {
    const float p[3] = {m->x[i], m->y[i], m->z[i]};
    const double f = PlaneValue(plane, p);
    side[i] = f > 0 ? 1 : (f < 0 ? -1 : 0);
  }
  int expectNeg = 0, expectPos = 0;
  for (int t = 0; t < m->ntri; ++t) {
    int z = 0, p = 0, n = 0;
    for (int k = 0; k < 3; ++k) {
      tv[3 * t + k] = m->tri[t].v[k];
      const int s = side[m->tri[t].v[k]];
      z += s == 0, p += s > 0, n += s < 0;
    }
    if (z == 3) continue;
    if (p == 0 || n == 0) (p ? expectPos : expectNeg) += 1;
    else if (z == 1) ++expectNeg, ++expectPos;  // 1 + 1
    else (p == 1 ? expectNeg : expectPos) += 2, (p == 1 ? expectPos : expectNeg) += 1;  // 1 + 2
  }
  const int mapRoom = m->npts + e.nedges;
  Half neg(m->ntri, mapRoom), pos(m->ntri, mapRoom);
  MakeLeftAndRightClouds(side.data(), m, tv.data(), neg.tris.data(), pos.tris.data(), neg.toMesh.data(),
                         pos.toMesh.data(), neg.fromMesh.data(), pos.fromMesh.data(), neg.xyz.data(),
                         neg.normals.data(), pos.xyz.data(), pos.normals.data(), &neg.indices, &pos.indices,
                         &neg.points, &pos.points, neg.cut.data(), pos.cut.data(), plane, cache.data(), &neg.cuts,
                         &pos.cuts, e.edges, e.corners);
  EXPECT_EQ(neg.indices, 3 * expectNeg);
  EXPECT_EQ(pos.indices, 3 * expectPos);
  // Each edge whose ends lie strictly on both sides has one cut point, in both halves' cut
  // lists once, with the same coordinates, on the plane.
  int crossing = 0;
  for (int k = 0; k < e.nedges; ++k) crossing += side[e.edges[2 * k]] * side[e.edges[2 * k + 1]] < 0;
  std::map<int, int> inNegCut, inPosCut;
  for (int k = 0; k < neg.cuts; ++k) ++inNegCut[neg.toMesh[neg.cut[k]]];
  for (int k = 0; k < pos.cuts; ++k) ++inPosCut[pos.toMesh[pos.cut[k]]];
  int made = 0;
  for (int v = m->npts; v < mapRoom; ++v) {
    if (neg.fromMesh[v] < 0 && pos.fromMesh[v] < 0) continue;
    ++made;
    ASSERT_GE(neg.fromMesh[v], 0);
    ASSERT_GE(pos.fromMesh[v], 0);
    EXPECT_EQ(inNegCut[v], 1);
    EXPECT_EQ(inPosCut[v], 1);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(neg.P(neg.fromMesh[v])[c], pos.P(pos.fromMesh[v])[c]);
    EXPECT_NEAR(PlaneValue(plane, neg.P(neg.fromMesh[v])), 0.0, 1e-6);
    EXPECT_EQ(neg.normals[3 * neg.fromMesh[v]], -1.0f);
  }
  EXPECT_EQ(made, crossing);
  // Every point of a half is on its side (or the plane), every corner in range, and every piece
  // faces outwards as the sphere's triangles do.
  for (const Half* h : {&neg, &pos}) {
    const double sense = h == &neg ? -1 : 1;
    for (int k = 0; k < h->points; ++k) EXPECT_GE(sense * PlaneValue(plane, h->P(k)), -1e-6);
    for (int i = 0; i < h->indices; i += 3) {
      const int a = h->tris[i], b = h->tris[i + 1], c = h->tris[i + 2];
      ASSERT_TRUE(a >= 0 && a < h->points && b >= 0 && b < h->points && c >= 0 && c < h->points);
      double u[3], w[3], n[3], centre[3];
      for (int k = 0; k < 3; ++k) {
        u[k] = h->P(b)[k] - h->P(a)[k], w[k] = h->P(c)[k] - h->P(a)[k];
        centre[k] = h->P(a)[k] + h->P(b)[k] + h->P(c)[k];
      }
      VecCrossProd3(u, w, n);
      if (VecSize3(n) > 1e-9) {
        EXPECT_GT(VecDotProd3(n, centre), 0) << i;
      }
    }
  }
}

TEST_F(PlaneCutTest, SphereCutByPlanesGivesMatchingHalves) {
  Cloud* m = Sphere(12, 16);
  std::mt19937 rng(5);
  for (int trial = 0; trial < 12; ++trial) {
    double n[3];
    RandomPoint(rng, n, 1.0);
    const double len = VecSize3(n);
    const double plane[4] = {n[0] / len, n[1] / len, n[2] / len, Uniform(rng, -0.8, 0.8)};
    CutAndCheck(m, plane, "random plane");
  }
  // A plane through the equator's ring of vertices (as stored), one through the poles and half
  // a meridian of vertices.
  const double equator[4] = {0, 0, 1, -double(m->z[1 + 5 * 16])}, meridian[4] = {0, 1, 0, 0};
  CutAndCheck(m, equator, "through vertices");
  CutAndCheck(m, meridian, "through vertices and poles");
  // A plane nearly along edge 0-1 (the north pole to the first vertex of ring 1), its ends 1e-9
  // on either side: too parallel for the line intersection, still one shared cut point.
  double a[3], b[3], mid[3], dir[3], perp[3], up[3] = {0, 1, 0};
  GetCldPoint(m, 0, a);
  GetCldPoint(m, 1, b);
  for (int k = 0; k < 3; ++k) mid[k] = 0.5 * (a[k] + b[k]), dir[k] = b[k] - a[k];
  VecCrossProd3(dir, up, perp);
  const double dl = VecSize3(dir), pl = VecSize3(perp);
  double nn[3];
  for (int k = 0; k < 3; ++k) nn[k] = perp[k] / pl + 2e-9 / (dl * dl) * dir[k];
  const double nl = VecSize3(nn);
  const double grazing[4] = {nn[0] / nl, nn[1] / nl, nn[2] / nl, -VecDotProd3(nn, mid) / nl};
  CutAndCheck(m, grazing, "edge ends 1e-9 on either side");
  FreeCloud(m);
}

// A triangle in the plane disappears; one on the positive side is kept whole with its points in
// the order it uses them and no point of no triangle.
TEST_F(PlaneCutTest, TrianglesOnOneSideOrInThePlane) {
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}, {9, 9, 9}}, {{0, 1, 2}, {1, 3, 0}});
  MeshEdgesAndLoops e;
  ASSERT_EQ(e.Build(m), 0);
  const double plane[4] = {0, 0, 1, 0};
  const int32_t side[5] = {0, 0, 0, 1, 1};
  const int32_t tv[6] = {0, 1, 2, 1, 3, 0};
  std::vector<int32_t> cache(e.nedges, -1);
  Half neg(2, 5 + e.nedges), pos(2, 5 + e.nedges);
  MakeLeftAndRightClouds(side, m, tv, neg.tris.data(), pos.tris.data(), neg.toMesh.data(), pos.toMesh.data(),
                         neg.fromMesh.data(), pos.fromMesh.data(), neg.xyz.data(), neg.normals.data(),
                         pos.xyz.data(), pos.normals.data(), &neg.indices, &pos.indices, &neg.points, &pos.points,
                         neg.cut.data(), pos.cut.data(), plane, cache.data(), &neg.cuts, &pos.cuts, e.edges,
                         e.corners);
  EXPECT_EQ(neg.indices + neg.points + neg.cuts, 0);
  ASSERT_EQ(pos.indices, 3);
  ASSERT_EQ(pos.points, 3);
  EXPECT_EQ(pos.toMesh[0], 1);
  EXPECT_EQ(pos.toMesh[1], 3);
  EXPECT_EQ(pos.toMesh[2], 0);
  EXPECT_EQ(pos.cuts, 2);  // points 1 and 0 lie on the plane
  FreeCloud(m);
}

// Against a brute-force crossing (segment parameter in (0, 1), barycentric weights of the
// crossing in [0, 1]) for triangles facing every way, downwards ones included.
TEST_F(PlaneCutTest, SegmentCrossesTriangleAsBruteForceSays) {
  std::mt19937 rng(17);
  int crossings = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<std::array<double, 3>> pts(5);
    for (auto& p : pts) RandomPoint(rng, p.data(), 1.0);
    Cloud* m = MakeTestMesh(pts, {{0, 1, 2}});
    double V[3][3], P[2][3];
    for (int k = 0; k < 3; ++k) GetCldPoint(m, k, V[k]);
    GetCldPoint(m, 3, P[0]);
    GetCldPoint(m, 4, P[1]);
    double e1[3], e2[3], n[3], d[3];
    for (int k = 0; k < 3; ++k) e1[k] = V[1][k] - V[0][k], e2[k] = V[2][k] - V[0][k], d[k] = P[1][k] - P[0][k];
    VecCrossProd3(e1, e2, n);
    const double f0 = VecDotProd3(n, P[0]) - VecDotProd3(n, V[0]), f1 = VecDotProd3(n, P[1]) - VecDotProd3(n, V[0]);
    int expect = 0;
    if (f0 * f1 < 0) {
      const double s = f0 / (f0 - f1);
      double X[3], w1[3], w2[3];
      for (int k = 0; k < 3; ++k) X[k] = P[0][k] + s * d[k] - V[0][k];
      VecCrossProd3(X, e2, w1);
      VecCrossProd3(e1, X, w2);
      const double nn = VecDotProd3(n, n), b1 = VecDotProd3(w1, n) / nn, b2 = VecDotProd3(w2, n) / nn;
      const double least = std::min({b1, b2, 1 - b1 - b2});
      expect = least > 1e-6 ? 1 : (least < -1e-6 ? 0 : -1);  // -1: too near the border to judge
    }
    const int32_t edge[2] = {3, 4};
    if (expect >= 0) {
      EXPECT_EQ(IntersectPolyEdge(m, &m->tri[0], edge), expect) << trial << " " << n[2];
    }
    crossings += expect == 1;
    FreeCloud(m);
  }
  EXPECT_GT(crossings, 20);
  // Triangles in coordinate planes facing either way along the axis, a segment along the axis
  // through each: the inside test projects along the dominant axis whatever its sign.
  for (int axis = 0; axis < 3; ++axis)
    for (int sense : {1, -1}) {
      std::vector<std::array<double, 3>> pts(5, {0, 0, 0});
      const int u = (axis + 1) % 3, w = (axis + 2) % 3;
      pts[1][u] = 1, pts[2][w] = 1;
      pts[3][u] = pts[3][w] = pts[4][u] = pts[4][w] = 0.25;
      pts[3][axis] = -1, pts[4][axis] = 1;
      Cloud* m = MakeTestMesh(pts, {sense > 0 ? TestTriangle{0, 1, 2} : TestTriangle{0, 2, 1}});
      const int32_t edge[2] = {3, 4};
      EXPECT_EQ(IntersectPolyEdge(m, &m->tri[0], edge), 1) << axis << " " << sense;
      FreeCloud(m);
    }
}

}  // namespace
