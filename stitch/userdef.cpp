#include "stitch/userdef.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/shrink.h"
#include "stitch/crossder.h"

namespace {

bool OnSurface(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 2 && c->owner;
}

// The iso form of one curve on a non-rational surface, or null when its ends do not share a u
// or a v (the running direction is then unknown: the caller takes the sampled form).
Bspline* IsoFormAlong(Bspline* crv, Bspline* guide, double** result, int magMode, int mode,
                      int samples, int order, bool* tried) {
  Bspline* srf = crv->owner;
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, crv, crv->umin, 0, a);
  Eval2DPointOnCurve2Array(nullptr, crv, crv->umax, 0, b);
  const double tolU = 1e-6 * (srf->umax - srf->umin), tolV = 1e-6 * (srf->vmax - srf->vmin);
  int dir;
  if (std::fabs(b[0] - a[0]) >= tolU && std::fabs(b[1] - a[1]) <= tolV)
    dir = 0;  // runs in u at v = a[1]
  else if (std::fabs(b[0] - a[0]) <= tolU)
    dir = 1;  // runs in v at u = a[0]
  else
    return *tried = false, nullptr;
  *tried = true;
  int flip = 0;
  if (order > 0 && guide) {
    double G[3], S[3], D[3];
    EvalCrvOnSrfArray(nullptr, guide, guide->umin, 0, G);
    Eval3DPointOnSurfArray(srf, a[0], a[1], 0, 0, S);
    const bool acrossU = std::fabs(b[0] - a[0]) < 1e-6;
    Eval3DPointOnSurfArray(srf, a[0], a[1], acrossU ? 1 : 0, acrossU ? 0 : 1, D);
    flip = D[0] * (G[0] - S[0]) + D[1] * (G[1] - S[1]) + D[2] * (G[2] - S[2]) < 0.0;
  }
  const double iso = dir == 0 ? a[1] : a[0];
  const double t0 = dir == 0 ? a[0] : a[1], t1 = dir == 0 ? b[0] : b[1];
  Bspline* d = IsoDerivativeCurve(srf, guide, result, magMode, mode, samples, iso, std::fmin(t0, t1),
                                  std::fmax(t0, t1), dir, order, flip, 1, 1);
  if (!d) return nullptr;
  // The iso curve runs with the surface's parameter; one running the other way is turned.
  if (t1 < t0) ReverseDirection(d, 0);
  const double ra = d->umin, rb = d->umax, ca = crv->umin, cb = crv->umax;
  if (ra != ca || rb != cb) {
    const double s = (cb - ca) / (rb - ra);
    for (int i = 0; i < NumKnotsU(d); ++i) d->knotsU[i] = d->knotsU[i] * s + (ca - ra * s);
    d->umin = ca, d->umax = cb;
  }
  return d;
}

}  // namespace

Bspline** CreateDerivativeCurves(Bspline** curves, Bspline** guides, double** guideResults,
                                 int* params, int mode, double tol, int flag, int order, int n,
                                 int isoFlag, double* knots, int knotCount, int degree) {
  (void)tol;
  if (!curves || n < 1) return nullptr;
  Bspline** out;
  {
    UntrackedScope kept;  // the array is the caller's
    out = CallocArray<Bspline*>(n);
  }
  if (!out) return nullptr;
  OwnedArray<Bspline, FreeBspline> made(out, n);
  for (int i = 0; i < n; ++i) {
    Bspline* c = curves[i];
    if (!OnSurface(c)) {
      if (order != 0) continue;
      if (!(made[i] = CopyBsplineStruct(c))) return nullptr;
      continue;
    }
    Bspline* guide = guides ? guides[i] : nullptr;
    const bool want = guideResults && guide && order == 1;
    double** result = want ? &guideResults[i] : nullptr;
    const int magMode = params ? params[i] : 0;
    bool tried = false;
    if (isoFlag != -1 && !c->rational && !c->owner->rational)
      made[i] = IsoFormAlong(c, guide, result, magMode, mode, flag, order, &tried);
    if (!tried)
      made[i] = NonIsoDerivativeCurve(c, guide, result, want, magMode, mode, flag, order, knots,
                                      knotCount, degree);
    if (!made[i]) return nullptr;
  }
  return made.release();
}

int GetCrossDegreeOfCurveOnSurf(Bspline* curve) {
  if (!OnSurface(curve)) return -2;
  double a[2], b[2];
  Eval2DPointOnCurve2Array(nullptr, curve, curve->umin, 0, a);
  Eval2DPointOnCurve2Array(nullptr, curve, curve->umax, 0, b);
  return std::fabs(b[0] - a[0]) >= 1e-6 ? curve->owner->degreeV : curve->owner->degreeU;
}

int GetCntrlPtsToFix(Bspline* pos[4], Bspline* d1[4], Bspline* d2[4], int flags[4],
                     double** valuesOut, int** indicesOut, int* countOut, int nU, int nV) {
  return BoundaryCurvePointsToHold(pos, d1, d2, flags, valuesOut, indicesOut, countOut, nU, nV);
}
