// Gauss-Legendre quadrature rules.
#pragma once

// Nodes x (ascending) and weights w of the n-point rule on [a, b]; -2 (nothing written) for
// n < 1 or an interval that is not finite, else 0.
// The rule integrates polynomials of degree 2n - 1 exactly.
int ComputeGaussLegendreCoefi(double a, double b, int n, double* x, double* w);
