// The custom values as a host's effect may define them: switches it leaves out are off, a
// tolerance it leaves out (or defines as a switch) refuses the run with a message naming it, and
// after any failed init every entry point still answers 0, 95 or a host status.
#include <string>

#include "tests/plugin/plugin_fixture.h"

namespace {

class CustomValues : public PluginTest {
 protected:
  // A context whose effect defines only the named switches (set) and the tolerances of `t`
  // except `leftOut`; `asSwitch` defines `leftOut` as a switch instead.
  SAA_CustomContext Partial(const SampleGroup& g, const HealTargets& t, const std::vector<std::string>& switches,
                            const std::string& leftOut = "", bool asSwitch = false) {
    SAA_CustomContext ctx = SAAStubCreateContext();
    for (int e : g.elements) SAAStubPick(ctx, e);
    for (const std::string& name : switches) SAAStubSetCustomState(ctx, name, 1);
    const struct {
      const char* name;
      float value;
    } floats[4] = {{"MAXGAP", t.maxGap}, {"MAXANGLE", t.maxAngle}, {"HEALGAP", t.healGap}, {"HEALANGLE", t.healAngle}};
    for (const auto& f : floats) {
      if (leftOut == f.name) {
        if (asSwitch) SAAStubSetCustomState(ctx, f.name, 1);
        continue;
      }
      SAAStubSetCustomFloat(ctx, f.name, f.value);
    }
    return ctx;
  }
  static int Continuity(SAA_CustomContext ctx) {
    return static_cast<SeamWeldInstance*>(SAAStubInstanceData(ctx))->continuity;
  }
};

// Only NONE defined (and set): the outer boundary is free; no switch at all: POSITION, the
// fresh instance's continuity; DUMP left out: no report. Each group then heals its seam.
TEST_F(CustomValues, SwitchesLeftOutAreOff) {
  const struct {
    std::vector<std::string> switches;
    int continuity;
  } cases[] = {{{"NONE"}, kContNone}, {{}, kContPosition}, {{"TANGENCY"}, kContTangency}};
  for (const auto& c : cases) {
    SAAStubReset();
    SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
    HealTargets t;
    SAA_CustomContext ctx = Partial(g, t, c.switches);
    testing::internal::CaptureStdout();
    ASSERT_EQ(initSeamWeld(ctx), 0) << Messages();
    EXPECT_EQ(Continuity(ctx), c.continuity);
    EXPECT_EQ(UpdateAll(ctx, 2), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // DUMP is off
    EXPECT_LE(MeasureSeam(g.seams[0]).maxGap, t.healGap);
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
}

// A tolerance the effect does not define, or defines as a switch: init refuses with 95 and one
// message naming the value (not the host call), and the heal that follows refuses as well and
// writes nothing.
TEST_F(CustomValues, ToleranceLeftOutOrMistypedIsRefusedByName) {
  for (const char* name : {"MAXGAP", "MAXANGLE", "HEALGAP", "HEALANGLE"})
    for (bool asSwitch : {false, true}) {
      SAAStubReset();
      SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
      const std::vector<double> before = Vertices(g.elements[0]);
      SAA_CustomContext ctx = Partial(g, HealTargets{}, {"NONE"}, name, asSwitch);
      testing::internal::CaptureStderr();
      EXPECT_EQ(initSeamWeld(ctx), kSeamWeldFailure) << name;
      const std::string message = testing::internal::GetCapturedStderr();
      EXPECT_NE(message.find(std::string("\"") + name + "\""), std::string::npos) << message;
      EXPECT_EQ(message.find("SAAPHIRE"), std::string::npos) << message;
      testing::internal::CaptureStderr();
      EXPECT_EQ(UpdateAll(ctx, 2), kSeamWeldFailure) << name;
      testing::internal::GetCapturedStderr();
      EXPECT_EQ(Vertices(g.elements[0]), before) << name;
      EXPECT_EQ(cleanupSeamWeld(ctx), 0);
    }
}

// Init fails in several ways (a surface picked twice, a MAXGAP the group refuses, the host's
// custom value list failing), or succeeds and another context's cleanup drops the stored
// topology it built; edit, the dialog's OK, update and cleanup afterwards answer only
// 0, 95 or the host's status, never a kernel status.
TEST_F(CustomValues, EveryEntryPointAnswersTheHostsStatusesAfterAFailedInit) {
  const auto hostOrOurs = [](int s) { return s == 0 || s == kSeamWeldFailure || (s >= 1 && s <= 5); };
  for (int failure = 0; failure < 4; ++failure) {
    SAAStubReset();
    SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
    HealTargets t;
    if (failure == 1) t.maxGap = 1e3f;  // beyond a quarter of the shortest boundary
    SAA_CustomContext ctx = Context(g, t);
    if (failure == 0) SAAStubPick(ctx, g.elements[0]);
    if (failure == 2) SAAStubFailCall("SAA_customContextGetCustomValueList", 1, SAA_ERR_MEMORY);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    if (failure == 3) {
      ASSERT_EQ(initSeamWeld(ctx), 0);
      SAA_CustomContext other = SAAStubCreateContext();
      EXPECT_EQ(cleanupSeamWeld(other), 0);
    } else {
      EXPECT_NE(initSeamWeld(ctx), 0) << failure;
    }
    const int n = failure == 0 ? 3 : 2;
    const int update = UpdateAll(ctx, n);
    EXPECT_TRUE(hostOrOurs(update)) << failure << ": " << update;
    EXPECT_NE(update, 0) << failure;
    const int edit = editSeamWeld(ctx);
    EXPECT_TRUE(hostOrOurs(edit)) << failure << ": " << edit;
    SetDialog(ctx, HealTargets{});
    const int ok = SAAStubPressOK(ctx);
    EXPECT_TRUE(ok == -1 || hostOrOurs(ok)) << failure << ": " << ok;  // -1: the stand-in has no callback
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
}

// After a refused init, as docs/host.md says: the first update returns 0 and the n-th refuses
// with 95 and the init's one line; without picks every update says so; edit registers the OK;
// a refused OK prints one line; nothing is written.
TEST_F(CustomValues, EntryPointsAfterARefusedInitAnswerAsTheGuideSays) {
  for (const bool picked : {true, false}) {
    SAAStubReset();
    SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
    HealTargets bad;
    bad.healGap = -1.0f;
    SAA_CustomContext ctx = picked ? Context(g, bad) : SAAStubCreateContext();
    if (!picked) SAAStubSetCustomFloat(ctx, "MAXGAP", 0.05f);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(initSeamWeld(ctx), kSeamWeldFailure);
    const std::string refusal = testing::internal::GetCapturedStderr();
    EXPECT_EQ(refusal, picked ? "ERROR : HEALGAP -1 cannot be used: it must be a finite number above 0\n"
                              : "ERROR : No surface picked\n");
    testing::internal::CaptureStderr();
    SAAStubSetCurrentResult(ctx, 0);
    EXPECT_EQ(updateSeamWeld(ctx), picked ? 0 : kSeamWeldFailure) << picked;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), picked ? "" : refusal);
    testing::internal::CaptureStderr();
    SAAStubSetCurrentResult(ctx, 1);
    EXPECT_EQ(updateSeamWeld(ctx), kSeamWeldFailure) << picked;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), refusal);
    EXPECT_EQ(editSeamWeld(ctx), 0);
    SetDialog(ctx, bad);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SAAStubPressOK(ctx), kSeamWeldFailure);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR : HEALGAP -1 cannot be used: it must be a finite number above 0\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 0);
    EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  }
}

}  // namespace
