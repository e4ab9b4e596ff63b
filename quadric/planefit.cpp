#include "quadric/planefit.h"

#include <algorithm>
#include <cmath>

#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/subobj.h"
#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"

void FindInitXYCoefi(Bspline* srf, double** X, double** Y) {
  if (!srf || !X || !Y || srf->kind != 2 || !srf->knotsU || !srf->knotsV) {
    SetKernelError(-2);
    return;
  }
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  TrackingScope scope;
  double* u = ObjectGrevilleParams(srf, 0);
  double* v = ObjectGrevilleParams(srf, 1);
  if (!u || !v || KernelFailed()) return;
  if (srf->closedU) {
    // A wrapped u direction has unclamped uniform knots: its control columns sit one step
    // apart, the first one step before the domain.
    const double h = (srf->umax - srf->umin) / (srf->interiorU + 1);
    for (int c = 0; c < nU; ++c) u[c] = srf->umin + (c - 1) * h;
  }
  for (int r = 0; r < nV; ++r) {
    for (int c = 0; c < nU; ++c) {
      X[r][c] = u[c];
      Y[r][c] = v[r];
    }
  }
}

namespace {

// Squared distance of two points.
double Dist2(const double a[3], const double b[3]) {
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  return d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
}

// First (end 0) or last (end 1) control point of a curve; a 2D curve lies at z = 0.
void CurveEnd(const Bspline* c, int end, double p[3]) {
  const int k = end ? NumCtrlU(c) - 1 : 0;
  p[0] = c->X[0][k];
  p[1] = c->Y[0][k];
  p[2] = c->dimension == 3 ? c->Z[0][k] : 0.0;
}

// Squared end distances this close (relative to the curves' size) count as equal: the legacy
// 1e-6 in squared units at unit size.
double TieTolerance(const Bspline* a, const Bspline* b) {
  const double L = std::max(ControlPointDiagonal(a), ControlPointDiagonal(b));
  return 1e-6 * L * L;
}

bool Finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

}  // namespace

Bspline* PutPlaneToBsplinePatch(const PlaneEq plane, const Bbox box, int /*axisHint*/) {
  if (!Finite(plane, 4) || !Finite(box, 6)) return nullptr;
  const double a = plane[0], b = plane[1], c = plane[2], d = plane[3];
  const double len = std::sqrt(a * a + b * b + c * c);
  if (len < 1e-6) return nullptr;
  const double ua = std::fabs(a / len), ub = std::fabs(b / len), uc = std::fabs(c / len);
  int solved;  // 0 x, 1 y, 2 z
  if (ua > 1e-6 && ub <= ua && uc <= ua) {
    solved = 0;
  } else if (ub > 1e-6 && ub >= ua && uc <= ub) {
    solved = 1;
  } else if (uc > 1e-6 && uc >= ua && uc >= ub) {
    solved = 2;
  } else {
    return nullptr;
  }

  TrackingScope scope;
  Owned<Bspline, FreeBspline> patch(MallocInitSurfaceBspline());
  if (!patch || KernelFailed()) return nullptr;
  patch->interiorU = patch->interiorV = 0;
  if (AllocateBsplineArrays(patch.get()) < 0 || KernelFailed()) return nullptr;
  for (int i = 0; i < 4; ++i) {
    patch->knotsU[i] = patch->knotsV[i] = 0.0;
    patch->knotsU[4 + i] = patch->knotsV[4 + i] = 1.0;
  }
  // Thirds of the box: the control points of a bicubic Bezier patch that is linear in u and v.
  auto step = [&](int axis, int k) { return box[axis] + k * (box[3 + axis] - box[axis]) / 3.0; };
  for (int i = 0; i < 4; ++i)      // rows: v
    for (int j = 0; j < 4; ++j) {  // columns: u
      double x, y, z;
      if (solved == 0) {
        y = step(1, i), z = step(2, j), x = -(b * y + c * z + d) / a;
      } else if (solved == 1) {
        z = step(2, i), x = step(0, j), y = -(a * x + c * z + d) / b;
      } else {
        y = step(1, i), x = step(0, j), z = -(a * x + b * y + d) / c;
      }
      patch->X[i][j] = x;
      patch->Y[i][j] = y;
      patch->Z[i][j] = z;
    }
  patch->umin = patch->vmin = 0.0;
  patch->umax = patch->vmax = 1.0;
  const QuadricInfo info = {{a, b, c, d}};
  patch->quadric = DuplicateQuadricInfo(&info, QuadricDoubles(25));
  if (!patch->quadric || KernelFailed()) return nullptr;
  patch->quadricType = 25;
  Bspline* pair[2] = {patch.get(), patch.get()};
  const int dirs[2] = {1, 0};
  ProportionPairParams(pair, dirs, 0, 1, 0);
  if (KernelFailed()) return nullptr;
  scope.keep();
  return patch.release();
}

namespace {

// Points spread across their best line by less than this many times the single-precision
// rounding of their coordinates (2^-24 of the largest magnitude) lie on a line for all a plane
// fit can tell: any plane through the line fits them, and the one found is set by the rounding.
constexpr double kAcrossLine = 16.0 * 5.9604644775390625e-8;

// True when the points lie on one line to their rounding (PlaneFit takes six or more points on a
// line for a plane).
bool Collinear(const float* x, const float* y, const float* z, int n) {
  double spread[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, spread, axes) != 0) return true;
  double largest = 0.0;
  for (int i = 0; i < n; ++i)
    largest = std::max({largest, std::fabs(double(x[i])), std::fabs(double(y[i])), std::fabs(double(z[i]))});
  return std::sqrt(std::max(spread[1], 0.0)) <= kAcrossLine * largest;
}

}  // namespace

Bspline* CreatePlaneBsplineFromCloud(const float* x, const float* y, const float* z, int n, const Bbox box) {
  if (!x || !y || !z) return MadeOrFailed<Bspline>(nullptr);
  PlaneEq plane;
  if (!PlaneFit(x, y, z, n, plane) || Collinear(x, y, z, n)) return MadeOrFailed<Bspline>(nullptr);
  const double a = std::fabs(plane[0]), b = std::fabs(plane[1]), c = std::fabs(plane[2]);
  const int hint = a > b && a > c ? 1 : b > c ? 2 : 3;
  Bspline* patch = PutPlaneToBsplinePatch(plane, box, hint);
  if (patch && KernelFailed()) {
    FreeBspline(patch);
    return MadeOrFailed<Bspline>(nullptr);
  }
  return MadeOrFailed(patch);
}

void OrderCurves(Bspline** curves, int n) {
  if (!curves || n < 2) return;
  for (int k = 0; k < n; ++k)
    if (!curves[k] || !curves[k]->X) return;
  double s0[3], e0[3], s1[3], e1[3];
  CurveEnd(curves[0], 0, s0);
  CurveEnd(curves[0], 1, e0);
  CurveEnd(curves[1], 0, s1);
  CurveEnd(curves[1], 1, e1);
  // The four pairings in the order they are preferred on a tie, with the reversals each needs.
  const double d[4] = {Dist2(s0, s1), Dist2(s0, e1), Dist2(e0, e1), Dist2(e0, s1)};
  const bool flip0[4] = {true, true, false, false}, flip1[4] = {false, true, true, false};
  const double m = std::min(std::min(d[0], d[1]), std::min(d[2], d[3]));
  const double tie = TieTolerance(curves[0], curves[1]);
  // Only the first pairing that ties with the closest acts: acting on each tie in turn could
  // reverse a curve twice and break the chain.
  for (int p = 0; p < 4; ++p)
    if (d[p] <= m + tie) {
      if (flip0[p]) ReverseDirection(curves[0], 0);
      if (flip1[p]) ReverseDirection(curves[1], 0);
      break;
    }
  for (int k = 2; k < n; ++k) {
    double e[3], sk[3], ek[3];
    CurveEnd(curves[k - 1], 1, e);
    CurveEnd(curves[k], 0, sk);
    CurveEnd(curves[k], 1, ek);
    const double toEnd = Dist2(e, ek), toStart = Dist2(e, sk);
    if (toEnd <= std::min(toEnd, toStart) + TieTolerance(curves[k - 1], curves[k]))
      ReverseDirection(curves[k], 0);
  }
}
