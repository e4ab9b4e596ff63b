// The boundary allowance of curve-to-surface construction: the shortest corresponding
// control-point pair against brute force, and the allowance as the documented product of the
// tangent of the angle, half that distance and the next curve's basis at the pair's Greville
// abscissa.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "construct/crv2srf.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BoundaryAllowance : public KernelTest {};

TEST_F(BoundaryAllowance, ShortestPairAndAllowanceFromTheirDefinitions) {
  BsplineKeeper keep;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* bnd = keep(BuildRandomCurve(seed, 3, 8));
    Bspline* next = keep(BuildRandomCurve(seed + 50, 3, 8));
    int best = -1;
    double shortest = 1e300;
    for (int i = 0; i < 8; ++i) {
      const double d = std::hypot(bnd->X[0][i] - next->X[0][i], bnd->Y[0][i] - next->Y[0][i],
                                  bnd->Z[0][i] - next->Z[0][i]);
      if (d <= shortest) shortest = d, best = i;  // ties: the later index
    }
    int index = -1;
    double dist = -1.0;
    ASSERT_EQ(GetShortestCntrlPair(bnd, next, &index, &dist), 0);
    EXPECT_EQ(index, best);
    EXPECT_NEAR(dist, shortest, 1e-15);
    // The Greville abscissa of the pair and next's basis function there.
    const int p = next->degreeU;
    double g = 0.0;
    for (int k = 1; k <= p; ++k) g += next->knotsU[best + k];
    g /= p;
    const double weight = RefBasis(next->knotsU, NumKnotsU(next), best, p, g);
    for (double angle : {0.0, 1.0, 30.0}) {
      double dev = -1.0;
      EXPECT_EQ(GetBndryDeviation(bnd, next, angle, &dev), 0);
      EXPECT_NEAR(dev, std::tan(angle * M_PI / 180.0) * shortest / 2.0 * weight, 1e-12) << angle;
    }
  }
  // Curves that do not correspond: no pair, no allowance.
  Bspline* a = keep(BuildRandomCurve(7, 3, 8));
  Bspline* shorter = keep(BuildRandomCurve(8, 3, 7));
  Bspline* flat = keep(BuildRandomCurve(9, 3, 8, 2));
  int index = 5;
  double dist = 5.0, dev = 5.0;
  EXPECT_EQ(GetShortestCntrlPair(a, shorter, &index, &dist), -2);
  EXPECT_EQ(GetShortestCntrlPair(a, flat, &index, &dist), -2);
  EXPECT_EQ(GetBndryDeviation(a, shorter, 10.0, &dev), 0);
  EXPECT_EQ(dev, 0.0);
}

}  // namespace
