// Triangle meshes for the mesh tests: a cloud holding the given points and triangles as they
// are (no vertex dropped or renumbered, planes set), grid meshes with cells left out, and a
// mesh's unique edges and boundary loops.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "mesh/cldpoly.h"

using TestTriangle = std::array<int, 3>;

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
