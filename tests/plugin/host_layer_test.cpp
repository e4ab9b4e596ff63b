// The host layer on its own: conversion of host surfaces, the checks of host data, the report,
// the entry points' bookkeeping and the handling of failing host calls.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "tests/plugin/plugin_fixture.h"

namespace {

SAAStubSurface CubicPatch(const std::string& name, int cu = 4, int cv = 4) {
  SAAStubSurface s;
  s.name = name;
  s.countU = cu;
  s.countV = cv;
  s.knotsU.assign(cu + 2, 0.0);  // host form: degree copies of each end knot
  s.knotsV.assign(cv + 2, 0.0);
  for (int i = 0; i < cu + 2; ++i) s.knotsU[i] = std::clamp(double(i - 2) / (cu - 3), 0.0, 1.0);
  for (int i = 0; i < cv + 2; ++i) s.knotsV[i] = std::clamp(double(i - 2) / (cv - 3), 0.0, 1.0);
  for (int j = 0; j < cv; ++j)
    for (int i = 0; i < cu; ++i) s.vertices.insert(s.vertices.end(), {double(i), double(j), 0.1 * i * j, 1.0});
  return s;
}

class HostLayer : public PluginTest {};

TEST_F(HostLayer, ConversionWidensKnotsAndRoundTripsThroughTheMatrix) {
  SAAStubSurface host = CubicPatch("p");
  for (float& m : host.matrix) m = 0;
  host.matrix[0] = host.matrix[5] = host.matrix[10] = host.matrix[15] = 1;
  host.matrix[12] = 10;  // translation in the last row: row vectors
  host.matrix[13] = -2;
  host.matrix[14] = 0.5f;
  const int count = SAAStubSurfaceCount();
  int e = SAAStubAddSurface(host);
  EXPECT_EQ(SAAStubSurfaceCount(), count + 1);
  SAA_Scene scene{1, {0, 0, 0}};
  SAA_Elem elem = SAAStubElement(e);

  Bspline* b = MallocNullBspline();
  ASSERT_EQ(SAA2ZK(&scene, b, &elem, 2, 0, 0, host.matrix), 0);
  EXPECT_EQ(b->kind, 2);
  EXPECT_EQ(b->interiorU, 0);
  ASSERT_EQ(NumKnotsU(b), 8);
  EXPECT_EQ(b->knotsU[0], 0.0);
  EXPECT_EQ(b->knotsU[7], 1.0);
  EXPECT_EQ(b->umin, host.knotsU[2]);
  EXPECT_EQ(b->umax, host.knotsU[3]);
  EXPECT_DOUBLE_EQ(b->X[2][1], 1 + 10);  // row = v index, column = u index
  EXPECT_DOUBLE_EQ(b->Y[2][1], 2 - 2);
  EXPECT_NEAR(b->Z[2][1], 0.2 + 0.5, 1e-6);

  float inverse[16];
  ASSERT_EQ(SAA_matrixInvert(host.matrix, inverse), 0);
  ASSERT_EQ(ZK2SAA(&scene, b, &elem, 2, 0, inverse), 0);
  const std::vector<double>& back = SAAStubSurfaceAt(e).vertices;
  for (size_t k = 0; k < back.size(); ++k) EXPECT_NEAR(back[k], host.vertices[k], 1e-5) << k;
  EXPECT_EQ(SAAStubSurfaceCount(), count + 1);  // written back in place
  FreeBspline(b);
}

TEST_F(HostLayer, MalformedHostDataIsRefusedBeforeUse) {
  SAA_Scene scene{1, {0, 0, 0}};
  const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  auto convert = [&](const SAAStubSurface& s) {
    int e = SAAStubAddSurface(s);
    SAA_Elem elem = SAAStubElement(e);
    Bspline* b = MallocNullBspline();
    int status = SAA2ZK(&scene, b, &elem, 2, 0, 0, identity);
    FreeBspline(b);
    return status;
  };
  SAAStubSurface wrongKnotCount = CubicPatch("a");
  wrongKnotCount.knotsU.pop_back();
  SAAStubSurface decreasing = CubicPatch("b");
  decreasing.knotsV[3] = -1.0;
  SAAStubSurface degreeZero = CubicPatch("c");
  degreeZero.degreeU = 0;
  SAAStubSurface tooFewPoints = CubicPatch("d", 3, 4);
  tooFewPoints.knotsU.pop_back();
  SAAStubSurface closed = CubicPatch("e");
  closed.closedV = 1;
  SAAStubSurface notANumber = CubicPatch("f");
  notANumber.knotsU[3] = std::nan("");

  EXPECT_EQ(convert(wrongKnotCount), kSeamWeldFailure);
  EXPECT_EQ(convert(decreasing), kSeamWeldFailure);
  EXPECT_EQ(convert(degreeZero), kSeamWeldFailure);
  EXPECT_EQ(convert(tooFewPoints), kSeamWeldFailure);
  EXPECT_EQ(convert(notANumber), kSeamWeldFailure);
  testing::internal::CaptureStderr();
  EXPECT_EQ(convert(closed), kSeamWeldFailure);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Cannot manage closed surfaces\n");
  EXPECT_EQ(convert(CubicPatch("ok", 5, 4)), 0);
}

// The write-back hands the host nothing it cannot hold: a control point that is NaN, infinite
// or beyond single precision, before or after the inverse, makes the surface fail with 95 and
// nothing written.
TEST_F(HostLayer, WriteBackRefusesPointsAFloatCannotHold) {
  SAAStubSurface host = CubicPatch("p");
  const int e = SAAStubAddSurface(host);
  SAA_Scene scene{1, {0, 0, 0}};
  SAA_Elem elem = SAAStubElement(e);
  Bspline* b = MallocNullBspline();
  ASSERT_EQ(SAA2ZK(&scene, b, &elem, 2, 0, 0, host.matrix), 0);
  float tenfold[16] = {10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 10, 0, 0, 0, 0, 1};
  for (double bad : {std::nan(""), HUGE_VAL, -1e300, 1e38}) {
    const double kept = b->Y[2][1];
    b->Y[2][1] = bad;
    // 1e38 is a float; ten times it is not.
    EXPECT_EQ(ZK2SAA(&scene, b, &elem, 2, 0, bad == 1e38 ? tenfold : host.matrix), kSeamWeldFailure) << bad;
    b->Y[2][1] = kept;
  }
  EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 0);
  EXPECT_EQ(SAAStubSurfaceAt(e).vertices, host.vertices);
  EXPECT_EQ(ZK2SAA(&scene, b, &elem, 2, 0, host.matrix), 0);
  EXPECT_EQ(SAAStubCallCount("SAA_modelSetVertices"), 1);
  FreeBspline(b);
}

TEST_F(HostLayer, ReportTextsAndSideOrder) {
  char text[256];
  EXPECT_EQ(GetHealingCodeString(-6, text), 0);
  EXPECT_STREQ(text, "Healed to tangential tolerance, but not posiional tolerance");
  EXPECT_EQ(GetHealingCodeString(1, text), kSeamWeldFailure);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(GetHealingCodeString(-7, text), kSeamWeldFailure);

  int row[4] = {0, -3, -5, -7};
  int* result[1] = {row};
  char name[] = "S1";
  char* names[1] = {name};
  testing::internal::CaptureStdout();
  EXPECT_EQ(PrintHealingResult(names, 1, result), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Surface S1\n"
            "  Min_U boundary: Successful healing \n"
            "  Max_U boundary: Healed to positional tolerance, but not tangential tolerance \n"
            "  Min_V boundary: Fixed outer boundary with at least positional continuity \n"
            "  Max_V boundary:  \n" +
                std::string(55, '_') + "\n\n");
  EXPECT_EQ(PrintHealingResult(names, 0, result), kSeamWeldFailure);
}

TEST_F(HostLayer, SurfacePickedTwiceIsRefused) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAA_CustomContext ctx = Context(g, {});
  SAAStubPick(ctx, g.elements[0]);
  testing::internal::CaptureStderr();
  EXPECT_EQ(initSeamWeld(ctx), kSeamWeldFailure);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR : Cannot pick twice the same surface\n");
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

TEST_F(HostLayer, ContinuityRuleLastSetStateWins) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAA_CustomContext ctx = Context(g, {});
  SAAStubSetCustomState(ctx, "TANGENCY", 1);
  SAAStubSetCustomState(ctx, "NONE", 1);
  auto* inst = static_cast<SeamWeldInstance*>(nullptr);
  SeamWeldInstance fresh{};
  inst = &fresh;
  EXPECT_EQ(Getvalues(ctx, inst), 0);
  EXPECT_EQ(inst->continuity, kContNone);
  EXPECT_FLOAT_EQ(static_cast<float>(inst->healGap), 0.001f);

  SAAStubSetCustomState(ctx, "TANGENCY", 0);
  SAAStubSetCustomState(ctx, "NONE", 0);
  inst->continuity = kContCurvature;
  EXPECT_EQ(Getvalues(ctx, inst), 0);
  EXPECT_EQ(inst->continuity, kContCurvature);  // none set: the field keeps its value
}

TEST_F(HostLayer, FailingHostCallIsNamedAndItsStatusReturned) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAA_CustomContext ctx = Context(g, {});
  SAAStubFailCall("SAA_sceneInitInternal", 1, 42);
  testing::internal::CaptureStderr();
  EXPECT_EQ(initSeamWeld(ctx), 42);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SAAPHIRE ERROR : SAA_sceneInit\n");

  SAAStubFailCall("SAA_nurbsSurfaceGetKnots", 2, 7);  // the second surface's knots
  testing::internal::CaptureStderr();
  EXPECT_EQ(initSeamWeld(ctx), 7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SAAPHIRE ERROR : SAA_nurbsSurfaceGetKnots\n");
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

// The host's API is C: when the host runs out of memory inside a call, the call returns
// SAA_ERR_MEMORY and no exception reaches the caller. Every operation of a whole run fails so
// in turn; each entry point passes the status on (init ignores a failed custom value, as it
// ignores every failed read of them) and the run leaks nothing.
TEST_F(HostLayer, HostOutOfMemoryIsAStatusNotAnException) {
  const char* operations[] = {
      "SAA_sceneInitInternal", "SAA_sceneGetCurrent", "SAA_customContextSetInstanceData",
      "SAA_customContextGetNbResults", "SAA_customContextGetResults", "SAA_customContextGetCustomValueList",
      "SAA_cusvalGetStateValue", "SAA_cusvalGetFloatValue", "SAA_elementGetNameLength", "SAA_elementGetName",
      "SAA_modelGetDeformationMatrix", "SAA_matrixInvert", "SAA_nurbsSurfaceGetClosed", "SAA_nurbsSurfaceGetDegree",
      "SAA_nurbsSurfaceGetNbKnots", "SAA_nurbsSurfaceGetKnots", "SAA_nurbsSurfaceGetNbVertices",
      "SAA_modelGetVertices", "SAA_customContextGetInstanceData", "SAA_sceneGetPlayCtrlCurrentFrame",
      "SAA_customContextGetCurrentResultIndex", "SAA_modelSetVertices"};
  for (const char* op : operations) {
    SAAStubReset();
    SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
    SAA_CustomContext ctx = Context(g, {});
    const int initCalls = SAAStubCallCount(op);
    SAAStubFailAllocation(op, 1);
    testing::internal::CaptureStderr();
    int statuses[3] = {0, 0, 0};
    EXPECT_NO_THROW(statuses[0] = initSeamWeld(ctx)) << op;
    for (int k = 0; k < 2; ++k) {
      SAAStubSetCurrentResult(ctx, k);
      EXPECT_NO_THROW(statuses[1 + k] = updateSeamWeld(ctx)) << op;
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_GT(SAAStubCallCount(op), initCalls) << op << " is not on the run's path";
    const bool customValue = std::strstr(op, "cusval") || std::strstr(op, "CustomValue");
    const bool passedOn = std::count(statuses, statuses + 3, int{SAA_ERR_MEMORY}) > 0;
    EXPECT_TRUE(passedOn || (customValue && statuses[0] == 0)) << op;
    EXPECT_NE(messages.find("SAAPHIRE ERROR"), std::string::npos) << op;
    EXPECT_NO_THROW(cleanupSeamWeld(ctx));
  }
  // Called directly, the failing call leaves its output alone.
  SAA_CustomContext ctx = SAAStubCreateContext();
  SAAStubSetCustomFloat(ctx, "A_NAME_LONGER_THAN_SMALL_STRINGS", 2.0f);
  SAA_CustomValueList list = nullptr;
  ASSERT_EQ(SAA_customContextGetCustomValueList(ctx, &list), SAA_SUCCESS);
  float value = -1.0f;
  SAAStubFailAllocation("SAA_cusvalGetFloatValue", 1);
  EXPECT_EQ(SAA_cusvalGetFloatValue(list, "A_NAME_LONGER_THAN_SMALL_STRINGS", &value), SAA_ERR_MEMORY);
  EXPECT_EQ(value, -1.0f);
  EXPECT_EQ(SAA_cusvalGetFloatValue(list, "A_NAME_LONGER_THAN_SMALL_STRINGS", &value), SAA_SUCCESS);
  EXPECT_EQ(value, 2.0f);
}

TEST_F(HostLayer, UpdateChecksTheHostIndexAndCleanupUnregisters) {
  SampleGroup g = BuildTwoPatchGroup(0.01, 3.0);
  SAA_CustomContext ctx = Context(g, {});
  ASSERT_EQ(initSeamWeld(ctx), 0);
  testing::internal::CaptureStderr();
  SAAStubSetCurrentResult(ctx, 2);
  EXPECT_EQ(updateSeamWeld(ctx), kSeamWeldFailure);
  SAAStubSetCurrentResult(ctx, -1);
  EXPECT_EQ(updateSeamWeld(ctx), kSeamWeldFailure);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR : The host's changed pick 2 is not one of the 2 picks\n"
            "ERROR : The host's changed pick -1 is not one of the 2 picks\n");
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
  EXPECT_EQ(SAAStubInstanceData(ctx), nullptr);
  SAAStubSetCurrentResult(ctx, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(updateSeamWeld(ctx), kSeamWeldFailure);
  EXPECT_EQ(editSeamWeld(ctx), kSeamWeldFailure);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 2) << messages;
  EXPECT_EQ(messages.rfind("ERROR : No SeamWeld instance", 0), 0u) << messages;
  EXPECT_EQ(cleanupSeamWeld(ctx), 0);
}

}  // namespace
