// The query layer with caches kept: a closest point on a bicubic surface (grid estimate kept,
// refinement), a closest parameter on a cubic curve (sample cache kept, refinement), and all
// intersections of two planar cubics by subdivision, and line picks on a bicubic, steep and
// grazing. The surface benchmark also reports its accuracy on points lifted off the surface
// along the normal, whose feet are known.
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
#include "surface/srfline.h"
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
    FreeCrvIntrList(list);
  }
  state.counters["meetings"] = meetings;
  state.SetItemsProcessed(state.iterations());
  FreeBspline(a);
  FreeBspline(b);
}
BENCHMARK(BM_CrvIntersectFiveCrossings);

// Lines through random points of the waving bicubic: state.range(0) 0 steep (directions within
// about 30 degrees of the z axis), 1 grazing (tangent at the point in a random direction, moved
// off along the normal by +-1e-4, so each has two crossings close together or none).
void BM_LinePickOnBicubic(benchmark::State& state) {
  Bspline* s = GentleBicubic();
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> U(0.1, 0.9), A(0.0, 2.0 * M_PI), T(-0.5, 0.5);
  struct Line {
    double P[3], D[3];
  };
  std::vector<Line> lines(64);
  for (size_t k = 0; k < lines.size(); ++k) {
    const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double d[3][3], n[3], t1[3], t2[3];
    EvalPointOnGeometryM(s, U(rng), U(rng), du, dv, 3, 0, d);
    VecNormalize3(VecCrossProd3(d[1], d[2], n), n);
    VecNormalize3(d[1], t1);
    VecCrossProd3(n, t1, t2);
    const double a = A(rng), off = (k % 2 ? 1e-4 : -1e-4);
    for (int c = 0; c < 3; ++c) {
      if (state.range(0) == 0) {
        lines[k].P[c] = d[0][c];
        lines[k].D[c] = c == 2 ? 1.0 : T(rng);
      } else {
        lines[k].P[c] = d[0][c] + off * n[c];
        lines[k].D[c] = std::cos(a) * t1[c] + std::sin(a) * t2[c];
      }
    }
  }
  size_t i = 0;
  int hits = 0;
  for (auto _ : state) {
    const Line& l = lines[i++ % lines.size()];
    double *us = nullptr, *vs = nullptr;
    int count = 0;
    FindAllSurfLineIntersections(s, l.D, l.P, &us, &vs, &count);
    hits += count;
    Free(us);
    Free(vs);
  }
  state.counters["hits_per_line"] = benchmark::Counter(hits, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
  FreeBspline(s);
}
BENCHMARK(BM_LinePickOnBicubic)->Arg(0)->Arg(1);

}  // namespace

// Fixed-radius neighbourhoods of every point of a clustered cloud through the bin grid (a grid
// for the radius, each point's own cell scanned with true distances) side by side with
// nanoflann's radius search (tree built, every point queried); both count the pairs within r,
// which must agree. The default grid (96 divisions) and a fine one (300).
#if __has_include(<nanoflann.hpp>)
#include <algorithm>
#include <nanoflann.hpp>
#include <utility>

#include "bench/compare.h"
#include "bench/points.h"
#include "cloud/psubdiv.h"

namespace {

using RadiusMetric = nanoflann::L2_Simple_Adaptor<float, bench::PointsAdaptor, double>;
using RadiusTree = nanoflann::KDTreeSingleIndexAdaptor<RadiusMetric, bench::PointsAdaptor, 3, unsigned>;

long long GridPairs(const bench::Points& p, double r, int maxDiv) {
  float lo[3] = {p.x[0], p.y[0], p.z[0]}, hi[3] = {p.x[0], p.y[0], p.z[0]};
  for (int i = 0; i < p.n(); ++i) {
    const float v[3] = {p.x[i], p.y[i], p.z[i]};
    for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
  }
  Subdiv* g = SubdivideArrays(p.x.data(), p.y.data(), p.z.data(), p.n(), lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], r,
                              maxDiv);
  long long pairs = 0;
  const double r2 = r * r;
  for (int i = 0; i < p.n(); ++i) {
    const SubdivCell& cell = g->cells[g->ownCell[i]];
    const double px = p.x[i], py = p.y[i], pz = p.z[i];
    for (int k = 0; k < cell.count; ++k) {
      const int j = cell.items[k];
      const double dx = p.x[j] - px, dy = p.y[j] - py, dz = p.z[j] - pz;
      pairs += dx * dx + dy * dy + dz * dz <= r2;
    }
  }
  FreeSubdiv(g);
  return pairs;
}

long long TreePairs(const bench::Points& p, double r) {
  bench::PointsAdaptor a{&p};
  RadiusTree tree(3, a, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  tree.buildIndex();
  std::vector<std::pair<unsigned, double>> found;
  nanoflann::SearchParams params;
  params.sorted = false;
  long long pairs = 0;
  for (int i = 0; i < p.n(); ++i) {
    const float q[3] = {p.x[i], p.y[i], p.z[i]};
    pairs += static_cast<long long>(tree.radiusSearch(q, r * r, found, params));
  }
  return pairs;
}

void RadiusVsReference(benchmark::State& state, int maxDiv) {
  const bench::Points p = bench::Clustered(50000, 3);
  const double r = 0.004;
  long long ours = 0, ref = 0;
  bench::Compare(state, 1, [&] { ours = GridPairs(p, r, maxDiv); }, [&] { ref = TreePairs(p, r); }, p.n());
  state.counters["pairs"] = double(ours);
  state.counters["differ"] = ours != ref;
}
void BM_RadiusNeighbourhoodsClustered50k(benchmark::State& state) { RadiusVsReference(state, 96); }
void BM_RadiusNeighbourhoodsClusteredFineGrid50k(benchmark::State& state) { RadiusVsReference(state, 300); }
BENCHMARK(BM_RadiusNeighbourhoodsClustered50k)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RadiusNeighbourhoodsClusteredFineGrid50k)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
#endif
