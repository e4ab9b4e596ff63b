// Direct editing: affected control points, edit records and new control-point values.
#include "intersect/cntrlpt.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/nubutil.h"
#include "curve/crvclpt.h"
#include "curve/crvutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"

namespace {

constexpr double kSnap = 0.001;        // share of a span within which a drag snaps to its knot
constexpr int kMaxRow = kMaxSplineDegree + 2;

struct Dir {
  const double* U;
  int p;
  int n;         // control points
  int interior;  // interior knots
  double lo, hi;
};

Dir DirU(const Bspline* b) {
  return {b->knotsU, b->degreeU, NumCtrlU(b), b->interiorU, b->knotsU[b->degreeU],
          b->knotsU[NumCtrlU(b)]};
}
Dir DirV(const Bspline* b) {
  return {b->knotsV, b->degreeV, NumCtrlV(b), b->interiorV, b->knotsV[b->degreeV],
          b->knotsV[NumCtrlV(b)]};
}

// Result of the near-knot rule in one direction: the first affected control point, which of
// base and base + 1 move (bit 0 base, bit 1 base + 1), the relative position s after snapping
// and the basis values of the two.
struct Near {
  int base = 0;
  int chosen = 1;
  double s = 0.0;
  double N0 = 1.0, N1 = 0.0;
};

// The trivial direction of a curve: one row, weight 1.
Near NearOfCurveV() { return Near{}; }

Near NearKnotRule(const Dir& d, double t, bool clamp, const double* basis, int basisSpan) {
  Near r;
  if (clamp) t = std::clamp(t, d.lo, d.hi);
  int k = d.p;
  FindLowKnotIndex(d.U, d.p, t, &k, d.n);
  auto rel = [&](int span) {
    const double len = d.U[span + 1] - d.U[span];
    return len > 0.0 ? (t - d.U[span]) / len : 0.0;
  };
  double s = rel(k);
  bool snapped = false;
  if (std::fabs(s) < kSnap) {
    t = d.U[k];
    snapped = true;
  } else if (std::fabs(1.0 - s) < kSnap && k != d.n - 1) {
    t = d.U[k + 1];
    snapped = true;
  }
  if (snapped) {
    k = d.p;
    FindLowKnotIndex(d.U, d.p, t, &k, d.n);
    s = 0.0;
  }
  const double mtol = 1e-6 * (d.hi - d.lo);
  int m = 0;
  for (int j = 0; j < d.n + d.p + 1; ++j) m += std::fabs(d.U[j] - t) < mtol;
  const int half = d.p / 2;
  int o;
  const bool upperHalfOfBezier = d.interior == 0 && t - d.lo >= d.hi - t;
  if (k == d.p && !upperHalfOfBezier) {
    o = (std::fabs(s) > kSnap && d.n >= 4) ? 1 : 0;
  } else if (d.n - k == 1) {
    o = d.p - 1;
    if (std::fabs(1.0 - s) > kSnap) o = (d.n > 3 && d.p - 2 >= 1) ? d.p - 2 : 0;
  } else {
    o = m == 0 ? half : std::max(0, half - m + 1);
  }
  // base + 1 must stay inside the span's p + 1 functions: the first-span offset 1 would leave
  // them for degree 1 and move a control point whose basis value is 0 there.
  o = std::clamp(o, 0, std::max(d.p - 1, 0));
  r.base = k - d.p + o;
  r.s = s;
  if (std::fabs(s) < kSnap)
    r.chosen = 1;
  else if (std::fabs(1.0 - s) < kSnap)
    r.chosen = 2;
  else
    r.chosen = 3;
  double N[kMaxRow + 1] = {};
  const double* row = basis;
  if (!row || snapped || basisSpan != k) {
    int span = d.p;
    EvalPointOnObjInit(t, d.p, d.U, N, &span, d.n, 0);
    row = N;
  }
  r.N0 = row[o + 1];
  r.N1 = d.p >= 1 ? row[o + 2] : 0.0;
  return r;
}

// Affected indices of a point: the chosen u columns crossed with the chosen v rows, u fastest.
void ListChosen(const Near& u, const Near& v, int nu, int* indices, int* count) {
  int c = 0;
  for (int b = 0; b < 2; ++b)
    for (int a = 0; a < 2; ++a)
      if (((u.chosen >> a) & 1) && ((v.chosen >> b) & 1)) indices[c++] = (v.base + b) * nu + u.base + a;
  *count = c;
}

double* CoefAt(double** M, int nu, int index) { return &M[index / nu][index % nu]; }

// Moves the chosen points of the block at (u, v) so the point moves by d: with w = q_u^a q_v^b
// (factors only where two are chosen) each point moves by w d / sum(w N_u,a N_v,b). Fixed points
// are skipped (their share is not made up). Appends the moved indices.
void MovePointBlock(Bspline* obj, const Near& u, const Near& v, int rowOffset, int colStride,
                    int rowStride, const double d[3], const int* fixed, int* moved, int* count) {
  const double qu = u.chosen == 3 ? u.s / (1.0 - u.s) : 1.0;
  const double qv = v.chosen == 3 ? v.s / (1.0 - v.s) : 1.0;
  double sum = 0.0;
  double w[2][2] = {};
  for (int b = 0; b < 2; ++b)
    for (int a = 0; a < 2; ++a) {
      if (!((u.chosen >> a) & 1) || !((v.chosen >> b) & 1)) continue;
      w[b][a] = (a == 1 && u.chosen == 3 ? qu : 1.0) * (b == 1 && v.chosen == 3 ? qv : 1.0);
      sum += w[b][a] * (a ? u.N1 : u.N0) * (b ? v.N1 : v.N0);
    }
  if (sum == 0.0) return;
  const int nu = NumCtrlU(obj);
  for (int b = 0; b < 2; ++b)
    for (int a = 0; a < 2; ++a) {
      if (w[b][a] == 0.0) continue;
      const int idx = rowOffset + (u.base + a) * colStride + (v.base + b) * rowStride;
      if (fixed && fixed[idx]) continue;
      const double f = w[b][a] / sum;
      *CoefAt(obj->X, nu, idx) += f * d[0];
      *CoefAt(obj->Y, nu, idx) += f * d[1];
      if (obj->dimension == 3) *CoefAt(obj->Z, nu, idx) += f * d[2];
      moved[(*count)++] = idx;
    }
}

int PointEdit(Bspline* obj, double u, double v, int* moved, int* count, const double d[3],
              const double* uBasis, const double* vBasis, int uSpan, int vSpan, const int* fixed) {
  *count = 0;
  const Near nu = NearKnotRule(DirU(obj), u, true, uBasis, uSpan);
  const Near nv = obj->kind == 2 ? NearKnotRule(DirV(obj), v, true, vBasis, vSpan) : NearOfCurveV();
  MovePointBlock(obj, nu, nv, 0, 1, NumCtrlU(obj), d, fixed, moved, count);
  return 0;
}

int TotalCtrl(const Bspline* b) { return NumCtrlU(b) * (b->kind == 2 ? NumCtrlV(b) : 1); }

int Refused() {
  SetKernelError(-2);
  return -2;
}

// The check every entry point here runs first: a sound record (a surface where the function
// reads two directions) and parameters that are numbers; else the error state -2.
bool EditInputsSound(const Bspline* obj, std::initializer_list<double> params, bool surface = false) {
  if (!RecordsSound({obj})) return false;
  if ((surface && obj->kind != 2) || !AllFinite(params)) {
    SetKernelError(-2);
    return false;
  }
  return true;
}

// Basis rows and spans at (u, v) of a record already checked (v read for surfaces only).
void BasisAt(const Bspline* obj, double u, double v, double* uBasis, double* vBasis, int* uSpan,
             int* vSpan) {
  *uSpan = obj->degreeU;
  EvalPointOnObjInit(u, obj->degreeU, obj->knotsU, uBasis, uSpan, NumCtrlU(obj), 0);
  if (obj->kind == 2) {
    *vSpan = obj->degreeV;
    EvalPointOnObjInit(v, obj->degreeV, obj->knotsV, vBasis, vSpan, NumCtrlV(obj), 0);
  }
}

// Parameter box of control point index of a record already checked (curves: two values).
void EffectBox(const Bspline* obj, int index, double* extent) {
  const int nu = NumCtrlU(obj);
  auto box = [](const Dir& d, int i, double* lo, double* hi) {
    *lo = d.U[std::max(i, d.p)];
    *hi = d.U[std::min(i + d.p + 1, d.n)];
  };
  box(DirU(obj), index % nu, &extent[0], &extent[1]);
  if (obj->kind == 2) box(DirV(obj), index / nu, &extent[2], &extent[3]);
}

// The affected set at (u, v) of a record already checked; clamp puts the parameters into the
// domain first (and reuses the basis rows there).
void AffectedAt(const Bspline* obj, double u, double v, bool clamp, int* indices, int* count) {
  double Nu[kMaxRow + 1], Nv[kMaxRow + 1];
  int su = -1, sv = -1;
  if (clamp && obj->kind == 2) BasisAt(obj, u, v, Nu, Nv, &su, &sv);
  const double* uRow = su >= 0 ? Nu : nullptr;
  const double* vRow = sv >= 0 ? Nv : nullptr;
  ListChosen(NearKnotRule(DirU(obj), u, clamp, uRow, su),
             obj->kind == 2 ? NearKnotRule(DirV(obj), v, clamp, vRow, sv) : NearOfCurveV(), NumCtrlU(obj),
             indices, count);
}

}  // namespace

// ---- Affected control points ------------------------------------------------------------------

int SetupDirectEditing(const Bspline* obj, double u, double v, double* uBasis, double* vBasis,
                       int* uSpan, int* vSpan) {
  if (!EditInputsSound(obj, {u, v})) return -2;
  if (!uBasis || !uSpan || (obj->kind == 2 && (!vBasis || !vSpan))) return Refused();
  BasisAt(obj, u, v, uBasis, vBasis, uSpan, vSpan);
  return 0;
}

int SetupDirectEditingLine(const Bspline* srf, double t, double* basis, int* span, int dir) {
  if (!EditInputsSound(srf, {t}, true)) return -2;
  if (!basis || !span) return Refused();
  const Dir d = dir == 0 ? DirU(srf) : DirV(srf);
  *span = d.p;
  EvalPointOnObjInit(t, d.p, d.U, basis, span, d.n, 0);
  return 0;
}

int GetControlPointEffectExtent(const Bspline* obj, int index, double* extent) {
  if (!EditInputsSound(obj, {})) return -2;
  if (!extent || index < 0 || index >= TotalCtrl(obj)) return Refused();
  EffectBox(obj, index, extent);
  return 0;
}

int FindCntPntsEffectExtentParamVals(const Bspline* obj, const int* indices, int n, double* umin,
                                     double* umax, double* vmin, double* vmax) {
  if (!EditInputsSound(obj, {})) return -2;
  if ((n > 0 && !indices) || !umin || !umax || !vmin || !vmax) return Refused();
  for (int k = 0; k < n; ++k)
    if (indices[k] < 0 || indices[k] >= TotalCtrl(obj)) return Refused();
  *umin = *vmin = kNoValue;
  *umax = *vmax = -kNoValue;
  for (int k = 0; k < n; ++k) {
    double e[4] = {0, 0, 0, 0};
    EffectBox(obj, indices[k], e);
    *umin = std::min(*umin, e[0]);
    *umax = std::max(*umax, e[1]);
    if (obj->kind == 2) {
      *vmin = std::min(*vmin, e[2]);
      *vmax = std::max(*vmax, e[3]);
    }
  }
  return 0;
}

int FindAffectedCntPntsSrfGivenParVal(const Bspline* srf, double u, double v, int* indices,
                                      int* count) {
  if (!EditInputsSound(srf, {u, v}, true)) return -2;
  if (!indices || !count) return Refused();
  AffectedAt(srf, u, v, false, indices, count);
  return 0;
}

int FindAffectedCntPntsGivenParVal(const Bspline* obj, double u, double v, int* indices,
                                   int* count) {
  if (!EditInputsSound(obj, {u, v})) return -2;
  if (!indices || !count) return Refused();
  AffectedAt(obj, u, v, false, indices, count);
  return 0;
}

int FindAffectedCntrlPtIndicesSrf(const Bspline* srf, double u, double v, int* indices,
                                  int* count) {
  if (!EditInputsSound(srf, {u, v}, true)) return -2;
  if (!indices || !count) return Refused();
  AffectedAt(srf, u, v, true, indices, count);
  return 0;
}

int FindAffectedCntrlPtIndicesPoint(const Bspline* obj, double u, double v, int* indices,
                                    int* count) {
  if (!EditInputsSound(obj, {u, v})) return -2;
  if (!indices || !count) return Refused();
  AffectedAt(obj, u, v, true, indices, count);
  return 0;
}

int FindAffectedCntrlPtIndicesLineEdit(const Bspline* srf, double t, int* indices, int* count,
                                       int dir) {
  if (!EditInputsSound(srf, {t}, true)) return -2;
  if (!indices || !count) return Refused();
  const Near r = NearKnotRule(dir == 0 ? DirU(srf) : DirV(srf), t, true, nullptr, -1);
  const int nu = NumCtrlU(srf);
  const int along = dir == 0 ? NumCtrlV(srf) : nu;
  const int step = dir == 0 ? 1 : nu;  // from one row of the pair to the other
  int c = 0;
  for (int j = 0; j < along; ++j) {
    const int first = dir == 0 ? r.base + j * nu : r.base * nu + j;
    for (int a = 0; a < 2; ++a)
      if ((r.chosen >> a) & 1) indices[c++] = first + a * step;
  }
  *count = c;
  return 0;
}

// ---- Edit records ----------------------------------------------------------------------------

int FreeUpdateEditStruct(UpdateEditStruct* rec) {
  if (!rec) return 0;
  FreeAndNull(rec->uBasis);
  FreeAndNull(rec->vBasis);
  FreeAndNull(rec->uSpans);
  FreeAndNull(rec->vSpans);
  FreeAndNull(rec->x);
  FreeAndNull(rec->y);
  FreeAndNull(rec->z);
  rec->n = 0;
  return 0;
}

namespace {

// The record behind *rec, made zeroed when there is none, its old arrays released otherwise.
// made tells the caller whether a failure must free the record too.
UpdateEditStruct* OpenUpdateRecord(UpdateEditStruct** rec, bool* made) {
  *made = *rec == nullptr;
  if (*made) return CallocArray<UpdateEditStruct>(1);
  FreeUpdateEditStruct(*rec);
  return *rec;
}

bool AllocPositions(UpdateEditStruct* r, int n) {
  r->x = MallocArray<double>(n);
  r->y = MallocArray<double>(n);
  r->z = MallocArray<double>(n);
  return r->x && r->y && r->z && !KernelFailed();
}

// A point of the object from basis rows (values from element 1) and spans; a 2D curve's point
// is mapped through its owner, so positions are always in space.
void PointFromRows(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                   int vSpan, double out[3]) {
  if (obj->rational) {
    double h[4];
    EvalPointOnBspline4D(obj, uRow + 1, vRow ? vRow + 1 : nullptr, uSpan, vSpan, h);
    for (int c = 0; c < 3; ++c) out[c] = h[3] != 0.0 ? h[c] / h[3] : h[c];
  } else {
    EvalPointOnBspline(obj, uRow + 1, vRow ? vRow + 1 : nullptr, uSpan, vSpan, out);
  }
  if (obj->dimension == 2) {
    if (obj->owner) {
      const int zero = 0;
      double p[1][3];
      EvalPointOnGeometryM(obj->owner, out[0], out[1], &zero, &zero, 1, 0, p);
      std::memcpy(out, p[0], sizeof p[0]);
    } else {
      out[2] = 0.0;
    }
  }
}

}  // namespace

int SetupUpdateEditStructCPT(const Bspline* obj, const int* indices, int n,
                             UpdateEditStruct** rec) {
  bool made = false;
  TrackingScope scope;
  UpdateEditStruct* r = OpenUpdateRecord(rec, &made);
  const bool surf = obj->kind == 2;
  const int pu = obj->degreeU, pv = surf ? obj->degreeV : 0;
  const int nu = NumCtrlU(obj);
  auto fail = [&] {
    if (made) {
      *rec = nullptr;  // the scope frees the record made here
    } else {
      r->uBasis = r->vBasis = r->x = r->y = r->z = nullptr;
      r->uSpans = r->vSpans = nullptr;
      r->n = 0;
    }
    return -2;
  };
  if (!r) return fail();
  r->uBasis = CallocArray<double>(n, pu + 2);
  r->uSpans = MallocArray<int>(n);
  if (surf) {
    r->vBasis = CallocArray<double>(n, pv + 2);
    r->vSpans = MallocArray<int>(n);
  }
  if (!r->uBasis || !r->uSpans || (surf && (!r->vBasis || !r->vSpans)) || !AllocPositions(r, n))
    return fail();
  for (int k = 0; k < n; ++k) {
    const int i = indices[k] % nu, j = indices[k] / nu;
    double* ur = r->uBasis + k * (pu + 2);
    double* vr = surf ? r->vBasis + k * (pv + 2) : nullptr;
    int us = pu, vs = pv;
    EvalPointOnObjInit(GetEditPoint(obj->knotsU, pu + 1, i), pu, obj->knotsU, ur, &us, nu, 0);
    if (surf)
      EvalPointOnObjInit(GetEditPoint(obj->knotsV, pv + 1, j), pv, obj->knotsV, vr, &vs,
                         NumCtrlV(obj), 0);
    r->uSpans[k] = us;
    if (surf) r->vSpans[k] = vs;
    double p[3];
    PointFromRows(obj, ur, vr, us, vs, p);
    r->x[k] = p[0];
    r->y[k] = p[1];
    r->z[k] = p[2];
  }
  r->n = n;
  scope.keep();
  *rec = r;
  return 0;
}

int SetupUpdateEditStructPnt(double x, double y, double z, UpdateEditStruct** rec) {
  bool made = false;
  TrackingScope scope;
  UpdateEditStruct* r = OpenUpdateRecord(rec, &made);
  if (!r || !AllocPositions(r, 1)) {
    if (made)
      *rec = nullptr;
    else
      r->x = r->y = r->z = nullptr;
    return -2;
  }
  r->x[0] = x;
  r->y[0] = y;
  r->z[0] = z;
  r->n = 1;
  scope.keep();
  *rec = r;
  return 0;
}

double ComputeDeviationOfBsplineCPT(const Bspline* obj, const UpdateEditStruct* rec) {
  double worst = -kNoValue;
  if (!rec) return worst;
  const bool surf = obj->kind == 2;
  for (int k = 0; k < rec->n; ++k) {
    double p[3];
    PointFromRows(obj, rec->uBasis + k * (obj->degreeU + 2),
                  surf ? rec->vBasis + k * (obj->degreeV + 2) : nullptr, rec->uSpans[k],
                  surf ? rec->vSpans[k] : 0, p);
    worst = std::max(worst, std::hypot(p[0] - rec->x[k], p[1] - rec->y[k], p[2] - rec->z[k]));
  }
  return worst;
}

double ComputeDeviationOfBsplinePnt(const UpdateEditStruct* rec, double x, double y, double z) {
  if (!rec || rec->n < 1) return -kNoValue;
  return std::hypot(x - rec->x[0], y - rec->y[0], z - rec->z[0]);
}

int Eval3DGridNubVals(const Bspline* obj, const double* u, const double* v, int nuGrid, int nvGrid,
                      int extra, int trailing, double** uTable, double** vTable, int** uSpans,
                      int** vSpans) {
  // Every order up to 2: the tables serve positions, normals and curvature alike.
  const int du[3] = {0, 1, 2}, dv[3] = {0, 0, 0};
  return EvalNubValsOnGridM(obj, u, v, nuGrid + extra + trailing, nvGrid + extra + trailing, du,
                            dv, 3, uTable, vTable, uSpans, vSpans);
}

int FreePartialSurfEditStruct(SurfEditStruct* rec) {
  if (!rec) return 0;
  FreeAndNull(rec->inside);
  FreeAndNull(rec->extraInside);
  FreeAndNull(rec->x);
  FreeAndNull(rec->y);
  FreeAndNull(rec->z);
  rec->insideCount = rec->extraInsideCount = 0;
  return 0;
}

int FreeSurfEditStruct(SurfEditStruct** rec) {
  if (!rec || !*rec) return 0;
  SurfEditStruct* r = *rec;
  FreePartialSurfEditStruct(r);
  FreeAndNull(r->uBasis);
  FreeAndNull(r->vBasis);
  FreeAndNull(r->uSpans);
  FreeAndNull(r->vSpans);
  Free(r);
  *rec = nullptr;
  return 0;
}

int FreePartialPlotEditStruct(PlotEditStruct* rec) {
  if (!rec) return 0;
  FreeAndNull(rec->gridIdx);
  FreeAndNull(rec->needleIdx);
  FreeAndNull(rec->x);
  FreeAndNull(rec->y);
  FreeAndNull(rec->z);
  rec->gridCount = rec->needleCount = 0;
  return 0;
}

int FreePlotEditStruct(PlotEditStruct** rec) {
  if (!rec || !*rec) return 0;
  PlotEditStruct* r = *rec;
  FreePartialPlotEditStruct(r);
  FreeAndNull(r->uPar);
  FreeAndNull(r->vPar);
  FreeAndNull(r->uBasis);
  FreeAndNull(r->vBasis);
  FreeAndNull(r->unread);
  FreeAndNull(r->uSpan);
  FreeAndNull(r->vSpan);
  Free(r);
  *rec = nullptr;
  return 0;
}

int SetupEvalPartialGridCntPnt(const Bspline* obj, const int* indices, int n, const double* u,
                               const double* v, int nuGrid, int nvGrid, int extra, int trailing,
                               SurfEditStruct** rec) {
  const bool surf = obj->kind == 2;
  TrackingScope scope;
  SurfEditStruct* r = *rec;
  const bool made = r == nullptr;
  if (made) {
    // Zeroed by its own size: the record's layout is this system's, not a fixed byte count.
    r = CallocArray<SurfEditStruct>(1);
    if (!r) return -2;
    if (Eval3DGridNubVals(obj, u, v, nuGrid, surf ? nvGrid : 0, extra, trailing, &r->uBasis,
                          &r->vBasis, &r->uSpans, &r->vSpans) != 0) {
      FreeSurfEditStruct(&r);
      return -2;
    }
    r->nuGrid = nuGrid;
    r->nvGrid = surf ? nvGrid : 1;
    r->extraPairs = extra;
    r->trailingCount = trailing;
  } else {
    FreePartialSurfEditStruct(r);
  }
  auto fail = [&] {
    if (made) {
      FreeSurfEditStruct(&r);
      *rec = nullptr;
    } else {
      FreePartialSurfEditStruct(r);
    }
    return -2;
  };
  double umin, umax, vmin, vmax;
  FindCntPntsEffectExtentParamVals(obj, indices, n, &umin, &umax, &vmin, &vmax);
  // Strictly inside a box grown by 1e-6 of the range, so a point on the region's edge counts.
  const double tu = 1e-6 * (obj->knotsU[NumCtrlU(obj)] - obj->knotsU[obj->degreeU]);
  const double tv = surf ? 1e-6 * (obj->knotsV[NumCtrlV(obj)] - obj->knotsV[obj->degreeV]) : 0.0;
  auto inU = [&](double x) { return umin - tu < x && x < umax + tu; };
  auto inV = [&](double x) { return !surf || (vmin - tv < x && x < vmax + tv); };
  const int rows = surf ? nvGrid : 1;
  r->inside = MallocArray<int>(std::max(nuGrid * rows, 1));
  r->extraInside = MallocArray<int>(std::max(extra, 1));
  if (!r->inside || !r->extraInside || KernelFailed()) return fail();
  for (int j = 0; j < rows; ++j) {
    if (!inV(surf ? v[j] : 0.0)) continue;
    for (int i = 0; i < nuGrid; ++i)
      if (inU(u[i])) r->inside[r->insideCount++] = j * nuGrid + i;
  }
  for (int k = 0; k < extra; ++k)
    if (inU(u[nuGrid + k]) && inV(surf ? v[nvGrid + k] : 0.0)) r->extraInside[r->extraInsideCount++] = k;
  const int slots = std::max(r->insideCount + r->extraInsideCount + trailing, 1);
  r->x = MallocArray<float>(slots);
  r->y = MallocArray<float>(slots);
  r->z = MallocArray<float>(slots);
  if (!r->x || !r->y || !r->z || KernelFailed()) return fail();
  r->uMin = umin;
  r->uMax = umax;
  r->vMin = surf ? vmin : 0.0;
  r->vMax = surf ? vmax : 0.0;
  scope.keep();
  *rec = r;
  return 0;
}

// ---- New control-point values ------------------------------------------------------------------

int GetNewCntrlPtValsSrf(Bspline* srf, double u, double v, int* moved, int* count, double dx,
                         double dy, double dz, const double* uBasis, const double* vBasis,
                         int uSpan, int vSpan, const int* fixed) {
  if (!EditInputsSound(srf, {u, v, dx, dy, dz}, true)) return -2;
  if (!moved || !count) return Refused();
  const double d[3] = {dx, dy, dz};
  return PointEdit(srf, u, v, moved, count, d, uBasis, vBasis, uSpan, vSpan, fixed);
}

int GetNewCntrlPtVals(Bspline* obj, double u, double v, int* moved, int* count, double dx,
                      double dy, double dz, const double* uBasis, const double* vBasis, int uSpan,
                      int vSpan, const int* fixed) {
  if (!EditInputsSound(obj, {u, v, dx, dy, dz})) return -2;
  if (!moved || !count) return Refused();
  const double d[3] = {dx, dy, dz};
  return PointEdit(obj, u, v, moved, count, d, uBasis, vBasis, uSpan, vSpan, fixed);
}

int GetNewCntrlPtValsLineEdit(Bspline* srf, double t, int* moved, int* count, const int* fixed,
                              double dx, double dy, double dz, const double* basis, int span,
                              int dir) {
  if (!EditInputsSound(srf, {t, dx, dy, dz}, true)) return -2;
  if (!moved || !count) return Refused();
  const double d[3] = {dx, dy, dz};
  const Near r = NearKnotRule(dir == 0 ? DirU(srf) : DirV(srf), t, true, basis, span);
  const int nu = NumCtrlU(srf);
  const int along = dir == 0 ? NumCtrlV(srf) : nu;
  *count = 0;
  for (int j = 0; j < along; ++j) {
    // Each row across the line is a curve point edit of its pair.
    const int first = dir == 0 ? r.base + j * nu : r.base * nu + j;
    const int step = dir == 0 ? 1 : nu;
    const int lead = first + (r.chosen == 2 ? step : 0);
    if (fixed && fixed[lead]) continue;
    Near pair = r;
    pair.base = 0;
    MovePointBlock(srf, pair, NearOfCurveV(), first, step, 0, d, nullptr, moved, count);
  }
  return 0;
}

int GetNewCntrlPtValsClusterEdit(Bspline* obj, const double* uv, int n, int* moved, int* count,
                                 const int* fixed, double dx, double dy, double dz) {
  if (!EditInputsSound(obj, {dx, dy, dz})) return -2;
  if ((n > 0 && (!uv || !AllFinite(uv, 2 * n))) || !moved || !count) return Refused();
  const int total = TotalCtrl(obj);
  *count = 0;
  TrackingScope scope;
  int* taken = CallocArray<int>(total);
  if (!taken) return -2;
  if (fixed) std::memcpy(taken, fixed, sizeof(int) * total);
  const double d[3] = {dx, dy, dz};
  for (int k = 0; k < n; ++k) {
    double Nu[kMaxRow + 1], Nv[kMaxRow + 1];
    int su = 0, sv = 0, got[4], c = 0;
    BasisAt(obj, uv[2 * k], uv[2 * k + 1], Nu, Nv, &su, &sv);
    PointEdit(obj, uv[2 * k], uv[2 * k + 1], got, &c, d, Nu, Nv, su, sv, taken);
    for (int e = 0; e < c; ++e) taken[got[e]] = 1;
  }
  for (int i = 0; i < total; ++i)
    if (taken[i] && !(fixed && fixed[i])) moved[(*count)++] = i;
  return 0;
}

// ---- Editable control points near trims ----------------------------------------------------

namespace {

int KnotLinesU(const Bspline* b) { return b->interiorU + 2; }
int KnotLinesV(const Bspline* b) { return b->kind == 2 ? b->interiorV + 2 : 1; }

// The indices whose flag is set, ascending.
void ListFlagged(const char* flags, int n, int* out, int* count) {
  *count = 0;
  for (int i = 0; i < n; ++i)
    if (flags[i]) out[(*count)++] = i;
}

// The caller's result array is made before the working scope opens, so that scope can free all
// of its scratch on every path; Fail gives it back.
int* NewResult(int n) { return MallocArray<int>(std::max(n, 1)); }
int* Fail(int* out, int* count) {
  Free(out);
  if (count) *count = 0;
  return nullptr;
}

// Calls visit(u, v) at 2 samples per span of every curve of the loop, in the surface's plane.
// False on no memory.
template <class Visit>
bool ForEachLoopSample(BsplineList* loop, Visit visit) {
  for (BsplineList* node = loop; node; node = node->next) {
    Bspline* crv = node->item;
    if (!crv) continue;
    TrackingScope scope;
    int n = 0;
    // The samples come back untracked: they are freed here on every path.
    double* t = SampleCurvePlateProper(crv, 2, &n);
    double* u = t ? MallocArray<double>(std::max(n, 1)) : nullptr;
    double* v = u ? MallocArray<double>(std::max(n, 1)) : nullptr;
    const bool ok = v && !KernelFailed();
    if (ok) EvalNpntsOnObj(crv, 0, 0, t, nullptr, n, u, v, nullptr);
    Free(t);
    if (!ok) return false;
    for (int k = 0; k < n; ++k) visit(u[k], v[k]);
  }
  return true;
}

// Marks the fixed knot lines of one direction: low lines [0, lo) and high lines (hi, K - 1];
// false when no free line is left between them.
bool FixedKnotLines(int cLow, int cHigh, int p, int K, int* lo, int* hi) {
  auto lines = [&](int c, bool high) {
    if (c < 0) return 0;
    if (c <= 1) return 1;
    return std::max(0, high ? c + 2 + p / 2 - p : c + 1 - p / 2);
  };
  *lo = lines(cLow, false);
  *hi = K - 1 - lines(cHigh, true);
  return *lo < *hi;
}

// Flags of the knot-grid points the boundary request fixes.
void MarkFixedKnotsNonTrim(const Bspline* obj, const int cont[4], char* marked) {
  const int Ku = KnotLinesU(obj), Kv = KnotLinesV(obj);
  const bool surf = obj->kind == 2;
  int ulo, uhi, vlo = 0, vhi = Kv - 1;
  bool free = FixedKnotLines(cont[0], cont[2], obj->degreeU, Ku, &ulo, &uhi);
  if (surf) free = FixedKnotLines(cont[3], cont[1], obj->degreeV, Kv, &vlo, &vhi) && free;
  for (int j = 0; j < Kv; ++j)
    for (int i = 0; i < Ku; ++i)
      marked[j * Ku + i] = !free || i < ulo || i > uhi || (surf && (j < vlo || j > vhi));
}

bool MarkKnotsNearLoop(const Bspline* obj, BsplineList* loop, char* marked) {
  const int nu = NumCtrlU(obj), nv = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const int Ku = KnotLinesU(obj), Kv = KnotLinesV(obj);
  auto shift = [](int i, int n, int p) {
    if (i == 0) return 0;
    if (i == 1) return 1;
    if (i == n - 1) return p - 1;
    if (i == n - 2) return p - 2;
    return p / 2;
  };
  return ForEachLoopSample(loop, [&](double u, double v) {
    int idx[4], c = 0;
    FindAffectedCntPntsGivenParVal(obj, u, v, idx, &c);
    for (int e = 0; e < c; ++e) {
      const int i = idx[e] % nu, j = idx[e] / nu;
      const int a = i - shift(i, nu, obj->degreeU);
      const int b = obj->kind == 2 ? j - shift(j, nv, obj->degreeV) : 0;
      for (int y = std::max(b - 1, 0); y <= std::min(b + 1, Kv - 1); ++y)
        for (int x = std::max(a - 1, 0); x <= std::min(a + 1, Ku - 1); ++x) marked[y * Ku + x] = 1;
    }
  });
}

// Control points whose support holds a sample of the loop, each once in first-seen order.
bool CtrlNearLoop(const Bspline* obj, BsplineList* loop, char* seen, int* list, int* count) {
  const int nu = NumCtrlU(obj);
  const bool surf = obj->kind == 2;
  const int pu = obj->degreeU, pv = surf ? obj->degreeV : 0;
  return ForEachLoopSample(loop, [&](double u, double v) {
    int ku = pu, kv = pv;
    FindLowKnotIndex(obj->knotsU, pu, u, &ku, nu);
    if (surf) FindLowKnotIndex(obj->knotsV, pv, v, &kv, NumCtrlV(obj));
    for (int j = kv - pv; j <= kv; ++j)
      for (int i = ku - pu; i <= ku; ++i) {
        const int idx = j * nu + i;
        if (seen[idx]) continue;
        seen[idx] = 1;
        list[(*count)++] = idx;
      }
  });
}

}  // namespace

int* GetFixCntrlPtIndicesNonTrim(const Bspline* obj, const int cont[4], int* count) {
  if (!EditInputsSound(obj, {})) return nullptr;
  if (!cont || !count) return MadeOrFailed<int>(nullptr);
  const int nu = NumCtrlU(obj), nv = obj->kind == 2 ? NumCtrlV(obj) : 1;
  const bool surf = obj->kind == 2;
  int* out = NewResult(nu * nv);
  if (!out) return nullptr;
  TrackingScope scope;
  char* flags = CallocArray<char>(nu * nv);
  if (!flags || KernelFailed()) return Fail(out, count);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i)
      flags[j * nu + i] = i <= cont[0] || i >= nu - cont[2] - 1 ||
                          (surf && (j <= cont[3] || j >= nv - cont[1] - 1));
  ListFlagged(flags, nu * nv, out, count);
  return out;
}

int* GetFixCntrlPtIndicesTrimCurve(const Bspline* obj, BsplineList* loop, int, int* count) {
  const int total = TotalCtrl(obj);
  *count = 0;
  int* list = NewResult(total);
  if (!list) return nullptr;
  TrackingScope scope;
  char* seen = CallocArray<char>(total);
  if (!seen || !CtrlNearLoop(obj, loop, seen, list, count) || KernelFailed())
    return Fail(list, count);
  return list;
}

int* FindEditableCntPntsBspline(Bspline* obj, const int cont[4], const int* loopFlags, int* count) {
  if (!EditInputsSound(obj, {})) return nullptr;
  if (!cont || !count) return MadeOrFailed<int>(nullptr);
  const int total = TotalCtrl(obj);
  const int nu = NumCtrlU(obj);
  const bool surf = obj->kind == 2;
  *count = 0;
  int* out = NewResult(total);
  if (!out) return nullptr;
  TrackingScope scope;
  char* fixed = CallocArray<char>(total);
  char* guarded = CallocArray<char>(total);
  char* seen = CallocArray<char>(total);
  int* near = MallocArray<int>(std::max(total, 1));
  if (!fixed || !guarded || !seen || !near || KernelFailed()) return Fail(out, count);
  // A surface bounded by an outer trim loop has no untrimmed boundary to keep.
  if (!surf || !obj->trims || !IsOuterTrim(obj)) {
    int n = 0;
    int* f = GetFixCntrlPtIndicesNonTrim(obj, cont, &n);
    if (!f) return Fail(out, count);
    for (int k = 0; k < n; ++k) fixed[f[k]] = 1;
  }
  int l = 0;
  for (TrimList* loop = surf ? obj->trims : nullptr; loop; loop = loop->next, ++l) {
    int n = 0;
    std::memset(seen, 0, total);
    if (!CtrlNearLoop(obj, loop->loopCurves, seen, near, &n)) return Fail(out, count);
    char* mark = loopFlags && loopFlags[l] == -1 ? guarded : fixed;
    for (int k = 0; k < n; ++k) mark[near[k]] = 1;
  }
  if (surf && obj->trims) {
    const int loops = CountTrimCurves(obj);
    double*** tu = CallocArray<double**>(loops);
    double*** tv = CallocArray<double**>(loops);
    if (!tu || !tv || KernelFailed()) return Fail(out, count);
    GetAllTrimArrays(obj, tu, tv);
    // The Greville parameters may come back untracked: freed here.
    double* gu = FindParamValuesOfCoefi(obj, 0);
    double* gv = FindParamValuesOfCoefi(obj, 1);
    const bool ok = gu && gv && !KernelFailed();
    const double far[2] = {0.0, 0.0};
    for (int k = 0; ok && k < total; ++k)
      if (!fixed[k] && !guarded[k] && !IsPointInTrimArrays(obj, gu[k % nu], gv[k / nu], far, tu, tv))
        fixed[k] = 1;
    Free(gu);
    Free(gv);
    if (!ok) return Fail(out, count);
  }
  for (int k = 0; k < total; ++k) fixed[k] = !fixed[k];
  ListFlagged(fixed, total, out, count);
  return out;
}

int* GetFixKnotIndicesNonTrim(const Bspline* obj, const int cont[4], int* count) {
  if (!EditInputsSound(obj, {})) return nullptr;
  if (!cont || !count) return MadeOrFailed<int>(nullptr);
  const int K = KnotLinesU(obj) * KnotLinesV(obj);
  int* out = NewResult(K);
  if (!out) return nullptr;
  TrackingScope scope;
  char* marked = CallocArray<char>(K);
  if (!marked || KernelFailed()) return Fail(out, count);
  MarkFixedKnotsNonTrim(obj, cont, marked);
  ListFlagged(marked, K, out, count);
  return out;
}

int* GetFixKnotIndicesTrimCurve(const Bspline* obj, BsplineList* loop, int, int* count) {
  const int K = KnotLinesU(obj) * KnotLinesV(obj);
  *count = 0;
  int* out = NewResult(K);
  if (!out) return nullptr;
  TrackingScope scope;
  char* marked = CallocArray<char>(K);
  if (!marked || !MarkKnotsNearLoop(obj, loop, marked) || KernelFailed()) return Fail(out, count);
  ListFlagged(marked, K, out, count);
  return out;
}

int* FindEditableRegionsOfBspline(Bspline* obj, const int cont[4], const int* loopFlags) {
  if (!EditInputsSound(obj, {})) return nullptr;
  if (!cont) return MadeOrFailed<int>(nullptr);
  const bool surf = obj->kind == 2;
  const int Ku = KnotLinesU(obj), Kv = KnotLinesV(obj);
  int* out = CallocArray<int>(std::max((Ku - 1) * std::max(Kv - 1, 1), 1));
  if (!out) return nullptr;
  TrackingScope scope;
  // u edge (i, j)-(i + 1, j) at j (Ku - 1) + i; v edge (i, j)-(i, j + 1) at j Ku + i.
  char* ue = MallocArray<char>(std::max((Ku - 1) * Kv, 1));
  char* ve = MallocArray<char>(std::max(Ku * (Kv - 1), 1));
  char* marked = CallocArray<char>(Ku * Kv);
  if (!ue || !ve || !marked || KernelFailed()) return Fail(out, nullptr);
  std::memset(ue, 1, std::max((Ku - 1) * Kv, 1));
  std::memset(ve, 1, std::max(Ku * (Kv - 1), 1));
  // any: an edge with one marked end is disabled; otherwise both ends must be marked.
  auto disable = [&](bool any) {
    for (int j = 0; j < Kv; ++j)
      for (int i = 0; i + 1 < Ku; ++i) {
        const bool a = marked[j * Ku + i], b = marked[j * Ku + i + 1];
        if (any ? (a || b) : (a && b)) ue[j * (Ku - 1) + i] = 0;
      }
    for (int j = 0; j + 1 < Kv; ++j)
      for (int i = 0; i < Ku; ++i) {
        const bool a = marked[j * Ku + i], b = marked[(j + 1) * Ku + i];
        if (any ? (a || b) : (a && b)) ve[j * Ku + i] = 0;
      }
  };
  const bool request = cont[0] >= 0 || cont[1] >= 0 || cont[2] >= 0 || cont[3] >= 0;
  if (request && !(surf && IsOuterTrim(obj))) {
    MarkFixedKnotsNonTrim(obj, cont, marked);
    disable(true);
  }
  int l = 0;
  for (TrimList* loop = surf ? obj->trims : nullptr; loop; loop = loop->next, ++l) {
    if (loopFlags && loopFlags[l] == -1) continue;
    std::memset(marked, 0, Ku * Kv);
    if (!MarkKnotsNearLoop(obj, loop->loopCurves, marked)) return Fail(out, nullptr);
    disable(false);
  }
  if (!surf) {
    for (int i = 0; i + 1 < Ku; ++i) out[i] = ue[i];
  } else {
    for (int j = 0; j + 1 < Kv; ++j)
      for (int i = 0; i + 1 < Ku; ++i)
        out[j * (Ku - 1) + i] = ue[j * (Ku - 1) + i] && ue[(j + 1) * (Ku - 1) + i] &&
                                ve[j * Ku + i] && ve[j * Ku + i + 1];
  }
  if (KernelFailed()) return Fail(out, nullptr);
  return out;
}
