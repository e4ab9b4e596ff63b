// Rational surfaces replaced by non-rational bicubic ones, the surface samplers behind it, and
// the projection of a surface's curves and trim loops onto another surface.
#pragma once

#include "bspline/smake.h"

struct Cloud;

// A non-rational bicubic interpolating the surface on a (2 Nu - 2) x (2 Nv - 2) parameter grid
// (Nu, Nv its control-point counts; the grid of SampleSurfaceBspline, points kept in double
// precision), with the surface's free curves and trim loops projected onto it. The source is
// not changed. NULL for a null or incomplete surface, or when sampling or interpolation failed;
// a failed projection leaves the error state set and the new surface is still returned.
Bspline* SurfaceRationalToNonRationalBspline(const Bspline* surface);
// nu x nv samples on a regular parameter grid (u(nu - 1) = umax exactly; one value is umax) with
// unit normals (nx, ny, nz attached). Without trims, or with useTrims 0: one scan per v row.
// Otherwise only the points inside the trim loops, every row keeping a point being a scan over
// its kept points. bbox (may be null) receives the box. The caller frees the cloud. NULL for a
// null or non-surface argument, nu < 1 or nv < 1, no point kept, or memory failure.
Cloud* SampleSurfaceBspline(const Bspline* surface, int nu, int nv, int useTrims, double* bbox);
// m samples per distinct u span and n per distinct v span, the last distinct knot added in each
// direction, evaluated on the grid (u fastest): an untrimmed surface gives a scan-ordered cloud,
// one scan per v row; a trimmed surface the unordered cloud of the grid points inside its
// loops. bbox (may be null) receives the cloud's box. The caller frees the cloud (FreeCloud).
// Null for a null or incomplete 3D surface, m or n below 1, no sample inside the trims, or
// memory failure; null with the error state -2 for a surface that is not sound (bsvalid).
Cloud* SampleSurfacePlateBspline(const Bspline* surface, int m, int n, double* bbox);
// The source's free curves-on-surface and then its trim loops (same hole flags, each merged
// within GlobalTrimGapTol) projected onto the target. Nothing happens for a null argument or a
// source without curves. A projection that finds nothing stops the walk with the error state
// set (-2); what was added to the target before stays.
void ProjectAllCONSToSurf(const Bspline* source, Bspline* target);
