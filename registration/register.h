// Start motions for iterative closest point registration: tables of RegVecs from principal-axis
// alignments of the two clouds, a fixed lattice of rotations, samples about a constrained axis,
// perturbations of a converged motion, and start motions that respect a registration constraint.
//
// A table is a row-pointer double matrix of 7 columns (q0..q3, tx, ty, tz), one motion per row,
// with a separate row count. It is made outside the caller's tracking scope, belongs to the
// caller and is released with matrix_free_ff. Every operation sets its count to 0 (and the table
// to null) first and hands a table out only on success. Angles are radians.
//
// A and B are point sets of three float arrays and a count each (sizes may differ: the points do
// not correspond); cA and cB are their centroids.
#pragma once

#include "registration/confreg.h"
#include "registration/qternion.h"

// Principal-axis alignments followed by the 40 lattice rotations, each moving cA onto cB.
// -2 when the table cannot be allocated.
int GetInitialQuaternion(const float* ax, const float* ay, const float* az, int na, const float* bx,
                         const float* by, const float* bz, int nb, double*** table, int* count);
// Up to four motions aligning the principal axes of A with those of B (axis signs in turn), into
// the caller's table from row 0. -2 for a null argument, fewer than 3 points in either set, a
// failed principal-axis analysis or no row.
int GetQternionAlignTwoPointSet(const float* ax, const float* ay, const float* az, int na, const float* bx,
                                const float* by, const float* bz, int nb, double** table, int* count);
// By the constraint's kind: null GetInitialQuaternion, 0 GetInitQternionTransOnly,
// 2 GetInitQternionRotAxis, 4 GetInitQternionRot3D; -2 for any other kind or a failed step.
int GetConstrainedInitQternion(const float* ax, const float* ay, const float* az, int na, const float* bx,
                               const float* by, const float* bz, int nb, const RegConstraint* c,
                               double*** table, int* count);
// Rotations about a point: the identity, the alignments and the lattice, translated within the
// constraint's freedom. -2 when memory ran out.
int GetInitQternionRot3D(const float* ax, const float* ay, const float* az, int na, const float* bx,
                         const float* by, const float* bz, int nb, const RegConstraint* c, double*** table,
                         int* count);
// 60 rotations about the constraint's axis through the estimated centre. -2 for an axis shorter
// than 1e-6 or a failed step.
int GetInitQternionRotAxis(const float* ax, const float* ay, const float* az, int na, const float* bx,
                           const float* by, const float* bz, int nb, const RegConstraint* c, double*** table,
                           int* count);
// The identity and the translation cB - cA within the constraint's freedom. -2 when memory ran out.
int GetInitQternionTransOnly(const float* ax, const float* ay, const float* az, int na, const float* bx,
                             const float* by, const float* bz, int nb, const RegConstraint* c,
                             double*** table, int* count);
// The 53 lattice rotations (q0 in {1, 0}, q1..q3 in {0, 1, -1}, not all zero), zero translations.
// -2 when memory ran out.
int Get3DQternionSample(double*** table, int* count);
// max(k, 3) rotations about the axis through P at steps of 2 pi / (K + 1). -2 for an axis shorter
// than 1e-6 or no memory.
int GetRotAxisQternionSample(const double P[3], const double axis[3], int k, double*** table, int* count);
// The rotation centre of an axis constraint (kind 2) by its centre freedom: 0 its point, 1 the
// foot of (cA + cB) / 2 on the axis line, 2 the foot of cA on its plane, 3 cA. -2 for a null
// constraint, another kind, a degenerate axis or plane normal, or a freedom above 3.
int GetEstRotCenterForRotAxis(const float* ax, const float* ay, const float* az, int na, const float* bx,
                              const float* by, const float* bz, int nb, const RegConstraint* c, double out[3]);
// Four restarts turning delta further about axes tilted towards two random directions (the C
// runtime's rand, never seeded); the motion is normalised in place. -2 when it cannot be
// normalised, no perpendicular can be built, or no memory.
int GetPerturbedQuaternion(RegVec* v, double delta, double*** table, int* count);
