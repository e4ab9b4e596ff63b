#include "curve/crvoffst.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/srfclone.h"

#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/qarc.h"
#include "quadric/qcircle.h"

int IsPlanarCurve3(Bspline* crv, double tol, double axis0[3], double axis1[3], double axis2[3]) {
  if (!BsplineSound(crv) || crv->kind != 1 || crv->dimension != 3) return 0;
  const int n = NumCtrlU(crv);
  TrackingScope scope;
  float* x = MallocArray<float>(3u, n);
  if (!x || KernelFailed()) return 0;
  float* y = x + n;
  float* z = y + n;
  for (int i = 0; i < n; ++i) {
    x[i] = static_cast<float>(crv->X[0][i]);
    y[i] = static_cast<float>(crv->Y[0][i]);
    z[i] = static_cast<float>(crv->Z[0][i]);
  }
  double ev[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, ev, axes) != 0) return 0;
  double* out[3] = {axis0, axis1, axis2};
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) out[k][c] = axes[k][c];
  return tol >= ev[2] ? 1 : 0;
}

int ComputeCrvBsplineCentroid(Bspline* crv, double p[3]) {
  if (!p || !RecordShapesSound({crv})) return -2;
  const int n = NumCtrlU(crv);
  double** rows[3] = {crv->X, crv->Y, crv->dimension == 3 ? crv->Z : nullptr};
  double total[3] = {0, 0, 0}, part[3] = {0, 0, 0};
  int inPart = 0;
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) part[c] += rows[c] ? rows[c][0][i] : 0.0;
    // Blocks of 1001 points keep the partial sums short on long curves.
    if (++inPart == 1001) {
      for (int c = 0; c < 3; ++c) {
        total[c] += part[c];
        part[c] = 0.0;
      }
      inPart = 0;
    }
  }
  for (int c = 0; c < 3; ++c) p[c] = (total[c] + part[c]) / n;
  return 0;
}

int GetNParValsPerSpan(const double* b, int n, int k, double** out, int* count) {
  *out = nullptr;
  *count = 0;
  if (!b || n < 1) return -2;
  if (k <= 2) k = 2;
  // k + 1 values per break must be countable: a k past the int range is no count of samples.
  if (k == INT_MAX) return -2;
  TrackingScope scope;
  double* vals = MallocArray<double>(k + 1, n);
  if (!vals || KernelFailed()) return -2;
  const double tol = (b[n - 1] - b[0]) * 1e-6;
  int c = 0;
  for (int i = 1; i < n; ++i) {
    const double d = b[i] - b[i - 1];
    if (!(std::fabs(d) > tol)) continue;  // repeated knots
    const double h = d / (k - 1);
    // Stopping a tenth of a step short of the span's end keeps rounding from repeating it;
    // a decreasing span ends below its start and adds nothing.
    const double end = b[i] - 0.1 * h;
    for (int m = 0; b[i - 1] + m * h < end; ++m) vals[c++] = b[i - 1] + m * h;
  }
  vals[c++] = b[n - 1];
  scope.keep();
  *out = vals;
  *count = c;
  return 0;
}

namespace {

// An offset circle whose radius falls below this fraction of the original's has collapsed.
constexpr double kCollapsedRadius = 1e-6;

// Centre, unit normal and offset radius of a circle or arc of the given quadric type. False
// for a null curve, another type or a normal shorter than 1e-6, and for a radius below 1e-6 of
// the original radius, which also sets *collapsed.
bool OffsetCircleFrame(const Bspline* crv, int type, double d, int inward, int* collapsed,
                       double centre[3], double normal[3], double* radius) {
  *collapsed = 0;
  if (!crv || crv->quadricType != type || !crv->quadric) return false;
  const double* q = crv->quadric->v;
  for (int k = 0; k < 3; ++k) {
    centre[k] = q[k];
    normal[k] = q[3 + k];
  }
  if (VecSize3(normal) < 1e-6) return false;
  VecNormalize3(normal, normal);
  *radius = inward ? q[6] - d : q[6] + d;
  // Collapsed relative to the circle's own radius, so that small circles offset alike.
  if (*radius < kCollapsedRadius * std::fabs(q[6])) {
    *collapsed = 1;
    return false;
  }
  return true;
}

}  // namespace

Bspline* CreateCircleOffset(Bspline* crv, double d, int inward, int* collapsed) {
  double centre[3], normal[3], radius;
  if (!OffsetCircleFrame(crv, 2, d, inward, collapsed, centre, normal, &radius)) return nullptr;
  return MakeCircleWGivenAxis(centre, radius, normal);
}

Bspline* CreateArcOffset(Bspline* crv, double d, int inward, int* collapsed) {
  double centre[3], normal[3], radius;
  if (!OffsetCircleFrame(crv, 3, d, inward, collapsed, centre, normal, &radius)) return nullptr;
  // The arc is made about the origin in the xy plane: the inverse of the frame that takes the
  // arc's axis through its centre onto +z carries the origin onto the centre and the xy plane
  // onto the arc's plane. (Made about the centre, the centre would be added twice.)
  static const double kOrigin[3] = {0.0, 0.0, 0.0};
  Bspline* arc = MakeArcZBspline(0.0, crv->quadric->v[7], kOrigin, radius);
  if (!arc) return nullptr;
  // A step along the normal as long as the centre's largest coordinate (at least 1): a unit step
  // from coordinates of 1e10 would keep a millionth of the normal's digits.
  double step = 1.0;
  for (int k = 0; k < 3; ++k) step = std::max(step, std::fabs(centre[k]));
  const double tip[3] = {centre[0] + step * normal[0], centre[1] + step * normal[1], centre[2] + step * normal[2]};
  Xform M, Minv;
  TransformToZAxis(centre, tip, M);
  mat_inverse4(M, Minv);
  for (int i = 0; i < NumCtrlU(arc); ++i) vector_xform(&arc->X[0][i], &arc->Y[0][i], &arc->Z[0][i], Minv);
  for (int k = 0; k < 3; ++k) {
    arc->quadric->v[k] = centre[k];
    arc->quadric->v[3 + k] = normal[k];
  }
  return arc;
}

Bspline* CreateLineOffset(Bspline* crv, double d) {
  if (!crv || crv->quadricType != 1) return nullptr;
  double dir[3];
  FindCrvOffsetDirection(crv, crv->umin, dir);
  Bspline* c = CopyBsplineStruct(crv);
  if (!c) return nullptr;
  const double move[3] = {d * dir[0], d * dir[1], d * dir[2]};
  for (int i = 0; i < NumCtrlU(c); ++i) {
    c->X[0][i] += move[0];
    c->Y[0][i] += move[1];
    if (c->Z) c->Z[0][i] += move[2];
  }
  // The exact form (start, end) describes the moved line, not the old one.
  if (c->quadric)
    for (int k = 0; k < 6; ++k) c->quadric->v[k] += move[k % 3];
  return c;
}

namespace {

// Second derivatives whose components all lie below this fraction of the speed |C'| are a
// straight stretch, and take that value on every component; |C' x C''| is floored at
// kStraightCross |C'|^2.
constexpr double kStraightSecond = 1e-5;
constexpr double kStraightCross = 1e-10;

// Radii of curvature are capped at this many times the curve's size (its speed times its
// parameter range): a straight stretch has that radius.
constexpr double kStraightRadius = 1e6;

}  // namespace

int FindOffsetDirectionAndRadiusAtPoint(Bspline* crv, double t, double* s, double dir[3]) {
  static const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
  double D[3][3] = {};
  EvalPointOnGeometryM(crv, t, 0.0, du, dv, 3, 1, D);
  double* d1 = D[1];
  double* d2 = D[2];
  // A straight stretch has no second derivative to turn the offset by: a small diagonal one
  // keeps the direction defined and the radius finite. Both measured against the speed |C'|,
  // so that the same curve of any size gives the same direction and radius relative to it.
  const double L = VecSize3(d1);
  const double flat = kStraightSecond * L;
  if (std::fabs(d2[0]) < flat && std::fabs(d2[1]) < flat && std::fabs(d2[2]) < flat)
    d2[0] = d2[1] = d2[2] = flat;
  double x[3];
  VecCrossProd3(d1, d2, x);
  const double c = std::max(VecSize3(x), kStraightCross * L * L);
  double T[3] = {d1[0], d1[1], d1[2]};
  if (L > 0.0) T[0] /= L, T[1] /= L, T[2] /= L;
  *s = c > 0.0 ? 0.25 * L * L * L / c : 0.0;
  const double a = VecDotProd3(d2, T);
  const double n[3] = {a * T[0] - d2[0], a * T[1] - d2[1], a * T[2] - d2[2]};
  VecNormalize3(n, dir);
  return 0;
}

int FindCrvOffsetDirection(Bspline* crv, double t, double dir[3]) {
  if (!RecordsSound({crv})) return -2;
  if (std::isnan(t)) {
    SetKernelError(-2);
    return -2;
  }
  // The search steps from a parameter in the domain: one beyond it starts at the nearer end.
  t = std::clamp(t, crv->umin, crv->umax);
  const double step = (crv->umax - crv->umin) * 0.010101010101010102;
  const double bend = 1000.0 * ControlPointDiagonal(crv);
  double s;
  FindOffsetDirectionAndRadiusAtPoint(crv, t, &s, dir);
  if (bend > s) return 0;
  // Almost straight at t: the nearest parameter that bends, up first, then down.
  for (int m = 1; step > 0.0 && t + m * step < crv->umax; ++m) {
    FindOffsetDirectionAndRadiusAtPoint(crv, t + m * step, &s, dir);
    if (s < bend) return 0;
  }
  for (int m = 1; step > 0.0 && t - m * step > crv->umin; ++m) {
    FindOffsetDirectionAndRadiusAtPoint(crv, t - m * step, &s, dir);
    if (s < bend) return 0;
  }
  return 0;
}

namespace {

// A curve with a 3D image: a 3D curve, or a 2D curve on its owner surface.
bool HasImage(const Bspline* crv) {
  return crv && crv->kind == 1 && (crv->dimension == 3 || (crv->dimension == 2 && crv->owner));
}

// First and second derivatives of the curve's 3D image at n parameters, in a block of 6 n
// doubles (x, y, z of C' then of C'', each n long). Null on failure.
double* CurveDerivatives(Bspline* crv, const double* t, int n) {
  double* D = MallocArray<double>(6, n);
  if (!D || KernelFailed()) return nullptr;
  EvalNpntsOnObj(crv, 1, 0, t, t, n, D, D + n, D + 2 * n);
  EvalNpntsOnObj(crv, 2, 0, t, t, n, D + 3 * n, D + 4 * n, D + 5 * n);
  return D;
}

}  // namespace

int Curve3RadiusOfCurvatureNpts(Bspline* crv, const double* t, int n, double** r) {
  *r = nullptr;
  if (!HasImage(crv) || !t || n < 1) return -2;
  TrackingScope scope;
  double* radii = MallocArray<double>(n);
  if (!radii || KernelFailed()) return -2;
  double* D = CurveDerivatives(crv, t, n);
  if (!D) return -2;
  // The curve's size: its greatest speed times its parameter range. Floors relative to it keep
  // the radii of the same curve at any size the same relative to that size.
  double speed = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d1[3] = {D[i], D[n + i], D[2 * n + i]};
    speed = std::max(speed, VecSize3(d1));
  }
  const double range = crv->umax - crv->umin;
  const double size = speed * (range > 0.0 ? range : 1.0);
  for (int i = 0; i < n; ++i) {
    const double d1[3] = {D[i], D[n + i], D[2 * n + i]};
    double d2[3] = {D[3 * n + i], D[4 * n + i], D[5 * n + i]};
    const double L = std::max(VecSize3(d1), kStraightSecond * speed);
    double x[3];
    VecCrossProd3(d1, d2, x);
    // A straight stretch (or a stop) has the capped radius.
    const double cap = kStraightRadius * size;
    const double c = VecSize3(x);
    radii[i] = c * cap > L * L * L ? L * L * L / c : cap;
  }
  Free(D);
  scope.keep();
  *r = radii;
  return 0;
}

int CheckForSelfIntersectionGivenRadii(Bspline* crv, const double* t, int n, const double* r,
                                       double d, int** idx, int* count) {
  *idx = nullptr;
  *count = 0;
  if (!HasImage(crv) || !t || !r || n < 1) return -2;
  TrackingScope scope;
  int* hits = MallocArray<int>(n);
  if (!hits || KernelFailed()) return -2;
  double* D = CurveDerivatives(crv, t, n);
  if (!D) return -2;
  const double sign = d < 0.0 ? -1.0 : 1.0;
  double B[3] = {0.0, 0.0, 0.0};
  int c = 0;
  for (int i = 0; i < n; ++i) {
    const double d1[3] = {D[i], D[n + i], D[2 * n + i]};
    const double d2[3] = {D[3 * n + i], D[4 * n + i], D[5 * n + i]};
    double w[3], normal[3];
    FindCrvOffsetDirection(crv, t[i], w);
    // The binormal is fixed at the first sample, so the offset side is carried along the curve
    // instead of flipping with the principal normal at inflections.
    if (i == 0) {
      VecCrossProd3(d1, w, B);
      for (int k = 0; k < 3; ++k) normal[k] = w[k];
    } else {
      VecCrossProd3(B, d1, normal);
    }
    for (int k = 0; k < 3; ++k) normal[k] *= sign;
    double towardsCentre[3];
    VecNormalize3(d2, towardsCentre);
    if (VecDotProd3(normal, towardsCentre) >= 0.0 && std::fabs(d) > r[i]) hits[c++] = i;
  }
  Free(D);
  scope.keep();
  *idx = hits;
  *count = c;
  return 0;
}
