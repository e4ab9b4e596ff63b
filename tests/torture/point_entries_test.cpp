// The cloud and mesh queries that take a triangle, a point, an edge or a count from the caller:
// a number that names nothing of the mesh is answered with the documented "no" at once, and the
// answers for numbers that do name something are the geometry's own.
#include <climits>
#include <cmath>
#include <vector>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pchord.h"
#include "cloud/pcopy.h"
#include "cloud/premove.h"
#include "cloud/psort.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/pharm.h"
#include "mesh/poffset.h"
#include "mesh/rpmclose.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"
#include "tests/torture/meshes.h"

namespace {

using PointEntries = KernelTest;

struct Tube {
  Cloud* m = MakeTubeMesh(6, 4, 1.0, 2.0);
  ~Tube() { FreeCloud(m); }
};

TEST_F(PointEntries, TriangleQueriesAnswerNoForANumberOutsideTheMesh) {
  Tube tube;
  Cloud* m = tube.m;
  ASSERT_TRUE(m);
  const MeshImage before(m);
  for (int t : {-1, m->ntri, INT_MAX, INT_MIN}) {
    double angles[3] = {1, 1, 1}, angle = 1;
    EXPECT_EQ(FindTriangleAngles(m, t, angles), 0) << t;
    EXPECT_EQ(angles[0] + angles[1] + angles[2], 0.0) << t;
    EXPECT_EQ(FindTriangleAngleAtVert(m, t, 0, &angle), 0) << t;
    EXPECT_EQ(angle, 0.0) << t;
    EXPECT_EQ(FindCldTriangleArea(m, t), 0.0) << t;
    EXPECT_EQ(PolygonHasVertex(m, t, 0), 0) << t;
    EXPECT_EQ(PolysHaveCommonVertex(m, t, 0), 0) << t;
    EXPECT_EQ(PolysHaveCommonVertex(m, 0, t), 0) << t;
    EXPECT_EQ(VertNotInPoly2(m, t, 0), -1) << t;
    EXPECT_EQ(VertNotInPoly2(m, 0, t), -1) << t;
    int shared[2] = {7, 7};
    EXPECT_EQ(IsConcaveEdge(m, 0, t, 0.1, shared), 0) << t;
    EXPECT_EQ(shared[0], -1);
    EXPECT_EQ(PolysOverlap(m, t, 0, m->tri[0].v[0]), 1) << t;
    int edges[6];
    FindPolyEdges(m, t, edges, nullptr);
    for (int e : edges) EXPECT_EQ(e, -1) << t;
    const int pairs[2] = {0, 1};
    EXPECT_EQ(PolyConnected(m, t, pairs, 1, nullptr), 0) << t;
    EXPECT_EQ(PolyDisconnected(m, t, pairs, 1, nullptr, nullptr, 0, nullptr, 0, nullptr), 0) << t;
    int32_t v[3] = {5, 5, 5};
    double pts[3][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    FindPolyVertsAndNorms(m, t, v, pts, nullptr);
    EXPECT_EQ(v[0] + v[1] + v[2], -3) << t;
    EXPECT_EQ(pts[2][2], 0.0) << t;
  }
  EXPECT_TRUE(before == MeshImage(m));
  // Inside the mesh: every triangle's angles make a half turn, its area is half its edges' cross
  // product, and it shares its own corners.
  for (int t = 0; t < m->ntri; ++t) {
    double a[3];
    ASSERT_EQ(FindTriangleAngles(m, t, a), 1);
    EXPECT_NEAR(a[0] + a[1] + a[2], 180.0, 1e-6) << t;  // degrees
    double p[3][3];
    for (int k = 0; k < 3; ++k) {
      const int v = m->tri[t].v[k];
      p[k][0] = m->x[v], p[k][1] = m->y[v], p[k][2] = m->z[v];
    }
    const double u[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const double w[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const double area = 0.5 * std::hypot(u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]);
    EXPECT_NEAR(FindCldTriangleArea(m, t), area, 1e-6 * area) << t;
    EXPECT_EQ(PolysHaveCommonVertex(m, t, t), 1);
    EXPECT_EQ(VertNotInPoly2(m, t, t), -1);
  }
}

TEST_F(PointEntries, PointAndEdgeNumbersThatNameNoPointChangeNothing) {
  Tube tube;
  Cloud* m = tube.m;
  ASSERT_TRUE(m);
  const MeshImage before(m);
  SetCldPointsEqual(m, -1, 0);
  SetCldPointsEqual(m, 0, m->npts);
  EXPECT_TRUE(before == MeshImage(m));
  const int32_t edges[4] = {0, 1, 2, m->npts + 5};
  double a[3] = {1, 1, 1}, b[3] = {1, 1, 1};
  FindEdgePoints(m, edges, -1, a, b);
  EXPECT_EQ(a[0] + a[1] + a[2] + b[0] + b[1] + b[2], 0.0);
  FindEdgePoints(m, edges, 1, a, b);
  EXPECT_EQ(a[0] + a[1] + a[2] + b[0] + b[1] + b[2], 0.0);
  EXPECT_EQ(EdgesWithinTol(m, edges, 0.5, 0, -1, 0), 0);
  EXPECT_EQ(EdgesWithinTol(m, edges, 0.5, 0, 1, 0), 0);
  EXPECT_EQ(EdgesWithinTol(m, edges, 0.5, 0, 0, 1), 1);  // an edge runs along itself
}

TEST_F(PointEntries, MeshListsAndClosingsRefuseACornerThatNamesNoPoint) {
  Tube a, b;
  ASSERT_TRUE(a.m && b.m);
  a.m->tri[3].v[2] = a.m->npts + 3;
  {
    TrackingScope scope;
    EXPECT_EQ(NewPolyPointers(a.m), nullptr);
    EXPECT_NE(NewPolyPointers(b.m), nullptr);
  }
  const MeshImage beforeA(a.m), beforeB(b.m);
  int listA[3] = {0, 1, 2}, listB[3] = {0, 1, 2};
  const int order[3] = {0, 1, 2};
  int capA = a.m->npts, triA = a.m->ntri, capB = b.m->npts, triB = b.m->ntri;
  EXPECT_EQ(CloseVertexEye(a.m, b.m, listA, listB, 3, 3, order, order, &capA, &triA, &capB, &triB, 0.1), 0);
  listA[1] = -4;
  EXPECT_EQ(CloseOneVertexBndr(b.m, listB, order, 3, b.m, listA, order, 3, 0.1, &capB, &triB), 0);
  EXPECT_TRUE(beforeA == MeshImage(a.m));
  EXPECT_TRUE(beforeB == MeshImage(b.m));
  a.m->tri[3].v[2] = 0;  // freed as it was made
}

TEST_F(PointEntries, ChordSpansFromAnAnchorOutsideThePointsEndAtOnce) {
  std::vector<float> x(20), y(20, 0.0f), z(20, 0.0f);
  for (int i = 0; i < 20; ++i) x[i] = float(i);
  const double A[3] = {3, 0, 0};
  int end = 7;
  double E[3];
  for (int a : {-1, 20, INT_MIN}) {
    FindPointOfEndSpanArrays(x.data(), y.data(), z.data(), 20, a, A, &end, E, 4.0);
    EXPECT_EQ(end, -1);
    EXPECT_EQ(E[0], 3.0);
    FindPointOfEndSpanArraysAng(x.data(), y.data(), z.data(), 20, a, A, &end, E, 4.0, 0.5);
    EXPECT_EQ(end, -1);
  }
  FindPointOfEndSpanArrays(x.data(), y.data(), z.data(), 0, 0, A, &end, E, 4.0);
  EXPECT_EQ(end, -1);
  int worst = 7;
  double W[3], dev = 1;
  FindPointOfMaxDevArrays(x.data(), y.data(), z.data(), 0, A, -1, A, &worst, W, &dev);
  EXPECT_EQ(worst, -1);
  EXPECT_EQ(dev, 0.0);
  // From a point on a line of unit steps, the span of length 2.5 ends two steps on, the
  // farthest point still within it; and nothing on the line deviates from its chord.
  FindPointOfEndSpanArrays(x.data(), y.data(), z.data(), 20, 3, A, &end, E, 2.5 * 2.5);
  EXPECT_EQ(end, 5);
  EXPECT_EQ(E[0], 5.0);
  FindPointOfMaxDevArrays(x.data(), y.data(), z.data(), 3, A, 5, E, &worst, W, &dev);
  EXPECT_EQ(worst, 5);
  EXPECT_EQ(dev, 0.0);
  // A cloud with no points left has no span.
  Cloud* c = MakeCld(x.data(), y.data(), z.data(), 20, nullptr);
  ASSERT_TRUE(c);
  c->npts = 0;
  FindPointOfEndSpan(c, 0, A, &end, E, 4.0);
  EXPECT_EQ(end, -1);
  FindPointOfMaxDev(c, 0, A, 4, E, &worst, W, &dev);
  EXPECT_EQ(worst, -1);
  c->npts = 20;
  FreeCloud(c);
}

TEST_F(PointEntries, CountsAndIndicesOutsideTheArraysAreNoPoints) {
  const float x1[3] = {0, 1, 2}, y1[3] = {0, 0, 0}, z1[3] = {0, 0, 0};
  const float x2[2] = {5, 6}, y2[2] = {0, 0}, z2[2] = {0, 0};
  std::vector<float> xo(5, -9.0f), yo(5, -9.0f), zo(5, -9.0f);
  std::vector<int> map(5, -9);
  // A negative count is an empty set: the other set comes back alone, in the first entries.
  EXPECT_EQ(JoinPointSetsToTol(x1, y1, z1, -1, x2, y2, z2, 2, xo.data(), yo.data(), zo.data(), map.data(), 0.1), 2);
  EXPECT_EQ(xo[0], 5.0f);
  EXPECT_EQ(xo[2], -9.0f);
  EXPECT_EQ(JoinPointSetsToTol(x1, y1, z1, 3, x2, y2, z2, -7, xo.data(), yo.data(), zo.data(), map.data(), 0.1), 3);
  EXPECT_EQ(map[3], -9);
  EXPECT_EQ(IsNextDistLessThanCurrent(-1, 1, 2, 2, 3, x1, y1, z1, 1), 0);
  EXPECT_EQ(IsNextDistLessThanCurrent(0, 1, 2, 3, 3, x1, y1, z1, 1), 0);
  const int degree[2] = {0, 0}, pathEnd[2] = {0, 1};
  int closest = 5;
  double d2 = 0;
  FindClosestScanAndDistsq(x2, y2, z2, x2, y2, z2, 2, -1, degree, pathEnd, &closest, &d2);
  EXPECT_EQ(closest, -1);
  FindClosestScanAndDistsq(x2, y2, z2, x2, y2, z2, 2, 0, degree, pathEnd, &closest, &d2);
  EXPECT_EQ(closest, 1);
  EXPECT_EQ(d2, 1.0);
}

TEST_F(PointEntries, CloudsFromNullCoordinateArraysAreRefused) {
  const float x[6] = {0, 1, 0, 2, 3, 2}, y[6] = {0, 0, 1, 0, 0, 1}, z[6] = {0, 0, 0, 1, 1, 1};
  EXPECT_EQ(MakeCld(x, nullptr, z, 6, nullptr), nullptr);
  EXPECT_EQ(MakePolyCldXYZ(x, y, nullptr, 2, nullptr), nullptr);
  Cloud* c = MakeCld(x, y, z, 6, nullptr);
  ASSERT_TRUE(c);
  EXPECT_EQ(InsertNPtsCld(c, nullptr, y, z, 2, 3, nullptr), nullptr);
  // With no points to insert the arrays are not read: a copy, points as they were.
  Cloud* same = InsertNPtsCld(c, nullptr, nullptr, nullptr, 0, 3, nullptr);
  ASSERT_TRUE(same);
  ASSERT_EQ(same->npts, 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(same->x[i], x[i]);
  FreeCloud(same);
  FreeCloud(c);
  // Two triangles apart make six points; their corners name them.
  Cloud* soup = MakePolyCldXYZ(x, y, z, 2, nullptr);
  ASSERT_TRUE(soup);
  EXPECT_EQ(soup->npts, 6);
  EXPECT_EQ(soup->ntri, 2);
  EXPECT_TRUE(MeshCornersNamePoints(soup, nullptr));
  FreeCloud(soup);
}

TEST_F(PointEntries, ScaledCopiesStayInTheFloatRangeAndMapBack) {
  Tube tube;
  ASSERT_TRUE(tube.m);
  EXPECT_EQ(ScaledCloudCopy(tube.m, 1e300), nullptr);
  EXPECT_EQ(ScaledCloudCopy(tube.m, 1e40), nullptr);
  for (double s : {1e-6, 1e-3, 1.0, 1e3, 1e6}) {
    Cloud* big = ScaledCloudCopy(tube.m, s);
    ASSERT_TRUE(big) << s;
    Cloud* back = ScaledCloudCopy(big, 1.0 / s);
    ASSERT_TRUE(back) << s;
    for (int i = 0; i < tube.m->npts; ++i) {
      EXPECT_NEAR(back->x[i], tube.m->x[i], 1e-6) << s;
      EXPECT_NEAR(back->z[i], tube.m->z[i], 1e-6) << s;
    }
    FreeCloud(back);
    FreeCloud(big);
  }
}

}  // namespace

namespace {

// A square of two triangles subdivided to edges of a 1/100 of its side: some 20,000 triangles,
// their arrays grown in proportion (a couple of hundred requests to the runtime over every
// sweep), not in steps of a fixed count (thousands, copying the square of the count in all).
// The offset cuts edges to a tenth of the box it is given: a box a thousandth of the mesh would
// ask for some 10^8 times its triangles, and is refused as not the mesh's box.
TEST_F(PointEntries, AnOffsetRefusesABoxThatDoesNotHoldTheMesh) {
  Tube small, own, none;
  ASSERT_TRUE(small.m && own.m && none.m);
  const double tiny[6] = {0, 0, 0, 1e-3, 1e-3, 1e-3};
  const MeshImage before(small.m);
  EXPECT_EQ(CreateOffsetPolyCloud(small.m, 0.1, 1e-4, 0, tiny, 0, 0), nullptr);
  EXPECT_TRUE(KernelFailed());
  EXPECT_TRUE(before == MeshImage(small.m));
  ClearKernelError();
  double box[6];
  GetCloudMinMax(own.m, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  Cloud* a = CreateOffsetPolyCloud(own.m, 0.1, 1e-4, 0, box, 0, 0);
  Cloud* b = CreateOffsetPolyCloud(none.m, 0.1, 1e-4, 0, nullptr, 0, 0);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->npts, b->npts);  // the mesh's own box, given or computed, cuts alike
  EXPECT_EQ(a->ntri, b->ntri);
  if (a != own.m) FreeCloud(a);
  if (b != none.m) FreeCloud(b);
}

TEST_F(PointEntries, SubdivisionGrowsItsArraysInProportion) {
  Cloud* m = MakeGridMesh(2, 2, [](int, int) { return true; }, 1.0);
  ASSERT_TRUE(m);
  const long before = MallocRuntimeRequests();
  ASSERT_EQ(SubdivideCloudEdgesToTol(m, 0.01), 1);
  const long requests = MallocRuntimeRequests() - before;
  EXPECT_GT(m->ntri, 10000);
  EXPECT_LT(requests, 500) << m->ntri;
  double area = 0.0;
  for (int t = 0; t < m->ntri; ++t) area += FindCldTriangleArea(m, t);
  EXPECT_NEAR(area, 1.0, 1e-4);  // the square, however finely cut
  FreeCloud(m);
}

}  // namespace
