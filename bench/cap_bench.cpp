// Capping every hole of a mesh: CapAllLoops beside CGAL's hole filling (Polygon Mesh Processing,
// triangulate_hole on each border cycle, its default settings) on the same meshes: a bumpy
// sphere of 50,000 triangles with 100 holes punched like the gaps of a scan, a box part of
// 20,000 triangles with 4 large holes, one of them over an edge, a grid sheet whose holes touch
// at vertices, and a box with one long hole wrapped round it (204, 500 and 2000 edges; time per
// 1000 of its edges as a counter). Each iteration caps a fresh copy with each (the copies are not timed), the
// order alternating; counters give both times per mesh, their ratio (ours / CGAL's: below 1 we
// are faster), the ratio with the building of CGAL's halfedge mesh from the same indexed
// triangles counted on its side (ratio_with_build), the soundness of our result (open edges,
// edges of three or more triangles, edges whose two triangles run them the same way) and a hash
// of our caps. Without CGAL (Debian libcgal-dev, which scripts/bench installs) only our times are
// taken.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "mesh/cldtrim.h"

#ifdef SEAMWELD_BENCH_CGAL
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/triangulate_hole.h>
#include <CGAL/Surface_mesh.h>
#endif

namespace {

using Tri = std::array<int, 3>;

struct TestMesh {
  std::vector<std::array<double, 3>> pts;
  std::vector<Tri> tris;
};

// Keeps the triangles keep() passes and the points they use, renumbered.
TestMesh Filtered(const TestMesh& in, const std::vector<char>& keepTri) {
  TestMesh out;
  std::vector<int> id(in.pts.size(), -1);
  for (size_t t = 0; t < in.tris.size(); ++t) {
    if (!keepTri[t]) continue;
    Tri r;
    for (int k = 0; k < 3; ++k) {
      int& v = id[in.tris[t][k]];
      if (v < 0) v = int(out.pts.size()), out.pts.push_back(in.pts[in.tris[t][k]]);
      r[k] = v;
    }
    out.tris.push_back(r);
  }
  return out;
}

// A sphere of radius 1 with bumps of 3%, nu x nv cells of two triangles, facing out, with holes
// punched round `holes` seed points (every triangle with a corner within 0.06 of a seed goes).
TestMesh BumpySphereWithHoles(int nu, int nv, int holes) {
  TestMesh m;
  m.pts.push_back({0, 0, -1});
  for (int j = 1; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double th = M_PI * j / nv, ph = 2 * M_PI * i / nu;
      const double r = 1 + 0.03 * std::sin(7 * ph) * std::sin(5 * th);
      m.pts.push_back({r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), -r * std::cos(th)});
    }
  m.pts.push_back({0, 0, 1});
  const int top = int(m.pts.size()) - 1;
  auto at = [nu](int j, int i) { return 1 + (j - 1) * nu + (i % nu); };
  for (int i = 0; i < nu; ++i) m.tris.push_back({0, at(1, i + 1), at(1, i)});
  for (int j = 1; j + 1 < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      m.tris.push_back({at(j, i), at(j, i + 1), at(j + 1, i + 1)});
      m.tris.push_back({at(j, i), at(j + 1, i + 1), at(j + 1, i)});
    }
  for (int i = 0; i < nu; ++i) m.tris.push_back({top, at(nv - 1, i), at(nv - 1, i + 1)});
  std::mt19937 rng(106);
  std::vector<std::array<double, 3>> seeds;
  while (int(seeds.size()) < holes) {
    const auto& p = m.pts[std::uniform_int_distribution<int>(1, top - 1)(rng)];
    bool apart = true;
    for (const auto& s : seeds) apart = apart && std::hypot(p[0] - s[0], p[1] - s[1], p[2] - s[2]) > 0.2;
    if (apart) seeds.push_back(p);
  }
  std::vector<char> keep(m.tris.size(), 1);
  for (size_t t = 0; t < m.tris.size(); ++t)
    for (int k = 0; k < 3 && keep[t]; ++k)
      for (const auto& s : seeds) {
        const auto& p = m.pts[m.tris[t][k]];
        if (std::hypot(p[0] - s[0], p[1] - s[1], p[2] - s[2]) < 0.06) keep[t] = 0;
      }
  return Filtered(m, keep);
}

// The surface of an n[0] x n[1] x n[2] box of unit cells, facing out; gone(face, i, j) drops a
// cell (faces 0..5: x = 0, x = n, y = 0, y = n, z = 0, z = n; cells along the next two axes).
template <class Gone>
TestMesh Box(const int n[3], Gone gone) {
  TestMesh m;
  std::map<std::array<int, 3>, int> ids;
  auto id = [&](const std::array<int, 3>& c) {
    auto [it, fresh] = ids.emplace(c, int(m.pts.size()));
    if (fresh) m.pts.push_back({double(c[0]), double(c[1]), double(c[2])});
    return it->second;
  };
  for (int face = 0; face < 6; ++face) {
    const int axis = face / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (int i = 0; i < n[u]; ++i)
      for (int j = 0; j < n[v]; ++j) {
        if (gone(face, i, j)) continue;
        auto c = [&](int a, int b) {
          std::array<int, 3> p;
          p[axis] = face % 2 ? n[axis] : 0, p[u] = a, p[v] = b;
          return id(p);
        };
        const int p00 = c(i, j), p10 = c(i + 1, j), p11 = c(i + 1, j + 1), p01 = c(i, j + 1);
        if (face % 2) m.tris.push_back({p00, p10, p11}), m.tris.push_back({p00, p11, p01});
        else m.tris.push_back({p00, p11, p10}), m.tris.push_back({p00, p01, p11});
      }
  }
  return m;
}

// A box part of 40 x 40 x 20 cells with four holes: three in faces, one over the edge of two.
TestMesh PartWithFourHoles() {
  const int n[3] = {40, 40, 20};
  return Box(n, [](int face, int i, int j) {
    if (face == 5)  // z = 20: x then y; the last one meets the hole on x = 40
      return (i >= 5 && i < 13 && j >= 5 && j < 11) || (i >= 20 && i < 26 && j >= 20 && j < 32) ||
             (i >= 36 && j >= 28 && j < 36);
    if (face == 2) return i >= 6 && i < 12 && j >= 30 && j < 38;  // y = 0: z then x
    if (face == 1) return i >= 28 && i < 36 && j >= 14;           // x = 40: y then z, up to the edge
    return false;
  });
}

// A 60 x 60 x 2 box whose top face has 2 x 2 blocks, 6 cells apart, with their two diagonal cells
// left out as holes meeting at the block's middle vertex: 200 holes, each vertex where two meet a
// pinch.
TestMesh SheetWithPinchedHoles() {
  const int n[3] = {60, 60, 2};
  return Box(n, [](int face, int i, int j) {
    if (face != 5 || i % 6 >= 2 || j % 6 >= 2 || i >= 58 || j >= 58) return false;
    return (i % 6) == (j % 6);
  });
}

// A (w + 4) x ny x nz box with a channel w = 2 cells wide cut round it, across the top, down
// both ends and 10 cells in along the bottom: one hole over four faces, edges long, that
// overlaps itself seen along any one direction (nz = 10; ny = edges / 2 - 42).
TestMesh ChannelRound(int edges) {
  const int n[3] = {6, edges / 2 - 42, 10}, e = 10;
  return Box(n, [&](int face, int i, int j) {
    if (face == 5) return i >= 2 && i < 4;                                   // z = 10: x then y
    if (face == 2 || face == 3) return j >= 2 && j < 4;                      // y = c: z then x
    if (face == 4) return i >= 2 && i < 4 && (j < e || j >= n[1] - e);       // z = 0: x then y
    return false;
  });
}

Cloud* ToCloud(const TestMesh& m) {
  std::vector<float> x, y, z;
  for (const auto& p : m.pts) x.push_back(float(p[0])), y.push_back(float(p[1])), z.push_back(float(p[2]));
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), int(m.pts.size()), nullptr);
  c->ntri = int(m.tris.size());
  c->tri = MallocArray<CloudTriangle>(c->ntri);
  for (int t = 0; t < c->ntri; ++t) {
    for (int k = 0; k < 3; ++k) c->tri[t].v[k] = m.tris[t][k];
    MakeCldPolyPlane(c, &c->tri[t]);
  }
  return c;
}

// Open edges, edges of three or more triangles, edges of two triangles running them alike.
std::array<int, 3> Soundness(const Cloud* m) {
  std::map<std::pair<int, int>, std::array<int, 2>> uses;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}][a < b ? 0 : 1];
    }
  std::array<int, 3> s = {0, 0, 0};
  for (const auto& [e, n] : uses) {
    s[0] += n[0] + n[1] == 1;
    s[1] += n[0] + n[1] > 2;
    s[2] += n[0] + n[1] == 2 && n[0] != 1;
  }
  return s;
}

// A 32-bit hash (FNV-1a) of the triangles capping added after the first `before`, in their order:
// a change to the capping that should keep its answer shows here.
double CapsHash(const Cloud* m, int before) {
  uint32_t h = 2166136261u;
  for (int t = before; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const uint32_t v = static_cast<uint32_t>(m->tri[t].v[k]);
      for (int byte = 0; byte < 4; ++byte) h = (h ^ ((v >> (8 * byte)) & 0xff)) * 16777619u;
    }
  return double(h);
}

#ifdef SEAMWELD_BENCH_CGAL
using CgalKernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using CgalMesh = CGAL::Surface_mesh<CgalKernel::Point_3>;

CgalMesh ToCgal(const TestMesh& m) {
  CgalMesh s;
  std::vector<CgalMesh::Vertex_index> v;
  for (const auto& p : m.pts) v.push_back(s.add_vertex(CgalKernel::Point_3(p[0], p[1], p[2])));
  for (const auto& t : m.tris) s.add_face(v[t[0]], v[t[1]], v[t[2]]);
  return s;
}

// Fills every hole as a user of the library would: one border halfedge per cycle, then
// triangulate_hole on each. Returns the holes filled.
int CgalFillAll(CgalMesh& s) {
  std::vector<CgalMesh::Halfedge_index> borders;
  auto visited = s.add_property_map<CgalMesh::Halfedge_index, bool>("h:seen", false).first;
  for (auto h : s.halfedges()) {
    if (!s.is_border(h) || visited[h]) continue;
    borders.push_back(h);
    for (auto g = h;;) {
      visited[g] = true;
      g = s.next(g);
      if (g == h) break;
    }
  }
  int filled = 0;
  std::vector<CgalMesh::Face_index> faces;
  for (auto h : borders) {
    faces.clear();
    CGAL::Polygon_mesh_processing::triangulate_hole(s, h, std::back_inserter(faces));
    filled += !faces.empty();
  }
  s.remove_property_map(visited);
  return filled;
}
#endif

void CapBench(benchmark::State& state, const TestMesh& mesh, int loopEdges = 0) {
  using Clock = std::chrono::steady_clock;
  Cloud* source = ToCloud(mesh);
  double tOurs = 0, tRef = 0;
  long long iterations = 0;
  std::array<int, 3> sound = {0, 0, 0};
  double hash = 0;
  bool reported = false;
#ifdef SEAMWELD_BENCH_CGAL
  int cgalOpen = 0;
  double tBuild = 0;
#endif
  for (auto _ : state) {
    auto ours = [&] {
      Cloud* m = CopyCloud(source);
      ClearKernelError();
      const auto start = Clock::now();
      CapAllLoops(m);
      const double t = std::chrono::duration<double>(Clock::now() - start).count();
      reported = KernelFailed();
      ClearKernelError();
      if (iterations == 0) sound = Soundness(m), hash = CapsHash(m, source->ntri);
      FreeCloud(m);
      return t;
    };
    double a = 0, b = 0;
#ifdef SEAMWELD_BENCH_CGAL
    auto theirs = [&] {
      const auto built = Clock::now();
      CgalMesh s = ToCgal(mesh);
      const auto start = Clock::now();
      CgalFillAll(s);
      const double t = std::chrono::duration<double>(Clock::now() - start).count();
      tBuild += std::chrono::duration<double>(start - built).count();
      if (iterations == 0) {
        cgalOpen = 0;
        for (auto h : s.halfedges()) cgalOpen += s.is_border(h);
      }
      return t;
    };
    if (iterations & 1) b = theirs(), a = ours();
    else a = ours(), b = theirs();
#else
    a = ours();
#endif
    tOurs += a, tRef += b;
    ++iterations;
    state.SetIterationTime(a);
  }
  state.counters["ours_ms"] = 1e3 * tOurs / double(iterations);
  state.counters["open_ours"] = sound[0];
  state.counters["overused_ours"] = sound[1];
  state.counters["disagree_ours"] = sound[2];
  state.counters["reported"] = reported;
  state.counters["caps_hash"] = hash;
  if (loopEdges > 0) state.counters["ms_per_1000_edges"] = 1e6 * tOurs / double(iterations) / loopEdges;
#ifdef SEAMWELD_BENCH_CGAL
  state.counters["ref_ms"] = 1e3 * tRef / double(iterations);
  state.counters["ratio"] = tRef > 0 ? tOurs / tRef : 0.0;
  // Our capping starts from indexed triangles and finds the topology itself; CGAL's needs its
  // halfedge mesh built from them first.
  state.counters["ratio_with_build"] = tOurs / (tRef + tBuild);
  state.counters["open_ref"] = cgalOpen;
#endif
  FreeCloud(source);
}

void BM_CapScanLikeSphere100Holes(benchmark::State& state) { CapBench(state, BumpySphereWithHoles(180, 140, 100)); }
void BM_CapPartFourHoles(benchmark::State& state) { CapBench(state, PartWithFourHoles()); }
void BM_CapSheetPinchedHoles(benchmark::State& state) { CapBench(state, SheetWithPinchedHoles()); }

// One long hole over four faces of a box, its length in edges the argument.
void BM_CapLongChannel(benchmark::State& state) {
  const int edges = int(state.range(0));
  CapBench(state, ChannelRound(edges), edges);
}

BENCHMARK(BM_CapLongChannel)->Arg(204)->Arg(500)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapScanLikeSphere100Holes)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapPartFourHoles)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapSheetPinchedHoles)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
