#include "quadric/qarc.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "cloud/princip.h"
#include "foundation/eigen.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/vec3.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;
// The longest sweep made, in degrees: a thousand turns, 4,000 segments. The segments are
// counted one by one and allocated, so a sweep from a huge or infinite angle is refused here.
constexpr double kMaxSweep = 360.0e3;

}  // namespace

// Method: the sweep S is cut into k segments of 90 degrees, the last one shorter (R degrees)
// when S is no multiple of 90. A segment of angle A from direction t is the rational quadratic
// Bezier with end points on the circle and its middle point where the end tangents meet, at
// distance r / cos(A / 2) in direction t + A / 2, with weight cos(A / 2). The arc is built
// from angle 0, then turned by the start angle and moved to the centre.
Bspline* MakeArcZBspline(double startAngle, double endAngle, const double centre[3], double r) {
  if (!centre || !AllFinite({startAngle, endAngle, centre[0], centre[1], centre[2], r}))
    return MadeOrFailed<Bspline>(nullptr);
  double S = endAngle >= startAngle ? endAngle - startAngle : 360.0 - (startAngle - endAngle);
  if (std::fabs(S) < 1e-6) S = 360.0;
  double R;
  if (S <= 90.0) {
    R = S;
  } else {
    R = std::fmod(S, 90.0);
    if (std::fabs(R) < 0.0001) {
      // A remainder this small is rounding: the sweep is whole quarter turns.
      R = 0.0;
      S = 90.0 * std::trunc(S * 0.011111111111111112);
    }
  }
  if (!(S > 0.0)) return nullptr;
  if (S > kMaxSweep) return MadeOrFailed<Bspline>(nullptr);
  int k = 0;
  for (double rest = S; rest > 0.0; rest -= 90.0) ++k;
  const bool partial = R > 0.0;

  TrackingScope scope;
  Owned<Bspline, FreeBspline> c(MallocNullBspline());
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = 2;
  c->interiorU = 2 * k - 2;
  c->closedU = S == 360.0 ? 2 : 0;
  c->rational = 1;
  if (AllocateBsplineArrays(c.get()) < 0 || KernelFailed()) return nullptr;

  const double a0 = startAngle * kDegToRad;
  double* knots = c->knotsU;
  double *x = c->X[0], *y = c->Y[0], *w = c->W[0];
  knots[0] = knots[1] = knots[2] = a0;
  x[0] = r;
  y[0] = 0.0;
  w[0] = 1.0;
  int n = 1, kn = 3;
  double t = 0.0;
  const int full = partial ? k - 1 : k;
  for (int s = 0; s < full; ++s, t += 90.0) {
    const double mid = (t + 45.0) * kDegToRad, end = (t + 90.0) * kDegToRad;
    x[n] = 1.414213562373095 * r * std::cos(mid);
    y[n] = 1.414213562373095 * r * std::sin(mid);
    w[n++] = 0.7071067811865476;
    x[n] = r * std::cos(end);
    y[n] = r * std::sin(end);
    w[n++] = 1.0;
    knots[kn++] = a0 + (t + 90.0) * kDegToRad;
    knots[kn++] = a0 + (t + 90.0) * kDegToRad;
  }
  if (partial) {
    const double half = std::cos(R * 0.008726646259971648);
    const double mid = (t + R / 2.0) * kDegToRad;
    x[n] = r / half * std::cos(mid);
    y[n] = r / half * std::sin(mid);
    w[n++] = half;
    x[n] = r * std::cos(S * kDegToRad);
    y[n] = r * std::sin(S * kDegToRad);
    w[n++] = 1.0;
    knots[kn++] = a0 + S * kDegToRad;
    knots[kn++] = a0 + S * kDegToRad;
  }
  knots[kn] = knots[kn - 1];  // the last segment end three times
  c->umin = knots[2];
  c->umax = knots[2 * k + 1];

  const double ca = std::cos(a0), sa = std::sin(a0);
  for (int i = 0; i < n; ++i) {
    const double lx = x[i], ly = y[i];
    x[i] = lx * ca - ly * sa + centre[0];
    y[i] = lx * sa + ly * ca + centre[1];
    c->Z[0][i] = centre[2];
  }
  if (S < 90.0) {
    if (c->umax - c->umin < 0.1) {
      // A short arc in radians would give a tiny parameter range: [0, 1] instead.
      knots[0] = knots[1] = knots[2] = 0.0;
      knots[3] = knots[4] = knots[5] = 1.0;
      c->umin = 0.0;
      c->umax = 1.0;
    }
    if (S < 0.001) c->rational = 0;  // the weights stay stored
  }
  const QuadricInfo arc = {{centre[0], centre[1], centre[2], 0.0, 0.0, 1.0, r, S}};
  c->quadric = DuplicateQuadricInfo(&arc, QuadricDoubles(3));
  if (!c->quadric || KernelFailed()) return nullptr;
  c->quadricType = 3;
  scope.keep();
  // Knots from an angle so large that a quarter turn is lost in its round-off do not increase.
  return SoundRecordOrFailed(c.release());
}

int estimate_arc_para(const float* u, const float* v, int n, double coef[4], double centre[2], double* r) {
  if (!u || !v || n < 2) return -2;
  const double x0 = u[0], y0 = v[0], x1 = u[n - 1], y1 = v[n - 1];
  if (std::fabs(x0 - x1) < 1e-10 && std::fabs(y0 - y1) < 1e-10) return -2;
  // The elimination divides by x0 - x1: a chord parallel to y has no such form (its sums would
  // be NaN and pass the degeneracy test below).
  if (x0 == x1) return -2;
  const double s = (y0 - y1) / (x0 - x1);
  const double q0 = x0 * x0 + y0 * y0;
  const double t = (x1 * x1 + y1 * y1 - q0) / (x0 - x1);
  double Saa = 0.0, Sab = 0.0;
  for (int i = 0; i < n; ++i) {
    const double xi = u[i], yi = v[i];
    const double a = s * (x0 - xi) - y0 + yi;
    const double b = t * (x0 - xi) - (xi * xi + yi * yi) + q0;
    Saa += a * a;
    Sab += a * b;
  }
  if (!std::isfinite(Saa) || !std::isfinite(Sab) || std::fabs(Saa) < 1e-10) return -2;
  const double E = Sab / Saa, D = t - s * E;
  const double F = -((y0 - x0 * s) * E + x0 * t + q0);
  coef[0] = F, coef[1] = D, coef[2] = E, coef[3] = 1.0;
  centre[0] = -D / 2.0;
  centre[1] = -E / 2.0;
  const double r2 = centre[0] * centre[0] + centre[1] * centre[1] - F;
  if (r2 < 0.0) {
    *r = 0.0;
    return -2;
  }
  *r = std::sqrt(r2);
  return 0;
}

int ComputeFitArcAngle(const float* u, const float* v, int n, const double centre[2], double, double* startAngle,
                       double* endAngle) {
  if (!u || !v || n < 2) return -2;
  TrackingScope scope;
  float* angle = MallocArray<float>(n);
  if (!angle || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    double a = std::atan2(v[i] - centre[1], u[i] - centre[0]) * 57.29577951308232;
    if (std::fabs(a) < 1e-10) a = 0.0;
    if (a < 0.0) a += 360.0;
    angle[i] = static_cast<float>(a);
  }
  void* arrays[1] = {angle};
  const int types[1] = {0};
  if (VariableHeapSort(n, arrays, types, 1) != 0) return -2;
  double gap = angle[0] - angle[n - 1] + 360.0;
  int index = 0;
  for (int i = 1; i < n; ++i)
    if (angle[i] - angle[i - 1] > gap) gap = angle[i] - angle[i - 1], index = i;
  *startAngle = angle[index];
  *endAngle = angle[(n + index - 1) % n];
  return 0;
}

// FitArcBspline's work; its nulls are made whole by the caller's error state.
static Bspline* ArcOfPoints(const float* x, const float* y, const float* z, int n, int* status) {
  if (!x || !y || !z || n < 3) return nullptr;
  TrackingScope scope;
  float* u = MallocArray<float>(n);
  float* v = MallocArray<float>(n);
  float* w = MallocArray<float>(n);
  double** C = allocate_matrix_ff(3, 3);
  if (!u || !v || !w || !C || KernelFailed()) return nullptr;
  double c[3], d[3], e[3];
  if (PntsetCovMatrix(x, y, z, n, c, C) != 0) return nullptr;
  tred2(C, 3, d, e);
  tqli(d, e, 3, C);
  eigsrt(d, C, 3);
  // The principal frame about the centroid, scaled to unit size: its first two axes span the
  // points' plane, and the estimate's thresholds and the single-precision coordinates it reads
  // see the same numbers for the same arc at any size and anywhere in space.
  const double size = UnitFrameOfPointsF(x, y, z, n, false).size;
  Xform R, toOrigin, toUnit, tmp, M, Minv;
  Get_imat(R);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R[4 * i + j] = C[i][j];
  if (ComputeMatrixDeterminant(R) < 0.0)
    for (int i = 0; i < 3; ++i) R[4 * i] = -C[i][0];
  Get_imat(toOrigin);
  Get_imat(toUnit);
  for (int k = 0; k < 3; ++k) toOrigin[12 + k] = -c[k], toUnit[5 * k] = 1.0 / size;
  Get_catmat(toOrigin, R, tmp);
  Get_catmat(tmp, toUnit, M);
  if (mat_inverse4(M, Minv) != 0) return nullptr;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double q[3];
    VecTrans3(p, M, q);
    u[i] = static_cast<float>(q[0]), v[i] = static_cast<float>(q[1]), w[i] = static_cast<float>(q[2]);
  }
  double m[3];
  ComputeCenterOfMass(u, v, w, n, m);
  for (int i = 0; i < n; ++i) {
    u[i] = static_cast<float>(u[i] - m[0]), v[i] = static_cast<float>(v[i] - m[1]);
    w[i] = static_cast<float>(w[i] - m[2]);
  }
  double coef[4], cc[2], r;
  if (estimate_arc_para(u, v, n, coef, cc, &r) != 0) {
    if (status) *status = -2;
    return nullptr;
  }
  const double centre[3] = {cc[0] + m[0], cc[1] + m[1], m[2]};
  for (int i = 0; i < n; ++i) {
    u[i] = static_cast<float>(u[i] + m[0]), v[i] = static_cast<float>(v[i] + m[1]);
    w[i] = static_cast<float>(w[i] + m[2]);
  }
  double a0, a1;
  if (ComputeFitArcAngle(u, v, n, centre, r, &a0, &a1) != 0) return nullptr;
  // Made in the unit frame, then taken back: the net by Minv, the form's centre, unit normal
  // and radius in model units.
  Bspline* arc = MakeArcZBspline(a0, a1, centre, r);
  if (!arc) return nullptr;
  for (int k = 0; k < NumCtrlU(arc); ++k) vector_xform(&arc->X[0][k], &arc->Y[0][k], &arc->Z[0][k], Minv);
  static const double kUp[3] = {0.0, 0.0, 1.0};
  double centreW[3], normal[3];
  VecTrans3(centre, Minv, centreW);
  VecRot3(kUp, Minv, normal);
  const double length = std::sqrt(VecDotProd3(normal, normal));
  for (int k = 0; k < 3; ++k) arc->quadric->v[k] = centreW[k], arc->quadric->v[3 + k] = normal[k] / length;
  arc->quadric->v[6] = r * size;
  return arc;
}

Bspline* FitArcBspline(const float* x, const float* y, const float* z, int n, int* status) {
  return MadeOrFailed(ArcOfPoints(x, y, z, n, status));
}
