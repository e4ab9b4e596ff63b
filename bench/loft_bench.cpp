// Lofting and extension: a loft through 8 cubic curves of 20 control points (Bessel ends, the
// default cleaning), and the extension of a bicubic 10 x 10 surface across one boundary by a
// length with tangent continuity. Every run works on fresh copies; only the call is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "bench/shapes.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/extend.h"
#include "construct/srfloft.h"

namespace {

using Clock = std::chrono::steady_clock;

// Cubic curve k of the loft: 20 control points on uniform knots, a wave moving along the set.
Bspline* LoftCurve(int k) {
  const int n = 20, p = 3;
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = p;
  c->interiorU = n - p - 1;
  AllocateBsplineArrays(c);
  for (int i = 0; i < n + p + 1; ++i)
    c->knotsU[i] = i <= p ? 0.0 : (i >= n ? 1.0 : double(i - p) / (n - p));
  c->umin = 0.0;
  c->umax = 1.0;
  for (int i = 0; i < n; ++i) {
    c->X[0][i] = i;
    c->Y[0][i] = 3.0 * k + 0.2 * std::sin(0.5 * i + k);
    c->Z[0][i] = std::sin(0.3 * i + 0.4 * k);
  }
  return c;
}

void BM_NonFeatureMatchedLoft(benchmark::State& state) {
  std::vector<Bspline*> curves;
  for (int k = 0; k < 8; ++k) curves.push_back(LoftCurve(k));
  int ends[2] = {0, 0};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {0, 0};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    Bspline* s = NonFeatureMatchedLoft(8, curves.data(), 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1,
                                       modes, 0, 0);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    if (!s) state.SkipWithError("loft failed");
    FreeBspline(s);
  }
  for (Bspline* c : curves) FreeBspline(c);
}
BENCHMARK(BM_NonFeatureMatchedLoft)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ExtendObjectByLength(benchmark::State& state) {
  Bspline* base = bench::WaveBicubic(10, 0.3, 2.0, 3.0);
  for (auto _ : state) {
    state.PauseTiming();
    Bspline* s = CopyBsplineStruct(base);
    state.ResumeTiming();
    const auto t0 = Clock::now();
    Bspline* e = ExtendObject(s, nullptr, nullptr, 0.2, 0, 2, 1, 1.0);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    if (!e) state.SkipWithError("extension failed");
    FreeBspline(e);
    FreeBspline(s);
  }
  FreeBspline(base);
}
BENCHMARK(BM_ExtendObjectByLength)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
