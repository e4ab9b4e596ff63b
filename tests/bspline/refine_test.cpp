#include "bspline/refines.h"

#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class NewtonRefine : public KernelTest {};

double Wavy(double x, double y) { return 0.25 * std::sin(2.5 * x) * std::cos(1.5 * y) + 0.1 * x * y; }

TEST_F(NewtonRefine, DisplacementStepInvertsTheTangentCombination) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  for (int trial = 0; trial < 60; ++trial) {
    double Su[3] = {U(rng), U(rng), U(rng)}, Sv[3] = {U(rng), U(rng), U(rng)}, N[3], d[3];
    VecCrossProd3(Su, Sv, N);
    const double a = U(rng), b = U(rng);
    for (int k = 0; k < 3; ++k) d[k] = a * Su[k] + b * Sv[k];
    double du, dv;
    ASSERT_EQ(DParamfromDisplacement(d, Su, Sv, N, &du, &dv), 0);
    const double scale = VecSize3(Su) * VecSize3(Sv) / VecSize3(N);
    EXPECT_NEAR(du, a, 1e-12 * scale);
    EXPECT_NEAR(dv, b, 1e-12 * scale);
    ASSERT_EQ(DParamfromDisplacement(Su, Su, Sv, N, &du, &dv), 0);
    EXPECT_NEAR(du, 1.0, 1e-12 * scale);
    EXPECT_NEAR(dv, 0.0, 1e-12 * scale);
  }
  const double Su[3] = {1, 0, 0}, Sv[3] = {0, 1, 0}, N[3] = {0, 0, 1e-11}, d[3] = {1, 1, 0};
  double du = 7, dv = 7;
  EXPECT_EQ(DParamfromDisplacement(d, Su, Sv, N, &du, &dv), -2);
  EXPECT_EQ(du, 7);
}

TEST_F(NewtonRefine, ProjectionAlongADirectionHitsTheSurface) {
  Bspline* s = BuildFunctionPatch(Wavy);
  ASSERT_NE(s, nullptr);
  // Straight down: on a non-rational function patch x is u and y is v.
  const double P[3] = {0.37, 0.62, 3.0}, down[3] = {0, 0, -1};
  double u = 0.5, v = 0.5;
  EXPECT_EQ(FindProjectionUVPointGuess(s, P, down, &u, &v, 20), 0);
  EXPECT_NEAR(u, 0.37, 2e-5);  // the tolerance is 5e-6 of the control-point diagonal
  EXPECT_NEAR(v, 0.62, 2e-5);

  // Obliquely from a point off the surface towards a known surface point.
  double S0[3], D[3], Q[3];
  RefEvalSurface(s, 0.7, 0.2, S0);
  const double dir[3] = {0.3, -0.2, -1.0};
  for (int k = 0; k < 3; ++k) Q[k] = S0[k] - dir[k], D[k] = dir[k];
  u = 0.6, v = 0.3;
  EXPECT_EQ(FindProjectionUVPointGuess(s, Q, D, &u, &v, 30), 0);
  EXPECT_NEAR(u, 0.7, 2e-5);
  EXPECT_NEAR(v, 0.2, 2e-5);

  // A line parallel to the (flat) surface never meets it.
  Bspline* flat = BuildFunctionPatch([](double, double) { return 0.0; });
  ASSERT_NE(flat, nullptr);
  const double along[3] = {1, 0, 0};
  u = v = 0.5;
  EXPECT_EQ(FindProjectionUVPointGuess(flat, P, along, &u, &v, 10), -2);
  FreeBspline(flat);
  FreeBspline(s);
}

TEST_F(NewtonRefine, OlderClosestPointFindsTheFootOfANormalOffset) {
  Bspline* s = BuildFunctionPatch(Wavy);
  ASSERT_NE(s, nullptr);
  double S0[3], Su[3], Sv[3], n[3], P[3];
  RefEvalSurface(s, 0.4, 0.55, S0);
  RefEvalDeriv(s, 0.4, 0.55, 1, 0, Su);
  RefEvalDeriv(s, 0.4, 0.55, 0, 1, Sv);
  VecNormalize3(VecCrossProd3(Su, Sv, n), n);
  for (int k = 0; k < 3; ++k) P[k] = S0[k] + 0.08 * n[k];
  double u = 0.45, v = 0.5, S[3], dsq, step;
  EXPECT_EQ(FindClosestUVPointGuess(s, P, S, &u, &v, &dsq, &step, 30), 0);
  EXPECT_NEAR(u, 0.4, 1e-5);
  EXPECT_NEAR(v, 0.55, 1e-5);
  EXPECT_NEAR(dsq, 0.0064, 1e-7);
  FreeBspline(s);
}

TEST_F(NewtonRefine, IsoLineCrossingOfAParameterCurve) {
  Bspline* c = BuildCurve(3, 2, {0.1, 0.1, 0.3, 0.6, 0.7, 0.2, 0.9, 0.8});
  ASSERT_NE(c, nullptr);
  for (double value : {0.25, 0.5, 0.8}) {
    double pt[2], t = 0.5, res;
    EXPECT_EQ(FindXorYIntersectCurve2(c, value, 1, pt, &t, &res, 20), 0);
    double ref[3];
    RefEvalCurve(c, t, ref);
    EXPECT_NEAR(ref[0], value, 1e-6);
    EXPECT_NEAR(pt[0], ref[0], 1e-12);
    EXPECT_NEAR(pt[1], ref[1], 1e-12);
    EXPECT_LT(std::fabs(res), 1e-6);
  }
  // The curve never reaches u = 2: it ends at the range end.
  double pt[2], t = 0.5, res;
  EXPECT_EQ(FindXorYIntersectCurve2(c, 2.0, 1, pt, &t, &res, 15), -2);
  EXPECT_EQ(t, 1.0);
  FreeBspline(c);
}

TEST_F(NewtonRefine, ParameterCurvesCrossInThePlaneAndOnASurface) {
  // Without an owner the curves are compared as (u, v, 0), with one in space.
  Bspline* s = BuildFunctionPatch(Wavy);
  ASSERT_NE(s, nullptr);
  const std::vector<double> bent = {0.1, 0.1, 0.4, 0.3, 0.6, 0.7, 0.9, 0.9};
  const std::vector<double> straight = {0.1, 0.9, 0.9, 0.1};
  for (bool onSurface : {false, true}) {
    Bspline* a = onSurface ? BuildCurveOnSurface(s, 3, bent) : BuildCurve(3, 2, bent);
    Bspline* b = onSurface ? BuildCurveOnSurface(s, 1, straight) : BuildCurve(1, 2, straight);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    double t1 = 0.3, t2 = 0.6, dsq;
    EXPECT_EQ(RefineCurve2Intersect(a, b, &t1, &t2, &dsq, 20), 0);
    EXPECT_LT(dsq, 1e-14);
    double uv1[3], uv2[3];
    RefEvalCurve(a, t1, uv1);
    RefEvalCurve(b, t2, uv2);
    EXPECT_NEAR(uv1[0], uv2[0], 1e-6);
    EXPECT_NEAR(uv1[1], uv2[1], 1e-6);
    EXPECT_NEAR(uv2[0] + uv2[1], 1.0, 1e-9);  // on the straight one
    if (!onSurface) {
      FreeBspline(a);
      FreeBspline(b);
    }
  }
  FreeBspline(s);  // frees the curves on it
}

TEST_F(NewtonRefine, ParallelParameterCurvesFailCleanly) {
  // Parallel straight lines: the Newton system is singular; the refiner must stop with -2
  // and leave finite parameters rather than divide by zero.
  Bspline* l1 = BuildCurve(1, 2, {0.1, 0.2, 0.9, 0.2});
  Bspline* l2 = BuildCurve(1, 2, {0.1, 0.5, 0.9, 0.5});
  ASSERT_NE(l1, nullptr);
  ASSERT_NE(l2, nullptr);
  double t1 = 0.3, t2 = 0.6, dsq;
  EXPECT_EQ(RefineCurve2Intersect(l1, l2, &t1, &t2, &dsq, 10), -2);
  EXPECT_TRUE(std::isfinite(t1) && std::isfinite(t2));
  EXPECT_NEAR(dsq, 0.24 * 0.24 + 0.09, 1e-12);
  FreeBspline(l1);
  FreeBspline(l2);
}

TEST_F(NewtonRefine, TwoSurfacesMeetOnTheirIntersection) {
  Bspline* wavy = BuildFunctionPatch(Wavy);
  Bspline* tilted = BuildFunctionPatch([](double x, double y) { return 0.05 + 0.1 * x - 0.05 * y; });
  ASSERT_NE(wavy, nullptr);
  ASSERT_NE(tilted, nullptr);
  const double tol = 1e-7;
  double u1 = 0.08, v1 = 0.4, u2 = 0.06, v2 = 0.42, P[3];  // near where the two meet
  int clamped = 5;
  EXPECT_EQ(NewRefineSrfSrfIntrPoint(wavy, tilted, &u1, &v1, &u2, &v2, P, 30, &clamped, tol), 0);
  EXPECT_EQ(clamped, 0);
  double A[3], B[3];
  RefEvalSurface(wavy, u1, v1, A);
  RefEvalSurface(tilted, u2, v2, B);
  EXPECT_LT(VecDist3(A, B), tol);
  EXPECT_LT(VecDist3(A, P), 1e-12);

  // Starting outside the boxes: the parameters are clamped and the flag says so.
  u1 = -0.2, v1 = 0.4, u2 = 0.5, v2 = 1.3;
  NewRefineSrfSrfIntrPoint(wavy, tilted, &u1, &v1, &u2, &v2, P, 30, &clamped, tol);
  EXPECT_EQ(clamped, 1);

  // Parallel planes have no intersection line.
  Bspline* p1 = BuildFunctionPatch([](double, double) { return 0.0; });
  Bspline* p2 = BuildFunctionPatch([](double, double) { return 1.0; });
  u1 = v1 = u2 = v2 = 0.5;
  EXPECT_EQ(NewRefineSrfSrfIntrPoint(p1, p2, &u1, &v1, &u2, &v2, P, 10, &clamped, tol), -2);
  FreeBspline(p1);
  FreeBspline(p2);
  FreeBspline(wavy);
  FreeBspline(tilted);
}

}  // namespace
