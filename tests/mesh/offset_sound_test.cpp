// Offsets of closed, concave solids: the result is a closed, consistently oriented surface with
// no edge of three triangles, and none of its points nearer the source than 0.95 of the distance.
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "cloud/pcopy.h"
#include "foundation/minmax.h"
#include "mesh/poffset.h"
#include "tests/mesh/soundness.h"
#include "tests/support/kernel_fixture.h"

namespace {

class OffsetSoundness : public KernelTest {};

// Distance from p to triangle abc: the nearer of the inside of the plane's foot and the edges.
double ToTriangle(const double p[3], const double a[3], const double b[3], const double c[3]) {
  auto sub = [](const double* u, const double* v, double* w) { w[0] = u[0] - v[0], w[1] = u[1] - v[1], w[2] = u[2] - v[2]; };
  auto dot = [](const double* u, const double* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
  auto toSegment = [&](const double* s, const double* e) {
    double d[3], w[3];
    sub(e, s, d), sub(p, s, w);
    const double t = std::clamp(dot(w, d) / dot(d, d), 0.0, 1.0);
    for (int k = 0; k < 3; ++k) w[k] -= t * d[k];
    return std::sqrt(dot(w, w));
  };
  double e1[3], e2[3], w[3], n[3];
  sub(b, a, e1), sub(c, a, e2), sub(p, a, w);
  n[0] = e1[1] * e2[2] - e1[2] * e2[1], n[1] = e1[2] * e2[0] - e1[0] * e2[2], n[2] = e1[0] * e2[1] - e1[1] * e2[0];
  const double nn = dot(n, n), h = dot(w, n) / nn;
  double f[3];
  for (int k = 0; k < 3; ++k) f[k] = p[k] - h * n[k];
  // Barycentric test of the foot f against the three edges.
  bool inside = true;
  const double* corner[3] = {a, b, c};
  for (int k = 0; k < 3 && inside; ++k) {
    double e[3], g[3], x[3];
    sub(corner[(k + 1) % 3], corner[k], e), sub(f, corner[k], g);
    x[0] = e[1] * g[2] - e[2] * g[1], x[1] = e[2] * g[0] - e[0] * g[2], x[2] = e[0] * g[1] - e[1] * g[0];
    inside = dot(x, n) >= 0;
  }
  if (inside) return std::fabs(h) * std::sqrt(nn);
  return std::min({toSegment(a, b), toSegment(b, c), toSegment(c, a)});
}

// Points of the result's triangles nearer the source than limit (brute force).
int NearPoints(const Cloud* result, const Cloud* source, double limit) {
  std::vector<bool> used(result->npts, false);
  for (int t = 0; t < result->ntri; ++t)
    for (int k : result->tri[t].v) used[k] = true;
  int near = 0;
  for (int i = 0; i < result->npts; ++i) {
    if (!used[i]) continue;
    const double p[3] = {result->x[i], result->y[i], result->z[i]};
    double best = HUGE_VAL;
    for (int t = 0; t < source->ntri; ++t) {
      double q[3][3];
      for (int k = 0; k < 3; ++k) {
        const int v = source->tri[t].v[k];
        q[k][0] = source->x[v], q[k][1] = source->y[v], q[k][2] = source->z[v];
      }
      best = std::min(best, ToTriangle(p, q[0], q[1], q[2]));
    }
    near += best < limit;
  }
  return near;
}

// Offsets the mesh by d (mode as given) and checks the result against the source.
void ExpectSoundOffset(const Cloud* source, double d, int mode, const testing::Message& what) {
  Cloud* m = CopyCloud(source);
  ASSERT_NE(m, nullptr);
  double box[6];
  GetCloudMinMax(m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  ASSERT_NE(CreateOffsetPolyCloud(m, d, 1e-6 * std::fabs(d), 0, box, mode, 0), nullptr) << what;
  const MeshSoundness s(m);
  EXPECT_EQ(s.open, 0) << what;
  EXPECT_EQ(s.overused, 0) << what;
  EXPECT_EQ(s.disagreeing, 0) << what;
  EXPECT_EQ(NearPoints(m, source, 0.95 * std::fabs(d) * (1 - 1e-5)), 0) << what;
  FreeCloud(m);
}

// A sphere of radius (1 + amp sin(k phi) sin(k theta)) times scale on an n x n/2 latitude-longitude
// net with a vertex at each pole, facing out: bumps in and out, no two neighbouring triangles in
// one plane.
Cloud* BumpySphere(int n, double amp, int k, double scale) {
  std::vector<std::array<double, 3>> pts = {{0, 0, scale}};
  for (int j = 1; j < n / 2; ++j)
    for (int i = 0; i < n; ++i) {
      const double theta = 2 * M_PI * j / n, phi = 2 * M_PI * i / n;
      const double r = scale * (1 + amp * std::sin(k * phi) * std::sin(k * theta));
      pts.push_back({r * std::sin(theta) * std::cos(phi), r * std::sin(theta) * std::sin(phi), r * std::cos(theta)});
    }
  pts.push_back({0, 0, -scale});
  const int south = int(pts.size()) - 1;
  const auto at = [n](int j, int i) { return 1 + (j - 1) * n + i % n; };
  std::vector<TestTriangle> tris;
  for (int i = 0; i < n; ++i) {
    tris.push_back({0, at(1, i), at(1, i + 1)});
    tris.push_back({south, at(n / 2 - 1, i + 1), at(n / 2 - 1, i)});
    for (int j = 1; j + 1 < n / 2; ++j) {
      tris.push_back({at(j, i), at(j + 1, i), at(j + 1, i + 1)});
      tris.push_back({at(j, i), at(j + 1, i + 1), at(j, i + 1)});
    }
  }
  return MakeTestMesh(pts, tris);
}

// An L-shaped block 4 x 4 x 1 (a 2 x 2 corner cut away): concave along the inner corner's edge,
// convex elsewhere, offset by 1% of its diagonal outwards and inwards, both ways of meeting a
// concave edge, at sizes from a micron to a kilometre.
TEST_F(OffsetSoundness, ConcaveBlockOffsetsAreClosedOrientedAndKeepTheirDistance) {
  const std::vector<std::array<int, 3>> L = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                             {2, 1, 0}, {3, 1, 0}, {0, 2, 0}, {1, 2, 0}, {0, 3, 0}, {1, 3, 0}};
  for (double scale : {1e-6, 1e6})
    for (int cells : {2, 3})
      for (double sign : {1.0, -1.0})
        for (int mode : {0, 1}) {
          Cloud* source = CubesSurface(L, cells, scale);
          ASSERT_NE(source, nullptr);
          Cloud* m = CopyCloud(source);
          ASSERT_NE(m, nullptr);
          const double box[6] = {0, 0, 0, 4 * scale, 4 * scale, scale};
          const double d = sign * 0.01 * std::sqrt(33.0) * scale;
          ASSERT_NE(CreateOffsetPolyCloud(m, d, 1e-6 * scale, 0, box, mode, 0), nullptr);
          const MeshSoundness s(m);
          const auto what = testing::Message() << "scale " << scale << " cells " << cells << " d " << d << " mode " << mode;
          EXPECT_EQ(s.open, 0) << what;
          EXPECT_EQ(s.overused, 0) << what;
          EXPECT_EQ(s.disagreeing, 0) << what;
          EXPECT_EQ(NearPoints(m, source, 0.95 * std::fabs(d) * (1 - 1e-5)), 0) << what;
          FreeCloud(m);
          FreeCloud(source);
        }
}


// Finer cells and nearer distances than above: welding splits open edges at vertices whose own
// triangles face the other way there, unless it checks that the halves agree with them.
TEST_F(OffsetSoundness, FinelyCutConcaveBlockOffsetsAgreeAcrossEveryEdge) {
  const std::vector<std::array<int, 3>> L = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                             {2, 1, 0}, {3, 1, 0}, {0, 2, 0}, {1, 2, 0}, {0, 3, 0}, {1, 3, 0}};
  for (double scale : {1e-6, 1e6})
    for (double f : {0.005, 0.01}) {
      Cloud* source = CubesSurface(L, 4, scale);
      ASSERT_NE(source, nullptr);
      ExpectSoundOffset(source, f * std::sqrt(33.0) * scale, 0, testing::Message() << "scale " << scale << " f " << f);
      FreeCloud(source);
    }
}

TEST_F(OffsetSoundness, BumpySphereOffsetsAreClosedOrientedAndKeepTheirDistance) {
  struct Case {
    int n;
    double amp;
    int k;
    double sign;
  };
  for (const Case& c : {Case{16, 0.1, 5, 1}, Case{16, 0.2, 3, 1}, Case{16, 0.2, 3, -1}})
    for (double scale : {1e-6, 1.0, 1e6}) {
      Cloud* source = BumpySphere(c.n, c.amp, c.k, scale);
      ASSERT_NE(source, nullptr);
      const double d = c.sign * 0.02 * std::sqrt(3.0) * scale;  // 1% of the box diagonal
      ExpectSoundOffset(source, d, 0, testing::Message() << "n " << c.n << " amp " << c.amp << " k " << c.k << " d " << d);
      FreeCloud(source);
    }
}

}  // namespace
