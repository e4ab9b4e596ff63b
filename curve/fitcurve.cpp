#include "curve/fitcurve.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/kinsert.h"
#include "bspline/nubinner.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/refines2.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "cloud/putil.h"
#include "curve/crverr.h"
#include "curve/crvutil.h"
#include "curve/endspan.h"
#include "curve/pntintrp.h"
#include "foundation/bandsolve.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

namespace {

// Sizes below this count as collapsed: the parameter range and the points' extent are raised
// or replaced so the energy weights stay finite.
constexpr double kMinScale = 1e-6;

// A non-rational 3D curve of degree >= 1 whose structure and knot vector can be fitted on.
bool FittableCurve(const Bspline* c) {
  return BsplineShapeSound(c) && c->kind == 1 && c->dimension == 3 && !c->rational &&
         c->degreeU >= 1 && KnotVectorSound(c->knotsU, c->degreeU, NumCtrlU(c));
}

bool FixedPointsSound(const double fixedValues[][3], const int* fixedIndices, int f, int nCtrl) {
  if (f < 0) return false;
  if (f == 0) return true;
  if (!fixedValues || !fixedIndices || f > nCtrl) return false;
  for (int i = 0; i < f; ++i) {
    if (fixedIndices[i] < 0 || fixedIndices[i] >= nCtrl) return false;
    if (i > 0 && fixedIndices[i] <= fixedIndices[i - 1]) return false;
    if (!AllFinite(fixedValues[i], 3)) return false;
  }
  return true;
}

// The normal equations of the data terms (step 3 of the fit): A += s B^T B in band form, the
// right-hand sides += s B^T p, count[j] += 1 for every basis function that a point touches.
void AccumulateData(const Bspline* curve, const double* t, const float* x, const float* y,
                    const float* z, int n, double s, double** A, double* const rhs[3],
                    double* count, double* N) {
  const int p = curve->degreeU, nCtrl = NumCtrlU(curve);
  int span = p;
  for (int i = 0; i < n; ++i) {
    EvalPointOnObjInit(t[i], p, curve->knotsU, N, &span, nCtrl, 0);
    const int o = span - p;  // N[a + 1] belongs to control point o + a
    const double px = s * x[i], py = s * y[i], pz = s * z[i];
    for (int a = 0; a <= p; ++a) {
      const double Ba = N[a + 1];
      rhs[0][o + a] += Ba * px;
      rhs[1][o + a] += Ba * py;
      rhs[2][o + a] += Ba * pz;
      count[o + a] += 1.0;
      double* row = A[o + a];
      const double sBa = s * Ba;
      for (int b = a; b <= p; ++b) row[b - a] += sBa * N[b + 1];
    }
  }
}

// Adds the band B (same layout) times w to A.
void AddBand(double** A, double** B, int nRows, int width, double w) {
  for (int i = 0; i < nRows; ++i)
    for (int k = 0; k < width; ++k) A[i][k] += w * B[i][k];
}

// The energy weights of step 2: the derivative energies are made independent of the units of
// the points (L) and of the parameters (R), so only sigma carries a length.
void EnergyWeights(const Bspline* curve, const float* x, const float* y, const float* z, int n,
                   double roughness, double tension, double* g1, double* g2) {
  double lo[3] = {x[0], y[0], z[0]}, hi[3] = {x[0], y[0], z[0]};
  for (int i = 1; i < n; ++i) {
    const double v[3] = {x[i], y[i], z[i]};
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], v[c]);
      hi[c] = std::max(hi[c], v[c]);
    }
  }
  double L = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  const double R = std::max(std::fabs(curve->umax - curve->umin), kMinScale);
  if (L < kMinScale) L = R;
  const double a = 0.1 * R, b = 0.1 * L;
  *g1 = (a / b) * (a / b) * tension / roughness;
  *g2 = (a * a / b) * (a * a / b) * (1.0 - tension) / roughness;
  // Higher orders have wider supports and need the stronger pull to stay fair.
  if (curve->degreeU + 1 > 4) {
    *g1 *= 2.0;
    *g2 *= 2.0;
  }
}

// Solves the band system for the three right-hand sides, free or with the fixed control points,
// and stores the solution in the curve only when it is finite.
int SolveIntoCurve(Bspline* curve, double** A, double* const rhs[3], double fixedValues[][3],
                   int* fixedIndices, int f) {
  const int nCtrl = NumCtrlU(curve), k = curve->degreeU + 1;
  const int r = f > 0 ? ConvertMatToFixPtsCurve(A, fixedIndices, &fixedValues[0][0], f, nCtrl, k,
                                                rhs[0], rhs[1], rhs[2])
                      : SolveSymBandSystem(A, nCtrl, k, rhs, 3);
  if (r != 0 || KernelFailed()) return -2;
  for (int c = 0; c < 3; ++c)
    if (!AllFinite(rhs[c], nCtrl)) return -2;
  std::memcpy(curve->X[0], rhs[0], sizeof(double) * nCtrl);
  std::memcpy(curve->Y[0], rhs[1], sizeof(double) * nCtrl);
  std::memcpy(curve->Z[0], rhs[2], sizeof(double) * nCtrl);
  return 0;
}

// Scratch of one fit: the band matrix, three right-hand sides, per-control-point counts and a
// basis array, all in the caller's scope.
struct FitScratch {
  double** A = nullptr;
  double* rhs[3] = {nullptr, nullptr, nullptr};
  double* count = nullptr;
  double* N = nullptr;

  bool Make(int nCtrl, int k) {
    A = allocate_matrix_ff(nCtrl, k);
    for (double*& r : rhs) r = CallocArray<double>(nCtrl);
    count = CallocArray<double>(nCtrl);
    N = MallocArray<double>(k + 1);
    if (!A || !rhs[0] || !rhs[1] || !rhs[2] || !count || !N || KernelFailed()) return false;
    for (int i = 0; i < nCtrl; ++i)
      for (int j = 0; j < k; ++j) A[i][j] = 0.0;
    return true;
  }
};

bool FitInputSound(const Bspline* curve, const double* t, const float* x, const float* y,
                   const float* z, int n, double fixedValues[][3], const int* fixedIndices,
                   int f) {
  return FittableCurve(curve) && t && x && y && z && n >= 2 && AllFinite(t, n) &&
         FixedPointsSound(fixedValues, fixedIndices, f, NumCtrlU(curve));
}

}  // namespace

// ---- Shared routines -------------------------------------------------------------------------

Bspline* allocate_curve3(int interior, int degree) {
  if (interior < 0 || degree < 0 || degree > kMaxSplineDegree) return nullptr;
  TrackingScope scope;
  Bspline* c = MallocNullBspline();
  if (!c || KernelFailed()) return nullptr;
  c->kind = 1;
  c->dimension = 3;
  c->degreeU = degree;
  c->interiorU = interior;
  if (AllocateBsplineArrays(c) < 0 || KernelFailed()) {
    FreeBspline(c);
    return nullptr;
  }
  const int nCtrl = NumCtrlU(c);
  for (double** row : {c->X, c->Y, c->Z}) std::memset(row[0], 0, sizeof(double) * nCtrl);
  scope.keep();
  return c;
}

double normalize_tarray3(const float* x, const float* y, const float* z, int n, double* t) {
  if (n < 1 || !x || !y || !z || !t) return 0.0;
  t[0] = 0.0;
  if (n < 2) return 0.0;
  for (int i = 1; i < n; ++i) {
    const double dx = static_cast<double>(x[i]) - x[i - 1];
    const double dy = static_cast<double>(y[i]) - y[i - 1];
    const double dz = static_cast<double>(z[i]) - z[i - 1];
    t[i] = t[i - 1] + std::sqrt(dx * dx + dy * dy + dz * dz);
  }
  const double total = t[n - 1];
  for (int i = 1; i < n; ++i) t[i] = total > 1e-10 ? t[i] / total : 1e-10;
  return total;
}

void assign_uniform_curve_knots3(Bspline* curve, int wrap, double* tmin, double* tmax) {
  if (!curve || !curve->knotsU || curve->degreeU < 0 || curve->interiorU < 0) return;
  if (!RecordShapesSound({curve})) return;
  const int p = curve->degreeU, m = curve->interiorU;
  double lo = 0.0, step;
  if (wrap < 1) {
    step = 1.0 / (m + 1);
  } else {
    const int middle = m - 2 * wrap + 1;
    if (middle < 1) return;
    step = 1.0 / middle;
    lo = -wrap * step;
  }
  const double hi = 1.0 - lo;
  double* k = curve->knotsU;
  for (int i = 0; i <= p; ++i) {
    k[i] = lo;
    k[p + m + 1 + i] = hi;
  }
  for (int j = 1; j <= m; ++j) k[p + j] = lo + j * step;
  curve->umin = lo;
  curve->umax = hi;
  if (tmin) *tmin = lo;
  if (tmax) *tmax = hi;
}

// Method: the normal equations of sum_i s |C(t_i) - p_i|^2 + g1 int |C'|^2 + g2 int |C''|^2 +
// sum_j w_j (legs of the control polygon at j), assembled in the upper band (each point adds a
// (p + 1) x (p + 1) block at its span), then one band L D L^T solve for x, y and z, or the
// elimination of the held control points first (ConvertMatToFixPtsCurve).
int FindAllCurveCoefi3(Bspline* curve, double* t, float* x, float* y, float* z, int n,
                       double fixedValues[][3], int* fixedIndices, int f, double roughness,
                       double tension, double sigma) {
  if (!FitInputSound(curve, t, x, y, z, n, fixedValues, fixedIndices, f)) return -2;
  // A roughness of 0 or below would divide the energies by zero and fit NaNs.
  if (!(roughness > 0.0) || !AllFinite({roughness, tension, sigma})) return -2;
  const int p = curve->degreeU, k = p + 1, nCtrl = NumCtrlU(curve);

  TrackingScope scope;
  FitScratch w;
  double** G = allocate_matrix_ff(nCtrl, k);
  if (!w.Make(nCtrl, k) || !G || KernelFailed()) return -2;

  double g1, g2;
  EnergyWeights(curve, x, y, z, n, roughness, tension, &g1, &g2);
  const double s = sigma < 1e-6 ? 1.0 : 1.0 / (sigma * sigma);
  AccumulateData(curve, t, x, y, z, n, s, w.A, w.rhs, w.count, w.N);

  const int nKnots = NumKnotsU(curve);
  for (int order = 1; order <= 2; ++order) {
    if (NewComputeDiffGramMatrixGQ(curve->knotsU, nKnots, nCtrl, p, order, G) != 0 ||
        KernelFailed())
      return -2;
    AddBand(w.A, G, nCtrl, k, order == 1 ? g1 : g2);
  }

  // The polygon penalty: a control point whose support holds few of the points gets most of it,
  // so it cannot run away where the data do not hold it.
  double total = 0.0;
  for (int j = 0; j < nCtrl; ++j) total += w.count[j];
  const double base = s * (k > 4 ? 0.01 : 0.001);
  double* weights = w.count;  // replaced in place: each count is read once
  for (int j = 0; j < nCtrl; ++j) {
    const double r = total > 0.0 ? w.count[j] / total : 0.0;
    weights[j] = r >= 0.005 ? base * 0.1 : (1.0 - r) * base;
  }
  weights[0] = weights[nCtrl - 1] = 0.0;
  if (ComputeCurvePanaltyMat(G, nCtrl, k, weights) != 0) return -2;
  AddBand(w.A, G, nCtrl, k, 1.0);

  return SolveIntoCurve(curve, w.A, w.rhs, fixedValues, fixedIndices, f);
}

int ComputeCurvePanaltyMat(double** P, int N, double order, double* weights) {
  if (!P) return -2;
  const int width = static_cast<int>(order);
  if (N >= 3 && width < 2) return -2;  // the legs (j, j + 1) need a second band column
  for (int i = 0; i < N; ++i)
    for (int c = 0; c < width; ++c) P[i][c] = 0.0;
  for (int j = 1; j + 1 < N; ++j) {
    const double w = weights ? weights[j] : 1.0;
    P[j][0] += 2.0 * w;
    P[j - 1][0] += w;
    P[j + 1][0] += w;
    P[j - 1][1] -= w;
    P[j][1] -= w;
  }
  return 0;
}

int Curve3LeastSqFit(Bspline* curve, double* t, float* x, float* y, float* z, int n,
                     double fixedValues[][3], int* fixedIndices, int f) {
  if (!FitInputSound(curve, t, x, y, z, n, fixedValues, fixedIndices, f)) return -2;
  const int k = curve->degreeU + 1, nCtrl = NumCtrlU(curve);
  TrackingScope scope;
  FitScratch w;
  if (!w.Make(nCtrl, k)) return -2;
  AccumulateData(curve, t, x, y, z, n, 1.0, w.A, w.rhs, w.count, w.N);
  return SolveIntoCurve(curve, w.A, w.rhs, fixedValues, fixedIndices, f);
}

int PointCurve3Diff(Bspline* curve, double* t, float* x, float* y, float* z, int n, double* out) {
  if (!curve || !t || !x || !y || !z || !out || n < 0) return -2;
  if (!BsplineSound(curve) || curve->kind != 1 || curve->dimension != 3) return -2;
  const double t0 = curve->knotsU[curve->degreeU], t1 = curve->knotsU[NumCtrlU(curve)];
  for (int i = 0; i < n; ++i) {
    const double P[3] = {x[i], y[i], z[i]};
    double C[3], distSq = 0.0, stepSq = 0.0, ti = std::isfinite(t[i]) ? t[i] : t0;
    // A foot held at an end of the domain reports -2 but is the closest point there.
    FindClosestPointCurve3(curve, P, C, t0, t1, &ti, &distSq, &stepSq, 5);
    t[i] = ti;
    out[i] = distSq;
  }
  return 0;
}

// ---- Given break list, closed seams ------------------------------------------------------------

namespace {

bool BreaksSound(const double* b, int nb, int p) {
  if (!b || nb < 2 || !AllFinite(b, nb)) return false;
  for (int i = 1; i < nb; ++i)
    if (b[i] < b[i - 1]) return false;
  if (!(b[nb - 1] > b[0])) return false;
  // The knot vector holds p more copies of each end: an inner value may repeat p times.
  int run = 1;
  for (int i = 1; i + 1 < nb; ++i) {
    run = b[i] == b[i - 1] ? run + 1 : 1;
    if (run > p) return false;
  }
  return true;
}

// The fit of one pass: end control points held at the first and last point, the current global
// weights, the seam closed for a closed fit.
int FitOnBreaks(Bspline* curve, Cloud* pts, double* t, int closed) {
  const int n = pts->npts, last = NumCtrlU(curve) - 1;
  double ends[2][3] = {{pts->x[0], pts->y[0], pts->z[0]},
                       {pts->x[n - 1], pts->y[n - 1], pts->z[n - 1]}};
  int idx[2] = {0, last};
  if (FindAllCurveCoefi3(curve, t, pts->x, pts->y, pts->z, n, ends, idx, 2, Global_Roughness,
                         Global_Tension, Global_Sigma) != 0)
    return -2;
  return closed ? CloseCurve(curve, 2) : 0;
}

}  // namespace

Bspline* FitCurveBsplineGivenKnots_Host(Cloud* cloud, double* breaks, int nb, double* t,
                                        int degree, int closed, int correct) {
  if (!cloud || !t || cloud->npts < 2 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  if (degree < 1 || degree > kMaxSplineDegree || !BreaksSound(breaks, nb, degree)) return nullptr;
  TrackingScope scope;
  // The global weights (and the closing's gap) are set for points of unit size: the fit runs on
  // a copy scaled to it.
  const double size = CloudFitSize(cloud, false);
  Owned<Cloud, FreeCloud> unitCopy, closedCopy;
  Cloud* pts = cloud;
  if (size != 1.0) {
    unitCopy.reset(ScaledCloudCopy(cloud, 1.0 / size));
    if (!unitCopy || KernelFailed()) return nullptr;
    pts = unitCopy.get();
  }
  if (closed) {
    closedCopy.reset(GetClosedCloud(pts));
    if (!closedCopy || KernelFailed()) return nullptr;
    pts = closedCopy.get();
  }
  const int n = pts->npts;
  normalize_tarray3(pts->x, pts->y, pts->z, n, t);

  Owned<Bspline, FreeBspline> curve(allocate_curve3(nb - 2, degree));
  if (!curve || KernelFailed()) return nullptr;
  const int p = degree;
  double* k = curve->knotsU;
  const double b0 = breaks[0], range = breaks[nb - 1] - breaks[0];
  for (int i = 0; i < p; ++i) {
    k[i] = 0.0;
    k[p + nb + i] = 1.0;
  }
  for (int i = 0; i < nb; ++i) k[p + i] = (breaks[i] - b0) / range;
  k[p] = 0.0;  // exact ends, whatever the rounding of the mapping
  k[p + nb - 1] = 1.0;
  curve->umin = k[p];
  curve->umax = k[p + nb - 1];

  if (FitOnBreaks(curve.get(), pts, t, closed) != 0) return nullptr;
  if (correct) {
    double* distSq = MallocArray<double>(n);
    if (!distSq || KernelFailed()) return nullptr;
    // Each pass takes the parameters of the points' closest curve points and fits again.
    for (int pass = 0; pass < 5; ++pass) {
      if (RecordCurveBsplineCloudDiff(curve.get(), pts, distSq, t) != 0 || KernelFailed())
        return nullptr;
      if (FitOnBreaks(curve.get(), pts, t, closed) != 0) return nullptr;
    }
  }
  if (size != 1.0) {
    const int last = NumCtrlU(curve.get()) - 1;
    double* rows[3] = {curve->X[0], curve->Y[0], curve->Z[0]};
    for (double* P : rows)
      for (int i = 0; i <= last; ++i) P[i] *= size;
    // The held ends are the given points themselves, not their scaled round trip; a closed copy
    // that gained a point ends on the first.
    const float* given[3] = {cloud->x, cloud->y, cloud->z};
    const int end = n > cloud->npts ? 0 : cloud->npts - 1;
    for (int c = 0; c < 3; ++c) rows[c][0] = given[c][0], rows[c][last] = given[c][end];
    // The seam is made again around the exact ends.
    if (closed && CloseCurve(curve.get(), 2) != 0) return nullptr;
  }
  return curve.release();
}

Bspline* FitCurveBsplineWithGivenKnots(Cloud* cloud, double* breaks, int nb, double* t,
                                       int degree, int closed) {
  return FitCurveBsplineGivenKnots_Host(cloud, breaks, nb, t, degree, closed, 1);
}

int CloseCurve(Bspline* curve, int mode) {
  if (!curve || curve->kind != 1 || curve->rational || mode < 0 || mode > 2) return -2;
  if (mode == 0) return 0;
  if (!BsplineSound(curve)) return -2;
  const int N = NumCtrlU(curve), p = curve->degreeU;
  if (N < (mode == 1 ? 3 : 4)) return -2;
  const double* k = curve->knotsU;
  const double a1 = k[p + 1] - k[p], e1 = k[N] - k[N - 1];
  double* rows[3] = {curve->X[0], curve->Y[0], curve->dimension == 3 ? curve->Z[0] : nullptr};
  if (mode == 1) {
    if (!(a1 > 0.0) || !(e1 > 0.0)) return -2;
    const double r = a1 / e1;
    for (double* P : rows) {
      if (!P) continue;
      const double A = (1.0 + r) * P[0] - r * P[N - 2];
      const double B = ((1.0 + r) * P[0] - P[1]) / r;
      P[1] = (A + P[1]) / 2.0;
      P[N - 2] = (B + P[N - 2]) / 2.0;
    }
    return 0;
  }
  const double a2 = k[p + 2] - k[p], e2 = k[N] - k[N - 2];
  if (!(a1 > 0.0) || !(a2 > 0.0) || !(e1 > 0.0) || !(e2 > 0.0)) return -2;
  // Unknowns P1 and Q = P(N-2); R = P(N-3). First derivatives: P1/a1 + Q/e1 = P0 (1/a1 + 1/e1).
  // Second: P2/(a1 a2) - P1/(a1 a2) - P1/a1^2 + P0/a1^2 - P0/e1^2 + Q/e1^2 + Q/(e1 e2)
  // - R/(e1 e2) = 0. With four control points P2 is Q and R is P1.
  double c11 = 1.0 / a1, c12 = 1.0 / e1;
  double c21 = -1.0 / (a1 * a2) - 1.0 / (a1 * a1), c22 = 1.0 / (e1 * e1) + 1.0 / (e1 * e2);
  const bool four = N == 4;
  if (four) {
    c22 += 1.0 / (a1 * a2);
    c21 -= 1.0 / (e1 * e2);
  }
  const double det = c11 * c22 - c12 * c21;
  if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return -2;
  for (double* P : rows) {
    if (!P) continue;
    const double r1 = P[0] * (1.0 / a1 + 1.0 / e1);
    double r2 = -(P[0] / (a1 * a1) - P[0] / (e1 * e1));
    if (!four) r2 -= P[2] / (a1 * a2) - P[N - 3] / (e1 * e2);
    P[1] = (r1 * c22 - c12 * r2) / det;
    P[N - 2] = (c11 * r2 - c21 * r1) / det;
  }
  return 0;
}

// ---- End continuity ------------------------------------------------------------------------

namespace {

// Control points an end condition holds.
int HeldBy(int c) { return c < 0 ? 0 : c == 0 ? 1 : c == 4 ? 2 : std::min(c, 3); }

// A neighbour whose end points and tangents can be taken.
bool EvaluableNeighbour(const Bspline* b) {
  if (!BsplineSound(b) || b->kind != 1) return false;
  return b->dimension == 3 || (b->owner && BsplineSound(b->owner));
}

// The neighbour's end nearer to the given parameter (its end on a tie): parameter and point.
void NearerEnd(Bspline* nb, double param, double* te, double Q[3]) {
  const double lo = nb->knotsU[nb->degreeU], hi = nb->knotsU[NumCtrlU(nb)];
  *te = std::fabs(param - lo) < std::fabs(param - hi) ? lo : hi;
  EvalNpntsOnObj(nb, 0, 0, te, nullptr, 1, &Q[0], &Q[1], &Q[2]);
}

}  // namespace

int CalculateControlPtsToBeFixed(Bspline* curve, double s[2], int cont[2], Bspline* neighbour[2],
                                 double** values, int** indices, int* count,
                                 double neighbourParam[2], double ends[2][3],
                                 double tangent[2][3]) {
  if (!values || !indices || !count) return -2;
  *values = nullptr;
  *indices = nullptr;
  *count = 0;
  if (!cont || !s || !ends || !FittableCurve(curve)) return -2;
  Bspline* nb[2] = {neighbour ? neighbour[0] : nullptr, neighbour ? neighbour[1] : nullptr};
  for (int e = 0; e < 2; ++e) {
    if (nb[e] && !EvaluableNeighbour(nb[e])) return -2;
    // Below degree 2 there is no curvature to carry over.
    if (curve->degreeU < 2 || (nb[e] && nb[e]->degreeU < 2)) cont[e] = std::min(cont[e], 2);
    if (cont[e] >= 1 && cont[e] <= 3 && !nb[e]) cont[e] = 0;  // nothing to join: the cloud's end
    if ((cont[e] == 4 && !tangent) || (cont[e] >= 1 && cont[e] <= 3 && !neighbourParam)) return -2;
  }
  // The two ends must not claim the same control point.
  const int held[2] = {HeldBy(cont[0]), HeldBy(cont[1])};
  if (held[0] + held[1] > NumCtrlU(curve)) {
    InsertNKnotsToObject(1, held[0] + held[1] - NumCtrlU(curve), 0, curve, 1, nullptr);
    if (KernelFailed()) return -2;
  }
  const int N = NumCtrlU(curve), f = held[0] + held[1];
  TrackingScope scope;
  double* v = MallocArray<double>(std::max(f, 1), 3);
  int* idx = MallocArray<int>(std::max(f, 1));
  if (!v || !idx || KernelFailed()) return -2;
  int k = 0;
  auto put = [&](int index, const double p[3]) {
    idx[k] = index;
    for (int c = 0; c < 3; ++c) v[3 * k + c] = p[c];
    ++k;
  };
  for (int e = 0; e < 2; ++e) {
    // Held points of this end, counted inward from it.
    double pts[3][3];
    const int c = cont[e];
    if (c == 0 || c == 4) {
      for (int d = 0; d < 3; ++d) pts[0][d] = ends[e][d];
      if (c == 4)
        for (int d = 0; d < 3; ++d) pts[1][d] = ends[e][d] + s[e] * tangent[e][d];
    } else if (c >= 1) {
      double te, Q[3];
      NearerEnd(nb[e], neighbourParam[e], &te, Q);
      const double lo = nb[e]->knotsU[nb[e]->degreeU], hi = nb[e]->knotsU[NumCtrlU(nb[e])];
      const bool atStart = std::fabs(te - lo) <= 1e-6 * (hi - lo);
      for (int d = 0; d < 3; ++d) pts[0][d] = Q[d];
      if (c >= 2) {
        double D[3];
        EvalNpntsOnObj(nb[e], 1, 0, &te, nullptr, 1, &D[0], &D[1], &D[2]);
        // The derivative leaves the neighbour's start inwards: turned, it runs on past the end.
        const double sign = atStart ? -1.0 : 1.0, len = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
        if (!(len > 0.0) || !std::isfinite(len) || KernelFailed()) return -2;
        for (int d = 0; d < 3; ++d) pts[1][d] = Q[d] + sign * s[e] / len * D[d];
      }
      if (c >= 3) {
        if (nb[e]->dimension != 3) return -2;  // the reflected vector is read in 3D
        double D[3];
        EdgeReflectionCurve(nb[e], atStart ? 0 : 2, D);
        const double len = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
        if (KernelFailed() || !(len > 0.0) || !std::isfinite(len)) return -2;
        for (int d = 0; d < 3; ++d) pts[2][d] = Q[d] + 3.0 * s[e] / len * D[d];
      }
    }
    // Ascending indices: the start's inward, then the end's from the innermost out.
    if (e == 0)
      for (int j = 0; j < held[0]; ++j) put(j, pts[j]);
    else
      for (int j = held[1] - 1; j >= 0; --j) put(N - 1 - j, pts[j]);
  }
  scope.keep();
  *values = v;
  *indices = idx;
  *count = f;
  return 0;
}

int Curve3Approximate(float* x, float* y, float* z, double* t, int n, Bspline* curve, int wrap,
                      int cont[2], Bspline* neighbour[2], double scale[2],
                      double neighbourParam[2], double tangent[2][3], double length,
                      double roughness, double tension, double sigma) {
  if (!x || !y || !z || !t || !curve || n < 1 || !curve->knotsU) return -2;
  assign_uniform_curve_knots3(curve, wrap, nullptr, nullptr);
  Owned<double, Free> values;  // made by the callee outside every scope
  Owned<int, Free> indices;
  int f = 0;
  if (cont && (cont[0] >= 0 || cont[1] >= 0)) {
    const double spans = 3.0 * (curve->interiorU + 1);
    double s[2] = {scale ? scale[0] * length / spans : 0.0, scale ? scale[1] * length / spans : 0.0};
    double ends[2][3] = {{x[0], y[0], z[0]}, {x[n - 1], y[n - 1], z[n - 1]}};
    if (CalculateControlPtsToBeFixed(curve, s, cont, neighbour, values.receive(),
                                     indices.receive(), &f, neighbourParam, ends, tangent) != 0)
      return -2;
  }
  TrackingScope scope;
  double* d = MallocArray<double>(n);
  if (!d || KernelFailed()) return -2;
  // Converged: rms distance below this share of the points' extent.
  double lo[3] = {x[0], y[0], z[0]}, hi[3] = {x[0], y[0], z[0]};
  for (int i = 1; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], p[c]), hi[c] = std::max(hi[c], p[c]);
  }
  const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  const double close = 1e-6 * (extent > 0.0 ? extent : 1.0);
  auto* fixed = reinterpret_cast<double(*)[3]>(values.get());
  const int passes = n < 1000 ? 20 : 5;
  double prev = kNoValue;
  for (int pass = 0; pass < passes; ++pass) {
    if (FindAllCurveCoefi3(curve, t, x, y, z, n, f > 0 ? fixed : nullptr, indices.get(), f,
                           roughness, tension, sigma) != 0 ||
        PointCurve3Diff(curve, t, x, y, z, n, d) != 0)
      return -2;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += d[i];
    const double rms = std::sqrt(sum / n);
    if (rms < close || rms > prev || (prev - rms) / prev < 0.005) break;
    prev = rms;
  }
  return 0;
}

Cloud* InsertContinuityPoints(Cloud* cloud, int* /*cont*/, double neighbourParam[2],
                              Bspline* neighbour[2]) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  Owned<Cloud, FreeCloud> out(CopyCloud(cloud));
  if (!out || KernelFailed()) return nullptr;
  for (int e = 0; e < 2; ++e) {
    Bspline* nb = neighbour ? neighbour[e] : nullptr;
    if (!nb) continue;
    if (!EvaluableNeighbour(nb) || !neighbourParam) return nullptr;
    double te, Q[3];
    NearerEnd(nb, neighbourParam[e], &te, Q);
    if (KernelFailed() || !AllFinite(Q, 3)) return nullptr;
    const float px = float(Q[0]), py = float(Q[1]), pz = float(Q[2]);
    out.reset(InsertNPtsCld(out.get(), &px, &py, &pz, 1, e == 0 ? 0 : out->npts, nullptr));
    if (!out || KernelFailed()) return nullptr;
  }
  return out.release();
}

Bspline* Get2SpanCurve3ForCurve2(Bspline* curve2d, int atEnd) {
  if (!curve2d || curve2d->kind != 1 || curve2d->dimension != 2 || !curve2d->owner ||
      !BsplineSound(curve2d))
    return nullptr;
  const int p = curve2d->degreeU, m = curve2d->interiorU;
  const double* k = curve2d->knotsU;
  const double lo = k[p], hi = k[p + m + 1];
  TrackingScope scope;
  Owned<Bspline, FreeBspline> piece;
  Bspline* src = curve2d;
  if (m > 0) {
    const double t0 = atEnd ? k[std::max(m + p - 1, p)] : lo;
    const double t1 = atEnd ? hi : k[std::min(p + 3, p + m + 1)];
    piece.reset(ExtractParamRange(curve2d, 0, t0, t1));
    if (!piece || KernelFailed()) return nullptr;
    src = piece.get();
  }
  Owned<Bspline, FreeBspline> out(MakeCurve3BsplineFromCurve2(src, 1e-6 * (hi - lo), 1.0));
  if (!out || KernelFailed()) return nullptr;
  return out.release();
}

Bspline** FitCurveWContinuity(Cloud** clouds, int nClouds, int closed, int nCtrl, int degree,
                              int cont[2], Bspline* neighbour[2], double neighbourParam[2],
                              double scale[2], double tangent[2][3], double roughness,
                              double tension, double sigma, int showMessages) {
  if (!clouds || nClouds < 1 || !cont) return nullptr;
  Bspline** out;
  {
    TrackingScope scope;
    out = CallocArray<Bspline*>(nClouds);
    if (!out || KernelFailed()) return nullptr;
    scope.keep();
  }
  for (int i = 0; i < nClouds; ++i) {
    Cloud* cloud = clouds[i];
    if (!cloud || cloud->npts < 2 || !cloud->x || !cloud->y || !cloud->z) continue;
    if (showMessages) StatusMessageFormat(MSGstr("Fitting curve %d of %d ..."), i + 1, nClouds);
    TrackingScope scope;
    // The fit runs on a cloud of its own: the neighbours' end points go into a copy, and the
    // closed wrap, which rewrites its cloud, must not reach the caller's.
    Owned<Cloud, FreeCloud> work;
    Owned<Bspline, FreeBspline> curve;
    double* t = nullptr;
    double length = 1.0;
    int wrap = -1, wasClosed = 0;
    if (!closed) {
      const int m = std::max(nCtrl - degree - 1, 0);
      const bool joins = (cont[0] >= 1 && cont[0] <= 3) || (cont[1] >= 1 && cont[1] <= 3);
      work.reset(joins ? InsertContinuityPoints(cloud, cont, neighbourParam, neighbour)
                       : CopyCloud(cloud));
      if (!work || KernelFailed()) {
        if (joins) {
          FreeBsplineArray(out, nClouds);
          return nullptr;
        }
        if (!MemoryErrorSet()) ClearKernelError();
        continue;
      }
      curve.reset(allocate_curve3(m, degree));
      t = MallocArray<double>(work->npts);
      if (curve && t && !KernelFailed())
        length = normalize_tarray3(work->x, work->y, work->z, work->npts, t);
    } else {
      const int m = std::max(degree + 1, nCtrl - degree - 1);
      wrap = degree;
      work.reset(CopyCloud(cloud));
      curve.reset(allocate_curve3(m + 2 * degree, degree));
      if (work && curve && !KernelFailed()) wasClosed = WrapCloudForClosedFit(work.get(), degree, m, &t);
    }
    Owned<double, Free> keepT(closed ? t : nullptr);  // the wrap's parameters are not scoped
    bool ok = work && curve && t && !KernelFailed();
    if (ok) {
      ok = Curve3Approximate(work->x, work->y, work->z, t, work->npts, curve.get(), wrap, cont,
                             neighbour, scale, neighbourParam, tangent, length, roughness,
                             tension, sigma) == 0 &&
           !KernelFailed();
    }
    if (ok && closed) ok = UnwrapClosedFit(curve.get(), degree, wasClosed) == 8 && !KernelFailed();
    // A fit that failed leaves its entry null; the other clouds still get theirs.
    if (ok) {
      // The weights the curve was fitted with (set last: cutting a closed fit clears them).
      curve->fitProps.flag = 1;
      curve->fitProps.tension = tension;
      curve->fitProps.roughness = roughness;
      curve->fitProps.sigma = sigma;
      out[i] = curve.release();
    }
    else if (!MemoryErrorSet())
      ClearKernelError();  // this cloud's own failure; without memory the rest fail too
  }
  return out;
}
