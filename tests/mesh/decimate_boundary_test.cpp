// Decimation by count of an open sheet: its boundary keeps its shape and the reported largest
// error is the measured distance between the result and the original, checked by sampling both
// against each other by brute force, at sizes 1e-3..1e3 moved away from the origin.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
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

// A blade: a thin twisted tube of airfoil-like sections (`around` points, chord `size`, tapering
// along 3 x size), closed at the tip by a fan, open at the root; its root loop is curved and
// its two sides lie close together, where a rim could be zipped shut.
Cloud* Blade(int around, int rows, double size, const P3& at) {
  std::vector<P3> pts;
  for (int j = 0; j <= rows; ++j) {
    const double z = 3.0 * j / rows, chord = 1 - z / 6, twist = 0.2 * z;
    for (int i = 0; i < around; ++i) {
      const double th = 2 * M_PI * i / around;
      const double x = chord * 0.5 * (1 + std::cos(th)), y = chord * 0.06 * std::sin(th) * (1 + 0.5 * std::cos(th));
      pts.push_back({at[0] + size * (x * std::cos(twist) - y * std::sin(twist)),
                     at[1] + size * (x * std::sin(twist) + y * std::cos(twist)), at[2] + size * z});
    }
  }
  const int tip = int(pts.size());
  pts.push_back({at[0] + size * 0.25 * std::cos(0.6), at[1] + size * 0.25 * std::sin(0.6), at[2] + size * 3.05});
  std::vector<TestTriangle> tris;
  auto ring = [around](int j, int i) { return j * around + i % around; };
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < around; ++i)
      tris.push_back({ring(j, i), ring(j, i + 1), ring(j + 1, i + 1)}), tris.push_back({ring(j, i), ring(j + 1, i + 1), ring(j + 1, i)});
  for (int i = 0; i < around; ++i) tris.push_back({ring(rows, i), ring(rows, i + 1), tip});
  return MakeTestMesh(pts, tris);
}

// A saddle over a square of side 2 x size (an n x n grid): a curved rim with four corners.
Cloud* Saddle(int n, double size, const P3& at) {
  std::vector<P3> pts;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double x = -1 + 2.0 * i / (n - 1), y = -1 + 2.0 * j / (n - 1);
      pts.push_back({at[0] + size * x, at[1] + size * y, at[2] + size * 0.2 * (x * x - y * y)});
    }
  Cloud* grid = MakeGridMesh(n, n, [](int, int) { return true; });
  std::vector<TestTriangle> tris;
  for (int t = 0; t < grid->ntri; ++t) tris.push_back({grid->tri[t].v[0], grid->tri[t].v[1], grid->tri[t].v[2]});
  FreeCloud(grid);
  return MakeTestMesh(pts, tris);
}

// The open edges of a mesh (edges of one triangle), as point pairs.
std::vector<std::array<int, 2>> OpenEdges(const Cloud* m) {
  std::map<std::array<int, 2>, int> uses;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      ++uses[{std::min(a, b), std::max(a, b)}];
    }
  std::vector<std::array<int, 2>> open;
  for (const auto& [e, n] : uses)
    if (n == 1) open.push_back(e);
  return open;
}

// Open meshes reduced to a tenth by count: the result's distance from the original, measured
// both ways by brute force, is what the reduction reports; every point of the original's rim
// lies within that of the result's rim (the rim kept within the error bound, not zipped shut
// or cut across), the result's rim runs through original rim points only, and the saddle's four
// corners stay. Sizes 1e-3 and 1e3, 1e4 x the size from the origin.
TEST_F(CountDecimationBoundary, OpenMeshesKeepTheirRimWithinTheReportedError) {
  for (double size : {1e-3, 1e3}) {
    const P3 at = {1e4 * size, 5e3 * size, -2e3 * size};
    for (int shape = 0; shape < 2; ++shape) {
      SCOPED_TRACE(testing::Message() << (shape == 0 ? "blade" : "saddle") << " size " << size);
      Cloud* original = shape == 0 ? Blade(40, 20, size, at) : Saddle(25, size, at);
      Cloud* m = shape == 0 ? Blade(40, 20, size, at) : Saddle(25, size, at);
      ASSERT_TRUE(original && m);
      double box[6] = {HUGE_VAL, HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
      for (int i = 0; i < m->npts; ++i) {
        const double p[3] = {m->x[i], m->y[i], m->z[i]};
        for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
      }
      double reported = -1;
      ASSERT_EQ(ReducePolygonsByCount(m, m->ntri / 10, 1, 1, 1, box, &reported), 0);
      const double measured = MeshSurface::Between(original, m);
      EXPECT_GE(reported, measured * 0.95) << "reported " << reported << ", measured " << measured;
      EXPECT_LE(reported, measured * 1.25) << "reported " << reported << ", measured " << measured;
      const auto rimBefore = OpenEdges(original), rimAfter = OpenEdges(m);
      std::vector<P3> rimPoints;
      for (const auto& e : rimBefore)
        for (int v : e) rimPoints.push_back({original->x[v], original->y[v], original->z[v]});
      double worst = 0;
      for (const P3& p : rimPoints) {
        double best = HUGE_VAL;
        for (const auto& e : rimAfter) {
          const double a[3] = {m->x[e[0]], m->y[e[0]], m->z[e[0]]}, b[3] = {m->x[e[1]], m->y[e[1]], m->z[e[1]]};
          double foot[3], d2, s;
          LineSegPntMinDistSq(p.data(), a, b, foot, &d2, &s);
          best = std::min(best, d2);
        }
        worst = std::max(worst, std::sqrt(best));
      }
      EXPECT_LE(worst, reported * 1.01 + 1e-12 * size) << "rim " << rimBefore.size() << " -> " << rimAfter.size();
      for (const auto& e : rimAfter)
        for (int v : e)
          EXPECT_NE(std::find(rimPoints.begin(), rimPoints.end(), P3{m->x[v], m->y[v], m->z[v]}), rimPoints.end());
      if (shape == 1)
        for (const P3& corner : {P3{-1, -1, 0}, P3{1, -1, 0}, P3{-1, 1, 0}, P3{1, 1, 0}}) {
          const P3 c = {at[0] + size * corner[0], at[1] + size * corner[1], at[2]};
          bool kept = false;
          for (int i = 0; i < m->npts; ++i)
            kept = kept || (m->x[i] == float(c[0]) && m->y[i] == float(c[1]) && m->z[i] == float(c[2]));
          EXPECT_TRUE(kept) << corner[0] << ", " << corner[1];
        }
      FreeCloud(original);
      FreeCloud(m);
    }
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
