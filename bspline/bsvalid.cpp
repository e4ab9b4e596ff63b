#include "bspline/bsvalid.h"

#include <cmath>

#include "bspline/sfree.h"
#include "foundation/coreglob.h"


namespace {

// KnotVectorSound's test, inlined into the record check, which runs on every entry.
[[gnu::always_inline]] inline bool KnotsSound(const double* knots, int p, int nCtrl) {
  const int count = nCtrl + p + 1;
  // Never decreasing, where a NaN fails the comparison on either side; a sorted vector whose
  // two ends are finite is finite throughout, so no pass of its own tests finiteness. Then
  // more than p + 1 copies of a value, which leave a basis function without support, show as
  // a knot equal to the one p + 1 places before it.
  if (count < 2 || !std::isfinite(knots[0]) || !std::isfinite(knots[count - 1])) return false;
  long long bad = 0;
  // knots[i] against knots[i - gap] for i = from .. count - 1: not at least (gap 1) or equal
  // (gap p + 1).
  auto compare = [&](int from, int gap, bool equal) {
    int i = from;
#if defined(__GNUC__)
    // Two comparisons at a time in the lanes of a vector (a true lane is all ones).
    typedef double Pair __attribute__((vector_size(16)));
    typedef long long Mask __attribute__((vector_size(16)));
    Mask lanes = {0, 0};
    for (; i + 1 < count; i += 2) {
      const Pair here = {knots[i], knots[i + 1]}, there = {knots[i - gap], knots[i + 1 - gap]};
      lanes |= equal ? here == there : ~(here >= there);
    }
    bad |= lanes[0] | lanes[1];
#endif
    for (; i < count; ++i) bad |= equal ? knots[i] == knots[i - gap] : !(knots[i] >= knots[i - gap]);
  };
  compare(1, 1, false);
  compare(p + 1, p + 1, true);
  if (bad) return false;
  const double length = knots[nCtrl] - knots[p];
  return length > 0.0 && std::isfinite(length);
}

}  // namespace

bool KnotVectorSound(const double* knots, int p, int nCtrl) {
  return knots && p >= 0 && nCtrl > p && KnotsSound(knots, p, nCtrl);
}

bool BsplineSound(const Bspline* b) {
  if (!BsplineShapeSound(b)) return false;
  const bool surf = b->kind == 2;
  // The domain the searches clamp parameters into runs upwards, or a search over it would step
  // away from its end for ever.
  if (!(b->umin <= b->umax) || (surf && !(b->vmin <= b->vmax))) return false;
  const int nu = NumCtrlU(b), nv = surf ? NumCtrlV(b) : 1;
  if (!KnotsSound(b->knotsU, b->degreeU, nu)) return false;
  if (surf && !KnotsSound(b->knotsV, b->degreeV, nv)) return false;
  double** const coefficients[4] = {b->X, b->Y, b->dimension == 3 ? b->Z : nullptr,
                                    b->rational ? b->W : nullptr};
  for (double** m : coefficients) {
    if (!m) continue;
    // Rows one after another in one block (as the kernel makes them) are checked in one run.
    bool contiguous = true;
    for (int j = 1; j < nv && contiguous; ++j)
      contiguous = m[j] == m[0] + static_cast<long long>(j) * nu;
    if (contiguous) {
      if (!AllFinite(m[0], nu * nv)) return false;
      continue;
    }
    for (int j = 0; j < nv; ++j)
      if (!AllFinite(m[j], nu)) return false;
  }
  if (b->rational) {
    // One running flag instead of a branch per weight, so the test runs in vector lanes.
    bool positive = true;
    for (int j = 0; j < nv; ++j) {
      const double* w = b->W[j];
      for (int i = 0; i < nu; ++i) positive &= w[i] > 0.0;
    }
    if (!positive) return false;
  }
  return true;
}

namespace {

bool Refused() {
  SetKernelError(-2);
  return false;
}

}  // namespace

bool RecordsSound(std::initializer_list<const Bspline*> records) {
  for (const Bspline* b : records) {
    if (!BsplineSound(b)) return Refused();
    if (b->kind == 1 && b->dimension == 2 && b->owner && !BsplineSound(b->owner)) return Refused();
  }
  return true;
}

bool RecordArraySound(Bspline* const* records, int n) {
  if (n > 0 && !records) return Refused();
  for (int i = 0; i < n; ++i)
    if (records[i] && !RecordsSound({records[i]})) return false;
  return true;
}

bool RecordShapesSound(std::initializer_list<const Bspline*> records) {
  for (const Bspline* b : records)
    if (!BsplineShapeSound(b)) return Refused();
  return true;
}

Bspline* SoundRecordOrFailed(Bspline* made) {
  if (made && !BsplineSound(made)) {
    FreeBspline(made);
    made = nullptr;
  }
  return MadeOrFailed(made);
}
