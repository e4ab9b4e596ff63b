// Feet of points on curves and surfaces found to round-off: points placed at known normal
// offsets from known feet (below the radius of curvature on their side, up to 0.95 of it) are
// projected back onto the foot at any scale, from near and far starts; the gradient of the
// squared distance vanishes there; beyond the domain the constrained minimum on the edge or at
// the corner is the answer; a circle gives its closed-form feet even from where the distance
// is nearly flat.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/srfgrid.h"
#include "foundation/vec3.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"
#include "tests/support/placement.h"

namespace {

class Feet : public KernelTest {};

double Dot(const double a[3], const double b[3]) { return VecDotProd3(a, b); }

double Wave(double x, double y) {
  return 0.15 * std::sin(3.0 * x + 0.5) * std::cos(2.5 * y) + 0.1 * x * y;
}

// Surfaces of degree 2 to 5 (mixed in u and v, rational or not) at scales 1e-6, 1 and 1e6, moved
// off the origin: every placed point projects back onto its foot to 1e-9 of the size, the
// distance to 1e-12 relative, the gradient of the squared distance is round-off, and the
// parameters are those found at unit scale.
TEST_F(Feet, SurfaceFeetAtKnownOffsetsAtEveryScale) {
  BsplineKeeper keep;
  for (int p = 2; p <= 5; ++p) {
    PatchOptions o;
    o.degreeU = p;
    o.degreeV = p == 5 ? 2 : p + 1;
    o.nu = o.degreeU + 4;
    o.nv = o.degreeV + 3;
    o.layout = KnotLayout::Random;
    o.rational = p % 2 == 1;
    o.seed = 10 + p;
    std::vector<double> unitParams;
    for (double scale : {1.0, 1e-6, 1e6}) {
      Bspline* s = keep(BuildFunctionPatch(Wave, o));
      const double shift[3] = {0.7 * scale, -0.4 * scale, 1.3 * scale};
      ScaleAndMove(s, scale, shift);
      std::mt19937 rng(p);
      std::uniform_real_distribution<double> U(0.1, 0.9), ratio(0.0, 0.95), J(-0.03, 0.03);
      for (int q = 0; q < 25; ++q) {
        const double u0 = U(rng), v0 = U(rng), side = q % 2 ? 1.0 : -1.0, rho = ratio(rng);
        const SurfaceFrame f = FrameAt(s, u0, v0, side);
        // Offset rho of the radius of curvature on the bending side, else up to 0.2 of the size.
        const double h = f.k > 0 ? std::fmin(rho / f.k, 0.2 * scale) : 0.2 * rho * scale;
        double P[3], S[3], dist, step;
        for (int k = 0; k < 3; ++k) P[k] = f.S[k] + side * h * f.n[k];
        double u = u0 + J(rng), v = v0 + J(rng);
        ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
        EXPECT_LT(VecDist3(S, f.S), 1e-9 * scale) << p << " " << scale << " " << q;
        EXPECT_NEAR(dist, side * h, 1e-12 * h) << p << " " << scale << " " << q;
        double Su[3], Sv[3], r[3];
        RefEvalDeriv(s, u, v, 1, 0, Su);
        RefEvalDeriv(s, u, v, 0, 1, Sv);
        VecDiff3(S, P, r);
        EXPECT_LT(std::fabs(Dot(r, Su)) / VecSize3(Su), 1e-12 * scale) << p << " " << q;
        EXPECT_LT(std::fabs(Dot(r, Sv)) / VecSize3(Sv), 1e-12 * scale) << p << " " << q;
        // The convergence value keeps its meaning: the squared tangent-plane step, less 1e-10.
        EXPECT_NEAR(step, -1e-10, 1e-20 + 1e-24 * scale * scale);
        if (scale == 1.0) {
          unitParams.push_back(u);
          unitParams.push_back(v);
        } else {
          EXPECT_NEAR(u, unitParams[2 * q], 1e-11) << p << " " << scale << " " << q;
          EXPECT_NEAR(v, unitParams[2 * q + 1], 1e-11) << p << " " << scale << " " << q;
        }
      }
    }
  }
}

// From the far corner of the domain, with Newton steps that overshoot and Hessians that are not
// positive definite on the way, the foot on a bowl (one minimum of the distance) is reached.
TEST_F(Feet, FarStartsReachTheFoot) {
  BsplineKeeper keep;
  PatchOptions o;
  o.nu = o.nv = 7;
  Bspline* bowl = keep(BuildFunctionPatch(
      [](double x, double y) { return 0.6 * ((x - 0.4) * (x - 0.4) + (y - 0.5) * (y - 0.5)); }, o));
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> U(0.15, 0.85), H(0.02, 0.5);
  for (int q = 0; q < 30; ++q) {
    const double u0 = U(rng), v0 = U(rng);
    // Below the bowl (the convex side) any offset keeps the foot.
    const SurfaceFrame f = FrameAt(bowl, u0, v0, -1.0);
    double P[3], S[3], dist, step;
    const double h = H(rng);
    for (int k = 0; k < 3; ++k) P[k] = f.S[k] - h * f.n[k];
    double u = q % 2 ? 0.0 : 1.0, v = q % 3 ? 1.0 : 0.0;
    ASSERT_EQ(FindClosestUVPointGuessDist(bowl, P, S, &u, &v, &dist, &step, 1), 0);
    EXPECT_LT(VecDist3(S, f.S), 1e-12) << q;
    EXPECT_NEAR(u, u0, 1e-11) << q;
    EXPECT_NEAR(v, v0, 1e-11) << q;
    // A thousand sizes away the first steps overshoot the domain many times over; round-off
    // of the distance then limits the foot to about 1e-12 of that distance.
    for (int k = 0; k < 3; ++k) P[k] = f.S[k] - 1e3 * f.n[k];
    u = q % 2 ? 1.0 : 0.0, v = q % 3 ? 0.0 : 1.0;
    ASSERT_EQ(FindClosestUVPointGuessDist(bowl, P, S, &u, &v, &dist, &step, 1), 0);
    EXPECT_LT(VecDist3(S, f.S), 1e-9) << q;
  }
}

// Beyond an edge of the domain the foot is the constrained minimum on that edge (the point
// differs from the edge point by a vector across the edge curve and outwards); beyond a corner
// it is the corner.
TEST_F(Feet, BeyondTheDomainTheConstrainedMinimumIsTheAnswer) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wave, {.nu = 7, .nv = 6, .layout = KnotLayout::Random}));
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> U(0.2, 0.8), A(0.02, 0.2), B(-0.1, 0.1);
  for (int q = 0; q < 24; ++q) {
    const int edge = q % 4;  // u = 0, u = 1, v = 0, v = 1
    const bool alongV = edge < 2;
    const double fixed = edge % 2 ? 1.0 : 0.0, free = U(rng);
    const double u0 = alongV ? fixed : free, v0 = alongV ? free : fixed;
    const SurfaceFrame f = FrameAt(s, u0, v0, 1.0);
    // Outward across the edge curve: the cross partial made perpendicular to the edge tangent.
    const double* along = alongV ? f.Sv : f.Su;
    const double* across = alongV ? f.Su : f.Sv;
    double w[3], P[3], S[3], dist, step;
    const double c = Dot(across, along) / Dot(along, along);
    for (int k = 0; k < 3; ++k) w[k] = (edge % 2 ? 1.0 : -1.0) * (across[k] - c * along[k]);
    UnitVector(w, w);
    const double a = A(rng), b = B(rng);
    for (int k = 0; k < 3; ++k) P[k] = f.S[k] + a * w[k] + b * f.n[k];
    double u = 0.5, v = 0.5;
    ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
    EXPECT_EQ(alongV ? u : v, fixed) << q;
    EXPECT_NEAR(alongV ? v : u, free, 1e-11) << q;
    EXPECT_LT(VecDist3(S, f.S), 1e-12) << q;
    EXPECT_NEAR(std::fabs(dist), std::hypot(a, b), 1e-12) << q;
    // The step to the tangent plane's foot stays: the answer is not an interior stationary point.
    EXPECT_GT(step, 0.5 * a * a) << q;
  }
  // Beyond the corner (1, 1): both gradients point out of the domain.
  const SurfaceFrame f = FrameAt(s, 1.0, 1.0, 1.0);
  double P[3], S[3], dist, step, u = 0.3, v = 0.4;
  for (int k = 0; k < 3; ++k)
    P[k] = f.S[k] + 0.1 * f.Su[k] / VecSize3(f.Su) + 0.1 * f.Sv[k] / VecSize3(f.Sv);
  ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
  EXPECT_EQ(u, 1.0);
  EXPECT_EQ(v, 1.0);
}

// Space curves of degree 2 to 5 at scales 1e-6, 1 and 1e6: points across the tangent, on the
// bending side up to 0.95 of the radius of curvature, project back onto their feet with result 0,
// the parameters those of unit scale; with the curve's size given, to the same bits.
TEST_F(Feet, CurveFeetAtKnownOffsetsAtEveryScale) {
  BsplineKeeper keep;
  for (int p = 2; p <= 5; ++p) {
    std::vector<double> unitParams;
    for (double scale : {1.0, 1e-6, 1e6}) {
      Bspline* c = keep(BuildRandomCurve(20 + p, p, p + 5, 3, p == 3));
      const double shift[3] = {-2.0 * scale, 0.5 * scale, 0.9 * scale};
      ScaleAndMove(c, scale, shift);
      std::mt19937 rng(p);
      std::uniform_real_distribution<double> U(0.1, 0.9), ratio(0.0, 0.95), A(0.0, 2 * M_PI),
          J(-0.01, 0.01);
      for (int q = 0; q < 25; ++q) {
        const double t0 = U(rng), rho = ratio(rng), angle = A(rng);
        const CurveFrame f = CurveFrameAt(c, t0, angle);
        const double h = f.k > 0 ? std::fmin(rho / f.k, 0.1 * scale) : 0.1 * rho * scale;
        double P[3], C[3], dsq, step;
        for (int k = 0; k < 3; ++k) P[k] = f.C[k] + h * f.n[k];
        const double start = t0 + J(rng);
        double t = start;
        ASSERT_EQ(FindClosestPointCurve3(c, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0)
            << p << " " << q;
        // Its size given once, the same search to the last bit; a size that is not a number
        // is refused.
        double tSized = start, CSized[3], dsqSized, stepSized;
        ASSERT_EQ(FindClosestPointCurve3OfSize(c, ControlPointDiagonal(c), P, CSized, 0.0, 1.0, &tSized, &dsqSized,
                                               &stepSized, 7),
                  0);
        EXPECT_TRUE(tSized == t && dsqSized == dsq && stepSized == step && VecDist3(C, CSized) == 0.0)
            << p << " " << scale << " " << q;
        EXPECT_EQ(FindClosestPointCurve3OfSize(c, std::nan(""), P, CSized, 0.0, 1.0, &tSized, &dsqSized, &stepSized, 7),
                  -2);
        EXPECT_LT(VecDist3(C, f.C), 1e-9 * scale) << p << " " << scale << " " << q;
        EXPECT_NEAR(std::sqrt(dsq), h, 1e-12 * h) << p << " " << scale << " " << q;
        double D[3], r[3];
        RefEvalDeriv(c, t, 0.0, 1, 0, D);
        EXPECT_LT(std::fabs(Dot(VecDiff3(C, P, r), D)) / VecSize3(D), 1e-12 * scale);
        EXPECT_LT(step, 1e-24 * scale * scale);
        if (scale == 1.0)
          unitParams.push_back(t);
        else
          EXPECT_NEAR(t, unitParams[q], 1e-11) << p << " " << scale << " " << q;
      }
    }
  }
}

// A curve on a surface, measured in space: points along the surface normal over the curve
// (perpendicular to the curve's image too) find their feet from either end of the curve.
TEST_F(Feet, CurveOnSurfaceFeetConverge) {
  BsplineKeeper keep;
  Bspline* s =
      keep(BuildFunctionPatch(Wave, {.layout = KnotLayout::Random, .rational = true, .seed = 3}));
  Bspline* c = BuildCurveOnSurface(s, 3, {0.05, 0.1, 0.3, 0.6, 0.6, 0.2, 0.95, 0.9});
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> U(0.1, 0.9), H(-0.2, 0.2);
  for (int q = 0; q < 20; ++q) {
    const double t0 = U(rng), h = H(rng);
    double uv[3], P[3], C[3], dsq, step;
    RefEvalCurve(c, t0, uv);
    const SurfaceFrame f = FrameAt(s, uv[0], uv[1], 1.0);
    for (int k = 0; k < 3; ++k) P[k] = f.S[k] + h * f.n[k];
    double t = q % 2 ? 0.0 : 1.0;  // from either end
    ASSERT_EQ(FindClosestPointCurveOnSurf(c, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0) << q;
    EXPECT_NEAR(t, t0, 1e-11) << q;
    EXPECT_NEAR(std::sqrt(dsq), std::fabs(h), 1e-12) << q;
  }
}

// A quarter circle of radius R (rational quadratic, exact): a point near the centre sees the arc
// at almost the same distance everywhere (offset over radius of curvature close to 1, where the
// projection onto the tangent oscillates); the foot lies in the point's direction from the
// centre, and beyond the arc the nearer end holds it (the documented -2 at an end).
TEST_F(Feet, NearTheCentreOfACircleTheFootIsInThePointsDirection) {
  BsplineKeeper keep;
  const double R = 2.0, w = std::sqrt(0.5);
  Bspline* arc = keep(BuildCurve(2, 3, {R, 0, 0, R, R, 0, 0, R, 0}, {0, 0, 0, 1, 1, 1}, {1, w, 1}));
  for (double delta : {0.3, 0.05, 1e-3})
    for (double deg : {10.0, 30.0, 45.0, 71.0, 85.0}) {
      const double a = deg * M_PI / 180.0;
      const double P[3] = {delta * R * std::cos(a), delta * R * std::sin(a), 0.0};
      for (double start : {0.0, 0.5, 1.0}) {
        double t = start, C[3], dsq, step;
        ASSERT_EQ(FindClosestPointCurve3(arc, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0)
            << delta << " " << deg;
        EXPECT_NEAR(std::atan2(C[1], C[0]), a, 1e-12 / delta)
            << delta << " " << deg << " " << start;
        EXPECT_NEAR(std::sqrt(dsq), R * (1.0 - delta), 1e-12 * R) << delta << " " << deg;
      }
    }
  // Behind the centre, towards 200 degrees: the end at 90 degrees is nearer than the one at 0.
  const double a = 200.0 * M_PI / 180.0, P[3] = {0.2 * std::cos(a), 0.2 * std::sin(a), 0.0};
  double t = 0.3, C[3], dsq, step;
  EXPECT_EQ(FindClosestPointCurve3(arc, P, C, 0.0, 1.0, &t, &dsq, &step, 7), -2);
  EXPECT_EQ(t, 1.0);
  EXPECT_NEAR(C[0], 0.0, 1e-15);
  EXPECT_NEAR(C[1], R, 1e-15);
}

// Curves with corners (a polyline, and two cubics meeting at a knot of full multiplicity) at
// scales 1e-6, 1 and 1e6, 1e4 sizes from the origin: a point in a corner's normal cone has the
// corner as its foot, on the knot exactly and with result 0; a point over a leg has its exact
// foot there; from any start the distance is the brute-force least over the legs.
TEST_F(Feet, OnACornerTheFootIsTheCorner) {
  BsplineKeeper keep;
  const int legs = 8;
  std::vector<double> unit, knots = {0.0, 0.0};
  for (int i = 0; i <= legs; ++i) {
    const double a = M_PI * i / legs;
    unit.insert(unit.end(), {std::cos(a), std::sin(a), 0.1 * (i % 2)});
    if (i > 0 && i < legs) knots.push_back(double(i) / legs);
  }
  knots.insert(knots.end(), {1.0, 1.0});
  for (double scale : {1.0, 1e-6, 1e6}) {
    const double shift[3] = {1e4 * scale, -0.6e4 * scale, 0.3e4 * scale};
    std::vector<double> pts(unit);
    for (size_t i = 0; i < pts.size(); ++i) pts[i] = pts[i] * scale + shift[i % 3];
    Bspline* poly = keep(BuildCurve(1, 3, pts, knots));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> U(0.0, 1.0), H(0.02, 0.2), S(0.1, 0.9);
    for (int q = 0; q < 40; ++q) {
      const int i = 1 + q % (legs - 1);
      const double* V = &pts[3 * i];
      double P[3], foot[3];
      const bool corner = q % 2 == 0;
      const double h = H(rng) * scale;
      if (corner) {  // outwards from the arc's centre: inside the corner's normal cone
        for (int k = 0; k < 3; ++k) foot[k] = V[k];
        const double out[3] = {unit[3 * i], unit[3 * i + 1], 0.0};
        for (int k = 0; k < 3; ++k) P[k] = V[k] + h * out[k];
      } else {  // over leg i: out along the leg's normal in the arc's plane
        const double* W = &pts[3 * i + 3];
        const double s = S(rng), d[3] = {W[0] - V[0], W[1] - V[1], W[2] - V[2]};
        // Across the leg, away from the arc's centre.
        double m[3], n[3], unitN[3];
        for (int k = 0; k < 3; ++k) m[k] = 0.5 * (V[k] + W[k]) - shift[k];
        const double md = Dot(m, d) / Dot(d, d);
        for (int k = 0; k < 3; ++k) n[k] = m[k] - md * d[k];
        UnitVector(n, unitN);
        for (int k = 0; k < 3; ++k) foot[k] = V[k] + s * d[k], P[k] = foot[k] + h * unitN[k];
      }
      double best = INFINITY;  // brute force over the legs
      for (int j = 0; j < legs; ++j) {
        const double *A = &pts[3 * j], *B = &pts[3 * j + 3], d[3] = {B[0] - A[0], B[1] - A[1], B[2] - A[2]};
        const double r[3] = {P[0] - A[0], P[1] - A[1], P[2] - A[2]};
        const double s = std::fmin(1.0, std::fmax(0.0, Dot(r, d) / Dot(d, d)));
        const double X[3] = {A[0] + s * d[0], A[1] + s * d[1], A[2] + s * d[2]};
        best = std::fmin(best, VecDist3(X, P));
      }
      for (double start : {0.0, 1.0, U(rng), corner ? double(i) / legs : double(i + 1) / legs}) {
        double t = start, C[3], dsq, step;
        ASSERT_EQ(FindClosestPointCurve3(poly, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0) << scale << " " << q;
        EXPECT_LT(VecDist3(C, foot), 1e-9 * scale) << scale << " " << q << " " << start;
        EXPECT_NEAR(std::sqrt(dsq), best, 1e-9 * scale) << scale << " " << q << " " << start;
        if (corner) {
          EXPECT_EQ(t, double(i) / legs) << scale << " " << q << " " << start << " " << t - double(i) / legs;
        }
      }
    }
    // Two cubic arches meeting at a corner on a triple knot.
    std::vector<double> arch = {-2, 0, 0, -1.5, 0.8, 0, -0.7, 1.4, 0, 0, 2, 0, 0.7, 1.4, 0, 1.5, 0.8, 0, 2, 0, 0};
    for (size_t i = 0; i < arch.size(); ++i) arch[i] = arch[i] * scale + shift[i % 3];
    Bspline* c = keep(BuildCurve(3, 3, arch, {0, 0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1}));
    for (double start : {0.05, 0.4, 0.5, 0.6, 0.95})
      for (double lean : {-0.5, 0.0, 0.5}) {
        const double P[3] = {(lean * 0.3) * scale + shift[0], 2.6 * scale + shift[1], shift[2]};
        double t = start, C[3], dsq, step;
        ASSERT_EQ(FindClosestPointCurve3(c, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0) << scale << " " << start;
        EXPECT_EQ(t, 0.5) << scale << " " << start << " " << lean << " " << t - 0.5;
        EXPECT_LT(VecDist3(C, &arch[9]), 1e-9 * scale) << scale << " " << start;
      }
  }
}


// The arch of the corner case with its triple knot spread into a cluster, knots 1e-12, 1e-9 or
// 1e-8 apart: the curve turns within the cluster, over fewer parameters than a step can tell from
// noise against the whole range. From any start the foot is the same and no farther than the
// nearest of dense samples round the cluster (within 1e-12 of the size, 1e-10 far away), at
// every size and place, for points over the corner and beside it.
TEST_F(Feet, AtAClusterOfKnotsTheFootIsTheLeast) {
  const std::vector<double> unit = {-2, 0, 0, -1.5, 0.8, 0, -0.7, 1.4, 0, 0, 2, 0, 0.7, 1.4, 0, 1.5, 0.8, 0, 2, 0, 0};
  for (const Place& pl : EveryPlace())
    for (const double gap : {1e-12, 1e-9, 1e-8}) {
      BsplineKeeper keep;
      std::vector<double> pts(unit);
      for (size_t i = 0; i < pts.size(); i += 3) pl.Map(&pts[i], &pts[i]);
      Bspline* c = keep(BuildCurve(3, 3, pts, {0, 0, 0, 0, 0.5, 0.5 + gap, 0.5 + 2 * gap, 1, 1, 1, 1}));
      for (const double x : {0.15, 0.05}) {
        const double above[3] = {x, 2.6, 0.0};
        double P[3];
        pl.Map(above, P);
        double least = INFINITY;
        for (int i = 0; i <= 2000; ++i) {
          double X[3];
          Eval3DPointOnCurve3Array(c, 0.5 - 10 * gap + i * (24 * gap / 2000), 0, X);
          least = std::fmin(least, VecDist3(X, P));
        }
        double first = -1.0;
        for (const double start : {0.05, 0.4, 0.5, 0.6, 0.95}) {
          double t = start, C[3], dsq, step;
          ASSERT_EQ(FindClosestPointCurve3(c, P, C, 0.0, 1.0, &t, &dsq, &step, 7), 0) << Where(pl) << " " << gap;
          EXPECT_LE(std::sqrt(dsq), least + (pl.far ? 1e-10 : 1e-12) * pl.size) << Where(pl) << " " << gap << " " << start;
          if (first < 0.0) first = t;
          EXPECT_NEAR(t, first, 1e-3 * gap) << Where(pl) << " " << gap << " " << start;
        }
      }
    }
}

// A search whose range ends on a corner: a quadratic running along x (x = 2 t) for t in
// [0, 0.5] and turning back at (1, 0, 0) on a double knot, searched over [0, 0.5], and the
// surface it sweeps along y, searched over u in [0, 0.5], whose crease is that corner. A point
// over the flat piece has its foot there, from starts on the corner too (where the slope of the
// distance is the flat piece's, not that of the piece beyond the range), at every size and place.
TEST_F(Feet, RangesEndingOnACornerKeepToTheirPiece) {
  const std::vector<double> unitCurve = {0, 0, 0, 0.5, 0, 0, 1, 0, 0, 0, 1, 0, -1, 1, 0};
  std::vector<double> unitSurface;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 5; ++i) unitSurface.insert(unitSurface.end(), {unitCurve[3 * i], double(j), unitCurve[3 * i + 1]});
  for (const Place& pl : EveryPlace()) {
    BsplineKeeper keep;
    Bspline* c = keep(BuildCurve(2, 3, unitCurve, {0, 0, 0, 0.5, 0.5, 1, 1, 1}));
    Bspline* srf = keep(BuildSurface(2, 1, 5, 2, unitSurface, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, {0, 0, 1, 1}));
    pl.Map(c);
    pl.Map(srf);
    for (const double x : {0.6, 0.2, 0.95})
      for (const double start : {0.5, 0.45, 0.0}) {
        const double unit[3] = {x, 0.3, -0.1}, foot[3] = {x, 0.0, 0.0};
        double P[3], F[3], t = start, C[3], dsq, step;
        pl.Map(unit, P);
        pl.Map(foot, F);
        // Far away the coordinates' round-off (some 1e-12 of the size) is data.
        const double tol = pl.far ? 1e-10 : 1e-12;
        ASSERT_EQ(FindClosestPointCurve3(c, P, C, 0.0, 0.5, &t, &dsq, &step, 7), 0) << Where(pl) << " " << x << " " << start;
        EXPECT_NEAR(t, 0.5 * x, tol) << Where(pl) << " " << x << " " << start;
        EXPECT_LT(VecDist3(C, F), 1e-9 * pl.size) << Where(pl) << " " << x << " " << start;
        EXPECT_NEAR(std::sqrt(dsq), std::hypot(0.3, 0.1) * pl.size, tol * pl.size) << Where(pl) << " " << x;

        const double above[3] = {x, 0.4, 0.3}, onSurface[3] = {x, 0.4, 0.0}, box[4] = {0.0, 0.5, 0.0, 1.0};
        double u = start, v = 0.5, S[3], dist;
        pl.Map(above, P);
        pl.Map(onSurface, F);
        ASSERT_EQ(FindClosestUVPointWithin(srf, P, box, S, &u, &v, &dist, &step, 7), 0) << Where(pl) << " " << x;
        EXPECT_NEAR(u, 0.5 * x, tol) << Where(pl) << " " << x << " " << start;
        EXPECT_NEAR(v, 0.4, tol) << Where(pl) << " " << x << " " << start;
        EXPECT_LT(VecDist3(S, F), 1e-9 * pl.size) << Where(pl) << " " << x << " " << start;
        EXPECT_NEAR(std::fabs(dist), 0.3 * pl.size, tol * pl.size) << Where(pl) << " " << x << " " << start;
      }
  }
}

// A roof: two planes meeting at a ridge, a cubic in u with a triple knot at the ridge (x = 2 u,
// height 1 - |x - 1|) swept along y. From a point above the ridge the two points of the roof
// at u = 0.25 and 0.75 are equally far, each the other's Newton step: the foot is the ridge
// (distance 1), from starts there and elsewhere, at every size and place.
TEST_F(Feet, FromEitherSideOfASymmetricRoofTheFootIsItsRidge) {
  const double row[7][2] = {{0, 0}, {1.0 / 3, 1.0 / 3}, {2.0 / 3, 2.0 / 3}, {1, 1}, {4.0 / 3, 2.0 / 3}, {5.0 / 3, 1.0 / 3}, {2, 0}};
  std::vector<double> unit;
  for (int j = 0; j < 2; ++j)
    for (const auto& r : row) unit.insert(unit.end(), {r[0], double(j), r[1]});
  for (const Place& pl : EveryPlace()) {
    BsplineKeeper keep;
    Bspline* roof = keep(BuildSurface(3, 1, 7, 2, unit, {0, 0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1}, {0, 0, 1, 1}));
    pl.Map(roof);
    const double above[3] = {1.0, 0.4, 2.0}, ridge[3] = {1.0, 0.4, 1.0};
    double P[3], R[3];
    pl.Map(above, P);
    pl.Map(ridge, R);
    for (const double start : {0.25, 0.75, 0.0, 0.1}) {
      double u = start, v = 0.4, S[3], dist, step;
      ASSERT_EQ(FindClosestUVPointGuessDist(roof, P, S, &u, &v, &dist, &step, 7), 0) << Where(pl) << " " << start;
      EXPECT_NEAR(std::fabs(dist), pl.size, 1e-8 * pl.size) << Where(pl) << " " << start << " u " << u;
      EXPECT_LT(VecDist3(S, R), 1e-8 * pl.size) << Where(pl) << " " << start;
    }
  }
}

// A roof whose ridge bends: two slopes (a cubic in u with a triple knot at the ridge, x = 2 u,
// height 1 - |x - 1|) swept along a quadratic in v that lifts the rows by h(v) = 0.05 - 0.2 v
// + 0.2 v^2, so the ridge is the curve (1, v, 1 + h(v)). From points above the ridge, inside
// the normal cone of both slopes, the foot is on the ridge: u is the knot exactly and v the
// closed foot on the ridge curve, from any start, at every size and place.
TEST_F(Feet, OnABentCreaseTheFootIsOnTheKnot) {
  const double row[7][2] = {{0, 0}, {1.0 / 3, 1.0 / 3}, {2.0 / 3, 2.0 / 3}, {1, 1}, {4.0 / 3, 2.0 / 3}, {5.0 / 3, 1.0 / 3}, {2, 0}};
  const double lift[3] = {0.05, -0.05, 0.05};
  std::vector<double> unit;
  for (int j = 0; j < 3; ++j)
    for (const auto& r : row) unit.insert(unit.end(), {r[0], 0.5 * j, r[1] + lift[j]});
  auto h = [](double v) { return 0.05 - 0.2 * v + 0.2 * v * v; };
  for (const Place& pl : EveryPlace()) {
    BsplineKeeper keep;
    Bspline* roof = keep(BuildSurface(3, 2, 7, 3, unit, {0, 0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1, 1}, {0, 0, 0, 1, 1, 1}));
    pl.Map(roof);
    for (const double y : {0.4, 0.6})
      for (const double x : {1.0, 1.1, 0.85}) {
        const double above[3] = {x, y, 2.2};
        // The foot on the ridge: (v - y) + (1 + h(v) - 2.2) h'(v) = 0, a cubic with one root in
        // [0, 1] (the point lies inside the ridge's radius of curvature, 2.5), by Newton.
        double v = y;
        for (int it = 0; it < 50; ++it) {
          const double d = 1.0 + h(v) - 2.2, dh = 0.4 * v - 0.2;
          v -= (v - y + d * dh) / (1.0 + dh * dh + 0.4 * d);
        }
        const double ridge[3] = {1.0, v, 1.0 + h(v)};
        double P[3], R[3];
        pl.Map(above, P);
        pl.Map(ridge, R);
        for (const double start : {0.25, 0.75, 0.0, 0.5}) {
          double u = start, w = 0.5, S[3], dist, step;
          ASSERT_EQ(FindClosestUVPointGuessDist(roof, P, S, &u, &w, &dist, &step, 7), 0) << Where(pl) << " " << start;
          EXPECT_EQ(u, 0.5) << Where(pl) << " " << x << " " << y << " " << start << " " << u - 0.5;
          EXPECT_NEAR(w, v, pl.far ? 1e-9 : 1e-11) << Where(pl) << " " << x << " " << y << " " << start;
          EXPECT_LT(VecDist3(S, R), (pl.far ? 1e-9 : 1e-11) * pl.size) << Where(pl) << " " << x << " " << y << " " << start;
        }
      }
  }
}

// A valley of two slopes (a cubic in u, x = 2 u, height |x - 1|) whose crease is a cluster of
// three knots at 0.5, 1e-12 or 1e-10 apart, and a point above it on the right: the left slope
// holds a second minimum of the distance 2.5e-5 of the range left of the cluster, four hundred
// times farther. From there, or a start leading to it, the foot is the right slope's, whose
// distance is exact, at every size and place: the pieces searched beside a cluster are those
// either side of it, not only the stretch inside it.
TEST_F(Feet, BesideAClusterOfKnotsThePieceBeyondItIsSearched) {
  const double h = 0.02, delta = h - 1e-4, y = 0.4;
  for (const double gap : {1e-12, 1e-10}) {
    const std::vector<double> knots = {0, 0, 0, 0, 0.5, 0.5 + gap, 0.5 + 2 * gap, 1, 1, 1, 1};
    std::vector<double> unit;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 7; ++i) {
        const double x = 2.0 * (knots[i + 1] + knots[i + 2] + knots[i + 3]) / 3.0;
        unit.insert(unit.end(), {x, double(j), std::fabs(x - 1.0)});
      }
    for (const Place& pl : EveryPlace()) {
      BsplineKeeper keep;
      Bspline* valley = keep(BuildSurface(3, 1, 7, 2, unit, knots, {0, 0, 1, 1}));
      ASSERT_TRUE(valley);
      pl.Map(valley);
      const double above[3] = {1.0 + delta, y, h};
      double P[3];
      pl.Map(above, P);
      for (const double start : {0.499975, 0.25, 0.1}) {
        double u = start, v = y, S[3], dist, step;
        ASSERT_EQ(FindClosestUVPointGuessDist(valley, P, S, &u, &v, &dist, &step, 7), 0) << Where(pl) << " " << start;
        EXPECT_NEAR(std::fabs(dist), (h - delta) / std::sqrt(2.0) * pl.size, 1e-9 * pl.size)
            << Where(pl) << " " << gap << " " << start << " u " << u;
      }
    }
  }
}

// A sheet z = 0 whose last span in v, a share gap of the range, lifts it onto the straight top
// edge y = 1, z = 1: from a point above the edge the foot is on the edge, (x, 1, 1), whether the
// search starts on the edge, below the lip or on its knot, at every size and place. The piece
// inside the lip is narrower than the steps the search tells from noise; its search, started on
// the lip's knot, ends there, below the edge.
TEST_F(Feet, AFootOnAnEdgeBeyondATinyEndSpanStaysOnTheEdge) {
  const double x = 2.3, above[3] = {x, 1.5, 1.2};
  const double distance = std::hypot(above[1] - 1.0, above[2] - 1.0);
  for (const double gap : {1e-10, 1e-12}) {
    const std::vector<double> kv = {0, 0, 0, 0, 0.4, 0.7, 1 - gap, 1, 1, 1, 1};
    std::vector<double> unit;
    for (int j = 0; j < 7; ++j)
      for (int i = 0; i < 5; ++i) unit.insert(unit.end(), {double(i), j < 6 ? j / 6.0 : 1.0, j < 6 ? 0.0 : 1.0});
    for (const Place& pl : EveryPlace()) {
      BsplineKeeper keep;
      Bspline* lip = keep(BuildSurface(3, 3, 5, 7, unit, {}, kv));
      ASSERT_TRUE(lip);
      pl.Map(lip);
      double P[3], foot[3];
      const double onEdge[3] = {x, 1.0, 1.0};
      pl.Map(above, P);
      pl.Map(onEdge, foot);
      for (const double start : {1.0, 1.0 - gap, 0.8}) {
        double u = 0.55, v = start, S[3], dist, step;
        ASSERT_EQ(FindClosestUVPointGuessDist(lip, P, S, &u, &v, &dist, &step, 7), 0) << Where(pl) << " " << start;
        EXPECT_NEAR(std::fabs(dist), distance * pl.size, 1e-9 * pl.size) << Where(pl) << " " << gap << " " << start;
        EXPECT_LE(VecDist3(S, foot), 1e-6 * pl.size) << Where(pl) << " " << gap << " " << start << " v " << v;
      }
    }
  }
}

// A flat triangle made a patch with its side v = 1 collapsed to the apex (0, 1, 0), degree 1 and
// 3: from a point 0.01 beside the apex, over the side u = 1 (x + y = 1), the iteration from the
// side u = 0 runs up to the apex, where the partial along the collapsed side vanishes and it may
// stop a round-off short of it; the distance falls off the apex along u = 1 all the same, and
// the foot is (0.005, 0.995, 0) at every size and place.
TEST_F(Feet, BesideAnApexTheFootIsOffIt) {
  for (const int degree : {1, 3}) {
    std::vector<double> unit;
    for (int j = 0; j <= degree; ++j)
      for (int i = 0; i <= degree; ++i) {
        const double u = double(i) / degree, v = double(j) / degree;
        unit.insert(unit.end(), {u * (1 - v), v, 0.0});
      }
    for (const Place& pl : EveryPlace()) {
      BsplineKeeper keep;
      Bspline* tri = keep(BuildSurface(degree, degree, degree + 1, degree + 1, unit));
      pl.Map(tri);
      const double beside[3] = {0.01, 1.0, 0.0}, foot[3] = {0.005, 0.995, 0.0};
      double P[3], F[3];
      pl.Map(beside, P);
      pl.Map(foot, F);
      for (const double start : {0.0, 0.5}) {
        double u = 0.0, v = start, S[3], dist, step;
        ASSERT_EQ(FindClosestUVPointGuessDist(tri, P, S, &u, &v, &dist, &step, 7), 0) << degree << " " << Where(pl);
        EXPECT_NEAR(std::fabs(dist), 0.01 / std::sqrt(2.0) * pl.size, 1e-9 * pl.size) << degree << " " << Where(pl) << " " << start;
        EXPECT_LT(VecDist3(S, F), 1e-9 * pl.size) << degree << " " << Where(pl) << " " << start << " uv " << u << " " << v;
      }
    }
  }
}

// A sphere (turned, poles on (0, 0.6, 0.8)) whose weights are scaled by 6^i along u and 0.2^j
// along v: the same sphere, but the speed of each parameter jumps 36 (25) times across every
// double knot, so the distance has a crease along each knot line. From any start the refiner
// reaches the one minimum of the distance, |R - |P - c||, at sizes 1e-6 .. 1e6, at the origin
// and turned and moved 1e4 sizes away.
TEST_F(Feet, SurfaceFeetAcrossCreasesOfTheParameterization) {
  const double axis[3] = {0.0, 0.6, 0.8}, seam[3] = {1.0, 0.0, 0.0};
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> U(0.0, 1.0), S1(-1.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* s = keep(shapes::Sphere(axis, seam, 1.0, shapes::Place{}));
      ASSERT_TRUE(s);
      for (int j = 0; j < NumCtrlV(s); ++j)
        for (int i = 0; i < NumCtrlU(s); ++i) s->W[j][i] *= std::pow(6.0, i) * std::pow(0.2, j);
      at.Map(s);
      for (int q = 0; q < 40; ++q) {
        double dir[3] = {S1(rng), S1(rng), S1(rng)}, p[3], P[3], S[3], dist, step;
        UnitVector(dir, dir);
        const double r = 3.0 * U(rng);
        for (int k = 0; k < 3; ++k) p[k] = r * dir[k];
        at.Map(p, P);
        double u = U(rng), v = U(rng);

        ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
        EXPECT_NEAR(std::fabs(dist), size * std::fabs(1.0 - r), 1e-9 * size) << size << " " << far << " " << q;
      }
    }
}

// Tubes of radius r = 1e-4 of their length or core radius (a cylinder, closed round, and a
// torus): from points rho = r .. 3000 r off the axis or the core circle, where the distance
// round the tube varies by only 2 r and its steepest slope is as steep as the distance itself,
// the refiner started anywhere reaches the exact distance |rho - r|, at sizes 1e-6 .. 1e6, at
// the origin and turned and moved 1e4 sizes away.
TEST_F(Feet, SurfaceFeetOnThinTubesFromAnyStart) {
  const double axis[3] = {0.0, 0.6, 0.8}, seam[3] = {1.0, 0.0, 0.0}, r = 1e-4;
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(0.0, 1.0), S1(-1.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* tubes[2] = {keep(shapes::Cylinder(axis, seam, r, 0.0, 1.0, shapes::Place{})), keep(BuildTorus(1.0, r))};
      for (int t = 0; t < 2; ++t) {
        Bspline* s = tubes[t];
        ASSERT_TRUE(s);
        at.Map(s);
        for (int q = 0; q < 40; ++q) {
          double p[3], P[3], S[3], dist, step;
          const double rho = r * std::pow(10.0, 3.5 * U(rng));
          if (t == 0) {  // within the cylinder's length
            double off[3] = {S1(rng), S1(rng), S1(rng)};
            const double along = VecDotProd3(off, axis);
            for (int k = 0; k < 3; ++k) off[k] -= along * axis[k];
            UnitVector(off, off);
            const double h = U(rng);
            for (int k = 0; k < 3; ++k) p[k] = h * axis[k] + rho * off[k];
          } else {  // off the core circle in a meridian plane
            const double phi = 2 * M_PI * U(rng), th = 2 * M_PI * U(rng);
            const double x = 1.0 + rho * std::cos(th);
            p[0] = x * std::cos(phi), p[1] = x * std::sin(phi), p[2] = rho * std::sin(th);
          }
          at.Map(p, P);
          double u = U(rng), v = U(rng);
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
          EXPECT_NEAR(std::fabs(dist), size * std::fabs(rho - r), 1e-9 * size)
              << t << " " << size << " " << far << " " << q;
        }
      }
    }
}


// A sphere (turned, poles on (0, 0.6, 0.8)) and points on its axis, inside and outside, towards
// either pole: started on the far pole, where the distance is greatest and its slope off the pole
// vanishes along every meridian, the refiner reaches the near pole at t - 1 (behind the outward
// normal inside) for P at t radii from the centre; started on the near pole it stays there. P
// lies along the pole's normal: the reported step (the foot of P on the tangent plane, plus the
// 1e-10 bias) is round-off of the size, not the round-off direction of the partial round the pole
// taken for the tangent plane's. At sizes 1e-6 .. 1e6, at the origin and turned and moved 1e4
// sizes away.
TEST_F(Feet, FromTheFarPoleAPointOnTheAxisReachesTheNearOne) {
  const double axis[3] = {0.0, 0.6, 0.8}, seam[3] = {1.0, 0.0, 0.0};
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* s = keep(shapes::Sphere(axis, seam, 1.0, shapes::Place{}));
      ASSERT_TRUE(s);
      at.Map(s);
      for (int q = 0; q < 12; ++q) {
        // Towards the pole at v = vmax for even q, started on the one at v = vmin; the other way
        // for odd q.
        const double t = 0.1 + 1.8 * U(rng), toward = q % 2 ? -1.0 : 1.0;
        double p[3], P[3], S[3], dist, step;
        for (int k = 0; k < 3; ++k) p[k] = toward * t * axis[k];
        at.Map(p, P);
        const double u0 = U(rng);
        for (bool fromFar : {true, false}) {
          double u = u0, v = (q % 2) == fromFar ? s->vmax : s->vmin;
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
          EXPECT_NEAR(dist, size * (t - 1.0), 1e-9 * size) << size << " " << far << " " << q << " " << fromFar;
          EXPECT_LE(std::sqrt(std::fmax(step + 1e-10, 0.0)), 1e-3 * size) << size << " " << far << " " << q;
        }
      }
    }
}

// A cylinder, a cone and a torus about the z axis, and points in the plane of their seam (at
// angle 0, and 1e-9 beside it), started on the far side, u = 0.5 (angle pi), where the distance
// is greatest round the axis and its slope round it round-off: the refiner leaves that ridge and
// reaches the exact distance in the meridian plane through P, at sizes 1e-6 .. 1e6, at the origin
// and turned and moved 1e4 sizes away.
TEST_F(Feet, FromTheFarSideOfASurfaceOfRevolutionThePointsOwnSideIsReached) {
  const double axis[3] = {0.0, 0.0, 1.0}, seam[3] = {1.0, 0.0, 0.0};
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* surfaces[3] = {keep(shapes::Cylinder(axis, seam, 1.0, -1.0, 1.0, shapes::Place{})),
                            keep(shapes::Cone(axis, seam, 0.0, 1.0, 0.0, 1.0, shapes::Place{})),
                            keep(shapes::Torus(axis, seam, 1.0, 0.3, shapes::Place{}))};
      for (int t = 0; t < 3; ++t) {
        Bspline* s = surfaces[t];
        ASSERT_TRUE(s);
        at.Map(s);
        for (int q = 0; q < 8; ++q) {
          // (rho, z) in the meridian plane, near the surface, and the exact distance there.
          const double phi = q % 2 ? 2e-9 * M_PI : 0.0, e = 0.05 * (U(rng) - 0.5);
          double rho, z, exact;
          if (t == 0) {
            z = 1.8 * U(rng) - 0.9, rho = 1.0 + e, exact = std::fabs(e);
          } else if (t == 1) {
            const double h = 0.2 + 0.6 * U(rng);  // off the generator rho = z by e along its normal
            rho = h + e / std::sqrt(2.0), z = h - e / std::sqrt(2.0), exact = std::fabs(e);
          } else {
            const double th = 2 * M_PI * U(rng);
            rho = 1.0 + (0.3 + e) * std::cos(th), z = (0.3 + e) * std::sin(th), exact = std::fabs(e);
          }
          const double p[3] = {rho * std::cos(phi), rho * std::sin(phi), z};
          double P[3], S[3], dist, step;
          at.Map(p, P);
          double u = 0.5, v = U(rng);
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
          EXPECT_NEAR(std::fabs(dist), size * exact, 1e-9 * size) << t << " " << size << " " << far << " " << q;
        }
      }
    }
}

// Beside a ridge of the distance, where the slope off it is round-off or barely more: a sphere
// (poles on (0, 0.6, 0.8)) with P 1e-9 radii off its axis, started on the far pole; and a
// cylinder, a cone and a torus about z with P at angle pi (y = 0 exactly), started on either
// side of their seam at angle 0, where the slope round the axis, which a round-off may point out
// of the domain, holds the parameter on its end. The exact distance from every such start, at
// sizes 1e-6 .. 1e6, at the origin and turned and moved 1e4 sizes away.
TEST_F(Feet, BesideARidgeOfTheDistanceTheNearSideIsReached) {
  const double poles[3] = {0.0, 0.6, 0.8}, across[3] = {0.0, 0.8, -0.6}, axis[3] = {0.0, 0.0, 1.0};
  const double seam[3] = {1.0, 0.0, 0.0};
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* sphere = keep(shapes::Sphere(poles, seam, 1.0, shapes::Place{}));
      Bspline* surfaces[3] = {keep(shapes::Cylinder(axis, seam, 1.0, -1.0, 1.0, shapes::Place{})),
                              keep(shapes::Cone(axis, seam, 0.0, 1.0, 0.0, 1.0, shapes::Place{})),
                              keep(shapes::Torus(axis, seam, 1.0, 0.3, shapes::Place{}))};
      ASSERT_TRUE(sphere && surfaces[0] && surfaces[1] && surfaces[2]);
      at.Map(sphere);
      for (int q = 0; q < 8; ++q) {
        const double t = 0.1 + 1.8 * U(rng), toward = q % 2 ? -1.0 : 1.0;
        double p[3], P[3], S[3], dist, step;
        for (int k = 0; k < 3; ++k) p[k] = toward * t * poles[k] + 1e-9 * across[k];
        at.Map(p, P);
        double u = U(rng), v = q % 2 ? sphere->vmax : sphere->vmin;
        ASSERT_EQ(FindClosestUVPointGuessDist(sphere, P, S, &u, &v, &dist, &step, 7), 0);
        EXPECT_NEAR(std::fabs(dist), size * std::fabs(t - 1.0), 1e-9 * size) << size << " " << far << " " << q;
      }
      for (int n = 0; n < 3; ++n) {
        Bspline* s = surfaces[n];
        at.Map(s);
        for (int q = 0; q < 8; ++q) {
          // (rho, z) in the meridian plane at angle pi, near the surface; the exact distance e.
          const double e = 0.05 * (U(rng) - 0.5);
          double rho, z;
          if (n == 0) {
            z = 1.8 * U(rng) - 0.9, rho = 1.0 + e;
          } else if (n == 1) {
            const double h = 0.2 + 0.6 * U(rng);
            rho = h + e / std::sqrt(2.0), z = h - e / std::sqrt(2.0);
          } else {
            const double th = 2 * M_PI * U(rng);
            rho = 1.0 + (0.3 + e) * std::cos(th), z = (0.3 + e) * std::sin(th);
          }
          const double p[3] = {-rho, 0.0, z};
          double P[3], S[3], dist, step;
          at.Map(p, P);
          double u = q % 2 ? s->umax : s->umin, v = U(rng);
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
          EXPECT_NEAR(std::fabs(dist), size * std::fabs(e), 1e-9 * size) << n << " " << size << " " << far << " " << q;
        }
      }
    }
}

// A sphere (poles on (0, 0.6, 0.8)) and points beside its axis, 1e-8 and 5e-7 radii off it,
// inside and outside, towards either pole: the nearest point the grid and its refinements give
// is the exact foot c + R (P - c) / |P - c|, to round-off of the size, round the pole as well as
// along the meridian, though the distance changes round the pole by less than its own round-off
// and the partial round it, summed from the whole coordinates, is round-off in the normal's
// direction. At sizes 1e-6 .. 1e6, at the origin and turned and moved 1e4 sizes away.
TEST_F(Feet, BesideAPoleTheFootIsTheExactOne) {
  const double poles[3] = {0.0, 0.6, 0.8}, seam[3] = {1.0, 0.0, 0.0};
  const double across[2][3] = {{0.0, 0.8, -0.6}, {-1.0, 0.0, 0.0}};
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* s = keep(shapes::Sphere(poles, seam, 1.0, shapes::Place{}));
      ASSERT_TRUE(s);
      at.Map(s);
      SurfaceGridCache grid;
      const double zero[3] = {0.0, 0.0, 0.0};
      double c[3];
      at.Map(zero, c);
      for (double t : {-3.0, -0.3, 0.9, 1.1})
        for (double off : {1e-8, 5e-7})
          for (double angle : {0.7, 2.3}) {
            double p[3], P[3], S[3], u, v, dist, step;
            for (int k = 0; k < 3; ++k)
              p[k] = t * poles[k] + off * (std::cos(angle) * across[0][k] + std::sin(angle) * across[1][k]);
            at.Map(p, P);
            ASSERT_EQ(grid.Closest(s, P, &u, &v, S, &dist, &step), 0);
            const double r = VecDist3(P, c);
            double foot[3];
            for (int k = 0; k < 3; ++k) foot[k] = c[k] + size * (P[k] - c[k]) / r;
            EXPECT_LE(VecDist3(S, foot), (far ? 1e-9 : 1e-12) * size)
                << size << " " << far << " " << t << " " << off << " " << angle;
          }
    }
}

// A cone about z whose radius runs from 0.5 at z = 0 to 1 at z = 1, and points in the plane of
// its seam 1e3 .. 1e6 sizes away, at either side of the axis, started on the far side of the
// cone: the distance pulls the start onto the far rim, held there by a slope out of the domain
// while the slope round the axis is nil. The rim nearest P is reached, whose distance is exact
// in the meridian plane through P, at sizes 1e-6 .. 1e6, at the origin and turned and moved 1e4
// sizes away.
TEST_F(Feet, FromTheFarRimOfAConeAFarPointReachesTheNearRim) {
  const double axis[3] = {0.0, 0.0, 1.0}, seam[3] = {1.0, 0.0, 0.0};
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* s = keep(shapes::Cone(axis, seam, 0.5, 1.0, 0.0, 1.0, shapes::Place{}));
      ASSERT_TRUE(s);
      at.Map(s);
      for (double D : {1e3, 1e6})
        for (int q = 0; q < 4; ++q) {
          // At +x the near rim is the seam's (u = 0 or 1), at -x the one at u = 0.5.
          const double side = q % 2 ? -1.0 : 1.0, z = q < 2 ? 0.5 : D * (U(rng) - 0.5);
          const double p[3] = {side * D, 0.0, z};
          double P[3], S[3], dist, step;
          at.Map(p, P);
          // The nearest point of the generator from (0.5, 0) to (1, 1) in the meridian plane.
          const double e[2] = {0.5, 1.0}, w = std::fmin(1.0, std::fmax(0.0, ((D - 0.5) * e[0] + z * e[1]) / 1.25));
          const double exact = std::hypot(D - 0.5 - w * e[0], z - w * e[1]);
          double u = side > 0.0 ? 0.5 : (U(rng) < 0.5 ? s->umin : s->umax), v = U(rng);
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7), 0);
          EXPECT_NEAR(std::fabs(dist), size * exact, size * (1e-9 + 1e-13 * D)) << size << " " << far << " " << D << " " << q;
        }
    }
}

// A point so far from a sphere that its squared distances overflow has no foot: each surface
// foot entry gives -2 and leaves every output as it was.
TEST_F(Feet, SurfaceFeetOfPointsBeyondReachWriteNothing) {
  const double axis[3] = {0.0, 0.6, 0.8}, seam[3] = {1.0, 0.0, 0.0};
  BsplineKeeper keep;
  Bspline* s = keep(shapes::Sphere(axis, seam, 1.0, shapes::Place{}));
  ASSERT_TRUE(s);
  const double far[][3] = {{1e300, 0.0, 0.0}, {1e155, 1e155, 0.0}, {-1e300, 1.0, 1.0}, {0.0, 0.0, 1e160}};
  for (const auto& P : far)
    for (int entry = 0; entry < 3; ++entry) {
      double S[3] = {7, 7, 7}, n[3] = {7, 7, 7}, u = 0.3, v = 0.4, dist = 7, step = 7;
      const double box[4] = {0.1, 0.6, 0.2, 0.9};
      const int r = entry == 0   ? FindClosestUVPointGuessDist(s, P, S, &u, &v, &dist, &step, 7)
                    : entry == 1 ? FindClosestUVPointWithin(s, P, box, S, &u, &v, &dist, &step, 7)
                                 : FindClosestUVPointGuessNorm(s, P, S, &u, &v, &dist, &step, 7, n);
      EXPECT_EQ(r, -2) << P[0] << " " << entry;
      for (double x : {S[0], S[1], S[2], n[0], n[1], n[2], dist, step}) EXPECT_EQ(x, 7.0) << P[0] << " " << entry;
      EXPECT_EQ(u, 0.3);
      EXPECT_EQ(v, 0.4);
    }
}

// The segment from the origin to (2, 0, 0) as a cubic with its end control points doubled, so
// its tangent vanishes at both ends: a step clamped onto an end lands where the distance is
// stationary without being least. From any start the foot of (x, y, z) over the segment is
// (x, 0, 0) at distance |(y, z)| with 0; beyond an end it is that end, with -2 as for any end
// P lies beyond. At sizes 1e-6 .. 1e6, at the origin and turned and moved 1e4 sizes away.
TEST_F(Feet, CurveFeetOffAVanishingTangent) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> U(0.0, 1.0), X(-0.5, 2.5), Y(-0.3, 0.3);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* c = keep(BuildCurve(3, 3, {0, 0, 0, 0, 0, 0, 2, 0, 0, 2, 0, 0}));
      ASSERT_TRUE(c);
      at.Map(c);
      for (int q = 0; q < 40; ++q) {
        const double x = X(rng), p[3] = {x, Y(rng), Y(rng)}, end[3] = {std::fmin(std::fmax(x, 0.0), 2.0), 0.0, 0.0};
        double P[3], foot[3], C[3], t = U(rng), distSq, step;
        at.Map(p, P);
        at.Map(end, foot);
        const int rc = FindClosestPointCurve3(c, P, C, c->umin, c->umax, &t, &distSq, &step, 7);
        EXPECT_EQ(rc, x > 0.0 && x < 2.0 ? 0 : -2) << size << " " << far << " " << q;
        EXPECT_LT(VecDist3(C, foot), 1e-9 * size) << size << " " << far << " " << q;
        EXPECT_NEAR(std::sqrt(distSq), VecDist3(P, foot), 1e-10 * size) << size << " " << far << " " << q;
      }
    }
}


// Bounds reaching beyond the domain, or lying wholly beyond it, are cut to it: a box beyond
// the corner (1, 1) gives that corner, one beyond the edge u = 0 the constrained minimum on
// that edge (as the box holding only the edge gives it), a curve range beyond an end that end;
// every parameter handed back lies in the domain, and the point is the surface's or curve's
// point there.
TEST_F(Feet, BoundsBeyondTheDomainAreCutToIt) {
  BsplineKeeper keep;
  Bspline* s = keep(BuildFunctionPatch(Wave, {.nu = 7, .nv = 6, .layout = KnotLayout::Random}));
  Bspline* c = keep(BuildRandomCurve(3, 3, 9));
  const double P[3] = {0.3, 0.4, 0.5};
  const double corner[4] = {2.0, 3.0, 1.5, 1e300}, beyondEdge[4] = {-3.0, -2.0, 0.0, 1.0};
  const double edge[4] = {0.0, 0.0, 0.0, 1.0};
  double u = 0.5, v = 0.5, S[3], X[3], dist, step;
  ASSERT_EQ(FindClosestUVPointWithin(s, P, corner, S, &u, &v, &dist, &step, 7), 0);
  EXPECT_TRUE(u == 1.0 && v == 1.0) << u << " " << v;
  RefEvalSurface(s, 1.0, 1.0, X);
  EXPECT_LT(VecDist3(S, X), 1e-14);
  double ue = 0.0, ve = 0.5, Se[3], de;
  ASSERT_EQ(FindClosestUVPointWithin(s, P, edge, Se, &ue, &ve, &de, &step, 7), 0);
  u = -2.5, v = 0.5;
  ASSERT_EQ(FindClosestUVPointWithin(s, P, beyondEdge, S, &u, &v, &dist, &step, 7), 0);
  EXPECT_EQ(u, 0.0);
  EXPECT_NEAR(v, ve, 1e-12);
  EXPECT_NEAR(dist, de, 1e-14);
  const double ranges[2][2] = {{2.0, 3.0}, {-3.0, -2.0}};
  for (const auto& range : ranges) {
    double t = range[0], C[3], dSq;
    FindClosestPointCurve3(c, P, C, range[0], range[1], &t, &dSq, &step, 7);
    const double end = range[0] > 0.0 ? c->umax : c->umin;
    EXPECT_EQ(t, end);
    RefEvalCurve(c, end, X);
    EXPECT_LT(VecDist3(C, X), 1e-14);
  }
}


// An exact circle of radius 1 flagged closed (nine rational quadratic points, the seam at angle
// 0), searched over its whole domain from any start: the foot of a point at angle a (near the
// seam for a third of them, on it for a few) is the circle's point at a, with 0, the search
// crossing the seam where it leads across; at sizes 1e-6 .. 1e6, at the origin and turned and
// moved 1e4 sizes away.
TEST_F(Feet, CurveFeetAcrossTheSeamOfAClosedCurve) {
  std::mt19937 rng(10);
  std::uniform_real_distribution<double> U(0.0, 1.0), Near(-0.1, 0.1), R(0.2, 3.0), Z(-0.5, 0.5);
  for (double size : {1e-6, 1.0, 1e6})
    for (bool far : {false, true}) {
      const Place at(size, far);
      BsplineKeeper keep;
      Bspline* c = keep(BuildEllipseCurve(1.0, 1.0));
      ASSERT_TRUE(c);
      c->closedU = 1;
      at.Map(c);
      for (int q = 0; q < 30; ++q) {
        const double a = q < 3 ? 0.0 : q % 3 == 0 ? Near(rng) : 2 * M_PI * U(rng), rho = R(rng);
        const double p[3] = {rho * std::cos(a), rho * std::sin(a), Z(rng)};
        const double onCircle[3] = {std::cos(a), std::sin(a), 0.0};
        double P[3], foot[3], C[3], t = U(rng), distSq, step;
        at.Map(p, P);
        at.Map(onCircle, foot);
        ASSERT_EQ(FindClosestPointCurve3(c, P, C, c->umin, c->umax, &t, &distSq, &step, 7), 0)
            << size << " " << far << " " << q;
        EXPECT_LT(VecDist3(C, foot), 1e-9 * size) << size << " " << far << " " << q;
        EXPECT_NEAR(std::sqrt(distSq), VecDist3(P, foot), 1e-10 * size) << size << " " << far << " " << q;
      }
    }
}

// Started where the distance peaks along the curve (its slope zero, its second derivative
// negative or nil), or a round-off beside it, the refiner leaves the peak for a least distance:
// the point opposite P on an exact closed circle (P inside and outside it), the ends of an exact
// ellipse's major axis from a point on that axis (the feet where cos = 0.2, squared distance
// 0.97) and its minor vertex from the centre of curvature there (the distance peaks at fourth
// order; the foot is the other minor vertex), the apex of a parabola (a cubic) from a point
// below it beyond its centre of curvature (feet at x = +-sqrt(0.5), squared distance 0.75), the
// end of a quarter circle opposite P (the other end holds the foot, -2), and the vertex of a
// polyline farthest from P; at sizes 1e-6 .. 1e6, at the origin and 1e4 sizes away; the inputs
// are left as they were.
TEST_F(Feet, FromAPeakOfTheDistanceTheCurveFootLeavesIt) {
  struct Case {
    int which;        // 0 circle, 1 ellipse, 2 cubic parabola, 3 quarter circle, 4 polyline
    double p[3];      // P in unit coordinates
    double start;     // the peak's parameter
    double distSq;    // the least squared distance, unit coordinates
    int result;
  };
  const Case cases[] = {
      {0, {0.3, 0.0, 0.0}, 0.5, 0.49, 0},   {0, {-2.0, 0.0, 0.1}, 0.0, 1.01, 0},
      {0, {0.0, 0.5, 0.0}, 0.75, 0.25, 0},  {0, {0.0, -0.2, 0.0}, 0.25, 0.64, 0},
      {1, {0.3, 0.0, 0.0}, 0.0, 0.97, 0},   {1, {0.3, 0.0, 0.0}, 0.5, 0.97, 0},
      {1, {0.0, -3.0, 0.0}, 0.25, 4.0, 0},
      {2, {0.0, -1.0, 0.0}, 0.5, 0.75, 0},  {3, {-0.5, 0.0, 0.0}, 0.0, 1.25, -2},
      {4, {0.0, -2.0, 0.0}, 0.5, 5.0, -2},
  };
  for (const Place& at : {Place(1e-6, false), Place(1.0, true), Place(1e6, true), Place(1e6, false)})
    for (const Case& k : cases)
      for (int beside : {0, -1, 1}) {
        BsplineKeeper keep;
        Bspline* c = nullptr;
        if (k.which == 0) c = BuildEllipseCurve(1.0, 1.0);
        if (k.which == 1) c = BuildEllipseCurve(2.0, 1.0);
        if (k.which == 2) c = BuildCurve(3, 3, {-1, -1, 0, -1. / 3, 1. / 3, 0, 1. / 3, 1. / 3, 0, 1, -1, 0},
                                         {0, 0, 0, 0, 1, 1, 1, 1});
        if (k.which == 3) c = BuildCurve(2, 3, {1, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 0, 0, 1, 1, 1}, {1, std::sqrt(0.5), 1});
        if (k.which == 4) c = BuildCurve(1, 3, {-1, 0, 0, 0, 1, 0, 1, 0, 0}, {0, 0, 0.5, 1, 1});
        ASSERT_TRUE(keep(c));
        c->closedU = k.which <= 1;
        at.Map(c);
        double P[3], C[3], distSq, step, t = k.start;
        at.Map(k.p, P);
        const double P0[3] = {P[0], P[1], P[2]}, X0 = c->X[0][1], W0 = c->W ? c->W[0][1] : 1.0;
        if (beside) t = std::nextafter(t, beside > 0 ? 2.0 : -1.0);
        const int r = FindClosestPointCurve3(c, P, C, c->umin, c->umax, &t, &distSq, &step, 7);
        EXPECT_EQ(r, k.result) << Where(at) << " " << k.which << " " << k.start << " " << beside;
        EXPECT_NEAR(distSq, k.distSq * at.size * at.size, 1e-9 * at.size * at.size)
            << Where(at) << " " << k.which << " " << k.start << " " << beside;
        EXPECT_NEAR(VecDist3(C, P), std::sqrt(distSq), 1e-9 * at.size);
        EXPECT_TRUE(P[0] == P0[0] && P[1] == P0[1] && P[2] == P0[2] && c->X[0][1] == X0 &&
                    (c->W ? c->W[0][1] : 1.0) == W0);
      }
}

}  // namespace
