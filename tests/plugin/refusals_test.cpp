// What the plug-in refuses, and that a refusal leaves the host's scene exactly as it was:
// tolerances and targets that cannot work, a MAXGAP at which a surface's own boundaries would
// pair, and a write-back the host refuses part-way.
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/plugin/plugin_fixture.h"

namespace {

class Refusals : public PluginTest {
 protected:
  static std::vector<std::vector<double>> Scene(const SampleGroup& g) {
    std::vector<std::vector<double>> v;
    for (int e : g.elements) v.push_back(Vertices(e));
    return v;
  }
  // Bitwise, so that a NaN written anywhere shows too.
  static void ExpectSceneIs(const SampleGroup& g, const std::vector<std::vector<double>>& before,
                            const std::string& what) {
    for (size_t k = 0; k < g.elements.size(); ++k) {
      const std::vector<double> now = Vertices(g.elements[k]);
      EXPECT_TRUE(now.size() == before[k].size() &&
                  std::memcmp(now.data(), before[k].data(), now.size() * sizeof(double)) == 0)
          << what << ": surface " << SAAStubSurfaceAt(g.elements[k]).name << " changed";
    }
  }

  // The targets refused twice, as custom values (init and the heal) or, fromDialog, in the
  // dialog of a group built with good ones (the OK and the heal): 95 each time with the message
  // naming `value`, no host surface read after the refusal, nothing written, the scene as it was.
  void ExpectRefused(SampleGroup (*build)(), const HealTargets& bad, bool fromDialog, const std::string& value,
                     const std::string& what, float unit = 1.0f) {
    SAAStubReset();
    const SampleGroup g = build();
    const int n = static_cast<int>(g.elements.size());
    const auto before = Scene(g);
    HealTargets good;  // in the group's own units
    good.maxGap *= unit;
    good.healGap *= unit;
    SAA_CustomContext ctx = Context(g, fromDialog ? good : bad);
    if (fromDialog) {
      ASSERT_EQ(initSeamWeld(ctx), 0) << what;
      ASSERT_EQ(editSeamWeld(ctx), 0);
      SetDialog(ctx, bad);
    }
    const int reads = SAAStubCallCount("SAA_modelGetVertices");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(fromDialog ? SAAStubPressOK(ctx) : initSeamWeld(ctx), kSeamWeldFailure) << what;
    EXPECT_EQ(UpdateAll(ctx, n), kSeamWeldFailure) << what;
    const std::string report = testing::internal::GetCapturedStdout();
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(messages, "\n"), 2u) << what << ": " << messages;
    EXPECT_EQ(Count(messages, "ERROR : " + value + " "), 2u) << what << ": " << messages;
    EXPECT_EQ(report, "") << what;
    if (value != "MAXGAP") {
      EXPECT_EQ(SAAStubCallCount("SAA_modelGetVertices"), reads) << what;
    }
    EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 0) << what;
    ExpectSceneIs(g, before, what);
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
};

SampleGroup TwoPatches() { return BuildTwoPatchGroup(0.01, 3.0); }
SampleGroup TJunction() { return BuildTJunctionGroup(0.01); }

// Each tolerance or target that is not finite, negative, or 0 where 0 cannot work (MAXANGLE 0
// makes every seam a crease, which heals in position only), as a custom value or in the dialog.
TEST_F(Refusals, ValuesThatCannotWorkAreRefusedWithAMessageAndTheSceneKept) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* name;
    float HealTargets::*field;
    bool zeroRefused;
  } values[] = {{"MAXGAP", &HealTargets::maxGap, true},
                {"MAXANGLE", &HealTargets::maxAngle, false},
                {"HEALGAP", &HealTargets::healGap, true},
                {"HEALANGLE", &HealTargets::healAngle, true}};
  for (const auto& v : values) {
    std::vector<float> bad = {nan, inf, -inf, -1.0f, -1e-30f};
    if (v.zeroRefused) bad.push_back(0.0f);
    for (float value : bad)
      for (bool fromDialog : {false, true}) {
        HealTargets t;
        t.*v.field = value;
        ExpectRefused(TwoPatches, t, fromDialog, v.name, std::string(v.name) + " " + std::to_string(value));
      }
  }
  SAAStubReset();
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  HealTargets t;
  t.maxAngle = 0.0f;
  SAA_CustomContext ctx = Context(g, t);
  ASSERT_EQ(initSeamWeld(ctx), 0);
  ASSERT_EQ(UpdateAll(ctx, 2), 0);
  EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, t.healGap);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

// MAXGAP may reach a quarter of the group's shortest boundary curve and no further: just below
// it the group heals, just above it init, the dialog and the heal refuse with a message and
// nothing is written. The rule holds in the group's own units (scaled by the host's matrix from
// 1e-3 to 1e3), and refuses the MAXGAP of 1 at which the two-patch group
// paired nothing and reported every side healed with its seam open.
TEST_F(Refusals, MaxGapBeyondAQuarterOfTheShortestBoundaryIsRefused) {
  static float scale = 1.0f;
  static SampleGroup (*group)() = TwoPatches;
  auto scaled = []() {
    SampleGroup g = group();
    for (int e : g.elements) {
      float* m = SAAStubSurfaceAt(e).matrix;
      m[0] = m[5] = m[10] = scale;
    }
    return g;
  };
  for (float s : {1e-3f, 1.0f, 1e3f}) {
    for (auto build : {TwoPatches, TJunction}) {
      scale = s;
      group = build;
      SAAStubReset();
      const double shortest = ShortestBoundaryCurve(scaled());
      HealTargets t;
      t.healGap *= scale;
      const std::string what = scaled().name + " scale " + std::to_string(scale);

      // Just below the limit: the group heals.
      SAAStubReset();
      const SampleGroup g = scaled();
      t.maxGap = static_cast<float>(0.99 * 0.25 * shortest);
      SAA_CustomContext ctx = Context(g, t);
      EXPECT_EQ(initSeamWeld(ctx), 0) << what;
      EXPECT_EQ(UpdateAll(ctx, static_cast<int>(g.elements.size())), 0) << what;
      for (const SampleSeam& seam : g.seams) EXPECT_LE(MeasureSeam(seam).maxGap, 1.05 * t.healGap) << what;
      EXPECT_EQ(cleanupSeamWeld(ctx), 0);

      for (double share : {1.01 * 0.25, 1.0}) {
        t.maxGap = static_cast<float>(share * shortest);
        for (bool fromDialog : {false, true})
          ExpectRefused(scaled, t, fromDialog, "MAXGAP", what + " share " + std::to_string(share), scale);
      }
    }
  }
}

// Both sample groups scaled down by the host's matrix heal (status 0) as they do at unit size, in
// their own units: every seam within the scaled HEALGAP and at the unit heal's gap times the
// scale. The boundary normals the heal compares are as long as the square of the unit and were
// taken for missing at 1e-3; the wrap smoothed a boundary harder the shorter it was, and left
// the seams of the T-junction at several HEALGAPs; at 1e-6 every side counted as collapsed
// to a point and nothing moved.
TEST_F(Refusals, GroupsHealAlikeWhenScaledDown) {
  for (SampleGroup (*build)() : {TwoPatches, TJunction}) {
    std::vector<double> unit;
    for (float scale : {1.0f, 1e-3f, 1e-6f}) {
      SAAStubReset();
      const SampleGroup g = build();
      for (int e : g.elements) {
        float* m = SAAStubSurfaceAt(e).matrix;
        m[0] = m[5] = m[10] = scale;
      }
      HealTargets t;
      t.maxGap *= scale;
      t.healGap *= scale;
      const std::string what = g.name + " scale " + std::to_string(scale);
      SAA_CustomContext ctx = Context(g, t);
      ASSERT_EQ(initSeamWeld(ctx), 0) << what;
      EXPECT_EQ(UpdateAll(ctx, static_cast<int>(g.elements.size())), 0) << what;
      for (size_t k = 0; k < g.seams.size(); ++k) {
        const double gap = MeasureSeam(g.seams[k]).maxGap;
        EXPECT_LE(gap, t.healGap) << what << " seam " << k;
        if (scale == 1.0f)
          unit.push_back(gap);
        else  // the host's coordinates are floats: the gaps agree to their rounding
          EXPECT_NEAR(gap / scale, unit[k], 0.05 * unit[k] + 1e-6 * t.maxGap / scale) << what << " seam " << k;
      }
      EXPECT_EQ(cleanupSeamWeld(ctx), 0);
    }
  }
}

// A collapsed side (a pole, all its control points one point) is a point, not a boundary curve:
// the limit leaves it out, so a group with one still builds and heals at the usual MAXGAP.
TEST_F(Refusals, CollapsedSideDoesNotLimitMaxGap) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAAStubSurface& b = SAAStubSurfaceAt(g.elements[1]);
  for (int j = 0; j < b.countV; ++j)  // the u-max column, away from the seam, into its middle point
    for (int c = 0; c < 3; ++c)
      b.vertices[4 * (j * b.countU + b.countU - 1) + c] = b.vertices[4 * ((b.countV / 2) * b.countU + b.countU - 1) + c];
  ASSERT_LT(ShortestBoundaryCurve(g), 1e-12);
  SAA_CustomContext ctx = Context(g, {});
  EXPECT_EQ(initSeamWeld(ctx), 0);
  EXPECT_EQ(UpdateAll(ctx, 2), 0);
  EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, 0.001);
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

// The host refuses the k-th write-back of a heal: every surface written before it is put back,
// so the scene the host reads back is bitwise the scene before the heal, the host's status is
// returned and no side is reported healed. Over the two-patch group, the grid and the
// T-junction, for every k.
TEST_F(Refusals, RefusedWriteBackLeavesNoHalfWrittenGroup) {
  for (int group = 0; group < 3; ++group) {
    SAAStubReset();
    SampleGroup g = group == 0 ? BuildTwoPatchGroup(0.01, 3.0)
                    : group == 1 ? BuildGridGroup(0.01)
                                 : BuildTJunctionGroup(0.01);
    const int n = static_cast<int>(g.elements.size());
    HealTargets t;
    t.report = 1;
    t.healAngle = 10.0f;  // every side would be reported healed
    SAA_CustomContext ctx = Context(g, t);
    ASSERT_EQ(initSeamWeld(ctx), 0);
    const auto before = Scene(g);
    for (int k = 1; k <= n; ++k) {
      const std::string what = g.name + ", write " + std::to_string(k) + " refused";
      const int writes = SAAStubCallCount("SAA_modelSetVertices");
      SAAStubFailCall("SAA_modelSetVertices", k, 7);
      testing::internal::CaptureStderr();
      testing::internal::CaptureStdout();
      EXPECT_EQ(UpdateAll(ctx, n), 7) << what;
      const std::string report = testing::internal::GetCapturedStdout();
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "SAAPHIRE ERROR : SAA_modelSetVertices\n") << what;
      EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices") - writes, k + (k - 1)) << what;  // k tries, k - 1 restores
      EXPECT_EQ(Count(report, "Surface "), static_cast<size_t>(n)) << what << report;
      EXPECT_EQ(Count(report, "Successful healing") + Count(report, "Healed to"), 0u) << what << report;
      // Every side the heal reached says why the host does not hold it.
      EXPECT_EQ(Count(report, "Not healed: the host refused to write the heal back"), static_cast<size_t>(4 * n))
          << what << report;
      ExpectSceneIs(g, before, what);
    }
    // With nothing refused the same heal is written whole.
    testing::internal::CaptureStdout();
    EXPECT_EQ(UpdateAll(ctx, n), 0);
    EXPECT_EQ(Count(testing::internal::GetCapturedStdout(), "Successful healing"), static_cast<size_t>(4 * n));
    for (const SampleSeam& s : g.seams) EXPECT_LE(MeasureSeam(s).maxGap, t.healGap);
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }

  // When the host refuses to take a written surface back as well, the message and the report
  // name it as left healed; every other surface is as it was, and the status is the first refusal's. Writes 1
  // and 2 succeed, 3 is refused, and so is the restore of the first (call 4).
  SAAStubReset();
  SampleGroup g = BuildTJunctionGroup(0.01);
  HealTargets t;
  t.report = 1;
  SAA_CustomContext ctx = Context(g, t);
  ASSERT_EQ(initSeamWeld(ctx), 0);
  const auto before = Scene(g);
  SAAStubFailCall("SAA_modelSetVertices", 3, 7);
  SAAStubFailCall("SAA_modelSetVertices", 4, 9);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(UpdateAll(ctx, 3), 7);
  const std::string report = testing::internal::GetCapturedStdout();
  const std::string messages = testing::internal::GetCapturedStderr();
  for (const std::string& text : {messages, report}) {
    EXPECT_EQ(Count(text, "Surface " + SAAStubSurfaceAt(g.elements[0]).name + " is left healed"), 1u) << text;
    EXPECT_EQ(Count(text, "is left healed"), 1u) << text;
  }
  EXPECT_EQ(Count(report, "Successful healing"), 0u) << report;
  EXPECT_NE(Vertices(g.elements[0]), before[0]);
  for (int k = 1; k < 3; ++k) EXPECT_EQ(Vertices(g.elements[k]), before[k]) << k;
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

}  // namespace
