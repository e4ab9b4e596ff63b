// The heal against a stored topology: gaps measured independently of the kernel after the
// stitch, structure kept, held and fixed geometry left alone, failures reported per side.
#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "healing/srfbndr.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kMaxGap = 0.05, kMaxAngle = 5.0, kHealGap = 0.001;

// The group's seam: A's u-max side against B's u-min side.
double Seam(const Group& g) { return RefGap(g.srfs[0], 3, g.srfs[1], 1); }

class StitchHeal : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    result_ = allocate_matrix_ih(4, 4);
  }
  void TearDown() override {
    CleanupTopology();
    if (result_) matrix_free_ih(result_);
    KernelTest::TearDown();
  }
  // Two patches 0.01 apart with a 3-degree kink, and their topology.
  void Pair(Group& g) {
    KinkedPair(g, false);
    ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  }
  int Heal(Bspline** srfs, std::vector<int> fixed, int continuity) {
    return HealTopologyZK(srfs, 2, fixed.data(), continuity, 1, kHealGap, 0.5, 1, result_);
  }
  int** result_ = nullptr;
};

TEST_F(StitchHeal, TwoPatchesMeetTheTargetAndKeepTheirStructure) {
  Group g;
  Pair(g);
  ASSERT_GT(Seam(g), 0.009);
  const std::vector<double> shape[2] = {Snapshot(g.srfs[0], false), Snapshot(g.srfs[1], false)};
  ASSERT_EQ(Heal(g.data(), {0, 0}, -1), 0);
  EXPECT_LT(std::max(Seam(g), RefGap(g.srfs[1], 1, g.srfs[0], 3)), kHealGap);
  EXPECT_EQ(Snapshot(g.srfs[0], false), shape[0]);
  EXPECT_EQ(Snapshot(g.srfs[1], false), shape[1]);
  // The seam sides reached the gap target; the free outer sides count as healed.
  EXPECT_TRUE(result_[0][0] == 0 && result_[1][2] == 0);
  EXPECT_TRUE(result_[0][2] == 0 || result_[0][2] == -5) << result_[0][2];
  EXPECT_EQ(result_[0][2], result_[1][0]);
  // A second heal starts again from the caller's (now healed) surfaces and stays healed.
  ASSERT_EQ(Heal(g.data(), {0, 0}, -1), 0);
  EXPECT_LT(Seam(g), kHealGap);
}

// The codes from fresh samples of the stored topology: the 0.01 gap and the 3-degree kink on
// the seam against each pair of targets, the free outer sides healed, other rows untouched.
TEST_F(StitchHeal, GapStatsCodeTheSeamAgainstTheTargets) {
  Group g;
  Pair(g);
  ASSERT_NE(srfsTopology, nullptr);
  struct Case {
    double gap, angle;
    int code;
  };
  for (const Case& c : {Case{0.05, 10.0, 0}, Case{0.05, 1.0, -5}, Case{0.005, 10.0, -6},
                        Case{0.005, 1.0, -4}}) {
    for (int r = 0; r < 4; ++r)
      for (int k = 0; k < 4; ++k) result_[r][k] = 7;
    ASSERT_EQ(ComputeSrfsGrpCrvGapStats(srfsTopology, c.gap, c.angle, 50, result_), 0);
    EXPECT_EQ(result_[0][2], c.code) << c.gap << " " << c.angle;
    EXPECT_EQ(result_[1][0], c.code) << c.gap << " " << c.angle;
    for (int side : {1, 2, 4}) EXPECT_EQ(result_[0][side - 1], 0) << side;
    EXPECT_EQ(result_[2][0], 7);
  }
  EXPECT_EQ(ComputeSrfsGrpCrvGapStats(nullptr, 0.05, 10.0, 50, result_), -2);
}

TEST_F(StitchHeal, HeldOuterBoundaryAndFixedSurfaceKeepTheirPoints) {
  Group g;
  Pair(g);
  const std::vector<double> before[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
  ASSERT_EQ(Heal(g.data(), {0, 0}, 0), 0);
  // Outer sides: u-min, v-min, v-max of A; v-min, u-max, v-max of B (columns are side - 1).
  for (int side : {1, 2, 4}) EXPECT_EQ(result_[0][side - 1], -3) << "A side " << side;
  for (int side : {2, 3, 4}) EXPECT_EQ(result_[1][side - 1], -3) << "B side " << side;
  EXPECT_TRUE(result_[0][2] != -3 && result_[1][0] != -3);
  // Held rows keep their points, except the two ends of the seam: there the two held corners
  // are a gap apart, and the seam can only close at their midpoint. The point beside each such
  // corner along its held row moves with it, so the row keeps its direction there and the seam its
  // angle.
  const std::vector<double> now[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
  const int nu = NumCtrlU(g.srfs[0]), nv = NumCtrlV(g.srfs[0]), n = nu * nv;
  for (int s = 0; s < 2; ++s) {
    const int seam = s == 0 ? nu - 1 : 0, beside = s == 0 ? nu - 2 : 1;
    for (int k = 0; k < 3 * n; ++k) {
      const int i = k % n % nu, j = k % n / nu;
      const bool outer = j == 0 || j == nv - 1 || i == nu - 1 - seam;
      if (outer && i == beside && (j == 0 || j == nv - 1)) {
        const int corner = k - i + seam;
        EXPECT_NEAR(now[s][k] - before[s][k], now[s][corner] - before[s][corner], 1e-12) << s << " " << i << "," << j;
        continue;
      }
      EXPECT_TRUE(!outer || i == seam || now[s][k] == before[s][k]) << s << " " << i << "," << j;
    }
  }
  for (int j : {0, nv - 1})
    for (int c = 0; c < 3; ++c) {
      const double mid = 0.5 * (before[0][c * n + j * nu + nu - 1] + before[1][c * n + j * nu]);
      EXPECT_NEAR(now[0][c * n + j * nu + nu - 1], mid, 1e-9) << "row " << j;
      EXPECT_NEAR(now[1][c * n + j * nu], mid, 1e-9) << "row " << j;
    }
  EXPECT_LT(Seam(g), kHealGap);

  // A fixed surface keeps all its points; the free one comes to it.
  Group h;
  Pair(h);
  const std::vector<double> fixedNet = Net(h.srfs[0]);
  ASSERT_EQ(Heal(h.data(), {1, 0}, -1), 0);
  EXPECT_EQ(Net(h.srfs[0]), fixedNet);
  EXPECT_LT(RefGap(h.srfs[1], 1, h.srfs[0], 3), kHealGap);
}

TEST_F(StitchHeal, TopologyOfAnotherGroupSizeFails) {
  Group g;
  KinkedPair(g, false);
  const std::vector<double> net = Net(g.srfs[0]);
  EXPECT_EQ(HealTopologyZK(g.data(), 2, nullptr, -1, 1, kHealGap, 0.5, 0, nullptr), -2);  // none stored
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  EXPECT_EQ(HealTopologyZK(g.data(), 1, nullptr, -1, 1, kHealGap, 0.5, 0, nullptr), -2);
  EXPECT_EQ(HealTopologyZK(g.data(), 2, nullptr, -1, 1, kHealGap, 0.5, 1, nullptr), -2);  // no matrix
  EXPECT_EQ(Net(g.srfs[0]), net);
  EXPECT_NE(srfsTopology, nullptr);  // a failed heal leaves the topology in place

  // Building again replaces the stored topology; one built from three surfaces refuses two.
  Group three;
  KinkedPair(three, false);
  three.Add(BuildFunctionPatch(Smooth, {.x0 = 2.0, .x1 = 3.0}));
  ASSERT_EQ(MakeTopologyZK(three.data(), 3, kMaxGap, kMaxAngle), 0);
  EXPECT_EQ(srfsTopology->nSrf, 3);
  EXPECT_EQ(Heal(g.data(), {0, 0}, -1), -2);
  EXPECT_EQ(Net(g.srfs[0]), net);
}

// The stitch loop without iterations reports the initial gap; with resampling every iteration
// it closes the seam without new knots; the heal with knot insertion closes it too.
TEST_F(StitchHeal, StitchEntriesCloseTheSeam) {
  Group g;
  Pair(g);
  int reason = -7;
  double gap = -1.0;
  ASSERT_EQ(G0GlobalStitchSrfGrp(srfsTopology, -1, 0.0005, 0.5, 0, 1, 0, 100, 5e-5, 0.01, &reason, &gap), 0);
  EXPECT_EQ(reason, 0);
  // The stitch pairs matched samples, not closest points: a little above the true gap.
  const double measured = Seam(g);
  EXPECT_GE(gap, measured - 1e-9);
  EXPECT_LT(gap, 1.05 * measured);
  EXPECT_EQ(G0GlobalStitchSrfGrp(nullptr, -1, 0.0005, 0.5, 0, 1, 10, 100, 5e-5, 0.01, &reason, &gap), -2);
  EXPECT_EQ(reason, 0);  // untouched by a refused call

  const int fixed[2] = {0, 0};
  const int knots = NumKnotsU(g.srfs[0]) + NumKnotsV(g.srfs[0]);
  ASSERT_EQ(GlobalStitchSrfTopology(0, g.data(), 2, fixed, -1, 0, 0, 0.0005, 0.5, 100, 46), 0);
  EXPECT_LT(Seam(g), kHealGap);
  EXPECT_EQ(NumKnotsU(g.srfs[0]) + NumKnotsV(g.srfs[0]), knots);
  EXPECT_EQ(GlobalStitchSrfTopology(0, g.data(), 3, fixed, -1, 0, 0, 0.0005, 0.5, 100, 46), -2);

  Group h;
  KinkedPair(h, false);
  ASSERT_EQ(SISetbInsertKnot(1), 0);
  const int status = Heal(h.data(), {0, 0}, -1);
  SISetbInsertKnot(0);
  ASSERT_EQ(status, 0);
  EXPECT_LT(Seam(h), kHealGap);
  EXPECT_GE(NumKnotsU(h.srfs[0]) + NumKnotsV(h.srfs[0]), knots);
}

// Every allocation failure inside a heal: -1 on every side, -2 returned, nothing leaked (the
// sanitizer checks at exit), and the next heal works as if nothing had happened.
TEST_F(StitchHeal, AllocationFailureIsReportedAndTheNextHealWorks) {
  Group g;
  Pair(g);
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(Heal(g.data(), {0, 0}, -1), 0);
  const long perHeal = MallocRuntimeRequests() - start;
  ASSERT_GT(perHeal, 50);
  for (long at : {5L, perHeal / 3, (2 * perHeal) / 3, (9 * perHeal) / 10}) {
    KinkedPair(g, false);  // a fresh unhealed pair at the end of the group
    Bspline** pair = g.data() + g.size() - 2;
    const std::vector<double> net = Net(pair[1]);
    MallocFailAfter(at, -1);
    const int status = Heal(pair, {0, 0}, -1);
    MallocFailClear();
    EXPECT_EQ(status, -2) << "failure after " << at;
    for (int s = 0; s < 2; ++s)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(result_[s][c], -1) << "failure after " << at;
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (at < perHeal / 2) {
      EXPECT_EQ(Net(pair[1]), net) << "geometry copied back despite the failure at " << at;
    }

    ASSERT_EQ(Heal(pair, {0, 0}, -1), 0) << "after failure at " << at;
    EXPECT_FALSE(KernelFailedNow());
    EXPECT_LT(RefGap(pair[0], 3, pair[1], 1), kHealGap) << "after failure at " << at;
    EXPECT_EQ(result_[0][0], 0);
  }
}

// A 2 x 2 grid folded along x = 1 (a crease of about 17 degrees through the centre vertex) whose
// four patches are lifted apart, so every seam is open. The heal closes all four seams; the two
// halves of the crease keep their angle within a degree (position only: their corner tangents
// lie on the tangent planes' common line) and the smooth seams reach the angle target.
TEST_F(StitchHeal, CreaseThroughAVertexKeepsItsAngleWhileItsSeamsClose) {
  Group g;
  const double lift[4] = {0.0, 0.004, -0.003, 0.002};
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o = {3, 3, 6, 6};
      o.x0 = i, o.x1 = i + 1.0, o.y0 = j, o.y1 = j + 1.0;
      const double up = lift[2 * j + i];
      g.Add(BuildFunctionPatch([up](double x, double y) { return Smooth(x, y) + 0.15 * std::fabs(x - 1.0) + up; }, o));
    }
  ASSERT_EQ(MakeTopologyZK(g.data(), 4, kMaxGap, kMaxAngle), 0);
  struct Seam {
    int a, sa, b, sb;
    bool crease;
  };
  const Seam seams[4] = {{0, 3, 1, 1, true}, {2, 3, 3, 1, true}, {0, 4, 2, 2, false}, {1, 4, 3, 2, false}};
  double gap0[4], angle0[4];
  for (int k = 0; k < 4; ++k) {
    const Seam& s = seams[k];
    RefEdgeMeasures(g.srfs[s.a], s.sa, g.srfs[s.b], s.sb, &gap0[k], &angle0[k]);
    ASSERT_GT(gap0[k], 0.002) << k;
    if (s.crease) {
      ASSERT_GT(angle0[k], 15.0) << k;
    }
  }
  std::vector<int> fixed(4, 0);
  ASSERT_EQ(HealTopologyZK(g.data(), 4, fixed.data(), -1, 1, kHealGap, 0.5, 1, result_), 0);
  for (int k = 0; k < 4; ++k) {
    const Seam& s = seams[k];
    double gap = 0.0, angle = 0.0;
    RefEdgeMeasures(g.srfs[s.a], s.sa, g.srfs[s.b], s.sb, &gap, &angle);
    EXPECT_LT(gap, kHealGap) << k;
    if (s.crease) {
      EXPECT_NEAR(angle, angle0[k], 1.0) << k;
    } else {
      EXPECT_LT(angle, 0.55) << k;
    }
  }
}

// A 2 x 2 grid whose shared boundary rows are jittered, each copy by its own offsets (0.01 in
// z, 0.002 in x and y): four creases meet at the centre vertex, where the copies' twists
// disagree. Closed with each seam's own end tangent there, the two halves of a grid line
// through the vertex would end with one angle at it, the flatter half rising and its surfaces
// stepping back (three seams stayed open); with the tangents turned towards one plane all four
// close, none steeper by more than a degree.
TEST_F(StitchHeal, CreasesMeetingAtAJitteredVertexClose) {
  Group g;
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o = {3, 3, 6, 6};
      o.x0 = i, o.x1 = i + 1.0, o.y0 = j, o.y1 = j + 1.0;
      Bspline* s = g.Add(BuildFunctionPatch(Smooth, o));
      // The shared rows: column 5 (u-max) or 0 (u-min), row 5 (v-max) or 0 (v-min).
      for (int k = 0; k < 6; ++k)
        for (const auto& [r, c] : {std::pair{k, i == 0 ? 5 : 0}, std::pair{j == 0 ? 5 : 0, k}}) {
          s->X[r][c] += 0.002 * jitter(rng);
          s->Y[r][c] += 0.002 * jitter(rng);
          s->Z[r][c] += 0.01 * jitter(rng);
        }
    }
  ASSERT_EQ(MakeTopologyZK(g.data(), 4, kMaxGap, kMaxAngle), 0);
  const int seams[4][4] = {{0, 3, 1, 1}, {2, 3, 3, 1}, {0, 4, 2, 2}, {1, 4, 3, 2}};
  double angle0[4];
  for (int k = 0; k < 4; ++k) {
    const int* s = seams[k];
    double gap = 0.0;
    RefEdgeMeasures(g.srfs[s[0]], s[1], g.srfs[s[2]], s[3], &gap, &angle0[k]);
    ASSERT_GT(gap, 0.005) << k;
    ASSERT_GT(angle0[k], kMaxAngle) << k;
  }
  std::vector<int> fixed(4, 0);
  ASSERT_EQ(HealTopologyZK(g.data(), 4, fixed.data(), -1, 1, kHealGap, 0.5, 1, result_), 0);
  for (int k = 0; k < 4; ++k) {
    const int* s = seams[k];
    double gap = 0.0, angle = 0.0;
    RefEdgeMeasures(g.srfs[s[0]], s[1], g.srfs[s[2]], s[3], &gap, &angle);
    EXPECT_LT(gap, kHealGap) << k;
    EXPECT_LT(angle, angle0[k] + 1.0) << k;
  }
}

// The kinked pair with every weight 1.0004: within 0.001 of 1, so not rational to the heal,
// which works on its own copy without them.
void NearlyRationalPair(Group& g) {
  Group plain;
  KinkedPair(plain, false);
  for (const Bspline* s : plain.srfs) {
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    std::vector<double> pts;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) pts.insert(pts.end(), {s->X[j][i], s->Y[j][i], s->Z[j][i]});
    g.Add(BuildSurface(s->degreeU, s->degreeV, nu, nv, pts, std::vector<double>(s->knotsU, s->knotsU + NumKnotsU(s)),
                       std::vector<double>(s->knotsV, s->knotsV + NumKnotsV(s)), std::vector<double>(nu * nv, 1.0004)));
  }
}

// A heal that fails at any allocation, early, in the stitch or in the write-back, leaves the
// caller's records exactly as they were, weights and rational flag included (the flag and the
// weights used to be dropped from the caller's records before the stitch).
TEST_F(StitchHeal, FailedHealLeavesTheCallersRecordsUntouched) {
  Group g;
  NearlyRationalPair(g);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const long first = MallocRuntimeRequests();
  ASSERT_EQ(Heal(g.data(), {0, 0}, -1), 0);
  const long perHeal = MallocRuntimeRequests() - first;
  EXPECT_LT(Seam(g), kHealGap);

  // Every allocation of the write-back's end: the copies of the healed surfaces and the staging
  // (a failure after the first copy used to leave that copy behind).
  std::vector<long> at = {0, 3, perHeal / 4, perHeal / 2, (3 * perHeal) / 4};
  for (long k = std::max(0L, perHeal - 60); k < perHeal; ++k) at.push_back(k);
  int failed = 0;
  for (long k : at) {
    Group h;
    NearlyRationalPair(h);
    const std::vector<double> start[2] = {Snapshot(h.srfs[0]), Snapshot(h.srfs[1])};
    ASSERT_EQ(start[0][4], 1.0);
    MallocFailAfter(k, -1);
    const int status = Heal(h.data(), {0, 0}, -1);
    MallocFailClear();
    ClearKernelError();
    if (status == 0) continue;
    ++failed;
    EXPECT_EQ(Snapshot(h.srfs[0]), start[0]) << "failure after " << k;
    EXPECT_EQ(Snapshot(h.srfs[1]), start[1]) << "failure after " << k;
  }
  EXPECT_GE(failed, 5);
}

TEST_F(StitchHeal, AllocationFailureWhileBuildingLeavesNoTopology) {
  Group g;
  KinkedPair(g, false);
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const long perBuild = MallocRuntimeRequests() - start;
  const int failures = RunWithInjectedFailures(perBuild, std::max(1L, perBuild / 40), [&] {
    const int status = MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle);
    EXPECT_EQ(srfsTopology == nullptr, status != 0);
    return status;
  });
  EXPECT_GT(failures, 20);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
}

// Knot insertion where a boundary curve strays from its seam's averaged samples: with a target far
// below the gap the sides that stray get a knot in their worst span, and each surface keeps
// its shape (inserting a knot changes no point of the surface); above the gap nothing changes.
TEST_F(StitchHeal, KnotsGoInWhereASideStraysAndTheShapeStays) {
  Group g;
  Pair(g);
  BndrStruct* bs = srfsTopology;
  ASSERT_NE(bs, nullptr);
  const auto knots = [&] {
    int k = 0;
    for (int i = 0; i < bs->nSrf; ++i) k += NumKnotsU(bs->srfs[i].srf) + NumKnotsV(bs->srfs[i].srf);
    return k;
  };
  const auto shape = [&] {
    std::vector<double> pts;
    for (int i = 0; i < bs->nSrf; ++i) {
      const Bspline* s = bs->srfs[i].srf;
      for (int a = 0; a <= 8; ++a)
        for (int b = 0; b <= 8; ++b) {
          double p[3];
          const double u = s->umin + (s->umax - s->umin) * a / 8, v = s->vmin + (s->vmax - s->vmin) * b / 8;
          RefEvalSurface(s, u, v, p);
          pts.insert(pts.end(), p, p + 3);
        }
    }
    return pts;
  };
  const int before = knots();
  const std::vector<double> start = shape();
  ASSERT_EQ(InsertKnotsToSrfGrpWrtEdgeGap(bs, 1.0), 0);  // far above the 0.01 gap: nothing to do
  EXPECT_EQ(knots(), before);
  ASSERT_EQ(InsertKnotsToSrfGrpWrtEdgeGap(bs, 1e-5), 0);
  EXPECT_GT(knots(), before);
  const std::vector<double> now = shape();
  ASSERT_EQ(now.size(), start.size());
  for (size_t k = 0; k < now.size(); ++k) EXPECT_NEAR(now[k], start[k], 1e-12) << k;
  EXPECT_EQ(InsertKnotsToSrfGrpWrtEdgeGap(nullptr, 1e-5), -2);
}

}  // namespace
