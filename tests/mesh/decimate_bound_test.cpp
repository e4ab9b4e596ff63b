// Decimation to a triangle count against brute force: the reported error bounds the two-way
// distance between the result and the original, and no edge ends up in three triangles.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "cloud/makecld.h"
#include "foundation/minmax.h"
#include "mesh/putil.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class DecimationBound : public KernelTest {};

using P3 = MeshSurface::P3;

// The largest distance of surface `from`, sampled on a lattice of `steps` per edge of every
// triangle, from surface `to`: a lower bound of the one-way distance.
double SampledFrom(const MeshSurface& from, const MeshSurface& to, int steps) {
  double worst = 0;
  for (const auto& t : from.tris)
    for (int i = 0; i <= steps; ++i)
      for (int j = 0; i + j <= steps; ++j) {
        const double u = double(i) / steps, w = double(j) / steps;
        P3 p;
        for (int d = 0; d < 3; ++d) p[d] = t[0][d] + u * (t[1][d] - t[0][d]) + w * (t[2][d] - t[0][d]);
        worst = std::max(worst, to.Distance(p));
      }
  return worst;
}

int MostUsesOfAnEdge(const Cloud* m) {
  std::map<std::pair<int, int>, int> uses;
  int most = 0;
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) most = std::max(most, ++uses[std::minmax(m->tri[t].v[k], m->tri[t].v[(k + 1) % 3])]);
  return most;
}

// A hinge: two flaps of an n x n grid folded along the middle column by `fold` radians, its
// points jittered along the surface by `jitter` of a cell, cells where hole(i, j) left out.
Cloud* Hinge(int n, double fold, double jitter, unsigned seed, const std::function<bool(int, int)>& hole) {
  Cloud* m = MakeGridMesh(n, n, [&](int i, int j) { return !hole(i, j); });
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-jitter, jitter);
  const double mid = (n - 1) / 2.0;
  for (int i = 0; i < m->npts; ++i) {
    const int gi = i % n, gj = i / n;
    double x = gi + (gi > 0 && gi < n - 1 && gi != int(mid) ? u(rng) : 0.0);
    const double y = gj + (gj > 0 && gj < n - 1 ? u(rng) : 0.0);
    double z = 0;
    if (x > mid) z = (x - mid) * std::sin(fold), x = mid + (x - mid) * std::cos(fold);
    m->x[i] = float(x), m->y[i] = float(y), m->z[i] = float(z);
  }
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  return m;
}

// Hinges with holes reduced to a tenth and a quarter: the reported error is no less than the
// two-way distance measured by brute force on a lattice over both surfaces, and no more than a
// little above it.
TEST_F(DecimationBound, ReportedErrorBoundsTheTwoWayDistance) {
  for (unsigned seed : {3u, 10u})
    for (double share : {0.1, 0.25}) {
      SCOPED_TRACE(testing::Message() << seed << " " << share);
      std::mt19937 rng(seed);
      std::uniform_int_distribution<int> pick(0, 99);
      Cloud* m = Hinge(13, 1.2 + 0.05 * seed, 0.3, seed, [&](int, int) { return pick(rng) < 6; });
      const MeshSurface before(m);
      double box[6];
      GetCloudMinMax(m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
      double maxError = -1;
      ASSERT_EQ(ReducePolygonsByCount(m, int(share * m->ntri), 1, 1, 1, box, &maxError), 0);
      const MeshSurface after(m);
      const double sampled = std::max(SampledFrom(before, after, 3), SampledFrom(after, before, 10));
      EXPECT_GE(maxError, sampled * (1 - 1e-9));
      EXPECT_LE(maxError, 1.05 * sampled + 1e-5);
      EXPECT_LE(MostUsesOfAnEdge(m), 2);
      FreeCloud(m);
    }
}

// A smooth wavy field reduced to a tenth, where the error comes out about alike everywhere and
// the bound is settled by pieces all over the result, each measured against the original by its
// nearest triangle, often one binned in a cell beside the piece's: at sizes 1e-3 and 1e3 and far
// from the origin, the reported error is no less than the sampled two-way distance and no more
// than its hundredth above the true one.
TEST_F(DecimationBound, SmoothFieldErrorIsTheTwoWayDistance) {
  for (const auto& [size, away] : {std::pair{1e-3, 0.0}, std::pair{1e3, 50.0}}) {
    SCOPED_TRACE(testing::Message() << size << " " << away);
    const int n = 15;
    Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; });
    for (int i = 0; i < m->npts; ++i) {
      const double x = i % n, y = i / n;
      m->x[i] = float(size * (away + x)), m->y[i] = float(size * (away + y));
      m->z[i] = float(size * (away + 1.5 * std::sin(x / 3.0) * std::cos(y / 4.0)));
    }
    for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
    const MeshSurface before(m);
    double box[6];
    GetCloudMinMax(m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
    double maxError = -1;
    ASSERT_EQ(ReducePolygonsByCount(m, m->ntri / 10, 1, 1, 1, box, &maxError), 0);
    const MeshSurface after(m);
    const double sampled = std::max(SampledFrom(before, after, 3), SampledFrom(after, before, 20));
    EXPECT_GE(maxError, sampled * (1 - 1e-6));
    EXPECT_LE(maxError, 1.03 * sampled);  // the lattice falls short by up to 2%
    FreeCloud(m);
  }
}

// A flap whose boundary point lies on the edge of a fin (two faces meeting without sharing that
// point, as where tessellated faces of a part meet): removing the point would give the fin's
// edge a third triangle. It stays, and the reduction stops above the count.
TEST_F(DecimationBound, NoEdgeGetsAThirdTriangle) {
  // a = 0, c = 1 the fin's edge; x = 2, y = 3 its two faces' far corners; v = 4 on the edge,
  // b = 5 the flap's far corner.
  const std::vector<std::array<double, 3>> pts = {{0, 0, 0}, {2, 0, 0}, {1, -1, 0.5}, {1, -1, -0.5}, {1, 0, 0}, {1, 1, 0}};
  const std::vector<TestTriangle> tris = {{0, 1, 2}, {1, 0, 3}, {4, 0, 5}, {4, 5, 1}};
  Cloud* m = MakeTestMesh(pts, tris);
  ASSERT_EQ(MostUsesOfAnEdge(m), 2);
  const double box[6] = {0, -1, -0.5, 2, 1, 0.5};
  double maxError = -1;
  EXPECT_EQ(ReducePolygonsByCount(m, 3, 1, 1, 1, box, &maxError), 0);
  EXPECT_LE(MostUsesOfAnEdge(m), 2);
  EXPECT_EQ(m->ntri, 4);
  FreeCloud(m);
}

}  // namespace
