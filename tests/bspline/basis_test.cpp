// Knot spans, basis values and basis derivatives against the textbook recursion, and the
// checks, queries and tidying of knot vectors.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BasisTest : public KernelTest {};

const std::vector<double> kCubic = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};  // 6 control points

// A clamped knot vector on [0, 1] with `distinct` random interior knots of multiplicity 1..p.
std::vector<double> RandomKnots(std::mt19937& rng, int p, int distinct) {
  std::uniform_real_distribution<double> pos(0.05, 0.95);
  std::uniform_int_distribution<int> m(1, p);
  std::vector<double> in, k(p + 1, 0.0);
  for (int i = 0; i < distinct; ++i) in.push_back(pos(rng));
  std::sort(in.begin(), in.end());
  for (double x : in) k.insert(k.end(), m(rng), x);
  k.insert(k.end(), p + 1, 1.0);
  return k;
}

// The ends, every knot, and random parameters.
std::vector<double> Params(std::mt19937& rng, const std::vector<double>& k, int count) {
  std::vector<double> t(k.begin(), k.end());
  std::uniform_real_distribution<double> td(0.0, 1.0);
  for (int i = 0; i < count; ++i) t.push_back(td(rng));
  return t;
}

TEST_F(BasisTest, SpanSearchFromAnyStartFindsTheSpanHoldingT) {
  // A start above t used to leave the span above t; every start must give the span by
  // definition: the last non-empty span starting at or below t.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int p = 1 + trial % 4;
    const std::vector<double> k = RandomKnots(rng, p, 1 + trial % 6);
    const int n = static_cast<int>(k.size()) - p - 1;
    for (double t : Params(rng, k, 14)) {
      int expect = p;
      for (int i = p; i < n; ++i)
        if (k[i] <= t && k[i] < k[i + 1]) expect = i;
      for (int start = 0; start <= n; ++start) {
        int span = start;
        FindLowKnotIndex(k.data(), p, t, &span, n);
        ASSERT_EQ(span, expect) << "t " << t << " start " << start;
        // The evaluators' search counts the knots two at a time: the same span.
        double N[kMaxSplineDegree + 2];
        span = start;
        EvalPointOnObjInit(t, p, k.data(), N, &span, n, 0);
        ASSERT_EQ(span, expect) << "t " << t << " start " << start;
      }
    }
  }
  // The result tells a knot (0), the inside of a span (1) and the domain end (2).
  for (auto [t, result] :
       {std::pair{3.0, 2}, {3.0 - 1e-9, 2}, {1.0 + 1e-7, 0}, {1.5, 1}, {0.0, 0}}) {
    int span = 3;
    EXPECT_EQ(FindLowKnotIndex(kCubic.data(), 3, t, &span, 6), result) << t;
  }
}

TEST_F(BasisTest, BasisIsTheTextbookPartitionOfUnityWithMultipleKnots) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 60; ++trial) {
    const int p = 1 + trial % 7;
    const std::vector<double> k = RandomKnots(rng, p, 1 + trial % 5);
    const int nK = static_cast<int>(k.size()), n = nK - p - 1;
    for (double t : Params(rng, k, 12)) {
      double N[kMaxSplineDegree + 2], sum = 0.0;
      int span = p;
      EvalPointOnObjInit(t, p, k.data(), N, &span, n, 0);
      for (int i = 0; i <= p; ++i) {
        EXPECT_GE(N[i + 1], 0.0);
        EXPECT_NEAR(N[i + 1], RefBasis(k.data(), nK, span - p + i, p, t), 1e-14);
        sum += N[i + 1];
      }
      EXPECT_NEAR(sum, 1.0, 1e-14);
      // The all-degrees table agrees with the single-degree routine at every degree.
      double table[1 + (kMaxSplineDegree + 1) * (kMaxSplineDegree + 2) / 2];
      ComputeNubValsM(k.data(), p, t, span, table);
      for (int j = 0; j <= p; ++j) {
        ComputeNubVals(k.data(), j, t, span, N);
        for (int i = 0; i <= j; ++i) EXPECT_EQ(table[1 + j * (j + 1) / 2 + i], N[i + 1]);
      }
      // The initialiser of that table finds the same span and fills the same values.
      double tableM[1 + (kMaxSplineDegree + 1) * (kMaxSplineDegree + 2) / 2];
      int spanM = p;
      EvalPointOnObjInitM(t, p, k.data(), tableM, &spanM, n);
      EXPECT_EQ(spanM, span);
      EXPECT_TRUE(std::equal(table + 1, table + 1 + (p + 1) * (p + 2) / 2, tableM + 1)) << t;
    }
  }
  // Just above a simple knot the function starting there is of order (dt)^3: set to 0.
  double M[5];
  int span = 3;
  EvalPointOnObjInit(1.0 + 2e-6, 3, kCubic.data(), M, &span, 6, 0);
  EXPECT_EQ(M[4], 0.0);
  EXPECT_GT(RefBasis(kCubic.data(), 10, span, 3, 1.0 + 2e-6), 0.0);
}

TEST_F(BasisTest, BasisDerivativesMatchTheTextbookIncludingClampedEnds) {
  std::mt19937 rng(5);
  const int orders[3] = {0, 1, 2};  // every order the routine serves
  for (int trial = 0; trial < 40; ++trial) {
    const int p = 1 + trial % 6;
    const std::vector<double> k = RandomKnots(rng, p, trial % 4);
    const int nK = static_cast<int>(k.size());
    // The ends are where the textbook recursion meets 0/0.
    for (double t : Params(rng, k, 8)) {
      double tab[3 * (kMaxSplineDegree + 1)], scale = 1.0;
      int span = p;
      ASSERT_EQ(ComputeNubValDerivativesM(k.data(), t, nK, p, orders, 3, &span, tab), 0);
      for (int d = 0; d <= 2; ++d)
        for (int i = 0; i <= p; ++i) {
          const double ref = RefBasisDeriv(k.data(), nK, span - p + i, p, d, t);
          scale = std::max(scale, std::fabs(ref));
          EXPECT_NEAR(tab[d * (p + 1) + i], ref, 1e-10 * scale) << "p " << p << " d " << d;
        }
    }
  }
}

// The cubic rows (formed with the reciprocals and quotients two at a time) are the recurrence's
// values to the bit, zeros' signs included: the degree-3 values those of ComputeNubVals, the
// first derivatives 3 (V(i) / (k[i+3] - k[i]) - V(i+1) / (k[i+4] - k[i+1])) from its degree-2
// values V, a term 0 where the knot difference is.
TEST_F(BasisTest, CubicDerivativeRowsAreTheRecurrenceToTheBit) {
  std::mt19937 rng(23);
  const int orders[2] = {1, 0};
  for (int trial = 0; trial < 30; ++trial) {
    // Domains of 1e-6 .. 1e6, some 1e4 of their size from 0.
    const std::vector<double> unit = RandomKnots(rng, 3, trial % 5);
    const double scale = std::pow(10.0, trial % 13 - 6), shift = trial % 2 ? 1e4 * scale : 0.0;
    std::vector<double> k;
    for (double x : unit) k.push_back(shift + scale * x);
    const int nK = static_cast<int>(k.size());
    for (double t : Params(rng, unit, 6)) {
      t = shift + scale * t;
      double tab[2 * 4], V[4], N[5];
      int span = 3;
      ASSERT_EQ(ComputeNubValDerivativesM(k.data(), t, nK, 3, orders, 2, &span, tab), 0);
      t = std::clamp(t, k[3], k[nK - 4]);
      ComputeNubVals(k.data(), 3, t, span, N);
      ComputeNubVals(k.data(), 2, t, span, V);
      double before = 0.0;
      for (int i = 0; i <= 3; ++i) {
        const double den = i <= 2 ? k[span + 1 + i] - k[span - 2 + i] : 0.0;
        const double here = den != 0.0 ? V[i + 1] / den : 0.0;
        const double D = 3.0 * ((0.0 + before) - here);
        before = here;
        EXPECT_EQ(std::signbit(tab[i]), std::signbit(N[i + 1])) << t;
        EXPECT_EQ(tab[i], N[i + 1]) << t;
        EXPECT_EQ(std::signbit(tab[4 + i]), std::signbit(D)) << t;
        EXPECT_EQ(tab[4 + i], D) << t;
      }
    }
  }
}

TEST_F(BasisTest, CheckBsplineMultiplicityOrderAndWeightRules) {
  BsplineKeeper keep;
  for (const auto& [k, code] : std::vector<std::pair<std::vector<double>, int>>{
           {{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 0},
           {{0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2}, 0},      // interior run counts 4
           {{0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2}, -3},  // counts 5
           {{0, 0, 0, 0, 0, 1, 2, 2, 2, 2}, -3},              // the first run counts 5
           {{0, 0, 0, 0.5, 1, 2, 3, 3, 3, 3}, -12},
           {{0, 0, 0, 0, 2, 1, 3, 3, 3, 3}, -4}}) {
    Bspline* b = keep(BuildCurve(3, 3, std::vector<double>(3 * (k.size() - 4), 1.0), k));
    EXPECT_EQ(CheckBspline(b, 1e-6), code);
  }
  Bspline* b = keep(BuildRandomCurve(3, 3, 7, 3, true));
  EXPECT_EQ(CheckBspline(b, 1e-6), 0);
  EXPECT_EQ(CheckBspline(b, 2.0), -9);
  for (double w : {-0.5, 1e-12}) {
    b->W[0][2] = w;
    EXPECT_EQ(CheckBspline(b, 1e-6), -13);
  }
  b->degreeU = 23;
  b->interiorU -= 20;
  EXPECT_EQ(CheckBspline(b, 1e-6), -5);
}

TEST_F(BasisTest, ShortParameterRangesAreRescaledKeepingTheShape) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(9, 3, 6));
  for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] = 5.0 + c->knotsU[i] * 1e-4;
  c->umin = c->knotsU[3];
  c->umax = c->knotsU[6];
  double before[3], after[3];
  RefEvalCurve(c, 5.0 + 0.37e-4, before);
  ASSERT_EQ(TestCorrectParamSpan(c, 1e-3), 0);
  EXPECT_TRUE(c->umin == 0.0 && c->umax == 1.0);
  RefEvalCurve(c, 0.37, after);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(before[k], after[k], 1e-9);
  // A zero-length range cannot be rescaled: refused, nothing changed (no NaN knots).
  for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] = 2.0;
  c->umin = c->umax = 2.0;
  EXPECT_EQ(TestCorrectParamSpan(c, 1e-3), -2);
  // Nothing to rescale: no record, or a record whose knots are missing, is refused, not read.
  EXPECT_EQ(TestCorrectParamSpan(nullptr, 1e-3), -2);
  double* const knots = c->knotsU;
  c->knotsU = nullptr;
  c->umax = 2.0 + 1e-4;
  EXPECT_EQ(TestCorrectParamSpan(c, 1e-3), -2);
  c->knotsU = knots;
  c->umax = 2.0;
  EXPECT_EQ(CleanBsplineKnots(c, 1e-6), -2);
  EXPECT_EQ(c->knotsU[0], 2.0);
  ClearKernelError();

  // A surface short in both directions: the shorter maps onto [0, 1], the other alike, and
  // the curves on it follow. Knot tidying does the same for a surface short in v only.
  for (bool tidy : {false, true}) {
    const PatchOptions o{
        .umax = tidy ? 1.0 : 1e-4, .vmin = tidy ? 2.0 : 0.0, .vmax = tidy ? 2.0 + 4e-7 : 2e-4};
    Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, o));
    const double dv = o.vmax - o.vmin;
    Bspline* on = BuildCurveOnSurface(
        s, 1, {0.25 * o.umax, o.vmin + 0.25 * dv, 0.75 * o.umax, o.vmin + 0.75 * dv});
    Eval3DPointOnBsplOnSurfArray(s, on, 0.5, 0, 0, before);
    if (tidy) {
      EXPECT_EQ(CleanBsplineKnots(s, 1e-6), 1);
    } else {
      ASSERT_EQ(TestCorrectParamSpan(s, 1e-3), 0);
    }
    EXPECT_EQ(s->umax, 1.0);
    EXPECT_NEAR(s->vmax, tidy ? 1.0 : 2.0, 1e-12);
    EXPECT_NEAR(on->Y[0][1], 0.75 * s->vmax, 1e-9);
    Eval3DPointOnBsplOnSurfArray(s, on, 0.5, 0, 0, after);
    // Near v = 2 the curve's v values hold the 4e-7 range to about 1e-10 only.
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(before[k], after[k], tidy ? 1e-9 : 1e-12);
  }
}

// A short range on a record that is faulty elsewhere (a coefficient or a weight that is no
// number, a weight that is not positive) is refused like every entry point refuses it: error
// state -2, knots and domain as they were, not mapped onto [0, 1] around the fault.
TEST_F(BasisTest, ShortRangeCorrectionRefusesAFaultyRecordUntouched) {
  BsplineKeeper keep;
  for (int fault = 0; fault < 3; ++fault) {
    Bspline* c = keep(BuildRandomCurve(4, 3, 7, 3, fault > 0));
    for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] *= 1e-5;
    c->umax = c->knotsU[NumCtrlU(c)];
    if (fault == 0) c->Y[0][3] = std::nan("");
    if (fault == 1) c->W[0][2] = INFINITY;
    if (fault == 2) c->W[0][5] = -0.5;
    const std::vector<double> knots(c->knotsU, c->knotsU + NumKnotsU(c));
    EXPECT_EQ(TestCorrectParamSpan(c, 1e-3), -2) << "fault " << fault;
    EXPECT_TRUE(KernelFailed()) << "fault " << fault;
    EXPECT_EQ(std::vector<double>(c->knotsU, c->knotsU + NumKnotsU(c)), knots) << "fault " << fault;
    EXPECT_EQ(c->umax, knots[NumCtrlU(c)]) << "fault " << fault;
    ClearKernelError();
  }
}

TEST_F(BasisTest, KnotTidyingMergesCloseKnotsAndClampsWrappedEnds) {
  BsplineKeeper keep;
  const std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 1, 0, 4, 0, 0, 5, 1, 0};
  Bspline* c = keep(BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.5, 0.5 + 1e-9, 1, 1, 1, 1}));
  EXPECT_EQ(CleanBsplineKnots(c, 1e-6) & 11, 2);
  EXPECT_EQ(c->knotsU[4], c->knotsU[5]);

  Bspline* w = keep(BuildCurve(3, 3, pts, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  Bspline* ref = keep(BuildCurve(3, 3, pts, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(CleanBsplineKnots(w, 1e-6), 8);
  EXPECT_EQ(CheckBspline(w, 1e-9), 0);
  for (int i = 0; i <= 10; ++i) {
    double p[3], q[3];
    RefEvalCurve(w, 3.0 + 0.3 * i, p);
    RefEvalCurve(ref, 3.0 + 0.3 * i, q);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-12);
  }
  EXPECT_EQ(CleanBsplineKnots(w, 1e-6), 0);  // nothing left to do
}

// A wrapped cubic whose first knot outside the domain lies a round-off (1e-9, 1e-12) below the
// start and whose last inside lies as close below the end: clamped, it keeps its control-point
// count and its shape, and starts with p + 1 copies of the start (no knot beside them).
TEST_F(BasisTest, ClampingAWrappedCurveTakesOnlyTheEndsOwnCopies) {
  BsplineKeeper keep;
  const std::vector<double> pts = {0, 0, 0, 1, 1, 0, 2, 0, 0, 3, 1, 0, 4, 0, 0, 5, 1, 0, 6, 0, 0};
  for (double gap : {1e-9, 1e-12}) {
    const std::vector<double> knots = {-0.3, -0.2, -gap, 0, 0.5, 0.7, 1 - gap, 1, 1.2, 1.3, 1.4};
    Bspline* w = keep(BuildCurve(3, 3, pts, knots));
    Bspline* ref = keep(BuildCurve(3, 3, pts, knots));
    EXPECT_EQ(ClampWrappedDirection(w, 0, 0), 8);
    EXPECT_TRUE(BsplineSound(w));
    EXPECT_EQ(NumCtrlU(w), NumCtrlU(ref)) << gap;
    for (int i = 0; i <= 3; ++i) EXPECT_EQ(w->knotsU[i], 0.0) << gap;
    for (int i = NumCtrlU(w); i < NumKnotsU(w); ++i) EXPECT_EQ(w->knotsU[i], 1.0) << gap;
    for (int i = 0; i <= 20; ++i) {
      double p[3], q[3];
      RefEvalCurve(w, i / 20.0, p);
      RefEvalCurve(ref, i / 20.0, q);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], q[k], 1e-12) << gap << " " << i;
    }
  }
}

}  // namespace
