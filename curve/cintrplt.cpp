#include "curve/cintrplt.h"

#include <cmath>

#include "bspline/bsvalid.h"
#include "bspline/nubutil.h"
#include "bspline/sfree.h"
#include "bspline/subobj.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "curve/fitcurve.h"
#include "curve/pntintrp.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// Consecutive points closer than this share of the loop's length add no span of their own (a
// zero-length span would make the knot double and the collocation singular).
constexpr double kSameLoopPoint = 1e-12;

// Solves the cyclic tridiagonal system a[i] x[i-1] + b[i] x[i] + c[i] x[i+1] = r[i] (indices
// mod n, n >= 3) in place of r: the Thomas algorithm on the system with its two corner entries
// taken out, corrected by the Sherman-Morrison formula. False on a zero pivot.
bool SolveCyclicTridiag(const double* a, const double* b, const double* c, double* r, int n,
                        double* work) {
  double* bb = work;       // modified diagonal
  double* cp = work + n;   // forward-eliminated super-diagonal
  double* z = work + 2 * n;
  const double gamma = -b[0], alpha = a[0], beta = c[n - 1];
  for (int i = 0; i < n; ++i) bb[i] = b[i];
  bb[0] -= gamma;
  bb[n - 1] -= alpha * beta / gamma;
  // T x = r and T z = u, u = (gamma, 0, .., 0, beta), with one elimination.
  for (int i = 0; i < n; ++i) z[i] = 0.0;
  z[0] = gamma;
  z[n - 1] = beta;
  double piv = bb[0];
  if (piv == 0.0) return false;
  cp[0] = c[0] / piv;
  r[0] /= piv;
  z[0] /= piv;
  for (int i = 1; i < n; ++i) {
    piv = bb[i] - a[i] * cp[i - 1];
    if (piv == 0.0 || !std::isfinite(piv)) return false;
    cp[i] = i + 1 < n ? c[i] / piv : 0.0;
    r[i] = (r[i] - a[i] * r[i - 1]) / piv;
    z[i] = (z[i] - a[i] * z[i - 1]) / piv;
  }
  for (int i = n - 2; i >= 0; --i) {
    r[i] -= cp[i] * r[i + 1];
    z[i] -= cp[i] * z[i + 1];
  }
  // The corners as u v^T with u = (gamma, 0, .., 0, beta) and v = (1, 0, .., 0, alpha / gamma).
  const double den = 1.0 + z[0] + alpha * z[n - 1] / gamma;
  if (den == 0.0) return false;
  const double f = (r[0] + alpha * r[n - 1] / gamma) / den;
  for (int i = 0; i < n; ++i) r[i] -= f * z[i];
  return true;
}

// Method: the closed C2 cubic through the loop P_0..P_(L-1) with knots at the normalised
// chord-length parameters u_0 = 0 .. u_L = 1 (the closing chord included), extended
// periodically. Its periodic control points E_0..E_(L-1) (E_(k+L) = E_k) meet
// C(u_i) = N_i(u_i) E_i + N_(i+1)(u_i) E_(i+1) + N_(i+2)(u_i) E_(i+2) = P_i, a cyclic tridiagonal
// system. The unclamped record with L + 3 control points is then clamped at the seam, which
// leaves its shape alone.
Bspline* PeriodicCubicThrough(const Cloud* cloud) {
  const int n = cloud->npts;
  TrackingScope scope;
  int* keep = MallocArray<int>(n);
  double* chord = MallocArray<double>(n);
  if (!keep || !chord || KernelFailed()) return nullptr;
  auto dist = [&](int i, int j) {
    const double dx = double(cloud->x[i]) - cloud->x[j], dy = double(cloud->y[i]) - cloud->y[j];
    const double dz = double(cloud->z[i]) - cloud->z[j];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  double total = 0.0;
  for (int i = 0; i < n; ++i) total += dist(i, (i + 1) % n);
  if (!(total > 0.0) || !std::isfinite(total)) return nullptr;
  // The loop: each point unless it repeats the last one kept; the last point goes when it
  // repeats the first.
  int L = 0;
  for (int i = 0; i < n; ++i) {
    if (L > 0 && dist(i, keep[L - 1]) <= kSameLoopPoint * total) continue;
    keep[L++] = i;
  }
  while (L > 1 && dist(keep[L - 1], keep[0]) <= kSameLoopPoint * total) --L;
  if (L < 3) return nullptr;
  for (int i = 0; i < L; ++i) chord[i] = dist(keep[i], keep[(i + 1) % L]);

  // Knots K_k = u_(k-3), k = 0 .. L + 6, the parameters continued by whole periods.
  const int nKnots = L + 7;
  double* K = MallocArray<double>(nKnots);
  double* work = MallocArray<double>(6, L);  // solver scratch, then a, b, c
  double* rhs = MallocArray<double>(3, L);
  if (!K || !work || !rhs || KernelFailed()) return nullptr;
  double* u = K + 3;  // u[i] = u_i, i = -3 .. L + 3
  u[0] = 0.0;
  for (int i = 1; i <= L; ++i) u[i] = u[i - 1] + chord[i - 1] / total;
  u[L] = 1.0;
  for (int i = 1; i <= 3; ++i) {
    u[-i] = u[L - i] - 1.0;
    u[L + i] = u[i] + 1.0;
  }
  double *a = work + 3 * L, *b = a + L, *c = b + L;
  double N[5];
  for (int i = 0; i < L; ++i) {
    ComputeNubVals(K, 3, u[i], i + 3, N);  // basis i .. i + 3 at u_i; basis i + 3 starts there
    a[i] = N[1];
    b[i] = N[2];
    c[i] = N[3];
    for (int d = 0; d < 3; ++d) {
      const float* src = d == 0 ? cloud->x : d == 1 ? cloud->y : cloud->z;
      rhs[d * L + i] = src[keep[i]];
    }
  }
  // F_j = E_(j+1): row i reads F_(i-1), F_i, F_(i+1).
  for (int d = 0; d < 3; ++d)
    if (!SolveCyclicTridiag(a, b, c, rhs + d * L, L, work)) return nullptr;

  Owned<Bspline, FreeBspline> curve(allocate_curve3(L - 1, 3));  // L + 3 control points
  if (!curve || KernelFailed()) return nullptr;
  for (int k = 0; k < nKnots; ++k) curve->knotsU[k] = K[k];
  double* rows[3] = {curve->X[0], curve->Y[0], curve->Z[0]};
  for (int d = 0; d < 3; ++d)
    for (int k = 0; k < L + 3; ++k) rows[d][k] = rhs[d * L + ((k - 1 + L) % L)];  // E_k = F_(k-1)
  curve->umin = 0.0;
  curve->umax = 1.0;
  if (ClampWrappedDirection(curve.get(), 0, 0) < 0 || KernelFailed()) return nullptr;
  curve->closedU = 3;
  return curve.release();
}

}  // namespace

Bspline* InterpCurve3(Cloud* cloud, int closed, int degree) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  if (closed == 1) {
    // A closed curve is always a cubic. The wrap-and-cut of a closed fit would only approach
    // the points near the seam (its end conditions reach a few points in): the periodic
    // system meets every point.
    if (cloud->npts < 4) return nullptr;
    return PeriodicCubicThrough(cloud);
  }
  TrackingScope scope;
  // The interpolation compacts its points: it works on a copy.
  Owned<Cloud, FreeCloud> copy(CopyCloud(cloud));
  if (!copy || KernelFailed()) return nullptr;
  Cloud* c = copy.get();
  Owned<Bspline, FreeBspline> open(
      InterpolatePoints_f(c->x, c->y, c->z, c->npts - 1, nullptr, degree, 1));
  if (!open || KernelFailed()) return nullptr;
  return open.release();
}

Bspline* InterpolateLineCurve3(double p0[3], double p1[3]) {
  if (!p0 || !p1 || !AllFinite(p0, 3) || !AllFinite(p1, 3)) return MadeOrFailed<Bspline>(nullptr);
  double x[2] = {p0[0], p1[0]}, y[2] = {p0[1], p1[1]}, z[2] = {p0[2], p1[2]};
  TrackingScope scope;
  Owned<Bspline, FreeBspline> line(InterpolatePoints(x, y, z, 1, nullptr, 3, 1));
  if (!line || KernelFailed()) return nullptr;
  // The ends as given, whatever the interpolation did to its copies of them.
  const QuadricInfo form = {{p0[0], p0[1], p0[2], p1[0], p1[1], p1[2]}};
  FreeQuadricInfo(line.get());
  {
    UntrackedScope own;  // the form belongs to the record
    line->quadric = DuplicateQuadricInfo(&form, QuadricDoubles(1));
  }
  if (!line->quadric || KernelFailed()) return nullptr;
  line->quadricType = 1;
  return line.release();
}
