// Banded least-squares support of the curve fits.
#pragma once

// Symmetric band solve (foundation/bandsolve.h storage, w columns) for the three right-hand
// sides bx, by, bz sharing one matrix, each replaced by its solution; A becomes its factors.
// Returns 0, or -2 when a pivot is exactly zero.
int solve_linear_eq_curve(double** A, int n, int w, double* bx, double* by, double* bz);
