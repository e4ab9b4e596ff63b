// Knot spans, basis values and basis derivatives against the textbook recursion, and the
// checks and queries of knot vectors.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BasisTest : public KernelTest {};

const std::vector<double> kCubic = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};  // 6 control points

// A clamped knot vector on [0, 1] with random interior knots of random multiplicity 1..p.
std::vector<double> RandomKnots(std::mt19937& rng, int p, int distinct, std::vector<int>* mult) {
  std::uniform_real_distribution<double> pos(0.05, 0.95);
  std::uniform_int_distribution<int> m(1, p);
  std::vector<double> in;
  for (int i = 0; i < distinct; ++i) in.push_back(pos(rng));
  std::sort(in.begin(), in.end());
  std::vector<double> k(p + 1, 0.0);
  for (double x : in) {
    const int r = m(rng);
    if (mult) mult->push_back(r);
    k.insert(k.end(), r, x);
  }
  k.insert(k.end(), p + 1, 1.0);
  return k;
}

// The span by definition: the last non-empty span starting at or below t.
int BruteSpan(const std::vector<double>& k, int p, int n, double t) {
  int s = p;
  for (int i = p; i < n; ++i)
    if (k[i] <= t && k[i] < k[i + 1]) s = i;
  return s;
}

TEST_F(BasisTest, SpanSearchClassifiesKnotsAndDomainEnd) {
  const double* k = kCubic.data();
  struct Case {
    double t;
    int start, span, result;
  } cases[] = {{3.0, 3, 5, 2}, {1.0 + 1e-7, 3, 4, 0}, {1.5, 3, 4, 1}, {0.0, 3, 3, 0},
               {3.0 - 1e-9, 3, 5, 2}, {2.0 - 1e-7, 3, 4, 0}, {0.5, 3, 3, 1}};
  for (const Case& c : cases) {
    int span = c.start;
    EXPECT_EQ(FindLowKnotIndex(k, 3, c.t, &span, 6), c.result) << c.t;
    EXPECT_EQ(span, c.span) << c.t;
  }
}

TEST_F(BasisTest, SpanSearchFromAnyStartFindsTheSpanHoldingT) {
  // A start above t used to leave the span above t; every start must give the true span.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int p = 1 + trial % 4;
    const std::vector<double> k = RandomKnots(rng, p, 1 + trial % 6, nullptr);
    const int n = static_cast<int>(k.size()) - p - 1;
    std::uniform_real_distribution<double> td(0.0, 1.0);
    for (int s = 0; s < 20; ++s) {
      const double t = s == 0 ? 0.0 : (s == 1 ? 1.0 : (s < 6 ? k[p + s % (n - p + 1)] : td(rng)));
      for (int start = 0; start <= n; ++start) {
        int span = start;
        FindLowKnotIndex(k.data(), p, t, &span, n);
        ASSERT_EQ(span, BruteSpan(k, p, n, t)) << "t " << t << " start " << start;
      }
    }
  }
}

TEST_F(BasisTest, BasisIsTheTextbookPartitionOfUnityWithMultipleKnots) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 60; ++trial) {
    const int p = 1 + trial % 7;
    const std::vector<double> k = RandomKnots(rng, p, 1 + trial % 5, nullptr);
    const int nK = static_cast<int>(k.size()), n = nK - p - 1;
    std::uniform_real_distribution<double> td(0.0, 1.0);
    for (int s = 0; s < 25; ++s) {
      const double t = s < 3 ? (s == 0 ? 0.0 : (s == 1 ? 1.0 : k[p + 1])) : td(rng);
      double N[kMaxSplineDegree + 2];
      int span = p;
      EvalPointOnObjInit(t, p, k.data(), N, &span, n, 0);
      double sum = 0.0;
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
        double Nj[kMaxSplineDegree + 2];
        ComputeNubVals(k.data(), j, t, span, Nj);
        for (int i = 0; i <= j; ++i) EXPECT_EQ(table[1 + j * (j + 1) / 2 + i], Nj[i + 1]);
      }
    }
  }
}

TEST_F(BasisTest, DegreeOneBasisAndTinyValuesBecomeZero) {
  const std::vector<double> k = {0, 0, 0.3, 1, 1};
  double N[4];
  int span = 1;
  EvalPointOnObjInit(0.5, 1, k.data(), N, &span, 3, 0);
  EXPECT_EQ(span, 2);
  EXPECT_DOUBLE_EQ(N[1], (1.0 - 0.5) / (1.0 - 0.3));
  EXPECT_DOUBLE_EQ(N[2], 1.0 - N[1]);

  // Just above a simple knot the function starting there is of order (dt)^3.
  const double t = 1.0 + 2e-6;
  double M[5];
  span = 3;
  EvalPointOnObjInit(t, 3, kCubic.data(), M, &span, 6, 0);
  EXPECT_EQ(M[4], 0.0);
  EXPECT_GT(RefBasis(kCubic.data(), 10, span, 3, t), 0.0);
  EXPECT_NEAR(M[1] + M[2] + M[3] + M[4], 1.0, 1e-14);
}

TEST_F(BasisTest, BasisDerivativesMatchTheTextbookIncludingClampedEnds) {
  std::mt19937 rng(5);
  const int orders[3] = {0, 1, 2};
  for (int trial = 0; trial < 40; ++trial) {
    const int p = 1 + trial % 6;
    const std::vector<double> k = RandomKnots(rng, p, trial % 4, nullptr);
    const int nK = static_cast<int>(k.size());
    std::uniform_real_distribution<double> td(0.0, 1.0);
    for (int s = 0; s < 12; ++s) {
      // The ends are where the textbook recursion meets 0/0.
      const double t = s == 0 ? 0.0 : (s == 1 ? 1.0 : td(rng));
      double tab[3 * (kMaxSplineDegree + 1)];
      int span = p;
      ASSERT_EQ(ComputeNubValDerivativesM(k.data(), t, nK, p, orders, 3, &span, tab), 0);
      double scale = 1.0;
      for (int d = 0; d <= 2; ++d) {
        for (int i = 0; i <= p; ++i) {
          const double v = tab[d * (p + 1) + i];
          ASSERT_TRUE(std::isfinite(v));
          const double ref = RefBasisDeriv(k.data(), nK, span - p + i, p, d, t);
          scale = std::max(scale, std::fabs(ref));
          EXPECT_NEAR(v, ref, 1e-10 * scale) << "p " << p << " d " << d << " t " << t;
        }
      }
    }
  }
}

TEST_F(BasisTest, FirstBasisDerivativeMatchesFiniteDifferences) {
  const std::vector<double> k = {0, 0, 0, 0, 0.2, 0.5, 0.5, 0.7, 1, 1, 1, 1};
  const int p = 3, nK = 12;
  const int o1[1] = {1}, o0[1] = {0};
  for (double t : {0.1, 0.33, 0.6, 0.85}) {
    double d1[3 * 4], lo[3 * 4], hi[3 * 4];
    int s = p, sl = p, sh = p;
    const double h = 1e-6;
    ComputeNubValDerivativesM(k.data(), t, nK, p, o1, 1, &s, d1);
    ComputeNubValDerivativesM(k.data(), t - h, nK, p, o0, 1, &sl, lo);
    ComputeNubValDerivativesM(k.data(), t + h, nK, p, o0, 1, &sh, hi);
    ASSERT_EQ(s, sl);
    ASSERT_EQ(s, sh);
    for (int i = 0; i <= p; ++i) EXPECT_NEAR(d1[p + 1 + i], (hi[i] - lo[i]) / (2 * h), 1e-5);
  }
}

TEST_F(BasisTest, CheckBsplineMultiplicityAndOrderRules) {
  auto curve = [](std::vector<double> knots, int p) {
    const int n = static_cast<int>(knots.size()) - p - 1;
    std::vector<double> pts(3 * n, 0.0);
    for (int i = 0; i < n; ++i) pts[3 * i] = i;
    return BuildCurve(p, 3, pts, knots);
  };
  struct Case {
    std::vector<double> k;
    int code;
  } cases[] = {
      {{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, 0},
      {{0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2}, 0},      // interior run counts 4
      {{0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2}, -3},  // counts 5
      {{0, 0, 0, 0, 0, 1, 2, 2, 2, 2}, -3},              // the first run counts 5
      {{0, 0, 0, 0.5, 1, 2, 3, 3, 3, 3}, -12},
      {{0, 0, 0, 0, 2, 1, 3, 3, 3, 3}, -4},
  };
  for (const Case& c : cases) {
    Bspline* b = curve(c.k, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(CheckBspline(b, 1e-6), c.code);
    FreeBspline(b);
  }
  Bspline* b = BuildRandomCurve(3, 3, 7, 3, true);
  EXPECT_EQ(CheckBspline(b, 1e-6), 0);
  b->W[0][2] = -0.5;
  EXPECT_EQ(CheckBspline(b, 1e-6), -13);
  b->W[0][2] = 1e-12;
  EXPECT_EQ(CheckBspline(b, 1e-6), -13);
  b->W[0][2] = 1.0;
  b->degreeU = 23;
  b->interiorU -= 20;
  EXPECT_EQ(CheckBspline(b, 1e-6), -5);
  b->degreeU = 3;
  b->interiorU += 20;
  EXPECT_EQ(CheckBspline(b, 2.0), -9);
  FreeBspline(b);
}

TEST_F(BasisTest, ClosestKnotPointAvoidsTheEndsOnRequest) {
  Bspline* c = BuildCurve(3, 3, std::vector<double>(18, 1.0), kCubic);
  int atEnd = -1;
  EXPECT_EQ(GetClosestKnotPoint(c, 0.2, 0, 0, &atEnd), 1.0);  // nearer the start, ends avoided
  EXPECT_EQ(atEnd, 0);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.2, 0, 1, &atEnd), 0.0);
  EXPECT_EQ(atEnd, 1);
  EXPECT_EQ(GetClosestKnotPoint(c, 2.9, 0, 0, &atEnd), 2.0);
  EXPECT_EQ(GetClosestKnotPoint(c, 2.9, 0, 1, &atEnd), 3.0);
  EXPECT_EQ(atEnd, 1);
  EXPECT_EQ(GetClosestKnotPoint(c, 1.4, 0, 0, &atEnd), 1.0);
  EXPECT_EQ(GetClosestKnotPoint(c, 1.6, 0, 0, &atEnd), 2.0);
  EXPECT_EQ(ObjectInKnots(c), 1);
  FreeBspline(c);
}

TEST_F(BasisTest, ShortParameterRangeIsRescaledKeepingTheShape) {
  Bspline* c = BuildRandomCurve(9, 3, 6);
  for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] = 5.0 + c->knotsU[i] * 1e-4;
  c->umin = c->knotsU[3];
  c->umax = c->knotsU[6];
  double before[3], after[3];
  Eval3DPointOnCurve3Array(c, 5.0 + 0.37e-4, 0, before);
  ASSERT_EQ(TestCorrectParamSpan(c, 1e-3), 0);
  EXPECT_EQ(c->umin, 0.0);
  EXPECT_EQ(c->umax, 1.0);
  Eval3DPointOnCurve3Array(c, 0.37, 0, after);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(before[k], after[k], 1e-9);

  // A zero-length range cannot be rescaled: refused, nothing changed (no NaN knots).
  for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] = 2.0;
  c->umin = c->umax = 2.0;
  EXPECT_EQ(TestCorrectParamSpan(c, 1e-3), -2);
  EXPECT_EQ(c->knotsU[0], 2.0);
  FreeBspline(c);
}

TEST_F(BasisTest, SurfaceRescalesItsShorterDirectionAndItsCurvesFollow) {
  PatchOptions o;
  o.umax = 1e-4;
  o.vmax = 2e-4;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; }, o);
  Bspline* c = BuildCurveOnSurface(s, 1, {0.0, 0.0, 0.5e-4, 1e-4});
  double before[3], after[3];
  Eval3DPointOnBsplOnSurfArray(s, c, 0.5, 0, 0, before);
  ASSERT_EQ(TestCorrectParamSpan(s, 1e-3), 0);
  EXPECT_EQ(s->umin, 0.0);
  EXPECT_EQ(s->umax, 1.0);
  EXPECT_NEAR(s->vmax, 2.0, 1e-12);
  Eval3DPointOnBsplOnSurfArray(s, c, 0.5, 0, 0, after);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(before[k], after[k], 1e-12);
  FreeBspline(s);
}

}  // namespace
