#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/coreglob.h"
#include "platform/tstubs.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

struct MallocTrackNode {
  MallocTrackNode* prev;      // newer node, or the root for the newest
  MallocTrackNode* next;      // older node; null at the end
  MallocTrackNode* hashPrev;  // null for a bucket's first node
  MallocTrackNode* hashNext;
  void* block;
  int16_t level;
  uint16_t bucket;
};

constexpr unsigned kBuckets = 4001;
constexpr unsigned kReserveBytes = 32768;
constexpr unsigned kReserveLimit = 2048;  // only requests below this may use the reserve
constexpr int kMaxTrackLevel = INT16_MAX;  // the deepest level a node's int16 records

MallocTrackNode trackRoot;
MallocTrackNode* const pTrackRoot = &trackRoot;
int trackLevel = 0;
int trackedMallocs = 0;
int maxTrackedMallocs = 0;
int mallocInitialized = 0;
unsigned highWaterMark = 0;
void* reservedMemory = nullptr;
int bTryingToFree = 0;
MallocTrackNode* hashTable[kBuckets];

// Failure injection: the runtime as the allocator sees it.
long failSkip = -1;  // < 0: no failure scheduled
long failCount = 0;
long runtimeRequests = 0;

bool RuntimeRefuses() {
  ++runtimeRequests;
  if (failSkip < 0) return false;
  if (failSkip > 0) {
    --failSkip;
    return false;
  }
  if (failCount == 0) {
    failSkip = -1;
    return false;
  }
  if (failCount > 0 && --failCount == 0) failSkip = -1;
  return true;
}

// ---- Blocks ----------------------------------------------------------------------------------
// Every kernel block sits behind a 16-byte header (so the runtime's 16-byte alignment is kept)
// that records the size asked for and the block's class. A small block comes in one of
// kClasses classes of room 16 c - 8 bytes, the room the runtime itself gives such a request,
// so the header is all the memory this costs; a freed small block waits on its class's list
// for the next request of that class instead of going back to the runtime. Records are made
// and freed in bursts of the same few sizes (a copy makes a record, its knots and two blocks
// per coefficient matrix), and a list pop is much less than a runtime call. The lists hold at
// most kCacheBytes and are given back before a failed runtime request is retried. Growing a
// block within its room (knot insertion adds a value or two to each short array) moves
// nothing. Under AddressSanitizer freed blocks go straight back to the runtime, so that a
// use after free is still caught, and a live block's header and unused room are poisoned, so
// that reading or writing next to a block is caught as well.
struct BlockHeader {
  unsigned size;  // bytes asked for
  unsigned cls;   // small class 1 .. kClasses, or kLarge
  BlockHeader* next;  // the class list, while the block waits on it
};
static_assert(sizeof(BlockHeader) == 16);

constexpr unsigned kLarge = 0;
constexpr unsigned kClasses = 64;
constexpr size_t kSmallRoom = 16 * kClasses - 8;  // the room of the largest class
constexpr size_t kCacheBytes = size_t{1} << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif

BlockHeader* classList[kClasses + 1];
size_t cachedBytes = 0;

constexpr unsigned ClassOf(size_t size) { return static_cast<unsigned>((size + 23) >> 4); }
constexpr size_t RoomOf(unsigned cls) { return 16 * size_t{cls} - 8; }
BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }
void* BlockOf(BlockHeader* h) { return h + 1; }

// Marks bytes off limits for AddressSanitizer, or back on; nothing in other builds.
void Hide(const void* p, size_t n) {
  (void)p, (void)n;
#if defined(__SANITIZE_ADDRESS__)
  __asan_poison_memory_region(p, n);
#endif
}
void Show(const void* p, size_t n) {
  (void)p, (void)n;
#if defined(__SANITIZE_ADDRESS__)
  __asan_unpoison_memory_region(p, n);
#endif
}

// The header of a live block, readable by the allocator until Seal.
BlockHeader* Open(void* block) {
  BlockHeader* h = HeaderOf(block);
  Show(h, sizeof *h);
  return h;
}

// Writes the header and hands out the block with `size` bytes in use.
void* Seal(BlockHeader* h, unsigned size, unsigned cls) {
  h->size = size;
  h->cls = cls;
  h->next = nullptr;
  if constexpr (!kCacheBlocks) {
    Hide(h, sizeof *h);
    if (cls != kLarge) Hide(static_cast<char*>(BlockOf(h)) + size, RoomOf(cls) - size);
  }
  return BlockOf(h);
}

void GiveBackCache() {
  for (BlockHeader*& list : classList)
    while (BlockHeader* h = list) {
      list = h->next;
      free(h);
    }
  cachedBytes = 0;
}

// A block of `size` bytes (> 0) from the runtime; null when it has none even after the class
// lists were given back.
[[gnu::noinline]] void* ObtainFromRuntime(size_t size) {
  const bool small = size <= kSmallRoom;
  const unsigned cls = small ? ClassOf(size) : kLarge;
  const size_t bytes = sizeof(BlockHeader) + (small ? RoomOf(cls) : size);
  void* raw = malloc(bytes);
  if (!raw && cachedBytes > 0) {
    GiveBackCache();
    raw = malloc(bytes);
  }
  return raw ? Seal(static_cast<BlockHeader*>(raw), static_cast<unsigned>(size), cls) : nullptr;
}

// A block of `size` bytes (> 0), from its class list when one waits there.
[[gnu::always_inline]] inline void* Obtain(size_t size) {
  if (size <= kSmallRoom) {
    const unsigned cls = ClassOf(size);
    if (BlockHeader* h = classList[cls]) {
      classList[cls] = h->next;
      cachedBytes -= RoomOf(cls);
      return Seal(h, static_cast<unsigned>(size), cls);
    }
  }
  return ObtainFromRuntime(size);
}

[[gnu::noinline]] void ReleaseToRuntime(BlockHeader* h) { free(h); }

[[gnu::always_inline]] inline void Release(void* block) {
  BlockHeader* h = Open(block);
  const unsigned cls = h->cls;
  if (kCacheBlocks && cls != kLarge && cachedBytes + RoomOf(cls) <= kCacheBytes) {
    h->next = classList[cls];
    classList[cls] = h;
    cachedBytes += RoomOf(cls);
    return;
  }
  ReleaseToRuntime(h);
}

void* RuntimeMalloc(size_t size) { return RuntimeRefuses() ? nullptr : Obtain(size); }

// A block that already holds the new size, within this slack (so that shrinking still gives
// memory back), is kept as it is.
constexpr size_t kReallocSlack = 32;

// Null, with the old block as it was, when refused.
void* RuntimeRealloc(void* block, size_t size) {
  if (size == 0) {
    Release(block);
    return nullptr;
  }
  if (RuntimeRefuses()) return nullptr;
  BlockHeader* h = Open(block);
  const unsigned cls = h->cls, old = h->size;
  if (cls != kLarge) {
    const size_t room = RoomOf(cls);
    if (size <= room && room - size <= kReallocSlack) {
      Show(block, size);
      return Seal(h, static_cast<unsigned>(size), cls);
    }
  } else if (size > kSmallRoom) {
    const size_t room = malloc_usable_size(h) - sizeof(BlockHeader);
    if (size <= room && room - size <= kReallocSlack) {
      Show(block, size);
      Hide(static_cast<char*>(block) + size, room - size);
      return Seal(h, static_cast<unsigned>(size), cls);
    }
    auto* moved = static_cast<BlockHeader*>(realloc(h, sizeof(BlockHeader) + size));
    if (!moved && cachedBytes > 0) {
      GiveBackCache();
      moved = static_cast<BlockHeader*>(realloc(h, sizeof(BlockHeader) + size));
    }
    if (!moved) {
      // A realloc that fails leaves the block where it was, still ours to seal again; the compiler
      // cannot tell that from a use after a move.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
      Seal(h, old, cls);
#pragma GCC diagnostic pop
      return nullptr;
    }
    return Seal(moved, static_cast<unsigned>(size), cls);
  }
  Seal(h, old, cls);
  void* moved = Obtain(size);
  if (!moved) return nullptr;
  std::memcpy(moved, block, std::min<size_t>(old, size));
  Release(block);
  return moved;
}

// Tracking nodes are recycled: at most kSpareNodes idle nodes are kept (reachable, so never
// reported as leaks). Taking one is not a runtime request of its own: the tracked request that
// needs it was counted as block and node when it was made.
constexpr int kSpareNodes = 4096;
MallocTrackNode* spareNodes = nullptr;  // chained through next
int spareCount = 0;

MallocTrackNode* TakeNode() {
  if (MallocTrackNode* n = spareNodes) {
    spareNodes = n->next;
    --spareCount;
    return n;
  }
  return static_cast<MallocTrackNode*>(malloc(sizeof(MallocTrackNode)));
}

void GiveNode(MallocTrackNode* n) {
  if (spareCount >= kSpareNodes) {
    free(n);
    return;
  }
  n->next = spareNodes;
  spareNodes = n;
  ++spareCount;
}

unsigned BucketOf(const void* block) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(block) % kBuckets);
}

void EnsureInit() {
  if (!mallocInitialized) MallocInit();
}

void LinkNode(MallocTrackNode* node) {
  node->prev = pTrackRoot;
  node->next = pTrackRoot->next;
  if (node->next) node->next->prev = node;
  pTrackRoot->next = node;

  unsigned b = BucketOf(node->block);
  node->bucket = static_cast<uint16_t>(b);
  node->hashPrev = nullptr;
  node->hashNext = hashTable[b];
  if (node->hashNext) node->hashNext->hashPrev = node;
  hashTable[b] = node;
}

void UnlinkFromBucket(MallocTrackNode* node) {
  if (node->hashPrev)
    node->hashPrev->hashNext = node->hashNext;
  else
    hashTable[node->bucket] = node->hashNext;
  if (node->hashNext) node->hashNext->hashPrev = node->hashPrev;
}

void RemoveNode(MallocTrackNode* node) {
  node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  UnlinkFromBucket(node);
}

MallocTrackNode* FindNode(const void* block) {
  for (MallocTrackNode* n = hashTable[BucketOf(block)]; n; n = n->hashNext)
    if (n->block == block) return n;
  return nullptr;
}

void DropNode(MallocTrackNode* node) {
  --trackedMallocs;
  RemoveNode(node);
  GiveNode(node);
}

// The newest tracked blocks wait in a short array before they get a node: most scopes make a
// few blocks and close (or keep them) soon, and then no node or hash link is made at all. The
// array holds the newest entries in allocation order, levels never decreasing along it, all
// newer than every node of the list; when it is full its older half moves to the list. A
// tracked request still counts as the two runtime requests (block and node) it always was.
struct RecentEntry {
  void* block;
  int level;
};
constexpr int kRecent = 16;
RecentEntry recent[kRecent];
int recentCount = 0;

// Position of block in the array, searched newest first; -1 when not there.
int FindRecent(const void* block) {
  for (int i = recentCount - 1; i >= 0; --i)
    if (recent[i].block == block) return i;
  return -1;
}

void DropRecent(int i) {
  --trackedMallocs;
  --recentCount;
  for (; i < recentCount; ++i) recent[i] = recent[i + 1];
}

// Moves the older half of the array to the list (oldest first, so that the list stays ordered
// newest first). False when no node can be had: what moved stays moved, the rest stays.
bool SpillRecent() {
  const int half = kRecent / 2;
  int moved = 0;
  for (; moved < half; ++moved) {
    MallocTrackNode* node = TakeNode();
    if (!node) break;
    node->block = recent[moved].block;
    node->level = static_cast<int16_t>(recent[moved].level);
    LinkNode(node);
  }
  for (int i = moved; i < recentCount; ++i) recent[i - moved] = recent[i];
  recentCount -= moved;
  return moved == half;
}

void CountTracked() {
  ++trackedMallocs;
  if (trackedMallocs > maxTrackedMallocs) {
    maxTrackedMallocs = trackedMallocs;
    break_here_for_stats();
  }
}

void UpdateHighWater() {
  if (ZK666DEBUG == 10) {
    unsigned a = 0, b = 0;
    MallocStats(&a, &b);
    if (b > highWaterMark) highWaterMark = b;
  }
}

void CheckHashPtrs() {
  for (unsigned b = 0; b < kBuckets; ++b) {
    if (hashTable[b]) {
      InfoMessageFormat("%s", MSGstr("Malloc consistency error. Hash pointers are not zero\n at Malloc track Level 0"));
      return;
    }
  }
}

int CloseLevel(bool freeBlocks) {
  EnsureInit();
  if (trackLevel < 1) {
    if (ZK666DEBUG >= (freeBlocks ? 2 : 1))
      InfoMessageFormat("%s", MSGstr("Attempting to go below level 0 memory tracking.\n"));
    return -2;
  }
  int count = 0;
  // The array holds the newest entries, so the current level's are at its end; levels never
  // increase along the list, so the rest are at its head.
  for (; recentCount > 0 && recent[recentCount - 1].level >= trackLevel; ++count) {
    void* block = recent[recentCount - 1].block;
    --recentCount;
    --trackedMallocs;
    if (freeBlocks) Release(block);
  }
  for (MallocTrackNode* n = pTrackRoot->next; n && n->level >= trackLevel; n = pTrackRoot->next) {
    ++count;
    void* block = n->block;
    DropNode(n);
    if (freeBlocks) Release(block);
  }
  if (trackLevel == 1 && ZK666DEBUG >= 1) CheckHashPtrs();
  --trackLevel;
  if (!reservedMemory) ReserveMemory();
  return count;
}

}  // namespace

void MallocInit() {
  for (auto& b : hashTable) b = nullptr;
  mallocInitialized = 1;
  ReserveMemory();
}

void ReserveMemory() {
  // The reserve is the runtime's own block: it is released to the runtime, not to a class list.
  if (!reservedMemory && !RuntimeRefuses()) reservedMemory = malloc(kReserveBytes);
}

void FreeReserveMemory() {
  free(reservedMemory);
  reservedMemory = nullptr;
}

void MallocStats(unsigned* a, unsigned* b) {
  if (a) *a = 0;
  if (b) *b = 0;
}

unsigned ResetMallocHighWaterMark() {
  if (ZK666DEBUG == 10) {
    unsigned a = 0, b = 0;
    MallocStats(&a, &b);
    highWaterMark = b;
  }
  return highWaterMark;
}

unsigned GetMallocHighWaterMark() { return highWaterMark; }

void break_here_for_stats() {}

namespace {

// Malloc's road when no block of the class waits, a failure is scheduled, or the array of
// recent entries is full: the documented steps one by one.
[[gnu::noinline]] void* MallocSlow(unsigned size) {
  void* block = RuntimeMalloc(size);
  if (block) {
    if (trackLevel > 0) {
      if (RuntimeRefuses() || (recentCount == kRecent && !SpillRecent())) {
        SetOutOfMemory();
        Release(block);
        return nullptr;
      }
      recent[recentCount++] = RecentEntry{block, trackLevel};
      CountTracked();
    }
    UpdateHighWater();
    return block;
  }
  // One failed request tries at most three times and shows the message once, from the
  // innermost attempt. The reserve is re-armed by the next Free or scope close, not here.
  void* result = nullptr;
  if (bTryingToFree == 0) {
    bTryingToFree = 1;
    EmptyTrash();
    result = Malloc(size);
    bTryingToFree = 0;
  } else if (bTryingToFree == 1 && reservedMemory && size < kReserveLimit) {
    bTryingToFree = 2;
    FreeReserveMemory();
    result = Malloc(size);
    bTryingToFree = 0;
  } else {
    SetOutOfMemory();
  }
  return result;
}

[[gnu::noinline]] void Untrack(void* block) {
  if (const int i = FindRecent(block); i >= 0)
    DropRecent(i);
  else if (MallocTrackNode* node = FindNode(block))
    DropNode(node);
}

}  // namespace

// The common case in few instructions: a block of a small class waiting on its list, no failure
// scheduled and room for the recent entry. It is what the slow road would do: the block and,
// when tracked, its node are counted as runtime requests, neither can be refused.
void* Malloc(unsigned size) {
  EnsureInit();
  if (size == 0) return nullptr;
  if (size <= kSmallRoom && failSkip < 0 && recentCount < kRecent) {
    const unsigned cls = ClassOf(size);
    if (BlockHeader* h = classList[cls]) {
      classList[cls] = h->next;
      cachedBytes -= RoomOf(cls);
      h->size = size;
      void* block = BlockOf(h);
      const int level = trackLevel;
      runtimeRequests += level > 0 ? 2 : 1;  // the block, and its node when tracked
      if (level > 0) {
        recent[recentCount++] = RecentEntry{block, level};
        CountTracked();
      }
      UpdateHighWater();
      return block;
    }
  }
  return MallocSlow(size);
}

namespace {

[[gnu::noinline]] void* ReallocSlow(void* block, unsigned size) {
  if (!block) return Malloc(size);
  const int inRecent = trackLevel > 0 ? FindRecent(block) : -1;
  MallocTrackNode* node = trackLevel > 0 && inRecent < 0 ? FindNode(block) : nullptr;
  if (size == 0) {
    if (inRecent >= 0) DropRecent(inRecent);
    if (node) DropNode(node);
    RuntimeRealloc(block, 0);
    return nullptr;
  }
  void* moved = RuntimeRealloc(block, size);
  if (!moved) {
    SetOutOfMemory();
    return nullptr;
  }
  if (inRecent >= 0) recent[inRecent].block = moved;
  if (node) {
    UnlinkFromBucket(node);
    node->block = moved;
    unsigned b = BucketOf(moved);
    node->bucket = static_cast<uint16_t>(b);
    node->hashPrev = nullptr;
    node->hashNext = hashTable[b];
    if (node->hashNext) node->hashNext->hashPrev = node;
    hashTable[b] = node;
  }
  UpdateHighWater();
  ReserveMemory();
  return moved;
}

}  // namespace

// The common case in few instructions: a small block that already holds the new size within
// the slack, no failure scheduled. The block stays where it is, so its tracking is unchanged.
void* Realloc(void* block, unsigned size) {
  EnsureInit();
  if (kCacheBlocks && block && size > 0 && failSkip < 0) {
    BlockHeader* h = HeaderOf(block);
    const size_t room = RoomOf(h->cls);
    if (h->cls != kLarge && size <= room && room - size <= kReallocSlack) {
      ++runtimeRequests;
      h->size = size;
      UpdateHighWater();
      if (!reservedMemory) ReserveMemory();
      return block;
    }
  }
  return ReallocSlow(block, size);
}

int Free(void* block) {
  EnsureInit();
  if (!block) return 1;
  if (trackLevel > 0) Untrack(block);
  Release(block);
  if (!reservedMemory) ReserveMemory();
  return 0;
}

int BeginTrackingMallocs() {
  EnsureInit();
  // A node holds its level in 16 bits: one level deeper would wrap negative, and closing that
  // scope would free nothing. The refused scope is not opened; what the caller allocates
  // next stays in the current one, and the error state tells the caller to give up.
  if (trackLevel >= kMaxTrackLevel) {
    SetKernelError(-2);
    return -2;
  }
  ++trackLevel;
  return 0;
}

int EndTrackingMallocs() { return CloseLevel(false); }

int FreeTrackedMallocs() { return CloseLevel(true); }

int RemoveMallocFromTrack(void* block) {
  EnsureInit();
  if (trackLevel >= 1) {
    if (const int i = FindRecent(block); i >= 0) {
      DropRecent(i);
      ReserveMemory();
      return 0;
    }
    for (MallocTrackNode* n = pTrackRoot->next; n; n = n->next) {
      if (n->block == block) {
        DropNode(n);
        break;
      }
    }
  }
  ReserveMemory();
  return 0;
}

int MallocTrackLevel() { return trackLevel; }

void* ZKMalloc(unsigned size) { return Malloc(size); }

int ZKFree(void* block) { return Free(block); }

void MallocFailAfter(long skip, long count) {
  EnsureInit();  // the reserve is taken now, not from the first refused request
  failSkip = skip < 0 ? 0 : skip;
  failCount = count;
  if (count == 0) failSkip = -1;
}

void MallocFailClear() {
  failSkip = -1;
  failCount = 0;
}

long MallocRuntimeRequests() { return runtimeRequests; }

int MallocTrackedCount() { return trackedMallocs; }

unsigned MallocBlockSize(void* block) {
  if (!block) return 0;
  const BlockHeader* h = Open(block);
  const unsigned size = h->size;
  if constexpr (!kCacheBlocks) Hide(h, sizeof *h);
  return size;
}
