#include "bspline/refines2.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/refines.h"
#include "bspline/smake.h"
#include "foundation/geometry.h"
#include "foundation/helper.h"
#include "foundation/vec3.h"

namespace {

// The start value of every "previous distance": larger than any squared distance met.
const double kHuge = 3.37e38;

double DistSq3(const double a[3], const double b[3]) {
  const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

bool AllBelow(const double v[3], double tol) {
  return std::fabs(v[0]) < tol && std::fabs(v[1]) < tol && std::fabs(v[2]) < tol;
}

// Aitken's delta-squared on the parameter sequence t2, t1, t (oldest first). Applied only
// while undamped, where the sequence converges linearly and the extrapolation is safe.
void Aitken(double& t, double t1, double t2, double lo, double hi, double& damping) {
  const double denom = t - 2.0 * t1 + t2;
  if (std::fabs(denom) > 1e-10) {
    t = t2 - (t1 - t2) * (t1 - t2) / denom;
    ClampRefinerParamDamped(t, lo, hi, damping);
  }
}

// A curve seen in 3D: a space curve directly, a curve in a parameter plane through its owner.
struct Curve3View {
  Bspline* crv;
  bool onSurface;

  explicit Curve3View(Bspline* c) : crv(c), onSurface(c->dimension == 2) {}
  void Eval(double t, int order, double out[3]) const {
    if (onSurface)
      EvalCrvOnSrfArray(crv->owner, crv, t, order, out);
    else
      Eval3DPointOnCurve3Array(crv, t, order, out);
  }
};

// Foot of P on the tangent line at C. The line's second point must stand clear of C in some
// coordinate, else the foot is lost in rounding; hence the doubling.
double FootOnTangent(const double P[3], const double C[3], const double D1[3], double factor,
                     double foot[3]) {
  double B[3];
  for (int guard = 0; guard < 1100; ++guard) {
    for (int k = 0; k < 3; ++k) B[k] = C[k] + factor * D1[k];
    if (!(std::fabs(B[0] - C[0]) < 1e-6 && std::fabs(B[1] - C[1]) < 1e-6 &&
          std::fabs(B[2] - C[2]) < 1e-6))
      break;
    factor *= 2.0;
  }
  double dist = 0.0;
  LinePntMinDist(P, C, B, foot, &dist);
  return dist;
}

int ClosestPointOnCurve(const Curve3View& curve, const double P[3], double C[3], double tmin,
                        double tmax, double* t, double* distSq, double* stepSq, int iterations) {
  ClampRefinerParam(*t, tmin, tmax);
  *stepSq = kHuge;
  double prev = kHuge;
  double f = 1.0;
  int counter = 1;
  double tPrev = *t, step = 0.0;  // parameter before the last update, and that update
  double t1 = *t, t2 = *t;        // the two parameters before the current one, for Aitken

  // C(t) and its squared distance; while the distance grew noticeably the last step is halved.
  // At tPrev the distance is prev, so the halving ends; 64 rounds reach tPrev in doubles.
  auto measure = [&]() {
    curve.Eval(*t, 0, C);
    double dsq = DistSq3(C, P);
    for (int h = 0; h < 64 && prev < 0.999 * dsq; ++h) {
      step /= 2.0;
      *t = tPrev + step;
      ClampRefinerParam(*t, tmin, tmax);
      curve.Eval(*t, 0, C);
      dsq = DistSq3(C, P);
      f *= 0.8;
    }
    *distSq = dsq;
  };

  for (int it = 0; it < iterations; ++it) {
    measure();
    prev = *distSq;
    double D1[3];
    curve.Eval(*t, 1, D1);
    if (AllBelow(D1, 1e-6)) {
      *stepSq = kHuge;
      return -2;
    }
    double foot[3], d[3];
    // Close to the line a long line loses the foot to rounding: project again on a short one.
    if (FootOnTangent(P, C, D1, 10.0, foot) < 0.001) FootOnTangent(P, C, D1, 0.001, foot);
    VecDiff3(foot, C, d);
    *stepSq = VecDotProd3(d, d);
    if (*stepSq < 1e-20) return 0;

    // Parameter step from the tangent's dominant coordinate; x wins ties, then y.
    const double ax = std::fabs(D1[0]), ay = std::fabs(D1[1]), az = std::fabs(D1[2]);
    int k = 0;
    if (ay > ax || az > ax) k = az > ay ? 2 : 1;
    t2 = t1;
    t1 = *t;
    tPrev = *t;
    *t += f * d[k] / D1[k];
    ClampRefinerParamDamped(*t, tmin, tmax, f);
    if (++counter > 2 && f == 1.0) {
      Aitken(*t, t1, t2, tmin, tmax, f);
      counter = 1;
    }
    step = *t - tPrev;
  }
  measure();
  return -2;
}

int ClosestPointOnSurface(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                          double* dist, double* stepSq, int iterations, double normal[3],
                          double startPrev) {
  const double umin = srf->umin, umax = srf->umax, vmin = srf->vmin, vmax = srf->vmax;
  double fu = ClampRefinerParam(*u, umin, umax) ? 0.8 : 1.0;
  double fv = ClampRefinerParam(*v, vmin, vmax) ? 0.8 : 1.0;
  double prev = startPrev;
  *stepSq = kHuge;
  int counter = 1;
  double pu = *u, pv = *v, stepU = 0.0, stepV = 0.0;
  double u1 = *u, u2 = *u, v1 = *v, v2 = *v;
  double plane[4], Su[3], Sv[3], F[3], dsq = 0.0;

  auto measure = [&]() {
    double footDist;
    FindTangentPlane(srf, *u, *v, plane, S, Su, Sv);
    PlaneMinDist(P, plane[0], plane[1], plane[2], plane[3], F, &footDist);
    dsq = DistSq3(P, S);
  };
  // Signed distance: negative when P lies behind the normal.
  auto finish = [&]() {
    double d[3];
    *dist = std::sqrt(dsq);
    if (VecDotProd3(VecDiff3(P, S, d), plane) < 0.0) *dist = -*dist;
    if (normal)
      for (int k = 0; k < 3; ++k) normal[k] = plane[k];
  };

  for (int it = 0; it < iterations; ++it) {
    measure();
    for (int h = 0; h < 64 && prev < 0.999 * dsq; ++h) {
      stepU /= 2.0;
      stepV /= 2.0;
      *u = pu + stepU;
      *v = pv + stepV;
      ClampRefinerParam(*u, umin, umax);
      ClampRefinerParam(*v, vmin, vmax);
      fu *= 0.8;
      fv *= 0.8;
      measure();
    }
    prev = dsq;
    // The 1e-10 taken off first is a legacy bias of the reported step; callers compare it.
    *stepSq = DistSq3(F, S) - 1e-10;
    if (*stepSq < 1e-10) {
      finish();
      return 0;
    }
    double d[3], du, dv;
    VecDiff3(F, S, d);
    if (DParamfromDisplacement(d, Su, Sv, plane, &du, &dv) != 0) {
      finish();
      return -2;
    }
    u2 = u1;
    u1 = *u;
    v2 = v1;
    v1 = *v;
    pu = *u;
    pv = *v;
    *u += fu * du;
    *v += fv * dv;
    ClampRefinerParamDamped(*u, umin, umax, fu);
    ClampRefinerParamDamped(*v, vmin, vmax, fv);
    if (++counter > 2 && fu == 1.0 && fv == 1.0) {
      Aitken(*u, u1, u2, umin, umax, fu);
      Aitken(*v, v1, v2, vmin, vmax, fv);
      counter = 1;
    }
    stepU = *u - pu;
    stepV = *v - pv;
  }
  // Out of iterations: the point at the last parameters is still the best estimate there is,
  // and callers take it as a result.
  measure();
  finish();
  return 0;
}

// Moves t to the bracket end when the step leaves [lo, hi], scaling the damping by the part of
// the step that was allowed; then the bracket closes in behind the parameter's old value.
void StepInBracket(double& t, double step, double& lo, double& hi, double& damping) {
  const double from = t;
  const double to = t + step;
  if (to > hi) {
    damping *= (hi - from) / step;
    t = hi;
  } else if (to < lo) {
    damping *= (lo - from) / step;
    t = lo;
  } else {
    t = to;
  }
  if (step > 0.0)
    lo = (lo + from) / 2.0;
  else if (step < 0.0)
    hi = (hi + from) / 2.0;
}

int ProjectOnto(const Curve3View& target, const double P[3], double* t, double* distSq) {
  double foot[3], stepSq;
  Bspline* c = target.crv;
  if (target.onSurface)
    return FindClosestPointCurveOnSurf(c, P, foot, c->umin, c->umax, t, distSq, &stepSq, 10);
  return FindClosestPointCurve3(c, P, foot, c->umin, c->umax, t, distSq, &stepSq, 10);
}

int ClosestPairOfCurves(const Curve3View& c1, const Curve3View& c2, double* t1, double* t2,
                        double* distSq, int iterations, bool parallelStop) {
  const double min1 = c1.crv->umin, max1 = c1.crv->umax;
  const double min2 = c2.crv->umin, max2 = c2.crv->umax;
  ClampRefinerParam(*t1, min1, max1);
  ClampRefinerParam(*t2, min2, max2);
  double lo1 = min1, hi1 = max1, lo2 = min2, hi2 = max2;
  double f1 = 1.0, f2 = 1.0;
  double best = kHuge, best1 = *t1, best2 = *t2;
  double p1 = *t1, p2 = *t2, s1 = 0.0, s2 = 0.0;
  int atLo1 = 0, atHi1 = 0, atLo2 = 0, atHi2 = 0;
  double P1[3], P2[3], D1[3], D2[3], D[3];

  int it = 0, halvings = 0;
  while (it < iterations) {
    c1.Eval(*t1, 0, P1);
    c2.Eval(*t2, 0, P2);
    VecDiff3(P2, P1, D);
    const double dsq = VecDotProd3(D, D);
    *distSq = dsq;
    if (dsq < 1e-14) return 0;
    if (dsq > best && halvings < 50) {
      // Overshot: retry half the step from the previous pair; this uses up no iteration.
      s1 /= 2.0;
      s2 /= 2.0;
      *t1 = p1 + s1;
      *t2 = p2 + s2;
      ++halvings;
      continue;
    }
    halvings = 0;
    if (dsq <= best) {
      best = dsq;
      best1 = *t1;
      best2 = *t2;
      // A parameter that keeps improving while pinned to its curve's end has its answer
      // there: the rest is a point-to-curve problem.
      if ((*t1 == min1 && ++atLo1 == 5) || (*t1 == max1 && ++atHi1 == 5))
        return ProjectOnto(c2, P1, t2, distSq);
      if ((*t2 == min2 && ++atLo2 == 5) || (*t2 == max2 && ++atHi2 == 5))
        return ProjectOnto(c1, P2, t1, distSq);
    }
    c1.Eval(*t1, 1, D1);
    c2.Eval(*t2, 1, D2);
    const double n1 = VecSize3(D1), n2 = VecSize3(D2);
    if (n1 < 1e-10 || n2 < 1e-10) return -2;
    double T1[3], T2[3];
    for (int k = 0; k < 3; ++k) {
      T1[k] = D1[k] / n1;
      T2[k] = D2[k] / n2;
    }
    const double c = VecDotProd3(T1, T2);
    if (parallelStop && c * c > 0.99999695) return 0;  // locally parallel: any pair is as good

    // Stationary point of |C2 + x2 T2 - C1 - x1 T1|^2 in arc-length steps x1, x2; near
    // parallel tangents (det small) a half step along each tangent replaces it.
    const double a = VecDotProd3(T1, D), b = VecDotProd3(T2, D), det = 1.0 - c * c;
    const double num1 = a - c * b, num2 = c * a - b;
    double step1 = std::fabs(num1) < 1000.0 * std::fabs(det) ? num1 / det / n1 : a / (2.0 * n1);
    double step2 = std::fabs(num2) < 1000.0 * std::fabs(det) ? num2 / det / n2 : b / (-2.0 * n2);
    step1 *= f1;
    step2 *= f2;
    p1 = *t1;
    p2 = *t2;
    StepInBracket(*t1, step1, lo1, hi1, f1);
    StepInBracket(*t2, step2, lo2, hi2, f2);
    s1 = *t1 - p1;
    s2 = *t2 - p2;
    ++it;
  }
  c1.Eval(*t1, 0, P1);
  c2.Eval(*t2, 0, P2);
  *distSq = DistSq3(P1, P2);
  if (*distSq > best) {
    *t1 = best1;
    *t2 = best2;
    *distSq = best;
  }
  return 0;
}

// The refiners' input: a sound 3D curve, or a sound curve in the parameter plane of a sound
// owner; a sound surface; finite points and parameters. Anything else is refused with -2
// before the first evaluation, and a converged result must be finite too (huge coordinates
// can overflow the squared distances): otherwise it is reported as not converged.
bool SoundCurve(const Bspline* c) {
  return BsplineSound(c) && c->kind == 1 && (c->dimension == 3 || BsplineSound(c->owner));
}

bool SoundSurface(const Bspline* s) { return BsplineSound(s) && s->kind == 2; }

int CheckedResult(int r, std::initializer_list<double> outputs) {
  return r == 0 && !AllFinite(outputs) ? -2 : r;
}

}  // namespace

int FindClosestPointCurve3(Bspline* crv, const double P[3], double C[3], double tmin, double tmax,
                           double* t, double* distSq, double* stepSq, int iterations) {
  if (!SoundCurve(crv) || !AllFinite({P[0], P[1], P[2], tmin, tmax, *t})) return -2;
  const int r = ClosestPointOnCurve(Curve3View(crv), P, C, tmin, tmax, t, distSq, stepSq, iterations);
  return CheckedResult(r, {C[0], C[1], C[2], *t, *distSq, *stepSq});
}

int FindClosestPointCurveOnSurf(Bspline* crv, const double P[3], double C[3], double tmin,
                                double tmax, double* t, double* distSq, double* stepSq,
                                int iterations) {
  if (!SoundCurve(crv) || !AllFinite({P[0], P[1], P[2], tmin, tmax, *t})) return -2;
  const int r = ClosestPointOnCurve(Curve3View(crv), P, C, tmin, tmax, t, distSq, stepSq, iterations);
  return CheckedResult(r, {C[0], C[1], C[2], *t, *distSq, *stepSq});
}

int FindClosestUVPointGuessDist(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations) {
  if (!SoundSurface(srf) || !AllFinite({P[0], P[1], P[2], *u, *v})) return -2;
  const int r = ClosestPointOnSurface(srf, P, S, u, v, dist, stepSq, iterations, nullptr, kHuge);
  return CheckedResult(r, {S[0], S[1], S[2], *u, *v, *dist, *stepSq});
}

int FindClosestUVPointGuessNorm(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations, double normal[3]) {
  if (!SoundSurface(srf) || !AllFinite({P[0], P[1], P[2], *u, *v})) return -2;
  const int r = ClosestPointOnSurface(srf, P, S, u, v, dist, stepSq, iterations, normal, 1.797693e308);
  return CheckedResult(r, {S[0], S[1], S[2], *u, *v, *dist, *stepSq, normal[0], normal[1], normal[2]});
}

int RefineCurve3sClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations) {
  if (!SoundCurve(crv1) || !SoundCurve(crv2) || !AllFinite({*t1, *t2})) return -2;
  const int r = ClosestPairOfCurves(Curve3View(crv1), Curve3View(crv2), t1, t2, distSq, iterations, true);
  return CheckedResult(r, {*t1, *t2, *distSq});
}

int RefineCurvesClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                             int iterations) {
  if (!SoundCurve(crv1) || !SoundCurve(crv2) || !AllFinite({*t1, *t2})) return -2;
  const int r = ClosestPairOfCurves(Curve3View(crv1), Curve3View(crv2), t1, t2, distSq, iterations, false);
  return CheckedResult(r, {*t1, *t2, *distSq});
}
