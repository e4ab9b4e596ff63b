// Mesh topology: the unique edges and the boundary loops of a large grid mesh with holes, the
// first step of every capping, joining and repair operation; triangulating a long non-convex loop
// (the step every hole cap ends in); closing the cracks of an open mesh; decimating a 100,000-
// triangle height field to a tolerance and to a triangle count; offsetting a smooth closed mesh
// in place; decimation's distance to the original beside CGAL's edge collapse on a scan-like and a
// CAD-like mesh.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <random>
#include <unordered_map>
#include <vector>

#include "bench/compare.h"
#include "cloud/makecld.h"
#include "cloud/pnterr.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "mesh/cldpoly.h"
#include "mesh/pgr2cld.h"
#include "mesh/poffset.h"
#include "mesh/putil.h"
#include "mesh/rpmclose.h"
#include "mesh/trianum.h"

namespace {

// A planar grid of ncol x nrow cells, two triangles per cell, with 100 square holes of 2 x 2
// cells spread over it on a 10 x 10 pattern.
Cloud* GridWithHoles(int ncol, int nrow) {
  const int nx = ncol + 1, ny = nrow + 1;
  std::vector<float> x(nx * ny), y(nx * ny), z(nx * ny, 0.0f);
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) x[i + nx * j] = float(i), y[i + nx * j] = float(j);
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), nx * ny, nullptr);
  std::vector<CloudTriangle> tris;
  for (int j = 0; j < nrow; ++j)
    for (int i = 0; i < ncol; ++i) {
      const int hi = i * 10 / ncol, hj = j * 10 / nrow;  // the hole's place in the pattern
      const int ci = hi * ncol / 10 + ncol / 20, cj = hj * nrow / 10 + nrow / 20;
      if ((i == ci || i == ci + 1) && (j == cj || j == cj + 1)) continue;
      const int a = i + nx * j;
      tris.push_back({{a, a + 1, a + nx + 1}, {}});
      tris.push_back({{a, a + nx + 1, a + nx}, {}});
    }
  c->ntri = int(tris.size());
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  for (int t = 0; t < c->ntri; ++t) c->tri[t] = tris[t];
  return c;
}

void BM_EdgesAndLoops200kTriangles(benchmark::State& state) {
  Cloud* mesh = GridWithHoles(318, 316);
  int nloops = 0;
  for (auto _ : state) {
    int32_t* edges;
    int32_t** corners;
    int nedges;
    IndexNode** heads;
    int* sizes;
    IndexNode* nodes;
    CreatePolyEdges(mesh, &edges, &corners, &nedges);
    benchmark::DoNotOptimize(MakeOuterEdgeList(mesh, edges, corners, nedges, &heads, &nloops, &sizes, &nodes));
    Free(edges);
    Free(corners);
    Free(heads);
    Free(sizes);
    Free(nodes);
  }
  state.counters["triangles"] = mesh->ntri;
  state.counters["loops"] = nloops;
  FreeCloud(mesh);
}
BENCHMARK(BM_EdgesAndLoops200kTriangles)->Unit(benchmark::kMillisecond);

// A star of 1,000 spikes (2,000 vertices): every ear is thin and long loops are split often.
void BM_BreakPolyToTriangleStar2000(benchmark::State& state) {
  const int n = 2000;
  std::vector<int> idx(n), tri(3 * n);
  std::vector<double> x(n), y(n);
  for (int i = 0; i < n; ++i) {
    const double t = 2 * M_PI * i / n + 0.1, r = i % 2 ? 0.45 : 1.0;
    idx[i] = i, x[i] = r * std::cos(t), y[i] = r * std::sin(t);
  }
  for (auto _ : state) {
    int count = 0;
    benchmark::DoNotOptimize(BreakPolyToTriangle(n, idx.data(), x.data(), y.data(), &count, tri.data()));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_BreakPolyToTriangleStar2000)->Unit(benchmark::kMillisecond);

// Four strips of n x 2 cells in two pairs, each pair facing across a crack 0.1 wide: in the
// first pair the facing vertices meet (they weld), in the second they are half a cell apart
// (each splits an edge across the crack). Open edges: 4 (2 n + 4).
Cloud* CrackedStrips(int n) {
  std::vector<float> x, y, z;
  std::vector<CloudTriangle> tris;
  for (int strip = 0; strip < 4; ++strip) {
    const int base = int(x.size());
    const float x0 = strip == 3 ? 0.5f : 0.0f, y0 = float(strip / 2) * 10 + (strip % 2) * 2.1f;
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i <= n; ++i) x.push_back(x0 + float(i)), y.push_back(y0 + float(j)), z.push_back(0);
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < n; ++i) {
        const int a = base + j * (n + 1) + i, c = a + n + 1;
        tris.push_back({{a, a + 1, c + 1}, {}});
        tris.push_back({{a, c + 1, c}, {}});
      }
  }
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  c->ntri = int(tris.size());
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  for (int t = 0; t < c->ntri; ++t) {
    c->tri[t] = tris[t];
    MakeCldPolyPlane(c, &c->tri[t]);
  }
  return c;
}

void BM_JoinCldPolys10kOpenEdges(benchmark::State& state) {
  Cloud* base = CrackedStrips(1248);
  const int n = base->ntri;
  std::vector<float> x(base->x, base->x + base->npts), y(base->y, base->y + base->npts);
  std::vector<CloudTriangle> tris(base->tri, base->tri + n);
  int splits = 0, after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(x.begin(), x.end(), base->x);
    std::copy(y.begin(), y.end(), base->y);
    Free(base->tri);
    base->tri = MallocArray<CloudTriangle>(n);
    base->ntri = n;
    std::copy(tris.begin(), tris.end(), base->tri);
    state.ResumeTiming();
    benchmark::DoNotOptimize(JoinCldPolys(base, 0.25, 0, &splits, nullptr, -1));
    after = base->ntri;
  }
  PolyEdgeCounts counts;
  JustVerifyClosedPolyCloud(base, &counts);
  state.counters["open_before"] = 4 * (2 * 1248 + 4);
  state.counters["open_after"] = counts.uses[1];
  state.counters["splits"] = splits;
  state.counters["triangles"] = after;
  FreeCloud(base);
}
BENCHMARK(BM_JoinCldPolys10kOpenEdges)->Unit(benchmark::kMillisecond);

// A height field of n x n cells (2 n^2 triangles) over [0, n]^2 with smooth hills a tenth of
// the size high.
Cloud* HeightField(int n) {
  const int nv = n + 1;
  std::vector<float> x(nv * nv), y(nv * nv), z(nv * nv);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nv; ++i) {
      const int k = i + nv * j;
      x[k] = float(i), y[k] = float(j);
      z[k] = float(0.05 * n * std::sin(6.0 * i / n) * std::cos(5.0 * j / n));
    }
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), nv * nv, nullptr);
  c->ntri = 2 * n * n;
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  int t = 0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int a = i + nv * j;
      c->tri[t++] = {{a, a + 1, a + nv + 1}, {}};
      c->tri[t++] = {{a, a + nv + 1, a + nv}, {}};
    }
  for (int k = 0; k < c->ntri; ++k) MakeCldPolyPlane(c, &c->tri[k]);
  return c;
}

constexpr int kFieldCells = 224;  // 100,352 triangles

void BM_ReduceCloudPolygons100kTriangles(benchmark::State& state) {
  int left = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* mesh = HeightField(kFieldCells);
    state.ResumeTiming();
    benchmark::DoNotOptimize(ReduceCloudPolygons(mesh, 0.001 * kFieldCells, 10, nullptr));
    state.PauseTiming();
    left = mesh->ntri;
    FreeCloud(mesh);
    state.ResumeTiming();
  }
  state.counters["left"] = left;
}
BENCHMARK(BM_ReduceCloudPolygons100kTriangles)->Unit(benchmark::kMillisecond);

void BM_ReducePolygonsByCount100kTo10k(benchmark::State& state) {
  int left = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* mesh = HeightField(kFieldCells);
    const double box[6] = {0, 0, -0.05 * kFieldCells, kFieldCells, kFieldCells, 0.05 * kFieldCells};
    double maxError = 0;
    state.ResumeTiming();
    benchmark::DoNotOptimize(ReducePolygonsByCount(mesh, 10000, 1, 1, 1, box, &maxError));
    state.PauseTiming();
    left = mesh->ntri;
    FreeCloud(mesh);
    state.ResumeTiming();
  }
  state.counters["left"] = left;
}
BENCHMARK(BM_ReducePolygonsByCount100kTo10k)->Unit(benchmark::kMillisecond);

// Decimation by count side by side with CGAL's edge collapse (its default cost and placement) on
// the same height field, both to the triangle count CGAL reaches at 10% of the edges, with the
// error of each result: the largest vertical distance between the result and the field (from
// every field vertex to the result, and from every result vertex to the field), which bounds
// the Hausdorff distance from above. Only the simplifications are timed.
#if __has_include(<CGAL/Surface_mesh.h>)
}  // namespace

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Simple_cartesian.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/Surface_mesh_simplification/Policies/Edge_collapse/Count_stop_predicate.h>
#include <CGAL/Surface_mesh_simplification/edge_collapse.h>

namespace {

using CgalKernel = CGAL::Simple_cartesian<double>;
using CgalMesh = CGAL::Surface_mesh<CgalKernel::Point_3>;

CgalMesh ToCgal(const Cloud* c) {
  CgalMesh m;
  std::vector<CgalMesh::Vertex_index> v(c->npts);
  for (int i = 0; i < c->npts; ++i) v[i] = m.add_vertex(CgalKernel::Point_3(c->x[i], c->y[i], c->z[i]));
  for (int t = 0; t < c->ntri; ++t) m.add_face(v[c->tri[t].v[0]], v[c->tri[t].v[1]], v[c->tri[t].v[2]]);
  return m;
}

struct Flat {
  std::vector<double> x, y, z;
  std::vector<std::array<int, 3>> tri;
};

// Vertical distance from (x, y, z) to the triangulated surface (viewed from above), through a
// grid of buckets of unit cells; -1 outside every triangle.
struct Heights {
  const Flat& f;
  int n;
  std::vector<std::vector<int>> bucket;
  Heights(const Flat& flat, int cells) : f(flat), n(cells), bucket(size_t(cells) * cells) {
    for (int t = 0; t < int(f.tri.size()); ++t) {
      double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
      for (int k : f.tri[t]) {
        lo[0] = std::min(lo[0], f.x[k]), hi[0] = std::max(hi[0], f.x[k]);
        lo[1] = std::min(lo[1], f.y[k]), hi[1] = std::max(hi[1], f.y[k]);
      }
      for (int j = std::max(0, int(lo[1])); j <= std::min(n - 1, int(hi[1])); ++j)
        for (int i = std::max(0, int(lo[0])); i <= std::min(n - 1, int(hi[0])); ++i)
          bucket[size_t(j) * n + i].push_back(t);
    }
  }
  double Gap(double x, double y, double z) const {
    const int i = std::clamp(int(x), 0, n - 1), j = std::clamp(int(y), 0, n - 1);
    for (int t : bucket[size_t(j) * n + i]) {
      const auto& v = f.tri[t];
      const double ax = f.x[v[0]], ay = f.y[v[0]], bx = f.x[v[1]], by = f.y[v[1]], cx = f.x[v[2]], cy = f.y[v[2]];
      const double d = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
      if (d == 0) continue;
      const double u = ((x - ax) * (cy - ay) - (cx - ax) * (y - ay)) / d;
      const double w = ((bx - ax) * (y - ay) - (x - ax) * (by - ay)) / d;
      if (u < -1e-9 || w < -1e-9 || u + w > 1 + 1e-9) continue;
      return std::fabs(z - ((1 - u - w) * f.z[v[0]] + u * f.z[v[1]] + w * f.z[v[2]]));
    }
    return -1;
  }
};

// The larger of the two one-sided vertical distances between the field and the result.
double FieldError(const Flat& field, const Flat& result, int cells) {
  const Heights onField(field, cells), onResult(result, cells);
  double worst = 0;
  for (size_t i = 0; i < field.x.size(); ++i) worst = std::max(worst, onResult.Gap(field.x[i], field.y[i], field.z[i]));
  std::vector<char> used(result.x.size(), 0);
  for (const auto& t : result.tri)
    for (int k : t) used[k] = 1;
  for (size_t i = 0; i < result.x.size(); ++i)
    if (used[i]) worst = std::max(worst, onField.Gap(result.x[i], result.y[i], result.z[i]));
  return worst;
}

Flat FromCloud(const Cloud* c) {
  Flat f{{c->x, c->x + c->npts}, {c->y, c->y + c->npts}, {c->z, c->z + c->npts}, {}};
  for (int t = 0; t < c->ntri; ++t) f.tri.push_back({c->tri[t].v[0], c->tri[t].v[1], c->tri[t].v[2]});
  return f;
}

Flat FromCgal(const CgalMesh& m) {
  Flat f;
  std::vector<int> number(m.number_of_vertices() + m.number_of_removed_vertices(), -1);
  for (auto v : m.vertices()) {
    number[v.idx()] = int(f.x.size());
    const auto& p = m.point(v);
    f.x.push_back(p.x()), f.y.push_back(p.y()), f.z.push_back(p.z());
  }
  for (auto fc : m.faces()) {
    std::array<int, 3> t;
    int k = 0;
    for (auto v : CGAL::vertices_around_face(m.halfedge(fc), m)) t[k++] = number[v.idx()];
    f.tri.push_back(t);
  }
  return f;
}

// One timing loop for decimation by count beside CGAL's edge collapse, at the triangle count CGAL
// reaches at a tenth of the edges: both times, both counts, our reported error, and the two
// results' distances from `original` as `measure` gives them, taken on the first run.
struct DecimationPair {
  double ours = 0, ref = 0, oursError = 0, refError = 0, reported = 0;
  int runs = 0, oursLeft = 0, refLeft = 0;
};
template <class Make, class Measure>
DecimationPair TimeDecimationPair(benchmark::State& state, const Cloud* source, Make make, const double box[6],
                                  Measure measure) {
  using Clock = std::chrono::steady_clock;
  DecimationPair r;
  for (auto _ : state) {
    CgalMesh m = ToCgal(source);
    const int edges = int(m.number_of_edges());
    auto t0 = Clock::now();
    CGAL::Surface_mesh_simplification::Count_stop_predicate<CgalMesh> stop(edges / 10);
    CGAL::Surface_mesh_simplification::edge_collapse(m, stop);
    auto t1 = Clock::now();
    r.refLeft = int(m.number_of_faces());
    Cloud* mesh = make();
    auto t2 = Clock::now();
    ReducePolygonsByCount(mesh, r.refLeft, 1, 1, 1, box, &r.reported);
    auto t3 = Clock::now();
    r.oursLeft = mesh->ntri;
    const double a = std::chrono::duration<double>(t3 - t2).count(), b = std::chrono::duration<double>(t1 - t0).count();
    r.ours += a, r.ref += b, ++r.runs;
    state.SetIterationTime(a);
    if (r.runs == 1) {
      r.oursError = measure(FromCloud(mesh));
      r.refError = measure(FromCgal(m));
    }
    FreeCloud(mesh);
  }
  state.counters["triangles"] = r.oursLeft;
  state.counters["ref_triangles"] = r.refLeft;
  bench::ReportTimes(state, r.ours, r.ref, r.runs);
  state.counters["error_ratio"] = r.refError > 0 ? r.oursError / r.refError : 0.0;
  return r;
}

void BM_DecimateByCountVsEdgeCollapse100k(benchmark::State& state) {
  Cloud* field = HeightField(kFieldCells);
  const Flat original = FromCloud(field);
  const double box[6] = {0, 0, -0.05 * kFieldCells, kFieldCells, kFieldCells, 0.05 * kFieldCells};
  const DecimationPair r = TimeDecimationPair(
      state, field, [] { return HeightField(kFieldCells); }, box,
      [&](const Flat& result) { return FieldError(original, result, kFieldCells); });
  FreeCloud(field);
  state.counters["error"] = r.oursError;
  state.counters["ref_error"] = r.refError;
}
BENCHMARK(BM_DecimateByCountVsEdgeCollapse100k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The distance between a result and its original, both ways (every point and triangle centroid
// of each against the other's nearest triangle, through CGAL's AABB tree).
struct SurfaceDistance {
  using Triangle = CgalKernel::Triangle_3;
  using Primitive = CGAL::AABB_triangle_primitive<CgalKernel, std::vector<Triangle>::const_iterator>;
  using Tree = CGAL::AABB_tree<CGAL::AABB_traits<CgalKernel, Primitive>>;
  static std::vector<Triangle> Triangles(const Flat& f) {
    std::vector<Triangle> t;
    auto at = [&](int k) { return CgalKernel::Point_3(f.x[k], f.y[k], f.z[k]); };
    for (const auto& v : f.tri) t.emplace_back(at(v[0]), at(v[1]), at(v[2]));
    return t;
  }
  static double OneWay(const std::vector<Triangle>& from, const Tree& to) {
    double worst = 0;
    for (const auto& t : from) {
      const CgalKernel::Point_3 c = CGAL::centroid(t);
      worst = std::max(worst, to.squared_distance(c));
      for (int k = 0; k < 3; ++k) worst = std::max(worst, to.squared_distance(t.vertex(k)));
    }
    return std::sqrt(worst);
  }
  static double Between(const Flat& a, const Flat& b) {
    const auto ta = Triangles(a), tb = Triangles(b);
    Tree treeA(ta.begin(), ta.end()), treeB(tb.begin(), tb.end());
    treeA.accelerate_distance_queries();
    treeB.accelerate_distance_queries();
    return std::max(OneWay(ta, treeB), OneWay(tb, treeA));
  }
};

// A mesh of the points and the triangles (three indices each), with their planes.
Cloud* MeshOf(std::vector<float>& x, std::vector<float>& y, std::vector<float>& z, const std::vector<int>& tri) {
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  c->ntri = int(tri.size() / 3);
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  for (int t = 0; t < c->ntri; ++t) {
    c->tri[t] = {{tri[3 * t], tri[3 * t + 1], tri[3 * t + 2]}, {}};
    MakeCldPolyPlane(c, &c->tri[t]);
  }
  return c;
}

// A closed scan-like surface: a lumpy sphere of radius 1 (bumps of 10%, nu x nv cells) whose
// points carry noise of 0.2% of the radius, as a scanner leaves it.
Cloud* ScanLike(int nu, int nv) {
  std::vector<float> x, y, z;
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 0.002);
  auto add = [&](double th, double ph) {
    const double r = 1 + 0.1 * std::sin(5 * ph) * std::sin(4 * th) + 0.05 * std::cos(9 * th) + noise(rng);
    x.push_back(float(r * std::sin(th) * std::cos(ph))), y.push_back(float(r * std::sin(th) * std::sin(ph)));
    z.push_back(float(r * std::cos(th)));
  };
  add(0, 0);
  for (int j = 1; j < nv; ++j)
    for (int i = 0; i < nu; ++i) add(M_PI * j / nv, 2 * M_PI * i / nu);
  add(M_PI, 0);
  const int bottom = int(x.size()) - 1;
  auto at = [nu](int j, int i) { return 1 + (j - 1) * nu + (i % nu); };
  std::vector<int> tri;
  auto face = [&](int a, int b, int c) { tri.insert(tri.end(), {a, b, c}); };
  for (int i = 0; i < nu; ++i) face(0, at(1, i), at(1, i + 1));
  for (int j = 1; j + 1 < nv; ++j)
    for (int i = 0; i < nu; ++i) face(at(j, i), at(j + 1, i), at(j + 1, i + 1)), face(at(j, i), at(j + 1, i + 1), at(j, i + 1));
  for (int i = 0; i < nu; ++i) face(bottom, at(nv - 1, i + 1), at(nv - 1, i));
  return MeshOf(x, y, z, tri);
}

// A CAD-tessellated-like part: a cylinder of radius 1 and length 4, `segments` round and
// `rows` rows of long thin triangles along it, each end a fan from its centre.
Cloud* CadLike(int segments, int rows) {
  std::vector<float> x, y, z;
  for (int j = 0; j <= rows; ++j)
    for (int i = 0; i < segments; ++i) {
      const double a = 2 * M_PI * i / segments;
      x.push_back(float(std::cos(a))), y.push_back(float(std::sin(a))), z.push_back(float(4.0 * j / rows));
    }
  const int low = int(x.size());
  x.push_back(0), y.push_back(0), z.push_back(0);
  x.push_back(0), y.push_back(0), z.push_back(4);
  auto at = [segments](int j, int i) { return j * segments + (i % segments); };
  std::vector<int> tri;
  auto face = [&](int a, int b, int c) { tri.insert(tri.end(), {a, b, c}); };
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < segments; ++i) face(at(j, i), at(j, i + 1), at(j + 1, i + 1)), face(at(j, i), at(j + 1, i + 1), at(j + 1, i));
  for (int i = 0; i < segments; ++i) face(low, at(0, i + 1), at(0, i)), face(low + 1, at(rows, i), at(rows, i + 1));
  return MeshOf(x, y, z, tri);
}

// Decimation by count beside CGAL's edge collapse at the same triangle count (the one CGAL reaches
// at a tenth of the edges), on a scan-like and a CAD-like mesh: each result's distance from the
// original measured the same way (SurfaceDistance), in parts of the box diagonal, our reported
// error beside it, and the times of the two simplifications.
void DecimateVsEdgeCollapse(benchmark::State& state, Cloud* (*make)()) {
  Cloud* source = make();
  const Flat original = FromCloud(source);
  double box[6] = {1e300, 1e300, 1e300, -1e300, -1e300, -1e300};
  for (int i = 0; i < source->npts; ++i) {
    const double p[3] = {source->x[i], source->y[i], source->z[i]};
    for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
  }
  const double diagonal = std::sqrt((box[3] - box[0]) * (box[3] - box[0]) + (box[4] - box[1]) * (box[4] - box[1]) +
                                    (box[5] - box[2]) * (box[5] - box[2]));
  const DecimationPair r = TimeDecimationPair(state, source, make, box, [&](const Flat& result) {
    return SurfaceDistance::Between(original, result);
  });
  FreeCloud(source);
  state.counters["error"] = r.oursError / diagonal;
  state.counters["reported"] = r.reported / diagonal;
  state.counters["ref_error"] = r.refError / diagonal;
}
void BM_DecimateScanLikeVsEdgeCollapse(benchmark::State& state) {
  DecimateVsEdgeCollapse(state, [] { return ScanLike(250, 125); });
}
BENCHMARK(BM_DecimateScanLikeVsEdgeCollapse)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
void BM_DecimateCadLikeVsEdgeCollapse(benchmark::State& state) {
  DecimateVsEdgeCollapse(state, [] { return CadLike(400, 30); });
}
BENCHMARK(BM_DecimateCadLikeVsEdgeCollapse)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
#endif


// A torus (radii 3 and 1) of nu x nv cells, two triangles per cell, wrapping round both ways:
// smooth and closed.
Cloud* Torus(int nu, int nv) {
  std::vector<float> x, y, z;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double u = 2 * M_PI * i / nu, v = 2 * M_PI * j / nv;
      x.push_back(float((3 + std::cos(v)) * std::cos(u)));
      y.push_back(float((3 + std::cos(v)) * std::sin(u)));
      z.push_back(float(std::sin(v)));
    }
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), nu * nv, nullptr);
  c->ntri = 2 * nu * nv;
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  int t = 0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const int a = i + nu * j, b = (i + 1) % nu + nu * j, d = i + nu * ((j + 1) % nv), e = (i + 1) % nu + nu * ((j + 1) % nv);
      c->tri[t++] = {{a, b, e}, {}};
      c->tri[t++] = {{a, e, d}, {}};
    }
  for (int k = 0; k < c->ntri; ++k) MakeCldPolyPlane(c, &c->tri[k]);
  return c;
}

void BM_CreateOffsetPolyCloudTorus50kTriangles(benchmark::State& state) {
  const double box[6] = {-4, -4, -1, 4, 4, 1};
  int triangles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* torus = Torus(250, 100);
    state.ResumeTiming();
    benchmark::DoNotOptimize(CreateOffsetPolyCloud(torus, 0.1, 1e-6, 0, box, 0, 0));
    state.PauseTiming();
    triangles = torus->ntri;
    FreeCloud(torus);
    state.ResumeTiming();
  }
  state.counters["triangles_after"] = triangles;
}
BENCHMARK(BM_CreateOffsetPolyCloudTorus50kTriangles)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// A soup of 2 x 388 x 388 (301,088) triangles over a wavy grid, every corner its own point.
Cloud* GridSoup() {
  const int n = 388;
  std::vector<float> x, y, z;
  std::vector<CloudTriangle> tris;
  auto h = [](int i, int j) { return float(0.1 * std::sin(0.05 * i) * std::cos(0.07 * j)); };
  auto put = [&](int i, int j) {
    x.push_back(float(i)), y.push_back(float(j)), z.push_back(h(i, j));
    return int(x.size()) - 1;
  };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int a = put(i, j), b = put(i + 1, j), c = put(i + 1, j + 1);
      tris.push_back({{a, b, c}, {}});
      const int d = put(i, j), e = put(i + 1, j + 1), f = put(i, j + 1);
      tris.push_back({{d, e, f}, {}});
    }
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  c->ntri = int(tris.size());
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  for (int t = 0; t < c->ntri; ++t) c->tri[t] = tris[t];
  return c;
}

// The plain reference weld: an exact hash map from coordinates to the first point holding them,
// the triangles renumbered, those that lost a corner dropped, the points compacted. (The kernel's
// weld also recomputes the vertex normals of the welded mesh.)
struct Soup {
  std::vector<float> x, y, z;
  std::vector<CloudTriangle> tris;
};
struct CoordKey {
  float x, y, z;
  bool operator==(const CoordKey& o) const { return x == o.x && y == o.y && z == o.z; }
};
struct CoordHash {
  size_t operator()(const CoordKey& k) const {
    const std::hash<float> h;
    return h(k.x + 0.0f) ^ (h(k.y + 0.0f) * 0x9E3779B97F4A7C15ULL) ^ (h(k.z + 0.0f) * 0xC2B2AE3D27D4EB4FULL);
  }
};
void HashWeld(Soup& s) {
  const int n = int(s.x.size());
  std::unordered_map<CoordKey, int, CoordHash> first;
  first.reserve(n);
  std::vector<int> number(n);
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    const auto [it, added] = first.emplace(CoordKey{s.x[i], s.y[i], s.z[i]}, kept);
    number[i] = it->second;
    if (added) s.x[kept] = s.x[i], s.y[kept] = s.y[i], s.z[kept] = s.z[i], ++kept;
  }
  s.x.resize(kept), s.y.resize(kept), s.z.resize(kept);
  size_t live = 0;
  for (CloudTriangle& t : s.tris) {
    for (int32_t& v : t.v) v = number[v];
    if (t.v[0] != t.v[1] && t.v[1] != t.v[2] && t.v[0] != t.v[2]) s.tris[live++] = t;
  }
  s.tris.resize(live);
}

void BM_WeldSoup300kTriangles(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  double ours = 0, ref = 0;
  int runs = 0, points = 0, refPoints = 0;
  for (auto _ : state) {
    Cloud* soup = GridSoup();
    Soup plain{{soup->x, soup->x + soup->npts}, {soup->y, soup->y + soup->npts}, {soup->z, soup->z + soup->npts},
               {soup->tri, soup->tri + soup->ntri}};
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(RemoveCldIdenticalPts(soup));
    auto t1 = Clock::now();
    HashWeld(plain);
    auto t2 = Clock::now();
    const double a = std::chrono::duration<double>(t1 - t0).count(), b = std::chrono::duration<double>(t2 - t1).count();
    ours += a, ref += b, ++runs;
    state.SetIterationTime(a);
    points = soup->npts, refPoints = int(plain.x.size());
    FreeCloud(soup);
  }
  state.counters["points"] = points;
  state.counters["ref_points"] = refPoints;
  bench::ReportTimes(state, ours, ref, runs);
}
BENCHMARK(BM_WeldSoup300kTriangles)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PiecesOfWelded300kTriangles(benchmark::State& state) {
  Cloud* mesh = GridSoup();
  RemoveCldIdenticalPts(mesh);
  int pieces = 0;
  for (auto _ : state) benchmark::DoNotOptimize(pieces = IdentifySeparateObjects(mesh, nullptr));
  state.counters["pieces"] = pieces;
  FreeCloud(mesh);
}
BENCHMARK(BM_PiecesOfWelded300kTriangles)->Unit(benchmark::kMillisecond);


// The three mesh tools on a 150 x 150 height field with `far` vertices (spread over it) moved near
// 3e38, as a corrupted file gives them: the sound triangles are unchanged, a few dozen reach
// across the float range. Argument 0 is the sound field, for comparison.
Cloud* FieldWithFarVertices(int far) {
  Cloud* c = HeightField(150);
  for (int k = 0; k < far; ++k) {
    const int v = 151 * (7 + 13 * k) + 11 + 12 * k;
    c->z[v] = k % 2 ? 3e38f : -3e38f;
    c->x[v] = k % 3 ? 2.9e38f : float(v % 151);
  }
  for (int t = 0; t < c->ntri; ++t) MakeCldPolyPlane(c, &c->tri[t]);
  return c;
}

void BM_ReducePolygonsByCountFarVertices(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* mesh = FieldWithFarVertices(int(state.range(0)));
    const double box[6] = {0, 0, -10, 150, 150, 10};
    double maxError = 0;
    state.ResumeTiming();
    benchmark::DoNotOptimize(ReducePolygonsByCount(mesh, 5000, 1, 1, 1, box, &maxError));
    state.PauseTiming();
    FreeCloud(mesh);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ReducePolygonsByCountFarVertices)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);

// The offset works in place: the result is the mesh, or null.
void BM_CreateOffsetPolyCloudFarVertices(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* mesh = FieldWithFarVertices(int(state.range(0)));
    state.ResumeTiming();
    Cloud* off = CreateOffsetPolyCloud(mesh, 0.5, 1e-6, 0, nullptr, 0, 1);
    state.PauseTiming();
    state.counters["triangles"] = off ? off->ntri : -1;
    ClearKernelError();
    FreeCloud(mesh);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CreateOffsetPolyCloudFarVertices)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_PolycldToCldDiffFarVertices(benchmark::State& state) {
  Cloud* mesh = FieldWithFarVertices(int(state.range(0)));
  Cloud* cloud = HeightField(150);
  for (int i = 0; i < cloud->npts; ++i) cloud->z[i] += 0.25f;
  for (auto _ : state) benchmark::DoNotOptimize(PolycldToCldDiff(mesh, cloud, 1.0, nullptr, nullptr, nullptr));
  FreeCloud(cloud);
  FreeCloud(mesh);
}
BENCHMARK(BM_PolycldToCldDiffFarVertices)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
