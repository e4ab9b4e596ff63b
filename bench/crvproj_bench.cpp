// Projection of a curve onto a surface: a wave curve lifted 0.05 above an 8 x 8 bicubic of the
// unit square, tolerance 1e-4 of the surface's size, one piece (its accuracy between samples is
// the projection tests' concern). The counter gives the piece's control points.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/shapes.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/crvproj.h"
#include "foundation/umalloc.h"

namespace {

constexpr double kAmp = 0.1, kFx = 10.0, kFy = 8.0;

double WaveZ(double x, double y) { return kAmp * std::sin(kFx * x) * std::cos(kFy * y); }
double PathX(double s) { return 0.15 + 0.7 * s; }
double PathY(double s) { return 0.5 + 0.25 * std::sin(12.0 * PathX(s)); }
double PathZ(double s) { return WaveZ(PathX(s), PathY(s)) + 0.05; }

void BM_SurfCurveProjectClosestGeometry(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(8, kAmp, kFx, kFy);
  Bspline* c = bench::CubicThrough(12, PathX, PathY, PathZ);
  const double tol = 1e-4 * std::sqrt(2.0 + 4.0 * kAmp * kAmp);
  int nCtrl = 0;
  for (auto _ : state) {
    BsplineList* list = SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, 1);
    if (!list || list->next) {
      state.SkipWithError("not one piece");
      break;
    }
    state.PauseTiming();
    Bspline* piece = list->item;
    nCtrl = NumCtrlU(piece);
    Free(list);
    // The piece stays listed on the surface: take it off before the next round.
    BsplineList* head = s->curves;
    s->curves = head->next;
    Free(head);
    FreeBspline(piece);
    state.ResumeTiming();
  }
  state.counters["control_points"] = nCtrl;
  FreeBspline(c);
  FreeBspline(s);
}
BENCHMARK(BM_SurfCurveProjectClosestGeometry)->Unit(benchmark::kMillisecond);

}  // namespace
