// Whether small point sets lie in one plane or on one line, as the fits ask before fitting.
// The tolerance is absolute: 0.001 model units.
#pragma once

// 1 when the RMS distance from the best plane is below 0.001 (n < 4: 1); 0 otherwise, for a
// null array or when the principal axes cannot be formed.
int IsPointsCoplanar_f(const float* x, const float* y, const float* z, int n);
// 1 when every point lies within 0.001 of the line through the first point and the first later
// point farther than 0.001 from it (n < 3, or no such point: 1); 0 otherwise.
int IsPointsCollinear_f(const float* x, const float* y, const float* z, int n);
int IsPointsCollinear(const double* x, const double* y, const double* z, int n);
