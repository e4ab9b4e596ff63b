// Cleaning of clouds and point arrays: sampling by reliability, plane cuts, scattered points,
// consecutive and near-coincident duplicates, joins of two point sets (and of the boundary
// vertices of two meshes) within a tolerance, and subtraction of one set from another. The cloud
// operations end in the keep-mask rule (cloud/psample.h). Outlier removal lives in
// quadric/premove (it fits spheres), spike removal in curve/premove (it fits curves).
#pragma once

#include "foundation/vec3.h"

struct Cloud;

// Keeps the points whose reliability is at least minReliability. 1, or 0 for a null cloud, one
// without reliability (unchanged) or a failed rule.
int ReliabilitySample(Cloud* cloud, int minReliability);
// The smallest and largest reliability (255 and 0 without points). 1, or 0 with 255 and 0
// when the cloud has no reliability.
int GetMinMaxReliability(const Cloud* cloud, int* min, int* max);

// New clouds of the points on the positive side of the plane a x + b y + c z + d = 0 and of
// those on its negative side, points on the plane in both; a side without points gives null.
// The boxes (either may be null) receive the boxes of the new clouds. 1; 0 for a normal shorter
// than 1e-6 (both null) or no memory (a first cloud already made stays in *above).
int CutCloudByPlane(const Cloud* cloud, double a, double b, double c, double d, Cloud** above, Cloud** below,
                    double* boxAbove, double* boxBelow);

// Drops the points that lie at least dist from both neighbours in point order (the last point
// when it lies farther than dist from the one before it). 0 (also when nothing or everything
// would go: the cloud then unchanged); -2 for fewer than 3 points (after the message "At least
// 2 points required") or a failed rule. When the mask cannot be had the error state is cleared
// and -2 returned.
int RemoveScatteredPoints(Cloud* cloud, double dist);

// Compact the arrays in place, dropping every point that lies within tol on every axis of its
// predecessor in the input (even when that one was dropped); z null: points in the plane.
// Return the new count; n <= 1 returns n; -2 when memory ran out (arrays unchanged).
int RemoveDuplicates(float* x, float* y, float* z, int n, double tol);
int RemoveDuplicates_d(double* x, double* y, double* z, int n, double tol);

// Keeps the points not strictly closer than tol to a point kept before them in x, y, z order,
// moved in their input order to the front of the arrays; index receives their input indices.
// Returns the kept count. n <= 1 or no memory: nothing removed, index 0 .. n - 1.
int RemoveDuplicatePoints(float* x, float* y, float* z, int n, int* index, double tol);

// The union of two point sets, every point of set 2 strictly closer than tol to a point of set 1
// merged into it: xo, yo, zo (room for n1 + n2) receive set 1 sorted by x, y, z, then the kept
// points of set 2 in the same order; map (n1 + n2 entries, set 1 then set 2) the output position
// of every input point. Returns the joined count (n1 + n2, nothing merged, when memory runs out).
// A negative count is an empty set. A null array with points is refused: 0, nothing written,
// error state -2.
int JoinPointSetsToTol(const float* x1, const float* y1, const float* z1, int n1, const float* x2,
                       const float* y2, const float* z2, int n2, float* xo, float* yo, float* zo, int* map,
                       double tol);

// The points of two triangle-mesh clouds with every boundary vertex of b strictly closer than
// tol to a boundary vertex of a merged into it: the points of a at their own indices, then
// those of b in order; map (npts(a) + npts(b)) the output index of every point. Outputs need
// room for npts(a) + npts(b). Returns the output count, 0 on no memory or for a cloud with a
// triangle that names no point (CornersNamePoints; outputs untouched).
int JoinCloudSetsToTol(const Cloud* a, const Cloud* b, float* xo, float* yo, float* zo, int* map, double tol);

// keep[i] (na bytes) = 1 when no point of set B (moved by xform when it is given and not the
// identity) lies strictly closer than tol to point i of set A, else 0. spare is not read. 1, or
// 0 on no memory.
int SubtractCloudsIndex(const float* xa, const float* ya, const float* za, const float* xb, const float* yb,
                        const float* zb, int na, int nb, const double* xform, double tol, int spare, char* keep);
