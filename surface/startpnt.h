// Closed objects: whether a curve or surface closes on itself, recorded in its closed flags.
#pragma once

#include "bspline/smake.h"

// Writes the closed flags from the control points: a 3D curve gets 3 when its end points agree
// within 1e-6 per coordinate, else 0; a 2D curve gets 3 when its ends, clamped into the owner's
// domain, agree within 1e-6 of the domain in u and v or map onto one 3D point of the owner
// (ends on the two sides of a closed surface's seam), else 0 (without owner its ends are
// compared like a 3D curve's); a surface gets 1 or 0 per direction: closed in u when the first
// and last point of every row agree, in v when the first and last row agree (rational:
// weighted coordinates and the weights). Null objects and other curves are left alone.
void SetObjClosed(Bspline* obj);

// The closed flags as a code: 1 when closed in u (a curve's flag), plus 2 when a surface is
// closed in v; 0 for an open object.
int ObjectClosed(Bspline* obj);
