// Lofts through curves: the caller's curves and conditions stay as they were, the surface
// passes through the curves and leaves curves on surfaces in their tangent planes, conditions
// the ends cannot carry are lowered, the cleaning keeps to its tolerance, curves reduced one by
// one are made compatible again, coincident rows give -9, and failed allocations leave nothing.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "cloud/pchord.h"
#include "construct/srfloft.h"
#include "foundation/coreglob.h"
#include "quadric/qcircle.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class LoftTest : public KernelTest {};

double Dist(const double a[3], const double b[3]) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

bool SameCurve(const Bspline* a, const Bspline* b) {
  if (NumCtrlU(a) != NumCtrlU(b) || NumKnotsU(a) != NumKnotsU(b)) return false;
  for (int i = 0; i < NumKnotsU(a); ++i)
    if (a->knotsU[i] != b->knotsU[i]) return false;
  for (int i = 0; i < NumCtrlU(a); ++i)
    if (a->X[0][i] != b->X[0][i] || a->Y[0][i] != b->Y[0][i] ||
        (a->dimension == 3 && a->Z[0][i] != b->Z[0][i]))
      return false;
  return true;
}

// Two patches side by side along x with a gap between x = 1 and x = 2: the loft runs from the
// u-maximum side of the first to the u-minimum side of the second.
struct TwoPatches {
  BsplineKeeper keep;
  Bspline* a;
  Bspline* b;
  Bspline* ca;
  Bspline* cb;
  explicit TwoPatches(bool rational = false) {
    PatchOptions o;
    o.rational = rational;
    o.layout = KnotLayout::Random;
    a = keep(BuildFunctionPatch([](double x, double y) { return 0.2 * x * x + 0.1 * y; }, o));
    o.x0 = 2.0, o.x1 = 3.0, o.seed = 2, o.rational = false;
    b = keep(BuildFunctionPatch([](double x, double y) { return 0.5 - 0.1 * (x - 2) + 0.05 * y * y; }, o));
    ca = BuildCurveOnSurface(a, 1, {1.0, 0.0, 1.0, 1.0});
    cb = BuildCurveOnSurface(b, 1, {0.0, 0.0, 0.0, 1.0});
  }
};

Bspline* Loft(Bspline** curves, int n, int e0, int e1, double tol = 0.0, double angle = 0.0,
              int cleanMode = 0, int nCtrl = 0) {
  int ends[2] = {e0, e1};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {0, 0};
  return NonFeatureMatchedLoft(n, curves, 0.0, 3, ends, spans, nullptr, tol, angle, -1, modes,
                               cleanMode, nCtrl);
}

TEST_F(LoftTest, ThroughTwoCurvesAtThirds) {
  BsplineKeeper keep;
  Bspline* c0 = keep(BuildRandomCurve(1, 3, 6, 3, false, KnotLayout::Uniform));
  Bspline* c1 = keep(BuildRandomCurve(2, 3, 6, 3, false, KnotLayout::Uniform));
  for (int i = 0; i < 6; ++i) c1->Z[0][i] += 3.0;
  Bspline* k0 = keep(CopyBsplineStruct(c0));
  Bspline* k1 = keep(CopyBsplineStruct(c1));
  Bspline* curves[2] = {c0, c1};
  Bspline* s = keep(Loft(curves, 2, 0, 0));
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(SameCurve(c0, k0));
  EXPECT_TRUE(SameCurve(c1, k1));
  ASSERT_EQ(NumCtrlV(s), 4);
  for (int r = 0; r < 4; ++r)
    for (int i = 0; i < 6; ++i) {
      const double f = r / 3.0;
      EXPECT_NEAR(s->X[r][i], (1 - f) * c0->X[0][i] + f * c1->X[0][i], 1e-12);
      EXPECT_NEAR(s->Z[r][i], (1 - f) * c0->Z[0][i] + f * c1->Z[0][i], 1e-12);
    }
  // Coincident rows: -9.
  Bspline* same[2] = {c0, k0};
  EXPECT_EQ(Loft(same, 2, 0, 0), nullptr);
  EXPECT_EQ(zk_error_status, -9);
  ClearKernelError();
}

TEST_F(LoftTest, TangentEndsLeaveTheSurfacesInTheirTangentPlanes) {
  TwoPatches g;
  Bspline* mid = g.keep(BuildCurve(3, 3, {1.5, 0, 0.5, 1.5, 0.3, 0.6, 1.5, 0.7, 0.6, 1.5, 1, 0.5}));
  for (const int n : {2, 3, 12, 13}) {
    // 12, 13: the same with curvature conditions.
    const int cond = n > 3 ? 2 : 1;
    Bspline* curves[3] = {g.ca, mid, g.cb};
    if (n % 10 == 2) curves[1] = g.cb;
    int ends[2] = {cond, cond};
    double spans[2] = {1.0, 1.0};
    int modes[2] = {0, 0};
    Bspline* s = g.keep(NonFeatureMatchedLoft(n % 10, curves, 0.0, 3, ends, spans, nullptr, 0.001,
                                              0.5, -1, modes, 0, 0));
    ASSERT_NE(s, nullptr) << n;
    EXPECT_EQ(ends[0], cond);
    for (double t = 0.0; t <= 1.0; t += 0.125) {
      // v = 0 is the first curve, v = 1 the last; the cross tangent lies in each tangent plane.
      for (const bool start : {true, false}) {
        Bspline* owner = start ? g.a : g.b;
        const double uOwn = start ? 1.0 : 0.0;
        double p[3], q[3], dv[3], su[3], sv[3];
        RefEvalSurface(s, t, start ? s->vmin : s->vmax, p);
        RefEvalSurface(owner, uOwn, t, q);
        EXPECT_LT(Dist(p, q), 0.001 + 1e-9) << n << " " << t;  // within the cleaning tolerance
        RefEvalDeriv(s, t, start ? s->vmin : s->vmax, 0, 1, dv);
        RefEvalDeriv(owner, uOwn, t, 1, 0, su);
        RefEvalDeriv(owner, uOwn, t, 0, 1, sv);
        const double N[3] = {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2],
                             su[0] * sv[1] - su[1] * sv[0]};
        const double cosine = (dv[0] * N[0] + dv[1] * N[1] + dv[2] * N[2]) /
                              (std::hypot(dv[0], dv[1], dv[2]) * std::hypot(N[0], N[1], N[2]));
        EXPECT_LT(std::fabs(cosine), 0.01) << n << " " << t;
      }
    }
  }
}

TEST_F(LoftTest, EndConditionsAreLoweredWhereTheEndCannotCarryThem) {
  // A rational owner cannot carry curvature: condition 2 lofts exactly as condition 1; the
  // caller's conditions are left alone.
  TwoPatches g(true);
  Bspline* curves[2] = {g.ca, g.cb};
  int ends[2] = {2, 1};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {0, 0};
  Bspline* s2 = g.keep(NonFeatureMatchedLoft(2, curves, 0, 3, ends, spans, nullptr, 0, 0, -1, modes, 0, 0));
  EXPECT_EQ(ends[0], 2);
  Bspline* s1 = g.keep(Loft(curves, 2, 1, 1));
  ASSERT_NE(s2, nullptr);
  ASSERT_NE(s1, nullptr);
  ASSERT_EQ(NumCtrlV(s1), NumCtrlV(s2));
  for (int j = 0; j < NumCtrlV(s1); ++j)
    for (int i = 0; i < NumCtrlU(s1); ++i) EXPECT_EQ(s1->X[j][i], s2->X[j][i]);
  // A position curve running against the curve on the surface is read from its end.
  Bspline* line = g.keep(BuildCurve(1, 3, {1, 1, 0.3, 1, 0, 0.2}));
  double t[2];
  MakeParameterAdjustment(g.ca, line, t);
  EXPECT_EQ(t[0], line->umax);
  EXPECT_EQ(t[1], line->umin);
  // Refusals: a condition on a 3D end, a condition outside 0..2, too few curves, a bad degree.
  Bspline* c3 = g.keep(BuildRandomCurve(5, 3, 5));
  Bspline* mixed[2] = {c3, g.cb};
  EXPECT_EQ(Loft(mixed, 2, 1, 0), nullptr);
  EXPECT_EQ(Loft(curves, 2, 3, 0), nullptr);
  EXPECT_EQ(Loft(curves, 1, 0, 0), nullptr);
}

TEST_F(LoftTest, CleaningKeepsToItsToleranceAndReducedCurvesStayCompatible) {
  BsplineKeeper keep;
  std::vector<Bspline*> set, orig;
  for (unsigned k = 0; k < 3; ++k) {
    std::vector<double> pts;
    for (int i = 0; i < 12; ++i) {
      const double x = i / 11.0;
      pts.insert(pts.end(), {x, 0.3 * std::sin(3 * x + k), 0.1 * x * x + k});
    }
    Bspline* c = keep(BuildCurve(3, 3, pts));
    set.push_back(c);
    orig.push_back(keep(CopyBsplineStruct(c)));
  }
  double cand[8];
  for (int i = 0; i < 8; ++i) cand[i] = set[0]->knotsU[4 + i];
  int ends[2] = {0, 0};
  // Angle 0: tolerance 0, nothing goes.
  ASSERT_EQ(CleanLoftCurves(set.data(), cand, 8, 3, ends, 0.1, 0.0), 0);
  EXPECT_EQ(set[0]->interiorU, 8);
  ASSERT_EQ(CleanLoftCurves(set.data(), cand, 8, 3, ends, 0.02, 10.0), 0);
  EXPECT_LT(set[0]->interiorU, 8);
  for (int k = 0; k < 3; ++k)
    for (double t = 0; t <= 1.0; t += 0.01) {
      double a[3], b[3];
      RefEvalCurve(orig[k], t, a);
      RefEvalCurve(set[k], t, b);
      EXPECT_LT(Dist(a, b), 0.02 + 1e-9);
    }
  // Curves of different knots reduced one by one: one knot vector again, or no surface.
  Bspline* c0 = keep(BuildRandomCurve(31, 3, 10));
  Bspline* c1 = keep(BuildRandomCurve(32, 3, 14));
  for (int i = 0; i < 14; ++i) c1->Z[0][i] += 2.0;
  Bspline* curves[2] = {c0, c1};
  Bspline* s = keep(Loft(curves, 2, 0, 0, 0.0, 0.0, 2, 6));
  ASSERT_NE(s, nullptr);
  EXPECT_GE(NumCtrlU(s), 6);
  // Refitted on uniform knots: the requested count.
  Bspline* r = keep(Loft(curves, 2, 0, 0, 0.0, 0.0, 1, 7));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(NumCtrlU(r), 7);
}

TEST_F(LoftTest, FailedAllocationsLeaveNothing) {
  TwoPatches g;
  Bspline* curves[2] = {g.ca, g.cb};
  const int failures = RunMakerWithInjectedFailures(2500, 7, [&](Bspline** out) {
    *out = Loft(curves, 2, 1, 1, 0.001, 0.5);
    return *out && !KernelFailed() ? 0 : -1;
  });
  EXPECT_GT(failures, 0);
}

// Three curves in the planes z = 0, 1, 2, each with one corner-like feature at its own parameter.
struct FeatureCurves {
  BsplineKeeper keep;
  Bspline* c[3];
  double features[3] = {0.3, 0.55, 0.7};
  FeatureCurves() {
    for (int i = 0; i < 3; ++i) {
      c[i] = keep(BuildRandomCurve(10 + i, 3, 7, 3, false, KnotLayout::Random));
      for (int k = 0; k < 7; ++k) c[i]->Z[0][k] = i;
    }
  }
};

Bspline* FeatureLoft(Bspline** curves, int n, double* features, int m) {
  int ends[2] = {0, 0};
  double spans[2] = {1.0, 1.0};
  int modes[2] = {0, 0};
  return FeatureMatchedLoft(curves, n, features, m, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1,
                            modes);
}

TEST_F(LoftTest, FeatureLoftWithoutFeaturesIsThePlainLoft) {
  TwoPatches g;
  Bspline* mid = g.keep(BuildCurve(3, 3, {1.5, 0, 0.6, 1.5, 0.3, 0.7, 1.5, 0.7, 0.6, 1.5, 1, 0.5}));
  Bspline* curves[3] = {g.ca, mid, g.cb};
  int ends[2] = {1, 1};
  double spans[2] = {1.4, 1.4};
  int modes[2] = {0, 0};
  Bspline* plain = g.keep(
      NonFeatureMatchedLoft(3, curves, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1, modes, 0, 0));
  Bspline* feat =
      g.keep(FeatureMatchedLoft(curves, 3, nullptr, 0, 0.0, 3, ends, spans, nullptr, 0.0, 0.0, -1, modes));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(feat, nullptr);
  ASSERT_EQ(NumCtrlU(plain), NumCtrlU(feat));
  ASSERT_EQ(NumCtrlV(plain), NumCtrlV(feat));
  for (int r = 0; r < NumCtrlV(plain); ++r)
    for (int i = 0; i < NumCtrlU(plain); ++i) {
      EXPECT_EQ(plain->X[r][i], feat->X[r][i]);
      EXPECT_EQ(plain->Y[r][i], feat->Y[r][i]);
      EXPECT_EQ(plain->Z[r][i], feat->Z[r][i]);
    }
  // Only u is rescaled: v keeps its knots.
  for (int k = 0; k < NumKnotsV(plain); ++k) EXPECT_EQ(plain->knotsV[k], feat->knotsV[k]);
}

// The u where the iso line v of s comes closest to p (a coarse scan refined around its best).
double ClosestU(const Bspline* s, double v, const double p[3], double* dist) {
  double lo = s->umin, hi = s->umax, best = lo;
  for (int pass = 0; pass < 3; ++pass) {
    double bestD = 1e300;
    const double step = (hi - lo) / 1000.0;
    for (int j = 0; j <= 1000; ++j) {
      double at[3];
      const double u = lo + step * j;
      RefEvalSurface(s, u, v, at);
      if (Dist(at, p) < bestD) bestD = Dist(at, p), best = u;
      *dist = bestD;
    }
    lo = std::max(s->umin, best - step), hi = std::min(s->umax, best + step);
  }
  return best;
}

TEST_F(LoftTest, FeaturesLineUpAcrossTheLoft) {
  FeatureCurves f;
  Bspline* s = f.keep(FeatureLoft(f.c, 3, f.features, 1));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
  // v = its minimum and maximum follow the first and last curve (the curvature-continuous join
  // moves the control columns next to the seam a little: the pieces' parameter speeds differ),
  // and the seam's iso line runs exactly through the first curve's feature and the last's.
  double d = 0.0;
  for (int e = 0; e < 3; e += 2)
    for (int k = 0; k <= 20; ++k) {
      double want[3];
      RefEvalCurve(f.c[e], k / 20.0, want);
      ClosestU(s, e == 0 ? s->vmin : s->vmax, want, &d);
      EXPECT_LT(d, 0.03) << e << " " << k;
    }
  double f0[3], f2[3], at[3];
  RefEvalCurve(f.c[0], f.features[0], f0);
  RefEvalCurve(f.c[2], f.features[2], f2);
  const double u = ClosestU(s, s->vmin, f0, &d);
  EXPECT_LT(d, 1e-7);
  RefEvalSurface(s, u, s->vmax, at);
  EXPECT_LT(Dist(at, f2), 1e-6);
  // Without the features the same iso line misses the last curve's feature.
  Bspline* plain = f.keep(FeatureLoft(f.c, 3, nullptr, 0));
  ASSERT_NE(plain, nullptr);
  RefEvalSurface(plain, ClosestU(plain, plain->vmin, f0, &d), plain->vmax, at);
  EXPECT_GT(Dist(at, f2), 1e-2);
}

TEST_F(LoftTest, FeatureLoftRefusesFeaturesThatDoNotCut) {
  FeatureCurves f;
  // A feature at the curve's end is dropped by the cut: that row would have no second piece.
  double atEnd[3] = {0.3, 1.0, 0.7};
  EXPECT_EQ(FeatureLoft(f.c, 3, atEnd, 1), nullptr);
  EXPECT_EQ(MallocTrackedCount(), 0);
  ClearKernelError();
  // Two features repeating each other on one curve.
  double repeated[6] = {0.2, 0.6, 0.4, 0.4, 0.3, 0.8};
  EXPECT_EQ(FeatureLoft(f.c, 3, repeated, 2), nullptr);
  ClearKernelError();
  // No feature inside the range at all.
  double outside[3] = {0.3, 1.5, 0.7};
  EXPECT_EQ(FeatureLoft(f.c, 3, outside, 1), nullptr);
  EXPECT_EQ(zk_error_status, -2);
  ClearKernelError();
  double two[6] = {0.2, 0.6, 0.3, 0.7, 0.4, 0.8};
  const int failures = RunMakerWithInjectedFailures(1500, 5, [&](Bspline** out) {
    *out = FeatureLoft(f.c, 3, two, 2);
    return *out && !KernelFailed() ? 0 : -1;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace

namespace {

class ChordalReduction : public KernelTest {};

TEST_F(ChordalReduction, KeepsEndsCornersAndSpanLimits) {
  // Collinear, evenly spaced: a span of 3.5 spacings keeps every third point and the last.
  std::vector<float> x(10), y(10, 0.0f), z(10, 0.0f);
  for (int i = 0; i < 10; ++i) x[i] = static_cast<float>(i);
  std::vector<int> keep(10);
  ASSERT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 10, 0.01, 3.5, 45.0, keep.data()), 0);
  EXPECT_EQ(keep, (std::vector<int>{1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
  ASSERT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 10, 0.01, 1e30, 45.0, keep.data()), 0);
  EXPECT_EQ(keep, (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  // An L of two straight legs: the ends and the corner, by deviation (angle 0 never ends a span)
  // and by the turn (whatever the tolerance).
  for (int i = 5; i < 10; ++i) x[i] = 4.0f, y[i] = static_cast<float>(i - 4);
  ASSERT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 10, 0.5, 1e30, 0.0, keep.data()), 0);
  EXPECT_EQ(keep, (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
  ASSERT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 10, 100.0, 1e30, 30.0, keep.data()), 0);
  EXPECT_EQ(keep, (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
  // Fewer than six points: the ends alone.
  ASSERT_EQ(ChordDevAngOptArrays(x.data(), y.data(), z.data(), 5, 0.0, 1e30, 30.0, keep.data()), 0);
  EXPECT_EQ(std::vector<int>(keep.begin(), keep.begin() + 5), (std::vector<int>{1, 0, 0, 0, 1}));
}

TEST_F(ChordalReduction, CurveSamplesFollowTheShape) {
  BsplineKeeper keep;
  PatchOptions o;
  Bspline* s = keep(BuildFunctionPatch([](double x, double y) { return x * y; }, o));
  Bspline* straight = BuildCurveOnSurface(s, 1, {0.1, 0.5, 0.9, 0.5});
  Bspline* bent = BuildCurveOnSurface(s, 3, {0.1, 0.1, 0.9, 0.2, 0.1, 0.8, 0.9, 0.9});
  double* t = nullptr;
  int n = 0;
  ASSERT_EQ(SamplePosCurveChordalDev(straight, 1e-3, &t, &n), 1);
  // A straight line in both spaces (z = 0.5 x along v = 0.5): its two ends.
  EXPECT_EQ(n, 2);
  Free(t);
  ASSERT_EQ(SamplePosCurveChordalDev(bent, 1e-3, &t, &n), 1);
  EXPECT_GT(n, 4);
  for (int i = 1; i < n; ++i) EXPECT_GT(t[i], t[i - 1]);
  Free(t);
  Bspline* c3 = keep(BuildRandomCurve(3, 3, 5));
  EXPECT_EQ(SamplePosCurveChordalDev(c3, 1e-3, &t, &n), 0);
}

}  // namespace

namespace {

// Four circles of radius 0.5 x size about the z axis through offset, 2/3 of the size apart;
// toApex: their radii fall to 0 at the last (a cone's apex). Each surface point's distance from
// the axis, against the radius expected at its height, relative to the size: the worst over a grid.
double LoftedQuadricError(double size, const double offset[3], bool toApex, int* status) {
  ClearKernelError();  // each case starts clean
  BsplineKeeper keep;
  Bspline* curves[4];
  for (int i = 0; i < 4; ++i) {
    const double c[3] = {offset[0], offset[1], offset[2] + 2.0 / 3.0 * i * size};
    const double r = toApex ? 0.5 * size * (3 - i) / 3.0 : 0.5 * size;
    curves[i] = keep(NewCircleBspline(c, i == 3 && toApex ? 0.5 * size : r));
    if (!curves[i]) return 1e300;
    if (i == 3 && toApex)
      for (int k = 0; k < NumCtrlU(curves[i]); ++k)
        curves[i]->X[0][k] = c[0], curves[i]->Y[0][k] = c[1], curves[i]->Z[0][k] = c[2];
  }
  Bspline* s = keep(Loft(curves, 4, 0, 0));
  *status = zk_error_status;
  if (!s) return 1e300;
  double worst = 0.0;
  for (int i = 0; i <= 8; ++i)
    for (int j = 0; j <= 8; ++j) {
      double p[3];
      RefEvalSurface(s, s->umin + (s->umax - s->umin) * i / 8, s->vmin + (s->vmax - s->vmin) * j / 8, p);
      const double h = (p[2] - offset[2]) / size;
      const double expected = toApex ? 0.5 * (1 - h / 2) : 0.5;
      worst = std::max(worst, std::fabs(std::hypot(p[0] - offset[0], p[1] - offset[1]) / size - expected));
    }
  return worst;
}

TEST_F(LoftTest, CirclesOfAnySizeAnywhereLoftToTheirCylinderOrCone) {
  for (bool toApex : {false, true})
    for (double size : {1e-6, 1e-3, 1.0, 1e3, 1e6})
      for (bool far : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "apex " << toApex << " size " << size << " far " << far);
        const double offset[3] = {far ? 1e4 * size : 0.0, far ? -6e3 * size : 0.0, far ? 3.5e3 * size : 0.0};
        int status = 0;
        // Round-off of coordinates 1e4 sizes away is 1e-12 of the size.
        EXPECT_LT(LoftedQuadricError(size, offset, toApex, &status), far ? 1e-9 : 1e-12);
        EXPECT_EQ(status, 0);
      }
}

}  // namespace
