#include "quadric/cpoint.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "cloud/premove.h"
#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "quadric/planefit.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"
#include "quadric/qnurbs.h"

namespace {

constexpr double kTolerance = 0.001;

template <class T>
int Collinear(const T* x, const T* y, const T* z, int n) {
  if (n > 0 && (!x || !y || !z)) return 0;
  if (n < 3) return 1;
  const double a[3] = {static_cast<double>(x[0]), static_cast<double>(y[0]), static_cast<double>(z[0])};
  int bi = 1;
  for (; bi < n; ++bi) {
    const double d[3] = {x[bi] - a[0], y[bi] - a[1], z[bi] - a[2]};
    if (std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]) > kTolerance) break;
  }
  if (bi == n) return 1;
  const double b[3] = {static_cast<double>(x[bi]), static_cast<double>(y[bi]), static_cast<double>(z[bi])};
  for (int i = bi + 1; i < n; ++i) {
    const double p[3] = {static_cast<double>(x[i]), static_cast<double>(y[i]), static_cast<double>(z[i])};
    double foot[3], d2 = 0.0;
    LinePntMinDistSq(p, a, b, foot, &d2);
    if (std::sqrt(std::fabs(d2)) > kTolerance) return 0;
  }
  return 1;
}

}  // namespace

int IsPointsCoplanar_f(const float* x, const float* y, const float* z, int n) {
  if (!x || !y || !z) return 0;
  if (n < 4) return 1;
  double eigenvalues[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, eigenvalues, axes) != 0) return 0;
  return std::sqrt(std::fabs(eigenvalues[2])) < kTolerance ? 1 : 0;
}

int IsPointsCollinear_f(const float* x, const float* y, const float* z, int n) { return Collinear(x, y, z, n); }

int IsPointsCollinear(const double* x, const double* y, const double* z, int n) { return Collinear(x, y, z, n); }

// ---- primitives from picked points ----------------------------------------------------------

namespace {

// A radius, height or cross product this small against the picks' size is round-off of their
// coordinates: the picks do not determine the primitive.
constexpr double kRoundOff = 1e-9;
// The double nearest to the square root of one half: the corner weights of the circle net.
constexpr double kS = 0.7071067811865476;
constexpr double kDegrees = 57.29577951308232;

// The largest coordinate magnitude or distance among the picks: the scale of their round-off.
// The radii of a cone's two circles, measured in a frame moved to the base centre, carry the
// double round-off of the picks' coordinates (this many units of the last place at their
// magnitude); apart by more than that and kRoundOff of the picks' extent, they set an apex
// however far from the origin the picks lie.
constexpr double kFrameRoundOff = 1024.0 * 2.220446049250313e-16;

// The largest distance between two picks.
double PickExtent(std::initializer_list<const double*> picks) {
  double extent = 0.0;
  for (const double* p : picks)
    for (const double* q : picks) extent = std::max(extent, VecDist3(p, q));
  return extent;
}

double PickSize(std::initializer_list<const double*> picks) {
  double size = 0.0;
  for (const double* p : picks) {
    for (int k = 0; k < 3; ++k) size = std::max(size, std::fabs(p[k]));
    for (const double* q : picks) size = std::max(size, VecDist3(p, q));
  }
  return size;
}

bool AllFinite(std::initializer_list<const double*> picks) {
  for (const double* p : picks)
    for (int k = 0; k < 3; ++k)
      if (!std::isfinite(p[k])) return false;
  return true;
}

// Maps every control point of a curve or surface by M (weights stay).
void MapNet(Bspline* b, const Xform M) {
  const int rows = b->kind == 2 ? NumCtrlV(b) : 1, cols = NumCtrlU(b);
  for (int r = 0; r < rows; ++r) Transform3DArrays(b->X[r], b->Y[r], b->Z[r], cols, M);
}

// The frame T that takes origin to (0, 0, 0) and dir onto +z, and its inverse.
bool Frame(const double origin[3], const double dir[3], double scale, Xform T, Xform Tinv) {
  const double tip[3] = {origin[0] + scale * dir[0], origin[1] + scale * dir[1], origin[2] + scale * dir[2]};
  TransformToZAxis(origin, tip, T);
  return mat_inverse4(T, Tinv) == 0;
}

// Replaces the exact form the frame builder attached by the given one.
bool SetQuadric(Bspline* b, int type, const QuadricInfo& info) {
  FreeQuadricInfo(b);
  b->quadric = DuplicateQuadricInfo(&info, QuadricDoubles(type));
  if (!b->quadric || KernelFailed()) return false;
  b->quadricType = type;
  return true;
}

// Angle of (x, y) about the centre in degrees, 0 .. 360, round-off of 0 made exact.
double PolarDegrees(const double p[3], const double c[3]) {
  double a = std::atan2(p[1] - c[1], p[0] - c[0]) * kDegrees;
  if (std::fabs(a) < 1e-10) a = 0.0;
  if (a < 0.0) a += 360.0;
  return a;
}

// Counter-clockwise sweep from a1 to a2; none at all is the full turn.
double Sweep(double a1, double a2) {
  const double s = a1 <= a2 ? a2 - a1 : 360.0 - (a1 - a2);
  return std::fabs(s) < 1e-6 ? 360.0 : s;
}

// The circle (arc 0) or arc about the frame's origin through the mapped start, to the mapped
// end's direction, mapped back into space. The sweep goes to *sweep.
Bspline* CircleInFrame(const double start[3], const double end[3], double r, int arc, const Xform T,
                       const Xform Tinv, double* sweep) {
  double s[3], e[3], c[3];
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  VecTrans3(start, T, s);
  VecTrans3(end, T, e);
  // The centre is the frame's origin up to round-off: taken as exactly that.
  for (int k = 0; k < 3; ++k) c[k] = kOrigin[k];
  c[2] = s[2];
  Bspline* b;
  if (arc) {
    const double a1 = PolarDegrees(s, c), a2 = PolarDegrees(e, c);
    *sweep = Sweep(a1, a2);
    b = MakeArcZBspline(a1, a2, c, r);
  } else {
    b = NewCircleBspline(c, r);
  }
  if (b) MapNet(b, Tinv);
  return b;
}

// The circle net of radius r at height z in row j of a degree (2, 1) surface of the frame.
void CircleRow(Bspline* s, int j, double r, double z) {
  static const double kSquare[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  for (int k = 0; k < 9; ++k) {
    s->X[j][k] = r * kSquare[k][0];
    s->Y[j][k] = r * kSquare[k][1];
    s->Z[j][k] = z;
    s->W[j][k] = k % 2 ? kS : 1.0;
  }
}

// A rational surface of two circle rows, radius r0 at height 0 and r1 at height h of the frame,
// mapped back by Tinv: the cylinder and cone nets.
Bspline* TwoCircleSurface(double r0, double r1, double h, const Xform Tinv) {
  static const double kU[12] = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed()) return nullptr;
  s->rational = 1;
  s->degreeU = 2;
  s->degreeV = 1;
  s->interiorU = 6;
  s->interiorV = 0;
  s->closedU = 1;
  s->closedV = 0;
  if (AllocateBsplineArrays(s.get()) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i < 12; ++i) s->knotsU[i] = kU[i];
  for (int i = 0; i < 4; ++i) s->knotsV[i] = i < 2 ? 0.0 : 1.0;
  s->umin = s->vmin = 0.0;
  s->umax = s->vmax = 1.0;
  CircleRow(s.get(), 0, r0, 0.0);
  CircleRow(s.get(), 1, r1, h);
  MapNet(s.get(), Tinv);
  return s.release();
}

}  // namespace

Bspline* CreateLineWith2Points(const double p0[3], const double p1[3]) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = 1;
  c->interiorU = 0;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;
  const double knots[4] = {0.0, 0.0, 1.0, 1.0};
  for (int i = 0; i < 4; ++i) c->knotsU[i] = knots[i];
  double** M[3] = {c->X, c->Y, c->Z};
  for (int k = 0; k < 3; ++k) M[k][0][0] = p0[k], M[k][0][1] = p1[k];
  c->umin = 0.0;
  c->umax = 1.0;
  const QuadricInfo line = {{p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]}};
  if (!SetQuadric(c.get(), 1, line)) return nullptr;
  scope.keep();
  return c.release();
}

Bspline* FitPlaneWith3Points(const double p1[3], const double p2[3], const double p3[3]) {
  const double* p[3] = {p1, p2, p3};
  float x[3], y[3], z[3];
  Bbox box = {kEmptyBoxBound, kEmptyBoxBound, kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound, -kEmptyBoxBound};
  for (int i = 0; i < 3; ++i) {
    x[i] = static_cast<float>(p[i][0]);
    y[i] = static_cast<float>(p[i][1]);
    z[i] = static_cast<float>(p[i][2]);
    const double f[3] = {x[i], y[i], z[i]};
    for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], f[k]), box[3 + k] = std::max(box[3 + k], f[k]);
  }
  PlaneEq plane;
  if (!PlaneFit(x, y, z, 3, plane)) return nullptr;  // coincident or collinear
  const double a = std::fabs(plane[0]), b = std::fabs(plane[1]), c = std::fabs(plane[2]);
  const int hint = a > b && a > c ? 1 : b >= a && b > c ? 2 : 3;
  return PutPlaneToBsplinePatch(plane, box, hint);
}

Bspline* CreateCircleW3Points(const double p1[3], const double p2[3], const double p3[3], int arc) {
  if (!AllFinite({p1, p2, p3})) return nullptr;
  double M12[3], M23[3], u[3], w[3], raw[3], n[3];
  for (int k = 0; k < 3; ++k) {
    M12[k] = 0.5 * (p1[k] + p2[k]);
    M23[k] = 0.5 * (p2[k] + p3[k]);
    u[k] = M12[k] - p3[k];
    w[k] = M23[k] - p1[k];
  }
  // The normal along (p2 - p1) x (p3 - p1); a cross product at round-off of its legs means
  // coincident or collinear points, through which no circle passes.
  VecCrossProd3(u, w, raw);
  if (!(VecSize3(raw) > kRoundOff * VecSize3(u) * VecSize3(w))) return nullptr;
  VecNormalize3(raw, n);
  // The centre: where the perpendicular bisectors of p1 p2 and p2 p3 in the plane meet.
  double d1[3], d2[3], e[3];
  const double len = VecDist3(p1, p3);
  VecDiff3(M12, p2, e);
  VecNormalize3(e, e);
  VecCrossProd3(e, n, d1);
  VecNormalize3(d1, d1);
  VecDiff3(M23, p3, e);
  VecNormalize3(e, e);
  VecCrossProd3(e, n, d2);
  VecNormalize3(d2, d2);
  double A1[3], B1[3], C[3], onB[3], gap;
  for (int k = 0; k < 3; ++k) A1[k] = M12[k] + len * d1[k], B1[k] = M23[k] + len * d2[k];
  LineLineMinDist2(M12, A1, M23, B1, C, onB, &gap);
  const double r = VecDist3(C, p1);
  if (!std::isfinite(r) || !(r > kRoundOff * PickSize({p1, p2, p3}))) return nullptr;

  TrackingScope scope;
  Xform T, Tinv;
  if (!Frame(C, n, r, T, Tinv)) return nullptr;
  double sweep = 0.0;
  Owned<Bspline, FreeBspline> b(CircleInFrame(p1, p3, r, arc, T, Tinv, &sweep));
  if (!b || KernelFailed()) return nullptr;
  // Components at the round-off of the radius are noise of the construction: made exact.
  for (double& ck : C)
    if (std::fabs(ck) < 1e-6 * r) ck = 0.0;
  UnitDirReduceSmallToZero3(n);
  const QuadricInfo info = {{C[0], C[1], C[2], n[0], n[1], n[2], r, arc ? sweep : 0.0}};
  if (!SetQuadric(b.get(), arc ? 3 : 2, info)) return nullptr;
  scope.keep();
  return b.release();
}

Bspline* CreateQuadricWCenAnd2Points(const double c[3], const double p1[3], const double p2[3], int arc) {
  if (!AllFinite({c, p1, p2})) return nullptr;
  double u[3], w[3], raw[3], n[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = 0.5 * (c[k] + p1[k]) - p2[k];
    w[k] = 0.5 * (p1[k] + p2[k]) - c[k];
  }
  // Along (p1 - c) x (p2 - c): vanishes when the three points are collinear or p1 lies on c.
  VecCrossProd3(u, w, raw);
  if (!(VecSize3(raw) > kRoundOff * VecSize3(u) * VecSize3(w))) return nullptr;
  VecNormalize3(raw, n);
  const double r = VecDist3(c, p1);
  if (!(r > kRoundOff * PickSize({c, p1, p2}))) return nullptr;
  TrackingScope scope;
  Xform T, Tinv;
  if (!Frame(c, n, r, T, Tinv)) return nullptr;
  double sweep = 0.0;
  Owned<Bspline, FreeBspline> b(CircleInFrame(p1, p2, r, arc, T, Tinv, &sweep));
  if (!b || KernelFailed()) return nullptr;
  const QuadricInfo info = {{c[0], c[1], c[2], n[0], n[1], n[2], r, arc ? sweep : 0.0}};
  if (!SetQuadric(b.get(), arc ? 3 : 2, info)) return nullptr;
  scope.keep();
  return b.release();
}

namespace {

// The sphere about C of radius r with its polar axis from C towards pole.
Bspline* SphereTowards(const double C[3], double r, const double pole[3]) {
  TrackingScope scope;
  Xform T, Tinv;
  TransformToZAxis(C, pole, T);
  if (mat_inverse4(T, Tinv) != 0) return nullptr;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed()) return nullptr;
  if (SphereNurbs(0.0, 0.0, 0.0, r, s.get()) != 0 || KernelFailed()) return nullptr;
  MapNet(s.get(), Tinv);
  for (int k = 0; k < 3; ++k) s->quadric->v[1 + k] = C[k];
  scope.keep();
  return s.release();
}

}  // namespace

Bspline* CreateSphereFrom4Points(const double p1[3], const double p2[3], const double p3[3], const double p4[3]) {
  if (!AllFinite({p1, p2, p3, p4})) return nullptr;
  double C[3], r = 0.0;
  if (!FitSphereFourPts(p1, p2, p3, p4, C, &r)) return nullptr;
  if (!std::isfinite(r) || !AllFinite({C}) || !(r > kRoundOff * PickSize({p1, p2, p3, p4}))) return nullptr;
  return SphereTowards(C, r, p1);
}

Bspline* CreateSphereWithCenterAndPoint(const double c[3], const double p[3]) {
  if (!AllFinite({c, p})) return nullptr;
  const double r = VecDist3(c, p);
  if (!(r > kRoundOff * PickSize({c, p}))) return nullptr;
  return SphereTowards(c, r, p);
}

Bspline* CreateCylinderWithCensAndPoint(const double c0[3], const double c1[3], const double p[3]) {
  if (!AllFinite({c0, c1, p})) return nullptr;
  const double tiny = kRoundOff * PickSize({c0, c1, p});
  const double h = VecDist3(c0, c1);
  if (!(h > tiny)) return nullptr;  // coincident centres: no axis
  TrackingScope scope;
  Xform T, Tinv;
  TransformToZAxis(c0, c1, T);
  if (mat_inverse4(T, Tinv) != 0) return nullptr;
  double q[3];
  VecTrans3(p, T, q);
  const double r = std::hypot(q[0], q[1]);  // c0 sits on the frame's origin
  if (!(r > tiny)) return nullptr;          // p on the axis
  Owned<Bspline, FreeBspline> s(TwoCircleSurface(r, r, h, Tinv));
  if (!s) return nullptr;
  const QuadricInfo info = {{c1[0], c1[1], c1[2], (c0[0] - c1[0]) / h, (c0[1] - c1[1]) / h, (c0[2] - c1[2]) / h, r,
                             0.0, h}};
  if (!SetQuadric(s.get(), 22, info)) return nullptr;
  scope.keep();
  return s.release();
}

Bspline* CreateConeWithCensAnd2Points(const double c0[3], const double c1[3], const double p0[3], const double p1[3]) {
  if (!AllFinite({c0, c1, p0, p1})) return nullptr;
  const double tiny = kRoundOff * PickSize({c0, c1, p0, p1});
  const double h = VecDist3(c0, c1);
  if (!(h > tiny)) return nullptr;  // coincident centres: no axis
  TrackingScope scope;
  Xform T, Tinv;
  TransformToZAxis(c0, c1, T);
  if (mat_inverse4(T, Tinv) != 0) return nullptr;
  double q0[3], q1[3];
  VecTrans3(p0, T, q0);
  VecTrans3(p1, T, q1);
  // c0 sits on the frame's origin, c1 at (0, 0, h).
  const double r0 = std::hypot(q0[0], q0[1]), r1 = std::hypot(q1[0], q1[1]);
  if (!(r0 > tiny) && !(r1 > tiny)) return nullptr;
  // A cylinder: the apex is at infinity.
  const double magnitude = PickSize({c0, c1, p0, p1});
  if (!(std::fabs(r0 - r1) > kRoundOff * PickExtent({c0, c1, p0, p1}) + kFrameRoundOff * magnitude)) return nullptr;
  Owned<Bspline, FreeBspline> s(TwoCircleSurface(r0, r1, h, Tinv));
  if (!s) return nullptr;
  // The apex of the surface built: where the radius, linear along the axis, reaches 0. It is the
  // point of the axis nearest the generator through p1 and p0 when both picks lie on one ruling.
  const double zApex = h * r0 / (r0 - r1);
  const double apexInFrame[3] = {0.0, 0.0, zApex};
  double X[3];
  VecTrans3(apexInFrame, Tinv, X);
  // Heights along the axis a = unit(c0 - c1), which is -z in the frame, from the apex.
  const double start = zApex, end = zApex - h;
  const double wideR = r0 >= r1 ? r0 : r1, wideH = std::fabs(r0 >= r1 ? start : end);
  const double a[3] = {(c0[0] - c1[0]) / h, (c0[1] - c1[1]) / h, (c0[2] - c1[2]) / h};
  const QuadricInfo info = {{X[0], X[1], X[2], a[0], a[1], a[2], std::atan2(wideR, wideH), start, end}};
  if (!SetQuadric(s.get(), 23, info)) return nullptr;
  scope.keep();
  return s.release();
}

void LineLineMinDist2(const double a0[3], const double a1[3], const double b0[3], const double b1[3], double pa[3],
                      double pb[3], double* dist) {
  const double lineA[6] = {a0[0], a0[1], a0[2], a1[0], a1[1], a1[2]};
  const double lineB[6] = {b0[0], b0[1], b0[2], b1[0], b1[1], b1[2]};
  LineLineMinDist(lineA, lineB, pa, pb, dist);
}

namespace {

// The 3D point at t of a 3D curve or of a curve on a surface.
void CurvePoint(Bspline* curve, double t, double out[3]) {
  EvalNpntsOnObj(curve, 0, 0, &t, nullptr, 1, &out[0], &out[1], &out[2]);
}

double PlaneValue(const PlaneEq pl, const double p[3]) {
  return pl[0] * p[0] + pl[1] * p[1] + pl[2] * p[2] + pl[3];
}

}  // namespace

int FindIntersectionPoint(Bspline* curve, const PlaneEq plane, double t0, double t1, double x0, double x1, double y0,
                          double y1, double z0, double z1, double* t, double* x, double* y, double* z) {
  double P0[3] = {x0, y0, z0}, P1[3] = {x1, y1, z1};
  double f0 = PlaneValue(plane, P0), f1 = PlaneValue(plane, P1);
  if (f0 * f1 > 0.0 || !std::isfinite(f0) || !std::isfinite(f1)) return -2;
  auto result = [&](double tr, const double P[3]) {
    *t = tr;
    *x = P[0], *y = P[1], *z = P[2];
    return 0;
  };
  // A chord in the plane (both values at round-off of the plane's value along it).
  const double nLen = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
  const double flat = 1e-12 * nLen * (VecSize3(P0) + VecSize3(P1));
  if (std::fabs(f0) <= flat && std::fabs(f1) <= flat) return result(t0, P0);
  if (f0 == 0.0) return result(t0, P0);
  if (f1 == 0.0) return result(t1, P1);
  // False position, the Illinois way: when one end stays twice its value is halved, so that the
  // bracket shrinks from both sides. Stops when the parameter settles to round-off.
  const double settle = 1e-14 * std::fabs(t1 - t0);
  double tPrev = 8.43e-37, tr = t0, P[3] = {P0[0], P0[1], P0[2]};
  int stayed = 0;  // +1 t0 moved last, -1 t1 moved last
  for (int it = 0; it < 100; ++it) {
    const double s = f0 / (f0 - f1);
    tr = t0 + s * (t1 - t0);
    CurvePoint(curve, tr, P);
    const double fp = PlaneValue(plane, P);
    if (fp == 0.0 || std::fabs(tr - tPrev) <= settle) break;
    tPrev = tr;
    if (fp * f0 > 0.0) {
      t0 = tr, f0 = fp;
      if (stayed == 1) f1 *= 0.5;
      stayed = 1;
    } else {
      t1 = tr, f1 = fp;
      if (stayed == -1) f0 *= 0.5;
      stayed = -1;
    }
  }
  return result(tr, P);
}

int CurveCrossSection(Bspline* curve, int count, double step, const PlaneEq plane, const Xform m, double** x,
                      double** y, double** z, int* n) {
  if (!x || !y || !z || !n) return -2;
  *x = *y = *z = nullptr;
  *n = 0;
  if (!curve || curve->kind != 1 || !curve->knotsU || count < 1) return -2;
  TrackingScope scope;
  int* mults = nullptr;
  double* knots = nullptr;
  const int k = DistinctInteriorKnots(curve, 0, &mults, &knots, 0.001);
  if (k < 0 || KernelFailed()) return -2;
  const int p = curve->degreeU, N = (k + 1) * (p + 1) + 1;
  double* ts = MallocArray<double>(N);
  double* sx = MallocArray<double>(N);
  double* sy = MallocArray<double>(N);
  double* sz = MallocArray<double>(N);
  if (!ts || !sx || !sy || !sz || KernelFailed()) return -2;
  // Each span between breakpoints gives its start and p parameters inside; the domain end last.
  for (int s = 0, at = 0; s <= k; ++s) {
    const double a = s == 0 ? curve->umin : knots[s - 1], b = s == k ? curve->umax : knots[s];
    for (int i = 0; i <= p; ++i) ts[at++] = a + (b - a) * i / (p + 1);
  }
  ts[N - 1] = curve->umax;
  for (int i = 0; i < N; ++i) {
    double P[3];
    CurvePoint(curve, ts[i], P);
    sx[i] = P[0], sy[i] = P[1], sz[i] = P[2];
  }
  int capacity = N, found = 0;
  double* ox = MallocArray<double>(capacity);
  double* oy = MallocArray<double>(capacity);
  double* oz = MallocArray<double>(capacity);
  if (!ox || !oy || !oz || KernelFailed()) return -2;
  for (int i = 0; i < count; ++i) {
    const PlaneEq shifted = {plane[0], plane[1], plane[2], plane[3] - i * step};
    PlaneEq pl;
    TransformPlaneEq(shifted, pl, m);
    for (int j = 0; j + 1 < N; ++j) {
      double t, q[3];
      if (FindIntersectionPoint(curve, pl, ts[j], ts[j + 1], sx[j], sx[j + 1], sy[j], sy[j + 1], sz[j], sz[j + 1], &t,
                                &q[0], &q[1], &q[2]) != 0)
        continue;
      if (found == capacity) {
        capacity *= 2;
        double* nx = ReallocArray(ox, capacity);
        if (nx) ox = nx;
        double* ny = nx ? ReallocArray(oy, capacity) : nullptr;
        if (ny) oy = ny;
        double* nz = ny ? ReallocArray(oz, capacity) : nullptr;
        if (!nz || KernelFailed()) return -2;
        oz = nz;
      }
      ox[found] = q[0], oy[found] = q[1], oz[found] = q[2];
      ++found;
    }
  }
  if (found == 0) return -2;
  // A sample on a plane is found by both pairs it ends and starts: one point.
  found = RemoveDuplicates_d(ox, oy, oz, found, kRoundOff * ControlPointDiagonal(curve));
  if (found < 0 || KernelFailed()) return -2;
  RemoveMallocFromTrack(ox);
  RemoveMallocFromTrack(oy);
  RemoveMallocFromTrack(oz);
  *x = ox, *y = oy, *z = oz;
  *n = found;
  return 0;
}

// ---- points and lines derived from primitives -----------------------------------------------

int FindQuadricCenter(const Bspline* obj, double out[3]) {
  if (!obj || !obj->quadric) return 0;
  const double* v = obj->quadric->v;
  switch (obj->quadricType) {
    case 2:
    case 3:
    case 23:  // circle and arc centre, cone apex: the first three values
      for (int k = 0; k < 3; ++k) out[k] = v[k];
      return 1;
    case 21:  // the sphere's radius comes first
      for (int k = 0; k < 3; ++k) out[k] = v[1 + k];
      return 1;
    default:
      return 0;
  }
}

int FindQuadricBaseCenter(Bspline* srf, double u, double v, double out[3]) {
  if (!srf || !srf->quadric || (srf->quadricType != 22 && srf->quadricType != 23)) return 0;
  const double* q = srf->quadric->v;
  double D[3];
  VecNormalize3(q + 3, D);
  double E1[3];
  for (int k = 0; k < 3; ++k) E1[k] = q[k] + D[k] * q[8];
  if (srf->quadricType == 23) {
    for (int k = 0; k < 3; ++k) out[k] = E1[k];
    return 1;
  }
  double S[3], E0[3];
  for (int k = 0; k < 3; ++k) E0[k] = q[k] + D[k] * q[7];
  Eval3DPointOnSurfCoord(srf, u, v, 0, 0, S);
  double d0[3], d1[3];
  VecDiff3(S, E0, d0);
  VecDiff3(S, E1, d1);
  const double* nearer = VecDotProd3(d0, d0) < VecDotProd3(d1, d1) ? E0 : E1;
  for (int k = 0; k < 3; ++k) out[k] = nearer[k];
  return 1;
}

Bspline* CreateLineFromCylinderOrCone(const Bspline* srf) {
  if (!srf || !srf->quadric || (srf->quadricType != 22 && srf->quadricType != 23)) return nullptr;
  const double* q = srf->quadric->v;
  double D[3], P0[3], P1[3];
  VecNormalize3(q + 3, D);
  for (int k = 0; k < 3; ++k) P0[k] = q[k] + q[7] * D[k], P1[k] = q[k] + q[8] * D[k];
  return CreateLineWith2Points(P0, P1);
}
