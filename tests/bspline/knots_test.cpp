// The core's knot arithmetic and object measures against textbook identities and the
// reference basis: Greville abscissae reproduce linear functions, an affine change of the knots
// leaves the curve's shape unchanged, distinct knots expand back to the vector, and the
// measures bound what the objects really reach.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "curve/crvutil.h"
#include "curve/pntintrp.h"
#include "foundation/umalloc.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotArithmetic : public KernelTest {};

// Linear precision: sum_i g_i N_i,p(t) = t on the whole domain, with N from the independent
// reference recursion, and g at the domain ends exactly on the end knots.
TEST_F(KnotArithmetic, GrevilleAbscissaeReproduceTheParameter) {
  for (int p = 1; p <= 5; ++p) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      const int n = p + 1 + static_cast<int>(seed) * 2;
      const std::vector<double> U = ClampedKnots(p, n, -1.0, 3.0, KnotLayout::Random, seed);
      const int nk = static_cast<int>(U.size());
      EXPECT_EQ(GrevilleAbscissa(U.data(), p + 1, 0), U[p]);
      EXPECT_EQ(GrevilleAbscissa(U.data(), p + 1, n - 1), U[n]);
      for (int s = 0; s <= 40; ++s) {
        const double t = -1.0 + 4.0 * s / 40.0;
        double sum = 0.0;
        for (int i = 0; i < n; ++i) sum += GrevilleAbscissa(U.data(), p + 1, i) * RefBasis(U.data(), nk, i, p, t);
        EXPECT_NEAR(sum, t, 1e-12) << "p " << p << " seed " << seed;
      }
    }
  }
}

// t -> (t - t0) / (t1 - t0) with the returned factor f: the curve keeps its points,
// C~((t - t0) f) = C(t), and its first derivative scales by the chain rule, C~' = C' / f.
TEST_F(KnotArithmetic, NormalisedKnotsKeepTheShape) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    BsplineKeeper keep;
    Bspline* c = keep(BuildRandomCurve(seed, 1 + seed % 4, 9));
    ASSERT_NE(c, nullptr);
    for (int i = 0; i < NumKnotsU(c); ++i) c->knotsU[i] = 2.0 + 5.0 * c->knotsU[i];
    SetDomainFromKnots(c, 0);
    Bspline* m = keep(CopyBsplineStruct(c));
    ASSERT_NE(m, nullptr);
    const double f = NormalizeKnots(m->knotsU, NumKnotsU(m));
    SetDomainFromKnots(m, 0);
    EXPECT_DOUBLE_EQ(f, 0.2);
    double lo, hi;
    GetKnotInfo(m, 0, &lo, &hi);
    EXPECT_TRUE(m->umin == 0.0 && m->umax == 1.0 && lo == 0.0 && hi == 1.0);
    GetKnotInfo(c, 0, &lo, &hi);
    EXPECT_TRUE(lo == 2.0 && hi == 7.0);
    for (int s = 0; s <= 20; ++s) {
      const double t = 2.0 + 5.0 * s / 20.0;
      double a[3], b[3], da[3], db[3];
      Eval3DPointOnCurve3Array(c, t, 0, a);
      Eval3DPointOnCurve3Array(m, (t - 2.0) * f, 0, b);
      Eval3DPointOnCurve3Array(c, t, 1, da);
      Eval3DPointOnCurve3Array(m, (t - 2.0) * f, 1, db);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(a[k], b[k], 1e-12);
        EXPECT_NEAR(da[k], db[k] * f, 1e-9 * (1.0 + std::fabs(da[k])));
      }
    }
  }
}

// Distinct interior knots with their multiplicities expand back to the interior knots, and
// values closer than the tolerance count as one.
TEST_F(KnotArithmetic, DistinctKnotsExpandBackToTheVector) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 60; ++trial) {
    const int p = 1 + trial % 4;
    std::vector<double> U(p + 1, 0.0), interior;
    double v = 0.0;
    for (int d = 0; d < 1 + trial % 6; ++d) {
      v += 0.05 + 0.1 * (rng() % 8);
      const int mult = 1 + static_cast<int>(rng() % p);
      for (int r = 0; r < mult; ++r) interior.push_back(r == 0 || trial % 3 ? v : v + 1e-9);
    }
    const double end = v + 0.3;
    U.insert(U.end(), interior.begin(), interior.end());
    U.insert(U.end(), p + 1, end);
    const int n = static_cast<int>(U.size()) - p - 1;
    std::vector<double> pts(3 * n, 0.0);
    BsplineKeeper keep;
    Bspline* c = keep(BuildCurve(p, 3, pts, U));
    ASSERT_NE(c, nullptr);
    int* mults = nullptr;
    double* values = nullptr;
    const int count = DistinctInteriorKnots(c, 0, &mults, &values, 1e-6);
    ASSERT_GT(count, 0);
    std::vector<double> expanded;
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        EXPECT_GT(values[i], values[i - 1] + 1e-6 * end);
      }
      expanded.insert(expanded.end(), mults[i], values[i]);
    }
    ASSERT_EQ(expanded.size(), interior.size());
    for (size_t i = 0; i < interior.size(); ++i) EXPECT_NEAR(expanded[i], interior[i], 1e-8);
    Free(mults);
    Free(values);
  }
}

// Snapping writes only the run around idx within the tolerance and never the first knot; idx
// itself is written by both sweeps and counted twice.
TEST_F(KnotArithmetic, SnapTouchesOnlyTheRunAroundTheIndex) {
  std::vector<double> k = {0.0, 1e-8, 0.5 - 1e-9, 0.5, 0.5 + 2e-9, 0.7, 1.0};
  EXPECT_EQ(SnapKnotsToValue(k.data(), 7, 3, 0.5, 1e-6), 4);
  EXPECT_EQ(k, (std::vector<double>{0.0, 1e-8, 0.5, 0.5, 0.5, 0.7, 1.0}));
  EXPECT_EQ(SnapKnotsToValue(k.data(), 7, 1, 0.0, 1e-6), 2);
  EXPECT_EQ(k[0], 0.0);
  EXPECT_EQ(k[1], 0.0);
  // The curve module's name for it does the same.
  std::vector<double> j = {0.0, 0.3, 0.3 + 1e-9, 0.5, 1.0};
  EXPECT_EQ(PutAllKnotsWithinTolOfValToVal(j.data(), 5, 2, 0.3, 1e-6), 3);
  EXPECT_EQ(j, (std::vector<double>{0.0, 0.3, 0.3, 0.5, 1.0}));
}

class ObjectMeasures : public KernelTest {};

// Convex hull property: every point of a curve or surface lies in its control-point box, so no
// two points are farther apart than the box's diagonal.
TEST_F(ObjectMeasures, ControlBoxHoldsTheObject) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    BsplineKeeper keep;
    PatchOptions o;
    o.seed = seed;
    o.rational = seed % 2 == 0;
    o.layout = KnotLayout::Random;
    Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return std::sin(3 * x) * y; }, o));
    Bspline* c = keep(BuildRandomCurve(seed, 3, 8, 3, seed % 2 == 1));
    ASSERT_TRUE(s && c);
    for (Bspline* obj : {s, c}) {
      double lo[3], hi[3];
      ControlPointBox(obj, lo, hi);
      const double diag = ControlPointDiagonal(obj);
      std::vector<std::vector<double>> seen;
      for (int i = 0; i <= 12; ++i) {
        for (int j = 0; j <= (obj->kind == 2 ? 12 : 0); ++j) {
          double q[3];
          if (obj->kind == 2) Eval3DPointOnSurfArray(obj, i / 12.0, j / 12.0, 0, 0, q);
          else Eval3DPointOnCurve3Array(obj, i / 12.0, 0, q);
          for (int k = 0; k < 3; ++k) {
            EXPECT_GE(q[k], lo[k] - 1e-12);
            EXPECT_LE(q[k], hi[k] + 1e-12);
          }
          seen.push_back({q[0], q[1], q[2]});
        }
      }
      for (const auto& a : seen)
        EXPECT_LE(std::hypot(a[0] - seen[0][0], a[1] - seen[0][1], a[2] - seen[0][2]), diag + 1e-12);
    }
  }
}

// A 2D polyline reaches its extremes at its vertices, which the span sampling visits: its
// parameter box is the box of its control points.
TEST_F(ObjectMeasures, ParameterBoxOfAPolylineIsItsVertexBox) {
  const std::vector<double> uv = {0.2, 0.5, 0.9, 0.1, 0.4, 0.95, 0.05, 0.3};
  BsplineKeeper keep;
  Bspline* c = keep(BuildCurve(1, 2, uv));
  ASSERT_NE(c, nullptr);
  double umin, umax, vmin, vmax;
  CurveOnSurfParamBox(c, &umin, &umax, &vmin, &vmax);
  EXPECT_DOUBLE_EQ(umin, 0.05);
  EXPECT_DOUBLE_EQ(umax, 0.9);
  EXPECT_DOUBLE_EQ(vmin, 0.1);
  EXPECT_DOUBLE_EQ(vmax, 0.95);
}

// d N_i(g_i) against the reference basis; at a clamped end N_i(g_i) = 1.
TEST_F(ObjectMeasures, GrevilleDeviationIsTheBasisAtTheEditPoint) {
  for (int p = 1; p <= 4; ++p) {
    const int n = p + 5;
    const std::vector<double> U = ClampedKnots(p, n, 0.0, 1.0, KnotLayout::Random, 3);
    for (int i = 0; i < n; ++i) {
      const double g = GrevilleAbscissa(U.data(), p + 1, i);
      const double ref = 0.5 * RefBasis(U.data(), static_cast<int>(U.size()), i, p, g);
      EXPECT_NEAR(GrevilleDeviation(U.data(), p, n, i, 0.5), ref, 1e-14);
    }
    EXPECT_DOUBLE_EQ(GrevilleDeviation(U.data(), p, n, 0, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(GrevilleDeviation(U.data(), p, n, n - 1, 0.5), 0.5);
    EXPECT_EQ(GrevilleDeviation(U.data(), p, n, n, 0.5), 0.0);
  }
}

// A boundary and its translate by h: every pair is h apart, the tie goes to the last control
// point, where the clamped basis is 1, so the allowance is tan(angle) h / 2 exactly there.
TEST_F(ObjectMeasures, BoundaryDeviationOfATranslate) {
  BsplineKeeper keep;
  Bspline* bnd = keep(BuildRandomCurve(7, 3, 6));
  ASSERT_NE(bnd, nullptr);
  for (int i = 0; i < NumCtrlU(bnd); ++i) bnd->Z[0][i] = 0.0;  // so that every distance is exact
  Bspline* next = keep(CopyBsplineStruct(bnd));
  Bspline* shorter = keep(BuildRandomCurve(8, 3, 5));
  ASSERT_TRUE(next && shorter);
  for (int i = 0; i < NumCtrlU(next); ++i) next->Z[0][i] = 0.25;
  int index = -1;
  double dist = 0.0;
  ASSERT_EQ(ShortestCtrlPair(bnd, next, &index, &dist), 0);
  EXPECT_EQ(index, NumCtrlU(bnd) - 1);
  EXPECT_EQ(dist, 0.25);
  EXPECT_NEAR(BoundaryDeviation(bnd, next, 30.0), std::tan(30.0 * M_PI / 180.0) * 0.125, 1e-15);
  EXPECT_EQ(BoundaryDeviation(bnd, next, 0.0), 0.0);
  EXPECT_EQ(BoundaryDeviation(bnd, shorter, 30.0), 0.0);  // no corresponding control points
  EXPECT_EQ(ShortestCtrlPair(bnd, shorter, &index, &dist), -2);
}

// A count or index that leaves the array names knots the caller did not give: every knot helper
// refuses it, leaving the knots as they were (the arrays here sit inside larger ones, so a read
// past their start lands on a value and shows in the answer).
TEST_F(KnotArithmetic, CountsAndIndicesOutsideTheArrayAreRefused) {
  std::vector<double> all = {0.0, 1.0, 1.0, 2.0, 3.0, 3.0, 3.0};
  const std::vector<double> kept = all;
  double* knots = all.data() + 1;
  EXPECT_EQ(SnapKnotsToValue(knots, 3, -1, 0.0, 0.5), 0);
  EXPECT_EQ(SnapKnotsToValue(knots, 3, 3, 3.0, 0.5), 0);
  EXPECT_EQ(NormalizeKnots(knots, 1), 0.0);
  EXPECT_EQ(NormalizeKnots(knots, 0), 0.0);
  std::vector<double> out(4, -7.0);
  GrevilleParams(knots, 3, 0, out.data());
  EXPECT_EQ(out, std::vector<double>(4, -7.0));
  EXPECT_EQ(all, kept);
  EXPECT_EQ(FindNLargestSpanIndices(2, -1, 3, knots), nullptr);
  double* merged = nullptr;
  int count = 5;
  MergeKnotVectors(knots, -1, knots, 3, &merged, &count);
  EXPECT_EQ(merged, nullptr);
  EXPECT_EQ(count, 5);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  // Degree 2 needs six knots for a span inside its domain.
  EXPECT_EQ(InsertMidpointsSymmetric(knots, 5, 2, 1), nullptr);
  ClearKernelError();
  EXPECT_EQ(all, kept);
  // A span below the degree leaves the basis untouched.
  std::vector<double> N(kMaxSplineDegree + 3, -7.0);
  ComputeNubVals(knots, 3, 1.0, 1, N.data());
  ComputeNubValsM(knots, 2, 1.0, 1, N.data());
  ComputeNubDerivs(knots, 3, 1.0, 2, 1, N.data());
  EXPECT_EQ(N, std::vector<double>(kMaxSplineDegree + 3, -7.0));
  ComputeNubVals(knots, 1, 2.5, 2, N.data());
  EXPECT_EQ(N[1] + N[2], 1.0);
  // The smallest arrays that are sound still answer.
  EXPECT_EQ(SnapKnotsToValue(knots, 3, 1, 1.2, 0.5), 2);
  EXPECT_EQ(NormalizeKnots(all.data(), 7), 1.0 / 3.0);
  EXPECT_EQ(all.back(), 1.0);
}

}  // namespace
