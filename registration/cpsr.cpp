#include "registration/cpsr.h"

#include <cmath>

#include "cloud/princip.h"
#include "foundation/eigen.h"
#include "registration/stepreg.h"

Xform lastXform = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

namespace {

int gMode = 0;

// 4 x 4 scratch on the stack: a closed-form solve needs no allocation of its own.
struct Matrix4 {
  double v[4][4];
  double* rows[4] = {v[0], v[1], v[2], v[3]};
};

bool AnyNull(const void* a, const void* b, const void* c, const void* d, const void* e, const void* f) {
  return !a || !b || !c || !d || !e || !f;
}

void StoreLastXform(const RegVec* v) {
  Xform M;
  if (RegVecToXfrmMat(v, M) == 0) Copymat(M, lastXform);
}

}  // namespace

int CPSRHornMatrix(const double S[3][3], double** N) {
  const double xx = S[0][0], xy = S[0][1], xz = S[0][2];
  const double yx = S[1][0], yy = S[1][1], yz = S[1][2];
  const double zx = S[2][0], zy = S[2][1], zz = S[2][2];
  const double m[4][4] = {{xx + yy + zz, yz - zy, zx - xz, xy - yx},
                          {yz - zy, xx - yy - zz, xy + yx, zx + xz},
                          {zx - xz, xy + yx, -xx + yy - zz, yz + zy},
                          {xy - yx, zx + xz, yz + zy, -xx - yy + zz}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) N[i][j] = m[i][j];
  return 0;
}

int SetRegistrationMode(int mode) {
  if (mode < 0 || mode > 3) return -2;
  gMode = mode;
  return 0;
}

int CurrentRegistrationMode() { return gMode; }

int CPSRQternionMatrix(const float* ax, const float* ay, const float* az, int n, const float* bx,
                       const float* by, const float* bz, double** N, double ca[3], double cb[3]) {
  if (AnyNull(ax, ay, az, bx, by, bz) || !N || !ca || !cb || n < 3) return -2;
  ComputeCenterOfMass(ax, ay, az, n, ca);
  ComputeCenterOfMass(bx, by, bz, n, cb);
  double S[3][3] = {};
  for (int i = 0; i < n; ++i) {
    const double a[3] = {ax[i] - ca[0], ay[i] - ca[1], az[i] - ca[2]};
    const double b[3] = {bx[i] - cb[0], by[i] - cb[1], bz[i] - cb[2]};
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) S[j][k] += a[j] * b[k];
  }
  CPSRHornMatrix(S, N);
  return 0;
}

int Get321CovMatrix(const float* ax, const float* ay, const float* az, int n, const float* bx,
                    const float* by, const float* bz, const int* kinds, double** N, double ca[3], double cb[3]) {
  if (AnyNull(ax, ay, az, bx, by, bz) || !kinds || !N || !ca || !cb || n < 3) return -2;
  ComputeCenterOfMass(ax, ay, az, n, ca);
  ComputeCenterOfMass(bx, by, bz, n, cb);
  double S[3][3] = {};
  for (int i = 0; i < n; ++i) {
    const int k = kinds[i];
    if (k < 0 || k > 2) continue;
    const double a[3] = {ax[i] - ca[0], ay[i] - ca[1], az[i] - ca[2]};
    const double bk = (k == 0 ? bx[i] : (k == 1 ? by[i] : bz[i])) - cb[k];
    for (int j = 0; j < 3; ++j) S[j][k] += a[j] * bk;
  }
  CPSRHornMatrix(S, N);
  return 0;
}

int CorPntSetRegistrationError(const float* ax, const float* ay, const float* az, int n, const float* bx,
                               const float* by, const float* bz, const RegVec* motion, double* out) {
  if (AnyNull(ax, ay, az, bx, by, bz) || !motion || !out || n < 1) return -2;
  Xform M;
  if (RegVecToXfrmMat(motion, M) != 0) return -2;
  double total = 0.0, block = 0.0;
  int counter = 0;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {ax[i], ay[i], az[i]};
    double m[3];
    VecTrans3(p, M, m);
    const double dx = bx[i] - m[0], dy = by[i] - m[1], dz = bz[i] - m[2];
    block += dx * dx + dy * dy + dz * dz;
    if (++counter > 1000) {
      total += block;
      block = 0.0;
      counter = 0;
    }
  }
  *out = (total + block) / n;
  return 0;
}

namespace {

// The eigenvector of the largest eigenvalue of N (column 0, sign as the reduction gives it) and
// the translation t = cb - R ca: the free closed form shared by the plain and 3-2-1 variants.
int SolveFree(Matrix4& N, const double ca[3], const double cb[3], RegVec* out) {
  double d[4];
  if (eigensystem(N.rows, 4, d) != 0) return -2;
  RegVec r = {{N.v[0][0], N.v[1][0], N.v[2][0], N.v[3][0]}, {0.0, 0.0, 0.0}};
  if (NormalizeQternion(r.q) != 0) return -2;
  double rc[3];
  VecTrans3WithQternion(ca, &r, rc);
  for (int k = 0; k < 3; ++k) r.t[k] = cb[k] - rc[k];
  *out = r;
  return 0;
}

}  // namespace

int RegisterCorPntSets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                       const float* by, const float* bz, RegVec* out, double* residual) {
  if (!out || !residual) return -2;
  Matrix4 N;
  double ca[3], cb[3];
  RegVec r;
  if (CPSRQternionMatrix(ax, ay, az, n, bx, by, bz, N.rows, ca, cb) != 0 || SolveFree(N, ca, cb, &r) != 0)
    return -2;
  CorPntSetRegistrationError(ax, ay, az, n, bx, by, bz, &r, residual);
  *out = r;
  StoreLastXform(&r);
  return 0;
}

int Reg321CorPntSets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                     const float* by, const float* bz, const int* kinds, RegVec* out, double* residual) {
  if (!out || !residual) return -2;
  Matrix4 N;
  double ca[3], cb[3];
  RegVec r;
  if (Get321CovMatrix(ax, ay, az, n, bx, by, bz, kinds, N.rows, ca, cb) != 0 || SolveFree(N, ca, cb, &r) != 0)
    return -2;
  CorPntSetRegistrationError(ax, ay, az, n, bx, by, bz, &r, residual);
  *out = r;
  StoreLastXform(&r);
  return 0;
}

double register_point_sets(const float* ax, const float* ay, const float* az, int n, const float* bx,
                           const float* by, const float* bz, RegVec* out) {
  // Fewer than three pairs fix no rotation; a negative value tells the loop to stop.
  if (!out) return -2.0;
  Matrix4 N;
  double ca[3], cb[3];
  if (CPSRQternionMatrix(ax, ay, az, n, bx, by, bz, N.rows, ca, cb) != 0) return -2.0;
  RegVec r = {{1.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
  const int mode = gMode;
  if (mode == 0) {
    double d[4];
    if (eigensystem(N.rows, 4, d) != 0) return -2.0;
    for (int k = 0; k < 4; ++k) r.q[k] = N.v[k][0];
  } else {
    // The 2 x 2 block on q0 and the component of the mode's axis.
    double m[2][2] = {{N.v[0][0], N.v[0][mode]}, {N.v[mode][0], N.v[mode][mode]}};
    double* rows[2] = {m[0], m[1]};
    double d[2];
    if (eigensystem(rows, 2, d) != 0) return -2.0;
    r.q[0] = m[0][0];
    r.q[mode] = m[1][0];
  }
  const double len = std::sqrt(r.q[0] * r.q[0] + r.q[1] * r.q[1] + r.q[2] * r.q[2] + r.q[3] * r.q[3]);
  if (len == 0.0) return -2.0;
  for (double& c : r.q) c /= len;
  double R[3][3];
  double* rows[3] = {R[0], R[1], R[2]};
  quaternion_rotation_matrix(r.q, rows);
  for (int k = 0; k < 3; ++k) r.t[k] = cb[k] - (R[k][0] * ca[0] + R[k][1] * ca[1] + R[k][2] * ca[2]);
  if (mode > 0) r.t[mode - 1] = 0.0;
  *out = r;
  StoreLastXform(&r);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double a[3] = {ax[i], ay[i], az[i]};
    const double b[3] = {bx[i], by[i], bz[i]};
    for (int k = 0; k < 3; ++k) {
      const double d = b[k] - (R[k][0] * a[0] + R[k][1] * a[1] + R[k][2] * a[2] + r.t[k]);
      sum += d * d;
    }
  }
  return sum / n;
}
