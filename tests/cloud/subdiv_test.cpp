#include "cloud/psubdiv.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BinGrid : public KernelTest {
 protected:
  Subdiv* Build(double len, int maxDiv) {
    return SubdivideArrays(x.data(), y.data(), z.data(), int(x.size()), box[0], box[1], box[2], box[3], box[4],
                           box[5], len, maxDiv);
  }
  int Cells(const Subdiv* g) const { return g->ncellsX * g->ncellsY * g->ncellsZ; }
  std::vector<float> x, y, z;
  double box[6] = {0, 0, 0, 0, 0, 0};
};

TEST_F(BinGrid, EveryNeighbourWithinLenIsInThePointsOwnCellAndFailuresLeakNothing) {
  const int n = 600;
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  x.resize(n), y.resize(n), z.resize(n);
  for (int i = 0; i < n; ++i) x[i] = 10 * u(rng), y[i] = 6 * u(rng), z[i] = 3 * u(rng);
  // A point on the upper face is held to the last cell rather than indexing past the grid.
  x[0] = box[3] = 10, y[0] = box[4] = 6, z[0] = box[5] = 3;
  const double len = 0.7;
  const long start = MallocRuntimeRequests();
  FreeSubdiv(Build(len, 96));
  const long requests = MallocRuntimeRequests() - start;
  const int failures = RunWithInjectedFailures(requests, 7, [&] {
    Subdiv* g = Build(len, 96);
    FreeSubdiv(g);
    return g || !KernelFailedNow() ? 0 : -2;
  });
  EXPECT_EQ(failures, (requests + 6) / 7);  // no memory: null and a failure, nothing leaked
  StubBreakAfterPolls(3);
  EXPECT_EQ(Build(len, 96), nullptr);
  EXPECT_FALSE(KernelFailedNow());  // a user break is no failure
  StubSetUserBreak(0);
  StubBreakAfterPolls(0);
  Subdiv* g = Build(len, 96);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->ownCell[0], Cells(g) - 1);
  EXPECT_TRUE((g->ncellsX == 1 || g->sizeX >= 2 * len) && (g->ncellsY == 1 || g->sizeY >= 2 * len));
  std::vector<int> ownCount(n, 0), cellCount(n, 0);
  for (int c = 0; c < Cells(g); ++c) {
    const SubdivCell& cell = g->cells[c];
    EXPECT_TRUE(std::is_sorted(cell.items, cell.items + cell.count));
    for (int k = 0; k < cell.count; ++k) {
      ++cellCount[cell.items[k]];
      ownCount[cell.items[k]] += cell.isOwn[k] ? 1 : 0;
      EXPECT_TRUE(!cell.isOwn[k] || g->ownCell[cell.items[k]] == c);
    }
  }
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(ownCount[i] == 1 && cellCount[i] <= 8) << i;
    const SubdivCell& own = g->cells[g->ownCell[i]];
    for (int j = 0; j < n; ++j) {
      const double dx = x[i] - x[j], dy = y[i] - y[j], dz = z[i] - z[j];
      if (dx * dx + dy * dy + dz * dz > len * len) continue;
      EXPECT_TRUE(std::find(own.items, own.items + own.count, j) != own.items + own.count) << j << " near " << i;
    }
  }
  // A segment goes into the non-empty cells of the box of its ends' cells grown by one.
  const int nxy = g->ncellsX * g->ncellsY;
  std::vector<int> before(Cells(g));
  for (int c = 0; c < Cells(g); ++c) before[c] = g->cells[c].count;
  ASSERT_EQ(AddLineTo3DSubdivToo(g, 1, 2, n + 7), 1);
  auto column = [&](int c, int k) { return k == 2 ? c / nxy : k == 1 ? c % nxy / g->ncellsX : c % g->ncellsX; };
  for (int c = 0; c < Cells(g); ++c) {
    bool added = before[c] > 0;
    for (int axis = 0; axis < 3; ++axis) {
      const int a = column(g->ownCell[1], axis), b = column(g->ownCell[2], axis), col = column(c, axis);
      added = added && col >= std::min(a, b) - 1 && col <= std::max(a, b) + 1;
    }
    EXPECT_TRUE(g->cells[c].count == before[c] + added && (!added || g->cells[c].items[before[c]] == n + 7)) << c;
  }
  MallocFailAfter(0, -1);  // a segment that cannot grow a cell leaves a grid that frees cleanly
  int ok = 1;
  for (int i = 0; i + 1 < n && ok; ++i) ok = AddLineTo3DSubdivToo(g, i, i + 1, 1000 + i);
  MallocFailClear();
  EXPECT_EQ(ok, 0);
  ClearKernelError();
  FreeSubdiv(g);
  g = Build(1.0, 0);  // no divisions allowed
  EXPECT_EQ(Cells(g), 1);
  FreeSubdiv(g);
  // All points equal: a box of zero extent is one cell holding every point as its own.
  x.assign(5, 1.0f), y.assign(5, 2.0f), z.assign(5, 3.0f);
  box[0] = box[3] = 1, box[1] = box[4] = 2, box[2] = box[5] = 3;
  g = Build(0.5, 96);
  EXPECT_TRUE(Cells(g) == 1 && g->cells[0].count == 5 && g->sizeZ == 0.0);
  FreeSubdiv(g);
  FreeSubdiv(nullptr);
}

TEST_F(BinGrid, OutsidePointsLandInBorderCellsAndCellListsNameEveryCell) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> u(0.0f, 4.0f);
  const int n = 300;
  for (int i = 0; i < n; ++i) x.push_back(u(rng)), y.push_back(u(rng)), z.push_back(0.5f * u(rng));
  // The caller's box is smaller than the points: those outside are held to the border columns.
  x[0] = -3, y[0] = 9, z[0] = 1;
  box[0] = 0.5, box[1] = 0.5, box[2] = 0.0, box[3] = 3.5, box[4] = 3.5, box[5] = 2.0;
  Subdiv* g = Build(0.3, 96);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->ownCell[0] % g->ncellsX, 0);
  EXPECT_EQ(g->ownCell[0] / g->ncellsX % g->ncellsY, g->ncellsY - 1);
  // Each point's list holds every cell it stands in, its own among them, in cell order.
  std::vector<int> storage(8 * n), counts(n);
  std::vector<int*> lists(n);
  for (int i = 0; i < n; ++i) lists[i] = storage.data() + 8 * i;
  SetSubdivArrays(g, n, lists.data(), counts.data());
  std::vector<std::vector<int>> where(n);
  for (int c = 0; c < Cells(g); ++c)
    for (int k = 0; k < g->cells[c].count; ++k) where[g->cells[c].items[k]].push_back(c);
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(std::equal(where[i].begin(), where[i].end(), lists[i], lists[i] + counts[i])) << i;
    EXPECT_NE(std::find(lists[i], lists[i] + counts[i], g->ownCell[i]), lists[i] + counts[i]);
  }
  // Emptied, the grid takes ids again, also in cells the trim left without arrays.
  ClearSubdiv(g);
  EXPECT_EQ(g->ownCell, nullptr);
  for (int c = 0; c < Cells(g); ++c) EXPECT_EQ(g->cells[c].count, 0);
  for (int id = 0; id < 70; ++id) AddAnElementToBin(g, id % Cells(g), id);  // more than 32 in cell 0
  AddAnElementToBin(g, Cells(g), 99), AddAnElementToBin(g, -1, 99);      // outside the grid: ignored
  EXPECT_FALSE(KernelFailedNow());
  for (int id = 0; id < 70; ++id) {
    const SubdivCell& cell = g->cells[id % Cells(g)];
    EXPECT_EQ(cell.items[id / Cells(g)], id);
  }
  FreeSubdiv(g);

  // A flat set: the y extent is 0 and its stored size too; a lookup there gives row 0.
  x.assign({0, 1, 2, 3}), y.assign(4, 5.0f), z.assign(4, 1.0f);
  box[0] = 0, box[1] = 5, box[2] = 1, box[3] = 3, box[4] = 5, box[5] = 1;
  g = Build(0.25, 96);
  ASSERT_TRUE(g && g->sizeY == 0.0 && g->ncellsY == 1 && g->ncellsX > 1);
  int ix = -1, iy = -1;
  EXPECT_EQ(FindSubDivXYGridIndex(g, 2.9, 5.0, &ix, &iy), 1);
  EXPECT_TRUE(ix == g->ncellsX - 1 && iy == 0);
  EXPECT_EQ(FindSubDivXYGridIndex(g, 1.0, 5.5, &ix, &iy), 0);
  EXPECT_EQ(iy, 0);
  EXPECT_EQ(FindSubDivXYGridIndex(g, -1.0, std::nan(""), &ix, &iy), 0);
  EXPECT_TRUE(ix == 0 && iy == 0);
  EXPECT_EQ(FindSubDivXYGridIndex(g, 7.0, 5.0, &ix, &iy), 0);
  EXPECT_EQ(ix, g->ncellsX - 1);
  FreeSubdiv(g);
}

TEST_F(BinGrid, PerAxisLengthsGiveCellsTwiceEachLengthAndNeverPollTheBreak) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const int n = 400;
  for (int i = 0; i < n; ++i) x.push_back(12 * u(rng)), y.push_back(6 * u(rng)), z.push_back(3 * u(rng));
  box[3] = 12, box[4] = 6, box[5] = 3;
  const double len[3] = {1.7, 0.4, 0.9};
  auto build = [&] {
    return SubdivideArraysMax(x.data(), y.data(), z.data(), n, box[0], box[1], box[2], box[3], box[4], box[5], len[0],
                              len[1], len[2], 96);
  };
  StubSetUserBreak(1);
  Subdiv* g = build();
  StubSetUserBreak(0);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(StubUserBreakPolls(), 0);
  const int cells[3] = {g->ncellsX, g->ncellsY, g->ncellsZ};
  const double size[3] = {g->sizeX, g->sizeY, g->sizeZ};
  for (int a = 0; a < 3; ++a) EXPECT_TRUE(cells[a] == 1 || size[a] >= 2 * len[a]) << a;
  EXPECT_GT(Cells(g), 1);
  // Every point within the box of half sides len of a point is in that point's own cell.
  for (int i = 0; i < n; ++i) {
    const SubdivCell& own = g->cells[g->ownCell[i]];
    for (int j = 0; j < n; ++j) {
      if (std::fabs(x[i] - x[j]) > len[0] || std::fabs(y[i] - y[j]) > len[1] || std::fabs(z[i] - z[j]) > len[2]) continue;
      EXPECT_NE(std::find(own.items, own.items + own.count, j), own.items + own.count) << j << " near " << i;
    }
  }
  FreeSubdiv(g);
  const int failures = RunWithInjectedFailures(60, 3, [&] {
    Subdiv* f = build();
    FreeSubdiv(f);
    return f ? 0 : -2;
  });
  EXPECT_EQ(failures, 20);
}

TEST_F(BinGrid, ABreakAfterAnyNumberOfPollsLeaksNothing) {
  std::mt19937 rng(14);
  std::uniform_real_distribution<float> u(0.0f, 5.0f);
  for (int i = 0; i < 500; ++i) x.push_back(u(rng)), y.push_back(u(rng)), z.push_back(u(rng));
  box[3] = box[4] = box[5] = 5;
  int broken = 0;
  for (long k = 1; k <= 30; ++k) {
    StubBreakAfterPolls(k);
    Subdiv* g = Build(0.4, 96);  // 6 x 6 x 6 cells: 5 polls over the cells, 10 over the points
    EXPECT_TRUE(g != nullptr || StubUserBreakPolls() == k) << k;  // null only at the break
    broken += g == nullptr;
    FreeSubdiv(g);
    EXPECT_TRUE(MallocTrackLevel() == 0 && MallocTrackedCount() == 0 && !KernelFailedNow()) << k;
  }
  EXPECT_EQ(broken, 15);
}

// The grid of a cloud is the grid of the cloud scaled by 1e-6 or 1e6 (with len scaled alike, or 0,
// leaving it to maxDiv): the same cells holding the same items. (Below 1e-6 every cloud used to
// be one cell.)
TEST_F(BinGrid, ScaledCloudGetsTheSameGrid) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> x0(400), y0(400), z0(400);
  for (int i = 0; i < 400; ++i) x0[i] = 0.5f * u(rng), y0[i] = 0.25f * u(rng), z0[i] = 0.125f * u(rng);
  struct Shape {
    int cells[3];
    std::vector<int> own, items;
  };
  const auto shape = [&](double scale, double len) {
    // Powers of two scale the floats exactly.
    x.resize(400), y.resize(400), z.resize(400);
    for (int i = 0; i < 400; ++i) x[i] = float(x0[i] * scale), y[i] = float(y0[i] * scale), z[i] = float(z0[i] * scale);
    const double b[6] = {0, 0, 0, 0.5 * scale, 0.25 * scale, 0.125 * scale};
    std::copy(b, b + 6, box);
    Subdiv* g = Build(len * scale, 96);
    Shape out{{g->ncellsX, g->ncellsY, g->ncellsZ}, std::vector<int>(g->ownCell, g->ownCell + 400), {}};
    for (int c = 0; c < Cells(g); ++c) {
      const SubdivCell& cell = g->cells[c];
      out.items.insert(out.items.end(), cell.items, cell.items + cell.count);
    }
    FreeSubdiv(g);
    return out;
  };
  for (double len : {0.0, 0.02}) {
    const Shape unit = shape(1.0, len);
    EXPECT_GT(unit.cells[0], 4) << len;
    for (double scale : {std::ldexp(1.0, -20), std::ldexp(1.0, 20)}) {
      const Shape other = shape(scale, len);
      EXPECT_TRUE(std::equal(other.cells, other.cells + 3, unit.cells)) << len << " " << scale;
      EXPECT_EQ(other.own, unit.own) << len << " " << scale;
      EXPECT_EQ(other.items, unit.items) << len << " " << scale;
    }
  }
}

// A length that is no number counts as none (the grid left to maxDiv, as with 0), and a grid
// finer than memory can hold is refused as out of memory, never a cell count past an int.
TEST_F(BinGrid, NoLengthOrTooManyCellsGivesASoundAnswer) {
  x = {0.0f, 0.5f, 0.1f}, y = {0.0f, 0.25f, 0.2f}, z = {0.0f, 0.125f, 0.05f};
  const double b[6] = {0, 0, 0, 0.5, 0.25, 0.125};
  std::copy(b, b + 6, box);
  Subdiv* none = Build(0.0, 96);
  Subdiv* nan = Build(std::nan(""), 96);
  ASSERT_TRUE(none && nan);
  EXPECT_EQ(nan->ncellsX, none->ncellsX);
  EXPECT_EQ(nan->ncellsY, none->ncellsY);
  EXPECT_EQ(nan->ncellsZ, none->ncellsZ);
  EXPECT_TRUE(std::equal(nan->ownCell, nan->ownCell + 3, none->ownCell));
  FreeSubdiv(none);
  FreeSubdiv(nan);
  EXPECT_FALSE(KernelFailed());
  EXPECT_EQ(Build(0.0, INT_MAX), nullptr);
  EXPECT_TRUE(KernelFailed());
}

// Trimming keeps every cell's items in order and leaves no spare room: a cleared grid refilled
// through AddAnElementToBin (which grows cells by doubling) comes back with capacity equal to
// count everywhere, and empty cells without arrays.
TEST_F(BinGrid, TrimmingKeepsTheItemsAndLeavesNoSpareRoom) {
  const int n = 300;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  x.resize(n), y.resize(n), z.resize(n);
  for (int i = 0; i < n; ++i) x[i] = 4 * u(rng), y[i] = 4 * u(rng), z[i] = u(rng);
  box[3] = 4, box[4] = 4, box[5] = 1;
  Subdiv* g = Build(0.3, 96);
  ASSERT_NE(g, nullptr);
  ClearSubdiv(g);
  std::vector<std::vector<int>> expected(Cells(g));
  for (int id = 0; id < 5 * n; ++id) {
    const int cell = (id * 7) % std::max(1, Cells(g) / 2);  // the upper half of the cells stays empty
    AddAnElementToBin(g, cell, id);
    expected[cell].push_back(id);
  }
  ASSERT_EQ(OptimizeSubdiv(g), 1);
  for (int c = 0; c < Cells(g); ++c) {
    const SubdivCell& cell = g->cells[c];
    EXPECT_EQ(cell.capacity, cell.count) << c;
    ASSERT_EQ(cell.count, int(expected[c].size())) << c;
    if (cell.count == 0) {
      EXPECT_EQ(cell.items, nullptr) << c;
    }
    EXPECT_TRUE(std::equal(expected[c].begin(), expected[c].end(), cell.items)) << c;
  }
  FreeSubdiv(g);
}

}  // namespace
