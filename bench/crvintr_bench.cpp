// All meetings of two curves by subdivision (CrvIntersect) on seeded pairs of cubics of 8-14
// control points crossing 1-6 times, tilted out of the coordinate planes: time per query and
// the meetings found beside the transversal crossings counted on a dense grid. Also the same
// 20 graphs crossing a line at scales 1e-6 .. 1e6, whose meeting counts must not depend on the
// unit of length.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/shapes.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/crvintr.h"
#include "foundation/umalloc.h"

namespace {

// A clamped uniform cubic whose control points sit at the Greville abscissae in x, so x(t) = t
// exactly and the curve is the graph of its y over [0, 1].
Bspline* Graph(const std::vector<double>& y) {
  const int n = int(y.size());
  Bspline* c = bench::UniformCubic(n);
  for (int i = 0; i < n; ++i) {
    const double* k = c->knotsU;
    c->X[0][i] = (k[i + 1] + k[i + 2] + k[i + 3]) / 3.0;
    c->Y[0][i] = y[i];
    c->Z[0][i] = 0.0;
  }
  return c;
}

double GraphY(const Bspline* c, double t) {
  // de Boor on the y coordinate alone: enough to count sign changes.
  const int p = 3, n = c->interiorU + 4;
  const double* k = c->knotsU;
  int s = p;
  while (s < n - 1 && k[s + 1] <= t) ++s;
  double d[4];
  for (int j = 0; j <= p; ++j) d[j] = c->Y[0][s - p + j];
  for (int r = 1; r <= p; ++r)
    for (int j = p; j >= r; --j) {
      const int i = s - p + j;
      const double a = (t - k[i]) / (k[i + p - r + 1] - k[i]);
      d[j] = (1.0 - a) * d[j - 1] + a * d[j];
    }
  return d[p];
}

// Sign changes of yA - yB on 4001 samples, or -1 when two lie closer than 0.04 in x or a
// crossing is nearly tangent (the difference has a slope below 0.1).
int Crossings(const Bspline* a, const Bspline* b) {
  const int m = 4000;
  int count = 0;
  double last = -1.0, prev = GraphY(a, 0.0) - GraphY(b, 0.0);
  for (int i = 1; i <= m; ++i) {
    const double t = double(i) / m, d = GraphY(a, t) - GraphY(b, t);
    if ((d > 0.0) != (prev > 0.0)) {
      if (t - last < 0.04 || std::fabs(d - prev) < 2.5e-5) return -1;
      last = t;
      ++count;
    }
    prev = d;
  }
  return count;
}

// Rotates the curve's control points by the same rigid motion (about z, then about x) and scales
// them: the meetings keep their parameters.
void Move(Bspline* c, double az, double ax, double scale, const double shift[3]) {
  const int n = c->interiorU + 4;
  for (int i = 0; i < n; ++i) {
    double x = c->X[0][i], y = c->Y[0][i], z = c->Z[0][i];
    const double x1 = std::cos(az) * x - std::sin(az) * y, y1 = std::sin(az) * x + std::cos(az) * y;
    const double y2 = std::cos(ax) * y1 - std::sin(ax) * z, z2 = std::sin(ax) * y1 + std::cos(ax) * z;
    c->X[0][i] = scale * (x1 + shift[0]);
    c->Y[0][i] = scale * (y2 + shift[1]);
    c->Z[0][i] = scale * (z2 + shift[2]);
  }
}

struct Pair {
  Bspline* a;
  Bspline* b;
  int crossings;
};

// 200 pairs: a wavy graph against a gentler one, each of 8-14 control points, kept when they
// cross 1-6 times transversally and well apart.
std::vector<Pair> BenchmarkPairs() {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<int> N(8, 14);
  std::uniform_real_distribution<double> Wavy(0.2, 0.8), Gentle(0.4, 0.6), Angle(0.0, 2.0 * M_PI);
  std::vector<Pair> pairs;
  while (pairs.size() < 200) {
    std::vector<double> ya(N(rng)), yb(N(rng));
    for (double& y : ya) y = Wavy(rng);
    for (double& y : yb) y = Gentle(rng);
    Bspline* a = Graph(ya);
    Bspline* b = Graph(yb);
    const int k = Crossings(a, b);
    if (k < 1 || k > 6) {
      FreeBspline(a);
      FreeBspline(b);
      continue;
    }
    const double az = Angle(rng), ax = Angle(rng), shift[3] = {0.3, -0.2, 0.1};
    Move(a, az, ax, 1.0, shift);
    Move(b, az, ax, 1.0, shift);
    pairs.push_back({a, b, k});
  }
  return pairs;
}

int Meetings(Bspline* a, Bspline* b, int checkOverlap = 0) {
  CrvIntrList* list = nullptr;
  if (CrvIntersect(a, b, &list, 1e-6, checkOverlap) == 99) return 99;
  if (!list) return -1;
  const int count = list->count;
  FreeCrvIntrList(list);
  return count;
}

// Times CrvIntersect over the pairs in turn, counts the meetings found against the crossings
// known, and frees the pairs.
void TimePairs(benchmark::State& state, std::vector<Pair>& pairs) {
  int found = 0, expected = 0;
  for (Pair& p : pairs) {
    found += Meetings(p.a, p.b);
    expected += p.crossings;
  }
  size_t i = 0;
  for (auto _ : state) {
    Pair& p = pairs[i++ % pairs.size()];
    benchmark::DoNotOptimize(Meetings(p.a, p.b));
  }
  state.counters["meetings"] = found;
  state.counters["crossings"] = expected;
  state.SetItemsProcessed(state.iterations());
  for (Pair& p : pairs) {
    FreeBspline(p.a);
    FreeBspline(p.b);
  }
}

void BM_CrvIntersectCubicPairs(benchmark::State& state) {
  std::vector<Pair> pairs = BenchmarkPairs();
  TimePairs(state, pairs);
}
BENCHMARK(BM_CrvIntersectCubicPairs);

// 20 graphs of 16 control points and the line y = c they cross, all scaled by 10^range(0).
void BM_CrvIntersectGraphsAtScale(benchmark::State& state) {
  const double scale = std::pow(10.0, double(state.range(0)));
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> Y(0.1, 0.9), C(0.3, 0.7);
  std::vector<Pair> pairs;
  for (int g = 0; g < 20; ++g) {
    // Redrawn until every crossing is transversal and apart from the others.
    Bspline *a = nullptr, *b = nullptr;
    int k = -1;
    while (k < 1) {
      if (a) {
        FreeBspline(a);
        FreeBspline(b);
      }
      std::vector<double> ya(16);
      for (double& y : ya) y = Y(rng);
      a = Graph(ya);
      b = Graph(std::vector<double>(8, C(rng)));
      k = Crossings(a, b);
    }
    const double shift[3] = {0.0, 0.0, 0.0};
    Move(a, 0.0, 0.0, scale, shift);
    Move(b, 0.0, 0.0, scale, shift);
    pairs.push_back({a, b, k});
  }
  TimePairs(state, pairs);
}
BENCHMARK(BM_CrvIntersectGraphsAtScale)->DenseRange(-6, 6, 2);

// The cubic pairs with the overlap test on (range 1) and off (0): the test's share of a query
// on curves that only cross.
void BM_CrvIntersectOverlapTestCost(benchmark::State& state) {
  std::vector<Pair> pairs = BenchmarkPairs();
  const int check = int(state.range(0));
  size_t i = 0;
  for (auto _ : state) {
    Pair& p = pairs[i++ % pairs.size()];
    benchmark::DoNotOptimize(Meetings(p.a, p.b, check));
  }
  for (Pair& p : pairs) {
    FreeBspline(p.a);
    FreeBspline(p.b);
  }
}
BENCHMARK(BM_CrvIntersectOverlapTestCost)->Arg(0)->Arg(1);

// Curves that overlap: a 16-point cubic against its own copy (range 0) and against the copy
// cut at 0.3 and 0.8 and extended past its end by a line (range 1, a partial overlap), overlap
// test off and on (range 1 of the second argument). Counters: meetings listed (99: overlap).
void BM_CrvIntersectOverlapping(benchmark::State& state) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> Y(0.1, 0.9);
  std::vector<double> ya(16);
  for (double& y : ya) y = Y(rng);
  Bspline* a = Graph(ya);
  Bspline* b = Graph(ya);
  if (state.range(0) == 1) {
    // The copy's piece over [0.3, 1] followed by its tangent line, as one cubic of the knots
    // refined: move the first control points off the curve so that only [0.3, 1] is shared.
    for (int i = 0; i < 5; ++i) b->Y[0][i] += 0.3;
  }
  const double shift[3] = {0.3, -0.2, 0.1};
  Move(a, 0.7, 0.4, 1.0, shift);
  Move(b, 0.7, 0.4, 1.0, shift);
  const int check = int(state.range(1));
  const int found = Meetings(a, b, check);
  for (auto _ : state) benchmark::DoNotOptimize(Meetings(a, b, check));
  state.counters["meetings"] = found;
  FreeBspline(a);
  FreeBspline(b);
}
BENCHMARK(BM_CrvIntersectOverlapping)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1});

}  // namespace
