// Curve operations on trim loops (a, b, c) and (d, e): cyclic neighbours, replacing one curve
// or two neighbours by one (the cyclic cases included), picked neighbours put into order, and
// cutting curves at a common cutter with the pieces keeping the curves' shape.
#include <cmath>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "curve/crvclpt.h"
#include "curve/crvutil.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class TrimLoopOps : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    s = BuildFunctionPatch([](double, double) { return 0.0; });
    const double p[3][2] = {{0.2, 0.2}, {0.8, 0.2}, {0.5, 0.8}};
    for (int k = 0; k < 3; ++k) abc.push_back(Line(p[k][0], p[k][1], p[(k + 1) % 3][0], p[(k + 1) % 3][1]));
    de = {Line(0.4, 0.4, 0.6, 0.4), Line(0.6, 0.4, 0.4, 0.4)};
    first = AddLoop(s, abc);
    second = AddLoop(s, de, 1);
  }
  void TearDown() override {
    FreeBspline(s);
    KernelTest::TearDown();
  }
  Bspline* Line(double au, double av, double bu, double bv) {
    std::vector<double> uv;
    for (int i = 0; i < 4; ++i) {
      uv.push_back(au + (bu - au) * i / 3.0);
      uv.push_back(av + (bv - av) * i / 3.0);
    }
    return BuildCurveOnSurface(s, 3, uv);
  }
  Bspline* Loose() {
    Bspline* c = Line(0.1, 0.1, 0.2, 0.2);
    return c;
  }
  Bspline* s = nullptr;
  std::vector<Bspline*> abc, de;
  TrimList* first = nullptr;
  TrimList* second = nullptr;
};

TEST_F(TrimLoopOps, NeighboursAreCyclic) {
  Bspline* out = nullptr;
  EXPECT_EQ(FindNextCurveInTrim(abc[2], &out), abc[0]);
  EXPECT_EQ(out, abc[0]);
  EXPECT_EQ(FindNextCurveInTrim(abc[0], nullptr), abc[1]);
  EXPECT_EQ(FindPrevCurveInTrim(abc[0], &out), abc[2]);
  EXPECT_EQ(FindPrevCurveInTrim(abc[1], nullptr), abc[0]);
  EXPECT_EQ(FindPrevCurveInTrim(de[0], nullptr), de[1]);
  EXPECT_EQ(FindNextCurveInTrim(de[1], nullptr), de[0]);
  Bspline* loose = Loose();
  out = abc[0];
  EXPECT_EQ(FindNextCurveInTrim(loose, &out), nullptr);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(FindPrevCurveInTrim(loose, &out), nullptr);
}

TEST_F(TrimLoopOps, MergesOfNeighboursIncludingTheCyclicCases) {
  Bspline* n1 = Loose();
  EXPECT_EQ(ReplaceCurvesInTrimList(abc[2], 2, n1), 0);  // c and its successor a
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{abc[1], n1}));
  Bspline* n2 = Loose();
  EXPECT_EQ(ReplaceCurvesInTrimList(de[1], 2, n2), 0);  // second of a loop of two
  EXPECT_EQ(LoopItems(second), (std::vector<Bspline*>{n2}));
  Bspline* n3 = Loose();
  EXPECT_EQ(ReplaceCurvesInTrimList(abc[1], 2, n3), 0);  // b and its successor n1: the whole loop
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{n3}));
  // Curves stay on the surface; nothing in no loop changes.
  EXPECT_EQ(GetNumCurvePieces(s->curves), 8);
  EXPECT_EQ(ReplaceCurvesInTrimList(abc[0], 2, n1), 0);
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{n3}));
}

TEST_F(TrimLoopOps, MergeInTheMiddleAndSingleReplacement) {
  Bspline* n1 = Loose();
  EXPECT_EQ(ReplaceCurvesInTrimList(abc[1], 2, n1), 0);
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{abc[0], n1}));
  Bspline* n2 = Loose();
  EXPECT_EQ(ReplaceCurveWithCurveInTrimList(abc[0], n2), 0);
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{n2, n1}));
  TrimList* found = nullptr;
  EXPECT_EQ(GetTrimCurveOfTrimPiece(first->loopCurves, s->trims, &found), 1);
  EXPECT_EQ(found, first);
}

TEST_F(TrimLoopOps, PickedNeighboursAreReversedIntoOrder) {
  EXPECT_EQ(CheckIfPickedCurvesTrimNeighbors(abc[0], abc[1]), 1);
  EXPECT_EQ(LoopItems(first), abc);
  const int before = FindTrimCurveDirection(s, first);
  EXPECT_EQ(CheckIfPickedCurvesTrimNeighbors(abc[1], abc[0]), 1);
  EXPECT_EQ(LoopItems(first), (std::vector<Bspline*>{abc[2], abc[1], abc[0]}));
  EXPECT_EQ(FindNextCurveInTrim(abc[1], nullptr), abc[0]);
  EXPECT_EQ(FindTrimCurveDirection(s, first), 3 - before);
  EXPECT_EQ(IsTrimCurveOpen(first, 1e-12), 0);
  EXPECT_EQ(CheckIfPickedCurvesTrimNeighbors(abc[0], de[0]), 0);
  EXPECT_EQ(CheckIfPickedCurvesTrimNeighbors(Loose(), Loose()), 1);
}

TEST_F(TrimLoopOps, CuttingAtACommonCutterKeepsTheShapes) {
  // The cutter u = 0.4 crosses a (v = 0.2) and c; the pieces replace them in the loop.
  Bspline* cutter = Line(0.4, 0.0, 0.4, 1.0);
  Bspline* curves[3] = {abc[0], abc[2], cutter};
  Bspline* pieces[4] = {};
  ASSERT_EQ(SnipCurveAtIntersectionCore(curves, 3, pieces), 0);
  EXPECT_EQ(GetNumCurvePieces(first->loopCurves), 5);
  EXPECT_EQ(IsTrimCurveOpen(first, 1e-6), 0);
  for (Bspline* p : pieces) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->owner, s);
    EXPECT_EQ(IsTrimPiece(p), 1);
  }
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, pieces[0], pieces[0]->knotsU[pieces[0]->degreeU + pieces[0]->interiorU + 1], 0, a);
  Eval2DPointOnCurve2Array(nullptr, pieces[1], pieces[1]->knotsU[pieces[1]->degreeU], 0, b);
  EXPECT_NEAR(a[0], 0.4, 1e-6);
  EXPECT_NEAR(a[1], 0.2, 1e-9);
  EXPECT_NEAR(b[0], 0.4, 1e-6);
  // A cut at a curve's end is refused.
  Bspline* atEnd = Line(0.8, 0.0, 0.8, 1.0);
  Bspline* refused[2] = {abc[1], atEnd};
  Bspline* none[2] = {};
  EXPECT_EQ(SnipCurveAtIntersectionCore(refused, 2, none), -2);
  ClearKernelError();
}

}  // namespace
