// The one band kernel behind every banded solve of the kernel (the fits' documented solvers
// solve_linear_eq_h and solve_linear_eq_curve call it).
//
// Band storage: an N x W row-pointer matrix holding the upper band of a symmetric matrix A,
// row k = A[k][k], A[k][k+1], ..., A[k][k+W-1]; entries past the last row are never read.
#pragma once

// Square-root-free L D Lt factorisation of the band in place (no pivoting: the caller
// supplies a positive definite matrix) and solution of A x = b for each of the nRhs
// right-hand sides rhs[0..nRhs-1], each replaced by its x. Returns 0, or -2 when a pivot is
// exactly zero (the factors and right-hand sides are then not meaningful).
int SolveSymBandSystem(double** band, int n, int W, double* const* rhs, int nRhs);
