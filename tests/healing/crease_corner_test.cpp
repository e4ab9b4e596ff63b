// A crease the stitch leaves a little more than a degree steeper next to a corner gets a second
// try before its surfaces go back to where they began: their crease sides turned back to their
// start normals nearer the corners. Sent back whole, such a surface left its crease open and
// widened the smooth seams beside it, whose other surfaces went back in turn.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/smake.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "healing/srfbndr.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class CreaseCorner : public KernelTest {
 protected:
  void TearDown() override {
    CleanupTopology();
    KernelTest::TearDown();
  }
};

// The heal benchmark's grid: bicubic patches of 8 x 8 control points on one smooth height
// field, every patch's boundary rows jittered on their own by up to 0.01 in z (seeded), so that
// every seam and corner has a gap and some seams are creases near a corner only.
constexpr int kCtrl = 8, kDegree = 3;

Bspline* JitteredPatch(int gi, int gj, std::mt19937& rng) {
  Bspline* s = MallocNullBspline();
  s->kind = 2;
  s->dimension = 3;
  s->degreeU = s->degreeV = kDegree;
  s->interiorU = s->interiorV = kCtrl - kDegree - 1;
  AllocateBsplineArrays(s);
  for (int k = 0; k < kCtrl + kDegree + 1; ++k)
    s->knotsU[k] = s->knotsV[k] = std::clamp(double(k - kDegree) / (kCtrl - kDegree), 0.0, 1.0);
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  std::uniform_real_distribution<double> jitter(-0.01, 0.01);
  for (int j = 0; j < kCtrl; ++j)
    for (int i = 0; i < kCtrl; ++i) {
      // Greville abscissae, so the boundary rows of neighbours start out on one curve.
      double gu = 0.0, gv = 0.0;
      for (int k = 1; k <= kDegree; ++k) gu += s->knotsU[i + k], gv += s->knotsV[j + k];
      const double x = gi + gu / kDegree, y = gj + gv / kDegree;
      const bool boundary = i == 0 || j == 0 || i == kCtrl - 1 || j == kCtrl - 1;
      s->X[j][i] = x;
      s->Y[j][i] = y;
      s->Z[j][i] = 0.15 * std::sin(1.3 * x) * std::cos(0.9 * y) + 0.05 * x * y + (boundary ? jitter(rng) : 0.0);
    }
  return s;
}

// On the 16 x 16 grid (seed 7) the crease between patches (4, 12) and (4, 13), 6.9 degrees at a
// corner and 6.7 at nine tenths of its length, came out of the stitch 7.9 degrees there: both
// surfaces went back to their start, then (4, 12)'s smooth neighbour (3, 12), its seam 0.0058
// wide against 0.0056, and 20 of the 1,024 sides stayed open. The 4 x 4 part of the grid around
// them (x 3 to 7, y 10 to 14: the same jitter) goes the same way, 16 of its 64 sides open. Now
// every side closes, no surface is kept at its start and the crease, measured independently
// with the sides matched at their parameters (corner to corner, as the heal's own measure
// matches them), ends within a degree of its largest start angle.
TEST_F(CreaseCorner, SteeperCreaseNextToACornerTurnsBackAndEverySideCloses) {
  constexpr int kGrid = 16, kX0 = 3, kY0 = 10, kPart = 4;
  std::mt19937 rng(7);
  Group g;
  for (int gj = 0; gj < kGrid; ++gj)
    for (int gi = 0; gi < kGrid; ++gi) {
      // Every patch draws its jitter, so the part's patches get the whole grid's.
      Bspline* s = JitteredPatch(gi, gj, rng);
      if (gi >= kX0 && gi < kX0 + kPart && gj >= kY0 && gj < kY0 + kPart)
        g.Add(s);
      else
        FreeBspline(s);
    }
  const int n = g.size();
  auto at = [&](int gi, int gj) { return g.srfs[(gj - kY0) * kPart + gi - kX0]; };
  // The crease: (4, 12)'s v-max side on (4, 13)'s v-min side.
  double gapBefore = 0.0, angleBefore = 0.0;
  ParamSeamMeasures(at(4, 12), 4, at(4, 13), 2, false, &gapBefore, &angleBefore);
  ASSERT_GT(angleBefore, 5.0);  // a crease, beyond MAXANGLE
  ASSERT_EQ(MakeTopologyZK(g.data(), n, 0.05, 5.0), 0);
  int** result = allocate_matrix_ih(n, 4);
  ASSERT_NE(result, nullptr);
  std::vector<int> fixed(n, 0);
  ASSERT_EQ(HealTopologyZK(g.data(), n, fixed.data(), -1, 1, 0.001, 0.5, 1, result), 0);
  int open = 0, kept = 0;
  for (int i = 0; i < n; ++i) {
    kept += srfsTopology->srfs[i].keptStart;
    for (int c = 0; c < 4; ++c) open += !(result[i][c] == 0 || result[i][c] == -5);
  }
  matrix_free_ih(result);
  EXPECT_EQ(open, 0);
  EXPECT_EQ(kept, 0);
  double gap = 0.0, angle = 0.0;
  ParamSeamMeasures(at(4, 12), 4, at(4, 13), 2, false, &gap, &angle);
  EXPECT_LT(RefGap(at(4, 12), 4, at(4, 13), 2), 0.001);
  EXPECT_LE(angle, angleBefore + 1.0) << "started at " << angleBefore;
  // The smooth seams of the chain that went back, closed.
  EXPECT_LT(RefGap(at(3, 12), 3, at(4, 12), 1), 0.001);
  EXPECT_LT(RefGap(at(4, 12), 3, at(5, 12), 1), 0.001);
  EXPECT_LT(RefGap(at(3, 13), 3, at(4, 13), 1), 0.001);
}

}  // namespace
