// Triangle meshes for the mesh tests: a cloud holding the given points and triangles as they
// are (no vertex dropped or renumbered, planes set), grid meshes with cells left out, directed
// edge uses, and a mesh's unique edges and boundary loops.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "mesh/cldpoly.h"

using TestTriangle = std::array<int, 3>;

// A mesh's triangles as corner triples, for distances measured by brute force.
struct MeshSurface {
  using P3 = std::array<double, 3>;
  std::vector<std::array<P3, 3>> tris;
  explicit MeshSurface(const Cloud* m) {
    for (int t = 0; t < m->ntri; ++t) {
      std::array<P3, 3> c;
      for (int k = 0; k < 3; ++k) {
        const int v = m->tri[t].v[k];
        c[k] = {m->x[v], m->y[v], m->z[v]};
      }
      tris.push_back(c);
    }
  }
  double Distance(const P3& p) const {
    double best = HUGE_VAL;
    for (const auto& t : tris) {
      double foot[3], d2, s, w;
      TriangPntMinDistSq(p.data(), t[0].data(), t[1].data(), t[2].data(), foot, &d2, &s, &w);
      best = std::min(best, d2);
    }
    return std::sqrt(best);
  }
  // The largest distance of this surface's corners, edge midpoints and centroids from other.
  double LargestFrom(const MeshSurface& other) const {
    double worst = 0;
    for (const auto& t : tris)
      for (int k = 0; k < 3; ++k) {
        const P3& a = t[k];
        const P3& b = t[(k + 1) % 3];
        const P3& c = t[(k + 2) % 3];
        worst = std::max({worst, other.Distance(a), other.Distance({(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2})});
        if (k == 0) worst = std::max(worst, other.Distance({(a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3, (a[2] + b[2] + c[2]) / 3}));
      }
    return worst;
  }
  // The two-way distance between two meshes, as sampled.
  static double Between(const Cloud* a, const Cloud* b) {
    const MeshSurface sa(a), sb(b);
    return std::max(sa.LargestFrom(sb), sb.LargestFrom(sa));
  }
};

// Points as (x, y, z) triples. Null when memory ran out.
inline Cloud* MakeTestMesh(const std::vector<std::array<double, 3>>& pts, const std::vector<TestTriangle>& tris) {
  std::vector<float> x, y, z;
  for (const auto& p : pts) {
    x.push_back(float(p[0]));
    y.push_back(float(p[1]));
    z.push_back(float(p[2]));
  }
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(pts.size()), nullptr);
  if (!c || tris.empty()) return c;
  c->tri = MallocArray<CloudTriangle>(tris.size());
  if (!c->tri) {
    FreeCloud(c);
    return nullptr;
  }
  c->ntri = int(tris.size());
  for (int t = 0; t < c->ntri; ++t) {
    for (int k = 0; k < 3; ++k) c->tri[t].v[k] = tris[t][k];
    MakeCldPolyPlane(c, &c->tri[t]);
  }
  return c;
}

// A planar grid of nx x ny vertices (vertex i + nx j at (i, j, 0) times scale), two
// counter-clockwise triangles per kept cell (cell i, j spans vertices i..i+1, j..j+1).
inline Cloud* MakeGridMesh(int nx, int ny, const std::function<bool(int, int)>& keepCell, double scale = 1.0) {
  std::vector<std::array<double, 3>> pts;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) pts.push_back({scale * i, scale * j, 0.0});
  std::vector<TestTriangle> tris;
  for (int j = 0; j + 1 < ny; ++j)
    for (int i = 0; i + 1 < nx; ++i) {
      if (!keepCell(i, j)) continue;
      const int a = i + nx * j;
      tris.push_back({a, a + 1, a + nx + 1});
      tris.push_back({a, a + nx + 1, a + nx});
    }
  return MakeTestMesh(pts, tris);
}

// Sum of the signed areas in the x-y plane: the area a planar mesh covers while its boundary
// stays and no triangle turns over.
inline double SignedAreaXY(const Cloud* m) {
  double sum = 0;
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    const double ax = m->x[v[1]] - m->x[v[0]], ay = m->y[v[1]] - m->y[v[0]];
    const double bx = m->x[v[2]] - m->x[v[0]], by = m->y[v[2]] - m->y[v[0]];
    sum += 0.5 * (ax * by - ay * bx);
  }
  return sum;
}

// Directed edge uses: a closed, consistently oriented mesh runs every edge once each way.
struct EdgeUses {
  std::map<std::pair<int, int>, int> directed;
  int open = 0, reversedPairs = 0, repeated = 0;
  int once = 0;  // edges of one triangle, whichever way it runs them
  explicit EdgeUses(const Cloud* m) {
    std::map<std::pair<int, int>, int> uses;
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k) {
        const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
        ++uses[{std::min(a, b), std::max(a, b)}];
      }
    for (const auto& [e, n] : uses) once += n == 1;
    for (int t = 0; t < m->ntri; ++t)
      for (int k = 0; k < 3; ++k) ++directed[{m->tri[t].v[k], m->tri[t].v[(k + 1) % 3]}];
    for (const auto& [e, n] : directed) {
      const auto back = directed.find({e.second, e.first});
      if (n > 1) ++repeated;
      if (back == directed.end()) ++open;
      else if (n == 1 && back->second == 1) ++reversedPairs;
    }
  }
};

// The unique edges and boundary loops of a mesh, freed with the record.
struct MeshEdgesAndLoops {
  int32_t* edges = nullptr;
  int32_t** corners = nullptr;
  int nedges = 0;
  IndexNode** loops = nullptr;
  int nloops = 0;
  int* sizes = nullptr;
  IndexNode* loopNodes = nullptr;
  int total = 0;
  ~MeshEdgesAndLoops() {
    for (void* p : {(void*)edges, (void*)corners, (void*)loops, (void*)sizes, (void*)loopNodes})
      if (p) Free(p);
  }
  // 0 done, 1 when an allocation failed.
  int Build(const Cloud* m) {
    if (!CreatePolyEdges(m, &edges, &corners, &nedges)) return 1;
    total = MakeOuterEdgeList(m, edges, corners, nedges, &loops, &nloops, &sizes, &loopNodes);
    return KernelFailed() ? 1 : 0;
  }
};

// Refuses every allocation of op(mesh) after the first skip ones, for growing skip, each time on
// a fresh mesh from make(); op must leave no scope open and nothing tracked. Returns how many
// runs op reported as failed (failed(result)).
template <class Make, class Op, class Failed>
int RefuseInTurn(int maxSkip, Make make, Op op, Failed failed) {
  int failures = 0;
  for (int skip = 0; skip < maxSkip; ++skip) {
    ClearKernelError();
    Cloud* m = make();
    EXPECT_NE(m, nullptr);
    if (!m) return failures;
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = op(m);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    if (failed(r)) {
      ++failures;
      EXPECT_TRUE(KernelFailed()) << skip;
    }
    FreeCloud(m);
  }
  ClearKernelError();
  return failures;
}
