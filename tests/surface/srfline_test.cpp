// Lines and iso lines against trimmed surfaces. Line hits lie on the line and on the surface,
// none in a hole, no two alike, and outlive every tracking scope of the caller. Iso-line hits
// with trim curves lie on the line and the curve, ordered along the line, however many; curves
// along the line give their ends; single hits become segments with the line's ends.
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "surface/srfline.h"
#include "surface/trimutils.h"
#include "tests/bspline/trimloops.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/checks.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class LineHits : public KernelTest {};

void Point(const Bspline* s, double u, double v, double P[3]) {
  static const int du[1] = {0}, dv[1] = {0};
  double out[1][3];
  EvalPointOnGeometryM(s, u, v, du, dv, 1, 0, out);
  for (int c = 0; c < 3; ++c) P[c] = out[0][c];
}

double DistanceToLine(const double P[3], const double A[3], const double D[3]) {
  double d[3] = {P[0] - A[0], P[1] - A[1], P[2] - A[2]}, c[3];
  return VecSize3(VecCrossProd3(d, D, c)) / VecSize3(D);
}

// Lines through random points of a wavy height field in random directions not too flat: each
// reported hit lies on the surface (by construction) and on the line, and the picked point is
// among them; the results outlive the caller's scope.
TEST_F(LineHits, HitsLieOnTheLineAndTheSurfaceAtEveryScale) {
  std::mt19937 rng(17);
  for (double scale : {1e-6, 1.0, 1e6}) {
    PatchOptions o;
    o.x1 = o.y1 = scale;
    Bspline* s = BuildFunctionPatch(
        [&](double x, double y) { return 0.2 * scale * std::sin(3 * x / scale) * std::cos(2 * y / scale); }, o);
    for (int trial = 0; trial < 10; ++trial) {
      const double u = Uniform(rng, 0.05, 0.95), v = Uniform(rng, 0.05, 0.95);
      double P[3], D[3] = {Uniform(rng, -0.5, 0.5), Uniform(rng, -0.5, 0.5), 1.0};
      Point(s, u, v, P);
      double *us = nullptr, *vs = nullptr;
      int n = 0;
      BeginTrackingMallocs();
      ASSERT_EQ(FindAllSurfLineIntersections(s, D, P, &us, &vs, &n), 0);
      FreeTrackedMallocs();  // the results are not the scope's
      ASSERT_GE(n, 1);
      bool picked = false;
      for (int k = 0; k < n; ++k) {
        double Q[3];
        Point(s, us[k], vs[k], Q);
        EXPECT_LT(DistanceToLine(Q, P, D), 1e-9 * scale);
        picked = picked || (std::fabs(us[k] - u) < 1e-7 && std::fabs(vs[k] - v) < 1e-7);
        for (int m = 0; m < k; ++m)
          EXPECT_FALSE(std::fabs(us[k] - us[m]) <= 1e-6 && std::fabs(vs[k] - vs[m]) <= 1e-6);
      }
      EXPECT_TRUE(picked) << scale << " " << trial;
      Free(us);
      Free(vs);
    }
    FreeBspline(s);
  }
}

// The torus of radii R (to the tube's centre) and r about the z axis, exactly (the product of two
// rational circles), scaled by s and moved by t.
Bspline* Torus(double R, double r, double s, const double t[3]) {
  const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  shapes::Place at;
  at.scale = s;
  for (int q = 0; q < 3; ++q) at.shift[q] = t[q];
  return shapes::Torus(z, x, R, r, at);
}

// Signed distance of X (the torus's own units) from the torus: exact.
double TorusDistance(const double X[3], double R, double r) {
  return std::hypot(std::hypot(X[0], X[1]) - R, X[2]) - r;
}

// The hits of the line through P along D (the surface's own units; the world is shift + scale
// times them) as positions along the line in those units, P + a D. Each hit lies on the line and
// on the surface (the exact distance `off` from it) within round-off of the size.
std::vector<double> HitsAlong(Bspline* s, const double D[3], const double P[3], double scale, const double shift[3],
                              const std::function<double(const double*)>& off, int* count) {
  double Pw[3];
  for (int q = 0; q < 3; ++q) Pw[q] = scale * P[q] + shift[q];
  double *us = nullptr, *vs = nullptr;
  *count = 0;
  std::vector<double> along;
  EXPECT_EQ(FindAllSurfLineIntersections(s, D, Pw, &us, &vs, count), 0);
  for (int k = 0; k < *count; ++k) {
    double Q[3], X[3];
    Point(s, us[k], vs[k], Q);
    for (int q = 0; q < 3; ++q) X[q] = (Q[q] - shift[q]) / scale;
    EXPECT_LT(DistanceToLine(Q, Pw, D), 1e-9 * scale) << scale;
    EXPECT_LT(std::fabs(off(X)), 1e-9) << scale;
    along.push_back(((X[0] - P[0]) * D[0] + (X[1] - P[1]) * D[1] + (X[2] - P[2]) * D[2]) / VecDotProd3(D, D));
  }
  Free(us);
  Free(vs);
  return along;
}

// Lines tangent to a torus at a random point in a random tangent direction, moved off along
// the normal by up to 0.01 of the tube's radius either way (outward: a near miss like a line
// 0.00193 from the tube; inward: two hits close together), at sizes 1e-6 .. 1e6 moved 1e4 x
// the size from the origin. Every hit lies on the line and on the torus within round-off of
// the size, and every crossing of the exact torus (its distance changing sign along the line,
// sampled finely) is found.
TEST_F(LineHits, GrazingLinesAndNearMissesOfATorus) {
  const double R = 1.0, r = 0.3;
  std::mt19937 rng(68);
  int crossings = 0, found = 0;
  for (double scale : {1.0, 1e-6, 1e6}) {
    const double shift[3] = {1e4 * scale, -2e4 * scale, 0.5e4 * scale};
    Bspline* s = Torus(R, r, scale, shift);
    for (int trial = 0; trial < 100; ++trial) {
      const double a = Uniform(rng, 0.0, 2 * M_PI), b = trial == 0 ? 0.0 : Uniform(rng, 0.0, 2 * M_PI);
      const double n[3] = {std::cos(b) * std::cos(a), std::cos(b) * std::sin(a), std::sin(b)};
      const double ta[3] = {-std::sin(a), std::cos(a), 0.0};
      const double tb[3] = {-std::sin(b) * std::cos(a), -std::sin(b) * std::sin(a), std::cos(b)};
      const double c = Uniform(rng, 0.0, 2 * M_PI);
      const double sign = trial % 2 ? 1.0 : -1.0;
      // The first line passes 0.00193 outside the outer equator; every tenth touches.
      const double off = trial == 0 ? 0.00193
                         : trial % 10 == 0 ? 0.0
                                           : sign * r * std::pow(10.0, Uniform(rng, -4.0, -2.0));
      // Tube centre, point and direction of the line in the torus's units, then placed.
      const double centre[3] = {R * std::cos(a), R * std::sin(a), 0.0};
      double P[3], D[3];
      for (int q = 0; q < 3; ++q) {
        P[q] = centre[q] + (r + off) * n[q];
        D[q] = std::cos(c) * ta[q] + std::sin(c) * tb[q];
      }
      // The exact crossings along the line: sign changes of the distance on a fine sampling.
      std::vector<double> roots;
      const int m = 60000;
      const double L = 3.0;
      auto g = [&](double t) {
        const double X[3] = {P[0] + t * D[0], P[1] + t * D[1], P[2] + t * D[2]};
        return TorusDistance(X, R, r);
      };
      double t0 = -L, g0 = g(t0);
      for (int k = 1; k <= m; ++k) {
        const double t1 = -L + 2 * L * k / m, g1 = g(t1);
        if ((g0 < 0) != (g1 < 0)) {
          double lo = t0, hi = t1;
          for (int it = 0; it < 60; ++it) {
            const double mid = 0.5 * (lo + hi);
            ((g(mid) < 0) == (g0 < 0) ? lo : hi) = mid;
          }
          roots.push_back(0.5 * (lo + hi));
        }
        t0 = t1, g0 = g1;
      }
      int count = 0;
      const std::vector<double> along =
          HitsAlong(s, D, P, scale, shift, [&](const double* X) { return TorusDistance(X, R, r); }, &count);
      // A touching line's two roots lie round-off apart: found or not, it is no crossing.
      for (size_t k = 0; k < roots.size(); ++k) {
        if ((k > 0 && roots[k] - roots[k - 1] < 1e-6) ||
            (k + 1 < roots.size() && roots[k + 1] - roots[k] < 1e-6))
          continue;
        bool seen = false;
        for (double x : along) seen = seen || std::fabs(x - roots[k]) < 1e-6;
        found += seen;
        ++crossings;
        EXPECT_TRUE(seen) << scale << " " << trial << " " << roots[k];
      }
      if (trial == 0) {
        EXPECT_EQ(count, 0) << scale;
      }
    }
    FreeBspline(s);
  }
  EXPECT_EQ(found, crossings);
  EXPECT_GT(crossings, 300);
}

// The real roots of the polynomial c[0] + c[1] s + ... + c[n] s^n on [lo, hi], rising: between
// consecutive roots of its derivative it is monotone, so each root is bracketed exactly and
// found by bisection.
std::vector<double> PolynomialRoots(const std::vector<double>& c, double lo, double hi) {
  auto at = [&](double s) {
    double r = 0.0;
    for (size_t k = c.size(); k-- > 0;) r = r * s + c[k];
    return r;
  };
  std::vector<double> ends = {lo};
  if (c.size() > 2) {
    std::vector<double> dc;
    for (size_t k = 1; k < c.size(); ++k) dc.push_back(k * c[k]);
    for (double x : PolynomialRoots(dc, lo, hi)) ends.push_back(x);
  }
  ends.push_back(hi);
  std::vector<double> roots;
  for (size_t k = 0; k + 1 < ends.size(); ++k) {
    double a = ends[k], b = ends[k + 1];
    const double fa = at(a);
    if ((fa < 0.0) == (at(b) < 0.0) || fa == 0.0) continue;
    for (int it = 0; it < 200 && a < b; ++it) {
      const double m = 0.5 * (a + b);
      if (m <= a || m >= b) break;
      ((at(m) < 0.0) == (fa < 0.0) ? a : b) = m;
    }
    roots.push_back(0.5 * (a + b));
  }
  return roots;
}

// A cubic saddle z = f(x, y) = x^3 - 3 x y^2 + 0.5 x y + 0.7 x^2 y + 0.4 y^3 - 0.3 x^2 over
// [-1, 1]^2, held exactly by one bicubic Bezier patch (x = 2u - 1, y = 2v - 1; the net from the
// polynomial's blossom), scaled by s and moved by t. Its Gaussian curvature changes sign.
constexpr double kSaddle[4][4] = {{0, 0, 0, 0.4}, {0, 0.5, -3, 0}, {-0.3, 0.7, 0, 0}, {1, 0, 0, 0}};
Bspline* CubicSaddle(double s, const double t[3]) {
  auto binom = [](int n, int k) { return n == 3 && (k == 1 || k == 2) ? 3.0 : 1.0; };
  // Power coefficients in (u, v): x^a = (2u - 1)^a.
  double cu[4][4] = {};
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      for (int k = 0; k <= a; ++k)
        for (int l = 0; l <= b; ++l) {
          auto term = [](int n, int i) {
            const double choose[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
            return choose[n][i] * std::pow(2.0, i) * ((n - i) % 2 ? -1.0 : 1.0);
          };
          cu[k][l] += kSaddle[a][b] * term(a, k) * term(b, l);
        }
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      // The Bezier ordinate of u^k v^l at node (i, j) is C(i, k) C(j, l) / (C(3, k) C(3, l)).
      const double choose[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
      double z = 0.0;
      for (int k = 0; k < 4; ++k)
        for (int l = 0; l < 4; ++l) z += cu[k][l] * choose[i][k] / binom(3, k) * choose[j][l] / binom(3, l);
      pts.insert(pts.end(), {s * (2.0 * i / 3 - 1) + t[0], s * (2.0 * j / 3 - 1) + t[1], s * z + t[2]});
    }
  return BuildSurface(3, 3, 4, 4, pts);
}

// f and its partial derivatives of orders (i, j) at (x, y).
double Saddle(double x, double y, int i = 0, int j = 0) {
  double r = 0.0;
  for (int a = i; a < 4; ++a)
    for (int b = j; b < 4; ++b) {
      double c = kSaddle[a][b];
      for (int k = 0; k < i; ++k) c *= a - k;
      for (int k = 0; k < j; ++k) c *= b - k;
      r += c * std::pow(x, a - i) * std::pow(y, b - j);
    }
  return r;
}

// Lines nearly tangent to the saddle close to a direction in which it does not bend (where the
// line crosses at angles down to 1e-5 and its crossings lie far apart), moved off by 1e-7..1e-2
// and tilted, at sizes 1e-6, 1, 1e6, at the origin and 1e4 sizes away. The line's height above
// the saddle is a polynomial of degree 6 along it, whose roots are exact: every root inside the
// domain is a reported hit (within the on-line tolerance over the crossing's slope), and every
// hit lies on the line and on the saddle.
TEST_F(LineHits, GrazingLinesOfACubicSaddle) {
  std::mt19937 rng(3);
  int crossings = 0, found = 0;
  for (double scale : {1.0, 1e-6, 1e6})
    for (double moved : {0.0, 1e4}) {
      const double shift[3] = {moved * scale, -2 * moved * scale, 0.5 * moved * scale};
      Bspline* s = CubicSaddle(scale, shift);
      for (int trial = 0; trial < 100; ++trial) {
        const double x0 = Uniform(rng, -0.8, 0.8), y0 = Uniform(rng, -0.8, 0.8);
        const double fxx = Saddle(x0, y0, 2, 0), fxy = Saddle(x0, y0, 1, 1), fyy = Saddle(x0, y0, 0, 2);
        // An asymptotic direction dy / dx = t of fxx + 2 fxy t + fyy t^2 = 0 where there is one.
        double phi = Uniform(rng, 0.0, M_PI);
        const double disc = fxy * fxy - fxx * fyy;
        if (disc > 0.0 && std::fabs(fyy) > 1e-9) phi = std::atan((-fxy + (trial % 2 ? 1 : -1) * std::sqrt(disc)) / fyy);
        phi += (trial % 4 < 2 ? 1 : -1) * std::pow(10.0, Uniform(rng, -4.0, -1.0));
        const double eps = (trial % 3 ? -1 : 1) * std::pow(10.0, Uniform(rng, -7.0, -2.0));
        const double D[3] = {std::cos(phi), std::sin(phi),
                             Saddle(x0, y0, 1, 0) * std::cos(phi) + Saddle(x0, y0, 0, 1) * std::sin(phi) +
                                 Uniform(rng, -1e-3, 1e-3)};
        const double P[3] = {x0, y0, Saddle(x0, y0) + eps};
        // The height along the line, P_z + s D_z - f(P_x + s D_x, P_y + s D_y), as a polynomial in s.
        std::vector<double> h(7, 0.0);
        for (int a = 0; a < 4; ++a)
          for (int b = 0; b < 4; ++b) {
            std::vector<double> term = {kSaddle[a][b]};
            for (int k = 0; k < a + b; ++k) {
              const double c0 = k < a ? P[0] : P[1], c1 = k < a ? D[0] : D[1];
              std::vector<double> next(term.size() + 1, 0.0);
              for (size_t q = 0; q < term.size(); ++q) {
                next[q] += term[q] * c0;
                next[q + 1] += term[q] * c1;
              }
              term = next;
            }
            for (size_t q = 0; q < term.size(); ++q) h[q] -= term[q];
          }
        h[0] += P[2];
        h[1] += D[2];
        const std::vector<double> roots = PolynomialRoots(h, -4.0, 4.0);
        int count = 0;
        const std::vector<double> along =
            HitsAlong(s, D, P, scale, shift, [](const double* X) { return X[2] - Saddle(X[0], X[1]); }, &count);
        for (size_t k = 0; k < roots.size(); ++k) {
          const double r = roots[k];
          if (std::fabs(P[0] + r * D[0]) > 1.0 || std::fabs(P[1] + r * D[1]) > 1.0) continue;
          // Two roots round-off apart are a touch: found or not, no crossing.
          if ((k > 0 && r - roots[k - 1] < 1e-6) || (k + 1 < roots.size() && roots[k + 1] - r < 1e-6)) continue;
          double slope = 0.0;
          for (size_t q = h.size(); q-- > 1;) slope = slope * r + q * h[q];
          bool seen = false;
          for (double a : along) seen = seen || std::fabs(a - r) < 1e-6 || std::fabs(a - r) * std::fabs(slope) < 1e-8;
          found += seen;
          ++crossings;
          EXPECT_TRUE(seen) << scale << " " << moved << " " << trial << " " << r;
        }
      }
      FreeBspline(s);
    }
  EXPECT_EQ(found, crossings);
  EXPECT_GT(crossings, 800);
}

TEST_F(LineHits, MissesVerticesAndHoles) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  const double down[3] = {0, 0, -1};
  double *us, *vs;
  int n = -1;
  const double away[3] = {2.0, 0.5, 1.0};
  ASSERT_EQ(FindAllSurfLineIntersections(s, down, away, &us, &vs, &n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(us, nullptr);
  // Through a vertex of the pick grid (u = 12/24, v = 6/24): six triangles meet there, one hit.
  const double vertex[3] = {0.5, 0.25, 1.0};
  ASSERT_EQ(FindAllSurfLineIntersections(s, down, vertex, &us, &vs, &n), 0);
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(us[0], 0.5, 1e-12);
  EXPECT_NEAR(vs[0], 0.25, 1e-12);
  Free(us);
  Free(vs);
  AddLoop(s, SquareCurves(s, 0.05, 0.05, 0.95, 0.95, false));
  AddLoop(s, SquareCurves(s, 0.3, 0.3, 0.6, 0.6, true), 1);
  const double inHole[3] = {0.45, 0.45, 1.0}, solid[3] = {0.8, 0.2, 1.0}, cut[3] = {0.02, 0.5, 1.0};
  ASSERT_EQ(FindAllSurfLineIntersections(s, down, inHole, &us, &vs, &n), 0);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(FindAllSurfLineIntersections(s, down, cut, &us, &vs, &n), 0);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(FindAllSurfLineIntersections(s, down, solid, &us, &vs, &n), 0);
  ASSERT_EQ(n, 1);
  EXPECT_NEAR(us[0], 0.8, 1e-12);
  Free(us);
  Free(vs);
  FreeBspline(s);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(LineHits, InitialGrids) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, PatchOptions{3, 2, 6, 4});
  double *us, *vs;
  int nu, nv;
  ASSERT_EQ(GetInitialUVArrays(s, 0, 3, 2, &us, &vs, &nu, &nv), 1);
  ASSERT_EQ(nu, 3 * 3 + 1);  // 2 interior u knots: 3 spans of 3
  ASSERT_EQ(nv, 2 * 2 + 1);  // 1 interior v knot
  EXPECT_EQ(us[3], s->knotsU[4]);
  EXPECT_EQ(us[nu - 1], 1.0);
  for (int i = 1; i < nu; ++i) EXPECT_GT(us[i], us[i - 1]);
  Free(us);
  Free(vs);
  ASSERT_EQ(GetInitialUVArrays(s, 1, 5, 1, &us, &vs, &nu, &nv), 1);
  EXPECT_EQ(nu, 5);
  EXPECT_EQ(us[2], 0.5);
  EXPECT_EQ(nv, 1);
  EXPECT_EQ(vs[0], 0.0);
  Free(us);
  Free(vs);
  EXPECT_EQ(GetInitialUVArrays(s, 2, 5, 5, &us, &vs, &nu, &nv), 0);
  EXPECT_EQ(GetInitialUVArrays(s, 1, 0, 5, &us, &vs, &nu, &nv), 0);
  FreeBspline(s);
}

TEST_F(LineHits, FailedAllocationsLeaveNothing) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  AddLoop(s, SquareCurves(s, 0.05, 0.05, 0.95, 0.95));
  const double down[3] = {0, 0, -1}, at[3] = {0.3, 0.7, 1.0};
  const int failed = RunWithInjectedFailures(60, 1, [&] {
    double *us, *vs;
    int n = 0;
    const int r = FindAllSurfLineIntersections(s, down, at, &us, &vs, &n);
    if (r != 0 || n == 0) {
      EXPECT_EQ(us, nullptr);
      return -2;
    }
    Free(us);
    Free(vs);
    return 0;
  });
  EXPECT_GT(failed, 0);
  FreeBspline(s);
}

class IsoHits : public KernelTest {};

void FreeHits(IsoHit* h) {
  while (h) {
    IsoHit* next = h->next;
    Free(h);
    h = next;
  }
}

// The iso line u = value (side 0) and v = value (side 3) against every curve of a surface's
// loops: hits on the line and on their curve, strictly ordered along the line, list and count
// in step; 60 crossings of one curve all arrive.
TEST_F(IsoHits, HitsOfEveryCurveAreOrderedAlongTheLine) {
  Bspline* s = BuildFunctionPatch([](double x, double y) { return x * y; });
  std::vector<double> zig;
  for (int i = 0; i <= 60; ++i) zig.insert(zig.end(), {i % 2 ? 0.55 : 0.45, 0.05 + 0.9 * i / 60.0});
  AddLoop(s, {BuildCurveOnSurface(s, 1, zig), BuildCurveOnSurface(s, 1, {0.45, 0.95, 0.95, 0.95}),
              BuildCurveOnSurface(s, 1, {0.95, 0.95, 0.95, 0.05}), BuildCurveOnSurface(s, 1, {0.95, 0.05, 0.45, 0.05})});
  AddLoop(s, SquareCurves(s, 0.6, 0.3, 0.8, 0.7, true), 1);
  double loopBox[8], curveBox[32];
  EXPECT_EQ(FindMinMaxofTrimCurve(s->trims, loopBox, curveBox), s->trims->next);
  EXPECT_EQ(FindMinMaxofTrimCurve(nullptr, loopBox, curveBox), nullptr);
  EXPECT_NEAR(loopBox[0], 0.45, 1e-12);
  EXPECT_NEAR(loopBox[1], 0.95, 1e-12);
  EXPECT_NEAR(loopBox[7], 0.7, 1e-12);
  for (int side : {0, 3})
    for (double value : {0.505, 0.65, 0.7123}) {
      IsoHit* list = nullptr;
      int count = 0, expected = 0;
      for (int l = 0; l < 2; ++l) {
        if (!CheckTrimCurveBBoxIntersect(loopBox + 4 * l, value, side)) continue;
        const TrimList* loop = l ? s->trims->next : s->trims;
        int k = l ? 4 : 0;
        for (const BsplineList* n = loop->loopCurves; n; n = n->next, ++k) {
          if (!CheckTrimCurveBBoxIntersect(curveBox + 4 * k, value, side)) continue;
          EXPECT_EQ(FindAllTrimBsplIsoIntersects(value, n->item, &list, &count, side, curveBox + 4 * k,
                                                 loopBox + 4 * l),
                    1);
        }
      }
      // Along u = 0.505 the zigzag crosses 60 times, the top and bottom once each; u = 0.65
      // and 0.7123 pass the top, the bottom and the hole's two sides. A line v = value meets the
      // zigzag and the right side once, and the hole's sides when it passes the hole.
      if (side == 0) expected = value == 0.505 ? 62 : 4;
      else expected = value > 0.3 && value < 0.7 ? 4 : 2;
      int listed = 0;
      for (IsoHit* h = list; h; h = h->next, ++listed) {
        EXPECT_NEAR(side == 0 ? h->u : h->v, value, 1e-6);
        double P[3];
        Point(s, h->u, h->v, P);
        ExpectNear3(h->point, P, 1e-12);
        if (h->next) {
          EXPECT_GT(side == 0 ? h->next->v : h->next->u, (side == 0 ? h->v : h->u) + 1e-6);
          EXPECT_EQ(h->next->prev, h);
        }
      }
      EXPECT_EQ(listed, count);
      EXPECT_EQ(count, expected) << side << " " << value;
      FreeHits(list);
    }
  FreeBspline(s);
}

// Curves lying on the line give their end parameters; a second pass over the same curve adds no
// node (hits within 1e-6 merge); a value on the loop box's edge across the line is a touch.
TEST_F(IsoHits, CoincidentCurvesDuplicatesAndTouches) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  std::vector<Bspline*> sq = SquareCurves(s, 0.2, 0.2, 0.8, 0.8, false);
  AddLoop(s, sq);
  double loopBox[4], curveBox[16];
  FindMinMaxofTrimCurve(s->trims, loopBox, curveBox);
  double out[4];
  int n = 0;
  // sq[1] runs up u = 0.8: it lies on side 0's line u = 0.8, not on v = 0.8.
  EXPECT_EQ(CheckCrvCoincidence(curveBox + 4, 0.8, 0, out, &n, sq[1]), 1);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 1.0);
  EXPECT_EQ(CheckCrvCoincidence(curveBox + 4, 0.8, 3, out, &n, sq[1]), 0);
  IsoHit* list = nullptr;
  int count = 0;
  ASSERT_EQ(FindAllTrimBsplIsoIntersects(0.8, sq[1], &list, &count, 0, curveBox + 4, loopBox), 1);
  ASSERT_EQ(count, 2);
  EXPECT_NEAR(list->v, 0.2, 1e-12);
  EXPECT_NEAR(list->next->v, 0.8, 1e-12);
  FreeHits(list);
  list = nullptr;
  // The line u = 0.2 + 1e-11 lies on the loop box's edge but not on sq[0] (the bottom): a touch.
  EXPECT_EQ(FindAllTrimBsplIsoIntersects(0.2 + 1e-11, sq[0], &list, &count, 0, curveBox, loopBox), 0);
  EXPECT_EQ(list, nullptr);
  for (int pass = 0; pass < 2; ++pass)
    ASSERT_EQ(FindAllTrimBsplIsoIntersects(0.5, sq[0], &list, &count, 0, curveBox, loopBox), 1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(list->next, nullptr);
  EXPECT_EQ(IsBoundaryPoint(0.2 + 5e-11, loopBox), 1);
  EXPECT_EQ(IsBoundaryPoint(0.2 + 5e-10, loopBox), 0);
  EXPECT_EQ(CheckTrimCurveBBoxIntersect(loopBox, 0.2 + 5e-7, 0), 0);
  EXPECT_EQ(CheckTrimCurveBBoxIntersect(loopBox, 0.2 + 5e-6, 0), 1);
  FreeHits(list);
  FreeBspline(s);
}

// A loop met once: the end of the line inside the loop's box (outside for a hole) joins the hit
// in its place along the line; with both ends on one side an outer loop doubles its hit and a
// hole drops it.
TEST_F(IsoHits, SingleHitsBecomeSegments) {
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; });
  TrimList* loop = AddLoop(s, SquareCurves(s, 0.2, 0.0, 0.8, 0.6, false));
  const double box[4] = {0.2, 0.8, 0.0, 0.6};
  auto single = [&](double u, double v) {
    IsoHit* h = static_cast<IsoHit*>(Malloc(sizeof(IsoHit)));
    *h = IsoHit{nullptr, nullptr, {u, v, 0}, u, v, 0.5};
    return h;
  };
  for (int hole : {0, 1}) {
    loop->hole = hole;
    // u = 0.5 meets the top v = 0.6 once; its end (0.5, 0) lies in the box, (0.5, 1) outside.
    IsoHit* list = single(0.5, 0.6);
    ASSERT_EQ(CutIntersectLine(&list, loop, 0, 0.5, box), 2);
    ASSERT_NE(list->next, nullptr);
    const IsoHit* end = hole ? list->next : list;
    EXPECT_EQ(end->v, hole ? 1.0 : 0.0);
    EXPECT_EQ(end->u, 0.5);
    EXPECT_EQ(end->t, 0.0);
    EXPECT_LT(list->v, list->next->v);
    FreeHits(list);
    // v = 0.3 with the box spanning u 0.2..0.8: both ends (0, 0.3) and (1, 0.3) are outside.
    list = single(0.2, 0.3);
    const int r = CutIntersectLine(&list, loop, 3, 0.3, box);
    if (hole) {
      EXPECT_EQ(r, 0);
      EXPECT_EQ(list, nullptr);
    } else {
      EXPECT_EQ(r, 2);
      ASSERT_NE(list->next, nullptr);
      EXPECT_EQ(list->next->u, list->u);
      EXPECT_EQ(list->next->prev, list);
    }
    FreeHits(list);
  }
  FreeBspline(s);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

TEST_F(IsoHits, SampledVectorsFollowTheKnots) {
  // Interior knots 0.25, 0.5, 0.75 in u (7 points, degree 3), 1/3 and 2/3 in v (5 points, degree 2).
  Bspline* s = BuildFunctionPatch([](double, double) { return 0.0; }, PatchOptions{3, 2, 7, 5});
  double *us, *vs;
  int nu = 0, nv = 0;
  ASSERT_EQ(GetSampledUVVectors(s, &us, &vs, &nu, &nv, 0, nullptr, nullptr, 0, 0), 1);
  ASSERT_EQ(nu, 5);
  ASSERT_EQ(nv, 4);
  for (int i = 0; i < nu; ++i) EXPECT_NEAR(us[i], 0.25 * i, 1e-12);
  EXPECT_NEAR(vs[1], 1.0 / 3.0, 1e-12);
  Free(us);
  Free(vs);
  const double ub[3] = {0.0, 0.6, 1.0}, vb[2] = {0.0, 1.0};
  ASSERT_EQ(GetSampledUVVectors(s, &us, &vs, &nu, &nv, 1, ub, vb, 3, 2), 1);
  // [0, 0.6] holds 0.25 and 0.5: three parts; [0.6, 1] holds 0.75: two parts; then the end.
  const double expectU[6] = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0};
  ASSERT_EQ(nu, 6);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(us[i], expectU[i], 1e-12);
  ASSERT_EQ(nv, 4);
  EXPECT_NEAR(vs[2], 2.0 / 3.0, 1e-12);
  Free(us);
  Free(vs);
  EXPECT_EQ(GetSampledUVVectors(s, &us, &vs, &nu, &nv, 1, ub, vb, 1, 2), 0);
  EXPECT_EQ(GetSampledUVVectors(s, &us, &vs, &nu, &nv, 2, ub, vb, 3, 2), 0);
  FreeBspline(s);
}

}  // namespace
