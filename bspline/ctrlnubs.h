// Evaluation with derivative requests: derivatives of the basis functions instead of
// derivative control nets. A caller gives a list of requests (du[k], dv[k]), orders 0 to 2,
// and gets one 3D vector per request at a point or on a grid; the basis values and their
// derivatives can be computed once and reused for many objects with the same knots.
// Nothing here changes the evaluated record or uses global scratch.
//
// Basis-derivative table of one parameter: three rows of p + 1 doubles, row k holding the
// k-th derivatives of N(span-p) .. N(span), indexed from 0 (table[k (p + 1) + i]).
#pragma once

#include "bspline/nubutil.h"
#include "bspline/smake.h"

struct SurfEditStruct;
struct PlotEditStruct;

// Fills the rows of the listed orders (0, 1 or 2) for t clamped into the domain; rows not
// listed are left as they were. Nothing is done when the first order is above 2; later
// orders above 2 are skipped. *span is the search start (the degree for a fresh search) and
// receives the span. Returns 0, or -2 (nothing written) for a degree above the evaluators'
// limit.
int ComputeNubValDerivativesM(const double* knots, double t, int nKnots, int p, const int* orders,
                              int count, int* span, double* table);

// n requests at (u, v) (dv read for surfaces only; a curve passes t as u) into out[k].
// A 2D curve gives (u, v, 0) values unless mapFlag maps it through its owner surface.
// Returns 0; -2 with nothing written when an order exceeds 2.
int EvalPointOnGeometryM(const Bspline* obj, double u, double v, const int* du, const int* dv,
                         int n, int mapFlag, double (*out)[3]);

// The same on the grid us x vs: out[j nu + i] points to 3 n doubles (request k at 3 k).
// On a surface a request with du + dv above 2 is skipped and takes no output slot (the
// following results move up; callers rely on that). Returns 0, or -2 with nothing written
// when an order exceeds 2 or the tables cannot be allocated.
int EvalGridOnGeometryM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                        const int* du, const int* dv, int n, int mapFlag, double** out);
// nu x nv evenly spaced parameters over the domain (one parameter: the domain start).
int EvalUniformGridOnGeometryM(const Bspline* obj, int nu, int nv, const int* du, const int* dv,
                               int n, int mapFlag, double** out);

// One basis-derivative table per grid value (3 (p + 1) doubles each, consecutive) and one
// span per value, for the orders the requests need; each search starts again from the
// degree. The four arrays are new blocks owned by the caller (Free); v outputs are set to
// null for a curve. Returns 0, or -2 with nothing allocated when an order exceeds 2 or memory
// fails.
int EvalNubValsOnGridM(const Bspline* obj, const double* us, const double* vs, int nu, int nv,
                       const int* du, const int* dv, int n, double** uTables, double** vTables,
                       int** uSpans, int** vSpans);
int EvalGridOnGeometryGivenNubValsM(const Bspline* obj, int nu, int nv, const int* du,
                                    const int* dv, int n, const double* uTables,
                                    const double* vTables, const int* uSpans, const int* vSpans,
                                    int mapFlag, double** out);
int EvalPointOnGeometryGivenNubValsM(const Bspline* obj, const int* du, const int* dv, int n,
                                     const double* uTable, const double* vTable, int uSpan,
                                     int vSpan, int mapFlag, double (*out)[3]);

// Sum of basis products times coefficients over the span's window (rows: p + 1 values from
// index 0; vRow is not read for a curve). A 2D curve writes (u, v, 0). Returns 0.
inline int EvalPointOnBspline(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                              int vSpan, double out[3]);
// Homogeneous sum: x w, y w, z w and the weight sum (weights 1 for a non-rational object);
// z is 0 for a 2D curve.
inline int EvalPointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow,
                                int uSpan, int vSpan, double out[4]);
// Rational point (du = dv = 0) or derivative by the quotient rule from whole tables (every
// order up to the requested one must be filled). Returns 0, or -2 for orders above 2.
int EvalPointOnRBspline(const Bspline* obj, const double* uTable, const double* vTable, int uSpan,
                        int vSpan, int du, int dv, double out[3]);
int EvalPointCrossDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                 int uSpan, int vSpan, int du, int dv, double out[3]);
int EvalPointDirectDiffOnRBspline(const Bspline* obj, const double* uTable, const double* vTable,
                                  int uSpan, int vSpan, int du, int dv, double out[3]);

// Point or derivative (order 0 to 2) of a 2D curve from its table: (u, v, 0) forms, or with
// mapFlag the point and derivatives in space through the owner surface. -2 for order > 2.
int EvalPointOn2DBspline(const Bspline* crv, const double* table, int span, int order, int mapFlag,
                         double out[3]);

// Re-evaluate chosen points of an edit record's grid (request du, dv at each point), into
// x, y, z or, when x is null, into the record's own output arrays. mask bit 1: the grid
// points inside the edit region; bit 2: the extra points inside; bit 4: the trailing values.
// Return 0, or -2 for orders above 2.
int EvalPartialBsplineGridIndices(const Bspline* obj, SurfEditStruct* rec, int du, int dv, float* x,
                                  float* y, float* z, int mask);
int EvalPartialBsplineGridIndices_d(const Bspline* obj, SurfEditStruct* rec, int du, int dv,
                                    double* x, double* y, double* z, int mask);
// The same over a plot record: bit 1 the affected grid points (grid width uOffset), bit 2 the
// affected needle entries below needleLimit (table positions uOffset + index, vOffset +
// index); a plot record has no trailing run.
int EvalPartialPlotIndices(const Bspline* obj, PlotEditStruct* rec, int du, int dv, float* x,
                           float* y, float* z, int mask);

// ---- Inline kernels ------------------------------------------------------------------------
// The window sum is the innermost step of every evaluator; like the basis recurrence
// (nubutil.h) it is defined here so the evaluators compile it into their own loops, the basis
// values staying in registers.
namespace nubkernel {

// Window sum of a surface, rows first: a[k] = sum_r vRow[r] P[row0 + r][col0 + k], then
// sum_k uRow[k] a[k]. The grid evaluators contract in the same order, so grid and point values
// agree exactly. With `Weighted` each coefficient is multiplied by its weight first and the
// weights are summed as a fourth value. P is the u degree when known at compile time (the
// common low degrees, loops unrolled), else -1 and pRun holds it.
template <int P, bool Weighted>
inline void SurfaceWindowSum(const Bspline* obj, const double* uRow, const double* vRow, int pRun,
                             int col0, int row0, bool hasZ, double* out) {
  constexpr int cap = P >= 0 ? P + 1 : kMaxSplineDegree + 1;
  const int p = P >= 0 ? P : pRun;
  const int q = obj->degreeV;
  double ax[cap], ay[cap], az[cap], aw[cap];
  for (int k = 0; k <= p; ++k) ax[k] = ay[k] = az[k] = aw[k] = 0.0;
  for (int r = 0; r <= q; ++r) {
    const double n = vRow[r];
    const double* X = obj->X[row0 + r] + col0;
    const double* Y = obj->Y[row0 + r] + col0;
    const double* Z = hasZ ? obj->Z[row0 + r] + col0 : nullptr;
    if (Weighted) {
      const double* W = obj->W[row0 + r] + col0;
      for (int k = 0; k <= p; ++k) {
        ax[k] += n * (W[k] * X[k]);
        ay[k] += n * (W[k] * Y[k]);
        aw[k] += n * W[k];
      }
      if (Z)
        for (int k = 0; k <= p; ++k) az[k] += n * (W[k] * Z[k]);
    } else {
      for (int k = 0; k <= p; ++k) {
        ax[k] += n * X[k];
        ay[k] += n * Y[k];
      }
      if (Z)
        for (int k = 0; k <= p; ++k) az[k] += n * Z[k];
    }
  }
  double x = 0.0, y = 0.0, z = 0.0, w = 0.0;
  for (int k = 0; k <= p; ++k) {
    x += uRow[k] * ax[k];
    y += uRow[k] * ay[k];
    z += uRow[k] * az[k];
    if (Weighted) w += uRow[k] * aw[k];
  }
  out[0] = x;
  out[1] = y;
  out[2] = hasZ ? z : 0.0;
  if (Weighted) out[3] = w;
}

#if defined(__GNUC__)
// SurfaceWindowSum<3, false> with the products formed two at a time. The row sums keep the
// generic order; the four u products are added in pairs, (p0 + p2) + (p1 + p3), half the chain
// of dependent additions (the grid evaluator adds them in the same order). The u basis comes
// as pairs (u01 = N[1], N[2]; u23 = N[3], N[4]) and vPair(r) gives row r's v basis value in
// both lanes, so a caller holding the bases in registers passes them without a store.
template <class VPair>
NUB_KERNEL_INLINE void SurfaceWindowSum3Pairs(const Bspline* obj, BasisPair u01, BasisPair u23,
                                              VPair vPair, int q, int col0, int row0, bool hasZ,
                                              double* out) {
  typedef BasisPair Pair;
  auto load = [](const double* a) {
    Pair v;
    __builtin_memcpy(&v, a, sizeof v);
    return v;
  };
  // The sums start from row 0's products rather than from 0 + products: the same values (a
  // zero sum's sign aside) one addition sooner.
  Pair x01, x23, y01, y23, z01 = {0.0, 0.0}, z23 = z01;
  {
    const Pair n = vPair(0);
    const double* X = obj->X[row0] + col0;
    const double* Y = obj->Y[row0] + col0;
    x01 = n * load(X);
    x23 = n * load(X + 2);
    y01 = n * load(Y);
    y23 = n * load(Y + 2);
    if (hasZ) {
      const double* Z = obj->Z[row0] + col0;
      z01 = n * load(Z);
      z23 = n * load(Z + 2);
    }
  }
  for (int r = 1; r <= q; ++r) {
    const Pair n = vPair(r);
    const double* X = obj->X[row0 + r] + col0;
    const double* Y = obj->Y[row0 + r] + col0;
    x01 += n * load(X);
    x23 += n * load(X + 2);
    y01 += n * load(Y);
    y23 += n * load(Y + 2);
    if (hasZ) {
      const double* Z = obj->Z[row0 + r] + col0;
      z01 += n * load(Z);
      z23 += n * load(Z + 2);
    }
  }
  const Pair px01 = u01 * x01, px23 = u23 * x23, py01 = u01 * y01, py23 = u23 * y23;
  const Pair pz01 = u01 * z01, pz23 = u23 * z23;
  // Summed in pairs, (p0 + p2) + (p1 + p3): half the chain of dependent additions.
  const Pair sx = px01 + px23, sy = py01 + py23, sz = pz01 + pz23;
  const double x = sx[0] + sx[1], y = sy[0] + sy[1], z = sz[0] + sz[1];
  out[0] = x;
  out[1] = y;
  out[2] = hasZ ? z : 0.0;
}

// The same with the bases in memory (uRow[0 .. 3], vRow[0 .. q]).
NUB_KERNEL_INLINE void SurfaceWindowSum3(const Bspline* obj, const double* uRow, const double* vRow,
                                         int q, int col0, int row0, bool hasZ, double* out) {
  BasisPair u01, u23;
  __builtin_memcpy(&u01, uRow, sizeof u01);
  __builtin_memcpy(&u23, uRow + 2, sizeof u23);
  SurfaceWindowSum3Pairs(
      obj, u01, u23, [vRow](int r) { return BasisPair{vRow[r], vRow[r]}; }, q, col0, row0, hasZ,
      out);
}
#endif

template <bool Weighted>
NUB_KERNEL_INLINE void SurfaceWindow(const Bspline* obj, const double* uRow, const double* vRow,
                                     int col0, int row0, bool hasZ, double* out) {
  const int p = obj->degreeU;
#if defined(__GNUC__)
  if (!Weighted && p == 3)
    return SurfaceWindowSum3(obj, uRow, vRow, obj->degreeV, col0, row0, hasZ, out);
#endif
  switch (p) {
    case 1:
      return SurfaceWindowSum<1, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 2:
      return SurfaceWindowSum<2, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 3:
      return SurfaceWindowSum<3, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 4:
      return SurfaceWindowSum<4, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    case 5:
      return SurfaceWindowSum<5, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
    default:
      return SurfaceWindowSum<-1, Weighted>(obj, uRow, vRow, p, col0, row0, hasZ, out);
  }
}

}  // namespace nubkernel

inline int EvalPointOnBspline(const Bspline* obj, const double* uRow, const double* vRow, int uSpan,
                              int vSpan, double out[3]) {
  if (!nubkernel::DegreesOk(obj)) return -2;
  const int p = obj->degreeU, col0 = uSpan - p;
  const bool hasZ = obj->dimension == 3 && obj->Z;
  if (obj->kind == 2) {
    nubkernel::SurfaceWindow<false>(obj, uRow, vRow, col0, vSpan - obj->degreeV, hasZ, out);
    return 0;
  }
  double x = 0.0, y = 0.0, z = 0.0;
  const double* X = obj->X[0] + col0;
  const double* Y = obj->Y[0] + col0;
  const double* Z = hasZ ? obj->Z[0] + col0 : nullptr;
  for (int k = 0; k <= p; ++k) {
    x += uRow[k] * X[k];
    y += uRow[k] * Y[k];
    if (Z) z += uRow[k] * Z[k];
  }
  out[0] = x;
  out[1] = y;
  out[2] = z;
  return 0;
}

inline int EvalPointOnBspline4D(const Bspline* obj, const double* uRow, const double* vRow,
                                int uSpan, int vSpan, double out[4]) {
  if (!nubkernel::DegreesOk(obj)) return -2;
  if (!obj->rational || !obj->W) {
    EvalPointOnBspline(obj, uRow, vRow, uSpan, vSpan, out);
    // The weight sum of a non-rational object is the basis sum.
    double s = 0.0;
    if (obj->kind != 2) {
      for (int k = 0; k <= obj->degreeU; ++k) s += uRow[k];
    } else {
      double sv = 0.0;
      for (int r = 0; r <= obj->degreeV; ++r) sv += vRow[r];
      for (int k = 0; k <= obj->degreeU; ++k) s += uRow[k] * sv;
    }
    out[3] = s;
    return 0;
  }
  const int p = obj->degreeU, col0 = uSpan - p;
  const bool hasZ = obj->dimension == 3 && obj->Z;
  if (obj->kind == 2) {
    nubkernel::SurfaceWindow<true>(obj, uRow, vRow, col0, vSpan - obj->degreeV, hasZ, out);
    return 0;
  }
  double x = 0.0, y = 0.0, z = 0.0, w = 0.0;
  const double* X = obj->X[0] + col0;
  const double* Y = obj->Y[0] + col0;
  const double* Z = hasZ ? obj->Z[0] + col0 : nullptr;
  const double* W = obj->W[0] + col0;
  for (int k = 0; k <= p; ++k) {
    x += uRow[k] * (W[k] * X[k]);
    y += uRow[k] * (W[k] * Y[k]);
    if (Z) z += uRow[k] * (W[k] * Z[k]);
    w += uRow[k] * W[k];
  }
  out[0] = x;
  out[1] = y;
  out[2] = z;
  out[3] = w;
  return 0;
}
