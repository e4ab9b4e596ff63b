// Closest point on a bicubic surface from a good start: the inner step of sampling a boundary
// against its neighbour and of measuring a cloud against a surface.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/shapes.h"
#include "bspline/ctrlnubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/vec3.h"

namespace {

// A wavy bicubic patch of 10 x 10 control points over the unit square, uniform knots.
Bspline* WavyBicubic() { return bench::WaveBicubic(10, 0.2, 4.0, 3.0); }

struct Query {
  double P[3];
  double u, v;  // the start: a little off the true foot, as a grid estimate would give
};

void BM_ClosestPointOnBicubic(benchmark::State& state) {
  Bspline* s = WavyBicubic();
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> U(0.1, 0.9), off(-0.05, 0.05), jitter(-0.02, 0.02);
  std::vector<Query> queries(256);
  for (Query& q : queries) {
    const double u0 = U(rng), v0 = U(rng);
    const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double d[3][3], n[3];
    EvalPointOnGeometryM(s, u0, v0, du, dv, 3, 0, d);
    VecNormalize3(VecCrossProd3(d[1], d[2], n), n);
    const double h = off(rng);
    for (int k = 0; k < 3; ++k) q.P[k] = d[0][k] + h * n[k];
    q.u = u0 + jitter(rng);
    q.v = v0 + jitter(rng);
  }
  size_t i = 0;
  for (auto _ : state) {
    const Query& q = queries[i++ & 255];
    double u = q.u, v = q.v, S[3], dist, step;
    benchmark::DoNotOptimize(FindClosestUVPointGuessDist(s, q.P, S, &u, &v, &dist, &step, 20));
    benchmark::DoNotOptimize(dist);
  }
  state.SetItemsProcessed(state.iterations());
  FreeBspline(s);
}
BENCHMARK(BM_ClosestPointOnBicubic);

}  // namespace
