// Curves through the points of an ordered cloud, open or closed, and straight 3D lines between
// two points that carry their exact line form.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// A new curve through every point of the cloud, in order. closed = 1: a closed cubic (whatever
// degree asks) whose seam is curvature continuous; any other value: an open curve of the degree
// on chord-length parameters. The cloud is not changed. Null for a null or empty cloud, a closed
// cloud of fewer than 4 points, a degree the interpolation refuses, or no memory.
Bspline* InterpCurve3(Cloud* cloud, int closed, int degree);

// A new cubic 3D line from p0 to p1 with the exact line form {p0, p1} (quadric type 1); points
// that coincide give a point curve with that form. Null for points that are not finite or no
// memory.
Bspline* InterpolateLineCurve3(double p0[3], double p1[3]);
