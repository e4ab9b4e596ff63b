// The heal on groups as CAD systems export them, after a lossy export (seeded noise on every
// control point or on the boundary rows): every seam that starts within MAXGAP ends within
// HEALGAP, measured by the reference evaluator; no surface moves more than 3 x the largest gap
// closed on its sides; creases keep their angle along their length; no normal turns over.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "bspline/nubs.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kMaxAngle = 5.0, kHealAngle = 0.5;

// The folded angle between the normals of side sa of A at its parameter t and of the scanned
// side at A's point's closest.
double SeamAngleAtParam(const Bspline* A, int sa, const RefSideScan& onB, double t) {
  double p[3], na[3], nb[3];
  SidePoint(A, sa, t, p);
  const double tb = RefClosestParam(onB, p);
  SideNormal(A, sa, t, na);
  SideNormal(onB.s, onB.side, tb, nb);
  return RefFoldedAngle(na, nb);
}

// The same at fraction f along seam side A, matched on B.
double SeamAngleAt(const Group& g, const SampleSeam& s, const RefSideScan& onB, double f) {
  const Bspline* A = g.srfs[s.elemA];
  const double ta0 = s.sideA % 2 ? A->vmin : A->umin, ta1 = s.sideA % 2 ? A->vmax : A->umax;
  return SeamAngleAtParam(A, s.sideA, onB, ta0 + f * (ta1 - ta0));
}
double SeamAngleAt(const Group& g, const SampleSeam& s, double f) {
  return SeamAngleAt(g, s, RefSideScan(g.srfs[s.elemB], s.sideB), f);
}

// Both sides of a seam scanned for closest points, as the surfaces are when it is made.
struct SeamScans {
  RefSideScan a, b;
  SeamScans(const Group& g, const SampleSeam& s) : a(g.srfs[s.elemA], s.sideA), b(g.srfs[s.elemB], s.sideB) {}
};

// The folded angle across the seam at side A's parameter t read from both sides alike: from A's
// point there against B's closest, and from B's point at the same fraction of its side against
// A's closest to that; their mean. On noisy rows the two reads differ by degrees (the noise
// slides the points along the seam), and either alone judges the crease by one side.
double SeamAngleBothSides(const SeamScans& sc, double t) {
  const RefSideScan &A = sc.a, &B = sc.b;
  const double f = (t - A.t0) / (A.t1 - A.t0);
  const double* a0 = A.pts.front().data();
  const double tb = Dist(a0, B.pts.front().data()) <= Dist(a0, B.pts.back().data()) ? B.t0 + f * (B.t1 - B.t0)
                                                                                     : B.t1 - f * (B.t1 - B.t0);
  double p[3], na[3], nb[3];
  SidePoint(B.s, B.side, tb, p);
  SideNormal(B.s, B.side, tb, nb);
  SideNormal(A.s, A.side, RefClosestParam(A, p), na);
  return 0.5 * (SeamAngleAtParam(A.s, A.side, B, t) + RefFoldedAngle(na, nb));
}

// Normals (not normalised: only their turning over is judged) on a grid over the domain.
std::vector<double> NormalGrid(const Bspline* s) {
  std::vector<double> out;
  for (int j = 0; j <= 10; ++j)
    for (int i = 0; i <= 10; ++i) {
      double su[3], sv[3];
      RefEvalDeriv(s, s->umin + (s->umax - s->umin) * i / 10.0, s->vmin + (s->vmax - s->vmin) * j / 10.0, 1, 0, su);
      RefEvalDeriv(s, s->umin + (s->umax - s->umin) * i / 10.0, s->vmin + (s->vmax - s->vmin) * j / 10.0, 0, 1, sv);
      out.insert(out.end(), {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2], su[0] * sv[1] - su[1] * sv[0]});
    }
  return out;
}

// Largest gap of a seam at 25 samples of side A (the reference's closest points on B).
double SeamGap(const Group& g, const SampleSeam& s) {
  double gap = 0.0;
  RefEdgeMeasures(g.srfs[s.elemA], s.sideA, g.srfs[s.elemB], s.sideB, &gap, nullptr, 24);
  return gap;
}

struct HealOutcome {
  int seams = 0;   // starting within MAXGAP
  int closed = 0;  // of those, ending within HEALGAP
};

// Whether site k of two NormalGrid()s (before, after) sat at a kink the surface came with (its
// start normal more than 60 degrees from a neighbour's) and lies now more in line with a
// neighbour that kept its side than it began: a normal the heal turned back, not one it turned
// over.
bool TurnedBackAtAKinkItCameWith(const std::vector<double>& before, const std::vector<double>& after, int k) {
  constexpr int kSide = 11;
  auto cosine = [](const std::vector<double>& a, int i, const std::vector<double>& b, int j) {
    const double* x = &a[3 * i];
    const double* y = &b[3 * j];
    const double len = std::sqrt((x[0] * x[0] + x[1] * x[1] + x[2] * x[2]) * (y[0] * y[0] + y[1] * y[1] + y[2] * y[2]));
    return len > 0.0 ? (x[0] * y[0] + x[1] * y[1] + x[2] * y[2]) / len : 0.0;
  };
  bool kinked = false, inLine = false;
  for (int dj = -1; dj <= 1; ++dj)
    for (int di = -1; di <= 1; ++di) {
      const int i = k % kSide + di, j = k / kSide + dj, q = i + kSide * j;
      if ((di == 0 && dj == 0) || i < 0 || j < 0 || i >= kSide || j >= kSide) continue;
      kinked = kinked || cosine(before, k, before, q) < 0.5;
      inLine = inLine || (cosine(after, q, before, q) > 0.0 && cosine(after, k, after, q) > cosine(before, k, before, q));
    }
  return kinked && inLine;
}

// Heals the group as the plug-in does (outer boundary free, no surface held, samples fixed);
// false when the topology or the heal fails. `openReasons` gets the reasons both sides of every
// seam left open give (FindBndrEdgeOpenReason).
bool HealAsThePlugIn(Group& g, double maxGap, double healGap, std::vector<int>* openReasons = nullptr) {
  const int n = g.size();
  if (MakeTopologyZK(g.data(), n, maxGap, kMaxAngle) != 0) {
    CleanupTopology();
    return false;
  }
  int** result = allocate_matrix_ih(n, 4);
  const std::vector<int> fixed(n, 0);
  const int status = HealTopologyZK(g.data(), n, fixed.data(), -1, 1, healGap, kHealAngle, 1, result);
  matrix_free_ih(result);
  const BndrStruct* bs = srfsTopology;
  for (int e = 0; openReasons && status == 0 && e < bs->nEdge; ++e)
    if (bs->edges[e].paired && bs->edges[e].maxGap > healGap)
      for (int side : {0, 1}) openReasons->push_back(FindBndrEdgeOpenReason(bs, e, side, healGap));
  CleanupTopology();
  return status == 0;
}

// Builds the group, heals it as the plug-in does (outer boundary free, fixed samples) and checks
// the movement, crease and normal bounds; returns the seams closed. A group built with smooth
// seams only (`smooth`) has no crease to keep: a sample above the angle limit is noise there, and
// the heal may smooth it. With `kinksCame` a normal may turn where TurnedBackAtAKinkItCameWith
// says the heal turned it back.
HealOutcome HealAndCheck(const CadGroup& cad, double damage, bool smooth = false, bool kinksCame = false) {
  Group g;
  AddCadPatches(g, cad);
  const int n = g.size();
  const double maxGap = 5.0 * damage, healGap = 1e-5 * cad.diagonal;
  constexpr int kAlong = 5;
  std::vector<double> startGap, startAngle[kAlong];
  const double fractions[kAlong] = {0.1, 0.3, 0.5, 0.7, 0.9};
  for (const SampleSeam& s : cad.seams) {
    startGap.push_back(SeamGap(g, s));
    for (int k = 0; k < kAlong; ++k) startAngle[k].push_back(SeamAngleAt(g, s, fractions[k]));
  }
  std::vector<std::vector<double>> nets, normals;
  for (const Bspline* s : g.srfs) nets.push_back(Net(s)), normals.push_back(NormalGrid(s));

  EXPECT_TRUE(HealAsThePlugIn(g, maxGap, healGap)) << cad.name;

  HealOutcome out;
  std::vector<double> closedOn(n, 0.0);
  for (size_t k = 0; k < cad.seams.size(); ++k) {
    const SampleSeam& s = cad.seams[k];
    if (startGap[k] > maxGap) continue;
    ++out.seams;
    const double gap = SeamGap(g, s);
    out.closed += gap <= healGap;
    EXPECT_LE(gap, healGap) << cad.name << " seam " << k << " from " << startGap[k];
    for (int e : {s.elemA, s.elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
    // A crease keeps its angle at every sample along its length.
    for (int f = 0; f < kAlong; ++f) {
      if (smooth || startAngle[f][k] <= kMaxAngle) continue;
      EXPECT_NEAR(SeamAngleAt(g, s, fractions[f]), startAngle[f][k], 1.0) << cad.name << " seam " << k << " at "
                                                                         << fractions[f];
    }
  }
  for (int i = 0; i < n; ++i) {
    const std::vector<double> now = Net(g.srfs[i]), nrm = NormalGrid(g.srfs[i]);
    EXPECT_LE(LargestMove(nets[i], now), 3.0 * closedOn[i] + 1e-12 * cad.diagonal) << cad.name << " surface " << i;
    for (size_t c = 0; c < nrm.size(); c += 3)
      if (!kinksCame || !TurnedBackAtAKinkItCameWith(normals[i], nrm, static_cast<int>(c / 3))) {
        EXPECT_GT(nrm[c] * normals[i][c] + nrm[c + 1] * normals[i][c + 1] + nrm[c + 2] * normals[i][c + 2], 0.0)
            << cad.name << " surface " << i << " site " << c / 3;
      }
  }
  return out;
}

class CadStitch : public KernelTest {};

// A seeded noisy group: its seed, and whether the noise is on the boundary rows only.
struct Seeded {
  unsigned seed;
  bool rows;
};

// A seeded group under noise of `noise` x its size, with `longCount` control points along its long
// nets; size 1 and noise on every point unless asked otherwise.
CadOptions Noisy(int longCount, double noise, unsigned seed, double size = 1.0, bool boundaryRowsOnly = false) {
  CadOptions o;
  o.longCount = longCount;
  o.noise = noise;
  o.seed = seed;
  o.size = size;
  o.boundaryRowsOnly = boundaryRowsOnly;
  return o;
}

// Every shape, noise on every control point and on the boundary rows only (seeds that left a
// T-junction's walls and the tangent strip's plane-to-cylinder seam open at half their gap).
TEST_F(CadStitch, NoisySeamsWithinMaxGapClose) {
  for (CadShape shape : kCadShapes)
    for (bool rows : {false, true}) {
      CadOptions o = Noisy(12, 1e-4, rows ? 1u : 2u, 1.0, rows);
      o.strips = 4;
      const CadGroup cad = MakeCadGroup(shape, o);
      const HealOutcome r = HealAndCheck(cad, 1e-4 * cad.diagonal);
      EXPECT_EQ(r.closed, r.seams) << cad.name << (rows ? " rows" : " all");
      EXPECT_GT(r.seams, 0) << cad.name;
    }
}

// The T-junction and the plane-to-cylinder seam close alike at sizes 1e-3 to 1e6.
TEST_F(CadStitch, SeamsOntoKeptSidesCloseAtEveryScale) {
  for (CadShape shape : {CadShape::TJunction, CadShape::TangentStrip})
    for (double size : {1e-3, 1e3, 1e6}) {
      const CadOptions o = Noisy(12, 1e-4, 2, size);
      const CadGroup cad = MakeCadGroup(shape, o);
      const HealOutcome r = HealAndCheck(cad, 1e-4 * cad.diagonal);
      EXPECT_EQ(r.closed, r.seams) << cad.name << " size " << size;
    }
}

// A package's lead on its body, as bilinear planes: the lead's top ends partway along a side of
// the body's top, level with it (a T-junction at each end), and the lead's walls meet its top at
// right-angled creases whose ends are the junction's ends. At each such corner the lead's top goes
// onto the body's side while its walls' creases keep their angles. Noise of `noise` x the size
// on every control point, the group scaled by `size` and moved `far` x that size away.
CadGroup LeadOnBody(double noise, double size, double far, unsigned seed) {
  auto plane = [&](std::array<double, 12> pts) {
    CadPatch p;
    p.knotsU = p.knotsV = {0, 0, 1, 1};
    p.pts.assign(pts.begin(), pts.end());
    return p;
  };
  CadGroup g;
  g.name = "lead on body";
  g.patches = {plane({0, -0.675, 0, 1.8, -0.675, 0, 0, 0.675, 0, 1.8, 0.675, 0}),                // body top
               plane({1.8, -0.2, 0, 2.25, -0.2, 0, 1.8, 0.2, 0, 2.25, 0.2, 0}),                    // lead top
               plane({1.8, -0.2, -0.25, 2.25, -0.2, -0.25, 1.8, -0.2, 0, 2.25, -0.2, 0}),          // lead walls
               plane({1.8, 0.2, -0.25, 2.25, 0.2, -0.25, 1.8, 0.2, 0, 2.25, 0.2, 0}),
               plane({2.25, -0.2, -0.25, 2.25, 0.2, -0.25, 2.25, -0.2, 0, 2.25, 0.2, 0})};
  // The junction's seam measured from the lead's shorter side onto the body's.
  g.seams = {{1, 1, 0, 3}, {1, 2, 2, 4}, {1, 4, 3, 4}, {1, 3, 4, 4}, {2, 3, 4, 1}, {3, 3, 4, 3}};
  g.diagonal = std::sqrt(2.25 * 2.25 + 1.35 * 1.35 + 0.25 * 0.25) * size;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> offset(-noise * g.diagonal, noise * g.diagonal);
  for (CadPatch& p : g.patches)
    for (double& x : p.pts) x = (x + far) * size + offset(rng);
  return g;
}

// Every seam of the lead closes, the junction's across the body's side, its creases keep their
// angles and no face moves more than its seams' gaps allow, at every size and far from the origin.
TEST_F(CadStitch, LeadEndingAlongItsBodyClosesWithItsCreases) {
  for (double noise : {1e-4, 1e-3})
    for (double size : {1e-3, 1.0, 1e3})
      for (double far : {0.0, 1e4}) {
        const CadGroup cad = LeadOnBody(noise, size, far, 2);
        const HealOutcome r = HealAndCheck(cad, noise * cad.diagonal);
        EXPECT_EQ(r.seams, 6) << noise << " size " << size << " far " << far;
        EXPECT_EQ(r.closed, r.seams) << noise << " size " << size << " far " << far;
      }
}

// The tangent strip's planes meet the cylinder's noisy cubic rows with straight edges the rows
// can follow: the planes stay where they are and the cylinder comes onto them, corners and all.
// Their corners averaged with the cylinder's (apart along the seams by seven times the gap at
// seed 17), the closing plane moved 3.5 x its seam's gap.
TEST_F(CadStitch, TangentStripPlanesStayWhereTheCylinderFollows) {
  for (double noise : {1e-4, 1e-3}) {
    const CadGroup cad = MakeCadGroup(CadShape::TangentStrip, Noisy(12, noise, 17));
    const double damage = noise * cad.diagonal;
    const HealOutcome r = HealAndCheck(cad, damage);
    EXPECT_EQ(r.closed, r.seams) << noise;
    EXPECT_EQ(r.seams, 2) << noise;

    Group g;
    AddCadPatches(g, cad);
    // Each plane has one seam: the strip's to the cylinder's side 1, the wall's to its side 3.
    const double planeGap[] = {SeamGap(g, cad.seams[0]), SeamGap(g, cad.seams[1])};
    const std::vector<double> strip = Net(g.srfs[0]), wall = Net(g.srfs[2]);
    ASSERT_TRUE(HealAsThePlugIn(g, 5.0 * damage, 1e-5 * cad.diagonal));
    EXPECT_LE(LargestMove(strip, Net(g.srfs[0])), 0.1 * planeGap[0]) << noise;
    EXPECT_LE(LargestMove(wall, Net(g.srfs[2])), 0.1 * planeGap[1]) << noise;
  }
}

// Two single-span cubic nets (a refit plane beside a refit cylinder's quarter) meeting without a
// gap, kinked by 2.5 degrees along their seam: with HEALANGLE at 6 degrees the seam needs no heal,
// and nothing moves, the outer boundary free or held (two refining passes turned the rows and
// moved both nets by 1.2% of their size). The same at every size and far from the origin.
TEST_F(CadStitch, SmoothSeamWithinTheAngleTargetMovesNothing) {
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4})
      for (int outer : {-1, 1}) {
        SCOPED_TRACE(testing::Message() << "size " << size << " far " << far << " outer " << outer);
        auto at = [&](double v) { return (v + far) * size; };
        Group g;
        g.Add(BuildFunctionPatch([&](double, double) { return at(0.0); },
                                 {.nu = 4, .nv = 4, .x0 = at(0), .x1 = at(1), .y0 = at(0), .y1 = at(1)}));
        g.Add(BuildFunctionPatch([&](double x, double) { return at(0.0) + std::tan(2.5 * kDeg) * (x - at(1)); },
                                 {.nu = 4, .nv = 4, .x0 = at(1), .x1 = at(2), .y0 = at(0), .y1 = at(1)}));
        const std::vector<double> a = Net(g.srfs[0]), b = Net(g.srfs[1]);
        ASSERT_EQ(MakeTopologyZK(g.data(), 2, 1e-3 * size, 8.0), 0);
        int** result = allocate_matrix_ih(2, 4);
        const int fixed[2] = {0, 0};
        EXPECT_EQ(HealTopologyZK(g.data(), 2, fixed, outer, 1, 1e-5 * size, 6.0, 1, result), 0);
        matrix_free_ih(result);
        CleanupTopology();
        EXPECT_EQ(LargestMove(a, Net(g.srfs[0])), 0.0);
        EXPECT_EQ(LargestMove(b, Net(g.srfs[1])), 0.0);
      }
}

// A plane beside a strip that continues it (a tangent seam), the strip a cubic net of 40 rows
// across the seam and one span along it, as a cylinder's quarter is exported; noise of 1e-3 of
// the size on the boundary rows, the outer boundary held. The noise on rows so close together
// twists the seam by tens of degrees at an end and none further on: taken as a crease for its
// angle beyond the limit there and held to it, the seam stayed open. It closes and no normal
// turns over. Several seeds, at every size and far from the origin.
TEST_F(CadStitch, SmoothSeamTwistedByTheDamageCloses) {
  constexpr int kAcross = 40;
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4})
      for (unsigned seed : {2u, 5u, 7u}) {
        SCOPED_TRACE(testing::Message() << "size " << size << " far " << far << " seed " << seed);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> jitter(-0.002, 0.002);
        auto at = [&](double v, bool noisy) { return (v + (noisy ? jitter(rng) : 0.0) + far) * size; };
        Group g;
        CadPatch plane, strip;
        plane.knotsU = plane.knotsV = {0, 0, 1, 1};
        for (double c : {0., 0., 0., 1., 0., 0., 0., 1., 0., 1., 1., 0.}) plane.pts.push_back(at(c, true));
        strip.pu = strip.pv = 3, strip.cu = kAcross, strip.cv = 4;
        strip.knotsU = {0, 0, 0};
        for (int k = 0; k <= kAcross - 3; ++k) strip.knotsU.push_back(double(k) / (kAcross - 3));
        strip.knotsU.insert(strip.knotsU.end(), {1, 1, 1});
        strip.knotsV = {0, 0, 0, 0, 1, 1, 1, 1};
        for (int j = 0; j < 4; ++j)
          for (int i = 0; i < kAcross; ++i) {
            const bool row = i == 0 || i == kAcross - 1 || j == 0 || j == 3;
            const double greville = (strip.knotsU[i + 1] + strip.knotsU[i + 2] + strip.knotsU[i + 3]) / 3.0;
            strip.pts.insert(strip.pts.end(), {at(1.0 + 0.5 * greville, row), at(j / 3.0, row), at(0.0, row)});
          }
        g.Add(BuildCadPatch(plane));
        g.Add(BuildCadPatch(strip));
        const std::vector<double> normals[2] = {NormalGrid(g.srfs[0]), NormalGrid(g.srfs[1])};
        ASSERT_EQ(MakeTopologyZK(g.data(), 2, 0.008 * size, 8.0), 0);
        int** result = allocate_matrix_ih(2, 4);
        const int fixed[2] = {0, 0};
        EXPECT_EQ(HealTopologyZK(g.data(), 2, fixed, 1, 1, 1.6e-5 * size, 0.1, 1, result), 0);
        matrix_free_ih(result);
        CleanupTopology();
        EXPECT_LE(RefGap(g.srfs[1], 1, g.srfs[0], 3), 1.6e-5 * size);
        for (int k = 0; k < 2; ++k) {
          const std::vector<double> now = NormalGrid(g.srfs[k]);
          for (size_t c = 0; c < now.size(); c += 3)
            EXPECT_GT(now[c] * normals[k][c] + now[c + 1] * normals[k][c + 1] + now[c + 2] * normals[k][c + 2], 0.0)
                << "surface " << k << " site " << c / 3;
        }
      }
}

// Box faces as exporters write them (bilinear planes), one wall standing a little short of the
// top beside it (the band face closing the step is not in the group): the short wall's top runs
// beside the next top face a little more than the largest gap below it, and its corners end a
// little more than that gap from that face's corner and partway along the wall across it. Under
// noise every seam closes and nothing moves more than 3 x the gap it closed: the step's free
// sides and corners are not pulled together. Several seeds, at every size and far from the origin.
TEST_F(CadStitch, BoxWithAShortWallClosesAndKeepsItsStep) {
  constexpr double kH = 0.25, kLow = kH - 0.002, kL = 0.45, kW = 0.4, kD = 0.475, kMaxGapHere = 0.0015;
  // The top A; the wall B under A's side y = 0; the short wall C across B's end x = kL; the top
  // E beside A, whose side x = kL runs on over C's top. Corners u fastest.
  const double planes[4][12] = {{0, 0, kH, kL, 0, kH, 0, kW, kH, kL, kW, kH},
                                {0, 0, 0, kL, 0, 0, 0, 0, kH, kL, 0, kH},
                                {kL, -kD, 0, kL, 0, 0, kL, -kD, kLow, kL, 0, kLow},
                                {kL, -kD, kH, 2 * kL, -kD, kH, kL, kW, kH, 2 * kL, kW, kH}};
  // Surface and side of each seam, the first side the shorter: A-B, A onto E, C onto B.
  const int seams[3][4] = {{0, 2, 1, 4}, {0, 3, 3, 1}, {2, 3, 1, 3}};
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4})
      for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(testing::Message() << "size " << size << " far " << far << " seed " << seed);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> jitter(-1.5e-4, 1.5e-4);
        Group g;
        for (const auto& corners : planes) {
          CadPatch p;
          p.knotsU = p.knotsV = {0, 0, 1, 1};
          for (double c : corners) p.pts.push_back((c + jitter(rng) + far) * size);
          g.Add(BuildCadPatch(p));
        }
        auto gap = [&](const int* s) {
          const double along = RefGap(g.srfs[s[0]], s[1], g.srfs[s[2]], s[3]);
          return s == seams[0] ? std::max(along, RefGap(g.srfs[s[2]], s[3], g.srfs[s[0]], s[1])) : along;
        };
        std::vector<double> closedOn(4, 0.0);
        for (const auto& s : seams)
          for (int i : {s[0], s[2]}) closedOn[i] = std::max(closedOn[i], gap(s));
        std::vector<std::vector<double>> nets;
        for (const Bspline* s : g.srfs) nets.push_back(Net(s));
        ASSERT_TRUE(HealAsThePlugIn(g, kMaxGapHere * size, 1e-5 * size));
        for (const auto& s : seams) EXPECT_LE(gap(s), 1e-5 * size) << "seam of surfaces " << s[0] << ", " << s[2];
        for (int i = 0; i < 4; ++i)
          EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * closedOn[i] + 1e-12 * size) << "surface " << i;
      }
}

// A floor, A, between a plane a little above its side x = 0 and a wall, B, standing on its side
// x = 1 a step away from it, whose top runs along a held strip that waves up and down where one
// cubic span cannot follow. Healing B makes that seam wider, so B goes back where it came and its
// seam with A stays open; A closes its seam with the plane above. A may move no more than 3 x the
// gap it closes: its moves towards the wall close nothing. At every size and far from the origin.
TEST_F(CadStitch, NetBesideASeamLeftOpenMovesWithinTheGapItCloses) {
  constexpr double kGap = 1e-4, kStep = 2e-3, kWave = 0.004;
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      // A net of nu x nv points (degrees pu, pv) at p(i / (nu - 1), j / (nv - 1)), u fastest.
      auto net = [&](int pu, int pv, int nu, int nv, const std::function<std::array<double, 3>(double, double, int)>& p) {
        CadPatch c;
        c.pu = pu, c.pv = pv, c.cu = nu, c.cv = nv;
        c.knotsU = ClampedKnots(pu, nu);
        c.knotsV = ClampedKnots(pv, nv);
        for (int j = 0; j < nv; ++j)
          for (int i = 0; i < nu; ++i)
            for (double x : p(double(i) / (nu - 1), double(j) / (nv - 1), j)) c.pts.push_back((x + far) * size);
        return BuildCadPatch(c);
      };
      const double wave[7] = {0, kWave, -kWave, kWave, -kWave, kWave, 0};
      Group g;
      g.Add(net(3, 3, 4, 4, [](double u, double v, int) { return std::array<double, 3>{u, v, 0.0}; }));
      g.Add(net(1, 1, 2, 2, [&](double u, double v, int) { return std::array<double, 3>{u - 1, v, kGap}; }));
      g.Add(net(3, 3, 4, 4, [&](double u, double v, int) { return std::array<double, 3>{1 + kStep, v, u}; }));
      g.Add(net(1, 3, 2, 7, [&](double u, double v, int j) { return std::array<double, 3>{1 + kStep + u, v, 1 + wave[j]}; }));
      const double closes = RefGap(g.srfs[0], 1, g.srfs[1], 3);
      const std::vector<double> start = Net(g.srfs[0]);
      ASSERT_EQ(MakeTopologyZK(g.data(), 4, 4 * kWave * size, kMaxAngle), 0);
      int** result = allocate_matrix_ih(4, 4);
      const int fixed[4] = {0, 0, 0, 1};
      EXPECT_EQ(HealTopologyZK(g.data(), 4, fixed, -1, 1, 1e-5 * size, kHealAngle, 1, result), 0);
      matrix_free_ih(result);
      CleanupTopology();
      EXPECT_LE(RefGap(g.srfs[0], 1, g.srfs[1], 3), 1e-5 * size);
      EXPECT_GT(RefGap(g.srfs[0], 3, g.srfs[2], 2), 1e-5 * size);
      EXPECT_LE(LargestMove(start, Net(g.srfs[0])), 3.0 * closes + 1e-12 * size);
    }
}

// Long nets (many control points along, four across) keep their shape: the strip chain's
// crease holds its 45 degrees along its length, nothing moves beyond 3 x the gaps it closes.
TEST_F(CadStitch, LongNetsCloseWithoutDeforming) {
  for (CadShape shape : {CadShape::StripChain, CadShape::Tube}) {
    const CadOptions o = Noisy(34, 1e-4, 5);
    const CadGroup cad = MakeCadGroup(shape, o);
    const HealOutcome r = HealAndCheck(cad, 1e-4 * cad.diagonal);
    EXPECT_EQ(r.closed, r.seams) << cad.name;
  }
}

// The chain at its full length, 258 control points along, where the noise alone makes creases of
// some of its coplanar seams: every seam closes and no strip moves more than 3 x the gaps it
// closes. Refitted by the loop after they were given one row, the creases' sides were turned back
// to their noisy start normals, and the strips moved up to 6 x next to the seams' free ends.
TEST_F(CadStitch, FullLengthStripChainMovesWithinItsGaps) {
  for (bool rows : {false, true}) {
    const CadGroup cad = MakeCadGroup(CadShape::StripChain, Noisy(258, 1e-4, rows ? 1u : 2u, 1.0, rows));
    const HealOutcome r = HealAndCheck(cad, 1e-4 * cad.diagonal);
    EXPECT_EQ(r.closed, r.seams) << (rows ? "rows" : "all");
    EXPECT_EQ(r.seams, 5) << (rows ? "rows" : "all");
  }
}

// Under noise of a third of the spacing of their control points, on every point or on the
// boundary rows only, the long nets' seams (one knot vector on both sides of each) close without
// turning a normal over: the fits alone stalled at 1.3 to 5 x the gap target, each side fitted at
// its own parameters to the same samples, and near the seams' ends they turned the tube over.
TEST_F(CadStitch, NoisyLongNetsOfOneKnotVectorClose) {
  for (CadShape shape : {CadShape::Tube, CadShape::StripChain})
    for (bool rows : {false, true}) {
      const CadOptions o = Noisy(40, 1e-3, 1, 1.0, rows);
      const CadGroup cad = MakeCadGroup(shape, o);
      const HealOutcome r = HealAndCheck(cad, 1e-3 * cad.diagonal, shape == CadShape::Tube);
      EXPECT_EQ(r.closed, r.seams) << cad.name << (rows ? " rows" : " all");
      EXPECT_GT(r.seams, 0) << cad.name;
    }
}

// The T-junction's walls are planes of two control rows each way: no second row for the
// tangential heal to turn. Under noise of 1e-3 (seed 32) closing the smooth seam between two
// walls left its free end 0.021 degree steeper than it came, and one wall went back to its start
// with two seams open. Turned at the wall's free corner, every seam closes and no smooth seam
// ends steeper than it began or than the angle target.
TEST_F(CadStitch, NoisyTJunctionWallsKeepTheirSmoothSeamsFlat) {
  for (bool rows : {false, true}) {
    CadOptions o;
    o.noise = 1e-3;
    o.seed = 32;
    o.boundaryRowsOnly = rows;
    const CadGroup cad = MakeCadGroup(CadShape::TJunction, o);
    const HealOutcome r = HealAndCheck(cad, 1e-3 * cad.diagonal);
    EXPECT_EQ(r.seams, 8) << (rows ? "rows" : "all");
    EXPECT_EQ(r.closed, r.seams) << (rows ? "rows" : "all");

    Group g;
    AddCadPatches(g, cad);
    constexpr int kSamples = 21;
    std::vector<double> startMax;
    for (const SampleSeam& s : cad.seams) {
      double m = 0.0;
      for (int f = 0; f < kSamples; ++f) m = std::max(m, SeamAngleAt(g, s, f / double(kSamples - 1)));
      startMax.push_back(m);
    }
    ASSERT_TRUE(HealAsThePlugIn(g, 5e-3 * cad.diagonal, 1e-5 * cad.diagonal));
    int smooth = 0;
    for (size_t k = 0; k < cad.seams.size(); ++k) {
      if (startMax[k] > kMaxAngle) continue;
      ++smooth;
      for (int f = 0; f < kSamples; ++f)
        EXPECT_LE(SeamAngleAt(g, cad.seams[k], f / double(kSamples - 1)), std::max(startMax[k] + 0.01, kHealAngle))
            << (rows ? "rows" : "all") << " seam " << k << " at " << f / double(kSamples - 1);
    }
    EXPECT_GT(smooth, 0);
  }
}

// Normals as NormalGrid, on 61 x 61 points through the kernel's evaluator (the reference one
// takes minutes on a net of 258 points).
std::vector<double> DenseNormalGrid(const Bspline* s) {
  std::vector<double> out;
  for (int j = 0; j <= 60; ++j)
    for (int i = 0; i <= 60; ++i) {
      double su[3], sv[3];
      const double u = s->umin + (s->umax - s->umin) * i / 60.0, v = s->vmin + (s->vmax - s->vmin) * j / 60.0;
      Eval3DPointOnSurfArray(s, u, v, 1, 0, su);
      Eval3DPointOnSurfArray(s, u, v, 0, 1, sv);
      out.insert(out.end(), {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2], su[0] * sv[1] - su[1] * sv[0]});
    }
  return out;
}

// The exporters' 258 points along, noise of 1e-3 of the size on the boundary rows: the end steps
// of the clamped nets (a third of the inner ones) are of the noise's size. The seams' shared rows
// moved their second rows' end points (on the ends' rows) across the seam and turned the tube's
// end over between two of the 13 points across where the heal checked it, and the chain's
// seams at seed 2 were stepped back open. Every seam closes, nothing moves beyond 3 x the gaps
// closed, no normal turns over.
TEST_F(CadStitch, NoisyFullLengthNetsCloseWithoutTurningANormal) {
  for (CadShape shape : {CadShape::Tube, CadShape::StripChain}) {
    const CadGroup cad = MakeCadGroup(shape, Noisy(258, 1e-3, shape == CadShape::Tube ? 1 : 2, 1.0, true));
    Group g;
    AddCadPatches(g, cad);
    const int n = g.size();
    const double healGap = 1e-5 * cad.diagonal;
    std::vector<double> startGap, closedOn(n, 0.0);
    std::vector<std::vector<double>> nets, normals;
    for (const SampleSeam& s : cad.seams) startGap.push_back(SeamGap(g, s));
    for (const Bspline* s : g.srfs) nets.push_back(Net(s)), normals.push_back(DenseNormalGrid(s));
    ASSERT_TRUE(HealAsThePlugIn(g, 5e-3 * cad.diagonal, healGap));
    for (size_t k = 0; k < cad.seams.size(); ++k) {
      const SampleSeam& s = cad.seams[k];
      EXPECT_LE(SeamGap(g, s), healGap) << cad.name << " seam " << k;
      for (int e : {s.elemA, s.elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
    }
    for (int i = 0; i < n; ++i) {
      const std::vector<double> now = DenseNormalGrid(g.srfs[i]), net = Net(g.srfs[i]);
      EXPECT_LE(LargestMove(nets[i], net), 3.0 * closedOn[i]) << cad.name << " surface " << i;
      int over = 0;
      for (size_t c = 0; c < now.size(); c += 3)
        over += now[c] * normals[i][c] + now[c + 1] * normals[i][c + 1] + now[c + 2] * normals[i][c + 2] <= 0.0;
      EXPECT_EQ(over, 0) << cad.name << " surface " << i;
    }
  }
}

// Boundary row of a side as points (k along the side, ascending parameter).
std::vector<std::array<double, 3>> SideRow(const Bspline* s, int side) {
  const std::vector<double> net = Net(s);
  const int n = NumCtrlU(s) * NumCtrlV(s);
  std::vector<std::array<double, 3>> row;
  for (int k = 0; k < n; ++k)
    if (OnSideRow(s, side, k)) row.push_back({net[k], net[n + k], net[2 * n + k]});
  return row;
}

// Two sides of one knot vector come out as one curve, not merely within the gap target: the
// tube's halves (both running along the axis) end with equal boundary rows to round-off, at every
// size, with the noise on the boundary rows only (the fits alone turned the long tube over there).
TEST_F(CadStitch, SidesOfOneKnotVectorBecomeOneRowAtEverySize) {
  for (double size : {1e-6, 1.0, 1e6}) {
    const CadOptions o = Noisy(40, 1e-3, 1, size, true);
    const CadGroup cad = MakeCadGroup(CadShape::Tube, o);
    Group g;
    AddCadPatches(g, cad);
    ASSERT_EQ(MakeTopologyZK(g.data(), 2, 5e-3 * cad.diagonal, kMaxAngle), 0) << size;
    int** result = allocate_matrix_ih(2, 4);
    const int fixed[2] = {0, 0};
    EXPECT_EQ(HealTopologyZK(g.data(), 2, fixed, -1, 1, 1e-5 * cad.diagonal, kHealAngle, 1, result), 0) << size;
    matrix_free_ih(result);
    CleanupTopology();
    for (const SampleSeam& s : cad.seams) {
      const auto a = SideRow(g.srfs[s.elemA], s.sideA), b = SideRow(g.srfs[s.elemB], s.sideB);
      ASSERT_EQ(a.size(), b.size());
      for (size_t k = 0; k < a.size(); ++k)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[k][c], b[k][c], 1e-12 * cad.diagonal) << size << " point " << k;
      EXPECT_LE(SeamGap(g, s), 1e-9 * cad.diagonal) << size;
    }
  }
}

// The boundary graph is a matter of shape, not of the unit of length: the T-junction faces
// built at a thousandth and a millionth of their size pair the same sides over the same
// parameter ranges (at a millionth, every sample of a side once fell within the merge distance).
TEST_F(CadStitch, GraphPairsAlikeAtEveryScale) {
  CadOptions o;
  o.noise = 1e-4;
  std::vector<double> unit;
  for (double size : {1.0, 1e-3, 1e-6}) {
    o.size = size;
    const CadGroup cad = MakeCadGroup(CadShape::TJunction, o);
    Group g;
    AddCadPatches(g, cad);
    ASSERT_TRUE(g.Build(5e-4 * cad.diagonal, kMaxAngle)) << size;
    std::vector<double> pairs;
    for (int e = 0; e < g.bs->nEdge; ++e) {
      const EdgeInfoStruct& ed = g.bs->edges[e];
      if (!ed.paired) continue;
      pairs.insert(pairs.end(), {double(ed.infoA->srfInfo->index), double(ed.infoA->side), double(ed.infoB->srfInfo->index),
                                 double(ed.infoB->side), ed.par[0], ed.par[1], ed.par[2], ed.par[3]});
    }
    if (unit.empty()) unit = pairs;
    ASSERT_EQ(pairs.size(), unit.size()) << size;
    for (size_t k = 0; k < pairs.size(); ++k) EXPECT_NEAR(pairs[k], unit[k], 1e-3) << size << " entry " << k;
  }
}

}  // namespace

// The strip chain's 45-degree crease under noise of 1e-3 of the size: its angle, measured at 8
// samples a knot span (start matched by closest point), between a tenth and nine tenths of it.
struct CreaseHold {
  int creases = 0;            // seams beyond the angle limit at every such sample at the start
  int samples = 0, over = 0;  // their samples, and those more than a degree off their start
  double worst = 0.0;         // degrees off
};

// Side A's parameters at 8 per knot span between a tenth and nine tenths of the side.
std::vector<double> DenseSideParams(const Bspline* A, int side) {
  const bool inV = side % 2 == 1;
  const double* k = inV ? A->knotsV : A->knotsU;
  const int p = inV ? A->degreeV : A->degreeU, n = inV ? NumCtrlV(A) : NumCtrlU(A);
  const double lo = k[p], hi = k[n];
  std::vector<double> ts;
  for (int s = p; s < n; ++s)
    for (int q = 0; q < 8 && k[s + 1] > k[s]; ++q) {
      const double t = k[s] + (q + 0.5) / 8.0 * (k[s + 1] - k[s]), f = (t - lo) / (hi - lo);
      if (f >= 0.1 && f <= 0.9) ts.push_back(t);
    }
  return ts;
}

// Which normals may turn over in HealNoisyChain: none; those where the chain came kinked on the
// grid, as long as the healed one lies in line with its neighbours' and no less in line than it
// came (a fold undone); the same, where a neighbour that turned beyond 60 degrees with it (the
// same end turned back whole) need only lie in line with it now; those where no two neighbouring
// sites of the 3 x 3 around it turn more sharply between them now than the sharpest there at the
// start (a fold or kink the group came with, moved or lessened, none made).
enum class Turns { kNone, kFoldsUndone, kEndsUndone, kNoSharper };

// The lowest cosine between the normals of neighbouring sites (along u or v) of the 3 x 3 around
// site c of a 61 x 61 DenseNormalGrid.
double SharpestTurnAround(const std::vector<double>& n, int c) {
  auto cosine = [&](int a, int b) {
    const double* x = &n[3 * a];
    const double* y = &n[3 * b];
    return (x[0] * y[0] + x[1] * y[1] + x[2] * y[2]) /
           std::sqrt((x[0] * x[0] + x[1] * x[1] + x[2] * x[2]) * (y[0] * y[0] + y[1] * y[1] + y[2] * y[2]));
  };
  double low = 1.0;
  const int cu = c % 61, cv = c / 61;
  for (int v = std::max(0, cv - 1); v <= std::min(60, cv + 1); ++v)
    for (int u = std::max(0, cu - 1); u <= std::min(60, cu + 1); ++u) {
      if (u + 1 <= std::min(60, cu + 1)) low = std::min(low, cosine(u + 61 * v, u + 1 + 61 * v));
      if (v + 1 <= std::min(60, cv + 1)) low = std::min(low, cosine(u + 61 * v, u + 61 * (v + 1)));
    }
  return low;
}

// Heals the chain as HealAndCheck does (every seam that closes today closes, nothing moves
// beyond 3 x, no normal turns over on a 61 x 61 grid but as `turns` allows) and measures its
// real creases, each sample's angle read from both sides (SeamAngleBothSides).
CreaseHold HealNoisyGroup(const CadGroup& cad, double noise, Turns turns = Turns::kNone) {
  Group g;
  AddCadPatches(g, cad);
  const int n = g.size();
  const double maxGap = 5.0 * noise * cad.diagonal, healGap = 1e-5 * cad.diagonal;
  std::vector<double> startGap, closedOn(n, 0.0);
  std::vector<std::vector<double>> ts, start, nets, normals;
  for (const SampleSeam& s : cad.seams) {
    startGap.push_back(SeamGap(g, s));
    // The smooth seams' noise kinks dip to a tenth of a degree: nine fractions tell them.
    const SeamScans scans(g, s);
    bool crease = true;
    for (int f = 1; f <= 9 && crease; ++f) crease = SeamAngleAt(g, s, scans.b, 0.1 * f) > kMaxAngle;
    ts.push_back(crease ? DenseSideParams(g.srfs[s.elemA], s.sideA) : std::vector<double>{});
    start.emplace_back();
    for (double t : ts.back()) start.back().push_back(SeamAngleBothSides(scans, t));
  }
  for (const Bspline* s : g.srfs) nets.push_back(Net(s)), normals.push_back(DenseNormalGrid(s));
  EXPECT_TRUE(HealAsThePlugIn(g, maxGap, healGap));
  CreaseHold out;
  for (size_t k = 0; k < cad.seams.size(); ++k) {
    const SampleSeam& s = cad.seams[k];
    if (startGap[k] > maxGap) continue;
    EXPECT_LE(SeamGap(g, s), healGap) << "seam " << k;
    for (int e : {s.elemA, s.elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
    if (start[k].empty() || *std::min_element(start[k].begin(), start[k].end()) <= kMaxAngle) continue;
    ++out.creases;
    const SeamScans scans(g, s);
    for (size_t q = 0; q < ts[k].size(); ++q) {
      const double off = std::fabs(SeamAngleBothSides(scans, ts[k][q]) - start[k][q]);
      ++out.samples;
      out.over += off > 1.0;
      out.worst = std::max(out.worst, off);
    }
  }
  for (int i = 0; i < n; ++i) {
    const std::vector<double> now = DenseNormalGrid(g.srfs[i]);
    EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * closedOn[i]) << "surface " << i;
    auto cosine = [](const double* a, const double* b) {
      return (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) /
             std::sqrt((a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) * (b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
    };
    int turned = 0;
    for (int c = 0; c < 61 * 61; ++c) {
      if (cosine(&now[3 * c], &normals[i][3 * c]) > 0.0) continue;
      if (turns == Turns::kNoSharper) {
        turned += SharpestTurnAround(now, c) < SharpestTurnAround(normals[i], c);
        continue;
      }
      // Undone: in line with every neighbour now, and no less than it came.
      bool undone = turns != Turns::kNone;
      for (int q : {c - 1, c + 1, c - 61, c + 61}) {
        if (q < 0 || q >= 61 * 61 || (q % 61 != c % 61 && q / 61 != c / 61)) continue;
        const double healed = cosine(&now[3 * c], &now[3 * q]);
        const bool turnedWith = turns == Turns::kEndsUndone && cosine(&now[3 * q], &normals[i][3 * q]) < 0.5;
        undone = undone && healed > 0.0 && (turnedWith || healed >= cosine(&normals[i][3 * c], &normals[i][3 * q]));
      }
      turned += !undone;
    }
    EXPECT_EQ(turned, 0) << "surface " << i;
  }
  return out;
}

CreaseHold HealNoisyChain(const CadOptions& o, Turns turns = Turns::kNone, CadShape shape = CadShape::StripChain) {
  return HealNoisyGroup(MakeCadGroup(shape, o), o.noise, turns);
}

// Noise of 1e-3 of the size on every point or on the boundary rows: the crease's sides are turned
// back towards their own noisy start normals after the stitch, and the crease keeps its angle
// within a degree at every sample between a tenth and nine tenths of its length (0.75 degree at
// 258 along, 0.05 at 100). One seed per case, each a long heal under the sanitizers.
namespace {

struct ChainCase {
  int longCount;
  unsigned seed;
  bool rows;
};

class NoisyChainCrease : public CadStitch, public testing::WithParamInterface<ChainCase> {};

TEST_P(NoisyChainCrease, KeepsItsAngleAlongItsLength) {
  const ChainCase& c = GetParam();
  const CreaseHold h = HealNoisyChain(Noisy(c.longCount, 1e-3, c.seed, 1.0, c.rows));
  EXPECT_EQ(h.creases, 1);
  EXPECT_EQ(h.over, 0) << "worst " << h.worst << " degrees off";
  EXPECT_LE(h.worst, c.longCount > 100 ? 0.75 : 0.05);
}

INSTANTIATE_TEST_SUITE_P(CadStitch, NoisyChainCrease,
                         testing::Values(ChainCase{100, 3, true}, ChainCase{258, 1, false}, ChainCase{258, 2, false}),
                         [](const testing::TestParamInfo<ChainCase>& i) {
                           return "along" + std::to_string(i.param.longCount) + "_seed" + std::to_string(i.param.seed) +
                                  (i.param.rows ? "_rows" : "");
                         });

}  // namespace

namespace {

// The group's control-point box diagonal, then seeded offsets within +-noise x that diagonal on
// every control point.
void AddDiagonalAndNoise(CadGroup& g, double noise, unsigned seed) {
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (const CadPatch& p : g.patches)
    for (size_t k = 0; k < p.pts.size(); ++k) lo[k % 3] = std::min(lo[k % 3], p.pts[k]), hi[k % 3] = std::max(hi[k % 3], p.pts[k]);
  g.diagonal = std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-noise * g.diagonal, noise * g.diagonal);
  for (CadPatch& p : g.patches)
    for (double& v : p.pts) v += d(rng);
}

// Two pairs of cubic strips (4 rows across, `along` points on uniform knots along) meeting at a
// 45-degree crease, end to end: both creases and the two short seams between the pairs meet at
// one corner in the middle, so neither crease is a seam of its own at its corners. Seeded noise of
// `noise` x the group's box diagonal on every control point.
CadGroup CrossedCreases(int along, double noise, unsigned seed) {
  const double L = 1.0, width = 0.1, c = std::cos(0.25 * 3.14159265358979323846), s = c;
  const std::vector<double> ku = ClampedKnots(3, along), kv = ClampedKnots(3, 4);
  CadGroup g;
  g.name = "crossed creases";
  for (int half = 0; half < 2; ++half)
    for (int up = 0; up < 2; ++up) {
      CadPatch p;
      p.name = std::string(up ? "up" : "flat") + std::to_string(half);
      p.pu = p.pv = 3, p.cu = along, p.cv = 4, p.knotsU = ku, p.knotsV = kv;
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < along; ++i) {
          const double x = L * (half + (ku[i + 1] + ku[i + 2] + ku[i + 3]) / 3.0), a = width * j / 3.0;
          const double wave = 0.05 * std::sin(2.0 * x);
          p.pts.insert(p.pts.end(), {x, up ? width + a * c : a, up ? wave + a * s : wave});
        }
      g.patches.push_back(p);
    }
  // The creases (flat v-max on up v-min), then the short seams (first half's u-max on the second's u-min).
  g.seams = {{0, 4, 1, 2}, {2, 4, 3, 2}, {0, 3, 2, 1}, {1, 3, 3, 1}};
  AddDiagonalAndNoise(g, noise, seed);
  return g;
}

// Heals the crossed creases as the plug-in does and checks that no surface moves beyond 3 x the
// largest gap it closed; `creases` counts the creases closed, the samples those between a tenth
// and nine tenths of both creases' lengths against their start (read from both sides).
CreaseHold HealCrossedCreases(const CadGroup& cad, double noise) {
  Group g;
  AddCadPatches(g, cad);
  std::vector<std::vector<double>> ts, start, nets;
  std::vector<double> startGap;
  for (const SampleSeam& s : cad.seams) startGap.push_back(SeamGap(g, s));
  for (int k = 0; k < 2; ++k) {
    const SampleSeam& s = cad.seams[k];
    ts.push_back(DenseSideParams(g.srfs[s.elemA], s.sideA));
    start.emplace_back();
    const SeamScans scans(g, s);
    for (double t : ts.back()) start.back().push_back(SeamAngleBothSides(scans, t));
  }
  for (const Bspline* s : g.srfs) nets.push_back(Net(s));
  const double healGap = 1e-5 * cad.diagonal;
  EXPECT_TRUE(HealAsThePlugIn(g, 5.0 * noise * cad.diagonal, healGap));
  // No surface moves beyond 3 x the largest gap it closed.
  std::vector<double> closedOn(g.size(), 0.0);
  for (size_t k = 0; k < cad.seams.size(); ++k)
    if (SeamGap(g, cad.seams[k]) <= healGap)
      for (int e : {cad.seams[k].elemA, cad.seams[k].elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
  for (int i = 0; i < g.size(); ++i) EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * closedOn[i]) << "surface " << i;
  CreaseHold out;
  for (int k = 0; k < 2; ++k) {
    const SampleSeam& s = cad.seams[k];
    out.creases += SeamGap(g, s) <= healGap;
    const SeamScans scans(g, s);
    for (size_t q = 0; q < ts[k].size(); ++q) {
      const double off = std::fabs(SeamAngleBothSides(scans, ts[k][q]) - start[k][q]);
      ++out.samples;
      out.over += off > 1.0;
      out.worst = std::max(out.worst, off);
    }
  }
  return out;
}

// Creases whose corners other seams share keep their own boundary rows through the stitch; once
// closed, the two rows trace one curve, each point slid along it by the noise. Solved as one row
// (the row in its tangent plane, the second rows along the normals), both creases close and every
// sample between a tenth and nine tenths keeps its angle within a degree; with second rows alone,
// samples of these noisy dense strips ended up to 8 degrees off.
struct CrossedCase {
  int along;
  double noise;
};

class CrossedCreasesKept : public CadStitch, public testing::WithParamInterface<CrossedCase> {};

TEST_P(CrossedCreasesKept, AlongTheirLength) {
  const CrossedCase& c = GetParam();
  const CreaseHold h = HealCrossedCreases(CrossedCreases(c.along, c.noise, 1), c.noise);
  EXPECT_EQ(h.creases, 2);
  EXPECT_EQ(h.over, 0) << "worst " << h.worst << " degrees off";
}

INSTANTIATE_TEST_SUITE_P(CadStitch, CrossedCreasesKept, testing::Values(CrossedCase{130, 1e-3}, CrossedCase{258, 5e-4}),
                         [](const testing::TestParamInfo<CrossedCase>& i) { return "along" + std::to_string(i.param.along); });

}  // namespace

// The noise turns the last short step of a boundary row round at a clamped end (the end's normals
// 90 to 110 degrees from the strip's), and closing the seams turns the end back in line: that is
// no fold of the heal's, so the strips must not go back to their start. Where the closed row's
// short last step points across the seam and turns a corner's normal over, the heal is done again
// with the rows' ends laid in line. Every seam closes within 3 x its gap, the 45-degree crease
// keeps its angle within a degree, and no normal turns over but at a kink the chain came with,
// left in line with its neighbours and less kinked than it came. One seed per case.
namespace {

std::string SeededName(const testing::TestParamInfo<Seeded>& i) {
  return "seed" + std::to_string(i.param.seed) + (i.param.rows ? "_rows" : "");
}

class NoisyChainFoldedEnds : public CadStitch, public testing::WithParamInterface<Seeded> {};

TEST_P(NoisyChainFoldedEnds, TurnBackAndClose) {
  const Seeded& c = GetParam();
  const CreaseHold h =
      HealNoisyChain(Noisy(258, 1e-3, c.seed, 1.0, c.rows), c.seed == 8 && !c.rows ? Turns::kEndsUndone : Turns::kFoldsUndone);
  EXPECT_EQ(h.creases, 1);
  EXPECT_EQ(h.over, 0) << "worst " << h.worst << " degrees off";
}

INSTANTIATE_TEST_SUITE_P(CadStitch, NoisyChainFoldedEnds,
                         testing::Values(Seeded{3, false}, Seeded{7, false}, Seeded{8, true}, Seeded{8, false},
                                         Seeded{3, true}, Seeded{12, true}),
                         SeededName);

}  // namespace

// The tangent strip with noise on its boundary rows, its outer boundary held (tangency): the
// noise kinks its smooth seams beyond the angle target, and with the rows held at their ends no
// heal brings them within it; closed, they come out a little steeper here and there. Held to their
// start within a hundredth of a degree, both surfaces went back with the seams open. Every seam
// closes, each one's angle from a tenth to nine tenths no more than a degree steeper than it came
// (flatter where the heal smoothed the kink), no surface moves beyond 3 x the largest gap closed
// on its sides (the held corners at a seam's ends, which meet, closing theirs too) and no normal
// turns over.
TEST_F(CadStitch, HeldTangentStripKinkedByTheNoiseCloses) {
  for (unsigned seed : {1u, 3u, 10u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const CadGroup cad = MakeCadGroup(CadShape::TangentStrip, Noisy(12, 1e-3, seed, 1.0, true));
    Group g;
    AddCadPatches(g, cad);
    const int n = g.size();
    const double maxGap = 5e-3 * cad.diagonal, healGap = 1e-5 * cad.diagonal;
    std::vector<double> startGap, startAngle;
    for (const SampleSeam& sm : cad.seams) {
      const Bspline *A = g.srfs[sm.elemA], *B = g.srfs[sm.elemB];
      const double ta[2] = {sm.sideA % 2 ? A->vmin : A->umin, sm.sideA % 2 ? A->vmax : A->umax};
      const double tb[2] = {sm.sideB % 2 ? B->vmin : B->umin, sm.sideB % 2 ? B->vmax : B->umax};
      double gap = SeamGap(g, sm);
      for (double t : ta) {
        double p[3], q0[3], q1[3];
        SidePoint(A, sm.sideA, t, p);
        SidePoint(B, sm.sideB, tb[0], q0);
        SidePoint(B, sm.sideB, tb[1], q1);
        gap = std::max(gap, std::min(Dist(p, q0), Dist(p, q1)));
      }
      startGap.push_back(gap);
      for (int f = 1; f <= 9; ++f) startAngle.push_back(SeamAngleAt(g, sm, 0.1 * f));
    }
    std::vector<std::vector<double>> nets, normals;
    for (const Bspline* s : g.srfs) nets.push_back(Net(s)), normals.push_back(NormalGrid(s));
    ASSERT_EQ(MakeTopologyZK(g.data(), n, maxGap, kMaxAngle), 0);
    int** result = allocate_matrix_ih(n, 4);
    const std::vector<int> fixed(n, 0);
    EXPECT_EQ(HealTopologyZK(g.data(), n, fixed.data(), 1, 1, healGap, kHealAngle, 1, result), 0);
    matrix_free_ih(result);
    CleanupTopology();
    std::vector<double> closedOn(n, 0.0);
    for (size_t k = 0; k < cad.seams.size(); ++k) {
      const SampleSeam& sm = cad.seams[k];
      EXPECT_LE(SeamGap(g, sm), healGap) << "seam " << k;
      for (int e : {sm.elemA, sm.elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
      for (int f = 1; f <= 9; ++f)
        EXPECT_LE(SeamAngleAt(g, sm, 0.1 * f), startAngle[9 * k + f - 1] + 1.0) << "seam " << k << " at " << f;
    }
    for (int i = 0; i < n; ++i) {
      EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * closedOn[i] + 1e-12 * cad.diagonal) << "surface " << i;
      const std::vector<double> nrm = NormalGrid(g.srfs[i]);
      for (size_t c = 0; c < nrm.size(); c += 3)
        EXPECT_GT(nrm[c] * normals[i][c] + nrm[c + 1] * normals[i][c + 1] + nrm[c + 2] * normals[i][c + 2], 0.0)
            << "surface " << i << " site " << c / 3;
    }
  }
}

// The tube's halves at 258 points along, noise of 1e-3 of the size: the noise turns the short last
// step of a row round at a clamped end, and closing the seam turns the end's normals back. The
// fall-backs judged a boundary line's site by the site at the same parameter on the opposite
// boundary, the far side of the half-cylinder, whose normal points the other way, and by the end
// row's own start normals, all turned by the noise, so they took the end turned back for a fold
// of the heal's and put the halves back open (seeds 4, 6, 9, 10 on every point, 7 and 10 on the
// boundary rows). At seed 18 on every point the closed row's last step turned the end's inside
// sites over (the sharpest turn near them 84.7 -> 143.6 degrees) at every stage, until the rows'
// ends were laid in line.
TEST_F(CadStitch, NoisyTubeEndsTurnedBackByTheHealClose) {
  for (const Seeded& c : {Seeded{4, false}, Seeded{6, false}, Seeded{9, false}, Seeded{10, false}, Seeded{18, false},
                          Seeded{7, true}, Seeded{10, true}}) {
    SCOPED_TRACE("seed " + std::to_string(c.seed) + (c.rows ? " rows" : ""));
    const CadGroup cad = MakeCadGroup(CadShape::Tube, Noisy(258, 1e-3, c.seed, 1.0, c.rows));
    const HealOutcome r = HealAndCheck(cad, 1e-3 * cad.diagonal, true, true);
    EXPECT_EQ(r.closed, r.seams);
    EXPECT_EQ(r.seams, 2);
  }
}

// The tube's halves at 258 along, noise of 1e-3 on the boundary rows (seeds 5, 8, 9): one half
// goes back to its start for a fold, and both seams stay open. The other, healed against it, once
// kept its moves (0.7 to 0.9 x the gaps) though it closed neither seam: the seams' ends got
// steeper by 20 to 40 degrees, but not their insides. On every point (seed 15) the other half kept
// 0.82 x the gap of moves though no seam got worse. A half that closes no seam stays as it came.
// (Those four close now that a normal turned over where the turns near it got no sharper is no
// fold of the heal's; seeds 18 on every point and 46 on the boundary rows close since a heal
// with a half back at its start is done again with the rows' ends laid in line. A seam left open
// here says on both sides that closing it folds a half.)
TEST_F(CadStitch, NoisyTubeHalfThatClosesNoSeamStaysAsItCame) {
  for (const Seeded& c : {Seeded{5, true}, Seeded{8, true}, Seeded{9, true}, Seeded{15, false}, Seeded{18, false}, Seeded{46, true}}) {
    SCOPED_TRACE("seed " + std::to_string(c.seed) + (c.rows ? " rows" : ""));
    const CadGroup cad = MakeCadGroup(CadShape::Tube, Noisy(258, 1e-3, c.seed, 1.0, c.rows));
    Group g;
    AddCadPatches(g, cad);
    const int n = g.size();
    const double healGap = 1e-5 * cad.diagonal;
    std::vector<std::vector<double>> nets;
    for (const Bspline* s : g.srfs) nets.push_back(Net(s));
    std::vector<int> reasons;
    ASSERT_TRUE(HealAsThePlugIn(g, 5e-3 * cad.diagonal, healGap, &reasons));
    for (int why : reasons) EXPECT_EQ(why, kBndrOpenKeptFold);
    for (int i = 0; i < n; ++i) {
      bool closes = false;
      for (const SampleSeam& s : cad.seams) closes = closes || ((s.elemA == i || s.elemB == i) && SeamGap(g, s) <= healGap);
      if (!closes) {
        EXPECT_EQ(Net(g.srfs[i]), nets[i]) << "surface " << i;
      }
    }
  }
}

// Noise of 1e-3 on every point, seed 4: the noise folded the strips beside an end of the crease,
// where its largest angle, 80 degrees at the start, went to 85 as the crease closed (no more than
// 58 between a tenth and nine tenths). Judged by that end, the crease's angle solve was given up and
// its strips went back to their start (two seams open, the crease 2.1 degrees shallower half way
// along than it began). Judged along its length it closes with every seam, each sample there
// within 0.38 degree of its start.
TEST_F(CadStitch, NoisyStripChainCreaseSteeperAtAFoldedEndCloses) {
  const CreaseHold h = HealNoisyChain(Noisy(258, 1e-3, 4, 1.0, false), Turns::kFoldsUndone);
  EXPECT_EQ(h.creases, 1);
  EXPECT_EQ(h.over, 0) << "worst " << h.worst << " degrees off";
  EXPECT_LE(h.worst, 0.4);
}

// Noise of 1e-3 of the size at 258 along turns the short last step of a row at a clamped end, and
// closing a seam there turns the end's normals with it. Judged by each turned site's nearest
// neighbours that kept their side, no less in line than they came, the heal put surfaces back
// where the end's sites lie round a curve (a half-cylinder's: 50.2 degrees from a site three
// along instead of 47.5) or a fold the group came with was lessened but not undone (the chain's
// strip end at seed 15 on every point, 137.9 -> 101.5 degrees between neighbours): the tube at
// seeds 5, 8 and 9 on the boundary rows and 15 on every point stayed with both seams open, the
// chain at seed 4 on the boundary rows and 13 and 15 on every point with two of five. Every seam
// closes now within 3 x its gap, and no two neighbouring normals beside one turned over turn more
// sharply than they came.
TEST_F(CadStitch, NoisyTubeEndsCloseWhereTheHealSharpensNoTurn) {
  for (const Seeded& c : {Seeded{5, true}, Seeded{8, true}, Seeded{9, true}, Seeded{15, false}}) {
    SCOPED_TRACE("seed " + std::to_string(c.seed) + (c.rows ? " rows" : ""));
    // The tube's seams are smooth: the noise's kinks there may flatten.
    HealNoisyChain(Noisy(258, 1e-3, c.seed, 1.0, c.rows), Turns::kNoSharper, CadShape::Tube);
  }
}

// The same on the strip chain, whose crease keeps its angle between a tenth and nine tenths of its
// length within a degree; at seed 4 on the boundary rows, where the movement bound binds, one
// sample of 1,632 may end up to 1.9 degrees off its start (it ends 0.74 off). One seed per case.
namespace {

struct ChainBound {
  Seeded s;
  int over;
  double worst;
};

class NoisyChainEnds : public CadStitch, public testing::WithParamInterface<ChainBound> {};

TEST_P(NoisyChainEnds, CloseWhereTheHealSharpensNoTurn) {
  const ChainBound& c = GetParam();
  const CreaseHold h = HealNoisyChain(Noisy(258, 1e-3, c.s.seed, 1.0, c.s.rows), Turns::kNoSharper);
  EXPECT_EQ(h.creases, 1);
  EXPECT_LE(h.over, c.over) << "worst " << h.worst << " degrees off";
  EXPECT_LE(h.worst, c.worst);
}

INSTANTIATE_TEST_SUITE_P(CadStitch, NoisyChainEnds,
                         testing::Values(ChainBound{{4, true}, 1, 1.9}, ChainBound{{13, false}, 0, 0.6},
                                         ChainBound{{15, false}, 0, 0.6}, ChainBound{{22, false}, 0, 0.94},
                                         ChainBound{{26, true}, 0, 0.92}),
                         [](const testing::TestParamInfo<ChainBound>& i) {
                           return "seed" + std::to_string(i.param.s.seed) + (i.param.s.rows ? "_rows" : "");
                         });

}  // namespace

namespace {

using namespace healtest;

// A cylinder of two half-cylinders three radii long with a 45-degree chamfer a seventh of the
// radius wide at one end, each face a net of four points along the axis (or across the chamfer)
// and `around` round its half, as exporters write machined parts. Its seams: the two straight
// lines along the cylinder (seams 0, 1), the two short ones across the chamfer (2, 3) and the two
// half-circle creases between them (4, 5). Noise of `noise` x the size on every control point.
CadGroup ChamferedTube(int around, double noise, unsigned seed) {
  CadOptions o;
  o.arcCount = around;
  o.longCount = 4;
  CadGroup cad = MakeCadGroup(CadShape::Tube, o);
  const double r = 0.1, w = r / 7.0;
  for (CadPatch& t : cad.patches)
    for (size_t k = 0; k < t.pts.size(); k += 3) t.pts[k] *= 3.0 * r;
  for (int half = 0; half < 2; ++half) {
    const CadPatch& t = cad.patches[half];
    CadPatch c;
    c.name = half ? "lowerChamfer" : "upperChamfer";
    c.pu = 3, c.pv = 3, c.cu = t.cu, c.cv = 4;
    c.knotsU = t.knotsU;
    c.knotsV = {0, 0, 0, 0, 1, 1, 1, 1};
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < t.cu; ++i) {
        const double* ring = &t.pts[3 * static_cast<size_t>(i)];  // the tube's row at x = 0
        const double out = 1.0 + w * j / (3.0 * r);
        c.pts.insert(c.pts.end(), {-w * j / 3.0, ring[1] * out, ring[2] * out});
      }
    cad.patches.push_back(c);
  }
  cad.seams.insert(cad.seams.end(), {{2, 3, 3, 1}, {3, 3, 2, 1}, {0, 2, 2, 2}, {1, 2, 3, 2}});
  AddDiagonalAndNoise(cad, noise, seed);
  return cad;
}

class ChamferedTubeDense : public CadStitch, public testing::WithParamInterface<unsigned> {};

// The chamfered tube at 258 points round, noise of 1e-4 on every point: the noise kinks the
// cylinder's straight seams past the angle limit in their first legs across (a three-hundredth of
// the radius long) and the corners' normals with them. Every seam closes, the creases keep their
// 45 degrees between a tenth and nine tenths of their length, no surface moves more than 3 x the
// gaps it closes and no normal turns over. Taken as creases, the kinked seams sent the halves back
// open; held to the corners' noisy tangents, the cylinder's four-point straight seams bowed by
// several times their gaps. One noise seed per test: each heal takes a few CPU-seconds under the
// sanitizers.
TEST_P(ChamferedTubeDense, RoundItsArcsCloses) {
  const unsigned seed = GetParam();
  const CadGroup cad = ChamferedTube(258, 1e-4, seed);
  Group g;
  AddCadPatches(g, cad);
  const double damage = 1e-4 * cad.diagonal, healGap = 1e-5 * cad.diagonal;
  const double fractions[] = {0.1, 0.3, 0.5, 0.7, 0.9};
  std::vector<double> startGap, startCrease;
  double kink = 0.0;
  for (size_t k = 0; k < cad.seams.size(); ++k) {
    startGap.push_back(SeamGap(g, cad.seams[k]));
    for (double f : fractions) {
      const double a = SeamAngleAt(g, cad.seams[k], f);
      if (k >= 4) startCrease.push_back(a);
      if (k < 2) kink = std::max(kink, a);
    }
  }
  EXPECT_GT(kink, kMaxAngle);
  std::vector<std::vector<double>> nets, normals;
  for (const Bspline* s : g.srfs) nets.push_back(Net(s)), normals.push_back(NormalGrid(s));
  ASSERT_TRUE(HealAsThePlugIn(g, 5.0 * damage, healGap));
  std::vector<double> closedOn(g.size(), 0.0);
  for (size_t k = 0; k < cad.seams.size(); ++k) {
    const SampleSeam& s = cad.seams[k];
    EXPECT_LE(SeamGap(g, s), healGap) << "seam " << k << " from " << startGap[k];
    for (int e : {s.elemA, s.elemB}) closedOn[e] = std::max(closedOn[e], startGap[k]);
    for (size_t f = 0; k >= 4 && f < std::size(fractions); ++f)
      EXPECT_NEAR(SeamAngleAt(g, s, fractions[f]), startCrease[(k - 4) * std::size(fractions) + f], 1.0)
          << "crease " << k << " at " << fractions[f];
  }
  for (int i = 0; i < g.size(); ++i) {
    EXPECT_LE(LargestMove(nets[i], Net(g.srfs[i])), 3.0 * closedOn[i]) << "surface " << i;
    const std::vector<double> nrm = NormalGrid(g.srfs[i]);
    for (size_t c = 0; c < nrm.size(); c += 3)
      EXPECT_GT(nrm[c] * normals[i][c] + nrm[c + 1] * normals[i][c + 1] + nrm[c + 2] * normals[i][c + 2], 0.0)
          << "surface " << i << " site " << c / 3;
  }
}

INSTANTIATE_TEST_SUITE_P(CadStitch, ChamferedTubeDense, testing::Values(1u, 2u, 3u));

// One placement per test: the dense nets make each heal a few CPU-seconds under the sanitizers.
struct CornerPlace {
  double size, far;
};

class CreaseCornerTilted : public CadStitch, public testing::WithParamInterface<CornerPlace> {};

}  // namespace

// Two rows of two dense planes-like nets (4 x 258 along the seams) meeting at one corner: a
// 45-degree crease along x = 1 that the damage steepened to 46.4 degrees over the last 3% of each
// half near the shared corner, a smooth seam along y = 1, the surfaces lifted apart by up to 0.003
// of the size and their corner points jittered apart: every sample of the crease, its ends too,
// stays within a degree of where it began, and every seam closes, at every size and far away.
TEST_P(CreaseCornerTilted, ByTheDamageStaysWithinADegree) {
  const auto kink = [](double y) { return 45.0 + 1.4 * std::pow(std::max(0.0, 1.0 - std::pow((y - 1.0) / 0.1, 2)), 2); };
  const double lift[4] = {0.0, 0.002, 0.001, 0.003};
  const double jitter[4][2] = {{2e-4, 1e-4}, {-1e-4, 2e-4}, {2e-4, -2e-4}, {-2e-4, -1e-4}};
  const CornerPlace& p = GetParam();
  const auto at = [&](double v) { return (v + p.far) * p.size; };
  Group g;
  for (int q = 0; q < 4; ++q) {
    const int col = q % 2, row = q / 2;
    PatchOptions o;
    o.nu = 4, o.nv = 258;
    o.x0 = at(col), o.x1 = at(col + 1.0), o.y0 = at(row), o.y1 = at(row + 1.0);
    g.Add(BuildFunctionPatch(
        [&, col, q](double x, double y) {
          const double u = x / p.size - p.far, v = y / p.size - p.far;
          return at(lift[q] + (col ? std::tan(kink(v) * kDeg) * (u - 1.0) : 0.0));
        },
        o));
    // The corner copies jittered apart across the corner.
    Bspline* b = g.srfs[q];
    const int i = col ? 0 : o.nu - 1, j = row ? 0 : o.nv - 1;
    b->X[j][i] += jitter[q][0] * p.size;
    b->Y[j][i] += jitter[q][1] * p.size;
  }
  const SampleSeam creases[2] = {{0, 3, 1, 1}, {2, 3, 3, 1}}, smooth[2] = {{0, 4, 2, 2}, {1, 4, 3, 2}};
  constexpr int kSamples = 200;
  std::vector<double> start[2];
  for (int k = 0; k < 2; ++k)
    for (int q = 0; q <= kSamples; ++q) start[k].push_back(SeamAngleAt(g, creases[k], double(q) / kSamples));
  ASSERT_GT(start[0].back(), 46.0);
  ASSERT_GT(start[1].front(), 46.0);
  ASSERT_TRUE(HealAsThePlugIn(g, 0.02 * p.size, 1e-5 * p.size));
  for (int k = 0; k < 2; ++k) {
    EXPECT_LE(SeamGap(g, creases[k]), 1e-5 * p.size) << "crease " << k;
    EXPECT_LE(SeamGap(g, smooth[k]), 1e-5 * p.size) << "smooth " << k;
    for (int q = 0; q <= kSamples; ++q)
      EXPECT_NEAR(SeamAngleAt(g, creases[k], double(q) / kSamples), start[k][q], 1.0) << "crease " << k << " at " << q;
  }
}

INSTANTIATE_TEST_SUITE_P(CadStitch, CreaseCornerTilted,
                         testing::Values(CornerPlace{1.0, 0.0}, CornerPlace{1e-6, 1e4}, CornerPlace{1e6, 1e4}),
                         [](const testing::TestParamInfo<CornerPlace>& i) {
                           return i.param.size == 1.0 ? std::string("unit") : i.param.size < 1.0 ? "tinyFar" : "hugeFar";
                         });

namespace {

// A package's body as exported: a plate's bottom (0.12 x 0.8) with four walls a thousandth high
// round it, and two wide planes level with the walls' tops beside its long walls, every face a
// bilinear 2 x 2 plane. Per face its corners p00, p10, p01, p11 (u from p00 to p10, v to p01).
CadGroup NarrowWalledPlate(double size, double far, double noise, unsigned seed) {
  constexpr double W = 0.12, L = 0.8, T = 0.001, left = 0.18, right = 1.0;
  const double faces[7][12] = {
      {0, 0, 0, W, 0, 0, 0, L, 0, W, L, 0},                              // the plate
      {0, 0, 0, 0, 0, T, 0, L, 0, 0, L, T},                              // wall at x = 0
      {W, 0, 0, W, 0, T, W, L, 0, W, L, T},                              // wall at x = W
      {0, 0, 0, 0, 0, T, W, 0, 0, W, 0, T},                              // wall at y = 0
      {0, L, 0, 0, L, T, W, L, 0, W, L, T},                              // wall at y = L
      {-left, 0, T, 0, 0, T, -left, L, T, 0, L, T},                      // beside the wall at x = 0
      {W, 0, T, W + right, 0, T, W, L, T, W + right, L, T}};             // beside the wall at x = W
  CadGroup g;
  g.name = "narrow-walled plate";
  g.seams = {{0, 1, 1, 1}, {0, 3, 2, 1}, {0, 2, 3, 1}, {0, 4, 4, 1}, {1, 2, 3, 2},
             {1, 4, 4, 2}, {2, 2, 3, 4}, {2, 4, 4, 4}, {1, 3, 5, 3}, {2, 3, 6, 1}};
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  g.diagonal = std::hypot(left + W + right, L, T) * size;
  for (const auto& f : faces) {
    CadPatch p;
    p.knotsU = p.knotsV = {0, 0, 1, 1};
    for (double x : f) p.pts.push_back((x + far) * size + noise * g.diagonal * jitter(rng));
    g.patches.push_back(p);
  }
  return g;
}

// Shortest side of the group's bilinear faces (a side is the segment between two corners).
double ShortestSide(const CadGroup& g) {
  double shortest = HUGE_VAL;
  const int ends[4][2] = {{0, 2}, {1, 3}, {0, 1}, {2, 3}};
  for (const CadPatch& p : g.patches)
    for (const auto& e : ends) shortest = std::min(shortest, Dist(&p.pts[3 * e[0]], &p.pts[3 * e[1]]));
  return shortest;
}

}  // namespace

// The noise (a ten-thousandth of the package) moves the walls' corners by a sixth of their
// height, so the corners where three faces meet spread about their common point wider than
// MAXGAP (a quarter of the walls' height, the plug-in's limit) from one face to the next, and a
// wall's end passes beside the corner of the two faces it is not sewn to. Every seam within
// MAXGAP closes, each wall keeps the plane the noise tilted it to (its creases within a degree),
// no face moves more than three times the gaps it closes, at sizes 1e-3 to 1e3 and far from the
// origin.
TEST_F(CadStitch, NarrowWallsCloseKeepingTheirPlanes) {
  for (unsigned seed : {10u, 19u})
    for (double size : {1e-3, 1.0, 1e3})
      for (double far : {0.0, 1e4}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " size " << size << " far " << far);
        const CadGroup cad = NarrowWalledPlate(size, far, 1e-4, seed);
        const double maxGap = std::min(5e-4 * cad.diagonal, 0.25 * ShortestSide(cad));
        const HealOutcome r = HealAndCheck(cad, maxGap / 5.0);
        EXPECT_EQ(r.closed, r.seams);
        EXPECT_GE(r.seams, 4);
      }
}

// A wall's corner that the damage drew out past the plate's and the other wall's, 1.34 MAXGAP
// from their corner (MAXGAP a fifth of the walls' height), every seam still within MAXGAP: along
// a side that short, a corner within twice MAXGAP of its end is that end, not a T-junction 1.09
// MAXGAP along it. The walls' seam there pairs whole and closes with every other seam, at sizes
// 1e-3 to 1e3 and far from the origin.
TEST_F(CadStitch, WallCornerDrawnPastItsNeighboursClosesItsSeam) {
  for (double size : {1e-3, 1.0, 1e3})
    for (double far : {0.0, 1e4}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " far " << far);
      CadGroup cad = NarrowWalledPlate(size, far, 0.0, 1);
      const double maxGap = 2e-4 * size;
      double* corner = cad.patches[3].pts.data();  // the wall at y = 0, where it meets x = 0
      corner[0] -= 0.95 * maxGap;
      corner[2] -= 0.95 * maxGap;
      const HealOutcome r = HealAndCheck(cad, maxGap / 5.0);
      EXPECT_EQ(r.closed, r.seams);
      EXPECT_EQ(r.seams, 10);
    }
}

// A surface healed against a neighbour that the heal put back where it began keeps none of its
// moves towards it: those closed nothing and turned the crease between them. The noisy strip chain
// (130 along, noise 3e-3 of its size, seed 11 on every point) leaves two seams open; along each,
// between a tenth and nine tenths, the angle stays within a degree of its start (the moves kept
// turned it by 23 degrees), at sizes 1e-3 to 1e3 placed 1e4 sizes from the origin.
TEST_F(CadStitch, SeamsLeftOpenBesideASurfacePutBackKeepTheirAngle) {
  for (double size : {1e-3, 1.0, 1e3}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const CadGroup cad = MakeCadGroup(CadShape::StripChain, Noisy(130, 3e-3, 11, size));
    Group g;
    AddCadPatches(g, cad);
    for (Bspline* s : g.srfs)
      for (int j = 0; j < NumCtrlV(s); ++j)
        for (int i = 0; i < NumCtrlU(s); ++i) s->X[j][i] += 1e4 * size, s->Z[j][i] -= 2e4 * size;
    const double healGap = 1e-5 * cad.diagonal;
    std::vector<std::array<double, 9>> start;
    for (const SampleSeam& s : cad.seams) {
      start.emplace_back();
      for (int f = 0; f < 9; ++f) start.back()[f] = SeamAngleAt(g, s, 0.1 + 0.1 * f);
    }
    ASSERT_TRUE(HealAsThePlugIn(g, 5.0 * 3e-3 * cad.diagonal, healGap));
    int open = 0;
    for (size_t k = 0; k < cad.seams.size(); ++k) {
      if (SeamGap(g, cad.seams[k]) <= healGap) continue;
      ++open;
      for (int f = 0; f < 9; ++f) {
        EXPECT_NEAR(SeamAngleAt(g, cad.seams[k], 0.1 + 0.1 * f), start[k][f], 1.0) << "seam " << k << " at " << f;
      }
    }
    EXPECT_GT(open, 0);
  }
}

// A user picks the surfaces of a group in any order: the heal closes the same seams and leaves
// every control point within HEALGAP of where the same group in another order leaves it. Noisy
// crossed creases (four strips, two creases and two short seams at one corner), two noisy
// half-cylinders and a noisy chain of six strips round a crease of one row, in their own order,
// reversed and turned round by one.
TEST_F(CadStitch, AnyPickOrderHealsAlike) {
  const CadGroup groups[] = {CrossedCreases(40, 1e-3, 1), MakeCadGroup(CadShape::Tube, Noisy(40, 1e-3, 1)),
                             MakeCadGroup(CadShape::StripChain, Noisy(100, 1e-3, 3, 1.0, true))};
  for (const CadGroup& cad : groups) {
    SCOPED_TRACE(cad.name);
    const int n = static_cast<int>(cad.patches.size());
    const double healGap = 1e-5 * cad.diagonal;
    std::vector<int> own(n), reversed(n), turned(n);
    for (int i = 0; i < n; ++i) own[i] = i, reversed[i] = n - 1 - i, turned[i] = (i + 1) % n;
    // Each surface's net after the heal and whether each seam closed, by the group's own indices.
    auto heal = [&](const std::vector<int>& order, std::vector<std::vector<double>>* nets, std::vector<int>* closed) {
      Group g;
      for (int i : order) g.Add(BuildCadPatch(cad.patches[i]));
      ASSERT_TRUE(HealAsThePlugIn(g, 5.0 * 1e-3 * cad.diagonal, healGap));
      std::vector<int> at(n);
      for (int k = 0; k < n; ++k) at[order[k]] = k;
      nets->assign(n, {});
      for (int i = 0; i < n; ++i) (*nets)[i] = Net(g.srfs[at[i]]);
      for (SampleSeam s : cad.seams) {
        s.elemA = at[s.elemA], s.elemB = at[s.elemB];
        closed->push_back(SeamGap(g, s) <= healGap);
      }
    };
    std::vector<std::vector<double>> first;
    std::vector<int> firstClosed;
    heal(own, &first, &firstClosed);
    EXPECT_GT(std::count(firstClosed.begin(), firstClosed.end(), 1), 0);
    for (const auto& order : {reversed, turned}) {
      SCOPED_TRACE(testing::Message() << "order starting at " << order[0]);
      std::vector<std::vector<double>> nets;
      std::vector<int> closed;
      heal(order, &nets, &closed);
      EXPECT_EQ(closed, firstClosed);
      for (int i = 0; i < n; ++i) EXPECT_LE(LargestMove(first[i], nets[i]), healGap) << "surface " << i;
    }
  }
}
