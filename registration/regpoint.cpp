#include "registration/regpoint.h"

#include <cmath>

#include "foundation/angle.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"
#include "registration/matchkit.h"
#include "registration/stepreg.h"

namespace {

using namespace matchkit;

// A and B seen from the constraint's axis line (through axisPoint1 towards axisPoint2): the unit
// axis d, their feet, and the unit directions from the feet when both lie off the axis.
struct AxisView {
  double d[3], Af[3], Bf[3], uA[3], uB[3];
  bool offAxis;
};

AxisView ViewFromAxis(const RegConstraint& c, const double A[3], const double B[3]) {
  AxisView w;
  Direction(c.axisPoint1, c.axisPoint2, w.d);
  double tol = LengthTol({A, B, c.axisPoint1});
  double rA = FootOnLine(A, c.axisPoint1, w.d, w.Af);
  double rB = FootOnLine(B, c.axisPoint1, w.d, w.Bf);
  w.offAxis = rA > tol && rB > tol;
  double v[3];
  Unit(VecDiff3(A, w.Af, v), w.uA);
  Unit(VecDiff3(B, w.Bf, v), w.uB);
  return w;
}

}  // namespace

int CRTransLineMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                           RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::TransLine) != 0) return -2;
  double s[3], ab[3];
  if (Unit(c.transDir, s) < kDirEps) return -2;
  VecDiff3(B, A, ab);
  double along = VecDotProd3(ab, s);
  for (int k = 0; k < 3; ++k) motion->t[k] = along * s[k];
  SetMode(remaining, 0);
  Zero3(remaining->transDir);
  return 0;
}

int CRTrans2DMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Trans2D) != 0) return -2;
  double m[3], foot[3], dist;
  if (Unit(c.transNormal, m) < kDirEps) return -2;
  PlaneMinDist(B, m[0], m[1], m[2], -VecDotProd3(m, A), foot, &dist);
  Translation(A, foot, motion);
  SetMode(remaining, 0);
  Zero3(remaining->transDir);
  return 0;
}

int CRTrans3DMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Trans3D) != 0) return -2;
  Translation(A, B, motion);
  SetMode(remaining, 0);
  Copy3(B, remaining->point);
  return 0;
}

int CRRotLine180FixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                                 RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180Fixed) != 0) return -2;
  double d[3], HA[3];
  if (NoAxis(c)) return -2;
  Direction(c.axisPoint1, c.axisPoint2, d);
  RegVec H;
  if (Rot180Qternion(c.point, d, &H) != 0) return -2;
  VecTrans3WithQternion(A, &H, HA);
  // A tie keeps the identity: the half turn is made only when it helps.
  if (VecDist3(HA, B) < VecDist3(A, B)) *motion = H;
  SetMode(remaining, 0);
  return 0;
}

int CRRotLine180C1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                                RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180C1T1) != 0) return -2;
  AxisView w = ViewFromAxis(c, A, B);
  if (!w.offAxis) {
    Translation(w.Af, w.Bf, motion);
    SetMode(remaining, 1);
    Copy3(w.Bf, remaining->point);
    return 0;
  }
  double v[3], uA2[3];
  RegVec H;
  if (Rot180Qternion(w.Af, w.d, &H) == 0) {
    VecRotWquaternion(w.uA, &H, v);
    Unit(v, uA2);
    if (VecDotProd3(uA2, w.uB) > VecDotProd3(w.uA, w.uB)) *motion = H;
  }
  double A3[3], s[3], ab[3];
  VecTrans3WithQternion(A, motion, A3);
  if (Unit(c.transDir, s) < kDirEps) Zero3(s);
  VecDiff3(B, A3, ab);
  double along = VecDotProd3(ab, s);
  for (int k = 0; k < 3; ++k) motion->t[k] += along * s[k];
  SetMode(remaining, 0);
  Copy3(w.Bf, remaining->point);
  return 0;
}

int CRArFixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArFixed) != 0) return -2;
  // Without an axis nothing can be turned; reporting the pair matched would be false.
  if (NoAxis(c)) return -2;
  AxisView w = ViewFromAxis(c, A, B);
  if (!w.offAxis) return 0;
  AlignTwoVecsClosestByAxisRot(w.uA, w.uB, c.point, w.d, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRArC1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                        RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC1T1) != 0) return -2;
  if (NoAxis(c)) return -2;
  AxisView w = ViewFromAxis(c, A, B);
  if (w.offAxis) {
    AlignTwoVecsClosestByAxisRot(w.uA, w.uB, w.Af, w.d, motion);
    SetMode(remaining, 0);
  } else {
    SetMode(remaining, 2);
  }
  AddTranslation(w.Af, w.Bf, motion);
  AxisThrough(remaining, w.Bf, c.axis);
  return 0;
}

int CRArC3T3MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                        RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC3T3) != 0) return -2;
  Translation(A, B, motion);
  double e[3];
  Unit(c.axis, e);
  SetMode(remaining, 2);
  AxisThrough(remaining, B, e);
  PlaneThrough(remaining, B);
  return 0;
}

int CRFarFixedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                          RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarFixed) != 0) return -2;
  double n[3];
  if (PlaneUnitNormal(c, n) < kDirEps) return -2;
  const double* C = c.point;
  double tol = LengthTol({A, B, C});
  if (VecDist3(A, C) <= tol || VecDist3(B, C) <= tol) return 0;
  double Ap[3], Bp[3], v[3];
  OntoPlane(c, A, n, Ap);
  OntoPlane(c, B, n, Bp);
  if (VecDist3(A, Ap) <= tol || VecDist3(B, Bp) <= tol) {
    // A point on the plane: turn it onto the ray from C towards B'; the half turn about that ray
    // keeps it there and is all that is left.
    double uA[3], uB[3];
    VecDiff3(Ap, C, v);
    Unit(v, uA);
    VecDiff3(Bp, C, v);
    Unit(v, uB);
    AlignTwoVecsClosestByAxisRot(uA, uB, C, n, motion);
    SetMode(remaining, 1);
    AxisThrough(remaining, C, uB);
    Copy3(uB, remaining->axis);
    Zero3(remaining->transDir);
    return 0;
  }
  double uA[3], uB[3], A2[3];
  VecDiff3(A, C, v);
  Unit(v, uA);
  VecDiff3(B, C, v);
  Unit(v, uB);
  RegVec F, G;
  SetIdentityQuaternion(&F);
  SetIdentityQuaternion(&G);
  Copy3(A, A2);
  if (AreTwoVecsOnSameHemisphere(n, uA, uB) == 0) {
    double w[3];
    VecDiff3(Ap, C, v);
    Unit(v, w);
    if (Rot180Qternion(C, w, &F) != 0) SetIdentityQuaternion(&F);
    VecTrans3WithQternion(A, &F, A2);
  }
  if (!AreTwoVecsParallel(uA, n) && !AreTwoVecsParallel(uB, n)) {
    double u2[3];
    VecDiff3(A2, C, v);
    Unit(v, u2);
    AlignTwoVecsClosestByAxisRot(u2, uB, C, n, &G);
  }
  if (MultiplyRegVecs(&F, &G, motion) != 0) {
    SetIdentityQuaternion(motion);
    return -2;
  }
  SetMode(remaining, 0);
  return 0;
}

int CRFarC1T1MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC1T1) != 0) return -2;
  if (NoAxis(c)) return -2;
  AxisView w = ViewFromAxis(c, A, B);
  if (!w.offAxis) {
    Translation(w.Af, w.Bf, motion);
    SetMode(remaining, 3);
    AxisThrough(remaining, w.Bf, c.axis);
    PlaneThrough(remaining, w.Bf);
    return 0;
  }
  AlignTwoVecsClosestByAxisRot(w.uA, w.uB, w.Af, w.d, motion);
  AddTranslation(w.Af, w.Bf, motion);
  // What is left is the half turn about the line from the axis through B, which swaps the
  // axis's sense and keeps B.
  SetMode(remaining, 1);
  AxisThrough(remaining, w.Bf, w.uB);
  Copy3(w.uB, remaining->axis);
  PlaneThrough(remaining, w.Bf);
  return 0;
}

int CRFarC2T2MatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                         RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC2T2) != 0) return -2;
  double n[3];
  if (PlaneUnitNormal(c, n) < kDirEps) return -2;
  double Ap[3], Bp[3], hA[3], hB[3];
  OntoPlane(c, A, n, Ap);
  OntoPlane(c, B, n, Bp);
  VecDiff3(A, Ap, hA);
  VecDiff3(B, Bp, hB);
  double tol = LengthTol({A, B});
  if (VecSize3(hA) <= tol || VecSize3(hB) <= tol) {
    // A point on the plane has no side: turn-overs about lines through it in the plane stay free.
    Translation(Ap, Bp, motion);
    SetMode(remaining, 3);
  } else {
    double t[3], uA[3], uB[3];
    VecDiff3(Bp, Ap, t);
    Unit(hA, uA);
    Unit(hB, uB);
    if (AreTwoVecsOnSameHemisphere(n, uA, uB) != 1) {
      // Opposite sides: a half turn about a line in the plane brings A to B's side.
      double w[3], first[3], third[3];
      if (VecSize3(t) > tol)
        Unit(t, w);
      else
        Vec3To3Vecs(uA, first, w, third);
      if (Rot180Qternion(Ap, w, motion) != 0) {
        SetIdentityQuaternion(motion);
        return -2;
      }
    }
    AddTranslation(Ap, Bp, motion);
    // A off the plane held at B: only the rotation about the normal through B' is left.
    SetMode(remaining, 2);
  }
  Copy3(n, remaining->axis);
  AxisThrough(remaining, Bp, n);
  PlaneThrough(remaining, Bp);
  return 0;
}

int CRRotPointMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                          RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotPoint) != 0) return -2;
  const double* C = c.point;
  double tol = LengthTol({A, B, C});
  if (VecDist3(A, C) <= tol || VecDist3(B, C) <= tol) return 0;
  double uA[3], uB[3], v[3];
  VecDiff3(A, C, v);
  Unit(v, uA);
  VecDiff3(B, C, v);
  Unit(v, uB);
  AlignTwoVectorXform(uA, uB, C, motion);
  SetMode(remaining, 2);
  Copy3(C, remaining->point);
  Copy3(uB, remaining->axis);
  Copy3(C, remaining->axisPoint1);
  Copy3(B, remaining->axisPoint2);
  Zero3(remaining->transDir);
  return 0;
}

int CRFreeMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                      RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Free) != 0) return -2;
  Translation(A, B, motion);
  SetMode(remaining, 4);
  Copy3(B, remaining->point);
  Zero3(remaining->axis);
  return 0;
}

int ConstrainedMatchPoints(RegConstraint c, const double A[3], const double B[3], RegConstraint* remaining,
                           RegVec* motion) {
  if (BeginDispatch(c, remaining, motion) != 0) return -2;
  using Solver = int (*)(RegConstraint, const double*, const double*, RegConstraint*, RegVec*);
  Solver solver = nullptr;
  switch (static_cast<RegConstraintMode>(GetRegConstraintMode(c))) {
    case RegConstraintMode::Fixed: return 0;
    case RegConstraintMode::TransLine: solver = CRTransLineMatchPoints; break;
    case RegConstraintMode::Trans2D: solver = CRTrans2DMatchPoints; break;
    case RegConstraintMode::Trans3D: solver = CRTrans3DMatchPoints; break;
    case RegConstraintMode::RotLine180Fixed: solver = CRRotLine180FixedMatchPoints; break;
    case RegConstraintMode::RotLine180C1T1: solver = CRRotLine180C1T1MatchPoints; break;
    case RegConstraintMode::ArFixed: solver = CRArFixedMatchPoints; break;
    case RegConstraintMode::ArC1T1: solver = CRArC1T1MatchPoints; break;
    case RegConstraintMode::ArC3T3: solver = CRArC3T3MatchPoints; break;
    case RegConstraintMode::FarFixed: solver = CRFarFixedMatchPoints; break;
    case RegConstraintMode::FarC1T1: solver = CRFarC1T1MatchPoints; break;
    case RegConstraintMode::FarC2T2: solver = CRFarC2T2MatchPoints; break;
    case RegConstraintMode::RotPoint: solver = CRRotPointMatchPoints; break;
    case RegConstraintMode::Free: solver = CRFreeMatchPoints; break;
    default: return -2;
  }
  return solver(c, A, B, remaining, motion);
}
