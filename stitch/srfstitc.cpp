#include "stitch/srfstitc.h"

#include <cmath>
#include <utility>

#include "bspline/kinsert.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "stitch/srfcont.h"
#include "stitch/vcnobj.h"

namespace {

// Knots moved by less than this along the seam, or to within it of a range end, stay where they
// were: such a move would only make a sliver span. The parameters are on [0, 1] by then.
constexpr double kKnotMoveTol = 1e-4;
// The range fractions and knot comparisons of the range adjustment work on this grain.
constexpr double kRangeTol = 0.001;

}  // namespace

void ReparametrizeSurf(Bspline** objs, const int* bndry, const int* along, int scaleOther,
                       const StitchInfo* info) {
  if (objs[0]->kind != 2 || objs[1]->kind != 2) return;
  int r = 0, t = 1;
  if ((info->continuity != 0 && info->derivativeSide == 0) ||
      (info->continuity == 0 && info->positionSide == 1))
    std::swap(r, t);
  Bspline* R = objs[r];
  Bspline* T = objs[t];
  MapDirectionOntoUnitRange(R, along[r], scaleOther);
  MapDirectionOntoUnitRange(T, along[t], scaleOther);

  const KnotDirection d = DirectionOf(T, along[t]);
  const int m = d.interior;
  if (m <= 0) return;
  const double pR = GetParValOfBndry(R, bndry[r]);
  const double pT = GetParValOfBndry(T, bndry[t]);

  TrackingScope scope;
  double* saved = MallocArray<double>(m);
  double* fixed = MallocArray<double>(m);
  double* params = MallocArray<double>(m);
  auto* points = MallocArray<double[3]>(m);
  if (!saved || !fixed || !params || !points) return;
  double* knots = d.knots + d.p + 1;  // the m interior knots
  for (int i = 0; i < m; ++i) saved[i] = knots[i], fixed[i] = pT, params[i] = knots[i];
  // along nonzero: the boundary runs in v, so u is the fixed parameter.
  if (d.inV)
    EvalNpntsOnObj2(T, 0, 0, fixed, saved, m, points);
  else
    EvalNpntsOnObj2(T, 0, 0, saved, fixed, m, points);
  const int alongR = R->kind == 2 && along[r] != 0;
  GetClosestPointsOnCrvOnSrf(points, m, R, pR, alongR, params, nullptr);
  if (KernelFailed()) return;

  for (int i = 0; i < m; ++i) {
    const double v = params[i];
    const bool keep = !std::isfinite(v) || std::fabs(v - d.lo) <= kKnotMoveTol ||
                      std::fabs(v - d.hi) <= kKnotMoveTol ||
                      std::fabs(v - saved[i]) <= kKnotMoveTol || v < d.lo || v > d.hi;
    knots[i] = keep ? saved[i] : v;
  }
  HeapSort(m, knots);

  int* mults = nullptr;
  double* distinct = nullptr;
  const int nd = GetDistinctKnots(T, along[t], &mults, &distinct, 1e-6);
  bool tooHigh = nd < 0;
  for (int i = 0; i < nd; ++i) tooHigh = tooHigh || mults[i] > d.p;
  // A multiplicity above the degree would break the surface apart: undo every move.
  if (tooHigh)
    for (int i = 0; i < m; ++i) knots[i] = saved[i];
}

void KnotInsertForRangeAdjust(Bspline** objs, const int* across, const StitchInfo* info,
                              SpreadRecord** spread) {
  *spread = nullptr;
  Bspline* A = objs[0];
  Bspline* B = objs[1];
  const int c = info->continuity;
  const double f1 = info->rangeFraction1, f2 = info->rangeFraction2;
  const double e = kRangeTol;

  KnotDirection a = DirectionOf(A, across[0]);
  const int p = a.p, nA = a.interior, E = p + nA + 1;
  const double* k = a.knots;
  const double p1 = k[p] + (1.0 - f1) * (k[E] - k[p]);
  double insA[3];
  int nInsA = 0;
  int spread1 = 0;
  // Degree 1 with continuity 2 reaches past a short vector's ends: read its end knots there.
  auto ka = [&](int i) { return k[i < 0 ? 0 : i]; };
  if (f1 > e && f1 < 1.0 - e) {
    // The last c + 1 spans before the seam must lie inside the affected range; knots already
    // inside it make the change a spread instead.
    if (c >= 0 && c <= 2 && ka(E - 1 - c) + e >= p1) {
      spread1 = ka(E - 1 - c) - e > p1;
    } else if (c >= 0 && c <= 2) {
      int parts = 1;
      if (c >= 1 && k[E - 1] + e < p1)
        parts = c + 1;
      else if (c == 2 && ka(E - 2) + e < p1)
        parts = 2;
      for (int j = 0; j < parts; ++j) insA[nInsA++] = p1 + j * (k[E] - p1) / parts;
    }
  } else if (f1 >= 1.0 - e) {
    spread1 = c < nA;
  }

  const KnotDirection b = DirectionOf(B, across[1]);
  const int pb = b.p, nB = b.interior, EB = pb + nB + 1;
  const double* kb = b.knots;
  const double p2 = kb[pb] + f2 * (kb[EB] - kb[pb]);
  double insB[3];
  int nInsB = 0;
  int spread2 = 0;
  const int lastB = nB + 2 * pb + 1;
  auto kbAt = [&](int i) { return kb[i > lastB ? lastB : i]; };
  if (f2 > e && f2 < 1.0 - e) {
    if (c >= 0 && c <= 2 && kbAt(pb + 1 + c) - e <= p2) {
      spread2 = kbAt(pb + 1 + c) + e < p2;
    } else if (c >= 0 && c <= 2) {
      int parts = 1;
      if (c >= 1 && kb[pb + 1] + (c == 1 ? e : -e) > p2)
        parts = c + 1;
      else if (c == 2 && kbAt(pb + 2) - e > p2)
        parts = 2;
      // Ascending, as the insertion wants them: the seam side's shares first.
      for (int j = parts - 1; j >= 0; --j) insB[nInsB++] = p2 - j * (p2 - kb[pb]) / parts;
    }
  } else if (f2 >= 1.0 - e) {
    spread2 = c < nB;
  }

  if (nInsA) InsertNKnotsToObject(1, nInsA, across[0], A, 2, insA);
  if (KernelFailed()) return;
  if (nInsB) InsertNKnotsToObject(1, nInsB, across[1], B, 2, insB);
  if (KernelFailed() || (!spread1 && !spread2)) return;

  SpreadRecord* s = CallocArray<SpreadRecord>(1);
  if (!s) return;
  *spread = s;
  s->spread1 = spread1;
  s->spread2 = spread2;
  // The joined object's knots start with the first's; its end index as it stands before the
  // first's own spread knot goes in.
  a = DirectionOf(A, across[0]);
  const int endA = a.p + a.interior + 1;
  // The range end becomes a knot unless one is there already; its span's low index is kept.
  auto rangeEndSpan = [&](Bspline* obj, int dir, double at) {
    const KnotDirection d = DirectionOf(obj, dir);
    int span = d.p;
    FindLowKnotIndex(d.knots, d.p, at, &span, d.nCtrl);
    if (at - d.knots[span] > e && d.knots[span + 1] - at > e)
      InsertNKnotsToObject(1, 1, dir, obj, 2, &at);
    return span;
  };
  if (spread1) s->spreadIndex1 = rangeEndSpan(A, across[0], p1);
  if (spread2 && !KernelFailed()) s->spreadIndex2 = rangeEndSpan(B, across[1], p2) + endA - 1;
}

namespace {

// The control line of obj at `line` (a column for boundaries 0 and 2, a row for 1 and 3, one
// point of a curve) into dst: x, y, z (3D) then w (withW), L values each.
void CopyControlLine(const Bspline* obj, int bndry, int line, int dim, bool withW, int L,
                     double* dst) {
  const int nu = NumCtrlU(obj);
  const bool column = obj->kind == 2 && (bndry == 0 || bndry == 2);
  double** m[4] = {obj->X, obj->Y, obj->Z, obj->W};
  int slot = 0;
  for (int q = 0; q < 4; ++q) {
    if ((q == 2 && dim < 3) || (q == 3 && !withW)) continue;
    double* out = dst + L * slot++;
    if (q == 3 && !obj->rational) {
      for (int i = 0; i < L; ++i) out[i] = 1.0;
    } else if (obj->kind == 1) {
      out[0] = m[q][0][line];
    } else if (column) {
      CopyVecWOffsetToVec(m[q][0] + line, nu, out, L);
    } else {
      CopyVecWOffsetToVec(m[q][line], 1, out, L);
    }
  }
}

}  // namespace

void GetSpreadVals(Bspline** objs, const int* bndry, const StitchInfo* info, SpreadRecord* spread) {
  if (!spread) return;
  const int c = info->continuity;
  Bspline* A = objs[0];
  Bspline* B = objs[1];
  const int dim = A->dimension == 2 ? 2 : 3;
  const bool withW = A->rational != 0;
  const int per = dim + (withW ? 1 : 0);
  const bool columnA = A->kind == 2 && (bndry[0] == 0 || bndry[0] == 2);
  const int L = A->kind == 1 ? 1 : columnA ? NumCtrlV(A) : NumCtrlU(A);
  const bool both = spread->spread1 && spread->spread2 && c > 0;
  double* rows = MallocArray<double>(L, per, both ? 2 : 1);
  if (!rows) return;
  spread->spreadRows = rows;
  if (spread->spread1) {
    const int line = A->kind == 1 ? NumCtrlU(A) - 1 - c
                     : columnA    ? NumCtrlU(A) - 1 - c
                                  : NumCtrlV(A) - 1 - c;
    CopyControlLine(A, bndry[0], line, dim, withW, L, rows);
  }
  if (spread->spread2 && !(spread->spread1 && c == 0))
    CopyControlLine(B, bndry[1], c, dim, withW, L, spread->spread1 ? rows + L * per : rows);
}
