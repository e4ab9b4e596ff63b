// Closed-form registration of corresponding point sets (Horn's unit-quaternion method): the
// rotation is the eigenvector of the largest eigenvalue of the symmetric 4 x 4 matrix built from
// the cross-covariance of the centred sets, the translation takes the rotated centroid of A onto
// the centroid of B. Variants hold the rotation to one coordinate axis (the process-wide mode
// read by iterative closest points) or let each pair measure one target coordinate (3-2-1).
//
// Point sets are three float arrays and a count; A moves, B is the target, pairs correspond by
// index. Residuals are mean squared distances, not their roots.
#pragma once

#include "foundation/vec3.h"
#include "registration/qternion.h"

// The motion of the last register_point_sets call and of the last successful RegisterCorPntSets
// or Reg321CorPntSets, as a row-vector transform.
extern Xform lastXform;

// 0 free rotation, 1/2/3 rotation about the x/y/z axis only (and no translation along it).
// 0 and the mode stored; -2 (mode kept) for a value outside 0..3.
int SetRegistrationMode(int mode);
int CurrentRegistrationMode();

// Horn's symmetric matrix (4 x 4 row-pointer, quaternion order) of the cross-covariance
// S[j][k] = sum a_j b_k of the pairs about whatever centres the caller took. Returns 0.
int CPSRHornMatrix(const double S[3][3], double** N);
// The Horn matrix of the pairs (4 x 4 row-pointer, quaternion order) and both centroids.
// -2 for a null argument or n < 3.
int CPSRQternionMatrix(const float* ax, const float* ay, const float* az, int n, const float* bx,
                       const float* by, const float* bz, double** N, double ca[3], double cb[3]);
// The motion taking A onto B under the current mode, into out; the result is its mean squared
// residual. A negative value, nothing written, for a null argument, n < 3 or when the eigen
// solve could not run.
double register_point_sets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                           const float* by, const float* bz, RegVec* out);
// The free motion and its mean squared residual. -2 for n < 3, a null argument, no memory, or an
// eigenvector that cannot be normalised (nothing written).
int RegisterCorPntSets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                       const float* by, const float* bz, RegVec* out, double* residual);
// The mean squared distance of the pairs after moving A. -2 for n < 1, a null argument or a
// quaternion that cannot be normalised.
int CorPntSetRegistrationError(const float* ax, const float* ay, const float* az, int n, const float* bx,
                               const float* by, const float* bz, const RegVec* motion, double* out);
// 3-2-1 registration: pair i measures only target coordinate kinds[i] (0 x, 1 y, 2 z; other
// values leave the pair out of the covariance but not out of the centroids or the residual).
// -2 as RegisterCorPntSets, and for null kinds.
// Exact only when every point is measured in all three coordinates (three pairs, kinds 0, 1
// and 2): then the sums are those of the free registration. Otherwise the method, kept as
// documented, is biased: the unmeasured coordinates of a pair enter the covariance as the
// target centroid's, and both centroids are taken over all coordinates of all pairs. With
// seeded random kinds (30 pairs, rotations below 0.5 rad) the rotation came out up to 0.7 rad
// off.
int Reg321CorPntSets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                     const float* by, const float* bz, const int* kinds, RegVec* out, double* residual);
// The Horn matrix of the 3-2-1 pairs and both centroids. -2 for a null argument or n < 3.
int Get321CovMatrix(const float* ax, const float* ay, const float* az, int n, const float* bx,
                    const float* by, const float* bz, const int* kinds, double** N, double ca[3], double cb[3]);
