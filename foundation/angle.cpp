#include "foundation/angle.h"

#include "foundation/geometry.h"
#include "foundation/vec3.h"

namespace {

// Folds an angle between directions into 0..90, so that opposite directions count as parallel.
double FoldAngle(double degrees) { return degrees > 90.0 ? 180.0 - degrees : degrees; }

}  // namespace

double LineLineAngle(const double p0[3], const double p1[3], const double q0[3],
                     const double q1[3]) {
  double dp[3];
  double dq[3];
  VecDiff3(p1, p0, dp);
  VecDiff3(q1, q0, dq);
  return FindAngleVectors3(dp, dq);
}

double PlanePlaneAngle(const PlaneEq plane1, const PlaneEq plane2) {
  return FoldAngle(FindAngleVectors3(plane1, plane2));
}

double LinePlaneAngle(const double p0[3], const double p1[3], const PlaneEq plane) {
  double d[3];
  VecDiff3(p1, p0, d);
  return 90.0 - FoldAngle(FindAngleVectors3(d, plane));
}

void PlaneNormalDirection(const PlaneEq plane, double out[3]) { VecNormalize3(plane, out); }
