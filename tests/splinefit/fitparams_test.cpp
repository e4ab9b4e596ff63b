// Options of the surface fits and the allowance at one control point: the defaults pass the
// validity rule, which holds exactly at its boundaries; smoothness and roughness convert back
// and forth; the allowance is the deviation weighted by the basis at the Greville abscissa.
#include <cmath>

#include "splinefit/fitsplin.h"
#include "splinefit/splutil.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FitParams : public KernelTest {};

TEST_F(FitParams, DefaultsAreValidAndTheRuleHoldsAtItsBoundaries) {
  BsplFitParams p{};
  p.Reserved1 = 11, p.Reserved3 = 13;
  ASSERT_EQ(GetDefaultBsplFitParams(&p), 0);
  EXPECT_EQ(CheckSrfBsplFitParams(p), 1);
  EXPECT_TRUE(p.Reserved1 == 11 && p.Reserved3 == 13);  // left as they were
  double s = 0.3;
  EXPECT_NEAR(*RoughnessToSmoothness(&p.Roughness), s, 1e-15);  // the default smoothness
  EXPECT_EQ(GetDefaultBsplFitParams(nullptr), -2);
  for (int degree : {1, 3, 5}) {
    BsplFitParams q = p;
    q.DegreeU = degree, q.NumCntrlU = degree + 1;  // the fewest control points
    EXPECT_EQ(CheckSrfBsplFitParams(q), 1) << degree;
    q.NumCntrlU = degree;
    EXPECT_EQ(CheckSrfBsplFitParams(q), 0) << degree;
    q = p;
    q.DegreeV = degree, q.NumCntrlV = degree;
    EXPECT_EQ(CheckSrfBsplFitParams(q), 0) << degree;
  }
  BsplFitParams q = p;
  q.DegreeV = 0;
  EXPECT_EQ(CheckSrfBsplFitParams(q), 0);
  // Round trips; smoothness 1 is roughness 1, and smoother means a smaller roughness.
  for (double v : {0.0, 0.25, 0.5, 1.0}) {
    double r = v;
    SmoothnessToRoughness(&r);
    EXPECT_NEAR(*RoughnessToSmoothness(&r), v, 1e-14);
  }
  double one = 1.0, lo = 0.2, hi = 0.8;
  SmoothnessToRoughness(&one), SmoothnessToRoughness(&lo), SmoothnessToRoughness(&hi);
  EXPECT_EQ(one, 1.0);
  EXPECT_GT(lo, hi);
}

TEST_F(FitParams, AllowanceIsTheBasisAtTheGrevilleAbscissa) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(4, 3, 9));
  const int p = c->degreeU, n = NumCtrlU(c);
  for (int i = 0; i < n; ++i) {
    double g = 0.0;
    for (int k = 1; k <= p; ++k) g += c->knotsU[i + k];
    g /= p;
    double out = -1.0;
    GetMaxCurveDeviation(c, i, 0.5, &out);
    EXPECT_NEAR(out, 0.5 * RefBasis(c->knotsU, NumKnotsU(c), i, p, g), 1e-14) << i;
    if (i == 0 || i == n - 1) {
      EXPECT_EQ(out, 0.5);  // a clamped end interpolates
    }
  }
  double out = -1.0;
  GetMaxCurveDeviation(nullptr, 0, 0.5, &out);
  EXPECT_EQ(out, 0.0);
  GetMaxCurveDeviation(c, n, 0.5, &out);  // no such control point
  EXPECT_EQ(out, 0.0);
}

}  // namespace
