#include "shrinkwrap/platefit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/nubinner.h"
#include "bspline/nubutil.h"
#include "bspline/smake.h"
#include "foundation/bandsolve.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/dispmat.h"
#include "foundation/makemat.h"
#include "foundation/mathmat.h"
#include "foundation/umalloc.h"

namespace {

// A height-field surface the fit can fill: sound structure, degrees of at least 1, sorted
// knots, and a Z matrix to write (X and Y may still be unset, so coefficients are not read).
bool FittableSurface(const Bspline* srf) {
  if (!BsplineShapeSound(srf) || srf->kind != 2 || srf->dimension != 3 || !srf->Z) return false;
  if (srf->degreeU < 1 || srf->degreeV < 1) return false;
  return KnotVectorSound(srf->knotsU, srf->degreeU, NumCtrlU(srf)) &&
         KnotVectorSound(srf->knotsV, srf->degreeV, NumCtrlV(srf));
}

int BandWidth(const Bspline* srf) { return NumCtrlU(srf) * srf->degreeV + srf->degreeU + 2; }

// Fixed indices the elimination can use: strictly ascending inside 0 .. n-1.
bool FixedListSound(const double* fixVals, const int* fixIdx, int nFix, int n) {
  if (nFix < 0 || nFix > n) return false;
  if (nFix == 0) return true;
  if (!fixVals || !fixIdx) return false;
  for (int t = 0; t < nFix; ++t)
    if (fixIdx[t] < 0 || fixIdx[t] >= n || (t > 0 && fixIdx[t] <= fixIdx[t - 1])) return false;
  return true;
}

double PointFactor(double w) { return w > 0.0 ? 1.0 / (w * w) : 1.0; }

// The membrane and bending weights of the smoothing term, in SurfStiffMatrix's order.
void SmoothingWeights(double a, double b, double R, double T, double w[5]) {
  const double membrane = (a / b) * (a / b) * T / R;
  const double bend = (a * a / b) * (a * a / b) * (1.0 - T) / R;
  w[0] = membrane;
  w[1] = membrane;
  w[2] = bend;
  w[3] = 2.0 * bend;
  w[4] = bend;
}

bool WeightsUsable(double a, double b, double R, double T) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(R) && std::isfinite(T) && b != 0.0 &&
         R > 0.0;
}

// The non-zero basis products of one point: unknown index and value, row-major, so indices
// increase along the list.
struct PointBasis {
  int count = 0;
  int index[(kMaxSplineDegree + 1) * (kMaxSplineDegree + 1)];
  double value[(kMaxSplineDegree + 1) * (kMaxSplineDegree + 1)];
};

void BasisProducts(const double* Nu, int su, int p, const double* Nv, int sv, int q, int nU,
                   PointBasis* out) {
  out->count = 0;
  for (int jj = 0; jj <= q; ++jj) {
    if (Nv[jj + 1] == 0.0) continue;
    const int row = (sv - q + jj) * nU;
    for (int ii = 0; ii <= p; ++ii) {
      const double B = Nv[jj + 1] * Nu[ii + 1];
      if (B == 0.0) continue;
      out->index[out->count] = row + su - p + ii;
      out->value[out->count] = B;
      ++out->count;
    }
  }
}

// One observation f (z - sum B_r c_r)^2 into the normal equations (upper band and rhs).
void AddObservation(const PointBasis& pb, double z, double f, double** K, double* rhs) {
  for (int a = 0; a < pb.count; ++a) {
    const int r = pb.index[a];
    const double fBr = f * pb.value[a];
    rhs[r] += z * fBr;
    for (int c = a; c < pb.count; ++c) K[r][pb.index[c] - r] += fBr * pb.value[c];
  }
}

// Solves K coef = rhs in place, through the fixed-unknown elimination when some are held.
// The solver's -2 (a zero pivot: an unknown nothing determines) is passed on.
int SolveBand(double** K, int N, int W, double* coef, double* fixVals, int* fixIdx, int nFix) {
  if (nFix > 0) return ConvertMatToFixPts_h(K, nFix, fixIdx, fixVals, N, W, coef);
  double* const rhs[1] = {coef};
  return SolveSymBandSystem(K, N, W, rhs, 1);
}

double** ZeroBand(int N, int W) {
  double** K = allocate_matrix_ff(N, W);
  if (K) std::memset(K[0], 0, sizeof(double) * static_cast<size_t>(N) * W);
  return K;
}

}  // namespace

namespace {

template <class T>
void HeightRange(const T* z, int n, double* out) {
  if (!z || !out || n < 1) return;
  double lo = z[0], hi = z[0];
  for (int i = 1; i < n; ++i) {
    lo = std::min(lo, static_cast<double>(z[i]));
    hi = std::max(hi, static_cast<double>(z[i]));
  }
  *out = std::fabs(hi - lo);
  if (*out < 1e-6) *out = 0.1;
}

}  // namespace

void HeightRangeOfPoints(const float*, const float*, const float* z, int n, double* out) {
  HeightRange(z, n, out);
}

void HeightRangeOfPoints(const double*, const double*, const double* z, int n, double* out) {
  HeightRange(z, n, out);
}

int ControlNetPenaltyBand(double** P, int nU, int nV, int W, const double* cpWeights) {
  if (!P || nU < 1 || nV < 1) return -2;
  // Both neighbour distances (1 and nU) must fit the band, or the pairs would land outside it.
  if ((nU > 1 && W < 2) || (nV > 1 && W <= nU) || W < 1) return -2;
  const int N = nU * nV;
  std::memset(P[0], 0, sizeof(double) * static_cast<size_t>(N) * W);
  for (int j = 0; j < nV; ++j) {
    for (int i = 0; i < nU; ++i) {
      const int k = j * nU + i;
      const double w = cpWeights ? cpWeights[k] : 1.0;
      if (std::fabs(w) < 1e-6) continue;
      const int neighbours[4][2] = {{i - 1, j}, {i + 1, j}, {i, j - 1}, {i, j + 1}};
      for (const auto& nb : neighbours) {
        if (nb[0] < 0 || nb[0] >= nU || nb[1] < 0 || nb[1] >= nV) continue;
        const int k2 = nb[1] * nU + nb[0];
        P[k][0] += w;
        P[k2][0] += w;
        P[std::min(k, k2)][std::abs(k - k2)] -= w;
      }
    }
  }
  return 0;
}

double** ThinPlateStiffness(Bspline* srf, const double w[5]) {
  if (!BsplineShapeSound(srf) || srf->kind != 2 || !srf->knotsU || !srf->knotsV || !w) return nullptr;
  const int p = srf->degreeU, q = srf->degreeV;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  const int N = nU * nV, W = BandWidth(srf);
  double** K = ZeroBand(N, W);  // the caller's: allocated before the scratch scope opens
  if (!K) return nullptr;
  bool ok = true;
  {
    TrackingScope scope;
    double** Gu[3];
    double** Gv[3];
    for (int r = 0; r < 3 && ok; ++r) {
      Gu[r] = ZeroBand(nU, p + 1);
      Gv[r] = ZeroBand(nV, q + 1);
      ok = Gu[r] && Gv[r] && !KernelFailed() &&
           NewComputeDiffGramMatrixGQ(srf->knotsU, NumKnotsU(srf), nU, p, r, Gu[r]) == 0 &&
           NewComputeDiffGramMatrixGQ(srf->knotsV, NumKnotsV(srf), nV, q, r, Gv[r]) == 0;
    }
    // Pairs k <= l within p columns and q rows of each other couple; each Gram entry is read
    // at the smaller index and the distance (the band holds the upper half).
    for (int j = 0; j < nV && ok; ++j) {
      for (int i = 0; i < nU; ++i) {
        const int k = j * nU + i;
        for (int dj = 0; dj <= q && j + dj < nV; ++dj) {
          const double v0 = Gv[0][j][dj], v1 = Gv[1][j][dj], v2 = Gv[2][j][dj];
          for (int di = (dj == 0 ? 0 : -p); di <= p; ++di) {
            const int i2 = i + di;
            if (i2 < 0 || i2 >= nU) continue;
            const int lo = std::min(i, i2), d = std::abs(di);
            const double u0 = Gu[0][lo][d], u1 = Gu[1][lo][d], u2 = Gu[2][lo][d];
            K[k][dj * nU + di] += w[0] * u1 * v0 + w[1] * u0 * v1 + w[2] * u2 * v0 + w[3] * u1 * v1 +
                                  w[4] * u0 * v2;
          }
        }
      }
    }
  }
  if (!ok || KernelFailed()) {
    matrix_free_ff(K);
    return nullptr;
  }
  return K;
}

// Method: the normal equations of sum_points f (z - S(x, y))^2 + smoothing + control-net
// penalty, assembled into the upper band. Each point adds its basis products; a count per
// unknown records how often points touch it, and an unknown touched by a small share of all
// touches is tied to its grid neighbours harder, so sparse regions follow the surrounding net.
int ThinPlateScatteredSolve(Bspline* srf, Cloud* cloud, int spansU, int spansV, double* pointWeights,
                            double a, double b, double R, double T, double* coef, double* fixVals,
                            int* fixIdx, int nFix) {
  if (!srf || !cloud || cloud->npts < 3 || !cloud->x || !cloud->y || !cloud->z || !coef || !pointWeights)
    return -2;
  if (!FittableSurface(srf) || spansU != srf->interiorU + 1 || spansV != srf->interiorV + 1) return -2;
  if (!WeightsUsable(a, b, R, T)) return -2;
  const int p = srf->degreeU, q = srf->degreeV;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  const int N = nU * nV, W = BandWidth(srf);
  if (!FixedListSound(fixVals, fixIdx, nFix, N)) return -2;

  TrackingScope scope;
  double* count = CallocArray<double>(N);
  double* cpWeights = MallocArray<double>(N);
  auto* pb = MallocArray<PointBasis>(1);
  if (KernelFailed() || !count || !cpWeights || !pb) return -2;
  double w[5];
  SmoothingWeights(a, b, R, T, w);
  double** K = ThinPlateStiffness(srf, w);
  if (!K) return -2;
  std::fill(coef, coef + N, 0.0);

  double Nu[kMaxSplineDegree + 2], Nv[kMaxSplineDegree + 2];
  int su = p, sv = q;
  double f = 1.0;
  for (int n = 0; n < cloud->npts; ++n) {
    f = PointFactor(pointWeights[n]);
    EvalPointOnObjInit(cloud->x[n], p, srf->knotsU, Nu, &su, nU, 0);
    EvalPointOnObjInit(cloud->y[n], q, srf->knotsV, Nv, &sv, nV, 0);
    BasisProducts(Nu, su, p, Nv, sv, q, nU, pb);
    AddObservation(*pb, cloud->z[n], f, K, coef);
    // Every touched unknown counts once for itself and once per partner of the point.
    for (int r = 0; r < pb->count; ++r) count[pb->index[r]] += 1.0 + pb->count;
  }

  double total = 0.0;
  for (int k = 0; k < N; ++k) total += count[k];
  // The base and the threshold follow the last point's factor (all points share sigma).
  double base = f * 0.01, threshold = 0.0001;
  if (p > 3 || q > 3) base = f * 0.1, threshold = 0.01;
  for (int k = 0; k < N; ++k) {
    const double ratio = total > 0.0 ? count[k] / total : 0.0;
    cpWeights[k] = ratio >= threshold ? 0.1 * base : (1.0 - ratio) * base;
  }
  double** P = allocate_matrix_ff(N, W);
  if (!P || KernelFailed() || ControlNetPenaltyBand(P, nU, nV, W, cpWeights) != 0) return -2;
  for (int k = 0; k < N; ++k)
    for (int e = 0; e < W; ++e) K[k][e] += P[k][e];

  return SolveBand(K, N, W, coef, fixVals, fixIdx, nFix) == 0 && !KernelFailed() ? 0 : -2;
}

int ThinPlateGriddedSolve(Bspline* srf, const double* xs, const double* ys, const double* zs, int nx,
                          int ny, double a, double b, const double* pointWeights, double R, double T,
                          double* coef, double* fixVals, int* fixIdx, int nFix) {
  if (!srf || !xs || !ys || !zs || !pointWeights || !coef || nx < 1 || ny < 1) return -2;
  if (!FittableSurface(srf)) return -2;
  const bool smooth = srf->fitProps.flag == 1;
  if (smooth && !WeightsUsable(a, b, R, T)) return -2;
  const int p = srf->degreeU, q = srf->degreeV;
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf);
  const int N = nU * nV, W = BandWidth(srf);
  if (!FixedListSound(fixVals, fixIdx, nFix, N)) return -2;

  TrackingScope scope;
  // Basis values once per column value and once per row value, not per grid point.
  double* Nu = MallocArray<double>(nx, p + 2);
  double* Nv = MallocArray<double>(ny, q + 2);
  int* su = MallocArray<int>(nx);
  int* sv = MallocArray<int>(ny);
  auto* pb = MallocArray<PointBasis>(1);
  if (KernelFailed() || !Nu || !Nv || !su || !sv || !pb) return -2;
  double** K;
  if (smooth) {
    double w[5];
    SmoothingWeights(a, b, R, T, w);
    K = ThinPlateStiffness(srf, w);
  } else {
    K = ZeroBand(N, W);
  }
  if (!K || KernelFailed()) return -2;
  int s = p;
  for (int i = 0; i < nx; ++i) {
    EvalPointOnObjInit(xs[i], p, srf->knotsU, Nu + i * (p + 2), &s, nU, 0);
    su[i] = s;
  }
  s = q;
  for (int j = 0; j < ny; ++j) {
    EvalPointOnObjInit(ys[j], q, srf->knotsV, Nv + j * (q + 2), &s, nV, 0);
    sv[j] = s;
  }
  std::fill(coef, coef + N, 0.0);
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const long g = static_cast<long>(j) * nx + i;
      BasisProducts(Nu + i * (p + 2), su[i], p, Nv + j * (q + 2), sv[j], q, nU, pb);
      AddObservation(*pb, zs[g], PointFactor(pointWeights[g]), K, coef);
    }
  }
  return SolveBand(K, N, W, coef, fixVals, fixIdx, nFix) == 0 && !KernelFailed() ? 0 : -2;
}

// Method: b = 0.1 (height range) / (longer side of the domain), a = 0.1; every point weighs
// the surface's sigma; a regular grid in row order goes the gridded way, everything else the
// scattered way; the solution is copied into Z only when the solve succeeded.
int ThinPlateFitHeights(Bspline* srf, Cloud* cloud, double* fixVals, int* fixIdx, int nFix) {
  auto refuse = [] {
    SetKernelError(-2);
    return -2;
  };
  if (!FittableSurface(srf) || !cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z)
    return refuse();
  const int nU = NumCtrlU(srf), nV = NumCtrlV(srf), N = nU * nV;
  if (!FixedListSound(fixVals, fixIdx, nFix, N)) return refuse();
  const int n = cloud->npts;
  const double L = std::max(srf->umax - srf->umin, srf->vmax - srf->vmin);
  if (!(L > 0.0) || !std::isfinite(L)) return refuse();
  double range;
  HeightRangeOfPoints(cloud->x, cloud->y, cloud->z, n, &range);
  const double b = 0.1 * range / L, a = 0.1;
  const double T = srf->fitProps.tension, R = srf->fitProps.roughness;

  TrackingScope scope;
  double* coef = MallocArray<double>(N);
  double* weights = MallocArray<double>(n);
  if (KernelFailed() || !coef || !weights) return -2;
  std::fill(weights, weights + n, srf->fitProps.sigma);

  const int nx = cloud->ptsPerRow, ny = cloud->nscans;
  const bool gridded = cloud->type == 17 && cloud->grid.rowAxis == 1 && cloud->grid.colAxis == 0 &&
                       nx >= 1 && ny >= 1 && static_cast<long>(nx) * ny == n;
  int rc;
  if (gridded) {
    double* xs = MallocArray<double>(nx);
    double* ys = MallocArray<double>(ny);
    double* zs = MallocArray<double>(n);
    if (KernelFailed() || !xs || !ys || !zs) return -2;
    // Grid values from the domain's corner: x along a row (column step), y across the rows.
    for (int i = 0; i < nx; ++i) xs[i] = srf->umin + i * cloud->grid.colStep;
    for (int j = 0; j < ny; ++j) ys[j] = srf->vmin + j * cloud->grid.rowStep;
    for (int k = 0; k < n; ++k) zs[k] = cloud->z[k];
    rc = ThinPlateGriddedSolve(srf, xs, ys, zs, nx, ny, a, b, weights, R, T, coef, fixVals, fixIdx, nFix);
  } else {
    rc = ThinPlateScatteredSolve(srf, cloud, srf->interiorU + 1, srf->interiorV + 1, weights, a, b, R, T,
                                 coef, fixVals, fixIdx, nFix);
  }
  if (rc != 0 || KernelFailed()) return KernelFailed() ? -2 : refuse();
  for (int k = 0; k < N; ++k)
    if (!std::isfinite(coef[k])) return refuse();
  cp_vec_to_matrix_fh_fh(coef, srf->Z, nU, nV);
  return 0;
}
