// The refiners that polish a caller's parameter guess: closest points on curves and surfaces
// and closest pairs of curves (against normal offsets, dense sampling and plain geometry),
// projection along a direction, iso-line and curve crossings, surface intersections, and the
// degenerate cases that must stop with -2.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "foundation/vec3.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/placement.h"

namespace {

class Refiners : public KernelTest {};

double Wavy(double x, double y) {
  return 0.25 * std::sin(2.5 * x) * std::cos(1.5 * y) + 0.1 * x * y;
}
double Zero(double, double) { return 0.0; }

// A random unit vector perpendicular to d.
void Perpendicular(const double d[3], std::mt19937& rng, double out[3]) {
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double r[3] = {U(rng), U(rng), U(rng)};
  VecNormalize3(VecCrossProd3(d, r, out), out);
}

void SurfaceNormal(Bspline* s, double u, double v, double n[3]) {
  double Su[3], Sv[3];
  RefEvalDeriv(s, u, v, 1, 0, Su);
  RefEvalDeriv(s, u, v, 0, 1, Sv);
  VecNormalize3(VecCrossProd3(Su, Sv, n), n);
}

// Space curves offset across their tangent, and a curve on a surface offset along the surface
// normal (perpendicular to the curve's image too): the foot is found again.
TEST_F(Refiners, NormalOffsetFromACurveProjectsBackToItsFoot) {
  BsplineKeeper keep;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.15, 0.85);
  for (unsigned seed = 1; seed <= 12; ++seed) {
    Bspline* c = keep(BuildRandomCurve(seed, 3, 7, 3, seed % 3 == 0));
    const double t0 = U(rng), delta = 2e-3;
    double C[3], D[3], n[3], P[3];
    RefEvalCurve(c, t0, C);
    RefEvalDeriv(c, t0, 0.0, 1, 0, D);
    Perpendicular(D, rng, n);
    for (int k = 0; k < 3; ++k) P[k] = C[k] + delta * n[k];
    double t = t0 + 0.01, foot[3], dsq, step;
    EXPECT_EQ(FindClosestPointCurve3(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 30), 0) << seed;
    EXPECT_NEAR(t, t0, 1e-7) << seed;
    EXPECT_NEAR(std::sqrt(dsq), delta, 1e-9) << seed;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(foot[k], C[k], 1e-8);
  }
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.layout = KnotLayout::Random}));
  Bspline* c = BuildCurveOnSurface(s, 3, {0.05, 0.1, 0.3, 0.5, 0.6, 0.2, 0.95, 0.9});
  for (double t0 : {0.2, 0.45, 0.7})
    for (double delta : {0.01, -0.01}) {
      double uv[3], C[3], n[3], P[3];
      RefEvalCurve(c, t0, uv);
      RefEvalSurface(s, uv[0], uv[1], C);
      SurfaceNormal(s, uv[0], uv[1], n);
      for (int k = 0; k < 3; ++k) P[k] = C[k] + delta * n[k];
      double t = t0 - 0.02, foot[3], dsq, step;
      EXPECT_EQ(FindClosestPointCurveOnSurf(c, P, foot, 0.0, 1.0, &t, &dsq, &step, 30), 0);
      EXPECT_NEAR(t, t0, 1e-7);
      EXPECT_NEAR(std::sqrt(dsq), std::fabs(delta), 1e-9);
    }
}

TEST_F(Refiners, NormalOffsetFromASurfaceProjectsBackWithSignedDistance) {
  BsplineKeeper keep;
  for (bool rational : {false, true}) {
    Bspline* s = keep(
        BuildFunctionPatch(Wavy, {.layout = KnotLayout::Random, .rational = rational, .seed = 4}));
    for (double u0 : {0.2, 0.55, 0.8})
      for (double v0 : {0.3, 0.6})
        for (double delta : {0.05, -0.05}) {
          double S0[3], n[3], P[3];
          RefEvalSurface(s, u0, v0, S0);
          SurfaceNormal(s, u0, v0, n);
          for (int k = 0; k < 3; ++k) P[k] = S0[k] + delta * n[k];
          double u = u0 + 0.04, v = v0 - 0.03, S[3], dist, step, normal[3];
          EXPECT_EQ(FindClosestUVPointGuessNorm(s, P, S, &u, &v, &dist, &step, 30, normal), 0);
          EXPECT_NEAR(u, u0, 1e-12);
          EXPECT_NEAR(v, v0, 1e-12);
          EXPECT_NEAR(dist, delta, 1e-8) << "the back side gives a negative distance";
          EXPECT_GT(VecDotProd3(normal, n) / VecSize3(normal), 1.0 - 1e-9);
          u = u0 - 0.05, v = v0 + 0.05;
          EXPECT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 30), 0);
          EXPECT_NEAR(dist, delta, 1e-8);
          u = u0 + 0.05, v = v0 - 0.05;  // the older refiner reports the squared distance
          EXPECT_EQ(FindClosestUVPointGuess(s, P, S, &u, &v, &dist, &step, 30), 0);
          EXPECT_NEAR(dist, delta * delta, 1e-7);
        }
  }
}

// The older refiner's convergence test is a share of the surface's size: at 1e-6 a first step
// far below any absolute floor is still most of the way to the foot.
TEST_F(Refiners, OlderRefinerFindsTheFootAtEverySizeAndPlace) {
  BsplineKeeper keep;
  for (const Place& pl : EveryPlace()) {
    Bspline* s = keep(BuildFunctionPatch(Wavy, {.layout = KnotLayout::Random, .seed = 4}));
    pl.Map(s);
    const double u0 = 0.55, v0 = 0.3, delta = 0.05;
    double S0[3], n[3], P[3], S[3], dist, step;
    RefEvalSurface(s, u0, v0, S0);
    SurfaceNormal(s, u0, v0, n);
    for (int k = 0; k < 3; ++k) P[k] = S0[k] + delta * pl.size * n[k];
    double u = u0 + 0.05, v = v0 - 0.05;
    EXPECT_EQ(FindClosestUVPointGuess(s, P, S, &u, &v, &dist, &step, 30), 0) << Where(pl);
    EXPECT_NEAR(u, u0, 1e-5) << Where(pl);
    EXPECT_NEAR(v, v0, 1e-5) << Where(pl);
  }
}

TEST_F(Refiners, SurfaceResultAgreesWithDenseSampling) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wavy, {.nu = 8, .nv = 7}));
  const int m = 300;
  std::vector<std::array<double, 3>> dense((m + 1) * (m + 1));
  for (int j = 0; j <= m; ++j)
    for (int i = 0; i <= m; ++i)
      RefEvalSurface(s, double(i) / m, double(j) / m, dense[j * (m + 1) + i].data());
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(-0.1, 1.1), H(-0.4, 0.4);
  for (int trial = 0; trial < 15; ++trial) {
    const double P[3] = {U(rng), U(rng), H(rng)};
    double best = 1e300, u = 0, v = 0, denseMin = 1e300;
    for (int j = 0; j <= 10; ++j)
      for (int i = 0; i <= 10; ++i)
        if (const double d = VecDist3(dense[(j * 30) * (m + 1) + i * 30].data(), P); d < best)
          best = d, u = i / 10.0, v = j / 10.0;
    for (const auto& q : dense) denseMin = std::min(denseMin, VecDist3(q.data(), P));
    double S[3], dist, step, at[3];
    EXPECT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 40), 0);
    EXPECT_LE(std::fabs(dist), denseMin + 1e-9) << trial;
    RefEvalSurface(s, u, v, at);
    EXPECT_LT(VecDist3(at, S), 1e-12);
    EXPECT_NEAR(VecDist3(S, P), std::fabs(dist), 1e-12);
  }
}

TEST_F(Refiners, PointBeyondTheEndAndAPointCurve) {
  BsplineKeeper keep;
  // Beyond the end the foot stays off the tangent line: the end point after the iterations.
  Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 1, 0.5, 0, 2, 0.5, 0, 3, 0, 0}));
  const double Q[3] = {4.0, -0.5, 0.0};
  double foot[3], dsq, step, t = 0.9;
  EXPECT_EQ(FindClosestPointCurve3(c, Q, foot, 0.0, 1.0, &t, &dsq, &step, 10), -2);
  EXPECT_EQ(t, 1.0);
  EXPECT_NEAR(dsq, 1.0 + 0.25, 1e-12);
  // A curve whose tangent vanishes (all control points equal) fails cleanly.
  Bspline* dot = keep(BuildCurve(2, 3, {1, 1, 1, 1, 1, 1, 1, 1, 1}));
  t = 0.5;
  EXPECT_EQ(FindClosestPointCurve3(dot, Q, foot, 0.0, 1.0, &t, &dsq, &step, 5), -2);
}

// Crossing curves meet (through either pair refiner); parallel lines stop at once.
TEST_F(Refiners, CurvePairsMatchTheGeometry) {
  BsplineKeeper keep;
  Bspline* a = keep(BuildRandomCurve(7, 3, 6));
  double Q[3], D[3], n[3];
  RefEvalCurve(a, 0.4, Q);
  RefEvalDeriv(a, 0.4, 0.0, 1, 0, D);
  std::mt19937 rng(1);
  Perpendicular(D, rng, n);
  // A straight cubic through a(0.4) across it, crossing at its own parameter 0.5.
  std::vector<double> pts;
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 3; ++k)
      pts.push_back(Q[k] + (i / 3.0 - 0.5) * 0.6 * (n[k] + 0.3 * D[k] / VecSize3(D)));
  Bspline* b = keep(BuildCurve(3, 3, pts));
  double t1, t2, dsq;
  for (auto refine : {RefineCurve3sClosestPoint, RefineCurvesClosestPoint}) {
    t1 = 0.43, t2 = 0.46;
    EXPECT_EQ(refine(a, b, &t1, &t2, &dsq, 30), 0);
    EXPECT_LT(dsq, 1e-14);
    EXPECT_NEAR(t1, 0.4, 1e-6);
    EXPECT_NEAR(t2, 0.5, 1e-6);
  }
  Bspline* l1 = keep(BuildCurve(1, 3, {0, 0, 0, 1, 0, 0}));
  Bspline* l2 = keep(BuildCurve(1, 3, {0, 1, 0, 1, 1, 0}));
  t1 = 0.2, t2 = 0.7;
  EXPECT_EQ(RefineCurve3sClosestPoint(l1, l2, &t1, &t2, &dsq, 10), 0);
  EXPECT_TRUE(t1 == 0.2 && t2 == 0.7);
  EXPECT_NEAR(dsq, 0.25 + 1.0, 1e-12);
}

// Tangents that are nearly parallel leave the step undefined: refused, outputs untouched.
TEST_F(Refiners, DisplacementStepRefusesDegenerateTangents) {
  const double Su[3] = {1, 0, 0}, Sv[3] = {0, 1, 0}, N[3] = {0, 0, 1e-11}, d[3] = {1, 1, 0};
  double du = 7, dv = 7;
  EXPECT_EQ(DParamfromDisplacement(d, Su, Sv, N, &du, &dv), -2);
  EXPECT_EQ(du, 7);
}

TEST_F(Refiners, ProjectionsHitTheSurfaceWhereExpected) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wavy));
  // Obliquely from a point off the surface towards a known surface point.
  double S0[3], Q[3];
  RefEvalSurface(s, 0.7, 0.2, S0);
  const double dir[3] = {0.3, -0.2, -1.0}, P[3] = {0.37, 0.62, 3.0};
  for (int k = 0; k < 3; ++k) Q[k] = S0[k] - dir[k];
  double u = 0.6, v = 0.3;
  EXPECT_EQ(FindProjectionUVPointGuess(s, Q, dir, &u, &v, 30), 0);
  EXPECT_NEAR(u, 0.7, 2e-5);  // the tolerance is 5e-6 of the control-point diagonal
  EXPECT_NEAR(v, 0.2, 2e-5);
  // A line parallel to the (flat) surface never meets it.
  Bspline* flat = keep(BuildFunctionPatch(Zero));
  const double along[3] = {1, 0, 0};
  u = v = 0.5;
  EXPECT_EQ(FindProjectionUVPointGuess(flat, P, along, &u, &v, 10), -2);
}

TEST_F(Refiners, IsoLineCrossingOfAParameterCurve) {
  BsplineKeeper keep;
  Bspline* c = keep(BuildCurve(3, 2, {0.1, 0.1, 0.3, 0.6, 0.7, 0.2, 0.9, 0.8}));
  double pt[2], t, res;
  for (double value : {0.25, 0.5, 0.8}) {
    t = 0.5;
    EXPECT_EQ(FindXorYIntersectCurve2(c, value, 1, pt, &t, &res, 20), 0);
    double ref[3];
    RefEvalCurve(c, t, ref);
    EXPECT_NEAR(ref[0], value, 1e-6);
    EXPECT_NEAR(pt[0], ref[0], 1e-12);
    EXPECT_NEAR(pt[1], ref[1], 1e-12);
    EXPECT_LT(std::fabs(res), 1e-6);
  }
  // The curve never reaches u = 2: it ends at the range end.
  t = 0.5;
  EXPECT_EQ(FindXorYIntersectCurve2(c, 2.0, 1, pt, &t, &res, 15), -2);
  EXPECT_EQ(t, 1.0);
}

// Without an owner the curves are compared as (u, v, 0), with one in space.
TEST_F(Refiners, ParameterCurvesCrossInThePlaneAndOnASurface) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wavy));
  const std::vector<double> bent = {0.1, 0.1, 0.4, 0.3, 0.6, 0.7, 0.9, 0.9},
                            straight = {0.1, 0.9, 0.9, 0.1};
  for (bool onSurface : {false, true}) {
    // Curves on the surface go with it.
    Bspline* a = onSurface ? BuildCurveOnSurface(s, 3, bent) : keep(BuildCurve(3, 2, bent));
    Bspline* b = onSurface ? BuildCurveOnSurface(s, 1, straight) : keep(BuildCurve(1, 2, straight));
    double t1 = 0.3, t2 = 0.6, dsq, uv1[3], uv2[3];
    EXPECT_EQ(RefineCurve2Intersect(a, b, &t1, &t2, &dsq, 20), 0);
    EXPECT_LT(dsq, 1e-14);
    RefEvalCurve(a, t1, uv1);
    RefEvalCurve(b, t2, uv2);
    EXPECT_NEAR(uv1[0], uv2[0], 1e-6);
    EXPECT_NEAR(uv1[1], uv2[1], 1e-6);
    EXPECT_NEAR(uv2[0] + uv2[1], 1.0, 1e-9);  // on the straight one
  }

  // Parallel straight lines: the Newton system is singular; the refiner must stop with -2
  // and leave finite parameters rather than divide by zero.
  Bspline* l1 = keep(BuildCurve(1, 2, {0.1, 0.2, 0.9, 0.2}));
  Bspline* l2 = keep(BuildCurve(1, 2, {0.1, 0.5, 0.9, 0.5}));
  double t1 = 0.3, t2 = 0.6, dsq;
  EXPECT_EQ(RefineCurve2Intersect(l1, l2, &t1, &t2, &dsq, 10), -2);
  EXPECT_TRUE(std::isfinite(t1) && std::isfinite(t2));
  EXPECT_NEAR(dsq, 0.24 * 0.24 + 0.09, 1e-12);
}

TEST_F(Refiners, TwoSurfacesMeetOnTheirIntersection) {
  BsplineKeeper keep;
  Bspline* wavy = keep(BuildFunctionPatch(Wavy));
  Bspline* tilted =
      keep(BuildFunctionPatch([](double x, double y) { return 0.05 + 0.1 * x - 0.05 * y; }));
  const double tol = 1e-7;
  double u1 = 0.08, v1 = 0.4, u2 = 0.06, v2 = 0.42, P[3], A[3], B[3];  // near where they meet
  int clamped = 5;
  EXPECT_EQ(NewRefineSrfSrfIntrPoint(wavy, tilted, &u1, &v1, &u2, &v2, P, 30, &clamped, tol), 0);
  EXPECT_EQ(clamped, 0);
  RefEvalSurface(wavy, u1, v1, A);
  RefEvalSurface(tilted, u2, v2, B);
  EXPECT_LT(VecDist3(A, B), tol);
  EXPECT_LT(VecDist3(A, P), 1e-12);
  // Parallel planes have no intersection line.
  Bspline* p1 = keep(BuildFunctionPatch(Zero));
  Bspline* p2 = keep(BuildFunctionPatch([](double, double) { return 1.0; }));
  u1 = v1 = u2 = v2 = 0.5;
  EXPECT_EQ(NewRefineSrfSrfIntrPoint(p1, p2, &u1, &v1, &u2, &v2, P, 10, &clamped, tol), -2);
}


// An exact half circle of radius 1 (rational quadratic) and a segment parallel to its axis at
// e = 0.05 .. 3 from its centre, beside the arc at 20 .. 160 degrees: the gap's one minimum is
// |1 - e|, between the arc's point at that angle and the segment's point in its plane. Where
// the gap exceeds the radius of curvature (e > 2) a model of the gap without the curvature
// overshoots round the bend; near the centre (e small) the gap changes by 2 e at most round the
// arc. From any start both pair refiners reach it, at sizes 1e-6 .. 1e6, at the origin and
// turned and moved 1e4 sizes away.
TEST_F(Refiners, CurvePairsReachTheGapAroundABend) {
  const double w = std::sqrt(0.5);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.0, 1.0), E(0.05, 3.0), A(20.0, 160.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* arc = keep(BuildCurve(2, 3, {1, 0, 0, 1, 1, 0, 0, 1, 0, -1, 1, 0, -1, 0, 0}, {0, 0, 0, .5, .5, 1, 1, 1},
                                     {1, w, 1, w, 1}));
      ASSERT_TRUE(arc);
      at.Map(arc);
      for (int q = 0; q < 30; ++q) {
        const double e = E(rng), a = A(rng) * M_PI / 180.0, x = e * std::cos(a), y = e * std::sin(a);
        Bspline* line = keep(BuildCurve(1, 3, {x, y, -1.0 - U(rng), x, y, 1.0 + U(rng)}));
        ASSERT_TRUE(line);
        at.Map(line);
        for (auto refine : {RefineCurve3sClosestPoint, RefineCurvesClosestPoint}) {
          double t1 = U(rng), t2 = U(rng), dsq;
          ASSERT_EQ(refine(arc, line, &t1, &t2, &dsq, 7), 0);
          EXPECT_NEAR(std::sqrt(dsq), size * std::fabs(1.0 - e), 1e-9 * size) << size << " " << far << " " << q;
        }
      }
    }
}

}  // namespace

// A unit circle and a line across its plane through (3, 0, 0), tilted 60 degrees out of it,
// started on the circle's far point (-1, 0, 0) and the line's: the gap's gradient is nil there
// but it is a saddle, the gap falling round the circle. Both refiners go on to the nearest pair,
// (1, 0, 0) and (3, 0, 0) at 2, at every size and place.
TEST_F(Refiners, ClosestPairLeavesASaddleOfTheGap) {
  const double ca = 0.5, sa = std::sqrt(0.75);
  for (const Place& at : EveryPlace()) {
    BsplineKeeper keep;
    Bspline* circle = keep(BuildEllipseCurve(1.0, 1.0));
    Bspline* line = keep(BuildCurve(1, 3, {3, -ca, -sa, 3, ca, sa}));
    at.Map(circle);
    at.Map(line);
    for (auto refine : {RefineCurve3sClosestPoint, RefineCurvesClosestPoint}) {
      double t1 = 0.5, t2 = 0.5, dsq = -1.0;
      ASSERT_EQ(refine(circle, line, &t1, &t2, &dsq, 20), 0) << Where(at);
      EXPECT_NEAR(std::sqrt(dsq), 2.0 * at.size, 1e-11 * at.size) << Where(at);
      EXPECT_TRUE(t1 < 1e-9 || t1 > 1.0 - 1e-9) << Where(at) << " " << t1;
      EXPECT_NEAR(t2, 0.5, 1e-9) << Where(at);
    }
  }
}
