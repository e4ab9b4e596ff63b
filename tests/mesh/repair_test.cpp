// Repair of degenerate triangles and of edges shared by three or more triangles.
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "mesh/putil.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshRepair : public KernelTest {};

using Pts = std::vector<std::array<double, 3>>;

// What a repaired mesh guarantees: corners name points, no corner repeated, no edge at or below
// tol, no sliver at tol.
void ExpectRepaired(const Cloud* m, double tol) {
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    for (int k = 0; k < 3; ++k) {
      ASSERT_GE(v[k], 0);
      ASSERT_LT(v[k], m->npts);
    }
    EXPECT_TRUE(v[0] != v[1] && v[1] != v[2] && v[0] != v[2]) << t;
    for (int k = 0; k < 3; ++k) {
      const int a = v[k], b = v[(k + 1) % 3];
      const double d2 = std::pow(m->x[a] - m->x[b], 2) + std::pow(m->y[a] - m->y[b], 2) + std::pow(m->z[a] - m->z[b], 2);
      EXPECT_GT(d2, tol * tol) << t;
    }
    const int w[3] = {v[0], v[1], v[2]};
    EXPECT_EQ(IsPolyType3Degen(m, w, tol * tol), 0) << t;
  }
}

// A small triangle in the middle of a larger one, joined to it by a ring of six triangles.
Cloud* SmallTriangleInRing(double s, double eps) {
  Pts pts;
  for (double r : {eps, 1.0})
    for (int i = 0; i < 3; ++i) {
      const double a = M_PI / 2 + 2 * M_PI * i / 3;
      pts.push_back({s * (r * std::cos(a) + 3), s * (r * std::sin(a) - 1), 0});
    }
  std::vector<TestTriangle> tris = {{0, 1, 2}};
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    tris.push_back({i, 3 + i, 3 + j});
    tris.push_back({i, 3 + j, j});
  }
  return MakeTestMesh(pts, tris);
}

TEST_F(MeshRepair, SmallTriangleCollapsesWithItsNeighboursAtEveryScale) {
  for (double s : {1e-6, 1.0, 1e6}) {
    Cloud* m = SmallTriangleInRing(s, 1e-3);
    ASSERT_NE(m, nullptr);
    const double area = SignedAreaXY(m);
    EXPECT_EQ(RemoveDegenCldPolys(m, 1e-2 * s, nullptr), 4) << s;
    EXPECT_EQ(m->npts, 4);
    EXPECT_EQ(m->ntri, 3);
    EXPECT_NEAR(SignedAreaXY(m), area, 1e-2 * std::fabs(area));
    ExpectRepaired(m, 1e-2 * s);
    FreeCloud(m);
  }
}

TEST_F(MeshRepair, SliversAreDeletedOnTheBoundaryAndFlippedInside) {
  for (double s : {1e-6, 1.0, 1e6}) {
    // V almost on A-B: alone, the sliver is deleted; with W below A-B the edge turns to V-W.
    const Pts pts = {{0, 0, 0}, {2 * s, 0, 0}, {s, 1e-3 * s, 0}, {s, -s, 0}};
    Cloud* lone = MakeTestMesh(pts, {{0, 1, 2}, {1, 3, 2}});  // B-W-V hangs on edge B-V only
    ASSERT_NE(lone, nullptr);
    EXPECT_EQ(RemoveDegenCldPolys(lone, 1e-2 * s, nullptr), 1);
    EXPECT_EQ(lone->ntri, 1);
    FreeCloud(lone);
    Cloud* quad = MakeTestMesh(pts, {{0, 1, 2}, {1, 0, 3}});
    ASSERT_NE(quad, nullptr);
    const double area = SignedAreaXY(quad);
    EXPECT_EQ(RemoveDegenCldPolys(quad, 1e-2 * s, nullptr), 1);
    ASSERT_EQ(quad->ntri, 2);
    // (A, B, V) took W for A, (B, A, W) took V for B.
    EXPECT_EQ(TestTriangle({quad->tri[0].v[0], quad->tri[0].v[1], quad->tri[0].v[2]}), TestTriangle({3, 1, 2}));
    EXPECT_EQ(TestTriangle({quad->tri[1].v[0], quad->tri[1].v[1], quad->tri[1].v[2]}), TestTriangle({2, 0, 3}));
    EXPECT_NEAR(SignedAreaXY(quad), area, 1e-6 * std::fabs(area));
    ExpectRepaired(quad, 1e-2 * s);
    FreeCloud(quad);
  }
}

// A 12 x 12 grid whose interior vertices are pulled, some of them, to within a third of tol of a
// neighbour: short edges everywhere, the boundary untouched.
Cloud* PulledGrid(unsigned seed, double tol) {
  Cloud* m = MakeGridMesh(12, 12, [](int, int) { return true; });
  if (!m) return nullptr;
  std::mt19937 rng(seed);
  const int dx[6] = {1, -1, 0, 0, 1, -1}, dy[6] = {0, 0, 1, -1, 1, -1};  // the grid's edges
  for (int j = 2; j < 10; j += 2)
    for (int i = 2; i < 10; i += 2) {
      if (rng() % 3 == 0) continue;
      const int d = rng() % 6, v = i + 12 * j, w = (i + dx[d]) + 12 * (j + dy[d]);
      const double f = tol / 3 / std::sqrt(double(dx[d] * dx[d] + dy[d] * dy[d]));
      m->x[v] = m->x[w] - float(f * dx[d]);
      m->y[v] = m->y[w] - float(f * dy[d]);
    }
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  return m;
}

TEST_F(MeshRepair, ShortEdgesCollapseAndTheMeshStillCoversItsArea) {
  const double tol = 0.05;
  for (unsigned seed : {1u, 2u, 3u}) {
    Cloud* m = PulledGrid(seed, tol);
    ASSERT_NE(m, nullptr);
    const int ntri = m->ntri;
    const int repairs = RemoveDegenCldPolys(m, tol, nullptr);
    EXPECT_GT(repairs, 0);
    EXPECT_LT(m->ntri, ntri);
    EXPECT_NEAR(SignedAreaXY(m), 121.0, 1e-4);
    ExpectRepaired(m, tol);
    EXPECT_EQ(RemoveDegenCldPolys(m, tol, nullptr), 0);  // nothing left to repair
    FreeCloud(m);
  }
}

TEST_F(MeshRepair, MaskLimitsTheRepairAndFollowsThePoints) {
  Cloud* m = SmallTriangleInRing(1.0, 1e-3);
  ASSERT_NE(m, nullptr);
  std::vector<unsigned char> mask(m->npts, 0);
  EXPECT_EQ(RemoveDegenCldPolys(m, 1e-2, mask.data()), 0);
  EXPECT_EQ(m->ntri, 7);
  // Bytes that name their points: after the compaction each survivor still has its own.
  std::map<std::array<float, 2>, unsigned char> byPoint;
  for (int i = 0; i < m->npts; ++i) {
    mask[i] = static_cast<unsigned char>(10 + i);
    byPoint[{m->x[i], m->y[i]}] = mask[i];
  }
  EXPECT_EQ(RemoveDegenCldPolys(m, 1e-2, mask.data()), 4);
  ASSERT_EQ(m->npts, 4);
  for (int i = 0; i < m->npts; ++i) EXPECT_EQ(mask[i], byPoint.at({m->x[i], m->y[i]})) << i;
  FreeCloud(m);
}

TEST_F(MeshRepair, RefusedMemoryLeavesAConsistentMeshAndReportsFailure) {
  const double tol = 0.05;
  // Short edges collapsed before the compaction fails; a flip whose list nodes are refused.
  const std::function<Cloud*()> makers[2] = {
      [&] { return PulledGrid(2, tol); },
      [] { return MakeTestMesh({{0, 0, 0}, {2, 0, 0}, {1, 1e-3, 0}, {1, -1, 0}}, {{0, 1, 2}, {1, 0, 3}}); }};
  for (const auto& make : makers) {
    Cloud* ref = make();
    ASSERT_NE(ref, nullptr);
    const int expect = RemoveDegenCldPolys(ref, tol, nullptr);
    FreeCloud(ref);
    const int failures = RefuseInTurn(
        120, make,
        [&](Cloud* m) {
          const int r = RemoveDegenCldPolys(m, tol, nullptr);
          EXPECT_TRUE(r == -1 || r == expect) << r;
          // Whatever a failed pass did is compacted: every corner names a point, none repeats.
          for (int t = 0; t < m->ntri; ++t)
            for (int k = 0; k < 3; ++k) {
              EXPECT_LT(m->tri[t].v[k], m->npts);
              EXPECT_NE(m->tri[t].v[k], m->tri[t].v[(k + 1) % 3]);
            }
          return r;
        },
        [](int r) { return r < 0; });
    EXPECT_GT(failures, 10);
    EXPECT_LT(failures, 120);
  }
}

// Triangles on edge 0-1: four; on edge 1-2: three, one of them (0, 1, 2) shared.
Cloud* MultiEdges() {
  return MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0.5, 1, 0}, {0.5, -1, 0}, {0.5, 0, 1}, {0.5, 0, -1}, {1, 1, 1}, {1, 1, -1}},
                      {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}, {1, 0, 5}, {1, 2, 6}, {2, 1, 7}, {3, 4, 5}});
}

TEST_F(MeshRepair, MultiEdgesGoAsTheModeBitsSay) {
  const struct {
    int mode;
    int deleted;
  } cases[] = {{1, 6}, {2, 4}, {3, 6}, {4, 0}, {7, 6}};
  for (const auto& c : cases) {
    Cloud* m = MultiEdges();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(RemoveMultiEdgePolys(m, c.mode, nullptr), c.deleted) << c.mode;
    EXPECT_EQ(m->ntri, 7 - c.deleted) << c.mode;
    FreeCloud(m);
  }
  Cloud* m = MultiEdges();
  ASSERT_NE(m, nullptr);
  const unsigned char mask[8] = {0, 0, 1, 0, 0, 0, 0, 0};  // edge 1-2 has a marked end, edge 0-1 none
  EXPECT_EQ(RemoveMultiEdgePolys(m, 2, mask), 0);
  EXPECT_EQ(RemoveMultiEdgePolys(m, 1, mask), 3);
  EXPECT_EQ(m->ntri, 4);
  FreeCloud(m);
  // Refused memory deletes nothing.
  const int failures = RefuseInTurn(
      40, MultiEdges,
      [](Cloud* mm) {
        const int r = RemoveMultiEdgePolys(mm, 7, nullptr);
        EXPECT_EQ(mm->ntri, r ? 1 : 7);
        return r;
      },
      [](int r) { return r == 0; });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 40);
}

}  // namespace
