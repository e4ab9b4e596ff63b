// Intersection of two bicubic 10 x 10 patches crossing in one open branch (a wave and a wavy
// wall across it): the whole driver, curves included, and the rolling-ball fillet trace of
// radius 0.05 along the branch. Targets: 3 ms and 2 ms per call. Also two 8 x 8 nets meeting
// in one closed loop (a bowl and a slightly wavy sheet), the curves held to 1e-6 of the size.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/shapes.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/umalloc.h"
#include "intersect/filutil.h"
#include "intersect/newintr.h"

namespace {

// The wall x = 0.5 + 0.05 sin(2 pi z) over y in [0, 1], z in [-0.5, 0.5] (u = y, v = z), its
// normal toward +x.
Bspline* Wall() {
  Bspline* s = bench::WaveBicubic(10, 0.0, 0.0, 0.0);
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) {
      const double y = double(i) / 9, z = double(j) / 9 - 0.5;
      s->X[j][i] = 0.5 + 0.05 * std::sin(6.283185307179586 * z);
      s->Y[j][i] = y;
      s->Z[j][i] = z;
    }
  return s;
}


void BM_SurfaceSurfaceIntersection(benchmark::State& state) {
  Bspline* wave = bench::WaveBicubic(10, 0.1, 3.0, 2.0);
  Bspline* wall = Wall();
  int pieces = 0;
  for (auto _ : state) {
    BsplineList* out = nullptr;
    CreateSrfSrfIntersectionCurves(wave, wall, &out);
    pieces = GetNumCurvePieces(out);
    FreeCurvesAndNodes(out);
  }
  state.counters["curves"] = pieces;
  FreeBspline(wave);
  FreeBspline(wall);
}
BENCHMARK(BM_SurfaceSurfaceIntersection)->Unit(benchmark::kMillisecond);

// An 8 x 8 net on the regular grid with z = f(x, y) (the wave's layout, its heights replaced).
Bspline* Net8(double (*f)(double, double), double size, double offset) {
  Bspline* s = bench::WaveBicubic(8, 0.0, 0.0, 0.0);
  for (int j = 0; j < 8; ++j)
    for (int i = 0; i < 8; ++i) {
      const double x = double(i) / 7, y = double(j) / 7;
      s->X[j][i] = size * x + offset;
      s->Y[j][i] = size * y + offset;
      s->Z[j][i] = f(x, y);
    }
  return s;
}

void BM_ClosedLoopIntersection(benchmark::State& state) {
  Bspline* bowl = Net8([](double x, double y) { return 0.6 - 1.6 * ((x - 0.5) * (x - 0.5) + (y - 0.5) * (y - 0.5)); }, 1.0, 0.0);
  Bspline* sheet = Net8([](double x, double y) { return 0.35 + 0.05 * x + 0.02 * std::sin(6.283185307179586 * y); }, 1.2, -0.1);
  int pieces = 0, points = 0;
  for (auto _ : state) {
    BsplineList* out = nullptr;
    CreateSrfSrfIntersectionCurves(bowl, sheet, &out);
    pieces = GetNumCurvePieces(out);
    points = out ? NumCtrlU(out->item) : 0;
    FreeCurvesAndNodes(out);
  }
  state.counters["curves"] = pieces;
  state.counters["control_points"] = points;
  FreeBspline(bowl);
  FreeBspline(sheet);
}
BENCHMARK(BM_ClosedLoopIntersection)->Unit(benchmark::kMillisecond);

void BM_FilletTrace(benchmark::State& state) {
  Bspline* wave = bench::WaveBicubic(10, 0.1, 3.0, 2.0);
  Bspline* wall = Wall();
  IntersectionTraceList* list = MallocIntersectionTraceList();
  NewIntersect(wave, wall, list, 0.01, 1e-6);
  IntersectionTrace* branch = list->head;
  SetRadiusArray(wave, branch, 0.05, 0.0, 0.0, 0, 0, 0, 0);
  int nodes = 0;
  for (auto _ : state) {
    IntersectionTrace* out = MallocIntersectionTrace();
    NewFilletTrace(wave, wall, branch, out, 1e-6);
    nodes = out->nodeCount;
    FreeTraceNodes(out);
    Free(out);
  }
  state.counters["branch_nodes"] = branch->nodeCount;
  state.counters["fillet_nodes"] = nodes;
  FreeIntersectionTraceList(list);
  FreeBspline(wave);
  FreeBspline(wall);
}
BENCHMARK(BM_FilletTrace)->Unit(benchmark::kMillisecond);

}  // namespace
