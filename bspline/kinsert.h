// Knot insertion: refines one direction of a curve or surface without changing its shape. Each
// inserted knot adds one control point to every control line of that direction (Boehm's
// algorithm); the object stays clamped. Rational objects are refined in homogeneous form.
#pragma once

#include "bspline/smake.h"

// Working form of one insertion call, kept apart from the object so that the object is never
// seen half-converted: it is read once at the start and replaced in one step at the end.
// Every control line of the edited direction is a contiguous run of `n` doubles (line l starts
// at l * n), so a surface edited in v is held transposed. x, y, z are homogeneous (x w, y w,
// z w) for a rational object and w is edited like a coordinate. The record, its knot vector
// and its coordinate arrays are one block: Free(work) releases everything.
struct KnotInsertWork {
  int dir;       // 0 lines run in u (curves always), 1 lines run in v
  int degree;    // degree p of the edited direction
  int interior;  // current interior-knot count of the edited direction
  int lines;     // number of control lines
  int n;         // current control points per line
  int capacity;  // control points per line the arrays have room for
  int coords;    // coordinate arrays in use: x, y, (z), (w)
  int rational;  // 0; 1 lines homogeneous (x w, y w, z w, w); 2 lines Cartesian beside w
  double tol;     // knots closer than this are equal: 1e-6 of the parameter range
  double* knots;  // capacity + p + 1 entries
  double* c[4];   // x, y, z or null, w or null; lines * capacity entries each
};

// Inserts n knots into direction dir (0 u, 1 v; curves use u) of obj.
//  mode 2: the n ascending `values`, each mult times (-1: up to full multiplicity p + 1); a
//          value within 1e-6 of the range of a knot is snapped to it (the nearer of two) and
//          written back, and a value raised to full multiplicity inside the range makes the two
//          control lines that meet there exactly equal; a value outside the domain is taken as
//          the domain's end (written back so, and inserted there only as far as that end knot
//          lacks multiplicity: at a clamped end, not at all) with no error;
//  mode 1: n knots, each at the middle of the currently largest span (ties: the last span);
//  mode 0: n knots evenly spaced inside the first span.
// No result: failure shows in the error state and leaves obj as it was. n = 0 and unknown modes
// do nothing; a negative n, a multiplicity below 1 other than -1 or a value that is not finite
// (mode 2) fail at once, as does an object that is not sound (bsvalid) or of degree 0 in dir,
// an open start in mode 0 (first p + 1 knots not one value), or a result that overflowed.
// Several knots in one call (four or more) are worked out from the knot vector first and then
// go into each control line in one pass (the textbook's refinement of a knot vector); the
// result equals that of inserting them one at a time, to round-off.
void InsertNKnotsToObject(int mult, int n, int dir, Bspline* obj, int mode, double* values);

// Reads obj into a new working form with room for `count` more control points per line.
// 1, or 0 on allocation failure or when obj is not sound (bsvalid) or of degree 0 in dir
// (nothing left allocated, obj untouched).
int InitKnotInsertion(const Bspline* obj, int dir, int count, KnotInsertWork** work);
// The same for a caller that has just found obj sound (BsplineSound) and not changed it since:
// the check is linear in the record, so it is not made twice.
int InitKnotInsertionOfSound(const Bspline* obj, int dir, int count, KnotInsertWork** work);
// Writes the working form back into obj at its exact size and normal layout (transposed back,
// divided by w) and releases the working form in every case. 1, or 0 on allocation failure or
// when a coefficient of the result is not finite (error state -2), in which case obj is
// exactly as it was before InitKnotInsertion.
int EndKnotInsertion(Bspline* obj, int dir, KnotInsertWork* work);
// One knot into the working form. Modes 0 and 2 insert `value` at knot index `position`
// (U[position - 1] <= value <= U[position]); mode 1 ignores both and inserts the middle of the
// largest span. Mode 2 returns the knot vector, the other modes null; null with error state -2
// when the working form has no room left or the position is outside the domain.
double* InsertAKnotIntoTransposedObject(int dir, KnotInsertWork* work, int mode, double value,
                                        int position);
// Self-contained variant: mode 1 inserts `count` knots in one pass at the middles of the count
// largest spans, any other mode the one value at knot index `position`. Non-zero on success, 0
// on failure (obj unchanged; also for an object that is not sound, a value that is not finite
// or one that has p + 1 copies already). No caller in the kernel.
int InsertOneKnotToObject(int count, int dir, Bspline* obj, int mode, double value, int position);

// ---- Supporting operations (results from Malloc, null on failure) --------------------------
// Lower knot index of the `count` largest spans knots[i+1] - knots[i], i = p .. last - 2, in
// ascending order of span length, ranked by BubbleValueAndIndex. Slots for which there is no
// span hold -1. Null for count < 1, p < 0 or a null array.
int* FindNLargestSpanIndices(int count, int p, int last, const double* knots);
// Keeps the `count` largest values seen so far ascending in values[], their indices beside
// them: a value above the largest is appended, otherwise one at least the smallest goes before
// the first kept value >= it; the smallest entry is dropped either way.
void BubbleValueAndIndex(int count, double value, int index, double* values, int* indices);
// (w2 x[i+1] + w1 x[i]) / (w1 + w2) for each given index i.
double* FindFixedWeightedPoints(const double* x, int count, const int* indices, double w1,
                                double w2);
// Replaces both arrays by new ones sorted by value ascending. On allocation failure both stay.
void SortIndicesAndValues(int count, double** values, int** indices);
// n + m values: vector with newValues[j] placed right after vector[positions[j]] (positions
// ascending). Null for a negative count or n + m < 1, and with the error state -2 for a null
// array with a positive count.
double* InsertNColsInVectorByIndex(int n, const double* vector, int m, const double* newValues,
                                   const int* positions);
// positions[j] - p + j + 1: the first control point (after insertion) changed by the j-th knot.
int* FindIndicesOfInsertedPoints(int m, const int* positions, int p);
// m x p matrix of insertion weights over the final knot vector newKnots: row j holds, for the
// new points firsts[j] .. firsts[j] + p - 1, the ratio alpha applied when the j-th knot goes in
// after the knots before it; ratios over spans shorter than 1e-6 (max - min) are 0.
double** FindInsertCoefiWeights(const double* newKnots, int m, const int* firsts, int p, double min,
                                double max);
// Each of `lines` control lines of lineLength points in src (stored one after another) becomes
// a line of lineLength + m points in dst, m being the rows of `weights`: the knots go in one
// after another, knot j changing points firsts[j] .. firsts[j] + p - 1. Refused (error state
// -2, dst untouched): a null array or row, lines, lineLength or m below 0, p outside
// 0..kMaxSplineDegree, or a firsts[j] outside 1 .. lineLength + j - p.
void FindNewCoefiValues(int lines, int lineLength, const double* src, double* dst,
                        const int* firsts, double** weights, int p, int m);
// Replaces control lines i and j of the working form by their average in every coordinate.
void MakeControlLinesSame(KnotInsertWork* work, int dir, int i, int j);
