// Tracked memory: every kernel block comes from Malloc/Realloc/Free. Scopes opened with
// BeginTrackingMallocs nest; FreeTrackedMallocs releases everything allocated in the current
// scope, EndTrackingMallocs closes it and hands its blocks to the caller (they become untracked
// and survive every enclosing FreeTrackedMallocs). Running out of memory asks the host to
// empty its trash, retries, falls back on a 32768-byte reserve for small requests, and finally
// shows one message and sets zk_error_status = -1, memory_error = 1.
#pragma once

#include <cstddef>

void* Malloc(unsigned size);
void* Realloc(void* block, unsigned size);
int Free(void* block);
int BeginTrackingMallocs();
int EndTrackingMallocs();
int FreeTrackedMallocs();
int RemoveMallocFromTrack(void* block);
int MallocTrackLevel();
void MallocInit();
void ReserveMemory();
void FreeReserveMemory();
void MallocStats(unsigned* a, unsigned* b);
unsigned ResetMallocHighWaterMark();
unsigned GetMallocHighWaterMark();
void break_here_for_stats();
void* ZKMalloc(unsigned size);
int ZKFree(void* block);

// Opens a tracking scope for the life of the guard. Unless keep() was called, every block
// allocated in the scope is freed on the way out (FreeTrackedMallocs), so early returns cannot
// leak; keep() closes the scope at once keeping its blocks (EndTrackingMallocs).
class TrackingScope {
 public:
  TrackingScope() { BeginTrackingMallocs(); }
  ~TrackingScope() {
    if (open_) FreeTrackedMallocs();
  }
  void keep() {
    if (open_) EndTrackingMallocs();
    open_ = false;
  }
  void release() {
    if (open_) FreeTrackedMallocs();
    open_ = false;
  }
  TrackingScope(const TrackingScope&) = delete;
  TrackingScope& operator=(const TrackingScope&) = delete;

 private:
  bool open_ = true;
};

// ---- Test hooks ---------------------------------------------------------------------------
// The C runtime's allocator as the kernel sees it can be made to refuse requests: after `skip`
// further successful runtime requests (malloc and realloc, tracking nodes included), the next
// `count` are refused; count < 0 refuses every later request until MallocFailClear().
void MallocFailAfter(long skip, long count);
void MallocFailClear();
// Runtime requests made so far (for sizing failure-injection loops).
long MallocRuntimeRequests();
// Tracked blocks alive in all open scopes.
int MallocTrackedCount();
