// Normals and offsets of point clouds; the overlapping x-y bin grid of height fields, and the
// second-moment matrix of a point set that the principal axes start from.
#pragma once

#include <cstdint>

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
// (not centred). n must be at least 1.
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
