// An array whose length the caller gives (a pointer with a count, a cloud, a mesh) that is null
// with a positive count is refused with the function's own failure return before anything is read
// or allocated, and every output stays as it was; one case per way of failing.
#include <cmath>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pchord.h"
#include "cloud/princip.h"
#include "cloud/psubdiv.h"
#include "foundation/geo2.h"
#include "foundation/mathmat.h"
#include "foundation/minmax.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/rpmclose.h"
#include "quadric/qcircle.h"
#include "splinefit/intrplt.h"
#include "tests/support/kernel_fixture.h"
#include "tests/torture/meshes.h"

namespace {

using NullArrays = KernelTest;

constexpr double kMark = 7.25;  // what an untouched output still holds

// Functions that return nothing write nothing; those documented to report through the error
// state set it to -2.
TEST_F(NullArrays, FunctionsReturningNothingWriteNothing) {
  std::vector<double> out(16, kMark);
  const double v[4] = {0, 1, 2, 3};
  SamplesPerSpan(nullptr, 4, out.data(), 3);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  VectorSubtraction(v, nullptr, out.data(), 4);
  NegateVector(nullptr, out.data(), 4);
  int idx[4] = {9, 9, 9, 9};
  HeapSortWithIndexing(4, nullptr, idx);
  EXPECT_EQ(idx[0], 9);
  double lo = kMark, hi = kMark;
  GetMinMaxD(nullptr, 4, &lo, &hi);
  EXPECT_EQ(lo, kMark);
  EXPECT_EQ(hi, kMark);
  double centroid[3] = {kMark, kMark, kMark};
  const float f[3] = {1, 2, 3};
  ComputeCenterOfMass(f, nullptr, f, 3, centroid);
  EXPECT_EQ(centroid[1], kMark);
  for (double o : out) EXPECT_EQ(o, kMark);
  EXPECT_FALSE(KernelFailedNow());
}

// Status functions answer their failure status, outputs untouched.
TEST_F(NullArrays, StatusFunctionsAnswerTheirFailure) {
  double inv[16];
  for (double& e : inv) e = kMark;
  EXPECT_EQ(mat_inverse4(nullptr, inv), -2);
  EXPECT_EQ(inv[0], kMark);
  double** A = allocate_matrix_ff(2, 2);
  ASSERT_TRUE(A);
  A[0][0] = A[1][1] = 1.0, A[0][1] = A[1][0] = 0.0;
  double x[2] = {kMark, kMark};
  EXPECT_EQ(SolveLinearSystem_ff(A, 2, nullptr, x), -2);
  EXPECT_EQ(x[0], kMark);
  matrix_free_ff(A);
  double centroid[3] = {kMark, kMark, kMark};
  const double d[3] = {1, 2, 3};
  EXPECT_EQ(ComputeCenterOfMass_d(d, d, nullptr, 3, centroid), -2);
  EXPECT_EQ(centroid[0], kMark);
  std::vector<int> keep(8, 5);
  const float p[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(ChordDevOptArrays(p, nullptr, p, 8, 0.1, 10.0, keep.data()), -2);
  EXPECT_EQ(keep[0], 5);
  EXPECT_EQ(solve_BandMatrix(nullptr, 2, d, centroid, 3, nullptr), -2);
  circle_fit_error(nullptr, p, 8, d, 1.0, centroid, centroid + 1);
  EXPECT_EQ(centroid[0], 0.0);  // documented: both measures 0
  EXPECT_EQ(CircleNonlinearFit(p, nullptr, 8, centroid, centroid + 2, 1e-6, 10, centroid, centroid + 1), -2);
  EXPECT_EQ(IsEqualVectors(d, nullptr, 3, 1.0), 0);
  EXPECT_EQ(VectorDotProduct(nullptr, d, 3), 0.0);
}

// Functions that make an array or a structure hand back null with the error state -2, having
// allocated nothing.
TEST_F(NullArrays, MakersHandBackNullWithTheErrorState) {
  const double v[3] = {0, 0.5, 1};
  const int at[1] = {0};
  const float f[4] = {0, 1, 2, 3};
  const long before = MallocRuntimeRequests();
  EXPECT_EQ(InsertNColsInVectorByIndex(3, nullptr, 1, v, at), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(InsertNColsInVectorByIndex(3, v, 1, v, nullptr), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(GrahamConvexHull(f, nullptr, 4), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(BuildBoxTree(nullptr, 4), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(SubdivideArrays(f, f, nullptr, 4, 0, 0, 0, 3, 3, 3, 1.0, 96), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(RemoveByAveKnotsForInterpolate(nullptr, 4, 3), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  int count = 7;
  double* distinct = nullptr;
  DistinctKnotValues(4, nullptr, &count, &distinct);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(distinct, nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  EXPECT_EQ(MallocRuntimeRequests(), before);
}

// A null cloud or mesh is refused by the cloud and mesh tools with their documented "no".
TEST_F(NullArrays, CloudAndMeshToolsRefuseANullMesh) {
  EXPECT_EQ(CloudPointsFinite(nullptr), 0);
  EXPECT_EQ(MeshCornersNamePoints(nullptr, nullptr), 0);
  EXPECT_EQ(CloudSetNormVerts(nullptr), 0);
  EXPECT_EQ(CloudSetIsVerts(nullptr), 0);
  EXPECT_EQ(ReallocCldXYZArrays(nullptr, 10), 0);
  EXPECT_EQ(SubdividePolysInto3Polys(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(SubdividePolysInto4Polys(nullptr, nullptr, nullptr), 0);
  int capacity = 0;
  const int chain[2] = {0, 1};
  EXPECT_EQ(JoinEqualVerticesByBridging(nullptr, chain, chain, 2, &capacity), 0);
  EXPECT_FALSE(KernelFailedNow());
  EXPECT_EQ(CapAllLoops(nullptr), 1);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  // A sound mesh with a null mask is refused too, its triangles as they were.
  Cloud* mesh = MakeTubeMesh(6, 4, 1.0, 2.0);
  ASSERT_TRUE(mesh);
  const int ntri = mesh->ntri;
  EXPECT_EQ(RemoveCldPolys(mesh, nullptr), 0);
  EXPECT_EQ(mesh->ntri, ntri);
  FreeCloud(mesh);
}

}  // namespace
