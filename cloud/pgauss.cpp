#include "cloud/pgauss.h"

#include <array>
#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

constexpr int kMaxHalfWidth = 10;

// Row w serves half width w + 1: A is the inverse standard deviation in samples, B scales the
// outermost weight to about 1 (a constant factor the normalisation removes).
constexpr std::array<double, kMaxHalfWidth> kInvSigma = {
    1.1774, 0.9514, 0.8475, 0.7557, 0.6987, 0.6461, 0.6087, 0.5736, 0.5467, 0.5212};
constexpr std::array<double, kMaxHalfWidth> kScale = {
    1.0, 6.11, 25.33, 96.43, 447.11, 1835.21, 8752.07, 37396.85, 180540.53, 791723.63};

// Weights for offsets -k..k (entries 0..2k), summing to 1.
std::array<double, 2 * kMaxHalfWidth + 1> NormalisedKernel(int k) {
  std::array<double, 2 * kMaxHalfWidth + 1> g{};
  double sum = 0.0;
  for (int t = 0; t <= 2 * k; ++t) {
    g[t] = gauss(t - k, k - 1);
    sum += g[t];
  }
  for (int t = 0; t <= 2 * k; ++t) g[t] /= sum;
  return g;
}

template <typename T>
void GaussFilterArray(T* a, int n, int h) {
  int hh = (n - 1) / 2 < h ? (n - 1) / 2 : h;
  if (hh > kMaxHalfWidth) hh = kMaxHalfWidth;  // the weight table ends there
  if (hh <= 0) return;
  TrackingScope scope;
  auto* scratch = MallocArray<double>(n);
  if (!scratch || KernelFailed()) return;
  for (int i = 0; i < n; ++i) scratch[i] = 0.0;
  auto smooth = [&](int i, int k, const std::array<double, 2 * kMaxHalfWidth + 1>& g) {
    double sum = 0.0;
    for (int t = 0; t <= 2 * k; ++t) sum += a[i - k + t] * g[t];
    scratch[i] = sum;
  };
  const auto g = NormalisedKernel(hh);
  for (int i = hh; i <= n - 1 - hh; ++i) smooth(i, hh, g);
  // Near the ends the window shrinks to what fits, so no end value is pulled inward.
  for (int k = 1; k < hh; ++k) {
    const auto gk = NormalisedKernel(k);
    smooth(k, k, gk);
    smooth(n - 1 - k, k, gk);
  }
  for (int i = 1; i <= n - 2; ++i) a[i] = static_cast<T>(scratch[i]);
}

}  // namespace

double GaussianWeight(double sigma, double x) {
  return std::exp((1.0 / (sigma * sigma)) * (x * x) * -0.5);
}

double gauss(int j, int w) {
  const int j2 = j * j;
  return kScale[w] * std::exp(-0.5 * kInvSigma[w] * kInvSigma[w] * j2);
}

void gauss_filter_array_d(double* a, int n, int h) { GaussFilterArray(a, n, h); }
