#include "registration/regplane.h"

#include <cmath>

#include "foundation/geometry.h"
#include "registration/matchkit.h"
#include "registration/stepreg.h"

namespace {

using namespace matchkit;

// A plane with its unit normal, its equation scaled to that normal, and its reference point.
struct Plane {
  double n[3], eq[4], P[3];
};

Plane MakePlane(const PlaneEq plane, const double* point) {
  Plane p;
  UnitPlane(plane, p.eq);
  Copy3(p.eq, p.n);
  if (point)
    Copy3(point, p.P);
  else
    GetDefaultPointOnPlane(plane, p.P);
  return p;
}

// Both planes of a pair and the length tolerance of the data.
struct PlanePair {
  Plane a, b;
  double tol;
};

PlanePair BothPlanes(const RegConstraint& c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                     const double* pointB) {
  PlanePair p{MakePlane(planeA, pointA), MakePlane(planeB, pointB), 0.0};
  p.tol = LengthTol({p.a.P, p.b.P, c.point, c.axisPoint1});
  return p;
}

// Foot of X on the plane and its distance.
double Foot(const Plane& p, const double X[3], double F[3]) { return std::fabs(FootOnPlane(X, p.P, p.n, F)); }

// Where the line through Q along dir crosses the plane; false when it runs parallel to it.
bool Crossing(const Plane& p, const double Q[3], const double dir[3], double X[3]) {
  return PlaneLineIntersect(p.eq, Q, dir, X) == 0;
}

// The direction from X towards its foot on the plane (zero when X lies on it) and the distance.
double Towards(const Plane& p, const double X[3], double u[3]) {
  double F[3], v[3];
  double h = Foot(p, X, F);
  Unit(VecDiff3(F, X, v), u);
  return h;
}

// The turn about the line through C along the unit e that brings A onto B as nearly as a turn
// can: by the directions from C towards the planes when C lies off both (the plane's position
// then settles the turn, whatever the normals' senses), else by the normals, A's reversed when
// the two lie on different sides of the plane across e.
void TurnAbout(const Plane& a, const Plane& b, const double C[3], const double e[3], double tol, RegVec* motion) {
  double u[3], v[3];
  const double hA = Towards(a, C, u), hB = Towards(b, C, v);
  if (hA <= tol || hB <= tol) {
    Copy3(a.n, u);
    Copy3(b.n, v);
    if (VecDotProd3(u, e) * VecDotProd3(v, e) < 0.0) Negate(u);
  }
  AlignTwoVecsClosestByAxisRot(u, v, C, e, motion);
}

}  // namespace

int GetDefaultPointOnPlane(const PlaneEq plane, double out[3]) {
  const double n2 = VecDotProd3(plane, plane);
  for (int k = 0; k < 3; ++k) out[k] = n2 > 0.0 ? -plane[3] * plane[k] / n2 : 0.0;
  return 0;
}

int CRTransLineMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                           const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::TransLine) != 0) return -2;
  double s[3];
  if (Unit(c.transDir, s) < kDirEps) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  // The crossings of one line along s: their difference runs along s, as the constraint asks. A
  // plane that s runs in (to round-off) cannot be moved; one merely near it still can.
  double XA[3], XB[3];
  if (!Crossing(a, a.P, s, XA) || !Crossing(b, a.P, s, XB)) return 0;
  Translation(XA, XB, motion);
  SetMode(remaining, 0);
  Zero3(remaining->transDir);
  return 0;
}

int CRRotLine180FixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA,
                                 const PlaneEq planeB, const double* pointB, int /*flag*/,
                                 RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180Fixed) != 0) return -2;
  double e[3];
  RegVec H;
  if (!AxisLine(c, e) || Rot180Qternion(c.point, e, &H) != 0) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  if (Par(a.n, e) || Par(b.n, e)) return 0;
  double u[3], v[3], Hu[3];
  if (Towards(a, c.point, u) <= tol) {
    Copy3(a.n, u);
    if (!SameSide(e, a.n, b.n)) Negate(u);
  }
  if (Towards(b, c.point, v) <= tol) Copy3(b.n, v);
  Turned(H, u, Hu);
  if (VecDotProd3(Hu, v) > VecDotProd3(u, v)) *motion = H;
  SetMode(remaining, 0);
  return 0;
}

int CRRotLine180C1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA,
                                const PlaneEq planeB, const double* pointB, int /*flag*/,
                                RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180C1T1) != 0) return -2;
  double e[3];
  if (!AxisLine(c, e)) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  const bool acrossA = Par(a.n, e), acrossB = Par(b.n, e);
  if (acrossA && acrossB) {
    // Both planes across the axis: the half turn keeps them where they are, so sliding along
    // transDir decides (by the crossings of one line along it), and the half turn is all that is
    // left.
    double s[3], XA[3], XB[3];
    if (Unit(c.transDir, s) < kDirEps || !Crossing(a, a.P, s, XA) || !Crossing(b, a.P, s, XB)) return 0;
    Translation(XA, XB, motion);
    SetMode(remaining, 1);
    return 0;
  }
  if (acrossA || acrossB) return 0;
  const double Q[3] = {P[0] + e[0], P[1] + e[1], P[2] + e[2]};
  double F[3];
  const bool inA = Foot(a, P, F) <= tol && Foot(a, Q, F) <= tol && AreTwoVecsPerpendicular(a.n, e);
  const bool inB = Foot(b, P, F) <= tol && Foot(b, Q, F) <= tol && AreTwoVecsPerpendicular(b.n, e);
  if (inA || inB) return 0;
  double XA[3], XB[3];
  const bool crossA = Crossing(a, P, e, XA), crossB = Crossing(b, P, e, XB);
  if (crossA != crossB) return 0;
  RegVec H;
  if (!crossA) {
    // The axis runs parallel to both planes: the half turn about it is made when the planes lie on
    // different sides of it (told by the directions from the axis towards them, which the planes'
    // reference points, anywhere in them, cannot tell), then A slides along the axis.
    double FA[3], FB[3], uA[3], uB[3];
    FootOnLine(a.P, P, e, FA);
    FootOnLine(b.P, P, e, FB);
    Towards(a, P, uA);
    Towards(b, P, uB);
    if (VecDotProd3(uA, uB) < 0.0 && Rot180Qternion(FA, e, motion) != 0) return -2;
    AddTranslation(FA, FB, motion);
    SetModeValue(remaining, RegConstraintMode::TransLine);
    Copy3(e, remaining->transDir);
    return 0;
  }
  double nA[3], Hn[3];
  Copy3(a.n, nA);
  if (!SameSide(e, a.n, b.n)) Negate(nA);
  if (Rot180Qternion(XA, e, &H) != 0) return -2;
  Turned(H, nA, Hn);
  if (VecDotProd3(Hn, b.n) > VecDotProd3(nA, b.n)) *motion = H;
  AddTranslation(XA, XB, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRArFixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArFixed) != 0) return -2;
  // Without an axis nothing can be turned; reporting the pair matched would be false.
  double e[3];
  if (!AxisLine(c, e)) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  // A plane across the axis turns onto itself: nothing to match, and the turn stays free.
  if (Par(a.n, e) || Par(b.n, e)) return 0;
  TurnAbout(a, b, c.point, e, tol, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRArC1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                        const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC1T1) != 0) return -2;
  double e[3];
  if (!AxisLine(c, e)) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  double XA[3], XB[3];
  if (!Crossing(a, P, e, XA) || !Crossing(b, P, e, XB)) {
    // The axis parallel to a plane: the turn about it places the plane, and sliding along the
    // axis is all that stays free.
    TurnAbout(a, b, c.point, e, tol, motion);
    SetModeValue(remaining, RegConstraintMode::TransLine);
    Copy3(c.point, remaining->point);
    Copy3(e, remaining->axis);
    Copy3(e, remaining->transDir);
    return 0;
  }
  const bool across = Par(a.n, e) || Par(b.n, e);
  if (!across) {
    // A turn about e keeps a normal's component along e: the senses must agree first.
    double nA[3];
    Copy3(a.n, nA);
    if (!SameSide(e, a.n, b.n)) Negate(nA);
    AlignTwoVecsClosestByAxisRot(nA, b.n, XA, e, motion);
  }
  AddTranslation(XA, XB, motion);
  // A plane across the axis can still turn about it.
  SetMode(remaining, across ? 2 : 0);
  Copy3(XB, remaining->point);
  Copy3(e, remaining->axis);
  Copy3(e, remaining->plane);
  PlaneThrough(remaining, XB);
  return 0;
}

int CRArC3T3MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                        const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC3T3) != 0) return -2;
  double e[3];
  if (VecSize3(planeA) < kDirEps || VecSize3(planeB) < kDirEps || !AxisLine(c, e)) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  const bool pa = Par(a.n, e), pb = Par(b.n, e);
  if (pa != pb) return 0;
  if (pa) {
    // Both planes across the axis direction: a translation matches them, and what is left (a turn
    // about any line along e, translation within the plane) has no named mode.
    Translation(a.P, b.P, motion);
    remaining->kind = 2;
    remaining->centreFreedom = remaining->transFreedom = 2;
    SetAxis(remaining, b.P, e);
    Copy3(e, remaining->transNormal);
    Zero3(remaining->transDir);
    return 0;
  }
  double nA[3];
  Copy3(a.n, nA);
  if (!SameSide(e, a.n, b.n)) Negate(nA);
  AlignTwoVecsClosestByAxisRot(nA, b.n, a.P, e, motion);
  AddTranslation(a.P, b.P, motion);
  // Once the planes lie on each other only translation within B keeps them so.
  SetModeValue(remaining, RegConstraintMode::Trans2D);
  Copy3(b.n, remaining->transNormal);
  return 0;
}

int CRFarFixedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                          const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarFixed) != 0) return -2;
  double axis[3];
  if (Unit(c.axis, axis) < kDirEps) return -2;
  const double* C = c.point;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  double uA[3], uB[3];
  const double hA = Towards(a, C, uA), hB = Towards(b, C, uB);
  if ((hA <= tol && Par(a.n, axis)) || (hB <= tol && Par(b.n, axis))) return 0;
  if (hA > tol && hB > tol) {
    // C off both planes: the foot of C on A must reach the foot on B; a turn-over first when the
    // two lie on different sides of the plane across the axis.
    RegVec F, R;
    SetIdentityQuaternion(&F);
    double w[3], u1[3];
    // The turn-over axis runs across both the axis and uA (any line across the axis when uA lies
    // along it).
    if (Unit(VecCrossProd3(axis, uA, w), w) < kDirEps) Perpendicular(axis, w);
    if (!SameSide(axis, uA, uB) && Rot180Qternion(C, w, &F) != 0) return -2;
    Turned(F, uA, u1);
    AlignTwoVecsClosestByAxisRot(u1, uB, C, axis, &R);
    if (After(F, R, motion) != 0) return -2;
  } else {
    double nA[3];
    Copy3(a.n, nA);
    if (VecDotProd3(nA, axis) * VecDotProd3(b.n, axis) < 0.0) Negate(nA);
    AlignTwoVecsClosestByAxisRot(nA, b.n, C, axis, motion);
  }
  SetMode(remaining, 0);
  return 0;
}

int CRFarC1T1MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC1T1) != 0) return -2;
  double e[3];
  if (!AxisLine(c, e)) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  double XA[3], XB[3];
  if (!AreTwoVecsPerpendicular(e, a.n) && !AreTwoVecsPerpendicular(e, b.n) && Crossing(a, P, e, XA) &&
      Crossing(b, P, e, XB)) {
    // The axis crosses both planes: turn A about it at its crossing, then slide the crossing onto
    // B's. What is left is described on the target side, at XB.
    double nA[3], dM[3], w[3];
    Copy3(a.n, nA);
    if (!SameSide(e, a.n, b.n)) Negate(nA);
    AlignTwoVecsClosestByAxisRot(nA, b.n, XA, e, motion);
    AddTranslation(XA, XB, motion);
    if (Par(a.n, e) && Par(b.n, e)) {
      SetMode(remaining, 3);
      SetAxis(remaining, XB, e);
      return 0;
    }
    Turned(*motion, nA, dM);
    SetMode(remaining, 1);
    RotLineAxis(remaining, XB, VecCrossProd3(e, dM, w));
    return 0;
  }
  // The axis parallel to a plane: turn about it by the directions from it towards the planes (the
  // normals when it lies in them), then slide along it.
  double FA[3], FB[3], u[3], v[3];
  FootOnLine(a.P, P, e, FA);
  FootOnLine(b.P, P, e, FB);
  const double rA = Towards(a, P, u), rB = Towards(b, P, v);
  const bool onBoth = rA <= tol && rB <= tol;
  if (rA <= tol || rB <= tol) {
    Copy3(a.n, u);
    Copy3(b.n, v);
    if (VecDotProd3(u, v) < 0.0) Negate(u);
  }
  AlignTwoVecsClosestByAxisRot(u, v, FA, e, motion);
  AddTranslation(FA, FB, motion);
  Copy3(FB, remaining->point);
  Copy3(e, remaining->transDir);
  if (onBoth) {
    // The axis lies in B: the half turn about the line through it across the axis within B keeps
    // B.
    double w[3];
    SetMode(remaining, 1);
    RotLineAxis(remaining, FB, VecCrossProd3(b.n, e, w));
  } else {
    SetMode(remaining, 0);
  }
  return 0;
}

int CRFarC2T2MatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                         const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC2T2) != 0) return -2;
  double n[3];
  if (PlaneUnitNormal(c, n) < kDirEps) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  const bool flatA = Par(a.n, n), flatB = Par(b.n, n);
  if (flatA && flatB) {
    // Both parallel to the constraint plane: only a turn-over changes A's height above it, by
    // its sign. Unless B is that plane itself, what is left (a turn about any line along n,
    // translation within the plane) has no named mode, as under ArC3T3.
    PlaneEq pl;
    UnitPlane(c.plane, pl);
    double FA[3], FB[3], w[3];
    const double P0[3] = {-pl[3] * n[0], -pl[3] * n[1], -pl[3] * n[2]};
    const double hA = FootOnPlane(a.P, P0, n, FA), hB = FootOnPlane(b.P, P0, n, FB);
    if (std::fabs(hB) <= tol) return 0;
    Perpendicular(n, w);
    if (hA * hB < 0.0 && std::fabs(hA) > tol && Rot180Qternion(FA, w, motion) != 0) return -2;
    remaining->kind = 2;
    remaining->centreFreedom = remaining->transFreedom = 2;
    SetAxis(remaining, FB, n);
    Copy3(n, remaining->transNormal);
    Zero3(remaining->transDir);
    return 0;
  }
  if (flatA || flatB) return 0;
  // Each plane meets the constraint plane in a line along n x (its normal); the feet of the
  // reference points on those lines are brought together, the lines aligned, and A turned over
  // about B's line when its normal ended on the other side.
  double lA[3], lB[3], w[3], q0[3], q1[3], XA[3], XB[3];
  if (Unit(VecCrossProd3(n, a.n, w), lA) < kDirEps || Unit(VecCrossProd3(n, b.n, w), lB) < kDirEps) return -2;
  if (PlanesIntersect(a.eq, c.plane, q0, q1) != 0) return -2;
  FootOnLine(a.P, q0, lA, XA);
  if (PlanesIntersect(b.eq, c.plane, q0, q1) != 0) return -2;
  FootOnLine(b.P, q0, lB, XB);
  RegVec R, F;
  AlignTwoVecsClosestByAxisRot(lA, lB, XA, n, &R);
  AddTranslation(XA, XB, &R);
  double nR[3];
  Turned(R, a.n, nR);
  if (!SameSide(n, nR, b.n)) {
    if (Rot180Qternion(XB, VecCrossProd3(n, lB, w), &F) != 0 || After(R, F, motion) != 0) return -2;
  } else {
    *motion = R;
  }
  SetModeValue(remaining, RegConstraintMode::RotLine180C1T1);
  RotLineAxis(remaining, XB, lB);
  Copy3(lB, remaining->transDir);
  Zero3(remaining->transNormal);
  return 0;
}

int CRRotPointMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                          const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotPoint) != 0) return -2;
  const double* C = c.point;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  double u[3], v[3];
  const bool off = Towards(a, C, u) > tol && Towards(b, C, v) > tol;
  if (!off) {
    Copy3(a.n, u);
    Copy3(b.n, v);
    if (VecDotProd3(u, v) < 0.0) Negate(u);
  }
  AlignTwoVectorXform(u, v, C, motion);
  // Left: the turn about B's normal through C, with turn-overs too when C lies in B.
  SetMode(remaining, off ? 2 : 3);
  SetAxis(remaining, C, v);
  return 0;
}

int CRFreeMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                      const double* pointB, int /*flag*/, RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Free) != 0) return -2;
  auto [a, b, tol] = BothPlanes(c, planeA, pointA, planeB, pointB);
  AlignTwoVectorXform(a.n, b.n, a.P, motion);
  AddTranslation(a.P, b.P, motion);
  // B's own freedom: turning about its normal, turning over, sliding within it.
  SetModeValue(remaining, RegConstraintMode::FarC2T2);
  AxisThrough(remaining, b.P, b.n);
  Copy3(b.n, remaining->axis);
  for (int k = 0; k < 4; ++k) remaining->plane[k] = planeB[k];
  Zero3(remaining->transDir);
  Copy3(b.n, remaining->transNormal);
  return 0;
}

int ConstrainedMatchPlanes(RegConstraint c, const PlaneEq planeA, const double* pointA, const PlaneEq planeB,
                           const double* pointB, int flag, RegConstraint* remaining, RegVec* motion) {
  if (BeginDispatch(c, remaining, motion) != 0) return -2;
  using Solver = int (*)(RegConstraint, const double*, const double*, const double*, const double*, int,
                         RegConstraint*, RegVec*);
  Solver solver = nullptr;
  switch (static_cast<RegConstraintMode>(GetRegConstraintMode(c))) {
    case RegConstraintMode::Fixed: return 0;
    case RegConstraintMode::TransLine: solver = CRTransLineMatchPlanes; break;
    case RegConstraintMode::RotLine180Fixed: solver = CRRotLine180FixedMatchPlanes; break;
    case RegConstraintMode::RotLine180C1T1: solver = CRRotLine180C1T1MatchPlanes; break;
    case RegConstraintMode::ArFixed: solver = CRArFixedMatchPlanes; break;
    case RegConstraintMode::ArC1T1: solver = CRArC1T1MatchPlanes; break;
    case RegConstraintMode::ArC3T3: solver = CRArC3T3MatchPlanes; break;
    case RegConstraintMode::FarFixed: solver = CRFarFixedMatchPlanes; break;
    case RegConstraintMode::FarC1T1: solver = CRFarC1T1MatchPlanes; break;
    case RegConstraintMode::FarC2T2: solver = CRFarC2T2MatchPlanes; break;
    case RegConstraintMode::RotPoint: solver = CRRotPointMatchPlanes; break;
    case RegConstraintMode::Free: solver = CRFreeMatchPlanes; break;
    default: return -2;  // Trans2D and Trans3D too: a plane pair has no translation-only solver
  }
  return solver(c, planeA, pointA, planeB, pointB, flag, remaining, motion);
}
