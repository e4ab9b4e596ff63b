#include "shrinkwrap/csmooth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/bsvalid.h"
#include "bspline/cclone.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "cloud/pgauss.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "shrinkwrap/shrink.h"

namespace {

// Fixed settings of the smoothers.
constexpr int kStepsPerIteration = 2;  // lambda, then mu
constexpr int kCurveHalfWindow = 1;
constexpr int kCurveWeightType = 0;
constexpr double kCurveSigma = 0.05;
constexpr int kStagedMaxIter = 200;
constexpr double kStageFactor[5] = {0.1, 0.15, 0.2, 0.25, 0.4};

// Gaussian widths below this would make every weight underflow.
constexpr double kMinSigma = 0.001;

int ClampWeightType(int t) { return t < 0 ? 0 : (t > 3 ? 3 : t); }

double ClampPassBand(double k) { return std::min(std::max(k, 0.001), 1.25); }

// The step factor of step s of an iteration.
double StepFactor(int s, double lambda, double mu) { return s == 0 ? lambda : mu; }

}  // namespace

double PolylineLength(const double* x, const double* y, const double* z, int n) {
  if (!x || !y || !z || n < 2) return 0.0;
  double len = 0.0;
  for (int i = 1; i < n; ++i) {
    const double dx = x[i] - x[i - 1], dy = y[i] - y[i - 1], dz = z[i] - z[i - 1];
    len += std::sqrt(dx * dx + dy * dy + dz * dz);
  }
  return len;
}

int GetNeighborSmoothingWeight(const double p[3], const double* nx, const double* ny,
                               const double* nz, int count, int weightType, double sigma,
                               double* w) {
  if (!p || !nx || !ny || !nz || !w || count < 1) return -2;
  if (count == 1) {
    w[0] = 1.0;
    return 0;
  }
  const int type = ClampWeightType(weightType);
  const double s = std::max(sigma, kMinSigma);
  double sum = 0.0;
  for (int k = 0; k < count; ++k) {
    const double dx = nx[k] - p[0], dy = ny[k] - p[1], dz = nz[k] - p[2];
    const double d2 = dx * dx + dy * dy + dz * dz;
    double wk = 1.0;
    if (type == 1) {
      wk = GaussianWeight(s, std::sqrt(d2));
    } else if (type == 2) {
      const double d = std::sqrt(d2);
      wk = d < 1e-6 ? 0.0 : 1.0 / d;
    } else if (type == 3) {
      wk = d2 < 1e-6 ? 0.0 : 1.0 / d2;
    }
    w[k] = wk;
    sum += wk;
  }
  // Every neighbour on top of the point (types 2, 3) or far beyond a narrow Gaussian: no
  // direction to move in, so the point stays where it is.
  if (!(sum > 0.0)) {
    for (int k = 0; k < count; ++k) w[k] = 0.0;
    return -2;
  }
  for (int k = 0; k < count; ++k) w[k] /= sum;
  return 0;
}

int FairPolylineLambdaGamma(double* x, double* y, double* z, int n, const int* fixed, int nFixed,
                            int halfWindow, int weightType, double lambda, double mu,
                            int iterations, double sigma) {
  if (n < 1) return 0;
  if (!x || !y || !z) return -2;
  const int h = halfWindow > 0 ? halfWindow : 0;
  const int maxNb = 2 * h + 1;
  TrackingScope scope;
  auto* movable = MallocArray<char>(n);
  auto* dx = MallocArray<double>(n);
  auto* dy = MallocArray<double>(n);
  auto* dz = MallocArray<double>(n);
  auto* bx = MallocArray<double>(maxNb);
  auto* by = MallocArray<double>(maxNb);
  auto* bz = MallocArray<double>(maxNb);
  auto* fresh = MallocArray<double>(maxNb);
  double** table = allocate_matrix_ff(n, maxNb);
  if (KernelFailed() || !movable || !dx || !dy || !dz || !bx || !by || !bz || !fresh || !table)
    return -2;

  std::memset(movable, 1, n);
  for (int k = 0; fixed && k < nFixed; ++k)
    if (fixed[k] >= 0 && fixed[k] < n) movable[fixed[k]] = 0;

  int type = ClampWeightType(weightType);
  if (type == 1) {
    const double len = PolylineLength(x, y, z, n);
    if (std::fabs(len) < 1e-6) type = 0;
    sigma *= len;
  }

  // Neighbours of i in index order: i - h .. i + h without i, inside 0..n-1.
  auto gather = [&](int i) {
    int c = 0;
    for (int j = std::max(i - h, 0); j <= std::min(i + h, n - 1); ++j) {
      if (j == i) continue;
      bx[c] = x[j];
      by[c] = y[j];
      bz[c] = z[j];
      ++c;
    }
    return c;
  };

  // Starting weights, kept for every step so the smoothing stays a fixed linear filter.
  for (int i = 0; i < n; ++i) {
    const int c = gather(i);
    const double p[3] = {x[i], y[i], z[i]};
    if (c < 1 || GetNeighborSmoothingWeight(p, bx, by, bz, c, type, sigma, table[i]) != 0)
      for (int k = 0; k < maxNb; ++k) table[i][k] = 0.0;
  }

  for (int it = 0; it < iterations; ++it) {
    for (int s = 0; s < kStepsPerIteration; ++s) {
      const double f = StepFactor(s, lambda, mu);
      for (int i = 0; i < n; ++i) {
        dx[i] = dy[i] = dz[i] = 0.0;
        if (!movable[i]) continue;
        const int c = gather(i);
        const double p[3] = {x[i], y[i], z[i]};
        // The step's own weights only tell whether the point has a direction to move in now;
        // plain ones (type 0) always give it one, and weighing them took a third of the fairing.
        if (c < 1 || (type != 0 && GetNeighborSmoothingWeight(p, bx, by, bz, c, type, sigma, fresh) != 0))
          continue;
        double sx = 0.0, sy = 0.0, sz = 0.0;
        for (int k = 0; k < c; ++k) {
          sx += table[i][k] * (bx[k] - p[0]);
          sy += table[i][k] * (by[k] - p[1]);
          sz += table[i][k] * (bz[k] - p[2]);
        }
        dx[i] = f * sx;
        dy[i] = f * sy;
        dz[i] = f * sz;
      }
      // All displacements of a step are known before any point moves: order-independent.
      for (int i = 0; i < n; ++i) {
        x[i] += dx[i];
        y[i] += dy[i];
        z[i] += dz[i];
      }
    }
  }
  return 0;
}

int FairGridPntsLambdaGamma(double** X, double** Y, double** Z, int nr, int nc, int** movable,
                            int halfWindow, int weightType, double lambda, double mu,
                            int iterations) {
  if (nr < 1 || nc < 1) return 0;
  if (!X || !Y || !Z || !movable) return -2;
  const int h = halfWindow > 0 ? halfWindow : 0;
  const int maxNb = (2 * h + 1) * (2 * h + 1);
  const int type = ClampWeightType(weightType);
  TrackingScope scope;
  double** dX = allocate_matrix_ff(nr, nc);
  double** dY = allocate_matrix_ff(nr, nc);
  double** dZ = allocate_matrix_ff(nr, nc);
  auto* bx = MallocArray<double>(maxNb);
  auto* by = MallocArray<double>(maxNb);
  auto* bz = MallocArray<double>(maxNb);
  auto* w = MallocArray<double>(maxNb);
  if (KernelFailed() || !dX || !dY || !dZ || !bx || !by || !bz || !w) return -2;

  for (int it = 0; it < iterations; ++it) {
    for (int s = 0; s < kStepsPerIteration; ++s) {
      const double f = StepFactor(s, lambda, mu);
      for (int i = 0; i < nr; ++i) {
        for (int j = 0; j < nc; ++j) {
          dX[i][j] = dY[i][j] = dZ[i][j] = 0.0;
          if (!movable[i][j]) continue;
          int c = 0;
          for (int a = -h; a <= h; ++a) {
            for (int b = -h; b <= h; ++b) {
              const int r = i + a, q = j + b;
              if ((a == 0 && b == 0) || r < 0 || r >= nr || q < 0 || q >= nc) continue;
              bx[c] = X[r][q];
              by[c] = Y[r][q];
              bz[c] = Z[r][q];
              ++c;
            }
          }
          const double p[3] = {X[i][j], Y[i][j], Z[i][j]};
          if (c < 1 || GetNeighborSmoothingWeight(p, bx, by, bz, c, type, 0.0, w) != 0) continue;
          double sx = 0.0, sy = 0.0, sz = 0.0;
          for (int k = 0; k < c; ++k) {
            sx += w[k] * (bx[k] - p[0]);
            sy += w[k] * (by[k] - p[1]);
            sz += w[k] * (bz[k] - p[2]);
          }
          dX[i][j] = f * sx;
          dY[i][j] = f * sy;
          dZ[i][j] = f * sz;
        }
      }
      for (int i = 0; i < nr; ++i)
        for (int j = 0; j < nc; ++j) {
          X[i][j] += dX[i][j];
          Y[i][j] += dY[i][j];
          Z[i][j] += dZ[i][j];
        }
    }
  }
  return 0;
}

int MaxShrinkFactorlambda(double kPB, double* lambda) {
  if (!lambda) return -2;
  const double k = ClampPassBand(kPB);
  const double den = 2.0 * (2.0 - k);
  if (std::fabs(den) < 1e-6) return -2;
  const double l = (std::sqrt((2.0 - k) * (2.0 - k) + 4.0) - k) / den;
  if (std::fabs(l) < 0.001) return -2;
  *lambda = l;
  return 0;
}

int ComputeLambdaGammaFromPassbandFqncy(double kPB, double lambda, double* mu) {
  if (!mu) return -2;
  *mu = -lambda;
  if (std::fabs(lambda) < 1e-6) return -2;
  const double q = ClampPassBand(kPB) - 1.0 / lambda;
  if (std::fabs(q) < 1e-6) return -2;
  *mu = 1.0 / q;
  return 0;
}

int FindCrvSegmentFreeCntrlPnts(const Bspline* curve, double t0, double t1, int endFixed[2],
                                int* first, int* last) {
  if (!BsplineSound(curve) || curve->kind != 1 || !endFixed || !first || !last) return -2;
  const int p = curve->degreeU;
  const int nCtrl = NumCtrlU(curve);
  const double umin = curve->umin, umax = curve->umax;
  if (t0 < umin) t0 = umin;
  t1 = std::min(std::max(t1, umin), umax);
  for (int k = 0; k < 2; ++k)
    if (endFixed[k] > p - 1) endFixed[k] = p - 1;
  const double tol = (umax - umin) * 1e-6;
  int s0 = p;
  FindLowKnotIndex(curve->knotsU, p, t0, &s0, nCtrl);
  if (std::fabs(t0 - curve->knotsU[s0]) > tol) return -2;
  *first = s0;
  if (std::fabs(t0 - umin) <= tol) *first = endFixed[0] < 0 ? 0 : endFixed[0] + 1;
  int s1 = p;
  FindLowKnotIndex(curve->knotsU, p, t1, &s1, nCtrl);
  *last = s1 - p - 1;
  if (std::fabs(t1 - umax) <= tol) *last = endFixed[1] < 0 ? nCtrl - 1 : nCtrl - 2 - endFixed[1];
  return 0;
}

int CheckCrvSegmentFreeCntrlPnts(const Bspline* curve, double t0, double t1, int endFixed[2],
                                 int* nFree) {
  if (!curve || curve->kind != 1 || !endFixed || !nFree) return -2;
  const int p = curve->degreeU;
  for (int k = 0; k < 2; ++k)
    if (endFixed[k] > p - 1) endFixed[k] = p - 1;
  TrackingScope scope;
  Bspline* copy = CopyCurveBspline(const_cast<Bspline*>(curve));
  if (!copy || KernelFailed()) return -2;
  int inserted = 0;
  int status = -2;
  if (SnapInsertOneKnotToObject(copy, 0, &t0, &inserted) == 0 &&
      SnapInsertOneKnotToObject(copy, 0, &t1, &inserted) == 0) {
    int first = 0, last = -1;
    status = FindCrvSegmentFreeCntrlPnts(copy, t0, t1, endFixed, &first, &last);
    if (status == 0) *nFree = last - first + 1;
  }
  FreeBspline(copy);
  return status;
}

int NonShrinkSmoothCurveSegment(Bspline* curve, double t0, double t1, double lambda, double mu,
                                int iterations) {
  if (!BsplineSound(curve) || curve->kind != 1) return -2;
  if (t0 < curve->umin || t0 > curve->umax || t1 < curve->umin || t1 > curve->umax) return -2;
  if (t1 < t0) std::swap(t0, t1);
  int endFixed[2] = {0, 0};
  int first = 0, last = -1;
  if (FindCrvSegmentFreeCntrlPnts(curve, t0, t1, endFixed, &first, &last) != 0) return -2;
  if (last - first + 1 < 3) return -2;
  const int n = NumCtrlU(curve);
  const bool is3D = curve->dimension == 3;
  TrackingScope scope;
  auto* fixed = MallocArray<int>(n);
  auto* x = MallocArray<double>(n);
  auto* y = MallocArray<double>(n);
  auto* z = MallocArray<double>(n);
  if (KernelFailed() || !fixed || !x || !y || !z) return -2;
  int nFixed = 0;
  for (int i = 0; i < n; ++i)
    if (i < first || i > last || i == 0 || i == n - 1) fixed[nFixed++] = i;
  for (int i = 0; i < n; ++i) {
    x[i] = curve->X[0][i];
    y[i] = curve->Y[0][i];
    z[i] = is3D ? curve->Z[0][i] : 0.0;
  }
  if (FairPolylineLambdaGamma(x, y, z, n, fixed, nFixed, kCurveHalfWindow, kCurveWeightType, lambda,
                              mu, iterations, kCurveSigma) != 0)
    return -2;
  for (int i = 0; i < n; ++i) {
    curve->X[0][i] = x[i];
    curve->Y[0][i] = y[i];
    if (is3D) curve->Z[0][i] = z[i];
  }
  FreeBsplineProperties(curve);
  curve->quadricType = 0;
  return 0;
}

int SimpleSmoothCrvSegment(const Bspline* curve, double t0, double t1, int endFixed[2],
                           int insertKnots, double amount, Bspline** result) {
  if (!result) return -2;
  *result = nullptr;
  if (!curve || curve->kind != 1 || !endFixed) return -2;
  if (std::fabs(t1 - t0) < 1e-6) return -2;
  if (t1 < t0) std::swap(t0, t1);
  // Everything the copy gains (knot vectors, matrices) is allocated here and handed over.
  TrackingScope scope;
  Owned<Bspline, FreeBspline> copy(CopyCurveBspline(const_cast<Bspline*>(curve)));
  if (!copy || KernelFailed()) return -2;
  int nFree = 0;
  CheckCrvSegmentFreeCntrlPnts(copy.get(), t0, t1, endFixed, &nFree);
  if (nFree < 0) nFree = 0;
  if (nFree < 4 && !insertKnots) return -2;
  int inserted = 0;
  if (SnapInsertOneKnotToObject(copy.get(), 0, &t0, &inserted) != 0) return -2;
  if (SnapInsertOneKnotToObject(copy.get(), 0, &t1, &inserted) != 0) return -2;
  if (nFree < 4 && InsertKnotsUniformlyWithinInterval(copy.get(), 0, t0, t1, 4 - nFree) != 0)
    return -2;

  const int total = std::max(static_cast<int>(std::floor(kStagedMaxIter * amount)) + 1, 2);
  const double kPB = (1.0 - amount) * 0.2 + 0.08;
  double lambda = 0.0;
  if (MaxShrinkFactorlambda(kPB, &lambda) != 0) return -2;
  lambda = std::min(lambda, 0.75);
  const int perStage = std::max(total / 5 + 1, 2);
  int fine = std::min(total / 10, 5);
  if (fine < 3) fine = 2;

  int status = 0;
  for (int k = 0; k < 5; ++k) {
    const double lk = kStageFactor[k] * lambda;
    double mk = -lk;
    ComputeLambdaGammaFromPassbandFqncy(kPB, lk, &mk);
    if (std::fabs(mk) > lk) mk = -lk;
    status = NonShrinkSmoothCurveSegment(copy.get(), t0, t1, lk, mk, perStage);
    if (k >= 3) status = NonShrinkSmoothCurveSegment(copy.get(), t0, t1, 0.02, 0.0, fine);
  }
  if (copy->dimension == 3) status = NonShrinkSmoothCurveSegment(copy.get(), t0, t1, 0.02, 0.0, 2);
  if (status != 0) return -2;
  scope.keep();
  *result = copy.release();
  return 0;
}
