// The core's knot arithmetic and object measures against textbook identities and the
// reference basis: Greville abscissae reproduce linear functions, an affine change of the knots
// leaves the curve's shape unchanged, distinct knots expand back to the vector, and the
// measures bound what the objects really reach.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/creverse.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "construct/srfmerge.h"
#include "curve/crvutil.h"
#include "curve/fittotol.h"
#include "curve/pntintrp.h"
#include "foundation/umalloc.h"
#include "healing/srfbndr.h"
#include "stitch/srfstitc.h"
#include "stitch/vcnobj.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotArithmetic : public KernelTest {};

// A clamped vector on [lo, lo + R] that a mirror, shift or scale may round into a run of p + 2:
// a break of p + 1 copies at 1.3e-3 R on the given side of zero with a knot an ulp above it,
// and single knots a quarter from either end.
std::vector<double> BreakBesideAKnotAnUlpAbove(int p, double lo, double R, double side) {
  const double a = side * 1.3e-3 * R;
  std::vector<double> knots(p + 1, lo);
  knots.push_back(lo + 0.25 * R);
  knots.insert(knots.end(), p + 1, a);
  knots.push_back(std::nextafter(a, INFINITY));
  knots.push_back(lo + 0.8 * R);
  knots.insert(knots.end(), p + 1, lo + R);
  return knots;
}

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

// A mirror (reversal) or a shift and scale (the map onto [0, 1]) of knots near zero in a domain
// that passes it rounds them onto the coarser grid of the values far from zero: a knot an ulp
// beside a break of p + 1 copies falls onto the break, and a run of p + 2 copies is no knot
// vector. Curves and both directions of surfaces, domains of 1e-6 .. 1e6 either side of zero:
// every result is a sound record with its domain ends where the mirror or the map puts them
// and the shape of the original at the mirrored or mapped parameter; reversed twice, the
// record is sound again and has the original shape.
TEST_F(KnotArithmetic, MirroredOrMappedKnotsAnUlpApartStayAKnotVector) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> coord(-1.0, 1.0);
  for (int p = 1; p <= 4; ++p)
    for (double R : {1e-6, 0.05, 1.0, 1e6})
      for (double side : {1.0, -1.0}) {
        const double lo = (side > 0 ? -0.37 : -0.63) * R, hi = lo + R;
        const std::vector<double> knots = BreakBesideAKnotAnUlpAbove(p, lo, R, side);
        const int n = int(knots.size()) - p - 1;
        std::vector<double> pts(3 * n * n);
        for (double& x : pts) x = coord(rng);
        BsplineKeeper keep;
        std::vector<double> curvePts(pts.begin(), pts.begin() + 3 * n);
        Bspline* curve = keep(BuildCurve(p, 3, curvePts, knots));
        Bspline* surface = keep(BuildSurface(p, p, n, n, pts, knots, knots));
        ASSERT_TRUE(curve && surface && BsplineSound(curve) && BsplineSound(surface));
        // Parameters away from the break, where the shape is continuous.
        std::vector<double> at;
        for (int i = 0; i <= 16; ++i) at.push_back(lo + R * i / 16.0);
        auto point = [](const Bspline* obj, double u, double v, double q[3]) {
          if (obj->kind == 2) Eval3DPointOnSurfArray(obj, u, v, 0, 0, q);
          else Eval3DPointOnCurve3Array(obj, u, 0, q);
        };
        const double v0 = lo + 0.4 * R;
        for (Bspline* obj : {curve, surface})
          for (int dir = 0; dir < (obj->kind == 2 ? 2 : 1); ++dir)
            for (int op = 0; op < 3; ++op) {
              ::testing::Message where;
              where << "p " << p << " R " << R << " side " << side << " kind " << obj->kind
                    << " dir " << dir << " op " << op;
              Bspline* w = keep(CopyBsplineStruct(obj));
              ASSERT_NE(w, nullptr);
              // op 0 reverses, op 1 reverses twice, op 2 maps onto [0, 1] (the other direction
              // scaled alike).
              if (op < 2) ReverseDirection(w, dir);
              if (op == 1) ReverseDirection(w, dir);
              if (op == 2) MapDirectionOntoUnitRange(w, dir, 1);
              EXPECT_FALSE(KernelFailed()) << where;
              EXPECT_TRUE(BsplineSound(w)) << where;
              const double wlo = dir ? w->vmin : w->umin, whi = dir ? w->vmax : w->umax;
              const double c = lo + hi;
              EXPECT_EQ(wlo, op == 0 ? c - hi : op == 1 ? lo : 0.0) << where;
              EXPECT_EQ(whi, op == 0 ? c - lo : op == 1 ? hi : 1.0) << where;
              for (double t : at) {
                const double u = dir ? v0 : t, v = dir ? t : v0;
                auto image = [&](double x) { return op == 0 ? c - x : op == 1 ? x : (x - lo) / R; };
                // The map scales the other direction by 1 / R as well.
                const double mu = dir ? (op == 2 ? u / R : u) : image(u);
                const double mv = dir ? image(v) : (op == 2 ? v / R : v);
                double q0[3], q1[3];
                point(obj, u, v, q0);
                point(w, mu, mv, q1);
                EXPECT_LT(std::hypot(q0[0] - q1[0], q0[1] - q1[1], q0[2] - q1[2]), 1e-9)
                    << where << " t " << t;
              }
            }
      }
}

// The other maps of a direction onto [0, 1] (a short domain tidied or corrected, a heal's
// surfaces, the merge's curves, a fit's start knots, the four stitched surfaces with the scale
// that puts two of them in proportion) round the same knots alike: each leaves a sound record,
// succeeds where the knots were sound, and a direction mapped alone keeps its shape (the tidy
// may merge knots closer than its tolerance, which moves the shape).
TEST_F(KnotArithmetic, EveryMapOntoTheUnitRangeLeavesAKnotVector) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> coord(-1.0, 1.0);
  PatchOptions o;
  BsplineKeeper keep;
  Bspline* s1 = keep(BuildFunctionPatch([](double x, double y) { return 0.3 * x * x + y; }, o));
  o.x0 = 2.0, o.x1 = 3.0;
  Bspline* s2 = keep(BuildFunctionPatch([](double x, double y) { return 0.4 - 0.2 * x * y; }, o));
  Bspline* c2 = BuildCurveOnSurface(s2, 3, {0, 0, 0, 0.3, 0, 0.6, 0, 0.8, 0, 1.0});
  std::vector<float> fx, fy, fz;
  for (int i = 0; i < 40; ++i)
    fx.push_back(i / 39.0f), fy.push_back(std::sin(i / 13.0f)), fz.push_back(0.0f);
  Owned<Cloud, FreeCloud> cloud(MakeCld(fx.data(), fy.data(), fz.data(), 40, nullptr));
  ASSERT_TRUE(s1 && c2 && cloud);
  for (int p = 1; p <= 3; ++p)
    for (double R : {1e-6, 0.3, 3.0, 1e6})
      for (double side : {1.0, -1.0}) {
        ::testing::Message where;
        where << "p " << p << " R " << R << " side " << side;
        const double lo = (side > 0 ? -0.37 : -0.5) * R;
        const std::vector<double> knots = BreakBesideAKnotAnUlpAbove(p, lo, R, side);
        const int n = int(knots.size()) - p - 1;
        std::vector<double> pts(3 * n * n), uv;
        for (double& x : pts) x = coord(rng);
        for (int i = 0; i < n; ++i) uv.insert(uv.end(), {1.0, i / (n - 1.0)});
        const std::vector<double> curvePts(pts.begin(), pts.begin() + 3 * n);
        Bspline* curve = keep(BuildCurve(p, 3, curvePts, knots));
        Bspline* surface = keep(BuildSurface(p, p, n, n, pts, knots, knots));
        ASSERT_TRUE(curve && surface && BsplineSound(surface)) << where;
        Bspline* tidied = keep(CopyBsplineStruct(curve));
        Bspline* corrected = keep(CopyBsplineStruct(curve));
        Bspline* correctedSurface = keep(CopyBsplineStruct(surface));  // v mapped, u scaled
        Bspline* healed = keep(CopyBsplineStruct(surface));
        EXPECT_EQ(CleanBsplineKnots(tidied, 2.0 * R) & 1, 1) << where;
        EXPECT_EQ(TestCorrectParamSpan(corrected, 2.0 * R), 0) << where;
        EXPECT_EQ(TestCorrectParamSpan(correctedSurface, 2.0 * R), 0) << where;
        EXPECT_EQ(NormalizeBndrSrfDomain(healed), 0) << where;
        Bspline* four[4];
        for (int i = 0; i < 4; ++i) {
          std::vector<double> q = pts;  // a 2 x 2 layout of nets of different sizes
          for (int j = 0; j < n * n; ++j)
            q[3 * j] = (1 + 0.37 * i) * (j % n) / (n - 1.0) + i % 2,
            q[3 * j + 1] = (1 + 0.21 * i) * (j / n) / (n - 1.0) + i / 2;
          four[i] = keep(BuildSurface(p, p, n, n, q, knots, knots));
        }
        const int bndry[4] = {2, 0, 1, 1};
        PropotionSurfKnots(four, bndry);
        Bspline *m1 = nullptr, *m2 = nullptr;
        GetMergeCurve2s(s1, BuildCurveOnSurface(s1, p, uv, knots), s2, c2, &m1, &m2);
        Bspline* fit =
            keep(FitToTolerance(cloud.get(), curve, 1e-3, 0.2, 0, p, 0, 0, 0, nullptr, 0, 0));
        EXPECT_FALSE(KernelFailed()) << where;
        const Bspline* made[] = {tidied, corrected, correctedSurface, healed, four[0],
                                 four[1], four[2], four[3], m1, fit};
        for (int i = 0; i < 10; ++i)
          EXPECT_TRUE(made[i] && BsplineSound(made[i])) << where << " record " << i;
        for (int i = 0; i <= 16; ++i) {
          const double t = lo + R * i / 16.0, u = (t - lo) / R;
          double a[3], b[3];
          Eval3DPointOnCurve3Array(curve, t, 0, a);
          Eval3DPointOnCurve3Array(corrected, u, 0, b);
          EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1e-9) << where;
          Eval3DPointOnSurfArray(surface, t, lo + 0.6 * R, 0, 0, a);
          Eval3DPointOnSurfArray(healed, u, 0.6, 0, 0, b);
          EXPECT_LT(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1e-9) << where;
        }
        ClearKernelError();
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
