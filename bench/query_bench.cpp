// The query layer with caches kept: a closest point on a bicubic surface (grid estimate kept,
// refinement), a closest parameter on a cubic curve (sample cache kept, refinement), and all
// intersections of two planar cubics by subdivision. The surface benchmark also reports its
// accuracy on points lifted off the surface along the normal, whose feet are known.
#include <benchmark/benchmark.h>

#include <cmath>
#include <array>
#include <random>
#include <vector>

#include "bench/shapes.h"
#include "bspline/ctrlnubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/crvintr.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfpick.h"

namespace {

Bspline* Curve(int n, double (*x)(double), double (*y)(double)) {
  return bench::CubicThrough(n, x, y, [](double) { return 0.0; });
}

// A gently waving bicubic of 10 x 10 control points over the unit square: its curvature radii
// stay above 0.5, so a point lifted by up to 0.5 along the normal keeps its foot.
Bspline* GentleBicubic() { return bench::WaveBicubic(10, 0.1, 2.0, 1.5); }

struct Lifted {
  double P[3];
  double foot[3];
};

// Points lifted off the surface by +-0.01 and +-0.5 along the unit normal at random feet.
std::vector<Lifted> LiftedPoints(Bspline* s, int count) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> U(0.05, 0.95);
  const double offsets[4] = {0.01, -0.01, 0.5, -0.5};
  std::vector<Lifted> pts(count);
  for (int k = 0; k < count; ++k) {
    const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double d[3][3], n[3];
    EvalPointOnGeometryM(s, U(rng), U(rng), du, dv, 3, 0, d);
    VecNormalize3(VecCrossProd3(d[1], d[2], n), n);
    for (int c = 0; c < 3; ++c) {
      pts[k].foot[c] = d[0][c];
      pts[k].P[c] = d[0][c] + offsets[k % 4] * n[c];
    }
  }
  return pts;
}

void BM_ClosestPointOnSurfaceKeptGrid(benchmark::State& state) {
  Bspline* s = GentleBicubic();
  const std::vector<Lifted> pts = LiftedPoints(s, 2000);
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  double worst = 0.0;
  int misses = 0;
  for (const Lifted& p : pts) {
    double u, v, S[3], d, e;
    GetClosestPointOnSurfaceResult(s, p.P, &u, &v, S, &d, &gx, &gy, &gz, &e);
    const double off = VecDist3(S, p.foot);
    worst = std::fmax(worst, off);
    misses += off > 1e-3;
  }
  size_t i = 0;
  for (auto _ : state) {
    const Lifted& p = pts[i++ % pts.size()];
    double u, v, S[3], d, e;
    benchmark::DoNotOptimize(GetClosestPointOnSurfaceResult(s, p.P, &u, &v, S, &d, &gx, &gy, &gz, &e));
    benchmark::DoNotOptimize(S);
  }
  state.counters["max_foot_error"] = worst;
  state.counters["feet_off_1e-3"] = misses;
  state.SetItemsProcessed(state.iterations());
  for (double* a : {gx, gy, gz}) Free(a);
  FreeBspline(s);
}
BENCHMARK(BM_ClosestPointOnSurfaceKeptGrid);

void BM_ClosestParamOnCurveKeptCache(benchmark::State& state) {
  Bspline* c = Curve(30, [](double s) { return 3.0 * s; }, [](double s) { return std::sin(9.0 * s); });
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> X(0.0, 3.0), Y(-1.2, 1.2);
  std::vector<std::array<double, 3>> pts(256);
  for (auto& p : pts) p = {X(rng), Y(rng), 0.1};
  double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
  int n = 0;
  size_t i = 0;
  for (auto _ : state) {
    const double* P = pts[i++ & 255].data();
    double par, C[3], d2, step;
    EstimateClosestPntCurve(c, P, &t, &n, &x, &y, &z, nullptr, &par, 0);
    FindClosestPointCurve3(c, P, C, c->umin, c->umax, &par, &d2, &step, 7);
    benchmark::DoNotOptimize(par);
  }
  state.SetItemsProcessed(state.iterations());
  for (double* a : {t, x, y, z}) Free(a);
  FreeBspline(c);
}
BENCHMARK(BM_ClosestParamOnCurveKeptCache);

void BM_CrvIntersectFiveCrossings(benchmark::State& state) {
  Bspline* a = Curve(16, [](double s) { return s; }, [](double s) { return 0.5 + 0.3 * std::sin(5.0 * M_PI * s + 0.3); });
  Bspline* b = Curve(16, [](double s) { return s; }, [](double s) { return 0.5 + 0.02 * s; });
  int meetings = 0;
  for (auto _ : state) {
    CrvIntrList* list = nullptr;
    CrvIntersect(a, b, &list, 0.0, 0);
    meetings = list->count;
    for (CrvIntrNode* n = list->first; n;) {
      CrvIntrNode* next = n->next;
      Free(n);
      n = next;
    }
    Free(list);
  }
  state.counters["meetings"] = meetings;
  state.SetItemsProcessed(state.iterations());
  FreeBspline(a);
  FreeBspline(b);
}
BENCHMARK(BM_CrvIntersectFiveCrossings);

}  // namespace
