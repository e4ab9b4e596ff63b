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

int FitSphere(const float* x, const float* y, const float* z, int n, double centre[3], double* radius,
              double* error) {
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
    // A failed refinement leaves the algebraic sphere; its error is then the one reported.
    if (SphereNonllsqrFitMinpack(cx, cy, cz, n, c, &r, 1e-15, 50, &err, &maxDev) != 0)
      SphereFitError(cx, cy, cz, n, c, r, &err, &maxDev);
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
