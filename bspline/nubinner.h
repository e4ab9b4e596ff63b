// Gram matrices of a B-spline basis and of its r-th derivatives over one knot vector,
// integrated exactly with p + 1 Gauss-Legendre points per knot interval.
//
// Band form: a row-pointer matrix of n rows and p + 1 columns; entry [i][k] holds
// G(i, i + k) = integral of N(i) N(i + k) over the domain (the upper band with the diagonal);
// entries with i + k >= n stay 0.
#pragma once

// Gram matrix of the n basis functions of degree p. 0; -2 for a null knot vector or matrix,
// p + n >= nKnots, or a failed allocation or quadrature rule.
int NewComputeGramMatrixGQ(const double* knots, int nKnots, int n, int p, double** G);

// Gram matrix of the r-th derivatives (band p + 1); r >= p + 1 gives zeros and 0. -2 for a
// null knot vector or matrix, n + p + 1 > nKnots, r < 0, or a failure inside.
int NewComputeDiffGramMatrixGQ(const double* knots, int nKnots, int n, int p, int r, double** G);

// NewComputeDiffGramMatrixGQ (r = 0: NewComputeGramMatrixGQ) for a basis that vanishes on knot
// intervals no longer than relTol times its domain: the Cox-de Boor recursion of the dense Gram
// matrices (shrinkwrap/crvnet) counts knot differences within that tolerance as zero. relTol 0
// is the plain Gram matrix. -2 as NewComputeDiffGramMatrixGQ, or for a negative relTol.
int ComputeGramBandGQ(const double* knots, int nKnots, int n, int p, int r, double relTol,
                      double** G);

// The r-th derivative of N(i) of degree p as sum over a = 0..r of D[a] M(i + a), M the basis
// of degree p - r on the same knot vector. D holds r + 1 values; r > p gives zeros. -2 for a
// null knot vector, p < 1, r < 1, an index outside the basis or a failed allocation.
int SingleBsplineDerivCoefs(const double* knots, int nKnots, int i, int p, int r, double* D);

// Coefficients of the r-th derivative of sum c[i] N(i, p) (nKnots - p - 1 coefficients) in the
// degree p - r basis of the same knot vector: d holds nKnots values, the first
// nKnots - p - 1 + r of them meaningful. -2 when r >= p + 1.
int NBsplineDerivative(const double* knots, int nKnots, int p, int r, const double* c, double* d);
