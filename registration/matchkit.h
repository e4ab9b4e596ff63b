// The pieces the feature matchers (points, lines, planes) share: the common start of a solver,
// lengths measured against the size of the data, unit vectors that vanish instead of failing, feet
// on lines and planes, and the writing of a remaining constraint's mode and axis. Internal to
// registration/.
#pragma once

#include <initializer_list>

#include "foundation/vec3.h"
#include "registration/confreg.h"
#include "registration/qternion.h"

namespace matchkit {

// Direction vectors (transDir, transNormal, plane normals) are compared absolutely.
inline constexpr double kDirEps = 1e-6;
// Lengths are compared relative to the spread of the points in play, so that scaled data and
// data far from the origin behave alike, with a floor at the round-off of their coordinates.
// axisPoint2 is never one of them: it lies at least a unit from axisPoint1 whatever the data's size.
inline constexpr double kRelEps = 1e-6;
inline constexpr double kRoundOffEps = 1e-12;

// kRelEps times the largest distance between the points, plus kRoundOffEps times their largest
// coordinate.
double LengthTol(std::initializer_list<const double*> points);
// |v| and v / |v| (zero when v vanishes); out may be v.
double Unit(const double v[3], double out[3]);
// Unit direction p1 -> p2 and the distance; zero only when the points coincide.
double Direction(const double p1[3], const double p2[3], double d[3]);
void Copy3(const double from[3], double to[3]);
void Zero3(double v[3]);
// The remaining constraint's kind with both counts 0.
void SetMode(RegConstraint* r, int kind);
// kind, centreFreedom and transFreedom from a mode value.
void SetModeValue(RegConstraint* r, RegConstraintMode mode);
// m = the translation from -> to (rotation the identity).
void Translation(const double from[3], const double to[3], RegVec* m);
// m's translation += to - from.
void AddTranslation(const double from[3], const double to[3], RegVec* m);
// Foot of X on the line through p1 along the unit d (zero d: p1) and its distance. Projected here
// rather than through LinePntMinDistSq, whose absolute threshold on |p2 - p1|^2 would treat an
// axis of a part measured in micrometres as a single point.
double FootOnLine(const double X[3], const double p1[3], const double d[3], double foot[3]);
// Foot of X on the plane through P with the unit normal n; the signed height of X above it.
double FootOnPlane(const double X[3], const double P[3], const double n[3], double foot[3]);
// Axis points that coincide give no axis; relative to their size, so scaled data behaves alike.
bool NoAxis(const RegConstraint& c);
// e = the unit direction axisPoint1 -> axisPoint2; false when there is no axis (NoAxis).
bool AxisLine(const RegConstraint& c, double e[3]);
// The plane keeps its normal and passes through p.
void PlaneThrough(RegConstraint* r, const double p[3]);
// The axis line of the constraint moved to pass through p: point and both axis points, p and
// p + s dir with s the largest coordinate of p (at least 1). The readers normalise; a unit step
// away from coordinates of 1e6 would keep only a millionth of the direction's digits.
void AxisThrough(RegConstraint* r, const double p[3], const double dir[3]);
// The whole axis written consistently, as every solver of an axis mode reads it: point, unit
// axis, the axis points (AxisThrough), and the plane through p normal to it.
void SetAxis(RegConstraint* r, const double p[3], const double dir[3]);
// The point, unit axis and axis points of a half-turn line through p along dir (the plane is the
// caller's: a half-turn mode does not read it as its axis).
void RotLineAxis(RegConstraint* r, const double p[3], const double dir[3]);
// Parallel (either sense) and same-hemisphere tests of the registration angle tolerance.
bool Par(const double u[3], const double v[3]);
bool SameSide(const double axis[3], const double u[3], const double v[3]);
void Negate(double v[3]);
// A unit vector perpendicular to the unit d: the second of Vec3To3Vecs (zero for a zero d).
void Perpendicular(const double d[3], double w[3]);
// The plane with a unit normal (a zero normal stays zero), and heights above such a plane.
void UnitPlane(const PlaneEq plane, PlaneEq out);
double Height(const PlaneEq unitPlane, const double p[3]);
// Unit normal of the constraint's plane; its length before normalising.
double PlaneUnitNormal(const RegConstraint& c, double n[3]);
// Projection of X on the constraint's plane along the unit normal n.
void OntoPlane(const RegConstraint& c, const double X[3], const double n[3], double out[3]);
// The common start of every solver: both outputs valid, the identity motion, the copied
// constraint, and the solver's own mode. 0, or -2.
int Begin(const RegConstraint& c, RegConstraint* remaining, RegVec* motion, RegConstraintMode mode);
// The common start of every dispatcher: both outputs valid, the identity motion, a valid
// constraint, its copy. 0, or -2.
int BeginDispatch(const RegConstraint& c, RegConstraint* remaining, RegVec* motion);
// p moved by m (m is not changed).
void Moved(const RegVec& m, const double p[3], double out[3]);
// d turned by m's rotation, unit.
void Turned(const RegVec& m, const double d[3], double out[3]);
// out = b after a (out may alias neither). -2 when the product cannot be normalised.
int After(const RegVec& a, const RegVec& b, RegVec* out);

}  // namespace matchkit
