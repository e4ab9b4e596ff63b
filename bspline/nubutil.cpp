#include "bspline/nubutil.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "bspline/bsvalid.h"
#include "bspline/knots.h"
#include "bspline/kremove.h"
#include "bspline/nubs.h"
#include "bspline/nubs_simd.h"
#include "bspline/subobj.h"
#include "foundation/coreglob.h"
#include "foundation/mathutil.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

namespace {

// Longest derivative chain of the quotient rule: orders 0 .. kMaxSplineDegree, and up to
// second order in the other direction for the mixed forms.
constexpr int kChain = kMaxSplineDegree + 1;
constexpr int kQuotientTable = kChain * 3;
constexpr int kSmallBinomial = 5;

const Bspline* OneOf(const Bspline* a, const Bspline* b, const Bspline* c) {
  return a ? a : (b ? b : c);
}

// Homogeneous derivative (i, j) of whichever object is given, dim + 1 values.
void Homogeneous(const Bspline* srf, const Bspline* crv3, const Bspline* crv2, double u, double v,
                 int i, int j, double* out) {
  const int type = (i == 0 && j == 0) ? 2 : 0;
  if (srf)
    Eval4DPointOnRSurfArray(srf, u, v, i, j, type, out);
  else if (crv3)
    Eval4DPointOnRCurve3Array(crv3, u, i, type, out);
  else
    Eval3DPointOnRCurve2Array(crv2, u, i, type, out);
}

// The slot an object comes in names the size of the output and of the homogeneous values:
// two (plus the weight) for a 2D curve, three for the others. A curve in the wrong slot would
// be summed into a table of the other stride.
bool InItsSlot(const Bspline* srf, const Bspline* crv3, const Bspline* crv2) {
  const Bspline* obj = OneOf(srf, crv3, crv2);
  if (!BsplineShapeSound(obj)) return false;
  return obj == srf || (obj->dimension == 2) == (obj == crv2);
}

void ShowUnavailable(const char* text) { InfoMessageFormat("%s", MSGstr(text)); }

// The homogeneous values start as NaN: an evaluation refused on the way leaves them so, and
// the rule's result is then not finite either.
constexpr double kRefused = std::numeric_limits<double>::quiet_NaN();

// The quotient rule's result into out only when it is finite; otherwise out stays as it was
// and the error state says why.
void DeliverQuotient(const double* A, int du, int dv, int dim, double* out) {
  double r[3];
  if (ApplyQuotientRule(A, du, dv, dim, r) != 0 || !AllFinite(r, dim)) {
    SetKernelError(-2);
    return;
  }
  for (int c = 0; c < dim; ++c) out[c] = r[c];
}

}  // namespace

namespace {
// The recurrences read knots[span - p + 1] .. knots[span + p]: a span below the degree reads
// before the knot vector.
bool BasisArgumentsUsable(const double* knots, int p, int span, const double* out) {
  return knots && out && p >= 0 && p <= kMaxSplineDegree && span >= p;
}
// The searches run over knots[lo .. hi] and the basis of the span found reads lo knots on
// either side of it: a lo at or past hi, or below zero, reads outside the knot vector.
bool SearchArgumentsUsable(const double* knots, int deg, int lo, int hi, const double* out,
                           const int* span) {
  return knots && out && span && deg >= 0 && deg <= kMaxSplineDegree && lo >= deg && lo < hi;
}
}  // namespace

void ComputeNubVals(const double* knots, int p, double t, int span, double* N) {
  if (!BasisArgumentsUsable(knots, p, span, N)) return;
  nubkernel::BasisValues<false>(knots, p, t, span, N);
}

int EvalPointOnObjInit(double t, int deg, const double* knots, double* N, int* span, int hi,
                       int shift) {
  if (shift < 0 || !SearchArgumentsUsable(knots, deg, shift + deg, hi, N, span)) return -2;
  return nubkernel::PointInit(t, deg, knots, N, span, hi, shift);
}

void ComputeNubValsM(const double* knots, int p, double t, int span, double* table) {
  if (!BasisArgumentsUsable(knots, p, span, table)) return;
  if (p == 3)
    nubkernel::AllDegreesTable<3>(knots, p, t, span, table);
  else
    nubkernel::AllDegreesTable<-1>(knots, p, t, span, table);
}

void ComputeNubDerivs(const double* knots, int p, double t, int span, int d, double* row) {
  if (!BasisArgumentsUsable(knots, p, span, row) || d < 0) return;
  double table[1 + (kMaxSplineDegree + 1) * (kMaxSplineDegree + 2) / 2];
  ComputeNubValsM(knots, p, t, span, table);
  nubkernel::DerivativeRow<-1>(knots, span, p, table, d, row);
}

int EvalPointOnObjInitM(double t, int deg, const double* knots, double* table, int* span, int hi) {
  if (!SearchArgumentsUsable(knots, deg, deg, hi, table, span)) return -2;
  t = nubkernel::Clamp(t, knots[deg], knots[hi]);
  const int where = FindLowKnotIndex(knots, deg, t, span, hi);
  ComputeNubValsM(knots, deg, t, *span, table);
  return where;
}

int GetEvalType(int rational, int order) {
  if (rational) return order >= 1 ? 0 : 2;
  return order >= 1 ? 1 : 3;
}

namespace {

// The quotient rule for Dim coordinates (see ApplyQuotientRule), Dim fixed for the compiler.
template <int Dim>
void QuotientRule(const double* A, int du, int dv, double* out) {
  const int L = dv + 1, stride = Dim + 1;
  // The binomial coefficients of the common low orders from a table (the same exact integers).
  static const double kPascal[kSmallBinomial][kSmallBinomial] = {
      {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 2, 1, 0, 0}, {1, 3, 3, 1, 0}, {1, 4, 6, 4, 1}};
  auto binomial = [](int n, int k) {
    if (n < kSmallBinomial) return kPascal[n][k];
    double b;
    GetBinomialCoeficient(n, k, &b);
    return b;
  };
  double S[kQuotientTable][Dim];
  const double w = A[Dim];
  if (du + dv <= 2) {
    // The orders up to two written out (what the surface evaluators ask for most): no table of
    // lower orders beyond those the one wanted needs, and one division, the rest multiplied by
    // its reciprocal, so that the orders do not wait on one division after another. One
    // coordinate at a time in straight-line code: a loop over three coordinates would be
    // vectorised into pair loads of values the caller has just stored one by one, which the
    // processor cannot forward.
    auto at = [&](int k, int l) { return A + (k * L + l) * stride; };
    const double inv = 1.0 / w;
    const double w10 = du > 0 ? at(1, 0)[Dim] : 0.0, w01 = dv > 0 ? at(0, 1)[Dim] : 0.0;
    const double* a = at(du, dv);
    auto one = [&](int c) {
      const double s00 = A[c] * inv;
      if (du + dv == 0) return s00;
      const double s10 = du > 0 ? (at(1, 0)[c] - w10 * s00) * inv : 0.0;
      const double s01 = dv > 0 ? (at(0, 1)[c] - w01 * s00) * inv : 0.0;
      if (du + dv == 1) return du ? s10 : s01;
      double r;
      if (du == 2)
        r = a[c] - 2.0 * w10 * s10 - a[Dim] * s00;
      else if (dv == 2)
        r = a[c] - 2.0 * w01 * s01 - a[Dim] * s00;
      else
        r = a[c] - w10 * s01 - w01 * s10 - a[Dim] * s00;
      return r * inv;
    };
    out[0] = one(0);
    out[1] = one(1);
    if constexpr (Dim == 3) out[2] = one(2);
    return;
  }
  for (int k = 0; k <= du; ++k)
    for (int l = 0; l <= dv; ++l) {
      double acc[Dim];
      for (int c = 0; c < Dim; ++c) acc[c] = A[(k * L + l) * stride + c];
      for (int i = 0; i <= k; ++i) {
        const double binK = i > 0 ? binomial(k, i) : 1.0;
        for (int j = 0; j <= l; ++j) {
          if (i == 0 && j == 0) continue;
          const double binL = j > 0 ? binomial(l, j) : 1.0;
          const double f = binK * binL * A[(i * L + j) * stride + Dim];
          const double* s = S[(k - i) * L + (l - j)];
          for (int c = 0; c < Dim; ++c) acc[c] -= f * s[c];
        }
      }
      for (int c = 0; c < Dim; ++c) S[k * L + l][c] = acc[c] / w;
    }
  for (int c = 0; c < Dim; ++c) out[c] = S[du * L + dv][c];
}

}  // namespace

int ApplyQuotientRule(const double* A, int du, int dv, int dim, double* out) {
  if (du < 0 || dv < 0 || du >= kChain || dv >= kChain || (du + 1) * (dv + 1) > kQuotientTable || !A || !out)
    return -2;
  if (dim == 3)
    QuotientRule<3>(A, du, dv, out);
  else
    QuotientRule<2>(A, du, dv, out);
  return 0;
}

void EvalPointDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2, double u,
                         double v, int du, int dv, double* out) {
  if (srf && du != 0 && dv != 0)
    EvalPointCrossDiffOfRObj(srf, crv3, crv2, u, v, du, dv, out);
  else
    EvalPointDirectDiffOfRObj(srf, crv3, crv2, u, v, du, dv, out);
}

void EvalPointDirectDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                               double u, double v, int du, int dv, double* out) {
  const Bspline* obj = OneOf(srf, crv3, crv2);
  const int dim = obj == crv2 ? 2 : 3;
  if (!InItsSlot(srf, crv3, crv2)) {
    SetKernelError(-2);
    return;
  }
  const bool alongV = srf && du <= 0;
  const int k = alongV ? dv : du;
  if (k < 0 || k >= kChain) {
    SetKernelError(-2);  // the chain is sized for the evaluators' degree limit
    return;
  }
  // A(i) for i = 0 .. k, each dim + 1 values; orders above the degree come out as zero.
  double A[kChain * 4];
  std::fill(A, A + kChain * 4, kRefused);
  for (int i = 0; i <= k; ++i)
    Homogeneous(srf, crv3, crv2, u, v, alongV ? 0 : i, alongV ? i : 0, A + i * (dim + 1));
  DeliverQuotient(A, k, 0, dim, out);
}

void EvalPointCrossDiffOfRObj(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                              double u, double v, int du, int dv, double* out) {
  if (!srf || du <= 0 || dv <= 0) {
    EvalPointDirectDiffOfRObj(srf, crv3, crv2, u, v, du, dv, out);
    return;
  }
  if (du >= 3 || dv >= 3) {
    ShowUnavailable("Currently Unavailable");
    return;
  }
  if (!BsplineShapeSound(srf)) {
    SetKernelError(-2);
    return;
  }
  double A[9 * 4];
  std::fill(A, A + 9 * 4, kRefused);
  for (int i = 0; i <= du; ++i)
    for (int j = 0; j <= dv; ++j)
      Homogeneous(srf, nullptr, nullptr, u, v, i, j, A + (i * (dv + 1) + j) * 4);
  DeliverQuotient(A, du, dv, 3, out);
}

int EvalNpntsDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                          const double* u, const double* v, int n, int du, int dv, float* x,
                          float* y, float* z) {
  if (srf && du != 0 && dv != 0)
    return EvalNpntsCrossDiffOfRObj_f(srf, crv3, crv2, u, v, n, du, dv, x, y, z);
  return EvalNpntsDirectDiffOfRObj_f(srf, crv3, crv2, u, v, n, du, dv, x, y, z);
}

int EvalNpntsDirectDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                                const double* u, const double* v, int n, int du, int dv, float* x,
                                float* y, float* z) {
  const int k = (srf && du <= 0) ? dv : du;
  if (!InItsSlot(srf, crv3, crv2) || k < 0 || k >= kChain) return -2;
  bool finite = true;
  for (int i = 0; i < n; ++i) {
    double p[3] = {kRefused, kRefused, crv2 ? 0.0 : kRefused};
    EvalPointDirectDiffOfRObj(srf, crv3, crv2, u[i], srf ? v[i] : 0.0, du, dv, p);
    finite = finite && AllFinite(p, 3);
    x[i] = static_cast<float>(p[0]);
    y[i] = static_cast<float>(p[1]);
    if (z) z[i] = static_cast<float>(p[2]);
  }
  return finite ? 0 : -2;
}

int EvalNpntsCrossDiffOfRObj_f(const Bspline* srf, const Bspline* crv3, const Bspline* crv2,
                               const double* u, const double* v, int n, int du, int dv, float* x,
                               float* y, float* z) {
  if (!srf || du != 1 || dv != 1) {
    ShowUnavailable("Only first order cross derivatives of Rational Surfaces available");
    return -2;
  }
  (void)crv3;
  (void)crv2;
  if (!BsplineShapeSound(srf)) return -2;
  if (n <= 0) return 0;
  // The four homogeneous grids (orders 00, 01, 10, 11) for all points, then the rule per point.
  TrackingScope scope;
  double* A = MallocArray<double>(16, n);
  if (!A || KernelFailed()) return -2;
  std::fill(A, A + 16 * std::size_t(n), kRefused);
  for (int i = 0; i < n; ++i)
    for (int a = 0; a <= 1; ++a)
      for (int b = 0; b <= 1; ++b)
        Homogeneous(srf, nullptr, nullptr, u[i], v[i], a, b, A + 16 * i + (a * 2 + b) * 4);
  bool finite = true;
  for (int i = 0; i < n; ++i) {
    double p[3];
    ApplyQuotientRule(A + 16 * i, 1, 1, 3, p);
    finite = finite && AllFinite(p, 3);
    x[i] = static_cast<float>(p[0]);
    y[i] = static_cast<float>(p[1]);
    if (z) z[i] = static_cast<float>(p[2]);
  }
  return finite ? 0 : -2;
}

namespace {

// One evaluation of EvalNpntsOnObj's dispatch into p[3].
void EvalOneOnObj(const Bspline* obj, int du, int dv, double u, double v, bool throughOwner,
                  double p[3]) {
  if (obj->kind == 2) {
    Eval3DPointOnSurfArray(obj, u, v, du, dv, p);
  } else if (obj->dimension == 2) {
    if (throughOwner) {
      Eval3DPointOnBsplOnSurfArray(obj->owner, obj, u, du, 0, p);
    } else {
      Eval2DPointOnCurve2Array(obj->owner, obj, u, du, p);
      p[2] = 0.0;
    }
  } else {
    Eval3DPointOnCurve3Array(obj, u, du, p);
  }
}

}  // namespace

void EvalNpntsOnObj(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                    double* x, double* y, double* z) {
  for (int i = 0; i < n; ++i) {
    double p[3] = {0.0, 0.0, 0.0};
    EvalOneOnObj(obj, du, dv, u[i], v ? v[i] : 0.0, z != nullptr, p);
    x[i] = p[0];
    y[i] = p[1];
    if (z) z[i] = p[2];
  }
}

int EvalNpntsOnObj2(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                    double (*out)[3]) {
  for (int i = 0; i < n; ++i) {
    out[i][0] = out[i][1] = out[i][2] = 0.0;
    EvalOneOnObj(obj, du, dv, u[i], v ? v[i] : 0.0, true, out[i]);
  }
  return 1;
}

void EvalNpntsOnObj_f(const Bspline* obj, int du, int dv, const double* u, const double* v, int n,
                      float* x, float* y, float* z) {
  for (int i = 0; i < n; ++i) {
    double p[3] = {0.0, 0.0, 0.0};
    EvalOneOnObj(obj, du, dv, u[i], v ? v[i] : 0.0, z != nullptr, p);
    x[i] = static_cast<float>(p[0]);
    y[i] = static_cast<float>(p[1]);
    if (z) z[i] = static_cast<float>(p[2]);
  }
}

int ObjectInKnots(const Bspline* obj) {
  int bits = obj->interiorU > 0 ? 1 : 0;
  if (obj->kind == 2 && obj->interiorV > 0) bits |= 2;
  return bits;
}

double GetClosestKnotPoint(const Bspline* obj, double t, int inV, int allowEnds, int* atEnd) {
  if (!RecordShapesSound({obj})) return t;
  const bool v = inV && obj->kind == 2;
  const double* knots = v ? obj->knotsV : obj->knotsU;
  const int p = v ? obj->degreeV : obj->degreeU;
  const int n = v ? NumCtrlV(obj) : NumCtrlU(obj);
  int span = p;
  FindLowKnotIndex(knots, p, t, &span, n);
  const double lo = knots[span], hi = knots[span + 1];
  const bool first = span == p, last = span == n - 1;
  const bool loIsStart = lo == knots[p];
  *atEnd = 0;
  if (t - lo < hi - t) {
    if (!allowEnds && !loIsStart) return lo;
    if (!allowEnds && loIsStart && !last) return hi;
    if (loIsStart) *atEnd = 1;
    return lo;
  }
  if (!allowEnds && !first && last) return lo;
  if (last) *atEnd = 1;
  return hi;
}

namespace {

// Knot checks of one direction in CheckBspline's order, one check at a time so the
// caller can run each check over all directions before the next.
int CheckClamped(const double* k, int p, int K, double range, double tol) {
  const double eps = range * tol;
  for (int i = 0; i <= p; ++i)
    if (std::fabs(k[i] - k[0]) > eps) return -12;
  for (int i = K - p - 1; i < K; ++i)
    if (std::fabs(k[i] - k[K - p - 1]) > eps) return -12;
  return 0;
}

int CheckInside(const double* k, int K, double lo, double hi) {
  for (int i = 0; i < K; ++i)
    if (k[i] < lo || k[i] > hi) return -2;
  return 0;
}

int CheckOrder(const double* k, int K) {
  for (int i = 1; i < K; ++i)
    if (k[i] < k[i - 1]) return -4;
  return 0;
}

// Legacy count: a run's first knot counts 0 except the vector's very first knot, so an
// interior knot passes with multiplicity degree + 2; callers rely on this.
int CheckMultiplicity(const double* k, int p, int K, double range, double tol) {
  const double eps = range * tol;
  double runStart = k[0];
  int count = 1;
  for (int i = 1; i < K; ++i) {
    if (k[i] - runStart >= eps) {
      runStart = k[i];
      count = 0;
    } else {
      ++count;
    }
    if (count > p + 1) return -3;
  }
  return 0;
}

}  // namespace

int CheckBspline(const Bspline* obj, double tol) {
  if (!obj || (obj->kind != 1 && obj->kind != 2)) return -7;
  if (obj->dimension != 2 && obj->dimension != 3) return -8;
  if (obj->rational && !obj->W) return -10;
  if (obj->kind == 2 && (obj->dimension != 3 || !obj->Z)) return -11;
  if (obj->dimension == 3 && !obj->Z) return -11;
  if (obj->kind == 1 && obj->dimension == 2 && obj->Z) return -11;
  const bool surf = obj->kind == 2;
  if (obj->degreeU < 1 || obj->degreeU > kMaxSplineDegree) return -5;
  if (surf && (obj->degreeV < 1 || obj->degreeV > kMaxSplineDegree)) return -5;
  if (obj->interiorU < 0 || (surf && obj->interiorV < 0)) return -6;
  // Without arrays there is nothing to check against; report a general failure.
  if (!obj->knotsU || !obj->X || !obj->Y || (surf && !obj->knotsV)) return -2;
  // What is left of the structure check: counts beyond an int, which would wrap every index.
  if (!BsplineShapeSound(obj)) return -6;
  const double rangeU = obj->umax - obj->umin, rangeV = obj->vmax - obj->vmin;
  if (rangeU < tol || (surf && rangeV < tol)) return -9;

  struct Dir {
    const double* k;
    int p, K;
    double lo, hi, range;
  };
  Dir dirs[2] = {
      {obj->knotsU, obj->degreeU, NumKnotsU(obj), obj->umin, obj->umax, rangeU},
      {obj->knotsV, obj->degreeV, surf ? NumKnotsV(obj) : 0, obj->vmin, obj->vmax, rangeV}};
  const int nd = surf ? 2 : 1;
  for (int d = 0; d < nd; ++d)
    if (int r = CheckClamped(dirs[d].k, dirs[d].p, dirs[d].K, dirs[d].range, tol)) return r;
  for (int d = 0; d < nd; ++d)
    if (int r = CheckInside(dirs[d].k, dirs[d].K, dirs[d].lo, dirs[d].hi)) return r;
  for (int d = 0; d < nd; ++d)
    if (int r = CheckOrder(dirs[d].k, dirs[d].K)) return r;
  for (int d = 0; d < nd; ++d)
    if (int r = CheckMultiplicity(dirs[d].k, dirs[d].p, dirs[d].K, dirs[d].range, tol)) return r;

  if (obj->rational) {
    const int nu = NumCtrlU(obj), nv = surf ? NumCtrlV(obj) : 1;
    double least = kNoValue;
    for (int j = 0; j < nv; ++j)
      for (int i = 0; i < nu; ++i) {
        const double w = obj->W[j][i];
        if (w < 0.0) return -13;
        least = std::min(least, std::fabs(w));
      }
    if (least < 1e-10) return -13;
  }
  return 0;
}

int TestCorrectParamSpan(Bspline* obj, double tol) {
  // Maps [lo, hi] of direction d to [0, 1]; the end knots land on 0 and 1 exactly so the domain
  // stays equal to its knots. The map (and a scale) can round knots an ulp apart onto one value
  // beside a full run: such runs are set apart again.
  if (!RecordsSound({obj})) return -2;
  auto knots = [obj](int v) { return v ? obj->knotsV : obj->knotsU; };
  auto count = [obj](int v) { return v ? NumKnotsV(obj) : NumKnotsU(obj); };
  auto rescale = [&](int d, double lo, double hi, double s) {
    double* k = knots(d);
    for (int i = 0; i < count(d); ++i)
      k[i] = k[i] == hi ? 1.0 : (k[i] == lo ? 0.0 : (k[i] - lo) * s);
    SpreadOverfullKnotRuns(obj, d);
  };
  auto scale = [&](int d, double s) {
    double* k = knots(d);
    for (int i = 0; i < count(d); ++i) k[i] *= s;
    SpreadOverfullKnotRuns(obj, d);
  };
  if (obj->kind != 2) {
    const double len = obj->umax - obj->umin;
    if (!(len < tol)) return 0;
    if (!(len > 0.0)) return -2;  // a point-sized range has no scale to undo
    rescale(0, obj->umin, obj->umax, 1.0 / len);
    obj->umin = 0.0;
    obj->umax = 1.0;
    return 0;
  }
  const double lenU = obj->umax - obj->umin, lenV = obj->vmax - obj->vmin;
  const bool inV = lenV <= lenU;
  const double len = inV ? lenV : lenU;
  if (!(len < tol)) return 0;
  if (!(len > 0.0)) return -2;
  const double s = 1.0 / len;
  // The short direction is mapped onto [0, 1]; the other is scaled alike and its domain read
  // back from its knots. inV selects the v fields (and the curves' v coordinates).
  auto lo = [obj](int v) -> double& { return v ? obj->vmin : obj->umin; };
  auto hi = [obj](int v) -> double& { return v ? obj->vmax : obj->umax; };
  const int a = inV ? 1 : 0, b = 1 - a;
  const double start = lo(a);
  rescale(a, start, hi(a), s);
  PropotionCurveListCoefi(obj->curves, s, -start * s, a);
  lo(a) = 0.0;
  hi(a) = 1.0;
  scale(b, s);
  PropotionCurveListCoefi(obj->curves, s, 0.0, b);
  lo(b) = knots(b)[b ? obj->degreeV : obj->degreeU];
  hi(b) = knots(b)[b ? NumCtrlV(obj) : NumCtrlU(obj)];
  return 0;
}

int CleanBsplineKnots(Bspline* obj, double tol) {
  if (!obj || (obj->kind != 1 && obj->kind != 2) || !obj->knotsU ||
      (obj->kind == 2 && !obj->knotsV))
    return -2;
  const int dirs = obj->kind == 2 ? 2 : 1;
  int flags = 0;
  for (int d = 0; d < dirs; ++d) {
    double& lo = d ? obj->vmin : obj->umin;
    double& hi = d ? obj->vmax : obj->umax;
    if (!(hi - lo < tol)) continue;
    double* k = d ? obj->knotsV : obj->knotsU;
    const int nk = d ? NumKnotsV(obj) : NumKnotsU(obj);
    if (!(k[nk - 1] - k[0] > 0.0)) return -2;  // a point-sized range has no scale to undo
    const double first = k[0];
    const double scale = NormalizeKnots(k, nk);
    SpreadOverfullKnotRuns(obj, d);
    PropotionCurveListCoefi(obj->curves, scale, -first * scale, d);
    lo = 0.0;
    hi = 1.0;
    flags |= 1;
  }
  for (int d = dirs - 1; d >= 0; --d) {
    const double range = d ? obj->vmax - obj->vmin : obj->umax - obj->umin;
    int moved = 0, deleted = 0;
    if (PutCloseKnotsToMultKnots(obj, d, range * tol, &moved, &deleted) < 0 || KernelFailed())
      return -2;
    if (moved) flags |= 2;
    if (deleted) flags |= 4;
  }
  for (int d = 0; d < dirs; ++d) {
    const int r = ClampWrappedDirection(obj, d, 0);
    if (r < 0) return -2;
    if (r == 8) flags |= 8;
  }
  return flags;
}

void BezierSubPiece(const double* bez, int p, double k0, double k1, double lo, double hi, double d[][4]) {
  for (int j = 0; j <= p; ++j)
    for (int q = 0; q < 4; ++q) d[j][q] = bez[4 * j + q];
  const double u1 = (hi - k0) / (k1 - k0);
  if (u1 < 1.0)  // left part [0, u1]: the first points of each de Casteljau row
    for (int r = 1; r <= p; ++r)
      for (int j = p; j >= r; --j)
        for (int q = 0; q < 4; ++q) d[j][q] = (1.0 - u1) * d[j - 1][q] + u1 * d[j][q];
  const double u0 = u1 > 0.0 ? (lo - k0) / (hi - k0) : 0.0;
  if (u0 > 0.0)  // right part [u0, 1] of that: the last points of each row
    for (int r = 1; r <= p; ++r)
      for (int j = 0; j <= p - r; ++j)
        for (int q = 0; q < 4; ++q) d[j][q] = (1.0 - u0) * d[j][q] + u0 * d[j + 1][q];
}

void SpanBezierFromDeBoor(const double* k, int s, int p, double d[][4]) {
  // The recursion's denominators depend on the level and index only: divided once.
  double inv[kMaxSplineDegree + 1][kMaxSplineDegree + 1];
  for (int r = 1; r <= p; ++r)
    for (int j = r; j <= p; ++j) {
      const int m = s - p + j;
      inv[r][j] = 1.0 / (k[m + p - r + 1] - k[m]);
    }
  double out[kMaxSplineDegree + 1][4];
  for (int i = 0; i <= p; ++i) {
    double t[kMaxSplineDegree + 1][4];
    std::copy(&d[0][0], &d[0][0] + 4 * (p + 1), &t[0][0]);
    for (int r = 1; r <= p; ++r) {
      const double u = r <= p - i ? k[s] : k[s + 1];
      for (int j = p; j >= r; --j) {
        const double alpha = (u - k[s - p + j]) * inv[r][j];
        for (int q = 0; q < 4; ++q) t[j][q] = (1.0 - alpha) * t[j - 1][q] + alpha * t[j][q];
      }
    }
    for (int q = 0; q < 4; ++q) out[i][q] = t[p][q];
  }
  std::copy(&out[0][0], &out[0][0] + 4 * (p + 1), &d[0][0]);
}

void SpanBezierPoints(const Bspline* c, int s, double* out) {
  if (!RecordShapesSound({c}) || s < c->degreeU || s >= NumCtrlU(c)) {
    SetKernelError(-2);
    return;
  }
  const int p = c->degreeU;
  const bool planar = c->dimension == 2;
  double d[kMaxSplineDegree + 1][4];
  for (int j = 0; j <= p; ++j) {
    const int m = s - p + j;
    const double w = c->rational && c->W ? c->W[0][m] : 1.0;
    d[j][0] = w * c->X[0][m];
    d[j][1] = w * c->Y[0][m];
    d[j][2] = planar ? 0.0 : w * c->Z[0][m];
    d[j][3] = w;
  }
  SpanBezierFromDeBoor(c->knotsU, s, p, d);
  std::copy(&d[0][0], &d[0][0] + 4 * (p + 1), out);
}
