#include <algorithm>
#include <array>
#include <numeric>
#include <random>

#include "cloud/pcopy.h"
#include "cloud/psort.h"
#include "tests/cloud/tagged_cloud.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace tagged;
class Reorder : public KernelTest {};

void ExpectShowBitsWithPoints(const Cloud* c) {
  ASSERT_NE(c->isShow, nullptr);
  for (int i = 0; i < c->npts; ++i) EXPECT_EQ(Bit(c->isShow, i), IdAt(c, i) % 5 == 0) << i;
}

TEST_F(Reorder, PermutationsCarryEveryDatumAndKeepScansOnlyInsideThem) {
  std::mt19937 rng(3);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    Cloud* c = Make();
    c->strideU = 2;
    const auto triangles = TriangleIds(c);
    std::vector<int> position(kPoints);
    std::iota(position.begin(), position.end(), 0);
    const bool inside = round % 2 == 0;
    if (inside) {
      for (int s = 0; s < kScans; ++s) std::shuffle(position.begin() + s * kPlaces, position.begin() + (s + 1) * kPlaces, rng);
    } else {
      std::shuffle(position.begin(), position.end(), rng);
    }
    ASSERT_EQ(ReorderPointsbyIndices(c, position.data()), 1);
    for (int k = 0; k < kPoints; ++k) EXPECT_EQ(IdAt(c, position[k]), k);
    ExpectDataWithPoints(c, false);
    ExpectShowBitsWithPoints(c);
    EXPECT_EQ(TriangleIds(c), triangles);
    EXPECT_EQ(c->slice, nullptr);
    EXPECT_TRUE(c->strideU == 1 && c->strideV == 2);  // the strides exchange
    if (inside) {
      EXPECT_EQ(c->type, 13);
      ASSERT_EQ(c->nscans, kScans);
      ASSERT_NE(c->rowNumber, nullptr);  // row numbers travel with their points
      ExpectScansCoverPoints(c);
    } else {
      EXPECT_EQ(c->type, 0);
      EXPECT_EQ(c->scanStart, nullptr);
      EXPECT_EQ(c->rowNumber, nullptr);
    }
    // A second permutation on the now unordered (or still ordered) cloud moves row numbers too.
    std::vector<int> back(kPoints);
    for (int k = 0; k < kPoints; ++k) back[position[k]] = k;
    ASSERT_EQ(ReorderPointsbyIndices(c, back.data()), 1);
    ExpectDataWithPoints(c, true);
    FreeCloud(c);
  }
  // No permutation: refused, nothing changed.
  Cloud* c = Make();
  std::vector<int> bad(kPoints, 0);
  EXPECT_EQ(ReorderPointsbyIndices(c, bad.data()), 0);
  ExpectDataWithPoints(c, true);
  EXPECT_EQ(c->nscans, kScans);
  // Rotation: the chosen point comes first, the cyclic order stays.
  RearrangeCloudByStart(c, 10);
  ExpectDataWithPoints(c, false);
  for (int i = 0; i < kPoints; ++i) EXPECT_EQ(IdAt(c, i), (i + 10) % kPoints);
  FreeCloud(c);
}

TEST_F(Reorder, DataThatCannotBeMovedIsDroppedNotFailed) {
  for (long skip = 0; skip < 60; ++skip) {
    Cloud* c = Make();
    std::vector<int> position(kPoints);
    for (int k = 0; k < kPoints; ++k) position[k] = kPoints - 1 - k;
    MallocFailAfter(skip, -1);
    const int r = ReorderPointsbyIndices(c, position.data());
    MallocFailClear();
    ClearKernelError();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (r == 0) {
      ExpectDataWithPoints(c, true);  // untouched
    } else {
      ExpectDataWithPoints(c, false);  // what survived is with its point
      if (!c->isShow) { EXPECT_TRUE(c->strideU == 1 && c->strideV == 1); }
      if (!c->colour[0]) { EXPECT_TRUE(!c->colour[1] && !c->colour[2] && c->colourFlag == 0) << skip << " " << (c->colour[1] != nullptr) << int(c->colourFlag); }
    }
    FreeCloud(c);
  }
  // Row numbers of an unordered cloud move with their points too.
  {
    const float x[4] = {0, 1, 2, 3};
    Cloud* u = MakeCld(x, x, x, 4, nullptr);
    u->rowNumber = MallocArray<int16_t>(4);
    for (int i = 0; i < 4; ++i) u->rowNumber[i] = int16_t(10 * i);
    const int position[4] = {2, 0, 3, 1};
    ASSERT_EQ(ReorderPointsbyIndices(u, position), 1);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(u->rowNumber[position[i]], 10 * i);
    FreeCloud(u);
  }
  // The typed arrays alone.
  Cloud* c = Make();
  std::vector<int> position(kPoints);
  for (int k = 0; k < kPoints; ++k) position[k] = (k + 5) % kPoints;
  ASSERT_EQ(SortCldFarraysByIndices(c, position.data()), 1);
  for (int k = 0; k < kPoints; ++k) EXPECT_EQ(c->farrays.arrays[4][position[k]], float(10 * k + 4));
  FreeCloud(c);
}

TEST_F(Reorder, TransposeTwiceRestores) {
  // A grid of 2 rows and 3 columns: point (s, j) of the transpose was (j, s).
  const float h[6] = {0, 1, 2, 10, 11, 12};
  Cloud* g = MakeGridCld(5, 7, 0.5, 2, 3, 2, 0, 1, h, nullptr);
  const Cloud original = *g;
  const std::vector<float> x0(g->x, g->x + 6), y0(g->y, g->y + 6), z0(g->z, g->z + 6);
  std::vector<int> position(6);
  ASSERT_EQ(TransposeCloud(g, position.data()), 1);
  EXPECT_EQ(g->type, 17);
  ASSERT_EQ(g->nscans, 3);
  EXPECT_EQ(g->ptsPerRow, 2);
  for (int s = 0; s < 3; ++s)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(g->z[s * 2 + j], h[j * 3 + s]);
  EXPECT_TRUE(g->grid.rowAxis == 0 && g->grid.colAxis == 1 && g->grid.heightAxis[2] == 1);
  EXPECT_TRUE(g->grid.rowStep == 0.5 && g->grid.colStep == 2 && g->grid.rowOrigin == 5);
  ASSERT_EQ(TransposeCloud(g, position.data()), 1);
  EXPECT_TRUE(std::equal(x0.begin(), x0.end(), g->x) && std::equal(y0.begin(), y0.end(), g->y) &&
              std::equal(z0.begin(), z0.end(), g->z));
  EXPECT_TRUE(g->grid.rowStep == original.grid.rowStep && g->grid.colOrigin == original.grid.colOrigin);
  EXPECT_EQ(g->nscans, 2);
  FreeCloud(g);

  // A scan cloud whose row numbers give each point's place: its rows become scans and back.
  Cloud* c = Make();
  for (int id = 0; id < kPoints; ++id) c->rowNumber[id] = int16_t(id % kPlaces);
  std::vector<int> pos(kPoints);
  ASSERT_EQ(TransposeCloud(c, pos.data()), 1);
  ASSERT_EQ(c->nscans, kPlaces);
  EXPECT_EQ(c->ptsPerRow, kScans);
  for (int i = 0; i < kPoints; ++i) {
    EXPECT_EQ(IdAt(c, i), (i % kScans) * kPlaces + i / kScans);
    EXPECT_EQ(c->rowNumber[i], i % kScans);  // the old scan
    EXPECT_EQ(c->nx[i], float(IdAt(c, i)));
  }
  ASSERT_EQ(TransposeCloud(c, pos.data()), 1);
  for (int i = 0; i < kPoints; ++i) EXPECT_EQ(IdAt(c, i), i);
  for (int i = 0; i < kPoints; ++i) EXPECT_EQ(c->rowNumber[i], i % kPlaces);
  EXPECT_EQ(c->nscans, kScans);
  FreeCloud(c);
  float p[3] = {0, 1, 2};
  Cloud* plain = MakeCld(p, p, p, 3, nullptr);
  EXPECT_EQ(TransposeCloud(plain, pos.data()), 0);  // neither gridded nor row-numbered
  FreeCloud(plain);
}

// Parallel scans y = const, acquired in shuffled order and alternately back and forth.
Cloud* ShuffledScans(int nscans, int places, std::mt19937& rng, std::vector<int>* lineOfScan) {
  std::vector<int> lines(nscans);
  std::iota(lines.begin(), lines.end(), 0);
  std::shuffle(lines.begin(), lines.end(), rng);
  std::vector<float> x, y, z;
  std::vector<int> start, end;
  for (int s = 0; s < nscans; ++s) {
    start.push_back(int(x.size()));
    for (int j = 0; j < places; ++j) {
      x.push_back(float(s % 2 ? places - 1 - j : j) + 0.01f * lines[s]);
      y.push_back(float(lines[s]));
      z.push_back(0.1f * j * j);
    }
    end.push_back(int(x.size()) - 1);
  }
  *lineOfScan = lines;
  return MakeScanCld(x.data(), y.data(), z.data(), int(x.size()), start.data(), end.data(), nscans, nullptr);
}

TEST_F(Reorder, OrderCloudScansGivesSpatialOrderAndOneOrientation) {
  std::mt19937 rng(9);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    const int nscans = 3 + round, places = 5;
    std::vector<int> line;
    Cloud* c = ShuffledScans(nscans, places, rng, &line);
    c->reliability = MallocArray<uint8_t>(c->npts);
    for (int i = 0; i < c->npts; ++i) c->reliability[i] = uint8_t(c->y[i] * 10 + c->z[i] * 10);
    std::vector<int> order(nscans);
    std::vector<char> reversed(nscans);
    ASSERT_EQ(OrderCloudScans(c, order.data(), reversed.data()), 1);
    ASSERT_EQ(c->nscans, nscans);
    const int dir = c->y[c->scanStart[1]] > c->y[0] ? 1 : -1;
    const int run = c->x[1] > c->x[0] ? 1 : -1;
    for (int s = 0; s < nscans; ++s) {
      EXPECT_EQ(c->scanEnd[s] - c->scanStart[s] + 1, places);
      if (s > 0) { EXPECT_EQ(c->y[c->scanStart[s]] - c->y[c->scanStart[s - 1]], float(dir)); }
      for (int i = c->scanStart[s] + 1; i <= c->scanEnd[s]; ++i) EXPECT_EQ(c->x[i] > c->x[i - 1] ? 1 : -1, run);
      EXPECT_EQ(line[order[s]], int(c->y[c->scanStart[s]]));
    }
    for (int i = 0; i < c->npts; ++i) EXPECT_EQ(c->reliability[i], uint8_t(c->y[i] * 10 + c->z[i] * 10));
    // Once ordered, ordering again changes nothing.
    const std::vector<float> x(c->x, c->x + c->npts);
    ASSERT_EQ(OrderCloudScans(c, order.data(), reversed.data()), 1);
    for (int s = 0; s < nscans; ++s) EXPECT_TRUE(order[s] == s && !reversed[s]);
    EXPECT_TRUE(std::equal(x.begin(), x.end(), c->x));
    FreeCloud(c);
  }
}

}  // namespace
