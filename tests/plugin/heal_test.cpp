// The heal end to end, from the host's entry points to the control points written back into the
// host's surfaces, judged by measurements taken without the kernel.
#include <cmath>
#include <cstring>
#include <random>

#include "tests/plugin/plugin_fixture.h"

namespace {

class Heal : public PluginTest {
 protected:
  // Runs init and n updates; returns what the last update printed on standard output.
  std::string InitAndHeal(SAA_CustomContext ctx, int n, int* status) {
    *status = initSeamWeld(ctx);
    if (*status) return "";
    testing::internal::CaptureStdout();
    *status = UpdateAll(ctx, n);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(Heal, TwoPatchesMeetTheGapTargetAndKeepTheirStructure) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  HealTargets t;
  t.healGap = 0.001f;
  SAA_CustomContext ctx = Context(g, t);
  SAAStubSurface before = SAAStubSurfaceAt(g.elements[1]);
  ASSERT_GT(MeasureSeam(g.seams[0]).maxGap, 0.009);

  int status = 0;
  InitAndHeal(ctx, 2, &status);
  ASSERT_EQ(status, 0);
  EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, t.healGap);

  const SAAStubSurface& after = SAAStubSurfaceAt(g.elements[1]);
  EXPECT_EQ(after.knotsU, before.knotsU);
  EXPECT_EQ(after.knotsV, before.knotsV);
  EXPECT_EQ(after.degreeU, before.degreeU);
  EXPECT_EQ(after.vertices.size(), before.vertices.size());
  for (size_t k = 3; k < after.vertices.size(); k += 4) EXPECT_EQ(after.vertices[k], 1.0);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(Heal, HeldOuterBoundaryDoesNotMove) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  HealTargets t;
  t.continuity = "POSITION";
  SAA_CustomContext ctx = Context(g, t);
  std::vector<std::vector<double>> before;
  for (int e : g.elements) before.push_back(Vertices(e));

  int status = 0;
  InitAndHeal(ctx, 2, &status);
  ASSERT_EQ(status, 0);
  // Outer rows: v-min and v-max of both patches, the u-min of A and the u-max of B. They may
  // only change by the float round trip through the host; the two ends of the seam are shared
  // with the seam and meet at their common corner, so they are left out, and the point beside
  // each along its held row moves as that corner does (the row keeps its direction there).
  for (int s = 0; s < 2; ++s) {
    const SAAStubSurface& h = SAAStubSurfaceAt(g.elements[s]);
    const std::vector<double>& now = h.vertices;
    const int seamColumn = s == 0 ? h.countU - 1 : 0, beside = s == 0 ? h.countU - 2 : 1;
    auto same = [&](int i, int j) {
      if (i == seamColumn) return;
      for (int c = 0; c < 3; ++c) {
        size_t k = 4 * (static_cast<size_t>(j) * h.countU + i) + c;
        const size_t corner = 4 * (static_cast<size_t>(j) * h.countU + seamColumn) + c;
        const double cornerMove = i == beside && (j == 0 || j == h.countV - 1) ? now[corner] - before[s][corner] : 0.0;
        EXPECT_NEAR(now[k] - before[s][k], cornerMove, 1e-6) << "surface " << s << " point " << i << "," << j;
      }
    };
    for (int i = 0; i < h.countU; ++i) {
      same(i, 0);
      same(i, h.countV - 1);
    }
    for (int j = 0; j < h.countV; ++j) same(s == 0 ? 0 : h.countU - 1, j);
  }
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(Heal, LooseTargetsReportSuccessOnEverySide) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  HealTargets t;
  t.healAngle = 10.0f;
  t.report = 1;
  SAA_CustomContext ctx = Context(g, t);
  int status = 0;
  std::string report = InitAndHeal(ctx, 2, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Count(report, "Successful healing"), 8u) << report;
  EXPECT_EQ(Count(report, "Surface patch"), 2u);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(Heal, GridSeamsAndCentreCornerMeet) {
  SampleGroup g = BuildGridGroup(0.01);
  HealTargets t;
  SAA_CustomContext ctx = Context(g, t);
  int status = 0;
  InitAndHeal(ctx, 4, &status);
  ASSERT_EQ(status, 0);
  for (const SampleSeam& s : g.seams) EXPECT_LE(MeasureSeam(s).maxGap, t.healGap);

  // The four copies of the centre corner: (u-max, v-max), (u-min, v-max), (u-max, v-min), (u-min, v-min).
  double corner[4][3];
  const int which[4][2] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}};
  for (int k = 0; k < 4; ++k) {
    const SAAStubSurface& h = SAAStubSurfaceAt(g.elements[k]);
    int i = which[k][0] ? h.countU - 1 : 0, j = which[k][1] ? h.countV - 1 : 0;
    for (int c = 0; c < 3; ++c) corner[k][c] = h.vertices[4 * (static_cast<size_t>(j) * h.countU + i) + c];
  }
  for (int k = 1; k < 4; ++k)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(corner[k][c], corner[0][c], 1e-5);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(Heal, EveryNthUpdateHealsAndTheDialogRebuilds) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAA_CustomContext ctx = Context(g, {});
  ASSERT_EQ(initSeamWeld(ctx), 0);
  std::vector<double> start = Vertices(g.elements[0]);
  SAAStubSetCurrentResult(ctx, 0);
  EXPECT_EQ(updateSeamWeld(ctx), 0);
  EXPECT_EQ(Vertices(g.elements[0]), start);  // update 1 of 2 heals nothing
  SAAStubSetCurrentResult(ctx, 1);
  EXPECT_EQ(updateSeamWeld(ctx), 0);
  EXPECT_NE(Vertices(g.elements[0]), start);
  EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, 0.001);
  EXPECT_EQ(UpdateAll(ctx, 2), 0);  // update 2n heals again

  // Every dialog item lands in its own field: the values differ from each other and from the
  // custom values, so an item read into the wrong field shows. The continuity switches at the
  // ends of the rule's order: POSITION and NONE both set, the last one wins.
  ASSERT_EQ(editSeamWeld(ctx), 0);
  SAAStubSetDialogState(ctx, kItemReport, 1);
  SAAStubSetDialogFloat(ctx, kItemMaxGap, 0.04f);
  SAAStubSetDialogFloat(ctx, kItemMaxAngle, 6.0f);
  SAAStubSetDialogFloat(ctx, kItemHealGap, 0.002f);
  SAAStubSetDialogFloat(ctx, kItemHealAngle, 0.7f);
  auto continuity = [&](short position, short tangency, short curvature, short none) {
    SAAStubSetDialogState(ctx, kItemPosition, position);
    SAAStubSetDialogState(ctx, kItemTangency, tangency);
    SAAStubSetDialogState(ctx, kItemCurvature, curvature);
    SAAStubSetDialogState(ctx, kItemNone, none);
  };
  continuity(1, 0, 0, 1);
  int knotsBefore = SAAStubCallCount("SAA_nurbsSurfaceGetKnots");
  SAAStubSetCurrentResult(ctx, 0);
  EXPECT_EQ(updateSeamWeld(ctx), 0);  // counter 1 of 2 ...
  EXPECT_EQ(SAAStubPressOK(ctx), 0);  // ... reset by the OK
  EXPECT_EQ(SAAStubCallCount("SAA_nurbsSurfaceGetKnots"), knotsBefore + 2);  // topology rebuilt
  auto* inst = static_cast<SeamWeldInstance*>(SAAStubInstanceData(ctx));
  EXPECT_EQ(inst->report, 1);
  EXPECT_EQ(inst->maxGap, 0.04f);
  EXPECT_EQ(inst->maxAngle, 6.0f);
  EXPECT_EQ(inst->healGap, 0.002f);
  EXPECT_EQ(inst->healAngle, 0.7f);
  EXPECT_EQ(inst->continuity, kContNone);
  EXPECT_EQ(inst->updateCount, 0);
  std::vector<double> afterOk = Vertices(g.elements[0]);
  SAAStubSetCurrentResult(ctx, 0);
  EXPECT_EQ(updateSeamWeld(ctx), 0);
  EXPECT_EQ(Vertices(g.elements[0]), afterOk);

  continuity(0, 0, 0, 0);  // none set: the field keeps its value
  EXPECT_EQ(SAAStubPressOK(ctx), 0);
  EXPECT_EQ(inst->continuity, kContNone);
  continuity(1, 0, 0, 0);  // the first alone
  EXPECT_EQ(SAAStubPressOK(ctx), 0);
  EXPECT_EQ(inst->continuity, kContPosition);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(Heal, MemoryFailureIsReportedAndTheNextHealWorks) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  HealTargets t;
  t.report = 1;
  SAA_CustomContext ctx = Context(g, t);
  ASSERT_EQ(initSeamWeld(ctx), 0);
  // The first heal closes the seam; the failure goes into a heal from that state, whose
  // requests are counted on a heal like it.
  testing::internal::CaptureStdout();
  ASSERT_EQ(UpdateAll(ctx, 2), 0);
  long start = MallocRuntimeRequests();
  ASSERT_EQ(UpdateAll(ctx, 2), 0);
  testing::internal::GetCapturedStdout();
  long perHeal = MallocRuntimeRequests() - start;
  ASSERT_GT(perHeal, 20);

  MallocFailAfter(perHeal / 2, 3);  // lands in the middle of the kernel's heal
  testing::internal::CaptureStdout();
  int status = UpdateAll(ctx, 2);
  std::string report = testing::internal::GetCapturedStdout();
  MallocFailClear();
  EXPECT_NE(status, 0);
  EXPECT_EQ(Count(report, "Not healed because of memory error"), 8u) << report;
  EXPECT_NE(Messages().find("System swap space has been exhausted"), std::string::npos);

  testing::internal::CaptureStdout();
  EXPECT_EQ(UpdateAll(ctx, 2), 0);
  report = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Count(report, "memory error"), 0u) << report;
  EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, t.healGap);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

// Host data a float cannot hold or that means nothing (NaN, infinity, 1e300, a NaN weight, a
// matrix with a NaN or without inverse, a knot vector whose domain vanishes in double precision
// as 1e30 + t does, an infinite, NaN or decreasing knot, a knot repeated more often than the
// degree, a knot count that does not fit the net, a degree of 0, fewer control points than the
// degree needs) is refused before the kernel sees it: 95 from the build and from the heal, each
// with one message that names the surface, nothing written to the host, every value of the
// scene as it was (the bad one included; compared bitwise, since NaN equals nothing).
TEST_F(Heal, CorruptedHostDataIsRefusedAndTheSceneStaysAsItWas) {
  enum Kind {
    kNaN, kInfinity, kHuge, kNaNWeight, kMatrixNaN, kSingular, kKnotsShifted, kKnotInfinite, kKnotNaN,
    kKnotDecreasing, kKnotRepeated, kKnotCount, kDegreeZero, kTooFewPoints, kKinds
  };
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 4 * kKinds; ++trial) {
    SAAStubReset();
    const int kind = trial % kKinds;
    SampleGroup g = trial % 2 ? BuildGridGroup(0.01) : BuildTwoPatchGroup(0.01, 3.0);
    SAAStubSurface& s = SAAStubSurfaceAt(g.elements[rng() % g.elements.size()]);
    const std::string name = s.name;
    const size_t at = 4 * (rng() % (s.vertices.size() / 4));
    const int c = static_cast<int>(rng() % 3);
    switch (kind) {
      case kNaN: s.vertices[at + c] = std::nan(""); break;
      case kInfinity: s.vertices[at + c] = -INFINITY; break;
      case kHuge: s.vertices[at + c] = 1e300; break;
      case kNaNWeight: s.vertices[at + 3] = std::nan(""); break;
      case kMatrixNaN: s.matrix[rng() % 16] = std::nanf(""); break;
      case kSingular:
        for (int r = 0; r < 4; ++r) s.matrix[4 * r + c] = 0.0f;  // a zero column: x, y or z is lost
        break;
      case kKnotsShifted:
        for (double& k : s.knotsU) k += 1e30;
        break;
      case kKnotInfinite: s.knotsV.back() = INFINITY; break;
      case kKnotNaN: s.knotsU[1 + rng() % (s.knotsU.size() - 1)] = std::nan(""); break;
      case kKnotDecreasing: s.knotsV[3] = s.knotsV[2] - 0.25; break;
      case kKnotRepeated: s.knotsU[3] = s.knotsU[2]; break;  // the start 4 times: a span of nothing
      case kKnotCount: s.knotsU.push_back(s.knotsU.back()); break;
      case kDegreeZero: s.degreeV = 0; break;
      case kTooFewPoints:  // degree 6 needs 7 points of the 6; the knot count still fits
        s.degreeU = 6;
        s.knotsU.insert(s.knotsU.end(), 3, s.knotsU.back());
        break;
    }
    std::vector<std::vector<double>> before;
    for (int e : g.elements) before.push_back(Vertices(e));
    SAA_CustomContext ctx = Context(g, {});
    const int n = static_cast<int>(g.elements.size());
    for (int run = 0; run < 2; ++run) {
      testing::internal::CaptureStderr();
      EXPECT_EQ(run ? UpdateAll(ctx, n) : initSeamWeld(ctx), kSeamWeldFailure) << "kind " << kind;
      const std::string message = testing::internal::GetCapturedStderr();
      EXPECT_EQ(Count(message, "\n"), 1u) << "kind " << kind << ": " << message;
      EXPECT_NE(message.find("surface " + name + ":"), std::string::npos) << "kind " << kind << ": " << message;
    }
    EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 0);
    for (int k = 0; k < n; ++k) {
      const std::vector<double> now = Vertices(g.elements[k]);
      EXPECT_EQ(std::memcmp(now.data(), before[k].data(), now.size() * sizeof(double)), 0) << "kind " << kind;
    }
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
}

// A heal that fails in the kernel writes nothing back: writing the unchanged records would move
// the host's surfaces by the single-precision round trip through the matrix and its inverse.
// The scene stays bitwise as it was, the run reports the kernel's failure with a message, and
// the report calls no side healed. Here the stored topology is another group's (a later init
// built it), which the heal refuses.
TEST_F(Heal, FailedHealWritesNothingAndSaysSo) {
  for (float scale : {1.0f, 3e4f}) {
    SAAStubReset();
    SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
    for (int e : g.elements) {
      float* m = SAAStubSurfaceAt(e).matrix;  // row vectors: scale, then translate
      m[0] = 2.0f * scale, m[5] = 0.5f * scale, m[10] = scale, m[12] = 3.0f, m[13] = -1.0f, m[14] = 0.25f;
    }
    HealTargets t;
    t.report = 1;
    t.maxGap *= scale;
    t.healGap *= scale;
    SAA_CustomContext ctx = Context(g, t);
    ASSERT_EQ(initSeamWeld(ctx), 0);
    SampleGroup other = BuildGridGroup(0.01);
    SAA_CustomContext otherCtx = Context(other, {});
    ASSERT_EQ(initSeamWeld(otherCtx), 0);

    std::vector<std::vector<double>> before;
    for (int e : g.elements) before.push_back(Vertices(e));
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(UpdateAll(ctx, 2), kSeamWeldFailure);
    const std::string report = testing::internal::GetCapturedStdout();
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("The heal failed"), std::string::npos) << message;
    EXPECT_EQ(Count(report, "Surface patch"), 2u) << report;
    EXPECT_EQ(Count(report, "Successful healing") + Count(report, "Healed to"), 0u) << report;
    EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 0);
    for (int k = 0; k < 2; ++k) EXPECT_EQ(Vertices(g.elements[k]), before[k]) << "scale " << scale;
    EXPECT_EQ(cleanupSeamWeld(otherCtx), 0);
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
}

}  // namespace
