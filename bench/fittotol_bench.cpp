// Fitting to a tolerance: 1,000 points of a smooth space curve with several bends (two turns of
// a helix-like wave), tolerance a thousandth of its size, and zero (the finest the points carry);
// the knot search from the curvature points to the last inserted knot. The counters give the
// control points reached and the largest deviation of the result (over the points, relative to
// the tolerance, or to the size for the tolerance of zero).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "curve/fittotol.h"

namespace {

void BM_FitToTolerance(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double s = 4.0 * i / (n - 1);
    x[i] = float(s);
    y[i] = float(std::sin(2.5 * s));
    z[i] = float(0.3 * std::cos(1.7 * s));
  }
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), n, nullptr);
  const double size = std::sqrt(16.0 + 4.0 + 0.36);  // the box diagonal
  // The second argument k asks for the tolerance 10^-k of the size; 0 for a tolerance of zero
  // (the finest the single-precision points carry).
  const double tol = state.range(1) ? std::pow(10.0, -double(state.range(1))) * size : 0.0;
  int nCtrl = 0;
  double worst = 0.0;
  for (auto _ : state) {
    Bspline* c = FitToTolerance(cloud, nullptr, tol, 0.1 * size, 0, 3, 0, 0, 0, nullptr, 0, 0.0);
    if (!c) {
      state.SkipWithError("fit failed");
      break;
    }
    nCtrl = c->degreeU + c->interiorU + 1;
    double t, d2;
    int idx;
    FindCurveBsplineCloudMaxDiff(c, cloud, &t, &d2, &idx);
    worst = std::sqrt(d2) / (tol > 0.0 ? tol : size);
    FreeBspline(c);
  }
  state.counters["control_points"] = nCtrl;
  state.counters[tol > 0.0 ? "worst_over_tol" : "worst_over_size"] = worst;
  FreeCloud(cloud);
}
BENCHMARK(BM_FitToTolerance)->Args({1000, 3})->Args({1000, 0})->Unit(benchmark::kMillisecond);

}  // namespace
