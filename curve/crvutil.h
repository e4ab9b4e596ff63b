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
// end knots; -1 when the allocation failed (error state set).
int PutInCKnotsOfBNotInA(const double* A, int nA, const double* B, int nB, double** C, int* nC);
