// Rigid motions as transforms, their composition, the basic motions the matching solvers build
// (alignment about an axis, half turns) and the line and plane predicates they share.
//
// Directions, points and lines passed as const arrays are copied before they are normalised:
// the caller's values never change. A line is six doubles {p1, p2}, its direction p2 - p1.
#pragma once

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"
#include "registration/regpair.h"

// The identity motion. -2 for null.
int SetIdentityQuaternion(RegVec* v);
// The motion as a row-vector Xform: transpose of R(q) in the upper 3 x 3, t in the last row.
// Works on a normalised copy; -2 (out untouched) when the quaternion is shorter than 1e-6.
int RegVecToXfrmMat(const RegVec* v, Xform out);
// out = R p (the translation ignored). A quaternion that cannot be normalised writes p unmoved
// and returns -2.
int VecRotWquaternion(const double p[3], const RegVec* v, double out[3]);
// out = R p + t; a quaternion that cannot be normalised writes p unmoved and returns -2.
int VecQterTrans3(const double p[3], const RegVec* v, double out[3]);
// The same product as MultiplyQternion without the pointer tests: out = a (x) b normalised;
// out must differ from a and b. The result of NormalizeQternion on out.
int MultiplyQuaternion(const double a[4], const double b[4], double out[4]);
// out = b after a, written as it goes: out must differ from a and b. 0, or -2 when the product
// cannot be normalised.
int MultiplyRegVecs(const RegVec* a, const RegVec* b, RegVec* out);
// AlignTwoVectorQternion without the norm test; a direction shorter than 1e-6 gives the identity.
// Always 0.
int AlignTwoVectorXform(const double a[3], const double b[3], const double P[3], RegVec* out);
// The rotation about the axis A through P that brings u closest to w; the identity when u or w
// lies along A. Always 0.
int AlignTwoVecsClosestByAxisRot(const double u[3], const double w[3], const double P[3], const double A[3],
                                 RegVec* out);
// A half turn about the axis through P. -2 for an axis shorter than 1e-6.
int Rot180Qternion(const double P[3], const double axis[3], RegVec* out);
// 1 when u and w point to the same side of the plane normal to A, or either lies in that plane
// (within the angle tolerance); 0 when any of the three is shorter than 1e-6.
int AreTwoVecsOnSameHemisphere(const double A[3], const double u[3], const double w[3]);
// The unit direction of p1 -> p2. -2 and a zero direction when the points coincide to the
// round-off of their coordinates (1e-12 of the largest).
int LineDirection(const double p1[3], const double p2[3], double dir[3]);
// out = (p1 + p2) / 2. Returns 0.
int LineMidPoint(const double p1[3], const double p2[3], double out[3]);
// 1 when the lines are parallel (either sense, within the angle tolerance) and l1's midpoint
// lies within 1e-3 of the line through l2, lengths measured in the largest side of the four
// points' box (a line shorter than 1e-6 of it is parallel to nothing).
int DoTwoLinesCoincide(const double l1[6], const double l2[6]);
// 1 when both points of l lie within 1e-6 of the line's length from the plane and the line is
// parallel to it (cosine with the normal at most 0.001); 0 for a line of no length or a normal
// shorter than 1e-6.
int IsLineOnPlane(const double l[6], const double plane[4]);
// out = v + (v x n) x n: the component of v along the unit direction n. Returns 0.
int VecProject3(const double v[3], const double n[3], double out[3]);

// Feature-pair registration. A pair's A is the moving feature, B its target; geometry is in the
// target's frame.

// Solves one pair under the constraint with the matcher of its feature type (points, lines,
// directed lines, lines fixed along themselves, planes, directions) and returns the matcher's
// result: the motion taking A onto B (or as near as allowed) and the constraint that remains. A
// direction pair under a constraint whose centre is free (centreFreedom 3) turns about A's point;
// a plane's reference point is the foot of its feature's point on it (the origin's foot when the
// point was never set), since the plane matchers carry one reference point onto the other.
// Past the output test the motion is the identity and the remaining constraint a copy of the
// input. -2 for a null output, a null pair or feature, features of different types, a point set
// (no matcher), coordinates of the features or the constraint that are not finite, the matcher's
// refusal, or a match whose arithmetic overflowed (a motion or constraint not finite). The pair
// is matched about the centroid of its points (a plane's reference point among them, and the
// constraint's centre and axis point when it turns about them) at the size of their box, and the
// motion and constraint mapped back: the matchers' length tests measure the features, not their
// distance from the origin. Points that coincide to round-off have no size: such a pair (and a
// direction pair, which has no points) is matched where it lies.
int ConstrainedRegFeaturePair(const RegPair* pair, RegConstraint constraint, RegConstraint* outConstraint,
                              RegVec* outMotion);
// Matches the pairs one after another in list order (the reverse of the order of adding), each
// under the constraint the earlier ones left, starting free: every pair's A is first moved by
// the motion so far. Writes the composed motion, its matrix (row vectors: the first pair's motion
// applied first), the number of pairs (pairs met after the motion is fixed count too) and the
// constraint left after the last, which says what stays undetermined (Fixed: nothing). The list
// is never changed. Any null output gives -2 with nothing written; otherwise the count is 0 and
// the matrix the identity until the end, and a null list, no memory or any pair that fails gives
// -2 with them so and the motion and constraint untouched. The pairs are matched with the moving
// features about their points' centroid (planes' reference points among them) and the targets
// about theirs, at the size of their boxes, and the motion and constraint mapped back: the
// matchers' length tests then measure the data, not their distance from the origin.
int DoStepByStepRegistration(const RegPair* pairs, int* outCount, RegVec* outMotion, Xform outMatrix,
                             RegConstraint* outConstraint);

// 3-2-1 location: three points of the moving part span its primary plane, which is laid onto the
// target plane; two span a line laid onto the target line within that plane; the last fixes the
// slide along it. Every stage solves one feature pair within the freedom the stages before it
// left. Lines are six doubles {p1, p2}. Lengths are compared against 1e-6 times the spread of the
// points in play (and the round-off of their coordinates), so scaled or moved data behaves alike;
// directions (unit normals, axes) against 1e-6.

// Runs the stages up to lastStage (0 the plane, 1 and the line, 2 and the point) on the points
// P0..P5 of movingPoints (P0 P1 P2 the plane, P3 P4 the line, P5 the point); flipPlane turns the
// part over on the target plane, flipLine reverses it along the line. The five motions are set to
// the identity first and each to its stage's motion when that stage finishes; the whole motion is
// their composition, each applied after the ones before. -2 for a lastStage outside 0..2, a null
// argument, a target plane normal shorter than 1e-6, coincident or collinear P0 P1 P2, or a stage
// that fails (the motions of the stages done stay).
int Do321Registration(int lastStage, const double movingPoints[6][3], const double targetPlane[4],
                      const double targetPlanePoint[3], const double targetLine[6], const double targetPoint[3],
                      int flipPlane, int flipLine, RegVec* planeMotion, RegVec* planeFlipMotion, RegVec* lineMotion,
                      RegVec* lineFlipMotion, RegVec* pointMotion);
// The moving plane through movingPoint laid onto the target plane through targetPoint (each
// point first projected onto its own plane), matched under the free constraint: what remains is a
// turn about the target normal with turn-overs and a slide in the plane. -2 for a normal shorter
// than 1e-6 or a failed match.
int Do321RegistrationAlignPlane(const double movingPlane[4], const double movingPoint[3],
                                const double targetPlane[4], const double targetPoint[3], RegVec* outMotion,
                                RegConstraint* outConstraint);
// Both lines projected onto their planes, the moving one moved by motionSoFar (its quaternion is
// normalised in place), matched under the constraint. -2 for a null argument, a projected line of
// no length or a failed match.
int Do321RegistrationAlignLine(const double movingLine[6], const double targetLine[6], const double movingPlane[4],
                               const double targetPlane[4], RegVec* motionSoFar, RegConstraint constraint,
                               RegVec* outMotion, RegConstraint* outConstraint);
// The moving point, moved by motionSoFar (normalised in place), slid along the constraint's
// transDir by its offset from the target along it; the constraint stays. targetPlane is not
// read. -2 for a null argument or a transDir shorter than 1e-6.
int Do321RegistrationAlignPnt(const double movingPoint[3], const double targetPoint[3], const double targetPlane[4],
                              RegVec* motionSoFar, RegConstraint constraint, RegVec* outMotion,
                              RegConstraint* outConstraint);
// The half turn about a line through the constraint's point perpendicular to its axis, which
// turns the part over on the plane; the constraint comes back with axis, axis points and plane
// reversed. Outputs written only on success: -2 for a kind other than 3 or an axis shorter than
// 1e-6.
int Do321RegistrationFirstFlip(RegConstraint constraint, RegVec* outMotion, RegConstraint* outConstraint);
// The half turn about the constraint's axis line, which reverses the part along it; the
// constraint stays. Outputs written only on success: -2 for a kind other than 1, an axis or plane
// normal shorter than 1e-6, or an axis along the normal.
int Do321RegistrationSecondFlip(RegConstraint constraint, RegVec* outMotion, RegConstraint* outConstraint);

// 3-2-1 location from n >= 6 corresponding points: coordIndex[i] says which target coordinate
// (0 x, 1 y, 2 z) point i fixes. The index met most often is the primary (at least 3 points: the
// plane normal to it), the next the secondary (at least 2: the line), the last the tertiary (at
// least 1: the slide); a tie goes to the index met first. All n indices count. value is not read.
// The primary points are registered in closed form (on float copies: float accuracy), the
// secondary line is turned about the primary normal and slid in the plane onto the target's, and
// the tertiary points slide the part along their coordinate. *outMotion is written only on
// success. -2 for a null argument, n < 6, an index outside 0..2, groups smaller than 3, 2, 1,
// degenerate groups or no memory.
int New321PntSetReg(const double movingPoints[][3], const double targetPoints[][3], int n, const int* coordIndex,
                    double value, RegVec* outMotion);
// The three stages on points already grouped: the first counts[0] points the primary group with
// coordinate index p = indices[0], then counts[1] secondary (s), then counts[2] tertiary (t). -2
// for null arrays, group counts below 3, 2, 1, an index outside 0..2 or a failed stage.
int Do321PntSetReg(const double movingPoints[][3], const double targetPoints[][3], const int counts[3],
                   const int indices[3], RegVec* outMotion);
// Closed-form registration of the n >= 3 primary points (float copies), its translation taking
// the turned moving centroid onto the target centroid. -2 for fewer than 3 points, a failed solve
// or no memory.
int Do321PntSetRegFirstStep(const double movingPoints[][3], const double targetPoints[][3], int n,
                            RegVec* outMotion);
// The secondary stage on n >= 2 points already moved by the first: the line of the first two
// points, projected onto the plane through Q normal to the primary axis, turned about that axis
// and slid in the plane onto the target's, then turned so that the second point takes the
// target's s coordinate. -2 for fewer than 2 points, an index outside 0..2, equal p and s, or a
// degenerate turn.
int Do321PntSetRegSndStep(const double movingPoints[][3], const double targetPoints[][3], int n, int p, int s,
                          const double Q[3], RegVec* outMotion);
