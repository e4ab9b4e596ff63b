// Small surface groups for the healing suites, and an independent reference for gaps and
// normal angles along a boundary (textbook evaluator, dense sampling and a closest-point
// search of its own).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "platform/host/sample_groups.h"
#include "tests/support/builders.h"

namespace healtest {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

// The surfaces of a group and the structure built on them (the graph is freed at once, as the
// heal driver does). Also serves to own any records a test makes (Add).
struct Group {
  std::vector<Bspline*> srfs;
  BndrStruct* bs = nullptr;
  Group() = default;
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;
  ~Group() {
    FreeBndrStruct(bs);
    for (Bspline* s : srfs) FreeBspline(s);
  }
  Bspline* Add(Bspline* b) { return srfs.emplace_back(b); }
  Bspline** data() { return srfs.data(); }
  int size() const { return static_cast<int>(srfs.size()); }
  bool Build(double maxGap, double maxAngle, int outer = -1, int nSample = 100) {
    int status = 0;
    Gsrf* g = MakeGSrfBndrStructCore(srfs.data(), size(), 1e-6, maxGap, &status);
    if (!g) return false;
    bs = ConvertGsrfBndrToBndrStruct(g, nSample, maxGap, maxAngle, outer);
    FreeGsrfBndr(g);
    return bs != nullptr;
  }
  // Built and ready for the heal stages: fixed curves, corner geometry, averaged normals.
  bool Prepare(double maxGap, double maxAngle) {
    return Build(maxGap, maxAngle) && SetSkinSrfsFixedCrvs(bs) == 0 && SetUpBndrEdgeCornerGeometry(bs) == 0 &&
           EvalAllBndrEdgeAvgSampleNormals(bs) == 0;
  }
  int PairedCount() const {
    int n = 0;
    for (int i = 0; i < bs->nEdge; ++i) n += bs->edges[i].paired;
    return n;
  }
  EdgeInfoStruct* FirstPaired() const {
    for (int i = 0; i < bs->nEdge; ++i)
      if (bs->edges[i].paired) return &bs->edges[i];
    return nullptr;
  }
};

using Fn = std::function<double(double, double)>;

inline double Smooth(double x, double y) { return 0.15 * std::sin(1.3 * x + 0.4) * std::cos(0.9 * y); }

// Gap along the shared side x = 1 of the two-patch group: largest (0.01) inside the edge.
inline double GapAt(double y) { return 0.005 + 0.005 * std::sin(3.14159265358979 * y); }

// Patch A on [0,1]^2 (options `a`, rectangle and domain left as given) and patch B on
// [1,2] x [0,1] of 6 x 7 points; B lies gap(y) above A's continuation and turns away from it
// by kink(y) degrees across the shared side. reverseB runs B's v against A's.
inline void TwoPatches(Group& grp, const std::function<double(double)>& kinkDeg, bool reverseB,
                       const std::function<double(double)>& gap = GapAt, const Fn& base = Smooth,
                       PatchOptions a = {3, 3, 6, 7}) {
  grp.srfs.push_back(BuildFunctionPatch(base, a));
  PatchOptions b = {3, 3, 6, 7};
  b.x0 = 1.0, b.x1 = 2.0;
  if (reverseB) std::swap(b.y0, b.y1);
  grp.srfs.push_back(BuildFunctionPatch(
      [=](double x, double y) { return base(x, y) + gap(y) + std::tan(kinkDeg(y) * kDeg) * (x - 1.0); }, b));
}

// The reference seam: constant in x on A, so both patches' sides are the same curve 0.01 apart
// and the normals turn by exactly 3 degrees where the curve's v-slope vanishes (y = 0.5).
inline void KinkedPair(Group& grp, bool reverseB) {
  TwoPatches(
      grp, [](double) { return 3.0; }, reverseB, [](double) { return 0.01; },
      [](double, double y) { return 0.15 * std::cos(1.5 * (y - 0.5)); });
}

// (u, v) of a natural side (1 u-min, 2 v-min, 3 u-max, 4 v-max) at parameter t.
inline void SideUV(const Bspline* s, int side, double t, double* u, double* v) {
  *u = side == 1 ? s->umin : side == 3 ? s->umax : t;
  *v = side == 2 ? s->vmin : side == 4 ? s->vmax : t;
}

inline void SidePoint(const Bspline* s, int side, double t, double out[3]) {
  double u, v;
  SideUV(s, side, t, &u, &v);
  RefEvalSurface(s, u, v, out);
}

inline void SideNormal(const Bspline* s, int side, double t, double out[3]) {
  double u, v, su[3], sv[3];
  SideUV(s, side, t, &u, &v);
  RefEvalDeriv(s, u, v, 1, 0, su);
  RefEvalDeriv(s, u, v, 0, 1, sv);
  out[0] = su[1] * sv[2] - su[2] * sv[1];
  out[1] = su[2] * sv[0] - su[0] * sv[2];
  out[2] = su[0] * sv[1] - su[1] * sv[0];
}

inline double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double Len(const double a[3]) { return std::sqrt(Dot(a, a)); }
inline double Dist(const double a[3], const double b[3]) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

inline double RefFoldedAngle(const double a[3], const double b[3]) {
  const double deg = std::acos(std::clamp(Dot(a, b) / (Len(a) * Len(b)), -1.0, 1.0)) / kDeg;
  return deg > 90.0 ? 180.0 - deg : deg;
}

// A natural side's points at 200 even steps of [t0, t1] (the whole side when no range is
// given): the coarse scan of RefClosestParam, made once for the many points matched on one side.
struct RefSideScan {
  static constexpr int kSteps = 200;
  const Bspline* s;
  int side;
  double t0, t1;
  std::vector<std::array<double, 3>> pts;
  RefSideScan(const Bspline* s, int side, double t0, double t1) : s(s), side(side), t0(t0), t1(t1), pts(kSteps + 1) {
    for (int i = 0; i <= kSteps; ++i) SidePoint(s, side, At(i), pts[i].data());
  }
  RefSideScan(const Bspline* s, int side)
      : RefSideScan(s, side, side % 2 ? s->vmin : s->umin, side % 2 ? s->vmax : s->umax) {}  // sides 1, 3 run in v
  double At(int i) const { return i == kSteps ? t1 : t0 + (t1 - t0) * i / kSteps; }
};

// Closest point of P on the scanned side: the nearest sample, then Brent's minimisation of the
// squared distance between its neighbours until the bracket is down to round-off in t: a point
// on the side finds itself to the last digits (a closed seam's gap is then round-off).
inline double RefClosestParam(const RefSideScan& scan, const double P[3]) {
  auto f = [&](double t) {
    double q[3];
    SidePoint(scan.s, scan.side, t, q);
    const double d = Dist(P, q);
    return d * d;
  };
  const int n = RefSideScan::kSteps;
  int best = 0;
  double fx = 1e300;
  for (int i = 0; i <= n; ++i) {
    const double d = Dist(P, scan.pts[i].data());
    if (d * d < fx) fx = d * d, best = i;
  }
  const double a = scan.At(std::max(best - 1, 0)), b = scan.At(std::min(best + 1, n));
  return BrentMinimum(f, a, b, scan.At(best), fx, 1e-15 * std::fabs(scan.t1 - scan.t0));
}

// The same on side `side` of s over [t0, t1], scanned for this one point.
inline double RefClosestParam(const Bspline* s, int side, double t0, double t1, const double P[3]) {
  return RefClosestParam(RefSideScan(s, side, t0, t1), P);
}

// Largest gap and largest folded normal angle (angle may be null) between side sa of A and side
// sb of B, at `samples` + 1 even parameters t of A's side met by match(t) on B's side.
inline void SeamMeasures(const Bspline* A, int sa, const Bspline* B, int sb, double* gap, double* angle, int samples,
                         const std::function<double(double, const double*)>& match) {
  const double ta0 = sa % 2 ? A->vmin : A->umin, ta1 = sa % 2 ? A->vmax : A->umax;  // sides 1, 3 run in v
  *gap = 0.0;
  if (angle) *angle = 0.0;
  for (int i = 0; i <= samples; ++i) {
    const double t = ta0 + (ta1 - ta0) * i / samples;
    double p[3], q[3], na[3], nb[3];
    SidePoint(A, sa, t, p);
    const double tb = match(t, p);
    SidePoint(B, sb, tb, q);
    *gap = std::max(*gap, Dist(p, q));
    if (!angle) continue;
    SideNormal(A, sa, t, na);
    SideNormal(B, sb, tb, nb);
    *angle = std::max(*angle, RefFoldedAngle(na, nb));
  }
}

// Matched by closest point on B's side.
inline void RefEdgeMeasures(const Bspline* A, int sa, const Bspline* B, int sb, double* gap, double* angle,
                            int samples = 160) {
  const RefSideScan onB(B, sb);
  SeamMeasures(A, sa, B, sb, gap, angle, samples, [&](double, const double* p) { return RefClosestParam(onB, p); });
}

inline double RefGap(const Bspline* A, int sa, const Bspline* B, int sb) {
  double gap;
  RefEdgeMeasures(A, sa, B, sb, &gap, nullptr, 60);
  return gap;
}

// Matched at parameters, for groups whose patches map their parameters linearly onto one seam:
// t on A meets t (or 1 - t when reversed) on B, both domains [0, 1].
inline void ParamSeamMeasures(const Bspline* A, int sa, const Bspline* B, int sb, bool reversed, double* gap,
                              double* angle) {
  SeamMeasures(A, sa, B, sb, gap, angle, 200, [=](double t, const double*) { return reversed ? 1.0 - t : t; });
}

// Largest distance between a natural side and a curve over the curve's domain.
inline double SideVsCurve(const Bspline* s, int side, const Bspline* c) {
  double worst = 0.0;
  for (int i = 0; i <= 50; ++i) {
    const double t = c->umin + (c->umax - c->umin) * i / 50.0;
    double p[3], q[3];
    SidePoint(s, side, t, p);
    RefEvalCurve(c, t, q);
    worst = std::max(worst, Dist(p, q));
  }
  return worst;
}

// Control points of a surface: all x (rows v, columns u), then all y, then all z.
inline std::vector<double> Net(const Bspline* s) {
  const int n = NumCtrlU(s) * NumCtrlV(s);
  std::vector<double> v(s->X[0], s->X[0] + n);
  v.insert(v.end(), s->Y[0], s->Y[0] + n);
  v.insert(v.end(), s->Z[0], s->Z[0] + n);
  return v;
}

// Largest distance any control point moved between two nets laid out as Net() gives them.
inline double LargestMove(const std::vector<double>& before, const std::vector<double>& after) {
  const size_t count = after.size() / 3;
  double moved = 0.0;
  for (size_t c = 0; c < count; ++c)
    moved = std::max(moved, std::hypot(after[c] - before[c], after[count + c] - before[count + c],
                                       after[2 * count + c] - before[2 * count + c]));
  return moved;
}

// Whether entry k of Net(s) lies in the boundary row of the side.
inline bool OnSideRow(const Bspline* s, int side, int k) {
  const int nu = NumCtrlU(s), nv = NumCtrlV(s), i = k % (nu * nv) % nu, j = k % (nu * nv) / nu;
  return (side == 1 && i == 0) || (side == 3 && i == nu - 1) || (side == 2 && j == 0) || (side == 4 && j == nv - 1);
}

// Degrees, interior knot counts, rational flag, domain and knots of a surface, then (withNet)
// its control points and weights, for bit-exact comparison.
inline std::vector<double> Snapshot(const Bspline* s, bool withNet = true) {
  std::vector<double> v = {double(s->degreeU), double(s->degreeV), double(s->interiorU), double(s->interiorV),
                           double(s->rational), s->umin, s->umax, s->vmin, s->vmax};
  v.insert(v.end(), s->knotsU, s->knotsU + NumKnotsU(s));
  v.insert(v.end(), s->knotsV, s->knotsV + NumKnotsV(s));
  if (!withNet) return v;
  const std::vector<double> net = Net(s);
  v.insert(v.end(), net.begin(), net.end());
  if (s->rational) v.insert(v.end(), s->W[0], s->W[0] + NumCtrlU(s) * NumCtrlV(s));
  return v;
}

// Runs op with every allocation failing from the k-th on, k = 0, 1, ..., until it succeeds;
// each failed run must leave state() as it was and nothing tracked. Returns the number of
// failed runs.
template <class Op, class State>
int FailUntilSuccess(Op op, State state, long limit = 2000) {
  const auto before = state();
  for (long k = 0; k < limit; ++k) {
    MallocFailAfter(k, -1);
    const int r = op();
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0) << k;
    if (r == 0) return static_cast<int>(k);
    EXPECT_EQ(state(), before) << k;
    ClearKernelError();
  }
  ADD_FAILURE() << "never succeeded";
  return static_cast<int>(limit);
}

// A 2 x 2 grid of patches of one function over [0,2]^2; the control points at every shared
// corner are moved at random by up to `jitter` per coordinate, patch by patch.
inline void Grid2x2(Group& grp, double jitter, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-jitter, jitter);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o;
      o.x0 = i, o.x1 = i + 1.0, o.y0 = j, o.y1 = j + 1.0;
      Bspline* s = BuildFunctionPatch(Smooth, o);
      const int nu = NumCtrlU(s), nv = NumCtrlV(s);
      for (int cj : {0, nv - 1})
        for (int ci : {0, nu - 1}) {
          const double x = s->X[cj][ci], y = s->Y[cj][ci];
          if ((x == 0.0 || x == 2.0) && (y == 0.0 || y == 2.0)) continue;  // outer corner
          s->X[cj][ci] += d(rng);
          s->Y[cj][ci] += d(rng);
          s->Z[cj][ci] += d(rng);
        }
      grp.srfs.push_back(s);
    }
}

// Patch A on [0,1] x [0,2] beside B on [1,2] x [0,1] and C on [1,2] x [1,2]: B and C end in
// the middle of A's u-max side.
inline void TJunction(Group& grp) {
  PatchOptions a = {3, 3, 6, 8};
  a.y1 = 2.0;
  grp.Add(BuildFunctionPatch(Smooth, a));
  for (int k = 0; k < 2; ++k) {
    PatchOptions o;
    o.x0 = 1.0, o.x1 = 2.0, o.y0 = k, o.y1 = k + 1.0;
    grp.Add(BuildFunctionPatch(Smooth, o));
  }
}

// The patches of a CAD-like group, in the order of its seams' indices.
inline void AddCadPatches(Group& grp, const CadGroup& cad) {
  for (const CadPatch& c : cad.patches) grp.Add(BuildCadPatch(c));
}

}  // namespace healtest
