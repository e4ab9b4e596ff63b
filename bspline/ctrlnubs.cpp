#include "bspline/ctrlnubs.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/editrec.h"
#include "bspline/nubs.h"
#include "bspline/nubs_simd.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

constexpr int kOrd = kMaxSplineDegree + 1;
constexpr int kMaxOrder = 2;  // requests go up to second derivatives per direction

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

#if defined(__GNUC__)
typedef nubkernel::BasisPair Lanes;
#else
// Two doubles with lane-wise arithmetic, for compilers without vector extensions.
struct Lanes {
  double v[2];
  double operator[](int i) const { return v[i]; }
  friend Lanes operator+(Lanes a, Lanes b) { return {{a.v[0] + b.v[0], a.v[1] + b.v[1]}}; }
  friend Lanes operator*(Lanes a, Lanes b) { return {{a.v[0] * b.v[0], a.v[1] * b.v[1]}}; }
};
#endif

// A column result: (x, y) and (z, w) in two lanes each. Lane-wise IEEE arithmetic gives each
// coordinate the value of the scalar sum.
struct Column {
  Lanes xy, zw;
};

// Column results of the columns col0 .. col0 + ncu - 1 for one v order:
// C[i] = sum_r Nv[r] M[row0 + r][col0 + i] for the coordinates x, y, z (times the weights first
// on a weighted net, whose fourth value then sums the weights), rows added in order as the
// window sum adds them.
template <bool Weighted>
void ColumnResults(const Bspline* obj, const double* Nv, int row0, int col0, int ncu, bool hasZ,
                   Column* C) {
  const int q = obj->degreeV;
  const Lanes zero = {0.0, 0.0};
  for (int i = 0; i < ncu; ++i) C[i].xy = C[i].zw = zero;
  for (int r = 0; r <= q; ++r) {
    const Lanes n = {Nv[r], Nv[r]};
    const double* X = obj->X[row0 + r] + col0;
    const double* Y = obj->Y[row0 + r] + col0;
    const double* Z = hasZ ? obj->Z[row0 + r] + col0 : nullptr;
    const double* W = Weighted ? obj->W[row0 + r] + col0 : nullptr;
    for (int i = 0; i < ncu; ++i) {
      const double w = Weighted ? W[i] : 1.0;
      const double z = Z ? Z[i] : 0.0;
      if (Weighted) {
        C[i].xy = C[i].xy + n * Lanes{w * X[i], w * Y[i]};
        C[i].zw = C[i].zw + n * Lanes{w * z, w};
      } else {
        C[i].xy = C[i].xy + n * Lanes{X[i], Y[i]};
        C[i].zw = C[i].zw + n * Lanes{z, 0.0};
      }
    }
  }
}

// The u window sum of column results from col0, as the point evaluator forms it: the bicubic
// non-weighted sum in pairs, (p0 + p2) + (p1 + p3), every other one in order from 0.
template <int P, bool Pairs>
NUB_KERNEL_INLINE Column WindowLine(const double* Nu, const Column* c, int p) {
  if (Pairs) {
    const Lanes n0 = {Nu[0], Nu[0]}, n1 = {Nu[1], Nu[1]}, n2 = {Nu[2], Nu[2]},
                n3 = {Nu[3], Nu[3]};
    return {(n0 * c[0].xy + n2 * c[2].xy) + (n1 * c[1].xy + n3 * c[3].xy),
            (n0 * c[0].zw + n2 * c[2].zw) + (n1 * c[1].zw + n3 * c[3].zw)};
  }
  const int m = P >= 0 ? P : p;
  Column s = {{0.0, 0.0}, {0.0, 0.0}};
  for (int k = 0; k <= m; ++k) {
    const Lanes n = {Nu[k], Nu[k]};
    s.xy = s.xy + n * c[k].xy;
    s.zw = s.zw + n * c[k].zw;
  }
  return s;
}

// Homogeneous sums A(i, j) for i <= du, j <= dv from whole tables, dim + 1 values each at
// (i (dv + 1) + j) (dim + 1) (one direction's orders when the other's is 0). vTable is null for
// a curve. A weighted surface is summed row then column, as the grids sum it: each v order's
// column results over the window once, then the u line sum of every u order; these are
// EvalPointOnBspline4D's operations in its order, so the values are the same.
void HomogeneousTable(const Bspline* obj, const double* uTable, const double* vTable, int uSpan,
                      int vSpan, int du, int dv, int dim, double* A) {
  const int ou = obj->degreeU + 1, ov = obj->degreeV + 1;
  auto put = [&](int i, int j, const double h[4]) {
    double* a = A + (i * (dv + 1) + j) * (dim + 1);
    a[0] = h[0];
    a[1] = h[1];
    if (dim == 3) a[2] = h[2];
    a[dim] = h[3];
  };
  if (obj->kind == 2 && vTable && obj->rational && obj->W) {
    const bool hasZ = obj->dimension == 3 && obj->Z;
    const int p = obj->degreeU;
    Column C[kOrd];
    for (int j = 0; j <= dv; ++j) {
      ColumnResults<true>(obj, vTable + j * ov, vSpan - obj->degreeV, uSpan - p, ou, hasZ, C);
      for (int i = 0; i <= du; ++i) {
        const Column s = p == 3 ? WindowLine<3, false>(uTable + i * ou, C, p)
                                : WindowLine<-1, false>(uTable + i * ou, C, p);
        const double h[4] = {s.xy[0], s.xy[1], hasZ ? s.zw[0] : 0.0, s.zw[1]};
        put(i, j, h);
      }
    }
    return;
  }
  for (int i = 0; i <= du; ++i)
    for (int j = 0; j <= dv; ++j) {
      double h[4] = {};
      EvalPointOnBspline4D(obj, uTable + i * ou, vTable ? vTable + j * ov : nullptr, uSpan, vSpan,
                           h);
      put(i, j, h);
    }
}

// The spans a caller hands over index the control net: each between the degree and the last
// control point, or the window would be read outside the net.
bool SpansInNet(const Bspline* obj, int uSpan, int vSpan) {
  if (!RecordShapesSound({obj})) return false;
  const bool fit = uSpan >= obj->degreeU && uSpan < NumCtrlU(obj) &&
                   (obj->kind != 2 || (vSpan >= obj->degreeV && vSpan < NumCtrlV(obj)));
  if (!fit) SetKernelError(-2);
  return fit;
}

}  // namespace

int EvalPointOnBspline(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                       int vSpan, double out[3]) {
  if (!SpansInNet(obj, uSpan, vSpan)) return -2;
  return nubkernel::PointOnBspline(obj, uRow, vRow, uSpan, vSpan, out);
}

int EvalPointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                         int vSpan, double out[4]) {
  if (!SpansInNet(obj, uSpan, vSpan)) return -2;
  return nubkernel::PointOnBspline4D(obj, uRow, vRow, uSpan, vSpan, out);
}

int ComputeNubValDerivativesM(const double* knots, double t, int nKnots, int p, const int* orders,
                              int count, int* span, double* table) {
  if (count <= 0) return 0;
  if (!knots || !orders || !span || !table) return -2;
  if (orders[0] > kMaxOrder) return 0;
  // The search runs over knots[p .. nCtrl], the span's basis reads p knots on either side.
  const int nCtrl = nKnots - p - 1;
  if (p < 0 || p > kMaxSplineDegree || nCtrl <= p) return -2;
  t = nubkernel::Clamp(t, knots[p], knots[nCtrl]);
  nubkernel::SpanSearch(knots, p, t, span, nCtrl);
  double all[1 + kOrd * (kOrd + 1) / 2];
  if (p == 3) {
    // The kernel's usual degree in registers; its first derivatives from two divisions.
    nubkernel::AllDegreesTable3(knots, *span, t, all);
    for (int c = 0; c < count; ++c) {
      const int d = orders[c];
      if (d < 0 || d > kMaxOrder) continue;
#if defined(__GNUC__)
      if (d == 1) {
        nubkernel::FirstDerivativeRow3(knots, *span, all, table + 4);
        continue;
      }
#endif
      nubkernel::DerivativeRow<3>(knots, *span, p, all, d, table + d * 4);
    }
    return 0;
  }
  nubkernel::AllDegreesTable<-1>(knots, p, t, *span, all);
  for (int c = 0; c < count; ++c) {
    const int d = orders[c];
    if (d < 0 || d > kMaxOrder) continue;
    nubkernel::DerivativeRow<-1>(knots, *span, p, all, d, table + d * (p + 1));
  }
  return 0;
}

int EvalPointDirectDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                  int uSpan, int vSpan, int du, int dv, double out[3]) {
  if (!SpansInNet(obj, uSpan, vSpan)) return -2;
  const bool surf = obj->kind == 2;
  if (du < 0 || du > kMaxOrder || (surf && (dv < 0 || dv > kMaxOrder))) return -2;
  // One direction only: a mixed request taken here would come back as a pure u derivative.
  if (surf && du != 0 && dv != 0)
    return EvalPointCrossDiffOnRBspline(obj, uTable, vTable, uSpan, vSpan, du, dv, out);
  const bool alongV = surf && du == 0;
  const int k = alongV ? dv : du;
  const int dim = obj->dimension == 2 ? 2 : 3;
  double A[(kMaxOrder + 1) * 4];
  // A(i) along the chosen direction; the other direction stays at its value row.
  HomogeneousTable(obj, uTable, surf ? vTable : nullptr, uSpan, vSpan, alongV ? 0 : k,
                   alongV ? k : 0, dim, A);
  out[2] = 0.0;
  ApplyQuotientRule(A, k, 0, dim, out);
  return 0;
}

int EvalPointCrossDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                 int uSpan, int vSpan, int du, int dv, double out[3]) {
  if (!SpansInNet(obj, uSpan, vSpan)) return -2;
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
  if (!SpansInNet(obj, uSpan, vSpan)) return -2;
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

#if defined(__GNUC__)
// Requests on a non-rational surface of u degree 3 (every such point goes through
// SurfaceWindowSum3) share the window's column sums per v order: the sums each request's own
// evaluation forms, so the same values, the columns contracted once per v order instead of
// once per request.
bool SharesColumns(const Bspline* obj) {
  return obj->kind == 2 && !obj->rational && obj->degreeU == 3 && nubkernel::DegreesOk(obj);
}

// The requests k < n from whole tables into out, slot after slot; with `skipHigh` (the legacy
// of EvalPointOnGeometryGivenNubValsM) a request above second order in total takes no slot.
void SharedColumnRequests(const Bspline* obj, const int* du, const int* dv, int n, bool skipHigh,
                          const double* uTable, const double* vTable, int uSpan, int vSpan,
                          double (*out)[3]) {
  const int q = obj->degreeV, col0 = uSpan - 3, row0 = vSpan - q;
  const bool hasZ = obj->dimension == 3 && obj->Z;
  nubkernel::Columns3 columns[kMaxOrder + 1];
  bool have[kMaxOrder + 1] = {false, false, false};
  int slot = 0;
  for (int k = 0; k < n; ++k) {
    if (skipHigh && du[k] + dv[k] > kMaxOrder) continue;
    const int j = dv[k];
    if (!have[j]) {
      const double* vRow = vTable + j * (q + 1);
      columns[j] = nubkernel::ColumnSums3(
          obj, [vRow](int r) { return nubkernel::BasisPair{vRow[r], vRow[r]}; }, q, col0, row0,
          hasZ);
      have[j] = true;
    }
    const double* uRow = uTable + du[k] * 4;
    nubkernel::BasisPair u01, u23;
    __builtin_memcpy(&u01, uRow, sizeof u01);
    __builtin_memcpy(&u23, uRow + 2, sizeof u23);
    nubkernel::RowSum3(columns[j], u01, u23, hasZ, out[slot++]);
  }
}
#endif

}  // namespace

int EvalPointsOnGeometryM(const Bspline* obj, const double* u, const double* v, int count, const int* du,
                          const int* dv, int n, int mapFlag, double (*out)[3]) {
  if (!BsplineShapeSound(obj) || !OrdersOk(obj, du, dv, n)) return -2;
  const bool surf = obj->kind == 2;
  if (!surf && obj->dimension == 2 && mapFlag && !obj->owner) return -2;
  if (n <= 0) return 0;
  const bool lower = NeedsLowerOrders(obj, mapFlag);
  int ordU[kMaxOrder + 1], ordV[kMaxOrder + 1];
  const int cu = CollectOrders(du, n, lower, ordU);
  const int cv = surf ? CollectOrders(dv, n, lower, ordV) : 0;
  // Only the rows of the orders collected are written, and only those are read.
  double tu[(kMaxOrder + 1) * kOrd], tv[(kMaxOrder + 1) * kOrd];
  int spanU = obj->degreeU, spanV = 0;
  int status = 0;
  for (int m = 0; m < count; ++m) {
    // A parameter equal to the point before's has its table already: along a surface's side
    // the fixed parameter's basis is taken once (the same table, so the same values).
    if (m == 0 || !(u[m] == u[m - 1])) {
      spanU = obj->degreeU;
      ComputeNubValDerivativesM(obj->knotsU, u[m], NumKnotsU(obj), obj->degreeU, ordU, cu, &spanU, tu);
    }
    if (surf && (m == 0 || !(v[m] == v[m - 1]))) {
      spanV = obj->degreeV;
      ComputeNubValDerivativesM(obj->knotsV, v[m], NumKnotsV(obj), obj->degreeV, ordV, cv, &spanV, tv);
    }
    // Values only from sorted knots: the spans' knots checked as the single-point evaluators do.
    if (!nubkernel::KnotSpanSorted(obj->knotsU, spanU, obj->degreeU) ||
        (surf && !nubkernel::KnotSpanSorted(obj->knotsV, spanV, obj->degreeV))) {
      status = -2;
      continue;
    }
    // The point's values go out only when all are finite (huge coefficients overflow): held
    // aside when they fit the scratch, else checked and computed again into out.
    constexpr int kHeld = 16;
    double value[kHeld][3];
    bool finite = true;
#if defined(__GNUC__)
    if (n <= kHeld && SharesColumns(obj)) {
      SharedColumnRequests(obj, du, dv, n, false, tu, tv, spanU, spanV, value);
      for (int k = 0; k < n; ++k)
        finite = finite && std::isfinite(value[k][0]) && std::isfinite(value[k][1]) &&
                 std::isfinite(value[k][2]);
    } else
#endif
      for (int k = 0; k < n && finite; ++k) {
        double* to = value[k % kHeld];
        EvalRequest(obj, du[k], surf ? dv[k] : 0, tu, surf ? tv : nullptr, spanU, spanV, mapFlag, to);
        finite = std::isfinite(to[0]) && std::isfinite(to[1]) && std::isfinite(to[2]);
      }
    if (!finite) {
      status = -2;
      continue;
    }
    for (int k = 0; k < n; ++k) {
      if (n <= kHeld)
        std::memcpy(out[m * n + k], value[k], sizeof value[k]);
      else
        EvalRequest(obj, du[k], surf ? dv[k] : 0, tu, surf ? tv : nullptr, spanU, spanV, mapFlag, out[m * n + k]);
    }
  }
  return status;
}

int EvalPointOnGeometryM(const Bspline* obj, double u, double v, const int* du, const int* dv,
                         int n, int mapFlag, double (*out)[3]) {
  return EvalPointsOnGeometryM(obj, &u, &v, 1, du, dv, n, mapFlag, out);
}

int EvalNubValsOnGridM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                       const int* du, const int* dv, int n, double** uTables, double** vTables,
                       int** uSpans, int** vSpans) {
  if (!BsplineShapeSound(obj) || !OrdersOk(obj, du, dv, n)) return -2;
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
#if defined(__GNUC__)
  if (SharesColumns(obj) && OrdersOk(obj, du, dv, n)) {
    SharedColumnRequests(obj, du, dv, n, true, uTable, vTable, uSpan, vSpan, out);
    return 0;
  }
#endif
  int slot = 0;
  for (int k = 0; k < n; ++k) {
    // Legacy: on a surface a request above second order in total takes no slot.
    if (surf && du[k] + dv[k] > kMaxOrder) continue;
    EvalRequest(obj, du[k], surf ? dv[k] : 0, uTable, vTable, uSpan, vSpan, mapFlag, out[slot++]);
  }
  return 0;
}

namespace {

// Requests on a surface grid, row then column: for every grid row the net is contracted down
// its columns once per v order the requests read (all columns at once), and every grid point
// then sums its u window of those column results once per (u order, v order) pair it needs.
// These are the window sums of EvalPointOnBspline(4D) in the same order of operations, only
// shared: each value equals the point evaluator's exactly.

// Columns of the column results a caller can hold on the stack (x, y, z, w per v order).
constexpr int kStackColumns = 128;

// The sums a request list reads: (u order, v order) pairs; a rational object's quotient rule
// reads every lower pair on its way.
struct GridPlan {
  int count = 0;
  int pairU[9], pairV[9];
  int index[kMaxOrder + 1][kMaxOrder + 1];
  bool vOrder[kMaxOrder + 1] = {false, false, false};
  bool weighted = false;
  bool hasZ = false;
  int dim = 3;
};

// Builds the plan of the requests that take a slot; false when a request is out of the
// tables' reach (the per-point path then decides).
bool PlanGrid(const Bspline* obj, const int* du, const int* dv, int n, GridPlan* plan) {
  for (auto& row : plan->index)
    for (int& k : row) k = -1;
  plan->weighted = obj->rational != 0;
  plan->hasZ = obj->dimension == 3 && obj->Z;
  plan->dim = obj->dimension == 2 ? 2 : 3;
  if (plan->weighted && !obj->W) return false;
  auto need = [plan](int i, int j) {
    if (plan->index[i][j] >= 0) return;
    plan->index[i][j] = plan->count;
    plan->pairU[plan->count] = i;
    plan->pairV[plan->count] = j;
    ++plan->count;
    plan->vOrder[j] = true;
  };
  for (int k = 0; k < n; ++k) {
    if (du[k] < 0 || dv[k] < 0) return false;
    if (du[k] + dv[k] > kMaxOrder) continue;
    if (!plan->weighted) {
      need(du[k], dv[k]);
      continue;
    }
    // The orders the quotient rule reads: all (i, j) below a mixed request, one direction's
    // lower orders for a pure one.
    const int iu = du[k], jv = dv[k];
    for (int i = 0; i <= iu; ++i)
      for (int j = 0; j <= jv; ++j)
        if (iu && jv ? true : (i == 0 || j == 0)) need(i, j);
  }
  return true;
}

// One request's reading of the tables: its u table row and its v order's column results.
struct RequestRows {
  int uRow;
  const Column* columns;
};

// Every grid point of the tables: P is the u degree when fixed for the compiler (3), else -1.
template <int P, bool Weighted>
void GridRequests(const Bspline* obj, const GridPlan& plan, int nu, int nv, const int* du,
                  const int* dv, int n, const double* uTables, const double* vTables,
                  const int* uSpans, const int* vSpans, Column* columns, double** out) {
  constexpr bool kPairs = P == 3 && !Weighted;
  const int p = obj->degreeU, q = obj->degreeV, ncu = NumCtrlU(obj);
  const int lu = (kMaxOrder + 1) * (p + 1), lv = (kMaxOrder + 1) * (q + 1);
  const bool hasZ = plan.hasZ;
  // The requests that take a slot, in slot order (non-weighted), or the homogeneous sums
  // the quotient rule reads (weighted).
  RequestRows rows[9];
  int count = 0;
  if (!Weighted) {
    for (int k = 0; k < n; ++k)
      if (du[k] + dv[k] <= kMaxOrder)
        rows[count++] = {du[k] * (p + 1), columns + dv[k] * ncu};
  } else {
    for (int k = 0; k < plan.count; ++k)
      rows[count++] = {plan.pairU[k] * (p + 1), columns + plan.pairV[k] * ncu};
  }
  for (int row = 0; row < nv; ++row) {
    const double* vt = vTables + row * lv;
    const int row0 = vSpans[row] - q;
    for (int j = 0; j <= kMaxOrder; ++j)
      if (plan.vOrder[j])
        ColumnResults<Weighted>(obj, vt + j * (q + 1), row0, 0, ncu, hasZ, columns + j * ncu);
    for (int i = 0; i < nu; ++i) {
      const double* ut = uTables + i * lu;
      const int col0 = uSpans[i] - p;
      double* o = out[row * nu + i];
      if (!Weighted) {
        for (int k = 0; k < count; ++k, o += 3) {
          const Column s = WindowLine<P, kPairs>(ut + rows[k].uRow, rows[k].columns + col0, p);
          o[0] = s.xy[0];
          o[1] = s.xy[1];
          o[2] = hasZ ? s.zw[0] : 0.0;
        }
        continue;
      }
      // Homogeneous sums of every pair the quotient rule reads, then each request.
      double h[9][4];
      for (int k = 0; k < count; ++k) {
        const Column s = WindowLine<P, false>(ut + rows[k].uRow, rows[k].columns + col0, p);
        h[k][0] = s.xy[0];
        h[k][1] = s.xy[1];
        h[k][2] = hasZ ? s.zw[0] : 0.0;
        h[k][3] = s.zw[1];
      }
      for (int k = 0; k < n; ++k) {
        const int a = du[k], b = dv[k];
        if (a + b > kMaxOrder) continue;
        double* r = o;
        o += 3;
        if (a == 0 && b == 0) {
          const double* s = h[plan.index[0][0]];
          r[0] = s[0] / s[3];
          r[1] = s[1] / s[3];
          r[2] = s[2] / s[3];
          continue;
        }
        // A(i, j) as EvalPointOnRBspline lays them out: dim + 1 values each, and for a pure
        // request one direction only.
        const bool mixed = a != 0 && b != 0;
        const int dim = mixed ? 3 : plan.dim;
        const int len = mixed ? a : (a ? a : b), kv = mixed ? b : 0;
        double A[(kMaxOrder + 1) * (kMaxOrder + 1) * 4];
        for (int x = 0; x <= len; ++x)
          for (int y = 0; y <= kv; ++y) {
            const int pi = mixed ? x : (a ? x : 0), pj = mixed ? y : (a ? 0 : x);
            const double* s = h[plan.index[pi][pj]];
            double* e = A + (x * (kv + 1) + y) * (dim + 1);
            e[0] = s[0];
            e[1] = s[1];
            if (dim == 3) e[2] = s[2];
            e[dim] = s[3];
          }
        r[2] = 0.0;
        ApplyQuotientRule(A, len, kv, dim, r);
      }
    }
  }
}

// The row-then-column form when it applies (a surface whose column results fit `columns`, or
// the stack when columns is null); false leaves the grid to the per-point form.
bool GridRequestsByRows(const Bspline* obj, int nu, int nv, const int* du, const int* dv, int n,
                        const double* uTables, const double* vTables, const int* uSpans,
                        const int* vSpans, Column* columns, double** out) {
  if (obj->kind != 2 || !BsplineShapeSound(obj)) return false;
  GridPlan plan;
  if (!PlanGrid(obj, du, dv, n, &plan)) return false;
  const int ncu = NumCtrlU(obj);
  Column stack[(kMaxOrder + 1) * kStackColumns];
  Column* C = columns;
  if (!C) {
    if (ncu > kStackColumns) return false;
    C = stack;
  }
  const bool cubic = obj->degreeU == 3;
  if (plan.weighted) {
    if (cubic)
      GridRequests<3, true>(obj, plan, nu, nv, du, dv, n, uTables, vTables, uSpans, vSpans,
                            C, out);
    else
      GridRequests<-1, true>(obj, plan, nu, nv, du, dv, n, uTables, vTables, uSpans, vSpans,
                             C, out);
  } else if (cubic) {
    GridRequests<3, false>(obj, plan, nu, nv, du, dv, n, uTables, vTables, uSpans, vSpans,
                           C, out);
  } else {
    GridRequests<-1, false>(obj, plan, nu, nv, du, dv, n, uTables, vTables, uSpans, vSpans,
                            C, out);
  }
  return true;
}

}  // namespace

int EvalGridOnGeometryGivenNubValsM(const Bspline* obj, int nu, int nv, const int* du,
                                    const int* dv, int n, const double* uTables,
                                    const double* vTables, const int* uSpans, const int* vSpans,
                                    int mapFlag, double** out) {
  if (!RecordShapesSound({obj})) return -2;
  const bool surf = obj->kind == 2;
  // Every span handed over indexes the net: u spans against a v span that fits, and back.
  for (int i = 0; i < nu; ++i)
    if (!SpansInNet(obj, uSpans[i], obj->degreeV)) return -2;
  for (int j = 0; surf && j < nv; ++j)
    if (!SpansInNet(obj, obj->degreeU, vSpans[j])) return -2;
  if (GridRequestsByRows(obj, nu, nv, du, dv, n, uTables, vTables, uSpans, vSpans, nullptr, out))
    return 0;
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
  // A surface wider than the stack's column results gets them from the heap.
  Column* columns = nullptr;
  const bool wide = ut && obj->kind == 2 && NumCtrlU(obj) > kStackColumns;
  if (wide) columns = MallocArray<Column>(kMaxOrder + 1, NumCtrlU(obj));
  const bool failed = wide && (!columns || KernelFailed());
  if (ut && !failed &&
      !GridRequestsByRows(obj, nu, nv, du, dv, n, ut, vt, usp, vsp, columns, out))
    EvalGridOnGeometryGivenNubValsM(obj, nu, nv, du, dv, n, ut, vt, usp, vsp, mapFlag, out);
  for (void* block : {static_cast<void*>(columns), static_cast<void*>(ut), static_cast<void*>(vt),
                      static_cast<void*>(usp), static_cast<void*>(vsp)})
    if (block) Free(block);
  return failed ? -2 : 0;
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
  if (!BsplineShapeSound(obj) || !rec || !PartialOrdersOk(obj, du, dv)) return -2;
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
  if (!BsplineShapeSound(obj) || !rec || !PartialOrdersOk(obj, du, dv)) return -2;
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
