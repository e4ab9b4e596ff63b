// Closest points polished from a caller's estimate: the foot of a point on a 3D curve, on a
// curve lying on a surface, or on a surface, and the closest pair of two curves. All share one
// damped scheme: a projection step onto the tangent line or plane, clamping into the
// parameter box with a damping factor (times 0.8 per clamp), step halving while the distance
// grows, and Aitken extrapolation while the iteration runs undamped. Nothing is allocated.
#pragma once

struct Bspline;

// Input and output checks as in bspline/refines: records that are not sound, a curve on a
// surface without a sound owner, non-finite points or parameters give -2, and so does a
// converged result that is not finite.

// Foot of P on a 3D curve within [tmin, tmax] from the start t: C, t, distSq = |C - P|^2 and
// the last squared step. 0 converged, -2 not converged within the iterations (t, C and
// distSq then hold the last state) or a vanishing tangent.
int FindClosestPointCurve3(Bspline* crv, const double P[3], double C[3], double tmin, double tmax,
                           double* t, double* distSq, double* stepSq, int iterations);

// The same for a curve in its owner surface's parameter plane, measured in 3D.
int FindClosestPointCurveOnSurf(Bspline* crv, const double P[3], double C[3], double tmin,
                                double tmax, double* t, double* distSq, double* stepSq,
                                int iterations);

// Foot S of P on a surface from the start (u, v): dist is |P - S|, negative when P lies on the
// back side of the normal. 0 (also when the iterations run out), -2 on a degenerate tangent
// plane.
int FindClosestUVPointGuessDist(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations);

// As FindClosestUVPointGuessDist, also giving the (not unit) surface normal at the result.
int FindClosestUVPointGuessNorm(Bspline* srf, const double P[3], double S[3], double* u, double* v,
                                double* dist, double* stepSq, int iterations, double normal[3]);

// Closest pair of two 3D curves from (t1, t2); distSq is squared. 0, -2 on a vanishing
// tangent, or the result of the point-to-curve fallback at a range end.
int RefineCurve3sClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                              int iterations);

// The same where each curve is 3D or lies on a surface.
int RefineCurvesClosestPoint(Bspline* crv1, Bspline* crv2, double* t1, double* t2, double* distSq,
                             int iterations);
