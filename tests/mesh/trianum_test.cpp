// The even-odd point-in-polygon test against a far point.
#include "mesh/trianum.h"
#include "tests/support/kernel_fixture.h"

namespace {

class PointInPolygon : public KernelTest {};

TEST_F(PointInPolygon, CountsACrossingThroughAVertexOnce) {
  // A diamond: the segments below run exactly through its left and right corners.
  const double x[4] = {1, 2, 1, 0}, y[4] = {0, 1, 2, 1};
  EXPECT_EQ(IsPoint2DInList(1.0, 1.0, -1.0, 1.0, x, y, 4), 1);  // through (0, 1) only
  EXPECT_EQ(IsPoint2DInList(3.0, 1.0, -1.0, 1.0, x, y, 4), 0);  // through (2, 1) and (0, 1)
  EXPECT_EQ(IsPoint2DInList(1.0, 1.5, -1.0, 1.5, x, y, 4), 1);
  EXPECT_EQ(IsPoint2DInList(1.8, 1.8, -1.0, 1.8, x, y, 4), 0);
  // A non-convex L: the notch is outside.
  const double lx[6] = {0, 2, 2, 1, 1, 0}, ly[6] = {0, 0, 1, 1, 2, 2};
  EXPECT_EQ(IsPoint2DInList(1.5, 1.5, -1.0, 1.5, lx, ly, 6), 0);
  EXPECT_EQ(IsPoint2DInList(0.5, 1.5, -1.0, 1.5, lx, ly, 6), 1);
  EXPECT_EQ(IsPoint2DInList(1.5, 0.5, -1.0, 0.5, lx, ly, 6), 1);
}

}  // namespace
