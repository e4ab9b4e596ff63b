// Scattered first and second derivatives of the 12 x 10 bicubic surface (non-rational and
// rational) beside a plain textbook evaluation written here: the span by bisection, the basis
// functions and their derivatives from the triangular table of the recurrence, the window
// summed with the derivative rows, and for a rational surface the homogeneous derivatives of
// every lower order turned into the Cartesian one by the quotient rule. 10^4 parameters per
// call; results are compared first. Counters: ours_ns, ref_ns per call, ratio = ours / ref.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bench/compare.h"
#include "bench/shapes.h"
#include "bench/textbook.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"

namespace {

constexpr int kPoints = 10000;
using bench::BasisDerivatives;
using bench::kMaxP;
using bench::Span;
constexpr int kMaxD = 2;

// Derivative (du, dv) at (u, v): homogeneous sums A(k, l) for k <= du, l <= dv (the requested
// one only for a non-rational surface), then the quotient rule
//   S(k, l) = (A(k, l) - sum over (i, j) != (0, 0) of C(k, i) C(l, j) w(i, j) S(k - i, l - j)) / w.
void TextbookDerivative(const Bspline* s, double u, double v, int du, int dv, double out[3]) {
  const int p = s->degreeU, q = s->degreeV, nu = NumCtrlU(s), nv = NumCtrlV(s);
  const int su = Span(s->knotsU, nu, p, u), sv = Span(s->knotsV, nv, q, v);
  double Nu[kMaxD + 1][kMaxP + 1], Nv[kMaxD + 1][kMaxP + 1];
  BasisDerivatives(s->knotsU, su, p, u, du, Nu);
  BasisDerivatives(s->knotsV, sv, q, v, dv, Nv);
  const bool rational = s->rational != 0;
  const int k0 = rational ? 0 : du, l0 = rational ? 0 : dv;
  double A[kMaxD + 1][kMaxD + 1][4];
  for (int k = k0; k <= du; ++k) {
    // temp[r]: row r of the window summed with the k-th u derivatives.
    double temp[kMaxP + 1][4];
    for (int r = 0; r <= q; ++r) {
      const int row = sv - q + r;
      double acc[4] = {0.0, 0.0, 0.0, 0.0};
      for (int c = 0; c <= p; ++c) {
        const int col = su - p + c;
        const double w = rational ? s->W[row][col] : 1.0;
        const double n = Nu[k][c];
        acc[0] += n * (w * s->X[row][col]);
        acc[1] += n * (w * s->Y[row][col]);
        acc[2] += n * (w * s->Z[row][col]);
        acc[3] += n * w;
      }
      for (int e = 0; e < 4; ++e) temp[r][e] = acc[e];
    }
    for (int l = l0; l <= dv; ++l)
      for (int e = 0; e < 4; ++e) {
        double sum = 0.0;
        for (int r = 0; r <= q; ++r) sum += Nv[l][r] * temp[r][e];
        A[k][l][e] = sum;
      }
  }
  if (!rational) {
    for (int e = 0; e < 3; ++e) out[e] = A[du][dv][e];
    return;
  }
  static const double C[3][3] = {{1, 0, 0}, {1, 1, 0}, {1, 2, 1}};
  double S[kMaxD + 1][kMaxD + 1][3];
  for (int k = 0; k <= du; ++k)
    for (int l = 0; l <= dv; ++l)
      for (int e = 0; e < 3; ++e) {
        double val = A[k][l][e];
        for (int i = 0; i <= k; ++i)
          for (int j = 0; j <= l; ++j)
            if (i || j) val -= C[k][i] * C[l][j] * A[i][j][3] * S[k - i][l - j][e];
        S[k][l][e] = val / A[0][0][3];
      }
  for (int e = 0; e < 3; ++e) out[e] = S[du][dv][e];
}

constexpr int kOrders[5][2] = {{1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}};

void BM_ScatteredDerivsVsTextbook(benchmark::State& state) {
  const bool rational = state.range(0) != 0;
  const int du = kOrders[state.range(1)][0], dv = kOrders[state.range(1)][1];
  Bspline* s = bench::Bicubic(rational);
  std::vector<double> u(kPoints), v(kPoints);
  bench::RandomParams(77, u, v);
  double acc = 0.0;
  auto ours = [&] {
    for (int i = 0; i < kPoints; ++i) {
      double r[3];
      Eval3DPointOnSurfArray(s, u[i], v[i], du, dv, r);
      acc += r[0] + r[1] + r[2];
    }
  };
  auto ref = [&] {
    for (int i = 0; i < kPoints; ++i) {
      double r[3];
      TextbookDerivative(s, u[i], v[i], du, dv, r);
      acc += r[0] + r[1] + r[2];
    }
  };
  double diff = 0.0;
  for (int i = 0; i < kPoints; i += 7) {
    double a[3], b[3];
    Eval3DPointOnSurfArray(s, u[i], v[i], du, dv, a);
    TextbookDerivative(s, u[i], v[i], du, dv, b);
    const double scale = 1.0 + std::max({std::fabs(b[0]), std::fabs(b[1]), std::fabs(b[2])});
    for (int e = 0; e < 3; ++e) diff = std::max(diff, std::fabs(a[e] - b[e]) / scale);
  }
  state.counters["max_rel_diff"] = diff;
  state.SetLabel(std::string(rational ? "rational " : "") + "d" + std::to_string(du) +
                 std::to_string(dv));
  if (diff > 1e-10)
    state.SkipWithError("kernel and textbook derivatives differ");
  else
    bench::Compare(state, 1, ours, ref, kPoints);
  benchmark::DoNotOptimize(acc);
  FreeBspline(s);
}
BENCHMARK(BM_ScatteredDerivsVsTextbook)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
