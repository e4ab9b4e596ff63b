#include "quadric/cone.h"

#include <algorithm>
#include <cmath>

#include "bspline/sfree.h"
#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/cylinder.h"
#include "quadric/qnlfit.h"
#include "quadric/qnurbs.h"
#include "quadric/quadrics.h"

namespace {

constexpr double kPi = 3.141592653589793;

bool Normalise(double v[3]) {
  const double len = VecSize3(v);
  if (!(len > 0.0)) return false;
  for (int k = 0; k < 3; ++k) v[k] /= len;
  return true;
}

struct ConeFit {
  double apex[3];
  double axis[3];
  double angle;
  double error;
};

// One nappe's half angle: |theta| reduced modulo pi (a single subtraction leaves angles beyond
// 2 pi out of range), then the acute angle of the same line pair.
double FoldedHalfAngle(double theta) {
  const double angle = std::fmod(std::fabs(theta), kPi);
  return angle > kPi / 2 ? kPi - angle : angle;
}

// One refinement from a start; true (with the result in fit) on success.
bool Refine(const float* x, const float* y, const float* z, int n, double tolerance, int maxfev, ConeFit* fit) {
  double maxDeviation;
  return ConeNonllsqrFitMinpack(x, y, z, n, tolerance, maxfev, fit->apex, fit->axis, &fit->angle, &fit->error,
                                &maxDeviation) == 0;
}

// FitCone on points of unit size about the origin: the starts' and solver's thresholds (the
// stop once the error is below 0.001, the slope's points left out near the apex) are for that
// size. The best fit, its half angle not yet folded.
int FitUnitCone(const float* x, const float* y, const float* z, int n, ConeFit* fit) {
  ConeFit best = {{0, 0, 0}, {0, 0, 1}, 0.0, kEmptyBoxBound};
  {
    ConeFit start;
    double slope, e, m;
    if (EstimateCone(x, y, z, n, start.apex, start.axis, &slope, &e, &m) == 0 &&
        ConeSlopeGivenCenterAndAxis(x, y, z, n, start.apex, start.axis, &slope) == 0) {
      start.angle = std::atan(slope);
      if (Refine(x, y, z, n, 1e-6, 20, &start) && start.error < best.error) best = start;
    }
  }
  TrackingScope scope;
  double eigenvalues[3], axes[4][3], centroid[3];
  if (PrincipleComponentAnalysis(x, y, z, n, eigenvalues, axes) != 0) return -2;
  ComputeCenterOfMass(x, y, z, n, centroid);
  int candidates = 3;
  for (int c = 0; c < 3; ++c) Normalise(axes[c]);
  for (int k = 0; k < 3; ++k) axes[3][k] = axes[0][k] + axes[1][k] + axes[2][k];
  if (VecSize3(axes[3]) > 1e-6) Normalise(axes[3]), candidates = 4;
  int successes = 0;
  for (int c = 0; c < candidates; ++c) {
    double guesses[6];
    if (GuessConeCenter(x, y, z, n, axes[c], centroid, 1.5, guesses) != 0) continue;
    for (int g = 0; g < 2; ++g) {
      ConeFit start = {{guesses[3 * g], guesses[3 * g + 1], guesses[3 * g + 2]}, {axes[c][0], axes[c][1], axes[c][2]},
                       0.0, 0.0};
      double slope;
      if (ConeSlopeGivenCenterAndAxis(x, y, z, n, start.apex, start.axis, &slope) != 0) continue;
      start.angle = std::atan(std::fabs(slope));
      if (!Refine(x, y, z, n, 1e-6, 45, &start)) continue;
      ++successes;
      if (start.error < best.error) best = start;
    }
    if (best.error < 0.001) break;
  }
  if (successes == 0) return -2;
  ConeFit polished = best;
  if (Refine(x, y, z, n, 1e-16, 30, &polished) && polished.error < best.error) best = polished;
  // A candidate skipped for want of memory may have been the best: no cone is reported then.
  if (KernelFailed()) return -2;
  // The apex starts' minimum is that of an apex, axis and angle, which a thin cone leaves
  // ill-conditioned (its apex far off); the axial fit, parametrised at the points, reaches the
  // least squares from it and from the points' cylinder (angle 0). The lowest wins.
  ConeFit answer = {{0, 0, 0}, {0, 0, 1}, 0.0, kNoValue};
  const double angle = FoldedHalfAngle(best.angle);
  for (int s = 0; s < 2; ++s) {
    double P[3], A[3], r, theta = 0.0, e, m;
    // A cone through the points to their rounding needs no other start.
    if (s == 1 && answer.error <= kUnitRoundOff * kUnitRoundOff) break;
    if (s == 1) {
      if (FitCylinder(x, y, z, n, P, A, &r, &e) != 0) {
        // No cylinder is no start; a failure of memory is the cone's.
        if (KernelFailed()) return -2;
        continue;
      }
    } else {
      // The apex start seen from the centroid's height, where its radius is.
      for (int k = 0; k < 3; ++k) P[k] = best.apex[k], A[k] = best.axis[k];
      if (!Normalise(A)) continue;
      double t[3];
      for (int k = 0; k < 3; ++k) t[k] = centroid[k] - P[k];
      const double h = VecDotProd3(t, A);
      for (int k = 0; k < 3; ++k) P[k] += h * A[k], A[k] = h < 0.0 ? -A[k] : A[k];
      theta = angle;
      r = std::fabs(h) * std::tan(angle);
    }
    ConeFit candidate;
    if (AxialNonllsqrFitMinpack(x, y, z, n, true, 200, P, A, &r, &theta, &e, &m) == 0) {
      // Open along the axis, apex where the radius vanishes.
      if (theta < 0.0)
        for (int k = 0; k < 3; ++k) A[k] = -A[k];
      theta = std::fabs(theta);
      const double back = r / std::tan(theta);
      if (!std::isfinite(back)) continue;
      candidate = {{P[0] - back * A[0], P[1] - back * A[1], P[2] - back * A[2]}, {A[0], A[1], A[2]}, theta, 0.0};
    } else if (s == 0) {
      // A cone nearly flat (tan theta in the hundreds) can leave the axial fit short of its
      // orthogonality check; the apex start is then a minimum of the same deviations itself
      // and stays in the running, opening toward the points (A already does), rather than
      // leaving only the cylinder start, a plane-like fit many times worse.
      candidate = {{best.apex[0], best.apex[1], best.apex[2]}, {A[0], A[1], A[2]}, angle, 0.0};
    } else {
      continue;
    }
    if (ConeFitError(x, y, z, n, candidate.apex, candidate.axis, std::tan(candidate.angle), &candidate.error, &m) != 0)
      continue;
    if (candidate.error < answer.error) answer = candidate;
  }
  if (KernelFailed() || !(answer.error < kNoValue)) return -2;
  *fit = answer;
  return 0;
}


}  // namespace

int ConeSlopeGivenCenterAndAxis(const float* x, const float* y, const float* z, int n, const double apex[3],
                                const double axis[3], double* slope) {
  if (!x || !y || !z || n < 1) return -2;
  // Points this near the apex's height (a thousandth of the points' size, the longest side of
  // their box) give no angle worth averaging.
  const double nearApex = 1e-3 * UnitFrameOfPointsF(x, y, z, n, false).size;
  float sum = 0.0f;
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const double d[3] = {x[i] - apex[0], y[i] - apex[1], z[i] - apex[2]};
    const double h = d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2];
    if (std::fabs(h) < nearApex) continue;
    const double angle = std::atan(std::sqrt(std::fabs(d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - h * h) / (h * h)));
    sum += static_cast<float>(angle * angle);
    ++count;
  }
  if (count == 0) return -2;
  *slope = std::fabs(std::tan(std::sqrt(static_cast<double>(sum) / count)));
  return 0;
}

int GuessConeCenter(const float* x, const float* y, const float* z, int n, const double axis[3],
                    const double point[3], double factor, double guesses[6]) {
  double a[3] = {axis[0], axis[1], axis[2]};
  if (!x || !y || !z || !guesses || n < 3 || VecSize3(a) < 1e-6) return -2;
  Normalise(a);
  double lo = 0.0, hi = 0.0;
  for (int i = 0; i < n; ++i) {
    const double h = (x[i] - point[0]) * a[0] + (y[i] - point[1]) * a[1] + (z[i] - point[2]) * a[2];
    lo = std::min(lo, h);
    hi = std::max(hi, h);
  }
  for (int k = 0; k < 3; ++k) {
    guesses[k] = point[k] + factor * lo * a[k];
    guesses[3 + k] = point[k] + factor * hi * a[k];
  }
  return 0;
}

void FindConeSize(const float* x, const float* y, const float* z, int n, QuadricInfo* info) {
  double* v = info->v;
  Normalise(v + 3);
  double lo = kEmptyBoxBound, hi = -kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    const double h = (x[i] - v[0]) * v[3] + (y[i] - v[1]) * v[4] + (z[i] - v[2]) * v[5];
    lo = std::min(lo, h);
    hi = std::max(hi, h);
  }
  v[7] = lo;
  v[8] = hi;
}

int ConeParamsFromQuadrics(const double coef[10], double** orientation, double axis[3], double apex[3]) {
  double diag[10], world[3], local[3], canon[10];
  QuadricsOrientation(coef, orientation, diag);
  if (QuadricsGeneralCenter(coef, world) != 0) return -2;
  QuadricsCenter(diag, local, canon);
  // The principal frame's centre turned back: the rows are the frame's axes.
  for (int k = 0; k < 3; ++k)
    apex[k] = local[0] * orientation[0][k] + local[1] * orientation[1][k] + local[2] * orientation[2][k];
  int index;
  return QuadricsPrincAxis(diag, orientation, axis, &index);
}

int EstimateCone(const float* x, const float* y, const float* z, int n, double apex[3], double axis[3],
                 double* slope, double* error, double* maxDeviation) {
  TrackingScope scope;
  double** rot = allocate_matrix_ff(3, 3);
  if (!rot || KernelFailed()) return -2;
  double coef[10], lambda, ms, mx, a[3];
  if (QuadricsFit(x, y, z, n, coef, &lambda) != 1) return -2;
  QuadricsFitError(coef, x, y, z, n, &ms, &mx);
  if (ConeParamsFromQuadrics(coef, rot, a, apex) != 0) return -2;
  int bestRow = -1;
  double best = kEmptyBoxBound;
  for (int i = 0; i < 3; ++i) {
    double row[3] = {rot[i][0], rot[i][1], rot[i][2]}, s, e, m;
    if (!Normalise(row) || ConeSlopeGivenCenterAndAxis(x, y, z, n, apex, row, &s) != 0) continue;
    if (ConeFitError(x, y, z, n, apex, row, s, &e, &m) != 0) continue;
    if (e <= best) best = e, bestRow = i;
  }
  // No direction with a finite error names no axis.
  if (bestRow < 0) return -2;
  for (int k = 0; k < 3; ++k) axis[k] = rot[bestRow][k];
  Normalise(axis);
  if (ConeSlopeGivenCenterAndAxis(x, y, z, n, apex, axis, slope) != 0) return -2;
  ConeFitError(x, y, z, n, apex, axis, *slope, error, maxDeviation);
  return 0;
}

int FitCone(const float* x, const float* y, const float* z, int n, QuadricInfo* info, double* error) {
  if (!x || !y || !z || !info || !error || n < 10) return -2;
  if (!PointsSpread(x, y, z, n)) return -2;
  const UnitFrame frame = UnitFrameOfPointsF(x, y, z, n, false);
  TrackingScope scope;
  float *ux, *uy, *uz;
  if (!PointsInUnitFrame(x, y, z, n, frame, &ux, &uy, &uz)) return -2;
  ConeFit best;
  if (FitUnitCone(ux, uy, uz, n, &best) != 0) return -2;
  const double angle = FoldedHalfAngle(best.angle);
  double e;
  AxisToModelFrame(frame, ux, uy, uz, n, true, std::tan(angle), false, best.apex, best.axis, info->v, info->v + 3, &e);
  info->v[6] = angle;
  FindConeSize(x, y, z, n, info);
  *error = e * frame.size * frame.size;
  return 0;
}

Bspline* FitConeBspline(const float* x, const float* y, const float* z, int n, double* error) {
  if (!x || !y || !z || n < 4) return MadeOrFailed<Bspline>(nullptr);
  QuadricInfo info;
  double e;
  if (FitCone(x, y, z, n, &info, &e) != 0) return MadeOrFailed<Bspline>(nullptr);
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed() || ConeNurbs(&info, s.get()) != 0 || KernelFailed()) return MadeOrFailed<Bspline>(nullptr);
  scope.keep();
  if (error) *error = e;
  return s.release();
}
