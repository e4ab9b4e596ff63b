// Offsets of meshes and clouds: closed shells whose points sit on the offset planes, refinement
// that keeps the surface, concavity seen from either side, cloud offsets that drop unreliable
// points with their scans, labels following their points, and failures that leak nothing.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "cloud/makecld.h"
#include "foundation/minmax.h"
#include "foundation/fmalloc.h"
#include "mesh/poffset.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshOffset : public KernelTest {};

using Pts = std::vector<std::array<double, 3>>;
using Tris = std::vector<TestTriangle>;

void P(const Cloud* c, int i, double p[3]) { p[0] = c->x[i], p[1] = c->y[i], p[2] = c->z[i]; }

// A quarter cylinder of radius r about the z axis, na x nh cells, consistently oriented.
Cloud* QuarterCylinder(int na, int nh, double r, double h) {
  Pts pts;
  Tris tris;
  for (int j = 0; j <= nh; ++j)
    for (int i = 0; i <= na; ++i) {
      const double a = 0.5 * M_PI * i / na;
      pts.push_back({r * std::cos(a), r * std::sin(a), h * j / nh});
    }
  for (int j = 0; j < nh; ++j)
    for (int i = 0; i < na; ++i) {
      const int a = i + (na + 1) * j, b = a + 1, c = b + na + 1, d = a + na + 1;
      tris.push_back({a, b, c});
      tris.push_back({a, c, d});
    }
  return MakeTestMesh(pts, tris);
}

// A right-angle fold along the y axis: face A on z = 0 (x from 0 to n), face B its mirror image
// in the plane x = z, so every crease vertex has as many triangles of equal area on either side.
// Crease vertices get normal (0, 0, 0), the others their face's unit normal.
Cloud* Fold(int n, double s) {
  Pts pts;
  Tris tris;
  auto a = [&](int i, int j) { return i + (n + 1) * j; };
  auto b = [&](int i, int j) { return i == 0 ? a(0, j) : (n + 1) * (n + 1) + (i - 1) + n * j; };
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) pts.push_back({s * i, s * j, 0.0});
  for (int j = 0; j <= n; ++j)
    for (int i = 1; i <= n; ++i) pts.push_back({0.0, s * j, s * i});
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      tris.push_back({a(i, j), a(i + 1, j), a(i + 1, j + 1)});
      tris.push_back({a(i, j), a(i + 1, j + 1), a(i, j + 1)});
      tris.push_back({b(i, j), b(i + 1, j + 1), b(i + 1, j)});  // mirrored: turned round
      tris.push_back({b(i, j), b(i, j + 1), b(i + 1, j + 1)});
    }
  Cloud* m = MakeTestMesh(pts, tris);
  if (!m || !CloudSetNormVerts(m)) return m;
  for (int t = 0; t < m->ntri; ++t)
    for (int k : m->tri[t].v) {
      const bool crease = m->x[k] == 0.0f && m->z[k] == 0.0f;
      m->nx[k] = crease ? 0.0f : m->tri[t].plane[0];
      m->ny[k] = crease ? 0.0f : m->tri[t].plane[1];
      m->nz[k] = crease ? 0.0f : m->tri[t].plane[2];
    }
  return m;
}

double Area(const Cloud* m) {
  double sum = 0;
  for (int t = 0; t < m->ntri; ++t) sum += FindCldTriangleArea(m, t);
  return sum;
}

TEST_F(MeshOffset, ShellOfQuarterCylinderIsClosedAndSmoothVerticesMoveAlongTheirNormals) {
  for (double scale : {1e-6, 1.0, 1e6})
    for (double dist : {0.1, -0.2}) {
      Cloud* m = QuarterCylinder(6, 3, 2.0 * scale, 3.0 * scale);
      ASSERT_NE(m, nullptr);
      const int n = m->npts, ntri = m->ntri, boundary = 2 * (6 + 3);
      double box[6];
      Cloud* shell = BuildOffsetPolyCloud(m, dist * scale, box);
      ASSERT_NE(shell, nullptr);
      ASSERT_EQ(shell->npts, 2 * n);
      EXPECT_EQ(shell->ntri, 2 * (ntri + boundary));
      const EdgeUses uses(shell);
      EXPECT_EQ(uses.open, 0);
      EXPECT_EQ(uses.repeated, 0);
      EXPECT_EQ(uses.reversedPairs, int(uses.directed.size()));
      for (int i = 0; i < n; ++i) {
        double p[3], q[3];
        P(shell, i, p), P(shell, n + i, q);
        EXPECT_EQ(p[0], m->x[i]);
        const double nrm[3] = {m->nx[i], m->ny[i], m->nz[i]};
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(q[k], p[k] + dist * scale * nrm[k], 1e-6 * scale);
        EXPECT_EQ(shell->nx[n + i], -m->nx[i]);
      }
      EXPECT_LE(box[0], shell->x[0]);
      FreeCloud(shell);
      FreeCloud(m);
    }
}

TEST_F(MeshOffset, ShellOfFoldPutsCreaseVerticesOnBothOffsetPlanes) {
  for (double dist : {0.25, -0.25}) {
    Cloud* m = Fold(3, 1.0);
    ASSERT_NE(m, nullptr);
    Cloud* shell = BuildOffsetPolyCloud(m, dist, nullptr);
    ASSERT_NE(shell, nullptr);
    const EdgeUses uses(shell);
    EXPECT_EQ(uses.open, 0);
    EXPECT_EQ(uses.repeated, 0);
    const float* pa = m->tri[0].plane;                // face A
    const float* pb = m->tri[2].plane;                // face B
    EXPECT_NEAR(pa[0] * pb[0] + pa[1] * pb[1] + pa[2] * pb[2], 0.0, 1e-6);
    int creases = 0;
    for (int i = 0; i < m->npts; ++i) {
      if (!(m->x[i] == 0.0f && m->z[i] == 0.0f)) continue;
      ++creases;
      double q[3];
      P(shell, m->npts + i, q);
      for (const float* pl : {pa, pb})
        EXPECT_NEAR(pl[0] * q[0] + pl[1] * q[1] + pl[2] * q[2] + pl[3], dist, 1e-5) << i;
    }
    EXPECT_EQ(creases, 4);
    FreeCloud(shell);
    FreeCloud(m);
  }
  Cloud* empty = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {});
  EXPECT_EQ(BuildOffsetPolyCloud(empty, 1.0, nullptr), nullptr);
  FreeCloud(empty);
}

TEST_F(MeshOffset, ShellRefusedAllocationsLeakNothing) {
  bool finished = false;
  for (long skip = 0; skip < 200 && !finished; ++skip) {
    ClearKernelError();
    Cloud* m = QuarterCylinder(3, 2, 1.0, 1.0);
    MallocFailAfter(skip, -1);
    Cloud* shell = BuildOffsetPolyCloud(m, 0.1, nullptr);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    finished = shell != nullptr;
    FreeCloud(shell);
    FreeCloud(m);
  }
  EXPECT_TRUE(finished);
}

TEST_F(MeshOffset, ConcaveEdgeTurnsWithTheOffsetSide) {
  Cloud* m = Fold(1, 1.0);
  ASSERT_NE(m, nullptr);
  // Triangles 1 and 3 meet along the crease from vertex 0 to vertex 2.
  int shared[2];
  const int t1 = 1, t2 = 3;
  ASSERT_EQ(VertNotInPoly2(m, t1, t2), 3);
  const int forward = IsConcaveEdge(m, t1, t2, 1.0, shared), backward = IsConcaveEdge(m, t1, t2, -1.0, shared);
  EXPECT_NE(forward, backward);
  EXPECT_EQ(IsConcaveEdge(m, t2, t1, 1.0, shared), forward);  // a crease looks the same from either face
  // The planes face the inside of the fold when their normals point at the other face.
  const float* n1 = m->tri[t1].plane;
  const int w2 = VertNotInPoly2(m, t2, t1);
  const double towards = n1[0] * m->x[w2] + n1[1] * m->y[w2] + n1[2] * m->z[w2] + n1[3];
  EXPECT_EQ(forward, towards > 0 ? 1 : 0);
  EXPECT_EQ(std::min(shared[0], shared[1]), 0);
  EXPECT_EQ(std::max(shared[0], shared[1]), 2);
  // Coplanar triangles are never concave; triangles sharing one vertex are not an edge.
  EXPECT_EQ(IsConcaveEdge(m, 0, 1, 1.0, shared), 0);
  EXPECT_EQ(IsConcaveEdge(m, 0, 1, -1.0, shared), 0);
  FreeCloud(m);
}

TEST_F(MeshOffset, RefinementKeepsTheSurfaceAndBoundsEveryEdge) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    Cloud* m = QuarterCylinder(4, 2, 2.0 * scale, 3.0 * scale);
    ASSERT_NE(m, nullptr);
    const double area = Area(m);
    const int boundaryBefore = EdgeUses(m).open;
    const double L = 0.3 * scale;
    ASSERT_EQ(SubdivideCloudEdgesToTol(m, L), 1);
    EXPECT_NEAR(Area(m), area, 1e-5 * area);
    EXPECT_LT(m->ntri, 20 * area / (L * L));  // triangles kept plump, not thinned without end
    const EdgeUses uses(m);
    EXPECT_EQ(uses.repeated, 0);
    EXPECT_GT(uses.open, boundaryBefore);  // boundary edges were halved, none left hanging
    for (const auto& [e, count] : uses.directed) {
      double a[3], b[3];
      P(m, e.first, a), P(m, e.second, b);
      EXPECT_LE(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), L * (1 + 1e-6));
    }
    // Midpoints lie on a chord of the cylinder: never outside its radius.
    for (int i = 0; i < m->npts; ++i) {
      EXPECT_LE(std::hypot(m->x[i], m->y[i]), 2.0 * scale * (1 + 1e-6));
      EXPECT_NE(m->nx[i], -1.0f);  // every new point's normal was computed
    }
    FreeCloud(m);
  }
}

TEST_F(MeshOffset, RefinementCancelledOrRefusedLeavesAWholeMesh) {
  Cloud* m = QuarterCylinder(8, 8, 2.0, 3.0);
  StubBreakAfterPolls(1);
  EXPECT_EQ(SubdivideCloudEdgesToTol(m, 0.01), 0);
  StubSetUserBreak(0);
  EXPECT_EQ(EdgeUses(m).repeated, 0);
  FreeCloud(m);
  EXPECT_EQ(SubdivideCloudEdgesToTol(nullptr, 1.0), 0);
  bool finished = false;
  for (long skip = 0; skip < 400 && !finished; ++skip) {
    ClearKernelError();
    m = QuarterCylinder(3, 2, 1.0, 1.0);
    const double area = Area(m);
    MallocFailAfter(skip, -1);
    const int r = SubdivideCloudEdgesToTol(m, 0.2);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    const EdgeUses uses(m);
    EXPECT_EQ(uses.repeated, 0) << skip;
    for (int t = 0; t < m->ntri; ++t)
      for (int k : m->tri[t].v) ASSERT_LT(k, m->npts);
    EXPECT_NEAR(Area(m), area, 1e-5 * area) << skip;
    finished = r == 1;
    FreeCloud(m);
  }
  EXPECT_TRUE(finished);
}

// A length 1/2000 of the mesh asks for at least 8.6e7 new triangles by area alone (gigabytes,
// minutes): refused at once, with the error state -2 (a cancel leaves it clear), the mesh as it
// was; at any scale.
TEST_F(MeshOffset, RefinementRefusesALengthThatAsksForMoreWorkThanACallCanSpend) {
  for (double scale : {1e-6, 1.0, 1e6}) {
    Cloud* m = QuarterCylinder(4, 2, 2.0 * scale, 3.0 * scale);
    ASSERT_NE(m, nullptr);
    const int points = m->npts, triangles = m->ntri;
    EXPECT_EQ(SubdivideCloudEdgesToTol(m, 5e-4 * scale), 0);
    EXPECT_EQ(zk_error_status, -2) << scale;
    ClearKernelError();
    EXPECT_EQ(m->npts, points);
    EXPECT_EQ(m->ntri, triangles);
    EXPECT_EQ(SubdivideCloudEdgesToTol(m, 0.5 * scale), 1);
    EXPECT_FALSE(KernelFailedNow());
    FreeCloud(m);
  }
}

// ---- Offsets in place -------------------------------------------------------------------------

// The closest point of triangle abc to p (regions of the triangle's Voronoi diagram).
double PointTriangleDistance(const double p[3], const double a[3], const double b[3], const double c[3]) {
  auto sub = [](const double* u, const double* v, double* w) { w[0] = u[0] - v[0], w[1] = u[1] - v[1], w[2] = u[2] - v[2]; };
  auto dot = [](const double* u, const double* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
  double ab[3], ac[3], ap[3], q[3];
  sub(b, a, ab), sub(c, a, ac), sub(p, a, ap);
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  auto at = [&](double s, double t) {
    for (int k = 0; k < 3; ++k) q[k] = a[k] + s * ab[k] + t * ac[k];
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
  };
  if (d1 <= 0 && d2 <= 0) return at(0, 0);
  double bp[3];
  sub(p, b, bp);
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return at(1, 0);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return at(d1 / (d1 - d3), 0);
  double cp[3];
  sub(p, c, cp);
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return at(0, 1);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return at(0, d2 / (d2 - d6));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) {
    const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    return at(1 - w, w);
  }
  const double den = 1 / (va + vb + vc);
  return at(vb * den, vc * den);
}

// The smallest distance of the vertices the result's triangles use to the source's triangles.
double NearestToSource(const Cloud* result, const Cloud* source) {
  double best = HUGE_VAL;
  std::vector<bool> used(result->npts, false);
  for (int t = 0; t < result->ntri; ++t)
    for (int k : result->tri[t].v) used[k] = true;
  for (int i = 0; i < result->npts; ++i) {
    if (!used[i]) continue;
    double p[3];
    P(result, i, p);
    for (int t = 0; t < source->ntri; ++t) {
      double a[3], b[3], c[3];
      P(source, source->tri[t].v[0], a), P(source, source->tri[t].v[1], b), P(source, source->tri[t].v[2], c);
      best = std::min(best, PointTriangleDistance(p, a, b, c));
    }
  }
  return best;
}

// Turns every triangle to face `towards` from its own centroid (a mesh whose faces all face one
// region is consistently oriented).
void FaceTowards(Cloud* m, const double towards[3]) {
  for (int t = 0; t < m->ntri; ++t) {
    double c[3] = {0, 0, 0};
    for (int k : m->tri[t].v) c[0] += m->x[k] / 3, c[1] += m->y[k] / 3, c[2] += m->z[k] / 3;
    const float* n = m->tri[t].plane;
    if (n[0] * (towards[0] - c[0]) + n[1] * (towards[1] - c[1]) + n[2] * (towards[2] - c[2]) < 0) {
      std::swap(m->tri[t].v[1], m->tri[t].v[2]);
      MakeCldPolyPlane(m, &m->tri[t]);
    }
  }
}

// Three square faces of 2 x 2 cells on the planes x = 0, y = 0 and z = 0 meeting at the origin,
// facing into the positive octant: the inside of a box corner.
Cloud* BoxCorner() {
  Pts pts;
  Tris tris;
  std::map<std::array<int, 3>, int> index;
  auto id = [&](int x, int y, int z) {
    const auto [it, added] = index.insert({{x, y, z}, int(pts.size())});
    if (added) pts.push_back({double(x), double(y), double(z)});
    return it->second;
  };
  for (int face = 0; face < 3; ++face)
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) {
        auto at = [&](int u, int v) {
          int c[3] = {0, 0, 0};
          c[(face + 1) % 3] = u, c[(face + 2) % 3] = v;
          return id(c[0], c[1], c[2]);
        };
        tris.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
        tris.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
      }
  Cloud* m = MakeTestMesh(pts, tris);
  const double inside[3] = {100, 100, 100};
  if (m) FaceTowards(m, inside);
  return m;
}

bool HasPointNear(const Cloud* m, const double q[3], double tol) {
  for (int i = 0; i < m->npts; ++i)
    if (std::hypot(m->x[i] - q[0], m->y[i] - q[1], m->z[i] - q[2]) < tol) return true;
  return false;
}

TEST_F(MeshOffset, BoxCornerGetsHubAndFaceCopiesOutsideAndOneMitredPointInside) {
  const double d = 0.25, box[6] = {0, 0, 0, 2, 2, 2};
  {  // the convex side: a hub along the mean normal and a copy on each face's offset plane
    Cloud* source = BoxCorner();
    Cloud* m = BoxCorner();
    ASSERT_NE(CreateOffsetPolyCloud(m, -d, 1e-6, 0, box, 0, 0), nullptr);
    const double r = d / std::sqrt(3.0);
    const double hub[3] = {-r, -r, -r}, fx[3] = {-d, 0, 0}, fy[3] = {0, -d, 0}, fz[3] = {0, 0, -d};
    for (const double* q : {hub, fx, fy, fz}) EXPECT_TRUE(HasPointNear(m, q, 1e-5)) << q[0] << q[1] << q[2];
    EXPECT_GE(NearestToSource(m, source), 0.95 * d - 1e-6);
    EXPECT_EQ(EdgeUses(m).once, 0);
    FreeCloud(m);
    FreeCloud(source);
  }
  // The concave side. Refinement leaves the faces a grid of spacing 0.25, so at d = 0.25 the
  // copies of the first row beside each crease land on its mitre points and mode 1 leaves
  // zero-area slits open (see CreateOffsetPolyCloud); its closure is checked at distances that
  // fold that row past the mitre (0.3) or leave it beyond (0.2), where welding moves the mitre.
  for (int mode : {0, 1}) {
    Cloud* source = BoxCorner();
    Cloud* m = BoxCorner();
    ASSERT_NE(CreateOffsetPolyCloud(m, d, 1e-6, 0, box, mode, 0), nullptr) << mode;
    const double mitre[3] = {d, d, d};
    if (mode == 1) {
      EXPECT_TRUE(HasPointNear(m, mitre, 1e-5));
    }
    EXPECT_GE(NearestToSource(m, source), 0.95 * d - 1e-6) << mode;
    if (mode == 0) {
      EXPECT_EQ(EdgeUses(m).once, 0);
    }
    FreeCloud(m);
    FreeCloud(source);
  }
  for (double c : {0.2, 0.3}) {
    Cloud* m = BoxCorner();
    ASSERT_NE(CreateOffsetPolyCloud(m, c, 1e-6, 0, box, 1, 0), nullptr) << c;
    EXPECT_EQ(EdgeUses(m).once, 0) << c;
    FreeCloud(m);
  }
}

// A groove of width w and depth h along y in a flat strip, its walls and floor tessellated.
Cloud* Groove(double w, double h, int n) {
  Pts pts;
  Tris tris;
  // The cross-section: flat, down, floor, up, flat.
  const double xs[6] = {-1.5 * w - 1, -0.5 * w, -0.5 * w, 0.5 * w, 0.5 * w, 1.5 * w + 1};
  const double zs[6] = {0, 0, -h, -h, 0, 0};
  std::vector<std::array<double, 2>> section;
  for (int s = 0; s < 5; ++s)
    for (int k = 0; k < n; ++k)
      section.push_back({xs[s] + (xs[s + 1] - xs[s]) * k / n, zs[s] + (zs[s + 1] - zs[s]) * k / n});
  section.push_back({xs[5], zs[5]});
  const int ns = int(section.size()), rows = 3 * n;
  for (int j = 0; j <= rows; ++j)
    for (const auto& c : section) pts.push_back({c[0], 3.0 * j / rows, c[1]});
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i + 1 < ns; ++i) {
      const int a = i + ns * j, b = a + 1, c = b + ns, e = a + ns;
      tris.push_back({a, b, c});
      tris.push_back({a, c, e});
    }
  Cloud* m = MakeTestMesh(pts, tris);
  if (!m) return m;
  if (m->tri[0].plane[2] < 0)  // face up (+z on the flats), into the groove on its walls
    for (int t = 0; t < m->ntri; ++t) std::swap(m->tri[t].v[1], m->tri[t].v[2]), MakeCldPolyPlane(m, &m->tri[t]);
  return m;
}

TEST_F(MeshOffset, OffsetIntoANarrowGrooveKeepsItsDistanceAndClosesUp) {
  const double w = 0.4, d = 0.35;  // deeper than half the width
  Cloud* source = Groove(w, 0.6, 3);
  Cloud* m = Groove(w, 0.6, 3);
  ASSERT_NE(source, nullptr);
  double box[6];
  GetCloudMinMax(m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  ASSERT_NE(CreateOffsetPolyCloud(m, d, 1e-6, 0, box, 0, 0), nullptr);
  EXPECT_GE(NearestToSource(m, source), 0.95 * d - 1e-4);
  EXPECT_EQ(EdgeUses(m).once, 0);
  const StubThermometer th = StubGetThermometer();
  EXPECT_EQ(th.open, 0);
  EXPECT_EQ(th.displays, th.undisplays);
  FreeCloud(m);
  FreeCloud(source);
}

// A bumpy 52 x 52 sheet with one vertex thrown near 3e38: every sound vertex shares one cell of
// the offset's search grid, so the search reads a tree that must not outlive the sheet's point
// arrays the offset grows. The offset succeeds with finite points or fails with the error state;
// its points away from the spike keep their distance from the sheet as a pass over every
// triangle measures it.
TEST_F(MeshOffset, OffsetBesideAVertexNearTheFloatRangeKeepsItsDistance) {
  const double d = 0.3;
  const int n = 52, thrown = 26 * n + 20;
  Cloud* m = MakeGridMesh(n, n, [](int, int) { return true; });
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < m->npts; ++i) m->z[i] = float(0.5 * std::sin(0.2 * m->x[i]) * std::cos(0.15 * m->y[i]));
  Pts sheet;
  for (int i = 0; i < m->npts; ++i) sheet.push_back({m->x[i], m->y[i], m->z[i]});
  Tris sound;
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    if (v[0] != thrown && v[1] != thrown && v[2] != thrown) sound.push_back({v[0], v[1], v[2]});
  }
  Cloud* source = MakeTestMesh(sheet, sound);
  ASSERT_NE(source, nullptr);
  m->z[thrown] = 3e38f;
  for (int t = 0; t < m->ntri; ++t) MakeCldPolyPlane(m, &m->tri[t]);
  Cloud* r = CreateOffsetPolyCloud(m, d, 1e-6, 0, nullptr, 0, 0);
  if (!r) {
    EXPECT_TRUE(KernelFailed());
  } else {
    std::vector<bool> used(r->npts, false);
    for (int t = 0; t < r->ntri; ++t)
      for (int k : r->tri[t].v) used[k] = true;
    int checked = 0;
    for (int i = 0; i < r->npts; i += 7) {
      if (!used[i]) continue;
      double p[3];
      P(r, i, p);
      ASSERT_TRUE(std::isfinite(p[0] + p[1] + p[2])) << i;
      if (std::hypot(p[0] - 20, p[1] - 26) < 4 || p[0] < 2 || p[1] < 2 || p[0] > n - 3 || p[1] > n - 3) continue;
      double best = HUGE_VAL;
      for (int t = 0; t < source->ntri; ++t) {
        double a[3], b[3], c[3];
        P(source, source->tri[t].v[0], a), P(source, source->tri[t].v[1], b), P(source, source->tri[t].v[2], c);
        best = std::min(best, PointTriangleDistance(p, a, b, c));
      }
      EXPECT_GE(best, 0.95 * d - 1e-4) << i;
      ++checked;
    }
    EXPECT_GT(checked, 150);
  }
  FreeCloud(m);
  FreeCloud(source);
}

TEST_F(MeshOffset, OffsetInPlaceCancelledOrRefusedClosesTheThermometerAndLeaksNothing) {
  const double box[6] = {0, 0, 0, 2, 2, 2};
  Cloud* m = BoxCorner();
  StubSetUserBreak(1);
  EXPECT_EQ(CreateOffsetPolyCloud(m, 0.25, 1e-6, 0, box, 0, 0), nullptr);
  StubSetUserBreak(0);
  EXPECT_EQ(StubGetThermometer().open, 0);
  FreeCloud(m);
  Cloud* empty = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {});
  EXPECT_EQ(CreateOffsetPolyCloud(empty, 0.25, 1e-6, 0, box, 0, 0), nullptr);
  FreeCloud(empty);
  bool finished = false;
  for (long skip = 0; skip < 3000 && !finished; skip += 7) {
    ClearKernelError();
    m = BoxCorner();
    MallocFailAfter(skip, -1);
    Cloud* r = CreateOffsetPolyCloud(m, -0.25, 1e-6, 0, box, 0, 0);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(StubGetThermometer().open, 0) << skip;
    for (int t = 0; t < m->ntri; ++t)
      for (int k : m->tri[t].v) ASSERT_LT(k, m->npts) << skip;
    finished = r != nullptr;
    FreeCloud(m);
  }
  EXPECT_TRUE(finished);
}

// ---- Clouds ----------------------------------------------------------------------------------

// Three scans of four points on z = 0 with normals +z, the middle scan without normals; every
// point labelled, every other label shown.
Cloud* ThreeScans() {
  std::vector<float> x, y, z;
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 4; ++i) x.push_back(float(i)), y.push_back(float(s)), z.push_back(0.0f);
  const int starts[3] = {0, 4, 8}, ends[3] = {3, 7, 11};
  Cloud* c = MakeScanCld(x.data(), y.data(), z.data(), 12, starts, ends, 3, nullptr);
  if (!c) return nullptr;
  c->nx = CallocArray<float>(12), c->ny = CallocArray<float>(12), c->nz = CallocArray<float>(12);
  c->labels = CallocArray<char*>(12);
  c->labelIsShow = CallocArray<uint8_t>(CloudBitArrayBytes(12));
  for (int i = 0; i < 12; ++i) {
    if (i < 4 || i >= 8) c->nz[i] = 1.0f;
    char text[16];
    std::snprintf(text, sizeof text, "p%d", i);
    c->labels[i] = lstrdup(text);
    if (i % 2 == 0) c->labelIsShow[i >> 3] |= uint8_t(1 << (i & 7));
  }
  c->nx[5] = -0.0f;  // a sign bit alone is no normal
  return c;
}

TEST_F(MeshOffset, ScanOffsetDropsUnreliableScanAndCarriesLabels) {
  Cloud* c = ThreeScans();
  ASSERT_NE(c, nullptr);
  Cloud* out = CloudScanOffset(c, -0.5, nullptr, nullptr);
  Cloud* moved = nullptr;
  ASSERT_EQ(CreateOffsetCloud(c, c->nx, c->ny, c->nz, 2.0, 0, &moved, nullptr), 1);
  Cloud* back = CloudOffsetOppositeNorms(c, 0.5, nullptr);
  for (Cloud* r : {out, moved, back}) {
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->npts, 8);
    for (int j = 0; j < 8; ++j) {
      const int i = j < 4 ? j : j + 4;  // the middle scan is gone
      EXPECT_EQ(r->x[j], c->x[i]);
      EXPECT_EQ(r->y[j], c->y[i]);
    }
  }
  for (int j = 0; j < 8; ++j) {
    EXPECT_FLOAT_EQ(out->z[j], -0.5f);
    EXPECT_FLOAT_EQ(moved->z[j], 2.0f);
    EXPECT_FLOAT_EQ(back->z[j], -0.5f);  // against the normals
  }
  for (Cloud* r : {out, moved}) {
    ASSERT_EQ(r->nscans, 2);
    EXPECT_EQ(r->scanStart[1], 4);
    EXPECT_EQ(r->scanEnd[1], 7);
    ASSERT_NE(r->labels, nullptr);
    EXPECT_STREQ(r->labels[4], "p8");
    EXPECT_EQ(r->labelIsShow[0], 0x55);  // bits of 0, 2 (kept as 0, 2) and 8, 10 (now 4, 6)
  }
  EXPECT_NE(out->nx, nullptr);
  EXPECT_EQ(moved->nx, nullptr);  // normals only on request
  EXPECT_EQ(back->type, 0);
  EXPECT_EQ(back->labels, nullptr);
  for (Cloud* r : {out, moved, back}) FreeCloud(r);

  // Nothing to offset: no points, without being a failure for the caller-normal form.
  std::vector<float> zero(12, 0.0f);
  moved = c;
  EXPECT_EQ(CreateOffsetCloud(c, zero.data(), zero.data(), zero.data(), 1.0, 1, &moved, nullptr), 1);
  EXPECT_EQ(moved, nullptr);
  EXPECT_EQ(CreateOffsetCloud(nullptr, zero.data(), zero.data(), zero.data(), 1.0, 1, &moved, nullptr), 1);
  EXPECT_EQ(moved, nullptr);
  FreeCloud(c);
}

TEST_F(MeshOffset, CloudOffsetsWithTooFewPointsOrNoMemoryLeaveNothing) {
  const float x[2] = {0, 1}, y[2] = {0, 0}, z[2] = {0, 0};
  Cloud* two = MakeCld(x, y, z, 2, nullptr);
  EXPECT_EQ(CloudScanOffset(two, 1.0, nullptr, nullptr), nullptr);
  EXPECT_NE(Messages().find("At least 3 points required"), std::string::npos);
  EXPECT_EQ(CloudOffsetOppositeNorms(two, 1.0, nullptr), nullptr);  // no normals
  FreeCloud(two);
  for (int which = 0; which < 3; ++which) {
    bool finished = false;
    for (long skip = 0; skip < 300 && !finished; ++skip) {
      ClearKernelError();
      Cloud* c = ThreeScans();
      MallocFailAfter(skip, -1);
      Cloud* r = nullptr;
      if (which == 0) r = CloudScanOffset(c, 1.0, nullptr, nullptr);
      if (which == 1 && CreateOffsetCloud(c, c->nx, c->ny, c->nz, 1.0, 1, &r, nullptr) == 0) {
        EXPECT_EQ(r, nullptr);
      }
      if (which == 2) r = CloudOffsetOppositeNorms(c, 1.0, nullptr);
      MallocFailClear();
      EXPECT_EQ(MallocTrackLevel(), 0);
      finished = r != nullptr;
      FreeCloud(r);
      FreeCloud(c);
    }
    EXPECT_TRUE(finished) << which;
  }
}

}  // namespace
