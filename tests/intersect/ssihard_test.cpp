// Surface/surface intersections where the geometry is hard, against exact answers: two
// cylinders crossing at right angles whose loops pass close where the surfaces are nearly
// tangent, with their seams anywhere, at sizes 1e-6 .. 1e6 moved 1e4 x the size.
#include <array>
#include <cmath>
#include <vector>

#include "bspline/ctrlnubs.h"
#include "bspline/crvlist.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "foundation/umalloc.h"
#include "intersect/newintr.h"
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

double PairSize(const Bspline* a, const Bspline* b) {
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  for (const Bspline* s : {a, b})
    for (int i = 0; i < NumCtrlU(s) * NumCtrlV(s); ++i) {
      const double p[3] = {s->X[0][i], s->Y[0][i], s->Z[0][i]};
      for (int q = 0; q < 3; ++q) {
        lo[q] = std::fmin(lo[q], p[q]);
        hi[q] = std::fmax(hi[q], p[q]);
      }
    }
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

// One branch as dense samples in the case's own units (placement undone): points on surface 1
// and the same parameters' points on surface 2.
struct Branch {
  std::vector<std::array<double, 3>> on1, on2;
};

std::vector<Branch> Intersect(Bspline* s1, Bspline* s2, const Place& at, int samples = 400) {
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

double SegDist(const double* p, const double* a, const double* b) {
  double ab[3], ap[3];
  for (int q = 0; q < 3; ++q) ab[q] = b[q] - a[q], ap[q] = p[q] - a[q];
  const double l2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
  double t = l2 > 0 ? (ab[0] * ap[0] + ab[1] * ap[1] + ab[2] * ap[2]) / l2 : 0.0;
  t = std::fmin(1.0, std::fmax(0.0, t));
  return std::hypot(ap[0] - t * ab[0], ap[1] - t * ab[1], ap[2] - t * ab[2]);
}

// Distance of p from the nearest branch polyline.
double FromBranches(const std::vector<Branch>& bs, const double p[3]) {
  double best = HUGE_VAL;
  for (const Branch& b : bs)
    for (size_t i = 0; i + 1 < b.on1.size(); ++i)
      best = std::fmin(best, SegDist(p, b.on1[i].data(), b.on1[i + 1].data()));
  return best;
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
// every pairing of five directions every sample of every branch lies on both cylinders; with
// the first pairing, at sizes 1, 1e-6 and 1e6 moved 1e4 x the size, no loop is left open and
// every point of the exact loops lies close to a branch.
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
    const double size = PairSize(a, b) / at.scale;
    const std::vector<Branch> bs = Intersect(a, b, at);
    double off = 0.0, gap = 0.0;
    for (const Branch& br : bs)
      for (const auto& p : br.on1)
        off = std::fmax(off, std::fmax(std::fabs(std::hypot(p[1], p[2]) - R2), std::fabs(std::hypot(p[0], p[1]) - 1.0)));
    for (int i = 0; i < 1000; ++i) {
      const double t = 2 * M_PI * i / 1000, y = std::sin(t);
      for (int sg : {-1, 1}) {
        const double p[3] = {std::cos(t), y, sg * std::sqrt(R2 * R2 - y * y)};
        gap = std::fmax(gap, FromBranches(bs, p));
      }
    }
    EXPECT_GE(bs.size(), 2u) << k;
    EXPECT_LT(off, 1e-6 * size) << k;
    if (sa == 0 && sb == 0) {
      EXPECT_LT(gap, 1e-4 * size) << k;
      EXPECT_TRUE(EndsMeet(bs, 1e-6 * size)) << k;
    }
  }
}

}  // namespace
