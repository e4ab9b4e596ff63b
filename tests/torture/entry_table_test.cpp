// Every public function that takes a B-spline record (the table scripts/entry-table writes from
// the headers) given a record that cannot be read, one fault at a time, in each record
// parameter: a null knot vector, a degree past the limit, counts that overflow or leave the
// degree above the control points, a domain that runs backwards, a bad kind, knots that are not
// numbers or decrease, a coefficient that is not a number, a weight not positive; and, with
// sound records, a number parameter (or array of numbers) that is not a number, -infinity or
// huge. Nothing may
// crash, trip a sanitizer, run past the time bound of a call or hand back as a success a record
// that does not pass the record check; the record arguments are sound records of one kind (a
// curve or a surface) and the other arguments plain values in arrays larger than any of these
// records needs.
//
// SEAMWELD_ENTRY_SAMPLE (default 1: all) runs every n-th function of the table, from a start
// chosen by SEAMWELD_TORTURE_FIRST (default 0), for a seeded share of the table; scripts/entry-sweep runs all of it, each function in a process of its own,
// the functions still open included. SEAMWELD_ENTRY_ONLY names one function to run alone.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/torture/entry_open.h"
#include "tests/torture/entry_table.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A call of the table on records this small that takes longer has hung.
constexpr double kCallBound = 20.0;

// The faults, applied to a record and taken back before it is freed.
// The record faults come first; the value faults after them are given to a number parameter
// (and to every entry of an array of numbers) with sound records.
enum Fault { kNullKnots, kDegree23, kCountOverflow, kDegreeAboveCount, kDomainBackwards, kBadKind,
             kNaNKnot, kDecreasingKnots, kNaNCoefficient, kWeightNotPositive, kNaNValue, kInfiniteValue,
             kHugeValue, kFaults };
constexpr int kRecordFaults = kNaNValue;
const char* const kFaultNames[kFaults] = {"null knots", "degree 23", "count 2^31 - 1", "degree above the count",
                                          "domain backwards", "kind 7", "NaN knot", "decreasing knots",
                                          "NaN coefficient", "weight not positive", "NaN value",
                                          "-infinite value", "huge value (1e300)"};

class EntryArgs {
  static constexpr int kMatrixRows = 64;

 public:
  EntryArgs(bool surface, int spoiltSlot, Fault fault) : surface_(surface), slot_(spoiltSlot), fault_(fault) {}
  ~EntryArgs() {
    for (Held& h : held_) {
      // Knots the call gave the record in place of the null ones (a filler's) stay; ours go.
      if (h.knots && !h.b->knotsU)
        h.b->knotsU = h.knots;
      else if (h.knots)
        Free(h.knots);
      h.b->degreeU = h.degree, h.b->interiorU = h.interior, h.b->kind = h.kind;
      FreeBspline(h.b);
    }
  }
  // A record for parameter k: the spoilt one in the chosen slot, sound ones elsewhere.
  Bspline* Rec(int k) {
    UntrackedScope own;  // the records outlive the scope that collects the call's results
    Bspline* b = surface_ ? SurfaceRecord() : BuildRandomCurve(11 + k, 3, 7, 3, fault_ == kWeightNotPositive);
    if (!b) return nullptr;
    held_.push_back({b, nullptr, b->degreeU, b->interiorU, b->kind});
    if (k == slot_) slotIsRecord_ = true;
    if (k == slot_ && fault_ < kRecordFaults) Spoil(held_.back());
    return b;
  }
  // Record arrays: eight entries, the first the record of this parameter.
  Bspline** Recs(int k) {
    Bspline** a = Slots(k);
    a[0] = Rec(k);
    for (int i = 1; i < 8; ++i) a[i] = a[0];
    arrays_.push_back(a);
    return a;
  }
  double Real(int k) { return k == slot_ ? BadReal() : 0.5; }
  // Counts stay 1: a count is the caller's promise about the arrays it hands over, which the
  // kernel cannot check, so a wrong one is no fault of the kernel's.
  int Int(int) { return 1; }
  double* Reals(int k) { return Block<double>(k, k == slot_ ? BadReal() : 0.5); }
  float* Floats(int k) { return Block<float>(k, 0.5f); }
  int* Ints(int k) { return Block<int>(k, 0); }
  double (*Triples(int k))[3] { return reinterpret_cast<double(*)[3]>(Block<double>(k, 0.5)); }
  // A matrix of kMatrixRows rows: as many as the largest record has control points, for the
  // band and stiffness matrices with a row per control point.
  double** Matrix(int) {
    std::vector<double*>& rows = matrixRows_.emplace_back(kMatrixRows);
    Rows given{rows.data(), {}};
    for (int i = 0; i < kMatrixRows; ++i) given.given[i] = rows[i] = rowBlocks_.emplace_back(512, 0.5).data();
    matrices_.push_back(given);
    return rows.data();
  }

  // The outcomes: a record made must have a sound structure, and pass the whole record check
  // when the fault given was one of structure (nothing could be read, so nothing copied); a copy
  // of a record holds its values as they are. The record is freed here.
  void Made(Bspline* b) {
    if (!b) return;
    for (const Held& h : held_)
      if (h.b == b) return;  // a record given, handed back as it is documented to be
    for (const Bspline* m : made_)
      if (m == b) return;  // returned and also written to an output slot: freed once
    made_.push_back(b);
    if (!BsplineShapeSound(b) || (fault_ < kDomainBackwards && !BsplineSound(b))) unsoundResult_ = true;
    // A curve on a new owner of its own (not on the owner's curve list) leaves the owner to
    // the caller too.
    Bspline* owner = b->kind == 1 && b->dimension == 2 ? b->owner : nullptr;
    FreeBspline(b);
    if (owner) Made(owner);
  }
  template <class T>
  void Value(T) {}
  // Arrays handed back outlive the caller's scope (the maker kept them): freed here, unless the
  // call handed back an array of the table's own.
  void Pointer(double* p) { FreeMade(p); }
  void Pointer(int* p) { FreeMade(p); }
  void Pointer(float* p) { FreeMade(p); }
  // A new array of records, as long as its block: each record checked and freed like a returned
  // one (the caller's own entries and nulls passed over), then the array.
  void Pointer(Bspline** p) {
    if (!p || Ours(p)) return;
    const unsigned n = MallocBlockSize(p) / sizeof(Bspline*);
    for (unsigned i = 0; i < n; ++i) Made(p[i]);
    Free(p);
  }
  // A new list: its nodes, and the records in it the caller did not give.
  void Pointer(BsplineList* list) {
    while (list) {
      BsplineList* next = list->next;
      Made(list->item);
      Free(list);
      list = next;
    }
  }
  void Pointer(Cloud* c) {
    if (c) FreeCloud(c);
  }
  // A surface group handed back is the caller's.
  void Pointer(Gsrf* p) {
    if (p) FreeGsrfBndr(p);
  }
  void Pointer(const void*) {}
  void Done() {}
  // Records a call wrote into a record array (an output slot) in place of the ones given: made
  // records, checked and freed like a returned one.
  void CollectWritten() {
    for (Bspline** a : arrays_)
      for (int i = 0; i < 8; ++i) {
        Bspline* b = a[i];
        bool given = !b;
        for (const Held& h : held_) given = given || h.b == b;
        for (int j = 0; j < i && !given; ++j) given = a[j] == b;
        if (!given) Made(b);
      }
    arrays_.clear();
    // Arrays a call wrote into the rows of a matrix (its output slots) are the caller's to free.
    std::vector<double*> freed;
    for (Rows& m : matrices_)
      for (int i = 0; i < kMatrixRows; ++i) {
        double* p = m.rows[i];
        if (!p || p == m.given[i] || std::find(freed.begin(), freed.end(), p) != freed.end()) continue;
        freed.push_back(p);
        FreeMade(p);
      }
    matrices_.clear();
  }

  bool UnsoundResult() const { return unsoundResult_; }
  bool SlotIsRecord() const { return slotIsRecord_; }

 private:
  struct Held {
    Bspline* b;
    double* knots;
    int degree, interior, kind;
  };
  double BadReal() const {
    return fault_ == kNaNValue ? kNaN : fault_ == kInfiniteValue ? -std::numeric_limits<double>::infinity()
           : fault_ == kHugeValue ? 1e300 : 0.5;
  }
  Bspline* SurfaceRecord() {
    PatchOptions o;
    o.nu = 5, o.nv = 4, o.rational = fault_ == kWeightNotPositive;
    return BuildFunctionPatch([](double x, double y) { return 0.2 * x * y; }, o);
  }
  void Spoil(Held& h) {
    Bspline* b = h.b;
    switch (fault_) {
      case kNullKnots: h.knots = b->knotsU, b->knotsU = nullptr; break;
      case kDegree23: b->degreeU = 23; break;
      case kCountOverflow: b->interiorU = INT_MAX - b->degreeU - 1; break;
      case kDegreeAboveCount: b->interiorU = -2; break;
      case kDomainBackwards: std::swap(b->umin, b->umax); break;
      case kBadKind: b->kind = 7; break;
      case kNaNKnot: b->knotsU[b->degreeU + 1] = kNaN; break;
      case kDecreasingKnots: std::swap(b->knotsU[b->degreeU + 1], b->knotsU[NumKnotsU(b) - 1]); break;
      case kNaNCoefficient: b->Y[0][2] = kNaN; break;
      default: b->W[0][1] = -0.5; break;
    }
  }
  struct Rows {
    double** rows;
    double* given[kMatrixRows];
  };
  // Whether p lies in one of the table's own blocks.
  bool Ours(const void* p) const {
    const char* c = static_cast<const char*>(p);
    auto in = [c](const std::vector<double>& v) {
      const char* lo = reinterpret_cast<const char*>(v.data());
      return !v.empty() && c >= lo && c < lo + v.size() * sizeof(double);
    };
    return std::any_of(std::begin(blocks_), std::end(blocks_), in) ||
           std::any_of(rowBlocks_.begin(), rowBlocks_.end(), in);
  }
  void FreeMade(void* p) {
    if (!Ours(p)) Free(p);
  }
  template <class T>
  T* Block(int k, T fill) {
    std::vector<double>& v = blocks_[k % kBlocks];
    v.assign(512, 0.0);
    T* p = reinterpret_cast<T*>(v.data());
    for (size_t i = 0; i < v.size() * sizeof(double) / sizeof(T); ++i) p[i] = fill;
    return p;
  }
  Bspline** Slots(int k) {
    std::vector<double>& v = blocks_[k % kBlocks];
    v.assign(16, 0.0);
    return reinterpret_cast<Bspline**>(v.data());
  }
  static constexpr int kBlocks = 256;
  bool surface_;
  int slot_;
  Fault fault_;
  std::vector<Held> held_;
  std::vector<Bspline**> arrays_;
  std::vector<Rows> matrices_;
  std::vector<const Bspline*> made_;
  std::vector<double> blocks_[kBlocks];
  std::deque<std::vector<double*>> matrixRows_;
  std::deque<std::vector<double>> rowBlocks_;
  bool unsoundResult_ = false;
  bool slotIsRecord_ = false;
};

using Table = EntryTableOf<EntryArgs>;

// Functions the table cannot drive this way, each with its reason: they take their argument
// over (free it or link it into another record), so the caller's record is not the caller's
// after a success; they fill a record the caller hands over empty (its arrays would be lost);
// they read a cache of the caller's making; or they are the record check itself.
const char* const kNotDriven[] = {
    // take their argument over
    "FreeBspline", "FreeBsplineStruct", "FreeBsplineProperties", "FreeQuadricInfo", "FreeBsplineArray",
    "FreeBsplineArrayContents", "FreeDerivBsplineArrays", "FreeCrvArray", "PutBsplToSurfCrvList",
    "AppendBsplToSurfCrvList", "InstallBsplineArrays", "ExtendObjectsInAllDir",
    // frees its position and surface-curve arrays with their curves when it fails
    "FillNSidedHoleWCenter",
    // fill an empty record
    "AllocateBsplineArrays", "CopyCurveGivenBspline", "CopyBsplineSurfaceGivenBspline", "CopySurfaceGivenBspline",
    "MkLine2",
    // documented to run without input checks, for callers that made them
    "RefinePlaneCurvesCrossing",
    // read a grid cache of the caller's making as it is (the table's arrays are no such cache)
    "SurfaceGridClosest", "SurfaceClosestFromGrid", "SurfaceClosestPoint", "EstimateClosestPntSurf",
    "GetClosestPointOnSurfaceResult", "LocateEdgeForSurfCurveProjNorm", "SurfaceLiesOnSurface",
    "DuplicateSurfaces",
    // the record check
    "SoundRecordOrFailed",
};

bool Listed(const char* name, const char* const* list, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::strcmp(list[i], name) == 0) return true;
  return false;
}

// Driven in the suite's share: not excluded above, and not among those the last full sweep found
// still open (tests/torture/entry_open.h; SEAMWELD_ENTRY_ONLY runs any of them).
bool Driven(const char* name) {
  return !Listed(name, kNotDriven, std::size(kNotDriven)) &&
         !Listed(name, kEntriesStillOpen.data(), kEntriesStillOpen.size());
}

// Aborts the run when one call outlives the bound, naming it.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    stop_ = true;
    thread_.join();
  }
  void Start(const std::string& what) {
    what_ = what;
    started_ = Now();
  }
  void Stop() { started_ = 0.0; }

 private:
  static double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  void Watch() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const double s = started_;
      if (s > 0.0 && Now() - s > kCallBound) {
        std::fprintf(stderr, "call ran past %g s: %s\n", kCallBound, what_.c_str());
        std::abort();
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<double> started_{0.0};
  std::string what_;
  std::thread thread_;
};

using EntryTable = KernelTest;

TEST_F(EntryTable, EveryEntryPointRefusesRecordsItCannotRead) {
  const char* sample = std::getenv("SEAMWELD_ENTRY_SAMPLE");
  const char* first = std::getenv("SEAMWELD_TORTURE_FIRST");
  const char* only = std::getenv("SEAMWELD_ENTRY_ONLY");
  const long every = sample ? std::max(1L, std::atol(sample)) : 1;
  const long from = first ? std::atol(first) : 0;
  const bool trace = std::getenv("SEAMWELD_TORTURE_TRACE") != nullptr;
  Watchdog watchdog;
  int calls = 0, functions = 0;
  const long n = static_cast<long>(std::size(Table::rows));
  for (long i = 0; i < n; ++i) {
    const Table::Row& e = Table::rows[i];
    if (Listed(e.name, kNotDriven, std::size(kNotDriven))) continue;
    if (only ? std::strcmp(only, e.name) != 0 : (i - from) % every != 0 || !Driven(e.name)) continue;
    ++functions;
    for (int surface = 0; surface < 2; ++surface)
      for (int slot = 0; slot < e.params; ++slot)
        for (int f = 0; f < kFaults; ++f) {
          ClearKernelError();
          // Arrays and lists a call hands back come from the caller's scope: this one frees
          // them (records handed back live outside it and are freed as they are checked).
          std::optional<TrackingScope> results;
          results.emplace();
          EntryArgs args(surface != 0, slot, static_cast<Fault>(f));
          const std::string what = std::string(e.name) + " (" + e.header + "), " + (surface ? "surface" : "curve") +
                                   " records, " + kFaultNames[f] + " in parameter " + std::to_string(slot);
          if (trace) std::fprintf(stderr, "%s\n", what.c_str());
          watchdog.Start(what);
          e.call(args);
          watchdog.Stop();
          args.CollectWritten();
          results.reset();
          ++calls;
          ClearKernelError();
          EXPECT_FALSE(args.UnsoundResult()) << what << ": a record that fails the record check as a success";
          if (MallocTrackLevel() != 0) {
            ADD_FAILURE() << what << ": a tracking scope left open";
            return;
          }
          // A record in this slot takes the record faults, a number the value faults (its first
          // call, with every record sound, is the plain call).
          if (f == 0 && !args.SlotIsRecord()) f = kRecordFaults - 1;
          if (f == kRecordFaults - 1 && args.SlotIsRecord()) break;
        }
  }
  std::printf("%d functions of %ld, %d calls\n", functions, n, calls);
}

}  // namespace
