// A coarse net beside a fine one whose shared side is a shape the coarse net cannot take: a
// single-span bicubic quarter cylinder (its arc a cubic, off the circle by 2.7e-4 of the radius)
// beside a chamfer strip of 4 x 130 points whose side follows the circle. The seam must close to
// HEALGAP on a curve the coarse net can take, neither net moved beyond 3 x the gap, the 45-degree
// crease kept within a degree at every sample; at every size, at the origin and far from it, with
// the outer boundary free and held.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kMaxAngle = 8.0, kHealAngle = 0.1;

// The quarter cylinder of radius `size` about the x axis, x in [0, size] (u), the arc from angle
// 0 to 90 degrees (v): its side 3 (u-max) is the arc at x = size. The chamfer strip leaves that
// arc at 45 degrees outwards, 0.3 x size wide (u), 130 points along the arc (v) on the circle at
// their Greville abscissae. Both moved by 1e4 x size along (1, 2, 3) when `far`.
struct CoarseBesideFine {
  Group g;
  double diagonal = 0.0;
  CoarseBesideFine(double size, bool far) {
    const double shift = far ? 1e4 * size : 0.0;
    auto put = [&](std::vector<double>& pts, double x, double y, double z) {
      pts.push_back(size * x + shift);
      pts.push_back(size * y + 2.0 * shift);
      pts.push_back(size * z + 3.0 * shift);
    };
    constexpr double k = 0.5522847498307936;  // the cubic's handle for a quarter circle
    const double arc[4][2] = {{1.0, 0.0}, {1.0, k}, {k, 1.0}, {0.0, 1.0}};
    std::vector<double> coarse;
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) put(coarse, i / 3.0, arc[j][0], arc[j][1]);
    g.Add(BuildSurface(3, 3, 4, 4, coarse));
    constexpr int nv = 130;
    const std::vector<double> kv = ClampedKnots(3, nv);
    std::vector<double> fine;
    for (int j = 0; j < nv; ++j) {
      const double a = 0.5 * 3.14159265358979323846 * (kv[j + 1] + kv[j + 2] + kv[j + 3]) / 3.0;
      for (int i = 0; i < 4; ++i) {
        const double s = 0.3 * i / 3.0 / std::sqrt(2.0), r = 1.0 + s;
        put(fine, 1.0 + s, r * std::cos(a), r * std::sin(a));
      }
    }
    g.Add(BuildSurface(3, 3, 4, nv, fine, {}, kv));
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const std::vector<double>* pts : {&coarse, &fine})
      for (size_t q = 0; q < pts->size(); ++q) {
        lo[q % 3] = std::min(lo[q % 3], (*pts)[q]);
        hi[q % 3] = std::max(hi[q % 3], (*pts)[q]);
      }
    diagonal = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
  }
  // The crease's angle at 60 samples along the cylinder's side, met by closest point.
  std::vector<double> Angles() const {
    std::vector<double> out;
    for (int i = 0; i <= 60; ++i) {
      const double t = i / 60.0;
      double p[3], na[3], nb[3];
      SidePoint(g.srfs[0], 3, t, p);
      const double tb = RefClosestParam(g.srfs[1], 1, 0.0, 1.0, p);
      SideNormal(g.srfs[0], 3, t, na);
      SideNormal(g.srfs[1], 1, tb, nb);
      out.push_back(RefFoldedAngle(na, nb));
    }
    return out;
  }
};

class CoarseNet : public KernelTest {};

TEST_F(CoarseNet, SeamBesideAFineStripClosesWithinTheMoveBoundKeepingItsCrease) {
  // The outer boundary free, and held in tangency as the plug-in holds it by default.
  const struct {
    double size;
    bool far;
    int outer;
  } kCases[] = {{1e-6, true, -1}, {1.0, false, -1}, {1.0, true, 1}, {1e6, true, -1}, {1e6, false, 1}};
  for (const auto& [size, far, outer] : kCases) {
    CoarseBesideFine c(size, far);
    const double healGap = 1e-5 * c.diagonal, maxGap = 5e-3 * c.diagonal;
    const double start = RefGap(c.g.srfs[0], 3, c.g.srfs[1], 1);
    ASSERT_GT(start, 10.0 * healGap) << size;  // the cubic is off the circle by far more than HEALGAP
    const std::vector<double> angles = c.Angles();
    const std::vector<double> coarse = Net(c.g.srfs[0]), fine = Net(c.g.srfs[1]);
    ASSERT_EQ(MakeTopologyZK(c.g.data(), 2, maxGap, kMaxAngle), 0);
    int** result = allocate_matrix_ih(2, 4);
    const int fixed[2] = {0, 0};
    const int status = HealTopologyZK(c.g.data(), 2, fixed, outer, 1, healGap, kHealAngle, 1, result);
    const int codes[2] = {result[0][2], result[1][0]};
    matrix_free_ih(result);
    CleanupTopology();
    ASSERT_EQ(status, 0) << size;
    EXPECT_LE(RefGap(c.g.srfs[0], 3, c.g.srfs[1], 1), healGap) << size << " far " << far;
    for (const int code : codes) EXPECT_TRUE(code == 0 || code == -5) << code << " size " << size << " far " << far;
    EXPECT_LE(LargestMove(coarse, Net(c.g.srfs[0])), 3.0 * start) << size << " far " << far;
    EXPECT_LE(LargestMove(fine, Net(c.g.srfs[1])), 3.0 * start) << size << " far " << far;
    const std::vector<double> after = c.Angles();
    for (size_t i = 0; i < after.size(); ++i) EXPECT_NEAR(after[i], angles[i], 1.0) << i << " size " << size;
  }
}

// A bilinear plane (2 x 2, z = 0, x along the seam from 0 to 1, y from -0.8 to 0) and a fillet
// of radius 0.005 rising from it along y = 0, tangent to it: a cubic quarter circle round the arc
// (v, 4 points) by cubic along x (u, 4 points).
// Scaled by `size`, moved 1e4 x size along (1, 2, 3) when `far`. The plane's side 1 (u-min, at
// y = 0) meets the fillet's side 2 (v-min). Then every coordinate of every control point but the
// fillet's seam row (straight, as the plane's side can only be) is moved by up to `noise` x size
// (seeded): on the fillet's legs of 0.0028 that tilts its normals along the seam by degrees, which
// the plane could meet only by turning as a whole about the seam.
struct PlaneBesideNoisyFillet {
  Group g;
  std::vector<double> clean[2];  // the nets before the noise, as Net() gives them
  PlaneBesideNoisyFillet(double size, bool far, double noise, unsigned seed) {
    const double shift = far ? 1e4 * size : 0.0;
    auto put = [&](std::vector<double>& pts, double x, double y, double z) {
      pts.push_back(size * x + shift);
      pts.push_back(size * y + 2.0 * shift);
      pts.push_back(size * z + 3.0 * shift);
    };
    std::vector<double> plane, fillet;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 2; ++i) put(plane, j, -0.8 * i, 0.0);
    constexpr double kRadius = 0.005, k = 0.5522847498307936;  // the cubic's handle for a quarter circle
    const double arc[4][2] = {{0.0, 0.0}, {k, 0.0}, {1.0, 1.0 - k}, {1.0, 1.0}};
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) put(fillet, i / 3.0, kRadius * arc[j][0], kRadius * arc[j][1]);
    for (int i = 0; i < 2; ++i) {
      Bspline* s = i ? BuildSurface(3, 3, 4, 4, fillet) : BuildSurface(1, 1, 2, 2, plane);
      clean[i] = Net(s);
      FreeBspline(s);
    }
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-noise * size, noise * size);
    for (double& v : plane) v += jitter(rng);
    for (size_t k = 3 * 4; k < fillet.size(); ++k) fillet[k] += jitter(rng);
    g.Add(BuildSurface(1, 1, 2, 2, plane));
    g.Add(BuildSurface(3, 3, 4, 4, fillet));
  }
};

TEST_F(CoarseNet, PlaneThatCannotTurnAllTheWayOntoANoisyFilletKeepsItsPlace) {
  // The fillet is held: only the plane can close the seam and turn towards the fillet's normals.
  // Turning far enough would move its far side its width times degrees, so it keeps its place:
  // it ends within twice the damage of its clean shape, the seam closed in position.
  const struct {
    double size;
    bool far;
    unsigned seed;
  } kCases[] = {{1e-3, true, 1}, {1.0, false, 2}, {1.0, true, 3}, {1e3, true, 4}};
  for (const auto& [size, far, seed] : kCases) {
    PlaneBesideNoisyFillet c(size, far, 1e-4, seed);
    const double healGap = 1e-5 * size, maxGap = 5e-3 * size;
    double damage = 0.0;
    for (int i = 0; i < 2; ++i) damage = std::max(damage, LargestMove(c.clean[i], Net(c.g.srfs[i])));
    const double start = RefGap(c.g.srfs[0], 1, c.g.srfs[1], 2);
    ASSERT_GT(start, 2.0 * healGap) << size;
    ASSERT_EQ(MakeTopologyZK(c.g.data(), 2, maxGap, kMaxAngle), 0);
    int** result = allocate_matrix_ih(2, 4);
    const int fixed[2] = {0, 1};
    const int status = HealTopologyZK(c.g.data(), 2, fixed, -1, 1, healGap, kHealAngle, 1, result);
    matrix_free_ih(result);
    CleanupTopology();
    ASSERT_EQ(status, 0) << size;
    EXPECT_LE(RefGap(c.g.srfs[0], 1, c.g.srfs[1], 2), healGap) << size << " far " << far;
    EXPECT_LE(LargestMove(c.clean[0], Net(c.g.srfs[0])), 2.0 * damage) << size << " far " << far;
  }
}

}  // namespace
