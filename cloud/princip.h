// Centres of mass, covariance and principal axes of point sets given as three parallel
// coordinate arrays (float, or double in the _d forms), the best line through a cloud and the
// frame of the best-fit plane. Sums over points are two-level (partial sums of 10000 points
// added into the totals) so that large sets keep their late terms.
//
// An axis set is three unit axes of 3 doubles, axis k the eigenvector of the k-th largest
// eigenvalue of the covariance, made right-handed (axis 0 negated when the frame is left-handed),
// so the last axis is the normal of the best-fit plane.
#pragma once

#include "foundation/vec3.h"

struct Cloud;

// Mean of the n >= 1 points (no other checks); centroid untouched for a null array.
void ComputeCenterOfMass(const float* x, const float* y, const float* z, int n, double centroid[3]);
// The same for double arrays; returns 0, or -2 for a null array.
int ComputeCenterOfMass_d(const double* x, const double* y, const double* z, int n, double centroid[3]);
// The same with checks: -2 for a null array or n < 1, else 0.
int ComputeCenterOfMassCoord(const float* x, const float* y, const float* z, int n, double centroid[3]);
// Mean of n 2D points: -2 for a null array or n < 1, else 0.
int ComputeCenterOfMass2D_f(const float* x, const float* y, int n, double centroid[2]);

// Covariance (mean products of the offsets from the centroid) into the 3 x 3 row-pointer matrix,
// and the centroid. -2 for a null matrix or array or n < 1, else 0.
int PntsetCovMatrix(const float* x, const float* y, const float* z, int n, double centroid[3], double** matrix);

// Mean products of the given coordinates (not centred here) into the 3 x 3 matrix. -2 for a null
// array or n < 3, else 0.
int ComputeCorrelationMat_d(const double* x, const double* y, const double* z, int n, double** matrix);

// The covariance's eigenvalues in descending order and the axis set. 0; -2 for a null array,
// n < 2, points that are not finite or overflow the covariance, or when memory ran out (outputs
// untouched).
int PrincipleComponentAnalysis(const float* x, const float* y, const float* z, int n,
                               double eigenvalues[3], double axes[3][3]);
// The same for double arrays, with the centroid. -2 for a null array, n < 3 or no memory.
int PntSetPrincipleAxis_d(const double* x, const double* y, const double* z, int n, double axes[3][3],
                          double eigenvalues[3], double centroid[3]);

// The best line through the cloud's points, as the end points of their extent along the first
// axis (a cloud of two points gives its points). 0, or -2 (outputs untouched) for fewer than 2
// points.
int FitALine(const Cloud* cloud, double start[3], double end[3]);
// The same line through points held in double arrays (the quadric floor's line fit); -2 (outputs
// untouched) for null arrays, n < 2 or points that are not finite.
int FitALineOfPoints(const double* x, const double* y, const double* z, int n, double start[3], double end[3]);

// Each point's coordinates in the principal frame: u, v along the first two axes, w along the
// plane normal; xform receives the world-to-frame transform. -2 for a null array, n < 3 or a
// failed analysis, else 0.
int ProjectPointsToBestFitPlane_f(const float* x, const float* y, const float* z, int n, float* u, float* v,
                                  float* w, Xform xform);
