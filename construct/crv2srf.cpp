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

Bspline* RuledSurface(Bspline* c0, Bspline* c1) {
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

int IsCurveAnIsoPar(Bspline* crv, int interiorTest) { return IsoParameterKind(crv, interiorTest); }

Bspline* MakeG2ReflecBspline(Bspline* obj, int edge, double out[3]) {
  return EdgeReflectionCurve(obj, edge, out);
}
