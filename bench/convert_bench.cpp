// Conversions to new knots: a bicubic of 16 x 16 control points refitted onto 24 x 24 on
// uniform knots (sampling, band assembly and solve), and the grid fit alone of 100 x 100
// samples onto 20 x 20 control points.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/shapes.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "splinefit/sconvert.h"

namespace {

GridFitParams Plain() {
  GridFitParams g{};
  g.boundaryMode = -1;
  return g;
}

void BM_ConvertUniform16To24(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(16, 0.3, 5.0, 4.0);
  const GridFitParams prm = Plain();
  for (auto _ : state) {
    Bspline* c = ConvertBsplineWUniformKnots(s, &prm, 24, 24, 0.0);
    benchmark::DoNotOptimize(c);
    FreeBspline(c);
  }
  FreeBspline(s);
}
BENCHMARK(BM_ConvertUniform16To24)->Unit(benchmark::kMillisecond);

void BM_GridFit100To20(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(16, 0.3, 5.0, 4.0);
  Bspline* fresh = bench::WaveBicubic(20, 0.0, 1.0, 1.0);
  const int n = 100;
  std::vector<double> u(n), v(n), x(n * n), y(n * n), z(n * n);
  for (int i = 0; i < n; ++i) u[i] = v[i] = double(i) / (n - 1);
  Eval3DGridOnBsplArray(s, u.data(), n, v.data(), n, x.data(), y.data(), z.data());
  const GridFitParams prm = Plain();
  for (auto _ : state) {
    const int r = FitSurface3DGridData(s, fresh, u.data(), v.data(), n, n, x.data(), y.data(),
                                       z.data(), 0.0, &prm);
    benchmark::DoNotOptimize(r);
  }
  FreeBspline(fresh);
  FreeBspline(s);
}
BENCHMARK(BM_GridFit100To20)->Unit(benchmark::kMillisecond);

}  // namespace
