#include "registration/register.h"

#include <cmath>
#include <cstdlib>

#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "registration/stepreg.h"

// The rotation lattice, q0 outermost and q3 innermost.
const double q0Table[2] = {1.0, 0.0};
const double q1Table[3] = {0.0, 1.0, -1.0};
const double q2Table[3] = {0.0, 1.0, -1.0};
const double q3Table[3] = {0.0, 1.0, -1.0};

namespace {

constexpr double kTwoPi = 6.283185307179586;

RegVec Row(double* const* table, int i) {
  const double* r = table[i];
  return RegVec{{r[0], r[1], r[2], r[3]}, {r[4], r[5], r[6]}};
}

void SetRow(double** table, int i, const RegVec& v) {
  double* r = table[i];
  for (int k = 0; k < 4; ++k) r[k] = v.q[k];
  for (int k = 0; k < 3; ++k) r[4 + k] = v.t[k];
}

// A table of `rows` made in a scope of its own: kept only by Hand, freed on every other path.
class NewTable {
 public:
  explicit NewTable(int rows) : m_(allocate_matrix_ff(rows, 7)) {}
  double** get() const { return m_; }
  bool ok() const { return m_ && !KernelFailed(); }
  int Hand(double*** table, int* count, int n) {
    scope_.keep();
    *table = m_;
    *count = n;
    return 0;
  }

 private:
  TrackingScope scope_;
  double** m_;
};

void Start(double*** table, int* count) {
  if (table) *table = nullptr;
  if (count) *count = 0;
}

void Centroids(const float* ax, const float* ay, const float* az, int na, const float* bx, const float* by,
               const float* bz, int nb, double ca[3], double cb[3]) {
  ca[0] = ca[1] = ca[2] = cb[0] = cb[1] = cb[2] = 0.0;
  ComputeCenterOfMassCoord(ax, ay, az, na, ca);
  ComputeCenterOfMassCoord(bx, by, bz, nb, cb);
}

// The lattice rotations with |q|^2 >= minNorm2, normalised, in lattice order. `halfOnly` keeps one
// of q and -q (the first component above 1e-6 in magnitude positive).
template <class Emit>
void ForLattice(double minNorm2, bool halfOnly, Emit emit) {
  for (double a : q0Table)
    for (double b : q1Table)
      for (double c : q2Table)
        for (double d : q3Table) {
          RegVec v = {{a, b, c, d}, {0.0, 0.0, 0.0}};
          if (a * a + b * b + c * c + d * d < minNorm2 || NormalizeQternion(v.q) != 0) continue;
          if (halfOnly) {
            int k = 0;
            while (k < 4 && std::fabs(v.q[k]) <= 1e-6) ++k;
            if (k == 4 || v.q[k] < 0.0) continue;
          }
          emit(v);
        }
}

}  // namespace

int GetQternionAlignTwoPointSet(const float* ax, const float* ay, const float* az, int na, const float* bx,
                                const float* by, const float* bz, int nb, double** table, int* count) {
  if (count) *count = 0;
  if (!ax || !ay || !az || !bx || !by || !bz || !table || !count || na < 3 || nb < 3) return -2;
  double ca[3], cb[3], d[3], la[3], lb[3], A[3][3], B[3][3];
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  VecDiff3(cb, ca, d);
  if (PrincipleComponentAnalysis(ax, ay, az, na, la, A) != 0 ||
      PrincipleComponentAnalysis(bx, by, bz, nb, lb, B) != 0)
    return -2;
  static const double kSigns[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  int n = 0;
  for (const auto& s : kSigns) {
    double b3[3], b1[3], fa1[3];
    for (int k = 0; k < 3; ++k) b3[k] = s[0] * B[2][k], b1[k] = s[1] * B[0][k];
    RegVec f, g, fg;
    if (AlignTwoVectorQternion(A[2], b3, ca, &f) != 0) continue;
    VecRotWquaternion(A[0], &f, fa1);
    AlignTwoVecsClosestByAxisRot(fa1, b1, ca, b3, &g);
    if (MultiplyTwoRegVecs(&f, &g, &fg) != 0) continue;
    for (int k = 0; k < 3; ++k) fg.t[k] += d[k];
    SetRow(table, n++, fg);
  }
  *count = n;
  return n > 0 ? 0 : -2;
}

int GetInitialQuaternion(const float* ax, const float* ay, const float* az, int na, const float* bx,
                         const float* by, const float* bz, int nb, double*** table, int* count) {
  Start(table, count);
  if (!table || !count) return -2;
  NewTable T(500);
  if (!T.ok()) return -2;
  int n = 0;
  // Too few points or a degenerate set simply gives no alignment rows.
  GetQternionAlignTwoPointSet(ax, ay, az, na, bx, by, bz, nb, T.get(), &n);
  double ca[3], cb[3];
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  ForLattice(1e-6, true, [&](RegVec v) {
    double rc[3];
    VecTrans3WithQternion(ca, &v, rc);
    for (int k = 0; k < 3; ++k) v.t[k] = cb[k] - rc[k];
    SetRow(T.get(), n++, v);
  });
  if (KernelFailed()) return -2;
  return T.Hand(table, count, n);
}

int Get3DQternionSample(double*** table, int* count) {
  Start(table, count);
  if (!table || !count) return -2;
  NewTable T(55);
  if (!T.ok()) return -2;
  int n = 0;
  ForLattice(0.001, false, [&](const RegVec& v) { SetRow(T.get(), n++, v); });
  return T.Hand(table, count, n);
}

int GetRotAxisQternionSample(const double P[3], const double axis[3], int k, double*** table, int* count) {
  Start(table, count);
  if (!table || !count || !P || !axis || VecSize3(axis) < 1e-6) return -2;
  const int K = k > 3 ? k : 3;
  NewTable T(K + 4);
  if (!T.ok()) return -2;
  double a[3];
  VecNormalize3(axis, a);
  // The divisor K + 1 (not K) is the sampling callers were tuned with.
  const double step = kTwoPi / (K + 1);
  for (int i = 0; i < K; ++i) {
    RegVec v;
    const double h = 0.5 * i * step;
    v.q[0] = std::cos(h);
    for (int c = 0; c < 3; ++c) v.q[c + 1] = std::sin(h) * a[c];
    NormalizeQternion(v.q);
    RegVec rot = {{v.q[0], v.q[1], v.q[2], v.q[3]}, {0.0, 0.0, 0.0}};
    double rp[3];
    VecTrans3WithQternion(P, &rot, rp);
    for (int c = 0; c < 3; ++c) v.t[c] = P[c] - rp[c];
    SetRow(T.get(), i, v);
  }
  return T.Hand(table, count, K);
}

int GetEstRotCenterForRotAxis(const float* ax, const float* ay, const float* az, int na, const float* bx,
                              const float* by, const float* bz, int nb, const RegConstraint* c, double out[3]) {
  if (!c || !out || c->kind != 2 || VecSize3(c->axis) < 1e-6) return -2;
  double ca[3], cb[3], mid[3], dist;
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  for (int k = 0; k < 3; ++k) mid[k] = 0.5 * (ca[k] + cb[k]);
  switch (c->centreFreedom) {
    case 0:
      for (int k = 0; k < 3; ++k) out[k] = c->point[k];
      return 0;
    case 1:
      LinePntMinDist(mid, c->axisPoint1, c->axisPoint2, out, &dist);
      return 0;
    case 2:
      if (VecSize3(c->plane) < 1e-6) return -2;
      PlaneMinDist(ca, c->plane[0], c->plane[1], c->plane[2], c->plane[3], out, &dist);
      return 0;
    case 3:
      for (int k = 0; k < 3; ++k) out[k] = ca[k];
      return 0;
    default:
      return -2;
  }
}

int GetInitQternionRot3D(const float* ax, const float* ay, const float* az, int na, const float* bx,
                         const float* by, const float* bz, int nb, const RegConstraint* c, double*** table,
                         int* count) {
  Start(table, count);
  if (!table || !count || !c) return -2;
  NewTable T(200);
  double** sample = nullptr;
  int ns = 0;
  double** align = allocate_matrix_ff(4, 7);
  if (!T.ok() || !align || Get3DQternionSample(&sample, &ns) != 0) return -2;
  int nal = 0;
  GetQternionAlignTwoPointSet(ax, ay, az, na, bx, by, bz, nb, align, &nal);
  int n = 0;
  RegVec v;
  SetIdentityQuaternion(&v);
  SetRow(T.get(), n++, v);
  for (int i = 0; i < nal; ++i) {
    v = Row(align, i);
    v.t[0] = v.t[1] = v.t[2] = 0.0;
    SetRow(T.get(), n++, v);
  }
  for (int i = 1; i < ns; ++i) SetRow(T.get(), n++, Row(sample, i));
  matrix_free_ff(sample);
  matrix_free_ff(align);
  double ca[3], cb[3];
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  for (int i = 1; i < n; ++i) {
    v = Row(T.get(), i);
    v.t[0] = v.t[1] = v.t[2] = 0.0;
    double rc[3], d[3];
    VecTrans3WithQternion(ca, &v, rc);
    VecDiff3(cb, rc, d);
    AddConstrainedTranslation(c, d, v.t);
    SetRow(T.get(), i, v);
  }
  if (KernelFailed()) return -2;
  return T.Hand(table, count, n);
}

int GetInitQternionRotAxis(const float* ax, const float* ay, const float* az, int na, const float* bx,
                           const float* by, const float* bz, int nb, const RegConstraint* c, double*** table,
                           int* count) {
  if (!c) return GetInitialQuaternion(ax, ay, az, na, bx, by, bz, nb, table, count);
  Start(table, count);
  if (!table || !count || VecSize3(c->axis) < 1e-6) return -2;
  double axis[3], P[3];
  VecNormalize3(c->axis, axis);
  if (GetEstRotCenterForRotAxis(ax, ay, az, na, bx, by, bz, nb, c, P) != 0) return -2;
  double** T = nullptr;
  int n = 0;
  if (GetRotAxisQternionSample(P, axis, 60, &T, &n) != 0) return -2;
  double ca[3], cb[3];
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  for (int i = 0; i < n; ++i) {
    RegVec v = Row(T, i);
    double moved[3], d[3];
    VecTrans3WithQternion(ca, &v, moved);
    VecDiff3(cb, moved, d);
    AddConstrainedTranslation(c, d, v.t);
    SetRow(T, i, v);
  }
  *table = T;
  *count = n;
  return 0;
}

int GetInitQternionTransOnly(const float* ax, const float* ay, const float* az, int na, const float* bx,
                             const float* by, const float* bz, int nb, const RegConstraint* c,
                             double*** table, int* count) {
  Start(table, count);
  if (!table || !count || !c) return -2;
  NewTable T(2);
  if (!T.ok()) return -2;
  double ca[3], cb[3], d[3];
  Centroids(ax, ay, az, na, bx, by, bz, nb, ca, cb);
  VecDiff3(cb, ca, d);
  RegVec v;
  SetIdentityQuaternion(&v);
  SetRow(T.get(), 0, v);
  AddConstrainedTranslation(c, d, v.t);
  SetRow(T.get(), 1, v);
  return T.Hand(table, count, 2);
}

int GetConstrainedInitQternion(const float* ax, const float* ay, const float* az, int na, const float* bx,
                               const float* by, const float* bz, int nb, const RegConstraint* c,
                               double*** table, int* count) {
  Start(table, count);
  if (!c) return GetInitialQuaternion(ax, ay, az, na, bx, by, bz, nb, table, count);
  int r = -2;
  switch (c->kind) {
    case 0:
      r = GetInitQternionTransOnly(ax, ay, az, na, bx, by, bz, nb, c, table, count);
      break;
    case 2:
      r = GetInitQternionRotAxis(ax, ay, az, na, bx, by, bz, nb, c, table, count);
      break;
    case 4:
      r = GetInitQternionRot3D(ax, ay, az, na, bx, by, bz, nb, c, table, count);
      break;
    default:
      break;
  }
  return r == 0 ? 0 : -2;
}

int GetPerturbedQuaternion(RegVec* v, double delta, double*** table, int* count) {
  Start(table, count);
  if (!v || !table || !count || NormalizeQternion(v->q) != 0) return -2;
  double a[3] = {v->q[1], v->q[2], v->q[3]};
  if (VecSize3(a) < 1e-6) a[0] = a[1] = 0.0, a[2] = 1.0;
  VecNormalize3(a, a);
  // Rounding can put a normalised q0 a hair outside [-1, 1], where acos has no value.
  const double q0 = v->q[0] > 1.0 ? 1.0 : (v->q[0] < -1.0 ? -1.0 : v->q[0]);
  const double phi = std::acos(q0) + 0.5 * delta;
  const double c = std::cos(phi), s = std::sin(phi);
  double r1[3], r2[3];
  for (double& x : r1) x = std::rand() * 0.0003051850947599719;
  for (double& x : r2) x = std::rand() * 0.0003051850947599719;
  if (VecSize3(r1) < 1e-6 || VecSize3(r2) < 1e-6) {
    double u[3];
    if (Vec3To3Vecs(a, u, r1, r2) != 0) return -2;
  }
  VecNormalize3(r1, r1);
  VecNormalize3(r2, r2);
  NewTable T(4);
  if (!T.ok()) return -2;
  const double tau = std::tan(0.5 * delta);
  const double signs[4] = {1.0, 1.0, -1.0, -1.0};
  const double* dirs[4] = {r1, r2, r1, r2};
  for (int i = 0; i < 4; ++i) {
    double axis[3];
    for (int k = 0; k < 3; ++k) axis[k] = a[k] + signs[i] * tau * dirs[i][k];
    VecNormalize3(axis, axis);
    RegVec row = {{c, s * axis[0], s * axis[1], s * axis[2]}, {v->t[0], v->t[1], v->t[2]}};
    NormalizeQternion(row.q);
    SetRow(T.get(), i, row);
  }
  return T.Hand(table, count, 4);
}
