// The other forms of the evaluators: single precision outputs against the double ones, rational
// 2D curves against the projective quotient of a homogeneous reference, the partial
// re-evaluation of edit and plot records against the full grid, and the several-request
// surface forms against single requests.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "intersect/cntrlpt.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/kernel_fixture.h"

namespace {

class EvalForms : public KernelTest {};

double Wavy(double x, double y) { return std::sin(3 * x) * std::cos(2 * y) + 0.3 * x * y; }

// A float result is the double one to single precision: within a few units of the last place
// of the value's scale.
void ExpectFloatOf(float f, double d, double scale, const char* what, int at) {
  EXPECT_NEAR(f, d, 4.0 * 1.2e-7 * std::max(scale, std::fabs(d))) << what << " at " << at;
}

// A rational 2D curve (u, v, weights random) on a surface, and the non-rational 3D curve whose
// control points are its homogeneous ones (w u, w v, w): the 2D curve is that curve's central
// projection.
struct Rational2D {
  Bspline* surface;
  Bspline* curve;
  Bspline* homogeneous;
};

Rational2D BuildRational2D(BsplineKeeper& keep, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> in(0.05, 0.95), weight(0.5, 2.0);
  const int n = 7;
  std::vector<double> uv(2 * n), w(n), h(3 * n);
  for (int i = 0; i < n; ++i) {
    uv[2 * i] = in(rng), uv[2 * i + 1] = in(rng), w[i] = weight(rng);
    h[3 * i] = w[i] * uv[2 * i], h[3 * i + 1] = w[i] * uv[2 * i + 1], h[3 * i + 2] = w[i];
  }
  const std::vector<double> knots = ClampedKnots(3, n, 0.0, 1.0, KnotLayout::Random, seed);
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.layout = KnotLayout::Random, .rational = true}));
  return {s, BuildCurveOnSurface(s, 3, uv, knots, w), keep(BuildCurve(3, 3, h, knots))};
}

TEST_F(EvalForms, Rational2DCurvesAreTheQuotientOfTheirHomogeneousCurve) {
  BsplineKeeper keep;
  const Rational2D r = BuildRational2D(keep, 3);
  const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
  for (double t : {0.0, 0.13, 0.5, 0.77, 1.0}) {
    double H[4][3];
    for (int d = 0; d <= 3; ++d) {
      // Homogeneous values (u w, v w, w) and their derivatives, at every order.
      RefEvalDeriv(r.homogeneous, t, 0.0, d, 0, H[d]);
      double got[3];
      Eval3DPointOnRCurve2Array(r.curve, t, d, GetEvalType(1, d), got);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], H[d][k], 1e-12 * 8) << t << " order " << d;
    }
    // Cartesian: the quotient, and its derivatives by the quotient rule written out.
    const double W = H[0][2];
    double C[3][2];
    for (int k = 0; k < 2; ++k) {
      C[0][k] = H[0][k] / W;
      C[1][k] = (H[1][k] - H[1][2] * C[0][k]) / W;
      C[2][k] = (H[2][k] - 2 * H[1][2] * C[1][k] - H[2][2] * C[0][k]) / W;
    }
    double requests[3][3];
    ASSERT_EQ(EvalPointOnGeometryM(r.curve, t, 0.0, du, dv, 3, 0, requests), 0);
    for (int d = 0; d <= 2; ++d) {
      double uv[2];
      Eval2DPointOnCurve2Array(nullptr, r.curve, t, d, uv);
      for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR(uv[k], C[d][k], 1e-11 * (1 + std::fabs(C[d][k]))) << t << " order " << d;
        EXPECT_NEAR(requests[d][k], C[d][k], 1e-11 * (1 + std::fabs(C[d][k]))) << t << d;
      }
      EXPECT_EQ(requests[d][2], 0.0);
    }
    // Mapped through the surface, the basis-derivative requests and the chain rule of the
    // curve-on-surface evaluator are two computations of one thing.
    ASSERT_EQ(EvalPointOnGeometryM(r.curve, t, 0.0, du, dv, 3, 1, requests), 0);
    for (int d = 0; d <= 2; ++d) {
      double chain[3];
      EvalCrvOnSrfArray(r.surface, r.curve, t, d, chain);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(requests[d][k], chain[k], 1e-9 * (1 + std::fabs(chain[k])));
    }
  }
  // Evenly spaced, homogeneous: weights in the third array, in double and in float.
  const int n = 9;
  double u[2 * n], v[2 * n], w[2 * n];
  float fu[2 * n], fv[2 * n], fw[2 * n];
  for (int d : {0, 1})
    for (int segments : {0, 1}) {
      ASSERT_EQ(Eval3DNpntsOnRCurve2Array(r.curve, segments, d, n, u, v, w), 0);
      ASSERT_EQ(Eval3DNpntsOnRCurve2Array_f(r.curve, segments, d, n, fu, fv, fw), 0);
      for (int slot = 0; slot < (segments ? 2 * n - 2 : n); ++slot) {
        const int i = segments ? (slot + 1) / 2 : slot;
        double H[3];
        RefEvalDeriv(r.homogeneous, i / double(n - 1), 0.0, d, 0, H);
        EXPECT_NEAR(u[slot], H[0], 1e-11);
        EXPECT_NEAR(v[slot], H[1], 1e-11);
        EXPECT_NEAR(w[slot], H[2], 1e-11);
        ExpectFloatOf(fu[slot], u[slot], 1.0, "u", slot);
        ExpectFloatOf(fw[slot], w[slot], 1.0, "w", slot);
      }
    }
}

// Each single precision evaluator gives its double counterpart's values to float precision,
// on rational and non-rational objects: runs of curve points (segments or not, derivatives),
// 2D curves in the parameter plane and in space, grids, surface points.
TEST_F(EvalForms, FloatOutputsAreTheDoubleOnesToSinglePrecision) {
  BsplineKeeper keep;
  const int n = 7;
  const double us[5] = {0.9, 0.0, 0.31, 1.0, 0.5}, vs[4] = {0.2, 1.0, 0.0, 0.64};
  for (bool rational : {false, true}) {
    Bspline* c = keep(BuildRandomCurve(rational ? 5 : 6, 3, 8, 3, rational));
    const double scale = RefScale(c);
    for (int d : {0, 1, 2})
      for (int segments : {0, 1}) {
        const int slots = segments ? 2 * n - 2 : n;
        double x[2 * n], y[2 * n], z[2 * n], w[2 * n];
        float fx[2 * n], fy[2 * n], fz[2 * n], fw[2 * n];
        ASSERT_EQ(Eval4DNpntsOnRCurve3Array(c, segments, d, n, x, y, z, w), 0);
        ASSERT_EQ(Eval4DNpntsOnRCurve3Array_f(c, segments, d, n, fx, fy, fz, fw), 0);
        for (int s = 0; s < slots; ++s) {
          ExpectFloatOf(fx[s], x[s], scale, "4D x", s);
          ExpectFloatOf(fz[s], z[s], scale, "4D z", s);
          ExpectFloatOf(fw[s], w[s], scale, "4D w", s);
        }
        // Cartesian runs are the single-point evaluator at the evenly spaced parameters.
        ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, segments, d, n, fx, fy, fz), 0);
        for (int s = 0; s < slots; ++s) {
          double p[3];
          Eval3DPointOnCurve3Array(c, (segments ? (s + 1) / 2 : s) / double(n - 1), d, p);
          ExpectFloatOf(fx[s], p[0], 10 * scale, "3D x", s);
          ExpectFloatOf(fy[s], p[1], 10 * scale, "3D y", s);
          ExpectFloatOf(fz[s], p[2], 10 * scale, "3D z", s);
        }
      }

    PatchOptions o{3, 2, 7, 6};
    o.layout = KnotLayout::Random, o.rational = rational, o.seed = 4;
    Bspline* srf = keep(BuildFunctionPatch(Wavy, o));
    double x[20], y[20], z[20], w[20];
    float fx[20], fy[20], fz[20], fw[20];
    ASSERT_EQ(Eval3DGridOnBsplArray(srf, us, 5, vs, 4, x, y, z), 0);
    ASSERT_EQ(Eval3DGridOnBsplArray_f(srf, us, 5, vs, 4, fx, fy, fz), 0);
    for (int g = 0; g < 20; ++g) {
      ExpectFloatOf(fx[g], x[g], 1.0, "grid x", g);
      ExpectFloatOf(fz[g], z[g], 1.0, "grid z", g);
      double p[3], pf[3];
      Eval3DPointOnSurfCoord(srf, us[g % 5], vs[g / 5], 1, 1, p);
      Eval3DPointOnSurfCoord_f(srf, us[g % 5], vs[g / 5], 1, 1, pf);
      for (int k = 0; k < 3; ++k) ExpectFloatOf(static_cast<float>(pf[k]), p[k], 1.0, "point", g);
    }
    ASSERT_EQ(Eval4DGridOnRBsplArray(srf, us, 5, vs, 4, w, x, y, z), 0);
    ASSERT_EQ(Eval4DGridOnRBsplArray_f(srf, us, 5, vs, 4, fw, fx, fy, fz), 0);
    for (int g = 0; g < 20; ++g) {
      ExpectFloatOf(fy[g], y[g], 1.0, "4D grid y", g);
      ExpectFloatOf(fw[g], w[g], 1.0, "4D grid w", g);
    }

    // A 2D curve whose ends leave the domain: parameter-plane positions are clamped into it.
    Bspline* c2 = BuildCurveOnSurface(srf, 3, {-0.2, 0.1, 0.3, 0.8, 0.6, 0.2, 1.1, 0.9},
                                      {}, rational ? std::vector<double>{1, 2, 0.5, 1} : std::vector<double>{});
    float fu[n], fv[n];
    ASSERT_EQ(Eval2DNpntsOnCurve2Array_f(srf, c2, 0, 0, n, fu, fv), 0);
    for (int i = 0; i < n; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(srf, c2, i / double(n - 1), 0, uv);
      EXPECT_TRUE(uv[0] >= 0.0 && uv[0] <= 1.0 && uv[1] >= 0.0 && uv[1] <= 1.0) << i;
      ExpectFloatOf(fu[i], uv[0], 1.0, "uv u", i);
      ExpectFloatOf(fv[i], uv[1], 1.0, "uv v", i);
    }
    for (int d : {0, 1}) {
      ASSERT_EQ(Eval3DNpntsOnBsplOnSurfArray_f(srf, c2, 0, d, n, fx, fy, fz), 0);
      for (int i = 0; i < n; ++i) {
        double p[3];
        EvalCrvOnSrfArray(srf, c2, i / double(n - 1), d, p);
        ExpectFloatOf(fx[i], p[0], 10.0, "on surface x", i);
        ExpectFloatOf(fz[i], p[2], 10.0, "on surface z", i);
      }
    }
    fx[0] = 5.0f;
    EXPECT_EQ(Eval3DNpntsOnBsplOnSurfArray_f(srf, c2, 0, 2, n, fx, fy, fz), -2);
    EXPECT_EQ(fx[0], 5.0f);
  }
  EXPECT_NE(Messages().find("Currently Unavailable"), std::string::npos);
}

// The tables of an edit or plot record: the grid values first, then the extra or needle
// values (the edit record's extra pairs, then its trailing values).
struct Tables {
  Owned<double, Free> u, v;
  Owned<int, Free> uSpans, vSpans;
};

// Partial re-evaluation writes, for each listed point, exactly what the full grid over the
// same parameter tables holds at that point; unlisted kinds of points leave their slots alone.
TEST_F(EvalForms, PartialGridsEqualTheFullGridAtTheirIndices) {
  BsplineKeeper keep;
  // 5 x 4 grid values, 2 extra pairs, 2 trailing values: 9 u and 8 v table entries.
  const double U[9] = {0.0, 0.2, 0.45, 0.7, 1.0, 0.33, 0.81, 0.12, 0.96};
  const double V[8] = {0.0, 0.3, 0.6, 1.0, 0.52, 0.07, 0.44, 0.9};
  for (bool rational : {false, true}) {
    PatchOptions o{3, 2, 7, 5};
    o.layout = KnotLayout::Random, o.rational = rational, o.seed = 9;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    Tables t;
    const int all[3] = {0, 1, 2};
    ASSERT_EQ(EvalNubValsOnGridM(s, U, V, 9, 8, all, all, 3, t.u.receive(), t.v.receive(), t.uSpans.receive(), t.vSpans.receive()), 0);
    for (auto [du, dv] : {std::pair{0, 0}, {1, 0}, {0, 2}, {1, 1}}) {
      // The full grid of this request over all 9 x 8 table entries.
      double** full = allocate_matrix_ff(72, 3);
      const int ru[1] = {du}, rv[1] = {dv};
      ASSERT_EQ(EvalGridOnGeometryGivenNubValsM(s, 9, 8, ru, rv, 1, t.u.get(), t.v.get(), t.uSpans.get(), t.vSpans.get(),
                                                0, full), 0);
      auto at = [&](int i, int j) { return full[j * 9 + i]; };
      // The table form equals the grid from parameters.
      double** fromParams = allocate_matrix_ff(72, 3);
      ASSERT_EQ(EvalGridOnGeometryM(s, U, V, 9, 8, ru, rv, 1, 0, fromParams), 0);
      for (int g = 0; g < 72; ++g)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(fromParams[g][k], full[g][k]);
      matrix_free_ff(fromParams);

      int inside[4] = {0, 7, 13, 19}, extra[1] = {1};
      SurfEditStruct rec{};
      rec.inside = inside, rec.insideCount = 4, rec.extraInside = extra, rec.extraInsideCount = 1;
      rec.trailingCount = 2, rec.uBasis = t.u.get(), rec.vBasis = t.v.get(), rec.uSpans = t.uSpans.get();
      rec.vSpans = t.vSpans.get(), rec.nuGrid = 5, rec.nvGrid = 4, rec.extraPairs = 2;
      double x[7], y[7], z[7];
      ASSERT_EQ(EvalPartialBsplineGridIndices_d(s, &rec, du, dv, x, y, z, 7), 0);
      std::vector<const double*> expect;
      for (int g : inside) expect.push_back(at(g % 5, g / 5));
      expect.push_back(at(5 + 1, 4 + 1));                     // extra pair 1
      for (int r = 0; r < 2; ++r) expect.push_back(at(7 + r, 6 + r));  // trailing values
      for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(x[k], expect[k][0]) << du << dv << " slot " << k;
        EXPECT_EQ(y[k], expect[k][1]) << du << dv << " slot " << k;
        EXPECT_EQ(z[k], expect[k][2]) << du << dv << " slot " << k;
      }
      // Single precision into the record's own arrays, the grid points only.
      float fx[7], fy[7], fz[7];
      for (float* f : {fx, fy, fz}) std::fill(f, f + 7, -7.0f);
      rec.x = fx, rec.y = fy, rec.z = fz;
      ASSERT_EQ(EvalPartialBsplineGridIndices(s, &rec, du, dv, nullptr, nullptr, nullptr, 1), 0);
      for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(fx[k], k < 4 ? static_cast<float>(expect[k][0]) : -7.0f) << k;
        EXPECT_EQ(fz[k], k < 4 ? static_cast<float>(expect[k][2]) : -7.0f) << k;
      }

      // A plot record: grid width 5, needle entries at table positions 5 + i and 4 + i; a
      // needle index at or past the limit is skipped and its slot left alone.
      int gridIdx[3] = {2, 11, 19}, needles[3] = {0, 3, 1};
      PlotEditStruct plot{};
      plot.gridIdx = gridIdx, plot.gridCount = 3, plot.needleIdx = needles, plot.needleCount = 3;
      plot.uBasis = t.u.get(), plot.vBasis = t.v.get(), plot.uSpan = t.uSpans.get(), plot.vSpan = t.vSpans.get();
      plot.uOffset = 5, plot.vOffset = 4, plot.needleLimit = 3;
      for (float* f : {fx, fy, fz}) std::fill(f, f + 7, -7.0f);
      ASSERT_EQ(EvalPartialPlotIndices(s, &plot, du, dv, fx, fy, fz, 3), 0);
      const double* want[6] = {at(2, 0), at(1, 2), at(4, 3), at(5, 4), nullptr, at(6, 5)};
      for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(fx[k], want[k] ? static_cast<float>(want[k][0]) : -7.0f) << "plot " << k;
        EXPECT_EQ(fy[k], want[k] ? static_cast<float>(want[k][1]) : -7.0f) << "plot " << k;
      }
      matrix_free_ff(full);
    }
    // Orders beyond the tables are refused with nothing written.
    SurfEditStruct rec{};
    double x[1] = {3.0}, y[1], z[1];
    EXPECT_EQ(EvalPartialBsplineGridIndices_d(s, &rec, 2, 1, x, y, z, 7), -2);
    PlotEditStruct plot{};
    float fx[1] = {3.0f}, fy[1], fz[1];
    EXPECT_EQ(EvalPartialPlotIndices(s, &plot, 3, 0, fx, fy, fz, 3), -2);
    EXPECT_TRUE(x[0] == 3.0 && fx[0] == 3.0f);
  }
}

// Several requests at once give what the requests give one at a time, and the rational
// table evaluators' cross form (mixed orders) and direct form (one direction) agree with the
// reference derivatives.
TEST_F(EvalForms, SeveralRequestsEqualSingleRequests) {
  BsplineKeeper keep;
  for (bool rational : {false, true}) {
    PatchOptions o{3, 2, 6, 5};
    o.layout = KnotLayout::Random, o.rational = rational, o.seed = 21;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    for (auto [u, v] : {std::pair{0.0, 0.0}, {0.37, 0.81}, {1.0, 0.5}}) {
      for (int mask = 1; mask < 8; ++mask) {
        const int flags[3] = {mask & 1, mask & 2, mask & 4};
        double m3[3][3] = {}, m4[3][3] = {};
        Eval3DPointOnSurfArrayM(s, u, v, flags, m3);
        Eval4DPointOnRSurfArrayM(s, u, v, flags, rational ? 0 : 1, m4);
        for (int r = 0; r < 3; ++r) {
          if (!flags[r]) continue;
          double one[3];
          Eval3DPointOnSurfArray(s, u, v, r == 1, r == 2, one);
          for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(m3[r][k], one[k], 1e-12 * (1 + std::fabs(one[k]))) << mask << r;
            EXPECT_NEAR(m4[r][k], one[k], 1e-12 * (1 + std::fabs(one[k]))) << mask << r;
          }
        }
      }
      // The whole-table forms of the rational quotient: every order up to 2 in each direction.
      int su = s->degreeU, sv = s->degreeV;
      double tu[3 * 4], tv[3 * 3];
      const int all[3] = {0, 1, 2};
      ComputeNubValDerivativesM(s->knotsU, u, NumKnotsU(s), s->degreeU, all, 3, &su, tu);
      ComputeNubValDerivativesM(s->knotsV, v, NumKnotsV(s), s->degreeV, all, 3, &sv, tv);
      if (!rational) continue;
      for (int du = 0; du <= 2; ++du)
        for (int dv = 0; dv <= 2; ++dv) {
          double a[3], b[3], c[3], ref[3];
          RefEvalDeriv(s, u, v, du, dv, ref);
          ASSERT_EQ(EvalPointOnRBspline(s, tu, tv, su, sv, du, dv, a), 0);
          ASSERT_EQ(EvalPointCrossDiffOnRBspline(s, tu, tv, su, sv, du, dv, b), 0);
          ASSERT_EQ(EvalPointDirectDiffOnRBspline(s, tu, tv, su, sv, du, dv, c), 0);
          for (int k = 0; k < 3; ++k) {
            const double tol = 1e-9 * (1 + std::fabs(ref[k]));
            EXPECT_NEAR(a[k], ref[k], tol) << du << dv;
            EXPECT_NEAR(b[k], ref[k], tol) << du << dv;
            // Regression: a mixed request to the direct form gave the pure u derivative.
            EXPECT_NEAR(c[k], ref[k], tol) << du << dv;
          }
        }
      double untouched[3] = {6, 6, 6};
      EXPECT_EQ(EvalPointOnRBspline(s, tu, tv, su, sv, 3, 0, untouched), -2);
      EXPECT_EQ(untouched[0], 6.0);
    }
  }
}

// On a surface of u degree 3 the requests of one v order share the window's column sums: each
// request of a batch is that request alone, to the bit, in its slot (the whole-table form gives
// a request above second order in total no slot), and the reference derivative.
TEST_F(EvalForms, BatchedRequestsAreEachRequestAloneToTheBit) {
  BsplineKeeper keep;
  const int du[7] = {1, 0, 0, 2, 1, 2, 0}, dv[7] = {0, 2, 0, 0, 1, 1, 1};
  const int all[3] = {0, 1, 2};
  for (int q : {1, 2, 3, 5}) {
    PatchOptions o{3, q, 7, q + 4};
    o.layout = KnotLayout::Random, o.seed = 30u + q;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    for (auto [u, v] : {std::pair{0.0, 1.0}, {0.41, 0.23}, {1.0, 0.77}}) {
      double many[7][3], given[7][3], tu[3 * 4], tv[3 * 6];
      ASSERT_EQ(EvalPointOnGeometryM(s, u, v, du, dv, 7, 0, many), 0);
      int su = 3, sv = q;
      ComputeNubValDerivativesM(s->knotsU, u, NumKnotsU(s), 3, all, 3, &su, tu);
      ComputeNubValDerivativesM(s->knotsV, v, NumKnotsV(s), q, all, 3, &sv, tv);
      EvalPointOnGeometryGivenNubValsM(s, du, dv, 7, tu, tv, su, sv, 0, given);
      for (int k = 0, slot = 0; k < 7; ++k) {
        double one[1][3], ref[3];
        ASSERT_EQ(EvalPointOnGeometryM(s, u, v, du + k, dv + k, 1, 0, one), 0);
        RefEvalDeriv(s, u, v, du[k], dv[k], ref);
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(many[k][c], one[0][c]) << q << " " << k;
          EXPECT_NEAR(one[0][c], ref[c], 1e-10 * (1 + std::fabs(ref[c]))) << q << " " << k;
        }
        if (du[k] + dv[k] > 2) continue;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(given[slot][c], one[0][c]) << q << " " << k;
        ++slot;
      }
    }
  }
}

// The dispatchers over an object's kind and the forms returning their output pointer give what
// the evaluator of that kind gives; the rational-derivative runs in float are the reference
// derivatives to single precision, the cross form only for first orders.
TEST_F(EvalForms, DispatchersAndPointerFormsAreTheirEvaluators) {
  BsplineKeeper keep;
  PatchOptions o{3, 2, 6, 5};
  o.layout = KnotLayout::Random, o.rational = true, o.seed = 31;
  Bspline* s = keep(BuildFunctionPatch(Wavy, o));
  Bspline* c3 = keep(BuildRandomCurve(32, 3, 7, 3, true));
  Bspline* c2 = BuildCurveOnSurface(s, 2, {0.1, 0.2, 0.6, 0.1, 1.2, 0.8, 0.3, 0.9});
  const int n = 4;
  const double us[n] = {0.0, 0.35, 0.8, 1.0}, vs[n] = {0.5, 0.05, 0.9, 1.0};
  for (int d : {0, 1}) {
    double x[n], y[n], z[n], out[n][3];
    float fx[n], fy[n], fz[n];
    for (const Bspline* obj : {(const Bspline*)s, (const Bspline*)c3, (const Bspline*)c2}) {
      EvalNpntsOnObj(obj, d, 1 - d, us, vs, n, x, y, z);
      EvalNpntsOnObj_f(obj, d, 1 - d, us, vs, n, fx, fy, fz);
      EXPECT_EQ(EvalNpntsOnObj2(obj, d, 1 - d, us, vs, n, out), 1);
      for (int i = 0; i < n; ++i) {
        double e[3];
        if (obj == s) {
          Eval3DPointOnSurfArray(s, us[i], vs[i], d, 1 - d, e);
        } else if (obj == c3) {
          EXPECT_EQ(Eval3DPointOnCurve3Coord(c3, us[i], d, e), e);
        } else {
          EXPECT_EQ(EvalCrvOnSrfCoord(s, c2, us[i], d, e), e);
          double e2[3];
          EXPECT_EQ(Eval3DPointOnBsplOnSurfCoord(nullptr, c2, us[i], d, 0, e2), e2);
          ExpectNear3(e2, e, 1e-12, "through the owner");
        }
        const double got[3] = {x[i], y[i], z[i]};
        ExpectNear3(got, e, 0.0, "EvalNpntsOnObj");
        ExpectNear3(out[i], e, 0.0, "EvalNpntsOnObj2");
        for (int k = 0; k < 3; ++k) ExpectFloatOf((k == 0 ? fx : k == 1 ? fy : fz)[i], e[k], 10.0, "_f", i);
      }
    }
    // A 2D curve without z gives its (u, v), clamped into the owner's domain.
    EvalNpntsOnObj(c2, 0, 0, us, nullptr, n, x, y, nullptr);
    for (int i = 0; i < n; ++i) {
      double uv[2];
      Eval2DPointOnCurve2Array(s, c2, us[i], 0, uv);
      EXPECT_TRUE(x[i] == uv[0] && y[i] == uv[1] && x[i] <= 1.0) << i;
    }
  }
  // Rational derivatives in float: direct orders along u, v and t, the cross form for (1, 1).
  for (auto [du, dv] : {std::pair{1, 0}, {0, 2}, {1, 1}}) {
    float fx[n], fy[n], fz[n];
    ASSERT_EQ(EvalNpntsDiffOfRObj_f(s, nullptr, nullptr, us, vs, n, du, dv, fx, fy, fz), 0);
    for (int i = 0; i < n; ++i) {
      double r[3];
      RefEvalDeriv(s, us[i], vs[i], du, dv, r);
      ExpectFloatOf(fx[i], r[0], 10.0, "surface x", i);
      ExpectFloatOf(fz[i], r[2], 10.0, "surface z", i);
    }
  }
  float fx[n], fy[n], fz[n];
  ASSERT_EQ(EvalNpntsDiffOfRObj_f(nullptr, c3, nullptr, us, nullptr, n, 2, 0, fx, fy, fz), 0);
  for (int i = 0; i < n; ++i) {
    double r[3];
    RefEvalDeriv(c3, us[i], 0.0, 2, 0, r);
    ExpectFloatOf(fy[i], r[1], 100.0, "curve y", i);
  }
  fx[0] = 4.0f;
  EXPECT_EQ(EvalNpntsCrossDiffOfRObj_f(s, nullptr, nullptr, us, vs, n, 2, 1, fx, fy, fz), -2);
  EXPECT_EQ(fx[0], 4.0f);
  EXPECT_NE(Messages().find("Only first order cross derivatives"), std::string::npos);
  // The double cross form takes mixed orders up to two each by the quotient rule; beyond that
  // it writes nothing.
  for (auto [du, dv] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}})
    for (int i = 0; i < n; ++i) {
      double got[3], r[3];
      EvalPointCrossDiffOfRObj(s, nullptr, nullptr, us[i], vs[i], du, dv, got);
      RefEvalDeriv(s, us[i], vs[i], du, dv, r);
      const double scale = 1.0 + std::hypot(r[0], r[1], r[2]);
      ExpectNear3(got, r, 1e-10 * scale, "cross");
    }
  double untouched[3] = {7, 7, 7};
  EvalPointCrossDiffOfRObj(s, nullptr, nullptr, 0.5, 0.5, 3, 1, untouched);
  EXPECT_EQ(untouched[0], 7.0);
  EXPECT_NE(Messages().find("Currently Unavailable"), std::string::npos);
}

// Interior-knot bits, and the knot bounding t's span nearest to t with and without the domain
// ends allowed.
TEST_F(EvalForms, InteriorKnotBitsAndClosestKnots) {
  BsplineKeeper keep;
  Bspline* bezier = keep(BuildRandomCurve(1, 3, 4));
  Bspline* c = keep(BuildCurve(2, 3, std::vector<double>(15, 0.0), {0, 0, 0, 0.3, 0.6, 1, 1, 1}));
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.degreeU = 3, .degreeV = 2, .nu = 4, .nv = 5}));
  EXPECT_EQ(ObjectInKnots(bezier), 0);
  EXPECT_EQ(ObjectInKnots(c), 1);
  EXPECT_EQ(ObjectInKnots(s), 2);
  int atEnd = -1;
  EXPECT_EQ(GetClosestKnotPoint(c, 0.4, 0, 1, &atEnd), 0.3);
  EXPECT_EQ(atEnd, 0);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.5, 0, 1, &atEnd), 0.6);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.1, 0, 1, &atEnd), 0.0);
  EXPECT_EQ(atEnd, 1);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.1, 0, 0, &atEnd), 0.3);  // the start avoided
  EXPECT_EQ(atEnd, 0);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.9, 0, 1, &atEnd), 1.0);
  EXPECT_EQ(atEnd, 1);
  EXPECT_EQ(GetClosestKnotPoint(c, 0.9, 0, 0, &atEnd), 0.6);  // the end avoided
  EXPECT_EQ(GetClosestKnotPoint(s, 0.45, 1, 1, &atEnd), s->knotsV[3]);
}

}  // namespace
