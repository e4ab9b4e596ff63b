#include "stitch/srfstitc.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/kinsert.h"
#include "bspline/knots.h"
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

namespace {

// The control points of one direction of an object as lines across it: line l, point i is the
// value at base[c][0][start(l) + i * stride] for coordinate c (x, y, z when 3D, w when rational).
struct ControlLines {
  double* coord[4];
  int nCoord;      // 2 or 3 Cartesian coordinates, plus w when withW
  bool withW;
  int nLines;      // lines across the direction
  int nPoints;     // points on each line
  int stride;
  int lineStep;    // start(l) = l * lineStep
};

ControlLines LinesAcross(const Bspline* obj, int dir) {
  ControlLines c{};
  const int dim = obj->dimension == 2 ? 2 : 3;
  double** m[4] = {obj->X, obj->Y, obj->Z, obj->W};
  for (int q = 0; q < dim; ++q) c.coord[q] = m[q][0];
  c.withW = obj->rational != 0;
  if (c.withW) c.coord[dim] = obj->W[0];
  c.nCoord = dim + (c.withW ? 1 : 0);
  const int nu = NumCtrlU(obj);
  const bool inV = obj->kind == 2 && dir != 0;
  c.nPoints = inV ? NumCtrlV(obj) : nu;
  c.nLines = obj->kind == 2 ? (inV ? nu : NumCtrlV(obj)) : 1;
  c.stride = inV ? nu : 1;
  c.lineStep = inV ? 1 : nu;
  return c;
}

// A divisor this small against the terms it is made of has no reliable quotient.
bool Vanishes(double divisor, double scale) {
  return !std::isfinite(divisor) || std::fabs(divisor) <= 1e-12 * scale;
}

}  // namespace

void RefineObjStitch(Bspline* obj, double t, int along, StitchInfo* info) {
  int c = info->continuity;
  if (c == 0) return;
  const int dir = obj->kind == 2 && along == 0 ? 1 : 0;
  const KnotDirection d = DirectionOf(obj, dir);
  const int p = d.p;
  if (p < 2 && p < c) info->continuity = c = p;
  if (c == 0 || (c != 1 && c != 2)) return;
  const double* u = d.knots;
  int k = p;
  FindLowKnotIndex(u, p, t, &k, d.nCtrl);
  const int r = k - p;
  // The rows and knots the equations read must exist.
  if (r - c < 0 || r + c >= d.nCtrl || k - p - (c == 2 ? 1 : 0) < 0 || k + c > d.nCtrl + p) return;
  const int m = info->derivativeSide;

  const double hm1 = t - u[k - p], hp1 = u[k + 1] - t;
  double q = hp1 / hm1;
  double c1 = 0, c2 = 0, c4 = 0, c5 = 0;
  if (c == 2) {
    const double hm = u[k] - u[k - p], hp = u[k + 1] - u[k - p + 1];
    q = hp / hm;
    const double A = u[k + 2] - u[k - p + 2], B = u[k - 1] - u[k - p - 1];
    const double e = (u[k + 1] - u[k - p + 2]) / (u[k - 1] - u[k - p]);
    c1 = (e / hm - 1 / hp) * A;
    c2 = -e * A / B;
    c4 = -(A / hp + 1);
    c5 = e * A * (1 / B + 1 / hm);
  }
  if (!std::isfinite(q) || q <= 0) return;
  if (c == 2 && m == 0 && Vanishes(c2, 1.0)) return;
  if (c == 2 && m != 0 && m != 1 && Vanishes(c5 - q * c4, std::fabs(c5) + std::fabs(q * c4)))
    return;
  if (c == 2 && !(std::isfinite(c1) && std::isfinite(c2) && std::isfinite(c4) && std::isfinite(c5)))
    return;

  const ControlLines L = LinesAcross(obj, dir);
  const int nXYZ = L.nCoord - (L.withW ? 1 : 0);
  for (int l = 0; l < L.nLines; ++l) {
    // The points P_-c .. P_c in homogeneous form; only the moved ones are written back, so the
    // others keep their bits.
    double H[4][5];
    auto stored = [&](int co, int i) -> double& {
      return L.coord[co][l * L.lineStep + (r + i) * L.stride];
    };
    for (int i = -c; i <= c; ++i) {
      const double w = L.withW ? stored(nXYZ, i) : 1.0;
      for (int co = 0; co < L.nCoord; ++co) H[co][i + 2] = co < nXYZ ? stored(co, i) * w : w;
    }
    for (int co = 0; co < L.nCoord; ++co) {
      auto at = [&](int i) -> double& { return H[co][i + 2]; };
      const double P0 = at(0), Pm1 = at(-1), Pp1 = at(1);
      if (c == 1) {
        if (m == 0) {
          at(-1) = ((1 + q) * P0 - Pp1) / q;
        } else if (m == 1) {
          at(1) = (1 + q) * P0 - q * Pm1;
        } else {
          at(1) = ((1 + q) * P0 - q * Pm1 + Pp1) / 2;
          at(-1) = (((1 + q) * P0 - Pp1) / q + Pm1) / 2;
        }
        continue;
      }
      const double Pm2 = at(-2), Pp2 = at(2);
      if (m == 0) {
        const double nm1 = ((1 + q) * P0 - Pp1) / q;
        at(-1) = nm1;
        at(-2) = (c1 * P0 - c4 * Pp1 - Pp2 - c5 * nm1) / c2;
      } else if (m == 1) {
        const double np1 = (1 + q) * P0 - q * Pm1;
        at(1) = np1;
        at(2) = c1 * P0 - c5 * Pm1 - c2 * Pm2 - c4 * np1;
      } else {
        const double nm1 = (c1 * P0 - c2 * Pm2 - Pp2 - (1 + q) * c4 * P0) / (c5 - q * c4);
        at(-1) = nm1;
        at(1) = (1 + q) * P0 - q * nm1;
      }
    }
    auto moved = [&](int i) {
      return i != 0 && (m == 2 ? std::abs(i) == 1 : (m == 0) == (i < 0));
    };
    // A moved weight of zero would put the point at infinity: the line stays as it was.
    bool finite = true;
    for (int i = -c; i <= c; ++i)
      if (moved(i) && L.withW) finite = finite && std::isfinite(1.0 / H[nXYZ][i + 2]);
    for (int i = -c; i <= c && finite; ++i) {
      if (!moved(i)) continue;
      const double w = L.withW ? H[nXYZ][i + 2] : 1.0;
      if (L.withW) stored(nXYZ, i) = w;
      for (int co = 0; co < nXYZ; ++co) stored(co, i) = H[co][i + 2] / w;
    }
  }
}

void DampChangeAlongCntrlLine(Bspline* obj, const double* g, const double delta[4], int stride,
                              int start, int from, int to) {
  if (std::abs(from - to) < 2) return;
  const int lo = std::min(from, to), hi = std::max(from, to);
  const double span = g[hi] - g[lo];
  if (!(std::fabs(span) > 0)) return;
  const ControlLines L = LinesAcross(obj, 0);
  for (int i = lo + 1; i < hi; ++i) {
    const double share = (g[i] - g[lo]) / span;
    const double w = to < from ? share : 1.0 - share;
    for (int co = 0; co < L.nCoord; ++co) L.coord[co][start + i * stride] += w * delta[co];
  }
}

void ExtendEffectOfStitch(Bspline* obj, int along, double t, const StitchInfo* info,
                          const SpreadRecord* spread) {
  if (!spread || !spread->spreadRows || (!spread->spread1 && !spread->spread2)) return;
  const int dir = obj->kind == 2 && along == 0 ? 1 : 0;
  const KnotDirection d = DirectionOf(obj, dir);
  int k = d.p;
  FindLowKnotIndex(d.knots, d.p, t, &k, d.nCtrl);
  const int s = k - d.p, c = info->continuity;
  const ControlLines L = LinesAcross(obj, dir);
  TrackingScope scope;
  double* g = ObjectGrevilleParams(obj, dir);
  if (!g) return;
  const double* second =
      spread->spreadRows +
      (spread->spread1 && spread->spread2 && c > 0 ? L.nLines * L.nCoord : 0);
  auto spreadFrom = [&](int row, int far, const double* saved) {
    if (row < 0 || row >= L.nPoints || far < 0 || far >= L.nPoints) return;
    for (int l = 0; l < L.nLines; ++l) {
      double delta[4] = {0, 0, 0, 0};
      for (int co = 0; co < L.nCoord; ++co)
        delta[co] = L.coord[co][l * L.lineStep + row * L.stride] - saved[co * L.nLines + l];
      DampChangeAlongCntrlLine(obj, g, delta, L.stride, l * L.lineStep, row, far);
    }
  };
  if (spread->spread1) spreadFrom(s - c, spread->spreadIndex1, spread->spreadRows);
  if (spread->spread2) spreadFrom(s + c, spread->spreadIndex2, second);
}

void ScaleObjectDerivative(Bspline* obj, double t, int dir, double factor, int before, int order) {
  if (factor < 1e-7 || std::fabs(factor - 1.0) < 1e-7 || (order != 1 && order != 2)) return;
  const int jdir = obj->kind == 2 && dir != 0 ? 1 : 0;
  const KnotDirection d = DirectionOf(obj, jdir);
  const int p = d.p;
  const double* u = d.knots;
  int k = p;
  const int where = FindLowKnotIndex(u, p, t, &k, d.nCtrl);
  if (where == 1) return;
  if (where == 2 && !before) return;
  // At the object's start there is nothing before the seam, and after it the caller wants none.
  if (where == 0 && k == p) return;
  const int seam = where == 2 ? k : k - p;
  const int step = before ? -1 : 1;
  if (seam + 2 * step < 0 || seam + 2 * step >= d.nCtrl) return;
  double a = 0, b = 0;
  if (order == 2) {
    if (before ? k - p - 1 < 0 : k + 2 > d.nCtrl + p) return;
    a = before ? u[k - 1] - u[k - p - 1] : u[k + 2] - u[k - p + 2];
    b = before ? u[k] - u[k - p] : u[k + 1] - u[k - p + 1];
  }
  const ControlLines L = LinesAcross(obj, jdir);
  const int nXYZ = L.nCoord - (L.withW ? 1 : 0);
  for (int l = 0; l < L.nLines; ++l) {
    double* at[3][3];
    for (int co = 0; co < nXYZ; ++co)
      for (int j = 0; j < 3; ++j)
        at[co][j] = L.coord[co] + l * L.lineStep + (seam + j * step) * L.stride;
    if (order == 1) {
      for (int co = 0; co < nXYZ; ++co)
        *at[co][1] = *at[co][0] + factor * (*at[co][1] - *at[co][0]);
      continue;
    }
    // All coordinates are solved before any is written: a vanishing denominator in one leaves the
    // whole line as it was.
    double n1[3], n2[3];
    bool solvable = true;
    for (int co = 0; co < nXYZ; ++co) {
      const double P0 = *at[co][0], P1 = *at[co][1], P2 = *at[co][2];
      n1[co] = P1, n2[co] = P2;
      const double S = a * P2 - (a + b) * P1 + b * P0;
      if (!(std::fabs(S) > 0.001)) continue;
      if (std::fabs(P0 - P1) >= 0.001) {
        const double t2 = a * (P2 - P1) * (P2 - P1), t1 = b * (P1 - P0) * (P1 - P0);
        if (Vanishes(t2 - t1, std::fabs(t2) + std::fabs(t1))) {
          solvable = false;
          break;
        }
        const double K = factor * S / (t2 - t1);
        n1[co] = P0 + K * (P1 - P0) * (P1 - P0);
        n2[co] = n1[co] + K * (P2 - P1) * (P2 - P1);
      } else {
        n2[co] = P1 + factor * (P2 - P1);
      }
    }
    if (!solvable) continue;
    for (int co = 0; co < nXYZ; ++co) *at[co][1] = n1[co], *at[co][2] = n2[co];
  }
}
