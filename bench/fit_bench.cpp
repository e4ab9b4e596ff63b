// Least-squares spheres and circles as the cloud operations use them: a sphere through the
// small neighbourhood of one point (outlier removal fits one per point) and a circle through a
// long roundness profile.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "quadric/qcircle.h"
#include "quadric/sphere.h"

namespace {

void BM_FitSphere30(benchmark::State& state) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> U(-1.0, 1.0), N(-0.01, 0.01);
  std::vector<float> x, y, z;
  for (int i = 0; i < 30; ++i) {
    double d[3] = {U(rng), U(rng), U(rng)};
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) + 1e-9, r = 2.0 + N(rng);
    x.push_back(static_cast<float>(5.0 + r * d[0] / len));
    y.push_back(static_cast<float>(-3.0 + r * d[1] / len));
    z.push_back(static_cast<float>(1.0 + r * d[2] / len));
  }
  for (auto _ : state) {
    double centre[3], radius, error;
    benchmark::DoNotOptimize(FitSphere(x.data(), y.data(), z.data(), 30, centre, &radius, &error));
  }
}
BENCHMARK(BM_FitSphere30)->Unit(benchmark::kMicrosecond);

void BM_NewFitCircle1000(benchmark::State& state) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> N(-0.02, 0.02);
  std::vector<float> x, y;
  for (int i = 0; i < 1000; ++i) {
    const double t = 6.283185307179586 * i / 1000, r = 10.0 + N(rng);
    x.push_back(static_cast<float>(100.0 + r * std::cos(t)));
    y.push_back(static_cast<float>(50.0 + r * std::sin(t)));
  }
  for (auto _ : state) {
    double centre[3], radius, error;
    benchmark::DoNotOptimize(NewFitCircle(x.data(), y.data(), 1000, centre, &radius, &error));
  }
}
BENCHMARK(BM_NewFitCircle1000)->Unit(benchmark::kMicrosecond);

}  // namespace
