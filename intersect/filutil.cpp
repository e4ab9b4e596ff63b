#include "intersect/filutil.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/cclone.h"
#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"
#include "construct/extend.h"
#include "construct/srfmerge.h"
#include "curve/crvbrk.h"
#include "curve/crvutil.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "splinefit/intrplt.h"
#include "stitch/vcnobj.h"
#include "surface/srfsnip.h"
#include "surface/srfutils.h"

namespace {

// Selects the refiner: 1 the older scheme, anything else the bracketed one. Nothing changes it.
int test1 = 2;

// Radius of curvature standing for a flat direction.
constexpr double kFlatRadius = kNoValue;

double Lo(const Bspline* s, int dir) { return dir ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU]; }
double Hi(const Bspline* s, int dir) {
  return dir ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
}

// The check of the entry points that read surfaces: each sound (bsvalid) and a 3D surface, and
// the numbers given finite; else false with the error state -2.
bool SurfacesSound(std::initializer_list<const Bspline*> surfaces,
                   std::initializer_list<double> values = {}) {
  if (!RecordsSound(surfaces)) return false;
  bool ok = AllFinite(values);
  for (const Bspline* s : surfaces) ok = ok && s->kind == 2 && s->dimension == 3;
  if (!ok) SetKernelError(-2);
  return ok;
}

// A curve in the parameter plane of a surface, both sound; else false with the error state -2.
bool CurveOnSurfaceSound(const Bspline* c) {
  if (!RecordsSound({c})) return false;
  if (c->kind != 1 || c->dimension != 2 || !c->owner || c->owner->kind != 2 || c->owner->dimension != 3) {
    SetKernelError(-2);
    return false;
  }
  return true;
}

// Point, partials (second ones with `second`: Suv, Suu, Svv) and unit normal of a surface.
struct SurfPoint {
  double d[6][3];  // S, Su, Sv, Suv, Suu, Svv
  double n[3];     // unit
};

// A normal from Su x Sv this close in direction to ComputeSurfaceNormal's (cosine of the angle)
// is the same normal: that one clears components below a millionth, a turn of up to about
// 2e-6, while where Su x Sv is not sound (a pole, a collapsed side) the two part by far more.
constexpr double kSameNormal = 1.0 - 1e-10;

// Units in the last place of the coordinates that the evaluator's partials carry: each sums
// control points times derivatives of the basis (a rational one less the point times the
// weight's derivative), terms of the coordinates' magnitude for a result of the size's.
constexpr double kPartialUlps = 8.0;
// A normal that round-off may turn by more than this (radians) moves a ball's centre by as much
// of its radius, a share the contact tolerances (down to 1e-9 of the size) cannot spare.
constexpr double kNormalTurn = 1e-9;
// A surface whose coordinates reach this many times its size from the origin loses digits in
// its partials that a copy centred at the origin keeps.
constexpr double kFarSizes = 16.0;

// Whether the partials Su, Sv of s at its point P lose digits to the magnitude of the
// coordinates, enough to turn its normal by more than kNormalTurn: beside a pole (a side
// collapsed to a point) of a surface far from the origin the short partial is of the distance to
// the pole, its round-off of the coordinates (1e-6 of the range from the pole, 1e4 sizes out: a
// turn of 7e-6). Their round-off is put at kPartialUlps of the coordinates times the longer
// partial's share of the size.
bool PartialsLoseDigits(const Bspline* s, const double P[3], const double Su[3], const double Sv[3]) {
  const double lu = VecSize3(Su), lv = VecSize3(Sv);
  const double shorter = std::fmin(lu, lv), ulps = kPartialUlps * DBL_EPSILON * std::fmax(lu, lv);
  if (!(ulps > 0.0) || !std::isfinite(ulps) || s->kind != 2 || s->dimension != 3) return false;
  // The net's box (a pass over the net) only where the round-off could matter with the box at
  // its least: as long as the diagonals between the net's corners, its coordinates at most
  // 16/15 of the point's (the point lies in the box, which lies kFarSizes of it out).
  const int i = NumCtrlU(s) - 1, j = NumCtrlV(s) - 1;
  const double a[3] = {s->X[0][0], s->Y[0][0], s->Z[0][0]}, b[3] = {s->X[j][i], s->Y[j][i], s->Z[j][i]};
  const double c[3] = {s->X[0][i], s->Y[0][i], s->Z[0][i]}, d[3] = {s->X[j][0], s->Y[j][0], s->Z[j][0]};
  const double least = std::fmax(VecDist3(a, b), VecDist3(c, d));
  const double at = std::fmax(std::fabs(P[0]), std::fmax(std::fabs(P[1]), std::fabs(P[2])));
  if (!(ulps * kFarSizes / (kFarSizes - 1.0) * at > kNormalTurn * least * shorter)) return false;
  double lo[3], hi[3];
  ControlPointBox(s, lo, hi);
  const double size = VecDist3(lo, hi);
  double far = 0.0;
  for (int q = 0; q < 3; ++q) far = std::fmax(far, std::fmax(std::fabs(lo[q]), std::fabs(hi[q])));
  return far > kFarSizes * size && ulps * far > kNormalTurn * size * shorter;
}

// A copy of s moved so that its control box is centred at the origin; null when memory ran out.
Bspline* CentredCopy(Bspline* s) {
  double lo[3], hi[3];
  ControlPointBox(s, lo, hi);
  Bspline* c = CopyBsplineSurface(s);
  if (!c) return nullptr;
  double** xyz[3] = {c->X, c->Y, c->Z};
  for (int q = 0; q < 3; ++q)
    for (int j = 0; j < NumCtrlV(c); ++j)
      for (int i = 0; i < NumCtrlU(c); ++i) xyz[q][j][i] -= 0.5 * (lo[q] + hi[q]);
  return c;
}

bool Evaluate(Bspline* s, double u, double v, SurfPoint& p, bool second) {
  static const int du[6] = {0, 1, 0, 1, 2, 0}, dv[6] = {0, 0, 1, 1, 0, 2};
  const int n = second ? 6 : 3;
  if (EvalPointOnGeometryM(s, u, v, du, dv, n, 0, p.d) != 0) return false;
  // Partials that lose digits to the coordinates' magnitude are taken again on a copy centred
  // at the origin, where they carry the round-off of the size alone, and so is the normal (its
  // stand-in partials too); the point stays as evaluated.
  Owned<Bspline, FreeBspline> centred;
  if (PartialsLoseDigits(s, p.d[0], p.d[1], p.d[2])) {
    centred.reset(CentredCopy(s));
    if (!centred || EvalPointOnGeometryM(centred.get(), u, v, du + 1, dv + 1, n - 1, 0, p.d + 1) != 0) return false;
  }
  double c[3];
  VecCrossProd3(p.d[1], p.d[2], c);
  for (int r = 1; r < n; ++r) ReduceSmallComponents(p.d[r]);
  ComputeSurfaceNormal(centred ? centred.get() : s, u, v, p.d[1], p.d[2], p.n);
  const double l = VecSize3(p.n);
  if (!(l > 0.0) || !std::isfinite(l)) return false;
  for (int q = 0; q < 3; ++q) p.n[q] /= l;
  // The ball's centre lies r along the normal, which the cleared components would turn by up
  // to a millionth, moving the centre by as much of r: the normal is Su x Sv as evaluated
  // wherever that is the same normal.
  const double lc = VecSize3(c);
  if (lc > 0.0 && std::isfinite(lc) && VecDotProd3(c, p.n) > kSameNormal * lc)
    for (int q = 0; q < 3; ++q) p.n[q] = c[q] / lc;
  return true;
}

// The pair's size: the larger control-point box diagonal, the unit of every length threshold.
double PairSize(Bspline* S1, Bspline* S2) {
  const double s = std::fmax(GetGeometricDiagonalSizeOfObj(S1), GetGeometricDiagonalSizeOfObj(S2));
  return s > 0.0 && std::isfinite(s) ? s : 1.0;
}

// A ball and a tolerance to refine by. A radius that is not positive rolls no ball (false, a
// node with no pair: a varying radius may reach 0 where its fillet ends). A tolerance that is
// not positive, or spans the pair's size, makes any guess a contact pair: false with the error
// state -2.
bool BallAndToleranceSound(Bspline* S1, Bspline* S2, double r, double tol) {
  if (!(tol > 0.0 && tol < PairSize(S1, S2))) {
    SetKernelError(-2);
    return false;
  }
  return r > 0.0;
}

// The state of a contact-pair iteration.
struct Ball {
  Bspline* S[2];
  double r, size;
  double p[4];  // u1, v1, u2, v2
  SurfPoint at[2];
  double t[3];  // direction along the intersection
  double X[3];  // corner where the tangent lines across the intersection meet
  double lo[4], hi[4];  // brackets
  bool wraps[4];        // the surface is closed in this parameter: its seam is no edge
  double guess[4];
};

bool EvaluateBoth(Ball& b) {
  return Evaluate(b.S[0], b.p[0], b.p[1], b.at[0], false) &&
         Evaluate(b.S[1], b.p[2], b.p[3], b.at[1], false);
}

bool SmallVector(const double v[3], double limit) {
  return std::fabs(v[0]) < limit && std::fabs(v[1]) < limit && std::fabs(v[2]) < limit;
}

// The parameter steps toward the contact points of the ball: tangent length d from the corner
// along each surface's direction across the intersection. k > 0 moves the corner first.
// -2 on degenerate geometry (no direction, parallel tangent lines, a closed wedge).
int ContactSteps(Ball& b, int k, const double nb[4], double lengthFactor, double step[4]) {
  const double* P1 = b.at[0].d[0];
  const double* P2 = b.at[1].d[0];
  const double* n1 = b.at[0].n;
  const double* n2 = b.at[1].n;
  if (SmallVector(b.t, 1e-6)) {
    // Parallel normals: the neighbouring node gives the direction along the trace.
    double Q[3];
    Eval3DPointOnSurfCoord(b.S[0], nb[0], nb[1], 0, 0, Q);
    VecDiff3(Q, P1, b.t);
    if (SmallVector(b.t, 1e-6 * b.size)) {
      Eval3DPointOnSurfCoord(b.S[1], nb[2], nb[3], 0, 0, Q);
      VecDiff3(Q, P2, b.t);
      if (SmallVector(b.t, 1e-6 * b.size)) return -2;
    }
  }
  double w1[3], w2[3];
  VecCrossProd3(b.t, n1, w1);
  VecCrossProd3(n2, b.t, w2);
  const double l1 = VecSize3(w1), l2 = VecSize3(w2);
  if (!(l1 > 0.0) || !(l2 > 0.0)) return -2;
  for (int q = 0; q < 3; ++q) {
    w1[q] /= l1;
    w2[q] /= l2;
  }
  if (k > 0) {
    double m[3];
    VecCrossProd3(w1, w2, m);
    int c = 2;
    if (std::fabs(m[1]) > std::fabs(m[c])) c = 1;
    if (std::fabs(m[0]) > std::fabs(m[c])) c = 0;
    if (m[c] == 0.0) return -2;
    double e[3], x[3];
    VecDiff3(P2, P1, e);
    VecCrossProd3(e, w1, x);
    // The corner beyond 1e8 sizes away: the tangent lines are as good as parallel.
    if (std::fabs(x[c]) > 1e8 * b.size * std::fabs(m[c])) return -2;
    const double s = x[c] / m[c];
    for (int q = 0; q < 3; ++q) b.X[q] = P2[q] + s * w2[q];
  }
  const double h = FindAngleVectors3(w1, w2) * 0.008726646259971648;
  if (std::sin(h) < 1e-6) return -2;
  const double d = (std::fabs(std::cos(h)) <= 1e-6 ? b.r : b.r / std::tan(h)) * lengthFactor;
  double D1[3], D2[3];
  for (int q = 0; q < 3; ++q) {
    D1[q] = b.X[q] + d * w1[q] - P1[q];
    D2[q] = b.X[q] + d * w2[q] - P2[q];
  }
  // The corner lies on S2's tangent line; S1's passes it by as far as the contacts lie apart
  // along the spine. That offset leaves S1's target off its tangent plane, and resolved there
  // along a coordinate axis it can vanish: the target is taken onto the plane along the normal.
  const double off = VecDotProd3(D1, n1);
  for (int q = 0; q < 3; ++q) D1[q] -= off * n1[q];
  if (!ResolveInTangentPlane(D1, b.at[0].d[1], b.at[0].d[2], &step[0], &step[1]) ||
      !ResolveInTangentPlane(D2, b.at[1].d[1], b.at[1].d[2], &step[2], &step[3]))
    return -2;
  return 0;
}

// Whether the surface is closed in the direction: its seam is no edge.
bool Wraps(const Bspline* s, int dir) { return (dir ? s->closedV : s->closedU) && Hi(s, dir) > Lo(s, dir); }

// x taken into [lo, hi] by whole periods hi - lo.
double IntoPeriod(double x, double lo, double hi) {
  const double period = hi - lo;
  return std::clamp(x - period * std::floor((x - lo) / period), lo, hi);
}

// Clamps the parameters into their boxes; true when any moved. A parameter of a closed
// direction goes on across the seam instead, by whole periods, its bracket with it.
bool ClampToBoxes(Ball& b) {
  bool clamped = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = b.S[k / 2];
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if (b.wraps[k] && (b.p[k] < lo || b.p[k] > hi)) {
      const double was = b.p[k];
      b.p[k] = IntoPeriod(was, lo, hi);
      b.lo[k] += b.p[k] - was;
      b.hi[k] += b.p[k] - was;
    } else if (b.p[k] < lo) {
      b.p[k] = lo;
      clamped = true;
    } else if (b.p[k] > hi) {
      b.p[k] = hi;
      clamped = true;
    }
  }
  return clamped;
}

double CentreGap(const Ball& b) {
  double g[3];
  for (int q = 0; q < 3; ++q)
    g[q] = b.at[0].d[0][q] + b.r * b.at[0].n[q] - b.at[1].d[0][q] - b.r * b.at[1].n[q];
  return VecSize3(g);
}

// A partial this much shorter than the other is as good as none: the point lies on or next to a
// side of the box that the surface collapses to a point (a pole), where every value of that
// parameter is (nearly) one point and a step across the pole is resolved ill or not at all.
constexpr double kPoleShare = 1e-4;
// The share of its range by which a guess on a pole is moved off it: a tangent plane there to
// resolve the first step in, a move far below any tolerance of the refinement.
constexpr double kPoleHair = 1e-6;
// Values of the free parameter tried round a pole for the way to the contact.
constexpr int kPoleSamples = 64;

// The unit direction (its length; 0 where it has none) in which the surface leaves the pole
// (p[off] at an end of its range) along the free parameter's value x.
double PoleWay(Bspline* s, int off, double x, double at, double way[3]) {
  if (off) Eval3DPointOnSurfCoord(s, x, at, 0, 1, way);
  else Eval3DPointOnSurfCoord(s, at, x, 1, 0, way);
  const double l = VecSize3(way);
  if (l > 0.0 && std::isfinite(l))
    for (int c = 0; c < 3; ++c) way[c] /= l;
  return l > 0.0 && std::isfinite(l) ? l : 0.0;
}

// Whether the side p[off] = edge of the surface collapses to a point (a pole): the side's ends
// and middle are one point, within a hair of the size (a long thin patch has a short partial
// too, but its side has a length).
bool SideCollapses(Bspline* S, int off, double edge, double size) {
  const int free = 1 - off;
  const double flo = Lo(S, free), period = Hi(S, free) - flo;
  double E[3], F[3];
  for (int q = 0; q < 3; ++q) {
    const double x = flo + 0.5 * period * q;
    if (free) Eval3DPointOnSurfCoord(S, edge, x, 0, 0, F);
    else Eval3DPointOnSurfCoord(S, x, edge, 0, 0, F);
    if (q == 0) E[0] = F[0], E[1] = F[1], E[2] = F[2];
    if (VecDist3(E, F) > kPoleHair * size) return false;
  }
  return true;
}

// The value of the free parameter whose meridian leaves the pole p[off] = edge most nearly in
// the direction w (unit), its way taken at p[off] = at (on the pole or next to it): the best of
// the samples, then a ternary search between its neighbours (the score, the cosine of the way
// against w, is smooth and single-peaked round its best). In the surface's range.
double MeridianToward(Bspline* S, int off, double edge, double at, const double w[3]) {
  const int free = 1 - off;
  const double flo = Lo(S, free), fhi = Hi(S, free), period = fhi - flo;
  const double into = edge == Lo(S, off) ? 1.0 : -1.0;
  const bool closed = free ? S->closedV : S->closedU;
  auto score = [&](double x) {
    if (closed) x -= period * std::floor((x - flo) / period);
    double way[3];
    return PoleWay(S, off, std::clamp(x, flo, fhi), at, way) > 0.0 ? into * VecDotProd3(way, w) : -2.0;
  };
  int best = 0;
  double top = -3.0;
  for (int q = 0; q < kPoleSamples; ++q) {
    const double v = score(flo + period * q / kPoleSamples);
    if (v > top) top = v, best = q;
  }
  double x0 = flo + period * (best - 1) / kPoleSamples, x1 = flo + period * (best + 1) / kPoleSamples;
  if (!closed) x0 = std::fmax(x0, flo), x1 = std::fmin(x1, fhi);
  for (int it = 0; it < 60; ++it) {
    const double m0 = x0 + (x1 - x0) / 3, m1 = x1 - (x1 - x0) / 3;
    if (score(m0) < score(m1)) x0 = m0;
    else x1 = m1;
  }
  double x = 0.5 * (x0 + x1);
  if (closed) x -= period * std::floor((x - flo) / period);
  return std::clamp(x, flo, fhi);
}

// A guess on a pole of a surface has no tangent plane there to resolve the refiner's steps in:
// its free parameter is turned (the point stays, or nearly) to the meridian that leaves the pole
// toward the ball's contact, across the intersection (t x n1 on S1, n2 x t on S2), and a guess
// on the pole itself is moved a hair along it. The normal is taken a hair off the pole, where
// the partials are sound (far from the origin the vanishing one is round-off of the
// coordinates, in any direction). True when a guess moved.
bool LeavePoles(Ball& b) {
  bool moved = false;
  for (int s = 0; s < 2; ++s) {
    const SurfPoint& a = b.at[s];
    const double lu = VecSize3(a.d[1]), lv = VecSize3(a.d[2]);
    const int free = lu < kPoleShare * lv ? 0 : lv < kPoleShare * lu ? 1 : -1;
    if (free < 0) continue;
    const int off = 1 - free, k = 2 * s + free;
    Bspline* S = b.S[s];
    const double lo = Lo(S, off), hi = Hi(S, off), period = Hi(S, free) - Lo(S, free);
    double& at = b.p[2 * s + off];
    if (!(hi > lo) || !(period > 0.0)) continue;
    const double into = at - lo < hi - at ? 1.0 : -1.0, edge = into > 0.0 ? lo : hi;
    // A pole only where the side collapses and the guess lies next to it.
    if (!(std::fabs(at - edge) <= kPoleShare * (hi - lo)) || !SideCollapses(S, off, edge, b.size)) continue;
    const double hair = std::fabs(at - edge) < kPoleHair * (hi - lo) ? edge + into * kPoleHair * (hi - lo) : at;
    SurfPoint near;
    if (!(free ? Evaluate(S, hair, b.p[k], near, false) : Evaluate(S, b.p[k], hair, near, false))) continue;
    double t[3], w[3];
    VecCrossProd3(s == 0 ? near.n : b.at[0].n, s == 1 ? near.n : b.at[1].n, t);
    if (s == 0) VecCrossProd3(t, near.n, w);
    else VecCrossProd3(near.n, t, w);
    const double lw = VecSize3(w);
    if (!(lw > 1e-6)) continue;  // parallel normals: no way across
    for (int c = 0; c < 3; ++c) w[c] /= lw;
    const double x = MeridianToward(S, off, edge, at, w);
    if (b.wraps[k]) b.lo[k] = x - period, b.hi[k] = x + period;
    b.p[k] = b.guess[k] = x;
    at = hair;
    moved = true;
  }
  return moved;
}

// A pole the surface passes through smoothly: the meridian straight on from the one arriving
// leaves the pole within this cosine of the arrival's way continued (a sphere's pole, or any with
// a tangent plane there); a cone's apex folds its meridians back (a cosine near 0).
constexpr double kSmoothPole = 0.999;

// A step that carries an iterate past a pole goes on through it, as a path on the surface does:
// onto the meridian that leaves the pole straight on from the one it arrived along, as far
// past the pole as the step overshot (within the range). Clamped onto the pole instead, the
// iterate would sit where no tangent plane resolves the next step, and a contact just beside
// the pole, which a full step overshoots, would be lost. The parameters p of the surfaces S
// (closed directions wraps, pair size size); held (may be null) marks parameters that may not
// move; guess (may be null) takes the new meridian too. With smoothOnly the iterate crosses only
// smooth poles (kSmoothPole). Without it (the tangent-line refiner's steps, which rely on it) the
// meridian taken is the one leaving the pole against the partial along the arriving one: across
// the pole at the low end of the range, but back down the arriving meridian at the high end
// (a cone's apex there sends the steps back down the side they came up). True when an iterate
// crossed.
bool CrossPolesOf(Bspline* const S[2], const bool wraps[4], double size, const bool* held, bool smoothOnly,
                  double p[4], double* guess) {
  bool crossed = false;
  for (int k = 0; k < 4; ++k) {
    Bspline* s = S[k / 2];
    const int off = k & 1, free = 1 - off, kf = (k & ~1) | free;
    const double lo = Lo(s, off), hi = Hi(s, off);
    if (wraps[k] || (held && held[kf]) || !(hi > lo) || (p[k] >= lo && p[k] <= hi)) continue;
    const double edge = p[k] < lo ? lo : hi;
    if (!SideCollapses(s, off, edge, size)) continue;
    const double flo = Lo(s, free), fhi = Hi(s, free), period = fhi - flo;
    double x = p[kf];
    if (wraps[kf]) x -= period * std::floor((x - flo) / period);
    // The partial along a meridian points into the range: the way the iterate travels onto the
    // pole runs against it at the low end, with it at the high one.
    const double into = edge == lo ? 1.0 : -1.0;
    double way[3], on[3];
    if (!(PoleWay(s, off, std::clamp(x, flo, fhi), edge, way) > 0.0)) continue;
    for (int c = 0; c < 3; ++c) way[c] *= smoothOnly ? -into : -1.0;
    const double y = MeridianToward(s, off, edge, edge, way);
    if (smoothOnly && !(PoleWay(s, off, y, edge, on) > 0.0 && into * VecDotProd3(on, way) >= kSmoothPole)) continue;
    p[kf] = y;
    if (guess) guess[kf] = y;
    p[k] = std::clamp(2.0 * edge - p[k], lo, hi);
    crossed = true;
  }
  return crossed;
}

bool CrossPoles(Ball& b) { return CrossPolesOf(b.S, b.wraps, b.size, nullptr, false, b.p, b.guess); }

// Brackets as wide as the boxes; in a closed direction the contact lies within a period of the
// iterate, on either side of the seam.
void OpenBrackets(Ball& b) {
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = b.S[k / 2];
    b.lo[k] = Lo(s, k & 1);
    b.hi[k] = Hi(s, k & 1);
    if (!b.wraps[k]) continue;
    const double period = b.hi[k] - b.lo[k];
    b.lo[k] = b.p[k] - period;
    b.hi[k] = b.p[k] + period;
  }
}

// Whether the guess of a refinement is already a contact pair within tol with its two contacts
// apart (farther than tol), not a point of both surfaces.
bool GuessIsAPair(const Ball& b, double tol) {
  return VecDist3(b.at[0].d[0], b.at[1].d[0]) > tol && CentreGap(b) < tol;
}

// The refinement's state at the guess p; false where a surface cannot be evaluated there. *pair
// is set, nothing moved, where the guess is a contact pair within tol already (GuessIsAPair): one
// within a hair of a pole stays there, not moved a hair off it onto a meridian.
bool StartBall(Ball& b, Bspline* S1, Bspline* S2, double r, const double p[4], double tol, bool* pair) {
  b.S[0] = S1;
  b.S[1] = S2;
  b.r = r;
  b.size = PairSize(S1, S2);
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = b.S[k / 2];
    b.p[k] = b.guess[k] = p[k];
    b.wraps[k] = Wraps(s, k & 1);
  }
  OpenBrackets(b);
  if (!EvaluateBoth(b)) return false;
  *pair = GuessIsAPair(b, tol);
  if (*pair) return true;
  VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
  for (int q = 0; q < 3; ++q) b.X[q] = b.at[0].d[0][q];  // the guess lies on both surfaces
  if (LeavePoles(b)) {
    if (!EvaluateBoth(b)) return false;
    VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
  }
  return true;
}

// A parameter across the seam from the guess by no more than this share of its period is the
// seam itself, taken on the guess's side: a contact on the seam keeps the end of the range its
// trace runs from.
constexpr double kSeamRound = 1e-12;

void WriteBack(const Ball& b, double* u1, double* v1, double* u2, double* v2) {
  double q[4];
  for (int k = 0; k < 4; ++k) {
    q[k] = b.p[k];
    if (!b.wraps[k]) continue;
    const Bspline* s = b.S[k / 2];
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1), period = hi - lo;
    const double across = q[k] + (q[k] - b.guess[k] > 0.5 * period ? -period : q[k] - b.guess[k] < -0.5 * period ? period : 0.0);
    if (across >= lo - kSeamRound * period && across <= hi + kSeamRound * period) q[k] = std::clamp(across, lo, hi);
  }
  *u1 = q[0];
  *v1 = q[1];
  *u2 = q[2];
  *v2 = q[3];
}

int Sign(double x) { return x >= 0.0 ? 1 : -1; }

// Relaxed steps a refinement takes on from where its bracketed steps ran out of iterations,
// and the least share of its step such a step takes (an overshoot of up to twenty times).
constexpr int kRelaxedSteps = 60;
constexpr double kRelaxLeast = 0.05;
// A corner this share of the ball's radius behind one of its contacts still lies under the ball:
// where the surfaces meet tangentially the corner is the contact itself, to round-off.
constexpr double kSpanRound = 1e-6;

// The result of RefineSelected for a converged pair whose ball does not fit.
constexpr int kBallTooBig = 1;
// The fillet trace's reading of a converged pair that is the ball of another place along the
// branch, not of the node it was refined from.
constexpr int kAwayFromNode = 2;
// The fillet trace's reading of a converged pair that no ball joins to the pair before it.
constexpr int kAcrossAGap = 3;
// A ball this little larger than a surface's radius of curvature, as a share, still fits: the
// round-off of curvatures from second derivatives.
constexpr double kFitRound = 1e-6;

// Whether the ball of radius r touching S1 and S2 at the pair q stays on its side of both
// surfaces near the contacts: no surface bends toward the ball's centre (along its normal) more
// sharply than the ball, r k1 <= 1 for the larger principal curvature k1 signed toward the
// normal. The derivatives are taken at unit size (the pair's), so that the fundamental forms'
// floors hold at every scale.
bool BallFits(Bspline* S1, Bspline* S2, double r, const double q[4]) {
  const double size = PairSize(S1, S2);
  Bspline* S[2] = {S1, S2};
  for (int s = 0; s < 2; ++s) {
    SurfPoint a;
    if (!Evaluate(S[s], q[2 * s], q[2 * s + 1], a, true)) return false;
    double d[5][3];
    for (int k = 0; k < 5; ++k)
      for (int c = 0; c < 3; ++c) d[k][c] = a.d[k + 1][c] / size;
    double k1, k2;
    PrincipalCurvatureRoots(d, a.n, &k1, &k2);
    if (r / size * k1 > 1.0 + kFitRound) return false;
  }
  return true;
}

// NewestRefineToFilletPoint; heldAtEdge (may be null) is set when an iterate was clamped to a
// surface's box on the way.
int RefineNewest(Bspline* S1, Bspline* S2, double r, double* u1, double* v1, double* u2, double* v2,
                 double nu1, double nv1, double nu2, double nv2, double tol, bool* heldAtEdge);

// The selected refiner's result (100 converged), kBallTooBig for a converged pair whose ball
// does not fit (BallFits): no ball of that radius rolls there. heldAtEdge (may be null) is set
// when the bracketed refiner held an iterate on the edge of a surface's box on its way.
int RefineSelected(Bspline* S1, Bspline* S2, double r, double p[4], const double nb[4], double tol,
                   bool* heldAtEdge = nullptr) {
  const int rc = test1 == 1
                     ? NewRefineToFilletPoint(S1, S2, r, &p[0], &p[1], &p[2], &p[3], nb[0], nb[1], nb[2], nb[3], tol)
                     : RefineNewest(S1, S2, r, &p[0], &p[1], &p[2], &p[3], nb[0], nb[1], nb[2], nb[3], tol, heldAtEdge);
  return rc == 100 && !BallFits(S1, S2, r, p) ? kBallTooBig : rc;
}

}  // namespace

int GetRadiusOfCurvatureOfSurfaces(Bspline* S1, Bspline* S2, double u1, double v1, double u2,
                                   double v2, double* rho1, double* rho2) {
  SurfPoint a[2];
  *rho1 = *rho2 = kFlatRadius;
  if (!Evaluate(S1, u1, v1, a[0], true) || !Evaluate(S2, u2, v2, a[1], true)) return 0;
  double t[3], dir[2][3];
  VecCrossProd3(a[0].n, a[1].n, t);
  VecCrossProd3(t, a[0].n, dir[0]);
  VecCrossProd3(a[1].n, t, dir[1]);
  Bspline* S[2] = {S1, S2};
  double* rho[2] = {rho1, rho2};
  for (int s = 0; s < 2; ++s) {
    const double l = VecSize3(dir[s]);
    if (!(l > 0.0)) continue;
    for (int q = 0; q < 3; ++q) dir[s][q] /= l;
    double du, dv;
    if (!ResolveInTangentPlane(dir[s], a[s].d[1], a[s].d[2], &du, &dv)) continue;
    const double* Su = a[s].d[1];
    const double* Sv = a[s].d[2];
    const double I = VecDotProd3(Su, Su) * du * du + 2.0 * VecDotProd3(Su, Sv) * du * dv + VecDotProd3(Sv, Sv) * dv * dv;
    const double II = VecDotProd3(a[s].n, a[s].d[4]) * du * du + 2.0 * VecDotProd3(a[s].n, a[s].d[3]) * du * dv +
                      VecDotProd3(a[s].n, a[s].d[5]) * dv * dv;
    // Flat: a curvature radius beyond a million times the surface's size.
    const double size = GetGeometricDiagonalSizeOfObj(S[s]);
    if (!(std::fabs(II) * size > 1e-6)) continue;
    *rho[s] = I / II;
  }
  return 0;
}

namespace {
bool SolveContact(Bspline* S1, Bspline* S2, double r, double q[4], const bool held[4], const double* X,
                  int iterations = 50);

// Whether the ball of radius r at the contact pair q rounds the corner X of its cross-section:
// X lies in the wedge from the centre C through its contacts, X - C = -r (a n1 + b n2) with
// a, b >= 0 (a share of the contacts' round-off below). A ball of the place X has the corner
// under it; another ball whose cross-section runs through X too lies beyond a surface's
// tangent plane there and sees X behind one of its contacts.
bool BallSpansCorner(Bspline* S1, Bspline* S2, double r, const double q[4], const double X[3]) {
  SurfPoint a, c;
  if (!Evaluate(S1, q[0], q[1], a, false) || !Evaluate(S2, q[2], q[3], c, false)) return false;
  double d[3];
  for (int k = 0; k < 3; ++k) d[k] = (a.d[0][k] + r * a.n[k] - X[k]) / r;
  const double cs = VecDotProd3(a.n, c.n), d1 = VecDotProd3(d, a.n), d2 = VecDotProd3(d, c.n);
  const double det = 1.0 - cs * cs;
  if (!(det > 0.0)) return false;
  return (d1 - cs * d2) / det >= -kSpanRound && (d2 - cs * d1) / det >= -kSpanRound;
}

// The first ball grown from a point of both surfaces, as a share of the radius wanted: small
// against the surfaces' curvature there, so that Newton from the point itself reaches it.
constexpr double kGrowFirst = 1.0 / 1024;
// The growth of the radius per step at most, and the least, below which the ball of the place
// has no larger neighbour (the pairs' branch folds back: that ball ends there).
constexpr double kGrowMost = 2.0, kGrowLeast = 1.01;
// Growth steps tried at most: ten doublings reach r, and each growth not followed takes at most
// seven roots to fall below kGrowLeast; a few times their sum bounds the work on any input.
constexpr int kGrowTries = 200;
// Newton iterations a growth step takes at most: from the last radius's pair, extrapolated, it
// converges in a few; one that has not by then is taken as not followed.
constexpr int kGrowIterations = 10;

// The ball of radius r of the place X, a point of both surfaces at the parameters q, grown from
// a small one there: each radius's pair, its cross-section held through X (SolveContact),
// extrapolated along the last growth, starts the next, larger one; a growth Newton does not
// follow is taken in its square root, one that it follows is squared again (at most kGrowMost),
// for at most kGrowTries steps. The pairs stay on the branch of balls of X where the tangent-line
// steps run off it. True with q moved onto the pair; false with q as it was.
bool GrowBall(Bspline* S1, Bspline* S2, double r, const double X[3], double q[4]) {
  const bool held[4] = {false, false, false, false};
  Bspline* const S[2] = {S1, S2};
  const bool wraps[4] = {Wraps(S1, 0), Wraps(S1, 1), Wraps(S2, 0), Wraps(S2, 1)};
  const double size = PairSize(S1, S2);
  double p[4] = {q[0], q[1], q[2], q[3]}, before[4] = {q[0], q[1], q[2], q[3]};
  double rk = kGrowFirst * r, rb = 0.0, ratio = kGrowMost;
  if (!(r > 0.0) || !SolveContact(S1, S2, rk, p, held, X)) return false;
  for (int tries = 0; rk < r; ++tries) {
    if (tries == kGrowTries) return false;
    const double next = std::fmin(r, rk * ratio);
    double t[4], over[4];
    for (int k = 0; k < 4; ++k) over[k] = p[k] + (rb > 0.0 ? (p[k] - before[k]) * (next - rk) / (rk - rb) : 0.0);
    for (int k = 0; k < 4; ++k) t[k] = std::clamp(over[k], Lo(S[k / 2], k & 1), Hi(S[k / 2], k & 1));
    // A guess extrapolated past a smooth pole and clamped onto it has no tangent plane there for
    // Newton to step in: where that fails, the guess carried on over the pole is tried.
    bool solved = SolveContact(S1, S2, next, t, held, X, kGrowIterations);
    if (!solved && CrossPolesOf(S, wraps, size, nullptr, true, over, nullptr)) {
      for (int k = 0; k < 4; ++k) t[k] = std::clamp(over[k], Lo(S[k / 2], k & 1), Hi(S[k / 2], k & 1));
      solved = SolveContact(S1, S2, next, t, held, X, kGrowIterations);
    }
    if (solved) {
      for (int k = 0; k < 4; ++k) before[k] = p[k], p[k] = t[k];
      rb = rk;
      rk = next;
      ratio = std::fmin(kGrowMost, ratio * ratio);
    } else if ((ratio = std::sqrt(ratio)) < kGrowLeast) {
      return false;
    }
  }
  for (int k = 0; k < 4; ++k) q[k] = p[k];
  return true;
}

int RefineNewest(Bspline* S1, Bspline* S2, double r, double* u1, double* v1, double* u2, double* v2,
                 double nu1, double nv1, double nu2, double nv2, double tol, bool* heldAtEdge) {
  if (!u1 || !v1 || !u2 || !v2 || !SurfacesSound({S1, S2}, {r, *u1, *v1, *u2, *v2, nu1, nv1, nu2, nv2, tol}) ||
      !BallAndToleranceSound(S1, S2, r, tol))
    return -2;
  // Step schedule: ten steps of a tenth where both surfaces curve less than the ball, shorter
  // ones (down to a fiftieth) where a surface curves more, then full steps.
  int N = 10;
  double f = 0.1;
  double rho1, rho2;
  GetRadiusOfCurvatureOfSurfaces(S1, S2, *u1, *v1, *u2, *v2, &rho1, &rho2);
  const double rho = 0.5 * std::fmin(std::fabs(rho1), std::fabs(rho2));
  if (rho < r && r > 0.0 && std::isfinite(r)) {
    f = std::fmin(std::fmax(rho / r, 0.02), 0.1);
    N = static_cast<int>(1.0 / f);
    if (N * f - 1.0 < -0.001) ++N;
  }
  int L = N + 60;
  const double start[4] = {*u1, *v1, *u2, *v2}, nb[4] = {nu1, nv1, nu2, nv2};
  Ball b;
  bool pair = false;
  if (!StartBall(b, S1, S2, r, start, tol, &pair)) return -2;
  // A guess that is a contact pair already, its contacts apart (a fillet trace's own pair),
  // stays: the first step takes the guess for a point of both surfaces and would move it along
  // the fillet. A guess on both surfaces goes on as before, where parallel normals set the way.
  if (pair) return 100;
  int sign0[4] = {1, 1, 1, 1};
  bool clamped = false, restart = true;
  // Clamps a stepped iterate into the boxes, gives it back and evaluates both surfaces there:
  // its centre gap, or -1 where a surface cannot be evaluated.
  auto Settle = [&]() {
    clamped = ClampToBoxes(b);
    if (clamped && heldAtEdge) *heldAtEdge = true;
    WriteBack(b, u1, v1, u2, v2);
    return EvaluateBoth(b) ? CentreGap(b) : -1.0;
  };
  // The bracketed steps, then the relaxed ones: 100 converged, -2 held on an edge of a box or
  // lost to degenerate geometry on the way, 0 out of iterations.
  auto Steps = [&]() {
    for (int k = 0; k < L; ++k) {
      clamped = false;
      double step[4];
      if (ContactSteps(b, k, nb, 1.0, step) != 0) return -2;
      double val[4];
      for (int q = 0; q < 4; ++q) val[q] = b.p[q] + f * step[q];
      if (restart) {
        restart = false;
        for (int q = 0; q < 4; ++q) {
          sign0[q] = Sign(step[q]);
          if (val[q] > b.p[q]) b.lo[q] = b.p[q];
          if (val[q] < b.p[q]) b.hi[q] = b.p[q];
        }
      } else {
        // A parameter whose step turned is kept inside its bracket and slowed to a quarter.
        for (int q = 0; q < 4; ++q) {
          if (Sign(step[q]) == sign0[q]) continue;
          const double old = b.p[q];
          if (val[q] < b.lo[q]) {
            b.lo[q] = 0.5 * (b.lo[q] + val[q]);
            val[q] = old + 0.25 * (b.lo[q] - old);
          } else if (val[q] > b.hi[q]) {
            b.hi[q] = 0.5 * (b.hi[q] + val[q]);
            val[q] = old + 0.25 * (b.hi[q] - old);
          } else {
            val[q] = old + 0.25 * f * step[q];
          }
        }
        for (int q = 0; q < 4; ++q) {
          if (b.p[q] < val[q]) b.lo[q] = 0.5 * (b.p[q] + b.lo[q]);
          if (b.p[q] > val[q]) b.hi[q] = 0.5 * (b.p[q] + b.hi[q]);
        }
      }
      for (int q = 0; q < 4; ++q) b.p[q] = val[q];
      // Across a pole the free parameter jumps: the steps' signs and brackets begin anew there.
      if (CrossPoles(b)) {
        OpenBrackets(b);
        restart = true;
      }
      const double gap = Settle();
      if (gap < 0.0) return -2;
      if (gap < tol) return 100;
      if (k == N - 1) f = 1.0;
      if (k == L - 1 && L < 2 * (N + 60) && gap < 1000.0 * tol) L = 2 * (N + 60);
      VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
    }
    // Out of iterations, not held on an edge: a parameter whose step turned once (one full step
    // past a contact beside a pole) and then runs on the other way crawls at three quarters per
    // iteration on its quarter steps, short of the contact the next full step would reach. The
    // iteration goes on with relaxed steps: the share of the step taken is the one that would
    // have cancelled the last change of step (Aitken's: the secant along the last step), whole
    // at first, never more; an iteration that overshoots by a factor of g takes 1 / (1 + g).
    // Pairs the bracketed steps reach are left as they were.
    double prior[4] = {}, omega = 1.0;
    bool relaxed = false;
    for (int k = 0; k < kRelaxedSteps && !clamped; ++k) {
      double step[4];
      if (ContactSteps(b, 1, nb, 1.0, step) != 0) return -2;
      if (relaxed) {
        double num = 0.0, den = 0.0;
        for (int q = 0; q < 4; ++q) {
          num += prior[q] * (step[q] - prior[q]);
          den += (step[q] - prior[q]) * (step[q] - prior[q]);
        }
        if (den > 0.0 && std::isfinite(num / den)) omega = std::clamp(-omega * num / den, kRelaxLeast, 1.0);
      }
      for (int q = 0; q < 4; ++q) {
        prior[q] = step[q];
        b.p[q] += omega * step[q];
      }
      // Across a pole the free parameter jumps: the share begins anew, whole.
      relaxed = !CrossPoles(b);
      if (!relaxed) omega = 1.0;
      const double gap = Settle();
      if (gap < 0.0) return -2;
      if (gap < tol) return 100;
      VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
    }
    return clamped ? -2 : 0;
  };
  const int stepped = Steps();
  if (stepped == 100) return 100;
  // Still out of iterations: where a surface curves far more sharply than the ball across the
  // fillet (a cone's contact beside its apex, a torus's inner wall against a large ball) the
  // steps from the tangent lines spiral in at a few percent an iteration, or circle round the
  // contact. Newton on the contact equations finishes from the last iterate, the ball held to
  // the cross-section through the guess's point (the ball of the place the guess stands for)
  // and taken only where it rounds that point's corner (BallSpansCorner): the cross-section
  // holds other balls too, on the far side of a surface. Where that fails too, or the steps were
  // held on an edge of a box or met degenerate geometry on the way (beside a cone's apex they
  // swing round the axis onto its rim or a sphere's pole), the ball of that place is grown from
  // the guess (GrowBall). A guess whose surfaces meet degenerately grows no ball either.
  const bool edge = stepped != 0;
  double q[4] = {b.p[0], b.p[1], b.p[2], b.p[3]}, X[3];
  const bool held[4] = {false, false, false, false};
  Eval3DPointOnSurfCoord(S1, start[0], start[1], 0, 0, X);
  if (edge || !SolveContact(S1, S2, r, q, held, X) || !BallSpansCorner(S1, S2, r, q, X)) {
    for (int k = 0; k < 4; ++k) q[k] = start[k];
    if (!GrowBall(S1, S2, r, X, q) || !BallSpansCorner(S1, S2, r, q, X)) return edge ? -2 : 0;
  }
  for (int k = 0; k < 4; ++k) b.p[k] = q[k];
  const double gap = Settle();
  return gap >= 0.0 && gap < tol && !clamped ? 100 : edge ? -2 : 0;
}
}  // namespace

int NewestRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1,
                              double* u2, double* v2, double nu1, double nv1, double nu2,
                              double nv2, double tol) {
  return RefineNewest(S1, S2, r, u1, v1, u2, v2, nu1, nv1, nu2, nv2, tol, nullptr);
}

int NewRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1, double* u2,
                           double* v2, double nu1, double nv1, double nu2, double nv2, double tol) {
  if (!u1 || !v1 || !u2 || !v2 || !SurfacesSound({S1, S2}, {r, *u1, *v1, *u2, *v2, nu1, nv1, nu2, nv2, tol}) ||
      !BallAndToleranceSound(S1, S2, r, tol))
    return -2;
  const double start[4] = {*u1, *v1, *u2, *v2}, nb[4] = {nu1, nv1, nu2, nv2};
  Ball b;
  bool pair = false;
  if (!StartBall(b, S1, S2, r, start, tol, &pair)) return -2;
  if (pair) return 100;  // as above
  int sign0[4] = {1, 1, 1, 1};
  bool clamped = false;
  for (int k = 0; k < 100; ++k) {
    // The tangent length grows from a tenth of the ball's to all of it over nine iterations.
    const double ramp = std::fmin(0.1 * (k + 1), 1.0);
    double step[4];
    if (ContactSteps(b, k, nb, ramp, step) != 0) return -2;
    for (int q = 0; q < 4; ++q) {
      if (k == 0) sign0[q] = Sign(step[q]);
      b.p[q] += Sign(step[q]) == sign0[q] ? step[q] : 0.5 * step[q];
    }
    clamped = ClampToBoxes(b);
    WriteBack(b, u1, v1, u2, v2);
    if (!EvaluateBoth(b)) return -2;
    if (CentreGap(b) < tol) return 100;
    VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
  }
  return clamped ? -2 : 0;
}

int RefineToExactPoint(Bspline* S1, Bspline* S2, double* u1, double* v1, double a, double b,
                       double tol, int swap) {
  double P1[3], P2[3];
  if (swap == -1)
    Eval3DPointOnSurfCoord(S2, b, a, 0, 0, P2);
  else
    Eval3DPointOnSurfCoord(S2, a, b, 0, 0, P2);
  Eval3DPointOnSurfCoord(S1, *u1, *v1, 0, 0, P1);
  if (VecDist3(P1, P2) > tol) {
    double S[3], dist, stepSq;
    FindClosestUVPointGuessDist(S1, P2, S, u1, v1, &dist, &stepSq, 50);
  }
  return 0;
}

void CopyCoord(double x, double y, double z, double* out) {
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

namespace {

// A contact pair's centre gap this small, relative to the pair's size, is round-off.
constexpr double kContactRound = 1e-12;
// Units in the last place of the coordinates a centre gap carries from the points and normals
// it is made of.
constexpr double kCoordinateUlps = 64.0;
// Whole Newton steps taken past the round-off bound while they still shrink the residual: far
// from the origin the bound (kCoordinateUlps of the coordinates) can exceed the tolerance a
// caller holds the pair to, a gap just inside the bound would be refused there, and the next
// step takes it down to the few units in the last place the coordinates carry.
constexpr int kPolishSteps = 3;

// The share of its period by which the contact solver's iterate may run past a closed
// direction's seam: a contact on the seam, which round-off puts a hair to either side of it, is
// reached from the side the guess lies on, while a contact farther across the seam belongs to
// another stretch of the fillet than the guess's.
constexpr double kSeamPass = 1e-6;

// The residual of a contact pair of radius r at the parameters q: the gap C1 - C2 between the
// ball centres Ck = Pk + r nk, and with a station X (may be null) the distance of X from the
// ball's cross-section, the plane through C1 across the fillet's spine n1 x n2. The count of
// components (3 or 4); 0 where a surface cannot be evaluated or, with a station, the normals
// lie within a millionth of parallel (the spine has no direction).
int ContactResidual(Bspline* S1, Bspline* S2, double r, const double q[4], const double* X, double g[4]) {
  SurfPoint a, b;
  if (!Evaluate(S1, q[0], q[1], a, false) || !Evaluate(S2, q[2], q[3], b, false)) return 0;
  for (int c = 0; c < 3; ++c) g[c] = a.d[0][c] + r * a.n[c] - b.d[0][c] - r * b.n[c];
  if (!X) return 3;
  double t[3];
  VecCrossProd3(a.n, b.n, t);
  const double lt = VecSize3(t);
  if (!(lt > 1e-6)) return 0;
  g[3] = 0.0;
  for (int c = 0; c < 3; ++c) g[3] += (X[c] - a.d[0][c] - r * a.n[c]) * t[c] / lt;
  return 4;
}

double ResidualSize(const double g[4], int n) {
  double s = 0.0;
  for (int c = 0; c < n; ++c) s += g[c] * g[c];
  return std::sqrt(s);
}

// The contact pair of radius r next to the guess q with the held parameters fixed and, with a
// station X (may be null), its ball's cross-section through X: Gauss-Newton on the others
// against the residual's components (ContactResidual), the Jacobian by central differences
// (steps 1e-7 of each range), each step halved until the residual shrinks and clamped to the
// boxes (a step past a smooth pole goes over it instead, CrossPolesOf), at most `iterations`
// steps; then, past that bound on the round-off, up to kPolishSteps whole steps while each still
// shrinks the residual. True with q moved once the residual is round-off of the pair's size;
// false with q as it was.
bool SolveContact(Bspline* S1, Bspline* S2, double r, double q[4], const bool held[4], const double* X,
                  int iterations) {
  int var[4], m = 0;
  for (int k = 0; k < 4; ++k)
    if (!held[k]) var[m++] = k;
  if (m < 2) return false;
  Bspline* const S[2] = {S1, S2};
  const double size = PairSize(S1, S2);
  double lo[4], hi[4], p[4], g[4];
  bool wraps[4];
  for (int k = 0; k < 4; ++k) {
    lo[k] = Lo(S[k / 2], k & 1);
    hi[k] = Hi(S[k / 2], k & 1);
    wraps[k] = Wraps(S[k / 2], k & 1);
    p[k] = q[k];
  }
  // A closed direction is not held at its seam: the iterate runs on past it by up to kSeamPass
  // (evaluated a period back), so that a contact on the seam is reached from either side.
  auto Residual = [&](const double x[4], double gx[4]) {
    double w[4];
    for (int k = 0; k < 4; ++k) w[k] = wraps[k] ? IntoPeriod(x[k], lo[k], hi[k]) : x[k];
    return ContactResidual(S1, S2, r, w, X, gx);
  };
  const int n = Residual(p, g);
  if (n == 0) return false;
  // Far from the origin the centres carry the round-off of their coordinates, which can exceed
  // the share of the size: the gap cannot shrink below a few units in their last place.
  double C[3];
  Eval3DPointOnSurfCoord(S1, p[0], p[1], 0, 0, C);
  const double far = std::fmax(std::fabs(C[0]), std::fmax(std::fabs(C[1]), std::fabs(C[2]))) + r;
  const double round = kContactRound * size + kCoordinateUlps * DBL_EPSILON * far;
  double gap = ResidualSize(g, n);
  for (int it = 0, polish = 0; gap > round ? it < iterations : polish < kPolishSteps; ++it) {
    const bool polishing = gap <= round;
    polish += polishing;
    // A step that cannot be taken ends the iteration: the pair stands if it is round-off already.
    double J[4][4] = {};
    bool sound = true;
    for (int j = 0; j < m && sound; ++j) {
      const int k = var[j];
      const double h = 1e-7 * (hi[k] - lo[k]);
      double a[4] = {p[0], p[1], p[2], p[3]}, b[4] = {p[0], p[1], p[2], p[3]}, ga[4], gb[4];
      const double pass = wraps[k] ? kSeamPass * (hi[k] - lo[k]) : 0.0;
      a[k] = std::fmin(hi[k] + pass, p[k] + h);
      b[k] = std::fmax(lo[k] - pass, p[k] - h);
      sound = a[k] > b[k] && Residual(a, ga) == n && Residual(b, gb) == n;
      for (int c = 0; c < n && sound; ++c) J[c][j] = (ga[c] - gb[c]) / (a[k] - b[k]);
    }
    if (!sound) break;
    // Normal equations J^T J d = -J^T g.
    double N[4][4] = {}, rhs[4] = {}, d[4] = {};
    for (int i = 0; i < m; ++i) {
      for (int j = 0; j < m; ++j)
        for (int c = 0; c < n; ++c) N[i][j] += J[c][i] * J[c][j];
      for (int c = 0; c < n; ++c) rhs[i] -= J[c][i] * g[c];
    }
    int indx[4];
    double parity;
    if (ludcmp4(&N[0][0], m, indx, &parity) != 0) break;
    lubksb4(&N[0][0], m, indx, rhs);
    for (int j = 0; j < m; ++j) d[j] = rhs[j];
    bool better = false;
    for (int half = 0; half < (polishing ? 1 : 30) && !better; ++half) {
      double t[4] = {p[0], p[1], p[2], p[3]}, gt[4];
      for (int j = 0; j < m; ++j) t[var[j]] = p[var[j]] + d[j];
      // A step past a smooth pole goes on over it, onto the meridian across: clamped there, the
      // iterate would stop on the pole, short of a contact just past it.
      CrossPolesOf(S, wraps, size, held, true, t, nullptr);
      for (int j = 0; j < m; ++j) {
        const int k = var[j];
        const double pass = wraps[k] ? kSeamPass * (hi[k] - lo[k]) : 0.0;
        t[k] = std::clamp(t[k], lo[k] - pass, hi[k] + pass);
      }
      for (int j = 0; j < m; ++j) d[j] *= 0.5;
      if (Residual(t, gt) != n || !(ResidualSize(gt, n) < gap)) continue;
      for (int k = 0; k < 4; ++k) p[k] = t[k];
      for (int c = 0; c < n; ++c) g[c] = gt[c];
      gap = ResidualSize(g, n);
      better = true;
    }
    if (!better) break;
  }
  if (!(gap <= round)) return false;
  // A pair past the seam by round-off stays at the guess's end of the range, the end its trace
  // runs from; one that lies past it by more is taken a period back.
  double w[4] = {p[0], p[1], p[2], p[3]};
  for (int k = 0; k < 4; ++k) w[k] = std::clamp(p[k], lo[k], hi[k]);
  const bool keepSide = Residual(w, g) == n && ResidualSize(g, n) <= round;
  for (int k = 0; k < 4; ++k) q[k] = keepSide ? w[k] : wraps[k] ? IntoPeriod(p[k], lo[k], hi[k]) : p[k];
  return true;
}

}  // namespace

// ---- Radii and fillet traces -----------------------------------------------------------------

namespace {
// The radius law at arc length s of a stretch of length L from ra to rb.
double Law(int mode, double ra, double rb, double s, double L) {
  if (!(L > 0.0)) return ra;
  const double x = s / L;
  return mode == 2 ? ra + (rb - ra) * (3.0 * x * x - 2.0 * x * x * x) : ra + x * (rb - ra);
}
}  // namespace

void SetRadiusArray(Bspline* S1, IntersectionTrace* trace, double r0, double r1, double r2,
                    int mode, int split, int k1, int k2) {
  if (mode == 0) {
    for (IntersectionTraceNode* n = trace->head; n; n = n->next) n->filletParam = r0;
    return;
  }
  // Chords between the nodes' points on S1, and the lengths of the three stretches.
  double A = 0.0, B = 0.0, C = 0.0;
  int i = 0;
  for (IntersectionTraceNode* n = trace->head; n; n = n->next, ++i) {
    double P[3];
    Eval3DPointOnSurfCoord(S1, n->u1, n->v1, 0, 0, P);
    n->x = P[0];
    n->y = P[1];
    n->z = P[2];
    const double c = n->prev ? std::sqrt((n->x - n->prev->x) * (n->x - n->prev->x) +
                                         (n->y - n->prev->y) * (n->y - n->prev->y) +
                                         (n->z - n->prev->z) * (n->z - n->prev->z))
                             : 0.0;
    n->filletParam = c;  // the chord, until the radius replaces it below
    (i < k1 ? A : i < k2 ? B : C) += c;
  }
  const double L = A + B + C;
  double s = 0.0, reached = r0;
  i = 0;
  for (IntersectionTraceNode* n = trace->head; n; n = n->next, ++i) {
    const double c = n->filletParam;
    if (!split) {
      s += c;
      n->filletParam = Law(mode, r0, r1, s, L);
    } else if (i < k1) {
      s += c;
      n->filletParam = reached = Law(mode, r0, r1, s, A);
    } else if (i < k2) {
      if (i == k1) s = 0.0;
      s += c;
      n->filletParam = Law(mode, reached, r2, s, B);
    } else {
      n->filletParam = r2;
    }
  }
}

namespace {
// Tells where a fillet trace found no ball and why: node at (from 0) of n in the input's
// order, refined the refiner's result there or the trace's reading of its pair (kAwayFromNode,
// kAcrossAGap).
void ReportNoBall(int at, int n, int refined) {
  const char* why = refined == kBallTooBig    ? "the ball is larger than a surface's curvature allows there"
                    : refined == kAwayFromNode ? "the only ball nearby touches both surfaces away from the node, "
                                                 "along the intersection"
                    : refined == kAcrossAGap   ? "no ball joins its contact pair to the one before: the fillet "
                                                 "breaks off between them"
                    : refined == 0             ? "the contact pair of the ball does not converge there"
                                               : "the ball touches both surfaces only beyond their edges there, or "
                                                 "the surfaces meet degenerately";
  InfoMessageFormat(MSGstr("No fillet ball at node %d of %d of the intersection: %s"), at + 1, n, MSGstr(why));
}

// Contact points of pairs refined to a centre gap of tol from nodes that (nearly) coincide may
// lie this many tol apart.
constexpr double kStepNoise = 10.0;
// A contact point that moves more than this many times the branch's step between two nodes may
// have leapt a gap in the fillet (balls on the far side of a tight turn of the branch move up
// to a few times as far): the ball halfway tells.
constexpr double kGapStretch = 2.0;
// The share of such a move by which the ball halfway may lie from either end: farther, it lies
// on one side of a gap, not between the pairs.
constexpr double kGapShare = 0.75;
// The share of the chord between two balls' centres by which the centre of a ball between them,
// its cross-section through the chord's midpoint, may lie from that midpoint: an arc of the
// spine up to a half circle between them passes within its sagitta, at most half the chord.
constexpr double kArcShare = 0.5;

// A refined pair whose ball's cross-section passes farther from its node than this share of the
// branch's shorter step beside the node may lie out of order with its neighbours' pairs.
constexpr double kPinShare = 1.0;

// The distance from X of the centre of the ball of radius r at the pair q; HUGE_VAL where S1
// cannot be evaluated there.
double CentreFrom(Bspline* S1, double r, const double q[4], const double X[3]) {
  SurfPoint a;
  if (!Evaluate(S1, q[0], q[1], a, false)) return HUGE_VAL;
  double C[3];
  for (int c = 0; c < 3; ++c) C[c] = a.d[0][c] + r * a.n[c];
  return VecDist3(C, X);
}

// Whether the node at the parameters q is a point of both surfaces (within tol).
bool OnBoth(Bspline* S1, Bspline* S2, const double* q, double tol) {
  double P[3], Q[3];
  Eval3DPointOnSurfCoord(S1, q[0], q[1], 0, 0, P);
  Eval3DPointOnSurfCoord(S2, q[2], q[3], 0, 0, Q);
  return VecDist3(P, Q) <= tol;
}

// Stations the ball is continued through from one pair to the next (ContinuesTo), and the most
// its centre may move from one station to the next, in stations' spacings: along an unbroken
// fillet it moves about one (its spine runs beside the chord of the pairs' centres), and one
// that jumps has left for another stretch.
constexpr int kContinueStations = 8;
constexpr double kContinueStretch = 2.0;

// Whether the ball of radius r continued from the pair qa toward the pair qb meets no break of
// the fillet: through kContinueStations stations evenly along the chord of their centres, each
// station's ball (SolveContact, its cross-section through the station, from the ball before) is
// found and its centre moves from the one before by at most kContinueStretch spacings. Pairs on
// either side of a closed direction's seam, which the solver keeps to its side of, tell nothing
// (true), and so does a pair a surface cannot be evaluated at.
bool ContinuesTo(Bspline* S1, Bspline* S2, double r, const double qa[4], const double qb[4]) {
  double C[2][3];
  for (int j = 0; j < 2; ++j) {
    SurfPoint e;
    if (!Evaluate(S1, (j ? qb : qa)[0], (j ? qb : qa)[1], e, false)) return true;
    for (int c = 0; c < 3; ++c) C[j][c] = e.d[0][c] + r * e.n[c];
  }
  for (int q = 0; q < 4; ++q) {
    const Bspline* s = q < 2 ? S1 : S2;
    if (Wraps(s, q & 1) && std::fabs(qa[q] - qb[q]) > 0.5 * (Hi(s, q & 1) - Lo(s, q & 1))) return true;
  }
  const double spacing = VecDist3(C[0], C[1]) / kContinueStations;
  const bool held[4] = {false, false, false, false};
  double g[4] = {qa[0], qa[1], qa[2], qa[3]}, last[3] = {C[0][0], C[0][1], C[0][2]};
  for (int j = 1; j <= kContinueStations; ++j) {
    double M[3], Cj[3];
    for (int c = 0; c < 3; ++c) M[c] = C[0][c] + (C[1][c] - C[0][c]) * j / kContinueStations;
    SurfPoint e;
    if (!SolveContact(S1, S2, r, g, held, M)) return false;
    if (!Evaluate(S1, g[0], g[1], e, false)) return true;
    for (int c = 0; c < 3; ++c) Cj[c] = e.d[0][c] + r * e.n[c];
    if (VecDist3(Cj, last) > kContinueStretch * spacing) return false;
    for (int c = 0; c < 3; ++c) last[c] = Cj[c];
  }
  return true;
}

// Whether a side of s collapses to a point (a pole or a cone's apex).
bool HasCollapsedSide(const Bspline* s) {
  for (int dir = 0; dir < 2; ++dir)
    for (int end = 0; end < 2; ++end)
      if (SurfaceSideCollapsed(s, dir, end)) return true;
  return false;
}

// Whether the contact points A and B of the pairs of two neighbouring nodes (parameters and
// radius a and b, in running order), whose points on S1 lie step apart, belong to stretches of
// the fillet with a gap between them: the contact point that moved farther, moved more than
// kGapStretch times step, and the ball refined from the intersection halfway between the
// nodes has no pair or lies by more than kGapShare of that move from either end, and so does
// the ball whose cross-section runs through the halfway point where that one lies nearer, and
// the one whose cross-section runs through the midpoint of the centres of the pairs qa and qb;
// or it moved more than step but no more than kGapStretch times it, and the ball continued from
// qa toward qb breaks off on the way (ContinuesTo, asked only where collapsed says a surface has a
// collapsed side). Nodes across a seam, a move within the refinement's noise, or a halfway point
// not found on the intersection, tell nothing.
bool LeapsAGap(Bspline* S1, Bspline* S2, bool collapsed, const double* a, const double* b, const double* qa,
               const double* qb, const double A[2][3], const double B[2][3], double step, double tol) {
  const int k = VecDist3(A[1], B[1]) > VecDist3(A[0], B[0]) ? 1 : 0;
  const double reach = VecDist3(A[k], B[k]);
  if (!(reach > kStepNoise * tol)) return false;
  // A move of one to kGapStretch steps (the contact swings across the vertex of a hyperbola
  // beside a cone's apex, from one mirror image of its ball to the other) tells only where the
  // balls between the pairs part: the ball continued from one toward the other. Mirror images
  // parting within two steps need a collapsed side; elsewhere the continuation's eight contact
  // solves a node would only slow every fillet (about six times over).
  if (!(reach > kGapStretch * step))
    return reach > step && collapsed && !ContinuesTo(S1, S2, 0.5 * (a[4] + b[4]), qa, qb);
  double m[4];
  for (int q = 0; q < 4; ++q) {
    const Bspline* s = q < 2 ? S1 : S2;
    if ((q & 1 ? s->closedV : s->closedU) && std::fabs(a[q] - b[q]) > 0.5 * (Hi(s, q & 1) - Lo(s, q & 1)))
      return false;
    m[q] = 0.5 * (a[q] + b[q]);
  }
  double M[3], Pm[3];
  int clamped = 0;
  // The halfway point moved onto the intersection; where that search gives up (it reads gaps
  // against fixed floors, which tiny sizes miss), the mean of the nodes is near enough for a
  // start. Nodes that are contact pairs already (a trace's own pairs fed back) lie on no
  // intersection: the mean of two of them is the start, near the ball between them.
  double on[4] = {m[0], m[1], m[2], m[3]};
  if (OnBoth(S1, S2, a, tol) && OnBoth(S1, S2, b, tol) &&
      NewRefineSrfSrfIntrPoint(S1, S2, &on[0], &on[1], &on[2], &on[3], M, 50, &clamped, tol) == 0)
    for (int q = 0; q < 4; ++q) m[q] = on[q];
  const double r = 0.5 * (a[4] + b[4]);
  double X[3], g[4];
  Eval3DPointOnSurfCoord(S1, m[0], m[1], 0, 0, X);
  auto Aside = [&](const double* at) {
    if (k == 0) Eval3DPointOnSurfCoord(S1, at[0], at[1], 0, 0, Pm);
    else Eval3DPointOnSurfCoord(S2, at[2], at[3], 0, 0, Pm);
    return VecDist3(Pm, A[k]) > kGapShare * reach || VecDist3(Pm, B[k]) > kGapShare * reach;
  };
  const bool held[4] = {false, false, false, false};
  // Where the fillet's spine bends more tightly than the nodes lie from it (beside a cone's
  // apex, where the contact swings round the axis, or a torus's inner equator), the balls
  // refined from points between the nodes, and those whose cross-sections run through them, can
  // lie out of order with the pairs, and from the mean of two pairs fed back the tangent-line
  // steps run off the rim. The midpoint of the two balls' centres lies beside the spine, within
  // the chord's sagitta: on an unbroken fillet the ball whose cross-section runs through it, from
  // the mean of the pairs, lies between them, its centre within kArcShare of the chord of the
  // midpoint (its contacts, on a contact curve that bends, need not lie within kGapShare of the
  // move of either end). Other pairs across a seam tell nothing here.
  auto BetweenCentres = [&]() {
    double mid[4], C[2][3], M[3];
    for (int q = 0; q < 4; ++q) {
      const Bspline* s = q < 2 ? S1 : S2;
      const double lo = Lo(s, q & 1), hi = Hi(s, q & 1), seam = kSeamPass * (hi - lo);
      mid[q] = 0.5 * (qa[q] + qb[q]);
      if (!Wraps(s, q & 1) || !(std::fabs(qa[q] - qb[q]) > 0.5 * (hi - lo))) continue;
      // One of them on the seam, to the solver's round-off: the mean the short way round.
      const bool onSeam = std::fmin(std::fmin(qa[q] - lo, hi - qa[q]), std::fmin(qb[q] - lo, hi - qb[q])) <= seam;
      if (!onSeam) return false;
      mid[q] = IntoPeriod(mid[q] + 0.5 * (hi - lo), lo, hi);
    }
    for (int j = 0; j < 2; ++j) {
      SurfPoint e;
      if (!Evaluate(S1, (j ? qb : qa)[0], (j ? qb : qa)[1], e, false)) return false;
      for (int c = 0; c < 3; ++c) C[j][c] = e.d[0][c] + r * e.n[c];
    }
    for (int c = 0; c < 3; ++c) M[c] = 0.5 * (C[0][c] + C[1][c]);
    return SolveContact(S1, S2, r, mid, held, M) && CentreFrom(S1, r, mid, M) <= kArcShare * VecDist3(C[0], C[1]);
  };
  if (RefineSelected(S1, S2, r, m, b, tol) != 100) return !BetweenCentres();
  if (!Aside(m)) return false;
  // Beside a pole the refiner's ball lies aside from the halfway point's own by more than the
  // nodes' step, as it does from a node (OwnBall), in no order: then the ball halfway is the
  // one whose cross-section runs through the halfway point (the nodes, its neighbours, lie half
  // the step from it), where that lies nearer.
  double own[4] = {m[0], m[1], m[2], m[3]};
  return !(ContactResidual(S1, S2, r, m, X, g) == 4 && std::fabs(g[3]) > kPinShare * 0.5 * step &&
           SolveContact(S1, S2, r, own, held, X) && CentreFrom(S1, r, own, X) < CentreFrom(S1, r, m, X) &&
           !Aside(own)) &&
         !BetweenCentres();
}

// A contact point that moves less than this share of the branch's step between the nodes stands
// still: where its contact curve shrinks to a point (a ball of a surface's own radius of
// curvature across the branch) it wanders by the refinement's round-off, in no direction.
constexpr double kStillShare = 1e-4;
// A node nearer the one before than this share of the branch's step on to the next stands beside
// it (a tracer's node met again, a closed trace's own closing pair given back): the step between
// them is no way along the branch, and their pairs differ by the refinement's wander alone.
constexpr double kBesideShare = 1e-3;

// A ball whose cross-section passes farther from its node than this share of the branch's larger
// step beside the node is the ball of another place: halfway to a neighbour it is as much that
// neighbour's, and the ball of the node itself lies nearer.
constexpr double kStationShare = 0.25;

// A refined pair whose ball's centre lies farther from its node than the centre of the node's
// own ball does, by more than this share of the branch's longer step beside the node, is not
// aside from that ball by a fraction of the step: it is the ball of another place whose
// cross-section passes near the node where the fillet's spine bends back on itself.
constexpr double kFartherShare = 1.0;

// A refined pair whose ball's cross-section passes farther from its node than this share of the
// branch's longer step beside it lies beyond both neighbours: where the node's own ball is no
// nearer, that pair is the ball of another place, which taken here would run out of order.
constexpr double kElsewhereShare = 1.0;

// The point X on S1 of node i (of n, parameters in p in running order) and the branch's shorter
// and longer steps beside it (HUGE_VAL and 0 for a single node).
void StepsBeside(Bspline* S1, const double* p, int n, int i, double X[3], double* shorter, double* longer) {
  double Y[3];
  Eval3DPointOnSurfCoord(S1, p[5 * i], p[5 * i + 1], 0, 0, X);
  *shorter = HUGE_VAL;
  *longer = 0.0;
  for (const int j : {i - 1, i + 1}) {
    if (j < 0 || j >= n) continue;
    Eval3DPointOnSurfCoord(S1, p[5 * j], p[5 * j + 1], 0, 0, Y);
    *shorter = std::fmin(*shorter, VecDist3(X, Y));
    *longer = std::fmax(*longer, VecDist3(X, Y));
  }
}

// Whether the ball of the pair q (radius r) is the node X's already: its cross-section passes X
// within kStationShare of the branch's step into it. Where the branch steps short by the
// refinement's leeway (kPinShare of the shorter step) the pair of the node before can be taken
// at the next node's ball; the ball continued from it, its cross-section through X, is then that
// node's own next along the spine, though the spine may run through X's cross-section again
// nearer (beside a cone's apex) and growth from the node find that one.
bool CoversNode(Bspline* S1, Bspline* S2, double r, const double q[4], const double X[3], double step) {
  double g[4];
  return ContactResidual(S1, S2, r, q, X, g) == 4 && std::fabs(g[3]) <= kStationShare * step;
}

// Whether the converged pair q (radius r) of node i (of n, parameters and radius in p in running
// order) lies away from the node along the fillet: its cross-section, the plane through the
// ball's centre across the fillet's spine (n1 x n2 at the contacts), passes farther from the
// node's point than kStationShare of the branch's larger step beside it. A refinement held on a
// surface's edge on its way goes on along that edge to wherever a ball fits, so the pair of a
// node whose own ball lies beyond the edge is on the ball, in order, but not the node's.
bool AwayFromStation(Bspline* S1, Bspline* S2, const double* p, int n, int i, const double q[4], double r) {
  double X[3], shorter, step, g[4];
  StepsBeside(S1, p, n, i, X, &shorter, &step);
  return step > 0.0 && ContactResidual(S1, S2, r, q, X, g) == 4 && std::fabs(g[3]) > kStationShare * step;
}

// The fillet trace's reading of the converged pair q (radius r, tolerance tol) of node i (of n,
// parameters in p in running order), once its ball's cross-section (the plane through its centre
// across the spine n1 x n2) passes the node farther than kStationShare of the branch's longer step beside
// it or kPinShare of its shorter one: 100 when the node has a ball of its own (the one whose
// cross-section runs through the node: its centre's distance from the node is least along the
// fillet there), q moved onto it in the second case, or where q's centre lies farther from the
// node than that ball's by more than kFartherShare of the longer step (q is then no neighbour of
// it on the fillet: beside a cone's apex the cross-sections of balls far along the fillet pass
// near a node); kBallTooBig when that ball does not fit. A pair passing the node nearer than
// that is the node's where it rounds the node's corner (BallSpansCorner); one that does not is
// replaced by the node's own ball where that one rounds it and fits, and else gives no pair;
// else the refiner slid along the fillet to the ball of another place, kAcrossAGap once the
// trace has begun (begun: the fillet breaks off before this node) and kAwayFromNode before.
// The refiner converges on some ball near the node, aside from its own by a fraction of the
// step, but beside a pole by more than the step of nodes crowded there (their pairs would lie
// out of order, taken for a fillet turning back) and from a node in a break of the fillet on the
// ball at its end. A solution whose centre lies no nearer the node is another (the spine bends
// more tightly than the centre lies from the node): the refiner's pair stays, unless its
// cross-section passes the node farther than kElsewhereShare of the longer step (it is then the
// ball of another place, and the node has none it can give: kAcrossAGap or kAwayFromNode).
int OwnBall(Bspline* S1, Bspline* S2, double r, const double* p, int n, int i, double q[4], bool begun, double tol) {
  double X[3], g[4], shorter, longer;
  StepsBeside(S1, p, n, i, X, &shorter, &longer);
  if (!(longer > 0.0) || ContactResidual(S1, S2, r, q, X, g) != 4) return 100;
  const double off = std::fabs(g[3]);
  const bool aside = off > kStationShare * longer || off > kPinShare * shorter;
  // A pair whose cross-section passes the node within that is the node's ball where it rounds
  // the node's corner. Beside a cone's apex the cross-section of a ball far along the fillet can
  // run through the node (both on a plane the surfaces are symmetric about) while that ball lies
  // beyond a surface's tangent plane at the node: the node's own ball is sought then, and
  // without one that rounds the corner the node has none. The corner test tells nothing where
  // the node is no point of both surfaces (a contact pair fed back, a node off the
  // intersection: its points kStationShare of the shorter step apart) or the ball is no larger
  // than the refinement's noise.
  double P[3], Q[3];
  Eval3DPointOnSurfCoord(S1, p[5 * i], p[5 * i + 1], 0, 0, P);
  Eval3DPointOnSurfCoord(S2, p[5 * i + 2], p[5 * i + 3], 0, 0, Q);
  const bool corner = VecDist3(P, Q) <= kStationShare * shorter && r > kStepNoise * tol;
  if (!aside && (!corner || BallSpansCorner(S1, S2, r, q, X))) return 100;
  const bool held[4] = {false, false, false, false};
  double own[4] = {q[0], q[1], q[2], q[3]};
  // Where the fillet's spine bends more tightly than the node lies from it (beside a cone's
  // apex) several balls' cross-sections run through the node, and Newton from a pair far along
  // the fillet misses the node's ball or finds another far off: the ball grown from the node
  // itself is taken where it lies nearer.
  bool found = SolveContact(S1, S2, r, own, held, X);
  double grown[4] = {p[5 * i], p[5 * i + 1], p[5 * i + 2], p[5 * i + 3]};
  if (GrowBall(S1, S2, r, X, grown) && (!found || CentreFrom(S1, r, grown, X) < CentreFrom(S1, r, own, X))) {
    for (int k = 0; k < 4; ++k) own[k] = grown[k];
    found = true;
  }
  if (!aside) {
    if (!found || !BallSpansCorner(S1, S2, r, own, X) || !BallFits(S1, S2, r, own))
      return begun ? kAcrossAGap : kAwayFromNode;
    for (int k = 0; k < 4; ++k) q[k] = own[k];
    return 100;
  }
  if (!found) return begun ? kAcrossAGap : kAwayFromNode;
  if (!BallFits(S1, S2, r, own)) return kBallTooBig;
  const double nearer = CentreFrom(S1, r, q, X) - CentreFrom(S1, r, own, X);
  if (nearer > 0.0 && (off > kPinShare * shorter || nearer > kFartherShare * longer))
    for (int k = 0; k < 4; ++k) q[k] = own[k];
  else if (!(nearer > 0.0) && off > kElsewhereShare * longer)
    return begun ? kAcrossAGap : kAwayFromNode;
  return 100;
}

// Whether the node at Xi (its parameters at node), the branch's next after the node at X whose
// pair is last (radius rl), is covered by that pair already and the pair q (radius r) of Xi moves
// on from it: the last ball's cross-section passes Xi nearer than the step between the nodes, and
// the centre of q lies beyond that cross-section on the side the branch runs to. Where the spine
// bends through a point (a hyperbola's vertex beside a cone's apex) the pair before the vertex
// node can be the ball beyond the vertex, its cross-section still within a step of both nodes;
// the contact on the cone, swinging round the apex, then moves on from it against its move into
// it, and reads as turning back, though the centres, and with them the cross-sections the fillet
// is swept by, run on in order and the fillet does not fold.
bool CoveredAndMovedOn(Bspline* S1, Bspline* S2, double rl, const double last[4], double r, const double q[4],
                       const double X[3], const double Xi[3], const double* node) {
  double gi[4], gx[4], gc[4], Q[3];
  // Where the node is no point of both surfaces (a trace's own pairs fed back) no corner lies at
  // it for the cross-sections to pass.
  Eval3DPointOnSurfCoord(S2, node[2], node[3], 0, 0, Q);
  if (!(VecDist3(Xi, Q) <= kStationShare * VecDist3(X, Xi))) return false;
  SurfPoint e;
  if (ContactResidual(S1, S2, rl, last, Xi, gi) != 4 || ContactResidual(S1, S2, rl, last, X, gx) != 4 ||
      !Evaluate(S1, q[0], q[1], e, false))
    return false;
  double Ci[3];
  for (int c = 0; c < 3; ++c) Ci[c] = e.d[0][c] + r * e.n[c];
  if (ContactResidual(S1, S2, rl, last, Ci, gc) != 4) return false;
  return std::fabs(gi[3]) < VecDist3(X, Xi) && gc[3] * (gi[3] - gx[3]) > 0.0;
}
}  // namespace

int NewFilletTrace(Bspline* S1, Bspline* S2, IntersectionTrace* in, IntersectionTrace* out,
                   double tol) {
  const int n = in->nodeCount;
  TrackingScope scope;
  double* p = MallocArray<double>(5, n > 0 ? n : 1);
  // The node (in running order) of each pair taken, and room to seat them anew (BeginAgain).
  int* taken = MallocArray<int>(n > 0 ? n : 1);
  double* seat = MallocArray<double>(4, n > 0 ? n : 1);
  if (!p || !taken || !seat) return -2;
  // The nodes in running order along the branch: a trace marched both ways from its seed holds
  // the backward nodes after its turn node, running away from the seed, and refined in list
  // order they would turn back at the seed, where every later contact pair is refused.
  const int m0 = in->turn && in->directionStart > 0 && in->directionStart < n ? in->directionStart : 0;
  // A place in running order as a place in in (from 0), for the messages.
  auto InputPlace = [&](int k) { return m0 == 0 ? k : k >= n - m0 ? k - (n - m0) : n - 1 - k; };
  int i = 0;
  for (IntersectionTraceNode* m = in->head; m && i < n; m = m->next, ++i) {
    const int at = m0 == 0 ? i : i < m0 ? n - m0 + i : n - 1 - i;
    p[5 * at] = m->u1;
    p[5 * at + 1] = m->v1;
    p[5 * at + 2] = m->u2;
    p[5 * at + 3] = m->v2;
    p[5 * at + 4] = m->filletParam;
  }
  // Nodes counted but not listed would be refined from unwritten memory.
  if (i < n) {
    SetKernelError(-2);
    return -2;
  }
  const bool collapsed = HasCollapsedSide(S1) || HasCollapsedSide(S2);
  // Per surface: the contact point of the last pair that moved on from the one before, and
  // that move. A move within the refinement's noise (two nodes a round-off apart) has no
  // direction: taken as one, it would make every later pair seem to turn back.
  double prev[2][3] = {}, dprev[2][3] = {};
  // The node of the last pair taken (its point on S1) and the branch's step into it: until
  // the contact points have moved, the branch gives the way the fillet runs.
  double X[3] = {}, dX[3] = {};
  int first = -1, last = -1;  // the nodes of the first and the last pair taken
  const double noise = kStepNoise * tol;
  bool missing = false;  // a node gave no pair
  for (i = 0; i < n; ++i) {
    double q[4] = {p[5 * i], p[5 * i + 1], p[5 * i + 2], p[5 * i + 3]};
    const int j = i + 1 < n ? i + 1 : (i > 0 ? i - 1 : i);
    const double nb[4] = {p[5 * j], p[5 * j + 1], p[5 * j + 2], p[5 * j + 3]};
    bool edged = false;
    int refined = RefineSelected(S1, S2, p[5 * i + 4], q, nb, tol, &edged);
    if (refined == 100) refined = OwnBall(S1, S2, p[5 * i + 4], p, n, i, q, out->nodeCount > 0, tol);
    if (refined == 100 && edged && AwayFromStation(S1, S2, p, n, i, q, p[5 * i + 4])) {
      // The refiner went along an edge to the ball of another place; the node's own ball, grown
      // from the node, is taken where there is one that rounds its corner and fits.
      double c[4] = {p[5 * i], p[5 * i + 1], p[5 * i + 2], p[5 * i + 3]}, At[3];
      Eval3DPointOnSurfCoord(S1, c[0], c[1], 0, 0, At);
      refined = kAwayFromNode;
      if (GrowBall(S1, S2, p[5 * i + 4], At, c) && BallSpansCorner(S1, S2, p[5 * i + 4], c, At) &&
          BallFits(S1, S2, p[5 * i + 4], c)) {
        for (int k = 0; k < 4; ++k) q[k] = c[k];
        refined = 100;
      }
    }
    // A refiner that met degenerate geometry on its way gave up as one at its limit does, with no
    // ball to compare with: at a hyperbola's vertex beside a cone's apex the ball parts into two
    // mirror images and the steps slide off onto the cone's rim. One that refused its arguments
    // (the error state set), or a radius that rolls no ball, leaves nothing to continue.
    const bool gaveUp = refined == 0 || (refined == -2 && p[5 * i + 4] > 0.0 && !KernelFailed());
    const bool elsewhere = refined == kAcrossAGap || refined == kAwayFromNode || gaveUp;
    if (elsewhere && (out->nodeCount > 0 || i + 1 < n)) {
      // Beside a cone's apex the node's ball can reach over the apex to the cone's far side, on
      // the plane the surfaces are symmetric about, while the balls of smaller radii there would
      // touch the apex itself: grown from the node it becomes the ball of the stretch's other end,
      // whose cross-section runs through the node too. The node's ball continued from the last
      // pair (before the first, from the next node's), its cross-section through the node, is
      // taken where it rounds the node's corner, fits and lies nearer than the refiner's (a
      // refiner that did not converge left no ball to compare with); the turn and gap tests below
      // still judge it.
      const bool held[4] = {false, false, false, false};
      const double ri = p[5 * i + 4];
      double c[4], At[3];
      bool from = out->nodeCount > 0;
      if (from) {
        c[0] = out->tail->u1, c[1] = out->tail->v1, c[2] = out->tail->u2, c[3] = out->tail->v2;
      } else {
        const int k = i + 2 < n ? i + 2 : i;
        const double after[4] = {p[5 * k], p[5 * k + 1], p[5 * k + 2], p[5 * k + 3]};
        for (int e = 0; e < 4; ++e) c[e] = p[5 * (i + 1) + e];
        // The next node's refiner can slide to the ball of the stretch's other end too: carried
        // back from there the ball stays at that end. The next node's own ball is carried, as the
        // loop would take it there.
        from = RefineSelected(S1, S2, p[5 * (i + 1) + 4], c, after, tol) == 100 &&
               OwnBall(S1, S2, p[5 * (i + 1) + 4], p, n, i + 1, c, false, tol) == 100;
      }
      Eval3DPointOnSurfCoord(S1, p[5 * i], p[5 * i + 1], 0, 0, At);
      if (from && SolveContact(S1, S2, ri, c, held, At) && BallSpansCorner(S1, S2, ri, c, At) &&
          BallFits(S1, S2, ri, c) && (gaveUp || CentreFrom(S1, ri, c, At) < CentreFrom(S1, ri, q, At))) {
        for (int k = 0; k < 4; ++k) q[k] = c[k];
        refined = 100;
      }
    }
    double P[2][3], d[2][3] = {}, Xi[3], dXi[3] = {}, onward = 0.0;
    bool moved[2] = {false, false};
    if (refined == 100) {
      Eval3DPointOnSurfCoord(S1, q[0], q[1], 0, 0, P[0]);
      Eval3DPointOnSurfCoord(S2, q[2], q[3], 0, 0, P[1]);
      Eval3DPointOnSurfCoord(S1, p[5 * i], p[5 * i + 1], 0, 0, Xi);
      VecDiff3(Xi, X, dXi);
      // The branch's step on to the next node: a node nearer the one before than kBesideShare
      // of it stands beside that one, its step no way along the branch.
      if (i + 1 < n) {
        double Y[3];
        Eval3DPointOnSurfCoord(S1, p[5 * (i + 1)], p[5 * (i + 1) + 1], 0, 0, Y);
        onward = VecDist3(Xi, Y);
      }
    }
    // Contacts that move no farther than such a node stand where the pair before left them.
    const bool beside = out->nodeCount > 0 && !(VecSize3(dXi) > kBesideShare * onward);
    if (refined == 100 && out->nodeCount > 0) {
      // The contact points P of the pair c, their moves d from the last pair taken and whether
      // they turn back.
      auto Follow = [&](const double* c) {
        Eval3DPointOnSurfCoord(S1, c[0], c[1], 0, 0, P[0]);
        Eval3DPointOnSurfCoord(S2, c[2], c[3], 0, 0, P[1]);
        bool back = false;
        for (int k = 0; k < 2; ++k) {
          VecDiff3(P[k], prev[k], d[k]);
          moved[k] = VecSize3(d[k]) > std::fmax(std::fmax(noise, kStillShare * VecSize3(dXi)),
                                                beside ? kBesideShare * onward : 0.0);
          back = back || (moved[k] && VecDotProd3(d[k], SmallVector(dprev[k], noise) ? dXi : dprev[k]) < 0.0);
        }
        return back;
      };
      bool turns = Follow(q);
      // Contact points that turn back would fold the fillet over itself. A node that itself
      // steps back along the branch is passed over. One that goes on has no ball of its own:
      // the refiner slid along the fillet to the ball of another place, as it does from a node
      // whose ball would lie beyond an edge or not fit between the surfaces; the trace stops
      // there, as it does where no ball joins the pair to the one before. Against the first
      // pair (the way there is the branch's), the pair farther from its node is the one that
      // slid: when that is the first, the fillet begins here instead.
      if (turns && VecDotProd3(dXi, dX) < 0.0) continue;
      const double tail[4] = {out->tail->u1, out->tail->v1, out->tail->u2, out->tail->v2};
      auto Apart = [&](const double* c, bool back) {
        if (back) return kAwayFromNode;
        return LeapsAGap(S1, S2, collapsed, p + 5 * last, p + 5 * i, tail, c, prev, P, VecSize3(dXi), tol)
                   ? kAcrossAGap
                   : 100;
      };
      int apart = Apart(q, turns);
      // Whether the pair c is the ball grown from node j (its point Y): their centres a
      // refinement's noise apart. Where no ball grows from the node (at a hyperbola's vertex
      // beside a cone's apex the node's ball parts into two mirror images as it grows, and the
      // growth follows neither), c stands where it lies no farther from the node than the pair
      // alt (may be null: then it does not), another ball the node was refined to.
      auto GrownAt = [&](int j, const double* Y, const double* c, const double* alt) {
        double g[4] = {p[5 * j], p[5 * j + 1], p[5 * j + 2], p[5 * j + 3]}, C[3];
        SurfPoint e;
        const double r = p[5 * j + 4];
        if (!GrowBall(S1, S2, r, Y, g)) return alt && CentreFrom(S1, r, c, Y) <= CentreFrom(S1, r, alt, Y) + noise;
        if (!Evaluate(S1, g[0], g[1], e, false)) return false;
        for (int k = 0; k < 3; ++k) C[k] = e.d[0][k] + r * e.n[k];
        return CentreFrom(S1, r, c, C) <= noise;
      };
      // The first pair slid to the ball of another place whose cross-section passes its node
      // (beside a cone's apex, on a plane the surfaces are symmetric about): the first node's
      // ball continued back from the pair c, its cross-section through that node, replaces it
      // where it rounds the node's corner, fits, lies nearer the node, and c follows on from it.
      auto FirstAgain = [&](const double* c) {
        const bool held[4] = {false, false, false, false};
        const double rf = out->head->filletParam;
        double f[4] = {c[0], c[1], c[2], c[3]}, was[2][3];
        if (!SolveContact(S1, S2, rf, f, held, X) || !BallSpansCorner(S1, S2, rf, f, X) || !BallFits(S1, S2, rf, f) ||
            !(CentreFrom(S1, rf, f, X) < CentreFrom(S1, rf, tail, X)) || !GrownAt(first, X, f, nullptr))
          return false;
        for (int k = 0; k < 2; ++k)
          for (int e = 0; e < 3; ++e) was[k][e] = prev[k][e];
        Eval3DPointOnSurfCoord(S1, f[0], f[1], 0, 0, prev[0]);
        Eval3DPointOnSurfCoord(S2, f[2], f[3], 0, 0, prev[1]);
        const bool back = Follow(c);
        if (back || LeapsAGap(S1, S2, collapsed, p + 5 * last, p + 5 * i, f, c, prev, P, VecSize3(dXi), tol)) {
          for (int k = 0; k < 2; ++k)
            for (int e = 0; e < 3; ++e) prev[k][e] = was[k][e];
          Follow(c);
          return false;
        }
        IntersectionTraceNode* h = out->head;
        h->u1 = f[0], h->v1 = f[1], h->u2 = f[2], h->v2 = f[3];
        h->x = prev[0][0], h->y = prev[0][1], h->z = prev[0][2];
        return true;
      };
      // Where the fillet's spine bends sharply (a hyperbola's vertex beside a cone's apex, whose
      // ball sits on the axis) balls far apart along it have cross-sections that pass the node
      // within a step, and the refiner may take one of those for the node's. The node's ball
      // continued from the last pair, its cross-section through the node, is taken instead
      // where it rounds the node's corner, fits and follows on from that pair. Where the
      // refiner's pair reads as a gap (the mirror image across the vertex lies ahead, on the
      // far side of it) that ball must also be the node's own, the one grown from the node: in a
      // real break the ball continued from the last pair is that pair's neighbour slid back to
      // the end of its stretch, and the node's own, if any, another.
      if (turns || apart == kAcrossAGap) {
        const bool held[4] = {false, false, false, false};
        double c[4] = {tail[0], tail[1], tail[2], tail[3]};
        if (SolveContact(S1, S2, p[5 * i + 4], c, held, Xi) && BallSpansCorner(S1, S2, p[5 * i + 4], c, Xi) &&
            BallFits(S1, S2, p[5 * i + 4], c) &&
            (turns || GrownAt(i, Xi, c, q) ||
             (CoversNode(S1, S2, out->tail->filletParam, tail, Xi, VecSize3(dXi)) &&
              CentreFrom(S1, p[5 * i + 4], c, Xi) - CentreFrom(S1, p[5 * i + 4], q, Xi) <=
                  kFartherShare * VecSize3(dXi)))) {
          const bool back = Follow(c);
          if (!back && Apart(c, back) == 100) {
            for (int k = 0; k < 4; ++k) q[k] = c[k];
            apart = 100;
          } else {
            Follow(q);
          }
        }
      }
      // At a point the spine bends through (a hyperbola's vertex beside a cone's apex) the node
      // has two balls as near, mirror images whose cross-sections both run through it, and the
      // refiner takes either; the nodes beside it may follow that side while the branch goes to
      // the other, and the trace breaks off where the branch's own side begins. The pairs taken
      // are seated anew, continued back from the pair c (each one's cross-section through its
      // node): where every one rounds its node's corner, fits, lies no farther from its node
      // than the pair it replaces (to the refinement's noise: a ball of that node as much as the
      // one taken) and the contacts run on without turning back or leaping a gap into c, the
      // trace goes on from them; else nothing changes. The pair c itself is first taken onto
      // the ball whose cross-section runs through its node where that one rounds the node's
      // corner, fits and lies no farther from it (the refiner's pair lies aside by a share of
      // the step, which beside the vertex can read as a turn).
      auto BeginAgain = [&](double* c) {
        const bool held[4] = {false, false, false, false};
        const int k = out->nodeCount;
        const double ri = p[5 * i + 4];
        double g[4] = {c[0], c[1], c[2], c[3]}, A[2][3], B[2][3], was[2][3], dwas[2][3];
        if (!SolveContact(S1, S2, ri, g, held, Xi) || !BallSpansCorner(S1, S2, ri, g, Xi) || !BallFits(S1, S2, ri, g) ||
            CentreFrom(S1, ri, g, Xi) > CentreFrom(S1, ri, c, Xi) + noise)
          for (int e = 0; e < 4; ++e) g[e] = c[e];
        const double on[4] = {g[0], g[1], g[2], g[3]};
        int at = k - 1;
        for (const IntersectionTraceNode* m = out->tail; m; m = m->prev, --at) {
          const int j = taken[at];
          const double r = p[5 * j + 4], old[4] = {m->u1, m->v1, m->u2, m->v2};
          double Y[3];
          Eval3DPointOnSurfCoord(S1, p[5 * j], p[5 * j + 1], 0, 0, Y);
          if (!SolveContact(S1, S2, r, g, held, Y) || !BallSpansCorner(S1, S2, r, g, Y) || !BallFits(S1, S2, r, g) ||
              CentreFrom(S1, r, g, Y) > CentreFrom(S1, r, old, Y) + noise)
            return false;
          for (int e = 0; e < 4; ++e) seat[4 * at + e] = g[e];
        }
        // The contacts along the seated stretch: no turn back, no gap between neighbours.
        double dlast[2][3] = {};
        for (at = 1; at < k; ++at) {
          const double* a = seat + 4 * (at - 1);
          const double* b = seat + 4 * at;
          Eval3DPointOnSurfCoord(S1, a[0], a[1], 0, 0, A[0]);
          Eval3DPointOnSurfCoord(S2, a[2], a[3], 0, 0, A[1]);
          Eval3DPointOnSurfCoord(S1, b[0], b[1], 0, 0, B[0]);
          Eval3DPointOnSurfCoord(S2, b[2], b[3], 0, 0, B[1]);
          double Ya[3], Yb[3], dm[3];
          Eval3DPointOnSurfCoord(S1, p[5 * taken[at - 1]], p[5 * taken[at - 1] + 1], 0, 0, Ya);
          Eval3DPointOnSurfCoord(S1, p[5 * taken[at]], p[5 * taken[at] + 1], 0, 0, Yb);
          for (int s = 0; s < 2; ++s) {
            VecDiff3(B[s], A[s], dm);
            if (SmallVector(dm, noise)) continue;
            if (VecDotProd3(dm, dlast[s]) < 0.0) return false;
            for (int e = 0; e < 3; ++e) dlast[s][e] = dm[e];
          }
          if (LeapsAGap(S1, S2, collapsed, p + 5 * taken[at - 1], p + 5 * taken[at], a, b, A, B, VecDist3(Ya, Yb), tol))
            return false;
        }
        for (int s = 0; s < 2; ++s)
          for (int e = 0; e < 3; ++e) was[s][e] = prev[s][e], dwas[s][e] = dprev[s][e];
        const double* t = seat + 4 * (k - 1);
        Eval3DPointOnSurfCoord(S1, t[0], t[1], 0, 0, prev[0]);
        Eval3DPointOnSurfCoord(S2, t[2], t[3], 0, 0, prev[1]);
        for (int s = 0; s < 2; ++s)
          for (int e = 0; e < 3; ++e) dprev[s][e] = dlast[s][e];
        const bool back = Follow(on);
        if (back || LeapsAGap(S1, S2, collapsed, p + 5 * last, p + 5 * i, t, on, prev, P, VecSize3(dXi), tol)) {
          for (int s = 0; s < 2; ++s)
            for (int e = 0; e < 3; ++e) prev[s][e] = was[s][e], dprev[s][e] = dwas[s][e];
          Follow(c);
          return false;
        }
        for (int e = 0; e < 4; ++e) c[e] = on[e];
        at = 0;
        for (IntersectionTraceNode* m = out->head; m; m = m->next, ++at) {
          const double* f = seat + 4 * at;
          double Q[3];
          m->u1 = f[0], m->v1 = f[1], m->u2 = f[2], m->v2 = f[3];
          Eval3DPointOnSurfCoord(S1, f[0], f[1], 0, 0, Q);
          m->x = Q[0], m->y = Q[1], m->z = Q[2];
        }
        return true;
      };
      if (apart != 100 && BeginAgain(q)) apart = 100;
      // A node the last pair covers already turns back only where its ball does not move on: a
      // contact swinging round a cone's apex (a collapsed side) so turns while the centres run on.
      if (turns && apart == kAwayFromNode && collapsed &&
          CoveredAndMovedOn(S1, S2, out->tail->filletParam, tail, p[5 * i + 4], q, X, Xi, p + 5 * i))
        apart = Apart(q, false);
      const bool firstSlid = apart != 100 && out->nodeCount == 1 && !SmallVector(dXi, noise) &&
                             VecDist3(prev[0], X) + VecDist3(prev[1], X) > VecDist3(P[0], Xi) + VecDist3(P[1], Xi);
      if (firstSlid && !FirstAgain(q)) {
        if (!missing) ReportNoBall(InputPlace(first), n, apart);
        missing = true;
        FreeTraceNodes(out);
        for (int k = 0; k < 2; ++k)
          for (int c = 0; c < 3; ++c) moved[k] = false, d[k][c] = 0.0;
      } else {
        refined = firstSlid ? 100 : apart;
      }
    }
    if (refined != 100) {
      // No ball there. Before the first pair the fillet has not begun; after it, a trace that
      // went on would join the stretches on either side of the gap into one: it stops, open.
      const bool stops = out->nodeCount > 0;
      if (!missing || stops) ReportNoBall(InputPlace(i), n, refined);
      missing = true;
      if (stops) break;
      continue;
    }
    IntersectionTraceNode* made = AppendTraceNode(out, P[0], q[0], q[1], q[2], q[3]);
    if (!made) return -2;
    made->filletParam = p[5 * i + 4];
    if (out->nodeCount == 1) out->open = 1, first = i;
    taken[out->nodeCount - 1] = i;
    last = i;
    for (int k = 0; k < 2; ++k) {
      if (out->nodeCount > 1 && !moved[k]) continue;
      for (int c = 0; c < 3; ++c) {
        prev[k][c] = P[k][c];
        dprev[k][c] = d[k][c];
      }
    }
    for (int c = 0; c < 3; ++c) X[c] = Xi[c], dX[c] = beside ? dX[c] : out->nodeCount > 1 ? dXi[c] : 0.0;
  }
  if (missing) {
    out->open = 1;
    return -2;
  }
  out->open = in->open;
  if (in->open == 0 && n > 0 && p[4] == p[5 * (n - 1) + 4] && out->nodeCount >= 2)
    CloseFilletIfClosed(S1, S2, out);
  return 0;
}

void CloseFilletIfClosed(Bspline* S1, Bspline* S2, IntersectionTrace* fillet) {
  IntersectionTraceNode* a = fillet->head;
  IntersectionTraceNode* z = fillet->tail;
  if (!a || !z) return;
  double* first[4] = {&a->u1, &a->v1, &a->u2, &a->v2};
  double* last[4] = {&z->u1, &z->v1, &z->u2, &z->v2};
  // The closing node: the ends' mean, but a parameter whose ends lie across the seam of a
  // surface closed in it is held on the seam, at the two ends of its range.
  double q[4], spread = -1.0;
  bool held[4] = {false, false, false, false}, onSeam = false;
  int widest = 0;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? S1 : S2;
    const int closed = k & 1 ? s->closedV : s->closedU;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    const double apart = std::fabs(*first[k] - *last[k]);
    if (!closed || apart <= 0.5 * (hi - lo)) {
      q[k] = 0.5 * (*first[k] + *last[k]);
      if (apart / (hi - lo) > spread) spread = apart / (hi - lo), widest = k;
      continue;
    }
    // The trace crosses the seam: its ends go to the two ends of the range.
    q[k] = *last[k] <= *first[k] ? hi : lo;
    *last[k] = *last[k] <= *first[k] ? lo : hi;
    held[k] = onSeam = true;
  }
  // The mean of two contact pairs is none: the closing node is refined onto the ball's contact
  // pair there, holding the seam's parameters, or else the one that runs farthest between the
  // two ends (the trace's direction there). Where no pair is found the mean stands.
  // Ends that agree already (a closed trace's own pairs fed back) are one contact pair: with no
  // way between them to hold, the solve would slide it along the fillet.
  if (!onSeam) held[widest] = true;
  double solved[4] = {q[0], q[1], q[2], q[3]};
  if ((onSeam || spread > 0.0) && SolveContact(S1, S2, a->filletParam, solved, held, nullptr))
    for (int k = 0; k < 4; ++k)
      if (!held[k] || !onSeam) q[k] = solved[k];
  for (int k = 0; k < 4; ++k) {
    *first[k] = q[k];
    if (!held[k] || !onSeam) *last[k] = q[k];
  }
  double P[3];
  Eval3DPointOnSurfCoord(S1, q[0], q[1], 0, 0, P);
  if (KernelFailed()) return;
  for (IntersectionTraceNode* n : {a, z}) n->x = P[0], n->y = P[1], n->z = P[2];
}

namespace {
// Inside the fillet's parameter box (minima u1, u2, v1, v2 at 0..3, maxima at 4..7) within 1e-4.
bool InFilletBox(const double q[4], const double* box) {
  static const int slot[4] = {0, 2, 1, 3};  // u1, v1, u2, v2 in the box's interleaved order
  for (int k = 0; k < 4; ++k)
    if (q[k] < box[slot[k]] - 1e-4 || q[k] > box[slot[k] + 4] + 1e-4) return false;
  return true;
}

void ParamsOf(const IntersectionTraceNode* n, double q[4]) {
  q[0] = n->u1;
  q[1] = n->v1;
  q[2] = n->u2;
  q[3] = n->v2;
}

bool FitsAt(Bspline* S1, Bspline* S2, const IntersectionTraceNode* n,
            const IntersectionTraceNode* nb, double r, const double* box, double tol) {
  double q[4], w[4];
  ParamsOf(n, q);
  ParamsOf(nb ? nb : n, w);
  return RefineSelected(S1, S2, r, q, w, tol) == 100 && InFilletBox(q, box);
}

IntersectionTraceNode* CopyNode(IntersectionTrace* out, const IntersectionTraceNode* n) {
  const double P[3] = {n->x, n->y, n->z};
  return AppendTraceNode(out, P, n->u1, n->v1, n->u2, n->v2);
}
}  // namespace

int ExtrapolateIntersectionPt(Bspline* S1, Bspline* S2, IntersectionTraceNode* outside,
                              IntersectionTraceNode* inside, IntersectionTraceNode* made, double r,
                              const double* box, double tol) {
  double o[4], in[4], prev[4], prevP[3] = {outside->x, outside->y, outside->z};
  ParamsOf(outside, o);
  ParamsOf(inside, in);
  for (int q = 0; q < 4; ++q) prev[q] = o[q];
  for (int k = 1; k <= 10; ++k) {
    double p[4], P[3];
    for (int q = 0; q < 4; ++q) p[q] = o[q] + 0.1 * k * (in[q] - o[q]);
    int clamped = 0;
    NewRefineSrfSrfIntrPoint(S1, S2, &p[0], &p[1], &p[2], &p[3], P, 50, &clamped, 10.0 * tol);
    double c[4] = {p[0], p[1], p[2], p[3]};
    if (RefineSelected(S1, S2, r, c, in, 10.0 * tol) == 100 && InFilletBox(c, box)) {
      outside->u1 = prev[0];
      outside->v1 = prev[1];
      outside->u2 = prev[2];
      outside->v2 = prev[3];
      CopyCoord(prevP[0], prevP[1], prevP[2], &outside->x);
      made->u1 = p[0];
      made->v1 = p[1];
      made->u2 = p[2];
      made->v2 = p[3];
      CopyCoord(P[0], P[1], P[2], &made->x);
      return 1;
    }
    for (int q = 0; q < 4; ++q) prev[q] = p[q];
    CopyCoord(P[0], P[1], P[2], prevP);
  }
  return 0;
}

int SnipIntersectionForVarRadius(Bspline* S1, Bspline* S2, IntersectionTrace* in,
                                 IntersectionTrace** out, double rStart, double rEnd,
                                 const double* box, double tol) {
  const double t10 = 10.0 * tol;
  IntersectionTraceNode* start = nullptr;
  IntersectionTraceNode* end = nullptr;
  for (IntersectionTraceNode* n = in->head; n && !start; n = n->next)
    if (FitsAt(S1, S2, n, n->next ? n->next : n->prev, rStart, box, t10)) start = n;
  for (IntersectionTraceNode* n = in->tail; n && !end; n = n->prev)
    if (FitsAt(S1, S2, n, n->prev ? n->prev : n->next, rEnd, box, t10)) end = n;
  if (!start || !end) return -2;
  // The stretch runs from start to end; an end before the start leaves no stretch.
  bool ordered = false;
  for (IntersectionTraceNode* n = start; n; n = n->next)
    if (n == end) ordered = true;
  if (!ordered) return -2;
  IntersectionTrace* o = *out;
  IntersectionTraceNode made;
  if (start != in->head) {
    const int found = ExtrapolateIntersectionPt(S1, S2, start->prev, start, &made, rStart, box, tol);
    if (!CopyNode(o, start->prev)) return -2;
    if (found && !CopyNode(o, &made)) return -2;
  }
  for (IntersectionTraceNode* n = start;; n = n->next) {
    if (!CopyNode(o, n)) return -2;
    if (n == end) break;
  }
  if (end != in->tail) {
    const int found = ExtrapolateIntersectionPt(S1, S2, end->next, end, &made, rEnd, box, tol);
    if (found && !CopyNode(o, &made)) return -2;
    if (!CopyNode(o, end->next)) return -2;
  }
  o->spare[1] = in->spare[1];
  o->spare[2] = in->spare[2];
  o->open = in->open;
  return 0;
}

int CreateIntersectionCurves(Bspline* S1, Bspline* S2, IntersectionTrace* trace, Bspline* pair[2],
                             int swap1, int swap2) {
  pair[0] = pair[1] = nullptr;
  const int n = trace->nodeCount;
  if (n < 1 || !trace->head) return -2;
  TrackingScope scope;
  double* a = MallocArray<double>(4, n);
  if (!a || KernelFailed()) return -2;
  double *x1 = a, *y1 = a + n, *x2 = a + 2 * n, *y2 = a + 3 * n;
  int i = 0;
  for (IntersectionTraceNode* m = trace->head; m && i < n; m = m->next, ++i) {
    x1[i] = swap1 == -1 ? m->v1 : m->u1;
    y1[i] = swap1 == -1 ? m->u1 : m->v1;
    x2[i] = swap2 == -1 ? m->v2 : m->u2;
    y2[i] = swap2 == -1 ? m->u2 : m->v2;
  }
  Owned<Bspline, FreeBspline> c1(CurveIntrplt(x1, y1, nullptr, n - 1, nullptr, 3, 0));
  if (!c1 || KernelFailed()) return -2;
  Owned<Bspline, FreeBspline> c2(CurveIntrplt(x2, y2, nullptr, n - 1, nullptr, 3, 0));
  if (!c2 || KernelFailed()) return -2;
  PutBsplToSurfCrvList(c1.get(), S1);
  if (KernelFailed()) return -2;
  PutBsplToSurfCrvList(c2.get(), S2);
  if (KernelFailed()) return -2;  // c1 leaves S1's list as it is freed
  pair[0] = c1.release();
  pair[1] = c2.release();
  return 0;
}

namespace {
void SwapData(IntersectionTraceNode* a, IntersectionTraceNode* b) {
  double* pa[7] = {&a->x, &a->y, &a->z, &a->u1, &a->v1, &a->u2, &a->v2};
  double* pb[7] = {&b->x, &b->y, &b->z, &b->u1, &b->v1, &b->u2, &b->v2};
  for (int k = 0; k < 7; ++k) {
    const double t = *pa[k];
    *pa[k] = *pb[k];
    *pb[k] = t;
  }
}
// Reverses the data of the count nodes from a to z (links untouched).
void ReverseData(IntersectionTraceNode* a, IntersectionTraceNode* z, int count) {
  for (int k = 0; k < count / 2; ++k, a = a->next, z = z->prev) SwapData(a, z);
}
}  // namespace

int RearrangeIntersectList(IntersectionTrace* trace) {
  const int n = trace->nodeCount, m = trace->directionStart;
  if (n < 2 || m < 0 || m > n || !trace->head) return 0;
  // Backward nodes reversed, then the forward ones in order: the whole sequence reversed, then
  // its last m (the forward nodes, now reversed) turned back.
  ReverseData(trace->head, trace->tail, n);
  IntersectionTraceNode* a = trace->tail;
  for (int k = 1; k < m; ++k) a = a->prev;
  ReverseData(a, trace->tail, m);
  // One running order now, as if marched in one direction from the head: read again (here or by
  // the fillet trace) it must not be rearranged a second time.
  trace->directionStart = n;
  return 0;
}

// ---- Sorted crossing lists and box-side curves ------------------------------------------------

int FindNextSnipParam(BsplineList* trimNode, TArrayNode* firstNode, double t, int excludedSide,
                      double* trimParamOut, int* sideOut, double* paramOut, double* sortKeyOut) {
  return NextTrimCrossing(trimNode, firstNode, t, excludedSide, trimParamOut, sideOut, paramOut,
                          sortKeyOut);
}

void FindNextFilParam(TArrayList* list, double t, double* paramOut, double* trimParamOut,
                      BsplineList** trimNodeOut, int forward, double* sortKeyOut) {
  NeighbourCrossing(list, t, paramOut, trimParamOut, trimNodeOut, forward, sortKeyOut);
}

void MarkFilUsedField(TArrayList* list, double t) { MarkCrossingUsed(list, t); }

void CreateBndryCurve(Bspline* surface, int edge, int orientation, BsplineList** list, double au,
                      double av, double bu, double bv, int whole) {
  MakeBoxSideCurve(surface, edge, orientation, list, au, av, bu, bv, whole);
}

// ---- Crossing lists of contact curves ---------------------------------------------------------

namespace {

double Range(const Bspline* c) { return Hi(c, 0) - Lo(c, 0); }

// t carried proportionally from [lo0, hi0] onto [lo1, hi1] (lo1 for an empty source range).
double MapRange(double t, double lo0, double hi0, double lo1, double hi1) {
  return hi0 > lo0 ? (t - lo0) / (hi0 - lo0) * (hi1 - lo1) + lo1 : lo1;
}

// A list node made outside every scope: the list owns it.
BsplineList* NewListNode(Bspline* item) {
  UntrackedScope untracked;
  BsplineList* node = MallocNullBsplineList();
  if (node) node->item = item;
  return node;
}

void AppendNode(BsplineList** list, BsplineList* node) {
  BsplineList** at = list;
  while (*at) at = &(*at)->next;
  *at = node;
}

void FreeListNodes(BsplineList* list) {
  while (list) {
    BsplineList* next = list->next;
    Free(list);
    list = next;
  }
}

}  // namespace

int FindIfInOut(Bspline* trimCurve, double trimParam, Bspline* cuttingCurve, double param,
                Bspline* referenceCurve, int swap) {
  if (!CurveOnSurfaceSound(trimCurve) || !CurveOnSurfaceSound(cuttingCurve) ||
      !CurveOnSurfaceSound(referenceCurve))
    return 0;
  if (!AllFinite({trimParam, param})) {
    SetKernelError(-2);
    return 0;
  }
  double A[3], F[3], R[3], ab[2];
  Eval3DPointOnBsplOnSurfArray(nullptr, trimCurve, trimParam + 0.01 * Range(trimCurve), 0, 0, A);
  Eval3DPointOnBsplOnSurfArray(nullptr, cuttingCurve, param, 0, 0, F);
  const double s = MapRange(param, Lo(cuttingCurve, 0), Hi(cuttingCurve, 0),
                            Lo(referenceCurve, 0), Hi(referenceCurve, 0));
  Eval2DPointOnCurve2Array(nullptr, referenceCurve, s, 0, ab);
  if (swap == -1) std::swap(ab[0], ab[1]);
  Eval3DPointOnSurfArray(referenceCurve->owner, ab[0], ab[1], 0, 0, R);
  double dot = 0.0;
  for (int q = 0; q < 3; ++q) dot += (A[q] - F[q]) * (R[q] - F[q]);
  return dot >= 0.0 ? 2 : 1;
}

void InsertIntoOrderedTArrayList(const double* params, const double* trimParams, const int* sides,
                                 BsplineList* trimNode, int n, TArrayList** list, int kind,
                                 double keyLo, double keyHi, double srcLo, double srcHi) {
  TArrayList* L = *list;
  for (int i = 0; i < n; ++i) {
    bool near = false;
    for (const TArrayNode* e = L->head; e && !near; e = e->next)
      near = e->kind == kind && std::fabs(e->param - params[i]) < 1e-4;
    if (near) continue;
    TArrayNode* node;
    {
      UntrackedScope untracked;  // the list owns its nodes
      node = CallocArray<TArrayNode>(1);
    }
    if (!node || KernelFailed()) return;
    node->param = params[i];
    node->sortKey = kind == 2 ? MapRange(params[i], srcLo, srcHi, keyLo, keyHi) : params[i];
    node->trimParam = trimParams[i];
    node->side = sides ? sides[i] : 0;
    node->trimCurve = trimNode;
    node->kind = kind;
    if (!L->head) {
      L->head = node;
      node->prev = nullptr;
      L->count = 1;
      continue;
    }
    // Before the first node of a strictly greater key: equal keys keep insertion order.
    TArrayNode** at = &L->head;
    while (*at && (*at)->sortKey <= node->sortKey) at = &(*at)->next;
    node->next = *at;
    *at = node;
    ++L->count;
  }
}

int InsertIntoTArrayList(CrvIntrList* hits, BsplineList* trimNode, Bspline* cuttingCurve,
                         TArrayList** list, Bspline* referenceCurve, int kind, double keyLo,
                         double keyHi, double srcLo, double srcHi, int swap) {
  const int n = hits->count;
  if (n <= 0) return 0;
  TrackingScope scope;
  double* params = MallocArray<double>(n);
  double* trimParams = MallocArray<double>(n);
  int* sides = MallocArray<int>(n);
  int* order = MallocArray<int>(n);
  double* keys = MallocArray<double>(n);
  if (!params || !trimParams || !sides || !order || !keys || KernelFailed()) return -2;
  const CrvIntrNode* h = hits->first;
  for (int i = 0; i < n && h; ++i, h = h->next) {
    keys[i] = h->t1;
    order[i] = i;
    params[i] = h->t1;
    trimParams[i] = h->t2;
    sides[i] = referenceCurve
                   ? FindIfInOut(trimNode->item, h->t2, cuttingCurve, h->t1, referenceCurve, swap)
                   : 0;
  }
  HeapSort2FloatInt4(n, keys, order);
  double* sp = MallocArray<double>(n);
  double* st = MallocArray<double>(n);
  int* ss = MallocArray<int>(n);
  if (!sp || !st || !ss || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    sp[i] = params[order[i]];
    st[i] = trimParams[order[i]];
    ss[i] = sides[order[i]];
  }
  InsertIntoOrderedTArrayList(sp, st, ss, trimNode, n, list, kind, keyLo, keyHi, srcLo, srcHi);
  return KernelFailed() ? -2 : 0;
}

int GetFilletCrvIntrList(Bspline* surface, Bspline* cuttingCurve, TArrayList** list,
                         CrvIntrList* scratch, Bspline* referenceCurve, int kind, double keyLo,
                         double keyHi, double srcLo, double srcHi, int swap, double tol) {
  if (!surface || !surface->trims) return 0;
  CrvIntrList local = {0, nullptr, nullptr};
  CrvIntrList* hits = scratch ? scratch : &local;
  int result = 0;
  for (TrimList* loop = surface->trims; loop && result == 0; loop = loop->next)
    for (BsplineList* c = loop->loopCurves; c && result == 0; c = c->next) {
      // The hits of an earlier call go: CrvIntersect takes a given head as empty and hangs a new
      // first node on it, so nodes left there would be lost.
      ClearCrvIntrList(hits);
      const int r = CrvIntersect(cuttingCurve, c->item, &hits, tol, 1);
      if (r == -2) result = -2;
      else if (r == 0 && hits->count > 0)
        InsertIntoTArrayList(hits, c, cuttingCurve, list, referenceCurve, kind, keyLo, keyHi,
                             srcLo, srcHi, swap);
      // An insertion that ran out of memory stops quietly: the list would pass as complete.
      if (KernelFailed()) result = -2;
    }
  if (hits == &local) ClearCrvIntrList(&local);
  return result;
}

void SeparateTArrayLists(TArrayList* list, TArrayList* kind1List, TArrayList* kind2List) {
  for (const TArrayNode* e = list->head; e; e = e->next) {
    if (e->trimParam == -100.0) continue;
    TArrayNode* copy;
    {
      UntrackedScope untracked;
      copy = CallocArray<TArrayNode>(1);
    }
    if (!copy || KernelFailed()) return;
    *copy = *e;
    TArrayList* to = e->kind == 1 ? kind1List : kind2List;
    copy->prev = to->tail;
    copy->next = nullptr;
    if (to->tail) to->tail->next = copy;
    else to->head = copy;
    to->tail = copy;
    ++to->count;
  }
}

int CheckInOuts(TArrayList* list) {
  for (const TArrayNode* e = list ? list->head : nullptr; e && e->next; e = e->next)
    if (e->side == e->next->side) return 0;
  return 1;
}

// ---- Point in trim with a boundary tolerance --------------------------------------------------

namespace {

// A point this close to a trim curve counts as inside: the trim curves of a filleted surface
// run along the fillet's contact curves, on which the tested midpoints lie. A share of the
// surface's size, so the test reads alike at every scale.
constexpr double kOnTrimShare = 1e-5;

int OnTrimCurves(Bspline* surface, double u, double v) {
  const double size = std::fmax(ControlPointDiagonal(surface), 1e-300);
  return FindShortestDistanceFromTrimCurves(surface, u, v) < kOnTrimShare * size ? 1 : 0;
}

}  // namespace

double FindShortestDistanceFromTrimCurves(Bspline* surface, double u, double v) {
  double best = kFlatRadius;
  if (!surface) return best;
  double P[3];
  Eval3DPointOnSurfArray(surface, u, v, 0, 0, P);
  for (TrimList* loop = surface->trims; loop; loop = loop->next)
    for (BsplineList* c = loop->loopCurves; c; c = c->next) {
      CurveSampleCache cache;  // one curve's samples, freed before the next
      double t = 0.0, C[3];
      if (cache.Estimate(c->item, P, &t) != 0) continue;
      Eval3DPointOnBsplOnSurfArray(surface, c->item, t, 0, 0, C);
      best = std::fmin(best, std::sqrt((C[0] - P[0]) * (C[0] - P[0]) +
                                       (C[1] - P[1]) * (C[1] - P[1]) +
                                       (C[2] - P[2]) * (C[2] - P[2])));
    }
  return best;
}

int IsPointInTrimOrBndry(Bspline* surface, double u, double v) {
  if (!surface || !surface->trims) return 1;
  const int in = IsPointInTrim(surface, u, v);
  if (in) return in;
  return OnTrimCurves(surface, u, v);
}

int IsPointInTrimOrBndryArrays(Bspline* surface, double u, double v, double*** us, double*** vs,
                               const double* far) {
  if (!surface || !surface->trims) return 1;
  const int in = IsPointInTrimArrays(surface, u, v, far, us, vs);
  if (in) return in;
  return OnTrimCurves(surface, u, v);
}

void PutIfOutToBndry(Bspline* surface, double* u, double* v) {
  if (!RecordShapesSound({surface}) || !u || !v) return;
  if (surface->kind != 2) {
    SetKernelError(-2);
    return;
  }
  *u = std::fmin(std::fmax(*u, Lo(surface, 0)), Hi(surface, 0));
  *v = std::fmin(std::fmax(*v, Lo(surface, 1)), Hi(surface, 1));
}

void PutIfOutToOrigSurfBndry(Bspline* surface, double* a, double* b, int swap) {
  if (swap == -1) PutIfOutToBndry(surface, b, a);
  else PutIfOutToBndry(surface, a, b);
}

// ---- Fillet surfaces and fillet trim loops ----------------------------------------------------

void GetFilletParamOtherCurve(Bspline* from, double t, Bspline* to, double* out) {
  if (!RecordsSound({from, to}) || !out) return;
  if (from->kind != 1 || to->kind != 1 || NumKnotsU(to) < NumKnotsU(from) || !std::isfinite(t)) {
    SetKernelError(-2);
    return;
  }
  int k = from->degreeU;
  FindLowKnotIndex(from->knotsU, from->degreeU, t, &k, NumCtrlU(from));
  const double* a = from->knotsU;
  const double* b = to->knotsU;
  *out = a[k + 1] > a[k] ? (t - a[k]) / (a[k + 1] - a[k]) * (b[k + 1] - b[k]) + b[k] : b[k];
}

int CheckIfFilletCurveSegmentInBounds(Bspline* piece) {
  Bspline* s = piece->owner;
  if (!s) return 0;
  const double lo = Lo(piece, 0), hi = Hi(piece, 0);
  const double ts[3] = {lo, hi, 0.5 * (lo + hi)};
  // Contact curves are clamped onto the domain's edges; rounding must not put them off it.
  const double su = 1e-9 * (Hi(s, 0) - Lo(s, 0)), sv = 1e-9 * (Hi(s, 1) - Lo(s, 1));
  double uv[2] = {0.0, 0.0};
  for (double t : ts) {
    Eval2DPointOnCurve2Array(nullptr, piece, t, 0, uv);
    if (uv[0] < Lo(s, 0) - su || uv[0] > Hi(s, 0) + su || uv[1] < Lo(s, 1) - sv ||
        uv[1] > Hi(s, 1) + sv)
      return 0;
  }
  return IsPointInTrimOrBndry(s, uv[0], uv[1]);
}

namespace {

// Frees a part unless it is the curve it came from (kept or freed by the walk itself).
void FreePart(Bspline* part, Bspline* whole) {
  if (part && part != whole) FreeBspline(part);
}

}  // namespace

bool SplitCurveAtParam(Bspline* c, double t, double tol, Bspline** first, Bspline** second) {
  if (!RecordsSound({c})) return false;
  if (c->kind != 1 || !first || !second || !AllFinite({t, tol})) {
    SetKernelError(-2);
    return false;
  }
  *first = *second = nullptr;
  if (t >= Hi(c, 0) - tol) {
    *first = c;
    return true;
  }
  if (t <= Lo(c, 0) + tol) {
    *second = c;
    return true;
  }
  Bspline* pieces[2] = {nullptr, nullptr};
  if (SplitObjectToNObjects(c, 1, &t, 0, pieces) != 0 || KernelFailed()) {
    FreeBsplineArrayContents(pieces, 2);
    return false;
  }
  for (Bspline* p : pieces)
    if (p) p->owner = c->owner;
  *first = pieces[0];
  *second = pieces[1];
  return true;
}

int GetFilletSurfaces(Bspline* A, Bspline* B, TArrayList* crossings, int firstFlag, int lastFlag,
                      BsplineList** surfaces) {
  const TArrayNode* head = crossings ? crossings->head : nullptr;
  int result = 0;
  if (head && A && B) {
    double pA, pB;
    if (head->kind == 1) {
      pA = head->param;
      pB = MapRange(pA, Lo(A, 0), Hi(A, 0), Lo(B, 0), Hi(B, 0));
    } else {
      pB = head->param;
      pA = MapRange(pB, Lo(B, 0), Hi(B, 0), Lo(A, 0), Hi(A, 0));
    }
    const bool both = firstFlag && lastFlag;
    const int E = both ? crossings->count - 1 : crossings->count;
    double s = 1.0;
    int i = 0;
    for (TArrayNode* e = crossings->head; e && A && B; e = e->next, ++i) {
      if (i < (both ? 2 : 1) || i > E - 1) continue;
      if (i >= 2 && i < E - 1 && e->trimParam == -100.0) continue;
      double tA, tB;
      if (e->kind == 1 && e->param >= Lo(A, 0) && e->param <= Hi(A, 0)) {
        tA = e->param;
        GetFilletParamOtherCurve(A, tA, B, &tB);
      } else if (e->kind != 1 && e->param >= Lo(B, 0) && e->param <= Hi(B, 0)) {
        tB = e->param;
        GetFilletParamOtherCurve(B, tB, A, &tA);
      } else {
        continue;
      }
      if (std::fabs(tA - pA) < 1e-4 || std::fabs(tB - pB) < 1e-4) continue;
      pA = tA;
      pB = tB;
      Bspline *lA, *rA, *lB, *rB;
      if (!SplitCurveAtParam(A, tA, 1e-6 * Range(A), &lA, &rA)) {
        result = -2;
        break;
      }
      if (!SplitCurveAtParam(B, tB, 1e-6 * Range(B), &lB, &rB)) {
        FreePart(lA, A);
        FreePart(rA, A);
        result = -2;
        break;
      }
      bool built = false;
      const bool inside =
          lA && lB && CheckIfFilletCurveSegmentInBounds(lA) && CheckIfFilletCurveSegmentInBounds(lB);
      // The bounds test answers "outside" also when its point-in-trim test ran out of memory:
      // that is a failure, not a piece to pass over.
      bool failed = KernelFailed();
      if (inside && !failed) {
        Bspline* cA = CopyCurveBspline(lA);
        Bspline* cB = cA ? CopyCurveBspline(lB) : nullptr;
        Bspline* f = nullptr;
        if (cA && cB) {
          cA->owner = lA->owner;
          cB->owner = lB->owner;
          // The sign alternates over the surfaces actually built.
          s = -s;
          f = cA->interiorU == cB->interiorU
                  ? FindFilletSurfFrom2Curve2s(cA, cB, 1, static_cast<int>(s), 1, 1, 1.0, 1.0)
                  : CreateMergeSurfaceGivenCurve2s(cA, cB);
        }
        BsplineList* node = f ? NewListNode(f) : nullptr;
        if (!node) {
          if (f) FreeBspline(f);
          if (cA) FreeBspline(cA);
          if (cB) FreeBspline(cB);
          failed = true;
        } else {
          RemoveCurveFromBsplineList(cA);
          RemoveCurveFromBsplineList(cB);
          node->next = *surfaces;
          *surfaces = node;
          e->pieceA = cA;
          e->pieceB = cB;
          built = true;
        }
      }
      if (failed) {
        FreePart(lA, A);
        FreePart(rA, A);
        FreePart(lB, B);
        FreePart(rB, B);
        result = -2;
        break;
      }
      (void)built;
      FreePart(lA, A);
      FreePart(lB, B);
      // The walk goes on with the parts after the cut; where a curve has none it ends (its
      // last part was the left one, built on or dropped).
      if (rA != A) FreeBspline(A);
      if (rB != B) FreeBspline(B);
      A = rA;
      B = rB;
    }
  }
  if (A) FreeBspline(A);
  if (B) FreeBspline(B);
  return result;
}

int FindIfAnyFilletCurve(Bspline* surface, TArrayList* pieces, double a, double b,
                         BsplineList** out, int which) {
  *out = nullptr;
  for (TArrayNode* e = pieces ? pieces->head : nullptr; e; e = e->next) {
    Bspline*& piece = which == 1 ? e->pieceA : e->pieceB;
    const double k = e->sortKey;
    if (!piece) continue;
    const bool backward = b <= a;
    if (backward ? !(b <= k && k <= a) : !(a <= k && k <= b)) continue;
    if (backward) reverseBspline(piece);
    Bspline* copy = CopyCurveBspline(piece);
    BsplineList* node = copy ? NewListNode(copy) : nullptr;
    if (!node) {
      if (copy) FreeBspline(copy);
      return -2;
    }
    copy->owner = surface;
    if (backward) {
      node->next = *out;
      *out = node;
    } else {
      AppendNode(out, node);
    }
    // An entry's piece is taken at most once.
    FreeBspline(piece);
    piece = nullptr;
  }
  return 0;
}

namespace {

// The stretch of a trim curve from t0 to t1 as a new curve owned by the surface (the whole
// curve copied when both lie at its ends); null with ok kept when the stretch is empty.
Bspline* TrimStretch(Bspline* curve, Bspline* surface, double t0, double t1, bool* ok) {
  const double tol = 1e-6 * Range(curve);
  *ok = true;
  if (t1 - t0 <= tol) return nullptr;
  Bspline* piece = t0 <= Lo(curve, 0) + tol && t1 >= Hi(curve, 0) - tol
                       ? CopyCurveBspline(curve)
                       : ExtractObjFromObjGivenPar(curve, 0, t0, t1);
  if (!piece || KernelFailed()) {
    if (piece) FreeBspline(piece);
    *ok = false;
    return nullptr;
  }
  piece->owner = surface;
  return piece;
}

// Puts a curve of the new loop on the surface's curve list and at the end of the loop.
bool AddToLoop(Bspline* surface, BsplineList** loop, Bspline* curve) {
  BsplineList* node = NewListNode(curve);
  if (!node) {
    FreeBspline(curve);
    return false;
  }
  AppendBsplToSurfCrvList(curve, surface);
  AppendNode(loop, node);
  return true;
}

BsplineList* NextInLoop(TrimList* loop, BsplineList* node) {
  return node->next ? node->next : loop->loopCurves;
}

int CountLoopCurves(const TrimList* loop) {
  int n = 0;
  for (const BsplineList* c = loop->loopCurves; c; c = c->next) ++n;
  return n;
}

}  // namespace

int CreateFilletsWithTrim(Bspline* surface, TArrayList* crossings, BsplineList** loop,
                          TArrayList* pieces, int which) {
  *loop = nullptr;
  TArrayNode* head = crossings ? crossings->head : nullptr;
  TrimList* cur = nullptr;
  if (!surface || !head || !GetTrimCurveOfTrimPiece(head->trimCurve, surface->trims, &cur))
    return -2;
  // Every walk below is bounded: a crossing is left at most once per entry of the list, and a
  // search along a loop passes each of its curves once.
  int nCurves = CountLoopCurves(cur);
  double startParam = head->param, tp = head->trimParam, param = head->param, key = head->sortKey;
  BsplineList* trimNode = head->trimCurve;
  int forward = 0;
  if (head->side == 2) {
    forward = 1;
    int side = 0;
    bool found = false;
    BsplineList* c = head->trimCurve;
    for (int k = 0; k < nCurves && !found; ++k, c = NextInLoop(cur, c))
      if (FindNextSnipParam(c, crossings->head, Lo(c->item, 0), 2, &tp, &side, &param, &key)) {
        found = true;
        trimNode = c;
      }
    if (!found) return -2;
    startParam = param;
  }
  BsplineList* made = nullptr;
  auto fail = [&made]() {
    FreeListNodes(made);
    return -2;
  };
  for (int visit = 0; visit <= crossings->count; ++visit) {
    // Trim stretch: from the crossing along the loop to the next crossing that leaves it.
    MarkFilUsedField(crossings, tp);
    Bspline* curve = trimNode->item;
    double from = tp, exitTp = 0.0, exitParam = 0.0, exitKey = 0.0;
    int exitSide = 0;
    bool found = false;
    for (int k = 0; k <= nCurves; ++k) {
      found = FindNextSnipParam(trimNode, crossings->head, from, 1, &exitTp, &exitSide,
                                &exitParam, &exitKey) != 0;
      if (found) break;
      bool ok;
      Bspline* piece = TrimStretch(curve, surface, from, Hi(curve, 0), &ok);
      if (!ok || (piece && !AddToLoop(surface, &made, piece))) return fail();
      trimNode = NextInLoop(cur, trimNode);
      curve = trimNode->item;
      from = Lo(curve, 0);
    }
    if (!found) return fail();
    bool ok;
    Bspline* piece = TrimStretch(curve, surface, from, exitTp, &ok);
    if (!ok || (piece && !AddToLoop(surface, &made, piece))) return fail();
    MarkFilUsedField(crossings, exitTp);
    FreeTrimCurveBsplines(cur);
    cur = nullptr;

    // Fillet stretch: along the contact curve to the neighbouring crossing. The walker writes
    // nothing when it finds none, so the outputs start off any crossing.
    double nextParam = exitParam, nextTp = 0.0, nextKey = exitKey;
    BsplineList* nextNode = nullptr;
    FindNextFilParam(crossings, exitParam, &nextParam, &nextTp, &nextNode, forward, &nextKey);
    if (!nextNode) return fail();
    BsplineList* contact = nullptr;
    if (FindIfAnyFilletCurve(surface, pieces, exitKey, nextKey, &contact, which) != 0)
      return fail();
    while (contact) {
      BsplineList* next = contact->next;
      AppendBsplToSurfCrvList(contact->item, surface);
      contact->next = nullptr;
      AppendNode(&made, contact);
      contact = next;
    }
    if (nextParam == startParam) {
      *loop = made;
      return 0;
    }
    if (!GetTrimCurveOfTrimPiece(nextNode, surface->trims, &cur)) return fail();
    nCurves = CountLoopCurves(cur);
    trimNode = nextNode;
    tp = nextTp;
  }
  return fail();
}

// ---- Fillet boundaries: extension, the parameter box, clipping and trimming -----------------

namespace {

// Box slots of a surface's direction: u1 0, u2 1, v1 2, v2 3 (minima; maxima 4 later, the
// unextended domains 8 later). A surface stored as (v, u) swaps its two slots.
int BoxSlot(int surface, int dir, int swap) {
  const int d = swap == -1 ? 1 - dir : dir;
  return 2 * d + surface;
}

// A knot span's length for the extension: the first or last span in a direction.
double EndSpanShare(const Bspline* obj, int dir) {
  const double* k = dir ? obj->knotsV : obj->knotsU;
  const int p = dir ? obj->degreeV : obj->degreeU;
  const int n = dir ? NumCtrlV(obj) : NumCtrlU(obj);
  return std::fmin(k[p + 1] - k[p], k[n] - k[n - 1]) / 6.0;
}

bool InsideBox(const IntersectionTraceNode* n, const double* box) {
  const double x[4] = {n->u1, n->u2, n->v1, n->v2};
  for (int i = 0; i < 4; ++i)
    if (x[i] < box[i] - 1e-4 || x[i] > box[i + 4] + 1e-4) return false;
  return true;
}

// Appends a node with the given parameters, its point on S1 and the radius. false on no memory.
bool AppendAt(Bspline* S1, IntersectionTrace* t, double u1, double v1, double u2, double v2,
              double radius) {
  double P[3];
  Eval3DPointOnSurfArray(S1, u1, v1, 0, 0, P);
  IntersectionTraceNode* n = AppendTraceNode(t, P, u1, v1, u2, v2);
  if (!n) return false;
  n->filletParam = radius;
  return true;
}

// Edge of a point of the domain: 0 u-min, 3 v-min, 2 u-max, 1 v-max tested in that order (the
// last match counts), -1 on none.
int EdgeOfPoint(const Bspline* s, double u, double v, double share) {
  const double tu = share * (Hi(s, 0) - Lo(s, 0)), tv = share * (Hi(s, 1) - Lo(s, 1));
  int e = -1;
  if (std::fabs(u - Lo(s, 0)) <= tu) e = 0;
  if (std::fabs(v - Lo(s, 1)) <= tv) e = 3;
  if (std::fabs(u - Hi(s, 0)) <= tu) e = 2;
  if (std::fabs(v - Hi(s, 1)) <= tv) e = 1;
  return e;
}

int WrapEdge(int e) { return ((e % 4) + 4) % 4; }

void CurveUV(const Bspline* c, double t, int d, double out[2]) {
  Eval2DPointOnCurve2Array(nullptr, c, t, d, out);
}

}  // namespace

int ExtendObjectsInAllDir(Bspline** object, double minLength, int flags[4]) {
  if (!object || !RecordsSound({*object})) return -2;
  if (!flags || !std::isfinite(minLength)) {
    SetKernelError(-2);
    return -2;
  }
  for (int i = 0; i < 4; ++i) flags[i] = 0;
  // Edges in order: u-min, u-max, then for a surface v-min, v-max; flag slots likewise.
  static const int edges[4] = {0, 2, 3, 1};
  for (int k = 0; k < 4; ++k) {
    Bspline* obj = *object;
    const int dir = k < 2 ? 0 : 1;
    if (dir == 1 && obj->kind != 2) break;
    if (dir == 0 ? obj->closedU : obj->closedV) continue;
    const double length = std::fmax(minLength, EndSpanShare(obj, dir));
    Bspline* e = ExtendObject(obj, nullptr, nullptr, length, 1, edges[k], 1, 1.0);
    if (!e) {
      // A side that cannot be extended keeps the object as it was.
      ClearKernelError();
      continue;
    }
    FreeBspline(obj);
    *object = e;
    flags[k] = 1;
  }
  return 0;
}

void SetOrigNewMinMax(Bspline* S1ext, Bspline* S2ext, Bspline* S1, Bspline* S2, int swap1,
                      int swap2, double* box) {
  if (!SurfacesSound({S1ext, S2ext, S1, S2})) return;
  if (!box) {
    SetKernelError(-2);
    return;
  }
  Bspline* ext[2] = {S1ext, S2ext};
  Bspline* orig[2] = {S1, S2};
  const int swap[2] = {swap1, swap2};
  for (int s = 0; s < 2; ++s)
    for (int dir = 0; dir < 2; ++dir) {
      const int slot = BoxSlot(s, dir, swap[s]);
      const Bspline* x = ext[s];
      const double olo = Lo(orig[s], dir), ohi = Hi(orig[s], dir);
      box[8 + slot] = olo;
      box[12 + slot] = ohi;
      const int p = dir ? x->degreeV : x->degreeU;
      const int interior = dir ? x->interiorV : x->interiorU;
      const double* k = dir ? x->knotsV : x->knotsU;
      if (dir ? x->closedV : x->closedU) {
        box[slot] = Lo(x, dir);
        box[4 + slot] = Hi(x, dir);
      } else if (p == 1) {
        box[slot] = (Hi(x, dir) - ohi) / 2 + olo;
        box[4 + slot] = box[slot] + (ohi - olo);
      } else {
        // The extension added one span at each end.
        box[slot] = k[p + 1];
        box[4 + slot] = k[p + interior];
      }
    }
}

void ScaleCurveToOrigSurf(Bspline* S1, Bspline* S2, IntersectionTrace* trace, int swap1, int swap2,
                          const double* box) {
  for (IntersectionTraceNode* n = trace->head; n; n = n->next) {
    double* x[4] = {&n->u1, &n->u2, &n->v1, &n->v2};
    for (int i = 0; i < 4; ++i)
      *x[i] = MapRange(*x[i], box[i], box[i + 4], box[i + 8], box[i + 12]);
    PutIfOutToOrigSurfBndry(S1, &n->u1, &n->v1, swap1);
    PutIfOutToOrigSurfBndry(S2, &n->u2, &n->v2, swap2);
  }
}

int ExtrapolatePt(double* u1, double* v1, double* u2, double* v2, double au1, double av1,
                  double au2, double av2, const double* box) {
  if (!u1 || !v1 || !u2 || !v2 || !box) return 0;
  // Coordinates by box slot: u1, u2, v1, v2; the partner of a coordinate is the other one of
  // its surface (u1 with v1, u2 with v2), the same kind on the other surface is slot ^ 1.
  double* p[4] = {u1, u2, v1, v2};
  const double a[4] = {au1, au2, av1, av2};
  static const int order[8][2] = {{0, 0}, {0, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {3, 0}, {3, 1}};
  int moved = 0;
  for (const auto& o : order) {
    const int c = o[0], hi = o[1];
    const double bound = box[c + 4 * hi];
    const bool passes = hi ? *p[c] > bound + 1e-4 : *p[c] < bound - 1e-4;
    if (!passes) continue;
    moved = 1;
    const int partner = c ^ 2, other = c ^ 1, otherPartner = other ^ 2;
    double lambda = (bound - a[c]) / (*p[c] - a[c]);
    *p[c] = bound;
    *p[partner] = lambda * *p[partner] + (1 - lambda) * a[partner];
    const double obound = box[other + 4 * hi];
    const bool opasses = hi ? *p[other] > obound + 1e-4 : *p[other] < obound - 1e-4;
    if (opasses) {
      lambda = (obound - a[other]) / (*p[other] - a[other]);
      *p[other] = obound;
    } else {
      *p[other] = lambda * *p[other] + (1 - lambda) * a[other];
    }
    *p[otherPartner] = lambda * *p[otherPartner] + (1 - lambda) * a[otherPartner];
  }
  return moved;
}

int CheckCrvDir(Bspline* S1, Bspline* S2, double u1, double v1, double u2, double v2,
                IntersectionTraceNode* node) {
  if (!node || !node->prev) return 0;
  double A1[3], A2[3], N1[3], N2[3], Q1[3], Q2[3];
  Eval3DPointOnSurfArray(S1, u1, v1, 0, 0, A1);
  Eval3DPointOnSurfArray(S2, u2, v2, 0, 0, A2);
  Eval3DPointOnSurfArray(S1, node->u1, node->v1, 0, 0, N1);
  Eval3DPointOnSurfArray(S2, node->u2, node->v2, 0, 0, N2);
  Eval3DPointOnSurfArray(S1, node->prev->u1, node->prev->v1, 0, 0, Q1);
  Eval3DPointOnSurfArray(S2, node->prev->u2, node->prev->v2, 0, 0, Q2);
  double d1 = 0.0, d2 = 0.0;
  for (int q = 0; q < 3; ++q) {
    d1 += (A1[q] - N1[q]) * (N1[q] - Q1[q]);
    d2 += (A2[q] - N2[q]) * (N2[q] - Q2[q]);
  }
  return d1 < 0.0 || d2 < 0.0 ? 100 : 0;
}

int SnipCurveToBnd(Bspline* S1, Bspline* S2, IntersectionTrace* fillet, IntersectionTrace** out,
                   const double* box) {
  *out = nullptr;
  IntersectionTrace* t = MallocIntersectionTrace();
  if (!t) return -2;
  int count = 0;
  bool ok = true, started = false;
  for (IntersectionTraceNode* n = fillet->head; n && ok; n = n->next) {
    if (InsideBox(n, box)) {
      if (!started && n->prev) {
        // The trace enters the box: its entry point starts the clipped trace.
        const IntersectionTraceNode* p = n->prev;
        double u1 = p->u1, v1 = p->v1, u2 = p->u2, v2 = p->v2;
        ExtrapolatePt(&u1, &v1, &u2, &v2, n->u1, n->v1, n->u2, n->v2, box);
        ok = AppendAt(S1, t, u1, v1, u2, v2, p->filletParam);
      }
      started = true;
      if (ok) {
        IntersectionTraceNode* c = AppendTraceNode(t, &n->x, n->u1, n->v1, n->u2, n->v2);
        ok = c != nullptr;
        if (c) c->filletParam = n->filletParam;
        ++count;
      }
    } else if (count > 0) {
      // The trace leaves the box: its exit point ends the clipped stretch, unless it turns back.
      const IntersectionTraceNode* p = n->prev;
      double u1 = n->u1, v1 = n->v1, u2 = n->u2, v2 = n->v2;
      ExtrapolatePt(&u1, &v1, &u2, &v2, p->u1, p->v1, p->u2, p->v2, box);
      if (CheckCrvDir(S1, S2, u1, v1, u2, v2, n->prev) == 0)
        ok = AppendAt(S1, t, u1, v1, u2, v2, n->filletParam);
      count = -1;
    }
  }
  if (!ok) {
    FreeTraceNodes(t);
    Free(t);
    return -2;
  }
  t->open = fillet->open;
  *out = t;
  return count == 0 ? 1969 : 0;
}

int ExtendFilletToBndry(Bspline** curve, int* extended, double* startU, double* startV,
                        double* endU, double* endV) {
  if (!curve || !CurveOnSurfaceSound(*curve)) return -2;
  if (!extended || !startU || !startV || !endU || !endV) {
    SetKernelError(-2);
    return -2;
  }
  *extended = 0;
  Bspline* c = *curve;
  if (c->closedU) return 0;
  Bspline* s = c->owner;
  double a[2], b[2];
  CurveUV(c, Lo(c, 0), 0, a);
  CurveUV(c, Hi(c, 0), 0, b);
  PutIfOutToBndry(s, &a[0], &a[1]);
  PutIfOutToBndry(s, &b[0], &b[1]);
  const double ur = Hi(s, 0) - Lo(s, 0), vr = Hi(s, 1) - Lo(s, 1);
  const bool onA = EdgeOfPoint(s, a[0], a[1], 1e-6) >= 0;
  const bool onB = EdgeOfPoint(s, b[0], b[1], 1e-6) >= 0;
  // The mean control-polygon length per unit of parameter, times the range the curve spans
  // relatively more of.
  const double perParam =
      (GetObjSpanInParDir(s, 0, 0) + GetObjSpanInParDir(s, 1, 0)) / (ur + vr);
  const double length =
      perParam * (std::fabs(b[1] - a[1]) / vr <= std::fabs(b[0] - a[0]) / ur ? ur : vr);
  const bool ends[2] = {!onA, !onB};
  for (int k = 0; k < 2; ++k) {
    if (!ends[k]) continue;
    Bspline* e = ExtendObject(c, nullptr, nullptr, length, 0, k == 0 ? 0 : 2, 1, 1.0);
    if (!e) return -2;
    e->owner = s;
    // The extension takes the curve's place on its surface's list.
    const bool listed = RemoveCurveFromBsplineList(c) != nullptr;
    FreeBspline(c);
    c = e;
    *curve = c;
    *extended = 1;
    if (listed) {
      PutBsplToSurfCrvList(c, s);
      if (KernelFailed()) return -2;
    }
  }
  if (*extended) {
    CurveUV(c, Lo(c, 0), 0, a);
    CurveUV(c, Hi(c, 0), 0, b);
    PutIfOutToBndry(s, &a[0], &a[1]);
    PutIfOutToBndry(s, &b[0], &b[1]);
    *startU = a[0];
    *startV = a[1];
    *endU = b[0];
    *endV = b[1];
  }
  return 0;
}

int TrimOrigSurfaces(Bspline* surface, BsplineList* contact, Bspline* reference, int which,
                     int mode, int swap, const double* box) {
  if (!surface || !contact || !reference) return 0;
  Bspline* S = surface;
  const double ur = Hi(S, 0) - Lo(S, 0), vr = Hi(S, 1) - Lo(S, 1);
  const double tolU = 1e-6 * ur, tolV = 1e-6 * vr;
  // The reference curve's ends mapped from the extended ranges onto the unextended domain.
  const int s = which == 1 ? 0 : 1;
  auto mapU = [&](double x) { return MapRange(x, box[s], box[s + 4], box[s + 8], box[s + 12]); };
  auto mapV = [&](double x) {
    return MapRange(x, box[s + 2], box[s + 6], box[s + 10], box[s + 14]);
  };
  double R[2][2];
  for (int k = 0; k < 2; ++k) {
    double xy[2];
    CurveUV(reference, k ? Hi(reference, 0) : Lo(reference, 0), 0, xy);
    R[k][0] = swap == -1 ? mapV(xy[0]) : mapU(xy[0]);
    R[k][1] = swap == -1 ? mapU(xy[1]) : mapV(xy[1]);
  }
  Bspline* first = contact->item;
  Bspline* last = first;
  for (BsplineList* c = contact; c; c = c->next) last = c->item;
  double Ps[2], Pe[2];
  CurveUV(first, Lo(first, 0), 0, Ps);
  CurveUV(last, Hi(last, 0), 0, Pe);
  PutIfOutToBndry(S, &Ps[0], &Ps[1]);
  PutIfOutToBndry(S, &Pe[0], &Pe[1]);
  BsplineList* list = contact;
  auto reduceToFirst = [&]() {
    FreeListNodes(list->next);
    list->next = nullptr;
  };
  auto makeLoop = [&](int hole) {
    TrimList* loop = nullptr;
    ConstructTrimCurveList(S, list, hole, 0, nullptr, nullptr, 0, 0, 1, nullptr, &loop);
  };
  const bool closedPiece = first->closedU != 0;
  if (closedPiece && std::fabs(Ps[0] - Pe[0]) < 1e-4 && std::fabs(Ps[1] - Pe[1]) < 1e-4) {
    reduceToFirst();
    double M[2];
    CurveUV(first, 0.5 * (Lo(first, 0) + Hi(last, 0)), 0, M);
    PutIfOutToBndry(S, &M[0], &M[1]);
    M[0] = 0.5 * (M[0] + Ps[0]);
    M[1] = 0.5 * (M[1] + Ps[1]);
    double SM[3], SP[3], RP[3], xy[2];
    Eval3DPointOnSurfArray(S, M[0], M[1], 0, 0, SM);
    Eval3DPointOnSurfArray(S, Ps[0], Ps[1], 0, 0, SP);
    CurveUV(reference, Lo(reference, 0), 0, xy);
    Eval3DPointOnSurfArray(reference->owner, xy[0], xy[1], 0, 0, RP);
    double dot = 0.0;
    for (int q = 0; q < 3; ++q) dot += (SM[q] - SP[q]) * (RP[q] - SP[q]);
    makeLoop(dot >= 0.0 ? 1 : 0);
    return 0;
  }
  if (S->closedU || S->closedV) {
    if (mode == 1 && !closedPiece) return 0;
    reduceToFirst();
    const int edge = S->closedU
                         ? (R[0][1] - Ps[1] >= tolV || R[1][1] - Pe[1] >= tolV ? 3 : 1)
                         : (R[0][0] - Ps[0] >= tolU || R[1][0] - Pe[0] >= tolU ? 0 : 2);
    CreateBndryCurve(S, edge, 1, &list, Ps[0], Ps[1], Pe[0], Pe[1], 0);
    if (list->next) {
      Bspline* side = list->next->item;
      double t0[2], t1[2];
      CurveUV(first, Lo(first, 0), 1, t0);
      CurveUV(side, Lo(side, 0), 1, t1);
      if (t0[0] * t1[0] + t0[1] * t1[1] >= 0.0) reverseBspline(side);
    }
    makeLoop(0);
    return 0;
  }
  int e0, e1;
  if (mode == 1) {
    // Only a contact curve running from edge to edge is trimmed by.
    e0 = EdgeOfPoint(S, Ps[0], Ps[1], 0.001);
    e1 = EdgeOfPoint(S, Pe[0], Pe[1], 0.001);
    if (e0 < 0 || e1 < 0) return 0;
  } else if (std::fabs(Ps[0] - Pe[0]) / ur < std::fabs(Ps[1] - Pe[1]) / vr) {
    e0 = Pe[1] <= Ps[1] ? 1 : 3;
    e1 = Pe[1] <= Ps[1] ? 3 : 1;
  } else {
    e0 = Pe[0] <= Ps[0] ? 2 : 0;
    e1 = Pe[0] <= Ps[0] ? 0 : 2;
  }
  auto side = [&](int edge, int orientation, int whole) {
    CreateBndryCurve(S, WrapEdge(edge), orientation, &list, Ps[0], Ps[1], Pe[0], Pe[1], whole);
  };
  if (std::abs(e0 - e1) == 2) {
    int d;
    if (e0 == 0 || e1 == 0)
      d = R[0][1] - Ps[1] < tolV && R[1][1] - Pe[1] < tolV ? -1 : 1;
    else
      d = R[0][0] - Ps[0] < tolU && R[1][0] - Pe[0] < tolU ? -1 : 1;
    if (e0 > e1) d = -d;
    side(e1 + d, d, 0);
  } else if (e1 - e0 == 1 || e1 - e0 == -3) {
    side(e1 + 1, 1, 1);
    side(e1 + 2, 1, 1);
  } else if (e1 - e0 == -1 || e1 - e0 == 3) {
    side(e1 - 1, -1, 1);
    side(e1 - 2, -1, 1);
  } else {
    int d;
    switch (e1) {
      case 0: d = Pe[1] <= Ps[1] ? -1 : 1; break;
      case 1: d = Pe[0] <= Ps[0] ? -1 : 1; break;
      case 2: d = Pe[1] < Ps[1] ? 1 : -1; break;
      default: d = Pe[0] < Ps[0] ? 1 : -1; break;
    }
    side(e1 + d, d, 1);
    side(e1 + 2 * d, d, 1);
    side(e1 + 3 * d, d, 1);
  }
  makeLoop(0);
  return 0;
}
