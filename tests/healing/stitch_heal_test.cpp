// The heal against a stored topology: gaps measured independently of the kernel after the
// stitch, structure kept, held and fixed geometry left alone, failures reported per side.
#include <cmath>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "healing/srfbndr.h"
#include "tests/healing/stitch_group.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace stitchtest;

constexpr double kMaxGap = 0.05, kMaxAngle = 5.0;

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
  int Heal(Group& g, const std::vector<int>& fixed, int continuity, double healGap, double healAngle) {
    return HealTopologyZK(g.data(), g.size(), fixed.data(), continuity, 1, healGap, healAngle, 1, result_);
  }
  int** result_ = nullptr;
};

TEST_F(StitchHeal, TwoPatchesMeetTheTargetAndKeepTheirStructure) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  ASSERT_GT(SeamGap(g.srfs[0], 3, g.srfs[1], 1), 0.009);
  const std::vector<double> shape[2] = {Structure(g.srfs[0]), Structure(g.srfs[1])};
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const double healGap = 0.001;
  ASSERT_EQ(Heal(g, {0, 0}, -1, healGap, 0.5), 0);

  EXPECT_LT(std::max(SeamGap(g.srfs[0], 3, g.srfs[1], 1), SeamGap(g.srfs[1], 1, g.srfs[0], 3)), healGap);
  EXPECT_EQ(Structure(g.srfs[0]), shape[0]);
  EXPECT_EQ(Structure(g.srfs[1]), shape[1]);
  // The seam sides reached the gap target; the free outer sides count as healed.
  EXPECT_EQ(result_[0][0], 0);
  EXPECT_EQ(result_[1][2], 0);
  EXPECT_TRUE(result_[0][2] == 0 || result_[0][2] == -5) << result_[0][2];
  EXPECT_EQ(result_[0][2], result_[1][0]);

  // A second heal starts again from the caller's (now healed) surfaces and stays healed.
  ASSERT_EQ(Heal(g, {0, 0}, -1, healGap, 0.5), 0);
  EXPECT_LT(SeamGap(g.srfs[0], 3, g.srfs[1], 1), healGap);
}

TEST_F(StitchHeal, HeldOuterBoundaryReportsFixedOnEveryOuterSide) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  std::vector<double> before[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  ASSERT_EQ(Heal(g, {0, 0}, 0, 0.001, 0.5), 0);

  // Outer sides: u-min, v-min, v-max of A; v-min, u-max, v-max of B (columns are side - 1).
  for (int side : {1, 2, 4}) EXPECT_EQ(result_[0][side - 1], -3) << "A side " << side;
  for (int side : {2, 3, 4}) EXPECT_EQ(result_[1][side - 1], -3) << "B side " << side;
  EXPECT_NE(result_[0][2], -3);
  EXPECT_NE(result_[1][0], -3);

  // Held rows keep their points, except the two ends of the seam: there the two held corners
  // are a gap apart, and the seam can only close at their midpoint.
  const std::vector<double> now[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
  for (int s = 0; s < 2; ++s) {
    const int seamColumn = s == 0 ? 5 : 0;
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 6; ++i) {
        const bool outer = j == 0 || j == 5 || i == 5 - seamColumn;
        if (!outer || i == seamColumn) continue;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(now[s][3 * (6 * j + i) + c], before[s][3 * (6 * j + i) + c]);
      }
  }
  for (int j : {0, 5})
    for (int c = 0; c < 3; ++c) {
      const double a = before[0][3 * (6 * j + 5) + c], b = before[1][3 * (6 * j) + c];
      EXPECT_NEAR(now[0][3 * (6 * j + 5) + c], 0.5 * (a + b), 1e-9) << "row " << j;
      EXPECT_NEAR(now[1][3 * (6 * j) + c], 0.5 * (a + b), 1e-9) << "row " << j;
    }
  EXPECT_LT(SeamGap(g.srfs[0], 3, g.srfs[1], 1), 0.001);
}

TEST_F(StitchHeal, FixedSurfaceKeepsItsControlPoints) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  const std::vector<double> fixedNet = Net(g.srfs[0]);
  const std::vector<double> movingNet = Net(g.srfs[1]);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  ASSERT_EQ(Heal(g, {1, 0}, -1, 0.001, 0.5), 0);
  EXPECT_EQ(Net(g.srfs[0]), fixedNet);
  EXPECT_NE(Net(g.srfs[1]), movingNet);
  // The free surface came to the fixed one.
  EXPECT_LT(SeamGap(g.srfs[1], 1, g.srfs[0], 3), 0.001);
}

TEST_F(StitchHeal, TopologyOfAnotherGroupSizeFails) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  const std::vector<double> net = Net(g.srfs[0]);
  EXPECT_EQ(HealTopologyZK(g.data(), 2, nullptr, -1, 1, 0.001, 0.5, 0, nullptr), -2);  // none stored
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  EXPECT_EQ(HealTopologyZK(g.data(), 1, nullptr, -1, 1, 0.001, 0.5, 0, nullptr), -2);
  EXPECT_EQ(Net(g.srfs[0]), net);
  EXPECT_EQ(HealTopologyZK(g.data(), 2, nullptr, -1, 1, 0.001, 0.5, 1, nullptr), -2);  // no matrix
  EXPECT_NE(srfsTopology, nullptr);  // a failed heal leaves the topology in place

  // Building again replaces the stored topology; one built from three surfaces refuses two.
  Group three;
  TwoPatches(three, 0.01, 3.0);
  three.srfs.push_back(Patch(2.0, 0.0, 0.02));
  ASSERT_EQ(MakeTopologyZK(three.data(), 3, kMaxGap, kMaxAngle), 0);
  EXPECT_EQ(srfsTopology->nSrf, 3);
  EXPECT_EQ(Heal(g, {0, 0}, -1, 0.001, 0.5), -2);
  EXPECT_EQ(Net(g.srfs[0]), net);
}

TEST_F(StitchHeal, StitchWithoutIterationsKeepsTheInitialGap) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  int reason = -7;
  double gap = -1.0;
  ASSERT_EQ(G0GlobalStitchSrfGrp(srfsTopology, -1, 0.0005, 0.5, 0, 1, 0, 100, 5e-5, 0.01, &reason, &gap), 0);
  EXPECT_EQ(reason, 0);
  // The stitch pairs matched samples, not closest points: a little above the true gap.
  const double measured = SeamGap(g.srfs[0], 3, g.srfs[1], 1);
  EXPECT_GE(gap, measured - 1e-9);
  EXPECT_LT(gap, 1.05 * measured);
  EXPECT_EQ(G0GlobalStitchSrfGrp(nullptr, -1, 0.0005, 0.5, 0, 1, 10, 100, 5e-5, 0.01, &reason, &gap), -2);
  EXPECT_EQ(reason, 0);  // untouched by a refused call
}

// The second entry with resampling every iteration (and refined wrap parameters), and the heal
// with knot insertion switched on: both close the seam; only the latter may add knots.
TEST_F(StitchHeal, ResampledStitchAndKnotInsertionCloseTheSeam) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const int fixed[2] = {0, 0};
  const int knots = NumKnotsU(g.srfs[0]) + NumKnotsV(g.srfs[0]);
  ASSERT_EQ(GlobalStitchSrfTopology(0, g.data(), 2, fixed, -1, 0, 0, 0.0005, 0.5, 100, 46), 0);
  EXPECT_LT(SeamGap(g.srfs[0], 3, g.srfs[1], 1), 0.001);
  EXPECT_EQ(NumKnotsU(g.srfs[0]) + NumKnotsV(g.srfs[0]), knots);
  EXPECT_EQ(GlobalStitchSrfTopology(0, g.data(), 3, fixed, -1, 0, 0, 0.0005, 0.5, 100, 46), -2);

  Group h;
  TwoPatches(h, 0.01, 3.0);
  ASSERT_EQ(SISetbInsertKnot(1), 0);
  const int status = Heal(h, {0, 0}, -1, 0.001, 0.5);
  SISetbInsertKnot(0);
  ASSERT_EQ(status, 0);
  EXPECT_LT(SeamGap(h.srfs[0], 3, h.srfs[1], 1), 0.001);
  EXPECT_GE(NumKnotsU(h.srfs[0]) + NumKnotsV(h.srfs[0]), knots);
}

// Every allocation failure inside a heal: -1 on every side, -2 returned, nothing leaked (the
// sanitizer checks at exit), and the next heal works as if nothing had happened.
TEST_F(StitchHeal, AllocationFailureIsReportedAndTheNextHealWorks) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(Heal(g, {0, 0}, -1, 0.001, 0.5), 0);
  const long perHeal = MallocRuntimeRequests() - start;
  ASSERT_GT(perHeal, 50);

  for (long at : {5L, perHeal / 3, (2 * perHeal) / 3, (9 * perHeal) / 10}) {
    TwoPatches(g, 0.01, 3.0);  // a fresh unhealed pair at the end of the group
    Bspline* pair[2] = {g.srfs[g.size() - 2], g.srfs[g.size() - 1]};
    const std::vector<double> net = Net(pair[1]);
    MallocFailAfter(at, -1);
    const int status = HealTopologyZK(pair, 2, std::vector<int>{0, 0}.data(), -1, 1, 0.001, 0.5, 1, result_);
    MallocFailClear();
    EXPECT_EQ(status, -2) << "failure after " << at;
    for (int s = 0; s < 2; ++s)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(result_[s][c], -1) << "failure after " << at;
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (at < perHeal / 2) {
      EXPECT_EQ(Net(pair[1]), net) << "geometry copied back despite the failure at " << at;
    }

    ASSERT_EQ(HealTopologyZK(pair, 2, std::vector<int>{0, 0}.data(), -1, 1, 0.001, 0.5, 1, result_), 0)
        << "after failure at " << at;
    EXPECT_FALSE(KernelFailedNow());
    EXPECT_LT(SeamGap(pair[0], 3, pair[1], 1), 0.001) << "after failure at " << at;
    EXPECT_EQ(result_[0][0], 0);
  }
}

TEST_F(StitchHeal, AllocationFailureWhileBuildingLeavesNoTopology) {
  Group g;
  TwoPatches(g, 0.01, 3.0);
  const long start = MallocRuntimeRequests();
  ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0);
  const long perBuild = MallocRuntimeRequests() - start;
  ASSERT_GT(perBuild, 20);
  for (long at : {2L, perBuild / 4, perBuild / 2, (3 * perBuild) / 4, perBuild - 3}) {
    MallocFailAfter(at, -1);
    const int status = MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle);
    MallocFailClear();
    EXPECT_EQ(status, -2) << "failure after " << at;
    EXPECT_EQ(srfsTopology, nullptr);
    EXPECT_EQ(MallocTrackLevel(), 0);
    ASSERT_EQ(MakeTopologyZK(g.data(), 2, kMaxGap, kMaxAngle), 0) << "after failure at " << at;
  }
}

}  // namespace
