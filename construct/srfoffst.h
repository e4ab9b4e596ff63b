// Offset surfaces and their curves, and the larger principal curvature of a surface on a
// parameter grid (which tells how far an offset may go before it folds).
//
// An offset lies at distance d along the unit normal Su x Sv (positive d along it). Spheres,
// cylinders and cones (exact forms 21, 22, 23) offset exactly into the same kind of quadric;
// other surfaces are offset by interpolating offset samples. The source's trim loops and free
// curves are carried over by projection: the source and its curves are never changed.
//
// Failure causes: a null or incomplete argument, memory (error state set), a closest-point
// search or interpolation that fails, an exact offset that would pass the axis, centre or apex,
// or reach the centre or axis of a sphere or cylinder (NULL, with the largest working distance
// in *limit; the error state is left alone, the caller may go on with another offset).
#pragma once

#include "bspline/smake.h"

// The larger principal curvature at (u, v), signed against the normal Su x Sv (a sphere with
// outward normals gives -1/R), as LargerPrincipalCurvature of bspline/helper: where Su or Sv
// vanishes the point walks toward the domain's middle by 1e-4 of the ranges; a surface
// degenerate all the way to the middle gives 0; so does (error state -2) a record that is not a
// sound surface (bsvalid) or a parameter that is not finite.
double FindCurvatureOfSurface(Bspline* srf, double u, double v);
// out[j nu + i] = FindCurvatureOfSurface(srf, u[i], v[j]) (one row per v value). Returns 0; out
// untouched (error state -2) for inputs FindCurvatureOfSurface refuses.
int ComputeMaxCurvaNPnts(Bspline* srf, double* u, double* v, double* out, int nu, int nv);

// The offset by d of the nu x nv grid points (x, y, z, row j of v holding j nu .. j nu + nu - 1)
// with their unit normals (three doubles per point): the bicubic interpolant of P + d N with
// knots removed within tol in u and then v, and src's trim loops and free curves projected onto
// it. The caller's arrays are only read. NULL on failure.
Bspline* CreateOffsetSurfaceBspline(Bspline* src, double* x, double* y, double* z, double* normals,
                                    int nu, int nv, double d, double tol);
// The exact offset of a sphere, cylinder or cone with src's curves projected onto it. NULL for
// another surface, an offset that passes the axis, centre or apex or reaches the centre or axis,
// within a millionth of the radius at every size (*limit then holds the limiting signed distance: the radius for normals toward the centre,
// which collapse from d = radius on, minus the radius for normals away from it, which collapse
// from d = -radius down; a cone's as ConeOffset says), or failure.
Bspline* OffsetQuadricSurface(Bspline* src, double d, double* limit);
// The cone's description offset by d (a new block the caller frees with Free): apex moved along
// the axis by |d / sin a|, heights by |d sin a|. NULL when |sin a| < 1e-6, or when the offset
// passes the apex (*limit = start tan a / cos a).
QuadricInfo* ConeOffset(Bspline* src, QuadricInfo* cone, double d, double* limit);
// 0 when src is no sphere, cylinder or cone; -10 when the offset by d is possible; -100 when it
// would collapse. *limit = 100000.0 unless an inward-oriented quadric sets its limiting
// distance (radius; for a cone start tan a / cos a) or an outward sphere or cylinder offset by
// d <= -radius sets -radius. A sphere or cylinder collapses from the limit on (d = radius
// inward), less a millionth of the radius (the round-off of a recognised radius); a cone only
// beyond it.
int CheckForQuadricSurface(Bspline* src, double d, double* limit);
// src's trim loops rebuilt on *offset from projected curves (same hole flags, loop order). 0 or
// -2 (a projection failed).
int OffsetTrimCurves(Bspline** offset, Bspline* src, double d);
// Every curve on src that is in no trim loop projected onto offset. 0 or -2.
int OffsetOtherCurvesOnSurf(Bspline* offset, Bspline* src, double d);
// The cubic 2D curve on offset through the offset images of the source curve crv (on its owner)
// at five samples per knot span (after the owner's knot-line crossings were added, on a copy:
// crv stays as it was) and its end, appended to the end of offset's curve list. NULL on failure.
Bspline* ProjectCurve2ToOffsetSurf(Bspline* crv, Bspline* offset, double d);
