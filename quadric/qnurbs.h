// Exact rational B-spline surfaces of spheres, cylinders and cones: a full circle in u (degree
// 2, nine control points on the square about the axis, weights 1 and 0.7071067811865476
// alternating, knots 0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1, closed in u) swept along a
// half circle (sphere) or a line (cylinder, cone) in v. Coordinates are stored unweighted, W[v][u]
// = wv * wu. The filled record owns its knots, matrices and exact form (QuadricInfo).
//
// Each filler takes a record holding no knots, matrices or exact form yet and returns 0; -2 when
// memory ran out (nothing attached; scalar fields may have been written, so release the record)
// or when the record already holds knots, matrices or an exact form (untouched).
#pragma once

#include "bspline/smake.h"

// Poles at cz -/+ r on the world z axis through the centre, rows 1..3 at heights -r, 0, r.
// Sets kind surface and dimension 3; exact form type 21 (r, cx, cy, cz as given: a negative r
// gives the same sphere with both directions reversed).
int SphereNurbs(double cx, double cy, double cz, double r, Bspline* srf);
// cyl: axis point, axis (need not be unit), radius, start and end heights along the axis. Row 0
// at start, row 1 at end. Sets kind surface and dimension 3; type 22, the description copied as
// given. -2 also for a null description.
int CylinderNurbs(const QuadricInfo* cyl, Bspline* srf);
// cone: apex, axis, half angle (radians), start and end heights; row radii |h| tan(angle), the
// end row mirrored through the axis when start * end < 0 so that every column passes through the
// apex. Kind and dimension are left as they are. Type 23, the description copied as given. -2
// also for a null description.
int ConeNurbs(const QuadricInfo* cone, Bspline* srf);
