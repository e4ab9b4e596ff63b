#include "construct/extrude.h"

#include "surface/railsweep.h"

int CheckIntersection(Bspline* a, Bspline* b, double tol) { return EndControlPointsTouch(a, b, tol); }

void CheckIfCurvesInSameDir(Bspline* rails[2], Bspline* curve, double tol) {
  OrientRailsToCurve(rails, curve, tol);
}

Bspline* ExtrudeW2PathCurves(Bspline* profile, Bspline* path1, Bspline* path2, double tol) {
  return SweepProfileAlongRails(profile, path1, path2, tol);
}
