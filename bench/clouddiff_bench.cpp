// Cloud-to-surface differences: 100,000 points at normal offsets up to 0.02 from a trimmed wave
// bicubic of 12 x 12 control points (SurfToCloudDifference, with and without refinement), and
// from a 4 x 4 group of such surfaces (SurfsToCloudDifference). Every lean is accepted, so each
// point runs the whole way to its written result.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/shapes.h"
#include "bspline/crvlist.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "foundation/cloudrec.h"
#include "foundation/umalloc.h"
#include "stitch/srferr.h"

namespace {

constexpr int kPoints = 100000;

// A straight cubic on srf from (u0, v0) to (u1, v1).
Bspline* Side(Bspline* srf, double u0, double v0, double u1, double v1) {
  Bspline* c = MallocNullBspline();
  c->kind = 1;
  c->dimension = 2;
  c->degreeU = 3;
  AllocateBsplineArrays(c);
  for (int i = 0; i < 8; ++i) c->knotsU[i] = i < 4 ? 0.0 : 1.0;
  c->umax = 1.0;
  for (int i = 0; i < 4; ++i) {
    c->X[0][i] = u0 + (u1 - u0) * i / 3.0;
    c->Y[0][i] = v0 + (v1 - v0) * i / 3.0;
  }
  PutBsplToSurfCrvList(c, srf);
  return c;
}

// The outer loop [0.05, 0.95] x [0.1, 0.9], counter-clockwise.
void TrimRectangle(Bspline* srf) {
  const double c[5][2] = {{0.05, 0.1}, {0.95, 0.1}, {0.95, 0.9}, {0.05, 0.9}, {0.05, 0.1}};
  TrimList* loop = MallocNullTrimList();
  loop->attached = 1;
  BsplineList** tail = &loop->loopCurves;
  for (int k = 0; k < 4; ++k) {
    *tail = MallocNullBsplineList();
    (*tail)->item = Side(srf, c[k][0], c[k][1], c[k + 1][0], c[k + 1][1]);
    tail = &(*tail)->next;
  }
  srf->trims = loop;
}

// n points S(u, v) + h N at random (u, v) and h in [-0.02, 0.02] of the surface's size, each
// surface of the list taking its share.
Cloud* OffsetCloud(Bspline** srfs, int nSrfs, int n) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> d(0.0, 1.0), h(-0.02, 0.02);
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    Bspline* s = srfs[i % nSrfs];
    const double u = d(rng), v = d(rng);
    double P[3], plane[4];
    Eval3DPointOnSurfCoord(s, u, v, 0, 0, P);
    SurfaceTangentPlane(s, u, v, plane);
    const double hh = h(rng) * (s->X[0][NumCtrlU(s) - 1] - s->X[0][0]);
    x[i] = static_cast<float>(P[0] + hh * plane[0]);
    y[i] = static_cast<float>(P[1] + hh * plane[1]);
    z[i] = static_cast<float>(P[2] + hh * plane[2]);
  }
  return MakeCld(x.data(), y.data(), z.data(), n, nullptr);
}

struct Outputs {
  std::vector<float> a[12];
  std::vector<int> index;
  std::vector<int16_t> srf;
  explicit Outputs(int n) : index(n), srf(n) {
    for (auto& v : a) v.resize(n);
  }
};

void BM_SurfToCloudDifference(benchmark::State& state) {
  const int refine = static_cast<int>(state.range(0));
  Bspline* srf = bench::WaveBicubic(12, 0.2, 3.0, 2.0);
  TrimRectangle(srf);
  Cloud* cloud = OffsetCloud(&srf, 1, kPoints);
  Outputs o(kPoints);
  int count = 0;
  for (auto _ : state) {
    const int r = SurfToCloudDifference(srf, cloud, refine, 1e6, 1.0, 0.0, &count,
                                        o.a[0].data(), o.a[1].data(), o.a[2].data(), o.index.data(),
                                        o.a[3].data(), o.a[4].data(), o.a[5].data(), o.a[6].data(),
                                        o.a[7].data(), o.a[8].data(), o.a[9].data(), o.a[10].data(),
                                        o.a[11].data());
    benchmark::DoNotOptimize(r);
  }
  state.counters["kept"] = count;
  FreeCloud(cloud);
  FreeBspline(srf);
}
BENCHMARK(BM_SurfToCloudDifference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SurfsToCloudDifference(benchmark::State& state) {
  const int refine = static_cast<int>(state.range(0));
  // A 4 x 4 group of wave patches over unit cells, meeting along their sides.
  Bspline* srfs[16];
  for (int g = 0; g < 16; ++g) {
    Bspline* s = bench::WaveBicubic(12, 0.2, 3.0, 2.0);
    const int ox = g % 4, oy = g / 4;
    for (int j = 0; j < 12; ++j)
      for (int i = 0; i < 12; ++i) {
        s->X[j][i] += ox;
        s->Y[j][i] += oy;
        s->Z[j][i] += 0.05 * (ox + oy);
      }
    srfs[g] = s;
  }
  Cloud* cloud = OffsetCloud(srfs, 16, kPoints);
  Outputs o(kPoints);
  int count = 0;
  for (auto _ : state) {
    const int r = SurfsToCloudDifference(srfs, 16, nullptr, cloud, refine, 1e6, 0.0, 0, 0, &count,
                                         o.a[0].data(), o.a[1].data(), o.a[2].data(),
                                         o.index.data(), o.a[3].data(), o.a[4].data(),
                                         o.a[5].data(), o.a[6].data(), o.a[7].data(),
                                         o.a[8].data(), o.a[9].data(), o.a[10].data(),
                                         o.srf.data(), o.a[11].data());
    benchmark::DoNotOptimize(r);
  }
  state.counters["kept"] = count;
  FreeCloud(cloud);
  for (Bspline* s : srfs) FreeBspline(s);
}
BENCHMARK(BM_SurfsToCloudDifference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
