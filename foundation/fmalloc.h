// A pool of fixed-size elements carved from blocks of perBlock elements, with a free list, and
// a string duplicator on the tracked allocator. Pool storage belongs to the pool, never to the
// caller's tracking scope: it lives until Fmalloc_end.
#pragma once

struct FmallocLink;

struct FmallocPool {
  int elementSize;     // requested size rounded up to a multiple of 8 (the free list lives in
                       // each free element's first word, so elements must hold a pointer)
  int perBlock;        // elements per storage block
  int nextSlot;        // next unused slot of the newest block; perBlock when it is full
  int inUse;           // handed out and not returned
  int freeCount;       // on the free list
  int capacity;        // elements in all storage blocks
  FmallocLink* blocks; // newest storage block first
  void* freeList;      // returned elements, chained through their first word
};

// Null when perBlock < 1 or the header cannot be had.
FmallocPool* Fmalloc_init(int elementSize, int perBlock);
// A returned element first (last returned, first handed out), else the next unused slot,
// else a new block; null when a new block cannot be had.
void* Fmalloc(FmallocPool* pool);
// Returns the element to the pool (a null element is ignored); returns the pool.
FmallocPool* Ffree(FmallocPool* pool, void* element);
// Frees every block and the header; returns Free's result for the header.
int Fmalloc_end(FmallocPool* pool);

// Copy of a NUL-terminated string at the current tracking level; null for null or no memory.
char* lstrdup(const char* s);
