#include "quadric/qnlfit.h"

#include <minpack.h>

#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/qcircle.h"

const float* lmXarray = nullptr;
const float* lmYarray = nullptr;
const float* lmZarray = nullptr;
double lmRadius = 0.0;
int lmNdataPnts = 0;

namespace {

// Divisors below this are raised to it: a point on a centre or an axis then gives a finite row.
constexpr double kFloor = 1e-10;

double Floored(double v) { return v < kFloor ? kFloor : v; }

// Point i minus the origin o.
void PointOffset(int i, const double* o, double d[3]) {
  d[0] = static_cast<double>(lmXarray[i]) - o[0];
  d[1] = static_cast<double>(lmYarray[i]) - o[1];
  d[2] = static_cast<double>(lmZarray[i]) - o[2];
}

// Circle and sphere, free radius (radius parameter at index Dims) or lmRadius: residual
// dist - r; Jacobian -d_k/dist per centre coordinate and -1 for the radius. The fits run over
// every point several times, so the loops are kept free of per-point branches.
template <int Dims>
int RoundChiSq(bool freeRadius, int* m, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1 || (*iflag != 1 && *iflag != 2)) return 0;
  const int count = *m;
  const float* px = lmXarray;
  const float* py = lmYarray;
  const float* pz = lmZarray;
  const double cx = x[0], cy = x[1], cz = Dims == 3 ? x[2] : 0.0;
  if (*iflag == 1) {
    const double r = freeRadius ? x[Dims] : lmRadius;
    for (int i = 0; i < count; ++i) {
      const double dx = px[i] - cx, dy = py[i] - cy, dz = Dims == 3 ? pz[i] - cz : 0.0;
      fvec[i] = std::sqrt(dx * dx + dy * dy + dz * dz) - r;
    }
    return 0;
  }
  const int ld = *ldfjac;
  double* jx = fjac;
  double* jy = fjac + ld;
  double* jz = fjac + 2 * ld;
  for (int i = 0; i < count; ++i) {
    const double dx = px[i] - cx, dy = py[i] - cy, dz = Dims == 3 ? pz[i] - cz : 0.0;
    const double D = Floored(std::sqrt(dx * dx + dy * dy + dz * dz));
    jx[i] = -dx / D;
    jy[i] = -dy / D;
    if (Dims == 3) jz[i] = -dz / D;
  }
  if (freeRadius)
    for (int i = 0; i < count; ++i) fjac[i + Dims * ld] = -1.0;
  return 0;
}

// Cylinder, squared distance from the axis against r^2 (x = axis point, axis, radius).
int CylinderSquared(bool freeRadius, int* m, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1) return 0;
  if (*iflag != 1 && *iflag != 2) return 0;
  const double* a = x + 3;
  const double a2 = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
  if (a2 * a2 < kFloor) {
    // The axis has collapsed: no residual is defined, so stop the solver.
    *iflag = -1;
    return -2;
  }
  const double a4 = a2 * a2;
  const double r = freeRadius ? x[6] : lmRadius;
  for (int i = 0; i < *m; ++i) {
    double d[3];
    PointOffset(i, x, d);
    const double da = VecDotProd3(d, a);
    if (*iflag == 1) {
      fvec[i] = VecDotProd3(d, d) - da * da / a2 - r * r;
    } else {
      const double t = da / a2;
      for (int k = 0; k < 3; ++k) {
        fjac[i + k * *ldfjac] = 2.0 * (a[k] * t - d[k]);
        fjac[i + (3 + k) * *ldfjac] = 2.0 * da * (a[k] * da / a4 - d[k] / a2);
      }
      if (freeRadius) fjac[i + 6 * *ldfjac] = -2.0 * r;
    }
  }
  return 0;
}

// The axial fit's reference: the axis is a0 + s e1 + t e2 normalised and passes through
// p0 + u e1 + v e2, so the parameters (u, v, s, t, r0, theta) are free of the line's gauge (its
// point along it and its length) and stay well scaled however thin a cone is: r0 is the radius
// at the foot of p0, theta the half angle (0 for a cylinder, whose fit has five parameters).
struct AxialReference {
  double p0[3], a0[3], e1[3], e2[3];
};
AxialReference axialReference;

}  // namespace

// The radial residual rho - |r0 + h tan theta| of the axial fit with its Jacobian: with w the
// point's offset from the axis (rho = |w|), h its height from the axis point, b the unnormalised
// axis of length L and T = tan theta, sigma the sign of the predicted radius,
//   df/du = -(w.e1) / rho + sigma T (a.e1),      df/ds = -(w.e1) (h / rho + sigma T) / L,
//   df/dr0 = -sigma,                               df/dtheta = -sigma h (1 + T^2),
// and the same with e2 for v and t. rho is floored as a divisor for a point on the axis.
int AxialChiSqMinpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1 || (*iflag != 1 && *iflag != 2)) return 0;
  const AxialReference& ref = axialReference;
  double b[3], P[3];
  for (int k = 0; k < 3; ++k) {
    b[k] = ref.a0[k] + x[2] * ref.e1[k] + x[3] * ref.e2[k];
    P[k] = ref.p0[k] + x[0] * ref.e1[k] + x[1] * ref.e2[k];
  }
  const double L = std::sqrt(VecDotProd3(b, b));
  const double a[3] = {b[0] / L, b[1] / L, b[2] / L};
  const double T = *n > 5 ? std::tan(x[5]) : 0.0;
  const double ae1 = VecDotProd3(a, ref.e1), ae2 = VecDotProd3(a, ref.e2);
  const int ld = *ldfjac;
  for (int i = 0; i < *m; ++i) {
    double d[3];
    PointOffset(i, P, d);
    const double h = VecDotProd3(d, a);
    const double w[3] = {d[0] - h * a[0], d[1] - h * a[1], d[2] - h * a[2]};
    const double rho = std::sqrt(VecDotProd3(w, w));
    const double R = x[4] + h * T;
    const double sigma = R < 0.0 ? -1.0 : 1.0;
    if (*iflag == 1) {
      fvec[i] = rho - sigma * R;
      continue;
    }
    const double q = Floored(rho), we1 = VecDotProd3(w, ref.e1), we2 = VecDotProd3(w, ref.e2);
    fjac[i] = -we1 / q + sigma * T * ae1;
    fjac[i + ld] = -we2 / q + sigma * T * ae2;
    fjac[i + 2 * ld] = -we1 * (h / q + sigma * T) / L;
    fjac[i + 3 * ld] = -we2 * (h / q + sigma * T) / L;
    fjac[i + 4 * ld] = -sigma;
    if (*n > 5) fjac[i + 5 * ld] = -sigma * h * (1.0 + T * T);
  }
  return 0;
}

namespace {

// The callbacks as lmder_ calls them: it expects functions returning nothing.
extern "C" {
static void CircleTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  CircleChiSqMinPack(m, n, x, f, j, l, flag);
}
static void CircleWradiusTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  CircleWradiusChiSq(m, n, x, f, j, l, flag);
}
static void SphereTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  SphereChiSqMinPack(m, n, x, f, j, l, flag);
}
static void SphereWradiusTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  SphereChiSqWradiusMinPack(m, n, x, f, j, l, flag);
}
static void Cylinder2Trampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  CylinderChiSq2Minpack(m, n, x, f, j, l, flag);
}
static void Cylinder2WradiusTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  CylinderChiSq2WradiusMinpack(m, n, x, f, j, l, flag);
}
static void CylinderWradiusTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  CylinderChiSqWradiusMinpack(m, n, x, f, j, l, flag);
}
static void ConeTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  ConeChiSqMinpack(m, n, x, f, j, l, flag);
}
static void AxialTrampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  AxialChiSqMinpack(m, n, x, f, j, l, flag);
}
static void Cone2Trampoline(int* m, int* n, double* x, double* f, double* j, int* l, int* flag) {
  ConeChiSq2Minpack(m, n, x, f, j, l, flag);
}
}

typedef void (*LmCallback)(int*, int*, double*, double*, double*, int*, int*);

// The solver's m-sized arrays, allocated in the driver's tracked scope.
struct LmArrays {
  double* fvec;
  double* wa4;
  double* fjac;
};

bool AllocateLm(int m, int jacobianRows, int columns, LmArrays* w) {
  w->fvec = MallocArray<double>(m);
  w->wa4 = MallocArray<double>(m);
  w->fjac = MallocArray<double>(jacobianRows, columns);
  return w->fvec && w->wa4 && w->fjac && !KernelFailed();
}

// One lmder_ run over x[0..n-1]; returns MINPACK's info.
int RunLmder(LmCallback fcn, int m, int n, double* x, double ftol, double xtol, double gtol, int maxfev,
             const LmArrays& w) {
  double diag[7], qtf[7], wa1[7], wa2[7], wa3[7];
  int ipvt[7];
  int mm = m, nn = n, ldfjac = m, mode = 1, nprint = 0, info = 0, nfev = 0, njev = 0, maxf = maxfev;
  double factor = 1.0;
  lmder_(fcn, &mm, &nn, x, w.fvec, w.fjac, &ldfjac, &ftol, &xtol, &gtol, &maxf, diag, &mode, &factor, &nprint,
         &info, &nfev, &njev, ipvt, qtf, wa1, wa2, wa3, w.wa4);
  return info;
}

void StorePoints(const float* x, const float* y, const float* z, int m) {
  lmXarray = x;
  lmYarray = y;
  lmZarray = z;
  lmNdataPnts = m;
}

// A fitted axis of unit length into out; false when it has collapsed.
bool UnitAxis(const double* a, double out[3]) {
  const double len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  if (!(len >= kFloor)) return false;
  for (int k = 0; k < 3; ++k) out[k] = a[k] / len;
  return true;
}

// The circle and sphere drivers: dims centre coordinates, then the radius when it is free.
int RoundDriver(LmCallback fcn, const float* x, const float* y, const float* z, int dims, int m, double* centre,
                double* radius, double fixedRadius, double tolerance, int maxfev, double* error,
                double* maxDeviation) {
  if (!x || !y || (dims == 3 && !z) || m < 2) return -2;
  StorePoints(x, y, z, m);
  if (!radius) lmRadius = fixedRadius;
  TrackingScope scope;
  LmArrays w;
  // Both circle variants and the free sphere keep room for four Jacobian columns.
  if (!AllocateLm(m, m, dims == 3 && !radius ? 3 : 4, &w)) return -2;
  const int n = dims + (radius ? 1 : 0);
  double p[4];
  for (int k = 0; k < dims; ++k) p[k] = centre[k];
  if (radius) p[dims] = *radius;
  if (RunLmder(fcn, m, n, p, tolerance, tolerance, 1e-15, maxfev, w) == 0) return -2;
  for (int k = 0; k < dims; ++k) centre[k] = p[k];
  if (radius) *radius = p[dims];
  const double r = radius ? *radius : fixedRadius;
  if (dims == 2)
    circle_fit_error(x, y, m, centre, r, error, maxDeviation);
  else
    SphereFitError(x, y, z, m, centre, r, error, maxDeviation);
  return 0;
}

}  // namespace

// ---- callbacks ---------------------------------------------------------------------------

int CircleChiSqMinPack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return RoundChiSq<2>(true, m, x, fvec, fjac, ldfjac, iflag);
}

int CircleWradiusChiSq(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return RoundChiSq<2>(false, m, x, fvec, fjac, ldfjac, iflag);
}

int SphereChiSqMinPack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return RoundChiSq<3>(true, m, x, fvec, fjac, ldfjac, iflag);
}

int SphereChiSqWradiusMinPack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return RoundChiSq<3>(false, m, x, fvec, fjac, ldfjac, iflag);
}

int CylinderChiSq2Minpack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return CylinderSquared(true, m, x, fvec, fjac, ldfjac, iflag);
}

int CylinderChiSq2WradiusMinpack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  return CylinderSquared(false, m, x, fvec, fjac, ldfjac, iflag);
}

int CylinderChiSqWradiusMinpack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1) return 0;
  const double* a = x + 3;
  const double a2 = Floored(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  for (int i = 0; i < *m; ++i) {
    double d[3];
    PointOffset(i, x, d);
    const double da = VecDotProd3(d, a);
    const double s = VecDotProd3(d, d) - da * da / a2;
    const double q = s > 0.0 ? std::sqrt(s) : 0.0;
    if (*iflag == 1) {
      fvec[i] = q - lmRadius;
    } else if (*iflag == 2) {
      const double Q = Floored(q), t = da / a2;
      for (int k = 0; k < 3; ++k) {
        fjac[i + k * *ldfjac] = (a[k] * t - d[k]) / Q;
        fjac[i + (3 + k) * *ldfjac] = da * (a[k] * da - d[k] * a2) / (a2 * a2 * Q);
      }
    }
  }
  return 0;
}

// The residual is the signed distance from the cone, f = rho cos(theta) - h sin(theta), with
// the point's height h = dist cos phi along the unit axis u = a / |a| and its radial distance
// rho = dist sin phi. Moving apex_k moves d by -e_k, so dh = -u_k and drho = (h u_k - d_k) / rho:
//   df/d(apex_k) = cos(theta) (cos phi u_k - d_k / dist) / sin phi + sin(theta) u_k.
// The axis enters only through u, du/da = (I - u u^T) / |a| (f does not change with the length
// of a), so dh = (d_k - h u_k) / |a| and drho = -(h / rho) dh:
//   df/da_k = -cos(phi - theta) (d_k - h u_k) / (|a| sin phi);
//   df/d(theta) = -dist cos(phi - theta).
// sin phi is floored as a divisor (sin^2 phi at 1e-10) for a point on the axis.
int ConeChiSqMinpack(int* m, int*, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1) return 0;
  const double* a = x + 3;
  const double theta = x[6];
  const double alen = Floored(std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]));
  const double u[3] = {a[0] / alen, a[1] / alen, a[2] / alen};
  const double ct = std::cos(theta), st = std::sin(theta);
  for (int i = 0; i < *m; ++i) {
    double d[3];
    PointOffset(i, x, d);
    const double dist = std::sqrt(VecDotProd3(d, d)), D = Floored(dist);
    const double da = VecDotProd3(d, a);
    const double cosPhi = da / (D * alen);
    const double sin2 = 1.0 - cosPhi * cosPhi;
    const double sinPhi = sin2 > 0.0 ? std::sqrt(sin2) : 0.0;
    // sin(phi - theta) and cos(phi - theta) by the difference formulas.
    const double sinDiff = sinPhi * ct - cosPhi * st;
    const double cosDiff = cosPhi * ct + sinPhi * st;
    if (*iflag == 1) {
      fvec[i] = dist * sinDiff;
    } else if (*iflag == 2) {
      const double S = std::sqrt(Floored(sin2)), h = dist * cosPhi;
      for (int k = 0; k < 3; ++k) {
        fjac[i + k * *ldfjac] = ct * (cosPhi * u[k] - d[k] / D) / S + st * u[k];
        fjac[i + (3 + k) * *ldfjac] = -cosDiff * (d[k] - h * u[k]) / (alen * S);
      }
      fjac[i + 6 * *ldfjac] = -dist * cosDiff;
    }
  }
  return 0;
}

int ConeChiSq2Minpack(int* m, int* n, double* x, double* fvec, double* fjac, int* ldfjac, int* iflag) {
  if (lmNdataPnts < 1) return 0;
  if (*m != lmNdataPnts || *m < 1 || *n != 7) {
    *iflag = -1;
    return -2;
  }
  const double* a = x + 3;
  const double a2 = Floored(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double c = std::cos(x[6]), s = std::sin(x[6]);
  for (int i = 0; i < *m; ++i) {
    double d[3];
    PointOffset(i, x, d);
    const double dd = VecDotProd3(d, d), da = VecDotProd3(d, a);
    if (*iflag == 1) {
      fvec[i] = c * c * dd - da * da / a2;
    } else if (*iflag == 2) {
      const double t = da / a2;
      for (int k = 0; k < 3; ++k) {
        fjac[i + k * *ldfjac] = 2.0 * (a[k] * t - c * c * d[k]);
        fjac[i + (3 + k) * *ldfjac] = 2.0 * da * (a[k] * t - d[k]) / a2;
      }
      fjac[i + 6 * *ldfjac] = -2.0 * c * s * dd;
    }
  }
  return 0;
}

// ---- drivers -----------------------------------------------------------------------------

int CircleNonllsqrFitMinpack(const float* x, const float* y, int m, double centre[2], double* radius,
                             double tolerance, int maxfev, double* error, double* maxDeviation) {
  return RoundDriver(CircleTrampoline, x, y, nullptr, 2, m, centre, radius, 0.0, tolerance, maxfev, error,
                     maxDeviation);
}

int CircleNonllsqrFitWithRadiusMinpack(const float* x, const float* y, int m, double centre[2], double radius,
                                       double tolerance, int maxfev, double* error, double* maxDeviation) {
  return RoundDriver(CircleWradiusTrampoline, x, y, nullptr, 2, m, centre, nullptr, radius, tolerance, maxfev,
                     error, maxDeviation);
}

int SphereNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double centre[3],
                             double* radius, double tolerance, int maxfev, double* error, double* maxDeviation) {
  return RoundDriver(SphereTrampoline, x, y, z, 3, m, centre, radius, 0.0, tolerance, maxfev, error,
                     maxDeviation);
}

int SphereNonllsqrFitWradiusMinpack(const float* x, const float* y, const float* z, int m, double centre[3],
                                    double radius, double tolerance, int maxfev, double* error,
                                    double* maxDeviation) {
  return RoundDriver(SphereWradiusTrampoline, x, y, z, 3, m, centre, nullptr, radius, tolerance, maxfev, error,
                     maxDeviation);
}

namespace {

// Copies a pass's solution (point, axis, last parameter) out with the axis made unit; false when
// the axis collapsed (nothing written).
bool CopyAxisSolution(const double p[7], double point[3], double axis[3], double* last) {
  double unit[3];
  if (!UnitAxis(p + 3, unit)) return false;
  for (int k = 0; k < 3; ++k) {
    point[k] = p[k];
    axis[k] = unit[k];
  }
  if (last) *last = p[6];
  return true;
}

}  // namespace

int CylinderNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double tolerance,
                               int maxfev, double axisPoint[3], double axis[3], double* radius, double* error,
                               double* maxDeviation) {
  if (!x || !y || !z || m < 2) return -2;
  StorePoints(x, y, z, m);
  TrackingScope scope;
  LmArrays w;
  if (!AllocateLm(m, m, 7, &w)) return -2;
  double p[7] = {axisPoint[0], axisPoint[1], axisPoint[2], axis[0], axis[1], axis[2], *radius};
  for (int pass = 0; pass < 2; ++pass) {
    if (RunLmder(Cylinder2Trampoline, m, 7, p, tolerance, tolerance, 1e-15, maxfev, w) == 0) return -2;
    if (!CopyAxisSolution(p, axisPoint, axis, radius)) return -2;
    for (int k = 0; k < 3; ++k) p[3 + k] = axis[k];  // the second pass starts from the unit axis
  }
  CylinderFitError(x, y, z, m, axisPoint, axis, *radius, error, maxDeviation);
  return 0;
}

int CylNonllsqrFitWradiusMinpack(const float* x, const float* y, const float* z, int m, double tolerance,
                                 int maxfev, double axisPoint[3], double axis[3], double radius, double* error,
                                 double* maxDeviation) {
  if (!x || !y || !z || m < 2) return -2;
  StorePoints(x, y, z, m);
  lmRadius = radius;
  TrackingScope scope;
  LmArrays w;
  if (!AllocateLm(m, m, 7, &w)) return -2;
  double p[6] = {axisPoint[0], axisPoint[1], axisPoint[2], axis[0], axis[1], axis[2]};
  // The squared residual is smooth everywhere and starts the fit; the distance residual, whose
  // minimum is the geometric one, finishes it from where the first pass left the axis.
  if (RunLmder(Cylinder2WradiusTrampoline, m, 6, p, tolerance, tolerance, 1e-15, maxfev / 2, w) == 0) return -2;
  if (!CopyAxisSolution(p, axisPoint, axis, nullptr)) return -2;
  if (RunLmder(CylinderWradiusTrampoline, m, 6, p, tolerance, tolerance, 1e-15, maxfev * 3 / 4, w) == 0)
    return -2;
  if (!CopyAxisSolution(p, axisPoint, axis, nullptr)) return -2;
  CylinderFitError(x, y, z, m, axisPoint, axis, radius, error, maxDeviation);
  return 0;
}

int ConeNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, double tolerance, int maxfev,
                           double apex[3], double axis[3], double* halfAngle, double* error,
                           double* maxDeviation) {
  if (!x || !y || !z || m < 2) return -2;
  StorePoints(x, y, z, m);
  TrackingScope scope;
  LmArrays w;
  if (!AllocateLm(m, m + 1, 7, &w)) return -2;
  double p[7] = {apex[0], apex[1], apex[2], axis[0], axis[1], axis[2], *halfAngle};
  // The algebraic residual vanishes on both nappes and converges from rough starts; the
  // geometric one then measures true distances from where the first pass left the axis.
  const double startAxis[3] = {axis[0], axis[1], axis[2]};
  if (RunLmder(Cone2Trampoline, m, 7, p, tolerance, 1e-14, 1e-6, maxfev, w) == 0) return -2;
  // The algebraic residual cannot tell a from -a nor theta from -theta (its axis columns are
  // rank deficient, so a step may well flip the axis); the geometric one measures from the
  // nappe of a with a positive angle, and from the wrong nappe it runs off to another cone. Keep
  // the caller's sense of the axis.
  if (VecDotProd3(p + 3, startAxis) < 0.0)
    for (int k = 3; k < 6; ++k) p[k] = -p[k];
  p[6] = std::fabs(p[6]);
  if (!CopyAxisSolution(p, apex, axis, halfAngle)) return -2;
  ConeFitError(x, y, z, m, apex, axis, std::tan(*halfAngle), error, maxDeviation);
  if (RunLmder(ConeTrampoline, m, 7, p, tolerance, 1e-14, 1e-6, maxfev / 2, w) == 0) return -2;
  if (!CopyAxisSolution(p, apex, axis, halfAngle)) return -2;
  ConeFitError(x, y, z, m, apex, axis, std::tan(*halfAngle), error, maxDeviation);
  return 0;
}

namespace {

// The axial fit stops refining once a round moves its reference by less than this (unit size):
// the parameters are then centred on the answer and the last round's minimum is the fit's.
constexpr double kAxialSettled = 1e-9;
// Rounds of the axial fit, each a full lmder_ run from the previous answer re-centred.
constexpr int kAxialRounds = 6;
// A least-squares minimum leaves the residual vector orthogonal to every Jacobian column: their
// cosine must lie below this, far above the round-off of a converged run and far below what a
// run stopped on the way leaves.
constexpr double kGradientCosine = 1e-6;

// The reference at the foot of point on the axis nearest c, e1 and e2 completing the unit axis
// to a frame; the radius there follows the slope.
void CentreAxialReference(const double c[3], const double point[3], const double axis[3], double slope,
                          double* radius) {
  AxialReference& ref = axialReference;
  for (int k = 0; k < 3; ++k) ref.a0[k] = axis[k];
  double t[3];
  for (int k = 0; k < 3; ++k) t[k] = c[k] - point[k];
  const double dh = VecDotProd3(t, ref.a0);
  for (int k = 0; k < 3; ++k) ref.p0[k] = point[k] + dh * ref.a0[k];
  *radius += dh * slope;
  PerpVecs(ref.a0, ref.e1, ref.e2);
  VecNormalize3(ref.e1, ref.e1);
  VecNormalize3(ref.e2, ref.e2);
}

}  // namespace

void SetAxialReference(const double point[3], const double axis[3]) {
  double r = 0.0;
  CentreAxialReference(point, point, axis, 0.0, &r);
}

int AxialNonllsqrFitMinpack(const float* x, const float* y, const float* z, int m, bool cone, int maxfev,
                            double axisPoint[3], double axis[3], double* radius, double* halfAngle, double* error,
                            double* maxDeviation) {
  const int n = cone ? 6 : 5;
  double a[3];
  if (!x || !y || !z || m < n || !UnitAxis(axis, a)) return -2;
  StorePoints(x, y, z, m);
  TrackingScope scope;
  LmArrays w;
  if (!AllocateLm(m, m, n, &w)) return -2;
  double c[3] = {0.0, 0.0, 0.0};
  for (int i = 0; i < m; ++i) c[0] += x[i], c[1] += y[i], c[2] += z[i];
  for (int k = 0; k < 3; ++k) c[k] /= m;
  double point[3] = {axisPoint[0], axisPoint[1], axisPoint[2]}, r = *radius;
  double theta = cone ? *halfAngle : 0.0;
  for (int round = 0; round < kAxialRounds; ++round) {
    CentreAxialReference(c, point, a, std::tan(theta), &r);
    double p[6] = {0.0, 0.0, 0.0, 0.0, r, theta};
    if (RunLmder(AxialTrampoline, m, n, p, 1e-15, 1e-15, 0.0, maxfev, w) == 0) return -2;
    const AxialReference& ref = axialReference;
    double b[3];
    for (int k = 0; k < 3; ++k) {
      b[k] = ref.a0[k] + p[2] * ref.e1[k] + p[3] * ref.e2[k];
      point[k] = ref.p0[k] + p[0] * ref.e1[k] + p[1] * ref.e2[k];
    }
    if (!UnitAxis(b, a) || !std::isfinite(p[4]) || !std::isfinite(p[5])) return -2;
    r = p[4];
    if (cone) theta = p[5];
    if (std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]) < kAxialSettled) break;
  }
  // The answer at the foot nearest the centroid, and its gradient there; (r0, theta) and
  // (-r0, -theta) are one surface, given with a radius that is not negative.
  CentreAxialReference(c, point, a, std::tan(theta), &r);
  if (r < 0.0) r = -r, theta = -theta;
  double p[6] = {0.0, 0.0, 0.0, 0.0, r, theta};
  int mm = m, nn = n, ld = m, flag = 1;
  AxialChiSqMinpack(&mm, &nn, p, w.fvec, w.fjac, &ld, &flag);
  flag = 2;
  AxialChiSqMinpack(&mm, &nn, p, w.fvec, w.fjac, &ld, &flag);
  double ff = 0.0, largest = 0.0;
  for (int i = 0; i < m; ++i) ff += w.fvec[i] * w.fvec[i], largest = std::fmax(largest, std::fabs(w.fvec[i]));
  // Residuals at the rounding of the points are the best the points allow.
  if (!(ff <= kUnitRoundOff * kUnitRoundOff * m)) {
    // A point on the axis (a cone's apex) has a kink, not a slope, in its residual: its row
    // says nothing of the minimum.
    for (int i = 0; i < m; ++i) {
      double d[3];
      PointOffset(i, axialReference.p0, d);
      const double h = VecDotProd3(d, a);
      if (VecDotProd3(d, d) - h * h < kUnitRoundOff * kUnitRoundOff)
        for (int j = 0; j < n; ++j) w.fjac[i + j * ld] = 0.0;
    }
    for (int j = 0; j < n; ++j) {
      double g = 0.0, jj = 0.0;
      for (int i = 0; i < m; ++i) g += w.fjac[i + j * ld] * w.fvec[i], jj += w.fjac[i + j * ld] * w.fjac[i + j * ld];
      if (!(std::fabs(g) <= kGradientCosine * std::sqrt(jj * ff))) return -2;
    }
  }
  for (int k = 0; k < 3; ++k) axisPoint[k] = axialReference.p0[k], axis[k] = a[k];
  *radius = r;
  if (cone) *halfAngle = theta;
  *error = ff / m;
  *maxDeviation = largest;
  return 0;
}

namespace {

// The axial fit's mean squared deviation: the cylinder of radius shape or the cone of slope
// shape with its apex at point.
double AxialError(const float* ux, const float* uy, const float* uz, int n, bool cone, double shape,
                  const double point[3], const double axis[3]) {
  double e, maxDev;
  if (cone)
    ConeFitError(ux, uy, uz, n, point, axis, shape, &e, &maxDev);
  else
    CylinderFitError(ux, uy, uz, n, point, axis, shape, &e, &maxDev);
  return e;
}

}  // namespace

void AxisToModelFrame(const UnitFrame& frame, const float* ux, const float* uy, const float* uz, int n, bool cone,
                      double shape, bool foot, const double P[3], const double A[3], double point[3],
                      double axis[3], double* error) {
  double unitA[3];
  if (!UnitAxis(A, unitA)) unitA[0] = A[0], unitA[1] = A[1], unitA[2] = A[2];
  const double along = foot ? VecDotProd3(P, unitA) : 0.0;
  const double unitP[3] = {P[0] - along * unitA[0], P[1] - along * unitA[1], P[2] - along * unitA[2]};
  const double fitted = AxialError(ux, uy, uz, n, cone, shape, unitP, unitA);
  double cleanP[3], cleanA[3] = {unitA[0], unitA[1], unitA[2]}, back[3];
  PointFromUnitFrame(frame, unitP, cleanP);
  for (int k = 0; k < 3; ++k)
    if (std::fabs(cleanP[k]) < 1e-6 * frame.size) cleanP[k] = 0.0;
  UnitDirReduceSmallToZero3(cleanA);
  PointToUnitFrame(frame, cleanP, back);
  const double cleaned = AxialError(ux, uy, uz, n, cone, shape, back, cleanA);
  // Exact components may move the surface at the points by no more than their rounding.
  if (cleaned <= fitted + kUnitRoundOff * kUnitRoundOff) {
    for (int k = 0; k < 3; ++k) point[k] = cleanP[k], axis[k] = cleanA[k];
    *error = cleaned;
    return;
  }
  PointFromUnitFrame(frame, unitP, point);
  for (int k = 0; k < 3; ++k) axis[k] = unitA[k];
  *error = fitted;
}

// ---- points in a unit frame -----------------------------------------------------------------

bool PointsInUnitFrame(const float* x, const float* y, const float* z, int n, const UnitFrame& frame, float** ux,
                       float** uy, float** uz) {
  *ux = MallocArray<float>(n);
  *uy = MallocArray<float>(n);
  *uz = MallocArray<float>(n);
  if (!*ux || !*uy || !*uz || KernelFailed()) return false;
  for (int i = 0; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    double q[3];
    PointToUnitFrame(frame, p, q);
    (*ux)[i] = static_cast<float>(q[0]);
    (*uy)[i] = static_cast<float>(q[1]);
    (*uz)[i] = static_cast<float>(q[2]);
  }
  return true;
}

bool PointsSpread(const float* x, const float* y, const float* z, int n) {
  if (!x || !y || !z) return false;
  bool spread = false;
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || !std::isfinite(z[i])) return false;
    spread = spread || x[i] != x[0] || y[i] != y[0] || z[i] != z[0];
  }
  return spread;
}

// ---- fit measures ------------------------------------------------------------------------

int SphereFitError(const float* x, const float* y, const float* z, int n, const double centre[3], double radius,
                   double* error, double* maxDeviation) {
  *error = 0.0;
  *maxDeviation = 0.0;
  if (!x || !y || !z || n < 1) return -2;
  const double r = std::fabs(radius);
  double total = 0.0, partial = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d[3] = {x[i] - centre[0], y[i] - centre[1], z[i] - centre[2]};
    const double dev = std::fabs(std::sqrt(VecDotProd3(d, d)) - r);
    partial += dev * dev;
    if (dev > *maxDeviation) *maxDeviation = dev;
    if ((i + 1) % 1000 == 0) {
      total += partial;
      partial = 0.0;
    }
  }
  *error = (total + partial) / n;
  return 0;
}

void CylinderFitError(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                      const double axis[3], double radius, double* error, double* maxDeviation) {
  *error = 0.0;
  *maxDeviation = 0.0;
  if (!x || !y || !z || n < 1) return;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d[3] = {x[i] - axisPoint[0], y[i] - axisPoint[1], z[i] - axisPoint[2]};
    const double da = VecDotProd3(d, axis);
    const double dev = std::fabs(std::sqrt(std::fabs(VecDotProd3(d, d) - da * da)) - radius);
    sum += dev * dev;
    if (dev > *maxDeviation) *maxDeviation = dev;
  }
  *error = sum / n;
}

int ConeFitError(const float* x, const float* y, const float* z, int n, const double apex[3], const double axis[3],
                 double tanHalfAngle, double* error, double* maxDeviation) {
  *error = 0.0;
  *maxDeviation = 0.0;
  if (!x || !y || !z || n < 1) return -2;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d[3] = {x[i] - apex[0], y[i] - apex[1], z[i] - apex[2]};
    const double h = VecDotProd3(d, axis);
    const double radial = std::sqrt(std::fmax(VecDotProd3(d, d) - h * h, 0.0));
    const double dev = std::fabs(radial - std::sqrt(h * h * tanHalfAngle * tanHalfAngle));
    sum += dev * dev;
    if (dev > *maxDeviation) *maxDeviation = dev;
  }
  *error = sum / n;
  return 0;
}
