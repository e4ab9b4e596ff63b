// Tracked memory: every kernel block comes from Malloc/Realloc/Free. Scopes opened with
// BeginTrackingMallocs nest; FreeTrackedMallocs releases everything allocated in the current
// scope, EndTrackingMallocs closes it and hands its blocks to the caller (they become untracked
// and survive every enclosing FreeTrackedMallocs). Running out of memory asks the host to
// empty its trash, retries, falls back on a 32768-byte reserve for small requests, and finally
// shows one message and sets zk_error_status = -1, memory_error = 1. Scopes nest at most 32767
// deep: a deeper BeginTrackingMallocs opens nothing, sets the error state (-2) and returns -2.
// A freed small block waits on a list of its size class for the next request of that class
// (at most a megabyte waits; the lists go back to the runtime before a failed request is
// retried), and a block grows in place within its class's room. Every request still counts
// as the runtime requests it always was and can be refused by the test hooks
// (foundation/umalloc_hooks.h); under
// AddressSanitizer freed blocks go straight back to the runtime.
#pragma once

#include <climits>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "foundation/coreglob.h"

// A block of size bytes in the current scope; null for 0 bytes (no error) or on failure (error set).
void* Malloc(unsigned size);
// The block grown or shrunk to size bytes, its contents kept and its scope unchanged (null block:
// as Malloc; size 0 frees it and gives null); null on failure, the old block then still valid.
void* Realloc(void* block, unsigned size);
// Releases a block of any scope; 1 for null, else 0.
int Free(void* block);
// Opens a scope: 0, or -2 (error state set, nothing opened) beyond 32767 levels.
int BeginTrackingMallocs();
// Closes the current scope, its blocks handed to the caller untracked; the number of blocks it
// held, or -2 when no scope is open.
int EndTrackingMallocs();
// Closes the current scope and frees its blocks; their number, or -2 when no scope is open.
int FreeTrackedMallocs();
// Takes a block out of every scope, so that no FreeTrackedMallocs releases it; 0.
int RemoveMallocFromTrack(void* block);
// The number of scopes open (0 outside every scope).
int MallocTrackLevel();
// Resets the block table and takes the reserve; called once before the first request.
void MallocInit();
// Takes the reserve for small requests again when it was used up (nothing when it is held).
void ReserveMemory();
// Releases the reserve.
void FreeReserveMemory();
// The host's memory statistics: both set to 0 in this kernel.
void MallocStats(unsigned* a, unsigned* b);
// The high-water mark of the host's statistics, reset (debug level 10 only) and returned.
unsigned ResetMallocHighWaterMark();
unsigned GetMallocHighWaterMark();
// The host's names for Malloc and Free, with their results.
void* ZKMalloc(unsigned size);
int ZKFree(void* block);

// ---- Arrays ---------------------------------------------------------------------------------
// An array of T whose element count is the product of `counts`. The allocator takes an
// unsigned byte count: a negative count, or a size that does not fit it, is the ordinary
// out-of-memory failure (message, memory_error = 1, zk_error_status = -1, null), never a short
// block. A zero count is a zero-size request: null without an error, as Malloc(0).
template <class T, class... N>
T* MallocArray(N... counts);
template <class T, class... N>
T* CallocArray(N... counts);
template <class T, class... N>
T* ReallocArray(T* block, N... counts);

// The byte count of an array request, for the array allocators alone.
class TrackedArraySize {
  template <class N>
  static bool MultiplyCount(unsigned long long& total, N n) {
    static_assert(std::is_integral_v<N>, "element counts are integers");
    if constexpr (std::is_signed_v<N>) {
      if (n < 0) return false;
    }
    return !__builtin_mul_overflow(total, static_cast<unsigned long long>(n), &total);
  }

  template <class T, class... N>
  static bool Bytes(unsigned* bytes, N... counts) {
    static_assert(sizeof...(N) > 0, "give the element count");
    unsigned long long total = sizeof(T);
    if (!(MultiplyCount(total, counts) && ...) || total > UINT_MAX) return false;
    *bytes = static_cast<unsigned>(total);
    return true;
  }

  template <class T, class... N>
  friend T* MallocArray(N... counts);
  template <class T, class... N>
  friend T* CallocArray(N... counts);
  template <class T, class... N>
  friend T* ReallocArray(T* block, N... counts);
};

template <class T, class... N>
T* MallocArray(N... counts) {
  unsigned bytes = 0;
  if (!TrackedArraySize::Bytes<T>(&bytes, counts...)) {
    SetOutOfMemory();
    return nullptr;
  }
  return static_cast<T*>(Malloc(bytes));
}

// As MallocArray, every byte zero.
template <class T, class... N>
T* CallocArray(N... counts) {
  static_assert(std::is_trivially_copyable_v<T>, "only plain records may start as zero bytes");
  T* block = MallocArray<T>(counts...);
  unsigned bytes = 0;
  if (block && TrackedArraySize::Bytes<T>(&bytes, counts...))
    std::memset(static_cast<void*>(block), 0, bytes);
  return block;
}

// For a step of a build that stops at its first failure: a zeroed array of `count` T in `out`
// (null for none), true unless the request failed or a failure is flagged (KernelFailed). A
// block obtained while an earlier failure is still flagged is given back at once: the build
// stops without handing it to the record or scope that would have freed it.
template <class T, class N>
bool CallocArrayUnlessFailed(T*& out, N count) {
  out = CallocArray<T>(count);
  if (out && KernelFailed()) {
    Free(out);
    out = nullptr;
    return false;
  }
  return out || count == 0;
}

// Resizes as Realloc does; a refused size leaves the old block as it was.
template <class T, class... N>
T* ReallocArray(T* block, N... counts) {
  unsigned bytes = 0;
  if (!TrackedArraySize::Bytes<T>(&bytes, counts...)) {
    SetOutOfMemory();
    return nullptr;
  }
  return static_cast<T*>(Realloc(block, bytes));
}

// Frees a record's array and nulls its field, so a freed record never keeps a dangling pointer.
template <class T>
void FreeAndNull(T*& block) {
  if (block) Free(block);
  block = nullptr;
}

// ---- Scopes and owners ----------------------------------------------------------------------
// Opens a tracking scope for the life of the guard. Unless keep() was called, every block
// allocated in the scope is freed on the way out (FreeTrackedMallocs), so early returns cannot
// leak; keep() closes the scope at once keeping its blocks (EndTrackingMallocs) and returns
// how many it kept. A scope that could not be opened (too deep) closes nothing: the enclosing
// scope keeps what was allocated meanwhile, and the error state is set.
class TrackingScope {
 public:
  TrackingScope() : open_(BeginTrackingMallocs() == 0) {}
  ~TrackingScope() {
    if (open_) FreeTrackedMallocs();
  }
  int keep() {
    const int kept = open_ ? EndTrackingMallocs() : 0;
    open_ = false;
    return kept;
  }
  void release() {
    if (open_) FreeTrackedMallocs();
    open_ = false;
  }
  TrackingScope(const TrackingScope&) = delete;
  TrackingScope& operator=(const TrackingScope&) = delete;

 private:
  bool open_;
};

// For blocks that a record owns from the moment they are made (list nodes, a record's arrays):
// allocated in a scope of their own that the guard closes keeping them, so no caller's
// FreeTrackedMallocs can free them under the record; only the record's free releases them.
// Outside every scope nothing is tracked and no scope is opened.
class UntrackedScope {
 public:
  UntrackedScope() : open_(MallocTrackLevel() > 0 && BeginTrackingMallocs() == 0) {}
  ~UntrackedScope() {
    if (open_) EndTrackingMallocs();
  }
  UntrackedScope(const UntrackedScope&) = delete;
  UntrackedScope& operator=(const UntrackedScope&) = delete;

 private:
  bool open_;
};

// The one owner of a working record (a B-spline, a cloud, a constraint list, a matrix, a
// block): frees it with the record's own free function on every path, unless release() hands
// it on. Records outside every scope (the callee closed its scope keeping them) need this;
// blocks of an open TrackingScope do not.
//     Owned<Bspline, FreeBspline> copy(CopyBsplineStruct(b));
//     Owned<double*, matrix_free_ff> A(allocate_matrix_ff(n, n));
template <class T, auto FreeFn>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* record) : record_(record) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  T* get() const { return record_; }
  T* operator->() const { return record_; }
  T& operator*() const { return *record_; }
  T& operator[](std::ptrdiff_t i) const { return record_[i]; }  // an owned array
  explicit operator bool() const { return record_ != nullptr; }
  T* release() {
    T* record = record_;
    record_ = nullptr;
    return record;
  }
  void reset(T* record = nullptr) {
    if (record_) FreeFn(record_);
    record_ = record;
  }
  // For a builder that hands its record back through an out-parameter: frees what is held and
  // gives the place the builder writes to.
  T** receive() {
    reset();
    return &record_;
  }

 private:
  T* record_ = nullptr;
};

// The one owner of an array of records: `count` pointers, each a record of its own or null,
// freed with the record's own free function and then the array itself, on every path, unless
// release() hands them on. Null entries are skipped, so an array filled part of the way (or
// with gaps) is freed as far as it was filled. An array in an open TrackingScope may be held
// too: Free takes the block off the scope, so the owner must be declared after the scope.
//     OwnedArray<Bspline, FreeBspline> pieces(CallocArray<Bspline*>(n), n);
//     OwnedArray<char, Free> names;
// To hand the records on and drop the array: Free(pieces.release()).
template <class T, auto FreeFn>
class OwnedArray {
 public:
  OwnedArray() = default;
  OwnedArray(T** records, int count) : records_(records), count_(records ? count : 0) {}
  ~OwnedArray() { reset(); }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  OwnedArray(OwnedArray&& other) noexcept : records_(other.records_), count_(other.count_) {
    other.records_ = nullptr;
    other.count_ = 0;
  }
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    if (this != &other) {
      const int count = other.count_;
      reset(other.release(), count);
    }
    return *this;
  }

  // A zeroed array of `count` entries; null (out of memory flagged) when it cannot be had.
  static OwnedArray Zeroed(int count) { return OwnedArray(CallocArray<T*>(count), count); }

  T** get() const { return records_; }
  int count() const { return records_ ? count_ : 0; }
  T*& operator[](std::ptrdiff_t i) const { return records_[i]; }
  explicit operator bool() const { return records_ != nullptr; }
  T** release() {
    T** records = records_;
    records_ = nullptr;
    count_ = 0;
    return records;
  }
  void reset(T** records = nullptr, int count = 0) {
    if (records_) {
      for (int i = 0; i < count_; ++i)
        if (records_[i]) FreeFn(records_[i]);
      Free(records_);
    }
    records_ = records;
    count_ = records ? count : 0;
  }
  // For a builder that hands back an array of `count` records through an out-parameter: frees
  // what is held and gives the place the builder writes to.
  T*** receive(int count) {
    reset();
    count_ = count;
    return &records_;
  }

 private:
  T** records_ = nullptr;
  int count_ = 0;
};

