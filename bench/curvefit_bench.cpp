// Curve fitting: the penalised least-squares engine on 10,000 points of a wavy space curve with
// 50 control points (normal equations in the band, two Gram matrices, the polygon penalty and
// the band solve with both end control points held).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "curve/fitcurve.h"

namespace {

void BM_FindAllCurveCoefi3(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0)), nCtrl = static_cast<int>(state.range(1));
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double a = 6.0 * i / (n - 1);
    x[i] = float(a);
    y[i] = float(std::sin(2.0 * a) + 0.001 * std::sin(37.0 * i));
    z[i] = float(0.5 * std::cos(3.0 * a));
  }
  std::vector<double> t(n);
  normalize_tarray3(x.data(), y.data(), z.data(), n, t.data());
  Bspline* curve = allocate_curve3(nCtrl - 4, 3);
  assign_uniform_curve_knots3(curve, 0, nullptr, nullptr);
  double ends[2][3] = {{x[0], y[0], z[0]}, {x[n - 1], y[n - 1], z[n - 1]}};
  int idx[2] = {0, nCtrl - 1};
  for (auto _ : state) {
    const int r = FindAllCurveCoefi3(curve, t.data(), x.data(), y.data(), z.data(), n, ends, idx, 2,
                                     0.3, 0.7, 0.01);
    if (r != 0) state.SkipWithError("fit failed");
    benchmark::DoNotOptimize(curve->X[0][nCtrl / 2]);
  }
  FreeBspline(curve);
}
BENCHMARK(BM_FindAllCurveCoefi3)->Args({10000, 50})->Unit(benchmark::kMillisecond);

}  // namespace
