// Evaluation speed of a bicubic non-rational surface with 12 x 10 control points: point by
// point at 10^6 scattered parameters, and on a 1000 x 1000 grid, positions and first
// derivatives. Items are evaluated points (per-point rates in items_per_second).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/shapes.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/makemat.h"

namespace {

constexpr int kScattered = 1000000;
constexpr int kGrid = 1000;

struct Fixture {
  Fixture() : s(bench::Bicubic(false)), u(kScattered), v(kScattered), g(kGrid) {
    bench::RandomParams(12345, u, v);
    for (int i = 0; i < kGrid; ++i) g[i] = static_cast<double>(i) / (kGrid - 1);
  }
  ~Fixture() { FreeBspline(s); }
  Bspline* s;
  std::vector<double> u, v, g;
};

Fixture& F() {
  static Fixture f;
  return f;
}

void ScatteredPoints(benchmark::State& state, int du, int dv) {
  Fixture& f = F();
  double acc = 0.0;
  for (auto _ : state) {
    for (int i = 0; i < kScattered; ++i) {
      double p[3];
      Eval3DPointOnSurfCoord(f.s, f.u[i], f.v[i], du, dv, p);
      acc += p[0] + p[1] + p[2];
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetItemsProcessed(state.iterations() * kScattered);
}

void BM_ScatteredPoints(benchmark::State& state) { ScatteredPoints(state, 0, 0); }
void BM_ScatteredDerivU(benchmark::State& state) { ScatteredPoints(state, 1, 0); }
void BM_ScatteredDerivV(benchmark::State& state) { ScatteredPoints(state, 0, 1); }

void BM_GridPoints(benchmark::State& state) {
  Fixture& f = F();
  std::vector<double> x(kGrid * kGrid), y(kGrid * kGrid), z(kGrid * kGrid);
  for (auto _ : state) {
    Eval3DGridOnBsplArray(f.s, f.g.data(), kGrid, f.g.data(), kGrid, x.data(), y.data(), z.data());
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * kGrid * kGrid);
}

// First derivatives on the grid through full-size derivative nets, one direction per call.
void BM_GridDerivNets(benchmark::State& state) {
  Fixture& f = F();
  std::vector<double> x(kGrid * kGrid), y(kGrid * kGrid), z(kGrid * kGrid);
  const int du = static_cast<int>(state.range(0)), dv = 1 - du;
  for (auto _ : state) {
    Eval4DGridOnRSurfArray(f.s, f.g.data(), kGrid, f.g.data(), kGrid, du, dv, 1, nullptr, x.data(),
                           y.data(), z.data());
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * kGrid * kGrid);
}

// Point, S_u and S_v together through basis-derivative tables: one item is one grid point with
// its three vectors.
void BM_GridRequests(benchmark::State& state) {
  Fixture& f = F();
  double** out = allocate_matrix_ff(kGrid * kGrid, 9);
  const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  for (auto _ : state) {
    EvalGridOnGeometryM(f.s, f.g.data(), f.g.data(), kGrid, kGrid, du, dv, 3, 0, out);
    benchmark::DoNotOptimize(out[0]);
  }
  state.SetItemsProcessed(state.iterations() * kGrid * kGrid);
  matrix_free_ff(out);
}

BENCHMARK(BM_ScatteredPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScatteredDerivU)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScatteredDerivV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridDerivNets)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridRequests)->Unit(benchmark::kMillisecond);

}  // namespace
