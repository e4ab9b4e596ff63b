// Curves taken from a surface along a constant parameter.
#pragma once

#include "bspline/smake.h"

// The exact 3D curve of the surface at a constant parameter: dir nonzero holds u at the given
// u and runs in v (v degree, knots and closed flag); dir 0 holds v at the given v and runs in u.
// The value is taken into the domain; within 1e-6 of the range of a domain end the boundary row
// of control points is taken as it is. A curve not flagged closed is marked by SetObjClosed.
// The surface is not changed. A new curve owned by the caller; null for a curve, a 2D object,
// or on failure (error state set).
Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir);
