// 2 x 2 and 3 x 3 linear solves by Cramer's rule, and interpolation through two or three points.
//
// The Cramer solves guard against overflow: a numerator at least 1e10 |det| in magnitude fails,
// so a singular system (det = 0, numerator >= 0) always fails, and so does a nearly singular one
// whose solution would exceed 1e10.
#pragma once

// a x + b y = e, c x + d y = f. 0, or -2 when a numerator reaches 1e10 |det|; when the first
// numerator passes and the second fails, x has already been written.
int SolveLin2(double a, double b, double e, double c, double d, double f, double* x, double* y);

// ai x + bi y + ci z = di (i = 1..3). 0, or -2 with nothing written when the largest numerator
// reaches 1e10 |det|.
int SolveLin3(double a1, double b1, double c1, double d1, double a2, double b2, double c2,
              double d2, double a3, double b3, double c3, double d3, double* x, double* y,
              double* z);

// Value at x of the line through (x0, y0) and (x1, y1). With x1 == x0 the points must coincide
// and x must equal x0; otherwise -2 and *out is not written.
int Poly1Interpolate(double x0, double y0, double x1, double y1, double x, double* out);

// Value at x of the parabola through three points; coincident abscissas fall back to the line
// through the distinct points (their ordinates must then agree, else -2).
int Poly2Interpolate(double x0, double y0, double x1, double y1, double x2, double y2, double x,
                     double* out);
