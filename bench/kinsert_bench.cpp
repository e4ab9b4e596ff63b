// Knot insertion into a cubic curve of 16 control points: one knot per call (the shrink-wrap
// fits and the heal's snap-or-insert do this), and 1000 knots in one call (refinement before a
// fit). Each run starts from a fresh copy of the curve; only the insertion call is timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"

namespace {

Bspline* Cubic16(bool rational) {
  const int n = 16, p = 3;
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 3;
  c->rational = rational ? 1 : 0;
  c->degreeU = p;
  c->interiorU = n - p - 1;
  AllocateBsplineArrays(c);
  for (int i = 0; i < n + p + 1; ++i)
    c->knotsU[i] = i <= p ? 0.0 : (i >= n ? 1.0 : double(i - p) / (n - p));
  c->umin = 0.0;
  c->umax = 1.0;
  for (int i = 0; i < n; ++i) {
    c->X[0][i] = i;
    c->Y[0][i] = std::sin(0.7 * i);
    c->Z[0][i] = 0.1 * i * i;
    if (rational) c->W[0][i] = 1.0 + 0.3 * std::cos(i);
  }
  return c;
}

using Clock = std::chrono::steady_clock;

void BM_InsertOneKnotCubic16(benchmark::State& state) {
  Bspline* proto = Cubic16(state.range(0) != 0);
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
  Bspline* proto = Cubic16(false);
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
