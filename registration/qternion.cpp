#include "registration/qternion.h"

#include <cmath>
#include <cstring>

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/stepreg.h"

namespace {
constexpr double kPi = 3.141592653589793;

// R(q) for column vectors, q of unit length.
void Rotation(const double q[4], double R[3][3]) {
  const double a = q[0], b = q[1], c = q[2], d = q[3];
  R[0][0] = a * a + b * b - c * c - d * d;
  R[0][1] = 2.0 * (b * c - a * d);
  R[0][2] = 2.0 * (b * d + a * c);
  R[1][0] = 2.0 * (b * c + a * d);
  R[1][1] = a * a - b * b + c * c - d * d;
  R[1][2] = 2.0 * (c * d - a * b);
  R[2][0] = 2.0 * (b * d - a * c);
  R[2][1] = 2.0 * (c * d + a * b);
  R[2][2] = a * a - b * b - c * c + d * d;
}

}  // namespace

int NormalizeQternion(double q[4]) {
  if (!q) return -2;
  double sum = 0.0;
  for (int k = 0; k < 4; ++k) {
    if (std::fabs(q[k]) < 1e-8) q[k] = 0.0;
    sum += q[k] * q[k];
  }
  const double norm = std::sqrt(sum);
  if (norm < 1e-6) return -2;
  for (int k = 0; k < 4; ++k) q[k] /= norm;
  return 0;
}

int IsIdentityQuaternion(double q[4]) {
  if (!q || NormalizeQternion(q) != 0) return 0;
  return std::fabs(q[0] - 1.0) <= 1e-6 && std::fabs(q[1]) <= 1e-10 && std::fabs(q[2]) <= 1e-10 &&
         std::fabs(q[3]) <= 1e-10;
}

int quaternion_rotation_matrix(double q[4], double** R) {
  if (!q || !R || !R[0] || !R[1] || !R[2]) return -2;
  const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (norm == 0.0) return -2;
  for (int k = 0; k < 4; ++k) q[k] /= norm;
  double r[3][3];
  Rotation(q, r);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R[i][j] = r[i][j];
  return 0;
}

double QternionDiff(RegVec* a, RegVec* b) {
  if (!a || !b) return kEmptyBoxBound;
  NormalizeQternion(a->q);
  NormalizeQternion(b->q);
  // z first, then x and y: the order of the sum is part of the value's rounding.
  static const double kAxes[3][3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
  double sum = 0.0;
  for (const auto& e : kAxes) {
    double ea[3], eb[3];
    VecRotWquaternion(e, a, ea);
    VecRotWquaternion(e, b, eb);
    VecNormalize3(ea, ea);
    VecNormalize3(eb, eb);
    sum += VecDist3(ea, eb);
  }
  return sum * 0.3333333333333333;
}

int VecTrans3WithQternion(const double p[3], RegVec* v, double out[3]) {
  if (!p || !v || !out || NormalizeQternion(v->q) != 0) return -2;
  const double s = v->q[0];
  const double w[3] = {v->q[1], v->q[2], v->q[3]};
  const double pp[3] = {p[0], p[1], p[2]};
  double c[3];
  VecCrossProd3(w, pp, c);
  const double k = s * s - VecDotProd3(w, w), vp = 2.0 * VecDotProd3(w, pp);
  for (int i = 0; i < 3; ++i) out[i] = v->t[i] + k * pp[i] + vp * w[i] + 2.0 * s * c[i];
  return 0;
}

int Qternion2AxisRotAngle(double q[4], double axis[3], double* angle) {
  if (!q || !axis || !angle) return -2;
  NormalizeQternion(q);
  axis[0] = q[1];
  axis[1] = q[2];
  axis[2] = q[3];
  if (VecSize3(axis) >= 1e-6) {
    VecNormalize3(axis, axis);
    const double c = q[0] > 1.0 ? 1.0 : (q[0] < -1.0 ? -1.0 : q[0]);
    *angle = 2.0 * std::acos(c) * 180.0 * 0.3183098861837907;
  } else {
    axis[0] = axis[1] = axis[2] = 0.0;
    *angle = 0.0;
  }
  return 0;
}

int XYZAxisRotFromQternion(double q[4], double* rx, double* ry, double* rz) {
  if (!q || !rx || !ry || !rz) return -2;
  RegVec v = {{q[0], q[1], q[2], q[3]}, {0.0, 0.0, 0.0}};
  if (NormalizeQternion(v.q) != 0) return -2;
  std::memcpy(q, v.q, sizeof v.q);
  // Columns of R are the images of the unit axes.
  static const double kUnit[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double col[3][3];
  for (int j = 0; j < 3; ++j) VecTrans3WithQternion(kUnit[j], &v, col[j]);
  auto R = [&](int i, int j) { return col[j][i]; };
  const double s = -R(2, 0);
  *ry = std::asin(s > 1.0 ? 1.0 : (s < -1.0 ? -1.0 : s));
  if (std::cos(*ry) == 0.0) {
    *rx = std::atan2(R(0, 1), R(1, 1));
    *rz = 0.0;
  } else {
    *rx = std::atan2(R(2, 1), R(2, 2));
    *rz = std::atan2(R(1, 0), R(0, 0));
  }
  return 0;
}

int MultiplyQternion(const double a[4], const double b[4], double out[4]) {
  if (!a || !b || !out) return -2;
  return MultiplyQuaternion(a, b, out);
}

int MultiplyTwoRegVecs(const RegVec* a, const RegVec* b, RegVec* out) {
  RegVec r;
  if (MultiplyRegVecs(a, b, &r) != 0) return -2;
  *out = r;
  return 0;
}

namespace {

// q = (cos theta/2, sin theta/2 axis), divided by its norm; t keeps P fixed. -2 (out untouched)
// when the norm is below 1e-6 and `checked`.
int AxisAngleAboutPoint(const double axis[3], double theta, const double P[3], bool checked, RegVec* out) {
  double q[4] = {std::cos(theta / 2.0), 0.0, 0.0, 0.0};
  const double s = std::sin(theta / 2.0);
  for (int k = 0; k < 3; ++k) q[k + 1] = s * axis[k];
  const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (norm < 1e-6) {
    if (checked) return -2;
    q[0] = 1.0;
    q[1] = q[2] = q[3] = 0.0;
  } else {
    for (double& c : q) c /= norm;
  }
  double R[3][3];
  Rotation(q, R);
  for (int k = 0; k < 4; ++k) out->q[k] = q[k];
  for (int i = 0; i < 3; ++i) out->t[i] = P[i] - (R[i][0] * P[0] + R[i][1] * P[1] + R[i][2] * P[2]);
  return 0;
}

}  // namespace

// Shared by AlignTwoVectorQternion (checked) and AlignTwoVectorXform (unchecked).
static int AlignTwoVectorsAbout(const double a[3], const double b[3], const double P[3], bool checked, RegVec* out) {
  double ua[3], ub[3], axis[3] = {0.0, 0.0, 0.0};
  VecNormalize3(a, ua);
  VecNormalize3(b, ub);
  VecCrossProd3(ua, ub, axis);
  const double c = VecDotProd3(ua, ub);
  double theta;
  if (VecSize3(axis) >= 1e-6) {
    theta = std::acos(c > 1.0 ? 1.0 : (c < -1.0 ? -1.0 : c));
  } else {
    double u[3], w[3];
    if (Vec3To3Vecs(ua, u, axis, w) != 0) axis[0] = axis[1] = axis[2] = 0.0;
    theta = c < 0.0 ? kPi : 0.0;
  }
  VecNormalize3(axis, axis);
  return AxisAngleAboutPoint(axis, theta, P, checked, out);
}

int AlignTwoVectorQternion(const double a[3], const double b[3], const double P[3], RegVec* out) {
  if (!a || !b || !P || !out) return -2;
  return AlignTwoVectorsAbout(a, b, P, true, out);
}

int AlignTwoVectorXform(const double a[3], const double b[3], const double P[3], RegVec* out) {
  if (VecSize3(a) < 1e-6 || VecSize3(b) < 1e-6) {
    SetIdentityQuaternion(out);
    return 0;
  }
  return AlignTwoVectorsAbout(a, b, P, false, out);
}

int AlignTwoVecsClosestByAxisRot(const double u[3], const double w[3], const double P[3], const double A[3],
                                 RegVec* out) {
  double uu[3], ww[3], aa[3], t1[3], t2[3];
  VecNormalize3(u, uu);
  VecNormalize3(w, ww);
  VecNormalize3(A, aa);
  if (VecSize3(VecCrossProd3(aa, uu, t1)) < 1e-6 || VecSize3(VecCrossProd3(aa, ww, t2)) < 1e-6) {
    SetIdentityQuaternion(out);
    return 0;
  }
  double up[3], wp[3], au[3];
  VecNormalize3(VecCrossProd3(t1, aa, up), up);
  VecNormalize3(VecCrossProd3(t2, aa, wp), wp);
  // The signed angle from both of its sines and cosines: exact at every size, where an arccosine
  // loses half the digits of a small turn and a turn under 1e-6 would be dropped altogether.
  const double theta = std::atan2(VecDotProd3(wp, VecCrossProd3(aa, up, au)), VecDotProd3(up, wp));
  return AxisAngleAboutPoint(aa, theta, P, false, out);
}

int Rot180Qternion(const double P[3], const double axis[3], RegVec* out) {
  if (VecSize3(axis) < 1e-6) return -2;
  double a[3];
  VecNormalize3(axis, a);
  return AxisAngleAboutPoint(a, kPi, P, false, out);
}

int FlipAlignTwoVecs(const double P[3], const double A[3], const double u[3], const double w[3], RegVec* out) {
  if (!out || !u || !w || VecSize3(u) < 1e-6 || VecSize3(w) < 1e-6) return -2;
  double uu[3], ww[3];
  VecNormalize3(u, uu);
  VecNormalize3(w, ww);
  RegVec f, g;
  SetIdentityQuaternion(&f);
  if (AreTwoVecsOnSameHemisphere(A, uu, ww) != 1) {
    // The turn-over axis crosses A at right angles, so the line along A through P is kept (only
    // its sense reverses); any other perpendicular of u would carry that line elsewhere. It is
    // also perpendicular to u, so u turns into -u.
    double perp[3], e[3], e2[3];
    VecCrossProd3(A, uu, perp);
    if (AreTwoVecsParallel(uu, A) || VecSize3(perp) < 1e-6 * VecSize3(A)) {
      if (Vec3To3Vecs(A, e, perp, e2) != 0) return -2;
    }
    if (Rot180Qternion(P, perp, &f) != 0) return -2;
  }
  double fu[3];
  VecRotWquaternion(uu, &f, fu);
  VecNormalize3(fu, fu);
  SetIdentityQuaternion(&g);
  if (!AreTwoVecsParallel(uu, A) && !AreTwoVecsParallel(ww, A)) AlignTwoVecsClosestByAxisRot(fu, ww, P, A, &g);
  return MultiplyRegVecs(&f, &g, out);
}
