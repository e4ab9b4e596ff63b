// Drives the plug-in's entry points through the stand-in host, as the host would.
#pragma once

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "healing/plugin/seamweld5.h"
#include "platform/host/sample_groups.h"
#include "platform/saa_control.h"
#include "tests/support/kernel_fixture.h"

// Whether sample i of a seam measured with n samples lies between a tenth and nine tenths of its
// length: a seam is judged there along its length, apart from its jittered corners.
inline bool InsideSeam(int i, int n) {
  const double f = double(i) / (n - 1);
  return f >= 0.1 - 1e-9 && f <= 0.9 + 1e-9;
}

// The largest angle between a tenth and nine tenths of a seam, degrees. A seam beyond MAXANGLE
// there is a crease; one beyond it only nearer its ends is smooth, kinked by a jittered corner.
inline double LargestAngleInside(const SeamMeasure& m) {
  double a = 0.0;
  const int n = static_cast<int>(m.angles.size());
  for (int i = 0; i < n; ++i)
    if (InsideSeam(i, n)) a = std::max(a, m.angles[i]);
  return a;
}

// How often `what` occurs in a report or a message text.
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Codes by element and side (1 u-min, 2 v-min, 3 u-max, 4 v-max) read back from the report.
inline std::map<std::pair<int, int>, std::string> ParseReport(const std::string& report, const SampleGroup& g) {
  std::map<std::string, int> byName;
  for (int e : g.elements) byName[SAAStubSurfaceAt(e).name] = e;
  const std::map<std::string, int> sides = {{"Min_U", 1}, {"Min_V", 2}, {"Max_U", 3}, {"Max_V", 4}};
  std::map<std::pair<int, int>, std::string> out;
  std::istringstream in(report);
  std::string line;
  int element = -1;
  while (std::getline(in, line)) {
    if (line.rfind("Surface ", 0) == 0) {
      element = byName.count(line.substr(8)) ? byName[line.substr(8)] : -1;
      continue;
    }
    const size_t colon = line.find(" boundary: ");
    if (element < 0 || colon == std::string::npos || line.size() < 7) continue;
    const std::string label = line.substr(2, 5);
    if (!sides.count(label)) continue;
    std::string text = line.substr(colon + 11);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out[{element, sides.at(label)}] = text;
  }
  return out;
}

struct HealTargets {
  float maxGap = 0.05f, maxAngle = 5.0f, healGap = 0.001f, healAngle = 0.5f;
  const char* continuity = "NONE";  // POSITION, TANGENCY, CURVATURE or NONE
  short report = 0;
};

class PluginTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SAAStubReset();
  }
  void TearDown() override {
    SAAStubReset();
    KernelTest::TearDown();
  }

  SAA_CustomContext Context(const SampleGroup& g, const HealTargets& t) {
    SAA_CustomContext ctx = SAAStubCreateContext();
    for (int e : g.elements) SAAStubPick(ctx, e);
    SAAStubSetCustomState(ctx, "DUMP", t.report);
    SAAStubSetCustomFloat(ctx, "MAXGAP", t.maxGap);
    SAAStubSetCustomFloat(ctx, "MAXANGLE", t.maxAngle);
    SAAStubSetCustomFloat(ctx, "HEALGAP", t.healGap);
    SAAStubSetCustomFloat(ctx, "HEALANGLE", t.healAngle);
    for (const char* name : {"POSITION", "TANGENCY", "CURVATURE", "NONE"})
      SAAStubSetCustomState(ctx, name, std::string(name) == t.continuity ? 1 : 0);
    return ctx;
  }

  // The dialog's items set to the targets, as the user would before pressing OK.
  static void SetDialog(SAA_CustomContext ctx, const HealTargets& t) {
    SAAStubSetDialogState(ctx, kItemReport, t.report);
    SAAStubSetDialogFloat(ctx, kItemMaxGap, t.maxGap);
    SAAStubSetDialogFloat(ctx, kItemMaxAngle, t.maxAngle);
    SAAStubSetDialogFloat(ctx, kItemHealGap, t.healGap);
    SAAStubSetDialogFloat(ctx, kItemHealAngle, t.healAngle);
    const int items[4] = {kItemPosition, kItemTangency, kItemCurvature, kItemNone};
    const char* names[4] = {"POSITION", "TANGENCY", "CURVATURE", "NONE"};
    for (int i = 0; i < 4; ++i) SAAStubSetDialogState(ctx, items[i], std::string(names[i]) == t.continuity ? 1 : 0);
  }

  // n updates, one per pick: the last one heals. Returns the status of the last update.
  int UpdateAll(SAA_CustomContext ctx, int n) {
    int status = 0;
    for (int k = 0; k < n; ++k) {
      SAAStubSetCurrentResult(ctx, k);
      status = updateSeamWeld(ctx);
    }
    return status;
  }

  static std::vector<double> Vertices(int element) { return SAAStubSurfaceAt(element).vertices; }
};
