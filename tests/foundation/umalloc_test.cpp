#include "foundation/umalloc.h"

#include <cstring>
#include <random>
#include <vector>

#include "tests/support/kernel_fixture.h"

namespace {

class TrackedMemory : public KernelTest {};

TEST_F(TrackedMemory, ZeroSizeGivesNullWithoutError) {
  EXPECT_EQ(Malloc(0), nullptr);
  EXPECT_FALSE(KernelFailedNow());
  EXPECT_EQ(Free(nullptr), 1);
}

TEST_F(TrackedMemory, NestedScopesFreeOuterAndKeepInner) {
  BeginTrackingMallocs();
  void* a = Malloc(64);
  BeginTrackingMallocs();
  void* b = Malloc(64);
  EXPECT_EQ(EndTrackingMallocs(), 1);
  EXPECT_EQ(FreeTrackedMallocs(), 1);  // frees A only
  EXPECT_EQ(MallocTrackLevel(), 0);
  std::memset(b, 0x5a, 64);  // B survived, untracked
  EXPECT_EQ(Free(b), 0);
  (void)a;
}

TEST_F(TrackedMemory, ClosingBelowLevelZeroIsRefused) {
  EXPECT_EQ(EndTrackingMallocs(), -2);
  EXPECT_EQ(FreeTrackedMallocs(), -2);
  EXPECT_EQ(MallocTrackLevel(), 0);
}

TEST_F(TrackedMemory, RandomNestingFreesExactlyTheTrackedBlocks) {
  // Random programs of allocate / free / realloc / open / keep / free-scope; ASan checks that
  // nothing is freed twice and nothing leaks, the counters that nothing is lost.
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::vector<std::vector<void*>> live(1);
    std::vector<void*> kept;
    BeginTrackingMallocs();
    for (int step = 0; step < 200; ++step) {
      int op = rng() % 10;
      auto& top = live.back();
      if (op < 4) {
        top.push_back(Malloc(1 + rng() % 300));
      } else if (op == 4 && !top.empty()) {
        size_t k = rng() % top.size();
        Free(top[k]);
        top.erase(top.begin() + k);
      } else if (op == 5 && !top.empty()) {
        size_t k = rng() % top.size();
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
    while (live.size() > 1) {
      FreeTrackedMallocs();
      live.pop_back();
    }
    EXPECT_EQ(MallocTrackedCount(), static_cast<int>(live[0].size()));
    FreeTrackedMallocs();
    EXPECT_EQ(MallocTrackedCount(), 0);
    for (void* p : kept) Free(p);
  }
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(TrackedMemory, ReallocKeepsTrackingAtItsLevel) {
  BeginTrackingMallocs();
  void* a = Malloc(16);
  BeginTrackingMallocs();
  a = Realloc(a, 100000);  // moves; must stay at level 1
  EXPECT_EQ(EndTrackingMallocs(), 0);
  EXPECT_EQ(FreeTrackedMallocs(), 1);
  void* untracked = Malloc(8);
  BeginTrackingMallocs();
  untracked = Realloc(untracked, 4000);
  EXPECT_EQ(FreeTrackedMallocs(), 0);  // an untracked block does not become tracked
  Free(untracked);
  EXPECT_EQ(Realloc(Malloc(10), 0), nullptr);
  EXPECT_FALSE(KernelFailedNow());
}

TEST_F(TrackedMemory, EmptyTrashRetryRescuesOneRefusal) {
  MallocFailAfter(0, 1);
  void* p = Malloc(4096);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(StubEmptyTrashCount(), 1);
  EXPECT_FALSE(KernelFailedNow());
  Free(p);
}

TEST_F(TrackedMemory, ReserveServesOnlySmallRequests) {
  MallocFailAfter(0, 2);
  void* small = Malloc(100);
  EXPECT_NE(small, nullptr);
  EXPECT_FALSE(KernelFailedNow());
  EXPECT_TRUE(Messages().empty());
  Free(small);  // re-arms the reserve

  MallocFailAfter(0, 2);
  EXPECT_EQ(Malloc(4096), nullptr);
  EXPECT_EQ(zk_error_status, -1);
  EXPECT_EQ(memory_error, 1);
  EXPECT_NE(Messages().find("System swap space has been exhausted"), std::string::npos);
  // One message per failed request, from the innermost attempt.
  EXPECT_EQ(Messages().find("System swap"), Messages().rfind("System swap"));
}

TEST_F(TrackedMemory, FailedTrackingNodeReleasesTheBlock) {
  BeginTrackingMallocs();
  MallocFailAfter(1, 1);  // the block succeeds, its node is refused
  EXPECT_EQ(Malloc(32), nullptr);
  EXPECT_TRUE(KernelFailedNow());
  EXPECT_EQ(FreeTrackedMallocs(), 0);
}

TEST_F(TrackedMemory, ReallocFailureKeepsTheOldBlock) {
  BeginTrackingMallocs();
  auto* p = static_cast<char*>(Malloc(8));
  std::strcpy(p, "intact");
  MallocFailAfter(0, -1);
  EXPECT_EQ(Realloc(p, 1 << 20), nullptr);
  MallocFailClear();
  EXPECT_STREQ(p, "intact");
  EXPECT_EQ(FreeTrackedMallocs(), 1);
}

TEST_F(TrackedMemory, RemoveFromTrackSurvivesTheScope) {
  BeginTrackingMallocs();
  void* p = Malloc(10);
  int local = 0;
  EXPECT_EQ(RemoveMallocFromTrack(&local), 0);  // not tracked: nothing changes
  EXPECT_EQ(RemoveMallocFromTrack(p), 0);
  EXPECT_EQ(FreeTrackedMallocs(), 0);
  Free(p);
}

TEST_F(TrackedMemory, GuardFreesOnEveryPath) {
  void* kept = nullptr;
  {
    TrackingScope scope;
    Malloc(10);
    Malloc(20);
  }
  EXPECT_EQ(MallocTrackedCount(), 0);
  {
    TrackingScope scope;
    kept = Malloc(30);
    scope.keep();
  }
  EXPECT_EQ(MallocTrackLevel(), 0);
  Free(kept);
}

}  // namespace
