// The heal beside free sides: a bottle's neck of cylinder strips, each a 15 x 6 net of degree 5
// (15 points round a 20-degree arc, one span along its length eight times the arc's), ending in a
// cap that turns in towards the axis across a smooth seam, the strips' long sides free. Noise of
// 1e-4 of the size tilts the normals at the corners, which the seams there average: a long free
// side held square to such a normal at its end swings across its whole length. No surface may
// move beyond 3 x the largest gap it closes, at every size and far from the origin.
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bspline/smake.h"
#include "foundation/makemat.h"
#include "healing/gstitch.h"
#include "tests/healing/heal_groups.h"
#include "tests/support/kernel_fixture.h"

namespace {

using namespace healtest;

constexpr double kMaxAngle = 8.0, kHealAngle = 0.1;

// Greville abscissa i of a clamped knot vector of degree p.
double Greville(const std::vector<double>& k, int p, int i) {
  double t = 0.0;
  for (int q = 1; q <= p; ++q) t += k[i + q];
  return t / p;
}

// A strip of a surface of revolution about the z axis: nu points round the arc [a0, a0 + arc]
// at their Greville abscissae, rows j at radius r[j] and height z[j]. Points round the arc are
// those of the circle, so two strips on one arc layout share their boundary rows exactly.
Bspline* RevolvedStrip(double a0, double arc, int nu, const std::vector<double>& r, const std::vector<double>& z) {
  constexpr int p = 5;
  const int nv = static_cast<int>(r.size());
  const std::vector<double> ku = ClampedKnots(p, nu);
  std::vector<double> pts;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      const double a = a0 + arc * Greville(ku, p, i);
      pts.insert(pts.end(), {r[j] * std::cos(a), r[j] * std::sin(a), z[j]});
    }
  return BuildSurface(p, p, nu, nv, pts);
}

// The strips' layout round the axis: the arc of each, its points round, and the cap's profile
// (radius and height of each row, in units of the cylinder's radius above its top).
struct NeckLayout {
  double arcDeg;
  int nu;
  std::vector<double> capR, capZ;
};

// The bottle's neck: 15 points round 20 degrees, the cap a degree-5 profile from the cylinder's
// rim towards the axis, its first leg upright.
const NeckLayout kNarrowStrips{20.0, 15, {1.0, 1.0, 0.96, 0.86, 0.72, 0.55, 0.42, 0.35},
                               {0.0, 0.08, 0.17, 0.26, 0.34, 0.41, 0.45, 0.47}};

// Two strips side by side round the axis (radius 1/8, length 1), each under its cap: the cap's
// first leg runs on along the cylinder, so every seam starts tangent. Scaled by `size`, moved
// 1e4 x size along (1, 2, 3) when `far`, then every control point moved by up to `noise` x the
// control-box diagonal per coordinate (seeded). Seams: strip i side 4 with cap i side 2, strip 0
// side 3 with strip 1 side 1, cap 0 side 3 with cap 1 side 1; the outer sides are free.
struct BottleNeck {
  Group g;
  struct Seam {
    int a, sideA, b, sideB;
  };
  std::vector<Seam> seams{{0, 4, 2, 2}, {1, 4, 3, 2}, {0, 3, 1, 1}, {2, 3, 3, 1}};
  double diagonal = 0.0;
  BottleNeck(double size, bool far, double noise, unsigned seed, double L = 1.0, const NeckLayout& lay = kNarrowStrips) {
    constexpr double R = 0.125;
    std::vector<double> rc, zc, rs, zs;
    for (int j = 0; j < 6; ++j) rc.push_back(R), zc.push_back(L * j / 5.0);
    for (size_t j = 0; j < lay.capR.size(); ++j) rs.push_back(R * lay.capR[j]), zs.push_back(L + R * lay.capZ[j]);
    const double arc = lay.arcDeg * kDeg;
    for (int k = 0; k < 2; ++k) g.Add(RevolvedStrip(arc * k, arc, lay.nu, rc, zc));
    for (int k = 0; k < 2; ++k) g.Add(RevolvedStrip(arc * k, arc, lay.nu, rs, zs));
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const Bspline* s : g.srfs)
      for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) {
        const double p[3] = {s->X[0][k], s->Y[0][k], s->Z[0][k]};
        for (int d = 0; d < 3; ++d) lo[d] = std::min(lo[d], p[d]), hi[d] = std::max(hi[d], p[d]);
      }
    diagonal = size * std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
    const double shift = far ? 1e4 * size : 0.0;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> off(-noise * diagonal, noise * diagonal);
    for (Bspline* s : g.srfs)
      for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) {
        s->X[0][k] = size * s->X[0][k] + shift + off(rng);
        s->Y[0][k] = size * s->Y[0][k] + 2.0 * shift + off(rng);
        s->Z[0][k] = size * s->Z[0][k] + 3.0 * shift + off(rng);
      }
  }
  double Gap(const Seam& s) const { return RefGap(g.srfs[s.a], s.sideA, g.srfs[s.b], s.sideB); }
};

// Heals the neck as the plug-in heals (samples fixed, the outer boundary free): every seam
// closes, and no free side's row of the first `judged` surfaces moves beyond 3 x the largest gap
// closed on its surface's sides.
void HealAndJudgeFreeRows(BottleNeck& b, const std::string& label, int judged) {
  const int n = b.g.size();
  const double healGap = 1e-5 * b.diagonal;
  std::vector<double> start;
  for (const auto& s : b.seams) start.push_back(b.Gap(s));
  std::vector<std::vector<double>> nets;
  for (const Bspline* s : b.g.srfs) nets.push_back(Net(s));
  ASSERT_EQ(MakeTopologyZK(b.g.data(), n, 5e-4 * b.diagonal, kMaxAngle), 0) << label;
  int** result = allocate_matrix_ih(n, 4);
  const std::vector<int> fixed(n, 0);
  const int status = HealTopologyZK(b.g.data(), n, fixed.data(), -1, 1, healGap, kHealAngle, 1, result);
  matrix_free_ih(result);
  CleanupTopology();
  ASSERT_EQ(status, 0) << label;
  std::vector<double> closedOn(n, 0.0);
  for (size_t k = 0; k < b.seams.size(); ++k) {
    const auto& s = b.seams[k];
    EXPECT_LE(b.Gap(s), healGap) << "seam " << k << " from " << start[k] << " " << label;
    for (int c : {s.a, s.b}) closedOn[c] = std::max(closedOn[c], start[k]);
  }
  // A free side's row goes with the corners its seams move, not with a normal averaged there.
  for (int i = 0; i < judged; ++i) {
    const std::vector<double> now = Net(b.g.srfs[i]);
    const int m = static_cast<int>(now.size()) / 3;
    double moved = 0.0;
    for (int side = 1; side <= 4; ++side) {
      bool free = true;
      for (const auto& s : b.seams) free = free && !(s.a == i && s.sideA == side) && !(s.b == i && s.sideB == side);
      for (int k = 0; free && k < m; ++k)
        if (OnSideRow(b.g.srfs[i], side, k))
          moved = std::max(moved, std::hypot(now[k] - nets[i][k], now[m + k] - nets[i][m + k],
                                             now[2 * m + k] - nets[i][2 * m + k]));
    }
    EXPECT_LE(moved, 3.0 * closedOn[i]) << "surface " << i << " " << label;
  }
}

class FreeSide : public KernelTest {};

constexpr struct {
  double size;
  bool far;
} kSizes[] = {{1e-6, true}, {1.0, false}, {1.0, true}, {1e6, true}};

std::string Label(double size, bool far, unsigned seed) {
  return "size " + std::to_string(size) + (far ? " far" : "") + " seed " + std::to_string(seed);
}

// Strips whose rows lie close across their long free sides (end leg 8 x the leg across).
TEST_F(FreeSide, LongFreeSidesFollowTheGapsTheirSeamsClose) {
  for (const auto& [size, far] : kSizes)
    for (unsigned seed : {1u, 2u}) {
      BottleNeck b(size, far, 1e-4, seed);
      HealAndJudgeFreeRows(b, Label(size, far, seed), b.g.size());
    }
}

// Wide strips (6 points round 60 degrees, as long as they are wide: legs along and across
// alike) under a dense fillet (21 rows over a twentieth of the radius). The fillet's rough
// normals are no aim for the strips: the seam's normal is split by the legs across, and a free
// side at its end turns only by the strip's share of that, not with the normal averaged there.
// The strips are judged: the fillet itself turns to them.
TEST_F(FreeSide, FreeSidesBesideADenseNetTurnOnlyByTheirSeamsShare) {
  NeckLayout dense{60.0, 6, {}, {}};
  for (int j = 0; j < 21; ++j) {
    const double a = 0.5 * 3.14159265358979 * j / 20.0;
    dense.capR.push_back(1.0 - 0.05 * (1.0 - std::cos(a)));
    dense.capZ.push_back(0.05 * std::sin(a));
  }
  const double L = 0.125 * 60.0 * kDeg;
  for (const auto& [size, far] : kSizes)
    for (unsigned seed : {1u, 2u}) {
      BottleNeck b(size, far, 1e-4, seed, L, dense);
      HealAndJudgeFreeRows(b, Label(size, far, seed), 2);
    }
}

// A fan of degree 5 round a quarter turn, 15 points round and 8 out from radius 0.01 to 1, beside
// a strip along its radial side u-min (the seam, 0.002 apart); the fan's short arc near the pole
// is free, its control points 1.1e-3 apart, and noise of 3e-4 a coordinate brings some of them
// within a fraction of that. Healed with the outer boundary free, that row follows its corners:
// no leg of it turns back and no normal along it turns over, at every size and far from the
// origin.
TEST_F(FreeSide, RowRunningIntoAPoleKeepsItsOrder) {
  constexpr int p = 5, nu = 15, nv = 8;
  const std::vector<double> ku = ClampedKnots(p, nu), kv = ClampedKnots(p, nv);
  const struct {
    double size;
    bool far;
  } kCases[] = {{1e-6, true}, {1.0, false}, {1e6, true}};
  for (const auto& [size, far] : kCases) {
    const double shift = far ? 1e4 * size : 0.0;
    std::vector<double> fan, strip;
    for (int j = 0; j < nv; ++j) {
      const double r = 0.01 + 0.99 * Greville(kv, p, j);
      for (int i = 0; i < nu; ++i) {
        const double a = 0.5 * 3.14159265358979 * Greville(ku, p, i);
        fan.insert(fan.end(), {r * std::cos(a), r * std::sin(a), 0.0});
      }
      for (int i = 0; i < 4; ++i) strip.insert(strip.end(), {r, -0.1 * i, 0.002});
    }
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
      Group g;
      g.Add(BuildSurface(p, p, nu, nv, fan));
      g.Add(BuildSurface(3, p, 4, nv, strip));
      std::mt19937 rng(seed);
      std::uniform_real_distribution<double> off(-3e-4, 3e-4);
      for (Bspline* s : g.srfs)
        for (int k = 0; k < NumCtrlU(s) * NumCtrlV(s); ++k) {
          s->X[0][k] = size * (s->X[0][k] + off(rng)) + shift;
          s->Y[0][k] = size * (s->Y[0][k] + off(rng)) + 2.0 * shift;
          s->Z[0][k] = size * (s->Z[0][k] + off(rng)) + 3.0 * shift;
        }
      Bspline* f = g.srfs[0];
      const std::vector<double> before = Net(f);
      std::vector<std::array<double, 3>> normals(41);
      for (int q = 0; q <= 40; ++q) SideNormal(f, 2, f->umin + (f->umax - f->umin) * q / 40.0, normals[q].data());
      ASSERT_EQ(MakeTopologyZK(g.data(), 2, 0.01 * size, kMaxAngle), 0);
      int** result = allocate_matrix_ih(2, 4);
      const std::vector<int> fixed(2, 0);
      const int status = HealTopologyZK(g.data(), 2, fixed.data(), -1, 1, 1e-5 * size, kHealAngle, 1, result);
      matrix_free_ih(result);
      CleanupTopology();
      ASSERT_EQ(status, 0);
      EXPECT_LE(RefGap(g.srfs[0], 1, g.srfs[1], 1), 1e-5 * size) << "size " << size << " seed " << seed;
      const std::vector<double> after = Net(f);
      const int m = nu * nv;
      for (int i = 1; i < nu; ++i) {
        double was[3], now[3];
        for (int c = 0; c < 3; ++c) {
          was[c] = before[c * m + i] - before[c * m + i - 1];
          now[c] = after[c * m + i] - after[c * m + i - 1];
        }
        EXPECT_GT(Dot(was, now), 0.0) << "size " << size << " seed " << seed << " leg " << i;
      }
      for (int q = 0; q <= 40; ++q) {
        double n[3];
        SideNormal(f, 2, f->umin + (f->umax - f->umin) * q / 40.0, n);
        EXPECT_GT(Dot(n, normals[q].data()), 0.0) << "size " << size << " seed " << seed << " at " << q;
      }
    }
  }
}

}  // namespace
