// The penalised least-squares curve fit and its drivers: normal equations checked from basis
// values computed here, shapes of the fitted spline space reproduced, held control points,
// invariance under scaling and translation, the polygon penalty as a quadratic form, the seam of
// closed fits, and the fit on a given break list with parameter correction.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "curve/crverr.h"
#include "curve/fitcurve.h"
#include "foundation/cloudrec.h"
#include "foundation/makemat.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CurveFitTest : public KernelTest {};

struct Samples {
  std::vector<float> x, y, z;
  std::vector<double> t;
  int n() const { return int(t.size()); }
};

// n points of the curve at increasing random parameters over its domain (ends included), moved
// by noise of the given size, then scaled and shifted.
Samples SampleCurve(const Bspline* c, int n, unsigned seed, double noise = 0.0, double scale = 1.0,
                    double shift = 0.0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0), e(-1.0, 1.0);
  Samples s;
  std::vector<double> t(n);
  for (int i = 0; i < n; ++i) t[i] = u(rng);
  std::sort(t.begin(), t.end());
  t.front() = 0.0;
  t.back() = 1.0;
  for (int i = 0; i < n; ++i) {
    const double ti = c->umin + t[i] * (c->umax - c->umin);
    double p[3];
    RefEvalCurve(c, ti, p);
    s.t.push_back(ti);
    s.x.push_back(float((p[0] + noise * e(rng)) * scale + shift));
    s.y.push_back(float((p[1] + noise * e(rng)) * scale + shift));
    s.z.push_back(float((p[2] + noise * e(rng)) * scale + shift));
  }
  return s;
}

// A curve with the other's degree and knots, control points zero.
Bspline* SameSpace(const Bspline* c) {
  Bspline* out = allocate_curve3(c->interiorU, c->degreeU);
  if (!out) return nullptr;
  std::copy(c->knotsU, c->knotsU + NumKnotsU(c), out->knotsU);
  out->umin = c->umin;
  out->umax = c->umax;
  return out;
}

double MaxCtrlDiff(const Bspline* a, const Bspline* b, double scale = 1.0, double shift = 0.0) {
  double worst = 0.0;
  for (int i = 0; i < NumCtrlU(a); ++i) {
    worst = std::max(worst, std::fabs(a->X[0][i] * scale + shift - b->X[0][i]));
    worst = std::max(worst, std::fabs(a->Y[0][i] * scale + shift - b->Y[0][i]));
    worst = std::max(worst, std::fabs(a->Z[0][i] * scale + shift - b->Z[0][i]));
  }
  return worst;
}

TEST_F(CurveFitTest, LeastSquaresResidualIsOrthogonalToEveryFreeBasisFunction) {
  BsplineKeeper keep;
  for (int degree : {1, 2, 3, 5}) {
    const Bspline* shape = keep(BuildRandomCurve(10 + degree, degree, 9));
    Samples s = SampleCurve(shape, 120, degree, 0.05);
    Bspline* fit = keep(SameSpace(shape));
    // Held: the first control point and the fourth.
    double held[2][3] = {{0.25, -0.5, 1.0}, {2.0, 1.0, -1.0}};
    int idx[2] = {0, 3};
    for (int f : {0, 2}) {
      ASSERT_EQ(Curve3LeastSqFit(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), s.n(), held,
                                 idx, f),
                0);
      // Gradient of sum |C(t_i) - p_i|^2 in the free control points: sum_i B_j(t_i) r_i = 0.
      const int nc = NumCtrlU(fit), nk = NumKnotsU(fit);
      for (int j = 0; j < nc; ++j) {
        if (f == 2 && (j == 0 || j == 3)) continue;
        double g[3] = {0, 0, 0}, size = 0.0;
        for (int i = 0; i < s.n(); ++i) {
          const double B = RefBasis(fit->knotsU, nk, j, degree, s.t[i]);
          double C[3];
          RefEvalCurve(fit, s.t[i], C);
          g[0] += B * (C[0] - s.x[i]);
          g[1] += B * (C[1] - s.y[i]);
          g[2] += B * (C[2] - s.z[i]);
          size += B;
        }
        for (double gc : g) EXPECT_NEAR(gc, 0.0, 1e-9 * std::max(size, 1.0)) << degree << " " << j;
      }
      if (f == 2) {
        for (int c = 0; c < 3; ++c) {
          double** rows[3] = {fit->X, fit->Y, fit->Z};
          EXPECT_EQ(rows[c][0][0], held[0][c]);
          EXPECT_EQ(rows[c][0][3], held[1][c]);
        }
      }
    }
  }
}

TEST_F(CurveFitTest, ShapesOfTheSplineSpaceComeBack) {
  BsplineKeeper keep;
  for (int degree : {2, 3, 4}) {
    const Bspline* shape = keep(BuildRandomCurve(3 + degree, degree, 8));
    Samples s = SampleCurve(shape, 1000, 7 * degree);
    Bspline* plain = keep(SameSpace(shape));
    ASSERT_EQ(Curve3LeastSqFit(plain, s.t.data(), s.x.data(), s.y.data(), s.z.data(), s.n(),
                               nullptr, nullptr, 0),
              0);
    EXPECT_LT(MaxCtrlDiff(shape, plain), 1e-5) << degree;  // float samples
    // Negligible energies and a data weight far above the polygon penalty's base.
    Bspline* smooth = keep(SameSpace(shape));
    ASSERT_EQ(FindAllCurveCoefi3(smooth, s.t.data(), s.x.data(), s.y.data(), s.z.data(), s.n(),
                                 nullptr, nullptr, 0, 1e12, 0.5, 1e-3),
              0);
    EXPECT_LT(MaxCtrlDiff(shape, smooth), 2e-3) << degree;  // the polygon penalty stays
  }
}

TEST_F(CurveFitTest, SmoothedFitScalesAndMovesWithItsPoints) {
  BsplineKeeper keep;
  const Bspline* shape = keep(BuildRandomCurve(21, 3, 10));
  Bspline* ref = keep(SameSpace(shape));
  Samples s = SampleCurve(shape, 200, 3, 0.02);
  double held[2][3] = {{s.x[0], s.y[0], s.z[0]}, {s.x[199], s.y[199], s.z[199]}};
  int idx[2] = {0, 9};
  ASSERT_EQ(FindAllCurveCoefi3(ref, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 200, held, idx,
                               2, 0.3, 0.7, 0.01),
            0);
  EXPECT_EQ(ref->X[0][0], held[0][0]);
  EXPECT_EQ(ref->Z[0][9], held[1][2]);
  // sigma is a length: scaled with the points, the fit scales with them.
  // (sigma below 1e-6 counts as no data weighting, so the smallest models compare at 1e-3.)
  for (double scale : {1e-3, 1e3, 1e6}) {
    for (double shift : {0.0, 5.0 * scale}) {
      Samples m = SampleCurve(shape, 200, 3, 0.02, scale, shift);
      Bspline* fit = keep(SameSpace(shape));
      double mh[2][3] = {{m.x[0], m.y[0], m.z[0]}, {m.x[199], m.y[199], m.z[199]}};
      ASSERT_EQ(FindAllCurveCoefi3(fit, m.t.data(), m.x.data(), m.y.data(), m.z.data(), 200, mh,
                                   idx, 2, 0.3, 0.7, 0.01 * scale),
                0);
      EXPECT_LT(MaxCtrlDiff(ref, fit, scale, shift), 1e-5 * scale) << scale << " " << shift;
    }
  }
}

TEST_F(CurveFitTest, EnergiesPullTowardsTheirShape) {
  BsplineKeeper keep;
  // Noisy points of a straight line: a stiff fit (roughness small) is nearly straight, a loose
  // one follows the noise; both energies can act alone (tension 1 or 0).
  const Bspline* line = keep(BuildCurve(1, 3, {0, 0, 0, 1, 1, 1}));
  Samples s = SampleCurve(line, 100, 4, 0.01);
  auto crookedness = [&](double roughness, double tension) {
    Bspline* fit = keep(allocate_curve3(8, 3));
    assign_uniform_curve_knots3(fit, 0, nullptr, nullptr);
    EXPECT_EQ(FindAllCurveCoefi3(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 100, nullptr,
                                 nullptr, 0, roughness, tension, 0.01),
              0);
    double worst = 0.0;  // control points off the line x = y = z
    for (int i = 0; i < NumCtrlU(fit); ++i) {
      const double m = (fit->X[0][i] + fit->Y[0][i] + fit->Z[0][i]) / 3.0;
      worst = std::max({worst, std::fabs(fit->X[0][i] - m), std::fabs(fit->Y[0][i] - m),
                        std::fabs(fit->Z[0][i] - m)});
    }
    return worst;
  };
  for (double tension : {0.0, 1.0}) EXPECT_LT(crookedness(1e-6, tension), 0.2 * crookedness(1e3, tension));
  // Roughness 0 or below would divide by zero: refused, the curve unchanged.
  Bspline* fit = keep(allocate_curve3(8, 3));
  assign_uniform_curve_knots3(fit, 0, nullptr, nullptr);
  fit->X[0][4] = 7.0;
  for (double r : {0.0, -1.0, double(NAN)})
    EXPECT_EQ(FindAllCurveCoefi3(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 100, nullptr,
                                 nullptr, 0, r, 0.5, 0.01),
              -2);
  EXPECT_EQ(fit->X[0][4], 7.0);
  // Fixed indices out of order or range, too few points.
  double v[2][3] = {};
  int bad[2] = {3, 3};
  EXPECT_EQ(FindAllCurveCoefi3(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 100, v, bad, 2,
                               0.3, 0.5, 0.01),
            -2);
  int outside[1] = {12};
  EXPECT_EQ(Curve3LeastSqFit(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 100, v, outside, 1), -2);
  EXPECT_EQ(Curve3LeastSqFit(fit, s.t.data(), s.x.data(), s.y.data(), s.z.data(), 1, nullptr, nullptr, 0), -2);
  // No point in the support of the middle control points: singular without the energies.
  std::vector<double> early(100, 0.01);
  EXPECT_EQ(Curve3LeastSqFit(fit, early.data(), s.x.data(), s.y.data(), s.z.data(), 100, nullptr,
                             nullptr, 0),
            -2);
}

TEST_F(CurveFitTest, PolygonPenaltyIsTheSumOfWeightedLegs) {
  for (int N : {1, 2, 3, 7}) {
    const int width = 4;
    double** P = allocate_matrix_ff(N, width);
    std::vector<double> w(N), c(N);
    std::mt19937 rng(N);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int j = 0; j < N; ++j) {
      w[j] = u(rng) + 1.5;
      c[j] = u(rng);
      for (int k = 0; k < width; ++k) P[j][k] = 9.0;  // must be cleared
    }
    ASSERT_EQ(ComputeCurvePanaltyMat(P, N, width, w.data()), 0);
    double form = 0.0, legs = 0.0;
    for (int i = 0; i < N; ++i)
      for (int k = 0; k < width && i + k < N; ++k) form += (k == 0 ? 1.0 : 2.0) * P[i][k] * c[i] * c[i + k];
    for (int j = 1; j + 1 < N; ++j)
      legs += w[j] * ((c[j - 1] - c[j]) * (c[j - 1] - c[j]) + (c[j] - c[j + 1]) * (c[j] - c[j + 1]));
    EXPECT_NEAR(form, legs, 1e-12) << N;
    matrix_free_ff(P);
  }
  EXPECT_EQ(ComputeCurvePanaltyMat(nullptr, 3, 2, nullptr), -2);
}

TEST_F(CurveFitTest, UniformKnotsAndChordParameters) {
  BsplineKeeper keep;
  Bspline* c = keep(allocate_curve3(4, 3));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->X[0][7], 0.0);
  double lo, hi;
  assign_uniform_curve_knots3(c, 0, &lo, &hi);
  const double open[] = {0, 0, 0, 0, 0.2, 0.4, 0.6, 0.8, 1, 1, 1, 1};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(c->knotsU[i], open[i], 1e-15);
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 1.0);
  Bspline* w = keep(allocate_curve3(7, 3));
  assign_uniform_curve_knots3(w, 3, &lo, &hi);
  EXPECT_EQ(lo, -1.5);
  EXPECT_EQ(hi, 2.5);
  EXPECT_EQ(w->knotsU[3 + 3], 0.0);  // the middle spans cover [0, 1]
  EXPECT_EQ(w->knotsU[3 + 5], 1.0);
  EXPECT_EQ(allocate_curve3(-1, 3), nullptr);
  const float x[3] = {1, 1, 1}, y[3] = {2, 2, 2}, z[3] = {3, 3, 3};
  double t[3];
  EXPECT_EQ(normalize_tarray3(x, y, z, 3, t), 0.0);
  EXPECT_EQ(t[1], 1e-10);
  const int failed = RunMakerWithInjectedFailures(30, 1, [](Bspline** out) {
    *out = allocate_curve3(5, 3);
    return *out ? 0 : -2;
  });
  EXPECT_GT(failed, 2);
  EXPECT_LT(failed, 30);
}

TEST_F(CurveFitTest, ProjectionMovesParametersToTheClosestPoints) {
  BsplineKeeper keep;
  Bspline* shape = keep(BuildRandomCurve(5, 3, 7));
  Samples s = SampleCurve(shape, 50, 9);
  std::vector<double> t(s.t), d(50);
  for (double& v : t) v = std::clamp(v + 0.01, 0.0, 1.0);  // off by a little
  ASSERT_EQ(PointCurve3Diff(shape, t.data(), s.x.data(), s.y.data(), s.z.data(), 50, d.data()), 0);
  for (int i = 0; i < 50; ++i) {
    EXPECT_LT(d[i], 1e-12) << i;
    double C[3];
    RefEvalCurve(shape, t[i], C);
    EXPECT_NEAR(C[0], s.x[i], 1e-6);
  }
  EXPECT_EQ(PointCurve3Diff(shape, t.data(), s.x.data(), s.y.data(), s.z.data(), -1, d.data()), -2);
}

// Tangent and curvature vectors on both sides of a closed curve's seam.
void SeamDerivatives(const Bspline* c, double d1[2][3], double d2[2][3]) {
  RefEvalDeriv(c, c->umin, 0, 1, 0, d1[0]);
  RefEvalDeriv(c, c->umax, 0, 1, 0, d1[1]);
  RefEvalDeriv(c, c->umin, 0, 2, 0, d2[0]);
  RefEvalDeriv(c, c->umax, 0, 2, 0, d2[1]);
}

TEST_F(CurveFitTest, ClosingTheSeamMatchesDerivatives) {
  BsplineKeeper keep;
  for (int nCtrl : {4, 5, 9}) {
    for (KnotLayout layout : {KnotLayout::Uniform, KnotLayout::Random}) {
      Bspline* c = keep(BuildRandomCurve(nCtrl, 3, nCtrl, 3, false, layout));
      c->X[0][nCtrl - 1] = c->X[0][0];
      c->Y[0][nCtrl - 1] = c->Y[0][0];
      c->Z[0][nCtrl - 1] = c->Z[0][0];
      ASSERT_EQ(CloseCurve(c, 2), 0);
      double d1[2][3], d2[2][3];
      SeamDerivatives(c, d1, d2);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(d1[0][k], d1[1][k], 1e-9 * (1 + std::fabs(d1[0][k]))) << nCtrl;
        EXPECT_NEAR(d2[0][k], d2[1][k], 1e-9 * (1 + std::fabs(d2[0][k]))) << nCtrl;
      }
    }
  }
  // Mode 1 moves each inner point halfway to where tangent continuity would put it with the
  // other held; the two half steps together make the tangents agree, with any end spans.
  Bspline* c = keep(BuildRandomCurve(3, 3, 7, 3, false, KnotLayout::Random));
  for (double** row : {c->X, c->Y, c->Z}) row[0][6] = row[0][0];
  const double p1 = c->X[0][1], p5 = c->X[0][5], p0 = c->X[0][0];
  const double r = (c->knotsU[4] - c->knotsU[3]) / (c->knotsU[7] - c->knotsU[6]);
  ASSERT_EQ(CloseCurve(c, 1), 0);
  EXPECT_NEAR(c->X[0][1], (p1 + (1 + r) * p0 - r * p5) / 2, 1e-12);
  double d1[2][3], d2[2][3];
  SeamDerivatives(c, d1, d2);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(d1[0][k], d1[1][k], 1e-9 * (1 + std::fabs(d1[0][k])));
  const double x2 = c->X[0][2];
  EXPECT_EQ(CloseCurve(c, 0), 0);
  EXPECT_EQ(c->X[0][2], x2);
  EXPECT_EQ(CloseCurve(c, 3), -2);
  EXPECT_EQ(CloseCurve(keep(BuildRandomCurve(2, 2, 3)), 2), -2);  // P(N-3) would be P0
  EXPECT_EQ(CloseCurve(keep(BuildRandomCurve(2, 1, 2)), 1), -2);
  EXPECT_EQ(CloseCurve(keep(BuildRandomCurve(2, 2, 5, 3, true)), 1), -2);  // rational
}

Cloud* CloudOf(const Samples& s) { return MakeCld(s.x.data(), s.y.data(), s.z.data(), s.n(), nullptr); }

TEST_F(CurveFitTest, GivenBreakFitFollowsItsCloud) {
  BsplineKeeper keep;
  // Samples of a cubic on breaks 2, 2.5, 3.5, 4 (mapped to [0, 1]).
  std::vector<double> knots = {0, 0, 0, 0, 0.25, 0.75, 1, 1, 1, 1};
  const Bspline* shape = keep(BuildCurve(3, 3, {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 1, 0, 4, 0, 1, 5, 1, 1}, knots));
  Samples s = SampleCurve(shape, 200, 5);
  Owned<Cloud, FreeCloud> cloud(CloudOf(s));
  double breaks[4] = {2.0, 2.5, 3.5, 4.0};
  std::vector<double> t(200), first(200);
  Bspline* once = keep(FitCurveBsplineGivenKnots_Host(cloud.get(), breaks, 4, first.data(), 3, 0, 0));
  Bspline* fit = keep(FitCurveBsplineWithGivenKnots(cloud.get(), breaks, 4, t.data(), 3, 0));
  ASSERT_NE(once, nullptr);
  ASSERT_NE(fit, nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(fit->knotsU[i], knots[i], 1e-15);
  EXPECT_EQ(fit->X[0][0], s.x[0]);
  EXPECT_EQ(fit->Z[0][5], s.z[199]);
  // Fitting and projecting both lower the sum of squared distances: the corrected fit lies on
  // its cloud better than the fit on chord-length parameters.
  std::vector<double> d(200), par(200);
  auto sumSq = [&](Bspline* c) {
    EXPECT_EQ(RecordCurveBsplineCloudDiff(c, cloud.get(), d.data(), par.data()), 0);
    double sum = 0.0;
    for (double v : d) sum += v;
    return sum;
  };
  EXPECT_LT(sumSq(fit), 0.7 * sumSq(once));
  EXPECT_EQ(t[0], 0.0);
  EXPECT_EQ(t[199], 1.0);
  for (double v : t) EXPECT_TRUE(v >= 0.0 && v <= 1.0);
  // Two breaks: one Bezier span of the degree.
  Bspline* bez = keep(FitCurveBsplineWithGivenKnots(cloud.get(), breaks, 2, t.data(), 4, 0));
  ASSERT_NE(bez, nullptr);
  EXPECT_EQ(bez->interiorU, 0);
  EXPECT_EQ(NumCtrlU(bez), 5);
  // Bad break lists and clouds.
  double down[3] = {1, 0, 2}, same[2] = {1, 1}, quad[5] = {0, 1, 1, 1, 2};
  EXPECT_EQ(FitCurveBsplineWithGivenKnots(cloud.get(), down, 3, t.data(), 3, 0), nullptr);
  EXPECT_EQ(FitCurveBsplineWithGivenKnots(cloud.get(), same, 2, t.data(), 3, 0), nullptr);
  EXPECT_EQ(FitCurveBsplineWithGivenKnots(cloud.get(), quad, 5, t.data(), 2, 0), nullptr);
  EXPECT_EQ(FitCurveBsplineWithGivenKnots(cloud.get(), breaks, 4, t.data(), 0, 0), nullptr);
}

TEST_F(CurveFitTest, GivenBreakFitIsTheSameAtEverySize) {
  // The global weights are those of unit size: the same points at any size and place give the
  // unit fit scaled and moved with them, open and closed, and lie as close to it.
  BsplineKeeper keep;
  std::vector<double> knots = {0, 0, 0, 0, 0.25, 0.75, 1, 1, 1, 1};
  const Bspline* shape = keep(BuildCurve(3, 3, {0, 0, 0, 1, 2, 0, 2, -1, 1, 3, 1, 0, 4, 0, 1, 5, 1, 1}, knots));
  double breaks[6] = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0};
  for (int closed : {0, 1}) {
    Samples u = SampleCurve(shape, 300, 9);
    Owned<Cloud, FreeCloud> unitCloud(CloudOf(u));
    std::vector<double> t(301), d(301), par(301);
    Bspline* ref = keep(FitCurveBsplineWithGivenKnots(unitCloud.get(), breaks, 6, t.data(), 3, closed));
    ASSERT_NE(ref, nullptr);
    auto worstDistance = [&](Bspline* c, Cloud* cl) {
      EXPECT_EQ(RecordCurveBsplineCloudDiff(c, cl, d.data(), par.data()), 0);
      double worst = 0.0;
      for (int i = 0; i < cl->npts; ++i) worst = std::max(worst, std::sqrt(d[i]));
      return worst;
    };
    const double atUnit = worstDistance(ref, unitCloud.get());
    // The default weights smooth: the open fit of a shape five units long stays within 2.5% of
    // that length of its points.
    if (!closed) {
      EXPECT_LT(atUnit, 0.125);
    }
    for (double scale : {1e-6, 1e-3, 1e3, 1e6}) {
      Samples m = SampleCurve(shape, 300, 9, 0.0, scale, 2.0 * scale);
      Owned<Cloud, FreeCloud> cloud(CloudOf(m));
      Bspline* fit = keep(FitCurveBsplineWithGivenKnots(cloud.get(), breaks, 6, t.data(), 3, closed));
      ASSERT_NE(fit, nullptr) << scale;
      EXPECT_LT(MaxCtrlDiff(ref, fit, scale, 2.0 * scale), 1e-4 * scale) << scale << " " << closed;
      EXPECT_NEAR(worstDistance(fit, cloud.get()) / scale, atUnit, 1e-4) << scale << " " << closed;
      // The held ends are the cloud's end points themselves.
      EXPECT_EQ(fit->X[0][0], m.x[0]);
      if (!closed) {
        EXPECT_EQ(fit->Z[0][NumCtrlU(fit) - 1], m.z[299]);
      }
    }
  }
}

TEST_F(CurveFitTest, ClosedGivenBreakFitHasASmoothSeam) {
  BsplineKeeper keep;
  // A noisy closed space curve, its last point short of the first: the fit runs on the closed
  // copy (one point more).
  const int n = 120;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    x[i] = float(1.2 * std::cos(a) + 0.002 * std::sin(17.0 * i));
    y[i] = float(std::sin(a));
    z[i] = float(0.3 * std::sin(2 * a));
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(x.data(), y.data(), z.data(), n, nullptr));
  std::vector<double> breaks = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, t(n + 1);
  Bspline* fit = keep(FitCurveBsplineWithGivenKnots(cloud.get(), breaks.data(), 13, t.data(), 3, 1));
  ASSERT_NE(fit, nullptr);
  EXPECT_EQ(cloud->npts, n);  // the caller's cloud is not closed in place
  double a[3], b[3];
  RefEvalCurve(fit, fit->umin, a);
  RefEvalCurve(fit, fit->umax, b);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_EQ(a[2], b[2]);
  double d1[2][3], d2[2][3];
  SeamDerivatives(fit, d1, d2);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(d1[0][k], d1[1][k], 1e-9 * (1 + std::fabs(d1[0][k])));
    EXPECT_NEAR(d2[0][k], d2[1][k], 1e-8 * (1 + std::fabs(d2[0][k])));
  }
  double worstParam, worstSq;
  int worstIndex;
  ASSERT_EQ(FindCurveBsplineCloudMaxDiff(fit, cloud.get(), &worstParam, &worstSq, &worstIndex), 0);
  EXPECT_LT(std::sqrt(worstSq), 0.01);
  // Every allocation failing in turn: null, nothing left behind.
  const int failures = RunMakerWithInjectedFailures(400, 7, [&](Bspline** out) {
    *out = FitCurveBsplineWithGivenKnots(cloud.get(), breaks.data(), 13, t.data(), 3, 1);
    return *out ? 0 : -2;
  });
  EXPECT_GT(failures, 10);
}

}  // namespace
