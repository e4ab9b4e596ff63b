// Normals and offsets of point clouds, and the second-moment matrix of a point set that the
// principal axes start from.
#pragma once

// M (3 x 3 row-pointer) = (1/n) sum over the points of p p^T, p the point's own coordinates
// (not centred). n must be at least 1.
void ComputeCorrelationMatrix(const float* x, const float* y, const float* z, int n, double** M);
