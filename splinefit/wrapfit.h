// Closed curves fitted by wrapping: a wrapped (unclamped) knot vector turned clamped.
#pragma once

#include "bspline/smake.h"

// Turns direction dir (0 u, 1 v; a curve with dir 1 has nothing to do) of obj from an
// unclamped knot vector into a clamped one over the same domain: the domain ends are raised to
// full multiplicity and the control points outside the domain are dropped, so the shape on the
// domain is unchanged and the control-point count stays. With `average` the first and last
// control point of every control line of the direction are replaced by their mean (weights
// excepted). 8 when converted, 0 when both ends were already clamped, -2 on failure with obj
// unchanged.
int PutWrapedObjToNonWraped(Bspline* obj, int dir, int average);
