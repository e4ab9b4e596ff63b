// The record's allocators, the curve-list operations, the reversal of a curve's direction and
// the release of records with their curve lists and trim loops.
#include <algorithm>
#include <vector>

#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class RecordTest : public KernelTest {};

Bspline* Patch() {
  return BuildFunctionPatch([](double x, double y) { return x * y; });
}

// A 2D line segment from (u0, v0) to (u1, v1), listed on the surface.
Bspline* Segment(Bspline* s, double u0, double v0, double u1, double v1) {
  return BuildCurveOnSurface(s, 1, {u0, v0, u1, v1});
}

std::vector<Bspline*> Items(const BsplineList* l) {
  std::vector<Bspline*> v;
  for (; l; l = l->next) v.push_back(l->item);
  return v;
}

// Re-allocating a bilinear patch's arrays for other shapes, with every allocation failing in
// turn: a failure leaves the old arrays in place, a success gives arrays of the right presence
// and size (every entry is written, so the sanitizer catches one too short).
TEST_F(RecordTest, ArraysFollowTheRecordOrStayUntouched) {
  struct Case {
    int kind, dim, rational, pu, iu, pv, iv;
  };
  for (const Case c :
       {Case{1, 2, 0, 1, 0, 0, 0}, Case{1, 3, 1, 3, 4, 0, 0}, Case{2, 3, 1, 3, 0, 1, 3}}) {
    Bspline* b = BuildSurface(1, 1, 2, 2, {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 1});
    const Bspline before = *b;
    b->kind = c.kind, b->dimension = c.dim, b->rational = c.rational;
    b->degreeU = c.pu, b->interiorU = c.iu, b->degreeV = c.pv, b->interiorV = c.iv;
    bool done = false;
    RunWithInjectedFailures(40, 1, [&] {
      if (done) return 0;
      const int r = AllocateBsplineArrays(b);
      if (r >= 0) return done = true, 0;
      EXPECT_EQ(r, -2);
      EXPECT_TRUE(KernelFailedNow());
      EXPECT_TRUE(b->knotsU == before.knotsU && b->knotsV == before.knotsV && b->X == before.X &&
                  b->Z == before.Z && b->W == nullptr && b->Z[1][1] == 1.0);
      return -2;
    });
    ASSERT_TRUE(done);
    EXPECT_EQ(b->knotsV != nullptr, c.kind == 2);
    EXPECT_EQ(b->Z != nullptr, c.dim == 3);
    EXPECT_EQ(b->W != nullptr, c.rational != 0);
    std::fill_n(b->knotsU, NumKnotsU(b), 1.0);
    if (b->knotsV) std::fill_n(b->knotsV, NumKnotsV(b), 1.0);
    for (double** m : {b->X, b->Y, b->Z, b->W})
      for (int j = 0; m && j < NumCtrlV(b); ++j) std::fill_n(m[j], NumCtrlU(b), 2.0);
    FreeBspline(b);
  }
}

TEST_F(RecordTest, CurveIsListedOnceAndOnlyWhenTwoDimensional) {
  Bspline *s = Patch(), *c = Segment(s, 0.1, 0.1, 0.9, 0.2);
  Bspline *c3 = BuildCurve(1, 3, {0, 0, 0, 1, 1, 1}), *d = BuildCurve(1, 2, {0.2, 0.2, 0.3, 0.3});
  PutBsplToSurfCrvList(c, s);
  PutBsplToSurfCrvList(c3, s);
  MallocFailAfter(0, -1);
  PutBsplToSurfCrvList(d, s);  // its node cannot be allocated
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(Items(s->curves), std::vector<Bspline*>{c});
  EXPECT_TRUE(c->owner == s && c3->owner == nullptr && d->owner == nullptr);
  ClearKernelError();
  for (Bspline* b : {d, c3, s}) FreeBspline(b);
}

// Splitting at any n, lists shorter than n included, and joining back keeps every curve
// exactly once with the right owner and in the original order.
TEST_F(RecordTest, SplitAndJoinKeepEveryCurveOnce) {
  for (int len = 0; len <= 4; ++len) {
    for (int n = 0; n <= len + 2; ++n) {
      Bspline *s = Patch(), *a = Patch(), *b = Patch();
      for (int i = 0; i < len; ++i) Segment(s, 0.1 * i, 0.1, 0.1 * i + 0.05, 0.2);
      const std::vector<Bspline*> all = Items(s->curves);
      BsplineList* list = s->curves;
      s->curves = nullptr;
      PutCurveListToTwoBspl(a, b, list, n);
      const size_t na = std::min<size_t>(n, all.size());
      EXPECT_EQ(Items(a->curves), std::vector<Bspline*>(all.begin(), all.begin() + na));
      EXPECT_EQ(Items(b->curves), std::vector<Bspline*>(all.begin() + na, all.end()));
      for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i]->owner, i < na ? a : b);

      PutTwoCurveListsToBspl(a->curves, b->curves, s);
      a->curves = b->curves = nullptr;
      EXPECT_EQ(Items(s->curves), all);
      for (Bspline* c : all) EXPECT_EQ(c->owner, s);
      for (Bspline* x : {a, b, s}) FreeBspline(x);
    }
  }
}

TEST_F(RecordTest, FreeingALoopCurveDissolvesItsLoopOnly) {
  Bspline* s = Patch();
  Bspline *c1 = Segment(s, 0, 0, 1, 0), *c2 = Segment(s, 1, 0, 1, 1), *c3 = Segment(s, 1, 1, 0, 0);
  Bspline* h = Segment(s, 0.4, 0.4, 0.6, 0.6);
  AddLoop(s, {c1, c2, c3});
  TrimList* hole = AddLoop(s, {h}, 1);
  FreeBspline(c2);
  EXPECT_TRUE(s->trims == hole && hole->next == nullptr);
  EXPECT_EQ(Items(s->curves), (std::vector<Bspline*>{h, c3, c1}));

  // A copy-like curve (owner set, not listed) leaves the owner's lists alone.
  Bspline* loose = BuildCurve(1, 2, {0, 0, 1, 1});
  loose->owner = s;
  FreeBspline(loose);
  EXPECT_EQ(GetNumCurvePieces(s->curves), 3);
  EXPECT_EQ(s->trims, hole);

  FreeTrimCurveBsplines(hole);
  EXPECT_EQ(s->trims, nullptr);
  EXPECT_EQ(Items(s->curves), (std::vector<Bspline*>{c3, c1}));

  AddLoop(s, {c3, c1});
  FreeBspline(s);  // curves, loop and nodes: the sanitizer reports anything left behind
}

TEST_F(RecordTest, FreeingArraysAndPropertiesLeavesNoDanglingPointers) {
  Bspline* b = BuildRandomCurve(3, 3, 7, 3, true);
  b->quadricType = 1;
  b->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  EXPECT_EQ(FreeBsplineStruct(b), 0);
  EXPECT_TRUE(b->knotsU == nullptr && b->X == nullptr && b->Y == nullptr && b->Z == nullptr &&
              b->W == nullptr && b->quadric == nullptr);
  EXPECT_EQ(b->quadricType, 0);
  FreeBspline(b);

  auto** a = MallocArray<Bspline*>(2);
  a[0] = BuildRandomCurve(1, 2, 4), a[1] = nullptr;
  FreeBsplineArrayContents(a, 2);
  EXPECT_EQ(a[0], nullptr);
  FreeBsplineArray(a, 2);
  // The legacy records: one with no user, and a polyline record freed with its arrays (the
  // leak check sees any left behind).
  Dle* d = MallocNullDle();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->words[0], 0);
  Free(d);
  auto* lines = static_cast<HighResLines*>(Malloc(sizeof(HighResLines)));
  for (float** f : {&lines->x, &lines->y, &lines->z}) *f = static_cast<float*>(Malloc(4 * sizeof(float)));
  FreeHighResLines(lines);
  FreeHighResLines(nullptr);
}

// Reversal: C(s) of the reversed curve is C(umin + umax - s). Random curves of every kind on
// [2, 5], so the mirror is about the stored domain and not about 0: the reversed curve traces
// the same points backwards, and a second reversal
// restores the knots up to rounding.
TEST_F(RecordTest, ReversedCurveTracesThePointsBackwards) {
  BsplineKeeper keep;
  int seed = 1;
  for (int dim : {2, 3})
    for (bool rational : {false, true})
      for (int degree : {1, 2, 3, 5}) {
        Bspline* c = keep(BuildRandomCurve(seed++, degree, degree + 4, dim, rational));
        const int K = NumKnotsU(c);
        for (int k = 0; k < K; ++k) c->knotsU[k] = 2.0 + 3.0 * c->knotsU[k];
        c->umin = 2.0, c->umax = 5.0;
        const std::vector<double> k0(c->knotsU, c->knotsU + K);
        std::vector<double> before(3 * 41);
        for (int i = 0; i <= 40; ++i) RefEvalCurve(c, 2.0 + 3.0 * i / 40.0, &before[3 * i]);
        reverseBspline(c);
        EXPECT_TRUE(c->umin == 2.0 && c->umax == 5.0);
        for (int k = 0; k < K; ++k) EXPECT_EQ(c->knotsU[k], 7.0 - k0[K - 1 - k]);
        for (int i = 0; i <= 40; ++i) {
          double p[3];
          RefEvalCurve(c, 5.0 - 3.0 * i / 40.0, p);
          for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(p[k], before[3 * i + k], 1e-12) << degree << " " << i;
        }
        reverseBspline(c);
        for (int k = 0; k < K; ++k) EXPECT_NEAR(c->knotsU[k], k0[k], 1e-15);
      }
}

// A reversal keeps the shape, so what was derived from it stays: both property blocks as they
// were, and every exact form but a line's, whose start and end points change places (the one
// description that names the direction). Checked for the line and for the next type, a circle.
TEST_F(RecordTest, LineDescriptionFollowsAndDerivedDataStays) {
  BsplineKeeper keep;
  for (int type : {1, 2}) {
    Bspline* c = keep(BuildCurve(1, 3, {0, 0, 0, 1, 2, 3}));
    c->quadricType = type;
    c->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
    for (int i = 0; i < 9; ++i) c->quadric->v[i] = i;
    c->fitProps = {1, 0.5, 0.25, 0.125};
    c->propsB = {1, {2, 3, 4, 5, 6}};
    const BsplineFitProps fit = c->fitProps;
    const BsplinePropsB b = c->propsB;
    reverseBspline(c);
    ASSERT_EQ(c->quadricType, type);
    for (int i = 0; i < 9; ++i) {
      // A line is start xyz, end xyz: the two triples swap; the rest of the block is unused.
      const double expected = type == 1 && i < 6 ? (i + 3) % 6 : i;
      EXPECT_EQ(c->quadric->v[i], expected) << "type " << type << " value " << i;
    }
    EXPECT_TRUE(c->fitProps.flag == fit.flag && c->fitProps.tension == fit.tension &&
                c->fitProps.roughness == fit.roughness && c->fitProps.sigma == fit.sigma)
        << type;
    EXPECT_TRUE(c->propsB.flag == b.flag && std::equal(b.words, b.words + 5, c->propsB.words)) << type;
  }
}

}  // namespace
