// Closest points: on a bicubic surface from a good start (the inner step of sampling a boundary
// against its neighbour and of measuring a cloud against a surface), on a wavy bicubic with its
// grid kept, and closest parameters on a space curve (one query each call beside a plain global
// projection: coarse samples and a safeguarded Newton). Each reports, beside the time per query,
// the worst error against the exact answer: points are placed at known normal offsets from known
// feet (offset below the radius of curvature on that side, ratio up to 0.95), and a point whose
// known foot is not the nearest point of a dense sampling is left out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bench/compare.h"
#include "bench/shapes.h"
#include "bench/textbook.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "curve/crvutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfpick.h"

namespace {

// A wavy bicubic patch of 10 x 10 control points over the unit square, uniform knots.
Bspline* WavyBicubic() { return bench::WaveBicubic(10, 0.2, 4.0, 3.0); }

struct Query {
  double P[3];
  double u, v;  // the start: a little off the true foot, as a grid estimate would give
  double foot[3];
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
    for (int k = 0; k < 3; ++k) q.foot[k] = d[0][k];
    q.u = u0 + jitter(rng);
    q.v = v0 + jitter(rng);
  }
  double worst = 0.0;
  for (const Query& q : queries) {
    double u = q.u, v = q.v, S[3], dist, step;
    FindClosestUVPointGuessDist(s, q.P, S, &u, &v, &dist, &step, 20);
    worst = std::fmax(worst, VecDist3(S, q.foot));
  }
  size_t i = 0;
  for (auto _ : state) {
    const Query& q = queries[i++ & 255];
    double u = q.u, v = q.v, S[3], dist, step;
    benchmark::DoNotOptimize(FindClosestUVPointGuessDist(s, q.P, S, &u, &v, &dist, &step, 20));
    benchmark::DoNotOptimize(dist);
  }
  state.counters["worst_foot_error"] = worst / ControlPointDiagonal(s);
  state.SetItemsProcessed(state.iterations());
  FreeBspline(s);
}
BENCHMARK(BM_ClosestPointOnBicubic);

// The global closest point (grid, refinement, rival minima) on a bicubic of 9 x 9 control points
// over the unit square, z a wave at the Greville abscissae, knots uniform (Arg 0), with three
// knots 1e-12 apart at 0.5 both ways (Arg 1) or a triple knot there (Arg 2), from points within
// 1e-3 .. 0.1 of the surface.
Bspline* GrevilleWave(int knots) {
  Bspline* s = MallocInitSurfaceBspline();
  s->interiorU = s->interiorV = 5;
  AllocateBsplineArrays(s);
  const double uniform[13] = {0, 0, 0, 0, 1.0 / 6, 2.0 / 6, 3.0 / 6, 4.0 / 6, 5.0 / 6, 1, 1, 1, 1};
  const double cluster[13] = {0, 0, 0, 0, 0.25, 0.5, 0.5 + 1e-12, 0.5 + 2e-12, 0.75, 1, 1, 1, 1};
  const double triple[13] = {0, 0, 0, 0, 0.25, 0.5, 0.5, 0.5, 0.75, 1, 1, 1, 1};
  const double* k = knots == 0 ? uniform : (knots == 1 ? cluster : triple);
  for (int i = 0; i < 13; ++i) s->knotsU[i] = s->knotsV[i] = k[i];
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 9; ++i) {
      const double x = (k[i + 1] + k[i + 2] + k[i + 3]) / 3, y = (k[j + 1] + k[j + 2] + k[j + 3]) / 3;
      s->X[j][i] = x;
      s->Y[j][i] = y;
      s->Z[j][i] = 0.15 * std::sin(3.0 * x + 0.5) * std::cos(2.5 * y) + 0.1 * x * y;
    }
  return s;
}

void BM_GlobalClosestPointOnClusteredKnots(benchmark::State& state) {
  Bspline* s = GrevilleWave(int(state.range(0)));
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0.05, 0.95), H(-3.0, -1.0);
  std::vector<std::vector<double>> points(16);
  for (auto& P : points) {
    const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
    double d[3][3], n[3];
    EvalPointOnGeometryM(s, U(rng), U(rng), du, dv, 3, 0, d);
    VecNormalize3(VecCrossProd3(d[1], d[2], n), n);
    const double h = std::pow(10.0, H(rng)) * (rng() % 2 ? 1.0 : -1.0);
    P = {d[0][0] + h * n[0], d[0][1] + h * n[1], d[0][2] + h * n[2]};
  }
  size_t i = 0;
  for (auto _ : state) {
    const std::vector<double>& P = points[i++ & 15];
    double out[3];
    benchmark::DoNotOptimize(FindClosestPointOnBspline(s, P[0], P[1], P[2], out));
  }
  state.SetItemsProcessed(state.iterations());
  FreeBspline(s);
}
BENCHMARK(BM_GlobalClosestPointOnClusteredKnots)->Arg(0)->Arg(1)->Arg(2);

// ---- points at known normal offsets -------------------------------------------------------

struct Placed {
  double P[3];
  double foot[3];
  double t[2];   // the foot's parameters
  double h;      // |P - foot|
  double ratio;  // offset over the radius of curvature on P's side
};

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The wavy bicubic of the measurements that showed the fault: 8 x 8 control points, scaled to
// a control-point diagonal of 1.
Bspline* Wavy8() {
  Bspline* s = bench::WaveBicubic(8, 0.12, 7.0, 6.0);
  const double scale = 1.0 / ControlPointDiagonal(s);
  for (int j = 0; j < 8; ++j)
    for (int i = 0; i < 8; ++i) {
      s->X[j][i] *= scale;
      s->Y[j][i] *= scale;
      s->Z[j][i] *= scale;
    }
  return s;
}

// Feet in [0.1, 0.9]^2, offsets 0.01 .. 0.2 on either side, each below 0.95 of the smallest
// radius of curvature on its side; feet that a dense sampling beats are left out.
std::vector<Placed> PlacedOnSurface(Bspline* s, int count) {
  const int m = 400;
  std::vector<double> dense(3 * (m + 1) * (m + 1));
  for (int j = 0; j <= m; ++j)
    for (int i = 0; i <= m; ++i)
      Eval3DPointOnSurfCoord(s, double(i) / m, double(j) / m, 0, 0, &dense[3 * (j * (m + 1) + i)]);
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> U(0.1, 0.9), H(0.01, 0.2), side(-1.0, 1.0);
  std::vector<Placed> out;
  while (int(out.size()) < count) {
    Placed p;
    p.t[0] = U(rng);
    p.t[1] = U(rng);
    const int du[6] = {0, 1, 0, 2, 1, 0}, dv[6] = {0, 0, 1, 0, 1, 2};
    double d[6][3], n[3];
    EvalPointOnGeometryM(s, p.t[0], p.t[1], du, dv, 6, 0, d);
    VecNormalize3(VecCrossProd3(d[1], d[2], n), n);
    const double sign = side(rng) < 0 ? -1.0 : 1.0;
    // Principal curvatures towards P's side: eigenvalues of I^-1 II with II taken along sign n.
    const double E = Dot(d[1], d[1]), F = Dot(d[1], d[2]), G = Dot(d[2], d[2]);
    const double L = sign * Dot(d[3], n), M = sign * Dot(d[4], n), N = sign * Dot(d[5], n);
    const double det = E * G - F * F;
    const double meanK = (E * N - 2 * F * M + G * L) / (2 * det), gaussK = (L * N - M * M) / det;
    const double kMax = meanK + std::sqrt(std::fmax(meanK * meanK - gaussK, 0.0));
    // A foot is a minimum of the distance while h kMax < 1 (kMax > 0: P on the concave side).
    double h = H(rng);
    if (kMax > 0 && h * kMax > 0.95) h = 0.95 / kMax * std::uniform_real_distribution<double>(0.5, 1.0)(rng);
    p.h = h;
    p.ratio = kMax > 0 ? h * kMax : 0.0;
    for (int k = 0; k < 3; ++k) {
      p.foot[k] = d[0][k];
      p.P[k] = d[0][k] + sign * h * n[k];
    }
    double best = 1e300;
    for (size_t k = 0; k < dense.size(); k += 3) best = std::fmin(best, VecDist3(&dense[k], p.P));
    if (best < h - 1e-5) continue;  // another part of the surface is nearer
    out.push_back(p);
  }
  return out;
}

void BM_ClosestPointOnWavy8x8KeptGrid(benchmark::State& state) {
  Bspline* s = Wavy8();
  const std::vector<Placed> pts = PlacedOnSurface(s, 2000);
  double *gx = nullptr, *gy = nullptr, *gz = nullptr;
  double worst = 0.0, worstDist = 0.0, worstHighRatio = 0.0;
  int off = 0, distOff = 0;
  for (const Placed& p : pts) {
    double u, v, S[3], d, e;
    GetClosestPointOnSurfaceResult(s, p.P, &u, &v, S, &d, &gx, &gy, &gz, &e);
    const double err = VecDist3(S, p.foot), derr = std::fabs(std::fabs(d) - p.h) / p.h;
    worst = std::fmax(worst, err);
    if (p.ratio > 0.5) worstHighRatio = std::fmax(worstHighRatio, err);
    worstDist = std::fmax(worstDist, derr);
    off += err > 2e-5;
    distOff += derr > 1e-7;
  }
  size_t i = 0;
  for (auto _ : state) {
    const Placed& p = pts[i++ % pts.size()];
    double u, v, S[3], d, e;
    benchmark::DoNotOptimize(GetClosestPointOnSurfaceResult(s, p.P, &u, &v, S, &d, &gx, &gy, &gz, &e));
    benchmark::DoNotOptimize(S);
  }
  state.counters["points"] = pts.size();
  state.counters["worst_foot_error"] = worst;
  state.counters["worst_foot_error_ratio_over_0.5"] = worstHighRatio;
  state.counters["feet_off_2e-5"] = off;
  state.counters["worst_rel_dist_error"] = worstDist;
  state.counters["dists_off_1e-7"] = distOff;
  state.SetItemsProcessed(state.iterations());
  for (double* a : {gx, gy, gz}) Free(a);
  FreeBspline(s);
}
BENCHMARK(BM_ClosestPointOnWavy8x8KeptGrid);

// A space cubic of 30 control points winding on a helix-like path, size about 1.
Bspline* Winding30() {
  return bench::CubicThrough(
      30, [](double s) { return 0.6 * s; }, [](double s) { return 0.15 * std::sin(11.0 * s); },
      [](double s) { return 0.15 * std::cos(7.0 * s) + 0.1 * s * s; });
}

// The parameter of the foot of P: a root of r . C' bracketed around the known foot, found by
// bisection (an independent reference, exact to round-off).
double FootByBisection(Bspline* c, const double P[3], double a, double b) {
  auto g = [&](double t) {
    const int du[2] = {0, 1}, dv[2] = {0, 0};
    double d[2][3];
    EvalPointOnGeometryM(c, t, 0.0, du, dv, 2, 0, d);
    const double r[3] = {d[0][0] - P[0], d[0][1] - P[1], d[0][2] - P[2]};
    return Dot(r, d[1]);
  };
  double ga = g(a);
  for (int k = 0; k < 200 && b - a > 1e-17; ++k) {
    const double m = 0.5 * (a + b), gm = g(m);
    if ((gm < 0) == (ga < 0)) {
      a = m;
      ga = gm;
    } else {
      b = m;
    }
  }
  return 0.5 * (a + b);
}

// Feet in [0.02, 0.98], offsets up to 0.2 across the tangent with ratios up to 0.95 on the
// concave side, the foot clearly the nearest point; the point is rounded to floats (the
// query's input) and its foot found again.
std::vector<Placed> PlacedOnCurve(Bspline* c, int count) {
  const int m = 20000;
  std::vector<double> dense(3 * (m + 1));
  for (int i = 0; i <= m; ++i) Eval3DPointOnCurve3Coord(c, double(i) / m, 0, &dense[3 * i]);
  std::mt19937 rng(77);
  std::uniform_real_distribution<double> U(0.02, 0.98), H(0.005, 0.2), A(0.0, 2.0 * M_PI);
  std::vector<Placed> out;
  while (int(out.size()) < count) {
    Placed p;
    const double t0 = U(rng);
    const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
    double d[3][3], T[3], N[3], B[3];
    EvalPointOnGeometryM(c, t0, 0.0, du, dv, 3, 0, d);
    VecNormalize3(d[1], T);
    const double a = Dot(d[2], T);
    for (int k = 0; k < 3; ++k) N[k] = d[2][k] - a * T[k];
    const double kappa = VecSize3(N) / Dot(d[1], d[1]);
    VecNormalize3(N, N);
    VecCrossProd3(T, N, B);
    const double ang = A(rng);
    double n[3];
    for (int k = 0; k < 3; ++k) n[k] = std::cos(ang) * N[k] + std::sin(ang) * B[k];
    const double kSide = kappa * std::cos(ang);  // curvature towards n
    double h = H(rng);
    if (kSide > 0 && h * kSide > 0.95) h = 0.95 / kSide * std::uniform_real_distribution<double>(0.5, 1.0)(rng);
    for (int k = 0; k < 3; ++k) {
      volatile float rounded = static_cast<float>(d[0][k] + h * n[k]);  // kept a float at any optimisation
      p.P[k] = rounded;
    }
    // Another part of the curve as near (within 1e-3) would make the answer a toss-up.
    double elsewhere = 1e300;
    for (int i = 0; i <= m; ++i)
      if (std::fabs(double(i) / m - t0) > 0.01) elsewhere = std::fmin(elsewhere, VecDist3(&dense[3 * i], p.P));
    if (elsewhere < h + 1e-3) continue;
    p.t[0] = FootByBisection(c, p.P, t0 - 1e-3, t0 + 1e-3);
    Eval3DPointOnCurve3Coord(c, p.t[0], 0, p.foot);
    p.h = VecDist3(p.P, p.foot);
    p.ratio = kSide > 0 ? h * kSide : 0.0;
    out.push_back(p);
  }
  return out;
}

// A plain global projection, the reference for one query without a kept cache, on a
// non-rational curve with its own textbook evaluation (span search, basis functions and their
// derivatives): the curve sampled at p + 1 points per span (each call anew), the nearest
// sample, then Newton on g(t) = (C(t) - P) . C'(t) kept inside the samples' bracket (bisection
// when a step leaves it or fails to shrink |g|) to round-off.
struct PlainCurve {
  int p, n;  // degree, control points
  const double* U;
  const double* P[3];
  explicit PlainCurve(const Bspline* c)
      : p(c->degreeU), n(NumCtrlU(c)), U(c->knotsU), P{c->X[0], c->Y[0], c->Z[0]} {}
  // Point and derivatives up to d (<= 2) at t: out[k][coordinate].
  void Eval(double t, int d, double out[3][3]) const {
    const int s = bench::Span(U, n, p, t);
    double ders[3][bench::kMaxP + 1];
    bench::BasisDerivatives(U, s, p, t, d, ders);
    for (int k = 0; k <= d; ++k)
      for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (int j = 0; j <= p; ++j) sum += ders[k][j] * P[c][s - p + j];
        out[k][c] = sum;
      }
  }
};

double PlainProjection(const PlainCurve& c, const double P[3]) {
  const int p = c.p, spans = c.n - p, per = p + 1;
  const double* U = c.U;
  double ts[512];
  int m = 0;
  for (int s = 0; s < spans; ++s)
    for (int k = 0; k < per; ++k) ts[m++] = U[p + s] + (U[p + s + 1] - U[p + s]) * k / per;
  ts[m++] = U[c.n];
  int best = 0;
  double bestD = 1e300;
  for (int i = 0; i < m; ++i) {
    double C[3][3];
    c.Eval(ts[i], 0, C);
    const double d = VecDist3(C[0], P);
    if (d < bestD) bestD = d, best = i;
  }
  double a = ts[std::max(best - 1, 0)], b = ts[std::min(best + 1, m - 1)], t = ts[best];
  auto g = [&](double x, double* dg) {
    double d[3][3];
    c.Eval(x, 2, d);
    const double r[3] = {d[0][0] - P[0], d[0][1] - P[1], d[0][2] - P[2]};
    *dg = Dot(d[1], d[1]) + Dot(r, d[2]);
    return Dot(r, d[1]);
  };
  double dg, gt = g(t, &dg);
  double dga, ga = g(a, &dga);
  for (int k = 0; k < 60; ++k) {
    double next = dg > 0 ? t - gt / dg : 0.5 * (a + b);
    if (!(next > a && next < b)) next = 0.5 * (a + b);
    double dn, gn = g(next, &dn);
    if (std::fabs(gn) > std::fabs(gt)) {  // no progress: bisect the bracket instead
      next = 0.5 * (a + b);
      gn = g(next, &dn);
    }
    if ((gn < 0) == (ga < 0)) {
      a = next;
      ga = gn;
    } else {
      b = next;
    }
    const double step = std::fabs(next - t);
    t = next, gt = gn, dg = dn;
    if (step <= 1e-15 * (U[c.n] - U[p]) || gt == 0.0) break;
  }
  return t;
}

// Times GetPointParOnCurve3 on the points (float input) beside the plain Newton projection.
void ComparePointParameter(benchmark::State& state, Bspline* c, const PlainCurve& plain,
                           const std::vector<Placed>& pts) {
  size_t i = 0, j = 0;
  bench::Compare(
      state, 64,
      [&] {
        const Placed& p = pts[i++ % pts.size()];
        double t;
        benchmark::DoNotOptimize(GetPointParOnCurve3(c, float(p.P[0]), float(p.P[1]), float(p.P[2]), &t));
        benchmark::DoNotOptimize(t);
      },
      [&] {
        const Placed& p = pts[j++ % pts.size()];
        benchmark::DoNotOptimize(PlainProjection(plain, p.P));
      });
}

void BM_ClosestParamOnWindingCurve(benchmark::State& state) {
  Bspline* c = Winding30();
  const std::vector<Placed> pts = PlacedOnCurve(c, 2000);
  double worst = 0.0;
  int off = 0;
  for (const Placed& p : pts) {
    double t = 0.0, C[3];
    GetPointParOnCurve3(c, float(p.P[0]), float(p.P[1]), float(p.P[2]), &t);
    Eval3DPointOnCurve3Coord(c, t, 0, C);
    const double err = VecDist3(C, p.foot);
    worst = std::fmax(worst, err);
    off += err > 1e-9;
  }
  const PlainCurve plain(c);
  double refWorst = 0.0;
  for (const Placed& p : pts) {
    double C[3];
    Eval3DPointOnCurve3Coord(c, PlainProjection(plain, p.P), 0, C);
    refWorst = std::fmax(refWorst, VecDist3(C, p.foot));
  }
  ComparePointParameter(state, c, plain, pts);
  state.counters["ref_worst_foot_error"] = refWorst / ControlPointDiagonal(c);
  state.counters["points"] = pts.size();
  state.counters["worst_foot_error"] = worst / ControlPointDiagonal(c);
  state.counters["feet_off_1e-9"] = off;
  FreeBspline(c);
}
BENCHMARK(BM_ClosestParamOnWindingCurve)->UseManualTime();

// A point's parameter (GetPointParOnCurve3, float input) on a cubic helix of 3 turns (range
// 0) and a tight 60-point spiral (1): time per call beside the plain Newton projection, and the
// worst parameter error against the bisection foot of the float point, relative to the range,
// and the points whose parameter is off by more than 1e-9 of it (on the spiral, points whose
// next winding is nearly as near: the sample polyline's estimate may pick that one).
void BM_PointParameterOnCurves(benchmark::State& state) {
  Bspline* c = state.range(0) == 0
                   ? bench::CubicThrough(
                         40, [](double s) { return std::cos(6.0 * M_PI * s); },
                         [](double s) { return std::sin(6.0 * M_PI * s); }, [](double s) { return 0.4 * s; })
                   : bench::CubicThrough(
                         60, [](double s) { return (0.2 + s) * std::cos(8.0 * M_PI * s); },
                         [](double s) { return (0.2 + s) * std::sin(8.0 * M_PI * s); }, [](double) { return 0.0; });
  const std::vector<Placed> pts = PlacedOnCurve(c, 1000);
  double worst = 0.0;
  int off = 0;
  for (const Placed& p : pts) {
    double t = 0.0;
    GetPointParOnCurve3(c, float(p.P[0]), float(p.P[1]), float(p.P[2]), &t);
    worst = std::fmax(worst, std::fabs(t - p.t[0]) / (c->umax - c->umin));
    off += std::fabs(t - p.t[0]) > 1e-9 * (c->umax - c->umin);
  }
  const PlainCurve plain(c);
  ComparePointParameter(state, c, plain, pts);
  state.counters["points"] = pts.size();
  state.counters["worst_param_error"] = worst;
  state.counters["params_off_1e-9"] = off;
  FreeBspline(c);
}
BENCHMARK(BM_PointParameterOnCurves)->Arg(0)->Arg(1)->UseManualTime();

// The refinement alone from the sample cache's estimate, the cache kept: the inner step of
// measuring many points against one curve.
void BM_ClosestParamOnWindingCurveKeptCache(benchmark::State& state) {
  Bspline* c = Winding30();
  const std::vector<Placed> pts = PlacedOnCurve(c, 500);
  double *t = nullptr, *x = nullptr, *y = nullptr, *z = nullptr;
  int n = 0;
  double worst = 0.0;
  for (const Placed& p : pts) {
    double par, C[3], d2, step;
    EstimateClosestPntCurve(c, p.P, &t, &n, &x, &y, &z, nullptr, &par, 0);
    FindClosestPointCurve3(c, p.P, C, c->umin, c->umax, &par, &d2, &step, 7);
    worst = std::fmax(worst, VecDist3(C, p.foot));
  }
  size_t i = 0;
  for (auto _ : state) {
    const Placed& p = pts[i++ % pts.size()];
    double par, C[3], d2, step;
    EstimateClosestPntCurve(c, p.P, &t, &n, &x, &y, &z, nullptr, &par, 0);
    FindClosestPointCurve3(c, p.P, C, c->umin, c->umax, &par, &d2, &step, 7);
    benchmark::DoNotOptimize(par);
  }
  state.counters["worst_foot_error"] = worst / ControlPointDiagonal(c);
  state.SetItemsProcessed(state.iterations());
  for (double* a : {t, x, y, z}) Free(a);
  FreeBspline(c);
}
BENCHMARK(BM_ClosestParamOnWindingCurveKeptCache);

// Feet on a polyline (degree 1) of 64 or 1024 legs round half a turn of a helix, from the
// middle of the leg before the foot (second argument 0) or from the start of the curve (1):
// half the points lie in a corner's normal cone (outwards from the axis at a vertex, the foot
// the vertex), half over a leg's middle. Reports the worst foot error against the exact one
// relative to the size, and the feet not on their corner's knot exactly.
void BM_ClosestPointOnPolyline(benchmark::State& state) {
  const int legs = int(state.range(0));
  const bool farStart = state.range(1) == 1;
  Bspline* c = bench::UniformCurve(1, legs + 1);  // vertex i at i / legs
  for (int i = 0; i <= legs; ++i) {
    const double a = M_PI * i / legs;
    c->X[0][i] = std::cos(a);
    c->Y[0][i] = std::sin(a);
    c->Z[0][i] = 0.3 * i / legs;
  }
  struct Case {
    double P[3], foot[3], start;
    int corner;  // the vertex, or -1 over a leg
  };
  std::vector<Case> cases;
  for (int i = 1; i < legs; ++i) {
    Case v{{1.2 * c->X[0][i], 1.2 * c->Y[0][i], c->Z[0][i]}, {c->X[0][i], c->Y[0][i], c->Z[0][i]},
           farStart ? 0.0 : (i - 0.5) / legs, i};
    cases.push_back(v);
    const double m[3] = {0.5 * (c->X[0][i] + c->X[0][i + 1]), 0.5 * (c->Y[0][i] + c->Y[0][i + 1]),
                         0.5 * (c->Z[0][i] + c->Z[0][i + 1])};
    Case l{{1.1 * m[0], 1.1 * m[1], m[2]}, {m[0], m[1], m[2]}, farStart ? 0.0 : (i - 0.5) / legs, -1};
    cases.push_back(l);
  }
  double worst = 0.0;
  int offKnot = 0;
  for (const Case& q : cases) {
    double t = q.start, C[3], d2, step;
    FindClosestPointCurve3(c, q.P, C, c->umin, c->umax, &t, &d2, &step, 7);
    worst = std::fmax(worst, VecDist3(C, q.foot));
    offKnot += q.corner >= 0 && t != double(q.corner) / legs;
  }
  size_t i = 0;
  for (auto _ : state) {
    const Case& q = cases[i++ % cases.size()];
    double t = q.start, C[3], d2, step;
    FindClosestPointCurve3(c, q.P, C, c->umin, c->umax, &t, &d2, &step, 7);
    benchmark::DoNotOptimize(t);
  }
  state.counters["worst_foot_error"] = worst / ControlPointDiagonal(c);
  state.counters["corner_feet_off_knot"] = offKnot;
  state.SetItemsProcessed(state.iterations());
  FreeBspline(c);
}
BENCHMARK(BM_ClosestPointOnPolyline)->Args({64, 0})->Args({64, 1})->Args({1024, 0})->Args({1024, 1});

}  // namespace
