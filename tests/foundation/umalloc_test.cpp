#include "foundation/umalloc.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "foundation/fmalloc.h"
#include "foundation/makemat.h"
#include "foundation/onelink.h"
#include "tests/support/injected_failures.h"
#include "tests/support/kernel_fixture.h"

namespace {

class TrackedMemory : public KernelTest {};

TEST_F(TrackedMemory, RandomNestingFreesExactlyTheTrackedBlocks) {
  // Random programs of allocate / free / realloc / open / keep / free-scope; ASan checks that
  // nothing is freed twice and nothing leaks, the counters that nothing is lost.
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<std::vector<void*>> live(1);
    std::vector<void*> kept;
    BeginTrackingMallocs();
    for (int step = 0; step < 200; ++step) {
      const int op = rng() % 10;
      auto& top = live.back();
      if (op < 4) {
        top.push_back(Malloc(1 + rng() % 300));
      } else if (op == 4 && !top.empty()) {
        const size_t k = rng() % top.size();
        Free(top[k]);
        top.erase(top.begin() + k);
      } else if (op == 5 && !top.empty()) {
        const size_t k = rng() % top.size();
        top[k] = Realloc(top[k], 1 + rng() % 5000);
        ASSERT_NE(top[k], nullptr);
      } else if (op == 6 && live.size() < 6) {
        BeginTrackingMallocs();
        live.emplace_back();
      } else if (op == 7 && live.size() > 1) {
        EXPECT_EQ(EndTrackingMallocs(), static_cast<int>(live.back().size()));
        kept.insert(kept.end(), live.back().begin(), live.back().end());
        live.pop_back();
      } else if (op == 8 && live.size() > 1) {
        EXPECT_EQ(FreeTrackedMallocs(), static_cast<int>(live.back().size()));
        live.pop_back();
      }
    }
    for (; live.size() > 1; live.pop_back()) FreeTrackedMallocs();
    EXPECT_EQ(MallocTrackedCount(), static_cast<int>(live[0].size()));
    FreeTrackedMallocs();
    EXPECT_EQ(MallocTrackedCount(), 0);
    for (void* p : kept) Free(p);  // kept inner blocks survived their outer scope
  }
  // Closing below level 0 is refused; zero-size requests are no failure.
  EXPECT_TRUE(EndTrackingMallocs() == -2 && FreeTrackedMallocs() == -2);
  EXPECT_TRUE(Malloc(0) == nullptr && Free(nullptr) == 1);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(TrackedMemory, ReallocKeepsTrackingAtItsLevelAndTheOldBlockOnFailure) {
  BeginTrackingMallocs();
  auto* a = static_cast<char*>(Malloc(16));
  BeginTrackingMallocs();
  a = static_cast<char*>(Realloc(a, 100000));  // moves; must stay at level 1
  EXPECT_EQ(EndTrackingMallocs(), 0);
  std::strcpy(a, "intact");
  MallocFailAfter(0, -1);
  EXPECT_EQ(Realloc(a, 1 << 24), nullptr);
  MallocFailClear();
  EXPECT_STREQ(a, "intact");
  EXPECT_EQ(FreeTrackedMallocs(), 1);
  ClearKernelError();
  void* untracked = Malloc(8);
  BeginTrackingMallocs();
  untracked = Realloc(untracked, 4000);
  EXPECT_EQ(FreeTrackedMallocs(), 0);  // an untracked block does not become tracked
  Free(untracked);
}

TEST_F(TrackedMemory, EmptyTrashRetryAndReserve) {
  MallocFailAfter(0, 1);  // one refusal: the retry after emptying the trash rescues it
  void* p = Malloc(4096);
  EXPECT_TRUE(p && StubEmptyTrashCount() == 1 && !KernelFailedNow());
  Free(p);

  MallocFailAfter(0, 2);  // two refusals: the reserve serves a small request silently
  void* small = Malloc(100);
  EXPECT_TRUE(small && !KernelFailedNow() && Messages().empty());
  Free(small);  // re-arms the reserve

  MallocFailAfter(0, 2);  // ... but not a large one
  EXPECT_EQ(Malloc(4096), nullptr);
  EXPECT_TRUE(zk_error_status == -1 && memory_error == 1);
  EXPECT_NE(Messages().find("System swap space has been exhausted"), std::string::npos);
  // One message per failed request, from the innermost attempt.
  EXPECT_EQ(Messages().find("System swap"), Messages().rfind("System swap"));
}

// Blocks of a class hold more room than was asked for, and freed ones may wait for reuse: the
// sanitizer must still see the bytes past the request, the header before the block and a freed
// block as off limits, and a block grown or shrunk in place as exactly its new size.
#if defined(__SANITIZE_ADDRESS__)
TEST_F(TrackedMemory, SanitizerSeesTheRequestedBytesOnly) {
  auto* a = static_cast<volatile char*>(Malloc(13));
  a[12] = 1;
  EXPECT_DEATH(a[13] = 1, "");
  EXPECT_DEATH(a[-1] = 1, "");
  a = static_cast<volatile char*>(Realloc(const_cast<char*>(a), 20));  // within the class's room
  a[19] = 1;
  a = static_cast<volatile char*>(Realloc(const_cast<char*>(a), 9));
  EXPECT_DEATH(a[9] = 1, "");
  Free(const_cast<char*>(a));
  EXPECT_DEATH(a[0] = 1, "");
}
#endif

// The legacy allocator names are the tracked allocator: a block from ZKMalloc belongs to the
// open scope; the statistics hooks report nothing and keep the high-water mark.
TEST_F(TrackedMemory, LegacyNamesAreTheTrackedAllocator) {
  BeginTrackingMallocs();
  void* z = ZKMalloc(32);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(MallocTrackedCount(), 1);
  FreeTrackedMallocs();
  EXPECT_EQ(MallocTrackedCount(), 0);
  void* w = ZKMalloc(16);
  EXPECT_EQ(ZKFree(w), Free(ZKMalloc(16)));
  unsigned a = 7, b = 7;
  MallocStats(&a, &b);
  EXPECT_TRUE(a == 0 && b == 0);
  EXPECT_EQ(ResetMallocHighWaterMark(), GetMallocHighWaterMark());
  EXPECT_EQ(ZKMalloc(0), nullptr);
}

TEST_F(TrackedMemory, FailedTrackingNodeReleasesTheBlockAndRemovedBlocksSurvive) {
  BeginTrackingMallocs();
  MallocFailAfter(1, 1);  // the block succeeds, its node is refused
  EXPECT_TRUE(Malloc(32) == nullptr && KernelFailedNow());
  EXPECT_EQ(FreeTrackedMallocs(), 0);
  ClearKernelError();
  void* kept = nullptr;
  int local = 0;
  {
    TrackingScope scope;
    Malloc(10);
    kept = Malloc(10);
    EXPECT_EQ(RemoveMallocFromTrack(&local), 0);  // not tracked: nothing changes
    EXPECT_EQ(RemoveMallocFromTrack(kept), 0);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
  {
    TrackingScope scope;
    Free(kept);
    kept = Malloc(30);
    scope.keep();
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
  Free(kept);
}

// ---- typed arrays, untracked scopes, owners ---------------------------------------------------

struct Pair16 {
  double a, b;
};

TEST_F(TrackedMemory, ArrayCountsThatDoNotFitTheAllocatorAreOutOfMemoryNotShortBlocks) {
  // 2^31 elements of 16 bytes wrap to 0 in the allocator's unsigned argument; a negative count
  // would become a huge one. Both are the ordinary out-of-memory failure and reach no runtime.
  const long before = MallocRuntimeRequests();
  size_t messages = 0;
  auto refused = [&](void* p) {
    const size_t shown = Messages().size();
    const bool clean = p == nullptr && KernelFailed() && zk_error_status == -1 && memory_error == 1 &&
                       Messages().find("System swap space has been exhausted", messages) != std::string::npos;
    messages = shown;
    ClearKernelError();
    return clean;
  };
  EXPECT_TRUE(refused(MallocArray<Pair16>(1L << 31)));
  EXPECT_TRUE(refused(MallocArray<Pair16>(-1)));
  EXPECT_TRUE(refused(CallocArray<int>(-5)));
  EXPECT_TRUE(refused(MallocArray<double>(1 << 16, 1 << 16)));  // the product overflows, not a factor
  EXPECT_TRUE(refused(MallocArray<double>(size_t{1} << 62, 8)));  // ... even in 64 bits
  EXPECT_TRUE(refused(MallocArray<char>(3, -1)));
  EXPECT_EQ(MallocRuntimeRequests(), before);
  EXPECT_TRUE(refused(allocate_matrix_ff(1 << 16, 1 << 16)));  // the row pointers are freed again

  // The largest request that fits is passed on whole; zero is a zero-size request, no error.
  MallocFailAfter(0, -1);
  EXPECT_TRUE(refused(MallocArray<char>(UINT_MAX)));
  MallocFailClear();
  EXPECT_GT(MallocRuntimeRequests(), before);
  EXPECT_TRUE(MallocArray<double>(0) == nullptr && MallocArray<double>(7, 0) == nullptr && !KernelFailed());

  // A refused resize leaves the block as it was; an accepted one keeps its contents.
  auto* v = CallocArray<int>(4, 3);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(v[i], 0);
  v[11] = 42;
  EXPECT_TRUE(refused(ReallocArray(v, -2)));
  EXPECT_TRUE(refused(ReallocArray(v, size_t{1} << 31, 2)));
  v = ReallocArray(v, 1000);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v[11], 42);
  Free(v);
}

TEST_F(TrackedMemory, ABuildStepGivesBackABlockObtainedWhileAFailureIsFlagged) {
  // Outside every scope nothing else would free it (ASan would report the leak); no elements
  // is no step to fail.
  int* step = nullptr;
  EXPECT_TRUE(CallocArrayUnlessFailed(step, 3) && step && step[2] == 0);
  Free(step);
  SetKernelError(-2);
  EXPECT_FALSE(CallocArrayUnlessFailed(step, 3));
  EXPECT_EQ(step, nullptr);
  EXPECT_TRUE(CallocArrayUnlessFailed(step, 0) && step == nullptr);
  ClearKernelError();
  EXPECT_TRUE(!CallocArrayUnlessFailed(step, -1) && step == nullptr && KernelFailed());
  ClearKernelError();
}

TEST_F(TrackedMemory, UntrackedScopeOutlivesCallersScopesAndOwnedFreesUnlessReleased) {
  void* outlives = nullptr;
  {
    TrackingScope caller;
    {
      UntrackedScope own;
      outlives = Malloc(24);
      EXPECT_EQ(MallocTrackLevel(), 2);
    }
    EXPECT_EQ(MallocTrackLevel(), 1);
  }  // the caller's scope frees what it tracked: not the untracked block (ASan would object)
  std::memset(outlives, 1, 24);
  {
    UntrackedScope own;  // outside every scope nothing is tracked: nothing to open
    EXPECT_EQ(MallocTrackLevel(), 0);
  }
  // The owner frees with the record's own function on every path unless handed on.
  void* handedOn = nullptr;
  {
    Owned<char, Free> a(static_cast<char*>(outlives));
    Owned<double*, matrix_free_ff> m(allocate_matrix_ff(3, 4));
    Owned<char, Free> b(MallocArray<char>(10));
    b.reset(MallocArray<char>(20));  // the first block goes now
    handedOn = b.release();
    EXPECT_TRUE(a && m && !b);
  }
  Free(handedOn);
}

// A record free function that counts what it frees, to see which entries an owner released.
int recordsFreed = 0;
void FreeCountedRecord(int* record) {
  ++recordsFreed;
  Free(record);
}
using OwnedInts = OwnedArray<int, FreeCountedRecord>;

// An array of `count` records with every `gap`-th entry null.
OwnedInts MakeRecords(int count, int gap) {
  OwnedInts a = OwnedInts::Zeroed(count);
  for (int i = 0; i < count; ++i)
    if (i % gap != 0) a[i] = MallocArray<int>(4);
  return a;
}

TEST_F(TrackedMemory, ArrayOwnerFreesEachRecordOnceWhateverPathAndHandsOnOnRelease) {
  // Partial arrays: null entries are skipped, every other record is freed exactly once.
  for (int count : {1, 2, 7, 30})
    for (int gap : {1, 2, 3}) {
      recordsFreed = 0;
      int made = 0;
      {
        OwnedInts a = MakeRecords(count, gap);
        for (int i = 0; i < a.count(); ++i) made += a[i] != nullptr;
        EXPECT_EQ(a.count(), count);
      }
      EXPECT_EQ(recordsFreed, made) << count << " " << gap;
    }

  // Moving hands the records on once; assigning over an owner frees what it held first.
  recordsFreed = 0;
  {
    OwnedInts a = MakeRecords(6, 3);  // 4 records
    OwnedInts b(std::move(a));
    EXPECT_TRUE(!a && a.count() == 0 && b.count() == 6);
    OwnedInts c = MakeRecords(4, 2);  // 2 records
    c = std::move(b);
    EXPECT_EQ(recordsFreed, 2);
    c = std::move(c);  // onto itself: nothing freed, nothing lost
    EXPECT_EQ(c.count(), 6);
  }
  EXPECT_EQ(recordsFreed, 6);

  // Released records are the caller's; receive() holds what a builder writes.
  recordsFreed = 0;
  int** handedOn = nullptr;
  {
    OwnedInts a = MakeRecords(5, 2);
    handedOn = a.release();
    EXPECT_EQ(a.count(), 0);
    OwnedInts b;
    int*** slot = b.receive(3);
    *slot = CallocArray<int*>(3);
    (*slot)[2] = MallocArray<int>(1);
  }
  EXPECT_EQ(recordsFreed, 1);
  OwnedInts(handedOn, 5).reset();
  EXPECT_EQ(recordsFreed, 3);

  // Held in a tracking scope declared before it: the owner's frees leave the scope nothing to
  // free twice (the sanitizer would object), and a kept scope keeps nothing of the owner's.
  {
    TrackingScope scope;
    OwnedInts a = MakeRecords(8, 4);
    EXPECT_EQ(MallocTrackedCount(), 7);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);

  // An array that cannot be had is the ordinary out-of-memory failure, and owns nothing.
  const int failures = RunWithInjectedFailures(12, 1, [] {
    OwnedInts a = MakeRecords(0, 1);
    a = OwnedInts::Zeroed(10);
    if (!a) return KernelFailed() ? -1 : 0;
    for (int i = 0; i < a.count(); ++i)
      if (!(a[i] = MallocArray<int>(2))) return -1;
    return 0;
  });
  EXPECT_TRUE(failures > 5 && failures < 12) << failures;
}

TEST_F(TrackedMemory, ScopesNestTo32767AndADeeperOneIsRefusedWithoutLosingBlocks) {
  for (int level = 1; level < 32767; ++level) ASSERT_EQ(BeginTrackingMallocs(), 0);
  ASSERT_EQ(BeginTrackingMallocs(), 0);  // the deepest level a block can record
  EXPECT_EQ(MallocTrackLevel(), 32767);
  void* deepest = Malloc(24);
  EXPECT_FALSE(KernelFailedNow());

  EXPECT_EQ(BeginTrackingMallocs(), -2);
  EXPECT_EQ(MallocTrackLevel(), 32767);
  EXPECT_TRUE(KernelFailedNow());
  ClearKernelError();
  {
    // A guard that could not open its scope closes nothing on the way out, and keep() does not
    // close the enclosing scope either; its blocks stay with the enclosing scope.
    TrackingScope refused;
    EXPECT_TRUE(KernelFailedNow());
    Malloc(40);
    refused.keep();
  }
  {
    UntrackedScope refused;
    Malloc(8);
  }
  EXPECT_EQ(MallocTrackLevel(), 32767);
  EXPECT_EQ(MallocTrackedCount(), 3);
  ClearKernelError();

  // The deepest scope frees its own blocks (a wrapped level would free none of them).
  EXPECT_EQ(FreeTrackedMallocs(), 3);
  (void)deepest;
  while (MallocTrackLevel() > 0) ASSERT_EQ(FreeTrackedMallocs(), 0);
  EXPECT_EQ(MallocTrackedCount(), 0);
}

// ---- pools of fixed-size elements and sorted int lists --------------------------------------

TEST_F(TrackedMemory, PoolRandomUseNeverHandsOutALiveElementTwice) {
  std::mt19937 rng(12);
  for (int size : {1, 8, 12, 24}) {
    FmallocPool* pool = Fmalloc_init(size, 1 + size % 5);
    std::set<void*> live;
    void* lastFreed = nullptr;
    for (int step = 0; step < 500; ++step) {
      if (live.empty() || rng() % 3) {
        void* p = Fmalloc(pool);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(!lastFreed || p == lastFreed);  // last returned, first handed out
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        EXPECT_TRUE(live.insert(p).second);
        std::memset(p, 0x11, size);  // every element owns its bytes (ASan)
        lastFreed = nullptr;
      } else {
        auto it = std::next(live.begin(), rng() % live.size());
        EXPECT_EQ(Ffree(pool, lastFreed = *it), pool);
        live.erase(it);
      }
      EXPECT_EQ(pool->inUse, static_cast<int>(live.size()));
    }
    EXPECT_EQ(Fmalloc_end(pool), 0);
  }
}

TEST_F(TrackedMemory, PoolStorageOutlivesTheCallersScopeAndFailuresLeakNothing) {
  BeginTrackingMallocs();
  FmallocPool* pool = Fmalloc_init(16, 2);
  std::memset(Fmalloc(pool), 0, 16);
  FreeTrackedMallocs();  // must not take the pool or its blocks
  Fmalloc(pool);
  EXPECT_GT(RunWithInjectedFailures(10, 1, [&] { return Fmalloc(pool) ? 0 : -2; }), 0);  // new blocks
  Fmalloc_end(pool);  // ASan reports any block lost on the way
  MallocFailAfter(0, -1);
  EXPECT_EQ(Fmalloc_init(8, 4), nullptr);
  MallocFailClear();
  EXPECT_TRUE(Fmalloc_init(8, 0) == nullptr && lstrdup(nullptr) == nullptr);
  // A block of elements beyond the allocator's argument is out of memory, not a silent null.
  pool = Fmalloc_init(1 << 20, 1 << 13);
  EXPECT_TRUE(Fmalloc(pool) == nullptr && KernelFailedNow() && memory_error == 1);
  ClearKernelError();
  Fmalloc_end(pool);
}

TEST_F(TrackedMemory, SortedListStaysStrictlyAscendingAndKeepsItselfWhenANodeFails) {
  std::mt19937 rng(6);
  OneLink* list = nullptr;
  std::set<int> ref;
  BeginTrackingMallocs();
  for (int i = 0; i < 300; ++i) {
    const int v = static_cast<int>(rng() % 120) - 60;
    list = InsertSortedOneLink(list, v), ref.insert(v);
  }
  FreeTrackedMallocs();  // nodes do not belong to the caller's scope
  std::vector<int> values;
  for (OneLink* p = list; p; p = p->next) values.push_back(p->value);
  EXPECT_EQ(values, std::vector<int>(ref.begin(), ref.end()));
  EXPECT_EQ(FreeOneLink(list), 0);

  list = InsertSortedOneLink(nullptr, 2);
  MallocFailAfter(0, -1);
  EXPECT_TRUE(InsertSortedOneLink(list, 1) == list && AppendOneLink(list, 3) == list);
  MallocFailClear();
  // Still failed: memory is there again but the error state says otherwise; nothing leaks.
  EXPECT_TRUE(InsertSortedOneLink(list, 1) == list && list->next == nullptr);
  ClearKernelError();
  FreeOneLink(list);
}

}  // namespace
