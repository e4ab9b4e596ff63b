#include "quadric/qrevolve.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kSqrt2 = 1.414213562373095;
constexpr double kHalfSqrt2 = 0.7071067811865476;
// A remainder of the range below this many degrees is round-off of a whole number of quarters.
constexpr double kWholeQuarter = 0.0001;
// A control point this close to the axis, relative to the profile's extent, lies on it: its
// arcs collapse to one point and it has no angle of its own.
constexpr double kOnAxis = 1e-12;
// The partial arc's weight falls back to 1 when its tangent triangle is this thin relative to
// r^2 (the arc is then so short that its weight is 1 to round-off). Relative, so that a small
// profile gets the same arcs as a large one.
constexpr double kThinArc = 1e-6;

void PointAt(double r, double deg, double z, double out[3]) {
  out[0] = r * std::cos(deg * kDegToRad);
  out[1] = r * std::sin(deg * kDegToRad);
  out[2] = z;
}

void Store(Bspline* s, int row, int col, const double p[3], double w) {
  s->X[row][col] = p[0];
  s->Y[row][col] = p[1];
  s->Z[row][col] = p[2];
  s->W[row][col] = w;
}

// The weight of the middle point of a rational quadratic arc of rem degrees on the circle of
// radius r: the ratio of the triangle (start, middle, end) to twice the triangle (start,
// tangent point, middle), which is cos(rem / 2).
int PartialArcWeight(double r, double theta, double rem, double z, double* f) {
  *f = 1.0;
  if (r == 0.0) return 0;
  double S[3], E[3], M[3], T[3];
  PointAt(r, theta, z, S);
  PointAt(r, theta + rem, z, E);
  PointAt(r, theta + 0.5 * rem, z, M);
  if (TangentMeetPoint(r, S, E, T) < 0) return -2;
  const double inner = AreaOfTriangle(S, T, M);
  if (inner >= kThinArc * r * r) *f = AreaOfTriangle(S, M, E) / (2.0 * inner);
  return 0;
}

double ExtentOf(const Bspline* c) {
  const int n = NumCtrlU(c);
  double lo[3] = {c->X[0][0], c->Y[0][0], c->Z[0][0]}, hi[3] = {lo[0], lo[1], lo[2]};
  for (int i = 1; i < n; ++i) {
    const double p[3] = {c->X[0][i], c->Y[0][i], c->Z[0][i]};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::fmin(lo[k], p[k]);
      hi[k] = std::fmax(hi[k], p[k]);
    }
  }
  return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

}  // namespace

int TangentMeetPoint(double r, const double a[3], const double b[3], double out[3]) {
  double x = 0.0, y = 0.0;
  const double r2 = r * r;
  if (SolveLin2(a[0], a[1], r2, b[0], b[1], r2, &x, &y) < 0) return -2;
  out[0] = x;
  out[1] = y;
  out[2] = a[2];
  return 0;
}

Bspline* RationalProfileInAxisFrame(Bspline* profile, const double p0[3], const double p1[3], double M[16]) {
  TransformToZAxis(p0, p1, M);
  Owned<Bspline, FreeBspline> c(CopyBsplineStruct(profile));
  if (!c) return nullptr;
  Bspline* one[1] = {c.get()};
  MakeObjectsRational(one, 1);
  if (KernelFailed()) return nullptr;
  // The exact form described the curve where it was.
  FreeQuadricInfo(c.get());
  c->quadricType = 0;
  for (int i = 0; i < NumCtrlU(c.get()); ++i) vector_xform(&c->X[0][i], &c->Y[0][i], &c->Z[0][i], M);
  return c.release();
}

// Method: in the frame whose z axis is the revolution axis, each profile control point (radius
// r, angle theta, height z) becomes one row of the net: full quarter arcs with middle points at
// radius r sqrt 2 and weight w / sqrt 2, then at most one partial arc whose middle point is
// where the end tangents meet. The net is rotated to the start angle and moved back out of the
// frame.
Bspline* RevolveProfile(Bspline* profile, const double p0[3], const double p1[3], double startAngle,
                       double endAngle, int shiftOnly) {
  if (!profile || !p0 || !p1 || profile->kind != 1 || profile->dimension != 3 ||
      !BsplineShapeSound(profile) || !std::isfinite(startAngle) || !std::isfinite(endAngle)) {
    SetKernelError(-2);
    return nullptr;
  }
  const double sweep = endAngle - startAngle;
  double a0 = std::fmod(startAngle, 360.0), a1 = std::fmod(endAngle, 360.0);
  if (a0 < 0.0) a0 += 360.0;
  if (a1 < 0.0) a1 += 360.0;
  // Angles equal modulo 360, or a sweep of a whole turn or more: the full revolution. Told
  // before a0 is lowered by 360, so that a0 + 360 - a0 rounding cannot open a closed surface.
  const bool full = a1 == a0 || sweep >= 360.0;
  if (a1 <= a0) a0 -= 360.0;
  double range = 360.0, rem = 0.0;
  bool partial = false;
  if (full) {
    a1 = a0 + 360.0;
  } else {
    range = a1 - a0;
    rem = std::fmod(range, 90.0);
    if (rem < kWholeQuarter)
      range = std::trunc(range / 90.0) * 90.0;
    else
      partial = true;
  }
  const int k = static_cast<int>(std::trunc(range / 90.0)) + (partial ? 1 : 0);
  if (k < 1) {  // a sweep of less than 0.0001 degrees has no arc to build
    SetKernelError(-2);
    return nullptr;
  }

  TrackingScope scope;
  double M[16];
  Owned<Bspline, FreeBspline> c(RationalProfileInAxisFrame(profile, p0, p1, M));
  if (!c) return nullptr;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  s->rational = 1;
  s->degreeU = 2;
  s->interiorU = 2 * k - 2;
  s->degreeV = profile->degreeU;
  s->interiorV = profile->interiorU;
  if (AllocateBsplineArrays(s.get()) < 0 || KernelFailed()) return nullptr;
  double* ku = s->knotsU;
  ku[0] = ku[1] = ku[2] = 0.0;
  for (int i = 1; i < k; ++i) ku[2 * i + 1] = ku[2 * i + 2] = 90.0 * i / range;
  ku[2 * k + 1] = ku[2 * k + 2] = ku[2 * k + 3] = 1.0;
  std::memcpy(s->knotsV, profile->knotsU, sizeof(double) * NumKnotsU(profile));

  const int nV = NumCtrlU(c.get()), fullArcs = partial ? k - 1 : k;
  const double axisTol = kOnAxis * ExtentOf(c.get());
  for (int j = 0; j < nV; ++j) {  // row j: the arcs of profile control point j
    const double x = c->X[0][j], y = c->Y[0][j], z = c->Z[0][j], w = c->W[0][j];
    double r = std::hypot(x, y), theta = 0.0;
    if (r > axisTol)
      theta = std::atan2(y, x) / kDegToRad;
    else
      r = 0.0;
    double p[3] = {x, y, z};
    if (r == 0.0) p[0] = p[1] = 0.0;
    Store(s.get(), j, 0, p, w);
    for (int i = 1; i <= fullArcs; ++i) {
      PointAt(r * kSqrt2, theta + 90.0 * (i - 1) + 45.0, z, p);
      Store(s.get(), j, 2 * i - 1, p, w * kHalfSqrt2);
      PointAt(r, theta + 90.0 * i, z, p);
      Store(s.get(), j, 2 * i, p, w);
    }
    if (partial) {
      double f = 1.0;
      if (PartialArcWeight(r, theta, rem, z, &f) < 0) return nullptr;
      const int last = 2 * k;
      double S[3] = {s->X[j][last - 2], s->Y[j][last - 2], s->Z[j][last - 2]}, E[3], T[3];
      PointAt(r, theta + range, z, E);
      if (r == 0.0)
        std::memcpy(T, S, sizeof(T));
      else if (TangentMeetPoint(r, S, E, T) < 0)
        return nullptr;
      Store(s.get(), j, last - 1, T, w * f);
      Store(s.get(), j, last, E, w);
    }
  }
  SetDomainFromKnots(s.get(), 0);
  SetDomainFromKnots(s.get(), 1);

  const double ca = std::cos(a0 * kDegToRad), sa = std::sin(a0 * kDegToRad);
  const int nU = NumCtrlU(s.get());
  for (int j = 0; j < nV; ++j)
    for (int i = 0; i < nU; ++i) {
      const double x = s->X[j][i], y = s->Y[j][i];
      s->X[j][i] = x * ca - y * sa;
      s->Y[j][i] = x * sa + y * ca;
    }
  s->closedU = range == 360.0 ? 1 : 0;
  // Back out of the axis frame. The axis points were never moved into it, so they stay as given.
  if (not_identity_xform(M)) {
    double Minv[16];
    if (mat_inverse4(M, Minv) < 0) {
      SetKernelError(-2);
      return nullptr;
    }
    for (int j = 0; j < nV; ++j)
      for (int i = 0; i < nU; ++i) vector_xform(&s->X[j][i], &s->Y[j][i], &s->Z[j][i], Minv);
  }
  Bspline* pair[2] = {s.get(), s.get()};
  const int dirs[2] = {1, 0};
  ProportionPairParams(pair, dirs, 0, 1, shiftOnly);
  scope.keep();
  return s.release();
}
