#include "cloud/pmedian.h"

#include <utility>

#include "cloud/makecld.h"
#include "cloud/pgauss.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"

namespace {

void SortPair(double& a, double& b) {
  if (b < a) std::swap(a, b);
}

// The 3 x 3 window of a w = 3 grid filter takes a border of one replicated sample, so every
// grid sample, border included, has a full window.
template <typename T>
void FilterGrid3x3(T** rows, int ncols, int nrows) {
  double** s = allocate_matrix_ff(nrows + 2, ncols + 2);
  if (!s) return;
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c) s[r + 1][c + 1] = rows[r][c];
    s[r + 1][0] = rows[r][0];
    s[r + 1][ncols + 1] = rows[r][ncols - 1];
  }
  for (int c = 0; c < ncols + 2; ++c) {
    s[0][c] = s[1][c];
    s[nrows + 1][c] = s[nrows][c];
  }
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c)
      rows[r][c] = static_cast<T>(median3x3(&s[r][c], &s[r + 1][c], &s[r + 2][c]));
  }
  matrix_free_ff(s);
}

// Other window sizes shrink the window to fit inside the grid; border samples keep their
// values. Results go to a scratch grid so every window reads unfiltered samples.
template <typename T>
void FilterGridShrinking(T** rows, int ncols, int nrows, int w) {
  int half = w / 2;
  // No window reaches past the middle of the grid: a larger w changes nothing but the scratch.
  for (int limit : {(nrows - 1) / 2, (ncols - 1) / 2}) half = limit < half ? limit : half;
  if (half < 1) return;  // a one-sample window changes nothing
  TrackingScope scope;
  const int side = 2 * half + 1;
  auto* window = MallocArray<double>(side, side);
  double** s = allocate_matrix_ff(nrows, ncols);
  if (!window || !s || KernelFailed()) return;  // the scope frees what was obtained
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c) {
      int k = half;
      for (int limit : {r, nrows - 1 - r, c, ncols - 1 - c}) k = limit < k ? limit : k;
      int count = 0;
      for (int i = r - k; i <= r + k; ++i) {
        for (int j = c - k; j <= c + k; ++j) window[count++] = rows[i][j];
      }
      HeapSort(count, window);
      s[r][c] = window[count / 2];
    }
  }
  for (int r = 0; r < nrows; ++r) {
    for (int c = 0; c < ncols; ++c) rows[r][c] = static_cast<T>(s[r][c]);
  }
  matrix_free_ff(s);
}

template <typename T>
void FilterGrid(T** rows, int ncols, int nrows, int w) {
  if (!rows || ncols < 1 || nrows < 1) return;
  if (w == 3) {
    FilterGrid3x3(rows, ncols, nrows);
  } else {
    FilterGridShrinking(rows, ncols, nrows, w);
  }
}

}  // namespace

double getmedian(double* v, int m) {
  quicksort(v, 0, m - 1);
  return v[m / 2];
}

double median3(const float* p) {
  if (!p) return 0.0;
  double a = p[0], b = p[1], c = p[2];
  SortPair(a, b);
  SortPair(b, c);
  SortPair(a, b);
  return b;
}

double median3x3(const double* r0, const double* r1, const double* r2) {
  if (!r0 || !r1 || !r2) return 0.0;
  double p[9] = {r0[0], r0[1], r0[2], r1[0], r1[1], r1[2], r2[0], r2[1], r2[2]};
  // Compare-exchange network for the median of nine: sort each triple, then the column
  // minima's maximum, the medians' median and the maxima's minimum leave the answer in p[4].
  SortPair(p[1], p[2]); SortPair(p[4], p[5]); SortPair(p[7], p[8]);
  SortPair(p[0], p[1]); SortPair(p[3], p[4]); SortPair(p[6], p[7]);
  SortPair(p[1], p[2]); SortPair(p[4], p[5]); SortPair(p[7], p[8]);
  SortPair(p[0], p[3]); SortPair(p[5], p[8]); SortPair(p[4], p[7]);
  SortPair(p[3], p[6]); SortPair(p[1], p[4]); SortPair(p[2], p[5]);
  SortPair(p[4], p[7]); SortPair(p[4], p[2]); SortPair(p[6], p[4]);
  SortPair(p[4], p[2]);
  return p[4];
}

void MedianFilterArray(float* a, int n, int w) {
  const int hh = (n - 1) / 2 < w / 2 ? (n - 1) / 2 : w / 2;
  if (hh <= 0) return;
  TrackingScope scope;
  auto* scratch = CallocArray<float>(n);
  auto* window = MallocArray<double>(2 * hh + 1);
  if (!scratch || !window || KernelFailed()) return;
  auto median = [&](int i, int k) {
    if (k == 1) return median3(a + i - 1);
    for (int t = 0; t <= 2 * k; ++t) window[t] = a[i - k + t];
    return getmedian(window, 2 * k + 1);
  };
  for (int i = hh; i <= n - 1 - hh; ++i) scratch[i] = static_cast<float>(median(i, hh));
  // Near the ends the window shrinks to what fits, so no end value is pulled inward.
  for (int k = 1; k < hh; ++k) {
    scratch[k] = static_cast<float>(median(k, k));
    scratch[n - 1 - k] = static_cast<float>(median(n - 1 - k, k));
  }
  for (int i = 1; i <= n - 2; ++i) a[i] = scratch[i];
}

void MedianFilterGriddedArray(float** rows, int ncols, int nrows, int w) { FilterGrid(rows, ncols, nrows, w); }
void MedianFilterGriddedArray_d(double** rows, int ncols, int nrows, int w) { FilterGrid(rows, ncols, nrows, w); }

void MedianFilterGridded(Cloud* cloud, int w) {
  TrackingScope scope;
  int ncols, nrows;
  float** rows = GridCloudRows(cloud, &ncols, &nrows);
  if (!rows) return;
  MedianFilterGriddedArray(rows, ncols, nrows, w);
  SetGridCloudHeightRange(cloud, rows, ncols, nrows);
}

void MedianFilterNonGridded(Cloud* cloud, int w) {
  FilterCloudRuns(cloud, nullptr, MedianFilterArray, w);
  if (cloud && cloud->type == 0) {
    MedianFilterArray(cloud->x, cloud->npts, w);
    MedianFilterArray(cloud->y, cloud->npts, w);
    MedianFilterArray(cloud->z, cloud->npts, w);
  }
}

void MedianFilterArraysKeepCorners(float* x, float* y, float* z, int n, int w, double gap2, double a, double b) {
  const CornerTest corners{a, b};
  FilterRuns(x, y, z, n, gap2, &corners, MedianFilterArray, w);
}

void MedianFilterScanKeepCorners(Cloud* cloud, int w, double a, double b) {
  const CornerTest corners{a, b};
  FilterCloudRuns(cloud, &corners, MedianFilterArray, w);
}

int MedianFilterGriddedWithMask(Cloud* cloud, int w, const uint8_t* mask) {
  return FilterKeepingMask(cloud, mask, MedianFilterGridded, w);
}

int MedianFilterNonGriddedWithMask(Cloud* cloud, int w, const uint8_t* mask) {
  return FilterKeepingMask(cloud, mask, MedianFilterNonGridded, w);
}
