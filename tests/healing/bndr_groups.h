// Small surface groups for the boundary-structure suites, and an independent reference for
// gaps and normal angles along a boundary (textbook evaluator, dense sampling and a
// golden-section closest-point search of its own).
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "bspline/sfree.h"
#include "healing/srfbndr.h"
#include "healing/srfbndrc.h"
#include "tests/support/builders.h"

namespace bndr_test {

constexpr double kDeg = 3.14159265358979323846 / 180.0;

// The surfaces of a group and the structure built on them (the graph is freed at once, as the
// heal driver does).
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
  bool Build(double maxGap, double maxAngle, int outer = -1) {
    int status = 0;
    Gsrf* g = MakeGSrfBndrStructCore(srfs.data(), static_cast<int>(srfs.size()), 1e-6, maxGap, &status);
    if (!g) return false;
    bs = ConvertGsrfBndrToBndrStruct(g, 100, maxGap, maxAngle, outer);
    FreeGsrfBndr(g);
    return bs != nullptr;
  }
  int PairedCount() const {
    int n = 0;
    for (int i = 0; i < bs->nEdge; ++i) n += bs->edges[i].paired;
    return n;
  }
  const EdgeInfoStruct* FirstPaired() const {
    for (int i = 0; i < bs->nEdge; ++i)
      if (bs->edges[i].paired) return &bs->edges[i];
    return nullptr;
  }
};

using Fn = std::function<double(double, double)>;

inline double Smooth(double x, double y) { return 0.15 * std::sin(1.3 * x + 0.4) * std::cos(0.9 * y); }

// Gap along the shared side x = 1 of the two-patch group: largest (0.01) inside the edge.
inline double GapAt(double y) { return 0.005 + 0.005 * std::sin(3.14159265358979 * y); }

// Patch A on [0,1]^2 and patch B on [1,2] x [0,1]; B lies GapAt(y) above A's continuation
// and turns away from it by kink(y) degrees across the shared side. reverseB runs B's v
// against A's.
inline void TwoPatches(Group& grp, const std::function<double(double)>& kinkDeg, bool reverseB,
                       const std::function<double(double)>& gap = GapAt, const Fn& base = Smooth) {
  PatchOptions a;
  a.nu = 6;
  a.nv = 7;
  grp.srfs.push_back(BuildFunctionPatch(base, a));
  PatchOptions b = a;
  b.x0 = 1.0;
  b.x1 = 2.0;
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

inline double Dist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

inline double RefFoldedAngle(const double a[3], const double b[3]) {
  const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  double c = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (la * lb);
  c = std::clamp(c, -1.0, 1.0);
  const double deg = std::acos(c) / kDeg;
  return deg > 90.0 ? 180.0 - deg : deg;
}

// Closest point of P on a natural side over [t0, t1]: 200 samples, then golden section.
inline double RefClosestParam(const Bspline* s, int side, double t0, double t1, const double P[3]) {
  const int n = 200;
  int best = 0;
  double bestD = 1e300;
  for (int i = 0; i <= n; ++i) {
    double q[3];
    SidePoint(s, side, t0 + (t1 - t0) * i / n, q);
    const double d = Dist(P, q);
    if (d < bestD) {
      bestD = d;
      best = i;
    }
  }
  double a = t0 + (t1 - t0) * std::max(best - 1, 0) / n, b = t0 + (t1 - t0) * std::min(best + 1, n) / n;
  const double r = 0.5 * (std::sqrt(5.0) - 1.0);
  auto f = [&](double t) {
    double q[3];
    SidePoint(s, side, t, q);
    return Dist(P, q);
  };
  for (int it = 0; it < 60; ++it) {
    const double c = b - r * (b - a), d = a + r * (b - a);
    if (f(c) < f(d))
      b = d;
    else
      a = c;
  }
  return 0.5 * (a + b);
}

// Largest gap and largest folded normal angle between side sa of A and side sb of B, sampled
// densely along A and matched by closest point.
inline void RefEdgeMeasures(const Bspline* A, int sa, const Bspline* B, int sb, double* gap, double* angle) {
  const double ta0 = (sa == 1 || sa == 3) ? A->vmin : A->umin, ta1 = (sa == 1 || sa == 3) ? A->vmax : A->umax;
  const double tb0 = (sb == 1 || sb == 3) ? B->vmin : B->umin, tb1 = (sb == 1 || sb == 3) ? B->vmax : B->umax;
  *gap = 0.0;
  *angle = 0.0;
  for (int i = 0; i <= 160; ++i) {
    const double t = ta0 + (ta1 - ta0) * i / 160;
    double p[3], q[3], na[3], nb[3];
    SidePoint(A, sa, t, p);
    const double tb = RefClosestParam(B, sb, tb0, tb1, p);
    SidePoint(B, sb, tb, q);
    *gap = std::max(*gap, Dist(p, q));
    SideNormal(A, sa, t, na);
    SideNormal(B, sb, tb, nb);
    *angle = std::max(*angle, RefFoldedAngle(na, nb));
  }
}

// A 2 x 2 grid of patches of one function over [0,2]^2; the control points at every shared
// corner are moved at random by up to `jitter` per coordinate, patch by patch.
inline void Grid2x2(Group& grp, double jitter, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> d(-jitter, jitter);
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      PatchOptions o;
      o.x0 = i;
      o.x1 = i + 1.0;
      o.y0 = j;
      o.y1 = j + 1.0;
      Bspline* s = BuildFunctionPatch(Smooth, o);
      const int nu = NumCtrlU(s), nv = NumCtrlV(s);
      for (int cj : {0, nv - 1})
        for (int ci : {0, nu - 1}) {
          const double x = s->X[cj][ci], y = s->Y[cj][ci];
          const bool outer = (x == 0.0 || x == 2.0) && (y == 0.0 || y == 2.0);
          if (outer) continue;
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
  PatchOptions a;
  a.y1 = 2.0;
  a.nv = 8;
  grp.srfs.push_back(BuildFunctionPatch(Smooth, a));
  for (int k = 0; k < 2; ++k) {
    PatchOptions o;
    o.x0 = 1.0;
    o.x1 = 2.0;
    o.y0 = k;
    o.y1 = k + 1.0;
    grp.srfs.push_back(BuildFunctionPatch(Smooth, o));
  }
}

}  // namespace bndr_test
