// Cutting objects into pieces along one parameter direction, and cutting the curves listed on
// a surface where their tangent turns sharply.
//
// A direction flag is 0 for u and nonzero for v; a curve always uses its u data. Two
// parameters are equal when they differ by less than 1e-6 of the direction's range. Pieces are
// taken by making the cut values knots of full multiplicity (degree + 1) and copying out the
// control points between them, so every piece is an exact part of the object.
#pragma once

#include "bspline/smake.h"

// ---- sub-objects ---------------------------------------------------------------------------
// 1 when t lies strictly more than the tolerance inside the direction's knot range, else 0.
int CheckIfParIsInternal(Bspline* obj, int dir, double t);

// A new int array (Malloc) in *indices of the low knot index of each of the n non-decreasing
// parameters (the span search continues from the previous one). With withEnds the array has
// n + 2 entries: 0 first, the index of the last knot last, the found indices between.
// Returns the direction's degree, or 0 when the allocation failed (error state set).
int GetLowKnotIndexArray(const double* pars, int n, Bspline* obj, int dir, int** indices,
                         int withEnds);

// The object made of knots lowKnot .. highKnot of direction dir (inclusive) and the control
// points lowKnot .. highKnot - degree - 1 of that direction; the other direction is copied
// whole. The caller makes sure both knot runs have full multiplicity. Closed flags, curves,
// trim loops, exact forms and property blocks are not copied; the owner is. Null on failure
// (error state set), also for indices that do not describe a piece of the object.
Bspline* ExtractObjFromObj(Bspline* obj, int dir, int lowKnot, int highKnot);

// The piece of obj between t0 and t1 in dir; t1 < t0 gives the piece running backwards. Values
// outside the range are taken at its ends. With both ends at the range ends the piece keeps the
// direction's closed flag. obj is never changed. Null on failure; a piece shorter than the
// tolerance (also after the ends were moved onto nearby knots) sets zk_error_status to -9.
Bspline* ExtractObjFromObjGivenPar(Bspline* obj, int dir, double t0, double t1);

// Cuts obj at the n non-decreasing parameters into the caller's n + 1 slots. Slot i holds the
// piece that ends at pars[i] (the last slot the piece that ends at the range end); slots of
// values that are not cuts (at a range end, or within the tolerance of the value before) stay
// null, and the piece ending at the range end goes to the slot of the first value lying at
// that end. obj is not changed. 0 (also for n < 1, nothing touched); -1 when memory or the
// knot insertion failed (no piece left); -2 with zk_error_status -2 when no value is internal.
int SplitObjectToNObjects(Bspline* obj, int n, double* pars, int dir, Bspline** pieces);

// ---- tangent breaks --------------------------------------------------------------------------
// The angle between two 3-vectors in degrees, 0 to 180; 0 whenever |a.b| >= |a||b| (parallel,
// exactly opposite, or a zero vector).
double AngleBetweenVectors(const double a[3], const double b[3]);

// The interior knot values (each once, ascending) where the tangent of the curve's 3D image
// turns by at least `angle` degrees: a new array in *breaks (null when none) and its length in
// *count. Only knots that can carry a break are tested: every knot of a polyline, multiple
// knots otherwise. A 2D curve is measured through its owner surface. 0, or -2 for a surface,
// a 2D curve without owner, or memory.
int GetTanDiscontKnots(Bspline* curve, double angle, int* count, double** breaks);

// The curve cut at its tangent breaks: a new array of *nPieces new curves in parameter order,
// or 0 pieces and a null array when there is no break. The curve is not changed. 0 or -2.
int BreakCurveAtTanDiscont(Bspline* curve, double angle, int* nPieces, Bspline*** pieces);

// Puts subs[0 .. n-1] in the place of the curve in the trim loop of its owner that holds it
// (the curve itself is neither freed nor unlisted). 0 also when no loop holds the curve; -2
// for a surface, a curve without owner, a sub that is missing, a surface or owned by another
// surface, or when a list node cannot be allocated (the loop is then untouched).
int ReplaceTrimCurveWithNSubs(Bspline* curve, int n, Bspline** subs);

// Replaces a curve listed on its owner by its pieces between tangent breaks, in the owner's
// curve list and its trim loop, and frees the curve. Either the whole replacement is made or
// nothing changes. 0 or -2.
int ReplaceCrvBsplWithG1ContSubs(Bspline* curve, double angle);
// The same for every curve of the surface's curve list; stops at the first failure (curves
// already replaced stay replaced). 0, or -2 also for a null object or one that is no surface.
int ReplaceSrfCrvBsplWithG1ContSubs(Bspline* surface, double angle);
// The same for every surface among n objects (other objects are skipped). 0 or -2.
int ReplaceGroupSrfCrvBsplWithG1ContSubs(Bspline** objects, int n, double angle);

// Parameters from a to b over a break array of n >= 2 values (a knot vector, its end knots
// repeated): a and b are taken into the array's range and put in ascending order, and the
// per-span samples of GetNParValsPerSpan with k per span (k < 3 counts as 2) that lie strictly
// between them, more than 1e-6 of the range from both, are framed by a and b. With no sample
// between them, k values evenly spaced from a to b (just b when a = b). A new array in
// *samples (the caller frees it) and its length in *count; 0, or -2 (outputs null and 0) for a
// null array, n < 2 or memory.
int GetParSamplesInIntervals(const double* breaks, int n, int k, double a, double b,
                             double** samples, int* count);
