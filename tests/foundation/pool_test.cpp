#include "foundation/fmalloc.h"
#include "foundation/onelink.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "tests/support/kernel_fixture.h"

namespace {

class Pool : public KernelTest {};

TEST_F(Pool, AlignedElementsBlocksAndReuse) {
  FmallocPool* pool = Fmalloc_init(5, 4);
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->elementSize, 8);
  std::vector<void*> got;
  for (int i = 0; i < 4; ++i) got.push_back(Fmalloc(pool));
  EXPECT_EQ(pool->capacity, 4);
  got.push_back(Fmalloc(pool));  // the fifth takes a second block
  EXPECT_EQ(pool->capacity, 8);
  for (void* p : got) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(void*), 0u);
    std::memset(p, 0xab, 5);  // every element owns its bytes (ASan)
  }
  EXPECT_EQ(std::set<void*>(got.begin(), got.end()).size(), got.size());
  EXPECT_EQ(Ffree(pool, got[2]), pool);
  EXPECT_EQ(Fmalloc(pool), got[2]);  // a freed element is the next one handed out
  Ffree(pool, got[0]);
  Ffree(pool, got[4]);
  EXPECT_EQ(pool->inUse, 3);
  EXPECT_EQ(pool->freeCount, 2);
  EXPECT_EQ(Fmalloc(pool), got[4]);
  EXPECT_EQ(Fmalloc(pool), got[0]);
  EXPECT_EQ(Fmalloc_end(pool), 0);
}

TEST_F(Pool, RandomUseNeverHandsOutALiveElementTwice) {
  std::mt19937 rng(12);
  for (int size : {1, 8, 12, 24}) {
    FmallocPool* pool = Fmalloc_init(size, 1 + size % 5);
    std::set<void*> live;
    for (int step = 0; step < 500; ++step) {
      if (live.empty() || rng() % 3) {
        void* p = Fmalloc(pool);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        EXPECT_TRUE(live.insert(p).second);
        std::memset(p, 0x11, size);
      } else {
        auto it = live.begin();
        std::advance(it, rng() % live.size());
        Ffree(pool, *it);
        live.erase(it);
      }
      EXPECT_EQ(pool->inUse, static_cast<int>(live.size()));
      EXPECT_EQ(pool->inUse + pool->freeCount + (pool->perBlock - pool->nextSlot), pool->capacity);
    }
    Fmalloc_end(pool);
  }
}

TEST_F(Pool, StorageOutlivesTheCallersScopeAndFailuresLeakNothing) {
  BeginTrackingMallocs();
  FmallocPool* pool = Fmalloc_init(16, 2);
  void* a = Fmalloc(pool);
  FreeTrackedMallocs();  // must not take the pool or its blocks
  std::memset(a, 0, 16);
  EXPECT_NE(Fmalloc(pool), nullptr);

  BeginTrackingMallocs();
  for (long k = 0; k < 10; ++k) {
    MallocFailAfter(k, -1);
    void* p = Fmalloc(pool);  // needs a new block
    MallocFailClear();
    EXPECT_EQ(MallocTrackedCount(), 0);
    if (p) break;
    EXPECT_TRUE(KernelFailedNow());
    ClearKernelError();
  }
  FreeTrackedMallocs();
  Fmalloc_end(pool);  // ASan reports any block lost on the way

  MallocFailAfter(0, -1);
  EXPECT_EQ(Fmalloc_init(8, 4), nullptr);
  MallocFailClear();
  EXPECT_EQ(Fmalloc_init(8, 0), nullptr);
}

TEST_F(Pool, DuplicatedStrings) {
  char* s = lstrdup("seam");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "seam");
  Free(s);
  EXPECT_EQ(lstrdup(nullptr), nullptr);
}

class SortedList : public KernelTest {};

TEST_F(SortedList, StaysStrictlyAscendingAndMatchesASet) {
  std::mt19937 rng(6);
  OneLink* list = nullptr;
  std::set<int> ref;
  BeginTrackingMallocs();
  for (int i = 0; i < 300; ++i) {
    const int v = static_cast<int>(rng() % 120) - 60;
    list = InsertSortedOneLink(list, v);
    ref.insert(v);
  }
  FreeTrackedMallocs();  // nodes do not belong to the caller's scope
  std::vector<int> values;
  for (OneLink* p = list; p; p = p->next) values.push_back(p->value);
  EXPECT_EQ(values, std::vector<int>(ref.begin(), ref.end()));
  for (int v = -65; v < 65; ++v) EXPECT_EQ(SearchSortedOneLink(list, v), ref.count(v) ? 1 : 0);
  EXPECT_EQ(FreeOneLink(list), 0);

  list = nullptr;
  for (int v : {5, 3, 5, 9}) list = InsertSortedOneLink(list, v);
  EXPECT_EQ(list->value, 3);
  EXPECT_EQ(list->next->value, 5);
  EXPECT_EQ(list->next->next->value, 9);
  EXPECT_EQ(list->next->next->next, nullptr);
  EXPECT_EQ(SearchSortedOneLink(list, 4), 0);
  EXPECT_EQ(SearchSortedOneLink(nullptr, 4), 0);
  list = AppendOneLink(list, 1);  // no order test
  EXPECT_EQ(list->next->next->next->value, 1);
  FreeOneLink(list);
}

TEST_F(SortedList, FailedNodeLeavesListUnchanged) {
  OneLink* list = InsertSortedOneLink(nullptr, 2);
  MallocFailAfter(0, -1);
  EXPECT_EQ(InsertSortedOneLink(list, 1), list);
  EXPECT_EQ(AppendOneLink(list, 3), list);
  MallocFailClear();
  EXPECT_TRUE(KernelFailedNow());
  // Still failed: memory is there again but the error state says otherwise; nothing leaks.
  EXPECT_EQ(InsertSortedOneLink(list, 1), list);
  EXPECT_EQ(list->next, nullptr);
  FreeOneLink(list);
}

}  // namespace
