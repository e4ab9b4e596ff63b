#include "bspline/kinsert.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "bspline/bsvalid.h"
#include "bspline/nubs_simd.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

constexpr double kSortStart = -kNoValue;

// KnotInsertWork::rational of the in-place form: Cartesian lines beside their weights.
constexpr int kCartesianLines = 2;

// The edited direction of an object as control lines: `lines` lines of `n` points each.
struct Direction {
  int lines;
  int n;
  int degree;
  int interior;
  double* knots;
};

Direction DirectionOf(const Bspline* obj, int dir) {
  if (dir != 0) return {NumCtrlU(obj), NumCtrlV(obj), obj->degreeV, obj->interiorV, obj->knotsV};
  return {NumCtrlV(obj), NumCtrlU(obj), obj->degreeU, obj->interiorU, obj->knotsU};
}

int EffectiveDir(const Bspline* obj, int dir) { return obj->kind == 2 && dir != 0 ? 1 : 0; }

double** CoordMatrix(const Bspline* obj, int k) {
  switch (k) {
    case 0:
      return obj->X;
    case 1:
      return obj->Y;
    case 2:
      return obj->Z;
    default:
      return obj->W;
  }
}

// Boehm's step on one control line of n points, P = src, written to dst (n + 1 points) where
// dst >= src may overlap src: the knot goes in at index f + p of the new knot vector, so the
// new points f .. f + p - 1 are alpha[k] P[f+k] + (1 - alpha[k]) P[f+k-1], the points before
// f stay and the ones after move up by one. Working from the back keeps every source point
// intact until it has been read.
// Inlined, as InsertKnotAt below: one knot's work is a few dozen operations, less than the calls.
[[gnu::always_inline]] inline void InsertIntoLine(const double* src, double* dst, int n, int f,
                                                  int p, const double* alpha) {
  const int q = f + p;
  std::memmove(dst + q, src + q - 1, sizeof(double) * (n - q + 1));
  for (int i = q - 1; i >= f; --i) {
    const double a = alpha[i - f];
    dst[i] = a * src[i] + (1.0 - a) * src[i - 1];
  }
  if (dst != src) std::memmove(dst, src, sizeof(double) * f);
}

// The same step on a Cartesian line of a rational object beside its weights ws (the line's old
// weights, not yet refined): each new point is its weighted neighbours' combination divided by
// the new weight, the homogeneous rule. Only the p new points are touched by the weights;
// the others move as they are.
void InsertIntoWeightedLine(const double* src, double* dst, int n, int f, int p,
                            const double* alpha, const double* ws) {
  const int q = f + p;
  double fresh[kMaxSplineDegree];
  for (int i = q - 1; i >= f; --i) {
    const double a = alpha[i - f];
    const double wn = a * ws[i] + (1.0 - a) * ws[i - 1];
    fresh[i - f] = (a * src[i] * ws[i] + (1.0 - a) * src[i - 1] * ws[i - 1]) / wn;
  }
  std::memmove(dst + q, src + q - 1, sizeof(double) * (n - q + 1));
  if (dst != src) std::memmove(dst, src, sizeof(double) * f);
  for (int i = f; i < q; ++i) dst[i] = fresh[i - f];
}

// Inserts t at index q of the working knot vector and refines every line.
[[gnu::always_inline]] inline void InsertKnotAt(KnotInsertWork* w, double t, int q) {
  const int p = w->degree;
  const int n = w->n;
  double* V = w->knots;
  const int f = q - p;
  // The weights from the knots before t goes in (their U[i + p] is the new U[i + p + 1]), so
  // that nothing is read back from the move just made.
  // V[i] <= t <= V[i + p] for every window, so each ratio lies in [0, 1] however short the
  // window; only an empty one (0 / 0) needs a rule: its right point as it is. A window shorter
  // than the snapping tolerance is still a window: inside a cluster the ratio is what keeps
  // the shape.
  double alpha[kMaxSplineDegree];
  for (int i = f; i < q; ++i) {
    const double den = V[i + p] - V[i];
    alpha[i - f] = den == 0.0 ? 0.0 : (t - V[i]) / den;
  }
  std::memmove(V + q + 1, V + q, sizeof(double) * (n + p + 1 - q));
  V[q] = t;
  // Weights last: Cartesian lines read their line's old weights.
  const bool cartesian = w->rational == kCartesianLines;
  for (int k = 0; k < 4; ++k) {
    double* c = w->c[k];
    if (!c) continue;
    // Last line first: line l moves from l n to l (n + 1), never over a line not yet read.
    for (int l = w->lines - 1; l >= 0; --l) {
      if (cartesian && k < 3)
        InsertIntoWeightedLine(c + std::size_t(l) * n, c + std::size_t(l) * (n + 1), n, f, p,
                               alpha, w->c[3] + std::size_t(l) * n);
      else
        InsertIntoLine(c + std::size_t(l) * n, c + std::size_t(l) * (n + 1), n, f, p, alpha);
    }
  }
  ++w->n;
  ++w->interior;
}

bool Refinable(const Bspline* obj, const Direction& d) {
  return d.degree >= 1 && d.degree <= kMaxSplineDegree && d.interior >= 0 && d.knots && obj->X &&
         obj->Y && (obj->dimension != 3 || obj->Z) && (!obj->rational || obj->W);
}

// Refinement in u works on the object's own arrays: each coefficient matrix is one block whose
// rows, one after another, are the control lines, which is the working form's layout. The
// blocks only grow, to room for `count` more points per line, and nothing is copied out and
// back. When a block cannot grow the object keeps its values (the rows of a moved block are
// pointed at it again) and false is returned with the error state set. The arrays stay in
// whatever scope they were made in. Rational lines stay Cartesian: only the p points each
// knot makes are formed from weighted neighbours (InsertIntoWeightedLine), so the points that
// only move keep their values exactly, and no pass weighs and divides the whole net.
bool StartInPlace(Bspline* obj, int count, KnotInsertWork* w) {
  const Direction d = DirectionOf(obj, 0);
  if (!Refinable(obj, d)) {
    SetKernelError(-2);
    return false;
  }
  double** mats[4] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr,
                      obj->rational ? obj->W : nullptr};
  const long long capacity = static_cast<long long>(d.n) + count;
  if (capacity > 0x7fffffff) {
    SetKernelError(-2);
    return false;
  }
  // Nothing can be undone once the lines are edited in place, so the one way the arithmetic
  // can leave finite numbers, homogeneous coordinates of huge points, is refused up front.
  // (Every refined value is a convex combination of finite homogeneous ones.)
  // One running flag instead of a branch per point, so the test runs in vector lanes (a NaN
  // fails the comparison too).
  if (obj->rational) {
    bool finite = true;
    for (int k = 0; k < 3; ++k)
      if (double** m = mats[k])
        for (int l = 0; l < d.lines; ++l) {
          const double* x = m[l];
          const double* wl = obj->W[l];
          for (int i = 0; i < d.n; ++i) finite &= std::fabs(x[i] * wl[i]) <= DBL_MAX;
        }
    if (!finite) {
      SetKernelError(-2);
      return false;
    }
  }
  *w = KnotInsertWork{};
  w->dir = 0;
  w->degree = d.degree;
  w->interior = d.interior;
  w->lines = d.lines;
  w->n = d.n;
  w->capacity = static_cast<int>(capacity);
  w->rational = obj->rational ? kCartesianLines : 0;
  w->tol = 1e-6 * (d.knots[d.n] - d.knots[d.degree]);
  double* knots = ReallocArray<double>(obj->knotsU, capacity + d.degree + 1);
  if (!knots) return false;
  obj->knotsU = knots;
  w->knots = knots;
  for (int k = 0; k < 4; ++k) {
    double** m = mats[k];
    if (!m) continue;
    double* data = ReallocArray<double>(m[0], capacity, d.lines);
    if (!data) return false;
    for (int l = 0; l < d.lines; ++l) m[l] = data + std::size_t(l) * d.n;
    w->c[k] = data;
    ++w->coords;
  }
  return true;
}

// Has the rows of every matrix contiguous, one block per matrix (StartInPlace can use it).
bool RowsContiguous(const Bspline* obj) {
  const int n = NumCtrlU(obj), lines = obj->kind == 2 ? NumCtrlV(obj) : 1;
  for (double** m : {obj->X, obj->Y, obj->Z, obj->W}) {
    if (!m) continue;
    for (int l = 1; l < lines; ++l)
      if (m[l] != m[0] + std::size_t(l) * n) return false;
  }
  return true;
}

void FinishInPlace(Bspline* obj, const KnotInsertWork* w) {
  for (double** m : {obj->X, obj->Y, obj->Z, obj->W}) {
    if (!m) continue;
    for (int l = 0; l < w->lines; ++l) m[l] = m[0] + std::size_t(l) * w->n;
  }
  obj->interiorU = w->interior;
}

// Mode 2 of InsertNKnotsToObject on the working form.
void InsertGivenValues(KnotInsertWork* w, int mult, int count, double* values) {
  const int p = w->degree;
  int copies = mult;
  int s = p;
  for (int i = 0; i < count; ++i) {
    double* U = w->knots;
    const int nKnots = w->n + p + 1;
    // Outside the domain a value would be counted against too few end knots and gain a copy
    // beyond full multiplicity: it is taken as the domain end.
    double t = std::clamp(values[i], U[p], U[w->n]);
    // The search only moves upward from the previous span; a value below it starts afresh.
    if (t < U[s]) s = p;
    nubkernel::SpanSearch(U, p, t, &s, w->n);  // FindLowKnotIndex's span, two knots a step
    if (copies == -1) copies = p + 1;
    int m = 0;
    int first = s + 1;  // first knot index holding t once it is in
    bool atEnd = false;
    // The value is snapped to a knot within tol, but only equal knots count as copies of it
    // (as in PlanGivenValues): a neighbour of a cluster is a knot of its own, and counting it
    // would stop the copies short of a break and then close the break over two lines that
    // are not equal. Between two knots within tol the nearer one is taken: the domain's end
    // lies in the last span as its right end, and a knot just below it must not take it.
    if (t - U[s] < w->tol && t - U[s] <= U[s + 1] - t) {
      t = U[s];
      m = FindMultOfValInArray(U, nKnots, t, s, p + 1, 0, 0.0);
      atEnd = std::fabs(t - U[p]) < w->tol;
      first = s - m + 1;
    } else if (U[s + 1] - t < w->tol) {
      t = U[s + 1];
      m = FindMultOfValInArray(U, nKnots, t, s + 1, p + 1, 1, 0.0);
      atEnd = s + 1 == w->n;
    }
    values[i] = t;
    const int r = std::max(std::min(m + copies, p + 1) - m, 0);
    for (int c = 0; c < r; ++c) {
      if (!InsertAKnotIntoTransposedObject(w->dir, w, 2, t, s + 1)) return;
    }
    // At full multiplicity the curve may break here; the two lines meeting at the break are
    // equal in exact arithmetic and are made equal in floating point too.
    if (r > 0 && m + r == p + 1 && !atEnd) MakeControlLinesSame(w, w->dir, first - 1, first);
  }
}


// ---- Many knots in one pass ------------------------------------------------------------------
// From this many knots on, a call refines each line once (the textbook's refine-knot-vector
// algorithm) instead of moving the whole line along for every knot.
constexpr int kOnePassKnots = 4;

// What one pass does to every line, worked out once from the knots alone. The knots X[0..r]
// (ascending) go in from the last to the first: before X[j] goes in, the old points above
// `from[j]` are copied up to their places, then p points are blended with the ratios of row j
// of `alpha`: Q[k - 1] = alpha Q[k - 1] + (1 - alpha) Q[k] (alpha 0 takes the right point
// as it is, the textbook's rule for a knot equal to the right end of its window).
struct OnePassPlan {
  int count = 0;            // r + 1 knots going in
  int a = 0, b = 0;         // span of X[0] in the old vector; one past the span of X[r]
  double* x = nullptr;      // the knots going in, ascending
  int* from = nullptr;      // per knot
  double* alpha = nullptr;  // count x p
  double* knots = nullptr;  // the refined vector
  int breaks = 0;           // full-multiplicity runs made inside the domain
  int* breakAt = nullptr;   // first knot index of each run (lines at - 1 and at meet there)
  double* snapped = nullptr;  // mode 2: each given value as it went in
};

void FreePlan(OnePassPlan& plan) {
  if (plan.x) Free(plan.x);
  plan = OnePassPlan{};
}

// Last index s in [p, n - 1] with U[s] <= t, n the control-point count.
int OldSpan(const double* U, int p, int n, double t) {
  int s = static_cast<int>(std::upper_bound(U + p, U + n, t) - U) - 1;
  return std::clamp(s, p, n - 1);
}

// Knot vector, copy pattern and ratios of the pass that puts plan.x[0 .. count - 1] into the
// vector U of n control points of degree p. False (nothing else to do: the knots go in one by
// one) when a knot lies on a range end or the refined vector has two distinct knots within tol
// of each other: there the one-at-a-time rules (snapping, zero ratios over spans shorter than
// tol) are the only statement of the result.
bool FinishPlan(OnePassPlan& plan, const double* U, int p, int n, double tol) {
  const int r = plan.count - 1;
  const double* X = plan.x;
  if (X[0] <= U[p] || X[r] >= U[n]) return false;
  const int m = n + p;  // last old knot index
  plan.a = OldSpan(U, p, n, X[0]);
  plan.b = OldSpan(U, p, n, X[r]) + 1;
  double* Ub = plan.knots;
  for (int j = 0; j <= plan.a; ++j) Ub[j] = U[j];
  for (int j = plan.b + p; j <= m; ++j) Ub[j + r + 1] = U[j];
  int i = plan.b + p - 1, k = plan.b + p + r;
  for (int j = r; j >= 0; --j) {
    while (X[j] <= U[i] && i > plan.a) Ub[k--] = U[i--];
    plan.from[j] = i;
    // Without a branch, so that the divisions go in vector lanes; a knot equal to the right end
    // of its window (0 / 0 where the window is empty) has ratio 0: the right point as it is.
    double* alpha = plan.alpha + j * p;
    const double* right = Ub + k + 1;
    const double* left = U + i - p + 1;
    for (int l = 0; l < p; ++l) {
      const double num = right[l] - X[j];
      alpha[l] = num / (num == 0.0 ? 1.0 : right[l] - left[l]);
    }
    Ub[k--] = X[j];
  }
  for (int j = 0; j < m + r + 1; ++j) {
    const double gap = Ub[j + 1] - Ub[j];
    if (gap != 0.0 && !(gap > tol)) return false;
  }
  return true;
}

// One block (plan.x at its start, so FreePlan releases it): doubles first, the ints after.
bool AllocatePlan(OnePassPlan& plan, int room, int p, int nKnots, int values) {
  const long long doubles = room * (p + 2LL) + nKnots + values;
  const long long ints = room + values;
  auto* block = MallocArray<double>(doubles + (ints + 1) / 2);
  if (!block || KernelFailed()) {
    if (block) Free(block);
    return false;
  }
  plan.x = block;
  plan.alpha = plan.x + room;
  plan.knots = plan.alpha + std::size_t(room) * p;
  plan.snapped = plan.knots + nKnots + room;
  plan.from = reinterpret_cast<int*>(block + doubles);
  plan.breakAt = plan.from + room;
  return true;
}

// Mode 2's knots without touching a coefficient: the same snapping, multiplicities and breaks
// as InsertGivenValues, read off the old vector and the knots already planned (all at or below
// the value, the values being ascending). False when the values are not ascending.
bool PlanGivenValues(OnePassPlan& plan, const double* U, int p, int n, double tol, int mult,
                     int count, const double* values) {
  const int copies = std::min(mult == -1 ? p + 1 : mult, p + 1);
  // Copies of a knot: those of the old vector and the planned ones (distinct knots lie more
  // than tol apart, or the plan is given up at the end).
  double last = -INFINITY;  // the last knot planned, and how many copies of it
  int lastCopies = 0;
  auto multiplicity = [&](double value) {
    const int old = static_cast<int>(std::upper_bound(U, U + n + p + 1, value) -
                                     std::lower_bound(U, U + n + p + 1, value));
    return std::min(old + (value == last ? lastCopies : 0), p + 1);
  };
  // Kept in locals: the loop runs once per value and must not wait on stores to the plan.
  double* x = plan.x;
  int planned = 0, breaks = 0;
  double previous = -INFINITY;
  int io = p;  // the span of t in the old vector, only moving up
  double oldLeft = U[io], right = U[io + 1];
  for (int v = 0; v < count; ++v) {
    double t = std::clamp(values[v], U[p], U[n]);
    if (t < previous) return false;
    previous = t;
    while (io < n - 1 && right <= t) {
      oldLeft = right;
      right = U[++io + 1];
    }
    // Every planned knot lies at or below t, but for copies of the old knot right (values
    // below it snapped up to it).
    const double left = std::max(last, oldLeft);
    const int s = io + planned;  // the span in the vector as it is when t goes in
    int m = 0, first = s + 1;
    bool atEnd = false;
    if (t - left < tol && t - left <= right - t) {
      t = left;
      m = multiplicity(t);
      atEnd = std::fabs(t - U[p]) < tol;
      // The run starts after every knot below t, old or planned: left may be the old knot
      // above this span (an earlier value was snapped up to it), its old copies not yet passed.
      first = static_cast<int>(std::lower_bound(U, U + n + p + 1, t) - U) + planned -
              (t == last ? lastCopies : 0);
    } else if (right - t < tol) {
      t = right;
      m = multiplicity(t);
      atEnd = io + 1 == n;
    }
    plan.snapped[v] = t;
    const int r = std::max(std::min(m + copies, p + 1) - m, 0);
    if (r == 0) continue;
    for (int c = 0; c < r; ++c) x[planned++] = t;
    lastCopies = t == last ? lastCopies + r : r;
    last = t;
    if (m + r == p + 1 && !atEnd) plan.breakAt[breaks++] = first;
  }
  plan.count = planned;
  plan.breaks = breaks;
  return true;
}

// Mode 1's knots: each the middle of the then longest span, the last of equals, as
// InsertAKnotIntoTransposedObject picks them one by one. A heap of spans ordered by length,
// then by position (spans of positive length have distinct starts). False when the longest
// span has no length.
bool PlanLongestSpans(OnePassPlan& plan, const double* U, int p, int n, int count) {
  struct Span {
    double length, lo, hi;
    bool operator<(const Span& o) const { return length < o.length || (length == o.length && lo < o.lo); }
  };
  auto* heap = MallocArray<Span>(n - p + count);
  if (!heap || KernelFailed()) {
    if (heap) Free(heap);
    return false;
  }
  int size = 0;
  for (int i = p; i < n; ++i) heap[size++] = {U[i + 1] - U[i], U[i], U[i + 1]};
  std::make_heap(heap, heap + size);
  bool ok = true;
  for (int j = 0; j < count && ok; ++j) {
    std::pop_heap(heap, heap + size);
    const Span longest = heap[--size];
    ok = longest.length > 0.0;
    const double middle = 0.5 * (longest.lo + longest.hi);
    plan.x[plan.count++] = middle;
    heap[size++] = {middle - longest.lo, longest.lo, middle};
    std::push_heap(heap, heap + size);
    heap[size++] = {longest.hi - middle, middle, longest.hi};
    std::push_heap(heap, heap + size);
  }
  Free(heap);
  std::sort(plan.x, plan.x + plan.count);
  return ok;
}

// The pass on one line of n points in each of K coordinate arrays, each lying at the start of
// room for n + count: the old points are read below every point written, so the line is refined
// where it lies. All coordinates go through together, as the points of the textbook. With
// Weighted the last array holds the weights beside Cartesian coordinates: a blended point is
// the homogeneous combination divided by its new weight, and points that only move (ratio 0
// included: the right point as it is) keep their values exactly.
template <int K, int P, bool Weighted>
void RefineLine(double* const* Q, int n, int degree, const OnePassPlan& plan) {
  const int p = P > 0 ? P : degree;
  const int r = plan.count - 1;
  const int last = n + r;  // last index of the refined line
  for (int c = 0; c < K; ++c)
    std::memmove(Q[c] + plan.b + r, Q[c] + plan.b - 1, sizeof(double) * (n - plan.b + 1));
  int i = plan.b + p - 1, k = plan.b + p + r;
  // W holds points k - p .. k of each coordinate (those beyond the line are never used): each
  // step leaves point k final and blends the rest where they are held, so no point is stored
  // and read back (with the degree fixed they stay in registers). Blending from the top down
  // reads each left neighbour before it changes.
  double W[K][(P > 0 ? P : kMaxSplineDegree) + 1];
  for (int c = 0; c < K; ++c)
    for (int l = 0; l <= p; ++l) W[c][l] = k - p + l <= last ? Q[c][k - p + l] : 0.0;
  for (int j = r; j >= 0; --j) {
    for (; i > plan.from[j]; --i, --k)
      for (int c = 0; c < K; ++c) {
        if (k <= last) Q[c][k] = W[c][p];
        for (int l = p; l >= 1; --l) W[c][l] = W[c][l - 1];
        W[c][0] = Q[c][i - p - 1];
      }
    const double* alpha = plan.alpha + j * p;
    for (int c = 0; c < K; ++c) Q[c][k] = W[c][p];
    if constexpr (Weighted) {
      double* w = W[K - 1];
      for (int l = p; l >= 1; --l) {
        const double a = alpha[l - 1];
        if (a == 0.0) continue;
        const double wl = a * w[l - 1], wr = (1.0 - a) * w[l], wn = wl + wr, inv = 1.0 / wn;
        for (int c = 0; c < K - 1; ++c) W[c][l] = (wl * W[c][l - 1] + wr * W[c][l]) * inv;
        w[l] = wn;
      }
    } else {
      for (int c = 0; c < K; ++c)
        for (int l = p; l >= 1; --l)
          W[c][l] = alpha[l - 1] * W[c][l - 1] + (1.0 - alpha[l - 1]) * W[c][l];
    }
    --k;
  }
  for (int c = 0; c < K; ++c)
    for (int l = 0; l <= p; ++l) Q[c][k - p + l] = W[c][l];
}

// The K arrays of a line (the weights last when Weighted) through RefineLine, cubics with the
// degree fixed at compile time, any other degree as it comes.
template <bool Weighted>
void RefineLineOfDegree(double* const* Q, int K, int n, int p, const OnePassPlan& plan) {
  auto run = [&](auto coords) {
    constexpr int kCoords = decltype(coords)::value;
    if (p == 3)
      RefineLine<kCoords, 3, Weighted>(Q, n, p, plan);
    else
      RefineLine<kCoords, 0, Weighted>(Q, n, p, plan);
  };
  if (K == 2)
    run(std::integral_constant<int, 2>{});
  else if (K == 3)
    run(std::integral_constant<int, 3>{});
  else
    run(std::integral_constant<int, 4>{});
}

// Every line of the working form through the pass; lines move from l n to l (n + count), last
// line first, so none is overwritten before it has moved.
void RefineAllLines(KnotInsertWork* w, const OnePassPlan& plan) {
  const int n = w->n, N = n + plan.count, p = w->degree;
  for (int l = w->lines - 1; l >= 0; --l) {
    double* line[4] = {};
    for (int k = 0; k < 4; ++k) {
      if (!w->c[k]) continue;
      line[k] = w->c[k] + std::size_t(l) * N;
      std::memmove(line[k], w->c[k] + std::size_t(l) * n, sizeof(double) * n);
    }
    double* q[4];
    int coords = 0;
    for (double* c : line)
      if (c) q[coords++] = c;
    if (w->rational == kCartesianLines)
      RefineLineOfDegree<true>(q, coords, n, p, plan);
    else
      RefineLineOfDegree<false>(q, coords, n, p, plan);
  }
  std::memcpy(w->knots, plan.knots, sizeof(double) * (N + p + 1));
  w->n = N;
  w->interior += plan.count;
  for (int j = 0; j < plan.breaks; ++j)
    MakeControlLinesSame(w, w->dir, plan.breakAt[j] - 1, plan.breakAt[j]);
}

}  // namespace

int InitKnotInsertion(const Bspline* obj, int dir, int count, KnotInsertWork** work) {
  if (work && !BsplineSound(obj)) {
    *work = nullptr;
    SetKernelError(-2);
    return 0;
  }
  return InitKnotInsertionOfSound(obj, dir, count, work);
}

int InitKnotInsertionOfSound(const Bspline* obj, int dir, int count, KnotInsertWork** work) {
  if (!work) return 0;
  *work = nullptr;
  if (count < 0) {
    SetKernelError(-2);
    return 0;
  }
  dir = EffectiveDir(obj, dir);
  const Direction d = DirectionOf(obj, dir);
  if (!Refinable(obj, d)) {
    SetKernelError(-2);
    return 0;
  }
  const int coords = 2 + (obj->dimension == 3 ? 1 : 0) + (obj->rational ? 1 : 0);
  const long long capacity = static_cast<long long>(d.n) + count;
  const long long header = (sizeof(KnotInsertWork) + sizeof(double) - 1) / sizeof(double);
  const long long doubles = header + capacity + d.degree + 1 + coords * capacity * d.lines;
  if (capacity > 0x7fffffff || doubles * static_cast<long long>(sizeof(double)) > 0xffffffffLL) {
    SetKernelError(-2);
    return 0;
  }
  auto* block = MallocArray<double>(doubles);
  if (!block || KernelFailed()) {
    Free(block);
    return 0;
  }
  auto* w = reinterpret_cast<KnotInsertWork*>(block);
  *w = KnotInsertWork{};
  w->dir = dir;
  w->degree = d.degree;
  w->interior = d.interior;
  w->lines = d.lines;
  w->n = d.n;
  w->capacity = static_cast<int>(capacity);
  w->coords = coords;
  w->rational = obj->rational ? 1 : 0;
  w->tol = 1e-6 * (d.knots[d.n] - d.knots[d.degree]);
  w->knots = block + header;
  std::memcpy(w->knots, d.knots, sizeof(double) * (d.n + d.degree + 1));
  double* next = w->knots + capacity + d.degree + 1;
  const int slots[4] = {0, 1, obj->dimension == 3 ? 2 : -1, obj->rational ? 3 : -1};
  for (int k : slots) {
    if (k < 0) continue;
    w->c[k] = next;
    next += capacity * d.lines;
  }
  for (int k = 0; k < 4; ++k) {
    if (!w->c[k]) continue;
    double** m = CoordMatrix(obj, k);
    double* c = w->c[k];
    const bool weigh = w->rational && k < 3;
    for (int l = 0; l < d.lines; ++l) {
      for (int i = 0; i < d.n; ++i) {
        // Rows are v, columns u; a line in u is a row, a line in v a column.
        const int row = dir ? i : l;
        const int col = dir ? l : i;
        c[std::size_t(l) * d.n + i] = weigh ? m[row][col] * obj->W[row][col] : m[row][col];
      }
    }
  }
  *work = w;
  return 1;
}

int EndKnotInsertion(Bspline* obj, int dir, KnotInsertWork* w) {
  if (!w) return 0;
  if (!obj) {
    Free(w);
    return 0;
  }
  dir = w->dir;
  const int p = w->degree;
  const int n = w->n;
  const int rows = dir ? n : w->lines;
  const int cols = dir ? w->lines : n;
  // The refined points are combinations of the old ones, but homogeneous coordinates of huge
  // points can overflow: such a result is refused, not installed.
  for (int k = 0; k < 4; ++k) {
    if (!w->c[k]) continue;
    for (std::size_t at = 0; at < std::size_t(w->lines) * n; ++at) {
      const double value = w->rational && k < 3 ? w->c[k][at] / w->c[3][at] : w->c[k][at];
      if (!std::isfinite(value)) {
        SetKernelError(-2);
        Free(w);
        return 0;
      }
    }
  }

  // Everything new is allocated before the object is touched; a failure frees it and leaves
  // the object as it was. The new arrays belong to the object, so they must not die with the
  // caller's tracking scope.
  double* knots = nullptr;
  double** mats[4] = {nullptr, nullptr, nullptr, nullptr};
  bool ok = false;
  {
    UntrackedScope own;
    knots = MallocArray<double>(n + p + 1);
    ok = knots && !KernelFailed();
    for (int k = 0; k < 4 && ok; ++k) {
      if (!w->c[k]) continue;
      mats[k] = allocate_matrix_ff(rows, cols);
      ok = mats[k] && !KernelFailed();
    }
    if (!ok) {
      Free(knots);
      for (double** m : mats)
        if (m) matrix_free_ff(m);
    }
  }
  if (!ok) {
    Free(w);
    return 0;
  }

  std::memcpy(knots, w->knots, sizeof(double) * (n + p + 1));
  const double* wc = w->c[3];
  for (int k = 0; k < 4; ++k) {
    if (!mats[k]) continue;
    const double* c = w->c[k];
    double** m = mats[k];
    const bool divide = w->rational && k < 3;
    for (int l = 0; l < w->lines; ++l) {
      for (int i = 0; i < n; ++i) {
        const std::size_t at = std::size_t(l) * n + i;
        const double value = divide ? c[at] / wc[at] : c[at];
        if (dir)
          m[i][l] = value;
        else
          m[l][i] = value;
      }
    }
  }

  double*& oldKnots = dir ? obj->knotsV : obj->knotsU;
  Free(oldKnots);
  oldKnots = knots;
  if (dir)
    obj->interiorV = w->interior;
  else
    obj->interiorU = w->interior;
  double** Bspline::*fields[4] = {&Bspline::X, &Bspline::Y, &Bspline::Z, &Bspline::W};
  for (int k = 0; k < 4; ++k) {
    if (!mats[k]) continue;
    if (obj->*fields[k]) matrix_free_ff(obj->*fields[k]);
    obj->*fields[k] = mats[k];
  }
  Free(w);
  return 1;
}

double* InsertAKnotIntoTransposedObject(int /*dir*/, KnotInsertWork* w, int mode, double value,
                                        int position) {
  if (!w || w->n >= w->capacity) {
    SetKernelError(-2);
    return nullptr;
  }
  const int p = w->degree;
  const double* U = w->knots;
  if (mode == 1) {
    // The one-slot ranking of BubbleValueAndIndex: an equal span replaces, so the last wins.
    double longest = 0.0;
    int span = p;
    for (int i = p; i < w->n; ++i) {
      const double length = U[i + 1] - U[i];
      if (length >= longest) {
        longest = length;
        span = i;
      }
    }
    value = 0.5 * (U[span] + U[span + 1]);
    position = span + 1;
  } else if (position < p + 1 || position > w->n || value < U[position - 1] ||
             value > U[position]) {
    SetKernelError(-2);
    return nullptr;
  }
  InsertKnotAt(w, value, position);
  return mode == 2 ? w->knots : nullptr;
}

void MakeControlLinesSame(KnotInsertWork* w, int /*dir*/, int i, int j) {
  if (!w || i < 0 || j < 0 || i >= w->n || j >= w->n) return;
  for (double* c : w->c) {
    if (!c) continue;
    for (int l = 0; l < w->lines; ++l) {
      double* line = c + std::size_t(l) * w->n;
      line[i] = line[j] = 0.5 * (line[i] + line[j]);
    }
  }
}

void InsertNKnotsToObject(int mult, int n, int dir, Bspline* obj, int mode, double* values) {
  if (n == 0) return;
  if (!obj || n < 0 || (mode == 2 && (!values || (mult != -1 && mult < 1)))) {
    SetKernelError(-2);
    return;
  }
  if (mode == 2)
    for (int i = 0; i < n; ++i)
      if (!std::isfinite(values[i])) {
        SetKernelError(-2);
        return;
      }
  if (mode < 0 || mode > 2) return;
  if (!BsplineSound(obj)) {
    SetKernelError(-2);
    return;
  }
  dir = EffectiveDir(obj, dir);
  const int p = dir ? obj->degreeV : obj->degreeU;
  if (mode == 0) {
    // The knots go in at indices p + 1, p + 2, ...: inside the domain only when the first p + 1
    // knots are one value. On open ends the first insertion would fail after the in-place
    // form has begun, so such an object is refused before anything is touched.
    const double* U = dir ? obj->knotsV : obj->knotsU;
    if (U[p] != U[0]) {
      SetKernelError(-2);
      return;
    }
  }
  // Each value gains at most p + 1 copies, which bounds the room to reserve.
  long long reserve = n;
  if (mode == 2) reserve = static_cast<long long>(n) * (mult == -1 ? p + 1 : std::min(mult, p + 1));
  if (reserve > 0x7fffffff) {
    SetKernelError(-2);
    return;
  }
  // Many knots are planned from the knot vector alone, before anything is touched, and then
  // go into every line in one pass.
  OnePassPlan plan;
  bool onePass = false;
  if (reserve >= kOnePassKnots) {
    const Direction d = DirectionOf(obj, dir);
    const int room = static_cast<int>(reserve);
    if (!AllocatePlan(plan, room, p, d.n + p + 1, mode == 2 ? n : 0)) {
      FreePlan(plan);
      return;
    }
    const double tol = 1e-6 * (d.knots[d.n] - d.knots[p]);
    bool planned = true;
    if (mode == 2) {
      planned = PlanGivenValues(plan, d.knots, p, d.n, tol, mult, n, values);
    } else if (mode == 1) {
      planned = PlanLongestSpans(plan, d.knots, p, d.n, n);
    } else {
      const double step = (d.knots[p + 1] - d.knots[0]) / (n + 1);
      for (int j = 1; j <= n; ++j) plan.x[plan.count++] = d.knots[0] + j * step;
    }
    if (KernelFailed()) {
      FreePlan(plan);
      return;
    }
    onePass = planned && (plan.count == 0 || FinishPlan(plan, d.knots, p, d.n, tol));
    if (onePass && plan.count == 0) {  // every value already at full multiplicity
      std::copy_n(plan.snapped, n, values);
      FreePlan(plan);
      return;
    }
    if (onePass)
      reserve = plan.count;
    else
      FreePlan(plan);
  }
  KnotInsertWork inPlace;
  KnotInsertWork* w = nullptr;
  if (dir == 0 && RowsContiguous(obj)) {
    // A failure noted earlier makes the copied form refuse to start; so does this one.
    if (KernelFailed() || !StartInPlace(obj, static_cast<int>(reserve), &inPlace)) {
      FreePlan(plan);
      return;
    }
    w = &inPlace;
  } else if (!InitKnotInsertionOfSound(obj, dir, static_cast<int>(reserve), &w)) {
    FreePlan(plan);
    return;
  }
  if (onePass) {
    RefineAllLines(w, plan);
    if (mode == 2) std::copy_n(plan.snapped, n, values);
    FreePlan(plan);
  } else if (mode == 2) {
    InsertGivenValues(w, mult, n, values);
  } else if (mode == 1) {
    for (int j = 0; j < n && !KernelFailed(); ++j)
      InsertAKnotIntoTransposedObject(dir, w, 1, 0.0, 0);
  } else {
    const double* U = w->knots;
    const double step = (U[p + 1] - U[0]) / (n + 1);
    const double start = U[0];
    for (int j = 1; j <= n && !KernelFailed(); ++j)
      InsertAKnotIntoTransposedObject(dir, w, 0, start + j * step, p + j);
  }
  if (w == &inPlace) {
    // With room reserved for every knot and positions found by the span search, no step
    // can fail once started: the object is always left whole.
    FinishInPlace(obj, w);
    return;
  }
  if (KernelFailed()) {
    Free(w);
    return;
  }
  EndKnotInsertion(obj, dir, w);
}

int InsertOneKnotToObject(int count, int dir, Bspline* obj, int mode, double value, int position) {
  if (!BsplineSound(obj) || (mode != 1 && !std::isfinite(value))) return 0;
  dir = EffectiveDir(obj, dir);
  const Direction d = DirectionOf(obj, dir);
  const int p = d.degree;
  if (mode == 1 && count < 1) return 1;
  if (mode != 1) count = 1;
  if (!d.knots || p < 1 || p > kMaxSplineDegree) return 0;

  TrackingScope scope;  // the ranking and weight arrays; the object's new arrays are not in it
  const int nKnots = d.n + p + 1;
  int* positions = nullptr;
  double* newValues = nullptr;
  int m = 0;
  if (mode == 1) {
    positions = FindNLargestSpanIndices(count, p, nKnots - p, d.knots);
    if (!positions || KernelFailed()) return 0;
    // Only spans of positive length can take a knot; the ranking keeps the longest last.
    const double tol = 1e-6 * (d.knots[d.n] - d.knots[p]);
    int keepFrom = 0;
    while (keepFrom < count &&
           (positions[keepFrom] < 0 ||
            d.knots[positions[keepFrom] + 1] - d.knots[positions[keepFrom]] < tol))
      ++keepFrom;
    m = count - keepFrom;
    if (m == 0) return 1;
    for (int k = 0; k < m; ++k) positions[k] = positions[k + keepFrom];
    newValues = FindFixedWeightedPoints(d.knots, m, positions, 1.0, 1.0);
    if (!newValues || KernelFailed()) return 0;
    int* sortedPositions = positions;
    SortIndicesAndValues(m, &newValues, &sortedPositions);
    if (KernelFailed()) return 0;
    positions = sortedPositions;
  } else {
    if (position < p + 1 || position > d.n || value < d.knots[position - 1] ||
        value > d.knots[position])
      return 0;
    // A value at full multiplicity has no copy to gain: one more would leave no basis there.
    const double* U = d.knots;
    if (std::upper_bound(U, U + nKnots, value) - std::lower_bound(U, U + nKnots, value) > p)
      return 0;
    // Boehm's step of the working form: its ratios hold over windows however short, where the
    // shared weights below give up on those shorter than 1e-6 of the range (inside a cluster
    // of knots that moved the curve).
    KnotInsertWork* w = nullptr;
    if (!InitKnotInsertionOfSound(obj, dir, 1, &w)) return 0;
    InsertAKnotIntoTransposedObject(dir, w, 2, value, position);
    return EndKnotInsertion(obj, dir, w);
  }
  if (m >= kOnePassKnots) {
    // Many middles: the one pass over each line (the same knots, to round-off the same points).
    OnePassPlan plan;
    if (!AllocatePlan(plan, m, p, nKnots, 0)) return 0;
    std::copy_n(newValues, m, plan.x);
    plan.count = m;
    const double tol = 1e-6 * (d.knots[d.n] - d.knots[p]);
    if (FinishPlan(plan, d.knots, p, d.n, tol)) {
      KnotInsertWork* w = nullptr;
      if (!InitKnotInsertionOfSound(obj, dir, m, &w)) return 0;
      RefineAllLines(w, plan);
      return EndKnotInsertion(obj, dir, w);
    }
    FreePlan(plan);
  }
  double* newKnots = InsertNColsInVectorByIndex(nKnots, d.knots, m, newValues, positions);
  int* firsts = FindIndicesOfInsertedPoints(m, positions, p);
  if (!newKnots || !firsts || KernelFailed()) return 0;
  double** weights = FindInsertCoefiWeights(newKnots, m, firsts, p, d.knots[p], d.knots[d.n]);
  if (!weights || KernelFailed()) return 0;

  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertionOfSound(obj, dir, m, &w)) return 0;
  auto* line = MallocArray<double>(w->lines, w->n + m);
  if (!line || KernelFailed()) {
    Free(w);
    return 0;
  }
  for (double* c : w->c) {
    if (!c) continue;
    FindNewCoefiValues(w->lines, w->n, c, line, firsts, weights, p, m);
    std::memcpy(c, line, sizeof(double) * std::size_t(w->lines) * (w->n + m));
  }
  w->n += m;
  w->interior += m;
  std::memcpy(w->knots, newKnots, sizeof(double) * (nKnots + m));
  return EndKnotInsertion(obj, dir, w);
}

// ---- Supporting operations ----------------------------------------------------------------

void BubbleValueAndIndex(int count, double value, int index, double* values, int* indices) {
  if (count < 1) return;
  if (value > values[count - 1]) {
    for (int k = 0; k + 1 < count; ++k) {
      values[k] = values[k + 1];
      indices[k] = indices[k + 1];
    }
    values[count - 1] = value;
    indices[count - 1] = index;
    return;
  }
  if (value < values[0]) return;
  int k = 0;
  while (values[k] < value) ++k;  // stops at the last entry at the latest
  if (k == 0) {
    values[0] = value;
    indices[0] = index;
    return;
  }
  for (int i = 0; i + 1 < k; ++i) {
    values[i] = values[i + 1];
    indices[i] = indices[i + 1];
  }
  values[k - 1] = value;
  indices[k - 1] = index;
}

int* FindNLargestSpanIndices(int count, int p, int last, const double* knots) {
  if (count < 1 || !knots || p < 0) return nullptr;
  auto* lengths = MallocArray<double>(count);
  auto* indices = MallocArray<int>(count);
  if (!lengths || !indices || KernelFailed()) {
    Free(lengths);
    Free(indices);
    return nullptr;
  }
  for (int k = 0; k < count; ++k) {
    lengths[k] = 0.0;
    indices[k] = -1;
  }
  for (int i = p; i <= last - 2; ++i)
    BubbleValueAndIndex(count, knots[i + 1] - knots[i], i, lengths, indices);
  Free(lengths);
  return indices;
}

double* FindFixedWeightedPoints(const double* x, int count, const int* indices, double w1,
                                double w2) {
  if (count < 1 || !x || !indices) return nullptr;
  auto* out = MallocArray<double>(count);
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  for (int k = 0; k < count; ++k)
    out[k] = (w2 * x[indices[k] + 1] + w1 * x[indices[k]]) / (w1 + w2);
  return out;
}

void SortIndicesAndValues(int count, double** values, int** indices) {
  if (count < 1 || !values || !indices || !*values || !*indices) return;
  auto* sortedValues = MallocArray<double>(count);
  auto* sortedIndices = MallocArray<int>(count);
  if (!sortedValues || !sortedIndices || KernelFailed()) {
    Free(sortedValues);
    Free(sortedIndices);
    return;
  }
  for (int k = 0; k < count; ++k) {
    sortedValues[k] = kSortStart;
    sortedIndices[k] = -1;
  }
  for (int k = 0; k < count; ++k)
    BubbleValueAndIndex(count, (*values)[k], (*indices)[k], sortedValues, sortedIndices);
  Free(*values);
  Free(*indices);
  *values = sortedValues;
  *indices = sortedIndices;
}

double* InsertNColsInVectorByIndex(int n, const double* vector, int m, const double* newValues,
                                   const int* positions) {
  if (n < 0 || m < 0 || n + m < 1) return nullptr;
  if ((n > 0 && !vector) || (m > 0 && (!newValues || !positions))) {
    SetKernelError(-2);
    return nullptr;
  }
  auto* out = MallocArray<double>(n + m);
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  int o = 0;
  int j = 0;
  for (int i = 0; i < n; ++i) {
    out[o++] = vector[i];
    while (j < m && positions[j] == i) out[o++] = newValues[j++];
  }
  while (j < m) out[o++] = newValues[j++];  // positions beyond the vector: appended
  return out;
}

int* FindIndicesOfInsertedPoints(int m, const int* positions, int p) {
  if (m < 1 || !positions) return nullptr;
  auto* out = MallocArray<int>(m);
  if (!out || KernelFailed()) {
    Free(out);
    return nullptr;
  }
  for (int j = 0; j < m; ++j) out[j] = positions[j] - p + j + 1;
  return out;
}

double** FindInsertCoefiWeights(const double* newKnots, int m, const int* firsts, int p, double min,
                                double max) {
  if (m < 1 || p < 1 || !newKnots || !firsts) return nullptr;
  double** weights = allocate_matrix_ff(m, p);
  if (!weights || KernelFailed()) return nullptr;
  const double tol = 1e-6 * (max - min);
  for (int j = 0; j < m; ++j) {
    const int q = firsts[j] + p;  // index of knot j in the final vector
    const double t = newKnots[q];
    // The knot vector seen by knot j holds the knots inserted before it but not those after
    // it; index k of that vector is index Later(k) of the final one.
    auto later = [&](int k) {
      for (int jj = j + 1; jj < m && firsts[jj] + p <= k; ++jj) ++k;
      return k;
    };
    for (int i = firsts[j]; i < q; ++i) {
      const double lo = newKnots[i];
      const double den = newKnots[later(i + p + 1)] - lo;
      weights[j][i - firsts[j]] = std::fabs(den) < tol ? 0.0 : (t - lo) / den;
    }
  }
  return weights;
}

void FindNewCoefiValues(int lines, int lineLength, const double* src, double* dst,
                        const int* firsts, double** weights, int p, int m) {
  // Knot j goes into a line of lineLength + j points and blends points firsts[j] - 1 ..
  // firsts[j] + p - 1 of it (Boehm's step on a span at or past the degree).
  bool usable = src && dst && firsts && weights && lines >= 0 && lineLength >= 0 && m >= 0 &&
                p >= 0 && p <= kMaxSplineDegree;
  for (int j = 0; usable && j < m; ++j)
    usable = weights[j] && firsts[j] >= 1 && firsts[j] <= lineLength + j - p;
  if (!usable) {
    SetKernelError(-2);
    return;
  }
  const int out = lineLength + m;
  for (int l = 0; l < lines; ++l) {
    double* line = dst + std::size_t(l) * out;
    std::memcpy(line, src + std::size_t(l) * lineLength, sizeof(double) * lineLength);
    for (int j = 0; j < m; ++j)
      InsertIntoLine(line, line, lineLength + j, firsts[j], p, weights[j]);
  }
}
