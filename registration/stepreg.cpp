#include "registration/stepreg.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "registration/confreg.h"
#include "registration/regdir.h"
#include "registration/regline.h"
#include "registration/regplane.h"
#include "registration/regpoint.h"

int SetIdentityQuaternion(RegVec* v) {
  if (!v) return -2;
  *v = RegVec{{1.0, 0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
  return 0;
}

int RegVecToXfrmMat(const RegVec* v, Xform out) {
  double q[4] = {v->q[0], v->q[1], v->q[2], v->q[3]};
  if (NormalizeQternion(q) != 0) return -2;
  // The rotation is built on the stack: a conversion cannot run out of memory.
  double r[3][3];
  double* rows[3] = {r[0], r[1], r[2]};
  quaternion_rotation_matrix(q, rows);
  Get_imat(out);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[4 * i + j] = r[j][i];
  for (int j = 0; j < 3; ++j) out[12 + j] = v->t[j];
  return 0;
}

int VecRotWquaternion(const double p[3], const RegVec* v, double out[3]) {
  RegVec rot = *v;
  rot.t[0] = rot.t[1] = rot.t[2] = 0.0;
  Xform M;
  if (RegVecToXfrmMat(&rot, M) != 0) {
    for (int k = 0; k < 3; ++k) out[k] = p[k];
    return -2;
  }
  VecTrans3(p, M, out);
  return 0;
}

int VecQterTrans3(const double p[3], const RegVec* v, double out[3]) {
  Xform M;
  if (RegVecToXfrmMat(v, M) != 0) {
    for (int k = 0; k < 3; ++k) out[k] = p[k];
    return -2;
  }
  VecTrans3(p, M, out);
  return 0;
}

int MultiplyQuaternion(const double a[4], const double b[4], double out[4]) {
  out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  out[1] = a[0] * b[1] + b[0] * a[1] + a[2] * b[3] - a[3] * b[2];
  out[2] = a[0] * b[2] + b[0] * a[2] + a[3] * b[1] - a[1] * b[3];
  out[3] = a[0] * b[3] + b[0] * a[3] + a[1] * b[2] - a[2] * b[1];
  return NormalizeQternion(out);
}

int MultiplyRegVecs(const RegVec* a, const RegVec* b, RegVec* out) {
  if (MultiplyQuaternion(b->q, a->q, out->q) != 0) return -2;
  VecQterTrans3(a->t, b, out->t);
  return 0;
}

int AreTwoVecsOnSameHemisphere(const double A[3], const double u[3], const double w[3]) {
  if (VecSize3(A) < 1e-6 || VecSize3(u) < 1e-6 || VecSize3(w) < 1e-6) return 0;
  double a[3], uu[3], ww[3];
  VecNormalize3(A, a);
  VecNormalize3(u, uu);
  VecNormalize3(w, ww);
  if (AreTwoVecsPerpendicular(uu, a) || AreTwoVecsPerpendicular(ww, a)) return 1;
  return VecDotProd3(a, uu) * VecDotProd3(a, ww) > 0.0 ? 1 : 0;
}

int LineDirection(const double p1[3], const double p2[3], double dir[3]) {
  double d[3];
  VecDiff3(p2, p1, d);
  if (VecSize3(d) < 1e-6) {
    dir[0] = dir[1] = dir[2] = 0.0;
    return -2;
  }
  VecNormalize3(d, dir);
  return 0;
}

int LineMidPoint(const double p1[3], const double p2[3], double out[3]) {
  for (int k = 0; k < 3; ++k) out[k] = 0.5 * (p1[k] + p2[k]);
  return 0;
}

int DoTwoLinesCoincide(const double l1[6], const double l2[6]) {
  double d1[3], d2[3], mid[3], foot[3], dist2;
  LineDirection(l1, l1 + 3, d1);
  LineDirection(l2, l2 + 3, d2);
  if (!AreTwoVecsParallel(d1, d2)) return 0;
  LineMidPoint(l1, l1 + 3, mid);
  LinePntMinDistSq(mid, l2, l2 + 3, foot, &dist2);
  return dist2 < 1e-6 ? 1 : 0;
}

int IsLineOnPlane(const double l[6], const double plane[4]) {
  double d[3], n[3] = {plane[0], plane[1], plane[2]};
  VecDiff3(l + 3, l, d);
  if (VecSize3(d) < 1e-6 || VecSize3(n) < 1e-6) return 0;
  double foot[3], dist1, dist2;
  PlaneMinDist(l, plane[0], plane[1], plane[2], plane[3], foot, &dist1);
  PlaneMinDist(l + 3, plane[0], plane[1], plane[2], plane[3], foot, &dist2);
  if (dist1 > 1e-6 || dist2 > 1e-6) return 0;
  VecNormalize3(d, d);
  VecNormalize3(n, n);
  return std::fabs(VecDotProd3(d, n)) <= 0.001 ? 1 : 0;
}

int VecProject3(const double v[3], const double n[3], double out[3]) {
  double c[3], cc[3];
  VecCrossProd3(v, n, c);
  VecCrossProd3(c, n, cc);
  for (int k = 0; k < 3; ++k) out[k] = v[k] + cc[k];
  return 0;
}

namespace {

void FootOnFeaturePlane(const RegFeature& f, double foot[3]) {
  double dist;
  for (int k = 0; k < 3; ++k) foot[k] = f.point[k];
  if (VecSize3(f.plane) >= 1e-6) PlaneMinDist(f.point, f.plane[0], f.plane[1], f.plane[2], f.plane[3], foot, &dist);
}

// The coordinates a feature of its type is matched by are numbers.
bool FiniteFeature(const RegFeature& f) {
  switch (f.type) {
    case 0: return AllFinite(f.point, 3);
    case 1:
    case 2:
    case 3: return AllFinite(f.end1, 3) && AllFinite(f.end2, 3);
    case 4: return AllFinite(f.plane, 4) && AllFinite(f.point, 3);
    case 5: return AllFinite(f.dir, 3) && AllFinite(f.point, 3);
    default: return true;
  }
}

bool FiniteConstraint(const RegConstraint& c) {
  for (const double* v : {c.point, c.axis, c.axisPoint1, c.axisPoint2, c.transDir, c.transNormal})
    if (!AllFinite(v, 3)) return false;
  return AllFinite(c.plane, 4);
}

int MatchByType(const RegFeature& A, const RegFeature& B, RegConstraint constraint, RegConstraint* outConstraint,
                RegVec* outMotion) {
  switch (A.type) {
    case 0: return ConstrainedMatchPoints(constraint, A.point, B.point, outConstraint, outMotion);
    case 1:
    case 2:
    case 3: {
      // A directed line keeps its sense; a line fixed along itself also its first point.
      const double a[6] = {A.end1[0], A.end1[1], A.end1[2], A.end2[0], A.end2[1], A.end2[2]};
      const double b[6] = {B.end1[0], B.end1[1], B.end1[2], B.end2[0], B.end2[1], B.end2[2]};
      return ConstrainedMatchLines(constraint, a, b, A.type >= 2, A.type == 3, outConstraint, outMotion);
    }
    case 4: {
      // The matchers carry a plane's reference point onto the other's, so it must lie on its plane:
      // a feature's point as given (the origin when never set) is taken to its foot.
      // A plane without a normal goes as it is, for the matcher to refuse.
      double footA[3], footB[3];
      FootOnFeaturePlane(A, footA);
      FootOnFeaturePlane(B, footB);
      return ConstrainedMatchPlanes(constraint, A.plane, footA, B.plane, footB, 0, outConstraint, outMotion);
    }
    case 5:
      // A free centre has no point of its own: the direction turns about the moving feature's.
      if (constraint.centreFreedom == 3)
        for (int k = 0; k < 3; ++k) constraint.point[k] = A.point[k];
      return ConstrainedMatchDirections(constraint, A.dir, B.dir, outConstraint, outMotion);
    default: return -2;
  }
}

}  // namespace

int ConstrainedRegFeaturePair(const RegPair* pair, RegConstraint constraint, RegConstraint* outConstraint,
                              RegVec* outMotion) {
  if (!outConstraint || !outMotion) return -2;
  SetIdentityQuaternion(outMotion);
  CopyRegConstraint(&constraint, outConstraint);
  if (!pair || !pair->A || !pair->B || pair->A->type != pair->B->type) return -2;
  // Coordinates that are not numbers would come back as a motion of NaN reported as matched.
  if (!FiniteFeature(*pair->A) || !FiniteFeature(*pair->B) || !FiniteConstraint(constraint)) return -2;
  if (MatchByType(*pair->A, *pair->B, constraint, outConstraint, outMotion) != 0) return -2;
  // Finite data so extreme that the matcher's arithmetic overflowed is no match either.
  if (!AllFinite(outMotion->q, 4) || !AllFinite(outMotion->t, 3) || !FiniteConstraint(*outConstraint)) {
    SetIdentityQuaternion(outMotion);
    CopyRegConstraint(&constraint, outConstraint);
    return -2;
  }
  return 0;
}

int DoStepByStepRegistration(const RegPair* pairs, int* outCount, RegVec* outMotion, Xform outMatrix,
                             RegConstraint* outConstraint) {
  if (!outCount || !outMotion || !outMatrix || !outConstraint) return -2;
  *outCount = 0;
  Get_imat(outMatrix);
  if (!pairs) return -2;
  Xform matrix;
  Get_imat(matrix);
  RegVec motion;
  SetIdentityQuaternion(&motion);
  RegConstraint constraint;
  SetNullRegConstraint(&constraint);
  int solved = 0;
  // A copy of each pair is moved, never the caller's; a fresh one each time, so point arrays a
  // copy took are never written over.
  Owned<RegPair, FreeFeaturePairList> scratch;
  for (const RegPair* pair = pairs; pair; pair = pair->next) {
    scratch.reset(AllocateNullRegPair());
    if (!scratch || CopyFeaturePair(pair, scratch.get()) != 0) return -2;
    scratch->next = nullptr;
    if (XformRegFeature(scratch->A, matrix) != 0) return -2;
    RegConstraint left;
    RegVec step;
    Xform stepMatrix;
    if (ConstrainedRegFeaturePair(scratch.get(), constraint, &left, &step) != 0) return -2;
    if (MultiplyTwoRegVecs(&motion, &step, &motion) != 0 || RegVecToXfrmMat(&step, stepMatrix) != 0) return -2;
    Get_catmat(matrix, stepMatrix, matrix);
    constraint = left;
    ++solved;
  }
  Copymat(matrix, outMatrix);
  *outMotion = motion;
  *outCount = solved;
  *outConstraint = constraint;
  return 0;
}
