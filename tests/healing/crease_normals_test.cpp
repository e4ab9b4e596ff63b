// Crease sides keep their normals: after the positional stitch has moved a crease side's second
// row (as the carry at a corner does), the row turns back so that along the crease, between a
// tenth and nine tenths of it, each surface's normal is the one it started with. Measured with
// the independent evaluator of the healing suites, at sizes 1e-3 to 1e3. Where the two sides are
// one boundary row, the angle between them is what is kept.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/srfclone.h"
#include "healing/mshrink.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

class CreaseNormals : public KernelTest {};

// A's u-max side against B's u-min side, both running in v over [0, 1]: the largest angle
// between each surface's normal now and where it began, over the inner eight tenths.
double LargestTurn(const Bspline* const now[2], const Bspline* const was[2]) {
  double worst = 0.0;
  for (int s = 0; s < 2; ++s)
    for (int i = 10; i <= 90; ++i) {
      double a[3], b[3];
      SideNormal(now[s], s == 0 ? 3 : 1, i / 100.0, a);
      SideNormal(was[s], s == 0 ? 3 : 1, i / 100.0, b);
      worst = std::max(worst, RefFoldedAngle(a, b));
    }
  return worst;
}

void Scale(Bspline* s, double f) {
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) {
      s->X[j][i] *= f;
      s->Y[j][i] *= f;
      s->Z[j][i] *= f;
    }
}

// Both second rows along a 12-degree crease tilted at random (the stitch's carry does this near
// corners): the rows come back to the starting normals, every point but the inner points of
// those two rows stays exactly, and the seam keeps its angle. A 3-degree kink at a 5-degree
// limit is a smooth seam, the tangential heal's: nothing moves. Nor does anything beside no
// smooth seam when only the sides the tangential heal disturbed are asked for.
TEST_F(CreaseNormals, CreaseRowsTurnBackToTheirStartingNormals) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> tilt(-0.01, 0.01);
  for (double size : {1e-3, 1.0, 1e3})
    for (double kink : {12.0, 3.0}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " kink " << kink);
      Group g;
      TwoPatches(g, [=](double) { return kink; }, false, [](double) { return 0.0; });
      for (Bspline* s : g.srfs) Scale(s, size);
      ASSERT_TRUE(g.Prepare(0.01 * size, 5.0));
      ASSERT_EQ(g.PairedCount(), 1);
      Group start;
      for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
      for (int s = 0; s < 2; ++s) {
        Bspline* b = g.srfs[s];
        const int col = s == 0 ? NumCtrlU(b) - 2 : 1;
        for (int j = 2; j < NumCtrlV(b) - 2; ++j) b->Z[j][col] += size * tilt(rng);
      }
      const std::vector<double> a0 = Net(g.srfs[0]), b0 = Net(g.srfs[1]);
      const Bspline* now[2] = {g.srfs[0], g.srfs[1]};
      const Bspline* was[2] = {start.srfs[0], start.srfs[1]};
      ASSERT_GT(LargestTurn(now, was), 1.0);
      // Taken only beside sides that meet smooth seams (after the tangential heal), the rows
      // of two patches with no smooth seam stay as they are.
      ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data(), 1), 0);
      EXPECT_EQ(Net(g.srfs[0]), a0);
      EXPECT_EQ(Net(g.srfs[1]), b0);
      ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data()), 0);
      if (kink < 5.0) {
        EXPECT_EQ(Net(g.srfs[0]), a0);
        EXPECT_EQ(Net(g.srfs[1]), b0);
        continue;
      }
      // Up to the fit's smoothing: the tilt turned them by degrees.
      EXPECT_LT(LargestTurn(now, was), 0.05);
      for (int s = 0; s < 2; ++s) {
        const std::vector<double> before = s == 0 ? a0 : b0, after = Net(g.srfs[s]);
        const int nu = NumCtrlU(g.srfs[s]), nv = NumCtrlV(g.srfs[s]), n = nu * nv;
        for (int k = 0; k < 3 * n; ++k) {
          const int i = k % n % nu, j = k % n / nu;
          if (i != (s == 0 ? nu - 2 : 1) || j < 2 || j > nv - 3) {
            EXPECT_EQ(after[k], before[k]) << i << "," << j;
          }
        }
      }
    }
  EXPECT_EQ(KeepCreaseSideNormals(nullptr, nullptr), -2);
}

// A crease whose corners end no other seam (it runs into free sides, as a fillet's crease runs
// into a sphere's pole) has no corner rule to leave its end tenths to: a second-row point whose
// reach lies wholly within an end tenth of a dense side (41 points), tilted, turns back as the
// inside does. Measured from end to end, at sizes 1e-6 to 1e6 placed 1e4 sizes from the origin,
// every normal of the tilted side ends within half a degree of its start (the fit's smoothing).
TEST_F(CreaseNormals, CreaseIntoFreeCornersTurnsBackUpToItsEnds) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> tilt(0.01, 0.02);
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    Group g;
    TwoPatches(
        g, [](double) { return 15.0; }, false, GapAt, Smooth, {3, 3, 6, 41});
    for (Bspline* s : g.srfs) {
      Scale(s, size);
      for (int j = 0; j < NumCtrlV(s); ++j)
        for (int i = 0; i < NumCtrlU(s); ++i) s->X[j][i] += 1e4 * size, s->Y[j][i] -= 2e4 * size;
    }
    ASSERT_TRUE(g.Prepare(0.02 * size, 8.0));
    ASSERT_EQ(g.PairedCount(), 1);
    Group start;
    for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
    Bspline* A = g.srfs[0];
    const int nu = NumCtrlU(A), nv = NumCtrlV(A);
    for (const int j : {2, nv - 3}) A->Z[j][nu - 2] += size * tilt(rng);
    auto worst = [&] {
      double w = 0.0;
      for (int i = 0; i <= 200; ++i) {
        double a[3], b[3];
        SideNormal(A, 3, i / 200.0, a);
        SideNormal(start.srfs[0], 3, i / 200.0, b);
        w = std::max(w, RefFoldedAngle(a, b));
      }
      return w;
    };
    ASSERT_GT(worst(), 1.0);
    ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data()), 0);
    EXPECT_LT(worst(), 0.5);
  }
}

// The largest gap between side 3 of the start's first patch and side 1 of its second.
double StartGap(const Group& start) {
  double gap = 0.0;
  for (int i = 0; i <= 100; ++i) {
    double a[3], b[3];
    SidePoint(start.srfs[0], 3, i / 100.0, a);
    SidePoint(start.srfs[1], 1, i / 100.0, b);
    gap = std::max(gap, Dist(a, b));
  }
  return gap;
}

// The largest |angle - start| across A's side 3 and B's side 1 at 8 samples a knot span between
// a tenth and nine tenths (the sides run alike in v over [0, 1] on one knot vector: a sample's
// match is its parameter).
double WorstOffStart(const Bspline* A, const Bspline* B, const Group& start) {
  double worst = 0.0;
  for (int k = 3; k < NumCtrlV(A); ++k)
    for (int q = 0; q < 8; ++q) {
      const double t = A->knotsV[k] + (q + 0.5) / 8.0 * (A->knotsV[k + 1] - A->knotsV[k]);
      if (t < 0.1 || t > 0.9) continue;
      double na[3], nb[3], sa[3], sb[3];
      SideNormal(A, 3, t, na);
      SideNormal(B, 1, t, nb);
      SideNormal(start.srfs[0], 3, t, sa);
      SideNormal(start.srfs[1], 1, t, sb);
      worst = std::max(worst, std::fabs(RefFoldedAngle(na, nb) - RefFoldedAngle(sa, sb)));
    }
  return worst;
}

// A crease keeps its angle, not only each side's normal. Where its two sides are one boundary row:
// with the row moved across the seam and both second rows tilted at random, as the stitch of a
// noisy crease leaves them, the angle is degrees off its start; solved, every sample between a
// tenth and nine tenths (8 a span) is back within a degree, the two boundary rows stay one, and
// no point ends further from its start than twice the seam's start gap (or than it was). Where
// its sides keep their own boundary rows (as where it meets other seams at a corner), with the
// rows brought within a small gap of their mean and both second rows tilted, the second rows
// alone bring it back within a degree, both boundary rows stay bit for bit (the gap is the
// stitch's), each second-row point within the same bound. A 3-degree seam is no crease: nothing
// moves. A failed allocation anywhere leaves the rows as they were and nothing behind.
TEST_F(CreaseNormals, CreaseKeepsItsAngleOnSharedAndSplitRows) {
  for (bool shared : {true, false})
    for (double kink : {30.0, 3.0}) {
      SCOPED_TRACE(testing::Message() << (shared ? "one row" : "two rows") << ", kink " << kink);
      auto solve = shared ? KeepSharedRowCreaseAngle : KeepSplitRowCreaseAngle;
      Group g;
      TwoPatches(
          g, [=](double y) { return kink + 2.0 * y; }, false);
      ASSERT_TRUE(g.Prepare(0.05, 5.0));
      ASSERT_EQ(g.PairedCount(), 1);
      const int edge = g.FirstPaired()->index;
      Group start;
      for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
      // A's u-max column and B's u-min column become their mean; then the noise.
      Bspline *A = g.srfs[0], *B = g.srfs[1];
      const int nu = NumCtrlU(A), nv = NumCtrlV(A);
      ASSERT_EQ(nv, NumCtrlV(B));
      std::mt19937 rng(shared ? 3 : 5);
      std::uniform_real_distribution<double> noise(-0.02, 0.02);
      for (int j = 0; j < nv; ++j) {
        double** P[3] = {A->X, A->Y, A->Z};
        double** Q[3] = {B->X, B->Y, B->Z};
        for (int c = 0; c < 3; ++c) P[c][j][nu - 1] = Q[c][j][0] = 0.5 * (P[c][j][nu - 1] + Q[c][j][0]);
        if (!shared) B->Z[j][0] += 1e-4;  // a gap the stitch left
        if (j < 2 || j > nv - 3) continue;
        A->Z[j][nu - 2] += noise(rng);
        B->Z[j][1] += noise(rng);
        if (shared) {
          const double across = 0.5 * noise(rng);
          A->Z[j][nu - 1] = B->Z[j][0] = A->Z[j][nu - 1] + across;
        }
      }
      const double startGap = StartGap(start);
      auto worstOff = [&] { return WorstOffStart(A, B, start); };
      const double before = worstOff();
      ASSERT_GT(before, 1.0);
      const std::vector<double> a0 = Net(A), b0 = Net(B), sa = Net(start.srfs[0]), sb = Net(start.srfs[1]);
      if (kink > 5.0)
        EXPECT_GT(FailUntilSuccess([&] { return solve(g.bs, start.data(), edge) == 1 ? 0 : -2; }, [&] { return Net(A); }),
                  3);
      else
        EXPECT_EQ(solve(g.bs, start.data(), edge), 0);
      const std::vector<double> a1 = Net(A), b1 = Net(B);
      if (kink < 5.0) {
        EXPECT_EQ(a1, a0);
        EXPECT_EQ(b1, b0);
        continue;
      }
      // One row solved until its cost stops falling: 0.078 (cut off at 10 steps a cap weight, 0.095).
      EXPECT_LE(worstOff(), shared ? 0.09 : 1.0) << "from " << before;
      const size_t n = a1.size() / 3;
      // Largest distance of a net's points (of column col only, unless col is -1) from the start's.
      auto moved = [&](const std::vector<double>& was, const std::vector<double>& now, int col) {
        double m = 0.0;
        for (size_t k = 0; k < n; ++k)
          if (col < 0 || static_cast<int>(k % nu) == col)
            m = std::max(m, std::hypot(now[k] - was[k], now[n + k] - was[n + k], now[2 * n + k] - was[2 * n + k]));
        return m;
      };
      if (shared) {
        for (int j = 0; j < nv; ++j) {
          EXPECT_EQ(A->X[j][nu - 1], B->X[j][0]) << j;
          EXPECT_EQ(A->Y[j][nu - 1], B->Y[j][0]) << j;
          EXPECT_EQ(A->Z[j][nu - 1], B->Z[j][0]) << j;
        }
      } else {
        // Only the second rows moved.
        for (size_t k = 0; k < 3 * n; ++k) {
          const int i = static_cast<int>(k % n % nu);
          if (i != nu - 2) {
            EXPECT_EQ(a1[k], a0[k]) << k;
          }
          if (i != 1) {
            EXPECT_EQ(b1[k], b0[k]) << k;
          }
        }
      }
      const int colA = shared ? -1 : nu - 2, colB = shared ? -1 : 1;
      EXPECT_LE(moved(sa, a1, colA), std::max(2.0 * startGap, moved(sa, a0, colA)) * (1.0 + 1e-9));
      EXPECT_LE(moved(sb, b1, colB), std::max(2.0 * startGap, moved(sb, b0, colB)) * (1.0 + 1e-9));
    }
  EXPECT_EQ(KeepSharedRowCreaseAngle(nullptr, nullptr, 0), -2);
  EXPECT_EQ(KeepSplitRowCreaseAngle(nullptr, nullptr, 0), -2);
}

// A side a tenth as long as its net is wide (18 points of degree 5 along it, the second row a
// size away) at a 30-degree crease, whose start carries noise as large as its points' spacing
// along it on its boundary and second rows: the start's normals there turn by tens of degrees
// from sample to sample. From the noise-free net (as a stitch that closed the seam leaves it),
// the turn back to those normals may take no second-row point farther from its start than 1.5
// times the farthest the two rows already lie from theirs (the fit to them took it twice that
// far), and every point off that row stays as it was. At sizes 1e-6 to 1e6, 1e4 sizes from the
// origin.
TEST_F(CreaseNormals, TurnTowardsNoisyNormalsStaysNearTheRowsMove) {
  for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    Group g;
    PatchOptions wide = {3, 5, 6, 18};
    wide.x0 = -9.0;
    TwoPatches(
        g, [](double) { return 30.0; }, false, [](double) { return 0.0; }, Smooth, wide);
    for (Bspline* s : g.srfs) {
      Scale(s, size);
      for (int j = 0; j < NumCtrlV(s); ++j)
        for (int i = 0; i < NumCtrlU(s); ++i) s->X[j][i] += 1e4 * size, s->Z[j][i] -= 3e4 * size;
    }
    ASSERT_TRUE(g.Prepare(0.02 * size, 8.0));
    ASSERT_EQ(g.PairedCount(), 1);
    Group start;
    for (Bspline* s : g.srfs) start.Add(CopyBsplineSurface(s));
    Bspline *A = g.srfs[0], *S = start.srfs[0];
    const int nu = NumCtrlU(A), nv = NumCtrlV(A);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(-0.06, 0.06);
    for (int j = 0; j < nv; ++j)
      for (const int i : {nu - 2, nu - 1}) {
        S->Y[j][i] += size * noise(rng);
        S->Z[j][i] += size * noise(rng);
      }
    auto offStart = [&](int col) {
      double most = 0.0;
      for (int j = 0; j < nv; ++j)
        most = std::max(most, std::hypot(A->X[j][col] - S->X[j][col], A->Y[j][col] - S->Y[j][col],
                                         A->Z[j][col] - S->Z[j][col]));
      return most;
    };
    const double rows = std::max(offStart(nu - 1), offStart(nu - 2));
    const std::vector<double> a0 = Net(A), b0 = Net(g.srfs[1]);
    ASSERT_EQ(KeepCreaseSideNormals(g.bs, start.data()), 0);
    // The noise-free second row lies tens of degrees off the noisy normals: it turned.
    EXPECT_NE(Net(A), a0);
    EXPECT_LE(offStart(nu - 2), 1.5 * rows * (1.0 + 1e-9));
    const std::vector<double> a1 = Net(A);
    const int n = nu * nv;
    for (int k = 0; k < 3 * n; ++k)
      if (k % n % nu != nu - 2) {
        EXPECT_EQ(a1[k], a0[k]) << k;
      }
  }
}

}  // namespace
