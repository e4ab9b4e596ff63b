// Closest points on surfaces: a search over a uniform grid of surface points, which the caller
// may keep for many queries on the same surface, followed by a local refinement.
//
// Grid cache: three caller-owned arrays gx, gy, gz of nu x nv points, index j nu + i for the
// i-th u and j-th v value; empty is three null pointers. Per direction n = 2 x interior + 4,
// raised to 50 and capped at 200, uniform over the domain. Nothing records the surface a cache
// belongs to: the caller reuses it only for the surface that filled it, unchanged.
#pragma once

#include "bspline/smake.h"

// The grid point nearest to p (an empty cache is filled first; a filled one is used as it is):
// its parameters (u, v) and the surface point q there. interiorOnly skips the first and last
// row and column. The first minimum in scan order (v rows outer, u inner) wins. 0; -2 when the
// cache cannot be made (the cache pointers null), for a point that is not finite or so far away
// that its squared distances overflow, and, error state set, for a srf that is not a sound
// (bsvalid) 3D surface.
int EstimateClosestPntSurf(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                           double q[3], double* u, double* v, int interiorOnly);

// The closest point q of the surface to p with its parameters, the signed distance d (positive
// on the normal's side) and the refiner's convergence value e: the grid estimate (interior only
// for a surface closed in u or v, whose seam rows repeat points) refined to round-off (7 steps
// at least). Where another minimum of the grid's distances lies within about a cell's sag of the
// foot's distance (more than a cell and a half from the foot unless the grid predicts it nearer;
// in the cells beside the foot, any off the foot's own point), as over a fold, between two valleys
// or among bumps, that one may be the nearer; where p lies
// near a centre of curvature of the foot (its distance times the larger principal curvature
// towards p at least 0.8), the distance is flat and the minima beside the foot count too: those
// minima are refined and the nearest foot kept. Where P lies within about a grid cell of a
// non-rational surface (twice differentiable inside), the grid's minima are no guide: every cell
// whose lower bound on the distance (its corners' distances less the sag that the control net's
// derivative bounds allow) is below the foot's is halved and searched instead. Where p + 1 knots
// lie within less than a grid cell (a cluster, over which the surface may swing out to a wall
// the grid does not sample) the strip they span is sampled on its own and its minima refined
// too; so is the parameter line of a kink (p knots within 1e-8 of the domain) where the net's
// legs across it turn, a crease whose crest or ends may be nearest. On a rational surface whose
// weights (all positive) spread more than a hundredfold, which can crowd most of the surface
// into slivers of its parameters the grid does not sample, the foot is also compared with a
// branch and bound over its Bezier patches (a patch lies in its control points' hull; at most
// 4000 patches a query). 0; -2 for a null
// surface or one that is not a sound (bsvalid) 3D surface (error state set), and for a point that
// is not finite (the cache untouched); when the estimate
// (or the scratch of that comparison) fails the cache is freed and nulled and the result is -1
// with the error state set, else -2.
int GetClosestPointOnSurfaceResult(Bspline* srf, const double p[3], double* u, double* v,
                                   double q[3], double* d, double** gx, double** gy, double** gz,
                                   double* e);

// The closest point of a curve (3D or on a surface) or a surface to (x, y, z), into out, with
// caches of its own: the global minimum, an end of the curve (or a point across a closed curve's
// seam) included. A 3D curve with positive weights by branch and bound over its Bezier pieces,
// other curves from every local minimum of dense samples; a surface from its grid estimate and
// every other minimum of the grid's distance. 1 found, 0 failed (an object that is not sound,
// a curve on a surface without a sound owner, a point not finite, memory).
int FindClosestPointOnBspline(Bspline* obj, double x, double y, double z, double out[3]);
