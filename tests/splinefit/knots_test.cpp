// Knot removal within a tolerance and the knot vectors of conversion: a redundant knot ranks
// near zero and is the only one removed, a surface knot one row needs stays, rational objects
// are refused untouched, and the knot vectors keep their invariants (sorted, inside the range,
// the documented counts) over random inputs.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "splinefit/sconvert.h"
#include "splinefit/splutil.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotTools : public KernelTest {};

std::vector<double> Knots(const Bspline* b) { return {b->knotsU, b->knotsU + NumKnotsU(b)}; }

// A 2D cubic with a corner (a triple knot at 0.5) and one smooth interior knot at 0.25.
Bspline* CornerCurve() {
  std::vector<double> pts = {0, 0, 1, 2, 2, 3, 3, 1, 4, -1, 5, 0.5, 6, 2, 7, 0};
  return BuildCurve(3, 2, pts, {0, 0, 0, 0, 0.25, 0.5, 0.5, 0.5, 1, 1, 1, 1});
}

TEST_F(KnotTools, RankingAndRemovalAgreeOnRedundantAndCornerKnots) {
  Bspline* c = CornerCurve();
  Bspline* before = CopyBsplineStruct(c);
  double t = 0.8;
  InsertNKnotsToObject(1, 1, 0, c, 2, &t);  // redundant: the shape does not need it
  ASSERT_FALSE(KernelFailed());
  ASSERT_EQ(c->interiorU, 5);
  double* rank = GetCurveKnotsRanking(c);
  ASSERT_NE(rank, nullptr);
  EXPECT_LT(rank[4], 1e-12);  // the inserted knot
  for (int i = 0; i < 4; ++i) EXPECT_GT(rank[i], 1e-3) << i;
  Free(rank);
  EXPECT_EQ(RemoveAllCurveKnots(c, 1e-9), 0);
  EXPECT_EQ(c->interiorU, 4);  // only the redundant one went; every corner copy stays
  EXPECT_EQ(Knots(c), Knots(before));
  for (int i = 0; i < NumCtrlU(c); ++i) {
    EXPECT_NEAR(c->X[0][i], before->X[0][i], 1e-12);
    EXPECT_NEAR(c->Y[0][i], before->Y[0][i], 1e-12);
  }
  // The corner's copies fail at any small tolerance: the curve stays as it is.
  EXPECT_EQ(RemoveKnotFromCurve(c, 6, 1e-3), 0);
  EXPECT_EQ(Knots(c), Knots(before));
  FreeBspline(before);
  FreeBspline(c);
}

TEST_F(KnotTools, SurfaceKnotsGoOnlyWhenEveryRowAllowsIt) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(x + 2 * y); },
                                  PatchOptions{3, 3, 6, 5});
  double t = 0.3;
  InsertNKnotsToObject(1, 1, 0, s, 2, &t);
  Bspline* refined = CopyBsplineStruct(s);
  FreeBspline(s);
  // One row moved near the knot: that row needs it, so the whole surface keeps it.
  s = CopyBsplineStruct(refined);
  s->Z[2][2] += 0.5;
  EXPECT_EQ(RemoveAllSurfKnots(s, 1e-9), 0);
  int kept = 0;
  for (int i = 0; i < NumKnotsU(s); ++i) kept += s->knotsU[i] == 0.3;
  EXPECT_EQ(kept, 1);
  FreeBspline(s);
  // Untouched, the inserted u knot goes and nothing else does.
  s = refined;
  const int iu = s->interiorU, iv = s->interiorV;
  EXPECT_EQ(RemoveAllSurfKnots(s, 1e-9), 0);
  EXPECT_EQ(s->interiorU, iu - 1);
  EXPECT_EQ(s->interiorV, iv);
  EXPECT_EQ(CheckBspline(s, 1e-9), 0);
  FreeBspline(s);
}

TEST_F(KnotTools, RationalObjectsAreRefusedBitForBit) {
  // Regression: the removals shortened the rows and left the weights as they were.
  Bspline* c = BuildRandomCurve(4, 3, 7, 3, true);
  double t = 0.37;
  InsertNKnotsToObject(1, 1, 0, c, 2, &t);
  Bspline* before = CopyBsplineStruct(c);
  for (int r = 4; r < NumCtrlU(c); ++r) EXPECT_EQ(RemoveKnot(c, r, 1.0), 0);
  EXPECT_EQ(RemoveAllCurveKnots(c, 1.0), 0);
  EXPECT_EQ(Knots(c), Knots(before));
  EXPECT_EQ(std::vector<double>(c->W[0], c->W[0] + NumCtrlU(c)),
            std::vector<double>(before->W[0], before->W[0] + NumCtrlU(before)));
  FreeBspline(before);
  FreeBspline(c);
}

TEST_F(KnotTools, UniformityDeviationAndTheEvaluationBench) {
  Bspline* a = BuildCurve(3, 3, std::vector<double>(18, 1.0), {0, 0, 0, 0, 1, 2, 3, 3, 3, 3});
  Bspline* b = BuildCurve(3, 3, std::vector<double>(15, 1.0), {0, 0, 0, 0, 1, 3, 3, 3, 3});
  Bspline* c = BuildCurve(3, 3, std::vector<double>(18, 1.0), {0, 0, 0, 0, 1, 2.5, 3, 3, 3, 3});
  EXPECT_EQ(IsKnotVectorUniform(a, 0, 1e-6), 1);
  EXPECT_EQ(IsKnotVectorUniform(b, 0, 1e-6), 1);  // only the first span is compared
  EXPECT_EQ(IsKnotVectorUniform(c, 0, 1e-6), 0);
  double dev = 0.0;
  GetMaxCurveDeviation(a, 0, 1.0, &dev);
  EXPECT_EQ(dev, 1.0);
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; });
  const double u[2] = {0.2, 0.7}, v[2] = {0.4, 0.9};
  const int req[3] = {1, 0, 0};
  double out[12] = {};
  BenchBsplEval(s, u, v, 2, 2, req, out, nullptr, 0);
  double q[3];
  RefEvalSurface(s, u[1], v[1], q);
  EXPECT_NEAR(out[3], q[0], 1e-12);
  EXPECT_NEAR(out[8 + 3], q[2], 1e-12);
  for (Bspline* o : {a, b, c, s}) FreeBspline(o);
}

TEST_F(KnotTools, UniformDistinctSampledAndCappedKnotVectors) {
  double* K = GetUniformKnots(10, 3, 0, 3);
  ASSERT_NE(K, nullptr);
  EXPECT_EQ(std::vector<double>(K, K + 10), (std::vector<double>{0, 0, 0, 0, 1, 2, 3, 3, 3, 3}));
  Free(K);
  // Regression: too short for two clamped ends used to divide by zero or write past the end.
  EXPECT_EQ(GetUniformKnots(7, 3, 0, 1), nullptr);
  EXPECT_EQ(GetUniformKnots(4, 2, 0, 1), nullptr);
  const std::vector<double> v = {0, 0, 0, 0, 0.5, 0.5, 1, 1, 1, 1};
  int count = 0;
  double* d = nullptr;
  FindDistinctKnots(10, v.data(), &count, &d);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(std::vector<double>(d, d + 3), (std::vector<double>{0, 0.5, 1}));
  Free(d);
  Bspline* c = BuildCurve(3, 3, std::vector<double>(15, 0.5), {0, 0, 0, 0, 0.5, 1, 1, 1, 1});
  double* t = nullptr;
  ASSERT_EQ(SampleCurvePlate(c, 8, &t), 17);
  EXPECT_EQ(t[8], 0.5);
  EXPECT_EQ(t[16], 1.0);
  Free(t);
  FreeBspline(c);
  std::vector<double> m = {0, 0.2, 0.2, 0.2, 1};
  double* o = nullptr;
  EXPECT_EQ(CleanKnotsToSpecMult(m.data(), 5, 1e-9, 1, &o), 3);
  EXPECT_EQ(std::vector<double>(o, o + 3), (std::vector<double>{0, 0.2, 1}));
  Free(o);
  EXPECT_EQ(CleanKnotsToSpecMult(m.data(), 5, 1e-9, 2, &o), 4);
  Free(o);
}

TEST_F(KnotTools, LargeSpanInsertionFillsEverySpanBeforeASecondKnot) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (int trial = 0; trial < 30; ++trial) {
    const int p = 1 + trial % 4, interior = trial % 7;
    std::vector<double> k(p + 1, 0.0);
    for (int i = 0; i < interior; ++i) k.push_back(U(rng));
    std::sort(k.begin() + p + 1, k.end());
    k.insert(k.end(), p + 1, 1.0);
    const int n = int(k.size()), spans = interior + 1;
    int extra = 1 + trial % (2 * spans + 1);
    const int asked = extra;
    double* out = InsertNewKnotsInLargeSpan(k.data(), n, p, &extra);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(extra, asked);
    std::vector<double> r(out, out + n + extra);
    Free(out);
    for (int i = 1; i < int(r.size()); ++i) EXPECT_LE(r[i - 1], r[i]);
    EXPECT_EQ(r.front(), 0.0);
    EXPECT_EQ(r.back(), 1.0);
    // New knots per original span: counts differ by at most one while filling, so no span has
    // two before every span has one.
    int lo = 1 << 30, hi = 0;
    for (int sIdx = p; sIdx < p + spans; ++sIdx) {
      int inside = 0;
      for (double x : r) inside += x > k[sIdx] && x < k[sIdx + 1];
      lo = std::min(lo, inside), hi = std::max(hi, inside);
    }
    if (asked <= spans) EXPECT_LE(hi, 1) << trial;
    else EXPECT_GE(lo, 1) << trial;
  }
}

// The vector handed back is the caller's whether knots were added or not: it outlives the
// tracking scope the call ran in, and the caller frees it.
TEST_F(KnotTools, LargeSpanInsertionHandsBackAVectorOutsideTheCallersScope) {
  const std::vector<double> k = {0, 0, 0, 0.4, 1, 1, 1};
  double* same;
  double* grown;
  int none = 0, two = 2;
  {
    TrackingScope scope;  // closed without keeping: frees what was allocated in it
    same = InsertNewKnotsInLargeSpan(const_cast<double*>(k.data()), 7, 2, &none);
    grown = InsertNewKnotsInLargeSpan(const_cast<double*>(k.data()), 7, 2, &two);
  }
  ASSERT_TRUE(same && grown);
  EXPECT_EQ(std::vector<double>(same, same + 7), k);
  EXPECT_EQ(none, 0);
  ASSERT_EQ(two, 2);
  const double midpoints[9] = {0, 0, 0, 0.2, 0.4, 0.7, 1, 1, 1};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(grown[i], midpoints[i], 1e-15) << i;
  Free(same);
  Free(grown);
}

TEST_F(KnotTools, ReducedInternalKnotsKeepTheBestRankedAndFitTheCount) {
  PatchOptions o{3, 3, 8, 6};
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o);
  int count = 0;
  double* K = GetReducedInternalKnots(s, 3, 0, 0.0, &count);
  ASSERT_NE(K, nullptr);
  ASSERT_EQ(count, s->interiorU);
  EXPECT_EQ(std::vector<double>(K, K + count),
            std::vector<double>(s->knotsU + 4, s->knotsU + 4 + count));
  Free(K);
  // Regression: a rational surface asked for more knots than it has.
  PatchOptions r = o;
  r.rational = true;
  Bspline* w = BuildFunctionPatch([](double x, double y) { return x - y; }, r);
  K = GetReducedInternalKnots(w, 3, 1, 0.0, &count);
  ASSERT_NE(K, nullptr);
  EXPECT_LE(count, w->interiorV);
  for (int i = 1; i < count; ++i) EXPECT_LT(K[i - 1], K[i]);
  Free(K);
  // Lowering 4 to 3 with one distinct interior knot needs nothing more.
  Bspline* q = BuildSurface(4, 1, 6, 2, std::vector<double>(36, 0.5),
                            {0, 0, 0, 0, 0, 0.4, 1, 1, 1, 1, 1});
  K = GetReducedInternalKnots(q, 3, 0, 0.0, &count);
  ASSERT_NE(K, nullptr);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(K[0], 0.4);
  Free(K);
  for (Bspline* b : {s, w, q}) FreeBspline(b);
}

TEST_F(KnotTools, InjectedFailuresLeaveNothingBehind) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * x + y; }, PatchOptions{3, 3, 7, 6});
  Bspline* c = CornerCurve();
  RunWithInjectedFailures(300, 3, [&] {
    int count = 0;
    double* K = GetReducedInternalKnots(s, 3, 1, 0.0, &count);
    double* R = GetCurveKnotsRanking(c);
    double* t = nullptr;
    SampleCurvePlate(c, 4, &t);
    Bspline* copy = CopyBsplineStruct(s);
    if (copy) RemoveAllSurfKnots(copy, 1e-9);
    const int r = KernelFailed() ? -2 : 0;
    Free(K), Free(R), Free(t), FreeBspline(copy);
    return r;
  });
  FreeBspline(s);
  FreeBspline(c);
}

}  // namespace
