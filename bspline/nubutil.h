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

#include "bspline/bsvalid.h"
#include "bspline/smake.h"


// Span search from *span upward (a fresh search passes lo; a caller stepping through
// increasing parameters passes the previous span back). Callers pass lo = degree and
// hi = control-point count, so knots[lo] and knots[hi] are the domain ends.
// *span receives the index s with knots[s] <= t < knots[s+1] (hi - 1 at the domain end).
// Returns 0 when t lies on a knot (within 1e-6 of the domain length), 2 when it lies at the
// domain end, else 1.
inline int FindLowKnotIndex(const double* knots, int lo, double t, int* span, int hi);

// The p + 1 nonzero basis values of degree p at t into N[1] .. N[p+1] (N[0] is not used);
// span must satisfy knots[span] <= t <= knots[span+1]. Any degree. These three do nothing for a
// null array, a degree outside 0..kMaxSplineDegree or span < p (ComputeNubDerivs also d < 0).
void ComputeNubVals(const double* knots, int p, double t, int span, double* N);
// The same recurrence keeping every degree's row (the all-degrees table, see above).
void ComputeNubValsM(const double* knots, int p, double t, int span, double* table);
// The d-th derivatives of the degree-p functions N(span-p) .. N(span) at t into row[0 .. p]
// (zeros for d > p); span as for ComputeNubVals, p at most kMaxSplineDegree.
void ComputeNubDerivs(const double* knots, int p, double t, int span, int d, double* row);

// Clamps t into [knots[shift + deg], knots[hi]], finds its span starting from *span and
// writes the degree-deg basis values to N[1] .. N[deg+1], values below 1e-15 set to 0.
// Derivative order d of a degree-p object calls it with deg = p - d, shift = d: the search
// still runs over the whole knot vector. Returns the span search's result; -2 (nothing written)
// for a null array, a degree outside 0..kMaxSplineDegree, shift < 0 or hi <= shift + deg.
int EvalPointOnObjInit(double t, int deg, const double* knots, double* N, int* span, int hi,
                       int shift);
// Clamps t into [knots[deg], knots[hi]], finds the span and fills the all-degrees table;
// nothing is zeroed. -2 (nothing written) for a null array, a degree outside
// 0..kMaxSplineDegree or hi <= deg.
int EvalPointOnObjInitM(double t, int deg, const double* knots, double* table, int* span, int hi);

// 0 rational with derivative, 1 non-rational derivative, 2 rational position, 3 non-rational
// position.
int GetEvalType(int rational, int order);

// Cartesian derivative of orders du (u; t for curves) and dv (v) of a rational object from
// its homogeneous derivatives, lower orders first:
//   S(k,l) = (A(k,l) - sum binom(k,i) binom(l,j) w(i,j) S(k-i,l-j)) / w, (i,j) != (0,0).
// A holds (du + 1)(dv + 1) entries of dim + 1 doubles, entry (i, j) at (i (dv + 1) + j)(dim + 1):
// the dim homogeneous coordinates, then the weight. Writes dim values to out; returns 0, or
// -2 (nothing written) when the orders exceed the evaluators' limit or an array is null.
int ApplyQuotientRule(const double* A, int du, int dv, int dim, double* out);

// Derivative of a rational object; exactly one of surface, 3D curve, 2D curve is non-null
// (curves use u as t and du as the order). Mixed requests go to the cross form. out gets
// two values for a 2D curve, three otherwise; a 3D curve passed as crv2 or a 2D curve passed
// as crv3 is refused (zk_error_status -2, out untouched).
// A result that is not finite is not written (error state -2), as in the evaluators.
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
// for a 2D curve. Return 0, or -2 on failure (nothing written), or -2 after writing when a
// value came out non-finite (a refused evaluation or an overflow).
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
// a domain end is returned under the rules of the evaluators' callers, else 0. A record whose
// structure is not sound (bsvalid) gives t back, *atEnd untouched, error state -2.
double GetClosestKnotPoint(const Bspline* obj, double t, int inV, int allowEnds, int* atEnd);

// 0 when the record is a valid clamped B-spline, else the first failing check's code:
// -7 kind, -8 dimension, -10 weights missing, -11 Z rule, -5 degree outside 1..22,
// -6 negative interior count (or counts beyond an int), -9 domain shorter than tol, -12 not clamped, -2 knot outside
// the domain, -4 decreasing knots, -3 multiplicity too high, -13 weight below 1e-10 or
// negative. Changes nothing.
int CheckBspline(const Bspline* obj, double tol);

// Maps a parameter range shorter than tol to [0, 1] in place (a surface: its shorter
// direction, the other direction scaled alike), the curves on a surface following; copies
// beyond p + 1 that the round-off makes are set apart again (SpreadOverfullKnotRuns). Returns
// 0, or -2 (nothing changed) when the range to rescale has zero length, or, error state -2,
// for a record that is not sound (bsvalid).
int TestCorrectParamSpan(Bspline* obj, double tol);

// Tidies the knot vectors: a direction whose domain is shorter than tol is mapped onto [0, 1]
// (the curves on a surface following, round-off runs beyond p + 1 set apart; bit 1), knots
// closer than tol of the range are merged (v first, then u: bit 2 when knots moved, bit 4 when
// knots and control lines were deleted), and a wrapped direction is clamped (bit 8). Returns the
// bits, or -2 when a step failed (the steps before it stay done) or a direction's knots span no
// range at all.
int CleanBsplineKnots(Bspline* obj, double tol);

// ---- The textbook recurrence ---------------------------------------------------------------
// The span search and one step of the Cox-de Boor recurrence, written as the formulas read: the
// kernel's one definition of each. They are the innermost steps of every evaluator, so they are
// defined here, where the evaluators compile them into their own loops. The evaluators of
// bspline/ run the same operations in a faster arrangement for the common low degrees (an
// internal header beside them), with the same values to the last bit.
namespace nubkernel {

// Reciprocal of a knot-difference denominator of the recurrence. An empty support
// (repeated knots around an empty span) has value 0, not 0/0: its reciprocal is taken as 0.
inline double Reciprocal(double den) { return den != 0.0 ? 1.0 / den : 0.0; }

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

// The span search (FindLowKnotIndex's contract) around a count of the knots in [from, to) at
// or below t; the evaluators of bspline/ pass a count in vector lanes, everyone else the loop
// of FindLowKnotIndex.
template <class Count>
inline int SearchSpan(const double* knots, int lo, double t, int* span, int hi, Count count) {
  const double tol = 1e-6 * (knots[hi] - knots[lo]);
  int start = *span;
  // The search only moves upward; a start above t (or outside the vector) would end in a span
  // that does not hold t, so such a search starts again from the domain start.
  if (start < 0 || start > hi || knots[start] > t) start = lo;
  // First index in [start, hi) whose knot lies strictly above t. The knots are sorted, so
  // it is start plus the number of knots in [start, hi) at or below t: counted without
  // branches over short vectors, by bisection over long ones.
  int k = start;
  if (hi - start <= 32)
    k += count(knots, start, hi, t);
  else
    k = static_cast<int>(std::upper_bound(knots + start, knots + hi, t) - knots);
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

}  // namespace nubkernel

inline int FindLowKnotIndex(const double* knots, int lo, double t, int* span, int hi) {
  auto count = [](const double* k, int from, int to, double x) {
    int n = 0;
    for (int i = from; i < to; ++i) n += k[i] <= x;
    return n;
  };
  return nubkernel::SearchSpan(knots, lo, t, span, hi, count);
}

// Bezier control points of the curve's polynomial piece over knot span s (degree <= s < control
// count, knots[s] < knots[s+1]), homogeneous: p + 1 rows of (x w, y w, z w, w), z 0 for a 2D
// curve, w 1 when not rational. Blossoms of the span (de Boor's recursion with the span's ends
// as arguments). A curve whose structure is not sound (bsvalid) or an s outside that range leaves
// out untouched, error state -2.
void SpanBezierPoints(const Bspline* c, int s, double* out);
// The same for a piece given by its p + 1 homogeneous de Boor points d (rows of 4, those of
// indices s - p .. s) over knots k with k[s] < k[s + 1], in place: row i becomes the blossom at
// p - i arguments k[s] and i arguments k[s + 1]. Serves a surface's rows and columns alike.
void SpanBezierFromDeBoor(const double* k, int s, int p, double d[][4]);
// Bezier control points d (homogeneous rows of 4) of a polynomial piece over [lo, hi] within
// [k0, k1], whose p + 1 Bezier points over [k0, k1] are bez (as SpanBezierPoints gives them):
// de Casteljau cuts the piece at hi and the left part at lo.
void BezierSubPiece(const double* bez, int p, double k0, double k1, double lo, double hi, double d[][4]);
