// Capping holes: loop sets sorted into outer loops, holes and islands, mesh holes capped in
// place, loops capped under a given projection and long loops capped in two pieces.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "foundation/solvmat.h"
#include "foundation/vec3.h"
#include "mesh/cldpoly.h"
#include "mesh/trianum.h"
#include "tests/mesh/loop_checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

// An axis-parallel square loop, counter-clockwise, labels from `first`.
Loop2 Square(int first, double x0, double y0, double side) {
  Loop2 s;
  s.Add(first, x0, y0), s.Add(first + 1, x0 + side, y0);
  s.Add(first + 2, x0 + side, y0 + side), s.Add(first + 3, x0, y0 + side);
  return s;
}

class LoopSetCapping : public KernelTest {};

TEST_F(LoopSetCapping, AHoleIsBridgedIntoItsOuterLoop) {
  const Loop2 outer = Square(0, 0, 0, 4), hole = Square(4, 1.2, 0.9, 2);
  // Back to back with room for the merged loop: 4 + 4 + 2 entries.
  std::vector<int> idx(10);
  std::vector<double> x(10), y(10);
  for (int i = 0; i < 4; ++i) {
    idx[i] = outer.idx[i], x[i] = outer.x[i], y[i] = outer.y[i];
    idx[4 + i] = hole.idx[i], x[4 + i] = hole.x[i], y[4 + i] = hole.y[i];
  }
  int counts[2] = {4, 4};
  ASSERT_EQ(MakeAnOuterPoly2D(1, counts, idx.data(), x.data(), y.data()), 1);
  ASSERT_EQ(counts[0], 10);
  Loop2 merged;
  for (int i = 0; i < 10; ++i) merged.Add(idx[i], x[i], y[i]);
  std::vector<int> tri(3 * 8);
  int count = 0;
  ASSERT_EQ(BreakPolyToTriangle(10, idx.data(), x.data(), y.data(), &count, tri.data()), 1);
  ExpectTiles(merged, tri, count, [](double px, double py) {
    return px > 0 && px < 4 && py > 0 && py < 4 && !(px > 1.2 && px < 3.2 && py > 0.9 && py < 2.9);
  });
}

TEST_F(LoopSetCapping, OutsideLoopsFirstThenTheOuterLoopWithItsHolesThenIslands) {
  // A (outer) with hole B holding island C; D beside A and smaller; E a second hole of A.
  const Loop2 loops[5] = {Square(0, 0, 0, 10), Square(4, 1, 1, 5), Square(8, 2.5, 2.5, 2), Square(12, 12, 0, 3),
                          Square(16, 7, 7, 2)};
  std::vector<int> counts;
  std::vector<const int*> idx;
  std::vector<const double*> x, y;
  for (const Loop2& l : loops) counts.push_back(4), idx.push_back(l.idx.data()), x.push_back(l.x.data()),
      y.push_back(l.y.data());
  std::vector<int> tri(3 * (20 + 10), -1);
  int count = 0;
  ASSERT_EQ(CreateCapPolysRecursive(5, counts.data(), idx.data(), x.data(), y.data(), &count, tri.data()), 1);
  // D: 2, then A with B and E: 4 + 4 + 4 + 2 * 2 - 2 = 14, then C: 2.
  ASSERT_EQ(count, 18);
  auto labels = [&](int from, int to) {
    std::set<int> s(tri.begin() + 3 * from, tri.begin() + 3 * to);
    return std::vector<int>(s.begin(), s.end());
  };
  EXPECT_EQ(labels(0, 2), (std::vector<int>{12, 13, 14, 15}));
  EXPECT_EQ(labels(2, 16), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19}));
  EXPECT_EQ(labels(16, 18), (std::vector<int>{8, 9, 10, 11}));
  std::map<int, std::array<double, 2>> at;
  for (const Loop2& l : loops)
    for (int i = 0; i < 4; ++i) at[l.idx[i]] = {l.x[i], l.y[i]};
  double area = 0.0;
  for (int t = 0; t < count; ++t) {
    const double a = TriangleArea2(at[tri[3 * t]].data(), at[tri[3 * t + 1]].data(), at[tri[3 * t + 2]].data());
    EXPECT_GE(a, -1e-12) << t;
    area += a;
  }
  EXPECT_NEAR(area, 100 - 25 - 4 + 4 + 9, 1e-12);
  count = 0;
  EXPECT_EQ(CreateCapPolysRecursive(0, counts.data(), idx.data(), x.data(), y.data(), &count, tri.data()), 0);
}

// ---- Mesh holes -------------------------------------------------------------------------------

// 1 when loop l of the mesh has vertex v.
bool LoopTouches(const MeshEdgesAndLoops& lp, int l, int v) {
  for (IndexNode* e = lp.loops[l]; e; e = e->next)
    if (lp.edges[2 * e->index] == v || lp.edges[2 * e->index + 1] == v) return true;
  return false;
}

// A 12 x 10 grid (11 x 9 cells) with an L-shaped hole and a ring-shaped hole round an island of
// two cells.
bool KeepCell(int i, int j) {
  if ((i >= 1 && i <= 3 && j >= 1 && j <= 2) || (i == 1 && j >= 3 && j <= 5)) return false;
  if (i >= 5 && i <= 9 && j >= 2 && j <= 7) return i == 7 && (j == 4 || j == 5);
  return true;
}

// The grid at the given scale, moved by a rigid motion; turned over when asked.
Cloud* HoledGrid(double scale, bool turned) {
  Cloud* m = MakeGridMesh(12, 10, KeepCell, scale);
  Xform M;
  const double p0[3] = {3 * scale, -2 * scale, 5 * scale}, p1[3] = {3.4 * scale, -1.1 * scale, 5.8 * scale};
  TransformToZAxis(p0, p1, M);
  Transform3DArrays_F(m->x, m->y, m->z, m->npts, M);
  for (int t = 0; t < m->ntri; ++t) {
    if (turned) std::swap(m->tri[t].v[1], m->tri[t].v[2]);
    MakeCldPolyPlane(m, &m->tri[t]);
  }
  return m;
}

// The loops other than the grid's outer boundary (the one through vertex 0).
std::vector<IndexNode*> HoleLoops(const MeshEdgesAndLoops& lp) {
  std::vector<IndexNode*> holes;
  for (int l = 0; l < lp.nloops; ++l)
    if (!LoopTouches(lp, l, 0)) holes.push_back(lp.loops[l]);
  return holes;
}

double TriArea(const Cloud* m, int t) {
  double p[3][3], u[3], v[3], n[3];
  for (int k = 0; k < 3; ++k) p[k][0] = m->x[m->tri[t].v[k]], p[k][1] = m->y[m->tri[t].v[k]], p[k][2] = m->z[m->tri[t].v[k]];
  VecCrossProd3(VecDiff3(p[1], p[0], u), VecDiff3(p[2], p[0], v), n);
  return VecSize3(n) / 2;
}

double MeshArea(const Cloud* m, int from) {
  double area = 0.0;
  for (int t = from; t < m->ntri; ++t) area += TriArea(m, t);
  return area;
}

class MeshCapping : public KernelTest {};

TEST_F(MeshCapping, HolesAndARingRoundAnIslandCloseLeavingTheOuterBoundary) {
  for (const double scale : {1e-6, 1.0, 1e6})
    for (const bool turned : {false, true}) {
      SCOPED_TRACE(testing::Message() << "scale " << scale << (turned ? ", turned over" : ""));
      Cloud* m = HoledGrid(scale, turned);
      const int before = m->ntri;
      const double holeArea = 99 * scale * scale - MeshArea(m, 0);
      int outerSize = 0;
      std::set<int> loopVerts;
      {
        MeshEdgesAndLoops lp;
        ASSERT_EQ(lp.Build(m), 0);
        ASSERT_EQ(lp.nloops, 4);  // outer boundary, L, ring, island
        for (int l = 0; l < lp.nloops; ++l) {
          if (LoopTouches(lp, l, 0)) outerSize = lp.sizes[l];
          for (IndexNode* e = lp.loops[l]; e && !LoopTouches(lp, l, 0); e = e->next)
            loopVerts.insert({lp.edges[2 * e->index], lp.edges[2 * e->index + 1]});
        }
        std::vector<IndexNode*> holes = HoleLoops(lp);
        ASSERT_EQ(CapModel(m, lp.edges, int(holes.size()), holes.data()), 1);
      }
      // L: 16 vertices, 14 triangles; ring 22 and island 6 vertices bridged: 28 triangles.
      EXPECT_EQ(m->ntri - before, 14 + 28);
      EXPECT_NEAR(MeshArea(m, before), holeArea, 1e-5 * holeArea);
      const float* ref = m->tri[0].plane;
      std::set<std::pair<int, int>> directed;
      for (int t = 0; t < m->ntri; ++t) {
        for (int k = 0; k < 3; ++k) {
          const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
          EXPECT_TRUE(directed.insert({a, b}).second) << "edge " << a << "-" << b << " runs twice the same way";
          if (t >= before) {
            EXPECT_TRUE(loopVerts.count(a)) << "cap vertex " << a << " is on no hole";
          }
        }
        if (t >= before && TriArea(m, t) > 1e-6 * scale * scale) {  // not flat
          const float* p = m->tri[t].plane;
          EXPECT_GT(p[0] * ref[0] + p[1] * ref[1] + p[2] * ref[2], 0.999f) << "cap " << t - before;
        }
      }
      MeshEdgesAndLoops after;
      ASSERT_EQ(after.Build(m), 0);
      ASSERT_EQ(after.nloops, 1);
      EXPECT_EQ(after.sizes[0], outerSize);
      FreeCloud(m);
    }
}

TEST_F(MeshCapping, OutOfMemoryLeavesTheMeshAsItWas) {
  int failures = 0;
  for (long skip = 0; skip < 200; skip += 3) {
    ClearKernelError();
    Cloud* m = HoledGrid(1.0, false);
    const int before = m->ntri;
    const std::vector<CloudTriangle> given(m->tri, m->tri + before);
    MeshEdgesAndLoops lp;
    ASSERT_EQ(lp.Build(m), 0);
    std::vector<IndexNode*> holes = HoleLoops(lp);
    MallocFailAfter(skip, -1);
    const int r = CapModel(m, lp.edges, int(holes.size()), holes.data());
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    if (r == 1) {
      EXPECT_EQ(m->ntri, before + 42) << skip;
    } else {
      ++failures;
      ASSERT_EQ(m->ntri, before) << skip;
      for (int t = 0; t < before; ++t)
        EXPECT_TRUE(std::equal(given[t].v, given[t].v + 3, m->tri[t].v)) << skip << " triangle " << t;
    }
    FreeCloud(m);
  }
  ClearKernelError();
  EXPECT_GT(failures, 3);
}

TEST_F(MeshCapping, LoopsOfPointIndicesAreCappedUnderTheCallersProjection) {
  // A square with a square hole on a tilted plane; the caller's transform lays it flat.
  Xform M, back;
  const double p0[3] = {1, 2, 3}, p1[3] = {1.5, 2.8, 3.3};
  TransformToZAxis(p0, p1, M);
  mat_inverse4(M, back);
  Loop2 flat = Square(0, 0, 0, 4);
  const Loop2 hole = Square(4, 1, 1, 2);
  for (int i = 0; i < 4; ++i) flat.Add(hole.idx[i], hole.x[i], hole.y[i]);
  std::vector<float> x, y, z;
  IndexNode nodes[8];
  for (int i = 0; i < 8; ++i) {
    const double p[3] = {flat.x[i], flat.y[i], 0.0};
    double q[3];
    VecTrans3(p, back, q);
    x.push_back(float(q[0])), y.push_back(float(q[1])), z.push_back(float(q[2]));
    nodes[i] = IndexNode{i % 4 == 3 ? nullptr : &nodes[i + 1], i};
  }
  IndexNode* heads[2] = {&nodes[0], &nodes[4]};
  std::vector<int> tri(3 * 12);
  int count = -5;
  ASSERT_EQ(SpecCapPolys(x.data(), y.data(), z.data(), 2, heads, M, &count, tri.data()), 1);
  ASSERT_EQ(count, 8);
  double area = 0.0;
  for (int t = 0; t < count; ++t) {
    double c[3][2];
    for (int k = 0; k < 3; ++k) c[k][0] = flat.x[tri[3 * t + k]], c[k][1] = flat.y[tri[3 * t + k]];
    area += TriangleArea2(c[0], c[1], c[2]);
  }
  EXPECT_NEAR(area, 12.0, 1e-5);
}

TEST_F(MeshCapping, ALongLoopWithTwoSharpCornersIsCappedInTwoPieces) {
  // A leaf folded shut along its midrib P-Q to 30 degrees, its halves meeting at sharp corners P
  // (point 0) and Q (point 12): seen along one plane the halves overlap, so only pieces on their
  // own planes keep them apart. The loop starts inside the first half (vertex 0 is never a
  // corner). A circle has no sharp corner: one piece.
  std::vector<std::array<double, 3>> leaf, ring;
  const int arc = 12;
  for (int i = 0; i < 2 * arc; ++i) {
    const double t = M_PI * (i <= arc ? i : 2 * arc - i) / arc, b = 2.0 * std::sin(t), y = 5.0 - 5.0 * std::cos(t);
    leaf.push_back(i <= arc ? std::array<double, 3>{b, y, 0.0} : std::array<double, 3>{b * 0.866, y, b * 0.5});
    if (i < 16) ring.push_back({std::cos(M_PI * i / 8), std::sin(M_PI * i / 8), 1.0});
  }
  for (const auto* pts : {&leaf, &ring}) {
    Cloud* m = MakeTestMesh(*pts, {});
    const int n = int(pts->size());
    std::vector<int> idx(n), tri(3 * n);
    for (int i = 0; i < n; ++i) idx[i] = (i + 5) % n;
    int count = 0;
    ASSERT_EQ(CapModelBySplitting(m, idx.data(), n, &count, tri.data()), 1);
    ASSERT_EQ(count, n - 2);
    int onDiagonal = 0;
    for (int t = 0; t < count && pts == &leaf; ++t) {
      const std::set<int> v(tri.begin() + 3 * t, tri.begin() + 3 * t + 3);
      onDiagonal += v.count(0) && v.count(arc);
      bool first = false, second = false;
      for (const int i : v) first |= i > 0 && i < arc, second |= i > arc;
      EXPECT_FALSE(first && second) << "triangle " << t << " spans both halves";
    }
    EXPECT_EQ(onDiagonal, pts == &leaf ? 2 : 0);
    FreeCloud(m);
  }
}

}  // namespace
