// Knot insertion into a cubic curve of 16 control points: one knot per call (the shrink-wrap
// fits and the heal's snap-or-insert do this), and 1000 knots in one call (refinement before a
// fit). Each run starts from a fresh copy of the curve; only the insertion call is timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "bench/shapes.h"
#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_InsertOneKnotCubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(state.range(0) != 0);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0.01, 0.99);
  for (auto _ : state) {
    Bspline* c = CopyBsplineStruct(proto);
    double t = U(rng);
    const auto start = Clock::now();
    InsertNKnotsToObject(1, 1, 0, c, 2, &t);
    const auto stop = Clock::now();
    benchmark::DoNotOptimize(c->X[0][8]);
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    FreeBspline(c);
  }
  FreeBspline(proto);
}
BENCHMARK(BM_InsertOneKnotCubic16)->Arg(0)->Arg(1)->UseManualTime();

void BM_Insert1000KnotsCubic16(benchmark::State& state) {
  Bspline* proto = bench::Cubic16(false);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  std::vector<double> values(1000);
  for (auto _ : state) {
    Bspline* c = CopyBsplineStruct(proto);
    for (double& v : values) v = U(rng);
    std::sort(values.begin(), values.end());
    const auto start = Clock::now();
    if (state.range(0) == 2)
      InsertNKnotsToObject(1, 1000, 0, c, 2, values.data());
    else
      InsertNKnotsToObject(1, 1000, 0, c, 1, nullptr);
    const auto stop = Clock::now();
    benchmark::DoNotOptimize(c->X[0][8]);
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    FreeBspline(c);
  }
  FreeBspline(proto);
}
// Mode 2: 1000 sorted random values; mode 1: 1000 knots at the largest spans.
BENCHMARK(BM_Insert1000KnotsCubic16)
    ->Arg(2)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
