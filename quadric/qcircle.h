// Exact circles as rational quadratic B-spline curves.
#pragma once

#include "bspline/smake.h"

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
