#include "quadric/sphere.h"

#include <cmath>

#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/makemat.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/cpoint.h"
#include "quadric/mrqmin.h"
#include "quadric/qnlfit.h"

namespace {

// Copies of the points less their centre, over size, in the caller's scope.
bool CentredCopies(const float* x, const float* y, const float* z, int n, const double c[3], float** cx,
                   float** cy, float** cz, double size = 1.0) {
  *cx = MallocArray<float>(n);
  *cy = MallocArray<float>(n);
  *cz = MallocArray<float>(n);
  if (!*cx || !*cy || !*cz || KernelFailed()) return false;
  for (int i = 0; i < n; ++i) {
    (*cx)[i] = static_cast<float>((x[i] - c[0]) / size);
    (*cy)[i] = static_cast<float>((y[i] - c[1]) / size);
    (*cz)[i] = static_cast<float>((z[i] - c[2]) / size);
  }
  return true;
}

// The algebraic sphere: the points centred once more on their centroid and rounded to single
// precision (as the refinement's copies are), rows (1, x, y, z) against -(x^2 + y^2 + z^2) in
// the 4 x 4 normal equations, coefficients c0..c3, centre (-c1, -c2, -c3) / 2 + centroid,
// r^2 = |centre - centroid|^2 - c0. False for a singular system.
bool AlgebraicSphere(const float* x, const float* y, const float* z, int n, double c[4], double centre[3],
                     double* r2) {
  double g[3];
  ComputeCenterOfMass(x, y, z, n, g);
  double rows[4][4] = {}, rhs[4] = {};
  for (int i = 0; i < n; ++i) {
    const double col[4] = {1.0, static_cast<float>(x[i] - g[0]), static_cast<float>(y[i] - g[1]),
                           static_cast<float>(z[i] - g[2])};
    const double b = -(col[1] * col[1] + col[2] * col[2] + col[3] * col[3]);
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) rows[j][k] += col[j] * col[k];
      rhs[j] += col[j] * b;
    }
  }
  double* N[4] = {rows[0], rows[1], rows[2], rows[3]};
  if (SolveLinearSystem_ff(N, 4, rhs, c) != 0 || KernelFailed()) return false;
  for (int k = 0; k < 3; ++k) centre[k] = -c[1 + k] / 2.0;
  *r2 = VecDotProd3(centre, centre) - c[0];
  for (int k = 0; k < 3; ++k) centre[k] += g[k];
  return true;
}

// Points whose RMS distance from their best plane is below this fraction of their RMS distance
// from their centroid give no sphere: a cap flatter than that is a plane to single precision.
// At radius 1 this is the absolute 0.001 of IsPointsCoplanar_f.
constexpr double kFlat = 1e-3;
// Centre components below this fraction of the radius come out as 0.
constexpr double kZeroCentre = 1e-6;

bool Flat(const float* x, const float* y, const float* z, int n) {
  double eigenvalues[3], axes[3][3];
  if (PrincipleComponentAnalysis(x, y, z, n, eigenvalues, axes) != 0) return false;
  const double spread = std::fabs(eigenvalues[0]) + std::fabs(eigenvalues[1]) + std::fabs(eigenvalues[2]);
  return std::sqrt(std::fabs(eigenvalues[2])) < kFlat * std::sqrt(spread);
}

}  // namespace

int FitSphereImplicit(const float* x, const float* y, const float* z, int n, double coefficients[5],
                      double centre[3], double* radius, double* error) {
  if (!x || !y || !z || n < 1) return -2;
  double c[4], r2;
  if (!AlgebraicSphere(x, y, z, n, c, centre, &r2)) return -2;
  for (int k = 0; k < 4; ++k) coefficients[k] = c[k];
  coefficients[4] = 1.0;
  if (r2 < 0.0) {
    *radius = 0.0;
    return -2;
  }
  *radius = std::sqrt(r2);
  double maxDev;
  SphereFitError(x, y, z, n, centre, *radius, error, &maxDev);
  return 0;
}

namespace {

// A sphere as the Gauss-Newton refinement holds it: through the foot h n, where its unit normal
// is n, with signed curvature k (centre h n + n / k, radius 1 / |k|). The deviation of q, with
// w = q - h n, is |q - c| - r = (k |w|^2 - 2 w.n) / (1 + |k w - n|) (for k > 0; its negative for
// k < 0): free of the cancellation of |q - c| - r for a flat cap, where it tends to the distance
// from the tangent plane, so that the least squares stay well posed however large the sphere
// (in centre and radius they become a long, narrow valley that steps creep along).
struct FootSphere {
  double h, n[3], k;
};

// The normal equations of the deviations at s: J^T J (row-major, both halves), J^T f, the sum
// of squares f^T f, and the tangents t1, t2 along which the rows' tilt columns run.
struct FootNormalEquations {
  double A[16], g[4], sum, t1[3], t2[3];
};

// With w = q - h n, the deviation (k |w|^2 - 2 w.n) / (1 + |k w - n|) and its gradient along h,
// the tilts of n towards t1 and t2 and k, at zero tilt, from those of its numerator and of
// |k w - n| (floored at 1e-10 as a divisor, for a point at the centre); kh = 1 + k h.
void FootEquations(const float* x, const float* y, const float* z, int n, const FootSphere& s,
                   FootNormalEquations* e) {
  const int least = std::fabs(s.n[0]) <= std::fabs(s.n[1]) && std::fabs(s.n[0]) <= std::fabs(s.n[2]) ? 0
                    : std::fabs(s.n[1]) <= std::fabs(s.n[2])                                         ? 1
                                                                                                      : 2;
  double axis[3] = {0, 0, 0};
  axis[least] = 1.0;
  VecNormalize3(VecCrossProd3(s.n, axis, e->t1), e->t1);
  VecCrossProd3(s.n, e->t1, e->t2);
  double A[16] = {}, g[4] = {}, sum = 0.0;
  const double kh = 1.0 + s.k * s.h;
  for (int i = 0; i < n; ++i) {
    const double q[3] = {x[i], y[i], z[i]};
    double w[3], v[3];
    for (int a = 0; a < 3; ++a) w[a] = q[a] - s.h * s.n[a], v[a] = s.k * w[a] - s.n[a];
    const double vlen = std::sqrt(VecDotProd3(v, v));
    const double wn = VecDotProd3(w, s.n), w1 = VecDotProd3(w, e->t1), w2 = VecDotProd3(w, e->t2);
    const double ww = VecDotProd3(w, w);
    const double invD = 1.0 / (1.0 + vlen), invS = 1.0 / (vlen < 1e-10 ? 1e-10 : vlen);
    const double f = (s.k * ww - 2.0 * wn) * invD, fs = f * invS;
    // (d numerator - f d|k w - n|) / (1 + |k w - n|), the numerator's and |k w - n|'s gradients
    // being (2 - 2 k w.n, -2 kh w.t1, -2 kh w.t2, |w|^2) and
    // (k (1 - k w.n), -kh k w.t1, -kh k w.t2, k |w|^2 - w.n) / |k w - n|.
    const double row[4] = {(2.0 - 2.0 * s.k * wn + fs * s.k * (s.k * wn - 1.0)) * invD,
                           kh * w1 * (fs * s.k - 2.0) * invD, kh * w2 * (fs * s.k - 2.0) * invD,
                           (ww - fs * (s.k * ww - wn)) * invD};
    sum += f * f;
    for (int j = 0; j < 4; ++j) {
      g[j] += row[j] * f;
      for (int m = j; m < 4; ++m) A[4 * j + m] += row[j] * row[m];
    }
  }
  for (int j = 0; j < 4; ++j) {
    e->g[j] = g[j];
    for (int m = 0; m < 4; ++m) e->A[4 * j + m] = m >= j ? A[4 * j + m] : A[4 * m + j];
  }
  e->sum = sum;
}

// The refinement has settled once the linear model promises to lower the sum of squares by no
// more than this fraction of it (its round-off over some thirty terms is about 1e-14)...
constexpr double kNewtonSumSettled = 1e-12;
// ...or once an undamped step is below this fraction of the sphere's terms (1 + |h| + |k| in
// the unit frame): far below the single-precision round-off of the points (kUnitRoundOff).
constexpr double kNewtonSettled = 1e-10;
// Steps tried, taken or not, before the refinement gives up and MINPACK answers: a fit settles
// in a few, as the deviations are nearly linear in the parameters near a cap.
constexpr int kNewtonSteps = 30;
// The damping that first follows a step which did not lower the sum of squares, and the most it
// may grow to before the sphere counts as settled (no step along the gradient helps).
constexpr double kFirstDamping = 1e-4;
constexpr double kMostDamping = 1e12;

// Geometric least squares of the sphere over unit-frame points about their centroid (the
// origin), from the start (centre, radius) in p, by damped Gauss-Newton steps in (h, tilt of n
// along two tangents t1 and t2, k): with the deviations f_i and their analytic gradients J_i,
// solve (J^T J + lambda diag(J^T J)) d = -J^T f (4 x 4, no allocation), take the step when it
// lowers the sum of squares (the tilt then becomes part of n), else raise lambda. True once
// settled, p then the sphere and *sum its sum of squares; false when it does not settle in
// kNewtonSteps or leaves a plane (k = 0), p then untouched.
bool SphereGaussNewton(const float* x, const float* y, const float* z, int n, double p[4], double* sum) {
  FootSphere s;
  const double c0 = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  if (!(p[3] > 0.0)) return false;
  for (int a = 0; a < 3; ++a) s.n[a] = c0 > 0.0 ? p[a] / c0 : a == 2;
  s.h = c0 - p[3], s.k = 1.0 / p[3];
  // Each step is measured by the normal equations at its end, which serve the next step when
  // it is taken: one pass over the points per step.
  FootNormalEquations at, trialAt;
  FootEquations(x, y, z, n, s, &at);
  double lambda = 0.0;
  bool settled = false;
  for (int step = 0; step < kNewtonSteps && !settled; ++step) {
    double A[16];
    for (int j = 0; j < 16; ++j) A[j] = at.A[j];
    for (int j = 0; j < 4; ++j) A[5 * j] *= 1.0 + lambda;
    int indx[4];
    double parity, delta[4] = {-at.g[0], -at.g[1], -at.g[2], -at.g[3]};
    const bool solved = ludcmp4(A, 4, indx, &parity) == 0;
    if (solved) lubksb4(A, 4, indx, delta);
    // Settled when the model promises no reduction beyond round-off (damping only shortens a
    // step where the model misleads), when the points lie on the sphere to their own round-off,
    // or when an undamped step is short (damping shortens any): the step is then not taken.
    const double promised = -(at.g[0] * delta[0] + at.g[1] * delta[1] + at.g[2] * delta[2] + at.g[3] * delta[3]);
    const double stepLen =
        std::sqrt(delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2] + delta[3] * delta[3]);
    settled = solved && (promised <= kNewtonSumSettled * at.sum || at.sum <= n * kUnitRoundOff * kUnitRoundOff ||
                         (lambda == 0.0 && stepLen <= kNewtonSettled * (1.0 + std::fabs(s.h) + std::fabs(s.k))));
    if (settled) break;
    FootSphere trial = s;
    trial.h += delta[0], trial.k += delta[3];
    for (int a = 0; a < 3; ++a) trial.n[a] += delta[1] * at.t1[a] + delta[2] * at.t2[a];
    VecNormalize3(trial.n, trial.n);
    if (solved) FootEquations(x, y, z, n, trial, &trialAt);
    if (solved && trialAt.sum <= at.sum) {
      s = trial, at = trialAt;
      lambda = lambda > kFirstDamping ? lambda / 10.0 : 0.0;
    } else {
      lambda = lambda == 0.0 ? kFirstDamping : lambda * 10.0;
      // Refused with the most damping, a step along the gradient helps no more: round-off.
      settled = lambda > kMostDamping;
    }
  }
  if (!settled || s.k == 0.0 || !std::isfinite(s.h + s.k)) return false;
  for (int a = 0; a < 3; ++a) p[a] = s.h * s.n[a] + s.n[a] / s.k;
  p[3] = 1.0 / std::fabs(s.k);
  *sum = at.sum;
  return true;
}

// FitSphere's method with the refinement chosen: MINPACK, or Gauss-Newton (MINPACK then only
// where that does not settle).
int FitSphereRefined(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                     double* error, bool newton) {
  if (!x || !y || !z || n < 4) return -2;
  // The fit runs in the unit frame of the points (their centroid, the longest side of their box),
  // so that a sphere far from the origin keeps its digits in single precision and the algebraic
  // start's normal equations are as well scaled for a part of 1e-6 as for one of 1e6.
  const UnitFrame frame = UnitFrameOfPointsF(x, y, z, n, false);
  TrackingScope scope;
  float *cx, *cy, *cz;
  if (!CentredCopies(x, y, z, n, frame.centre, &cx, &cy, &cz, frame.size)) return -2;
  if (Flat(cx, cy, cz, n)) return -2;
  double c[3], r, err, maxDev;
  if (n == 4) {
    double p[4][3];
    for (int i = 0; i < 4; ++i) {
      const double q[3] = {x[i], y[i], z[i]};
      PointToUnitFrame(frame, q, p[i]);
    }
    if (!FitSphereFourPts(p[0], p[1], p[2], p[3], c, &r)) return -2;
    SphereFitError(cx, cy, cz, n, c, r, &err, &maxDev);
  } else {
    // The algebraic start, without its error: the refinement measures its own.
    double coef[4], r2;
    if (!AlgebraicSphere(cx, cy, cz, n, coef, c, &r2) || r2 < 0.0) return -2;
    r = std::sqrt(r2);
    double p[4] = {c[0], c[1], c[2], r};
    double sum;
    if (newton && SphereGaussNewton(cx, cy, cz, n, p, &sum)) {
      for (int k = 0; k < 3; ++k) c[k] = p[k];
      r = p[3];
      err = sum / n;  // the mean squared deviation, as SphereFitError gives it
    } else if (SphereNonllsqrFitMinpack(cx, cy, cz, n, c, &r, 1e-15, 50, &err, &maxDev) != 0) {
      // A failed refinement leaves the algebraic sphere; its error is then the one reported.
      SphereFitError(cx, cy, cz, n, c, r, &err, &maxDev);
    }
  }
  PointFromUnitFrame(frame, c, centre);
  *radius = r * frame.size;
  *error = err * frame.size * frame.size;
  // Components at round-off of the radius are taken as exact zeros (a sphere about a coordinate
  // plane stays on it); relative to the radius, so that a small sphere keeps its centre.
  for (int k = 0; k < 3; ++k)
    if (std::fabs(centre[k]) < kZeroCentre * *radius) centre[k] = 0.0;
  return 0;
}

}  // namespace

int FitSphere(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
              double* error) {
  return FitSphereRefined(x, y, z, n, centre, radius, error, false);
}

int FitSphereNewton(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                    double* error) {
  return FitSphereRefined(x, y, z, n, centre, radius, error, true);
}

int FitSphereWithGivenRadius(const float* x, const float* y, const float* z, int n, double radius,
                             double centre[3], double* error) {
  if (!x || !y || !z || n < 3 || radius < 0.0) return -2;
  TrackingScope scope;
  double g[3];
  ComputeCenterOfMass(x, y, z, n, g);
  float *cx, *cy, *cz;
  if (!CentredCopies(x, y, z, n, g, &cx, &cy, &cz)) return -2;
  double c[3] = {0, 0, 0}, err, maxDev;
  SphereFitError(cx, cy, cz, n, c, radius, &err, &maxDev);
  // A start already close to the sphere needs fewer evaluations.
  const int maxfev = err <= radius * radius * 0.0001 ? 40 : 70;
  if (SphereNonllsqrFitWradiusMinpack(cx, cy, cz, n, c, radius, 1e-16, maxfev, &err, &maxDev) != 0) return -2;
  for (int k = 0; k < 3; ++k) centre[k] = c[k] + g[k];
  *error = err;
  return 0;
}

void SphereChiSqr(float x, float y, float z, const double* a, double* residual, double* dyda, int) {
  if (!a || !residual || !dyda) return;
  const double d[3] = {x - a[0], y - a[1], z - a[2]};
  const double dist = std::sqrt(VecDotProd3(d, d));
  const double D = dist < 1e-10 ? 1e-10 : dist;
  *residual = dist - a[3];
  for (int k = 0; k < 3; ++k) dyda[k] = -d[k] / D;
  dyda[3] = -1.0;
}

namespace {

int SphereEngineFit(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                    int mfit, double tolerance, int maxIterations, double* error, double* maxDeviation) {
  if (!x || !y || !z) return -2;
  TrackingScope scope;
  double* sig = MallocArray<double>(n);
  double** covar = allocate_matrix_ff(4, 4);
  double** alpha = allocate_matrix_ff(4, 4);
  if (!sig || !covar || !alpha || KernelFailed()) return -2;
  for (int i = 0; i < n; ++i) sig[i] = 1.0;
  double a[4] = {centre[0], centre[1], centre[2], *radius}, chisq = 0.0;
  int lista[4] = {0, 1, 2, 3};
  const int r = DriveMrqmin(
      [&](double* alamda) {
        return mrqmin3D(x, y, z, sig, n, a, 4, lista, mfit, covar, alpha, &chisq, SphereChiSqr, alamda);
      },
      n, tolerance, maxIterations, &chisq);
  if (r < 0) return -2;
  for (int k = 0; k < 3; ++k) centre[k] = a[k];
  if (mfit == 4) *radius = std::fabs(a[3]);
  SphereFitError(x, y, z, n, centre, *radius, error, maxDeviation);
  return 0;
}

}  // namespace

int SphereNonlinearFit(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
                       double tolerance, int maxIterations, double* error, double* maxDeviation) {
  return SphereEngineFit(x, y, z, n, centre, radius, 4, tolerance, maxIterations, error, maxDeviation);
}

int SphereNonlinearFitWithKnownRadius(const float* x, const float* y, const float* z, int n, double centre[3],
                                      double radius, double tolerance, int maxIterations, double* error,
                                      double* maxDeviation) {
  return SphereEngineFit(x, y, z, n, centre, &radius, 3, tolerance, maxIterations, error, maxDeviation);
}
