// Multi-request evaluators beside the separate calls they replace, on the 12 x 10 bicubic
// surface: point, S_u and S_v on a 1000 x 1000 grid (EvalGridOnGeometryM against one grid call
// and two derivative-net grid calls), and at 10^4 scattered parameters (Eval3DPointOnSurfArrayM
// against three point calls). Results are compared first; counters: ours_ns, ref_ns per call,
// ratio = ours / separate calls.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bench/compare.h"
#include "bench/shapes.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"

namespace {

constexpr int kGrid = 1000;
constexpr int kPoints = 10000;

void BM_GridRequestsVsSeparate(benchmark::State& state) {
  Bspline* s = bench::Bicubic(false);
  std::vector<double> g(kGrid);
  for (int i = 0; i < kGrid; ++i) g[i] = static_cast<double>(i) / (kGrid - 1);
  const std::size_t n = std::size_t(kGrid) * kGrid;
  double** out = allocate_matrix_ff(static_cast<int>(n), 9);
  std::vector<double> sep(9 * n);
  double* x[3] = {sep.data(), sep.data() + 3 * n, sep.data() + 6 * n};
  const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  auto ours = [&] { EvalGridOnGeometryM(s, g.data(), g.data(), kGrid, kGrid, du, dv, 3, 0, out); };
  auto separate = [&] {
    Eval3DGridOnBsplArray(s, g.data(), kGrid, g.data(), kGrid, x[0], x[0] + n, x[0] + 2 * n);
    for (int d = 1; d <= 2; ++d)
      Eval4DGridOnRSurfArray(s, g.data(), kGrid, g.data(), kGrid, du[d], dv[d], 1, nullptr, x[d],
                             x[d] + n, x[d] + 2 * n);
  };
  ours();
  separate();
  double diff = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) diff = std::max(diff, std::fabs(out[i][3 * r + c] - x[r][c * n + i]));
  state.counters["max_diff"] = diff;
  if (diff > 1e-9)
    state.SkipWithError("requests and separate calls differ");
  else
    bench::Compare(state, 1, ours, separate, static_cast<long long>(n));
  matrix_free_ff(out);
  FreeBspline(s);
}
BENCHMARK(BM_GridRequestsVsSeparate)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PointRequestsVsSeparate(benchmark::State& state) {
  Bspline* s = bench::Bicubic(state.range(0) != 0);
  std::vector<double> u(kPoints), v(kPoints);
  bench::RandomParams(5, u, v);
  const int flags[3] = {1, 1, 1};
  double acc = 0.0;
  auto ours = [&] {
    for (int i = 0; i < kPoints; ++i) {
      double out[3][3];
      Eval3DPointOnSurfArrayM(s, u[i], v[i], flags, out);
      acc += out[0][0] + out[1][1] + out[2][2];
    }
  };
  auto separate = [&] {
    for (int i = 0; i < kPoints; ++i) {
      double p[3], su[3], sv[3];
      Eval3DPointOnSurfArray(s, u[i], v[i], 0, 0, p);
      Eval3DPointOnSurfArray(s, u[i], v[i], 1, 0, su);
      Eval3DPointOnSurfArray(s, u[i], v[i], 0, 1, sv);
      acc += p[0] + su[1] + sv[2];
    }
  };
  double diff = 0.0;
  for (int i = 0; i < kPoints; i += 97) {
    double out[3][3], sep[3][3];
    Eval3DPointOnSurfArrayM(s, u[i], v[i], flags, out);
    Eval3DPointOnSurfArray(s, u[i], v[i], 0, 0, sep[0]);
    Eval3DPointOnSurfArray(s, u[i], v[i], 1, 0, sep[1]);
    Eval3DPointOnSurfArray(s, u[i], v[i], 0, 1, sep[2]);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) diff = std::max(diff, std::fabs(out[r][c] - sep[r][c]));
  }
  state.counters["max_diff"] = diff;
  if (diff > 1e-9)
    state.SkipWithError("requests and separate calls differ");
  else
    bench::Compare(state, 1, ours, separate, kPoints);
  benchmark::DoNotOptimize(acc);
  FreeBspline(s);
}
BENCHMARK(BM_PointRequestsVsSeparate)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
