// Decimation by count of CAD-like meshes, whose faces are flat or ruled: points whose removal
// keeps the shape (flat fans, straight creases and straight rows) go before any other, so a count
// those removals can reach leaves the shape as it was, to round-off, and the points no exact
// removal can take (cube corners, circle points) all stay. Sizes 1e-6..1e6 moved 1e4 x the size
// from the origin.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <vector>

#include "cloud/pcopy.h"
#include "mesh/putil.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class ExactDecimation : public KernelTest {};

using P3 = std::array<double, 3>;

// A cube of side `size` centred at `at`, each face an n x n grid of cells, outward facing.
Cloud* GridCube(int n, double size, const P3& at) {
  std::vector<P3> pts;
  std::vector<TestTriangle> tris;
  for (int axis = 0; axis < 3; ++axis)
    for (int side = -1; side <= 1; side += 2) {
      const int u = (axis + 1) % 3, w = (axis + 2) % 3, first = int(pts.size());
      for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
          P3 p;
          p[axis] = at[axis] + side * size / 2;
          p[u] = at[u] + size * (double(i) / n - 0.5);
          p[w] = at[w] + size * (double(j) / n - 0.5);
          pts.push_back(p);
        }
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
          const int a = first + i + (n + 1) * j, b = a + 1, c = a + n + 2, d = a + n + 1;
          if (side > 0) tris.push_back({a, b, c}), tris.push_back({a, c, d});
          else tris.push_back({a, c, b}), tris.push_back({a, d, c});
        }
    }
  // The faces' shared edges and corners as one point each.
  std::vector<int> same(pts.size());
  std::vector<P3> merged;
  for (size_t k = 0; k < pts.size(); ++k) {
    size_t m = 0;
    while (m < merged.size() && merged[m] != pts[k]) ++m;
    if (m == merged.size()) merged.push_back(pts[k]);
    same[k] = int(m);
  }
  for (auto& t : tris)
    for (int& v : t) v = same[v];
  return MakeTestMesh(merged, tris);
}

// A closed cylinder of radius `size` and length 3 x size along z from `at`: `segments` round and
// `rows` rows of long thin triangles, each end a fan from its centre.
Cloud* FannedCylinder(int segments, int rows, double size, const P3& at) {
  std::vector<P3> pts;
  for (int j = 0; j <= rows; ++j)
    for (int i = 0; i < segments; ++i) {
      const double a = 2 * M_PI * i / segments;
      pts.push_back({at[0] + size * std::cos(a), at[1] + size * std::sin(a), at[2] + 3 * size * j / rows});
    }
  const int low = int(pts.size());
  pts.push_back(at);
  pts.push_back({at[0], at[1], at[2] + 3 * size});
  auto ring = [segments](int j, int i) { return j * segments + i % segments; };
  std::vector<TestTriangle> tris;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < segments; ++i)
      tris.push_back({ring(j, i), ring(j, i + 1), ring(j + 1, i + 1)}), tris.push_back({ring(j, i), ring(j + 1, i + 1), ring(j + 1, i)});
  for (int i = 0; i < segments; ++i)
    tris.push_back({low, ring(0, i + 1), ring(0, i)}), tris.push_back({low + 1, ring(rows, i), ring(rows, i + 1)});
  return MakeTestMesh(pts, tris);
}

double Diagonal(const Cloud* m, double box[6]) {
  for (int k = 0; k < 3; ++k) box[k] = HUGE_VAL, box[3 + k] = -HUGE_VAL;
  for (int i = 0; i < m->npts; ++i) {
    const double p[3] = {m->x[i], m->y[i], m->z[i]};
    for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], p[k]), box[3 + k] = std::max(box[3 + k], p[k]);
  }
  return std::hypot(box[3] - box[0], box[4] - box[1], box[5] - box[2]);
}

// How many of the given points are still points of m.
int Kept(const Cloud* m, const std::vector<P3>& wanted) {
  int kept = 0;
  for (const P3& w : wanted)
    for (int i = 0; i < m->npts; ++i)
      if (float(w[0]) == m->x[i] && float(w[1]) == m->y[i] && float(w[2]) == m->z[i]) {
        ++kept;
        break;
      }
  return kept;
}

// Turns m's points about `at` by a and 0.7 a about z and x; stored in single precision again,
// its flat faces and straight rows are so only to their points' rounding.
void Turn(Cloud* m, const P3& at, double a) {
  const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(0.7 * a), sb = std::sin(0.7 * a);
  for (int i = 0; i < m->npts; ++i) {
    const double x = m->x[i] - at[0], y = m->y[i] - at[1], z = m->z[i] - at[2];
    const double u = ca * x - sa * y, v = sa * x + ca * y;
    m->x[i] = float(at[0] + u), m->y[i] = float(at[1] + cb * v - sb * z), m->z[i] = float(at[2] + sb * v + cb * z);
  }
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
}

// Reduces m to target and checks the result against the original by brute force: within
// `within` of it (round-off), reported as such, at the count asked (or one below), every point
// of `keep` left.
void ExpectExactReduction(Cloud* m, int target, const std::vector<P3>& keep, double within) {
  Cloud* original = CopyCloud(m);
  ASSERT_NE(original, nullptr);
  double box[6];
  Diagonal(m, box);
  double reported = -1;
  ASSERT_EQ(ReducePolygonsByCount(m, target, 1, 1, 1, box, &reported), 0);
  EXPECT_LE(m->ntri, target);
  EXPECT_GE(m->ntri, target - 1);
  EXPECT_LE(reported, within);
  EXPECT_LE(MeshSurface::Between(original, m), within);
  EXPECT_EQ(Kept(m, keep), int(keep.size()));
  FreeCloud(original);
}

TEST_F(ExactDecimation, FlatFacesAndStraightEdgesGoFirstAndTheShapeStays) {
  for (double size : {1e-6, 1.0, 1e6}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const P3 at = {1e4 * size, -7e3 * size, 4e3 * size};
    // A cube of 300 triangles to 24: only points inside faces and along edges can go.
    Cloud* cube = GridCube(5, size, at);
    ASSERT_NE(cube, nullptr);
    std::vector<P3> corners;
    for (int c = 0; c < 8; ++c)
      corners.push_back({at[0] + size * ((c & 1) - 0.5), at[1] + size * ((c >> 1 & 1) - 0.5), at[2] + size * ((c >> 2) - 0.5)});
    ExpectExactReduction(cube, 24, corners, 1e-9 * std::sqrt(3.0) * size);
    FreeCloud(cube);
    // A cylinder of 24 segments and 8 rows (432 triangles) to 100: the inner rows' points and the
    // ends' centres go, the two circles stay; also turned off the axes, where its rows are
    // straight only to the rounding of its far-off points (four units in their last place).
    for (double turn : {0.0, 0.3}) {
      SCOPED_TRACE(testing::Message() << "turned " << turn);
      Cloud* cylinder = FannedCylinder(24, 8, size, at);
      ASSERT_NE(cylinder, nullptr);
      Turn(cylinder, at, turn);
      std::vector<P3> circles;
      for (int i = 0; i < 24; ++i)
        for (int end = 0; end < 2; ++end)
          circles.push_back({cylinder->x[i + 8 * 24 * end], cylinder->y[i + 8 * 24 * end], cylinder->z[i + 8 * 24 * end]});
      const double far = std::max({std::fabs(at[0]), std::fabs(at[1]), std::fabs(at[2])}) + 4 * size;
      ExpectExactReduction(cylinder, 100, circles, turn == 0 ? 1e-9 * std::sqrt(17.0) * size : 4 * FLT_EPSILON * far);
      FreeCloud(cylinder);
    }
  }
}

}  // namespace
