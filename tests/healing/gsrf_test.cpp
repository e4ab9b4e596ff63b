// The boundary graph of a surface group: loops and curves in their documented order, corner
// vertices, paired elements with their orientation, T-junction cuts, and clean failure on a
// user break or a refused allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "bspline/sfree.h"
#include "healing/srfbndrc.h"
#include "tests/bspline/trimloops.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

// Linear in x so that patches of any width agree along a shared side of constant y.
double Shape(double x, double y) { return 0.2 * x + 0.3 * y * y; }

Bspline* Patch(double x0, double x1, double y0, double y1, int nu = 6) {
  PatchOptions o;
  o.x0 = x0, o.x1 = x1, o.y0 = y0, o.y1 = y1, o.nu = nu;
  return BuildFunctionPatch(Shape, o);
}

using ElPair = std::pair<const GsrfBndrEl*, const GsrfBndrEl*>;

class GsrfTest : public KernelTest {
 protected:
  void TearDown() override {
    FreeGsrfBndr(g_);
    for (Bspline* s : srfs_) FreeBspline(s);
    KernelTest::TearDown();
  }

  Gsrf* Build(double gapTol) {
    FreeGsrfBndr(g_);
    g_ = MakeGSrfBndrStructCore(srfs_.data(), static_cast<int>(srfs_.size()), 1e-6, gapTol, &status_);
    return g_;
  }

  // Every partner link once, element of the lower id first.
  std::vector<ElPair> Linked() const {
    std::vector<ElPair> out;
    for (int i = 0; i < g_->nEl; ++i)
      if (g_->els[i].partner && g_->els[i].partner->id > i) out.emplace_back(&g_->els[i], g_->els[i].partner);
    return out;
  }

  // Structural invariants every finished graph keeps.
  void ExpectConsistent() const {
    ASSERT_NE(g_, nullptr);
    EXPECT_EQ(g_->nSample, 0);
    EXPECT_EQ(g_->x, nullptr);
    EXPECT_EQ(g_->t, nullptr);
    int elRun = 0;
    for (int c = 0; c < g_->nCrv; ++c) {
      const GsrfCrv& cr = g_->crvs[c];
      EXPECT_EQ(cr.id, c);
      EXPECT_EQ(cr.nSample, 0);
      EXPECT_EQ(cr.firstEl, elRun);
      EXPECT_EQ(g_->crvs[cr.next].prev, c);
      for (int e = 0; e < cr.nEl; ++e) {
        const GsrfBndrEl& el = g_->els[elRun + e];
        EXPECT_EQ(el.crv, &cr);
        EXPECT_EQ(el.srfId, cr.srfId);
        EXPECT_EQ(el.prev, e == 0 ? nullptr : &g_->els[elRun + e - 1]);
        EXPECT_EQ(el.next, e == cr.nEl - 1 ? nullptr : &g_->els[elRun + e + 1]);
        EXPECT_LE(el.t0, el.t1);
        if (e == 0) {
          EXPECT_DOUBLE_EQ(el.t0, cr.t0);
        }
        if (e == cr.nEl - 1) {
          EXPECT_DOUBLE_EQ(el.t1, cr.t1);
        }
        if (e > 0) {
          EXPECT_EQ(el.v0, g_->els[elRun + e - 1].v1);
        }
        EXPECT_TRUE(el.v0 >= 0 && el.v0 < g_->nVert && el.v1 >= 0 && el.v1 < g_->nVert);
        if (el.partner) {
          EXPECT_EQ(el.partner->partner, &el);
          EXPECT_NE(el.partner->crv, el.crv);
          EXPECT_EQ(el.partner->orient, el.orient);
        }
      }
      elRun += cr.nEl;
    }
    EXPECT_EQ(elRun, g_->nEl);
    int loopEls = 0;
    for (int l = 0; l < g_->nLoop; ++l) loopEls += g_->loops[l].nEl;
    EXPECT_EQ(loopEls, g_->nEl);
  }

  // Vertex whose centroid lies within tol of (x, y); -1 when none.
  int VertexNear(double x, double y, double tol = 0.01) const {
    for (int v = 0; v < g_->nVert; ++v)
      if (std::hypot(g_->verts[v].c[0] - x, g_->verts[v].c[1] - y) < tol) return v;
    return -1;
  }

  std::vector<Bspline*> srfs_;
  Gsrf* g_ = nullptr;
  int status_ = 99;
};

constexpr double kGap = 0.001;

TEST_F(GsrfTest, TwoPatchesSharingASideGiveOneSameWayPair) {
  srfs_ = {Patch(0, 1, 0, 1), Patch(1 + kGap, 2, 0, 1)};
  ASSERT_NE(Build(0.01), nullptr);
  EXPECT_EQ(status_, 0);
  ExpectConsistent();
  ASSERT_EQ(g_->nSrf, 2);
  ASSERT_EQ(g_->nLoop, 2);
  ASSERT_EQ(g_->nCrv, 8);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(g_->crvs[c].kind, c % 4 + 1);  // u-min, v-min, u-max, v-max
    EXPECT_EQ(g_->crvs[c].srfId, c / 4);
    EXPECT_EQ(g_->crvs[c].nEl, 1);
  }
  EXPECT_EQ(g_->crvs[0].prev, 3);
  EXPECT_EQ(g_->nEl, 8);
  // The two shared corners each make one vertex.
  EXPECT_EQ(g_->nVert, 6);
  const int v10 = VertexNear(1, 0), v11 = VertexNear(1, 1);
  ASSERT_GE(v10, 0);
  ASSERT_GE(v11, 0);
  EXPECT_EQ(g_->verts[v10].nMember, 4);

  const std::vector<ElPair> linked = Linked();
  ASSERT_EQ(linked.size(), 1u);
  EXPECT_EQ(linked[0].first->crv->id, 2);   // u-max side of the first patch
  EXPECT_EQ(linked[0].second->crv->id, 4);  // u-min side of the second
  EXPECT_EQ(linked[0].first->orient, 1);
  EXPECT_EQ(linked[0].first->v0, v10);
  EXPECT_EQ(linked[0].first->v1, v11);
  EXPECT_NEAR(linked[0].first->maxDist, kGap, 1e-4);
  EXPECT_EQ(linked[0].second->maxDist, linked[0].first->maxDist);
}

TEST_F(GsrfTest, GapToleranceBelowTheGapPairsNothing) {
  srfs_ = {Patch(0, 1, 0, 1), Patch(1 + kGap, 2, 0, 1)};
  ASSERT_NE(Build(0.5 * kGap), nullptr);
  ExpectConsistent();
  EXPECT_TRUE(Linked().empty());
  EXPECT_EQ(g_->nVert, 8);  // no corners merge either
}

TEST_F(GsrfTest, ReversedParameterDirectionFlipsOnlyTheOrientation) {
  srfs_ = {Patch(0, 1, 0, 1), Patch(1 + kGap, 2, 1, 0)};  // second patch: v runs down in y
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  const std::vector<ElPair> linked = Linked();
  ASSERT_EQ(linked.size(), 1u);
  EXPECT_EQ(linked[0].first->crv->id, 2);
  EXPECT_EQ(linked[0].second->crv->id, 4);
  EXPECT_EQ(linked[0].first->orient, 0);
  EXPECT_EQ(linked[0].second->v0, linked[0].first->v1);
  EXPECT_NEAR(linked[0].first->maxDist, kGap, 1e-4);
}

TEST_F(GsrfTest, GridOfFourHasNineCornersAndFourPairs) {
  srfs_ = {Patch(0, 1, 0, 1), Patch(1 + kGap, 2, 0, 1), Patch(0, 1, 1 + kGap, 2), Patch(1 + kGap, 2, 1 + kGap, 2)};
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  EXPECT_EQ(g_->nEl, 16);
  ASSERT_EQ(g_->nVert, 9);
  for (double x : {0.0, 1.0, 2.0})
    for (double y : {0.0, 1.0, 2.0}) EXPECT_GE(VertexNear(x, y), 0) << x << " " << y;
  EXPECT_EQ(g_->verts[VertexNear(1, 1)].nMember, 8);
  const std::vector<ElPair> linked = Linked();
  ASSERT_EQ(linked.size(), 4u);
  for (const ElPair& p : linked) {
    EXPECT_NE(p.first->srfId, p.second->srfId);
    EXPECT_EQ(p.first->orient, 1);  // neighbouring sides all run in increasing x or y
    EXPECT_LT(p.first->maxDist, 2 * kGap);
    EXPECT_TRUE((p.first->v0 == p.second->v0 && p.first->v1 == p.second->v1));
  }
}

TEST_F(GsrfTest, TJunctionCutsTheLongSideAtTheJunction) {
  srfs_ = {Patch(0, 2, -1, 0, 8), Patch(0, 1, kGap, 1), Patch(1, 2, kGap, 1)};
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  const GsrfCrv& longSide = g_->crvs[3];  // v-max side of the long patch
  ASSERT_EQ(longSide.nEl, 2);
  const GsrfBndrEl& left = longSide.els[0];
  const GsrfBndrEl& right = longSide.els[1];
  EXPECT_NEAR(left.t1, 0.5, 1e-3);  // x = 1 on a patch spanning x 0..2
  EXPECT_EQ(left.v1, VertexNear(1, 0));
  ASSERT_NE(left.partner, nullptr);
  ASSERT_NE(right.partner, nullptr);
  EXPECT_EQ(left.partner->crv->id, 5);   // v-min side of the left short patch
  EXPECT_EQ(right.partner->crv->id, 9);  // v-min side of the right one
  EXPECT_EQ(left.orient, 1);
  EXPECT_EQ(right.orient, 1);
  EXPECT_NEAR(left.maxDist, kGap, 1e-3);
  // The two short patches also meet each other: three linked pairs in all.
  EXPECT_EQ(Linked().size(), 3u);
}

TEST_F(GsrfTest, AVertexCrowdedByFreeCurvesKeepsAtMostFourFeet) {
  // Six stacked strips of different lengths (so no two share both corners) pass just under the
  // corner of a small patch, and their own corners lie on each other's sides.
  for (int i = 0; i < 6; ++i) {
    PatchOptions o;
    o.x0 = -0.1 * i, o.x1 = 2 + 0.1 * i, o.y0 = -1, o.y1 = 0;
    srfs_.push_back(BuildFunctionPatch([i](double, double) { return 0.002 * i; }, o));
  }
  PatchOptions o;
  o.x0 = 1, o.x1 = 1.5, o.y0 = kGap, o.y1 = 0.5;
  srfs_.push_back(BuildFunctionPatch([](double, double) { return 0.005; }, o));
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  int crowded = 0;
  for (int v = 0; v < g_->nVert; ++v) {
    EXPECT_LE(g_->verts[v].nFoot, 4);
    crowded += g_->verts[v].nFoot == 4;
  }
  EXPECT_GE(crowded, 1);
  const int corner = VertexNear(1, 0, 0.01);
  ASSERT_GE(corner, 0);
  EXPECT_EQ(g_->verts[corner].nFoot, 4);
  // The strips' v-max sides are cut where the corner's feet fell.
  int cutAtCorner = 0;
  for (int i = 0; i < 6; ++i) {
    const GsrfCrv& side = g_->crvs[4 * i + 3];
    for (int e = 0; e + 1 < side.nEl; ++e) cutAtCorner += side.els[e].v1 == corner;
  }
  EXPECT_EQ(cutAtCorner, 4);
}

TEST_F(GsrfTest, HoleLoopFollowsTheNaturalLoopAndAClosedCurveIsFlagged) {
  Bspline* s = Patch(0, 1, 0, 1);
  srfs_ = {s};
  // A closed quadratic loop around (0.5, 0.5): smooth everywhere but at its seam.
  const double a = 0.2;
  Bspline* hole = BuildCurveOnSurface(
      s, 2, {0.5 + a, 0.5, 0.5 + a, 0.5 + a, 0.5 - a, 0.5 + a, 0.5 - a, 0.5 - a, 0.5 + a, 0.5 - a, 0.5 + a, 0.5},
      ClampedKnots(2, 6));
  ASSERT_NE(hole, nullptr);
  AddLoop(s, {hole}, 1);
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  // A hole does not replace the natural loop, which comes first.
  ASSERT_EQ(g_->nLoop, 2);
  EXPECT_EQ(g_->loops[0].trim, nullptr);
  EXPECT_EQ(g_->loops[0].nCrv, 4);
  EXPECT_EQ(g_->loops[1].trim, s->trims);
  EXPECT_EQ(g_->loops[1].firstCrv, 4);
  for (int c = 4; c < g_->nCrv; ++c) EXPECT_EQ(g_->crvs[c].kind, 0);
  ASSERT_EQ(g_->loops[1].nCrv, 1);  // tangent-continuous: not split
  EXPECT_EQ(g_->crvs[4].closed, 1);
  EXPECT_EQ(g_->crvs[4].prev, 4);
  ASSERT_EQ(g_->crvs[4].nEl, 1);
  EXPECT_EQ(g_->crvs[4].els[0].v0, g_->crvs[4].els[0].v1);
  EXPECT_EQ(g_->breakHeads[4]->state, 0);  // a closed curve turns back: not collapsed
  EXPECT_TRUE(Linked().empty());
}

TEST_F(GsrfTest, JunctionOnAClosedHolePairsEachHalfWithItsSide) {
  // A hole bounded by one closed curve, filled by a disk trimmed from a copy of the surface
  // whose outer loop is the same curve in two halves: the far end of the halves cuts the hole.
  const std::vector<double> q = {0.7, 0.5, 0.7, 0.7, 0.5, 0.7, 0.3, 0.7, 0.3, 0.5,
                                 0.3, 0.3, 0.5, 0.3, 0.7, 0.3, 0.7, 0.5};
  Bspline* holed = Patch(0, 1, 0, 1);
  Bspline* disk = Patch(0, 1, 0, 1);
  srfs_ = {holed, disk};
  const std::vector<double> full = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};
  const std::vector<double> half = {0, 0, 0, .5, .5, 1, 1, 1};
  AddLoop(holed, {BuildCurveOnSurface(holed, 2, q, full)}, 1);
  Bspline* top = BuildCurveOnSurface(disk, 2, std::vector<double>(q.begin(), q.begin() + 10), half);
  Bspline* bottom = BuildCurveOnSurface(disk, 2, std::vector<double>(q.begin() + 8, q.end()), half);
  AddLoop(disk, {top, bottom}, 0);
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  ASSERT_EQ(g_->nCrv, 7);
  const GsrfCrv& hole = g_->crvs[4];
  ASSERT_EQ(hole.nEl, 2);
  EXPECT_NEAR(hole.els[0].t1, 0.5, 1e-3);
  const int seam = VertexNear(0.7, 0.5), far = VertexNear(0.3, 0.5);
  EXPECT_EQ(hole.els[0].v0, seam);
  EXPECT_EQ(hole.els[0].v1, far);
  ASSERT_NE(hole.els[0].partner, nullptr);
  ASSERT_NE(hole.els[1].partner, nullptr);
  EXPECT_EQ(hole.els[0].partner->crv->node->item, top);
  EXPECT_EQ(hole.els[1].partner->crv->node->item, bottom);
  EXPECT_EQ(hole.els[0].orient, 1);
  EXPECT_EQ(hole.els[1].orient, 1);
  EXPECT_LT(hole.els[0].maxDist, 2e-3);  // the two polylines differ by their chordal deviation
  EXPECT_EQ(Linked().size(), 2u);
}

TEST_F(GsrfTest, AnOuterTrimLoopReplacesTheNaturalLoop) {
  Bspline* s = Patch(0, 1, 0, 1);
  srfs_ = {s};
  std::vector<Bspline*> sides;
  const double q[5][2] = {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}, {0.1, 0.1}};
  for (int i = 0; i < 4; ++i)
    sides.push_back(BuildCurveOnSurface(s, 1, {q[i][0], q[i][1], q[i + 1][0], q[i + 1][1]}));
  AddLoop(s, sides, 0);
  ASSERT_NE(Build(0.01), nullptr);
  ExpectConsistent();
  ASSERT_EQ(g_->nLoop, 1);
  ASSERT_EQ(g_->nCrv, 4);
  EXPECT_EQ(g_->nVert, 4);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(g_->crvs[c].kind, 0);
    EXPECT_EQ(g_->crvs[c].node->item, sides[c]);
  }
}

TEST_F(GsrfTest, NoSurfaceOrNoObjectFails) {
  Bspline* curve = BuildCurve(1, 3, {0, 0, 0, 1, 0, 0});
  srfs_ = {curve};
  EXPECT_EQ(Build(0.01), nullptr);
  EXPECT_EQ(status_, -2);
  EXPECT_EQ(MakeGSrfBndrStructCore(nullptr, 0, 1e-6, 0.01, &status_), nullptr);
  EXPECT_EQ(status_, 0);
}

TEST_F(GsrfTest, UserBreakStopsTheBuildCleanly) {
  srfs_ = {Patch(0, 1, 0, 1), Patch(1 + kGap, 2, 0, 1), Patch(0, 1, 1 + kGap, 2)};
  int broken = 0;
  for (long n = 1;; ++n) {
    StubBreakAfterPolls(n);
    Gsrf* g = Build(0.01);
    if (g) break;
    ++broken;
    EXPECT_EQ(status_, -2);
    EXPECT_EQ(MallocTrackLevel(), 0);
    ASSERT_LT(n, 1000);
  }
  StubBreakAfterPolls(0);
  EXPECT_GE(broken, 3);  // sampling, clustering and pairing each poll
  ExpectConsistent();
  EXPECT_EQ(Linked().size(), 2u);
}

TEST_F(GsrfTest, RefusedAllocationsLeaveNoLeakAndACleanFailure) {
  srfs_ = {Patch(0, 2, -1, 0, 8), Patch(0, 1, kGap, 1), Patch(1, 2, kGap, 1)};
  int failures = 0;
  for (long n = 0;; ++n) {
    ClearKernelError();
    MallocFailAfter(n, -1);
    Gsrf* g = Build(0.01);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (g) {
      EXPECT_EQ(status_, 0);
      break;
    }
    ++failures;
    EXPECT_EQ(status_, -2) << "request " << n;
    ASSERT_LT(n, 5000);
  }
  EXPECT_GT(failures, 10);
  ClearKernelError();
  ExpectConsistent();
  EXPECT_EQ(Linked().size(), 3u);
}

}  // namespace
