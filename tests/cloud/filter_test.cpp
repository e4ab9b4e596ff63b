// Gaussian and median filters, centroids and principal axes of point sets.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cloud/pgauss.h"
#include "cloud/pmedian.h"
#include "cloud/princip.h"
#include "foundation/makemat.h"
#include "foundation/vec3.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class CloudFilters : public KernelTest {};

TEST_F(CloudFilters, GaussianMatchesTheDirectSumKeepsEndsAndConstants) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int n : {2, 5, 7, 12, 40}) {
    for (int h : {1, 2, 5, 10}) {
      std::vector<double> a(n);
      for (double& v : a) v = u(rng);
      // Reference: position i smoothed with half width min(h, i, n - 1 - i), ends kept.
      std::vector<double> expect = a;
      for (int i = 1; i + 1 < n; ++i) {
        const int k = std::min({h, i, n - 1 - i, (n - 1) / 2});
        double sum = 0, wsum = 0;
        for (int j = -k; j <= k; ++j) sum += gauss(j, k - 1) * a[i + j], wsum += gauss(j, k - 1);
        expect[i] = sum / wsum;
      }
      gauss_filter_array_d(a.data(), n, h);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], expect[i], 1e-12) << n << " " << h << " " << i;
    }
  }
  double a[5] = {0, 10, 0, 10, 0};
  MallocFailAfter(0, -1);
  gauss_filter_array_d(a, 5, 2);  // no memory: the array stays as it was
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow() && a[1] == 10);
}

TEST_F(CloudFilters, MediansMatchBruteForceAndFailCleanly) {
  // w = 3 against the 3 x 3 median of the grid with its border replicated; w = 5: border kept,
  // the ring inside uses 3 x 3 windows, the rest 5 x 5.
  std::mt19937 rng(9);
  const int nr = 6, nc = 9;
  double** m = allocate_matrix_ff(nr, nc);
  std::vector<double> g(nr * nc);
  for (double& e : g) e = std::uniform_real_distribution<double>(0, 1)(rng);
  for (int w : {3, 5}) {
    std::copy(g.begin(), g.end(), m[0]);
    MallocFailAfter(0, -1);  // no memory: the grid stays as it was
    MedianFilterGriddedArray_d(m, nc, nr, w);
    MallocFailClear();
    EXPECT_TRUE(KernelFailedNow() && std::equal(g.begin(), g.end(), m[0]));
    ClearKernelError();
    MedianFilterGriddedArray_d(m, nc, nr, w);
    for (int r = 0; r < nr; ++r)
      for (int c = 0; c < nc; ++c) {
        const int k = w == 3 ? 1 : std::min({2, r, nr - 1 - r, c, nc - 1 - c});
        std::vector<double> win;
        for (int i = r - k; i <= r + k; ++i)
          for (int j = c - k; j <= c + k; ++j)
            win.push_back(g[std::clamp(i, 0, nr - 1) * nc + std::clamp(j, 0, nc - 1)]);
        std::sort(win.begin(), win.end());
        EXPECT_EQ(m[r][c], win[win.size() / 2]) << w << " " << r << " " << c;
      }
  }
  matrix_free_ff(m);
}

TEST_F(CloudFilters, PointsOnAPlaneGiveItsNormalAsTheSmallestAxis) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double nrm[3] = {0.3, -0.5, 0.8}, e1[3], e2[3], ev[3], axes[3][3], cr[3];
  VecNormalize3(nrm, nrm);
  PerpVecs(nrm, e1, e2);
  const int n = 500;
  std::vector<float> x(n), y(n), z(n);
  for (int i = 0; i < n; ++i) {
    const double u = 3 * U(rng), v = U(rng);  // longer along e1 than e2, centred at (1, 2, 3)
    float* p[3] = {&x[i], &y[i], &z[i]};
    for (int k = 0; k < 3; ++k) *p[k] = static_cast<float>(k + 1 + u * e1[k] + v * e2[k]);
  }
  ASSERT_EQ(PrincipleComponentAnalysis(x.data(), y.data(), z.data(), n, ev, axes), 0);
  EXPECT_TRUE(ev[0] >= ev[1] && ev[1] >= ev[2]);
  EXPECT_NEAR(ev[2], 0.0, 1e-9);
  EXPECT_NEAR(std::fabs(VecDotProd3(axes[2], nrm)), 1.0, 1e-6);
  VecCrossProd3(axes[0], axes[1], cr);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(cr[k], axes[2][k], 1e-9);  // right-handed
  EXPECT_EQ(PrincipleComponentAnalysis(x.data(), y.data(), z.data(), 1, ev, axes), -2);
  const int failures = RunWithInjectedFailures(20, 1, [&] {
    return PrincipleComponentAnalysis(x.data(), y.data(), z.data(), n, ev, axes);
  });
  EXPECT_GT(failures, 0);

  // More than ten thousand identical points: exactly that point (the sums go in blocks).
  std::vector<float> cx(12345, 0.1f), cy(12345, -7.3f), cz(12345, 2.5f);
  double c[3];
  ComputeCenterOfMass(cx.data(), cy.data(), cz.data(), 12345, c);
  EXPECT_TRUE(c[0] == static_cast<double>(0.1f) && c[1] == static_cast<double>(-7.3f) && c[2] == 2.5);
}

}  // namespace
