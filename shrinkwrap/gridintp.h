// Interpolation at given parameters on given knots: the band collocation solve behind the
// shrink-wrap rebuild, which must land in the spline space of the surface it fits. The
// documented names (CurveIntrpltShrink, Curve3ToSurfShrink, SurfaceInterpolateShrink,
// SetupSystemShrink) live in splinefit/intrplt and call these; the band LU is the curve
// floor's (curve/pntintrp), in its band storage.
#pragma once

#include "bspline/smake.h"

// Collocation rows for points 0..m at params: identity rows at both ends, between them the
// p + 1 basis values of the span of params[i] (a parameter on a knot takes the span that starts
// there), spans searched upward from the previous row's. Refused (error state -2, nothing
// written): a null array, p outside 0..kMaxSplineDegree, m below p or 1, or w below p + 1.
void CollocationRowsAtParams(const double* knots, const double* params, int m, double** A,
                             int* idx, int w, int p);

// Degree-p curve of count control points through the points at params (one per point,
// ascending) on the given clamped knot vector (count + p + 1 values); z null gives a 2D curve;
// one point gives the point curve. Null for bad input or when the parameters do not fit the
// knots (error state -2).
Bspline* CurveAtParams(double* x, double* y, double* z, const double* params, int count,
                       const double* knots, int p);
// Skins n compatible non-rational 3D curves at vparams on vknots (n + pv + 1 values); row i of
// the surface belongs to curve i. The domain is left to the caller. Null on failure.
Bspline* SkinAtParams(int n, Bspline** curves, const double* vparams, const double* vknots,
                      int pv);
// Surface of degrees pu, pv with nu x nv control points through the grid (row j holds points
// j nu .. j nu + nu - 1) at the given parameters, on exactly the given knot vectors, its domain
// from them. Null on failure.
Bspline* GridAtParams(double* x, double* y, double* z, int nu, int nv, const double* uparams,
                      const double* vparams, const double* uknots, const double* vknots, int pu,
                      int pv);
