#include "cloud/pgauss.h"

#include <array>
#include <cmath>

#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

constexpr int kMaxHalfWidth = 10;

// Row w serves half width w + 1: A is the inverse standard deviation in samples, B scales the
// outermost weight to about 1 (a constant factor the normalisation removes).
constexpr std::array<double, kMaxHalfWidth> kInvSigma = {
    1.1774, 0.9514, 0.8475, 0.7557, 0.6987, 0.6461, 0.6087, 0.5736, 0.5467, 0.5212};
constexpr std::array<double, kMaxHalfWidth> kScale = {
    1.0, 6.11, 25.33, 96.43, 447.11, 1835.21, 8752.07, 37396.85, 180540.53, 791723.63};

using Kernel = std::array<double, 2 * kMaxHalfWidth + 1>;

// Weights for offsets -k..k (entries 0..2k), summing to 1.
Kernel NormalisedKernel(int k) {
  Kernel g{};
  double sum = 0.0;
  for (int t = 0; t <= 2 * k; ++t) {
    g[t] = gauss(t - k, k - 1);
    sum += g[t];
  }
  for (int t = 0; t <= 2 * k; ++t) g[t] /= sum;
  return g;
}

// The kernels of half widths 1..h, made once per pass: entry k - 1 for half width k.
struct Kernels {
  explicit Kernels(int h) {
    for (int k = 1; k <= h; ++k) g[k - 1] = NormalisedKernel(k);
  }
  const Kernel& operator[](int k) const { return g[k - 1]; }
  std::array<Kernel, kMaxHalfWidth> g;
};

// The half width a pass over count values can take: the requested one held to the table and to
// what fits between the ends.
int UsableHalfWidth(int h, int count) {
  int k = (count - 1) / 2 < h ? (count - 1) / 2 : h;
  return k > kMaxHalfWidth ? kMaxHalfWidth : k;
}

// Smooths positions 1 .. count - 2 of a line of values read at read(i) into write(i, value):
// position i uses half width min(hh, i, count - 1 - i), so no end value is pulled inward.
template <class Read, class Write>
void SmoothLine(int count, int hh, const Kernels& g, Read read, Write write) {
  auto at = [&](int i, int k) {
    const Kernel& w = g[k];
    double sum = 0.0;
    for (int t = 0; t <= 2 * k; ++t) sum += read(i - k + t) * w[t];
    write(i, sum);
  };
  for (int i = hh; i <= count - 1 - hh; ++i) at(i, hh);
  for (int k = 1; k < hh; ++k) {
    at(k, k);
    at(count - 1 - k, k);
  }
}

template <typename T>
void GaussFilterArray(T* a, int n, int h) {
  const int hh = UsableHalfWidth(h, n);
  if (hh <= 0) return;
  TrackingScope scope;
  auto* scratch = CallocArray<double>(n);
  if (!scratch || KernelFailed()) return;
  const Kernels g(hh);
  SmoothLine(n, hh, g, [&](int i) { return static_cast<double>(a[i]); }, [&](int i, double v) { scratch[i] = v; });
  for (int i = 1; i <= n - 2; ++i) a[i] = static_cast<T>(scratch[i]);
}

// Method: one pass along the rows (rows 1 .. nrows - 2, grid to scratch), then one along the
// columns (columns 1 .. ncols - 2, scratch to grid); each pass shrinks its half width at its
// own ends. The border rows enter the column pass unsmoothed.
template <typename T>
void GaussFilterGrid(T** rows, int ncols, int nrows, int h) {
  if (!rows || ncols < 1 || nrows < 1) return;
  const int hr = UsableHalfWidth(h, ncols), hc = UsableHalfWidth(h, nrows);
  if (hr <= 0 && hc <= 0) return;
  double** s = allocate_matrix_ff(nrows, ncols);
  if (!s) return;
  for (int r = 0; r < nrows; ++r)
    for (int c = 0; c < ncols; ++c) s[r][c] = rows[r][c];
  if (hr > 0) {
    const Kernels g(hr);
    for (int r = 1; r < nrows - 1; ++r) {
      const T* row = rows[r];
      double* out = s[r];
      SmoothLine(ncols, hr, g, [&](int c) { return static_cast<double>(row[c]); }, [&](int c, double v) { out[c] = v; });
    }
  }
  if (hc > 0) {
    // Row by row, so the scratch is read along its rows: every column of one output row at once.
    const Kernels g(hc);
    auto outputRow = [&](int r, int k) {
      const Kernel& w = g[k];
      for (int c = 1; c < ncols - 1; ++c) {
        double sum = 0.0;
        for (int t = 0; t <= 2 * k; ++t) sum += s[r - k + t][c] * w[t];
        rows[r][c] = static_cast<T>(sum);
      }
    };
    for (int r = hc; r <= nrows - 1 - hc; ++r) outputRow(r, hc);
    for (int k = 1; k < hc; ++k) {
      outputRow(k, k);
      outputRow(nrows - 1 - k, k);
    }
  }
  matrix_free_ff(s);
}

// A line of the cloud lies within its arrays.
bool LineInside(const Cloud* c, int first, int last) { return first >= 0 && first <= last && last < c->npts; }

void FilterRunOf(float* x, float* y, float* z, int first, int count, RunFilter f, int size) {
  f(x + first, count, size);
  f(y + first, count, size);
  f(z + first, count, size);
}

bool IsCorner(const double d[3], const double e[3], double q, const CornerTest& t) {
  const double s = d[0] * e[0] + d[1] * e[1] + d[2] * e[2];
  const double c2 = s * s / q;  // squared cosine of the turn
  return t.a >= 0.0 ? (s < 0.0 || c2 < t.b) : (s < 0.0 && c2 > t.b);
}

}  // namespace

double GaussianWeight(double sigma, double x) {
  // A zero sigma is the limit of ever narrower bells: 1 at the point itself, 0 elsewhere
  // (the formula alone gives 0 times infinity there).
  if (sigma == 0.0) return x == 0.0 ? 1.0 : 0.0;
  return std::exp((1.0 / (sigma * sigma)) * (x * x) * -0.5);
}

double gauss(int j, int w) {
  const int j2 = j * j;
  return kScale[w] * std::exp(-0.5 * kInvSigma[w] * kInvSigma[w] * j2);
}

void gauss_filter_array(float* a, int n, int h) { GaussFilterArray(a, n, h); }
void gauss_filter_array_d(double* a, int n, int h) { GaussFilterArray(a, n, h); }

void apply_gauss_filter(float** rows, int ncols, int nrows, int h) { GaussFilterGrid(rows, ncols, nrows, h); }
void apply_gauss_filter_d(double** rows, int ncols, int nrows, int h) { GaussFilterGrid(rows, ncols, nrows, h); }

float** GridCloudRows(Cloud* cloud, int* ncols, int* nrows) {
  if (!cloud || cloud->nscans < 1 || cloud->ptsPerRow < 1) return nullptr;
  if (static_cast<long long>(cloud->nscans) * cloud->ptsPerRow > cloud->npts) return nullptr;
  float* heights = GetGridArray(cloud);
  float** rows = MallocArray<float*>(cloud->nscans);
  if (!heights || !rows) return nullptr;
  for (int r = 0; r < cloud->nscans; ++r) rows[r] = heights + static_cast<long>(r) * cloud->ptsPerRow;
  *ncols = cloud->ptsPerRow;
  *nrows = cloud->nscans;
  return rows;
}

void SetGridCloudHeightRange(Cloud* cloud, const float* const* rows, int ncols, int nrows) {
  if (!cloud || !rows || ncols < 1 || nrows < 1) return;
  double lo = rows[0][0], hi = rows[0][0];
  for (int r = 0; r < nrows; ++r)
    for (int c = 0; c < ncols; ++c) {
      if (rows[r][c] < lo) lo = rows[r][c];
      if (rows[r][c] > hi) hi = rows[r][c];
    }
  cloud->zMin = lo;
  cloud->zMax = hi;
}

void gauss_filter_gridded_cloud(Cloud* cloud, int h) {
  TrackingScope scope;
  int ncols, nrows;
  float** rows = GridCloudRows(cloud, &ncols, &nrows);
  if (!rows) return;
  apply_gauss_filter(rows, ncols, nrows, h);
  SetGridCloudHeightRange(cloud, rows, ncols, nrows);
}

void FilterRuns(float* x, float* y, float* z, int n, double gap2, const CornerTest* corners, RunFilter f,
                int size) {
  if (n < 2) return;
  int first = 0, count = 1;
  for (int i = 1; i < n; ++i) {
    const double d[3] = {static_cast<double>(x[i]) - x[i - 1], static_cast<double>(y[i]) - y[i - 1],
                         static_cast<double>(z[i]) - z[i - 1]};
    const double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (d2 > gap2) {
      FilterRunOf(x, y, z, first, count, f, size);
      first = i, count = 1;
      continue;
    }
    if (corners && i < n - 1) {
      const double e[3] = {static_cast<double>(x[i + 1]) - x[i], static_cast<double>(y[i + 1]) - y[i],
                           static_cast<double>(z[i + 1]) - z[i]};
      const double q = d2 * (e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
      if (q >= 1e-10 && IsCorner(d, e, q, *corners)) {
        // The corner ends this run and starts the next: both keep it as an end.
        FilterRunOf(x, y, z, first, count + 1, f, size);
        first = i, count = 1;
        continue;
      }
    }
    ++count;
  }
  FilterRunOf(x, y, z, first, count, f, size);
}

void FilterCloudRuns(Cloud* cloud, const CornerTest* corners, RunFilter f, int size) {
  if (!cloud || cloud->npts < 1) return;
  const double gap2 = cloud->charLength * cloud->charLength;
  auto line = [&](int first, int last) {
    if (LineInside(cloud, first, last))
      FilterRuns(cloud->x + first, cloud->y + first, cloud->z + first, last - first + 1, gap2, corners, f, size);
  };
  const CloudSlice* sl = cloud->slice;
  if (cloud->type == 0) {
    line(0, cloud->npts - 1);
  } else if (sl && sl->sliceStart && sl->sliceEnd) {
    for (int k = 0; k < sl->nslices; ++k) line(sl->sliceStart[k], sl->sliceEnd[k]);
  } else if (cloud->scanStart && cloud->scanEnd) {
    for (int k = 0; k < cloud->nscans; ++k) line(cloud->scanStart[k], cloud->scanEnd[k]);
  }
}

bool KeptCoordinates::save(const Cloud* cloud) {
  const int n = cloud->npts;
  if (n < 1) return true;
  x_ = MallocArray<float>(n);
  y_ = MallocArray<float>(n);
  z_ = MallocArray<float>(n);
  if (!x_ || !y_ || !z_ || KernelFailed()) return false;
  for (int i = 0; i < n; ++i) x_[i] = cloud->x[i], y_[i] = cloud->y[i], z_[i] = cloud->z[i];
  return true;
}

int KeptCoordinates::restore(Cloud* cloud, const uint8_t* mask) const {
  // save() succeeded with the error state clear, so a set state now is the filter's failure.
  const bool failed = KernelFailed();
  if (!x_) return failed ? 0 : 1;
  for (int i = 0; i < cloud->npts; ++i) {
    if (failed || mask[i] == 0) cloud->x[i] = x_[i], cloud->y[i] = y_[i], cloud->z[i] = z_[i];
  }
  return failed ? 0 : 1;
}

void gauss_filter_on_scan_line(Cloud* cloud, int h) { FilterCloudRuns(cloud, nullptr, gauss_filter_array, h); }

void GaussFilterArraysKeepCorners(float* x, float* y, float* z, int n, int h, double gap2, double a, double b) {
  const CornerTest corners{a, b};
  FilterRuns(x, y, z, n, gap2, &corners, gauss_filter_array, h);
}

void GaussFilterScanKeepCorners(Cloud* cloud, int h, double a, double b) {
  const CornerTest corners{a, b};
  FilterCloudRuns(cloud, &corners, gauss_filter_array, h);
}

int gauss_filter_gridded_cloud_w_mask(Cloud* cloud, int h, const uint8_t* mask) {
  return FilterKeepingMask(cloud, mask, gauss_filter_gridded_cloud, h);
}

int gauss_filter_on_scan_line_w_mask(Cloud* cloud, int h, const uint8_t* mask) {
  return FilterKeepingMask(cloud, mask, gauss_filter_on_scan_line, h);
}

int GaussFilterScanKeepCornersWithMask(Cloud* cloud, int h, double a, double b, const uint8_t* mask) {
  return FilterKeepingMask(cloud, mask, GaussFilterScanKeepCorners, h, a, b);
}
