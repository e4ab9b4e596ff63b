#include "splinefit/acyleng.h"

#include <climits>
#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "bspline/smake.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "splinefit/acareng.h"

int WRAP_SPAN = 0;

namespace {

constexpr double kTwoPi = 2.0 * M_PI;

// The surface's knot vectors and matrices released after a failed wrapped fit.
void ReleaseSurfaceArrays(Bspline* srf) { InstallBsplineArrays(srf, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }

}  // namespace

void acyl_spline_fit(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma) {
  if (!srf) {
    SetKernelError(-2);
    return;
  }
  WRAP_SPAN = 2 * srf->degreeU + 1;
  if (std::fabs(srf->umin - srf->umax + kTwoPi) >= 0.01) {
    acar_spline_fit(srf, nullptr, nullptr, 0, canon, tension, roughness, sigma);
    return;
  }
  srf->closedU = 1;
  srf->fitProps.flag = 1;
  wrap_in_theta_sparse(srf, canon, tension, roughness, sigma);
}

void make_arrays_acyl(float* x3, float* y3, float* z3, int* count, Bspline*, Cloud* canon, const double* hu) {
  const double tmin = canon->grid.colOrigin, tmax = canon->grid.colOrigin + canon->grid.colStep;
  const double period = tmax - tmin, reach = WRAP_SPAN * hu[0];
  int k = 0;
  auto put = [&](double t, int i) {
    x3[k] = static_cast<float>(t);
    y3[k] = canon->y[i];
    z3[k] = canon->z[i];
    ++k;
  };
  for (int i = 0; i < canon->npts; ++i) {
    const double t = canon->x[i];
    if (t < tmin + reach && std::fabs(t - tmin) > 1e-5) put(t + period, i);
    if (t > tmax - reach && std::fabs(t - tmax) > 1e-5) put(t - period, i);
    put(t, i);
  }
  *count = k;
}

void assign_acyl_knots(Bspline* srf, double umin, double vmin, double, double vmax, const double h[2]) {
  // The widened u knot vector holds 2 WRAP_SPAN more knots than the record's count promises.
  if (!BsplineCountsSound(srf) || srf->kind != 2 ||
      NumKnotsU(srf) > INT_MAX - 2 * WRAP_SPAN) {
    SetKernelError(-2);
    return;
  }
  const int p = srf->degreeU, q = srf->degreeV, W = WRAP_SPAN;
  const int mU = srf->interiorU, mV = srf->interiorV;
  const int nU = p + mU + 1, nV = q + mV + 1, wide = p + 1 + 2 * W + mU;
  TrackingScope scope;
  double* ku = MallocArray<double>(wide + p + 1);
  double* kv = MallocArray<double>(mV + 2 * (q + 1));
  double** Z = allocate_matrix_fh(nV, wide);
  double** X = allocate_matrix_fh(nV, nU);
  double** Y = allocate_matrix_fh(nV, nU);
  if (KernelFailed() || !ku || !kv || !Z || !X || !Y) return;
  scope.keep();
  // Uniform and unclamped across the seam: the replicated data continue the period.
  for (int j = 0; j < wide + p + 1; ++j) ku[j] = umin - W * h[0] + (j - p) * h[0];
  for (int k = 0; k <= q; ++k) {
    kv[k] = vmin;
    kv[mV + 2 * q + 1 - k] = vmax;
  }
  for (int k = 1; k <= mV; ++k) kv[q + k] = vmin + k * h[1];
  InstallBsplineArrays(srf, ku, kv, X, Y, Z, nullptr);
}

void copy_back_coefi_acyl(double** dst, double** src, int mU, int mV, int p1, int q1) {
  for (int j = 0; j < mV + q1; ++j)
    for (int i = 0; i < mU + p1; ++i) dst[j][i] = src[j][i + WRAP_SPAN];
}

void equalize_coeficents_cyl(double** Z, int mU, int mV, int p1, int q1) {
  for (int j = 0; j < mV + q1; ++j) {
    for (int k = 1; k < p1; ++k) {
      const double mean = 0.5 * (Z[j][k - 1] + Z[j][mU + k]);
      Z[j][k - 1] = mean;
      Z[j][mU + k] = mean;
    }
  }
}

// Method: replicate the data within WRAP_SPAN spans of either end one period across, fit the
// widened surface (WRAP_SPAN extra spans on each side) as a plain height field, keep its middle
// nU columns with the matching stretch of its uniform knots, and make the first p columns equal
// to the last p so the surface closes with full continuity.
void wrap_in_theta_sparse(Bspline* srf, Cloud* canon, double tension, double roughness, double sigma) {
  if (!srf || !canon || canon->npts < 1 || !canon->x || !canon->y || !canon->z || srf->degreeU < 1 ||
      srf->degreeV < 1 || srf->interiorU < 0 || srf->interiorV < 0) {
    SetKernelError(-2);
    return;
  }
  const int p = srf->degreeU, q = srf->degreeV, W = WRAP_SPAN;
  const int mU = srf->interiorU, mV = srf->interiorV;
  const int nU = p + mU + 1, nV = q + mV + 1;
  const double umin = srf->umin, umax = srf->umax;
  const double h[2] = {(umax - umin) / (mU + 1), (srf->vmax - srf->vmin) / (mV + 1)};
  TrackingScope scope;
  const int n = canon->npts;
  float* x3 = MallocArray<float>(3, n);
  float* y3 = MallocArray<float>(3, n);
  float* z3 = MallocArray<float>(3, n);
  if (KernelFailed() || !x3 || !y3 || !z3) return;
  int count = 0;
  make_arrays_acyl(x3, y3, z3, &count, srf, canon, h);
  assign_acyl_knots(srf, umin, srf->vmin, umax, srf->vmax, h);
  if (KernelFailed()) return;
  {
    // The widened fit borrows the record and the cloud; both are given back whatever happens.
    float* cx = canon->x;
    float* cy = canon->y;
    float* cz = canon->z;
    canon->x = x3, canon->y = y3, canon->z = z3, canon->npts = count;
    srf->umin = umin - W * h[0], srf->umax = umax + W * h[0], srf->interiorU = mU + 2 * W;
    acar_spline_fit(srf, nullptr, nullptr, 0, canon, tension, roughness, sigma);
    canon->x = cx, canon->y = cy, canon->z = cz, canon->npts = n;
    srf->umin = umin, srf->umax = umax, srf->interiorU = mU;
  }
  if (KernelFailed()) {
    ReleaseSurfaceArrays(srf);
    return;
  }
  double* ku = nullptr;
  double** Z = nullptr;
  {
    TrackingScope own;  // the narrow knots and Z become the record's
    ku = MallocArray<double>(mU + 2 * (p + 1));
    Z = allocate_matrix_fh(nV, nU);
    if (KernelFailed() || !ku || !Z) {
      own.release();
      ReleaseSurfaceArrays(srf);
      return;
    }
    own.keep();
  }
  copy_back_coefi_acyl(Z, srf->Z, mU, mV, p + 1, q + 1);
  for (int j = 0; j < mU + 2 * (p + 1); ++j) ku[j] = srf->knotsU[W + j];
  Free(srf->knotsU);
  matrix_free_fh(srf->Z);
  srf->knotsU = ku;
  srf->Z = Z;
  equalize_coeficents_cyl(srf->Z, mU, mV, p + 1, q + 1);
}
