// Support of the curve fits: chord-length parameters of ordered points.
#pragma once

// t[0] = 0 and t[i] = t[i-1] + |p_i - p_(i-1)| (in double), then divided by the total so that
// t[n-1] = 1; every t[i > 0] is 1e-10 when the total is at most 1e-10 (coincident points). With
// n < 2 only t[0] is written and 0 returned. Returns the total chord length.
double normalize_tarray3(const float* x, const float* y, const float* z, int n, double* t);
