// Exact circular arcs as rational quadratic B-spline curves.
#pragma once

#include "bspline/smake.h"

// The arc of radius r about centre in the plane z = centre z, counter-clockwise from
// startAngle to endAngle (degrees; an end below the start crosses angle 0, equal angles give
// the full circle), one rational quadratic Bezier segment per quarter turn or less. Knots are
// in radians from the start angle (an arc of less than 90 degrees whose range is below 0.1
// takes knots 0, 0, 0, 1, 1, 1); closed flag 2 for the full circle; an arc of less than 0.001
// degrees is flagged non-rational. Exact form: quadric type 3 (centre, normal (0, 0, 1),
// radius, sweep in degrees). Null for a sweep that is not positive (a start more than 360 above
// the end; the error state left as it was); null with the error state set on failure, for a
// sweep above 360,000 degrees, for an angle, centre
// coordinate or radius that is not finite, and for angles so large that the knots cannot tell
// a quarter turn from round-off.
Bspline* MakeArcZBspline(double startAngle, double endAngle, const double centre[3], double r);

// The arc fitted to 3-D points: their best plane, the algebraic circle through the first and
// last point, and the angular extent from the first point after the largest angular gap to the
// last before it, mapped back into space. Null with the error state set for null arrays, n < 3,
// or a failed step; status receives -2 only when the circle estimate fails. The arrays are not
// changed.
Bspline* FitArcBspline(const float* x, const float* y, const float* z, int n, int* status);
// Counter-clockwise extent (degrees, 0..360) of the points about centre: from the point after the
// largest angular gap to the one before it. r is not used. 0; -2 for n < 2 or exhausted memory.
int ComputeFitArcAngle(const float* u, const float* v, int n, const double centre[2], double r, double* startAngle,
                       double* endAngle);
// The algebraic circle x^2 + y^2 + D x + E y + F = 0 through the first and the last point that
// fits the others best: coef (F, D, E, 1). 0; -2 for coincident end points, a chord parallel to
// y (x0 = x1), a degenerate or non-finite sum, or an imaginary radius (r = 0 then).
int estimate_arc_para(const float* u, const float* v, int n, double coef[4], double centre[2], double* r);
