#include "registration/regline.h"

#include <cmath>

#include "foundation/angle.h"
#include "foundation/geometry.h"
#include "registration/matchkit.h"
#include "registration/stepreg.h"

namespace {

using namespace matchkit;

// How near a line must lie to the plane normal to a fixed axis (degrees) for the axis solver to
// treat it as lying across the axis, where a line's direction alone cannot tell which way it was
// turned. A module constant, not the registration angle tolerance that SetRegAngleTol changes.
constexpr double kAcrossAxisDeg = 1.0;

// A line with its unit direction (zero for a line of no length) and reference point M: the first
// point when the line is fixed along itself, else the midpoint.
struct Line {
  double p1[3], p2[3], d[3], mid[3], M[3];
  double length;
};

Line MakeLine(const double L[6], int fixed) {
  Line l;
  Copy3(L, l.p1);
  Copy3(L + 3, l.p2);
  l.length = Direction(l.p1, l.p2, l.d);
  LineMidPoint(l.p1, l.p2, l.mid);
  Copy3(fixed ? l.p1 : l.mid, l.M);
  return l;
}

Line MovedLine(const RegVec& m, const Line& l, int fixed) {
  double raw[6];
  Moved(m, l.p1, raw);
  Moved(m, l.p2, raw + 3);
  return MakeLine(raw, fixed);
}

// The same line run the other way (only undirected lines are swapped, so M is the midpoint).
Line Swapped(const Line& l) {
  double raw[6];
  Copy3(l.p2, raw);
  Copy3(l.p1, raw + 3);
  return MakeLine(raw, 0);
}

// Both lines of a pair and the length tolerance of the data.
struct LinePair {
  Line a, b;
  double tol;
};

LinePair BothLines(const RegConstraint& c, const double A[6], const double B[6], int fixed) {
  LinePair p{MakeLine(A, fixed), MakeLine(B, fixed), 0.0};
  p.tol = LengthTol({p.a.p1, p.a.p2, p.b.p1, p.b.p2, c.point, c.axisPoint1});
  return p;
}

// The closest points X (on the line through P along the unit d) and Y (through Q along the unit
// e) and their distance; parallel lines give P and its foot.
double ClosestPoints(const double P[3], const double d[3], const double Q[3], const double e[3], double X[3],
                     double Y[3]) {
  double w[3];
  VecDiff3(P, Q, w);
  const double b = VecDotProd3(d, e), dw = VecDotProd3(d, w), ew = VecDotProd3(e, w);
  const double den = 1.0 - b * b;
  // Below this the lines run so nearly parallel that the crossing parameters mean nothing.
  if (den < 1e-12) {
    Copy3(P, X);
    return FootOnLine(P, Q, e, Y);
  }
  const double s = (b * ew - dw) / den, t = (ew - b * dw) / den;
  for (int k = 0; k < 3; ++k) {
    X[k] = P[k] + s * d[k];
    Y[k] = Q[k] + t * e[k];
  }
  return VecDist3(X, Y);
}

// The point of the line through P along the unit e nearest to the line l.
void NearestOnAxis(const double P[3], const double e[3], const Line& l, double X[3]) {
  double Y[3];
  ClosestPoints(P, e, l.p1, l.d, X, Y);
}

double LineDistance(const Line& a, const Line& b) {
  double X[3], Y[3];
  return ClosestPoints(a.p1, a.d, b.p1, b.d, X, Y);
}

// How far A moved by m lies from B as the flags read it: A's points off the line B, plus B's length
// when a directed line ends up reversed, plus the first points' distance when fixed.
double Miss(const RegVec& m, const Line& a, const Line& b, int directed, int fixed) {
  Line moved = MovedLine(m, a, fixed);
  double foot[3];
  double miss = std::fmax(FootOnLine(moved.p1, b.p1, b.d, foot), FootOnLine(moved.p2, b.p1, b.d, foot));
  if (directed && VecDotProd3(moved.d, b.d) <= 0.0) miss += b.length;
  if (fixed) miss += VecDist3(moved.p1, b.p1);
  return miss;
}

// Whether the half turn H (then the slide `shift`) serves better than the slide alone: decided by
// the directions, strictly (a directed line's sense, an undirected line's parallelism); where
// they cannot tell (a line along or across the turn's axis) by where the moved line lies.
bool HalfTurnHelps(const RegVec& H, const double shift[3], const Line& a, const Line& b, int directed, int fixed,
                   double tol) {
  double dA2[3], x1[3], x2[3];
  Turned(H, a.d, dA2);
  const double gain = directed ? VecDotProd3(dA2, b.d) - VecDotProd3(a.d, b.d)
                               : VecSize3(VecCrossProd3(a.d, b.d, x1)) - VecSize3(VecCrossProd3(dA2, b.d, x2));
  // Directions of unit length differ by round-off below this.
  constexpr double kTie = 1e-9;
  if (gain > kTie) return true;
  if (gain < -kTie) return false;
  RegVec with = H, without;
  SetIdentityQuaternion(&without);
  for (int k = 0; k < 3; ++k) {
    with.t[k] += shift[k];
    without.t[k] = shift[k];
  }
  return Miss(with, a, b, directed, fixed) < Miss(without, a, b, directed, fixed) - tol;
}

// An undirected line within the angle tolerance of the plane across e has no side to tell its
// sense by: the turn about the line through X along e that brings -u closest to v, then the
// slide from -> to, replaces the motion when it puts A nearer B.
void TryOtherSense(const double u[3], const double v[3], const double X[3], const double e[3], const double from[3],
                   const double to[3], const Line& a, const Line& b, int fixed, double tol, RegVec* motion) {
  if (!AreTwoVecsPerpendicular(a.d, e) && !AreTwoVecsPerpendicular(b.d, e)) return;
  double w[3] = {-u[0], -u[1], -u[2]};
  RegVec other;
  AlignTwoVecsClosestByAxisRot(w, v, X, e, &other);
  AddTranslation(from, to, &other);
  if (Miss(other, a, b, 0, fixed) < Miss(*motion, a, b, 0, fixed) - tol) *motion = other;
}

// l lies along the line through P with the unit direction e, within the data's length tolerance.
// Not DoTwoLinesCoincide: its thousandth of the lines' own size is far looser than the data's
// millionth, and an axis line through P reaches a unit from P whatever the data's size.
bool Coincide(const Line& l, const double P[3], const double e[3], double tol) {
  double foot[3];
  return Par(l.d, e) && FootOnLine(l.mid, P, e, foot) <= tol;
}

// Unit direction from P to its foot on l, and the distance.
double Radial(const double P[3], const Line& l, double u[3]) {
  double X[3], v[3];
  double r = FootOnLine(P, l.p1, l.d, X);
  Unit(VecDiff3(X, P, v), u);
  return r;
}

// The in-plane part of d for the unit normal n: unit(n x (d x n)).
void InPlane(const double d[3], const double n[3], double p[3]) {
  double a[3], b[3];
  VecCrossProd3(d, n, a);
  VecCrossProd3(n, a, b);
  Unit(b, p);
}


}  // namespace

int IsPntOnSameSideOfPlane(const PlaneEq plane, const double p[3], const double q[3]) {
  PlaneEq pl;
  UnitPlane(plane, pl);
  if (VecSize3(plane) < kDirEps) return 1;
  const double tol = LengthTol({p, q});
  const double hp = Height(pl, p), hq = Height(pl, q);
  if (std::fabs(hp) <= tol || std::fabs(hq) <= tol) return 1;
  // Both offsets run along the normal, so their hemispheres are the signs of the heights (the
  // hemisphere test itself would refuse offsets shorter than 1e-6 of small data).
  return (hp > 0.0) == (hq > 0.0) ? 1 : 0;
}

int CRTransLineMatchLines(RegConstraint c, const double A[6], const double B[6], int /*directed*/, int fixed,
                          RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::TransLine) != 0) return -2;
  double s[3];
  if (Unit(c.transDir, s) < kDirEps) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  const bool alongA = Par(s, a.d), alongB = Par(s, b.d);
  // Lines along s can only slide along themselves: by the component of MB - MA along s, after
  // which nothing is left when they are fixed along themselves.
  auto slide = [&]() {
    double ab[3];
    VecDiff3(b.M, a.M, ab);
    const double along = VecDotProd3(ab, s);
    for (int i = 0; i < 3; ++i) motion->t[i] = along * s[i];
    if (fixed) remaining->transFreedom = 0;
    return 0;
  };
  if (Coincide(a, b.p1, b.d, tol)) {
    // A line already on B stays; one fixed along itself slides its first point onto B's. Across
    // s any slide would part them, so nothing is left.
    if (!(alongA && alongB)) {
      SetMode(remaining, 0);
      return 0;
    }
    return fixed ? slide() : 0;
  }
  const bool parallel = Par(a.d, b.d);
  double X[3], F[3], v[3];
  if (!parallel && ClosestPoints(a.p1, a.d, b.p1, b.d, X, F) <= tol) return 0;
  // The plane through A containing s: A moves within it, so B is met where it crosses it.
  // Only a direction exactly along A leaves no such plane.
  double k[3];
  if (Unit(VecCrossProd3(a.d, s, v), k) < kDirEps) return alongB ? slide() : 0;
  const PlaneEq sweep = {k[0], k[1], k[2], -VecDotProd3(k, a.p1)};
  if (parallel) {
    Copy3(a.M, X);
    FootOnLine(X, b.p1, b.d, F);
    VecDiff3(F, X, v);
  } else {
    if (PlaneLineIntersect(sweep, b.p1, b.d, X) != 0) return 0;
    FootOnLine(X, a.p1, a.d, F);
    VecDiff3(X, F, v);
  }
  const double h = VecSize3(v);
  if (h <= tol) {
    SetMode(remaining, 0);
    return 0;
  }
  if (VecDotProd3(s, v) < 0.0) Negate(s);
  const double cs = VecDotProd3(s, v);
  // The sine between s and the gap: below 1e-6 no slide along s closes it.
  if (std::fabs(cs) <= kDirEps * h) return alongA && alongB ? slide() : -2;
  for (int i = 0; i < 3; ++i) motion->t[i] = s[i] * h * h / cs;
  SetMode(remaining, 0);
  Zero3(remaining->transDir);
  return 0;
}

int CRTrans2DMatchLines(RegConstraint c, const double A[6], const double B[6], int /*directed*/, int fixed,
                        RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Trans2D) != 0) return -2;
  double m[3];
  if (Unit(c.transNormal, m) < kDirEps) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  const bool parallel = Par(a.d, b.d);
  double QA[3], QB[3], target[3];
  if (fixed) {
    // The first points are matched: B's first point as near as the plane of translations allows.
    Copy3(a.p1, QA);
    Copy3(b.p1, QB);
  } else if (parallel) {
    Copy3(a.M, QA);
    FootOnLine(QA, b.p1, b.d, QB);
  } else {
    ClosestPoints(a.p1, a.d, b.p1, b.d, QA, QB);
  }
  // Parallel lines meet where B crosses the plane of translations through QA; the foot of QB on
  // that plane lies off B whenever the lines run oblique to it.
  const PlaneEq through = {m[0], m[1], m[2], -VecDotProd3(m, QA)};
  if (fixed || !parallel || PlaneLineIntersect(through, b.p1, b.d, target) != 0) FootOnPlane(QB, QA, m, target);
  Translation(QA, target, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRTrans3DMatchLines(RegConstraint c, const double A[6], const double B[6], int /*directed*/, int fixed,
                        RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Trans3D) != 0) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  double QA[3], QB[3];
  if (fixed) {
    Copy3(a.p1, QA);
    Copy3(b.p1, QB);
  } else {
    ClosestPoints(a.p1, a.d, b.p1, b.d, QA, QB);
  }
  Translation(QA, QB, motion);
  // Without rotation, a line brought onto a parallel one can still slide along it; nothing else
  // keeps it there.
  if (!fixed && Par(a.d, b.d)) {
    SetModeValue(remaining, RegConstraintMode::TransLine);
    Copy3(b.d, remaining->transDir);
  } else {
    SetMode(remaining, 0);
    Zero3(remaining->transDir);
  }
  return 0;
}

int CRRotLine180FixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                                RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180Fixed) != 0) return -2;
  double e[3];
  RegVec H;
  if (Unit(c.axis, e) < kDirEps || Rot180Qternion(c.point, e, &H) != 0) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  const double none[3] = {0, 0, 0};
  if (HalfTurnHelps(H, none, a, b, directed, fixed, tol)) *motion = H;
  SetMode(remaining, 0);
  return 0;
}

int CRRotLine180C1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                               RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotLine180C1T1) != 0) return -2;
  double e[3];
  if (Unit(c.axis, e) < kDirEps) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  double XA[3], XB[3];
  FootOnLine(a.M, P, e, XA);
  FootOnLine(b.M, P, e, XB);
  if (Coincide(a, P, e, tol) || Coincide(b, P, e, tol)) {
    Translation(XA, XB, motion);
    if (fixed) {
      SetMode(remaining, 1);
      RotLineAxis(remaining, XB, e);
    }
    return 0;
  }
  const bool pa = Par(a.d, e), pb = Par(b.d, e);
  RegVec H;
  if (pa && pb) {
    double uA[3], uB[3], uA2[3], v[3];
    Unit(VecDiff3(a.M, XA, v), uA);
    Unit(VecDiff3(b.M, XB, v), uB);
    if (Rot180Qternion(XA, e, &H) != 0) return -2;
    Turned(H, uA, uA2);
    if (VecDotProd3(uA2, uB) > VecDotProd3(uA, uB)) *motion = H;
    AddTranslation(XA, XB, motion);
    SetModeValue(remaining, fixed ? RegConstraintMode::Fixed : RegConstraintMode::TransLine);
    Copy3(XB, remaining->point);
    return 0;
  }
  if (!pa && !pb) {
    if (fixed) {
      FootOnLine(a.p1, P, e, XA);
      FootOnLine(b.p1, P, e, XB);
    } else {
      NearestOnAxis(P, e, a, XA);
      NearestOnAxis(P, e, b, XB);
    }
    if (Rot180Qternion(XA, e, &H) != 0) return -2;
    double shift[3];
    VecDiff3(XB, XA, shift);
    if (HalfTurnHelps(H, shift, a, b, directed, fixed, tol)) *motion = H;
    AddTranslation(XA, XB, motion);
    SetMode(remaining, 0);
    return 0;
  }
  // Exactly one line along the axis: turn the other about the axis line only if that helps.
  double X[3], Y[3];
  const Line& q = pa ? b : a;
  if (ClosestPoints(P, e, q.p1, q.d, X, Y) <= tol) return 0;
  if (Rot180Qternion(X, e, &H) != 0) return -2;
  if (LineDistance(MovedLine(H, a, fixed), b) < LineDistance(a, b)) *motion = H;
  SetModeValue(remaining, fixed ? RegConstraintMode::Fixed : RegConstraintMode::TransLine);
  Copy3(X, remaining->point);
  return 0;
}

int CRArFixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArFixed) != 0) return -2;
  // Without an axis nothing can be turned; reporting the pair matched would be false.
  double e[3];
  if (!AxisLine(c, e)) return -2;
  const double* C = c.axisPoint1;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  const PlaneEq across = {e[0], e[1], e[2], -VecDotProd3(C, e)};
  const double angA = LinePlaneAngle(a.p1, a.p2, across), angB = LinePlaneAngle(b.p1, b.p2, across);
  const bool pa = Par(a.d, e), pb = Par(b.d, e);
  if ((pa && angA < kAcrossAxisDeg) || (pb && angB < kAcrossAxisDeg)) return 0;
  if (Coincide(a, C, e, tol) || Coincide(b, C, e, tol)) return 0;
  double u[3], v[3];
  if (pa && pb) {
    Radial(C, a, u);
    Radial(C, b, v);
  } else if (!pa && !pb) {
    Copy3(a.d, u);
    Copy3(b.d, v);
    if (!directed && angA < kAcrossAxisDeg && angB < kAcrossAxisDeg) {
      // Both lines lie across the axis, where a direction and its reverse differ by a half turn:
      // the directions towards the lines tell the turn instead.
      double uA[3], uB[3];
      const double rA = Radial(C, a, uA), rB = Radial(C, b, uB);
      // A line this near the axis has no direction towards it worth trusting.
      const double near = 1e3 * tol;
      if (rA < near || rB < near || Par(uA, e) || Par(uB, e)) {
        if (VecDotProd3(u, v) < 0.0) Negate(u);
      } else {
        Copy3(uA, u);
        Copy3(uB, v);
      }
    } else if (!directed && !SameSide(e, u, v)) {
      Negate(u);
    }
  } else {
    if (Radial(C, a, u) <= tol) return 0;
    Radial(C, b, v);
  }
  AlignTwoVecsClosestByAxisRot(u, v, C, e, motion);
  if (!directed && !pa && !pb) TryOtherSense(u, v, C, e, C, C, a, b, fixed, tol, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRArC1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                       RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC1T1) != 0) return -2;
  double e[3], u[3], v[3], XA[3], XB[3];
  if (!AxisLine(c, e)) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  if (Par(a.d, e) && Par(b.d, e)) {
    // Lines along the axis: their directions cannot tell the turn, the directions towards them can.
    FootOnLine(a.M, P, e, XA);
    FootOnLine(b.M, P, e, XB);
    Unit(VecDiff3(a.M, XA, u), u);
    Unit(VecDiff3(b.M, XB, v), v);
  } else {
    Copy3(a.d, u);
    Copy3(b.d, v);
    if (!directed && !SameSide(e, a.d, b.d)) Negate(u);
    if (fixed) {
      FootOnLine(a.p1, P, e, XA);
      FootOnLine(b.p1, P, e, XB);
    } else {
      NearestOnAxis(P, e, a, XA);
      NearestOnAxis(P, e, b, XB);
    }
  }
  AlignTwoVecsClosestByAxisRot(u, v, XA, e, motion);
  AddTranslation(XA, XB, motion);
  if (!directed && !Par(a.d, e)) TryOtherSense(u, v, XA, e, XA, XB, a, b, fixed, tol, motion);
  SetMode(remaining, 0);
  return 0;
}

int CRArC3T3MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                       RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::ArC3T3) != 0) return -2;
  double e[3], u[3];
  if (!AxisLine(c, e)) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  if (Par(a.d, e) && Par(b.d, e)) {
    // Both along the axis direction: B itself becomes the axis.
    Translation(a.M, b.M, motion);
    SetModeValue(remaining, fixed ? RegConstraintMode::ArFixed : RegConstraintMode::ArC1T1);
    SetAxis(remaining, b.M, e);
    Copy3(e, remaining->transDir);
    return 0;
  }
  Copy3(a.d, u);
  if (!directed && !SameSide(e, a.d, b.d)) Negate(u);
  AlignTwoVecsClosestByAxisRot(u, b.d, a.M, e, motion);
  AddTranslation(a.M, b.M, motion);
  if (!directed) TryOtherSense(u, b.d, a.M, e, a.M, b.M, a, b, fixed, tol, motion);
  // Once the lines lie on each other only sliding along B keeps them so (none when fixed).
  if (fixed) {
    SetMode(remaining, 0);
  } else {
    SetModeValue(remaining, RegConstraintMode::TransLine);
    Copy3(b.d, remaining->transDir);
  }
  return 0;
}

int CRFarFixedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                         RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarFixed) != 0) return -2;
  double n[3];
  if (PlaneUnitNormal(c, n) < kDirEps) return -2;
  const double* C = c.point;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  const bool na = Par(a.d, n), nb = Par(b.d, n);
  const bool ta = AreTwoVecsPerpendicular(a.d, n) != 0, tb = AreTwoVecsPerpendicular(b.d, n) != 0;
  if ((na && tb) || (nb && ta)) return 0;
  RegVec F, R;
  SetIdentityQuaternion(&F);
  if (Coincide(a, C, n, tol) || Coincide(b, C, n, tol) || na != nb) {
    // A line along the turn-over axis (or exactly one parallel to it): only a directed line's
    // sense can be matched, by the half turn about a line through C across the axis.
    if (!directed) return 0;
    if (!SameSide(n, a.d, b.d)) {
      double w[3];
      Perpendicular(n, w);
      if (Rot180Qternion(C, w, motion) != 0) return -2;
    }
    SetMode(remaining, 2);
    SetAxis(remaining, C, n);
    return 0;
  }
  if (na && nb) {
    double uA[3], uB[3];
    Radial(C, a, uA);
    Radial(C, b, uB);
    if (directed && !SameSide(n, a.d, b.d) && Rot180Qternion(C, uA, &F) != 0) return -2;
    AlignTwoVecsClosestByAxisRot(uA, uB, C, n, &R);
    if (After(F, R, motion) != 0) return -2;
    SetMode(remaining, directed ? 0 : 1);
    RotLineAxis(remaining, C, uB);
    return 0;
  }
  // Neither along the axis. Heights and crossings are taken on the plane through C normal to it.
  const PlaneEq pl = {n[0], n[1], n[2], -VecDotProd3(n, C)};
  double XA[3], XB[3], pA[3], pB[3];
  InPlane(a.d, n, pA);
  InPlane(b.d, n, pB);
  const bool inA = std::fabs(Height(pl, a.p1)) <= tol && std::fabs(Height(pl, a.p2)) <= tol;
  const bool inB = std::fabs(Height(pl, b.p1)) <= tol && std::fabs(Height(pl, b.p2)) <= tol;
  const bool crossA = PlaneLineIntersect(pl, a.p1, a.d, XA) == 0, crossB = PlaneLineIntersect(pl, b.p1, b.d, XB) == 0;
  if (!inA && !inB && !crossA && !crossB) {
    // Both parallel to the plane: turn A over to B's side, then match it as about a fixed axis.
    if (Height(pl, a.p1) * Height(pl, b.p1) < 0.0 && Rot180Qternion(C, pA, &F) != 0) return -2;
    Line a1 = MovedLine(F, a, fixed);
    RegConstraint about = c, unused;
    about.kind = 2;
    AxisThrough(&about, C, n);
    const double raw[6] = {a1.p1[0], a1.p1[1], a1.p1[2], a1.p2[0], a1.p2[1], a1.p2[2]};
    if (CRArFixedMatchLines(about, raw, B, directed, fixed, &unused, &R) != 0) return -2;
    if (After(F, R, motion) != 0) return -2;
    SetMode(remaining, 0);
    return 0;
  }
  if (!inA && !inB && crossA && crossB) {
    double uA[3], uB[3], v[3];
    const double rA = Unit(VecDiff3(XA, C, v), uA), rB = Unit(VecDiff3(XB, C, v), uB);
    if (rA > tol && rB > tol) {
      // Both cross the plane away from C: every allowed motion keeps C and the plane, so A's
      // crossing must reach B's. Turn it there about the axis, then turn the line over about the
      // line from C through the crossing if that brings its direction nearer B's.
      AlignTwoVecsClosestByAxisRot(uA, uB, C, n, &R);
      if (Rot180Qternion(C, uB, &F) != 0) return -2;
      RegVec RF;
      if (After(R, F, &RF) != 0) return -2;
      double d1[3], d2[3], x1[3], x2[3];
      Turned(R, a.d, d1);
      Turned(RF, a.d, d2);
      const bool flip = directed ? VecDotProd3(d2, b.d) > VecDotProd3(d1, b.d)
                                 : VecSize3(VecCrossProd3(d2, b.d, x2)) < VecSize3(VecCrossProd3(d1, b.d, x1));
      *motion = flip ? RF : R;
      SetMode(remaining, 0);
      return 0;
    }
    // A line through C: its direction alone decides, and the half turn about the line through C
    // across it keeps it.
    auto turn = [&](bool over, RegVec* m) {
      RegVec F1, R1;
      SetIdentityQuaternion(&F1);
      if (over && Rot180Qternion(C, pA, &F1) != 0) return -2;
      double d1[3];
      Turned(F1, a.d, d1);
      AlignTwoVecsClosestByAxisRot(d1, b.d, C, n, &R1);
      return After(F1, R1, m);
    };
    const bool over = !SameSide(n, a.d, b.d);
    if (turn(over, motion) != 0) return -2;
    // A line this near the plane has no side to tell whether it must be turned over: the other
    // choice is tried too and kept if it lies nearer B.
    RegVec other;
    if ((ta || tb) && turn(!over, &other) == 0 &&
        Miss(other, a, b, directed, fixed) < Miss(*motion, a, b, directed, fixed) - tol)
      *motion = other;
    double dM[3], w[3];
    Turned(*motion, a.d, dM);
    SetMode(remaining, directed ? 0 : 1);
    RotLineAxis(remaining, C, VecCrossProd3(dM, n, w));
    return 0;
  }
  // A line in the plane, or one crossing it and the other parallel: the in-plane directions.
  // Undirected lines in the plane are told apart by the directions from C towards them, which a
  // reversed direction cannot confuse.
  double uA[3], uB[3];
  const double rA = Radial(C, a, uA), rB = Radial(C, b, uB);
  if (!directed && inA && inB && rA > tol && rB > tol) {
    Copy3(uA, pA);
    Copy3(uB, pB);
  } else if (!directed && VecDotProd3(pA, pB) < 0.0) {
    Negate(pA);
  }
  AlignTwoVecsClosestByAxisRot(pA, pB, C, n, motion);
  if (directed) {
    // A directed line's direction reads the same turned over about itself, which moves it to the
    // mirror place: keep the choice that puts it on B.
    RegVec F, R, other;
    if (Rot180Qternion(C, pA, &F) != 0) return -2;
    AlignTwoVecsClosestByAxisRot(pA, pB, C, n, &R);
    if (After(F, R, &other) == 0 && Miss(other, a, b, directed, fixed) < Miss(*motion, a, b, directed, fixed) - tol)
      *motion = other;
  }
  // The half turn left must keep B: about B itself when it runs through C (directed), about the
  // line through C across B when B lies in the plane (undirected); otherwise nothing is left.
  SetMode(remaining, 0);
  double q[3], w[3];
  InPlane(b.d, n, q);
  if (directed && rB <= tol) {
    SetMode(remaining, 1);
    RotLineAxis(remaining, C, q);
  } else if (!directed && inB) {
    SetMode(remaining, 1);
    RotLineAxis(remaining, C, VecCrossProd3(n, q, w));
  }
  return 0;
}

namespace {

// The turn-over of FarC1T1 matching when `over`: for a directed line the half turn about a line
// through its nearest point of the axis, across both; an undirected line is only read the other
// way. F and a1 are the turn and the line it gives.
int TurnOverOnAxis(bool over, const Line& a, const double P[3], const double e[3], double tol, int directed,
                   int fixed, RegVec* F, Line* a1) {
  SetIdentityQuaternion(F);
  *a1 = a;
  if (!over) return 0;
  if (!directed) {
    *a1 = Swapped(a);
    return 0;
  }
  double XA[3], w[3];
  if (Coincide(a, P, e, tol))
    Copy3(a.p1, XA);
  else if (Par(a.d, e))
    Copy3(P, XA);
  else
    NearestOnAxis(P, e, a, XA);
  if (Par(a.d, e))
    Perpendicular(e, w);
  else
    VecCrossProd3(e, a.d, w);
  if (Rot180Qternion(XA, w, F) != 0) return -2;
  *a1 = MovedLine(*F, a, fixed);
  return 0;
}

// FarC1T1 matching once A (as a1) and B lie on the same side: the turn about the axis and the
// slide along it, and what is left.
int FarC1T1AfterTurnOver(const RegVec& F, const Line& a, const Line& a1, const Line& b, const double P[3],
                         const double e[3], double tol, int directed, int fixed, RegConstraint* remaining,
                         RegVec* motion) {
  RegVec R;
  if (Coincide(a1, P, e, tol) || Coincide(b, P, e, tol) || Par(a1.d, e) != Par(b.d, e)) {
    *motion = F;
    AddTranslation(a1.M, b.M, motion);
    SetMode(remaining, directed ? 2 : 3);
    if (fixed) {
      SetAxis(remaining, b.p1, e);
    } else {
      remaining->centreFreedom = remaining->transFreedom = 1;
    }
    return 0;
  }
  double XA[3], XB[3];
  if (Par(a1.d, e)) {
    double uA[3], uB[3], v[3];
    FootOnLine(a1.M, P, e, XA);
    FootOnLine(b.M, P, e, XB);
    Unit(VecDiff3(a1.M, XA, v), uA);
    Unit(VecDiff3(b.M, XB, v), uB);
    AlignTwoVecsClosestByAxisRot(uA, uB, XA, e, &R);
    if (After(F, R, motion) != 0) return -2;
    AddTranslation(XA, XB, motion);
    SetModeValue(remaining, fixed ? RegConstraintMode::Fixed : RegConstraintMode::TransLine);
    Copy3(XB, remaining->point);
    Copy3(e, remaining->transDir);
    double w[3];
    Unit(VecCrossProd3(e, uB, v), w);
    Copy3(w, remaining->plane);
    remaining->plane[3] = -VecDotProd3(w, XB);
    return 0;
  }
  if (fixed) {
    FootOnLine(a1.p1, P, e, XA);
    FootOnLine(b.p1, P, e, XB);
  } else {
    NearestOnAxis(P, e, a1, XA);
    NearestOnAxis(P, e, b, XB);
  }
  AlignTwoVecsClosestByAxisRot(a1.d, b.d, XA, e, &R);
  if (After(F, R, motion) != 0) return -2;
  AddTranslation(XA, XB, motion);
  if (directed) {
    SetMode(remaining, 0);
    Copy3(XB, remaining->point);
    return 0;
  }
  // What is left is the half turn about the common perpendicular of the axis and B.
  double dM[3], w[3];
  Turned(*motion, a.d, dM);
  SetMode(remaining, 1);
  RotLineAxis(remaining, XB, VecCrossProd3(e, dM, w));
  Copy3(e, remaining->plane);
  remaining->plane[3] = -VecDotProd3(XB, e);
  return 0;
}

}  // namespace

int CRFarC1T1MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC1T1) != 0) return -2;
  double e[3];
  if (!AxisLine(c, e)) return -2;
  const double* P = c.axisPoint1;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  RegVec F;
  Line a1;
  const bool over = !SameSide(e, a.d, b.d);
  if (TurnOverOnAxis(over, a, P, e, tol, directed, fixed, &F, &a1) != 0 ||
      FarC1T1AfterTurnOver(F, a, a1, b, P, e, tol, directed, fixed, remaining, motion) != 0)
    return -2;
  if (AreTwoVecsPerpendicular(a.d, e) || AreTwoVecsPerpendicular(b.d, e)) {
    // A line across the axis has no side to tell whether it must be turned over: the other choice
    // is tried too and kept if it lies nearer B.
    RegConstraint left = c;
    RegVec other;
    if (TurnOverOnAxis(!over, a, P, e, tol, directed, fixed, &F, &a1) == 0 &&
        FarC1T1AfterTurnOver(F, a, a1, b, P, e, tol, directed, fixed, &left, &other) == 0 &&
        Miss(other, a, b, directed, fixed) < Miss(*motion, a, b, directed, fixed) - tol) {
      *motion = other;
      *remaining = left;
    }
  }
  return 0;
}

int CRFarC2T2MatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                        RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::FarC2T2) != 0) return -2;
  double n[3];
  if (PlaneUnitNormal(c, n) < kDirEps) return -2;
  PlaneEq pl;
  UnitPlane(c.plane, pl);
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  if (!directed && !SameSide(n, a.d, b.d)) a = Swapped(a);
  double XA[3], XB[3];
  RegVec H, R;
  SetIdentityQuaternion(&H);
  if (PlaneLineIntersect(pl, a.p1, a.d, XA) == 0 && PlaneLineIntersect(pl, b.p1, b.d, XB) == 0) {
    // The half turn about the line through XA across A in the plane reverses A onto itself.
    auto turn = [&](bool over, RegVec* m) {
      RegVec H1, R1;
      SetIdentityQuaternion(&H1);
      double w[3], d1[3];
      // A line along the normal: any line through XA in the plane will do.
      if (Unit(VecCrossProd3(a.d, n, w), w) < kDirEps) Perpendicular(n, w);
      if (over && Rot180Qternion(XA, w, &H1) != 0) return -2;
      Turned(H1, a.d, d1);
      AlignTwoVecsClosestByAxisRot(d1, b.d, XA, n, &R1);
      if (After(H1, R1, m) != 0) return -2;
      AddTranslation(XA, XB, m);
      return 0;
    };
    const bool over = !SameSide(n, a.d, b.d);
    if (turn(over, motion) != 0) return -2;
    // A line this near the plane has no side to tell whether it must be reversed: the other choice
    // is tried too and kept if it lies nearer B.
    RegVec other;
    if ((AreTwoVecsPerpendicular(a.d, n) || AreTwoVecsPerpendicular(b.d, n)) && turn(!over, &other) == 0 &&
        Miss(other, a, b, directed, fixed) < Miss(*motion, a, b, directed, fixed) - tol)
      *motion = other;
    Copy3(XB, remaining->point);
    if (!Par(a.d, n) && !Par(b.d, n)) {
      double dM[3], w[3];
      Turned(*motion, a.d, dM);
      SetMode(remaining, directed ? 0 : 1);
      RotLineAxis(remaining, XB, VecCrossProd3(n, dM, w));
    } else {
      SetMode(remaining, directed ? 2 : 3);
      RotLineAxis(remaining, XB, n);
    }
    return 0;
  }
  // A line parallel to the plane: match the in-plane directions and the feet, then turn A over to
  // B's side of the plane.
  double pA[3], pB[3], A0[3], B0[3];
  InPlane(a.d, n, pA);
  InPlane(b.d, n, pB);
  const double P0[3] = {-pl[3] * n[0], -pl[3] * n[1], -pl[3] * n[2]};
  const double hA = FootOnPlane(a.M, P0, n, A0), hB = FootOnPlane(b.M, P0, n, B0);
  AlignTwoVecsClosestByAxisRot(pA, pB, A0, n, &R);
  AddTranslation(A0, B0, &R);
  if (std::fabs(hA) > tol && std::fabs(hB) > tol && IsPntOnSameSideOfPlane(pl, a.M, b.M) == 0 &&
      Rot180Qternion(B0, pB, &H) != 0)
    return -2;
  if (After(R, H, motion) != 0) return -2;
  SetModeValue(remaining, fixed ? RegConstraintMode::RotLine180Fixed : RegConstraintMode::RotLine180C1T1);
  Copy3(pB, remaining->transDir);
  if (fixed) Zero3(remaining->transDir);
  if (std::fabs(hB) > tol) {
    // B off the plane: no turn-over keeps it at its height; the half turn about the normal through
    // B0 reverses it in place (a directed line may not be reversed) and it may slide along itself.
    if (directed) {
      SetModeValue(remaining, fixed ? RegConstraintMode::Fixed : RegConstraintMode::TransLine);
      Copy3(B0, remaining->point);
    } else {
      RotLineAxis(remaining, B0, n);
    }
    return 0;
  }
  double w[3];
  if (directed)
    RotLineAxis(remaining, B0, pB);
  else
    RotLineAxis(remaining, B0, VecCrossProd3(pB, n, w));
  return 0;
}

int CRRotPointMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                         RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::RotPoint) != 0) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  if (a.length <= tol || b.length <= tol) return -2;
  const double* C = c.point;
  double XA[3], XB[3], uA[3], uB[3], v[3];
  const double rA = FootOnLine(C, a.p1, a.d, XA), rB = FootOnLine(C, b.p1, b.d, XB);
  const int axisKind = directed ? 2 : 3;
  if (rA <= tol) {
    // A passes through C: turning its direction onto B's is all there is; the turn about B is left.
    AlignTwoVectorXform(a.d, b.d, C, motion);
    SetMode(remaining, axisKind);
    SetAxis(remaining, C, b.d);
    Zero3(remaining->transDir);
    return 0;
  }
  Unit(VecDiff3(XA, C, v), uA);
  if (rB <= tol)
    Perpendicular(b.d, uB);
  else
    Unit(VecDiff3(XB, C, v), uB);
  // First the perpendicular from C to A onto the one to B, then about it the direction.
  RegVec R1, R2;
  AlignTwoVectorXform(uA, uB, C, &R1);
  double d1[3];
  Turned(R1, a.d, d1);
  AlignTwoVecsClosestByAxisRot(d1, b.d, C, uB, &R2);
  if (After(R1, R2, motion) != 0) return -2;
  if (rB <= tol) {
    SetMode(remaining, axisKind);
    SetAxis(remaining, C, b.d);
    Zero3(remaining->transDir);
    return 0;
  }
  SetMode(remaining, directed ? 0 : 1);
  RotLineAxis(remaining, C, uB);
  Copy3(b.d, remaining->plane);
  remaining->plane[3] = -VecDotProd3(C, b.d);
  Zero3(remaining->transDir);
  return 0;
}

int CRFreeMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                     RegConstraint* remaining, RegVec* motion) {
  if (Begin(c, remaining, motion, RegConstraintMode::Free) != 0) return -2;
  auto [a, b, tol] = BothLines(c, A, B, fixed);
  AlignTwoVectorXform(a.d, b.d, a.M, motion);
  AddTranslation(a.M, b.M, motion);
  // B's own freedom: turning about it (turn-overs too unless directed), sliding unless fixed.
  remaining->kind = directed ? 2 : 3;
  remaining->centreFreedom = remaining->transFreedom = fixed ? 0 : 1;
  Copy3(b.M, remaining->point);
  Copy3(b.d, remaining->axis);
  Copy3(b.p1, remaining->axisPoint1);
  Copy3(b.p2, remaining->axisPoint2);
  Copy3(b.d, remaining->transDir);
  Copy3(b.d, remaining->plane);
  remaining->plane[3] = -VecDotProd3(b.d, b.M);
  return 0;
}

int ConstrainedMatchLines(RegConstraint c, const double A[6], const double B[6], int directed, int fixed,
                          RegConstraint* remaining, RegVec* motion) {
  if (BeginDispatch(c, remaining, motion) != 0) return -2;
  using Solver = int (*)(RegConstraint, const double*, const double*, int, int, RegConstraint*, RegVec*);
  Solver solver = nullptr;
  switch (static_cast<RegConstraintMode>(GetRegConstraintMode(c))) {
    case RegConstraintMode::Fixed: return 0;
    case RegConstraintMode::TransLine: solver = CRTransLineMatchLines; break;
    case RegConstraintMode::Trans2D: solver = CRTrans2DMatchLines; break;
    case RegConstraintMode::Trans3D: solver = CRTrans3DMatchLines; break;
    case RegConstraintMode::RotLine180Fixed: solver = CRRotLine180FixedMatchLines; break;
    case RegConstraintMode::RotLine180C1T1: solver = CRRotLine180C1T1MatchLines; break;
    case RegConstraintMode::ArFixed: solver = CRArFixedMatchLines; break;
    case RegConstraintMode::ArC1T1: solver = CRArC1T1MatchLines; break;
    case RegConstraintMode::ArC3T3: solver = CRArC3T3MatchLines; break;
    case RegConstraintMode::FarFixed: solver = CRFarFixedMatchLines; break;
    case RegConstraintMode::FarC1T1: solver = CRFarC1T1MatchLines; break;
    case RegConstraintMode::FarC2T2: solver = CRFarC2T2MatchLines; break;
    case RegConstraintMode::RotPoint: solver = CRRotPointMatchLines; break;
    case RegConstraintMode::Free: solver = CRFreeMatchLines; break;
    default: return -2;
  }
  return solver(c, A, B, directed, fixed, remaining, motion);
}
