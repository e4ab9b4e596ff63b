// Newton-type refiners that polish a caller's parameter guess: a displacement turned into a
// parameter step, projection along a direction onto a surface, an older closest-point
// refiner, crossings of a parameter-plane curve with an iso-line, intersections of two
// parameter-plane curves, and a point on the intersection of two surfaces. Every parameter is
// clamped into its object's range; nothing is allocated.
#pragma once

struct Bspline;

// Every refiner here refuses with -2, before it evaluates, records that are not sound
// (bsvalid; a parameter-plane curve's owner too) and points, directions or start parameters
// that are not finite; a result that would be 0 with a non-finite output (an overflow of huge
// coordinates) is -2 as well.

// (du, dv) with d = du Su + dv Sv, by Cramer's rule in the coordinate plane of N's largest
// component (N = Su x Sv, the tangent plane's normal as long as that). -2 when that component is
// below 1e-10 of |Su| |Sv|.
int DParamfromDisplacement(const double d[3], const double Su[3], const double Sv[3],
                           const double N[3], double* du, double* dv);

// Moves (u, v) to where the line P + s D meets the surface. 0 when within 5e-6 of the
// control-point box diagonal, -2 otherwise.
int FindProjectionUVPointGuess(Bspline* srf, const double P[3], const double D[3], double* u,
                               double* v, int iterations);

// Older closest-point refiner: S, (u, v), distSq = |P - S|^2 and the last squared step.
// 0 converged (squared step below 1e-10 of the squared control-point box diagonal), -2 not
// converged or degenerate.
int FindClosestUVPointGuess(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                            double* distSq, double* stepSq, int iterations);

// Where a parameter-plane curve meets u = value (useU nonzero) or v = value: point (u, v),
// t and the residual. 0 within 1e-6 of the curve's extent in that coordinate (its control
// points'; then refined on while the step shrinks, to round-off), -2 otherwise; iterations is
// the least count, not the most.
int FindXorYIntersectCurve2(Bspline* crv, double value, int useU, double point[2], double* t,
                            double* residual, int iterations);

// Crossing of two parameter-plane curves; distances measured in 3D through an owner surface
// where a curve has one. Newton in the plane, safeguarded: each step halved until the gap
// falls, clamped to the ranges, iterations the least count (it goes on while the step shrinks,
// to round-off). 0 when the gap ends below 1e-7 of the curves' size, -2 otherwise (parallel
// tangents, no crossing near).
int RefineCurve2Intersect(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                          int iterations);

// RefineCurve2Intersect's iteration without its input checks: the gap measured through an
// owner when throughOwner is nonzero, else in the parameter plane (the size then being the
// curves' parameter-plane size). 0 met, -2 otherwise.
int RefinePlaneCurvesCrossing(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations, int throughOwner);

// A point P on the intersection of two surfaces from the parameters of both (in/out);
// clamped is set to 1 whenever a parameter had to be clamped. 0 when the surface points meet
// within tol, -2 otherwise.
int NewRefineSrfSrfIntrPoint(Bspline* srf1, Bspline* srf2, double* u1, double* v1, double* u2,
                             double* v2, double P[3], int iterations, int* clamped, double tol);

// The clamping convention of every refiner here and in bspline/refines2: a parameter leaving
// its box is put back on the edge, and its damping factor shrinks by 0.8 each time, so an
// iteration that keeps pushing against the edge settles there instead of bouncing.
inline bool ClampRefinerParam(double& x, double lo, double hi) {
  if (x < lo) {
    x = lo;
    return true;
  }
  if (x > hi) {
    x = hi;
    return true;
  }
  return false;
}
inline void ClampRefinerParamDamped(double& x, double lo, double hi, double& damping) {
  if (ClampRefinerParam(x, lo, hi)) damping *= 0.8;
}
