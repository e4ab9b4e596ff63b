// Projection of a curve onto a surface: a wave curve lifted 0.05 above an 8 x 8 bicubic of the
// unit square, tolerance 1e-4 of the surface's size, one piece. The counters give the piece's
// control points and its largest distance from the projection over 400 points along the curve,
// relative to the tolerance.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "bench/shapes.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "curve/crvproj.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

constexpr double kAmp = 0.1, kFx = 10.0, kFy = 8.0;

double WaveZ(double x, double y) { return kAmp * std::sin(kFx * x) * std::cos(kFy * y); }
double PathX(double s) { return 0.15 + 0.7 * s; }
double PathY(double s) { return 0.5 + 0.25 * std::sin(12.0 * PathX(s)); }
double PathZ(double s) { return WaveZ(PathX(s), PathY(s)) + 0.05; }

// The distance from q to the piece's image: nearest of 500 samples, refined.
double DistanceToImage(Bspline* c, const double q[3]) {
  double best = 1e300, bt = c->umin;
  for (int i = 0; i <= 500; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 500.0;
    double p[3];
    EvalCrvOnSrfCoord(c->owner, c, t, 0, p);
    if (VecDist3(p, q) < best) best = VecDist3(p, q), bt = t;
  }
  double C[3], d2, step;
  FindClosestPointCurveOnSurf(c, q, C, c->umin, c->umax, &bt, &d2, &step, 20);
  return std::min(best, std::sqrt(d2));
}

void BM_SurfCurveProjectClosestGeometry(benchmark::State& state) {
  Bspline* s = bench::WaveBicubic(8, kAmp, kFx, kFy);
  Bspline* c = bench::CubicThrough(12, PathX, PathY, PathZ);
  const double tol = 1e-4 * std::sqrt(2.0 + 4.0 * kAmp * kAmp);
  int nCtrl = 0;
  double worst = 0.0;
  for (auto _ : state) {
    BsplineList* list = SurfCurveProjectClosestGeometry(s, c, 0, tol, 0, 1);
    if (!list || list->next) {
      state.SkipWithError("not one piece");
      break;
    }
    state.PauseTiming();
    Bspline* piece = list->item;
    nCtrl = NumCtrlU(piece);
    SurfaceGridCache grid;
    worst = 0.0;
    for (int i = 0; i <= 400; ++i) {
      double P[3], q[3], u, v, d, e;
      Eval3DPointOnCurve3Coord(c, i / 400.0, 0, P);
      grid.Closest(s, P, &u, &v, q, &d, &e);
      worst = std::max(worst, DistanceToImage(piece, q) / tol);
    }
    Free(list);
    // The piece stays listed on the surface: take it off before the next round.
    BsplineList* head = s->curves;
    s->curves = head->next;
    Free(head);
    FreeBspline(piece);
    state.ResumeTiming();
  }
  state.counters["control_points"] = nCtrl;
  state.counters["worst_over_tol"] = worst;
  FreeBspline(c);
  FreeBspline(s);
}
BENCHMARK(BM_SurfCurveProjectClosestGeometry)->Unit(benchmark::kMillisecond);

}  // namespace
