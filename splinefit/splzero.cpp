#include "splinefit/splzero.h"

#include <algorithm>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "bspline/srfclone.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// A value of magnitude below this is zero for the sign tests and for accepting a root.
constexpr double kZeroTol = 1e-6;
// Samples per refined span when looking for sign changes and touching minima.
constexpr int kSpanSamples = 16;

struct Func {
  const Bspline* f;
  double Value(double t) const {
    double out[3];
    Eval3DPointOnCurve3Array(f, t, 0, out);
    return out[2];
  }
  double Slope(double t) const {
    double out[3];
    Eval3DPointOnCurve3Array(f, t, 1, out);
    return out[2];
  }
};

// The root of a sign change on [a, b] (fa, fb of opposite signs): Newton steps kept inside the
// shrinking bracket, bisection where a step would leave it, until the bracket stops shrinking.
double BracketedRoot(const Func& F, double a, double b, double fa) {
  double t = 0.5 * (a + b);
  for (int it = 0; it < 200; ++it) {
    const double ft = F.Value(t);
    if (ft == 0.0) return t;
    if ((ft < 0) == (fa < 0)) {
      a = t, fa = ft;
    } else {
      b = t;
    }
    const double d = F.Slope(t);
    double next = d != 0.0 ? t - ft / d : 0.5 * (a + b);
    if (!(next > a && next < b)) next = 0.5 * (a + b);
    if (next == t || b - a <= 4 * std::numeric_limits<double>::epsilon() * std::max(std::fabs(a), std::fabs(b)))
      return next;
    t = next;
  }
  return t;
}

// The minimum of |f| on [a, b] where f' changes sign against f (|f| falls, then rises): the
// root of f' by the same bracketed search on the slope.
double TouchingPoint(const Func& F, double a, double b) {
  double sa = F.Slope(a);
  for (int it = 0; it < 200 && b - a > 1e-15 * std::max(1.0, std::fabs(a)); ++it) {
    const double m = 0.5 * (a + b), sm = F.Slope(m);
    if ((sm < 0) == (sa < 0)) {
      a = m, sa = sm;
    } else {
      b = m;
    }
  }
  return 0.5 * (a + b);
}

void Keep(double t, double* roots, int* count, int cap) {
  if (*count >= cap) return;
  for (int k = 0; k < *count; ++k)
    if (std::fabs(roots[k] - t) < kZeroTol) return;
  roots[(*count)++] = t;
}

// The roots of F on one refined span [a, b]: values below the tolerance at the samples, sign
// changes between samples, and minima of |f| between samples that reach the tolerance.
void SpanRoots(const Func& F, double a, double b, double* roots, int* count, int cap) {
  double prevT = a, prevF = F.Value(a);
  if (std::fabs(prevF) < kZeroTol) Keep(a, roots, count, cap);
  for (int k = 1; k <= kSpanSamples; ++k) {
    const double t = k == kSpanSamples ? b : a + (b - a) * k / kSpanSamples;
    const double ft = F.Value(t);
    const bool zeroHere = std::fabs(ft) < kZeroTol, zeroBefore = std::fabs(prevF) < kZeroTol;
    if (zeroHere) {
      Keep(t, roots, count, cap);
    } else if (!zeroBefore && (ft < 0) != (prevF < 0)) {
      Keep(BracketedRoot(F, prevT, t, prevF), roots, count, cap);
    } else if (!zeroBefore) {
      // Same sign at both ends: a touching root shows as |f| falling into the interval and
      // rising out of it.
      const double s0 = F.Slope(prevT), s1 = F.Slope(t);
      if ((s0 < 0) != (prevF < 0) && (s1 < 0) == (ft < 0)) {
        // The extremum between: beyond zero it splits two close roots, near zero it touches.
        const double m = TouchingPoint(F, prevT, t), fm = F.Value(m);
        if (fm != 0.0 && (fm < 0) != (prevF < 0)) {
          Keep(BracketedRoot(F, prevT, m, prevF), roots, count, cap);
          Keep(BracketedRoot(F, m, t, fm), roots, count, cap);
        } else if (std::fabs(fm) < kZeroTol) {
          Keep(m, roots, count, cap);
        }
      }
    }
    prevT = t, prevF = ft;
  }
}

}  // namespace

int IsAllValsSameSign(const double* v, int n, double tol) {
  if (!v) return 0;
  if (n < 1) return 1;
  // Exactly tol counts as negative: the test is v > tol for positive.
  const bool positive = v[0] > tol;
  for (int i = 0; i < n; ++i) {
    if (std::fabs(v[i]) < tol) return 0;
    if ((v[i] > tol) != positive) return 0;
  }
  return 1;
}

int IsBsplFuncConvexHullSameSign(const Bspline* f, double tol) {
  if (!f || !f->Z || !f->Z[0] || !RecordShapesSound({f})) return 0;
  return IsAllValsSameSign(f->Z[0], NumCtrlU(f), tol);
}

Bspline* CopyBsplineFunc(Bspline* f) { return CopyCurveBspline(f); }

int FindBsplFuncInitXYCoefi(Bspline* f) {
  if (!f || f->kind != 1 || !f->X || !f->Y || !f->knotsU || f->degreeU < 1) return -2;
  double* g = ObjectGrevilleParams(f, 0);
  if (!g || KernelFailed()) return -2;
  for (int i = 0; i < NumCtrlU(f); ++i) {
    f->X[0][i] = g[i];
    f->Y[0][i] = 0.0;
  }
  Free(g);
  return 0;
}

// Method: the coefficients' convex hull first (one sign: no root). Then a copy is refined by
// (interior + 1) p knots at its largest spans so its control polygon hugs the graph; every span
// whose p + 1 coefficients do not share a sign is searched: samples across it, a bracketed
// Newton iteration on each sign change, and the minima of |f| between samples for touching roots.
int FindAllBsplFuncRoots(Bspline* f, double** roots, int* count) {
  if (!roots || !count) return -2;
  *roots = nullptr;
  *count = 0;
  if (!f || f->kind != 1 || f->degreeU < 1 || !BsplineSound(f)) return -2;
  if (IsBsplFuncConvexHullSameSign(f, kZeroTol)) return 0;
  TrackingScope scope;
  Owned<Bspline, FreeBspline> copy(CopyBsplineFunc(f));
  if (!copy || KernelFailed()) return -2;
  const int p = copy->degreeU;
  InsertNKnotsToObject(1, (copy->interiorU + 1) * p, 0, copy.get(), 1, nullptr);
  if (KernelFailed()) return -2;
  const int n = NumCtrlU(copy.get());
  const int cap = n * p;
  double* found = MallocArray<double>(cap);
  if (!found || KernelFailed()) return -2;
  int k = 0;
  const Func F{copy.get()};
  const double* knots = copy->knotsU;
  for (int i = p; i < n && k < cap; ++i) {
    if (knots[i + 1] <= knots[i]) continue;
    if (IsAllValsSameSign(copy->Z[0] + i - p, p + 1, kZeroTol)) continue;
    SpanRoots(F, knots[i], knots[i + 1], found, &k, cap);
  }
  if (KernelFailed()) return -2;
  if (k == 0) return 0;
  std::sort(found, found + k);
  double* out;
  {
    UntrackedScope own;  // the caller's
    out = MallocArray<double>(k);
  }
  if (!out || KernelFailed()) return -2;
  std::copy(found, found + k, out);
  *roots = out;
  *count = k;
  return 0;
}

int Crv3PlaneIntersect(Bspline* curve, double a, double b, double c, double d, double** params, int* count) {
  if (!params || !count) return -2;
  *params = nullptr;
  *count = 0;
  if (!curve || curve->kind != 1 || curve->dimension != 3 || !BsplineSound(curve)) return -2;
  const double len = std::sqrt(a * a + b * b + c * c);
  if (!(len > 0.0) || !std::isfinite(len) || !std::isfinite(d)) return -2;
  Owned<Bspline, FreeBspline> copy;
  {
    UntrackedScope own;
    copy.reset(CopyBsplineStruct(curve));
  }
  if (!copy || KernelFailed()) return -2;
  // Coefficients are stored unweighted: the signed distances of the control points are the
  // function's coefficients for a rational curve too (its weights stay).
  for (int i = 0; i < NumCtrlU(copy.get()); ++i)
    copy->Z[0][i] = (a * copy->X[0][i] + b * copy->Y[0][i] + c * copy->Z[0][i] + d) / len;
  if (FindBsplFuncInitXYCoefi(copy.get()) != 0) return -2;
  return FindAllBsplFuncRoots(copy.get(), params, count);
}
