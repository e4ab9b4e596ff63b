#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cloud/pgauss.h"
#include "cloud/pmedian.h"
#include "foundation/makemat.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudFilters : public KernelTest {};

// Direct reference: position i smoothed with half width min(h, i, n - 1 - i).
std::vector<double> GaussReference(const std::vector<double>& a, int h) {
  const int n = static_cast<int>(a.size());
  std::vector<double> out = a;
  for (int i = 1; i + 1 < n; ++i) {
    const int k = std::min({h, i, n - 1 - i, (n - 1) / 2});
    double sum = 0, wsum = 0;
    for (int j = -k; j <= k; ++j) {
      const double w = gauss(j, k - 1);
      sum += w * a[i + j];
      wsum += w;
    }
    out[i] = sum / wsum;
  }
  return out;
}

TEST_F(CloudFilters, GaussianKeepsEndsAndConstantsAndShrinksNearTheEnds) {
  EXPECT_EQ(GaussianWeight(0.7, 0), 1.0);
  EXPECT_DOUBLE_EQ(GaussianWeight(1, 1), std::exp(-0.5));
  double three[3] = {0, 4, 8};
  gauss_filter_array_d(three, 3, 4);
  EXPECT_NEAR(three[1], 0.25 * 0 + 0.5 * 4 + 0.25 * 8, 1e-4);
  EXPECT_EQ(three[0], 0);
  EXPECT_EQ(three[2], 8);
  double two[2] = {1, 5};
  gauss_filter_array_d(two, 2, 3);
  EXPECT_EQ(two[1], 5);

  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {5, 7, 12, 40}) {
    for (int h : {1, 2, 5, 10}) {
      std::vector<double> a(n);
      for (double& v : a) v = u(rng);
      const std::vector<double> expect = GaussReference(a, h);
      gauss_filter_array_d(a.data(), n, h);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], expect[i], 1e-12) << n << " " << h << " " << i;
      std::vector<double> flat(n, 3.25);
      gauss_filter_array_d(flat.data(), n, h);
      for (double v : flat) EXPECT_NEAR(v, 3.25, 1e-12);
    }
  }
}

TEST_F(CloudFilters, GaussianFilterWithoutMemoryLeavesTheArray) {
  double a[5] = {0, 10, 0, 10, 0};
  MallocFailAfter(0, -1);
  gauss_filter_array_d(a, 5, 2);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(a[1], 10);
}

TEST_F(CloudFilters, MedianOfNineIsExact) {
  // A compare-exchange network that is right on every 0/1 input is right on every input.
  for (int bits = 0; bits < 512; ++bits) {
    double v[9];
    int ones = 0;
    for (int k = 0; k < 9; ++k) ones += (v[k] = (bits >> k) & 1);
    EXPECT_EQ(median3x3(v, v + 3, v + 6), ones >= 5 ? 1.0 : 0.0) << bits;
  }
  double v[5] = {5, 1, 4, 2, 3};
  EXPECT_EQ(getmedian(v, 5), 3);
  EXPECT_EQ(v[0], 1);
}

// Reference of the w = 3 filter: 3 x 3 median over the grid with its border replicated.
double Median3Replicated(const std::vector<std::vector<double>>& g, int r, int c) {
  const int nr = static_cast<int>(g.size()), nc = static_cast<int>(g[0].size());
  std::vector<double> w;
  for (int i = r - 1; i <= r + 1; ++i) {
    for (int j = c - 1; j <= c + 1; ++j) {
      w.push_back(g[std::clamp(i, 0, nr - 1)][std::clamp(j, 0, nc - 1)]);
    }
  }
  std::nth_element(w.begin(), w.begin() + 4, w.end());
  return w[4];
}

TEST_F(CloudFilters, GridMedianMatchesBruteForceAndRemovesSpikes) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(0, 1);
  const int nr = 6, nc = 9;
  double** m = allocate_matrix_ff(nr, nc);
  std::vector<std::vector<double>> g(nr, std::vector<double>(nc));
  for (int r = 0; r < nr; ++r) {
    for (int c = 0; c < nc; ++c) m[r][c] = g[r][c] = u(rng);
  }
  MedianFilterGriddedArray_d(m, nc, nr, 3);
  for (int r = 0; r < nr; ++r) {
    for (int c = 0; c < nc; ++c) EXPECT_EQ(m[r][c], Median3Replicated(g, r, c)) << r << c;
  }
  // w = 5: border keeps its values, the ring inside uses 3 x 3 windows, the rest 5 x 5.
  for (int r = 0; r < nr; ++r) {
    for (int c = 0; c < nc; ++c) m[r][c] = g[r][c];
  }
  MedianFilterGriddedArray_d(m, nc, nr, 5);
  for (int r = 0; r < nr; ++r) {
    for (int c = 0; c < nc; ++c) {
      const int k = std::min({2, r, nr - 1 - r, c, nc - 1 - c});
      std::vector<double> w;
      for (int i = r - k; i <= r + k; ++i) {
        for (int j = c - k; j <= c + k; ++j) w.push_back(g[i][j]);
      }
      std::sort(w.begin(), w.end());
      EXPECT_EQ(m[r][c], w[w.size() / 2]);
    }
  }
  // A single spike anywhere in a constant grid, corners included, disappears with w = 3.
  for (int r = 0; r < nr; ++r) {
    for (int c = 0; c < nc; ++c) {
      for (int i = 0; i < nr; ++i) {
        for (int j = 0; j < nc; ++j) m[i][j] = 2.0;
      }
      m[r][c] = 50.0;
      MedianFilterGriddedArray_d(m, nc, nr, 3);
      EXPECT_EQ(m[r][c], 2.0);
    }
  }
  matrix_free_ff(m);
}

TEST_F(CloudFilters, GridMedianWithoutMemoryLeavesTheGrid) {
  double** m = allocate_matrix_ff(3, 3);
  for (int i = 0; i < 9; ++i) m[i / 3][i % 3] = i == 4 ? 100 : 1;
  for (int w : {3, 5}) {
    MallocFailAfter(0, -1);
    MedianFilterGriddedArray_d(m, 3, 3, w);
    MallocFailClear();
    EXPECT_EQ(m[1][1], 100);
    ClearKernelError();
  }
  matrix_free_ff(m);
}

}  // namespace
