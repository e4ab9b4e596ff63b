// Consecutive duplicates out of point arrays, and chord-length parameters of float points.
#include <vector>

#include "cloud/premove.h"
#include "curve/fitcurve.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PointArrays : public KernelTest {};

TEST_F(PointArrays, DuplicatesAreComparedWithTheirInputPredecessor) {
  // 1 duplicates 0; 2 is within tol of 1 (dropped) though not of 0; 4 is a plane duplicate
  // only when z is ignored.
  std::vector<double> x = {0, 0.5e-5, 1.2e-5, 1, 1}, y = {0, 0, 0, 2, 2}, z = {0, 0, 0, 3, 4};
  EXPECT_EQ(RemoveDuplicates_d(x.data(), y.data(), z.data(), 5, 1e-5), 3);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(z[2], 4.0);
  std::vector<double> x2 = {0, 1, 1}, y2 = {0, 2, 2};
  EXPECT_EQ(RemoveDuplicates_d(x2.data(), y2.data(), nullptr, 3, 1e-5), 2);
  EXPECT_EQ(RemoveDuplicates_d(x2.data(), y2.data(), nullptr, 1, 1e-5), 1);
}

TEST_F(PointArrays, ChordParametersRunFromZeroToOne) {
  std::vector<float> x = {0, 3, 3, 3}, y = {0, 4, 4, 8}, z = {0, 0, 0, 0};
  std::vector<double> t(4);
  EXPECT_EQ(normalize_tarray3(x.data(), y.data(), z.data(), 4, t.data()), 9.0);
  EXPECT_EQ(t, (std::vector<double>{0, 5.0 / 9, 5.0 / 9, 1}));
  std::vector<float> same(3, 1.0f);
  std::vector<double> u(3);
  EXPECT_EQ(normalize_tarray3(same.data(), same.data(), same.data(), 3, u.data()), 0.0);
  EXPECT_EQ(u, (std::vector<double>{0, 1e-10, 1e-10}));
}

}  // namespace
