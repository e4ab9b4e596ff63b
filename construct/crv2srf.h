// Curve-to-surface construction: the deviation allowed next to a boundary curve for a
// tangent-plane angle, used when cleaning the knots of lofted and bounded surfaces.
#pragma once

#include "bspline/smake.h"

// Deviation allowed next to the boundary curve `bnd` for the tangent-plane angle (degrees):
// half the shortest distance between corresponding control points of bnd and `next` times
// tan(angle), weighted by next's basis at that control point. Always 0; *dev = 0 for angle 0
// and when the two curves do not correspond (not 3D, or different control-point counts).
int GetBndryDeviation(Bspline* bnd, Bspline* next, double angle, double* dev);
// The corresponding control-point pair of a and b with the smallest distance (ties: the later
// index) and that distance. 0, or -2 unless both are 3D curves with equal control-point counts.
int GetShortestCntrlPair(Bspline* a, Bspline* b, int* index, double* dist);
