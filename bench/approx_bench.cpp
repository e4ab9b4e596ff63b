// Curve approximation beside Open CASCADE's: a cubic through 30 control points on two turns of a
// helix (radius 0.5, rising 1), approximated within 1e-5 (and 1e-3) of its size, at the origin
// and moved 1e4 x its size away. Ours is ApproximateBspline (samples of the curve refitted to the
// tolerance, measured densely against the curve); the reference samples the same curve at the
// points our first round takes and fits them with GeomAPI_PointsToBSpline (C2 cubics up to
// degree 8) at the same tolerance. Counters: per-call times, their ratio, the control points of
// each and our deviation measured densely, relative to the tolerance.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/compare.h"
#include "bench/shapes.h"
#include "bspline/cclone.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/crverr.h"
#include "foundation/coreglob.h"
#include "splinefit/sconvert.h"

#ifdef SEAMWELD_BENCH_OCCT
#include <GeomAPI_PointsToBSpline.hxx>
#include <Geom_BSplineCurve.hxx>
#include <TColgp_Array1OfPnt.hxx>
#endif

namespace {

constexpr int kCtrl = 30;

Bspline* Helix(double move) {
  Bspline* c = bench::UniformCubic(kCtrl);
  for (int i = 0; i < kCtrl; ++i) {
    const double a = 4 * M_PI * i / (kCtrl - 1);
    c->X[0][i] = 1e4 * move + 0.5 * std::cos(a);
    c->Y[0][i] = -6e3 * move + 0.5 * std::sin(a);
    c->Z[0][i] = 3.5e3 * move + double(i) / (kCtrl - 1);
  }
  return c;
}

void BM_ApproximateHelix(benchmark::State& state) {
  const double move = state.range(0) ? 1.0 : 0.0;
  Bspline* c = Helix(move);
  // The second argument k: the tolerance is 10^-k of the size (the box diagonal, about sqrt 2).
  const double tol = std::pow(10.0, -double(state.range(1))) * std::sqrt(2.0);
  GridFitParams prm{};
  prm.boundaryMode = -1;
  int ours = 0, theirs = 0;
  double dev = 0.0;
  // The samples our first round fits: 2 p + 2 per knot span, ends included.
  const int nSamples = 8 * (kCtrl - 3) + 1;
  std::vector<double> samples(3 * nSamples);
  for (int i = 0; i < nSamples; ++i) Eval3DPointOnCurve3Coord(c, double(i) / (nSamples - 1), 0, &samples[3 * i]);
  auto mine = [&] {
    FreeBspline(ApproximateBspline(c, tol, 3, 0, &prm));
    ClearKernelError();
  };
#ifdef SEAMWELD_BENCH_OCCT
  auto reference = [&] {
    TColgp_Array1OfPnt pts(1, nSamples);
    for (int i = 0; i < nSamples; ++i) pts.SetValue(i + 1, gp_Pnt(samples[3 * i], samples[3 * i + 1], samples[3 * i + 2]));
    GeomAPI_PointsToBSpline fit(pts, 3, 8, GeomAbs_C2, tol);
    if (fit.IsDone()) theirs = fit.Curve()->NbPoles();
  };
  bench::Compare(state, 1, mine, reference);
  state.counters["ref_poles"] = theirs;
#else
  for (auto _ : state) mine();
#endif
  // The deviation is measured on copies moved back to the origin, where the measure's own
  // single-precision steps do not blur it.
  if (Bspline* a = ApproximateBspline(c, tol, 3, 0, &prm)) {
    ours = NumCtrlU(a);
    Bspline* home = CopyCurveBspline(c);
    for (int i = 0; i < NumCtrlU(a); ++i) a->X[0][i] -= 1e4 * move, a->Y[0][i] += 6e3 * move, a->Z[0][i] -= 3.5e3 * move;
    for (int i = 0; i < kCtrl; ++i) home->X[0][i] -= 1e4 * move, home->Y[0][i] += 6e3 * move, home->Z[0][i] -= 3.5e3 * move;
    double ab = 0.0, ba = 0.0;
    TwoCurve3MaxDiff(a, home, 64, &ab);
    TwoCurve3MaxDiff(home, a, 64, &ba);
    dev = std::max(ab, ba) / tol;
    FreeBspline(a);
    FreeBspline(home);
  }
  ClearKernelError();
  state.counters["poles"] = ours;
  state.counters["dev_over_tol"] = dev;
  FreeBspline(c);
}
BENCHMARK(BM_ApproximateHelix)->Args({0, 5})->Args({1, 5})->Args({0, 3})->Args({1, 3})->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
