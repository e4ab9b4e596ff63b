// The heal's option arithmetic, the rationality test of the topology API and the fairing of the
// averaged edge samples.
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

TEST_F(StitchOptions, TargetsAndIterationCountsFollowTheUsersTolerances) {
  GlobalStitchInfo info;
  EXPECT_EQ(SetHealStitchInfo(8, 0, 1, 0.01, 2.0, nullptr), -2);
  // Tight gap targets (and a NaN one) get half as many iterations again.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // {surfaces, heal gap, iterations}
  const double cases[][3] = {{12, 0.05, 38}, {8, 0.05, 46}, {8, 0.1, 30}, {12, 0.1, 25}, {10, 0.2, 30}, {8, nan, 46}};
  for (const auto& c : cases) {
    ASSERT_EQ(SetHealStitchInfo(int(c[0]), -1, 1, c[1], 0.5, &info), 0);
    EXPECT_EQ(info.maxIter, int(c[2])) << c[0] << " surfaces, gap " << c[1];
  }
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
