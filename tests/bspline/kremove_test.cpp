#include "bspline/kremove.h"

#include <cmath>
#include <random>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/crv2srf.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "splinefit/splutil.h"
#include "tests/bspline/refine_check.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotRemoval : public KernelTest {};

std::vector<double> Knots(const Bspline* b, int dir = 0) {
  const double* k = dir ? b->knotsV : b->knotsU;
  return std::vector<double>(k, k + (dir ? NumKnotsV(b) : NumKnotsU(b)));
}

double MaxCoefGap(const Bspline* a, const Bspline* b) {
  const int n = NumCtrlU(a) * NumCtrlV(a);
  double gap = 0.0;
  for (int i = 0; i < n; ++i) {
    gap = std::max(gap, std::fabs(a->X[0][i] - b->X[0][i]));
    gap = std::max(gap, std::fabs(a->Y[0][i] - b->Y[0][i]));
    if (a->Z) gap = std::max(gap, std::fabs(a->Z[0][i] - b->Z[0][i]));
    if (a->W) gap = std::max(gap, std::fabs(a->W[0][i] - b->W[0][i]));
  }
  return gap;
}

TEST_F(KnotRemoval, RemovingAnInsertedKnotRestoresTheCoefficients) {
  for (bool rational : {false, true}) {
    for (int dim : {2, 3}) {
      Bspline* c = BuildRandomCurve(7 + dim, 3, 8, dim, rational);
      Bspline* ref = CopyBsplineStruct(c);
      double t[2] = {0.43, 0.43};
      InsertNKnotsToObject(2, 1, 0, c, 2, t);
      // Two copies in one call; then one alone with its bound.
      EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, t, 1, 0, 0.0, nullptr), 1);
      double dev = -1.0;
      EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, t, 1, 0, 0.0, &dev), 1);
      EXPECT_GE(dev, 0.0);
      EXPECT_LT(dev, 1e-12);
      EXPECT_EQ(Knots(c), Knots(ref));
      EXPECT_LE(MaxCoefGap(c, ref), 1e-12);
      InsertNKnotsToObject(2, 1, 0, c, 2, t);
      EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, t, 2, 0, 0.0, nullptr), 2);
      EXPECT_LE(MaxCoefGap(c, ref), 1e-12);
      FreeBspline(c);
      FreeBspline(ref);
    }
    for (int dir : {0, 1}) {
      Bspline* s = BuildRandomSurface(20 + dir, 3, 2, 6, 5, rational);
      Bspline* ref = CopyBsplineStruct(s);
      double t[1] = {0.61};
      InsertNKnotsToObject(1, 1, dir, s, 2, t);
      double dev = -1.0;
      EXPECT_EQ(RemoveKnotsOfObjSet(&s, 1, dir, 2, t, 1, 0, 0.0, &dev), 1);
      EXPECT_LT(dev, 1e-12);
      EXPECT_EQ(Knots(s, dir), Knots(ref, dir));
      EXPECT_LE(MaxCoefGap(s, ref), 1e-12);
      FreeBspline(s);
      FreeBspline(ref);
    }
  }
}

TEST_F(KnotRemoval, BoundOfAGivenKnotCoversTheChange) {
  for (int p : {1, 2, 3, 4}) {
    Bspline* c = BuildRandomCurve(30 + p, p, p + 5, 3, false);
    Bspline* ref = CopyBsplineStruct(c);
    double t = c->knotsU[p + 2];
    double dev = -1.0;
    ASSERT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, &t, 1, 0, 0.0, &dev), 1);
    const double gap = MaxShapeGap(ref, c, 401);
    EXPECT_GT(dev, 0.0);
    // The bound is the change at the dropped point's edit point; the change peaks near there.
    EXPECT_LE(gap, 1.5 * dev) << "p " << p;
    EXPECT_GE(gap, 0.98 * dev) << "p " << p;  // the change is exactly |D| factor N_m(t)
    FreeBspline(c);
    FreeBspline(ref);
  }
}

TEST_F(KnotRemoval, MaximalRemovalUndoesARefinement) {
  for (int p : {2, 3, 7}) {
    Bspline* c = BuildRandomCurve(40 + p, p, p + 4, 3, false);
    Bspline* ref = CopyBsplineStruct(c);
    InsertNKnotsToObject(1, 9, 0, c, 1, nullptr);
    double dev = 0.0;
    EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, 1e-7, &dev), 9) << "p " << p;
    EXPECT_LT(dev, 1e-9);
    ASSERT_EQ(c->interiorU, ref->interiorU);
    for (int i = 0; i < NumKnotsU(c); ++i) EXPECT_NEAR(c->knotsU[i], ref->knotsU[i], 1e-15);
    EXPECT_LE(MaxCoefGap(c, ref), 1e-9);
    FreeBspline(c);
    FreeBspline(ref);
  }
  // Tolerance 0 removes nothing.
  Bspline* c = BuildRandomCurve(50, 3, 6, 3, false);
  Bspline* ref = CopyBsplineStruct(c);
  InsertNKnotsToObject(1, 2, 0, c, 1, nullptr);
  Bspline* refined = CopyBsplineStruct(c);
  EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, 0.0, nullptr), 0);
  EXPECT_TRUE(SameObject(c, refined));
  FreeBspline(c);
  FreeBspline(ref);
  FreeBspline(refined);
}

// Largest gap between two curves at the parameters the removal samples: p + 1 per span of
// ref's knot vector, both ends included.
double SampledGap(const Bspline* ref, const Bspline* c) {
  const int p = ref->degreeU;
  double gap = 0.0;
  for (int i = p; i < NumCtrlU(ref); ++i) {
    for (int j = 0; j <= p; ++j) {
      const double t = ref->knotsU[i] + j * (ref->knotsU[i + 1] - ref->knotsU[i]) / p;
      double a[3], b[3];
      RefEvalCurve(ref, t, a);
      RefEvalCurve(c, t, b);
      gap = std::max(gap, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
    }
  }
  return gap;
}

TEST_F(KnotRemoval, MaximalRemovalStaysWithinTheTolerance) {
  // Smooth curves on uneven knots with a little noise: part of the knots can go. Orders of
  // removal that differ between the ranking and the final removal used to break the bound.
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(-1e-4, 1e-4);
    const int p = 2 + seed % 4;
    const int n = 30 + seed % 11;
    std::vector<double> knots = ClampedKnots(p, n, 0.0, 1.0, KnotLayout::Random, seed);
    std::vector<double> pts;
    for (int i = 0; i < n; ++i) {
      double g = 0.0;
      for (int k = 1; k <= p; ++k) g += knots[i + k] / p;
      pts.insert(pts.end(),
                 {g, std::sin((2.0 + seed % 5) * g), 0.3 * std::cos(3.0 * g) + noise(rng)});
    }
    Bspline* c = BuildCurve(p, 3, pts, knots);
    Bspline* ref = CopyBsplineStruct(c);
    const double tol = std::pow(10.0, -2.0 - seed % 3);
    double dev = 0.0;
    const int removed = RemoveKnotsOfObjSet(&c, 1, 0, 3, nullptr, 0, 0, tol, &dev);
    EXPECT_GT(removed, 0);
    EXPECT_LT(removed, ref->interiorU);
    EXPECT_EQ(c->interiorU, ref->interiorU - removed);
    EXPECT_LE(dev, tol);
    EXPECT_LE(SampledGap(ref, c), tol * (1 + 1e-9)) << "seed " << seed;
    // Between the samples the change may peak a little higher.
    EXPECT_LE(MaxShapeGap(ref, c, 1001), 1.1 * tol) << "seed " << seed;
    FreeBspline(c);
    FreeBspline(ref);
  }
}

TEST_F(KnotRemoval, MaximalRemovalOnASurfaceStaysWithinTheTolerance) {
  for (int dir : {0, 1}) {
    PatchOptions o;
    o.nu = 20;
    o.nv = 20;
    o.layout = KnotLayout::Random;
    o.seed = 3 + dir;
    Bspline* s = BuildFunctionPatch(
        [](double x, double y) { return std::sin(2 * x + 0.3) * std::cos(3 * y); }, o);
    Bspline* ref = CopyBsplineStruct(s);
    double dev = 0.0;
    const int removed = RemoveKnotsOfObjSet(&s, 1, dir, 3, nullptr, 0, 0, 1e-2, &dev);
    EXPECT_GT(removed, 0) << "dir " << dir;
    EXPECT_LE(dev, 1e-2);
    EXPECT_LE(MaxShapeGap(ref, s, 61), 1.1e-2);
    FreeBspline(s);
    FreeBspline(ref);
  }
}

TEST_F(KnotRemoval, KeepModeLeavesTheRequestedNumber) {
  Bspline* c = BuildRandomCurve(60, 3, 10, 3, true);
  double cands[6];
  for (int i = 0; i < 6; ++i) cands[i] = c->knotsU[4 + i];
  std::vector<double> all(cands, cands + 6);
  EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 4, cands, 6, 2, 0.001, nullptr), 4);
  EXPECT_EQ(c->interiorU, 2);
  // The removed values come back ascending, and the two kept ones are original knots.
  EXPECT_TRUE(std::is_sorted(cands, cands + 4));
  for (int i = 4; i <= 5; ++i)
    EXPECT_NE(std::find(all.begin(), all.end(), c->knotsU[i]), all.end());
  FreeBspline(c);
}

TEST_F(KnotRemoval, SurfaceKeepsAKnotOneLineNeeds) {
  for (bool spoil : {false, true}) {
    Bspline* s = BuildRandomSurface(70, 3, 3, 6, 5, false);
    const int interior = s->interiorU;
    double t = 0.55;
    InsertNKnotsToObject(1, 1, 0, s, 2, &t);
    if (spoil) s->Z[2][5] += 0.1;  // a point of row 2 that the new knot's removal recomputes
    EXPECT_EQ(RemoveKnotsOfObjSet(&s, 1, 0, 3, nullptr, 0, 0, 1e-6, nullptr), spoil ? 0 : 1);
    EXPECT_EQ(s->interiorU, spoil ? interior + 1 : interior);
    FreeBspline(s);
  }
}

TEST_F(KnotRemoval, CloseKnotsAreMerged) {
  double v[5] = {0.0, 1e-9, 0.5, 1.0 - 1e-9, 1.0};
  EXPECT_EQ(PutCloseValToSameVal(v, 5, 1, 1e-6), 1);
  EXPECT_EQ(std::vector<double>(v, v + 5), (std::vector<double>{0.0, 0.0, 0.5, 1.0, 1.0}));
  EXPECT_EQ(PutCloseValToSameVal(v, 5, 1, 1e-6), 2);
  EXPECT_EQ(PutCloseValToSameVal(v, 1, 1, 1e-6), 0);
  double tiny[3] = {0.0, 1e-8, 2e-8};
  EXPECT_EQ(PutCloseValToSameVal(tiny, 3, 1, 1e-6), -2);
  EXPECT_EQ(PutCloseValToSameVal(tiny, 3, 0, 1e-6), 1);
  EXPECT_EQ(std::vector<double>(tiny, tiny + 3), (std::vector<double>(3, 0.0)));

  // Two knots 1e-9 apart become one double knot; one 1e-9 from the start goes with a line.
  Bspline* c = BuildCurve(3, 3, std::vector<double>(3 * 8, 1.0),
                          {0, 0, 0, 0, 1e-9, 0.5, 0.5 + 1e-9, 0.7, 1, 1, 1, 1});
  for (int i = 0; i < 8; ++i) c->X[0][i] = i;
  int moved = 0, deleted = 0;
  EXPECT_EQ(PutCloseKnotsToMultKnots(c, 0, 1e-6, &moved, &deleted), 3);
  EXPECT_EQ(moved, 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(Knots(c), (std::vector<double>{0, 0, 0, 0, 0.5, 0.5, 0.7, 1, 1, 1, 1}));
  EXPECT_EQ(c->X[0][1], 2.0);  // control line 1 went with the knot at index 4
  EXPECT_EQ(PutCloseKnotsToMultKnots(c, 0, 1e-6, &moved, &deleted), 3);
  EXPECT_EQ(moved, 0);
  FreeBspline(c);
}

TEST_F(KnotRemoval, SpecifiedKnotNearAnEndAsksFirst) {
  Bspline* c = BuildRandomCurve(80, 3, 7, 3, false);
  Bspline* ref = CopyBsplineStruct(c);
  const double firstInterior = c->knotsU[4];
  StubSetYesNoAnswer(0);
  double dev = 0.0;
  EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, 0.01, 0, &dev), -2);
  EXPECT_TRUE(SameObject(c, ref));
  StubSetYesNoAnswer(1);
  EXPECT_EQ(RemoveSpecifiedKnotOfObject(c, 0.01, 0, &dev), 0);
  EXPECT_EQ(c->interiorU, ref->interiorU - 1);
  EXPECT_EQ(std::find(c->knotsU, c->knotsU + NumKnotsU(c), firstInterior),
            c->knotsU + NumKnotsU(c));
  EXPECT_GT(dev, 0.0);
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(KnotRemoval, KnotsTheObjectLacksAreRefused) {
  Bspline* c = BuildRandomCurve(90, 3, 7, 3, false);
  Bspline* ref = CopyBsplineStruct(c);
  const double interior = c->knotsU[5];
  for (std::vector<double> bad :
       {std::vector<double>{0.123456}, std::vector<double>{interior, interior},
        std::vector<double>{0.0}, std::vector<double>{1.0}}) {
    EXPECT_EQ(
        RemoveKnotsOfObjSet(&c, 1, 0, 2, bad.data(), static_cast<int>(bad.size()), 0, 0.0, nullptr),
        0);
    EXPECT_EQ(zk_error_status, -2);
    EXPECT_TRUE(SameObject(c, ref));
    ClearKernelError();
  }
  EXPECT_NE(Messages().find("Cannot remove knots which are not knots of the object."),
            std::string::npos);
  FreeBspline(c);
  FreeBspline(ref);
}

TEST_F(KnotRemoval, RemovalDropsDerivedDataWithoutLeaking) {
  Bspline* c = BuildRandomCurve(100, 3, 7, 3, false);
  c->quadricType = 2;  // a circle description that no longer fits once knots go
  c->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  double t = c->knotsU[5];
  EXPECT_EQ(RemoveKnotsOfObjSet(&c, 1, 0, 2, &t, 1, 0, 0.0, nullptr), 1);
  EXPECT_EQ(c->quadricType, 0);
  EXPECT_EQ(c->quadric, nullptr);  // freed, not dropped: the sanitizer sees any leak
  FreeBspline(c);

  Bspline* s = BuildRandomSurface(101, 2, 2, 5, 5, false);
  s->quadricType = 25;
  s->quadric = static_cast<QuadricInfo*>(Malloc(sizeof(QuadricInfo)));
  t = s->knotsV[4];
  EXPECT_EQ(RemoveKnotsOfObjSet(&s, 1, 1, 2, &t, 1, 0, 0.0, nullptr), 1);
  EXPECT_EQ(s->quadricType, 25);  // a plane stays a plane
  FreeBspline(s);
}

TEST_F(KnotRemoval, AllocationFailuresLeaveTheObjectUnchanged) {
  Bspline* s = BuildRandomSurface(110, 3, 2, 6, 6, true);
  double t = s->knotsV[4];
  EXPECT_GT(ExpectCleanFailures(s,
                                [t](Bspline* obj) {
                                  double v = t;
                                  RemoveKnotsOfObjSet(&obj, 1, 1, 2, &v, 1, 0, 0.0, nullptr);
                                }),
            2);
  EXPECT_EQ(s->interiorV, 2);
  FreeBspline(s);

  Bspline* c = BuildRandomCurve(111, 3, 6, 3, true);
  InsertNKnotsToObject(1, 4, 0, c, 1, nullptr);
  EXPECT_GT(ExpectCleanFailures(c,
                                [](Bspline* obj) {
                                  RemoveKnotsOfObjSet(&obj, 1, 0, 3, nullptr, 0, 0, 1e-6, nullptr);
                                }),
            4);
  EXPECT_EQ(c->interiorU, 2);
  FreeBspline(c);
}

TEST_F(KnotRemoval, CleaningASurfaceWithinAParameterWindow) {
  Bspline* s = BuildRandomSurface(120, 3, 3, 6, 5, false);
  const int interior = s->interiorU;
  double t[2] = {0.3, 0.7};
  InsertNKnotsToObject(1, 2, 0, s, 2, t);
  // Only knots above 0.5 are candidates: the inserted 0.7 goes, 0.3 stays.
  double dev = 0.0;
  EXPECT_EQ(CleanSurfaceToTangentPlaneTol(s, nullptr, 0, 0.5, 2.0, 1e-6, 0.0, 0, &dev), 1);
  EXPECT_EQ(s->interiorU, interior + 1);
  EXPECT_NE(std::find(s->knotsU, s->knotsU + NumKnotsU(s), 0.3), s->knotsU + NumKnotsU(s));
  EXPECT_EQ(CleanSurfaceToTangentPlaneTol(s, nullptr, 0, 0.95, 0.99, 1e-6, 0.0, 0, &dev), 0);
  FreeBspline(s);
}

TEST_F(KnotRemoval, BoundaryDeviationForATangentPlaneAngle) {
  Bspline* a = BuildRandomCurve(130, 3, 6, 3, false);
  for (int i = 0; i < 6; ++i) a->Z[0][i] = 0.0;  // so that every pair is exactly 2 apart
  Bspline* b = CopyBsplineStruct(a);
  for (int i = 0; i < 6; ++i) b->Z[0][i] = 2.0;
  double out = 0.0;
  GetMaxCurveDeviation(a, 0, 1.0, &out);
  EXPECT_DOUBLE_EQ(out, 1.0);  // N_0 is 1 at the clamped start
  GetMaxCurveDeviation(a, 2, 1.0, &out);
  EXPECT_GT(out, 0.0);
  EXPECT_LT(out, 1.0);
  double dev = 5.0;
  EXPECT_EQ(GetBndryDeviation(a, b, 0.0, &dev), 0);
  EXPECT_EQ(dev, 0.0);
  // Every pair is 2 apart; the tie goes to the last pair, whose basis is 1 at the end.
  EXPECT_EQ(GetBndryDeviation(a, b, 45.0, &dev), 0);
  EXPECT_NEAR(dev, 1.0, 1e-12);
  int index = -1;
  double dist = 0.0;
  EXPECT_EQ(GetShortestCntrlPair(a, b, &index, &dist), 0);
  EXPECT_EQ(index, 5);
  FreeBspline(a);
  FreeBspline(b);
}

}  // namespace
