// The positional stitch as the plug-in runs it (samples fixed at the start) on flat patches whose
// shared sides' corners the damage moved along the sides: once their corners meet, two straight
// sides lie on one line, but their parametrisations still slide against each other by the
// corners' moves, so samples matched at the start no longer lie beside each other. The loop must
// go on to the gap target across the seams, not stop at the slide.
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

class SeamSlideTest : public KernelTest {};

// A 2 x 2 grid of flat patches of cu x cv control points (degree cu - 1 in u along x, cv - 1 in
// v along y) on [0, 2]^2 of the unit frame, mapped by size and offset, every control point moved
// by seeded noise within +-noise per coordinate: each patch has its own copy of the corners, so
// the sides' corners move along the sides (their parametrisations slide) and apart.
void NoisyGrid(Group& g, int cu, int cv, double noise, double size, double offset) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> jitter(-noise, noise);
  for (int q = 0; q < 4; ++q) {
    std::vector<double> pts;
    for (int j = 0; j < cv; ++j)
      for (int i = 0; i < cu; ++i) {
        const double x = q % 2 + static_cast<double>(i) / (cu - 1), y = q / 2 + static_cast<double>(j) / (cv - 1);
        for (const double c : {x, y, 0.0}) pts.push_back(offset + size * (c + jitter(rng)));
      }
    g.Add(BuildSurface(cu - 1, cv - 1, cu, cv, pts));
  }
}

TEST_F(SeamSlideTest, StitchGoesOnPastSidesThatSlideAlongEachOther) {
  // The grid's seams: patch, side, patch, side (1 u-min, 2 v-min, 3 u-max, 4 v-max).
  const int seams[4][4] = {{0, 3, 1, 1}, {2, 3, 3, 1}, {0, 4, 2, 2}, {1, 4, 3, 2}};
  for (const int cv : {2, 4})
    for (const double size : {1e-3, 1.0, 1e3})
      for (const double offset : {0.0, 1e4 * size}) {
        Group g;
        NoisyGrid(g, 4, cv, 1e-3, size, offset);
        const double maxGap = 0.02 * size, gapTol = 5e-6 * size;
        ASSERT_EQ(MakeTopologyZK(g.data(), 4, maxGap, 8.0), 0);
        int reason = -1;
        double gap = -1.0;
        // The plug-in's loop: fixed samples, 46 iterations, the smallest gain scaled with the group.
        ASSERT_EQ(G0GlobalStitchSrfGrp(srfsTopology, -1, gapTol, 0.5, 0, 1, 46, 100, 5e-5 * size, 0.01, &reason, &gap), 0);
        EXPECT_LT(gap, gapTol) << "4 x " << cv << " at size " << size << ", offset " << offset;
        for (const auto& s : seams) {
          double across = 0.0;
          RefEdgeMeasures(srfsTopology->srfs[s[0]].srf, s[1], srfsTopology->srfs[s[2]].srf, s[3], &across, nullptr, 60);
          EXPECT_LT(across, gapTol) << "4 x " << cv << " at size " << size << ", offset " << offset;
        }
        CleanupTopology();
      }
}

}  // namespace

namespace {

// Two flat patches side by side, 4 x 4 and 4 x 5 cubic (their shared sides on different knot
// vectors, so no row can be shared), every control point moved by seeded noise: the positional
// loop, run with the plug-in's options, stops once its passes no longer narrow the seam, which it
// leaves open, marks stalled and names so (judged at a target the two nets can follow each other
// within, else their coarseness comes first); a loop cut short by its iteration count before it
// could stall leaves the seam open too and names that its passes ended: no seam left open goes
// without a reason. The same at every size and far from the origin.
TEST_F(SeamSlideTest, StitchThatStallsNamesTheSeamItLeftOpen) {
  for (const int maxIter : {3, 46})
    for (const double size : {1e-3, 1.0, 1e3})
      for (const double offset : {0.0, 1e4 * size}) {
        SCOPED_TRACE(testing::Message() << "maxIter " << maxIter << " size " << size << " offset " << offset);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> jitter(-1e-3, 1e-3);
        Group g;
        for (const int cv : {4, 5}) {
          std::vector<double> pts;
          for (int j = 0; j < cv; ++j)
            for (int i = 0; i < 4; ++i) {
              const double x = (cv == 5) + i / 3.0, y = static_cast<double>(j) / (cv - 1);
              for (const double c : {x, y, 0.0}) pts.push_back(offset + size * (c + jitter(rng)));
            }
          g.Add(BuildSurface(3, 3, 4, cv, pts));
        }
        const double gapTol = 5e-6 * size;
        ASSERT_EQ(MakeTopologyZK(g.data(), 2, 0.02 * size, 8.0), 0);
        int reason = -1;
        double gap = -1.0;
        ASSERT_EQ(G0GlobalStitchSrfGrp(srfsTopology, -1, gapTol, 0.5, 0, 1, maxIter, 100, 5e-5 * size, 0.01, &reason,
                                       &gap),
                  0);
        int paired = 0;
        for (int i = 0; i < srfsTopology->nEdge; ++i) {
          const EdgeInfoStruct& e = srfsTopology->edges[i];
          if (!e.paired) continue;
          ++paired;
          EXPECT_GE(e.maxGap, gapTol);
          EXPECT_EQ(e.stalled, maxIter > 3 ? 1 : 2);
          for (int side : {0, 1})
            EXPECT_EQ(FindBndrEdgeOpenReason(srfsTopology, i, side, 2e-3 * size),
                      maxIter > 3 ? kBndrOpenStalled : kBndrOpenPassesEnded);
        }
        EXPECT_EQ(paired, 1);
        CleanupTopology();
      }
}

}  // namespace

namespace {

// Heals the group of three as the plug-in does (samples fixed, no surface held, the outer boundary
// free) at the largest gap maxGap: every seam listed (surface, side, surface, side) must end within
// healGap, and no surface may move beyond 3 x the largest gap it closed.
void HealClosesWithinMoveBound(Group& g, const int (*seams)[4], int nSeam, double maxGap, double healGap) {
  std::vector<double> start;
  for (int k = 0; k < nSeam; ++k)
    start.push_back(RefGap(g.srfs[seams[k][0]], seams[k][1], g.srfs[seams[k][2]], seams[k][3]));
  std::vector<std::vector<double>> nets;
  for (const Bspline* b : g.srfs) nets.push_back(Net(b));
  ASSERT_EQ(MakeTopologyZK(g.data(), 3, maxGap, 8.0), 0);
  int** result = allocate_matrix_ih(3, 4);
  const int fixed[3] = {0, 0, 0};
  const int status = HealTopologyZK(g.data(), 3, fixed, -1, 1, healGap, 0.1, 1, result);
  matrix_free_ih(result);
  CleanupTopology();
  ASSERT_EQ(status, 0);
  double closedOn[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < nSeam; ++k) {
    EXPECT_LE(RefGap(g.srfs[seams[k][0]], seams[k][1], g.srfs[seams[k][2]], seams[k][3]), healGap)
        << "seam " << k << " from " << start[k];
    for (int q : {seams[k][0], seams[k][2]}) closedOn[q] = std::max(closedOn[q], start[k]);
  }
  for (int q = 0; q < 3; ++q) EXPECT_LE(LargestMove(nets[q], Net(g.srfs[q])), 3.0 * closedOn[q]) << "surface " << q;
}

}  // namespace

namespace {

// A tube of three closed rings stacked along its axis (x, y round a circle of radius `size`, z
// along), each ring one net of degree p both ways, `round[k]` control points round it by eight
// along it and a length of `size`: its u-min and u-max rows its own seam, its v rows the circles it
// shares with the rings beside it, those on knots of their own where the counts round differ. The
// points are the cylinder's at their Greville abscissae, moved 1e4 x size along (1, 2, 3) when
// `far`, then by up to `noise` x size per coordinate (seeded).
void StackedRings(Group& g, int p, const int round[3], double size, bool far, double noise, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> off(-noise, noise);
  const double shift = far ? 1e4 * size : 0.0;
  for (int k = 0; k < 3; ++k) {
    const int nu = round[k], nv = 8;
    const std::vector<double> ku = ClampedKnots(p, nu), kv = ClampedKnots(p, nv);
    auto greville = [p](const std::vector<double>& t, int i) {
      double sum = 0.0;
      for (int q = 1; q <= p; ++q) sum += t[i + q];
      return sum / p;
    };
    std::vector<double> pts;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double a = 2.0 * 3.14159265358979323846 * greville(ku, i);
        const double c[3] = {std::cos(a), std::sin(a), k + greville(kv, j)};
        for (int d = 0; d < 3; ++d) pts.push_back((d + 1) * shift + size * (c[d] + off(rng)));
      }
    g.Add(BuildSurface(p, p, nu, nv, pts));
  }
}

// Cubic rings of 40, 44 and 40 points round under noise of 1e-3 of the radius: the circles
// between rings lie on knots of their own, and the fits still narrow them pass by pass when they
// are a few times the gap target apart, each pass gaining less than the smallest gain the plug-in
// passes the loop (scaled with the group, ten times the target). The loop goes on while it gains:
// every seam closes, and no ring moves beyond 3 x the gaps it closes, at every size and far from
// the origin.
TEST_F(SeamSlideTest, StackedRingsCloseTheirCirclesWhileTheLoopGains) {
  for (const double size : {1e-6, 1.0, 1e6}) {
    const bool far = size != 1.0;
    SCOPED_TRACE(testing::Message() << "size " << size << (far ? " far" : ""));
    Group g;
    const int round[3] = {40, 44, 40};
    StackedRings(g, 3, round, size, far, 1e-3, 3);
    // Each ring's own seam, then the two circles between rings.
    const int seams[5][4] = {{0, 1, 0, 3}, {1, 1, 1, 3}, {2, 1, 2, 3}, {0, 4, 1, 2}, {1, 4, 2, 2}};
    const double diagonal = std::sqrt(17.0) * size;
    HealClosesWithinMoveBound(g, seams, 5, 5e-3 * diagonal, 1e-5 * diagonal);
  }
}

}  // namespace

namespace {

// A fillet strip between two planes as a CAD exporter writes them: the planes bilinear 2 x 2 nets,
// the fillet a quarter cylinder of 27 x 6 points of degree 5 both ways (round the arc by 22 spans,
// along the seams one span), tangent to both planes; the seams run along y. Scaled by `size`,
// moved by 1e4 x size along (1, 2, 3) when `far`, then every control point moved by up to `noise` x
// the group's control-box diagonal per coordinate (seeded), which also slides the seams' sides
// along each other.
struct NoisyFillet {
  Group g;
  double diagonal = 0.0;
  NoisyFillet(double size, bool far, double noise, unsigned seed) {
    constexpr double r = 0.027, w = 0.35, flat = 0.2;
    constexpr int p = 5, nu = 27, nv = 6;
    const double shift = far ? 1e4 * size : 0.0;
    auto put = [&](std::vector<double>& pts, double x, double y, double z) {
      for (const double c : {x, y, z}) pts.push_back(c);
    };
    std::vector<double> a, b, f;
    for (int j = 0; j < 2; ++j)
      for (int i = 0; i < 2; ++i) put(a, -flat + flat * i, w * j, 0.0), put(b, r, w * j, r + flat * i);
    const std::vector<double> ku = ClampedKnots(p, nu);
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        double gr = 0.0;
        for (int q = 1; q <= p; ++q) gr += ku[i + q];
        const double th = 0.5 * 3.14159265358979323846 * gr / p;
        const double y = w * j / (nv - 1);
        // The second points lie on the planes' lines, at their arc points' distance from the ends:
        // the fillet leaves the planes tangent to them.
        if (i == 1)
          put(f, 2.0 * r * std::sin(0.5 * th), y, 0.0);
        else if (i == nu - 2)
          put(f, r, y, r - 2.0 * r * std::sin(0.25 * 3.14159265358979323846 - 0.5 * th));
        else
          put(f, r * std::sin(th), y, r - r * std::cos(th));
      }
    std::mt19937 rng(seed);
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const auto* pts : {&a, &f, &b})
      for (size_t k = 0; k < pts->size(); ++k)
        lo[k % 3] = std::min(lo[k % 3], (*pts)[k]), hi[k % 3] = std::max(hi[k % 3], (*pts)[k]);
    diagonal = size * std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    std::uniform_real_distribution<double> off(-noise * diagonal, noise * diagonal);
    for (auto* pts : {&a, &f, &b})
      for (size_t k = 0; k < pts->size(); ++k) (*pts)[k] = (k % 3 + 1) * shift + size * (*pts)[k] + off(rng);
    g.Add(BuildSurface(1, 1, 2, 2, a));
    g.Add(BuildSurface(p, p, nu, nv, f));
    g.Add(BuildSurface(1, 1, 2, 2, b));
  }
};

// Each side keeps its own parametrisation: the heal closes the seams across, and the sides' points
// do not chase each other's parameters along them. Every surface then moves within 3 x the largest
// gap it closes, also where its side is one span of high degree (which, refitted to the other
// side's parameters, swings its points along the seam several times the gap), at every size and
// far from the origin.
TEST_F(SeamSlideTest, FilletBesidePlanesClosesWithoutSlidingAlongItsSeams) {
  const struct {
    double size;
    bool far;
    unsigned seed;
  } kCases[] = {{1e-6, true, 30}, {1.0, false, 30}, {1.0, false, 46}, {1e6, true, 46}};
  // Plane side 3 with the fillet's side 1, the fillet's side 3 with the other plane's side 1.
  const int seams[2][4] = {{0, 3, 1, 1}, {1, 3, 2, 1}};
  for (const auto& [size, far, seed] : kCases) {
    SCOPED_TRACE(testing::Message() << "size " << size << " far " << far << " seed " << seed);
    NoisyFillet fil(size, far, 1e-4, seed);
    // MAXGAP 5 x the damage's level.
    HealClosesWithinMoveBound(fil.g, seams, 2, 5e-4 * fil.diagonal, 1e-5 * fil.diagonal);
  }
}

}  // namespace
