// One heal of an n x n grid (4, 8 and 16) of bicubic patches, 8 x 8 control points each,
// sampled from one smooth height field with every patch's boundary rows perturbed on their
// own, so that every shared boundary and corner has a gap. The topology is built once; each
// timed iteration puts the perturbed control points back and runs the whole heal (stitch,
// tangential heal, the check that no seam got worse, copy back, per-side report). The time per
// seam (counter time_per_seam, in seconds) should stay flat as the grid grows: growth no worse than linear.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"

namespace {

constexpr int kCtrl = 8, kDeg = 3;
constexpr double kPerturb = 0.01;

double Height(double x, double y) { return 0.15 * std::sin(1.3 * x) * std::cos(0.9 * y) + 0.05 * x * y; }

Bspline* MakePatch(int gi, int gj, std::mt19937& rng) {
  Bspline* s = MallocNullBspline();
  s->kind = 2;
  s->dimension = 3;
  s->degreeU = s->degreeV = kDeg;
  s->interiorU = s->interiorV = kCtrl - kDeg - 1;
  AllocateBsplineArrays(s);
  const int nk = kCtrl + kDeg + 1;
  for (int k = 0; k < nk; ++k) {
    const double t = std::clamp(double(k - kDeg) / (kCtrl - kDeg), 0.0, 1.0);
    s->knotsU[k] = s->knotsV[k] = t;
  }
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  std::uniform_real_distribution<double> jitter(-kPerturb, kPerturb);
  for (int j = 0; j < kCtrl; ++j)
    for (int i = 0; i < kCtrl; ++i) {
      // Greville abscissae, so the boundary rows of neighbours start out on one curve.
      double gu = 0.0, gv = 0.0;
      for (int k = 1; k <= kDeg; ++k) {
        gu += s->knotsU[i + k];
        gv += s->knotsV[j + k];
      }
      const double x = gi + gu / kDeg, y = gj + gv / kDeg;
      const bool boundary = i == 0 || j == 0 || i == kCtrl - 1 || j == kCtrl - 1;
      s->X[j][i] = x;
      s->Y[j][i] = y;
      s->Z[j][i] = Height(x, y) + (boundary ? jitter(rng) : 0.0);
    }
  return s;
}

// x, y, z of every control point of the patch, rows v, columns u.
std::vector<double> NetOf(const Bspline* s) {
  std::vector<double> out;
  for (int j = 0; j < kCtrl; ++j)
    for (int i = 0; i < kCtrl; ++i) out.insert(out.end(), {s->X[j][i], s->Y[j][i], s->Z[j][i]});
  return out;
}

void SetNet(Bspline* s, const std::vector<double>& net) {
  for (int j = 0; j < kCtrl; ++j)
    for (int i = 0; i < kCtrl; ++i) {
      const double* p = &net[3 * (j * kCtrl + i)];
      s->X[j][i] = p[0];
      s->Y[j][i] = p[1];
      s->Z[j][i] = p[2];
    }
}

void BM_HealGrid(benchmark::State& state) {
  const int grid = static_cast<int>(state.range(0));
  std::mt19937 rng(7);
  std::vector<Bspline*> srfs;
  for (int gj = 0; gj < grid; ++gj)
    for (int gi = 0; gi < grid; ++gi) srfs.push_back(MakePatch(gi, gj, rng));
  const int n = static_cast<int>(srfs.size());
  std::vector<std::vector<double>> start;
  for (const Bspline* s : srfs) start.push_back(NetOf(s));

  int** result = allocate_matrix_ih(n, 4);
  std::vector<int> fixed(n, 0);
  if (MakeTopologyZK(srfs.data(), n, 0.05, 5.0) != 0 || !result) {
    state.SkipWithError("topology build failed");
  } else {
    for (auto _ : state) {
      state.PauseTiming();
      for (int k = 0; k < n; ++k) SetNet(srfs[k], start[k]);
      state.ResumeTiming();
      const int status = HealTopologyZK(srfs.data(), n, fixed.data(), -1, 1, 0.001, 0.5, 1, result);
      if (status != 0) {
        state.SkipWithError("heal failed");
        break;
      }
    }
    int healedSides = 0;
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 4; ++c) healedSides += result[i][c] == 0 || result[i][c] == -5;
    state.counters["sides_at_gap_target"] = healedSides;
    const double seams = 2.0 * grid * (grid - 1);
    state.counters["seams"] = seams;
    state.counters["time_per_seam"] =
        benchmark::Counter(seams, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  }
  if (result) matrix_free_ih(result);
  CleanupTopology();
  for (Bspline* s : srfs) FreeBspline(s);
}
BENCHMARK(BM_HealGrid)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
