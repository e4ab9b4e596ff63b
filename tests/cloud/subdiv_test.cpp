#include "cloud/psubdiv.h"

#include <algorithm>
#include <random>
#include <vector>

#include "tests/support/kernel_fixture.h"

namespace {

class BinGrid : public KernelTest {
 protected:
  // n random points in the box [0, ex] x [0, ey] x [0, ez].
  void RandomPoints(int n, unsigned seed, double ex, double ey, double ez) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    x.resize(n), y.resize(n), z.resize(n);
    for (int i = 0; i < n; ++i) x[i] = float(ex * u(rng)), y[i] = float(ey * u(rng)), z[i] = float(ez * u(rng));
    box[3] = ex, box[4] = ey, box[5] = ez;
  }
  Subdiv* Build(double len, int maxDiv) {
    return SubdivideArrays(x.data(), y.data(), z.data(), int(x.size()), box[0], box[1], box[2], box[3], box[4],
                           box[5], len, maxDiv);
  }
  int Cells(const Subdiv* g) const { return g->ncellsX * g->ncellsY * g->ncellsZ; }
  std::vector<float> x, y, z;
  double box[6] = {0, 0, 0, 0, 0, 0};
};

TEST_F(BinGrid, EveryNeighbourWithinLenIsInThePointsOwnCell) {
  RandomPoints(600, 4, 10, 6, 3);
  // A point on the upper face is held to the last cell rather than indexing past the grid.
  x[0] = 10, y[0] = 6, z[0] = 3;
  const double len = 0.7;
  Subdiv* g = Build(len, 96);
  ASSERT_NE(g, nullptr);
  EXPECT_GT(Cells(g), 8);
  EXPECT_EQ(g->ownCell[0], Cells(g) - 1);
  EXPECT_TRUE((g->ncellsX == 1 || g->sizeX >= 2 * len) && (g->ncellsY == 1 || g->sizeY >= 2 * len));
  const int n = int(x.size());
  std::vector<int> ownCount(n, 0), cellCount(n, 0);
  for (int c = 0; c < Cells(g); ++c) {
    const SubdivCell& cell = g->cells[c];
    EXPECT_EQ(cell.capacity, cell.count);
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
  FreeSubdiv(g);
  g = Build(1.0, 0);  // no divisions allowed
  EXPECT_EQ(Cells(g), 1);
  FreeSubdiv(g);
  // All points equal: a box of zero extent is one cell holding every point as its own.
  x.assign(5, 1.0f), y.assign(5, 2.0f), z.assign(5, 3.0f);
  const double p[6] = {1, 2, 3, 1, 2, 3};
  std::copy(p, p + 6, box);
  g = Build(0.5, 96);
  ASSERT_EQ(Cells(g), 1);
  EXPECT_TRUE(g->cells[0].count == 5 && g->sizeZ == 0.0);
  FreeSubdiv(g);
  FreeSubdiv(nullptr);
}

TEST_F(BinGrid, SegmentsAreAddedToTheNonEmptyCellsAroundThem) {
  RandomPoints(300, 6, 12, 12, 12);
  Subdiv* g = Build(0.5, 96);
  ASSERT_NE(g, nullptr);
  const int n = int(x.size()), nxy = g->ncellsX * g->ncellsY;
  std::vector<int> before(Cells(g));
  for (int c = 0; c < Cells(g); ++c) before[c] = g->cells[c].count;
  ASSERT_EQ(AddLineTo3DSubdivToo(g, 0, 1, n + 7), 1);
  auto column = [&](int c, int axis) {
    return axis == 2 ? c / nxy : axis == 1 ? c % nxy / g->ncellsX : c % g->ncellsX;
  };
  for (int c = 0; c < Cells(g); ++c) {
    bool added = before[c] > 0;
    for (int axis = 0; axis < 3; ++axis) {
      const int a = column(g->ownCell[0], axis), b = column(g->ownCell[1], axis), col = column(c, axis);
      added = added && col >= std::min(a, b) - 1 && col <= std::max(a, b) + 1;
    }
    EXPECT_EQ(g->cells[c].count, before[c] + (added ? 1 : 0)) << c;
    EXPECT_TRUE(!added || g->cells[c].items[before[c]] == n + 7);
  }
  FreeSubdiv(g);
}

TEST_F(BinGrid, NoMemoryOrUserBreakGivesNullWithoutLeaks) {
  RandomPoints(200, 3, 5, 5, 5);
  const long start = MallocRuntimeRequests();
  FreeSubdiv(Build(0.4, 96));
  for (long k = 0, requests = MallocRuntimeRequests() - start; k < requests; k += 7) {
    ClearKernelError();
    MallocFailAfter(k, -1);
    EXPECT_EQ(Build(0.4, 96), nullptr) << k;
    MallocFailClear();
    EXPECT_TRUE(KernelFailedNow());
  }
  ClearKernelError();
  StubBreakAfterPolls(3);
  EXPECT_EQ(Build(0.4, 96), nullptr);
  EXPECT_FALSE(KernelFailedNow());
  // A segment that cannot grow a cell leaves a grid that frees cleanly.
  StubSetUserBreak(0);
  StubBreakAfterPolls(0);
  Subdiv* g = Build(0.4, 96);
  ASSERT_NE(g, nullptr);
  MallocFailAfter(0, -1);
  int ok = 1;
  for (int i = 0; i + 1 < 200 && ok; ++i) ok = AddLineTo3DSubdivToo(g, i, i + 1, 1000 + i);
  MallocFailClear();
  EXPECT_EQ(ok, 0);
  FreeSubdiv(g);
}

}  // namespace
