// Curve and surface evaluation, through derivative control nets and through basis-derivative
// requests: points and derivatives against the textbook reference, grids against single
// points, evenly spaced runs, curves on surfaces, high degrees, and the record and the outputs
// left untouched on every refusal and failure.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "intersect/cntrlpt.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class EvalTest : public KernelTest {};

double Wavy(double x, double y) { return std::sin(3 * x) * std::cos(2 * y) + 0.3 * x * y; }

// Random parameters in the domain plus every distinct knot.
std::vector<double> Params(const double* knots, int p, int n, unsigned seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(knots[p], knots[n]);
  std::vector<double> t(knots + p, knots + n + 1);
  for (int i = 0; i < count; ++i) t.push_back(d(rng));
  return t;
}

double Scale(const double* r) {
  return std::max({1.0, std::fabs(r[0]), std::fabs(r[1]), std::fabs(r[2])});
}

// A derivative of order (du, dv) against the reference, relative to its size.
void ExpectDeriv(const double* got, const Bspline* b, double u, double v, int du, int dv,
                 const char* what) {
  double r[3];
  RefEvalDeriv(b, u, v, du, dv, r);
  ExpectNear3(got, r, 1e-9 * Scale(r), what);
}

// Byte copy of a record and of a value its arrays hold, to prove evaluation left it alone.
struct Snapshot {
  explicit Snapshot(const Bspline* b) : rec(*b), x0(b->X[0][0]) {}
  bool Same(const Bspline* b) const {
    return std::memcmp(&rec, b, sizeof(Bspline)) == 0 && b->X[0][0] == x0;
  }
  Bspline rec;
  double x0;
};

// The nine requests of order at most 2 per direction.
const int kDu[9] = {0, 1, 0, 1, 2, 0, 2, 1, 2};
const int kDv[9] = {0, 0, 1, 1, 0, 2, 1, 2, 2};

TEST_F(EvalTest, PointsEqualDeBoorWithin1e12) {
  BsplineKeeper keep;
  for (int trial = 0; trial < 10; ++trial) {
    // The last two are bicubic, which the point evaluator takes on a path of its own.
    const int pu = trial >= 8 ? 3 : 1 + trial % 5, pv = trial >= 8 ? 3 : 1 + (trial + 2) % 4;
    PatchOptions o{pu, pv, pu + 3 + trial % 3, pv + 2 + trial % 4};
    o.umin = -1.0, o.umax = 2.0, o.rational = trial % 3 == 1, o.seed = 10 + trial;
    o.layout = trial % 2 ? KnotLayout::Random : KnotLayout::Uniform;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    for (double u : Params(s->knotsU, s->degreeU, NumCtrlU(s), 1 + trial, 12))
      for (double v : Params(s->knotsV, s->degreeV, NumCtrlV(s), 2 + trial, 12)) {
        double p[3], r[3];
        Eval3DPointOnSurfCoord(s, u, v, 0, 0, p);
        RefEvalSurface(s, u, v, r);
        ExpectNear3(p, r, 1e-12 * RefScale(s), "surface point");
      }
  }
  for (int trial = 0; trial < 12; ++trial) {
    const int p = 1 + trial % 6, dim = trial % 4 == 3 ? 2 : 3;
    Bspline* c = keep(BuildRandomCurve(100 + trial, p, p + 1 + trial % 5, dim, trial % 2 == 1));
    for (double t : Params(c->knotsU, p, NumCtrlU(c), trial, 20)) {
      double q[3] = {0, 0, 0}, r[3];
      RefEvalCurve(c, t, r);
      if (dim == 3)
        Eval3DPointOnCurve3Array(c, t, 0, q);
      else
        Eval2DPointOnCurve2Array(nullptr, c, t, 0, q);
      ExpectNear3(q, r, 1e-12, "curve point");
    }
  }
}

// Derivative nets for every order (past the degree too), basis-derivative requests for the
// orders they serve; neither touches the record.
TEST_F(EvalTest, EveryDerivativeOrderMatchesTheTextbookReference) {
  BsplineKeeper keep;
  for (int trial = 0; trial < 6; ++trial) {
    PatchOptions o{1 + trial % 4, 1 + (trial + 1) % 4, 5 + trial % 4, 4 + (trial + 1) % 4};
    o.layout = KnotLayout::Random, o.rational = trial % 2 == 0, o.seed = 40 + trial;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    Snapshot snap(s);
    for (double u : {0.0, 0.23, 0.77, 1.0})
      for (double v : {0.0, 0.41, 1.0}) {
        double p[3], req[9][3];
        for (int du = 0; du <= o.degreeU + 1; ++du)
          for (int dv = 0; dv <= o.degreeV + 1; ++dv) {
            // The rational mixed forms stop at second order per direction.
            if (o.rational && du > 0 && dv > 0 && (du > 2 || dv > 2)) continue;
            Eval3DPointOnSurfArray(s, u, v, du, dv, p);
            ExpectDeriv(p, s, u, v, du, dv, "surface derivative");
          }
        ASSERT_EQ(EvalPointOnGeometryM(s, u, v, kDu, kDv, 9, 0, req), 0);
        for (int k = 0; k < 9; ++k) ExpectDeriv(req[k], s, u, v, kDu[k], kDv[k], "request");
      }
    EXPECT_TRUE(snap.Same(s)) << "evaluation changed the record";
  }
  for (int trial = 0; trial < 6; ++trial) {
    const int p = 1 + trial;
    Bspline* c = keep(BuildRandomCurve(200 + trial, p, p + 4, 3, trial % 2 == 1));
    Snapshot snap(c);
    for (double t : {0.0, 0.3, 0.61, 1.0})
      for (int d = 0; d <= p + 2; ++d) {
        double q[3];
        Eval3DPointOnCurve3Array(c, t, d, q);
        ExpectDeriv(q, c, t, 0.0, d, 0, "curve derivative");
      }
    EXPECT_TRUE(snap.Same(c));
  }
}

// Bicubics, which the evaluators take through their own two-lane basis and quotient rule:
// every order up to two per direction against the textbook reference at random parameters
// and at every knot (span ends), rational or not, with uniform and random knots, at
// parameter scales 1e-6 .. 1e6.
TEST_F(EvalTest, BicubicDerivativesMatchTheTextbookReference) {
  BsplineKeeper keep;
  for (double scale : {1e-6, 1.0, 1e6})
    for (int variant = 0; variant < 4; ++variant) {
      PatchOptions o{3, 3, 6 + variant, 5 + variant};
      o.umin = o.vmin = -0.5 * scale, o.umax = o.vmax = 1.5 * scale;
      o.layout = variant < 2 ? KnotLayout::Uniform : KnotLayout::Random;
      o.rational = variant % 2 == 1, o.seed = 70 + variant;
      Bspline* s = keep(BuildFunctionPatch(Wavy, o));
      SCOPED_TRACE(testing::Message() << "scale " << scale << " variant " << variant);
      for (double u : Params(s->knotsU, 3, NumCtrlU(s), 5 + variant, 2))
        for (double v : Params(s->knotsV, 3, NumCtrlV(s), 9 + variant, 1))
          for (int k = 0; k < 9; ++k) {
            double p[3];
            Eval3DPointOnSurfArray(s, u, v, kDu[k], kDv[k], p);
            // Rounding grows with the order as the parameter range shrinks: the tolerance is
            // relative to the object's size over the range to the order, not to the value
            // (which may be 0, as z_vv where sin 3x vanishes).
            double r[3];
            RefEvalDeriv(s, u, v, kDu[k], kDv[k], r);
            const double natural = RefScale(s) / std::pow(2.0 * scale, kDu[k] + kDv[k]);
            SCOPED_TRACE(testing::Message() << "u " << u << " v " << v << " order " << kDu[k] << kDv[k]);
            ExpectNear3(p, r, 1e-9 * std::max(Scale(r), natural), "bicubic derivative");
          }
    }
}

TEST_F(EvalTest, GridsEqualSinglePointsAlsoForDecreasingParameters) {
  BsplineKeeper keep;
  // Not sorted: the span search must start again where a value decreases.
  const double us[8] = {0.9, 0.1, 0.5, 0.5, 1.0, 0.0, 0.33, 0.2},
               vs[5] = {1.0, 0.0, 0.77, 0.12, 0.6};
  for (int variant = 0; variant <= 3; ++variant) {
    // The bicubic surface has a path of its own; a net of 140 columns is wider than the
    // request grid's row sums keep on the stack.
    PatchOptions o{3, variant >= 2 ? 3 : 2, variant == 3 ? 140 : 9, 7};
    o.layout = KnotLayout::Random, o.rational = variant == 1 || variant == 3;
    Bspline* s = keep(BuildFunctionPatch(Wavy, o));
    double x[40], y[40], z[40], w[40], h[4];
    ASSERT_EQ(Eval3DGridOnBsplArray(s, us, 8, vs, 5, x, y, z), 0);
    for (int g = 0; g < 40; ++g) {
      Eval3DPointOnSurfArray(s, us[g % 8], vs[g / 8], 0, 0, h);
      EXPECT_TRUE(x[g] == h[0] && y[g] == h[1] && z[g] == h[2]) << g;
    }
    // Derivative grids through full-size nets.
    for (auto [du, dv] : {std::pair{1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}}) {
      const int type = o.rational ? 0 : 1;
      ASSERT_EQ(Eval4DGridOnRSurfArray(s, us, 8, vs, 5, du, dv, type, w, x, y, z), 0);
      for (int g = 0; g < 40; ++g) {
        Eval4DPointOnRSurfArray(s, us[g % 8], vs[g / 8], du, dv, type, h);
        EXPECT_NEAR(x[g], h[0], 1e-10 * RefScale(s));
        EXPECT_NEAR(z[g], h[2], 1e-10 * RefScale(s));
        if (o.rational) {
          EXPECT_NEAR(w[g], h[3], 1e-10);
        }
      }
    }
    // Requests: (2, 1) goes beyond second order in total, so on a grid it takes no slot.
    const int du[4] = {1, 2, 0, 1}, dv[4] = {0, 1, 2, 1}, keptU[3] = {1, 0, 1},
              keptV[3] = {0, 2, 1};
    double** out = allocate_matrix_ff(40, 12);
    ASSERT_EQ(EvalGridOnGeometryM(s, us, vs, 8, 5, du, dv, 4, 0, out), 0);
    for (int g = 0; g < 40; ++g) {
      double p[3][3];
      EvalPointOnGeometryM(s, us[g % 8], vs[g / 8], keptU, keptV, 3, 0, p);
      for (int k = 0; k < 9; ++k) EXPECT_EQ(out[g][k], p[k / 3][k % 3]);
    }
    matrix_free_ff(out);
  }
  // A curve grid reads u only.
  Bspline* c = keep(BuildRandomCurve(3, 4, 9, 3, true));
  double x[3], y[3], z[3], w[3], r[3];
  ASSERT_EQ(Eval4DGridOnRBsplArray(c, us, 3, nullptr, 0, w, x, y, z), 0);
  for (int i = 0; i < 3; ++i) {
    RefEvalCurve(c, us[i], r);
    EXPECT_NEAR(x[i] / w[i], r[0], 1e-12);
    EXPECT_NEAR(z[i] / w[i], r[2], 1e-12);
  }
}

TEST_F(EvalTest, EvenlySpacedRunsIncludingOnePointAndSegments) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildRandomCurve(17, 3, 8, 3, true));
  const int n = 6;
  double r[3], r0[3], r1[3];
  // One point: the domain start, not a NaN step.
  float fx[2 * n], fy[2 * n], fz[2 * n];
  ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, 0, 0, 1, fx, fy, fz), 0);
  RefEvalCurve(c, 0.0, r0);
  RefEvalCurve(c, 1.0, r1);
  EXPECT_NEAR(fx[0], r0[0], 1e-6);
  EXPECT_NEAR(fz[0], r0[2], 1e-6);
  // Segments of two points: the two ends, nothing more.
  fx[2] = 99.0f;
  ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, 1, 0, 2, fx, fy, fz), 0);
  EXPECT_NEAR(fx[0], r0[0], 1e-6);
  EXPECT_NEAR(fx[1], r1[0], 1e-6);
  EXPECT_EQ(fx[2], 99.0f);
  // A uniform request grid of one u value sits at the domain start as well.
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.umin = 2.0, .umax = 5.0}));
  const int d0[1] = {0};
  double** out = allocate_matrix_ff(3, 3);
  ASSERT_EQ(EvalUniformGridOnGeometryM(s, 1, 3, d0, d0, 1, 0, out), 0);
  for (int j = 0; j < 3; ++j) {
    RefEvalSurface(s, 2.0, j * 0.5, r);
    ExpectNear3(out[j], r, 1e-12, "uniform grid");
  }
  matrix_free_ff(out);
}

TEST_F(EvalTest, CurvesOnSurfacesByTheChainRule) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.layout = KnotLayout::Random, .rational = true}));
  // The last control point lies outside the domain: positions are clamped into it.
  Bspline* c = BuildCurveOnSurface(s, 3, {0.1, 0.2, 0.4, 0.9, 0.7, 0.1, 0.9, 1.3});
  const double h = 1e-4;
  for (double t : {0.1, 0.4, 0.6}) {
    double p[3], d1[3], d2[3], a[3], b[3];
    EvalCrvOnSrfArray(s, c, t, 0, p);
    EvalCrvOnSrfArray(s, c, t, 1, d1);
    EvalCrvOnSrfArray(s, c, t, 2, d2);
    EvalCrvOnSrfArray(s, c, t + h, 0, a);
    EvalCrvOnSrfArray(s, c, t - h, 0, b);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(d1[k], (a[k] - b[k]) / (2 * h), 1e-6);
      EXPECT_NEAR(d2[k], (a[k] - 2 * p[k] + b[k]) / (h * h), 1e-4);
    }
  }
  double uv[2], untouched[3] = {7, 7, 7};
  Eval2DPointOnCurve2Array(s, c, 1.0, 0, uv);
  EXPECT_EQ(uv[1], 1.0);
  Eval3DPointOnBsplOnSurfArray(s, c, 0.5, 2, 0, untouched);
  EXPECT_EQ(untouched[0], 7.0);
  EXPECT_NE(Messages().find("Currently Unavailable"), std::string::npos);

}

TEST_F(EvalTest, Degree22IsEvaluatedAndWhatIsOutOfReachIsRefused) {
  BsplineKeeper keep;
  // Degree 22 fills the 23 x 23 scratch exactly; derivatives included.
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.degreeU = 22, .degreeV = 22, .nu = 23, .nv = 24}));
  ASSERT_NE(s, nullptr);
  for (auto [du, dv] : {std::pair{0, 0}, {1, 0}, {0, 1}, {2, 1}}) {
    double p[3];
    Eval3DPointOnSurfArray(s, 0.3, 0.6, du, dv, p);
    ExpectDeriv(p, s, 0.3, 0.6, du, dv, "degree 22");
  }
  Bspline* c = keep(BuildRandomCurve(5, 22, 30, 3, true));
  double q[3], r[3];
  Eval3DPointOnCurve3Array(c, 0.45, 21, q);  // the rational chain at its longest
  RefEvalDeriv(c, 0.45, 0.0, 21, 0, r);
  EXPECT_NEAR(q[0] / r[0], 1.0, 1e-6);

  Bspline* big = keep(BuildRandomCurve(6, 23, 26));
  double untouched[3] = {5, 5, 5};
  Eval3DPointOnCurve3Array(big, 0.5, 1, untouched);
  EXPECT_EQ(untouched[0], 5.0);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  float fx[4], fy[4], fz[4];
  EXPECT_EQ(Eval3DNpntsOnCurve3Array_f(big, 0, 0, 4, fx, fy, fz), -2);

  // Requests above second order are refused before anything is written.
  const int du[2] = {0, 3}, dv[2] = {0, 0};
  double out[2][3] = {{8, 8, 8}, {8, 8, 8}}, block[12] = {8};
  double* rows[4] = {&block[0], &block[3], &block[6], &block[9]};
  const double us[2] = {0.1, 0.9}, vs[2] = {0.2, 0.8};
  EXPECT_EQ(EvalPointOnGeometryM(s, 0.5, 0.5, du, dv, 2, 0, out), -2);
  EXPECT_EQ(EvalGridOnGeometryM(s, us, vs, 2, 2, du, dv, 2, 0, rows), -2);
  EXPECT_TRUE(out[0][0] == 8.0 && block[0] == 8.0);
}

// A fixed-size output is written only when the object fits it: the 2D-curve forms hold a
// homogeneous (u w, v w, w); a 3D curve's has four values and is refused with the output
// untouched, and so is a curve handed to the quotient rule in the other dimension's slot.
TEST_F(EvalTest, TwoDimensionalFormsRefuseOtherCurvesAndWriteNothing) {
  BsplineKeeper keep;
  Bspline* c3 = keep(BuildRandomCurve(31, 3, 6, 3, true));
  Bspline* c2 = keep(BuildRandomCurve(32, 3, 6, 2, true));
  const double mid = 0.5 * (c2->knotsU[3] + c2->knotsU[NumCtrlU(c2)]);
  for (int d = 0; d <= 1; ++d)
    for (int type = 0; type <= 3; ++type) {
      double out[4] = {6, 6, 6, 6};
      Eval3DPointOnRCurve2Array(c3, mid, d, type, out);
      EXPECT_TRUE(out[0] == 6.0 && out[1] == 6.0 && out[2] == 6.0 && out[3] == 6.0);
      EXPECT_TRUE(KernelFailedNow());
      ClearKernelError();
    }
  double u[3] = {6, 6, 6}, v[3] = {6, 6, 6}, w[3] = {6, 6, 6};
  float uf[3] = {6, 6, 6}, vf[3] = {6, 6, 6}, wf[3] = {6, 6, 6};
  EXPECT_EQ(Eval3DNpntsOnRCurve2Array(c3, 0, 0, 3, u, v, w), -2);
  EXPECT_EQ(Eval3DNpntsOnRCurve2Array_f(c3, 0, 0, 3, uf, vf, wf), -2);
  EXPECT_TRUE(u[0] == 6.0 && w[2] == 6.0 && uf[0] == 6.0f && wf[2] == 6.0f);
  double q[3] = {6, 6, 6};
  EvalPointDiffOfRObj(nullptr, nullptr, c3, mid, 0.0, 1, 0, q);
  EvalPointDiffOfRObj(nullptr, c2, nullptr, mid, 0.0, 1, 0, q);
  EXPECT_TRUE(q[0] == 6.0 && q[2] == 6.0);
  const double ts[1] = {mid};
  EXPECT_EQ(EvalNpntsDiffOfRObj_f(nullptr, nullptr, c3, ts, nullptr, 1, 1, 0, uf, vf, wf), -2);
  EXPECT_EQ(uf[0], 6.0f);
  ClearKernelError();

  // The 2D curve itself: the homogeneous value over its weight is the point, the fourth
  // slot stays untouched, and the n-point form agrees at the domain's middle.
  double h[4] = {6, 6, 6, 6}, r[3];
  Eval3DPointOnRCurve2Array(c2, mid, 0, 2, h);
  RefEvalCurve(c2, mid, r);
  EXPECT_NEAR(h[0] / h[2], r[0], 1e-12);
  EXPECT_NEAR(h[1] / h[2], r[1], 1e-12);
  EXPECT_EQ(h[3], 6.0);
  ASSERT_EQ(Eval3DNpntsOnRCurve2Array(c2, 0, 0, 3, u, v, w), 0);
  EXPECT_NEAR(u[1] / w[1], r[0], 1e-12);
  EXPECT_NEAR(v[1] / w[1], r[1], 1e-12);
  EvalPointDiffOfRObj(nullptr, nullptr, c2, mid, 0.0, 1, 0, q);
  RefEvalDeriv(c2, mid, 0.0, 1, 0, r);
  EXPECT_NEAR(q[0], r[0], 1e-9 * Scale(r));
  EXPECT_NEAR(q[1], r[1], 1e-9 * Scale(r));
  EXPECT_EQ(q[2], 6.0);  // two values for a 2D curve
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(EvalTest, AllocationFailuresWriteNothingAndLeakNothing) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.rational = true}));
  Snapshot snap(s);
  const double us[4] = {0.0, 0.3, 0.6, 1.0}, vs[3] = {0.1, 0.5, 0.9};
  const int du[2] = {0, 1}, dv[2] = {0, 0};
  double** out = allocate_matrix_ff(12, 6);
  const int failures = RunWithInjectedFailures(60, 1, [&] {
    // A failed call writes nothing.
    double x[12], y[12], z[12], w[12], x2[12];
    x[0] = x2[0] = out[0][0] = -9.0;
    const int r1 = Eval4DGridOnRSurfArray(s, us, 4, vs, 3, 1, 1, 0, w, x, y, z);
    const int r2 = Eval3DGridOnBsplArray(s, us, 4, vs, 3, x2, y, z);
    const int r3 = EvalGridOnGeometryM(s, us, vs, 4, 3, du, dv, 2, 0, out);
    EXPECT_TRUE((r1 == 0 || x[0] == -9.0) && (r2 == 0 || x2[0] == -9.0) &&
                (r3 == 0 || out[0][0] == -9.0));
    const int r = r1 | r2 | r3;
    EXPECT_EQ(r != 0, KernelFailedNow());
    EXPECT_TRUE(snap.Same(s));
    return r;
  });
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 60);
  matrix_free_ff(out);
}

TEST_F(EvalTest, FirstUseScratchFailureLeavesOutputUntouched) {
  BsplineKeeper keep;
  // Take the scratch away for this case so its creation runs again under failure.
  double*** scratch[5] = {&surfDiffArray1, &surfDiffArray2, &surfDiffArray3, &surfDiffArray4,
                          &surfDiffArray5};
  double** saved[5];
  for (int i = 0; i < 5; ++i) saved[i] = *scratch[i], *scratch[i] = nullptr;
  Bspline* s = keep(BuildFunctionPatch(Wavy));
  double out[4] = {4, 4, 4, 4}, r[3];
  MallocFailAfter(2, -1);
  Eval4DPointOnRSurfArray(s, 0.5, 0.5, 1, 1, 1, out);  // mixed orders difference a local net
  MallocFailClear();
  EXPECT_EQ(out[0], 4.0);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(surfDiffArray1, nullptr);
  ClearKernelError();
  Eval4DPointOnRSurfArray(s, 0.5, 0.5, 1, 1, 1, out);
  RefEvalDeriv(s, 0.5, 0.5, 1, 1, r);
  ExpectNear3(out, r, 1e-12, "after recovery");
  for (int i = 0; i < 5; ++i) matrix_free_ff(*scratch[i]), *scratch[i] = saved[i];
}

}  // namespace
