// Chordal-deviation reduction of ordered point sequences: a point may go when the chord between
// the points kept around it passes within a chordal tolerance of it and no chord is longer than
// a span limit; the turn-limited form also ends a span where the path turns too sharply. Points
// are three float arrays; deviations and spans are compared squared.
#pragma once

// Marks in keep (one int per point, 1 keep, 0 drop, all written) the points of the polyline to
// retain: both ends always; greedy spans from the last kept point, limited by span and by a turn
// of more than `angle` degrees (turns near a full reversal, beyond 180 - angle, do not count),
// pulled back to the point of largest deviation until every dropped point lies within tol of
// its chord. Fewer than 6 points keep only the ends. 0, or -2 when the stack of pending ends
// cannot be allocated (the ends already flagged).
int ChordDevAngOptArrays(const float* x, const float* y, const float* z, int n, double tol,
                         double span, double angle, int* keep);
// The span end from the anchor a (point A): the last point before the first one farther than
// sqrt(span2) from A or the first at which the path turns by more than the angle of c2 =
// cos^2(angle) (a itself never: then the point after it); n - 1 when none.
void FindPointOfEndSpanArraysAng(const float* x, const float* y, const float* z, int n, int a,
                                 const double A[3], int* end, double E[3], double span2, double c2);
// The point strictly between a and e farthest (squared) from the segment A-E, its point and
// squared deviation; e itself and 0 when none deviates.
void FindPointOfMaxDevArrays(const float* x, const float* y, const float* z, int a,
                             const double A[3], int e, const double E[3], int* worst, double W[3],
                             double* dev);
