#include "bspline/ctrlnubs.h"

#include <cstring>

#include "bspline/nubs.h"
#include "bspline/nubs_simd.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "intersect/cntrlpt.h"

namespace {

constexpr int kOrd = kMaxSplineDegree + 1;
constexpr int kMaxOrder = 2;  // requests go up to second derivatives per direction

// From the derivatives of order m of the degree-q functions N(span-q) .. N(span) (q + 1
// values) to order m + 1 of degree q + 1 (q + 2 values, N(span-q-1) .. N(span)):
//   D(i) = (q + 1) (V(i) / (k[i+q+1] - k[i]) - V(i+1) / (k[i+q+2] - k[i+1])).
// A zero knot difference belongs to a function that vanishes identically: its term is 0
// (at clamped ends the textbook formula would divide 0 by 0).
void RaiseDerivative(const double* knots, int span, int q, const double* V, double* D) {
  for (int k = 0; k <= q + 1; ++k) {
    const int i = span - (q + 1) + k;
    double r = 0.0;
    if (k >= 1) {
      const double den = knots[i + q + 1] - knots[i];
      if (den != 0.0) r += V[k - 1] / den;
    }
    if (k <= q) {
      const double den = knots[i + q + 2] - knots[i + 1];
      if (den != 0.0) r -= V[k] / den;
    }
    D[k] = (q + 1) * r;
  }
}

// The orders one direction's table needs for the requests: each requested order in
// first-seen order, and with `lower` every order below a requested one (the quotient rule
// and the chain rule read them). Returns the count.
int CollectOrders(const int* req, int n, bool lower, int* orders) {
  bool have[kMaxOrder + 1] = {false, false, false};
  int count = 0;
  auto add = [&](int d) {
    if (!have[d]) {
      have[d] = true;
      orders[count++] = d;
    }
  };
  for (int k = 0; k < n; ++k) {
    add(req[k]);
    if (lower)
      for (int d = 0; d < req[k]; ++d) add(d);
  }
  return count;
}

bool OrdersOk(const Bspline* obj, const int* du, const int* dv, int n) {
  const bool surf = obj->kind == 2;
  for (int k = 0; k < n; ++k) {
    if (du[k] < 0 || du[k] > kMaxOrder) return false;
    if (surf && (dv[k] < 0 || dv[k] > kMaxOrder)) return false;
  }
  return true;
}

bool NeedsLowerOrders(const Bspline* obj, int mapFlag) {
  return obj->rational || (obj->kind != 2 && obj->dimension == 2 && mapFlag);
}

// Homogeneous sums A(i, j) for i <= du, j <= dv from whole tables, dim + 1 values each.
void HomogeneousTable(const Bspline* obj, const double* uTable, const double* vTable, int uSpan,
                      int vSpan, int du, int dv, int dim, double* A) {
  const int ou = obj->degreeU + 1, ov = obj->degreeV + 1;
  for (int i = 0; i <= du; ++i)
    for (int j = 0; j <= dv; ++j) {
      double h[4] = {};
      EvalPointOnBspline4D(obj, uTable + i * ou, vTable ? vTable + j * ov : nullptr, uSpan, vSpan,
                           h);
      double* a = A + (i * (dv + 1) + j) * (dim + 1);
      a[0] = h[0];
      a[1] = h[1];
      if (dim == 3) a[2] = h[2];
      a[dim] = h[3];
    }
}

}  // namespace

int EvalPointOnBspline(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                       int vSpan, double out[3]) {
  return nubkernel::PointOnBspline(obj, uRow, vRow, uSpan, vSpan, out);
}

int EvalPointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                         int vSpan, double out[4]) {
  return nubkernel::PointOnBspline4D(obj, uRow, vRow, uSpan, vSpan, out);
}

int ComputeNubValDerivativesM(const double* knots, double t, int nKnots, int p, const int* orders,
                              int count, int* span, double* table) {
  if (count <= 0 || orders[0] > kMaxOrder) return 0;
  if (p < 0 || p > kMaxSplineDegree) return -2;
  const int nCtrl = nKnots - p - 1;
  t = nubkernel::Clamp(t, knots[p], knots[nCtrl]);
  FindLowKnotIndex(knots, p, t, span, nCtrl);
  double all[1 + kOrd * (kOrd + 1) / 2];
  ComputeNubValsM(knots, p, t, *span, all);
  for (int c = 0; c < count; ++c) {
    const int d = orders[c];
    if (d < 0 || d > kMaxOrder) continue;
    double* row = table + d * (p + 1);
    if (d > p) {
      for (int k = 0; k <= p; ++k) row[k] = 0.0;
      continue;
    }
    // Start from the degree p - d values and raise degree and order together d times.
    double cur[kOrd], next[kOrd];
    const double* base = all + 1 + (p - d) * (p - d + 1) / 2;
    for (int k = 0; k <= p - d; ++k) cur[k] = base[k];
    for (int q = p - d; q < p; ++q) {
      RaiseDerivative(knots, *span, q, cur, next);
      for (int k = 0; k <= q + 1; ++k) cur[k] = next[k];
    }
    for (int k = 0; k <= p; ++k) row[k] = cur[k];
  }
  return 0;
}

int EvalPointDirectDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                  int uSpan, int vSpan, int du, int dv, double out[3]) {
  if (!nubkernel::DegreesOk(obj)) return -2;
  const bool surf = obj->kind == 2;
  if (du < 0 || du > kMaxOrder || (surf && (dv < 0 || dv > kMaxOrder))) return -2;
  const bool alongV = surf && du == 0;
  const int k = alongV ? dv : du;
  const int dim = obj->dimension == 2 ? 2 : 3;
  double A[(kMaxOrder + 1) * 4];
  // A(i) along the chosen direction; the other direction stays at its value row.
  for (int i = 0; i <= k; ++i) {
    double h[4] = {};
    const double* ur = uTable + (alongV ? 0 : i) * (obj->degreeU + 1);
    const double* vr = surf ? vTable + (alongV ? i : 0) * (obj->degreeV + 1) : nullptr;
    EvalPointOnBspline4D(obj, ur, vr, uSpan, vSpan, h);
    double* a = A + i * (dim + 1);
    a[0] = h[0];
    a[1] = h[1];
    if (dim == 3) a[2] = h[2];
    a[dim] = h[3];
  }
  out[2] = 0.0;
  ApplyQuotientRule(A, k, 0, dim, out);
  return 0;
}

int EvalPointCrossDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                 int uSpan, int vSpan, int du, int dv, double out[3]) {
  if (!nubkernel::DegreesOk(obj)) return -2;
  if (du < 0 || dv < 0 || du > kMaxOrder || dv > kMaxOrder) return -2;
  if (obj->kind != 2 || du == 0 || dv == 0)
    return EvalPointDirectDiffOnRBspline(obj, uTable, vTable, uSpan, vSpan, du, dv, out);
  double A[(kMaxOrder + 1) * (kMaxOrder + 1) * 4];
  HomogeneousTable(obj, uTable, vTable, uSpan, vSpan, du, dv, 3, A);
  ApplyQuotientRule(A, du, dv, 3, out);
  return 0;
}

int EvalPointOnRBspline(const Bspline* obj, const double* uTable, const double* vTable, int uSpan,
                        int vSpan, int du, int dv, double out[3]) {
  if (!nubkernel::DegreesOk(obj)) return -2;
  const bool surf = obj->kind == 2;
  if (!surf) dv = 0;
  if (du < 0 || dv < 0 || du > kMaxOrder || dv > kMaxOrder) return -2;
  if (du == 0 && dv == 0) {
    double h[4] = {};
    EvalPointOnBspline4D(obj, uTable, surf ? vTable : nullptr, uSpan, vSpan, h);
    out[0] = h[0] / h[3];
    out[1] = h[1] / h[3];
    out[2] = h[2] / h[3];
    return 0;
  }
  if (du != 0 && dv != 0)
    return EvalPointCrossDiffOnRBspline(obj, uTable, vTable, uSpan, vSpan, du, dv, out);
  return EvalPointDirectDiffOnRBspline(obj, uTable, vTable, uSpan, vSpan, du, dv, out);
}

int EvalPointOn2DBspline(const Bspline* crv, const double* table, int span, int order, int mapFlag,
                         double out[3]) {
  if (order < 0 || order > kMaxOrder) return -2;
  const Bspline* srf = crv->owner;
  if (mapFlag && !srf) return -2;
  const int ou = crv->degreeU + 1;
  // (u, v) and its derivatives up to the order, Cartesian (rational curves by the quotient rule).
  auto uv = [&](int d, double r[3]) {
    if (crv->rational)
      EvalPointOnRBspline(crv, table, nullptr, span, 0, d, 0, r);
    else
      EvalPointOnBspline(crv, table + d * ou, nullptr, span, 0, r);
    r[2] = 0.0;
  };
  if (!mapFlag) {
    uv(order, out);
    return 0;
  }
  double c0[3];
  uv(0, c0);
  if (order == 0) {
    Eval3DPointOnSurfArray(srf, c0[0], c0[1], 0, 0, out);
    return 0;
  }
  double c1[3];
  uv(1, c1);
  const int du[5] = {1, 0, 1, 2, 0};
  const int dv[5] = {0, 1, 1, 0, 2};
  double s[5][3];
  if (EvalPointOnGeometryM(srf, c0[0], c0[1], du, dv, order == 1 ? 2 : 5, 0, s) != 0) return -2;
  if (order == 1) {
    for (int k = 0; k < 3; ++k) out[k] = s[0][k] * c1[0] + s[1][k] * c1[1];
    return 0;
  }
  double c2[3];
  uv(2, c2);
  for (int k = 0; k < 3; ++k)
    out[k] = (2.0 * s[2][k] * c1[0] + s[4][k] * c1[1]) * c1[1] + s[3][k] * c1[0] * c1[0] +
             s[1][k] * c2[1] + s[0][k] * c2[0];
  return 0;
}

namespace {

// One request from whole tables into out (step 3 of the point evaluation).
void EvalRequest(const Bspline* obj, int du, int dv, const double* uTable, const double* vTable,
                 int uSpan, int vSpan, int mapFlag, double out[3]) {
  const bool surf = obj->kind == 2;
  if (!surf && obj->dimension == 2) {
    EvalPointOn2DBspline(obj, uTable, uSpan, du, mapFlag, out);
  } else if (obj->rational) {
    EvalPointOnRBspline(obj, uTable, vTable, uSpan, vSpan, du, surf ? dv : 0, out);
  } else {
    nubkernel::PointOnBspline(obj, uTable + du * (obj->degreeU + 1),
                              surf ? vTable + dv * (obj->degreeV + 1) : nullptr, uSpan, vSpan, out);
  }
}

}  // namespace

int EvalPointOnGeometryM(const Bspline* obj, double u, double v, const int* du, const int* dv,
                         int n, int mapFlag, double (*out)[3]) {
  if (!nubkernel::DegreesOk(obj) || !OrdersOk(obj, du, dv, n)) return -2;
  const bool surf = obj->kind == 2;
  if (!surf && obj->dimension == 2 && mapFlag && !obj->owner) return -2;
  if (n <= 0) return 0;
  const bool lower = NeedsLowerOrders(obj, mapFlag);
  int ordU[kMaxOrder + 1], ordV[kMaxOrder + 1];
  const int cu = CollectOrders(du, n, lower, ordU);
  double tu[(kMaxOrder + 1) * kOrd] = {}, tv[(kMaxOrder + 1) * kOrd] = {};
  int spanU = obj->degreeU, spanV = 0;
  ComputeNubValDerivativesM(obj->knotsU, u, NumKnotsU(obj), obj->degreeU, ordU, cu, &spanU, tu);
  if (surf) {
    const int cv = CollectOrders(dv, n, lower, ordV);
    spanV = obj->degreeV;
    ComputeNubValDerivativesM(obj->knotsV, v, NumKnotsV(obj), obj->degreeV, ordV, cv, &spanV, tv);
  }
  for (int k = 0; k < n; ++k)
    EvalRequest(obj, du[k], surf ? dv[k] : 0, tu, surf ? tv : nullptr, spanU, spanV, mapFlag,
                out[k]);
  return 0;
}

int EvalNubValsOnGridM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                       const int* du, const int* dv, int n, double** uTables, double** vTables,
                       int** uSpans, int** vSpans) {
  if (!nubkernel::DegreesOk(obj) || !OrdersOk(obj, du, dv, n)) return -2;
  const bool surf = obj->kind == 2;
  *uTables = *vTables = nullptr;
  *uSpans = *vSpans = nullptr;
  if (nu <= 0 || (surf && nv <= 0)) return 0;
  // Every order up to the highest requested: rational tables and mapped 2D curves read them,
  // and the rows cost little next to the span search.
  const int all[kMaxOrder + 1] = {0, 1, 2};
  const int count = n > 0 ? kMaxOrder + 1 : 0;
  TrackingScope scope;
  auto one = [&](const double* knots, int nKnots, int p, const double* ts, int m, double** tabOut,
                 int** spanOut) {
    const int rowLen = (kMaxOrder + 1) * (p + 1);
    double* tab = CallocArray<double>(m, rowLen);
    int* sp = MallocArray<int>(m);
    if (!tab || !sp || KernelFailed()) return false;
    for (int i = 0; i < m; ++i) {
      // Each value searched afresh from the degree: the values may come in any order.
      int span = p;
      ComputeNubValDerivativesM(knots, ts[i], nKnots, p, all, count, &span, tab + i * rowLen);
      sp[i] = span;
    }
    *tabOut = tab;
    *spanOut = sp;
    return true;
  };
  double* ut = nullptr;
  double* vt = nullptr;
  int* usp = nullptr;
  int* vsp = nullptr;
  if (!one(obj->knotsU, NumKnotsU(obj), obj->degreeU, us, nu, &ut, &usp)) return -2;
  if (surf && !one(obj->knotsV, NumKnotsV(obj), obj->degreeV, vs, nv, &vt, &vsp)) return -2;
  scope.keep();
  *uTables = ut;
  *vTables = vt;
  *uSpans = usp;
  *vSpans = vsp;
  return 0;
}

int EvalPointOnGeometryGivenNubValsM(const Bspline* obj, const int* du, const int* dv, int n,
                                     const double* uTable, const double* vTable, int uSpan,
                                     int vSpan, int mapFlag, double (*out)[3]) {
  const bool surf = obj->kind == 2;
  int slot = 0;
  for (int k = 0; k < n; ++k) {
    // Legacy: on a surface a request above second order in total takes no slot.
    if (surf && du[k] + dv[k] > kMaxOrder) continue;
    EvalRequest(obj, du[k], surf ? dv[k] : 0, uTable, vTable, uSpan, vSpan, mapFlag, out[slot++]);
  }
  return 0;
}

int EvalGridOnGeometryGivenNubValsM(const Bspline* obj, int nu, int nv, const int* du,
                                    const int* dv, int n, const double* uTables,
                                    const double* vTables, const int* uSpans, const int* vSpans,
                                    int mapFlag, double** out) {
  const bool surf = obj->kind == 2;
  const int rows = surf ? nv : 1;
  const int lu = (kMaxOrder + 1) * (obj->degreeU + 1);
  const int lv = (kMaxOrder + 1) * (obj->degreeV + 1);
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < nu; ++i)
      EvalPointOnGeometryGivenNubValsM(
          obj, du, dv, n, uTables + i * lu, surf ? vTables + j * lv : nullptr, uSpans[i],
          surf ? vSpans[j] : 0, mapFlag, reinterpret_cast<double(*)[3]>(out[j * nu + i]));
  return 0;
}

int EvalGridOnGeometryM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                        const int* du, const int* dv, int n, int mapFlag, double** out) {
  if (!obj || (obj->kind != 2 && obj->dimension == 2 && mapFlag && !obj->owner)) return -2;
  double* ut = nullptr;
  double* vt = nullptr;
  int* usp = nullptr;
  int* vsp = nullptr;
  if (EvalNubValsOnGridM(obj, us, vs, nu, nv, du, dv, n, &ut, &vt, &usp, &vsp) != 0) return -2;
  if (ut) EvalGridOnGeometryGivenNubValsM(obj, nu, nv, du, dv, n, ut, vt, usp, vsp, mapFlag, out);
  if (ut) Free(ut);
  if (vt) Free(vt);
  if (usp) Free(usp);
  if (vsp) Free(vsp);
  return 0;
}

int EvalUniformGridOnGeometryM(const Bspline* obj, int nu, int nv, const int* du, const int* dv,
                               int n, int mapFlag, double** out) {
  if (!obj) return -2;
  const bool surf = obj->kind == 2;
  if (!surf) nv = 1;
  if (nu <= 0 || nv <= 0) return 0;
  TrackingScope scope;
  double* us = MallocArray<double>(nu);
  double* vs = MallocArray<double>(nv);
  if (!us || !vs || KernelFailed()) return -2;
  // Repeated addition of the step from the domain start; one value: the start itself.
  auto fill = [](double* ts, int m, double lo, double hi) {
    const double step = m > 1 ? (hi - lo) / (m - 1) : 0.0;
    double t = lo;
    for (int i = 0; i < m; ++i, t += step) ts[i] = t;
  };
  fill(us, nu, obj->umin, obj->umax);
  fill(vs, nv, surf ? obj->vmin : 0.0, surf ? obj->vmax : 0.0);
  return EvalGridOnGeometryM(obj, us, vs, nu, nv, du, dv, n, mapFlag, out) != 0 ? -2 : 0;
}

namespace {

// One point of an edit record's grid: table entries iu (u) and iv (v).
void PartialPoint(const Bspline* obj, const double* uBasis, const double* vBasis, const int* uSpans,
                  const int* vSpans, int iu, int iv, int du, int dv, double out[3]) {
  const bool surf = obj->kind == 2;
  const int lu = (kMaxOrder + 1) * (obj->degreeU + 1);
  const int lv = (kMaxOrder + 1) * (obj->degreeV + 1);
  double r[1][3] = {{0.0, 0.0, 0.0}};
  EvalPointOnGeometryGivenNubValsM(obj, &du, &dv, 1, uBasis + iu * lu,
                                   surf ? vBasis + iv * lv : nullptr, uSpans[iu],
                                   surf ? vSpans[iv] : 0, 1, r);
  out[0] = r[0][0];
  out[1] = r[0][1];
  out[2] = r[0][2];
}

bool PartialOrdersOk(const Bspline* obj, int du, int dv) {
  if (du < 0 || du > kMaxOrder) return false;
  if (obj->kind != 2) return true;
  return dv >= 0 && dv <= kMaxOrder && du + dv <= kMaxOrder;
}

template <class T>
int PartialSurfEdit(const Bspline* obj, SurfEditStruct* rec, int du, int dv, T* x, T* y, T* z,
                    int mask) {
  if (!nubkernel::DegreesOk(obj) || !rec || !PartialOrdersOk(obj, du, dv)) return -2;
  auto put = [&](int slot, const double p[3]) {
    if (x) {
      x[slot] = static_cast<T>(p[0]);
      y[slot] = static_cast<T>(p[1]);
      z[slot] = static_cast<T>(p[2]);
    } else {
      rec->x[slot] = static_cast<float>(p[0]);
      rec->y[slot] = static_cast<float>(p[1]);
      rec->z[slot] = static_cast<float>(p[2]);
    }
  };
  const int nu = rec->nuGrid > 0 ? rec->nuGrid : 1;
  double p[3];
  if (mask & 1)
    for (int k = 0; k < rec->insideCount; ++k) {
      const int g = rec->inside[k];
      PartialPoint(obj, rec->uBasis, rec->vBasis, rec->uSpans, rec->vSpans, g % nu, g / nu, du, dv,
                   p);
      put(k, p);
    }
  if (mask & 2)
    for (int k = 0; k < rec->extraInsideCount; ++k) {
      const int e = rec->extraInside[k];
      PartialPoint(obj, rec->uBasis, rec->vBasis, rec->uSpans, rec->vSpans, rec->nuGrid + e,
                   rec->nvGrid + e, du, dv, p);
      put(rec->insideCount + k, p);
    }
  if (mask & 4)
    for (int r = 0; r < rec->trailingCount; ++r) {
      PartialPoint(obj, rec->uBasis, rec->vBasis, rec->uSpans, rec->vSpans,
                   rec->nuGrid + rec->extraPairs + r, rec->nvGrid + rec->extraPairs + r, du, dv, p);
      put(rec->insideCount + rec->extraInsideCount + r, p);
    }
  return 0;
}

}  // namespace

int EvalPartialBsplineGridIndices(const Bspline* obj, SurfEditStruct* rec, int du, int dv, float* x,
                                  float* y, float* z, int mask) {
  return PartialSurfEdit(obj, rec, du, dv, x, y, z, mask);
}

int EvalPartialBsplineGridIndices_d(const Bspline* obj, SurfEditStruct* rec, int du, int dv,
                                    double* x, double* y, double* z, int mask) {
  return PartialSurfEdit(obj, rec, du, dv, x, y, z, mask);
}

int EvalPartialPlotIndices(const Bspline* obj, PlotEditStruct* rec, int du, int dv, float* x,
                           float* y, float* z, int mask) {
  if (!nubkernel::DegreesOk(obj) || !rec || !PartialOrdersOk(obj, du, dv)) return -2;
  float* ox = x ? x : rec->x;
  float* oy = x ? y : rec->y;
  float* oz = x ? z : rec->z;
  const int nu = rec->uOffset > 0 ? rec->uOffset : 1;
  double p[3];
  auto put = [&](int slot) {
    ox[slot] = static_cast<float>(p[0]);
    oy[slot] = static_cast<float>(p[1]);
    oz[slot] = static_cast<float>(p[2]);
  };
  if (mask & 1)
    for (int k = 0; k < rec->gridCount; ++k) {
      const int g = rec->gridIdx[k];
      PartialPoint(obj, rec->uBasis, rec->vBasis, rec->uSpan, rec->vSpan, g % nu, g / nu, du, dv,
                   p);
      put(k);
    }
  if (mask & 2)
    for (int k = 0; k < rec->needleCount; ++k) {
      const int idx = rec->needleIdx[k];
      if (idx >= rec->needleLimit) continue;
      PartialPoint(obj, rec->uBasis, rec->vBasis, rec->uSpan, rec->vSpan, rec->uOffset + idx,
                   rec->vOffset + idx, du, dv, p);
      put(rec->gridCount + k);
    }
  return 0;
}
