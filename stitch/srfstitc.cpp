#include "stitch/srfstitc.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/kremove.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/objjoin.h"
#include "bspline/objset.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/srfclone.h"
#include "bspline/subobj.h"
#include "curve/crvutil.h"
#include "curve/mkline3.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "stitch/srfcont.h"
#include "stitch/vcnobj.h"
#include "surface/srfnorm.h"
#include "surface/srfsnip.h"

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

namespace {

// A section [s, e] of a surface's boundary in its along-boundary direction (dir 1: v, for
// boundaries 0 and 2; dir 0: u), within that direction's range [lo, hi]. An end within eps of
// its range end needs no cut there.
struct BndrySection {
  int dir;
  double lo, hi, eps, s, e;
  bool cutS, cutE;
};

void InitSection(Bspline* obj, int b, BndrySection* sec) {
  sec->dir = (b == 0 || b == 2) ? 1 : 0;
  const double* knots = sec->dir ? obj->knotsV : obj->knotsU;
  const int p = sec->dir ? obj->degreeV : obj->degreeU;
  const int n = sec->dir ? NumCtrlV(obj) : NumCtrlU(obj);
  sec->lo = knots[p];
  sec->hi = knots[n];
  sec->eps = 1e-6 * (sec->hi - sec->lo);
}

// Orders the ends, moves each onto a knot of obj within eps (never onto an end knot: a cut
// there would make a sliver), and keeps only the cuts away from the range ends.
void FinishSection(Bspline* obj, BndrySection* sec) {
  if (sec->e < sec->s) std::swap(sec->s, sec->e);
  bool dropS = false, dropE = false;
  for (int i = 0; i < 2; ++i) {
    double& x = i == 0 ? sec->s : sec->e;
    int atEnd = 0;
    const double k = GetClosestKnotPoint(obj, x, sec->dir, 0, &atEnd);
    if (std::fabs(k - x) < sec->eps) {
      if (atEnd) (i == 0 ? dropS : dropE) = true;
      else x = k;
    }
  }
  sec->cutS = !dropS && std::fabs(sec->s - sec->lo) >= sec->eps;
  sec->cutE = !dropE && std::fabs(sec->hi - sec->e) >= sec->eps;
}

void SectionFromFractions(Bspline* obj, int b, double fa, double fb, BndrySection* sec) {
  InitSection(obj, b, sec);
  sec->s = sec->lo + fa * (sec->hi - sec->lo);
  sec->e = sec->lo + fb * (sec->hi - sec->lo);
  FinishSection(obj, sec);
}

// The parameter, along the section's boundary line of obj at iso, of the point nearest to pt.
double ProjectOntoBndry(Bspline* obj, const BndrySection& sec, double iso, const double pt[3]) {
  const double pts[1][3] = {{pt[0], pt[1], pt[2]}};
  double t = sec.lo;
  GetClosestPointsOnCrvOnSrf(pts, 1, obj, iso, sec.dir, &t, nullptr);
  return t;
}

// The section of S2's boundary b2 that S1's boundary b1 covers: the projections of S1's boundary
// ends; when one falls on a range end the projected midpoint decides which end it stands for.
void SectionFromProjection(Bspline* S1, int b1, Bspline* S2, int b2, BndrySection* sec) {
  InitSection(S2, b2, sec);
  const double iso = GetParValOfBndry(S2, b2);
  double start[3] = {0, 0, 0}, end[3] = {0, 0, 0};
  GetObjBndryPnts(S1, b1, start, end, 0);
  double s = ProjectOntoBndry(S2, *sec, iso, start);
  double e = ProjectOntoBndry(S2, *sec, iso, end);
  const double lo = sec->lo, hi = sec->hi, eps = sec->eps;
  auto nearLo = [&](double x) { return std::fabs(x - lo) < eps; };
  auto nearHi = [&](double x) { return std::fabs(x - hi) < eps; };
  if (nearLo(s) || nearHi(s) || nearLo(e) || nearHi(e)) {
    BndrySection own;
    InitSection(S1, b1, &own);
    const double fixed = GetParValOfBndry(S1, b1), mid = 0.5 * (own.lo + own.hi);
    const double u = own.dir ? fixed : mid, v = own.dir ? mid : fixed;
    double m3[3] = {0, 0, 0};
    EvalNpntsOnObj(S1, 0, 0, &u, &v, 1, &m3[0], &m3[1], &m3[2]);
    const double m = ProjectOntoBndry(S2, *sec, iso, m3);
    if (!nearHi(e) && nearLo(e) && s < m) e = hi;
    else if (nearHi(e) && m < s) e = lo;
    if (!nearHi(s) && nearLo(s) && e < m) s = hi;
    else if (nearHi(s) && m < e) s = lo;
    if (std::fabs(e - s) < eps) {
      if (!nearLo(s)) s = lo;
      else e = hi;
    }
  } else if (std::fabs(e - s) < eps) {
    s = lo;
    e = hi;
  }
  sec->s = s;
  sec->e = e;
  FinishSection(S2, sec);
}

// Cuts obj at the section's kept ends into parts (count of them; obj is not changed); *at is the
// part on the section. With no cut the only part is a copy. False on failure, nothing left.
bool CutSection(Bspline* obj, const BndrySection& sec, Bspline* parts[3], int* count, int* at) {
  parts[0] = parts[1] = parts[2] = nullptr;
  if (!sec.cutS && !sec.cutE) {
    parts[0] = CopyBsplineStruct(obj);
    *count = 1;
    *at = 0;
    if (parts[0] && !KernelFailed()) return true;
    FreeBsplineArrayContents(parts, 1);
    return false;
  }
  double pars[2];
  int n = 0;
  if (sec.cutS) pars[n++] = sec.s;
  if (sec.cutE) pars[n++] = sec.e;
  *count = n + 1;
  *at = (n == 2 || sec.cutS) ? 1 : 0;
  const int r = SplitObjectToNObjects(obj, n, pars, sec.dir, parts);
  bool ok = r == 0 && !KernelFailed();
  for (int i = 0; i <= n; ++i) ok = ok && parts[i] != nullptr;
  if (ok) return true;
  FreeBsplineArrayContents(parts, 3);
  return false;
}

}  // namespace

Bspline* StitchTwoSurfsPartial(int* bndry, Bspline** objs, StitchInfo* info, int mode, double a,
                               double b) {
  if (mode != 1 && mode != 2) {
    // No section is defined for any other mode.
    SetKernelError(-2);
    return nullptr;
  }
  BndrySection sec;
  if (mode == 2) SectionFromFractions(objs[1], bndry[1], a, b, &sec);
  else SectionFromProjection(objs[0], bndry[0], objs[1], bndry[1], &sec);
  if (KernelFailed()) return nullptr;
  Bspline* parts[3];
  int count = 0, at = 0;
  if (!CutSection(objs[1], sec, parts, &count, &at)) return nullptr;
  Bspline* trio[3] = {objs[0], parts[at], objs[2]};
  int pair[2] = {bndry[0], bndry[1]};  // the stitch rewrites its boundary pair
  Bspline* out[2] = {nullptr, nullptr};
  const int r = StitchTwoObjects(pair, trio, nullptr, info, out);
  FreeBsplineArrayContents(parts, 3);
  if (r != 0) return nullptr;
  FreeBspline(out[1]);
  return out[0];
}

int StitchTwoSurfsBothPartial(int* bndry, Bspline** objs, StitchInfo* info, const double* a,
                              const double* b, Bspline** out) {
  out[0] = out[1] = nullptr;
  BndrySection sec[2];
  Bspline* parts[2][3] = {{nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr}};
  int count[2] = {0, 0}, at[2] = {0, 0};
  auto fail = [&] {
    FreeBsplineArrayContents(parts[0], 3);
    FreeBsplineArrayContents(parts[1], 3);
    FreeBsplineArrayContents(out, 2);
    return -2;
  };
  for (int i = 0; i < 2; ++i) {
    SectionFromFractions(objs[i], bndry[i], a[i], b[i], &sec[i]);
    if (!CutSection(objs[i], sec[i], parts[i], &count[i], &at[i])) return fail();
  }
  Bspline* trio[3] = {parts[0][at[0]], parts[1][at[1]], objs[2]};
  int pair[2] = {bndry[0], bndry[1]};  // the caller's pair stays as it was
  Bspline* stitched[2] = {nullptr, nullptr};
  if (StitchTwoObjects(pair, trio, nullptr, info, stitched) != 0) return fail();
  for (int i = 0; i < 2; ++i) {
    FreeBspline(parts[i][at[i]]);
    parts[i][at[i]] = stitched[i];
  }
  for (int i = 0; i < 2; ++i) {
    Owned<Bspline, FreeBspline> joined(parts[i][0]);
    parts[i][0] = nullptr;
    for (int k = 1; k < count[i]; ++k) {
      // The parts already meet; the re-join only makes the cut seams curvature continuous.
      StitchInfo rejoin{2, 2, 2, 3, -1.0, -1.0, 1.0, 1.0, 1.0, 0.0};
      int rejoinPair[2] = {sec[i].dir == 0 ? 2 : 1, sec[i].dir == 0 ? 0 : 3};
      Bspline* two[3] = {joined.get(), parts[i][k], nullptr};
      Bspline* next = BlendTwoObjects(rejoinPair, two, nullptr, nullptr, nullptr, &rejoin);
      FreeBspline(parts[i][k]);
      parts[i][k] = nullptr;
      joined.reset(next);
      if (!next || KernelFailed()) return fail();
    }
    out[i] = joined.release();
  }
  return 0;
}

Bspline* GetClosestCrvAndDirection(Bspline* crv, const double point[3], double xform[4][4],
                                   double inverse[4][4]) {
  double t = crv->umin;
  {
    CurveSampleCache cache;
    if (cache.Estimate(crv, point, &t) == -2) return nullptr;
  }
  double C[3], distSq = 0.0, stepSq = 0.0;
  if (FindClosestPointCurveOnSurf(crv, point, C, crv->umin, crv->umax, &t, &distSq, &stepSq, 7) ==
      -2)
    return nullptr;
  double T[3], u = 0.0, v = 0.0, P[3], N[1][3];
  EvalNpntsOnObj(crv, 1, 0, &t, &t, 1, &T[0], &T[1], &T[2]);
  EvalNpntsOnObj(crv, 0, 0, &t, &t, 1, &u, &v, nullptr);
  Bspline* srf = crv->owner;
  ComputeSurfNormalNPnts(srf, &u, &v, N, 1);
  EvalNpntsOnObj(srf, 0, 0, &u, &v, 1, &P[0], &P[1], &P[2]);
  // Across the curve within the tangent plane.
  const double end[3] = {P[0] + T[1] * N[0][2] - T[2] * N[0][1],
                         P[1] + T[2] * N[0][0] - T[0] * N[0][2],
                         P[2] + T[0] * N[0][1] - T[1] * N[0][0]};
  Bspline* line = MkLine3(P, end, nullptr);
  if (!line) return nullptr;
  const double top[3] = {P[0] + N[0][0], P[1] + N[0][1], P[2] + N[0][2]};
  TransformToZAxis(P, top, &xform[0][0]);
  mat_inverse4(&xform[0][0], &inverse[0][0]);
  return line;
}

int RotateCurveByAngle(Bspline* crv, const double xform[4][4], const double inverse[4][4],
                       double angle) {
  const int n = NumCtrlU(crv);
  double* x = crv->X[0];
  double* y = crv->Y[0];
  Transform3DArrays(x, y, crv->Z[0], n, &xform[0][0]);
  const double a = angle * 0.017453292519943295, c = std::cos(a), s = std::sin(a);
  for (int i = 0; i < n; ++i) {
    const double xi = x[i], yi = y[i];
    x[i] = xi * c - yi * s;
    y[i] = xi * s + yi * c;
  }
  Transform3DArrays(x, y, crv->Z[0], n, &inverse[0][0]);
  return 0;
}

int MakeStitchInfoConsistent(StitchInfo* info) {
  // The object that stays put is not spread: with continuity the one whose rows do not move,
  // without it the one that does not give the seam row.
  if (info->continuity != 0) {
    if (info->derivativeSide == 0) info->rangeFraction2 = 0.0;
    if (info->derivativeSide == 1) info->rangeFraction1 = 0.0;
  } else {
    if (info->positionSide == 0) info->rangeFraction1 = 0.0;
    if (info->positionSide == 1) info->rangeFraction2 = 0.0;
  }
  if (info->continuity >= 3) {
    info->continuity -= 2;
    return 1;
  }
  return 0;
}

namespace {

void FreeSpreadRecord(SpreadRecord* spread) {
  Free(spread->spreadRows);
  Free(spread);
}

// A derivative scale that is switched off: too small, or too close to 1 to change anything.
bool ScaleInactive(double factor) { return factor < 1e-7 || std::fabs(factor - 1.0) < 1e-7; }

}  // namespace

Bspline* BlendTwoObjects(int* bndry, Bspline** objs, const double* seamPoint, int* seamDir,
                         double* seamPar, StitchInfo* info) {
  const bool surfaces = objs[0]->kind == 2;
  if (info->positionSide == 3 && (surfaces ? objs[2] == nullptr : seamPoint == nullptr)) {
    // The seam row was to be given but is not: nothing is changed.
    SetKernelError(-2);
    return nullptr;
  }
  if (surfaces && (objs[0]->trims || objs[1]->trims)) {
    DeleteTrimInfoOfBsplSet(objs, 2);
    if (KernelFailed()) return nullptr;
  }
  const int n = objs[2] ? 3 : 2;
  int vcn = MakeStitchInfoConsistent(info);
  if (!surfaces || objs[1]->kind != 2) vcn = 0;
  if (KernelFailed()) return nullptr;

  const int firstBndry = bndry[0];
  OrientPairEndToStart(bndry, objs);
  if (KernelFailed()) return nullptr;

  // The third object is a curve along the seam: it takes part in u, with no boundary of its own.
  int along[3] = {bndry[0] == 0 || bndry[0] == 2, bndry[1] == 0 || bndry[1] == 2, 0};
  int across[3] = {1 - along[0], 1 - along[1], 1};
  int setBndry[3] = {bndry[0], bndry[1], 0};

  if (surfaces) {
    EquateParDirOfObjSet(objs, setBndry, n);
    if (KernelFailed()) return nullptr;
    EquateDegOfObjSet(objs, along, n);
    if (KernelFailed()) return nullptr;
    ReparametrizeSurf(objs, bndry, along, 1, info);
    if (KernelFailed()) return nullptr;
    MakeObjSetCompatible(objs, along, n, 1);
    if (KernelFailed()) return nullptr;
  }
  EquateDegOfObjSet(objs, across, 2);
  if (KernelFailed()) return nullptr;
  EquateRationOfObjSet(objs, n);
  if (KernelFailed()) return nullptr;
  Owned<SpreadRecord, FreeSpreadRecord> spread;
  KnotInsertForRangeAdjust(objs, across, info, spread.receive());
  if (KernelFailed()) return nullptr;
  MakeParOfTwoObjProptnl(objs, across, 1, 1);
  if (KernelFailed()) return nullptr;
  GetSpreadVals(objs, bndry, info, spread.get());
  if (KernelFailed()) return nullptr;

  double t = 0.0;
  Owned<Bspline, FreeBspline> joined(JoinObjectPair(objs, seamPoint, along, &t, info->positionSide));
  if (!joined || KernelFailed()) return nullptr;
  Bspline* J = joined.get();

  if (surfaces) {
    double dev = 0.0;
    RemoveKnotsOfObjSet(&J, 1, along[0], 3, nullptr, 0, 0, info->knotRemovalTol, &dev);
    if (KernelFailed()) return nullptr;
  }
  if (vcn == 0) {
    RefineObjStitch(J, t, along[0], info);
  } else if (RefineObjVCn(J, t, along[0], info, spread.get()) == -2) {
    return nullptr;
  }
  if (KernelFailed()) return nullptr;
  ExtendEffectOfStitch(J, along[0], t, info, spread.get());
  if (KernelFailed()) return nullptr;
  ScaleDerivativeAtKnot(J, t, across[0], info->derivScale1, 1, info->continuity);
  ScaleDerivativeAtKnot(J, t, across[0], info->derivScale2, 0, info->continuity);
  if (KernelFailed()) return nullptr;

  int dir = 0;
  if (surfaces) {
    PutTwoCurveListsToBspl(objs[0]->curves, objs[1]->curves, J);
    objs[0]->curves = nullptr;
    objs[1]->curves = nullptr;
    dir = along[0];
    if (KernelFailed()) return nullptr;
  }

  if (bndry[0] != firstBndry) {
    // The first object was reversed to end at the seam: give the result its caller's direction
    // again; the seam knot moves to its mirror image.
    const int jd = across[0];
    const int p = jd == 0 ? J->degreeU : J->degreeV;
    const int nCtrl = jd == 0 ? NumCtrlU(J) : NumCtrlV(J);
    int k = p;
    FindLowKnotIndex(jd == 0 ? J->knotsU : J->knotsV, p, t, &k, nCtrl);
    ReverseObj(J, jd);
    if (KernelFailed()) return nullptr;
    t = (jd == 0 ? J->knotsU : J->knotsV)[nCtrl + p - k];
  }
  if (seamPar) {
    *seamPar = t;
    *seamDir = dir;
  }

  if (vcn == 0 && info->continuity > 0 && ScaleInactive(info->derivScale1) &&
      ScaleInactive(info->derivScale2)) {
    // The refinement made the rows C^continuity at the seam knot, so these copies go exactly.
    double knots[4] = {t, t, t, t};
    double dev = 0.0;
    RemoveKnotsOfObjSet(&J, 1, across[0], 2, knots, std::min(info->continuity, 4), 0, 0.0, &dev);
    if (KernelFailed()) return nullptr;
  }
  return joined.release();
}

// The two halves of a joined object into out, in the callers' order (exchanged when the first
// object was reversed for the join); for surfaces the joined surface's curve list is divided
// between them and each half's parameters are put in proportion again.
static void HandBackHalves(Bspline* joined, Bspline** halves, bool swapped, bool surfaces, int count,
                           Bspline** out) {
  out[0] = swapped ? halves[1] : halves[0];
  out[1] = swapped ? halves[0] : halves[1];
  if (!surfaces) return;
  PutCurveListToTwoBspl(out[0], out[1], joined->curves, count);
  joined->curves = nullptr;
  int dirs[2] = {1, 0};
  for (int i = 0; i < 2; ++i) {
    Bspline* pair[2] = {out[i], out[i]};
    MakeParOfTwoObjProptnl(pair, dirs, 0, 1);
  }
}

int StitchTwoObjects(int* bndry, Bspline** objs, const double* seamPoint, StitchInfo* info,
                     Bspline** out) {
  const bool surfaces = objs[0]->kind == 2;
  const int count = surfaces ? GetNumCurvePieces(objs[0]->curves) : 0;
  const int firstBndry = bndry[0];
  int dir = 0;
  double t = 0.0;
  Owned<Bspline, FreeBspline> joined(BlendTwoObjects(bndry, objs, seamPoint, &dir, &t, info));
  if (!joined) return -2;
  Bspline* pieces[2] = {nullptr, nullptr};
  if (SplitObjectToNObjects(joined.get(), 1, &t, 1 - dir, pieces) != 0 || !pieces[0] ||
      !pieces[1] || KernelFailed()) {
    FreeBsplineArrayContents(pieces, 2);
    return -2;
  }
  HandBackHalves(joined.get(), pieces, bndry[0] != firstBndry, surfaces, count, out);
  return 0;
}

// ---- three and four surfaces ----------------------------------------------------------------

namespace {

double PointDist(const double a[3], const double b[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// Sum of the distances start to start and end to end, or start to end and end to start.
double BndryPairDist(Bspline* a, int ba, Bspline* b, int bb, bool crossed, int avoidDegenerate) {
  double sA[3], eA[3], sB[3], eB[3];
  GetObjBndryPnts(a, ba, sA, eA, avoidDegenerate);
  GetObjBndryPnts(b, bb, sB, eB, avoidDegenerate);
  return crossed ? PointDist(sA, eB) + PointDist(eA, sB) : PointDist(sA, sB) + PointDist(eA, eB);
}

bool BndriesOppose(Bspline* a, int ba, Bspline* b, int bb) {
  double va[3], vb[3];
  GetObjBndryVector(a, ba, va);
  GetObjBndryVector(b, bb, vb);
  return va[0] * vb[0] + va[1] * vb[1] + va[2] * vb[2] < 0.0;
}

StitchInfo SurfSetStitchInfo(int continuity) {
  return StitchInfo{continuity, 2, 2, 3, -1.0, -1.0, 1.0, 1.0, 1.0, 0.0};
}

// The seam parameter t relative to the joined surface's range in its joining direction.
double RelativeSeam(Bspline* j, int dir, double t) {
  double lo = 0.0, hi = 0.0;
  GetKnotInfo(j, dir, &lo, &hi);
  return hi > lo ? (t - lo) / (hi - lo) : 0.0;
}

// Splits a joined surface at its knot nearest to the relative position f in direction dir into
// out[0], out[1] (exchanged when swapped), hands the first count listed curves to out[0] and
// the rest to out[1], and puts each half's parameters in proportion to its polygon. J keeps
// its shape and loses its curve list. 0, or -2 with nothing left in out.
int SplitJoinedSurf(Bspline* J, int dir, double f, bool swapped, int count, Bspline** out) {
  double lo = 0.0, hi = 0.0;
  GetKnotInfo(J, dir, &lo, &hi);
  int atEnd = 0;
  double t = GetClosestKnotPoint(J, lo + f * (hi - lo), dir, 0, &atEnd);
  Bspline* halves[2] = {nullptr, nullptr};
  if (SplitObjectToNObjects(J, 1, &t, dir, halves) != 0 || !halves[0] || !halves[1] ||
      KernelFailed()) {
    FreeBsplineArrayContents(halves, 2);
    return -2;
  }
  HandBackHalves(J, halves, swapped, true, count, out);
  return 0;
}

bool AnyCurves(Bspline** objs, int n) {
  for (int i = 0; i < n; ++i)
    if (objs[i]->curves) return true;
  return false;
}

// Restores isJustCombine on every way out of a four-surface stitch.
struct JustCombineGuard {
  ~JustCombineGuard() { isJustCombine = 0; }
};

}  // namespace

void GetSurfPairBndries(Bspline* a, int* bndryA, int acrossA, Bspline* b, int* bndryB,
                        int acrossB) {
  const int a1 = acrossA ? 0 : 3, a2 = acrossA ? 2 : 1;
  if (*bndryB != -1) {
    const double d1 = BndryPairDist(a, a1, b, *bndryB, false, 0);
    const double d2 = BndryPairDist(a, a2, b, *bndryB, false, 0);
    *bndryA = d2 <= d1 ? a2 : a1;
    return;
  }
  const int b1 = acrossB ? 0 : 3, b2 = acrossB ? 2 : 1;
  const bool crossed = BndriesOppose(a, a1, b, b1);
  const int pairs[4][2] = {{a1, b1}, {a2, b1}, {a1, b2}, {a2, b2}};
  int best = 0;
  double bestDist = 0.0;
  for (int i = 0; i < 4; ++i) {
    const double d = BndryPairDist(a, pairs[i][0], b, pairs[i][1], crossed, 0);
    if (i == 0 || d < bestDist) {
      best = i;
      bestDist = d;
    }
  }
  *bndryA = pairs[best][0];
  *bndryB = pairs[best][1];
}

namespace {

// The four objects of a two-by-two arrangement: sound 3D surfaces, and their boundaries given;
// else false with the error state -2.
bool FourSurfacesSound(Bspline** objs, const int* bndry) {
  if (!objs || !bndry) {
    SetKernelError(-2);
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (!RecordsSound({objs[i]})) return false;
    if (objs[i]->kind != 2 || objs[i]->dimension != 3) {
      SetKernelError(-2);
      return false;
    }
  }
  return true;
}

// PropotionSurfKnots on surfaces already checked.
void ProportionKnots(Bspline** objs, const int* bndry) {
  Bspline* A = objs[0];
  Bspline* B = objs[1];
  Bspline* C = objs[2];
  const int acrossA = bndry[0] == 1 || bndry[0] == 3;
  const int acrossC = bndry[2] == 1 || bndry[2] == 3;
  int bA = bndry[0], bC = -1;
  GetSurfPairBndries(A, &bA, acrossA, C, &bC, acrossC);
  int bB = bndry[1], bC2 = -1;
  GetSurfPairBndries(B, &bB, acrossA, C, &bC2, acrossC);
  const double dA = BndryPairDist(A, bA, C, bC, BndriesOppose(A, bA, C, bC), 1);
  const double dB = BndryPairDist(B, bB, C, bC2, BndriesOppose(B, bB, C, bC2), 1);
  const bool aFacesC = dA < dB;

  int dirs[4];
  double span[4];
  for (int i = 0; i < 4; ++i) {
    dirs[i] = bndry[i] == 1 || bndry[i] == 3;
    span[i] = GetObjSpanInParDir(objs[i], dirs[i], 0);
  }
  for (int i = 0; i < 4; ++i) {
    for (int dir = 0; dir < 2; ++dir) {
      Bspline* s = objs[i];
      double* k = dir ? s->knotsV : s->knotsU;
      const int p = dir ? s->degreeV : s->degreeU;
      const int n = (dir ? s->interiorV : s->interiorU) + 2 * (p + 1);
      const double lo = k[0], hi = k[n - 1];
      // A zero range has nothing to map onto [0, 1].
      if (!(hi > lo)) continue;
      NormalizeKnotArray(k, n);
      SpreadOverfullKnotRuns(s, dir);
      PropotionCurveListCoefi(s->curves, 1.0 / (hi - lo), -lo / (hi - lo), dir);
    }
  }
  const double num = aFacesC ? span[3] + span[1] : span[1] + span[2];
  const double den = aFacesC ? span[2] + span[0] : span[3] + span[0];
  const double scale = den > 0.0 ? num / den : 1.0;
  if (std::isfinite(scale) && scale > 0.0) {
    const int scaled[2] = {1, aFacesC ? 3 : 2};
    for (int i : scaled) {
      Bspline* s = objs[i];
      const int dir = dirs[i];
      double* k = dir ? s->knotsV : s->knotsU;
      const int p = dir ? s->degreeV : s->degreeU;
      const int n = (dir ? s->interiorV : s->interiorU) + 2 * (p + 1);
      for (int j = 0; j < n; ++j) k[j] *= scale;
      SpreadOverfullKnotRuns(s, dir);
      PropotionCurveListCoefi(s->curves, scale, 0.0, dir);
    }
  }
  for (int i = 0; i < 4; ++i) {
    ResetBsplineParamInfo(objs[i], 0);
    ResetBsplineParamInfo(objs[i], 1);
  }
}

}  // namespace

void PropotionSurfKnots(Bspline** objs, const int* bndry) {
  if (FourSurfacesSound(objs, bndry)) ProportionKnots(objs, bndry);
}

int StitchThreeSurfs(int* bndry, Bspline** objs, int continuity, Bspline** out) {
  const int count = AnyCurves(objs, 3) ? GetNumCurvePieces(objs[0]->curves) : 0;
  StitchInfo info = SurfSetStitchInfo(continuity);
  const int firstBndry = bndry[0];
  int d = 0;
  double t = 0.0;
  // A third object would be read as the seam's given row.
  Bspline* first[3] = {objs[0], objs[1], nullptr};
  Owned<Bspline, FreeBspline> j(BlendTwoObjects(bndry, first, nullptr, &d, &t, &info));
  if (!j || KernelFailed()) return -2;
  const bool swapped = bndry[0] != firstBndry;
  const double f = RelativeSeam(j.get(), 1 - d, t);
  GetSurfPairBndries(j.get(), &bndry[0], 1 - d, objs[2], &bndry[2], 0);
  bndry[1] = bndry[2];
  Bspline* pair[3] = {j.get(), objs[2], nullptr};
  Bspline* JT[2] = {nullptr, nullptr};
  if (StitchTwoObjects(bndry, pair, nullptr, &info, JT) != 0) return -2;
  j.reset();
  Owned<Bspline, FreeBspline> J(JT[0]);
  Bspline* halves[2] = {nullptr, nullptr};
  if (SplitJoinedSurf(J.get(), 1 - d, f, swapped, count, halves) != 0) {
    FreeBspline(JT[1]);
    return -2;
  }
  out[0] = halves[0];
  out[1] = halves[1];
  out[2] = JT[1];
  return 0;
}

Bspline* BlendThreeSurfs(int* bndry, Bspline** objs, int continuity) {
  DeleteTrimInfoOfBsplSet(objs, 3);
  StitchInfo info = SurfSetStitchInfo(continuity);
  int d = 0;
  Bspline* first[3] = {objs[0], objs[1], nullptr};
  Owned<Bspline, FreeBspline> j(BlendTwoObjects(bndry, first, nullptr, &d, nullptr, &info));
  if (!j || KernelFailed()) return nullptr;
  GetSurfPairBndries(j.get(), &bndry[0], 1 - d, objs[2], &bndry[2], 0);
  bndry[1] = bndry[2];
  Bspline* pair[3] = {j.get(), objs[2], nullptr};
  return BlendTwoObjects(bndry, pair, nullptr, nullptr, nullptr, &info);
}

namespace {

// Joins the two pairs of a two-by-two arrangement into j[0], j[1] (seam directions d, seam
// parameters t); bndry[0] and bndry[2] are rewritten. False (nothing left in j) on failure.
bool JoinTwoPairs(int* bndry, Bspline** objs, StitchInfo* info, Bspline** j, int d[2],
                  double t[2]) {
  for (int i = 0; i < 2; ++i) {
    Bspline* pair[3] = {objs[2 * i], objs[2 * i + 1], nullptr};
    j[i] = BlendTwoObjects(bndry + 2 * i, pair, nullptr, &d[i], &t[i], info);
    if (!j[i] || KernelFailed()) {
      FreeBsplineArrayContents(j, 2);
      return false;
    }
  }
  return true;
}

}  // namespace

int StitchFourSurfs(int* bndry, Bspline** objs, int continuity, Bspline** out) {
  JustCombineGuard guard;
  if (!FourSurfacesSound(objs, bndry)) return -2;
  if (!out) {
    SetKernelError(-2);
    return -2;
  }
  const bool curves = AnyCurves(objs, 4);
  const int count1 = curves ? GetNumCurvePieces(objs[0]->curves) : 0;
  const int count3 = curves ? GetNumCurvePieces(objs[2]->curves) : 0;
  ProportionKnots(objs, bndry);
  StitchInfo info = SurfSetStitchInfo(continuity);
  const int firstBndry[2] = {bndry[0], bndry[2]};
  Bspline* j[2] = {nullptr, nullptr};
  int d[2] = {0, 0};
  double t[2] = {0.0, 0.0};
  isJustCombine = 1;
  if (!JoinTwoPairs(bndry, objs, &info, j, d, t)) return -2;
  isJustCombine = 0;
  Owned<Bspline, FreeBspline> j1(j[0]), j2(j[1]);
  const bool swapped1 = bndry[0] != firstBndry[0];
  bool swapped2 = bndry[2] != firstBndry[1];
  const double f1 = RelativeSeam(j1.get(), 1 - d[0], t[0]);
  double f2 = RelativeSeam(j2.get(), 1 - d[1], t[1]);
  bndry[1] = -1;
  GetSurfPairBndries(j1.get(), &bndry[0], 1 - d[0], j2.get(), &bndry[1], 1 - d[1]);
  if (BndriesOppose(j1.get(), bndry[0], j2.get(), bndry[1])) {
    f2 = 1.0 - f2;
    swapped2 = !swapped2;
  }
  Bspline* pair[3] = {j1.get(), j2.get(), nullptr};
  Bspline* JJ[2] = {nullptr, nullptr};
  if (StitchTwoObjects(bndry, pair, nullptr, &info, JJ) != 0) return -2;
  j1.reset();
  j2.reset();
  Owned<Bspline, FreeBspline> J1(JJ[0]), J2(JJ[1]);
  if (SplitJoinedSurf(J1.get(), 1 - d[0], f1, swapped1, count1, out) != 0) return -2;
  if (SplitJoinedSurf(J2.get(), 1 - d[0], f2, swapped2, count3, out + 2) != 0) {
    FreeBsplineArrayContents(out, 2);
    return -2;
  }
  return 0;
}

Bspline* BlendFourSurfs(int* bndry, Bspline** objs, int continuity) {
  DeleteTrimInfoOfBsplSet(objs, 4);
  StitchInfo info = SurfSetStitchInfo(continuity);
  Bspline* j[2] = {nullptr, nullptr};
  int d[2] = {0, 0};
  double t[2] = {0.0, 0.0};
  if (!JoinTwoPairs(bndry, objs, &info, j, d, t)) return nullptr;
  Owned<Bspline, FreeBspline> j1(j[0]), j2(j[1]);
  bndry[1] = -1;
  GetSurfPairBndries(j1.get(), &bndry[0], 1 - d[0], j2.get(), &bndry[1], 1 - d[1]);
  Bspline* pair[3] = {j1.get(), j2.get(), nullptr};
  return BlendTwoObjects(bndry, pair, nullptr, nullptr, nullptr, &info);
}

void ScaleObjectDerivative(Bspline* obj, double t, int dir, double factor, int before, int order) {
  ScaleDerivativeAtKnot(obj, t, dir, factor, before, order);
}

void MakeStartAndEndObj(int* bndry, Bspline** objs) { OrientPairEndToStart(bndry, objs); }

Bspline* MakeObjFromTwoObj(Bspline** objs, const double* seamPoint, const int* along,
                           double* seamPar, int positionSide) {
  // Pieces whose knots do not follow on would join into knots that decrease.
  return SoundRecordOrFailed(JoinObjectPair(objs, seamPoint, along, seamPar, positionSide));
}
