// Which sides the boundary graph pairs as seams: only sides that run side by side within MAXGAP
// over a stretch of each. Sides that only touch at a corner, continue each other end to end, part
// beyond MAXGAP along their length, or lie beside each other only because one surface lies folded
// onto the other (a plane strip on the end of a cylinder it is tangent to) are left single, at
// every MAXGAP the plug-in accepts, at every size and far from the origin; and a clean group
// folded so comes back from the heal unmoved.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

using Point = std::array<double, 3>;

// Where a group is put: scaled by `size` and moved by `offset` times its size along (1, 0.7, 0.4).
struct Place {
  double size;
  double offset;
  Point At(const Point& p) const {
    const Point dir = {1.0, 0.7, 0.4};
    return {size * (p[0] + offset * dir[0]), size * (p[1] + offset * dir[1]), size * (p[2] + offset * dir[2])};
  }
};

// The bilinear plane with corners c00 (u-min v-min), c10 (u-max v-min), c01, c11.
Bspline* Plane(const Place& at, const Point& c00, const Point& c10, const Point& c01, const Point& c11) {
  std::vector<double> pts;
  for (const Point* c : {&c00, &c10, &c01, &c11}) {
    const Point p = at.At(*c);
    pts.insert(pts.end(), p.begin(), p.end());
  }
  return BuildSurface(1, 1, 2, 2, pts);
}

// A cubic quarter cylinder along x from 0 to `length`, of radius r about (yc, zc) in the (y, z)
// plane, running in u from angle a0 to a0 + 90 degrees (a single Bezier span: it meets its end
// tangents exactly, and only its middle lies off the circle).
Bspline* QuarterCylinder(const Place& at, double length, double r, double yc, double zc, double a0Deg) {
  constexpr double kArc = 0.5522847498;  // Bezier handle of a quarter circle
  const double a0 = a0Deg * kDeg, a1 = a0 + 90.0 * kDeg;
  auto onCircle = [&](double a, double x) { return Point{x, yc + r * std::cos(a), zc + r * std::sin(a)}; };
  std::vector<double> pts;
  for (double x : {0.0, length}) {
    const Point p0 = onCircle(a0, x), p3 = onCircle(a1, x);
    // Handles along the end tangents (d/da of the circle, turning with a).
    const Point p1 = {x, p0[1] - kArc * r * std::sin(a0), p0[2] + kArc * r * std::cos(a0)};
    const Point p2 = {x, p3[1] + kArc * r * std::sin(a1), p3[2] - kArc * r * std::cos(a1)};
    for (const Point* c : {&p0, &p1, &p2, &p3}) {
      const Point p = at.At(*c);
      pts.insert(pts.end(), p.begin(), p.end());
    }
  }
  return BuildSurface(3, 1, 4, 2, pts);
}

// Sides as (surface * 4 + side - 1), a pair ordered.
using SidePair = std::pair<int, int>;

SidePair Sides(int srfA, int sideA, int srfB, int sideB) {
  const int a = 4 * srfA + sideA - 1, b = 4 * srfB + sideB - 1;
  return {std::min(a, b), std::max(a, b)};
}

std::vector<SidePair> PairedSides(const Group& g) {
  std::vector<SidePair> out;
  for (int i = 0; i < g.bs->nEdge; ++i) {
    const EdgeInfoStruct& e = g.bs->edges[i];
    if (!e.paired) continue;
    out.push_back(Sides(e.infoA->srfInfo->index, e.infoA->side, e.infoB->srfInfo->index, e.infoB->side));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A lead bend of a chip package, as its model has it: a plane strip (surface 1) of width w on
// y = -1, between z = 0 and z = w, tangent along z = 0 to a quarter cylinder of radius 1
// (surface 0) that ends there coming down, and along z = w to a second one of radius r2
// (surface 2) that ends there coming up: the strip lies folded onto the ends of both cylinders,
// which also lie on each other over the strip's width. Seams: the strip's u-min side with
// cylinder 0's u-max side, its u-max side with cylinder 2's u-max side.
struct LeadBend {
  double w = 0.029;
  double r2 = 0.34;
  void Add(Group& g, const Place& at) const {
    g.Add(QuarterCylinder(at, 0.58, 1.0, 0.0, 0.0, 90.0));  // from the top round to (-1, 0)
    g.Add(Plane(at, {0.0, -1.0, 0.0}, {0.0, -1.0, w}, {0.58, -1.0, 0.0}, {0.58, -1.0, w}));
    g.Add(QuarterCylinder(at, 0.58, r2, -1.0 - r2, w, -90.0));  // from the bottom up to (-1, w)
  }
  std::vector<SidePair> Seams() const { return {Sides(0, 3, 1, 1), Sides(1, 3, 2, 3)}; }
  double Shortest() const { return w; }
};

constexpr Place kPlaces[] = {{1e-3, 0.0}, {1.0, 0.0}, {1e3, 0.0}, {1e-3, 1e4}, {1.0, 1e4}, {1e3, 1e4}};

std::string Where(const Place& at, double share) {
  return "size " + std::to_string(at.size) + " offset " + std::to_string(at.offset) + " MAXGAP " +
         std::to_string(share) + " of the size";
}

class Pairing : public KernelTest {};

// The folded strip's short sides lie within MAXGAP of the cylinders' ends over their whole
// length once MAXGAP passes w^2 / 2 (1.6e-4 and 1.2e-3 of the radius here), and the two cylinder
// ends lie on each other too; only the strip's two long sides are seams, up to the plug-in's
// limit of a quarter of the shortest side.
TEST_F(Pairing, FoldedStripPairsOnlyItsSeams) {
  const LeadBend bend;
  for (const Place& at : kPlaces)
    for (double share : {1e-4, 5e-4, 2e-3, 0.25 * bend.Shortest()}) {
      Group g;
      bend.Add(g, at);
      ASSERT_TRUE(g.Build(share * at.size, 8.0)) << Where(at, share);
      EXPECT_EQ(PairedSides(g), bend.Seams()) << Where(at, share);
    }
}

// Two squares that share only a corner, or whose sides continue each other end to end (the
// second one below and to the right of the first), are no seam at any MAXGAP up to a quarter of
// their side; two squares whose facing sides meet at one end and part to three times MAXGAP at
// the other are none either, while at a third of MAXGAP apart they are one.
TEST_F(Pairing, CornersContinuationsAndPartingSidesAreNoSeam) {
  for (const Place& at : kPlaces)
    for (double share : {1e-4, 1e-3, 1e-2, 0.25}) {
      const double gap = share;  // MAXGAP in the squares' own units
      {
        Group g;
        g.Add(Plane(at, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}));
        g.Add(Plane(at, {1, 1, 0}, {2, 1, 0}, {1, 2, 0}, {2, 2, 0.3}));  // corner to corner
        g.Add(Plane(at, {1, -1, 0}, {2, -1, 0}, {1, 0, 0}, {2, 0, 0}));  // continues x = 1 and y = 0
        ASSERT_TRUE(g.Build(gap * at.size, 8.0)) << Where(at, share);
        EXPECT_TRUE(PairedSides(g).empty()) << Where(at, share);
      }
      if (share > 0.2) continue;  // parting by three times MAXGAP needs room
      for (double part : {3.0, 1.0 / 3.0}) {
        Group g;
        g.Add(Plane(at, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}));
        // The facing side starts on the first square's corner (1, 0) and ends part x MAXGAP
        // beyond its corner (1, 1).
        g.Add(Plane(at, {1, 0, 0}, {2, 0, 0}, {1 + part * gap, 1, 0}, {2, 1, 0}));
        ASSERT_TRUE(g.Build(gap * at.size, 8.0)) << Where(at, share);
        const std::vector<SidePair> expected = part > 1.0 ? std::vector<SidePair>{} : std::vector{Sides(0, 3, 1, 1)};
        EXPECT_EQ(PairedSides(g), expected) << Where(at, share) << " parting " << part;
      }
    }
}

// A side that shares both corners with its neighbour's but bows away from it in the middle (a
// blend's side beside a cylinder's) pairs only where it stays within MAXGAP all along: 3 x MAXGAP
// away at its middle it is no seam, a third of MAXGAP away it is one.
TEST_F(Pairing, SidesMeetingAtTheirCornersButBowingApartAreNoSeam) {
  for (const Place& at : kPlaces)
    for (double bow : {3.0, 1.0 / 3.0}) {
      const double gap = 1e-2;
      Group g;
      g.Add(Plane(at, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}));
      // A bicubic in u across, cubic along v: its u-min side runs from (1, 0) to (1, 1) with its
      // two inner points lifted so that its middle lies bow x MAXGAP off the plane's side.
      std::vector<double> pts;
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
          const double lift = i == 0 && (j == 1 || j == 2) ? bow * gap / 0.75 : 0.0;
          const Point p = at.At({1.0 + i / 3.0, j / 3.0, lift});
          pts.insert(pts.end(), p.begin(), p.end());
        }
      g.Add(BuildSurface(3, 3, 4, 4, pts));
      ASSERT_TRUE(g.Build(gap * at.size, 8.0)) << Where(at, bow);
      const std::vector<SidePair> expected = bow > 1.0 ? std::vector<SidePair>{} : std::vector{Sides(0, 3, 1, 1)};
      EXPECT_EQ(PairedSides(g), expected) << Where(at, bow);
    }
}

// The lead bend with every control point moved by seeded noise of up to 0.9 MAXGAP a coordinate,
// MAXGAP a quarter of the strip's width (the plug-in's limit): the corners where the strip's seams
// end split apart, and a split corner can lie on a side a little way in from its end, where the
// cylinders' free ends meet the strip's seams square. Such sides touch only at the corner: only
// the strip's seams may pair, whatever the noise, at every size and far from the origin.
TEST_F(Pairing, NoisyCornersPairOnlyTheSeams) {
  const LeadBend bend;
  const double share = bend.Shortest() / 4.0;
  for (const Place& at : kPlaces)
    for (unsigned seed = 1; seed <= 24; ++seed) {
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> noise(-0.9 * share * at.size, 0.9 * share * at.size);
      Group g;
      bend.Add(g, at);
      for (Bspline* b : g.srfs)
        for (int j = 0; j < NumCtrlV(b); ++j)
          for (int i = 0; i < NumCtrlU(b); ++i) {
            b->X[j][i] += noise(rng);
            b->Y[j][i] += noise(rng);
            b->Z[j][i] += noise(rng);
          }
      ASSERT_TRUE(g.Build(share * at.size, 8.0)) << Where(at, share);
      const std::vector<SidePair> seams = bend.Seams();
      for (const SidePair& p : PairedSides(g))
        EXPECT_NE(std::find(seams.begin(), seams.end(), p), seams.end())
            << Where(at, share) << " seed " << seed << ": sides " << p.first << " and " << p.second;
    }
}

// Three faces' corners that the damage spread about their common point, each within MAXGAP of
// its centre, are one corner wherever the corners are met first: a plate's corner 0.95 MAXGAP
// from the corner of the wall it is sewn to, and an end wall's 0.4 MAXGAP the other way, which
// touches the plate only at that corner. Met from the end wall's side, the plate's corner lay
// 1.15 MAXGAP from the first two corners' centre and the plate's seam with the wall was lost.
TEST_F(Pairing, SpreadCornerOfThreeFacesPairsItsSeams) {
  for (const Place& at : kPlaces)
    for (double share : {1e-3, 1e-2}) {
      Group g;
      g.Add(Plane(at, {-1, 0, 0}, {0.95 * share, 0, 0}, {-1, 1, 0}, {0, 1, 0}));  // plate z = 0
      g.Add(Plane(at, {0, 0, 0}, {0, 0, -1}, {0, 1, 0}, {0, 1, -1}));            // wall x = 0
      g.Add(Plane(at, {-0.4 * share, 0, 0}, {0, 0, -1}, {1, 0, 0}, {1, 0, -1}));  // end wall y = 0
      ASSERT_TRUE(g.Build(share * at.size, 8.0)) << Where(at, share);
      EXPECT_EQ(PairedSides(g), (std::vector{Sides(0, 3, 1, 1), Sides(1, 2, 2, 2)})) << Where(at, share);
    }
}

// A real T-junction still pairs: one long side against two shorter ones that meet on it, a
// third of MAXGAP away, in the plane (smooth) and standing on it (a right-angled crease); the two
// shorter ones share their side too.
TEST_F(Pairing, TJunctionsAcrossTheSidePair) {
  for (const Place& at : kPlaces)
    for (bool standing : {false, true}) {
      const double share = 1e-3, off = share / 3.0;
      Group g;
      g.Add(Plane(at, {0, 0, 0}, {2, 0, 0}, {0, 1, 0}, {2, 1, 0}));
      for (double x0 : {0.0, 1.0}) {
        const Point far0 = standing ? Point{x0, 1 + off, 1} : Point{x0, 2, 0};
        const Point far1 = standing ? Point{x0 + 1, 1 + off, 1} : Point{x0 + 1, 2, 0};
        g.Add(Plane(at, {x0, 1 + off, off}, {x0 + 1, 1 + off, off}, far0, far1));
      }
      ASSERT_TRUE(g.Build(share * at.size, 8.0)) << Where(at, share);
      EXPECT_EQ(PairedSides(g), (std::vector{Sides(0, 4, 1, 2), Sides(0, 4, 2, 2), Sides(1, 3, 2, 1)}))
          << Where(at, share) << (standing ? " standing" : " flat");
    }
}

// A net whose v-max side has shrunk to a short stub lying along its own u-min side's end, as the
// damage leaves a sphere's patch beside its pole: the corner at u-max v-max has drifted onto the
// u-min side, a third of MAXGAP off it, a twentieth of the side from its end. Beside a plane
// sharing its v-min side. The stub runs within MAXGAP of its neighbouring side all along, but a
// surface is never sewn to itself across its own corner: only the shared side is a seam, at every
// MAXGAP up to a hundredth of the size; and the clean group heals unmoved, the stub and its
// neighbour reported as held outer boundary.
TEST_F(Pairing, SliverCornerIsNoSeamWithItself) {
  const auto add = [](Group& g, const Place& at, double share) {
    g.Add(Plane(at, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0.95, share / 3.0}));
    g.Add(Plane(at, {0, -1, 0.2}, {1, -1, 0.2}, {0, 0, 0}, {1, 0, 0}));
  };
  std::vector<Place> places(std::begin(kPlaces), std::end(kPlaces));
  places.insert(places.end(), {{1e-6, 1e4}, {1e6, 1e4}});
  for (const Place& at : places)
    for (double share : {1e-4, 1e-3, 1e-2}) {
      Group g;
      add(g, at, share);
      ASSERT_TRUE(g.Build(share * at.size, 8.0)) << Where(at, share);
      EXPECT_EQ(PairedSides(g), std::vector{Sides(0, 2, 1, 4)}) << Where(at, share);
    }
  for (const Place& at : {Place{1e-6, 1e4}, Place{1.0, 0.0}, Place{1e6, 1e4}}) {
    const double share = 1e-3, healGap = 1e-5 * at.size;
    Group g;
    add(g, at, share);
    std::vector<std::vector<double>> before;
    for (Bspline* s : g.srfs) before.push_back(Net(s));
    ASSERT_EQ(MakeTopologyZK(g.data(), 2, share * at.size, 8.0), 0);
    int** result = allocate_matrix_ih(2, 4);
    const int fixed[2] = {0, 0};
    ASSERT_EQ(HealTopologyZK(g.data(), 2, fixed, 0, 1, healGap, 0.1, 1, result), 0);
    EXPECT_EQ(result[0][0], -3) << "size " << at.size;  // the stub's neighbour and the stub
    EXPECT_EQ(result[0][3], -3) << "size " << at.size;
    matrix_free_ih(result);
    CleanupTopology();
    for (int k = 0; k < 2; ++k) EXPECT_LE(LargestMove(before[k], Net(g.srfs[k])), healGap) << "surface " << k;
  }
}

// The folded lead bend as read (its seams closed) and healed as a host does, with its outer
// boundary held: nothing moves beyond HEALGAP, the strip's short sides are reported as held outer
// boundary, not as seams.
TEST_F(Pairing, CleanFoldedStripHealsUnmoved) {
  const LeadBend bend;
  for (const Place& at : {Place{1.0, 0.0}, Place{1e-3, 1e4}}) {
    Group g;
    bend.Add(g, at);
    std::vector<std::vector<double>> before;
    for (Bspline* s : g.srfs) before.push_back(Net(s));
    const int n = g.size();
    const double maxGap = 1e-4 * at.size, healGap = 1e-5 * at.size;
    ASSERT_EQ(MakeTopologyZK(g.data(), n, maxGap, 8.0), 0);
    int** result = allocate_matrix_ih(n, 4);
    std::vector<int> fixed(n, 0);
    ASSERT_EQ(HealTopologyZK(g.data(), n, fixed.data(), 0, 1, healGap, 0.1, 1, result), 0);
    EXPECT_EQ(result[1][1], -3);  // the strip's short sides
    EXPECT_EQ(result[1][3], -3);
    matrix_free_ih(result);
    CleanupTopology();
    for (int k = 0; k < n; ++k) {
      const std::vector<double> after = Net(g.srfs[k]);
      double moved = 0.0;
      for (size_t i = 0; i + 2 < after.size(); i += 3)
        moved = std::max(moved, std::hypot(after[i] - before[k][i], after[i + 1] - before[k][i + 1],
                                           after[i + 2] - before[k][i + 2]));
      EXPECT_LE(moved, healGap) << "surface " << k << " size " << at.size;
    }
  }
}

}  // namespace
