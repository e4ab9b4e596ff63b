// Trim loop search among loose curves: the cycles the picks fall in become outer loops, cycles
// inside them holes, and a failure leaves the surface's trim list where it was.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "surface/trimutils.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/surface/recordviews.h"

namespace {

class LoopSearch : public KernelTest {};

Bspline* Patch() {
  return BuildFunctionPatch([](double x, double y) { return 0.1 * x - 0.2 * y * y; });
}

// An octagon round (cu, cv) as one closed degree-1 curve on the surface.
Bspline* Octagon(Bspline* s, double cu, double cv, double r) {
  std::vector<double> uv;
  for (int k = 0; k <= 8; ++k) {
    uv.push_back(cu + r * std::cos(2 * M_PI * (k % 8) / 8));
    uv.push_back(cv + r * std::sin(2 * M_PI * (k % 8) / 8));
  }
  return BuildCurveOnSurface(s, 1, uv);
}

void FreeNodes(BsplineList* n) {
  while (n) {
    BsplineList* next = n->next;
    Free(n);
    n = next;
  }
}

struct Found {
  int n = 0;
  Bspline** out = nullptr;
  BsplineList* removed = nullptr;
  ~Found() {
    for (int i = 1; i < n; ++i) FreeBspline(out[i]);
    Free(out);
    FreeNodes(removed);
  }
};

int Loops(const Bspline* s, int hole) {
  int k = 0;
  for (TrimList* l = s->trims; l; l = l->next) k += l->hole == hole ? 1 : 0;
  return k;
}

TEST_F(LoopSearch, OneClosedCurvePickedInsideOrOutside) {
  for (int inside = 0; inside < 2; ++inside) {
    Bspline* s = Patch();
    Octagon(s, 0.5, 0.5, 0.2);
    const float pu = inside ? 0.5f : 0.1f, pv = 0.5f;
    Found f;
    ASSERT_EQ(FindAllTrimLoops(s, 1, &pu, &pv, &f.n, &f.removed, &f.out), 0);
    ASSERT_EQ(f.n, 1);
    EXPECT_EQ(f.out[0], s);
    EXPECT_EQ(Loops(s, 0), 1);
    EXPECT_EQ(Loops(s, 1), inside ? 0 : 1);
    // Picked inside: the octagon (cut at its middle) is the outer loop; outside: a hole.
    EXPECT_EQ(LoopItems(s->trims).size(), inside ? 2u : 4u);
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), inside);
    EXPECT_EQ(IsPointInTrim(s, 0.05, 0.05), 1 - inside);
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.65), inside);
    FreeBspline(s);
  }
}

TEST_F(LoopSearch, TwoPickedRegionsGiveTwoSurfacesAndTwoCrossingCurvesALens) {
  {
    Bspline* s = Patch();
    Octagon(s, 0.25, 0.3, 0.15);
    Octagon(s, 0.7, 0.65, 0.2);
    const float pu[2] = {0.25f, 0.7f}, pv[2] = {0.3f, 0.65f};
    Found f;
    ASSERT_EQ(FindAllTrimLoops(s, 2, pu, pv, &f.n, &f.removed, &f.out), 0);
    ASSERT_EQ(f.n, 2);
    EXPECT_EQ(f.out[0], s);
    // Each surface holds one of the picks (in the order the cycles were found).
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(Loops(f.out[i], 0), 1);
      EXPECT_EQ(IsPointInTrim(f.out[i], pu[0], pv[0]) + IsPointInTrim(f.out[i], pu[1], pv[1]), 1);
    }
    EXPECT_EQ(IsPointInTrim(f.out[0], pu[0], pv[0]) + IsPointInTrim(f.out[1], pu[0], pv[0]), 1);
    for (Bspline* c : ListItems(f.out[1])) EXPECT_EQ(c->owner, f.out[1]);
    FreeBspline(s);
  }
  {
    Bspline* s = Patch();
    BuildCurveOnSurface(s, 2, {0.1, 0.3, 0.5, 1.3, 0.9, 0.3});
    BuildCurveOnSurface(s, 2, {0.1, 0.7, 0.5, -0.3, 0.9, 0.7});
    const float pu = 0.5f, pv = 0.5f;
    Found f;
    ASSERT_EQ(FindAllTrimLoops(s, 1, &pu, &pv, &f.n, &f.removed, &f.out), 0);
    ASSERT_EQ(f.n, 1);
    EXPECT_EQ(LoopItems(s->trims).size(), 2u);
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), 1);
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.25), 1);
    EXPECT_EQ(IsPointInTrim(s, 0.5, 0.85), 0);
    EXPECT_EQ(IsPointInTrim(s, 0.15, 0.5), 0);
    FreeBspline(s);
  }
}

TEST_F(LoopSearch, RemovedCurvesTakeNoPart) {
  Bspline* s = Patch();
  Bspline* oct = Octagon(s, 0.5, 0.5, 0.2);
  Found f;
  {
    f.removed = MallocNullBsplineList();
    f.removed->item = oct;
  }
  const float pu = 0.5f, pv = 0.5f;
  ASSERT_EQ(FindAllTrimLoops(s, 1, &pu, &pv, &f.n, &f.removed, &f.out), 0);
  ASSERT_EQ(f.n, 1);
  EXPECT_EQ(Loops(s, 1), 0);
  EXPECT_EQ(IsPointInTrim(s, 0.5, 0.5), 1);
  EXPECT_EQ(IsPointInTrim(s, 0.05, 0.05), 1);
  FreeBspline(s);
}

TEST_F(LoopSearch, FailuresLeaveTheTrimListAndLeakNothing) {
  int failures = 0, successes = 0;
  for (long skip = 0; skip < 4000; skip += 37) {
    Bspline* s = Patch();
    AddOrderedTrimCurve(s, CreateSurfBoundaryAsTrimCurveBspline(s));
    Octagon(s, 0.5, 0.5, 0.2);
    const float pu = 0.1f, pv = 0.5f;
    Found f;
    ClearKernelError();
    MallocFailAfter(skip, -1);
    const int r = FindAllTrimLoops(s, 1, &pu, &pv, &f.n, &f.removed, &f.out);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0) << skip;
    EXPECT_EQ(MallocTrackedCount(), 0) << skip;
    EXPECT_NE(s->trims, nullptr) << skip;
    if (r != 0) {
      EXPECT_EQ(f.out, nullptr);
      EXPECT_EQ(f.n, 0);
      ++failures;
    } else {
      ++successes;
    }
    ClearKernelError();
    FreeBspline(s);
  }
  EXPECT_GT(failures, 10);
  EXPECT_GT(successes, 0);
}

}  // namespace
