// Point in trim on loop samples prepared once: an outer loop of 8 cubic curves with two holes
// of 4 cubic curves each, tested at random parameter points of the unit square.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bspline/crvlist.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/umalloc.h"
#include "surface/trimutils.h"

namespace {

// The bilinear plane over [0, 1]^2.
Bspline* Plane() {
  Bspline* s = MallocInitSurfaceBspline();
  s->degreeU = s->degreeV = 1;
  AllocateBsplineArrays(s);
  for (int i = 0; i < 4; ++i) s->knotsU[i] = s->knotsV[i] = i < 2 ? 0.0 : 1.0;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      s->X[j][i] = i;
      s->Y[j][i] = j;
      s->Z[j][i] = 0.0;
    }
  s->umax = s->vmax = 1.0;
  return s;
}

// A loop of n cubic arcs round (cu, cv), turning the way `sense` (+1 or -1) says.
void Circle(Bspline* s, double cu, double cv, double r, int n, double sense, int hole) {
  TrimList* loop = nullptr;
  const double step = sense * 2 * M_PI / n, h = 4.0 / 3.0 * std::tan(step / 4);
  for (int k = 0; k < n; ++k) {
    const double a0 = k * step, a1 = a0 + step;
    Bspline* c = MallocNullBspline();
    c->kind = 1;
    c->dimension = 2;
    c->degreeU = 3;
    AllocateBsplineArrays(c);
    for (int i = 0; i < 8; ++i) c->knotsU[i] = i < 4 ? 0.0 : 1.0;
    c->umax = 1.0;
    const double pu[4] = {std::cos(a0), std::cos(a0) - h * std::sin(a0), std::cos(a1) + h * std::sin(a1),
                          std::cos(a1)};
    const double pv[4] = {std::sin(a0), std::sin(a0) + h * std::cos(a0), std::sin(a1) - h * std::cos(a1),
                          std::sin(a1)};
    for (int i = 0; i < 4; ++i) {
      c->X[0][i] = cu + r * pu[i];
      c->Y[0][i] = cv + r * pv[i];
    }
    PutBsplToSurfCrvList(c, s);
    loop = CreateTrimList(s, c, loop);
  }
  loop->hole = hole;
  loop->attached = 1;
}

void BM_IsPointInTrimArrays(benchmark::State& state) {
  Bspline* s = Plane();
  Circle(s, 0.5, 0.5, 0.45, 8, 1.0, 0);
  Circle(s, 0.35, 0.5, 0.1, 4, -1.0, 1);
  Circle(s, 0.65, 0.5, 0.1, 4, -1.0, 1);
  BeginTrackingMallocs();
  const int loops = CountTrimCurves(s);
  std::vector<double**> us(loops), vs(loops);
  GetAllTrimArrays(s, us.data(), vs.data());
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> pts(2 * 1024);
  for (double& p : pts) p = unit(rng);
  const double far[2] = {3.0, 0.5};
  size_t i = 0;
  int inside = 0;
  for (auto _ : state) {
    inside += IsPointInTrimArrays(s, pts[i], pts[i + 1], far, us.data(), vs.data());
    i = (i + 2) % pts.size();
  }
  benchmark::DoNotOptimize(inside);
  FreeTrackedMallocs();
  FreeBspline(s);
}
BENCHMARK(BM_IsPointInTrimArrays);

}  // namespace
