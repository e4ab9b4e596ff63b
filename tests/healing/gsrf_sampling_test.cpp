// Boundary polylines of a surface group before matching: sample counts and positions, merging
// of coincident samples, chordal deviations, the sample-to-curve lookup, sector distances, and
// the grid-based closest-sample search with its element builder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "healing/srfbndrc.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

double Shape(double x, double y) { return 0.2 * x + 0.3 * y * y; }

Bspline* Patch(double x0, double x1, double y0 = 0.0, double y1 = 1.0) {
  PatchOptions o;
  o.x0 = x0, o.x1 = x1, o.y0 = y0, o.y1 = y1;
  return BuildFunctionPatch(Shape, o);
}

// A bilinear-in-v patch whose u-min column has its control points `spread` apart in y (0: the
// side collapses to a point).
Bspline* Wedge(double spread) {
  std::vector<double> pts;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) pts.insert(pts.end(), {double(i), i == 0 ? spread * j : double(j), 0.1 * i * j});
  return BuildSurface(1, 1, 2, 2, pts);
}

class GsrfSamplingTest : public KernelTest {
 protected:
  void TearDown() override {
    FreeGsrfBndr(g_);
    for (Bspline* s : srfs_) FreeBspline(s);
    KernelTest::TearDown();
  }

  // Records, loops and curves of the group, sampled but not matched.
  Gsrf* Sampled(double tol, double gapTol, int n) {
    g_ = static_cast<Gsrf*>(Malloc(sizeof(Gsrf)));
    std::memset(g_, 0, sizeof(Gsrf));
    g_->tol = tol;
    g_->gapTol = gapTol;
    const bool ok = MakeGSrfSurfsCore(g_, srfs_.data(), static_cast<int>(srfs_.size())) && MakeGSrfLoops(g_) &&
                    MakeGSrfTcurves(g_) && SampleGsrfBndr(g_, n);
    return ok ? g_ : nullptr;
  }

  static GsrfPair Whole(const Gsrf* g, int a, int b) {
    const GsrfCrv& A = g->crvs[a];
    const GsrfCrv& B = g->crvs[b];
    return {a, b, double(A.firstSample), A.firstSample + A.nSample - 1 + 0.999999, double(B.firstSample),
            B.firstSample + B.nSample - 1 + 0.999999, 0, 0, -1, -1, -1};
  }

  std::vector<Bspline*> srfs_;
  Gsrf* g_ = nullptr;
};

TEST_F(GsrfSamplingTest, FewerThanThreeRequestedGiveThreeSamplesOnTheSides) {
  srfs_ = {Patch(0, 1)};
  ASSERT_NE(Sampled(0.0, 0.01, 2), nullptr);
  ASSERT_EQ(g_->nSample, 12);
  for (int c = 0; c < 4; ++c) {
    const GsrfCrv& cr = g_->crvs[c];
    ASSERT_EQ(cr.nSample, 3);
    EXPECT_EQ(cr.firstSample, 3 * c);
    EXPECT_EQ(cr.closed, 0);
    EXPECT_EQ(cr.t[0], 0.0f);
    EXPECT_EQ(cr.t[1], 0.5f);
    EXPECT_EQ(cr.t[2], 1.0f);
    for (int k = 0; k < 3; ++k) {
      const double t = cr.t[k];
      const double u = cr.kind == 1 ? 0.0 : cr.kind == 3 ? 1.0 : t;
      const double v = cr.kind == 2 ? 0.0 : cr.kind == 4 ? 1.0 : t;
      double ref[3];
      RefEvalSurface(srfs_[0], u, v, ref);
      EXPECT_NEAR(cr.x[k], ref[0], 1e-6);
      EXPECT_NEAR(cr.y[k], ref[1], 1e-6);
      EXPECT_NEAR(cr.z[k], ref[2], 1e-6);
    }
  }
  EXPECT_EQ(g_->srfs[0].nSample, 12);
  EXPECT_EQ(g_->loops[0].nSample, 12);
}

TEST_F(GsrfSamplingTest, DeviationIsThatOfTheTrueMidpointFromTheChord) {
  srfs_ = {Patch(0, 1)};
  ASSERT_NE(Sampled(1e-6, 0.01, 7), nullptr);
  const GsrfCrv& side = g_->crvs[0];  // u-min: z = 0.3 y^2 bends away from its chords
  double largest = 0.0;
  for (int k = 0; k + 1 < side.nSample; ++k) {
    double m[3];
    RefEvalSurface(srfs_[0], 0.0, 0.5 * (side.t[k] + side.t[k + 1]), m);
    const float mf[3] = {float(m[0]), float(m[1]), float(m[2])};
    const float a[3] = {side.x[k], side.y[k], side.z[k]};
    const float b[3] = {side.x[k + 1], side.y[k + 1], side.z[k + 1]};
    EXPECT_NEAR(side.dev[k], 1.1 * GetChordalDev3Pts(a, mf, b), 1e-7);
    EXPECT_GT(side.dev[k], 0.0f);
    largest = std::max(largest, double(side.dev[k]));
  }
  EXPECT_GE(g_->maxDev, largest);
  const float p[3] = {1, 2, 3}, q[3] = {1, 3, 3}, r[3] = {1, 2, 7};
  EXPECT_DOUBLE_EQ(GetChordalDev3Pts(p, q, p), 1e-6);     // coincident chord ends
  EXPECT_DOUBLE_EQ(GetChordalDev3Pts(p, q, r), 1.0);      // distance to the line through p, r
}

TEST_F(GsrfSamplingTest, CollapsedSideDropsOutAndTheLookupFindsEveryCurve) {
  srfs_ = {Wedge(0.0), Patch(2, 3)};
  ASSERT_NE(Sampled(1e-6, 0.01, 10), nullptr);
  EXPECT_EQ(g_->crvs[0].nSample, 0);
  EXPECT_EQ(g_->crvs[3].next, 1);
  EXPECT_EQ(g_->crvs[1].prev, 3);
  EXPECT_EQ(g_->nSample, 70);
  for (int k = 0; k < g_->nSample; ++k) {
    int owner = -1;
    for (int c = 0; c < g_->nCrv; ++c)
      if (k >= g_->crvs[c].firstSample && k < g_->crvs[c].firstSample + g_->crvs[c].nSample) owner = c;
    EXPECT_EQ(GetCrvIdFromIndex(g_, k, -1), owner) << k;
    for (int hint = 0; hint < g_->nCrv; ++hint) EXPECT_EQ(GetCrvIdFromIndex(g_, k, hint), owner);
  }
  EXPECT_EQ(GetCrvIdFromIndex(g_, -1, -1), -1);
  EXPECT_EQ(GetCrvIdFromIndex(g_, g_->nSample, 3), -1);
  // Matching still works around the missing side: it gets no element.
  ASSERT_EQ(ClosestCornersGsrf(g_), 1);
  EXPECT_EQ(g_->crvs[0].nEl, 0);
  EXPECT_EQ(g_->nEl, 7);
  EXPECT_EQ(g_->nSample, 0);
}

TEST_F(GsrfSamplingTest, SectorDistanceMatchesTheGapAndIsCapped) {
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

  // Exact projections onto a side: from a sample of the facing side the foot lies at the same
  // parameter, one gap away.
  const GsrfCrv& facing = g_->crvs[4];
  const double p[3] = {facing.x[20], facing.y[20], facing.z[20]};
  double t = 0.3;
  EXPECT_EQ(ClosestPointOnBndrCrv(&g_->crvs[2], p, &t), 0);
  EXPECT_NEAR(t, facing.t[20], 1e-4);
  t = 0.5;
  EXPECT_NEAR(ClosestDistOnBndrCrv(&g_->crvs[2], p, &t), apart, 1e-5);
  // A point over the surface: the distance is to the side, not to the surface below it.
  double below[3];
  RefEvalSurface(srfs_[0], 0.9, 0.5, below);
  double side[3];
  RefEvalSurface(srfs_[0], 1.0, 0.5, side);
  t = 0.5;
  EXPECT_NEAR(ClosestDistOnBndrCrv(&g_->crvs[2], below, &t),
              std::hypot(side[0] - below[0], side[1] - below[1], side[2] - below[2]), 1e-4);
}

TEST_F(GsrfSamplingTest, CornerFlagsAndSegmentDirections) {
  PatchOptions o;
  srfs_ = {BuildFunctionPatch([](double, double y) { return 2.0 * y * y; }, o)};
  ASSERT_NE(Sampled(1e-6, 0.01, 20), nullptr);
  // Side 2 is straight; side 1 (z = 2 y^2) turns from level to steeper than 45 degrees.
  const GsrfCrv& straight = g_->crvs[1];
  const GsrfCrv& bent = g_->crvs[0];
  const int lastStraight = straight.firstSample + straight.nSample - 1;
  const int lastBent = bent.firstSample + bent.nSample - 1;
  EXPECT_EQ(isSameDirection(g_, straight.firstSample, lastStraight, 1), 1);
  EXPECT_EQ(isSameDirection(g_, bent.firstSample, lastBent, 0), 0);
  EXPECT_EQ(isSameDirection(g_, lastBent, lastBent - 1, 0), 1);  // the last sample names the last segment
  std::vector<unsigned char> flags(g_->nSample, 7);
  EXPECT_EQ(GetCornerVertsGsrf(g_, flags.data()), 8);
  int flagged = 0;
  for (unsigned char f : flags) flagged += f;
  EXPECT_EQ(flagged, 8);
  EXPECT_EQ(flags[lastBent], 1);
  EXPECT_EQ(flags[bent.firstSample + 1], 0);
}

TEST_F(GsrfSamplingTest, ShortStraightSideIsCollapsedAndLeftUnpaired) {
  srfs_ = {Wedge(0.002)};  // side 1 is 0.002 long, below the clustering radius
  ASSERT_NE(Sampled(1e-6, 0.01, 50), nullptr);
  ASSERT_GT(g_->crvs[0].nSample, 0);
  ASSERT_EQ(ClosestCornersGsrf(g_), 1);
  ASSERT_EQ(g_->crvs[0].nEl, 1);
  const GsrfBndrEl& el = g_->crvs[0].els[0];
  EXPECT_EQ(el.partner, nullptr);
  EXPECT_EQ(el.v0, el.v1);
  EXPECT_EQ(g_->breakHeads[0]->state, -1);
  EXPECT_EQ(g_->verts[el.v0].nMember, 2);  // only the ends of sides 2 and 4 remain
  EXPECT_EQ(g_->nVert, 3);
}

TEST_F(GsrfSamplingTest, GridSearchFindsTheSharedSidesAndPairsTheirElements) {
  const double gap = 0.002;
  srfs_ = {Patch(0, 1), Patch(1 + gap, 2)};
  ASSERT_NE(Sampled(1e-6, 0.01, 50), nullptr);
  EXPECT_EQ(MakeGsrfBndrEl(g_), 0);  // needs the closest samples first
  ASSERT_EQ(ClosestSampleGsrf(g_), 1);
  const GsrfCrv& a = g_->crvs[2];
  for (int k = 1; k + 1 < a.nSample; ++k) {
    EXPECT_EQ(GetCrvIdFromIndex(g_, static_cast<int>(a.closePos[k]), -1), 4);
    EXPECT_NEAR(a.closeT[k], a.t[k], 5e-4);
  }
  ASSERT_EQ(MakeGsrfBndrEl(g_), 1);
  ASSERT_EQ(g_->nEl, 2);
  EXPECT_EQ(g_->crvs[2].nEl, 1);
  EXPECT_EQ(g_->crvs[4].nEl, 1);
  const GsrfBndrEl& e = *g_->crvs[2].els;
  ASSERT_EQ(e.partner, g_->crvs[4].els);
  EXPECT_EQ(e.partner->partner, &e);
  EXPECT_EQ(e.orient, 1);
  EXPECT_NEAR(e.maxDist, gap * std::sqrt(1.04), 1e-4);
  EXPECT_EQ(g_->srfs[0].nEl, 1);
  EXPECT_EQ(g_->srfs[1].firstEl, 1);
}

TEST_F(GsrfSamplingTest, InsertionKeepsACurvesElementsInParameterOrder) {
  GsrfCrv c{};
  GsrfBndrEl e[3]{};
  e[0].t0 = 0.5, e[0].t1 = 0.7;
  e[1].t0 = 0.0, e[1].t1 = 0.2;
  e[2].t0 = 0.8, e[2].t1 = 1.0;
  for (GsrfBndrEl& el : e) InsertBndrEl(&c, &el);
  ASSERT_EQ(c.nEl, 3);
  EXPECT_EQ(c.els, &e[1]);
  EXPECT_EQ(e[1].next, &e[0]);
  EXPECT_EQ(e[0].next, &e[2]);
  EXPECT_EQ(e[2].prev, &e[0]);
  EXPECT_EQ(e[2].next, nullptr);
}

}  // namespace
