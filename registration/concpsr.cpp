#include "registration/concpsr.h"

#include <cmath>

#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "registration/cpsr.h"
#include "registration/icp.h"
#include "registration/stepreg.h"

namespace {

// Direction vectors and plane normals shorter than this give no axis.
constexpr double kShortest = 1e-6;

bool PointsReady(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                 const float* bz, int least) {
  return ax && ay && az && bx && by && bz && n >= least;
}

bool Ready(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
           const float* bz, int least, const RegConstraint* c, const RegVec* motion, const double* residual) {
  return PointsReady(ax, ay, az, n, bx, by, bz, least) && c && motion && residual;
}

// S[j][k] = sum (a_j - ca_j)(b_k - cb_k), gathered in blocks of about 1000 pairs that are then
// added to the total, so that long sums of small products keep their precision.
void CrossSums(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
               const float* bz, const double ca[3], const double cb[3], double S[3][3]) {
  double block[3][3] = {};
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) S[j][k] = 0.0;
  int counter = 0;
  for (int i = 0; i < n; ++i) {
    const double a[3] = {ax[i] - ca[0], ay[i] - ca[1], az[i] - ca[2]};
    const double b[3] = {bx[i] - cb[0], by[i] - cb[1], bz[i] - cb[2]};
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) block[j][k] += a[j] * b[k];
    if (++counter > 1000 || i == n - 1) {
      for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k) S[j][k] += block[j][k], block[j][k] = 0.0;
      counter = 0;
    }
  }
}

// The eigenvector (q0, q3) of the largest eigenvalue of Horn's matrix restricted to rotations
// about z (q1 = q2 = 0), from sums taken about ca and cb.
int BestTurnAboutZ(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                   const float* bz, const double ca[3], const double cb[3], double* q0, double* q3) {
  double S[3][3];
  CrossSums(ax, ay, az, n, bx, by, bz, ca, cb, S);
  const double off = S[0][1] - S[1][0];
  double g[2][2] = {{S[0][0] + S[1][1] + S[2][2], off}, {off, S[2][2] - S[0][0] - S[1][1]}};
  double* rows[2] = {g[0], g[1]};
  double d[2];
  if (eigensystem(rows, 2, d) != 0) return -2;
  *q0 = g[0][0];
  *q3 = g[1][0];
  return 0;
}

RegVec Identity() { return RegVec{{1.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}}; }

// The end of every solver with a translation freedom: the freedom applied to what is left of
// cB - (R cA + t) after the rotation m, then the residual; both outputs are written on success.
int FinishWithinFreedom(const float* ax, const float* ay, const float* az, int n, const float* bx,
                        const float* by, const float* bz, const RegConstraint* c, RegVec m, RegVec* motion,
                        double* residual) {
  double ca[3], cb[3], moved[3], d[3], r;
  ComputeCenterOfMassCoord(ax, ay, az, n, ca);
  ComputeCenterOfMassCoord(bx, by, bz, n, cb);
  VecTrans3WithQternion(ca, &m, moved);
  VecDiff3(cb, moved, d);
  AddConstrainedTranslation(c, d, m.t);
  if (CorPntSetRegistrationError(ax, ay, az, n, bx, by, bz, &m, &r) != 0) return -2;
  *motion = m;
  *residual = r;
  return 0;
}

using TurnAboutZ = int (*)(const float*, const float*, const float*, int, const float*, const float*,
                           const float*, RegVec*);

// Method: M = x -> R1 (x - p) with R1 taking the unit axis a onto +z; both sets are moved by M,
// the z solver turns M(A) onto M(B), and the motion is M^-1 after that turn after M.
int SolveAboutAxis(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                   const float* bz, const double p[3], const double a[3], TurnAboutZ turn, RegVec* motion,
                   double* residual) {
  static const double kZ[3] = {0.0, 0.0, 1.0}, kOrigin[3] = {0.0, 0.0, 0.0};
  RegVec R1, M, Minv;
  const RegVec shift = {{1.0, 0.0, 0.0, 0.0}, {-p[0], -p[1], -p[2]}};
  if (AlignTwoVectorQternion(a, kZ, kOrigin, &R1) != 0 || MultiplyTwoRegVecs(&shift, &R1, &M) != 0) return -2;
  Minv = RegVec{{R1.q[0], -R1.q[1], -R1.q[2], -R1.q[3]}, {p[0], p[1], p[2]}};
  RegVec Rz;
  {
    TrackingScope scope;
    float* F = MallocArray<float>(6, n);
    if (!F || KernelFailed()) return -2;
    float *fx = F, *fy = F + n, *fz = F + 2 * n, *gx = F + 3 * n, *gy = F + 4 * n, *gz = F + 5 * n;
    TransformPntSet(ax, ay, az, n, &M, fx, fy, fz);
    TransformPntSet(bx, by, bz, n, &M, gx, gy, gz);
    if (turn(fx, fy, fz, n, gx, gy, gz, &Rz) != 0) return -2;
  }
  RegVec turned, out;
  if (MultiplyTwoRegVecs(&M, &Rz, &turned) != 0 || MultiplyTwoRegVecs(&turned, &Minv, &out) != 0) return -2;
  double r;
  if (CorPntSetRegistrationError(ax, ay, az, n, bx, by, bz, &out, &r) != 0) return -2;
  *motion = out;
  *residual = r;
  return 0;
}

bool UnitAxis(const double v[3], double a[3]) {
  if (VecSize3(v) < kShortest) return false;
  VecNormalize3(v, a);
  return true;
}

}  // namespace

int ConstrainedRegCorPntSet(const float* ax, const float* ay, const float* az, int n, const float* bx,
                            const float* by, const float* bz, const RegConstraint* c, RegVec* motion,
                            double* residual) {
  if (!PointsReady(ax, ay, az, n, bx, by, bz, 1) || !motion || !residual) return -2;
  if (!c) return RegisterCorPntSets(ax, ay, az, n, bx, by, bz, motion, residual);
  switch (c->kind) {
    case 0:
      return CPSRTransOnly(ax, ay, az, n, bx, by, bz, c, motion, residual);
    case 2:
      return CPSRRotAxis(ax, ay, az, n, bx, by, bz, c, motion, residual);
    case 3:
      return CPSRRotAxisFlip(ax, ay, az, n, bx, by, bz, c, motion, residual);
    case 4:
      if (c->transFreedom < 0 || c->transFreedom > 3) return -2;
      if (c->transFreedom == 3) return RegisterCorPntSets(ax, ay, az, n, bx, by, bz, motion, residual);
      return CPSRRot3D(ax, ay, az, n, bx, by, bz, c, motion, residual);
    default:
      // Kind 1 (a half turn about a line) has no point-set solver.
      return -2;
  }
}

int CPSRTransOnly(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                  const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  if (!Ready(ax, ay, az, n, bx, by, bz, 1, c, motion, residual) || c->kind != 0) return -2;
  return FinishWithinFreedom(ax, ay, az, n, bx, by, bz, c, Identity(), motion, residual);
}

int CPSRRot3D(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
              const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  if (!Ready(ax, ay, az, n, bx, by, bz, 3, c, motion, residual) || c->kind != 4) return -2;
  if (c->centreFreedom == 3) return RegisterCorPntSets(ax, ay, az, n, bx, by, bz, motion, residual);
  if (c->centreFreedom != 0) return -2;
  // Horn's matrix of the sets taken relative to the centre: its best rotation keeps the centre.
  double S[3][3], N[4][4], d[4];
  double* rows[4] = {N[0], N[1], N[2], N[3]};
  CrossSums(ax, ay, az, n, bx, by, bz, c->point, c->point, S);
  CPSRHornMatrix(S, rows);
  if (eigensystem(rows, 4, d) != 0) return -2;
  RegVec m = {{N[0][0], N[1][0], N[2][0], N[3][0]}, {0.0, 0.0, 0.0}};
  if (NormalizeQternion(m.q) != 0) return -2;
  double rc[3];
  VecTrans3WithQternion(c->point, &m, rc);
  VecDiff3(c->point, rc, m.t);
  return FinishWithinFreedom(ax, ay, az, n, bx, by, bz, c, m, motion, residual);
}

int CPSRRotAxis(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  if (!Ready(ax, ay, az, n, bx, by, bz, 2, c, motion, residual)) return -2;
  RegConstraint k = *c;
  if (!UnitAxis(c->axis, k.axis)) return -2;
  double ca[3], cb[3], mid[3], dist;
  ComputeCenterOfMassCoord(ax, ay, az, n, ca);
  ComputeCenterOfMassCoord(bx, by, bz, n, cb);
  LineMidPoint(ca, cb, mid);
  RegVec m;
  double r;
  int solved;
  switch (k.centreFreedom) {
    case 0:
      solved = CPSRRotFixedLine(ax, ay, az, n, bx, by, bz, &k, &m, &r);
      break;
    case 1:
      LinePntMinDist(mid, k.axisPoint1, k.axisPoint2, k.point, &dist);
      solved = CPSRRotFixedLine(ax, ay, az, n, bx, by, bz, &k, &m, &r);
      break;
    case 2:
      if (VecSize3(k.plane) < kShortest) return -2;
      solved = CPSRRotVector(ax, ay, az, n, bx, by, bz, &k, &m, &r);
      break;
    case 3:
      solved = CPSRRotVector(ax, ay, az, n, bx, by, bz, &k, &m, &r);
      break;
    default:
      return -2;
  }
  if (solved != 0) return -2;
  return FinishWithinFreedom(ax, ay, az, n, bx, by, bz, &k, m, motion, residual);
}

int CPSRRotFixedLine(const float* ax, const float* ay, const float* az, int n, const float* bx,
                     const float* by, const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  double a[3];
  if (!Ready(ax, ay, az, n, bx, by, bz, 2, c, motion, residual) || !UnitAxis(c->axis, a)) return -2;
  return SolveAboutAxis(ax, ay, az, n, bx, by, bz, c->point, a, RegCorPntSetRotZaxisOnly, motion, residual);
}

int CPSRRotVector(const float* ax, const float* ay, const float* az, int n, const float* bx, const float* by,
                  const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  double a[3], ca[3];
  if (!Ready(ax, ay, az, n, bx, by, bz, 2, c, motion, residual) || !UnitAxis(c->axis, a)) return -2;
  ComputeCenterOfMassCoord(ax, ay, az, n, ca);
  return SolveAboutAxis(ax, ay, az, n, bx, by, bz, ca, a, RegCorPntSetRotZDirection, motion, residual);
}

int CPSRRotAxisFlip(const float* ax, const float* ay, const float* az, int n, const float* bx,
                    const float* by, const float* bz, const RegConstraint* c, RegVec* motion, double* residual) {
  if (!Ready(ax, ay, az, n, bx, by, bz, 2, c, motion, residual)) return -2;
  const RegConstraint k = *c;
  double ca[3], cb[3], mid[3], centre[3], a[3], dist;
  ComputeCenterOfMassCoord(ax, ay, az, n, ca);
  ComputeCenterOfMassCoord(bx, by, bz, n, cb);
  LineMidPoint(ca, cb, mid);
  switch (k.centreFreedom) {
    case 1:
      LinePntMinDist(mid, k.axisPoint1, k.axisPoint2, centre, &dist);
      break;
    case 2:
      if (VecSize3(k.plane) < kShortest) return -2;
      PlaneMinDist(mid, k.plane[0], k.plane[1], k.plane[2], k.plane[3], centre, &dist);
      break;
    case 3:
      for (int i = 0; i < 3; ++i) centre[i] = mid[i];
      break;
    default:
      for (int i = 0; i < 3; ++i) centre[i] = k.point[i];
      break;
  }
  if (!UnitAxis(k.axis, a)) return -2;
  // The turn-over axis: perpendicular to the rotation axis through the centre, towards A where
  // A's centroid lies off the axis (so the half turn keeps A near its place).
  double off[3], f[3], dir[3];
  VecDiff3(ca, centre, off);
  const double along = VecDotProd3(off, a);
  for (int i = 0; i < 3; ++i) f[i] = ca[i] - along * a[i];
  VecDiff3(f, centre, off);
  if (VecSize3(off) > kShortest) {
    VecNormalize3(off, dir);
  } else {
    double u[3], w[3];
    if (Vec3To3Vecs(a, u, dir, w) != 0) return -2;
  }
  RegVec H;
  if (Rot180Qternion(centre, dir, &H) != 0 || NormalizeQternion(H.q) != 0) return -2;
  TrackingScope scope;
  float* F = MallocArray<float>(3, n);
  if (!F || KernelFailed()) return -2;
  TransformPntSet(ax, ay, az, n, &H, F, F + n, F + 2 * n);
  RegVec m1, m2, turned;
  double r1, r2;
  if (CPSRRotAxis(ax, ay, az, n, bx, by, bz, &k, &m1, &r1) != 0 ||
      CPSRRotAxis(F, F + n, F + 2 * n, n, bx, by, bz, &k, &m2, &r2) != 0)
    return -2;
  if (r2 <= r1) {
    if (MultiplyTwoRegVecs(&H, &m2, &turned) != 0) return -2;
    *motion = turned;
    *residual = r2;
  } else {
    *motion = m1;
    *residual = r1;
  }
  return 0;
}

int RegCorPntSetRotZaxisOnly(const float* ax, const float* ay, const float* az, int n, const float* bx,
                             const float* by, const float* bz, RegVec* motion) {
  if (!PointsReady(ax, ay, az, n, bx, by, bz, 2) || !motion) return -2;
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  double q0, q3;
  if (BestTurnAboutZ(ax, ay, az, n, bx, by, bz, kOrigin, kOrigin, &q0, &q3) != 0) return -2;
  *motion = RegVec{{q0, 0.0, 0.0, q3}, {0.0, 0.0, 0.0}};
  return 0;
}

int RegCorPntSetRotZDirection(const float* ax, const float* ay, const float* az, int n, const float* bx,
                              const float* by, const float* bz, RegVec* motion) {
  if (!PointsReady(ax, ay, az, n, bx, by, bz, 2) || !motion) return -2;
  double ca[3], cb[3], q0, q3;
  ComputeCenterOfMassCoord(ax, ay, az, n, ca);
  ComputeCenterOfMassCoord(bx, by, bz, n, cb);
  if (BestTurnAboutZ(ax, ay, az, n, bx, by, bz, ca, cb, &q0, &q3) != 0) return -2;
  const double len = std::sqrt(q0 * q0 + q3 * q3);
  if (len < kShortest) return -2;
  RegVec m = {{q0 / len, 0.0, 0.0, q3 / len}, {0.0, 0.0, 0.0}};
  double rc[3];
  VecTrans3WithQternion(ca, &m, rc);
  m.t[0] = cb[0] - rc[0];
  m.t[1] = cb[1] - rc[1];
  *motion = m;
  return 0;
}
