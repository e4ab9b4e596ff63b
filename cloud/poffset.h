// Normals and offsets of point clouds; the overlapping x-y bin grid of height fields, and the
// second-moment matrix of a point set that the principal axes start from.
#pragma once

#include <cstdint>

#include "foundation/vec3.h"

// A growing list of point indices (capacity doubled when full).
struct IndexBin {
  int32_t count;
  int32_t capacity;
  int32_t* items;
};

// A cell spans two cell steps in x and y, so neighbouring cells overlap by one step; it is split
// into 5 x 5 sub-bins, sub-bin (sx, sy) at 5 sy + sx.
struct XYOverlapCell {
  IndexBin* bins;  // 25 bins
  double xlo, xhi, ylo, yhi;
  double zmin, zmax;  // z range of the points entered
};

// The caller sets the box; SubdivideArrays2DOnXYWithOverlap fills the rest.
struct XYOverlapGrid {
  int32_t ncellsX;  // 1..50
  int32_t ncellsY;  // 1..50
  XYOverlapCell* cells;  // cell (ix, iy) at iy ncellsX + ix
  double xmin, xmax, ymin, ymax;
};

// Bins the n points over the grid's x-y box into overlapping cells of about pointsPerCell points
// (<= 0 counts as 1); cellOfPoint[i] and binOfPoint[i] receive each point's own cell and its
// sub-bin there. Everything is allocated in the caller's tracking scope, which frees it. 0, or
// -2 on no memory or when some cell's z range exceeds ten cell sizes (message: the points are no
// height field over x-y).
int SubdivideArrays2DOnXYWithOverlap(const float* x, const float* y, const float* z, int n, int pointsPerCell,
                                     XYOverlapGrid* grid, int* cellOfPoint, int* binOfPoint);

// M (3 x 3 row-pointer) = (1/n) sum over the points of p p^T, p the point's own coordinates
// (not centred). n must be at least 1. Does nothing for a null array.
void ComputeCorrelationMatrix(const float* x, const float* y, const float* z, int n, double** M);

// The sums of ComputeCorrelationMatrix for either element type: partial sums flushed into M
// after every 10001 points, so a large set does not lose its late terms.
template <class T>
void SecondMoments(const T* x, const T* y, const T* z, int n, double** M) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M[r][c] = 0.0;
  double s[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  int pending = 0;
  auto flush = [&] {
    M[0][0] += s[0], M[0][1] += s[1], M[0][2] += s[2];
    M[1][1] += s[3], M[1][2] += s[4], M[2][2] += s[5];
    for (double& v : s) v = 0.0;
    pending = 0;
  };
  for (int i = 0; i < n; ++i) {
    const double px = x[i], py = y[i], pz = z[i];
    s[0] += px * px, s[1] += px * py, s[2] += px * pz;
    s[3] += py * py, s[4] += py * pz, s[5] += pz * pz;
    if (++pending > 10000) flush();
  }
  flush();
  for (int r = 0; r < 3; ++r)
    for (int c = r; c < 3; ++c) M[r][c] /= n;
  M[1][0] = M[0][1], M[2][0] = M[0][2], M[2][1] = M[1][2];
}

// ---- Normals -------------------------------------------------------------------------------
// A normal is a unit vector in three floats; (0, 0, 0) means none (never computed, or judged
// unreliable). It faces the viewer when its image under the 3 x 3 part of the orientation
// transform has z >= 0. A null transform is the identity.
struct Cloud;

// Normals of a scattered cloud from least-squares planes over up to 8 near neighbours (at most 2
// per octant, from the point's grid cell and those around it), oriented by propagation in order
// of agreement from the point nearest the viewer (and from the highest point of each part no
// chain of agreement reaches); a point whose neighbours disagree about orientation and do not fit
// a plane gets none. Writes the caller's n-entry arrays.
// 1, or 0 for fewer than 3 points, no memory, a failed grid, no normal at all or a user break
// (the thermometer is closed on every way out). Running out of memory once the normals are
// fitted returns 1 with the unpropagated normals and the error state set.
int ComputeCloud3DNormals(const Cloud* cloud, float* nx, float* ny, float* nz, const Xform xform);

// In-plane normals of the cloud's polyline (unordered cloud or one scan) or of each scan,
// continuous along each polyline, the whole set turned to face the viewer at the point nearest
// to it. Nothing is written for fewer than 3 points.
void ComputeCloud2DNormals(const Cloud* cloud, float* nx, float* ny, float* nz, const Xform xform);

// Completes the cloud's own normals (made when absent; they belong to the cloud): missing ones
// from plane fits over the nearest neighbours, oriented to agree with their neighbours. 1 when
// every point ends with a normal, else 0 (also for fewer than 3 points, no memory or a failed
// grid). When no point ends with a normal the arrays are dropped.
int AssureCloudNormals(Cloud* cloud);

// Frees the cloud's normal arrays and nulls the fields.
void FreeCloudNormals(Cloud* cloud);

// ---- Offsets -------------------------------------------------------------------------------
// A new cloud of the points moved by d along their normals (single precision); points without
// a normal are left out and labels travel with the kept points. A cloud without complete
// normals gets them first (ComputeCloud3DOffsetNormals with xform, which may be null), attached
// to it only when that succeeds. box (may be null) receives the new cloud's box. Null for a null
// cloud, fewer than 3 points (message "At least 3 points required"), no memory, failed normals,
// a user break or every point left out.
Cloud* CloudOffset(Cloud* cloud, double d, const Xform xform, double* box);

// ComputeOffsetNormals, then RmOffsetSelfXsec when it succeeded; 1 only when both did.
int ComputeCloud3DOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double d, const Xform xform);

// The normals of ComputeCloud3DNormals for offsetting (xform may be null; d is not used):
// scratch made up front (no memory: 0), quieter progress, status line left as it is.
int ComputeOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double d, const Xform xform);

// Blanks the normals of points whose offset segments (p to p + d n) cross a near neighbour's, so
// the offset cloud does not fold over. 1, or 0 for fewer than 3 points, a d that is not finite,
// no memory or a user break.
int RmOffsetSelfXsec(const Cloud* cloud, float* nx, float* ny, float* nz, double d);

// ComputeCloud2DNormals, then blanking of crossing offset segments along each polyline.
void ComputeCloud2DOffsetNormals(const Cloud* cloud, float* nx, float* ny, float* nz, double d, const Xform xform);

// dist[i]: signed distance along A's normal at point i to the point of B within r of it that
// lies nearest that normal line (0 when none); hits[i] grows by one where one was found.
// A point of A that is not finite gets 0 and no hit. 1, or 0 for a null cloud, A without
// normals, an r whose square a float cannot hold, or no memory.
int ProjectCloudOnCloudNorms(const Cloud* cloudA, const Cloud* cloudB, double r, float* dist, int* hits);
