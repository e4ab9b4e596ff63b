// One heal of an n x n grid (4, 8 and 16) of bicubic patches, 8 x 8 control points each,
// sampled from one smooth height field with every patch's boundary rows perturbed on their
// own, so that every shared boundary and corner has a gap. The topology is built once; each
// timed iteration puts the perturbed control points back and runs the whole heal (stitch,
// tangential heal, the check that no seam got worse, copy back, per-side report). The time per
// seam (counter time_per_seam, in seconds) should stay flat as the grid grows: growth no worse than linear.
// Beside them, the chain of six long cubic strips (4 x 258 control points) around a 45-degree
// crease as an exporter writes it (its knots), every control point moved by seeded noise of 1e-4 of its size:
// its heal should take no more than 20 times the 4 x 4 grid's, since the work grows with the
// boundary rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "platform/host/sample_groups.h"
#include "tests/support/height_grid.h"

namespace {

using heightgrid::kCtrl;

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

// Builds the topology once, then times whole heals, each from the nets `reset` puts back.
void TimeHeals(benchmark::State& state, std::vector<Bspline*>& srfs, double maxGap, double healGap, double seams,
               const std::function<void()>& reset) {
  const int n = static_cast<int>(srfs.size());
  int** result = allocate_matrix_ih(n, 4);
  std::vector<int> fixed(n, 0);
  if (MakeTopologyZK(srfs.data(), n, maxGap, 5.0) != 0 || !result) {
    state.SkipWithError("topology build failed");
  } else {
    for (auto _ : state) {
      state.PauseTiming();
      reset();
      state.ResumeTiming();
      if (HealTopologyZK(srfs.data(), n, fixed.data(), -1, 1, healGap, 0.5, 1, result) != 0) {
        state.SkipWithError("heal failed");
        break;
      }
    }
    int healedSides = 0;
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < 4; ++c) healedSides += result[i][c] == 0 || result[i][c] == -5;
    state.counters["sides_at_gap_target"] = healedSides;
    state.counters["seams"] = seams;
    state.counters["time_per_seam"] =
        benchmark::Counter(seams, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  }
  if (result) matrix_free_ih(result);
  CleanupTopology();
  for (Bspline* s : srfs) FreeBspline(s);
}

void BM_HealGrid(benchmark::State& state) {
  const int grid = static_cast<int>(state.range(0));
  std::mt19937 rng(7);
  std::vector<Bspline*> srfs;
  for (int gj = 0; gj < grid; ++gj)
    for (int gi = 0; gi < grid; ++gi) srfs.push_back(heightgrid::JitteredPatch(gi, gj, rng));
  std::vector<std::vector<double>> start;
  for (const Bspline* s : srfs) start.push_back(NetOf(s));
  TimeHeals(state, srfs, 0.05, 0.001, 2.0 * grid * (grid - 1), [&] {
    for (size_t k = 0; k < srfs.size(); ++k) SetNet(srfs[k], start[k]);
  });
}
BENCHMARK(BM_HealGrid)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// Rows v, columns u of a net of any size, through the record's own counts.
void PutNet(Bspline* s, const CadPatch& c) {
  for (int j = 0; j < c.cv; ++j)
    for (int i = 0; i < c.cu; ++i) {
      const double* p = &c.pts[3 * (static_cast<size_t>(j) * c.cu + i)];
      s->X[j][i] = p[0], s->Y[j][i] = p[1], s->Z[j][i] = p[2];
    }
}

Bspline* FromCad(const CadPatch& c) {
  Bspline* s = MallocNullBspline();
  s->kind = 2;
  s->dimension = 3;
  s->degreeU = c.pu;
  s->degreeV = c.pv;
  s->interiorU = c.cu - c.pu - 1;
  s->interiorV = c.cv - c.pv - 1;
  AllocateBsplineArrays(s);
  std::copy(c.knotsU.begin(), c.knotsU.end(), s->knotsU);
  std::copy(c.knotsV.begin(), c.knotsV.end(), s->knotsV);
  s->umin = c.knotsU[c.pu], s->umax = c.knotsU[c.cu], s->vmin = c.knotsV[c.pv], s->vmax = c.knotsV[c.cv];
  PutNet(s, c);
  return s;
}

// Heals a CAD-like group of `shape` with `state.range(0)` control points along its long nets,
// seeded noise of `noise` x the size on every control point: MAXGAP 5 x the damage, HEALGAP 1e-5 of
// the size, as a user heals a lossy export.
void TimeCadGroup(benchmark::State& state, CadShape shape, CadKnots knots, double noise) {
  CadOptions o;
  o.knots = knots;
  o.longCount = static_cast<int>(state.range(0));
  o.noise = noise;
  const CadGroup cad = MakeCadGroup(shape, o);
  std::vector<Bspline*> srfs;
  for (const CadPatch& c : cad.patches) srfs.push_back(FromCad(c));
  TimeHeals(state, srfs, 5.0 * o.noise * cad.diagonal, 1e-5 * cad.diagonal, static_cast<double>(cad.seams.size()), [&] {
    for (size_t k = 0; k < srfs.size(); ++k) PutNet(srfs[k], cad.patches[k]);
  });
}

void BM_HealStripChain(benchmark::State& state) { TimeCadGroup(state, CadShape::StripChain, CadKnots::Exporter, 1e-4); }
BENCHMARK(BM_HealStripChain)->Arg(258)->Unit(benchmark::kMillisecond);

// Two half-cylinders of 400 rows along, noisy at 1e-3 of the group's size: a real part's long nets
// should heal within a second.
void BM_HealLongTube(benchmark::State& state) { TimeCadGroup(state, CadShape::Tube, CadKnots::Unit, 1e-3); }
BENCHMARK(BM_HealLongTube)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace
