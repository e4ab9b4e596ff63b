// The heal's option arithmetic, the rationality test of the topology API and the fairing of the
// averaged edge samples.
#include <cmath>
#include <limits>
#include <vector>

#include "healing/gstitch.h"
#include "healing/srfbndr.h"
#include "shrinkwrap/csmooth.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class StitchOptions : public KernelTest {};

// Each rule of the options on both sides of its boundary: more than ten surfaces get 25
// iterations rather than 30; a gap target below 0.1 (or NaN) raises either by half (38, 46);
// the angle tolerance is three quarters of the target up to 2 degrees and half of it above;
// the relative gain is 0.01 with fixed samples and 0.02 without.
TEST_F(StitchOptions, TargetsAndIterationCountsFollowTheUsersTolerances) {
  GlobalStitchInfo info;
  EXPECT_EQ(SetHealStitchInfo(8, 0, 1, 0.01, 2.0, nullptr), -2);
  auto iterations = [&info](int n, double healGap) {
    EXPECT_EQ(SetHealStitchInfo(n, -1, 1, healGap, 0.5, &info), 0);
    return info.maxIter;
  };
  const double justBelow = std::nextafter(0.1, 0.0);
  EXPECT_EQ(iterations(10, 0.1), 30);
  EXPECT_EQ(iterations(11, 0.1), 25);
  EXPECT_EQ(iterations(10, justBelow), 46);
  EXPECT_EQ(iterations(11, justBelow), 38);
  EXPECT_EQ(iterations(11, std::numeric_limits<double>::quiet_NaN()), 38);

  ASSERT_EQ(SetHealStitchInfo(4, 1, 1, 0.2, 2.0, &info), 0);
  EXPECT_EQ(info.angleTol, 1.5);
  EXPECT_EQ(info.gapTol, 0.1);
  EXPECT_EQ(info.relTol, 0.01);
  EXPECT_EQ(info.continuity, 1);
  const double justAbove = std::nextafter(2.0, 3.0);
  ASSERT_EQ(SetHealStitchInfo(4, 1, 0, 0.2, justAbove, &info), 0);
  EXPECT_EQ(info.angleTol, 0.5 * justAbove);
  EXPECT_EQ(info.relTol, 0.02);
  EXPECT_EQ(info.bFixedSamples, 0);
}

TEST_F(StitchOptions, WeightsWithinOneThousandthOfOneAreNotRational) {
  PatchOptions o = {3, 3, 4, 5};
  o.rational = true;
  Bspline* s = BuildFunctionPatch(Smooth, o);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 4; ++i) s->W[j][i] = (i + j) % 2 ? 1.0009 : 0.9991;
  EXPECT_EQ(IsRationalBspline(nullptr), 0);
  EXPECT_EQ(IsRationalBspline(s), 0);
  s->W[4][3] = 1.002;  // the last weight: rows are v, columns u
  EXPECT_EQ(IsRationalBspline(s), 1);
  Group g;
  g.srfs = {BuildFunctionPatch(Smooth), s};
  EXPECT_EQ(MakeTopologyZK(g.data(), 2, 0.05, 5.0), -2);
  EXPECT_EQ(srfsTopology, nullptr);
  s->rational = 0;  // without the flag the weights are not looked at
  EXPECT_EQ(IsRationalBspline(s), 0);

  Bspline* curve = BuildCurve(2, 3, {0, 0, 0, 1, 0, 0, 2, 1, 0}, {}, {1.0, 1.0005, 1.0});
  EXPECT_EQ(IsRationalBspline(curve), 0);
  curve->W[0][2] = 0.9;
  EXPECT_EQ(IsRationalBspline(curve), 1);
  g.srfs[1] = curve;  // a curve is no member of a group
  EXPECT_EQ(MakeTopologyZK(g.data(), 2, 0.05, 5.0), -2);
  FreeBspline(s);
}

// An edge that is not paired gets one fairing pass; that must not shorten the fairing of the
// paired edge after it. The end samples stay; |lambda| > |mu| runs as mu = -lambda.
TEST_F(StitchOptions, FairingCountBelongsToEachEdge) {
  const int n = 12;
  std::vector<double> x[4], y[4], z[4];
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < n; ++i) x[k].push_back(i), y[k].push_back(0.0), z[k].push_back(i % 2 ? 0.3 : -0.3);
  CrvInfoStruct crvs[2] = {};
  EdgeInfoStruct edges[2] = {};
  for (int k = 0; k < 2; ++k) {
    edges[k].nSample = n;
    edges[k].paired = k;
    edges[k].infoA = &crvs[0], edges[k].infoB = &crvs[1];
    edges[k].avgX = x[k].data(), edges[k].avgY = y[k].data(), edges[k].avgZ = z[k].data();
  }
  BndrStruct bs = {};
  bs.nEdge = 2;
  bs.edges = edges;
  ASSERT_EQ(RefineAllEdgeSamples(&bs, 10, 0.1, -0.01), 0);

  const int ends[2] = {0, n - 1};
  ASSERT_EQ(FairPolylineLambdaGamma(x[2].data(), y[2].data(), z[2].data(), n, ends, 2, 1, 0, 0.1, -0.1, 1, 0.0), 0);
  ASSERT_EQ(FairPolylineLambdaGamma(x[3].data(), y[3].data(), z[3].data(), n, ends, 2, 1, 0, 0.1, -0.1, 10, 0.0), 0);
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < n; ++i) EXPECT_DOUBLE_EQ(z[k][i], z[k + 2][i]) << "edge " << k << " sample " << i;
  EXPECT_EQ(z[1][0], -0.3);
  EXPECT_EQ(z[1][n - 1], 0.3);
  EXPECT_EQ(RefineAllEdgeSamples(nullptr, 2, 0.1, -0.11), -2);
}

}  // namespace
