// Three-component vectors on double[3], the same operations over three parallel coordinate
// arrays, and 4 x 4 transforms.
//
// Transform convention (every caller relies on it): an Xform is 16 doubles, row-major, applied
// to row vectors, p' = [x y z 1] M. Elements 12..14 are the translation; the last column
// (3, 7, 11, 15) is ignored when points are transformed (no projective divide). A direction
// is transformed by the upper-left 3 x 3 only. The product A B applies A first, then B.
//
// Bbox: {xmin, ymin, zmin, xmax, ymax, zmax}; an empty box starts at +/-3.37e38 (the float
// 3.37e38 widened to double). TransformMinMax alone uses the interleaved order
// {xmin, xmax, ymin, ymax, zmin, zmax}.
//
// PlaneEq: {a, b, c, d} with a x + b y + c z + d = 0; the mirrors assume (a, b, c) is unit.
#pragma once

typedef double Xform[16];
typedef double Bbox[6];
typedef double PlaneEq[4];

// "No value": a distance, cost, bound or parameter not found yet, and the start of a minimum
// search. Just below the largest float, so it survives in float arrays. The double and the
// float of the same decimal differ in their last bits, so a mark is compared in the form it
// was stored in.
inline constexpr double kNoValue = 3.37e38;
inline constexpr float kNoValueF = 3.37e38f;
// The float mark widened to double: start value of every minimum search and empty box over
// float data.
inline constexpr double kEmptyBoxBound = static_cast<double>(kNoValueF);

// ---- vectors on double[3]; out may be an input unless stated --------------------------------
// Inline: the distance queries of the mesh tools call it in their innermost loops.
inline double VecDotProd3(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double* VecCrossProd3(const double a[3], const double b[3], double out[3]);  // a x b; returns out
// Written component by component: out must differ from a and b.
void cross_product(const double a[3], const double b[3], double out[3]);
void VectorCrossProduct(const double a[3], const double b[3], double out[3]);  // as cross_product
double VecSize3(const double v[3]);                                  // |v|
double VecDist3(const double a[3], const double b[3]);               // |a - b|
double* VecDiff3(const double a[3], const double b[3], double out[3]);  // a - b; returns out
// v / |v|, returns out; never fails: a vector shorter than 1e-10 is divided by 1e-10.
double* VecNormalize3(const double v[3], double out[3]);
// v divided by its largest absolute component (at least 1e-6), which it returns.
double VecPseudoNormalize3(const double v[3], double out[3]);
void VecReduceSmallToZero3(double v[3]);  // components below 1e-6 in magnitude set to 0
// The same, then v made unit: 0, or -2 (v as reduced) when it is shorter than 1e-6.
int UnitDirReduceSmallToZero3(double v[3]);
int isZeroVector3d(const double v[3], double tol);  // 1 when |v| < tol, else 0
// A point through M (translation included), a direction through its 3 x 3 part; each returns
// out. The Vec1 forms work in place and return p or v.
double* VecTrans3(const double p[3], const Xform M, double out[3]);
double* VecRot3(const double v[3], const Xform M, double out[3]);
double* Vec1Trans3(double p[3], const Xform M);
double* Vec1Rot3(double v[3], const Xform M);
// The same on one point or direction given by its coordinates, in place.
void vector_xform(double* x, double* y, double* z, const Xform M);
void vector_xform_f(float* x, float* y, float* z, const Xform M);
void vector_rotate(double* x, double* y, double* z, const Xform M);
// The point through M, as VecTrans3 (the names of the host's two spaces).
void vector_object_to_world_xform(const double in[3], double out[3], const Xform M);
void vector_object_to_eye_xform(const double in[3], double out[3], const Xform M);
// Copies between float and double points and 4 x 4 matrices.
void CoordToDCoord(const float in[3], double out[3]);
void DCoordToCoord(const double in[3], float out[3]);
void CopyFloatToDoubleMatrix(const float in[16], double out[16]);
void CopyDoubleToFloatMatrix(const double in[16], float out[16]);
// The point of the line p0 p1 whose coordinate `axis` (0..2) is value; p0 when the line barely
// moves along that axis, out untouched for another axis. Returns out.
double* LinInterpolate3(const double p0[3], const double p1[3], double value, int axis, double out[3]);
// The unit direction of v projected on the plane normal to n: 0 (zero out for v shorter than
// 1e-6), or -2 with a zero out when n is shorter than 1e-6.
int VecPlaneProject3(const double v[3], const double n[3], double out[3]);

// ---- n points in three parallel arrays, in place --------------------------------------------
// Points through M, or (Rot: returns 0) directions through its 3 x 3 part; normalised; mirrored
// in a plane (points, or directions), or through the line a0 a1.
void Transform3DArrays(double* x, double* y, double* z, int n, const Xform M);
void Transform3DArrays_F(float* x, float* y, float* z, int n, const Xform M);
int Rot3DArrays(double* x, double* y, double* z, int n, const Xform M);
int Rot3DArrays_F(float* x, float* y, float* z, int n, const Xform M);
void ArraysNormalize3_f(float* x, float* y, float* z, int n);
void Mirror3DArrays(double* x, double* y, double* z, int n, const PlaneEq plane);
void Mirror3DArrays_F(float* x, float* y, float* z, int n, const PlaneEq plane);
void MirrorDir3DArrays(double* x, double* y, double* z, int n, const PlaneEq plane);
void MirrorDir3DArrays_F(float* x, float* y, float* z, int n, const PlaneEq plane);
void AxisMirror3Darrays(double* x, double* y, double* z, int n, const double a0[3], const double a1[3]);
void AxisMirror3Darrays_F(float* x, float* y, float* z, int n, const double a0[3], const double a1[3]);

// ---- mirrors --------------------------------------------------------------------------------
// A point, a direction or a plane mirrored in a unit plane; each returns out.
double* VecMirror3(const double p[3], const PlaneEq plane, double out[3]);
double* DirMirror3(const double v[3], const PlaneEq plane, double out[3]);
double* PlaneMirror3(const PlaneEq q, const PlaneEq plane, double out[4]);
// Reflection through the line a0 a1; a degenerate line (a0 == a1) reflects through the point a0.
double* VecAxisMirror3(const double p[3], const double a0[3], const double a1[3], double out[3]);

// ---- transforms -----------------------------------------------------------------------------
void Get_imat(Xform M);                                    // the identity
void Copymat(const Xform src, Xform dst);                  // dst = src (may overlap)
void TransposeMatrx(const Xform src, Xform dst);           // dst = src transposed (may be src)
void Get_catmat(const Xform A, const Xform B, Xform C);    // C = A B: A first, then B (C may be A or B)
int not_identity_xform(const Xform M);  // 1 when an element is more than 1e-4 off the identity's, else 0
int same_xform(const Xform A, const Xform B);  // 1 when all 16 elements agree within 1e-4, else 0
// 1 when the 3 x 3 parts and the translations agree within 1e-6 of A's largest, else 0.
int IsSameXform(const Xform A, const Xform B);
// 1 when the upper-left 2 x 2 parts agree within 1e-6 of A's largest, else 0.
int IsSameXform3x3(const Xform A, const Xform B);
int IsRotationXform(const Xform M);  // 1 when that 2 x 2 part is not the identity's, else 0
// The determinant of the 3 x 3 part, after setting elements below 1e-10 in magnitude to 0 in M.
double ComputeMatrixDeterminant(Xform M);
// The box round the transformed box (per axis from the matrix's signs), in place.
void bbox_xform(double* xmin, double* ymin, double* zmin, double* xmax, double* ymax, double* zmax,
                const Xform M);
// The box round the box's eight corners through M (the box itself for the identity).
void XformBbox(const Bbox box, const Xform M, Bbox out);
// The motion taking p0 to the origin and the direction p0 p1 onto +z (a translation only when
// p0 and p1 coincide).
void TransformToZAxis(const double p0[3], const double p1[3], Xform M);
// The turn by angle degrees about the line through p along dir; 0.
int RotationAboutAxisXform(const double p[3], const double dir[3], double angle, Xform M);
// A unit vector out1 normal to v and out2 = v x out1: 0, or -2 for a zero or non-finite v.
int PerpVecs(const double v[3], double out1[3], double out2[3]);
// The box (interleaved order) in the frame whose z is dir, and that frame's turn M: 1, or 0
// (out empty) for a dir shorter than 0.001.
int TransformMinMax(const double box[6], const double dir[3], double out[6], Xform M);
// A right-handed unit frame u (along dir), v, w: 0, or -2 when every component of dir is below 1e-6.
int Vec3To3Vecs(const double dir[3], double u[3], double v[3], double w[3]);
// That frame as a turn with dir on the given axis (0 x, 1 y, 2 z): 0, or -2 as Vec3To3Vecs.
int Vec3ToAxisMatrix(const double dir[3], int axis, Xform M);
