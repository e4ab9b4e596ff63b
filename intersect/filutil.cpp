#include "intersect/filutil.h"

#include <cmath>

#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/intrplt.h"
#include "surface/srfutils.h"

namespace {

// Selects the refiner: 1 the older scheme, anything else the bracketed one. Nothing changes it.
int test1 = 2;

// Radius of curvature standing for a flat direction.
constexpr double kFlatRadius = 3.37e38;

double Lo(const Bspline* s, int dir) { return dir ? s->knotsV[s->degreeV] : s->knotsU[s->degreeU]; }
double Hi(const Bspline* s, int dir) {
  return dir ? s->knotsV[NumCtrlV(s)] : s->knotsU[NumCtrlU(s)];
}

// Point, partials (second ones with `second`: Suv, Suu, Svv) and unit normal of a surface.
struct SurfPoint {
  double d[6][3];  // S, Su, Sv, Suv, Suu, Svv
  double n[3];     // unit
};

bool Evaluate(Bspline* s, double u, double v, SurfPoint& p, bool second) {
  static const int du[6] = {0, 1, 0, 1, 2, 0}, dv[6] = {0, 0, 1, 1, 0, 2};
  if (EvalPointOnGeometryM(s, u, v, du, dv, second ? 6 : 3, 0, p.d) != 0) return false;
  for (int r = 1; r < (second ? 6 : 3); ++r) ReduceSmallComponents(p.d[r]);
  ComputeSurfaceNormal(s, u, v, p.d[1], p.d[2], p.n);
  const double l = VecSize3(p.n);
  if (!(l > 0.0) || !std::isfinite(l)) return false;
  for (int q = 0; q < 3; ++q) p.n[q] /= l;
  return true;
}

// The pair's size: the larger control-point box diagonal, the unit of every length threshold.
double PairSize(Bspline* S1, Bspline* S2) {
  const double s = std::fmax(GetGeometricDiagonalSizeOfObj(S1), GetGeometricDiagonalSizeOfObj(S2));
  return s > 0.0 && std::isfinite(s) ? s : 1.0;
}

// The state of a contact-pair iteration.
struct Ball {
  Bspline* S[2];
  double r, size;
  double p[4];  // u1, v1, u2, v2
  SurfPoint at[2];
  double t[3];  // direction along the intersection
  double X[3];  // corner where the tangent lines across the intersection meet
  double lo[4], hi[4];
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
  if (!ResolveInTangentPlane(D1, b.at[0].d[1], b.at[0].d[2], &step[0], &step[1]) ||
      !ResolveInTangentPlane(D2, b.at[1].d[1], b.at[1].d[2], &step[2], &step[3]))
    return -2;
  return 0;
}

// Clamps the parameters into their boxes; true when any moved.
bool ClampToBoxes(Ball& b) {
  bool clamped = false;
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = b.S[k / 2];
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if (b.p[k] < lo) {
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

bool StartBall(Ball& b, Bspline* S1, Bspline* S2, double r, const double p[4]) {
  b.S[0] = S1;
  b.S[1] = S2;
  b.r = r;
  b.size = PairSize(S1, S2);
  for (int k = 0; k < 4; ++k) {
    b.p[k] = p[k];
    b.lo[k] = Lo(b.S[k / 2], k & 1);
    b.hi[k] = Hi(b.S[k / 2], k & 1);
  }
  if (!EvaluateBoth(b)) return false;
  VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
  for (int q = 0; q < 3; ++q) b.X[q] = b.at[0].d[0][q];  // the guess lies on both surfaces
  return true;
}

void WriteBack(const Ball& b, double* u1, double* v1, double* u2, double* v2) {
  *u1 = b.p[0];
  *v1 = b.p[1];
  *u2 = b.p[2];
  *v2 = b.p[3];
}

int Sign(double x) { return x >= 0.0 ? 1 : -1; }

int RefineSelected(Bspline* S1, Bspline* S2, double r, double p[4], const double nb[4], double tol) {
  return test1 == 1
             ? NewRefineToFilletPoint(S1, S2, r, &p[0], &p[1], &p[2], &p[3], nb[0], nb[1], nb[2],
                                      nb[3], tol)
             : NewestRefineToFilletPoint(S1, S2, r, &p[0], &p[1], &p[2], &p[3], nb[0], nb[1],
                                         nb[2], nb[3], tol);
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

int NewestRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1,
                              double* u2, double* v2, double nu1, double nv1, double nu2,
                              double nv2, double tol) {
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
  if (!StartBall(b, S1, S2, r, start)) return -2;
  int sign0[4] = {1, 1, 1, 1};
  bool clamped = false;
  for (int k = 0; k < L; ++k) {
    clamped = false;
    double step[4];
    if (ContactSteps(b, k, nb, 1.0, step) != 0) return -2;
    double val[4];
    for (int q = 0; q < 4; ++q) val[q] = b.p[q] + f * step[q];
    if (k == 0) {
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
    clamped = ClampToBoxes(b);
    WriteBack(b, u1, v1, u2, v2);
    if (!EvaluateBoth(b)) return -2;
    const double gap = CentreGap(b);
    if (gap < tol) return 100;
    if (k == N - 1) f = 1.0;
    if (k == L - 1 && L < 2 * (N + 60) && gap < 1000.0 * tol) L = 2 * (N + 60);
    VecCrossProd3(b.at[0].n, b.at[1].n, b.t);
  }
  return clamped ? -2 : 0;
}

int NewRefineToFilletPoint(Bspline* S1, Bspline* S2, double r, double* u1, double* v1, double* u2,
                           double* v2, double nu1, double nv1, double nu2, double nv2, double tol) {
  const double start[4] = {*u1, *v1, *u2, *v2}, nb[4] = {nu1, nv1, nu2, nv2};
  Ball b;
  if (!StartBall(b, S1, S2, r, start)) return -2;
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

int NewFilletTrace(Bspline* S1, Bspline* S2, IntersectionTrace* in, IntersectionTrace* out,
                   double tol) {
  const int n = in->nodeCount;
  TrackingScope scope;
  double* p = MallocArray<double>(5, n > 0 ? n : 1);
  if (!p) return -2;
  int i = 0;
  for (IntersectionTraceNode* m = in->head; m && i < n; m = m->next, ++i) {
    p[5 * i] = m->u1;
    p[5 * i + 1] = m->v1;
    p[5 * i + 2] = m->u2;
    p[5 * i + 3] = m->v2;
    p[5 * i + 4] = m->filletParam;
  }
  double prev1[3] = {}, prev2[3] = {}, d1p[3] = {}, d2p[3] = {};
  for (i = 0; i < n; ++i) {
    double q[4] = {p[5 * i], p[5 * i + 1], p[5 * i + 2], p[5 * i + 3]};
    const int j = i + 1 < n ? i + 1 : (i > 0 ? i - 1 : i);
    const double nb[4] = {p[5 * j], p[5 * j + 1], p[5 * j + 2], p[5 * j + 3]};
    if (RefineSelected(S1, S2, p[5 * i + 4], q, nb, tol) != 100) continue;
    double P1[3], P2[3], d1[3], d2[3];
    Eval3DPointOnSurfCoord(S1, q[0], q[1], 0, 0, P1);
    Eval3DPointOnSurfCoord(S2, q[2], q[3], 0, 0, P2);
    if (out->nodeCount > 0) {
      VecDiff3(P1, prev1, d1);
      VecDiff3(P2, prev2, d2);
      // Contact points that turn back would fold the fillet over itself.
      if (out->nodeCount > 3 && (VecDotProd3(d1, d1p) < 0.0 || VecDotProd3(d2, d2p) < 0.0)) continue;
    }
    IntersectionTraceNode* made = AppendTraceNode(out, P1, q[0], q[1], q[2], q[3]);
    if (!made) return -2;
    made->filletParam = p[5 * i + 4];
    if (out->nodeCount == 1) out->open = 1;
    for (int c = 0; c < 3; ++c) {
      prev1[c] = P1[c];
      prev2[c] = P2[c];
    }
    if (out->nodeCount >= 2)
      for (int c = 0; c < 3; ++c) {
        d1p[c] = d1[c];
        d2p[c] = d2[c];
      }
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
  for (int k = 0; k < 4; ++k) {
    const Bspline* s = k < 2 ? S1 : S2;
    const int closed = k & 1 ? s->closedV : s->closedU;
    const double lo = Lo(s, k & 1), hi = Hi(s, k & 1);
    if (!closed || std::fabs(*first[k] - *last[k]) <= 0.5 * (hi - lo)) {
      *first[k] = *last[k] = 0.5 * (*first[k] + *last[k]);
    } else if (*last[k] <= *first[k]) {
      // The trace crosses the seam: its ends go to the two ends of the range.
      *first[k] = hi;
      *last[k] = lo;
    } else {
      *first[k] = lo;
      *last[k] = hi;
    }
  }
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
