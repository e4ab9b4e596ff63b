// Caps over rims whose sides carry collinear points, as meshers write a straight edge: no cap
// triangle of zero or near-zero area (every corner angle above a degree), the cap filling the rim
// exactly once and the surface closed and oriented, at sizes 1e-3..1e3 moved away from the origin.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "mesh/cldtrim.h"
#include "mesh/trianum.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class FairCaps : public KernelTest {};

using P2 = std::array<double, 2>;

// A tube of height `height` over the polygon (counter-clockwise corners), each side cut into
// `segments` pieces, one band of wall triangles facing out; both ends open.
Cloud* Tube(const std::vector<P2>& corners, int segments, double height, double size, const P2& at) {
  std::vector<P2> rim;
  for (size_t c = 0; c < corners.size(); ++c) {
    const P2& a = corners[c];
    const P2& b = corners[(c + 1) % corners.size()];
    for (int s = 0; s < segments; ++s) {
      const double t = double(s) / segments;
      rim.push_back({a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])});
    }
  }
  const int n = int(rim.size());
  std::vector<std::array<double, 3>> pts;
  for (int level = 0; level < 2; ++level)
    for (const P2& p : rim) pts.push_back({at[0] + size * p[0], at[1] + size * p[1], at[0] + size * height * level});
  std::vector<TestTriangle> tris;
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    tris.push_back({i, j, n + j});
    tris.push_back({i, n + j, n + i});
  }
  return MakeTestMesh(pts, tris);
}

double LeastAngleDegrees(const Cloud* m, int t) {
  double p[3][3];
  for (int k = 0; k < 3; ++k) {
    const int v = m->tri[t].v[k];
    p[k][0] = m->x[v], p[k][1] = m->y[v], p[k][2] = m->z[v];
  }
  double least = 180.0;
  for (int k = 0; k < 3; ++k) {
    const double* a = p[k];
    const double* b = p[(k + 1) % 3];
    const double* c = p[(k + 2) % 3];
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const double x[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    const double s = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    least = std::min(least, std::atan2(s, u[0] * w[0] + u[1] * w[1] + u[2] * w[2]) * 180.0 / M_PI);
  }
  return least;
}

// Caps both ends of the tube with CapAllLoops, or one with CapModel (which caps a set of loops on
// one plane), and checks the caps: all corner angles above a degree, their areas (seen along z)
// summing to the polygon's once per end (no overlap, no fold), the capped ends closed and oriented.
void CheckCapped(const std::vector<P2>& corners, int segments, double size, bool model = false) {
  const P2 at = {1e4 * size, -2e4 * size};
  Cloud* m = Tube(corners, segments, 0.7, size, at);
  ASSERT_NE(m, nullptr);
  const int walls = m->ntri;
  const int n = int(corners.size()) * segments;
  if (model) {
    MeshEdgesAndLoops lp;
    ASSERT_EQ(lp.Build(m), 0);
    ASSERT_EQ(lp.nloops, 2);
    EXPECT_EQ(CapModel(m, lp.edges, 1, lp.loops), 1);
  } else {
    EXPECT_EQ(CapAllLoops(m), 1);
  }
  EXPECT_FALSE(KernelFailed()) << "size " << size << (model ? " CapModel" : "");
  const int ends = model ? 1 : 2;
  ASSERT_EQ(m->ntri, walls + ends * (n - 2)) << "size " << size << (model ? " CapModel" : "");
  // The rim's area as its points are stored (in float, far out from the origin).
  double polygon = 0.0;
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    polygon += 0.5 * ((m->x[i] - at[0]) * (m->y[j] - at[1]) - (m->x[j] - at[0]) * (m->y[i] - at[1]));
  }
  double least = 180.0, covered = 0.0;
  for (int t = walls; t < m->ntri; ++t) {
    least = std::min(least, LeastAngleDegrees(m, t));
    const int* v = m->tri[t].v;
    const double ax = m->x[v[0]] - at[0], ay = m->y[v[0]] - at[1];
    const double ux = m->x[v[1]] - at[0] - ax, uy = m->y[v[1]] - at[1] - ay;
    const double wx = m->x[v[2]] - at[0] - ax, wy = m->y[v[2]] - at[1] - ay;
    covered += 0.5 * std::fabs(ux * wy - uy * wx);
  }
  EXPECT_GT(least, 1.0) << "size " << size << (model ? " CapModel" : "");
  EXPECT_NEAR(covered, ends * polygon, 1e-6 * polygon) << "size " << size << (model ? " CapModel" : "");
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, (2 - ends) * n) << "size " << size << (model ? " CapModel" : "");
  EXPECT_EQ(s.overused, 0) << "size " << size << (model ? " CapModel" : "");
  EXPECT_EQ(s.disagreeing, 0) << "size " << size << (model ? " CapModel" : "");
  FreeCloud(m);
}

TEST_F(FairCaps, SquareRimsWithCollinearPointsGetNoSliver) {
  const std::vector<P2> square = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (double size : {1e-3, 1.0, 1e3})
    for (int segments : {8, 32})
      for (bool model : {false, true}) CheckCapped(square, segments, size, model);
}

TEST_F(FairCaps, LShapedRimsWithCollinearPointsGetNoSliver) {
  const std::vector<P2> ell = {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
  for (double size : {1e-3, 1.0, 1e3})
    for (bool model : {false, true}) CheckCapped(ell, 32, size, model);
}

}  // namespace
