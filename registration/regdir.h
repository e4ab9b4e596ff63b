// Direction matching under a registration constraint: the rotation within the freedom the
// constraint leaves that turns a direction dA of the moving part onto (or as near as allowed to)
// its target direction dB, and the freedom that remains once the two point alike. A direction
// carries no position, so translations cannot match it.
//
// Every function has the same form: the constraint and both directions by value (any length;
// the solvers work on unit copies), the remaining constraint and the motion (p' = R(q) p + t)
// written through pointers. Past the pointer test the motion is the identity and the remaining
// constraint a copy of the input, so a failure leaves no motion and the constraint unchanged;
// fields a solver does not name keep the input's values (a TransLine left keeps the input's
// transDir).
//
// Axes, by mode: RotLine180* the constraint's axis through point; ArC1T1 and FarC1T1 the line
// from axisPoint1 to axisPoint2; ArFixed and FarFixed the normal of plane through point; ArC3T3
// axis through point; FarC2T2 the normal of plane through the foot of point on the plane.
// Turn-overs (the Far modes) are half turns about a line that crosses the axis at right angles,
// so the axis line is kept and only its sense reverses. When dA or dB lies along the axis
// (within angleTol) turning about it cannot help: the motion stays the identity and the
// constraint is kept (FarFixed and FarC1T1 lose only their turn-overs; FarC2T2 has no named mode
// for what is left and gives Trans2D, which claims less freedom than remains).
//
// Failure (-2): a null output; a mode other than the solver's own (in the dispatcher: a mode with
// no direction solver, TransLine, Trans2D and Trans3D among them, since a translation cannot turn
// a direction); a direction shorter than 1e-6 (every solver but CRFreeMatchDirections, which turns
// nothing then); a degenerate axis: an axis or plane normal shorter than 1e-6, or axis points
// that coincide (to the round-off of their coordinates); a failed rotation.
#pragma once

#include "registration/confreg.h"
#include "registration/qternion.h"

int ConstrainedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                               RegVec* motion);

// Rotation about point taking dA onto dB; ArC3T3 about the line through point along dB is left.
int CRFreeMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                          RegVec* motion);
// The same rotation; ArFixed about the line through point along dB is left (all three forms).
int CRRotPointMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                              RegVec* motion);
// Trans3D is left; ArC3T3 stays when dA or dB lies along the axis.
int CRArC3T3MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                            RegVec* motion);
// TransLine is left.
int CRArC1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                            RegVec* motion);
// Fixed is left.
int CRArFixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion);
// Trans2D in the plane is left (point its foot, axis and transNormal its unit normal).
int CRFarC2T2MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion);
// TransLine is left; ArC1T1 along the axis.
int CRFarC1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion);
// Fixed is left; ArFixed along the axis.
int CRFarFixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                              RegVec* motion);
// The half turn is made only when it brings dA strictly nearer to dB (a tie keeps the identity).
// Fixed is left.
int CRRotLine180FixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3],
                                     RegConstraint* remaining, RegVec* motion);
// As above; TransLine is left.
int CRRotLine180C1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3],
                                    RegConstraint* remaining, RegVec* motion);
