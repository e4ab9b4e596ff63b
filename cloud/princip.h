// Centres of mass and principal axes of point sets given as three parallel coordinate arrays.
//
// An axis set is three unit axes of 3 doubles, axis k the eigenvector of the k-th largest
// eigenvalue of the covariance, made right-handed (axis 0 negated when the frame is left-handed),
// so the last axis is the normal of the best-fit plane.
#pragma once

// Mean of the n >= 1 points, summed in double in blocks of 10000 points.
void ComputeCenterOfMass(const float* x, const float* y, const float* z, int n, double centroid[3]);
// The same for double arrays.
void ComputeCenterOfMass_d(const double* x, const double* y, const double* z, int n, double centroid[3]);

// The covariance's eigenvalues in descending order and the axis set. 0; -2 for n < 2 or when
// memory ran out (outputs untouched).
int PrincipleComponentAnalysis(const float* x, const float* y, const float* z, int n,
                               double eigenvalues[3], double axes[3][3]);
