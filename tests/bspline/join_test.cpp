// Joining two objects end to start: two Bezier pieces that meet are one curve afterwards (the
// joined curve runs through the first piece, then the second, its knots never running back), and
// a pair whose knots do not continue one another gives no record.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/objjoin.h"
#include "foundation/coreglob.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class JoinTest : public KernelTest {};

// A clamped Bezier piece of degree p on [a, b] through the p + 1 points.
Bspline* Piece(int p, const std::vector<double>& pts, double a, double b) {
  std::vector<double> knots(p + 1, a);
  knots.insert(knots.end(), p + 1, b);
  return BuildCurve(p, 3, pts, knots);
}

TEST_F(JoinTest, PiecesThatMeetJoinIntoOneCurveThroughBoth) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int p = 1; p <= 4; ++p)
    for (double s : {1e-6, 1.0, 1e6}) {
      BsplineKeeper keep;
      std::vector<double> a, b;
      for (int i = 0; i <= p; ++i)
        for (int k = 0; k < 3; ++k) a.push_back(s * (1e4 + U(rng)));
      b.insert(b.end(), a.end() - 3, a.end());  // the second starts where the first ends
      for (int i = 1; i <= p; ++i)
        for (int k = 0; k < 3; ++k) b.push_back(s * (1e4 + U(rng)));
      Bspline* first = keep(Piece(p, a, 0.0, 1.0));
      Bspline* second = keep(Piece(p, b, 1.0, 2.5));
      Bspline* pair[2] = {first, second};
      const int along[2] = {1, 1};
      double seam = -1.0;
      Bspline* joined = keep(JoinObjectPair(pair, nullptr, along, &seam, 0));
      ASSERT_NE(joined, nullptr) << p << " " << s;
      EXPECT_TRUE(BsplineSound(joined));
      EXPECT_EQ(seam, 1.0);
      for (int i = 0; i <= 40; ++i) {
        const double t = 2.5 * i / 40;
        double want[3], got[3];
        RefEvalCurve(t <= 1.0 ? first : second, t, want);
        RefEvalCurve(joined, t, got);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-9 * s * 1e4) << p << " " << t;
      }
    }
}

TEST_F(JoinTest, PairWhoseKnotsDoNotContinueGivesNoRecord) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(3, 3, 7));
  // Joined to itself: the second's interior knots lie before the first's end.
  Bspline* pair[2] = {c, c};
  const int along[2] = {1, 1};
  double seam = -1.0;
  Bspline* joined = keep(JoinObjectPair(pair, nullptr, along, &seam, 0));
  EXPECT_EQ(joined, nullptr);
  EXPECT_TRUE(KernelFailed());
  ClearKernelError();
  EXPECT_TRUE(BsplineSound(c));
}

}  // namespace
