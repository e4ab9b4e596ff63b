// Chordal-deviation reduction of ordered point sequences: a point may go when the chord between
// the points kept around it passes within a chordal tolerance of it and no chord is longer than
// a span limit; the turn-limited form also ends a span where the path turns too sharply. Points
// are three float arrays (or a cloud's); deviations and spans are compared squared.
#pragma once

struct Cloud;

// Marks in keep (one int per point, 1 keep, 0 drop, all written) the points of the polyline to
// retain: both ends always; greedy spans from the last kept point, limited by span, pulled back
// to the point of largest deviation until every dropped point lies within tol of its chord
// (a deviation of exactly tol is accepted). Fewer than 6 points keep only the ends; n < 1
// writes nothing. 0, or -2 for a null array (nothing written) or when the stack of pending ends
// cannot be allocated (the ends already flagged).
int ChordDevOptArrays(const float* x, const float* y, const float* z, int n, double tol, double span,
                      int* keep);
// As ChordDevOptArrays, spans also ending at a turn of more than `angle` degrees (turns near a
// full reversal, beyond 180 - angle, do not count).
int ChordDevAngOptArrays(const float* x, const float* y, const float* z, int n, double tol,
                         double span, double angle, int* keep);
// The span end from the anchor a (point A): the last point before the first one farther than
// sqrt(span2) from A (a itself never: then the point after it); n - 1 when none. -1 with E = A
// when a is not in 0 .. n - 1 or an array is null.
void FindPointOfEndSpanArrays(const float* x, const float* y, const float* z, int n, int a,
                              const double A[3], int* end, double E[3], double span2);
// The same, also ending where the path turns by more than the angle of c2 = cos^2(angle).
void FindPointOfEndSpanArraysAng(const float* x, const float* y, const float* z, int n, int a,
                                 const double A[3], int* end, double E[3], double span2, double c2);
// The point strictly between a and e farthest (squared) from the segment A-E, its point and
// squared deviation; e itself and 0 when none deviates; -1 with W = A and 0 when a or e is
// negative or an array is null.
void FindPointOfMaxDevArrays(const float* x, const float* y, const float* z, int a,
                             const double A[3], int e, const double E[3], int* worst, double W[3],
                             double* dev);
// The span end on a cloud: as FindPointOfEndSpanArrays, never past the end of the anchor's scan
// (ordered clouds of at least 2 scans), and ending before a step longer than charLength. Both
// refuse as the array forms do when a (or e) names no point of the cloud, or the cloud is null.
void FindPointOfEndSpan(const Cloud* cloud, int a, const double A[3], int* end, double E[3], double span2);
void FindPointOfMaxDev(const Cloud* cloud, int a, const double A[3], int e, const double E[3], int* worst,
                       double W[3], double* dev);

// A new cloud of the points the greedy reduction keeps (scan by scan on an ordered cloud, whose
// scan ends are always kept; an anchor within 1e-6 of the cloud's diagonal per axis of the last
// kept point is merged into it). A span is pulled back while its worst deviation is at least tol; a span whose
// points all lie on its chord is accepted whatever tol (also 0). Null for a null cloud, fewer
// than 3 points or no memory; the source is not changed.
Cloud* ChordDevOptCloud(const Cloud* cloud, double tol, double span);

// Reduces each run of consecutive points with the same lineId as its first (a run ends where
// lineId grows) and sets mask[i] = 1 for every point kept; other bytes stay. Never fails: when
// memory runs out every byte becomes 1 and the error state is cleared.
void DoChordalIndex(const float* x, const float* y, const float* z, int n, const int* lineId, char* mask,
                    double tol, double span);

// Thins a cloud with row numbers (or a grid) in place, keeping a point when the reduction of its
// row or of its column keeps it. 1, or 0 (cloud unchanged) without row numbers, when the copy
// cannot be made or transposed, or on no memory.
int MatrixChordalSample(Cloud* cloud, double tol, double span);

// One pass by triples: of each pair (Q, P) after the last written point R, Q goes when
// |R - P|^2 < span2 and Q lies within sqrt(tol2) of the line R-P; scan ends and starts stay.
// The points go through the keep-mask rule, so every per-point datum, the scans and the
// triangles follow. changed: 1 when points were dropped, else 0 (also when the rule failed,
// the cloud then unchanged).
void DoControlledSampling(Cloud* cloud, double tol2, double span2, int* changed);
