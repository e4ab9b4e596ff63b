// Gaussian and median filters of arrays, grids and clouds; centroids and principal axes of point sets.
#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "cloud/makecld.h"
#include "cloud/pcopy.h"
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
  // The median of a list: the middle of the sorted values (the upper one of an even count).
  for (int count : {9, 54}) {
    std::vector<double> v(g.begin(), g.begin() + count), sorted = v;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(getmedian(v.data(), count), sorted[count / 2]);
    EXPECT_EQ(v, sorted);
  }
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

// A cloud over the given points; scans of the given lengths make it scan-ordered.
Cloud* LineCloud(const std::vector<float>& x, const std::vector<float>& y, const std::vector<float>& z,
                 const std::vector<int>& scans = {}) {
  if (scans.empty()) return MakeCld(x.data(), y.data(), z.data(), int(x.size()), nullptr);
  std::vector<int> s, e;
  int at = 0;
  for (int L : scans) s.push_back(at), e.push_back(at + L - 1), at += L;
  return MakeScanCld(x.data(), y.data(), z.data(), int(x.size()), s.data(), e.data(), int(scans.size()), nullptr);
}

TEST_F(CloudFilters, GaussianKeepsPlanesAndRampsForEveryHalfWidthAndShape) {
  // A symmetric normalised kernel reproduces a linear function exactly, ends and shrunken
  // windows included; half widths beyond the table or the grid must run clean too.
  for (int h : {-2, 0, 1, 3, 10, 11, 40}) {
    for (int n : {1, 2, 3, 7, 30}) {
      std::vector<float> a(n);
      for (int i = 0; i < n; ++i) a[i] = 2.0f + 0.5f * float(i);
      const std::vector<float> before = a;
      gauss_filter_array(a.data(), n, h);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], before[i], 1e-5) << h << " " << n << " " << i;
    }
    for (int nr : {1, 2, 3, 8, 25}) {
      for (int nc : {1, 2, 5, 24}) {
        double** m = allocate_matrix_ff(nr, nc);
        std::vector<float> g(nr * nc);
        std::vector<float*> rows(nr);
        for (int r = 0; r < nr; ++r) {
          rows[r] = g.data() + r * nc;
          for (int c = 0; c < nc; ++c) m[r][c] = g[r * nc + c] = float(1.0 + 0.25 * r - 0.75 * c);
        }
        apply_gauss_filter(rows.data(), nc, nr, h);
        apply_gauss_filter_d(m, nc, nr, h);
        for (int r = 0; r < nr; ++r)
          for (int c = 0; c < nc; ++c) {
            EXPECT_NEAR(g[r * nc + c], 1.0 + 0.25 * r - 0.75 * c, 1e-5) << h << " " << nr << "x" << nc;
            EXPECT_NEAR(m[r][c], 1.0 + 0.25 * r - 0.75 * c, 1e-12);
          }
        matrix_free_ff(m);
      }
    }
  }
  // A bump is smoothed but the grid's border keeps its values.
  std::vector<float> g(36, 0.0f);
  std::vector<float*> rows(6);
  for (int r = 0; r < 6; ++r) rows[r] = g.data() + 6 * r;
  g[6 * 2 + 3] = 1.0f, g[6 * 0 + 3] = 5.0f;
  apply_gauss_filter(rows.data(), 6, 6, 2);
  EXPECT_TRUE(g[6 * 2 + 3] < 1.0f && g[6 * 2 + 2] > 0.0f && g[6 * 0 + 3] == 5.0f && g[6 * 1 + 0] == 0.0f);
  // A zero sigma is a spike at 0 instead of NaN there.
  EXPECT_EQ(GaussianWeight(0.0, 0.0), 1.0);
  EXPECT_EQ(GaussianWeight(0.0, 0.5), 0.0);
  EXPECT_EQ(GaussianWeight(1.0, 1.0), std::exp(-0.5));
}

TEST_F(CloudFilters, MediansKeepMonotoneRunsAndRemoveALoneSpike) {
  std::mt19937 rng(5);
  for (int w : {-1, 0, 1, 2, 3, 5, 8, 100}) {
    for (int n : {1, 2, 3, 6, 31}) {
      std::vector<float> a(n);
      float v = 0;
      for (float& e : a) e = v += std::uniform_real_distribution<float>(0, 1)(rng);
      const std::vector<float> before = a;
      MedianFilterArray(a.data(), n, w);
      EXPECT_EQ(a, before) << w << " " << n;  // a monotone run is its own median
      if (n < 3 || w < 2) continue;
      std::vector<float> flat(n, 1.5f);
      flat[n / 2] = 40.0f;
      MedianFilterArray(flat.data(), n, w);
      EXPECT_EQ(flat, std::vector<float>(n, 1.5f)) << w << " " << n;
    }
  }
  // w = 2 reaches one sample to each side, as w = 3 does.
  std::vector<float> a(20), b;
  for (float& e : a) e = std::uniform_real_distribution<float>(-1, 1)(rng);
  b = a;
  MedianFilterArray(a.data(), 20, 2);
  MedianFilterArray(b.data(), 20, 3);
  EXPECT_EQ(a, b);
  // Float grids as the double grids; windows beyond the grid run clean.
  for (int w : {3, 4, 50}) {
    std::vector<float> g(15);
    double** m = allocate_matrix_ff(3, 5);
    std::vector<float*> rows(3);
    for (int r = 0; r < 3; ++r) rows[r] = g.data() + 5 * r;
    for (int i = 0; i < 15; ++i) m[i / 5][i % 5] = g[i] = float(i * 7 % 11);
    MedianFilterGriddedArray(rows.data(), 5, 3, w);
    MedianFilterGriddedArray_d(m, 5, 3, w);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(g[i], m[i / 5][i % 5]) << w;
    matrix_free_ff(m);
  }
}

TEST_F(CloudFilters, RunsBreakAtGapsAndCornersWhichStayBitIdentical) {
  // An L of two noisy legs meeting at a right angle, and a gap after it: the keep-corners
  // filters act as the plain filter on each leg and on the piece past the gap, each with the
  // corner as an end.
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 0.02f);
  std::vector<float> x, y, z;
  for (int i = 0; i <= 10; ++i) x.push_back(float(i)), y.push_back(noise(rng)), z.push_back(noise(rng));
  for (int i = 1; i <= 10; ++i) x.push_back(10 + noise(rng)), y.push_back(float(i)), z.push_back(noise(rng));
  for (int i = 0; i < 8; ++i) x.push_back(30 + float(i)), y.push_back(10 + noise(rng)), z.push_back(noise(rng));
  y[10] = 0.0f;  // the corner itself
  const int n = int(x.size());
  const double a = std::cos(M_PI / 4), gap2 = 4.0;
  for (int size : {1, 2, 3, 4, 13}) {
    for (bool median : {false, true}) {
      std::vector<float> ex = x, ey = y, ez = z;
      for (auto [first, count] : {std::pair{0, 11}, std::pair{10, 11}, std::pair{21, 8}}) {
        for (float* p : {ex.data(), ey.data(), ez.data()}) {
          if (median) {
            MedianFilterArray(p + first, count, size);
          } else {
            gauss_filter_array(p + first, count, size);
          }
        }
      }
      std::vector<float> gx = x, gy = y, gz = z;
      if (median) {
        MedianFilterArraysKeepCorners(gx.data(), gy.data(), gz.data(), n, size, gap2, a, a * a);
      } else {
        GaussFilterArraysKeepCorners(gx.data(), gy.data(), gz.data(), n, size, gap2, a, a * a);
      }
      EXPECT_TRUE(gx == ex && gy == ey && gz == ez) << size << " " << median;
      EXPECT_TRUE(gx[10] == x[10] && gy[10] == y[10] && gz[10] == z[10]);
    }
  }
  // On a cloud the gap is its charLength: the same split through the scan-line walkers.
  Cloud* c = LineCloud(x, y, z, {21, 8});
  c->charLength = 2.0;
  GaussFilterScanKeepCorners(c, 3, a, a * a);
  std::vector<float> ex = x;
  gauss_filter_array(ex.data(), 11, 3), gauss_filter_array(ex.data() + 10, 11, 3), gauss_filter_array(ex.data() + 21, 8, 3);
  EXPECT_TRUE(std::equal(ex.begin(), ex.end(), c->x));
  FreeCloud(c);
  // The median walker on a cloud whose second scan line lies past the gap: each leg and that
  // line filtered on their own, the corner untouched.
  c = LineCloud(x, y, z, {21, 8});
  c->charLength = 2.0;
  MedianFilterScanKeepCorners(c, 3, a, a * a);
  std::vector<float> mx = x, my = y, mz = z;
  for (float* p : {mx.data(), my.data(), mz.data()})
    MedianFilterArray(p, 11, 3), MedianFilterArray(p + 10, 11, 3), MedianFilterArray(p + 21, 8, 3);
  EXPECT_TRUE(std::equal(mx.begin(), mx.end(), c->x));
  EXPECT_TRUE(std::equal(my.begin(), my.end(), c->y));
  EXPECT_TRUE(std::equal(mz.begin(), mz.end(), c->z));
  EXPECT_TRUE(c->x[10] == x[10] && c->y[10] == y[10] && c->z[10] == z[10]);
  FreeCloud(c);
}

TEST_F(CloudFilters, UnorderedCloudsGetOneMoreWholeSequenceMedianPass) {
  std::mt19937 rng(8);
  std::vector<float> x(30), y(30), z(30);
  for (int i = 0; i < 30; ++i)
    x[i] = float(i) + (i >= 15 ? 50.0f : 0.0f), y[i] = std::uniform_real_distribution<float>(0, 1)(rng), z[i] = 0;
  for (bool scans : {false, true}) {
    Cloud* c = LineCloud(x, y, z, scans ? std::vector<int>{15, 15} : std::vector<int>{});
    c->charLength = 5.0;  // the jump of 50 splits the line into two runs
    MedianFilterNonGridded(c, 5);
    std::vector<float> ey = y;
    MedianFilterArray(ey.data(), 15, 5), MedianFilterArray(ey.data() + 15, 15, 5);
    if (!scans) MedianFilterArray(ey.data(), 30, 5);
    EXPECT_TRUE(std::equal(ey.begin(), ey.end(), c->y)) << scans;
    FreeCloud(c);
  }
}

TEST_F(CloudFilters, MaskedPointsGetTheirExactOldCoordinatesAndFailuresChangeNothing) {
  std::mt19937 rng(6);
  const int ncol = 9, nrow = 7;
  std::vector<float> h(ncol * nrow);
  for (float& v : h) v = std::uniform_real_distribution<float>(0, 1)(rng);
  std::vector<uint8_t> mask(ncol * nrow);
  for (uint8_t& m : mask) m = rng() % 2;
  using MaskOp = std::function<int(Cloud*, const uint8_t*)>;
  using PlainOp = std::function<void(Cloud*)>;
  const std::vector<std::pair<MaskOp, PlainOp>> ops = {
      {[](Cloud* c, const uint8_t* m) { return gauss_filter_gridded_cloud_w_mask(c, 2, m); },
       [](Cloud* c) { gauss_filter_gridded_cloud(c, 2); }},
      {[](Cloud* c, const uint8_t* m) { return MedianFilterGriddedWithMask(c, 3, m); },
       [](Cloud* c) { MedianFilterGridded(c, 3); }},
      {[](Cloud* c, const uint8_t* m) { return gauss_filter_on_scan_line_w_mask(c, 3, m); },
       [](Cloud* c) { gauss_filter_on_scan_line(c, 3); }},
      {[](Cloud* c, const uint8_t* m) { return GaussFilterScanKeepCornersWithMask(c, 3, 0.7, 0.49, m); },
       [](Cloud* c) { GaussFilterScanKeepCorners(c, 3, 0.7, 0.49); }},
      {[](Cloud* c, const uint8_t* m) { return MedianFilterNonGriddedWithMask(c, 4, m); },
       [](Cloud* c) { MedianFilterNonGridded(c, 4); }}};
  for (const auto& [masked, plain] : ops) {
    Cloud* c = MakeGridCld(0, 0, 0.1, 0.1, ncol, nrow, 0, 1, h.data(), nullptr);
    c->charLength = 1.0;
    Cloud* ref = CopyCloud(c);
    plain(ref);
    const std::vector<float> x0(c->x, c->x + c->npts);
    ASSERT_EQ(masked(c, mask.data()), 1);
    for (int i = 0; i < c->npts; ++i) {
      EXPECT_EQ(c->z[i], mask[i] ? ref->z[i] : h[i]) << i;
      EXPECT_EQ(c->x[i], mask[i] ? ref->x[i] : x0[i]) << i;
    }
    EXPECT_EQ(c->zMin, ref->zMin);  // the range is the filtered heights'
    FreeCloud(ref);
    // No memory anywhere inside: 0 and the cloud as it was, never a half-filtered one.
    const std::vector<float> x1(c->x, c->x + c->npts), y1(c->y, c->y + c->npts), z1(c->z, c->z + c->npts);
    const int failures = RunWithInjectedFailures(12, 1, [&] {
      const int r = masked(c, mask.data());
      EXPECT_EQ(r == 0, KernelFailedNow());
      if (r == 0) {
        EXPECT_TRUE(std::equal(z1.begin(), z1.end(), c->z) && std::equal(x1.begin(), x1.end(), c->x));
      }
      std::copy(x1.begin(), x1.end(), c->x), std::copy(y1.begin(), y1.end(), c->y), std::copy(z1.begin(), z1.end(), c->z);
      return r ? 0 : -2;
    });
    EXPECT_GT(failures, 3);
    EXPECT_EQ(masked(c, nullptr), 0);
    FreeCloud(c);
  }
}

}  // namespace
