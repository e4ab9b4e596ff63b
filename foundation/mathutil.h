// Small numeric helpers: integer powers, factorials, binomial coefficients, point distance and
// the sum of squared deviations of a float array.
#pragma once

// x multiplied by itself |n| times (1 for n = 0); the reciprocal of that for n < 0.
double ZK_POW_N(double x, int n);

// n! as a double: 1 for n < 1; tabulated up to 30!, beyond that 30! times 31, 32, ..., n.
double GetFactorial(int n);

// *out = n! / (k! (n - k)!) from GetFactorial; returns 0.
int GetBinomialCoeficient(int n, int k, double* out);

// Euclidean distance between two points.
double PntToPntDist(const double a[3], const double b[3]);

// Sum over the n values of (a[i] - mean)^2, not divided by n; 0 for n <= 0 or a null array.
double ComputeVarianceSum(const float* a, int n);
