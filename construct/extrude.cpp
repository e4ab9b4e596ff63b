#include "construct/extrude.h"

#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/railsweep.h"

namespace {

bool IsCurve3(const Bspline* c) { return c && c->kind == 1 && c->dimension == 3 && BsplineShapeSound(c); }

double Weight(const Bspline* c, int i) { return c->rational ? c->W[0][i] : 1.0; }

// Gives s the rational flag, u degree, knots and range of curve a and the v ones of curve b, and
// allocates its arrays. 0, or -2 with the error state set.
int ShapeSurfaceFromCurves(Bspline* s, const Bspline* a, const Bspline* b, int rational) {
  s->rational = rational;
  s->degreeU = a->degreeU;
  s->interiorU = a->interiorU;
  s->degreeV = b->degreeU;
  s->interiorV = b->interiorU;
  if (AllocateBsplineArrays(s) < 0 || KernelFailed()) return -2;
  std::memcpy(s->knotsU, a->knotsU, sizeof(double) * NumKnotsU(a));
  std::memcpy(s->knotsV, b->knotsU, sizeof(double) * NumKnotsU(b));
  s->umin = a->umin;
  s->umax = a->umax;
  s->vmin = b->umin;
  s->vmax = b->umax;
  return 0;
}

// Moves the whole net by target - point (0, 0) and, when rational, scales every weight so that
// weight (0, 0) becomes targetWeight (a common factor leaves the shape alone).
void PlaceCorner(Bspline* s, const double target[3], double targetWeight) {
  const double d[3] = {target[0] - s->X[0][0], target[1] - s->Y[0][0], target[2] - s->Z[0][0]};
  const double f = s->rational ? targetWeight / s->W[0][0] : 1.0;
  for (int j = 0; j < NumCtrlV(s); ++j)
    for (int i = 0; i < NumCtrlU(s); ++i) {
      s->X[j][i] += d[0];
      s->Y[j][i] += d[1];
      s->Z[j][i] += d[2];
      if (s->rational) s->W[j][i] *= f;
    }
}

}  // namespace

int CheckIntersection(Bspline* a, Bspline* b, double tol) { return EndControlPointsTouch(a, b, tol); }

void CheckIfCurvesInSameDir(Bspline* rails[2], Bspline* curve, double tol) {
  OrientRailsToCurve(rails, curve, tol);
}

Bspline* ExtrudeW2PathCurves(Bspline* profile, Bspline* path1, Bspline* path2, double tol) {
  return SweepProfileAlongRails(profile, path1, path2, tol);
}

// ---- Extrusion --------------------------------------------------------------------------------

Bspline* ExtrudeSurface(Bspline* profile, Bspline* path, int keepPlace) {
  if (!IsCurve3(profile) || !IsCurve3(path)) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s) return nullptr;
  Bspline* pair[2] = {path, profile};
  MatchRationality(pair, 2);
  if (KernelFailed()) return nullptr;
  if (ShapeSurfaceFromCurves(s.get(), profile, path, profile->rational) < 0) return nullptr;
  const int nU = NumCtrlU(profile), nV = NumCtrlU(path);
  const double w0 = Weight(path, 0);
  for (int j = 0; j < nV; ++j) {  // rows are v (path), columns u (profile)
    const double d[3] = {path->X[0][j] - path->X[0][0], path->Y[0][j] - path->Y[0][0],
                         path->Z[0][j] - path->Z[0][0]};
    for (int i = 0; i < nU; ++i) {
      s->X[j][i] = profile->X[0][i] + d[0];
      s->Y[j][i] = profile->Y[0][i] + d[1];
      s->Z[j][i] = profile->Z[0][i] + d[2];
      if (s->rational) s->W[j][i] = profile->W[0][i] * (path->W[0][j] / w0);
    }
  }
  if (!keepPlace) {
    const double start[3] = {path->X[0][0], path->Y[0][0], path->Z[0][0]};
    PlaceCorner(s.get(), start, w0);
  }
  scope.keep();
  return s.release();
}

Bspline* CreateExtrudeSurface(Bspline* curve, int end, double dir[3], double length) {
  if (!IsCurve3(curve) || (end != 0 && end != 1) || !dir) {
    SetKernelError(-2);
    return nullptr;
  }
  double P[3];
  Eval3DPointOnCurve3Coord(curve, end ? curve->umax : curve->umin, 0, P);
  if (KernelFailed()) return nullptr;
  const double Q[3] = {P[0] + length * dir[0], P[1] + length * dir[1], P[2] + length * dir[2]};
  Owned<Bspline, FreeBspline> path(MkLine3(P, Q, nullptr));
  if (!path) return nullptr;
  return ExtrudeSurface(curve, path.get(), end);
}
