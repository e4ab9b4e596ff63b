// A crease closed in one row between two coarse cubic nets (4 x 4 points) at a four-way corner: a
// 17-degree crease along x = 1 through the corner, a smooth seam along y = 1. The crease's rows
// below the corner came apart (inner points slid along the curved row and lifted, second rows
// with them, as a refit parametrises a side its own way); the heal closed them on a row nearer
// one side, moving it beyond its bound. Given the mean of the rows as they came, each side moves
// by half their distance, the least the larger move can be: here exactly back onto the clean
// nets, the seam still one row and the derivatives across it kept; the other seams stay as they
// are. Rows within the bound, or beside a surface that keeps its place, are left alone. At sizes
// 1e-3..1e3, at the origin and far from it.
#include <cmath>
#include <vector>

#include "healing/gstitch_internal.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;
using namespace gstitch_internal;

constexpr double kCrease = 17.0, kSlide = 0.06, kLift = 0.02;

// Patches A, B below y = 1 and C, D above it (u along x, v along y), B and D turned up about
// x = 1 by the crease, on a height curving along y. The inner points of A's last two columns
// (its crease row and the row beside it) are moved by a x (0, kSlide, kLift), B's first two by
// b x the same. At `size`, moved by `far` x size along (1, 2, 3).
void CoarseCorner(Group& g, double a, double b, double size, double far) {
  for (int q = 0; q < 4; ++q) {
    const int col = q % 2, row = q / 2;
    PatchOptions o;
    o.nu = 4, o.nv = 4;
    o.x0 = col, o.x1 = col + 1.0, o.y0 = row, o.y1 = row + 1.0;
    Bspline* s = g.Add(BuildFunctionPatch(
        [col](double x, double y) {
          return 0.4 * std::sin(1.7 * y) + (col ? std::tan(kCrease * kDeg) * (x - 1.0) : 0.0);
        },
        o));
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) {
        const bool moved = row == 0 && j > 0 && j < 3 && (col == 0 ? k >= 2 : k <= 1);
        const double by = moved ? (col == 0 ? a : b) : 0.0;
        s->X[j][k] = (s->X[j][k] + far) * size;
        s->Y[j][k] = (s->Y[j][k] + by * kSlide + 2.0 * far) * size;
        s->Z[j][k] = (s->Z[j][k] + by * kLift + 3.0 * far) * size;
      }
  }
}

// Puts the control points of `result` into the topology's surfaces (the heal's result).
void Install(Group& g, const Group& result) {
  for (int i = 0; i < g.size(); ++i) {
    Bspline* s = TopologySurface(g.bs, i);
    for (int j = 0; j < NumCtrlV(s); ++j)
      for (int k = 0; k < NumCtrlU(s); ++k)
        s->X[j][k] = result.srfs[i]->X[j][k], s->Y[j][k] = result.srfs[i]->Y[j][k], s->Z[j][k] = result.srfs[i]->Z[j][k];
  }
  for (int c = 0; c < g.bs->nCrv; ++c) RebuildCurve3Form(&g.bs->crvs[c]);
}

class CreaseRows : public KernelTest {};

TEST_F(CreaseRows, RowsClosedBeyondTheBoundTakeTheMeanOfTheRowsAsTheyCame) {
  const struct {
    double size, far;
  } kCases[] = {{1e-3, 1e4}, {1.0, 0.0}, {1.0, 1e4}, {1e3, 1e4}};
  for (const auto& [size, far] : kCases) {
    const double apart = std::hypot(kSlide, kLift) * size, healGap = 1e-7 * size;
    // The rows as they came lie `apart` from each other; the heal's row lies 3/4 of the way from
    // A's to B's; the clean nets are their mean.
    Group start, healed, clean;
    CoarseCorner(start, 0.5, -0.5, size, far);
    CoarseCorner(healed, -0.25, -0.25, size, far);
    CoarseCorner(clean, 0.0, 0.0, size, far);
    struct Bounds {
      double a, b;
      bool changes;
    };
    for (const Bounds& t : {Bounds{0.6 * apart, 0.6 * apart, true}, Bounds{0.8 * apart, 0.8 * apart, false},
                            Bounds{0.6 * apart, -1.0, false}}) {
      Group g;
      CoarseCorner(g, 0.5, -0.5, size, far);
      ASSERT_TRUE(g.Build(0.1 * size, 8.0)) << size;
      Install(g, healed);
      GroupMeasure after;
      ASSERT_EQ(MeasureGroup(g.bs, &after), 0);
      const double bound[4] = {t.a, t.b, 1.0 * size, 1.0 * size};
      std::vector<SurfaceStage> stages(4, SurfaceStage{kPositional, 0, 0});
      EXPECT_EQ(MeanClosedRowsBeyondBound(g.bs, start.data(), after, healGap, bound, stages.data()), t.changes)
          << size << " bound " << t.a / apart << " " << t.b / apart;
      for (int i = 0; i < 4; ++i) {
        const Group& want = t.changes && i < 2 ? clean : healed;
        EXPECT_EQ(stages[i].changed != 0, t.changes && i < 2) << i << " size " << size;
        EXPECT_LE(LargestMove(Net(want.srfs[i]), Net(TopologySurface(g.bs, i))), 1e-12 * far * size + 1e-15 * size)
            << i << " size " << size << " bound " << t.a / apart;
      }
      if (!t.changes) continue;
      // Each side moved half the rows' distance from where it came, and the seam is one row.
      for (int i = 0; i < 2; ++i)
        EXPECT_NEAR(LargestMove(Net(start.srfs[i]), Net(TopologySurface(g.bs, i))), 0.5 * apart, 1e-9 * apart + 1e-12 * far * size)
            << i << " size " << size;
      EXPECT_LE(RefGap(TopologySurface(g.bs, 0), 3, TopologySurface(g.bs, 1), 1), 1e-12 * far * size + 1e-15 * size) << size;
    }
  }
}

}  // namespace
