// Knot spans and basis values: the one span search and the one basis routine of the kernel,
// the choice of evaluation path, the quotient rule that turns homogeneous derivatives of
// rational objects into Cartesian ones, and checks and queries of knot vectors.
//
// Index conventions: knot vectors count from 0. A basis-value array of one span is indexed
// from 1: for degree p, N[1] .. N[p+1] are N(span-p) .. N(span) at t. The all-degrees table
// holds the rows for degrees 0, 1, ..., p one after another from index 1 (row j starts at
// 1 + j (j + 1) / 2 and has j + 1 values), so it needs 1 + (p + 1)(p + 2) / 2 doubles.
#pragma once

#include <algorithm>
#include <cmath>

#include "bspline/smake.h"

// Highest degree an evaluator accepts; fixed-size evaluation scratch is sized from it.
// Objects of higher degree are refused (CheckBspline reports -5 for them).
inline constexpr int kMaxSplineDegree = 22;

// Span search from *span upward (a fresh search passes lo; a caller stepping through
// increasing parameters passes the previous span back). Callers pass lo = degree and
// hi = control-point count, so knots[lo] and knots[hi] are the domain ends.
// *span receives the index s with knots[s] <= t < knots[s+1] (hi - 1 at the domain end).
// Returns 0 when t lies on a knot (within 1e-6 of the domain length), 2 when it lies at the
// domain end, else 1.
inline int FindLowKnotIndex(const double* knots, int lo, double t, int* span, int hi);

// The p + 1 nonzero basis values of degree p at t into N[1] .. N[p+1] (N[0] is not used);
// span must satisfy knots[span] <= t <= knots[span+1]. Any degree.
inline void ComputeNubVals(const double* knots, int p, double t, int span, double* N);
// The same recurrence keeping every degree's row (the all-degrees table, see above).
void ComputeNubValsM(const double* knots, int p, double t, int span, double* table);

// Clamps t into [knots[shift + deg], knots[hi]], finds its span starting from *span and
// writes the degree-deg basis values to N[1] .. N[deg+1], values below 1e-15 set to 0.
// Derivative order d of a degree-p object calls it with deg = p - d, shift = d: the search
// still runs over the whole knot vector. Returns the span search's result.
inline int EvalPointOnObjInit(double t, int deg, const double* knots, double* N, int* span, int hi,
                              int shift);
// Clamps t into [knots[deg], knots[hi]], finds the span and fills the all-degrees table;
// nothing is zeroed.
int EvalPointOnObjInitM(double t, int deg, const double* knots, double* table, int* span, int hi);

// 0 rational with derivative, 1 non-rational derivative, 2 rational position, 3 non-rational
// position.
int GetEvalType(int rational, int order);

// Cartesian derivative of orders du (u; t for curves) and dv (v) of a rational object from
// its homogeneous derivatives, lower orders first:
//   S(k,l) = (A(k,l) - sum binom(k,i) binom(l,j) w(i,j) S(k-i,l-j)) / w, (i,j) != (0,0).
// A holds (du + 1)(dv + 1) entries of dim + 1 doubles, entry (i, j) at (i (dv + 1) + j)(dim + 1):
// the dim homogeneous coordinates, then the weight. Writes dim values to out; returns 0, or
// -2 (nothing written) when the orders exceed the evaluators' limit.
int ApplyQuotientRule(const double* A, int du, int dv, int dim, double* out);

// Derivative of a rational object; exactly one of surface, 3D curve, 2D curve is non-null
// (curves use u as t and du as the order). Mixed requests go to the cross form. out gets
// two values for a 2D curve, three otherwise; a 3D curve passed as crv2 or a 2D curve passed
// as crv3 is refused (zk_error_status -2, out untouched).
void EvalPointDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2, double u,
                         double v, int du, int dv, double* out);
// Pure derivative of order k along u (du > 0) or v on a surface, along t on a curve.
void EvalPointDirectDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                               double u, double v, int du, int dv, double* out);
// Mixed derivative of a rational surface, du and dv each 1 or 2; higher orders show
// "Currently Unavailable" and write nothing.
void EvalPointCrossDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                              double u, double v, int du, int dv, double* out);

// The same at n points (u[i], v[i]) (curves read u only) with float outputs; z may be null
// for a 2D curve. Return 0, or -2 on failure (nothing written).
int EvalNpntsDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                          const double* u, const double* v, int n, int du, int dv, float* x,
                          float* y, float* z);
int EvalNpntsDirectDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                                const double* u, const double* v, int n, int du, int dv, float* x,
                                float* y, float* z);
// Only du = dv = 1; otherwise "Only first order cross derivatives of Rational Surfaces
// available" and -2.
int EvalNpntsCrossDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                               const double* u, const double* v, int n, int du, int dv, float* x,
                               float* y, float* z);

// n evaluations by the object's kind: a surface at (u[i], v[i]) with orders du, dv; a 3D
// curve at u[i] with order du; a 2D curve gives its (u, v) clamped into its owner's domain
// when z is null, else the 3D point (order du) on its owner.
void EvalNpntsOnObj(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                    double* x, double* y, double* z);
// The same with interleaved output; a 2D curve always through its owner. Returns 1.
int EvalNpntsOnObj2(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                    double (*out)[3]);
void EvalNpntsOnObj_f(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                      float* x, float* y, float* z);

// Bit 1: u has interior knots; bit 2 (surfaces): v has interior knots.
int ObjectInKnots(const Bspline* obj);

// The bounding knot of t's span nearest to t (u knots, or v knots of a surface when inV);
// with allowEnds 0 the domain ends are avoided where the span allows. *atEnd is set to 1 when
// a domain end is returned under the rules of the evaluators' callers, else 0.
double GetClosestKnotPoint(const Bspline* obj, double t, int inV, int allowEnds, int* atEnd);

// 0 when the record is a valid clamped B-spline, else the first failing check's code:
// -7 kind, -8 dimension, -10 weights missing, -11 Z rule, -5 degree outside 1..22,
// -6 negative interior count, -9 domain shorter than tol, -12 not clamped, -2 knot outside
// the domain, -4 decreasing knots, -3 multiplicity too high, -13 weight below 1e-10 or
// negative. Changes nothing.
int CheckBspline(const Bspline* obj, double tol);

// Maps a parameter range shorter than tol to [0, 1] in place (a surface: its shorter
// direction, the other direction scaled alike), the curves on a surface following. Returns
// 0, or -2 (nothing changed) when the range to rescale has zero length.
int TestCorrectParamSpan(Bspline* obj, double tol);

// Tidies the knot vectors: a direction whose domain is shorter than tol is mapped onto [0, 1]
// (the curves on a surface following; bit 1), knots closer than tol of the range are merged
// (v first, then u: bit 2 when knots moved, bit 4 when knots and control lines were deleted),
// and a wrapped direction is clamped (bit 8). Returns the bits, or -2 when a step failed (the
// steps before it stay done) or a direction's knots span no range at all.
int CleanBsplineKnots(Bspline* obj, double tol);

// ---- Inline kernels ------------------------------------------------------------------------
// The span search and the basis recurrence are the innermost steps of every evaluator. They
// are defined here, not behind a call, so that each evaluator compiles them into its own loop:
// behind a call the basis values make a round trip through memory and the two directions of a
// surface point cannot overlap, which costs a single point about half its time again.
#if defined(__GNUC__)
#define NUB_KERNEL_INLINE [[gnu::always_inline]] inline
#else
#define NUB_KERNEL_INLINE inline
#endif

namespace nubkernel {

// Reciprocal of a knot-difference denominator of the recurrence. An empty support
// (repeated knots around an empty span) has value 0, not 0/0: its reciprocal is taken as 0.
NUB_KERNEL_INLINE double Reciprocal(double den) { return den != 0.0 ? 1.0 / den : 0.0; }

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

// One pass of the Cox-de Boor recurrence: from the degree j - 1 values prev[0 .. j-1] of
// N(span-j+1) .. N(span) to the degree-j values cur[0 .. j] of N(span-j) .. N(span), with
//   right(r) = knots[span+1+r] - t,  left(j-r) = t - knots[span+1-j+r],
//   temp = prev[r] / (right(r) + left(j-r)),
//   cur[r] = saved + right(r) temp,  saved = left(j-r) temp.
// cur may equal prev: prev[r] is read before cur[r] is written and prev[j] is never read.
inline void RaiseBasisDegree(const double* knots, int span, double t, int j, const double* prev,
                             double* cur) {
  double saved = 0.0;
  for (int r = 0; r < j; ++r) {
    const double right = knots[span + 1 + r] - t;
    const double left = t - knots[span + 1 - j + r];
    const double temp = prev[r] * Reciprocal(right + left);
    cur[r] = saved + right * temp;
    saved = left * temp;
  }
  cur[j] = saved;
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
template <class T, class Invert>
NUB_KERNEL_INLINE void Cubic(const T* r, const T* l, Invert invert, T* n) {
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
// The degree-3 bases of two parameters at once, EvalPointOnObjInit's values after the span
// search: lane 0 of N[i] is N[i+1] of (knotsA, spanA, tA), lane 1 that of (knotsB, spanB,
// tB). A surface point runs its u and v bases this way: one instruction stream for both
// directions instead of two that the processor can overlap only in part.
NUB_KERNEL_INLINE void BasisOfDegree3Pair(const double* knotsA, int spanA, double tA,
                                          const double* knotsB, int spanB, double tB,
                                          BasisPair N[4]) {
  const double* a = knotsA + spanA;
  const double* b = knotsB + spanB;
  const BasisPair t = {tA, tB};
  const BasisPair km2 = {a[-2], b[-2]}, km1 = {a[-1], b[-1]}, k0 = {a[0], b[0]},
                  k1 = {a[1], b[1]}, k2 = {a[2], b[2]}, k3 = {a[3], b[3]};
  const BasisPair r[3] = {k1 - t, k2 - t, k3 - t}, l[3] = {t - k0, t - km1, t - km2};
  BasisPair n[4];
  Cubic(
      r, l,
      [](const BasisPair* den, BasisPair* inv) {
        for (int i = 0; i < 6; ++i) inv[i] = Reciprocal(den[i]);
      },
      n);
  for (int i = 0; i < 4; ++i) N[i] = DropTiny(n[i]);
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

// The span search (FindLowKnotIndex's contract).
NUB_KERNEL_INLINE int SpanSearch(const double* knots, int lo, double t, int* span, int hi) {
  const double tol = 1e-6 * (knots[hi] - knots[lo]);
  int start = *span;
  // The search only moves upward; a start above t (or outside the vector) would end in a span
  // that does not hold t, so such a search starts again from the domain start.
  if (start < 0 || start > hi || knots[start] > t) start = lo;
  // First index in [start, hi) whose knot lies strictly above t. The knots are sorted, so
  // it is start plus the number of knots in [start, hi) at or below t: counted without
  // branches over short vectors, by bisection over long ones.
  int k = start;
  if (hi - start <= 32) {
    int i = start;
#if defined(__GNUC__)
    typedef double Pair __attribute__((vector_size(16)));
    typedef long long Mask __attribute__((vector_size(16)));
    const Pair tt = {t, t};
    Mask count = {0, 0};
    for (; i + 1 < hi; i += 2) count -= (Pair{knots[i], knots[i + 1]} <= tt);  // true is -1
    k += static_cast<int>(count[0] + count[1]);
#endif
    for (; i < hi; ++i) k += knots[i] <= t;
  } else {
    k = static_cast<int>(std::upper_bound(knots + start, knots + hi, t) - knots);
  }
  if (k < hi) {
    // k == start only after a restart with t below the domain: stay on the first span.
    *span = std::max(k - 1, start);
    return (knots[k] - t < tol || t - knots[*span] < tol) ? 0 : 1;
  }
  *span = std::max(hi - 1, 0);
  if (t - knots[*span] < tol) return 0;
  if (std::fabs(knots[hi] - t) < tol) return 2;
  return 1;
}

// t moved into [lo, hi] (every evaluator clamps its parameters to the domain).
NUB_KERNEL_INLINE double Clamp(double t, double lo, double hi) {
  return t < lo ? lo : (t > hi ? hi : t);
}

// EvalPointOnObjInit's steps, compiled into the caller.
NUB_KERNEL_INLINE int PointInit(double t, int deg, const double* knots, double* N, int* span,
                                int hi, int shift) {
  t = Clamp(t, knots[shift + deg], knots[hi]);
  const int where = SpanSearch(knots, shift + deg, t, span, hi);
  BasisValues<true>(knots, deg, t, *span, N);
  return where;
}

// Degrees the fixed-size evaluation scratch can hold (every evaluator refuses others).
inline bool DegreesOk(const Bspline* b) {
  if (!b || b->degreeU < 0 || b->degreeU > kMaxSplineDegree) return false;
  return b->kind != 2 || (b->degreeV >= 0 && b->degreeV <= kMaxSplineDegree);
}

}  // namespace nubkernel

inline int FindLowKnotIndex(const double* knots, int lo, double t, int* span, int hi) {
  return nubkernel::SpanSearch(knots, lo, t, span, hi);
}

inline void ComputeNubVals(const double* knots, int p, double t, int span, double* N) {
  nubkernel::BasisValues<false>(knots, p, t, span, N);
}

inline int EvalPointOnObjInit(double t, int deg, const double* knots, double* N, int* span, int hi,
                              int shift) {
  return nubkernel::PointInit(t, deg, knots, N, span, hi, shift);
}
