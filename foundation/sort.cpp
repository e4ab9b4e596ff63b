#include "foundation/sort.h"

#include <cstdio>
#include <cstring>
#include <tuple>
#include <type_traits>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// The one heap sort. Positions are 1-based (get(p)/set(p, e) address element p - 1): the sift
// arithmetic j = 2 i needs it, and the exact order of equal keys that callers see follows from
// it. Comparisons are strict, so equal keys are not moved past each other in a sift.
template <class Get, class Set, class Less>
void HeapCore(int n, Get get, Set set, Less less) {
  if (n < 2) return;
  using E = std::invoke_result_t<Get, int>;
  int l = n / 2 + 1;
  int r = n;
  for (;;) {
    E e;
    if (l > 1) {
      --l;
      e = get(l);
    } else {
      e = get(r);
      set(r, get(1));
      if (--r == 1) {
        set(1, e);
        return;
      }
    }
    int i = l;
    int j = 2 * l;
    while (j <= r) {
      if (j < r && less(get(j), get(j + 1))) ++j;
      if (!less(e, get(j))) break;
      set(i, get(j));
      i = j;
      j *= 2;
    }
    set(i, e);
  }
}

// Sorts by key[] and carries every companion array along.
template <class K, class... C>
void HeapSortArrays(int n, K* key, C*... cols) {
  HeapCore(
      n, [&](int p) { return std::tuple<K, C...>(key[p - 1], cols[p - 1]...); },
      [&](int p, const std::tuple<K, C...>& e) {
        std::apply(
            [&](const K& k, const C&... v) {
              key[p - 1] = k;
              ((cols[p - 1] = v), ...);
            },
            e);
      },
      [](const std::tuple<K, C...>& a, const std::tuple<K, C...>& b) { return std::get<0>(a) < std::get<0>(b); });
}

}  // namespace

void HeapSort(int n, double* a) { HeapSortArrays(n, a); }

void HeapSort3(int n, double* keys, double* b, double* c) { HeapSortArrays(n, keys, b, c); }

void HeapSort2FloatInt4(int n, double* keys, int* ids) { HeapSortArrays(n, keys, ids); }

void HeapSortFloatInt(int n, float* keys, int* ids) { HeapSortArrays(n, keys, ids); }

void HeapIntSort(int n, int* a) { HeapSortArrays(n, a); }

void HeapUIntSort(int n, unsigned* a) { HeapSortArrays(n, a); }

void HeapSort2Int(int n, int* keys, int* ids) { HeapSortArrays(n, keys, ids); }

void HeapSortInt3F(int n, int* keys, float* a, float* b, float* c) { HeapSortArrays(n, keys, a, b, c); }

void HeapSortByDirectionIndices_Float(int n, float* x, float* y, float* z, int* ids, const double dir[3]) {
  using E = std::tuple<float, float, float, int>;
  const double dx = dir[0], dy = dir[1], dz = dir[2];
  auto key = [&](const E& e) {
    return static_cast<double>(std::get<0>(e)) * dx + static_cast<double>(std::get<1>(e)) * dy +
           static_cast<double>(std::get<2>(e)) * dz;
  };
  HeapCore(
      n, [&](int p) { return E(x[p - 1], y[p - 1], z[p - 1], ids[p - 1]); },
      [&](int p, const E& e) { std::tie(x[p - 1], y[p - 1], z[p - 1], ids[p - 1]) = e; },
      [&](const E& a, const E& b) { return key(a) < key(b); });
}

void SortXYZIndex_f(float* x, float* y, float* z, int* ids, int n) {
  using E = std::tuple<float, float, float, int>;
  HeapCore(
      n, [&](int p) { return E(x[p - 1], y[p - 1], z[p - 1], ids[p - 1]); },
      [&](int p, const E& e) { std::tie(x[p - 1], y[p - 1], z[p - 1], ids[p - 1]) = e; },
      [](const E& a, const E& b) {
        return CompareXYZ(std::get<0>(a), std::get<1>(a), std::get<2>(a), std::get<0>(b), std::get<1>(b),
                          std::get<2>(b)) < 0;
      });
}

void HeapSortWithIndexing(int n, const double* keys, int* idx) {
  if (!keys || !idx) return;
  for (int i = 0; i < n; ++i) idx[i] = i;
  // The key being placed is compared in full double precision (it is looked up, not held).
  HeapCore(
      n, [&](int p) { return idx[p - 1]; }, [&](int p, int e) { idx[p - 1] = e; },
      [&](int a, int b) { return keys[a] < keys[b]; });
}

void quicksort(double* a, int lo, int hi) {
  if (!a || lo < 0) return;
  // Recursing only into the smaller part bounds the stack by log2(n); the parts are disjoint,
  // so the order in which they are sorted does not change the result.
  while (lo < hi) {
    const double pivot = a[(lo + hi) / 2];
    int i = lo;
    int j = hi;
    do {
      while (a[i] < pivot && i < hi) ++i;
      while (a[j] > pivot && j > lo) --j;
      if (i <= j) {
        const double t = a[i];
        a[i] = a[j];
        a[j] = t;
        ++i;
        --j;
      }
    } while (j >= i);
    if (j - lo < hi - i) {
      if (j > lo) quicksort(a, lo, j);
      lo = i;
    } else {
      if (i < hi) quicksort(a, i, hi);
      hi = j;
    }
  }
}

int VariableHeapSort(int n, void** arrays, const int* types, int narrays) {
  if (narrays < 1) return 0;  // nothing to sort
  TrackingScope scope;
  int* perm = MallocArray<int>(n > 0 ? n : 0);
  if (KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) perm[i] = i;

  switch (types[0]) {
    case 0:
      HeapSortFloatInt(n, static_cast<float*>(arrays[0]), perm);
      break;
    case 1:
      HeapSort2Int(n, static_cast<int*>(arrays[0]), perm);
      break;
    case 2:
      HeapSort2FloatInt4(n, static_cast<double*>(arrays[0]), perm);
      break;
    default:
      // Legacy: this sort reports on standard output, not through the host.
      std::printf("\nVariableHeapSort -- Invalid type.\n");
      return -2;
  }

  for (int k = 1; k < narrays; ++k) {
    if (types[k] < 0 || types[k] > 2) {
      std::printf("\nVariableHeapSort -- Invalid type (2)\n");
      return -2;
    }
    const unsigned width = types[k] == 2 ? 8u : 4u;
    TrackingScope inner;
    unsigned char* scratch = MallocArray<unsigned char>(n > 0 ? n : 0, width);
    if (KernelFailed()) return -2;
    unsigned char* dst = static_cast<unsigned char*>(arrays[k]);
    if (n > 0) std::memcpy(scratch, dst, static_cast<size_t>(n) * width);
    for (int i = 0; i < n; ++i) {
      std::memcpy(dst + static_cast<size_t>(i) * width, scratch + static_cast<size_t>(perm[i]) * width, width);
    }
  }
  return 0;
}

int CompareXYZ(double x1, double y1, double z1, double x2, double y2, double z2) {
  if (x1 > x2) return 1;
  if (x1 < x2) return -1;
  if (y1 > y2) return 1;
  if (y1 < y2) return -1;
  if (z1 > z2) return 1;
  if (z1 < z2) return -1;
  return 0;
}

float GetMinDistBetweenPointsIn2Arrays(const float* x0, const float* y0, const float* z0, const float* x1,
                                       const float* y1, const float* z1, int a, int b) {
  const float* xs[2] = {x0, x1};
  const float* ys[2] = {y0, y1};
  const float* zs[2] = {z0, z1};
  float best = kNoValueF;
  if (!x0 || !y0 || !z0 || !x1 || !y1 || !z1 || a < 0 || b < 0) return best;
  for (int ea = 0; ea < 2; ++ea)
    for (int eb = 0; eb < 2; ++eb) {
      const float dx = xs[ea][a] - xs[eb][b];
      const float dy = ys[ea][a] - ys[eb][b];
      const float dz = zs[ea][a] - zs[eb][b];
      const float d = dx * dx + dy * dy + dz * dz;
      if (d < best) best = d;
    }
  return best;
}

void FindClosestInTwoArraysRestrict(const float* x0, const float* y0, const float* z0, const float* x1,
                                    const float* y1, const float* z1, int n, const int* match0,
                                    const int* match1, int i, int* out0, int* out1) {
  if (!out0 || !out1) return;
  *out0 = -1;
  *out1 = -1;
  if (!x0 || !y0 || !z0 || !x1 || !y1 || !z1 || !match0 || !match1 || i < 0 || i >= n) return;
  if (match0[i] >= 0 && match1[i] >= 0) return;
  auto dist = [&](int a, int b) { return GetMinDistBetweenPointsIn2Arrays(x0, y0, z0, x1, y1, z1, a, b); };

  float best = kNoValueF;
  if (match0[i] >= 0) {
    *out0 = match0[i];
    for (int j = 0; j < n; ++j) {
      if (j == i || j == match0[i] || match1[j] >= 0) continue;
      const float d = dist(i, j);
      if (d < best) {
        best = d;
        *out1 = j;
      }
    }
  } else {
    float best0 = kNoValueF;
    for (int j = 0; j < n; ++j) {
      if (j == i || match1[j] >= 0) continue;
      const float d = dist(i, j);
      if (d < best0) {
        *out1 = *out0;
        best = best0;
        *out0 = j;
        best0 = d;
      } else if (d < best) {
        *out1 = j;
        best = d;
      }
    }
  }

  // The second candidate lies nearer to the first than to i: look instead for the nearest item
  // that is on i's side of the first. Items whose end 1 is taken stay excluded here too, so the
  // answer is always an unmatched neighbour.
  if (*out1 >= 0 && dist(*out0, *out1) < best) {
    const int previous = *out1;
    float bestAgain = kNoValueF;
    *out1 = -1;
    for (int j = 0; j < n; ++j) {
      if (j == i || j == *out0 || j == previous || match1[j] >= 0) continue;
      const float d = dist(i, j);
      if (d < dist(j, *out0) && d < bestAgain) {
        bestAgain = d;
        *out1 = j;
      }
    }
  }
}
