// The boundary graph of a surface group: the boundary polylines before matching (sample counts
// and positions, chordal deviations, the sample-to-curve lookup, sector distances, the
// grid-based closest-sample search), then loops and curves in their documented order, corner
// vertices, paired elements with their orientation, T-junction cuts, and clean failure on a
// user break or a refused allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "healing/srfbndrc.h"
#include "tests/bspline/trimloops.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

using healtest::SidePoint;

// Linear in x so that patches of any width agree along a shared side of constant y.
double Shape(double x, double y) { return 0.2 * x + 0.3 * y * y; }

Bspline* Patch(double x0, double x1, double y0 = 0.0, double y1 = 1.0, int nu = 6) {
  return BuildFunctionPatch(Shape, {.nu = nu, .x0 = x0, .x1 = x1, .y0 = y0, .y1 = y1});
}

// A bilinear-in-v patch whose u-min column has its control points `spread` apart in y (0: the
// side collapses to a point).
Bspline* Wedge(double spread) {
  std::vector<double> pts;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) pts.insert(pts.end(), {double(i), i == 0 ? spread * j : double(j), 0.1 * i * j});
  return BuildSurface(1, 1, 2, 2, pts);
}

using ElPair = std::pair<const GsrfBndrEl*, const GsrfBndrEl*>;

class GsrfTest : public KernelTest {
 protected:
  void TearDown() override {
    Use({});
    KernelTest::TearDown();
  }

  // Replaces the group (and drops the graph built on the old one).
  void Use(std::vector<Bspline*> srfs) {
    FreeGsrfBndr(g_);
    g_ = nullptr;
    for (Bspline* s : srfs_) FreeBspline(s);
    srfs_ = std::move(srfs);
  }

  Gsrf* Build(double gapTol) {
    FreeGsrfBndr(g_);
    g_ = MakeGSrfBndrStructCore(srfs_.data(), static_cast<int>(srfs_.size()), 1e-6, gapTol, &status_);
    return g_;
  }

  // Records, loops and curves of the group, sampled but not matched.
  Gsrf* Sampled(double tol, double gapTol, int n) {
    g_ = static_cast<Gsrf*>(Malloc(sizeof(Gsrf)));
    *g_ = Gsrf{};
    g_->tol = tol;
    g_->gapTol = gapTol;
    const bool ok = MakeGSrfSurfsCore(g_, srfs_.data(), static_cast<int>(srfs_.size())) && MakeGSrfLoops(g_) &&
                    MakeGSrfTcurves(g_) && SampleGsrfBndr(g_, n);
    return ok ? g_ : nullptr;
  }

  static GsrfPair Whole(const Gsrf* g, int a, int b) {
    const GsrfCrv &A = g->crvs[a], &B = g->crvs[b];
    return {a, b, double(A.firstSample), A.firstSample + A.nSample - 1 + 0.999999, double(B.firstSample),
            B.firstSample + B.nSample - 1 + 0.999999, 0, 0, -1, -1, -1};
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
    EXPECT_TRUE(g_->nSample == 0 && !g_->x && !g_->t);  // the samples are freed
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
        // Elements tile the curve: the first starts at its start, the last ends at its end, and
        // each starts at the vertex where the one before ends.
        EXPECT_DOUBLE_EQ(el.t0, e == 0 ? cr.t0 : el.t0);
        EXPECT_DOUBLE_EQ(el.t1, e == cr.nEl - 1 ? cr.t1 : el.t1);
        EXPECT_EQ(el.v0, e == 0 ? el.v0 : g_->els[elRun + e - 1].v1);
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

TEST_F(GsrfTest, ChordalDeviationOfCoincidentChordEndsIsTheFloor) {
  const float p[3] = {1, 2, 3}, q[3] = {1, 3, 3}, r[3] = {1, 2, 7};
  EXPECT_DOUBLE_EQ(GetChordalDev3Pts(p, q, p), 1e-6);     // coincident chord ends
  EXPECT_DOUBLE_EQ(GetChordalDev3Pts(p, q, r), 1.0);      // distance to the line through p, r
  // Both answers scale with the points and the size of their object, the floor included.
  for (float s : {1e-6f, 1e-3f, 1e3f, 1e6f}) {
    const float ps[3] = {s * p[0], s * p[1], s * p[2]}, qs[3] = {s * q[0], s * q[1], s * q[2]};
    const float rs[3] = {s * r[0], s * r[1], s * r[2]}, near[3] = {ps[0], ps[1], ps[2] + 1e-6f * s};
    EXPECT_NEAR(GetChordalDev3Pts(ps, qs, ps, s), 1e-6 * s, 1e-12 * s) << s;
    EXPECT_NEAR(GetChordalDev3Pts(ps, qs, near, s), 1e-6 * s, 1e-12 * s) << s;
    EXPECT_NEAR(GetChordalDev3Pts(ps, qs, rs, s), s, 1e-6 * s) << s;
  }
}

TEST_F(GsrfTest, CollapsedSideDropsOutAndTheLookupFindsEveryCurve) {
  srfs_ = {Wedge(0.0), Patch(2, 3)};
  ASSERT_NE(Sampled(1e-6, 0.01, 10), nullptr);
  EXPECT_EQ(g_->crvs[0].nSample, 0);
  EXPECT_TRUE(g_->crvs[3].next == 1 && g_->crvs[1].prev == 3);
  EXPECT_EQ(g_->nSample, 70);
  for (int k = 0; k < g_->nSample; ++k) {
    int owner = -1;
    for (int c = 0; c < g_->nCrv; ++c)
      if (k >= g_->crvs[c].firstSample && k < g_->crvs[c].firstSample + g_->crvs[c].nSample) owner = c;
    EXPECT_EQ(GetCrvIdFromIndex(g_, k, -1), owner) << k;
    for (int hint = 0; hint < g_->nCrv; ++hint) EXPECT_EQ(GetCrvIdFromIndex(g_, k, hint), owner);
  }
  EXPECT_TRUE(GetCrvIdFromIndex(g_, -1, -1) == -1 && GetCrvIdFromIndex(g_, g_->nSample, 3) == -1);
  // Matching still works around the missing side: it gets no element.
  ASSERT_EQ(ClosestCornersGsrf(g_), 1);
  EXPECT_EQ(g_->crvs[0].nEl, 0);
  EXPECT_EQ(g_->nEl, 7);
  EXPECT_EQ(g_->nSample, 0);
}

TEST_F(GsrfTest, SectorDistanceMatchesTheGapAndIsCapped) {
  const double gap = 0.003;
  srfs_ = {Patch(0, 1), Patch(1 + gap, 2)};
  ASSERT_NE(Sampled(1e-6, 0.01, 50), nullptr);
  const double apart = gap * std::sqrt(1.04);  // z = 0.2 x + ... rises across the gap too
  const GsrfPair shared = Whole(g_, 2, 4);
  EXPECT_NEAR(FindMaxDistPair(g_, &shared, 0), apart, 1e-5);
  EXPECT_NEAR(FindMaxDistPair(g_, &shared, 1), apart, 1e-5);
  const GsrfPair far = Whole(g_, 0, 4);  // a whole patch width apart
  EXPECT_DOUBLE_EQ(FindMaxDistPair(g_, &far, 1), 0.02);
  GsrfPair none = shared;
  none.crvB = -2;
  EXPECT_EQ(FindMaxDistPair(g_, &none, 0), -1.0);

  // Exact projections onto a side: from a sample of the facing side the foot lies near the same
  // parameter, one gap away (the sides' 0.3 y^2 rise differs across the gap by 0.0006, which
  // moves the foot by about 1.5e-4), and no neighbouring point of the side is nearer.
  const GsrfCrv& facing = g_->crvs[4];
  const double p[3] = {g_->origin[0] + facing.x[20], g_->origin[1] + facing.y[20], g_->origin[2] + facing.z[20]};
  double t = 0.3;
  EXPECT_EQ(ClosestPointOnBndrCrv(&g_->crvs[2], p, &t), 0);
  EXPECT_NEAR(t, facing.t[20], 2e-4);
  const auto sideDist = [&](double at) {
    double q[3];
    SidePoint(g_->crvs[2].srf, g_->crvs[2].kind, at, q);
    return healtest::Dist(q, p);
  };
  EXPECT_LE(sideDist(t), sideDist(t - 1e-7));
  EXPECT_LE(sideDist(t), sideDist(t + 1e-7));
  t = 0.5;
  EXPECT_NEAR(ClosestDistOnBndrCrv(&g_->crvs[2], p, &t), apart, 1e-5);
  // A point over the surface: the distance is to the side, not to the surface below it.
  double below[3], side[3];
  RefEvalSurface(srfs_[0], 0.9, 0.5, below);
  SidePoint(srfs_[0], 3, 0.5, side);
  t = 0.5;
  EXPECT_NEAR(ClosestDistOnBndrCrv(&g_->crvs[2], below, &t), healtest::Dist(side, below), 1e-4);

  // The grid search finds the facing side one gap away for every inner sample of the shared
  // side, and the elements built on it pair the two sides.
  ASSERT_EQ(ClosestSampleGsrf(g_), 1);
  const GsrfCrv &a = g_->crvs[2], &b = g_->crvs[4];
  for (int k = 1; k + 1 < a.nSample; ++k) {
    const double pos = a.closePos[k];
    ASSERT_TRUE(pos >= b.firstSample && pos <= b.firstSample + b.nSample - 1) << k;
  }
  ASSERT_EQ(MakeGsrfBndrEl(g_), 1);
  ASSERT_EQ(g_->crvs[2].nEl, 1);
  const GsrfBndrEl& el = *g_->crvs[2].els;
  ASSERT_NE(el.partner, nullptr);
  EXPECT_EQ(el.partner->crv, &g_->crvs[4]);
  EXPECT_NEAR(el.maxDist, apart, 1e-5);
}

TEST_F(GsrfTest, ShortStraightSideIsCollapsedAndLeftUnpaired) {
  srfs_ = {Wedge(0.002)};  // side 1 is 0.002 long, below the clustering radius
  ASSERT_NE(Sampled(1e-6, 0.01, 50), nullptr);
  ASSERT_GT(g_->crvs[0].nSample, 0);
  ASSERT_EQ(ClosestCornersGsrf(g_), 1);
  ASSERT_EQ(g_->crvs[0].nEl, 1);
  const GsrfBndrEl& el = g_->crvs[0].els[0];
  EXPECT_TRUE(el.partner == nullptr && el.v0 == el.v1);
  EXPECT_EQ(g_->breakHeads[0]->state, -1);
  EXPECT_EQ(g_->verts[el.v0].nMember, 2);  // only the ends of sides 2 and 4 remain
  EXPECT_EQ(g_->nVert, 3);
}

// Two patches kGap apart, the second one's v with or against the first's: one pair of the
// same two sides, orientation following the direction; nothing pairs below the gap.
TEST_F(GsrfTest, TwoPatchesSharingASideGiveOnePair) {
  for (bool reverse : {false, true}) {
    Use({Patch(0, 1), reverse ? Patch(1 + kGap, 2, 1, 0) : Patch(1 + kGap, 2)});
    ASSERT_NE(Build(0.01), nullptr);
    EXPECT_EQ(status_, 0);
    ExpectConsistent();
    ASSERT_EQ(g_->nCrv, 8);
    for (int c = 0; c < 8; ++c) {
      EXPECT_EQ(g_->crvs[c].kind, c % 4 + 1);  // u-min, v-min, u-max, v-max
      EXPECT_EQ(g_->crvs[c].srfId, c / 4);
    }
    EXPECT_EQ(g_->crvs[0].prev, 3);
    // The two shared corners each make one vertex.
    EXPECT_EQ(g_->nVert, 6);
    const int v10 = VertexNear(1, 0), v11 = VertexNear(1, 1);
    ASSERT_TRUE(v10 >= 0 && v11 >= 0);
    EXPECT_EQ(g_->verts[v10].nMember, 4);
    const std::vector<ElPair> linked = Linked();
    ASSERT_EQ(linked.size(), 1u);
    const GsrfBndrEl &a = *linked[0].first, &b = *linked[0].second;
    EXPECT_EQ(a.crv->id, 2);  // u-max side of the first patch
    EXPECT_EQ(b.crv->id, 4);  // u-min side of the second
    EXPECT_EQ(a.orient, reverse ? 0 : 1);
    EXPECT_TRUE(a.v0 == v10 && a.v1 == v11);
    EXPECT_EQ(b.v0, reverse ? v11 : v10);
    EXPECT_NEAR(a.maxDist, kGap, 1e-4);
    EXPECT_EQ(b.maxDist, a.maxDist);

    ASSERT_NE(Build(0.5 * kGap), nullptr);
    ExpectConsistent();
    EXPECT_TRUE(Linked().empty());
    EXPECT_EQ(g_->nVert, 8);  // no corners merge either
  }
}

TEST_F(GsrfTest, AVertexCrowdedByFreeCurvesKeepsAtMostFourFeet) {
  // Six stacked strips of different lengths (so no two share both corners) pass just under the
  // corner of a small patch, and their own corners lie on each other's sides.
  for (int i = 0; i < 6; ++i) {
    const PatchOptions o{.x0 = -0.1 * i, .x1 = 2 + 0.1 * i, .y0 = -1, .y1 = 0};
    srfs_.push_back(BuildFunctionPatch([i](double, double) { return 0.002 * i; }, o));
  }
  srfs_.push_back(BuildFunctionPatch([](double, double) { return 0.005; }, {.x0 = 1, .x1 = 1.5, .y0 = kGap, .y1 = 0.5}));
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
  EXPECT_TRUE(g_->loops[0].trim == nullptr && g_->loops[0].nCrv == 4);
  EXPECT_TRUE(g_->loops[1].trim == s->trims && g_->loops[1].firstCrv == 4);
  for (int c = 4; c < g_->nCrv; ++c) EXPECT_EQ(g_->crvs[c].kind, 0);
  ASSERT_EQ(g_->loops[1].nCrv, 1);  // tangent-continuous: not split
  EXPECT_TRUE(g_->crvs[4].closed == 1 && g_->crvs[4].prev == 4);
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
  // The holed surface keeps its four sides beside the hole; the disk's outer trim loop replaces
  // its natural loop, so its two halves are all it has.
  ASSERT_EQ(g_->nLoop, 3);
  ASSERT_EQ(g_->nCrv, 7);
  for (int c = 5; c < 7; ++c) EXPECT_EQ(g_->crvs[c].kind, 0);
  const GsrfCrv& hole = g_->crvs[4];
  ASSERT_EQ(hole.nEl, 2);
  EXPECT_NEAR(hole.els[0].t1, 0.5, 1e-3);
  const int seam = VertexNear(0.7, 0.5), far = VertexNear(0.3, 0.5);
  EXPECT_EQ(hole.els[0].v0, seam);
  EXPECT_EQ(hole.els[0].v1, far);
  ASSERT_TRUE(hole.els[0].partner && hole.els[1].partner);
  EXPECT_EQ(hole.els[0].partner->crv->node->item, top);
  EXPECT_EQ(hole.els[1].partner->crv->node->item, bottom);
  EXPECT_EQ(hole.els[0].orient + hole.els[1].orient, 2);
  EXPECT_LT(hole.els[0].maxDist, 2e-3);  // the two polylines differ by their chordal deviation
  EXPECT_EQ(Linked().size(), 2u);
}

// No surface or no object fails. A T-junction, built under refused allocations and under a
// user break after ever more polls: every failed build is clean, and the one that succeeds
// cuts the long side where the short ones meet.
TEST_F(GsrfTest, FailuresAreCleanAndATJunctionCutsTheLongSide) {
  srfs_ = {BuildCurve(1, 3, {0, 0, 0, 1, 0, 0})};
  EXPECT_EQ(Build(0.01), nullptr);
  EXPECT_EQ(status_, -2);
  EXPECT_EQ(MakeGSrfBndrStructCore(nullptr, 0, 1e-6, 0.01, &status_), nullptr);
  EXPECT_EQ(status_, 0);

  Use({Patch(0, 2, -1, 0, 8), Patch(0, 1, kGap, 1), Patch(1, 2, kGap, 1)});
  const long before = MallocRuntimeRequests();
  ASSERT_NE(Build(0.01), nullptr);
  const long used = MallocRuntimeRequests() - before;
  const int failures = RunWithInjectedFailures(used + 1, std::max(1L, used / 200), [&] {
    const bool built = Build(0.01) != nullptr;
    EXPECT_EQ(status_, built ? 0 : -2);
    return built ? 0 : -2;
  });
  EXPECT_GT(failures, 10);
  int broken = 0;
  for (long n = 1;; ++n) {
    StubBreakAfterPolls(n);
    if (Build(0.01)) break;
    EXPECT_EQ(StubUserBreakPolls(), n);  // the poll that answered the break was the last
    ++broken;
    EXPECT_EQ(status_, -2);
    EXPECT_EQ(MallocTrackLevel(), 0);
    ASSERT_LT(n, 1000);
  }
  StubBreakAfterPolls(0);
  EXPECT_GE(broken, 3);  // sampling, clustering and pairing each poll
  ExpectConsistent();
  const GsrfCrv& longSide = g_->crvs[3];  // v-max side of the long patch
  ASSERT_EQ(longSide.nEl, 2);
  const GsrfBndrEl& left = longSide.els[0];
  const GsrfBndrEl& right = longSide.els[1];
  EXPECT_NEAR(left.t1, 0.5, 1e-3);  // x = 1 on a patch spanning x 0..2
  EXPECT_EQ(left.v1, VertexNear(1, 0));
  ASSERT_TRUE(left.partner && right.partner);
  EXPECT_EQ(left.partner->crv->id, 5);   // v-min side of the left short patch
  EXPECT_EQ(right.partner->crv->id, 9);  // v-min side of the right one
  EXPECT_EQ(left.orient + right.orient, 2);
  EXPECT_NEAR(left.maxDist, kGap, 1e-3);
  // The two short patches also meet each other: three linked pairs in all.
  EXPECT_EQ(Linked().size(), 3u);
}

// A curve sampled again at the world's origin lands where the graph's samples, kept relative to
// the group's centre, say: the same points, the same parameters and span deviations.
TEST_F(GsrfTest, SamplingAtTheOriginAgreesWithTheGraphsCentredSamples) {
  srfs_ = {Patch(2, 3), Patch(3, 2)};
  ASSERT_NE(Sampled(1e-6, 0.01, 12), nullptr);
  for (int c = 0; c < g_->nCrv; ++c) {
    GsrfCrv& crv = g_->crvs[c];
    const int n = crv.nSample;
    if (n < 2) continue;
    const std::vector<float> x(crv.x, crv.x + n), y(crv.y, crv.y + n), z(crv.z, crv.z + n), t(crv.t, crv.t + n);
    double dev = 0.0;
    ASSERT_EQ(SampleCrvBndr(&crv, n, g_->tol, &dev), 0) << c;
    ASSERT_EQ(crv.nSample, n) << c;
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(crv.x[k], x[k] + g_->origin[0], 1e-6) << c << " " << k;
      EXPECT_NEAR(crv.y[k], y[k] + g_->origin[1], 1e-6) << c << " " << k;
      EXPECT_NEAR(crv.z[k], z[k] + g_->origin[2], 1e-6) << c << " " << k;
      EXPECT_FLOAT_EQ(crv.t[k], t[k]) << c << " " << k;
    }
    EXPECT_GE(dev, 0.0);
  }
}

}  // namespace
