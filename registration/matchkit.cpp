#include "registration/matchkit.h"

#include <cmath>

#include "foundation/angle.h"
#include "foundation/geometry.h"
#include "foundation/vec3.h"
#include "registration/stepreg.h"

namespace matchkit {

double LengthTol(std::initializer_list<const double*> points) {
  double reach = 0.0, spread = 0.0;
  for (const double* p : points) {
    for (int k = 0; k < 3; ++k) reach = std::fmax(reach, std::fabs(p[k]));
    for (const double* q : points) spread = std::fmax(spread, VecDist3(p, q));
  }
  return kRelEps * spread + kRoundOffEps * reach;
}

double Unit(const double v[3], double out[3]) {
  double n = VecSize3(v);
  for (int k = 0; k < 3; ++k) out[k] = n > 0.0 ? v[k] / n : 0.0;
  return n;
}

double Direction(const double p1[3], const double p2[3], double d[3]) {
  double v[3];
  VecDiff3(p2, p1, v);
  return Unit(v, d);
}

void Copy3(const double from[3], double to[3]) {
  for (int k = 0; k < 3; ++k) to[k] = from[k];
}

void Zero3(double v[3]) { v[0] = v[1] = v[2] = 0.0; }

void SetMode(RegConstraint* r, int kind) {
  r->kind = kind;
  r->centreFreedom = 0;
  r->transFreedom = 0;
}

void SetModeValue(RegConstraint* r, RegConstraintMode mode) {
  int m = static_cast<int>(mode);
  r->kind = m / 16;
  r->centreFreedom = (m % 16) / 4;
  r->transFreedom = m % 4;
}

void Translation(const double from[3], const double to[3], RegVec* m) {
  SetIdentityQuaternion(m);
  VecDiff3(to, from, m->t);
}

void AddTranslation(const double from[3], const double to[3], RegVec* m) {
  for (int k = 0; k < 3; ++k) m->t[k] += to[k] - from[k];
}

double FootOnLine(const double X[3], const double p1[3], const double d[3], double foot[3]) {
  double v[3];
  VecDiff3(X, p1, v);
  double along = VecDotProd3(v, d);
  for (int k = 0; k < 3; ++k) foot[k] = p1[k] + along * d[k];
  return VecDist3(X, foot);
}

double FootOnPlane(const double X[3], const double P[3], const double n[3], double foot[3]) {
  double v[3];
  VecDiff3(X, P, v);
  double h = VecDotProd3(v, n);
  for (int k = 0; k < 3; ++k) foot[k] = X[k] - h * n[k];
  return h;
}

bool NoAxis(const RegConstraint& c) {
  return VecDist3(c.axisPoint1, c.axisPoint2) <= LengthTol({c.axisPoint1, c.axisPoint2});
}

bool AxisLine(const RegConstraint& c, double e[3]) {
  Direction(c.axisPoint1, c.axisPoint2, e);
  return !NoAxis(c);
}

void PlaneThrough(RegConstraint* r, const double p[3]) {
  r->plane[3] = -(r->plane[0] * p[0] + r->plane[1] * p[1] + r->plane[2] * p[2]);
}

void AxisThrough(RegConstraint* r, const double p[3], const double dir[3]) {
  Copy3(p, r->point);
  Copy3(p, r->axisPoint1);
  double s = 1.0;
  for (int k = 0; k < 3; ++k) s = std::fmax(s, std::fabs(p[k]));
  for (int k = 0; k < 3; ++k) r->axisPoint2[k] = p[k] + s * dir[k];
}

void SetAxis(RegConstraint* r, const double p[3], const double dir[3]) {
  double u[3];
  Unit(dir, u);
  AxisThrough(r, p, u);
  Copy3(u, r->axis);
  Copy3(u, r->plane);
  PlaneThrough(r, p);
}

void RotLineAxis(RegConstraint* r, const double p[3], const double dir[3]) {
  double u[3];
  Unit(dir, u);
  AxisThrough(r, p, u);
  Copy3(u, r->axis);
}

bool Par(const double u[3], const double v[3]) { return AreTwoVecsParallel(u, v) != 0; }

bool SameSide(const double axis[3], const double u[3], const double v[3]) {
  return AreTwoVecsOnSameHemisphere(axis, u, v) == 1;
}

void Negate(double v[3]) {
  for (int k = 0; k < 3; ++k) v[k] = -v[k];
}

void Perpendicular(const double d[3], double w[3]) {
  double u[3], third[3];
  if (Vec3To3Vecs(d, u, w, third) != 0) Zero3(w);
}

void UnitPlane(const PlaneEq plane, PlaneEq out) {
  double s = VecSize3(plane);
  for (int k = 0; k < 4; ++k) out[k] = s > 0.0 ? plane[k] / s : 0.0;
}

double Height(const PlaneEq unitPlane, const double p[3]) { return VecDotProd3(unitPlane, p) + unitPlane[3]; }

double PlaneUnitNormal(const RegConstraint& c, double n[3]) {
  double raw[3];
  PlaneNormalDirection(c.plane, raw);
  return Unit(raw, n);
}

void OntoPlane(const RegConstraint& c, const double X[3], const double n[3], double out[3]) {
  if (PlaneLineIntersect(c.plane, X, n, out) != 0) Copy3(X, out);
}

int Begin(const RegConstraint& c, RegConstraint* remaining, RegVec* motion, RegConstraintMode mode) {
  if (!remaining || !motion) return -2;
  SetIdentityQuaternion(motion);
  CopyRegConstraint(&c, remaining);
  return GetRegConstraintMode(c) == static_cast<int>(mode) ? 0 : -2;
}

int BeginDispatch(const RegConstraint& c, RegConstraint* remaining, RegVec* motion) {
  if (!remaining || !motion) return -2;
  SetIdentityQuaternion(motion);
  if (IsValidRegConstraint(c) != 1) return -2;
  CopyRegConstraint(&c, remaining);
  return 0;
}

void Moved(const RegVec& m, const double p[3], double out[3]) { VecQterTrans3(p, &m, out); }

void Turned(const RegVec& m, const double d[3], double out[3]) {
  double v[3];
  VecRotWquaternion(d, &m, v);
  Unit(v, out);
}

int After(const RegVec& a, const RegVec& b, RegVec* out) { return MultiplyRegVecs(&a, &b, out); }

}  // namespace matchkit
