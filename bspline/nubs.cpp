#include "bspline/nubs.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline/ctrlnubs.h"
#include "bspline/nubs_simd.h"
#include "bspline/nubutil.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

namespace {

// Scratch windows hold degree + 1 coefficients per direction.
constexpr int kOrd = kMaxSplineDegree + 1;

// Refusal of an object the fixed-size scratch cannot hold: the output stays untouched and
// the caller's failure test sees it.
void Refuse() { SetKernelError(-2); }

// Hands a computed value to the caller's output only when every coordinate is finite. A
// non-finite value comes from non-finite knots, coefficients or parameters, or from an
// overflow of huge ones: it is refused like a bad degree, the output left as it was.
bool Deliver(const double* val, int n, double* out) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(val[k])) {
      Refuse();
      return false;
    }
  for (int k = 0; k < n; ++k) out[k] = val[k];
  return true;
}

// The values a refused sub-evaluation leaves in its output: they make the result it feeds
// non-finite, so the whole evaluation is refused.
constexpr double kRefused = std::numeric_limits<double>::quiet_NaN();

void ShowUnavailable() { InfoMessageFormat("%s", MSGstr("Currently Unavailable")); }

// Derivative control points of a control line of m coefficients, d times, in place: the
// coefficient at position i (global control index first + i) becomes, at level k,
//   (P[i+1] - P[i]) / (t[first+i+p+1] - t[first+i+k]),
// and after the last level all are multiplied by p (p - 1) ... (p - d + 1). The divisors
// depend on the knots only, so DifferenceRecips forms their reciprocals once for all lines and
// coordinates of a net (level k, position i at recip[(k - 1) m + i]). A knot difference of at
// most 1e-15 belongs to a vanishing basis function: its coefficient is 0.
void DifferenceRecips(const double* knots, int first, int m, int p, int d, double* recip) {
  for (int k = 1; k <= d; ++k)
    for (int i = 0; i + k < m; ++i) {
      const double den = knots[first + i + p + 1] - knots[first + i + k];
      recip[(k - 1) * m + i] = std::fabs(den) <= 1e-15 ? 0.0 : 1.0 / den;
    }
}

NUB_KERNEL_INLINE void DifferenceLine(double* P, std::ptrdiff_t stride, int m, const double* recip,
                                      int p, int d) {
  for (int k = 1; k <= d; ++k) {
    const double* rk = recip + (k - 1) * m;
    for (int i = 0; i + k < m; ++i) P[i * stride] = (P[(i + 1) * stride] - P[i * stride]) * rk[i];
  }
  double f = 1.0;
  for (int k = 0; k < d; ++k) f *= p - k;
  for (int i = 0; i + d < m; ++i) P[i * stride] *= f;
}

// ---- curves ----------------------------------------------------------------------------------

// Core of the curve evaluators, 3D or 2D: out gets dim values for types 1 and 3, dim + 1
// (homogeneous, then the weight) for types 0 and 2. *span is the search start and receives the
// span. The control window is copied to the stack, so nothing is allocated and the record is
// only read.
void CurveCore(const Bspline* c, double t, int d, int type, int* span, double* out) {
  const int p = c->degreeU, n = NumCtrlU(c);
  const int dim = c->dimension == 2 ? 2 : 3;
  const bool homogeneous = type == 0 || type == 2;
  const int nOut = homogeneous ? dim + 1 : dim;
  if (d > p) {
    // Orders above the degree vanish (the weight's too).
    for (int c2 = 0; c2 < nOut; ++c2) out[c2] = 0.0;
    return;
  }
  const double* rows[4] = {c->X[0], c->Y[0], dim == 3 ? c->Z[0] : nullptr,
                           c->W ? c->W[0] : nullptr};
  double N[kOrd + 1];
  nubkernel::PointInit(t, p - d, c->knotsU, N, span, n, d);
  const int first = *span - p;
  const bool weighted = homogeneous && rows[3];
  // line[c] holds the window's coefficients (times the weight for homogeneous values), the
  // last line the weights; differenced d times it is the derivative net.
  double line[4][kOrd];
  for (int k = 0; k <= p; ++k) {
    const double w = weighted ? rows[3][first + k] : 1.0;
    for (int c2 = 0; c2 < dim; ++c2)
      line[c2][k] = weighted ? w * rows[c2][first + k] : rows[c2][first + k];
    line[dim][k] = w;
  }
  double recip[kOrd * kOrd];
  if (d > 0) DifferenceRecips(c->knotsU, first, p + 1, p, d, recip);
  for (int c2 = 0; c2 < nOut; ++c2) {
    if (d > 0) DifferenceLine(line[c2], 1, p + 1, recip, p, d);
    out[c2] = nubkernel::LineSum(N + 1, line[c2], nullptr, p - d + 1);
  }
}

// Cartesian point or derivative of a curve (dim values) at t.
void CurveCartesian(const Bspline* c, double t, int d, double* out) {
  const int type = GetEvalType(c->rational, d);
  const int dim = c->dimension == 2 ? 2 : 3;
  if (type == 0) {
    if (dim == 3)
      EvalPointDiffOfRObj(nullptr, c, nullptr, t, 0.0, d, 0, out);
    else
      EvalPointDiffOfRObj(nullptr, nullptr, c, t, 0.0, d, 0, out);
    return;
  }
  double h[4];
  int span = c->degreeU;
  CurveCore(c, t, d, type, &span, h);
  for (int k = 0; k < dim; ++k) out[k] = type == 2 ? h[k] / h[dim] : h[k];
}

// ---- surfaces --------------------------------------------------------------------------------

// Fills surfDiffArray1..3 (and 4 for type 0) with the (pu + 1) x (pv + 1) control window at
// (spanU - pu, spanV - pv), homogeneous for type 0, differenced du times in u and dv times in
// v. Returns false when the scratch cannot be created.
bool LocalNet(const Bspline* s, int spanU, int spanV, int du, int dv, int type) {
  if (InitSplineArrays() != 0) return false;
  const int pu = s->degreeU, pv = s->degreeV;
  const int col0 = spanU - pu, row0 = spanV - pv;
  double** net[4] = {surfDiffArray1, surfDiffArray2, surfDiffArray3, surfDiffArray4};
  double** const src[3] = {s->X, s->Y, s->Z};
  const bool homogeneous = type == 0 && s->W;
  const int nNets = type == 0 ? 4 : 3;
  for (int r = 0; r <= pv; ++r)
    for (int k = 0; k <= pu; ++k) {
      const double w = homogeneous ? s->W[row0 + r][col0 + k] : 1.0;
      for (int c = 0; c < 3; ++c) {
        const double v = src[c][row0 + r][col0 + k];
        net[c][r][k] = homogeneous ? w * v : v;
      }
      net[3][r][k] = w;
    }
  const std::ptrdiff_t pitch = surfDiffArray1[1] - surfDiffArray1[0];
  double ru[kOrd * kOrd], rv[kOrd * kOrd];
  if (du > 0) DifferenceRecips(s->knotsU, col0, pu + 1, pu, du, ru);
  if (dv > 0) DifferenceRecips(s->knotsV, row0, pv + 1, pv, dv, rv);
  for (int c = 0; c < nNets; ++c) {
    if (du > 0)
      for (int r = 0; r <= pv; ++r) DifferenceLine(net[c][r], 1, pu + 1, ru, pu, du);
    if (dv > 0)
      for (int k = 0; k <= pu - du; ++k) DifferenceLine(net[c][0] + k, pitch, pv + 1, rv, pv, dv);
  }
  return true;
}

// Sums the local nets with the lowered-degree basis rows (values from index 0). The nets are
// handed to the one window-sum routine through a copy of the record that carries them, so
// the caller's record is never touched.
void SumLocalNet(const Bspline* s, int du, int dv, int type, const double* Nu, const double* Nv,
                 double* out) {
  Bspline view = *s;
  view.degreeU = s->degreeU - du;
  view.degreeV = s->degreeV - dv;
  view.rational = 0;
  view.W = nullptr;
  view.X = surfDiffArray1;
  view.Y = surfDiffArray2;
  view.Z = surfDiffArray3;
  view.dimension = 3;
  nubkernel::PointOnBspline(&view, Nu, Nv, view.degreeU, view.degreeV, out);
  if (type == 0) {
    // The weight net as a one-coordinate object.
    double w[3] = {};
    view.X = view.Y = surfDiffArray4;
    view.Z = nullptr;
    view.dimension = 2;
    nubkernel::PointOnBspline(&view, Nu, Nv, view.degreeU, view.degreeV, w);
    out[3] = w[0];
  }
}

// Position of a surface (x, y, z, and for Weighted the weight sum as a fourth value): both
// directions' spans and bases and the window sum compiled into one function, so the basis
// values stay in registers and the two directions overlap.
template <bool Weighted>
NUB_KERNEL_INLINE void SurfacePosition(const Bspline* s, double u, double v, double* out) {
  const int pu = s->degreeU, pv = s->degreeV;
  double Nu[kOrd + 1], Nv[kOrd + 1];
  int spanU = pu, spanV = pv;
#if defined(__GNUC__)
  if (!Weighted && pu == 3 && pv == 3) {
    // The bicubic surface, the kernel's usual one, with the degrees fixed for the compiler:
    // PointInit's steps, the two bases computed side by side.
    const int nu = NumCtrlU(s), nv = NumCtrlV(s);
    const double* ku = s->knotsU;
    const double* kv = s->knotsV;
    u = nubkernel::Clamp(u, ku[3], ku[nu]);
    v = nubkernel::Clamp(v, kv[3], kv[nv]);
    nubkernel::SpanSearch(ku, 3, u, &spanU, nu);
    nubkernel::SpanSearch(kv, 3, v, &spanV, nv);
    nubkernel::BasisPair N[4];
    const double su = nubkernel::SortedSpanParameter(u, ku, spanU, 3);
    const double sv = nubkernel::SortedSpanParameter(v, kv, spanV, 3);
    nubkernel::BasisOfDegree3Pair(ku, spanU, su, kv, spanV, sv, N);
    // Lane 0 holds the u basis, lane 1 the v basis.
    const nubkernel::BasisPair u01 = {N[0][0], N[1][0]}, u23 = {N[2][0], N[3][0]};
    nubkernel::SurfaceWindowSum3Pairs(
        s, u01, u23, [&N](int r) { return nubkernel::BasisPair{N[r][1], N[r][1]}; }, 3,
        spanU - 3, spanV - 3, s->Z != nullptr, out);
    return;
  }
#endif
  nubkernel::PointInit(u, pu, s->knotsU, Nu, &spanU, NumCtrlU(s), 0);
  nubkernel::PointInit(v, pv, s->knotsV, Nv, &spanV, NumCtrlV(s), 0);
  nubkernel::SurfaceWindow<Weighted>(s, Nu + 1, Nv + 1, spanU - pu, spanV - pv, s->Z != nullptr,
                                     out);
}

// Derivative along one direction only (du > 0 with dv = 0, or the reverse), types 0 and 1.
// The window is first contracted across the other direction with that direction's full
// basis, which leaves one control line per coordinate; that line's derivative net (its
// differences) is then summed with the lowered basis. Differencing and contracting act on
// different directions, so this is the derivative net of the whole window summed in the
// other order, for a quarter of the differences and no scratch.
// CountU is the u window's width, pu + 1, when the compiler may know it (bicubic), else -1.
template <int CountU>
void OneDirectionDerivativeOf(const Bspline* s, double u, double v, int du, int dv, int type,
                              double out[4]) {
  const bool alongU = du > 0;
  const int d = alongU ? du : dv;
  const int pu = s->degreeU, pv = s->degreeV;
  double Nu[kOrd + 1], Nv[kOrd + 1];
  int spanU = pu, spanV = pv;
  nubkernel::PointInit(u, pu - du, s->knotsU, Nu, &spanU, NumCtrlU(s), du);
  nubkernel::PointInit(v, pv - dv, s->knotsV, Nv, &spanV, NumCtrlV(s), dv);
  const int col0 = spanU - pu, row0 = spanV - pv;
  const bool homogeneous = type == 0 && s->W;
  const int nLines = type == 0 ? 4 : 3;
  // line[c][i]: position i along the differenced direction, contracted across the other:
  // along u the column sums of the window with the v basis, along v each row's line sum with
  // the u basis. Without weights the fourth line is the weight 1 contracted: the basis sum.
  const int m = alongU ? pu + 1 : pv + 1;
  double line[4][kOrd];
  double* const acc[4] = {line[0], line[1], line[2], line[3]};
  double* const* const M[4] = {s->X, s->Y, s->Z, homogeneous ? s->W : nullptr};
  const double* across = alongU ? Nv + 1 : Nu + 1;
  if (alongU) {
    if (homogeneous)
      nubkernel::ColumnSums<CountU, true>(M, across, pv, row0, col0, m, acc);
    else
      nubkernel::ColumnSums<CountU, false>(M, across, pv, row0, col0, m, acc);
  } else {
    for (int r = 0; r <= pv; ++r) {
      const double* W = homogeneous ? s->W[row0 + r] + col0 : nullptr;
      for (int c = 0; c < 3; ++c)
        line[c][r] = nubkernel::LineSum<CountU>(across, M[c][row0 + r] + col0, W, pu + 1);
      if (W) line[3][r] = nubkernel::LineSum<CountU>(across, W, nullptr, pu + 1);
    }
  }
  if (nLines == 4 && !homogeneous) {
    double basisSum = 0.0;
    for (int k = 0; k <= (alongU ? pv : pu); ++k) basisSum += across[k];
    for (int i = 0; i < m; ++i) line[3][i] = basisSum;
  }
  double recip[kOrd * kOrd];
  if (alongU)
    DifferenceRecips(s->knotsU, col0, m, pu, d, recip);
  else
    DifferenceRecips(s->knotsV, row0, m, pv, d, recip);
  const double* lowered = alongU ? Nu + 1 : Nv + 1;
  for (int c = 0; c < nLines; ++c) {
    DifferenceLine(line[c], 1, m, recip, m - 1, d);
    out[c] = nubkernel::LineSum(lowered, line[c], nullptr, m - d);
  }
}

void OneDirectionDerivative(const Bspline* s, double u, double v, int du, int dv, int type,
                            double out[4]) {
  if (s->degreeU == 3)
    OneDirectionDerivativeOf<4>(s, u, v, du, dv, type, out);
  else
    OneDirectionDerivativeOf<-1>(s, u, v, du, dv, type, out);
}

// The surface core: Eval4DPointOnRSurfArray's values. Returns false, out untouched, when the
// object is refused or the scratch cannot be created.
bool SurfCore(const Bspline* s, double u, double v, int du, int dv, int type, double out[4]) {
  if (!BsplineShapeSound(s) || s->kind != 2 || du < 0 || dv < 0) {
    Refuse();
    return false;
  }
  const int pu = s->degreeU, pv = s->degreeV;
  const bool homogeneous = type == 0 || type == 2;
  if (du > pu || dv > pv) {
    // Orders above the degree vanish (the weight's too).
    for (int k = 0; k < (homogeneous ? 4 : 3); ++k) out[k] = 0.0;
    return true;
  }
  if (type == 2 && s->W) {
    SurfacePosition<true>(s, u, v, out);
    return true;
  }
  if (type == 2 || type == 3) {
    SurfacePosition<false>(s, u, v, out);
    if (type == 2) out[3] = 1.0;
    return true;
  }
  if ((du > 0) != (dv > 0)) {
    OneDirectionDerivative(s, u, v, du, dv, type, out);
    return true;
  }
  double Nu[kOrd + 1], Nv[kOrd + 1];
  int spanU = pu, spanV = pv;
  nubkernel::PointInit(u, pu - du, s->knotsU, Nu, &spanU, NumCtrlU(s), du);
  nubkernel::PointInit(v, pv - dv, s->knotsV, Nv, &spanV, NumCtrlV(s), dv);
  if (!LocalNet(s, spanU, spanV, du, dv, type)) return false;
  SumLocalNet(s, du, dv, type, Nu + 1, Nv + 1, out);
  return true;
}

// t clamped into the domain, its span and the all-degrees table (EvalPointOnObjInitM's steps),
// the degree fixed for the compiler when P >= 0.
template <int P>
NUB_KERNEL_INLINE void AllDegreesAt(double t, int p, const double* knots, int hi, double* table,
                                    int* span) {
  const int deg = P >= 0 ? P : p;
  t = nubkernel::Clamp(t, knots[deg], knots[hi]);
  nubkernel::SpanSearch(knots, deg, t, span, hi);
  const double sorted = nubkernel::SortedSpanParameter(t, knots, *span, deg);
  nubkernel::AllDegreesTable<P>(knots, deg, sorted, *span, table);
}

// AllDegreesAt in u and in v; a bicubic's two tables from one recurrence in two lanes (the
// same values, half the divisions).
template <int P, int Q>
NUB_KERNEL_INLINE void BothAllDegreesAt(const Bspline* s, double u, double v, int pu, int pv,
                                        double* tu, double* tv, int* spanU, int* spanV) {
#if defined(__GNUC__)
  if constexpr (P == 3 && Q == 3) {
    const int hu = NumCtrlU(s), hv = NumCtrlV(s);
    u = nubkernel::Clamp(u, s->knotsU[3], s->knotsU[hu]);
    v = nubkernel::Clamp(v, s->knotsV[3], s->knotsV[hv]);
    nubkernel::SpanSearch(s->knotsU, 3, u, spanU, hu);
    nubkernel::SpanSearch(s->knotsV, 3, v, spanV, hv);
    nubkernel::AllDegreesTable3Pair(s->knotsU, *spanU,
                                    nubkernel::SortedSpanParameter(u, s->knotsU, *spanU, 3),
                                    s->knotsV, *spanV,
                                    nubkernel::SortedSpanParameter(v, s->knotsV, *spanV, 3), tu, tv);
    return;
  }
#endif
  AllDegreesAt<P>(u, pu, s->knotsU, NumCtrlU(s), tu, spanU);
  AllDegreesAt<Q>(v, pv, s->knotsV, NumCtrlV(s), tv, spanV);
}

// Derivative (du, dv), each order up to 2, from basis-function derivatives: one span search
// and one all-degrees table per direction, the derivative rows raised from it, the window
// contracted down its columns once per v order and summed along u once per u order. A rational
// surface needs every lower order of the homogeneous sums A(i, j) (coefficients times weights,
// weights summed as a fourth value) for the quotient rule. P and Q are the degrees when fixed
// for the compiler (bicubic), else -1.
template <int P, int Q, bool Homogeneous>
void DerivativeFromBasis(const Bspline* s, double u, double v, int du, int dv, double out[3]) {
  constexpr int kMax = 2;
  constexpr int cu = P >= 0 ? P + 1 : kOrd, Count = P >= 0 ? P + 1 : -1;
  const int pu = P >= 0 ? P : s->degreeU, pv = Q >= 0 ? Q : s->degreeV;
  double tu[1 + kOrd * (kOrd + 1) / 2], tv[1 + kOrd * (kOrd + 1) / 2];
  int spanU = pu, spanV = pv;
  BothAllDegreesAt<P, Q>(s, u, v, pu, pv, tu, tv, &spanU, &spanV);
  const int i0 = Homogeneous ? 0 : du, j0 = Homogeneous ? 0 : dv;
  double Nu[kMax + 1][cu], Nv[kMax + 1][Q >= 0 ? Q + 1 : kOrd];
  // A bicubic's first-derivative rows of both directions in one pass when both are wanted.
  bool firstPaired = false;
#if defined(__GNUC__)
  if constexpr (P == 3 && Q == 3) {
    if (i0 <= 1 && du >= 1 && j0 <= 1 && dv >= 1) {
      nubkernel::FirstDerivativeRows3Pair(s->knotsU, spanU, tu, s->knotsV, spanV, tv, Nu[1], Nv[1]);
      firstPaired = true;
    }
  }
#endif
  for (int i = i0; i <= du; ++i)
    if (i != 1 || !firstPaired) nubkernel::DerivativeRow<P>(s->knotsU, spanU, pu, tu, i, Nu[i]);
  for (int j = j0; j <= dv; ++j)
    if (j != 1 || !firstPaired) nubkernel::DerivativeRow<Q>(s->knotsV, spanV, pv, tv, j, Nv[j]);
  const bool hasZ = s->Z != nullptr;
  double* const* const M[4] = {s->X, s->Y, hasZ ? s->Z : nullptr, Homogeneous ? s->W : nullptr};
  // A(i, j) at (i (dv + 1) + j) 4: x, y, z and the weight sum.
  double A[(kMax + 1) * (kMax + 1) * 4];
  // Along the rows first when there is one u order, or when a rational surface asks for mixed
  // orders (every lower one too): each row of the window is weighed once and contracted with
  // each u order, then summed down with each v order. Otherwise down the columns first.
  const bool rowsFirst = du == 0 || (Homogeneous && dv > 0);
  if (rowsFirst) {
    constexpr int cv = Q >= 0 ? Q + 1 : kOrd, CountV = Q >= 0 ? Q + 1 : -1;
    double R[kMax + 1][4][cv];
    const int row0 = spanV - pv, col0 = spanU - pu;
    for (int r = 0; r <= pv; ++r) {
      const double* W = Homogeneous ? s->W[row0 + r] + col0 : nullptr;
      // The row's coordinates, weighed (x w, y w, z w) and the weights beside them.
      double h[4][cu];
      for (int c = 0; c < 3; ++c) {
        const double* m = M[c] ? M[c][row0 + r] + col0 : nullptr;
        for (int k = 0; k <= pu; ++k) h[c][k] = m ? (W ? W[k] * m[k] : m[k]) : 0.0;
      }
      for (int k = 0; k <= pu; ++k) h[3][k] = W ? W[k] : 0.0;
#if defined(__GNUC__)
      if (i0 == 0 && du == 1) {
        // Both u orders in the lanes of one sum (LineSum's operations lane by lane).
        for (int c = 0; c < 4; ++c) {
          nubkernel::BasisPair sum = {0.0, 0.0};
          for (int k = 0; k <= pu; ++k) sum += nubkernel::BasisPair{Nu[0][k], Nu[1][k]} * h[c][k];
          R[0][c][r] = sum[0];
          R[1][c][r] = sum[1];
        }
        continue;
      }
#endif
      for (int i = i0; i <= du; ++i)
        for (int c = 0; c < 4; ++c)
          R[i][c][r] = nubkernel::LineSum<Count>(Nu[i], h[c], nullptr, pu + 1);
    }
    for (int i = i0; i <= du; ++i)
      for (int j = j0; j <= dv; ++j)
        for (int c = 0; c < 4; ++c)
          A[(i * (dv + 1) + j) * 4 + c] =
              nubkernel::LineSum<CountV>(Nv[j], R[i][c], nullptr, pv + 1);
  }
  for (int j = rowsFirst ? dv + 1 : j0; j <= dv; ++j) {
    double a[4][cu];
    double* const acc[4] = {a[0], a[1], a[2], a[3]};
    nubkernel::ColumnSums<Count, Homogeneous>(M, Nv[j], pv, spanV - pv, spanU - pu, pu + 1, acc);
    for (int i = i0; i <= du; ++i) {
      double* e = A + (i * (dv + 1) + j) * 4;
      e[0] = nubkernel::LineSum<Count>(Nu[i], a[0], nullptr, pu + 1);
      e[1] = nubkernel::LineSum<Count>(Nu[i], a[1], nullptr, pu + 1);
      e[2] = hasZ ? nubkernel::LineSum<Count>(Nu[i], a[2], nullptr, pu + 1) : 0.0;
      e[3] = Homogeneous ? nubkernel::LineSum<Count>(Nu[i], a[3], nullptr, pu + 1) : 0.0;
    }
  }
  if (Homogeneous)
    ApplyQuotientRule(A, du, dv, 3, out);
  else
    for (int c = 0; c < 3; ++c) out[c] = A[(du * (dv + 1) + dv) * 4 + c];
}

// Cartesian point or derivative of a surface; rational derivatives by the quotient rule.
void SurfCartesian(const Bspline* s, double u, double v, int du, int dv, double out[3]) {
  // A curve has no v knots for the surface sums to read.
  if (!BsplineShapeSound(s) || s->kind != 2) {
    Refuse();
    return;
  }
  const int type = GetEvalType(s->rational, du + dv);
  double r[3] = {kRefused, kRefused, kRefused};
  const bool weighted = type == 0 && s->W;
  if ((weighted || (type == 1 && du > 0 && dv > 0)) && du <= 2 && dv <= 2) {
    // Rational and mixed derivatives from one basis-derivative table per direction: one span
    // search each way and one pass over the window per v order, where the homogeneous
    // derivatives one at a time would search and sum again for each.
    const bool bicubic = s->degreeU == 3 && s->degreeV == 3;
    if (weighted)
      (bicubic ? DerivativeFromBasis<3, 3, true> : DerivativeFromBasis<-1, -1, true>)(s, u, v, du,
                                                                                    dv, r);
    else
      (bicubic ? DerivativeFromBasis<3, 3, false> : DerivativeFromBasis<-1, -1, false>)(s, u, v,
                                                                                      du, dv, r);
  } else if (type == 0) {
    EvalPointDiffOfRObj(s, nullptr, nullptr, u, v, du, dv, r);
  } else {
    double h[4];
    if (!SurfCore(s, u, v, du, dv, type, h)) return;
    for (int k = 0; k < 3; ++k) r[k] = type == 2 ? h[k] / h[3] : h[k];
  }
  Deliver(r, 3, out);
}

}  // namespace

int InitSplineArrays() {
  if (surfDiffArray1 && surfDiffArray2 && surfDiffArray3 && surfDiffArray4 && surfDiffArray5)
    return 0;
  TrackingScope scope;
  double** m[5];
  for (double**& a : m) {
    a = allocate_matrix_ff(kOrd, kOrd);
    if (!a || KernelFailed()) return -2;
  }
  surfDiffArray1 = m[0];
  surfDiffArray2 = m[1];
  surfDiffArray3 = m[2];
  surfDiffArray4 = m[3];
  surfDiffArray5 = m[4];
  scope.keep();
  return 0;
}

void Eval4DPointOnRSurfArray(const Bspline* s, double u, double v, int du, int dv, int type,
                             double out[4]) {
  double h[4];
  if (SurfCore(s, u, v, du, dv, type, h)) Deliver(h, type == 0 || type == 2 ? 4 : 3, out);
}

namespace {

// Cartesian surface value; the non-rational point, the common case, compiled into the caller.
NUB_KERNEL_INLINE void SurfCartesianFast(const Bspline* s, double u, double v, int du, int dv,
                                         double out[3]) {
  if (BsplineShapeSound(s) && s->kind == 2 && !s->rational && du == 0 && dv == 0) {
    double h[4];
    SurfacePosition<false>(s, u, v, h);
    Deliver(h, 3, out);
    return;
  }
  SurfCartesian(s, u, v, du, dv, out);
}

}  // namespace

void Eval3DPointOnSurfArray(const Bspline* s, double u, double v, int du, int dv, double out[3]) {
  SurfCartesianFast(s, u, v, du, dv, out);
}

double* Eval3DPointOnSurfCoord(const Bspline* s, double u, double v, int du, int dv,
                               double out[3]) {
  SurfCartesianFast(s, u, v, du, dv, out);
  return out;
}

double* Eval3DPointOnSurfCoord_f(const Bspline* s, double u, double v, int du, int dv,
                                 double out[3]) {
  return Eval3DPointOnSurfCoord(s, u, v, du, dv, out);
}

void Eval4DPointOnRCurve3Array(const Bspline* c, double t, int d, int type, double out[4]) {
  if (!BsplineShapeSound(c) || d < 0) {
    Refuse();
    return;
  }
  int span = c->degreeU;
  double h[4];
  CurveCore(c, t, d, type, &span, h);
  const int dim = c->dimension == 2 ? 2 : 3;
  Deliver(h, type == 0 || type == 2 ? dim + 1 : dim, out);
}

void Eval3DPointOnCurve3Array(const Bspline* c, double t, int d, double out[3]) {
  if (!BsplineShapeSound(c) || d < 0) {
    Refuse();
    return;
  }
  double r[3] = {kRefused, kRefused, kRefused};
  CurveCartesian(c, t, d, r);
  Deliver(r, c->dimension == 2 ? 2 : 3, out);
}

double* Eval3DPointOnCurve3Coord(const Bspline* c, double t, int d, double out[3]) {
  Eval3DPointOnCurve3Array(c, t, d, out);
  return out;
}

void Eval3DPointOnRCurve2Array(const Bspline* c, double t, int d, int type, double out[3]) {
  // out has room for a 2D curve's homogeneous value; a 3D curve's would need a fourth.
  if (!c || c->dimension != 2) {
    Refuse();
    return;
  }
  Eval4DPointOnRCurve3Array(c, t, d, type, out);
}

void Eval2DPointOnCurve2Array(const Bspline* srf, const Bspline* c, double t, int d,
                              double out[2]) {
  if (!BsplineShapeSound(c) || d < 0) {
    Refuse();
    return;
  }
  double uv[3] = {kRefused, kRefused, kRefused};
  CurveCartesian(c, t, d, uv);
  if (d == 0 && srf) {
    uv[0] = nubkernel::Clamp(uv[0], srf->umin, srf->umax);
    uv[1] = nubkernel::Clamp(uv[1], srf->vmin, srf->vmax);
  }
  Deliver(uv, 2, out);
}

namespace {

// Point and derivatives up to order d (0 to 2) of a curve on a surface by the chain rule.
// Returns false (out untouched) when the curve cannot be mapped or the value is not finite.
bool CurveOnSurface(const Bspline* srf, const Bspline* c, double t, int d, double out[3]) {
  if (!BsplineShapeSound(c)) {
    Refuse();
    return false;
  }
  if (c->dimension == 3) {
    Eval3DPointOnCurve3Array(c, t, d, out);
    return true;
  }
  const Bspline* s = srf ? srf : c->owner;
  if (!BsplineShapeSound(s) || s->kind != 2) {
    Refuse();
    return false;
  }
  // Every partial result starts as kRefused, so a refused step refuses the whole value.
  const double R = kRefused;
  double uv[2] = {R, R}, r[3] = {R, R, R};
  Eval2DPointOnCurve2Array(s, c, t, 0, uv);
  if (d == 0) {
    Eval3DPointOnSurfArray(s, uv[0], uv[1], 0, 0, r);
    return Deliver(r, 3, out);
  }
  double d1[2] = {R, R}, su[3] = {R, R, R}, sv[3] = {R, R, R};
  Eval2DPointOnCurve2Array(s, c, t, 1, d1);
  Eval3DPointOnSurfArray(s, uv[0], uv[1], 1, 0, su);
  Eval3DPointOnSurfArray(s, uv[0], uv[1], 0, 1, sv);
  if (d == 1) {
    for (int k = 0; k < 3; ++k) r[k] = su[k] * d1[0] + sv[k] * d1[1];
    return Deliver(r, 3, out);
  }
  double d2[2] = {R, R}, suu[3] = {R, R, R}, suv[3] = {R, R, R}, svv[3] = {R, R, R};
  Eval2DPointOnCurve2Array(s, c, t, 2, d2);
  Eval3DPointOnSurfArray(s, uv[0], uv[1], 2, 0, suu);
  Eval3DPointOnSurfArray(s, uv[0], uv[1], 1, 1, suv);
  Eval3DPointOnSurfArray(s, uv[0], uv[1], 0, 2, svv);
  for (int k = 0; k < 3; ++k)
    r[k] = (2.0 * suv[k] * d1[0] + svv[k] * d1[1]) * d1[1] + suu[k] * d1[0] * d1[0] +
           sv[k] * d2[1] + su[k] * d2[0];
  return Deliver(r, 3, out);
}

}  // namespace

void Eval3DPointOnBsplOnSurfArray(const Bspline* srf, const Bspline* c, double t, int d, int order,
                                  double out[3]) {
  (void)order;
  if (d >= 2) {
    ShowUnavailable();
    return;
  }
  if (d < 0) return;
  CurveOnSurface(srf, c, t, d, out);
}

double* Eval3DPointOnBsplOnSurfCoord(const Bspline* srf, const Bspline* c, double t, int d,
                                     int order, double out[3]) {
  Eval3DPointOnBsplOnSurfArray(srf, c, t, d, order, out);
  return out;
}

void EvalCrvOnSrfArray(const Bspline* srf, const Bspline* c, double t, int d, double out[3]) {
  if (d < 0 || d > 2) return;
  CurveOnSurface(srf, c, t, d, out);
}

double* EvalCrvOnSrfCoord(const Bspline* srf, const Bspline* c, double t, int d, double out[3]) {
  EvalCrvOnSrfArray(srf, c, t, d, out);
  return out;
}

namespace {

#if defined(__GNUC__)
constexpr bool kPairedPoint = true;  // the bicubic point evaluator's two-lane sum
#else
constexpr bool kPairedPoint = false;
#endif

// Point and first derivatives of a surface from one span search and one all-degrees table
// per direction (degree p for the point, p - 1 for the derivatives). The window is contracted
// once down its columns with the v basis, C[k] = sum_r Nv[r] P[r][k], which gives the point
// (sum_k Nu[k] C[k]) and, differenced, S_u; and once along its rows with the u basis,
// R[r] = sum_k Nu[k] P[r][k], which differenced gives S_v (OneDirectionDerivative's method).
// With `homogeneous` the coefficients are multiplied by the weights and the weights are summed
// as a fourth value. h[k] receives (x, y, z, w) for the requests flags[k] asks for.
// P and Q are the degrees when fixed for the compiler (bicubic), else -1.
template <int P, int Q, bool Homogeneous>
void SharedFirstDerivatives(const Bspline* s, double u, double v, const int flags[3],
                            double h[3][4]) {
  const int pu = P >= 0 ? P : s->degreeU, pv = Q >= 0 ? Q : s->degreeV;
  const bool homogeneous = Homogeneous;
  double tu[1 + kOrd * (kOrd + 1) / 2], tv[1 + kOrd * (kOrd + 1) / 2];
  int spanU = pu, spanV = pv;
  BothAllDegreesAt<P, Q>(s, u, v, pu, pv, tu, tv, &spanU, &spanV);
  const double* Nu = tu + 1 + pu * (pu + 1) / 2;
  const double* Nv = tv + 1 + pv * (pv + 1) / 2;
  const int col0 = spanU - pu, row0 = spanV - pv;
  const bool columns = flags[0] || flags[1], rows = flags[2] != 0;
  const bool hasZ = s->Z != nullptr;
  // C[c][k] and R[c][r] for c = x, y, z, w.
  double C[4][kOrd], R[4][kOrd];
  for (int c = 0; c < 4; ++c) {
    for (int k = 0; k <= pu; ++k) C[c][k] = 0.0;
    for (int r = 0; r <= pv; ++r) R[c][r] = 0.0;
  }
  for (int r = 0; r <= pv; ++r) {
    const double* X = s->X[row0 + r] + col0;
    const double* Y = s->Y[row0 + r] + col0;
    const double* Z = hasZ ? s->Z[row0 + r] + col0 : nullptr;
    const double* W = homogeneous ? s->W[row0 + r] + col0 : nullptr;
    for (int k = 0; k <= pu; ++k) {
      const double w = W ? W[k] : 1.0;
      const double val[4] = {W ? w * X[k] : X[k], W ? w * Y[k] : Y[k],
                             Z ? (W ? w * Z[k] : Z[k]) : 0.0, w};
      if (columns)
        for (int c = 0; c < 4; ++c) C[c][k] += Nv[r] * val[c];
      if (rows)
        for (int c = 0; c < 4; ++c) R[c][r] += Nu[k] * val[c];
    }
  }
  // The point from whichever contraction was made; the bicubic non-rational sum in pairs,
  // (p0 + p2) + (p1 + p3), as Eval3DPointOnSurfArray adds it, so both give the same point.
  for (int c = 0; c < 4; ++c) {
    double sum = 0.0;
    if (columns && kPairedPoint && pu == 3 && !homogeneous)
      sum = (Nu[0] * C[c][0] + Nu[2] * C[c][2]) + (Nu[1] * C[c][1] + Nu[3] * C[c][3]);
    else if (columns)
      for (int k = 0; k <= pu; ++k) sum += Nu[k] * C[c][k];
    else
      for (int r = 0; r <= pv; ++r) sum += Nv[r] * R[c][r];
    h[0][c] = sum;
  }
  // One direction's derivative: the contracted line differenced once, summed with the
  // degree p - 1 row of the table (a degree-0 direction has none: its derivative is 0).
  auto derivative = [](const double* knots, int first, int p, const double* table,
                       double line[4][kOrd], double* out) {
    if (p == 0) {
      for (int c = 0; c < 4; ++c) out[c] = 0.0;
      return;
    }
    const double* lowered = table + 1 + (p - 1) * p / 2;
    double recip[kOrd];
    DifferenceRecips(knots, first, p + 1, p, 1, recip);
    for (int c = 0; c < 4; ++c) {
      DifferenceLine(line[c], 1, p + 1, recip, p, 1);
      double sum = 0.0;
      for (int i = 0; i < p; ++i) sum += lowered[i] * line[c][i];
      out[c] = sum;
    }
  };
  if (flags[1]) derivative(s->knotsU, col0, pu, tu, C, h[1]);
  if (flags[2]) derivative(s->knotsV, row0, pv, tv, R, h[2]);
}

void SurfaceRequestsM(const Bspline* s, double u, double v, const int flags[3], int type,
                      double out[3][3]) {
  // out has room for Cartesian values only: a rational surface's derivatives always go through
  // the quotient rule, whatever the type.
  (void)type;
  if (s->rational && !s->W) {
    // Positions without weights: the single forms decide.
    for (int k = 0; k < 3; ++k)
      if (flags[k]) SurfCartesian(s, u, v, k == 1, k == 2, out[k]);
    return;
  }
  const bool homogeneous = s->rational != 0;
  double h[3][4];
  const bool bicubic = s->degreeU == 3 && s->degreeV == 3;
  if (homogeneous)
    (bicubic ? SharedFirstDerivatives<3, 3, true> : SharedFirstDerivatives<-1, -1, true>)(
        s, u, v, flags, h);
  else
    (bicubic ? SharedFirstDerivatives<3, 3, false> : SharedFirstDerivatives<-1, -1, false>)(
        s, u, v, flags, h);
  for (int k = 0; k < 3; ++k) {
    if (!flags[k]) continue;
    if (!homogeneous) {
      for (int c = 0; c < 3; ++c) out[k][c] = h[k][c];
    } else if (k == 0) {
      for (int c = 0; c < 3; ++c) out[0][c] = h[0][c] / h[0][3];
    } else {
      // S' = (A' - w' S) / w from the point and the derivative's homogeneous values.
      const double A[8] = {h[0][0], h[0][1], h[0][2], h[0][3], h[k][0], h[k][1], h[k][2], h[k][3]};
      ApplyQuotientRule(A, 1, 0, 3, out[k]);
    }
  }
}

}  // namespace

void Eval4DPointOnRSurfArrayM(const Bspline* s, double u, double v, const int flags[3], int type,
                              double out[3][3]) {
  if (!BsplineShapeSound(s) || s->kind != 2) {
    Refuse();
    return;
  }
  // The requests are computed aside and handed over only when all of them are finite.
  const double R = kRefused;
  double r[3][3] = {{R, R, R}, {R, R, R}, {R, R, R}};
  SurfaceRequestsM(s, u, v, flags, type, r);
  for (int k = 0; k < 3; ++k)
    if (flags[k] && !AllFinite(r[k], 3)) {
      Refuse();
      return;
    }
  for (int k = 0; k < 3; ++k)
    if (flags[k]) Deliver(r[k], 3, out[k]);
}

void Eval3DPointOnSurfArrayM(const Bspline* s, double u, double v, const int flags[3],
                             double out[3][3]) {
  const int count = (flags[0] != 0) + (flags[1] != 0) + (flags[2] != 0);
  if (count == 1) {
    const int k = flags[0] ? 0 : (flags[1] ? 1 : 2);
    Eval3DPointOnSurfArray(s, u, v, k == 1, k == 2, out[k]);
    return;
  }
  Eval4DPointOnRSurfArrayM(s, u, v, flags, s->rational ? 2 : 3, out);
}

// ---- n evenly spaced parameters --------------------------------------------------------------
namespace {

// Steps through n evenly spaced parameters of the curve's domain, the span search carrying
// on from the previous parameter, and hands each value to `put` with the output slot(s):
// one slot per point, or with `segments` the ends of n - 1 segments (inner points twice).
template <class Eval, class Put>
void EvenlySpaced(const Bspline* c, int segments, int n, Eval eval, Put put) {
  if (n <= 0 || (segments && n < 2)) return;
  const int p = c->degreeU;
  const double a = c->knotsU[p], b = c->knotsU[NumCtrlU(c)];
  // One point: the domain start (a step over n - 1 = 0 intervals has no meaning).
  const double h = n > 1 ? (b - a) / (n - 1) : 0.0;
  int span = p;
  double val[4] = {kRefused, kRefused, kRefused, kRefused};
  for (int i = 0; i < n; ++i) {
    double t = a + i * h;
    if (t > b) t = b;
    eval(t, &span, val);
    if (!segments) {
      put(i, val);
    } else {
      if (i > 0) put(2 * i - 1, val);
      if (i < n - 1) put(2 * i, val);
    }
  }
}

// The n-point evaluators check the whole record first (a bad one is refused with nothing
// written); a value that still comes out non-finite overflowed, and the result is -2 after
// all.
template <class T>
int Npnts4DCurve(const Bspline* c, int segments, int d, int n, T* x, T* y, T* z, T* w) {
  if (!BsplineSound(c) || d < 0) return -2;
  const int type = GetEvalType(c->rational, d);
  const int dim = c->dimension == 2 ? 2 : 3;
  // Values come as dim coordinates then the weight: a 2D caller passes its weights as z.
  T* outs[4] = {x, y, z, w};
  const int nOut = (type == 0 || type == 2) ? dim + 1 : dim;
  bool finite = true;
  EvenlySpaced(
      c, segments, n,
      [&](double t, int* span, double* val) { CurveCore(c, t, d, type, span, val); },
      [&](int slot, const double* val) {
        finite = finite && AllFinite(val, nOut);
        for (int k = 0; k < nOut; ++k)
          if (outs[k]) outs[k][slot] = static_cast<T>(val[k]);
        // A non-rational object's weight is 1 (0 for its derivatives).
        if (nOut == dim && outs[dim]) outs[dim][slot] = static_cast<T>(d == 0 ? 1.0 : 0.0);
      });
  return finite ? 0 : -2;
}

// Cartesian values of a curve: the 4D core for non-rational objects and rational positions,
// the quotient rule for rational derivatives.
template <class T>
int NpntsCartesianCurve(const Bspline* c, const Bspline* srf, int segments, int d, int n, T* x,
                        T* y, T* z) {
  if (!BsplineSound(c) || d < 0) return -2;
  const int type = GetEvalType(c->rational, d);
  const int dim = c->dimension == 2 ? 2 : 3;
  bool finite = true;
  EvenlySpaced(
      c, segments, n,
      [&](double t, int* span, double* val) {
        if (type == 0) {
          CurveCartesian(c, t, d, val);
          return;
        }
        CurveCore(c, t, d, type, span, val);
        if (type == 2)
          for (int k = 0; k < dim; ++k) val[k] /= val[dim];
        if (d == 0 && srf && dim == 2) {
          val[0] = nubkernel::Clamp(val[0], srf->umin, srf->umax);
          val[1] = nubkernel::Clamp(val[1], srf->vmin, srf->vmax);
        }
      },
      [&](int slot, const double* val) {
        finite = finite && AllFinite(val, dim);
        x[slot] = static_cast<T>(val[0]);
        y[slot] = static_cast<T>(val[1]);
        if (z && dim == 3) z[slot] = static_cast<T>(val[2]);
      });
  return finite ? 0 : -2;
}

}  // namespace

int Eval4DNpntsOnRCurve3Array(const Bspline* c, int segments, int d, int n, double* x, double* y,
                              double* z, double* w) {
  return Npnts4DCurve(c, segments, d, n, x, y, z, w);
}

int Eval4DNpntsOnRCurve3Array_f(const Bspline* c, int segments, int d, int n, float* x, float* y,
                                float* z, float* w) {
  return Npnts4DCurve(c, segments, d, n, x, y, z, w);
}

int Eval3DNpntsOnCurve3Array_f(const Bspline* c, int segments, int d, int n, float* x, float* y,
                               float* z) {
  return NpntsCartesianCurve(c, nullptr, segments, d, n, x, y, z);
}

// The 2D forms take the weight as their third array: a 3D curve would put z there.
int Eval3DNpntsOnRCurve2Array(const Bspline* c, int segments, int d, int n, double* u, double* v,
                              double* w) {
  if (!c || c->dimension != 2) return -2;
  return Npnts4DCurve<double>(c, segments, d, n, u, v, w, nullptr);
}

int Eval3DNpntsOnRCurve2Array_f(const Bspline* c, int segments, int d, int n, float* u, float* v,
                                float* w) {
  if (!c || c->dimension != 2) return -2;
  return Npnts4DCurve<float>(c, segments, d, n, u, v, w, nullptr);
}

int Eval2DNpntsOnCurve2Array_f(const Bspline* srf, const Bspline* c, int segments, int d, int n,
                               float* u, float* v) {
  return NpntsCartesianCurve<float>(c, srf, segments, d, n, u, v, nullptr);
}

int Eval3DNpntsOnBsplOnSurfArray_f(const Bspline* srf, const Bspline* c, int segments, int d, int n,
                                   float* x, float* y, float* z) {
  if (d > 1) {
    ShowUnavailable();
    return -2;
  }
  if (!BsplineSound(c) || d < 0) return -2;
  const Bspline* s = srf ? srf : c->owner;
  if (c->dimension == 2 && !BsplineSound(s)) return -2;
  bool finite = true;
  EvenlySpaced(
      c, segments, n, [&](double t, int*, double* val) { CurveOnSurface(s, c, t, d, val); },
      [&](int slot, const double* val) {
        finite = finite && AllFinite(val, 3);
        x[slot] = static_cast<float>(val[0]);
        y[slot] = static_cast<float>(val[1]);
        z[slot] = static_cast<float>(val[2]);
      });
  return finite && !KernelFailed() ? 0 : -2;
}

// ---- grids of given parameters ---------------------------------------------------------------
namespace {

// Spans and degree-(p - shift) basis values of every parameter of one direction, the search
// carrying on from the previous value (FindLowKnotIndex restarts by itself when a value
// decreases). Basis rows of deg + 1 values, consecutive.
void GridBasis(const double* knots, int p, int shift, int nCtrl, const double* ts, int n,
               double* basis, int* spans) {
  const int deg = p - shift;
  double N[kOrd + 1];
  int span = p;
  for (int i = 0; i < n; ++i) {
    nubkernel::PointInit(ts[i], deg, knots, N, &span, nCtrl, shift);
    spans[i] = span;
    for (int k = 0; k <= deg; ++k) basis[i * (deg + 1) + k] = N[k + 1];
  }
}

// What a grid sums: coefficient matrices (x, y, z; z null for a 2D curve) and a fourth matrix
// that is either the weights of unweighted coefficients (positions of a rational object) or a
// homogeneous weight net summed like a coordinate.
struct GridNet {
  double* const* c[4];
  bool weighted;       // c[3] holds weights multiplying x, y, z; its sum is the fourth value
  int pu, pv;          // degrees of the basis
  int shiftU, shiftV;  // derivative orders: window column = span - pu - shiftU
  int ncu;             // columns of the matrices
};

// The lines a grid row's points sum along u: x, y, z (null for a flat object) and the fourth
// line (null: the fourth value is 1).
struct GridLines {
  const double *x, *y, *z, *w;
};

// Every point of one grid row: the line sum along u at its span, emitted at first + i. With
// CurveWeighted the fourth line weights x, y and z (a rational curve's single row). Count is
// the basis length when the compiler may know it, else -1 and ou holds it.
template <int Count, bool CurveWeighted, class Emit>
void GridRowPoints(const GridLines& l, const double* bu, const int* su, int nu, int ou, int shift,
                   int first, Emit& emit) {
  for (int i = 0; i < nu; ++i) {
    const int col0 = su[i] - shift;
    const double* Nu = bu + i * ou;
    const double* w = CurveWeighted ? l.w + col0 : nullptr;
    double val[4];
    val[0] = nubkernel::LineSum<Count>(Nu, l.x + col0, w, ou);
    val[1] = nubkernel::LineSum<Count>(Nu, l.y + col0, w, ou);
    val[2] = l.z ? nubkernel::LineSum<Count>(Nu, l.z + col0, w, ou) : 0.0;
    val[3] = l.w ? nubkernel::LineSum<Count>(Nu, l.w + col0, nullptr, ou) : 1.0;
    emit(first + i, val);
  }
}

// Sums the net over the grid. Rows are contracted first: for grid row j every column i gets
// C[i] = sum_r Nv[r] M[row0 + r][i], then each grid point sums Nu[k] C[col0 + k]. This is
// the order of EvalPointOnBspline's window sum, so a grid point equals the single-point value
// exactly. emit(index, values[4]) receives x, y, z and the fourth value.
template <class Emit>
int GridSum(const GridNet& g, const double* us, int nu, const double* vs, int nv,
            const double* knotsU, const double* knotsV, int nCtrlU, int nCtrlV, bool surface,
            Emit emit) {
  TrackingScope scope;
  const int ou = g.pu + 1, ov = g.pv + 1;
  double* bu = MallocArray<double>(nu, ou);
  int* su = MallocArray<int>(nu);
  double* C = MallocArray<double>(4, g.ncu);
  double* bv = nullptr;
  int* sv = nullptr;
  if (surface) {
    bv = MallocArray<double>(nv, ov);
    sv = MallocArray<int>(nv);
  }
  if (!bu || !su || !C || (surface && (!bv || !sv)) || KernelFailed()) return -2;
  GridBasis(knotsU, g.pu + g.shiftU, g.shiftU, nCtrlU, us, nu, bu, su);
  if (surface) GridBasis(knotsV, g.pv + g.shiftV, g.shiftV, nCtrlV, vs, nv, bv, sv);
  const int rows = surface ? nv : 1;
  const bool hasZ = g.c[2] != nullptr, hasW = g.c[3] != nullptr;
  double* const acc[4] = {C, C + g.ncu, C + 2 * g.ncu, C + 3 * g.ncu};
  // A curve has a single row: its products with the weights are formed per point, as
  // EvalPointOnBspline4D forms them.
  const bool curveWeighted = !surface && g.weighted;
#if defined(__GNUC__)
  // The bicubic point evaluator sums its four products in pairs, (p0 + p2) + (p1 + p3); the
  // grid keeps that order so both give the same values.
  const bool pairOrder = surface && !g.weighted && ou == 4;
#else
  const bool pairOrder = false;
#endif
  auto pairSum = [](const double* N, const double* a) {
    return (N[0] * a[0] + N[2] * a[2]) + (N[1] * a[1] + N[3] * a[3]);
  };
  for (int j = 0; j < rows; ++j) {
    // The lines the points sum along u: a surface's column sums over the whole width for this
    // grid row, a curve's own coefficients.
    const double *x0, *y0, *z0, *w0;
    if (surface) {
      const int row0 = sv[j] - g.pv - g.shiftV;
      if (g.weighted)
        nubkernel::ColumnSums<-1, true>(g.c, bv + j * ov, g.pv, row0, 0, g.ncu, acc);
      else
        nubkernel::ColumnSums<-1, false>(g.c, bv + j * ov, g.pv, row0, 0, g.ncu, acc);
      x0 = acc[0];
      y0 = acc[1];
      z0 = hasZ ? acc[2] : nullptr;
      w0 = hasW ? acc[3] : nullptr;
    } else {
      x0 = g.c[0][0];
      y0 = g.c[1][0];
      z0 = hasZ ? g.c[2][0] : nullptr;
      w0 = hasW ? g.c[3][0] : nullptr;
    }
    if (pairOrder) {
      for (int i = 0; i < nu; ++i) {
        const int col0 = su[i] - g.pu - g.shiftU;
        const double* Nu = bu + i * ou;
        double val[4];
        val[0] = pairSum(Nu, x0 + col0);
        val[1] = pairSum(Nu, y0 + col0);
        val[2] = hasZ ? pairSum(Nu, z0 + col0) : 0.0;
        val[3] = hasW ? pairSum(Nu, w0 + col0) : 1.0;
        emit(j * nu + i, val);
      }
      continue;
    }
    // The common basis lengths fixed for the compiler, the sums unrolled.
    const GridLines lines{x0, y0, z0, w0};
    if (curveWeighted)
      GridRowPoints<-1, true>(lines, bu, su, nu, ou, g.pu + g.shiftU, j * nu, emit);
    else if (ou == 3)
      GridRowPoints<3, false>(lines, bu, su, nu, ou, g.pu + g.shiftU, j * nu, emit);
    else if (ou == 4)
      GridRowPoints<4, false>(lines, bu, su, nu, ou, g.pu + g.shiftU, j * nu, emit);
    else
      GridRowPoints<-1, false>(lines, bu, su, nu, ou, g.pu + g.shiftU, j * nu, emit);
  }
  return 0;
}

GridNet PositionNet(const Bspline* b) {
  GridNet g{};
  g.c[0] = b->X;
  g.c[1] = b->Y;
  g.c[2] = b->dimension == 3 ? b->Z : nullptr;
  g.c[3] = b->rational ? b->W : nullptr;
  g.weighted = b->rational && b->W;
  g.pu = b->degreeU;
  g.pv = b->kind == 2 ? b->degreeV : 0;
  g.ncu = NumCtrlU(b);
  return g;
}

// The grid evaluators check the record and the parameters first (bad ones are refused with
// nothing written); a value that still comes out non-finite overflowed, and the result is
// -2 after all.
bool GridInputSound(const Bspline* b, const double* us, int nu, const double* vs, int nv) {
  if (!BsplineSound(b) || (nu > 0 && !AllFinite(us, nu)) ||
      (b->kind == 2 && nv > 0 && !AllFinite(vs, nv))) {
    Refuse();
    return false;
  }
  return true;
}

template <class Emit>
int PositionGrid(const Bspline* b, const double* us, int nu, const double* vs, int nv, Emit emit) {
  if (!GridInputSound(b, us, nu, vs, nv)) return -2;
  if (nu <= 0 || (b->kind == 2 && nv <= 0)) return 0;
  const bool surface = b->kind == 2;
  // x - x is 0 for a finite x and NaN otherwise: one sum of those tells whether every value
  // was finite, without a branch per point.
  double probe = 0.0;
  const int r = GridSum(PositionNet(b), us, nu, vs, surface ? nv : 1, b->knotsU, b->knotsV,
                        NumCtrlU(b), surface ? NumCtrlV(b) : 1, surface,
                        [&](int k, const double* val) {
                          probe += ((val[0] - val[0]) + (val[1] - val[1])) +
                                   ((val[2] - val[2]) + (val[3] - val[3]));
                          emit(k, val);
                        });
  const bool finite = probe == 0.0;
  if (r == 0 && !finite) {
    Refuse();
    return -2;
  }
  return r;
}

template <class T>
int Grid3D(const Bspline* b, const double* us, int nu, const double* vs, int nv, T* x, T* y, T* z) {
  const bool rational = b->rational != 0;
  const bool flat = b->dimension == 2;
  return PositionGrid(b, us, nu, vs, nv, [&](int k, const double* val) {
    const double w = rational ? val[3] : 1.0;
    x[k] = static_cast<T>(rational ? val[0] / w : val[0]);
    y[k] = static_cast<T>(rational ? val[1] / w : val[1]);
    if (z) z[k] = static_cast<T>(flat ? 0.0 : (rational ? val[2] / w : val[2]));
  });
}

template <class T>
int Grid4D(const Bspline* b, const double* us, int nu, const double* vs, int nv, T* w, T* x, T* y,
           T* z) {
  const bool flat = b->dimension == 2;
  return PositionGrid(b, us, nu, vs, nv, [&](int k, const double* val) {
    if (w) w[k] = static_cast<T>(val[3]);
    x[k] = static_cast<T>(val[0]);
    y[k] = static_cast<T>(val[1]);
    if (z) z[k] = static_cast<T>(flat ? 0.0 : val[2]);
  });
}

}  // namespace

int Eval3DGridOnBsplArray(const Bspline* b, const double* us, int nu, const double* vs, int nv,
                          double* x, double* y, double* z) {
  return Grid3D(b, us, nu, vs, nv, x, y, z);
}

int Eval3DGridOnBsplArray_f(const Bspline* b, const double* us, int nu, const double* vs, int nv,
                            float* x, float* y, float* z) {
  return Grid3D(b, us, nu, vs, nv, x, y, z);
}

int Eval4DGridOnRBsplArray(const Bspline* b, const double* us, int nu, const double* vs, int nv,
                           double* w, double* x, double* y, double* z) {
  return Grid4D(b, us, nu, vs, nv, w, x, y, z);
}

int Eval4DGridOnRBsplArray_f(const Bspline* b, const double* us, int nu, const double* vs, int nv,
                             float* w, float* x, float* y, float* z) {
  return Grid4D(b, us, nu, vs, nv, w, x, y, z);
}

int Eval4DGridOnRSurfArray(const Bspline* s, const double* us, int nu, const double* vs, int nv,
                           int du, int dv, int type, double* w, double* x, double* y, double* z) {
  if (!BsplineShapeSound(s) || s->kind != 2 || du < 0 || dv < 0) {
    Refuse();
    return -2;
  }
  if (type == 2 || type == 3) return Grid4D(s, us, nu, vs, nv, w, x, y, z);
  if (!GridInputSound(s, us, nu, vs, nv)) return -2;
  if (nu <= 0 || nv <= 0) return 0;
  const int pu = s->degreeU, pv = s->degreeV, ncu = NumCtrlU(s), ncv = NumCtrlV(s);
  const bool homogeneous = type == 0 && s->W;
  if (du > pu || dv > pv) {
    // Orders above the degree vanish everywhere.
    for (int k = 0; k < nu * nv; ++k) {
      x[k] = y[k] = z[k] = 0.0;
      if (homogeneous && w) w[k] = 0.0;
    }
    return 0;
  }
  // Full-size derivative nets: every control line differenced over the whole knot vector.
  TrackingScope scope;
  const int nNets = homogeneous ? 4 : 3;
  double** net[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int c = 0; c < nNets; ++c) {
    net[c] = allocate_matrix_ff(ncv, ncu);
    if (!net[c] || KernelFailed()) return -2;
  }
  double** const src[3] = {s->X, s->Y, s->Z};
  for (int j = 0; j < ncv; ++j)
    for (int i = 0; i < ncu; ++i) {
      const double wt = homogeneous ? s->W[j][i] : 1.0;
      for (int c = 0; c < 3; ++c) net[c][j][i] = homogeneous ? wt * src[c][j][i] : src[c][j][i];
      if (homogeneous) net[3][j][i] = wt;
    }
  const std::ptrdiff_t pitch = ncv > 1 ? net[0][1] - net[0][0] : ncu;
  double* ru = MallocArray<double>(du * ncu + 1);
  double* rv = MallocArray<double>(dv * ncv + 1);
  if (!ru || !rv || KernelFailed()) return -2;
  if (du > 0) DifferenceRecips(s->knotsU, 0, ncu, pu, du, ru);
  if (dv > 0) DifferenceRecips(s->knotsV, 0, ncv, pv, dv, rv);
  for (int c = 0; c < nNets; ++c) {
    if (du > 0)
      for (int j = 0; j < ncv; ++j) DifferenceLine(net[c][j], 1, ncu, ru, pu, du);
    if (dv > 0)
      for (int i = 0; i < ncu - du; ++i) DifferenceLine(net[c][0] + i, pitch, ncv, rv, pv, dv);
  }
  GridNet g{};
  for (int c = 0; c < 4; ++c) g.c[c] = net[c];
  g.weighted = false;
  g.pu = pu - du;
  g.pv = pv - dv;
  g.shiftU = du;
  g.shiftV = dv;
  g.ncu = ncu;
  bool finite = true;
  const int r = GridSum(g, us, nu, vs, nv, s->knotsU, s->knotsV, ncu, ncv, true,
                        [&](int k, const double* val) {
                          finite = finite && AllFinite(val, homogeneous ? 4 : 3);
                          x[k] = val[0];
                          y[k] = val[1];
                          z[k] = val[2];
                          if (homogeneous && w) w[k] = val[3];
                        });
  if (r == 0 && !finite) {
    Refuse();
    return -2;
  }
  return r;
}
