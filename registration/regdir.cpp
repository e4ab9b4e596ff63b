#include "registration/regdir.h"

#include <cmath>

#include "foundation/angle.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"
#include "registration/matchkit.h"
#include "registration/stepreg.h"

namespace {

using namespace matchkit;

// The common start of every solver (matchkit's), then unit copies of the directions, both at
// least 1e-6 long unless `anyLength`.
int Begin(const RegConstraint& c, const double dA[3], const double dB[3], RegConstraint* remaining,
          RegVec* motion, RegConstraintMode mode, double uA[3], double uB[3], bool anyLength = false) {
  if (matchkit::Begin(c, remaining, motion, mode) != 0) return -2;
  if ((Unit(dA, uA) < kDirEps || Unit(dB, uB) < kDirEps) && !anyLength) return -2;
  return 0;
}

// The constraint's axis, normalised; -2 when shorter than 1e-6.
int AxisDirection(const RegConstraint& c, double e[3]) { return Unit(c.axis, e) < kDirEps ? -2 : 0; }

// The unit normal of the constraint's plane; -2 when shorter than 1e-6.
int PlaneNormal(const RegConstraint& c, double n[3]) {
  if (VecSize3(c.plane) < kDirEps) return -2;
  PlaneUnitNormal(c, n);
  return 0;
}

bool AlongAxis(const double e[3], const double uA[3], const double uB[3]) { return Par(uA, e) || Par(uB, e); }

// The half turn about the line through P along e when it brings uA strictly nearer to uB; the
// identity otherwise (a tie keeps the identity).
int HalfTurnIfNearer(const double P[3], const double e[3], const double uA[3], const double uB[3], RegVec* motion) {
  RegVec H;
  if (Rot180Qternion(P, e, &H) != 0) return -2;
  double turned[3];
  VecRotWquaternion(uA, &H, turned);
  if (VecDotProd3(turned, uB) > VecDotProd3(uA, uB)) *motion = H;
  return 0;
}

// The rotation about point taking uA onto uB, for the two point-centred modes.
void TurnAboutPoint(const RegConstraint& c, const double uA[3], const double uB[3], RegConstraint* remaining,
                    RegVec* motion, RegConstraintMode left) {
  AlignTwoVectorXform(uA, uB, c.point, motion);
  SetModeValue(remaining, left);
  Copy3(uB, remaining->axis);
  AxisThrough(remaining, c.point, uB);
}

}  // namespace

int CRFreeMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                          RegVec* motion) {
  double uA[3], uB[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::Free, uA, uB, true) != 0) return -2;
  TurnAboutPoint(c, uA, uB, remaining, motion, RegConstraintMode::ArC3T3);
  return 0;
}

int CRRotPointMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                              RegVec* motion) {
  double uA[3], uB[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::RotPoint, uA, uB) != 0) return -2;
  TurnAboutPoint(c, uA, uB, remaining, motion, RegConstraintMode::ArFixed);
  Copy3(uB, remaining->plane);
  remaining->plane[3] = -VecDotProd3(uB, c.point);
  return 0;
}

int CRArC3T3MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                            RegVec* motion) {
  double uA[3], uB[3], e[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::ArC3T3, uA, uB) != 0) return -2;
  if (AxisDirection(c, e) != 0) return -2;
  // Along the axis the turn stays undetermined: the constraint is kept, as the other axis modes
  // keep theirs.
  if (AlongAxis(e, uA, uB)) return 0;
  AlignTwoVecsClosestByAxisRot(uA, uB, c.point, e, motion);
  SetModeValue(remaining, RegConstraintMode::Trans3D);
  return 0;
}

int CRArC1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                            RegVec* motion) {
  double uA[3], uB[3], e[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::ArC1T1, uA, uB) != 0) return -2;
  if (!AxisLine(c, e)) return -2;
  if (AlongAxis(e, uA, uB)) return 0;
  AlignTwoVecsClosestByAxisRot(uA, uB, c.axisPoint1, e, motion);
  SetModeValue(remaining, RegConstraintMode::TransLine);
  return 0;
}

int CRArFixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion) {
  double uA[3], uB[3], n[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::ArFixed, uA, uB) != 0) return -2;
  if (PlaneNormal(c, n) != 0) return -2;
  if (AlongAxis(n, uA, uB)) return 0;
  AlignTwoVecsClosestByAxisRot(uA, uB, c.point, n, motion);
  SetModeValue(remaining, RegConstraintMode::Fixed);
  return 0;
}

int CRFarC2T2MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion) {
  double uA[3], uB[3], n[3], P[3], dist;
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::FarC2T2, uA, uB) != 0) return -2;
  if (PlaneNormal(c, n) != 0) return -2;
  PlaneMinDist(c.point, c.plane[0], c.plane[1], c.plane[2], c.plane[3], P, &dist);
  // The turn-over is about a line in the plane, so the plane is kept and the in-plane slide left
  // below stays true.
  if (FlipAlignTwoVecs(P, n, uA, uB, motion) != 0) {
    SetIdentityQuaternion(motion);
    return -2;
  }
  SetModeValue(remaining, RegConstraintMode::Trans2D);
  Copy3(n, remaining->axis);
  AxisThrough(remaining, P, n);
  Copy3(n, remaining->transNormal);
  return 0;
}

int CRFarC1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                             RegVec* motion) {
  double uA[3], uB[3], e[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::FarC1T1, uA, uB) != 0) return -2;
  if (!AxisLine(c, e)) return -2;
  if (FlipAlignTwoVecs(c.axisPoint1, e, uA, uB, motion) != 0) {
    SetIdentityQuaternion(motion);
    return -2;
  }
  SetModeValue(remaining, AlongAxis(e, uA, uB) ? RegConstraintMode::ArC1T1 : RegConstraintMode::TransLine);
  return 0;
}

int CRFarFixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                              RegVec* motion) {
  double uA[3], uB[3], n[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::FarFixed, uA, uB) != 0) return -2;
  if (PlaneNormal(c, n) != 0) return -2;
  if (FlipAlignTwoVecs(c.point, n, uA, uB, motion) != 0) {
    SetIdentityQuaternion(motion);
    return -2;
  }
  SetModeValue(remaining, AlongAxis(n, uA, uB) ? RegConstraintMode::ArFixed : RegConstraintMode::Fixed);
  return 0;
}

int CRRotLine180FixedMatchDirections(RegConstraint c, const double dA[3], const double dB[3],
                                     RegConstraint* remaining, RegVec* motion) {
  double uA[3], uB[3], e[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::RotLine180Fixed, uA, uB) != 0) return -2;
  if (AxisDirection(c, e) != 0) return -2;
  if (AlongAxis(e, uA, uB)) return 0;
  if (HalfTurnIfNearer(c.point, e, uA, uB, motion) != 0) return -2;
  SetModeValue(remaining, RegConstraintMode::Fixed);
  return 0;
}

int CRRotLine180C1T1MatchDirections(RegConstraint c, const double dA[3], const double dB[3],
                                    RegConstraint* remaining, RegVec* motion) {
  double uA[3], uB[3], e[3];
  if (Begin(c, dA, dB, remaining, motion, RegConstraintMode::RotLine180C1T1, uA, uB) != 0) return -2;
  if (AxisDirection(c, e) != 0) return -2;
  if (AlongAxis(e, uA, uB)) return 0;
  if (HalfTurnIfNearer(c.point, e, uA, uB, motion) != 0) return -2;
  SetModeValue(remaining, RegConstraintMode::TransLine);
  return 0;
}

int ConstrainedMatchDirections(RegConstraint c, const double dA[3], const double dB[3], RegConstraint* remaining,
                               RegVec* motion) {
  if (BeginDispatch(c, remaining, motion) != 0) return -2;
  using Solver = int (*)(RegConstraint, const double*, const double*, RegConstraint*, RegVec*);
  Solver solver = nullptr;
  switch (static_cast<RegConstraintMode>(GetRegConstraintMode(c))) {
    case RegConstraintMode::Fixed: return 0;
    case RegConstraintMode::RotLine180Fixed: solver = CRRotLine180FixedMatchDirections; break;
    case RegConstraintMode::RotLine180C1T1: solver = CRRotLine180C1T1MatchDirections; break;
    case RegConstraintMode::ArFixed: solver = CRArFixedMatchDirections; break;
    case RegConstraintMode::ArC1T1: solver = CRArC1T1MatchDirections; break;
    case RegConstraintMode::ArC3T3: solver = CRArC3T3MatchDirections; break;
    case RegConstraintMode::FarFixed: solver = CRFarFixedMatchDirections; break;
    case RegConstraintMode::FarC1T1: solver = CRFarC1T1MatchDirections; break;
    case RegConstraintMode::FarC2T2: solver = CRFarC2T2MatchDirections; break;
    case RegConstraintMode::RotPoint: solver = CRRotPointMatchDirections; break;
    case RegConstraintMode::Free: solver = CRFreeMatchDirections; break;
    // A translation cannot turn a direction.
    default: return -2;
  }
  return solver(c, dA, dB, remaining, motion);
}
