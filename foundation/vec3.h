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
double* VecCrossProd3(const double a[3], const double b[3], double out[3]);
// Written component by component: out must differ from a and b.
void cross_product(const double a[3], const double b[3], double out[3]);
void VectorCrossProduct(const double a[3], const double b[3], double out[3]);
double VecSize3(const double v[3]);
double VecDist3(const double a[3], const double b[3]);
double* VecDiff3(const double a[3], const double b[3], double out[3]);
double* VecNormalize3(const double v[3], double out[3]);
double VecPseudoNormalize3(const double v[3], double out[3]);
void VecReduceSmallToZero3(double v[3]);
int UnitDirReduceSmallToZero3(double v[3]);
int isZeroVector3d(const double v[3], double tol);
double* VecTrans3(const double p[3], const Xform M, double out[3]);
double* VecRot3(const double v[3], const Xform M, double out[3]);
double* Vec1Trans3(double p[3], const Xform M);
double* Vec1Rot3(double v[3], const Xform M);
void vector_xform(double* x, double* y, double* z, const Xform M);
void vector_xform_f(float* x, float* y, float* z, const Xform M);
void vector_rotate(double* x, double* y, double* z, const Xform M);
void vector_object_to_world_xform(const double in[3], double out[3], const Xform M);
void vector_object_to_eye_xform(const double in[3], double out[3], const Xform M);
void CoordToDCoord(const float in[3], double out[3]);
void DCoordToCoord(const double in[3], float out[3]);
void CopyFloatToDoubleMatrix(const float in[16], double out[16]);
void CopyDoubleToFloatMatrix(const double in[16], float out[16]);
double* LinInterpolate3(const double p0[3], const double p1[3], double value, int axis, double out[3]);
int VecPlaneProject3(const double v[3], const double n[3], double out[3]);

// ---- n points in three parallel arrays, in place --------------------------------------------
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
double* VecMirror3(const double p[3], const PlaneEq plane, double out[3]);
double* DirMirror3(const double v[3], const PlaneEq plane, double out[3]);
double* PlaneMirror3(const PlaneEq q, const PlaneEq plane, double out[4]);
// Reflection through the line a0 a1; a degenerate line (a0 == a1) reflects through the point a0.
double* VecAxisMirror3(const double p[3], const double a0[3], const double a1[3], double out[3]);

// ---- transforms -----------------------------------------------------------------------------
void Get_imat(Xform M);
void Copymat(const Xform src, Xform dst);
void TransposeMatrx(const Xform src, Xform dst);
void Get_catmat(const Xform A, const Xform B, Xform C);
int not_identity_xform(const Xform M);
int same_xform(const Xform A, const Xform B);
int IsSameXform(const Xform A, const Xform B);
int IsSameXform3x3(const Xform A, const Xform B);
int IsRotationXform(const Xform M);
double ComputeMatrixDeterminant(Xform M);
void bbox_xform(double* xmin, double* ymin, double* zmin, double* xmax, double* ymax, double* zmax,
                const Xform M);
void XformBbox(const Bbox box, const Xform M, Bbox out);
void TransformToZAxis(const double p0[3], const double p1[3], Xform M);
int RotationAboutAxisXform(const double p[3], const double dir[3], double angle, Xform M);
int PerpVecs(const double v[3], double out1[3], double out2[3]);
int TransformMinMax(const double box[6], const double dir[3], double out[6], Xform M);
int Vec3To3Vecs(const double dir[3], double u[3], double v[3], double w[3]);
int Vec3ToAxisMatrix(const double dir[3], int axis, Xform M);
