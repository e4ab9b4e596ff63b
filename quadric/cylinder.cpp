#include "quadric/cylinder.h"

#include <algorithm>
#include <cmath>

#include "bspline/sfree.h"
#include "cloud/princip.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/unitfrm.h"
#include "foundation/vec3.h"
#include "quadric/qnlfit.h"
#include "quadric/qnurbs.h"
#include "quadric/quadrics.h"

namespace {

// A start of the distances' fit whose squared-distance error is this many times the best start's
// lies in another basin: ten times is far beyond the two fits' difference on one cylinder.
constexpr double kBasinRatio = 10.0;

void Normalise(double v[3]) {
  const double len = VecSize3(v);
  if (len > 0.0)
    for (int k = 0; k < 3; ++k) v[k] /= len;
}

// True when start (axis point, axis, radius) lies within kUnitRoundOff of one of the refined
// ones: the same axis line, direction and radius.
bool AlreadyRefined(const double* start, const double (*refined)[7], int count) {
  for (int i = 0; i < count; ++i) {
    const double* f = refined[i];
    double a[3] = {start[3], start[4], start[5]}, b[3] = {f[3], f[4], f[5]}, cross[3], d[3];
    Normalise(a);
    Normalise(b);
    VecCrossProd3(a, b, cross);
    for (int k = 0; k < 3; ++k) d[k] = start[k] - f[k];
    const double along = VecDotProd3(d, b);
    for (int k = 0; k < 3; ++k) d[k] -= along * b[k];
    if (VecSize3(cross) < kUnitRoundOff && VecSize3(d) < kUnitRoundOff &&
        std::fabs(std::fabs(start[6]) - std::fabs(f[6])) < kUnitRoundOff)
      return true;
  }
  return false;
}

// Principal axes of the points, normalised, and their centroid.
bool Starts(const float* x, const float* y, const float* z, int n, double axes[3][3], double centroid[3]) {
  double eigenvalues[3];
  if (PrincipleComponentAnalysis(x, y, z, n, eigenvalues, axes) != 0) return false;
  for (int k = 0; k < 3; ++k) Normalise(axes[k]);
  ComputeCenterOfMass(x, y, z, n, centroid);
  return true;
}

// The cylinder's QuadricInfo from the lower to the upper end of the points along the axis, size
// the longest side of their box: a set flat along the axis (one circle) still gets a surface a
// thousandth of that high.
QuadricInfo BoundedCylinder(const float* x, const float* y, const float* z, int n, const double P[3],
                            const double a[3], double radius, double size) {
  double hmin, hmax, axis[3] = {a[0], a[1], a[2]};
  FindCylinderExtent(x, y, z, n, P, axis, &hmin, &hmax);
  if (std::fabs(hmax - hmin) < 1e-6 * size) hmax = hmin + 1e-6 * size;
  Normalise(axis);
  double B[3], T[3], BT[3];
  for (int k = 0; k < 3; ++k) B[k] = P[k] + hmin * axis[k], T[k] = P[k] + hmax * axis[k], BT[k] = T[k] - B[k];
  const double height = VecSize3(BT);
  const double minHeight = 0.001 * size;
  QuadricInfo info = {{B[0], B[1], B[2], axis[0], axis[1], axis[2], radius, 0.0, minHeight}};
  if (height > minHeight) {
    for (int k = 0; k < 3; ++k) info.v[3 + k] = BT[k] / height;
    info.v[8] = height;
  }
  return info;
}

// FitCylinder on points of unit size about the origin: its thresholds (the stop at an error of
// 1e-6, the solver's tolerances) are for that size. The squared-distance fits find the basin;
// their residual weighs far points more, so on a narrow arc or noisy points their minimum is not
// the least squares of the distances, which the axial fit then reaches from them, best first.
// The lowest of these minima, at the foot of its axis nearest the centroid; -2 when no start
// reaches one.
int FitUnitCylinder(const float* x, const float* y, const float* z, int n, double axisPoint[3], double axis[3],
                    double* radius, double* error) {
  double axes[3][3], centroid[3];
  if (!Starts(x, y, z, n, axes, centroid)) return -2;
  // Each start: axis point, axis, radius, error.
  double found[4][8], best = kNoValue, maxDev;
  int successes = 0, bestIndex = 0;
  // Least variance first: the axis of a long cylinder is its largest variance, of a short one
  // its least, and the cheap exit takes whichever fits.
  for (int c = 2; c >= 0 && best >= 1e-6; --c) {
    double* f = found[successes];
    double P[3] = {centroid[0], centroid[1], centroid[2]}, A[3] = {axes[c][0], axes[c][1], axes[c][2]}, r, e;
    CylinderRadius(x, y, z, n, P, A, &r);
    if (CylinderNonllsqrFitMinpack(x, y, z, n, 1e-6, 70, P, A, &r, &e, &maxDev) != 0) continue;
    for (int k = 0; k < 3; ++k) f[k] = P[k], f[3 + k] = A[k];
    f[6] = r, f[7] = e;
    if (e < best) best = e, bestIndex = successes;
    ++successes;
  }
  if (successes == 0) return -2;
  double* polished = found[successes];
  for (int k = 0; k < 7; ++k) polished[k] = found[bestIndex][k];
  if (CylinderNonllsqrFitMinpack(x, y, z, n, 1e-16, 30, polished, polished + 3, polished + 6, polished + 7,
                                 &maxDev) == 0)
    ++successes;
  // Best start first; a start kBasinRatio times worse than the best lies in another basin than
  // the least squares, and one on a cylinder already refined adds nothing.
  int order[4] = {0, 1, 2, 3};
  for (int i = 1; i < successes; ++i)  // at most four: three starts and the polished best
    for (int j = i; j > 0 && found[order[j]][7] < found[order[j - 1]][7]; --j) std::swap(order[j], order[j - 1]);
  const double* first = found[order[0]];
  const double limit = kBasinRatio * first[7] + kUnitRoundOff * kUnitRoundOff;
  double refined[4][7];
  int refinedCount = 0;
  best = kNoValue;
  for (int o = 0; o < successes; ++o) {
    const double* f = found[order[o]];
    if (!(f[7] <= limit) || AlreadyRefined(f, refined, refinedCount)) continue;
    for (int k = 0; k < 7; ++k) refined[refinedCount][k] = f[k];
    ++refinedCount;
    double P[3] = {f[0], f[1], f[2]}, A[3] = {f[3], f[4], f[5]}, r = std::fabs(f[6]), angle = 0.0, e;
    if (AxialNonllsqrFitMinpack(x, y, z, n, false, 200, P, A, &r, &angle, &e, &maxDev) != 0 || !(e < best)) continue;
    for (int k = 0; k < 3; ++k) axisPoint[k] = P[k], axis[k] = A[k];
    *radius = r;
    *error = best = e;
  }
  // A start skipped for want of memory may have held the least squares: no cylinder then.
  return best < kNoValue && !KernelFailed() ? 0 : -2;
}

// FitCylinderWithGivenRadius on points of unit size about the origin.
int FitUnitCylinderWithGivenRadius(const float* x, const float* y, const float* z, int n, double radius,
                                   double axisPoint[3], double axis[3], double* error) {
  double axes[3][3], centroid[3];
  if (!Starts(x, y, z, n, axes, centroid)) return -2;
  double bestP[3] = {centroid[0], centroid[1], centroid[2]}, bestA[3] = {axes[0][0], axes[0][1], axes[0][2]};
  double best = kNoValue, maxDev;
  for (int c = 0; c < 3 && best >= 1e-7; ++c) {
    double P[3] = {centroid[0], centroid[1], centroid[2]}, A[3] = {axes[c][0], axes[c][1], axes[c][2]};
    double e = kNoValue;
    // A failed start leaves e at "no fit", so it cannot become the best.
    if (CylNonllsqrFitWradiusMinpack(x, y, z, n, 1e-6, 50, P, A, radius, &e, &maxDev) != 0) e = kNoValue;
    if (e < best) {
      for (int k = 0; k < 3; ++k) bestP[k] = P[k], bestA[k] = A[k];
      best = e;
    }
  }
  double e;
  if (CylNonllsqrFitWradiusMinpack(x, y, z, n, 1e-16, 50, bestP, bestA, radius, &e, &maxDev) != 0) return -2;
  Normalise(bestA);
  for (int k = 0; k < 3; ++k) axisPoint[k] = bestP[k], axis[k] = bestA[k];
  *error = e;
  return 0;
}

}  // namespace

void CylinderRadius(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                    double axis[3], double* radius) {
  if (!x || !y || !z || !radius) return;
  Normalise(axis);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d[3] = {x[i] - axisPoint[0], y[i] - axisPoint[1], z[i] - axisPoint[2]};
    const double h = d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2];
    sum += std::fabs(d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - h * h);
  }
  *radius = n > 0 ? std::sqrt(sum / n) : 0.0;
}

int FindCylinderExtent(const float* x, const float* y, const float* z, int n, const double axisPoint[3],
                       const double axis[3], double* minimum, double* maximum) {
  if (!x || !y || !z || n < 1) return -2;
  double a[3] = {axis[0], axis[1], axis[2]};
  Normalise(a);
  double lo = kNoValue, hi = -kNoValue;
  for (int i = 0; i < n; ++i) {
    const double h = (x[i] - axisPoint[0]) * a[0] + (y[i] - axisPoint[1]) * a[1] + (z[i] - axisPoint[2]) * a[2];
    lo = std::fmin(lo, h);
    hi = std::fmax(hi, h);
  }
  *minimum = lo;
  *maximum = hi;
  return 0;
}

int FitCylinder(const float* x, const float* y, const float* z, int n, double axisPoint[3], double axis[3],
                double* radius, double* error) {
  if (!x || !y || !z || n < 4) return -2;
  if (!PointsSpread(x, y, z, n)) return -2;
  const UnitFrame frame = UnitFrameOfPointsF(x, y, z, n, false);
  TrackingScope scope;
  float *ux, *uy, *uz;
  if (!PointsInUnitFrame(x, y, z, n, frame, &ux, &uy, &uz)) return -2;
  double P[3], A[3], r = 0.0, e = 0.0;
  if (FitUnitCylinder(ux, uy, uz, n, P, A, &r, &e) != 0) return -2;
  AxisToModelFrame(frame, ux, uy, uz, n, false, r, true, P, A, axisPoint, axis, &e);
  *radius = r * frame.size;
  *error = e * frame.size * frame.size;
  return 0;
}

int FitCylinderWithGivenRadius(const float* x, const float* y, const float* z, int n, double radius,
                               double axisPoint[3], double axis[3], double* error) {
  if (!x || !y || !z || n < 6 || radius < 0.0) return -2;
  if (!PointsSpread(x, y, z, n)) return -2;
  const UnitFrame frame = UnitFrameOfPointsF(x, y, z, n, false);
  TrackingScope scope;
  float *ux, *uy, *uz;
  if (!PointsInUnitFrame(x, y, z, n, frame, &ux, &uy, &uz)) return -2;
  double P[3], A[3], e;
  if (FitUnitCylinderWithGivenRadius(ux, uy, uz, n, radius / frame.size, P, A, &e) != 0) return -2;
  AxisToModelFrame(frame, ux, uy, uz, n, false, radius / frame.size, true, P, A, axisPoint, axis, &e);
  *error = e * frame.size * frame.size;
  return 0;
}

Bspline* FitCylinderBspline(const float* x, const float* y, const float* z, int n, double* error) {
  if (!x || !y || !z || n < 4) return MadeOrFailed<Bspline>(nullptr);
  double P[3], A[3], r, e;
  if (FitCylinder(x, y, z, n, P, A, &r, &e) != 0) return MadeOrFailed<Bspline>(nullptr);
  const QuadricInfo info = BoundedCylinder(x, y, z, n, P, A, r, UnitFrameOfPointsF(x, y, z, n, false).size);
  TrackingScope scope;
  Owned<Bspline, FreeBspline> s(MallocInitSurfaceBspline());
  if (!s || KernelFailed() || CylinderNurbs(&info, s.get()) != 0 || KernelFailed()) return MadeOrFailed<Bspline>(nullptr);
  scope.keep();
  if (error) *error = e;
  return s.release();
}

Bspline* FitCylinderBsplineGivenRadius(const float* x, const float* y, const float* z, int n, double radius) {
  double P[3], A[3], e;
  if (FitCylinderWithGivenRadius(x, y, z, n, radius, P, A, &e) != 0) return MadeOrFailed<Bspline>(nullptr);
  const QuadricInfo info = BoundedCylinder(x, y, z, n, P, A, radius, UnitFrameOfPointsF(x, y, z, n, false).size);
  return MadeOrFailed(CreateCylinderBspline(&info));
}
