#include "bspline/objjoin.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/crvlist.h"
#include "bspline/knots.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/umalloc.h"

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

void OrientPairEndToStart(int* bndry, Bspline** objs) {
  if (bndry[0] == 0) {
    ReverseDirection(objs[0], 0);
    bndry[0] = 2;
  } else if (bndry[0] == 3) {
    ReverseDirection(objs[0], 1);
    bndry[0] = 1;
  }
  if (bndry[1] == 1) {
    ReverseDirection(objs[1], 1);
    bndry[1] = 3;
  } else if (bndry[1] == 2) {
    ReverseDirection(objs[1], 0);
    bndry[1] = 0;
  }
}

namespace {

// One object's coefficients addressed by (index across the seam, index along it) in a flat
// matrix of row length nU: the joining direction is u (jd 0) or v.
struct JoinView {
  int jd;
  int nU;
  int offset(int across, int alongSeam) const {
    return jd == 0 ? alongSeam * nU + across : across * nU + alongSeam;
  }
  int strideAlong() const { return jd == 0 ? nU : 1; }
};

}  // namespace

Bspline* JoinObjectPair(Bspline** objs, const double* seamPoint, const int* along,
                        double* seamPar, int positionSide) {
  if (!objs || !RecordsSound({objs[0], objs[1]}) || (objs[0]->kind == 2 && objs[2] && !RecordsSound({objs[2]})))
    return nullptr;
  Bspline* A = objs[0];
  Bspline* B = objs[1];
  const bool surfaces = A->kind == 2;
  const Bspline* C = surfaces ? objs[2] : nullptr;
  if (positionSide == 3 && (surfaces ? C == nullptr : seamPoint == nullptr)) {
    // The given row is missing: there is nothing to put on the seam.
    SetKernelError(-2);
    return nullptr;
  }
  const int jdA = surfaces ? (along[0] ? 0 : 1) : 0;
  const int jdB = surfaces ? (along[1] ? 0 : 1) : 0;
  const int pA = jdA == 0 ? A->degreeU : A->degreeV;
  const int nA = jdA == 0 ? NumCtrlU(A) : NumCtrlV(A);
  const int nB = jdB == 0 ? NumCtrlU(B) : NumCtrlV(B);
  const int intA = jdA == 0 ? A->interiorU : A->interiorV;
  const int intB = jdB == 0 ? B->interiorU : B->interiorV;
  const double* knA = jdA == 0 ? A->knotsU : A->knotsV;
  const double* knB = jdB == 0 ? B->knotsU : B->knotsV;
  const int nS = surfaces ? (jdA == 0 ? NumCtrlV(A) : NumCtrlU(A)) : 1;
  const int nSB = surfaces ? (jdB == 0 ? NumCtrlV(B) : NumCtrlU(B)) : 1;
  if (nS != nSB || (C && positionSide == 3 && NumCtrlU(C) != nS)) {
    SetKernelError(-2);
    return nullptr;
  }

  Owned<Bspline, FreeBspline> J(MallocNullBspline());
  if (!J) return nullptr;
  J->kind = A->kind;
  J->dimension = A->dimension;
  J->rational = A->rational;
  if (!surfaces) {
    J->degreeU = pA;
    J->interiorU = intA + intB + pA;
    if (A->dimension == 2) J->owner = A->owner;
  } else if (jdA == 0) {
    J->degreeU = pA;
    J->interiorU = intA + intB + pA;
    J->degreeV = A->degreeV;
    J->interiorV = A->interiorV;
  } else {
    J->degreeV = pA;
    J->interiorV = intA + intB + pA;
    J->degreeU = A->degreeU;
    J->interiorU = A->interiorU;
  }
  if (AllocateBsplineArrays(J.get()) < 0) return nullptr;

  double* knJ = jdA == 0 ? J->knotsU : J->knotsV;
  for (int i = 0; i <= nA + pA; ++i) knJ[i] = knA[i];
  for (int i = pA + 1; i <= nB + pA; ++i) knJ[nA + pA + i - (pA + 1)] = knB[i];
  if (surfaces) {
    const double* other = jdA == 0 ? A->knotsV : A->knotsU;
    double* otherJ = jdA == 0 ? J->knotsV : J->knotsU;
    const int count = jdA == 0 ? NumKnotsV(A) : NumKnotsU(A);
    for (int i = 0; i < count; ++i) otherJ[i] = other[i];
    if (along[0] != along[1]) FlipCurveList(B->curves);
  }

  const int nJ = nA + nB - 1;
  const JoinView vJ{jdA, jdA == 0 ? nJ : nS};
  const JoinView vA{jdA, NumCtrlU(A)};
  const JoinView vB{jdB, NumCtrlU(B)};
  double** const comps[4][4] = {{J->X, A->X, B->X, C ? C->X : nullptr},
                                {J->Y, A->Y, B->Y, C ? C->Y : nullptr},
                                {J->Z, A->Z, B->Z, C ? C->Z : nullptr},
                                {J->W, A->W, B->W, C ? C->W : nullptr}};
  const bool has[4] = {true, true, J->dimension == 3, J->rational != 0};
  int pointIndex = 0;  // the seam point's coordinate for this component (curves)
  for (int c = 0; c < 4; ++c) {
    if (!has[c]) continue;
    double* dst = comps[c][0][0];
    const double* a = comps[c][1][0];
    const double* b = comps[c][2][0];
    // The second's rows first, then the first's, so the shared row is the first's.
    for (int i = 0; i < nB; ++i)
      for (int j = 0; j < nS; ++j) dst[vJ.offset(nA - 1 + i, j)] = b[vB.offset(i, j)];
    for (int i = 0; i < nA; ++i)
      for (int j = 0; j < nS; ++j) dst[vJ.offset(i, j)] = a[vA.offset(i, j)];
    const double* vals = nullptr;
    if (positionSide == 3)
      vals = surfaces ? (comps[c][3] ? comps[c][3][0] : nullptr) : seamPoint + pointIndex;
    if (positionSide != 3 || vals)
      SetValsOfMatCol(vals, dst, a, b, vJ.offset(nA - 1, 0), vA.offset(nA - 1, 0),
                      vB.offset(0, 0), vJ.strideAlong(), vA.strideAlong(), vB.strideAlong(), nS,
                      positionSide);
    ++pointIndex;
  }
  SetDomainFromKnots(J.get(), 0);
  if (surfaces) SetDomainFromKnots(J.get(), 1);
  *seamPar = knB[pA];
  // B's knots follow A's only when B's range starts where A's ends: a pair that does not
  // continue gives knots that run back, no record.
  return SoundRecordOrFailed(J.release());
}

void ScaleDerivativeAtKnot(Bspline* obj, double t, int dir, double factor, int before, int order) {
  if (!RecordsSound({obj})) return;
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
  // A difference counts as vanishing below a thousandth of the net's extent (the span-weighted
  // second difference below that times the longer span): fixed lengths left every object a few
  // hundredths across unscaled.
  double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int l = 0; l < L.nLines; ++l)
    for (int i = 0; i < L.nPoints; ++i)
      for (int co = 0; co < nXYZ; ++co) {
        const double x = L.coord[co][l * L.lineStep + i * L.stride];
        lo[co] = std::min(lo[co], x), hi[co] = std::max(hi[co], x);
      }
  double extent = 0.0;
  for (int co = 0; co < nXYZ; ++co) extent = std::hypot(extent, hi[co] - lo[co]);
  const double flat = 1e-3 * extent, flatSecond = flat * std::max(a, b);
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
      if (!(std::fabs(S) > flatSecond)) continue;
      if (std::fabs(P0 - P1) >= flat) {
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

void CopyControlLineOfSurf(Bspline* dst, const Bspline* src, int dstIsColumn, int srcIsColumn,
                          int dstIndex, int srcIndex) {
  if (!RecordShapesSound({dst, src})) return;
  // A column runs over the net's rows (v) at a fixed u index, a row over the columns (u); a
  // curve's net is one row.
  auto rows = [](const Bspline* b) { return b->kind == 2 ? NumCtrlV(b) : 1; };
  const int n = dstIsColumn ? rows(dst) : NumCtrlU(dst);
  const int srcLength = srcIsColumn ? rows(src) : NumCtrlU(src);
  const int dstLines = dstIsColumn ? NumCtrlU(dst) : rows(dst);
  const int srcLines = srcIsColumn ? NumCtrlU(src) : rows(src);
  if (srcLength < n || dstIndex < 0 || dstIndex >= dstLines || srcIndex < 0 || srcIndex >= srcLines) {
    SetKernelError(-2);
    return;
  }
  double** const d[4] = {dst->X, dst->Y, dst->Z, dst->rational ? dst->W : nullptr};
  double** const s[4] = {src->X, src->Y, src->Z, dst->rational ? src->W : nullptr};
  for (int c = 0; c < 4; ++c) {
    if (!d[c] || !s[c]) continue;
    // Each surface's own rows are addressed: a src row read with dst's row length would read
    // another line, or past the block, whenever the two surfaces' nets differ in shape.
    for (int i = 0; i < n; ++i) {
      const double v = srcIsColumn ? s[c][i][srcIndex] : s[c][srcIndex][i];
      (dstIsColumn ? d[c][i][dstIndex] : d[c][dstIndex][i]) = v;
    }
  }
}
