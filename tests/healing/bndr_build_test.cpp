// Building the boundary structure from the boundary graph: pairing, orientation, continuity
// classes, the index lists that tie curves, edges, corners and surfaces together, the outer
// and fixed setters, and failure injection.
#include <set>

#include "healing/srfbndr.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

using namespace healtest;

namespace {

double Kink3(double) { return 3.0; }

class BndrBuild : public KernelTest {};

// Every index equals its position, every curve's edge list holds exactly the edges with the
// curve on a side, sorted along the curve and meeting at common parameters, and the corner
// list runs along the curve.
void ExpectConsistent(const BndrStruct* bs) {
  for (int i = 0; i < bs->nSrf; ++i) EXPECT_EQ(bs->srfs[i].index, i);
  for (int i = 0; i < bs->nCorner; ++i) EXPECT_EQ(bs->corners[i].index, i);
  for (int i = 0; i < bs->nEdge; ++i) {
    const EdgeInfoStruct& e = bs->edges[i];
    EXPECT_EQ(e.index, i);
    EXPECT_EQ(e.crvA, e.infoA->index);
    EXPECT_EQ(e.crvB, e.paired ? e.infoB->index : -1);
    EXPECT_GE(e.nSample, 2);
    EXPECT_EQ(e.sampleA[0], e.par[0]);
    EXPECT_EQ(e.sampleA[e.nSample - 1], e.par[2]);
    // Side B's matches run monotone along the edge: with A, or against it.
    for (int k = 1; k < e.nSample; ++k) {
      EXPECT_GT(e.sampleA[k], e.sampleA[k - 1]) << i;
      EXPECT_TRUE(!e.paired || (e.orient ? e.sampleB[k] > e.sampleB[k - 1] : e.sampleB[k] < e.sampleB[k - 1])) << i;
    }
    // The corner lists at both ends know the edge.
    for (const CornerInfoStruct* ci : {&bs->corners[e.corner0], &bs->corners[e.corner1]})
      EXPECT_EQ(std::count(ci->edgeIds, ci->edgeIds + ci->nEdge, i), 1) << i;
  }
  for (int c = 0; c < bs->nCrv; ++c) {
    const CrvInfoStruct& ci = bs->crvs[c];
    EXPECT_EQ(ci.index, c);
    std::set<int> expect;
    for (int i = 0; i < bs->nEdge; ++i)
      if (bs->edges[i].crvA == c || bs->edges[i].crvB == c) expect.insert(i);
    ASSERT_EQ(ci.nEdge, static_cast<int>(expect.size())) << c;
    EXPECT_EQ(std::set<int>(ci.edgeIds, ci.edgeIds + ci.nEdge), expect);
    ASSERT_EQ(ci.nCorner, ci.nEdge + 1);
    for (int k = 0; k < ci.nEdge; ++k) {
      const EdgeInfoStruct& e = bs->edges[ci.edgeIds[k]];
      const int s = e.crvA == c ? 0 : 1;
      const bool along = s == 0 || e.orient;
      EXPECT_EQ(ci.cornerIds[k], along ? e.corner0 : e.corner1);
      EXPECT_EQ(ci.cornerIds[k + 1], along ? e.corner1 : e.corner0);
      if (k + 1 < ci.nEdge) {
        const EdgeInfoStruct& n = bs->edges[ci.edgeIds[k + 1]];
        EXPECT_EQ(e.par[BndrSlot(s, 1)], n.par[BndrSlot(n.crvA == c ? 0 : 1, 0)]);
      }
    }
  }
}

// Two patches 0.01 apart with a 3-degree kink, B's v with or against A's: one paired edge on
// the same sides, orientation following B's direction, smooth at MAXANGLE 5 and not at 2;
// nothing pairs below the gap.
TEST_F(BndrBuild, TwoPatchesPairOneEdgeAndClassifyItsContinuity) {
  for (bool reverse : {false, true}) {
    Group g5, g2, g0;
    for (Group* g : {&g5, &g2, &g0}) KinkedPair(*g, reverse);
    ASSERT_TRUE(g5.Build(0.02, 5.0));
    ASSERT_TRUE(g2.Build(0.02, 2.0));
    ExpectConsistent(g5.bs);
    // Eight sides, one matched pair.
    EXPECT_TRUE(g5.bs->nSrf == 2 && g5.bs->nCrv == 8 && g5.bs->nEdge == 7 && g5.bs->nCorner == 6);
    ASSERT_EQ(g5.PairedCount(), 1);
    EdgeInfoStruct* e = g5.FirstPaired();
    // A's u-max side runs beside B's u-min side.
    EXPECT_TRUE(e->infoA->side == 3 && e->infoB->side == 1);
    EXPECT_EQ(e->orient != 0, !reverse);
    EXPECT_EQ(e->nSample, 100);
    // B's normals point the other way when reversed; folded, the joint is as smooth.
    EXPECT_EQ(e->continuity, 1);
    EXPECT_EQ(g2.FirstPaired()->continuity, 0);
    for (int i = 0; i < g5.bs->nEdge; ++i) {
      const EdgeInfoStruct& u = g5.bs->edges[i];
      EXPECT_TRUE(u.paired || (u.continuity == -1 && u.nSample == 50 && u.sampleB == nullptr)) << i;
    }
    // The kink measures 3 degrees (at the middle of the seam) and the gap 0.01: the tests
    // pass just above each and fail just below.
    EXPECT_EQ(SetBndrEdgeContinuity(e, 0.02, 2.99), 0);
    EXPECT_EQ(e->continuity, 0);
    EXPECT_EQ(SetBndrEdgeContinuity(e, 0.02, 3.01), 0);
    EXPECT_EQ(e->continuity, 1);
    EXPECT_EQ(IsBndrEdgeG0Continuity(e, 0.0099), 0);
    EXPECT_EQ(IsBndrEdgeG0Continuity(e, 0.0101), 1);

    // The graph clusters corners within 1.414 x MAXGAP, so stay below 0.01 / 1.414.
    ASSERT_TRUE(g0.Build(0.006, 5.0));
    EXPECT_EQ(g0.PairedCount(), 0);
    EXPECT_EQ(g0.bs->nEdge, 8);
    ExpectConsistent(g0.bs);
    // All unmatched: every natural side with edges is outer.
    ASSERT_EQ(SetSkinSrfsOuterContinuity(g0.bs, 1), 0);
    for (int c = 0; c < g0.bs->nCrv; ++c) EXPECT_EQ(g0.bs->crvs[c].outer, 1);
    for (int i = 0; i < g0.bs->nEdge; ++i) EXPECT_EQ(g0.bs->edges[i].continuity, 1);
  }
}

TEST_F(BndrBuild, PositionalTestFailsOnAWideMiddleAndCurveFormsFollowTheSides) {
  Group g;
  TwoPatches(g, Kink3, false);  // 0.005 apart at the ends, 0.0095 in the middle
  ASSERT_TRUE(g.Build(0.02, 5.0));
  EdgeInfoStruct* pe = g.FirstPaired();
  EXPECT_EQ(IsBndrEdgeG0Continuity(pe, 0.0063), 0);
  EXPECT_EQ(IsBndrEdgeG1Continuity(pe, 0.0063, 90.0), 0);
  EXPECT_EQ(SetBndrEdgeContinuity(pe, 0.0063, 90.0), 0);
  EXPECT_EQ(pe->continuity, 0);
  EXPECT_EQ(IsBndrEdgeG0Continuity(pe, 0.0096), 1);

  // Every curve's 3D form and point evaluation follow its side of the surface.
  for (int c = 0; c < g.bs->nCrv; ++c) {
    const CrvInfoStruct& ci = g.bs->crvs[c];
    ASSERT_NE(ci.crv3, nullptr);
    EXPECT_EQ(IsBndrCrvDegenerate(&ci), 0);
    double t0, t1;
    ASSERT_EQ(GetBndrCrvParamMinMax(&ci, &t0, &t1), 0);
    for (int k = 0; k <= 4; ++k) {
      const double t = t0 + (t1 - t0) * k / 4;
      double p[3], q[3], r[3];
      ASSERT_EQ(EvalPntOnBndryCrv(&ci, t, p), 0);
      SidePoint(ci.srf, ci.side, t, q);
      RefEvalCurve(ci.crv3, t, r);
      EXPECT_LT(Dist(p, q), 1e-12);
      EXPECT_LT(Dist(r, q), 1e-12);
    }
    double p[3];
    EXPECT_EQ(EvalPntOnBndryCrv(&ci, t1 + 1e-3, p), -2);
  }
  // A side collapsed to a point is degenerate.
  Bspline* pole = BuildCurve(2, 3, {1, 2, 3, 1, 2, 3 + 1e-5, 1, 2, 3});
  EXPECT_EQ(IsCrv3Degenerate(pole), 1);
  // Against the size of its object, in any unit: the pole and the short curve alike scaled with
  // their surface (a side of a surface a millionth of a unit wide was a point).
  for (double f : {1e-6, 1e-3, 1.0, 1e3}) {
    Bspline* s = BuildCurve(2, 3, {f, 2 * f, 3 * f, f, 2 * f, (3 + 1e-5) * f, f, 2 * f, 3 * f});
    EXPECT_EQ(IsCrv3DegenerateAtSize(s, f), 1) << f;
    s->Z[0][1] = 3.001 * f;
    EXPECT_EQ(IsCrv3DegenerateAtSize(s, f), 0) << f;
    FreeBspline(s);
  }
  pole->Z[0][1] = 3.001;
  EXPECT_EQ(IsCrv3Degenerate(pole), 0);
  FreeBspline(pole);
}

TEST_F(BndrBuild, GridOfFourPairsFourEdgesAroundNineCorners) {
  Group g;
  Grid2x2(g, 0.002, 7);
  ASSERT_TRUE(g.Build(0.02, 5.0));
  ExpectConsistent(g.bs);
  EXPECT_EQ(g.PairedCount(), 4);
  EXPECT_TRUE(g.bs->nEdge == 12 && g.bs->nCorner == 9);
  // The middle corner: the four paired edges, all four surfaces.
  int centre = -1;
  for (int c = 0; c < g.bs->nCorner; ++c)
    if (std::fabs(g.bs->corners[c].pos[0] - 1.0) < 0.01 && std::fabs(g.bs->corners[c].pos[1] - 1.0) < 0.01)
      centre = c;
  ASSERT_GE(centre, 0);
  EXPECT_EQ(g.bs->corners[centre].nEdge, 4);
  int* ids = nullptr;
  int n = 0;
  ASSERT_EQ(BndrSrfIndexAtCorner(g.bs, centre, &ids, &n), 0);
  ASSERT_EQ(n, 4);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(ids[k], k);
  Free(ids);
}

TEST_F(BndrBuild, TJunctionSplitsTheLongSideIntoTwoEdges) {
  Group g;
  TJunction(g);
  ASSERT_TRUE(g.Build(0.01, 5.0));
  ExpectConsistent(g.bs);
  EXPECT_EQ(g.PairedCount(), 3);  // A beside B and C, and B beside C
  EXPECT_EQ(g.bs->nCorner, 8);
  // A's u-max side is curve 2 (sides of a surface come in the order 1, 2, 3, 4).
  const CrvInfoStruct& lng = g.bs->crvs[2];
  ASSERT_EQ(lng.side, 3);
  ASSERT_EQ(lng.nEdge, 2);
  for (int k = 0; k < 2; ++k) EXPECT_EQ(g.bs->edges[lng.edgeIds[k]].paired, 1);
  const EdgeInfoStruct& first = g.bs->edges[lng.edgeIds[0]];
  const int s = first.crvA == 2 ? 0 : 1;
  // The cut sits where B and C meet: y = 1, the middle of A's v range.
  EXPECT_NEAR(first.par[BndrSlot(s, 1)], 0.5, 5e-4);
  EXPECT_EQ(IsBndrCrvOnlyOuterEdge(&lng), 0);
}

// Held outer boundary, then freed; a fixed surface fixes exactly its own curves.
TEST_F(BndrBuild, OuterContinuityAndFixedCurves) {
  Group g;
  TwoPatches(g, Kink3, false);
  ASSERT_TRUE(g.Build(0.02, 5.0, 2));
  const BndrStruct* bs = g.bs;
  int cons[4];
  // Slots: u-min, v-max, u-max, v-min. A's u-max and B's u-min are paired.
  const int expect[2][4] = {{2, 2, -1, 2}, {-1, 2, 2, 2}};
  for (int s = 0; s < 2; ++s) {
    ASSERT_EQ(GetSkinSrfBndrCons(bs, s, cons), 0);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cons[k], expect[s][k]) << s << k;
  }
  EXPECT_EQ(GetSkinSrfBndrCons(bs, 2, cons), -2);
  for (int i = 0; i < bs->nEdge; ++i) {
    EXPECT_EQ(IsOuterFixedBndrEdge(&bs->edges[i]), bs->edges[i].paired ? 0 : 1);
    EXPECT_EQ(bs->edges[i].continuity, bs->edges[i].paired ? 1 : 2);
  }
  // A negative value frees the outer boundary.
  ASSERT_EQ(SetSkinSrfsOuterContinuity(g.bs, -7), 0);
  for (int i = 0; i < bs->nEdge; ++i) EXPECT_EQ(IsOuterFixedBndrEdge(&bs->edges[i]), 0);
  ASSERT_EQ(GetSkinSrfBndrCons(bs, 0, cons), 0);
  EXPECT_EQ(cons[0], -1);

  g.bs->srfs[1].fixed = 1;
  ASSERT_EQ(SetSkinSrfsFixedCrvs(g.bs), 0);
  for (int c = 0; c < bs->nCrv; ++c) EXPECT_EQ(bs->crvs[c].fixed, bs->crvs[c].srfInfo->index == 1 ? 1 : 0);
  const EdgeInfoStruct* e = g.FirstPaired();
  int sa = 0, sb = 0;
  ASSERT_EQ(GetBndrEdgeAdjSrfIds(e, &sa, &sb), 0);
  EXPECT_TRUE(sa == 0 && sb == 1);
  EXPECT_EQ(IsBndrCrvMeetWithG1Cont(bs, e->crvA), 1);
  EXPECT_EQ(IsBndrCrvMeetWithG1Cont(bs, 0), 0);
  EXPECT_EQ(IsBndrEdgeStartAtCorner(bs, e->index, e->corner0), 1);
  EXPECT_EQ(IsBndrEdgeEndAtCorner(bs, e->index, e->corner0), 0);
  EXPECT_EQ(IsBndrEdgeEndAtCorner(bs, e->index, bs->nCorner), 0);
}

// A seam that is one whole side on both surfaces is sampled at least as densely as the control
// nets demand: side B's 7 control points of degree 3 ask for 7 x 3 + 4 = 25 (side A's only
// for 7 x 3 + 1), so a paired edge gets max(n, 25) samples. An unpaired edge gets a quarter of
// the request, but never fewer than 50. Both rules at their boundaries.
TEST_F(BndrBuild, SmallSampleCountsRiseToTheControlNet) {
  const int requests[][3] = {{1, 25, 50}, {25, 25, 50}, {26, 26, 50}, {203, 203, 50}, {204, 204, 51}};
  for (const auto& r : requests) {
    Group g;
    TwoPatches(g, Kink3, false);
    ASSERT_TRUE(g.Build(0.02, 5.0, -1, r[0]));
    ASSERT_EQ(g.PairedCount(), 1);
    for (int i = 0; i < g.bs->nEdge; ++i) {
      const EdgeInfoStruct& e = g.bs->edges[i];
      EXPECT_EQ(e.nSample, e.paired ? r[1] : r[2]) << "request " << r[0] << (e.paired ? ", paired" : ", unpaired");
    }
  }
}

// An empty record, null arguments, and refused allocations during a build: clean failures
// that leave nothing behind.
TEST_F(BndrBuild, NullArgumentsAndInjectedAllocationFailuresLeaveNothingBehind) {
  BndrStruct* empty = MallocNullBndrStruct();
  EXPECT_EQ(empty->nSrf + empty->nCrv + empty->nEdge + empty->nCorner, 0);
  EXPECT_EQ(FreeBndrStruct(empty), 0);
  EXPECT_EQ(FreeBndrStruct(nullptr), -2);
  EXPECT_EQ(ConvertGsrfBndrToBndrStruct(nullptr, 100, 0.01, 1.0, -1), nullptr);
  EXPECT_EQ(SetSkinSrfsOuterContinuity(nullptr, 0), -2);
  EXPECT_EQ(IsBndrEdgeStartAtCorner(nullptr, 0, 0), 0);

  Group g;
  Grid2x2(g, 0.002, 3);
  int status = 0;
  Gsrf* graph = MakeGSrfBndrStructCore(g.srfs.data(), 4, 1e-6, 0.02, &status);
  ASSERT_NE(graph, nullptr);
  const long before = MallocRuntimeRequests();
  BndrStruct* ok = ConvertGsrfBndrToBndrStruct(graph, 100, 0.02, 5.0, -1);
  const long used = MallocRuntimeRequests() - before;
  ASSERT_NE(ok, nullptr);
  FreeBndrStruct(ok);
  const int failures = RunWithInjectedFailures(used + 5, std::max(1L, used / 120), [&] {
    BndrStruct* bs = ConvertGsrfBndrToBndrStruct(graph, 100, 0.02, 5.0, -1);
    if (!bs) {
      EXPECT_TRUE(KernelFailedNow());
      return -2;
    }
    EXPECT_EQ(bs->nEdge, 12);
    FreeBndrStruct(bs);
    return 0;
  });
  EXPECT_GT(failures, 0);
  FreeGsrfBndr(graph);
}

}  // namespace
