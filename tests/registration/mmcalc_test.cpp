#include "registration/mmcalc.h"

#include <cmath>
#include <random>

#include "registration/stepreg.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class FeaturePoints : public KernelTest {
 protected:
  void TearDown() override {
    FreeFeaturePairList(list);
    KernelTest::TearDown();
  }
  // Both sides the same feature; Move puts the B side where the motion takes it.
  void Move(const RegVec& motion) {
    Xform M;
    ASSERT_EQ(RegVecToXfrmMat(&motion, M), 0);
    for (RegPair* p = list; p; p = p->next) ASSERT_EQ(XformRegFeature(p->B, M), 0);
  }
  static void Plane(const double n[3], const double p[3], double plane[4]) {
    double u[3];
    VecNormalize3(n, u);
    for (int k = 0; k < 3; ++k) plane[k] = u[k];
    plane[3] = -VecDotProd3(u, p);
  }
  RegPair* list = nullptr;
};

// Points, lines, a directed line, planes and a direction in general position, and their image
// under a motion: every point made on the B side is the motion of its A point, whatever
// construction made it (single features, pairs, triples, the lines where plane pairs meet).
TEST_F(FeaturePoints, EveryTargetPointIsTheMotionOfItsMovingPoint) {
  const double p1[3] = {1, 2, 3}, p2[3] = {-2, 0.5, 1}, p3[3] = {0.3, -1, 2.2};
  const double l1[3] = {4, 0, 0}, l2[3] = {3, 2, 1}, m1[3] = {-1, 3, 0.5}, m2[3] = {0, 4, 2.5};
  const double n1[3] = {0.2, 0.1, 1}, n2[3] = {1, -0.3, 0.4}, n3[3] = {-0.2, 1, 0.3}, dir[3] = {0.6, 0.8, 0};
  double s1[4], s2[4], s3[4];
  Plane(n1, p1, s1);
  Plane(n2, p2, s2);
  Plane(n3, p3, s3);
  AddPointFeaturePair(&list, p1, p1);
  AddLineFeaturePair(&list, l1, l2, l1, l2);
  AddPlaneFeaturePair(&list, s1, s1);
  AddPointFeaturePair(&list, p2, p2);
  AddDLineFeaturePair(&list, m1, m2, m1, m2);
  AddPlaneFeaturePair(&list, s2, s2);
  AddDirectionFeaturePair(&list, dir, dir);
  AddPlaneFeaturePair(&list, s3, s3);
  AddPointFeaturePair(&list, p3, p3);
  ASSERT_EQ(CountFeaturePairList(list), 9);
  RegVec motion = {{0.8, 0.2, -0.4, 0.4}, {5, -3, 2}};
  NormalizeQternion(motion.q);
  Move(motion);

  PointList *A = nullptr, *B = nullptr;
  ASSERT_EQ(MMRCreateRegPointsFromRegPairList(list, &A, &B, 10.0), 0);
  ASSERT_NE(A, nullptr);
  ASSERT_EQ(A->count, B->count);
  // More than the three single points: pairs, triples and auxiliary lines add theirs.
  EXPECT_GT(A->count, 10);
  EXPECT_EQ(Contains3NonColinear(A), 1);
  // The three single points lead, in list order (the list runs from the last added).
  EXPECT_FLOAT_EQ(A->x[0], float(p3[0]));
  EXPECT_FLOAT_EQ(A->x[1], float(p2[0]));
  EXPECT_FLOAT_EQ(A->x[2], float(p1[0]));
  for (int i = 0; i < A->count; ++i) {
    const double a[3] = {A->x[i], A->y[i], A->z[i]};
    double moved[3];
    VecQterTrans3(a, &motion, moved);
    const double scale = 1.0 + VecSize3(moved);
    EXPECT_NEAR(moved[0], B->x[i], 1e-5 * scale) << i;
    EXPECT_NEAR(moved[1], B->y[i], 1e-5 * scale) << i;
    EXPECT_NEAR(moved[2], B->z[i], 1e-5 * scale) << i;
  }
  FreePointList(A);
  FreePointList(B);
}

TEST_F(FeaturePoints, TwoPlanePairsMeetInALineOnlyAboveTheTolerance) {
  const double origin[3] = {0, 0, 0}, n1[3] = {0, 0, 1};
  const double n2[3] = {0, std::sin(M_PI / 6), std::cos(M_PI / 6)};  // 30 degrees from n1
  double s1[4], s2[4];
  Plane(n1, origin, s1);
  Plane(n2, origin, s2);
  AddPlaneFeaturePair(&list, s1, s1);
  AddPlaneFeaturePair(&list, s2, s2);
  RegPair* aux = nullptr;
  ASSERT_EQ(MMRCreateAuxFeaturePairList(list, &aux, 10.0), 0);
  ASSERT_EQ(CountFeaturePairList(aux), 1);
  EXPECT_EQ(aux->A->type, 1);
  // The common line of the planes is the x axis.
  EXPECT_NEAR(std::fabs(aux->A->dir[0]), 1.0, 1e-12);
  EXPECT_NEAR(aux->A->point[1], 0.0, 1e-9);
  FreeFeaturePairList(aux);
  ASSERT_EQ(MMRCreateAuxFeaturePairList(list, &aux, 40.0), 0);
  EXPECT_EQ(aux, nullptr);
  // Planes alone give no point: a failure with both outputs null.
  PointList *A = reinterpret_cast<PointList*>(1), *B = A;
  EXPECT_EQ(MMRCreateRegPointsFromRegPairList(list, &A, &B, 40.0), -2);
  EXPECT_EQ(A, nullptr);
  EXPECT_EQ(B, nullptr);
  EXPECT_EQ(MMRCreateRegPointsFromRegPairList(nullptr, &A, &B, 40.0), -2);
}

// Three plane pairs meet in one point on each side: that point is the list, and the target's is
// the motion of the moving one.
TEST_F(FeaturePoints, ThreePlanePairsGiveTheirCommonPoint) {
  const double corner[3] = {2, -1, 3}, nx[3] = {1, 0, 0}, ny[3] = {0, 1, 0}, nz[3] = {0, 0, 1};
  double sx[4], sy[4], sz[4];
  Plane(nx, corner, sx);
  Plane(ny, corner, sy);
  Plane(nz, corner, sz);
  AddPlaneFeaturePair(&list, sx, sx);
  AddPlaneFeaturePair(&list, sy, sy);
  AddPlaneFeaturePair(&list, sz, sz);
  RegVec motion = {{0.9, -0.1, 0.3, 0.2}, {-4, 1, 7}};
  NormalizeQternion(motion.q);
  Move(motion);
  PointList *A = nullptr, *B = nullptr;
  ASSERT_EQ(MMRCreateRegPointsFromRegPairList(list, &A, &B, 10.0), 0);
  ASSERT_EQ(A->count, 1);
  ASSERT_EQ(B->count, 1);
  EXPECT_NEAR(A->x[0], corner[0], 1e-5);
  EXPECT_NEAR(A->y[0], corner[1], 1e-5);
  EXPECT_NEAR(A->z[0], corner[2], 1e-5);
  double moved[3];
  VecQterTrans3(corner, &motion, moved);
  EXPECT_NEAR(B->x[0], moved[0], 1e-5);
  EXPECT_NEAR(B->y[0], moved[1], 1e-5);
  EXPECT_NEAR(B->z[0], moved[2], 1e-5);
  FreePointList(A);
  FreePointList(B);
}

TEST_F(FeaturePoints, RefusedAllocationsLeaveBothOutputsNull) {
  const double p[3] = {1, 2, 3}, q[3] = {-1, 0, 2}, r[3] = {0, 3, -1}, n[3] = {0.3, 0.2, 1}, m[3] = {1, 0, 0.2};
  double s1[4], s2[4];
  Plane(n, p, s1);
  Plane(m, q, s2);
  AddPointFeaturePair(&list, p, p);
  AddPointFeaturePair(&list, q, q);
  AddLineFeaturePair(&list, q, r, q, r);
  AddPlaneFeaturePair(&list, s1, s1);
  AddPlaneFeaturePair(&list, s2, s2);
  const long before = MallocRuntimeRequests();
  PointList *A = nullptr, *B = nullptr;
  ASSERT_EQ(MMRCreateRegPointsFromRegPairList(list, &A, &B, 10.0), 0);
  const int count = A->count;
  FreePointList(A);
  FreePointList(B);
  const long requests = MallocRuntimeRequests() - before;
  const int failures = RunWithInjectedFailures(requests + 2, 1, [&] {
    PointList *a = nullptr, *b = nullptr;
    const int result = MMRCreateRegPointsFromRegPairList(list, &a, &b, 10.0);
    if (result != 0) {
      EXPECT_EQ(a, nullptr);
      EXPECT_EQ(b, nullptr);
    } else {
      EXPECT_EQ(a->count, count);
    }
    FreePointList(a);
    FreePointList(b);
    return result;
  });
  // Every early refusal fails cleanly; with room for all requests the run succeeds.
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, requests + 2);
}

TEST_F(FeaturePoints, CollinearityAndAnglesAtAPoint) {
  const double v[3] = {0, 0, 0}, p[3] = {1, 0, 0};
  for (double degrees : {179.0, 177.0, 90.0, 3.0}) {
    const double t = degrees * M_PI / 180;
    const double r[3] = {std::cos(t), std::sin(t), 0};
    EXPECT_NEAR(Angle3Pts(p, v, r), degrees, 1e-9);
    PointList* list3 = AllocatePointList(3);
    const double* pts[3] = {p, v, r};
    for (int i = 0; i < 3; ++i) list3->x[i] = float(pts[i][0]), list3->y[i] = float(pts[i][1]), list3->z[i] = 0;
    list3->count = 3;
    EXPECT_EQ(Contains3NonColinear(list3), degrees > 178.0 ? 0 : 1) << degrees;
    list3->count = 2;
    EXPECT_EQ(Contains3NonColinear(list3), 0);
    FreePointList(list3);
  }
  const double close[3] = {1e-4, 0, 0};
  EXPECT_EQ(Angle3Pts(close, v, p), 0.0);
  EXPECT_EQ(AbsAngle(-120.0f), 60.0f);
  EXPECT_EQ(AbsAngle(90.0f), 90.0f);

  CoordQueue* queue = AllocateNullCoordQueue();
  PointList* pts = AllocatePointList(4);
  for (int i = 0; i < 4; ++i) pts->x[i] = float(i), pts->y[i] = 0, pts->z[i] = 0;
  pts->count = 4;
  EXPECT_EQ(InsertPointListToCoordQueue(queue, pts, 2), 0);
  EXPECT_EQ(InsertPointListToCoordQueue(queue, pts, 9), 0);
  EXPECT_EQ(CountCoordQueue(queue), 6);
  EXPECT_EQ(queue->tail->x, 3.0);
  EXPECT_EQ(InsertPointListToCoordQueue(queue, pts, -1), -2);
  EXPECT_EQ(InsertPointListToCoordQueue(nullptr, pts, 1), -2);
  FreePointList(pts);
  FreeCoordQueue(queue);
}

}  // namespace
