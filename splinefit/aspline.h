// Thin-plate smoothing fits of height fields and their banded solver.
//
// Band storage shared by every system here: an N x W row-pointer matrix holding the upper
// band of a symmetric matrix A, row k = A[k][k], A[k][k+1], ..., A[k][k+W-1]; entries past
// the last row are never read.
#pragma once

// Square-root-free L D Lt factorisation of the band in place (no pivoting: the caller
// supplies a positive definite matrix) and solution of A x = b for each of the nRhs
// right-hand sides rhs[0..nRhs-1], each replaced by its x. The one band kernel behind every
// banded solve of the kernel. Returns 0, or -2 when a pivot is exactly zero (the factors and
// right-hand sides are then not meaningful).
int SolveSymBandSystem(double** band, int n, int W, double* const* rhs, int nRhs);

// One right-hand side: rhs (n doubles) becomes x, band becomes its factors. 0 or -2 as above.
int solve_linear_eq_h(double** band, int n, int W, double* rhs);
