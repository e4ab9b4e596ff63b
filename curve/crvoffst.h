// Curve operations around offsetting: parameters per span of a break array, exact offsets of
// circles, arcs and lines, the offset direction and the folds of an offset, planarity and the
// centroid of a curve's control points.
#pragma once

#include "bspline/smake.h"

// Principal axes of the 3D curve's control points into axis0..axis2, largest spread first, so
// axis2 is the normal of the best-fit plane. 1 when the smallest eigenvalue (the mean squared
// distance from that plane) is at most tol; 0 when it is larger, for anything but a sound
// (bsvalid) 3D curve, or on failure.
int IsPlanarCurve3(Bspline* crv, double tol, double axis0[3], double axis1[3], double axis2[3]);

// Mean of the control points (weights not applied). 0; -2 for null or a curve whose structure
// is not sound (bsvalid; error state set).
int ComputeCrvBsplineCentroid(Bspline* crv, double p[3]);

// ---- parameters per span -----------------------------------------------------------------------
// Parameters over a break (knot) array: every span longer than 1e-6 of the range gives its start
// and the k - 2 points that cut it into k - 1 equal steps (k <= 2 counts as 2), and the last
// break closes the list; repeated and decreasing breaks add nothing. One break gives {b[0]}.
// A new array in *out (the caller frees it) and its length in *count. 0; -2 (outputs null and
// 0) for a null array, n < 1, k = INT_MAX or memory (also a total count past the int range).
int GetNParValsPerSpan(const double* b, int n, int k, double** out, int* count);

// ---- exact offsets ------------------------------------------------------------------------------
// The circle (quadric type 2) offset by d outwards, or inwards with the inward flag: the same
// centre and axis, radius r + d (r - d). A radius below 1e-6 r sets *collapsed and gives null; a
// null curve, another type or an axis shorter than 1e-6 gives null without the flag.
Bspline* CreateCircleOffset(Bspline* crv, double d, int inward, int* collapsed);
// The same for an arc (quadric type 3): radius r + d (r - d) about the same centre in the same
// plane, with the same sweep; its exact form records the centre and the unit normal.
Bspline* CreateArcOffset(Bspline* crv, double d, int inward, int* collapsed);
// A line (quadric type 1) moved by d along its offset direction at the start; its exact form
// moves with it. Null for a null curve, another type or on failure.
Bspline* CreateLineOffset(Bspline* crv, double d);

// ---- offset direction and folds --------------------------------------------------------------
// At t: *s = a quarter of the radius of curvature, L^3 / (4 |C' x C''|) with L = |C'|, and dir
// the unit principal normal reversed (pointing away from the centre of curvature). A C'' whose
// components all lie below 1e-5 L is taken as (1e-5 L, 1e-5 L, 1e-5 L) and |C' x C''| is floored
// at 1e-10 L^2, so the values stay finite and scale with the curve (s 0 where C' vanishes).
// A 2D curve is measured in 3D through its owner. Returns 0.
int FindOffsetDirectionAndRadiusAtPoint(Bspline* crv, double t, double* s, double dir[3]);
// The offset direction at t, or, where the curve is almost straight there (a quarter radius of
// curvature of 1000 diagonals or more), at the nearest parameter in steps of a 99th of the
// domain, up first, then down, that bends more; on a straight curve the direction found last.
// A t beyond the domain is taken at its nearer end. Returns 0; -2 with the error state set and
// dir untouched for a curve that is not sound (bsvalid; a curve on a surface with its owner) or
// a t that is not a number.
int FindCrvOffsetDirection(Bspline* crv, double t, double dir[3]);
// The radius of curvature |C'|^3 / |C' x C''| at n parameters into a new array *r (the caller
// frees it), capped at 1e6 x the curve's size (its greatest speed |C'| over the samples times
// its parameter range), the radius of a straight stretch; |C'| is floored at 1e-5 of that
// greatest speed. 0; -2 (r null) for a null object, a surface or memory.
int Curve3RadiusOfCurvatureNpts(Bspline* crv, const double* t, int n, double** r);
// The samples i where an offset by d folds: the offset normal (the offset direction at t[0],
// then carried along by the binormal fixed there; negated for d < 0) points towards the centre
// of curvature and |d| exceeds the radius r[i]. A new index array in *idx (the caller frees
// it) and its length in *count. 0; -2 (outputs null and 0) for a null object, a surface or
// memory.
int CheckForSelfIntersectionGivenRadii(Bspline* crv, const double* t, int n, const double* r,
                                       double d, int** idx, int* count);
