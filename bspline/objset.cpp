#include "bspline/objset.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/degelev.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/kremove_internal.h"
#include "bspline/knots.h"
#include "bspline/measure.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// Share of a pair's size below which a control polygon's length is no length.
constexpr double kNoSpanShare = 1e-9;

// The object's point at (u, v) in 3D (a curve at u; a 2D curve through its owner, or its
// (u, v) with z 0 without one). False for a curve of another dimension.
bool BoundaryPoint(const Bspline* obj, double u, double v, double out[3]) {
  if (obj->kind == 2) {
    Eval3DPointOnSurfArray(obj, u, v, 0, 0, out);
  } else if (obj->dimension == 3) {
    Eval3DPointOnCurve3Array(obj, u, 0, out);
  } else if (obj->dimension == 2 && obj->owner) {
    Eval3DPointOnBsplOnSurfArray(obj->owner, obj, u, 0, 0, out);
  } else if (obj->dimension == 2) {
    Eval2DPointOnCurve2Array(nullptr, obj, u, 0, out);
    out[2] = 0.0;
  } else {
    return false;
  }
  return true;
}

}  // namespace

void ObjectBoundaryEnds(const Bspline* obj, int bndry, double start[3], double end[3],
                        int avoidDegenerate) {
  const double u0 = obj->umin, u1 = obj->umax, v0 = obj->vmin, v1 = obj->vmax;
  // (u, v) of the start and the end, and of the point 5% along the boundary.
  double s[2] = {u0, v0}, e[2] = {u1, v0}, f[2] = {u0 + 0.05 * (u1 - u0), v0};
  if (obj->kind == 2) {
    switch (bndry) {
      case 0:
        e[0] = u0, e[1] = v1, f[0] = u0, f[1] = v0 + 0.05 * (v1 - v0);
        break;
      case 1:
        s[1] = v1, e[1] = v1, f[1] = v1;
        break;
      case 2:
        s[0] = u1, e[0] = u1, e[1] = v1, f[0] = u1, f[1] = v0 + 0.05 * (v1 - v0);
        break;
      default:  // 3; other indices read as the v-minimum side
        break;
    }
  }
  double a[3], b[3];
  if (!BoundaryPoint(obj, s[0], s[1], a) || !BoundaryPoint(obj, e[0], e[1], b)) return;
  // The tolerance is the single-precision 0.001 of the old interface.
  if (avoidDegenerate && IsEqualVectors(a, b, 3, static_cast<double>(0.001f)))
    BoundaryPoint(obj, f[0], f[1], b);
  for (int k = 0; k < 3; ++k) {
    start[k] = a[k];
    end[k] = b[k];
  }
}

void ObjectBoundaryVector(const Bspline* obj, int bndry, double vec[3]) {
  double a[3] = {0.0, 0.0, 0.0}, b[3] = {0.0, 0.0, 0.0};
  ObjectBoundaryEnds(obj, bndry, a, b, 1);
  for (int k = 0; k < 3; ++k) vec[k] = b[k] - a[k];
}

namespace {

// The knot vector of the object's direction and its length.
double* DirKnots(Bspline* obj, bool inV, int* count) {
  if (inV) {
    *count = NumKnotsV(obj);
    return obj->knotsV;
  }
  *count = NumKnotsU(obj);
  return obj->knotsU;
}

// Knots of one direction closer than this share of its range are merged by the cleaning
// (CleanBsplineKnots) before a set is made compatible.
constexpr double kMergeShare = 1e-6;

// Last index of the value t in the knot vector U of nk values (-1 when absent).
int LastIndexOf(const double* U, int nk, double t) {
  for (int i = nk - 1; i >= 0; --i)
    if (U[i] == t) return i;
  return -1;
}

// Largest distance between control lines i and j of direction dir (a curve's points i and j),
// weights apart counting as a line apart.
double ControlLineGap(const Bspline* obj, int dir, int i, int j) {
  const bool surf = obj->kind == 2;
  const int lines = !surf ? 1 : dir ? NumCtrlU(obj) : NumCtrlV(obj);
  double gap = 0.0;
  for (int l = 0; l < lines; ++l) {
    // rows are v, columns are u: line i of u is column i, of v row i
    const int ri = !surf ? 0 : dir ? i : l, ci = !surf ? i : dir ? l : i;
    const int rj = !surf ? 0 : dir ? j : l, cj = !surf ? j : dir ? l : j;
    const double z = obj->Z ? obj->Z[ri][ci] - obj->Z[rj][cj] : 0.0;
    gap = std::max(gap, std::hypot(obj->X[ri][ci] - obj->X[rj][cj], obj->Y[ri][ci] - obj->Y[rj][cj], z));
    if (obj->rational && obj->W[ri][ci] != obj->W[rj][cj]) return INFINITY;
  }
  return gap;
}

// The cleaning merges knots closer than kMergeShare of the range and deletes one control line
// for each copy beyond p (and for each interior knot merged into a range end) without
// recomputing any: the curve then moves by as much as those lines stand out, a fifth of its
// size for a cubic's triple knot beside a knot 1e-9 away. Such a stretch [lo, hi] is collapsed
// here instead, so that the cleaning only has knots to move: lo and hi are raised to
// multiplicity p by knot insertion (the shape unchanged), which leaves the stretch between
// them its own control lines from the line through the point at lo to the line through the
// point at hi; those become one line (the two points' mean inside the range, the end's own
// point at a range end) and the stretch's knots all but lo's copies (hi's at the range end)
// go. The shape moves by no more than the stretch's extent, which must be within kMergeShare
// of the object's size (what moving a knot by that share of the range costs). 0, or -2 with the
// error state set: a stretch that the curve runs along too far to be collapsed (the knots it
// lacked to collapse it inserted), a break of p + 1 equal knots inside a cluster, memory.
int CollapseStretchesTheMergeWouldDrop(Bspline* obj, int dir) {
  // Each pass collapses one stretch and so deletes at least one control line.
  for (int pass = 0, passes = (dir ? obj->interiorV : obj->interiorU) + 1; pass < passes; ++pass) {
    const int p = dir ? obj->degreeV : obj->degreeU;
    const int interior = dir ? obj->interiorV : obj->interiorU;
    const int n = dir ? NumCtrlV(obj) : NumCtrlU(obj);
    double* U = dir ? obj->knotsV : obj->knotsU;
    if (interior < 1) return 0;
    TrackingScope scope;
    auto* a = MallocArray<double>(interior + 2);
    if (!a || KernelFailed()) return -2;
    a[0] = U[p];
    for (int i = 1; i <= interior; ++i) a[i] = U[p + i];
    a[interior + 1] = U[n];
    const double range = dir ? obj->vmax - obj->vmin : obj->umax - obj->umin;
    if (PutCloseValToSameVal(a, interior + 2, 1, range * kMergeShare) != 1) return 0;
    // The first group of equal merged values holding a copy the cleaning would drop: a run
    // beyond p copies, or an interior knot merged into a range end (as MarkMergeDrops marks).
    // A break of p + 1 equal knots whose two lines are one (as full-multiplicity insertion
    // leaves them) loses one of them at no cost, and is passed over.
    const double size = ControlPointDiagonal(obj);
    int g0 = -1, g1 = -1;
    for (int i = 1, run = 0; i <= interior && g0 < 0; ++i) {
      run = a[i] == a[i - 1] ? run + 1 : 1;
      if (a[i] != a[0] && a[i] != a[interior + 1] && run <= p) continue;
      g0 = i;
      while (g0 > 0 && a[g0 - 1] == a[i]) --g0;
      g1 = i;
      while (g1 <= interior && a[g1 + 1] == a[i]) ++g1;
      if (g0 > 0 && g1 <= interior && U[p + g0] == U[p + g1] &&
          ControlLineGap(obj, dir, p + g0 - 1, p + g0) <= kMergeShare * size) {
        i = g1;
        g0 = -1;
      }
    }
    if (g0 < 0) return 0;
    const bool atStart = g0 == 0, atEnd = g1 == interior + 1;
    const double lo = atStart ? U[p] : U[p + g0];
    const double hi = atEnd ? U[n] : U[p + g1];
    if (!(lo < hi) || (atStart && atEnd)) {
      SetKernelError(-2);
      return -2;
    }
    for (double t : {lo, hi}) {
      if ((t == lo && atStart) || (t == hi && atEnd)) continue;
      const int last = LastIndexOf(U, (dir ? NumKnotsV(obj) : NumKnotsU(obj)), t);
      int m = 0;
      while (last - m >= 0 && U[last - m] == t) ++m;
      double value = t;
      if (m < p) InsertNKnotsToObject(p - m, 1, dir, obj, 2, &value);
      if (KernelFailed()) return -2;
      U = dir ? obj->knotsV : obj->knotsU;
    }
    const int nNow = dir ? NumCtrlV(obj) : NumCtrlU(obj);
    const int nk = nNow + p + 1;
    // lo's last p copies start at sLo and the curve passes through line sLo - 1 there; hi's
    // first p copies start at sHi, through line sHi - 1.
    const int sLo = LastIndexOf(U, nk, lo) - p + 1;
    int sHi = LastIndexOf(U, nk, hi);
    while (sHi > 0 && U[sHi - 1] == hi) --sHi;
    const int drop = sHi - sLo;
    if (sLo < 1 || drop < 1 || nNow - drop < p + 1) {
      SetKernelError(-2);
      return -2;
    }
    KnotInsertWork* w = nullptr;
    if (!InitKnotInsertion(obj, dir, 0, &w)) return -2;
    // The stretch lies in the hull of its control points: their distances from its two end
    // points bound the move.
    double move = 0.0;
    for (int l = 0; l < w->lines; ++l) {
      auto at = [&](int i, double q[3]) {
        const double* row[4];
        for (int k = 0; k < 4; ++k) row[k] = w->c[k] ? w->c[k] + std::size_t(l) * nNow : nullptr;
        const double h = w->rational == 1 ? row[3][i] : 1.0;
        for (int k = 0; k < 3; ++k) q[k] = row[k] ? row[k][i] / h : 0.0;
      };
      double qa[3], qb[3], q[3];
      at(sLo - 1, qa);
      at(sHi - 1, qb);
      for (int i = sLo - 1; i < sHi; ++i) {
        at(i, q);
        move = std::max({move, std::hypot(q[0] - qa[0], q[1] - qa[1], q[2] - qa[2]),
                         std::hypot(q[0] - qb[0], q[1] - qb[1], q[2] - qb[2])});
      }
    }
    if (!(move <= kMergeShare * ControlPointDiagonal(obj))) {
      Free(w);
      SetKernelError(-2);
      return -2;
    }
    for (int k = 0; k < 4; ++k) {
      double* c = w->c[k];
      if (!c) continue;
      for (int l = 0; l < w->lines; ++l) {
        const double* src = c + std::size_t(l) * nNow;
        double* dst = c + std::size_t(l) * (nNow - drop);
        const double keep = atStart ? src[sLo - 1] : atEnd ? src[sHi - 1] : 0.5 * (src[sLo - 1] + src[sHi - 1]);
        // Lines are compacted in order, so each moves down over ground already read.
        for (int i = 0, o = 0; i < nNow; ++i)
          if (i < sLo || i >= sHi) dst[o++] = i == sLo - 1 ? keep : src[i];
      }
    }
    // The stretch's knots go, lo's copies kept (at the range end hi's, which end the vector).
    const int cut = atEnd ? sLo : sLo + p;
    for (int i = cut; i + drop < nk; ++i) w->knots[i] = w->knots[i + drop];
    w->n = nNow - drop;
    w->interior = w->n - p - 1;
    if (!EndKnotInsertion(obj, dir, w)) return -2;
  }
  return 0;
}

}  // namespace

void MapDirectionOntoUnitRange(Bspline* obj, int dir, int scaleOther) {
  if (!RecordShapesSound({obj})) return;
  const bool v = obj->kind == 2 && dir != 0;
  int c;
  double* k = DirKnots(obj, v, &c);
  // Already on [0, 1] exactly: untouched, so such a set keeps its ranges bit for bit. A vector
  // without range has no map onto [0, 1]; it is left for the caller's checks.
  if ((k[0] == 0.0 && k[c - 1] == 1.0) || !(k[c - 1] > k[0])) return;
  const double first = k[0];
  const double s = NormalizeKnots(k, c);
  const double shift = -first * s;
  SpreadOverfullKnotRuns(obj, v ? 1 : 0);
  if (obj->kind != 2) {
    obj->umin = 0.0;
    obj->umax = 1.0;
    return;
  }
  PropotionCurveListCoefi(obj->curves, s, shift, v ? 1 : 0);
  SetDomainFromKnots(obj, v ? 1 : 0);
  if (!scaleOther) return;
  int co;
  double* ko = DirKnots(obj, !v, &co);
  for (int j = 0; j < co; ++j) ko[j] *= s;
  SpreadOverfullKnotRuns(obj, v ? 0 : 1);
  PropotionCurveListCoefi(obj->curves, s, 0.0, v ? 0 : 1);
  SetDomainFromKnots(obj, v ? 0 : 1);
}

void MakeKnotVectorsCompatible(Bspline** objs, const int* dirs, int n, int scaleOther) {
  if (!objs || n < 1) return;
  auto inV = [&](int i) { return objs[i]->kind == 2 && dirs && dirs[i] != 0; };
  Owned<double, Free> merged(MallocArray<double>(n));  // how far each object's own merge moved it
  if (!merged || KernelFailed()) return;

  for (int i = 0; i < n; ++i) {
    Bspline* obj = objs[i];
    for (int d = obj->kind == 2 ? 1 : 0; d >= 0 && !KernelFailed(); --d)
      if (BsplineSound(obj)) CollapseStretchesTheMergeWouldDrop(obj, d);
    if (KernelFailed()) return;
    // Moving a knot by kMergeShare of the range moves an object of ordinary speed by about that
    // share of its size. One that runs far faster across a cluster (a rational object whose
    // weights spread widely: 0.4 of its size for a cubic's three knots within 3e-9 under weights
    // 1e-4 .. 1e4) would be bent by the merge, and the set is refused instead, as for a stretch
    // it runs along too far. Copies the merge deletes are the collapse's, measured there.
    merged[i] = 0.0;
    for (int d = 0; d < (obj->kind == 2 ? 2 : 1) && BsplineSound(obj); ++d) {
      const double range = d ? obj->vmax - obj->vmin : obj->umax - obj->umin;
      double move = 0.0;
      const int measured = KnotMergeMove(obj, d, range * kMergeShare, &move);
      if (measured < 0 && !KernelFailed()) SetOutOfMemory();
      if (KernelFailed()) return;
      if (measured == 0 && !(move <= kMergeShare * ControlPointDiagonal(obj))) return SetKernelError(-2);
      if (measured == 0) merged[i] += move;
    }
    // A knot vector without range cannot be mapped onto [0, 1].
    if (CleanBsplineKnots(obj, kMergeShare) < 0 && !KernelFailed()) SetKernelError(-2);
    if (KernelFailed()) return;
    MapDirectionOntoUnitRange(obj, inV(i) ? 1 : 0, scaleOther);
  }

  // Fold every vector into one union; each value keeps its largest multiplicity.
  double* U = nullptr;
  int nU = 0;
  {
    int c;
    const double* k = DirKnots(objs[0], inV(0), &c);
    MergeKnotVectors(k, c, nullptr, 0, &U, &nU);
    if (!U || KernelFailed()) return;
  }
  for (int i = 1; i < n; ++i) {
    int c;
    const double* k = DirKnots(objs[i], inV(i), &c);
    double* next = nullptr;
    MergeKnotVectors(U, nU, k, c, &next, &nU);
    Free(U);
    U = next;
    if (!U || KernelFailed()) {
      Free(U);
      return;
    }
  }

  // A knot of one object within the merge share of another's takes the union's value, the
  // same merge across the set: what it moves each object adds to its own merge's move, and the
  // set is refused where the two together pass the share of the object's size.
  for (int i = 0; i < n; ++i) {
    const bool v = inV(i);
    int c;
    const double* k = DirKnots(objs[i], v, &c);
    Owned<double, Free> snapped(MallocArray<double>(c));
    if (!snapped || KernelFailed()) {
      Free(U);
      return;
    }
    std::copy_n(k, c, snapped.get());
    double* add = nullptr;
    int nAdd = 0;
    const bool found = KnotsOfBNotInA(snapped.get(), c, U, nU, &add, &nAdd, snapped.get()) >= 0;
    Free(add);
    double move = 0.0;
    if (!found || KnotVectorChangeMove(objs[i], v ? 1 : 0, snapped.get(), &move) < 0) {
      if (!KernelFailed()) SetOutOfMemory();
      Free(U);
      return;
    }
    if (!(merged[i] + move <= kMergeShare * ControlPointDiagonal(objs[i]))) {
      Free(U);
      return SetKernelError(-2);
    }
  }

  for (int i = 0; i < n; ++i) {
    const bool v = inV(i);
    int c;
    double* k = DirKnots(objs[i], v, &c);
    double* add = nullptr;
    int nAdd = 0;
    if (KnotsOfBNotInA(k, c, U, nU, &add, &nAdd, k) < 0) {
      Free(add);
      Free(U);
      return;
    }
    if (nAdd > 0) InsertNKnotsToObject(1, nAdd, v ? 1 : 0, objs[i], 2, add);
    Free(add);
    if (KernelFailed()) {
      Free(U);
      return;
    }
    k = DirKnots(objs[i], v, &c);
    // A vector that did not reach the union's length cannot take it without overrunning.
    if (c != nU) {
      SetKernelError(-2);
      Free(U);
      return;
    }
    for (int j = 0; j < c; ++j) k[j] = U[j];
    SetDomainFromKnots(objs[i], v ? 1 : 0);
  }
  Free(U);
}

// ---- Directions, degrees and rationality of object sets ----------------------------------

int MatchBoundaryDirections(Bspline** objs, int* bndry, int n) {
  if (n < 2) return 0;
  if (!objs) return -2;
  TrackingScope scope;
  int* sign = MallocArray<int>(n);
  if (!sign || KernelFailed()) return -2;
  auto side = [&](int i) { return bndry ? bndry[i] : 0; };
  double prev[3], cur[3];
  ObjectBoundaryVector(objs[0], side(0), prev);
  sign[0] = 1;
  int s = 1, plus = 1;
  // Neighbours are compared, not each with the first: the signs chain along the set.
  for (int i = 1; i < n; ++i) {
    ObjectBoundaryVector(objs[i], side(i), cur);
    if (VecDotProd3(prev, cur) < 0.0) s = -s;
    sign[i] = s;
    if (s > 0) ++plus;
    for (int k = 0; k < 3; ++k) prev[k] = cur[k];
  }
  // The smaller group turns; on a tie, the objects that run against the first.
  const int turn = n - plus <= plus ? -1 : 1;
  int reversed = 0;
  for (int i = 0; i < n; ++i) {
    if (sign[i] != turn) continue;
    const int b = side(i);
    ReverseDirection(objs[i], !bndry || b == 0 || b == 2 ? 1 : 0);
    if (KernelFailed()) return -2;
    ++reversed;
  }
  return reversed;
}

void RaiseToCommonDegree(Bspline** objs, int* dirs, int n) {
  if (!objs || n < 2) return;
  int target = -1;
  for (int i = 0; i < n; ++i) {
    const Bspline* o = objs[i];
    const int d = o->kind == 2 && dirs && dirs[i] != 0 ? o->degreeV : o->degreeU;
    target = std::max(target, d);
  }
  ElevateDegreeOfObjSet(target, dirs, objs, n);
}

void MakeObjectsRational(Bspline** objs, int n) {
  if (!objs) return;
  for (int i = 0; i < n; ++i) {
    Bspline* o = objs[i];
    if (!o || o->rational) continue;
    const int rows = o->kind == 2 ? NumCtrlV(o) : 1, cols = NumCtrlU(o);
    double** W;
    {
      UntrackedScope own;  // the weights belong to the record
      W = allocate_matrix_fh(rows, cols);
    }
    if (!W || KernelFailed()) {
      if (W) matrix_free_fh(W);
      return;
    }
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) W[r][c] = 1.0;
    o->W = W;
    o->rational = 1;
  }
}

void MatchRationality(Bspline** objs, int n) {
  if (!objs || n < 2) return;
  for (int i = 0; i < n; ++i) {
    if (objs[i] && objs[i]->rational) {
      MakeObjectsRational(objs, n);
      return;
    }
  }
}

double ControlNetSpan(const Bspline* obj, int dir) {
  if (!RecordShapesSound({obj})) return 0.0;
  const bool inV = obj->kind == 2 && dir != 0;
  const int nu = NumCtrlU(obj), nv = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const int lines = inV ? nu : nv, points = inV ? nv : nu;
  double** M[3] = {obj->X, obj->Y, obj->dimension == 3 ? obj->Z : nullptr};
  double total = 0.0;
  for (int l = 0; l < lines; ++l) {
    for (int i = 1; i < points; ++i) {
      double d2 = 0.0;
      for (double** m : M) {
        if (!m) continue;
        const double d = inV ? m[i][l] - m[i - 1][l] : m[l][i] - m[l][i - 1];
        d2 += d * d;
      }
      total += std::sqrt(d2);
    }
  }
  return total / lines;
}

int ProportionPairParams(Bspline** pair, const int* dirs, int join, int keepOther, int shiftOnly) {
  if (!pair || !RecordsSound({pair[0], pair[1]})) return -2;
  Bspline* A = pair[0];
  Bspline* B = pair[1];
  if (A == B && A->kind == 1) return -1;
  const int dA = dirs ? dirs[0] : 0, dB = dirs ? dirs[1] : 0;
  const KnotDirection a = DirectionOf(A, dA), b = DirectionOf(B, dB);
  const double eA = a.knots[a.p + a.interior + 1];
  const double rA = eA - a.knots[a.p];
  const double rB = b.knots[b.p + b.interior + 1] - b.knots[b.p];
  const double sA = ControlNetSpan(A, dA), sB = ControlNetSpan(B, dB);
  // A polygon of no length (a collapsed side, within round-off of the pair's size) has no speed
  // to match; an absolute floor would take every pair below it for one.
  const double none = kNoSpanShare * ControlPointSetDiagonal(pair, 2);
  double k = sA > none && sB > none ? (sB / rB) / (sA / rA) : 1.0;
  if (shiftOnly || !std::isfinite(k) || k <= 0.0) k = 1.0;
  double* kB = b.knots;
  const int nKnots = b.nCtrl + b.p + 1;
  double scale = 1.0, shift = 0.0;
  const bool scaled = std::fabs(k - 1.0) >= 0.1;
  if (!scaled && !join) return -1;
  if (join) {
    scale = scaled ? k : 1.0;
    shift = eA - kB[0] * scale;
    for (int j = b.p + 1; j < nKnots; ++j) kB[j] = kB[j] * scale + shift;
    for (int j = 0; j <= b.p; ++j) kB[j] = eA;
  } else {
    scale = k;
    for (int j = 0; j < nKnots; ++j) kB[j] *= k;
  }
  if (B->kind == 1) {
    SetDomainFromKnots(B, 0);
    return 0;
  }
  PropotionCurveListCoefi(B->curves, scale, shift, b.inV ? 1 : 0);
  SetDomainFromKnots(B, b.inV ? 1 : 0);
  if (scaled && B != A && !keepOther) {
    const KnotDirection o = DirectionOf(B, b.inV ? 0 : 1);
    for (int j = 0; j < o.nCtrl + o.p + 1; ++j) o.knots[j] *= k;
    PropotionCurveListCoefi(B->curves, k, 0.0, o.inV ? 1 : 0);
    SetDomainFromKnots(B, o.inV ? 1 : 0);
  }
  return 0;
}
