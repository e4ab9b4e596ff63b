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
// The second table's functions (clouds, meshes, arrays of numbers, no record) get a sound mesh,
// sound arrays and counts, one parameter made wrong at a time: a cloud null, with a point not a
// number, infinite or huge, a corner out of range, a triangle with a repeated corner, no
// triangles, every point in one place, no points, a last scan running past the points or grid
// rows longer than the points allow; or a sound cloud of scans or of a grid (other seeds draw
// every cloud's kind among the three); an array it reads null (one whose length the caller
// gives, not a vector declared with its extent), an array with an entry not a number, infinite
// or huge, or the same as the array before it; a count of 0, -1 or as long as the arrays; a
// number not a number, infinite or huge. SEAMWELD_ENTRY_NULLS=0 leaves
// the null arrays out.
// SEAMWELD_ENTRY_ROUNDS (default 1) repeats every function's calls over that many seeds from
// SEAMWELD_ENTRY_SEED (default 0): seed 0 is the suite's fixed set, the others draw their records
// and values (a campaign of a million calls is some 25 rounds of the whole table).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <pthread.h>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "foundation/umalloc.h"
#include "foundation/umalloc_hooks.h"
#include "tests/support/builders.h"
#include "tests/support/kernel_fixture.h"
#include "tests/torture/entry_open.h"
#include "tests/torture/entry_table.h"
#include "tests/torture/meshes.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A call of the table on records this small that works longer (CPU seconds) has hung.
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
 protected:
  static constexpr int kMatrixRows = 64;

 public:
  // Seed 0 gives every function the same records and values; another seed draws the records'
  // degrees, counts, knots and weights, the sound numbers, the spoilt entry of an array and the
  // sign of an infinite or huge value from its own stream.
  EntryArgs(bool surface, int spoiltSlot, Fault fault, unsigned seed = 0)
      : surface_(surface), slot_(spoiltSlot), fault_(fault), seed_(seed), rng_(0x5eed0u + 977u * seed) {}
  ~EntryArgs() {
    for (HeldCloud& h : clouds_) {
      // A lie taken back where the call left it, so that the free reads what was made.
      if (h.c->npts == h.liedPoints) h.c->npts = h.points;
      if (h.c->ntri == h.liedTriangles) h.c->ntri = h.triangles;
      FreeCloud(h.c);
    }
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
    Bspline* b = surface_ ? SurfaceRecord() : CurveRecord(k);
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
  double Real(int k) { return k == slot_ ? BadReal() : Good(); }
  // Counts stay 1: a count is the caller's promise about the arrays it hands over, which the
  // kernel cannot check, so a wrong one is no fault of the kernel's.
  int Int(int) { return 1; }
  double* Reals(int k) {
    double* v = Block<double>(k, 0.5);
    if (seed_ != 0)
      for (int i = 0; i < 512; ++i) v[i] = Good();
    // Seed 0 spoils every entry, another seed one of the first sixteen.
    if (k == slot_) {
      if (seed_ == 0)
        std::fill(v, v + 512, BadReal());
      else
        v[I(0, 15)] = BadReal();
    }
    return v;
  }
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
  float** FloatMatrix(int k) {
    float** rows = reinterpret_cast<float**>(Slots(k));
    FloatRows given{rows, {}};
    for (int i = 0; i < 8; ++i) given.given[i] = rows[i] = Block<float>(100 + 8 * k + i, 0.5f);
    floatMatrices_.push_back(given);
    return rows;
  }
  uint8_t* Bytes(int k) { return reinterpret_cast<uint8_t*>(Block<double>(k, 0.0)); }
  // A sound mesh: an open tube of a size and place the seed draws. The size stays within a few
  // times the numbers given beside it (lengths and tolerances in [0, 1]): a tolerance a millionth
  // of the mesh asks for work no bound on a call could allow.
  Cloud* Cld(int) { return Mesh(); }

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
  // A surface group handed back is the caller's.
  void Pointer(Gsrf* p) {
    if (p) FreeGsrfBndr(p);
  }
  void Pointer(const void*) {}
  // A cloud handed back must have finite points and corners that name points; freed here unless
  // it is one given.
  void Pointer(Cloud* c) {
    if (!c) return;
    for (const HeldCloud& h : clouds_)
      if (h.c == c) return;
    // Points given that are not finite, and triangles given that name no point (as scans carry
    // them), may be copied as they are.
    const bool sound = c->npts >= 0 && (!finiteInputs_ || CloudPointsFinite(c)) &&
                       (!cornersInputs_ || MeshCornersNamePoints(c, nullptr));
    if (!sound) unsoundResult_ = true;
    FreeCloud(c);
  }
  // Search structures handed back, freed with their own free functions.
  void Pointer(KDTree* t) { FreeKDTree(t); }
  void Pointer(KDTreeNode* t) { FreeKDTreeNode(t); }
  void Pointer(NearTree* t) { FreeNearTree(t); }
  void Pointer(Subdiv* t) { FreeSubdiv(t); }
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
    // Arrays a call wrote into the rows of a matrix (its output slots) are the caller's to free,
    // float arrays handed back through the caller's array pointers (a polyline's coordinates)
    // as well. Several outputs may be views of one new block (a grid's x, y and z): each block
    // is freed once, from its start, the lowest of the pointers into it.
    std::vector<const void*> written;
    for (Rows& m : matrices_)
      for (int i = 0; i < kMatrixRows; ++i)
        if (m.rows[i] && m.rows[i] != m.given[i]) written.push_back(m.rows[i]);
    matrices_.clear();
    for (FloatRows& m : floatMatrices_)
      for (int i = 0; i < 8; ++i)
        if (m.rows[i] && m.rows[i] != m.given[i]) written.push_back(m.rows[i]);
    floatMatrices_.clear();
    std::sort(written.begin(), written.end(), std::less<>());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    const char* end = nullptr;
    for (const void* v : written) {
      const char* p = static_cast<const char*>(v);
      if (p < end || !Foreign(p)) continue;
      void* block = const_cast<char*>(p);
      end = p + MallocBlockSize(block);
      Free(block);
    }
  }

  bool UnsoundResult() const { return unsoundResult_; }
  bool SlotIsRecord() const { return slotIsRecord_; }

 protected:
  struct Held {
    Bspline* b;
    double* knots;
    int degree, interior, kind;
  };
  // A cloud given, with the counts to put back where a fault changed them.
  struct HeldCloud {
    Cloud* c;
    int points, triangles, liedPoints = -7, liedTriangles = -7;
  };
  // The kinds of sound cloud: an unordered mesh, the same tube as scans (a ring a scan) and a
  // gridded height field; each carries its triangles. Seeds other than 0 draw the kind of every
  // cloud, the spoilt ones too.
  enum CloudShape { kTube, kScanTube, kGridSheet };
  Cloud* Mesh() { return Mesh(seed_ ? static_cast<CloudShape>(I(kTube, kGridSheet)) : kTube); }
  Cloud* Mesh(CloudShape shape) {
    UntrackedScope own;  // as the records
    const int around = seed_ ? I(4, 9) : 6, along = seed_ ? I(2, 5) : 4;
    const double size = seed_ ? std::pow(10.0, std::uniform_real_distribution<double>(-0.5, 0.5)(rng_)) : 1.0;
    const double far = seed_ ? 100.0 * size * std::uniform_real_distribution<double>(-1.0, 1.0)(rng_) : 0.0;
    Cloud* c = shape == kGridSheet ? GridSheet(around, along, size, far) : MakeTubeMesh(around, along, size, 2.0 * size);
    if (c && shape != kGridSheet)
      for (int i = 0; i < c->npts; ++i) c->x[i] += float(far), c->y[i] -= float(far);
    if (c && shape == kScanTube) c = AsScans(c, around, along);
    if (!c) return nullptr;
    for (int t = 0; t < c->ntri; ++t) MakeCldPolyPlane(c, &c->tri[t]);
    clouds_.push_back({c, c->npts, c->ntri});
    return c;
  }
  // A wavy sheet of ncol x nrow heights over a square of side 2 size, two triangles a cell.
  static Cloud* GridSheet(int ncol, int nrow, double size, double far) {
    std::vector<float> heights(ncol * nrow);
    for (int j = 0; j < nrow; ++j)
      for (int k = 0; k < ncol; ++k) heights[j * ncol + k] = float(0.3 * size * std::sin(1.3 * k) * std::cos(0.9 * j));
    Cloud* c = MakeGridCld(far, -far, 2.0 * size / (ncol - 1), 2.0 * size / (nrow - 1), ncol, nrow, 0, 1,
                           heights.data(), nullptr);
    if (!c) return nullptr;
    c->tri = MallocArray<CloudTriangle>(2 * (ncol - 1) * (nrow - 1));
    if (!c->tri) return FreeCloud(c), nullptr;
    for (int j = 0; j + 1 < nrow; ++j)
      for (int k = 0; k + 1 < ncol; ++k) {
        const int a = j * ncol + k, b = a + 1, d = a + ncol, e = d + 1;
        c->tri[c->ntri++] = {{a, b, e}, {}};
        c->tri[c->ntri++] = {{a, e, d}, {}};
      }
    return c;
  }
  // The tube's points as a scan cloud of its rings, with its triangles.
  static Cloud* AsScans(Cloud* tube, int around, int along) {
    std::vector<int> start(along), end(along);
    for (int j = 0; j < along; ++j) start[j] = j * around, end[j] = (j + 1) * around - 1;
    Cloud* c = MakeScanCld(tube->x, tube->y, tube->z, tube->npts, start.data(), end.data(), along, nullptr);
    if (c) std::swap(c->tri, tube->tri), std::swap(c->ntri, tube->ntri);
    FreeCloud(tube);
    return c;
  }
  int I(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng_); }
  double Good() { return seed_ == 0 ? 0.5 : std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
  double BadReal() {
    const double sign = seed_ != 0 && I(0, 1) ? -1.0 : 1.0;
    return fault_ == kNaNValue ? kNaN : fault_ == kInfiniteValue ? -sign * std::numeric_limits<double>::infinity()
           : fault_ == kHugeValue ? sign * 1e300 : 0.5;
  }
  // At least one interior knot and three control points, so that every fault has an entry to spoil.
  Bspline* CurveRecord(int k) {
    const bool rational = fault_ == kWeightNotPositive || (seed_ != 0 && I(0, 4) == 0);
    if (seed_ == 0) return BuildRandomCurve(11 + k, 3, 7, 3, rational);
    const int p = I(1, 3);
    return BuildRandomCurve(rng_(), p, p + 2 + I(0, 4), 3, rational);
  }
  Bspline* SurfaceRecord() {
    PatchOptions o;
    o.nu = 5, o.nv = 4, o.rational = fault_ == kWeightNotPositive;
    if (seed_ != 0) {
      o.degreeU = I(1, 3), o.degreeV = I(1, 3);
      o.nu = o.degreeU + 2 + I(0, 3), o.nv = o.degreeV + 2 + I(0, 3);
      o.layout = I(0, 1) ? KnotLayout::Random : KnotLayout::Uniform;
      o.rational = o.rational || I(0, 4) == 0;
      o.seed = rng_();
    }
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
      case kNaNKnot: b->knotsU[seed_ ? I(0, NumKnotsU(b) - 1) : b->degreeU + 1] = kNaN; break;
      case kDecreasingKnots:
        std::swap(b->knotsU[seed_ ? I(b->degreeU + 1, NumCtrlU(b) - 1) : b->degreeU + 1], b->knotsU[NumKnotsU(b) - 1]);
        break;
      case kNaNCoefficient: b->Y[0][seed_ ? I(0, NumCtrlU(b) - 1) : 2] = kNaN; break;
      default: b->W[0][seed_ ? I(0, NumCtrlU(b) - 1) : 1] = seed_ && I(0, 1) ? 0.0 : -0.5; break;
    }
  }
  struct Rows {
    double** rows;
    double* given[kMatrixRows];
  };
  struct FloatRows {
    float** rows;
    float* given[8];
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
    if (Foreign(p)) Free(p);
  }
  // Neither one of the table's blocks nor an array of a cloud given (a view the call handed
  // back, which stays the cloud's).
  bool Foreign(const void* p) const {
    for (const HeldCloud& h : clouds_)
      for (const float* a : {h.c->x, h.c->y, h.c->z, h.c->nx, h.c->ny, h.c->nz})
        if (a && p >= a && p < a + h.points) return false;
    return !Ours(p);
  }
  template <class T>
  T* Block(int k, T fill, int length = 512) {
    std::vector<double>& v = blocks_[k % kBlocks];
    v.assign(length, 0.0);
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
  unsigned seed_;
  std::mt19937 rng_;
  std::vector<Held> held_;
  std::vector<HeldCloud> clouds_;
  std::vector<Bspline**> arrays_;
  std::vector<Rows> matrices_;
  std::vector<FloatRows> floatMatrices_;
  std::vector<const Bspline*> made_;
  std::vector<double> blocks_[kBlocks];
  std::deque<std::vector<double*>> matrixRows_;
  std::deque<std::vector<double>> rowBlocks_;
  bool unsoundResult_ = false;
  bool slotIsRecord_ = false;
  bool finiteInputs_ = true;
  bool cornersInputs_ = true;
};


// The driver's arguments for the functions that take no B-spline record but clouds, meshes and
// arrays of numbers: sound values (an open tube mesh, points along a wavy line in every array,
// counts of 6 that the arrays back many times over, numbers in [0, 1]) with one parameter made
// wrong at a time, each parameter with the faults of its kind.
enum PointFault { kPlain, kNullArray, kNaNEntry, kInfiniteEntry, kHugeEntry, kAliasedArray, kZeroCount,
                  kNegativeCount, kHugeCount, kCornerOutOfRange, kDegenerateTriangle, kNoTriangles,
                  kCollapsedPoints, kNoPoints, kScanCloud, kGridCloud, kScanPastPoints, kGridRowsLie, kPointFaults };
const char* const kPointFaultNames[kPointFaults] = {
    "sound values", "null array", "NaN entry", "infinite entry", "huge entry", "array aliased to the one before",
    "count 0", "count -1", "count as long as the arrays", "corner out of range", "triangle with a repeated corner",
    "no triangles", "every point in one place", "no points", "sound scan cloud",
    "sound gridded cloud", "a scan past the points", "grid rows longer than the points"};
// The kinds of parameter, and the faults each takes.
enum Kind { kNoKind, kCloudKind, kArrayKind, kIndexArrayKind, kCountKind, kNumberKind };
bool Takes(Kind kind, PointFault f) {
  switch (kind) {
    case kCloudKind: return f == kNullArray || (f >= kNaNEntry && f <= kHugeEntry) || f >= kCornerOutOfRange;
    case kArrayKind: return f >= kNullArray && f <= kAliasedArray;
    case kIndexArrayKind: return f == kNullArray;
    case kCountKind: return f >= kZeroCount && f <= kHugeCount;
    case kNumberKind: return f >= kNaNEntry && f <= kHugeEntry;
    default: return false;
  }
}
// The arrays' length: the largest count the driver gives, squared, or times four, runs no
// further.
constexpr int kLongestCount = 64;
constexpr int kArrayLength = kLongestCount * kLongestCount;

class PointArgs : public EntryArgs {
 public:
  PointArgs(int spoiltSlot, PointFault fault, unsigned seed) : EntryArgs(false, spoiltSlot, kNaNValue, seed), pfault_(fault) {
    finiteInputs_ = fault < kNaNEntry || fault > kHugeEntry;
    cornersInputs_ = fault != kCornerOutOfRange && fault != kNoPoints;
  }
  Cloud* Cld(int k) {
    Note(k, kCloudKind);
    if (Spoilt(k) && pfault_ == kNullArray) return nullptr;
    Cloud* c = !Spoilt(k)              ? Mesh()
               : pfault_ == kScanCloud ? Mesh(kScanTube)
               : pfault_ == kGridCloud ? Mesh(kGridSheet)
               : pfault_ == kScanPastPoints ? Mesh(kScanTube)
               : pfault_ == kGridRowsLie ? Mesh(kGridSheet)
                                       : Mesh();
    if (c && Spoilt(k)) SpoilCloud(clouds_.back());
    return c;
  }
  double* Reals(int k) { return Values<double>(k); }
  float* Floats(int k) { return Values<float>(k); }
  double (*Triples(int k))[3] { return reinterpret_cast<double(*)[3]>(Values<double>(k)); }
  uint8_t* Bytes(int k) {
    Note(k, kIndexArrayKind);
    return Spoilt(k) && pfault_ == kNullArray ? nullptr : EntryArgs::Bytes(k);
  }
  int* Ints(int k) {
    Note(k, kIndexArrayKind);
    return Spoilt(k) && pfault_ == kNullArray ? nullptr : Block<int>(k, 0, kArrayLength);
  }
  double** Matrix(int k) { return RowArrays<double>(k); }
  float** FloatMatrix(int k) { return RowArrays<float>(k); }
  int Int(int k) {
    Note(k, kCountKind);
    if (!Spoilt(k)) return 6;
    return pfault_ == kZeroCount ? 0 : pfault_ == kNegativeCount ? -1 : kLongestCount;
  }
  // Lengths and tolerances from a tenth of the mesh up: a finer one is sound, but asks for more
  // triangles than a call could make within its bound.
  double Real(int k) {
    Note(k, kNumberKind);
    return Spoilt(k) ? Bad() : seed_ ? 0.1 + 0.9 * Good() : Good();
  }
  // What each parameter was, filled by a plain call.
  Kind kinds[32] = {};

 private:
  bool Spoilt(int k) const { return k == slot_; }
  void Note(int k, Kind kind) {
    if (k < 32) kinds[k] = kind;
  }
  double Bad() {
    const double sign = seed_ != 0 && I(0, 1) ? -1.0 : 1.0;
    return pfault_ == kNaNEntry ? kNaN : pfault_ == kInfiniteEntry ? sign * std::numeric_limits<double>::infinity() : sign * 1e300;
  }
  // Points along a wavy line, increasing in every array (they serve as parameters too) and
  // different from one array to the next, with the fault in one of the first sixteen entries.
  template <class T>
  T* Values(int k, int row = 0) {
    Note(k, kArrayKind);
    if (Spoilt(k) && pfault_ == kNullArray) return nullptr;
    void*& last = sizeof(T) == sizeof(double) ? lastDouble_ : lastFloat_;
    if (Spoilt(k) && pfault_ == kAliasedArray && last && row == 0) return static_cast<T*>(last);
    T* v = Block<T>(row ? 100 + (8 * k + row) % 150 : k, T(0), kArrayLength);
    const double phase = seed_ ? Good() * 6.0 : 0.0, step = 0.7 + 0.3 * ((k + row) % 4);
    for (int i = 0; i < kArrayLength; ++i) v[i] = T((i + 0.45 * std::sin(step * i + phase)) / kArrayLength);
    if (Spoilt(k) && pfault_ >= kNaNEntry && pfault_ <= kHugeEntry) {
      const double bad = pfault_ == kHugeEntry && sizeof(T) == sizeof(float) ? 3e38 : Bad();
      v[seed_ ? I(0, 15) : 2] = T(bad);
    }
    if (row == 0) last = v;
    return v;
  }
  // As many rows as any count given, over eight distinct rows.
  template <class T>
  T** RowArrays(int k) {
    Note(k, kArrayKind);
    if (Spoilt(k) && pfault_ == kNullArray) return nullptr;
    rows_.emplace_back(kArrayLength);
    T** rows = reinterpret_cast<T**>(rows_.back().data());
    for (int i = 0; i < 8; ++i) rows[i] = Values<T>(k, i + 1);
    for (int i = 8; i < kArrayLength; ++i) rows[i] = rows[i % 8];
    // A pointer to an array pointer is an output slot as well as a matrix: what a call writes
    // there in place of the rows given is the caller's to free, as for the first table.
    if constexpr (sizeof(T) == sizeof(double)) {
      Rows given{reinterpret_cast<double**>(rows), {}};
      std::copy(rows, rows + kMatrixRows, given.given);
      matrices_.push_back(given);
    } else {
      FloatRows given{reinterpret_cast<float**>(rows), {}};
      std::copy(rows, rows + 8, given.given);
      floatMatrices_.push_back(given);
    }
    return rows;
  }
  void SpoilCloud(HeldCloud& h) {
    Cloud* c = h.c;
    const int i = seed_ ? I(0, c->npts - 1) : 1, t = seed_ ? I(0, c->ntri - 1) : 1;
    switch (pfault_) {
      case kNaNEntry: c->x[i] = std::numeric_limits<float>::quiet_NaN(); break;
      case kInfiniteEntry: c->y[i] = std::numeric_limits<float>::infinity(); break;
      case kHugeEntry: c->z[i] = 3e38f; break;
      case kCornerOutOfRange: c->tri[t].v[seed_ ? I(0, 2) : 2] = seed_ && I(0, 1) ? -1 : c->npts + 3; break;
      case kDegenerateTriangle: c->tri[t].v[1] = c->tri[t].v[0]; break;
      case kNoTriangles: c->ntri = h.liedTriangles = 0; break;
      case kCollapsedPoints:
        for (int j = 0; j < c->npts; ++j) c->x[j] = c->x[0], c->y[j] = c->y[0], c->z[j] = c->z[0];
        break;
      case kNoPoints: c->npts = h.liedPoints = 0; break;
      case kScanPastPoints: c->scanEnd[c->nscans - 1] += 7; break;
      case kGridRowsLie: c->ptsPerRow += 3; break;
      default: break;
    }
  }
  PointFault pfault_;
  void* lastDouble_ = nullptr;  // the arrays an alias may repeat, of their element type
  void* lastFloat_ = nullptr;
  std::deque<std::vector<void*>> rows_;
};

using Table = EntryTableOf<EntryArgs>;
using PointTable = PointEntryTableOf<PointArgs>;

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
    "DuplicateSurfaces", "MakeNormalDiffCloud",
    // consume the curve given (the result replaces it)
    "CheckErrorAndRefitCurve",
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
         !Listed(name, kEntriesStillOpen, std::size(kEntriesStillOpen)) &&
         !Listed(name, kPointEntriesStillOpen, std::size(kPointEntriesStillOpen));
}

// Aborts the run when one call outlives the bound, naming it. The bound is on the calling
// thread's CPU time: a machine loaded by other tests stretches a call's wall time many times,
// never the work it does, and a call that loops for ever spends CPU all the while.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    stop_ = true;
    thread_.join();
  }
  void Start(const std::string& what) {
    what_ = what;
    clockid_t clock;
    if (pthread_getcpuclockid(pthread_self(), &clock) != 0) return;
    clock_ = clock;
    started_ = Seconds(clock);
  }
  void Stop() { started_ = 0.0; }

 private:
  static double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
  }
  void Watch() {
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const double s = started_;
      if (s > 0.0 && Seconds(clock_) - s > kCallBound) {
        std::fprintf(stderr, "call ran past %g s of CPU time: %s\n", kCallBound, what_.c_str());
        std::abort();
      }
    }
  }
  std::atomic<bool> stop_{false};
  std::atomic<double> started_{0.0};
  std::atomic<clockid_t> clock_{CLOCK_MONOTONIC};
  std::string what_;
  std::thread thread_;
};

using EntryTable = KernelTest;

// One call of a row, watched: nothing may be left in the caller's scope, no record or cloud handed
// back unsound. False when the run cannot go on.
template <class Row, class Args>
bool CallOnce(Watchdog& watchdog, const Row& e, Args& args, const std::string& what, bool trace) {
  ClearKernelError();
  {
    // Arrays and lists a call hands back come from the caller's scope: this one frees them
    // (records handed back live outside it and are freed as they are checked).
    TrackingScope results;
    if (trace) std::fprintf(stderr, "%s\n", what.c_str());
    watchdog.Start(what);
    e.call(args);
    watchdog.Stop();
    args.CollectWritten();
  }
  ClearKernelError();
  EXPECT_FALSE(args.UnsoundResult()) << what << ": a record or cloud that fails its check as a success";
  if (MallocTrackLevel() != 0) {
    ADD_FAILURE() << what << ": a tracking scope left open";
    return false;
  }
  return true;
}

// What a run drives, from the environment: the share of a table, one function alone, the
// campaign's rounds of seeds per function from a first seed, and whether calls are named first.
struct Selection {
  long every = 1, from = 0, rounds = 1;
  unsigned firstSeed = 0;
  const char* only = std::getenv("SEAMWELD_ENTRY_ONLY");
  bool trace = std::getenv("SEAMWELD_TORTURE_TRACE") != nullptr;
  Selection() {
    auto number = [](const char* name, long fallback) {
      const char* v = std::getenv(name);
      return v ? std::atol(v) : fallback;
    };
    every = std::max(1L, number("SEAMWELD_ENTRY_SAMPLE", 1));
    from = number("SEAMWELD_TORTURE_FIRST", 0);
    rounds = std::max(1L, number("SEAMWELD_ENTRY_ROUNDS", 1));
    firstSeed = static_cast<unsigned>(number("SEAMWELD_ENTRY_SEED", 0));
  }
  // Whether row i, driven in the suite's share when `driven`, runs now.
  bool Picks(long i, const char* name, bool driven) const {
    return only ? std::strcmp(only, name) == 0 : (i - from) % every == 0 && driven;
  }
};

// The suite drives each table in halves, rows of even and odd place, each a test of its own
// that keeps within its time.
constexpr long kParts = 2;

void DriveRecordTable(long part) {
  const Selection run;
  Watchdog watchdog;
  long calls = 0;
  int functions = 0;
  const long n = static_cast<long>(std::size(Table::rows));
  for (long i = 0; i < n; ++i) {
    const Table::Row& e = Table::rows[i];
    if (i % kParts != part || Listed(e.name, kNotDriven, std::size(kNotDriven)) ||
        !run.Picks(i, e.name, Driven(e.name)))
      continue;
    ++functions;
    for (long r = 0; r < run.rounds; ++r)
      for (int surface = 0; surface < 2; ++surface)
        for (int slot = 0; slot < e.params; ++slot)
          for (int f = 0; f < kFaults; ++f) {
            const unsigned seed = run.firstSeed + static_cast<unsigned>(r);
            EntryArgs args(surface != 0, slot, static_cast<Fault>(f), seed);
            const std::string what = std::string(e.name) + " (" + e.header + "), " + (surface ? "surface" : "curve") +
                                     " records, " + kFaultNames[f] + " in parameter " + std::to_string(slot) +
                                     ", seed " + std::to_string(seed);
            if (!CallOnce(watchdog, e, args, what, run.trace)) return;
            ++calls;
            // A record in this slot takes the record faults, a number the value faults (its first
            // call, with every record sound, is the plain call).
            if (f == 0 && !args.SlotIsRecord()) f = kRecordFaults - 1;
            if (f == kRecordFaults - 1 && args.SlotIsRecord()) break;
          }
  }
  std::printf("%d functions of %ld, %ld calls\n", functions, n, calls);
}

// Functions of the second table the driver cannot call this way: they free or take over the
// cloud or arrays they are given, or fill a cloud the caller hands over empty. (New arrays
// handed back through the caller's array pointers, its row arrays here, the driver frees.)
bool TakesItsArgumentOver(const char* name) {
  static const char* const kOwnTheirArguments[] = {
      "JoinCldPolys",   "AdoptDifferenceGroup", "GatherCloudPoints", "SimpleSampleCloud",
      "matrix_free_ff", "matrix_free_fh",       "AddParamValuesPSpanToArray"};
  return std::strncmp(name, "Free", 4) == 0 || std::strstr(name, "NoAlloc") != nullptr ||
         Listed(name, kOwnTheirArguments, std::size(kOwnTheirArguments));
}

TEST_F(EntryTable, EveryEntryPointRefusesRecordsItCannotReadEvenRows) { DriveRecordTable(0); }
TEST_F(EntryTable, EveryEntryPointRefusesRecordsItCannotReadOddRows) { DriveRecordTable(1); }

void DrivePointTable(long part) {
  const Selection run;
  Watchdog watchdog;
  long calls = 0;
  int functions = 0;
  const long n = static_cast<long>(std::size(PointTable::rows));
  const char* nullsEnv = std::getenv("SEAMWELD_ENTRY_NULLS");
  const bool nulls = !nullsEnv || std::atoi(nullsEnv) != 0;
  for (long i = 0; i < n; ++i) {
    const PointTable::Row& e = PointTable::rows[i];
    if (i % kParts != part || TakesItsArgumentOver(e.name) || !run.Picks(i, e.name, Driven(e.name))) continue;
    ++functions;
    for (long r = 0; r < run.rounds; ++r) {
      const unsigned seed = run.firstSeed + static_cast<unsigned>(r);
      const std::string head = std::string(e.name) + " (" + e.header + "), ";
      const std::string tail = ", seed " + std::to_string(seed);
      PointArgs plain(-1, kPlain, seed);
      if (!CallOnce(watchdog, e, plain, head + kPointFaultNames[kPlain] + tail, run.trace)) return;
      ++calls;
      for (int slot = 0; slot < std::min(e.params, 32); ++slot)
        for (int f = kPlain + 1; f < kPointFaults; ++f) {
          if (!Takes(plain.kinds[slot], static_cast<PointFault>(f))) continue;
          // An aliased array only where the function reads one: an output array is the caller's
          // to provide, apart from every other. A null only where the caller gives the length: a
          // vector declared with its extent (`const double p[3]`) is the caller's to supply.
          const bool input = e.inputs >> slot & 1u, counted = e.counted >> slot & 1u;
          if (f == kAliasedArray && !input) continue;
          // Functions still open for null arrays get them when run alone (the sweep).
          const bool nullsOpen = !run.only && Listed(e.name, kNullInputsStillOpen, std::size(kNullInputsStillOpen));
          if (f == kNullArray && (!counted || !nulls || nullsOpen)) continue;
          PointArgs args(slot, static_cast<PointFault>(f), seed);
          if (!CallOnce(watchdog, e, args, head + kPointFaultNames[f] + " in parameter " + std::to_string(slot) + tail,
                        run.trace))
            return;
          ++calls;
        }
    }
  }
  std::printf("%d functions of %ld, %ld calls\n", functions, n, calls);
}

// The null arrays go where the declaration gives no extent: `const double a[3]` is the caller's
// to supply, `const double* a` with a count, `p[][3]` and a cloud are checked.
TEST_F(EntryTable, NullsOnlyWhereTheCallerGivesTheLength) {
  auto row = [](const char* name) -> const PointTable::Row* {
    for (const PointTable::Row& e : PointTable::rows)
      if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
  };
  for (const PointTable::Row& e : PointTable::rows) EXPECT_EQ(e.counted & ~e.inputs, 0u) << e.name;
  struct Expect {
    const char* name;
    unsigned inputs, counted;
  };
  for (const Expect& x : {Expect{"PntToPntDist", 0x3, 0x0},          // (const double a[3], const double b[3])
                          Expect{"VectorDotProduct", 0x3, 0x3},      // (const double* a, const double* b, int n)
                          Expect{"CircleFitThroughPnt", 0x1d, 0x1c},  // point[3], then x, y, z with n
                          Expect{"CloudPointsFinite", 0x1, 0x1}}) {  // a cloud
    const PointTable::Row* e = row(x.name);
    ASSERT_TRUE(e) << x.name;
    EXPECT_EQ(e->inputs, x.inputs) << x.name;
    EXPECT_EQ(e->counted, x.counted) << x.name;
  }
}

TEST_F(EntryTable, EveryCloudMeshAndPointEntryRefusesWhatItCannotReadEvenRows) { DrivePointTable(0); }
TEST_F(EntryTable, EveryCloudMeshAndPointEntryRefusesWhatItCannotReadOddRows) { DrivePointTable(1); }

}  // namespace
