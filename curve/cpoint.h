// The mutually closest points of two curves (quadric/cpoint holds the rest of the derived points;
// this one needs the curve floor's intersection search).
#pragma once

struct Bspline;

// The curves' points at the parameters Intersect2Curve2 (when c1 lies in a surface's parameter
// plane) or Intersect2Curve3 leaves, each evaluated in 3D (through its owner for a curve on a
// surface). A search that does not converge still leaves its best parameters (the start of each
// domain when it could not start at all). Curves that are not sound (bsvalid; a curve on a
// surface with its owner) or not of one dimension leave p1 and p2 untouched, with the error
// state -2. Always 1, as callers rely on.
int FindPntsOn2CurvesClosest(Bspline* c1, Bspline* c2, double p1[3], double p2[3]);
