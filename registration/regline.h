// Line matching under a registration constraint: the rigid motion within the freedom the
// constraint leaves that brings a line A of the moving part onto (or nearest to) its target line
// B, and the freedom that remains once the two are held together.
//
// A line is six doubles {p1, p2}. Two flags say what is matched: (directed, fixed) = (0, 0) a
// line, (1, 0) a directed line (its sense matters, it may not be reversed), (1, 1) a line fixed
// along itself (its first point is matched too, so no sliding along it remains). The reference
// point of a line is its first point when fixed, else its midpoint.
//
// Every function has the form of the point matchers: the motion (p' = R(q) p + t) starts as the
// identity and the remaining constraint as a copy of the input, so a failure leaves no motion and
// the constraint unchanged; fields a solver does not name keep the input's values. A remaining
// axis is written in the forms the next mode's solvers read (point and axis, the two axis points,
// and for the rotating kinds the plane through the point normal to the axis). Parallel and
// perpendicular tests use the registration angle tolerance; lengths are compared against 1e-6
// times the size of the coordinates involved, so scaled data gives the same answer in its own
// units.
//
// No solver reports that the lines cannot be brought together exactly (skew lines under a
// rotation only, different distances from an axis): the motion is the best of its construction.
// Where the directions cannot decide between a half turn (or turn-over) and none, as for a line
// along or across its axis, the choice that puts the moved line nearer B is made.
//
// Failure (-2): a null output, a mode other than the solver's own (in the dispatcher: outside
// the thirteen modes with a line solver), coincident axis points where a solver turns about the
// axis line, a zero axis for a half turn about it, a translation direction or normal shorter than
// 1e-6, a line of no length under a point rotation, a translation along a direction that has no
// component across the gap, and a failed half turn or composition about a fixed turn-over axis.
#pragma once

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"

int ConstrainedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                          RegConstraint* remaining, RegVec* motion);

int CRTransLineMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                          RegConstraint* remaining, RegVec* motion);
int CRTrans2DMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion);
int CRTrans3DMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion);
// A tie keeps the identity: the half turn is made only when it strictly helps.
int CRRotLine180FixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                                RegConstraint* remaining, RegVec* motion);
int CRRotLine180C1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                               RegConstraint* remaining, RegVec* motion);
int CRArFixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion);
int CRArC1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                       RegConstraint* remaining, RegVec* motion);
int CRArC3T3MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                       RegConstraint* remaining, RegVec* motion);
int CRFarFixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                         RegConstraint* remaining, RegVec* motion);
int CRFarC1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion);
int CRFarC2T2MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion);
int CRRotPointMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                         RegConstraint* remaining, RegVec* motion);
int CRFreeMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                     RegConstraint* remaining, RegVec* motion);

// 1 when p and q lie on the same side of the plane, or when that cannot be told: a normal shorter
// than 1e-6, or p or q on the plane. 0 otherwise.
int IsPntOnSameSideOfPlane(const PlaneEq plane, const double p[3], const double q[3]);
