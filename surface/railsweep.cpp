#include "surface/railsweep.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/objset.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

void ControlPoint(const Bspline* c, int i, double p[3]) {
  p[0] = c->X[0][i];
  p[1] = c->Y[0][i];
  p[2] = c->Z[0][i];
}

double Distance(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

void First(const Bspline* c, double p[3]) { ControlPoint(c, 0, p); }
void Last(const Bspline* c, double p[3]) { ControlPoint(c, NumCtrlU(c) - 1, p); }

double Weight(const Bspline* c, int i) { return c->rational ? c->W[0][i] : 1.0; }

// A chord this share of the profile's size is the round-off of a closed profile's: none.
constexpr double kClosedChord = 1e-10;

}  // namespace

int EndControlPointsTouch(const Bspline* a, const Bspline* b, double tol) {
  if (!RecordShapesSound({a, b}) || a->dimension != 3 || b->dimension != 3) return 0;
  double ea[2][3], eb[2][3];
  First(a, ea[0]);
  Last(a, ea[1]);
  First(b, eb[0]);
  Last(b, eb[1]);
  for (const auto& p : ea)
    for (const auto& q : eb)
      if (Distance(p, q) < tol) return 1;
  return 0;
}

void OrientRailsToCurve(Bspline* rails[2], Bspline* curve, double tol) {
  if (!rails || !RecordShapesSound({rails[0], rails[1], curve})) return;
  for (const Bspline* c : {rails[0], rails[1], curve})
    if (c->kind != 1 || c->dimension != 3) return;
  MatchBoundaryDirections(rails, nullptr, 2);
  double a0[3], a1[3], c0[3], c1[3];
  First(rails[0], a0);
  Last(rails[0], a1);
  First(curve, c0);
  Last(curve, c1);
  const bool far00 = Distance(a0, c0) > tol, far10 = Distance(a1, c0) > tol;
  const bool far01 = Distance(a0, c1) > tol, far11 = Distance(a1, c1) > tol;
  auto reverseRails = [&] {
    ReverseDirection(rails[0], 0);
    ReverseDirection(rails[1], 0);
  };
  if (far00 && far10 && far01) reverseRails();
  // The decisions read the first measurement on purpose: the rails may have turned above.
  if (far01 && far11) {
    if (far00) reverseRails();
    ReverseDirection(curve, 0);
  }
  double r[3], c[3];
  First(rails[0], r);
  Last(curve, c);
  if (Distance(r, c) > tol) ReverseDirection(rails[0], 0);
  First(rails[1], r);
  First(curve, c);
  if (Distance(r, c) > tol) ReverseDirection(rails[1], 0);
}

int MakeRailsCompatible(Bspline* rails[2], Bspline* curve) {
  RaiseToCommonDegree(rails, nullptr, 2);
  if (KernelFailed()) return -2;
  MakeKnotVectorsCompatible(rails, nullptr, 2, 1);
  if (KernelFailed()) return -2;
  Bspline* three[3] = {curve, rails[0], rails[1]};
  MatchRationality(three, 3);
  return KernelFailed() ? -2 : 0;
}

double* NormalisedGrevilleParams(const Bspline* curve) {
  if (!RecordShapesSound({curve})) return nullptr;
  const int n = NumCtrlU(curve);
  double* g = MallocArray<double>(n);
  if (!g) return nullptr;
  GrevilleParams(curve->knotsU, n, curve->degreeU, g);
  const double g0 = g[0], gRange = g[n - 1] - g[0];
  for (int i = 0; i < n; ++i) g[i] = gRange > 0.0 ? (g[i] - g0) / gRange : 0.0;
  return g;
}

// Row j is a blend of two copies of the profile scaled by s = |path1[j] - path2[j]| / |chord|
// (about the origin), one moved onto path1[j] by its first point, the other onto path2[j] by its
// last, mixed with the Hermite weights of the control point's normalised Greville parameter, in
// homogeneous form when rational.
Bspline* SweepProfileAlongRails(Bspline* profile, Bspline* path1, Bspline* path2, double tol) {
  if (!RecordsSound({profile, path1, path2})) return nullptr;
  for (const Bspline* c : {profile, path1, path2})
    if (c->kind != 1 || c->dimension != 3) return MadeOrFailed<Bspline>(nullptr);
  TrackingScope scope;
  if (!EndControlPointsTouch(profile, path1, tol) || !EndControlPointsTouch(profile, path2, tol)) {
    SetKernelError(-10);
    return nullptr;
  }
  Bspline* rails[2] = {path1, path2};
  OrientRailsToCurve(rails, profile, tol);
  double p0[3], r0[3];
  First(profile, p0);
  First(path1, r0);
  if (Distance(p0, r0) > tol) ReverseDirection(profile, 0);
  if (MakeRailsCompatible(rails, profile) < 0) return nullptr;

  const int nU = NumCtrlU(profile), nV = NumCtrlU(path1);
  double* g = NormalisedGrevilleParams(profile);
  Bspline* s = MallocInitSurfaceBspline();
  if (!g || !s) return nullptr;
  s->rational = profile->rational;
  s->degreeU = profile->degreeU;
  s->interiorU = profile->interiorU;
  s->degreeV = path1->degreeU;
  s->interiorV = path1->interiorU;
  if (AllocateBsplineArrays(s) < 0) return nullptr;
  std::memcpy(s->knotsU, profile->knotsU, sizeof(double) * NumKnotsU(profile));
  std::memcpy(s->knotsV, path1->knotsU, sizeof(double) * NumKnotsU(path1));
  s->umin = profile->umin;
  s->umax = profile->umax;
  s->vmin = path1->umin;
  s->vmax = path1->umax;

  double e[3], pl[3];
  First(profile, p0);
  Last(profile, pl);
  for (int k = 0; k < 3; ++k) e[k] = p0[k] - pl[k];
  const double chord = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
  const double closedChord = kClosedChord * ControlPointDiagonal(profile);
  double** rows[3] = {s->X, s->Y, s->Z};
  for (int i = 0; i < nU; ++i) {
    double p[3];
    ControlPoint(profile, i, p);
    const double w = Weight(profile, i);
    for (int k = 0; k < 3; ++k) rows[k][0][i] = p[k] * w;
    if (s->rational) s->W[0][i] = w;
  }
  for (int j = 1; j < nV; ++j) {
    double a[3], b[3];
    ControlPoint(path1, j, a);
    ControlPoint(path2, j, b);
    const double scale = chord <= closedChord ? 1.0 : Distance(a, b) / chord;
    for (int i = 0; i < nU; ++i) {
      const double t = g[i], h1 = 3 * t * t - 2 * t * t * t, h0 = 1.0 - h1;
      double p[3];
      ControlPoint(profile, i, p);
      const double w = Weight(profile, i);
      for (int k = 0; k < 3; ++k) {
        const double c1 = scale * p[k] + (a[k] - scale * p0[k]);
        const double c2 = scale * p[k] + (b[k] - scale * pl[k]);
        rows[k][j][i] = (h0 * c1 + h1 * c2) * w;
      }
      if (s->rational) s->W[j][i] = w;
    }
  }
  if (s->rational) {
    for (int j = 0; j < nV; ++j)
      for (int i = 0; i < nU; ++i)
        for (int k = 0; k < 3; ++k) rows[k][j][i] /= s->W[j][i];
    // The outer columns take the rails' weights, scaled (which keeps a rail's shape) to meet the
    // profile's end weights in row 0, so that they lie on the rails.
    const double f1 = s->W[0][0] / Weight(path1, 0), f2 = s->W[0][nU - 1] / Weight(path2, 0);
    for (int j = 1; j < nV; ++j) {
      s->W[j][0] = f1 * Weight(path1, j);
      s->W[j][nU - 1] = f2 * Weight(path2, j);
    }
  }
  Free(g);
  scope.keep();
  return SoundRecordOrFailed(s);
}
