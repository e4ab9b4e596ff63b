// Sweeps: a profile translated along a path or a direction, carried along a path with moving
// frames, swept between two rails, or combined span by span with another curve. The inputs are
// changed in place (reversed, raised in degree, given knots, made rational): callers that need
// their curves unchanged pass copies.
#pragma once

#include "bspline/smake.h"

// 1 when an end control point (first or last) of a lies strictly closer than tol to an end
// control point of b; else 0 (also, error state -2, for a record that is not a 3D curve of sound
// structure, bsvalid). Control points only, never evaluated ends.
int CheckIntersection(Bspline* a, Bspline* b, double tol);

// Reorients the two rails and the curve in place (u direction) so that rails[0] starts at the
// curve's last control point and rails[1] at the curve's first (within tol). Nothing is changed
// (error state -2) when one is not a 3D curve of sound structure (bsvalid).
void CheckIfCurvesInSameDir(Bspline* rails[2], Bspline* curve, double tol);

// The profile, whose ends sit on the two paths, carried along both at once: every row is a copy
// of the profile (never rotated) uniformly scaled so that its chord spans the distance between
// the paths, anchored at each path and blended between the anchorings with the Hermite weight
// 3g^2 - 2g^3. u follows the profile (row 0 is the profile), v the paths. Null on failure:
// zk_error_status -10 when a path does not touch the profile's ends (tol, control points); -2
// for a curve that is not a sound (bsvalid) 3D curve (nothing changed) or a result that is not
// sound; otherwise the error state of the failed degree, knot, rationality or memory step.
Bspline* ExtrudeW2PathCurves(Bspline* profile, Bspline* path1, Bspline* path2, double tol);

// The profile translated, without turning, along the path: control point (i, j) = profile[i] +
// (path[j] - path[0]), weight = profile weight i x path weight j / path weight 0. u (degree,
// knots, range) is the profile's, v the path's. The pair is given the same rationality in place.
// keepPlace 0 moves the surface so that its corner control point lies on the path's first one
// and scales the weights so that the corner weight is the path's first weight; otherwise the
// profile stays where it is. Null on failure: a curve that is not 3D or is broken (-2), memory.
Bspline* ExtrudeSurface(Bspline* profile, Bspline* path, int keepPlace);

// The 3D curve pushed along length x dir (dir not normalised) by a cubic straight path that
// starts at the curve's point at u minimum (end 0) or u maximum (end 1); end is passed on to
// ExtrudeSurface as keepPlace. Null with the error state set for a curve that is not a sound
// (bsvalid) 3D curve, a dir or length that is not finite, an end other than 0 or 1, and
// whenever the extrusion fails or its surface overflows.
Bspline* CreateExtrudeSurface(Bspline* curve, int end, double dir[3], double length);

// The path, whose two ends lie on the two generators (control points strictly within 0.01 of the
// longest side of the three curves' control-point box), swept along both: a frame sweep along
// gen2 anchored at the path's start and one along gen1 anchored at its end, blended with the
// Hermite weight 3g^2 - 2g^3 of the path's normalised Greville parameter. u follows the path (row 0 is the path); v takes gen1's degree and knots
// refined by those of the two inner sweeps (which refit their generators). The three curves are
// changed in place (reoriented, raised, given knots, made rational). Null on failure:
// zk_error_status -10 when a generator does not touch the path; -2 for a curve that is not a
// sound (bsvalid) 3D curve, a result that is not sound, or inner sweeps that cannot be brought to one layout; the error state of a failed inner
// sweep, set operation or allocation.
Bspline* ExtrudeW2Generators(Bspline* gen1, Bspline* gen2, Bspline* path);

// ---- Sweeps with moving frames ---------------------------------------------------------------
// The unit principal normal of the 3D curve at t: the second derivative less its part along the
// unit tangent. Derivative components below 1e-6 of the speed count as 0, and a second derivative
// below 1e-5 of the speed in every component as none, so a straight stretch gives the zero
// vector.
void NormalToCurve3(Bspline* curve, double t, double out[3]);

// The profile carried along the path and turned with it: the path is refitted within a
// thousandth of its size (F; v takes F's degree, knots and range, u the profile's) and given
// knots (its shape unchanged) until neighbouring frames turn by at most 4 degrees, so that the
// blend of the rows keeps the profile's size (within 1e-3 of it); a frame (origin, normal,
// tangent) is set at the parameter of F nearest each of F's control points, and row j is the
// profile moved rigidly from frame to frame (row 0 is the profile as given, the surface
// finally placed so that its corner lies on F's first control point). ExtrudeWRotation takes
// the principal normal (the previous one where F is straight; on a straight path the first
// comes from the profile's first leg), NewExtrudeWRotation carries the previous normal onto
// each new normal plane, so the profile does not twist where the curvature vanishes or changes
// side. The profile is changed in place (its control points end in the last frame; it may be
// made rational); the path is not. flag plays no part. Null on failure: a curve that is not 3D
// or is broken, a failed refit (-2), memory.
Bspline* ExtrudeWRotation(Bspline* profile, Bspline* path, int flag);
Bspline* NewExtrudeWRotation(Bspline* profile, Bspline* path, int flag);

// The curve's knot vector merged with the parameters of its most strongly curved samples
// (degree + 1 samples per knot interval) that are not knots yet: a new array in *knots (the
// caller frees it, Free) of *count values. Always 1; on failure (a curve that is not 3D, memory)
// *knots is null, *count 0 and the error state tells why.
int RefineKnotVector(Bspline* curve, double** knots, int* count);

// ---- Tensor-product sweep from per-span polynomials ------------------------------------------
// The surface a(u) + b(v) - b(start): a swept along b without turning, a in place at v's start,
// built span by span. u takes a's degree and knots, v b's, the rational flag b's (all weights end
// 1.0). Each pair of non-empty spans gives its polynomial (the sum of the two span polynomials)
// and from it, by blossoming at the knots, the control points it governs; every control point is
// the mean of its span pairs' values, exact for polynomial spans. A rational span with weights
// that vary is taken through its polynomial interpolant at degree + 1 points. The pair is given
// the same rationality in place first, and at least one must be rational. flag plays no part.
// Null on failure: neither curve rational, a curve that is not 3D or is broken (-2), memory.
Bspline* TensorNewExtrudeWRotation(Bspline* a, Bspline* b, int flag);

// The polynomial of span `span` (knots[span + d] .. knots[span + d + 1], d the degree) in the
// power basis of the local parameter s = (t - knots[span + d]) / (span length): row k of out
// ((d + 1) x 4, the caller's) holds the coefficients of s^k for x, y, z and w (w is the constant
// 1). Found from d + 1 samples at s = k / (d + 1). 0, or -2 for an empty span (out untouched),
// when memory ran out or the power matrix could not be inverted; -2 (error state -2) for a
// record that is not a sound curve (bsvalid) or a span outside 0 .. interior count.
int getPolynomialCoefi(int span, Bspline* curve, double** out);

// The power coefficients of the sum of two span polynomials, ca (na x 4) in s and cb (nb x 4) in
// t: x[k][l] = ca[k][x] [l = 0] + cb[l][x] [k = 0], likewise y and z (each na x nb), and w 1.0
// everywhere. Returns 0.
int TensorProductSurf(double** ca, double** cb, double** x, double** y, double** z, double** w, int nb,
                      int na);
