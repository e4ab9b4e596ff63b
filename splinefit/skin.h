// Skinning: surfaces through a row of compatible curves, interpolated across the curves with the
// tridiagonal and band systems of splinefit/intrplt. The work behind the documented skinning
// names of construct/crv2srf (Curve3ToSurf, NewCurve3ToSurf, ComputeKnotVecAcrossNCurves,
// AddCurvesIfLessThanOrder, documented there), here so that the grid interpolation of this floor
// skins its rows too.
#pragma once

#include "bspline/smake.h"

// 3D curves of one u degree and interior-knot count with sound shapes: what the skins read.
bool SkinnableCurves(Bspline** curves, int n);
// A new surface record with its arrays, u data (degree, interior count, knots, rational flag)
// from the first curve, kept outside every scope; a sound record until the caller fills it (v
// knots clamped and uniform on [0, 1], every control point at the origin, weights 1). Null on
// failure (error state -2 for a first curve that is not sound, bsvalid, or a v degree or count
// out of range).
Bspline* NewSkinSurface(const Bspline* first, int vdegree, int interiorV);

// ComputeKnotVecAcrossNCurves.
int SkinParamsAcrossCurves(Bspline** curves, int n, double* out, int k);
// Curve3ToSurf.
Bspline* SkinCurveRows(int n, Bspline** curves, double* vknots, int vdegree, int ends[2]);
// AddCurvesIfLessThanOrder.
Bspline** SkinCurvesToOrder(Bspline** curves, int* n, int vdegree);
// NewCurve3ToSurf.
Bspline* SkinCurveRowsBanded(int n, Bspline** curves, double* vparams, int vdegree);
