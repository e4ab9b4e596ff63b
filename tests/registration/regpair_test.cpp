#include <cmath>
#include <cstring>
#include <random>

#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "registration/confreg.h"
#include "registration/mmcalc.h"
#include "registration/regpair.h"
#include "tests/registration/freedom.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace freedom;

using Features = KernelTest;

// Everything but the links and the point arrays.
void ExpectSameGeometry(const RegFeature& a, const RegFeature& b, double tol) {
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.sourceKind, b.sourceKind);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(a.point[k], b.point[k], tol);
    EXPECT_NEAR(a.dir[k], b.dir[k], tol);
    EXPECT_NEAR(a.end1[k], b.end1[k], tol);
    EXPECT_NEAR(a.end2[k], b.end2[k], tol);
  }
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(a.plane[k], b.plane[k], tol);
}

// A point set feature owning three points, added to the head of the list.
void AddOwnedSet(RegPair** head) {
  RegPair* p = AllocateNullRegPair();
  ASSERT_NE(p, nullptr);
  for (RegFeature* f : {p->A, p->B}) {
    f->type = 6;
    f->sourceKind = 11;
    f->count = 3;
    f->xs = MallocArray<double>(3);
    f->ys = MallocArray<double>(3);
    f->zs = MallocArray<double>(3);
    for (int i = 0; i < 3; ++i) f->xs[i] = i, f->ys[i] = 2 * i, f->zs[i] = -i;
  }
  p->next = *head;
  *head = p;
}

RegPair* MixedList() {
  RegPair* list = nullptr;
  const double p[3] = {1, 2, 3}, q[3] = {-1, 0, 4}, r[3] = {2, 2, 2}, s[3] = {0, 5, 1};
  const double plane[4] = {0, 0, 1, -5}, plane2[4] = {0.6, 0.8, 0, 1};
  AddPointFeaturePair(&list, p, q);
  AddLineFeaturePair(&list, p, q, r, s);
  AddDLineFeaturePair(&list, q, r, s, p);
  AddDirectionFeaturePair(&list, p, s);
  AddPlaneFeaturePair(&list, plane, plane2);
  AddOwnedSet(&list);
  return list;
}

TEST_F(Features, ListsRunInReverseOrderAndCopyFaithfully) {
  RegPair* list = MixedList();
  ASSERT_EQ(CountFeaturePairList(list), 6);
  const int typesFromHead[] = {6, 4, 5, 2, 1, 0};
  int i = 0;
  for (RegPair* p = list; p; p = p->next, ++i) {
    EXPECT_EQ(p->A->type, typesFromHead[i]);
    EXPECT_EQ(CheckFeaturePair(p), 0);
  }
  // Ends (1,2,3), (-1,0,4): midpoint and unit direction.
  const RegFeature& line = *list->next->next->next->next->A;
  EXPECT_DOUBLE_EQ(line.point[0], 0);
  EXPECT_DOUBLE_EQ(line.dir[2], 1 / 3.0);

  RegPair* copy = CopyRegPairList(list);
  ASSERT_EQ(CountFeaturePairList(copy), 6);
  for (RegPair *a = list, *b = copy; a; a = a->next, b = b->next) {
    ExpectSameGeometry(*a->A, *b->A, 0);
    ExpectSameGeometry(*a->B, *b->B, 0);
  }
  // The point set is copied, not shared.
  EXPECT_NE(copy->A->xs, list->A->xs);
  EXPECT_EQ(copy->A->ys[2], 4);
  FreeFeaturePairList(copy);

  // Under memory running out at every step: the whole copy or nothing, and nothing left behind.
  RunWithInjectedFailures(40, 1, [&] {
    RegPair* c = CopyRegPairList(list);
    int n = CountFeaturePairList(c);
    EXPECT_TRUE(n == 0 || n == 6) << n;
    FreeFeaturePairList(c);
    return c ? 0 : -2;
  });
  // An Add that runs out of memory leaves the list as it was.
  MallocFailAfter(0, -1);
  const double p[3] = {0, 0, 0};
  EXPECT_EQ(AddPointFeaturePair(&list, p, p), -2);
  MallocFailClear();
  ClearKernelError();
  EXPECT_EQ(CountFeaturePairList(list), 6);
  EXPECT_EQ(list->A->type, 6);

  RegFeature& plane = *list->next->A;
  ReverseFeatureDirection(&plane);
  EXPECT_EQ(plane.plane[2], -1);
  EXPECT_EQ(plane.plane[3], 5);
  RegFeature& dline = *list->next->next->next->A;
  RegFeature before = dline;
  ReverseFeatureDirection(&dline);
  EXPECT_EQ(dline.end1[0], before.end2[0]);
  EXPECT_EQ(dline.dir[1], -before.dir[1]);
  FreeFeaturePairList(list);
}

TEST_F(Features, MovingByAMotionAndBackRestoresEveryFieldAndPlanesFollowTheirPoints) {
  std::mt19937 rng(5);
  RegPair* list = MixedList();
  for (int trial = 0; trial < 10; ++trial) {
    double axis[3], C[3] = {0.5, -2, 1};
    RandomUnit(rng, axis);
    RegVec m = AboutLine(C, axis, 0.3 + trial);
    m.t[0] += 2;
    Xform M, Minv;
    ASSERT_EQ(RegVecToXfrmMat(&m, M), 0);
    ASSERT_EQ(mat_inverse4(M, Minv), 0);
    for (RegPair* p = list; p; p = p->next) {
      RegFeature f = *p->A;
      // A point of the plane moved with it stays on the moved plane.
      double onPlane[3] = {1, 1, 0}, moved[3];
      if (f.type == 4) {
        double n2 = VecDotProd3(f.plane, f.plane);
        for (int k = 0; k < 3; ++k) onPlane[k] = -f.plane[3] * f.plane[k] / n2;
      }
      ASSERT_EQ(XformRegFeature(&f, M), 0);
      if (f.type == 4) {
        VecTrans3(onPlane, M, moved);
        EXPECT_NEAR(VecDotProd3(f.plane, moved) + f.plane[3], 0, 1e-12);
      }
      ASSERT_EQ(XformRegFeature(&f, Minv), 0);
      ExpectSameGeometry(f, *p->A, 1e-12);
    }
  }
  Xform singular = {0};
  RegFeature f = *list->A;
  EXPECT_EQ(XformRegFeature(&f, singular), -2);
  EXPECT_EQ(std::memcmp(&f, list->A, sizeof f), 0);
  FreeFeaturePairList(list);
}

bool OnLine(const float p[3], const RegFeature& f, double tol) {
  double q[3] = {p[0], p[1], p[2]}, foot[3], d;
  LinePntMinDist(q, f.end1, f.end2, foot, &d);
  return d <= tol;
}

bool OnPlane(const float p[3], const double plane[4], double tol) {
  return std::fabs(plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3]) /
             std::sqrt(VecDotProd3(plane, plane)) <=
         tol;
}

TEST_F(Features, PointsMadeFromTwoOrThreeFeaturesLieOnThem) {
  for (double scale : {1e-3, 1.0, 1e3}) {
    RegPair* list = nullptr;
    // Two lines crossing at (1, 1, 1) * scale, a plane z = 2 scale, a point.
    const double a1[3] = {0, 0, 0}, a2[3] = {2 * scale, 2 * scale, 2 * scale};
    const double b1[3] = {scale, 0, scale}, b2[3] = {scale, 3 * scale, scale};
    const double plane[4] = {0, 0, 2, -4 * scale}, pt[3] = {3 * scale, 4 * scale, 5 * scale};
    AddDLineFeaturePair(&list, a1, a2, a1, a2);
    AddLineFeaturePair(&list, b1, b2, b1, b2);
    AddPlaneFeaturePair(&list, plane, plane);
    AddPointFeaturePair(&list, pt, pt);
    const RegFeature& point = *list->A;
    const RegFeature& pl = *list->next->A;
    const RegFeature& line = *list->next->next->A;
    const RegFeature& dline = *list->next->next->next->A;
    const double tol = 1e-6 * scale;
    PointList* out = nullptr;

    // Two crossing lines: both closest points are the crossing (and the point their distance,
    // none, along the directed one).
    ASSERT_EQ(RegPointListFromFeaturePair(&line, &dline, &out), 0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->count, 3);
    for (int i = 0; i < out->count; ++i) {
      float p[3] = {out->x[i], out->y[i], out->z[i]};
      EXPECT_TRUE(OnLine(p, line, tol) && OnLine(p, dline, tol)) << i;
    }
    FreePointList(out);
    // A directed line and a plane: the crossing on both, a point along the line, its foot.
    ASSERT_EQ(RegPointListFromFeaturePair(&pl, &dline, &out), 0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->count, 3);
    float x0[3] = {out->x[0], out->y[0], out->z[0]}, x1[3] = {out->x[1], out->y[1], out->z[1]},
          x2[3] = {out->x[2], out->y[2], out->z[2]};
    EXPECT_TRUE(OnPlane(x0, pl.plane, tol) && OnLine(x0, dline, tol));
    EXPECT_TRUE(OnLine(x1, dline, tol) && OnPlane(x2, pl.plane, tol));
    FreePointList(out);
    // A plane first and a point second: the point (smaller type) leads, its projection results.
    ASSERT_EQ(RegPointListFromFeaturePair(&pl, &point, &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->count, 1);
    EXPECT_FLOAT_EQ(out->z[0], 2 * scale);
    EXPECT_FLOAT_EQ(out->x[0], 3 * scale);
    FreePointList(out);
    // A point on a directed line: its foot and the point as far again along the line.
    ASSERT_EQ(RegPointListFromFeaturePair(&point, &dline, &out), 0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->count, 2);
    EXPECT_NEAR(out->x[0], 4 * scale, tol);
    FreePointList(out);
    FreeFeaturePairList(list);
  }
}

TEST_F(Features, ThreePlanesMeetOnlyWhenTheirLineCrossesTheThirdSteeply) {
  // x = 0 and y = 0 meet along z; the third plane tilted t degrees from containing z.
  RegPair* list = nullptr;
  const double px[4] = {1, 0, 0, 0}, py[4] = {0, 1, 0, -2};
  AddPlaneFeaturePair(&list, px, px);
  AddPlaneFeaturePair(&list, py, py);
  auto third = [&](double degrees) {
    double t = degrees * M_PI / 180;
    double p[4] = {std::cos(t), 0, std::sin(t), -3};
    return RegFeature{nullptr, -1, 4, {0}, {0}, {0}, {0}, {p[0], p[1], p[2], p[3]}, nullptr, nullptr, nullptr, 0};
  };
  PointList* out = nullptr;
  RegFeature nearlyParallel = third(3), steep = third(60);
  ASSERT_EQ(RegPointListFrom3Features(list->A, list->next->A, &nearlyParallel, 10, &out), 0);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(RegPointListFrom3Features(list->A, list->next->A, &steep, 10, &out), 0);
  ASSERT_NE(out, nullptr);
  float X[3] = {out->x[0], out->y[0], out->z[0]};
  for (const double* plane : {px, py, static_cast<const double*>(steep.plane)}) EXPECT_TRUE(OnPlane(X, plane, 1e-6));
  FreePointList(out);
  FreeFeaturePairList(list);
}

// Three planes through a known point, their equations of any length, at every size and far from
// the origin: the common point is the known one to the rounding of its float coordinates.
TEST_F(Features, ThreePlanesMeetAtTheirCommonPointAtEveryScaleAndPlace) {
  const double normals[3][3] = {{0.8, 0.1, 0.59}, {-0.2, 0.9, 0.38}, {0.3, -0.4, 0.86}};
  for (double size : {1e-6, 1e-2, 1.0, 1e6})
    for (double far : {0.0, 1e4})
      for (double length : {1e-6, 1.0, 1e6}) {
        SCOPED_TRACE(testing::Message() << size << " " << far << " " << length);
        const double X0[3] = {size * (far + 0.3), size * (far - 0.7), size * (0.5 * far + 0.2)};
        RegFeature f[3];
        for (int k = 0; k < 3; ++k) {
          double p[4] = {length * normals[k][0], length * normals[k][1], length * normals[k][2], 0.0};
          p[3] = -(p[0] * X0[0] + p[1] * X0[1] + p[2] * X0[2]);
          f[k] = RegFeature{nullptr, -1, 4, {0}, {0}, {0}, {0}, {p[0], p[1], p[2], p[3]}, nullptr, nullptr, nullptr, 0};
        }
        PointList* out = nullptr;
        ASSERT_EQ(RegPointListFrom3Features(&f[0], &f[1], &f[2], 10, &out), 0);
        ASSERT_NE(out, nullptr);
        const double rounding = std::ldexp(1.0, -23) * size * (far + 1);
        EXPECT_NEAR(out->x[0], X0[0], rounding);
        EXPECT_NEAR(out->y[0], X0[1], rounding);
        EXPECT_NEAR(out->z[0], X0[2], rounding);
        FreePointList(out);
      }
}

TEST_F(Features, GeneratorsHandBackNothingOnFailure) {
  const double L1[3] = {0, 0, 0}, L2[3] = {1, 2, 3}, plane[4] = {0, 0, 1, -1};
  RegFeature empty{nullptr, -1, 6, {0}, {0}, {0}, {0}, {0}, nullptr, nullptr, nullptr, 0};
  RegFeature direction{nullptr, -1, 5, {0}, {1, 0, 0}, {0}, {0}, {0}, nullptr, nullptr, nullptr, 0};
  double* pts = reinterpret_cast<double*>(1);
  int n = 7;
  for (const RegFeature* f : {&empty, &direction}) {
    EXPECT_EQ(NewGenRegPntsWLineAndFeature(L1, L2, f, &pts, &n), -2);
    EXPECT_EQ(pts, nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(NewGenRegPntsWithDLineAndFeature(L1, L2, f, &pts, &n), -2);
    EXPECT_EQ(GenRegPntsWPlaneAndFeature(plane, f, &pts, &n), -2);
  }
  // A line of no length that would have to meet a plane.
  RegFeature pl{nullptr, -1, 4, {0}, {0}, {0}, {0}, {0, 0, 1, -1}, nullptr, nullptr, nullptr, 0};
  EXPECT_EQ(NewGenRegPntsWLineAndFeature(L1, L1, &pl, &pts, &n), -2);
  EXPECT_EQ(pts, nullptr);
  // Memory refused at every step: no points or all of them, nothing left behind.
  RegFeature line{nullptr, 6, 2, {0}, {0}, {1, 0, 0}, {1, 5, 4}, {0}, nullptr, nullptr, nullptr, 0};
  RunWithInjectedFailures(8, 1, [&] {
    PointList* out = nullptr;
    int r = RegPointListFromFeaturePair(&pl, &line, &out);
    if (r == 0) {
      EXPECT_EQ(out->count, 3);
    } else {
      EXPECT_EQ(out, nullptr);
    }
    FreePointList(out);
    return r;
  });
  EXPECT_EQ(AbsAngle(-170.0f), 10.0f);
  EXPECT_EQ(AbsAngle(60.0f), 60.0f);
}

TEST_F(Features, ASingleFeatureGivesItsOwnPointsAndAFeatureListFreesItsArrays) {
  // A list of copies of one side's features, each of them owned by the list.
  RegPair* pairs = MixedList();
  RegFeature* head = nullptr;
  for (RegPair* p = pairs; p; p = p->next) {
    RegFeature* f = CallocArray<RegFeature>(1);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(CopyRegFeature(p->A, f), 0);
    f->next = head;
    head = f;
  }
  FreeFeaturePairList(pairs);
  int visited = 0;
  for (const RegFeature* f = head; f; f = f->next, ++visited) {
    PointList* out = reinterpret_cast<PointList*>(&visited);  // must be reset
    ASSERT_EQ(RegPointListFromSingleFeature(f, &out), 0);
    if (f->type == 0) {
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(out->count, 1);
      EXPECT_EQ(out->x[0], float(f->point[0]));
      EXPECT_EQ(out->y[0], float(f->point[1]));
      EXPECT_EQ(out->z[0], float(f->point[2]));
    } else if (f->type == 6) {
      ASSERT_NE(out, nullptr);
      ASSERT_EQ(out->count, f->count);
      for (int i = 0; i < f->count; ++i) {
        EXPECT_EQ(out->x[i], float(f->xs[i]));
        EXPECT_EQ(out->y[i], float(f->ys[i]));
        EXPECT_EQ(out->z[i], float(f->zs[i]));
      }
    } else {
      EXPECT_EQ(out, nullptr) << f->type;  // lines, directions and planes fix no single point
    }
    FreePointList(out);
  }
  EXPECT_EQ(visited, 6);
  // A line fixed along itself gives its point.
  head->type = 3;
  PointList* out = nullptr;
  ASSERT_EQ(RegPointListFromSingleFeature(head, &out), 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->count, 1);
  FreePointList(out);
  EXPECT_EQ(RegPointListFromSingleFeature(nullptr, &out), -2);
  EXPECT_EQ(out, nullptr);
  // The owned point set's arrays go with the list (the sanitizer reports a leak otherwise).
  EXPECT_EQ(FreeFeatureList(head), 0);
  EXPECT_EQ(FreeFeatureList(nullptr), 0);
}

}  // namespace
