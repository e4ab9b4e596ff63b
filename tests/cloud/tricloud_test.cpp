#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "foundation/umalloc.h"
#include "tests/support/kernel_fixture.h"

namespace {

class TriangleCloud : public KernelTest {};

using V3 = std::array<double, 3>;

V3 Normal(const float* v, int a, int b, int c) {  // (p2 - p0) x (p1 - p0)
  const V3 e{v[3 * c] - v[3 * a], v[3 * c + 1] - v[3 * a + 1], v[3 * c + 2] - v[3 * a + 2]};
  const V3 f{v[3 * b] - v[3 * a], v[3 * b + 1] - v[3 * a + 1], v[3 * b + 2] - v[3 * a + 2]};
  return {e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
}

// Triangles given as index triples, each turned so that its normal has a positive dot with
// `outward(a, b, c)`.
template <class Out>
std::vector<int> Oriented(const float* verts, std::vector<std::array<int, 3>> tris, Out outward) {
  std::vector<int> idx;
  for (auto t : tris) {
    const V3 n = Normal(verts, t[0], t[1], t[2]);
    const V3 o = outward(t);
    if (n[0] * o[0] + n[1] * o[1] + n[2] * o[2] < 0) std::swap(t[1], t[2]);
    idx.insert(idx.end(), t.begin(), t.end());
  }
  return idx;
}

TEST_F(TriangleCloud, FlatGridGetsTheFaceNormalAtEveryScaleAndAttitude) {
  const double c = std::cos(0.7), s = std::sin(0.7);
  for (double scale : {1e-6, 1.0, 1e6}) {
    // 4 x 4 vertices in a tilted plane, plus one vertex no triangle uses.
    std::vector<float> verts;
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) {
        const double x = i + 0.3 * j, y = j, z = 0;  // rotate about x, then scale and shift
        verts.insert(verts.end(), {float(scale * x + 5 * scale), float(scale * (c * y - s * z)), float(scale * (s * y + c * z))});
      }
    verts.insert(verts.end(), {0, 0, 0});
    const V3 up{0, -s, c};
    std::vector<std::array<int, 3>> tris;
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        const int a = 4 * j + i;
        tris.push_back({a, a + 1, a + 4});
        tris.push_back({a + 1, a + 5, a + 4});
      }
    tris.push_back({3, 3, 3});  // three equal indices: dropped
    std::vector<int> idx = Oriented(verts.data(), tris, [&](auto) { return up; });
    Cloud* cl = MakePolyCld(int(tris.size()), idx.data(), int(idx.size()), verts.data(), 17, nullptr);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->npts, 16);  // the unused vertex is gone
    EXPECT_EQ(cl->ntri, 18);
    EXPECT_EQ(cl->isVert, nullptr);
    for (int i = 0; i < cl->npts; ++i) {
      EXPECT_NEAR(cl->nx[i], up[0], 1e-5);
      EXPECT_NEAR(cl->ny[i], up[1], 1e-5);
      EXPECT_NEAR(cl->nz[i], up[2], 1e-5);
    }
    for (int t = 0; t < cl->ntri; ++t) {
      double angles[3];
      FindTriangleAngles(cl, t, angles);
      EXPECT_NEAR(angles[0] + angles[1] + angles[2], 180, 1e-9);
      const double plane = cl->tri[t].plane[0] * cl->x[cl->tri[t].v[2]] + cl->tri[t].plane[1] * cl->y[cl->tri[t].v[2]] +
                           cl->tri[t].plane[2] * cl->z[cl->tri[t].v[2]] + cl->tri[t].plane[3];
      EXPECT_NEAR(plane, 0, 1e-5 * scale);
    }
    if (scale == 1.0) {
      // Given normals stay, (-1, -1, -1) ones are computed; the partial members recompute only
      // what they are asked for.
      std::vector<float> norms(3 * 17, 0.25f);
      for (int k : {0, 5, 9}) norms[3 * k] = norms[3 * k + 1] = norms[3 * k + 2] = -1;
      Cloud* given = MakePolyCldWithNorms(int(tris.size()), idx.data(), int(idx.size()), verts.data(), norms.data(), 17,
                                          nullptr);
      ASSERT_NE(given, nullptr);
      for (int i = 0; i < 16; ++i) {
        const bool asked = i == 0 || i == 5 || i == 9;
        EXPECT_NEAR(given->nz[i], asked ? up[2] : 0.25, 1e-6) << i;
      }
      for (int i = 0; i < 16; ++i) given->nx[i] = given->ny[i] = given->nz[i] = 0.25f;
      ASSERT_EQ(CloudSetOnlyNormVertsAfterIndx(given, 8), 1);
      for (int i = 0; i < 16; ++i) EXPECT_NEAR(given->ny[i], i >= 8 ? up[1] : 0.25, 1e-6) << i;
      // Moved points: refreshed planes pass through them again.
      for (int i = 0; i < 16; ++i) given->z[i] += 3;
      ASSERT_EQ(RefreshCloudPolys(given), 1);
      for (int t = 0; t < given->ntri; ++t) {
        const CloudTriangle& tr = given->tri[t];
        EXPECT_NEAR(tr.plane[0] * given->x[tr.v[0]] + tr.plane[1] * given->y[tr.v[0]] + tr.plane[2] * given->z[tr.v[0]] + tr.plane[3], 0, 1e-5);
      }
      FreeCloud(given);
    }
    FreeCloud(cl);
  }
}

TEST_F(TriangleCloud, ClosedCubeRejectsEveryNormalUnlessTheAngleAllowsIt) {
  std::vector<float> v;
  for (int k = 0; k < 8; ++k) v.insert(v.end(), {float(k & 1), float((k >> 1) & 1), float((k >> 2) & 1)});
  std::vector<std::array<int, 3>> tris;
  for (int axis = 0; axis < 3; ++axis)
    for (int side = 0; side < 2; ++side) {
      std::vector<int> face;
      for (int k = 0; k < 8; ++k)
        if (((k >> axis) & 1) == side) face.push_back(k);
      tris.push_back({face[0], face[1], face[2]});
      tris.push_back({face[1], face[3], face[2]});
    }
  auto idx = Oriented(v.data(), tris, [&](std::array<int, 3> t) {
    V3 o{};
    for (int k : t)
      for (int d = 0; d < 3; ++d) o[d] += v[3 * k + d] - 0.5;
    return o;
  });
  Cloud* cube = MakePolyCld(12, idx.data(), 36, v.data(), 8, nullptr);
  ASSERT_NE(cube, nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(cube->nx[i] == 0 && cube->ny[i] == 0 && cube->nz[i] == 0) << i;
  ASSERT_EQ(CloudSetNormsSpec(cube, 90), 1);
  for (int i = 0; i < 8; ++i) {
    const V3 corner{v[3 * i] - 0.5, v[3 * i + 1] - 0.5, v[3 * i + 2] - 0.5};  // outward diagonal
    EXPECT_NEAR(cube->nx[i] * corner[0] + cube->ny[i] * corner[1] + cube->nz[i] * corner[2], std::sqrt(0.75), 1e-6);
  }
  // Only the normals asked for are recomputed, and they face their triangles.
  cube->nx[3] = cube->ny[3] = cube->nz[3] = -1;
  cube->nx[5] = 7, cube->ny[5] = 8, cube->nz[5] = 9;  // a normal from elsewhere stays as it is
  const std::vector<float> before(cube->nx, cube->nx + 8);
  ASSERT_EQ(CloudSetSomeNormVerts(cube), 1);
  for (int i = 0; i < 8; ++i)
    if (i != 3) { EXPECT_EQ(cube->nx[i], before[i]) << i; }
  EXPECT_TRUE(cube->nx[3] == 0 && cube->ny[3] == 0 && cube->nz[3] == 0);  // more than 45 degrees off its faces
  // An angle query with a vertex that is not on the triangle.
  int foreign = 0;
  while (foreign == cube->tri[0].v[0] || foreign == cube->tri[0].v[1] || foreign == cube->tri[0].v[2]) ++foreign;
  double angle = 5;
  EXPECT_EQ(FindTriangleAngleAtVert(cube, 0, foreign, &angle), 0);
  EXPECT_EQ(angle, 0);
  EXPECT_EQ(FindTriangleAngleAtVert(cube, 0, cube->tri[0].v[1], &angle), 1);
  EXPECT_NEAR(angle, 45, 1e-9);  // half a square face: 90, 45, 45
  double other;
  FindTriangleAngleAtVert(cube, 0, cube->tri[0].v[2], &other);
  double right;
  FindTriangleAngleAtVert(cube, 0, cube->tri[0].v[0], &right);
  EXPECT_NEAR(right + other + angle, 180, 1e-9);
  FreeCloud(cube);
}

TEST_F(TriangleCloud, SoupsSingleTrianglesAndParts) {
  // Two triangles sharing an edge, and one with three equal corners.
  const float x[9] = {0, 1, 0, 1, 1, 0, 2, 2, 2}, y[9] = {0, 0, 1, 0, 1, 1, 2, 2, 2}, z[9] = {};
  Cloud* soup = MakePolyCldXYZ(x, y, z, 3, nullptr);
  ASSERT_NE(soup, nullptr);
  EXPECT_EQ(soup->npts, 5);
  EXPECT_EQ(soup->ntri, 3);
  EXPECT_EQ(soup->tri[0].v[2], soup->tri[1].v[2]);  // the shared corner (0, 1) merged
  EXPECT_TRUE(soup->tri[2].v[0] == soup->tri[2].v[1] && soup->tri[2].v[1] == soup->tri[2].v[2]);
  const float r3 = float(std::sqrt(1.0 / 3.0));
  EXPECT_TRUE(soup->tri[2].plane[0] == r3 && soup->tri[2].plane[1] == r3 && soup->tri[2].plane[2] == r3);
  EXPECT_GE(soup->charLength, 1.5 * std::sqrt(2.0));
  EXPECT_NEAR(FindCldTriangleArea(soup, 0), 0.5, 1e-12);

  // The part of one triangle holds only its three points; a target keeps the triangles whose
  // vertices survive, renumbered.
  const int one = 1;
  double box[6];
  Cloud* part = MakePartPolyCld(soup, &one, 1, box);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->npts, 3);
  EXPECT_TRUE(box[0] == 0 && box[3] == 1);
  std::vector<int> map(soup->npts, -1);
  for (int j = 0; j < 3; ++j) map[soup->tri[1].v[j]] = j;
  Cloud* target = MakeCld(part->x, part->y, part->z, 3, nullptr);
  // map names the part's points in the part's own numbering of that triangle
  for (int j = 0; j < 3; ++j) map[soup->tri[1].v[j]] = part->tri[0].v[j];
  AddoptPartialCloudPoly(soup, map.data(), target);
  ASSERT_EQ(target->ntri, 1);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(target->tri[0].v[j], part->tri[0].v[j]);
  EXPECT_NEAR(target->nz[0], part->nz[0], 1e-7);
  double n[3];
  EXPECT_EQ(GetVertexNormal(target, 1, n), 1);
  EXPECT_NEAR(std::fabs(n[2]), 1, 1e-7);
  FreeCloud(target);
  FreeCloud(part);
  FreeCloud(soup);

  const double p0[3] = {0, 0, 0}, p1[3] = {3, 0, 0}, p2[3] = {0, 4, 0};
  Cloud* single = MakeSinglePolyCld(p0, p1, p2, nullptr);
  double angles[3];
  FindTriangleAngles(single, 0, angles);
  EXPECT_NEAR(angles[0], 90, 1e-12);
  EXPECT_NEAR(angles[1], std::atan2(4, 3) * 180 / M_PI, 1e-9);
  EXPECT_DOUBLE_EQ(single->charLength, 7.5);
  EXPECT_EQ(single->tri[0].plane[2], -1.0f);  // (p2 - p0) x (p1 - p0) points down
  FreeCloud(single);
}

TEST_F(TriangleCloud, PolygonNormalIsAUnitPerpendicularTurnedByVertexOrder) {
  // A known answer: the unit triangle in z = 0 taken counterclockwise points down.
  const float flat[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const int ccw[3] = {0, 1, 2}, cw[3] = {0, 2, 1};
  double n[3];
  FindPolyNormal(flat, ccw, n);
  EXPECT_EQ(n[0], 0.0);
  EXPECT_EQ(n[1], 0.0);
  EXPECT_EQ(n[2], -1.0);
  FindPolyNormal(flat, cw, n);
  EXPECT_EQ(n[2], 1.0);
  // Random triangles at several scales, picked out of a shared vertex array by index.
  unsigned seed = 17;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<double>((seed >> 8) & 0xffff) / 65536.0 - 0.5;
  };
  for (double scale : {1e-4, 1.0, 1e4}) {
    std::vector<float> verts(30);
    for (float& c : verts) c = static_cast<float>(scale * next());
    for (int t = 0; t < 8; ++t) {
      const int v[3] = {t, t + 2, (t + 1) % 10};
      FindPolyNormal(verts.data(), v, n);
      const V3 e = Normal(verts.data(), v[0], v[1], v[2]);
      const double len = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
      EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-12);
      EXPECT_NEAR((n[0] * e[0] + n[1] * e[1] + n[2] * e[2]) / len, 1.0, 1e-9);  // same sense
      for (int j = 1; j < 3; ++j) {
        const double d[3] = {verts[3 * v[j]] - verts[3 * v[0]], verts[3 * v[j] + 1] - verts[3 * v[0] + 1],
                             verts[3 * v[j] + 2] - verts[3 * v[0] + 2]};
        const double dl = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        EXPECT_NEAR((n[0] * d[0] + n[1] * d[1] + n[2] * d[2]) / dl, 0.0, 1e-6);
      }
    }
  }
  // A triangle with a repeated corner has no plane: the fixed diagonal.
  const int degenerate[3] = {1, 1, 2};
  FindPolyNormal(flat, degenerate, n);
  for (double c : n) EXPECT_DOUBLE_EQ(c, std::sqrt(1.0 / 3.0));
}

// A triangle's angles taken together are, to the last bit, its angles taken one corner at a
// time (the normals are summed from the first), and agree with the angle from atan2 at every
// scale. A corner index repeating the first corner's is found as the first corner.
TEST_F(TriangleCloud, AnglesTogetherAreTheAnglesOneAtATime) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(scale);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1, 1);
    const int n = 400;
    std::vector<float> x, y, z;
    for (int i = 0; i < n; ++i)
      x.push_back(float(scale * u(rng))), y.push_back(float(scale * u(rng))), z.push_back(float(scale * u(rng)));
    x[1] = x[0], y[1] = y[0], z[1] = z[0];  // one place, two numbers
    x[2] = 0.5f * (x[0] + x[3]), y[2] = 0.5f * (y[0] + y[3]), z[2] = 0.5f * (z[0] + z[3]);  // near an edge
    Cloud* cl = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
    ASSERT_NE(cl, nullptr);
    std::vector<std::array<int, 3>> tris = {{0, 1, 3}, {0, 3, 2}, {4, 4, 5}, {4, 5, 4}, {5, 4, 4}, {6, 6, 6}};
    for (int t = 0; t < 300; ++t) tris.push_back({int(rng() % n), int(rng() % n), int(rng() % n)});
    cl->tri = MallocArray<CloudTriangle>(tris.size());
    ASSERT_NE(cl->tri, nullptr);
    cl->ntri = int(tris.size());
    for (int t = 0; t < cl->ntri; ++t)
      for (int k = 0; k < 3; ++k) cl->tri[t].v[k] = tris[t][k];
    for (int t = 0; t < cl->ntri; ++t) {
      SCOPED_TRACE(t);
      const int32_t* v = cl->tri[t].v;
      double angles[3], one[3];
      FindTriangleAngles(cl, t, angles);
      for (int k = 0; k < 3; ++k) ASSERT_EQ(FindTriangleAngleAtVert(cl, t, v[k], &one[k]), 1);
      EXPECT_EQ(angles[0], one[0]);
      EXPECT_EQ(angles[1], one[1]);
      EXPECT_NEAR(angles[0] + angles[1] + angles[2], 180, 1e-12);
      auto same = [&](int a, int b) { return x[a] == x[b] && y[a] == y[b] && z[a] == z[b]; };
      if (same(v[0], v[1]) || same(v[1], v[2]) || same(v[0], v[2])) continue;  // no atan2 for those
      for (int k = 0; k < 3; ++k) {
        const int a = v[k], b = v[(k + 1) % 3], c = v[(k + 2) % 3];
        const V3 e{double(x[b]) - x[a], double(y[b]) - y[a], double(z[b]) - z[a]};
        const V3 f{double(x[c]) - x[a], double(y[c]) - y[a], double(z[c]) - z[a]};
        const V3 w{e[1] * f[2] - e[2] * f[1], e[2] * f[0] - e[0] * f[2], e[0] * f[1] - e[1] * f[0]};
        const double want = std::atan2(std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]),
                                       e[0] * f[0] + e[1] * f[1] + e[2] * f[2]) * 180 / M_PI;
        EXPECT_NEAR(angles[k], want, 1e-6) << k;
      }
    }
    FreeCloud(cl);
  }
}

}  // namespace
