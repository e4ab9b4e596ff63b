#include "curve/quadrics.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "quadric/cone.h"
#include "quadric/cpoint.h"
#include "quadric/cylinder.h"
#include "quadric/quadrics.h"

namespace {

// Points of a curve at degree + 1 parameters per knot span, in double arrays of the caller's
// scope. False when memory ran out.
bool SampleCurve(Bspline* c, double** x, double** y, double** z, int* n) {
  Owned<double, Free> t(SampleCurvePlateProper(c, c->degreeU + 1, n));
  if (!t || KernelFailed()) return false;
  *x = MallocArray<double>(*n);
  *y = MallocArray<double>(*n);
  *z = MallocArray<double>(*n);
  if (!*x || !*y || !*z || KernelFailed()) return false;
  EvalNpntsOnObj(c, 0, 0, t.get(), nullptr, *n, *x, *y, *z);
  return !KernelFailed();
}

// The trial curve's form goes to curve when every point lies on the trial. The trial passes
// through as many points as determine it (`determining`) whatever the curve is, so then the
// curve's points at a quarter and three quarters of its domain must lie on the trial too: one
// span of a parabola is no arc.
int AcceptTrial(Bspline* trial, const double* x, const double* y, const double* z, int n, Bspline* curve,
                int determining) {
  Owned<Bspline, FreeBspline> owned(trial);
  if (!trial || KernelFailed()) return 0;
  if (CheckBsplineTol(x, y, z, n, trial) != 1) return 0;
  if (n <= determining) {
    const double t[2] = {curve->umin + 0.25 * (curve->umax - curve->umin), curve->umin + 0.75 * (curve->umax - curve->umin)};
    double px[2], py[2], pz[2];
    EvalNpntsOnObj(curve, 0, 0, t, nullptr, 2, px, py, pz);
    if (KernelFailed() || CheckBsplineTol(px, py, pz, 2, trial) != 1) return 0;
  }
  return AttachQuadricOf(curve, trial);
}

// A boundary point this near the apex (of the surface's control-point diagonal) lies on it: the
// circle's own test of its normal holds to the same fraction.
constexpr double kApexTolerance = 1e-6;

// 1 when the iso curve of the surface at v is a circle whose normal lies along axis, or (apex
// given) collapses onto the apex; 0 when not; -2 when memory runs out.
int BoundaryCircle(Bspline* surface, double v, const double axis[3], const double* apex) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> iso(IsoCurve3(surface, surface->umin, v, 0));
  if (!iso || KernelFailed()) return -2;
  double *x, *y, *z;
  int m = 0;
  if (!SampleCurve(iso.get(), &x, &y, &z, &m)) return -2;
  if (apex) {
    // Points that nearly coincide may still fit some tiny circle: the apex test comes first.
    const double tol = kApexTolerance * ControlPointDiagonal(surface);
    bool atApex = true;
    for (int i = 0; i < m && atApex; ++i) {
      const double p[3] = {x[i], y[i], z[i]};
      atApex = VecDist3(p, apex) <= tol;
    }
    if (atApex) return 1;
  }
  Owned<Bspline, FreeBspline> circle(FitCirclePts(x, y, z, m));
  if (!circle || !circle->quadric) {
    // A boundary that collapses to a point has no circle; that is an answer, not an error.
    if (memory_error == 1) return -2;
    ClearKernelError();
    return 0;
  }
  const double* nrm = circle->quadric->v + 3;
  return std::fabs(std::fabs(VecDotProd3(axis, nrm)) - 1.0) < 1e-6 ? 1 : 0;
}

// Fitted cylinders and cones are accepted on their boundary circles and fit error; a cone's
// boundary may also be its apex, where the surface runs into it.
int AcceptSurfaceTrial(Bspline* trial, double error, Bspline* surface) {
  Owned<Bspline, FreeBspline> owned(trial);
  if (!trial || !trial->quadric || KernelFailed()) return 0;
  const double* form = trial->quadric->v;
  const double* apex = trial->quadricType == 23 ? form : nullptr;
  for (double v : {surface->vmin, surface->vmax})
    if (BoundaryCircle(surface, v, form + 3, apex) != 1) return 0;
  if (!(error <= 1e-6 * ControlPointDiagonal(trial))) return 0;
  return AttachQuadricOf(surface, trial);
}

}  // namespace

int CheckBsplineTol(const double* x, const double* y, const double* z, int n, Bspline* curve) {
  if (!RecordsSound({curve}) || !x || !y || !z) return -2;
  const double tol = 1e-6 * ControlPointDiagonal(curve);
  TrackingScope scope;
  // The polyline samples are cached across the points and freed here.
  double *params = nullptr, *cx = nullptr, *cy = nullptr, *cz = nullptr;
  int count = 0;
  int result = 1;
  for (int i = 0; i < n && result == 1; ++i) {
    const double P[3] = {x[i], y[i], z[i]};
    double t, C[3], distSq, stepSq;
    if (EstimateClosestPntCurve(curve, P, &params, &count, &cx, &cy, &cz, nullptr, &t, curve->closedU) != 0) {
      result = -2;
      break;
    }
    FindClosestPointCurve3(curve, P, C, curve->umin, curve->umax, &t, &distSq, &stepSq, 7);
    // A squared distance against a length, as documented in the header.
    if (tol < distSq) result = 0;
  }
  Free(params);
  Free(cx);
  Free(cy);
  Free(cz);
  return result;
}

int GetLineFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve) {
  if (!curve || !x || !y || !z || n < 2) return 0;
  double start[3], end[3];
  FitALinePts(x, y, z, n, start, end);
  if (VecDist3(start, end) == 0.0) return 0;
  return AcceptTrial(CreateLineWith2Points(start, end), x, y, z, n, curve, 2);
}

int GetCircleFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve) {
  if (!curve || !x || !y || !z) return 0;
  return AcceptTrial(FitCirclePts(x, y, z, n), x, y, z, n, curve, 3);
}

int GetArcFromPts(const double* x, const double* y, const double* z, int n, Bspline* curve) {
  if (!curve || !x || !y || !z || n != 3) return 0;
  const double p[3][3] = {{x[0], y[0], z[0]}, {x[1], y[1], z[1]}, {x[2], y[2], z[2]}};
  return AcceptTrial(CreateCircleW3Points(p[0], p[1], p[2], 1), x, y, z, n, curve, 3);
}

int IdentifyCurveQuadric(Bspline** curves, int n, int request, int* found) {
  if (!curves || !found) return n < 1 ? 0 : -2;
  for (int i = 0; i < n; ++i) {
    Bspline* c = curves[i];
    if (!c || c->kind != 1) continue;
    const int type = c->quadricType;
    if (type == 1 || type == 2 || type == 3) {
      if (request == 0 || request == type) found[i] = 1;
      continue;
    }
    if (request == 2 && (!c->rational || !c->closedU)) return -2;
    if (request == 3 && !c->rational) return -2;
    if (request < 0 || request > 3) continue;
    TrackingScope scope;
    // Recognised on a copy at unit size (UnitSizeCopy), its form taken back: the same curve of
    // any size, anywhere, is recognised alike. A curve of no extent is nothing of the three.
    UnitFrame frame;
    Owned<Bspline, FreeBspline> copy(BsplineShapeSound(c) ? UnitSizeCopy(c, &frame) : nullptr);
    if (!copy) {
      if (memory_error == 1) return -2;
      ClearKernelError();
      continue;
    }
    Bspline* u = copy.get();
    double *x, *y, *z;
    int m = 0;
    if (!SampleCurve(u, &x, &y, &z, &m)) return -2;
    int r = 0;
    if (request == 0 || request == 1) r = GetLineFromPts(x, y, z, m, u);
    if (r == 0 && (request == 0 || request == 3)) r = GetArcFromPts(x, y, z, m, u);
    if (r == 0 && (request == 0 || request == 2)) r = GetCircleFromPts(x, y, z, m, u);
    if (r == 1) {
      QuadricFormFromUnitFrame(u, frame);
      if (AttachQuadricOf(c, u) == 1) found[i] = 1;
    }
    // A failed trial is no recognition: the next curve starts with a clean state.
    if (KernelFailed() && memory_error != 1) ClearKernelError();
  }
  return 0;
}

int CheckTopBottomCircle(Bspline* surface, int /*kind*/, const double axis[3]) {
  if (!surface || surface->kind != 2) return 0;
  for (double v : {surface->vmin, surface->vmax}) {
    const int r = BoundaryCircle(surface, v, axis, nullptr);
    if (r != 1) return r;
  }
  return 1;
}

int GetCylFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface) {
  if (!surface || !surface->rational || !surface->closedU) return 0;
  double error = 0.0;
  Bspline* trial = FitCylinderBspline(x, y, z, n, &error);
  return AcceptSurfaceTrial(trial, error, surface);
}

int GetConeFromPts(const float* x, const float* y, const float* z, int n, Bspline* surface) {
  if (!surface || !surface->rational || !surface->closedU) return 0;
  double error = 0.0;
  Bspline* trial = FitConeBspline(x, y, z, n, &error);
  return AcceptSurfaceTrial(trial, error, surface);
}
