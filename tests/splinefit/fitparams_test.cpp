#include <cmath>
#include <cstring>

#include "splinefit/fitsplin.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FitParamsTest : public KernelTest {};

TEST_F(FitParamsTest, SmoothnessRoughnessRoundTrip) {
  struct Case {
    double s, r;
  } cases[] = {{1.0, 1.0}, {0.3, std::exp(7.0)}, {0.25, std::exp(7.5)}, {0.0, std::exp(10.0)}};
  for (const Case& c : cases) {
    double v = c.s;
    SmoothnessToRoughness(&v);
    EXPECT_NEAR(v, c.r, 1e-12 * c.r) << c.s;
    EXPECT_EQ(RoughnessToSmoothness(&v), &v);
    EXPECT_NEAR(v, c.s, 1e-13) << c.s;
  }
  double e7 = 0.3;
  SmoothnessToRoughness(&e7);
  EXPECT_NEAR(e7, 1096.6331584284585, 1e-9);
  // Smoother than 1 gives a roughness below 1, which is accepted as it is.
  double over = 1.2;
  SmoothnessToRoughness(&over);
  EXPECT_LT(over, 1.0);
  EXPECT_GT(over, 0.0);
}

TEST_F(FitParamsTest, DefaultsLeaveReservedWordsAlone) {
  BsplFitParams p;
  std::memset(&p, 0x5a, sizeof p);
  const int32_t marker = p.Reserved1;
  ASSERT_EQ(GetDefaultBsplFitParams(&p), 0);
  EXPECT_EQ(p.DegreeU, 3);
  EXPECT_EQ(p.DegreeV, 3);
  EXPECT_EQ(p.NumCntrlU, 10);
  EXPECT_EQ(p.NumCntrlV, 10);
  EXPECT_EQ(p.WrapU, 0);
  EXPECT_EQ(p.WrapV, 0);
  EXPECT_EQ(p.Reserved1, marker);
  EXPECT_EQ(p.Reserved2, 0);
  EXPECT_EQ(p.Reserved3, marker);
  EXPECT_EQ(p.ScatteredOnly, 1);
  EXPECT_DOUBLE_EQ(p.Tension, 0.7);
  EXPECT_NEAR(p.Roughness, std::exp(7.0), 1e-9);
  EXPECT_DOUBLE_EQ(p.Sigma, 1.0);
  EXPECT_DOUBLE_EQ(p.Reserved4, 0.001);
  EXPECT_EQ(GetDefaultBsplFitParams(nullptr), -2);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(FitParamsTest, ValidityNeedsDegreePlusOneControlPoints) {
  BsplFitParams p{};
  ASSERT_EQ(GetDefaultBsplFitParams(&p), 0);
  EXPECT_EQ(CheckSrfBsplFitParams(p), 1);
  p.NumCntrlU = 4;  // a single span in u
  EXPECT_EQ(CheckSrfBsplFitParams(p), 1);
  p.NumCntrlU = 3;
  EXPECT_EQ(CheckSrfBsplFitParams(p), 0);
  p.NumCntrlU = 10;
  p.NumCntrlV = 3;
  EXPECT_EQ(CheckSrfBsplFitParams(p), 0);
  p.NumCntrlV = 10;
  p.DegreeV = 0;
  EXPECT_EQ(CheckSrfBsplFitParams(p), 0);
  p.DegreeV = 3;
  p.DegreeU = 0;
  EXPECT_EQ(CheckSrfBsplFitParams(p), 0);
  // Nothing but degrees and counts is looked at.
  p.DegreeU = 1;
  p.Tension = -5.0;
  p.Sigma = 0.0;
  EXPECT_EQ(CheckSrfBsplFitParams(p), 1);
}

}  // namespace
