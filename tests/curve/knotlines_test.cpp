// Where a curve in a surface's parameter plane crosses the surface's knot lines: every entry
// lies on the curve, between neighbouring entries the curve stays on one side of every interior
// knot line (so none is missed, a second crossing within one span included), and an arc
// crossing one line twice within its single span meets it where the circle's equation says.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "foundation/umalloc.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class KnotLineCrossingsTest : public KernelTest {};

struct Entries {
  std::vector<double> t, u, v;
};

Entries Crossings(Bspline* curve) {
  int count = 0;
  double *t = nullptr, *u = nullptr, *v = nullptr;
  Entries e;
  EXPECT_EQ(GetCurve2DSurfParamSect(curve, &count, &t, &u, &v), 0);
  if (!t) return e;
  e.t.assign(t, t + count);
  e.u.assign(u, u + count);
  e.v.assign(v, v + count);
  for (double* a : {t, u, v}) Free(a);
  return e;
}

// Distinct interior knot values of one direction of the surface.
std::vector<double> InteriorKnots(const Bspline* s, int dir) {
  const double* k = dir == 0 ? s->knotsU : s->knotsV;
  const int p = dir == 0 ? s->degreeU : s->degreeV, interior = dir == 0 ? s->interiorU : s->interiorV;
  std::vector<double> out;
  for (int i = p + 1; i <= p + interior; ++i)
    if (out.empty() || k[i] != out.back()) out.push_back(k[i]);
  return out;
}

// Seeded random curves of degree 2-5 (some rational) wandering over a surface with random
// knots: ascending entries, breakpoints included, every entry on the curve (a crossing exactly
// on its knot line), and on a fine grid between neighbouring entries no sign change of u - k or
// v - k for any interior knot k.
TEST_F(KnotLineCrossingsTest, EveryCrossingFoundAndEveryEntryOnTheCurve) {
  std::mt19937 rng(299);
  std::uniform_real_distribution<double> U(0.02, 0.98);
  std::uniform_int_distribution<int> Deg(2, 5), Extra(1, 6);
  int crossings = 0;
  for (int trial = 0; trial < 60; ++trial) {
    Bspline* srf = BuildFunctionPatch([](double x, double y) { return x * y; },
                                      {.nu = 9, .nv = 8, .layout = KnotLayout::Random, .seed = unsigned(trial + 1)});
    const int p = Deg(rng), n = p + Extra(rng);
    std::vector<double> uv, w;
    for (int i = 0; i < n; ++i) {
      uv.insert(uv.end(), {U(rng), U(rng)});
      w.push_back(trial % 3 == 0 ? 0.5 + U(rng) : 1.0);
    }
    Bspline* c = BuildCurveOnSurface(srf, p, uv, ClampedKnots(p, n, 0.0, 1.0, KnotLayout::Random, trial + 7),
                                     trial % 3 == 0 ? w : std::vector<double>{});
    const Entries e = Crossings(c);
    ASSERT_GE(e.t.size(), 2u);
    EXPECT_EQ(e.t.front(), 0.0);
    EXPECT_EQ(e.t.back(), 1.0);
    const std::vector<double> knots[2] = {InteriorKnots(srf, 0), InteriorKnots(srf, 1)};
    for (size_t i = 0; i < e.t.size(); ++i) {
      if (i > 0) {
        EXPECT_LE(e.t[i - 1], e.t[i]) << trial;
      }
      double P[3];
      RefEvalCurve(c, e.t[i], P);
      EXPECT_NEAR(e.u[i], P[0], 1e-12) << trial << " " << i;
      EXPECT_NEAR(e.v[i], P[1], 1e-12) << trial << " " << i;
      bool onLine = false;
      for (int dir = 0; dir < 2; ++dir)
        for (double k : knots[dir]) onLine = onLine || (dir == 0 ? e.u[i] : e.v[i]) == k;
      crossings += onLine;
    }
    for (size_t i = 0; i + 1 < e.t.size(); ++i) {
      const double a = e.t[i], b = e.t[i + 1];
      if (b - a < 1e-9) continue;
      for (int dir = 0; dir < 2; ++dir)
        for (double k : knots[dir]) {
          int side = 0;
          for (int j = 1; j < 64; ++j) {
            double P[3];
            RefEvalCurve(c, a + (b - a) * j / 64.0, P);
            const double d = P[dir] - k;
            if (std::fabs(d) < 1e-11) continue;
            const int s = d > 0 ? 1 : -1;
            EXPECT_TRUE(side == 0 || s == side) << trial << " between " << a << " and " << b << " line " << k;
            side = s;
          }
        }
    }
    FreeBspline(srf);
  }
  EXPECT_GT(crossings, 100);
}

// A single rational quadratic span: the arc of radius r about (cx, cy) from -60 to 60 degrees
// (middle weight cos 60). The knot line u = cx + r cos 30 crosses it twice inside the span, at
// v = cy -+ r sin 30 (a walk from breakpoint to breakpoint sees neither); the entries carry the
// knot value exactly.
TEST_F(KnotLineCrossingsTest, ArcCrossesOneLineTwiceWithinItsSpan) {
  const double cx = 0.3, cy = 0.5, r = 0.3, k = cx + r * std::cos(M_PI / 6);
  const std::vector<double> kv = {0, 0.25, 0.5, 0.75, 1};
  std::vector<double> ku = {0, 0, 0, 0};
  ku.insert(ku.end(), {0.2, k, 0.9});
  ku.insert(ku.end(), {1, 1, 1, 1});
  std::vector<double> pts;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 7; ++i) pts.insert(pts.end(), {i / 6.0, j / 4.0, 0.0});
  Bspline* srf = BuildSurface(3, 1, 7, 5, pts, ku, {0, 0, 0.25, 0.5, 0.75, 1, 1});
  const double h = std::sqrt(3.0) / 2;
  Bspline* arc = BuildCurveOnSurface(srf, 2, {cx + 0.5 * r, cy - h * r, cx + 2 * r, cy, cx + 0.5 * r, cy + h * r},
                                     {0, 0, 0, 1, 1, 1}, {1, 0.5, 1});
  const Entries e = Crossings(arc);
  std::vector<double> onK;
  for (size_t i = 0; i < e.t.size(); ++i)
    if (e.u[i] == k) onK.push_back(e.v[i]);
  ASSERT_EQ(onK.size(), 2u);
  EXPECT_NEAR(onK[0], cy - 0.5 * r, 1e-13);
  EXPECT_NEAR(onK[1], cy + 0.5 * r, 1e-13);
  // Besides: the ends and one crossing each of v = 0.25, 0.5 and 0.75 (the arc spans v 0.24 .. 0.76).
  EXPECT_EQ(e.t.size(), 7u);
  FreeBspline(srf);
}

// A curve that leaves the domain crosses its edge: the walk along the surface's span boundaries
// counts the edges too, so the crossing is an entry exactly on the edge line.
TEST_F(KnotLineCrossingsTest, ACurveLeavingTheDomainCrossesItsEdge) {
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) pts.insert(pts.end(), {i / 3.0, j / 3.0, 0.0});
  const std::vector<double> cubic = {0, 0, 0, 0, 1, 1, 1, 1};
  Bspline* srf = BuildSurface(3, 3, 4, 4, pts, cubic, cubic);
  // A straight line from (0.5, 0.5) to (1.5, 0.7): it leaves through u = 1 at t = 0.5.
  Bspline* line = BuildCurveOnSurface(srf, 1, {0.5, 0.5, 1.5, 0.7}, {0, 0, 1, 1}, {});
  const Entries e = Crossings(line);
  ASSERT_EQ(e.t.size(), 3u);
  EXPECT_NEAR(e.t[1], 0.5, 1e-13);
  EXPECT_EQ(e.u[1], 1.0);
  EXPECT_NEAR(e.v[1], 0.6, 1e-13);
  FreeBspline(srf);
}

}  // namespace
