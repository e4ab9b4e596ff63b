// Surface/surface intersections where the geometry is hard, against exact answers: two
// cylinders crossing at right angles whose loops pass close where the surfaces are nearly
// tangent, with their seams anywhere, at sizes 1e-6 .. 1e6 moved 1e4 x the size.
#include <algorithm>
#include <array>
#include <cmath>
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

class HardIntersections : public KernelTest {};

// Placement of a case: points x map to scale x + shift.
struct Place {
  double scale = 1.0;
  double shift[3] = {0.0, 0.0, 0.0};
  void Map(const double p[3], double out[3]) const {
    for (int q = 0; q < 3; ++q) out[q] = scale * p[q] + shift[q];
  }
  void Unmap(const double p[3], double out[3]) const {
    for (int q = 0; q < 3; ++q) out[q] = (p[q] - shift[q]) / scale;
  }
};

// The cylinder of radius R about the axis a through the origin, for heights h0..h1 along it;
// u goes round from the direction e (the seam), v along the axis. Exact: rational quadratic
// quarter arcs.
Bspline* Cylinder(const double a[3], const double e[3], double R, double h0, double h1,
                  const Place& at) {
  double f[3] = {a[1] * e[2] - a[2] * e[1], a[2] * e[0] - a[0] * e[2], a[0] * e[1] - a[1] * e[0]};
  const double w = std::sqrt(0.5);
  const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
  std::vector<double> pts, weights;
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 9; ++i) {
      double p[3], q[3];
      for (int c = 0; c < 3; ++c) p[c] = R * (cx[i] * e[c] + cy[i] * f[c]) + (j ? h1 : h0) * a[c];
      at.Map(p, q);
      pts.insert(pts.end(), q, q + 3);
      weights.push_back(i % 2 ? w : 1.0);
    }
  Bspline* s = BuildSurface(2, 1, 9, 2, pts, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1},
                            {0, 0, 1, 1}, weights);
  if (s) s->closedU = 1;
  return s;
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

// The longest piece of the loops x = cos t, y = sin t, z = +-sqrt(R2^2 - y^2) that no branch
// covers: each pair of neighbouring samples of a branch covers the interval of t between them on
// its loop (the sign of z), the shorter way round; the largest interval left uncovered is
// measured as the chord between the loop's points at its ends.
double Uncovered(const std::vector<Branch>& bs, double R2) {
  std::vector<std::pair<double, double>> covered[2];
  for (const Branch& b : bs)
    for (size_t i = 0; i + 1 < b.on1.size(); ++i) {
      const auto& p = b.on1[i];
      const auto& q = b.on1[i + 1];
      if ((p[2] > 0) != (q[2] > 0)) continue;
      double t0 = std::atan2(p[1], p[0]), t1 = std::atan2(q[1], q[0]);
      if (t1 < t0) std::swap(t0, t1);
      auto& c = covered[p[2] > 0];
      if (t1 - t0 <= M_PI) {
        c.push_back({t0, t1});
      } else {  // across t = +-pi
        c.push_back({-M_PI, t0});
        c.push_back({t1, M_PI});
      }
    }
  auto at = [&](double t, int side, double P[3]) {
    P[0] = std::cos(t), P[1] = std::sin(t), P[2] = (side ? 1 : -1) * std::sqrt(R2 * R2 - P[1] * P[1]);
  };
  double worst = 0.0;
  for (int side = 0; side < 2; ++side) {
    auto& c = covered[side];
    std::sort(c.begin(), c.end());
    double reach = -M_PI;
    auto gap = [&](double from, double to) {
      double A[3], B[3];
      at(from, side, A);
      at(to, side, B);
      worst = std::fmax(worst, std::hypot(A[0] - B[0], A[1] - B[1], A[2] - B[2]));
    };
    for (const auto& iv : c) {
      if (iv.first > reach) gap(reach, iv.first);
      reach = std::fmax(reach, iv.second);
    }
    if (reach < M_PI) gap(reach, M_PI);
  }
  return worst;
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
    EXPECT_LT(Uncovered(bs, R2), 1e-5 * size) << k;
    EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << k;
  }
}

}  // namespace
