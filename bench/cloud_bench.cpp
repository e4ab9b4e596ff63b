// Binning a cloud for neighbourhood searches and smoothing a gridded height field: the set-up
// step of every neighbourhood operation on clouds and the heaviest filter; normals of a scanned
// height field; outlier removal and the deviation of a cloud from a mesh; chaining a traced line.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pgauss.h"
#include "cloud/pnterr.h"
#include "cloud/poffset.h"
#include "cloud/psample.h"
#include "cloud/psort.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "platform/tstubs_control.h"
#include "quadric/premove.h"

namespace {

void BM_SubdivideArrays100k(benchmark::State& state) {
  const int n = 100000;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> U(0.0f, 1.0f);
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) x[i] = 10 * U(rng), y[i] = 6 * U(rng), z[i] = 4 * U(rng);
  // len is 1/50 of the box (its diagonal), the usual cap of 96 divisions.
  const double len = std::sqrt(10.0 * 10 + 6 * 6 + 4 * 4) / 50;
  for (auto _ : state) {
    Subdiv* g = SubdivideArrays(x.data(), y.data(), z.data(), n, 0, 0, 0, 10, 6, 4, len, 96);
    benchmark::DoNotOptimize(g);
    FreeSubdiv(g);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SubdivideArrays100k)->Unit(benchmark::kMillisecond);

void BM_GaussFilterGrid1000x1000(benchmark::State& state) {
  const int nc = 1000, nr = 1000;
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> U(0.0f, 1.0f);
  std::vector<float> heights(nc * nr);
  for (float& h : heights) h = U(rng);
  std::vector<float> work(heights);
  std::vector<float*> rows(nr);
  for (int r = 0; r < nr; ++r) rows[r] = work.data() + static_cast<size_t>(r) * nc;
  for (auto _ : state) {
    state.PauseTiming();
    work = heights;
    state.ResumeTiming();
    apply_gauss_filter(rows.data(), nc, nr, 5);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * nc * nr);
}
BENCHMARK(BM_GaussFilterGrid1000x1000)->Unit(benchmark::kMillisecond);

// A jittered 300 x 300 height field (a gentle wave), as a scanner delivers it.
// A scanned height field: m x m jittered points, waving gently.
void WavyScan(int m, std::vector<float>& x, std::vector<float>& y, std::vector<float>& z) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> J(-0.2f, 0.2f);
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) {
      const float px = c + J(rng), py = r + J(rng);
      x.push_back(px), y.push_back(py), z.push_back(5.0f * std::sin(px / 40.0f) * std::cos(py / 50.0f));
    }
}

// Normals of a scanned m x m height field, with a digest of the normals' bits.
void RunCloud3DNormals(benchmark::State& state, int m) {
  std::vector<float> x, y, z;
  WavyScan(m, x, y, z);
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), m * m, nullptr);
  std::vector<float> nx(m * m), ny(m * m), nz(m * m);
  const Xform id = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (auto _ : state) benchmark::DoNotOptimize(ComputeCloud3DNormals(cloud, nx.data(), ny.data(), nz.data(), id));
  FreeCloud(cloud);
  // A digest of the normals' bits (FNV-1a), so that a faster search is seen to give the same ones.
  uint64_t digest = 1469598103934665603ull;
  for (const std::vector<float>* a : {&nx, &ny, &nz})
    for (float v : *a) {
      uint32_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      for (int b = 0; b < 4; ++b) digest = (digest ^ ((bits >> (8 * b)) & 0xffu)) * 1099511628211ull;
    }
  char label[32];
  std::snprintf(label, sizeof label, "normals %016llx", static_cast<unsigned long long>(digest));
  state.SetLabel(label);
  state.SetItemsProcessed(state.iterations() * m * m);
}
void BM_Cloud3DNormals300x300(benchmark::State& state) { RunCloud3DNormals(state, 300); }
BENCHMARK(BM_Cloud3DNormals300x300)->Unit(benchmark::kMillisecond);

// The same scan over 25,000, 100,000 and 200,000 points (158, 316 and 447 a side): the time per
// point stays about the same when the cost grows about as n log n.
void BM_Cloud3DNormals25k(benchmark::State& state) { RunCloud3DNormals(state, 158); }
BENCHMARK(BM_Cloud3DNormals25k)->Unit(benchmark::kMillisecond);
void BM_Cloud3DNormals100k(benchmark::State& state) { RunCloud3DNormals(state, 316); }
BENCHMARK(BM_Cloud3DNormals100k)->Unit(benchmark::kMillisecond);
void BM_Cloud3DNormals200k(benchmark::State& state) { RunCloud3DNormals(state, 447); }
BENCHMARK(BM_Cloud3DNormals200k)->Unit(benchmark::kMillisecond);

// The cloud's own normals completed (AssureCloudNormals) on the same scan, none given: plane fits
// over the nearest neighbours, oriented by agreement. Per point about the same at every size when
// the cost grows about as n log n.
void RunAssureNormals(benchmark::State& state, int m) {
  std::vector<float> x, y, z;
  WavyScan(m, x, y, z);
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), m * m, nullptr);
  for (auto _ : state) {
    state.PauseTiming();
    FreeCloudNormals(cloud);
    state.ResumeTiming();
    benchmark::DoNotOptimize(AssureCloudNormals(cloud));
  }
  FreeCloud(cloud);
  state.SetItemsProcessed(state.iterations() * m * m);
}
void BM_AssureCloudNormals25k(benchmark::State& state) { RunAssureNormals(state, 158); }
BENCHMARK(BM_AssureCloudNormals25k)->Unit(benchmark::kMillisecond);
void BM_AssureCloudNormals100k(benchmark::State& state) { RunAssureNormals(state, 316); }
BENCHMARK(BM_AssureCloudNormals100k)->Unit(benchmark::kMillisecond);
void BM_AssureCloudNormals200k(benchmark::State& state) { RunAssureNormals(state, 447); }
BENCHMARK(BM_AssureCloudNormals200k)->Unit(benchmark::kMillisecond);

// The same scan read with ten garbage records near 1e38 among its points: a grid over the extent
// holds the whole scan in one cell, and the searches go through the balanced tree instead.
void BM_Cloud3DNormals300x300WithFarRecords(benchmark::State& state) {
  const int m = 300;
  std::vector<float> x, y, z;
  WavyScan(m, x, y, z);
  for (int k = 0; k < 10; ++k) x[k * 8999] = (k % 2 ? 1.0f : -1.0f) * 1e38f, y[k * 8999] = 3e37f * k;
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), m * m, nullptr);
  std::vector<float> nx(m * m), ny(m * m), nz(m * m);
  for (auto _ : state) benchmark::DoNotOptimize(ComputeCloud3DNormals(cloud, nx.data(), ny.data(), nz.data(), nullptr));
  FreeCloud(cloud);
  state.SetItemsProcessed(state.iterations() * m * m);
}
BENCHMARK(BM_Cloud3DNormals300x300WithFarRecords)->Unit(benchmark::kMillisecond);

// A cloud of n random points with normals and colours.
Cloud* RandomCloud(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> U(0.0f, 1.0f);
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) x[i] = 10 * U(rng), y[i] = 10 * U(rng), z[i] = U(rng);
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
  float** arrays[] = {&c->nx, &c->ny, &c->nz, &c->colour[0], &c->colour[1], &c->colour[2]};
  for (float** a : arrays) {
    *a = static_cast<float*>(Malloc(static_cast<unsigned>(n * sizeof(float))));
    for (int i = 0; i < n; ++i) (*a)[i] = U(rng);
  }
  return c;
}

void BM_KeepMaskInPlace1M(benchmark::State& state) {
  const int n = 1000000;
  std::vector<char> keep(n);
  for (int i = 0; i < n; ++i) keep[i] = i % 2 == 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* c = RandomCloud(n, 4);
    state.ResumeTiming();
    benchmark::DoNotOptimize(SampleCloudBasedOnArray(c, keep.data()));
    state.PauseTiming();
    FreeCloud(c);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_KeepMaskInPlace1M)->Unit(benchmark::kMillisecond);

void BM_SampleSpheres200k(benchmark::State& state) {
  const int n = 200000;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* c = RandomCloud(n, 5);
    state.ResumeTiming();
    // About one neighbour per sphere in the 10 x 10 x 1 box.
    benchmark::DoNotOptimize(sample_spheres_cloud(c, 0.02));
    state.PauseTiming();
    FreeCloud(c);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SampleSpheres200k)->Unit(benchmark::kMillisecond);

// A wavy surface sampled on a jittered m x m grid of spacing 1, heights noisy by +-0.01.
Cloud* NoisySurface(int m, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> J(-0.2f, 0.2f), N(-0.01f, 0.01f);
  std::vector<float> x, y, z;
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < m; ++c) {
      const float px = c + J(rng), py = r + J(rng);
      x.push_back(px), y.push_back(py), z.push_back(5.0f * std::sin(px / 40.0f) * std::cos(py / 50.0f) + N(rng));
    }
  return MakeCld(x.data(), y.data(), z.data(), m * m, nullptr);
}

// OutlierRemove on a noisy m x m surface cloud (spacing 1), the cloud made again each round.
void RunOutlierRemove(benchmark::State& state, int m, double radius, double tol, int useSphere) {
  StubSetMessageSink([](StubMessageKind, const char*, void*) {}, nullptr);  // the status line
  int kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* c = NoisySurface(m, 12);
    state.ResumeTiming();
    benchmark::DoNotOptimize(OutlierRemove(c, radius, tol, useSphere));
    state.PauseTiming();
    kept = c->npts;
    FreeCloud(c);
    state.ResumeTiming();
  }
  StubSetMessageSink(nullptr, nullptr);
  state.counters["kept"] = kept;
  state.SetItemsProcessed(state.iterations() * m * m);
}

// 100,000 points (316 x 316), neighbourhoods of radius 2 (about 12 neighbours), plane fits.
void BM_OutlierRemovePlane100k(benchmark::State& state) { RunOutlierRemove(state, 316, 2.0, 0.1, 0); }
BENCHMARK(BM_OutlierRemovePlane100k)->Unit(benchmark::kMillisecond);

// Sphere fits over 100,000 points (316 x 316) within 3 (about 28 neighbours each): the cost per
// point stays that of its neighbourhood as the cloud grows.
void BM_OutlierRemoveSphere100k(benchmark::State& state) { RunOutlierRemove(state, 316, 3.0, 0.1, 1); }
BENCHMARK(BM_OutlierRemoveSphere100k)->Unit(benchmark::kMillisecond);

// The same neighbourhoods over 25,000 points (158 x 158): a quarter of the time above when the
// cost grows about as n log n.
void BM_OutlierRemoveSphere25k(benchmark::State& state) { RunOutlierRemove(state, 158, 3.0, 0.1, 1); }
BENCHMARK(BM_OutlierRemoveSphere25k)->Unit(benchmark::kMillisecond);

// Sphere fits in a crowd: 10,000 points (100 x 100) searched within 15, hundreds of neighbours
// each.
void BM_OutlierRemoveSphereCrowded10k(benchmark::State& state) { RunOutlierRemove(state, 100, 15.0, 0.5, 1); }
BENCHMARK(BM_OutlierRemoveSphereCrowded10k)->Unit(benchmark::kMillisecond);

// 100,000 points within 0.5 of a 20,000-triangle mesh of the same surface (101 x 101 vertices
// at spacing 3.16), searched within 1.
void BM_PolycldToCldDiff100kOn20kTriangles(benchmark::State& state) {
  const int v = 101;
  const double h = 316.0 / (v - 1);
  std::vector<float> mx, my, mz;
  for (int r = 0; r < v; ++r)
    for (int c = 0; c < v; ++c) {
      const double px = c * h, py = r * h;
      mx.push_back(float(px)), my.push_back(float(py)), mz.push_back(float(5 * std::sin(px / 40) * std::cos(py / 50)));
    }
  Cloud* mesh = MakeCld(mx.data(), my.data(), mz.data(), v * v, nullptr);
  mesh->ntri = 2 * (v - 1) * (v - 1);
  mesh->tri = static_cast<CloudTriangle*>(Malloc(static_cast<unsigned>(mesh->ntri * sizeof(CloudTriangle))));
  for (int r = 0, t = 0; r + 1 < v; ++r)
    for (int c = 0; c + 1 < v; ++c) {
      const int a = r * v + c;
      mesh->tri[t] = CloudTriangle{{a, a + 1, a + v + 1}, {}};
      MakeCldPolyPlane(mesh, &mesh->tri[t++]);
      mesh->tri[t] = CloudTriangle{{a, a + v + 1, a + v}, {}};
      MakeCldPolyPlane(mesh, &mesh->tri[t++]);
    }
  Cloud* cloud = NoisySurface(316, 13);
  std::mt19937 rng(14);
  std::uniform_real_distribution<float> U(-0.5f, 0.5f);
  for (int i = 0; i < cloud->npts; ++i) cloud->z[i] += U(rng);
  for (auto _ : state) benchmark::DoNotOptimize(PolycldToCldDiff(mesh, cloud, 1.0, nullptr, nullptr, nullptr));
  int matched = 0;
  for (int i = 0; i < cloud->npts; ++i) matched += cloud->farrays.arrays[0][i] != kNoMatchDeviation;
  state.counters["matched"] = matched;
  FreeCloud(cloud);
  FreeCloud(mesh);
  state.SetItemsProcessed(state.iterations() * 316 * 316);
}
BENCHMARK(BM_PolycldToCldDiff100kOn20kTriangles)->Unit(benchmark::kMillisecond);

// 20,000 points along a space curve in shuffled order, as a digitiser hands over a traced line.
void BM_SortByNearestNbor20k(benchmark::State& state) {
  const int n = 20000;
  std::vector<int> ids(n);
  for (int i = 0; i < n; ++i) ids[i] = i;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(10));
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double t = ids[i] * 0.005;
    x[i] = float(t), y[i] = float(std::sin(2 * t)), z[i] = float(0.05 * t * t);
  }
  StubSetMessageSink([](StubMessageKind, const char*, void*) {}, nullptr);  // the status line
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
    state.ResumeTiming();
    benchmark::DoNotOptimize(SortByNearestNbor(c));
    state.PauseTiming();
    FreeCloud(c);
    state.ResumeTiming();
  }
  StubSetMessageSink(nullptr, nullptr);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SortByNearestNbor20k)->Unit(benchmark::kMillisecond);

// A point file read in the wrong layout over half its records: a 150 x 150 surface scan with a
// record of random bits (finite, magnitudes spread over 1e-38..3e38; thousands of them tiny, a
// heap at the origin) after each point. Each round makes the cloud again and runs one tool:
// 0 sphere outlier removal (radius 2), 1 SortByNearestNbor, 2 CloudConnectivityBreak (2).
void BM_GarbageFile45k(benchmark::State& state) {
  const int m = 150;
  Cloud* scan = NoisySurface(m, 13);
  std::mt19937 rng(14);
  auto bits = [&rng] {
    for (;;) {
      const uint32_t b = rng();
      float f;
      std::memcpy(&f, &b, sizeof f);
      if (std::isfinite(f)) return f;
    }
  };
  std::vector<float> x, y, z;
  for (int i = 0; i < scan->npts; ++i) {
    x.push_back(scan->x[i]), y.push_back(scan->y[i]), z.push_back(scan->z[i]);
    x.push_back(bits()), y.push_back(bits()), z.push_back(bits());
  }
  FreeCloud(scan);
  const int n = int(x.size());
  StubSetMessageSink([](StubMessageKind, const char*, void*) {}, nullptr);  // the status line
  for (auto _ : state) {
    state.PauseTiming();
    Cloud* c = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
    state.ResumeTiming();
    if (state.range(0) == 0) benchmark::DoNotOptimize(OutlierRemove(c, 2.0, 0.1, 1));
    if (state.range(0) == 1) benchmark::DoNotOptimize(SortByNearestNbor(c));
    if (state.range(0) == 2) {
      Cloud** parts = nullptr;
      int count = 0;
      benchmark::DoNotOptimize(CloudConnectivityBreak(c, 2.0, &parts, &count));
      state.PauseTiming();
      for (int k = 0; k < count; ++k) FreeCloud(parts[k]);
      Free(parts);
      state.ResumeTiming();
    }
    state.PauseTiming();
    FreeCloud(c);
    state.ResumeTiming();
  }
  StubSetMessageSink(nullptr, nullptr);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GarbageFile45k)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
