// Curve and surface evaluation through derivative control nets: points and derivatives
// against the textbook reference and finite differences, grids against single points, evenly
// spaced runs, high degrees, and the record left untouched on every path.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "foundation/makemat.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class EvalTest : public KernelTest {};

double Wavy(double x, double y) { return std::sin(3 * x) * std::cos(2 * y) + 0.3 * x * y; }

// Random parameters in the domain plus the ends and every distinct knot.
std::vector<double> Params(const double* knots, int p, int n, unsigned seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(knots[p], knots[n]);
  std::vector<double> t;
  for (int i = p; i <= n; ++i) t.push_back(knots[i]);
  for (int i = 0; i < count; ++i) t.push_back(d(rng));
  return t;
}

void ExpectClose(const double* a, const double* b, double tol, const char* what) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << what << " coordinate " << k;
}

// Byte copy of a record and of the array pointers it holds, to prove evaluation left it alone.
struct Snapshot {
  explicit Snapshot(const Bspline* b) : rec(*b), x0(b->X[0][0]) {}
  bool Same(const Bspline* b) const {
    return std::memcmp(&rec, b, sizeof(Bspline)) == 0 && b->X[0][0] == x0;
  }
  Bspline rec;
  double x0;
};

TEST_F(EvalTest, SurfacePointsEqualDeBoorWithin1e12) {
  for (int trial = 0; trial < 8; ++trial) {
    PatchOptions o;
    o.degreeU = 1 + trial % 5;
    o.degreeV = 1 + (trial + 2) % 4;
    o.nu = o.degreeU + 3 + trial % 3;
    o.nv = o.degreeV + 2 + trial % 4;
    o.layout = trial % 2 ? KnotLayout::Random : KnotLayout::Uniform;
    o.rational = trial % 3 == 1;
    o.seed = 10 + trial;
    o.umin = -1.0;
    o.umax = 2.0;
    Bspline* s = BuildFunctionPatch(Wavy, o);
    ASSERT_NE(s, nullptr);
    const double tol = 1e-12 * RefScale(s);
    const auto us = Params(s->knotsU, s->degreeU, NumCtrlU(s), 1 + trial, 12);
    const auto vs = Params(s->knotsV, s->degreeV, NumCtrlV(s), 2 + trial, 12);
    for (double u : us)
      for (double v : vs) {
        double p[3], r[3];
        Eval3DPointOnSurfCoord(s, u, v, 0, 0, p);
        RefEvalSurface(s, u, v, r);
        ExpectClose(p, r, tol, "surface point");
      }
    FreeBspline(s);
  }
}

TEST_F(EvalTest, CurvePointsEqualDeBoorIn3DAnd2D) {
  for (int trial = 0; trial < 12; ++trial) {
    const int p = 1 + trial % 6;
    Bspline* c = BuildRandomCurve(100 + trial, p, p + 1 + trial % 5, trial % 4 == 3 ? 2 : 3,
                                  trial % 2 == 1);
    ASSERT_NE(c, nullptr);
    for (double t : Params(c->knotsU, p, NumCtrlU(c), trial, 20)) {
      double r[3];
      RefEvalCurve(c, t, r);
      if (c->dimension == 3) {
        double q[3];
        Eval3DPointOnCurve3Array(c, t, 0, q);
        ExpectClose(q, r, 1e-12, "curve point");
      } else {
        double uv[2];
        Eval2DPointOnCurve2Array(nullptr, c, t, 0, uv);
        EXPECT_NEAR(uv[0], r[0], 1e-12);
        EXPECT_NEAR(uv[1], r[1], 1e-12);
      }
    }
    FreeBspline(c);
  }
}

TEST_F(EvalTest, EveryDerivativeOrderMatchesTheTextbookReference) {
  for (int trial = 0; trial < 6; ++trial) {
    PatchOptions o;
    o.degreeU = 2 + trial % 3;
    o.degreeV = 1 + trial % 4;
    o.nu = o.degreeU + 4;
    o.nv = o.degreeV + 3;
    o.layout = KnotLayout::Random;
    o.rational = trial % 2 == 0;
    o.seed = 40 + trial;
    Bspline* s = BuildFunctionPatch(Wavy, o);
    Snapshot snap(s);
    for (double u : {0.0, 0.23, 0.5, 0.77, 1.0})
      for (double v : {0.0, 0.41, 1.0})
        for (int du = 0; du <= o.degreeU + 1; ++du)
          for (int dv = 0; dv <= o.degreeV + 1; ++dv) {
            // The rational mixed forms stop at second order per direction.
            if (o.rational && du > 0 && dv > 0 && (du > 2 || dv > 2)) continue;
            double p[3], r[3];
            Eval3DPointOnSurfArray(s, u, v, du, dv, p);
            RefEvalDeriv(s, u, v, du, dv, r);
            double scale = 1.0;
            for (double x : r) scale = std::max(scale, std::fabs(x));
            ExpectClose(p, r, 1e-9 * scale, "surface derivative");
          }
    EXPECT_TRUE(snap.Same(s)) << "evaluation changed the record";
    FreeBspline(s);
  }
  for (int trial = 0; trial < 6; ++trial) {
    const int p = 1 + trial;
    Bspline* c = BuildRandomCurve(200 + trial, p, p + 4, 3, trial % 2 == 1);
    Snapshot snap(c);
    for (double t : {0.0, 0.3, 0.61, 1.0})
      for (int d = 0; d <= p + 2; ++d) {
        double q[3], r[3];
        Eval3DPointOnCurve3Array(c, t, d, q);
        RefEvalDeriv(c, t, 0.0, d, 0, r);
        double scale = 1.0;
        for (double x : r) scale = std::max(scale, std::fabs(x));
        ExpectClose(q, r, 1e-9 * scale, "curve derivative");
      }
    EXPECT_TRUE(snap.Same(c));
    FreeBspline(c);
  }
}

TEST_F(EvalTest, FirstAndMixedDerivativesMatchFiniteDifferences) {
  PatchOptions o;
  o.rational = true;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch(Wavy, o);
  const double h = 1e-5;
  for (double u : {0.2, 0.55, 0.8})
    for (double v : {0.3, 0.7}) {
      double su[3], sv[3], suv[3], a[3], b[3], c[3], d[3];
      Eval3DPointOnSurfArray(s, u, v, 1, 0, su);
      Eval3DPointOnSurfArray(s, u, v, 0, 1, sv);
      Eval3DPointOnSurfArray(s, u, v, 1, 1, suv);
      Eval3DPointOnSurfArray(s, u + h, v, 0, 0, a);
      Eval3DPointOnSurfArray(s, u - h, v, 0, 0, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(su[k], (a[k] - b[k]) / (2 * h), 1e-5);
      Eval3DPointOnSurfArray(s, u, v + h, 0, 0, a);
      Eval3DPointOnSurfArray(s, u, v - h, 0, 0, b);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(sv[k], (a[k] - b[k]) / (2 * h), 1e-5);
      Eval3DPointOnSurfArray(s, u + h, v, 0, 1, c);
      Eval3DPointOnSurfArray(s, u - h, v, 0, 1, d);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(suv[k], (c[k] - d[k]) / (2 * h), 1e-5);
    }
  FreeBspline(s);
}

TEST_F(EvalTest, BezierEndDerivativesAndEqualWeights) {
  const std::vector<double> P = {0, 0, 0, 1, 2, 0, 3, 2, 1, 4, 0, 2};
  Bspline* c = BuildCurve(3, 3, P, {0, 0, 0, 0, 1, 1, 1, 1});
  Bspline* r = BuildCurve(3, 3, P, {0, 0, 0, 0, 1, 1, 1, 1}, {2.5, 2.5, 2.5, 2.5});
  double d0[3], d1[3];
  Eval3DPointOnCurve3Array(c, 0.0, 1, d0);
  Eval3DPointOnCurve3Array(c, 1.0, 1, d1);
  for (int k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(d0[k], 3 * (P[3 + k] - P[k]));
    EXPECT_DOUBLE_EQ(d1[k], 3 * (P[9 + k] - P[6 + k]));
  }
  for (double t : {0.0, 0.25, 0.7, 1.0})
    for (int d = 0; d <= 3; ++d) {
      double a[3], b[3];
      Eval3DPointOnCurve3Array(c, t, d, a);
      Eval3DPointOnCurve3Array(r, t, d, b);
      ExpectClose(a, b, 1e-12, "equal weights");
    }
  FreeBspline(c);
  FreeBspline(r);
}

TEST_F(EvalTest, GridsEqualSinglePointsAlsoForDecreasingParameters) {
  PatchOptions o;
  o.degreeU = 3;
  o.nu = 9;
  o.nv = 7;
  o.layout = KnotLayout::Random;
  for (int rational = 0; rational <= 2; ++rational) {
    // The bicubic surface has a path of its own in the point evaluator.
    o.degreeV = rational == 2 ? 3 : 2;
    o.rational = rational == 1;
    Bspline* s = BuildFunctionPatch(Wavy, o);
    // Not sorted: the span search must start again where a value decreases.
    const std::vector<double> us = {0.9, 0.1, 0.5, 0.5, 1.0, 0.0, 0.33, 0.2};
    const std::vector<double> vs = {1.0, 0.0, 0.77, 0.12, 0.6};
    const int nu = static_cast<int>(us.size()), nv = static_cast<int>(vs.size());
    std::vector<double> x(nu * nv), y(nu * nv), z(nu * nv), w(nu * nv);
    ASSERT_EQ(Eval3DGridOnBsplArray(s, us.data(), nu, vs.data(), nv, x.data(), y.data(), z.data()), 0);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        double p[3];
        Eval3DPointOnSurfArray(s, us[i], vs[j], 0, 0, p);
        const int g = j * nu + i;
        EXPECT_EQ(x[g], p[0]);
        EXPECT_EQ(y[g], p[1]);
        EXPECT_EQ(z[g], p[2]);
      }
    // Derivative grids through full-size nets against single points.
    for (int du = 0; du <= 2; ++du)
      for (int dv = 0; dv <= 2 - du; ++dv) {
        if (du + dv == 0) continue;
        const int type = o.rational ? 0 : 1;
        ASSERT_EQ(Eval4DGridOnRSurfArray(s, us.data(), nu, vs.data(), nv, du, dv, type, w.data(),
                                         x.data(), y.data(), z.data()),
                  0);
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i) {
            double h[4];
            Eval4DPointOnRSurfArray(s, us[i], vs[j], du, dv, type, h);
            const int g = j * nu + i;
            EXPECT_NEAR(x[g], h[0], 1e-10 * RefScale(s));
            EXPECT_NEAR(z[g], h[2], 1e-10 * RefScale(s));
            if (o.rational) {
              EXPECT_NEAR(w[g], h[3], 1e-10);
            }
          }
      }
    FreeBspline(s);
  }
  // A curve grid reads u only.
  Bspline* c = BuildRandomCurve(3, 4, 9, 3, true);
  const double ts[3] = {0.7, 0.2, 1.0};
  double x[3], y[3], z[3], w[3];
  ASSERT_EQ(Eval4DGridOnRBsplArray(c, ts, 3, nullptr, 0, w, x, y, z), 0);
  for (int i = 0; i < 3; ++i) {
    double r[3];
    RefEvalCurve(c, ts[i], r);
    EXPECT_NEAR(x[i] / w[i], r[0], 1e-12);
    EXPECT_NEAR(z[i] / w[i], r[2], 1e-12);
  }
  FreeBspline(c);
}

TEST_F(EvalTest, EvenlySpacedRunsIncludingOnePointAndSegments) {
  Bspline* c = BuildRandomCurve(17, 3, 8, 3, true);
  const int n = 6;
  double x[2 * n], y[2 * n], z[2 * n], w[2 * n];
  ASSERT_EQ(Eval4DNpntsOnRCurve3Array(c, 0, 0, n, x, y, z, w), 0);
  for (int i = 0; i < n; ++i) {
    double r[3];
    RefEvalCurve(c, i / (n - 1.0), r);
    EXPECT_NEAR(x[i] / w[i], r[0], 1e-12);
    EXPECT_NEAR(y[i] / w[i], r[1], 1e-12);
  }
  // One point: the domain start, not a NaN step.
  float fx[4], fy[4], fz[4];
  ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, 0, 0, 1, fx, fy, fz), 0);
  double r0[3];
  RefEvalCurve(c, 0.0, r0);
  EXPECT_NEAR(fx[0], r0[0], 1e-6);
  EXPECT_NEAR(fz[0], r0[2], 1e-6);
  // Segments of two points: the two ends.
  fx[2] = 99.0f;
  ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, 1, 0, 2, fx, fy, fz), 0);
  double r1[3];
  RefEvalCurve(c, 1.0, r1);
  EXPECT_NEAR(fx[0], r0[0], 1e-6);
  EXPECT_NEAR(fx[1], r1[0], 1e-6);
  EXPECT_EQ(fx[2], 99.0f);
  // Segments of n points: inner points twice, rational derivatives by the quotient rule.
  float sx[2 * n - 2], sy[2 * n - 2], sz[2 * n - 2];
  ASSERT_EQ(Eval3DNpntsOnCurve3Array_f(c, 1, 1, n, sx, sy, sz), 0);
  for (int i = 0; i < n; ++i) {
    double r[3];
    RefEvalDeriv(c, i / (n - 1.0), 0.0, 1, 0, r);
    if (i > 0) {
      EXPECT_NEAR(sy[2 * i - 1], r[1], 1e-4);
    }
    if (i < n - 1) {
      EXPECT_NEAR(sy[2 * i], r[1], 1e-4);
    }
  }
  FreeBspline(c);
}

TEST_F(EvalTest, CurvesOnSurfacesByTheChainRule) {
  PatchOptions o;
  o.rational = true;
  o.layout = KnotLayout::Random;
  Bspline* s = BuildFunctionPatch(Wavy, o);
  // The last control point lies outside the domain: positions are clamped into it.
  Bspline* c = BuildCurveOnSurface(s, 3, {0.1, 0.2, 0.4, 0.9, 0.7, 0.1, 0.9, 1.3});
  const double h = 1e-4;
  for (double t : {0.1, 0.4, 0.6}) {
    double p[3], d1[3], d2[3], a[3], b[3], m[3];
    EvalCrvOnSrfArray(s, c, t, 0, p);
    EvalCrvOnSrfArray(s, c, t, 1, d1);
    EvalCrvOnSrfArray(s, c, t, 2, d2);
    EvalCrvOnSrfArray(s, c, t + h, 0, a);
    EvalCrvOnSrfArray(s, c, t - h, 0, b);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(d1[k], (a[k] - b[k]) / (2 * h), 1e-6);
      EXPECT_NEAR(d2[k], (a[k] - 2 * p[k] + b[k]) / (h * h), 1e-4);
    }
    Eval3DPointOnBsplOnSurfCoord(s, c, t, 1, 0, m);
    ExpectClose(m, d1, 1e-13, "first derivative");
  }
  double uv[2];
  Eval2DPointOnCurve2Array(s, c, 1.0, 0, uv);
  EXPECT_EQ(uv[1], 1.0);
  double untouched[3] = {7, 7, 7};
  Eval3DPointOnBsplOnSurfArray(s, c, 0.5, 2, 0, untouched);
  EXPECT_EQ(untouched[0], 7.0);
  EXPECT_NE(Messages().find("Currently Unavailable"), std::string::npos);
  FreeBspline(s);
}

TEST_F(EvalTest, SharedBasisRequestsEqualSingleRequests) {
  PatchOptions o;
  o.layout = KnotLayout::Random;
  for (int rational = 0; rational <= 1; ++rational) {
    o.rational = rational;
    Bspline* s = BuildFunctionPatch(Wavy, o);
    const int flags[3] = {1, 1, 1};
    double out[3][3];
    Eval3DPointOnSurfArrayM(s, 0.37, 0.81, flags, out);
    for (int k = 0; k < 3; ++k) {
      double one[3];
      Eval3DPointOnSurfArray(s, 0.37, 0.81, k == 1, k == 2, one);
      ExpectClose(out[k], one, 1e-13, "shared basis");
    }
    FreeBspline(s);
  }
}

TEST_F(EvalTest, Degree22IsEvaluatedAndHigherDegreesAreRefused) {
  // Degree 22 fills the 23 x 23 scratch exactly; derivatives included.
  std::vector<double> pts(3 * 23 * 24);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> d(-1, 1);
  for (double& x : pts) x = d(rng);
  Bspline* s = BuildSurface(22, 22, 23, 24, pts);
  ASSERT_NE(s, nullptr);
  for (auto [du, dv] : {std::pair{0, 0}, {1, 0}, {0, 1}, {2, 1}}) {
    double p[3], r[3];
    Eval3DPointOnSurfArray(s, 0.3, 0.6, du, dv, p);
    RefEvalDeriv(s, 0.3, 0.6, du, dv, r);
    double scale = 1.0;
    for (double x : r) scale = std::max(scale, std::fabs(x));
    ExpectClose(p, r, 1e-9 * scale, "degree 22");
  }
  FreeBspline(s);

  Bspline* c = BuildRandomCurve(5, 22, 30, 3, true);
  double q[3], r[3];
  Eval3DPointOnCurve3Array(c, 0.45, 21, q);  // the rational chain at its longest
  RefEvalDeriv(c, 0.45, 0.0, 21, 0, r);
  EXPECT_NEAR(q[0] / r[0], 1.0, 1e-6);
  FreeBspline(c);

  Bspline* big = BuildRandomCurve(6, 23, 26);
  double untouched[3] = {5, 5, 5};
  Eval3DPointOnCurve3Array(big, 0.5, 1, untouched);
  EXPECT_EQ(untouched[0], 5.0);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  float fx[4], fy[4], fz[4];
  EXPECT_EQ(Eval3DNpntsOnCurve3Array_f(big, 0, 0, 4, fx, fy, fz), -2);
  FreeBspline(big);
}

TEST_F(EvalTest, AllocationFailuresWriteNothingAndLeakNothing) {
  PatchOptions o;
  o.rational = true;
  Bspline* s = BuildFunctionPatch(Wavy, o);
  Snapshot snap(s);
  const double us[4] = {0.0, 0.3, 0.6, 1.0}, vs[3] = {0.1, 0.5, 0.9};
  for (int skip = 0; skip < 40; ++skip) {
    double x[12], y[12], z[12], w[12];
    for (double& v : x) v = -9.0;
    const int before = MallocTrackedCount();
    MallocFailAfter(skip, -1);
    const int r1 = Eval4DGridOnRSurfArray(s, us, 4, vs, 3, 1, 1, 0, w, x, y, z);
    const int r2 = Eval3DGridOnBsplArray(s, us, 4, vs, 3, x, y, z);
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), before);
    EXPECT_EQ(MallocTrackLevel(), 0);
    if (r1 != 0) {
      EXPECT_TRUE(KernelFailedNow());
      EXPECT_EQ(r2, -2);  // the failed allocator keeps failing until the state is cleared
      EXPECT_EQ(x[0], -9.0);
    }
    EXPECT_TRUE(snap.Same(s));
    const bool done = r1 == 0 && r2 == 0;
    ClearKernelError();
    if (done) break;
  }
  FreeBspline(s);
}

TEST_F(EvalTest, FirstUseScratchFailureLeavesOutputUntouched) {
  // Take the scratch away for this case so its creation runs again under failure.
  double** saved[5] = {surfDiffArray1, surfDiffArray2, surfDiffArray3, surfDiffArray4,
                       surfDiffArray5};
  surfDiffArray1 = surfDiffArray2 = surfDiffArray3 = surfDiffArray4 = surfDiffArray5 = nullptr;
  Bspline* s = BuildFunctionPatch(Wavy);
  double out[3] = {4, 4, 4};
  MallocFailAfter(2, -1);
  Eval3DPointOnSurfArray(s, 0.5, 0.5, 1, 1, out);  // mixed orders difference a local net
  MallocFailClear();
  EXPECT_EQ(out[0], 4.0);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(surfDiffArray1, nullptr);
  ClearKernelError();
  Eval3DPointOnSurfArray(s, 0.5, 0.5, 1, 1, out);
  double r[3];
  RefEvalDeriv(s, 0.5, 0.5, 1, 1, r);
  ExpectClose(out, r, 1e-12, "after recovery");
  double** made[5] = {surfDiffArray1, surfDiffArray2, surfDiffArray3, surfDiffArray4,
                      surfDiffArray5};
  for (double** m : made) matrix_free_ff(m);
  surfDiffArray1 = saved[0];
  surfDiffArray2 = saved[1];
  surfDiffArray3 = saved[2];
  surfDiffArray4 = saved[3];
  surfDiffArray5 = saved[4];
  FreeBspline(s);
}

}  // namespace
