// Exact circular arcs as rational quadratic B-spline curves.
#pragma once

#include "bspline/smake.h"

// The arc of radius r about centre in the plane z = centre z, counter-clockwise from
// startAngle to endAngle (degrees; an end below the start crosses angle 0, equal angles give
// the full circle), one rational quadratic Bezier segment per quarter turn or less. Knots are
// in radians from the start angle (an arc of less than 90 degrees whose range is below 0.1
// takes knots 0, 0, 0, 1, 1, 1); closed flag 2 for the full circle; an arc of less than 0.001
// degrees is flagged non-rational. Exact form: quadric type 3 (centre, normal (0, 0, 1),
// radius, sweep in degrees). Null on failure, and for a sweep that is not positive (a start
// more than 360 above the end).
Bspline* MakeArcZBspline(double startAngle, double endAngle, const double centre[3], double r);
