// Degree elevation: raises the degree of a curve, or of one direction of a surface, by one
// without changing its shape, so that objects of different degrees can be made compatible.
// Rational objects are raised in homogeneous form.
#pragma once

#include "bspline/smake.h"

// Raises every object whose degree in its direction (dirs[i], or u for all when dirs is null)
// is below `target` to `target`, one step at a time; objects at or above it are left alone.
// A target above 22 or an object to raise that is not sound (bsvalid), of degree 0 or not
// clamped in its direction is refused before any is raised; so is a set whose copies (taken
// first) cannot be made. A later failure (memory, an overflow) gives every object raised so
// far its former degrees, knots and points back. Either way the error state is set and the set
// is as it was.
void ElevateDegreeOfObjSet(int target, int* dirs, Bspline** objs, int n);
// Raises the degree in dir (0 u, 1 v; curves use u) by one: every distinct knot gains a copy.
// On failure (memory, a degree of 0 or one that would pass 22, an object that is not sound
// (bsvalid) or not clamped in dir, a result that overflowed) the object is unchanged and the
// error state is set.
void IncrementDegreeOfObject(int dir, Bspline* obj);
// Writes the count knots to out (room for 2 count) with one extra copy of each distinct value
// after its last copy; returns the number of distinct values. Only equal values count as one:
// knots merged by a tolerance would give the raised curve too few pieces to keep its shape.
int AddUniqueKnotsToArray(const double* knots, double* out, int count);
// For each of `lines` control lines of n points stored one after another in src, writes the
// n + distinct - 1 points of the raised line to dst (lines one after another). order = p + 1
// of the old degree p. Refused (error state -2, dst untouched): a null array, lines < 0, an
// order outside 1..kMaxSplineDegree, old knots that are not a sound vector (bsvalid) of
// n + order values, or a distinct that is not their count of distinct values.
void FindCoefiOfDegRaisedNCurves(const double* src, double* dst, const double* oldKnots,
                                 const double* newKnots, int n, int lines, int order, int distinct);
// Control point j of the raised line: the mean over the p + 1 ways of leaving out one of the
// new knots V[j+1] .. V[j+p+1] of the old line's blossom at the other p, formed as a convex
// combination of the old points (see degelev.cpp), exact however the knots cluster. *span is
// the old span of V[j]; start it at p and pass it on for ascending j. 0 with error state -2 for
// the inputs FindCoefiOfDegRaisedNCurves refuses, a null line, span or new knots, or j outside
// 0 .. n + distinct - 2.
double Find1CoefiOf1DegRaisedCurve(const double* line, const double* oldKnots,
                                   const double* newKnots, int order, int n, int j, int* span);
