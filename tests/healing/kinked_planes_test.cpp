// Two planes (bilinear nets) meeting at 7 degrees, within the angle limit, so the seam counts as
// smooth: taking the kink out turns a plane about the seam, its far side moving its width times
// the turn, many times the gap the seam closes. The heal as the plug-in runs it closes the gap,
// keeps every control point within 3 x the seam's gap (and HEALGAP) of where it came and says the
// seam is not tangential, at every size and far from the origin.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class KinkedPlanesTest : public KernelTest {};

TEST_F(KinkedPlanesTest, PlanesKeepTheirKinkWithinTheMoveBound) {
  for (const double size : {1e-3, 1.0, 1e3})
    for (const double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      std::mt19937 rng(3);
      // Noise 2e-4 of the size per coordinate on every control point opens the seam.
      std::uniform_real_distribution<double> jitter(-2e-4, 2e-4);
      auto at = [&](double v) { return (v + far + jitter(rng)) * size; };
      Group g;
      // Plane A on x in [-0.2, 0], plane B on x in [0, 0.8] turned 7 degrees up about x = 0,
      // both on y in [0, 0.8]: A's side 3 meets B's side 1.
      const double slope[2] = {0.0, std::tan(7.0 * kDeg)};
      const double x0[2] = {-0.2, 0.0}, x1[2] = {0.0, 0.8};
      for (int q = 0; q < 2; ++q) {
        std::vector<double> pts;
        for (int j = 0; j < 2; ++j)
          for (const double x : {x0[q], x1[q]}) pts.insert(pts.end(), {at(x), at(0.8 * j), at(slope[q] * x)});
        g.Add(BuildSurface(1, 1, 2, 2, pts));
      }
      const double gapIn = RefGap(g.srfs[0], 3, g.srfs[1], 1), healGap = 1e-5 * size;
      ASSERT_GT(gapIn, 10.0 * healGap);
      const std::vector<double> start[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
      ASSERT_EQ(MakeTopologyZK(g.data(), 2, 5.0 * gapIn, 8.0), 0);
      int** result = allocate_matrix_ih(2, 4);
      const int fixed[2] = {0, 0};
      EXPECT_EQ(HealTopologyZK(g.data(), 2, fixed, -1, 1, healGap, 0.1, 1, result), 0);
      CleanupTopology();
      EXPECT_LE(RefGap(g.srfs[0], 3, g.srfs[1], 1), healGap);
      for (int i = 0; i < 2; ++i) EXPECT_LE(LargestMove(start[i], Net(g.srfs[i])), 3.0 * gapIn + healGap) << "plane " << i;
      // Closed in position, not within the angle target.
      EXPECT_EQ(result[0][2], -5);
      EXPECT_EQ(result[1][0], -5);
      matrix_free_ih(result);
    }
}

// The same kink with plane A held square to a third plane C by a crease along its other side, so
// that only B can turn: a turn within the move bound would still leave the seam kinked, so B keeps
// its place, neither turned in part nor, where its place leaves the seam a little steeper than it
// came, given back the whole turn.
TEST_F(KinkedPlanesTest, PlaneThatAloneCouldTurnKeepsItsPlace) {
  for (const double size : {1e-3, 1.0, 1e3})
    for (const unsigned seed : {3u, 4u, 8u, 13u}) {
      const double far = seed % 2 ? 1e4 : 0.0;
      SCOPED_TRACE(testing::Message() << "size " << size << " seed " << seed);
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> jitter(-2e-4, 2e-4);
      auto at = [&](double v) { return (v + far + jitter(rng)) * size; };
      Group g;
      // C on z in [0, 0.3] at x = -0.2, its side 3 meeting A's side 1; A and B as above.
      const double slope[2] = {0.0, std::tan(7.0 * kDeg)};
      const double x0[2] = {-0.2, 0.0}, x1[2] = {0.0, 0.8};
      std::vector<double> clean[3];
      for (int q = 0; q < 3; ++q) {
        std::vector<double> pts;
        for (int j = 0; j < 2; ++j)
          for (int i = 0; i < 2; ++i) {
            const double p[3] = {q == 2 ? -0.2 : i ? x1[q] : x0[q], 0.8 * j,
                                 q == 2 ? 0.3 * (1 - i) : slope[q] * (i ? x1[q] : x0[q])};
            for (const double c : p) clean[q].push_back((c + far) * size), pts.push_back(at(c));
          }
        g.Add(BuildSurface(1, 1, 2, 2, pts));
      }
      double damage = 0.0;
      for (int q = 0; q < 3; ++q) {
        Group c;
        c.Add(BuildSurface(1, 1, 2, 2, clean[q]));
        clean[q] = Net(c.srfs[0]);
        damage = std::max(damage, LargestMove(clean[q], Net(g.srfs[q])));
      }
      const double gapIn = RefGap(g.srfs[0], 3, g.srfs[1], 1), healGap = 1e-5 * size;
      const std::vector<double> start = Net(g.srfs[1]);
      ASSERT_EQ(MakeTopologyZK(g.data(), 3, 5.0 * std::max(gapIn, RefGap(g.srfs[2], 3, g.srfs[0], 1)), 8.0), 0);
      int** result = allocate_matrix_ih(3, 4);
      const int fixed[3] = {0, 0, 0};
      EXPECT_EQ(HealTopologyZK(g.data(), 3, fixed, -1, 1, healGap, 0.1, 1, result), 0);
      CleanupTopology();
      matrix_free_ih(result);
      EXPECT_LE(RefGap(g.srfs[0], 3, g.srfs[1], 1), healGap);
      EXPECT_LE(LargestMove(start, Net(g.srfs[1])), 3.0 * gapIn + healGap);
      EXPECT_LE(LargestMove(clean[1], Net(g.srfs[1])), 2.0 * damage);
    }
}

// The same kink between two planes written as bicubic 4 x 4 nets (as a re-fit writes them), the
// seam closed: the tangential heal could turn the second rows only by HEALGAP's bound, which takes
// no kink out, so nothing moves at all.
TEST_F(KinkedPlanesTest, ClosedKinkBetweenCubicPlanesMovesNothing) {
  for (const double size : {1e-3, 1.0, 1e3})
    for (const double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      Group g;
      const double slope[2] = {0.0, std::tan(7.0 * kDeg)};
      const double x0[2] = {-0.2, 0.0}, x1[2] = {0.0, 0.8};
      for (int q = 0; q < 2; ++q) {
        std::vector<double> pts;
        for (int j = 0; j < 4; ++j)
          for (int i = 0; i < 4; ++i) {
            const double x = x0[q] + (x1[q] - x0[q]) * i / 3.0;
            for (const double c : {x, 0.8 * j / 3.0, slope[q] * x}) pts.push_back((c + far) * size);
          }
        g.Add(BuildSurface(3, 3, 4, 4, pts));
      }
      const double healGap = 1e-5 * size;
      const std::vector<double> start[2] = {Net(g.srfs[0]), Net(g.srfs[1])};
      ASSERT_EQ(MakeTopologyZK(g.data(), 2, 1e-3 * size, 8.0), 0);
      int** result = allocate_matrix_ih(2, 4);
      const int fixed[2] = {0, 0};
      EXPECT_EQ(HealTopologyZK(g.data(), 2, fixed, 1, 1, healGap, 0.1, 1, result), 0);
      CleanupTopology();
      matrix_free_ih(result);
      for (int i = 0; i < 2; ++i) EXPECT_LE(LargestMove(start[i], Net(g.srfs[i])), 1e-3 * healGap) << "plane " << i;
    }
}

}  // namespace
