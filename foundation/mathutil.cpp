#include "foundation/mathutil.h"

#include <array>

#include "foundation/vec3.h"

double ZK_POW_N(double x, int n) {
  // Repeated multiplication, not pow(): callers compare the results of small integer powers
  // exactly, and |n| is always small.
  const long count = n < 0 ? -static_cast<long>(n) : n;
  double result = 1.0;
  for (long i = 0; i < count; ++i) result *= x;
  return n < 0 ? 1.0 / result : result;
}

namespace {

constexpr int kFactorialTableSize = 30;

// table[k] = (k + 1)!, built by the same successive multiplications the extension above 30 uses.
constexpr std::array<double, kFactorialTableSize> MakeFactorialTable() {
  std::array<double, kFactorialTableSize> table{};
  double f = 1.0;
  for (int k = 0; k < kFactorialTableSize; ++k) {
    f *= static_cast<double>(k + 1);
    table[k] = f;
  }
  return table;
}

constexpr std::array<double, kFactorialTableSize> kFactorials = MakeFactorialTable();

}  // namespace

double GetFactorial(int n) {
  if (n < 1) return 1.0;
  if (n <= kFactorialTableSize) return kFactorials[n - 1];
  double f = kFactorials[kFactorialTableSize - 1];
  for (int k = kFactorialTableSize + 1; k <= n; ++k) f *= static_cast<double>(k);
  return f;
}

int GetBinomialCoeficient(int n, int k, double* out) {
  *out = GetFactorial(n) / (GetFactorial(k) * GetFactorial(n - k));
  return 0;
}

double PntToPntDist(const double a[3], const double b[3]) { return VecDist3(a, b); }

double ComputeVarianceSum(const float* a, int n) {
  if (n <= 0 || !a) return 0.0;
  double mean = 0.0;
  for (int i = 0; i < n; ++i) mean += a[i];
  mean /= n;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d = a[i] - mean;
    sum += d * d;
  }
  return sum;
}
