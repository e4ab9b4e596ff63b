// Curves taken from a surface along a constant parameter: exact isoparametric curves, boundary
// lines in the parameter plane, and the curves of the control net's rows and columns.
// Boundary sides follow the kernel numbering 0 u-minimum, 1 v-maximum, 2 u-maximum, 3 v-minimum.
#pragma once

#include "bspline/smake.h"

// The exact 3D curve of the surface at a constant parameter: dir nonzero holds u at the given
// u and runs in v (v degree, knots and closed flag); dir 0 holds v at the given v and runs in u.
// The value is taken into the domain; within 1e-6 of the range of a domain end the boundary row
// of control points is taken as it is. A curve not flagged closed is marked by SetObjClosed.
// The surface is not changed. A new curve owned by the caller; null with the error state set for
// a curve, a 2D object, a surface that is not sound (bsvalid), a value that is not finite, or on
// failure.
Bspline* MakeIsoparCurve3(Bspline* srf, double u, double v, int dir);

// The straight 2D cubic Bezier along side 0..3 of the surface's parameter box, owned by the
// surface but not on its curve list: sides 0 and 2 hold u at value and run in v over the
// domain, sides 1 and 3 hold v and run in u; the value -1.0 stands for the side's own boundary
// value. The curve takes the surface's closed flag of its running direction, and is marked by
// SetObjClosed when that is 0. Null with the error state set for another side, a surface that is
// not sound (bsvalid), a value that is not finite, or on failure.
Bspline* MakeIsoparCurve2(Bspline* srf, int side, double value);

// A new curve on a surface's curve list: a copy of crv on crv's owner when crv is given, else
// the boundary line of side 0..3 of srf (MakeIsoparCurve2 at the side's boundary value). Null
// for another side without a curve, or on failure (nothing left behind).
Bspline* GetSurfBoundary(Bspline* crv, int side, Bspline* srf);

// The 3D curve through one line of the control net: dir nonzero takes column `index` (0 ..
// degree u + interior u) and runs in v; dir 0 takes row `index` and runs in u. The curve takes
// that direction's degree, knots and closed flag and the surface's rational flag. Null with the
// error state set for anything but a surface of sound structure (bsvalid's BsplineShapeSound;
// the values are copied as they are), an index out of range, or on failure.
Bspline* ExtractCrvFromSrfCntrlLine(Bspline* srf, int index, int dir);
