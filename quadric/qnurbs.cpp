#include "quadric/qnurbs.h"

#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// The unit square polygon walked counter-clockwise from the +x side; its first and last columns
// coincide.
const double kSquare[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
const double kCircleKnots[12] = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
constexpr double kS = 0.7071067811865476;  // the double nearest to the square root of one half

double ColumnWeight(int k) { return k % 2 ? kS : 1.0; }

bool HoldsArrays(const Bspline* s) {
  return s->knotsU || s->knotsV || s->X || s->Y || s->Z || s->W || s->quadric;
}

// The rows x 9 arrays of a quadric surface; knotsV holds vKnots. Attached only when every
// allocation succeeded: on failure the scope frees them and the record keeps null pointers.
bool AllocateQuadricArrays(Bspline* s, int rows, const double* vKnots, int nv, int quadricDoubles,
                           const QuadricInfo* info, int type) {
  double* ku = MallocArray<double>(12);
  double* kv = MallocArray<double>(nv);
  double** X = allocate_matrix_fh(rows, 9);
  double** Y = allocate_matrix_fh(rows, 9);
  double** Z = allocate_matrix_fh(rows, 9);
  double** W = allocate_matrix_fh(rows, 9);
  QuadricInfo* q = DuplicateQuadricInfo(info, quadricDoubles);
  if (!ku || !kv || !X || !Y || !Z || !W || !q || KernelFailed()) return false;
  for (int i = 0; i < 12; ++i) ku[i] = kCircleKnots[i];
  for (int i = 0; i < nv; ++i) kv[i] = vKnots[i];
  InstallBsplineArrays(s, ku, kv, X, Y, Z, W);  // the record held none
  s->quadric = q;
  s->quadricType = type;
  return true;
}

void SetCircleSweep(Bspline* s, int degreeV, int interiorV) {
  s->rational = 1;
  s->degreeU = 2;
  s->interiorU = 6;
  s->degreeV = degreeV;
  s->interiorV = interiorV;
  s->closedU = 1;
  s->closedV = 0;
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
}

// Unit frame of the axis (rows X, Y, A of a row-vector transform, translation zero): X from the
// larger of A x (1, 0, 0) and (0, 1, 0) x A (a tie takes the second), Y = A x X.
void CylinderCoordSys(double axis[3], Xform frame) {
  double a[3];
  VecNormalize3(axis, a);
  for (int k = 0; k < 3; ++k) axis[k] = a[k];
  const double ex[3] = {1, 0, 0}, ey[3] = {0, 1, 0};
  double c1[3], c2[3], X[3], Y[3], t[3];
  VecCrossProd3(axis, ex, c1);
  VecCrossProd3(ey, axis, c2);
  VecNormalize3(VecSize3(c2) >= VecSize3(c1) ? c2 : c1, X);
  VecCrossProd3(axis, X, t);
  VecNormalize3(t, Y);
  for (int i = 0; i < 16; ++i) frame[i] = 0.0;
  for (int k = 0; k < 3; ++k) {
    frame[k] = X[k];
    frame[4 + k] = Y[k];
    frame[8 + k] = axis[k];
  }
  frame[15] = 1.0;
}

// The straight sweep of the cylinder and cone: rows of radius r0 at height h0 and r1 at h1 in
// the axis frame, moved to origin T.
void FillLinearSweep(Bspline* s, const double* axis, const double T[3], double r0, double h0, double r1,
                     double h1) {
  double a[3] = {axis[0], axis[1], axis[2]};
  Xform frame;
  CylinderCoordSys(a, frame);
  for (int k = 0; k < 3; ++k) frame[12 + k] = T[k];
  for (int j = 0; j < 2; ++j)
    for (int k = 0; k < 9; ++k) {
      const double r = j ? r1 : r0;
      const double local[3] = {r * kSquare[k][0], r * kSquare[k][1], j ? h1 : h0};
      double p[3];
      VecTrans3(local, frame, p);
      s->X[j][k] = p[0];
      s->Y[j][k] = p[1];
      s->Z[j][k] = p[2];
      s->W[j][k] = ColumnWeight(k);
    }
}

}  // namespace

int SphereNurbs(double cx, double cy, double cz, double r, Bspline* srf) {
  if (!srf || HoldsArrays(srf)) return -2;
  TrackingScope scope;
  srf->kind = 2;
  srf->dimension = 3;
  SetCircleSweep(srf, 2, 2);
  static const double kv[8] = {0, 0, 0, 0.5, 0.5, 1, 1, 1};
  static const double kHeight[5] = {-1, -1, 0, 1, 1};
  const QuadricInfo info = {{r, cx, cy, cz}};
  if (!AllocateQuadricArrays(srf, 5, kv, 8, 4, &info, 21)) return -2;
  // Rows: south pole, the square at heights -r, 0, r, north pole; the half circle in v has the
  // same weights 1, s, 1, s, 1 as a quarter-split circle.
  for (int j = 0; j < 5; ++j)
    for (int k = 0; k < 9; ++k) {
      const bool pole = j == 0 || j == 4;
      srf->X[j][k] = cx + (pole ? 0.0 : r * kSquare[k][0]);
      srf->Y[j][k] = cy + (pole ? 0.0 : r * kSquare[k][1]);
      srf->Z[j][k] = cz + r * kHeight[j];
      srf->W[j][k] = ColumnWeight(j) * ColumnWeight(k);
    }
  scope.keep();
  return 0;
}

int CylinderNurbs(const QuadricInfo* cyl, Bspline* srf) {
  if (!cyl || !srf || HoldsArrays(srf)) return -2;
  TrackingScope scope;
  srf->kind = 2;
  srf->dimension = 3;
  SetCircleSweep(srf, 1, 0);
  srf->quadricType = 22;
  static const double kv[4] = {0, 0, 1, 1};
  if (!AllocateQuadricArrays(srf, 2, kv, 4, 9, cyl, 22)) return -2;
  const double* v = cyl->v;
  double A[3];
  VecNormalize3(v + 3, A);
  const double T[3] = {v[0] + v[7] * A[0], v[1] + v[7] * A[1], v[2] + v[7] * A[2]};
  FillLinearSweep(srf, v + 3, T, v[6], 0.0, v[6], v[8] - v[7]);
  scope.keep();
  return 0;
}

int ConeNurbs(const QuadricInfo* cone, Bspline* srf) {
  if (!cone || !srf || HoldsArrays(srf)) return -2;
  TrackingScope scope;
  SetCircleSweep(srf, 1, 0);
  srf->quadricType = 23;
  const double* v = cone->v;
  const double t = std::tan(v[6]), start = v[7], end = v[8];
  const double r0 = std::fabs(start * t), r1 = std::fabs(end * t);
  static const double kv[4] = {0, 0, 1, 1};
  if (!AllocateQuadricArrays(srf, 2, kv, 4, 9, cone, 23)) return -2;
  // With the apex between the ends the end row is mirrored through the axis, so that each column
  // is one ruling through the apex.
  FillLinearSweep(srf, v + 3, v, r0, start, start * end < 0.0 ? -r1 : r1, end);
  scope.keep();
  return 0;
}
