#include "foundation/fmalloc.h"

#include <cstring>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

struct FmallocLink {
  void* data;
  FmallocLink* next;
};

namespace {
constexpr int kElementAlign = 8;  // pointer size and alignment on the 64-bit targets
static_assert(sizeof(void*) <= kElementAlign && alignof(void*) <= kElementAlign);
}  // namespace

FmallocPool* Fmalloc_init(int elementSize, int perBlock) {
  if (perBlock < 1) return nullptr;  // a block of no elements would never satisfy a request
  if (elementSize < 1) elementSize = 1;
  if (elementSize > 0x7fffffff - kElementAlign) return nullptr;
  TrackingScope scope;
  auto* pool = static_cast<FmallocPool*>(Malloc(sizeof(FmallocPool)));
  if (!pool || KernelFailed()) return nullptr;
  pool->elementSize = (elementSize + kElementAlign - 1) / kElementAlign * kElementAlign;
  pool->perBlock = perBlock;
  pool->nextSlot = perBlock;  // the first request takes a block
  pool->inUse = 0;
  pool->freeCount = 0;
  pool->capacity = 0;
  pool->blocks = nullptr;
  pool->freeList = nullptr;
  scope.keep();
  return pool;
}

void* Fmalloc(FmallocPool* pool) {
  if (!pool) return nullptr;
  if (pool->freeList) {
    void* element = pool->freeList;
    std::memcpy(&pool->freeList, element, sizeof(void*));
    ++pool->inUse;
    --pool->freeCount;
    return element;
  }
  if (pool->nextSlot >= pool->perBlock) {
    TrackingScope scope;
    auto* link = static_cast<FmallocLink*>(Malloc(sizeof(FmallocLink)));
    if (!link || KernelFailed()) return nullptr;
    link->data = MallocArray<char>(pool->perBlock, pool->elementSize);
    if (!link->data || KernelFailed()) return nullptr;
    scope.keep();
    link->next = pool->blocks;
    pool->blocks = link;
    pool->nextSlot = 0;
    pool->capacity += pool->perBlock;
  }
  void* element = static_cast<char*>(pool->blocks->data) + static_cast<long>(pool->nextSlot) * pool->elementSize;
  ++pool->nextSlot;
  ++pool->inUse;
  return element;
}

FmallocPool* Ffree(FmallocPool* pool, void* element) {
  if (!pool || !element) return pool;
  std::memcpy(element, &pool->freeList, sizeof(void*));
  pool->freeList = element;
  --pool->inUse;
  ++pool->freeCount;
  return pool;
}

int Fmalloc_end(FmallocPool* pool) {
  if (!pool) return Free(nullptr);
  for (FmallocLink* link = pool->blocks; link;) {
    FmallocLink* next = link->next;
    Free(link->data);
    Free(link);
    link = next;
  }
  return Free(pool);
}

char* lstrdup(const char* s) {
  if (!s) return nullptr;
  const size_t len = std::strlen(s) + 1;
  auto* copy = MallocArray<char>(len);
  if (!copy) return nullptr;
  std::memcpy(copy, s, len);
  return copy;
}
