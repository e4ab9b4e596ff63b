// Exact circles as rational quadratic B-spline curves.
#pragma once

#include "bspline/smake.h"
#include "foundation/cloudrec.h"
#include "foundation/vec3.h"

// The full circle of the given radius about centre in the plane z = centre z: degree 2,
// rational, 9 control points on the square about the centre (weights 1 at the corners of the
// axes, 0.7071067811865475 between), knots 0, 0, 0, 0.25, 0.25, .., 1, 1, 1, closed flag 2;
// it starts at centre + (r, 0, 0) and runs counter-clockwise seen from +z, passing the +y side
// at 0.25. Exact form: quadric type 2 (centre, normal (0, 0, 1), radius). A negative radius is
// not refused (the polygon is mirrored through the centre). Null on failure.
Bspline* NewCircleBspline(const double centre[3], double radius);

// The same circle in the plane through centre normal to axis, counter-clockwise about the axis;
// its exact form records the axis as given (callers normalise it first). An axis shorter than
// 1e-10 gives no rotation: the circle lies in the plane z = centre z. Null on failure.
Bspline* MakeCircleWGivenAxis(const double centre[3], double r, const double axis[3]);

// ---- least-squares circles -----------------------------------------------------------------
// Least-squares circle through planar points: the algebraic circle of the centred points refined
// by MINPACK (tolerance 4e-16, 30 evaluations), both on the points scaled by a power of two to
// unit size, so a circle of any size is fitted alike. centre[2] is 0; the radius is not negative.
// error: mean squared deviation. 0; -2 for null arrays, n < 3, all points within 1e-10 of the
// first, collinear points (the estimate fails; the error state is then cleared), a failed
// refinement or exhausted memory. Outputs are written only on success.
int NewFitCircle(const float* x, const float* y, int n, double centre[3], double* radius, double* error);
// Kasa's algebraic circle x^2 + y^2 + D x + E y + F = 0 by the normal equations: coef (F, D, E,
// 1), centre (-D/2, -E/2). 0; -2 for null arrays, a singular system or exhausted memory, and for an
// imaginary radius (radius 0 then).
int estimate_circle_para(const float* x, const float* y, int n, double coef[4], double centre[2], double* radius);
// Mean squared and largest deviation | |p - c| - |r| | of the points from the circle (both 0
// for no points or null arrays).
void circle_fit_error(const float* x, const float* y, int n, const double centre[2], double radius, double* error,
                      double* maxDeviation);
// Refinement by the subsystem's engine with the algebraic residual CircleChiSq, the caller's
// tolerance and accepted-step limit; radius |a2|. 0, or -2 for null arrays, n < 1 or when memory
// ran out. An unconverged
// run returns 0 with the last accepted circle.
int CircleNonlinearFit(const float* x, const float* y, int n, double centre[2], double* radius, double tolerance,
                       int maxIterations, double* error, double* maxDeviation);
// (x - a0)^2 + (y - a1)^2 - a2^2 and its gradient; nothing written for a null array.
void CircleChiSq(float x, float y, const double* a, double* residual, double* dyda, int ma);

// ---- extreme circles ------------------------------------------------------------------------
// Inscribed circle (the largest through three points with no point strictly inside, within the
// enclosing circle about the mean point) and enclosing circle (MakeOuterCircle, falling back on
// the smallest three-point circle with no point outside). Candidate tests run in single
// precision; a search over more than 100 points shows a status text and polls the user break.
// A break replaces the inscribed circle by the least-squares centre with the largest empty
// radius about it. 1; 0 for n < 3, null arrays, exhausted memory, no candidate (collinear or coincident
// points), or a break whose least-squares circle fails.
int MakeExtremeCircles(const float* x, const float* y, int n, double innerCentre[2], double* innerRadius,
                       double outerCentre[2], double* outerRadius);
// The inscribed circle alone (enclosing mean circle enlarged by 1.2; status and break poll above
// 50 points). Every failure but n < 3 falls back on the least-squares centre with the largest
// empty radius about it; 0 for n < 3, null arrays or when that fit fails too, else 1.
int MakeInnerCircle(const float* x, const float* y, int n, double centre[2], double* radius);
// An enclosing circle by iteration over the convex hull: the diameter circle of two far
// points, else three-point circles swapping in the point farthest outside, until none is
// outside. It holds every point but is not in general the smallest enclosing circle: on noisy
// round profiles (radius 10, noise 0.5) it came out up to 6% larger (0.58). 1; 0 for n < 3, null arrays,
// exhausted memory, collinear triples or no enclosing circle within 11 + 20 passes.
int MakeOuterCircle(const float* x, const float* y, int n, double centre[2], double* radius);
// The enclosing circle of MakeExtremeCircles; its result.
int MakeOuterCircle2(const float* x, const float* y, int n, double centre[2], double* radius);
// Least-squares centre with the largest point distance as radius. 0; -2 for null arrays, n < 3,
// a failed fit or a radius below 1e-10.
int FitFakeOuterCircle(const float* x, const float* y, int n, double centre[2], double* radius);
// 1 when circle B (centre, squared radius, radius) lies inside circle A, within 1.000001.
int IsIncludeCircle(double ax, double ay, double ar2, double ar, double bx, double by, double br2, double br);

// ---- circles of known radius -----------------------------------------------------------------
// Hough vote for the centre of a circle of radius r: every point votes on the circle of radius r
// about it (m angles 0, s, .., s = 2 pi / (m - 1)) in a g x g grid over the points' box enlarged
// by r; centre: the middle of the first cell in row-major order with the most votes. 0; -2 for
// null arrays, n < 2, g < 2 or m < 2, or exhausted memory.
int CircleHoughTransWithRadius(const float* x, const float* y, int n, double r, int g, int m, double centre[2]);
// The centre of the circle of radius r best fitting the points: the vote refined by MINPACK,
// then a refinement from the free-radius circle's centre when it fits better, on the centred
// points scaled by a power of two to unit size (r with them). error: mean
// squared deviation. 0; -2 for null arrays, n < 3, coincident points or a failed vote or first
// refinement.
int FitCircleWithGivenRadius(const float* x, const float* y, int n, double r, double centre[2], double* error);
// The circle of radius r fitted to the cloud in its best plane, as an exact 3D circle (type 2).
// error: 3.37e38 unless the planar fit succeeded. Null for fewer than 3, coincident or collinear
// points (within 0.001 of the longest side of their box from a line), or a failed fit. The same
// points scaled or moved give the same circle scaled or moved, to their round-off.
Bspline* FitCircleBsplineWithKnownRadius(const Cloud* cloud, double r, double* error);
// The circle (centre[0], centre[1], 0) of radius r in a plane frame (world-to-frame transform M)
// taken back into the world: control points, exact-form centre and unit normal. Null on failure.
Bspline* CircleFromPlaneFrame(const double centre[2], double r, const Xform M);
