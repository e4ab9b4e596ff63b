#include "bspline/degelev.h"

#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "tests/bspline/refine_check.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class DegreeElevation : public KernelTest {};

TEST_F(DegreeElevation, BezierGainsOneControlPointAndKeepsItsShape) {
  Bspline* c = BuildRandomCurve(1, 3, 4, 3, false);
  Bspline* ref = CopyBsplineStruct(c);
  IncrementDegreeOfObject(0, c);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(c->degreeU, 4);
  EXPECT_EQ(NumCtrlU(c), 5);
  EXPECT_EQ(std::vector<double>(c->knotsU, c->knotsU + NumKnotsU(c)),
            (std::vector<double>{0, 0, 0, 0, 0, 1, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref));
  // The textbook formula for one Bezier step: Q_i = i/(p+1) P_{i-1} + (1 - i/(p+1)) P_i.
  for (int i = 0; i <= 4; ++i) {
    const double a = i / 4.0;
    const double expect =
        (i > 0 ? a * ref->X[0][i - 1] : 0.0) + (i < 4 ? (1 - a) * ref->X[0][i] : 0.0);
    EXPECT_NEAR(c->X[0][i], expect, 1e-14);
  }
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(DegreeElevation, CurvesKeepTheirShapeAndContinuity) {
  for (bool rational : {false, true}) {
    for (int dim : {2, 3}) {
      for (int p : {1, 2, 3, 5}) {
        Bspline* c = BuildRandomCurve(10 * p + dim, p, p + 6, dim, rational);
        Bspline* ref = CopyBsplineStruct(c);
        const int before = c->interiorU;
        IncrementDegreeOfObject(1, c);  // a curve ignores the direction
        IncrementDegreeOfObject(0, c);
        ASSERT_FALSE(KernelFailedNow());
        EXPECT_EQ(c->degreeU, p + 2);
        EXPECT_EQ(c->interiorU, 3 * before);  // every simple interior knot gained two copies
        EXPECT_LE(MaxShapeGap(ref, c), 1e-12 * RefScale(ref))
            << "p " << p << " rational " << rational;
        FreeBspline(c);
        FreeBspline(ref);
      }
    }
  }
  // A double knot of a cubic becomes a triple knot of the quartic.
  Bspline* d =
      BuildCurve(3, 3, std::vector<double>(3 * 7, 0.0), {0, 0, 0, 0, 0.3, 0.6, 0.6, 1, 1, 1, 1});
  for (int i = 0; i < 7; ++i) d->X[0][i] = std::sin(i), d->Y[0][i] = i, d->Z[0][i] = i * i;
  Bspline* ref = CopyBsplineStruct(d);
  IncrementDegreeOfObject(0, d);
  EXPECT_EQ(std::vector<double>(d->knotsU, d->knotsU + NumKnotsU(d)),
            (std::vector<double>{0, 0, 0, 0, 0, 0.3, 0.3, 0.6, 0.6, 0.6, 1, 1, 1, 1, 1}));
  EXPECT_LE(MaxShapeGap(ref, d), 1e-12 * RefScale(ref));
  FreeBspline(d);
  FreeBspline(ref);
}

TEST_F(DegreeElevation, SurfacesInEitherDirection) {
  for (bool rational : {false, true}) {
    for (int dir : {0, 1}) {
      Bspline* s = BuildRandomSurface(30 + dir, 2, 3, 6, 5, rational);
      Bspline* ref = CopyBsplineStruct(s);
      IncrementDegreeOfObject(dir, s);
      ASSERT_FALSE(KernelFailedNow());
      EXPECT_EQ(s->degreeU, dir ? 2 : 3);
      EXPECT_EQ(s->degreeV, dir ? 4 : 3);
      EXPECT_EQ(dir ? s->interiorU : s->interiorV, dir ? ref->interiorU : ref->interiorV);
      EXPECT_LE(MaxShapeGap(ref, s, 17), 1e-12 * RefScale(ref))
          << "dir " << dir << " rational " << rational;
      FreeBspline(s);
      FreeBspline(ref);
    }
  }
}

TEST_F(DegreeElevation, RationalQuarterCircleStaysOnTheCircle) {
  const double h = std::sqrt(0.5);
  Bspline* arc = BuildCurve(2, 3, {1, 0, 0, 1, 1, 0, 0, 1, 0}, {}, {1, h, 1});
  ElevateDegreeOfObjSet(4, nullptr, &arc, 1);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(arc->degreeU, 4);
  for (int i = 0; i <= 50; ++i) {
    double p[3];
    RefEvalCurve(arc, i / 50.0, p);
    EXPECT_NEAR(std::hypot(p[0], p[1]), 1.0, 1e-13);
  }
  FreeBspline(arc);
}

TEST_F(DegreeElevation, SetRaisesOnlyWhatIsBelowTheTarget) {
  Bspline* objs[3] = {BuildRandomCurve(40, 2, 5, 3, false), BuildRandomCurve(41, 5, 7, 3, false),
                      BuildRandomSurface(42, 3, 1, 4, 3, false)};
  Bspline* high = CopyBsplineStruct(objs[1]);
  int dirs[3] = {0, 0, 1};
  ElevateDegreeOfObjSet(4, dirs, objs, 3);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(objs[0]->degreeU, 4);
  EXPECT_TRUE(SameObject(objs[1], high));  // degree 5 is above the target
  EXPECT_EQ(objs[2]->degreeU, 3);
  EXPECT_EQ(objs[2]->degreeV, 4);
  for (Bspline* o : objs) FreeBspline(o);
  FreeBspline(high);
}

TEST_F(DegreeElevation, RefusesToPassTheHighestDegree) {
  Bspline* c = BuildRandomCurve(50, 21, 23, 3, false);
  IncrementDegreeOfObject(0, c);
  ASSERT_FALSE(KernelFailedNow());
  EXPECT_EQ(c->degreeU, 22);
  Bspline* ref = CopyBsplineStruct(c);
  IncrementDegreeOfObject(0, c);
  EXPECT_EQ(zk_error_status, -2);
  EXPECT_TRUE(SameObject(c, ref));
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(DegreeElevation, AllocationFailuresLeaveTheObjectUnchanged) {
  for (int dir : {0, 1}) {
    Bspline* s = BuildRandomSurface(60 + dir, 2, 2, 5, 4, true);
    Bspline* ref = CopyBsplineStruct(s);
    EXPECT_GT(ExpectCleanFailures(s, [dir](Bspline* obj) { IncrementDegreeOfObject(dir, obj); }),
              2);
    EXPECT_EQ(dir ? s->degreeV : s->degreeU, 3);
    EXPECT_LE(MaxShapeGap(ref, s, 13), 1e-12 * RefScale(ref));
    FreeBspline(s);
    FreeBspline(ref);
  }
}

}  // namespace
