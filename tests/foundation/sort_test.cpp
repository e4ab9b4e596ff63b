#include "foundation/sort.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "tests/support/kernel_fixture.h"

namespace {

class SortTest : public KernelTest {};

std::mt19937 rng(2024);

// Keys drawn from a small range so that duplicates are common.
std::vector<int> DupKeys(int n) {
  std::vector<int> k(n);
  for (int& v : k) v = static_cast<int>(rng() % 17) - 8;
  return k;
}

// Checks that (key, companion) pairs survived as a multiset and that keys ascend.
template <class K, class C>
void ExpectSortedPairs(const std::vector<K>& key0, const std::vector<C>& comp0, const std::vector<K>& key,
                       const std::vector<C>& comp) {
  ASSERT_EQ(key.size(), key0.size());
  for (size_t i = 1; i < key.size(); ++i) ASSERT_LE(key[i - 1], key[i]) << "at " << i;
  std::vector<std::pair<K, C>> a, b;
  for (size_t i = 0; i < key.size(); ++i) {
    a.emplace_back(key0[i], comp0[i]);
    b.emplace_back(key[i], comp[i]);
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

TEST_F(SortTest, EveryHeapVariantKeepsPairsTogether) {
  for (int n : {0, 1, 2, 3, 7, 64, 257}) {
    const std::vector<int> base = DupKeys(n);
    std::vector<int> ids(n);
    for (int i = 0; i < n; ++i) ids[i] = i;

    std::vector<double> kd(base.begin(), base.end()), kd0 = kd;
    std::vector<int> id = ids;
    HeapSort2FloatInt4(n, kd.data(), id.data());
    ExpectSortedPairs(kd0, ids, kd, id);

    std::vector<float> kf(base.begin(), base.end()), kf0 = kf;
    id = ids;
    HeapSortFloatInt(n, kf.data(), id.data());
    ExpectSortedPairs(kf0, ids, kf, id);

    std::vector<int> ki = base;
    id = ids;
    HeapSort2Int(n, ki.data(), id.data());
    ExpectSortedPairs(base, ids, ki, id);

    // Three companions: each must still be the function of the original index.
    std::vector<double> k3(base.begin(), base.end()), b3(n), c3(n);
    for (int i = 0; i < n; ++i) b3[i] = i, c3[i] = -i;
    std::vector<double> k30 = k3, b30 = b3;
    HeapSort3(n, k3.data(), b3.data(), c3.data());
    ExpectSortedPairs(k30, b30, k3, b3);
    for (int i = 0; i < n; ++i) EXPECT_EQ(c3[i], -b3[i]);

    std::vector<int> kif = base;
    std::vector<float> fa(n), fb(n), fc(n);
    for (int i = 0; i < n; ++i) fa[i] = i, fb[i] = 2.f * i, fc[i] = 3.f * i;
    std::vector<float> fa0 = fa;
    HeapSortInt3F(n, kif.data(), fa.data(), fb.data(), fc.data());
    ExpectSortedPairs(base, fa0, kif, fa);
    for (int i = 0; i < n; ++i) EXPECT_EQ(fb[i], 2.f * fa[i]);

    std::vector<double> plain(base.begin(), base.end());
    HeapSort(n, plain.data());
    EXPECT_TRUE(std::is_sorted(plain.begin(), plain.end()));
    std::vector<int> plainInt = base;
    HeapIntSort(n, plainInt.data());
    EXPECT_TRUE(std::is_sorted(plainInt.begin(), plainInt.end()));
  }
}

TEST_F(SortTest, UnstableOrderOfEqualKeysIsThePinnedOne) {
  int keys[3] = {2, 1, 2}, ids[3] = {0, 1, 2};
  HeapSort2Int(3, keys, ids);
  EXPECT_EQ(keys[0], 1);
  EXPECT_EQ(keys[2], 2);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 0);
}

TEST_F(SortTest, SignedAndUnsignedKeysDiffer) {
  unsigned u[2] = {2147483648u, 1u};
  HeapUIntSort(2, u);
  EXPECT_EQ(u[0], 1u);
  int s[2] = {1, static_cast<int>(0x80000000u)};
  HeapIntSort(2, s);
  EXPECT_EQ(s[0], static_cast<int>(0x80000000u));
}

TEST_F(SortTest, IndexingOrdersKeysCloserThanSinglePrecision) {
  // Keys that agree to single precision but differ in double: the order must still be right.
  const int n = 200;
  std::vector<double> keys(n);
  for (int i = 0; i < n; ++i) keys[i] = 1.0 + 1e-12 * static_cast<double>(rng() % 1000) + (rng() % 3);
  const std::vector<double> keys0 = keys;
  std::vector<int> idx(n);
  HeapSortWithIndexing(n, keys.data(), idx.data());
  EXPECT_EQ(keys, keys0);
  std::vector<int> seen = idx;
  std::sort(seen.begin(), seen.end());
  for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], i);
  for (int i = 1; i < n; ++i) EXPECT_LE(keys[idx[i - 1]], keys[idx[i]]) << "at " << i;
}

TEST_F(SortTest, QuicksortSortsDuplicatesAndAdversarialRuns) {
  for (int n : {1, 2, 5, 100, 5000}) {
    std::vector<double> a(n);
    for (double& v : a) v = static_cast<double>(rng() % 13);
    std::vector<double> ref = a;
    std::sort(ref.begin(), ref.end());
    quicksort(a.data(), 0, n - 1);
    EXPECT_EQ(a, ref);
  }
  std::vector<double> same(1000, 4.0);
  quicksort(same.data(), 0, 999);
  EXPECT_TRUE(std::all_of(same.begin(), same.end(), [](double v) { return v == 4.0; }));
  // Already sorted, reversed and organ-pipe inputs of a large size.
  const int n = 20000;
  std::vector<double> a(n);
  for (int i = 0; i < n; ++i) a[i] = (i < n / 2) ? i : n - i;
  quicksort(a.data(), 0, n - 1);
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));
  for (int i = 0; i < n; ++i) a[i] = n - i;
  quicksort(a.data(), 0, n - 1);
  EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));
  // A sub-range leaves the rest alone.
  double b[6] = {9, 5, 3, 4, 1, 0};
  quicksort(b, 1, 3);
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(b[1], 3);
  EXPECT_EQ(b[3], 5);
  EXPECT_EQ(b[5], 0);
}

TEST_F(SortTest, PointSortsOrderLexicographicallyAndByDirection) {
  float x[3] = {1, 0, 0}, y[3] = {0, 5, 5}, z[3] = {0, 5, 1};
  int ids[3] = {0, 1, 2};
  SortXYZIndex_f(x, y, z, ids, 3);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  EXPECT_EQ(z[0], 1.f);

  const int n = 300;
  std::vector<float> px(n), py(n), pz(n);
  std::vector<int> id(n);
  for (int i = 0; i < n; ++i) {
    px[i] = static_cast<float>(rng() % 5);
    py[i] = static_cast<float>(rng() % 5);
    pz[i] = static_cast<float>(rng() % 5);
    id[i] = i;
  }
  const std::vector<float> ox = px, oy = py, oz = pz;
  std::vector<float> sx = px, sy = py, sz = pz;
  std::vector<int> sid = id;
  SortXYZIndex_f(sx.data(), sy.data(), sz.data(), sid.data(), n);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(sx[i], ox[sid[i]]);
    EXPECT_EQ(sy[i], oy[sid[i]]);
    EXPECT_EQ(sz[i], oz[sid[i]]);
    if (i > 0) {
      EXPECT_LE(CompareXYZ(sx[i - 1], sy[i - 1], sz[i - 1], sx[i], sy[i], sz[i]), 0);
    }
  }
  const double dir[3] = {0.3, -1.0, 0.5};
  HeapSortByDirectionIndices_Float(n, px.data(), py.data(), pz.data(), id.data(), dir);
  double last = -1e300;
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(px[i], ox[id[i]]);
    EXPECT_EQ(pz[i], oz[id[i]]);
    const double key = px[i] * dir[0] + py[i] * dir[1] + pz[i] * dir[2];
    EXPECT_LE(last, key);
    last = key;
  }
}

TEST_F(SortTest, VariableHeapSortPermutesEveryArray) {
  float k[3] = {3, 1, 2};
  int a[3] = {30, 10, 20};
  double b[3] = {0.3, 0.1, 0.2};
  void* arrays[3] = {k, a, b};
  const int types[3] = {0, 1, 2};
  EXPECT_EQ(VariableHeapSort(3, arrays, types, 3), 0);
  EXPECT_EQ(k[0], 1.f);
  EXPECT_EQ(a[0], 10);
  EXPECT_EQ(a[2], 30);
  EXPECT_EQ(b[0], 0.1);
  EXPECT_EQ(b[2], 0.3);
  EXPECT_EQ(MallocTrackLevel(), 0);
}

TEST_F(SortTest, VariableHeapSortReportsBadTypesOnStandardOutput) {
  double k[3] = {3, 1, 2};
  int other[3] = {1, 2, 3};
  void* arrays[2] = {k, other};
  const int types[2] = {2, 7};
  testing::internal::CaptureStdout();
  EXPECT_EQ(VariableHeapSort(3, arrays, types, 2), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nVariableHeapSort -- Invalid type (2)\n");
  EXPECT_EQ(k[0], 1.0);  // the first array was already sorted
  EXPECT_EQ(MallocTrackLevel(), 0);

  const int bad[1] = {5};
  testing::internal::CaptureStdout();
  EXPECT_EQ(VariableHeapSort(3, arrays, bad, 1), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nVariableHeapSort -- Invalid type.\n");
}

TEST_F(SortTest, VariableHeapSortFailsCleanlyWithoutMemory) {
  for (long skip = 0; skip < 6; ++skip) {
    ClearKernelError();
    std::vector<double> k = {5, 4, 3, 2, 1};
    std::vector<int> a = {50, 40, 30, 20, 10};
    void* arrays[2] = {k.data(), a.data()};
    const int types[2] = {2, 1};
    MallocFailAfter(skip, -1);
    const int rc = VariableHeapSort(5, arrays, types, 2);
    MallocFailClear();
    EXPECT_EQ(MallocTrackLevel(), 0);
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (rc == 0) {
      EXPECT_EQ(a[0], 10);
    } else {
      EXPECT_EQ(rc, -2);
      EXPECT_TRUE(KernelFailedNow());
    }
  }
  ClearKernelError();
}

TEST_F(SortTest, ClosestUnmatchedNeighbours) {
  // Items are short segments along x: item j spans [3j, 3j + 1].
  const int n = 6;
  std::vector<float> x0(n), y0(n, 0.f), z0(n, 0.f), x1(n), y1(n, 0.f), z1(n, 0.f);
  for (int j = 0; j < n; ++j) x0[j] = 3.f * j, x1[j] = 3.f * j + 1.f;
  std::vector<int> m0(n, -1), m1(n, -1);
  EXPECT_FLOAT_EQ(GetMinDistBetweenPointsIn2Arrays(x0.data(), y0.data(), z0.data(), x1.data(), y1.data(), z1.data(),
                                                   2, 3),
                  4.f);
  int out0, out1;
  FindClosestInTwoArraysRestrict(x0.data(), y0.data(), z0.data(), x1.data(), y1.data(), z1.data(), n, m0.data(),
                                 m1.data(), 2, &out0, &out1);
  // Items 1 and 3 are equally near; the first found is the nearest, the other lies on the
  // far side of item 2 from it, so it stays the second.
  EXPECT_EQ(out0, 1);
  EXPECT_EQ(out1, 3);
  m0[2] = 1;
  m1[3] = 7;  // item 3 is taken
  // Items 0 and 4 are equally near; 0 lies behind the matched item 1, so the search moves on
  // to the nearest free item on this side of 1, never to the taken item 3.
  FindClosestInTwoArraysRestrict(x0.data(), y0.data(), z0.data(), x1.data(), y1.data(), z1.data(), n, m0.data(),
                                 m1.data(), 2, &out0, &out1);
  EXPECT_EQ(out0, 1);
  EXPECT_EQ(out1, 4);
  m1[2] = 3;
  FindClosestInTwoArraysRestrict(x0.data(), y0.data(), z0.data(), x1.data(), y1.data(), z1.data(), n, m0.data(),
                                 m1.data(), 2, &out0, &out1);
  EXPECT_EQ(out0, -1);
  EXPECT_EQ(out1, -1);
}

}  // namespace
