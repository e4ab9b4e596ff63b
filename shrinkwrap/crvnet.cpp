#include "shrinkwrap/crvnet.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/degelev.h"
#include "bspline/keepshape.h"
#include "bspline/kinsert.h"
#include "bspline/nubinner.h"
#include "bspline/nubs.h"
#include "bspline/nubutil.h"
#include "bspline/objset.h"
#include "bspline/sfree.h"
#include "curve/cintsct.h"
#include "foundation/coreglob.h"
#include "foundation/integral.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/cshrink.h"

double gqSample[6][6];
double gqWeight[6][6];

namespace {

constexpr int kMaxGramOrder = 5;  // degree 4: the tables hold rules of up to 5 points

// A zeroed n x n matrix, or null.
double** NewSquare(int n) {
  double** m = allocate_matrix_ff(n, n);
  if (!m || KernelFailed()) return nullptr;
  std::memset(m[0], 0, sizeof(double) * n * n);
  return m;
}

// The recursive basis counts knot differences within this share of the domain as zero.
constexpr double kKnotTol = 1e-6;

// G (nCtrl x nCtrl, zeroed by the caller) receives the Gram matrix of the r-th derivatives, from the band of the shared
// basis (bspline/nubinner) mirrored into both triangles. The band's basis vanishes on knot
// intervals within kKnotTol of the domain, as NubValRecursive does, so the values are those of
// the recursion. Derivative entries below 1e-6 in magnitude are dropped.
int DenseGram(const double* knots, int nKnots, int p, int r, double** G) {
  const int nCtrl = nKnots - p - 1;
  TrackingScope scope;
  double** band = allocate_matrix_ff(nCtrl, p + 1);
  if (!band || KernelFailed()) return -2;
  if (ComputeGramBandGQ(knots, nKnots, nCtrl, p, r, kKnotTol, band) != 0) return -2;
  for (int i = 0; i < nCtrl; ++i)
    for (int k = 0; k <= p && i + k < nCtrl; ++k) {
      const double g = band[i][k];
      G[i][i + k] = G[i + k][i] = r > 0 && std::fabs(g) < 1e-6 ? 0.0 : g;
    }
  return 0;
}

}  // namespace

void InitGaussQuadratureCoefs() {
  for (int r = 1; r <= kMaxGramOrder; ++r) {
    for (int g = 0; g < 6; ++g) gqSample[r][g] = gqWeight[r][g] = 0.0;
    ComputeGaussLegendreCoefi(-1.0, 1.0, r, &gqSample[r][1], &gqWeight[r][1]);
  }
}

double NubValRecursive(const double* knots, int i, int k, double t, double tol) {
  // The recursion branches twice an order: an order past the kernel's degrees is no basis.
  if (!knots || i < 0 || k < 1 || k > kMaxSplineDegree + 1) {
    SetKernelError(-2);
    return 0.0;
  }
  if (std::fabs(knots[i + k] - knots[i]) < tol || t < knots[i] || t > knots[i + k]) return 0.0;
  if (k == 1) return (knots[i] <= t && t < knots[i + 1]) ? 1.0 : 0.0;
  double v = 0.0;
  const double d1 = knots[i + k - 1] - knots[i];
  const double d2 = knots[i + k] - knots[i + 1];
  if (d1 > tol) v += (t - knots[i]) / d1 * NubValRecursive(knots, i, k - 1, t, tol);
  if (d2 > tol) v += (knots[i + k] - t) / d2 * NubValRecursive(knots, i + 1, k - 1, t, tol);
  return v;
}

int ComputeGramMatrixGQ(const double* knots, int nKnots, int p, double** G) {
  const int nCtrl = nKnots - 1 - p;
  if (!knots || !G || p < 0 || nCtrl < 1) return -2;
  for (int j = 0; j < nCtrl; ++j)
    for (int l = 0; l < nCtrl; ++l) G[j][l] = 0.0;
  if (p + 1 > kMaxGramOrder) return -2;
  InitGaussQuadratureCoefs();
  return DenseGram(knots, nKnots, p, 0, G);
}

int NSplineDerivative(const double* knots, int nKnots, int p, int r, const double* c, double* out) {
  if (r < 0 || r >= p + 1) return -2;
  return NBsplineDerivative(knots, nKnots, p, r, c, out);
}

int SingleSplineDerivative(const double* knots, int nKnots, int i, int p, int r, double* out) {
  if (r < 0 || r >= p + 1) return -2;
  if (r == 0) {
    out[0] = 1.0;
    return 0;
  }
  return SingleBsplineDerivCoefs(knots, nKnots, i, p, r, out);
}

int ComputeDiffGramMatrix(const double* knots, int nKnots, int p, int r, double** G) {
  if (r == 0) return ComputeGramMatrixGQ(knots, nKnots, p, G);
  const int nCtrl = nKnots - p - 1;
  if (!knots || !G || r < 0 || r > p || nCtrl < 1) return -2;
  // The r-th derivatives are integrated in the degree p - r basis: its order meets the limit.
  if (p - r + 1 > kMaxGramOrder) return -2;
  for (int j = 0; j < nCtrl; ++j)
    for (int l = 0; l < nCtrl; ++l) G[j][l] = 0.0;
  InitGaussQuadratureCoefs();
  return DenseGram(knots, nKnots, p, r, G);
}

int ComputeCurveThinPlateWTensionMatrix(const Bspline* curve, int* nCtrl, double*** G2, double*** G1,
                                        double*** G0) {
  if (!curve || curve->kind != 1) return -2;
  const int n = NumCtrlU(curve);
  const int nKnots = NumKnotsU(curve);
  TrackingScope scope;
  double** g[3];
  for (int r = 0; r < 3; ++r) {
    g[r] = NewSquare(n);
    if (!g[r]) return -2;
    if (ComputeDiffGramMatrix(curve->knotsU, nKnots, curve->degreeU, r, g[r]) != 0) return -2;
  }
  scope.keep();
  *nCtrl = n;
  *G0 = g[0];
  *G1 = g[1];
  *G2 = g[2];
  return 0;
}

int SelectCntrlPntChanged(double** C, int m, int n, int* idx, int* k) {
  if (!C || !idx || !k || m < 1 || n < 1) return -2;
  TrackingScope scope;
  int* flag = MallocArray<int>(n);
  if (!flag || KernelFailed()) return -2;
  for (int j = 0; j < n; ++j) flag[j] = 0;
  // An end moves only for a row that (nearly) involves that end alone.
  for (int r = 0; r < m; ++r) {
    double rest = 0.0;
    for (int j = 1; j < n; ++j) rest += std::fabs(C[r][j]);
    if (rest < 0.001) flag[0] = 1;
    rest = 0.0;
    for (int j = 0; j <= n - 2; ++j) rest += std::fabs(C[r][j]);
    if (rest < 0.001) flag[n - 1] = 1;
  }
  for (int j = 1; j <= n - 2; ++j)
    for (int r = 0; r < m && !flag[j]; ++r)
      if (std::fabs(C[r][j]) > 1e-10) flag[j] = 1;
  for (int j = 1; j <= n - 3; ++j)
    if (!flag[j] && flag[j - 1] && flag[j + 1]) flag[j] = 1;
  int count = 0;
  for (int j = 0; j < n; ++j)
    if (flag[j]) idx[count++] = j;
  if (count == 0) return -2;
  if (m > count) {
    // More rows than moving points: the system needs every point.
    if (n < m) return -2;
    for (int j = 0; j < n; ++j) idx[j] = j;
    count = n;
  }
  *k = count;
  return 0;
}

int SelectThinPlateConstraintMatrix(double** A, double** C, int n, int m, const int* idx, int k,
                                    double** K) {
  if (k < m || k > n || !A || !C || !idx || !K) return -2;
  const int order = k + m;
  for (int a = 0; a < order; ++a)
    for (int b = 0; b < order; ++b) K[a][b] = 0.0;
  for (int a = 0; a < k; ++a)
    for (int b = 0; b < k; ++b) K[a][b] = A[idx[a]][idx[b]];
  for (int r = 0; r < m; ++r)
    for (int a = 0; a < k; ++a) K[k + r][a] = K[a][k + r] = C[r][idx[a]];
  return 0;
}

namespace {

// The work of DistributeReshapeCrvKnots on a curve of degree >= 1; a failure may leave the
// curve raised or with some of its knots.
int DistributeKnotsInPlace(Bspline* curve, const double* params, int n) {
  TrackingScope scope;
  if (curve->degreeU == 1) {
    ElevateDegreeOfObjSet(2, nullptr, &curve, 1);
    if (KernelFailed()) return -2;
  }
  const int p = curve->degreeU;
  const int interior = curve->interiorU;
  const int nCtrl = NumCtrlU(curve);
  const double* knot = curve->knotsU;
  const double tol = (knot[nCtrl] - knot[p]) * 1e-6;

  // The parameters of each span in the order given: span s holds knot[s] <= t < knot[s + 1].
  const int nSpans = nCtrl;  // indices 0..nCtrl-1, only p..nCtrl-1 have length
  int* spanOf = MallocArray<int>(n > 0 ? n : 1);
  int* count = MallocArray<int>(nSpans);
  double* added = MallocArray<double>(2 * n + 2);
  if (!spanOf || !count || !added || KernelFailed()) return -2;
  for (int s = 0; s < nSpans; ++s) count[s] = 0;
  for (int k = 0; k < n; ++k) {
    double t = params[k];
    t = t < knot[p] ? knot[p] : (t > knot[nCtrl] ? knot[nCtrl] : t);
    int span = p;
    FindLowKnotIndex(knot, p, t, &span, nCtrl);
    spanOf[k] = span;
    ++count[span];
  }
  int nAdded = 0;
  // An end span gets as many evenly spaced knots as it holds parameters.
  auto endSpan = [&](int s, int lim) {
    const double len = knot[s + 1] - knot[s];
    if (count[s] <= lim || len <= tol) return;
    for (int m = 1; m <= count[s]; ++m) added[nAdded++] = knot[s] + m * len / (count[s] + 1);
  };
  const int lim = p < 3 ? p - 1 : p - 3;
  for (int s = 0; s <= p && s < nSpans; ++s) endSpan(s, lim);

  const int lim2 = p > 2 ? p - 1 : 1;
  // The legacy stride lim2 - 1 is 0 for degree 2 and would never advance.
  const int stride = lim2 - 1 > 0 ? lim2 - 1 : 1;
  for (int s = p + 1; s <= p + interior - 1; ++s) {
    if (count[s] <= lim2) continue;
    double* own = MallocArray<double>(count[s]);
    if (!own || KernelFailed()) return -2;
    int c = 0;
    for (int k = 0; k < n; ++k)
      if (spanOf[k] == s) own[c++] = params[k];
    for (int j = 0; j < c - 1; j += stride) added[nAdded++] = (own[j] + own[j + 1]) / 2.0;
    added[nAdded++] = (own[c - 1] + knot[s + 1]) / 2.0;
    Free(own);
  }
  if (interior > 0) endSpan(p + interior, lim);

  if (nAdded > 0) {
    HeapSort(nAdded, added);
    InsertNKnotsToObject(1, nAdded, 0, curve, 2, added);
    if (KernelFailed()) return -2;
  }
  return 0;
}

// The work of ReshapeCurve3ToNpnts on a 3D curve of degree >= 1; a failure may leave the curve
// with new knots or a new degree and its end points on their targets.
int ReshapeInPlace(Bspline* curve, const double (*points)[3], int n, const double* params, double tension,
                   double roughness, double sigma) {
  TrackingScope scope;
  if (DistributeKnotsInPlace(curve, params, n) != 0) return -2;

  const int nCtrl = NumCtrlU(curve);
  const double range = std::fabs(curve->umax - curve->umin);
  bool startSet = false, endSet = false;
  int* target = MallocArray<int>(n > 0 ? n : 1);
  if (!target || KernelFailed()) return -2;
  int m = 0;
  for (int k = 0; k < n; ++k) {
    const double t = params[k];
    // Targets at an end are met by that end control point itself.
    if (std::fabs((t - curve->umin) / range) < 0.001) {
      curve->X[0][0] = points[k][0];
      curve->Y[0][0] = points[k][1];
      curve->Z[0][0] = points[k][2];
      startSet = true;
    } else if (std::fabs((t - curve->umax) / range) < 0.001) {
      curve->X[0][nCtrl - 1] = points[k][0];
      curve->Y[0][nCtrl - 1] = points[k][1];
      curve->Z[0][nCtrl - 1] = points[k][2];
      endSet = true;
    } else {
      target[m++] = k;
    }
  }
  if (m == 0) {
    // Only end points moved; what was cached about the old shape is stale all the same.
    FreeBsplineProperties(curve);
    curve->quadricType = 0;
    return 0;
  }

  // Two spare rows for ends set above, should every point have to move.
  double** C = allocate_matrix_ff(m + 2, nCtrl);
  double** d = allocate_matrix_ff(m + 2, 3);
  int* idx = MallocArray<int>(nCtrl);
  if (!C || !d || !idx || KernelFailed()) return -2;
  for (int c = 0; c < m; ++c) {
    const int k = target[c];
    if (ComputeReshapeCrv3PointConstraint(curve, points[k][0], points[k][1], points[k][2], params[k],
                                          C[c], d[c]) != 0)
      return -2;
  }
  int k = 0;
  if (SelectCntrlPntChanged(C, m, nCtrl, idx, &k) != 0 || k < 1) return -2;
  // When every point moves, an end placed on its target above is held there by a row of its
  // own, or the solve would move it off again.
  int rows = m;
  if (k == nCtrl) {
    for (int e = 0; e < 2; ++e) {
      const bool set = e == 0 ? startSet : endSet;
      if (!set || rows + 1 > k) continue;
      for (int j = 0; j < nCtrl; ++j) C[rows][j] = 0.0;
      C[rows][e == 0 ? 0 : nCtrl - 1] = 1.0;
      d[rows][0] = d[rows][1] = d[rows][2] = 0.0;
      ++rows;
    }
  }

  double w0 = sigma < 1e-6 ? 1.0 : 1.0 / (sigma * sigma);
  double w1 = 0.0, w2 = 0.0;
  if (GetCrvThinPlateWeights(curve, tension, roughness, &w1, &w2) != 0) return -2;
  int nG = 0;
  double **G2 = nullptr, **G1 = nullptr, **G0 = nullptr;
  if (ComputeCurveThinPlateWTensionMatrix(curve, &nG, &G2, &G1, &G0) != 0) return -2;
  // Once returned they are the caller's: put them back under this scope's care.
  const Owned<double*, matrix_free_ff> ownG0(G0), ownG1(G1), ownG2(G2);
  if (k == nCtrl) {
    // Every point free: the smallest displacement that meets the targets.
    w1 = w2 = 0.0;
    w0 = 1.0;
  }

  double** A = allocate_matrix_ff(nCtrl, nCtrl);
  double** K = allocate_matrix_ff(k + rows, k + rows);
  double* rhs = MallocArray<double>(k + rows);
  double* z = MallocArray<double>(k + rows);
  double* b = MallocArray<double>(nCtrl);
  if (!A || !K || !rhs || !z || !b || KernelFailed()) return -2;
  for (int i = 0; i < nCtrl; ++i)
    for (int j = 0; j < nCtrl; ++j) A[i][j] = w0 * G0[i][j] + w1 * G1[i][j] + w2 * G2[i][j];
  if (SelectThinPlateConstraintMatrix(A, C, nCtrl, rows, idx, k, K) != 0) return -2;

  double** P[3] = {curve->X, curve->Y, curve->Z};
  double* result[3];
  for (int c = 0; c < 3; ++c) {
    // The order-0 term weighs the displacement alone, the derivative terms the new curve.
    for (int i = 0; i < nCtrl; ++i) {
      double s = 0.0;
      for (int j = 0; j < nCtrl; ++j) s += (w1 * G1[i][j] + w2 * G2[i][j]) * P[c][0][j];
      b[i] = -s;
    }
    for (int a = 0; a < k; ++a) rhs[a] = b[idx[a]];
    for (int r = 0; r < rows; ++r) rhs[k + r] = d[r][c];
    result[c] = MallocArray<double>(k + rows);
    if (!result[c] || KernelFailed()) return -2;
    if (SolveLinearSystem_ff(K, k + rows, rhs, result[c]) != 0) return -2;
  }
  for (int c = 0; c < 3; ++c)
    for (int a = 0; a < k; ++a) P[c][0][idx[a]] += result[c][a];
  FreeBsplineProperties(curve);
  curve->quadricType = 0;
  return 0;
}

}  // namespace

int DistributeReshapeCrvKnots(Bspline* curve, const double (*)[3], const double* params, int n) {
  if (!curve || curve->kind != 1 || curve->degreeU < 1 || (n > 0 && !params)) return -2;
  // The work runs on the curve itself: a failure part way puts back a copy taken first.
  const Owned<Bspline, FreeBspline> saved(CopyCurveBspline(curve));
  if (!saved || KernelFailed()) return -2;
  const int status = DistributeKnotsInPlace(curve, params, n);
  if (status != 0) RestoreBsplineShape(curve, saved.get());
  return status;
}

int ReshapeCurve3ToNpnts(Bspline* curve, const double (*points)[3], int n, const double* params,
                         double tension, double roughness, double sigma) {
  if (!curve || curve->kind != 1 || curve->dimension != 3 || curve->degreeU < 1) return -2;
  if (n > 0 && (!points || !params)) return -2;
  const Owned<Bspline, FreeBspline> saved(CopyCurveBspline(curve));
  if (!saved || KernelFailed()) return -2;
  const int status = ReshapeInPlace(curve, points, n, params, tension, roughness, sigma);
  if (status != 0) RestoreBsplineShape(curve, saved.get());
  return status;
}

int UpdateCurveBsplineCntrlPts(Bspline* dst, Bspline* src) {
  if (!dst || !src) return -2;
  if (!RecordShapesSound({dst, src})) return -2;
  if (dst->kind != 1 || src->kind != 1 || dst->dimension != src->dimension) {
    SetKernelError(-2);
    return -2;
  }
  TrackingScope scope;
  Bspline* copy = CopyCurveBspline(src);
  if (!copy || KernelFailed()) return -2;
  Free(dst->knotsU);
  for (double** m : {dst->X, dst->Y, dst->Z, dst->W})
    if (m) matrix_free_fh(m);
  dst->degreeU = copy->degreeU;
  dst->interiorU = copy->interiorU;
  dst->umin = copy->umin;
  dst->umax = copy->umax;
  dst->knotsU = copy->knotsU;
  dst->X = copy->X;
  dst->Y = copy->Y;
  dst->Z = copy->Z;
  // The weights must follow the new point count: a rational source's are taken along.
  dst->W = copy->W;
  dst->rational = copy->rational;
  copy->knotsU = nullptr;
  copy->X = copy->Y = copy->Z = copy->W = nullptr;
  FreeBspline(copy);
  FreeBsplineProperties(dst);
  dst->quadricType = 0;
  scope.keep();
  return 0;
}

int CopyCrvBsplArray(Bspline** curves, int n, Bspline*** copies) {
  if (!curves || n < 1 || !copies) return -2;
  TrackingScope scope;
  auto out = OwnedArray<Bspline, FreeBspline>::Zeroed(n);
  if (!out || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) {
    if (!curves[i] || curves[i]->kind != 1) return -2;
    out[i] = CopyCurveBspline(curves[i]);
    if (!out[i] || KernelFailed()) return -2;
  }
  scope.keep();
  *copies = out.release();
  return 0;
}

int ComputeCrvNetSnapPoints(Bspline** curvesA, int nA, Bspline** curvesB, int nB, double** parA,
                            double** parB, double* pointsA, double* pointsB) {
  const int total = nA * nB;
  for (int i = 0; i < nA; ++i) {
    for (int j = 0; j < nB; ++j) {
      double tA, tB;
      if (Intersect2Curve3(curvesA[i], curvesB[j], &tA, &tB) < 0 || KernelFailed()) return -2;
      parA[i][j] = tA;
      parB[i][j] = tB;
      double a[3], b[3];
      Eval3DPointOnCurve3Array(curvesA[i], tA, 0, a);
      Eval3DPointOnCurve3Array(curvesB[j], tB, 0, b);
      const int e = i * nB + j;
      for (int c = 0; c < 3; ++c) {
        pointsA[c * total + e] = a[c];
        pointsB[c * total + e] = b[c];
      }
    }
  }
  return 0;
}

int SnapTwoCrv3Array(Bspline** curvesA, Bspline** curvesB, int nA, int nB, int mode, double tension,
                     double roughness, double sigma, int makeCompatible, Bspline*** newA,
                     Bspline*** newB) {
  if (!curvesA || !curvesB || nA < 1 || nB < 1 || mode < 0 || mode > 2 || !newA || !newB) return -2;
  TrackingScope scope;
  // The copies are kept out of the scope by their maker; their owners free them first.
  OwnedArray<Bspline, FreeBspline> ownA, ownB;
  if (CopyCrvBsplArray(curvesA, nA, ownA.receive(nA)) != 0) return -2;
  if (CopyCrvBsplArray(curvesB, nB, ownB.receive(nB)) != 0) return -2;
  Bspline** A = ownA.get();
  Bspline** B = ownB.get();
  auto compatible = [&](bool famA, bool famB) {
    if (famA) MakeKnotVectorsCompatible(A, nullptr, nA, 0);
    if (famB && !KernelFailed()) MakeKnotVectorsCompatible(B, nullptr, nB, 0);
    return !KernelFailed();
  };
  if (makeCompatible && !compatible(mode != 1, mode != 0)) return -2;

  const int total = nA * nB;
  double** parA = allocate_matrix_ff(nA, nB);
  double** parB = allocate_matrix_ff(nA, nB);
  double* ptsA = MallocArray<double>(3, total);
  double* ptsB = MallocArray<double>(3, total);
  const int most = nA > nB ? nA : nB;
  double(*targets)[3] = MallocArray<double[3]>(most);
  double* tPar = MallocArray<double>(most);
  if (!parA || !parB || !ptsA || !ptsB || !targets || !tPar || KernelFailed()) return -2;
  if (ComputeCrvNetSnapPoints(A, nA, B, nB, parA, parB, ptsA, ptsB) != 0) return -2;

  // The point a pair is snapped to: B's for mode 0, A's for mode 1, the midpoint for mode 2.
  auto snapPoint = [&](int i, int j, double out[3]) {
    const int e = i * nB + j;
    for (int c = 0; c < 3; ++c) {
      const double a = ptsA[c * total + e], b = ptsB[c * total + e];
      out[c] = mode == 0 ? b : (mode == 1 ? a : 0.5 * (a + b));
    }
  };
  // Each curve of a family goes through its snap points at its own parameters.
  auto reshapeFamily = [&](Bspline** fam, int nFam, int nOther, bool isA) {
    for (int f = 0; f < nFam; ++f) {
      for (int o = 0; o < nOther; ++o) {
        const int i = isA ? f : o, j = isA ? o : f;
        snapPoint(i, j, targets[o]);
        tPar[o] = isA ? parA[i][j] : parB[i][j];
      }
      if (ReshapeCurve3ToNpnts(fam[f], targets, nOther, tPar, tension, roughness, sigma) != 0) return false;
    }
    return true;
  };
  if (mode != 1 && !reshapeFamily(A, nA, nB, true)) return -2;
  if (mode != 0 && !reshapeFamily(B, nB, nA, false)) return -2;
  if (mode == 2 && makeCompatible && !compatible(true, true)) return -2;
  *newA = ownA.release();
  *newB = ownB.release();
  return 0;
}
