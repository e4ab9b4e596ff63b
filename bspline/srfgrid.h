// Start values for the closest point on a surface from a cache of surface points on a uniform
// grid: the work behind EstimateClosestPntSurf (surface/srfpick), here so that the curve tools
// below the surface floor use it too.
#pragma once

#include "bspline/smake.h"

// Each function here taking a surface refuses (-2, error state set, outputs untouched) one that
// is not a sound (bsvalid) 3D surface.

// EstimateClosestPntSurf as surface/srfpick.h documents it.
int SurfaceGridClosest(Bspline* srf, const double p[3], double** gx, double** gy, double** gz,
                       double q[3], double* u, double* v, int interiorOnly);
// The grid estimate (interiorOnly as there) refined, and every other stretch of the grid where
// a quadratic model of the distance has a minimum below the foot's refined within it too, and
// the far side of a kink (a knot of multiplicity p or a cluster of knots) within a cell of the
// foot: the nearest foot (parameters, point, signed distance d, convergence value e). The global minimum
// near centres of curvature, at some times the cost of one refinement. Where P lies within about
// a grid cell of a non-rational surface, every cell whose bound on the distance (from the control
// net's derivative bounds) is below the foot's is searched instead. 0; -2 when the cache or the
// scratch cannot be made.
int SurfaceClosestFromGrid(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                           double* d, double** gx, double** gy, double** gz, double* e, int interiorOnly);
// Frees the three arrays of a grid cache and sets them null.
void FreeSurfaceGrid(double** gx, double** gy, double** gz);
// GetClosestPointOnSurfaceResult as surface/srfpick.h documents it: the grid estimate refined
// to the closest point (parameters, point, signed distance d, convergence value e), and every
// other minimum of the grid's distances within a cell's sag of the foot's distance refined too
// (those in the cells beside the foot off its own point, and near a focal point of the foot any
// beside it), and the far side of a kink within a cell of the foot; within about a cell of a
// non-rational surface, the cells searched by the bound as SurfaceClosestFromGrid does. Both
// also sample on its own each strip where p + 1 knots lie within less than a grid cell, and
// refine its minima, sample the parameter line of each kink where the surface folds to a crease
// and refine its minima on either side, and on a rational surface whose positive weights spread
// more than a hundredfold compare the foot with a branch and bound over its Bezier patches.
int SurfaceClosestPoint(Bspline* srf, const double p[3], double* u, double* v, double q[3],
                        double* d, double** gx, double** gy, double** gz, double* e);

// A grid cache held by one caller for a pass of queries on one surface: the arrays are freed
// when the holder goes out of scope.
struct SurfaceGridCache {
  double* x = nullptr;
  double* y = nullptr;
  double* z = nullptr;
  SurfaceGridCache() = default;
  SurfaceGridCache(const SurfaceGridCache&) = delete;
  SurfaceGridCache& operator=(const SurfaceGridCache&) = delete;
  ~SurfaceGridCache();
  // SurfaceClosestPoint on this cache.
  int Closest(Bspline* srf, const double p[3], double* u, double* v, double q[3], double* d,
              double* e);
};
