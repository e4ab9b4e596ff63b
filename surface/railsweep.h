// A curve swept between two rail curves that start at its two ends: the work behind
// ExtrudeW2PathCurves, CheckIntersection and CheckIfCurvesInSameDir (construct/extrude documents
// them), here for the implied-tangent boundary curves of the surface tools. Curves are 3D.
#pragma once

#include "bspline/smake.h"

// 1 when an end control point of a (first or last) lies strictly closer than tol to an end
// control point of b, else 0. Control points only, never evaluated ends. 0 (error state -2) for
// a record that is not a 3D curve of sound structure (bsvalid).
int EndControlPointsTouch(const Bspline* a, const Bspline* b, double tol);

// Reorients rails and curve in place so that rails[0] starts at the curve's last control point
// and rails[1] at its first (within tol): the rails are first made to run the same way. Nothing
// is changed (error state -2) when one is not a 3D curve of sound structure (bsvalid).
void OrientRailsToCurve(Bspline* rails[2], Bspline* curve, double tol);

// The rails raised to one degree and given one knot vector (on [0, 1]), and the curve and both
// rails made rational when any of the three is, all in place. 0, or -2 with the error state of
// the failed step.
int MakeRailsCompatible(Bspline* rails[2], Bspline* curve);

// The Greville parameters of the curve's control points mapped linearly onto [0, 1] (all 0 for
// a curve without range): the blending parameters of the rail sweeps. A new array in the
// caller's scope; null when memory ran out or (error state -2) the curve's structure is not
// sound (bsvalid).
double* NormalisedGrevilleParams(const Bspline* curve);

// The surface whose rows are copies of the profile, scaled so that each row's chord spans the
// distance between the rails' control points of that row, anchored at either rail and blended
// between the two anchorings by the Hermite weights 2g^3 - 3g^2 + 1 and 3g^2 - 2g^3 of the
// profile's normalised Greville parameter g. u follows the profile (row 0 is the profile
// itself), v the rails. A profile whose chord is below 1e-10 of its size (its control points'
// box diagonal) is closed: its rows are moved, not scaled. The three curves are changed in
// place (reversed, raised in degree, given knots, made rational as the others). Null on
// failure: zk_error_status -10 when a rail does not touch the profile's ends within tol; -2 for
// a curve that is not a sound (bsvalid) 3D curve (nothing changed) or a result that is not
// sound; the error state when a set operation or memory failed.
Bspline* SweepProfileAlongRails(Bspline* profile, Bspline* path1, Bspline* path2, double tol);
