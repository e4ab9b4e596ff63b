// Point matching under a registration constraint: the rigid motion within the freedom the
// constraint leaves that brings a point A of the moving part onto (or nearest to) its target B,
// and the freedom that remains once the two are held together.
//
// Every function has the same form: the constraint and both points by value, the remaining
// constraint and the motion (p' = R(q) p + t) written through pointers. The motion starts as the
// identity and the remaining constraint as a copy of the input, so a failure leaves no motion and
// the constraint unchanged; fields a solver does not name keep the input's values. A solver that
// changes the mode always leaves both counts 0, so the remaining mode is Fixed, RotLine180Fixed,
// ArFixed, FarFixed or RotPoint.
//
// Lengths are compared against 1e-6 times the largest distance between the points involved (plus
// 1e-12 of their coordinates, their round-off), so the same data scaled by 1e-6 or 1e6 or moved
// far from the origin gives the same answer in its own units; direction vectors (transDir,
// transNormal, the plane's normal) against 1e-6 absolutely.
//
// Failure (-2): a null output, a mode other than the solver's own (in the dispatcher: outside
// the fourteen named modes), or degenerate constraint data: coincident axis points, or a normal
// or translation direction shorter than 1e-6. A point on the axis, on the plane or at the centre
// is no failure: the solver falls back to the motion that construction still gives.
#pragma once

#include "registration/confreg.h"
#include "registration/qternion.h"

int ConstrainedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                           RegVec* motion);

int CRTransLineMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                           RegVec* motion);
int CRTrans2DMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion);
int CRTrans3DMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion);
// Keeps the identity unless the half turn brings A strictly nearer to B.
int CRRotLine180FixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                                 RegVec* motion);
int CRRotLine180C1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                                RegVec* motion);
// -2 for coincident axis points (there is no axis to turn about, so nothing can be matched).
int CRArFixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion);
int CRArC1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                        RegVec* motion);
int CRArC3T3MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                        RegVec* motion);
int CRFarFixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                          RegVec* motion);
int CRFarC1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion);
int CRFarC2T2MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion);
int CRRotPointMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                          RegVec* motion);
int CRFreeMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                      RegVec* motion);
