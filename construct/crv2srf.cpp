#include "construct/crv2srf.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "curve/endspan.h"
#include "stitch/crossder.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/skin.h"
#include "stitch/vcnobj.h"

int GetShortestCntrlPair(Bspline* a, Bspline* b, int* index, double* dist) {
  return ShortestCtrlPair(a, b, index, dist);
}

int GetBndryDeviation(Bspline* bnd, Bspline* next, double angle, double* dev) {
  if (dev) *dev = BoundaryDeviation(bnd, next, angle);
  return 0;
}

// ---- Skinning -------------------------------------------------------------------------------

int ComputeKnotVecAcrossNCurves(Bspline** curves, int n, double* out, int k) {
  return SkinParamsAcrossCurves(curves, n, out, k);
}

Bspline* Curve3ToSurf(int n, Bspline** curves, double* vknots, int vdegree, int ends[2]) {
  return SkinCurveRows(n, curves, vknots, vdegree, ends);
}

Bspline** AddCurvesIfLessThanOrder(Bspline** curves, int* n, int vdegree) {
  return SkinCurvesToOrder(curves, n, vdegree);
}

Bspline* NewCurve3ToSurf(int n, Bspline** curves, double* vparams, int vdegree) {
  return SkinCurveRowsBanded(n, curves, vparams, vdegree);
}

// RuledSurface's work on curves checked at its door.
static Bspline* RuledBetween(Bspline* c0, Bspline* c1) {
  if (!c0 || !c1 || c0->kind != 1 || c1->kind != 1 || c0->dimension != 3 || c1->dimension != 3)
    return nullptr;
  Bspline* set[2] = {c0, c1};
  EquateDegOfObjSet(set, nullptr, 2);
  if (KernelFailed()) return nullptr;
  MakeKnotVectorsCompatible(set, nullptr, 2, 0);
  if (KernelFailed()) return nullptr;
  EquateRationOfObjSet(set, 2);
  if (KernelFailed() || !SkinnableCurves(set, 2)) return nullptr;
  Bspline* s = NewSkinSurface(c0, 1, 0);
  if (!s) return nullptr;
  s->knotsV[0] = s->knotsV[1] = 0.0;
  s->knotsV[2] = s->knotsV[3] = 1.0;
  SetDomainFromKnots(s, 1);
  SetDomainFromKnots(s, 0);
  double** M[4] = {s->X, s->Y, s->Z, s->W};
  const int nu = NumCtrlU(s);
  for (int r = 0; r < 2; ++r) {
    const Bspline* c = set[r];
    double** C[4] = {c->X, c->Y, c->Z, c->W};
    for (int k = 0; k < (s->rational ? 4 : 3); ++k)
      std::memcpy(M[k][r], C[k][0], sizeof(double) * nu);
  }
  return s;
}

Bspline* RuledSurface(Bspline* c0, Bspline* c1) {
  // Checked before either curve is changed.
  if (!BsplineSound(c0) || !BsplineSound(c1)) return MadeOrFailed<Bspline>(nullptr);
  return SoundRecordOrFailed(RuledBetween(c0, c1));
}

int IsCurveAnIsoPar(Bspline* crv, int interiorTest) { return IsoParameterKind(crv, interiorTest); }

Bspline* MakeG2ReflecBspline(Bspline* obj, int edge, double out[3]) {
  return EdgeReflectionCurve(obj, edge, out);
}

// ---- Cross-boundary derivative curves --------------------------------------------------------

Bspline* GetIsoDerivOfSurf(Bspline* srf, Bspline* ref, double** mag, int, int magMode, int mode,
                           double, int samples, double iso, double t0, double t1, int dir,
                           int order, int atMin, int g2, int normalize) {
  return IsoDerivativeCurve(srf, ref, mag, magMode, mode, samples, iso, t0, t1, dir, order, atMin,
                            g2, normalize);
}

Bspline* GetNonIsoDerivOfSurf(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                              int mode, double, int samples, int order, double* knots, int nKnots,
                              int degree) {
  return NonIsoDerivativeCurve(crv, ref, mag, wantMag, magMode, mode, samples, order, knots, nKnots,
                               degree);
}

int GetNonIsoG1PointsOfSurf(Bspline* crv, Bspline* ref, double** mag, int wantMag, int magMode,
                            int mode, double* t, double* x, double* y, double* z, int n) {
  return NonIsoDirections(crv, ref, mag, wantMag, magMode, mode, t, x, y, z, n);
}

double ComputeTangentMagnitude(double S[3], double R[3], double dir[3], int mode) {
  return TangentMagnitude(S, R, dir, mode);
}

void NormalizeBspline(Bspline* crv) { NormalizeControlPoints(crv); }

// ---- Derivative curves into control rows -----------------------------------------------------

double GetDerivVecMagNearPrefIndx(double* x, double* y, double* z, int preferred, int n) {
  return DerivativeMagnitudeNear(x, y, z, preferred, n);
}

int GetScaledDerivCntrl(Bspline* D, Bspline* P, double targets[6], double scale, int vary) {
  return ScaledDerivativeRow(D, P, targets, scale, vary);
}

namespace {

// entry = P + s_i g entry_i (3D coordinates), s from mags (1 without them).
void DerivativeToRow(Bspline* entry, const Bspline* P, const double* mags, double g) {
  if (!entry || !P || NumCtrlU(entry) != NumCtrlU(P) || entry->dimension != 3 || P->dimension != 3)
    return;
  for (int i = 0; i < NumCtrlU(P); ++i) {
    const double f = (mags ? mags[i] : 1.0) * g;
    entry->X[0][i] = P->X[0][i] + f * entry->X[0][i];
    entry->Y[0][i] = P->Y[0][i] + f * entry->Y[0][i];
    entry->Z[0][i] = P->Z[0][i] + f * entry->Z[0][i];
  }
}

}  // namespace

void ComputeDerivCntrlPts(Bspline** curves, int n, int ends[2], double* mags[2], double spans[2]) {
  for (int e = 0; e < 2; ++e) {
    const int c = ends[e];
    if (c < 1) continue;
    const double f = spans[e] / 3.0;
    const int pos = e == 0 ? 0 : n - 1, step = e == 0 ? 1 : -1;
    const double* s = mags ? mags[e] : nullptr;
    DerivativeToRow(curves[pos + step], curves[pos], s, c == 1 ? f : (n == 4 ? f / 3.0 : f / 2.0));
    if (c == 2) DerivativeToRow(curves[pos + 2 * step], curves[pos], s, n == 4 ? f : 1.5 * f);
  }
}
