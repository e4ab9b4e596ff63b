// Gaussian weights and smoothing of arrays. Filters work in place, keep the first and last
// value, and shrink the half width near the ends (position i uses min(h, i, n - 1 - i)).
#pragma once

// exp(-x^2 / (2 sigma^2)); 1 at x = 0.
double GaussianWeight(double sigma, double x);

// Kernel weight at integer offset j for table row w = half width - 1 (0..9): unnormalised, the
// filters divide by the sum.
double gauss(int j, int w);

// Smooths the n doubles in place with the normalised kernel of half width min((n - 1) / 2, h);
// h is at most 10. On no memory the array is left unchanged.
void gauss_filter_array_d(double* a, int n, int h);
