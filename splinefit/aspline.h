// Thin-plate smoothing fits of height fields and their banded solver.
//
// Band storage: that of foundation/bandsolve.h (the upper band of a symmetric matrix, row k
// = A[k][k], A[k][k+1], ..., A[k][k+W-1]).
#pragma once

// SolveSymBandSystem with one right-hand side: rhs (n doubles) becomes x, band becomes its
// factors. Returns 0, or -2 when a pivot is exactly zero.
int solve_linear_eq_h(double** band, int n, int W, double* rhs);
