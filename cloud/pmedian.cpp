#include "cloud/pmedian.h"

#include <utility>

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
void FilterGrid3x3(double** rows, int ncols, int nrows) {
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
    for (int c = 0; c < ncols; ++c) rows[r][c] = median3x3(&s[r][c], &s[r + 1][c], &s[r + 2][c]);
  }
  matrix_free_ff(s);
}

// Other window sizes shrink the window to fit inside the grid; border samples keep their
// values. Results go to a scratch grid so every window reads unfiltered samples.
void FilterGridShrinking(double** rows, int ncols, int nrows, int w) {
  const int half = w / 2;
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
    for (int c = 0; c < ncols; ++c) rows[r][c] = s[r][c];
  }
  matrix_free_ff(s);
}

}  // namespace

double getmedian(double* v, int m) {
  quicksort(v, 0, m - 1);
  return v[m / 2];
}

double median3x3(const double* r0, const double* r1, const double* r2) {
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

void MedianFilterGriddedArray_d(double** rows, int ncols, int nrows, int w) {
  if (!rows || ncols < 1 || nrows < 1) return;
  if (w == 3) {
    FilterGrid3x3(rows, ncols, nrows);
  } else {
    FilterGridShrinking(rows, ncols, nrows, w);
  }
}
