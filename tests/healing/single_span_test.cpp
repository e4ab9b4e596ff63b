// The heal on groups of single-span nets (one Bezier piece each way, as small-patch IGES exports
// write them): bicubic 4 x 4 nets beside cubic-by-linear 4 x 2 ones, four meeting at every inner
// corner, under noise of a thousandth of the size on every control point. Each side has only its
// two inner points to move, so the fits' smoothing leaves the two sides of a seam a little apart
// however long they run; every seam within MAXGAP must still close to HEALGAP, at every size and
// far from the origin, without moving a surface beyond 3 x the largest gap on its sides. So must a
// closed surface's own seam, one knot vector on both sides.
#include <cmath>
#include <random>
#include <vector>

#include "bspline/smake.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kMaxAngle = 8.0, kHealAngle = 0.1;

// Seam between side `sideA` of cell a and side `sideB` of cell b.
struct CellSeam {
  int a, sideA, b, sideB;
};

// A ring of single-span nets on a cylinder of radius 1 (axis x): 3 cells along the axis, the
// middle ones linear along it (exact on a cylinder), by 3 cells of 30 degrees round it. Each net's
// points are the cylinder's at its Greville abscissae, so neighbours' boundary rows start out one
// curve. Scaled by `size`, moved by 1e4 x size along (1, 2, 3) when `far`, then every coordinate
// of every control point moved by up to `noise` x the group's control-box diagonal (seeded).
struct SingleSpanRing {
  Group g;
  std::vector<CellSeam> seams;
  double diagonal = 0.0;
  SingleSpanRing(double size, bool far, double noise, unsigned seed) {
    constexpr int kAlong = 3, kRound = 3;
    constexpr double kStep = 30.0 * kDeg;
    const double shift = far ? 1e4 * size : 0.0;
    for (int j = 0; j < kRound; ++j)
      for (int i = 0; i < kAlong; ++i) {
        const int nu = i == 1 ? 2 : 4;
        Bspline* s = MallocNullBspline();
        s->kind = 2;
        s->dimension = 3;
        s->degreeU = nu - 1;
        s->degreeV = 3;
        s->interiorU = s->interiorV = 0;
        AllocateBsplineArrays(s);
        for (int k = 0; k < 2 * nu; ++k) s->knotsU[k] = k < nu ? 0.0 : 1.0;
        for (int k = 0; k < 8; ++k) s->knotsV[k] = k < 4 ? 0.0 : 1.0;
        s->umin = s->vmin = 0.0;
        s->umax = s->vmax = 1.0;
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < nu; ++c) {
            const double x = i + double(c) / (nu - 1), th = kStep * (j + r / 3.0);
            // A cubic's Greville points on a circle's arc bow outwards to keep the arc's middle on it.
            const double bow = (r == 1 || r == 2) ? 1.0 / std::cos(kStep / 3.0) : 1.0;
            s->X[r][c] = size * x + shift;
            s->Y[r][c] = size * bow * std::sin(th) + 2.0 * shift;
            s->Z[r][c] = size * bow * std::cos(th) + 3.0 * shift;
          }
        g.Add(s);
      }
    for (int j = 0; j < kRound; ++j)
      for (int i = 0; i < kAlong; ++i) {
        const int c = j * kAlong + i;
        if (i + 1 < kAlong) seams.push_back({c, 3, c + 1, 1});
        if (j + 1 < kRound) seams.push_back({c, 4, c + kAlong, 2});
      }
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const Bspline* s : g.srfs)
      for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) {
        const double p[3] = {s->X[0][k], s->Y[0][k], s->Z[0][k]};
        for (int d = 0; d < 3; ++d) lo[d] = std::min(lo[d], p[d]), hi[d] = std::max(hi[d], p[d]);
      }
    diagonal = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> off(-noise * diagonal, noise * diagonal);
    for (Bspline* s : g.srfs)
      for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) {
        s->X[0][k] += off(rng);
        s->Y[0][k] += off(rng);
        s->Z[0][k] += off(rng);
      }
  }
  double Gap(const CellSeam& s) const { return RefGap(g.srfs[s.a], s.sideA, g.srfs[s.b], s.sideB); }
};

// Heals the ring as the plug-in does (samples fixed, no surface held), the outer boundary free
// (-1) or held in tangency (1); false when the topology or the heal fails.
bool Heal(SingleSpanRing& r, double maxGap, double healGap, int outer) {
  const int n = r.g.size();
  if (MakeTopologyZK(r.g.data(), n, maxGap, kMaxAngle) != 0) {
    CleanupTopology();
    return false;
  }
  int** result = allocate_matrix_ih(n, 4);
  const std::vector<int> fixed(n, 0);
  const int status = HealTopologyZK(r.g.data(), n, fixed.data(), outer, 1, healGap, kHealAngle, 1, result);
  matrix_free_ih(result);
  CleanupTopology();
  return status == 0;
}

class SingleSpan : public KernelTest {};

TEST_F(SingleSpan, NoisyRingClosesEverySeamWithinItsMoveBound) {
  // Outer boundary free at three sizes, the smallest and largest far from the origin; held once.
  const struct {
    int outer;
    double size;
    bool far;
  } kCases[] = {{-1, 1e-6, true}, {-1, 1.0, false}, {-1, 1e6, true}, {1, 1.0, true}};
  for (const auto& [outer, size, far] : kCases) {
    SingleSpanRing r(size, far, 1e-3, 1);
    const double healGap = 1e-5 * r.diagonal;
    std::vector<double> start;
    double widest = 0.0;
    for (const CellSeam& s : r.seams) widest = std::max(widest, start.emplace_back(r.Gap(s)));
    const double maxGap = std::max(5e-3 * r.diagonal, 1.5 * widest);
    std::vector<std::vector<double>> nets;
    for (const Bspline* s : r.g.srfs) nets.push_back(Net(s));
    ASSERT_TRUE(Heal(r, maxGap, healGap, outer)) << size << " far " << far << " outer " << outer;
    std::vector<double> closedOn(r.g.size(), 0.0);
    for (size_t k = 0; k < r.seams.size(); ++k) {
      const CellSeam& s = r.seams[k];
      EXPECT_LE(r.Gap(s), healGap) << "seam " << k << " from " << start[k] << " size " << size << " far " << far
                                   << " outer " << outer;
      for (int c : {s.a, s.b}) closedOn[c] = std::max(closedOn[c], start[k]);
    }
    for (int i = 0; i < r.g.size(); ++i)
      EXPECT_LE(LargestMove(nets[i], Net(r.g.srfs[i])), 3.0 * closedOn[i])
          << "surface " << i << " size " << size << " far " << far << " outer " << outer;
  }
}

}  // namespace

namespace {

// A cylinder of radius `size` and length `length` x size closed on itself in one net of nu x nv
// control points of degree p both ways (its u-min and u-max rows its own seam), the points those of
// the cylinder at their Greville abscissae, moved 1e4 x size along (1, 2, 3) when `far`, then every
// control point moved by up to `noise` x size per coordinate (seeded).
Bspline* NoisyClosedCylinder(double size, bool far, double noise, unsigned seed, int p = 5, int nu = 40, int nv = 6,
                             double length = 2.0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> off(-noise, noise);
  const std::vector<double> ku = ClampedKnots(p, nu), kv = ClampedKnots(p, nv);
  auto greville = [p](const std::vector<double>& k, int i) {
    double t = 0.0;
    for (int q = 1; q <= p; ++q) t += k[i + q];
    return t / p;
  };
  const double shift = far ? 1e4 * size : 0.0;
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = 2.0 * 3.14159265358979323846 * greville(ku, i), z = length * greville(kv, j);
      const double c[3] = {std::cos(a), std::sin(a), z};
      for (int d = 0; d < 3; ++d) pts.push_back((d + 1) * shift + size * (c[d] + off(rng)));
    }
  return BuildSurface(p, p, nu, nv, pts);
}

// Noise of 1e-2 of the radius kinks the own seam beyond MAXANGLE: the surface runs on across it
// all the same, and it closes in position within 3 x its gap of moves, at every size and far from
// the origin.
TEST_F(SingleSpan, ClosedSurfaceKinkedByTheDamageClosesItsOwnSeam) {
  const struct {
    double size;
    bool far;
    unsigned seed;
  } kCases[] = {{1e-6, true, 2}, {1.0, false, 3}, {1e6, true, 3}};
  for (const auto& [size, far, seed] : kCases) {
    Group g;
    g.Add(NoisyClosedCylinder(size, far, 1e-2, seed));
    const double diagonal = std::sqrt(12.0) * size, healGap = 1e-5 * diagonal;
    const double start = RefGap(g.srfs[0], 1, g.srfs[0], 3);
    const std::vector<double> net = Net(g.srfs[0]);
    ASSERT_EQ(MakeTopologyZK(g.data(), 1, 5e-2 * diagonal, kMaxAngle), 0);
    int** result = allocate_matrix_ih(1, 4);
    const int fixed[1] = {0};
    const int status = HealTopologyZK(g.data(), 1, fixed, 1, 1, healGap, kHealAngle, 1, result);
    matrix_free_ih(result);
    CleanupTopology();
    ASSERT_EQ(status, 0);
    EXPECT_LE(RefGap(g.srfs[0], 1, g.srfs[0], 3), healGap) << "from " << start << " size " << size << " seed " << seed;
    EXPECT_LE(LargestMove(net, Net(g.srfs[0])), 3.0 * start) << "size " << size << " seed " << seed;
  }
}

// Heals a group of one closed surface, its outer boundary free: the topology's status, else the
// heal's.
int HealOwnSeam(Group& g, double maxGap, double healGap) {
  const int made = MakeTopologyZK(g.data(), 1, maxGap, kMaxAngle);
  if (made != 0) return made;
  int** result = allocate_matrix_ih(1, 4);
  const int fixed[1] = {0};
  const int status = HealTopologyZK(g.data(), 1, fixed, -1, 1, healGap, kHealAngle, 1, result);
  matrix_free_ih(result);
  CleanupTopology();
  return status;
}

// A short closed cylinder (length a fifth of its radius, 40 x 12 cubic or 40 x 16 quintic): its
// steps along the own seam are a few times the noise, so noise of 2e-3 of the radius slides the
// seam's two rows along each other by a third to nearly a half of a step. Such rows still share
// their inner points: left to the fits, the seam stays open or the surface goes back where it
// came. It closes, moving the surface within 3 x its gap, at every size and far from the origin.
TEST_F(SingleSpan, ClosedSurfaceWithItsSeamRowsSlidAlongEachOtherClosesIt) {
  const struct {
    int degree, along;
    unsigned seed;
  } kNets[] = {{3, 12, 2}, {3, 16, 2}, {5, 16, 3}, {5, 16, 4}};
  const struct {
    double size;
    bool far;
  } kPlaces[] = {{1e-6, true}, {1.0, false}, {1e6, true}};
  for (const auto& [degree, along, seed] : kNets)
    for (const auto& [size, far] : kPlaces) {
      SCOPED_TRACE(testing::Message() << "degree " << degree << ", " << along << " along, seed " << seed << ", size "
                                      << size << (far ? " far" : ""));
      Group g;
      g.Add(NoisyClosedCylinder(size, far, 2e-3, seed, degree, 40, along, 0.2));
      const double diagonal = std::sqrt(8.04) * size, healGap = 1e-5 * diagonal;
      const double start = RefGap(g.srfs[0], 1, g.srfs[0], 3);
      const std::vector<double> net = Net(g.srfs[0]);
      ASSERT_EQ(HealOwnSeam(g, 3.0 * start, healGap), 0);
      EXPECT_LE(RefGap(g.srfs[0], 1, g.srfs[0], 3), healGap) << "from " << start;
      EXPECT_LE(LargestMove(net, Net(g.srfs[0])), 3.0 * start);
    }
}

// Cubic closed cylinders of 40 x 6 up to 60 x 20 points under noise of 1e-4 of the radius, the
// outer boundary free. Clamped, with points on the circle, the ring meets itself at a kink of some
// three degrees (its end legs are chords): a smooth seam whose angle target would turn the free
// rows' ends many times the gap across it. The own seam, the only one, closes all the same and
// the surface moves within 3 x its gap, at every size and far from the origin.
TEST_F(SingleSpan, ClosedCubicSurfaceClosesItsOwnSeamWithoutCarryingTheRing) {
  const struct {
    int nu, nv;
    unsigned seed;
  } kNets[] = {{40, 6, 1}, {40, 12, 2}, {60, 20, 1}};
  const struct {
    double size;
    bool far;
  } kPlaces[] = {{1e-6, true}, {1.0, false}, {1e6, true}};
  for (const auto& [nu, nv, seed] : kNets)
    for (const auto& [size, far] : kPlaces) {
      SCOPED_TRACE(testing::Message() << nu << " x " << nv << ", seed " << seed << ", size " << size
                                      << (far ? " far" : ""));
      Group g;
      g.Add(NoisyClosedCylinder(size, far, 1e-4, seed, 3, nu, nv));
      const double diagonal = std::sqrt(12.0) * size, healGap = 1e-5 * diagonal;
      // Both ways: an end of either side standing out past the other's is part of the gap.
      const double start = std::max(RefGap(g.srfs[0], 1, g.srfs[0], 3), RefGap(g.srfs[0], 3, g.srfs[0], 1));
      const std::vector<double> net = Net(g.srfs[0]);
      ASSERT_EQ(HealOwnSeam(g, 5e-4 * diagonal, healGap), 0);
      EXPECT_LE(RefGap(g.srfs[0], 1, g.srfs[0], 3), healGap) << "from " << start;
      EXPECT_LE(LargestMove(net, Net(g.srfs[0])), 3.0 * start) << "from " << start;
    }
}

}  // namespace

namespace {

// A bilinear plane (2 x 2, z = 0, y from -0.7 to 0, x from 0 to 1) and beside it a fillet strip
// of radius 0.04 rising from it along its side y = 0: one span of degree 5 each way (6 x 6), the
// seam its u-min side, a straight row of six points along x. The strip's seam row ends `slide`
// in from the plane's ends along x (the corners the heal puts between them) and the strip lies
// `lift` above the plane; scaled by `size`, moved 1e4 x size along (1, 2, 3) when `far`.
void PlaneBesideBezierStrip(Group& g, double size, bool far, double slide, double lift) {
  const double shift = far ? 1e4 * size : 0.0;
  auto put = [&](Bspline* s, int r, int c, double x, double y, double z) {
    s->X[r][c] = size * x + shift, s->Y[r][c] = size * y + 2.0 * shift, s->Z[r][c] = size * z + 3.0 * shift;
  };
  auto make = [](int degree) {
    Bspline* s = MallocNullBspline();
    s->kind = 2;
    s->dimension = 3;
    s->degreeU = s->degreeV = degree;
    s->interiorU = s->interiorV = 0;
    AllocateBsplineArrays(s);
    for (int k = 0; k < 2 * (degree + 1); ++k) s->knotsU[k] = s->knotsV[k] = k <= degree ? 0.0 : 1.0;
    s->umin = s->vmin = 0.0;
    s->umax = s->vmax = 1.0;
    return s;
  };
  Bspline* plane = g.Add(make(1));  // u across (y), v along (x): side 3 is the seam
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) put(plane, r, c, r, -0.7 * (1 - c), 0.0);
  Bspline* strip = g.Add(make(5));  // u round the arc, v along x: side 1 is the seam
  constexpr double kRadius = 0.04;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 6; ++c) {
      const double th = 0.5 * 3.14159265358979 * c / 5.0;
      const double x = slide + (1.0 - 2.0 * slide) * r / 5.0;
      put(strip, r, c, x, kRadius * std::sin(th), kRadius * (1.0 - std::cos(th)) + lift);
    }
}

TEST_F(SingleSpan, BezierSideFollowsItsSlidCornersWithoutSwingingAlongTheSeam) {
  // The heal puts the seam's corners between the two sides' ends, so the strip's seam row ends
  // slide along it; its six points must follow them, not swing along the seam to hold their
  // samples where the closest points across first put them.
  const struct {
    double size;
    bool far;
  } kCases[] = {{1e-6, true}, {1.0, false}, {1e6, true}};
  for (const auto& [size, far] : kCases) {
    Group g;
    PlaneBesideBezierStrip(g, size, far, 2e-4, 2e-4);
    const double gap = RefGap(g.srfs[0], 3, g.srfs[1], 1);
    const double healGap = 1e-5 * size;
    std::vector<std::vector<double>> nets;
    for (const Bspline* s : g.srfs) nets.push_back(Net(s));
    ASSERT_EQ(MakeTopologyZK(g.data(), 2, 10.0 * gap, kMaxAngle), 0);
    int** result = allocate_matrix_ih(2, 4);
    const int fixed[2] = {0, 0};
    const int status = HealTopologyZK(g.data(), 2, fixed, -1, 1, healGap, kHealAngle, 1, result);
    matrix_free_ih(result);
    CleanupTopology();
    ASSERT_EQ(status, 0) << size;
    EXPECT_LE(RefGap(g.srfs[0], 3, g.srfs[1], 1), healGap) << size << " far " << far;
    for (int i = 0; i < 2; ++i)
      EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * gap)
          << "surface " << i << " size " << size << " far " << far;
  }
}

// A fillet strip of 27 x 6 (quintic, one span along the seam) beside a bilinear plane turned 20
// degrees about their seam, a crease, under noise on every control point, ten times as much along
// the seam as across it (a dense package model's fillet). The plane's side is a straight segment:
// how the strip's points lie along it is parametrisation only, and a fit to samples paired at
// parameters swung the seam row's inner points along it 2.4-2.7 x the gap. They keep their places
// but for the corners' slide, blended linearly between them, the seam closes and the strip moves
// within 3 x the gap, at every size and far from the origin.
TEST_F(SingleSpan, BezierCreaseSideAgainstAStraightSideKeepsItsPlacesAlongIt) {
  constexpr double kTurn = 20.0 * 3.14159265358979 / 180.0, kRadius = 0.04, kNoise = 3e-4, kAlong = 10.0;
  const std::vector<double> ku = ClampedKnots(5, 27);
  const struct {
    double size;
    bool far;
  } kPlaces[] = {{1e-3, true}, {1.0, false}, {1e3, true}};
  for (const unsigned seed : {1u, 3u})
    for (const auto& [size, far] : kPlaces) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", size " << size << (far ? " far" : ""));
      const double shift = far ? 1e4 * size : 0.0;
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> off(-kNoise, kNoise);
      auto at = [&](std::vector<double>& pts, double x, double y, double z) {
        const double p[3] = {x, y, z};
        for (int d = 0; d < 3; ++d) pts.push_back((d + 1) * shift + size * p[d]);
      };
      std::vector<double> plane, strip;
      for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i)
          at(plane, j + off(rng), -0.7 * (1 - i) * std::cos(kTurn) + off(rng), -0.7 * (1 - i) * std::sin(kTurn) + off(rng));
      for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 27; ++i) {
          double t = 0.0;
          for (int q = 1; q <= 5; ++q) t += ku[i + q] / 5.0;
          const double th = 0.5 * 3.14159265358979 * t;
          at(strip, j / 5.0 + kAlong * off(rng), kRadius * std::sin(th) + off(rng),
             kRadius * (1.0 - std::cos(th)) + off(rng));
        }
      Group g;
      Bspline* pl = g.Add(BuildSurface(1, 1, 2, 2, plane));
      Bspline* st = g.Add(BuildSurface(5, 5, 27, 6, strip));
      const double gap = std::max(RefGap(pl, 3, st, 1), RefGap(st, 1, pl, 3));
      const double healGap = 1e-5 * size;
      const std::vector<double> before = Net(st);
      ASSERT_EQ(MakeTopologyZK(g.data(), 2, 10.0 * gap, kMaxAngle), 0);
      int** result = allocate_matrix_ih(2, 4);
      const int fixed[2] = {0, 0};
      const int status = HealTopologyZK(g.data(), 2, fixed, 1, 1, healGap, kHealAngle, 1, result);
      matrix_free_ih(result);
      CleanupTopology();
      ASSERT_EQ(status, 0);
      EXPECT_LE(RefGap(pl, 3, st, 1), healGap);
      const std::vector<double> now = Net(st);
      EXPECT_LE(LargestMove(before, now), 3.0 * gap);
      // The seam row (column 0) runs along x; its inner points at Greville abscissae r / 5.
      auto dx = [&](int r) { return now[r * 27] - before[r * 27]; };
      for (int r = 1; r < 5; ++r)
        EXPECT_LE(std::fabs(dx(r) - ((5 - r) * dx(0) + r * dx(5)) / 5.0), 0.1 * gap) << "row " << r;
    }
}

}  // namespace

namespace {

// Three bands of a cylinder of radius `size` (axis z), each 2 x size long and on from the one
// before, each closed on itself round the axis (its u-min and u-max rows its own seam) in a net of
// 111 x 18 control points of degree 5, the points those of the cylinder at their Greville
// abscissae; neighbours share a circle (the first's v-max row, the next one's v-min row). Round the
// axis the spans are as an exporter writes arcs approximated piece by piece, triple inner knots,
// long and short spans in runs that start at another place on each band. Moved 1e4 x size along
// (1, 2, 3) when `far`, then every control point moved by up to `noise` x size per coordinate
// (seeded).
void NoisyCylinderBands(Group& g, double size, bool far, double noise, unsigned seed) {
  constexpr int p = 5, nv = 18;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> off(-noise, noise);
  // Round the axis three times four spans of a 24th of the turn, then eight of a 48th, each
  // inner knot triple (as an exporter writes arcs approximated piece by piece).
  auto knotsRound = [](int offset) {
    std::vector<double> k(p + 1, 0.0);
    double at = 0.0;
    for (int s = 0; s < 36; ++s) {
      at += (s + offset) % 12 < 4 ? 1.0 / 24.0 : 1.0 / 48.0;
      for (int m = 0; m < (s == 35 ? p + 1 : 3); ++m) k.push_back(s == 35 ? 1.0 : at);
    }
    return k;
  };
  const std::vector<double> kv = ClampedKnots(p, nv);
  auto greville = [](const std::vector<double>& k, int i) {
    double t = 0.0;
    for (int q = 1; q <= p; ++q) t += k[i + q];
    return t / p;
  };
  const double shift = far ? 1e4 * size : 0.0;
  for (int band = 0; band < 3; ++band) {
    const std::vector<double> ku = knotsRound(2 * band);
    const int nu = static_cast<int>(ku.size()) - p - 1;
    std::vector<double> pts;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double a = 2.0 * 3.14159265358979323846 * greville(ku, i), z = 2.0 * (band + greville(kv, j));
        const double c[3] = {std::cos(a), std::sin(a), z};
        for (int d = 0; d < 3; ++d) pts.push_back((d + 1) * shift + size * (c[d] + off(rng)));
      }
    g.Add(BuildSurface(p, p, nu, nv, pts, ku, kv));
  }
}

// Closed rings of many spans meet only their own seam's corner, which holds none of their other
// points along the seams between them. The heal closes every ring and every circle between them
// and moves no control point beyond 3 x the largest gap closed on its surface's sides, at every
// size and far from the origin.
TEST_F(SingleSpan, ClosedRingsBesideEachOtherCloseWithinTheirMoveBound) {
  for (const double size : {1e-6, 1.0, 1e6}) {
    const bool far = size != 1.0;
    Group g;
    NoisyCylinderBands(g, size, far, 1e-4 * std::sqrt(40.0), 2);
    const double diagonal = std::sqrt(40.0) * size, healGap = 1e-5 * diagonal;
    double own[3], between[2];
    for (int i = 0; i < 3; ++i) own[i] = RefGap(g.srfs[i], 1, g.srfs[i], 3);
    for (int i = 0; i < 2; ++i) between[i] = RefGap(g.srfs[i], 4, g.srfs[i + 1], 2);
    std::vector<std::vector<double>> nets;
    for (const Bspline* s : g.srfs) nets.push_back(Net(s));
    ASSERT_EQ(MakeTopologyZK(g.data(), 3, 5e-3 * diagonal, kMaxAngle), 0);
    int** result = allocate_matrix_ih(3, 4);
    const int fixed[3] = {0, 0, 0};
    const int status = HealTopologyZK(g.data(), 3, fixed, -1, 1, healGap, kHealAngle, 1, result);
    matrix_free_ih(result);
    CleanupTopology();
    ASSERT_EQ(status, 0) << size;
    for (int i = 0; i < 2; ++i)
      EXPECT_LE(RefGap(g.srfs[i], 4, g.srfs[i + 1], 2), healGap) << "from " << between[i] << " size " << size;
    for (int i = 0; i < 3; ++i) {
      EXPECT_LE(RefGap(g.srfs[i], 1, g.srfs[i], 3), healGap) << "band " << i << " from " << own[i] << " size " << size;
      const double bound = std::max({own[i], i > 0 ? between[i - 1] : 0.0, i < 2 ? between[i] : 0.0});
      EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * bound) << "band " << i << " size " << size << " far " << far;
    }
  }
}

}  // namespace
