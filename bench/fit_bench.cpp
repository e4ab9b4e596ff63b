// Least-squares spheres and circles as the cloud operations use them: a sphere through the
// small neighbourhood of one point (outlier removal fits one per point), a sphere through a
// large scan beside a plain Gauss-Newton fit, and a circle through a long roundness profile;
// and height-field surfaces fitted to scattered and gridded clouds.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/compare.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "quadric/cylinder.h"
#include "quadric/qcircle.h"
#include "quadric/quadrics.h"
#include "quadric/sphere.h"
#include "splinefit/fitsplin.h"

namespace {

struct Cloud {
  std::vector<float> x, y, z;
};

// n points of the sphere about (5, -3, 1) of radius 2 with radial noise 0.01.
Cloud NoisySphere(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-1.0, 1.0), N(-0.01, 0.01);
  Cloud c;
  while (static_cast<int>(c.x.size()) < n) {
    const double d[3] = {U(rng), U(rng), U(rng)}, len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (len < 0.1 || len > 1.0) continue;
    const double r = 2.0 + N(rng);
    c.x.push_back(static_cast<float>(5.0 + r * d[0] / len));
    c.y.push_back(static_cast<float>(-3.0 + r * d[1] / len));
    c.z.push_back(static_cast<float>(1.0 + r * d[2] / len));
  }
  return c;
}

// The plain reference: the centroid, the algebraic sphere x^2 + y^2 + z^2 + c.x + c0 = 0 of the
// centred points as the start, then three Gauss-Newton steps on |p - c| - r, each one pass
// forming the 4 x 4 normal equations and a dense solve.
void Solve4(double A[4][4], double b[4], double x[4]) {
  for (int p = 0; p < 4; ++p) {
    int best = p;
    for (int i = p + 1; i < 4; ++i)
      if (std::fabs(A[i][p]) > std::fabs(A[best][p])) best = i;
    std::swap(A[p], A[best]);
    std::swap(b[p], b[best]);
    for (int i = p + 1; i < 4; ++i) {
      const double f = A[i][p] / A[p][p];
      for (int k = p; k < 4; ++k) A[i][k] -= f * A[p][k];
      b[i] -= f * b[p];
    }
  }
  for (int i = 3; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < 4; ++k) s -= A[i][k] * x[k];
    x[i] = s / A[i][i];
  }
}

void GaussNewtonSphere(const Cloud& c, double centre[3], double* radius) {
  const int n = static_cast<int>(c.x.size());
  double g[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i) {
    g[0] += c.x[i];
    g[1] += c.y[i];
    g[2] += c.z[i];
  }
  for (double& v : g) v /= n;
  double A[4][4] = {}, b[4] = {}, s[4];
  for (int i = 0; i < n; ++i) {
    const double row[4] = {1.0, c.x[i] - g[0], c.y[i] - g[1], c.z[i] - g[2]};
    const double rhs = -(row[1] * row[1] + row[2] * row[2] + row[3] * row[3]);
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) A[j][k] += row[j] * row[k];
      b[j] += row[j] * rhs;
    }
  }
  Solve4(A, b, s);
  double p[4] = {-s[1] / 2, -s[2] / 2, -s[3] / 2, 0.0};
  p[3] = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] - s[0]);
  for (int step = 0; step < 3; ++step) {
    double N[4][4] = {}, r[4] = {}, dp[4];
    for (int i = 0; i < n; ++i) {
      const double d[3] = {c.x[i] - g[0] - p[0], c.y[i] - g[1] - p[1], c.z[i] - g[2] - p[2]};
      const double dist = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      const double J[4] = {-d[0] / dist, -d[1] / dist, -d[2] / dist, -1.0}, f = dist - p[3];
      for (int j = 0; j < 4; ++j) {
        for (int k = 0; k <= j; ++k) N[j][k] += J[j] * J[k];
        r[j] -= J[j] * f;
      }
    }
    for (int j = 0; j < 4; ++j)
      for (int k = j + 1; k < 4; ++k) N[j][k] = N[k][j];
    Solve4(N, r, dp);
    for (int k = 0; k < 4; ++k) p[k] += dp[k];
  }
  for (int k = 0; k < 3; ++k) centre[k] = p[k] + g[k];
  *radius = p[3];
}

// Times `fit` (which leaves its sphere in centre and radius) beside the reference on the same
// points, after checking that the two spheres lie within `tolerance` of each other.
template <class Fit>
void CompareWithGaussNewton(benchmark::State& state, const Cloud& c, Fit fit, const double centre[3],
                            const double* radius, double tolerance, const char* name) {
  double refCentre[3], refRadius;
  fit();
  GaussNewtonSphere(c, refCentre, &refRadius);
  double apart = std::fabs(*radius - refRadius);
  for (int k = 0; k < 3; ++k) apart = std::max(apart, std::fabs(centre[k] - refCentre[k]));
  if (apart > tolerance) {
    std::fprintf(stderr, "%s and Gauss-Newton differ by %g\n", name, apart);
    std::abort();
  }
  state.counters["apart"] = apart;
  bench::Compare(
      state, 1, [&] { benchmark::DoNotOptimize(fit()); },
      [&] {
        GaussNewtonSphere(c, refCentre, &refRadius);
        benchmark::DoNotOptimize(refRadius);
      },
      static_cast<long long>(c.x.size()));
}

void BM_FitSphere10kVsGaussNewton(benchmark::State& state) {
  const Cloud c = NoisySphere(10000, 3);
  double centre[3], radius, error;
  auto fit = [&] { return FitSphere(c.x.data(), c.y.data(), c.z.data(), 10000, centre, &radius, &error); };
  // Both reach the least-squares sphere. FitSphere refines single-precision copies of the
  // centred points, whose rounding moves the optimum by a fraction of a float step; the
  // reference works on the points in double. Allowed: a float step at the size of the sums
  // of coordinates and radius (5 + 3 + 1 + 2).
  CompareWithGaussNewton(state, c, fit, centre, &radius, std::ldexp(11.0, -23), "FitSphere");
}
BENCHMARK(BM_FitSphere10kVsGaussNewton)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The engine route, started where the reference's Gauss-Newton steps start from.
void BM_SphereNonlinearFit10kVsGaussNewton(benchmark::State& state) {
  const Cloud c = NoisySphere(10000, 3);
  double centre[3], radius, error, maxDev;
  auto fit = [&] {
    const double start[4] = {5.01, -3.02, 0.99, 1.97};
    for (int k = 0; k < 3; ++k) centre[k] = start[k];
    radius = start[3];
    return SphereNonlinearFit(c.x.data(), c.y.data(), c.z.data(), 10000, centre, &radius, 1e-12, 50, &error, &maxDev);
  };
  // Both work in double on the same points.
  CompareWithGaussNewton(state, c, fit, centre, &radius, 1e-12, "SphereNonlinearFit");
}
BENCHMARK(BM_SphereNonlinearFit10kVsGaussNewton)->UseManualTime()->Unit(benchmark::kMicrosecond);

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

// ---- Height-field surface fits -------------------------------------------------------------
// A scattered Cartesian fit of 20,000 points with 12 x 12 control points (thin-plate smoothing)
// and a gridded bicubic fit of a 256 x 256 grid with 32 x 32 control points (separable Givens
// least squares), both through FitCartisianSpline as the front end calls it.
namespace surfacefit {

float Height(double x, double y) { return static_cast<float>(0.3 * std::sin(3 * x) * std::cos(2 * y) + 0.1 * x * y); }

void BM_ScatteredCartesianFit20k(benchmark::State& state) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.0, 2.0);
  std::vector<float> x, y, z;
  for (int i = 0; i < 20000; ++i) {
    const double a = U(rng), b = U(rng);
    x.push_back(static_cast<float>(a)), y.push_back(static_cast<float>(b)), z.push_back(Height(a, b));
  }
  ::Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), 20000, nullptr);
  double box[6];
  for (auto _ : state) {
    Bspline* s = FitCartisianSpline(cloud, box, 3, 3, 12, 12, 1, 0.7, 1096.6331584284585, 1.0);
    if (!s) state.SkipWithError("fit failed");
    benchmark::DoNotOptimize(s);
    FreeBspline(s);
  }
  FreeCloud(cloud);
}
BENCHMARK(BM_ScatteredCartesianFit20k)->Unit(benchmark::kMillisecond);

void BM_GriddedBicubicFit256(benchmark::State& state) {
  const int n = 256;
  std::vector<float> h(n * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) h[j * n + i] = Height(2.0 * i / (n - 1), 2.0 * j / (n - 1));
  ::Cloud* grid = MakeGridCld(0.0, 0.0, 2.0 / (n - 1), 2.0 / (n - 1), n, n, 0, 1, h.data(), nullptr);
  double box[6];
  for (auto _ : state) {
    Bspline* s = FitCartisianSpline(grid, box, 3, 3, 32, 32, 0, 0.7, 1096.6331584284585, 1.0);
    if (!s || s->fitProps.flag != 0) state.SkipWithError("not the gridded engine");
    benchmark::DoNotOptimize(s);
    FreeBspline(s);
  }
  FreeCloud(grid);
}
BENCHMARK(BM_GriddedBicubicFit256)->Unit(benchmark::kMillisecond);

// n points of the cylinder of radius 1.5 along (0.48, 0.64, 0.6) through (1, 2, 3), heights
// 0..5, radial noise 0.005: the size of a scanned bore.
struct Bore {
  std::vector<float> x, y, z;
};

Bore NoisyCylinder(int n, unsigned seed) {
  static const double e[3][3] = {{0.36, 0.48, -0.8}, {-0.8, 0.6, 0.0}, {0.48, 0.64, 0.6}};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(0.0, 1.0), N(-0.005, 0.005);
  Bore c;
  for (int i = 0; i < n; ++i) {
    const double t = 6.283185307179586 * U(rng), h = 5.0 * U(rng), r = 1.5 + N(rng);
    double p[3];
    for (int k = 0; k < 3; ++k) p[k] = (k + 1.0) + h * e[2][k] + r * (std::cos(t) * e[0][k] + std::sin(t) * e[1][k]);
    c.x.push_back(static_cast<float>(p[0]));
    c.y.push_back(static_cast<float>(p[1]));
    c.z.push_back(static_cast<float>(p[2]));
  }
  return c;
}

void BM_QuadricsFit10k(benchmark::State& state) {
  const Bore c = NoisyCylinder(10000, 5);
  for (auto _ : state) {
    double coef[10], eigenvalue;
    benchmark::DoNotOptimize(QuadricsFit(c.x.data(), c.y.data(), c.z.data(), 10000, coef, &eigenvalue));
  }
}
BENCHMARK(BM_QuadricsFit10k)->Unit(benchmark::kMicrosecond);

void BM_FitCylinder1000(benchmark::State& state) {
  const Bore c = NoisyCylinder(1000, 6);
  for (auto _ : state) {
    double point[3], axis[3], radius, error;
    benchmark::DoNotOptimize(FitCylinder(c.x.data(), c.y.data(), c.z.data(), 1000, point, axis, &radius, &error));
  }
}
BENCHMARK(BM_FitCylinder1000)->Unit(benchmark::kMillisecond);

}  // namespace surfacefit
