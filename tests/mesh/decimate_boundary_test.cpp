// Decimation by count of an open sheet: its boundary keeps its shape and the reported largest
// error is the measured distance between the result and the original, checked by sampling both
// against each other by brute force, at sizes 1e-3..1e3 moved away from the origin.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "foundation/geo2.h"
#include "mesh/putil.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class CountDecimationBoundary : public KernelTest {};

using P3 = std::array<double, 3>;

// A wavy sheet over a disc of radius `size` (an n x n grid squeezed onto the disc, so its
// boundary is a circle of 4 (n - 1) points), centred at `at`.
Cloud* WavyDisc(int n, double size, const P3& at) {
  std::vector<P3> pts;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double u = -1 + 2.0 * i / (n - 1), v = -1 + 2.0 * j / (n - 1);
      const double x = u * std::sqrt(1 - v * v / 2), y = v * std::sqrt(1 - u * u / 2);
      const double z = 0.03 * std::sin(3 * x) * std::cos(2 * y);
      pts.push_back({at[0] + size * x, at[1] + size * y, at[2] + size * z});
    }
  std::vector<TestTriangle> tris;
  for (int j = 0; j + 1 < n; ++j)
    for (int i = 0; i + 1 < n; ++i) {
      const int a = i + n * j;
      tris.push_back({a, a + 1, a + n + 1});
      tris.push_back({a, a + n + 1, a + n});
    }
  return MakeTestMesh(pts, tris);
}

int BoundaryLoops(const Cloud* m) {
  MeshEdgesAndLoops lp;
  EXPECT_EQ(lp.Build(m), 0);
  return lp.nloops;
}

TEST_F(CountDecimationBoundary, ASheetReducedToATenthKeepsItsRimAndReportsItsMeasuredDistance) {
  const int n = 31;
  for (double size : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const P3 at = {3e3 * size, -1e3 * size, 2e3 * size};
    Cloud* original = WavyDisc(n, size, at);
    Cloud* m = WavyDisc(n, size, at);
    ASSERT_TRUE(original && m);
    const int target = m->ntri / 10;
    double box[6] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int i = 0; i < m->npts; ++i) {
      const double p[3] = {m->x[i], m->y[i], m->z[i]};
      for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
    }
    double reported = -1;
    ASSERT_EQ(ReducePolygonsByCount(m, target, 1, 1, 1, box, &reported), 0);
    EXPECT_LE(m->ntri, target);
    EXPECT_EQ(BoundaryLoops(m), 1);
    const MeshSurface before(original), after(m);
    const double measured = std::max(after.LargestFrom(before), before.LargestFrom(after));
    // Both sample the surfaces, at different points.
    EXPECT_GE(reported, measured * 0.95) << "reported " << reported << ", measured " << measured;
    EXPECT_LE(reported, measured * 1.25) << "reported " << reported << ", measured " << measured;
    // The rim keeps its shape: within a hundredth of the disc's size, well below what the wave
    // alone would give a rim cut across (a chord of the 160-point circle cut to a tenth is
    // already 0.3% off).
    EXPECT_LT(measured, 0.01 * size);
    FreeCloud(original);
    FreeCloud(m);
  }
}

// Asked for fewer triangles than a sheet can keep with its rim in shape, the reduction stops above
// the count, keeps the rim, and says so in a message instead of meeting the count quietly.
TEST_F(CountDecimationBoundary, ACountTheRimCannotAllowStopsAboveItAndSaysSo) {
  Cloud* m = WavyDisc(15, 1.0, {0, 0, 0});
  ASSERT_NE(m, nullptr);
  double box[6] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int i = 0; i < m->npts; ++i) {
    const double p[3] = {m->x[i], m->y[i], m->z[i]};
    for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
  }
  double reported = -1;
  ASSERT_EQ(ReducePolygonsByCount(m, 4, 1, 1, 1, box, &reported), 0);
  EXPECT_GT(m->ntri, 4);
  EXPECT_EQ(BoundaryLoops(m), 1);
  EXPECT_NE(Messages().find("Decimation stopped at " + std::to_string(m->ntri) + " triangles, above the 4 asked for"),
            std::string::npos)
      << Messages();
  FreeCloud(m);
}

}  // namespace
