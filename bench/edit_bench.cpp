// Curvature display and direct editing: mean curvature on a 200 x 200 grid of a 10 x 10
// bicubic (the display's full refresh), and one drag of that surface with its partial refresh
// on a 100 x 100 display grid: new control-point values and the curvature values of the display
// points the edit reached, with and without refreshing their derivative buffer (filled from the
// display's basis tables, as an editor would).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/shapes.h"
#include "bspline/ctrlnubs.h"
#include "bspline/sfree.h"
#include "intersect/cntrlpt.h"
#include "intersect/curvatur.h"

namespace {

void BM_CurvatureGrid200(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(10, 0.2, 2.0, 3.0);
  std::vector<double> out(200 * 200);
  for (auto _ : state) {
    ComputeCurvature(s, out.data(), 8, 200, 200);
    benchmark::DoNotOptimize(out.data());
  }
  FreeBspline(s);
}
BENCHMARK(BM_CurvatureGrid200)->Unit(benchmark::kMillisecond);

void BM_DragWithPartialCurvature(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(10, 0.2, 2.0, 3.0);
  const int n = 100;
  std::vector<double> us(n), vs(n), values(n * n);
  for (int i = 0; i < n; ++i) us[i] = vs[i] = i / double(n - 1);
  ComputeCurvatureGivenArrays(s, values.data(), us.data(), vs.data(), n, n, 8);
  double Nu[8], Nv[8];
  int su = 0, sv = 0, moved[4], count = 0;
  const double u = 0.43, v = 0.57;
  SetupDirectEditing(s, u, v, Nu, Nv, &su, &sv);
  FindAffectedCntrlPtIndicesPoint(s, u, v, moved, &count);
  SurfEditStruct* region = nullptr;
  SetupEvalPartialGridCntPnt(s, moved, count, us.data(), vs.data(), n, n, 0, 0, &region);
  PlotEditStruct rec{};
  rec.gridIdx = region->inside;
  rec.gridCount = region->insideCount;
  rec.uPar = us.data();
  rec.vPar = vs.data();
  rec.uOffset = rec.vOffset = n;
  const int T = rec.gridCount;
  std::vector<double> derivs(15 * T);
  std::vector<double> tmp(T);
  const int du[5] = {1, 0, 1, 2, 0}, dv[5] = {0, 1, 1, 0, 2};
  auto refresh = [&] {
    for (int k = 0; k < T; ++k) {
      const int g = rec.gridIdx[k];
      double r[5][3];
      EvalPointOnGeometryGivenNubValsM(s, du, dv, 5, region->uBasis + (g % n) * 12,
                                       region->vBasis + (g / n) * 12, region->uSpans[g % n],
                                       region->vSpans[g / n], 0, r);
      for (int c = 0; c < 15; ++c) derivs[c * T + k] = r[c / 3][c % 3];
    }
  };
  refresh();
  const bool withDerivatives = state.range(0) != 0;
  double sign = 1.0;
  for (auto _ : state) {
    GetNewCntrlPtValsSrf(s, u, v, moved, &count, 0, 0, 0.01 * sign, Nu, Nv, su, sv, nullptr);
    sign = -sign;
    if (withDerivatives) refresh();
    UpdatePartialCurvatureValues(s, &rec, derivs.data(), values.data(), 8);
    benchmark::DoNotOptimize(values.data());
  }
  state.counters["points"] = T;
  FreeSurfEditStruct(&region);
  FreeBspline(s);
}
// Argument 0: the two editing calls alone (the derivative buffer is the display's, filled
// elsewhere); 1: with the buffer refreshed at every point the edit reached.
BENCHMARK(BM_DragWithPartialCurvature)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
