#include "foundation/sort.h"

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class SortTest : public KernelTest {};

std::mt19937 rng(2024);

// Sorts keys made from base carrying `companions` (0, 1 or 2) arrays c[i] = i and o[i] = -i:
// keys must ascend and every (key, c, o) triple must survive.
template <class K, class C, class Sort>
void CheckPairSort(const std::vector<int>& base, int companions, Sort sort) {
  const size_t n = base.size();
  std::vector<K> key(base.begin(), base.end());
  std::vector<C> comp(n), other(n);
  std::vector<std::pair<K, C>> before, after;
  for (size_t i = 0; i < n; ++i) comp[i] = i, other[i] = -C(i), before.emplace_back(key[i], companions ? comp[i] : 0);
  sort(key.data(), comp.data(), other.data());
  EXPECT_TRUE(std::is_sorted(key.begin(), key.end()));
  for (size_t i = 0; i < n; ++i) {
    after.emplace_back(key[i], companions ? comp[i] : 0);
    EXPECT_TRUE(companions < 2 || other[i] == -comp[i]);
  }
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  EXPECT_EQ(before, after);
}

TEST_F(SortTest, EveryHeapVariantKeepsPairsTogether) {
  for (int n : {0, 1, 2, 3, 7, 64, 257}) {
    std::vector<int> base(n);
    for (int& v : base) v = static_cast<int>(rng() % 17) - 8;  // many duplicates
    // The variants are one template: one key type per companion count stands for them.
    CheckPairSort<int, int>(base, 1, [n](int* k, int* c, int*) { HeapSort2Int(n, k, c); });
    CheckPairSort<double, double>(base, 2, [n](double* k, double* c, double* o) { HeapSort3(n, k, c, o); });
    CheckPairSort<int, int>(base, 0, [n](int* k, int*, int*) { HeapIntSort(n, k); });
    std::vector<int> shifted(base);
    for (int& v : shifted) v += 8;  // unsigned keys
    CheckPairSort<unsigned, int>(shifted, 0, [n](unsigned* k, int*, int*) { HeapUIntSort(n, k); });
    // Three float companions: the third is the first again, so all three must travel together.
    CheckPairSort<int, float>(base, 2, [n](int* k, float* c, float* o) {
      std::vector<float> third(c, c + n);
      HeapSortInt3F(n, k, c, o, third.data());
      for (int i = 0; i < n; ++i) EXPECT_EQ(third[i], c[i]);
    });
  }
  // Callers depend on the exact (deterministic) order of equal keys.
  int keys[3] = {2, 1, 2}, ids[3] = {0, 1, 2};
  HeapSort2Int(3, keys, ids);
  EXPECT_TRUE(ids[0] == 1 && ids[1] == 2 && ids[2] == 0);
}

TEST_F(SortTest, IndexingAndQuicksortMatchTheStandardSort) {
  // Keys that agree to single precision but differ in double: the order must still be right.
  const int n = 200;
  std::vector<double> keys(n);
  for (int i = 0; i < n; ++i) keys[i] = 1.0 + 1e-12 * static_cast<double>(rng() % 1000) + (rng() % 3);
  const std::vector<double> keys0 = keys;
  std::vector<int> idx(n), seen(n, 0);
  HeapSortWithIndexing(n, keys.data(), idx.data());
  EXPECT_EQ(keys, keys0);
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(idx[i] >= 0 && idx[i] < n && seen[idx[i]]++ == 0) << "not a permutation at " << i;
    EXPECT_TRUE(i == 0 || keys[idx[i - 1]] <= keys[idx[i]]) << "at " << i;
  }

  // Duplicates, all equal, organ pipe and reversed runs of a large size (the stack stays
  // shallow), and a sub-range that leaves the rest alone.
  const int big = 20000;
  for (int shape = 0; shape < 4; ++shape) {
    std::vector<double> a(shape == 0 ? 5000 : big);
    for (int i = 0; i < static_cast<int>(a.size()); ++i)
      a[i] = shape == 0 ? rng() % 13 : shape == 1 ? 4.0 : shape == 2 ? std::min(i, big - i) : big - i;
    std::vector<double> ref = a;
    std::sort(ref.begin(), ref.end());
    quicksort(a.data(), 0, static_cast<int>(a.size()) - 1);
    EXPECT_EQ(a, ref);
  }
  double b[6] = {9, 5, 3, 4, 1, 0};
  quicksort(b, 1, 3);
  EXPECT_EQ(std::vector<double>(b, b + 6), (std::vector<double>{9, 3, 4, 5, 1, 0}));
}

TEST_F(SortTest, PointSortsOrderLexicographicallyAndByDirection) {
  const int n = 300;
  std::vector<float> x(n), y(n), z(n);
  std::vector<int> id(n);
  for (int i = 0; i < n; ++i) x[i] = rng() % 5, y[i] = rng() % 5, z[i] = rng() % 5, id[i] = i;
  const std::vector<float> ox = x, oy = y, oz = z;
  SortXYZIndex_f(x.data(), y.data(), z.data(), id.data(), n);
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(x[i] == ox[id[i]] && y[i] == oy[id[i]] && z[i] == oz[id[i]]);
    EXPECT_TRUE(i == 0 || CompareXYZ(x[i - 1], y[i - 1], z[i - 1], x[i], y[i], z[i]) <= 0);
  }
  const double down[3] = {0, -2, 0};  // by descending y; the ids travel with the points
  HeapSortByDirectionIndices_Float(n, x.data(), y.data(), z.data(), id.data(), down);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(x[i] == ox[id[i]] && y[i] == oy[id[i]] && (i == 0 || y[i - 1] >= y[i]));
}

TEST_F(SortTest, VariableHeapSortPermutesEveryArrayAndFailsCleanly) {
  float k[3] = {3, 1, 2};
  int a[3] = {30, 10, 20};
  double b[3] = {0.3, 0.1, 0.2};
  void* arrays[3] = {k, a, b};
  const int types[3] = {0, 1, 2};
  EXPECT_EQ(VariableHeapSort(3, arrays, types, 3), 0);
  EXPECT_TRUE(k[0] == 1.f && a[0] == 10 && a[2] == 30 && b[0] == 0.1 && b[2] == 0.3);
  // Legacy: bad types are reported on standard output.
  double kd[3] = {3, 1, 2};
  void* bad[2] = {kd, a};
  const int badTypes[2] = {2, 7};
  testing::internal::CaptureStdout();
  EXPECT_EQ(VariableHeapSort(3, bad, badTypes, 2), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nVariableHeapSort -- Invalid type (2)\n");
  RunWithInjectedFailures(6, 1, [] {
    std::vector<double> kk = {5, 4, 3, 2, 1};
    std::vector<int> aa = {50, 40, 30, 20, 10};
    void* arr[2] = {kk.data(), aa.data()};
    const int t[2] = {2, 1};
    const int rc = VariableHeapSort(5, arr, t, 2);
    EXPECT_TRUE(rc == 0 ? aa[0] == 10 : rc == -2 && KernelFailedNow());
    return rc;
  });
}

TEST_F(SortTest, ClosestUnmatchedNeighbours) {
  // Items are short segments along x: item j spans [3j, 3j + 1].
  const int n = 6;
  std::vector<float> x0(n), x1(n), zero(n, 0.f);
  for (int j = 0; j < n; ++j) x0[j] = 3.f * j, x1[j] = 3.f * j + 1.f;
  std::vector<int> m0(n, -1), m1(n, -1);
  int out0, out1;
  auto find = [&] {
    FindClosestInTwoArraysRestrict(x0.data(), zero.data(), zero.data(), x1.data(), zero.data(), zero.data(), n,
                                   m0.data(), m1.data(), 2, &out0, &out1);
  };
  // Items 1 and 3 are equally near; the first found is the nearest, the other lies on the
  // far side of item 2 from it, so it stays the second.
  find();
  EXPECT_TRUE(out0 == 1 && out1 == 3);
  m0[2] = 1;
  m1[3] = 7;  // item 3 is taken
  // Items 0 and 4 are equally near; 0 lies behind the matched item 1, so the search moves on
  // to the nearest free item on this side of 1, never to the taken item 3.
  find();
  EXPECT_TRUE(out0 == 1 && out1 == 4);
  m1[2] = 3;
  find();
  EXPECT_TRUE(out0 == -1 && out1 == -1);
}

}  // namespace
