// Inputs that used to crash, hang or overflow: each family refused at the door, promptly, with
// the error state set and the input as it was.
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "bspline/degelev.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "cloud/putil.h"
#include "intersect/newintr.h"
#include "mesh/cldtrim.h"
#include "mesh/poffset.h"
#include "mesh/putil.h"
#include "curve/crverr.h"
#include "quadric/premove.h"
#include "shrinkwrap/cshrink.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/meshes.h"
#include "tests/torture/driver.h"
#include "tests/torture/meshes.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using CrashFamilies = KernelTest;

TEST_F(CrashFamilies, CountsAndDegreesThatWouldOverflowAreRefusedBeforeAnyArithmetic) {
  const int cases[][2] = {{INT_MAX, -5}, {INT_MAX, INT_MAX}, {-1, 4}, {3, 3}, {INT_MIN, INT_MAX}, {3, INT_MIN}};
  for (const auto& c : cases) {
    ClearKernelError();
    EXPECT_EQ(MallocCurveBspline(3, c[0], c[1]), nullptr) << c[0] << " " << c[1];
    EXPECT_TRUE(KernelFailedNow()) << c[0] << " " << c[1];
  }
  // Counts that fit a degree but not an int of knots: the ordinary out-of-memory failure.
  Bspline* b = MallocNullBspline();
  ASSERT_NE(b, nullptr);
  b->kind = 1, b->dimension = 3, b->degreeU = 22, b->interiorU = INT_MAX - 30;
  ClearKernelError();
  EXPECT_EQ(AllocateBsplineArrays(b), -2);
  EXPECT_EQ(memory_error, 1);
  EXPECT_EQ(b->knotsU, nullptr);
  FreeBspline(b);
  ClearKernelError();
  Bspline* sound = MallocCurveBspline(3, 3, 4);
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(NumKnotsU(sound), 8);
  FreeBspline(sound);
}

// Degree elevation through the segment method's highest degree and past it leaves the shape.
TEST_F(CrashFamilies, DegreeElevationAcrossTheSegmentMethodsLimitKeepsTheShape) {
  BsplineKeeper keep;
  for (int p : {7, 8, 9}) {
    Bspline* c = keep(BuildRandomCurve(40 + p, p, p + 5, 3, p == 8));
    Bspline* ref = keep(BuildRandomCurve(40 + p, p, p + 5, 3, p == 8));
    ASSERT_NE(c, nullptr);
    int dir = 0;
    ElevateDegreeOfObjSet(p + 2, &dir, &c, 1);
    ASSERT_FALSE(KernelFailedNow());
    EXPECT_EQ(c->degreeU, p + 2);
    for (int i = 0; i <= 20; ++i) {
      double a[3], b[3];
      Eval3DPointOnCurve3Array(c, i / 20.0, 0, a);
      Eval3DPointOnCurve3Array(ref, i / 20.0, 0, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], 1e-12) << p << " " << i;
    }
  }
}

// Non-finite mesh points: every mesh tool refuses them, leaving the mesh as it was.
TEST_F(CrashFamilies, MeshToolsRefuseNonFinitePoints) {
  for (float bad : {float(kNaN), float(kInf), -float(kInf)}) {
    Cloud* m = MakeTubeMesh(12, 6, 1.0, 3.0);
    ASSERT_NE(m, nullptr);
    m->x[7] = bad;
    const MeshImage before(m);
    ClearKernelError();
    EXPECT_EQ(CapAllLoops(m), 1);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_TRUE(before == MeshImage(m)) << "CapAllLoops";
    ClearKernelError();
    EXPECT_EQ(SubdivideCloudEdgesToTol(m, 0.1), 0);
    EXPECT_TRUE(before == MeshImage(m)) << "SubdivideCloudEdgesToTol";
    ClearKernelError();
    EXPECT_EQ(RemoveDegenCldPolys(m, 1e-3, nullptr), -1);
    EXPECT_TRUE(before == MeshImage(m)) << "RemoveDegenCldPolys";
    ClearKernelError();
    EXPECT_EQ(BuildOffsetPolyCloud(m, 0.1, nullptr), nullptr);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_TRUE(before == MeshImage(m)) << "BuildOffsetPolyCloud";
    ClearKernelError();
    EXPECT_EQ(CreateOffsetPolyCloud(m, 0.1, 1e-4, 1, nullptr, 0, 0), nullptr);
    EXPECT_TRUE(KernelFailedNow());
    EXPECT_TRUE(before == MeshImage(m)) << "CreateOffsetPolyCloud";
    ClearKernelError();
    Cloud** parts = nullptr;
    int count = -1;
    EXPECT_EQ(CloudConnectivityBreak(m, 0.5, &parts, &count), 0);
    EXPECT_EQ(parts, nullptr);
    ClearKernelError();
    EXPECT_EQ(CloudConnectivityBreak(m, -1e300, &parts, &count), 0);
    FreeCloud(m);
    ClearKernelError();
  }
  // A mesh maker given such a point refuses it too.
  const float verts[] = {0, 0, 0, 1, 0, 0, float(kNaN), 1, 0};
  const int idx[] = {0, 1, 2};
  ClearKernelError();
  EXPECT_EQ(MakePolyCld(1, idx, 3, verts, 3, nullptr), nullptr);
  EXPECT_TRUE(KernelFailedNow());
}

// Finite sizes whose work has no bound in the mesh: refused, not ground through.
TEST_F(CrashFamilies, SubdivisionOfFarPointsIsRefusedInsteadOfGrowingWithoutEnd) {
  Cloud* m = MakeTubeMesh(8, 3, 1.0, 2.0);
  ASSERT_NE(m, nullptr);
  m->x[3] = 3e38f;
  const MeshImage before(m);
  EXPECT_EQ(SubdivideCloudEdgesToTol(m, 1e15), 0);
  EXPECT_TRUE(before == MeshImage(m));
  FreeCloud(m);
  // A modest split still works: every edge ends no longer than asked.
  ClearKernelError();
  m = MakeTubeMesh(8, 3, 1.0, 2.0);
  ASSERT_EQ(SubdivideCloudEdgesToTol(m, 0.3), 1);
  for (int t = 0; t < m->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m->tri[t].v[k], b = m->tri[t].v[(k + 1) % 3];
      EXPECT_LE(std::hypot(m->x[a] - m->x[b], m->y[a] - m->y[b], m->z[a] - m->z[b]), 0.3 + 1e-6);
    }
  FreeCloud(m);
}

// Malformed triangles and tolerances: refused or survived, never read outside the mesh.
TEST_F(CrashFamilies, MalformedTrianglesAndTolerancesStayInsideTheMesh) {
  Cloud* m = MakeTubeMesh(10, 4, 1.0, 2.0);
  ASSERT_NE(m, nullptr);
  m->tri[5].v[1] = m->tri[5].v[0];  // one point named twice
  Cloud* shell = BuildOffsetPolyCloud(m, 0.05, nullptr);
  if (shell) {
    EXPECT_TRUE(MeshCornersNamePoints(shell, nullptr));
    FreeCloud(shell);
  }
  FreeCloud(m);
  // On an open sheet a corner's list of triangles names such a triangle twice, more entries
  // than the mesh has triangles (the offset's plane scratch overflowed), and the in-place offset
  // looked for the third corner of a triangle that has none (read before the points).
  for (int size : {2, 6}) {
    for (bool inPlace : {false, true}) {
      ClearKernelError();
      m = MakeGridMesh(size, size, [](int, int) { return true; });
      ASSERT_NE(m, nullptr);
      const int t = size == 2 ? 0 : 48;
      m->tri[t].v[1] = m->tri[t].v[0];
      if (inPlace) {
        Cloud* out = CreateOffsetPolyCloud(m, 0.05, 1e-4, 0, nullptr, 0, 0);
        EXPECT_TRUE(out ? MeshCornersNamePoints(out, nullptr) : KernelFailed()) << size;
      } else {
        shell = BuildOffsetPolyCloud(m, 0.05, nullptr);
        ASSERT_NE(shell, nullptr) << size;
        EXPECT_TRUE(MeshCornersNamePoints(shell, nullptr));
        EXPECT_EQ(shell->npts, 2 * m->npts);
        FreeCloud(shell);
      }
      FreeCloud(m);
    }
  }
  for (double tol : {-1e299, -1.0, kNaN, 1e300}) {
    ClearKernelError();
    m = MakeTubeMesh(10, 4, 1.0, 2.0);
    const MeshImage before(m);
    const int r = RemoveDegenCldPolys(m, tol, nullptr);
    if (tol < 0 || !std::isfinite(tol)) {
      EXPECT_EQ(r, -1) << tol;
      EXPECT_TRUE(before == MeshImage(m)) << tol;
    }
    EXPECT_TRUE(MeshCornersNamePoints(m, nullptr));
    FreeCloud(m);
  }
}

TEST_F(CrashFamilies, CurveFitsRefuseNonFiniteKnotsAndSamples) {
  BsplineKeeper keep;
  ShrnkWrapParams params{};
  params.Tension = 0.5, params.Roughness = 0.5, params.Sigma = 1.0;
  std::vector<double> t, x, y, z;
  for (int i = 0; i <= 20; ++i) {
    t.push_back(i / 20.0);
    x.push_back(i / 20.0), y.push_back(std::sin(i / 5.0)), z.push_back(0.1 * i);
  }
  for (int at : {0, 2, 4, 7}) {
    ClearKernelError();
    Bspline* c = keep(BuildRandomCurve(5, 3, 4 + 4, 3));
    ASSERT_NE(c, nullptr);
    c->knotsU[at] = at == 2 ? kNaN : kInf;
    Bspline* result = nullptr;
    EXPECT_EQ(ShrinkWrapCrv3(c, 21, t.data(), x.data(), y.data(), z.data(), &params, &result), -2) << at;
    EXPECT_EQ(result, nullptr);
    EXPECT_TRUE(KernelFailedNow());
  }
  ClearKernelError();
  Bspline* c = keep(BuildRandomCurve(5, 3, 8, 3));
  ASSERT_NE(c, nullptr);
  x[4] = kNaN;
  Bspline* result = nullptr;
  ClearKernelError();
  EXPECT_EQ(ShrinkWrapCrv3(c, 21, t.data(), x.data(), y.data(), z.data(), &params, &result), -2);
  EXPECT_EQ(result, nullptr);
}

// Surfaces whose squared sizes overflow: refused at once instead of subdividing without end.
TEST_F(CrashFamilies, IntersectionOfSurfacesPastTheSquaredRangeIsRefused) {
  BsplineKeeper keep;
  for (double scale : {1.0, 1e100, 1e300}) {
    PatchOptions o;
    o.x0 = -scale, o.x1 = scale, o.y0 = -scale, o.y1 = scale;
    Bspline* a = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
    Bspline* b = keep(BuildFunctionPatch([](double, double) { return 0.0; }, o));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // b stood upright through a: the two meet along the x axis.
    for (int i = 0; i < NumCtrlU(b) * NumCtrlV(b); ++i) std::swap(b->Y[0][i], b->Z[0][i]);
    BsplineList* out = nullptr;
    const int r = CreateSrfSrfIntersectionCurves(a, b, &out);
    if (scale > 1e150) {
      EXPECT_EQ(r, 0);
      EXPECT_EQ(out, nullptr);
    } else {
      EXPECT_EQ(r, 1) << scale;
      EXPECT_NE(out, nullptr) << scale;
    }
    while (out) {
      BsplineList* next = out->next;
      Free(out);
      out = next;
    }
    ClearKernelError();
  }
}

// Point clouds with a NaN, and bad lengths: the outlier grid is refused before it is sized.
TEST_F(CrashFamilies, CloudNeighbourhoodsRefuseNonFinitePointsAndLengths) {
  std::vector<float> x, y, z;
  for (int i = 0; i < 200; ++i) {
    const double a = 0.1 * i, h = 0.01 * (i % 17);
    x.push_back(float(std::cos(a))), y.push_back(float(std::sin(a))), z.push_back(float(h));
  }
  Cloud* cloud = MakeCld(x.data(), y.data(), z.data(), 200, nullptr);
  ASSERT_NE(cloud, nullptr);
  std::vector<float> nx(200, 5.f), ny(200, 5.f), nz(200, 5.f);
  EXPECT_EQ(OutlierRemove(cloud, kNaN, 0.01, 0), 0);
  EXPECT_EQ(OutlierRemove(cloud, -1e300, 0.01, 0), 0);
  EXPECT_EQ(OutlierRemove(cloud, 0.3, 1e300, 0), 0);
  EXPECT_EQ(cloud->npts, 200);
  cloud->z[17] = float(kNaN);
  EXPECT_EQ(OutlierRemove(cloud, 0.3, 0.01, 0), 0);
  EXPECT_EQ(cloud->npts, 200);
  // The normals leave such a point out and give the others theirs.
  EXPECT_EQ(ComputeCloud3DNormals(cloud, nx.data(), ny.data(), nz.data(), nullptr), 1);
  EXPECT_TRUE(std::isfinite(nx[0]) && std::isfinite(ny[0]) && std::isfinite(nz[0]));
  FreeCloud(cloud);
}

// Calls the driver found slow (up to 47 s under the sanitizers), made again from their seeds as
// the driver makes them: a sample count past any answer's need is refused at once, nothing
// written; an offset whose capper meets long loops over a fold ends, soundly, in bounded work.
TEST_F(CrashFamilies, SlowCallsFromTheDriverAreRefusedOrBounded) {
  using namespace torture;
  for (unsigned seed : {36763u}) {
    Call c("TwoCurve3MaxDiff", seed);
    OnCurvePair(c, [&](Record& a, Record& b, Records&, auto unchanged) {
      double diff = 42.0;
      const int count = c.Count(c.I(2, 6));
      EXPECT_GT(count, 4096) << seed;
      EXPECT_EQ(TwoCurve3MaxDiff(a.b, b.b, count, &diff), -2) << seed;
      EXPECT_EQ(diff, 42.0);
      EXPECT_TRUE(unchanged());
    });
  }
  for (unsigned seed : {261u, 2170u}) {
    ClearKernelError();
    Call c("CreateOffsetPolyCloud", seed);
    Cloud* m = MakeMesh(c);
    ASSERT_NE(m, nullptr);
    const double size = MeshSize(m);
    Cloud* out = CreateOffsetPolyCloud(m, c.Scalar(0.05 * size), 1e-4 * size, c.I(0, 1), nullptr, c.I(0, 1), 0);
    EXPECT_TRUE(out ? SoundCloud(out) : KernelFailed()) << seed;
    FreeCloud(m);
  }
}

}  // namespace
