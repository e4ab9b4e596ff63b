// Closest points on surfaces: grid estimate and refinement against a dense grid, the foot's
// orthogonality, feet at known normal offsets at every scale, the kept grid cache, closed
// surfaces kept off their seam rows.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "quadric/quadrics.h"
#include "surface/srfpick.h"
#include "tests/support/builders.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"
#include "tests/support/normal_offsets.h"
#include "tests/support/placement.h"

namespace {

class SurfacePickTest : public KernelTest {};

struct Grid {
  double *x = nullptr, *y = nullptr, *z = nullptr;
  ~Grid() {
    for (double* a : {x, y, z}) Free(a);
  }
};

Bspline* Wavy() {
  PatchOptions o;
  o.nu = o.nv = 10;
  return BuildFunctionPatch([](double x, double y) { return 0.2 * std::sin(4 * x) * std::cos(3 * y); }, o);
}

// Random points near a wavy bicubic: the refined distance is never above the minimum over a
// dense grid, and P - S is orthogonal to both partials at the foot.
TEST_F(SurfacePickTest, RefinedFootBeatsADenseGridAndIsOrthogonal) {
  Bspline* s = Wavy();
  const int n = 300;
  std::vector<double> dense(3 * (n + 1) * (n + 1));
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) RefEvalSurface(s, double(i) / n, double(j) / n, &dense[3 * (j * (n + 1) + i)]);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(0.05, 0.95), off(-0.15, 0.15);
  Grid g;
  for (int q = 0; q < 30; ++q) {
    const double P[3] = {U(rng), U(rng), off(rng)};
    double u, v, S[3], d, e;
    ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
    double best = 1e300;
    for (int k = 0; k < (n + 1) * (n + 1); ++k) best = std::fmin(best, VecDist3(P, &dense[3 * k]));
    EXPECT_LE(std::fabs(d), best + 1e-9) << q;
    EXPECT_NEAR(std::fabs(d), VecDist3(P, S), 1e-12);
    const int du[2] = {1, 0}, dv[2] = {0, 1};
    double D[2][3];
    EvalPointOnGeometryM(s, u, v, du, dv, 2, 0, D);
    const double r[3] = {P[0] - S[0], P[1] - S[1], P[2] - S[2]};
    if (u > 1e-9 && u < 1 - 1e-9 && v > 1e-9 && v < 1 - 1e-9) {
      EXPECT_NEAR(VecDotProd3(r, D[0]) / VecSize3(D[0]), 0.0, 1e-13) << q;
      EXPECT_NEAR(VecDotProd3(r, D[1]) / VecSize3(D[1]), 0.0, 1e-13) << q;
    }
  }
  double out[3];
  const double P[3] = {0.3, 0.4, 0.5};
  ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
  double u, v, S[3], d, e;
  ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
  EXPECT_LT(VecDist3(out, S), 1e-9);
  // A curve on the surface: the closest point is a point of the curve, nearer than its samples.
  Bspline* c = BuildCurveOnSurface(s, 2, {0.1, 0.2, 0.5, 0.9, 0.9, 0.3});
  ASSERT_EQ(FindClosestPointOnBspline(c, P[0], P[1], P[2], out), 1);
  for (int i = 0; i <= 200; ++i) {
    double q[3];
    Eval3DPointOnBsplOnSurfArray(nullptr, c, i / 200.0, 0, 0, q);
    EXPECT_LE(VecDist3(P, out), VecDist3(P, q) + 1e-9);
  }
  FreeBspline(s);
}

// A wavy bicubic of 8 x 8 control points and diagonal 1, at scales 1e-6, 1 and 1e6 and moved
// off the origin: points at normal offsets 0.01 .. 0.2 of the size from feet in [0.1, 0.9]^2,
// below 0.95 of the radius of curvature on their side, come back to their feet to 1e-9 of the
// size through the kept grid, their distances to 1e-12, with the parameters of unit scale. A
// point that a dense sampling finds nearer to another part of the surface is left out.
TEST_F(SurfacePickTest, FeetAtKnownNormalOffsetsAtEveryScale) {
  PatchOptions o;
  o.nu = o.nv = 8;
  const auto wave = [](double x, double y) { return 0.12 * std::sin(7 * x) * std::cos(6 * y); };
  std::vector<double> unitParams;
  std::vector<bool> use;  // decided at unit scale, the same points at every scale
  BsplineKeeper keep;
  for (double scale : {1.0, 1e-6, 1e6}) {
    Bspline* s = keep(BuildFunctionPatch(wave, o));
    const double shift[3] = {0.3 * scale, 2.0 * scale, -0.7 * scale};
    ScaleAndMove(s, scale / std::sqrt(2.0), shift);  // control-point diagonal about `scale`
    const int m = 120;
    std::vector<double> us(m + 1), dx((m + 1) * (m + 1)), dy(dx.size()), dz(dx.size());
    for (int i = 0; i <= m; ++i) us[i] = double(i) / m;
    if (scale == 1.0) {
      ASSERT_EQ(Eval3DGridOnBsplArray(s, us.data(), m + 1, us.data(), m + 1, dx.data(), dy.data(), dz.data()), 0);
    }
    std::mt19937 rng(47);
    std::uniform_real_distribution<double> U(0.1, 0.9), H(0.01, 0.2), ratio(0.5, 0.95);
    Grid g;
    for (int q = 0, k = 0; q < 120; ++q) {
      const double u0 = U(rng), v0 = U(rng), side = q % 2 ? 1.0 : -1.0;
      const SurfaceFrame f = FrameAt(s, u0, v0, side);
      double h = H(rng) * scale;
      const double rho = ratio(rng);
      if (f.k * h > rho) h = rho / f.k;
      double P[3];
      for (int c = 0; c < 3; ++c) P[c] = f.S[c] + side * h * f.n[c];
      if (scale == 1.0) {
        double nearest = 1e300;
        for (size_t i = 0; i < dx.size(); ++i) {
          const double e[3] = {dx[i] - P[0], dy[i] - P[1], dz[i] - P[2]};
          nearest = std::min(nearest, VecSize3(e));
        }
        use.push_back(nearest >= h * (1.0 - 1e-3));
      }
      if (!use[q]) continue;
      double u, v, S[3], d, e;
      ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
      EXPECT_LT(VecDist3(S, f.S), 1e-9 * scale) << scale << " " << q;
      EXPECT_NEAR(d, side * h, 1e-12 * h) << scale << " " << q;
      if (scale == 1.0) {
        unitParams.insert(unitParams.end(), {u, v});
      } else {
        EXPECT_NEAR(u, unitParams[2 * k], 1e-11) << scale << " " << q;
        EXPECT_NEAR(v, unitParams[2 * k + 1], 1e-11) << scale << " " << q;
        ++k;
      }
      double out[3];
      if (q % 10 == 0) {
        ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
        EXPECT_LT(VecDist3(out, f.S), 1e-9 * scale);
      }
    }
  }
  EXPECT_GT(unitParams.size(), 160u);
}

// A filled cache is used as it stands: a query allocates and evaluates nothing for the search,
// so a point planted in the cache is matched at its grid parameters (50 x 50 for few knots).
TEST_F(SurfacePickTest, KeptGridIsReusedAndTiesGoToTheFirstInScanOrder) {
  Bspline* s = Wavy();
  Grid g;
  const double P[3] = {0.5, 0.5, 1.0};
  double u, v, q[3];
  ASSERT_EQ(EstimateClosestPntSurf(s, P, &g.x, &g.y, &g.z, q, &u, &v, 0), 0);
  const long before = MallocRuntimeRequests();
  const int i = 7, j = 31;
  g.x[j * 50 + i] = P[0];
  g.y[j * 50 + i] = P[1];
  g.z[j * 50 + i] = P[2];
  g.x[(j + 5) * 50 + i] = P[0];  // a later tie loses
  g.y[(j + 5) * 50 + i] = P[1];
  g.z[(j + 5) * 50 + i] = P[2];
  ASSERT_EQ(EstimateClosestPntSurf(s, P, &g.x, &g.y, &g.z, q, &u, &v, 0), 0);
  EXPECT_EQ(MallocRuntimeRequests(), before);
  EXPECT_NEAR(u, i / 49.0, 1e-12);
  EXPECT_NEAR(v, j / 49.0, 1e-12);

  // Interior only: the first and last rows and columns never match.
  Grid h;
  for (double x : {0.0, 1.0})
    for (double y : {0.0, 0.5, 1.0}) {
      const double C[3] = {x, y, 0.0};
      ASSERT_EQ(EstimateClosestPntSurf(s, C, &h.x, &h.y, &h.z, q, &u, &v, 1), 0);
      EXPECT_TRUE(u > 0 && u < 1 && v > 0 && v < 1) << x << " " << y;
    }
  FreeBspline(s);
}

// Under failing memory the cache stays empty and nothing leaks; the failure says memory (-1).
TEST_F(SurfacePickTest, FailedGridLeavesTheCacheEmpty) {
  Bspline* s = Wavy();
  s->closedU = 1;
  const double P[3] = {0.2, 0.3, 0.1};
  const int failures = RunWithInjectedFailures(8, 1, [&] {
    double *x = nullptr, *y = nullptr, *z = nullptr, u, v, S[3], d, e;
    const int r = GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &x, &y, &z, &e);
    if (r != 0) {
      EXPECT_EQ(r, -1);
      EXPECT_TRUE(!x && !y && !z);
    }
    for (double* a : {x, y, z}) Free(a);
    return r;
  });
  EXPECT_GT(failures, 0);
  double u, v, S[3], d, e;
  EXPECT_EQ(GetClosestPointOnSurfaceResult(nullptr, P, &u, &v, S, &d, nullptr, nullptr, nullptr, &e), -2);
  FreeBspline(s);
}

// A point that is not finite, or so far away (1e200, 1e300) that its squared distances
// overflow, has no closest point: the grid estimate, the refined closest point and the closest
// point of an object all fail, the refined one leaving a filled cache as it was, and write no
// output.
TEST_F(SurfacePickTest, PointsBeyondReachHaveNoClosestPoint) {
  Bspline* s = Wavy();
  Grid g;
  const double ok[3] = {0.2, 0.3, 0.1};
  double u = 0.5, v = 0.5, q[3], d, e;
  ASSERT_EQ(EstimateClosestPntSurf(s, ok, &g.x, &g.y, &g.z, q, &u, &v, 0), 0);
  const double* filled = g.x;
  for (const double bad : {double(NAN), double(INFINITY), 1e200, -1e300}) {
    for (int k = 0; k < 3; ++k) {
      double P[3] = {0.2, 0.3, 0.1};
      P[k] = bad;
      double out[3] = {7, 7, 7};
      u = v = d = e = 7;
      q[0] = q[1] = q[2] = 7;
      EXPECT_EQ(EstimateClosestPntSurf(s, P, &g.x, &g.y, &g.z, q, &u, &v, 0), -2) << bad << " " << k;
      if (!std::isfinite(bad)) {
        EXPECT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, q, &d, &g.x, &g.y, &g.z, &e), -2) << bad << " " << k;
        EXPECT_EQ(g.x, filled);
      }
      EXPECT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 0) << bad << " " << k;
      EXPECT_TRUE(u == 7 && v == 7 && d == 7 && e == 7 && q[0] == 7 && out[0] == 7) << bad << " " << k;
    }
  }
  FreeBspline(s);
}

// The nearest point of an exact arc (20 .. 250 degrees) and of an exact full circle: the foot on
// the circle where P's angle lies on the arc, else the nearer end; across the full circle's seam
// (angles near 0) the circle's foot too. Points near the centre (a focal point: every point of
// the circle nearly as near), near the circle and up to 50 radii away, off the plane, at radii
// 1e-6, 1 and 1e6 with the centre 1e4 radii from the origin; always found, to 1e-9 of the radius
// (near the centre to the round-off of the foot's direction, 1e-9 R / rho of it).
TEST_F(SurfacePickTest, ClosestPointOfArcsAndCirclesIsTheExactFoot) {
  BsplineKeeper keep;
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> angle(0.0, 360.0), seam(-5.0, 5.0), lift(-1.0, 1.0);
  std::uniform_real_distribution<double> centreish(1e-4, 0.05), near(0.5, 1.5), far(5.0, 50.0);
  for (double R : {1e-6, 1.0, 1e6}) {
    const double c[3] = {1e4 * R, -0.6e4 * R, 0.3e4 * R};
    Bspline* arc = keep(MakeArcZBspline(20.0, 250.0, c, R));
    Bspline* circle = keep(NewCircleBspline(c, R));
    ASSERT_TRUE(arc && circle);
    int ends = 0;
    for (int q = 0; q < 300; ++q) {
      const bool onCircle = q % 3 == 0;
      const double th = (onCircle && q % 2 ? seam(rng) : angle(rng)) * M_PI / 180.0;
      const double rho = R * (q % 5 == 0 ? centreish(rng) : q % 5 < 3 ? near(rng) : far(rng));
      const double P[3] = {c[0] + rho * std::cos(th), c[1] + rho * std::sin(th), c[2] + R * lift(rng)};
      double foot[3] = {c[0] + R * std::cos(th), c[1] + R * std::sin(th), c[2]};
      const double deg = std::fmod(th * 180.0 / M_PI + 360.0, 360.0);
      if (!onCircle && !(deg >= 20.0 && deg <= 250.0)) {
        double e[2][3];
        for (int k = 0; k < 2; ++k) {
          const double a = (k == 0 ? 20.0 : 250.0) * M_PI / 180.0;
          e[k][0] = c[0] + R * std::cos(a);
          e[k][1] = c[1] + R * std::sin(a);
          e[k][2] = c[2];
        }
        const double d0 = VecDist3(P, e[0]), d1 = VecDist3(P, e[1]);
        if (std::fabs(d0 - d1) < 1e-6 * R) continue;  // two feet
        for (int k = 0; k < 3; ++k) foot[k] = e[d0 < d1 ? 0 : 1][k];
        ++ends;
      }
      double out[3];
      ASSERT_EQ(FindClosestPointOnBspline(onCircle ? circle : arc, P[0], P[1], P[2], out), 1) << R << " " << q;
      EXPECT_LT(VecDist3(out, foot), 1e-9 * R * (1.0 + R / rho)) << R << " " << q << " rho " << rho / R;
    }
    EXPECT_GT(ends, 40);
  }
}

// Non-rational curves (a degree 5 curve of 9 points, a cubic helix of 3 turns): points far
// away, where the nearest point is often an end, and points near centres of curvature, where
// the distance has several shallow minima. The point found is never farther than the nearest of
// 20,001 samples and never nearer than the best sample refined (it is a point of the curve).
TEST_F(SurfacePickTest, ClosestPointOnCurvesIsTheGlobalMinimum) {
  BsplineKeeper keep;
  std::vector<double> helix;
  for (int i = 0; i < 19; ++i) {
    const double a = i * (6.0 * M_PI / 18.0);
    helix.insert(helix.end(), {std::cos(a), std::sin(a), 0.15 * a});
  }
  Bspline* curves[2] = {keep(BuildRandomCurve(5, 5, 9)), keep(BuildCurve(3, 3, helix))};
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> U(0.0, 1.0), side(-1.0, 1.0);
  for (Bspline* c : curves) {
    const double size = ControlPointDiagonal(c);
    const int m = 20000;
    std::vector<double> dense(3 * (m + 1));
    for (int i = 0; i <= m; ++i) RefEvalCurve(c, double(i) / m, &dense[3 * i]);
    for (int q = 0; q < 200; ++q) {
      double P[3];
      if (q % 2 == 0) {  // far: 2 .. 20 sizes off in any direction
        double dir[3] = {side(rng), side(rng), side(rng)};
        UnitVector(dir, dir);
        const double r = size * (2.0 + 18.0 * U(rng));
        for (int k = 0; k < 3; ++k) P[k] = dense[3 * (m / 2) + k] + r * dir[k];
      } else {  // within 2 % of a centre of curvature
        const double t0 = U(rng);
        double D[3][3], T[3], N[3];
        for (int d = 0; d < 3; ++d) RefEvalDeriv(c, t0, 0.0, d, 0, D[d]);
        UnitVector(D[1], T);
        const double along = VecDotProd3(D[2], T);
        for (int k = 0; k < 3; ++k) N[k] = D[2][k] - along * T[k];
        const double kappa = VecSize3(N) / VecDotProd3(D[1], D[1]);
        UnitVector(N, N);
        const double h = (1.0 + 0.02 * side(rng)) / kappa;
        if (h > 3.0 * size) continue;
        for (int k = 0; k < 3; ++k) P[k] = D[0][k] + h * N[k];
      }
      double out[3];
      ASSERT_EQ(FindClosestPointOnBspline(c, P[0], P[1], P[2], out), 1) << q;
      double nearest = 1e300;
      for (int i = 0; i <= m; ++i) nearest = std::fmin(nearest, VecDist3(P, &dense[3 * i]));
      EXPECT_LE(VecDist3(P, out), nearest + 1e-12 * size) << q;
      EXPECT_GE(VecDist3(P, out), nearest - 1e-4 * size) << q;
    }
  }
}

// Points within 3 % of the centres of curvature of a wavy bicubic, where the distance has
// several shallow minima: the least one is found (never beyond a dense grid's nearest point),
// through the kept grid and through the one-shot entry.
TEST_F(SurfacePickTest, ClosestPointOnASurfaceNearItsFocalPointsIsTheLeast) {
  PatchOptions o;
  o.nu = o.nv = 8;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.12 * std::sin(7 * x) * std::cos(6 * y); }, o);
  const int n = 300;
  std::vector<double> dense(3 * (n + 1) * (n + 1));
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) RefEvalSurface(s, double(i) / n, double(j) / n, &dense[3 * (j * (n + 1) + i)]);
  std::mt19937 rng(21);
  std::uniform_real_distribution<double> U(0.05, 0.95), ratio(0.97, 1.03);
  Grid g;
  int checked = 0;
  for (int q = 0; q < 100; ++q) {
    const double side = q % 2 ? 1.0 : -1.0;
    const SurfaceFrame f = FrameAt(s, U(rng), U(rng), side);
    const double h = ratio(rng) / f.k;
    if (h > 1.0) continue;
    double P[3];
    for (int c = 0; c < 3; ++c) P[c] = f.S[c] + side * h * f.n[c];
    double u, v, S[3], d, e, out[3];
    ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
    ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
    double best = 1e300;
    for (int k = 0; k < (n + 1) * (n + 1); ++k) best = std::fmin(best, VecDist3(P, &dense[3 * k]));
    EXPECT_LE(std::fabs(d), best + 1e-9) << q;
    EXPECT_LE(VecDist3(P, out), best + 1e-9) << q;
    ++checked;
  }
  EXPECT_GT(checked, 40);
  FreeBspline(s);
}

// Points over the fold of a channel (z = 4 (x - c)^2 + 0.1 y, its axis between grid lines),
// nearly midway between its walls and above the centre of curvature of its bottom: each wall
// holds a minimum, the nearer one by up to 1e-3 of the size, and the nearest grid point may lie
// on the other wall, where the foot is not near a centre of curvature. The kept grid finds the
// least (as the one-shot entry, which compares every minimum of the grid), at sizes 1e-6 .. 1e6
// moved 1e4 times the size from the origin.
TEST_F(SurfacePickTest, ClosestPointOverAFoldIsTheLeast) {
  PatchOptions o;
  o.nu = o.nv = 8;
  const double c = 0.5 + 0.37 / 49;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> Y(0.1, 0.9), Z(0.2, 1.0), E(-3e-4, 3e-4);
  for (double scale : {1e-6, 1.0, 1e6}) {
    Bspline* s = BuildFunctionPatch([c](double x, double y) { return 4 * (x - c) * (x - c) + 0.1 * y; }, o);
    const double shift[3] = {1e4 * scale, -2e4 * scale, 5e3 * scale};
    ScaleAndMove(s, scale, shift);
    const double size = ControlPointDiagonal(s);
    Grid g;
    for (int q = 0; q < 100; ++q) {
      const double P[3] = {(c + E(rng)) * scale + shift[0], Y(rng) * scale + shift[1], Z(rng) * scale + shift[2]};
      double u, v, S[3], d, e, out[3];
      ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
      ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
      EXPECT_LE(std::fabs(d), VecDist3(P, out) + 1e-10 * size) << scale << " " << q;
      EXPECT_NEAR(VecDist3(P, S), std::fabs(d), 1e-10 * size);
    }
    FreeBspline(s);
  }
}

// The trough z = x^2 + k (x - xi) (y - y0)^2 over x in [x0, x1], y in [0, 1], held exactly by one
// biquadratic Bezier patch (each factor's ordinates from its blossom).
Bspline* Trough(double x0, double x1, double k, double xi, double y0) {
  // f(x) = c0 + c1 x + c2 x^2 over [a, b] as quadratic Bezier ordinates.
  auto ordinates = [](double c0, double c1, double c2, double a, double b, double out[3]) {
    out[0] = c0 + c1 * a + c2 * a * a;
    out[1] = c0 + c1 * 0.5 * (a + b) + c2 * a * b;
    out[2] = c0 + c1 * b + c2 * b * b;
  };
  double A[3], B[3], C[3];
  ordinates(0.0, 0.0, 1.0, x0, x1, A);
  ordinates(-k * xi, k, 0.0, x0, x1, B);
  ordinates(y0 * y0, -2.0 * y0, 1.0, 0.0, 1.0, C);
  std::vector<double> pts;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) pts.insert(pts.end(), {x0 + (x1 - x0) * 0.5 * i, 0.5 * j, A[i] + B[i] * C[j]});
  return BuildSurface(2, 2, 3, 3, pts);
}

// A point above the parabola z = x^2 beyond its centre of curvature (height Y), moved right by
// e, has a minimum of the distance on either side; the domain ends short of the right one, so
// the right side's least distance lies on the edge x = x1, chosen 1e-7..1e-4 nearer than the
// left (interior) minimum at xi. Along y the trough bends away from the point at the edge only,
// and the point lies between grid rows: the grid's nearest point is then the interior one. In
// the plane y = y0 the trough is the parabola, so both distances are exact. The foot is on the
// edge at its exact distance, through the kept grid and the one-shot entry, at sizes 1e-6 ..
// 1e6 at the origin and moved 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointOnAnEdgeBesideAnInteriorMinimumIsTheLeast) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  for (double scale : {1.0, 1e-6, 1e6})
    for (double moved : {0.0, 1e4}) {
      const double shift[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
      for (int q = 0; q < 50; ++q) {
        const double Y = 0.8 + 1.2 * U(rng), e = 0.05 * U(rng), xr = std::sqrt(Y - 0.5);
        // The stationary points of the distance: 2 x^3 + (1 - 2 Y) x - e = 0.
        auto f = [&](double x) { return 2 * x * x * x + (1 - 2 * Y) * x - e; };
        auto root = [&](double a, double b) {
          for (int it = 0; it < 200; ++it) ((f(0.5 * (a + b)) < 0) == (f(a) < 0) ? a : b) = 0.5 * (a + b);
          return 0.5 * (a + b);
        };
        const double xi = root(-2 * xr, -0.5 * xr), xRight = root(0.5 * xr, 2 * xr);
        auto dist = [&](double x) { return std::hypot(x - e, x * x - Y); };
        const double nearer = std::pow(10.0, -7.0 + 3.0 * U(rng));
        double a = 0.0, b = xRight;  // the distance falls on (0, xRight)
        for (int it = 0; it < 200; ++it) (dist(0.5 * (a + b)) > dist(xi) - nearer ? a : b) = 0.5 * (a + b);
        const double x1 = 0.5 * (a + b), y0 = (24.5 + 0.6 * U(rng) - 0.3) / 49.0;
        Bspline* s = Trough(xi - 0.2 - 0.3 * U(rng), x1, -0.3 - 0.7 * U(rng), xi, y0);
        ScaleAndMove(s, scale, shift);
        const double P[3] = {scale * e + shift[0], scale * y0 + shift[1], scale * Y + shift[2]};
        Grid g;
        double u, v, S[3], d, err, out[3];
        ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &err), 0);
        ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
        EXPECT_EQ(u, s->umax) << scale << " " << moved << " " << q;
        EXPECT_NEAR(std::fabs(d), scale * dist(x1), 1e-10 * scale) << scale << " " << moved << " " << q;
        EXPECT_NEAR(VecDist3(P, out), scale * dist(x1), 1e-10 * scale) << scale << " " << moved << " " << q;
        FreeBspline(s);
      }
    }
}

// Points near the apex of a cone (a collapsed side; half angle a, opening along +z) and near the
// poles of a sphere, a little off the axis: the apex or pole is the answer only where P lies in
// its cone of normals; elsewhere the foot on a generator (distance x cos a + h sin a for P at x
// off the axis, h below the apex) or on a meridian (|P - c| - R) is nearer. The exact distance
// through the kept grid, the one-shot entry and the refiner started on the apex or pole at any u,
// at sizes 1e-6 .. 1e6, at the origin and moved 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointBesideAnApexOrPoleIsOnlyThereWhenNearest) {
  std::mt19937 rng(13);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  const double a = 0.4;
  for (double scale : {1.0, 1e-6, 1e6})
    for (double moved : {0.0, 1e4}) {
      const double c[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
      const QuadricInfo info = {{c[0], c[1], c[2], 0, 0, 1, a, 0.0, scale}};
      Bspline* cone = CreateConeBspline(&info);
      Bspline* sphere = CreateSphereBspline(c[0], c[1], c[2], scale);
      ASSERT_TRUE(cone && sphere);
      for (Bspline* s : {cone, sphere}) {
        const double size = ControlPointDiagonal(s);
        Grid g;
        for (int q = 0; q < 40; ++q) {
          const double phi = 2 * M_PI * U(rng);
          double P[3], exact;
          if (s == cone) {
            const double x = 1e-4 * (0.2 + U(rng)), h = 2 * x * std::tan(a) * U(rng);
            const double along = x * std::sin(a) - h * std::cos(a);
            exact = scale * (along > 0 ? x * std::cos(a) + h * std::sin(a) : std::hypot(x, h));
            const double off[3] = {x * std::cos(phi), x * std::sin(phi), -h};
            for (int k = 0; k < 3; ++k) P[k] = c[k] + scale * off[k];
          } else {
            const double x = 1e-3 * U(rng), h = 0.2 * U(rng), pole = q % 2 ? 1.0 : -1.0;
            const double off[3] = {x * std::cos(phi), x * std::sin(phi), pole * (1 + h)};
            exact = scale * (VecSize3(off) - 1);
            for (int k = 0; k < 3; ++k) P[k] = c[k] + scale * off[k];
          }
          double u, v, S[3], d, e, out[3];
          ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
          ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
          EXPECT_NEAR(std::fabs(d), exact, 1e-10 * size) << scale << " " << moved << " " << q;
          EXPECT_NEAR(VecDist3(P, out), exact, 1e-10 * size) << scale << " " << moved << " " << q;
          for (double side : {s->vmin, s->vmax})
            for (double u0 : {0.1, 0.45, 0.8}) {
              double uu = s->umin + u0 * (s->umax - s->umin), vv = side;
              if (s == cone && side == s->vmax) continue;
              ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &uu, &vv, &d, &e, 7), 0);
              EXPECT_NEAR(std::fabs(d), exact, 1e-10 * size) << scale << " " << moved << " " << q << " " << u0;
            }
        }
      }
      FreeBspline(cone);
      FreeBspline(sphere);
    }
}

// A bicubic with 8 x 8 bumps, under the grid's resolution of them (six cells a bump), scaled
// and moved, and `count` points over it (random generator seeded with `seed`): the least
// distance is found (never beyond a dense grid's minima refined) through the kept grid,
// and through the one-shot entry when `oneShot`; the points before `from` are drawn and passed by,
// and the points lie within `height` of the bumps' mid plane.
void ExpectTheLeastAmongBumps(double scale, const double shift[3], unsigned seed, int count, bool oneShot,
                              int from = 0, double height = 0.4) {
  PatchOptions o;
  o.nu = o.nv = 40;
  const int n = 300;
  Bspline* s = BuildFunctionPatch([](double x, double y) { return 0.1 * std::sin(16 * M_PI * x) * std::sin(16 * M_PI * y); }, o);
  ScaleAndMove(s, scale, shift);
  const double size = ControlPointDiagonal(s);
  std::vector<double> dense(3 * (n + 1) * (n + 1));
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) RefEvalSurface(s, double(i) / n, double(j) / n, &dense[3 * (j * (n + 1) + i)]);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(0.0, 1.0), Z(0.0, height);
  Grid g;
  for (int q = 0; q < count; ++q) {
    const double P[3] = {scale * U(rng) + shift[0], scale * U(rng) + shift[1], scale * (q % 2 ? 1 : -1) * Z(rng)};
    if (q < from) continue;
    std::vector<double> dist((n + 1) * (n + 1));
    double best = 1e300;
    for (int k = 0; k < (n + 1) * (n + 1); ++k) best = std::fmin(best, dist[k] = VecDist3(P, &dense[3 * k]));
    // The dense grid's minima within a fiftieth of the size of its nearest point, each refined.
    double least = best, u, v, S[3], d, e, out[3];
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) {
        const double own = dist[j * (n + 1) + i];
        bool minimum = own < best + 0.02 * size;
        for (int b = std::max(0, j - 1); b <= std::min(n, j + 1) && minimum; ++b)
          for (int a = std::max(0, i - 1); a <= std::min(n, i + 1) && minimum; ++a) minimum = dist[b * (n + 1) + a] >= own;
        if (!minimum) continue;
        u = double(i) / n, v = double(j) / n;
        ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &u, &v, &d, &e, 7), 0);
        least = std::fmin(least, std::fabs(d));
      }
    ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
    EXPECT_LE(std::fabs(d), least + 1e-10 * size) << scale << " " << q;
    EXPECT_NEAR(VecDist3(P, S), std::fabs(d), 1e-12 * size) << scale << " " << q;
    if (!oneShot) continue;
    ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
    EXPECT_LE(VecDist3(P, out), least + 1e-10 * size) << scale << " " << q;
  }
  FreeBspline(s);
}

// Over the bumps neighbouring minima of the distance differ by less than a cell's sag, at size 1
// and at 1e6 moved 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointAmongBumpsIsTheLeast) {
  const double origin[3] = {0.0, 0.0, 0.0}, far[3] = {1e10, -2e10, 0.0};
  ExpectTheLeastAmongBumps(1.0, origin, 3, 120, true);
  ExpectTheLeastAmongBumps(1e6, far, 3, 120, true);
}

// Points where a second minimum lies less than a grid cell from the one the kept grid's
// refinement reaches, nearer by less than a cell's sag: the kept grid gives the least too.
TEST_F(SurfacePickTest, ClosestPointWithARivalMinimumInTheNextCellIsTheLeast) {
  const double origin[3] = {0.0, 0.0, 0.0}, far[3] = {-1e10, 3e10, 0.0};
  ExpectTheLeastAmongBumps(1.0, origin, 1, 300, false);
  ExpectTheLeastAmongBumps(1e6, far, 1, 300, false);
}

// Points nearer the bumps than a grid cell's size, where the least minimum lies on a valley floor
// between grid rows (no grid point and no quadratic model of a cell shows it), two cells from
// the foot the nearest grid point leads to, or a cell from another minimum only 1.2e-5 farther:
// the least is found through the kept grid and the one-shot entry, at size 1 and at 1e6 moved
// 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointNearerThanACellToBumpsIsTheLeast) {
  const double origin[3] = {0.0, 0.0, 0.0}, far[3] = {-1e10, 3e10, 0.0};
  for (const double* shift : {origin, far}) {
    const double scale = shift == origin ? 1.0 : 1e6;
    ExpectTheLeastAmongBumps(scale, shift, 4, 70, true, 60);
    ExpectTheLeastAmongBumps(scale, shift, 20, 125, true, 115);
    ExpectTheLeastAmongBumps(scale, shift, 46, 105, true, 95, 0.05);
  }
}

// Points within 1e-3 of the tube radius r of a torus's core circle, where the distance round the
// tube varies by only twice that and curves down over most of it: the foot is at the exact
// distance r - e, from the kept grid, the one-shot entry and the refiner started anywhere round
// the tube, at sizes 1e-6 .. 1e6, at the origin and moved 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointNearATorusCoreCircleIsExact) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  const double R = 1.0, r = 0.3;
  for (double scale : {1.0, 1e-6, 1e6})
    for (double moved : {0.0, 1e4}) {
      const double c[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
      Bspline* s = BuildTorus(R, r);
      ASSERT_TRUE(s);
      ScaleAndMove(s, scale, c);
      const double size = ControlPointDiagonal(s);
      Grid g;
      for (int q = 0; q < 25; ++q) {
        const double phi = 2 * M_PI * U(rng), th = 2 * M_PI * U(rng), eps = 1e-3 * r * U(rng);
        const double rho = R + eps * std::cos(th);
        const double off[3] = {rho * std::cos(phi), rho * std::sin(phi), eps * std::sin(th)};
        double P[3];
        for (int k = 0; k < 3; ++k) P[k] = c[k] + scale * off[k];
        const double exact = scale * (r - eps);
        double u, v, S[3], d, e, out[3];
        ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
        ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
        EXPECT_NEAR(std::fabs(d), exact, 1e-10 * size) << scale << " " << moved << " " << q;
        EXPECT_NEAR(VecDist3(P, out), exact, 1e-10 * size) << scale << " " << moved << " " << q;
        for (double v0 : {0.2, 0.45, 0.7, 0.95}) {
          double uu = phi / (2 * M_PI), vv = v0;
          ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &uu, &vv, &d, &e, 7), 0);
          EXPECT_NEAR(std::fabs(d), exact, 1e-10 * size) << scale << " " << moved << " " << q << " " << v0;
        }
      }
      FreeBspline(s);
    }
}

// A bicubic whose knots both ways hold three `gap` apart at 0.5 (x and y at the Greville
// abscissae, z a wave with random heights, so the surface turns a corner there), and points
// within 1e-4 .. 0.1 of it beside the corners, where a minimum of the distance on either side
// may be the least: the closest point through the kept grid and the one-shot entry is never
// beyond the minima of a dense grid refined (and the refinements from either side of the
// corners), at size 1 and at 1e6 moved 1e4 times the size.
void ExpectTheLeastAcrossKnotsAt(double gap) {
  const std::vector<double> k = {0, 0, 0, 0, 0.25, 0.5, 0.5 + gap, 0.5 + 2 * gap, 0.75, 1, 1, 1, 1};
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  std::vector<double> pts;
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 9; ++i) {
      const double x = (k[i + 1] + k[i + 2] + k[i + 3]) / 3, y = (k[j + 1] + k[j + 2] + k[j + 3]) / 3;
      pts.insert(pts.end(), {x, y, 0.15 * std::sin(3 * x + 0.5) * std::cos(2.5 * y) + 0.16 * (U(rng) - 0.5)});
    }
  const int n = 200;
  for (const double scale : {1.0, 1e6}) {
    const double shift[3] = {scale == 1.0 ? 0.0 : 1e10, scale == 1.0 ? 0.0 : -2e10, 0.0};
    BsplineKeeper keep;
    Bspline* s = keep(BuildSurface(3, 3, 9, 9, pts, k, k));
    ASSERT_TRUE(s);
    ScaleAndMove(s, scale, shift);
    std::vector<double> dense(3 * (n + 1) * (n + 1));
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i) RefEvalSurface(s, double(i) / n, double(j) / n, &dense[3 * (j * (n + 1) + i)]);
    Grid g;
    for (int q = 0; q < 40; ++q) {
      double u = U(rng), v = U(rng);
      (q % 2 ? u : v) = 0.5 + 1e-3 * (U(rng) - 0.5);
      const SurfaceFrame f = FrameAt(s, u, v, 1.0);
      const double h = (q % 4 < 2 ? 1.0 : -1.0) * scale * std::pow(10.0, -1.0 - 3.0 * U(rng));
      double P[3];
      for (int c = 0; c < 3; ++c) P[c] = f.S[c] + h * f.n[c];
      std::vector<double> dist((n + 1) * (n + 1));
      double best = 1e300;
      for (int m = 0; m < (n + 1) * (n + 1); ++m) best = std::fmin(best, dist[m] = VecDist3(P, &dense[3 * m]));
      double least = best, S[3], d, e, out[3];
      auto refine = [&](double a, double b) {
        ASSERT_EQ(FindClosestUVPointGuessDist(s, P, S, &a, &b, &d, &e, 7), 0);
        least = std::fmin(least, std::fabs(d));
      };
      for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
          const double own = dist[j * (n + 1) + i];
          bool minimum = own < best + 0.02 * scale;
          for (int b = std::max(0, j - 1); b <= std::min(n, j + 1) && minimum; ++b)
            for (int a = std::max(0, i - 1); a <= std::min(n, i + 1) && minimum; ++a) minimum = dist[b * (n + 1) + a] >= own;
          if (minimum) refine(double(i) / n, double(j) / n);
        }
      for (const double side : {0.4999, 0.5001}) {
        refine(side, v);
        refine(u, side);
      }
      ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
      EXPECT_LE(std::fabs(d), least + 1e-10 * scale) << scale << " " << q;
      ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
      EXPECT_LE(VecDist3(P, out), least + 1e-10 * scale) << scale << " " << q;
    }
  }
}

TEST_F(SurfacePickTest, ClosestPointAcrossAClusterOfKnotsIsTheLeast) { ExpectTheLeastAcrossKnotsAt(1e-12); }

// The same at a knot of multiplicity three, where the surface has a crease.
TEST_F(SurfacePickTest, ClosestPointAcrossACreaseIsTheLeast) { ExpectTheLeastAcrossKnotsAt(0.0); }

// A valley (a cubic in u, x = 2 u) of a gentle slope 0.2 left of x = 1 and a steep one 3 right
// of it, its crease a triple knot at 0.5 or three knots 1e-12 apart, rational (so no bound of
// its derivatives guides the search), and a point above it just right of the crease: the grid's
// nearest point is on the gentle slope, whose minimum of the distance lies 2.4e-4 of the range
// left of the crease, in the same grid cell as the nearer one on the steep slope. The closest
// point through the kept grid and the one-shot entry is the steep slope's at its exact distance,
// at size 1e-6, 1 and 1e6, at the origin and moved 1e4 times the size.
TEST_F(SurfacePickTest, ClosestPointBesideAKinkIsOnItsNearerSide) {
  const double sl = 0.2, sr = 3.0, delta = 5e-4, h = 5e-3;
  const double exact = (h - sr * delta) / std::sqrt(1.0 + sr * sr);
  for (const double gap : {0.0, 1e-12}) {
    const std::vector<double> k = {0, 0, 0, 0, 0.5, 0.5 + gap, 0.5 + 2 * gap, 1, 1, 1, 1};
    std::vector<double> pts;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 7; ++i) {
        const double x = 2.0 * (k[i + 1] + k[i + 2] + k[i + 3]) / 3.0;
        pts.insert(pts.end(), {x, double(j), x < 1.0 ? sl * (1.0 - x) : sr * (x - 1.0)});
      }
    for (const double scale : {1e-6, 1.0, 1e6})
      for (const double moved : {0.0, 1e4}) {
        const double shift[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
        BsplineKeeper keep;
        Bspline* s = keep(BuildSurface(3, 1, 7, 2, pts, k, {0, 0, 1, 1}, std::vector<double>(14, 1.0)));
        ASSERT_TRUE(s);
        ScaleAndMove(s, scale, shift);
        const double P[3] = {(1.0 + delta) * scale + shift[0], 0.4 * scale + shift[1], h * scale + shift[2]};
        Grid g;
        double u, v, S[3], d, e, out[3];
        ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
        EXPECT_NEAR(std::fabs(d), exact * scale, 1e-9 * scale) << gap << " " << scale << " " << moved;
        ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
        EXPECT_NEAR(VecDist3(P, out), exact * scale, 1e-9 * scale) << gap << " " << scale << " " << moved;
      }
  }
}

// A profile in x, z swept along y (linear in v), cubic in u, rational with unit weights (so no
// bound of its derivatives guides the search): the points as (x, z) pairs over the knots k.
Bspline* SweptProfile(const std::vector<double>& k, const std::vector<double>& xz, double scale, double moved) {
  const int n = int(xz.size()) / 2;
  std::vector<double> pts;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < n; ++i) pts.insert(pts.end(), {xz[2 * i], double(j), xz[2 * i + 1]});
  Bspline* s = BuildSurface(3, 1, n, 2, pts, k, {0, 0, 1, 1}, std::vector<double>(2 * n, 1.0));
  const double shift[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
  if (s) ScaleAndMove(s, scale, shift);
  return s;
}

// The nearest point of the profile to (x, 0.5, z), placed as SweptProfile places it, lies on the
// line v = 0.5: a dense reference samples it over the domain and over [a, b] (the stretch the
// grid does not see), then narrows the bracket of the nearest sample by golden sections. The
// closest point through the kept grid and the one-shot entry is no farther, beyond 1e-9 of the
// size, at size 1e-6, 1 and 1e6, at the origin and moved 1e4 times the size.
void ExpectTheProfilesFootWithin(const std::vector<double>& k, const std::vector<double>& xz, double x, double z,
                                 double a, double b) {
  for (const double scale : {1e-6, 1.0, 1e6})
    for (const double moved : {0.0, 1e4}) {
      BsplineKeeper keep;
      Bspline* s = keep(SweptProfile(k, xz, scale, moved));
      ASSERT_TRUE(s);
      const double P[3] = {(x + moved) * scale, (0.5 - 2 * moved) * scale, (z + 0.5 * moved) * scale};
      auto dist = [&](double u) {
        double q[3];
        RefEvalSurface(s, u, 0.5, q);
        return VecDist3(P, q);
      };
      std::vector<double> ts;
      for (int i = 0; i <= 4000; ++i) ts.insert(ts.end(), {i / 4000.0, a + (b - a) * i / 4000.0});
      std::sort(ts.begin(), ts.end());
      size_t at = 0;
      for (size_t i = 1; i < ts.size(); ++i)
        if (dist(ts[i]) < dist(ts[at])) at = i;
      double lo = ts[at > 0 ? at - 1 : 0], hi = ts[std::min(at + 1, ts.size() - 1)];
      const double phi = 0.5 * (std::sqrt(5.0) - 1.0);
      for (int it = 0; it < 200 && hi > lo; ++it) {
        const double m1 = hi - phi * (hi - lo), m2 = lo + phi * (hi - lo);
        (dist(m1) < dist(m2) ? hi : lo) = dist(m1) < dist(m2) ? m2 : m1;
      }
      const double least = std::fmin(dist(ts[at]), dist(0.5 * (lo + hi))), size = ControlPointDiagonal(s);
      Grid g;
      double u, v, S[3], d, e, out[3];
      ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
      EXPECT_LE(std::fabs(d), least + 1e-9 * size) << scale << " " << moved;
      ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
      EXPECT_LE(VecDist3(P, out), least + 1e-9 * size) << scale << " " << moved;
    }
}

// Four knots 1e-12 apart at 0.5 break the profile there: it drops from one piece's end at (1, -3)
// to the next one's start at (1, 3) within the cluster, a wall between grid samples. Beside it a
// point some 1e-3 off the wall; either piece's own nearest point lies near its far end, at some
// 0.85.
TEST_F(SurfacePickTest, ClosestPointOnAWallWithinAClusterOfKnotsIsTheLeast) {
  const double g = 1e-12;
  ExpectTheProfilesFootWithin({0, 0, 0, 0, 0.25, 0.5, 0.5 + g, 0.5 + 2 * g, 0.5 + 3 * g, 0.75, 1, 1, 1, 1},
                          {0, 0, 0.25, -0.5, 0.5, -1.5, 0.75, -2.5, 1, -3, 1, 3, 1.25, 2.5, 1.5, 1.5, 1.75, 0.5, 2, 0},
                          1.001, 0.0, 0.5, 0.5 + 3 * g);
}

// A last span 1e-10 of the range long: over it the profile runs straight down from (1, 0) to (1,
// -2), and the point some 1e-3 off that tail has its foot within the short span, where every
// step is far below the noise of the range.
TEST_F(SurfacePickTest, ClosestPointWithinAShortLastSpanConverges) {
  ExpectTheProfilesFootWithin({0, 0, 0, 0, 0.5, 1 - 1e-10, 1, 1, 1, 1},
                          {0, 0, 0.3, 0.3, 0.6, 0.1, 0.9, 0.2, 1, 0, 1, -2}, 1.001, -1.3, 1 - 1e-10, 1);
}


// A bicubic patch whose weights spread from 1e-4 to 1e4: beside its heaviest control points most
// of the surface crowds into slivers of its parameters that the grid does not sample, one of them
// a hundredth of the range from a corner. A point whose nearest point lies there: the foot is no
// farther than that point of the surface, at size 1 and at 1e-6 and 1e6 turned 1e4 sizes away.
TEST_F(SurfacePickTest, ClosestPointOnASurfaceWithWeightsSpreadWideIsTheLeast) {
  const std::vector<double> ku = {0, 0, 0, 0, 0.22011034671195673, 0.6723125912010387, 1, 1, 1, 1};
  const std::vector<double> kv = {0, 0, 0, 0, 0.47981577369950568, 1, 1, 1, 1};
  const double xs[6] = {0, 0.073370115570652247, 0.29747431263766516, 0.63080764597099848, 0.89077086373367953, 1};
  const double ys[5] = {0, 0.15993859123316856, 0.49327192456650187, 0.82660525789983519, 1};
  const double zs[30] = {0, 0.065501192648029838, 0.23357834740447414, 0.28461674552090815, 0.13567328835692211,
                         0.042336002417960164, 0, 0.062178582111224685, 0.22172986271464637, 0.27017928935578894,
                         0.1287911312658287, 0.040188468273414261, 0, 0.036128886471317713, 0.12883621281341789,
                         0.15698776878790324, 0.074834131014636207, 0.023351523280300476, 0, -0.005392118863494254,
                         -0.019228385961020545, -0.023429914179368658, -0.011168750794397317, -0.0034851389419653205,
                         0, -0.027258114110542558, -0.097202890358281349, -0.118442358276869, -0.05646000975368138,
                         -0.017617993478286294};
  const std::vector<double> w = {
      0.00098794168231868635, 182.53547696236456,   0.27281221115981447,  0.14389136336511812,
      9822.3162412907277,     0.00055588390198862178, 5.8028635479038018,  0.14638552407509819,
      615.28956230493691,     0.0037056925093941254, 0.00035517241060105837, 0.011354487907655702,
      0.23138359619303883,    5897.095234774778,     0.00011025583173649511, 70.861621490796253,
      4.6154401685725457,     0.0085739893138745658, 0.017855168202039754, 1.278518919176622,
      0.00039272025746718526, 0.0025469106084935501, 0.001231799995174839, 0.21033346151223081,
      0.0021890740518229822,  0.00091082905632834275, 4.9108547646799163,  0.00063448665802578444,
      1.5559154293080089,     0.014576918176712686};
  std::vector<double> pts;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) pts.insert(pts.end(), {xs[i], ys[j], zs[6 * j + i]});
  const double point[3] = {0.10959240205638293, 0.73989029560930519, 0.61980263353903009};
  for (const Place& pl : {Place(1.0, false), Place(1e-6, true), Place(1e6, true)}) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* s = keep(BuildSurface(3, 3, 6, 5, pts, ku, kv, w));
    ASSERT_TRUE(s);
    pl.Map(s);
    double P[3], there[3];
    pl.Map(point, P);
    Eval3DPointOnSurfCoord(s, 0.000473517, 0.995758, 0, 0, there);
    const double size = ControlPointDiagonal(s);
    Grid g;
    double u, v, S[3], d, e, out[3];
    ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
    EXPECT_LE(std::fabs(d), VecDist3(P, there) + 1e-9 * size);
    EXPECT_NEAR(VecDist3(P, S), std::fabs(d), 1e-12 * size);
    ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
    EXPECT_LE(VecDist3(P, out), VecDist3(P, there) + 1e-9 * size);
  }
}


// A torus of radii 1 and 0.3 sampled at 4 x 4 points as a degree-1 net closed both ways: flat
// trapezoids meeting at creases on every knot line, saddle-like round the hole. A point of the net
// is its own foot, at distance 0, and a point h off a facet along its normal lies at most h from
// the net. Points on the creases and 1e-6 .. 1e-2 of the range beside them, where a neighbouring
// facet holds another minimum of the distance within a grid cell or a few (the search stopped
// there, up to 1.5e-2 away at size 1), and offsets of 0.02 and 0.8 times the way to the nearest
// crease (times 1.6, about the narrower side of a facet per unit of parameter) either side, at
// size 1 and 0.03 at the origin and 1e-6 and 1e6 turned 1e4 sizes away.
TEST_F(SurfacePickTest, ClosestPointOnAFacetedTorusNetIsNoFartherThanTheNet) {
  const int n = 4;
  std::vector<double> pts, k = {0};
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      const double a = 2 * M_PI * (i % n) / n + 0.1, b = 2 * M_PI * (j % n) / n + 0.2, rho = 1 + 0.3 * std::cos(b);
      pts.insert(pts.end(), {rho * std::cos(a), rho * std::sin(a), 0.3 * std::sin(b)});
    }
  for (int i = 0; i <= n; ++i) k.push_back(double(i) / n);
  k.push_back(1);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  // A parameter beside a crease, or anywhere.
  auto pick = [&]() {
    const double near[] = {0.0, 1e-6, 1e-3, 1e-2};
    if (U(rng) < 0.3) return U(rng);
    return double(1 + rng() % (n - 1)) / n + (U(rng) < 0.5 ? -1 : 1) * near[rng() % 4];
  };
  for (const Place& pl : {Place(1.0, false), Place(0.03, false), Place(1e-6, true), Place(1e6, true)}) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* s = keep(BuildSurface(1, 1, n + 1, n + 1, pts, k, k));
    ASSERT_TRUE(s);
    s->closedU = s->closedV = 1;
    pl.Map(s);
    Grid g;
    for (int q = 0; q < 60; ++q) {
      const double u = pick(), v = pick();
      // The way to the nearest crease in parameters.
      double gap = 1.0;
      for (int c = 0; c <= n; ++c)
        gap = std::fmin(gap, std::fmin(std::fabs(u - double(c) / n), std::fabs(v - double(c) / n)));
      const SurfaceFrame f = FrameAt(s, u, v, 1.0);
      const double share[] = {0.0, 0.02, -0.02, 0.8, -0.8};
      for (const double w : share) {
        if (w != 0.0 && gap < 1e-3) continue;
        const double h = w * 1.6 * gap * pl.size;
        double P[3], S[3], fu, fv, d, e;
        for (int c = 0; c < 3; ++c) P[c] = f.S[c] + h * f.n[c];
        ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &fu, &fv, S, &d, &g.x, &g.y, &g.z, &e), 0);
        EXPECT_LE(std::fabs(d), std::fabs(h) + 1e-9 * pl.size) << u << " " << v << " " << w;
        if (w == 0.0) {
          EXPECT_LE(VecDist3(P, S), 1e-9 * pl.size) << u << " " << v;
        }
      }
    }
  }
}

// A bumpy bicubic folded along a crease (a triple knot at u = 0.5) and points 3 to 1000 sizes
// off in directions all round: where the nearest point lies on the crease, between two grid
// lines and at no critical point of the distance on either side (often at an end of the crease,
// a corner of the boundary), it is no farther than the nearest of dense samples along the
// crease, through the kept grid and the one-shot entry, at size 1 and at 1e6 moved 1e4 sizes.
TEST_F(SurfacePickTest, ClosestPointOnACreaseIsTheLeast) {
  const double z[6][9] = {{-0.05, -0.00, -0.20, -0.07, -0.19, 0.15, -0.14, -0.14, -0.04},
                          {-0.00, -0.07, -0.05, 0.09, 0.19, 0.08, -0.15, -0.15, 0.18},
                          {0.02, 0.18, 0.05, 0.03, 0.06, 0.11, -0.05, 0.13, -0.16},
                          {-0.17, -0.17, -0.00, -0.12, 0.17, 0.19, 0.07, 0.03, 0.12},
                          {-0.18, 0.03, -0.17, -0.14, -0.03, 0.04, -0.14, 0.16, 0.19},
                          {0.17, -0.04, -0.08, -0.07, 0.19, -0.18, -0.13, -0.09, -0.04}};
  std::vector<double> pts;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 9; ++i) pts.insert(pts.end(), {i / 8.0, j / 5.0, z[j][i]});
  const std::vector<double> ku = {0, 0, 0, 0, 0.25, 0.5, 0.5, 0.5, 0.75, 1, 1, 1, 1};
  for (const Place& pl : {Place(1.0, false), Place(1e6, true)}) {
    SCOPED_TRACE(Where(pl));
    BsplineKeeper keep;
    Bspline* s = keep(BuildSurface(3, 3, 9, 6, pts, ku));
    ASSERT_TRUE(s);
    pl.Map(s);
    std::vector<double> crease(3 * 2001);
    for (int k = 0; k <= 2000; ++k) Eval3DPointOnSurfArray(s, 0.5, k / 2000.0, 0, 0, &crease[3 * k]);
    Grid g;
    const int n = 60;
    for (const double L : {3.0, 30.0, 1e3})
      for (int k = 0; k < n; ++k) {
        // Directions spread over the sphere on a golden-angle spiral.
        const double c = 1.0 - (2 * k + 1.0) / n, r = std::sqrt(1.0 - c * c), a = 2.399963229728653 * k;
        double P[3] = {0.5 + L * r * std::cos(a), 0.5 + L * r * std::sin(a), L * c}, S[3], out[3], u, v, d, e;
        pl.Map(P, P);
        double least = 1e300;
        for (int m = 0; m <= 2000; ++m) least = std::fmin(least, VecDist3(P, &crease[3 * m]));
        ASSERT_EQ(GetClosestPointOnSurfaceResult(s, P, &u, &v, S, &d, &g.x, &g.y, &g.z, &e), 0);
        EXPECT_LE(std::fabs(d), least + 1e-9 * pl.size) << L << " " << k;
        ASSERT_EQ(FindClosestPointOnBspline(s, P[0], P[1], P[2], out), 1);
        EXPECT_LE(VecDist3(P, out), least + 1e-9 * pl.size) << L << " " << k;
      }
  }
}

}  // namespace
