// Sweeps of a curve between two rail curves. The inputs are changed in place (reversed, raised
// in degree, given knots, made rational): callers that need their curves unchanged pass copies.
#pragma once

#include "bspline/smake.h"

// 1 when an end control point (first or last) of a lies strictly closer than tol to an end
// control point of b; else 0. Control points only, never evaluated ends.
int CheckIntersection(Bspline* a, Bspline* b, double tol);

// Reorients the two rails and the curve in place (u direction) so that rails[0] starts at the
// curve's last control point and rails[1] at the curve's first (within tol).
void CheckIfCurvesInSameDir(Bspline* rails[2], Bspline* curve, double tol);

// The profile, whose ends sit on the two paths, carried along both at once: every row is a copy
// of the profile (never rotated) uniformly scaled so that its chord spans the distance between
// the paths, anchored at each path and blended between the anchorings with the Hermite weight
// 3g^2 - 2g^3. u follows the profile (row 0 is the profile), v the paths. Null on failure:
// zk_error_status -10 when a path does not touch the profile's ends (tol, control points);
// otherwise the error state of the failed degree, knot, rationality or memory step.
Bspline* ExtrudeW2PathCurves(Bspline* profile, Bspline* path1, Bspline* path2, double tol);
