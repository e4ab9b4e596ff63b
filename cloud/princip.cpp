#include "cloud/princip.h"

#include <cmath>
#include <cstring>

#include "cloud/makecld.h"
#include "cloud/poffset.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"

namespace {

constexpr int kSumBlock = 10000;

// Two-level sums of `dims` coordinates: blocks of 10000 points are added into the totals.
template <class T, int dims>
void CenterOfMass(const T* const (&a)[dims], int n, double* centroid) {
  double total[dims] = {}, part[dims] = {};
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < dims; ++c) part[c] += a[c][i];
    if ((i + 1) % kSumBlock == 0) {
      for (int c = 0; c < dims; ++c) total[c] += part[c], part[c] = 0.0;
    }
  }
  for (int c = 0; c < dims; ++c) centroid[c] = (total[c] + part[c]) / n;
}

// The eigenvectors (columns of E, by descending eigenvalue) as the axis set: axis k = column k,
// axis 0 negated when the frame is left-handed.
void RightHandedAxes(double* const* E, double axes[3][3]) {
  Xform frame;
  Get_imat(frame);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) frame[4 * r + k] = E[r][k];
  const bool flip = ComputeMatrixDeterminant(frame) < 0.0;
  for (int k = 0; k < 3; ++k) {
    const double s = (flip && k == 0) ? -1.0 : 1.0;
    for (int r = 0; r < 3; ++r) axes[k][r] = s * E[r][k];
  }
}

// Method: centred copies of the points (in T), their second moments, the symmetric
// eigensystem, the right-handed axis set.
template <class T>
int PrincipalAxes(const T* x, const T* y, const T* z, int n, double eigenvalues[3], double axes[3][3],
                  double centroid[3]) {
  TrackingScope scope;
  double c[3];
  const T* const a[3] = {x, y, z};
  CenterOfMass(a, n, c);
  T* cx = MallocArray<T>(3u, n);
  double** M = allocate_matrix_ff(3, 3);
  if (!cx || !M || KernelFailed()) return -2;
  T* cy = cx + n;
  T* cz = cy + n;
  for (int i = 0; i < n; ++i) {
    cx[i] = static_cast<T>(x[i] - c[0]);
    cy[i] = static_cast<T>(y[i] - c[1]);
    cz[i] = static_cast<T>(z[i] - c[2]);
  }
  SecondMoments(cx, cy, cz, n, M);
  double d[3];
  if (eigensystem(M, 3, d) != 0) return -2;
  RightHandedAxes(M, axes);
  for (int k = 0; k < 3; ++k) {
    eigenvalues[k] = d[k];
    if (centroid) centroid[k] = c[k];
  }
  return 0;
}

}  // namespace

void ComputeCenterOfMass(const float* x, const float* y, const float* z, int n, double centroid[3]) {
  if (!x || !y || !z) return;
  const float* const a[3] = {x, y, z};
  CenterOfMass(a, n, centroid);
}

int ComputeCenterOfMass_d(const double* x, const double* y, const double* z, int n, double centroid[3]) {
  if (!x || !y || !z) return -2;
  const double* const a[3] = {x, y, z};
  CenterOfMass(a, n, centroid);
  return 0;
}

int ComputeCenterOfMassCoord(const float* x, const float* y, const float* z, int n, double centroid[3]) {
  if (!x || !y || !z || n < 1) return -2;
  ComputeCenterOfMass(x, y, z, n, centroid);
  return 0;
}

int ComputeCenterOfMass2D_f(const float* x, const float* y, int n, double centroid[2]) {
  if (!x || !y || n < 1) return -2;
  const float* const a[2] = {x, y};
  CenterOfMass(a, n, centroid);
  return 0;
}

int PntsetCovMatrix(const float* x, const float* y, const float* z, int n, double centroid[3], double** matrix) {
  if (!matrix || !x || !y || !z || n < 1) return -2;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) matrix[r][c] = 0.0;
  ComputeCenterOfMass(x, y, z, n, centroid);
  for (int i = 0; i < n; ++i) {
    const double dx = x[i] - centroid[0], dy = y[i] - centroid[1], dz = z[i] - centroid[2];
    matrix[0][0] += dx * dx, matrix[0][1] += dx * dy, matrix[0][2] += dx * dz;
    matrix[1][1] += dy * dy, matrix[1][2] += dy * dz, matrix[2][2] += dz * dz;
  }
  for (int r = 0; r < 3; ++r)
    for (int c = r; c < 3; ++c) matrix[r][c] /= n;
  matrix[1][0] = matrix[0][1], matrix[2][0] = matrix[0][2], matrix[2][1] = matrix[1][2];
  return 0;
}

int ComputeCorrelationMat_d(const double* x, const double* y, const double* z, int n, double** matrix) {
  if (!x || !y || !z || !matrix || n < 3) return -2;
  SecondMoments(x, y, z, n, matrix);
  return 0;
}

int PrincipleComponentAnalysis(const float* x, const float* y, const float* z, int n,
                               double eigenvalues[3], double axes[3][3]) {
  if (!x || !y || !z || n < 2) return -2;
  // Points that are not finite, or so large that their products overflow, give no axes.
  double values[3], frame[3][3];
  if (PrincipalAxes(x, y, z, n, values, frame, nullptr) != 0 || !std::isfinite(values[0] + values[1] + values[2]))
    return -2;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k)
      if (!std::isfinite(frame[i][k])) return -2;
  std::memcpy(eigenvalues, values, sizeof values);
  std::memcpy(axes, frame, sizeof frame);
  return 0;
}

int PntSetPrincipleAxis_d(const double* x, const double* y, const double* z, int n, double axes[3][3],
                          double eigenvalues[3], double centroid[3]) {
  if (!x || !y || !z || n < 3) return -2;
  return PrincipalAxes(x, y, z, n, eigenvalues, axes, centroid);
}

namespace {

// The extent of the points along their first principal axis, in T's precision for the input and
// double for every sum; two points give themselves.
template <class T>
void ExtentLine(const T* const p[3], int n, double start[3], double end[3]) {
  if (n == 2) {
    for (int k = 0; k < 3; ++k) start[k] = p[k][0], end[k] = p[k][1];
    return;
  }
  double c[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) c[k] += p[k][i];
  for (double& v : c) v /= n;
  // Mean products of the centred points on the stack: nothing here can run out of memory.
  double m[3][3] = {}, e[3], d[3];
  double* M[3] = {m[0], m[1], m[2]};
  for (int i = 0; i < n; ++i) {
    const double q[3] = {p[0][i] - c[0], p[1][i] - c[1], p[2][i] - c[2]};
    for (int r = 0; r < 3; ++r)
      for (int s = r; s < 3; ++s) m[r][s] += q[r] * q[s];
  }
  for (int r = 0; r < 3; ++r)
    for (int s = r; s < 3; ++s) m[s][r] = m[r][s] /= n;
  tred2(M, 3, d, e);
  tqli(d, e, 3, M);
  eigsrt(d, M, 3);
  double axes[3][3];
  RightHandedAxes(M, axes);
  double lo = kEmptyBoxBound, hi = -kEmptyBoxBound;
  for (int i = 0; i < n; ++i) {
    const double s = (p[0][i] - c[0]) * axes[0][0] + (p[1][i] - c[1]) * axes[0][1] + (p[2][i] - c[2]) * axes[0][2];
    if (s < lo) lo = s;
    if (s > hi) hi = s;
  }
  for (int k = 0; k < 3; ++k) start[k] = c[k] + lo * axes[0][k], end[k] = c[k] + hi * axes[0][k];
}

}  // namespace

int FitALine(const Cloud* cloud, double start[3], double end[3]) {
  // Fewer than two points have no line (and one point's mean would divide by n = 0 for none).
  if (!cloud || cloud->npts < 2) return -2;
  const float* p[3] = {cloud->x, cloud->y, cloud->z};
  ExtentLine(p, cloud->npts, start, end);
  return 0;
}

int FitALineOfPoints(const double* x, const double* y, const double* z, int n, double start[3], double end[3]) {
  if (!x || !y || !z || n < 2) return -2;
  const double* p[3] = {x, y, z};
  double a[3], b[3];
  ExtentLine(p, n, a, b);
  // Points that are not finite (or overflow the extent) give no line.
  for (int k = 0; k < 3; ++k)
    if (!std::isfinite(a[k]) || !std::isfinite(b[k])) return -2;
  std::memcpy(start, a, sizeof a);
  std::memcpy(end, b, sizeof b);
  return 0;
}

int ProjectPointsToBestFitPlane_f(const float* x, const float* y, const float* z, int n, float* u, float* v,
                                  float* w, Xform xform) {
  if (!x || !y || !z || !u || !v || !w || n < 3) return -2;
  double ev[3], axes[3][3], c[3];
  if (PrincipalAxes(x, y, z, n, ev, axes, c) != 0) return -2;
  // Row vectors: p M = (p - c) R with R's columns the axes, so the last row is -c R.
  Get_imat(xform);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) xform[4 * r + k] = axes[k][r];
  for (int k = 0; k < 3; ++k) xform[12 + k] = -(c[0] * axes[k][0] + c[1] * axes[k][1] + c[2] * axes[k][2]);
  float* out[3] = {u, v, w};
  for (int i = 0; i < n; ++i) {
    const double q[3] = {x[i] - c[0], y[i] - c[1], z[i] - c[2]};
    for (int k = 0; k < 3; ++k) out[k][i] = static_cast<float>(q[0] * axes[k][0] + q[1] * axes[k][1] + q[2] * axes[k][2]);
  }
  return 0;
}
