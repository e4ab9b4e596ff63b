// Closed-form registration of corresponding point sets under a registration constraint: the
// least-squares rigid motion of A onto B among the motions the constraint allows (translation
// only, rotation about a fixed or free axis with or without turn-overs, rotation about a point),
// followed by the constraint's translation freedom on the offset of the centroids that remains.
//
// Horn's unit-quaternion method restricted to the allowed quaternions: about a point the whole
// 4 x 4 matrix of the sets taken relative to the point; about an axis both sets are turned so
// that the axis is z and only q0 and q3 remain (a 2 x 2 matrix). The axis solvers move both sets
// once into float scratch, so their results have float accuracy.
//
// Point sets are three float arrays and a count, A moving, B the target, pairs by index; every
// constraint field lies in B's frame and the caller's record is never changed. Residuals are
// mean squared distances of the pairs after the motion, not their roots.
//
// Failures (-2, motion and residual untouched): a null array, motion or residual; too few pairs
// (below 1 for the dispatcher and translation, 2 for the axis solvers, 3 about a point); a
// constraint the solver does not serve (kind 1, a kind outside 0..4, a centre freedom outside
// the solver's values, a translation freedom outside 0..3 about a point); an axis or plane
// normal shorter than 1e-6; a failed alignment, half turn or normalisation; no memory.
#pragma once

#include "registration/confreg.h"
#include "registration/qternion.h"

// By kind: null (mode Free) the free closed form, 0 CPSRTransOnly, 2 CPSRRotAxis, 3
// CPSRRotAxisFlip, 4 CPSRRot3D (or the free form when the translation freedom is 3).
int ConstrainedRegCorPntSet(const float* ax, const float* ay, const float* az, int n, const float* bx,
                            const float* by, const float* bz, const RegConstraint* c, RegVec* motion,
                            double* residual);
// Kind 0: the identity moved by the part of cB - cA that the translation freedom allows.
int CPSRTransOnly(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                  const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// Rotation about the unit axis: centre freedom 0 about the line through point, 1 through the
// foot of the centroids' midpoint on the line axisPoint1 axisPoint2, 2 and 3 through cA with the
// centroids matched across the axis; then the translation freedom.
int CPSRRotAxis(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// CPSRRotAxis and CPSRRotAxis after a half turn of A about a line through the rotation centre
// perpendicular to the axis; the smaller residual wins, a tie the turned-over motion.
int CPSRRotAxisFlip(const float* ax, const float* ay, const float* az, int n, const float* bx,
                    const float* by, const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// Kind 4: rotation about point (centre freedom 0) or the free form (3); then the translation
// freedom.
int CPSRRot3D(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
              const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// Rotation about the line through c->point along c->axis.
int CPSRRotFixedLine(const float* ax, const float* ay, const float* az, int n, const float* bx,
                     const float* by, const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// Rotation about c->axis through cA, with the translation across the axis that matches the
// centroids (none along it).
int CPSRRotVector(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                  const float* bz, const RegConstraint* c, RegVec* motion, double* residual);
// The best rotation about the z axis through the origin.
int RegCorPntSetRotZaxisOnly(const float* ax, const float* ay, const float* az, int n, const float* bx,
                             const float* by, const float* bz, RegVec* motion);
// The best rotation about z of the sets centred on their centroids, then the xy translation
// taking the turned centroid of A onto that of B.
int RegCorPntSetRotZDirection(const float* ax, const float* ay, const float* az, int n, const float* bx,
                              const float* by, const float* bz, RegVec* motion);
