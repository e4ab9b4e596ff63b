// Interpolation: the cubic with Bessel ends through 10,000 3D points (tridiagonal, linear in the
// count), the degree-5 band interpolation through 10,000 points, and the cubic surface through a
// 100 x 100 grid. The interpolators may move the caller's points, so every run gets fresh copies;
// only the interpolation call is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "splinefit/intrplt.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Points {
  std::vector<double> x, y, z;
};

// A helix with uneven steps: no two points within the duplicate tolerance.
Points Helix(int n) {
  Points p;
  for (int i = 0; i < n; ++i) {
    const double t = 0.01 * i + 0.003 * std::sin(0.7 * i);
    p.x.push_back(std::cos(t));
    p.y.push_back(std::sin(t));
    p.z.push_back(0.05 * t);
  }
  return p;
}

template <class Make>
void TimeCurve(benchmark::State& state, Make make) {
  const Points proto = Helix(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Points p = proto;
    const auto start = Clock::now();
    Bspline* c = make(p);
    const auto stop = Clock::now();
    benchmark::DoNotOptimize(c);
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    FreeBspline(c);
  }
}

void BM_CurveIntrpltCubic(benchmark::State& state) {
  TimeCurve(state, [&](Points& p) {
    return CurveIntrplt(p.x.data(), p.y.data(), p.z.data(), int(p.x.size()) - 1, nullptr, 3, 0);
  });
}
BENCHMARK(BM_CurveIntrpltCubic)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_NewCurveIntrpltDegree5(benchmark::State& state) {
  TimeCurve(state, [&](Points& p) {
    return NewCurveIntrplt(p.x.data(), p.y.data(), p.z.data(), int(p.x.size()) - 1, nullptr, 5);
  });
}
BENCHMARK(BM_NewCurveIntrpltDegree5)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SurfaceInterpolateGrid(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Points proto;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      proto.x.push_back(i + 0.1 * std::sin(j));
      proto.y.push_back(j + 0.1 * std::cos(i));
      proto.z.push_back(std::sin(0.1 * i) * std::cos(0.07 * j));
    }
  for (auto _ : state) {
    Points p = proto;
    const auto start = Clock::now();
    Bspline* s = SurfaceInterpolate(p.x.data(), p.y.data(), p.z.data(), n, n, nullptr, nullptr, 3, 3);
    const auto stop = Clock::now();
    benchmark::DoNotOptimize(s);
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    FreeBspline(s);
  }
}
BENCHMARK(BM_SurfaceInterpolateGrid)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
