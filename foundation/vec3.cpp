#include "foundation/vec3.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "foundation/mathmat.h"
#include "foundation/solvmat.h"

namespace {

// Below this length a direction counts as zero throughout the transform code.
constexpr double kZeroLength = 1e-10;

inline void PointThrough(double x, double y, double z, const Xform M, double out[3]) {
  out[0] = M[0] * x + M[4] * y + M[8] * z + M[12];
  out[1] = M[1] * x + M[5] * y + M[9] * z + M[13];
  out[2] = M[2] * x + M[6] * y + M[10] * z + M[14];
}

inline void DirThrough(double x, double y, double z, const Xform M, double out[3]) {
  out[0] = M[0] * x + M[4] * y + M[8] * z;
  out[1] = M[1] * x + M[5] * y + M[9] * z;
  out[2] = M[2] * x + M[6] * y + M[10] * z;
}

}  // namespace

// ---- vectors --------------------------------------------------------------------------------

double* VecCrossProd3(const double a[3], const double b[3], double out[3]) {
  const double x = a[1] * b[2] - a[2] * b[1];
  const double y = a[2] * b[0] - a[0] * b[2];
  const double z = a[0] * b[1] - a[1] * b[0];
  out[0] = x;
  out[1] = y;
  out[2] = z;
  return out;
}

void cross_product(const double a[3], const double b[3], double out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

void VectorCrossProduct(const double a[3], const double b[3], double out[3]) { cross_product(a, b, out); }

double VecSize3(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

double VecDist3(const double a[3], const double b[3]) {
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  return VecSize3(d);
}

double* VecDiff3(const double a[3], const double b[3], double out[3]) {
  out[0] = a[0] - b[0];
  out[1] = a[1] - b[1];
  out[2] = a[2] - b[2];
  return out;
}

double* VecNormalize3(const double v[3], double out[3]) {
  double len = VecSize3(v);
  if (len < kZeroLength) len = kZeroLength;  // never fails: a tiny vector is scaled by 1e10
  out[0] = v[0] / len;
  out[1] = v[1] / len;
  out[2] = v[2] / len;
  return out;
}

double VecPseudoNormalize3(const double v[3], double out[3]) {
  double m = std::fabs(v[0]);
  if (std::fabs(v[1]) > m) m = std::fabs(v[1]);
  if (std::fabs(v[2]) > m) m = std::fabs(v[2]);
  if (m < 1e-6) m = 1e-6;
  out[0] = v[0] / m;
  out[1] = v[1] / m;
  out[2] = v[2] / m;
  return m;
}

void VecReduceSmallToZero3(double v[3]) {
  for (int i = 0; i < 3; ++i)
    if (std::fabs(v[i]) < 1e-6) v[i] = 0.0;
}

int UnitDirReduceSmallToZero3(double v[3]) {
  VecReduceSmallToZero3(v);
  return NormalizeVector(v, 3, 1e-6) == 0 ? 0 : -2;
}

int isZeroVector3d(const double v[3], double tol) { return VecSize3(v) < tol ? 1 : 0; }

double* VecTrans3(const double p[3], const Xform M, double out[3]) {
  PointThrough(p[0], p[1], p[2], M, out);
  return out;
}

double* VecRot3(const double v[3], const Xform M, double out[3]) {
  DirThrough(v[0], v[1], v[2], M, out);
  return out;
}

double* Vec1Trans3(double p[3], const Xform M) { return VecTrans3(p, M, p); }

double* Vec1Rot3(double v[3], const Xform M) { return VecRot3(v, M, v); }

void vector_xform(double* x, double* y, double* z, const Xform M) {
  double r[3];
  PointThrough(*x, *y, *z, M, r);
  *x = r[0];
  *y = r[1];
  *z = r[2];
}

void vector_xform_f(float* x, float* y, float* z, const Xform M) {
  double r[3];
  PointThrough(*x, *y, *z, M, r);
  *x = static_cast<float>(r[0]);
  *y = static_cast<float>(r[1]);
  *z = static_cast<float>(r[2]);
}

void vector_rotate(double* x, double* y, double* z, const Xform M) {
  double r[3];
  DirThrough(*x, *y, *z, M, r);
  *x = r[0];
  *y = r[1];
  *z = r[2];
}

void vector_object_to_world_xform(const double in[3], double out[3], const Xform M) { VecTrans3(in, M, out); }

void vector_object_to_eye_xform(const double in[3], double out[3], const Xform M) { VecTrans3(in, M, out); }

void CoordToDCoord(const float in[3], double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = in[i];
}

void DCoordToCoord(const double in[3], float out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(in[i]);
}

void CopyFloatToDoubleMatrix(const float in[16], double out[16]) {
  for (int i = 0; i < 16; ++i) out[i] = in[i];
}

void CopyDoubleToFloatMatrix(const double in[16], float out[16]) {
  for (int i = 0; i < 16; ++i) out[i] = static_cast<float>(in[i]);
}

double* LinInterpolate3(const double p0[3], const double p1[3], double value, int axis, double out[3]) {
  if (axis < 0 || axis > 2) return out;
  const double span = p1[axis] - p0[axis];
  if (std::fabs(span) < kZeroLength) {
    out[0] = p0[0];
    out[1] = p0[1];
    out[2] = p0[2];
    return out;
  }
  const double t = (value - p0[axis]) / span;
  double r[3];
  for (int i = 0; i < 3; ++i) r[i] = p0[i] + t * (p1[i] - p0[i]);
  r[axis] = value;
  out[0] = r[0];
  out[1] = r[1];
  out[2] = r[2];
  return out;
}

int VecPlaneProject3(const double v[3], const double n[3], double out[3]) {
  if (VecSize3(v) < 1e-6) {
    out[0] = out[1] = out[2] = 0.0;
    return 0;
  }
  const double nlen = VecSize3(n);
  if (nlen < 1e-6) {
    out[0] = out[1] = out[2] = 0.0;
    return -2;
  }
  const double un[3] = {n[0] / nlen, n[1] / nlen, n[2] / nlen};
  const double s = VecDotProd3(v, un);
  const double r[3] = {v[0] - s * un[0], v[1] - s * un[1], v[2] - s * un[2]};
  VecNormalize3(r, out);
  return 0;
}

// ---- parallel arrays ------------------------------------------------------------------------

namespace {

// Runs f(in, out) over the n points of three parallel arrays, in double, storing back in T.
template <class T, class F>
void MapArrays(T* x, T* y, T* z, int n, F f) {
  for (int i = 0; i < n; ++i) {
    const double in[3] = {static_cast<double>(x[i]), static_cast<double>(y[i]), static_cast<double>(z[i])};
    double out[3];
    f(in, out);
    x[i] = static_cast<T>(out[0]);
    y[i] = static_cast<T>(out[1]);
    z[i] = static_cast<T>(out[2]);
  }
}

}  // namespace

void Transform3DArrays(double* x, double* y, double* z, int n, const Xform M) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecTrans3(p, M, q); });
}

void Transform3DArrays_F(float* x, float* y, float* z, int n, const Xform M) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecTrans3(p, M, q); });
}

int Rot3DArrays(double* x, double* y, double* z, int n, const Xform M) {
  MapArrays(x, y, z, n, [&](const double* v, double* q) { VecRot3(v, M, q); });
  return 0;
}

int Rot3DArrays_F(float* x, float* y, float* z, int n, const Xform M) {
  MapArrays(x, y, z, n, [&](const double* v, double* q) { VecRot3(v, M, q); });
  return 0;
}

void ArraysNormalize3_f(float* x, float* y, float* z, int n) {
  MapArrays(x, y, z, n, [](const double* v, double* q) { VecNormalize3(v, q); });
}

void Mirror3DArrays(double* x, double* y, double* z, int n, const PlaneEq plane) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecMirror3(p, plane, q); });
}

void Mirror3DArrays_F(float* x, float* y, float* z, int n, const PlaneEq plane) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecMirror3(p, plane, q); });
}

void MirrorDir3DArrays(double* x, double* y, double* z, int n, const PlaneEq plane) {
  MapArrays(x, y, z, n, [&](const double* v, double* q) { DirMirror3(v, plane, q); });
}

void MirrorDir3DArrays_F(float* x, float* y, float* z, int n, const PlaneEq plane) {
  MapArrays(x, y, z, n, [&](const double* v, double* q) { DirMirror3(v, plane, q); });
}

void AxisMirror3Darrays(double* x, double* y, double* z, int n, const double a0[3], const double a1[3]) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecAxisMirror3(p, a0, a1, q); });
}

void AxisMirror3Darrays_F(float* x, float* y, float* z, int n, const double a0[3], const double a1[3]) {
  MapArrays(x, y, z, n, [&](const double* p, double* q) { VecAxisMirror3(p, a0, a1, q); });
}

// ---- mirrors --------------------------------------------------------------------------------

double* VecMirror3(const double p[3], const PlaneEq plane, double out[3]) {
  const double s = 2.0 * (plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3]);
  const double r[3] = {p[0] - s * plane[0], p[1] - s * plane[1], p[2] - s * plane[2]};
  out[0] = r[0];
  out[1] = r[1];
  out[2] = r[2];
  return out;
}

double* DirMirror3(const double v[3], const PlaneEq plane, double out[3]) {
  const double s = 2.0 * (plane[0] * v[0] + plane[1] * v[1] + plane[2] * v[2]);
  const double r[3] = {v[0] - s * plane[0], v[1] - s * plane[1], v[2] - s * plane[2]};
  out[0] = r[0];
  out[1] = r[1];
  out[2] = r[2];
  return out;
}

double* PlaneMirror3(const PlaneEq q, const PlaneEq plane, double out[4]) {
  const double s = -2.0 * (q[0] * plane[0] + q[1] * plane[1] + q[2] * plane[2]);
  const double r[4] = {q[0] + s * plane[0], q[1] + s * plane[1], q[2] + s * plane[2], q[3] + s * plane[3]};
  for (int i = 0; i < 4; ++i) out[i] = r[i];
  return out;
}

double* VecAxisMirror3(const double p[3], const double a0[3], const double a1[3], double out[3]) {
  // foot = (1 - t) a1 + t a0 is the foot of p on the line.
  const double e[3] = {a1[0] - a0[0], a1[1] - a0[1], a1[2] - a0[2]};
  const double len2 = VecDotProd3(e, e);
  double foot[3];
  if (len2 < kZeroLength * kZeroLength) {
    // No line to mirror through: reflect through the point itself rather than divide by zero.
    foot[0] = a0[0], foot[1] = a0[1], foot[2] = a0[2];
  } else {
    const double t = ((a1[0] - p[0]) * e[0] + (a1[1] - p[1]) * e[1] + (a1[2] - p[2]) * e[2]) / len2;
    for (int i = 0; i < 3; ++i) foot[i] = (1.0 - t) * a1[i] + t * a0[i];
  }
  const double r[3] = {2.0 * foot[0] - p[0], 2.0 * foot[1] - p[1], 2.0 * foot[2] - p[2]};
  out[0] = r[0], out[1] = r[1], out[2] = r[2];
  return out;
}

// ---- transforms -----------------------------------------------------------------------------

void Get_imat(Xform M) {
  for (int i = 0; i < 16; ++i) M[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

void Copymat(const Xform src, Xform dst) { std::memmove(dst, src, 16 * sizeof(double)); }

void TransposeMatrx(const Xform src, Xform dst) {
  double t[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t[4 * c + r] = src[4 * r + c];
  std::memcpy(dst, t, sizeof t);
}

void Get_catmat(const Xform A, const Xform B, Xform C) {
  double t[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += A[4 * r + k] * B[4 * k + c];
      t[4 * r + c] = s;
    }
  std::memcpy(C, t, sizeof t);
}

int not_identity_xform(const Xform M) {
  for (int i = 0; i < 16; ++i) {
    const double id = (i % 5 == 0) ? 1.0 : 0.0;
    if (std::fabs(M[i] - id) > 1e-4) return 1;
  }
  return 0;
}

int same_xform(const Xform A, const Xform B) {
  for (int i = 0; i < 16; ++i)
    if (std::fabs(A[i] - B[i]) > 1e-4) return 0;
  return 1;
}

int IsSameXform(const Xform A, const Xform B) {
  // Tolerances are relative to A's own scale; the last column is never compared.
  double big = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) big = std::fmax(big, std::fabs(A[4 * r + c]));
  double bigT = 0.0;
  for (int c = 0; c < 3; ++c) bigT = std::fmax(bigT, std::fabs(A[12 + c]));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (std::fabs(A[4 * r + c] - B[4 * r + c]) > 1e-6 * big) return 0;
  for (int c = 0; c < 3; ++c)
    if (std::fabs(A[12 + c] - B[12 + c]) > 1e-6 * bigT) return 0;
  return 1;
}

int IsSameXform3x3(const Xform A, const Xform B) {
  // Legacy: only the upper-left 2 x 2 block is compared, despite the name.
  static const int kIdx[4] = {0, 1, 4, 5};
  double big = 0.0;
  for (int i : kIdx) big = std::fmax(big, std::fabs(A[i]));
  for (int i : kIdx)
    if (std::fabs(A[i] - B[i]) > 1e-6 * big) return 0;
  return 1;
}

int IsRotationXform(const Xform M) {
  Xform id;
  Get_imat(id);
  return IsSameXform3x3(id, M) == 0 ? 1 : 0;
}

double ComputeMatrixDeterminant(Xform M) {
  for (int i = 0; i < 16; ++i)
    if (std::fabs(M[i]) < 1e-10) M[i] = 0.0;
  return M[0] * (M[5] * M[10] - M[6] * M[9]) - M[1] * (M[4] * M[10] - M[6] * M[8]) +
         M[2] * (M[4] * M[9] - M[5] * M[8]);
}

void bbox_xform(double* xmin, double* ymin, double* zmin, double* xmax, double* ymax, double* zmax,
                const Xform M) {
  const double lo[3] = {*xmin, *ymin, *zmin};
  const double hi[3] = {*xmax, *ymax, *zmax};
  double outLo[3], outHi[3];
  for (int i = 0; i < 3; ++i) {
    outLo[i] = outHi[i] = M[12 + i];
    for (int j = 0; j < 3; ++j) {
      const double a = M[4 * j + i] * lo[j];
      const double b = M[4 * j + i] * hi[j];
      outLo[i] += std::fmin(a, b);
      outHi[i] += std::fmax(a, b);
    }
  }
  *xmin = outLo[0];
  *ymin = outLo[1];
  *zmin = outLo[2];
  *xmax = outHi[0];
  *ymax = outHi[1];
  *zmax = outHi[2];
}

void XformBbox(const Bbox box, const Xform M, Bbox out) {
  if (not_identity_xform(M) == 0) {
    std::memmove(out, box, 6 * sizeof(double));
    return;
  }
  double r[6] = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound,
                 -kEmptyBoxBound};
  for (int k = 0; k < 8; ++k) {
    double q[3];
    PointThrough((k & 1) ? box[3] : box[0], (k & 2) ? box[4] : box[1], (k & 4) ? box[5] : box[2], M, q);
    for (int i = 0; i < 3; ++i) {
      if (q[i] < r[i]) r[i] = q[i];
      if (q[i] > r[3 + i]) r[3 + i] = q[i];
    }
  }
  std::memcpy(out, r, sizeof r);
}

void TransformToZAxis(const double p0[3], const double p1[3], Xform M) {
  const double d[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
  const double len = VecSize3(d);
  Xform T;
  Get_imat(T);
  T[12] = -p0[0];
  T[13] = -p0[1];
  T[14] = -p0[2];
  if (len < kZeroLength) {
    Copymat(T, M);
    return;
  }
  const double a = d[0] / len, b = d[1] / len, c = d[2] / len;
  const double r = std::sqrt(b * b + c * c);
  Xform Rx, Ry;
  Get_imat(Rx);
  if (r > kZeroLength) {  // otherwise the direction is already along x
    Rx[5] = c / r;
    Rx[6] = b / r;
    Rx[9] = -b / r;
    Rx[10] = c / r;
  }
  Get_imat(Ry);
  Ry[0] = r;
  Ry[2] = a;
  Ry[8] = -a;
  Ry[10] = r;
  Xform TRx;
  Get_catmat(T, Rx, TRx);
  Get_catmat(TRx, Ry, M);
}

int RotationAboutAxisXform(const double p[3], const double dir[3], double angle, Xform M) {
  const double tip[3] = {p[0] + dir[0], p[1] + dir[1], p[2] + dir[2]};
  Xform T, Tinv, Rz;
  TransformToZAxis(p, tip, T);
  Get_imat(Tinv);
  mat_inverse4(T, Tinv);
  const double rad = angle * 0.017453292519943295;
  Get_imat(Rz);
  Rz[0] = std::cos(rad);
  Rz[1] = std::sin(rad);
  Rz[4] = -std::sin(rad);
  Rz[5] = std::cos(rad);
  Xform TRz;
  Get_catmat(T, Rz, TRz);
  Get_catmat(TRz, Tinv, M);
  return 0;
}

int PerpVecs(const double v[3], double out1[3], double out2[3]) {
  out1[0] = v[1];
  out1[1] = -v[0];
  out1[2] = 0.0;
  // Both tests are relative to |v| (1e-5 of it, never below the smallest normal double): absolute
  // ones called every vector shorter than 1e-5 invalid. Only a zero or non-finite v is refused.
  const double tol = std::fmax(1e-5 * VecSize3(v), DBL_MIN);
  if (NormalizeVector(out1, 3, tol) != 0) {
    if (!(std::fabs(v[2]) >= tol)) {
      // Legacy: this message goes to standard output, not through the host's message services.
      std::printf("PerpVecs -- Invalid input.");
      return -2;
    }
    out1[0] = 1.0;
    out1[1] = 0.0;
    out1[2] = 0.0;
  }
  VecCrossProd3(v, out1, out2);
  return 0;
}

int TransformMinMax(const double box[6], const double dir[3], double out[6], Xform M) {
  // Interleaved order {xmin, xmax, ymin, ymax, zmin, zmax} on both box and out.
  for (int i = 0; i < 3; ++i) {
    out[2 * i] = 1.797693e308;
    out[2 * i + 1] = -1.797693e308;
  }
  double d[3] = {dir[0], dir[1], dir[2]};
  if (NormalizeVector(d, 3, 0.001) != 0) return 0;
  double p1[3], p2[3];
  if (PerpVecs(d, p1, p2) != 0) return 0;
  Get_imat(M);
  for (int r = 0; r < 3; ++r) {
    M[4 * r + 0] = p1[r];
    M[4 * r + 1] = p2[r];
    M[4 * r + 2] = d[r];
  }
  for (int k = 0; k < 8; ++k) {
    double q[3];
    DirThrough(box[(k & 1) ? 1 : 0], box[(k & 2) ? 3 : 2], box[(k & 4) ? 5 : 4], M, q);
    for (int i = 0; i < 3; ++i) {
      if (q[i] <= out[2 * i]) out[2 * i] = q[i];
      if (q[i] >= out[2 * i + 1]) out[2 * i + 1] = q[i];
    }
  }
  return 1;
}

int Vec3To3Vecs(const double dir[3], double u[3], double v[3], double w[3]) {
  if (std::fabs(dir[0]) < 1e-6 && std::fabs(dir[1]) < 1e-6 && std::fabs(dir[2]) < 1e-6) return -2;
  VecNormalize3(dir, u);
  const double ax = std::fabs(u[0]), ay = std::fabs(u[1]), az = std::fabs(u[2]);
  // Ties go to z, then y.
  if (az >= ay && az >= ax) {
    v[0] = 1.0;
    v[1] = 0.0;
    v[2] = -(u[0] / u[2]);
  } else if (ay >= ax) {
    v[0] = 0.0;
    v[1] = -(u[2] / u[1]);
    v[2] = 1.0;
  } else {
    v[0] = -(u[1] / u[0]);
    v[1] = 1.0;
    v[2] = 0.0;
  }
  VecNormalize3(v, v);
  VecCrossProd3(u, v, w);
  VecNormalize3(w, w);
  return 0;
}

int Vec3ToAxisMatrix(const double dir[3], int axis, Xform M) {
  double u[3], v[3], w[3];
  const int rc = Vec3To3Vecs(dir, u, v, w);
  if (rc != 0) return rc;
  const double* cols[3] = {nullptr, nullptr, nullptr};
  if (axis == 0) {
    cols[0] = u, cols[1] = v, cols[2] = w;
  } else if (axis == 1) {
    cols[0] = w, cols[1] = u, cols[2] = v;
  } else if (axis == 2) {
    cols[0] = v, cols[1] = w, cols[2] = u;
  }
  if (cols[0] != nullptr)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) M[4 * r + c] = cols[c][r];
  M[3] = M[7] = M[11] = 0.0;
  M[12] = M[13] = M[14] = 0.0;
  M[15] = 1.0;
  return 0;
}
