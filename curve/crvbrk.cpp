#include "curve/crvbrk.h"

#include "bspline/cutcurves.h"

int FindBoundaryCrossings(Bspline* curve, double* params, int* count) {
  return DomainBoundaryCrossings(curve, params, count);
}

Bspline* SurfPartEdge2CurveOnSurface(double uA, double vA, double uB, double vB, int edge) {
  const double shortest[2] = {1e-4, 1e-4};
  return DomainEdgePiece(uA, vA, uB, vB, edge, shortest);
}

void ReplaceCurvesOnSurfaceMultiple(Bspline* oldCurve, BsplineList* newHead,
                                    BsplineList* newTail, Bspline* srf) {
  SpliceIntoTrimLoop(oldCurve, newHead, newTail, srf);
}

int BreakCurveOnSurface(Bspline* curve) { return CutCurveAtDomain(curve); }

int BreakAllCurvesOnSurface(Bspline* srf) { return CutCurvesAtDomain(srf); }
