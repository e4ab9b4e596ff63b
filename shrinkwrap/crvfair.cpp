#include "shrinkwrap/crvfair.h"

#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/ctrlnubs.h"
#include "bspline/keepshape.h"
#include "bspline/kinsert.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "cloud/pgauss.h"
#include "cloud/princip.h"
#include "curve/crvoffst.h"
#include "foundation/coreglob.h"
#include "foundation/integral.h"
#include "foundation/lsrchopt.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/shrink.h"

namespace {

constexpr int kGaussPoints = 10;  // points of the rule on every knot interval of a window

// ---- state between set-up, fairing and clean-up -------------------------------------------
int tnIsMVC = 1;
double tnAlpha = 0.05;
const double tnHval = 1e-6;
double tnW1 = 0.9;
double tnW2 = 0.1;
double tnBoxSize = 1.0;
Xform tnXform;
Xform tnInvXform;
int tnIs2DCurve = 0;
double tnRefCentroid[3];
double tnRefScale = 1.0;
Bspline* tnRefBspline = nullptr;
Bspline* tnBspline = nullptr;
double* tnOldXcoefi = nullptr;  // one block: x, then y, then z
double* tnOldYcoefi = nullptr;
double* tnOldZcoefi = nullptr;
int tnOldCount = 0;  // control points the saved reference arrays hold
double* tnXcoefi = nullptr;  // work copies while the functional is evaluated
double* tnYcoefi = nullptr;
double* tnZcoefi = nullptr;
const int* tnIndex = nullptr;
int tnNumIndex = 0;
double* tnChkTarray = nullptr;
int tnCheck = 0;
double tnMaxDiff2 = 0.0;
int tnCount = 0;

// Per window: Gauss samples, their spans and basis rows of orders 0..3 (4 (p + 1) doubles per
// sample), and the reference's quantities there.
int lmNsample = 0;
double* lmTarray = nullptr;
double* lmGQweight = nullptr;
double* lmNubsDU = nullptr;
int* lmUknotIndex = nullptr;
double* lmRefVecs = nullptr;          // dKref/dt / |Cref'| (MVC)
double* lmRefCurvatures = nullptr;    // curvature of the reference (MEC)

bool IsCurve3(const Bspline* c) { return c && c->kind == 1 && c->dimension == 3 && c->Z; }

double Clamp(double t, double lo, double hi) { return t < lo ? lo : (t > hi ? hi : t); }

// Copies the control points of src into dst (same count).
void CopyControlPoints(const Bspline* src, Bspline* dst) {
  const int n = NumCtrlU(src);
  std::memcpy(dst->X[0], src->X[0], sizeof(double) * n);
  std::memcpy(dst->Y[0], src->Y[0], sizeof(double) * n);
  std::memcpy(dst->Z[0], src->Z[0], sizeof(double) * n);
}

// Basis rows of orders 0..3 of degree p at t, for the span *span (t strictly inside a
// non-empty interval). The third derivatives come from the second derivatives of degree
// p - 1 by N'(i, p) = p (M(i) / (k[i+p] - k[i]) - M(i+1) / (k[i+p+1] - k[i+1])).
int BasisRowsTo3(const double* knots, int nKnots, int p, double t, int* span, double* rows) {
  const int orders[3] = {0, 1, 2};
  *span = p;
  if (ComputeNubValDerivativesM(knots, t, nKnots, p, orders, 3, span, rows) != 0) return -2;
  double* third = rows + 3 * (p + 1);
  for (int a = 0; a <= p; ++a) third[a] = 0.0;
  if (p < 3) return 0;
  double m2[3 * (kMaxSplineDegree + 1)];
  int spanLow = p - 1;
  const int two[1] = {2};
  if (ComputeNubValDerivativesM(knots, t, nKnots, p - 1, two, 1, &spanLow, m2) != 0) return -2;
  const double* M = m2 + 2 * p;  // row 2 of degree p - 1: M[b] is function spanLow - (p-1) + b
  auto Mval = [&](int i) {
    const int b = i - (spanLow - (p - 1));
    return (b >= 0 && b <= p - 1) ? M[b] : 0.0;
  };
  for (int a = 0; a <= p; ++a) {
    const int i = *span - p + a;
    const double d1 = knots[i + p] - knots[i];
    const double d2 = knots[i + p + 1] - knots[i + 1];
    double v = 0.0;
    if (d1 > 0.0) v += Mval(i) / d1;
    if (d2 > 0.0) v -= Mval(i + 1) / d2;
    third[a] = p * v;
  }
  return 0;
}

// The derivatives 0..3 at sample s of the curve with control points (x, y, z).
void DerivsAtSample(int p, int s, const double* x, const double* y, const double* z, double D[4][3]) {
  const double* rows = lmNubsDU + s * 4 * (p + 1);
  const int first = lmUknotIndex[s] - p;
  for (int d = 0; d < 4; ++d) {
    const double* r = rows + d * (p + 1);
    double v[3] = {0, 0, 0};
    for (int a = 0; a <= p; ++a) {
      v[0] += r[a] * x[first + a];
      v[1] += r[a] * y[first + a];
      v[2] += r[a] * z[first + a];
    }
    for (int c = 0; c < 3; ++c) D[d][c] = v[c];
  }
}

// dK/dt = (C' x C''') / |C'|^3 - 3 (C'.C'') (C' x C'') / |C'|^5, and |C'|.
void DiffCurvatureVec(const double D[4][3], double out[3], double* speed) {
  double c12[3], c13[3];
  cross_product(D[1], D[2], c12);
  cross_product(D[1], D[3], c13);
  const double s = VecSize3(D[1]);
  *speed = s;
  if (s < 1e-12) {
    out[0] = out[1] = out[2] = 0.0;
    return;
  }
  const double s3 = s * s * s, s5 = s3 * s * s;
  const double dot = VecDotProd3(D[1], D[2]);
  for (int c = 0; c < 3; ++c) out[c] = c13[c] / s3 - 3.0 * dot * c12[c] / s5;
}

// Curvature |C' x C''| / |C'|^3, 0 where |C''| is below 1e-10.
double CurvatureAt(const double D[4][3]) {
  const double s = VecSize3(D[1]);
  if (VecSize3(D[2]) < 1e-10 || s < 1e-12) return 0.0;
  double c12[3];
  cross_product(D[1], D[2], c12);
  return VecSize3(c12) / (s * s * s);
}

// Basis rows at the window's Gauss samples and the reference's quantities there.
int NewSetUpFairFuncIntegral(const Bspline* curve, const Bspline* reference, int withVectors,
                             double a, double b) {
  const int p = curve->degreeU;
  const int nKnots = NumKnotsU(curve);
  if (SetupKnotIntegralSample(curve->knotsU, nKnots, p, a, b, &lmTarray, &lmGQweight, &lmNsample) != 0)
    return -2;
  const int ns = lmNsample;
  lmNubsDU = MallocArray<double>(4, p + 1, ns > 0 ? ns : 1);
  lmUknotIndex = MallocArray<int>(ns > 0 ? ns : 1);
  lmRefVecs = MallocArray<double>(3, ns > 0 ? ns : 1);
  lmRefCurvatures = MallocArray<double>(ns > 0 ? ns : 1);
  if (!lmNubsDU || !lmUknotIndex || !lmRefVecs || !lmRefCurvatures || KernelFailed()) return -2;
  for (int s = 0; s < ns; ++s)
    if (BasisRowsTo3(curve->knotsU, nKnots, p, lmTarray[s], &lmUknotIndex[s], lmNubsDU + s * 4 * (p + 1)) != 0)
      return -2;
  // The reference has the curve's knots (FairBsplineCurve3 sees to it), so the rows serve both.
  for (int s = 0; s < ns; ++s) {
    double D[4][3], v[3], speed;
    DerivsAtSample(p, s, reference->X[0], reference->Y[0], reference->Z[0], D);
    lmRefCurvatures[s] = CurvatureAt(D);
    if (withVectors) {
      DiffCurvatureVec(D, v, &speed);
      for (int c = 0; c < 3; ++c) lmRefVecs[3 * s + c] = speed > 1e-12 ? v[c] / speed : 0.0;
    }
  }
  return 0;
}

void DropWindowArrays() {
  for (double** a : {&lmTarray, &lmGQweight, &lmNubsDU, &lmRefVecs, &lmRefCurvatures, &tnChkTarray}) {
    Free(*a);
    *a = nullptr;
  }
  Free(lmUknotIndex);
  lmUknotIndex = nullptr;
  lmNsample = 0;
  tnCheck = 0;
}

// Writes the variables into the work copies of the window's control points.
void PutVariables(const double* vars) {
  const int w = tnNumIndex;
  for (int k = 0; k < w; ++k) {
    tnXcoefi[tnIndex[k]] = vars[k];
    tnYcoefi[tnIndex[k]] = vars[w + k];
    if (!tnIs2DCurve) tnZcoefi[tnIndex[k]] = vars[2 * w + k];
  }
}

// The functional at the work copies.
double FunctionalValue() {
  const Bspline* c = tnBspline;
  const int p = c->degreeU;
  double E = 0.0, L = 0.0, prev[3] = {0, 0, 0};
  for (int s = 0; s < lmNsample; ++s) {
    double D[4][3];
    DerivsAtSample(p, s, tnXcoefi, tnYcoefi, tnZcoefi, D);
    if (s > 0) L += VecDist3(prev, D[0]);
    for (int k = 0; k < 3; ++k) prev[k] = D[0][k];
    double integrand;
    if (tnIsMVC == 1) {
      double v[3], speed;
      DiffCurvatureVec(D, v, &speed);
      const double inv = speed > 1e-12 ? 1.0 / speed : 0.0;
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) {
        const double d = v[k] * inv - tnAlpha * lmRefVecs[3 * s + k];
        sum += d * d;
      }
      integrand = sum;
    } else {
      const double speed = VecSize3(D[1]);
      const double d = CurvatureAt(D) - tnAlpha * lmRefCurvatures[s];
      integrand = speed > 1e-12 ? d * d / speed : 0.0;
    }
    E += lmGQweight[s] * integrand;
  }
  // The length powers make the curvature term free of the parametrisation's scale.
  const double curvature = tnIsMVC == 1 ? E * L * L * L : E * L * L;
  double closeness = 0.0;
  const int n = NumCtrlU(c);
  for (int i = 0; i < n; ++i) {
    const double dx = tnXcoefi[i] - tnOldXcoefi[i];
    const double dy = tnYcoefi[i] - tnOldYcoefi[i];
    const double dz = tnZcoefi[i] - tnOldZcoefi[i];
    closeness += dx * dx + dy * dy + dz * dz;
  }
  ++tnCount;
  return tnW1 * curvature + tnW2 * closeness;
}

void FreeReference() {
  if (tnRefBspline) FreeBspline(tnRefBspline);
  tnRefBspline = nullptr;
  Free(tnOldXcoefi);
  tnOldXcoefi = tnOldYcoefi = tnOldZcoefi = nullptr;
  tnOldCount = 0;
  tnBspline = nullptr;
}

// Saves the reference's control points (outside every scope: they live until the clean-up).
int SaveReferencePoints() {
  const int n = NumCtrlU(tnRefBspline);
  TrackingScope scope;
  double* block = MallocArray<double>(3, n);
  if (!block || KernelFailed()) return -2;
  scope.keep();
  Free(tnOldXcoefi);
  tnOldXcoefi = block;
  tnOldYcoefi = block + n;
  tnOldZcoefi = block + 2 * n;
  tnOldCount = n;
  std::memcpy(tnOldXcoefi, tnRefBspline->X[0], sizeof(double) * n);
  std::memcpy(tnOldYcoefi, tnRefBspline->Y[0], sizeof(double) * n);
  std::memcpy(tnOldZcoefi, tnRefBspline->Z[0], sizeof(double) * n);
  return 0;
}

// Knots inserted into the curve after the set-up (FindCurveSegmentCntrlPnts) go into the
// reference too, so that control points correspond one to one; the reference's shape stays.
int AlignReferenceKnots(const Bspline* curve) {
  Bspline* ref = tnRefBspline;
  const int nRef = NumKnotsU(ref), nCrv = NumKnotsU(curve);
  bool same = ref->degreeU == curve->degreeU && nRef == nCrv;
  for (int i = 0; same && i < nRef; ++i) same = ref->knotsU[i] == curve->knotsU[i];
  if (same) return tnOldCount == NumCtrlU(ref) ? 0 : SaveReferencePoints();
  if (ref->degreeU != curve->degreeU) return -2;
  TrackingScope scope;
  double* add = nullptr;
  int nAdd = 0;
  if (KnotsOfBNotInA(ref->knotsU, nRef, curve->knotsU, nCrv, &add, &nAdd, nullptr) < 0) return -2;
  if (nAdd > 0) InsertNKnotsToObject(1, nAdd, 0, ref, 2, add);
  if (KernelFailed() || NumKnotsU(ref) != nCrv) return -2;
  const double tol = (curve->knotsU[nCrv - 1] - curve->knotsU[0]) * 1e-6;
  for (int i = 0; i < nCrv; ++i) {
    if (std::fabs(ref->knotsU[i] - curve->knotsU[i]) > tol) return -2;
    ref->knotsU[i] = curve->knotsU[i];
  }
  return SaveReferencePoints();
}

}  // namespace

// ---- Gaussian region smoothing -------------------------------------------------------------------

int SmoothCurve(Bspline* curve, int first, int count) {
  if (!BsplineSound(curve) || curve->kind != 1 || first < 0 || count < 1 ||
      static_cast<long long>(first) + count > NumCtrlU(curve))
    return -2;
  // Filtered on copies, put back only when every row was: the filter skips a row it finds no
  // scratch for, which would leave the curve half smoothed and the call a success.
  TrackingScope scope;
  const int dims = curve->dimension == 3 ? 3 : 2;
  double* work = MallocArray<double>(dims, count);
  if (!work || KernelFailed()) return -2;
  double* rows[3] = {curve->X[0] + first, curve->Y[0] + first, dims == 3 ? curve->Z[0] + first : nullptr};
  for (int k = 0; k < dims; ++k) {
    std::memcpy(work + k * count, rows[k], sizeof(double) * count);
    gauss_filter_array_d(work + k * count, count, 1);
  }
  if (KernelFailed()) return -2;
  for (int k = 0; k < dims; ++k) std::memcpy(rows[k], work + k * count, sizeof(double) * count);
  std::memset(&curve->fitProps, 0, sizeof(curve->fitProps));
  std::memset(&curve->propsB, 0, sizeof(curve->propsB));
  // A filtered circle or arc is no longer one; other exact forms are kept as they were.
  if (curve->quadricType == 2 || curve->quadricType == 3) {
    FreeQuadricInfo(curve);
    curve->quadricType = 0;
  }
  return 0;
}

int FindIndxCptsInParRange(Bspline* curve, double t0, double t1, int* first, int* count) {
  if (!BsplineSound(curve) || curve->kind != 1 || !first || !count || !std::isfinite(t0) || !std::isfinite(t1)) return -2;
  const int p = curve->degreeU, n = NumCtrlU(curve);
  if (t0 == curve->umin && t1 == curve->umax) {
    *first = 0;
    *count = n;
    return 0;
  }
  int s0 = p, s1 = p;
  FindLowKnotIndex(curve->knotsU, p, Clamp(t0, curve->umin, curve->umax), &s0, n);
  FindLowKnotIndex(curve->knotsU, p, Clamp(t1, curve->umin, curve->umax), &s1, n);
  if (s1 < s0) return -2;
  *first = s0;
  *count = s1 - s0 + 1;
  return 0;
}

int SmoothCurveRegion(Bspline* curve, double t0, double t1) {
  int first = 0, count = 0;
  if (FindIndxCptsInParRange(curve, t0, t1, &first, &count) != 0) return -2;
  return SmoothCurve(curve, first, count);
}

// ---- Variational fairing -----------------------------------------------------------------------

namespace {

// FindCurveSegmentCntrlPnts' work on a range already clamped and ordered; on failure the curve
// may hold knots inserted on the way.
int ListRangeCntrlPnts(Bspline* curve, double t0, double t1, int** indices, int* count) {
  const double range = curve->umax - curve->umin;
  int inserted = 0;
  if (SnapInsertOneKnotToObject(curve, 0, &t0, &inserted) != 0) return -2;
  if (SnapInsertOneKnotToObject(curve, 0, &t1, &inserted) != 0) return -2;
  const int p = curve->degreeU;
  auto spanOf = [&](double t) {
    int s = p;
    FindLowKnotIndex(curve->knotsU, p, t, &s, NumCtrlU(curve));
    return s;
  };
  // Enough knots between t0 and t1 that degree + 2 spans separate them.
  while (spanOf(t1) - spanOf(t0) - 1 < p + 2) {
    const double* k = curve->knotsU;
    int best = -1;
    for (int j = spanOf(t0); j + 1 < NumKnotsU(curve) && k[j + 1] <= t1; ++j)
      if (best < 0 || k[j + 1] - k[j] > k[best + 1] - k[best]) best = j;
    if (best < 0 || k[best + 1] - k[best] < 1e-6 * range) return -2;
    double mid = 0.5 * (k[best] + k[best + 1]);
    const int before = NumCtrlU(curve);
    InsertNKnotsToObject(1, 1, 0, curve, 2, &mid);
    if (KernelFailed() || NumCtrlU(curve) == before) return -2;
  }
  const int n = NumCtrlU(curve);
  const int from = t0 <= curve->umin ? 2 : spanOf(t0);
  const int to = t1 >= curve->umax ? n - 2 : spanOf(t1) - p - 1;  // exclusive
  TrackingScope scope;
  int* out = MallocArray<int>(n > 0 ? n : 1);
  if (!out || KernelFailed()) return -2;
  int c = 0;
  // The first two and last two control points never move: they hold the ends' tangents.
  for (int i = from; i < to; ++i)
    if (i >= 2 && i < n - 2) out[c++] = i;
  if (c == 0) return -2;
  scope.keep();
  *indices = out;
  *count = c;
  return 0;
}

}  // namespace

int FindCurveSegmentCntrlPnts(Bspline* curve, double t0, double t1, int** indices, int* count) {
  if (!IsCurve3(curve) || !indices || !count) return -2;
  const double range = curve->umax - curve->umin;
  t0 = Clamp(t0, curve->umin, curve->umax);
  t1 = Clamp(t1, curve->umin, curve->umax);
  if (t1 < t0) {
    const double t = t0;
    t0 = t1;
    t1 = t;
  }
  if (std::fabs(t1 - t0) < 1e-6 * range) return -2;
  // The knots go into the curve itself: a failure after some of them puts back a copy taken first.
  const Owned<Bspline, FreeBspline> saved(CopyCurveBspline(curve));
  if (!saved || KernelFailed()) return -2;
  const int status = ListRangeCntrlPnts(curve, t0, t1, indices, count);
  if (status != 0) RestoreBsplineShape(curve, saved.get());
  return status;
}

int SmoothCurveRegionSetUp(Bspline* curve, double boxSize) {
  if (!IsCurve3(curve)) return -2;
  FreeReference();  // a set-up without clean-up before it
  TrackingScope scope;
  Owned<Bspline, FreeBspline> ref(CopyCurveBspline(curve));
  if (!ref || KernelFailed()) return -2;
  Get_imat(tnXform);
  Get_imat(tnInvXform);
  tnIs2DCurve = 0;
  double a0[3], a1[3], a2[3];
  if (IsPlanarCurve3(curve, 0.001, a0, a1, a2)) {
    double c[3];
    ComputeCrvBsplineCentroid(curve, c);
    // Rows are the plane's axes, the last row the centroid: plane frame to world.
    for (int k = 0; k < 3; ++k) {
      tnInvXform[k] = a0[k];
      tnInvXform[4 + k] = a1[k];
      tnInvXform[8 + k] = a2[k];
      tnInvXform[12 + k] = c[k];
    }
    if (mat_inverse4(tnInvXform, tnXform) != 0) return -2;
    Transform3DArrays(ref->X[0], ref->Y[0], ref->Z[0], NumCtrlU(ref.get()), tnXform);
    tnIs2DCurve = 1;
  }
  if (NormalizePointSetD(ref->X[0], ref->Y[0], ref->Z[0], NumCtrlU(ref.get()), boxSize, tnRefCentroid,
                         &tnRefScale) != 0)
    return -2;
  scope.keep();
  tnRefBspline = ref.release();
  if (SaveReferencePoints() != 0) {
    FreeReference();
    return -2;
  }
  tnBoxSize = boxSize;
  tnBspline = curve;
  tnW1 = 0.9;
  tnW2 = 0.1;
  return 0;
}

int SmoothCurveRegionCleanUp() {
  FreeReference();
  return 0;
}

int LminCrvMVCFunctional(const double* vars, int, double* value) {
  if (!tnBspline || !lmNubsDU) return -2;
  PutVariables(vars);
  *value = FunctionalValue();
  return std::isfinite(*value) ? 0 : -2;
}

int LminCrvMVCFuncGrad(const double* vars, int n, double* gradient) {
  if (!tnBspline || !lmNubsDU) return -2;
  TrackingScope scope;
  double* x = MallocArray<double>(n);
  if (!x || KernelFailed()) return -2;
  std::memcpy(x, vars, sizeof(double) * n);
  double f0 = 0.0;
  if (LminCrvMVCFunctional(x, n, &f0) != 0) return -2;
  for (int i = 0; i < n; ++i) {
    const double keep = x[i];
    const double h = std::fabs(keep) >= 1e-6 ? tnHval * std::fabs(keep) : tnHval;
    x[i] = keep + h;
    double f = 0.0;
    if (LminCrvMVCFunctional(x, n, &f) != 0) return -2;
    gradient[i] = (f - f0) / h;
    x[i] = keep;
  }
  PutVariables(x);
  return 0;
}

int lminCrvMVCStop(const double* vars, int) {
  if (!tnBspline || tnCheck < 1) return 1;
  PutVariables(vars);
  double max2 = 0.0;
  if (MaxCurve3Change(tnBspline, tnXcoefi, tnYcoefi, tnZcoefi, tnChkTarray, tnCheck, &max2) != 0) return 1;
  return max2 > tnMaxDiff2 ? 1 : 0;
}

namespace {

// The fairing proper, window by window, with the window globals set: 0 (the curve faired, or
// left as it was when that is better), -2 on failure with the curve half done (the caller puts
// the backup back).
int FairWindows(Bspline* curve, const Bspline* backup, const int* indices, int nIndices, int itmax,
                double tolerance, double acceptFactor, double* vars, int* changed, double* change,
                void (*redraw)(Bspline*)) {
  const int n = NumCtrlU(curve);
  // Arrays handed over by the samplers are outside every scope: freed here on every path.
  Owned<double, Free> whole, starts, ends;

  const int p = curve->degreeU;
  int window = p + 4;
  if (window < 2) window = 2;
  if (window > nIndices) window = nIndices;
  PreNormalizeSmoothingCurve3(curve, tnXform, tnRefCentroid, tnRefScale);
  tnMaxDiff2 = (tnRefScale * tolerance) * (tnRefScale * tolerance);

  int perSpan = 2 * p + 2;
  perSpan = perSpan < 4 ? 4 : (perSpan > 20 ? 20 : perSpan);
  int nWhole = 0;
  if (GetNSamplePerSpan(curve->knotsU, NumKnotsU(curve), perSpan, whole.receive(), &nWhole) != 0) return -2;
  double max2 = 0.0;
  if (MaxCurve3Change(curve, curve->X[0], curve->Y[0], curve->Z[0], whole.get(), nWhole, &max2) != 0)
    return -2;
  *change = std::sqrt(max2) / tnRefScale;
  if (max2 > tnMaxDiff2) {
    CopyControlPoints(backup, curve);  // already outside the tolerance: left as it was
    return 0;
  }

  const int perVar = tnIs2DCurve ? 2 : 3;
  for (int k = 0; k + window <= nIndices; ++k) {
    DropWindowArrays();
    tnIndex = indices + k;
    tnNumIndex = window;
    int nInt = 0;
    if (SetUpIntegralRange(curve, tnIndex, window, starts.receive(), ends.receive(), &nInt) != 0 || nInt < 1) return -2;
    if (NewSetUpFairFuncIntegral(curve, tnRefBspline, tnIsMVC == 1, starts[0], ends[nInt - 1]) != 0)
      return -2;
    const int perInterval = 2 * p + 2;
    tnChkTarray = MallocArray<double>(perInterval, nInt);
    if (!tnChkTarray || KernelFailed()) return -2;
    for (int j = 0; j < nInt; ++j) GetNSampleInterval(starts[j], ends[j], perInterval, tnChkTarray + j * perInterval);
    tnCheck = perInterval * nInt;

    std::memcpy(tnXcoefi, curve->X[0], sizeof(double) * n);
    std::memcpy(tnYcoefi, curve->Y[0], sizeof(double) * n);
    std::memcpy(tnZcoefi, curve->Z[0], sizeof(double) * n);
    const int nv = perVar * window;
    for (int a = 0; a < window; ++a) {
      vars[a] = curve->X[0][tnIndex[a]];
      vars[window + a] = curve->Y[0][tnIndex[a]];
      if (perVar == 3) vars[2 * window + a] = curve->Z[0][tnIndex[a]];
    }
    double F0 = 0.0;
    if (LminCrvMVCFunctional(vars, nv, &F0) != 0) return -2;
    int iterations = 0;
    double fret = F0;
    const double scale = 0.75 * (tnRefScale * tolerance * window / 2.0);
    const int r = FrprMin(vars, nv, tolerance, itmax, scale, &iterations, &fret, LminCrvMVCFunctional,
                          LminCrvMVCFuncGrad, lminCrvMVCStop);
    if (KernelFailed()) return -2;
    // A window that does not improve, or leaves the tolerance band, is skipped.
    if (r == 0 && fret < F0 && iterations >= 1 && lminCrvMVCStop(vars, nv) == 0) {
      for (int a = 0; a < window; ++a) {
        curve->X[0][tnIndex[a]] = vars[a];
        curve->Y[0][tnIndex[a]] = vars[window + a];
        if (perVar == 3) curve->Z[0][tnIndex[a]] = vars[2 * window + a];
      }
      if (redraw) {
        UnNormalizeSmoothingCurve3(curve, tnInvXform, tnRefCentroid, tnRefScale);
        redraw(curve);
        PreNormalizeSmoothingCurve3(curve, tnXform, tnRefCentroid, tnRefScale);
      }
    }
  }
  DropWindowArrays();

  if (MaxCurve3Change(curve, curve->X[0], curve->Y[0], curve->Z[0], whole.get(), nWhole, &max2) != 0)
    return -2;
  *change = std::sqrt(max2) / tnRefScale;
  UnNormalizeSmoothingCurve3(curve, tnInvXform, tnRefCentroid, tnRefScale);
  // Points that were never variables take back their exact values: the round trip through the
  // normalised frame would leave rounding on them.
  for (int i = 0, k = 0; i < n; ++i) {
    bool listed = false;
    for (k = 0; k < nIndices && !listed; ++k) listed = indices[k] == i;
    if (listed) continue;
    curve->X[0][i] = backup->X[0][i];
    curve->Y[0][i] = backup->Y[0][i];
    curve->Z[0][i] = backup->Z[0][i];
  }
  double moved = 0.0;
  for (int i = 0; i < n; ++i) {
    const double a[3] = {curve->X[0][i], curve->Y[0][i], curve->Z[0][i]};
    const double b[3] = {backup->X[0][i], backup->Y[0][i], backup->Z[0][i]};
    const double d = VecDist3(a, b);
    if (d > moved) moved = d;
  }
  if (moved < acceptFactor * tolerance && moved < 0.001) {
    CopyControlPoints(backup, curve);
    return 0;
  }
  FreeBsplineProperties(curve);
  if (redraw) redraw(curve);
  *changed = 1;
  return 0;
}

}  // namespace

int FairBsplineCurve3(Bspline* curve, const int* indices, int nIndices, int itmax, double tolerance,
                      double alpha, double acceptFactor, int isMVC, int* changed, double* change,
                      void (*redraw)(Bspline*)) {
  if (!changed || !change) return -2;
  *changed = 0;
  *change = 0.0;
  // Without its set-up, or on another curve, there is no reference to fair against.
  if (!IsCurve3(curve) || curve != tnBspline || !tnRefBspline || !indices || nIndices < 1) return -2;
  const int n = NumCtrlU(curve);
  for (int k = 0; k < nIndices; ++k)
    if (indices[k] < 0 || indices[k] >= n) return -2;
  tnIsMVC = isMVC;
  tnAlpha = alpha;
  tnCount = 0;
  if (AlignReferenceKnots(curve) != 0) return -2;

  TrackingScope scope;
  const Owned<Bspline, FreeBspline> backup(CopyCurveBspline(curve));
  double* work = MallocArray<double>(3, n);
  double* vars = MallocArray<double>(3, nIndices);
  if (!backup || !work || !vars || KernelFailed()) return -2;
  // The window globals point into this scope's blocks: set for the fairing, cleared after it.
  tnXcoefi = work;
  tnYcoefi = work + n;
  tnZcoefi = work + 2 * n;
  const int status =
      FairWindows(curve, backup.get(), indices, nIndices, itmax, tolerance, acceptFactor, vars, changed, change, redraw);
  DropWindowArrays();
  tnXcoefi = tnYcoefi = tnZcoefi = nullptr;
  tnIndex = nullptr;
  tnNumIndex = 0;
  // A failure leaves the curve as it came.
  if (status != 0) CopyControlPoints(backup.get(), curve);
  return status;
}

// ---- Sampling ----------------------------------------------------------------------------------

int GetNSamplePerSpan(const double* knots, int nKnots, int nPerSpan, double** samples, int* count) {
  if (!knots || nKnots < 2 || !samples || !count) return -2;
  return GetNParValsPerSpan(knots, nKnots, nPerSpan, samples, count);
}

void GetNSampleInterval(double a, double b, int n, double* out) {
  if (n < 2) {
    out[0] = a;
    return;
  }
  for (int i = 0; i < n; ++i) out[i] = a + (b - a) * i / (n - 1);
  out[n - 1] = b;
}

int SetUpIntegralRange(const Bspline* curve, const int* indices, int n, double** starts, double** ends,
                       int* count) {
  if (!RecordShapesSound({curve}) || !indices || n < 1) return -2;
  const int p = curve->degreeU;
  const int nKnots = NumKnotsU(curve);
  const double* k = curve->knotsU;
  const double range = curve->umax - curve->umin;
  int lo = indices[0], hi = indices[0];
  for (int i = 1; i < n; ++i) {
    if (indices[i] < lo) lo = indices[i];
    if (indices[i] > hi) hi = indices[i];
  }
  TrackingScope scope;
  const int most = hi + p - lo + 1;
  double* s = MallocArray<double>(most);
  double* e = MallocArray<double>(most);
  if (!s || !e || KernelFailed()) return -2;
  int c = 0;
  // Point i touches the intervals i .. i + degree; with the points listed in a run the union
  // is lo .. hi + degree.
  for (int j = lo; j <= hi + p && j + 1 < nKnots; ++j) {
    bool touched = false;
    for (int a = 0; a < n && !touched; ++a) touched = j >= indices[a] && j <= indices[a] + p;
    if (!touched || k[j + 1] - k[j] < 1e-6 * range) continue;
    s[c] = k[j];
    e[c] = k[j + 1];
    ++c;
  }
  scope.keep();
  *starts = s;
  *ends = e;
  *count = c;
  return 0;
}

int GetGaussQuadSampleWeight(double a, double b, double** t, double** w, int* n) {
  TrackingScope scope;
  double* x = MallocArray<double>(kGaussPoints);
  double* y = MallocArray<double>(kGaussPoints);
  if (!x || !y || KernelFailed()) return -2;
  if (ComputeGaussLegendreCoefi(a, b, kGaussPoints, x, y) != 0) return -2;
  scope.keep();
  *t = x;
  *w = y;
  *n = kGaussPoints;
  return 0;
}

int SetupKnotIntegralSample(const double* knots, int nKnots, int degree, double a, double b, double** t,
                            double** w, int* n) {
  // The range reads knots[degree] and knots[nKnots - degree - 1]: p + 1 control points at least.
  if (!knots || degree < 0 || nKnots < 2 * degree + 2 || !t || !w || !n) return -2;
  const double first = knots[0], last = knots[nKnots - 1];
  if (!std::isfinite(a) || !std::isfinite(b) || a < first || b > last || b <= a) return -2;
  const double range = knots[nKnots - degree - 1] - knots[degree];
  TrackingScope scope;
  double* ts = MallocArray<double>(kGaussPoints, nKnots);
  double* ws = MallocArray<double>(kGaussPoints, nKnots);
  if (!ts || !ws || KernelFailed()) return -2;
  int c = 0;
  // Stretches of [a, b] between consecutive knots, so each is one polynomial.
  double lo = a;
  for (int i = 0; i < nKnots && lo < b; ++i) {
    if (knots[i] <= lo) continue;
    const double hi = knots[i] < b ? knots[i] : b;
    if (hi - lo >= 1e-6 * range) {
      if (ComputeGaussLegendreCoefi(lo, hi, kGaussPoints, ts + c, ws + c) != 0) return -2;
      c += kGaussPoints;
    }
    lo = hi;
  }
  scope.keep();
  *t = ts;
  *w = ws;
  *n = c;
  return 0;
}

int MaxCurve3Change(const Bspline* curve, const double* newX, const double* newY, const double* newZ,
                    const double* params, int n, double* max2) {
  if (!curve || !newX || !newY || !newZ || !params || n < 1 || !max2 || !tnRefBspline) return -2;
  // A view of the curve with the trial control points; nothing is allocated or changed.
  double* rows[3] = {const_cast<double*>(newX), const_cast<double*>(newY), const_cast<double*>(newZ)};
  Bspline trial = *curve;
  trial.X = &rows[0];
  trial.Y = &rows[1];
  trial.Z = &rows[2];
  trial.W = nullptr;
  trial.rational = 0;
  double best = 0.0;
  for (int i = 0; i < n; ++i) {
    double a[3], b[3];
    Eval3DPointOnCurve3Array(&trial, params[i], 0, a);
    Eval3DPointOnCurve3Array(tnRefBspline, params[i], 0, b);
    const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (d2 > best) best = d2;
  }
  *max2 = best;
  return std::isfinite(best) ? 0 : -2;
}

int BsplCurve3DiffCurvature(const Bspline* curve, double t, double out[3]) {
  if (!IsCurve3(curve)) return -2;
  double D[4][3];
  for (int d = 0; d < 4; ++d) Eval3DPointOnCurve3Array(curve, t, d, D[d]);
  double speed;
  DiffCurvatureVec(D, out, &speed);
  return 0;
}

// ---- Normalisation -----------------------------------------------------------------------------

void ComputeCenterOfMassD(const double* x, const double* y, const double* z, int n, double centroid[3]) {
  ComputeCenterOfMass_d(x, y, z, n, centroid);
}

int NormalizePointSetD(double* x, double* y, double* z, int n, double boxSize, double centroid[3],
                       double* scale) {
  if (n < 2) return -2;
  ComputeCenterOfMassD(x, y, z, n, centroid);
  double extent = 0.0;
  double* a[3] = {x, y, z};
  for (int c = 0; c < 3; ++c) {
    double lo = kEmptyBoxBound, hi = -kEmptyBoxBound;
    for (int i = 0; i < n; ++i) {
      a[c][i] -= centroid[c];
      if (a[c][i] < lo) lo = a[c][i];
      if (a[c][i] > hi) hi = a[c][i];
    }
    if (hi - lo > extent) extent = hi - lo;
  }
  if (extent < 1e-6) return -2;
  *scale = boxSize / extent;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < n; ++i) a[c][i] *= *scale;
  return 0;
}

void TranslateScalePointSet(double* x, double* y, double* z, int n, const double centroid[3], double scale) {
  for (int i = 0; i < n; ++i) {
    x[i] = (x[i] - centroid[0]) * scale;
    y[i] = (y[i] - centroid[1]) * scale;
    z[i] = (z[i] - centroid[2]) * scale;
  }
}

void ScaleTranslatePointSet(double* x, double* y, double* z, int n, const double centroid[3], double scale) {
  for (int i = 0; i < n; ++i) {
    x[i] = x[i] / scale + centroid[0];
    y[i] = y[i] / scale + centroid[1];
    z[i] = z[i] / scale + centroid[2];
  }
}

void PreNormalizeSmoothingCurve3(Bspline* curve, const Xform xform, const double centroid[3], double scale) {
  const int n = NumCtrlU(curve);
  Transform3DArrays(curve->X[0], curve->Y[0], curve->Z[0], n, xform);
  TranslateScalePointSet(curve->X[0], curve->Y[0], curve->Z[0], n, centroid, scale);
}

void UnNormalizeSmoothingCurve3(Bspline* curve, const Xform inverse, const double centroid[3], double scale) {
  const int n = NumCtrlU(curve);
  ScaleTranslatePointSet(curve->X[0], curve->Y[0], curve->Z[0], n, centroid, scale);
  Transform3DArrays(curve->X[0], curve->Y[0], curve->Z[0], n, inverse);
}
