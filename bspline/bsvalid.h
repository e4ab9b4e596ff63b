// What the entry points check before they trust a record handed to them: the structure its
// counts promise, knot vectors that are knot vectors, and finite coefficients. Records come
// from callers, files and the host; an operation that ran on a broken one would read outside
// its arrays or spread NaN into records it then reports as good.
#pragma once

#include <climits>
#include <cmath>
#include <initializer_list>

#include "bspline/smake.h"

// Highest degree a record may have: the evaluators' fixed-size scratch is sized from it.
inline constexpr int kMaxSplineDegree = 22;

// The counts alone, in constant time: kind 1 (curve) or 2 (surface); dimension 3, or 2 for a
// curve; degrees 0 .. kMaxSplineDegree; interior-knot counts >= 0 with control nets whose size
// fits an int. What a record being built (its arrays not yet made) must have.
inline bool BsplineCountsSound(const Bspline* b) {
  if (!b || (b->kind != 1 && b->kind != 2)) return false;
  const bool surf = b->kind == 2;
  if (b->dimension != 3 && (surf || b->dimension != 2)) return false;
  if (b->degreeU < 0 || b->degreeU > kMaxSplineDegree || b->interiorU < 0) return false;
  if (surf && (b->degreeV < 0 || b->degreeV > kMaxSplineDegree || b->interiorV < 0)) return false;
  // Counts that overflow an int would wrap every index computed from them.
  const long long nu = 1LL + b->degreeU + b->interiorU;
  const long long nv = surf ? 1LL + b->degreeV + b->interiorV : 1;
  return nu + b->degreeU + 1 <= INT_MAX && nv + b->degreeV + 1 <= INT_MAX && nu * nv <= INT_MAX;
}

// The structure, in constant time: the counts (BsplineCountsSound) and the knot vectors and
// coefficient matrices the kind, dimension and rational flag call for.
// Every evaluator checks this on every call, so it is defined here.
inline bool BsplineShapeSound(const Bspline* b) {
  if (!BsplineCountsSound(b)) return false;
  const bool surf = b->kind == 2;
  if (!b->knotsU || !b->X || !b->Y || (surf && !b->knotsV)) return false;
  if (b->dimension == 3 && !b->Z) return false;
  return !b->rational || b->W;
}

// A 3D surface record with its knot vectors and coordinate matrices, nothing more checked: what
// code working on records already checked when they came in (the heal's own copies) asks of one.
inline bool HasSurface3Arrays(const Bspline* s) {
  return s && s->kind == 2 && s->dimension == 3 && s->X && s->Y && s->Z && s->knotsU && s->knotsV;
}

// A knot vector of nCtrl + p + 1 values: all finite, never decreasing, no value more than
// p + 1 times, and a domain knots[p] .. knots[nCtrl] of positive, finite length. False for a
// null array, p < 0 or nCtrl <= p.
bool KnotVectorSound(const double* knots, int p, int nCtrl);

// The structure, every knot vector, a domain (umin .. umax, and vmin .. vmax for a surface)
// that does not run backwards, and every coefficient finite; weights of a rational record
// positive as well. Linear in the size of the record.
bool BsplineSound(const Bspline* b);

// The check an entry point runs on the records handed to it before it reads any of them: true
// when each is sound (BsplineSound), a curve in its owner's parameter plane with its owner too;
// else false with the error state -2 (a null record is refused alike). RecordShapesSound checks
// the structure alone (BsplineShapeSound), in constant time, for the operations that copy,
// reorder or free a record's values without computing with them.
bool RecordsSound(std::initializer_list<const Bspline*> records);
bool RecordShapesSound(std::initializer_list<const Bspline*> records);
// RecordsSound over the n entries of an array of records, null entries passed over (the steps
// that take arrays mark absent curves so); a null array with n > 0 is refused alike.
bool RecordArraySound(Bspline* const* records, int n);

// What a record maker hands back: its record when sound (BsplineSound), else null with the error
// state set (-2 unless a failure on the way set it), the unsound record freed. A result computed
// from finite input can still overflow; it is then no result.
Bspline* SoundRecordOrFailed(Bspline* made);

// True when all n values are finite. Every entry point runs it over whole records, so long runs
// have no branch per value: an exponent of all ones (infinity, NaN) plus one unit carries into
// the sign bit, and those carries are or-ed together, four values a step in two-lane vectors.
// A short run (a point just computed and stored value by value, which a wide load would stall
// on) is tested one value at a time.
inline bool AllFinite(const double* values, int n) {
  int i = 0;
#if defined(__GNUC__)
  if (n >= 16) {
    constexpr unsigned long long kExponent = 0x7ff0000000000000ULL;
    constexpr unsigned long long kUnit = 0x0010000000000000ULL;
    typedef unsigned long long Bits __attribute__((vector_size(16)));
    Bits lanes = {0, 0}, more = {0, 0};
    for (; i + 3 < n; i += 4) {
      Bits v, w;
      __builtin_memcpy(&v, values + i, sizeof v);
      __builtin_memcpy(&w, values + i + 2, sizeof w);
      lanes |= (v & kExponent) + kUnit;
      more |= (w & kExponent) + kUnit;
    }
    lanes |= more;
    if ((lanes[0] | lanes[1]) >> 63) return false;
  }
#endif
  for (; i < n; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}
inline bool AllFinite(std::initializer_list<double> values) {
  return AllFinite(values.begin(), static_cast<int>(values.size()));
}
