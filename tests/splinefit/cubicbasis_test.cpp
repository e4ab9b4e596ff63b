// Closed-form uniform cubic basis values against the textbook recursion: every span count
// 1..10, every span, t across the span and orders 0..3, in the evaluators' reverse order and
// derivative scaling; the clamped evaluators cover every span count (none is left unwritten).
#include <algorithm>
#include <cmath>
#include <vector>

#include "splinefit/aspline.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CubicBasis : public KernelTest {};

constexpr double kH = 0.37;  // span length: derivatives carry 1 / h^d
constexpr double kTs[] = {0.0, 0.13, 0.5, 0.77, 1.0};

// The reference at local t of a span starting at `start`; the third derivative jumps at knots,
// so it is taken inside the span (it is constant there).
void Reference(const std::vector<double>& knots, int first, double start, double t, int d, double ref[4]) {
  const double u = std::min(start + kH * (d == 3 ? 0.5 : t), knots.back());  // no rounding past the end
  for (int k = 0; k < 4; ++k) ref[k] = RefBasisDeriv(knots.data(), int(knots.size()), first + 3 - k, 3, d, u);
}

TEST_F(CubicBasis, ClampedEvaluatorsMatchTheRecursionForEverySpanCount) {
  for (int nSpans = 1; nSpans <= 10; ++nSpans) {
    std::vector<double> knots(4, 0.0);
    for (int k = 1; k < nSpans; ++k) knots.push_back(k * kH);
    for (int k = 0; k < 4; ++k) knots.push_back(nSpans * kH);
    for (int span = 1; span <= nSpans; ++span) {
      for (double t : kTs) {
        for (int d = 0; d <= 3; ++d) {
          double ref[4], a[4], b[4];
          // Span `span` (from 1) is knot interval span + 2; its functions are span - 1 .. span + 2.
          Reference(knots, span - 1, (span - 1) * kH, t, d, ref);
          cmp_unwraped_bspl(t, kH, d, a, span, nSpans);
          cmp_multipleknot_bspl(t, kH, d, b, span, nSpans);
          const double scale = std::pow(kH, -d);
          double sum = 0;
          for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(a[k], ref[k], 1e-12 * scale) << nSpans << " " << span << " " << t << " " << d << " " << k;
            EXPECT_NEAR(b[k], ref[k], 1e-12 * scale) << nSpans << " " << span << " " << t << " " << d << " " << k;
            sum += a[k];
          }
          EXPECT_NEAR(sum, d == 0 ? 1.0 : 0.0, 1e-12 * scale);  // partition of unity and its derivatives
        }
      }
    }
  }
  // No span count leaves the caller's values unset: below 1 the values are zeros.
  double out[4] = {7, 7, 7, 7};
  cmp_multipleknot_bspl(0.5, kH, 0, out, 1, 0);
  for (double v : out) EXPECT_EQ(v, 0.0);
}

TEST_F(CubicBasis, PeriodicEvaluatorMatchesTheUniformRecursion) {
  std::vector<double> knots;
  for (int k = 0; k <= 10; ++k) knots.push_back(k * kH);
  for (double t : kTs) {
    for (int d = 0; d <= 4; ++d) {  // order 4 counts as 3
      double ref[4], w[4];
      Reference(knots, 0, 3 * kH, t, std::min(d, 3), ref);
      cmp_wraped_bspl(t, kH, d, w);
      for (int k = 0; k < 4; ++k) EXPECT_NEAR(w[k], ref[k], 1e-12 * std::pow(kH, -std::min(d, 3))) << t << " " << d;
    }
  }
  double w[4];
  cmp_wraped_bspl(0.0, 1.0, 0, w);
  EXPECT_NEAR(w[0], 0.0, 1e-15);
  EXPECT_NEAR(w[1], 1.0 / 6, 1e-15);
  EXPECT_NEAR(w[2], 2.0 / 3, 1e-15);
  EXPECT_NEAR(w[3], 1.0 / 6, 1e-15);
}

}  // namespace
