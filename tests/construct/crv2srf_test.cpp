// The boundary allowance of curve-to-surface construction: the shortest corresponding
// control-point pair against brute force, and the allowance as the documented product of the
// tangent of the angle, half that distance and the next curve's basis at the pair's Greville
// abscissa.
#include <cmath>
#include <vector>

#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "construct/crv2srf.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class BoundaryAllowance : public KernelTest {};

TEST_F(BoundaryAllowance, ShortestPairAndAllowanceFromTheirDefinitions) {
  BsplineKeeper keep;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Bspline* bnd = keep(BuildRandomCurve(seed, 3, 8));
    Bspline* next = keep(BuildRandomCurve(seed + 50, 3, 8));
    int best = -1;
    double shortest = 1e300;
    for (int i = 0; i < 8; ++i) {
      const double d = std::hypot(bnd->X[0][i] - next->X[0][i], bnd->Y[0][i] - next->Y[0][i],
                                  bnd->Z[0][i] - next->Z[0][i]);
      if (d <= shortest) shortest = d, best = i;  // ties: the later index
    }
    int index = -1;
    double dist = -1.0;
    ASSERT_EQ(GetShortestCntrlPair(bnd, next, &index, &dist), 0);
    EXPECT_EQ(index, best);
    EXPECT_NEAR(dist, shortest, 1e-15);
    // The Greville abscissa of the pair and next's basis function there.
    const int p = next->degreeU;
    double g = 0.0;
    for (int k = 1; k <= p; ++k) g += next->knotsU[best + k];
    g /= p;
    const double weight = RefBasis(next->knotsU, NumKnotsU(next), best, p, g);
    for (double angle : {0.0, 1.0, 30.0}) {
      double dev = -1.0;
      EXPECT_EQ(GetBndryDeviation(bnd, next, angle, &dev), 0);
      EXPECT_NEAR(dev, std::tan(angle * M_PI / 180.0) * shortest / 2.0 * weight, 1e-12) << angle;
    }
  }
  // Curves that do not correspond: no pair, no allowance.
  Bspline* a = keep(BuildRandomCurve(7, 3, 8));
  Bspline* shorter = keep(BuildRandomCurve(8, 3, 7));
  Bspline* flat = keep(BuildRandomCurve(9, 3, 8, 2));
  int index = 5;
  double dist = 5.0, dev = 5.0;
  EXPECT_EQ(GetShortestCntrlPair(a, shorter, &index, &dist), -2);
  EXPECT_EQ(GetShortestCntrlPair(a, flat, &index, &dist), -2);
  EXPECT_EQ(GetBndryDeviation(a, shorter, 10.0, &dev), 0);
  EXPECT_EQ(dev, 0.0);
}

}  // namespace

// ---- Skinning ---------------------------------------------------------------------------------
#include "bspline/nubutil.h"
#include "splinefit/intrplt.h"
#include "stitch/vcnobj.h"
#include "tests/support/injected_failures.h"

namespace {

class Skinning : public KernelTest {};

// n compatible cubic curves (one knot vector), curve i lifted by i in z and bent a little.
std::vector<Bspline*> Section(int n, bool rational, unsigned seed) {
  std::vector<Bspline*> out;
  const std::vector<double> knots = ClampedKnots(3, 7, 0.0, 1.0, KnotLayout::Random, seed);
  for (int i = 0; i < n; ++i) {
    std::vector<double> pts, w;
    for (int j = 0; j < 7; ++j) {
      pts.insert(pts.end(), {double(j), std::sin(j + 0.7 * i), 1.3 * i + 0.1 * j * j});
      w.push_back(1.0 + 0.2 * std::sin(0.4 * i + j));
    }
    out.push_back(BuildCurve(3, 3, pts, knots, rational ? w : std::vector<double>{}));
  }
  return out;
}

// Largest distance between the surface's iso curve at v and the curve, sampled in u.
double IsoGap(const Bspline* s, double v, const Bspline* c) {
  double worst = 0.0;
  for (int k = 0; k <= 40; ++k) {
    const double u = s->umin + (s->umax - s->umin) * k / 40.0;
    const double t = c->umin + (c->umax - c->umin) * k / 40.0;
    double a[3], b[3];
    RefEvalSurface(s, u, v, a);
    RefEvalCurve(c, t, b);
    worst = std::max(worst, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
  }
  return worst;
}

// The v parameters at which the skins pass through their curves: the chord-length parameters.
std::vector<double> ChordParams(const std::vector<Bspline*>& cs) {
  std::vector<double> out(cs.size() + 6);
  ComputeKnotVecAcrossNCurves(const_cast<Bspline**>(cs.data()), int(cs.size()), out.data(), 4);
  return std::vector<double>(out.begin() + 3, out.begin() + 3 + cs.size());
}

TEST_F(Skinning, SkinsReproduceTheirSectionCurvesRationalOnesToo) {
  for (bool rational : {false, true}) {
    for (int n : {2, 3, 5, 8}) {
      BsplineKeeper keep;
      std::vector<Bspline*> cs = Section(n, rational, n);
      for (Bspline* c : cs) keep(c);
      const std::vector<double> v = ChordParams(cs);
      int ends[2] = {0, 0};
      Bspline* s = keep(Curve3ToSurf(n, cs.data(), nullptr, 3, ends));
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->rational, rational ? 1 : 0);
      EXPECT_EQ(NumCtrlV(s), n + 2);
      EXPECT_EQ(s->vmax, v.back());  // not normalised
      for (int i = 0; i < n; ++i) EXPECT_LT(IsoGap(s, v[i], cs[i]), 1e-10) << rational << n << i;
      // Any degree: the band skin through the same curves (with curves added below the order).
      for (int p : {1, 2, 3, 5}) {
        // Weights of added rational rows come from their neighbours; a high degree through
        // them may call for weights at or below zero, which the skin refuses.
        if (rational && n < p + 1 && p > 3) continue;
        Bspline* b = keep(NewCurve3ToSurf(n, cs.data(), nullptr, p));
        ASSERT_NE(b, nullptr) << p << " " << n << " " << zk_error_status << " " << rational;
        EXPECT_EQ(CheckBspline(b, 1e-9), 0);
        EXPECT_GE(NumCtrlV(b), p + 1);
        if (n >= p + 1) {
          for (int i = 0; i < n; ++i) EXPECT_LT(IsoGap(b, v[i], cs[i]), 1e-9) << p << " " << i;
        }
        // The caller's curves are the caller's.
        EXPECT_EQ(IsoGap(s, v[0], cs[0]) < 1e-10, true);
      }
    }
  }
}

TEST_F(Skinning, EndConditionsTakeTheGivenControlRows) {
  BsplineKeeper keep;
  std::vector<Bspline*> cs = Section(6, false, 3);
  for (Bspline* c : cs) keep(c);
  // Entries: data, row 1, row 2, data, row n-2 ... with ends {2, 1}: 0 data, 1-2 rows, 3 data,
  // 4 row, 5 data. Knots for 5 control rows less one: interior n - 2 - 2 = 2.
  int ends[2] = {2, 1};
  std::vector<double> vk = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
  Bspline* s = keep(Curve3ToSurf(6, cs.data(), vk.data(), 3, ends));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(NumCtrlV(s), 6);
  for (int j = 0; j < 7; ++j) {
    EXPECT_EQ(s->X[0][j], cs[0]->X[0][j]);
    EXPECT_NEAR(s->Y[1][j], cs[1]->Y[0][j], 1e-14);  // row 1 given
    EXPECT_NEAR(s->Y[2][j], cs[2]->Y[0][j], 1e-14);  // row 2 given (start value)
    EXPECT_NEAR(s->Z[4][j], cs[4]->Z[0][j], 1e-14);  // row n-2 given (end value)
    EXPECT_EQ(s->Z[5][j], cs[5]->Z[0][j]);
  }
  // Refusals: conditions without knots, degree 1 with condition 2, too few entries.
  int e10[2] = {1, 0}, e02[2] = {0, 2}, e22[2] = {2, 2};
  EXPECT_EQ(Curve3ToSurf(6, cs.data(), nullptr, 3, e10), nullptr);
  EXPECT_EQ(Curve3ToSurf(6, cs.data(), vk.data(), 1, e02), nullptr);
  EXPECT_EQ(Curve3ToSurf(5, cs.data(), vk.data(), 3, e22), nullptr);
  EXPECT_FALSE(KernelFailed());
}

TEST_F(Skinning, CoincidentNeighboursLeaveMinusNine) {
  BsplineKeeper keep;
  std::vector<Bspline*> cs = Section(3, false, 5);
  for (Bspline* c : cs) keep(c);
  Bspline* twin = keep(CopyBsplineStruct(cs[1]));
  Bspline* set[3] = {cs[0], cs[1], twin};
  int ends[2] = {0, 0};
  EXPECT_EQ(Curve3ToSurf(3, set, nullptr, 3, ends), nullptr);
  EXPECT_EQ(zk_error_status, -9);
  ClearKernelError();
  EXPECT_EQ(NewCurve3ToSurf(3, set, nullptr, 2), nullptr);
  EXPECT_EQ(zk_error_status, -9);
}

TEST_F(Skinning, RuledSurfaceRaisesDegreesAndJoinsTheTwoCurves) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(3, 2, 5));
  Bspline* b = keep(BuildRandomCurve(4, 3, 6, 3, true));
  Bspline* ca = keep(CopyBsplineStruct(a));
  Bspline* s = keep(RuledSurface(a, b));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(a->degreeU, 3);  // raised in place
  EXPECT_EQ(s->degreeV, 1);
  EXPECT_EQ(s->rational, 1);
  for (double t : {0.0, 0.3, 0.71, 1.0}) {
    double p[3], q[3];
    RefEvalSurface(s, t, 0.0, p);
    RefEvalCurve(ca, t, q);  // the shape of a, parametrised on [0, 1] as before
    EXPECT_LT(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 1e-10);
  }
  EXPECT_EQ(RuledSurface(a, nullptr), nullptr);
}

TEST_F(Skinning, TwoCurvesAtDegreeThreeAddTwoAndLeaveTheCallersArray) {
  BsplineKeeper keep;
  std::vector<Bspline*> cs = Section(2, false, 8);
  for (Bspline* c : cs) keep(c);
  Bspline* set[2] = {cs[0], cs[1]};
  int n = 2;
  Bspline** grown = AddCurvesIfLessThanOrder(set, &n, 3);
  ASSERT_NE(grown, nullptr);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(grown[0], cs[0]);
  EXPECT_EQ(grown[3], cs[1]);
  // Added between on the straight line of each control column, evenly.
  EXPECT_NEAR(grown[1]->Z[0][2], (2 * cs[0]->Z[0][2] + cs[1]->Z[0][2]) / 3, 1e-12);
  FreeBspline(grown[1]);
  FreeBspline(grown[2]);
  Free(grown);
  Bspline* s = keep(NewCurve3ToSurf(2, set, nullptr, 3));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(NumCtrlV(s), 4);
  EXPECT_EQ(set[1], cs[1]);
}

TEST_F(Skinning, InjectedFailuresLeaveNothingBehind) {
  BsplineKeeper keep;
  std::vector<Bspline*> cs = Section(4, true, 2);
  for (Bspline* c : cs) keep(c);
  for (int mode = 0; mode < 3; ++mode) {
    RunMakerWithInjectedFailures(300, 2, [&](Bspline** out) {
      int ends[2] = {0, 0};
      if (mode == 0) *out = Curve3ToSurf(4, cs.data(), nullptr, 3, ends);
      if (mode == 1) *out = NewCurve3ToSurf(4, cs.data(), nullptr, 3);
      if (mode == 2) *out = NewCurve3ToSurf(2, cs.data(), nullptr, 4);
      return *out ? 0 : -2;
    });
  }
}

}  // namespace
