#include "bspline/subobj.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/creverse.h"
#include "bspline/crvlist.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

KnotDirection DirectionOf(const Bspline* obj, int dir) {
  KnotDirection d{};
  if (!RecordShapesSound({obj})) return d;
  const bool inV = obj->kind == 2 && dir != 0;
  d.inV = inV;
  d.p = inV ? obj->degreeV : obj->degreeU;
  d.interior = inV ? obj->interiorV : obj->interiorU;
  d.nCtrl = d.p + d.interior + 1;
  d.knots = inV ? obj->knotsV : obj->knotsU;
  d.lo = d.knots[d.p];
  d.hi = d.knots[d.nCtrl];
  return d;
}

bool HasPieceableForm(const Bspline* obj) {
  // The cuts search the knots, so the whole record is checked, not only its structure.
  if (!BsplineSound(obj)) return false;
  return obj->degreeU >= 1 && (obj->kind == 1 || obj->degreeV >= 1);
}

namespace {

// Where a cut value lands among the knots: the value itself, or the knot it lies on (the
// nearer of the span's two knots, the lower on a tie); `mult` copies of it already exist and
// `span` is the index of the last of them (or the span holding a value that is no knot). Only
// equal values are copies: the knots of a cluster beside it stay knots of their own, which the
// piece must keep on its side (counted as copies, they would leave the cut short of full
// multiplicity and the piece's indices off by them).
struct Cut {
  double value;
  int mult;
  int span;
};

Cut LocateCut(const KnotDirection& d, double t) {
  const int order = d.p + 1;
  const int nKnots = d.nCtrl + order;
  int span = d.p;
  Cut c{t, 0, 0};
  if (FindLowKnotIndex(d.knots, d.p, t, &span, d.nCtrl) == 0) {
    if (t - d.knots[span] <= d.knots[span + 1] - t) {
      c.value = d.knots[span];
      c.mult = FindMultOfValInArray(d.knots, nKnots, c.value, span, order, 0, 0.0);
    } else {
      c.value = d.knots[span + 1];
      c.mult = FindMultOfValInArray(d.knots, nKnots, c.value, span + 1, order, 1, 0.0);
      span += c.mult;
    }
  }
  c.span = span;
  return c;
}

// Round-off of a point of an object relative to its control-point diagonal and coordinates: an
// end moved onto a knot by less than this is where the caller meant it.
constexpr double kSnapRoundOff = 64.0 * std::numeric_limits<double>::epsilon();

// How far the object moves between parameters a and b of direction d, at most: the largest move
// of a control line of d (a rational line: of its point A / W), and for a rational object the
// share the changed weights of the lines give the points' convex combination across them, at
// most (largest / least ratio W(a) / W(b) - 1) times the control points' spread.
double MoveBetween(const Bspline* obj, const KnotDirection& d, double a, double b, double diagonal) {
  const int p = d.p;
  int sa = p, sb = p;
  FindLowKnotIndex(d.knots, p, a, &sa, d.nCtrl);
  FindLowKnotIndex(d.knots, p, b, &sb, d.nCtrl);
  double Na[kMaxSplineDegree + 2], Nb[kMaxSplineDegree + 2];
  ComputeNubVals(d.knots, p, a, sa, Na);
  ComputeNubVals(d.knots, p, b, sb, Nb);
  const int lines = obj->kind == 2 ? (d.inV ? NumCtrlU(obj) : NumCtrlV(obj)) : 1;
  double move = 0.0, low = kNoValue, high = 0.0;
  for (int l = 0; l < lines; ++l) {
    // Point k of line l: rows of the net are v, columns u.
    auto at = [&](double** M, int k) { return d.inV ? M[k][l] : M[l][k]; };
    double A[2][3] = {}, W[2] = {0.0, 0.0};
    for (int side = 0; side < 2; ++side) {
      const int span = side ? sb : sa;
      const double* N = side ? Nb : Na;
      for (int e = 0; e <= p; ++e) {
        const int k = span - p + e;
        const double w = obj->rational ? at(obj->W, k) : 1.0;
        A[side][0] += N[e + 1] * w * at(obj->X, k);
        A[side][1] += N[e + 1] * w * at(obj->Y, k);
        if (obj->dimension == 3) A[side][2] += N[e + 1] * w * at(obj->Z, k);
        W[side] += N[e + 1] * w;
      }
    }
    double gap[3];
    for (int c = 0; c < 3; ++c) gap[c] = A[0][c] / W[0] - A[1][c] / W[1];
    move = std::fmax(move, std::hypot(gap[0], gap[1], gap[2]));
    const double ratio = W[0] / W[1];
    low = std::fmin(low, ratio);
    high = std::fmax(high, ratio);
  }
  if (obj->rational) move += (high / low - 1.0) * diagonal;
  return std::isfinite(move) ? move : kNoValue;
}

double** Coordinate(const Bspline* b, int k) {
  switch (k) {
    case 0: return b->X;
    case 1: return b->Y;
    case 2: return b->dimension == 3 ? b->Z : nullptr;
    default: return b->rational ? b->W : nullptr;
  }
}

}  // namespace

// The piece between v0 < v1, each end not on a range end raised to full multiplicity at its
// exact value (beside other knots, which the insertion of InsertNKnotsToObject would snap it
// onto); into a copy, so that obj keeps its coefficients whatever fails. As
// ExtractParamRangeUnlessShort returns.
static int PieceCutExactly(Bspline* obj, const KnotDirection& d, double v0, double v1, bool backwards,
                           Bspline** out) {
  const int order = d.p + 1, dir = d.inV ? 1 : 0;
  if (v1 - v0 < 1e-6 * (d.hi - d.lo)) return 1;
  auto copies = [&](double v, double end) {
    return v == end ? 0 : order - int(std::count(d.knots, d.knots + d.nCtrl + order, v));
  };
  const int c0 = copies(v0, d.lo), c1 = copies(v1, d.hi);
  Bspline* work = CopyBsplineStruct(obj);
  if (!work) return -2;
  work->owner = nullptr;  // the copy sits in no list of the owner
  KnotInsertWork* w = nullptr;
  if (!InitKnotInsertionOfSound(work, dir, c0 + c1, &w)) {
    FreeBspline(work);
    return -2;
  }
  for (int k = 0; k < c0 + c1; ++k) {
    const double v = k < c0 ? v0 : v1;
    const double* U = w->knots;
    const int position = int(std::upper_bound(U, U + w->n + order, v) - U);
    if (!InsertAKnotIntoTransposedObject(dir, w, 2, v, position)) {
      Free(w);
      FreeBspline(work);
      return -2;
    }
  }
  if (!EndKnotInsertion(work, dir, w)) {
    FreeBspline(work);
    return -2;
  }
  const double* K = dir ? work->knotsV : work->knotsU;
  const int nKnots = dir ? NumKnotsV(work) : NumKnotsU(work);
  const int low = v0 == d.lo ? 0 : int(std::lower_bound(K, K + nKnots, v0) - K);
  const int high = v1 == d.hi ? nKnots - 1 : int(std::upper_bound(K, K + nKnots, v1) - K) - 1;
  Bspline* piece = ExtractKnotRange(work, dir, low, high);
  FreeBspline(work);
  if (!piece) return -2;
  piece->owner = obj->owner;
  if (backwards) ReverseDirection(piece, dir);
  *out = piece;
  return 0;
}

Bspline* ExtractKnotRange(Bspline* obj, int dir, int lowKnot, int highKnot) {
  if (!HasPieceableForm(obj)) {
    SetKernelError(-2);
    return nullptr;
  }
  const KnotDirection d = DirectionOf(obj, dir);
  const int count = highKnot - d.p - lowKnot;  // control points of the piece in dir
  if (lowKnot < 0 || highKnot > d.nCtrl + d.p || count < d.p + 1) {
    SetKernelError(-2);
    return nullptr;
  }
  TrackingScope scope;
  Bspline* b = MallocNullBspline();
  if (!b || KernelFailed()) return nullptr;
  b->kind = obj->kind;
  b->dimension = obj->dimension;
  b->rational = obj->rational;
  b->degreeU = obj->degreeU;
  b->degreeV = obj->degreeV;
  b->interiorU = obj->interiorU;
  b->interiorV = obj->interiorV;
  (d.inV ? b->interiorV : b->interiorU) = count - d.p - 1;
  if (AllocateBsplineArrays(b) < 0 || KernelFailed()) return nullptr;

  double* knots = d.inV ? b->knotsV : b->knotsU;
  std::memcpy(knots, d.knots + lowKnot, sizeof(double) * (highKnot - lowKnot + 1));
  if (obj->kind == 2) {
    if (d.inV) std::memcpy(b->knotsU, obj->knotsU, sizeof(double) * NumKnotsU(obj));
    else std::memcpy(b->knotsV, obj->knotsV, sizeof(double) * NumKnotsV(obj));
  }
  // Rows of the net are v, columns u: a cut in u takes a run of columns from every row, a cut
  // in v a run of whole rows.
  const int rows = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const int cols = NumCtrlU(obj);
  for (int k = 0; k < 4; ++k) {
    double** src = Coordinate(obj, k);
    double** dst = Coordinate(b, k);
    if (!src || !dst) continue;
    if (d.inV) {
      for (int r = 0; r < count; ++r) std::memcpy(dst[r], src[lowKnot + r], sizeof(double) * cols);
    } else {
      for (int r = 0; r < rows; ++r) std::memcpy(dst[r], src[r] + lowKnot, sizeof(double) * count);
    }
  }
  b->umin = b->knotsU[b->degreeU];
  b->umax = b->knotsU[NumCtrlU(b)];
  if (b->kind == 2) {
    b->vmin = b->knotsV[b->degreeV];
    b->vmax = b->knotsV[NumCtrlV(b)];
  }
  b->owner = obj->owner;
  scope.keep();
  return b;
}

Bspline* ExtractParamRange(Bspline* obj, int dir, double t0, double t1) {
  Bspline* piece = nullptr;
  if (ExtractParamRangeUnlessShort(obj, dir, t0, t1, &piece) == 1) SetKernelError(-9);
  return piece;
}

int ExtractParamRangeUnlessShort(Bspline* obj, int dir, double t0, double t1, Bspline** out) {
  *out = nullptr;
  if (!HasPieceableForm(obj) || std::isnan(t0) || std::isnan(t1)) {
    SetKernelError(-2);
    return -2;
  }
  const KnotDirection d = DirectionOf(obj, dir);
  const double tol = 1e-6 * (d.hi - d.lo);
  // A value beyond the range would send the span search below the first span.
  t0 = std::clamp(t0, d.lo, d.hi);
  t1 = std::clamp(t1, d.lo, d.hi);
  if (std::fabs(t0 - t1) < tol) return 1;
  const bool backwards = t1 < t0;
  if (backwards) std::swap(t0, t1);

  const int order = d.p + 1;
  // An end within tol of a knot or a range end moves onto it only where the object moves by
  // round-off there: inside a cluster of knots it may cross a long way in that stretch.
  const double diagonal = ControlPointDiagonal(obj);
  double largest = 0.0;
  for (int k = 0; k < 3; ++k) {
    double** M = Coordinate(obj, k);
    const int rows = obj->kind == 2 ? NumCtrlV(obj) : 1, cols = NumCtrlU(obj);
    if (M)
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) largest = std::fmax(largest, std::fabs(M[r][c]));
  }
  const double slack = kSnapRoundOff * (diagonal + largest);
  bool exact = false;
  auto cut = [&](double t, double end) {
    const double to = std::fabs(t - end) < tol ? end : LocateCut(d, t).value;
    if (to == t || MoveBetween(obj, d, t, to, diagonal) <= slack) return to;
    exact = true;
    return t;
  };
  const double v0 = cut(t0, d.lo), v1 = cut(t1, d.hi);
  if (exact) return PieceCutExactly(obj, d, v0, v1, backwards, out);
  const bool startAtEnd = std::fabs(t0 - d.lo) < tol;
  const bool endAtEnd = std::fabs(t1 - d.hi) < tol;
  // Once t0 has full multiplicity its first copy starts the piece; t1's last copy ends it.
  int copies0 = 0, copies1 = 0, low = 0, high = 0;
  if (!startAtEnd) {
    const Cut c = LocateCut(d, t0);
    t0 = c.value;
    copies0 = order - c.mult;
    low = c.span - c.mult + 1;
  }
  if (endAtEnd) {
    high = copies0 + 2 * d.p + d.interior + 1;
  } else {
    const Cut c = LocateCut(d, t1);
    t1 = c.value;
    copies1 = order - c.mult;
    high = copies0 + copies1 + c.span;
  }
  // Both ends may have moved onto one knot.
  if (t1 - t0 < tol) return 1;

  // The knots go into a copy: the object itself keeps its exact coefficients, also when a
  // later step fails.
  Bspline* work = nullptr;
  if (copies0 + copies1 > 0) {
    work = CopyBsplineStruct(obj);
    if (!work) return -2;
    std::array<double, 2 * (kMaxSplineDegree + 1)> values{};
    for (int i = 0; i < copies0; ++i) values[i] = t0;
    for (int i = 0; i < copies1; ++i) values[copies0 + i] = t1;
    InsertNKnotsToObject(1, copies0 + copies1, dir, work, 2, values.data());
    if (KernelFailed()) {
      FreeBspline(work);
      return -2;
    }
  }
  Bspline* piece = ExtractKnotRange(work ? work : obj, dir, low, high);
  if (work) {
    work->owner = nullptr;  // the copy sits in no list of the owner
    FreeBspline(work);
  }
  if (!piece) return -2;
  piece->owner = obj->owner;
  if (startAtEnd && endAtEnd) {
    if (d.inV) piece->closedV = obj->closedV;
    else piece->closedU = obj->closedU;
  }
  if (backwards) ReverseDirection(piece, d.inV ? 1 : 0);
  *out = piece;
  return 0;
}

void ReverseDirection(Bspline* obj, int dir) {
  if (!RecordShapesSound({obj})) return;
  if (obj->kind != 2) {
    reverseBspline(obj);
    return;
  }
  const bool inV = dir != 0;
  double* t = inV ? obj->knotsV : obj->knotsU;
  const int n = inV ? NumKnotsV(obj) : NumKnotsU(obj);
  const double c = t[0] + t[n - 1];
  const int cols = NumCtrlU(obj), rows = NumCtrlV(obj);
  // Rows of the net are v: reversing u reverses every row, reversing v the order of the rows.
  for (double** M : {obj->X, obj->Y, obj->Z, obj->rational ? obj->W : nullptr})
    if (M) FlipMatrix(M[0], cols, rows, inV ? 1 : 0);
  std::reverse(t, t + n);
  for (int i = 0; i < n; ++i) t[i] = c - t[i];
  SpreadOverfullKnotRuns(obj, inV ? 1 : 0);
  SetDomainFromKnots(obj, inV ? 1 : 0);
  ReverseCurveListCoefi(obj->curves, c, inV ? 1 : 0);
}

int ClampWrappedDirection(Bspline* obj, int dir, int average) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) return -2;
  if (obj->kind == 1 && dir != 0) return 0;
  const bool inV = obj->kind == 2 && dir != 0;
  const int p = inV ? obj->degreeV : obj->degreeU;
  const int n = inV ? NumCtrlV(obj) : NumCtrlU(obj);
  const double* K = inV ? obj->knotsV : obj->knotsU;
  if (!K || p < 1) return -2;
  bool startClamped = true, endClamped = true;
  for (int i = 1; i <= p; ++i) startClamped = startClamped && K[i] == K[0];
  for (int i = n + 1; i <= n + p; ++i) endClamped = endClamped && K[i] == K[n];
  if (startClamped && endClamped) return 0;

  // The domain ends at full multiplicity split the net at them; the middle part is the object
  // on its domain, a piece like any other sub-object.
  double ends[2] = {K[p], K[n]};
  Bspline* work = CopyBsplineStruct(obj);
  if (!work) return -2;
  InsertNKnotsToObject(-1, 2, inV ? 1 : 0, work, 2, ends);
  if (KernelFailed()) {
    FreeBspline(work);
    return -2;
  }
  const double* R = inV ? work->knotsV : work->knotsU;
  const int nR = (inV ? NumKnotsV(work) : NumKnotsU(work));
  // The first copy of the start knot and the first copy of the end knot in the refined vector:
  // the insertion wrote back the values it gave full multiplicity, so they are found exactly; a
  // knot beside an end, however close, is not one of its copies.
  int first = 0;
  while (first < nR && R[first] < ends[0]) ++first;
  int last = first;
  while (last < nR && R[last] < ends[1]) ++last;
  Bspline* piece = ExtractKnotRange(work, inV ? 1 : 0, first, last + p);
  work->owner = nullptr;
  FreeBspline(work);
  if (!piece) return -2;

  // Hand the new knots and coefficients to obj; the piece takes obj's old ones to the grave.
  SwapKnotsAndNet(obj, piece);
  SetDomainFromKnots(obj, inV ? 1 : 0);
  piece->owner = nullptr;
  FreeBspline(piece);

  if (average) {
    const int cols = NumCtrlU(obj), rows = obj->kind == 2 ? NumCtrlV(obj) : 1;
    const int lines = inV ? cols : rows, count = inV ? rows : cols;
    for (double** M : {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr}) {
      if (!M) continue;
      for (int l = 0; l < lines; ++l) {
        double& a = inV ? M[0][l] : M[l][0];
        double& b = inV ? M[count - 1][l] : M[l][count - 1];
        a = b = 0.5 * (a + b);
      }
    }
  }
  return 8;
}
