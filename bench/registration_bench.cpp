// Kd-tree build and nearest-point queries over a uniform cloud, and a whole two-cloud iterative
// closest point registration: the inner search and the end-to-end operation.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "registration/icp.h"
#include "registration/kdtree.h"

namespace {

struct Uniform {
  std::vector<float> x, y, z;
  explicit Uniform(int n, unsigned seed = 1) : x(n), y(n), z(n) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < n; ++i) x[i] = u(rng), y[i] = u(rng), z[i] = u(rng);
  }
};

void BM_KdTreeBuild100k(benchmark::State& state) {
  const Uniform p(100000);
  for (auto _ : state) {
    KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), 100000, 10);
    benchmark::DoNotOptimize(t);
    FreeKDTree(t);
  }
}
BENCHMARK(BM_KdTreeBuild100k)->Unit(benchmark::kMillisecond);

void BM_KdTreeQuery100k(benchmark::State& state) {
  const Uniform p(100000);
  KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), 100000, 10);
  const Uniform q(4096, 2);
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i++ & 4095;
    const double query[3] = {q.x[k], q.y[k], q.z[k]};
    int found;
    SearchKDTreeNearest(t, query, &found);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations());
  FreeKDTree(t);
}
BENCHMARK(BM_KdTreeQuery100k);

// A wavy 100 x 100 sheet sampled at random twice: the two clouds do not share points.
Cloud* WavySheet(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 100.0f);
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    x[i] = u(rng), y[i] = u(rng);
    z[i] = float(12.0 * std::sin(x[i] / 15.0) * std::cos(y[i] / 20.0) + 0.002 * x[i] * y[i]);
  }
  return MakeCld(x.data(), y.data(), z.data(), n, nullptr);
}

void BM_ICPtwoClouds10k(benchmark::State& state) {
  Cloud* target = WavySheet(10000, 3);
  Cloud* moving = WavySheet(10000, 4);
  // 5 degrees about a tilted axis and 2 units (2% of the size) off.
  const double h = 5.0 * 3.141592653589793 / 360.0, a[3] = {0.267, 0.535, 0.802};
  const RegVec off = {{std::cos(h), std::sin(h) * a[0], std::sin(h) * a[1], std::sin(h) * a[2]}, {1.2, -1.2, 1.0}};
  TransformPntSet(moving->x, moving->y, moving->z, moving->npts, &off, moving->x, moving->y, moving->z);
  RegParams params;
  SetDefaultRegParams(&params);
  params.tolerance = 1e-6;
  double error = 0, largest = 0;
  for (auto _ : state) {
    RegVec m = {{1, 0, 0, 0}, {0, 0, 0}};
    int brk = 0;
    ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk);
    benchmark::DoNotOptimize(m);
  }
  state.counters["rms"] = error;
  FreeCloud(target);
  FreeCloud(moving);
}
BENCHMARK(BM_ICPtwoClouds10k)->Unit(benchmark::kMillisecond);

}  // namespace
