// Welding, merging and pieces: a soup of disjoint shapes welds to exactly its distinct points,
// splits into its shapes and merges back to the same counts; a merge that fails keeps its inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "mesh/pgr2cld.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class Welding : public KernelTest {};

using Pt = std::array<double, 3>;

// k shapes (tetrahedra and 3 x 3 grids alternately, moved apart, scaled by s), every triangle
// corner its own point; one extra triangle has two corners at the same place.
struct Soup {
  std::vector<Pt> pts;
  std::vector<TestTriangle> tris;
  int distinct = 0;
  int kept = 0;  // triangles that survive welding
};
Soup MakeSoup(int k, double s) {
  Soup soup;
  auto add = [&](const Pt& a, const Pt& b, const Pt& c) {
    const int n = int(soup.pts.size());
    soup.pts.insert(soup.pts.end(), {a, b, c});
    soup.tris.push_back({n, n + 1, n + 2});
  };
  for (int i = 0; i < k; ++i) {
    const double ox = 3.0 * i * s;
    auto P = [&](double x, double y, double z) { return Pt{ox + s * x, s * y, s * z}; };
    if (i % 2 == 0) {
      const Pt v[4] = {P(0, 0, 0), P(1, 0, 0), P(0, 1, 0), P(0, 0, 1)};
      add(v[0], v[2], v[1]), add(v[0], v[1], v[3]), add(v[1], v[2], v[3]), add(v[0], v[3], v[2]);
      soup.distinct += 4, soup.kept += 4;
    } else {
      for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
          add(P(a, b, 0), P(a + 1, b, 0), P(a + 1, b + 1, 0));
          add(P(a, b, 0), P(a + 1, b + 1, 0), P(a, b + 1, 0));
        }
      soup.distinct += 9, soup.kept += 8;
    }
  }
  // Collapses onto the first shape's edge: removed by welding, no new point.
  add(Pt{0, 0, 0}, Pt{s, 0, 0}, Pt{s, 0, 0});
  return soup;
}

std::set<std::array<float, 3>> PointSet(const Cloud* m) {
  std::set<std::array<float, 3>> out;
  for (int i = 0; i < m->npts; ++i) out.insert({m->x[i], m->y[i], m->z[i]});
  return out;
}

TEST_F(Welding, SoupWeldsSplitsAndMergesBackAtEveryScale) {
  for (double s : {1e-5, 1.0, 1e5}) {
    SCOPED_TRACE(s);
    const int k = 5;
    Soup soup = MakeSoup(k, s);
    Cloud* m = MakeTestMesh(soup.pts, soup.tris);
    const Cloud* before = MakeTestMesh(soup.pts, soup.tris);
    std::vector<int> newNo(m->npts);
    ASSERT_EQ(RemoveCldIdenticalPtsWIndices(m, newNo.data()), 1);
    EXPECT_EQ(m->npts, soup.distinct);
    EXPECT_EQ(m->ntri, soup.kept);
    EXPECT_EQ(int(PointSet(m).size()), m->npts);  // no two points equal
    for (int i = 0; i < before->npts; ++i) {
      EXPECT_EQ(m->x[newNo[i]], before->x[i]);
      EXPECT_EQ(m->z[newNo[i]], before->z[i]);
    }
    FreeCloud(const_cast<Cloud*>(before));
    // Welding again changes nothing.
    std::vector<std::array<int, 3>> tris;
    for (int t = 0; t < m->ntri; ++t) tris.push_back({m->tri[t].v[0], m->tri[t].v[1], m->tri[t].v[2]});
    ASSERT_EQ(RemoveCldIdenticalPts(m), 1);
    EXPECT_EQ(m->npts, soup.distinct);
    for (int t = 0; t < m->ntri; ++t)
      EXPECT_EQ(tris[t], (std::array<int, 3>{m->tri[t].v[0], m->tri[t].v[1], m->tri[t].v[2]}));

    std::vector<int> comp(m->ntri);
    ASSERT_EQ(IdentifySeparateObjects(m, comp.data()), k);
    for (int t = 0; t + 1 < m->ntri; ++t) EXPECT_LE(comp[t], comp[t + 1]);  // shapes in mesh order

    Cloud** pieces = nullptr;
    double* boxes = nullptr;
    int count = 0;
    ASSERT_EQ(BreakDistinctClouds(m, &pieces, &boxes, &count), 1);
    ASSERT_EQ(count, k);
    for (int p = 0; p < k; ++p) {
      EXPECT_EQ(pieces[p]->npts, p % 2 == 0 ? 4 : 9);
      EXPECT_EQ(pieces[p]->ntri, p % 2 == 0 ? 4 : 8);
      EXPECT_NEAR(boxes[6 * p], 3.0 * p * s, 1e-6 * s);
      EXPECT_EQ(IdentifySeparateObjects(pieces[p], nullptr), 1);
    }
    Free(boxes);
    Cloud* merged = AddPolyClds(pieces, count, 0);
    ASSERT_NE(merged, nullptr);
    for (int p = 0; p < k; ++p) EXPECT_EQ(pieces[p], nullptr);
    Free(pieces);
    EXPECT_EQ(merged->npts, m->npts);
    EXPECT_EQ(merged->ntri, m->ntri);
    EXPECT_EQ(PointSet(merged), PointSet(m));
    EXPECT_EQ(IdentifySeparateObjects(merged, nullptr), k);
    FreeCloud(merged);
    FreeCloud(m);
  }
}

// Shapes that touch at a vertex stay apart; shapes that share an edge's points join once merged.
TEST_F(Welding, PiecesJoinThroughEdgesOnly) {
  Cloud* bow = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}}, {{0, 1, 2}, {0, 3, 4}});
  EXPECT_EQ(IdentifySeparateObjects(bow, nullptr), 2);
  Cloud* a = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
  Cloud* b = MakeTestMesh({{1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 2, 1}});
  Cloud* in[2] = {a, b};
  Cloud* ab = AddPolyClds(in, 2, 1);
  ASSERT_NE(ab, nullptr);
  EXPECT_EQ(in[0], a);  // kept
  EXPECT_EQ(ab->npts, 4);
  EXPECT_EQ(IdentifySeparateObjects(ab, nullptr), 1);
  std::vector<int> side(ab->npts);
  FindSideOfPlane(ab, side.data(), 1, 0, 0, -1);  // x = 1: on the plane is the negative side
  for (int i = 0; i < ab->npts; ++i) EXPECT_EQ(side[i], -1);
  FindSideOfPlane(ab, side.data(), 1, 0, 0, -0.5);
  int positive = 0;
  for (int s : side) positive += s == 1;
  EXPECT_EQ(positive, 2);
  FreeCloud(ab);
  FreeCloud(a);
  FreeCloud(b);
  FreeCloud(bow);
}

// Against a brute-force labelling: triangles are joined by a shared edge (either orientation),
// and the pieces are numbered in order of their lowest edge (vertex pairs compared as (min,
// max)). Many small pieces in shuffled order, some only touching others at a vertex, some
// triangles repeated or with a repeated corner.
TEST_F(Welding, PiecesAreNumberedByTheirLowestEdge) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const int npts = 60 + int(rng() % 200);
    std::vector<Pt> pts;
    for (int i = 0; i < npts; ++i) pts.push_back({double(i), double(i * i % 17), 0});
    std::vector<TestTriangle> tris;
    for (int t = 0; t < npts / 2; ++t) {
      const int a = int(rng() % npts), b = int(rng() % npts), c = int(rng() % 4 == 0 ? a : rng() % npts);
      tris.push_back({a, b, c});
      if (rng() % 8 == 0) tris.push_back(tris[rng() % tris.size()]);
    }
    using Edge = std::pair<int, int>;
    auto edgeOf = [&](int t, int k) {
      const int a = tris[t][k], b = tris[t][(k + 1) % 3];
      return Edge{std::min(a, b), std::max(a, b)};
    };
    std::map<Edge, std::vector<int>> byEdge;
    for (int t = 0; t < int(tris.size()); ++t)
      for (int k = 0; k < 3; ++k) byEdge[edgeOf(t, k)].push_back(t);
    std::vector<int> want(tris.size(), -1);
    int pieces = 0;
    for (const auto& [edge, first] : byEdge) {  // edges in ascending order
      if (want[first[0]] >= 0) continue;
      std::vector<int> stack = {first[0]};
      want[first[0]] = pieces;
      while (!stack.empty()) {
        const int t = stack.back();
        stack.pop_back();
        for (int k = 0; k < 3; ++k)
          for (int u : byEdge[edgeOf(t, k)])
            if (want[u] < 0) want[u] = pieces, stack.push_back(u);
      }
      ++pieces;
    }
    Cloud* m = MakeTestMesh(pts, tris);
    std::vector<int> comp(m->ntri);
    EXPECT_EQ(IdentifySeparateObjects(m, comp.data()), pieces);
    EXPECT_EQ(comp, want);
    FreeCloud(m);
  }
}

// Refused allocations: a merge that fails gives null and keeps every input as it was; pieces
// and welding leave nothing behind.
TEST_F(Welding, FailuresKeepInputsAndLeakNothing) {
  int failedMerges = 0, merged = 0;
  for (long skip = 0; merged == 0 && skip < 400; ++skip) {
    Soup soup = MakeSoup(3, 1.0);
    Cloud* in[2] = {MakeTestMesh(soup.pts, soup.tris), MakeTestMesh(soup.pts, soup.tris)};
    const int n0 = in[0]->npts;
    ClearKernelError();
    MallocFailAfter(skip, -1);
    Cloud* out = AddPolyClds(in, 2, 0);
    Cloud** pieces = nullptr;
    double* boxes = nullptr;
    int count = 0;
    const int broke = out ? BreakDistinctClouds(out, &pieces, &boxes, &count) : 0;
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (!out) {
      ++failedMerges;
      ASSERT_NE(in[0], nullptr);
      ASSERT_NE(in[1], nullptr);
      EXPECT_EQ(in[0]->npts, n0);
      FreeCloud(in[0]);
      FreeCloud(in[1]);
    } else {
      EXPECT_EQ(in[0], nullptr);
      EXPECT_EQ(out->npts, soup.distinct);
      if (broke) {
        merged = 1;
        EXPECT_EQ(count, 3) << skip << " " << out->ntri << " " << out->npts;
      } else {
        EXPECT_EQ(pieces, nullptr);
      }
      for (int p = 0; p < count; ++p) FreeCloud(pieces[p]);
      Free(pieces);
      Free(boxes);
      FreeCloud(out);
    }
    ClearKernelError();
  }
  EXPECT_GT(failedMerges, 0);
  EXPECT_EQ(merged, 1);
}

// A mesh listed more than once is merged once per listing (its points weld, its triangles repeat)
// and freed once; a refused merge keeps it.
TEST_F(Welding, MeshListedTwiceIsFreedOnce) {
  Soup soup = MakeSoup(2, 1.0);
  soup.tris.pop_back();  // every triangle survives the weld
  const Cloud* b0 = MakeTestMesh({{9, 0, 0}, {10, 0, 0}, {9, 1, 0}}, {{0, 1, 2}});
  int failures = 0;
  for (long skip = 0; skip < 200; ++skip) {
    ClearKernelError();
    Cloud* a = MakeTestMesh(soup.pts, soup.tris);
    Cloud* b = MakeTestMesh({{9, 0, 0}, {10, 0, 0}, {9, 1, 0}}, {{0, 1, 2}});
    ASSERT_TRUE(a && b);
    Cloud* in[4] = {a, b, a, a};
    MallocFailAfter(skip, -1);
    Cloud* out = AddPolyClds(in, 4, 0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (!out) {
      ++failures;
      EXPECT_TRUE(in[0] == a && in[1] == b && in[2] == a && in[3] == a);
      EXPECT_EQ(a->ntri, int(soup.tris.size()));
      FreeCloud(a);
      FreeCloud(b);
      continue;
    }
    for (Cloud* m : in) EXPECT_EQ(m, nullptr);
    EXPECT_EQ(out->npts, soup.distinct + b0->npts);
    EXPECT_EQ(out->ntri, 3 * soup.kept + b0->ntri);
    FreeCloud(out);
    break;
  }
  EXPECT_GT(failures, 0);
  FreeCloud(const_cast<Cloud*>(b0));
  ClearKernelError();
}

// Rings of a vertex in a grid: its triangles and edges first, then whole rings of neighbours.
TEST_F(Welding, NeighbourhoodGrowsByRings) {
  Cloud* g = MakeGridMesh(7, 7, [](int, int) { return true; });
  const int centre = 3 + 7 * 3;
  int nv, ne, nt;
  int *v, *r, *es, *ee, *t;
  ASSERT_EQ(FindCloudPolySub(g, centre, 0, &nv, &v, &r, &ne, &es, &ee, &nt, &t), 1);
  EXPECT_EQ(nv, 1);
  EXPECT_EQ(ne, 6);
  EXPECT_EQ(nt, 6);
  for (int* p : {v, r, es, ee, t}) Free(p);
  ASSERT_EQ(FindCloudPolySub(g, centre, 2, &nv, &v, &r, &ne, &es, &ee, &nt, &t), 1);
  // Two edge steps reach the 19 vertices of the hexagonal rings, no more.
  EXPECT_EQ(nv, 19);
  std::map<int, int> perRing;
  for (int i = 0; i < nv; ++i) ++perRing[r[i]];
  EXPECT_EQ(perRing[1], 6);
  EXPECT_EQ(perRing[2], 12);
  std::set<std::pair<int, int>> edges;
  for (int i = 0; i < ne; ++i) EXPECT_TRUE(edges.insert({std::min(es[i], ee[i]), std::max(es[i], ee[i])}).second);
  for (int* p : {v, r, es, ee, t}) Free(p);
  FreeCloud(g);
}

// The neighbourhood by its documented steps with the edge list searched from the start, each
// vertex's triangles in the order of the per-point lists (last made first).
struct Neighbourhood {
  std::vector<int> v, r, es, ee, t;
};
Neighbourhood ReferenceNeighbourhood(const Cloud* m, int start, int rings) {
  std::vector<std::vector<int>> byPoint(m->npts);
  for (int t = m->ntri - 1; t >= 0; --t)
    for (int k = 2; k >= 0; --k) byPoint[m->tri[t].v[k]].push_back(t);
  Neighbourhood out;
  std::vector<bool> seenV(m->npts), seenT(m->ntri);
  auto take = [&](int v, int ring) {
    out.v.push_back(v), out.r.push_back(ring), seenV[v] = true;
    for (int t : byPoint[v]) {
      if (!seenT[t]) out.t.push_back(t), seenT[t] = true;
      for (int w : m->tri[t].v) {
        bool present = w == v;
        for (size_t i = 0; i < out.es.size() && !present; ++i)
          present = (out.es[i] == v && out.ee[i] == w) || (out.es[i] == w && out.ee[i] == v);
        if (!present) out.es.push_back(v), out.ee.push_back(w);
      }
    }
  };
  take(start, 0);
  for (int ring = 1, from = 0; ring <= rings; ++ring) {
    const int upTo = int(out.es.size()), before = int(out.v.size());
    for (int i = from; i < upTo; ++i)
      for (int end : {out.es[i], out.ee[i]})
        if (!seenV[end]) take(end, ring);
    from = upTo;
    if (int(out.v.size()) == before) break;
  }
  return out;
}

// A large holed grid with its triangles shuffled, one repeated and one with a repeated corner:
// every output list equals the reference's, entry for entry.
TEST_F(Welding, NeighbourhoodListsFollowTheDocumentedOrder) {
  const int n = 40;
  Cloud* grid = MakeGridMesh(n, n, [](int i, int j) { return (7 * i + 13 * j) % 11 != 0; });
  std::vector<std::array<double, 3>> pts;
  for (int i = 0; i < grid->npts; ++i) pts.push_back({grid->x[i], grid->y[i], grid->z[i]});
  std::vector<TestTriangle> tris;
  for (int t = 0; t < grid->ntri; ++t) tris.push_back({grid->tri[t].v[0], grid->tri[t].v[1], grid->tri[t].v[2]});
  FreeCloud(grid);
  std::mt19937 rng(3);
  std::shuffle(tris.begin(), tris.end(), rng);
  tris.push_back(tris[5]);
  tris.push_back({tris[9][0], tris[9][0], tris[9][1]});
  Cloud* m = MakeTestMesh(pts, tris);
  for (auto [start, rings] : {std::pair{n / 2 + n * (n / 2), 100}, {0, 3}, {n * n - 1, 0}, {tris[9][0], 5}}) {
    SCOPED_TRACE(start);
    const Neighbourhood ref = ReferenceNeighbourhood(m, start, rings);
    int nv, ne, nt;
    int *v, *r, *es, *ee, *t;
    ASSERT_EQ(FindCloudPolySub(m, start, rings, &nv, &v, &r, &ne, &es, &ee, &nt, &t), 1);
    EXPECT_EQ(std::vector<int>(v, v + nv), ref.v);
    EXPECT_EQ(std::vector<int>(r, r + nv), ref.r);
    EXPECT_EQ(std::vector<int>(es, es + ne), ref.es);
    EXPECT_EQ(std::vector<int>(ee, ee + ne), ref.ee);
    EXPECT_EQ(std::vector<int>(t, t + nt), ref.t);
    for (int* p : {v, r, es, ee, t}) Free(p);
  }
  FreeCloud(m);
}

// Each triangle as its points in vertex order, so meshes compare across renumbering.
std::multiset<std::array<std::array<float, 3>, 3>> TrianglePoints(const Cloud* m) {
  std::multiset<std::array<std::array<float, 3>, 3>> out;
  auto at = [m](int i) { return std::array<float, 3>{m->x[i], m->y[i], m->z[i]}; };
  for (int t = 0; t < m->ntri; ++t) out.insert({at(m->tri[t].v[0]), at(m->tri[t].v[1]), at(m->tri[t].v[2])});
  return out;
}

// A weld that runs out of memory fails, but its mesh keeps every triangle where it was.
TEST_F(Welding, RefusedMemoryNeverCostsAWeldItsTriangles) {
  const int failures = RunWithInjectedFailures(200, 1, [] {
    Soup soup = MakeSoup(3, 1.0);
    soup.tris.pop_back();  // the collapsing triangle: every triangle survives a weld
    Cloud* m = MakeTestMesh(soup.pts, soup.tris);
    if (!m) return 1;
    const auto before = TrianglePoints(m);
    const int ok = RemoveCldIdenticalPts(m);
    EXPECT_EQ(TrianglePoints(m), before);
    if (ok) {
      EXPECT_EQ(m->npts, soup.distinct);
    }
    FreeCloud(m);
    return ok ? 0 : 1;
  });
  EXPECT_TRUE(failures > 0 && failures < 200);
}

// Equality is exact: the last bit of a coordinate keeps points apart, and a NaN equals nothing
// (many of them among many points must not upset the sort).
TEST_F(Welding, OnlyExactlyEqualPointsWeld) {
  const float next = std::nextafter(1.0f, 2.0f);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<Pt> pts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {next, 0, 0}, {1, 0, 0}};
  std::vector<TestTriangle> tris = {{0, 1, 2}, {0, 2, 3}, {1, 3, 2}, {4, 5, 2}};
  for (int i = 0; i < 40; ++i) {
    pts.insert(pts.end(), {{i % 3 ? nan : i, nan, 1.0 * i}, {1, 2, 3}, {1, 2, nan}});
    tris.push_back({int(pts.size()) - 3, int(pts.size()) - 2, int(pts.size()) - 1});
  }
  Cloud* m = MakeTestMesh(pts, tris);
  std::vector<int> newNo(m->npts);
  ASSERT_EQ(RemoveCldIdenticalPtsWIndices(m, newNo.data()), 1);
  EXPECT_EQ(std::vector<int>(newNo.begin(), newNo.begin() + 9), (std::vector<int>{0, 1, 2, 1, 3, 1, 4, 5, 6}));
  EXPECT_EQ(m->npts, 6 - 2 + 2 * 40 + 1);  // 1, 3 and 5 are one point; (1, 2, 3) is one
  ASSERT_EQ(m->ntri, 3 + 40);              // triangle 2 lost a distinct corner
  EXPECT_EQ(m->x[3], next);
  FreeCloud(m);
}

// Against a brute-force numbering (each point takes the number of the first point equal to it,
// compared as numbers, so -0 and +0 weld): thousands of points drawn from a few hundred values
// with both signs of zero, welded triangles keeping their corners' places.
TEST_F(Welding, NumberingEqualsTheFirstEqualPoint) {
  std::mt19937 rng(3);
  std::vector<Pt> pts;
  for (int i = 0; i < 6000; ++i) {
    Pt p;
    for (double& c : p) {
      const int k = int(rng() % 7) - 3;
      c = k == 0 ? (rng() % 2 ? -0.0 : 0.0) : 0.25 * k;
    }
    pts.push_back(p);
  }
  std::vector<TestTriangle> tris;
  for (int t = 0; t + 2 < 6000; t += 3) tris.push_back({t, t + 1, t + 2});
  std::vector<int> want(pts.size()), first;
  int distinct = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    size_t j = 0;
    while (j < first.size() && pts[first[j]] != pts[i]) ++j;  // == on doubles: -0 equals 0
    if (j == first.size()) first.push_back(int(i));
    want[i] = int(j);
    distinct = int(first.size());
  }
  Cloud* m = MakeTestMesh(pts, tris);
  std::vector<int> newNo(m->npts);
  ASSERT_EQ(RemoveCldIdenticalPtsWIndices(m, newNo.data()), 1);
  EXPECT_EQ(m->npts, distinct);
  // Numbers follow the points' order, so the first equal point's new number is its rank.
  EXPECT_EQ(newNo, want);
  for (int i = 0; i < m->npts; ++i) {
    const Pt& p = pts[first[i]];
    EXPECT_TRUE(m->x[i] == p[0] && m->y[i] == p[1] && m->z[i] == p[2]) << i;
  }
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) EXPECT_LT(m->tri[t].v[k], m->npts);
  FreeCloud(m);
}

// Mostly distinct points, so that the groups outgrow the first table many times over; the copies
// (some with the other sign of zero) come from anywhere earlier. Each point takes the number of
// the first point equal to it, and the survivor keeps that point's bits, at every scale.
TEST_F(Welding, GroupsSurviveTheTableGrowing) {
  for (double s : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(s);
    std::mt19937 rng(11);
    std::vector<Pt> pts;
    for (int i = 0; i < 30000; ++i) {
      if (i > 0 && rng() % 3 == 0) {
        Pt p = pts[rng() % i];
        for (double& c : p)
          if (c == 0) c = -c;
        pts.push_back(p);
        continue;
      }
      Pt p;
      for (double& c : p) c = rng() % 5 == 0 ? (rng() % 2 ? -0.0 : 0.0) : float(s * (int(rng() % 4001) - 2000));
      pts.push_back(p);
    }
    std::vector<TestTriangle> tris;
    for (int t = 0; t + 2 < int(pts.size()); t += 3) tris.push_back({t, t + 1, t + 2});
    std::map<Pt, int> number;  // Pt's < on doubles: -0 and +0 are one key
    std::vector<int> want, first;
    for (size_t i = 0; i < pts.size(); ++i) {
      const auto [it, added] = number.emplace(pts[i], int(first.size()));
      if (added) first.push_back(int(i));
      want.push_back(it->second);
    }
    Cloud* m = MakeTestMesh(pts, tris);
    std::vector<int> newNo(m->npts);
    ASSERT_EQ(RemoveCldIdenticalPtsWIndices(m, newNo.data()), 1);
    ASSERT_EQ(m->npts, int(first.size()));
    EXPECT_EQ(newNo, want);
    for (int i = 0; i < m->npts; ++i) {
      const Pt& p = pts[first[i]];
      const float c[3] = {m->x[i], m->y[i], m->z[i]};
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(c[k], float(p[k])) << i;
        EXPECT_EQ(std::signbit(c[k]), std::signbit(p[k])) << i;
      }
    }
    FreeCloud(m);
  }
}

}  // namespace
