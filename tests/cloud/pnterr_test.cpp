// Deviations of clouds from meshes, segments and other clouds, stored as one difference group,
// counted in tolerance bands and split over parts; the mesh joins of cloud/premove.
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pgr2cld.h"
#include "cloud/pnterr.h"
#include "cloud/premove.h"
#include "cloud/psubdiv.h"
#include "foundation/geo2.h"
#include "quadric/pnterr.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class CloudDifferences : public KernelTest {};

const float* Group(const Cloud* c, int k) { return c->farrays.arrays[CldArrayTypeExists(c, 0) + k]; }

int Groups(const Cloud* c) {
  int n = 0;
  for (int i = 0; i < c->farrays.count; ++i) n += c->farrays.types[i] == 0;
  return n;
}

// Points over the grid mesh 0..8 x 0..8 at the given heights, scaled.
Owned<Cloud, FreeCloud> PointsOver(const std::vector<std::array<double, 3>>& pts, double s) {
  std::vector<float> x, y, z;
  for (const auto& p : pts) x.push_back(float(s * p[0])), y.push_back(float(s * p[1])), z.push_back(float(s * p[2]));
  return Owned<Cloud, FreeCloud>(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
}

// The least squared distance of p from the mesh's triangles, by a pass over all of them; limit2
// where none is nearer.
double NearestSq(const Cloud* mesh, const double p[3], double limit2) {
  double least = limit2;
  for (int t = 0; t < mesh->ntri; ++t) {
    double a[3], b[3], d[3], foot[3], e, s, u;
    GetCldPoint(mesh, mesh->tri[t].v[0], a);
    GetCldPoint(mesh, mesh->tri[t].v[1], b);
    GetCldPoint(mesh, mesh->tri[t].v[2], d);
    if (TriangPntMinDistSq(p, a, b, d, foot, &e, &s, &u) == 0 && e < least) least = e;
  }
  return least;
}

TEST_F(CloudDifferences, PointsOverAFlatMeshGetTheirSignedHeights) {
  // The triangle distance of the foundation treats triangles with edges below about 3e-3 as
  // too thin (an absolute floor), so the scales start above that.
  for (double s : {1e-2, 1.0, 1e5}) {
    SCOPED_TRACE(s);
    Owned<Cloud, FreeCloud> mesh(MakeGridMesh(9, 9, [](int, int) { return true; }, s));
    const double side = mesh->tri[0].plane[2] > 0 ? 1.0 : -1.0;  // the heights' sign on this mesh
    std::vector<std::array<double, 3>> pts = {{2.3, 4.6, 0.5}, {7.9, 0.1, -0.25}, {4, 4, 0}, {6.2, 1.7, 3.0},
                                              {30, 30, 0}};
    auto c = PointsOver(pts, s);
    // The cloud's own typed array stays through every rerun; only one group remains.
    c->farrays.arrays = MallocArray<float*>(1), c->farrays.types = MallocArray<int32_t>(1), c->farrays.count = 1;
    c->farrays.arrays[0] = MallocArray<float>(5), c->farrays.types[0] = 9;
    std::vector<int> vertex(5), tri(5);
    std::vector<double> bary(10);
    for (int run = 0; run < 2; ++run) {
      ASSERT_EQ(PolycldToCldDiff(mesh.get(), c.get(), s * s * 1.0, vertex.data(), tri.data(), bary.data()), 1);
      EXPECT_EQ(c->farrays.count, 5);
      EXPECT_EQ(Groups(c.get()), 1);
    }
    for (int i = 0; i < 4; ++i) {
      const double h = pts[i][2];
      if (std::fabs(h) > 1.0) {  // beyond the search radius: no match
        EXPECT_EQ(Group(c.get(), 0)[i], kNoMatchDeviation);
        EXPECT_EQ(tri[i], -1);
        continue;
      }
      EXPECT_NEAR(Group(c.get(), 0)[i], side * h * s, 1e-5 * s) << i;
      EXPECT_NEAR(Group(c.get(), 1)[i], pts[i][0] * s, 1e-5 * s);
      EXPECT_NEAR(Group(c.get(), 2)[i], pts[i][1] * s, 1e-5 * s);
      EXPECT_NEAR(Group(c.get(), 3)[i], 0.0, 1e-5 * s);
      ASSERT_GE(tri[i], 0);
      // The barycentric pair rebuilds the foot from the triangle's corners.
      const CloudTriangle& T = mesh->tri[tri[i]];
      const double b[3] = {bary[2 * i], bary[2 * i + 1], 1 - bary[2 * i] - bary[2 * i + 1]};
      double fx = 0, fy = 0;
      for (int k = 0; k < 3; ++k) fx += b[k] * mesh->x[T.v[k]], fy += b[k] * mesh->y[T.v[k]];
      EXPECT_NEAR(fx, pts[i][0] * s, 1e-5 * s);
      EXPECT_NEAR(fy, pts[i][1] * s, 1e-5 * s);
      // The nearest corner is the rounded grid point, when unambiguous.
      EXPECT_TRUE(vertex[i] == T.v[0] || vertex[i] == T.v[1] || vertex[i] == T.v[2]);
    }
    EXPECT_EQ(vertex[0], 2 + 9 * 5);
    EXPECT_EQ(Group(c.get(), 0)[4], kNoMatchDeviation);
    EXPECT_EQ(c->farrays.types[0], 9);
    // Removing the single array leaves the group; removing type 0 takes all four.
    EXPECT_EQ(RemoveCldArrayType(c.get(), 9), 0);
    EXPECT_EQ(c->farrays.count, 4);
    EXPECT_EQ(CldArrayTypeExists(c.get(), 0), 0);
    EXPECT_EQ(RemoveCldArrayType(c.get(), 0), 0);
    EXPECT_EQ(c->farrays.count, 0);
    EXPECT_FALSE(c->farrays.arrays);
    EXPECT_EQ(RemoveCldArrayType(c.get(), 0), -1);
  }
  // Few points: the thermometer stays within 0..100.
  Owned<Cloud, FreeCloud> mesh(MakeGridMesh(3, 3, [](int, int) { return true; }));
  std::vector<std::array<double, 3>> many(60, {1.0, 1.0, 0.1});
  auto c = PointsOver(many, 1.0);
  ASSERT_EQ(PolycldToCldDiff(mesh.get(), c.get(), 1.0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(StubGetThermometer().outOfRange, 0);
  EXPECT_EQ(StubGetThermometer().open, 0);
}

// A 52 x 52 grid of right triangles (every point of a triangle lies within the reach the search
// gives its corners) with a few vertices thrown near 3e38, as a corrupted file does: their
// triangles become walls reaching across the float range and every sound vertex shares one cell
// of the search grid. Each point's distance must still be the least over all triangles, as a
// pass over every triangle finds it; without the far vertices too. The triangle distance has an
// absolute floor for thin triangles, so the sizes start at 1.
TEST_F(CloudDifferences, MeshDistancesWithVerticesNearTheFloatRangeMatchBruteForce) {
  const int nv = 52;
  for (double size : {1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (int thrown : {0, 3}) {
        SCOPED_TRACE(testing::Message() << size << " " << far << " " << thrown);
        const double h = size / (nv - 1), o = far * size;
        Owned<Cloud, FreeCloud> mesh(MakeGridMesh(nv, nv, [](int, int) { return true; }, h));
        for (int i = 0; i < mesh->npts; ++i) mesh->x[i] += float(o), mesh->y[i] += float(o);
        const int moved[3] = {nv * 10 + 7, nv * 30 + 40, nv * 45 + 12};
        for (int k = 0; k < thrown; ++k) mesh->z[moved[k]] = k == 1 ? -3e38f : 3e38f, mesh->x[moved[k]] = 2e38f;
        for (int t = 0; t < mesh->ntri; ++t) MakeCldPolyPlane(mesh.get(), &mesh->tri[t]);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> U(0.0, 1.0);
        std::vector<std::array<double, 3>> pts;
        for (int i = 0; i < 150; ++i) pts.push_back({U(rng) * 1.1 - 0.05, U(rng) * 1.1 - 0.05, (U(rng) - 0.5) * 3 * h / size});
        std::vector<float> x, y, z;
        for (const auto& p : pts) x.push_back(float(o + size * p[0])), y.push_back(float(o + size * p[1])), z.push_back(float(size * p[2]));
        Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
        const double reach2 = (1.2 * h) * (1.2 * h);
        ASSERT_EQ(PolycldToCldDiff(mesh.get(), c.get(), reach2, nullptr, nullptr, nullptr), 1);
        int matched = 0;
        for (int i = 0; i < c->npts; ++i) {
          const double p[3] = {c->x[i], c->y[i], c->z[i]};
          const double least = NearestSq(mesh.get(), p, reach2);
          const float dev = Group(c.get(), 0)[i];
          if (least < reach2) {
            ++matched;
            EXPECT_EQ(std::fabs(dev), float(std::sqrt(least))) << i;
          } else {
            EXPECT_EQ(dev, kNoMatchDeviation) << i;
          }
        }
        EXPECT_GT(matched, 100);
      }
}

// A coarse mesh of near-equilateral triangles (a point over a triangle's middle lies farther
// from every corner than half the longest edge) beside one small triangle far away, which
// stretches the box so that cells hold many vertices. Every point gets the least distance over
// all triangles within the limit, as a pass over every triangle finds it, at every scale.
TEST_F(CloudDifferences, CoarseTrianglesAndAFarCellGiveTheNearestTriangle) {
  for (double size : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(size);
    std::vector<std::array<double, 3>> pts;
    std::vector<TestTriangle> tris;
    const int n = 6;
    const double h = std::sqrt(3.0) / 2;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) pts.push_back({size * (i + 0.5 * (j % 2)), size * h * j, size * 0.05 * ((i * 7 + j * 3) % 5)});
    for (int j = 0; j + 1 < n; ++j)
      for (int i = 0; i + 1 < n; ++i) {
        const int a = i + n * j, b = a + 1, c = a + n, d = c + 1;
        if (j % 2 == 0) tris.push_back({a, b, c}), tris.push_back({b, d, c});
        else tris.push_back({a, d, c}), tris.push_back({a, b, d});
      }
    const int far = int(pts.size());
    for (int k = 0; k < 3; ++k) pts.push_back({size * (400.0 + (k == 1)), size * (300.0 + (k == 2)), 0.0});
    tris.push_back({far, far + 1, far + 2});
    Owned<Cloud, FreeCloud> mesh(MakeTestMesh(pts, tris));
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> U(0.0, 1.0);
    std::vector<float> x, y, z;
    for (int i = 0; i < 400; ++i)
      x.push_back(float(size * (U(rng) * 6 - 0.5))), y.push_back(float(size * (U(rng) * 5 - 0.5))),
          z.push_back(float(size * (U(rng) * 0.6 - 0.2)));
    Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
    const double limit2 = (0.25 * size) * (0.25 * size);
    std::vector<int> triangle(c->npts);
    ASSERT_EQ(PolycldToCldDiff(mesh.get(), c.get(), limit2, nullptr, triangle.data(), nullptr), 1);
    int matched = 0;
    for (int i = 0; i < c->npts; ++i) {
      const double p[3] = {c->x[i], c->y[i], c->z[i]};
      const double least = NearestSq(mesh.get(), p, limit2);
      const float dev = Group(c.get(), 0)[i];
      if (least < limit2) {
        ++matched;
        EXPECT_NEAR(std::fabs(dev), std::sqrt(least), 1e-6 * size) << i;
        EXPECT_GE(triangle[i], 0) << i;
      } else {
        EXPECT_EQ(dev, kNoMatchDeviation) << i;
      }
    }
    EXPECT_GT(matched, 100);
  }
}

// Triangles of no area, as coarse CAD tessellations leave them, their corners repeated points
// (exactly of no area however the mesh is turned): a fin reaching past a flat patch, and a patch
// triangle with a corner twice. A triangle of no area is the segment it spans and can be the nearest part of the mesh;
// points around the fin, at every scale, moved far from the origin and turned, get the least
// distance over all triangles, as a pass over every triangle finds it.
TEST_F(CloudDifferences, TrianglesOfNoAreaAreTheSegmentsTheySpan) {
  const double turn = 0.6, ct = std::cos(turn), st = std::sin(turn);
  for (double size : {1e-6, 1e-2, 1.0, 1e6})
    for (double away : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << size << " " << away);
      // Patch 4..6 x -1..1 at height 0.8; fin along the x axis from 0 to 10 (point 5 repeats
      // point 4); point 7 repeats point 3.
      std::vector<std::array<double, 3>> pts = {{4, -1, 0.8}, {6, -1, 0.8}, {5, 1, 0.8}, {4, 1, 0.8},
                                                {0, 0, 0},    {0, 0, 0},    {10, 0, 0}, {4, 1, 0.8}};
      for (auto& p : pts) {
        const double x = p[0], y = p[1];
        p = {size * (away + ct * x - st * y), size * (away + st * x + ct * y), size * p[2]};
      }
      Owned<Cloud, FreeCloud> mesh(MakeTestMesh(pts, {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {2, 3, 7}}));
      std::mt19937 rng(5);
      std::uniform_real_distribution<double> U(0.0, 1.0);
      std::vector<float> x, y, z;
      for (int i = 0; i < 40; ++i) {
        const double px = 2 + 6 * U(rng), py = 0.4 * (U(rng) - 0.5), pz = 0.3 * U(rng);
        x.push_back(float(size * (away + ct * px - st * py))), y.push_back(float(size * (away + st * px + ct * py)));
        z.push_back(float(size * pz));
      }
      Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
      const double limit2 = size * size;
      ASSERT_EQ(PolycldToCldDiff(mesh.get(), c.get(), limit2, nullptr, nullptr, nullptr), 1);
      for (int i = 0; i < c->npts; ++i) {
        const double p[3] = {c->x[i], c->y[i], c->z[i]};
        EXPECT_NEAR(std::fabs(Group(c.get(), 0)[i]), std::sqrt(NearestSq(mesh.get(), p, limit2)), 1e-6 * size) << i;
      }
    }
}

TEST_F(CloudDifferences, ComparedCloudsAndCloudsWithNormals) {
  Owned<Cloud, FreeCloud> c(tagged::Make());
  Owned<Cloud, FreeCloud> same(tagged::Make());
  RemoveCldArrayType(same.get(), 0);
  ASSERT_EQ(Compare2Clouds(c.get(), same.get()), 1);
  for (int i = 0; i < same->npts; ++i) {
    EXPECT_EQ(Group(same.get(), 0)[i], 0.0f);
    EXPECT_EQ(Group(same.get(), 1)[i], c->x[i]);
    EXPECT_EQ(Group(same.get(), 2)[i], c->y[i]);
  }
  std::vector<float> x = {0, 1};
  Owned<Cloud, FreeCloud> two(MakeCld(x.data(), x.data(), x.data(), 2, nullptr));
  EXPECT_EQ(Compare2Clouds(c.get(), two.get()), 0);

  // A reference plane z = 0 with normals up; points above it lie against the normal from their
  // foot, so their deviation is negative.
  std::vector<float> rx, ry, rz;
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) rx.push_back(float(i)), ry.push_back(float(j)), rz.push_back(0);
  Owned<Cloud, FreeCloud> ref(MakeCld(rx.data(), ry.data(), rz.data(), 100, nullptr));
  std::vector<float> qx = {2.2f, 5.0f, 7.1f, 50}, qy = {3.1f, 5.0f, 1.0f, 50}, qz = {0.5f, -0.25f, 0.0f, 0};
  Owned<Cloud, FreeCloud> q(MakeCld(qx.data(), qy.data(), qz.data(), 4, nullptr));
  int* match = nullptr;
  EXPECT_EQ(CldToCldDiff(ref.get(), q.get(), 1.5, &match), 0);  // no normals
  EXPECT_FALSE(match);
  std::vector<float> nx(100, 0.0f), nz(100, 1.0f);
  ASSERT_EQ(CopyCloudNormals(ref.get(), nx.data(), nx.data(), nz.data(), 100), 1);
  ASSERT_EQ(CldToCldDiff(ref.get(), q.get(), 1.5, &match), 1);
  EXPECT_EQ(match[0], 2 + 10 * 3);
  EXPECT_EQ(match[3], -1);
  Free(match);
  EXPECT_FLOAT_EQ(Group(q.get(), 0)[0], -0.5f);
  EXPECT_FLOAT_EQ(Group(q.get(), 0)[1], 0.25f);
  EXPECT_EQ(Group(q.get(), 0)[3], kNoMatchDeviation);
  EXPECT_FLOAT_EQ(Group(q.get(), 1)[0], 2.2f);
  EXPECT_FLOAT_EQ(Group(q.get(), 3)[0], 0.0f);
  EXPECT_EQ(StubGetThermometer().outOfRange, 0);
  ASSERT_EQ(CldToCldDiff(ref.get(), q.get(), 1.5, nullptr), 1);
  EXPECT_EQ(Groups(q.get()), 1);
}

TEST_F(CloudDifferences, SegmentDistancesMatchBruteForceAtEveryScale) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> U(0.0f, 1.0f);
  for (double s : {1e-3, 1.0, 1e6}) {
    SCOPED_TRACE(s);
    // Two polylines as segment sets, and points scattered near them.
    std::vector<float> ax, ay, az, bx, by, bz;
    for (int k = 0; k < 10; ++k) {
      ax.insert(ax.end(), {float(s * k), float(s * (k + 1))}), ay.insert(ay.end(), {0.0f, 0.0f}), az.insert(az.end(), {0.0f, 0.0f});
      bx.insert(bx.end(), {float(s * 5), float(s * 5)}), by.insert(by.end(), {float(s * k), float(s * (k + 1))});
      bz.insert(bz.end(), {float(s * 2), float(s * 2)});
    }
    SegmentSet a{0, 10, ax.data(), ay.data(), az.data()}, b{1, 10, bx.data(), by.data(), bz.data()};
    SegmentSet* sets[2] = {&a, &b};
    std::vector<float> x, y, z;
    for (int i = 0; i < 200; ++i)
      x.push_back(float(s * 10 * U(rng))), y.push_back(float(s * 10 * U(rng))), z.push_back(float(s * 2 * U(rng)));
    Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), 200, nullptr));
    const double maxDist = 3 * s;
    Owned<Subdiv, FreeSubdiv> grid(CreateSubdivisionStruct(sets, 2, maxDist));
    ASSERT_TRUE(grid);
    ASSERT_EQ(CloudToPolylinesDiff(c.get(), sets, 2, maxDist, grid.get()), 1);
    int matched = 0;
    for (int i = 0; i < 200; ++i) {
      double best = 1e300;
      for (const SegmentSet* set : sets)
        for (int k = 0; k < set->nseg; ++k) {
          const double A[3] = {set->x[2 * k], set->y[2 * k], set->z[2 * k]};
          const double B[3] = {set->x[2 * k + 1], set->y[2 * k + 1], set->z[2 * k + 1]};
          const double d[3] = {B[0] - A[0], B[1] - A[1], B[2] - A[2]};
          const double w[3] = {x[i] - A[0], y[i] - A[1], z[i] - A[2]};
          double t = (w[0] * d[0] + w[1] * d[1] + w[2] * d[2]) / (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
          t = t < 0 ? 0 : t > 1 ? 1 : t;
          const double e[3] = {w[0] - t * d[0], w[1] - t * d[1], w[2] - t * d[2]};
          best = std::min(best, std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]));
        }
      const float dev = Group(c.get(), 0)[i];
      if (dev == kNoMatchDeviation) {
        EXPECT_GT(best, maxDist * 0.999) << i;  // only points beyond maxDist may go unmatched
        continue;
      }
      ++matched;
      EXPECT_NEAR(dev, best, 1e-5 * s) << i;
    }
    EXPECT_GT(matched, 150);
  }
  EXPECT_FALSE(CreateSubdivisionStruct(nullptr, 0, 1.0));
}

TEST_F(CloudDifferences, BandsCountAndFlagPointsAndGroupsSplitOverParts) {
  std::vector<float> x(8, 0.0f);
  Owned<Cloud, FreeCloud> c(MakeCld(x.data(), x.data(), x.data(), 8, nullptr));
  Owned<Cloud, FreeCloud> ref(MakeCld(x.data(), x.data(), x.data(), 8, nullptr));
  ASSERT_EQ(Compare2Clouds(ref.get(), c.get()), 1);
  float* dev = c->farrays.arrays[0];
  const float d[8] = {0.05f, 0.5f, 2.0f, -0.05f, -0.5f, -2.0f, -0.0f, 1.0f};
  for (int i = 0; i < 8; ++i) dev[i] = d[i], c->farrays.arrays[1][i] = float(i);
  c->labels = CallocArray<char*>(8);
  Cloud* clouds[1] = {c.get()};
  int within = -1, inner = -1;
  // Bands: outer +-1, inner +-0.1.
  EXPECT_EQ(GetOutOfTolCldPts(clouds, 1, 1.0, 0.1, -0.1, -1.0, 0, 0, 1, &within, &inner), 2);
  EXPECT_EQ(within, 6);
  EXPECT_EQ(inner, 3);
  ASSERT_TRUE(c->labelIsShow);
  // Flagged: between the bands (0.5, -0.5, 1.0 at the outer edge) and outside (2, -2).
  EXPECT_EQ(c->labelIsShow[0], 0b10110110);
  EXPECT_EQ(GetOutOfTolCldPts(clouds, 1, 1.0, 0.1, -0.1, -1.0, 0, 1, 0, &within, &inner), 2);
  EXPECT_EQ(c->labelIsShow[0], 0b00100100);
  // With absolute values the negative limits are never read.
  EXPECT_EQ(GetOutOfTolCldPts(clouds, 1, 1.0, 0.1, 5.0, 5.0, 1, 0, 0, &within, &inner), 2);
  EXPECT_EQ(inner, 3);
  EXPECT_EQ(GetOutOfTolCldPts(clouds, 0, 1.0, 0.1, -0.1, -1.0, 0, 0, 0, &within, &inner), 0);
  EXPECT_EQ(within + inner, 0);

  // Parts of 3 and 5 points take consecutive runs of the whole's group; 9 points are refused.
  Owned<Cloud, FreeCloud> p1(MakeCld(x.data(), x.data(), x.data(), 3, nullptr));
  Owned<Cloud, FreeCloud> p2(MakeCld(x.data(), x.data(), x.data(), 5, nullptr));
  Owned<Cloud, FreeCloud> p3(MakeCld(x.data(), x.data(), x.data(), 1, nullptr));
  Cloud* parts[3] = {p1.get(), p2.get(), p3.get()};
  EXPECT_EQ(SplitDifferenceResults(c.get(), parts, 3), 0);
  EXPECT_EQ(CldArrayTypeExists(p1.get(), 0), -1);
  ASSERT_EQ(SplitDifferenceResults(c.get(), parts, 2), 1);
  ASSERT_EQ(SplitDifferenceResults(c.get(), parts, 2), 1);  // again: still one group each
  EXPECT_EQ(p1->farrays.count, 4);
  for (int i = 0; i < 5; ++i) {
    const Cloud* part = i < 3 ? p1.get() : p2.get();
    const int k = i < 3 ? i : i - 3;
    EXPECT_EQ(Group(part, 0)[k], d[i]);
    EXPECT_EQ(Group(part, 1)[k], float(i));
  }
  for (int i = 3; i < 8; ++i) EXPECT_EQ(Group(p2.get(), 1)[i - 3], float(i));
}

TEST_F(CloudDifferences, JoinedMeshesMergeOnlyTheirBoundaries) {
  // Two copies of a 4 x 4 grid mesh: the 12 border vertices of b merge into a's, its 4 inner
  // vertices are appended.
  Owned<Cloud, FreeCloud> a(MakeGridMesh(4, 4, [](int, int) { return true; }));
  Owned<Cloud, FreeCloud> b(MakeGridMesh(4, 4, [](int, int) { return true; }));
  std::vector<float> x(32), y(32), z(32);
  std::vector<int> map(32);
  ASSERT_EQ(JoinCloudSetsToTol(a.get(), b.get(), x.data(), y.data(), z.data(), map.data(), 1e-3), 16 + 4);
  for (int v = 0; v < 16; ++v) {
    EXPECT_EQ(map[v], v);
    const bool inner = v % 4 && v % 4 != 3 && v / 4 && v / 4 != 3;
    if (inner) EXPECT_GE(map[16 + v], 16);
    else EXPECT_EQ(map[16 + v], v);
    EXPECT_EQ(x[map[16 + v]], b->x[v]);
    EXPECT_EQ(y[map[16 + v]], b->y[v]);
  }
}

TEST_F(CloudDifferences, FailedAllocationsLeaveWholeGroupsOrNoneAndNoLeaks) {
  Owned<Cloud, FreeCloud> mesh(MakeGridMesh(6, 6, [](int, int) { return true; }));
  std::vector<std::array<double, 3>> pts;
  for (int i = 0; i < 40; ++i) pts.push_back({0.1 * i, 0.12 * i, 0.3});
  auto c = PointsOver(pts, 1.0);
  auto wholeGroups = [&] { return c->farrays.count % 4 == 0 && Groups(c.get()) <= 1; };
  EXPECT_GT(RunWithInjectedFailures(60, 1, [&] {
    const int r = PolycldToCldDiff(mesh.get(), c.get(), 1.0, nullptr, nullptr, nullptr);
    EXPECT_TRUE(wholeGroups());
    return r == 1 ? 0 : 1;
  }), 0);
  Owned<Cloud, FreeCloud> ref(tagged::Make());
  EXPECT_GT(RunWithInjectedFailures(60, 1, [&] {
    int* match = nullptr;
    const int r = CldToCldDiff(ref.get(), c.get(), 2.0, &match);
    Free(match);
    EXPECT_TRUE(wholeGroups());
    return r == 1 ? 0 : 1;
  }), 0);
  Owned<Cloud, FreeCloud> b(MakeGridMesh(6, 6, [](int, int) { return true; }));
  std::vector<float> x(72), y(72), z(72);
  std::vector<int> map(72);
  EXPECT_GT(RunWithInjectedFailures(40, 1, [&] {
    return JoinCloudSetsToTol(mesh.get(), b.get(), x.data(), y.data(), z.data(), map.data(), 1e-3) > 0 ? 0 : 1;
  }), 0);
}

}  // namespace
