// Median filters of arrays, grids and clouds, in place. They mirror the Gaussian filters
// (pgauss): the same run splitting at gaps and corners, the same keep-mask variants, with a
// window size w in place of a half width. A window of w samples reaches w / 2 to each side, so
// w = 2 acts as w = 3 on arrays and runs; ends of arrays and runs keep their values, and the
// window shrinks near them. On no memory the values are left unchanged. None of them polls the
// user break.
#pragma once

#include <cstdint>

struct Cloud;

// The median of the m values; v is left sorted ascending.
double getmedian(double* v, int m);

// The middle one of p[0], p[1], p[2]; 0 for a null array.
double median3(const float* p);

// The exact median of the nine values r0[0..2], r1[0..2], r2[0..2]; 0 for a null array.
double median3x3(const double* r0, const double* r1, const double* r2);

// Position i becomes the median of the 2k + 1 values around it, k = min(w / 2, i, n - 1 - i).
void MedianFilterArray(float* a, int n, int w);

// Median filter of a row-pointer grid rows[r][c] in place. w = 3: every sample, border
// included, becomes the 3 x 3 median over the grid with its border replicated once. Other w:
// the window shrinks near the border (border samples keep their values).
void MedianFilterGriddedArray(float** rows, int ncols, int nrows, int w);
void MedianFilterGriddedArray_d(double** rows, int ncols, int nrows, int w);

// The height array (GetGridArray) of a gridded cloud, nscans rows of ptsPerRow values; sets zMin
// and zMax to the range of the filtered heights.
void MedianFilterGridded(Cloud* cloud, int w);

// x, y and z along every run of the cloud's lines (runs break at gaps wider than charLength).
// An unordered cloud is one line, and afterwards gets one more pass over all its points as one
// array, across the gaps.
void MedianFilterNonGridded(Cloud* cloud, int w);

// One line of n points, runs also breaking at corners (cosine of the turn below a, b = a^2);
// corner points never move. gap2 is the squared gap length.
void MedianFilterArraysKeepCorners(float* x, float* y, float* z, int n, int w, double gap2, double a, double b);
// That on each line of the cloud with gap2 = charLength^2.
void MedianFilterScanKeepCorners(Cloud* cloud, int w, double a, double b);

// Keep-mask variants: the points whose mask byte is 0 get their old coordinates back. 1, or 0
// (cloud unchanged) on no memory or a null mask.
int MedianFilterGriddedWithMask(Cloud* cloud, int w, const uint8_t* mask);
int MedianFilterNonGriddedWithMask(Cloud* cloud, int w, const uint8_t* mask);
