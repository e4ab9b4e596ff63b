// Plane matching under a registration constraint: the rigid motion within the freedom the
// constraint leaves that brings a plane A of the moving part onto (or nearest to) its target
// plane B, and the freedom that remains once the two lie on each other.
//
// A plane is a PlaneEq (a, b, c, d); its normal need not be unit, and its sense does not matter
// (a plane and its reverse are the same target). Each plane comes with an optional reference
// point (null: the foot of the origin on it, GetDefaultPointOnPlane). The solvers have the form
// of the point and line matchers: the motion (p' = R(q) p + t) starts as the identity and the
// remaining constraint as a copy of the input, so a failure leaves no motion and the constraint
// unchanged; fields a solver does not name keep the input's values. `flag` is not read (the
// feature dispatcher passes 0).
//
// Modes Trans2D and Trans3D have no plane solver: a plane pair under them is refused like any
// mode outside the family. A plane across the axis direction under ArC3T3, matched by
// translation, leaves rotation about any axis along that direction and translation within the
// plane: kind 2 with both counts 2, which is no named mode, so every matcher refuses what
// follows (the freedom cannot be written as one of the fourteen).
//
// No solver reports that A cannot be brought onto B exactly: the motion is the best of its
// construction. Parallel or perpendicular configurations a construction cannot use return 0
// with the identity and the constraint unchanged.
//
// Failure (-2): a null output, a mode other than the solver's own (in the dispatcher: outside
// the eleven modes with a plane solver), a translation direction or plane normal shorter than
// 1e-6, coincident axis points where a solver turns about the axis line, a constraint plane
// whose crossing with A or B has no direction, and a failed half turn or composition.
#pragma once

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"

int ConstrainedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                           const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);

int CRTransLineMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                           const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
// A tie keeps the identity: the half turn is made only when it strictly helps.
int CRRotLine180FixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA,
                                 const PlaneEq planeB, const double* pointB, int flag, RegConstraint* remaining,
                                 RegVec* motion);
int CRRotLine180C1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA,
                                const PlaneEq planeB, const double* pointB, int flag, RegConstraint* remaining,
                                RegVec* motion);
int CRArFixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
// With the axis parallel to a plane, only sliding along the axis is left (TransLine along it).
int CRArC1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                        const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRArC3T3MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                        const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRFarFixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                          const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRFarC1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRFarC2T2MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRRotPointMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                          const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);
int CRFreeMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                      const double* pointB, int flag, RegConstraint* remaining, RegVec* motion);

// out = the foot of the origin on the plane (the origin itself for a plane without a normal).
// Returns 0.
int GetDefaultPointOnPlane(const PlaneEq plane, double out[3]);
