// Gaussian weights and smoothing of arrays, grids and clouds. Filters work in place, keep the
// first and last value of every array, row, column and run, and shrink the half width near the
// ends (position i of an array uses min(h, i, n - 1 - i)); half widths above 10, the end of the
// weight table, act as 10, and h <= 0 changes nothing. On no memory the values are left
// unchanged (the allocator has set the error state). None of them polls the user break.
#pragma once

#include <cstdint>

#include "foundation/umalloc.h"

struct Cloud;

// exp(-x^2 / (2 sigma^2)); 1 at x = 0. sigma 0 gives 1 at x = 0 and 0 elsewhere.
double GaussianWeight(double sigma, double x);

// Kernel weight at integer offset j for table row w = half width - 1 (0..9): unnormalised, the
// filters divide by the sum.
double gauss(int j, int w);

// Smooths the n values in place with the normalised kernel of half width min((n - 1) / 2, h).
void gauss_filter_array(float* a, int n, int h);
void gauss_filter_array_d(double* a, int n, int h);

// Separable smoothing of the grid rows[r][c] (nrows x ncols): along rows, then along columns,
// through one double scratch grid. Rows 0 and nrows - 1 and columns 0 and ncols - 1 keep their
// values; each pass holds h to what its direction allows ((count - 1) / 2).
void apply_gauss_filter(float** rows, int ncols, int nrows, int h);
void apply_gauss_filter_d(double** rows, int ncols, int nrows, int h);

// The height array (GetGridArray) of a gridded cloud, nscans rows of ptsPerRow values; sets
// zMin and zMax to the range of the smoothed heights.
void gauss_filter_gridded_cloud(Cloud* cloud, int h);

// x, y and z along every run of the cloud's lines: all points of an unordered cloud, else each
// scan. Runs break where consecutive points lie farther apart than the cloud's charLength.
void gauss_filter_on_scan_line(Cloud* cloud, int h);

// The same on one line of n points, runs also breaking at corners: point i is a corner when the
// cosine of the turn there is below a (b = a^2 given with it). A corner ends one run and starts
// the next, so it never moves. gap2 is the squared gap length.
void GaussFilterArraysKeepCorners(float* x, float* y, float* z, int n, int h, double gap2, double a, double b);
// That on the cloud's lines with gap2 = charLength^2.
void GaussFilterScanKeepCorners(Cloud* cloud, int h, double a, double b);

// Keep-mask variants: the points whose mask byte is 0 get their old coordinates back. 1, or 0
// (cloud unchanged) on no memory or a null mask.
int gauss_filter_gridded_cloud_w_mask(Cloud* cloud, int h, const uint8_t* mask);
int gauss_filter_on_scan_line_w_mask(Cloud* cloud, int h, const uint8_t* mask);
int GaussFilterScanKeepCornersWithMask(Cloud* cloud, int h, double a, double b, const uint8_t* mask);

// ---- Shared with the median filters ---------------------------------------------------------
// A filter of one run of n values in place, with its size parameter (half width or window).
using RunFilter = void (*)(float* a, int n, int size);

// Corner threshold of the keep-corners filters.
struct CornerTest {
  double a;  // signed cosine of the sharpest turn that still counts as smooth
  double b;  // a^2
};

// f on x, y and z of every run of one line of n points; runs break at gaps wider than
// sqrt(gap2) and, when corners is given, at corners.
void FilterRuns(float* x, float* y, float* z, int n, double gap2, const CornerTest* corners, RunFilter f, int size);
// FilterRuns with gap2 = charLength^2 on each line of the cloud (scans, or slices when the cloud
// has them; an unordered cloud is one line).
void FilterCloudRuns(Cloud* cloud, const CornerTest* corners, RunFilter f, int size);

// The coordinates of a cloud before a filter, for the keep-mask variants.
class KeptCoordinates {
 public:
  // False (nothing kept) on no memory.
  bool save(const Cloud* cloud);
  // After the filter: points whose mask byte is 0 get their saved coordinates back, and 1. When
  // the filter ran out of memory every point gets them back, and 0: no half-filtered cloud.
  int restore(Cloud* cloud, const uint8_t* mask) const;

 private:
  TrackingScope scope_;
  float* x_ = nullptr;
  float* y_ = nullptr;
  float* z_ = nullptr;
};

// Runs filter(cloud, args...) between save and restore: the keep-mask form of any cloud filter.
// 1, or 0 (cloud unchanged) on no memory or a null mask.
template <class... A>
int FilterKeepingMask(Cloud* cloud, const uint8_t* mask, void (*filter)(Cloud*, A...), A... args) {
  KeptCoordinates old;
  if (!cloud || !mask || !old.save(cloud)) return 0;
  filter(cloud, args...);
  return old.restore(cloud, mask);
}

// The rows of a gridded cloud's height array (nscans rows of ptsPerRow), in the caller's scope;
// null when the cloud is no consistent grid or memory ran out.
float** GridCloudRows(Cloud* cloud, int* ncols, int* nrows);
// zMin and zMax of a gridded cloud from its heights. Does nothing for a null cloud or rows, or
// no heights.
void SetGridCloudHeightRange(Cloud* cloud, const float* const* rows, int ncols, int nrows);
