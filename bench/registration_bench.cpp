// Kd-tree build, nearest queries side by side with nanoflann (results compared), the
// iterative closest point loop side by side with a plain point-to-point loop on the same clouds
// (iterations, final RMS, motion error and time per iteration), and a whole two-cloud
// registration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nanoflann.hpp>
#include <random>
#include <vector>

#include "bench/compare.h"
#include "bench/points.h"
#include "cloud/makecld.h"
#include "registration/icp.h"
#include "registration/icploop.h"
#include "registration/kdtree.h"

namespace {

constexpr double kPi = 3.141592653589793;

using bench::Clustered;
using bench::Points;
using bench::Uniform;
using Adaptor = bench::PointsAdaptor;
using RefTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Adaptor, double>, Adaptor, 3,
                                                    unsigned>;

double Dist2(const Points& p, int i, const float q[3]) {
  const double dx = double(p.x[i]) - q[0], dy = double(p.y[i]) - q[1], dz = double(p.z[i]) - q[2];
  return dx * dx + dy * dy + dz * dz;
}

// Queries near the data (a data point jittered by about the spacing), as registrations ask, or
// anywhere in the unit cube (far from clustered points).
std::vector<float> Queries(const Points& p, int m, unsigned seed, bool anywhere) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 0.01f);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> q(3 * m);
  for (int k = 0; k < m; ++k) {
    const int i = int(rng() % p.n());
    q[3 * k] = p.x[i] + g(rng), q[3 * k + 1] = p.y[i] + g(rng), q[3 * k + 2] = p.z[i] + g(rng);
    if (anywhere) q[3 * k] = u(rng), q[3 * k + 1] = u(rng), q[3 * k + 2] = u(rng);
  }
  return q;
}

constexpr int kBucket = 10;
constexpr int kQueries = 4096;

void NearestVsReference(benchmark::State& state, const Points& p, bool anywhere = false) {
  KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), kBucket);
  Adaptor a{&p};
  RefTree ref(3, a, nanoflann::KDTreeSingleIndexAdaptorParams(kBucket));
  ref.buildIndex();
  const std::vector<float> q = Queries(p, kQueries, 7, anywhere);
  // Same neighbours: the distances agree (an index may differ only on an exact tie).
  long differ = 0;
  for (int k = 0; k < kQueries; ++k) {
    const double dq[3] = {q[3 * k], q[3 * k + 1], q[3 * k + 2]};
    int ours = -1;
    SearchKDTreeNearest(t, dq, &ours);
    unsigned theirs = 0;
    double d2 = 0;
    ref.knnSearch(&q[3 * k], 1, &theirs, &d2);
    if (Dist2(p, ours, &q[3 * k]) != Dist2(p, int(theirs), &q[3 * k])) ++differ;
  }
  int k = 0;
  int sink = 0;
  bench::Compare(
      state, kQueries,
      [&] {
        const double dq[3] = {q[3 * k], q[3 * k + 1], q[3 * k + 2]};
        int found;
        SearchKDTreeNearest(t, dq, &found);
        sink += found;
        k = (k + 1) & (kQueries - 1);
      },
      [&] {
        unsigned found = 0;
        double d2;
        ref.knnSearch(&q[3 * k], 1, &found, &d2);
        sink += int(found);
        k = (k + 1) & (kQueries - 1);
      });
  benchmark::DoNotOptimize(sink);
  state.counters["differ"] = double(differ);
  FreeKDTree(t);
}

void BM_KdTreeNearestUniform100k(benchmark::State& state) { NearestVsReference(state, Uniform(100000, 1)); }
void BM_KdTreeNearestClustered100k(benchmark::State& state) { NearestVsReference(state, Clustered(100000, 1)); }
void BM_KdTreeNearestClusteredQueriesAnywhere100k(benchmark::State& state) {
  NearestVsReference(state, Clustered(100000, 1), true);
}
BENCHMARK(BM_KdTreeNearestUniform100k)->UseManualTime();
BENCHMARK(BM_KdTreeNearestClustered100k)->UseManualTime();
BENCHMARK(BM_KdTreeNearestClusteredQueriesAnywhere100k)->UseManualTime();

// The build side by side with nanoflann's at the same largest leaf.
void BuildVsReference(benchmark::State& state, const Points& p, int bucket) {
  Adaptor a{&p};
  bench::Compare(
      state, 1,
      [&] {
        KDTree* t = Create3DTree(p.x.data(), p.y.data(), p.z.data(), p.n(), bucket);
        benchmark::DoNotOptimize(t);
        FreeKDTree(t);
      },
      [&] {
        RefTree ref(3, a, nanoflann::KDTreeSingleIndexAdaptorParams(bucket));
        ref.buildIndex();
        benchmark::ClobberMemory();
      });
}
void BM_KdTreeBuildVsReference100k(benchmark::State& state) { BuildVsReference(state, Uniform(100000, 1), kBucket); }
void BM_KdTreeBuildBucket1VsReference100k(benchmark::State& state) {
  BuildVsReference(state, Uniform(100000, 1), 1);
}
void BM_KdTreeBuildBucket1VsReferenceClustered100k(benchmark::State& state) {
  BuildVsReference(state, Clustered(100000, 1), 1);
}
BENCHMARK(BM_KdTreeBuildBucket1VsReference100k)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KdTreeBuildBucket1VsReferenceClustered100k)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KdTreeBuildVsReference100k)->UseManualTime()->Unit(benchmark::kMillisecond);

// A wavy unit sheet, 20,000 points: the registration case of the issue that asked for a loop
// running to its tolerance.
Points Sheet(int n, unsigned seed) {
  Points p;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int i = 0; i < n; ++i) {
    const float x = u(rng), y = u(rng);
    p.x.push_back(x), p.y.push_back(y);
    p.z.push_back(float(0.15 * std::sin(5.0 * x) * std::cos(4.0 * y) + 0.1 * x * y));
  }
  return p;
}

RegVec SixDegrees() {
  const double h = 6.0 * kPi / 360.0, a[3] = {0.267261, 0.534522, 0.801784};
  return RegVec{{std::cos(h), std::sin(h) * a[0], std::sin(h) * a[1], std::sin(h) * a[2]}, {0.03, -0.03, 0.0245}};
}

// Angle between two rotations (radians) and the largest displacement of the unit box's corners.
void MotionError(const RegVec& a, const RegVec& b, double* angle, double* offset) {
  // The rotation a b^-1: its angle from the vector part's length (acos loses half the digits).
  const double* p = a.q;
  const double w[4] = {b.q[0], -b.q[1], -b.q[2], -b.q[3]};
  const double r[4] = {p[0] * w[0] - p[1] * w[1] - p[2] * w[2] - p[3] * w[3],
                       p[0] * w[1] + p[1] * w[0] + p[2] * w[3] - p[3] * w[2],
                       p[0] * w[2] - p[1] * w[3] + p[2] * w[0] + p[3] * w[1],
                       p[0] * w[3] + p[1] * w[2] - p[2] * w[1] + p[3] * w[0]};
  *angle = 2.0 * std::atan2(std::sqrt(r[1] * r[1] + r[2] * r[2] + r[3] * r[3]), std::fabs(r[0]));
  double ma[4][4], mb[4][4];
  registr_transform_matrix(&a, ma);
  registr_transform_matrix(&b, mb);
  *offset = 0;
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {double(c & 1), double((c >> 1) & 1), double((c >> 2) & 1)};
    double d2 = 0;
    for (int k = 0; k < 3; ++k) {
      const double d = (p[0] * ma[0][k] + p[1] * ma[1][k] + p[2] * ma[2][k] + ma[3][k]) -
                       (p[0] * mb[0][k] + p[1] * mb[1][k] + p[2] * mb[2][k] + mb[3][k]);
      d2 += d * d;
    }
    *offset = std::max(*offset, std::sqrt(d2));
  }
}

// The largest eigenvector of a symmetric 4 x 4 matrix by cyclic Jacobi rotations.
void LargestEigenvector(double N[4][4], double v[4]) {
  double V[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    double off = 0;
    for (int i = 0; i < 4; ++i)
      for (int j = i + 1; j < 4; ++j) off += N[i][j] * N[i][j];
    if (off < 1e-30) break;
    for (int p = 0; p < 4; ++p)
      for (int q = p + 1; q < 4; ++q) {
        if (N[p][q] == 0.0) continue;
        const double theta = 0.5 * (N[q][q] - N[p][p]) / N[p][q];
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 4; ++k) {
          const double a = N[k][p], b = N[k][q];
          N[k][p] = c * a - s * b, N[k][q] = s * a + c * b;
        }
        for (int k = 0; k < 4; ++k) {
          const double a = N[p][k], b = N[q][k];
          N[p][k] = c * a - s * b, N[q][k] = s * a + c * b;
        }
        for (int k = 0; k < 4; ++k) {
          const double a = V[k][p], b = V[k][q];
          V[k][p] = c * a - s * b, V[k][q] = s * a + c * b;
        }
      }
  }
  int best = 0;
  for (int i = 1; i < 4; ++i)
    if (N[i][i] > N[best][best]) best = i;
  for (int k = 0; k < 4; ++k) v[k] = V[k][best];
}

// The plain point-to-point loop: pair every moved point with its nearest target point (the
// reference tree), solve the closed form (unit quaternion of the largest eigenvalue) over the
// pairs within maxDistance, repeat until the RMS of those pairs stops falling by more than a
// relative 1e-12 or the iteration limit.
struct PlainResult {
  RegVec motion;
  double rms;
  int iterations;
};

PlainResult PlainLoop(const Points& a, const RefTree& ref, const Points& b, int maxIterations,
                      double maxDistance = 1e300) {
  RegVec cur = {{1, 0, 0, 0}, {0, 0, 0}};
  const int n = a.n();
  std::vector<double> qx(n), qy(n), qz(n);
  std::vector<char> near(n);
  const bool rejecting = maxDistance < 1e300;
  double prev = 1e300, rms = 0;
  int it = 0;
  while (it < maxIterations) {
    double m[4][4];
    registr_transform_matrix(&cur, m);
    double ca[3] = {0, 0, 0}, cb[3] = {0, 0, 0}, total = 0;
    int used = 0;
    for (int i = 0; i < n; ++i) {
      const double p[3] = {a.x[i], a.y[i], a.z[i]};
      float f[3];
      for (int k = 0; k < 3; ++k) f[k] = float(p[0] * m[0][k] + p[1] * m[1][k] + p[2] * m[2][k] + m[3][k]);
      unsigned j = 0;
      double d2 = 0;
      ref.knnSearch(f, 1, &j, &d2);
      qx[i] = b.x[j], qy[i] = b.y[j], qz[i] = b.z[j];
      near[i] = d2 <= maxDistance * maxDistance;
      if (!near[i]) continue;
      total += d2, ++used;
      ca[0] += p[0], ca[1] += p[1], ca[2] += p[2];
      cb[0] += qx[i], cb[1] += qy[i], cb[2] += qz[i];
    }
    ++it;
    if (used < 3) break;
    rms = std::sqrt(total / used);
    // With rejection the RMS of the near pairs rises as pairs come within reach: the loop runs
    // until the motion stops changing instead.
    if (!rejecting && prev - rms <= 1e-12 * prev) break;
    prev = rms;
    for (int k = 0; k < 3; ++k) ca[k] /= used, cb[k] /= used;
    double S[3][3] = {};
    for (int i = 0; i < n; ++i) {
      if (!near[i]) continue;
      const double p[3] = {a.x[i] - ca[0], a.y[i] - ca[1], a.z[i] - ca[2]};
      const double q[3] = {qx[i] - cb[0], qy[i] - cb[1], qz[i] - cb[2]};
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) S[r][c] += p[r] * q[c];
    }
    double N[4][4] = {{S[0][0] + S[1][1] + S[2][2], S[1][2] - S[2][1], S[2][0] - S[0][2], S[0][1] - S[1][0]},
                      {S[1][2] - S[2][1], S[0][0] - S[1][1] - S[2][2], S[0][1] + S[1][0], S[2][0] + S[0][2]},
                      {S[2][0] - S[0][2], S[0][1] + S[1][0], -S[0][0] + S[1][1] - S[2][2], S[1][2] + S[2][1]},
                      {S[0][1] - S[1][0], S[2][0] + S[0][2], S[1][2] + S[2][1], -S[0][0] - S[1][1] + S[2][2]}};
    const RegVec last = cur;
    LargestEigenvector(N, cur.q);
    if (cur.q[0] < 0)
      for (double& c : cur.q) c = -c;
    cur.t[0] = cur.t[1] = cur.t[2] = 0;
    registr_transform_matrix(&cur, m);
    for (int k = 0; k < 3; ++k) cur.t[k] = cb[k] - (ca[0] * m[0][k] + ca[1] * m[1][k] + ca[2] * m[2][k]);
    double change = 0;
    for (int k = 0; k < 4; ++k) change = std::max(change, std::fabs(cur.q[k] - last.q[k]));
    for (int k = 0; k < 3; ++k) change = std::max(change, std::fabs(cur.t[k] - last.t[k]));
    if (rejecting && change < 1e-12) break;
  }
  return PlainResult{cur, rms, it};
}

struct IcpCase {
  Points target, moving;
  RegVec truth;  // brings the moving cloud back onto the target
  IcpCase() : target(Sheet(20000, 5)), truth(SixDegrees()) {
    RegVec inv = {{truth.q[0], -truth.q[1], -truth.q[2], -truth.q[3]}, {0, 0, 0}};
    double m[4][4];
    registr_transform_matrix(&inv, m);
    double t[3];
    for (int k = 0; k < 3; ++k) t[k] = -(truth.t[0] * m[0][k] + truth.t[1] * m[1][k] + truth.t[2] * m[2][k]);
    for (int k = 0; k < 3; ++k) inv.t[k] = t[k];
    moving = target;
    TransformPntSet(target.x.data(), target.y.data(), target.z.data(), target.n(), &inv, moving.x.data(),
                    moving.y.data(), moving.z.data());
  }
};

RegParams Tight() {
  RegParams params;
  SetDefaultRegParams(&params);
  params.tolerance = 1e-9;
  params.relTolerance = 1e-12;
  params.maxIterations = 200;
  return params;
}

// ICPPntSet and the plain loop from the identity on the case: both run to convergence,
// the counters give each one's iterations, final RMS and motion error, and the time per iteration.
void BM_ICPLoopVsPlainLoop20k(benchmark::State& state) {
  const IcpCase c;
  KDTree* tree = Create3DTree(c.target.x.data(), c.target.y.data(), c.target.z.data(), c.target.n(), 10);
  Adaptor ad{&c.target};
  RefTree ref(3, ad, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  ref.buildIndex();
  const RegParams params = Tight();
  ICPLoopReport report = {};
  RegVec ours = {{1, 0, 0, 0}, {0, 0, 0}};
  PlainResult plain = {};
  const ICPStep step = FreeICPStep();
  bench::Compare(
      state, 1,
      [&] {
        ours = RegVec{{1, 0, 0, 0}, {0, 0, 0}};
        double error, largest;
        int brk;
        RunICPLoop(c.moving.x.data(), c.moving.y.data(), c.moving.z.data(), c.moving.n(), params, tree, step, &ours,
                   &error, &largest, &brk, &report);
      },
      [&] { plain = PlainLoop(c.moving, ref, c.target, 200); });
  double angle, offset;
  MotionError(ours, c.truth, &angle, &offset);
  state.counters["iterations"] = report.iterations;
  state.counters["rms"] = report.error;
  state.counters["converged"] = report.converged;
  state.counters["rad_off"] = angle;
  state.counters["offset"] = offset;
  MotionError(plain.motion, c.truth, &angle, &offset);
  state.counters["plain_iterations"] = plain.iterations;
  state.counters["plain_rms"] = plain.rms;
  state.counters["plain_rad_off"] = angle;
  // Time per iteration, ours over the plain loop's.
  state.counters["ratio_per_iteration"] =
      state.counters["ratio"] * double(plain.iterations) / double(std::max(report.iterations, 1));
  FreeKDTree(tree);
}
BENCHMARK(BM_ICPLoopVsPlainLoop20k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

// The whole two-cloud registration on the same case with the same settings.
void BM_ICPtwoClouds20k(benchmark::State& state) {
  const IcpCase c;
  Cloud* target = MakeCld(c.target.x.data(), c.target.y.data(), c.target.z.data(), c.target.n(), nullptr);
  Cloud* moving = MakeCld(c.moving.x.data(), c.moving.y.data(), c.moving.z.data(), c.moving.n(), nullptr);
  const RegParams params = Tight();
  RegVec m = {};
  double error = 0, largest = 0;
  for (auto _ : state) {
    m = RegVec{{1, 0, 0, 0}, {0, 0, 0}};
    int brk = 0;
    ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk);
    benchmark::DoNotOptimize(m);
  }
  double angle, offset;
  MotionError(m, c.truth, &angle, &offset);
  state.counters["rms"] = error;
  state.counters["rad_off"] = angle;
  state.counters["offset"] = offset;
  FreeCloud(target);
  FreeCloud(moving);
}
BENCHMARK(BM_ICPtwoClouds20k)->Unit(benchmark::kMillisecond)->Iterations(3);

// A partial overlap: the sheet against a moved copy of its part with x < 0.7 (60 to 70% of the
// points), turned 5, 10 or 20 degrees, pairs beyond 0.02 of the diagonal left out: the whole
// registration with defaults beside the plain loop with the same rejection (200 iterations),
// each one's rotation error in degrees and time.
void BM_ICPtwoCloudsPartialOverlap20k(benchmark::State& state) {
  const double degrees = double(state.range(0));
  const Points whole = Sheet(20000, 5);
  Points part;
  for (int i = 0; i < whole.n(); ++i)
    if (whole.x[i] < 0.7f) part.x.push_back(whole.x[i]), part.y.push_back(whole.y[i]), part.z.push_back(whole.z[i]);
  const double h = degrees * kPi / 360.0, a[3] = {0.267261, 0.534522, 0.801784};
  const RegVec truth = {{std::cos(h), std::sin(h) * a[0], std::sin(h) * a[1], std::sin(h) * a[2]}, {0.03, -0.03, 0.02}};
  Points target = part;
  TransformPntSet(part.x.data(), part.y.data(), part.z.data(), part.n(), &truth, target.x.data(), target.y.data(),
                  target.z.data());
  Cloud* A = MakeCld(whole.x.data(), whole.y.data(), whole.z.data(), whole.n(), nullptr);
  Cloud* B = MakeCld(target.x.data(), target.y.data(), target.z.data(), target.n(), nullptr);
  Adaptor ad{&target};
  RefTree ref(3, ad, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  ref.buildIndex();
  RegParams params;
  SetDefaultRegParams(&params);
  params.maxDistance = 0.02 * std::sqrt(2.0 + 0.25 * 0.25);
  RegVec ours = {};
  int status = 0;
  PlainResult plain = {};
  const auto registerAll = [&] {
    ours = RegVec{{1, 0, 0, 0}, {0, 0, 0}};
    double error, largest;
    int brk;
    status = ICPtwoClouds(A, B, params, &ours, &error, &largest, &brk);
  };
  bench::Compare(state, 1, registerAll, [&] { plain = PlainLoop(whole, ref, target, 200, params.maxDistance); });
  double angle, offset;
  MotionError(ours, truth, &angle, &offset);
  state.counters["status"] = status;
  state.counters["deg_off"] = angle * 180.0 / kPi;
  MotionError(plain.motion, truth, &angle, &offset);
  state.counters["plain_deg_off"] = angle * 180.0 / kPi;
  state.counters["plain_iterations"] = plain.iterations;
  FreeCloud(A);
  FreeCloud(B);
}
BENCHMARK(BM_ICPtwoCloudsPartialOverlap20k)->Arg(5)->Arg(10)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Two different random samplings of a wavy 100 x 100 sheet (the points do not correspond), 5
// degrees about a tilted axis and 2% of the size apart: the whole registration with defaults.
void BM_ICPtwoClouds10k(benchmark::State& state) {
  auto sheet = [](unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 100.0f);
    std::vector<float> x(10000), y(10000), z(10000);
    for (int i = 0; i < 10000; ++i) {
      x[i] = u(rng), y[i] = u(rng);
      z[i] = float(12.0 * std::sin(x[i] / 15.0) * std::cos(y[i] / 20.0) + 0.002 * x[i] * y[i]);
    }
    return MakeCld(x.data(), y.data(), z.data(), 10000, nullptr);
  };
  Cloud* target = sheet(3);
  Cloud* moving = sheet(4);
  const double h = 5.0 * kPi / 360.0, a[3] = {0.267, 0.535, 0.802};
  const RegVec off = {{std::cos(h), std::sin(h) * a[0], std::sin(h) * a[1], std::sin(h) * a[2]}, {1.2, -1.2, 1.0}};
  TransformPntSet(moving->x, moving->y, moving->z, moving->npts, &off, moving->x, moving->y, moving->z);
  RegParams params;
  SetDefaultRegParams(&params);
  params.tolerance = 1e-6;
  double error = 0, largest = 0;
  for (auto _ : state) {
    RegVec m = {{1, 0, 0, 0}, {0, 0, 0}};
    int brk = 0;
    ICPtwoClouds(moving, target, params, &m, &error, &largest, &brk);
    benchmark::DoNotOptimize(m);
  }
  state.counters["rms"] = error;
  FreeCloud(target);
  FreeCloud(moving);
}
BENCHMARK(BM_ICPtwoClouds10k)->Unit(benchmark::kMillisecond);

}  // namespace
