// Scan lines found in a point sequence, clouds broken at gaps, and the bin grids of clouds.
#include <cmath>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/psubdiv.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class ScanDetection : public KernelTest {};

using Pairs = std::vector<std::pair<int, int>>;

Pairs Scans(const Cloud* c) {
  std::vector<int> raw(2 * (c->npts / 5 + 1));
  int count = -1;
  EXPECT_EQ(FindCloudScans(c, raw.data(), &count), 0);
  Pairs out;
  for (int s = 0; s < count; ++s) out.emplace_back(raw[2 * s], raw[2 * s + 1]);
  return out;
}

// legs straight legs of 8 steps between corners that alternate between x = 0 and x = 7, rising
// by rise per leg: every corner turns the path by more than 170 degrees. 8 legs + 1 points,
// corner k at index 8 k. Scaled by s and moved by (dx, dx, dx).
Owned<Cloud, FreeCloud> ZigZag(int legs, double s, double dx, int repeatAt = -1) {
  std::vector<float> x, y, z;
  auto put = [&](double px, double py) {
    x.push_back(float(s * px + dx)), y.push_back(float(s * py + dx)), z.push_back(float(dx));
  };
  for (int k = 0; k < legs; ++k) {
    const double x0 = k % 2 ? 7 : 0, x1 = k % 2 ? 0 : 7;
    for (int j = 0; j < 8; ++j) {
      put(x0 + (x1 - x0) * j / 8.0, 0.5 * k + 0.5 * j / 8.0);
      if (int(x.size()) - 1 == repeatAt) put(x0 + (x1 - x0) * j / 8.0, 0.5 * k + 0.5 * j / 8.0);
    }
  }
  put(legs % 2 ? 7 : 0, 0.5 * legs);
  return Owned<Cloud, FreeCloud>(MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr));
}

TEST_F(ScanDetection, ZigZagLegsAreScansAtEveryScale) {
  for (double s : {1e-3, 1.0, 1e4}) {
    SCOPED_TRACE(s);
    auto c = ZigZag(5, s, 3 * s);
    // The corner closes the leg that ends there; the next scan starts after it.
    EXPECT_EQ(Scans(c.get()), (Pairs{{0, 8}, {9, 16}, {17, 24}, {25, 32}, {33, 40}}));
    for (int seed : {3, 8 * 2 + 5, 40}) {
      int first = -1, last = -1;
      ExtractTheScan(c.get(), seed, &first, &last);
      // From corner to corner, both included.
      const int leg = seed == 40 ? 4 : seed / 8;
      EXPECT_EQ(first, 8 * leg) << seed;
      EXPECT_EQ(last, 8 * leg + 8) << seed;
    }
  }
  // A repeated point inside a leg moves nothing but the numbering after it.
  auto repeated = ZigZag(3, 1.0, 0.0, 12);
  EXPECT_EQ(Scans(repeated.get()), (Pairs{{0, 8}, {9, 17}, {18, 25}}));
  // A seed outside the cloud reads and writes nothing.
  int first = -7, last = -7;
  ExtractTheScan(repeated.get(), 26, &first, &last);
  ExtractTheScan(repeated.get(), -1, &first, &last);
  EXPECT_EQ(first, -7);
  EXPECT_EQ(last, -7);
}

TEST_F(ScanDetection, StraightRunsGlitchesAndShortCloudsMakeOneScan) {
  // A gently curving arc (every turn about 5 degrees) is one scan.
  std::vector<float> x, y, z;
  for (int i = 0; i < 30; ++i) x.push_back(float(std::cos(i * 0.087))), y.push_back(float(std::sin(i * 0.087))), z.push_back(0);
  Owned<Cloud, FreeCloud> arc(MakeCld(x.data(), y.data(), z.data(), 30, nullptr));
  EXPECT_EQ(Scans(arc.get()), (Pairs{{0, 29}}));
  // Glitches that step back on a straight run cut it; a scan cut off at the second glitch runs
  // on from the first one in one direction and merges with it (the tail after the last cut is
  // appended as it is).
  x.clear(), y.clear(), z.clear();
  for (int i = 0; i < 30; ++i) {
    if (i == 10 || i == 20) x.push_back(i - 1.5f), y.push_back(0.01f), z.push_back(0);
    x.push_back(float(i)), y.push_back(0), z.push_back(0);
  }
  Owned<Cloud, FreeCloud> glitch(MakeCld(x.data(), y.data(), z.data(), 32, nullptr));
  EXPECT_EQ(Scans(glitch.get()), (Pairs{{0, 20}, {21, 31}}));
  // Five points are one scan whatever their shape; an ordered cloud gives its own scans.
  Owned<Cloud, FreeCloud> few(MakeCld(x.data(), y.data(), z.data(), 5, nullptr));
  EXPECT_EQ(Scans(few.get()), (Pairs{{0, 4}}));
  Owned<Cloud, FreeCloud> tagged(tagged::Make());
  EXPECT_EQ(Scans(tagged.get()).size(), size_t(tagged::kScans));
}

TEST_F(ScanDetection, BrokenPiecesCarryNormalsAndLabels) {
  Owned<Cloud, FreeCloud> c(tagged::Make());  // consecutive points 1 apart, sqrt(37) across scans
  int count = 0;
  Cloud** pieces = nullptr;
  Bbox* boxes = nullptr;
  ASSERT_EQ(BreakCloud(c.get(), 1.0, &count, &pieces, &boxes), 1);  // a step of exactly 1 joins
  ASSERT_EQ(count, tagged::kScans);
  for (int s = 0; s < count; ++s) {
    Cloud* p = pieces[s];
    ASSERT_EQ(p->npts, tagged::kPlaces);
    EXPECT_EQ(boxes[s][0], double(s));
    EXPECT_EQ(boxes[s][4], double(tagged::kPlaces - 1));
    for (int k = 0; k < p->npts; ++k) {
      const int id = s * tagged::kPlaces + k;
      EXPECT_EQ(p->nx[k], float(id));
      EXPECT_EQ(p->labels[k] ? std::string(p->labels[k]) : "", id % 3 ? tagged::Label(id) : "");
      EXPECT_EQ(tagged::Bit(p->labelIsShow, k), bool(id % 2));
    }
    EXPECT_FALSE(p->reliability);  // other data stays behind
    FreeCloud(p);
  }
  Free(pieces);
  Free(boxes);
  // A negative gap makes every point a piece; only the count asked for.
  ASSERT_EQ(BreakCloud(c.get(), -1.0, &count, nullptr, nullptr), 1);
  EXPECT_EQ(count, tagged::kPoints);
  // Out of memory at any step: nothing handed out, nothing left.
  const int failures = RunWithInjectedFailures(400, 7, [&] {
    int n = -1;
    Cloud** made = nullptr;
    Bbox* madeBoxes = nullptr;
    if (BreakCloud(c.get(), 0.5, &n, &made, &madeBoxes) == 1) {
      for (int k = 0; k < n; ++k) FreeCloud(made[k]);
      Free(made);
      Free(madeBoxes);
      return 0;
    }
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(made);
    EXPECT_FALSE(madeBoxes);
    return 1;
  });
  EXPECT_GT(failures, 0);
}

TEST_F(ScanDetection, CloudGridsBinByTheirRulesInTheCallersScope) {
  // Points on a line along x; the box spans 0..10 on x.
  std::vector<float> x = {0, 2.3f, 2.6f, 4.9f, 10}, y(5, 0.0f), z(5, 0.0f);
  Owned<Cloud, FreeCloud> c(MakeCld(x.data(), y.data(), z.data(), 5, nullptr));
  const Bbox box = {0, 0, 0, 10, 0, 0};
  ASSERT_EQ(BeginTrackingMallocs(), 0);
  // len 1: 5 cells of 2 along x. Point 2.3 lies at 0.15 of cell 1: within the outer quarter and
  // the nearer half; 2.6 lies at 0.3: only within the nearer half.
  Subdiv* quarter = CloudSubdivide3DCore(c.get(), 1.0, box);
  Subdiv* half = CloudSubdivide3DTooCore(c.get(), 1.0, box);
  ASSERT_TRUE(quarter && half);
  ASSERT_EQ(quarter->ncellsX, 5);
  auto holds = [](const Subdiv* g, int cell, int point) {
    for (int k = 0; k < g->cells[cell].count; ++k)
      if (g->cells[cell].items[k] == point) return true;
    return false;
  };
  EXPECT_TRUE(holds(quarter, 0, 1) && holds(half, 0, 1));
  EXPECT_FALSE(holds(quarter, 0, 2));
  EXPECT_TRUE(holds(half, 0, 2));
  // Requested cells: 6 centres from 0 to 10, so cells of 2 from -1 to 11.
  Subdiv* asked = CloudSubdivideRequestCore(c.get(), 6, 1, 1, box);
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->ncellsX, 6);
  EXPECT_DOUBLE_EQ(asked->sizeX, 2.0);
  EXPECT_DOUBLE_EQ(asked->minX, -1.0);
  EXPECT_DOUBLE_EQ(asked->maxX, 11.0);
  EXPECT_TRUE(holds(asked, 5, 4));
  EXPECT_TRUE(holds(asked, 2, 3) && holds(asked, 3, 3));  // 4.9 is in the upper quarter of cell 2
  EXPECT_GT(MallocTrackedCount(), 0);
  // The grids live in this scope: freeing it frees them (a leak would fail the run).
  FreeTrackedMallocs();
  EXPECT_EQ(MallocTrackLevel(), 0);
  EXPECT_FALSE(CloudSubdivide3DCore(nullptr, 1.0, box));
}

}  // namespace
