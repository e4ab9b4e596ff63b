// Quaternion algebra of rigid motions: normalising, rotation matrices, products, comparison,
// axis-angle forms, and the alignment of one direction with another.
//
// A RegVec is a rigid motion p -> R(q) p + t with q = q0 + q1 i + q2 j + q3 k a unit quaternion.
// q and -q are the same rotation and nothing prefers a sign: predicates compare the components
// as stored. Operations that take a quaternion normalise it in place where noted; that is part
// of their contract (callers see their argument normalised afterwards).
//
// Composition: "b after a" has the quaternion q_b (x) q_a and the translation R(q_b) t_a + t_b.
// Angles here are radians except the degrees that Qternion2AxisRotAngle returns.
#pragma once

struct RegVec {
  double q[4];  // q0 (scalar part), q1, q2, q3
  double t[3];  // translation
};

// Components below 1e-8 in magnitude are cleaned to 0 in place first. 0; -2 for null or a norm
// below 1e-6 (the cleaned components stay written).
int NormalizeQternion(double q[4]);
// 1 when the normalised q has |q0 - 1| <= 1e-6 and |q1|, |q2|, |q3| <= 1e-10; (-1, 0, 0, 0) is not
// recognised (legacy: callers count on it). 0 for null or a quaternion that cannot be normalised.
int IsIdentityQuaternion(double q[4]);
// R(q) for column vectors into the 3 x 3 row-pointer matrix R; q is divided by its norm in place.
// -2 for a null argument or a zero quaternion.
int quaternion_rotation_matrix(double q[4], double** R);
// Mean distance of the images of the unit axes under the two rotations (both normalised in
// place); 3.37e38 for a null argument.
double QternionDiff(RegVec* a, RegVec* b);
// out = R p + t without a matrix (out may be p); the quaternion is normalised in place.
// -2 for a null argument or a quaternion that cannot be normalised.
int VecTrans3WithQternion(const double p[3], RegVec* v, double out[3]);
// Unit axis and angle in degrees (0..360) of the normalised q; a rotation whose axis part is
// shorter than 1e-6 gives a zero axis and angle. -2 for null.
int Qternion2AxisRotAngle(double q[4], double axis[3], double* angle);
// R = Rz(rz) Ry(ry) Rx(rx), angles in radians. -2 when q cannot be normalised.
int XYZAxisRotFromQternion(double q[4], double* rx, double* ry, double* rz);
// out = a (x) b, normalised; out must differ from a and b. -2 for a null argument or a product
// that cannot be normalised.
int MultiplyQternion(const double a[4], const double b[4], double out[4]);
// out = b after a; out may be a or b. 0, or -2 when the product cannot be normalised.
int MultiplyTwoRegVecs(const RegVec* a, const RegVec* b, RegVec* out);
// The rotation taking direction a onto direction b about the point P (P stays fixed); opposite
// directions turn half-way about an axis perpendicular to a. -2 when the quaternion built is
// shorter than 1e-6.
int AlignTwoVectorQternion(const double a[3], const double b[3], const double P[3], RegVec* out);
// A half turn (when u and w lie on different sides of the plane normal to A) about a line through
// P perpendicular to both A and u, followed by the rotation about the axis A through P that brings
// u closest to w: the axis line stays in place. -2 for a null out, u, w or A shorter than
// 1e-6 (an axis that short has no sides), or a failed step.
int FlipAlignTwoVecs(const double P[3], const double A[3], const double u[3], const double w[3], RegVec* out);
