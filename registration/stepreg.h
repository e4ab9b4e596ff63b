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
// The unit direction of p1 -> p2. -2 and a zero direction when |p2 - p1| < 1e-6.
int LineDirection(const double p1[3], const double p2[3], double dir[3]);
// out = (p1 + p2) / 2. Returns 0.
int LineMidPoint(const double p1[3], const double p2[3], double out[3]);
// 1 when the lines are parallel (either sense, within the angle tolerance) and l1's midpoint
// lies within 1e-3 of the line through l2.
int DoTwoLinesCoincide(const double l1[6], const double l2[6]);
// 1 when both points of l lie within 1e-6 of the plane and the line is parallel to it (cosine
// with the normal at most 0.001).
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
// refusal, or a match whose arithmetic overflowed (a motion or constraint not finite).
int ConstrainedRegFeaturePair(const RegPair* pair, RegConstraint constraint, RegConstraint* outConstraint,
                              RegVec* outMotion);
// Matches the pairs one after another in list order (the reverse of the order of adding), each
// under the constraint the earlier ones left, starting free: every pair's A is first moved by
// the motion so far. Writes the composed motion, its matrix (row vectors: the first pair's motion
// applied first), the number of pairs (pairs met after the motion is fixed count too) and the
// constraint left after the last, which says what stays undetermined (Fixed: nothing). The list
// is never changed. Any null output gives -2 with nothing written; otherwise the count is 0 and
// the matrix the identity until the end, and a null list, no memory or any pair that fails gives
// -2 with them so and the motion and constraint untouched.
int DoStepByStepRegistration(const RegPair* pairs, int* outCount, RegVec* outMotion, Xform outMatrix,
                             RegConstraint* outConstraint);
