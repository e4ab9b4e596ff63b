#include "bspline/refines.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"

namespace {

double DistSq3(const double a[3], const double b[3]) {
  const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

// Parameter-plane point and first derivative of a 2D curve, and the point compared between
// curves: mapped through the owner surface when there is one, else (u, v, 0).
void EvalCurve2(Bspline* crv, double t, double uv[3], double duv[3], double cmp[3]) {
  const int du[2] = {0, 1};
  const int dv[2] = {0, 0};
  double out[2][3];
  EvalPointOnGeometryM(crv, t, 0.0, du, dv, 2, 0, out);
  for (int k = 0; k < 3; ++k) {
    uv[k] = out[0][k];
    duv[k] = out[1][k];
    cmp[k] = out[0][k];
  }
  if (crv->owner) Eval3DPointOnSurfArray(crv->owner, uv[0], uv[1], 0, 0, cmp);
}

// The refiners' input: sound records (a curve in a parameter plane with a sound owner when it
// has one), a finite point and finite start parameters. Anything else is refused with -2
// before the first evaluation.
bool SoundCurve2(const Bspline* c) { return BsplineSound(c) && (!c->owner || BsplineSound(c->owner)); }

}  // namespace

int DParamfromDisplacement(const double d[3], const double Su[3], const double Sv[3],
                           const double N[3], double* du, double* dv) {
  const double ax = std::fabs(N[0]), ay = std::fabs(N[1]), az = std::fabs(N[2]);
  // The coordinate plane where the tangent plane projects best; y only when strictly largest.
  int axis;
  if (ax > az)
    axis = ay > ax ? 1 : 0;
  else
    axis = ay > az ? 1 : 2;
  // Su and Sv all but parallel, as a share of their lengths: N = Su x Sv has the square of the
  // surface's unit.
  if (std::fabs(N[axis]) < 1e-10 * VecSize3(Su) * VecSize3(Sv)) return -2;
  switch (axis) {
    case 0:
      *du = (d[1] * Sv[2] - d[2] * Sv[1]) / N[0];
      *dv = (Su[1] * d[2] - Su[2] * d[1]) / N[0];
      break;
    case 1:
      *du = (d[2] * Sv[0] - d[0] * Sv[2]) / N[1];
      *dv = (Su[2] * d[0] - Su[0] * d[2]) / N[1];
      break;
    default:
      *du = (d[0] * Sv[1] - d[1] * Sv[0]) / N[2];
      *dv = (Su[0] * d[1] - Su[1] * d[0]) / N[2];
      break;
  }
  return 0;
}

static int FindProjectionUVPointGuessRun(Bspline* srf, const double P[3], const double D[3], double* u,
                               double* v, int iterations) {
  const double tol = 5e-6 * ControlPointDiagonal(srf);
  double fu = ClampRefinerParam(*u, srf->umin, srf->umax) ? 0.8 : 1.0;
  double fv = ClampRefinerParam(*v, srf->vmin, srf->vmax) ? 0.8 : 1.0;
  double lastSq = kNoValue;
  for (int it = 0; it < iterations; ++it) {
    double plane[4], S[3], Su[3], Sv[3], X[3], d[3], du, dv;
    FindTangentPlane(srf, *u, *v, plane, S, Su, Sv);
    if (PlaneLineIntersect(plane, P, D, X) != 0) return -2;
    VecDiff3(X, S, d);
    lastSq = VecDotProd3(d, d);
    if (lastSq < tol * tol) return 0;
    if (DParamfromDisplacement(d, Su, Sv, plane, &du, &dv) != 0) return -2;
    *u += fu * du;
    *v += fv * dv;
    ClampRefinerParamDamped(*u, srf->umin, srf->umax, fu);
    ClampRefinerParamDamped(*v, srf->vmin, srf->vmax, fv);
  }
  // Legacy acceptance: the squared miss against the unsquared tolerance, looser than the test
  // inside the loop; callers rely on it.
  return lastSq < tol ? 0 : -2;
}

static int FindClosestUVPointGuessRun(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                            double* distSq, double* stepSq, int iterations) {
  double fu = ClampRefinerParam(*u, srf->umin, srf->umax) ? 0.8 : 1.0;
  double fv = ClampRefinerParam(*v, srf->vmin, srf->vmax) ? 0.8 : 1.0;
  // A step of 1e-5 of the net's diagonal counts as converged: at unit size the 1e-10 squared
  // step callers know, and the same share of the surface at any other size.
  const double diag = ControlPointDiagonal(srf);
  const double doneSq = 1e-10 * diag * diag;
  double best = kNoValue;
  double step = kNoValue;
  for (int it = 0; it < iterations; ++it) {
    double plane[4], Su[3], Sv[3], F[3], d[3], du, dv, dist;
    FindTangentPlane(srf, *u, *v, plane, S, Su, Sv);
    PlaneMinDist(P, plane[0], plane[1], plane[2], plane[3], F, &dist);
    step = DistSq3(F, S);
    *stepSq = step;
    if (step < doneSq) {
      *distSq = DistSq3(P, S);
      return 0;
    }
    if (step <= best) {
      best = step;
    } else {
      fu *= 0.7;
      fv *= 0.7;
    }
    VecDiff3(F, S, d);
    if (DParamfromDisplacement(d, Su, Sv, plane, &du, &dv) != 0) return -2;
    *u += fu * du;
    *v += fv * dv;
    ClampRefinerParamDamped(*u, srf->umin, srf->umax, fu);
    ClampRefinerParamDamped(*v, srf->vmin, srf->vmax, fv);
  }
  // S is still the point before the last step; the result refers to the last measured step.
  *distSq = DistSq3(P, S);
  *stepSq = step;
  return step < doneSq ? 0 : -2;
}

static int FindXorYIntersectCurve2Run(Bspline* crv, double value, int useU, double point[2], double* t,
                            double* residual, int iterations) {
  // Newton on the coordinate. Converged means a residual below 1e-6 of the curve's extent in
  // that coordinate (its control points'), and a slope below 1e-10 of that extent over the range
  // is flat: shares, so that a curve whose parameter or coordinate range is 1e-6 or 1e6, or which
  // lies 1e10 from the origin, is refined as one of unit size. iterations is the least count, and
  // past it (or once converged) the iteration goes on while the step shrinks, to a step of 1e-14
  // of the range, so a converged crossing is exact to round-off.
  ClampRefinerParam(*t, crv->umin, crv->umax);
  const int c = useU ? 0 : 1;
  const double range = crv->umax - crv->umin;
  const double* coord = (useU ? crv->X : crv->Y)[0];
  const auto [lo, hi] = std::minmax_element(coord, coord + NumCtrlU(crv));
  const double extent = *hi - *lo;
  const int bound = iterations > 100 ? iterations : 100;
  bool met = false;
  double lastStep = 0.0;
  for (int it = 0; it < bound; ++it) {
    const int du[2] = {0, 1};
    const int dv[2] = {0, 0};
    double out[2][3];
    EvalPointOnGeometryM(crv, *t, 0.0, du, dv, 2, 0, out);
    point[0] = out[0][0];
    point[1] = out[0][1];
    *residual = value - out[0][c];
    met = met || std::fabs(*residual) < 1e-6 * extent;
    if (*residual == 0.0) return 0;
    if (std::fabs(out[1][c]) * range <= 1e-10 * extent) return met ? 0 : -2;
    double next = *t + *residual / out[1][c];
    ClampRefinerParam(next, crv->umin, crv->umax);
    const double step = std::fabs(next - *t);
    const bool shrinking = it == 0 || step < lastStep;
    // The point and residual written belong to *t: a step too small to matter is not taken.
    if (met && (step <= 1e-14 * range || !shrinking)) return 0;
    if (!met && it + 1 >= iterations && !shrinking) return -2;
    *t = next;
    lastStep = step;
  }
  return met ? 0 : -2;
}


static int NewRefineSrfSrfIntrPointRun(Bspline* srf1, Bspline* srf2, double* u1, double* v1, double* u2,
                             double* v2, double P[3], int iterations, int* clamped, double tol) {
  *clamped = 0;
  auto clampAll = [&]() {
    if (ClampRefinerParam(*u1, srf1->umin, srf1->umax)) *clamped = 1;
    if (ClampRefinerParam(*v1, srf1->vmin, srf1->vmax)) *clamped = 1;
    if (ClampRefinerParam(*u2, srf2->umin, srf2->umax)) *clamped = 1;
    if (ClampRefinerParam(*v2, srf2->vmin, srf2->vmax)) *clamped = 1;
  };
  clampAll();
  double gapSq = kNoValue;
  for (int it = 0; it < iterations; ++it) {
    double pl1[4], pl2[4], S2[3], Su1[3], Sv1[3], Su2[3], Sv2[3];
    FindTangentPlane(srf1, *u1, *v1, pl1, P, Su1, Sv1);
    FindTangentPlane(srf2, *u2, *v2, pl2, S2, Su2, Sv2);
    gapSq = DistSq3(P, S2);
    if (gapSq < tol * tol) return 0;

    double q0[3], q1[3], f1[3], f2[3], M[3], d[3], du1, dv1, du2, dv2, dd;
    if (PlanesIntersect(pl1, pl2, q0, q1) != 0) return -2;
    LinePntMinDistSq(P, q0, q1, f1, &dd);
    LinePntMinDistSq(S2, q0, q1, f2, &dd);
    for (int k = 0; k < 3; ++k) M[k] = (f1[k] + f2[k]) / 2.0;
    if (DParamfromDisplacement(VecDiff3(M, P, d), Su1, Sv1, pl1, &du1, &dv1) != 0) return -2;
    if (DParamfromDisplacement(VecDiff3(M, S2, d), Su2, Sv2, pl2, &du2, &dv2) != 0) return -2;
    *u1 += du1;
    *v1 += dv1;
    *u2 += du2;
    *v2 += dv2;
    clampAll();
  }
  // Legacy acceptance, as in FindProjectionUVPointGuess: squared gap against tol itself.
  return gapSq > tol ? -2 : 0;
}

// ---- Entry points: the checks around the iterations -----------------------------------------
// A converged result must be finite as well: huge coordinates can overflow the squared
// distances, and such a result is reported as not converged.

int FindProjectionUVPointGuess(Bspline* srf, const double P[3], const double D[3], double* u,
                               double* v, int iterations) {
  if (!BsplineSound(srf) || srf->kind != 2 || !AllFinite({P[0], P[1], P[2], D[0], D[1], D[2], *u, *v}))
    return -2;
  const int r = FindProjectionUVPointGuessRun(srf, P, D, u, v, iterations);
  return r == 0 && AllFinite({*u, *v}) ? 0 : -2;
}

int FindClosestUVPointGuess(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                            double* distSq, double* stepSq, int iterations) {
  if (!BsplineSound(srf) || srf->kind != 2 || !AllFinite({P[0], P[1], P[2], *u, *v})) return -2;
  const int r = FindClosestUVPointGuessRun(srf, P, S, u, v, distSq, stepSq, iterations);
  return r == 0 && AllFinite({S[0], S[1], S[2], *u, *v, *distSq, *stepSq}) ? 0 : -2;
}

int FindXorYIntersectCurve2(Bspline* crv, double value, int useU, double point[2], double* t,
                            double* residual, int iterations) {
  if (!SoundCurve2(crv) || crv->kind != 1 || crv->dimension != 2 || !AllFinite({value, *t})) return -2;
  const int r = FindXorYIntersectCurve2Run(crv, value, useU, point, t, residual, iterations);
  return r == 0 && AllFinite({point[0], point[1], *t, *residual}) ? 0 : -2;
}

int RefinePlaneCurvesCrossing(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations, int throughOwner) {
  // Method: Newton on C1(t1) = C2(t2) in the parameter plane, each step halved until the
  // squared gap falls (the gap measured through an owner when asked), clamped to the ranges;
  // iterations is the least count, after it the iteration goes on while the step shrinks, and
  // it ends at a step of 1e-14 of the parameter ranges or a gap at round-off of the curves' size.
  Bspline* c[2] = {crv1, crv2};
  double t[2] = {*t1, *t2}, range[2], size = 0.0;
  for (int k = 0; k < 2; ++k) {
    ClampRefinerParam(t[k], c[k]->umin, c[k]->umax);
    range[k] = c[k]->umax > c[k]->umin ? c[k]->umax - c[k]->umin : 1.0;
    if (throughOwner) {
      size = std::fmax(size, ControlPointDiagonal(c[k]));
      continue;
    }
    double lo[2] = {kEmptyBoxBound, kEmptyBoxBound}, hi[2] = {-kEmptyBoxBound, -kEmptyBoxBound};
    for (int i = 0; i < NumCtrlU(c[k]); ++i) {
      const double x[2] = {c[k]->X[0][i], c[k]->Y[0][i]};
      for (int q = 0; q < 2; ++q) {
        lo[q] = std::fmin(lo[q], x[q]);
        hi[q] = std::fmax(hi[q], x[q]);
      }
    }
    size = std::fmax(size, std::hypot(hi[0] - lo[0], hi[1] - lo[1]));
  }
  const double roundSq = (1e-15 * size) * (1e-15 * size);
  double uv[2][3], d[2][3], p[2][3];
  auto gap = [&](const double at[2]) {
    for (int k = 0; k < 2; ++k) {
      if (throughOwner) {
        EvalCurve2(c[k], at[k], uv[k], d[k], p[k]);
        continue;
      }
      const int du[2] = {0, 1}, dv[2] = {0, 0};
      double out[2][3];
      EvalPointOnGeometryM(c[k], at[k], 0.0, du, dv, 2, 0, out);
      for (int q = 0; q < 3; ++q) {
        uv[k][q] = out[0][q];
        d[k][q] = out[1][q];
        p[k][q] = q < 2 ? out[0][q] : 0.0;
      }
    }
    return DistSq3(p[0], p[1]);
  };
  double f = gap(t), lastStep = 4.0;
  const int bound = iterations > 200 ? iterations : 200;
  for (int it = 0; it < bound && f > roundSq; ++it) {
    const double dx = uv[1][0] - uv[0][0], dy = uv[1][1] - uv[0][1];
    const double det = d[1][0] * d[0][1] - d[1][1] * d[0][0];
    // Parallel (or vanishing) tangents leave the step undefined: stop rather than jump.
    if (!(std::fabs(det) > 1e-10 * std::hypot(d[0][0], d[0][1]) * std::hypot(d[1][0], d[1][1]))) break;
    const double s[2] = {(d[1][0] * dy - d[1][1] * dx) / det, (dy * d[0][0] - d[0][1] * dx) / det};
    if (std::fabs(s[0]) / range[0] + std::fabs(s[1]) / range[1] <= 1e-14) break;  // converged
    double next[2], fNext = f, factor = 1.0;
    bool accepted = false;
    for (int h = 0; h < 60 && !accepted; ++h, factor *= 0.5) {
      for (int k = 0; k < 2; ++k) {
        next[k] = t[k] + factor * s[k];
        ClampRefinerParam(next[k], c[k]->umin, c[k]->umax);
      }
      fNext = gap(next);
      accepted = fNext < f;
    }
    if (!accepted) {
      gap(t);  // the derivatives at the pair kept
      break;
    }
    const double step = std::fabs(next[0] - t[0]) / range[0] + std::fabs(next[1] - t[1]) / range[1];
    t[0] = next[0];
    t[1] = next[1];
    f = fNext;
    if (step <= 1e-14 || (it + 1 >= iterations && step >= lastStep)) break;
    lastStep = step;
  }
  *t1 = t[0];
  *t2 = t[1];
  *distSq = f;
  // Converged: a gap below 1e-7 of the curves' size (the squared 1e-14 at unit size).
  return f <= (1e-7 * size) * (1e-7 * size) ? 0 : -2;
}

int RefineCurve2Intersect(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                          int iterations) {
  if (!SoundCurve2(crv1) || !SoundCurve2(crv2) || crv1->kind != 1 || crv2->kind != 1 ||
      crv1->dimension != 2 || crv2->dimension != 2 || !AllFinite({*t1, *t2}))
    return -2;
  const int r = RefinePlaneCurvesCrossing(crv1, crv2, t1, t2, distSq, iterations, 1);
  return r == 0 && AllFinite({*t1, *t2, *distSq}) ? 0 : -2;
}

int NewRefineSrfSrfIntrPoint(Bspline* srf1, Bspline* srf2, double* u1, double* v1, double* u2,
                             double* v2, double P[3], int iterations, int* clamped, double tol) {
  if (!BsplineSound(srf1) || !BsplineSound(srf2) || srf1->kind != 2 || srf2->kind != 2 ||
      !AllFinite({*u1, *v1, *u2, *v2, tol})) {
    *clamped = 0;
    return -2;
  }
  const int r = NewRefineSrfSrfIntrPointRun(srf1, srf2, u1, v1, u2, v2, P, iterations, clamped, tol);
  return r == 0 && AllFinite({*u1, *v1, *u2, *v2, P[0], P[1], P[2]}) ? 0 : -2;
}
