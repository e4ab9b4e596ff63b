#include "curve/crvproj.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/crvlist.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfgrid.h"
#include "cloud/makecld.h"
#include "curve/cintsct.h"
#include "curve/crvutil.h"
#include "curve/fitcurve.h"
#include "curve/mkline3.h"
#include "curve/pntintrp.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// Bisection steps that locate where a projection leaves or re-enters the surface.
constexpr int kEdgeSteps = 20;

struct ProjSample {
  double u, v, t;
  int state;  // 1 usable, -1 beyond the edge
};

// The surface's size: the diagonal of its control net's box (at least 1e-300).
double SurfaceSize(const Bspline* srf) {
  double lo[3] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound}, hi[3];
  for (int k = 0; k < 3; ++k) hi[k] = -lo[k];
  double** rows[3] = {srf->X, srf->Y, srf->Z};
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        lo[k] = std::min(lo[k], rows[k][j][i]);
        hi[k] = std::max(hi[k], rows[k][j][i]);
      }
  return std::max(VecDist3(lo, hi), 1e-300);
}

// Opposite sides whose control points lie this close together, relative to the surface's size,
// meet: the surface is closed there whether or not its record says so (a file reader may leave
// the flag unset), and a projection must go the short way across that seam.
constexpr double kSidesMeet = 1e-9;

// Whether srf is closed in dir (0 u, 1 v): flagged so, or its first and last control columns
// (rows) coincide, with weights in one ratio (the same boundary curve).
bool ClosedIn(const Bspline* srf, int dir) {
  if (dir == 0 ? srf->closedU : srf->closedV) return true;
  const int nu = NumCtrlU(srf), nv = NumCtrlV(srf), n = dir == 0 ? nv : nu;
  const double tol = kSidesMeet * SurfaceSize(srf);
  double ratio = 0.0;
  for (int k = 0; k < n; ++k) {
    const int j0 = dir == 0 ? k : 0, i0 = dir == 0 ? 0 : k;
    const int j1 = dir == 0 ? k : nv - 1, i1 = dir == 0 ? nu - 1 : k;
    const double a[3] = {srf->X[j0][i0], srf->Y[j0][i0], srf->Z[j0][i0]};
    const double b[3] = {srf->X[j1][i1], srf->Y[j1][i1], srf->Z[j1][i1]};
    if (!(VecDist3(a, b) <= tol)) return false;
    if (srf->W) {
      const double r = srf->W[j1][i1] / srf->W[j0][i0];
      if (k == 0) ratio = r;
      else if (!(std::fabs(r - ratio) <= 1e-9 * ratio)) return false;
    }
  }
  return true;
}

// Whether the short way from t0 to t1 in dir crosses the seam of a surface closed there.
bool CrossesSeam(const Bspline* srf, double t0, double t1, int dir, bool closed) {
  if (!closed) return false;
  const double range = dir == 0 ? srf->umax - srf->umin : srf->vmax - srf->vmin;
  const double step = std::fabs(t1 - t0);
  return step > range - step;
}

// The 3D point of a curve: a 3D curve directly, a curve on a surface through its owner.
void CurvePoint(Bspline* curve, double t, double P[3]) {
  if (curve->dimension == 2)
    EvalCrvOnSrfCoord(curve->owner, curve, t, 0, P);
  else
    Eval3DPointOnCurve3Coord(curve, t, 0, P);
}

// The squared 3D distance from P to the image of a curve on its owner surface, from a start
// on the cache's samples of the curve; -1 when no start was found.
double SqDistanceToImage(Bspline* piece, CurveSampleCache& cache, const double P[3], double* at = nullptr) {
  double t, C[3], d2, step;
  if (cache.Estimate(piece, P, &t) != 0) return -1.0;
  FindClosestPointCurveOnSurf(piece, P, C, piece->umin, piece->umax, &t, &d2, &step, 7);
  if (at) *at = t;
  return d2;
}

// A foot on the boundary is beyond the edge when the point leans past the edge by more than
// this fraction of the surface's size: a converged interior foot leaves only round-off along the
// tangent plane, and the crossing found by bisection then lies within this of the true one.
constexpr double kBeyondEdge = 1e-7;

int PoleAt(Bspline* srf, double u, double v);

// Grades the foot q at (s->u, s->v) of P, at distance d: usable unless on the boundary with P
// past the edge.
void GradeFoot(Bspline* srf, const double P[3], const double q[3], double d, ProjSample* s) {
  const double ru = 1e-6 * (srf->umax - srf->umin), rv = 1e-6 * (srf->vmax - srf->vmin);
  // The seam of a closed direction is no edge: the surface goes on across it; nor is a side
  // collapsed to one point (a pole, an apex), through which it goes on too.
  auto edge = [srf](double x, double lo, double hi, double r, int dir) {
    return (std::fabs(x - lo) <= r && !SurfaceSideCollapsed(srf, dir, 0)) ||
           (std::fabs(x - hi) <= r && !SurfaceSideCollapsed(srf, dir, 1));
  };
  // A side collapsed to one point across a direction that is not closed (the apex of a fan) is a
  // corner where the edges of that direction meet, at whatever value of it the search reports.
  const int pole = PoleAt(srf, s->u, s->v);
  const bool onBound = (!ClosedIn(srf, 0) && edge(s->u, srf->umin, srf->umax, ru, 0)) ||
                       (!ClosedIn(srf, 1) && edge(s->v, srf->vmin, srf->vmax, rv, 1)) ||
                       (pole >= 0 && !ClosedIn(srf, 1 - pole / 2));
  s->state = 1;
  if (!onBound) return;
  // A point on the surface itself (within 1e-6 of its size) is over it wherever its foot lies.
  const double size = SurfaceSize(srf);
  if (std::fabs(d) < 1e-6 * size) return;
  // The part of P - q along the tangent plane: a foot held on the edge leaves the point's lean
  // past it there (a surface without a normal at the foot counts all of P - q).
  double Su[3], Sv[3], n[3], r[3];
  Eval3DPointOnSurfCoord(srf, s->u, s->v, 1, 0, Su);
  Eval3DPointOnSurfCoord(srf, s->u, s->v, 0, 1, Sv);
  VecCrossProd3(Su, Sv, n);
  VecDiff3(P, q, r);
  const double nn2 = VecDotProd3(n, n);
  if (nn2 > 0.0) {
    const double f = VecDotProd3(r, n) / nn2;
    for (int k = 0; k < 3; ++k) r[k] -= f * n[k];
  }
  if (VecSize3(r) > kBeyondEdge * size) s->state = -1;
}

// A refinement is held on the domain's edge: on a seam of a closed direction the foot may lie
// just across it, so the refinement runs again from the seam's other side and the nearer foot
// is kept (q and d with it).
void AcrossSeams(Bspline* srf, const double P[3], ProjSample* s, double q[3], double* d) {
  for (int dir = 0; dir < 2; ++dir) {
    if (!ClosedIn(srf, dir)) continue;
    const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
    const double at = dir == 0 ? s->u : s->v, near = 1e-6 * (hi - lo);
    if (!(std::fabs(at - lo) <= near || std::fabs(at - hi) <= near)) continue;
    double u = dir == 0 ? (std::fabs(at - lo) <= near ? hi : lo) : s->u;
    double v = dir == 1 ? (std::fabs(at - lo) <= near ? hi : lo) : s->v;
    double q2[3], d2, stepSq;
    if (FindClosestUVPointGuessDist(srf, P, q2, &u, &v, &d2, &stepSq, 20) != 0) continue;
    if (!(std::fabs(d2) < std::fabs(*d) - 1e-15 * SurfaceSize(srf))) continue;
    s->u = u;
    s->v = v;
    *d = d2;
    for (int k = 0; k < 3; ++k) q[k] = q2[k];
  }
}

// Projects P onto srf with the grid cache and grades the result. 0, or -2 when the closest-point
// search failed.
int ProjectPoint(Bspline* srf, const double P[3], double** gx, double** gy, double** gz,
                 ProjSample* s) {
  double q[3], d, e;
  if (SurfaceClosestPoint(srf, P, &s->u, &s->v, q, &d, gx, gy, gz, &e) != 0) return -2;
  AcrossSeams(srf, P, s, q, &d);
  GradeFoot(srf, P, q, d, s);
  return 0;
}

// As ProjectPoint, refined from the start (s->u, s->v) without the grid search: for points
// between samples whose feet are known. 0, or -2 on a surface without a normal there.
int ProjectPointNear(Bspline* srf, const double P[3], ProjSample* s) {
  double q[3], d, stepSq;
  if (FindClosestUVPointGuessDist(srf, P, q, &s->u, &s->v, &d, &stepSq, 20) != 0) return -2;
  AcrossSeams(srf, P, s, q, &d);
  GradeFoot(srf, P, q, d, s);
  return 0;
}

// The coordinate of a sample in a direction (0 u, 1 v).
double& Coord(ProjSample& q, int dir) { return dir == 0 ? q.u : q.v; }

// Whether the feet of two samples lie on either side of a seam of srf (the short way between
// them crosses it): the direction, or -1.
int SeamBetween(Bspline* srf, const ProjSample& a, const ProjSample& b) {
  if (CrossesSeam(srf, a.u, b.u, 0, ClosedIn(srf, 0))) return 0;
  if (CrossesSeam(srf, a.v, b.v, 1, ClosedIn(srf, 1))) return 1;
  return -1;
}

// A value x of the closed direction dir lying on its seam takes the seam's side nearer to other.
void SeamSideOf(const Bspline* srf, int dir, double other, double* x) {
  const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
  const double near = 1e-6 * (hi - lo);
  if (std::fabs(*x - lo) <= near || std::fabs(*x - hi) <= near) *x = other - lo <= hi - other ? lo : hi;
}

// A sample on a seam of a closed direction takes the seam's side its neighbour lies on (the one
// before it, the first sample the one after), so that only true crossings of the seam remain
// between successive samples.
void SideOfSeams(Bspline* srf, ProjSample* s, int n) {
  if (n < 2) return;
  for (int dir = 0; dir < 2; ++dir) {
    if (!ClosedIn(srf, dir)) continue;
    for (int i = 0; i < n; ++i) SeamSideOf(srf, dir, Coord(s[i == 0 ? 1 : i - 1], dir), &Coord(s[i], dir));
  }
}

int FreeAtPole(Bspline* srf, const ProjSample& q);

// An edge crossing q on a seam takes the side of the sample beside it in its run; one on a pole
// or an apex (a corner of the domain where edges meet it) lies there at any value of the free
// parameter, and takes the value of that sample, along which its run reaches or leaves it.
ProjSample CrossingBeside(Bspline* srf, const ProjSample& beside, ProjSample q) {
  for (int dir = 0; dir < 2; ++dir)
    if (ClosedIn(srf, dir)) SeamSideOf(srf, dir, dir == 0 ? beside.u : beside.v, &Coord(q, dir));
  const int free = FreeAtPole(srf, q);
  if (free >= 0 && FreeAtPole(srf, beside) < 0) Coord(q, free) = free == 0 ? beside.u : beside.v;
  return q;
}

// The side of srf collapsed to one point (a pole, an apex) that the foot (u, v) lies on, as
// 2 dir + end (dir 0 u, 1 v; end 0 at the range's start, 1 at its end); -1 off such sides.
int PoleAt(Bspline* srf, double u, double v) {
  for (int dir = 0; dir < 2; ++dir) {
    const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
    const double near = 1e-6 * (hi - lo), at = dir == 0 ? u : v;
    for (int end = 0; end < 2; ++end)
      if (std::fabs(at - (end ? hi : lo)) <= near && SurfaceSideCollapsed(srf, dir, end)) return 2 * dir + end;
  }
  return -1;
}

// The direction whose parameter is free at the foot of a sample on a side of srf collapsed to
// one point (a pole, an apex): there every value of it is the same point. -1 off such sides.
int FreeAtPole(Bspline* srf, const ProjSample& q) {
  const int side = PoleAt(srf, q.u, q.v);
  return side < 0 ? -1 : 1 - side / 2;
}

// Whether the points (u[i], v[i]), i < n, of the parameter plane all lie on one pole or apex:
// a stretch of a curve whose feet do projects onto the point itself, and a curve through them
// would have no length (only their free values differ, as the round-off of each placement sets
// them).
bool RunOnOnePole(Bspline* srf, const double* u, const double* v, int n) {
  const int side = PoleAt(srf, u[0], v[0]);
  if (side < 0) return false;
  for (int i = 1; i < n; ++i)
    if (PoleAt(srf, u[i], v[i]) != side) return false;
  return true;
}

// Feet on a pole or an apex lie there at any value of the free parameter, and the projection
// reaches the point along one value and leaves it along another: the value along which it goes
// from the pole sample `at` towards the sample `to`, from the foot of the curve's point a
// thousandth of the way there. The feet of a stretch of the curve may all lie on the point (a
// curve passing within the cone of normals of an apex): when the foot there is still on it and
// that of `to` is not, the place where the feet leave it is found by bisection on the curve's
// parameter, and the value is taken a thousandth of the way on from there. Where the free
// direction is closed, a value on its seam takes the side of `to`. 0, or -2 when the projection
// failed.
constexpr double kOffPole = 1e-3;
int PoleSide(Bspline* curve, Bspline* srf, const ProjSample& at, const ProjSample& to, int free,
             SurfaceGridCache& grid, double* x) {
  const double lo = free == 0 ? srf->umin : srf->vmin, hi = free == 0 ? srf->umax : srf->vmax;
  ProjSample m = at;
  double P[3];
  auto footAt = [&](double t, ProjSample* q) {
    *q = at;
    q->t = t;
    CurvePoint(curve, t, P);
    return ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, q);
  };
  if (footAt(at.t + kOffPole * (to.t - at.t), &m) != 0) return -2;
  if (FreeAtPole(srf, m) == free && FreeAtPole(srf, to) < 0) {
    double on = m.t, off = to.t;
    ProjSample offFoot = to;
    const double finest = 1e-14 * (curve->umax - curve->umin);
    for (int it = 0; it < 200 && std::fabs(off - on) > finest; ++it) {
      ProjSample q;
      if (footAt(0.5 * (on + off), &q) != 0) return -2;
      if (FreeAtPole(srf, q) == free)
        on = q.t;
      else
        off = q.t, offFoot = q;
    }
    if (footAt(off + kOffPole * (to.t - off), &m) != 0) return -2;
    if (FreeAtPole(srf, m) == free) m = offFoot;
  }
  *x = Coord(m, free);
  if (!ClosedIn(srf, free)) return 0;
  // Near the pole a foot's free value is loose (the search stops at round-off of the point, a
  // wide angle there): a foot within kBeyondEdge of the size of the seam's point beside it lies
  // on the seam.
  const double seam = *x - lo <= hi - *x ? lo : hi;
  ProjSample onSeam = m;
  Coord(onSeam, free) = seam;
  double S[3], T[3];
  Eval3DPointOnSurfCoord(srf, m.u, m.v, 0, 0, S);
  Eval3DPointOnSurfCoord(srf, onSeam.u, onSeam.v, 0, 0, T);
  if (std::fabs(*x - seam) <= 1e-6 * (hi - lo) || VecDist3(S, T) <= kBeyondEdge * SurfaceSize(srf)) {
    const double y = free == 0 ? to.u : to.v;
    *x = y - lo <= hi - y ? lo : hi;
  }
  return 0;
}

// The free value of each sample on a pole becomes the one it is reached along (from the sample
// before; the first sample's the one it is left along), and the one it is left along goes to
// out (for the samples but the last). 0, or -2 when a projection failed.
int PoleSides(Bspline* curve, Bspline* srf, ProjSample* s, int n, double* out, SurfaceGridCache& grid) {
  for (int i = 0; i < n; ++i) {
    out[i] = 0.0;
    const int free = s[i].state == 1 ? FreeAtPole(srf, s[i]) : -1;
    if (free < 0) continue;
    double side[2] = {Coord(s[i], free), Coord(s[i], free)};
    if (i > 0 && PoleSide(curve, srf, s[i], s[i - 1], free, grid, &side[0]) != 0) return -2;
    if (i + 1 < n && PoleSide(curve, srf, s[i], s[i + 1], free, grid, &side[1]) != 0) return -2;
    Coord(s[i], free) = i > 0 ? side[0] : side[1];
    out[i] = side[1];
  }
  return 0;
}

// Feet of successive samples whose free values at a collapsed side differ by this fraction of
// the range or more (the short way round a closed direction) may lie either side of a pole
// between them.
constexpr double kPoleJump = 0.25;

// Whether the projection between the usable samples a and b passes over a pole or an apex: where
// their feet's values along a collapsed side differ by kPoleJump of the range, the curve's
// parameter whose foot lies nearest that point (golden-section search, to round-off of the
// step) is sought, and a foot on the collapsed side there is the crossing: *m (its free
// direction in *free, the pole's side values along which the projection reaches and leaves it
// in *in and *out). 0 with *free -1 when there is none, -2 when a projection failed.
int PoleBetween(Bspline* curve, Bspline* srf, const ProjSample& a, const ProjSample& b, SurfaceGridCache& grid,
                ProjSample* m, int* free, double* in, double* out) {
  *free = -1;
  for (int dir = 0; dir < 2; ++dir)
    for (int end = 0; end < 2; ++end) {
      if (!SurfaceSideCollapsed(srf, dir, end)) continue;
      const int f = 1 - dir;
      const double lo = f == 0 ? srf->umin : srf->vmin, hi = f == 0 ? srf->umax : srf->vmax;
      double jump = std::fabs((f == 0 ? b.u - a.u : b.v - a.v));
      if (ClosedIn(srf, f)) jump = std::fmin(jump, (hi - lo) - jump);
      if (jump < kPoleJump * (hi - lo)) continue;
      const int nu = NumCtrlU(srf), nv = NumCtrlV(srf);
      const int j = dir == 1 ? (end ? nv - 1 : 0) : 0, i = dir == 0 ? (end ? nu - 1 : 0) : 0;
      const double pole[3] = {srf->X[j][i], srf->Y[j][i], srf->Z[j][i]};
      auto gap = [&](double t, ProjSample* q) {
        double P[3], S[3];
        *q = a;
        q->t = t;
        CurvePoint(curve, t, P);
        if (ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, q) != 0) return -1.0;
        Eval3DPointOnSurfCoord(srf, q->u, q->v, 0, 0, S);
        return VecDist3(S, pole);
      };
      const double g = 0.5 * (std::sqrt(5.0) - 1.0);
      double t0 = a.t, t1 = b.t, x1 = t1 - g * (t1 - t0), x2 = t0 + g * (t1 - t0);
      ProjSample q1, q2;
      double f1 = gap(x1, &q1), f2 = gap(x2, &q2);
      for (int it = 0; it < 80 && t1 - t0 > 1e-14 * (curve->umax - curve->umin); ++it) {
        if (f1 < 0.0 || f2 < 0.0) return -2;
        if (f1 <= f2) {
          t1 = x2, x2 = x1, f2 = f1, q2 = q1;
          x1 = t1 - g * (t1 - t0);
          f1 = gap(x1, &q1);
        } else {
          t0 = x1, x1 = x2, f1 = f2, q1 = q2;
          x2 = t0 + g * (t1 - t0);
          f2 = gap(x2, &q2);
        }
      }
      if (f1 < 0.0 || f2 < 0.0) return -2;
      *m = f1 <= f2 ? q1 : q2;
      if (m->state != 1 || FreeAtPole(srf, *m) != f) continue;
      *free = f;
      if (PoleSide(curve, srf, *m, a, f, grid, in) != 0 || PoleSide(curve, srf, *m, b, f, grid, out) != 0) return -2;
      return 0;
    }
  return 0;
}

// Where the projection between samples a and b (feet across the seam of direction dir) crosses
// it: bisection on the curve's parameter down to round-off of the step, each mid point's foot
// compared with a's side. The seam's value on a's side and on b's go to ua and ub (the other
// coordinate and t are the crossing's). 0, or -2 when a projection failed.
int LocateSeam(Bspline* curve, Bspline* srf, const ProjSample& a, const ProjSample& b, int dir,
               SurfaceGridCache& grid, ProjSample* ua, ProjSample* ub) {
  const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
  ProjSample A = a, B = b, m = a;
  for (int i = 0; i < 60 && std::fabs(B.t - A.t) > 1e-14 * (curve->umax - curve->umin); ++i) {
    double P[3];
    m.t = 0.5 * (A.t + B.t);
    CurvePoint(curve, m.t, P);
    if (ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, &m) != 0) return -2;
    const double x = Coord(m, dir);
    // Exactly on the seam: either side's.
    if (std::fabs(x - lo) <= 1e-12 * (hi - lo) || std::fabs(x - hi) <= 1e-12 * (hi - lo)) break;
    (CrossesSeam(srf, Coord(A, dir), x, dir, true) ? B : A) = m;
  }
  *ua = *ub = m;
  const double aSide = Coord(A, dir) - lo <= hi - Coord(A, dir) ? lo : hi;
  Coord(*ua, dir) = aSide;
  Coord(*ub, dir) = aSide == lo ? hi : lo;
  ua->state = ub->state = 1;
  return 0;
}

// A seam crossing (a on the side of `from`, b on the side of `to`, across the seam of the other
// direction) that lies on the seam of direction dir too, at a corner of a surface closed both
// ways: there a's coordinate dir takes the side of `from` and b's the side of `to`, so that no
// second crossing is left between them and their neighbours.
void SeamCornerSides(Bspline* srf, int dir, const ProjSample& from, const ProjSample& to, ProjSample* a,
                     ProjSample* b) {
  if (!ClosedIn(srf, dir)) return;
  const double lo = dir == 0 ? srf->umin : srf->vmin, hi = dir == 0 ? srf->umax : srf->vmax;
  const double x = Coord(*a, dir), near = 1e-6 * (hi - lo);
  if (!(std::fabs(x - lo) <= near || std::fabs(x - hi) <= near)) return;
  const double f = dir == 0 ? from.u : from.v, t = dir == 0 ? to.u : to.v;
  Coord(*a, dir) = f - lo <= hi - f ? lo : hi;
  Coord(*b, dir) = t - lo <= hi - t ? lo : hi;
}

// Sample parameters of the curve (see SurfCurveProjectClosestGeometry). A new array, count in
// *n; null on failure.
double* SampleParams(Bspline* curve, Bspline* srf, int samplesPerSpan, int* n) {
  const int p = curve->degreeU;
  const double lo = curve->knotsU[p], hi = curve->knotsU[NumCtrlU(curve)];
  double* breaks = nullptr;
  int nb = 0;
  int steps = samplesPerSpan;
  if (samplesPerSpan <= 0) {
    DistinctKnotValues(NumKnotsU(curve), curve->knotsU, &nb, &breaks);
    steps = p + 1;
  } else {
    // The surface's knots mapped onto the curve's range, first knot on the curve's first.
    double* merged = nullptr;
    int nm = NumKnotsU(curve);
    merged = MallocArray<double>(nm);
    if (!merged || KernelFailed()) return nullptr;
    std::memcpy(merged, curve->knotsU, sizeof(double) * nm);
    for (int dir = 0; dir < 2; ++dir) {
      const double* K = dir ? srf->knotsV : srf->knotsU;
      const int nk = dir ? NumKnotsV(srf) : NumKnotsU(srf);
      const double k0 = K[0], range = K[nk - 1] - K[0];
      if (!(range > 0.0)) continue;
      double* mapped = MallocArray<double>(nk);
      if (!mapped || KernelFailed()) return nullptr;
      for (int i = 0; i < nk; ++i)
        mapped[i] = curve->knotsU[0] + (K[i] - k0) * (hi - lo) / range;
      mapped[nk - 1] = curve->knotsU[NumKnotsU(curve) - 1];
      double* u = nullptr;
      int nu = 0;
      UnionKnotArrays(merged, nm, mapped, nk, &u, &nu);
      if (!u || KernelFailed()) return nullptr;
      Free(merged);
      Free(mapped);
      merged = u;
      nm = nu;
    }
    // Distinct values: a mapped surface knot within 1e-6 of the range of a curve knot is that
    // knot.
    breaks = MallocArray<double>(nm);
    if (!breaks || KernelFailed()) return nullptr;
    const double eps = 1e-6 * (hi - lo);
    for (int i = 0; i < nm; ++i)
      if (nb == 0 || merged[i] - breaks[nb - 1] > eps) breaks[nb++] = merged[i];
    breaks[nb - 1] = std::max(breaks[nb - 1], merged[nm - 1]);
  }
  if (!breaks || nb < 2 || KernelFailed()) return nullptr;
  double* t = MallocArray<double>((nb - 1) * steps + 1);
  if (!t || KernelFailed()) return nullptr;
  int k = 0;
  t[k++] = breaks[0];
  for (int i = 0; i + 1 < nb; ++i)
    for (int j = 1; j <= steps; ++j)
      t[k++] = j == steps ? breaks[i + 1] : breaks[i] + (breaks[i + 1] - breaks[i]) * j / steps;
  *n = k;
  return t;
}

// A surface closed in one direction: samples on its seam take the seam side their run's
// neighbour lies nearer to, at either end of the sequence.
void MoveSeamSamples(Bspline* srf, ProjSample* s, int n) {
  const bool inU = ClosedIn(srf, 0);
  if (inU == ClosedIn(srf, 1)) return;
  const double lo = inU ? srf->umin : srf->vmin, hi = inU ? srf->umax : srf->vmax;
  const double tol = 1e-6 * (hi - lo);
  auto coord = [&](ProjSample& q) -> double& { return inU ? q.u : q.v; };
  auto onSeam = [&](ProjSample& q) {
    return std::fabs(coord(q) - lo) <= tol || std::fabs(coord(q) - hi) <= tol;
  };
  auto side = [&](ProjSample& q) { return std::fabs(coord(q) - lo) <= std::fabs(coord(q) - hi) ? lo : hi; };
  if (onSeam(s[0])) {
    int j = 0;
    while (j < n && onSeam(s[j])) ++j;
    if (j < n) {
      const double to = side(s[j]);
      for (int i = 0; i < j; ++i) coord(s[i]) = to, s[i].state = 1;
    }
  }
  if (onSeam(s[n - 1])) {
    int j = n - 1;
    while (j >= 0 && onSeam(s[j])) --j;
    if (j >= 0) {
      const double to = side(s[j]);
      for (int i = n - 1; i > j; --i) coord(s[i]) = to, s[i].state = 1;
    }
  }
}

// A piece that runs at one u or v becomes the exact iso line of the surface over its extent
// (kept as fitted when the iso line does not reach its ends). False on failure.
bool ReplaceByIsoLine(Bspline* srf, Owned<Bspline, FreeBspline>& piece) {
  const int kind = IsoParameterKind(piece.get(), 0);
  if (kind != 1 && kind != 2) return true;
  // The line's value from an end off a pole or an apex: there the value comes from a foot whose
  // free parameter the closest-point search leaves loose. A piece from pole to pole (a whole
  // meridian) takes it from its middle, which its samples off the poles set.
  const int last = NumCtrlU(piece.get()) - 1;
  double at[2] = {piece->X[0][0], piece->Y[0][0]};
  if (PoleAt(srf, at[0], at[1]) >= 0) {
    at[0] = piece->X[0][last], at[1] = piece->Y[0][last];
    if (PoleAt(srf, at[0], at[1]) >= 0) Eval2DPointOnCurve2Array(srf, piece.get(), 0.5 * (piece->umin + piece->umax), 0, at);
  }
  Owned<Bspline, FreeBspline> iso(kind == 1 ? IsoLineCurve2(srf, 0, at[0]) : IsoLineCurve2(srf, 3, at[1]));
  if (!iso || KernelFailed()) return false;
  Bspline* exact = ExtractIsoparCurve2(srf, piece.get(), iso.get());
  if (KernelFailed()) {
    FreeBspline(exact);
    return false;
  }
  // On a closed iso line an end's nearest point may be found across the seam (the same point
  // at the other end of the range): the exact piece must start and end where the fitted one does
  // in the parameter plane, or it would run the long way round.
  const double near = 1e-6 * std::max(srf->umax - srf->umin, srf->vmax - srf->vmin);
  if (exact) {
    const int m = NumCtrlU(exact) - 1, n = NumCtrlU(piece.get()) - 1;
    const bool sameEnds = std::fabs(exact->X[0][0] - piece->X[0][0]) <= near &&
                          std::fabs(exact->Y[0][0] - piece->Y[0][0]) <= near &&
                          std::fabs(exact->X[0][m] - piece->X[0][n]) <= near &&
                          std::fabs(exact->Y[0][m] - piece->Y[0][n]) <= near;
    if (!sameEnds) {
      FreeBspline(exact);
      return true;
    }
    exact->owner = srf;
    piece.reset(exact);
  }
  return true;
}

using PieceArray = OwnedArray<Bspline, FreeBspline>;
using PieceOwner = Owned<Bspline, FreeBspline>;

// Keeps a new piece: appended (separate) or joined onto the curve made so far. False on failure.
bool AddPiece(PieceOwner& piece, bool separate, PieceArray& pieces, int* count, PieceOwner& joined) {
  if (separate) {
    pieces[(*count)++] = piece.release();
    return true;
  }
  if (!joined) {
    joined.reset(piece.release());
    return true;
  }
  Bspline* both = Blend2Curve2s(joined.get(), piece.get());
  if (!both || KernelFailed()) {
    FreeBspline(both);
    return false;
  }
  joined.reset(both);
  return true;
}

// The joined curve so far becomes a piece of its own (where the projection crosses a seam and
// cannot be joined across it).
void FlushJoined(PieceArray& pieces, int* count, PieceOwner& joined) {
  if (joined) pieces[(*count)++] = joined.release();
}

// The result list of the pieces (the joined curve last), each curve put on srf's curve list;
// the records leave their owners. Null when there is none or a node cannot be made (the owners
// then still hold the curves).
BsplineList* HandPieces(Bspline* srf, PieceArray& pieces, int count, PieceOwner& joined) {
  FlushJoined(pieces, &count, joined);
  Bspline** items = pieces.get();
  const int n = count;
  if (n == 0) return nullptr;
  BsplineList* head = nullptr;
  {
    TrackingScope nodes;
    for (int i = n - 1; i >= 0; --i) {
      BsplineList* node = MallocNullBsplineList();
      if (!node || KernelFailed()) return nullptr;
      node->item = items[i];
      node->next = head;
      head = node;
    }
    nodes.keep();
  }
  for (int i = 0; i < n; ++i) PutBsplToSurfCrvList(items[i], srf);
  Free(pieces.release());
  return head;
}

}  // namespace

int LocateEdgeForSurfCurveProjNorm(Bspline* curve, Bspline* srf, double tA, double tB, double* u,
                                   double* v, double* t, int iterations, int prevGood,
                                   double** gridU, double** gridV, double** gridW) {
  if (!RecordsSound({curve, srf}) || srf->kind != 2) return -2;
  for (int i = 0; i < iterations; ++i) {
    const double tm = 0.5 * (tA + tB);
    double P[3];
    CurvePoint(curve, tm, P);
    ProjSample s;
    if (ProjectPoint(srf, P, gridU, gridV, gridW, &s) != 0) return -2;
    (s.state == prevGood ? tB : tA) = tm;
    *u = s.u;
    *v = s.v;
    *t = tm;
  }
  return 0;
}

int IsChangedBoundary(Bspline* srf, double t0, double t1, int dir) {
  return srf && CrossesSeam(srf, t0, t1, dir, dir == 0 ? srf->closedU : srf->closedV) ? 1 : 0;
}

Bspline* Blend2Curve2s(Bspline* a, Bspline* b) {
  if (!RecordsSound({a, b}) || a->kind != 1 || b->kind != 1 || a->degreeU != b->degreeU ||
      a->dimension != b->dimension)
    return nullptr;
  const int p = a->degreeU, nA = NumCtrlU(a), nB = NumCtrlU(b), mA = a->interiorU;
  const int dims = a->dimension;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = dims;
  c->rational = a->rational;
  c->degreeU = p;
  c->interiorU = a->interiorU + b->interiorU + p;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  // b continues where a's domain ends: its own domain start moves there (for a b starting at 0,
  // a shift by a's end parameter).
  const double join = a->knotsU[nA], shift = join - b->knotsU[p];
  double* K = c->knotsU;
  int k = 0;
  for (int i = 0; i <= mA + p; ++i) K[k++] = a->knotsU[i];
  for (int i = 0; i < p; ++i) K[k++] = join;
  for (int i = p + 1; i < NumKnotsU(b); ++i) K[k++] = b->knotsU[i] + shift;
  double** ca[4] = {a->X, a->Y, a->Z, a->W};
  double** cb[4] = {b->X, b->Y, b->Z, b->W};
  double** cc[4] = {c->X, c->Y, c->Z, c->W};
  for (int r = 0; r < 4; ++r) {
    if (!cc[r]) continue;
    double* out = cc[r][0];
    auto bAt = [&](int i) { return cb[r] ? cb[r][0][i] : 1.0; };  // a weightless b weighs 1
    for (int i = 0; i + 1 < nA; ++i) out[i] = ca[r][0][i];
    out[nA - 1] = 0.5 * (ca[r][0][nA - 1] + bAt(0));
    for (int i = 1; i < nB; ++i) out[nA - 1 + i] = bAt(i);
  }
  SetDomainFromKnots(c.get(), 0);
  c->owner = a->owner;
  scope.keep();
  return c.release();
}

namespace {

// The cubic through the n samples (u, v) on the curve's parameters t of them, or null when they
// do not increase strictly (the caller then keeps to the interpolant on chord lengths).
Bspline* InterpolateOnCurveParams(const double* u, const double* v, const double* t, int n) {
  for (int i = 0; i + 1 < n; ++i)
    if (!(t[i] < t[i + 1])) return nullptr;
  TrackingScope scope;
  constexpr int p = 3;
  double* pad = MallocArray<double>(n + 2 * p);
  double* uv = MallocArray<double>(2, n);
  if (!pad || !uv || KernelFailed()) return nullptr;
  for (int i = 0; i < p; ++i) pad[i] = t[0], pad[n + p + i] = t[n - 1];
  for (int i = 0; i < n; ++i) pad[p + i] = t[i], uv[i] = u[i], uv[n + i] = v[i];
  Bspline* c = InterpolatePointsAnyDegree(uv, uv + n, nullptr, n - 1, pad, p);
  if (KernelFailed()) {
    FreeBspline(c);
    return nullptr;
  }
  return c;
}

// CheckErrorAndRefitCurve; with the curve's parameters t of the samples given, the interpolant
// it ends in runs on them rather than on chord lengths in the parameter plane (see
// FitRunWithinTol for when each is the one to use).
Bspline* RefitToTol(Bspline* curve2, Cloud* cloud, double* params, const double* u, const double* v,
                    const double* x, const double* y, const double* z, const double* t, int n, double tol) {
  Owned<Bspline, FreeBspline> cur(curve2);
  if (!cur || !cloud || !params || n < 1) return nullptr;
  Bspline* srf = cur->owner;
  TrackingScope scope;
  double* recorded = MallocArray<double>(n);
  if (!recorded || KernelFailed()) return nullptr;
  const double tolSq = tol * tol;
  bool interpolate = false;
  while (cur->interiorU < n) {
    int nr = 0;
    {
      CurveSampleCache cache;
      for (int i = 0; i < n; ++i) {
        const double P[3] = {x[i], y[i], z[i]};
        const double d2 = SqDistanceToImage(cur.get(), cache, P);
        if (d2 < 0.0) return nullptr;
        if (d2 > tolSq) recorded[nr++] = params[i];
      }
    }
    if (nr == 0) break;
    const int nk = NumKnotsU(cur.get()) + nr;
    double* all = MallocArray<double>(nk);
    if (!all || KernelFailed()) return nullptr;
    std::memcpy(all, cur->knotsU, sizeof(double) * NumKnotsU(cur.get()));
    std::memcpy(all + NumKnotsU(cur.get()), recorded, sizeof(double) * nr);
    HeapSort(nk, all);
    double* breaks = nullptr;
    int nb = 0;
    DistinctKnotValues(nk, all, &nb, &breaks);
    if (!breaks || KernelFailed()) return nullptr;
    // Knots enough for every sample, or none new (the worst samples sit on knots already): only
    // the interpolant can do better.
    if (nb - 2 >= n || nb - 2 <= cur->interiorU) {
      interpolate = true;
      break;
    }
    Owned<Bspline, FreeBspline> fit(FitCurveBsplineWithGivenKnots(cloud, breaks, nb, params, 3, 0));
    if (!fit || KernelFailed()) return nullptr;
    matrix_free_fh(fit->Z);
    fit->Z = nullptr;
    fit->dimension = 2;
    fit->owner = srf;
    cur.reset(fit.release());
  }
  if (!interpolate) return cur.release();
  if (t) {
    Bspline* c = InterpolateOnCurveParams(u, v, t, n);
    if (KernelFailed()) return nullptr;
    if (c) {
      c->owner = srf;
      return c;
    }
  }
  double* uv = MallocArray<double>(2, n);
  if (!uv || KernelFailed()) return nullptr;
  std::memcpy(uv, u, sizeof(double) * n);
  std::memcpy(uv + n, v, sizeof(double) * n);
  Bspline* c = InterpolatePoints(uv, uv + n, nullptr, n - 1, nullptr, 3, 0);
  if (!c || KernelFailed()) {
    FreeBspline(c);
    return nullptr;
  }
  c->owner = srf;
  return c;
}

}  // namespace

Bspline* CheckErrorAndRefitCurve(Bspline* curve2, Cloud* cloud, double* params, const double* u,
                                 const double* v, const double* x, const double* y,
                                 const double* z, int n, double tol) {
  return RefitToTol(curve2, cloud, params, u, v, x, y, z, nullptr, n, tol);
}

namespace {

// CreateCurveToTol; onCurveParams: an interpolant it ends in runs on the curve's parameters t
// (see RefitToTol).
Bspline* CurveToTol(Bspline* curve, Bspline* srf, const double* u, const double* v, const double* x,
                    const double* y, const double* z, const double* t, int n, double tol, bool onCurveParams) {
  if (!curve || !srf || n < 2) return nullptr;
  TrackingScope scope;
  const int p = curve->degreeU, m = curve->interiorU;
  const double range = curve->umax - curve->umin;
  double* breaks = MallocArray<double>(m + 2);
  if (!breaks || KernelFailed()) return nullptr;
  int nb = 0;
  breaks[nb++] = t[0];
  for (int i = p + 1; i <= p + m; ++i) {
    const double k = curve->knotsU[i];
    if (k > t[0] && k < t[n - 1] && k - breaks[nb - 1] > 1e-6 * range &&
        t[n - 1] - k > 1e-4 * range)
      breaks[nb++] = k;
  }
  breaks[nb++] = t[n - 1];
  float* f = MallocArray<float>(3, n);
  double* params = MallocArray<double>(n);
  if (!f || !params || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    f[i] = static_cast<float>(u[i]);
    f[n + i] = static_cast<float>(v[i]);
    f[2 * n + i] = 0.0f;
  }
  Owned<Cloud, FreeCloud> cloud(MakeCld(f, f + n, f + 2 * n, n, nullptr));
  if (!cloud || KernelFailed()) return nullptr;
  Bspline* fit = FitCurveBsplineWithGivenKnots(cloud.get(), breaks, nb, params, 3, 0);
  if (!fit || KernelFailed()) {
    FreeBspline(fit);
    return nullptr;
  }
  matrix_free_fh(fit->Z);
  fit->Z = nullptr;
  fit->dimension = 2;
  fit->owner = srf;
  return RefitToTol(fit, cloud.get(), params, u, v, x, y, z, onCurveParams ? t : nullptr, n, tol);
}

// CreateProjectedCurve; onCurveParams as for CurveToTol.
Bspline* ProjectedCurve(Bspline* srf, Bspline* curve, const double* u, const double* v, const double* t, int n,
                        double tol, bool onCurveParams) {
  if (!srf || !curve || n < 2) return nullptr;
  TrackingScope scope;
  double* xyz = MallocArray<double>(3, n);
  if (!xyz || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    double P[3];
    Eval3DPointOnSurfCoord(srf, u[i], v[i], 0, 0, P);
    xyz[i] = P[0], xyz[n + i] = P[1], xyz[2 * n + i] = P[2];
  }
  return CurveToTol(curve, srf, u, v, xyz, xyz + n, xyz + 2 * n, t, n, tol, onCurveParams);
}

}  // namespace

Bspline* CreateCurveToTol(Bspline* curve, Bspline* srf, const double* u, const double* v,
                          const double* x, const double* y, const double* z, const double* t,
                          int n, double tol) {
  return CurveToTol(curve, srf, u, v, x, y, z, t, n, tol, false);
}

Bspline* CreateProjectedCurve(Bspline* srf, Bspline* curve, const double* u, const double* v,
                              const double* t, int n, double tol) {
  return ProjectedCurve(srf, curve, u, v, t, n, tol, false);
}

namespace {

// Points checked between two successive samples of a run (at the quarter steps), and the most
// rounds of adding the points missed (each round at least halves the steps that miss) or
// samples a run may grow to, as a multiple of its first count.
constexpr int kChecksPerStep = 3;
constexpr int kRefineRounds = 12;
constexpr int kMostSamplesGrowth = 16;
// A run of few samples (a line gives three) may still need many more: beside a pole its foot
// swings half round the axis over a short stretch, which the fit follows in (u, v) only with
// samples where it turns. Sixteen times three cannot place them; this many can, and still bounds
// the work on a run that no fit will follow.
constexpr int kLeastSamplesCap = 256;
// The parabola through three distances to the piece may fall short of their peak where the
// distances rise and fall unevenly (a few percent where the foot speeds up beside a pole): a top
// it puts above this fraction of tol is measured where it lies, and the parabola through the
// measured distance and its neighbours decides.
constexpr double kTopNearTol = 0.9;

// The fit holds the samples in a cloud of floats, scaled to unit size and back, so a run whose
// feet lie on a side of the domain (along a seam) comes back with control points a float's
// round-off beyond it, outside the domain. Strays up to this fraction of the range (the width
// of the band that counts as the domain's boundary) go back onto the side: the piece then stays
// within the domain (by the convex hull), moved by no more than the stray, and one running along
// the side is an iso line again.
constexpr double kFitStray = 1e-6;

void KeepFitInDomain(const Bspline* srf, Bspline* piece) {
  const double lo[2] = {srf->umin, srf->vmin}, hi[2] = {srf->umax, srf->vmax};
  double* rows[2] = {piece->X[0], piece->Y[0]};
  for (int d = 0; d < 2; ++d) {
    const double stray = kFitStray * (hi[d] - lo[d]);
    for (int i = 0; i < NumCtrlU(piece); ++i) {
      double& x = rows[d][i];
      if (x < lo[d] && x >= lo[d] - stray) x = lo[d];
      if (x > hi[d] && x <= hi[d] + stray) x = hi[d];
    }
  }
}

// The top of the parabola through (x[k], y[k]) (x increasing) into *at and *top, when it opens
// downwards with its top between x[0] and x[2]; false otherwise (the largest y is then at an end).
bool ParabolaTop(const double x[3], const double y[3], double* at, double* top) {
  const double d01 = (y[1] - y[0]) / (x[1] - x[0]), d12 = (y[2] - y[1]) / (x[2] - x[1]);
  const double a = (d12 - d01) / (x[2] - x[0]);
  if (!(a < 0.0)) return false;
  // Newton's form y[0] + d01 (s - x[0]) + a (s - x[0]) (s - x[1]), level at its top.
  const double s = 0.5 * (x[0] + x[1]) - d01 / (2.0 * a);
  if (!(s >= x[0] && s <= x[2])) return false;
  *at = s;
  *top = y[0] + d01 * (s - x[0]) + a * (s - x[0]) * (s - x[1]);
  return true;
}

// Feet of the projection between two successive samples of a run: the samples' own at either
// end and those of the checked points between them, each with the curve's parameter and its
// point on the surface.
struct StepFeet {
  double u[kChecksPerStep + 2], v[kChecksPerStep + 2], t[kChecksPerStep + 2];
  double Q[kChecksPerStep + 2][3];
};

// The square of an upper bound on the distance from C to the projection over one step: every
// foot is a point of the projection, so the nearest of them bounds it; so does the foot of the
// curve's point at the parameter where C meets the polyline through them, and, when that one
// is not within tol, that of one Newton step from there along the polyline's direction. A foot
// not found (no normal there) or beyond the edge bounds nothing: the bound stays as it was, and
// a point it leaves beyond tol joins the samples.
double SqDistanceToStep(Bspline* srf, Bspline* curve, const StepFeet& f, const double C[3], double tol) {
  constexpr int last = kChecksPerStep + 1;
  double best = 1e300, bestLam = 0.0;
  int seg = 0;
  for (int k = 0; k <= last; ++k) {
    double r[3];
    VecDiff3(C, f.Q[k], r);
    best = std::min(best, VecDotProd3(r, r));
  }
  if (best <= tol * tol) return best;
  double nearest = 1e300;
  for (int k = 0; k < last; ++k) {
    double d[3], r[3];
    VecDiff3(f.Q[k + 1], f.Q[k], d);
    VecDiff3(C, f.Q[k], r);
    const double dd = VecDotProd3(d, d);
    const double lam = dd > 0.0 ? std::clamp(VecDotProd3(r, d) / dd, 0.0, 1.0) : 0.0;
    for (int c = 0; c < 3; ++c) r[c] -= lam * d[c];
    if (VecDotProd3(r, r) < nearest) nearest = VecDotProd3(r, r), seg = k, bestLam = lam;
  }
  ProjSample s = {f.u[seg] + bestLam * (f.u[seg + 1] - f.u[seg]),
                  f.v[seg] + bestLam * (f.v[seg + 1] - f.v[seg]), f.t[seg] + bestLam * (f.t[seg + 1] - f.t[seg]), 1};
  double T[3];
  VecDiff3(f.Q[seg + 1], f.Q[seg], T);
  const double dt = f.t[seg + 1] - f.t[seg];
  for (int step = 0; step < 2 && dt > 0.0; ++step) {
    double P[3], Q[3], r[3];
    CurvePoint(curve, s.t, P);
    if (ProjectPointNear(srf, P, &s) != 0 || s.state != 1) break;
    Eval3DPointOnSurfCoord(srf, s.u, s.v, 0, 0, Q);
    VecDiff3(C, Q, r);
    best = std::min(best, VecDotProd3(r, r));
    const double tt = VecDotProd3(T, T);
    if (best <= tol * tol || !(tt > 0.0)) break;
    s.t = std::clamp(s.t + dt * VecDotProd3(r, T) / tt, f.t[0], f.t[last]);
  }
  return best;
}

// The piece of a run of n samples (u, v, t), within tol of the projection everywhere along it:
// the piece fitted to the samples is checked at kChecksPerStep points between successive
// samples both ways: the feet of the curve's points there, each projected anew, must lie within
// tol of the piece, and the piece's own points there (between the samples' nearest points on it)
// within tol of the projection, since a piece can pass every foot and still bulge away between
// them (an interpolant through samples spaced unevenly); and the feet's distances from the piece,
// with the samples' own, must not peak beyond tol between two checks. Each point missed so joins
// the samples (the foot at that fraction of the step) before the run is fitted again, until none
// misses (or the steps reach round-off of the curve's range). A point that projects beyond the
// edge or across a seam is not checked. Null on failure, and when a point still misses once the
// rounds or the samples run out. onCurveParams: where the fit ends in the interpolant of the
// samples, it runs on the curve's parameters of them (see RefitToTol).
Bspline* FitRunOnce(Bspline* srf, Bspline* curve, SurfaceGridCache& grid, const double* u0, const double* v0,
                    const double* t0, int n, double tol, bool onCurveParams) {
  TrackingScope scope;
  const double* u = u0;
  const double* v = v0;
  const double* t = t0;
  const double finest = 1e-12 * (curve->umax - curve->umin);
  const int n0 = n;
  const bool closed[2] = {ClosedIn(srf, 0), ClosedIn(srf, 1)};
  Owned<Bspline, FreeBspline> piece;
  for (int round = 0;; ++round) {
    // Samples whose feet dwell on a pole or an apex at either end of the run all stand for that
    // one point: the piece ends at the first of them (starts at the last), where the feet reach
    // it, rather than bending there to stand still, which a fit could follow only by
    // overshooting the point and the domain.
    const int side = PoleAt(srf, u[n - 1], v[n - 1]);
    while (n > 2 && side >= 0 && PoleAt(srf, u[n - 2], v[n - 2]) == side) --n;
    const int head = PoleAt(srf, u[0], v[0]);
    while (n > 2 && head >= 0 && PoleAt(srf, u[1], v[1]) == head) ++u, ++v, ++t, --n;
    piece.reset(ProjectedCurve(srf, curve, u, v, t, n, tol, onCurveParams));
    if (!piece || KernelFailed()) break;
    KeepFitInDomain(srf, piece.get());
    // The fit holds its end control points at the run's first and last samples as floats: a
    // float's round-off off them, where a piece would overshoot the projection's ends (or fall
    // short of them) unseen by the checks between the samples. They go back onto the samples.
    const int last = NumCtrlU(piece.get()) - 1;
    piece->X[0][0] = u[0], piece->Y[0][0] = v[0];
    piece->X[0][last] = u[n - 1], piece->Y[0][last] = v[n - 1];
    const int cap = (kChecksPerStep + 1) * (n - 1) + 1;
    double* next = MallocArray<double>(3, cap);
    double* onPiece = MallocArray<double>(2, n);
    if (!next || !onPiece || KernelFailed()) return nullptr;
    double* sampleOff = onPiece + n;
    double *nu = next, *nv = next + cap, *nt = next + 2 * cap;
    int m = 0;
    auto push = [&](double a, double b, double c) { nu[m] = a, nv[m] = b, nt[m] = c, ++m; };
    CurveSampleCache cache;
    // The piece's parameter nearest each sample's foot: the piece between two of them is the
    // stretch that stands for the projection between the samples.
    for (int i = 0; i < n; ++i) {
      double Q[3];
      Eval3DPointOnSurfCoord(srf, u[i], v[i], 0, 0, Q);
      sampleOff[i] = SqDistanceToImage(piece.get(), cache, Q, &onPiece[i]);
      if (sampleOff[i] < 0.0 || KernelFailed()) return nullptr;
      sampleOff[i] = std::sqrt(sampleOff[i]);
    }
    // A piece once round a closed direction starts and ends at one 3D point, where the nearest
    // point of the first or last sample's foot may come back at the piece's other end: that
    // sample then takes the nearest point between its neighbour's and its own end.
    for (int end = 0; end < 2 && n >= 2; ++end) {
      const int i = end ? n - 1 : 0, j = end ? n - 2 : 1;
      if (end ? onPiece[i] >= onPiece[j] : onPiece[i] <= onPiece[j]) continue;
      double Q[3], C[3], d2, step, at = end ? piece->umax : piece->umin;
      Eval3DPointOnSurfCoord(srf, u[i], v[i], 0, 0, Q);
      FindClosestPointCurveOnSurf(piece.get(), Q, C, end ? onPiece[j] : piece->umin, end ? piece->umax : onPiece[j],
                                  &at, &d2, &step, 7);
      if (KernelFailed()) return nullptr;
      onPiece[i] = at;
      sampleOff[i] = std::sqrt(d2);
    }
    // 1 when the parabola through the distances offs[0..2] of three successive feet peaks beyond
    // tol: feet k, k + 1, k + 2 of step a, those past a's last (its end sample, b's first) taken
    // from step b. Where its top comes near tol, the distance is measured there, and the parabola
    // through that and the two feet around it decides. *where: the curve's parameter of the top.
    // -1 on failure.
    auto peaksBeyondTol = [&](const StepFeet& a, const StepFeet& b, int k, const double* offs, int i,
                              double* where = nullptr) -> int {
      constexpr int last = kChecksPerStep + 1;
      double x[3], fu[3], fv[3];
      for (int c = 0; c < 3; ++c) {
        const StepFeet& f = k + c <= last ? a : b;
        const int at = k + c <= last ? k + c : k + c - last;
        x[c] = f.t[at], fu[c] = f.u[at], fv[c] = f.v[at];
      }
      double at, top;
      if (!ParabolaTop(x, offs, &at, &top) || top <= kTopNearTol * tol) return 0;
      if (where) *where = at;
      if (top > tol || at == x[1]) return top > tol;
      const int c = at < x[1] ? 0 : 1;  // the top lies between feet c and c + 1
      const double w = (at - x[c]) / (x[c + 1] - x[c]);
      double P[3], Q[3];
      CurvePoint(curve, at, P);
      ProjSample s = {fu[c] + (fu[c + 1] - fu[c]) * w, fv[c] + (fv[c + 1] - fv[c]) * w, at, 1};
      if (ProjectPointNear(srf, P, &s) != 0) return -1;
      if (s.state != 1 || CrossesSeam(srf, u[i], s.u, 0, closed[0]) || CrossesSeam(srf, v[i], s.v, 1, closed[1]))
        return 0;
      Eval3DPointOnSurfCoord(srf, s.u, s.v, 0, 0, Q);
      const double d2 = SqDistanceToImage(piece.get(), cache, Q);
      if (d2 < 0.0 || KernelFailed()) return -1;
      const double xs[3] = {x[c], at, x[c + 1]}, ys[3] = {offs[c], std::sqrt(d2), offs[c + 1]};
      return d2 > tol * tol || (ParabolaTop(xs, ys, &at, &top) && top > tol);
    };
    // The step before, its checks not yet among the samples: a peak about the sample that ends
    // it may still add its last.
    struct {
      StepFeet feet;
      double off[kChecksPerStep + 2];
      bool miss[kChecksPerStep + 2];
    } prev;
    bool prevHeld = false, prevUsable = false;
    auto pushPrev = [&] {
      for (int j = 1; prevHeld && j <= kChecksPerStep; ++j)
        if (prev.miss[j]) push(prev.feet.u[j], prev.feet.v[j], prev.feet.t[j]);
      prevHeld = prevUsable = false;
    };
    for (int i = 0; i + 1 < n; ++i) {
      if (t[i + 1] - t[i] <= finest ||
          CrossesSeam(srf, u[i], u[i + 1], 0, closed[0]) || CrossesSeam(srf, v[i], v[i + 1], 1, closed[1])) {
        pushPrev();
        push(u[i], v[i], t[i]);
        continue;
      }
      StepFeet feet;
      bool miss[kChecksPerStep + 2] = {}, allUsable = true;
      double off[kChecksPerStep + 2] = {sampleOff[i]};
      off[kChecksPerStep + 1] = sampleOff[i + 1];
      for (int j = 0; j <= kChecksPerStep + 1; j += kChecksPerStep + 1) {
        const int at = j == 0 ? i : i + 1;
        feet.u[j] = u[at], feet.v[j] = v[at], feet.t[j] = t[at];
        Eval3DPointOnSurfCoord(srf, u[at], v[at], 0, 0, feet.Q[j]);
      }
      for (int j = 1; j <= kChecksPerStep; ++j) {
        const double f = double(j) / (kChecksPerStep + 1), tm = t[i] + (t[i + 1] - t[i]) * f;
        double P[3];
        CurvePoint(curve, tm, P);
        // The foot from the samples' feet on either side; a point the piece seems to miss is
        // projected again with the grid search before it counts, so that only true feet join.
        ProjSample s = {u[i] + (u[i + 1] - u[i]) * f, v[i] + (v[i + 1] - v[i]) * f, tm, 1};
        double d2 = 0.0, Q[3] = {0.0, 0.0, 0.0};
        for (int pass = 0; pass < 2; ++pass) {
          if ((pass ? ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, &s)
                    : ProjectPointNear(srf, P, &s)) != 0)
            return nullptr;
          // A foot on a pole or an apex lies there at any value of the free parameter, which the
          // search leaves as round-off sets it: the run reaches or leaves the point along the
          // value of the sample the step starts at.
          const int free = s.state == 1 ? FreeAtPole(srf, s) : -1;
          if (free >= 0) Coord(s, free) = free == 0 ? u[i] : v[i];
          if (s.state != 1 || CrossesSeam(srf, u[i], s.u, 0, closed[0]) ||
              CrossesSeam(srf, v[i], s.v, 1, closed[1])) {
            d2 = -1.0;
            if (pass) break;
            continue;
          }
          Eval3DPointOnSurfCoord(srf, s.u, s.v, 0, 0, Q);
          d2 = SqDistanceToImage(piece.get(), cache, Q);
          if (d2 < 0.0 || KernelFailed()) return nullptr;
          if (d2 <= tol * tol) break;
        }
        feet.u[j] = s.u, feet.v[j] = s.v, feet.t[j] = tm;
        for (int c = 0; c < 3; ++c) feet.Q[j][c] = Q[c];
        if (d2 < 0.0) allUsable = false;
        miss[j] = d2 > tol * tol;
        off[j] = std::sqrt(std::max(d2, 0.0));
      }
      // The distance varies smoothly between the checks and may peak beyond tol between two of
      // them: the peak of the parabola through three successive distances stands for it.
      for (int j = 1; allUsable && j <= kChecksPerStep; ++j) {
        if (miss[j]) continue;
        const int top = peaksBeyondTol(feet, feet, j - 1, off + j - 1, i);
        if (top < 0) return nullptr;
        miss[j] = top;
      }
      // So may it about the sample the step starts at, where the step before ends: the check on
      // the peak's side joins the samples.
      if (allUsable && prevUsable && !prev.miss[kChecksPerStep] && !miss[1]) {
        const double offs[3] = {prev.off[kChecksPerStep], off[0], off[1]};
        double at = 0.0;
        const int top = peaksBeyondTol(prev.feet, feet, kChecksPerStep, offs, i, &at);
        if (top < 0) return nullptr;
        (at < t[i] ? prev.miss[kChecksPerStep] : miss[1]) = top;
      }
      for (int j = 1; allUsable && j <= kChecksPerStep; ++j) {
        if (miss[j]) continue;
        const double f = double(j) / (kChecksPerStep + 1);
        double C[3];
        EvalCrvOnSrfCoord(srf, piece.get(), onPiece[i] + (onPiece[i + 1] - onPiece[i]) * f, 0, C);
        miss[j] = SqDistanceToStep(srf, curve, feet, C, tol) > tol * tol;
        if (KernelFailed()) return nullptr;
      }
      pushPrev();
      push(u[i], v[i], t[i]);
      prev.feet = feet;
      std::copy(off, off + kChecksPerStep + 2, prev.off);
      std::copy(miss, miss + kChecksPerStep + 2, prev.miss);
      prevHeld = true, prevUsable = allUsable;
    }
    pushPrev();
    push(u[n - 1], v[n - 1], t[n - 1]);
    if (m == n) break;
    // Still off the projection when the rounds or the samples run out: no piece.
    if (round == kRefineRounds || m > std::max(kMostSamplesGrowth * n0, kLeastSamplesCap)) return nullptr;
    u = nu, v = nv, t = nt, n = m;
  }
  if (!piece || KernelFailed()) return nullptr;
  return piece.release();
}

// FitRunOnce, with interpolants on chord lengths in the parameter plane first: they follow a
// foot swinging round beside a pole, whose value there changes faster than the curve's parameter
// shows, and keep a run that reaches a pole (its free value set there, not by the curve) within
// the domain. A run they cannot follow is fitted again with interpolants on the curve's
// parameters: where the feet turn back the chords bend sharply and an interpolant on them swings
// past the turn however many samples the checks add, while the projection stays as smooth in the
// curve's parameter as the curve and the surface are.
Bspline* FitRunWithinTol(Bspline* srf, Bspline* curve, SurfaceGridCache& grid, const double* u, const double* v,
                         const double* t, int n, double tol) {
  Bspline* piece = FitRunOnce(srf, curve, grid, u, v, t, n, tol, false);
  if (piece || KernelFailed()) return piece;
  return FitRunOnce(srf, curve, grid, u, v, t, n, tol, true);
}

}  // namespace

// Samples, projections and their states, then runs of equal state walked in order: a usable
// run is closed by the edge crossing that ends it and fitted; the next run starts at that
// crossing (a stretch beyond the edge only in joining mode, where it bridges exit and re-entry).
BsplineList* SurfCurveProjectClosestGeometry(Bspline* srf, Bspline* curve, int samplesPerSpan,
                                             double tol, int /*reserved*/, int separate) {
  if (!srf || srf->kind != 2 || !curve || curve->kind != 1 ||
      (curve->dimension == 2 && !curve->owner) || (curve->dimension != 2 && curve->dimension != 3))
    return nullptr;
  TrackingScope scope;
  int ns = 0;
  double* ts = SampleParams(curve, srf, samplesPerSpan, &ns);
  if (!ts || KernelFailed()) return nullptr;
  // The samples with the points between them that join them (at most kChecksPerStep a step).
  const int most = ns < 2 ? ns : (kChecksPerStep + 1) * (ns - 1) + 1;
  ProjSample* s = MallocArray<ProjSample>(2, most);
  // A run holds its samples and at most two crossings.
  double* run = MallocArray<double>(3, most + 2);
  if (!s || !run || KernelFailed()) return nullptr;
  // Every sample may end a curve at an edge, at a seam and at a pole.
  PieceArray pieces = PieceArray::Zeroed(4 * most);
  PieceOwner joined;
  int count = 0;
  if (!pieces || KernelFailed()) return nullptr;
  SurfaceGridCache grid;
  ProjSample* first = s + most;
  for (int i = 0; i < ns; ++i) {
    double P[3];
    CurvePoint(curve, ts[i], P);
    if (ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, &first[i]) != 0) return nullptr;
    first[i].t = ts[i];
  }
  // Between two samples of one state the projection may still leave the surface and come back
  // (or come onto it and leave again) unseen: a piece would then bridge a stretch beyond the
  // edge, or a stretch over the surface be lost. The points at the quarter steps are projected
  // too (from the samples' feet; one whose state seems to differ again with the grid search),
  // and each whose state differs from the samples' joins them. Over the surface the feet may also
  // cross a seam and come back between two samples, or swing round beside a pole so far that the
  // short way between the samples' feet is the wrong way round: a piece through them would bridge
  // that stretch on the wrong side of the seam. Where the feet at the quarter steps cross a seam
  // other than as the samples' own do, all of them join the samples, and each crossing is then
  // located between two of them.
  int m = 0;
  for (int i = 0; i < ns; ++i) {
    s[m++] = first[i];
    if (i + 1 == ns || first[i].state != first[i + 1].state) continue;
    const bool over = first[i].state == 1;
    const bool closed[2] = {ClosedIn(srf, 0), ClosedIn(srf, 1)};
    auto crosses = [&](const ProjSample& a, const ProjSample& b, int dir) {
      return CrossesSeam(srf, dir == 0 ? a.u : a.v, dir == 0 ? b.u : b.v, dir, closed[dir]);
    };
    ProjSample q[kChecksPerStep + 1];
    bool found[kChecksPerStep + 1] = {};
    int links[2] = {0, 0};  // seam crossings along the feet found, per direction
    int prev = 0;           // the last usable foot before j (0: the sample)
    q[0] = first[i];
    for (int j = 1; j <= kChecksPerStep; ++j) {
      const double f = double(j) / (kChecksPerStep + 1), tm = first[i].t + (first[i + 1].t - first[i].t) * f;
      double P[3];
      CurvePoint(curve, tm, P);
      q[j] = {first[i].u + (first[i + 1].u - first[i].u) * f, first[i].v + (first[i + 1].v - first[i].v) * f, tm, 1};
      if (ProjectPointNear(srf, P, &q[j]) != 0) continue;
      // A foot that seems to differ is sought again with the grid search before it counts.
      if (q[j].state != first[i].state || (over && (crosses(q[prev], q[j], 0) || crosses(q[prev], q[j], 1)))) {
        if (ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, &q[j]) != 0) return nullptr;
        q[j].t = tm;
      }
      found[j] = true;
      if (!over || q[j].state != 1) continue;
      for (int dir = 0; dir < 2; ++dir) links[dir] += crosses(q[prev], q[j], dir);
      prev = j;
    }
    bool hidden = false;
    for (int dir = 0; over && dir < 2; ++dir)
      hidden = hidden || links[dir] + crosses(q[prev], first[i + 1], dir) != int(crosses(first[i], first[i + 1], dir));
    for (int j = 1; j <= kChecksPerStep; ++j)
      if (found[j] && (q[j].state != first[i].state || (hidden && q[j].state == 1))) s[m++] = q[j];
  }
  ns = m;
  if (!separate) MoveSeamSamples(srf, s, ns);
  SideOfSeams(srf, s, ns);
  double* leave = MallocArray<double>(ns);
  if (!leave || KernelFailed() || PoleSides(curve, srf, s, ns, leave, grid) != 0) return nullptr;
  double *ru = run, *rv = run + ns + 2, *rt = run + 2 * (ns + 2);
  int k = 0;
  auto push = [&](double u, double v, double t) { ru[k] = u, rv[k] = v, rt[k] = t, ++k; };
  // A run whose fitted curve lies on one pole all along (its control points do: the feet checked
  // between its samples too) is that point, and makes no curve: the pole ends the curve before
  // it and starts the one after as at any other crossing.
  auto makePiece = [&]() {
    // A run that spans no stretch of the curve (a pole reached at a sample where a crossing lies
    // too, as round-off places them) projects one point: no curve, and nothing to fit.
    if (!(rt[k - 1] > rt[0])) return true;
    PieceOwner piece(FitRunWithinTol(srf, curve, grid, ru, rv, rt, k, tol));
    if (!piece || KernelFailed()) return false;
    if (!piece->W && RunOnOnePole(srf, piece->X[0], piece->Y[0], NumCtrlU(piece.get()))) return true;
    return ReplaceByIsoLine(srf, piece) && AddPiece(piece, separate, pieces, &count, joined);
  };
  if (s[0].state == 1) push(s[0].u, s[0].v, s[0].t);
  for (int i = 1; i < ns; ++i) {
    if (s[i].state != s[i - 1].state) {
      double cu, cv, ct;
      if (LocateEdgeForSurfCurveProjNorm(curve, srf, s[i].t, s[i - 1].t, &cu, &cv, &ct,
                                         kEdgeSteps, s[i - 1].state, &grid.x, &grid.y,
                                         &grid.z) != 0)
        return nullptr;
      // A crossing on a seam lies on either side of it: each run takes the side of the sample
      // beside it in the run (the one before when it ends there, the one after when it starts).
      const ProjSample crossing = {cu, cv, ct, 1};
      const ProjSample before = k > 0 ? ProjSample{ru[k - 1], rv[k - 1], rt[k - 1], 1} : s[i - 1];
      if (s[i - 1].state == 1 || !separate) {
        const ProjSample end = CrossingBeside(srf, before, crossing);
        push(end.u, end.v, ct);
        if (k >= 2 && !makePiece()) return nullptr;
      }
      k = 0;
      if (s[i].state == 1 || !separate) {
        const ProjSample start = CrossingBeside(srf, s[i], crossing);
        push(start.u, start.v, ct);
      }
    }
    const bool both = s[i].state == 1 && s[i - 1].state == 1;
    // A pole passed between the samples: the curve ends on it and the next starts there. Its
    // feet either side may also seem to lie across a seam (half the period apart): the pole
    // stands for that crossing.
    int free = -1;
    if (both && FreeAtPole(srf, s[i - 1]) < 0 && FreeAtPole(srf, s[i]) < 0) {
      ProjSample m;
      double in, out;
      if (PoleBetween(curve, srf, s[i - 1], s[i], grid, &m, &free, &in, &out) != 0) return nullptr;
      if (free >= 0) {
        Coord(m, free) = in;
        push(m.u, m.v, m.t);
        if (k >= 2 && !makePiece()) return nullptr;
        FlushJoined(pieces, &count, joined);
        k = 0;
        Coord(m, free) = out;
        push(m.u, m.v, m.t);
      }
    }
    // A curve in the parameter plane cannot cross a seam: the run ends on it, in either mode,
    // and the next one starts on its other side. Both seams of a surface closed both ways may lie
    // between two samples: the earlier crossing first, then the rest from its far side.
    ProjSample from = s[i - 1];
    for (int crossings = 0; both && free < 0 && crossings < 2; ++crossings) {
      ProjSample a, b;
      int seam = -1;
      for (int dir = 0; dir < 2; ++dir) {
        if (!CrossesSeam(srf, Coord(from, dir), Coord(s[i], dir), dir, ClosedIn(srf, dir))) continue;
        ProjSample ta, tb;
        if (LocateSeam(curve, srf, from, s[i], dir, grid, &ta, &tb) != 0) return nullptr;
        if (seam < 0 || ta.t < a.t) a = ta, b = tb, seam = dir;
      }
      if (seam < 0) break;
      SeamCornerSides(srf, 1 - seam, from, s[i], &a, &b);
      push(a.u, a.v, a.t);
      if (k >= 2 && !makePiece()) return nullptr;
      FlushJoined(pieces, &count, joined);
      k = 0;
      push(b.u, b.v, b.t);
      from = b;
    }
    if (s[i].state == 1) push(s[i].u, s[i].v, s[i].t);
    free = s[i].state == 1 && i + 1 < ns ? FreeAtPole(srf, s[i]) : -1;
    if (free >= 0) {
      // A pole: a curve in the parameter plane reaches it along one value of the free parameter
      // and leaves along another, so the curve ends there as at a seam.
      if (k >= 2 && !makePiece()) return nullptr;
      FlushJoined(pieces, &count, joined);
      k = 0;
      Coord(s[i], free) = leave[i];
      push(s[i].u, s[i].v, s[i].t);
    }
  }
  if (k >= 2 && s[ns - 1].state == 1 && !makePiece()) return nullptr;
  return HandPieces(srf, pieces, count, joined);
}

BsplineList* SurfCloudProjectClosestGeometry(Bspline* srf, Cloud* cloud, int edgeFlag,
                                             int separate) {
  if (!srf || srf->kind != 2 || !cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z)
    return nullptr;
  const int n = cloud->npts;
  TrackingScope scope;
  ProjSample* s = MallocArray<ProjSample>(n);
  double* uv = MallocArray<double>(2, n);
  if (!s || !uv || KernelFailed()) return nullptr;
  PieceArray pieces = PieceArray::Zeroed(n);
  PieceOwner joined;
  int count = 0;
  if (!pieces || KernelFailed()) return nullptr;
  {
    SurfaceGridCache grid;
    for (int i = 0; i < n; ++i) {
      const double P[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
      if (ProjectPoint(srf, P, &grid.x, &grid.y, &grid.z, &s[i]) != 0) return nullptr;
    }
  }
  // Feet on a seam could lie on either side of it; an interpolant between feet across it would
  // run the long way over the whole domain.
  SideOfSeams(srf, s, n);
  // A foot on a pole or an apex lies there at any value of the free parameter: the point ends
  // the run that reaches it, at the value of the point before, and starts the next, at the
  // value of the point after (leave).
  double* leave = MallocArray<double>(n);
  if (!leave || KernelFailed()) return nullptr;
  for (int i = 0; i < n; ++i) {
    const int free = s[i].state == 1 ? FreeAtPole(srf, s[i]) : -1;
    if (free < 0) continue;
    const bool before = i > 0 && s[i - 1].state == 1, after = i + 1 < n && s[i + 1].state == 1;
    leave[i] = after ? Coord(s[i + 1], free) : Coord(s[i], free);
    Coord(s[i], free) = before ? Coord(s[i - 1], free) : leave[i];
  }
  for (int i = 0; i < n;) {
    if (s[i].state != 1) {
      ++i;
      continue;
    }
    int e = i;
    while (e + 1 < n && s[e + 1].state == 1 && (e == i || FreeAtPole(srf, s[e]) < 0) &&
           SeamBetween(srf, s[e], s[e + 1]) < 0)
      ++e;
    const int first = edgeFlag && i > 0 && s[i - 1].state != 1 ? i - 1 : i;
    const int last = edgeFlag && e + 1 < n && s[e + 1].state != 1 ? e + 1 : e;
    const int len = last - first + 1;
    // The run stops at a seam or a pole with the next point usable: the next run starts there
    // (on the pole itself, at the value it is left along), and a joined curve cannot go on.
    const bool cut = e + 1 < n && s[e + 1].state == 1;
    const int pole = cut && e > i ? FreeAtPole(srf, s[e]) : -1;
    const int next = pole >= 0 ? e : e + 1;
    for (int j = 0; j < len; ++j) uv[j] = s[first + j].u, uv[n + j] = s[first + j].v;
    // Points whose feet all lie on one pole make no curve (see SurfCurveProjectClosestGeometry).
    if (len >= 2 && !RunOnOnePole(srf, uv, uv + n, len)) {
      PieceOwner piece(InterpolatePoints(uv, uv + n, nullptr, len - 1, nullptr, 3, 0));
      if (!piece || KernelFailed()) return nullptr;
      piece->owner = srf;
      if (!AddPiece(piece, separate, pieces, &count, joined)) return nullptr;
    }
    if (cut) FlushJoined(pieces, &count, joined);
    if (pole >= 0) Coord(s[e], pole) = leave[e];
    i = next;
  }
  return HandPieces(srf, pieces, count, joined);
}
