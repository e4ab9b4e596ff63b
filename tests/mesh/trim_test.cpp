// Trimming a mesh to a curve, and the loop and polygon helpers it stands on.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "foundation/geo2.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"

namespace {

class MeshTrimHelpers : public KernelTest {};

TEST_F(MeshTrimHelpers, TheTriangleOnAnEdgeSkipsFlaggedOnes) {
  // A fan of three triangles round vertex 0, a fourth on edge 0-2 (a fin) and one apart.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 1, 1}, {3, 0, 0}, {4, 0, 0}, {3, 1, 0}},
                          {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 2, 4}, {5, 6, 7}});
  ASSERT_NE(m, nullptr);
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(3 * m->ntri);
  MakePolyPointers(m, heads.data(), nodes.data());
  int t = -1;
  // Edge 0-2 has triangles 0, 1 and 3; the list runs from the highest number down.
  ASSERT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 0, 2, nullptr, &t), 1);
  EXPECT_EQ(t, 3);
  std::vector<int> flags = {0, 1, 0, 1, 0};
  ASSERT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 2, 0, flags.data(), &t), 1);
  EXPECT_EQ(t, 0);
  flags[0] = 1;
  t = -7;
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 0, 2, flags.data(), &t), 0);
  EXPECT_EQ(t, -7);
  EXPECT_EQ(PolysHaveCommonVertex(m, 1, 2), 1);
  EXPECT_EQ(PolysHaveCommonVertex(m, 4, 2), 0);
  // Not an edge, and an edge of one vertex.
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 1, 3, nullptr, &t), 0);
  EXPECT_EQ(FindPolyWithOutsideVerts(m, heads.data(), 2, 2, nullptr, &t), 0);
  FreeCloud(m);
}

TEST_F(MeshTrimHelpers, InsertionAndCompactionShiftsAgreeWithAPlainVector) {
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    const int n = int(rng() % 12);
    std::vector<int> a(n + 1), ref(n);
    for (int i = 0; i < n; ++i) a[i] = ref[i] = int(rng() % 100);
    const int position = int(rng() % (n + 1)) - 1;  // -1 inserts at the front
    InsertPtInArray(555, a.data(), position, n);
    ref.insert(ref.begin() + (position + 1), 555);
    EXPECT_EQ(a, ref);
    // Shifts: every kept entry lands where erasing the flagged ones puts it.
    std::vector<int> flags(n), shift(n), kept;
    for (int i = 0; i < n; ++i) flags[i] = rng() % 3 == 0;
    SetIndexTable(flags.data(), shift.data(), n);
    for (int i = 0; i < n; ++i) {
      if (flags[i]) {
        EXPECT_EQ(shift[i], 0);
        continue;
      }
      EXPECT_EQ(i + shift[i], int(kept.size()));
      kept.push_back(i);
    }
  }
}

TEST_F(MeshTrimHelpers, PointInPolygonIsZeroOnTheBoundaryAtEveryScale) {
  // An L-shaped hexagon, with a reflex corner at (1, 1).
  const std::vector<double> X = {0, 2, 2, 1, 1, 0}, Y = {0, 0, 1, 1, 2, 2};
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (double dx : {0.0, 1e3 * scale}) {
      std::vector<double> x(6), y(6);
      for (int i = 0; i < 6; ++i) x[i] = scale * X[i] + dx, y[i] = scale * Y[i] - dx;
      auto in = [&](double px, double py) { return IsPointInPoly2D(scale * px + dx, scale * py - dx, 6, x.data(), y.data()); };
      EXPECT_EQ(in(0.5, 0.5), 1) << scale;
      EXPECT_EQ(in(1.5, 0.5), 1) << scale;
      EXPECT_EQ(in(0.5, 1.5), 1) << scale;
      EXPECT_EQ(in(1.5, 1.5), 0) << scale;  // in the notch
      EXPECT_EQ(in(3.0, 0.5), 0) << scale;
      // On an edge, on a vertex, on the reflex corner.
      EXPECT_EQ(in(1.0, 0.0), 0) << scale;
      EXPECT_EQ(in(2.0, 1.0), 0) << scale;
      EXPECT_EQ(in(1.0, 1.0), 0) << scale;
      EXPECT_EQ(in(1.0, 1.5), 0) << scale;
      // Level with a vertex, the ray passing through it: still counted once.
      EXPECT_EQ(in(0.5, 1.0), 1) << scale;
    }
  }
}

}  // namespace

namespace {

class MeshTrimming : public KernelTest {};

// The unit circle of radius r about the origin in z = 0 as an exact rational quadratic: nine
// control points, the corners weighted sqrt(1/2).
std::vector<double> CircleKnots() { return {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}; }
std::vector<double> CircleWeights() {
  const double w = std::sqrt(0.5);
  return {1, w, 1, w, 1, w, 1, w, 1};
}
std::vector<double> CirclePoints(double r, double cx, double cy, int dimension) {
  const double square[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  std::vector<double> pts;
  for (const auto& p : square) {
    pts.push_back(cx + r * p[0]);
    pts.push_back(cy + r * p[1]);
    if (dimension == 3) pts.push_back(0.0);
  }
  return pts;
}

// A square grid mesh over [-h, h]^2 in z = 0 with its boundary loop ready for trimming: the
// edge table, vertex-to-edge lists and the loop with room to grow. Colour 0 holds each point's
// original number, so the tests can follow points through the compaction.
struct TrimCase {
  Cloud* mesh = nullptr;
  MeshEdgesAndLoops topology;
  std::vector<IndexNode*> edgeHeads;
  std::vector<IndexNode> edgeNodes;
  std::vector<int> loop;
  int count = 0;
  std::vector<std::array<float, 3>> original;

  // The grid centred on (shift, shift).
  explicit TrimCase(int n, double h, double shift = 0.0) {
    mesh = MakeGridMesh(n, n, [](int, int) { return true; }, 2 * h / (n - 1));
    if (!mesh) return;
    for (int i = 0; i < mesh->npts; ++i) {
      mesh->x[i] = float(double(mesh->x[i]) - h + shift), mesh->y[i] = float(double(mesh->y[i]) - h + shift);
      original.push_back({mesh->x[i], mesh->y[i], mesh->z[i]});
    }
    for (int t = 0; t < mesh->ntri; ++t) MakeCldPolyPlane(mesh, &mesh->tri[t]);
    mesh->colour[0] = MallocArray<float>(mesh->npts);
    for (int i = 0; i < mesh->npts; ++i) mesh->colour[0][i] = float(i);
    if (topology.Build(mesh) || topology.nloops != 1) return;
    edgeHeads.resize(mesh->npts);
    edgeNodes.resize(2 * topology.nedges);
    MakeEdgePointers(mesh, topology.edges, topology.nedges, edgeHeads.data(), edgeNodes.data());
    for (IndexNode* e = topology.loops[0]; e; e = e->next) loop.push_back(e->index);
    count = int(loop.size());
    loop.resize(count + mesh->ntri);
  }
  ~TrimCase() { FreeCloud(mesh); }
  bool Ready() const { return mesh && count > 0; }
  int Trim(Bspline* curve, const int* fixed, double tol) {
    return TrimCloudWithCurve(mesh, loop.data(), &count, curve, topology.edges, edgeHeads.data(), fixed, tol);
  }
};

// The boundary vertices of the mesh as it is now, loop by loop.
std::vector<std::vector<int>> BoundaryLoops(const Cloud* m) {
  MeshEdgesAndLoops t;
  std::vector<std::vector<int>> out;
  if (t.Build(m)) return out;
  for (int l = 0; l < t.nloops; ++l) {
    std::vector<int> v;
    for (IndexNode* e = t.loops[l]; e; e = e->next) v.push_back(t.edges[2 * e->index]), v.push_back(t.edges[2 * e->index + 1]);
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    out.push_back(v);
  }
  return out;
}

// The edges of the mesh's one boundary loop; -1 where it has not exactly one.
int OneLoopEdgeCount(const Cloud* m) {
  MeshEdgesAndLoops t;
  if (t.Build(m) || t.nloops != 1) return -1;
  int edges = 0;
  for (IndexNode* e = t.loops[0]; e; e = e->next) ++edges;
  return edges;
}

void ExpectTriangleIndicesInRange(const Cloud* m) {
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(m->tri[t].v[k] >= 0 && m->tri[t].v[k] < m->npts) << t;
}

TEST_F(MeshTrimming, TheBoundaryEndsOnACircleAsASpaceCurveAndOnAPlaneSurface) {
  const double h = 10.0, r = 6.3;
  for (int onSurface = 0; onSurface < 2; ++onSurface) {
    TrimCase c(21, h);
    ASSERT_TRUE(c.Ready());
    BsplineKeeper keep;
    Bspline* curve = nullptr;
    if (!onSurface) {
      curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
    } else {
      // The plane z = 0 over [-h, h]^2 on the parameter square [0, 1]^2, and the circle in it.
      Bspline* plane = keep(BuildSurface(1, 1, 2, 2, {-h, -h, 0, h, -h, 0, -h, h, 0, h, h, 0}));
      curve = BuildCurveOnSurface(plane, 2, CirclePoints(r / (2 * h), 0.5, 0.5, 2), CircleKnots(), CircleWeights());
    }
    ASSERT_NE(curve, nullptr);
    const int ntri = c.mesh->ntri;
    ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1) << onSurface;
    EXPECT_FALSE(KernelFailedNow());
    ExpectTriangleIndicesInRange(c.mesh);
    EXPECT_LT(c.mesh->ntri, ntri);
    const auto loops = BoundaryLoops(c.mesh);
    ASSERT_EQ(loops.size(), 1u) << onSurface;
    EXPECT_EQ(c.count, OneLoopEdgeCount(c.mesh));
    for (int v : loops[0]) {
      EXPECT_NEAR(std::hypot(c.mesh->x[v], c.mesh->y[v]), r, 1e-5 * h) << v;
    }
    // Everything outside the circle went: no vertex lies further out than the loop.
    for (int i = 0; i < c.mesh->npts; ++i) EXPECT_LT(std::hypot(c.mesh->x[i], c.mesh->y[i]), r + 1e-5 * h) << i;
    // Colours stayed with their points: a point that is not on the loop kept its place.
    std::set<int> onLoop(loops[0].begin(), loops[0].end());
    for (int i = 0; i < c.mesh->npts; ++i) {
      const int id = int(c.mesh->colour[0][i]);
      ASSERT_TRUE(id >= 0 && id < int(c.original.size()));
      if (onLoop.count(i)) continue;
      EXPECT_EQ(c.mesh->x[i], c.original[id][0]) << i;
      EXPECT_EQ(c.mesh->y[i], c.original[id][1]) << i;
    }
  }
}

// A coarse flat face (big triangles, as CAD parts are tessellated) and a circle inside it: the
// trim either ends with no point beyond the circle, or is refused with a message and leaves the
// mesh and its loop as they were; a finer face is trimmed.
TEST_F(MeshTrimming, ACoarseFaceIsTrimmedWhollyOrRefused) {
  const double h = 10.0, r = 6.3;
  int refused = 0;
  for (int n : {3, 4, 5, 6, 21}) {
    SCOPED_TRACE(n);
    TrimCase c(n, h);
    ASSERT_TRUE(c.Ready());
    BsplineKeeper keep;
    Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
    const int npts = c.mesh->npts, ntri = c.mesh->ntri, count = c.count;
    const std::vector<int> loop(c.loop.begin(), c.loop.begin() + count);
    const size_t from = Messages().size();
    const int result = c.Trim(curve, nullptr, -1.0);
    if (result == 1) {
      for (int i = 0; i < c.mesh->npts; ++i) EXPECT_LT(std::hypot(c.mesh->x[i], c.mesh->y[i]), r + 1e-5 * h) << i;
      continue;
    }
    ++refused;
    EXPECT_NE(Messages().find("Trim refused", from), std::string::npos) << Messages();
    EXPECT_EQ(c.mesh->npts, npts);
    EXPECT_EQ(c.mesh->ntri, ntri);
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(std::vector<int>(c.loop.begin(), c.loop.begin() + count), loop);
    for (int i = 0; i < npts; ++i) EXPECT_EQ(c.mesh->x[i], c.original[i][0]) << i;
    EXPECT_LT(n, 21);
  }
  // Triangles too large to peel are cut along the curve.
  EXPECT_EQ(refused, 0);
}

// What a trim of a planar mesh to a circle of radius r about (cx, cy) must leave: one boundary
// loop on the circle, every point within the disc, consistently oriented triangles (each edge
// run once each way or once on the boundary, none turned over) covering the polygon their
// loop spans, which follows the circle within the polyline's chord tolerance (or, where a peel
// may stand, spans at least the share `least` of the disc). tol: the room a float coordinate of
// the case leaves.
void ExpectTrimmedToDisc(const Cloud* m, double r, double cx, double cy, double tol, double least = 0.0) {
  ExpectTriangleIndicesInRange(m);
  ASSERT_GT(m->ntri, 0);
  const EdgeUses uses(m);
  EXPECT_EQ(uses.repeated, 0);
  // The polyline's points lie on the circle, its crossings with mesh edges on its chords.
  const double sagitta = 1e-3 * 2 * std::sqrt(2.0) * r;
  const auto loops = BoundaryLoops(m);
  ASSERT_EQ(loops.size(), 1u);
  for (int v : loops[0]) EXPECT_GT(std::hypot(m->x[v] - cx, m->y[v] - cy), r - sagitta - tol) << v;
  for (int i = 0; i < m->npts; ++i) EXPECT_LT(std::hypot(m->x[i] - cx, m->y[i] - cy), r + tol) << i;
  double signedArea = 0, area = 0;
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    const double ax = double(m->x[v[1]]) - m->x[v[0]], ay = double(m->y[v[1]]) - m->y[v[0]];
    const double bx = double(m->x[v[2]]) - m->x[v[0]], by = double(m->y[v[2]]) - m->y[v[0]];
    signedArea += 0.5 * (ax * by - ay * bx);
    area += 0.5 * std::fabs(ax * by - ay * bx);
  }
  EXPECT_NEAR(std::fabs(signedArea), area, 1e-6 * area + 4 * tol * r);
  // A polygon inscribed in the circle with sagitta s misses at most s times the perimeter.
  EXPECT_LE(area, M_PI * r * r + 8 * tol * r);
  EXPECT_GE(area, least > 0 ? least * M_PI * r * r : M_PI * r * r - 2 * M_PI * r * (sagitta + tol));
}

// The coarse faces of CAD tessellations (2 and 8 triangles, and a few more) and a circle inside
// them: the triangles the circle crosses are cut along it, the same at every scale and far from
// the origin, and the count ends as the edges of the loop the cut made.
TEST_F(MeshTrimming, ACoarseFaceIsCutAlongTheCircleAtEveryScaleAndPlace) {
  for (int n : {2, 3, 4, 5}) {
    int trianglesAtUnit = -1, pointsAtUnit = -1;
    for (double scale : {1e-6, 1.0, 1e6}) {
      for (double far : {0.0, 1e4}) {
        SCOPED_TRACE(testing::Message() << n << " " << scale << " " << far);
        const double h = 10.0 * scale, r = 6.3 * scale, shift = far * h;
        TrimCase c(n, h, shift);
        ASSERT_TRUE(c.Ready());
        BsplineKeeper keep;
        Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, shift, shift, 3), CircleKnots(), CircleWeights()));
        ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
        EXPECT_FALSE(KernelFailedNow());
        const double tol = 1e-6 * r + 64 * std::ldexp(1.0, -24) * (shift + h);
        ExpectTrimmedToDisc(c.mesh, r, shift, shift, tol);
        // The count is that of the result's loop, made by the cut.
        EXPECT_EQ(c.count, OneLoopEdgeCount(c.mesh));
        if (far != 0.0) continue;
        // Near the origin the cut is the same in its own units at every scale.
        if (trianglesAtUnit < 0) trianglesAtUnit = c.mesh->ntri, pointsAtUnit = c.mesh->npts;
        EXPECT_EQ(c.mesh->ntri, trianglesAtUnit);
        EXPECT_EQ(c.mesh->npts, pointsAtUnit);
      }
    }
  }
}

// A circle in a single big triangle, on one side of a two-triangle face, crossing its diagonal,
// through a corner and along grid lines: each cut keeps the disc.
TEST_F(MeshTrimming, CutsThroughCornersAndAlongEdgesKeepTheDisc) {
  const double h = 10.0;
  struct Circle {
    int n;
    double r, cx, cy;
  };
  // (n = 3: grid lines at -10, 0 and 10; the circle about (5, 5) of radius 5 touches two of
  // them, that about (0, 0) of radius 6.3 starts its polyline on one.)
  for (const Circle& k : {Circle{2, 3.0, 4.0, -4.0}, Circle{2, 6.0, 0.5, 0.0}, Circle{3, 5.0, 5.0, 5.0},
                          Circle{3, 6.3, 0.0, 0.0}, Circle{3, 4.0, 0.0, 4.0}, Circle{5, 7.5, 0.0, 0.0}}) {
    SCOPED_TRACE(testing::Message() << k.n << " " << k.r << " " << k.cx << " " << k.cy);
    TrimCase c(k.n, h);
    ASSERT_TRUE(c.Ready());
    BsplineKeeper keep;
    Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(k.r, k.cx, k.cy, 3), CircleKnots(), CircleWeights()));
    ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
    ExpectTrimmedToDisc(c.mesh, k.r, k.cx, k.cy, 1e-5 * h);
  }
}

// The coarse face turned in space (the cut sees it along the circle's plane), and the circle as a
// curve on a plane surface: the same disc kept.
TEST_F(MeshTrimming, ACutOfATurnedFaceAndAlongACurveOnASurfaceKeepsTheDisc) {
  const double h = 10.0, r = 6.3;
  // A rotation about (1, 2, 2) / 3 by 1 radian (Rodrigues).
  const double axis[3] = {1.0 / 3, 2.0 / 3, 2.0 / 3}, c = std::cos(1.0), s = std::sin(1.0);
  double R[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R[i][j] = (i == j ? c : 0.0) + (1 - c) * axis[i] * axis[j];
  R[0][1] -= s * axis[2], R[0][2] += s * axis[1], R[1][0] += s * axis[2];
  R[1][2] -= s * axis[0], R[2][0] -= s * axis[1], R[2][1] += s * axis[0];
  for (int n : {2, 3}) {
    SCOPED_TRACE(n);
    TrimCase turned(n, h);
    ASSERT_TRUE(turned.Ready());
    for (int i = 0; i < turned.mesh->npts; ++i) {
      const double p[3] = {turned.mesh->x[i], turned.mesh->y[i], turned.mesh->z[i]};
      turned.mesh->x[i] = float(R[0][0] * p[0] + R[0][1] * p[1] + R[0][2] * p[2]);
      turned.mesh->y[i] = float(R[1][0] * p[0] + R[1][1] * p[1] + R[1][2] * p[2]);
      turned.mesh->z[i] = float(R[2][0] * p[0] + R[2][1] * p[1] + R[2][2] * p[2]);
    }
    std::vector<double> circle = CirclePoints(r, 0, 0, 3), moved;
    for (size_t k = 0; k < circle.size(); k += 3)
      for (int i = 0; i < 3; ++i) moved.push_back(R[i][0] * circle[k] + R[i][1] * circle[k + 1] + R[i][2] * circle[k + 2]);
    BsplineKeeper keep;
    ASSERT_EQ(turned.Trim(keep(BuildCurve(2, 3, moved, CircleKnots(), CircleWeights())), nullptr, -1.0), 1);
    // Turned back (R is orthogonal: its transpose undoes it).
    for (int i = 0; i < turned.mesh->npts; ++i) {
      const double p[3] = {turned.mesh->x[i], turned.mesh->y[i], turned.mesh->z[i]};
      turned.mesh->x[i] = float(R[0][0] * p[0] + R[1][0] * p[1] + R[2][0] * p[2]);
      turned.mesh->y[i] = float(R[0][1] * p[0] + R[1][1] * p[1] + R[2][1] * p[2]);
      turned.mesh->z[i] = float(R[0][2] * p[0] + R[1][2] * p[1] + R[2][2] * p[2]);
    }
    ExpectTrimmedToDisc(turned.mesh, r, 0, 0, 1e-5 * h);

    TrimCase onPlane(n, h);
    ASSERT_TRUE(onPlane.Ready());
    Bspline* plane = keep(BuildSurface(1, 1, 2, 2, {-h, -h, 0, h, -h, 0, -h, h, 0, h, h, 0}));
    Bspline* curve = BuildCurveOnSurface(plane, 2, CirclePoints(r / (2 * h), 0.5, 0.5, 2), CircleKnots(), CircleWeights());
    ASSERT_NE(curve, nullptr);
    ASSERT_EQ(onPlane.Trim(curve, nullptr, -1.0), 1);
    ExpectTrimmedToDisc(onPlane.mesh, r, 0, 0, 1e-5 * h);
  }
}

// Circles of random size and place inside coarse faces: each trim keeps its disc, cut along the
// circle or, where the loop the peel leaves spans nine tenths of the disc, peeled.
TEST_F(MeshTrimming, RandomCirclesInCoarseFacesKeepTheirDiscs) {
  const double h = 10.0;
  std::mt19937 rng(83);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int round = 0; round < 120; ++round) {
    const int n = 2 + round % 6;
    const double r = 0.5 + 8.5 * unit(rng);
    const double room = h - r - 0.05 * h;
    const double cx = room * (2 * unit(rng) - 1), cy = room * (2 * unit(rng) - 1);
    SCOPED_TRACE(testing::Message() << n << " " << r << " " << cx << " " << cy);
    TrimCase c(n, h);
    ASSERT_TRUE(c.Ready());
    BsplineKeeper keep;
    Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, cx, cy, 3), CircleKnots(), CircleWeights()));
    ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
    ExpectTrimmedToDisc(c.mesh, r, cx, cy, 1e-5 * h, 0.9);
  }
}

// A rectangle as a closed polyline of degree 1, between grid lines and along them (through mesh
// vertices and along mesh edges): the cut keeps the rectangle exactly, one loop, each edge run
// once each way.
TEST_F(MeshTrimming, ACutAlongARectangleKeepsItExactly) {
  for (int n : {2, 3, 5}) {
    for (double a : {5.0, 5.5}) {
      SCOPED_TRACE(testing::Message() << n << " " << a);
      const double b = 0.6 * a;
      TrimCase c(n, 10.0);
      ASSERT_TRUE(c.Ready());
      BsplineKeeper keep;
      Bspline* curve =
          keep(BuildCurve(1, 3, {a, -b, 0, a, b, 0, -a, b, 0, -a, -b, 0, a, -b, 0}, {0, 0, 1, 2, 3, 4, 4}));
      ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
      EXPECT_EQ(EdgeUses(c.mesh).repeated, 0);
      EXPECT_EQ(BoundaryLoops(c.mesh).size(), 1u);
      for (int i = 0; i < c.mesh->npts; ++i) {
        EXPECT_LE(std::fabs(c.mesh->x[i]), a + 1e-6) << i;
        EXPECT_LE(std::fabs(c.mesh->y[i]), b + 1e-6) << i;
      }
      EXPECT_NEAR(std::fabs(SignedAreaXY(c.mesh)), 4 * a * b, 1e-5 * a * b);
    }
  }
}

// A face trimmed to its own outline (as a trimmed surface's outer loop runs), and to one a
// hair inside it: nothing lies beyond the curve, so every triangle stays, the corner ears whose
// three corners all lie on the curve too, at every scale and far from the origin.
TEST_F(MeshTrimming, AFaceTrimmedToItsOwnOutlineKeepsEveryTriangle) {
  for (int n : {2, 3, 5})
    for (double scale : {1e-6, 1.0, 1e6})
      for (double far : {0.0, 1e4})
        for (double inset : {0.0, 1e-8}) {
          SCOPED_TRACE(testing::Message() << n << " " << scale << " " << far << " " << inset);
          const double h = 10.0 * scale, shift = far * h, a = h * (1 - inset);
          TrimCase c(n, h, shift);
          ASSERT_TRUE(c.Ready());
          const int ntri = c.mesh->ntri;
          const double lo = shift - a, hi = shift + a;
          BsplineKeeper keep;
          Bspline* curve =
              keep(BuildCurve(1, 3, {hi, lo, 0, hi, hi, 0, lo, hi, 0, lo, lo, 0, hi, lo, 0}, {0, 0, 1, 2, 3, 4, 4}));
          ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
          EXPECT_EQ(c.mesh->ntri, ntri);
          EXPECT_EQ(EdgeUses(c.mesh).repeated, 0);
          EXPECT_EQ(BoundaryLoops(c.mesh).size(), 1u);
          EXPECT_NEAR(std::fabs(SignedAreaXY(c.mesh)), 4 * h * h, 1e-5 * h * h + 64 * std::ldexp(1.0, -24) * (shift + h) * h);
        }
}

// Rectangles that run along one, two or three sides of a coarse face's outline (through its
// corners and along its rim edges): the cut removes only what lies beyond the curve, so the
// rectangle stays whole, bounded by one loop, at every scale and far from the origin.
TEST_F(MeshTrimming, ACurveAlongPartOfTheOutlineKeepsItsRectangle) {
  struct Rect {
    double x0, x1, y0, y1;  // in tenths of the face's half side
  };
  for (int n : {2, 3, 4, 5})
    for (const Rect& r : {Rect{-10, 5, -10, 5}, Rect{-10, 10, -10, 0}, Rect{-10, 0, -10, 0}, Rect{-5, 5, -10, 10}})
      for (double scale : {1e-6, 1.0, 1e6})
        for (double far : {0.0, 1e4}) {
          SCOPED_TRACE(testing::Message() << n << " (" << r.x0 << " " << r.x1 << " " << r.y0 << " " << r.y1 << ") " << scale
                                          << " " << far);
          const double h = 10.0 * scale, shift = far * h;
          const double x0 = shift + scale * r.x0, x1 = shift + scale * r.x1, y0 = shift + scale * r.y0,
                       y1 = shift + scale * r.y1;
          TrimCase c(n, h, shift);
          ASSERT_TRUE(c.Ready());
          BsplineKeeper keep;
          Bspline* curve =
              keep(BuildCurve(1, 3, {x1, y0, 0, x1, y1, 0, x0, y1, 0, x0, y0, 0, x1, y0, 0}, {0, 0, 1, 2, 3, 4, 4}));
          ASSERT_EQ(c.Trim(curve, nullptr, -1.0), 1);
          EXPECT_EQ(EdgeUses(c.mesh).repeated, 0);
          EXPECT_EQ(BoundaryLoops(c.mesh).size(), 1u);
          const double tol = 1e-6 * h + 64 * std::ldexp(1.0, -24) * (shift + h);
          for (int i = 0; i < c.mesh->npts; ++i) {
            EXPECT_TRUE(c.mesh->x[i] >= x0 - tol && c.mesh->x[i] <= x1 + tol) << i;
            EXPECT_TRUE(c.mesh->y[i] >= y0 - tol && c.mesh->y[i] <= y1 + tol) << i;
          }
          EXPECT_NEAR(std::fabs(SignedAreaXY(c.mesh)), (x1 - x0) * (y1 - y0), 8 * tol * h);
        }
}

// A coarse face with a square hole and circles that cross the hole, run round it or lie in it,
// trimmed from the outer rim: a trim either is refused with its reason, the mesh and loop as
// they were, or keeps nothing beyond the circle, each edge of at most two triangles, and all
// the face inside the circle but for what a peel may take (a tenth of the disc), at every scale.
TEST_F(MeshTrimming, ACurveCrossingAHoleTrimsWhollyOrIsRefused) {
  int done = 0, refused = 0;
  for (int n : {5, 9})
    for (double r : {5.0, 6.3, 8.0})
      for (double cx : {0.0, 2.0})
        for (double scale : {1e-6, 1.0, 1e6}) {
          SCOPED_TRACE(testing::Message() << n << " " << r << " " << cx << " " << scale);
          // The face [-10, 10]^2 in cells of 20 / (n - 1); the hole [-5, 5]^2 is the cells
          // whose centres lie within 4 of both axes.
          const double h = 10.0 * scale, cell = 2 * h / (n - 1), hole = 5.0 * scale;
          Cloud* mesh = MakeGridMesh(
              n, n,
              [&](int i, int j) { return std::fabs(-h + cell * (i + 0.5)) > hole || std::fabs(-h + cell * (j + 0.5)) > hole; },
              cell);
          ASSERT_NE(mesh, nullptr);
          for (int i = 0; i < mesh->npts; ++i) mesh->x[i] -= float(h), mesh->y[i] -= float(h);
          for (int t = 0; t < mesh->ntri; ++t) MakeCldPolyPlane(mesh, &mesh->tri[t]);
          MeshEdgesAndLoops topology;
          ASSERT_EQ(topology.Build(mesh), 0);
          ASSERT_EQ(topology.nloops, 2);
          std::vector<int> loop;
          for (int l = 0; l < 2 && loop.empty(); ++l)
            for (IndexNode* e = topology.loops[l]; e; e = e->next) loop.push_back(e->index);
          const int first = topology.edges[2 * loop[0]];
          if (std::max(std::fabs(mesh->x[first]), std::fabs(mesh->y[first])) < 0.9 * h) {  // that was the hole's rim
            loop.clear();
            for (IndexNode* e = topology.loops[1]; e; e = e->next) loop.push_back(e->index);
          }
          std::vector<IndexNode*> heads(mesh->npts);
          std::vector<IndexNode> nodes(2 * topology.nedges);
          MakeEdgePointers(mesh, topology.edges, topology.nedges, heads.data(), nodes.data());
          int count = int(loop.size());
          const std::vector<int> given = loop;
          loop.resize(count + mesh->ntri);
          const std::vector<float> x0(mesh->x, mesh->x + mesh->npts);
          const int ntri = mesh->ntri;
          BsplineKeeper keep;
          const double R = r * scale, X = cx * scale;
          Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(R, X, 0, 3), CircleKnots(), CircleWeights()));
          const size_t from = Messages().size();
          if (TrimCloudWithCurve(mesh, loop.data(), &count, curve, topology.edges, heads.data(), nullptr, -1.0) == 0) {
            ++refused;
            EXPECT_NE(Messages().find("Trim refused", from), std::string::npos);
            EXPECT_EQ(mesh->ntri, ntri);
            EXPECT_EQ(std::vector<int>(loop.begin(), loop.begin() + count), given);
            EXPECT_EQ(std::vector<float>(mesh->x, mesh->x + mesh->npts), x0);
            FreeCloud(mesh);
            continue;
          }
          ++done;
          // The face's area inside the circle, counted on a fine lattice.
          const int N = 200;
          int inside = 0;
          for (int i = 0; i < N; ++i)
            for (int j = 0; j < N; ++j) {
              const double x = -h + 2 * h * (i + 0.5) / N, y = -h + 2 * h * (j + 0.5) / N;
              inside += std::hypot(x - X, y) < R && (std::fabs(x) > hole || std::fabs(y) > hole);
            }
          const double want = inside * (2 * h / N) * (2 * h / N), lattice = 8 * M_PI * R * (2 * h / N);
          EXPECT_EQ(EdgeUses(mesh).repeated, 0);
          for (int i = 0; i < mesh->npts; ++i) EXPECT_LT(std::hypot(mesh->x[i] - X, mesh->y[i]), R * (1 + 1e-6)) << i;
          const double area = std::fabs(SignedAreaXY(mesh));
          EXPECT_LE(area, want + lattice);
          EXPECT_GE(area, want - 0.1 * M_PI * R * R - lattice);
          FreeCloud(mesh);
        }
  EXPECT_GT(done, 0);
  EXPECT_GT(refused, 0);
}

// A tighter subdivision tolerance gives a polyline that follows the circle closer.
TEST_F(MeshTrimming, ACutFollowsTheCircleWithinTheToleranceGiven) {
  const double h = 10.0, r = 6.3;
  TrimCase plain(2, h), tight(2, h);
  ASSERT_TRUE(plain.Ready() && tight.Ready());
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
  ASSERT_EQ(plain.Trim(curve, nullptr, -1.0), 1);
  ASSERT_EQ(tight.Trim(curve, nullptr, 1e-4), 1);
  ExpectTrimmedToDisc(tight.mesh, r, 0, 0, 1e-5 * h);
  EXPECT_GT(tight.mesh->npts, plain.mesh->npts);
  EXPECT_NEAR(std::fabs(SignedAreaXY(tight.mesh)), M_PI * r * r, 2 * M_PI * r * 2e-4);
}

// The region an open polyline curve of points (px, py) bounds with the chord that closes its ends:
// how far (x, y) lies outside it, 0 inside.
double BeyondOpenCurve(double x, double y, const std::vector<double>& px, const std::vector<double>& py) {
  const int n = int(px.size());
  if (IsPointInPoly2D(x, y, n, px.data(), py.data())) return 0.0;
  double gap = HUGE_VAL;
  for (int k = 0; k < n; ++k) {
    const double a[2] = {px[k], py[k]}, b[2] = {px[(k + 1) % n], py[(k + 1) % n]}, q[2] = {x, y};
    double foot[2], d2, s;
    LineSegPnt2DMinDistSq(q, a, b, foot, &d2, &s);
    gap = std::min(gap, d2);
  }
  return std::sqrt(gap);
}

// Coarse faces and open arcs (half, three quarters and eleven twelfths of a circle, as polylines):
// a trim that is done leaves no point beyond the arc and the chord closing it; one that cannot be
// cut (an open curve) is refused with its reason, the mesh as it was. At every scale and place.
TEST_F(MeshTrimming, AnOpenCurveOnACoarseFaceTrimsWhollyOrIsRefused) {
  int done = 0, refused = 0;
  for (double scale : {1e-6, 1.0, 1e6}) {
    for (double far : {0.0, 1e4}) {
      const double h = 10.0 * scale, shift = far * h;
      for (double r : {4.0 * scale, 6.3 * scale, 8.0 * scale}) {
        for (double arc : {180.0, 270.0, 330.0}) {
          for (int n = 2; n <= 8; ++n) {
            if ((scale != 1.0 || far != 0.0) && (n > 4 || r != 6.3 * scale)) continue;
            SCOPED_TRACE(testing::Message() << scale << " " << far << " " << r / scale << " " << arc << " " << n);
            TrimCase c(n, h, shift);
            ASSERT_TRUE(c.Ready());
            const int m = 64;
            std::vector<double> pts, knots = {0}, px, py;
            for (int k = 0; k <= m; ++k) {
              const double a = arc * M_PI / 180 * k / m;
              px.push_back(r * std::cos(a)), py.push_back(r * std::sin(a));
              pts.insert(pts.end(), {shift + px.back(), shift + py.back(), 0.0});
              knots.push_back(k);
            }
            knots.push_back(m);
            BsplineKeeper keep;
            Bspline* curve = keep(BuildCurve(1, 3, pts, knots));
            const int npts = c.mesh->npts, ntri = c.mesh->ntri;
            const size_t from = Messages().size();
            if (c.Trim(curve, nullptr, -1.0) == 1) {
              ++done;
              ExpectTriangleIndicesInRange(c.mesh);
              for (int i = 0; i < c.mesh->npts; ++i)
                EXPECT_LT(BeyondOpenCurve(c.mesh->x[i] - shift, c.mesh->y[i] - shift, px, py), 2e-3 * r) << i;
              continue;
            }
            ++refused;
            EXPECT_NE(Messages().find("the curve is not closed", from), std::string::npos) << Messages().substr(from);
            EXPECT_EQ(c.mesh->npts, npts);
            EXPECT_EQ(c.mesh->ntri, ntri);
            for (int i = 0; i < npts; ++i) EXPECT_EQ(c.mesh->x[i], c.original[i][0]) << i;
          }
        }
      }
    }
  }
  EXPECT_GT(done, 0);
  EXPECT_GT(refused, 0);
}

// A cut that cannot be made, where the peel would keep mesh beyond the curve, is refused with its
// reason, the mesh and loop as they were: here the circle leaves the face.
TEST_F(MeshTrimming, ACutThatCannotBeMadeIsRefusedWithItsReason) {
  const double h = 10.0;
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(6.3, 5.0, 0.0, 3), CircleKnots(), CircleWeights()));
  TrimCase c(4, h);
  ASSERT_TRUE(c.Ready());
  const int npts = c.mesh->npts, ntri = c.mesh->ntri, count = c.count;
  const std::vector<int> loop(c.loop.begin(), c.loop.begin() + count);
  const size_t from = Messages().size();
  EXPECT_EQ(c.Trim(curve, nullptr, -1.0), 0);
  EXPECT_NE(Messages().find("Trim refused", from), std::string::npos) << Messages().substr(from);
  EXPECT_NE(Messages().find("the curve leaves the mesh", from), std::string::npos) << Messages().substr(from);
  EXPECT_EQ(c.mesh->npts, npts);
  EXPECT_EQ(c.mesh->ntri, ntri);
  EXPECT_EQ(c.count, count);
  EXPECT_EQ(std::vector<int>(c.loop.begin(), c.loop.begin() + count), loop);
  for (int i = 0; i < npts; ++i) EXPECT_EQ(c.mesh->x[i], c.original[i][0]) << i;
}

// Refused allocations while cutting a coarse face: 0 and nothing leaked; where the refusal came
// before the mesh took the cut, the mesh is as it was.
TEST_F(MeshTrimming, RefusedAllocationsWhileCuttingLeaveNothingTracked) {
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(6.3, 0, 0, 3), CircleKnots(), CircleWeights()));
  int unchanged = 0;
  long skip = 0;
  RunWithInjectedFailures(120, 1, [&] {
    MallocFailClear();
    TrimCase c(3, 10.0);
    MallocFailAfter(skip++, -1);
    if (!c.Ready()) return 1;
    const int ntri = c.mesh->ntri, npts = c.mesh->npts;
    const int r = c.Trim(curve, nullptr, -1.0);
    ExpectTriangleIndicesInRange(c.mesh);
    if (r == 0 && c.mesh->npts == npts && c.mesh->ntri == ntri) ++unchanged;
    if (r == 1) {
      MallocFailClear();
      ExpectTrimmedToDisc(c.mesh, 6.3, 0, 0, 1e-5);
    }
    return r ? 0 : 1;
  });
  EXPECT_GT(unchanged, 0);
}

// A cut that would take a held point leaves the peel standing, and the point kept.
TEST_F(MeshTrimming, AHeldPointOutsideTheCircleKeepsThePeel) {
  const double h = 10.0;
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(6.3, 0, 0, 3), CircleKnots(), CircleWeights()));
  for (int n : {2, 4}) {
    TrimCase c(n, h);
    ASSERT_TRUE(c.Ready());
    std::vector<int> fixed(c.mesh->npts, 0);
    fixed[0] = 1;  // the corner (-h, -h)
    ASSERT_EQ(c.Trim(curve, fixed.data(), -1.0), 1) << n;
    ExpectTriangleIndicesInRange(c.mesh);
    bool held = false;
    for (int i = 0; i < c.mesh->npts; ++i) held = held || c.mesh->colour[0][i] == 0.0f;
    EXPECT_TRUE(held) << n;
  }
}

TEST_F(MeshTrimming, SubdivisionPutsNewLoopPointsOnTheCurve) {
  // A coarse grid: the chords of the trimmed loop sag well beyond the tolerance.
  const double h = 10.0, r = 7.0;
  TrimCase plain(9, h), split(9, h);
  ASSERT_TRUE(plain.Ready() && split.Ready());
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
  ASSERT_EQ(plain.Trim(curve, nullptr, -1.0), 1);
  ASSERT_EQ(split.Trim(curve, nullptr, 0.01), 1);
  ExpectTriangleIndicesInRange(split.mesh);
  const auto before = BoundaryLoops(plain.mesh), after = BoundaryLoops(split.mesh);
  ASSERT_EQ(before.size(), 1u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_GT(after[0].size(), before[0].size());
  EXPECT_EQ(split.mesh->npts - plain.mesh->npts, int(after[0].size() - before[0].size()));
  EXPECT_EQ(split.mesh->ntri - plain.mesh->ntri, int(after[0].size() - before[0].size()));
  for (int v : after[0]) EXPECT_NEAR(std::hypot(split.mesh->x[v], split.mesh->y[v]), r, 1e-5 * h) << v;
  // New points were made on the curve with colour 0.33 and a normal to compute.
  for (int i = plain.mesh->npts; i < split.mesh->npts; ++i) EXPECT_EQ(split.mesh->nz[i], -1.0f);
}

TEST_F(MeshTrimming, FixedPointsAreNeverPeeled) {
  const double h = 10.0, r = 6.3;
  TrimCase c(21, h);
  ASSERT_TRUE(c.Ready());
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
  // Every point of the quarter x > 0, y > 0 is held.
  std::vector<int> fixed(c.mesh->npts, 0);
  std::set<int> held;
  for (int i = 0; i < c.mesh->npts; ++i)
    if (c.mesh->x[i] > 0 && c.mesh->y[i] > 0) fixed[i] = 1, held.insert(i);
  ASSERT_EQ(c.Trim(curve, fixed.data(), -1.0), 1);
  ExpectTriangleIndicesInRange(c.mesh);
  std::set<int> kept;
  for (int i = 0; i < c.mesh->npts; ++i) kept.insert(int(c.mesh->colour[0][i]));
  for (int id : held) EXPECT_TRUE(kept.count(id)) << id;
  // The other three quarters were still trimmed to the circle.
  for (int i = 0; i < c.mesh->npts; ++i)
    if (c.mesh->x[i] < -1e-3 || c.mesh->y[i] < -1e-3) {
      EXPECT_LT(std::hypot(c.mesh->x[i], c.mesh->y[i]), r + 1e-4);
    }
}

TEST_F(MeshTrimming, AnIsolatedTriangleStaysAndOnlyMovesOntoTheCurve) {
  // All three edges are loop edges: no peeling rule applies, so the triangle stays.
  Cloud* m = MakeTestMesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}}, {{0, 1, 2}});
  ASSERT_NE(m, nullptr);
  MeshEdgesAndLoops t;
  ASSERT_EQ(t.Build(m), 0);
  std::vector<IndexNode*> heads(m->npts);
  std::vector<IndexNode> nodes(2 * t.nedges);
  MakeEdgePointers(m, t.edges, t.nedges, heads.data(), nodes.data());
  std::vector<int> loop = {0, 1, 2, 0, 0, 0, 0};
  int count = 3;
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(1.0, 0.3, 0.3, 3), CircleKnots(), CircleWeights()));
  ASSERT_EQ(TrimCloudWithCurve(m, loop.data(), &count, curve, t.edges, heads.data(), nullptr, -1.0), 1);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(m->ntri, 1);
  ASSERT_EQ(m->npts, 3);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(std::hypot(m->x[i] - 0.3, m->y[i] - 0.3), 1.0, 1e-5);
  FreeCloud(m);
}

TEST_F(MeshTrimming, RefusedAllocationsGiveZeroAndLeaveNothingTracked) {
  const double h = 10.0, r = 7.0;
  BsplineKeeper keep;
  Bspline* curve = keep(BuildCurve(2, 3, CirclePoints(r, 0, 0, 3), CircleKnots(), CircleWeights()));
  int failed = 0;
  long skip = 0;
  RunWithInjectedFailures(60, 1, [&] {
    // The case is built with every allocation granted; only the trim's own are refused.
    MallocFailClear();
    TrimCase c(9, h);
    MallocFailAfter(skip++, -1);
    if (!c.Ready()) return 1;
    const int ntri = c.mesh->ntri, npts = c.mesh->npts;
    const int r1 = c.Trim(curve, nullptr, 0.01);
    ExpectTriangleIndicesInRange(c.mesh);
    if (r1 == 0 && c.mesh->npts == npts && c.mesh->ntri == ntri) ++failed;
    return r1 ? 0 : 1;
  });
  // Failures while peeling leave the mesh as it was.
  EXPECT_GT(failed, 0);
}

}  // namespace
