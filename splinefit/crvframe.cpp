#include "splinefit/crvframe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "bspline/smake.h"
#include "curve/crvoffst.h"
#include "foundation/coreglob.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "registration/kdtree.h"
#include "registration/qternion.h"
#include "registration/stepreg.h"
#include "splinefit/splzero.h"

namespace {

constexpr double kTiny = 1e-6;

bool IsSpine(const Bspline* c) { return c && c->kind == 1 && c->dimension == 3; }

double Norm(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

bool Unit(double v[3]) {
  const double n = Norm(v);
  if (!(n > 0.0) || !std::isfinite(n)) return false;
  v[0] /= n, v[1] /= n, v[2] /= n;
  return true;
}

void Tangent(const Bspline* c, double t, double T[3]) { Eval3DPointOnCurve3Array(c, t, 1, T); }

// The record's own arrays and tree, freed together.
void FreeFrameParts(double* params, double* tangents, double* normals, KDTree* tree, float* xyz) {
  if (tree) FreeKDTree(tree);
  Free(xyz);
  Free(params);
  Free(tangents);
  Free(normals);
}

}  // namespace

int GetNextParallelTransport(double prevT[3], double prevN[3], double T[3], double outN[3]) {
  double t1[3] = {T[0], T[1], T[2]}, t0[3] = {prevT[0], prevT[1], prevT[2]}, n0[3] = {prevN[0], prevN[1], prevN[2]};
  if (!Unit(t1) || !Unit(t0) || !Unit(n0)) return -2;
  double a[3], n1[3];
  VectorCrossProduct(t1, t0, a);
  if (Norm(a) < kTiny) {
    std::memcpy(n1, n0, sizeof n1);
  } else {
    // The rotation about t0 x t1 by the angle between them carries t0 onto t1.
    double axis[3];
    VectorCrossProduct(t0, t1, axis);
    Unit(axis);
    const double phi = std::acos(std::clamp(t1[0] * t0[0] + t1[1] * t0[1] + t1[2] * t0[2], -1.0, 1.0));
    RegVec q = {{std::cos(phi / 2), axis[0] * std::sin(phi / 2), axis[1] * std::sin(phi / 2), axis[2] * std::sin(phi / 2)},
                {0, 0, 0}};
    if (VecRotWquaternion(n0, &q, n1) != 0) return -2;
    Unit(n1);
  }
  // Back into the normal plane of T: rounding (and a tangent of the rotation's own making)
  // must not let the normal drift out of it.
  double c[3];
  VectorCrossProduct(t1, n1, c);
  if (Norm(c) < kTiny) return -2;
  Unit(c);
  VectorCrossProduct(c, t1, outN);
  Unit(outN);
  return 0;
}

int SetUpCurveParallelFrame(Bspline* curve, CurveParallelFrame* f) {
  if (!f || !IsSpine(curve) || !BsplineSound(curve)) return -2;
  TrackingScope scope;
  double* params = nullptr;
  int n = 0;
  const int rc = GetNParValsPerSpan(curve->knotsU, NumKnotsU(curve), f->samplesPerSpan, &params, &n);
  Owned<double, Free> ownParams(params);  // handed out of every scope: freed here on failure
  if (rc != 0 || n < 1) return -2;
  double* tangents = MallocArray<double>(n, 3);
  double* normals = MallocArray<double>(n, 3);
  float* xyz = MallocArray<float>(n, 3);
  if (KernelFailed() || !tangents || !normals || !xyz) return -2;
  EvalNpntsOnObj_f(curve, 0, 0, params, nullptr, n, xyz, xyz + n, xyz + 2 * n);
  if (KernelFailed()) return -2;
  double T[3], N[3];
  if (f->useGivenFrame == 1) {
    std::memcpy(T, f->givenTangent, sizeof T);
    std::memcpy(N, f->givenNormal, sizeof N);
    double c[3];
    VectorCrossProduct(T, N, c);
    if (!Unit(T) || !Unit(N) || Norm(c) < kTiny) return -2;
  } else {
    double D2[3];
    Tangent(curve, params[0], T);
    Eval3DPointOnCurve3Array(curve, params[0], 2, D2);
    if (!Unit(T)) return -2;
    VectorCrossProduct(T, D2, N);
    if (Norm(N) < kTiny) {
      double u[3], w[3];
      if (Vec3To3Vecs(T, u, N, w) != 0) return -2;  // straight start: any perpendicular
    }
    Unit(N);
  }
  for (int i = 0; i < n; ++i) {
    double Ti[3], Ni[3];
    if (f->useGivenFrame == 1) {
      std::memcpy(Ti, T, sizeof Ti);
      std::memcpy(Ni, N, sizeof Ni);
    } else {
      Tangent(curve, params[i], Ti);
      if (GetNextParallelTransport(T, N, Ti, Ni) != 0) return -2;
      Unit(Ti);
      std::memcpy(T, Ti, sizeof T);
      std::memcpy(N, Ni, sizeof N);
    }
    std::memcpy(tangents + 3 * i, Ti, sizeof Ti);
    std::memcpy(normals + 3 * i, Ni, sizeof Ni);
  }
  KDTree* tree = Create3DTree(xyz, xyz + n, xyz + 2 * n, n, n >= 5000 ? 10 : 1);
  if (!tree || KernelFailed()) {
    if (tree) FreeKDTree(tree);
    return -2;
  }
  scope.keep();  // the arrays and the tree become the record's
  ownParams.release();
  FreeFrameParts(f->params, f->tangents, f->normals, f->tree, f->tree ? const_cast<float*>(f->tree->coords[0]) : nullptr);
  f->curve = curve;
  f->numSamples = n;
  f->params = params;
  f->tangents = tangents;
  f->normals = normals;
  f->tree = tree;
  return 0;
}

int CleanUpCurveParallelFrame(CurveParallelFrame* f) {
  if (!f) return 0;
  // The tree's three coordinate arrays are one block of the record, starting at x.
  float* xyz = f->tree ? const_cast<float*>(f->tree->coords[0]) : nullptr;
  FreeFrameParts(f->params, f->tangents, f->normals, f->tree, xyz);
  f->params = f->tangents = f->normals = nullptr;
  f->tree = nullptr;
  f->numSamples = 0;
  return 0;
}

int GetCrvLocalParallelFrame(const CurveParallelFrame* f, double t, double T[3], double N[3], double B[3]) {
  if (!f || !f->tree || !IsSpine(f->curve) || f->numSamples < 1 || !f->params) return -2;
  const Bspline* c = f->curve;
  if (!(t >= c->umin && t <= c->umax)) return -2;
  if (f->useGivenFrame == 1) {
    std::memcpy(T, f->givenTangent, 3 * sizeof(double));
    std::memcpy(N, f->givenNormal, 3 * sizeof(double));
    if (!Unit(T) || !Unit(N)) return -2;
    VectorCrossProduct(T, N, B);
    return Unit(B) ? 0 : -2;
  }
  const int n = f->numSamples;
  // The interval: the first sample above t, the one before it its start.
  const int i = static_cast<int>(std::upper_bound(f->params, f->params + n, t) - f->params);
  int k;
  if (i == n) {
    if (t - f->params[n - 1] > kTiny) return -2;
    k = n - 1;
  } else {
    k = std::max(i - 1, 0);
  }
  Tangent(c, t, T);
  if (!Unit(T)) return -2;
  if (GetNextParallelTransport(f->tangents + 3 * k, f->normals + 3 * k, T, N) != 0) return -2;
  VectorCrossProduct(T, N, B);
  if (!Unit(B)) return -2;
  VectorCrossProduct(B, T, N);
  return Unit(N) ? 0 : -2;
}

int CartisianToCurveFrameCoord(double p[3], const CurveParallelFrame* f, double* t, double* theta, double* r,
                               double T[3], double N[3]) {
  if (!f || !f->tree || !IsSpine(f->curve) || f->numSamples < 1) return -2;
  Bspline* c = f->curve;
  double foot;
  if (f->useGivenFrame == 1) {
    // The foot lies in the plane through p normal to the given tangent.
    const double* g = f->givenTangent;
    double* ts = nullptr;
    int m = 0;
    const double d = -(g[0] * p[0] + g[1] * p[1] + g[2] * p[2]);
    if (Crv3PlaneIntersect(c, g[0], g[1], g[2], d, &ts, &m) != 0 || m < 1) return -2;
    double best = kNoValue;
    foot = ts[0];
    for (int k = 0; k < m; ++k) {
      double q[3];
      Eval3DPointOnCurve3Array(c, ts[k], 0, q);
      const double dd = (q[0] - p[0]) * (q[0] - p[0]) + (q[1] - p[1]) * (q[1] - p[1]) + (q[2] - p[2]) * (q[2] - p[2]);
      if (dd < best) best = dd, foot = ts[k];
    }
    Free(ts);
  } else {
    int near = -1;
    SearchKDTreeNearest(f->tree, p, &near);
    if (near < 0) return -2;
    foot = f->params[near];
    double C[3], distSq, stepSq;
    // The refiner's status only says whether it settled inside; its best parameter is the foot.
    FindClosestPointCurve3(c, p, C, c->umin, c->umax, &foot, &distSq, &stepSq, 7);
    if (KernelFailed()) return -2;
  }
  foot = std::clamp(foot, c->umin, c->umax);
  double B[3];
  if (GetCrvLocalParallelFrame(f, foot, T, N, B) != 0) return -2;
  *t = foot;
  double C[3], v[3];
  Eval3DPointOnCurve3Array(c, foot, 0, C);
  for (int k = 0; k < 3; ++k) v[k] = p[k] - C[k];
  // On the curve, and on its axis, to round-off of the curve's own size: relative to it, so
  // that a tube of a micrometre keeps its radius.
  const double onCurve = kTiny * ControlPointDiagonal(c);
  if (Norm(v) < onCurve) {
    *r = 0.0;
    *theta = 0.0;
    return 0;
  }
  double q[3], d;
  PlaneMinDist(p, T[0], T[1], T[2], -(T[0] * C[0] + T[1] * C[1] + T[2] * C[2]), q, &d);
  if (std::fabs(d) > 0.1 * Norm(v)) return -2;
  double w[3] = {q[0] - C[0], q[1] - C[1], q[2] - C[2]};
  *r = Norm(w);
  if (*r < onCurve) {
    *theta = 0.0;
    return 0;
  }
  Unit(w);
  double a = std::atan2(w[0] * B[0] + w[1] * B[1] + w[2] * B[2], w[0] * N[0] + w[1] * N[1] + w[2] * N[2]);
  if (a < 0.0) a += 2.0 * M_PI;
  *theta = a;
  return 0;
}

int CrvFrameCrdnateToXYZ(const CurveParallelFrame* f, double t, double theta, double r, double* x, double* y,
                         double* z) {
  if (!f || !IsSpine(f->curve) || !(t >= f->curve->umin && t <= f->curve->umax)) return -2;
  double T[3], N[3], B[3];
  if (GetCrvLocalParallelFrame(f, t, T, N, B) != 0) return -2;
  double C[3], dir[3];
  Eval3DPointOnCurve3Array(f->curve, t, 0, C);
  for (int k = 0; k < 3; ++k) dir[k] = std::cos(theta) * N[k] + std::sin(theta) * B[k];
  Unit(dir);
  *x = C[0] + r * dir[0];
  *y = C[1] + r * dir[1];
  *z = C[2] + r * dir[2];
  return 0;
}

int TransformCylPntsToXYZSpaceWCurve(double* theta, double* t, double* r, int n, const CurveParallelFrame* f) {
  if (!theta || !t || !r || n < 1 || !f || !IsSpine(f->curve)) return -2;
  for (int i = 0; i < n; ++i) {
    const double ti = std::clamp(t[i], f->curve->umin, f->curve->umax);
    double x, y, z;
    if (CrvFrameCrdnateToXYZ(f, ti, theta[i], r[i], &x, &y, &z) != 0) return -2;
    theta[i] = x, t[i] = y, r[i] = z;
  }
  return 0;
}
