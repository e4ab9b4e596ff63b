// Surfaces lying on top of one another: the work behind FindRedundantSurfaces, DuplicateSurfaces,
// BboxesOverlap and GetClosestPntInTrim (healing/srfbndrc, which documents them), here so that
// FindRedundantSurfacesCore (surface/srfutils) can use it. Boxes are {xmin, ymin, zmin, xmax,
// ymax, zmax}.
#pragma once

#include "bspline/smake.h"

struct OneLink;

// 1 when either box lies inside the other widened by tol on all three axes; boxes that merely
// intersect do not count.
int BoxesNest(const double b0[6], const double b1[6], double tol);

// The point of the trimmed surface s nearest to its point at (u, v): that point when untrimmed;
// else the nearest of the feet on the curves of the first hole whose parameter box holds (u, v),
// or of the first outer loop (the point itself when there is neither). 0, or -2 when a curve's
// estimate fails (memory).
int ClosestPointInTrim(double u, double v, Bspline* s, double out[3]);

// 1 when a lies on b within tol: an interior point of a (moved into its trim) and its boundary
// samples project onto b within tol, the interior point's foot inside b's trim. gx, gy, gz is
// b's closest-point grid cache (filled on first use; the caller frees it). 0 otherwise, also
// when a projection or a sampling fails.
int SurfaceLiesOnSurface(Bspline* a, Bspline* b, double** gx, double** gy, double** gz, double tol);

// Sorts the n surfaces into groups of duplicates: on success the head of index k holds the list
// (nodes from pool, one per surface) of the group whose smallest index is k, every other head
// null. Only surfaces whose boxes nest within tol are compared. 1; 0 when memory runs out first
// (heads untouched), when memory runs out later or the user breaks (heads hold the groups
// joined so far).
int GroupDuplicateSurfaces(Bspline** surfs, int n, const double (*boxes)[6], OneLink** groups,
                           OneLink* pool, double tol);
