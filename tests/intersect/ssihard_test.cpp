// Surface/surface intersections where the geometry is hard, against exact answers: two
// cylinders crossing at right angles whose loops pass close where the surfaces are nearly
// tangent, with their seams anywhere, at sizes 1e-6 .. 1e6 moved 1e4 x the size.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/crvlist.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "intersect/newintr.h"
#include "intersect/newtrace.h"
#include "quadric/quadrics.h"
#include "tests/intersect/shapes.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"

namespace {

class HardIntersections : public KernelTest {};

using shapes::Cylinder;
using shapes::Place;

// The profile of the cubic cylinder: 13 control points round a circle from the top (0, 1) back
// to it, the two beside the seam level with it so that the profile is smooth there; symmetric
// about x = 0, so that two such cylinders crossing at right angles meet in the planes x = +-z.
std::vector<double> CubicProfile() {
  std::vector<double> xy;
  for (int i = 0; i < 13; ++i) {
    if (i == 0 || i == 12) {
      xy.insert(xy.end(), {0.0, 1.0});
    } else if (i == 1 || i == 11) {
      xy.insert(xy.end(), {i == 1 ? 0.35 : -0.35, 1.0});
    } else {
      const double t = M_PI / 2 - 2.0 * M_PI * (i - 1) / 10.0;
      xy.insert(xy.end(), {1.05 * std::cos(t), 1.05 * std::sin(t)});
    }
  }
  return xy;
}

// The cubic 13 x 4 net of the profile swept along a for heights h0..h1: the profile's x along e,
// its y along a x e; u round the profile from the top, v along a.
Bspline* CubicCylinder(const double a[3], const double e[3], double h0, double h1, const Place& at) {
  const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const std::vector<double> xy = CubicProfile();
  std::vector<double> pts;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 13; ++i) {
      double p[3], q[3];
      const double h = h0 + (h1 - h0) * j / 3.0;
      for (int c = 0; c < 3; ++c) p[c] = xy[2 * i] * e[c] + xy[2 * i + 1] * f[c] + h * a[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
    }
  Bspline* s = BuildSurface(3, 3, 13, 4, pts);
  if (s) s->closedU = 1;
  return s;
}

// The upper half of the unit sphere, exactly: u round the z axis from x (closed), v from the
// equator to the pole, where the row of control points collapses.
Bspline* Hemisphere(const Place& at) {
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  const double mr[3] = {1, 1, 0}, mz[3] = {0, 1, 1}, mw[3] = {1, w, 1};
  std::vector<double> pts, weights;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 9; ++i) {
      const double p[3] = {mr[j] * cx[i], mr[j] * cy[i], mz[j]};
      double q[3];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back((i % 2 ? w : 1.0) * mw[j]);
    }
  Bspline* s = BuildSurface(2, 2, 9, 3, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                            {0, 0, 0, 1, 1, 1}, weights);
  if (s) s->closedU = 1;
  return s;
}

// The bilinear plane patch O + s e1 + t e2, (s, t) in [0, 1]^2.
Bspline* PlanePatch(const double O[3], const double e1[3], const double e2[3], const Place& at) {
  std::vector<double> pts;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = O[c] + i * e1[c] + j * e2[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
    }
  return BuildSurface(1, 1, 2, 2, pts);
}

// The vertical plane x + k y = 0 through the z axis, 2.4 wide about it and `height` tall from
// z0, placed; d (unit, in z = 0) runs across it.
Bspline* PlaneThroughZAxis(double k, double z0, double height, const Place& at, double d[3]) {
  const double n = std::hypot(1.0, k);
  d[0] = -k / n, d[1] = 1.0 / n, d[2] = 0.0;
  const double e1[3] = {2.4 * d[0], 2.4 * d[1], 0}, e2[3] = {0, 0, height};
  const double O[3] = {-1.2 * d[0], -1.2 * d[1], z0};
  return PlanePatch(O, e1, e2, at);
}

// One branch as dense samples in the case's own units (placement undone): points on surface 1
// and the same parameters' points on surface 2.
struct Branch {
  std::vector<std::array<double, 3>> on1, on2;
};

std::vector<Branch> Intersect(Bspline* s1, Bspline* s2, const Place& at, int samples = 2000) {
  std::vector<Branch> out;
  BsplineList* list = nullptr;
  EXPECT_EQ(CreateSrfSrfIntersectionCurves(s1, s2, &list), 1);
  for (BsplineList* n = list; n && n->next; n = n->next->next) {
    Branch b;
    const Bspline* c[2] = {n->item, n->next->item};
    for (int k = 0; k < 2; ++k) {
      const double lo = c[k]->knotsU[c[k]->degreeU], hi = c[k]->knotsU[NumCtrlU(c[k])];
      for (int i = 0; i <= samples; ++i) {
        static const int d0[1] = {0};
        double uv[1][3], P[3];
        EvalPointOnGeometryM(c[k], lo + (hi - lo) * i / samples, 0, d0, d0, 1, 0, uv);
        Eval3DPointOnSurfCoord(k ? s2 : s1, uv[0][0], uv[0][1], 0, 0, P);
        std::array<double, 3> Q;
        at.Unmap(P, Q.data());
        (k ? b.on2 : b.on1).push_back(Q);
      }
    }
    out.push_back(b);
  }
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
  return out;
}

// Two closed curves round the z axis, each met once by every half plane through the axis at
// angle t: which curve a point is on (side; -1 where they cross) and the point of a curve at t.
struct Loops {
  std::function<int(const double p[3])> side;
  std::function<void(double t, int side, double P[3])> at;
};

// How the branches cover the loops: each pair of neighbouring samples of a branch covers the
// interval of t between them on its loop, the shorter way round. gap is the longest piece that
// no branch covers, measured as the chord between the loop's points at its ends; overlap the
// largest length in t that two branches cover both (a duplicated branch).
struct Coverage {
  double gap = 0.0;
  double overlap = 0.0;
};

Coverage Cover(const std::vector<Branch>& bs, const Loops& loops) {
  std::vector<std::pair<double, double>> covered[2];
  double total[2] = {0.0, 0.0};
  for (const Branch& b : bs)
    for (size_t i = 0; i + 1 < b.on1.size(); ++i) {
      const auto& p = b.on1[i];
      const auto& q = b.on1[i + 1];
      // A crossing point belongs to both curves (side -1).
      const int sp = loops.side(p.data()), sq = loops.side(q.data()), side = sp < 0 ? sq : sp;
      if (side < 0 || (sq >= 0 && sq != side)) continue;
      double t0 = std::atan2(p[1], p[0]), t1 = std::atan2(q[1], q[0]);
      if (t1 < t0) std::swap(t0, t1);
      auto& c = covered[side];
      if (t1 - t0 <= M_PI) {
        c.push_back({t0, t1});
        total[side] += t1 - t0;
      } else {  // across t = +-pi
        c.push_back({-M_PI, t0});
        c.push_back({t1, M_PI});
        total[side] += 2 * M_PI - (t1 - t0);
      }
    }
  Coverage r;
  for (int side = 0; side < 2; ++side) {
    auto& c = covered[side];
    std::sort(c.begin(), c.end());
    double reach = -M_PI, united = 0.0;
    auto gap = [&](double from, double to) {
      double A[3], B[3];
      loops.at(from, side, A);
      loops.at(to, side, B);
      r.gap = std::fmax(r.gap, std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]));
    };
    for (const auto& iv : c) {
      if (iv.first > reach) gap(reach, iv.first);
      united += std::fmax(0.0, iv.second - std::fmax(reach, iv.first));
      reach = std::fmax(reach, iv.second);
    }
    if (reach < M_PI) gap(reach, M_PI);
    r.overlap = std::fmax(r.overlap, total[side] - united);
  }
  return r;
}

// Which of the planes z = x (1) and z = -x (0) a point lies nearer; -1 near both (a crossing).
int EllipseSide(const double p[3]) {
  const double a = std::fabs(p[2] - p[0]), b = std::fabs(p[2] + p[0]);
  return std::fmax(a, b) < 1e-4 ? -1 : a < b ? 1 : 0;
}

// The loops of cylinders of radii 1 (axis z) and R2 (axis x): z = +-sqrt(R2^2 - y^2) over the
// unit circle, or for R2 = 1 the ellipses in the planes z = +-x.
Loops CylinderLoops(double R2) {
  Loops l;
  if (R2 == 1.0) {
    l.side = [](const double p[3]) { return EllipseSide(p); };
    l.at = [](double t, int side, double P[3]) {
      P[0] = std::cos(t), P[1] = std::sin(t), P[2] = (side ? 1 : -1) * P[0];
    };
  } else {
    l.side = [](const double p[3]) { return p[2] > 0.0 ? 1 : 0; };
    l.at = [R2](double t, int side, double P[3]) {
      P[0] = std::cos(t), P[1] = std::sin(t), P[2] = (side ? 1 : -1) * std::sqrt(R2 * R2 - P[1] * P[1]);
    };
  }
  return l;
}

const double kX[3] = {1, 0, 0}, kY[3] = {0, 1, 0}, kZ[3] = {0, 0, 1};

// Every end of a branch meets an end of a branch (its own other end for a loop returned in one
// piece, another branch's where a loop is cut at a seam): no loop is left open.
bool EndsMeet(const std::vector<Branch>& bs, double tol) {
  std::vector<const double*> ends;
  for (const Branch& b : bs) {
    ends.push_back(b.on1.front().data());
    ends.push_back(b.on1.back().data());
  }
  for (size_t i = 0; i < ends.size(); ++i) {
    bool met = false;
    for (size_t j = 0; j < ends.size() && !met; ++j)
      met = j != i && std::hypot(ends[i][0] - ends[j][0], ends[i][1] - ends[j][1], ends[i][2] - ends[j][2]) <= tol;
    if (!met) return false;
  }
  return true;
}

// Cylinders of radii 1 (axis z) and 1.02 (axis x) cross in two closed loops round the thinner
// one, x = cos t, y = sin t, z = +-sqrt(1.02^2 - sin^2 t), where the surfaces come within 11
// degrees of tangent (at y = +-1 the loops pass 0.4 apart). With the seams of both cylinders in
// every pairing of five directions, and the first pairing at sizes 1e-6 and 1e6 moved 1e4 x the
// size: every sample of every branch on both cylinders, no loop left open (a loop cut by seams
// comes in pieces whose ends meet), no piece of the exact loops missing.
TEST_F(HardIntersections, NearlyTangentCylindersGiveTwoClosedLoops) {
  const double w = std::sqrt(0.5);
  const double seamsA[5][3] = {{1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 0, 0}, {w, w, 0}};
  const double seamsB[5][3] = {{0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, -1}, {0, w, w}};
  const double R2 = 1.02;
  for (int k = 0; k < 27; ++k) {
    const int sa = k < 25 ? k / 5 : 0, sb = k < 25 ? k % 5 : 0;
    Place at;
    at.scale = k < 25 ? 1.0 : k == 25 ? 1e-6 : 1e6;
    for (int q = 0; q < 3; ++q) at.shift[q] = k < 25 ? 0.0 : 1e4 * at.scale * (q + 1);
    BsplineKeeper keep;
    Bspline* a = keep(Cylinder(kZ, seamsA[sa], 1.0, -1.5, 1.5, at));
    Bspline* b = keep(Cylinder(kX, seamsB[sb], R2, -1.5, 1.5, at));
    const double size = shapes::PairSize(a, b) / at.scale;
    const std::vector<Branch> bs = Intersect(a, b, at);
    double off = 0.0;
    for (const Branch& br : bs)
      for (const auto& p : br.on1)
        off = std::fmax(off, std::fmax(std::fabs(std::hypot(p[1], p[2]) - R2), std::fabs(std::hypot(p[0], p[1]) - 1.0)));
    EXPECT_GE(bs.size(), 2u) << k;
    EXPECT_LT(off, 1e-6 * size) << k;
    const Coverage c = Cover(bs, CylinderLoops(R2));
    EXPECT_LT(c.gap, 1e-5 * size) << k;
    EXPECT_LT(c.overlap, 1e-3) << k;
    EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << k;
  }
}

// Every sample of a branch farther than d from the points X (count n), its first and last
// samples apart: branches end at those points and do not run through them.
bool PassesNone(const std::vector<Branch>& bs, const double (*X)[3], int n, double d) {
  for (const Branch& b : bs) {
    const size_t m = b.on1.size(), skip = m / 50 + 1;
    for (size_t i = skip; i + skip < m; ++i)
      for (int k = 0; k < n; ++k)
        if (std::hypot(b.on1[i][0] - X[k][0], b.on1[i][1] - X[k][1], b.on1[i][2] - X[k][2]) < d)
          return false;
  }
  return true;
}

// Cylinders of equal radius 1 with axes (z and x) crossing at right angles meet in two ellipses
// in the planes z = +-x, crossing at (0, +-1, 0), where the normals are parallel: four arcs from
// one crossing to the other, each cut where it meets a seam. With the seams of both cylinders in
// every pairing of five directions, and with both seams through a crossing at sizes 1, 1e-6 and
// 1e6 moved 1e4 x the size: every sample on both cylinders, no piece of either ellipse missing
// and none returned twice, no branch running through a crossing, ends meeting; with the seams
// through a crossing, exactly the four arcs.
TEST_F(HardIntersections, EqualCylindersGiveFourArcsSplitAtTheCrossings) {
  const double w = std::sqrt(0.5);
  const double seamsA[6][3] = {{1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {-1, 0, 0}, {w, w, 0}, {0, 1, 0}};
  const double seamsB[6][3] = {{0, 1, 0}, {0, 0, 1}, {0, -1, 0}, {0, 0, -1}, {0, w, w}, {0, 1, 0}};
  const double crossings[2][3] = {{0, 1, 0}, {0, -1, 0}};
  for (int k = 0; k < 28; ++k) {
    const int sa = k < 25 ? k / 5 : 5, sb = k < 25 ? k % 5 : 5;
    Place at;
    at.scale = k == 26 ? 1e-6 : k == 27 ? 1e6 : 1.0;
    for (int q = 0; q < 3; ++q) at.shift[q] = k < 26 ? 0.0 : 1e4 * at.scale * (q + 1);
    BsplineKeeper keep;
    Bspline* a = keep(Cylinder(kZ, seamsA[sa], 1.0, -1.5, 1.5, at));
    Bspline* b = keep(Cylinder(kX, seamsB[sb], 1.0, -1.5, 1.5, at));
    const double size = shapes::PairSize(a, b) / at.scale;
    const std::vector<Branch> bs = Intersect(a, b, at);
    double off = 0.0;
    for (const Branch& br : bs)
      for (const auto& p : br.on1)
        off = std::fmax(off, std::fmax(std::fabs(std::hypot(p[1], p[2]) - 1.0), std::fabs(std::hypot(p[0], p[1]) - 1.0)));
    EXPECT_LT(off, 1e-6 * size) << k;
    const Coverage c = Cover(bs, CylinderLoops(1.0));
    EXPECT_LT(c.gap, 1e-5 * size) << k;
    EXPECT_LT(c.overlap, 1e-3) << k;
    EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << k;
    EXPECT_TRUE(PassesNone(bs, crossings, 2, 1e-3 * size)) << k;
    if (k >= 25) {
      EXPECT_EQ(bs.size(), 4u) << k;
    }
  }
}

// The same crossing of two cubic 13 x 4 nets of one profile, symmetric about its vertical axis:
// they meet in the planes z = +-x too, crossing at the profile's top and bottom. Four arcs from
// one crossing to the other, on both nets, covering both curves, at sizes 1, 1e-6 and 1e6 moved
// 1e4 x the size.
TEST_F(HardIntersections, CubicCylindersGiveFourArcsSplitAtTheCrossings) {
  for (double scale : {1.0, 1e-6, 1e6}) {
    Place at;
    at.scale = scale;
    for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * scale * (q + 1);
    BsplineKeeper keep;
    const double kMZ[3] = {0, 0, -1};
    Bspline* a = keep(CubicCylinder(kZ, kX, -1.5, 1.5, at));
    Bspline* b = keep(CubicCylinder(kX, kMZ, -1.5, 1.5, at));
    const double size = shapes::PairSize(a, b) / scale;
    // The profile (surface a at v = 0) in the case's units, and its point at angle t by bisection
    // on u (the angle falls monotonically from the top round to it).
    auto profile = [&](double u, double P[3]) {
      double Q[3];
      Eval3DPointOnSurfCoord(a, u, 0.0, 0, 0, Q);
      at.Unmap(Q, P);
    };
    double top[3], bottom[3];
    profile(0.0, top);
    profile(0.5, bottom);
    const double crossings[2][3] = {{0, top[1], 0}, {0, bottom[1], 0}};
    Loops loops;
    loops.side = [](const double p[3]) { return EllipseSide(p); };
    loops.at = [&](double t, int side, double P[3]) {
      // Angle measured from the top, clockwise: falls from 0 to -2 pi as u runs round.
      auto angle = [&](double u) {
        double Q[3];
        profile(u, Q);
        double g = std::atan2(Q[1], Q[0]) - M_PI / 2;
        while (g > 1e-12) g -= 2 * M_PI;
        return u > 0.5 && g > -M_PI ? g - 2 * M_PI : g;
      };
      double goal = t - M_PI / 2;
      while (goal > 0) goal -= 2 * M_PI;
      double lo = 0.0, hi = 1.0;
      for (int it = 0; it < 50; ++it) {
        const double mid = 0.5 * (lo + hi);
        (angle(mid) > goal ? lo : hi) = mid;
      }
      profile(0.5 * (lo + hi), P);
      P[2] = (side ? 1 : -1) * P[0];
    };
    const std::vector<Branch> bs = Intersect(a, b, at);
    ASSERT_EQ(bs.size(), 4u) << scale;
    // Each sample's distance from the other net (closest points on a sampled grid, refined).
    double off = 0.0;
    SurfaceGridCache cacheA, cacheB;
    for (const Branch& br : bs) {
      for (int k = 0; k < 2; ++k)
        for (size_t i = 0; i < br.on1.size(); i += 4) {
          double P[3], Q[3], u = 0.0, v = 0.0, d = 0.0, e = 0.0;
          at.Map((k ? br.on2 : br.on1)[i].data(), P);
          (k ? cacheA : cacheB).Closest(k ? a : b, P, &u, &v, Q, &d, &e);
          off = std::fmax(off, std::hypot(P[0] - Q[0], P[1] - Q[1], P[2] - Q[2]) / scale);
        }
      int atCrossing = 0;
      for (const auto* e : {&br.on1.front(), &br.on1.back()})
        for (const auto& X : crossings)
          atCrossing += std::hypot((*e)[0] - X[0], (*e)[1] - X[1], (*e)[2] - X[2]) < 1e-6 * size;
      EXPECT_EQ(atCrossing, 2) << scale;
    }
    EXPECT_LT(off, 1e-6 * size) << scale;
    const Coverage c = Cover(bs, loops);
    EXPECT_LT(c.gap, 1e-5 * size) << scale;
    EXPECT_LT(c.overlap, 1e-3) << scale;
    EXPECT_TRUE(PassesNone(bs, crossings, 2, 1e-3 * size)) << scale;
  }
}

// A hemisphere cut by vertical planes x + k y = 0 through its pole: the half great circle in
// the plane, which meets the pole where the sphere's parameters collapse, so two branches from
// the equator to the pole, one either side. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size: two
// branches, every sample on the plane and the sphere, each from one end of the circle on the
// equator to the pole, coming straight into it (no piece of the circle missing, none doubled).
TEST_F(HardIntersections, PlaneThroughThePoleOfAHemisphere) {
  for (double k : {0.3, 1.7, 0.0})
    for (double scale : {1.0, 1e-6, 1e6}) {
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* sphere = keep(Hemisphere(at));
      const double n = std::hypot(1.0, k);
      double d[3];
      Bspline* plane = keep(PlaneThroughZAxis(k, -0.2, 1.4, at, d));
      const double size = shapes::PairSize(sphere, plane) / scale;
      const std::vector<Branch> bs = Intersect(sphere, plane, at);
      ASSERT_EQ(bs.size(), 2u) << k << " " << scale;
      double off = 0.0;
      int side[2] = {0, 0};
      for (const Branch& b : bs) {
        for (const auto* s : {&b.on1, &b.on2})
          for (const auto& p : *s)
            off = std::fmax(off, std::fmax(std::fabs(p[0] + k * p[1]) / n, std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0)));
        // One end at the pole, the other at +-d on the equator.
        const auto& a = b.on1.front();
        const auto& e = b.on1.back();
        const bool aPole = std::hypot(a[0], a[1], a[2] - 1.0) < 1e-6 * size;
        const auto& eq = aPole ? e : a;
        EXPECT_TRUE(aPole || std::hypot(e[0], e[1], e[2] - 1.0) < 1e-6 * size) << k << " " << scale;
        const double along = eq[0] * d[0] + eq[1] * d[1];
        EXPECT_LT(std::hypot(eq[0] - along * d[0], eq[1] - along * d[1], eq[2]), 1e-6 * size);
        EXPECT_NEAR(std::fabs(along), 1.0, 1e-6 * size);
        ++side[along > 0];
        // The elevation runs over the whole quarter circle, no step between samples beyond the
        // sampling's (the curve swinging round the pole would leave one).
        std::vector<double> rise;
        for (const auto& p : b.on1) rise.push_back(std::atan2(p[2], std::hypot(p[0], p[1])));
        std::sort(rise.begin(), rise.end());
        double step = std::fmax(rise.front(), M_PI / 2 - rise.back());
        for (size_t i = 0; i + 1 < rise.size(); ++i) step = std::fmax(step, rise[i + 1] - rise[i]);
        EXPECT_LT(step, 0.01) << k << " " << scale;
      }
      EXPECT_LT(off, 1e-6 * size) << k << " " << scale;
      EXPECT_EQ(side[0], 1);
      EXPECT_EQ(side[1], 1);
    }
}

// Distance of p from the nearest chord of a branch's samples on surface 1.
// Length of a branch's polyline of samples on surface 1.
double Length(const Branch& b) {
  double length = 0.0;
  for (size_t i = 0; i + 1 < b.on1.size(); ++i)
    length += std::hypot(b.on1[i + 1][0] - b.on1[i][0], b.on1[i + 1][1] - b.on1[i][1], b.on1[i + 1][2] - b.on1[i][2]);
  return length;
}

double FromBranches(const std::vector<Branch>& bs, const double p[3]) {
  double best = HUGE_VAL;
  for (const Branch& b : bs)
    for (size_t i = 0; i + 1 < b.on1.size(); ++i) {
      const double* a = b.on1[i].data();
      const double* c = b.on1[i + 1].data();
      double ab[3], ap[3];
      for (int q = 0; q < 3; ++q) ab[q] = c[q] - a[q], ap[q] = p[q] - a[q];
      const double l2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
      double t = l2 > 0 ? (ab[0] * ap[0] + ab[1] * ap[1] + ab[2] * ap[2]) / l2 : 0.0;
      t = std::fmin(1.0, std::fmax(0.0, t));
      best = std::fmin(best, std::hypot(ap[0] - t * ab[0], ap[1] - t * ab[1], ap[2] - t * ab[2]));
    }
  return best;
}

// A case's placement: size `scale`, moved by `moved` x the size times (1, 2, 3).
Place Placed(double scale, double moved) {
  Place at;
  at.scale = scale;
  for (int q = 0; q < 3; ++q) at.shift[q] = moved * scale * (q + 1);
  return at;
}

// The worst of measure(x, y, z) over every sample of the branches on both surfaces, x, y, z the
// sample's coordinates along the frame's axes.
double WorstInFrame(const std::vector<Branch>& bs, const double frame[3][3],
                    const std::function<double(double, double, double)>& measure) {
  auto in = [&](const double* p, int j) { return p[0] * frame[j][0] + p[1] * frame[j][1] + p[2] * frame[j][2]; };
  double worst = 0.0;
  for (const Branch& br : bs)
    for (const auto* side : {&br.on1, &br.on2})
      for (const auto& p : *side) worst = std::fmax(worst, measure(in(p.data(), 0), in(p.data(), 1), in(p.data(), 2)));
  return worst;
}

// The largest distance of a branch sample from either of two exact surfaces, given by their
// signed distance functions.
double WorstOffBoth(const std::vector<Branch>& bs, const std::function<double(const double*)>& f,
                    const std::function<double(const double*)>& g) {
  double worst = 0.0;
  for (const Branch& br : bs)
    for (const auto* side : {&br.on1, &br.on2})
      for (const auto& p : *side) worst = std::fmax(worst, std::fmax(std::fabs(f(p.data())), std::fabs(g(p.data()))));
  return worst;
}

// FromBranches for the point with coordinates c along the frame's axes.
double FromBranchesInFrame(const std::vector<Branch>& bs, const double frame[3][3], const double c[3]) {
  double P[3];
  for (int q = 0; q < 3; ++q) P[q] = c[0] * frame[0][q] + c[1] * frame[1][q] + c[2] * frame[2][q];
  return FromBranches(bs, P);
}

// The whole sphere cut by vertical planes x + k y = 0 through both its poles: the great circle
// in the plane, which the sphere's parameters split at the poles into two halves on the
// meridians u and u + 1/2. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size: every sample on the
// plane and the sphere and every point of the circle near a branch (the halves run into the
// poles, not stopping short where the parameters collapse).
TEST_F(HardIntersections, PlaneThroughBothPolesOfASphereGivesTheWholeGreatCircle) {
  for (double k : {1.7, 0.0, -4.0})
    for (double scale : {1.0, 1e-6, 1e6}) {
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* sphere = keep(shapes::Sphere(1.0, at));
      const double n = std::hypot(1.0, k);
      double d[3];
      Bspline* plane = keep(PlaneThroughZAxis(k, -1.2, 2.4, at, d));
      const double size = shapes::PairSize(sphere, plane) / scale;
      const std::vector<Branch> bs = Intersect(sphere, plane, at);
      ASSERT_GE(bs.size(), 1u) << k << " " << scale;
      double off = 0.0;
      for (const Branch& b : bs)
        for (const auto* s : {&b.on1, &b.on2})
          for (const auto& p : *s)
            off = std::fmax(off, std::fmax(std::fabs(p[0] + k * p[1]) / n, std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0)));
      EXPECT_LT(off, 1e-6 * size) << k << " " << scale;
      double gap = 0.0;
      for (int i = 0; i < 720; ++i) {
        const double t = 2 * M_PI * i / 720;
        const double P[3] = {std::cos(t) * d[0], std::cos(t) * d[1], std::sin(t)};
        gap = std::fmax(gap, FromBranches(bs, P));
      }
      EXPECT_LT(gap, 1e-5 * size) << k << " " << scale << " branches " << bs.size();
    }
}

// A cone with its apex at the origin (the side v = 0 collapsed to it) cut by vertical planes
// x + k y = 0 through its axis: the two generators in the plane, from the apex up. At sizes 1,
// 1e-6 and 1e6 moved 1e4 x the size: every sample on both surfaces and every point of both
// lines near a branch (a march that reaches the apex ends there, not stepping on along it).
TEST_F(HardIntersections, PlaneThroughTheAxisOfAConeGivesBothGenerators) {
  const double a[3] = {0, 0, 1}, e[3] = {1, 0, 0};
  for (double k : {0.7, -3.0})
    for (double scale : {1.0, 1e-6, 1e6}) {
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* cone = keep(shapes::Cone(a, e, 0.0, 1.0, 0.0, 1.0, at));
      const double n = std::hypot(1.0, k);
      double d[3];
      Bspline* plane = keep(PlaneThroughZAxis(k, -0.2, 1.4, at, d));
      const double size = shapes::PairSize(cone, plane) / scale;
      const std::vector<Branch> bs = Intersect(cone, plane, at);
      double off = 0.0, gap = 0.0;
      for (const Branch& b : bs)
        for (const auto* s : {&b.on1, &b.on2})
          for (const auto& p : *s)
            off = std::fmax(off, std::fmax(std::fabs(p[0] + k * p[1]) / n, std::fabs(std::hypot(p[0], p[1]) - p[2])));
      for (int side : {-1, 1})
        for (int i = 0; i <= 100; ++i) {
          const double t = i / 100.0, P[3] = {side * t * d[0], side * t * d[1], t};
          gap = std::fmax(gap, FromBranches(bs, P));
        }
      EXPECT_LT(off, 1e-6 * size) << k << " " << scale;
      EXPECT_LT(gap, 1e-5 * size) << k << " " << scale << " branches " << bs.size();
    }
}

// Random height fields of degrees 5 x 6 and 6 x 7 (10 x 11 and 11 x 10 control points, waves of
// random phase and amplitude) crossing each other, at sizes 1, 1e-6 and 1e6 moved 1e4 x the size:
// every sample on both (its height above the other field at its x and y, which the Greville
// layout maps to parameters exactly), every crossing of the fields on a 150 x 150 grid (a sign
// change of their height difference, bisected) close to a branch, and no branch returned twice
// (a fifth of its samples on another).
TEST_F(HardIntersections, RandomHighDegreePairsGiveEachBranchOnce) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> U(-1.0, 1.0);
    double a[6], b[6];
    for (double& x : a) x = U(rng);
    for (double& x : b) x = U(rng);
    auto fa = [&](double x, double y) {
      return 0.15 * (a[0] * std::sin(5 * x + 3 * a[1]) + a[2] * std::cos(4 * y + 3 * a[3]) + a[4] * std::sin(3 * (x + y) + a[5]));
    };
    auto fb = [&](double x, double y) {
      return 0.15 * (b[0] * std::sin(4 * x + 3 * b[1]) + b[2] * std::cos(5 * y + 3 * b[3]) + b[4] * std::cos(3 * (x - y) + b[5])) + 0.02;
    };
    const bool low = seed % 2;
    PatchOptions oa, ob;
    oa.degreeU = low ? 5 : 6, oa.degreeV = low ? 6 : 7, oa.nu = 10, oa.nv = 11;
    ob.degreeU = low ? 6 : 5, ob.degreeV = low ? 7 : 6, ob.nu = 11, ob.nv = 10;
    ob.x0 = ob.y0 = -0.1, ob.x1 = ob.y1 = 1.1;
    Place at;
    at.scale = seed % 3 == 0 ? 1.0 : seed % 3 == 1 ? 1e-6 : 1e6;
    for (int q = 0; q < 3; ++q) at.shift[q] = 1e4 * at.scale * (q + 1);
    BsplineKeeper keep;
    Bspline* A = keep(BuildFunctionPatch(fa, oa));
    Bspline* B = keep(BuildFunctionPatch(fb, ob));
    for (Bspline* s : {A, B})
      for (int i = 0; i < NumCtrlU(s) * NumCtrlV(s); ++i) {
        const double p[3] = {s->X[0][i], s->Y[0][i], s->Z[0][i]};
        double q[3];
        at.Map(p, q);
        s->X[0][i] = q[0], s->Y[0][i] = q[1], s->Z[0][i] = q[2];
      }
    const double size = shapes::PairSize(A, B) / at.scale;
    const std::vector<Branch> bs = Intersect(A, B, at, 1500);
    // Height of a field at (x, y) in the case's units; B's knots may have been rescaled.
    auto height = [&](Bspline* s, double x, double y, double x0, double x1) {
      double P[3], Q[3];
      Eval3DPointOnSurfCoord(s, s->umin + (x - x0) / (x1 - x0) * (s->umax - s->umin),
                             s->vmin + (y - x0) / (x1 - x0) * (s->vmax - s->vmin), 0, 0, P);
      at.Unmap(P, Q);
      return Q[2];
    };
    double off = 0.0;
    for (const Branch& br : bs)
      for (size_t i = 0; i < br.on1.size(); i += 3)
        off = std::fmax(off, std::fabs(br.on1[i][2] - height(B, br.on1[i][0], br.on1[i][1], -0.1, 1.1)));
    EXPECT_LT(off, 1e-6 * size) << seed;
    auto h = [&](double x, double y) { return height(A, x, y, 0.0, 1.0) - height(B, x, y, -0.1, 1.1); };
    const int N = 150;
    double gap = 0.0;
    int crossings = 0;
    for (int j = 0; j <= N; ++j)
      for (int i = 0; i < N; ++i)
        for (int dir = 0; dir < 2; ++dir) {
          double x0 = dir ? double(j) / N : double(i) / N, y0 = dir ? double(i) / N : double(j) / N;
          double x1 = dir ? x0 : double(i + 1) / N, y1 = dir ? double(i + 1) / N : y0;
          double h0 = h(x0, y0);
          if ((h0 < 0) == (h(x1, y1) < 0)) continue;
          for (int it = 0; it < 40; ++it) {
            const double xm = 0.5 * (x0 + x1), ym = 0.5 * (y0 + y1), hm = h(xm, ym);
            if ((hm < 0) == (h0 < 0)) x0 = xm, y0 = ym, h0 = hm;
            else x1 = xm, y1 = ym;
          }
          const double p[3] = {x0, y0, height(A, x0, y0, 0.0, 1.0)};
          gap = std::fmax(gap, FromBranches(bs, p));
          ++crossings;
        }
    EXPECT_GT(crossings, 0) << seed;
    EXPECT_LT(gap, 1e-5 * size) << seed;
    for (size_t i = 0; i < bs.size(); ++i)
      for (size_t j = 0; j < bs.size(); ++j) {
        if (i == j) continue;
        const std::vector<Branch> other = {bs[j]};
        int on = 0, total = 0;
        for (size_t q = 0; q < bs[i].on1.size(); q += 25, ++total)
          on += FromBranches(other, bs[i].on1[q].data()) < 1e-5 * size;
        EXPECT_LT(5 * on, total) << seed << " branch " << i << " on " << j;
      }
  }
}

// A hemisphere cut by the plane z = 1 - d near its pole: the circle of radius sqrt(2d - d^2)
// round the pole, which the sphere's parameters wrap as a line across its u seam where the
// u speed is a hundredth of the size or less. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size:
// one closed branch, every sample on both surfaces, every point of the exact circle near it
// and its length the circle's (no stretch traced out and back).
TEST_F(HardIntersections, PlaneNearThePoleGivesOneClosedLoop) {
  for (double d : {1e-2, 1e-3, 1e-4})
    for (double scale : {1.0, 1e-6, 1e6}) {
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* sphere = keep(Hemisphere(at));
      const double O[3] = {-1.2, -1.2, 1 - d}, e1[3] = {2.4, 0, 0}, e2[3] = {0, 2.4, 0};
      Bspline* plane = keep(PlanePatch(O, e1, e2, at));
      const double size = shapes::PairSize(sphere, plane) / scale;
      const std::vector<Branch> bs = Intersect(sphere, plane, at);
      ASSERT_EQ(bs.size(), 1u) << d << " " << scale;
      const Branch& b = bs[0];
      const double rho = std::sqrt(2 * d - d * d);
      double off = 0.0, length = 0.0;
      for (const auto* s : {&b.on1, &b.on2})
        for (const auto& p : *s)
          off = std::fmax(off, std::fmax(std::fabs(p[2] - (1 - d)), std::fabs(std::hypot(p[0], p[1], p[2]) - 1.0)));
      length += Length(b);
      EXPECT_LT(off, 1e-6 * size) << d << " " << scale;
      EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << d << " " << scale;
      EXPECT_LT(std::hypot(b.on1.front()[0] - b.on1.back()[0], b.on1.front()[1] - b.on1.back()[1]), 1e-6 * size);
      double gap = 0.0;
      for (int i = 0; i < 720; ++i) {
        const double t = 2 * M_PI * i / 720, P[3] = {rho * std::cos(t), rho * std::sin(t), 1 - d};
        gap = std::fmax(gap, FromBranches(bs, P));
      }
      EXPECT_LT(gap, 1e-5 * size) << d << " " << scale;
      EXPECT_NEAR(length, 2 * M_PI * rho, 1e-3 * 2 * M_PI * rho) << d << " " << scale;
    }
}

// The torus of radii R (centre circle) and r (tube) about the z axis, its centre circle at
// height zc, turned by `turn` about z, exactly: u round the axis from the turned x axis, v round
// the tube from its outer equator; closed both ways.
Bspline* Torus(double R, double r, double zc, double turn, const Place& at) {
  const double z[3] = {0, 0, 1}, e[3] = {std::cos(turn), std::sin(turn), 0};
  Place lifted = at;
  lifted.shift[2] += at.scale * zc;
  return shapes::Torus(z, e, R, r, lifted);
}

// Tori of radii 1 and 0.3, one 0.6 above the other, touch along the circle of radius 1 at
// height 0.3, their normals parallel all along it; the upper one turned so that the seams of
// the two meet the circle at one place or two. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size:
// every sample on both tori, every point of the circle near a branch, the branches' lengths
// adding up to the circle's (no stretch returned twice), their ends meeting.
TEST_F(HardIntersections, ToriTouchingAlongACircleGiveItOnce) {
  for (double turn : {0.0, 0.7})
    for (double scale : {1.0, 1e-6, 1e6}) {
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* a = keep(Torus(1.0, 0.3, 0.0, 0.0, at));
      Bspline* b = keep(Torus(1.0, 0.3, 0.6, turn, at));
      const double size = shapes::PairSize(a, b) / scale;
      const std::vector<Branch> bs = Intersect(a, b, at);
      ASSERT_GE(bs.size(), 1u) << turn << " " << scale;
      double off = 0.0, length = 0.0;
      for (const Branch& br : bs) {
        for (const auto* s : {&br.on1, &br.on2})
          for (const auto& p : *s) {
            const double rho = std::hypot(p[0], p[1]) - 1.0;
            off = std::fmax(off, std::fabs(std::hypot(rho, p[2]) - 0.3));
            off = std::fmax(off, std::fabs(std::hypot(rho, p[2] - 0.6) - 0.3));
          }
        length += Length(br);
      }
      EXPECT_LT(off, 1e-6 * size) << turn << " " << scale;
      double gap = 0.0;
      for (int i = 0; i < 720; ++i) {
        const double t = 2 * M_PI * i / 720, P[3] = {std::cos(t), std::sin(t), 0.3};
        gap = std::fmax(gap, FromBranches(bs, P));
      }
      EXPECT_LT(gap, 1e-5 * size) << turn << " " << scale;
      EXPECT_NEAR(length, 2 * M_PI, 1e-3 * 2 * M_PI) << turn << " " << scale;
      EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << turn << " " << scale;
    }
}

// Where a loop of the intersection runs along a closed surface's seam (the plane z = 0 through
// the outer equator of a torus, its v seam, and the inner circle), and where a loop crosses the
// seams of both surfaces three times (cylinders of radii 0.5 about z and 0.3 about x: the loop at
// x > 0 meets the first seam twice and the second once, the loop at x < 0 the second once): at
// sizes 1, 1e-6 and 1e6 moved 1e4 x the size and 1 moved, each loop comes back as one closed
// branch, or as the fewest pieces its seam crossings allow (one between each two) whose ends meet;
// every point of the loops near a branch.
TEST_F(HardIntersections, LoopsComeBackWholeOrInTheFewestPiecesTheSeamsAllow) {
  struct Case {
    int branches;  // one per loop, and one more per seam crossing beyond a loop's first
    std::function<void(int loop, double t, double P[3])> exact;  // the two loops' points at angle t
  };
  const Case torus = {2, [](int loop, double t, double P[3]) {
                        P[0] = (loop ? 1.3 : 0.7) * std::cos(t), P[1] = (loop ? 1.3 : 0.7) * std::sin(t), P[2] = 0.0;
                      }};
  const Case cylinders = {4, [](int loop, double t, double P[3]) {
                            P[1] = 0.3 * std::sin(t), P[2] = 0.3 * std::cos(t);
                            P[0] = (loop ? 1 : -1) * std::sqrt(0.25 - P[1] * P[1]);
                          }};
  const double placements[4][2] = {{1.0, 0.0}, {1e-6, 1e4}, {1e6, 1e4}, {1.0, 1e4}};  // scale, moved
  for (int c = 0; c < 2; ++c)
    for (const auto& placed : placements) {
      const Place at = Placed(placed[0], placed[1]);
      BsplineKeeper keep;
      Bspline *a, *b;
      if (c == 0) {
        const double O[3] = {-2, -2, 0}, e1[3] = {4, 0, 0}, e2[3] = {0, 4, 0};
        a = keep(Torus(1.0, 0.3, 0.0, 0.0, at));
        b = keep(PlanePatch(O, e1, e2, at));
      } else {
        a = keep(Cylinder(kZ, kX, 0.5, -1, 1, at));
        b = keep(Cylinder(kX, kY, 0.3, -1, 1, at));
      }
      const Case& k = c == 0 ? torus : cylinders;
      const double size = shapes::PairSize(a, b) / at.scale, tol = 1e-6 * size;
      const std::vector<Branch> bs = Intersect(a, b, at, 1000);
      EXPECT_EQ(bs.size(), static_cast<size_t>(k.branches)) << c << " " << at.scale << " " << placed[1];
      EXPECT_TRUE(EndsMeet(bs, tol)) << c << " " << at.scale << " " << placed[1];
      // A loop crossing no seam twice is one branch returning to its start.
      for (const Branch& br : bs) {
        if (c != 0) break;
        EXPECT_LT(std::hypot(br.on1.front()[0] - br.on1.back()[0], br.on1.front()[1] - br.on1.back()[1],
                             br.on1.front()[2] - br.on1.back()[2]), tol);
      }
      double gap = 0.0;
      for (int l = 0; l < 2; ++l)
        for (int i = 0; i < 720; ++i) {
          double P[3];
          k.exact(l, 2 * M_PI * i / 720, P);
          gap = std::fmax(gap, FromBranches(bs, P));
        }
      EXPECT_LT(gap, 1e-5 * size) << c << " " << at.scale << " " << placed[1];
    }
}

// The cylinder of radius R about the axis a through the origin, for heights h0..h1 along it,
// exactly with three rational quadratic arcs of 120 degrees (weights 1/2 between the
// triangle's corners), u round from the direction e (the seam), v along the axis; closed in u.
Bspline* ThreeArcCylinder(const double a[3], const double e[3], double R, double h0, double h1, const Place& at) {
  const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const double r3 = std::sqrt(3.0);
  const double cx[7] = {1, 1, -0.5, -2, -0.5, 1, 1}, cy[7] = {0, r3, r3 / 2, 0, -r3 / 2, -r3, 0};
  std::vector<double> pts, weights;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 7; ++i) {
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = R * (cx[i] * e[c] + cy[i] * f[c]) + (j ? h1 : h0) * a[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back(i % 2 ? 0.5 : 1.0);
    }
  Bspline* s = BuildSurface(2, 1, 7, 2, pts, {0, 0, 0, 1. / 3, 1. / 3, 2. / 3, 2. / 3, 1, 1, 1}, {0, 0, 1, 1}, weights);
  if (s) s->closedU = 1;
  return s;
}

// Cylinders of radii 1 (axis z, three arcs) and 1.02 (axis x, four arcs) whose seams meet one of
// the loops at two places 1.2 degrees apart round it, so that a piece of the loop runs from one
// seam to the other: at sizes 1, 1e-6 and 1e6 moved 1e4 x the size, every point of both exact
// loops near a branch, the branches' lengths adding up to the loops' (none returned twice).
TEST_F(HardIntersections, ALoopPieceBetweenTwoSeamsIsReturned) {
  const double w = std::sqrt(0.5), seamA[3] = {w, w, 0}, seamB[3] = {0, w, w}, R2 = 1.02;
  double exact = 0.0;  // length of both loops
  const int n = 4000;
  for (int i = 0; i < n; ++i) {
    const double t0 = 2 * M_PI * i / n, t1 = 2 * M_PI * (i + 1) / n;
    const double z0 = std::sqrt(R2 * R2 - std::sin(t0) * std::sin(t0)), z1 = std::sqrt(R2 * R2 - std::sin(t1) * std::sin(t1));
    exact += 2 * std::hypot(std::cos(t1) - std::cos(t0), std::sin(t1) - std::sin(t0), z1 - z0);
  }
  for (double scale : {1.0, 1e-6, 1e6}) {
    Place at;
    at.scale = scale;
    for (int q = 0; q < 3; ++q) at.shift[q] = scale == 1.0 ? 0.0 : 1e4 * scale * (q + 1);
    BsplineKeeper keep;
    Bspline* a = keep(ThreeArcCylinder(kZ, seamA, 1.0, -1.5, 1.5, at));
    Bspline* b = keep(Cylinder(kX, seamB, R2, -1.5, 1.5, at));
    const double size = shapes::PairSize(a, b) / scale;
    const std::vector<Branch> bs = Intersect(a, b, at, 600);
    double off = 0.0, length = 0.0;
    for (const Branch& br : bs) {
      for (const auto& p : br.on1)
        off = std::fmax(off, std::fmax(std::fabs(std::hypot(p[1], p[2]) - R2), std::fabs(std::hypot(p[0], p[1]) - 1.0)));
      length += Length(br);
    }
    EXPECT_LT(off, 1e-6 * size) << scale;
    const Coverage c = Cover(bs, CylinderLoops(R2));
    EXPECT_LT(c.gap, 1e-5 * size) << scale;
    EXPECT_NEAR(length, exact, 1e-3 * exact) << scale;
    EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << scale;
  }
}

// A unit sphere inside the cylinder of radius 1 about the axis a touches it along the great
// circle normal to a, the normals parallel all along it: the sphere's equator (a its polar
// axis), a meridian through both poles (a along x) or the meridian half of which is the sphere's
// seam (a along y). At size 1 at the origin and at sizes 1, 1e-6 and 1e6 moved 1e4 x the size:
// every sample of the branches on the circle, every point of the
// circle near a branch, each branch running one way round (never out and back) and the lengths
// adding up to the circle's (no stretch twice, no stub at a pole).
TEST_F(HardIntersections, SphereInACylinderTouchesAlongAGreatCircleOnce) {
  const double* axes[3][2] = {{kZ, kX}, {kX, kY}, {kY, kZ}};  // the cylinder's axis and seam direction
  const double placements[4][2] = {{1.0, 0.0}, {1.0, 1e4}, {1e-6, 1e4}, {1e6, 1e4}};  // scale, moved
  for (const auto& ax : axes)
    for (const auto& placed : placements) {
      const double scale = placed[0], moved = placed[1];
      const double *a = ax[0], *e = ax[1];
      const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
      auto dot = [](const double* x, const double* y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
      Place at;
      at.scale = scale;
      for (int q = 0; q < 3; ++q) at.shift[q] = moved * scale * (q + 1);
      BsplineKeeper keep;
      Bspline* cyl = keep(Cylinder(a, e, 1.0, -1.5, 1.5, at));
      Bspline* sph = keep(CreateSphereBspline(at.shift[0], at.shift[1], at.shift[2], scale));
      ASSERT_TRUE(cyl && sph);
      const double size = shapes::PairSize(cyl, sph) / scale;
      const std::vector<Branch> bs = Intersect(cyl, sph, at);
      ASSERT_GE(bs.size(), 1u) << a[0] << " " << scale << " " << moved;
      double off = 0.0, length = 0.0, back = 0.0;
      for (const Branch& br : bs) {
        for (const auto& p : br.on1)
          off = std::fmax(off, std::hypot(std::hypot(dot(p.data(), e), dot(p.data(), f)) - 1.0, dot(p.data(), a)));
        double way = 0.0;
        for (size_t i = 0; i + 1 < br.on1.size(); ++i) {
          const double* p = br.on1[i].data();
          const double* q = br.on1[i + 1].data();
          length += std::hypot(q[0] - p[0], q[1] - p[1], q[2] - p[2]);
          const double turn = std::remainder(std::atan2(dot(q, f), dot(q, e)) - std::atan2(dot(p, f), dot(p, e)), 2 * M_PI);
          if (way == 0.0) way = turn;
          if (turn * way < 0.0) back += std::fabs(turn);
        }
      }
      EXPECT_LT(off, 1e-6 * size) << a[0] << " " << scale << " " << moved;
      EXPECT_EQ(back, 0.0) << a[0] << " " << scale << " " << moved;
      EXPECT_NEAR(length, 2 * M_PI, 1e-5 * 2 * M_PI) << a[0] << " " << scale << " " << moved;
      double gap = 0.0;
      for (int i = 0; i < 720; ++i) {
        const double t = 2 * M_PI * i / 720;
        double P[3];
        for (int q = 0; q < 3; ++q) P[q] = std::cos(t) * e[q] + std::sin(t) * f[q];
        gap = std::fmax(gap, FromBranches(bs, P));
      }
      EXPECT_LT(gap, 1e-5 * size) << a[0] << " " << scale << " " << moved;
    }
}

// A plane tangent to a cylinder of radius 1 along the generator that is the cylinder's seam
// (u = 0 and u = 1 both): one branch, the whole generator of length 3, whichever surface comes
// first, axis-aligned at the origin and on a tilted axis at sizes 1e-6, 0.01 and 1e6 moved 1e4 x
// the size. Every sample on the line, every point of the line near the branch.
TEST_F(HardIntersections, PlaneTangentAlongTheSeamOfACylinderGivesTheGeneratorOnce) {
  struct Placed {
    double scale, moved;
    bool tilted, planeFirst;
  };
  const Placed cases[4] = {{1.0, 0.0, false, false}, {1e-6, 1e4, true, false}, {0.01, 1e4, true, true}, {1e6, 1e4, true, false}};
  for (const Placed& c : cases) {
    Place at;
    at.scale = c.scale;
    for (int q = 0; q < 3; ++q) at.shift[q] = c.moved * c.scale * (q + 1);
    // Axis a, seam direction e normal to it, f = a x e along the plane.
    const double n = std::sqrt(14.0);
    const double tiltA[3] = {1 / n, 2 / n, 3 / n}, m = std::sqrt(5.0), tiltE[3] = {2 / m, -1 / m, 0};
    const double* a = c.tilted ? tiltA : kZ;
    const double* e = c.tilted ? tiltE : kX;
    const double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
    double O[3], e1[3], e2[3];
    for (int q = 0; q < 3; ++q) O[q] = e[q] - 1.5 * f[q] - 1.5 * a[q], e1[q] = 3 * f[q], e2[q] = 3 * a[q];
    BsplineKeeper keep;
    Bspline* cyl = keep(Cylinder(a, e, 1.0, -1.5, 1.5, at));
    Bspline* plane = keep(shapes::Plane(O, e1, e2, at));
    const double size = shapes::PairSize(cyl, plane) / c.scale;
    const std::vector<Branch> bs = c.planeFirst ? Intersect(plane, cyl, at, 600) : Intersect(cyl, plane, at, 600);
    ASSERT_EQ(bs.size(), 1u) << c.scale;
    double off = 0.0, length = 0.0;
    for (size_t i = 0; i < bs[0].on1.size(); ++i) {
      const double* p = bs[0].on1[i].data();
      const double h = p[0] * a[0] + p[1] * a[1] + p[2] * a[2];
      off = std::fmax(off, std::hypot(p[0] - e[0] - h * a[0], p[1] - e[1] - h * a[1], p[2] - e[2] - h * a[2]));
      if (i > 0) {
        const double* o = bs[0].on1[i - 1].data();
        length += std::hypot(p[0] - o[0], p[1] - o[1], p[2] - o[2]);
      }
    }
    double gap = 0.0;
    for (int i = 0; i <= 300; ++i) {
      const double h = -1.5 + 3.0 * i / 300, P[3] = {e[0] + h * a[0], e[1] + h * a[1], e[2] + h * a[2]};
      gap = std::fmax(gap, FromBranches(bs, P));
    }
    EXPECT_LT(off, 1e-6 * size) << c.scale;
    EXPECT_NEAR(length, 3.0, 1e-5 * size) << c.scale;
    EXPECT_LT(gap, 1e-5 * size) << c.scale;
  }
}

// The coordinate axes turned about (1, 2, 3) by `turn` radians (Rodrigues' formula): frame[j] is
// the image of axis j.
void TurnedFrame(double turn, double frame[3][3]) {
  const double n = std::sqrt(14.0), k[3] = {1 / n, 2 / n, 3 / n}, c = std::cos(turn), sn = std::sin(turn);
  for (int j = 0; j < 3; ++j) {
    const double x[3] = {double(j == 0), double(j == 1), double(j == 2)};
    const double kx = k[0] * x[0] + k[1] * x[1] + k[2] * x[2];
    const double cross[3] = {k[1] * x[2] - k[2] * x[1], k[2] * x[0] - k[0] * x[2], k[0] * x[1] - k[1] * x[0]};
    for (int q = 0; q < 3; ++q) frame[j][q] = c * x[q] + sn * cross[q] + (1 - c) * kx * k[q];
  }
}

// The vector v turned about (1, 2, 3) by `turn` radians.
std::array<double, 3> TurnedAbout123(double turn, const std::array<double, 3>& v) {
  double frame[3][3];
  TurnedFrame(turn, frame);
  std::array<double, 3> w;
  for (int q = 0; q < 3; ++q) w[q] = v[0] * frame[0][q] + v[1] * frame[1][q] + v[2] * frame[2][q];
  return w;
}

// A scene turned about (1, 2, 3), at a size, moved by that many sizes from the origin.
struct Turned {
  double turn, scale, moved;
};

// Viviani's curve: the sphere of radius 2 about the origin and the cylinder (x - 1)^2 + y^2 = 1
// (seam at x = 0) meet in the figure eight (1 + cos t, sin t, 2 sin(t / 2)), which passes
// through both poles of the sphere and crosses itself at (2, 0, 0), where the surfaces touch.
// At size 1 at the origin and at sizes 0.01, 1e6 and 1 moved 1e4 x the size on axes turned about
// (1, 2, 3): every sample of the branches within 1e-6 of the size of both surfaces (the pieces
// coming into the poles too), every point of the curve near a branch, sampled finely where it
// crosses itself, and no branch of one point (nodes piled on a pole where traces end) lying on
// another.
TEST_F(HardIntersections, VivianisCurveStaysOnBothSurfacesIntoThePoles) {
  const double placements[4][3] = {{1.0, 0.0, 0.0}, {0.01, 1e4, 0.7}, {1e6, 1e4, 1.9}, {1.0, 1e4, -2.4}};  // scale, moved, turn
  for (const auto& placed : placements) {
    double frame[3][3];
    TurnedFrame(placed[2], frame);
    const double *a1 = frame[0], *a3 = frame[2], minusA1[3] = {-a1[0], -a1[1], -a1[2]};
    const Place at = Placed(placed[0], placed[1]);
    Place axis = at;
    for (int q = 0; q < 3; ++q) axis.shift[q] += at.scale * a1[q];
    BsplineKeeper keep;
    Bspline* sphere = keep(shapes::Sphere(a3, a1, 2.0, at));
    Bspline* cyl = keep(Cylinder(a3, minusA1, 1.0, -2.5, 2.5, axis));
    const double size = shapes::PairSize(sphere, cyl) / at.scale;
    const std::vector<Branch> bs = Intersect(sphere, cyl, at, 1500);
    ASSERT_GE(bs.size(), 1u) << placed[0];
    const double off = WorstInFrame(bs, frame, [&](double x, double y, double z) {
      return std::fmax(std::fabs(std::hypot(x, y, z) - 2.0), std::fabs(std::hypot(x - 1.0, y) - 1.0));
    });
    double gap = 0.0;
    auto near = [&](double t) {
      const double c[3] = {1 + std::cos(t), std::sin(t), 2 * std::sin(t / 2)};
      gap = std::fmax(gap, FromBranchesInFrame(bs, frame, c));
    };
    for (int i = 0; i < 720; ++i) near(4 * M_PI * i / 720);
    for (double crossing : {0.0, 2 * M_PI, 4 * M_PI})
      for (int i = -200; i <= 200; ++i) near(crossing + 0.02 * i / 200);
    EXPECT_LT(off, 1e-6 * size) << placed[0];
    EXPECT_LT(gap, 1e-5 * size) << placed[0];
    for (size_t i = 0; i < bs.size(); ++i) {
      if (Length(bs[i]) > 1e-6 * size) continue;
      std::vector<Branch> others = bs;
      others.erase(others.begin() + i);
      EXPECT_GT(FromBranches(others, bs[i].on1[0].data()), 1e-5 * size) << placed[0] << " branch " << i;
    }
  }
}

// Cones with a common apex, of half-angles 45 degrees about a3 and atan 2 about a1 (a1, a2, a3
// orthonormal), meet in the two generators t (a1 +- sqrt(1.5) a2 + sqrt(2.5) a3), t in
// [0, 1 / sqrt(2.5)], both running into the apex, where the first cone's side v = 0 collapses.
// Axis-aligned at size 1 at the origin, and on axes turned 0.7 radians about (1, 2, 3) at sizes
// 1e-6 and 1e6 moved 1e4 x the size: every sample on both cones within 1e-6 of the size (the
// pieces coming into the apex too), every point of both generators near a branch.
TEST_F(HardIntersections, ConesSharingAnApexGiveTheirCommonGeneratorsIntoIt) {
  const double placements[3][3] = {{1.0, 0.0, 0.0}, {1e-6, 1e4, 0.7}, {1e6, 1e4, 0.7}};  // scale, moved, turn
  for (const auto& placed : placements) {
    const Place at = Placed(placed[0], placed[1]);
    double frame[3][3];
    TurnedFrame(placed[2], frame);
    const double *a1 = frame[0], *a2 = frame[1], *a3 = frame[2];
    BsplineKeeper keep;
    Bspline* A = keep(shapes::Cone(a3, a1, 0.0, 1.0, 0.0, 1.0, at));
    Bspline* B = keep(shapes::Cone(a1, a2, 0.0, 2.0, 0.0, 1.0, at));
    const double size = shapes::PairSize(A, B) / at.scale;
    const std::vector<Branch> bs = Intersect(A, B, at, 1500);
    ASSERT_GE(bs.size(), 1u) << placed[0];
    const double off = WorstInFrame(bs, frame, [&](double x, double y, double z) {
      return std::fmax(std::fabs(std::hypot(x, y) - z) / std::sqrt(2.0), std::fabs(std::hypot(y, z) - 2 * x) / std::sqrt(5.0));
    });
    double gap = 0.0;
    for (int sign : {-1, 1})
      for (int i = 0; i <= 200; ++i) {
        const double t = i / 200.0 / std::sqrt(2.5);
        double P[3];
        for (int q = 0; q < 3; ++q) P[q] = t * (a1[q] + sign * std::sqrt(1.5) * a2[q] + std::sqrt(2.5) * a3[q]);
        gap = std::fmax(gap, FromBranches(bs, P));
      }
    EXPECT_LT(off, 1e-6 * size) << placed[0];
    EXPECT_LT(gap, 1e-5 * size) << placed[0];
  }
}

// The points where the implicit function f (the other surface's signed distance, in the case's
// units) changes sign along n + 1 parameter lines of s each way, each located by bisection on
// 400 steps of its line: exact points of the intersection, found without the tracer.
std::vector<std::array<double, 3>> CrossingsOnLines(const Bspline* s, const Place& at,
                                                    const std::function<double(const double*)>& f, int n) {
  std::vector<std::array<double, 3>> out;
  const double lo[2] = {s->knotsU[s->degreeU], s->knotsV[s->degreeV]};
  const double hi[2] = {s->knotsU[NumCtrlU(s)], s->knotsV[NumCtrlV(s)]};
  for (int dir = 0; dir < 2; ++dir)
    for (int l = 0; l <= n; ++l) {
      const double fixed = lo[1 - dir] + (hi[1 - dir] - lo[1 - dir]) * l / n;
      auto point = [&](double t, double X[3]) {
        const double x = lo[dir] + (hi[dir] - lo[dir]) * t;
        double Q[3];
        Eval3DPointOnSurfCoord(s, dir ? fixed : x, dir ? x : fixed, 0, 0, Q);
        at.Unmap(Q, X);
      };
      double X[3];
      point(0.0, X);
      double before = f(X);
      for (int i = 1; i <= 400; ++i) {
        double t0 = (i - 1) / 400.0, t1 = i / 400.0, f0 = before;
        point(t1, X);
        before = f(X);
        if ((f0 < 0) == (before < 0)) continue;
        for (int it = 0; it < 50; ++it) {
          const double tm = 0.5 * (t0 + t1);
          point(tm, X);
          const double fm = f(X);
          if ((fm < 0) == (f0 < 0)) t0 = tm, f0 = fm;
          else t1 = tm;
        }
        point(0.5 * (t0 + t1), X);
        out.push_back({X[0], X[1], X[2]});
      }
    }
  return out;
}

// A unit axis a and a direction e normal to it (a seam), from rounded figures.
struct Axes {
  double a[3], e[3];
  Axes(std::array<double, 3> A, std::array<double, 3> E) {
    const double n = std::hypot(A[0], A[1], A[2]);
    for (int q = 0; q < 3; ++q) a[q] = A[q] / n;
    const double d = E[0] * a[0] + E[1] * a[1] + E[2] * a[2];
    for (int q = 0; q < 3; ++q) e[q] = E[q] - d * a[q];
    const double m = std::hypot(e[0], e[1], e[2]);
    for (double& x : e) x /= m;
  }
  // Height along a and distance from the axis through c of the point p.
  void Cylindrical(const double c[3], const double* p, double* h, double* rho) const {
    const double d[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
    *h = d[0] * a[0] + d[1] * a[1] + d[2] * a[2];
    *rho = std::sqrt(std::fmax(0.0, d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - *h * *h));
  }
};

// A cylinder, cone, sphere, torus or plane of a case on axes through the centre c: a torus with
// tube radius r, a cylinder between heights h0 < h1 (a cone when given its radius R1 at h1), a
// sphere where neither (h0 = h1), a plane (normal a) the square of side 3 about c.
struct CaseSurface {
  bool torus;
  Axes axes;
  double c[3], R, r;  // centre, radius (the torus's centre circle, the sphere's, the cylinder's), tube radius
  double h0, h1;      // the cylinder's heights; a sphere has none
  bool cone = false;  // the radius runs from R at h0 to R1 at h1
  double R1 = 0.0;
  bool plane = false;
  bool Sphere() const { return !torus && !plane && h0 == h1; }
  // The plane's second direction, a x e.
  void F(double f[3]) const {
    const double* a = axes.a;
    const double* e = axes.e;
    f[0] = a[1] * e[2] - a[2] * e[1], f[1] = a[2] * e[0] - a[0] * e[2], f[2] = a[0] * e[1] - a[1] * e[0];
  }
  Bspline* Build(const Place& at) const {
    Place centred = at;
    for (int q = 0; q < 3; ++q) centred.shift[q] += at.scale * c[q];
    if (plane) {
      double f[3], O[3], e1[3], e2[3];
      F(f);
      for (int q = 0; q < 3; ++q) O[q] = -1.5 * (axes.e[q] + f[q]), e1[q] = 3 * axes.e[q], e2[q] = 3 * f[q];
      return shapes::Plane(O, e1, e2, centred);
    }
    return torus ? shapes::Torus(axes.a, axes.e, R, r, centred)
           : Sphere() ? shapes::Sphere(axes.a, axes.e, R, centred)
                      : shapes::Cone(axes.a, axes.e, R, cone ? R1 : R, h0, h1, centred);
  }
  // True when p lies beyond the patch's edges, or within m of them: a cylinder's or cone's ends,
  // a plane's sides.
  bool Beyond(const double* p, double m) const {
    double h, rho;
    axes.Cylindrical(c, p, &h, &rho);
    if (plane) {
      double f[3], x = 0.0, y = 0.0;
      F(f);
      for (int q = 0; q < 3; ++q) x += (p[q] - c[q]) * axes.e[q], y += (p[q] - c[q]) * f[q];
      return std::fabs(x) > 1.5 - m || std::fabs(y) > 1.5 - m;
    }
    return !torus && !Sphere() && (h < h0 + m || h > h1 - m);
  }
  // Signed distance of p (in the case's units) from the exact surface.
  double Distance(const double* p) const {
    double h, rho;
    axes.Cylindrical(c, p, &h, &rho);
    if (plane) return h;
    if (cone) return ((rho - R) * (h1 - h0) - (h - h0) * (R1 - R)) / std::hypot(h1 - h0, R1 - R);
    return torus ? std::hypot(rho - R, h) - r : Sphere() ? std::hypot(rho, h) - R : rho - R;
  }
};

// Pairs on turned axes whose branches run where one surface's parameters change fast against
// the other's: a cylinder through the hole of a torus with a thick tube (radii 1.056 and 0.886),
// the branch turning in the cylinder's parameters within one of the tracer's steps; two tori
// whose loop closes just beside the v seam of the second; and a thin cylinder through a torus
// (radii 1.273 and 0.358), whose curves miss most between nodes away from the middles.
// Whichever surface comes first, at the sizes and places where the tracer used to stall (steps
// halved to nothing, the branch cut short), to close the loop the long way round its parameters
// (a curve running out and back) or to leave the curves 1.3e-6 of the size off a surface: every
// sample of the branches on both surfaces within 1e-6 of the size, every exact point of the
// intersection (sign changes of the second surface's distance along parameter lines of the
// first) near a branch.
TEST_F(HardIntersections, BranchesWhereTheParametersTurnOrCloseBesideASeam) {
  struct Case {
    CaseSurface s[2];
    double scale, moved;
  };
  const Case cases[3] = {
      {{{false, Axes({0.9213, -0.1757, 0.3468}, {0.2563, -0.3964, -0.8816}), {0.0634, 0.0516, -0.2829}, 0.5502, 0.0, -2.0544, 2.1873},
        {true, Axes({0.1214, -0.5731, -0.8104}, {0.0870, -0.8072, 0.5839}), {0.2738, 0.3250, -0.0615}, 1.0555, 0.8857, 0, 0}},
       1.0, 1e4},
      {{{true, Axes({-0.9600221, -0.0406422, 0.2769582}, {-0.1927865, -0.6213587, -0.7594384}), {-0.2182859, -0.2375242, 0.0536943}, 1.3871672, 0.5049996, 0, 0},
        {true, Axes({-0.8036457, -0.3338860, 0.4926192}, {-0.4993009, 0.8287081, -0.2528666}), {0.1480582, 0.3931931, 0.0851715}, 0.8572649, 0.1275084, 0, 0}},
       1e-6, 0.0},
      {{{false, Axes({-0.6988311, -0.1143103, -0.7060936}, {-0.4993911, 0.7847033, 0.3672182}), {0.1094062, -0.3731383, -0.2481546}, 0.4336182, 0.0, -1.7477, 2.3514},
        {true, Axes({0.1361912, -0.8242324, 0.5496298}, {0.6839332, -0.3231508, -0.6540711}), {-0.3652783, 0.1527623, -0.1273466}, 1.2730812, 0.3579914, 0, 0}},
       1e3, 1e4}};
  for (int c = 0; c < 3; ++c)
    for (int first = 0; first < 2; ++first) {
      const Case& k = cases[c];
      const Place at = Placed(k.scale, k.moved);
      BsplineKeeper keep;
      Bspline* srf[2];
      std::function<double(const double*)> dist[2];
      for (int i = 0; i < 2; ++i) {
        srf[i] = keep(k.s[i].Build(at));
        dist[i] = [&S = k.s[i]](const double* p) { return S.Distance(p); };
      }
      const int second = 1 - first;
      const double size = shapes::PairSize(srf[0], srf[1]) / at.scale;
      const std::vector<Branch> bs = Intersect(srf[first], srf[second], at, 1000);
      ASSERT_GE(bs.size(), 1u) << c << " " << first;
      const double off = WorstOffBoth(bs, dist[0], dist[1]);
      double gap = 0.0;
      for (const auto& p : CrossingsOnLines(srf[first], at, dist[second], 60)) {
        double h, rho;
        k.s[0].axes.Cylindrical(k.s[0].c, p.data(), &h, &rho);
        if (!k.s[0].torus && (h < k.s[0].h0 + 0.01 || h > k.s[0].h1 - 0.01)) continue;  // beyond the cylinder's ends
        gap = std::fmax(gap, FromBranches(bs, p.data()));
      }
      EXPECT_LT(off, 1e-6 * size) << c << " " << first;
      EXPECT_LT(gap, 1e-5 * size) << c << " " << first;
    }
}

// A cylinder (radius 0.712, axis turned) whose seam a loop with a torus (radii 1.065 and 0.684)
// grazes, crossing it twice between two of the tracer's nodes, at size 1e6 moved 1e4 x the size:
// nodes put in to bring the curves onto the surfaces never land beyond the end of their interval,
// so no branch comes back (within 0.2 % of its length) to where it passed more than 5 % of its
// length before.
TEST_F(HardIntersections, BranchesNearASeamNeverRunBackOverThemselves) {
  const Axes cylAxes({0.4036542, 0.3340738, 0.8517382}, {0.8858487, -0.3754895, -0.2725430});
  const Axes torAxes({-0.0273356, 0.5852494, -0.8103925}, {-0.9996143, -0.0199816, 0.0192880});
  const double cylCentre[3] = {-0.3698760, -0.2647962, -0.1505460}, torCentre[3] = {0.1631275, -0.3119991, -0.2979991};
  Place at, cylAt, torAt;
  at.scale = cylAt.scale = torAt.scale = 1e6;
  for (int q = 0; q < 3; ++q) {
    at.shift[q] = 1e4 * at.scale * (q + 1);
    cylAt.shift[q] = at.shift[q] + at.scale * cylCentre[q];
    torAt.shift[q] = at.shift[q] + at.scale * torCentre[q];
  }
  BsplineKeeper keep;
  Bspline* cyl = keep(Cylinder(cylAxes.a, cylAxes.e, 0.7121816, -2.0311, 1.6295, cylAt));
  Bspline* tor = keep(shapes::Torus(torAxes.a, torAxes.e, 1.0645356, 0.6840191, torAt));
  const std::vector<Branch> bs = Intersect(cyl, tor, at, 1000);
  ASSERT_GE(bs.size(), 1u);
  for (size_t k = 0; k < bs.size(); ++k) {
    const auto& p = bs[k].on1;
    std::vector<double> s(p.size(), 0.0);
    for (size_t i = 1; i < p.size(); ++i)
      s[i] = s[i - 1] + std::hypot(p[i][0] - p[i - 1][0], p[i][1] - p[i - 1][1], p[i][2] - p[i - 1][2]);
    const double L = s.back();
    int back = 0;
    for (size_t i = 0; i < p.size(); i += 5)
      for (size_t j = 0; j < p.size(); ++j) {
        const double along = std::fabs(s[i] - s[j]);
        if (std::fmin(along, L - along) > 0.05 * L &&  // a closed branch's ends are neighbours
            std::hypot(p[i][0] - p[j][0], p[i][1] - p[j][1], p[i][2] - p[j][2]) < 0.002 * L) {
          ++back;
          break;
        }
      }
    EXPECT_EQ(back, 0) << "branch " << k << " of length " << L;
  }
}

// A plane cuts a cylinder (radius 0.879, axis turned) in an ellipse that runs out over the
// cylinder's lower end just past its seam, at size 1e6 moved 1e4 x the size: the piece from the
// seam to the end, shorter than the tracer's chord height, is returned (it goes on beyond the
// seam from the branch's end rather than back along it), whichever surface comes first. Every
// sample of the branches on both surfaces, every exact point of the ellipse on the cylinder
// (sign changes of its distance along the plane's parameter lines) near a branch.
TEST_F(HardIntersections, AShortPieceBetweenASeamAndAnEdgeIsReturned) {
  const Axes plane({-0.1142448, -0.2426571, 0.9633617}, {0.6311305, -0.7666099, -0.1182525});
  const Axes cyl({0.2021830, 0.9493809, -0.2404119}, {-0.2444958, -0.1887778, -0.9510966});
  const double planeCentre[3] = {-0.1102395, -0.1308456, -0.1363542}, cylCentre[3] = {-0.1327384, 0.3041433, -0.2232162};
  const double R = 0.8786495, h0 = -1.9523, h1 = 2.3842;
  const double f[3] = {plane.a[1] * plane.e[2] - plane.a[2] * plane.e[1], plane.a[2] * plane.e[0] - plane.a[0] * plane.e[2],
                       plane.a[0] * plane.e[1] - plane.a[1] * plane.e[0]};
  double O[3], e1[3], e2[3];
  for (int q = 0; q < 3; ++q)
    O[q] = planeCentre[q] - 2 * plane.e[q] - 2 * f[q], e1[q] = 4 * plane.e[q], e2[q] = 4 * f[q];
  Place at, cylAt;
  at.scale = cylAt.scale = 1e6;
  for (int q = 0; q < 3; ++q) {
    at.shift[q] = 1e4 * at.scale * (q + 1);
    cylAt.shift[q] = at.shift[q] + at.scale * cylCentre[q];
  }
  auto toPlane = [&](const double* p) {
    return (p[0] - planeCentre[0]) * plane.a[0] + (p[1] - planeCentre[1]) * plane.a[1] + (p[2] - planeCentre[2]) * plane.a[2];
  };
  auto toCylinder = [&](const double* p) {
    double h, rho;
    cyl.Cylindrical(cylCentre, p, &h, &rho);
    return rho - R;
  };
  for (bool planeFirst : {true, false}) {
    BsplineKeeper keep;
    Bspline* P = keep(shapes::Plane(O, e1, e2, at));
    Bspline* C = keep(Cylinder(cyl.a, cyl.e, R, h0, h1, cylAt));
    const double size = shapes::PairSize(P, C) / at.scale;
    const std::vector<Branch> bs = planeFirst ? Intersect(P, C, at, 1000) : Intersect(C, P, at, 1000);
    ASSERT_GE(bs.size(), 1u) << planeFirst;
    const double off = WorstOffBoth(bs, toPlane, toCylinder);
    double gap = 0.0;
    for (const auto& p : CrossingsOnLines(P, at, toCylinder, 60)) {
      double h, rho;
      cyl.Cylindrical(cylCentre, p.data(), &h, &rho);
      if (h > h0 + 1e-3 && h < h1 - 1e-3) gap = std::fmax(gap, FromBranches(bs, p.data()));
    }
    EXPECT_LT(off, 1e-6 * size) << planeFirst;
    EXPECT_LT(gap, 1e-5 * size) << planeFirst;
  }
}

// Surfaces touching at one point and curving apart every way from it: spheres of radii 1 and 0.5
// touching outside, of radii 1 and 0.4 touching inside, a plane on the unit sphere, a plane on a
// torus's outer equator (radii 1 and 0.3), a sphere of radius 1e-3 touching the unit sphere
// inside (the normals parting fast about it). Axis-aligned at size 1 at the origin and on axes turned
// about (1, 2, 3) at sizes 1e-6, 0.01 and 1e6 moved 1e4 x the size, whichever surface comes first:
// one branch, every sample of it on both surfaces within 1e-6 of the size of the touching point.
TEST_F(HardIntersections, SurfacesTouchingAtAPointGiveThePointOnce) {
  const double placements[4][3] = {{1.0, 0.0, 0.0}, {1e-6, 1e4, 0.7}, {0.01, 1e4, 1.9}, {1e6, 1e4, -2.4}};  // scale, moved, turn
  for (const auto& placed : placements) {
    double frame[3][3];
    TurnedFrame(placed[2], frame);
    const double *a1 = frame[0], *a2 = frame[1], *a3 = frame[2];
    auto local = [&](double x, double y, double z, double out[3]) {
      for (int q = 0; q < 3; ++q) out[q] = x * a1[q] + y * a2[q] + z * a3[q];
    };
    const Place at = Placed(placed[0], placed[1]);
    // The touching point of the spheres and of the plane on the sphere, off both spheres' poles,
    // and two unit directions across it.
    double D[3], across1[3], across2[3];
    local(0.48, 0.6, 0.64, D);
    local(0.6 / 0.768375, -0.48 / 0.768375, 0.0, across1);
    VecCrossProd3(D, across1, across2);
    // The torus about a3 touched at its outer equator's point along g; h is across it.
    double g[3], h[3], T[3];
    local(std::cos(0.4), std::sin(0.4), 0.0, g);
    local(-std::sin(0.4), std::cos(0.4), 0.0, h);
    for (int q = 0; q < 3; ++q) T[q] = 1.3 * g[q];
    auto placedAt = [&](const double centre[3]) {
      Place p = at;
      for (int q = 0; q < 3; ++q) p.shift[q] += at.scale * centre[q];
      return p;
    };
    const double outside[3] = {1.5 * D[0], 1.5 * D[1], 1.5 * D[2]}, inside[3] = {0.6 * D[0], 0.6 * D[1], 0.6 * D[2]};
    const double small = 1e-3, beside[3] = {(1 - small) * D[0], (1 - small) * D[1], (1 - small) * D[2]};
    double O[3], e1[3], e2[3], Ot[3], t1[3], t2[3];
    for (int q = 0; q < 3; ++q) {
      O[q] = D[q] - 0.7 * across1[q] - 0.9 * across2[q], e1[q] = 1.5 * across1[q], e2[q] = 1.3 * across2[q];
      Ot[q] = T[q] - 0.5 * h[q] - 0.4 * a3[q], t1[q] = 1.1 * h[q], t2[q] = 0.9 * a3[q];
    }
    for (int pair = 0; pair < 5; ++pair)
      for (bool swapped : {false, true}) {
        BsplineKeeper keep;
        Bspline* s1 = keep(pair != 3 ? shapes::Sphere(a3, a1, 1.0, at) : shapes::Torus(a3, a1, 1.0, 0.3, at));
        Bspline* s2 = keep(pair == 0   ? shapes::Sphere(a1, a2, 0.5, placedAt(outside))
                           : pair == 1 ? shapes::Sphere(a1, a2, 0.4, placedAt(inside))
                           : pair == 2 ? shapes::Plane(O, e1, e2, at)
                           : pair == 3 ? shapes::Plane(Ot, t1, t2, at)
                                       : shapes::Sphere(a1, a2, small, placedAt(beside)));
        ASSERT_TRUE(s1 && s2);
        const double* X = pair != 3 ? D : T;
        const double size = shapes::PairSize(s1, s2) / at.scale;
        const std::vector<Branch> bs = swapped ? Intersect(s2, s1, at, 20) : Intersect(s1, s2, at, 20);
        ASSERT_EQ(bs.size(), 1u) << placed[0] << " " << pair << " " << swapped;
        double off = 0.0;
        for (const auto* side : {&bs[0].on1, &bs[0].on2})
          for (const auto& p : *side) off = std::fmax(off, std::hypot(p[0] - X[0], p[1] - X[1], p[2] - X[2]));
        EXPECT_LT(off, 1e-6 * size) << placed[0] << " " << pair << " " << swapped;
      }
  }
}

// A plane cuts a cone (radii 0.241 and 0.265 over heights -1.5..1.5, axis turned) in an ellipse
// round its axis, at sizes 0.01 and 1e6 moved 1e4 x the size, the plane first: the loop closes
// on the plane while the cone's parameters cross its seam, where the tracer's last two nodes lie
// on either side of it. The curves come back cut at the seam rather than running back across
// the cone's whole domain between those nodes: every sample of the branches on both surfaces
// within 1e-6 of the size, every exact point of the ellipse (sign changes of the plane's distance
// along the cone's parameter lines) near a branch.
TEST_F(HardIntersections, ALoopCrossingASeamOnceIsCutThere) {
  const Axes plane({0.1394647, -0.9714062, 0.1921448}, {0.6026669, 0.2372320, 0.7619144});
  const Axes cone({-0.8611710, -0.2958370, 0.4133582}, {-0.1583686, -0.6165671, -0.7712097});
  const double planeCentre[3] = {0.3195362, 0.3974115, 0.2530993}, coneCentre[3] = {-0.0251732, 0.2781956, -0.0672284};
  const double R0 = 0.2414356, R1 = 0.2653985, h0 = -1.5, h1 = 1.5;
  const double f[3] = {plane.a[1] * plane.e[2] - plane.a[2] * plane.e[1], plane.a[2] * plane.e[0] - plane.a[0] * plane.e[2],
                       plane.a[0] * plane.e[1] - plane.a[1] * plane.e[0]};
  double O[3], e1[3], e2[3];
  for (int q = 0; q < 3; ++q)
    O[q] = planeCentre[q] - 2 * plane.e[q] - 2 * f[q], e1[q] = 4 * plane.e[q], e2[q] = 4 * f[q];
  auto toPlane = [&](const double* p) {
    return (p[0] - planeCentre[0]) * plane.a[0] + (p[1] - planeCentre[1]) * plane.a[1] + (p[2] - planeCentre[2]) * plane.a[2];
  };
  const double slope = (R1 - R0) / (h1 - h0);
  auto toCone = [&](const double* p) {
    double h, rho;
    cone.Cylindrical(coneCentre, p, &h, &rho);
    return (rho - R0 - slope * (h - h0)) / std::hypot(1.0, slope);
  };
  for (double scale : {0.01, 1e6}) {
    Place at, coneAt;
    at.scale = coneAt.scale = scale;
    for (int q = 0; q < 3; ++q) {
      at.shift[q] = 1e4 * scale * (q + 1);
      coneAt.shift[q] = at.shift[q] + scale * coneCentre[q];
    }
    BsplineKeeper keep;
    Bspline* P = keep(shapes::Plane(O, e1, e2, at));
    Bspline* C = keep(shapes::Cone(cone.a, cone.e, R0, R1, h0, h1, coneAt));
    const double size = shapes::PairSize(P, C) / scale;
    const std::vector<Branch> bs = Intersect(P, C, at, 1000);
    ASSERT_GE(bs.size(), 1u) << scale;
    const double off = WorstOffBoth(bs, toPlane, toCone);
    double gap = 0.0;
    for (const auto& p : CrossingsOnLines(C, at, toPlane, 60)) gap = std::fmax(gap, FromBranches(bs, p.data()));
    EXPECT_LT(off, 1e-6 * size) << scale;
    EXPECT_LT(gap, 1e-5 * size) << scale;
  }
}

// A sphere 2e-6 of its radius smaller than the cylinder (radius 0.609, axes turned) it sits in,
// its centre on the cylinder's axis: the surfaces do not meet, but pass within the curve
// tolerance of each other along a circle, which is returned as a contact. At sizes 0.01 and 1e6
// moved 1e4 x the size, whichever surface comes first: every sample of the branches within 1e-6
// of the size of both surfaces (their miss, 2e-7 of it, included), between the nodes too, where
// neither surface meets the other to be pulled onto.
TEST_F(HardIntersections, ANearMissWithinTheToleranceStaysOnBothSurfaces) {
  const Axes sphAxes({0.0565844, -0.4560047, -0.8881768}, {-0.8763148, -0.4489563, 0.1746729});
  const Axes cylAxes({0.1180376, 0.9907268, -0.0672872}, {0.8753613, -0.0718212, 0.4781048});
  const double c[3] = {-0.2917581, -0.3981547, -0.1335604}, Rc = 0.6091227, Rs = Rc * (1 - 2e-6), up = 0.2;
  double o[3];  // the sphere's centre
  for (int q = 0; q < 3; ++q) o[q] = c[q] + up * cylAxes.a[q];
  for (double scale : {0.01, 1e6})
    for (bool sphereFirst : {true, false}) {
      Place at, cylAt, sphAt;
      at.scale = cylAt.scale = sphAt.scale = scale;
      for (int q = 0; q < 3; ++q) {
        at.shift[q] = 1e4 * scale * (q + 1);
        cylAt.shift[q] = at.shift[q] + scale * c[q];
        sphAt.shift[q] = at.shift[q] + scale * o[q];
      }
      BsplineKeeper keep;
      Bspline* cyl = keep(Cylinder(cylAxes.a, cylAxes.e, Rc, -2.1948, 2.2601, cylAt));
      Bspline* sph = keep(shapes::Sphere(sphAxes.a, sphAxes.e, Rs, sphAt));
      const double size = shapes::PairSize(cyl, sph) / scale;
      const std::vector<Branch> bs = sphereFirst ? Intersect(sph, cyl, at, 1000) : Intersect(cyl, sph, at, 1000);
      ASSERT_GE(bs.size(), 1u) << scale << " " << sphereFirst;
      double off = 0.0;
      for (const Branch& br : bs)
        for (const auto* side : {&br.on1, &br.on2})
          for (const auto& p : *side) {
            double h, rho;
            cylAxes.Cylindrical(c, p.data(), &h, &rho);
            off = std::fmax(off, std::fmax(std::fabs(rho - Rc), std::fabs(std::hypot(rho, h - up) - Rs)));
          }
      EXPECT_LT(off, 1e-6 * size) << scale << " " << sphereFirst;
    }
}

// A branch dips across a seam and back between two of the tracer's nodes, both just beside the
// seam, one of them 5e-5 of the range from it: a sphere (radius 0.514, poles turned) and a torus
// (radii 0.962 and 0.727) at size 0.01, across the sphere's seam, the sphere first; the torus
// and the cylinder of BranchesNearASeamNeverRunBackOverThemselves at size 1e6, across the
// cylinder's seam, the torus first; both moved 1e4 x the size. The branches come back cut at
// both crossings rather than cutting the dip short off both surfaces: every sample within 1e-6
// of the size of both surfaces, every exact point of the intersection (sign changes of the
// second surface's distance along the first's parameter lines) near a branch.
TEST_F(HardIntersections, ABranchDippingAcrossASeamBetweenTwoNodesStaysOnBothSurfaces) {
  struct Case {
    CaseSurface s[2];
    double scale;
  };
  const Case cases[2] = {
      {{{false, Axes({-0.9246597, 0.2500999, 0.2871489}, {-0.0027349, 0.7496973, -0.6617753}), {-0.1106257, 0.3858189, 0.0845199}, 0.5137974, 0.0, 0, 0},
        {true, Axes({-0.3103834, 0.3816010, -0.8706565}, {0.8811793, 0.4591005, -0.1129151}), {-0.3331497, 0.1556015, 0.2014433}, 0.9618593, 0.7265217, 0, 0}},
       0.01},
      {{{true, Axes({-0.0273356, 0.5852494, -0.8103925}, {-0.9996143, -0.0199816, 0.0192880}), {0.1631275, -0.3119991, -0.2979991}, 1.0645356, 0.6840191, 0, 0},
        {false, Axes({0.4036542, 0.3340738, 0.8517382}, {0.8858487, -0.3754895, -0.2725430}), {-0.3698760, -0.2647962, -0.1505460}, 0.7121816, 0.0, -2.0311, 1.6295}},
       1e6}};
  for (int c = 0; c < 2; ++c) {
    const Case& k = cases[c];
    const Place at = Placed(k.scale, 1e4);
    BsplineKeeper keep;
    Bspline* srf[2];
    std::function<double(const double*)> dist[2];
    for (int i = 0; i < 2; ++i) {
      srf[i] = keep(k.s[i].Build(at));
      dist[i] = [&S = k.s[i]](const double* p) { return S.Distance(p); };
    }
    const double size = shapes::PairSize(srf[0], srf[1]) / at.scale;
    const std::vector<Branch> bs = Intersect(srf[0], srf[1], at, 1000);
    ASSERT_GE(bs.size(), 1u) << c;
    const double off = WorstOffBoth(bs, dist[0], dist[1]);
    double gap = 0.0;
    for (const auto& p : CrossingsOnLines(srf[0], at, dist[1], 60)) {
      double h, rho;
      k.s[1].axes.Cylindrical(k.s[1].c, p.data(), &h, &rho);
      if (k.s[1].h0 != k.s[1].h1 && (h < k.s[1].h0 + 0.01 || h > k.s[1].h1 - 0.01)) continue;  // beyond the cylinder's ends
      gap = std::fmax(gap, FromBranches(bs, p.data()));
    }
    EXPECT_LT(off, 1e-6 * size) << c;
    EXPECT_LT(gap, 1e-5 * size) << c;
  }
}

// A cone of half-angle 30 degrees with its apex at 2 a3 touches the unit sphere along the circle
// at height 1/2; the sphere 1e-3 larger cuts it in two circles at heights 1/2 +- sqrt(3 (1.001^2
// - 1)) / 2, 0.005 of the size apart, far closer than the tracer's chord height, where the
// surfaces cross at under 3 degrees. Whichever surface comes first, at size 1 at the origin and
// at sizes 1e-6 and 1e6 moved 1e4 x the size on turned axes: every sample on both surfaces, every
// point of both circles near a branch, and the lengths adding up to the two circles' (neither
// lost as a stretch of the other, none traced twice). The same for spheres 1e-4 and 1e-5 larger
// (circles 0.0016 and 0.0005 of the size apart, crossing at 0.8 and 0.26 degrees), where a point
// meeting both surfaces within the point tolerance may lie that over the normals' small sine off
// its circle.
TEST_F(HardIntersections, ConeAndSphereNearlyTouchingGiveBothCircles) {
  // radius, scale, moved, turn
  const double cases[5][4] = {{1.001, 1.0, 0.0, 0.0}, {1.001, 1e-6, 1e4, 0.7}, {1.001, 1e6, 1e4, -2.4},
                              {1.0001, 1e6, 1e4, 0.7}, {1.00001, 1e-6, 1e4, -2.4}};
  for (const auto& k : cases)
    for (bool coneFirst : {true, false}) {
      const double R = k[0], t3 = std::sqrt(3.0), s = 0.5 * std::sqrt(3.0 * (R * R - 1.0)), *placed = k + 1;
      const double heights[2] = {0.5 + s, 0.5 - s};
      double frame[3][3];
      TurnedFrame(placed[2], frame);
      const Place at = Placed(placed[0], placed[1]);
      BsplineKeeper keep;
      Bspline* cone = keep(shapes::Cone(frame[2], frame[0], 2.5 / t3, 0.5 / t3, -0.5, 1.5, at));
      Bspline* sphere = keep(shapes::Sphere(frame[2], frame[1], R, at));
      const double size = shapes::PairSize(cone, sphere) / at.scale;
      const std::vector<Branch> bs = coneFirst ? Intersect(cone, sphere, at, 400) : Intersect(sphere, cone, at, 400);
      const double off = WorstInFrame(bs, frame, [&](double x, double y, double z) {
        return std::fmax(std::fabs(std::hypot(x, y, z) - R), std::fabs(t3 * std::hypot(x, y) + z - 2.0) / 2.0);
      });
      double length = 0.0;
      for (const Branch& br : bs) length += Length(br);
      double gap = 0.0, exact = 0.0;
      for (double h : heights) {
        const double rho = (2.0 - h) / t3;
        exact += 2 * M_PI * rho;
        for (int i = 0; i < 360; ++i) {
          const double t = 2 * M_PI * i / 360, c[3] = {rho * std::cos(t), rho * std::sin(t), h};
          gap = std::fmax(gap, FromBranchesInFrame(bs, frame, c));
        }
      }
      EXPECT_LT(off, 1e-6 * size) << R << " " << placed[0] << " " << coneFirst;
      EXPECT_LT(gap, 1e-5 * size) << R << " " << placed[0] << " " << coneFirst;
      EXPECT_NEAR(length, exact, 1e-4 * exact) << R << " " << placed[0] << " " << coneFirst;
    }
}

// A sphere of radius R in the unit cylinder, poles across the axis, on axes turned by `turn`,
// placed at `scale` moved `moved` x the scale, against the circles at the heights given (both
// crossings, or the band's middle where the tolerance cannot tell them apart): each circle once,
// every sample on both surfaces, every point of the circles near a branch.
void ExpectSphereInCylinderCircles(double R, double turn, double scale, bool sphereFirst,
                                   const std::vector<double>& heights, double moved = 1e4) {
  SCOPED_TRACE(::testing::Message() << "R " << R << " scale " << scale << " sphere first " << sphereFirst);
  double frame[3][3];
  TurnedFrame(turn, frame);
  const Place at = Placed(scale, moved);
  BsplineKeeper keep;
  Bspline* cyl = keep(Cylinder(frame[2], frame[0], 1.0, -1.5, 1.5, at));
  Bspline* sphere = keep(shapes::Sphere(frame[1], frame[2], R, at));
  const double size = shapes::PairSize(cyl, sphere) / at.scale;
  const std::vector<Branch> bs = sphereFirst ? Intersect(sphere, cyl, at, 1000) : Intersect(cyl, sphere, at, 1000);
  const double off = WorstInFrame(bs, frame, [&](double x, double y, double z) {
    return std::fmax(std::fabs(std::hypot(x, y, z) - R), std::fabs(std::hypot(x, y) - 1.0));
  });
  double length = 0.0, gap = 0.0;
  for (const Branch& br : bs) length += Length(br);
  for (double z : heights)
    for (int i = 0; i < 360; ++i) {
      const double t = 2 * M_PI * i / 360, p[3] = {std::cos(t), std::sin(t), z};
      gap = std::fmax(gap, FromBranchesInFrame(bs, frame, p));
    }
  const double circles = 2 * M_PI * static_cast<double>(heights.size());
  EXPECT_LT(off, 1e-6 * size);
  EXPECT_LT(gap, 1e-5 * size);
  EXPECT_NEAR(length, circles, 1e-4 * circles);
}

// A sphere 1e-3 larger than the unit cylinder it sits in, its poles on a line across the
// cylinder's axis, cuts it in two circles at heights +-sqrt(1.001^2 - 1), 0.022 of the size apart,
// each passing 0.045 from a pole where the sphere's parameters turn fast and the march takes short
// steps. Whichever surface comes first, at size 1 at the origin and at sizes 1e-6 and 1e6 moved
// 1e4 x the size on turned axes: every sample on both surfaces, every point of both circles near
// a branch, and the lengths adding up to the two circles' (no stretch traced twice). Spheres
// 1e-4 and 1e-5 larger give circles 0.007 and 0.002 of the size apart, crossing at 0.8 and
// 0.26 degrees, where points fitted between the tracer's nodes could be pulled
// onto the neighbouring circle, and a point meeting both surfaces within the point tolerance may
// lie that over the normals' small sine off its circle.
TEST_F(HardIntersections, SphereLargerThanItsCylinderGivesBothCirclesOnce) {
  // radius, scale, moved, turn
  const double cases[5][4] = {{1.001, 1.0, 0.0, 0.0}, {1.001, 1e-6, 1e4, 0.7}, {1.001, 1e6, 1e4, -2.4},
                              {1.0001, 1e-6, 1e4, 0.7}, {1.00001, 1e-6, 1e4, 0.7}};
  for (const auto& c : cases)
    for (bool sphereFirst : {false, true}) {
      const double h = std::sqrt(c[0] * c[0] - 1.0);
      ExpectSphereInCylinderCircles(c[0], c[3], c[1], sphereFirst, {h, -h}, c[2]);
    }
}

// The tracer's own nodes where the surfaces cross at a quarter of a degree: the cone and the
// sphere 1e-5 larger of ConeAndSphereNearlyTouchingGiveBothCircles, at size 1e6 moved 1e4 x the
// size on turned axes, either first. A node meeting both surfaces within the point tolerance
// (1e-6 of the size) could lie that over the normals' sine, 0.0045, off its circle; each lies
// within twice the point tolerance of one of the two circles.
TEST_F(HardIntersections, NodesBesideANearlyTangentCrossingLieOnTheirCircle) {
  const double R = 1.00001, t3 = std::sqrt(3.0), s = 0.5 * std::sqrt(3.0 * (R * R - 1.0));
  double frame[3][3];
  TurnedFrame(0.7, frame);
  const Place at = Placed(1e6, 1e4);
  for (bool coneFirst : {true, false}) {
    BsplineKeeper keep;
    Bspline* cone = keep(shapes::Cone(frame[2], frame[0], 2.5 / t3, 0.5 / t3, -0.5, 1.5, at));
    Bspline* sphere = keep(shapes::Sphere(frame[2], frame[1], R, at));
    const double size = shapes::PairSize(cone, sphere) / at.scale;
    IntersectionTraceList* list = MallocIntersectionTraceList();
    ASSERT_EQ(coneFirst ? NewIntersect(cone, sphere, list, 0.01, 1e-6) : NewIntersect(sphere, cone, list, 0.01, 1e-6), 0);
    double worst = 0.0;
    int nodes = 0;
    for (const IntersectionTrace* t = list->head; t; t = t->next)
      for (const IntersectionTraceNode* n = t->head; n; n = n->next, ++nodes) {
        const double P[3] = {n->x, n->y, n->z};
        double Q[3], c[3];
        at.Unmap(P, Q);
        for (int j = 0; j < 3; ++j) c[j] = Q[0] * frame[j][0] + Q[1] * frame[j][1] + Q[2] * frame[j][2];
        const double rho = std::hypot(c[0], c[1]);
        double d = HUGE_VAL;
        for (double h : {0.5 + s, 0.5 - s}) d = std::fmin(d, std::hypot(rho - (2.0 - h) / t3, c[2] - h));
        worst = std::fmax(worst, d);
      }
    FreeIntersectionTraceList(list);
    EXPECT_GT(nodes, 20) << coneFirst;
    EXPECT_LT(worst, 2e-6 * size) << coneFirst;
  }
}

// A sphere 1e-6 or 3e-6 larger than the unit cylinder it sits in (its poles across the axis),
// and the cone of ConeAndSphereNearlyTouchingGiveBothCircles with the sphere so much larger: the
// two circles lie 0.0028 or 0.0049 apart, and over the whole band between them the surfaces stay
// within 1e-6 or 3e-6 of each other, below the point tolerance (1e-6 of the pair's size, over 4):
// no distance between the surfaces tells the circles apart there. The pair comes as one branch
// along the band's middle circle, whole, with no stretch twice: its length that circle's, every
// point of that circle near a branch, every sample on both surfaces (no node of the band pulled
// onto one circle and the next onto the other). At sizes 1e6, 1e-6 and 0.01 moved 1e4 x the size
// on turned axes, either surface first.
TEST_F(HardIntersections, CirclesTheToleranceCannotTellApartComeAsOneBranchAlongTheBand) {
  const double t3 = std::sqrt(3.0);
  // cone (1) or cylinder (0), radius, scale, turn
  const double cases[4][4] = {{0, 1.000001, 1e6, -2.4}, {1, 1.000001, 1e-6, 0.7}, {0, 1.000003, 0.01, 0.3},
                              {1, 1.000003, 0.01, 0.3}};
  for (const auto& k : cases)
    for (bool sphereFirst : {true, false}) {
      const bool cone = k[0] > 0.5;
      const double R = k[1];
      double frame[3][3];
      TurnedFrame(k[3], frame);
      const Place at = Placed(k[2], 1e4);
      BsplineKeeper keep;
      Bspline* other = keep(cone ? shapes::Cone(frame[2], frame[0], 2.5 / t3, 0.5 / t3, -0.5, 1.5, at)
                                 : Cylinder(frame[2], frame[0], 1.0, -1.5, 1.5, at));
      Bspline* sphere = keep(cone ? shapes::Sphere(frame[2], frame[1], R, at) : shapes::Sphere(frame[1], frame[2], R, at));
      const double size = shapes::PairSize(other, sphere) / at.scale;
      const std::vector<Branch> bs = sphereFirst ? Intersect(sphere, other, at, 1000) : Intersect(other, sphere, at, 1000);
      const double off = WorstInFrame(bs, frame, [&](double x, double y, double z) {
        const double rho = std::hypot(x, y);
        return std::fmax(std::fabs(std::hypot(x, y, z) - R), cone ? std::fabs(t3 * rho + z - 2.0) / 2.0 : std::fabs(rho - 1.0));
      });
      // The middle circle: where the cone touches the unit sphere, or the cylinder's at height 0.
      const double rho = cone ? 1.5 / t3 : 1.0, h = cone ? 0.5 : 0.0;
      double length = 0.0, gap = 0.0;
      for (const Branch& br : bs) length += Length(br);
      for (int i = 0; i < 360; ++i) {
        const double t = 2 * M_PI * i / 360, c[3] = {rho * std::cos(t), rho * std::sin(t), h};
        gap = std::fmax(gap, FromBranchesInFrame(bs, frame, c));
      }
      EXPECT_LT(off, 1e-6 * size) << R << " " << k[2] << " " << sphereFirst;
      EXPECT_LT(gap, 1e-5 * size) << R << " " << k[2] << " " << sphereFirst;
      EXPECT_NEAR(length, 2 * M_PI * rho, 1e-4 * 2 * M_PI * rho) << R << " " << k[2] << " " << sphereFirst;
    }
}

// A unit cylinder about z and a sphere of radius 0.5 touching it from outside at (0.6, 0.8, 0.2),
// on a knot of the sphere, with every double knot of both split into two 1e-12 of the range
// apart (as data rounded on its way between systems has them): in the span between, the surface
// turns through its knot, and its second partials there are a trillion times its curvature's.
// At size 0.03, the cylinder first: one branch, every sample of it within 1e-6 of the size of
// the touching point (not a loop of the surfaces' near contact about it, traced twice round).
TEST_F(HardIntersections, ATouchingOnKnotsARoundOffApartIsThePoint) {
  const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0}, X[3] = {0.6, 0.8, 0.2};
  const double centre[3] = {0.9, 1.2, 0.2};  // 0.5 beyond X, away from the axis
  const Place at = Placed(0.03, 0.0);
  Place ball = at;
  for (int q = 0; q < 3; ++q) ball.shift[q] += at.scale * centre[q];
  BsplineKeeper keep;
  Bspline* cylinder = keep(Cylinder(z, x, 1.0, -1.5, 1.5, at));
  Bspline* sphere = keep(shapes::Sphere(x, y, 0.5, ball));
  ASSERT_TRUE(cylinder && sphere);
  for (Bspline* s : {cylinder, sphere})
    for (int dir = 0; dir < 2; ++dir) {
      double* k = dir ? s->knotsV : s->knotsU;
      const int p = dir ? s->degreeV : s->degreeU, n = dir ? NumCtrlV(s) : NumCtrlU(s);
      for (int i = p + 2; i < n; ++i)
        if (k[i] == k[i - 1]) k[i] += 1e-12 * (k[n] - k[p]);
    }
  const double size = shapes::PairSize(cylinder, sphere) / at.scale;
  const std::vector<Branch> bs = Intersect(cylinder, sphere, at, 20);
  ASSERT_EQ(bs.size(), 1u);
  double off = 0.0;
  for (const auto* side : {&bs[0].on1, &bs[0].on2})
    for (const auto& p : *side) off = std::fmax(off, std::hypot(p[0] - X[0], p[1] - X[1], p[2] - X[2]));
  EXPECT_LT(off, 1e-6 * size);
}

// Small spheres, radius 1e-2, 1e-3 or 1e-4, touching from outside the unit sphere (at a point off
// its poles), from inside it, and from outside a plane, a cylinder of radius 1 and a torus (radii
// 1 and 0.3, on its outer equator): they meet within the point tolerance only over a disc about
// sqrt(2 tolB r) across, far smaller than the subdivision's boxes. At sizes 1, 1e-6, 0.01 and
// 1e6 moved 1e4 x the size on turned axes, either surface first: one branch, every sample of it
// within 1e-6 of the size of the touching point. Moved 10 point tolerances off the touching (at
// size 1), the small sphere meets nothing.
TEST_F(HardIntersections, SmallSpheresTouchingAtAPointGiveThePointOnce) {
  const double placements[4][3] = {{1.0, 0.0, 0.0}, {1e-6, 1e4, 0.7}, {0.01, 1e4, 1.9}, {1e6, 1e4, -2.4}};  // scale, moved, turn
  const double radii[3] = {1e-2, 1e-3, 1e-4};
  for (int p = 0; p < 4; ++p) {
    double frame[3][3];
    TurnedFrame(placements[p][2], frame);
    const double *a1 = frame[0], *a2 = frame[1], *a3 = frame[2];
    auto local = [&](double x, double y, double z, double out[3]) {
      for (int q = 0; q < 3; ++q) out[q] = x * a1[q] + y * a2[q] + z * a3[q];
    };
    const Place at = Placed(placements[p][0], placements[p][1]);
    double D[3], across1[3], across2[3], g[3];
    local(0.48, 0.6, 0.64, D);
    local(0.6 / 0.768375, -0.48 / 0.768375, 0.0, across1);
    VecCrossProd3(D, across1, across2);
    local(std::cos(0.4), std::sin(0.4), 0.0, g);
    for (int host = 0; host < 5; ++host) {
      const double r = radii[(p + host) % 3];
      // The touching point X and the unit normal N from it toward the small sphere's centre.
      double X[3], N[3];
      for (int q = 0; q < 3; ++q) {
        X[q] = host <= 2 ? D[q] : host == 3 ? g[q] + 0.3 * a3[q] : 1.3 * g[q];
        N[q] = host == 1 ? -D[q] : host <= 2 ? D[q] : g[q];
      }
      for (int miss = 0; miss < (p == 0 ? 2 : 1); ++miss)
        for (bool swapped : {false, true}) {
          BsplineKeeper keep;
          Bspline* s1 = nullptr;
          if (host <= 1) {
            s1 = keep(shapes::Sphere(a3, a1, 1.0, at));
          } else if (host == 2) {
            double O[3], e1[3], e2[3];
            for (int q = 0; q < 3; ++q)
              O[q] = D[q] - 0.7 * across1[q] - 0.9 * across2[q], e1[q] = 1.5 * across1[q], e2[q] = 1.3 * across2[q];
            s1 = keep(shapes::Plane(O, e1, e2, at));
          } else {
            s1 = keep(host == 3 ? Cylinder(a3, a1, 1.0, -1.0, 1.0, at) : shapes::Torus(a3, a1, 1.0, 0.3, at));
          }
          ASSERT_TRUE(s1);
          // 10 point tolerances of the pair's size (about that of s1's box) farther off.
          const double size1 = shapes::PairSize(s1, s1) / at.scale, d = r + (miss ? 10e-6 * size1 : 0.0);
          Place centre = at;
          for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * (X[q] + d * N[q]);
          Bspline* s2 = keep(shapes::Sphere(a1, a2, r, centre));
          ASSERT_TRUE(s2);
          const double size = shapes::PairSize(s1, s2) / at.scale;
          const std::vector<Branch> bs = swapped ? Intersect(s2, s1, at, 20) : Intersect(s1, s2, at, 20);
          if (miss) {
            EXPECT_TRUE(bs.empty()) << host << " " << r << " " << swapped;
            continue;
          }
          ASSERT_EQ(bs.size(), 1u) << placements[p][0] << " " << host << " " << r << " " << swapped;
          double off = 0.0;
          for (const auto* side : {&bs[0].on1, &bs[0].on2})
            for (const auto& x : *side) off = std::fmax(off, std::hypot(x[0] - X[0], x[1] - X[1], x[2] - X[2]));
          EXPECT_LT(off, 1e-6 * size) << placements[p][0] << " " << host << " " << r << " " << swapped;
        }
    }
  }
}

// A sphere of radius 1e-3 touching the unit sphere from outside at a point 5 degrees across the
// small sphere's seam: located from that point's parameters with the small sphere's u at the
// near end of its range (the other side of the seam), at sizes 1, 1e-6 and 1e6 moved 1e4 x the
// size. The touching is found, within 1e-9 of the size of the exact point.
TEST_F(HardIntersections, ATouchingJustAcrossASeamIsLocatedFromTheSeam) {
  for (double scale : {1.0, 1e-6, 1e6}) {
    const Place at = Placed(scale, scale == 1.0 ? 0.0 : 1e4);
    const double r = 1e-3, t = -5.0 * M_PI / 180.0, phi = 0.3;
    // The small sphere's point toward the unit sphere, -D from its centre, lies at azimuth t about
    // its axis z from its seam at +x.
    const double D[3] = {-std::cos(t) * std::cos(phi), -std::sin(t) * std::cos(phi), -std::sin(phi)};
    const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
    Place centre = at;
    for (int q = 0; q < 3; ++q) centre.shift[q] += scale * (1.0 + r) * D[q];
    BsplineKeeper keep;
    Bspline* big = keep(shapes::Sphere(z, x, 1.0, at));
    Bspline* small = keep(shapes::Sphere(z, x, r, centre));
    ASSERT_TRUE(big && small);
    double X[3], S[3], dist, step, q[4] = {0.4, 0.6, 0.9, 0.4}, P[3];
    at.Map(D, X);
    FindClosestUVPointGuessDist(big, X, S, &q[0], &q[1], &dist, &step, 20);
    FindClosestUVPointGuessDist(small, X, S, &q[2], &q[3], &dist, &step, 20);
    ASSERT_GT(q[2], 0.9);  // just below the seam's far end

    q[2] = small->knotsU[small->degreeU];
    ASSERT_TRUE(LocateTouchingPoint(big, small, q, 1e-6 * scale, P)) << scale;
    EXPECT_LT(std::hypot(P[0] - X[0], P[1] - X[1], P[2] - X[2]), 1e-9 * 2.0 * scale) << scale;
  }
}

// Small spheres touching a cylinder (radius 1) or a torus (radii 1 and 0.3, on its outer
// equator) from outside at a point 3.5 to 5.3 degrees from their pole, where their parameters
// turn fast: the nodes traced there lie beside the pole, where the search over both surfaces'
// parameters stalls. At sizes 0.01 and 1e6 moved 1e4 x the size on turned axes: one branch, every
// sample of it within 1e-6 of the size of the touching point.
TEST_F(HardIntersections, SmallSpheresTouchingBesideTheirPoleGiveThePointOnce) {
  struct Case {
    double scale, turn;  // placement, moved 1e4 x the size
    bool torus, swapped;
    double r, angle, height;  // the touching point at angle round the axis, height along it
  };
  const Case cases[3] = {{0.01, 1.9, false, true, 4.5235877931920881e-4, -3.0685178421044261, 0.035462976889041722},
                         {1e6, -2.4, true, true, 1.2977873519295493e-4, 0.093119020456085277, 0.0},
                         {1e6, -2.4, false, false, 7.1518455527088038e-4, 0.061662285193189503, 0.1470842390608352}};
  for (const Case& c : cases) {
    double frame[3][3];
    TurnedFrame(c.turn, frame);
    const Place at = Placed(c.scale, 1e4);
    // X the touching point, N the unit normal there; the small sphere's axis is frame[0], so
    // the touching is c.angle (or pi less it) from its pole.
    double X[3], N[3];
    for (int q = 0; q < 3; ++q) {
      N[q] = std::cos(c.angle) * frame[0][q] + std::sin(c.angle) * frame[1][q];
      X[q] = (c.torus ? 1.3 : 1.0) * N[q] + c.height * frame[2][q];
    }
    Place centre = at;
    for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * (X[q] + c.r * N[q]);
    BsplineKeeper keep;
    Bspline* host = keep(c.torus ? shapes::Torus(frame[2], frame[0], 1.0, 0.3, at)
                                 : Cylinder(frame[2], frame[0], 1.0, -1.0, 1.0, at));
    Bspline* small = keep(shapes::Sphere(frame[0], frame[1], c.r, centre));
    ASSERT_TRUE(host && small);
    const double size = shapes::PairSize(host, small) / at.scale;
    const std::vector<Branch> bs = c.swapped ? Intersect(small, host, at, 20) : Intersect(host, small, at, 20);
    ASSERT_EQ(bs.size(), 1u) << c.scale << " " << c.torus;
    double off = 0.0;
    for (const auto* side : {&bs[0].on1, &bs[0].on2})
      for (const auto& x : *side) off = std::fmax(off, std::hypot(x[0] - X[0], x[1] - X[1], x[2] - X[2]));
    EXPECT_LT(off, 1e-6 * size) << c.scale << " " << c.torus;
  }
}

// The surface's domain moved and scaled by f: u over [-2 f, -f], v over [-f, f], the new parameters
// affine in the old; the surface itself is unchanged.
void ScaleDomains(Bspline* s, double f) {
  const double lu = s->knotsU[s->degreeU], hu = s->knotsU[NumCtrlU(s)];
  const double lv = s->knotsV[s->degreeV], hv = s->knotsV[NumCtrlV(s)];
  for (int i = 0; i < NumKnotsU(s); ++i) s->knotsU[i] = f * (-2.0 + (s->knotsU[i] - lu) / (hu - lu));
  for (int i = 0; i < NumKnotsV(s); ++i) s->knotsV[i] = f * (-1.0 + 2.0 * (s->knotsV[i] - lv) / (hv - lv));
  s->umin = -2 * f, s->umax = -f, s->vmin = -f, s->vmax = f;
}

// The pair's branches with s[first] as the first surface, at the placement: every sample on both
// surfaces within 1e-6 of the size, every exact point of the intersection (sign changes of the
// second surface's distance along the first's parameter lines, short of a cylinder's ends) within
// 1e-5 of the size of a branch, and no branch with a tenth of its samples on another (a stretch
// returned twice). A branch whose points run unevenly in its parameter asks for more samples.
// With domains nonzero both surfaces' domains are scaled by it first (ScaleDomains).
void ExpectWholeBranchesOnBoth(const CaseSurface (&s)[2], const Place& at, int first, int samples = 1000,
                               double domains = 0.0) {
  BsplineKeeper keep;
  Bspline* srf[2] = {keep(s[0].Build(at)), keep(s[1].Build(at))};
  if (domains != 0.0) ScaleDomains(srf[0], domains), ScaleDomains(srf[1], domains);
  const int second = 1 - first;
  const double size = shapes::PairSize(srf[0], srf[1]) / at.scale;
  const std::vector<Branch> bs = Intersect(srf[first], srf[second], at, samples);
  ASSERT_GE(bs.size(), 1u) << at.scale << " " << first;
  const double off = WorstOffBoth(bs, [&](const double* p) { return s[0].Distance(p); },
                                  [&](const double* p) { return s[1].Distance(p); });
  double gap = 0.0;
  for (const auto& p : CrossingsOnLines(srf[first], at, [&](const double* x) { return s[second].Distance(x); }, 60)) {
    if (!s[0].Beyond(p.data(), 0.01) && !s[1].Beyond(p.data(), 0.01)) gap = std::fmax(gap, FromBranches(bs, p.data()));
  }
  double twice = 0.0;  // the largest share of a branch's samples on another branch
  for (size_t j = 0; j < bs.size(); ++j) {
    const std::vector<Branch> other = {bs[j]};
    for (size_t i = 0; i < bs.size(); ++i) {
      if (i == j) continue;
      int on = 0, all = 0;
      for (size_t k = 0; k < bs[i].on1.size(); k += 40, ++all)
        if (FromBranches(other, bs[i].on1[k].data()) < 1e-5 * size) ++on;
      twice = std::fmax(twice, double(on) / all);
    }
  }
  EXPECT_LT(off, 1e-6 * size) << at.scale << " " << first;
  EXPECT_LT(gap, 1e-5 * size) << at.scale << " " << first;
  EXPECT_LT(twice, 0.1) << at.scale << " " << first;
}

// A cylinder (radius 0.609) through a thin torus (radii 0.942 and 0.128) on turned axes: where the
// branch runs fast in the torus's parameters and slowly in the cylinder's, a step the chord height
// allows carries a parameter of the cylinder across more than a knot span. Shortened, the step
// still lands on the branch; replaced by a fixed parameter length in each parameter plane, the two
// surfaces' predicted points lie far apart, each halving keeps them apart by as much as the step
// is long, and the march crawled on in steps of 1e-4 of the size until it stopped, leaving 2e-3 of
// the size of the loop out. Whichever surface comes first, at sizes 1, 1e-6 and 1e6 moved 1e4 x
// the size: every sample on both surfaces, every exact point of the loops near a branch.
TEST_F(HardIntersections, AStepLongerThanAKnotSpanIsShortenedNotReplaced) {
  const CaseSurface s[2] = {
      {false, Axes({-0.1765979, 0.8790738, -0.4427667}, {0.4403419, 0.4728707, 0.7632119}), {-0.2359162, 0.3099464, -0.3575152}, 0.6090670, 0.0, -1.8189, 1.8860},
      {true, Axes({-0.8207941, 0.4529155, 0.3480872}, {0.5572329, 0.7688992, 0.3135052}), {-0.3367235, 0.1772899, 0.1336942}, 0.9415633, 0.1284147, 0, 0}};
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}

// A cylinder (radius 0.463) and a torus (radii 1.031 and 0.585) on turned axes meet in a loop
// that crosses the torus's u seam and, 0.007 of the size on, its v seam: the stretch between is
// crossed in one step, from a seed beside one seam onto the other, where another trace ends from
// the seam's far side. That landing lies within the chord height of the other trace's end, yet
// the stretch is on no trace: the march ends there rather than being dropped as a duplicate,
// which left 1.4e-3 of the size out. Only a march arriving at the seam ends so: two cylinders
// (radii 0.616 and 0.644, axes turned) meet in a loop that dips across the second's seam and back
// between a seed and the next node, which lands where the loop comes back; taken as an arrival
// there, the step's chord stood for the dip, 2.6e-3 of the size off both surfaces. Whichever
// surface comes first, the first pair at size 1e6 and the second at size 0.01, both moved 1e4 x
// the size: every sample on both surfaces, every exact point of the loops near a branch.
TEST_F(HardIntersections, AStretchBetweenTwoSeamsCrossedInOneStepIsKept) {
  const CaseSurface pairs[2][2] = {
      {{false, Axes({0.4223450, 0.7028161, -0.5724283}, {-0.8580148, 0.5136191, -0.0024431}), {-0.0296845, -0.3211482, 0.2172079}, 0.4626994, 0.0, -1.7554, 2.3703},
       {true, Axes({0.2409862, -0.6393073, -0.7302135}, {0.7055536, 0.6320369, -0.3205051}), {-0.1864241, -0.3318623, 0.2006843}, 1.0312480, 0.5853262, 0, 0}},
      {{false, Axes({-0.8062205, 0.4276205, 0.4088389}, {-0.5751880, -0.7282732, -0.3725276}), {-0.3192118, -0.1699567, 0.3667281}, 0.6156560, 0.0, -1.6881, 2.2876},
       {false, Axes({0.0664213, -0.9963648, -0.0533419}, {-0.8838465, -0.0835608, 0.4602531}), {-0.3061219, 0.1607899, -0.3172950}, 0.6437176, 0.0, -1.5191, 1.6990}}};
  for (int first = 0; first < 2; ++first) {
    ExpectWholeBranchesOnBoth(pairs[0], Placed(1e6, 1e4), first);
    ExpectWholeBranchesOnBoth(pairs[1], Placed(0.01, 1e4), first);
  }
}

// A cylinder (radius 0.765) and a torus (radii 0.825 and 0.361) on turned axes meet in a loop
// whose stretch from the cylinder's seam to the torus's is traced in one step: a trace of two
// nodes, each the end of another trace beyond a seam. Its nodes both lie on other traces, its
// middle on none: it is kept, where it was dropped as lying on other branches and 9e-3 of the size
// of the loop went missing. Whichever surface comes first, at sizes 1, 1e-6 and 1e6 moved 1e4 x the
// size: every sample on both surfaces, every exact point of the loop near a branch.
TEST_F(HardIntersections, ATraceBetweenTheEndsOfTwoOthersAcrossSeamsIsKept) {
  const CaseSurface s[2] = {
      {false, Axes({-0.7813219, 0.5336254, -0.3236974}, {-0.5750583, -0.4139257, 0.7056724}), {-0.3152527, 0.2384787, 0.2453272}, 0.7647019, 0.0, -1.6697, 2.3986},
      {true, Axes({-0.6452317, 0.0497583, -0.7623648}, {-0.7618785, -0.1159931, 0.6372494}), {-0.1852622, 0.0981847, 0.3400691}, 0.8253763, 0.3611609, 0, 0}};
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}

// A sphere of radius 0.5 about (1, 0, 0), its axis along y and its seam meridian through
// (1, 0, 0.5), cuts the cylinder of radius 1 about z in a loop round the x axis whose top and
// bottom, (1, 0, +-0.5), touch that meridian: the loop runs along the seam there within the point
// tolerance but never across it. A seed refined onto the seam beside the top marches nowhere, and
// its node, a point of the loop, came back as a branch of its own: the search along the loop's
// nearest chord for a point near it started from the seam's far side, where no branch is. On axes
// turned about (1, 2, 3), whichever surface comes first, at size 1 at the origin and moved 1e4 x
// the size and at size 1e6 so moved: every sample on both surfaces, every exact point of the loop
// near a branch, no branch lying on another.
TEST_F(HardIntersections, ALoopTouchingASeamGivesNoPointBesideIt) {
  const double th0 = std::acos(0.875);  // the loop's extreme angle round the cylinder
  for (const Turned& c : {Turned{0.0, 1.0, 0.0}, Turned{0.7, 1.0, 1e4}, Turned{-2.4, 1e6, 1e4}}) {
    auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(c.turn, v); };
    const std::array<double, 3> centre = turned({1, 0, 0});
    const CaseSurface s[2] = {
        {false, Axes(turned({0, 0, 1}), turned({std::cos(th0 + 0.3), std::sin(th0 + 0.3), 0})), {0, 0, 0}, 1.0, 0.0, -1.0, 1.0},
        {false, Axes(turned({0, 1, 0}), turned({0, 0, 1})), {centre[0], centre[1], centre[2]}, 0.5, 0.0, 0, 0}};
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(c.scale, c.moved), first);
  }
}

struct AxialPlaneRun {
  double scale;
  int first, variant;  // variant: 0 plain, 1 knots inserted, 2 degree elevated
  double seam;         // the seam along +x (1) or -x (-1) of the plane
  double beside;       // and turned this many radians about the axis off it
};

// The plane through the z axis and x, and a torus of radii 1 and 0.3 about z, its u seam along
// the run's direction, turned about (1, 2, 3) by 0.7, at size r.scale moved 1e4 x the size: every
// sample on both surfaces, every point of both circles near a branch, their length once, and the
// ends of the branches meeting (the seams cut the circles).
void ExpectBothCirclesOfAPlaneThroughATorusAxis(const AxialPlaneRun& r) {
  auto turned = [](std::array<double, 3> v) { return TurnedAbout123(0.7, v); };
  const std::array<double, 3> x = turned({1, 0, 0}), z = turned({0, 0, 1});
  const std::array<double, 3> e = turned({r.seam * std::cos(r.beside), r.seam * std::sin(r.beside), 0});
  CaseSurface s[2] = {{true, Axes(z, e), {0, 0, 0}, 1.0, 0.3, 0, 0},
                      {false, Axes(turned({0, 1, 0}), x), {0, 0, 0}, 0, 0, 0, 0}};
  s[1].plane = true;
  const Place at = Placed(r.scale, 1e4);
  BsplineKeeper keep;
  Bspline* srf[2] = {keep(s[0].Build(at)), keep(s[1].Build(at))};
  for (Bspline* b : srf) {
    if (r.variant == 1) InsertNKnotsToObject(1, 3, 0, b, 1, nullptr), InsertNKnotsToObject(1, 2, 1, b, 1, nullptr);
    if (r.variant == 2) IncrementDegreeOfObject(0, b), IncrementDegreeOfObject(1, b);
  }
  ASSERT_FALSE(KernelFailed());
  const double size = shapes::PairSize(srf[0], srf[1]) / r.scale;
  const std::vector<Branch> bs = Intersect(srf[r.first], srf[1 - r.first], at, 1000);
  const double off = WorstOffBoth(bs, [&](const double* p) { return s[0].Distance(p); },
                                  [&](const double* p) { return s[1].Distance(p); });
  double gap = 0.0, length = 0.0;
  for (double side : {1.0, -1.0})
    for (int i = 0; i < 360; ++i) {
      const double t = 2 * M_PI * i / 360, P[3] = {side * x[0] + 0.3 * (std::cos(t) * x[0] + std::sin(t) * z[0]),
                                                   side * x[1] + 0.3 * (std::cos(t) * x[1] + std::sin(t) * z[1]),
                                                   side * x[2] + 0.3 * (std::cos(t) * x[2] + std::sin(t) * z[2])};
      gap = std::fmax(gap, FromBranches(bs, P));
    }
  for (const Branch& b : bs) length += Length(b);
  EXPECT_LT(off, 1e-6 * size) << r.scale << " " << r.variant << " " << r.beside;
  EXPECT_LT(gap, 1e-5 * size) << r.scale << " " << r.variant << " " << r.beside;
  EXPECT_NEAR(length, 1.2 * M_PI, 1e-4 * size) << r.scale << " " << r.variant << " " << r.beside;
  EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << r.scale << " " << r.variant << " " << r.beside;
}

// A plane through the axis of a torus (radii 1 and 0.3) cuts it in two circles of radius 0.3,
// one of them the torus's u seam. A march along that circle predicts every step beyond the seam
// by round-off, and the branch's rate across the seam, round-off too, was read as the branch
// coming back in from beyond it: the step ended where it began and the march stopped round the
// inner equator. The seeds beside the gap were refused, leaving 10 degrees of the circle out, or
// the stretch was traced again from the other side (up to 94 % of a branch twice). On axes
// turned about (1, 2, 3), the seam either way along the plane, whichever surface comes first,
// plain, with knots inserted or degree elevated, at sizes 1, 1e-6 and 1e6 moved 1e4 x the size.
TEST_F(HardIntersections, APlaneThroughATorusAxisAlongItsSeamGivesBothCirclesOnce) {
  const AxialPlaneRun runs[7] = {{1.0, 0, 0, 1, 0.0},  {1e6, 0, 0, 1, 0.0}, {1e-6, 0, 0, -1, 0.0}, {1.0, 1, 1, 1, 0.0},
                                 {1e6, 0, 1, 1, 0.0}, {1.0, 0, 2, 1, 0.0}, {1e6, 1, 2, -1, 0.0}};
  for (const AxialPlaneRun& r : runs) ExpectBothCirclesOfAPlaneThroughATorusAxis(r);
}

// The plane of APlaneThroughATorusAxisAlongItsSeamGivesBothCirclesOnce 1e-7 radians off the
// torus's u seam: the circle runs a fraction of the tolerance beyond the seam's one end, and the
// tracer, whose refinement puts a parameter that close to an end on it, traced it all on the seam
// at the other end. No pull reached the circle from there, so the fit could cut nothing: the
// curves kept the tracer's 14 nodes, their samples 2.5e-5 to 5e-5 of the size off the torus.
// The nodes are moved to the end of the seam the circle lies beside, where pulls reach it. At
// sizes 1e-6 and 1e6 moved 1e4 x the size, either surface first.
TEST_F(HardIntersections, APlaneThroughATorusAxisJustOffItsSeamIsFittedBesideIt) {
  for (const AxialPlaneRun& r : {AxialPlaneRun{1e-6, 0, 0, -1, -1e-7}, AxialPlaneRun{1e6, 1, 0, -1, -1e-7}})
    ExpectBothCirclesOfAPlaneThroughATorusAxis(r);
}

// The plane of APlaneThroughATorusAxisJustOffItsSeamIsFittedBesideIt, the circle inside the u
// seam's end it was traced on: the march along the seam predicts each step off it by less than the
// circle lies inside, and the branch's rate across the seam, round-off, read as the branch coming
// back in from beyond it, ended the step onto the corner with the v seam back where it began: one
// end stopped 2.2e-5 of the size short of the corner (the other end's). A prediction that stays
// inside the seam it runs along crosses no edge there. The plane first, at size 1 moved 1e4 x the
// size: the branches' ends meet, besides the checks of the runs along the seam.
TEST_F(HardIntersections, AMarchBesideASeamReachesTheCornerWithTheOtherSeam) {
  ExpectBothCirclesOfAPlaneThroughATorusAxis(AxialPlaneRun{1.0, 1, 0, -1, -1e-7});
}

// The loop of ALoopTouchingASeamGivesNoPointBesideIt with the cylinder's seam put where the loop
// reaches farthest round it, (cos t, sin t, 0) for cos t = 0.875: the loop touches a seam of each
// surface. A march from a seed stops at both touchings, taking them for seam crossings, and a
// later seed on the rest of the loop runs round it all; the first trace's end on the cylinder's
// seam, anywhere along the stretch the loop runs within the tolerance of it, was not found on the
// loop (the free pulls from the loop's chord beside it slide past the touching), and 0.75 of the
// loop's length came back twice. On axes turned about (1, 2, 3), whichever surface comes first,
// at size 1 at the origin and moved 1e4 x the size: every sample on both surfaces, every exact
// point of the loop near a branch, no branch lying on another.
TEST_F(HardIntersections, ALoopTouchingTheSeamsOfBothSurfacesComesBackOnce) {
  const double th0 = std::acos(0.875);
  for (const Turned& c : {Turned{0.3, 1.0, 0.0}, Turned{0.7, 1.0, 1e4}}) {
    auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(c.turn, v); };
    const std::array<double, 3> centre = turned({1, 0, 0});
    const CaseSurface s[2] = {
        {false, Axes(turned({0, 0, 1}), turned({std::cos(th0), std::sin(th0), 0})), {0, 0, 0}, 1.0, 0.0, -1.0, 1.0},
        {false, Axes(turned({0, 1, 0}), turned({0, 0, 1})), {centre[0], centre[1], centre[2]}, 0.5, 0.0, 0, 0}};
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(c.scale, c.moved), first);
  }
}

// A sphere of radius 0.4962 about (1, 0, 0) cuts the cylinder of radius 1 about z in a loop whose
// point farthest round the cylinder, at the angle t with cos t = (2 - 0.4962^2) / 2, touches the
// cylinder's seam, put there. The march round the loop arrives at the seam a little short of the
// touching, the march back from the seed a little past it, both within the stretch where the loop
// runs along the seam within the point tolerance. The second arrival was taken for the loop
// leaving across the seam beside the first and coming back there from beyond, so the loop was
// left open, its tip (1.2e-4 of the size) missing; it closes there. Whichever surface comes
// first, at size 1 at the origin and at size 1e6 moved 1e4 x the size, on axes turned about
// (1, 2, 3): every sample on both surfaces, every exact point of the loop near a branch.
TEST_F(HardIntersections, ALoopTouchingASeamAtItsTipIsClosedThere) {
  const double rho = 0.4962, th0 = std::acos(0.5 * (2.0 - rho * rho));
  for (const Turned& c : {Turned{0.0, 1.0, 0.0}, Turned{-2.4, 1e6, 1e4}}) {
    auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(c.turn, v); };
    const std::array<double, 3> centre = turned({1, 0, 0});
    const CaseSurface s[2] = {
        {false, Axes(turned({0, 0, 1}), turned({std::cos(th0), std::sin(th0), 0})), {0, 0, 0}, 1.0, 0.0, -1.0, 1.0},
        {false, Axes(turned({0, 1, 0}), turned({0, 0, 1})), {centre[0], centre[1], centre[2]}, rho, 0.0, 0, 0}};
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(c.scale, c.moved), first);
  }
}

// The cone x^2 + y^2 = z^2 (0 <= z <= 1) and the cylinder of radius 0.3 about the x axis raised
// by 0.3, its seam along (x, 0.3, 0.3), meet in a loop (and the apex) that touches that seam at
// (0, 0.3, 0.3): there x^2 = 0.18 cos t (1 + cos t) in the cylinder's angle t from the seam's
// far side, the loop running along the seam within the point tolerance for 1.5e-3 of its length.
// Each march round the loop reached the seam there and was ended as if it crossed; the stretch
// traced on from the seam's far side followed the seam, 3e-6 of the size off the loop, and left
// the rest of the touching to no trace. The marches follow the loop past the touching instead.
// Whichever surface comes first, at size 1 at the origin and at size 1e6 moved 1e4 x the size on
// axes turned about (1, 2, 3): every sample on both surfaces, every exact point of the loop near
// a branch, no stretch twice.
TEST_F(HardIntersections, AMarchReachingASeamItOnlyTouchesGoesOnAlongTheLoop) {
  for (const Turned& c : {Turned{0.0, 1.0, 0.0}, Turned{-2.4, 1e6, 1e4}}) {
    auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(c.turn, v); };
    const std::array<double, 3> axis = turned({0, 0, 0.3});
    CaseSurface s[2] = {{false, Axes(turned({0, 0, 1}), turned({1, 0, 0})), {0, 0, 0}, 0.0, 0.0, 0.0, 1.0},
                        {false, Axes(turned({1, 0, 0}), turned({0, 1, 0})), {axis[0], axis[1], axis[2]}, 0.3, 0.0, -1.2, 1.2}};
    s[0].cone = true;
    s[0].R1 = 1.0;
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(c.scale, c.moved), first);
  }
}
// A cone (radii 0.892 and 0.842 over heights -1.59..2.10) and a torus (radii 0.950 and 0.543) on
// turned axes meet in a loop that crosses the cone's seam and, a step before, the torus's: a
// march running round the loop backward comes within the closing distance of its forward end on
// the cone's seam while still beyond the torus's. It goes on to that seam rather than closing
// the loop there, whose last chord would run across the torus's whole parameter range and whose
// stretch beyond the seam another trace also returns (0.9 of a branch's length doubled).
// Whichever surface comes first, at sizes 1, 1e-6 and 1e6 moved 1e4 x the size: every sample on
// both surfaces, every exact point of the loops near a branch, the branches' lengths adding up to
// the loops' (no stretch twice).
TEST_F(HardIntersections, ALoopIsNotClosedAcrossASeamBesideItsEnd) {
  CaseSurface s[2] = {
      {false, Axes({-0.8804674, 0.3636462, -0.3042017}, {0.3077052, -0.0498308, -0.9501760}), {-0.3048216, 0.2759666, 0.0878284}, 0.8922097, 0.0, -1.5937, 2.0996},
      {true, Axes({0.7342572, -0.0495054, 0.6770639}, {0.6485709, -0.2434827, -0.7211602}), {0.3288526, 0.1697233, -0.0513525}, 0.9504819, 0.5433594, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.8424492;
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}
// A plane and a torus (radii 1.328 and 0.552) on turned axes meet in a loop that leaves the
// plane's square across one side and comes back in across it 0.1 of the square further on: a
// step predicted beyond that side met the loop on its way back in, and the branch was ended on
// the side where the loop comes back, its last chord across the excursion 1e-2 of the size off
// both surfaces. It ends where the loop leaves instead. Whichever surface comes first, at sizes
// 1, 1e-6 and 1e6 moved 1e4 x the size: every sample on both surfaces, every exact point of the
// loop on the square near a branch.
TEST_F(HardIntersections, ABranchLeavingAPatchEndsWhereItLeavesNotWhereItComesBack) {
  CaseSurface s[2] = {
      {false, Axes({-0.4581793, 0.8080253, -0.3703605}, {0.6084764, 0.5888609, 0.5319768}), {-0.1071038, -0.1716133, -0.1867700}, 0, 0, 0, 0},
      {true, Axes({-0.5338750, 0.1666811, -0.8289722}, {-0.5742915, -0.7910452, 0.2108004}), {-0.1866960, -0.3990742, 0.3277190}, 1.3283654, 0.5523346, 0, 0}};
  s[0].plane = true;
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}
// A sphere (radius 0.512) and a cone (radii 0.595 and 0.563 over heights -1.70..2.36) on axes
// nearly alike meet in a small loop about the sphere's pole, which crosses the sphere's seam: a
// march round it comes back within half a step of where it started before reaching the seam. It
// goes on to the seam rather than being taken for a march caught on another branch's loop, which
// left the stretch between 5e-3 of the size out. Whichever surface comes first, at size 1 moved
// by the size, at sizes 1e-6 and 1e3 moved 1e4 x the size: every sample on both surfaces, every
// exact point of the loop near a branch.
TEST_F(HardIntersections, ASmallLoopAboutAPoleRunsOnToTheSeam) {
  CaseSurface s[2] = {
      {false, Axes({0.2984749, 0.9265618, 0.2289016}, {0.6980718, -0.3754878, 0.6096758}), {0.0630019, 0.2349915, -0.1969155}, 0.5124121, 0.0, 0, 0},
      {false, Axes({0.2450556, 0.8749882, 0.4175446}, {-0.9379349, 0.3229778, -0.1263470}), {-0.0224592, -0.2692705, 0.1257838}, 0.5951259, 0.0, -1.6983, 2.3577}};
  s[1].cone = true;
  s[1].R1 = 0.5633150;
  for (const Place& at : {Placed(1.0, 1.0), Placed(1e-6, 1e4), Placed(1e3, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}
}  // namespace

// The branches of s1 and s2 as their curves on s1 in the case's units (placement undone), n + 1
// samples each, and the distance of a point from the nearest branch measured on the curves
// themselves: at a tight turn the chords between samples cut far inside the curve.
struct BranchCurves {
  BsplineList* list = nullptr;
  const Bspline* s1;
  const Place* at;
  std::vector<const Bspline*> cs;
  std::vector<std::vector<std::array<double, 3>>> samples;
  std::vector<std::vector<double>> ts;
  void Point(size_t k, double t, double X[3]) const {
    static const int d0[1] = {0};
    double uv[1][3], P[3];
    EvalPointOnGeometryM(cs[k], t, 0, d0, d0, 1, 0, uv);
    Eval3DPointOnSurfCoord(const_cast<Bspline*>(s1), uv[0][0], uv[0][1], 0, 0, P);
    at->Unmap(P, X);
  }
  BranchCurves(Bspline* a, Bspline* b, const Place& place, int n) : s1(a), at(&place) {
    EXPECT_EQ(CreateSrfSrfIntersectionCurves(a, b, &list), 1);
    for (BsplineList* l = list; l && l->next; l = l->next->next) cs.push_back(l->item);
    for (size_t k = 0; k < cs.size(); ++k) {
      const double lo = cs[k]->knotsU[cs[k]->degreeU], hi = cs[k]->knotsU[NumCtrlU(cs[k])];
      samples.emplace_back();
      ts.emplace_back();
      for (int i = 0; i <= n; ++i) {
        std::array<double, 3> X;
        ts[k].push_back(lo + (hi - lo) * i / n);
        Point(k, ts[k].back(), X.data());
        samples[k].push_back(X);
      }
    }
  }
  ~BranchCurves() {
    while (list) {
      BsplineList* next = list->next;
      Free(list);
      list = next;
    }
  }
  BranchCurves(const BranchCurves&) = delete;
  BranchCurves& operator=(const BranchCurves&) = delete;
  // The branches' total length, as polylines of n + 1 points each.
  double Length(int n) const {
    double length = 0.0;
    for (size_t k = 0; k < cs.size(); ++k) {
      double P[3], Q[3];
      Point(k, ts[k].front(), P);
      for (int i = 1; i <= n; ++i) {
        Point(k, ts[k].front() + (ts[k].back() - ts[k].front()) * i / n, Q);
        length += std::hypot(Q[0] - P[0], Q[1] - P[1], Q[2] - P[2]);
        std::copy(Q, Q + 3, P);
      }
    }
    return length;
  }
  // Every interval that could hold a point nearer than the nearest sample (its nearer end's
  // distance less its chord) is searched: five probes, then golden sections about the best.
  double From(const double p[3]) const {
    auto d = [&](const double* X) { return std::hypot(X[0] - p[0], X[1] - p[1], X[2] - p[2]); };
    double best = HUGE_VAL;
    for (const auto& S : samples)
      for (const auto& X : S) best = std::fmin(best, d(X.data()));
    for (size_t k = 0; k < cs.size(); ++k)
      for (size_t i = 0; i + 1 < samples[k].size(); ++i) {
        const double* A = samples[k][i].data();
        const double* B = samples[k][i + 1].data();
        if (std::fmin(d(A), d(B)) - std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]) >= best) continue;
        const double t0 = ts[k][i], t1 = ts[k][i + 1];
        double X[3], bt = t0, near = HUGE_VAL;
        for (int q = 0; q <= 4; ++q) {
          Point(k, t0 + (t1 - t0) * q / 4, X);
          if (d(X) < near) near = d(X), bt = t0 + (t1 - t0) * q / 4;
        }
        double lo = std::fmax(t0, bt - (t1 - t0) / 4), hi = std::fmin(t1, bt + (t1 - t0) / 4);
        for (int it = 0; it < 28; ++it) {
          const double m1 = lo + 0.382 * (hi - lo), m2 = lo + 0.618 * (hi - lo);
          double Y[3];
          Point(k, m1, X);
          Point(k, m2, Y);
          (d(X) < d(Y) ? hi : lo) = d(X) < d(Y) ? m2 : m1;
        }
        Point(k, 0.5 * (lo + hi), X);
        best = std::fmin(best, d(X));
      }
    return best;
  }
};

// How the branches of cylinders of radii 1 (axis z, seam ea) and R2 (axis x, seam eb) crossing at
// right angles on the frame's axes (placed) meet their exact curves, in shares of the pair's size:
// the farthest sample from either cylinder (off), the farthest point of the curves from every
// branch (gap; the curves sampled finely about where they turn beside (0, +-1, 0)), and the
// branches' length less the curves' (no stretch returned twice). For R2 >= 1 the curves are
// (cos t, sin t, +-sqrt(R2^2 - sin^2 t)), otherwise (+-sqrt(1 - R2^2 sin^2 t), R2 sin t, R2 cos t).
struct CylinderPairFit {
  double off = 0.0, gap = 0.0, lengthError = 0.0, length = 0.0;  // length in the case's units
};

CylinderPairFit FitCylinderPair(double R2, const double ea[3], const double eb[3], const Place& at,
                                const double frame[3][3]) {
  auto turned = [&](const double q[3], double P[3]) {
    for (int k = 0; k < 3; ++k) P[k] = q[0] * frame[0][k] + q[1] * frame[1][k] + q[2] * frame[2][k];
  };
  double a3[3], ax[3], e1[3], e2[3];
  const double z[3] = {0, 0, 1}, x[3] = {1, 0, 0};
  turned(z, a3);
  turned(x, ax);
  turned(ea, e1);
  turned(eb, e2);
  BsplineKeeper keep;
  Bspline* a = keep(Cylinder(a3, e1, 1.0, -1.5, 1.5, at));
  Bspline* b = keep(Cylinder(ax, e2, R2, -1.5, 1.5, at));
  const double size = shapes::PairSize(a, b) / at.scale;
  const BranchCurves bc(a, b, at, 300);
  auto in = [&](const double* p, int j) { return p[0] * frame[j][0] + p[1] * frame[j][1] + p[2] * frame[j][2]; };
  CylinderPairFit r;
  for (const auto& S : bc.samples)
    for (const auto& p : S) {
      const double px = in(p.data(), 0), py = in(p.data(), 1), pz = in(p.data(), 2);
      r.off = std::fmax(r.off, std::fmax(std::fabs(std::hypot(py, pz) - R2), std::fabs(std::hypot(px, py) - 1.0)));
    }
  std::vector<double> ts;
  for (int i = 0; i < 200; ++i) ts.push_back(2 * M_PI * i / 200);
  for (int i = 0; i <= 30; ++i)
    for (double turn : {M_PI / 2, -M_PI / 2})
      for (double side : {-1.0, 1.0}) ts.push_back(turn + side * 1e-6 * std::pow(10.0, i / 6.0));
  double exact = 0.0;
  for (double s : {-1.0, 1.0}) {
    auto curve = [&](double t, double P[3]) {
      double q[3];
      if (R2 >= 1.0) {
        q[0] = std::cos(t), q[1] = std::sin(t), q[2] = s * std::sqrt(R2 * R2 - q[1] * q[1]);
      } else {
        q[1] = R2 * std::sin(t), q[2] = R2 * std::cos(t), q[0] = s * std::sqrt(1.0 - q[1] * q[1]);
      }
      turned(q, P);
    };
    for (double t : ts) {
      double P[3];
      curve(t, P);
      r.gap = std::fmax(r.gap, bc.From(P));
    }
    double P[3], Q[3];
    curve(0.0, P);
    for (int i = 1; i <= 20000; ++i) {
      curve(2 * M_PI * i / 20000, Q);
      exact += std::hypot(Q[0] - P[0], Q[1] - P[1], Q[2] - P[2]);
      std::copy(Q, Q + 3, P);
    }
  }
  r.length = bc.Length(4000);
  r.lengthError = (r.length - exact) / size;
  r.off /= size;
  r.gap /= size;
  return r;
}

const double kUnturned[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// Cylinders of radii 1 (axis z) and R2 = 1 - d a little thinner (axis x) crossing at right
// angles meet in two closed loops round the thinner, which pass 2 sqrt(2 d) apart beside
// (0, +-1, 0) and turn there on a radius of about sqrt(2 d), the normals within a sine of
// sqrt(2 d) of parallel. A point refined to the point tolerance there may lie that tolerance over
// the sine off the loop, a point the march stops on at a seam as much as any. With the thinner
// cylinder's seam through the turns, at size 1e3 moved 1e4 x the size: every sample of the
// branches on both cylinders, every point of the loops within 1e-5 of the size of a branch, no
// stretch returned twice.
TEST_F(HardIntersections, LoopsTurningBesideANearCrossingPassTheirTurnsAtASeam) {
  const double seamsA[2][3] = {{1, 0, 0}, {std::sqrt(0.5), std::sqrt(0.5), 0}};
  const double seamsB[2][3] = {{0, 1, 0}, {0, -1, 0}};
  for (double d : {1e-5, 3e-5})
    for (int k = 0; k < 2; ++k) {
      const CylinderPairFit f = FitCylinderPair(1.0 - d, seamsA[k], seamsB[k], Placed(1e3, 1e4), kUnturned);
      EXPECT_LT(f.off, 1e-6) << d << " " << k;
      EXPECT_LT(f.gap, 1e-5) << d << " " << k;
      EXPECT_LT(std::fabs(f.lengthError), 1e-4) << d << " " << k;
    }
}

// Cylinders of radii 1 (axis z) and 1 + d (axis x) crossing at right angles: for d > 0 two loops
// round the thinner, for d < 0 two round the other; for |d| so small that the loops' turns lie
// within round-off of the crossings of equal radii (d = +-1e-11: 3e-6 of the radius), the four
// arcs meeting there are as good. With the seams on the turned axes, at sizes 1e-6 .. 1e6 and
// 0.05 moved 1e4 x the size: every sample on both cylinders, every point of the exact curves
// within 1e-5 of the size of a branch, no stretch returned twice.
TEST_F(HardIntersections, NearlyEqualCylindersGiveTheirLoopsOrTheCrossingArcs) {
  const double cases[6][4] = {{1e-3, 1e-6, 1e4, 0.7}, {-1e-3, 1e6, 1e4, 1.9}, {1e-4, 0.05, 1e4, -2.4},
                              {-1e-4, 1e-6, 1e4, 0.7}, {1e-11, 1e6, 1e4, 1.9}, {-1e-11, 1.0, 0.0, 0.0}};  // d, scale, moved, turn
  const double ea[3] = {1, 0, 0}, eb[3] = {0, 1, 0};
  for (const auto& c : cases) {
    double frame[3][3];
    TurnedFrame(c[3], frame);
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], ea, eb, Placed(c[1], c[2]), frame);
    EXPECT_LT(f.off, 1e-6) << c[0] << " " << c[1];
    EXPECT_LT(f.gap, 1e-5) << c[0] << " " << c[1];
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << c[0] << " " << c[1];
  }
}

// The same loops for d = +-5e-6 and 1e-5, turning on radii of 3e-3 .. 4.5e-3: between two nodes
// about a turn the curves may stray across the branch by the gap they keep to both surfaces over
// the normals' sine there (up to 2.6e-5 of the size), so the fit holds them across the branch
// too. With the seams anywhere, at size 1e3 moved 1e4 x the size: every point of the loops within
// 1e-5 of the size of a branch, every sample on both cylinders, no stretch returned twice.
TEST_F(HardIntersections, LoopsTurningBesideANearCrossingAreFittedAcrossTheBranch) {
  const double cases[3][7] = {{5e-6, 0, -1, 0, 0, 0, -1}, {-5e-6, 0, -1, 0, 0, 0, -1}, {1e-5, 1, 0, 0, 0, 1, 0}};  // d, ea, eb
  for (const auto& c : cases) {
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], c + 1, c + 4, Placed(1e3, 1e4), kUnturned);
    EXPECT_LT(f.off, 1e-6) << c[0];
    EXPECT_LT(f.gap, 1e-5) << c[0];
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << c[0];
  }
}

// Cylinders of radii 1 and 1 +- 4.69e-6 (a millionth of the size, within the point tolerance) on
// turned axes miss crossing by less than the tolerance, and the tracer returns the arcs of the
// crossing ellipses, ending where the normals are parallel. An end there lies the miss off one
// surface, and pulling it onto both from there (the normals parallel, the steps unbounded) landed
// it on another arc: the curve then ran across the cylinders round to that arc. At size 1e3 moved
// 1e4 x the size: every sample on both cylinders within 1e-6 of the size, the branches as long as
// the two ellipses (no arc twice; each end hooks into the crossing over the 3e-3 its arc passes
// it by, 0.15 % more in all).
TEST_F(HardIntersections, ArcsEndingWhereCylindersMissCrossingStayOnBothSurfaces) {
  const double cases[2][7] = {{4.69e-6, 1, 0, 0, 0, 0, -1}, {-4.69e-6, 1, 0, 0, 0, 0, 1}};  // d, ea, eb
  double frame[3][3];
  TurnedFrame(1.9, frame);
  // The perimeter of an ellipse of semi-axes 1 and sqrt(2) (Ramanujan's second formula, exact to
  // 1e-10 here), twice.
  const double h = std::pow((std::sqrt(2.0) - 1) / (std::sqrt(2.0) + 1), 2);
  const double ellipses = 2 * M_PI * (1 + std::sqrt(2.0)) * (1 + 3 * h / (10 + std::sqrt(4 - 3 * h)));
  for (const auto& c : cases) {
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], c + 1, c + 4, Placed(1e3, 1e4), frame);
    EXPECT_LT(f.off, 1e-6) << c[0];
    EXPECT_NEAR(f.length, ellipses, 2e-3 * ellipses) << c[0];
  }
}

// A cylinder (radius 0.812) and a torus (radii 1.174 and 0.360) on turned axes: over one interval
// between the fit's nodes the cubic's miss changes sign near the middle, which lies within a
// tenth of the tolerance of both surfaces while a quarter of the way along the curve misses by
// 1.2 times the tolerance. Whichever surface comes first, at size 1e6 moved 1e4 x the size:
// every sample on both surfaces within 1e-6 of the size, every exact point near a branch.
TEST_F(HardIntersections, AnIntervalWhoseMiddleHoldsIsMeasuredAtItsQuarters) {
  const CaseSurface s[2] = {
      {false, Axes({-0.6909062, 0.6968730, 0.1923973}, {0.7183137, 0.6316507, 0.2916210}), {-0.2567770, -0.0317360, 0.1575025}, 0.8116086, 0.0, -1.8079, 1.7153},
      {true, Axes({0.5831248, -0.2714158, 0.7657016}, {-0.5447532, 0.5685852, 0.6164048}), {-0.3122729, 0.1595053, 0.3580756}, 1.1738574, 0.3603741, 0, 0}};
  for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), first);
}

// Cylinders of radii 1 and 1 + 4.69e-6 on turned axes, the seams of both where the arcs of the
// crossing ellipses end (the normals parallel there, the surfaces missing crossing by less than
// the tolerance): cut at the seam, an arc's end lies the miss off one surface and is pulled onto
// both. A free pull slid it along the arc, 0.034 of the radius away from the seam, and the branch
// left that stretch out (2e-3 of the size); the end stays on the seam. At size 1e3 moved 1e4 x the
// size: every sample on both cylinders, every point of the exact curves near a branch.
TEST_F(HardIntersections, AnArcEndingOnASeamWhereCylindersMissCrossingKeepsItsEnd) {
  const double ea[3] = {1, 0, 0}, eb[3] = {0, 1, 0};
  double frame[3][3];
  TurnedFrame(1.9, frame);
  const CylinderPairFit f = FitCylinderPair(1.0 + 4.69e-6, ea, eb, Placed(1e3, 1e4), frame);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// A sphere (radius 0.827) and a torus (radii 1.251 and 0.728) on turned axes meet in two loops;
// one is traced from its seed round to the sphere's seam one way and to the torus's the other,
// and the stretch between the two seams, a fifteenth of the loop, is traced from the far side of
// the first. That trace ends beside the loop's other end: it was taken for a march turning back
// onto the loop, dropped, and the stretch went missing (a gap of 1e-2 of the size). Whichever
// surface comes first, at sizes 1e-6 and 1e6 moved 1e4 x the size: every sample on both surfaces,
// every exact point of the loops near a branch, no stretch twice.
TEST_F(HardIntersections, AStretchBetweenTwoSeamsClosingALoopIsKept) {
  const CaseSurface s[2] = {
      {false, Axes({-0.3292953, -0.0699657, 0.9416312}, {-0.9132855, -0.2295998, -0.3364425}), {-0.1335616, -0.3734025, 0.3050037}, 0.8267461, 0.0, 0, 0},
      {true, Axes({0.0473283, -0.4707335, 0.8810051}, {-0.5650387, -0.7399350, -0.3650034}), {-0.2967618, -0.1872747, -0.2545819}, 1.2506019, 0.7279212, 0, 0}};
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}

// A cone (radii 0.591 and 0.199 over heights -2.02..1.54) and a torus (radii 0.952 and 0.286) on
// turned axes meet in a loop that dips across the cone's seam by 3e-4 of its range; the loop's
// trace steps past the dip on the near side, and another trace returns the dip from the far side.
// That trace lies on the loop only across the seam: it was kept, and with the loop cut at the
// dip 0.9 of a branch was returned twice. With the torus first, at sizes 1e-6 and 1e6 moved 1e4 x
// the size: every sample on both surfaces, every exact point of the loops near a branch, no
// stretch twice.
TEST_F(HardIntersections, ATraceOverADipAcrossASeamIsDroppedBesideTheLoop) {
  CaseSurface s[2] = {
      {false, Axes({-0.0455451, -0.7516421, -0.6579968}, {-0.8806982, -0.2806670, 0.3815713}), {-0.1948954, -0.1603506, -0.3385155}, 0.5914434, 0.0, -2.0198, 1.5354},
      {true, Axes({-0.4656079, 0.5829935, -0.6658287}, {-0.8303435, -0.5480646, 0.1007713}), {0.0597074, -0.3065194, -0.2424102}, 0.9519557, 0.2856116, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.1987485;
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)}) ExpectWholeBranchesOnBoth(s, at, 1);
}

// A cone (radii 0.710 and 0.165 over heights -2.01..2.08) cut by a plane on turned axes in an arc
// whose ends, on the plane's edge and the cone's, lie a tenth of its length apart: the march's
// first step back from the seed passed the forward end's long last step in the plane's parameters
// and was taken for the loop closing there, so the arc came back as a loop with a chord across
// and 5.6e-2 of the size of it missing. With the cone first, at sizes 1e-6 and 1e6 moved 1e4 x
// the size: every sample on both surfaces, every exact point of the arc near a branch.
TEST_F(HardIntersections, ABackwardStepBesideTheForwardEndDoesNotCloseTheBranch) {
  CaseSurface s[2] = {
      {false, Axes({0.0503751, -0.7804783, -0.6231500}, {0.6201673, 0.5135193, -0.5930350}), {-0.3421892, 0.1926421, 0.2066119}, 0.7100630, 0.0, -2.0059, 2.0838},
      {false, Axes({-0.6341477, 0.6434825, -0.4287038}, {-0.4857224, 0.0998662, 0.8683896}), {0.3980618, -0.2930154, -0.3217813}, 0, 0, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.1650311;
  s[1].plane = true;
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)}) ExpectWholeBranchesOnBoth(s, at, 0);
}

// Cylinders of radii 1 and 1 + d on turned axes, |d| within the point tolerance of the size, are
// taken to cross, and the arcs end where the normals are parallel; the loops they stand for turn
// about sqrt(2 |d|) beside that point, at their vertices. An arc ending there with no node at the
// vertex left the fit's samples between its last node and the end anywhere in the band that
// meets both cylinders within the tolerance, up to the vertex's distance off the loop: the
// loops' turns lay up to 3.1e-5 (d = -4.69e-6) and 1.5e-4 (d = 1e-6) of the size from every
// branch. At size 1e3 moved 1e4 x the size, the seams through the turns: every point of the
// loops within 1e-5 of the size of a branch, every sample on both cylinders.
TEST_F(HardIntersections, ArcsEndingBesideANearCrossingPassTheLoopsVertices) {
  const double cases[2][3] = {{-4.69e-6, 0.4 * M_PI, 1}, {1e-6, 0, 1}};  // d, seam a's angle, seam b's y
  double frame[3][3];
  TurnedFrame(1.9, frame);
  for (const auto& c : cases) {
    const double ea[3] = {std::cos(c[1]), std::sin(c[1]), 0}, eb[3] = {0, c[2], 0};
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], ea, eb, Placed(1e3, 1e4), frame);
    EXPECT_LT(f.off, 1e-6) << c[0];
    EXPECT_LT(f.gap, 1e-5) << c[0];
  }
}

// The same cylinders, d = -4.69e-6, the first's seam at 0.4 pi and the second's through the turn at
// (0, -1, 0): one step of the march runs from one loop to the other across the point where they
// pass close (0.55 long, 0.33 and 0.44 from it, the normals' sine 0.32 and 0.43 at its ends) and
// the stretches between its ends and that point were left to the fit of its one chord (a loop's
// vertex 7.5e-5 of the size off every branch). The step ends on the point: every point of the
// loops within 1e-5 of the size of a branch, every sample on both cylinders.
TEST_F(HardIntersections, AStepPassingANearCrossingEndsThere) {
  const double ea[3] = {std::cos(0.4 * M_PI), std::sin(0.4 * M_PI), 0}, eb[3] = {0, -1, 0};
  double frame[3][3];
  TurnedFrame(1.9, frame);
  const CylinderPairFit f = FitCylinderPair(1.0 - 4.69e-6, ea, eb, Placed(1e3, 1e4), frame);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// Cylinders of radii 1 and 1 - 2e-6 on unturned axes, the first's seam at 0.48 pi and the
// second's through the turn at (0, -1, 0): the first step from a seed 0.25 from the point where the
// loops pass close lands on the first cylinder's seam on the other loop, 0.09 from it, and the
// search for the point from there, held to the domain, stalls on the seam; the step was kept
// across the point (a loop's vertex 5.7e-5 of the size off every branch). The search runs from
// the step's other end too: every point of the loops within 1e-5 of the size of a branch.
TEST_F(HardIntersections, AStepOntoASeamAcrossANearCrossingEndsThere) {
  const double ea[3] = {std::cos(0.48 * M_PI), std::sin(0.48 * M_PI), 0}, eb[3] = {0, -1, 0};
  const CylinderPairFit f = FitCylinderPair(1.0 - 2e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// A sphere of radius r (a share of the host's size 1) touching a host surface at X, on the side of
// the host's normal N (side 1) or the other: the host a unit sphere (0), a cylinder (1), the outer
// (2) or inner (3) equator of a torus of radii 1 and 0.3, a cone's side (4), the unit sphere's
// pole at a3 (5), on axes turned by `turn`, placed by `at`; sunk `depth` into the host (0:
// touching). The branches found, in the case's own units, with X, the small sphere's centre C and
// the pair's size.
struct SmallTouching {
  std::vector<Branch> bs;
  double X[3], C[3], size;
};

SmallTouching TouchSmallSphere(int host, double r, int side, double turn, const Place& at, bool swapped,
                               double depth = 0.0) {
  double frame[3][3];
  TurnedFrame(turn, frame);
  const double *a1 = frame[0], *a2 = frame[1], *a3 = frame[2];
  const double D[3] = {0.48 * a1[0] + 0.6 * a2[0] + 0.64 * a3[0], 0.48 * a1[1] + 0.6 * a2[1] + 0.64 * a3[1],
                       0.48 * a1[2] + 0.6 * a2[2] + 0.64 * a3[2]};
  double g[3], N[3];
  SmallTouching c;
  for (int q = 0; q < 3; ++q) {
    g[q] = std::cos(0.4) * a1[q] + std::sin(0.4) * a2[q];
    const double X[6] = {D[q], g[q] + 0.3 * a3[q], 1.3 * g[q], 0.7 * g[q], 1.15 * g[q] + 0.3 * a3[q], a3[q]};
    const double n[6] = {D[q], g[q], g[q], -g[q], (g[q] - 0.5 * a3[q]) / std::sqrt(1.25), a3[q]};
    c.X[q] = X[host];
    N[q] = n[host];
  }
  BsplineKeeper keep;
  Bspline* s1 = keep(host == 0 || host == 5 ? shapes::Sphere(a3, a1, 1.0, at)
                     : host == 1 ? Cylinder(a3, a1, 1.0, -1.0, 1.0, at)
                     : host == 4 ? shapes::Cone(a3, a1, 0.5, 1.5, -1.0, 1.0, at)
                                 : shapes::Torus(a3, a1, 1.0, 0.3, at));
  Place centre = at;
  for (int q = 0; q < 3; ++q) {
    c.C[q] = c.X[q] + side * (r - depth) * N[q];
    centre.shift[q] += at.scale * c.C[q];
  }
  Bspline* s2 = keep(shapes::Sphere(a1, a2, r, centre));
  c.size = shapes::PairSize(s1, s2) / at.scale;
  c.bs = swapped ? Intersect(s2, s1, at, 20) : Intersect(s1, s2, at, 20);
  return c;
}

// The largest distance of the branches' samples on both surfaces from X.
double FarthestFrom(const std::vector<Branch>& bs, const double X[3]) {
  double off = 0.0;
  for (const Branch& b : bs)
    for (const auto* side : {&b.on1, &b.on2})
      for (const auto& x : *side) off = std::fmax(off, std::hypot(x[0] - X[0], x[1] - X[1], x[2] - X[2]));
  return off;
}

// A sphere of radius 1e-5 touching a sphere, a cylinder or a cone from outside or inside meets
// it within the point tolerance over a disc across which the normals part by a sine of about
// 0.8: the touching point alone comes back, not a stub across the disc. At size 1 and at size
// 0.01 moved 1e4 x the size on turned axes, in both orders.
TEST_F(HardIntersections, SphereOfATenThousandthTouchingGivesThePointNotAStub) {
  for (int host : {0, 1, 4})
    for (int side : {1, -1})
      for (int placed = 0; placed < 2; ++placed)
        for (bool swapped : {false, true}) {
          const SmallTouching c =
              TouchSmallSphere(host, 1e-5, side, placed ? 1.9 : 0.0, Placed(placed ? 0.01 : 1.0, placed ? 1e4 : 0.0), swapped);
          ASSERT_EQ(c.bs.size(), 1u) << host << " " << side << " " << placed << " " << swapped;
          EXPECT_LT(FarthestFrom(c.bs, c.X), 1e-6 * c.size) << host << " " << side << " " << placed << " " << swapped;
        }
}

// A sphere of radius 1e-5 inside a torus's tube, or of 1e-6 in its hole, touching the inner
// equator: the search for the touching from the closest pair of points, over both surfaces'
// parameters whose scales differ a millionfold, reaches it, and the point comes back, in both
// orders.
TEST_F(HardIntersections, SmallSphereTouchingTheInnerEquatorOfATorusIsFound) {
  for (int side : {1, -1})
    for (bool swapped : {false, true}) {
      const SmallTouching c = TouchSmallSphere(3, side > 0 ? 1e-6 : 1e-5, side, 0.0, Placed(1.0, 0.0), swapped);
      ASSERT_EQ(c.bs.size(), 1u) << side << " " << swapped;
      EXPECT_LT(FarthestFrom(c.bs, c.X), 1e-6 * c.size) << side << " " << swapped;
    }
}

// A sphere of radius 2e-5 inside a cylinder or a cone touches it on its own seam: the search
// over both surfaces' parameters is clamped there from either side, a round-off short of the
// touching, where the small sphere's normal has turned too far. The point comes back alone, at
// size 1 and at size 1e-6 moved 1e4 x the size on turned axes, in both orders.
TEST_F(HardIntersections, SmallSphereTouchingOnItsSeamGivesThePoint) {
  for (int host : {1, 4})
    for (int placed = 0; placed < 2; ++placed)
      for (bool swapped : {false, true}) {
        const SmallTouching c =
            TouchSmallSphere(host, 2e-5, -1, placed ? 0.7 : 0.0, Placed(placed ? 1e-6 : 1.0, placed ? 1e4 : 0.0), swapped);
        ASSERT_EQ(c.bs.size(), 1u) << host << " " << placed << " " << swapped;
        EXPECT_LT(FarthestFrom(c.bs, c.X), 1e-6 * c.size) << host << " " << placed << " " << swapped;
      }
}

// Loops that dip across a closed surface's seam and back for less than one of the tracer's steps:
// a cylinder (radius 0.814) and a torus (radii 0.999 and 0.862) on turned axes, whose loop runs
// 0.19 beside the torus's outer equator (its v seam) on the far side of it, 3.7e-3 below the mid
// plane at most; and a cone (radii 0.564 and 0.376 over heights -1.94..1.60) and a torus (radii
// 0.808 and 0.422), whose loop crosses the cone's seam for 0.011. The loop's trace ends on the
// seam either side of the dip, and the dip is traced from the seam's far side: its first step,
// heading into the domain, curved back out across the seam beyond the dip's other end and was
// clamped onto the seam where it started, so the dip was lost (8e-3 and 7e-4 of the size). At
// sizes 1e-6 and 1e6 moved 1e4 x the size, the first pair in one order at each, the second with
// the torus first: every sample on both surfaces, every exact point of the loops near a branch.
TEST_F(HardIntersections, ADipAcrossASeamShorterThanAStepIsTraced) {
  const CaseSurface cylinderTorus[2] = {
      {false, Axes({-0.5233956, -0.0726371, 0.8489882}, {-0.8406944, 0.2064251, -0.5006213}), {-0.3187100, 0.0497489, 0.2178666}, 0.8144715, 0.0, -1.6422, 2.3684},
      {true, Axes({0.9336978, 0.3571435, 0.0256295}, {-0.0296939, 0.0059007, 0.9995416}), {-0.1997149, -0.0471523, 0.3076287}, 0.9991710, 0.8616926, 0, 0}};
  CaseSurface coneTorus[2] = {
      {false, Axes({0.4885015, 0.8647117, 0.1167907}, {0.0926911, 0.0816646, -0.9923403}), {-0.1280734, 0.2423610, -0.2416560}, 0.5643568, 0.0, -1.9374, 1.5966},
      {true, Axes({-0.8624708, 0.4735874, -0.1784910}, {-0.4450573, -0.8776216, -0.1780571}), {-0.2392069, 0.3989217, -0.3128343}, 0.8075834, 0.4222888, 0, 0}};
  coneTorus[0].cone = true;
  coneTorus[0].R1 = 0.3761579;
  ExpectWholeBranchesOnBoth(cylinderTorus, Placed(1e-6, 1e4), 0);
  ExpectWholeBranchesOnBoth(cylinderTorus, Placed(1e6, 1e4), 1);
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)}) ExpectWholeBranchesOnBoth(coneTorus, at, 1);
}

// A sphere 5e-6 or 5.4e-6 larger than the unit cylinder it sits in (poles across the axis): the
// circles lie 0.0063 apart, resolved, but the surfaces cross them at a sine of 0.003, so each is
// traced as a tangential contact. Beside the sphere's poles its parameters turn fast, and the
// cubic through a circle's nodes there bowed across the band to its middle, where no pull holds:
// the interval was never cut and samples lay 1.2e-6 of the size off the sphere. At sizes 1e-6
// and 1e6 moved 1e4 x the size on turned axes, either surface first: both circles, every sample
// on both surfaces, every point of the circles near a branch, each circle's length once.
TEST_F(HardIntersections, ACurveBowingAcrossANarrowBandIsCutFromItsNodes) {
  const double cases[2][3] = {{1.000005, 1e-6, 0.0}, {1.0000054, 1e6, 0.3}};  // radius, scale, turn
  for (const auto& c : cases)
    for (bool cylinderFirst : {true, false}) {
      const double h = std::sqrt(c[0] * c[0] - 1.0);
      ExpectSphereInCylinderCircles(c[0], c[2], c[1], !cylinderFirst, {h, -h});
    }
}

// A sphere 3.2e-6 or 3.6e-6 larger than the unit cylinder it sits in (poles across the axis, on
// untouched axes): the tolerance cannot tell the circles apart, and the band's middle circle is
// traced as a contact from the short traces the march gives, in quarters between the sphere's
// poles and the cylinder's seam. A trace reaching past a quarter already traced was followed
// from its middle node, inside that quarter, and the quarter came twice (1.25 circles' length,
// the sphere first). At sizes 1e-6 and 1e6 moved 1e4 x the size, either surface first: the middle circle
// once, every sample on both surfaces, every point of it near a branch.
TEST_F(HardIntersections, AContactStretchIsTracedOnce) {
  const double cases[2][2] = {{1.0000032, 1e-6}, {1.0000036, 1e6}};  // radius, scale
  for (const auto& c : cases)
    for (bool sphereFirst : {true, false}) ExpectSphereInCylinderCircles(c[0], 0.0, c[1], sphereFirst, {0.0});
}

// A sphere 4.8e-6 larger than the unit cylinder it sits in, poles across the axis, on axes turned
// by 1.9: the band's middle circle runs through both poles of the sphere, and is traced as a
// contact. A step of the contact's march beside a pole landed on the far side of it, the
// sphere's parameter round the pole turned by half its range in one interval: the curves swept
// round the pole in the sphere's parameters, with 1.38 circles' length and samples 2.5e-5 of the
// size off. At size 1e6 moved 1e4 x the size, either surface first: the middle circle once,
// every sample on both surfaces, every point of it near a branch.
TEST_F(HardIntersections, AContactMarchStopsOnAPoleItReaches) {
  for (bool sphereFirst : {true, false}) ExpectSphereInCylinderCircles(1.0000048, 1.9, 1e6, sphereFirst, {0.0});
}

// Two tori (radii 1.208 and 0.144, 1.275 and 0.486) on turned axes: a branch ends on a seam of
// each surface, its last interval a tenth of a march step, too short in the second torus's plane
// for a node in its middle to stay (the interpolation merges nodes that close). The fit cut it
// there every round and dropped the cut at the next, until the rounds ran out with a cut that was
// never measured: its curves strayed 3.5e-6 of the size off the first torus over the interval
// before it. Whichever surface comes first, at size 1e6 moved 1e4 x the size: every sample on
// both surfaces, every exact point of the branches near one.
TEST_F(HardIntersections, ACutTooCloseToANodeIsNotMade) {
  const CaseSurface s[2] = {
      {true, Axes({0.2715405, 0.7733993, 0.5728170}, {-0.8103168, -0.1374107, 0.5696534}), {-0.3134706, 0.1469859, -0.0476205}, 1.2084208, 0.1441536, 0, 0},
      {true, Axes({-0.6429083, 0.7474763, 0.1671767}, {-0.1224291, 0.1151708, -0.9857722}), {-0.3502970, 0.2937132, 0.3525240}, 1.2753684, 0.4857436, 0, 0}};
  for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), first);
}

// A plane patch and a torus (radii 1.295 and 0.273) on turned axes meet in a loop that leaves the
// patch across a side and comes back 0.013 of the side's length further on; the march stepped
// over that stretch, and the curves between the two nodes beside it ran outside the patch, 1.1e-4
// of the size off the torus. Cut there, each arc ends on the side. Whichever surface comes first,
// at sizes 1e-6 and 1e6 moved 1e4 x the size: every sample on both surfaces, every exact point of
// the arcs near a branch.
TEST_F(HardIntersections, ABranchLeavingThePatchBetweenTwoNodesIsCutAtTheSide) {
  CaseSurface s[2] = {
      {false, Axes({-0.9072618, -0.4147445, -0.0697353}, {0.3309438, -0.8063617, 0.4901602}), {-0.1973736, 0.1328675, -0.2198888}, 0, 0, 0, 0},
      {true, Axes({-0.2102595, 0.5518823, 0.8069801}, {0.0730366, 0.8319925, -0.5499583}), {-0.1917602, 0.2345277, -0.1716483}, 1.2946381, 0.2731395, 0, 0}};
  s[0].plane = true;
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)})
    for (int first = 0; first < 2; ++first) ExpectWholeBranchesOnBoth(s, at, first);
}

// A branch that dips beyond a domain end and back between two nodes of the march, both inside:
// a cone (radii 0.799 and 0.610 over heights -1.94..1.70) cut by a plane on turned axes in an
// ellipse that runs out over the plane's edge and back between two nodes 4e-3 of its range
// inside, and the cone of ATraceOverADipAcrossASeamIsDroppedBesideTheLoop with its torus, the
// cone first, whose loop's backward march stepped over the dip across the cone's seam and closed
// the loop past it. The chord stood for the dip, 2e-3 and 1.9e-4 of the size off the surfaces;
// the march ends where the branch leaves the domain. At size 1e6 moved 1e4 x the size, the cone
// first: every sample on both surfaces, every exact point of the branches near one.
TEST_F(HardIntersections, AStepOverADipBeyondADomainEndEndsWhereTheBranchLeaves) {
  CaseSurface pairs[2][2] = {
      {{false, Axes({-0.8865310, -0.3284610, -0.3258467}, {-0.2529765, 0.9338008, -0.2530197}), {-0.1070993, -0.3646734, -0.1081931}, 0.7987051, 0.0, -1.9401, 1.6979},
       {false, Axes({0.4091933, 0.0258225, 0.9120822}, {-0.3289632, 0.9365497, 0.1210696}), {-0.3968931, 0.3705420, 0.1607534}, 0, 0, 0, 0}},
      {{false, Axes({-0.0455451, -0.7516421, -0.6579968}, {-0.8806982, -0.2806670, 0.3815713}), {-0.1948954, -0.1603506, -0.3385155}, 0.5914434, 0.0, -2.0198, 1.5354},
       {true, Axes({-0.4656079, 0.5829935, -0.6658287}, {-0.8303435, -0.5480646, 0.1007713}), {0.0597074, -0.3065194, -0.2424102}, 0.9519557, 0.2856116, 0, 0}}};
  pairs[0][0].cone = true;
  pairs[0][0].R1 = 0.6096636;
  pairs[0][1].plane = true;
  pairs[1][0].cone = true;
  pairs[1][0].R1 = 0.1987485;
  for (const auto& s : pairs) ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 0);
}

// Two tori (radii 0.937 and 0.177, 0.994 and 0.102) on turned axes meet in a loop that turns back
// on itself in the second torus's parameters: a forward step eight nodes on came back between
// the seed and the node after it in those parameters, far from both in space, and the march
// closed the loop there, leaving the rest of the branch out (1.5e-2 of the size). A loop closes
// only beside the chord from its seed. The second torus first, at size 1e-6 moved 1e4 x
// the size: every sample on both surfaces, every exact point of the branches near one.
TEST_F(HardIntersections, AForwardMarchClosesOnlyBesideItsFirstChord) {
  const CaseSurface s[2] = {
      {true, Axes({0.7962786, -0.5259984, 0.2987743}, {-0.0501551, -0.5496039, -0.8339184}), {-0.3450672, 0.3597172, 0.1560113}, 0.9365070, 0.1772545, 0, 0},
      {true, Axes({-0.8607497, 0.2583889, 0.4385717}, {-0.5051615, -0.5396058, -0.6735261}), {-0.1862631, -0.3467638, 0.3598209}, 0.9941558, 0.1017325, 0, 0}};
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 1);
}

// Two tori (radii 1.168 and 0.403, 0.876 and 0.260) on turned axes meet in a branch that turns
// by 115 degrees in the first torus's parameters over about one step: every step from the node
// there ran back against the last chord in those parameters and was refused, and the march
// stopped, leaving 1.8e-2 of the size out. The next step is held against the branch's way at
// the node instead. The first torus first, at size
// 0.01 moved 1e4 x the size: every sample on both surfaces, every exact point of the branches
// near one.
TEST_F(HardIntersections, AMarchGoesOnWhereTheBranchTurnsFastInAParameterPlane) {
  const CaseSurface s[2] = {
      {true, Axes({-0.3502930, 0.4654348, 0.8128132}, {0.7717955, -0.3482471, 0.5320298}), {0.1784234, -0.3120547, 0.2080098}, 1.1684166, 0.4027687, 0, 0},
      {true, Axes({-0.1003195, 0.1110127, 0.9887427}, {-0.9754968, 0.1846007, -0.1197019}), {-0.2479143, 0.1625468, -0.3533178}, 0.8756487, 0.2604289, 0, 0}};
  ExpectWholeBranchesOnBoth(s, Placed(0.01, 1e4), 0);
}

// Two cylinders (radii 0.608 and 0.836) on turned axes meet in a loop that dips across the
// second's seam by 1.7e-3 of its range over 0.03 of the size, then runs on to the first's seam. The
// march from the dip's far end, put on the seam's other side, stepped the way the branch leaves
// the domain, landed past the dip where the branch comes back in, went on over the loop already
// traced and was dropped whole as a duplicate, the stretch between the two seams with it (1.8e-3
// of the size). That way goes nowhere from the seam. The first cylinder first, at size 0.01 moved
// 1e4 x the size: every sample on both surfaces, every exact point of the loop near a branch.
TEST_F(HardIntersections, AMarchFromASeamHeadingOutOfTheDomainGoesNowhere) {
  const CaseSurface s[2] = {
      {false, Axes({-0.0456907, 0.4917972, 0.8695101}, {-0.7682397, 0.5390706, -0.3452689}), {0.1477764, -0.0771303, 0.3875981}, 0.6076047, 0.0, -1.8265, 2.1964},
      {false, Axes({-0.4025446, -0.7462782, 0.5301196}, {0.0060427, 0.5769333, 0.8167689}), {-0.3983921, -0.0272355, 0.0062043}, 0.8357478, 0.0, -1.9489, 2.2305}};
  ExpectWholeBranchesOnBoth(s, Placed(0.01, 1e4), 0);
}

// Cylinders of radii 1 and 1 + d, |d| = 7e-6, on unturned axes, the first's seam at 2 pi 8/25 or
// 2 pi 9/25 of a turn and the second's through the loops' turn at (0, -1, 0): the stretch of a
// loop from the first cylinder's seam through the turn beside (0, 1, 0) is traced from the
// seam's far side in steps short enough about the turn to stay in the seed's box pair until they
// meet marked boxes, beyond the other end of the trace that reached the seam, where that trace
// stopped short of the turn (d > 0), or beside the other loop passing 2 sqrt(2 |d|) away (d < 0).
// The march was taken for a duplicate and dropped: the stretch went missing (6.0e-2 and 8.9e-2 of
// the size off every branch, the branches 16 % and 37 % short). At size 1e3 moved 1e4 x the size:
// every point of the loops within 1e-5 of the size of a branch, every sample on both cylinders,
// no stretch returned twice.
TEST_F(HardIntersections, AStretchFromASeamThroughALoopsTurnIsKept) {
  const double cases[2][2] = {{7e-6, 8}, {-7e-6, 9}};  // d, seam a's angle in 25ths of a turn
  const double eb[3] = {0, -1, 0};
  for (const auto& c : cases) {
    const double ea[3] = {std::cos(2 * M_PI * c[1] / 25), std::sin(2 * M_PI * c[1] / 25), 0};
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], ea, eb, Placed(1e3, 1e4), kUnturned);
    EXPECT_LT(f.off, 1e-6) << c[0];
    EXPECT_LT(f.gap, 1e-5) << c[0];
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << c[0];
  }
}

// The same cylinders, d = -7e-6, on turned axes, the first's seam at 2 pi 20/25 of a turn and the
// second's through the turn at (0, -1, 0): the stretch from the second cylinder's seam, at the
// loops' turn, on to a trace's end on the first's seam is traced from the seam's far side, its
// first steps through the turn a few ten-thousandths of the size long. Lying within a tenth of
// the tracer's reach of the seed, beside the end of the one-chord trace it continues, they had
// the march taken for turning back onto that trace and dropped (3.4e-2 of the size off every
// branch, the branches 6.9 % short). At size 1e3 moved 1e4 x the size: every point of the loops
// within 1e-5 of the size of a branch, every sample on both cylinders, no stretch twice.
TEST_F(HardIntersections, AMarchThroughALoopsTurnFromASeamIsNotTakenForTurningBack) {
  const double ea[3] = {std::cos(1.6 * M_PI), std::sin(1.6 * M_PI), 0}, eb[3] = {0, -1, 0};
  double frame[3][3];
  TurnedFrame(1.9, frame);
  const CylinderPairFit f = FitCylinderPair(1.0 - 7e-6, ea, eb, Placed(1e3, 1e4), frame);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
  EXPECT_LT(std::fabs(f.lengthError), 1e-4);
}

// Plane patches and cones on turned axes whose branches leave both patches near one place. A
// cone (radii 0.363 and 0.167) meets the plane in a loop that leaves the square across a side
// and, beyond a stretch outside the cone, leaves the cone across its end near that side: the
// step toward the cone's end was predicted past the side too, and the side's meeting searched
// from where it met the branch was the loop's other crossing of the side, the forward march's
// end. The loop was closed across the stretch outside the cone, its last chord 4.7e-4 of the size
// off both surfaces and 1.4e-2 of the size of the branch left out. A cone (radii 0.255 and 0.449)
// meets the plane in branches that leave the square near a corner: a step predicted past both
// sides met the branch where it leaves across one, and the meeting with the other found from
// there was where another branch comes back in beyond the corner, 2.7e-2 of the size off both
// surfaces, its stretch returned twice. Each branch ends at the crossing it reaches first.
// Whichever surface comes first, at sizes 1e-6, 0.01 and 1e6 moved 1e4 x the size: every sample
// on both surfaces, every exact point of the branches near one, no stretch twice.
TEST_F(HardIntersections, ABranchLeavingPastTwoEdgesEndsAtTheCrossingItReachesFirst) {
  CaseSurface pairs[2][2] = {
      {{false, Axes({-0.7925333, 0.5880664, -0.1614587}, {-0.0796249, -0.3622819, -0.9286612}), {-0.2860231, 0.0041311, -0.1627267}, 0, 0, 0, 0},
       {false, Axes({-0.3986067, -0.2406364, 0.8849897}, {0.8978868, 0.0942008, 0.4300297}), {0.0668237, 0.0251132, -0.1162808}, 0.3631834, 0.0, -1.6636037, 1.9647537}},
      {{false, Axes({0.4302859, 0.5870761, 0.6857082}, {-0.5028956, 0.7867255, -0.3579931}), {-0.3670456, 0.3252122, 0.3989017}, 0, 0, 0, 0},
       {false, Axes({0.1368176, 0.8322862, -0.5371970}, {-0.3132053, 0.5508221, 0.7736262}), {-0.0417289, 0.3208167, 0.1911833}, 0.2546169, 0.0, -1.5660193, 2.1419931}}};
  const double R1[2] = {0.1667375, 0.4486087};
  for (int c = 0; c < 2; ++c) {
    pairs[c][0].plane = true;
    pairs[c][1].cone = true;
    pairs[c][1].R1 = R1[c];
  }
  for (int first = 0; first < 2; ++first) {
    ExpectWholeBranchesOnBoth(pairs[0], Placed(1e-6, 1e4), first);
    ExpectWholeBranchesOnBoth(pairs[0], Placed(1e6, 1e4), first);
    ExpectWholeBranchesOnBoth(pairs[1], Placed(0.01, 1e4), first);
  }
}

// How the branches of TouchSmallSphere's case c, a sphere of radius r sunk `depth` into its host on
// axes turned by `turn`, give their loop: gap, the largest distance from a branch of an exact
// point of the loop (the small sphere's points bisected to the host's surface along 48 arcs from
// its deepest point to its equator; infinite with no branch), and off, the largest distance of a
// sample from either surface.
struct SunkLoop {
  double gap = 0.0, off = 0.0;
};

SunkLoop MeasureSunkLoop(const SmallTouching& c, int host, double r, double depth, double turn) {
  double frame[3][3];
  TurnedFrame(turn, frame);
  // The host's distance function (the cone's along its normal).
  auto f = [&](const double* p) {
    double x[3];
    for (int j = 0; j < 3; ++j) x[j] = p[0] * frame[j][0] + p[1] * frame[j][1] + p[2] * frame[j][2];
    const double rho = std::hypot(x[0], x[1]);
    if (host == 1) return rho - 1.0;
    if (host == 2 || host == 3) return std::hypot(rho - 1.0, x[2]) - 0.3;
    if (host == 4) return (rho - 1.0 - 0.5 * x[2]) / std::sqrt(1.25);
    return std::hypot(x[0], x[1], x[2]) - 1.0;
  };
  // Round the axis m from C to the deepest point: from there to the small sphere's equator
  // the host's function changes sign once.
  double m[3], b1[3], b2[3];
  for (int q = 0; q < 3; ++q) m[q] = (c.X[q] - c.C[q]) / (r - depth);
  const double h[3] = {0.3, -0.7, 0.2}, hm = h[0] * m[0] + h[1] * m[1] + h[2] * m[2];
  for (int q = 0; q < 3; ++q) b1[q] = h[q] - hm * m[q];
  const double nb = std::hypot(b1[0], b1[1], b1[2]);
  for (double& x : b1) x /= nb;
  b2[0] = m[1] * b1[2] - m[2] * b1[1], b2[1] = m[2] * b1[0] - m[0] * b1[2], b2[2] = m[0] * b1[1] - m[1] * b1[0];
  SunkLoop fit;
  for (int i = 0; i < 48; ++i) {
    const double phi = 2 * M_PI * i / 48;
    auto at = [&](double t, double p[3]) {
      for (int q = 0; q < 3; ++q)
        p[q] = c.C[q] + r * (std::cos(t) * m[q] + std::sin(t) * (std::cos(phi) * b1[q] + std::sin(phi) * b2[q]));
    };
    double lo = 0.0, hi = 0.5 * M_PI, p[3];
    at(lo, p);
    const bool below = f(p) < 0.0;
    for (int it = 0; it < 60; ++it) {
      const double mid = 0.5 * (lo + hi);
      at(mid, p);
      (f(p) < 0.0) == below ? lo = mid : hi = mid;
    }
    at(lo, p);
    fit.gap = std::fmax(fit.gap, c.bs.empty() ? HUGE_VAL : FromBranches(c.bs, p));
  }
  for (const Branch& b : c.bs)
    for (const auto* side : {&b.on1, &b.on2})
      for (const auto& x : *side)
        fit.off = std::fmax(fit.off, std::fmax(std::fabs(f(x.data())),
                                               std::fabs(std::hypot(x[0] - c.C[0], x[1] - c.C[1], x[2] - c.C[2]) - r)));
  return fit;
}

// A sphere of radius 1e-5 or 3e-5 of the host's size sunk 3 point tolerances into a unit sphere
// or across the outer equator (its seam) of a torus of radii 1 and 0.3 meets it in a circle
// about 15 and 26 tolerances across. The refinement from a leaf pair's middles did not reach it
// and the closest pair of points, which lies on it, was only asked for a touching: nothing came
// back. The fit dropped nodes closer than a fixed 2e-5 in a parameter plane, where the whole
// loop spans a few millionths of the host's parameters: it was fitted to one point. Across the
// seam each half, traced from it, lay within 100 tolerances of the other and was dropped as
// lying on it. In both orders, the sphere at size 1 and at 1e-6 moved 1e4 x the size on turned
// axes, the torus at size 1: every exact point of the circle (the small sphere's points bisected to the host's surface)
// within 1e-5 of the size of a branch, every sample on both surfaces.
TEST_F(HardIntersections, ASmallSphereSunkAFewTolerancesGivesItsLoop) {
  const double cases[3][3] = {{0, 1e-5, 0}, {0, 1e-5, 1}, {2, 3e-5, 0}};  // host, radius as a share of its size, placed
  for (const auto& k : cases)
      for (bool swapped : {false, true}) {
        const int host = int(k[0]), placed = int(k[2]);
        const double turn = placed ? 1.9 : 0.0, hostSize = host == 0 ? 2 * std::sqrt(3.0) : std::hypot(2.6, 2.6, 0.6);
        const double r = k[1] * hostSize, depth = 3e-6 * hostSize;
        const SmallTouching c = TouchSmallSphere(host, r, 1, turn, Placed(placed ? 1e-6 : 1.0, placed ? 1e4 : 0.0), swapped, depth);
        const SunkLoop fit = MeasureSunkLoop(c, host, r, depth, turn);
        EXPECT_LT(fit.gap, 1e-5 * c.size) << host << " " << placed << " " << swapped;
        EXPECT_LT(fit.off, 1e-6 * c.size) << host << " " << placed << " " << swapped;
      }
}

// A plane patch and a torus (radii 0.854 and 0.441) on turned axes meet in a loop that crosses
// the torus's seam 0.012 of the side's length inside the patch and leaves it across a side one
// short step on. The march begun on the seam's far side crossed that stretch in one step and
// landed within two chord heights of the end it continues, in a pair of boxes that end had
// marked, and was dropped as a duplicate: 3.3e-3 of the size left out (1.1e-2 the torus first).
// A first step from a seam that lands beyond the far side's end, beside no chord, is no
// duplicate. Whichever surface comes first, at sizes 1e-6 and 1e6 moved 1e4 x the size: every
// sample on both surfaces, every exact point of the loop near a branch.
TEST_F(HardIntersections, AStretchFromASeamToASideCrossedInOneStepIsKept) {
  CaseSurface s[2] = {
      {false, Axes({-0.3615531, -0.9247126, 0.1191046}, {-0.9095490, 0.3779006, 0.1729501}), {0.1693312, 0.0053617, -0.3053753}, 0, 0, 0, 0},
      {true, Axes({0.8146569, 0.4553778, -0.3591173}, {0.1394443, 0.4472548, 0.8834695}), {-0.0706640, 0.3374454, 0.0292247}, 0.8539666, 0.4409950, 0, 0}};
  s[0].plane = true;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 1);
}

// Branches that cross both seams of a torus near its corner: a sphere (radius 0.983) and a torus
// (radii 1.037 and 0.686), and two tori (radii 1.389 and 0.774, 0.992 and 0.899), on turned axes.
// The stretch between the two seams is shorter than a step: the march begun on one seam's far side
// landed within two chord heights of the end of the trace that had reached the other seam from
// its far side, in boxes that trace had marked, and was dropped as a duplicate, though its point
// lay beyond that end on no chord: 1.5e-2 of the size left out (1.4e-2 the torus first), 5.9e-3
// for the tori. A point whose nearest point on each trace near it is that trace's end on a seam
// is no duplicate. The torus first with the sphere, the first torus first, at sizes 1e-6 and 1e6
// moved 1e4 x the size: every sample on both surfaces, every exact point of the branches near a
// branch.
TEST_F(HardIntersections, AStretchBetweenTwoSeamsShorterThanAStepIsKept) {
  const CaseSurface sphereTorus[2] = {
      {false, Axes({-0.2145642, -0.4762048, 0.8527551}, {0.7299138, -0.6583170, -0.1839688}), {-0.1559938, -0.2795073, -0.1392184}, 0.9825510, 0.0, 0, 0},
      {true, Axes({0.4155916, -0.6535028, 0.6326277}, {-0.3540382, -0.7569118, -0.5493099}), {0.2360886, 0.2754979, 0.1967370}, 1.0370706, 0.6861461, 0, 0}};
  const CaseSurface tori[2] = {
      {true, Axes({-0.7969018, 0.0781043, 0.5990386}, {-0.3037936, 0.8052906, -0.5091330}), {0.1822442, 0.1273747, 0.3808843}, 1.3886690, 0.7739252, 0, 0},
      {true, Axes({0.6939319, -0.0089799, 0.7199847}, {-0.5607059, -0.6340693, 0.5325083}), {0.0102999, 0.3829394, 0.2124596}, 0.9915493, 0.8989447, 0, 0}};
  ExpectWholeBranchesOnBoth(sphereTorus, Placed(1e-6, 1e4), 1);
  ExpectWholeBranchesOnBoth(sphereTorus, Placed(1e6, 1e4), 1);
  ExpectWholeBranchesOnBoth(tori, Placed(1e6, 1e4), 0);
}

// A sphere of radius 3.5e-3 sunk 2.8e-5 (8 point tolerances) into a sphere, a cylinder, a cone or
// across a torus's outer equator (its seam) meets it in a circle about 250 tolerances across,
// where the surfaces cross at a sine of 0.13. From the leaf pairs' middles the refinement wanders
// off; the alternate feet toward the closest pair of points take only about the squared sine off
// the gap a round, so they stopped some 100 tolerances from the circle, and the seed was given up
// for not meeting both surfaces there; where the refinement from such a pair went on onto the
// circle, it landed in a neighbouring pair's patches and was given up again: nothing came back
// (on the torus only the arc on one side of the seam, 1.7e-4 of the size left out). In one order
// or the other, at size 1, and at 1e-6 and 1e6 moved 1e4 x the size on turned axes: every exact
// point of the circle within 1e-5 of the size of a branch, every sample on both surfaces.
TEST_F(HardIntersections, ALoopBesideTheClosestPairOfASunkSphereIsSeededFromThere) {
  struct {
    int host, placed;
    bool swapped;
  } const cases[] = {{0, 0, false}, {1, 1, false}, {4, 2, true}, {2, 0, false}};
  const double r = 3.5e-3, depth = 2.8e-5;
  for (const auto& k : cases) {
    const double turn = k.placed ? 1.9 : 0.0;
    const Place at = k.placed == 0 ? Placed(1.0, 0.0) : Placed(k.placed == 1 ? 1e-6 : 1e6, 1e4);
    const SmallTouching c = TouchSmallSphere(k.host, r, 1, turn, at, k.swapped, depth);
    const SunkLoop fit = MeasureSunkLoop(c, k.host, r, depth, turn);
    EXPECT_LT(fit.gap, 1e-5 * c.size) << k.host << " " << k.placed;
    EXPECT_LT(fit.off, 1e-6 * c.size) << k.host << " " << k.placed;
  }
}

// A sphere of radius 5e-6 touching a unit sphere on its pole, or of 2e-5 touching a torus's tube
// (radii 1 and 0.3) at its outer or inner equator, 1e4 x the size from the origin: the small
// sphere's normals, from control points rounded to 1e-16 of their distance from the origin, are
// known only to a sine of about 5e-7 (1e-7 for the larger), and the search for the touching
// stalled at sines of 2e-7 .. 3.5e-6, short of a fixed 1e-7: a stub 1.3e-6 .. 1.9e-6 of the size
// came back instead of the point. The normals count as parallel to the coordinates' precision.
// At sizes 1e-6, 0.01 and 1e6 on turned axes, in one order or the other: one branch, every sample
// within 1e-6 of the size of the touching point.
TEST_F(HardIntersections, ATouchingFarFromTheOriginIsLocatedToTheCoordinatesPrecision) {
  struct {
    int host, side;
    double r, turn, scale;
    bool swapped;
  } const cases[] = {{5, 1, 5e-6, 2.6, 1e6, false},
                     {5, 1, 5e-6, 2.6, 1e-6, true},
                     {2, 1, 2e-5, 4.55, 0.01, false},
                     {3, -1, 2e-5, 1.25, 1e6, false}};
  for (const auto& k : cases) {
    const SmallTouching c = TouchSmallSphere(k.host, k.r, k.side, k.turn, Placed(k.scale, 1e4), k.swapped);
    ASSERT_EQ(c.bs.size(), 1u) << k.host << " " << k.scale;
    EXPECT_LT(FarthestFrom(c.bs, c.X), 1e-6 * c.size) << k.host << " " << k.scale;
  }
}

namespace {
// The branches give the circle of radius rho at height z about the frame's third axis whole and
// once, on both surfaces whose exact distances in frame coordinates `off` gives the worst of:
// every sample within 1e-6 of the size of both, every point of the circle near a branch, the
// branches' lengths adding up to the circle's (no stretch returned twice), their ends meeting.
void ExpectCircleOnceInFrame(const std::vector<Branch>& bs, const double frame[3][3], double size, double rho,
                             double z, const std::function<double(double, double, double)>& off,
                             const std::string& label) {
  double length = 0.0, gap = 0.0;
  for (const Branch& br : bs) length += Length(br);
  for (int i = 0; i < 720; ++i) {
    const double t = 2 * M_PI * i / 720, P[3] = {rho * std::cos(t), rho * std::sin(t), z};
    gap = std::fmax(gap, FromBranchesInFrame(bs, frame, P));
  }
  EXPECT_LT(WorstInFrame(bs, frame, off), 1e-6 * size) << label;
  EXPECT_LT(gap, 1e-5 * size) << label;
  EXPECT_NEAR(length, 2 * M_PI * rho, 1e-3 * 2 * M_PI * rho) << label;
  EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << label;
}

// Tori of radii 1 and r on axes turned by frameTurn, the second 2r above the first and turned by
// seamTurn about the axis, touch along the circle of radius 1 at height r, their seams meeting it
// seamTurn apart; at size `scale` moved 1e4 x the size, the second torus first or not: the circle
// once and whole (ExpectCircleOnceInFrame).
void ExpectTouchingToriWhole(double r, double seamTurn, double scale, double frameTurn, bool upperFirst) {
  double frame[3][3];
  TurnedFrame(frameTurn, frame);
  const Place at = Placed(scale, 1e4);
  Place lifted = at;
  double e[3];
  for (int q = 0; q < 3; ++q) {
    lifted.shift[q] += at.scale * 2 * r * frame[2][q];
    e[q] = std::cos(seamTurn) * frame[0][q] + std::sin(seamTurn) * frame[1][q];
  }
  BsplineKeeper keep;
  Bspline* lower = keep(shapes::Torus(frame[2], frame[0], 1.0, r, at));
  Bspline* upper = keep(shapes::Torus(frame[2], e, 1.0, r, lifted));
  const double size = shapes::PairSize(lower, upper) / scale;
  const std::vector<Branch> bs = upperFirst ? Intersect(upper, lower, at, 1000) : Intersect(lower, upper, at, 1000);
  const auto off = [&](double x, double y, double z) {
    const double rho = std::hypot(x, y) - 1.0;
    return std::fmax(std::fabs(std::hypot(rho, z) - r), std::fabs(std::hypot(rho, z - 2 * r) - r));
  };
  ExpectCircleOnceInFrame(bs, frame, size, 1.0, r, off,
                          std::to_string(r) + " " + std::to_string(seamTurn) + " " + std::to_string(scale));
}

// The torus of radii 1 and 0.3 about the third axis of the frame turned by frameTurn, its seam
// seamTurn round it, and about its centre a sphere of radius rho or a coaxial cylinder of radius
// rho and height 1: they touch along the torus's outer equator (rho 1.3), its v seam, or its
// inner one (rho 0.7). The sphere's axis lies th from the frame's third axis toward its first, its
// seam the world x axis (y where the axis is near x) made normal to the axis and turned s2 about
// it; the cylinder's seam lies s2 round the frame's third axis. At size `scale` (moved 1e4 x the
// size unless 1), the other surface first or not: the circle once and whole
// (ExpectCircleOnceInFrame).
struct TorusContact {
  bool cylinder;
  double rho, frameTurn, seamTurn, th, s2, scale;
  bool otherFirst;
};
void ExpectTorusContactWhole(const TorusContact& c) {
  double F[3][3], e1[3], a[3], x[3], e[3];
  TurnedFrame(c.frameTurn, F);
  for (int q = 0; q < 3; ++q) {
    e1[q] = std::cos(c.seamTurn) * F[0][q] + std::sin(c.seamTurn) * F[1][q];
    a[q] = std::sin(c.th) * F[0][q] + std::cos(c.th) * F[2][q];
    x[q] = std::fabs(a[0]) < 0.9 ? (q == 0) : (q == 1);
  }
  const double d = a[0] * x[0] + a[1] * x[1] + a[2] * x[2];
  for (int q = 0; q < 3; ++q) x[q] -= d * a[q];
  const double n = std::hypot(x[0], x[1], x[2]);
  const double f[3] = {a[1] * x[2] - a[2] * x[1], a[2] * x[0] - a[0] * x[2], a[0] * x[1] - a[1] * x[0]};
  for (int q = 0; q < 3; ++q)
    e[q] = c.cylinder ? std::cos(c.s2) * F[0][q] + std::sin(c.s2) * F[1][q]
                      : std::cos(c.s2) * x[q] / n + std::sin(c.s2) * f[q] / n;
  const Place at = Placed(c.scale, c.scale == 1.0 ? 0.0 : 1e4);
  BsplineKeeper keep;
  Bspline* torus = keep(shapes::Torus(F[2], e1, 1.0, 0.3, at));
  Bspline* other = keep(c.cylinder ? shapes::Cylinder(F[2], e, c.rho, -0.5, 0.5, at) : shapes::Sphere(a, e, c.rho, at));
  const double size = shapes::PairSize(torus, other) / c.scale;
  const std::vector<Branch> bs = c.otherFirst ? Intersect(other, torus, at, 1000) : Intersect(torus, other, at, 1000);
  const auto off = [&](double x, double y, double z) {
    const double toOther = c.cylinder ? std::hypot(x, y) - c.rho : std::hypot(x, y, z) - c.rho;
    return std::fmax(std::fabs(std::hypot(std::hypot(x, y) - 1.0, z) - 0.3), std::fabs(toOther));
  };
  ExpectCircleOnceInFrame(bs, F, size, c.rho, 0.0, off, std::to_string(c.rho) + " " + std::to_string(c.scale));
}
}  // namespace

// A sphere about a torus's axis touching its outer equator: a plain march from a seed beside the
// contact halved a step across five box lines, and the half, refined onto no point of both
// surfaces, was kept: a branch 2.6 x the circle long whose curves ran 0.72 of the size apart.
TEST_F(HardIntersections, AHalvedStepOffBothSurfacesEndsTheMarch) {
  ExpectTorusContactWhole({false, 1.3, 1.7737927294850369, 4.2775559407169466, 0.0, 1.9468198178228753, 1.0, false});
}

// A sphere with its poles on a torus's outer equator, the torus's v seam: the contact's march
// read the chords' bow toward the normal as a move across the seam, stopped on it after every step
// and went on from its far side; pieces ran over each other (4 % more than the circle). And a
// coaxial cylinder there, where the pieces ran out before the circle did. At sizes 1e-6 and 1e6.
TEST_F(HardIntersections, AContactAlongASeamIsMarchedAlongIt) {
  for (double scale : {1e-6, 1e6}) {
    ExpectTorusContactWhole({false, 1.3, 4.2277396082498164, 0.25869965581471099, M_PI / 2, 5.2877662628633608, scale,
                             false});
    ExpectTorusContactWhole({true, 1.3, 2.465415184786107, 3.4875032112286304, 0.0, 5.690869037224366, scale, false});
  }
}

// A sphere with its poles on a torus's outer equator: the contact traced from a seed ran to a
// pole one way and to the torus's u seam the other; the stretch beyond that seam, up to the
// other pole, went untraced (1.2e-2 of the size). At sizes 1e-6 and 1e6, the sphere first.
TEST_F(HardIntersections, AContactFromAPoleToASeamGoesOnBeyondTheSeam) {
  for (double scale : {1e-6, 1e6})
    ExpectTorusContactWhole({false, 1.3, 4.2351286669401365, 0.12453486219448083, M_PI / 2, 5.0049722338118334, scale,
                             true});
}

// A sphere with its poles on a torus's inner equator: the contact's piece from the torus's seam
// to a pole, one chord, has its nodes on the ends of the other pieces (on the seam and the pole)
// and was dropped twice as lying on them; 0.23 radians were lost (1.4e-2 of the size).
TEST_F(HardIntersections, AContactPieceFromASeamToAPoleIsKept) {
  ExpectTorusContactWhole(
      {false, 0.7, 1.0975516112209296, 2.908451153246554, M_PI / 2, 0.61930024826147034, 1e6, false});
}

// Touching tori whose seams meet the contact 0.3 apart, less than a step: the contact traced
// from one seam to the other in one chord had both its nodes on the ends of the trace beyond the
// seams and was dropped as lying on it. The stretch between the seams was lost (3.1e-2 of the
// size), or continued from its far side by a plain march in two branches, one stretch traced twice.
// Radii 0.3 and 0.1, at sizes 1e-6 to 1e6, on turned axes, either torus first.
TEST_F(HardIntersections, TouchingToriKeepTheStretchBetweenSeamsCloseTogether) {
  ExpectTouchingToriWhole(0.3, 0.3, 1e-6, 0.0, false);
  ExpectTouchingToriWhole(0.3, 0.3, 0.01, 0.9, false);
  ExpectTouchingToriWhole(0.3, 0.3, 0.05, 0.9, true);
  ExpectTouchingToriWhole(0.1, 0.3, 1e6, 0.9, true);
}

// Touching tori whose seams meet the contact 0.01 to 0.2 apart: the contact's march landed short
// of the first seam within three quarters of a step of its seed beyond the second, and closed on
// it across both seams. The branch's curves swept once more round the circle or twice (1.9 to
// 2.95 of its length), 2.9e-2 of the size left out. At sizes 1e-6 and 1e6, on turned axes.
TEST_F(HardIntersections, AContactMarchDoesNotCloseOnItsSeedAcrossSeams) {
  ExpectTouchingToriWhole(0.3, 0.2, 1e-6, 0.0, false);
  ExpectTouchingToriWhole(0.3, 0.05, 1e6, 0.0, false);
  ExpectTouchingToriWhole(0.3, 0.01, 1e6, 0.9, false);
}

// Cylinders of radii 1 and 1 + d, |d| = 7e-6, on unturned axes, the first's seam at 2 pi 5/25,
// 8/25 or 20/25 of a turn and the second's through a loops' turn: the loops run nearly straight
// up to vertices a few thousandths across beside (0, +-1, 0). A step toward the first's seam,
// predicted past it, met its loop short of the turn, and the loop's meeting with the seam found
// from there lay beyond the turn or on the other loop: the step ended there, cutting the turn
// off (1.5e-2 .. 2.0e-2 of the size off every branch; the branches 3.2 % and 7.2 % short, or,
// on the other loop, 4.6 % long). A step ends on the seam only where the branch runs on to it.
// At size 1e3 moved 1e4 x the size: every point of the loops within 1e-5 of the size of a
// branch, every sample on both cylinders, no stretch twice.
TEST_F(HardIntersections, AStepEndsOnASeamOnlyWhereTheBranchRunsOnToIt) {
  const double cases[3][3] = {{7e-6, 5, 1}, {-7e-6, 8, -1}, {-7e-6, 20, 1}};  // d, seam a's angle in 25ths, seam b's y
  for (const auto& c : cases) {
    const double ea[3] = {std::cos(2 * M_PI * c[1] / 25), std::sin(2 * M_PI * c[1] / 25), 0}, eb[3] = {0, c[2], 0};
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], ea, eb, Placed(1e3, 1e4), kUnturned);
    EXPECT_LT(f.off, 1e-6) << c[0] << " " << c[1];
    EXPECT_LT(f.gap, 1e-5) << c[0] << " " << c[1];
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << c[0] << " " << c[1];
  }
}

// The same cylinders, d = 1e-5 on unturned axes and 7e-6 on turned ones, the first's seam at
// 2 pi 17/25 of a turn and the second's through the turn at (0, -1, 0): a march from a seed on a
// loop's arm reaches the vertex in one step and rounds it in short ones, which lie beside the
// first chord's end and between its nodes in the parameters, running off across it. The march
// was closed there, and the stretch out to the turn came back as a loop of its own (the branches
// 3.7 % and 2.9 % long). So too a backward march from a seam whose forward march went nowhere
// (d = -3e-5 on turned axes, the first's seam at 2 pi 7/25): it rounded the turn and was closed
// on its seed, the stretch beyond the turn lost (1.9e-2 of the size off every branch). A march
// closes only arriving the way it left: every point of the loops within 1e-5 of the size of a
// branch, every sample on both cylinders, no stretch twice.
TEST_F(HardIntersections, AMarchRoundingALoopsTurnIsNotClosedBesideItsFirstChord) {
  const double cases[3][3] = {{1e-5, 17, 0.0}, {7e-6, 17, 1.9}, {-3e-5, 7, 1.9}};  // d, seam a's angle in 25ths, turn
  const double eb[3] = {0, -1, 0};
  for (const auto& c : cases) {
    const double ea[3] = {std::cos(2 * M_PI * c[1] / 25), std::sin(2 * M_PI * c[1] / 25), 0};
    double frame[3][3];
    TurnedFrame(c[2], frame);
    const CylinderPairFit f = FitCylinderPair(1.0 + c[0], ea, eb, Placed(1e3, 1e4), frame);
    EXPECT_LT(f.off, 1e-6) << c[0];
    EXPECT_LT(f.gap, 1e-5) << c[0];
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << c[0];
  }
}

// Cylinders of radii 1 and 1 - 7e-6 on unturned axes, the first's seam at 2 pi 6/25 or 7/25 of a
// turn, across a loop's arms just beside its turn at (0, 1, 0), and the second's through the
// turns at (0, -1, 0): the stretch of the loop about that turn, a few hundredths long, is traced
// from the seam's far side and passes 2 sqrt(2 d) from the other loop's turn, in boxes that loop
// marked. Every chord of the other loop's arms lies within the tracer's reach there, and so does
// the end the march continues: the march was taken for a duplicate, or for coming along its own
// trace, and dropped (9.3e-3 and 2.7e-2 of the size off every branch, the branches 3.7 % and 11 %
// short). At size 1e3 moved 1e4 x the size: every point of the loops within 1e-5 of the size of a
// branch, every sample on both cylinders, no stretch twice.
TEST_F(HardIntersections, AStretchFromASeamPastTheOtherLoopsTurnIsKept) {
  const double eb[3] = {0, -1, 0};
  for (int k : {6, 7}) {
    const double ea[3] = {std::cos(2 * M_PI * k / 25), std::sin(2 * M_PI * k / 25), 0};
    const CylinderPairFit f = FitCylinderPair(1.0 - 7e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
    EXPECT_LT(f.off, 1e-6) << k;
    EXPECT_LT(f.gap, 1e-5) << k;
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << k;
  }
}

// Cylinders of radii 1 and 1 - 2e-6 on unturned axes, the first's seam at 2 pi 3/25 of a turn and
// the second's through the loops' turn at (0, 1, 0): an arc ends on that seam at the vertex of a
// loop, refined only to the tracer's tolerance, so loosely across the branch (the normals' sine
// 2e-3 there) that the fit measured the interval from it across the turn by the bare gap between
// the surfaces, and held the curve that cut the turn (1.7e-5 of the size off every branch). At size
// 1e3 moved 1e4 x the size: every point of the loops within 1e-5 of the size of a branch, every
// sample on both cylinders.
TEST_F(HardIntersections, AnArcEndingLooselyAtALoopsTurnIsFittedRoundIt) {
  const double ea[3] = {std::cos(2 * M_PI * 3 / 25), std::sin(2 * M_PI * 3 / 25), 0}, eb[3] = {0, 1, 0};
  const CylinderPairFit f = FitCylinderPair(1.0 - 2e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// The same cylinders, d = -4.69e-6 (the miss as large as the point tolerance), the first's seam at
// 2 pi / 25 and the second's through the turn at (0, -1, 0): an arc runs into the point where the
// loops pass close, and the vertex of its loop beside it lies on that seam. The search for the
// vertex, clamped to the domain, ended a round-off beyond the seam with the surfaces 1.1e-4 of the
// tolerance apart and no node was made there (a loop's turn 1.4e-5 of the size off every branch).
// Every point of the loops within 1e-5 of the size of a branch, every sample on both cylinders.
TEST_F(HardIntersections, ALoopsVertexOnASeamIsANodeOfTheArcPassingIt) {
  const double ea[3] = {std::cos(2 * M_PI / 25), std::sin(2 * M_PI / 25), 0}, eb[3] = {0, -1, 0};
  const CylinderPairFit f = FitCylinderPair(1.0 - 4.69e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// The same cylinders, d = -4.69e-6, the first's seam at 1.52 pi and the second's through the turn
// at (0, 1, 0): a step lands on the first's seam across the point where the loops pass close, and
// the search for the point from there comes within 1.04 times the tolerance of it with the normals
// 4.7e-6 from parallel, where the gap's saddle sent every Gauss-Newton step far along it: the
// search stalled, the step was kept across the point (a loop's turn 6.1e-5 of the size off every
// branch). Every point of the loops within 1e-5 of the size of a branch, every sample on both.
TEST_F(HardIntersections, TheSearchForANearCrossingPassesTheGapsSaddle) {
  const double ea[3] = {std::cos(1.52 * M_PI), std::sin(1.52 * M_PI), 0}, eb[3] = {0, 1, 0};
  const CylinderPairFit f = FitCylinderPair(1.0 - 4.69e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_LT(f.gap, 1e-5);
}

// Cylinders of radii 1 and 1 + 2e-6 on unturned axes, the second's seam through (0, 1, 0), where
// the loops round the first pass close: they never cross that seam, but a step lands on it in the
// band where the surfaces meet within the tolerance, and the point where the loops pass close,
// on the seam itself, is searched for from there. Clamped onto the seam, and sent along the gap's
// saddle, the search stalled 2e-5 of the size short of it, and the step's end was kept off both
// loops (a turn 2.0e-5 of the size off every branch). With the first's seam at 2 pi 2/25 and
// 2 pi 18/25 of a turn, at size 1e3 moved 1e4 x the size: every point of the loops within 1e-5 of
// the size of a branch, every sample on both cylinders.
TEST_F(HardIntersections, TheSearchForANearCrossingOnASeamReachesIt) {
  const double eb[3] = {0, 1, 0};
  for (int a : {2, 18}) {
    const double ea[3] = {std::cos(2 * M_PI * a / 25), std::sin(2 * M_PI * a / 25), 0};
    const CylinderPairFit f = FitCylinderPair(1.0 + 2e-6, ea, eb, Placed(1e3, 1e4), kUnturned);
    EXPECT_LT(f.off, 1e-6) << a;
    EXPECT_LT(f.gap, 1e-5) << a;
  }
}

// A sphere of radius 1e-4 of the host's size sunk 8 point tolerances into a torus of radii 1 and
// 0.3, from inside its tube at the outer equator (the torus's seam) or from its hole at the inner
// equator, meets it in a circle about 80 tolerances across that crosses the small sphere's seam
// twice and passes within a round-off of its pole. The half traced from the seed ends on the seam
// at both crossings, and the march from the seam's far side was never begun (the half's own nodes
// lay within 100 tolerances of its end), or dropped as running along that half (every chord of it
// within two chord heights); leaving the pole in steps lengthening threefold, the half itself was
// ended as circling. 5.5e-5 to 7.6e-5 of the size of the circle left out. The host first, at size
// 1: every exact point of the circle within 1e-5 of the size of a branch, every sample on both
// surfaces.
TEST_F(HardIntersections, ASmallLoopAcrossASeamTwiceIsContinuedOverItsOtherHalf) {
  const double hostSize = std::hypot(2.6, 2.6, 0.6), r = 1e-4 * hostSize, depth = 8e-6 * hostSize;
  for (const int host : {2, 3}) {
    const SmallTouching c = TouchSmallSphere(host, r, host == 2 ? -1 : 1, 0.0, Placed(1.0, 0.0), false, depth);
    const SunkLoop fit = MeasureSunkLoop(c, host, r, depth, 0.0);
    EXPECT_LT(fit.gap, 1e-5 * c.size) << host;
    EXPECT_LT(fit.off, 1e-6 * c.size) << host;
  }
}

// A sphere 1.78e-5 or 1.9e-5 larger than the unit cylinder it sits in (poles across the axis), on
// turned axes: the circles lie 0.012 apart and the surfaces cross them at a sine of 0.006, so a
// point within e of both surfaces may lie e / 0.006 off the circle. A node the trace left within
// the tolerance of both, but farther across the circle than the weighted measure of the intervals
// asks, was not pulled on: the intervals beside it were measured by the bare distance from the
// surfaces, and the curves slid 1.1e-5..1.6e-5 of the size off the circle beside the cylinder's
// seam. At sizes 1e-6 and 1e6 moved 1e4 x the size, either surface first: both circles, every
// sample on both surfaces, every point of the circles near a branch, each circle's length once.
TEST_F(HardIntersections, ANodeLooseAcrossAShallowCrossingIsPulledOn) {
  const double cases[2][3] = {{1.0000178, 1e-6, 0.7}, {1.000019, 1e6, 0.2}};  // radius, scale, turn
  for (int k = 0; k < 2; ++k) {
    const double h = std::sqrt(cases[k][0] * cases[k][0] - 1.0);
    ExpectSphereInCylinderCircles(cases[k][0], cases[k][2], cases[k][1], k == 0, {h, -h});
  }
}

// A sphere 2e-6 or 2.1e-6 larger than the unit cylinder it sits in (poles across the axis), on
// turned axes, the cylinder first: the circles lie closer than the tolerance tells apart, and the
// band's middle circle, through the sphere's poles, is traced as a contact. The surfaces miss
// there, so the contact is located only within the tolerance: the cylinder's point of the
// branch's end on a pole lay 2.3e-6 up the band, and the cubic through it and the nodes before
// bowed 2.6e-4 along the cylinder's axis, 4.3e-5 of the size, with the sphere's curve on the
// circle; the fit measured only the distance from the other surface, which the band keeps within
// the tolerance. At sizes 1e-6 and 1e6 moved 1e4 x the size: the middle circle once, every sample
// on both surfaces, every point of it near a branch.
TEST_F(HardIntersections, ACurveSlidingAcrossANearMissIsCutOnTheContact) {
  const double cases[2][3] = {{1.000002, 1e-6, 0.7}, {1.0000021, 1e6, 1.2}};  // radius, scale, turn
  for (const auto& c : cases) ExpectSphereInCylinderCircles(c[0], c[2], c[1], false, {0.0});
}

// A sphere 7.2e-6 larger than the unit cylinder it sits in (poles across the axis), on axes turned
// by 0.3, the cylinder first: the circles lie 0.0076 apart, closer than a chord of the march bows
// off them. A trace of one circle whose last node the march landed on the other beside the
// sphere's pole was kept: its seed's nearest chord was the other circle's, passing it by the
// band's width, while its own circle's chords bowed farther, so the seed lay on no branch, and
// half a circle came twice (1.26 circles' length, samples 1.3e-6 of the size off). At size 1e6
// moved 1e4 x the size: both circles once, every sample on both surfaces, every point near a branch.
TEST_F(HardIntersections, ATraceBesideANeighbourCircleIsFoundOnItsOwn) {
  const double R = 1.0000072, h = std::sqrt(R * R - 1.0);
  ExpectSphereInCylinderCircles(R, 0.3, 1e6, false, {h, -h});
}

// A thin cone (radii 0.187 to 0.132) through a torus's tube of nearly its width (radii 1.034 and
// 0.168) on turned axes: where the surfaces come close to touching, two arcs of the loop pass
// within a third of a chord height of each other, facing like a hyperbola's two arms about their
// vertices. Away from the vertices the arms turn toward their asymptotes, their tangents 100 to
// 160 degrees apart, short of turned against each other; every seed of the second arc took its
// first step beside the first arc's chords and was dropped as lying on it: 2.4e-2 of the size
// left out. A point whose tangent makes an obtuse angle with the nearby node's lies on the other
// arm. The torus first, at sizes 1e-6 and 1e6 moved 1e4 x the size: every sample on both
// surfaces, every exact point of the loop near a branch (2000 samples a branch: about the first
// arc's vertex its points run fast in its parameter).
TEST_F(HardIntersections, AnArcFacingATracedOneAcrossANearTouchingIsTraced) {
  CaseSurface s[2] = {
      {false, Axes({0.3379630, -0.6284325, 0.7006094}, {0.7886413, -0.2171686, -0.5752241}), {0.2545501, -0.1944114, 0.0593806}, 0.1871318, 0.0, -1.9541, 2.3005},
      {true, Axes({-0.6512269, 0.6805725, 0.3357449}, {0.2184649, -0.2555636, 0.9417857}), {0.0667335, 0.0357383, 0.3611707}, 1.0340577, 0.1679917, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.1315730;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 1, 2000);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 1, 2000);
}

// The same cone and torus, the cone first: a seed of the facing arc lies just short of the arm's
// vertex, its first step lands on it, and the steps about it turn back in the torus's parameters
// between the seed and that first node while still beside their chord: the march closed there
// as a loop of five nodes, 1.8e-2 of the size left out. A loop closes only when the march comes
// back toward its seed, nearer to it than a node it reached before. At sizes 0.01 and 1e6 moved
// 1e4 x the size: every sample on both surfaces, every exact point of the loop near a branch.
TEST_F(HardIntersections, AMarchTurningAboutAVertexBesideItsSeedDoesNotCloseThere) {
  CaseSurface s[2] = {
      {false, Axes({0.3379630, -0.6284325, 0.7006094}, {0.7886413, -0.2171686, -0.5752241}), {0.2545501, -0.1944114, 0.0593806}, 0.1871318, 0.0, -1.9541, 2.3005},
      {true, Axes({-0.6512269, 0.6805725, 0.3357449}, {0.2184649, -0.2555636, 0.9417857}), {0.0667335, 0.0357383, 0.3611707}, 1.0340577, 0.1679917, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.1315730;
  ExpectWholeBranchesOnBoth(s, Placed(0.01, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 0);
}

// A cone (radii 0.330 to 0.848) and a torus (radii 0.888 and 0.292) on turned axes meet, besides
// two larger loops, in a small one that crosses the cone's seam twice, its crossings 0.009 of the
// size apart. Traced from either side of the seam, the backward march arrived on the seam within
// a step of the forward end, which lies on the same seam, and closed the loop with a chord along
// the seam over the stretch beyond it: samples 2e-4 of the size off the surfaces, 1.9e-3 of the
// loop left out. A march arriving on a seam it leaves across there does not close onto another
// point of that seam. The torus first, at sizes 1e-6 and 1 moved 1e4 x the size: every sample on
// both surfaces, every exact point of the loops near a branch.
TEST_F(HardIntersections, ALoopCrossingASeamTwiceWithinAStepIsNotClosedAlongIt) {
  CaseSurface s[2] = {
      {false, Axes({-0.2624749, -0.9643453, -0.0338398}, {-0.7322557, 0.2218987, -0.6438654}), {-0.0067371, 0.1888854, 0.1047549}, 0.3301733, 0.0, -1.6534, 2.1677},
      {true, Axes({-0.3625187, -0.9178915, 0.1614165}, {0.5738247, -0.3563078, -0.7374076}), {-0.0380791, 0.0481690, 0.0707783}, 0.8883605, 0.2917840, 0, 0}};
  s[0].cone = true;
  s[0].R1 = 0.8484610;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 1);
  ExpectWholeBranchesOnBoth(s, Placed(1.0, 1e4), 1);
}

// A plane patch and a torus (radii 0.949 and 0.448) on turned axes meet in a loop that leaves the
// patch across a side twice, 0.019 of the size apart, one crossing a short step from the torus's
// seam. The march from the seam's far side reached the side in one step and landed within two
// chord heights of the other trace's end on that side, nearest to that end node itself, and was
// dropped as a duplicate: 1.1e-2 of the size left out. A landing on a side beyond another trace's
// end on the same side is no duplicate. Whichever surface comes first, at sizes 1e-6 and 1e6
// moved 1e4 x the size: every sample on both surfaces, every exact point of the loop near a
// branch.
TEST_F(HardIntersections, AStretchFromASeamToASideBesideAnotherCrossingOfItIsKept) {
  CaseSurface s[2] = {
      {false, Axes({0.3622922, 0.9003664, 0.2410076}, {0.0818092, -0.2882937, 0.9540409}), {0.2907026, -0.3912343, 0.0988760}, 0, 0, 0, 0},
      {true, Axes({0.4587746, -0.5091465, -0.7282141}, {-0.3365447, 0.6589237, -0.6727237}), {-0.1348971, -0.3857177, -0.1145805}, 0.9494524, 0.4484170, 0, 0}};
  s[0].plane = true;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 1);
}

// Two tori (radii 1.076 and 0.496, 0.999 and 0.160) on turned axes meet in loops, one of which a
// seed's first forward step follows to a seam of the second torus in one step, over a stretch
// where the loop turns back in the first torus's v: the backward step to a seam of the first runs
// that parameter the same way as the forward chord, and measured against that chord it was refused
// as turning back. The trace ended at its seed, and another seeded behind it ran on past that
// seed: a stretch 0.09 long (the tori about 1 across their centre circles) returned twice, a fifth
// of a branch. The way back is taken from the branch's tangent at the seed. With the second torus
// first, which met it, and the first, at size 1e6 moved 1e4 x the size: every sample on both tori,
// every exact point of the loops near a branch, no stretch twice.
TEST_F(HardIntersections, ATraceWhoseFirstStepTurnsInAParameterMarchesBackFromItsSeed) {
  const CaseSurface s[2] = {
      {true, Axes({-0.2665529, 0.8122278, 0.5188791}, {-0.9262961, -0.3646390, 0.0949413}), {-0.1680941, 0.0642574, 0.2428805}, 1.0760168, 0.4963094, 0, 0},
      {true, Axes({-0.2606424, -0.4847667, -0.8349053}, {-0.6877942, -0.5136377, 0.5129477}), {0.2750048, -0.1414401, 0.1850268}, 0.9993465, 0.1602771, 0, 0}};
  for (int first : {1, 0}) ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), first);
}

// A plane patch and a torus (radii 1.223 and 0.586) on turned axes meet in a loop that dips out
// over a side of the patch by 6e-5 of its width, between the side's two crossings 0.01 of the
// plane's parameter apart, a short stretch from the torus's seam. The march from the seam's far
// side stepped over the dip: the cubic through the step's ends and rates kept inside the side
// (1 - 4e-5), the step landed on the traced stretch beyond the dip and its next step on the
// traced branch, and the march was dropped as a duplicate: 7.4e-3 of the size left out. A step
// whose cubic comes near a side is checked against the branch itself there. Whichever surface
// comes first, at sizes 1e-6 and 1e6 moved 1e4 x the size: every sample on both surfaces, every
// exact point of the loop near a branch.
TEST_F(HardIntersections, AStepOverAShallowDipOutOverASideEndsWhereTheBranchLeaves) {
  CaseSurface s[2] = {
      {false, Axes({0.7369518, -0.0761843, -0.6716383}, {-0.3332453, 0.8235328, -0.4590656}), {0.0134544, 0.3893114, -0.0523054}, 0, 0, 0, 0},
      {true, Axes({0.4953577, 0.2855025, 0.8204323}, {0.2828841, -0.9459850, 0.1583949}), {0.2092539, 0.1094792, -0.1685830}, 1.2230453, 0.5856042, 0, 0}};
  s[0].plane = true;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 1);
}

// A cylinder (radius 0.485) and a cone (radii 0.478 to 0.540) on turned axes meet in a loop that
// dips across the cylinder's seam and back, 0.1745 of its 4.29 beyond the seam. The dip is traced
// from its own seed, ending on the seam at both crossings, while the loop's march steps over it;
// cut out of the loop at the crossings as well, it was returned twice (0.91 of its samples on the
// other copy). Where another trace runs the dip, the loop is only opened at the crossings. The
// cylinder first at sizes 1e-6 and 1e6, the cone first at size 1, moved 1e4 x the size: every
// sample on both surfaces, every exact point of the loop near a branch, no stretch twice.
TEST_F(HardIntersections, ADipAcrossASeamTracedOnItsOwnIsNotCutOutOfTheLoopToo) {
  CaseSurface s[2] = {
      {false, Axes({-0.0499989, 0.3226717, -0.9451894}, {-0.6937266, -0.6920416, -0.1995544}), {0.2765028, -0.2716253, -0.2308003}, 0.4852910, 0.0, -1.7988, 2.0634},
      {false, Axes({-0.3092021, -0.4288905, -0.8487915}, {-0.9458827, 0.0462641, 0.3211939}), {-0.3253153, 0.0588156, -0.0593121}, 0.4783303, 0.0, -2.0767, 2.0990}};
  s[1].cone = true;
  s[1].R1 = 0.5401682;
  ExpectWholeBranchesOnBoth(s, Placed(1e-6, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1e6, 1e4), 0);
  ExpectWholeBranchesOnBoth(s, Placed(1.0, 1e4), 1);
}

// Cylinders of radii 1 and 1 + d, d = -1e-5 and -1e-4, on axes turned by 1.9, the first's seam at
// 2 pi 6/25 of a turn, across the other loop's arms 0.063 from the loops' turns at (0, 1, 0), and
// the second's through the turns at (0, -1, 0). A step along a loop's arm toward its turn was
// predicted across the first's seam and met its loop short of the turn; the meeting with the seam
// found from there lay on the other loop's arm, the chord to it turned only 19 degrees from the
// arm, and the step was ended there: the trace carried across onto the other loop, whose stretch
// to the seam came back twice (the branches 7.6e-3 and 1.2e-2 of the size too long, a point of the
// loops 6.5e-5 of the size off every branch, samples 1.3e-5 of the size off the cylinders). The
// chord halved toward the meeting lands on the turn, and the step ends where it met its loop. At
// size 1e3 moved 1e4 x the size: every point of the loops within 1e-5 of the size of a branch,
// every sample on both cylinders, no stretch twice.
TEST_F(HardIntersections, AStepMeetingItsLoopShortOfANearCrossingDoesNotEndOnTheOtherLoop) {
  const double ea[3] = {std::cos(2 * M_PI * 6 / 25), std::sin(2 * M_PI * 6 / 25), 0}, eb[3] = {0, -1, 0};
  double frame[3][3];
  TurnedFrame(1.9, frame);
  for (double d : {-1e-5, -1e-4}) {
    const CylinderPairFit f = FitCylinderPair(1.0 + d, ea, eb, Placed(1e3, 1e4), frame);
    EXPECT_LT(f.off, 1e-6) << d;
    EXPECT_LT(f.gap, 1e-5) << d;
    EXPECT_LT(std::fabs(f.lengthError), 1e-4) << d;
  }
}

// A plane through a pole of a sphere of radius 1e-3 (a thousandth of the scene) cuts it in a
// circle through the pole, tilted 0.3 from the sphere's axis. Every seed the subdivision gave
// refined onto the pole, where the sphere's partial round it vanishes: the step resolved the
// branch's direction into that parameter alone, which moves no point, and only a trace of the
// pole's point came back, 3e-4 of the size from the rest of the circle. At size 1, either surface
// first: every point of the circle within 1e-5 of the size of a branch, every sample on both
// surfaces.
TEST_F(HardIntersections, APlaneThroughThePoleOfASmallSphereGivesItsCircle) {
  double frame[3][3];
  TurnedFrame(0.7, frame);
  const double *a1 = frame[0], *a2 = frame[1], *a3 = frame[2], r = 1e-3, tilt = 0.3, C[3] = {0.5, 0.5, 0.5};
  const Place at = Placed(1.0, 0.0);
  // The plane's normal n and its direction across, b1 (with a2, in the plane); the pole X.
  double n[3], b1[3], X[3], O[3];
  for (int q = 0; q < 3; ++q) {
    n[q] = std::cos(tilt) * a3[q] + std::sin(tilt) * a1[q];
    b1[q] = -std::sin(tilt) * a3[q] + std::cos(tilt) * a1[q];
    X[q] = C[q] + r * a3[q];
    O[q] = X[q] - 0.4 * b1[q] - 0.45 * a2[q];
  }
  BsplineKeeper keep;
  Bspline* plane = keep(shapes::Plane(O, b1, a2, at));
  Place centre = at;
  for (int q = 0; q < 3; ++q) centre.shift[q] += C[q];
  Bspline* sphere = keep(shapes::Sphere(a3, a1, r, centre));
  ASSERT_TRUE(plane && sphere);
  const double size = shapes::PairSize(plane, sphere), h = r * std::cos(tilt), rho = r * std::sin(tilt);
  for (bool planeFirst : {true, false}) {
    const std::vector<Branch> bs = planeFirst ? Intersect(plane, sphere, at) : Intersect(sphere, plane, at);
    double gap = 0.0;
    for (int i = 0; i < 360; ++i) {
      const double t = 2 * M_PI * i / 360;
      double P[3];
      for (int q = 0; q < 3; ++q) P[q] = C[q] + h * n[q] + rho * (std::cos(t) * b1[q] + std::sin(t) * a2[q]);
      gap = std::fmax(gap, FromBranches(bs, P));
    }
    const double off = WorstOffBoth(
        bs, [&](const double* p) { return (p[0] - X[0]) * n[0] + (p[1] - X[1]) * n[1] + (p[2] - X[2]) * n[2]; },
        [&](const double* p) { return std::hypot(p[0] - C[0], p[1] - C[1], p[2] - C[2]) - r; });
    EXPECT_LT(gap, 1e-5 * size) << planeFirst;
    EXPECT_LT(off, 1e-6 * size) << planeFirst;
  }
}

namespace {

// A sphere of radius r (1e-4 unless given) sunk `depth` (8 point tolerances unless given) into the
// torus of radii 1 and 0.3 about z at the torus's point of angles th (round the axis) and ph (round the tube), turned
// about its own centre C so that the loop the two meet in (about 2e-5 across at r 1e-4) runs
// through its pole (the axis a from the loop's point at azimuth spin through C). The loop's points are bisected to the host along
// arcs from the sphere's deepest point, at azimuth phi about m (across: b1, b2). OnCylinder: the
// host the unit cylinder about the axis frame[2] of the axes turned by `turn` (TurnedFrame), for
// heights -1..1, its seam along frame[0], the sphere sunk at its point of angle th and height z.
struct SunkSphereThroughPole {
  double r, C[3], m[3], b1[3], b2[3], a[3], e[3];
  bool cylinder = false;
  double frame[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

  SunkSphereThroughPole(double th, double ph, double spin, double radius = 1e-4,
                        double depth = 8e-6 * std::hypot(2.6, 2.6, 0.6))
      : r(radius) {
    const double N[3] = {std::cos(ph) * std::cos(th), std::cos(ph) * std::sin(th), std::sin(ph)};
    const double rho0 = 1.0 + 0.3 * std::cos(ph);
    const double X0[3] = {rho0 * std::cos(th), rho0 * std::sin(th), 0.3 * std::sin(ph)};
    Sink(X0, N, depth, spin);
  }
  static SunkSphereThroughPole OnCylinder(double turn, double th, double z, double spin, double radius, double depth) {
    SunkSphereThroughPole k(radius);
    k.cylinder = true;
    TurnedFrame(turn, k.frame);
    double N[3], X0[3];
    for (int q = 0; q < 3; ++q) {
      N[q] = std::cos(th) * k.frame[0][q] + std::sin(th) * k.frame[1][q];
      X0[q] = N[q] + z * k.frame[2][q];
    }
    k.Sink(X0, N, depth, spin);
    return k;
  }
  explicit SunkSphereThroughPole(double radius) : r(radius) {}
  // Sinks the sphere `depth` into the host at X0 (normal N) and turns its pole onto the loop.
  void Sink(const double X0[3], const double N[3], double depth, double spin) {
    for (int q = 0; q < 3; ++q) C[q] = X0[q] + (r - depth) * N[q], m[q] = -N[q];
    Across(m, b1);
    VecCrossProd3(m, b1, b2);
    double pole[3];
    LoopPoint(spin, pole);
    for (int q = 0; q < 3; ++q) a[q] = C[q] - pole[q];
    const double na = std::hypot(a[0], a[1], a[2]);
    for (double& x : a) x /= na;
    Across(a, e);
  }
  // Turns the pole `angle` off the loop, about the line across the loop there.
  void TurnPoleBeside(double angle) {
    double t[3], ta[3];
    VecCrossProd3(a, m, t);
    const double nt = std::hypot(t[0], t[1], t[2]);
    for (double& x : t) x /= nt;
    VecCrossProd3(t, a, ta);
    for (int q = 0; q < 3; ++q) a[q] = std::cos(angle) * a[q] + std::sin(angle) * ta[q];
    Across(a, e);
  }
  // A fixed direction made square to the unit vector u.
  static void Across(const double u[3], double out[3]) {
    const double g[3] = {0.3, -0.7, 0.2}, d = g[0] * u[0] + g[1] * u[1] + g[2] * u[2];
    for (int q = 0; q < 3; ++q) out[q] = g[q] - d * u[q];
    const double l = std::hypot(out[0], out[1], out[2]);
    for (int q = 0; q < 3; ++q) out[q] /= l;
  }
  double OffHost(const double* p) const {
    if (cylinder) return std::hypot(VecDotProd3(p, frame[0]), VecDotProd3(p, frame[1])) - 1.0;
    return std::hypot(std::hypot(p[0], p[1]) - 1.0, p[2]) - 0.3;
  }
  Bspline* Host(const Place& at) const {
    return cylinder ? Cylinder(frame[2], frame[0], 1.0, -1.0, 1.0, at) : shapes::Torus(kZ, kX, 1.0, 0.3, at);
  }
  double OffSphere(const double* p) const { return std::hypot(p[0] - C[0], p[1] - C[1], p[2] - C[2]) - r; }
  void LoopPoint(double phi, double p[3]) const {
    auto arc = [&](double t, double* x) {
      for (int q = 0; q < 3; ++q)
        x[q] = C[q] + r * (std::cos(t) * m[q] + std::sin(t) * (std::cos(phi) * b1[q] + std::sin(phi) * b2[q]));
    };
    double lo = 0.0, hi = 0.5 * M_PI;
    arc(lo, p);
    const bool below = OffHost(p) < 0.0;
    for (int it = 0; it < 80; ++it) {
      const double mid = 0.5 * (lo + hi);
      arc(mid, p);
      (OffHost(p) < 0.0) == below ? lo = mid : hi = mid;
    }
    arc(lo, p);
  }
  // The sphere in the scene placed at `at`.
  Bspline* Sphere(const Place& at) const {
    Place centre = at;
    for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * C[q];
    return shapes::Sphere(a, e, r, centre);
  }
};

// The branches of a sunk sphere through the pole and the torus placed at `at`, either first,
// measured in shares of the pair's size: gap, the largest distance of an exact point of the loop
// (48 of them) from a branch; off, the largest of a sample from either surface; and turns, what
// the branches turn about the loop's axis m altogether (one turn for the loop traced once).
struct PoleLoopFit {
  double gap = 0.0, off = 0.0, turns = 0.0;
};

PoleLoopFit MeasureSunkSphereThroughPole(const SunkSphereThroughPole& k, const Place& at, bool torusFirst) {
  BsplineKeeper keep;
  Bspline* host = keep(k.Host(at));
  Bspline* small = keep(k.Sphere(at));
  PoleLoopFit f;
  EXPECT_TRUE(host && small);
  if (!host || !small) return f;
  const double size = shapes::PairSize(host, small) / at.scale;
  const std::vector<Branch> bs = torusFirst ? Intersect(host, small, at, 400) : Intersect(small, host, at, 400);
  for (int i = 0; i < 48; ++i) {
    double p[3];
    k.LoopPoint(2 * M_PI * i / 48, p);
    f.gap = std::fmax(f.gap, FromBranches(bs, p) / size);
  }
  for (const Branch& b : bs) {
    double turn = 0.0, before = 0.0;
    for (size_t i = 0; i < b.on1.size(); ++i) {
      double d[3];
      for (int q = 0; q < 3; ++q) d[q] = b.on1[i][q] - k.C[q];
      const double angle = std::atan2(VecDotProd3(d, k.b2), VecDotProd3(d, k.b1));
      if (i > 0) turn += std::remainder(angle - before, 2 * M_PI);
      before = angle;
    }
    f.turns += std::fabs(turn);
  }
  f.off = WorstOffBoth(bs, [&](const double* p) { return k.OffHost(p); }, [&](const double* p) { return k.OffSphere(p); }) / size;
  return f;
}

// Either surface first: every exact point of the loop within 1e-5 of the size of a branch, every
// sample within 1e-6 of it on both surfaces and, for a turnTol above 0, the loop traced once
// (the turns within turnTol of one).
void ExpectSunkLoopThroughPole(const SunkSphereThroughPole& k, const Place& at, double turnTol = 0.0) {
  for (bool torusFirst : {true, false}) {
    const PoleLoopFit f = MeasureSunkSphereThroughPole(k, at, torusFirst);
    EXPECT_LT(f.gap, 1e-5) << torusFirst;
    EXPECT_LT(f.off, 1e-6) << torusFirst;
    if (turnTol > 0.0) {
      EXPECT_NEAR(f.turns, 2 * M_PI, turnTol) << torusFirst;
    }
  }
}

// ExpectSunkLoopThroughPole at sizes 1, 1e-6 and 1e6, the two small and large moved 1e4 x the size.
void ExpectSunkLoopAtThreeSizes(const SunkSphereThroughPole& k, double turnTol) {
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)}) ExpectSunkLoopThroughPole(k, at, turnTol);
}

}  // namespace

// A sphere of radius 1e-4 sunk 8 point tolerances into a torus of radii 1 and 0.3 meets it in a
// loop about 2e-5 of the size across, turned about the small sphere's centre so that the loop
// runs through its pole. The seeds refined onto the pole and their traces were of its point
// alone: 3.8e-5 of the size of the loop left out. Either surface first, at size 1: every exact
// point of the loop (the small sphere's points bisected to the torus along 48 arcs from its
// deepest point) within 1e-5 of the size of a branch, every sample on both surfaces.
TEST_F(HardIntersections, ALoopThroughThePoleOfASmallSunkSphereIsTraced) {
  const SunkSphereThroughPole k(1.4059668808631989, 4.2152002097158903, 1.0883471721271627);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0));
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop (about 1.3e-4 of the
// size across) through the sphere's pole, at size 1e6 moved 1e4 x the size: the seeds were refined
// to 1e-3 of a point tolerance from the pole but not onto it (the parameter across its side 1.6
// of its tolerances off), and every step from there turned round the pole, moving the point by
// round-off, until one was clamped onto the pole or across the seam: nothing of the loop was
// traced (1.3e-4 of the size left out). Either surface first: every exact point of the loop near
// a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ASeedRefinedBesideAPoleWithinRoundOffLeavesItAlongItsLoop) {
  const SunkSphereThroughPole k(1.5804046732502641, 1.5232412313147421, 5.2613818627469042, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, seeded on the pole: one trace runs round the loop from the pole to the sphere's seam 13
// degrees short of it, where the surfaces lie within the tolerance all along the seam back to the
// pole. That end, pulled onto both surfaces with its parameter held on the seam, slid along it to
// the pole, and its curve ran back over the stretch the march from the seam's far side traces:
// 13 degrees twice. Either surface first, at size 1: every exact point of the loop near a branch,
// every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AnEndOnASeamTheLoopLeavesAtAShallowAngleStaysWhereTheLoopCrossesIt) {
  const SunkSphereThroughPole k(5.7603263605690831, 4.0146868039933121, 1.3213543951849012, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 60);
}

// A sphere of radius 1e-4 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole beside its seam, at size 1e-6 moved 1e4 x the size, the torus first: the trace from the
// seed stops on the seam after one step, and the march continuing it from the seam's far side goes
// round the whole loop back beside its seed. Judged against the reach of the short trace (two
// chord heights, far beyond the loop), every node of that march lay within a tenth of it, the last
// one, beside the seed, was taken for turning back and the loop was dropped (3.8e-5 of the size
// left out). Either surface first: every exact point of the loop near a branch, every sample on
// both surfaces.
TEST_F(HardIntersections, AMarchFromASeamRoundALoopSmallerThanItsReachIsKept) {
  const SunkSphereThroughPole k(3.3870144657323094, 3.374687135483458, 1.7148975626834411);
  ExpectSunkLoopThroughPole(k, Placed(1e-6, 1e4));
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the march from the first seed closes the loop passing two point
// tolerances from the pole, and a later seed as near it, in a box along the pole's side two boxes
// from those the march crossed, was traced as the loop again (two turns). At sizes 1 and 1e-6
// moved 1e4 x the size: every exact point of the loop near a branch, the loop traced once.
TEST_F(HardIntersections, ASeedBesideThePoleALoopPassedIsNoSecondLoop) {
  const SunkSphereThroughPole k(2.1656068378565081, 2.7970843457800898, 0.27126223516325393, 1e-3);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4)}) {
    const PoleLoopFit f = MeasureSunkSphereThroughPole(k, at, true);
    EXPECT_LT(f.gap, 1e-5) << at.scale;
    EXPECT_NEAR(f.turns, 2 * M_PI, M_PI / 180) << at.scale;
  }
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the march from a seed on the sphere's seam beside the pole crawls round
// the pole, a few point tolerances off it, for 4 degrees of the loop and stops; a later seed
// traces the whole loop past the pole, and the crawl came out as a second branch over it. At sizes
// 1 and 1e-6 moved 1e4 x the size, either surface first: every exact point of the loop near a
// branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ACrawlRoundAPoleALoopPassesIsNoBranchOfItsOwn) {
  const SunkSphereThroughPole k(2.6105854955231762, 5.7075945979441407, 0.81197981931016561, 1e-3);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4)}) ExpectSunkLoopThroughPole(k, at, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole: a seed on the sphere's seam beside the pole traces 13 degrees through the pole, and
// another the whole loop, whose chords at the pole have parameters on the sphere that swing round
// it. Pulled from the mean of those, the branch landed nowhere near the first trace's nodes beside
// the pole, and the stretch came out as a second branch. At sizes 1e-6 and 1e6 moved 1e4 x the
// size, either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, AStretchThroughAPoleBesideALoopsChordAcrossItIsNoBranchOfItsOwn) {
  const SunkSphereThroughPole k(0.75047122988639925, 1.3838989517815283, 1.5344356482676582, 1e-3);
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1e6, 1e4)}) ExpectSunkLoopThroughPole(k, at, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, seeded on the pole: the trace runs 18 degrees to the sphere's seam in one step, and the
// march continuing it from the seam's far side, its seed refined a little off the seam, runs round
// the rest of the loop to the pole. Its march back from the seed ran over the first trace onto
// the pole in one step and closed the loop there: those 18 degrees twice. At sizes 1 and 1e6
// moved 1e4 x the size, either surface first: every exact point of the loop near a branch, every
// sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AMarchContinuingATraceFromASeamDoesNotRunBackOverIt) {
  const SunkSphereThroughPole k(4.8797679500002999, 3.1398299678334611, 5.396382401339701, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the sphere first: the march closes the loop on the sphere's seam 1.3 point tolerances
// from the pole, and its last nodes crawl round the pole within that, each on a meridian of its
// own. The loop's ends, one of them pulled round the pole to another meridian, were no pole to
// straighten, and the curves swung round the pole through those meridians: samples 1.2e-6 of the
// size off the surfaces, the loop 7 % long. At size 1e6 moved 1e4 x the size, either surface
// first: every exact point of the loop near a branch, every sample on both surfaces, the loop
// traced once.
TEST_F(HardIntersections, ALoopClosedOnASeamBesideAPoleComesStraightThroughIt) {
  const SunkSphereThroughPole k(6.2246046489335383, 5.0555635974137054, 5.4637177294098969, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the first trace runs 6 degrees through the pole, a few point tolerances
// long and as loose, to the sphere's seam, and the march continuing it from the seam's far side
// goes round the whole loop, back over that trace, and closes on its own seed. The short trace
// stayed beside the loop: samples 2.6e-6 of the size off the sphere, 366 degrees turned. At size
// 1, either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, AContinuationClosingTheLoopTakesTheTraceItContinues) {
  const SunkSphereThroughPole k(0.29512576907893523, 2.7289005627387195, 3.9915005625926114, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first, at size 1e6 moved 1e4 x the size: the loop closes on its seed, 1.2 point
// tolerances from the pole, and its closing interval passes the pole. That end was to be pulled
// onto the pole with the sphere's parameter across the collapsed side held there, but the partial
// along the side, round-off of the far coordinates, was not small enough against the other to count
// as vanishing: left free, it made the pull's system singular, and the curves swung round the pole
// between the end and its neighbour, samples 5.7e-6 of the size off the torus. Either surface
// first: every exact point of the loop near a branch, every sample on both surfaces, the loop
// traced once.
TEST_F(HardIntersections, AnEndPulledOntoAPoleFarFromTheOriginReachesIt) {
  const SunkSphereThroughPole k(4.8681372279276189, 1.1227145210631038, 0.27290553664836886, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first, at size 1e6 moved 1e4 x the size: the surfaces cross there at a sine of
// 0.24, and the seed on the sphere's seam, two point tolerances from the pole, was refined two
// tolerances off the branch. Each full step from it landed on the branch behind the march, and the
// march crawled round the pole on halved steps within the band, turned back after 14 degrees and
// stopped; the rest of the loop was lost (1.3e-4 of the size from a branch). Either surface first:
// every exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ASeedLooseBesideAPoleIsPulledOntoItsLoop) {
  const SunkSphereThroughPole k(2.077550495253607, 2.314722023218327, 1.0938879422521697, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, at size 1: the seed's march ends on the pole one way and on the sphere's seam the other,
// and the march continuing from the seam's far side comes round to the pole in a step 33 point
// tolerances long that lands 3 short of it. That march stops there, beside the traced pole, and
// the loop was left open between the two: 2.7 degrees of it missing. Either surface first: every
// exact point of the loop near a branch, every sample on both surfaces, the loop traced whole.
TEST_F(HardIntersections, AMarchLandingJustShortOfATracedPoleEndsOnIt) {
  const SunkSphereThroughPole k(2.9534636008140231, 3.190610815814789, 3.6953936189165262, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, at size 1: the march back steps through the pole from 8 point tolerances short of it to a
// sixth of one past, its parameter round the pole turning by half its range, and no node lay on
// the pole. The curve sampled that interval round the pole instead of through it, 1.4 point
// tolerances off the torus. Either surface first: every sample on both surfaces, every exact point
// of the loop near a branch, the loop traced once.
TEST_F(HardIntersections, AStepThroughAPoleKeepsANodeOnIt) {
  const SunkSphereThroughPole k(0.73427144817071099, 0.8712156824217957, 4.454209590982825, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

namespace {

// A plane through (a round-off beside) a pole of a sphere of radius 1e-3 (or another) centred at
// (0.5, 0.5, 0.5) of a unit scene, placed at a scale (moved 1e4 x it unless 1): the sphere's axis a
// (the pole at pole x a), the plane's normal n, its origin o across n from the pole nudged along n.
struct PlaneThroughAPole {
  double a[3], n[3], o[2], nudge, pole, scale;
  double radius = 1e-3;
};

// How the branches of the plane and the sphere, either first, keep to the circle they meet in:
// the largest distance of a point of the circle from the branches, the worst sample off either
// surface (both against the pair's size) and the branches' length against the circle's.
struct PoleCircleFit {
  double gap, off, length, circle;
};

// With planeRunFirst the plane-first run is made before a sphere-first one, whose sphere then has
// its knots as that run rescaled them (as a caller's earlier run would leave them).
PoleCircleFit MeasurePlaneThroughAPole(const PlaneThroughAPole& k, bool sphereFirst, int samples,
                                       bool planeRunFirst = false) {
  const double r = k.radius, C[3] = {0.5, 0.5, 0.5};
  // A unit vector across u, the part of (0.3, -0.7, 0.2) across it.
  auto across = [](const double u[3], double out[3]) {
    const double g[3] = {0.3, -0.7, 0.2}, d = g[0] * u[0] + g[1] * u[1] + g[2] * u[2];
    for (int q = 0; q < 3; ++q) out[q] = g[q] - d * u[q];
    const double l = std::hypot(out[0], out[1], out[2]);
    for (int q = 0; q < 3; ++q) out[q] /= l;
  };
  const double *a = k.a, *n = k.n;
  double e[3], b1[3], b2[3], X[3], O[3];
  across(a, e);
  across(n, b1);
  VecCrossProd3(n, b1, b2);
  for (int q = 0; q < 3; ++q) {
    X[q] = C[q] + k.pole * r * a[q];
    O[q] = X[q] + k.nudge * n[q] - k.o[0] * b1[q] - k.o[1] * b2[q];
  }
  const Place at = Placed(k.scale, k.scale == 1.0 ? 0.0 : 1e4);
  BsplineKeeper keep;
  Bspline* plane = keep(shapes::Plane(O, b1, b2, at));
  Place centre = at;
  for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * C[q];
  Bspline* sphere = keep(shapes::Sphere(a, e, r, centre));
  PoleCircleFit fit{HUGE_VAL, HUGE_VAL, 0.0, 0.0};
  if (!plane || !sphere) return fit;
  const double size = shapes::PairSize(plane, sphere) / at.scale;
  const double h = n[0] * (O[0] - C[0]) + n[1] * (O[1] - C[1]) + n[2] * (O[2] - C[2]), rho = std::sqrt(r * r - h * h);
  if (sphereFirst && planeRunFirst) Intersect(plane, sphere, at, samples);
  const std::vector<Branch> bs =
      sphereFirst ? Intersect(sphere, plane, at, samples) : Intersect(plane, sphere, at, samples);
  double gap = 0.0;
  for (int i = 0; i < 360; ++i) {
    const double t = 2 * M_PI * i / 360;
    double P[3];
    for (int q = 0; q < 3; ++q) P[q] = C[q] + h * n[q] + rho * (std::cos(t) * b1[q] + std::sin(t) * b2[q]);
    gap = std::fmax(gap, FromBranches(bs, P));
  }
  fit.gap = gap / size;
  fit.off = WorstOffBoth(
                bs, [&](const double* p) { return (p[0] - O[0]) * n[0] + (p[1] - O[1]) * n[1] + (p[2] - O[2]) * n[2]; },
                [&](const double* p) { return std::hypot(p[0] - C[0], p[1] - C[1], p[2] - C[2]) - r; }) /
            size;
  for (const Branch& b : bs) fit.length += Length(b);
  fit.circle = 2 * M_PI * rho;
  return fit;
}

// Either surface first (with planeRunFirst the sphere-first run has the sphere's knots as the
// plane-first run left them):
// every point of the circle within 1e-5 of the size of the branches, every sample within 1e-6 of
// it on both surfaces, the branches as long as the circle within lengthShare of it.
void ExpectPoleCircleTraced(const PlaneThroughAPole& k, int samples, double lengthShare,
                            bool planeRunFirst = false) {
  SCOPED_TRACE(::testing::Message() << "scale " << k.scale);
  for (bool sphereFirst : {false, true}) {
    const PoleCircleFit f = MeasurePlaneThroughAPole(k, sphereFirst, samples, planeRunFirst);
    EXPECT_LT(f.gap, 1e-5) << sphereFirst;
    EXPECT_LT(f.off, 1e-6) << sphereFirst;
    EXPECT_NEAR(f.length, f.circle, lengthShare * f.circle) << sphereFirst;
  }
}

}  // namespace

// Planes through (a round-off beside) a pole of a sphere of radius 1e-3 whose seam meets the
// pole: the circle runs through the pole and crosses the seam beside it, 40 to 70 point
// tolerances away. The march stopped on the pole, and the end on the seam was taken for meeting
// that node across the seam, or the last nodes of the march crawling into the pole, and was not
// continued: the stretch from the seam to the pole, 7 % of the circle, was left out (2e-5 to
// 4.6e-5 of the size from the nearest branch). The march continuing over it from the seam's far
// side crawls toward the pole and passes it within round-off: it ends there, not running round
// the whole circle again; and no march goes on from an end on the pole, whose parameter round it
// marks no place on the seam (a stub along the stretch the seam's march traces). The plane first,
// then the sphere (its knots as the first run rescaled them), at size 1 and at 1e6 moved 1e4 x
// the size: every point of the circle within 1e-5 of the size of a branch, every sample on both
// surfaces, no stretch twice (the branches' lengths adding up to the circle's within 1 %).
TEST_F(HardIntersections, ABranchThroughAPoleBesideASeamIsContinuedFromTheSeam) {
  const PlaneThroughAPole cases[] = {
      {{-0.99375857534591905, 0.10943633178232122, 0.021623672502114201},
       {0.98675041779449024, -0.097206320767493096, 0.12990205612401323},
       {0.48910752661059875, 0.37495422493005559}, 4e-16, -1.0, 1.0},
      {{0.99088983448328805, 0.093866636629143199, 0.096573238765273503},
       {-0.26262277959051405, -0.27067418935726562, -0.92615590418457061},
       {0.46840527640089946, 0.23159939001714164}, 4e-16, 1.0, 1e6},
      {{0.76070104259452209, 0.21842664423526753, 0.61124767883708742},
       {-0.42916353900267462, 0.43591879752662377, -0.79107108324956643},
       {0.52966686168419952, 0.58650919989872596}, 0.0, 1.0, 1.0},
      {{0.57986110679491909, -0.75359076736270081, 0.30961597531824364},
       {0.36384522354559673, -0.70861499887502555, 0.60455060720538711},
       {0.62939060297919069, 0.42451059941833624}, -4e-16, 1.0, 1.0}};
  for (const auto& k : cases)
    ExpectPoleCircleTraced(k, 2000, 1e-2);
}

// Planes through a pole of a sphere of radius 1e-3: the circle runs through the pole, where the
// sphere's parameter round it is undefined. Far from the origin for its size (size 1e-6 moved 1e4
// x the size) the sphere's partial round the pole vanishes only to its coordinates' round-off, a
// few 1e-9 of the other: an end there is still a pole, whose parameter round it comes from its
// neighbour, or the curves swing round the pole in the sphere's parameters. At size 1 the march
// crawls into the pole and leaves nodes within the tolerance of it whose parameter round it swings
// over half its range: the curves through them bulge off the plane. At size 1e6 moved 1e4 x the
// size the end on the pole has a normal of round-off, which must not refuse the cuts between it
// and its neighbour half a radius away. The plane first, then the sphere: every sample of the
// curves on both surfaces, every point of the circle near a branch.
TEST_F(HardIntersections, ABranchThroughAPoleIsFittedOnBothSurfacesBesideIt) {
  const PlaneThroughAPole cases[] = {
      {{-0.59807408660265793, -0.77177278678909744, 0.2160420156038789},
       {0.92657224624235646, -0.23410623086693205, 0.29437755546690875},
       {0.32697288431465737, 0.77060564948419707}, 4e-16, -1.0, 1e-6},
      {{0.68340759911691096, -0.040722535291751315, 0.72890035573367074},
       {-0.49600523733293916, -0.84990691446108468, 0.17786804459917188},
       {0.40885779701588626, 0.68796917051408091}, 0.0, -1.0, 1.0},
      {{0.23226873771547712, -0.31487418886399055, 0.92027467566336041},
       {0.66843155658680109, 0.71509442927912503, -0.20454635507118835},
       {0.36642833161101085, 0.61685272188718332}, 4e-16, -1.0, 1.0},
      {{-0.8360838946720367, -0.0082303198759886217, 0.54853986446271874},
       {0.0028437060640342389, -0.75855552514734848, -0.65160220119659795},
       {0.72887876749459535, 0.63378243902389308}, -4e-16, 1.0, 1e6}};
  for (const auto& k : cases)
    for (bool sphereFirst : {false, true}) {
      const PoleCircleFit f = MeasurePlaneThroughAPole(k, sphereFirst, 400);
      EXPECT_LT(f.gap, 1e-5) << k.scale << " " << sphereFirst;
      EXPECT_LT(f.off, 1e-6) << k.scale << " " << k.o[0] << " " << sphereFirst;
    }
}

// A plane through a pole of a sphere of radius 1e-3 (size 1e-6 moved 1e4 x the size), the sphere
// first: its trace is seeded on the pole, and its forward march goes round the circle and stops on
// the pole again at another parameter round it. The march back from the seed went round the circle
// a second time the other way: the curves were twice the circle long. The plane first (whose run
// rescales the sphere's knots, as a caller's earlier run would), then the sphere: the branches as
// long as the circle within 1 %, every point of the circle near them, every sample on both
// surfaces.
TEST_F(HardIntersections, ALoopSeededOnAPoleClosesWhereItsForwardMarchComesBackToThePole) {
  const double a[3] = {0.19999030013536764, -0.81885118586401617, -0.53803960380334459};
  const double n[3] = {0.14775756482054328, 0.54031015189997955, 0.82839159930079209};
  const double o[2] = {0.37669105273510173, 0.41412484184219311}, nudge = -4e-16, r = 1e-3, C[3] = {0.5, 0.5, 0.5};
  auto across = [](const double u[3], double out[3]) {
    const double g[3] = {0.3, -0.7, 0.2}, d = g[0] * u[0] + g[1] * u[1] + g[2] * u[2];
    for (int q = 0; q < 3; ++q) out[q] = g[q] - d * u[q];
    const double l = std::hypot(out[0], out[1], out[2]);
    for (int q = 0; q < 3; ++q) out[q] /= l;
  };
  double e[3], b1[3], b2[3], X[3], O[3];
  across(a, e);
  across(n, b1);
  VecCrossProd3(n, b1, b2);
  for (int q = 0; q < 3; ++q) {
    X[q] = C[q] + r * a[q];
    O[q] = X[q] + nudge * n[q] - o[0] * b1[q] - o[1] * b2[q];
  }
  const Place at = Placed(1e-6, 1e4);
  BsplineKeeper keep;
  Bspline* plane = keep(shapes::Plane(O, b1, b2, at));
  Place centre = at;
  for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * C[q];
  Bspline* sphere = keep(shapes::Sphere(a, e, r, centre));
  ASSERT_TRUE(plane && sphere);
  const double size = shapes::PairSize(plane, sphere) / at.scale;
  const double h = n[0] * (O[0] - C[0]) + n[1] * (O[1] - C[1]) + n[2] * (O[2] - C[2]), rho = std::sqrt(r * r - h * h);
  for (bool sphereFirst : {false, true}) {
    const std::vector<Branch> bs = sphereFirst ? Intersect(sphere, plane, at, 400) : Intersect(plane, sphere, at, 400);
    double gap = 0.0, length = 0.0;
    for (int i = 0; i < 360; ++i) {
      const double t = 2 * M_PI * i / 360;
      double P[3];
      for (int q = 0; q < 3; ++q) P[q] = C[q] + h * n[q] + rho * (std::cos(t) * b1[q] + std::sin(t) * b2[q]);
      gap = std::fmax(gap, FromBranches(bs, P));
    }
    for (const Branch& b : bs) length += Length(b);
    const double off = WorstOffBoth(
        bs, [&](const double* p) { return (p[0] - O[0]) * n[0] + (p[1] - O[1]) * n[1] + (p[2] - O[2]) * n[2]; },
        [&](const double* p) { return std::hypot(p[0] - C[0], p[1] - C[1], p[2] - C[2]) - r; });
    EXPECT_LT(gap, 1e-5 * size) << sphereFirst;
    EXPECT_LT(off, 1e-6 * size) << sphereFirst;
    EXPECT_NEAR(length, 2 * M_PI * rho, 1e-2 * 2 * M_PI * rho) << sphereFirst;
  }
}

// A plane through a pole of a sphere of radius 1e-3 whose seam leaves the pole close to the
// circle: the loop traced from its seed on the pole comes back to the pole and closes there,
// passing through every box along the pole's side but marking only those its parameters crossed.
// A later seed on the seam a few point tolerances from the pole, in a pair of boxes left
// unmarked, was traced again: either a stretch of the circle beside the pole came back twice, or
// the whole circle did and the first loop was dropped for it (the branches 1.0096 and 1.0512 x
// the circle long). The plane first, then the sphere, at sizes 1 and 1e-6 moved 1e4 x the size:
// one branch, as long as the circle within 0.5 %, every point of the circle near it.
TEST_F(HardIntersections, ASeedBesideAPoleALoopPassesThroughLiesOnThatLoop) {
  for (double scale : {1.0, 1e-6}) {
    const PlaneThroughAPole k = {{0.92278722200782848, 0.025436780153547965, -0.38446939164840516},
                                 {-0.94940897531078783, -0.205479352866766, 0.23748859582046294},
                                 {0.4814168321036435, 0.33042298494191757}, 0.0, 1.0, scale};
    ExpectPoleCircleTraced(k, 2000, 5e-3);
  }
}

// A plane through a pole of a sphere of radius 1e-3 whose seam leaves the pole close to the
// circle: the trace seeded on the pole steps to the seam and stops there, and the march back from
// the seed goes round the circle and closes on that end. Closed there, the loop ran through the
// pole between two nodes, where the sphere's parameter round it jumps by half its range: the cut
// put on that jump as a seam crossing lay beside the pole, and a stretch of 2.4 degrees came back
// as a branch of its own (the branches 1.0066 x the circle long). The plane first, then the
// sphere, at size 1: the branches as long as the circle within 0.5 %, every point of the circle
// near them, every sample on both surfaces.
TEST_F(HardIntersections, ALoopSeededOnAPoleAndClosedByTheMarchBackEndsOnThePole) {
  const PlaneThroughAPole k = {{0.88803783105314205, -0.24490308661837015, 0.38911603511449711},
                               {-0.88143766077975882, 0.22616255304271962, 0.41463013609759009},
                               {0.47013091917548383, 0.76910424601158578}, 4e-16, -1.0, 1.0};
  ExpectPoleCircleTraced(k, 2000, 5e-3);
}

// A plane through a pole of a sphere of radius 1e-3 (size 1e-6 moved 1e4 x the size), the sphere
// first: the trace seeded on the pole steps to the seam beside it and ends there, its seed's
// parameter round the pole at one end of the range and the end's at the other. That jump was taken
// for a crossing of the seam and the short branch cut there, on a point pulled onto the seam
// between the two: its parts ran 2 degrees over the circle's stretch beyond the seam, 1.2e-6 of the
// size off the surfaces. A node on a pole has any parameter round it; its jump crosses no seam.
// The plane first, then the sphere: the branches as long as the circle within 0.5 %, every point of
// the circle near them, every sample on both surfaces.
TEST_F(HardIntersections, AJumpOfTheParameterRoundAPoleAtANodeOnItCrossesNoSeam) {
  const PlaneThroughAPole k = {{0.15165168515660035, -0.087328491757978396, -0.98456868775948803},
                               {0.60929977773601496, 0.08301774853178058, -0.7885821671072436},
                               {0.5611802216304308, 0.66634139434037998}, -4e-16, 1.0, 1e-6};
  ExpectPoleCircleTraced(k, 2000, 5e-3, true);
}

// Planes through a pole of a sphere of radius 1e-3, whose seam meets the circle a few degrees from
// the pole: the forward march from a seed across the circle stops on the seam there, and the march
// back goes round the other way and lands on the pole, nearer the forward end than its step is
// long. It closed there, onto the forward end across the pole, and the curves through that interval
// swung round the pole in the sphere's parameters (at size 1e6, the plane first: samples 1.6e-5 of
// the size off the sphere; at size 1e-6, the sphere first: 3.1e-6, a point of the circle 4.2e-6 of
// the size from the branches). A march that lands on a pole beside its forward end stops there, and
// the stretch from the seam to the pole is continued across the seam. Both surfaces in turn (the
// sphere's knots as the plane-first run left them): every point of the circle near the branches,
// every sample on both surfaces, the branches as long as the circle within 0.5 %.
TEST_F(HardIntersections, AMarchBackLandingOnAPoleBesideItsForwardEndStopsOnThePole) {
  const PlaneThroughAPole cases[] = {
      {{-0.81035248695393058, -0.23386846672218592, -0.53724704481327168},
       {0.44669553129846973, -0.040186949165923802, -0.89378303375859247},
       {0.59130361493639005, 0.51711468130307925}, -4e-16, 1.0, 1e6},
      {{0.88803783105314205, -0.24490308661837015, 0.38911603511449711},
       {-0.88143766077975882, 0.22616255304271962, 0.41463013609759009},
       {0.47013091917548383, 0.76910424601158578}, 4e-16, -1.0, 1e-6}};
  for (const auto& k : cases)
    ExpectPoleCircleTraced(k, 2000, 5e-3, true);
}

// A sphere of radius 1e-4 sunk 8 point tolerances into a torus of radii 1 and 0.3 meets it in a
// loop about 2e-5 of the size across, turned so that the loop runs through the small sphere's
// pole (size 1e-6 moved 1e4 x the size). The sphere first (its knots as the torus-first run left
// them), the trace is seeded on the sphere's seam a third of a tolerance from the pole: its march
// went round the loop and came back crawling round the pole from another side, where the sphere's
// parameter round it never came back between the seed's and the first node's, and ran on over its
// first nodes, 5 degrees of the loop traced twice. Either surface first: the branches' turns about
// the loop's axis add up to one turn within a degree (a third of a tolerance along the loop), every
// point of the loop near them, every sample on both surfaces.
TEST_F(HardIntersections, ALoopSeededBesideAPoleClosesWhereItPassesItsSeed) {
  const SunkSphereThroughPole k(5.069078359803953, 4.5502795365768698, 0.28782969812825582);
  ExpectSunkLoopThroughPole(k, Placed(1e-6, 1e4), M_PI / 180);
}

// A plane through a pole of a sphere of radius 1e-4 that passes 1.4 point tolerances from the other
// pole, the sphere first: the trace is seeded on that other pole and its forward march leaves along
// one meridian, round to the plane's pole. The march back leaves along the meridian half a turn
// away, but its step was held to the way in the sphere's parameters away from the first forward
// node, which every meridian leaving the pole runs against or along alike: each halving of the step
// was refused until one landed back on the pole, and the half of the circle beyond was left out
// (7.9e-5 of the size from the branches). Either surface first: every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchBackFromASeedOnAPoleLeavesAlongAnyMeridian) {
  PlaneThroughAPole k = {{0.69405551741440763, -0.58452455263362424, -0.42025942715789283},
                         {-0.36653640106101498, -0.78311187150013184, 0.50238119333111952},
                         {0.72690416153490145, 0.54568868428740736}, -4e-16, 1.0, 1.0};
  k.radius = 1e-4;
  ExpectPoleCircleTraced(k, 400, 1e-2);
}

// A plane through a pole of a sphere of radius 1e-2, whose seam meets the circle 15 degrees from
// the pole, the plane first: one trace runs from the seam to the pole, and the loop's march back
// came round from the other side to within a step of the pole and closed there onto its forward
// end on the seam, across the pole: the last interval cut 15 degrees of the circle over the pole
// (samples 7.2e-5 of the size off the sphere, that stretch twice). A march whose closing step
// has a pole another trace ended on nearer both its end and the forward end than they lie apart
// goes on to the pole instead. Every point of the circle near the branches, every sample on both
// surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchBackDoesNotCloseAcrossAPoleAnotherTraceEndsOn) {
  PlaneThroughAPole k = {{0.15165168515660035, -0.087328491757978396, -0.98456868775948803},
                         {0.60929977773601496, 0.08301774853178058, -0.7885821671072436},
                         {0.5611802216304308, 0.66634139434037998}, -4e-16, 1.0, 1.0};
  k.radius = 1e-2;
  const PoleCircleFit f = MeasurePlaneThroughAPole(k, false, 400);
  EXPECT_LT(f.gap, 1e-5);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_NEAR(f.length, f.circle, 1e-2 * f.circle);
}

// Planes a few tens of point tolerances beside a pole of a sphere of radius 1e-2, the plane first:
// the circle passes the pole about thirty point tolerances from it, where a traced node a third of
// the tolerance off the plane (within the half of it left as traced) lies beside the branch by as
// much, its parameter round the pole swung 0.3 % of the range off the branch's. The curves kinked
// there, and every cut of its intervals, pulled onto the branch, landed outside the interval's box
// and was refused: samples 1.4e-6 and 1.0e-6 of the size off the plane. A node an interval that
// misses cannot be cut beside is pulled onto both surfaces. Either surface first: every sample on
// both surfaces, every point of the circle near the branches, the branches as long as the circle.
TEST_F(HardIntersections, ANodeBesideAPoleWhoseIntervalCannotBeCutIsPulledOntoTheBranch) {
  PlaneThroughAPole cases[] = {
      {{0.077922287800798892, 0.37644347730401001, 0.92315677187526202},
       {0.66477021309613149, -0.35450941322186413, 0.65757405645084088},
       {0.28030993881003463, 0.35651707625916873}, -1.6820712475015954e-05, 1.0, 1.0},
      {{-0.32783506151872621, -0.43795376925454821, -0.83709059750707215},
       {-0.32987129844379015, 0.62642161085457193, -0.70624421549303418},
       {0.46892114819522956, 0.64912766253157494}, -4.3604812915758144e-05, 1.0, 1.0}};
  for (PlaneThroughAPole& k : cases) {
    k.radius = 1e-2;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// Planes beside a pole of a sphere of radius 1e-4 cut it in a circle some hundred point tolerances
// long, crossing it at a shallow angle (normals' sine 0.5 and 0.37): a seed left as refined from
// the middle of its boxes, or a node marched beside the pole, met both surfaces within the half of
// the tolerance left as traced, and lay its gap over the sine beside the branch. The curves ran out
// to it and back: the branches 1.1-1.9 % longer than the circle. Nodes are pulled onto both
// surfaces from half of what an interval's middle may miss.
// Unmoved and at 1e-6 moved 1e4 sizes, either surface first: every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, ANodeMeetingBothSurfacesLooselyBesideASmallSpheresPoleIsPulledOn) {
  PlaneThroughAPole cases[] = {
      {{0.24977071846071824, -0.54549866964698113, -0.80002861799625058},
       {-0.24852749033840696, -0.91611275983709783, 0.31459735823707913},
       {0.75947108619232662, 0.70116041432350862}, -0.00010481356380015745, 1.0, 1.0},
      {{-0.040405939925634307, 0.89846140800972341, 0.43718927060932261},
       {0.08317379510795056, 0.82489335979167167, 0.55913599846454942},
       {0.33956005902431152, 0.6450199830937291}, 4.9435355316291045e-06, -1.0, 1e-6}};
  for (PlaneThroughAPole& k : cases) {
    k.radius = 1e-4;
    ExpectPoleCircleTraced(k, 400, 1e-2, true);
  }
}

// A plane 1.3e-5 of the size beside a pole of a sphere of radius 1e-2, the sphere first (its knots
// as the plane-first run left them): the trace is seeded on the seam beside the pole, its first
// nodes crawl round the pole, and its march comes round the circle toward the seam past them, on
// the pole's far side, their parameters round it just short of half a turn apart. Taken for a march
// caught in another branch's loop, it stopped there, and the 7 degrees from there to the seam
// were left out (1.8e-4 of the size from the branches). A node on the far side of a pole from the
// march's end is no place it passed. Every point of the circle near the branches, every sample on
// both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchFromASeamBesideAPoleGoesOnPastItsFirstNodesAcrossThePole) {
  PlaneThroughAPole k = {{-0.32230694856115677, 0.28397083444846011, -0.90303864595699401},
                         {0.2272329842387234, -0.034494011532934382, -0.97322933270752265},
                         {0.29128433923888125, 0.48176891431409452}, 1.3243685442722658e-05, -1.0, 1.0};
  k.radius = 1e-2;
  const PoleCircleFit f = MeasurePlaneThroughAPole(k, true, 400, true);
  EXPECT_LT(f.gap, 1e-5);
  EXPECT_LT(f.off, 1e-6);
  EXPECT_NEAR(f.length, f.circle, 1e-2 * f.circle);
}

// Planes through a pole of spheres of radii 1e-3 and 1e-4 at 2.7 and 10.6 degrees to the axis: the
// plane lies 0.63 and 0.97 point tolerances inside the sphere's cap at its deepest, and the circle
// reaches 27 and 10.5 tolerances from there. The loop was traced, but every node of it lay in the
// ellipse where the surfaces' gap about the point their tangent planes share stays within the
// tolerance, and it came back as that point alone (2.7e-5 and 1.05e-5 of the size from the
// circle). Either surface first, at sizes 1, 1e6 and 1e-6 moved 1e4 x the size: every point of the
// circle near the branches, every sample on both surfaces, the circle traced once. The plane 0.6
// tolerances outside the cap (of the pair's size, 1.748) crosses nowhere: the point where it
// touches within the tolerance comes back.
TEST_F(HardIntersections, ALoopAFractionOfTheToleranceDeepInASmallSpheresCapIsTraced) {
  PlaneThroughAPole cases[] = {
      {{-0.98149535405285349, -0.18734693285808227, 0.039597938346996285},
       {-0.9743205785086837, -0.21061961227756251, 0.079616513479006459},
       {0.24908132446879241, 0.60351727981598247}, 4e-16, -1.0, 1.0},
      {{-0.98149535405285349, -0.18734693285808227, 0.039597938346996285},
       {-0.9743205785086837, -0.21061961227756251, 0.079616513479006459},
       {0.24908132446879241, 0.60351727981598247}, 4e-16, -1.0, 1e6},
      {{0.61606892117573209, 0.6943749355989004, -0.37189048545693226},
       {0.50528422746609425, 0.68942668573567889, -0.51901704641515389},
       {0.20918504827641496, 0.30036943129861304}, -4e-16, -1.0, 1e-6}};
  cases[2].radius = 1e-4;
  for (const auto& k : cases) ExpectPoleCircleTraced(k, 400, 1e-2);
  PlaneThroughAPole outside = cases[0];
  outside.nudge = -(outside.radius * (1.0 - VecDotProd3(outside.a, outside.n)) + 0.6 * 1.748e-6);
  for (bool sphereFirst : {false, true}) {
    const PoleCircleFit f = MeasurePlaneThroughAPole(outside, sphereFirst, 400, sphereFirst);
    EXPECT_LT(f.off, 1e-6) << sphereFirst;
    EXPECT_LT(f.length, 1e-9) << sphereFirst;
  }
}

// A plane 1.5e-5 of the size beside a pole of a sphere of radius 1e-2 at size 1e6 moved 1e4 x the
// size, the sphere first (its knots as the plane-first run left them): the trace seeded beside the
// pole runs 350 degrees round the circle, and its march back reaches the seam in one step. The
// march continuing it from the seam's far side comes round the last 10 degrees to its forward end,
// and ran on over it round the whole circle again; stopped at the first step along it, it left 3
// degrees out. It ends on that end. Either surface first (the sphere's knots as the plane-first run
// left them): every point of the circle near the branches, every sample on both surfaces, the
// branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchContinuingATraceFromASeamEndsOnItsOtherEnd) {
  PlaneThroughAPole k = {{-0.67569971379940175, 0.70562976249712384, 0.21334604531056939},
                         {-0.94642158245731789, 0.11887931196099799, 0.30025638618798128},
                         {0.36138284438433699, 0.41818611502142972}, 1.46430314687032e-05, -1.0, 1e6};
  k.radius = 1e-2;
  ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// A plane through a pole of a sphere of radius 1e-4 at 16 degrees to its axis, at sizes 1, 1e-6 and
// 1e6 (moved 1e4 x the size): a seed on the sphere's seam 5.5 point tolerances beside the pole met
// the plane within 0.93 of the tolerance, 3 tolerances aside from the circle where the surfaces
// cross so shallowly, and its march ran 20 degrees along beside the loop another march traced, 1
// tolerance off the sphere: that stretch came back twice (the branches 12 and 15 % longer than
// the circle). Either surface first (the sphere's knots as the plane-first run left them): every
// point of the circle near the branches, every sample on both surfaces, the branches as long as
// the circle within 1 %.
TEST_F(HardIntersections, ASeedBesideAPoleWithinTheToleranceIsRefinedOntoTheBranch) {
  PlaneThroughAPole k = {{0.18214298046008051, 0.67265054179615569, 0.71719257057672925},
                         {0.3573511065784063, 0.46634879953520403, 0.80920886290207061},
                         {0.50887229214860163, 0.77794413785433192}, 0.0, -1.0, 1.0};
  k.radius = 1e-4;
  for (double scale : {1.0, 1e-6, 1e6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2, true);
  }
}

// A torus (radii 1 and 0.3 about z, its u seam toward x) and a sphere of radius rs about c, its
// axis across the torus's at the angle alpha round z and its seam turned beta about that axis, all
// turned about (1, 2, 3) by `turn`, at the placement, s[first] first: ExpectWholeBranchesOnBoth.
void ExpectSphereCuttingATorusWhole(const std::array<double, 3>& centre, double rs, double alpha, double beta,
                                    double turn, const Place& at, int first) {
  auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(turn, v); };
  const std::array<double, 3> c = turned(centre);
  const CaseSurface s[2] = {
      {true, Axes(turned({0, 0, 1}), turned({1, 0, 0})), {0, 0, 0}, 1.0, 0.3, 0, 0},
      {false,
       Axes(turned({std::cos(alpha), std::sin(alpha), 0}),
            turned({-std::sin(alpha) * std::cos(beta), std::cos(alpha) * std::cos(beta), std::sin(beta)})),
       {c[0], c[1], c[2]}, rs, 0.0, 0, 0}};
  ExpectWholeBranchesOnBoth(s, at, first);
}

// The same pair (ExpectSphereCuttingATorusWhole) with the sphere about (rc cos p, -rc sin p, zc):
// the loop reaches round the torus's axis to the angle p either side of the centre's, where the
// torus's meridian circle comes within rs of the centre (found by bisection); its farthest point
// round the axis lies on the u seam, which it touches without crossing.
void ExpectSphereTouchingATorusSeamWhole(double rc, double zc, double rs, double alpha, double beta, double turn,
                                         const Place& at, int first) {
  auto nearest = [&](double phi) {
    return std::hypot(std::hypot(rc * std::cos(phi) - 1.0, zc) - 0.3, rc * std::sin(phi));
  };
  double lo = 0.0, hi = M_PI / 2;
  for (int it = 0; it < 200; ++it) (nearest(0.5 * (lo + hi)) < rs ? lo : hi) = 0.5 * (lo + hi);
  const double p = 0.5 * (lo + hi);
  ExpectSphereCuttingATorusWhole({rc * std::cos(p), -rc * std::sin(p), zc}, rs, alpha, beta, turn, at, first);
}

// Spheres whose loop with a torus touches the torus's u seam without crossing it. The tracer
// leaves a node on the seam beside the touching, anywhere along the stretch where the loop runs
// within its tolerance of the seam; the fit's pull from there was held on the seam by the domain
// and slid along it toward the touching, where the two part only with the square of the slide,
// and did not meet. Left loose on the seam, the node bent the curve in the torus's parameters out
// past the seam and back, its points held on the seam: samples 2.9e-6 to 7.9e-6 of the size off
// the sphere beside the touching. The node is pulled onto the loop with the torus's v held. Two
// such pairs on axes turned about (1, 2, 3), at sizes 1e-6 and 1e6 moved 1e4 x the size and at
// size 1 at the origin, in orders where the curves ran off: every sample on both surfaces, every
// exact point of the loop near a branch, no stretch twice.
TEST_F(HardIntersections, ALoopTouchingATorusSeamIsFittedInsideTheSeam) {
  ExpectSphereTouchingATorusSeamWhole(1.4457, -0.4420, 0.3858, 0.4975, 4.6399, 0.0, Placed(1e-6, 1e4), 1);
  ExpectSphereTouchingATorusSeamWhole(1.4457, -0.4420, 0.3858, 0.4975, 4.6399, 0.7, Placed(1.0, 0.0), 0);
  ExpectSphereTouchingATorusSeamWhole(0.7307, -0.0868, 0.3639, 4.7021, 3.7989, -2.4, Placed(1e6, 1e4), 1);
}

// A plane through the centre of a torus (radii 1 and 0.4) at asin 0.4 to its equator touches it
// at two points and cuts it in the two Villarceau circles of radius 1 about (0, +-0.4, 0) in the
// plane, which cross at those points; a plane tangent to a cone along the generator (s, 0, s) runs
// into the apex along it; cylinders of radius 1 about z and about an axis 30 degrees from it meet
// in two ellipses crossing at (0, +-1, 0). With both surfaces' domains scaled by a million or a
// millionth the singular points (the crossings, the contact's points) were sought with the
// normals' equations weighted a millionth of the gap's or a million times it: the arcs stopped
// short of the crossings (2e-2 of the size), 2 to 3 % of the curves came back twice, and the
// contact stopped 0.07 short of the apex. The torus on turned axes at size 1e6 moved 1e4 x the
// size, either surface first, the others at size 1 at the origin: every sample on both surfaces,
// every point of the curves near a branch, the lengths adding up to the curves' (no stretch
// twice), and the arcs' ends meeting.
TEST_F(HardIntersections, SingularPointsAreFoundAlikeOnScaledDomains) {
  const double s = 0.4, c = std::sqrt(1 - s * s), w = std::sqrt(0.5);
  const double b = M_PI / 6, up = 1 / std::tan(b / 2), down = std::tan(b / 2), L = 1.2 * up + 0.5;
  enum Kind { kCone, kTorus, kCylinders };
  // The second surface's axis and first direction for each kind.
  const std::array<double, 3> axis[3] = {{-w, 0, w}, {-s, 0, c}, {std::sin(b), 0, std::cos(b)}};
  const std::array<double, 3> across[3] = {{0, 1, 0}, {c, 0, s}, {0, 1, 0}};
  struct Case {
    Kind kind;
    std::array<double, 3> seam;
    Place at;
    int first;
    double f;
  };
  const Case cases[4] = {{kTorus, {1, 0, 0}, Placed(1e6, 1e4), 0, 1e6}, {kTorus, {1, 0, 0}, Placed(1e6, 1e4), 1, 1e6},
                         {kCone, {0, 1, 0}, Placed(1.0, 0.0), 0, 1e6}, {kCylinders, {1, 0, 0}, Placed(1.0, 0.0), 0, 1e-6}};
  for (const Case& k : cases) {
    const double turn = k.kind == kTorus ? 0.7 : 0.0;
    double frame[3][3];
    TurnedFrame(turn, frame);
    CaseSurface srf[2] = {
        {k.kind == kTorus, Axes(TurnedAbout123(turn, {0, 0, 1}), TurnedAbout123(turn, k.seam)), {0, 0, 0}, 1.0, s, -L, L},
        {false, Axes(TurnedAbout123(turn, axis[k.kind]), TurnedAbout123(turn, across[k.kind])), {0, 0, 0}, 1.0, 0, -L, L}};
    if (k.kind == kCone) {
      srf[0].cone = true, srf[0].R = 0.0, srf[0].R1 = 1.2, srf[0].h0 = 0.0, srf[0].h1 = 1.2;
      srf[1].c[0] = srf[1].c[2] = 0.6;
    }
    srf[1].plane = k.kind != kCylinders;
    BsplineKeeper keep;
    Bspline* sb[2] = {keep(srf[0].Build(k.at)), keep(srf[1].Build(k.at))};
    ScaleDomains(sb[0], k.f);
    ScaleDomains(sb[1], k.f);
    const double size = shapes::PairSize(sb[0], sb[1]) / k.at.scale;
    const std::vector<Branch> bs = Intersect(sb[k.first], sb[1 - k.first], k.at, 1000);
    ASSERT_GE(bs.size(), 1u) << k.kind << " " << k.first;
    const double off = WorstOffBoth(bs, [&](const double* p) { return srf[0].Distance(p); },
                                    [&](const double* p) { return srf[1].Distance(p); });
    // The exact curves in the unturned frame (the two circles, the generator or the two ellipses),
    // and their length as polylines.
    double gap = 0.0, length = 0.0, exact = 0.0, last[2][3];
    for (int i = 0; i <= 720; ++i) {
      const double t = 2 * M_PI * i / 720, g = 1.2 * i / 720;
      const double X[3][2][3] = {{{g, 0, g}, {g, 0, g}},
                                 {{c * std::cos(t), s + std::sin(t), s * std::cos(t)}, {c * std::cos(t), std::sin(t) - s, s * std::cos(t)}},
                                 {{std::cos(t), std::sin(t), up * std::cos(t)}, {std::cos(t), std::sin(t), -down * std::cos(t)}}};
      for (int j = 0; j < (k.kind == kCone ? 1 : 2); ++j) {
        const double* P = X[k.kind][j];
        gap = std::fmax(gap, FromBranchesInFrame(bs, frame, P));
        if (i > 0) exact += std::hypot(P[0] - last[j][0], P[1] - last[j][1], P[2] - last[j][2]);
        std::copy(P, P + 3, last[j]);
      }
    }
    for (const Branch& br : bs) length += Length(br);
    EXPECT_LT(off, 1e-6 * size) << k.kind << " " << k.first;
    EXPECT_LT(gap, 1e-5 * size) << k.kind << " " << k.first;
    EXPECT_NEAR(length, exact, 1e-4 * exact) << k.kind << " " << k.first;
    if (k.kind != kCone) {
      EXPECT_TRUE(EndsMeet(bs, 1e-5 * size)) << k.kind << " " << k.first;
    }
  }
}

// Cylinders of radius 1 about z and about an axis 75 degrees from it meet in two ellipses crossing
// at (0, +-1, 0), the first cylinder's seam through one crossing; all turned about (1, 2, 3) by 0.7,
// at size 1 moved 1e4 x the size, the second cylinder first. A seed on that seam beside the
// crossing, tightened along the seam, stopped at round-off beside it, off every branch, and
// marched into it: a stub of two nodes across the crossing's disc, 6e-5 of the size long, lying
// on the arcs through it (returned twice). With the domains as built and scaled by 1e6 and 1e-6:
// ExpectWholeBranchesOnBoth.
TEST_F(HardIntersections, ASeedOnASeamThroughACrossingMakesNoStub) {
  const double b = 75.0 * M_PI / 180.0, L = 1.2 / std::tan(b / 2) + 0.5, turn = 0.7;
  auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(turn, v); };
  const CaseSurface s[2] = {
      {false, Axes(turned({0, 0, 1}), turned({1, 0, 0})), {0, 0, 0}, 1.0, 0.0, -L, L},
      {false, Axes(turned({std::sin(b), 0, std::cos(b)}), turned({0, 1, 0})), {0, 0, 0}, 1.0, 0.0, -L, L}};
  for (double domains : {0.0, 1e6, 1e-6}) ExpectWholeBranchesOnBoth(s, Placed(1.0, 1e4), 1, 1000, domains);
}

// A plane tangent to a cone (apex at the origin, radius 1.2 at height 1.2, its seam along -x) along
// the generator (s, 0, s), the cone's knots inserted at odd values (u at 0.1234567 and 0.61803 of
// its range, v twice at 0.3) and the plane's refined; turned about (1, 2, 3) by 0.7 at size 1 moved 1e4 x
// the size, the cone first. The contact march's steps into the apex were predicted a few 1e-8 of
// the range off the generator's meridian, where the limits of the cone's normals at the apex stay
// further from the plane's than a singular point's: never located there, the march halved its
// steps and stopped 2.3e-3 of the size short of the apex. Every point of the generator near a
// branch, every sample on both surfaces.
TEST_F(HardIntersections, AContactIntoAnApexOnOddKnotsReachesIt) {
  const double w = std::sqrt(0.5), turn = 0.7;
  auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(turn, v); };
  const std::array<double, 3> touch = turned({0.6, 0, 0.6});  // the plane's centre
  CaseSurface s[2] = {{false, Axes(turned({0, 0, 1}), turned({-1, 0, 0})), {0, 0, 0}, 0.0, 0.0, 0.0, 1.2},
                      {false, Axes(turned({-w, 0, w}), turned({0, 1, 0})), {touch[0], touch[1], touch[2]}, 0.0, 0.0, 0.0, 0.0}};
  s[0].cone = true, s[0].R1 = 1.2;
  s[1].plane = true;
  const Place at = Placed(1.0, 1e4);
  BsplineKeeper keep;
  Bspline* cone = keep(s[0].Build(at));
  Bspline* plane = keep(s[1].Build(at));
  const double lu = cone->knotsU[cone->degreeU], hu = cone->knotsU[NumCtrlU(cone)];
  const double lv = cone->knotsV[cone->degreeV], hv = cone->knotsV[NumCtrlV(cone)];
  double us[2] = {lu + 0.1234567 * (hu - lu), lu + 0.61803 * (hu - lu)}, vs[1] = {lv + 0.3 * (hv - lv)};
  InsertNKnotsToObject(1, 2, 0, cone, 2, us);
  InsertNKnotsToObject(2, 1, 1, cone, 2, vs);
  InsertNKnotsToObject(1, 3, 0, plane, 1, nullptr);
  InsertNKnotsToObject(1, 2, 1, plane, 1, nullptr);
  ASSERT_FALSE(KernelFailed());
  const double size = shapes::PairSize(cone, plane) / at.scale;
  const std::vector<Branch> bs = Intersect(cone, plane, at, 1000);
  ASSERT_GE(bs.size(), 1u);
  double frame[3][3], gap = 0.0;
  TurnedFrame(turn, frame);
  for (int i = 0; i <= 600; ++i) {
    const double g = 1.2 * i / 600, X[3] = {g, 0, g};
    gap = std::fmax(gap, FromBranchesInFrame(bs, frame, X));
  }
  EXPECT_LT(gap, 1e-5 * size);
  EXPECT_LT(WorstOffBoth(bs, [&](const double* p) { return s[0].Distance(p); },
                         [&](const double* p) { return s[1].Distance(p); }),
            1e-6 * size);
}

// A sphere of radius 0.5 about (0, 0, 1) in the cone of half angle 30 degrees about z (apex at the
// origin, its seam `seam` rad round) touches it along the circle of radius 0.433 at height 0.75; the
// sphere's poles turned off the cone's axis (axis a, seam e), all turned about (1, 2, 3) by `turn`, at
// size 1e6 moved 1e4 x the size.
// Every point of the circle near a branch, no stretch twice, every sample on both surfaces.
void ExpectSphereInAConeContactWhole(double turn, double seam, const double a[3], const double e[3], bool coneFirst) {
  double F[3][3], coneSeam[3];
  TurnedFrame(turn, F);
  for (int q = 0; q < 3; ++q) coneSeam[q] = std::cos(seam) * F[0][q] + std::sin(seam) * F[1][q];
  const double ta = std::tan(M_PI / 6), c30 = std::cos(M_PI / 6);
  const Place at = Placed(1e6, 1e4);
  Place centred = at;
  for (int q = 0; q < 3; ++q) centred.shift[q] += at.scale * F[2][q];
  BsplineKeeper keep;
  Bspline* cone = keep(shapes::Cone(F[2], coneSeam, 0.2 * ta, 2.0 * ta, 0.2, 2.0, at));
  Bspline* sphere = keep(shapes::Sphere(a, e, 0.5, centred));
  ASSERT_TRUE(cone && sphere);
  const double size = shapes::PairSize(cone, sphere) / at.scale;
  const std::vector<Branch> bs = coneFirst ? Intersect(cone, sphere, at, 1000) : Intersect(sphere, cone, at, 1000);
  double gap = 0.0, length = 0.0;
  for (int i = 0; i < 720; ++i) {
    const double t = 2 * M_PI * i / 720, X[3] = {0.75 * ta * std::cos(t), 0.75 * ta * std::sin(t), 0.75};
    gap = std::fmax(gap, FromBranchesInFrame(bs, F, X));
  }
  for (const Branch& br : bs) length += Length(br);
  EXPECT_LT(gap, 1e-5 * size) << coneFirst;
  EXPECT_NEAR(length, 2 * M_PI * 0.75 * ta, 1e-2 * 2 * M_PI * 0.75 * ta) << coneFirst;
  EXPECT_LT(WorstInFrame(bs, F, [&](double x, double y, double z) {
              return std::fmax(std::fabs(std::hypot(x, y) * c30 - z * 0.5), std::fabs(std::hypot(x, y, z - 1.0) - 0.5));
            }),
            1e-6 * size)
      << coneFirst;
}

// The contact's march held on a side of the sphere where its steps beside the pole were not
// located was put on the pole as on an apex, with the last node's meridian, and ended there:
// 1.1e-4 of the size of the circle left out. A smooth pole is passed.
TEST_F(HardIntersections, AContactBesideASpheresPoleIsNotEndedOnIt) {
  const double a[3] = {0.80948534945201578, -0.54615054891983106, -0.21552968922428128};
  const double e[3] = {-0.49437518243880246, -0.83203814042122515, 0.25160626358060001};
  ExpectSphereInAConeContactWhole(5.7615425744425188, 1.371348555688789, a, e, true);
}

// The fit's cuts that a free pull put out of order were pulled again with a parameter held, as
// beside a seam a loop touches; on a contact that pull lands anywhere across the band the
// surfaces stay within the tolerance: the sphere first, 3.1e-4 of the size of the circle left out.
TEST_F(HardIntersections, AContactsCutsAreNotPulledWithAParameterHeld) {
  const double a[3] = {-0.13694654489460484, -0.34287239129996028, 0.92934609652468936};
  const double e[3] = {-0.99052463297271287, 0.05717763589241729, -0.12486660653684171};
  ExpectSphereInAConeContactWhole(1.4541898858912377, 1.8307780762275452, a, e, false);
}

// Planes through a pole of a sphere of radius 1e-4 (size 1e-6 moved 1e4 x the size) and 1e-2
// (size 1): the seed refined to within a point tolerance of the pole, not onto it, where the
// sphere's parameter round the pole turns over its whole range within round-off of a step. The
// marches from it crawled into the pole on ever-halving steps: the whole circle came back as a
// trace of the pole's point (4.9e-5 of the size from the branches), or the branches left 0.7 % of
// it out (2.4e-5), or ran 2.7 % of it twice, 1.5e-6 of the size off the surfaces. A seed so near a
// pole the branch runs through is put on the pole. The plane first, then the sphere (its knots as
// the plane-first run left them): every point of the circle near the branches, every sample on
// both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, ASeedWithinAToleranceOfAPoleItsBranchRunsThroughIsPutOnThePole) {
  PlaneThroughAPole cases[] = {
      {{0.089272530059403485, -0.98325025255343546, -0.15890046013274567},
       {0.39110536506985127, -0.83884458209559731, -0.37865071042114928},
       {0.2233841594578225, 0.25247867398041141}, -4e-16, -1.0, 1e-6},
      {{0.18214298046008051, 0.67265054179615569, 0.71719257057672925},
       {0.3573511065784063, 0.46634879953520403, 0.80920886290207061},
       {0.50887229214860163, 0.77794413785433192}, 0.0, -1.0, 1.0},
      {{0.5236396570025067, 0.66548811379401474, 0.53190890198715601},
       {0.54398071153108607, 0.70954394379280061, 0.44792005682832825},
       {0.76520280975071953, 0.51067553741841276}, 0.0, 1.0, 1.0}};
  cases[0].radius = 1e-4;
  cases[1].radius = cases[2].radius = 1e-2;
  for (const auto& k : cases)
    ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// A plane through a pole of a sphere of radius 1e-2 (size 1e6 moved 1e4 x the size), the sphere
// first: a trace ends on the pole, and the march continuing another trace from a seam's far side
// comes round to that pole. Its step onto the pole met the boxes the first trace marked about it
// and was refused as a stretch traced twice, and the stretch from the seam to the pole, over a
// quarter of the circle, was left out (6.4e-4 of the size from the branches). Either surface first
// (the sphere's knots as the plane-first run left them): every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchFromASeamReachingAPoleAnotherTraceEndsOnIsKept) {
  PlaneThroughAPole k = {{0.76100434401736938, 0.64735434613011533, -0.042482219023304554},
                         {0.80646607217793487, 0.58680541920838702, 0.072607674618893114},
                         {0.33024126889317212, 0.79346969101857701}, 0.0, 1.0, 1e6};
  k.radius = 1e-2;
  ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// Planes through a pole of a sphere of radius 1e-2, the sphere first: the forward march ends on
// the pole, and the march back comes round to within a step of it and closed onto it there. Short
// of the pole the branch crosses the sphere's seam and comes into the pole along a meridian beyond
// it, while the closing node on the pole took the forward march's parameter round it: the last
// interval cut round the pole on the seam's near side (samples 1.4e-5 and 2.8e-5 of the size off
// the sphere, points of the circle 3.3e-5 and 5.7e-5 from the branches). The march goes on to the
// seam, and the stretch beyond is continued from its far side. Either surface first (the sphere's
// knots as the plane-first run left them): every point of the circle near the branches, every
// sample on both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AMarchBackClosesOntoAnEndOnAPoleOnlyBesideIt) {
  PlaneThroughAPole cases[] = {
      {{0.78955987472168387, 0.61166714666044297, -0.049583323060794049},
       {0.68549306582275515, 0.5715062977769676, 0.45108736217077078},
       {0.24671028683217644, 0.67984930920738762}, 0.0, 1.0, 1.0},
      {{0.43080936185460678, -0.38481825744045312, 0.81628316317251048},
       {0.0098353621776199884, -0.53214296381216308, 0.84659738466170675},
       {0.47641353966057043, 0.62532102538234557}, 4e-16, 1.0, 1.0}};
  for (auto& k : cases) {
    k.radius = 1e-2;
    ExpectPoleCircleTraced(k, 400, 1e-2, true);
  }
}

// A plane 1.6e-6 of the size inside a pole of a sphere of radius 1e-4, under 4 degrees from its
// tangent plane there. Where the surfaces cross at so shallow an angle a node meeting both within
// the point tolerance lies up to tolB / sine off the circle, and is refined again to tolB x sine;
// beside the pole the tangent planes turn so fast across that band that the refinement ran along
// the circle as far as across it, and the node was left where it was. The march went on along a
// course several tolerances off the circle; the points refined from it landed on the circle, too
// far from the step's aim to be taken, and the march crawled on ever-halving steps: the whole
// circle was lost (1.5e-5 of the size from the branches), or a stub beside it came back with it
// (the branches 1.13 x the circle long). Such a node is pulled across the circle in its own
// cross-section. Either surface first (the sphere's knots as the plane-first run left them), at
// size 1e-6 moved 1e4 x the size: every point of the circle near the branches, every sample on
// both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, ANodeBesideASmallSpheresPoleIsPulledAcrossOntoTheCircle) {
  PlaneThroughAPole k = {{-0.70586435294964689, -0.68093179788229996, 0.19515993919796917},
                         {-0.73142326723744866, -0.63886382908228767, 0.23848063240861608},
                         {0.46059080825967325, 0.58116022693441716}, -1.6491773276964477e-06, 1.0, 1e-6};
  k.radius = 1e-4;
  ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// Planes beside (radius 1e-3, 3.3e-5 from it) and through (radius 1e-2) a pole of a sphere, at size
// 1: the forward march stops on the seam beside the pole, and the march back comes round the
// circle to a step short of the pole. Its landing lay nearer the forward end than its step is
// long, and it closed onto that end with one interval past the pole (0.7 of the radius long, its
// parameter round the pole turning 173 degrees; 175 through it), which the fit took the other way
// round: samples 5.2e-4 and 4.7e-6 of the size off the sphere, the plane first. The landing is kept
// and the march goes on in steps. Either surface first: every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle.
TEST_F(HardIntersections, AMarchBackDoesNotCloseWithAnIntervalRoundAPole) {
  PlaneThroughAPole cases[] = {
      {{0.488992102118392, 0.32695755150411643, -0.80869368958850496},
       {-0.14401382870895207, -0.06647665898152208, -0.98734030149247065},
       {0.74248604031038967, 0.29888689420511927}, 3.3397687849441758e-05, -1.0, 1.0},
      {{0.7200758594864366, -0.45969758122293469, 0.51977773173025887},
       {0.82377511555680716, -0.17992850589521403, -0.53760607488725853},
       {0.44703747656951076, 0.55174886967109504}, 4e-16, -1.0, 1.0}};
  cases[1].radius = 1e-2;
  for (const auto& k : cases)
    ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// A plane through a pole of a sphere of radius 1e-2 (size 1e-6 moved 1e4 x the size), the sphere
// first: a trace ends on the pole, and the march continuing another from the seam's far side steps
// through the pole and lands about 20 point tolerances beyond it, half a turn round the pole. It
// ended there, its last interval turning round the pole by half the range: samples 2.3e-5 of the
// size off the sphere, a point of the circle 2.8e-5 from the branches. A step passing the pole
// another trace ended on ends on the pole, along the meridian it arrives by. Either surface first
// (the sphere's knots as the plane-first run left them): every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle.
TEST_F(HardIntersections, AMarchFromASeamStepsThroughAPoleAnotherTraceEndsOnOntoThePole) {
  PlaneThroughAPole k = {{-0.51375073617051348, 0.83701461983216807, 0.18832606636221896},
                         {0.40857695260563176, 0.8650820672301287, 0.29102902047105683},
                         {0.72306958199379912, 0.52411788869535236}, -4e-16, -1.0, 1e-6};
  k.radius = 1e-2;
  ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// A plane a point tolerance (1.65e-6 and 1.82e-6 of the size) inside a pole of a sphere of radius
// 1e-2 or 1e-4, 3.8 and 13.7 degrees off its tangent plane there: the pole lies within the tolerance
// of the plane but 14 and 4.4 tolerances from the circle, and every seed was refined onto it. The
// loop's march from there ran through the pole (the circle beside it 1.1e-5 to 1.5e-5 of the size
// from the branches; at size 1e6, the sphere first, the circle came back twice), or crawled round
// the pole for two tolerances and stopped (the circle lost, 2.9e-5). A seed on a pole that meets
// the other surface only within the tolerance is refined again from beside the pole onto the
// circle. Either surface first (the sphere's knots as the plane-first run left them), at sizes 1
// and 1e6 moved 1e4 x the size: every point of the circle near the branches, every sample on both
// surfaces, the circle traced once.
TEST_F(HardIntersections, ASeedOnAPoleJustInsideAPlaneIsRefinedOntoTheCircleBesideIt) {
  PlaneThroughAPole cases[] = {
      {{-0.70586435294964689, -0.68093179788229996, 0.19515993919796917},
       {-0.73142326723744866, -0.63886382908228767, 0.23848063240861608},
       {0.46059080825967325, 0.58116022693441716}, -1.6491773276964477e-06, 1.0, 1.0},
      {{-0.70586435294964689, -0.68093179788229996, 0.19515993919796917},
       {-0.73142326723744866, -0.63886382908228767, 0.23848063240861608},
       {0.46059080825967325, 0.58116022693441716}, -1.6491773276964477e-06, 1.0, 1e6},
      {{0.91664200369977344, 0.043451662473267164, -0.3973403957333988},
       {0.81349594229205424, -0.077033682126083455, -0.57644614986350673},
       {0.37488025263230351, 0.3413961336034701}, -1.8193356851986632e-06, 1.0, 1.0}};
  cases[0].radius = cases[1].radius = 1e-2;
  cases[2].radius = 1e-4;
  for (const auto& k : cases) ExpectPoleCircleTraced(k, 400, 1e-2, true);
}

// A cone (apex at the origin, radius 1 at height 1, its seam at the angle `seam` round the axis)
// and a plane through its apex whose normal lies `tilt` degrees off the axis, at the angle az round
// it: the plane cuts the cone in two generators meeting at the apex (at 46 degrees 30 degrees
// apart round the axis, 21 degrees apart in space). All turned about (1, 2, 3) by `turn`, at the
// placement, cone (0) or plane (1) first: ExpectWholeBranchesOnBoth.
void ExpectPlaneThroughAnApexWhole(double turn, double az, double seam, const Place& at, int first,
                                   double tilt = 46.0) {
  auto turned = [&](std::array<double, 3> v) { return TurnedAbout123(turn, v); };
  const double th = tilt * M_PI / 180.0;
  CaseSurface s[2] = {
      {false, Axes(turned({0, 0, 1}), turned({std::cos(seam), std::sin(seam), 0})), {0, 0, 0}, 0.0, 0.0, 0.0, 1.0},
      {false,
       Axes(turned({std::sin(th) * std::cos(az), std::sin(th) * std::sin(az), std::cos(th)}),
            turned({-std::sin(az), std::cos(az), 0})),
       {0, 0, 0}, 0.0, 0.0, 0.0, 0.0}};
  s[0].cone = true;
  s[0].R1 = 1.0;
  s[1].plane = true;
  ExpectWholeBranchesOnBoth(s, at, first, 4000);
}

// A plane through a cone's apex, seeded on the apex. The step off it went along the meridian
// nearest the line where the plane meets the plane across the axis (the tangent plane of a
// smooth pole), which does not lie in the plane: refined back into the apex, the march made no
// branch and one generator was lost whole (0.085 to 0.099 of the size from the branches). Where
// the step took a generator, the check that it follows the branch used the seed's normal along
// the seed's own meridian, and refused it; a forward march onto the generator traced already
// dropped the seed, whose march back would take the other; and the march back was held to the
// way against the first forward node, which the other generator does not keep. Whichever surface
// first, at sizes 1 and 1e-6 moved 1e4 x the size: both generators whole, every sample on both.
TEST_F(HardIntersections, APlaneThroughAnApexSeededOnItGivesBothGenerators) {
  ExpectPlaneThroughAnApexWhole(4.0875939998091857, 3.1994234917014062, 5.9576254921493064, Placed(1.0, 1e4), 1);
  ExpectPlaneThroughAnApexWhole(1.4837846799804559, 3.025102042237243, 5.8270801555939773, Placed(1.0, 1e4), 0);
  ExpectPlaneThroughAnApexWhole(3.9449406370923046, 0.38261898903426589, 3.8677573263780611, Placed(1e-6, 1e4), 1);
}

// A plane through a cone's apex whose branch from a seed on the apex has the apex for its first
// node, with the seed's parameter round the apex, not the generator's. A seed beside the apex on
// that generator took the node's tangent (the limit of its normal along the seed's meridian) for
// the branch's there, unlike its own, and was traced again: a trace crawling round the apex into
// it, 4.2e-5 of the size off the surfaces. The chord's other node gives the tangent. Sizes 1e6
// and 1e-6 moved 1e4 x the size, either surface first: every sample on both, no spurious trace.
TEST_F(HardIntersections, ASeedBesideAnApexOnATracedGeneratorIsNotTracedAgain) {
  ExpectPlaneThroughAnApexWhole(2.803145740053314, 1.3956497000009001, 0.46096070172305592, Placed(1e6, 1e4), 0);
  ExpectPlaneThroughAnApexWhole(3.9036309299817789, 2.7801366420279621, 5.6401834345178949, Placed(1e-6, 1e4), 1);
}

// A plane through a cone's apex whose normal lies 59.7 degrees off the axis: the generators meet
// at 70 degrees. The march back from a seed on one generator stepped past the apex; refined onto
// it, the node's parameter round the apex was left on its range's end, the step crossed every box
// line along the apex's side and half of it was taken, round the apex in the parameters, onto the
// other generator: no node on the apex, the corner cut off (samples 4.8e-4 of the size off the
// surfaces). The node on the apex keeps the generator's parameter. The plane first at size 1 moved
// 1e4 x the size: every sample on both surfaces, both generators whole.
TEST_F(HardIntersections, AMarchBackStepsOntoAnApexNotPastIt) {
  ExpectPlaneThroughAnApexWhole(0.57287137714115455, 3.908865115629609, 5.5706745800726205, Placed(1.0, 1e4), 1, 59.7);
}

// A plane through a cone's apex whose normal lies 80 degrees off the axis, seeded beside the apex
// (6e-4 of a generator from it) on the generator not traced yet: the march toward the apex took
// ever shorter steps, and within the point tolerance of the apex, where every point meets both
// surfaces, crawled round it onto the generator traced already. The two generators came back as
// one branch, its corner at the apex rounded off by the fit (samples 1.85e-6 of the size off the
// surfaces 3.2e-6 of the size from the apex). A step landing that close to the apex is put on it.
// The cone first, at size 1e6 moved 1e4 x the size: every sample on both, both generators whole.
TEST_F(HardIntersections, AMarchCrawlingOntoAnApexStopsOnIt) {
  ExpectPlaneThroughAnApexWhole(0.25139800506034832, 4.6044594880453715, 5.6320831706628933, Placed(1e6, 1e4), 0, 80.0);
}

// A sphere about (rc, 0, zc) through the torus's outermost point (1.3, 0, 0), where its u seam
// meets the outer equator, its v seam: the loop crosses the u seam there and touches the v seam
// without crossing it, running along it within the point tolerance for about 1e-4 of the torus's
// u. Marches round the loop reached the v seam inside that stretch, short of the u seam, and the
// pull deciding whether they only touched it started half a step ahead, beyond the u seam:
// clamped onto it, it slid back along the v seam and met the loop behind the march, which took
// the touching for a crossing and stopped; the short stretch on to the u seam came back from the
// v seam's far side as well as from a seed there (0.1 to 1.0 of a branch twice). The pull starts
// no farther ahead than the u seam. Two such pairs on axes turned about (1, 2, 3), at size 1 at the
// origin and at sizes 1e-6 (the sphere first) and 1e6 moved 1e4 x the size: every sample on both
// surfaces, every exact point of the loop near a branch, no stretch twice.
TEST_F(HardIntersections, ALoopTouchingOneSeamWhereItCrossesAnotherComesBackOnce) {
  const struct { double rc, zc, alpha, beta, turn; } k[2] = {{1.1073633, 0.1636250, 3.0668495, 2.4364672, 0.7},
                                                              {1.0138470, 0.3415448, 1.0668021, 5.1904656, 0.0}};
  for (const auto& c : k)
    for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
      ExpectSphereCuttingATorusWhole({c.rc, 0.0, c.zc}, std::hypot(c.rc - 1.3, c.zc), c.alpha, c.beta, c.turn, at,
                                     at.scale == 1e-6 ? 1 : 0);
}

// Spheres through the torus's outer equator (radii 1 and 0.3), its v seam, beside its u seam: the
// loop touches the v seam without crossing it, running along it within the point tolerance, and
// crosses the u seam a few dozen tolerances on. Marches reached the v seam inside that stretch,
// and the pull deciding whether they only touched it, starting no farther ahead than the u seam,
// came back within a hundred tolerances of the march: the touching was taken for a crossing, and
// the stretch on to the u seam was left out (every exact point there 1.25e-5 to 2.4e-5 of the size
// from a branch). The pull is made again from half a step ahead across the u seam. Marches that go
// on there leave a node at the touching close to the next, and the fit's pulls between them slid
// along the stretch onto the nodes: its cuts are pulled again with the parameter changing most
// held (without, samples 1.1e-6 to 1.8e-6 of the size off the surfaces). Either surface first, at
// sizes 1e6 and 1e-6 moved 1e4 x the size: every sample on both, every exact point near a branch,
// no stretch twice.
TEST_F(HardIntersections, ALoopTouchingTheOuterEquatorBesideTheUSeamIsTracedOnToIt) {
  const CaseSurface k[3][2] = {
      {{true, Axes({0.029414189718769194, -0.7980253444473453, -0.60190560311637265}, {0.91695985127874358, -0.2181591827890573, 0.33405269360936912}),
        {-0.092678919063467535, -0.061418276222117978, -0.078148283713034783}, 1, 0.3, 0, 0},
       {false, Axes({-0.23697032453428232, 0.57943223425839929, -0.77980981732242671}, {0.58676668140699018, -0.55437445167645782, -0.59023201278739057}),
        {0.91529321582199952, -0.52498755778075878, 0.11576920878629973}, 0.35219157541591956, 0, 0, 0}},
      {{true, Axes({0.32203967372573522, -0.29021937112204493, 0.90114547392313238}, {-0.49925259199647765, 0.75668310539856365, 0.42211079989640732}),
        {0.0069440257866555388, 0.19149199036086137, 0.16395857356430238}, 1, 0.3, 0, 0},
       {false, Axes({-0.85383381694464089, 0.32215260485042574, 0.40888325012138982}, {0.47906489591558576, 0.79357853411181101, 0.37513988817284927}),
        {-0.67883926110269199, 1.2043564540750455, 0.58644832660227708}, 0.13469347705927492, 0, 0, 0}},
      {{true, Axes({0.39976503533871505, -0.670264718480438, 0.62524645035455861}, {-0.68051693039281347, 0.2399499155288006, 0.69232993975882917}),
        {0.17427887028512323, -0.0014156635470261138, -0.15176512966292222}, 1, 0.3, 0, 0},
       {false, Axes({0.74328735282214853, 0.63621148043509435, 0.20678216387596995}, {0.64529389357115685, -0.76337750221304668, 0.029164705291612525}),
        {-0.75689671103441947, 0.55635398325851471, 0.34825760019035656}, 0.4718074429863976, 0, 0, 0}}};
  ExpectWholeBranchesOnBoth(k[0], Placed(1e6, 1e4), 0);
  ExpectWholeBranchesOnBoth(k[1], Placed(1e-6, 1e4), 1);
  ExpectWholeBranchesOnBoth(k[2], Placed(1e6, 1e4), 1);
}

// Spheres whose loop with a torus (radii 1 and 0.3) touches the torus's u seam from one side,
// running along it within the point tolerance. A seed on the seam's other end, beside the
// touching, marched a few nodes along the seam: a trace lying wholly on the loop, which was not
// dropped, the pulls from the loop's chords beside it sliding along the seam to wherever the gap
// came within the tolerance, or, its nodes a round-off off the seam's end, not held on the seam at
// all (a branch lying on another, its samples up to 2.2e-6 of the size off the surfaces). The loop
// is sought beside such a node with the parameter along the seam held at the node's. At size 1
// moved 1e4 x the size, either surface first, and at size 1e-6: every sample on both, every exact
// point near a branch, no stretch twice.
TEST_F(HardIntersections, ATraceAlongASeamTheLoopTouchesFromItsOtherEndIsDropped) {
  const CaseSurface k[3][2] = {
      {{true, Axes({0.96878976425202856, -0.19863512943774062, -0.14829186772628858}, {0.20022442713272101, 0.97974068564023331, -0.004285753210252285}),
        {0.0095301466489668765, -0.042539437617954735, 0.089933015082149792}, 1, 0.3, 0, 0},
       {false, Axes({-0.21135983496089508, -0.97448814632823733, -0.075497502151124843}, {-0.79507031158773744, 0.21634367862588472, -0.56662034233726399}),
        {0.24389885858567562, 0.65218128229412031, 0.21141047021608769}, 0.13781563667231661, 0, 0, 0}},
      {{true, Axes({0.23087256211859586, -0.53559523322027414, -0.81230265678041147}, {-0.61681491742739314, 0.56509654995928416, -0.54790988936425722}),
        {-0.13761468050346132, -0.062910609732686695, 0.086193565809296449}, 1, 0.3, 0, 0},
       {false, Axes({-0.9582706594515783, -0.26980365906214276, -0.094463372747940783}, {-0.2349042887282411, 0.93152391812901625, -0.27763855116075814}),
        {-0.81610138969101342, 0.85866633936512338, -0.47402117250683323}, 0.18031721592674699, 0, 0, 0}},
      {{true, Axes({-0.24195036170384662, 0.97018911090716453, 0.013896458129441737}, {0.94936194771276561, 0.2396662667280641, -0.2031550462766227}),
        {0.11969775315686736, 0.084768803447852967, -0.13135515104559234}, 1, 0.3, 0, 0},
       {false, Axes({-0.75117836192165643, -0.17822868083531077, -0.63558288673343144}, {-0.0096354721568404442, -0.95979637276846508, 0.28053178161629422}),
        {0.89643026054895902, 0.093784626154675352, -0.54125997977522344}, 0.24921606380947778, 0, 0, 0}}};
  ExpectWholeBranchesOnBoth(k[0], Placed(1.0, 1e4), 0);
  ExpectWholeBranchesOnBoth(k[1], Placed(1.0, 1e4), 1);
  ExpectWholeBranchesOnBoth(k[2], Placed(1e-6, 1e4), 0);
}

// A sphere whose loop with the torus touches its u seam beside the v seam, where the sphere's seam
// crosses the loop too: two traces ended on the u seam inside the stretch the loop runs along it
// within the point tolerance, one from each way, taking the touching for a crossing; the later
// one was continued from the seam's far side, along the seam back over the other's stretch (a
// branch lying wholly on another). A continuation running along a seam, none of its nodes on a
// pole, whose nodes all lie on other branches goes. Size 1e6 moved 1e4 x the size, the torus
// first: every sample on both, every exact point near a branch, no stretch twice (the two traces
// ending on the seam still overlap within the touching's stretch, 9 % of the shorter one, which
// 4000 samples of each branch measure).
TEST_F(HardIntersections, AContinuationAlongASeamTheLoopOnlyTouchesIsDropped) {
  const CaseSurface k[2] = {
      {true, Axes({0.10366785628781527, 0.8450169406848751, -0.52459445815626293}, {0.73905374534212853, -0.41842025908197439, -0.52794322449061315}),
       {-0.04421033685710072, -0.16950922815544422, -0.16132665205909402}, 1, 0.3, 0, 0},
      {false, Axes({-0.57952926481368472, -0.37733371506401997, -0.72233309400891721}, {0.79370065878958007, -0.46242393103435819, -0.39522572315541132}),
       {0.57725775672070023, -0.86652126110879701, -1.2919897866856878}, 0.57617087527517141, 0, 0, 0}};
  ExpectWholeBranchesOnBoth(k, Placed(1e6, 1e4), 0, 4000);
}

// Planes 12 and 15 point tolerances beside a pole of a sphere of radius 1e-2, the plane first: the
// march from the seed heads for the pole in a step half as long as those it takes round the rest
// of the circle, and came back to the seed in a step that passed over that whole first chord,
// landing beyond the first node and so never beside the chord: the march went round the circle a
// second time (the branches twice the circle long). Either surface first, at sizes 1 and 1e6 moved
// 1e4 x the size: every point of the circle near the branches, every sample on both surfaces, the
// circle traced once.
TEST_F(HardIntersections, AStepPassingOverTheWholeFirstChordClosesTheLoop) {
  PlaneThroughAPole cases[] = {
      {{0.69597403730460217, 0.71749922582992942, 0.028548210651178269},
       {-0.42199692122636118, 0.90336218125616707, 0.076520376054829156},
       {0.78863259613308023, 0.39530369570412094}, 2.0973923567822731e-05, 1.0, 1.0},
      {{-0.32442421993534853, 0.80302073375107419, 0.49990661796502234},
       {0.60828434495046557, 0.26325895080624084, -0.74878894256564732},
       {0.35862943377138978, 0.70327817669907966}, 2.8877041540789185e-05, -1.0, 1e6}};
  for (PlaneThroughAPole& k : cases) {
    k.radius = 1e-2;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// Planes 10 and 9 point tolerances beside a pole of a sphere of radius 1e-2, the plane first: the
// circle dips across the sphere's seam for 23 degrees beside the pole. The forward march from the
// seed stops on the seam where the dip ends, and the march back round the circle landed within
// its step's chord of that end short of the dip (the circle being smaller than the reach a forward
// end is closed from). Closed onto the end, the last interval passed over the dip, whose stretch
// beyond the seam was never traced, and the curves on the sphere cut across it (samples 1.03e-5 of
// the size off the surfaces). The interval up to the forward end is searched for a dip too. Either
// surface first, at sizes 1 and 1e-6 moved 1e4 x the size: every point of the circle near the
// branches, every sample on both surfaces, the circle traced once.
TEST_F(HardIntersections, AStepClosingShortOfTheForwardEndDoesNotCloseOverADipAcrossASeam) {
  PlaneThroughAPole cases[] = {
      {{-0.30832624988945245, 0.85683482417731249, 0.41324206913882938},
       {0.021351091486545598, 0.89666601766561116, 0.44219247354068264},
       {0.77671414825736185, 0.25883725052938522}, 1.9121909247981454e-05, 1.0, 1.0},
      {{0.2826538449176394, 0.87753629559148694, 0.38734590984396039},
       {0.76921041445631511, 0.2899186188354172, -0.56944054364306373},
       {0.34661789047331504, 0.27018973587217493}, 1.6792722090728921e-05, 1.0, 1e-6}};
  for (PlaneThroughAPole& k : cases) {
    k.radius = 1e-2;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first (size 1e-6 moved 1e4 x the size): the trace seeded on the sphere's seam
// beside the pole runs 8 degrees through it, and the march continuing it from the seam's far side
// goes round the rest of the loop to its other end. Having left its seed's boxes it no longer
// read the marks, and ran on over that trace into the pole: 8 degrees twice (366 turned). It ends
// on the end it reaches. Either surface first: every exact point of the loop near a branch, every
// sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AContinuationReachingAnotherTracesEndEndsThere) {
  const SunkSphereThroughPole k(3.8933603404474177, 0.2204462906292585, 1.3102763544310234, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e-6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: seeded on the pole, the march runs round the loop to the sphere's seam,
// which the loop leaves 22 point tolerances from the pole at a shallow angle, and the march from
// the seam's far side runs on to the pole. The first trace's end on the seam, 0.98 of a tolerance
// loose, was pulled onto both surfaces with its parameter held on the seam and slid 11 tolerances
// along it toward the pole (2.9 times its gap over the normals' sine of 0.25): 10 degrees twice.
// Either surface first, at size 1: every exact point of the loop near a branch, every sample on
// both surfaces, the loop traced once.
TEST_F(HardIntersections, AnEndOnASeamTheLoopLeavesBesideAPoleIsNotSlidBackOverTheLoop) {
  const SunkSphereThroughPole k(1.9029337657889147, 1.2589576424471265, 1.6440034655728377, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the sphere first: seeded on the pole, the march runs half round the loop to the sphere's
// seam, 130 point tolerances from the pole, where the two surfaces meet at a sine under 0.3. The
// step past the seam was pulled back onto it, and the tightening beside the branch refined that
// point freely: it slid off the seam to 9.4e-5 of the parameter's range, where the march stopped
// for the seam all the same. No continuation starts short of a seam: half the loop (176 degrees)
// was left out, 9.2e-5 of the size. Either surface first, at size 1: every exact point of the loop
// near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AStepPulledOntoASeamBesideAShallowCrossingStaysOnIt) {
  const SunkSphereThroughPole k(4.86356966514641, 3.5315600295230936, 3.2116186888223415, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// Planes 1.2 to 1.5 point tolerances beside a pole of a sphere of radius 1e-2, 1e-3 and 1e-4
// cross its seam within a tolerance of the pole. The march ending there was put on the pole, which
// lies that far off the plane, and the curves into it missed the plane by as much (samples 1.21,
// 1.49 and 1.15e-6 of the size off). An end goes onto a pole beside it only where the pole lies on
// the other surface. Either surface first: every sample on both surfaces, every point of the
// circle near the branches, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, AnEndBesideAPoleOffTheOtherSurfaceStaysOffThePole) {
  PlaneThroughAPole cases[] = {
      {{-0.13683120020572803, -0.33797766913505478, 0.93115429323839527},
       {-0.60118533014123954, 0.70996153277644958, 0.36678443369462033},
       {0.79347331826733258, 0.38957034982994593}, -2.2245911428654912e-06, -1.0, 1.0},
      {{-0.36617506555988621, -0.17142693560029704, -0.91461938920673713},
       {0.7511489624041825, -0.66004923892152512, -0.010499451330212154},
       {0.40190352432267001, 0.74506302292604021}, 2.9154605093828598e-06, -1.0, 1.0},
      {{0.45353934462219042, -0.14018559152742527, 0.88014206967272035},
       {0.01881268853813578, 0.86704501665083789, 0.49787450411817169},
       {0.23363831928169199, 0.26408138428557382}, -2.2200136836016823e-06, -1.0, 1e-6}};
  const double radii[] = {1e-2, 1e-3, 1e-4};
  for (int i = 0; i < 3; ++i) {
    cases[i].radius = radii[i];
    ExpectPoleCircleTraced(cases[i], 400, 1e-2);
  }
}

// Planes 0.35 to 1.5 point tolerances beside a pole of a sphere of radius 1e-4, 1e-3 and 1e-2,
// crossing it steeply (normals' sine above 0.97): the march crawls past the pole in steps of a
// fraction of the tolerance, its nodes up to a tolerance beside the branch. Such a node pulled on
// moves across the branch farther than half the way to a neighbour, and was kept as traced: the
// curves zigzagged between it and the nodes beside it on the branch (the circle 1.6 % long at
// r 1e-4, samples 1.2e-6 and 7.4e-5 of the size off at r 1e-3 and 1e-2). A pull that moves a node
// no farther than crossing the branch takes is kept. Either surface first: every sample on both
// surfaces, every point of the circle near the branches, the branches as long as the circle
// within 1 %.
TEST_F(HardIntersections, ANodeBesideAPolePulledAcrossTheBranchIsKept) {
  PlaneThroughAPole cases[] = {
      {{-0.19408809412052025, 0.35328974117852296, -0.91515909573072385},
       {-0.8919125449231986, -0.44025080113034332, -0.10330171495533833},
       {0.24410998350470423, 0.25906473608520963}, 2.4776812505191871e-06, -1.0, 1.0},
      {{0.78172325712931379, -0.08845349091740877, -0.61732060487858398},
       {0.50868945023694334, 0.79918533555281202, 0.32021530671561516},
       {0.25133393253082226, 0.64334026771128006}, 2.7125202742727666e-06, 1.0, 1.0},
      {{-0.86629804468926286, 0.35227103924633119, 0.35416495122452418},
       {0.071266595275490202, -0.14063492588564697, 0.98749323542947787},
       {0.67258451948833575, 0.55903178455176095}, 6.4852437590443343e-07, 1.0, 1e-6}};
  const double radii[] = {1e-4, 1e-3, 1e-2};
  for (int i = 0; i < 3; ++i) {
    cases[i].radius = radii[i];
    ExpectPoleCircleTraced(cases[i], 400, 1e-2);
  }
}

// Planes 1.4 to 1.9 point tolerances beside a pole of a sphere of radius 1e-4, 1e-3 and 1e-2,
// crossing it at normals' sines of 0.37 to 0.47: the march crawling past the pole left nodes up to
// a tolerance beside the branch between nodes on it, and their pulls across the branch were
// refused as too long for the room between neighbours (the circle 5.7 % and 1.2 % long at r 1e-4
// and 1e-3, samples 1.4 to 1.6e-6 of the size off). Either surface first: every sample on both
// surfaces, every point of the circle near the branches, the branches as long as the circle within
// 1 %.
TEST_F(HardIntersections, ANodeBesideAPolePulledAcrossAModerateCrossingIsKept) {
  PlaneThroughAPole cases[] = {
      {{-0.66455606112060139, 0.70349544606988224, 0.25191149038265204},
       {0.2305582581761989, -0.94649695722714522, -0.2258016818947827},
       {0.67013422298324532, 0.33003316414585915}, -2.9368244033948199e-06, 1.0, 1.0},
      {{-0.009811520495141661, 0.9875342856050241, 0.15709795931248896},
       {-0.041725906030735962, 0.86573164973726524, 0.49876613699118277},
       {0.58303868392709901, 0.76114242435663515}, 2.747427236778125e-06, -1.0, 1.0},
      {{0.61346210474861473, -0.78870873678516196, 0.04003466692947108},
       {-0.20519483103983444, 0.94377244974253405, -0.25920772446343138},
       {0.34158454157089135, 0.22616471379797706}, -2.8403295554132236e-06, -1.0, 1.0}};
  const double radii[] = {1e-4, 1e-3, 1e-2};
  for (int i = 0; i < 3; ++i) {
    cases[i].radius = radii[i];
    ExpectPoleCircleTraced(cases[i], 400, 1e-2);
  }
}

// A plane 0.9 point tolerances off a pole of a sphere of radius 1e-4, at 12 degrees to its axis:
// the seed refined onto the pole, on the seam of the parameter round it, meets the plane only
// within the tolerance and is moved off the pole onto the branch; but the branch lay just across
// the seam, where the refinement held in the domain never reached, and the march from the pole
// traced the pole alone, every other seed beside it (2.9e-5 of the size from the branches) or
// a loop traced round twice (1.16 of the circle). The refinement starts from the seam's other end
// as well. At size 1e-6 moved 1e4 x the size and at size 1, either surface first.
TEST_F(HardIntersections, ASeedMovedOffAPoleOnASeamReachesABranchAcrossIt) {
  PlaneThroughAPole k = {{-0.73157482239377758, 0.68138576092332437, -0.022621318495063342},
                         {0.77560031676883412, -0.57263614264287455, 0.26557860751042034},
                         {0.30165849952414725, 0.78099174886250311}, -1.41921005509663e-06, 1.0, 1e-6};
  k.radius = 1e-4;
  for (const double scale : {1e-6, 1.0}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// A plane through both poles of a sphere of radius 1e-4 (a round-off off them) meets it in two
// meridians. The march seeded on one pole ran along one of them to the other pole; the step back
// off the seed landed on the opposite meridian across five box lines and was halved, and the
// mean of the seed's parameter round the pole (any) and the landing's is a meridian off the
// plane, from whose middle the refinement ran back into the pole. Every seed on the second
// meridian lay beside the traced branch: half the circle lost (8.5e-5 of the size from the
// branches). At sizes 1 and 1e6 moved 1e4 x the size, either surface first.
TEST_F(HardIntersections, AStepOffAPoleHalvedKeepsTheLandingsMeridian) {
  PlaneThroughAPole k = {{0.40702858009188597, 0.90473228904379011, 0.12564720510209071},
                         {0.79293448710998626, -0.41674532367873179, 0.44449773266410714},
                         {0.21478755031913721, 0.51810896589958388}, -4e-16, 1.0, 1.0};
  k.radius = 1e-4;
  for (const double scale : {1.0, 1e6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, seeded on the pole: the march back from it runs to the sphere's seam, which the loop
// crosses at a shallow angle (sine 0.24), where the forward march ended. Its last step, pulled
// back onto the seam, met both surfaces 5 point tolerances along the seam from the forward end,
// farther than its own length: the loop was left open there and 4.7 degrees of it lost. At sizes
// 1 and 1e-6 moved 1e4 x the size, either surface first: the loop traced once.
TEST_F(HardIntersections, AMarchBackStoppedOnASeamBesideTheForwardEndClosesThere) {
  const SunkSphereThroughPole k(6.2143728455842417, 0.34096386720748706, 2.0988129775250561, 1e-3);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4)}) ExpectSunkLoopThroughPole(k, at, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, seeded on the sphere's seam beside the pole: the march round the loop came back into the
// pole along a meridian a fifth of the range from the seam, and the step clamped onto the pole
// was given the seam's far end for its parameter round it. The last interval swept round the
// pole in the sphere's parameters, and the stretch into the pole was dropped (15 degrees of the
// loop). At sizes 1e-6 moved 1e4 x the size and 1, either surface first: the loop traced once.
TEST_F(HardIntersections, AStepClampedOntoAPoleKeepsTheMeridianItArrivesAlong) {
  const SunkSphereThroughPole k(0.93444572115699354, 3.1631872139833455, 0.50864952108003192, 1e-3);
  for (const Place& at : {Placed(1e-6, 1e4), Placed(1.0, 0.0)}) ExpectSunkLoopThroughPole(k, at, M_PI / 180);
}

// Planes beside a pole of a sphere of radius 1e-3 (half a point tolerance off it, meeting it at
// sines 0.68 and 0.92), the sphere first: the loop is seeded beside the pole, crawls round it in
// short steps and comes back toward the seed in steps some 200 point tolerances long, the crawl's
// nodes within half the last one of the march's end a step before it passes the seed. That was
// taken for a march caught going round another branch's loop: it stopped 10 degrees short of the
// seed, and the march from the seam's far side stopped at once on that end (1.2 % and 2.8 % of
// the circle left out, 3.7e-5 of the size from the branches). Either surface first, at sizes 1e-6
// moved 1e4 x the size and 1: every point of the circle near the branches, every sample on both
// surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, ALoopSeededBesideAPoleComesBackToItsSeedInLongSteps) {
  const PlaneThroughAPole cases[] = {
      {{0.99485408467646996, 0.096178039778216956, -0.031861181192203283},
       {0.74885104424498439, 0.12785647441388115, 0.65028827106418663},
       {0.53448611705731497, 0.78251910758099896}, 8.408230341819778e-07, -1.0, 1e-6},
      {{0.91601707497198237, 0.11149275693622282, -0.38533373004518334},
       {-0.09174748991873255, 0.36945356200660701, 0.92470885343130693},
       {0.51274623109057138, 0.69049059844230731}, -9.3174379773158179e-07, -1.0, 1.0}};
  for (const auto& k : cases) ExpectPoleCircleTraced(k, 400, 1e-2);
}

// A plane beside a pole of a sphere of radius 1e-3 (a point tolerance off it; size 1e6 moved 1e4 x
// the size), the sphere first: the circle crosses the sphere's seam twice beside the pole, 75 point
// tolerances apart, and is traced from one crossing round to the other, both ends on the seam's
// near side. Each end was taken for the other's continuation across the seam and the stretch
// beyond it left out (2.3 % of the circle, 3.1e-5 of the size from the branches). Either surface
// first: every point of the circle near the branches, every sample on both surfaces, the branches
// as long as the circle within 1 %.
TEST_F(HardIntersections, ALoopCrossingASeamTwiceBesideAPoleIsContinuedBeyondIt) {
  const PlaneThroughAPole k = {{0.96605465053472483, 0.2407995292974372, -0.093562807088946903},
                               {-0.70040122712153474, -0.31429216864909831, -0.64082646151083311},
                               {0.26821692383091267, 0.28444230176848351}, -1.7007378809631693e-06, 1.0, 1e6};
  ExpectPoleCircleTraced(k, 400, 1e-2);
}

// A plane a tenth of a point tolerance beside a pole of a sphere of radius 1e-3 (meeting it at a
// sine of 0.8): the circle passes the pole within a fifth of a point tolerance and crosses the
// sphere's seam two point tolerances from it, where the loop is closed on a node on the seam. The
// march arrives there from the seam's low end, the parameter round the pole swung half a turn
// beside it, and the node kept the seam's high end for both ends of the loop: the last interval ran
// round the pole in the sphere's parameters (at size 1e6 moved 1e4 x the size, the plane first, its
// curve 2.4e-5 of the size off the plane). At sizes 1, 1e-6 and 1e6 (moved 1e4 x the size), either
// surface first: every point of the circle near the branches, every sample on both surfaces, the
// branches as long as the circle within 1 %.
TEST_F(HardIntersections, ALoopClosedOnASeamNodeBesideAPoleTakesTheSeamsEndAtEachEnd) {
  PlaneThroughAPole k = {{-0.35836448799227033, 0.76684361789966493, -0.5324713695895682},
                         {-0.51993353034601608, -0.78221723560856593, 0.34322779657076413},
                         {0.54641349838810949, 0.27115190278046269}, 2.0439856150459468e-07, 1.0, 1.0};
  for (const double scale : {1.0, 1e-6, 1e6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// A plane through a pole of a sphere of radius 1e-2 (meeting it at a sine of 0.35), whose circle
// crosses the sphere's seam 300 point tolerances from the pole: the loop, closed on its node on
// the seam, steps from there through the pole, and the fit's cut of that step is pulled onto the
// pole. That node has one parameter round the pole, while the branch arrives along one meridian
// and leaves along the opposite one: the curves through it swung round the pole on either side,
// and every cut between it and its neighbours landed on the other arm of the branch and was
// refused (the plane first, at size 1: the curves 2.1e-5 of the size off the plane). At sizes 1,
// 1e-6 and 1e6 (moved 1e4 x the size), either surface first: every point of the circle near the
// branches, every sample on both surfaces, the branches as long as the circle within 1 %.
TEST_F(HardIntersections, ABranchIsCutAtANodeTheFitPutOnAPoleItPassesThrough) {
  PlaneThroughAPole k = {{0.53811963275125696, 0.82776326946554701, 0.15885600577680639},
                         {0.62746622292198861, 0.75769503382600267, -0.1794000412692987},
                         {0.47292652097084148, 0.71762963076651198}, 4e-16, -1.0, 1.0};
  k.radius = 1e-2;
  for (const double scale : {1.0, 1e-6, 1e6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// Traced nodes a few point tolerances from a small sphere's pole, where the surfaces cross at a
// sine of about 0.25, lie up to 0.8 point tolerances beside the branch, and the pull onto both
// surfaces, moving one farther than half the way to a neighbour, leaves it so (the march crawls
// there in steps about that long). One or two such between nodes on both surfaces made the curves
// zigzag out to them and back: a plane 0.7 point tolerances beside the pole of a sphere of radius
// 1e-4, its circle 87 point tolerances long, came back 1.1-2.2 % too long (the sphere first at
// sizes 1 and 1e-6); a sphere of radius 1e-4 sunk into the torus, its loop through the pole, had
// its curves 1.7e-6 of the size off the sphere beside the pole (the sphere first, size 1). The
// plane case at sizes 1 and 1e-6 moved 1e4 x the size, the sunk sphere at sizes 1, 1e-6 and 1e6
// (moved 1e4 x), either surface first: every point near the branches, every sample on both
// surfaces, the circle's length within 1 %, the loop traced once.
TEST_F(HardIntersections, LooseNodesBesideAPoleBetweenNodesOnBothSurfacesAreDropped) {
  PlaneThroughAPole k = {{0.83080036640110011, 0.30828627800208608, -0.46339003224434855},
                         {0.62490146769525223, 0.39546925546047879, -0.67312868283698502},
                         {0.33049051458216172, 0.76266505388299444}, -1.3536868974309702e-06, -1.0, 1.0};
  k.radius = 1e-4;
  for (const double scale : {1.0, 1e-6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
  const SunkSphereThroughPole sunk(1.3160234292204964, 4.9763794362971581, 0.067949808249967478, 1e-4);
  for (const double scale : {1.0, 1e-6, 1e6})
    ExpectSunkLoopThroughPole(sunk, Placed(scale, scale == 1.0 ? 0.0 : 1e4), M_PI / 180);
}

// A plane 0.72 point tolerances beside the pole of a sphere of radius 1e-4 (a sine of 0.33, its
// circle 115 tolerances long, passing 2.2 tolerances from the pole) whose loop is seeded on the
// pole: left there, the curves detoured to the pole and back, the circle 2.0-2.1 % too long
// (either surface first, at every size). At sizes 1, 1e-6 and 1e6 (moved 1e4 x the size), either
// surface first: every point near the branches, every sample on both surfaces, the circle's
// length within 1 %.
TEST_F(HardIntersections, ASeedOnAPoleThePlanePassesLooselyIsMovedBesideIt) {
  PlaneThroughAPole k = {{-0.74941320122808719, -0.44466905467824702, 0.49056017534714819},
                         {0.47105373981748533, 0.6819402733687655, -0.55952286616517666},
                         {0.31040430263383922, 0.69117579578869803}, 1.2981800254199236e-06, -1.0, 1.0};
  k.radius = 1e-4;
  for (const double scale : {1.0, 1e-6, 1e6}) {
    k.scale = scale;
    ExpectPoleCircleTraced(k, 400, 1e-2);
  }
}

// A degree-1 octagonal prism about z (corners at radius 1, heights -1.5..1.5, as coarse CAD
// tessellations come) and a cylinder of radius 0.95 on the axis (0, 0.6, 0.8), heights -1.4..1.4:
// two arcs from one end of the cylinder to the other, turning sharply (by up to 115 degrees) on
// the prism's edges, each cut where it crosses the cylinder's seam. At sizes 1e-6, 1 and 1e6 moved
// 1e4 x the size, whichever surface comes first: four branches, every sample on both surfaces
// within 1e-6 of the size, and no stretch returned twice (no branch with a tenth of its samples on
// another).
TEST_F(HardIntersections, CoarsePrismAndCylinderGiveEachArcOnce) {
  const int N = 8;
  const CaseSurface cyl{false, Axes({0, 0.6, 0.8}, {1, 0, 0}), {0, 0, 0}, 0.95, 0, -1.4, 1.4};
  auto prismDist = [&](const double* p) {
    double best = -HUGE_VAL;
    for (int i = 0; i < N; ++i) {
      const double a = 2 * M_PI * (i + 0.5) / N + 0.3;
      best = std::fmax(best, p[0] * std::cos(a) + p[1] * std::sin(a) - std::cos(M_PI / N));
    }
    return best;
  };
  for (double scale : {1e-6, 1.0, 1e6})
    for (int first : {0, 1}) {
      const Place at = Placed(scale, 1e4);
      std::vector<double> pts, ku = {0, 0};
      for (int j = 0; j < 2; ++j)
        for (int i = 0; i <= N; ++i) {
          const double a = 2 * M_PI * i / N + 0.3, p[3] = {std::cos(a), std::sin(a), j ? 1.5 : -1.5};
          double q[3];
          at.Map(p, q);
          pts.insert(pts.end(), q, q + 3);
        }
      for (int i = 1; i < N; ++i) ku.push_back(double(i) / N);
      ku.insert(ku.end(), {1, 1});
      BsplineKeeper keep;
      Bspline* prism = keep(BuildSurface(1, 1, N + 1, 2, pts, ku, {0, 0, 1, 1}));
      prism->closedU = 1;
      Bspline* c = keep(cyl.Build(at));
      const std::vector<Branch> bs = first ? Intersect(c, prism, at) : Intersect(prism, c, at);
      const double size = shapes::PairSize(prism, c) / scale;
      EXPECT_EQ(bs.size(), 4u) << scale << " " << first;
      EXPECT_LT(WorstOffBoth(bs, prismDist, [&](const double* p) { return cyl.Distance(p); }), 1e-6 * size)
          << scale << " " << first;
      for (size_t i = 0; i < bs.size(); ++i)
        for (size_t j = 0; j < bs.size(); ++j) {
          if (i == j) continue;
          int on = 0, all = 0;
          for (size_t k = 0; k < bs[i].on1.size(); k += 40, ++all) on += FromBranches({bs[j]}, bs[i].on1[k].data()) < 1e-5 * size;
          EXPECT_LT(on, all / 10) << scale << " " << first << " " << i << " " << j;
        }
    }
}

// A degree-1 sphere of 12 x 8 facets (corners on the unit sphere, the pole rows collapsed) and a
// plane through (0, 0, 0.1) tilted 0.4 from z: a polygon, turning on every crease it crosses, two
// of them a short way apart where it passes near a corner of a facet. The curves keep a corner
// there: at sizes 1e-6, 1 and 1e6 moved 1e4 x the size, whichever surface comes first, every
// sample of the branch lies within 1e-6 of the size of the facets and of the plane.
TEST_F(HardIntersections, FacetedSphereAndPlaneKeepTheCornersOfTheirPolygon) {
  const int NU = 12, NV = 8;
  const double t = 0.4;
  const CaseSurface plane{false, Axes({std::sin(t), 0, std::cos(t)}, {0, 1, 0}), {0, 0, 0.1}, 0, 0, 0, 0, false, 0.0, true};
  std::vector<std::array<double, 3>> corners;
  for (int j = 0; j <= NV; ++j)
    for (int i = 0; i <= NU; ++i) {
      const double a = 2 * M_PI * i / NU + 0.3, ph = M_PI * j / NV - M_PI / 2;
      corners.push_back({std::cos(ph) * std::cos(a), std::cos(ph) * std::sin(a), std::sin(ph)});
    }
  // Each facet's plane (unit normal, offset) from its diagonals: the facets are flat, the
  // polyhedron convex, so the distance from it is the largest from the facets' planes outside.
  std::vector<std::array<double, 4>> facets;
  for (int j = 0; j < NV; ++j)
    for (int i = 0; i < NU; ++i) {
      const auto &A = corners[j * (NU + 1) + i], &B = corners[j * (NU + 1) + i + 1],
                 &C = corners[(j + 1) * (NU + 1) + i + 1], &D = corners[(j + 1) * (NU + 1) + i];
      double d1[3], d2[3], n[3];
      for (int q = 0; q < 3; ++q) d1[q] = C[q] - A[q], d2[q] = D[q] - B[q];
      VecCrossProd3(d1, d2, n);
      const double len = VecSize3(n);
      for (double& x : n) x /= len;
      facets.push_back({n[0], n[1], n[2], std::fabs(VecDotProd3(n, A.data()) + VecDotProd3(n, C.data())) / 2});
    }
  auto facetDist = [&](const double* p) {
    double best = -HUGE_VAL;
    for (const auto& f : facets) best = std::fmax(best, p[0] * f[0] + p[1] * f[1] + p[2] * f[2] - f[3]);
    return best;
  };
  for (double scale : {1e-6, 1.0, 1e6})
    for (int first : {0, 1}) {
      const Place at = Placed(scale, 1e4);
      std::vector<double> pts, ku = {0, 0}, kv = {0, 0};
      for (const auto& p : corners) {
        double q[3];
        at.Map(p.data(), q);
        pts.insert(pts.end(), q, q + 3);
      }
      for (int i = 1; i < NU; ++i) ku.push_back(double(i) / NU);
      for (int j = 1; j < NV; ++j) kv.push_back(double(j) / NV);
      ku.insert(ku.end(), {1, 1});
      kv.insert(kv.end(), {1, 1});
      BsplineKeeper keep;
      Bspline* faceted = keep(BuildSurface(1, 1, NU + 1, NV + 1, pts, ku, kv));
      faceted->closedU = 1;
      Bspline* p = keep(plane.Build(at));
      const std::vector<Branch> bs = first ? Intersect(p, faceted, at) : Intersect(faceted, p, at);
      const double size = shapes::PairSize(faceted, p) / scale;
      EXPECT_EQ(bs.size(), 1u) << scale << " " << first;
      EXPECT_LT(WorstOffBoth(bs, facetDist, [&](const double* x) { return plane.Distance(x); }), 1e-6 * size)
          << scale << " " << first;
    }
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the sphere first: seeded on the pole, the march runs round the loop and comes back to the
// pole along the meridian it left by half a turn off. The step onto the pole crossed the pole's
// side and was given the seam's parameter round it, half a turn from the arriving meridian's; taken
// for turning back, it was dropped, and the last 18 point tolerances of the loop with it (344
// degrees traced). At sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every
// exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ALoopSeededOnAPoleComesBackToItAlongItsMeridian) {
  const SunkSphereThroughPole k(1.1420881104373473, 0.48886463658892293, 5.1608541344865353, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the seed on the sphere's seam 1.8 point tolerances beside the pole,
// tightened to the tolerance times the normals' sine (0.24), still lay 0.8 of a tolerance across
// the branch, farther than the march's steps round the pole are long; their landings on the
// branch were refused as pulled too far, and the march crawled on ever-halving steps: 14 degrees
// of the loop traced, 1.3e-4 of the size left out. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size,
// either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, ASeedLooseBesideAPoleIsTightenedOntoItsLoop) {
  const SunkSphereThroughPole k(4.181187517561006, 5.5169202884028801, 5.0860244422644936, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the seed 1.3 point tolerances beside the pole, tightened onto the loop,
// steps onto the pole at once, moving the torus's parameters by less than their tolerances. That
// step was taken for one that went nowhere and dropped, and the march back round the loop stopped
// on the pole from the other side: the 1.3 tolerances between the seed and the pole left out (359
// degrees traced). At sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every
// exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AFirstStepFromASeedOntoAPoleBesideItEndsThere) {
  const SunkSphereThroughPole k(2.2366516459105621, 2.4435109607285437, 5.6096732176275967, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 360);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the march from a seed 119 point tolerances from the pole stops on the
// sphere's seam 42 tolerances short of it. The step's end, refined freely beside the pole, slid
// 7e-6 of the seam's range off it, where no continuation starts from the seam's far side: the
// 38 degrees on to the pole were left out (2e-5 of the size). At sizes 1, 1e-6 and 1e6 moved 1e4
// x the size, either surface first: every exact point of the loop near a branch, every sample on
// both surfaces, the loop traced once.
TEST_F(HardIntersections, AStepStoppedOnASeamFarFromAPoleStaysOnTheSeam) {
  const SunkSphereThroughPole k(4.4318708775613525, 1.3263345765157799, 4.270496052114261, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus, its loop through the sphere's
// pole, the torus first: the forward march ends on the sphere's seam 4 point tolerances from the
// pole, the march back on the pole. The march from the seam's far side steps over the pole onto
// the trace, passing both its ends; it was ended on the seam end beside its seed, and the stretch
// from the seam into the pole, short as it is, was dropped as nodes piled on a point: 4 degrees of
// the loop left out. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every
// exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AStretchFromASeamIntoANearPoleIsKept) {
  const SunkSphereThroughPole k(4.6427065932021749, 0.54565480228836816, 4.2306670970861244, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 8 point tolerances into the torus across its outer equator (the
// torus's seam), its loop through the sphere's pole: the loop crosses the torus's seam and the
// sphere's 9e-6 of the size apart. One trace ends on each seam, and each end had the other's
// within its reach (100 point tolerances): taken for the branch going on from there, neither was
// continued from its seam's far side, and the stretch between them (2.6% of the loop) was left
// out. The other end lies across the other surface's seam from it, where no continuation beyond
// its own seam arrives without crossing that one first. At sizes 1, 1e-6 and 1e6 moved 1e4 x the
// size, either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, EndsOnTwoSeamsBesideEachOtherAreBothContinued) {
  const SunkSphereThroughPole k(3.04, 0.0, 0.2 + 0.785 * 3, 1e-3);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 centred on the unit cylinder (at angle 0.4 round its axis), turned so
// that one pole lies on the loop the two meet in, at angle `spin` round the sphere's normal to the
// cylinder from its axis: the loop runs along two meridians through both poles (the other within
// a point tolerance of it). The marches from the seeds, refined onto or beside the poles, end on
// the poles, and every seed of the half beyond them was taken for one beside the trace ending
// there and dropped: half the loop left out (4e-4 of the size, at size 1e6 the sphere first). At
// sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every exact point of the
// loop (the sphere's points bisected to the cylinder along 48 arcs from its deepest point) within
// 1e-5 of the size of a branch, every sample on both surfaces.
TEST_F(HardIntersections, ALoopThroughBothPolesOfASphereOnACylinderIsTracedWhole) {
  const double r = 1e-3, th = 0.4, C[3] = {std::cos(th), std::sin(th), 0.0}, n[3] = {C[0], C[1], 0.0};
  const double t[3] = {-n[1], n[0], 0.0};
  auto offCylinder = [](const double* p) { return std::hypot(p[0], p[1]) - 1.0; };
  auto offSphere = [&](const double* p) { return std::hypot(p[0] - C[0], p[1] - C[1], p[2] - C[2]) - r; };
  // The loop's point at angle phi round n from t: bisected along the arc from the deepest point.
  auto loopPoint = [&](double phi, double p[3]) {
    auto arc = [&](double s, double* x) {
      for (int q = 0; q < 3; ++q)
        x[q] = C[q] + r * (-std::cos(s) * n[q] + std::sin(s) * (std::cos(phi) * t[q] + std::sin(phi) * kZ[q]));
    };
    double lo = 0.0, hi = M_PI;
    for (int it = 0; it < 80; ++it) {
      const double mid = 0.5 * (lo + hi);
      arc(mid, p);
      (offCylinder(p) < 0.0 ? lo : hi) = mid;
    }
    arc(lo, p);
  };
  for (double spin : {0.1, 2.6})
    for (const Place& at : {Placed(1.0, 0.0), Placed(1e-6, 1e4), Placed(1e6, 1e4)})
      for (bool cylinderFirst : {true, false}) {
        double a[3], e[3], pole[3];
        loopPoint(spin, pole);
        for (int q = 0; q < 3; ++q) a[q] = (C[q] - pole[q]) / r;
        SunkSphereThroughPole::Across(a, e);
        Place centre = at;
        for (int q = 0; q < 3; ++q) centre.shift[q] += at.scale * C[q];
        BsplineKeeper keep;
        Bspline* cylinder = keep(Cylinder(kZ, kX, 1.0, -1.0, 1.0, at));
        Bspline* sphere = keep(shapes::Sphere(a, e, r, centre));
        ASSERT_TRUE(cylinder && sphere);
        const double size = shapes::PairSize(cylinder, sphere) / at.scale;
        const std::vector<Branch> bs =
            cylinderFirst ? Intersect(cylinder, sphere, at, 400) : Intersect(sphere, cylinder, at, 400);
        double gap = 0.0;
        for (int i = 0; i < 48; ++i) {
          double p[3];
          loopPoint(2 * M_PI * i / 48, p);
          gap = std::fmax(gap, FromBranches(bs, p));
        }
        const double off = WorstOffBoth(bs, offCylinder, offSphere);
        EXPECT_LT(gap, 1e-5 * size) << spin << " " << at.scale << " " << cylinderFirst;
        EXPECT_LT(off, 1e-6 * size) << spin << " " << at.scale << " " << cylinderFirst;
      }
}

// A sphere of radius 1e-4 sunk 1e-5 into the torus across its outer equator (the torus's seam),
// its loop through the sphere's pole: the march continuing a trace across the sphere's seam
// crawls into the pole, where another trace ends, and stopped on the step whose chord passed
// within 4 point tolerances of it, 3.7 tolerances short: the stretch on to the pole, 23 degrees of
// the loop, was left out. The march ends on the pole. At sizes 1, 1e-6 and 1e6 moved 1e4 x the
// size, either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, AMarchCrawlingIntoATracedPoleEndsOnIt) {
  const SunkSphereThroughPole k(0.4, 0.0, M_PI / 2 + 0.2, 1e-4, 1e-5);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-4 sunk 3e-5 into a unit cylinder on turned axes, its loop through the
// sphere's pole: the loop is traced whole and closed across the sphere's seam, its ends on the
// seam's two ends. The fit pulled the end loose off the surfaces freely, off the seam, and its
// curve stopped 2 degrees short of where the other end's starts. The end is held on the seam. At
// sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every exact point of the
// loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, TheEndsOfALoopClosedAcrossASeamStayOnIt) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(1.9, 0.4, 0.3, 1.5 * M_PI + 0.2, 1e-4, 3e-5);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 1e-5 into a unit cylinder on turned axes, its pole turned 0.01 rad
// off the loop (about the line across the loop there): the surfaces meet at a shallow angle
// beside the pole, within the point tolerance across a band 13 tolerances wide. A seed on the
// sphere's seam at the band's edge was traced as a branch of its own, 4 tolerances beside the loop
// traced whole from another seed and the same way: 11 degrees of the loop traced twice. A trace
// within the band of a closed one everywhere, running its way, is dropped. At sizes 1, 1e-6 and
// 1e6 moved 1e4 x the size, either surface first: every exact point of the loop near a branch,
// every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ATraceInTheBandBesideAClosedLoopIsThatLoop) {
  SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(1.9, 0.4, 0.3, 1.75 * M_PI + 0.2, 1e-3, 1e-5);
  k.TurnPoleBeside(0.01);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 centred on the unit cylinder, turned so that one pole lies on the loop
// the two meet in: the loop runs along two meridians through both poles, one of them 0.3 degree
// from the sphere's seam. Every seed refined onto that half or a pole; its march stopped on both
// poles, and the half beyond them, round the poles' far side, had no seed and was left out (4e-4
// of the size). That half is seeded half a turn round the poles from the traced one. At size 1,
// either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, TheHalfBeyondBothPolesOfALoopBesideTheSeamIsTraced) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(0.0, 0.4, 0.3, 1.0759954838545043, 1e-3, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 1e-5 into the torus, its pole turned 0.003 rad off the loop (about
// the line across the loop there): the loop passes the pole about a point tolerance off, at a
// shallow angle, and the pole itself meets both surfaces within the tolerance. The march back
// from the seed came onto the pole, where the refinement of its nodes does not converge, and
// crawled round it on steps of hundredths of a tolerance until it turned back: 13% of the loop
// left out. A node within the point tolerance of a pole is pulled across onto the branch in
// space. At sizes 1, 1e-6 and 1e6 moved 1e4 x the size, either surface first: every exact point
// of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AMarchOntoAPoleBesideTheLoopIsPulledBackOntoIt) {
  SunkSphereThroughPole k(3.1253210825819755, 2.9148129701994336, 4.257894262478386, 1e-3, 1e-5);
  k.TurnPoleBeside(-0.003);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// The loop of TheHalfBeyondBothPolesOfALoopBesideTheSeamIsTraced at size 1e6 moved 1e4 x the size:
// with the small sphere first, the march from the seed half a turn round the poles passed a pole
// and went on round the half traced already back to the seed, closing the loop whole, and that
// half came out twice (one and a half turns). The closed loop stands for the half. Either surface
// first: every exact point of the loop near a branch, every sample on both surfaces, the loop
// traced once.
TEST_F(HardIntersections, ASeededMarchClosingALoopThroughBothPolesTakesTheHalfItRanOver) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(0.0, 0.4, 0.3, 1.0759954838545043, 1e-3, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e6, 1e4), M_PI / 180);
}

// A sphere of radius 1e-3 centred on a unit cylinder on turned axes, turned so that its loop runs
// through both poles, one half 0.3 degree from the sphere's seam: a trace from a pole ran along
// the seam's far side for 30 degrees and stopped, and the half seeded beyond the poles ran the
// whole way on the near side, over that stretch too (one and a twelfth turns, the fit 2e-6 of the
// size off the surfaces). A trace lying on a seeded half goes. At size 1, either surface first:
// every exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AStretchAlongTheSeamUnderASeededHalfIsDropped) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(
      5.1536690017908668, 4.4727778857818397, 0.43789148481684104, 3.9905141870152794, 1e-3, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// The loop of AStretchAlongTheSeamUnderASeededHalfIsDropped with a sphere of radius 1e-4: the
// stretch from a pole along the seam's far side stopped on the seam short of the other pole, and
// held the point half a turn round the poles from the traced half's middle, so the half beyond the
// poles had no seed and the stretch on from the seam to the other pole was left out (1.5e-5 of the
// size, 0.3 of the loop). The half is seeded from another node where the middle's point is held.
// At size 1, either surface first: every exact point of the loop near a branch, every sample on
// both surfaces, the loop traced once.
TEST_F(HardIntersections, TheHalfBeyondThePolesIsSeededBesideAStretchThatHoldsItsMiddle) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(
      5.1536690017908668, 4.472741397766633, 0.43789148481684104, 3.9905141870152794, 1e-4, 1e-4);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// A sphere of radius 1e-3 sunk 1e-5 into a unit cylinder on turned axes, its pole turned 0.01 rad
// off the loop: the pole lies 0.28 point tolerances from the cylinder, near enough that a seed
// refined onto it stays there, and every step from it landed on the pole again across the seam.
// The march back turned back at once and the loop was a trace of the pole's point alone (5.5e-5 of
// the size left out, the sphere first, at every size). A seed on a pole whose march goes nowhere
// is moved beside the pole onto the branch and traced from there. At sizes 1, 1e-6 and 1e6 moved
// 1e4 x the size, either surface first: every exact point of the loop near a branch, every sample
// on both surfaces, the loop traced once.
TEST_F(HardIntersections, ALoopWhoseMarchFromAPoleSeedGoesNowhereIsTracedFromBesideThePole) {
  SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(2.1921115527686013, 5.700385284038922,
                                                              0.63502141356408481, 4.9274303477560419, 1e-3, 1e-5);
  k.TurnPoleBeside(0.01);
  ExpectSunkLoopAtThreeSizes(k, M_PI / 180);
}

// A sphere of radius 1e-3 sunk 1e-4 into a unit cylinder on turned axes, its pole turned 0.01 rad
// off the loop, the loop crossing the sphere's seam beside the pole: a seed refined a round-off
// short of the seam's end, the first step carried only the sphere's parameter round the pole onto
// the seam and was taken for one that went nowhere. The forward end stayed off the seam, nothing
// was continued from the seam's far side, and the stretch from there to the pole was left out (a
// tenth of the loop, the cylinder first). The seed's node takes the step's end on the seam. At
// size 1, either surface first: every exact point of the loop near a branch, every sample on both
// surfaces, the loop traced once.
TEST_F(HardIntersections, ASeedARoundOffShortOfTheSeamBesideAPoleTakesTheSeamsEnd) {
  SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(2.1170191095462685, 3.8739584983415702,
                                                              -0.3163930096912525, 4.0353246918970607, 1e-3, 1e-4);
  k.TurnPoleBeside(-0.01);
  ExpectSunkLoopThroughPole(k, Placed(1.0, 0.0), M_PI / 180);
}

// The loop of TheHalfBeyondBothPolesOfALoopBesideTheSeamIsTraced at size 1e-6 moved 1e4 x the size:
// with the small sphere first, a trace of two nodes ran from a pole to the sphere's seam, the loop
// between them on the seam's other side (0.3 degree round the pole from it). Every cut of the
// interval, pulled onto the loop, landed across the seam and was refused, and the host's curve
// kept the chord between the nodes, 8e-6 of the size off the surfaces. Either surface first: every
// exact point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, ATwoNodeTraceFromAPoleToTheSeamLiesOnTheLoopsSideOfIt) {
  const SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(0.0, 0.4, 0.3, 1.0759954838545043, 1e-3, 1e-3);
  ExpectSunkLoopThroughPole(k, Placed(1e-6, 1e4), M_PI / 180);
}

// The unit sphere (poles on z, its seam turned to the azimuth psi) cut by the plane of the loop of
// angular radius rho round the unit direction c, as a patch 2.5 wide about the loop's centre;
// each sphere at the placement at, either surface first, gives its branches and the loop's gap
// from them (n exact points) and their samples' distance off both surfaces, as shares of the
// pair's size.
struct ShallowCapLoop {
  double rho, c[3], C[3], u1[3], u2[3], O[3], e1[3], e2[3], a[3] = {0, 0, 1}, e[3];
  ShallowCapLoop(const double dir[3], double r, double psi) : rho(r), e{std::cos(psi), std::sin(psi), 0} {
    for (int q = 0; q < 3; ++q) c[q] = dir[q];
    SunkSphereThroughPole::Across(c, u1);
    VecCrossProd3(c, u1, u2);
    for (int q = 0; q < 3; ++q) {
      C[q] = std::cos(rho) * c[q];
      O[q] = C[q] - 1.25 * (u1[q] + u2[q]), e1[q] = 2.5 * u1[q], e2[q] = 2.5 * u2[q];
    }
  }
  void Measure(const Place& at, bool planeFirst, int n, double* gap, double* off) const {
    *gap = *off = HUGE_VAL;
    BsplineKeeper keep;
    Bspline* plane = keep(shapes::Plane(O, e1, e2, at));
    Bspline* sphere = keep(shapes::Sphere(a, e, 1.0, at));
    ASSERT_TRUE(plane && sphere);
    const double size = shapes::PairSize(plane, sphere) / at.scale;
    const std::vector<Branch> bs = planeFirst ? Intersect(plane, sphere, at, 400) : Intersect(sphere, plane, at, 400);
    *gap = bs.empty() ? HUGE_VAL : 0.0;
    for (int i = 0; i < n && !bs.empty(); ++i) {
      const double t = 2 * M_PI * i / n;
      double p[3];
      for (int q = 0; q < 3; ++q) p[q] = C[q] + std::sin(rho) * (std::cos(t) * u1[q] + std::sin(t) * u2[q]);
      *gap = std::fmax(*gap, FromBranches(bs, p));
    }
    *off = WorstOffBoth(
        bs, [&](const double* p) { return VecDotProd3(p, c) - std::cos(rho); },
        [](const double* p) { return std::hypot(p[0], p[1], p[2]) - 1.0; });
    *gap /= size, *off /= size;
  }
};

// The unit sphere (poles on z) cut by a plane in a loop of angular radius 0.01 that passes 3e-3
// beside the north pole, the sphere's seam turned to 0.99 of the loop's half-width seen from the
// pole: the seam cuts off a sliver of the loop a few steps long. The march from a seed where the
// sliver leaves the seam went nowhere forward (across the seam), and the march back, running on
// along its first chord inside that chord's disc in the sphere's parameters, was closed onto the
// seed while still going away from it: the sliver came out as a loop of its own and the rest of
// the loop (94 %) was dropped as lying beside it. The plane first, at sizes 1, 1e3 and 1e6 moved
// 1e4 x the size: every exact point of the loop near a branch, every sample on both surfaces.
TEST_F(HardIntersections, AMarchBackFromASeedWhoseForwardMarchWentNowhereClosesOnlyComingBack) {
  const double rho = 0.01, d = 3e-3, th = rho + d;
  const double alpha = std::asin(std::sin(rho) / std::sin(th)), c[3] = {std::sin(th), 0, std::cos(th)};
  const ShallowCapLoop loop(c, rho, -0.99 * alpha);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e3, 0.0), Placed(1e6, 1e4)}) {
    double gap, off;
    loop.Measure(at, true, 96, &gap, &off);
    EXPECT_LT(gap, 1e-5) << at.scale;
    EXPECT_LT(off, 1e-6) << at.scale;
  }
}

// The unit sphere (poles on z, seam at +x) cut by a plane at 0.01 rad to it, in a loop of angular
// radius 0.01 through the north pole: a shallow crossing the fit follows as a contact. The nodes
// crowd before a long interval running into the pole, where the sphere's parameter round the pole
// turns fast, and the interpolants swung out of the interval and back: every cut pulled onto the
// branch landed behind the interval's first node and was refused, round after round, and the
// curves kept the swing, 3.5e-5 of the size off the plane. Cuts are taken from the nodes' own
// parameters instead. Either surface first, at sizes 1 and 1e6 moved 1e4 x the size: every sample
// of the curves within 1e-6 of the size of both surfaces.
TEST_F(HardIntersections, CutsOfAShallowLoopIntoAPoleComeFromTheNodesWhereTheCurvesSwingOut) {
  const double rho = 0.01, c[3] = {std::sin(rho), 0, std::cos(rho)};
  const ShallowCapLoop loop(c, rho, 0.0);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e6, 1e4)})
    for (bool planeFirst : {true, false}) {
      double gap, off;
      loop.Measure(at, planeFirst, 0, &gap, &off);
      EXPECT_LT(gap, HUGE_VAL) << "no branch";
      EXPECT_LT(off, 1e-6) << at.scale << " " << planeFirst;
    }
}

// A sphere of radius 1e-3 centred on the unit cylinder, its pole axis in the cylinder's tangent
// plane there and its seam along the meridian the loop's half on that side runs along: that half
// lies within a sixth of the point tolerance of the seam, and touches it where the meridian
// follows the cylinder's line. The march's step onto the seam there is a touching, but the chords
// round the loop are some forty tolerances, and the pull from half a chord ahead could never land
// the hundred tolerances ahead asked of it: the march ended on the seam, the one from its far
// side went nowhere, and the stretch from there to the pole was left out (28 degrees of the loop,
// 7e-5 of the size). At sizes 1 and 1e6 moved 1e4 x the size, either surface first: every exact
// point of the loop near a branch, every sample on both surfaces, the loop traced once.
TEST_F(HardIntersections, AMarchOntoASeamTheLoopOfASmallSphereTouchesGoesOnPastIt) {
  SunkSphereThroughPole k = SunkSphereThroughPole::OnCylinder(0.0, 0.4, 0.3, 0.0, 1e-3, 1e-3);
  const double th = 0.4, spin = 1.0759954838545043;
  const double N[3] = {std::cos(th), std::sin(th), 0.0}, T[3] = {-std::sin(th), std::cos(th), 0.0};
  for (int q = 0; q < 3; ++q) k.a[q] = std::cos(spin) * T[q] + std::sin(spin) * kZ[q];
  VecCrossProd3(N, k.a, k.e);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e6, 1e4)}) ExpectSunkLoopThroughPole(k, at, M_PI / 180);
}

// A whole sphere whose closed flags a file left unset (its seam an edge of the domain) cut by the
// plane z = 0.3: the march back from a seed on the seam met the forward end on the seam's other
// side and closed onto it, and the curve on the sphere ran across the whole parameter range
// between the two nodes, the circle traced twice (one branch of twice the circle's length). A
// closing whose ends lie more than half a range apart in a direction not flagged closed is no
// closing; the march goes on to the edge. At sizes 1 and 1e-3 moved 1e4 x the size, either
// surface first: one circle's length, every sample on both surfaces, every point of the circle
// near a branch.
TEST_F(HardIntersections, ASphereNotFlaggedClosedGivesItsCircleOnce) {
  const double c = 0.3, r = std::sqrt(1.0 - c * c);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-3, 1e4)})
    for (int order = 0; order < 2; ++order) {
      Bspline* sphere = shapes::Sphere(1.0, at);
      const double O[3] = {-1.5, -1.5, c}, e1[3] = {3, 0, 0}, e2[3] = {0, 3, 0};
      Bspline* plane = shapes::Plane(O, e1, e2, at);
      ASSERT_TRUE(sphere && plane);
      sphere->closedU = sphere->closedV = 0;
      const std::vector<Branch> bs = order ? Intersect(plane, sphere, at, 4000) : Intersect(sphere, plane, at, 4000);
      double length = 0.0;
      for (const Branch& b : bs) length += Length(b);
      EXPECT_NEAR(length, 2 * M_PI * r, 1e-4) << at.scale << " order " << order;
      const double worst = WorstOffBoth(
          bs, [](const double* p) { return std::hypot(p[0], p[1], p[2]) - 1.0; },
          [c](const double* p) { return p[2] - c; });
      EXPECT_LE(worst, 1e-6) << at.scale << " order " << order;
      double miss = 0.0;
      for (int i = 0; i < 360; ++i) {
        const double t = 2 * M_PI * i / 360, X[3] = {r * std::cos(t), r * std::sin(t), c};
        miss = std::fmax(miss, FromBranches(bs, X));
      }
      EXPECT_LE(miss, 1e-5) << at.scale << " order " << order;
      FreeBspline(sphere);
      FreeBspline(plane);
    }
}

// The loop of the test before, measured from the exact circle: a point within tol of both surfaces
// may lie tol over the crossing's sine (0.01) off the loop. The last interval, from a node 2.8e-3
// beside the pole into it, turns round the pole by about 0.1 rad, and every pull of its cuts left
// the interval's box in the sphere's parameter round the pole (grown only by its extent, 30 times
// less): the cuts slid onto the nodes and the curves stayed 2-3.5e-5 of the size off the loop.
// Either surface first, at sizes 1 and 1e6 moved 1e4 x the size: every exact point of the loop
// within 1e-5 of the size of a branch.
TEST_F(HardIntersections, AShallowLoopsIntervalIntoAPoleIsCutWhereItTurnsRoundThePole) {
  const double rho = 0.01, c[3] = {std::sin(rho), 0, std::cos(rho)};
  const ShallowCapLoop loop(c, rho, 0.0);
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e6, 1e4)})
    for (bool planeFirst : {true, false}) {
      double gap, off;
      loop.Measure(at, planeFirst, 400, &gap, &off);
      EXPECT_LT(gap, 1e-5) << at.scale << " " << planeFirst;
    }
}

// The unit sphere, its u round the poles taken from [0, 1] to [-3, 40] (v keeps [0, 1]), cut by
// the cylinder (x - 0.3)^2 + y^2 = 0.09: two loops (0.3 + 0.3 cos t, 0.3 sin t, +-sqrt(1 - 0.18
// (1 + cos t))), each through a pole. A linear change of a parameter moves no point, but the fit
// once grew an interval's box by its extent in whichever parameter changed more, unweighted: the
// interval down a meridian into a pole gave u only its v extent, a tenth of the u the branch turns
// through there, every pull onto it was refused and the curves went into the pole straight down
// the meridian, 6e-3 of the size off both surfaces and 1.5e-3 of the loops missing. At sizes 1 and
// 1e-3 moved 1e4 x the size, either surface first: every sample on both surfaces, every point of
// both loops near a branch.
TEST_F(HardIntersections, ASphereWithItsParameterRoundThePolesWidenedGivesLoopsThroughThePoles) {
  for (const Place& at : {Placed(1.0, 0.0), Placed(1e-3, 1e4)})
    for (int order = 0; order < 2; ++order) {
      BsplineKeeper keep;
      Bspline* sphere = keep(shapes::Sphere(kZ, kX, 1.0, at));
      Place axis = at;
      axis.shift[0] += 0.3 * at.scale;
      Bspline* cyl = keep(Cylinder(kZ, kX, 0.3, -1.5, 1.5, axis));
      ASSERT_TRUE(sphere && cyl);
      const int p = sphere->degreeU, n = NumCtrlU(sphere);
      const double k0 = sphere->knotsU[p], k1 = sphere->knotsU[n];
      for (int i = 0; i <= n + p; ++i) sphere->knotsU[i] = -3.0 + 43.0 * (sphere->knotsU[i] - k0) / (k1 - k0);
      sphere->umin = -3.0, sphere->umax = 40.0;
      const std::vector<Branch> bs = order ? Intersect(cyl, sphere, at, 1000) : Intersect(sphere, cyl, at, 1000);
      const double worst = WorstOffBoth(
          bs, [](const double* q) { return std::hypot(q[0], q[1], q[2]) - 1.0; },
          [](const double* q) { return std::hypot(q[0] - 0.3, q[1]) - 0.3; });
      EXPECT_LE(worst, 1e-6) << at.scale << " order " << order;
      double miss = 0.0;
      for (int i = 0; i < 500; ++i) {
        const double t = 2 * M_PI * (i + 0.5) / 500, z = std::sqrt(1.0 - 0.18 * (1.0 + std::cos(t)));
        for (double side : {-1.0, 1.0}) {
          const double X[3] = {0.3 + 0.3 * std::cos(t), 0.3 * std::sin(t), side * z};
          miss = std::fmax(miss, FromBranches(bs, X));
        }
      }
      EXPECT_LE(miss, 1e-5) << at.scale << " order " << order;
    }
}
