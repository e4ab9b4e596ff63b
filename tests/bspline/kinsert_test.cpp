#include "bspline/kinsert.h"

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/umalloc.h"
#include "tests/bspline/refine_check.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotInsertion : public KernelTest {};

std::vector<double> Knots(const Bspline* b, int dir = 0) {
  const double* k = dir ? b->knotsV : b->knotsU;
  return std::vector<double>(k, k + (dir ? NumKnotsV(b) : NumKnotsU(b)));
}

TEST_F(KnotInsertion, GivenValuesKeepTheShapeOfCurvesAndSurfaces) {
  std::vector<double> values = {0.05, 0.31, 0.31, 0.5, 0.77, 0.93};
  for (bool rational : {false, true}) {
    for (int dim : {2, 3}) {
      Bspline* c = BuildRandomCurve(11 + dim, 3, 9, dim, rational);
      Bspline* ref = CopyBsplineStruct(c);
      std::vector<double> v = values;
      InsertNKnotsToObject(1, static_cast<int>(v.size()), 0, c, 2, v.data());
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(c->interiorU, ref->interiorU + 6);
      EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref))
          << "rational " << rational << " dim " << dim;
      FreeBspline(c);
      FreeBspline(ref);
    }
    for (int dir : {0, 1}) {
      Bspline* s = BuildRandomSurface(5 + dir, 3, 2, 7, 5, rational);
      Bspline* ref = CopyBsplineStruct(s);
      std::vector<double> v = values;
      InsertNKnotsToObject(2, static_cast<int>(v.size()), dir, s, 2, v.data());
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(dir ? s->interiorV : s->interiorU,
                (dir ? ref->interiorV : ref->interiorU) + (dir ? 11 : 12));  // 0.31 capped at p + 1
      EXPECT_EQ(dir ? s->interiorU : s->interiorV, dir ? ref->interiorU : ref->interiorV);
      EXPECT_LE(MaxShapeGap(ref, s, 17), 1e-12 * RefScale(ref))
          << "rational " << rational << " dir " << dir;
      FreeBspline(s);
      FreeBspline(ref);
    }
  }
}

TEST_F(KnotInsertion, LargestSpansAndFirstSpanModes) {
  // Mode 1 on uniform knots: every span ties, so the last one is split first.
  Bspline* c = BuildRandomCurve(3, 3, 7, 3, true, KnotLayout::Uniform);
  Bspline* ref = CopyBsplineStruct(c);
  InsertNKnotsToObject(1, 1, 0, c, 1, nullptr);
  EXPECT_DOUBLE_EQ(c->knotsU[NumCtrlU(c) - 1], 0.875);
  InsertNKnotsToObject(1, 5, 0, c, 1, nullptr);
  EXPECT_EQ(c->interiorU, ref->interiorU + 6);
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
  FreeBspline(c);
  FreeBspline(ref);

  // Mode 0 with three knots on a Bezier span: quarters.
  Bspline* bez = BuildRandomCurve(4, 3, 4, 3, false);
  Bspline* bref = CopyBsplineStruct(bez);
  InsertNKnotsToObject(1, 3, 0, bez, 0, nullptr);
  EXPECT_EQ(Knots(bez), (std::vector<double>{0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(bref, bez), 1e-12 * RefScale(bref));
  FreeBspline(bez);
  FreeBspline(bref);
}

TEST_F(KnotInsertion, SnapsToNearbyKnotsAndSkipsRangeEnds) {
  Bspline* c =
      BuildCurve(3, 3, std::vector<double>(3 * 6, 0.0), {0, 0, 0, 0, 0.4, 0.6, 1, 1, 1, 1});
  for (int i = 0; i < 6; ++i) c->X[0][i] = c->Y[0][i] = c->Z[0][i] = i * i;
  Bspline* ref = CopyBsplineStruct(c);
  // The range start and end have full multiplicity already: nothing goes in there (nor for
  // values beyond them), and the values after them are still handled.
  std::vector<double> v = {-0.5, 0.0, 0.4 + 1e-8, 0.7, 1.0, 1.5};
  InsertNKnotsToObject(1, 6, 0, c, 2, v.data());
  EXPECT_EQ(v, (std::vector<double>{0.0, 0.0, 0.4, 0.7, 1.0, 1.0}));
  EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0, 0, 0.4, 0.4, 0.6, 0.7, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(KnotInsertion, FullMultiplicityInterpolatesTheCurvePoint) {
  for (bool rational : {false, true}) {
    Bspline* c = BuildRandomCurve(21, 3, 8, 3, rational);
    Bspline* ref = CopyBsplineStruct(c);
    const double knot = c->knotsU[5];  // an existing simple knot
    std::vector<double> v = {0.37, knot};
    InsertNKnotsToObject(-1, 2, 0, c, 2, v.data());
    ASSERT_FALSE(KernelFailedNow());
    EXPECT_EQ(c->interiorU, ref->interiorU + 4 + 3);
    for (double t : v) {
      // The first index holding t ends the run of p + 1 copies; lines a - 1 and a meet there.
      int a = 0;
      while (c->knotsU[a] < t) ++a;
      for (int k = a; k <= a + 3; ++k) ASSERT_EQ(c->knotsU[k], t);
      EXPECT_EQ(c->X[0][a - 1], c->X[0][a]);
      EXPECT_EQ(c->Y[0][a - 1], c->Y[0][a]);
      EXPECT_EQ(c->Z[0][a - 1], c->Z[0][a]);
      double p[3];
      RefEvalCurve(ref, t, p);
      EXPECT_NEAR(c->X[0][a], p[0], 1e-12);
      EXPECT_NEAR(c->Y[0][a], p[1], 1e-12);
      EXPECT_NEAR(c->Z[0][a], p[2], 1e-12);
    }
    EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
    FreeBspline(c);
    FreeBspline(ref);
  }
}

TEST_F(KnotInsertion, ValuesOutOfOrderStillKeepTheShape) {
  Bspline* c = BuildRandomCurve(31, 3, 10, 3, false);
  Bspline* ref = CopyBsplineStruct(c);
  std::vector<double> v = {0.8, 0.2, 0.55, 0.1};
  InsertNKnotsToObject(1, 4, 0, c, 2, v.data());
  ASSERT_FALSE(KernelFailedNow());
  std::vector<double> k = Knots(c);
  EXPECT_TRUE(std::is_sorted(k.begin(), k.end()));
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(KnotInsertion, BadCountOrMultiplicityFailsAtOnce) {
  Bspline* c = BuildRandomCurve(41, 3, 6, 3, true);
  Bspline* ref = CopyBsplineStruct(c);
  double v[2] = {0.3, 0.6};
  for (int mult : {0, -2}) {
    InsertNKnotsToObject(mult, 2, 0, c, 2, v);
    EXPECT_EQ(zk_error_status, -2);
    EXPECT_TRUE(SameObject(c, ref));
    ClearKernelError();
  }
  InsertNKnotsToObject(1, -1, 0, c, 1, nullptr);
  EXPECT_EQ(zk_error_status, -2);
  EXPECT_TRUE(SameObject(c, ref));
  ClearKernelError();
  InsertNKnotsToObject(1, 2, 0, c, 7, v);  // unknown mode: nothing, no error
  EXPECT_FALSE(KernelFailedNow());
  EXPECT_TRUE(SameObject(c, ref));
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(KnotInsertion, AllocationFailuresLeaveTheObjectUsable) {
  for (int dir : {0, 1}) {
    Bspline* s = BuildRandomSurface(51, 3, 3, 6, 5, true);
    Bspline* ref = CopyBsplineStruct(s);
    const int failures = ExpectCleanFailures(s, [dir](Bspline* obj) {
      double v[3] = {0.2, 0.45, 0.9};
      InsertNKnotsToObject(1, 3, dir, obj, 2, v);
    });
    EXPECT_GT(failures, 2);
    EXPECT_LE(MaxShapeGap(ref, s, 13), 1e-12 * RefScale(ref));
    FreeBspline(s);
    FreeBspline(ref);
  }
  // Inside a caller's scope the new arrays belong to the object, not to the scope.
  Bspline* c = BuildRandomCurve(52, 2, 5, 3, false);
  BeginTrackingMallocs();
  InsertNKnotsToObject(1, 2, 0, c, 1, nullptr);
  FreeTrackedMallocs();
  EXPECT_EQ(c->interiorU, 4);
  double p[3];
  RefEvalCurve(c, 0.5, p);  // the sanitizer objects if the arrays were freed
  FreeBspline(c);
}

TEST_F(KnotInsertion, OnePassInsertionMatchesOneByOne) {
  // The one-pass variant puts knots into the three largest spans at once, some within p of
  // each other; inserting the same values one by one must give the same coefficients.
  Bspline* a = BuildRandomCurve(61, 3, 9, 3, true);
  Bspline* b = CopyBsplineStruct(a);
  ASSERT_NE(InsertOneKnotToObject(3, 0, a, 1, 0.0, 0), 0);
  ASSERT_EQ(a->interiorU, b->interiorU + 3);
  std::vector<double> mids;
  for (int i = a->degreeU + 1; i < NumCtrlU(a); ++i)
    if (std::find(b->knotsU, b->knotsU + NumKnotsU(b), a->knotsU[i]) == b->knotsU + NumKnotsU(b))
      mids.push_back(a->knotsU[i]);
  ASSERT_EQ(mids.size(), 3u);
  InsertNKnotsToObject(1, 3, 0, b, 2, mids.data());
  ASSERT_EQ(Knots(a), Knots(b));
  for (int i = 0; i < NumCtrlU(a); ++i) {
    EXPECT_NEAR(a->X[0][i], b->X[0][i], 1e-12);
    EXPECT_NEAR(a->W[0][i], b->W[0][i], 1e-12);
  }
  // One value at a given knot index.
  const double t = 0.5 * (a->knotsU[6] + a->knotsU[7]);
  Bspline* ref = CopyBsplineStruct(a);
  ASSERT_NE(InsertOneKnotToObject(1, 0, a, 2, t, 7), 0);
  EXPECT_EQ(a->knotsU[7], t);
  EXPECT_LE(MaxShapeGap(ref, a), 1e-12 * RefScale(ref));
  EXPECT_EQ(InsertOneKnotToObject(1, 0, a, 2, t, 3), 0);  // index outside the domain
  FreeBspline(a);
  FreeBspline(b);
  FreeBspline(ref);
}

TEST_F(KnotInsertion, SpanRankingKeepsTheLargestInAscendingOrder) {
  const double knots[] = {0, 0, 0, 1, 3, 3.5, 5.5, 6, 6, 6};
  int* idx = FindNLargestSpanIndices(2, 2, 10 - 2, knots);
  ASSERT_NE(idx, nullptr);
  // [1, 3] and [3.5, 5.5] tie: the later one is placed before the equal one already kept.
  EXPECT_EQ(idx[0], 5);
  EXPECT_EQ(idx[1], 3);
  double* mids = FindFixedWeightedPoints(knots, 2, idx, 1.0, 1.0);
  EXPECT_DOUBLE_EQ(mids[0], 4.5);
  EXPECT_DOUBLE_EQ(mids[1], 2.0);
  SortIndicesAndValues(2, &mids, &idx);
  EXPECT_EQ(idx[0], 3);
  double* merged = InsertNColsInVectorByIndex(10, knots, 2, mids, idx);
  EXPECT_EQ(std::vector<double>(merged, merged + 12),
            (std::vector<double>{0, 0, 0, 1, 2, 3, 3.5, 4.5, 5.5, 6, 6, 6}));
  Free(idx);
  Free(mids);
  Free(merged);

  // One slot: an equal value replaces the kept one, so the last of equal spans wins.
  double best = 0.0;
  int at = -1;
  for (int i = 0; i < 3; ++i) BubbleValueAndIndex(1, 1.0, i, &best, &at);
  EXPECT_EQ(at, 2);

  auto* values = static_cast<double*>(Malloc(3 * sizeof(double)));
  auto* ids = static_cast<int*>(Malloc(3 * sizeof(int)));
  values[0] = 0.7, values[1] = -1.0, values[2] = 0.2;
  ids[0] = 0, ids[1] = 1, ids[2] = 2;
  SortIndicesAndValues(3, &values, &ids);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{-1.0, 0.2, 0.7}));
  EXPECT_EQ(std::vector<int>(ids, ids + 3), (std::vector<int>{1, 2, 0}));
  Free(values);
  Free(ids);
}

}  // namespace
