// Routines over plain knot arrays: sorted, caller-owned arrays of doubles, usually the clamped
// knot vector of a curve or of one surface direction. Result arrays come from Malloc in the
// caller's current scope and belong to the caller.
#pragma once

// Maps the n knots onto [0, 1] in place and returns 1 / (last - first), the factor callers
// apply to derivatives. A zero range is the caller's to avoid.
double NormalizeKnotArray(double* knots, int n);

// The knots that A must gain to contain B (two clamped vectors over the same range), each
// repeated by its missing multiplicity, in ascending order, in a new array *C of
// max(nA, nB) values; values within 1e-6 of A's range count as equal and B's end knots are
// skipped. Returns the count, also stored in *nC; 0 with *C null when B holds nothing but
// end knots, when A has fewer than 2 knots or no range, or when B is empty; -1 when the
// allocation failed (error state set).
int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC);

// As PutInCKnotsOfBNotInA; besides, A's knots that match a knot of B within the tolerance take
// B's exact value (A's multiplicity is counted before that).
int PutInCKnotsOfBNotInA_changeA(double* A, int nA, const double* B, int nB, double** C, int* nC);

// Sets the knots around knots[idx] that lie strictly within tol of value to value: downwards
// (never entry 0), then upwards, each direction stopping at the first knot outside. Returns
// the number of writes.
int PutAllKnotsWithinTolOfValToVal(double* knots, int n, int idx, double value, double tol);

// The sorted merge of two ascending arrays into a new array *C of nA + nB slots (count in
// *nC): values within 1e-6 (absolute) are matched pair by pair and taken once, so each value
// keeps the larger of its two multiplicities. On allocation failure *C is null (error state
// set) and *nC untouched.
void UnionKnotArrays(const double* A, int nA, const double* B, int nB, double** C, int* nC);

struct Bspline;
// Start values for the closest approach of two 3D curves: the closest pair of segments of the
// two polylines through the curve points at the Greville parameters. 0; -2 when memory ran
// out. Near-parallel segment pairs are skipped; when all are, t1 and t2 stay at the starts.
int FindClosestCPT3paramValue(Bspline* crv1, Bspline* crv2, double* t1, double* t2);
