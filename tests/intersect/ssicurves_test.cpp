// The curves of a surface/surface intersection lie on both surfaces everywhere, not only at the
// traced nodes: every returned curve sampled densely, each sample's point on its own surface
// projected onto the other surface. A closed loop of two bicubic nets at scales 1e-6 .. 1e6,
// two branches of a wave against a plane, a small loop of a nearly tangent pair, and seeded
// random bicubic pairs.
#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "foundation/umalloc.h"
#include "intersect/newintr.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class IntersectionCurves : public KernelTest {};

// A bicubic net of n x n control points on clamped uniform knots, point (i, j) at f(i/(n-1),
// j/(n-1)), scaled.
Bspline* Net(int n, double scale, const std::function<void(double, double, double[3])>& f) {
  std::vector<double> pts;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      double p[3];
      f(double(i) / (n - 1), double(j) / (n - 1), p);
      for (double c : p) pts.push_back(scale * c);
    }
  return BuildSurface(3, 3, n, n, pts);
}

struct Result {
  int branches = 0;
  double worst = 0.0;  // largest distance of a sample from the other surface, per pair size
  double chord = 0.0;  // longest distance between the two ends of a curve, in space
};

// Intersects the pair and measures every curve at `samples` + 1 points; the curves go with
// the surfaces.
Result Measure(Bspline* s1, Bspline* s2, int samples = 300) {
  Result r;
  const double size = shapes::PairSize(s1, s2);
  BsplineList* out = nullptr;
  EXPECT_EQ(CreateSrfSrfIntersectionCurves(s1, s2, &out), 1);
  r.branches = GetNumCurvePieces(out) / 2;
  SurfaceGridCache cache1, cache2;
  int k = 0;
  for (BsplineList* n = out; n; n = n->next, ++k) {
    const Bspline* c = n->item;
    Bspline* own = k % 2 == 0 ? s1 : s2;
    Bspline* other = k % 2 == 0 ? s2 : s1;
    EXPECT_EQ(c->owner, own);
    const double lo = c->knotsU[c->degreeU], hi = c->knotsU[NumCtrlU(c)];
    double start[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i <= samples; ++i) {
      const double t = lo + (hi - lo) * i / samples;
      static const int d0[1] = {0};
      double uv[3], P[3], q[3], u = 0.0, v = 0.0, d = 0.0, e = 0.0;
      EvalPointOnGeometryM(c, t, 0, d0, d0, 1, 0, reinterpret_cast<double(*)[3]>(uv));
      Eval3DPointOnSurfCoord(own, uv[0], uv[1], 0, 0, P);
      (k % 2 == 0 ? cache2 : cache1).Closest(other, P, &u, &v, q, &d, &e);
      r.worst = std::fmax(r.worst, std::hypot(P[0] - q[0], P[1] - q[1], P[2] - q[2]) / size);
      if (i == 0) std::copy(P, P + 3, start);
      if (i == samples) r.chord = std::fmax(r.chord, std::hypot(P[0] - start[0], P[1] - start[1], P[2] - start[2]));
    }
  }
  while (out) {
    BsplineList* next = out->next;
    Free(out);
    out = next;
  }
  return r;
}

// The pair of the report: a bowl and a slightly wavy sheet crossing in one closed loop.
void Bowl(double u, double v, double p[3]) {
  p[0] = u;
  p[1] = v;
  p[2] = 0.6 - 1.6 * ((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5));
}
void Sheet(double u, double v, double p[3]) {
  p[0] = 1.2 * u - 0.1;
  p[1] = 1.2 * v - 0.1;
  p[2] = 0.35 + 0.05 * u + 0.02 * std::sin(2.0 * M_PI * v);
}

TEST_F(IntersectionCurves, ClosedLoopLiesOnBothSurfacesAtEveryScale) {
  for (double scale = 1e-6; scale <= 1.01e6; scale *= 1000.0) {
    BsplineKeeper keep;
    Bspline* a = keep(Net(8, scale, Bowl));
    Bspline* b = keep(Net(8, scale, Sheet));
    const Result r = Measure(a, b);
    EXPECT_EQ(r.branches, 1) << scale;
    EXPECT_LT(r.worst, 1e-6) << scale;
  }
}

// A cosine wave against a plane: two branches from edge to edge, each marched both ways from
// its seed; a bowl against a plane just below its top: a small loop where the surfaces are
// nearly tangent (their normals at most 7 degrees apart).
TEST_F(IntersectionCurves, SeveralBranchesAndNearlyTangentLoops) {
  BsplineKeeper keep;
  Bspline* wave = keep(Net(10, 1.0, [](double u, double v, double p[3]) {
    p[0] = u, p[1] = v, p[2] = 0.2 * std::cos(2.0 * M_PI * u);
  }));
  Bspline* plane = keep(Net(4, 1.0, [](double u, double v, double p[3]) {
    p[0] = 1.2 * u - 0.1, p[1] = 1.2 * v - 0.1, p[2] = 0.01 * v;
  }));
  Result r = Measure(wave, plane);
  EXPECT_EQ(r.branches, 2);
  EXPECT_LT(r.worst, 1e-6);
  Bspline* bowl = keep(Net(8, 1.0, Bowl));
  double top[3];
  RefEvalSurface(bowl, 0.5, 0.5, top);
  Bspline* lid = keep(Net(4, 1.0, [&](double u, double v, double p[3]) {
    p[0] = 1.2 * u - 0.1, p[1] = 1.2 * v - 0.1, p[2] = top[2] - 0.002;
  }));
  r = Measure(bowl, lid);
  EXPECT_EQ(r.branches, 1);
  EXPECT_LT(r.worst, 1e-6);
}

// Seeded random pairs: a bicubic height field of random low-frequency waves against a tilted
// wavy sheet through its middle point, moved and scaled by 1e-6 .. 1e6.
TEST_F(IntersectionCurves, RandomBicubicPairsAtEveryScale) {
  std::mt19937 rng(56);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double worst = 0.0;
  int branches = 0;
  for (int trial = 0; trial < 10; ++trial) {
    const double a1 = 0.15 * U(rng), a2 = 0.15 * U(rng), f1 = 1.0 + U(rng), f2 = 1.0 + U(rng);
    const double tilt = 0.3 * U(rng), b1 = 0.05 * U(rng), shift[3] = {U(rng), U(rng), U(rng)};
    const double scale = std::pow(10.0, -6 + 3 * (trial % 5));
    BsplineKeeper keep;
    Bspline* a = keep(Net(8, scale, [&](double u, double v, double p[3]) {
      p[0] = u + shift[0], p[1] = v + shift[1];
      p[2] = a1 * std::sin(2.0 * M_PI * f1 * u + 1.0) + a2 * std::cos(2.0 * M_PI * f2 * v) + shift[2];
    }));
    double middle[3];
    RefEvalSurface(a, 0.5, 0.5, middle);
    Bspline* b = keep(Net(7, scale, [&](double u, double v, double p[3]) {
      p[0] = 1.2 * u - 0.1 + shift[0], p[1] = 1.2 * v - 0.1 + shift[1];
      p[2] = tilt * (u - 0.5) + b1 * std::sin(2.0 * M_PI * v) + middle[2] / scale;
    }));
    const Result r = Measure(a, b, 200);
    EXPECT_GE(r.branches, 1) << trial;
    EXPECT_LT(r.worst, 1e-6) << trial;
    worst = std::fmax(worst, r.worst);
    branches += r.branches;
  }
  EXPECT_GE(branches, 10);
}

// A bilinear plane and a cubic bend (4 x 2 control points) meeting along an edge `edge` sizes
// long, intersected whichever comes first: one branch, every sample on both, its chord the edge.
void ExpectTheEdgeOnce(const std::vector<double>& plane, const std::vector<double>& cubic, double scale, double edge) {
  for (const bool planeFirst : {true, false}) {
    BsplineKeeper keep;
    Bspline* p = keep(BuildSurface(1, 1, 2, 2, plane));
    Bspline* c = keep(BuildSurface(3, 1, 4, 2, cubic));
    const Result r = planeFirst ? Measure(p, c, 100) : Measure(c, p, 100);
    EXPECT_EQ(r.branches, 1) << planeFirst;
    EXPECT_LT(r.worst, 1e-6) << planeFirst;
    EXPECT_NEAR(r.chord / scale, edge, 1e-6 * edge) << planeFirst;
  }
}

// A plane and a cubic bend tangent to it along the edge they share, as a fillet meets a face:
// they touch along the whole edge, which is one branch from end to end whichever comes first.
// Beyond the edge there is no surface to probe for a region where the two coincide. A bend of a
// few degrees (one span of a fillet) gives the first search a single point on the edge.
TEST_F(IntersectionCurves, FacesTangentAlongTheirCommonEdgeGiveTheWholeEdge) {
  // A circular arc of radius rad and angle turn as a cubic: its inner control points lie
  // 4/3 tan(turn / 4) rad along the end tangents.
  for (const auto& [rad, turn] : {std::pair{0.3, M_PI / 2}, std::pair{1.0, M_PI / 36}}) {
    const double k = 4.0 / 3.0 * std::tan(turn / 4.0) * rad, co = std::cos(turn), si = std::sin(turn);
    const double bend[4][2] = {
        {0.0, 0.0}, {k, 0.0}, {rad * si - k * co, rad * (1.0 - co) - k * si}, {rad * si, rad * (1.0 - co)}};
    for (const double scale : {1.0, 1e-6, 1e6}) {
      const double far = scale == 1.0 ? 0.0 : 1e4 * scale;
      auto at = [&](double x, double y, double z) {
        return std::vector<double>{scale * x + far, scale * y + far, scale * z + far};
      };
      std::vector<double> plane, cubic;
      for (const double y : {0.0, 1.0}) {
        for (const double x : {-1.0, 0.0})
          for (const double c : at(x, y, 0.0)) plane.push_back(c);
        for (const auto& b : bend)
          for (const double c : at(b[0], y, b[1])) cubic.push_back(c);
      }
      SCOPED_TRACE(testing::Message() << "turn " << turn << " scale " << scale);
      ExpectTheEdgeOnce(plane, cubic, scale, 1.0);
    }
  }
}

// The same contact along an edge five times the bend's radius, the plane's parameters swapped
// (u along the edge): the first search's steps along the contact move the two surfaces' points
// at rates that differ by the ratio of their parameter speeds there, and the edge is still one
// branch from end to end.
TEST_F(IntersectionCurves, TangentFacesWithParametersOfUnlikeSpeedsAlongTheEdgeGiveItWhole) {
  const double turn = M_PI / 36, k = 4.0 / 3.0 * std::tan(turn / 4.0), co = std::cos(turn), si = std::sin(turn);
  const double bend[4][2] = {{0.0, 0.0}, {k, 0.0}, {si - k * co, 1.0 - co - k * si}, {si, 1.0 - co}};
  for (const double scale : {1.0, 1e-6, 1e6}) {
    const double far = scale == 1.0 ? 0.0 : 1e4 * scale;
    auto at = [&](double x, double y, double z) {
      return std::vector<double>{scale * x + far, scale * y + far, scale * z + far};
    };
    std::vector<double> plane, cubic;
    for (const double x : {-0.3, 0.0})
      for (const double y : {0.0, 5.0})
        for (const double c : at(x, y, 0.0)) plane.push_back(c);
    for (const double y : {0.0, 5.0})
      for (const auto& b : bend)
        for (const double c : at(b[0], y, b[1])) cubic.push_back(c);
    SCOPED_TRACE(testing::Message() << "scale " << scale);
    ExpectTheEdgeOnce(plane, cubic, scale, 5.0);
  }
}

// The two halves of a cylinder (rational quarter arcs) continue each other across both edges
// they share: two branches, each a whole edge, whichever comes first.
TEST_F(IntersectionCurves, HalvesOfACylinderGiveBothEdgesTheyShare) {
  const double w = std::sqrt(0.5);
  const double cx[5] = {1, 1, 0, -1, -1}, cy[5] = {0, 1, 1, 1, 0}, cw[5] = {1, w, 1, w, 1};
  for (const double scale : {1.0, 1e-6, 1e6}) {
    const double far = scale == 1.0 ? 0.0 : 1e4 * scale;
    std::vector<double> half[2], weights;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 5; ++i) {
        for (int h = 0; h < 2; ++h)
          for (const double c : {cx[i], (h ? -1.0 : 1.0) * cy[i], 3.0 * j}) half[h].push_back(scale * c + far);
        weights.push_back(cw[i]);
      }
    for (const bool upperFirst : {true, false}) {
      BsplineKeeper keep;
      Bspline* a = keep(BuildSurface(2, 1, 5, 2, half[0], {0, 0, 0, 0.5, 0.5, 1, 1, 1}, {0, 0, 1, 1}, weights));
      Bspline* b = keep(BuildSurface(2, 1, 5, 2, half[1], {0, 0, 0, 0.5, 0.5, 1, 1, 1}, {0, 0, 1, 1}, weights));
      const Result r = upperFirst ? Measure(a, b, 100) : Measure(b, a, 100);
      EXPECT_EQ(r.branches, 2) << scale << upperFirst;
      EXPECT_LT(r.worst, 1e-6) << scale << upperFirst;
      EXPECT_NEAR(r.chord / scale, 3.0, 3e-6) << scale << upperFirst;
    }
  }
}

// Half of a round face about the z axis, tilted by 1 radian about the x axis, scaled and moved by
// far along every axis: a tube of radius 5 and length 34 (ring false) or a flat ring of radii 3
// and 5, u along the length or the radius (4 points), v round the half turn (n cubic points on
// the circle, the second and the last but one on the tangents at its ends, so the other half,
// mirrored (side -1), continues it smoothly across both edges they share).
Bspline* HalfRound(bool ring, int n, double side, double scale, double far) {
  std::vector<double> pts;
  const double tilt = ring ? 0.3 : 1.0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < 4; ++i) {
      const double r = ring ? 3.0 + 2.0 * i / 3.0 : 5.0, a = M_PI * j / (n - 1);
      double x = r * std::cos(a), y = r * std::sin(a);
      if (j == 1 || j == n - 2) x = j == 1 ? r : -r, y = 0.5 * r * M_PI / (n - 1);
      const double z = ring ? 0.0 : 34.0 * i / 3.0;
      y *= side;
      for (const double c : {x, y * std::cos(tilt) - z * std::sin(tilt), y * std::sin(tilt) + z * std::cos(tilt)})
        pts.push_back(scale * c + far);
    }
  return BuildSurface(3, 3, 4, n, pts);
}

// The two halves intersected at sizes 1e-6 .. 1e6, also moved 1e4 sizes out, either first: two
// branches, each a whole edge they share (edge long).
void ExpectBothSharedEdges(bool ring, int n, double edge) {
  for (const double scale : {1.0, 1e-6, 1e6})
    for (const double far : {0.0, 4e5 * scale})
      for (const bool upperFirst : {true, false}) {
        BsplineKeeper keep;
        Bspline* a = keep(HalfRound(ring, n, 1.0, scale, far));
        Bspline* b = keep(HalfRound(ring, n, -1.0, scale, far));
        const Result r = upperFirst ? Measure(a, b, 100) : Measure(b, a, 100);
        SCOPED_TRACE(testing::Message() << "scale " << scale << " far " << far << " upper first " << upperFirst);
        EXPECT_EQ(r.branches, 2);
        EXPECT_LT(r.worst, 1e-6);
        EXPECT_NEAR(r.chord / scale, edge, 1e-5 * edge);
      }
}

// Cubic halves of a tube: their surfaces agree to round-off about the edges, so the difference
// of their second forms there is round-off of any sign, which must not pass for an isolated
// touching standing for a whole edge.
TEST_F(IntersectionCurves, CubicHalvesOfATubeGiveBothEdgesTheyShare) { ExpectBothSharedEdges(false, 32, 34.0); }

// Halves of a flat ring in a tilted plane: the difference of their second forms is round-off,
// so a seed on either edge is no seed beside two branches crossing, and each edge comes back.
TEST_F(IntersectionCurves, HalvesOfAFlatRingGiveBothEdgesTheyShare) { ExpectBothSharedEdges(true, 6, 2.0); }

// A face and a thin side face square to it along the edge they share (a plate and its edge
// face): they cross along the whole edge, one branch, whichever comes first. Every node of the
// branch lies on an end of both domains, and with the thin face first the steps are short.
TEST_F(IntersectionCurves, AThinFaceSquareToAnotherAlongTheirEdgeGivesTheWholeEdge) {
  for (const double scale : {1.0, 1e-6, 1e6}) {
    const double far = scale == 1.0 ? 0.0 : 1e4 * scale;
    auto at = [&](std::vector<double> p) {
      for (double& c : p) c = scale * c + far;
      return p;
    };
    for (const bool thinFirst : {true, false}) {
      BsplineKeeper keep;
      Bspline* plate = keep(BuildSurface(1, 1, 2, 2, at({0, -1, 0, 1, -1, 0, 0, 0, 0, 1, 0, 0})));
      Bspline* side = keep(BuildSurface(1, 1, 2, 2, at({0, 0, -0.01, 0, 0, 0, 1, 0, -0.01, 1, 0, 0})));
      const Result r = thinFirst ? Measure(side, plate, 100) : Measure(plate, side, 100);
      EXPECT_EQ(r.branches, 1) << scale << thinFirst;
      EXPECT_LT(r.worst, 1e-6) << scale << thinFirst;
      EXPECT_NEAR(r.chord / scale, 1.0, 1e-6) << scale << thinFirst;
    }
  }
}

// Two faces side by side in one plane (a tilted one, so that they are coplanar only to
// round-off) overlap in no area: they meet along the edge they share, the shorter face's whole
// side, one branch whichever comes first.
TEST_F(IntersectionCurves, FacesSideBySideInOnePlaneGiveTheirSharedEdge) {
  const double ex[3] = {0.6, 0.0, 0.8}, ey[3] = {0.0, 1.0, 0.0};
  for (const double scale : {1.0, 1e-6, 1e6}) {
    const double far = scale == 1.0 ? 0.0 : 1e4 * scale;
    auto at = [&](std::vector<double> xy) {
      std::vector<double> p;
      for (size_t i = 0; i < xy.size(); i += 2)
        for (int c = 0; c < 3; ++c) p.push_back(scale * (xy[i] * ex[c] + xy[i + 1] * ey[c]) + far);
      return p;
    };
    for (const bool shortFirst : {true, false}) {
      BsplineKeeper keep;
      Bspline* shortFace = keep(BuildSurface(1, 1, 2, 2, at({-1, 0, 0, 0, -1, 1, 0, 1})));
      Bspline* longFace = keep(BuildSurface(1, 1, 2, 2, at({0, -1, 2, -1, 0, 2, 2, 2})));
      const Result r = shortFirst ? Measure(shortFace, longFace, 100) : Measure(longFace, shortFace, 100);
      EXPECT_EQ(r.branches, 1) << scale << shortFirst;
      EXPECT_LT(r.worst, 1e-6) << scale << shortFirst;
      EXPECT_NEAR(r.chord / scale, 1.0, 1e-6) << scale << shortFirst;
    }
  }
}

}  // namespace
