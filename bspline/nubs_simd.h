// Internal to bspline/: the evaluators' fast forms of the basis of one span and of the sums
// over a control window. The same operations as the textbook recurrence of nubutil.h for the
// common low degrees, arranged for speed (all reciprocals before the recurrence, two lanes of
// GCC vectors where the compiler offers them), so the values agree to the last bit; and the
// line sums that a curve point and, applied twice, a surface point are made of.
#pragma once

#include "bspline/nubutil.h"
#include "bspline/smake.h"

// Defined in the evaluators' own loops: behind a call the basis values make a round trip
// through memory and the two directions of a surface point cannot overlap, which costs a single
// point about half its time again.
#if defined(__GNUC__)
#define NUB_KERNEL_INLINE [[gnu::always_inline]] inline
#else
#define NUB_KERNEL_INLINE inline
#endif

namespace nubkernel {

#if defined(__GNUC__)
// Two lanes of doubles; lane-wise IEEE arithmetic gives each lane the value of the scalar
// operation.
typedef double BasisPair __attribute__((vector_size(16)));
typedef long long BasisMask __attribute__((vector_size(16)));

// Reciprocal of both lanes, 0 for a zero lane.
NUB_KERNEL_INLINE BasisPair Reciprocal(BasisPair den) {
  const BasisPair one = {1.0, 1.0}, zero = {0.0, 0.0};
  return reinterpret_cast<BasisPair>(reinterpret_cast<BasisMask>(one / den) & (den != zero));
}

// Lanes below 1e-15 set to 0, with masks rather than branches.
NUB_KERNEL_INLINE BasisPair DropTiny(BasisPair n) {
  const BasisPair tiny = {1e-15, 1e-15};
  return reinterpret_cast<BasisPair>(reinterpret_cast<BasisMask>(n) & ~(n < tiny));
}
#endif

// Reciprocals of n denominators (n even). The divisions do not depend on the basis values, so
// they all run before the recurrence, two at a time where the compiler offers two-lane
// vectors; IEEE division is correctly rounded either way, so the values are those of
// Reciprocal.
NUB_KERNEL_INLINE void Reciprocals(const double* den, double* inv, int n) {
#if defined(__GNUC__)
  for (int i = 0; i < n; i += 2) {
    const BasisPair r = Reciprocal(BasisPair{den[i], den[i + 1]});
    inv[i] = r[0];
    inv[i + 1] = r[1];
  }
#else
  for (int i = 0; i < n; ++i) inv[i] = Reciprocal(den[i]);
#endif
}

// The whole recurrence for a degree known at compile time (the common low degrees): the same
// operations as RaiseBasisDegree, so the values agree exactly, with all reciprocals formed
// before the recurrence starts.
template <int P>
NUB_KERNEL_INLINE void BasisOfDegree(const double* knots, int span, double t, double* N) {
  constexpr int kDen = P * (P + 1) / 2, kPadded = kDen + (kDen & 1);
  double right[P + 1], left[P + 1], den[kPadded], inv[kPadded];
  for (int j = 1; j <= P; ++j) {
    right[j] = knots[span + j] - t;
    left[j] = t - knots[span + 1 - j];
  }
  for (int j = 1; j <= P; ++j)
    for (int r = 0; r < j; ++r) den[j * (j - 1) / 2 + r] = right[r + 1] + left[j - r];
  if (kPadded > kDen) den[kDen] = 1.0;
  Reciprocals(den, inv, kPadded);
  N[1] = 1.0;
  for (int j = 1; j <= P; ++j) {
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double temp = N[r + 1] * inv[j * (j - 1) / 2 + r];
      N[r + 1] = saved + right[r + 1] * temp;
      saved = left[j - r] * temp;
    }
    N[j + 1] = saved;
  }
}

// The degree-3 recurrence written out, the operations of BasisOfDegree<3> in the same order,
// for doubles or for two parameters at once in the lanes of a BasisPair, so every caller gets
// the same values. r[i] = right(i+1), l[i] = left(i+1); invert(den, inv) forms the six
// reciprocals (Reciprocal's values), all before the recurrence starts.
// With `lower` given, the degree-1 and degree-2 values go there too (a0, a1, b0, b1, b2): the
// all-degrees table of the span.
template <class T, class Invert>
NUB_KERNEL_INLINE void Cubic(const T* r, const T* l, Invert invert, T* n, T* lower = nullptr) {
  const T den[6] = {r[0] + l[0], r[0] + l[1], r[1] + l[0], r[0] + l[2], r[1] + l[1], r[2] + l[0]};
  T inv[6];
  invert(den, inv);
  // degree 1
  T temp = inv[0];
  const T a0 = r[0] * temp, a1 = l[0] * temp;
  // degree 2
  temp = a0 * inv[1];
  const T b0 = r[0] * temp;
  T saved = l[1] * temp;
  temp = a1 * inv[2];
  const T b1 = saved + r[1] * temp, b2 = l[0] * temp;
  if (lower) {
    lower[0] = a0, lower[1] = a1, lower[2] = b0, lower[3] = b1, lower[4] = b2;
  }
  // degree 3
  temp = b0 * inv[3];
  n[0] = r[0] * temp;
  saved = l[2] * temp;
  temp = b1 * inv[4];
  n[1] = saved + r[1] * temp;
  saved = l[1] * temp;
  temp = b2 * inv[5];
  n[2] = saved + r[2] * temp;
  n[3] = l[0] * temp;
}

// Degree 3, the kernel's usual degree, kept in registers. With Zero, values below 1e-15 are
// stored as 0.
template <bool Zero>
NUB_KERNEL_INLINE void BasisOfDegree3(const double* knots, int span, double t, double* N) {
  const double* k = knots + span;
  const double r[3] = {k[1] - t, k[2] - t, k[3] - t}, l[3] = {t - k[0], t - k[-1], t - k[-2]};
  double n[4];
  Cubic(r, l, [](const double* den, double* inv) { Reciprocals(den, inv, 6); }, n);
#if defined(__GNUC__)
  // Stored in pairs: the window sums read them in pairs, and a pair read of two single stores
  // would stall the load.
  BasisPair lo = {n[0], n[1]}, hi = {n[2], n[3]};
  if (Zero) {
    lo = DropTiny(lo);
    hi = DropTiny(hi);
  }
  __builtin_memcpy(N + 1, &lo, sizeof lo);
  __builtin_memcpy(N + 3, &hi, sizeof hi);
#else
  for (int i = 0; i < 4; ++i) N[i + 1] = Zero && n[i] < 1e-15 ? 0.0 : n[i];
#endif
}

#if defined(__GNUC__)
// The degree-3 recurrence of two spans in the lanes of one: lane 0 for (knotsA, spanA, tA),
// lane 1 for (knotsB, spanB, tB); n and lower as Cubic gives them.
NUB_KERNEL_INLINE void CubicPair(const double* knotsA, int spanA, double tA, const double* knotsB,
                                 int spanB, double tB, BasisPair n[4],
                                 BasisPair* lower = nullptr) {
  const double* a = knotsA + spanA;
  const double* b = knotsB + spanB;
  const BasisPair t = {tA, tB};
  const BasisPair km2 = {a[-2], b[-2]}, km1 = {a[-1], b[-1]}, k0 = {a[0], b[0]},
                  k1 = {a[1], b[1]}, k2 = {a[2], b[2]}, k3 = {a[3], b[3]};
  const BasisPair r[3] = {k1 - t, k2 - t, k3 - t}, l[3] = {t - k0, t - km1, t - km2};
  Cubic(
      r, l,
      [](const BasisPair* den, BasisPair* inv) {
        for (int i = 0; i < 6; ++i) inv[i] = Reciprocal(den[i]);
      },
      n, lower);
}

// The degree-3 bases of two parameters at once, EvalPointOnObjInit's values after the span
// search: lane 0 of N[i] is N[i+1] of (knotsA, spanA, tA), lane 1 that of (knotsB, spanB,
// tB). A surface point runs its u and v bases this way: one instruction stream for both
// directions instead of two that the processor can overlap only in part.
NUB_KERNEL_INLINE void BasisOfDegree3Pair(const double* knotsA, int spanA, double tA,
                                          const double* knotsB, int spanB, double tB,
                                          BasisPair N[4]) {
  BasisPair n[4];
  CubicPair(knotsA, spanA, tA, knotsB, spanB, tB, n);
  for (int i = 0; i < 4; ++i) N[i] = DropTiny(n[i]);
}

// The all-degrees tables (AllDegreesTable<3>'s values, bit for bit) of two cubic spans at
// once, (knotsA, spanA, tA) into tableA and (knotsB, spanB, tB) into tableB: a surface's u and
// v tables in the lanes of one recurrence, half the divisions of two.
NUB_KERNEL_INLINE void AllDegreesTable3Pair(const double* knotsA, int spanA, double tA,
                                            const double* knotsB, int spanB, double tB,
                                            double* tableA, double* tableB) {
  BasisPair n[4], lower[5];
  CubicPair(knotsA, spanA, tA, knotsB, spanB, tB, n, lower);
  // Degree 0 at 1, then degrees 1, 2 and 3 (the layout of nubutil.h's all-degrees table).
  tableA[1] = tableB[1] = 1.0;
  for (int i = 0; i < 5; ++i) tableA[2 + i] = lower[i][0], tableB[2 + i] = lower[i][1];
  for (int i = 0; i < 4; ++i) tableA[7 + i] = n[i][0], tableB[7 + i] = n[i][1];
}
#endif

// AllDegreesTable<3>'s values, RaiseBasisDegree's operations degree after degree (its leading
// 0.0 + kept: the sign of a zero), in registers, the six reciprocals formed two at a time before
// the recurrence starts.
NUB_KERNEL_INLINE void AllDegreesTable3(const double* knots, int span, double t, double* table) {
  const double* k = knots + span;
  const double r0 = k[1] - t, r1 = k[2] - t, r2 = k[3] - t;
  const double l0 = t - k[0], l1 = t - k[-1], l2 = t - k[-2];
  double inv[6];
#if defined(__GNUC__)
  const BasisPair i01 = Reciprocal(BasisPair{r0, r0} + BasisPair{l0, l1});
  const BasisPair i23 = Reciprocal(BasisPair{r1, r0} + BasisPair{l0, l2});
  const BasisPair i45 = Reciprocal(BasisPair{r1, r2} + BasisPair{l1, l0});
  inv[0] = i01[0], inv[1] = i01[1], inv[2] = i23[0], inv[3] = i23[1], inv[4] = i45[0], inv[5] = i45[1];
#else
  const double den[6] = {r0 + l0, r0 + l1, r1 + l0, r0 + l2, r1 + l1, r2 + l0};
  for (int i = 0; i < 6; ++i) inv[i] = Reciprocal(den[i]);
#endif
  // degree 1
  double temp = 1.0 * inv[0];
  const double a0 = 0.0 + r0 * temp, a1 = l0 * temp;
  // degree 2
  temp = a0 * inv[1];
  const double b0 = 0.0 + r0 * temp;
  double saved = l1 * temp;
  temp = a1 * inv[2];
  const double b1 = saved + r1 * temp, b2 = l0 * temp;
  // degree 3
  temp = b0 * inv[3];
  const double c0 = 0.0 + r0 * temp;
  saved = l2 * temp;
  temp = b1 * inv[4];
  const double c1 = saved + r1 * temp;
  saved = l1 * temp;
  temp = b2 * inv[5];
  const double c2 = saved + r2 * temp, c3 = l0 * temp;
  table[1] = 1.0;
  table[2] = a0, table[3] = a1;
  table[4] = b0, table[5] = b1, table[6] = b2;
  table[7] = c0, table[8] = c1, table[9] = c2, table[10] = c3;
}

#if defined(__GNUC__)
// DerivativeRow<3>'s first-derivative row from the all-degrees table: RaiseDerivative's
// quotients of the degree-2 values V, the first two in the lanes of one division (a zero knot
// difference masked to 0), and its sums in its order, the leading 0.0 kept.
NUB_KERNEL_INLINE void FirstDerivativeRow3(const double* knots, int span, const double* table, double* row) {
  const double* k = knots + span;
  const BasisPair den = {k[1] - k[-2], k[2] - k[-1]}, zero = {0.0, 0.0};
  const BasisPair h = reinterpret_cast<BasisPair>(
      reinterpret_cast<BasisMask>(BasisPair{table[4], table[5]} / den) & (den != zero));
  const double d2 = k[3] - k[0];
  const double h2 = d2 != 0.0 ? table[6] / d2 : 0.0;
  row[0] = 3 * (0.0 - h[0]);
  row[1] = 3 * ((0.0 + h[0]) - h[1]);
  row[2] = 3 * ((0.0 + h[1]) - h2);
  row[3] = 3 * (0.0 + h2);
}
#endif

// The basis values of one span; with Zero (EvalPointOnObjInit) values below 1e-15, rounding
// left-overs of functions that vanish at t, are stored as 0.
template <bool Zero>
NUB_KERNEL_INLINE void BasisValues(const double* knots, int p, double t, int span, double* N) {
  switch (p) {
    case 1:
      BasisOfDegree<1>(knots, span, t, N);
      break;
    case 2:
      BasisOfDegree<2>(knots, span, t, N);
      break;
    case 3:
      return BasisOfDegree3<Zero>(knots, span, t, N);
    case 4:
      BasisOfDegree<4>(knots, span, t, N);
      break;
    default:
      N[1] = 1.0;
      for (int j = 1; j <= p; ++j) RaiseBasisDegree(knots, span, t, j, N + 1, N + 1);
  }
  if (Zero)
    for (int i = 1; i <= p + 1; ++i) N[i] = N[i] < 1e-15 ? 0.0 : N[i];
}

// The all-degrees table (nubutil.h) of one span by the textbook recurrence, the degree fixed
// for the compiler when P >= 0 (else p holds it).
template <int P>
NUB_KERNEL_INLINE void AllDegreesTable(const double* knots, int p, double t, int span,
                                       double* table) {
  const int deg = P >= 0 ? P : p;
  table[1] = 1.0;
  for (int j = 1; j <= deg; ++j)
    RaiseBasisDegree(knots, span, t, j, table + 1 + (j - 1) * j / 2, table + 1 + j * (j + 1) / 2);
}

// From the derivatives of order m of the degree-q functions N(span-q) .. N(span) (q + 1
// values) to order m + 1 of degree q + 1 (q + 2 values, N(span-q-1) .. N(span)):
//   D(i) = (q + 1) (V(i) / (k[i+q+1] - k[i]) - V(i+1) / (k[i+q+2] - k[i+1])).
// Each quotient V(m) / (k[span-q+m+q+1] - k[span-q+m]) serves two neighbours, so it is formed
// once. A zero knot difference belongs to a function that vanishes identically: its term is 0
// (at clamped ends the textbook formula would divide 0 by 0).
NUB_KERNEL_INLINE void RaiseDerivative(const double* knots, int span, int q, const double* V,
                                       double* D) {
  double before = 0.0;  // the quotient of the previous k
  for (int k = 0; k <= q + 1; ++k) {
    double here = 0.0;
    if (k <= q) {
      const int i = span - q + k;
      const double den = knots[i + q + 1] - knots[i];
      if (den != 0.0) here = V[k] / den;
    }
    double r = 0.0;
    if (k >= 1) r += before;
    if (k <= q) r -= here;
    D[k] = (q + 1) * r;
    before = here;
  }
}

// The d-th derivatives of N(span-p) .. N(span) (p + 1 values, zeros for d > p) from the
// all-degrees table of the span: the degree p - d row raised d times. P is the degree when
// fixed for the compiler, else -1 and p holds it.
template <int P>
NUB_KERNEL_INLINE void DerivativeRow(const double* knots, int span, int p, const double* table,
                                     int d, double* row) {
  const int deg = P >= 0 ? P : p;
  if (d > deg) {
    for (int k = 0; k <= deg; ++k) row[k] = 0.0;
    return;
  }
  // Raised from buffer to buffer, the last step into row: no copy of a whole row between
  // steps (with the length unknown to the compiler each copy was a call).
  double buffers[2][kMaxSplineDegree + 1];
  const double* from = table + 1 + (deg - d) * (deg - d + 1) / 2;
  if (d == 0) {
    for (int k = 0; k <= deg; ++k) row[k] = from[k];
    return;
  }
  for (int q = deg - d; q < deg; ++q) {
    double* to = q + 1 == deg ? row : buffers[q & 1];
    RaiseDerivative(knots, span, q, from, to);
    from = to;
  }
}

#if defined(__GNUC__)
// DerivativeRow<3>'s first-derivative rows of two cubic spans at once, (knotsA, spanA, tableA)
// into rowA and (knotsB, spanB, tableB) into rowB: RaiseDerivative from degree 2 in the lanes
// of one pass (IEEE division lane by lane: the same values).
NUB_KERNEL_INLINE void FirstDerivativeRows3Pair(const double* knotsA, int spanA, const double* tableA,
                                                const double* knotsB, int spanB, const double* tableB,
                                                double* rowA, double* rowB) {
  const BasisPair zero = {0.0, 0.0}, three = {3.0, 3.0};
  BasisPair before = zero;
  for (int k = 0; k <= 3; ++k) {
    BasisPair here = zero;
    if (k <= 2) {
      const BasisPair den = {knotsA[spanA + k + 1] - knotsA[spanA - 2 + k],
                             knotsB[spanB + k + 1] - knotsB[spanB - 2 + k]};
      const BasisPair V = {tableA[4 + k], tableB[4 + k]};
      here = reinterpret_cast<BasisPair>(reinterpret_cast<BasisMask>(V / den) & (den != zero));
    }
    const BasisPair d = three * ((k >= 1 ? before : zero) - (k <= 2 ? here : zero));
    rowA[k] = d[0];
    rowB[k] = d[1];
    before = here;
  }
}
#endif

// The span search with the knots counted two at a time: FindLowKnotIndex's result.
NUB_KERNEL_INLINE int SpanSearch(const double* knots, int lo, double t, int* span, int hi) {
  auto count = [](const double* k, int from, int to, double x) {
    int i = from, n = 0;
#if defined(__GNUC__)
    const BasisPair xx = {x, x};
    BasisMask lanes = {0, 0};
    for (; i + 1 < to; i += 2) lanes -= (BasisPair{k[i], k[i + 1]} <= xx);  // true is -1
    n = static_cast<int>(lanes[0] + lanes[1]);
#endif
    for (; i < to; ++i) n += k[i] <= x;
    return n;
  };
  return SearchSpan(knots, lo, t, span, hi, count);
}

// t moved into [lo, hi] (every evaluator clamps its parameters to the domain).
NUB_KERNEL_INLINE double Clamp(double t, double lo, double hi) {
  return t < lo ? lo : (t > hi ? hi : t);
}

// t, or NaN when the knots the basis of `span` reads, knots[span - p + 1 .. span + p], decrease
// somewhere (a NaN knot compares false too). A single-point evaluator cannot afford a pass over
// every knot on each call; this costs 2p - 1 comparisons, and a basis computed at NaN is NaN
// throughout, so the evaluator's finiteness test refuses the point. A value is thus only ever
// computed from sorted knots.
NUB_KERNEL_INLINE bool KnotSpanSorted(const double* knots, int span, int p) {
  bool sorted = true;
  for (int i = span - p + 1; i < span + p; ++i) sorted &= knots[i] <= knots[i + 1];
  return sorted;
}
NUB_KERNEL_INLINE double SortedSpanParameter(double t, const double* knots, int span, int p) {
  return KnotSpanSorted(knots, span, p) ? t : __builtin_nan("");
}

// EvalPointOnObjInit's steps, compiled into the caller.
NUB_KERNEL_INLINE int PointInit(double t, int deg, const double* knots, double* N, int* span,
                                int hi, int shift) {
  t = Clamp(t, knots[shift + deg], knots[hi]);
  const int where = SpanSearch(knots, shift + deg, t, span, hi);
  BasisValues<true>(knots, deg, SortedSpanParameter(t, knots, *span, shift + deg), *span, N);
  return where;
}

// Degrees the fixed-size evaluation scratch can hold: the check of the low-level sums, which
// also receive working views of a record (lowered degrees, a weight net as a coordinate).
// The public evaluators check the whole structure (BsplineShapeSound).
inline bool DegreesOk(const Bspline* b) {
  if (!b || b->degreeU < 0 || b->degreeU > kMaxSplineDegree) return false;
  return b->kind != 2 || (b->degreeV >= 0 && b->degreeV <= kMaxSplineDegree);
}

// ---- The line sum --------------------------------------------------------------------------
// A curve point is the curve algorithm's sum over its window: the basis values times the
// coefficients of one line. A surface point is the same sum applied twice: down the columns of
// its window (every column at once, one row after another), then along the row of column
// results. Every evaluator forms its sums with these routines and in this order, so
// points, grids and derivatives of one object agree to the last bit. Count is the length when
// the compiler can know it (the common low degrees, loops unrolled), else -1 and count holds it.

// The sum over k < count of N[k] c[k], or of N[k] (w[k] c[k]) with weights, added in order
// from 0.
template <int Count = -1>
NUB_KERNEL_INLINE double LineSum(const double* N, const double* c, const double* w, int count) {
  const int m = Count >= 0 ? Count : count;
  double s = 0.0;
  if (w)
    for (int k = 0; k < m; ++k) s += N[k] * (w[k] * c[k]);
  else
    for (int k = 0; k < m; ++k) s += N[k] * c[k];
  return s;
}

// The line sums down the columns col0 .. col0 + count - 1 of rows row0 .. row0 + q of the
// matrices M[0..3] into acc[0..3] (four arrays of count values), N holding the q + 1 basis values
// of the rows: one row's share after the other, acc[c][k] += N[r] M[c][row0 + r][col0 + k], all
// columns at once. M[0..2] are x, y, z (z may be null); M[3], when given, is summed like them,
// and with Weighted it is the weights, which multiply x, y and z first.
template <int Count, bool Weighted>
NUB_KERNEL_INLINE void ColumnSums(double* const* const M[4], const double* N, int q, int row0,
                                  int col0, int count, double* const acc[4]) {
  const int m = Count >= 0 ? Count : count;
  double* ax = acc[0];
  double* ay = acc[1];
  double* az = acc[2];
  double* aw = acc[3];
  const bool hasZ = M[2] != nullptr, hasW = M[3] != nullptr;
  for (int k = 0; k < m; ++k) ax[k] = ay[k] = az[k] = aw[k] = 0.0;
  for (int r = 0; r <= q; ++r) {
    const double n = N[r];
    const double* X = M[0][row0 + r] + col0;
    const double* Y = M[1][row0 + r] + col0;
    const double* Z = hasZ ? M[2][row0 + r] + col0 : nullptr;
    const double* W = hasW ? M[3][row0 + r] + col0 : nullptr;
    if (Weighted) {
      for (int k = 0; k < m; ++k) {
        ax[k] += n * (W[k] * X[k]);
        ay[k] += n * (W[k] * Y[k]);
        aw[k] += n * W[k];
      }
      if (Z)
        for (int k = 0; k < m; ++k) az[k] += n * (W[k] * Z[k]);
    } else {
      for (int k = 0; k < m; ++k) {
        ax[k] += n * X[k];
        ay[k] += n * Y[k];
      }
      if (Z)
        for (int k = 0; k < m; ++k) az[k] += n * Z[k];
      if (W)
        for (int k = 0; k < m; ++k) aw[k] += n * W[k];
    }
  }
}

// A surface's window sum: the column sums with the v basis, then the line sum along u of the
// results. With Weighted each coefficient is multiplied by its weight first and the weights are
// summed as a fourth value. P is the u degree when known at compile time, else -1 and pRun
// holds it.
template <int P, bool Weighted>
inline void SurfaceWindowSum(const Bspline* obj, const double* uRow, const double* vRow, int pRun,
                             int col0, int row0, bool hasZ, double* out) {
  constexpr int cap = P >= 0 ? P + 1 : kMaxSplineDegree + 1;
  const int n = P >= 0 ? P + 1 : pRun + 1;
  constexpr int Count = P >= 0 ? P + 1 : -1;
  double a[4][cap];
  double* const acc[4] = {a[0], a[1], a[2], a[3]};
  double* const* const M[4] = {obj->X, obj->Y, hasZ ? obj->Z : nullptr,
                               Weighted ? obj->W : nullptr};
  ColumnSums<Count, Weighted>(M, vRow, obj->degreeV, row0, col0, n, acc);
  out[0] = LineSum<Count>(uRow, a[0], nullptr, n);
  out[1] = LineSum<Count>(uRow, a[1], nullptr, n);
  out[2] = hasZ ? LineSum<Count>(uRow, a[2], nullptr, n) : 0.0;
  if (Weighted) out[3] = LineSum<Count>(uRow, a[3], nullptr, n);
}

#if defined(__GNUC__)
// The column sums of a window four columns wide, two columns to a pair: x01 holds columns 0
// and 1 of x, x23 columns 2 and 3. Requests of one v order share them.
struct Columns3 {
  BasisPair x01, x23, y01, y23, z01, z23;
};

template <class VPair>
NUB_KERNEL_INLINE Columns3 ColumnSums3(const Bspline* obj, VPair vPair, int q, int col0, int row0,
                                       bool hasZ) {
  typedef BasisPair Pair;
  auto load = [](const double* a) {
    Pair v;
    __builtin_memcpy(&v, a, sizeof v);
    return v;
  };
  // The sums start from row 0's products rather than from 0 + products: the same values (a
  // zero sum's sign aside) one addition sooner.
  Pair x01, x23, y01, y23, z01 = {0.0, 0.0}, z23 = z01;
  {
    const Pair n = vPair(0);
    const double* X = obj->X[row0] + col0;
    const double* Y = obj->Y[row0] + col0;
    x01 = n * load(X);
    x23 = n * load(X + 2);
    y01 = n * load(Y);
    y23 = n * load(Y + 2);
    if (hasZ) {
      const double* Z = obj->Z[row0] + col0;
      z01 = n * load(Z);
      z23 = n * load(Z + 2);
    }
  }
  for (int r = 1; r <= q; ++r) {
    const Pair n = vPair(r);
    const double* X = obj->X[row0 + r] + col0;
    const double* Y = obj->Y[row0 + r] + col0;
    x01 += n * load(X);
    x23 += n * load(X + 2);
    y01 += n * load(Y);
    y23 += n * load(Y + 2);
    if (hasZ) {
      const double* Z = obj->Z[row0 + r] + col0;
      z01 += n * load(Z);
      z23 += n * load(Z + 2);
    }
  }
  return {x01, x23, y01, y23, z01, z23};
}

// The u line sum of column sums, (p0 + p2) + (p1 + p3).
NUB_KERNEL_INLINE void RowSum3(const Columns3& c, BasisPair u01, BasisPair u23, bool hasZ, double* out) {
  typedef BasisPair Pair;
  const Pair x01 = c.x01, x23 = c.x23, y01 = c.y01, y23 = c.y23, z01 = c.z01, z23 = c.z23;
  const Pair px01 = u01 * x01, px23 = u23 * x23, py01 = u01 * y01, py23 = u23 * y23;
  const Pair pz01 = u01 * z01, pz23 = u23 * z23;
  // Summed in pairs, (p0 + p2) + (p1 + p3): half the chain of dependent additions.
  const Pair sx = px01 + px23, sy = py01 + py23, sz = pz01 + pz23;
  const double x = sx[0] + sx[1], y = sy[0] + sy[1], z = sz[0] + sz[1];
  out[0] = x;
  out[1] = y;
  out[2] = hasZ ? z : 0.0;
}

// SurfaceWindowSum<3, false> with the products formed two at a time. The row sums keep the
// generic order; the four u products are added in pairs, (p0 + p2) + (p1 + p3), half the chain
// of dependent additions (the grid evaluator adds them in the same order). The u basis comes
// as pairs (u01 = N[1], N[2]; u23 = N[3], N[4]) and vPair(r) gives row r's v basis value in
// both lanes, so a caller holding the bases in registers passes them without a store.
template <class VPair>
NUB_KERNEL_INLINE void SurfaceWindowSum3Pairs(const Bspline* obj, BasisPair u01, BasisPair u23,
                                              VPair vPair, int q, int col0, int row0, bool hasZ,
                                              double* out) {
  RowSum3(ColumnSums3(obj, vPair, q, col0, row0, hasZ), u01, u23, hasZ, out);
}

// The same with the bases in memory (uRow[0 .. 3], vRow[0 .. q]).
NUB_KERNEL_INLINE void SurfaceWindowSum3(const Bspline* obj, const double* uRow, const double* vRow,
                                         int q, int col0, int row0, bool hasZ, double* out) {
  BasisPair u01, u23;
  __builtin_memcpy(&u01, uRow, sizeof u01);
  __builtin_memcpy(&u23, uRow + 2, sizeof u23);
  SurfaceWindowSum3Pairs(
      obj, u01, u23, [vRow](int r) { return BasisPair{vRow[r], vRow[r]}; }, q, col0, row0, hasZ,
      out);
}
#endif

template <bool Weighted>
NUB_KERNEL_INLINE void SurfaceWindow(const Bspline* obj, const double* uRow, const double* vRow,
                                     int col0, int row0, bool hasZ, double* out) {
  const int p = obj->degreeU;
#if defined(__GNUC__)
  if (!Weighted && p == 3)
    return SurfaceWindowSum3(obj, uRow, vRow, obj->degreeV, col0, row0, hasZ, out);
#endif
  switch (p) {
    case 1:
      return SurfaceWindowSum<1, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 2:
      return SurfaceWindowSum<2, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 3:
      return SurfaceWindowSum<3, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 4:
      return SurfaceWindowSum<4, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 5:
      return SurfaceWindowSum<5, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    default:
      return SurfaceWindowSum<-1, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
  }
}

// EvalPointOnBspline and EvalPointOnBspline4D, compiled into their callers.
NUB_KERNEL_INLINE int PointOnBspline(const Bspline* obj, const double* uRow, const double* vRow,
                                     int uSpan, int vSpan, double out[3]) {
  if (!DegreesOk(obj)) return -2;
  const int p = obj->degreeU, col0 = uSpan - p;
  const bool hasZ = obj->dimension == 3 && obj->Z;
  if (obj->kind == 2) {
    SurfaceWindow<false>(obj, uRow, vRow, col0, vSpan - obj->degreeV, hasZ, out);
    return 0;
  }
  out[0] = LineSum(uRow, obj->X[0] + col0, nullptr, p + 1);
  out[1] = LineSum(uRow, obj->Y[0] + col0, nullptr, p + 1);
  out[2] = hasZ ? LineSum(uRow, obj->Z[0] + col0, nullptr, p + 1) : 0.0;
  return 0;
}

NUB_KERNEL_INLINE int PointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow,
                                       int uSpan, int vSpan, double out[4]) {
  if (!DegreesOk(obj)) return -2;
  if (!obj->rational || !obj->W) {
    PointOnBspline(obj, uRow, vRow, uSpan, vSpan, out);
    // The weight sum of a non-rational object is the basis sum.
    double s = 0.0;
    if (obj->kind != 2) {
      for (int k = 0; k <= obj->degreeU; ++k) s += uRow[k];
    } else {
      double sv = 0.0;
      for (int r = 0; r <= obj->degreeV; ++r) sv += vRow[r];
      for (int k = 0; k <= obj->degreeU; ++k) s += uRow[k] * sv;
    }
    out[3] = s;
    return 0;
  }
  const int p = obj->degreeU, col0 = uSpan - p;
  const bool hasZ = obj->dimension == 3 && obj->Z;
  if (obj->kind == 2) {
    SurfaceWindow<true>(obj, uRow, vRow, col0, vSpan - obj->degreeV, hasZ, out);
    return 0;
  }
  const double* W = obj->W[0] + col0;
  out[0] = LineSum(uRow, obj->X[0] + col0, W, p + 1);
  out[1] = LineSum(uRow, obj->Y[0] + col0, W, p + 1);
  out[2] = hasZ ? LineSum(uRow, obj->Z[0] + col0, W, p + 1) : 0.0;
  out[3] = LineSum(uRow, W, nullptr, p + 1);
  return 0;
}

}  // namespace nubkernel
