#include "cloud/princip.h"

#include "cloud/poffset.h"
#include "foundation/coreglob.h"
#include "foundation/eigen.h"
#include "foundation/makemat.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// Two-level sums: blocks of 10000 points are added into the totals, so a large set does not
// lose its late terms against one huge running sum.
template <class T>
void CenterOfMass(const T* x, const T* y, const T* z, int n, double centroid[3]) {
  double total[3] = {0, 0, 0}, part[3] = {0, 0, 0};
  for (int i = 0; i < n; ++i) {
    part[0] += x[i];
    part[1] += y[i];
    part[2] += z[i];
    if ((i + 1) % 10000 == 0) {
      for (int c = 0; c < 3; ++c) {
        total[c] += part[c];
        part[c] = 0.0;
      }
    }
  }
  for (int c = 0; c < 3; ++c) centroid[c] = (total[c] + part[c]) / n;
}

}  // namespace

void ComputeCenterOfMass(const float* x, const float* y, const float* z, int n, double centroid[3]) {
  CenterOfMass(x, y, z, n, centroid);
}

void ComputeCenterOfMass_d(const double* x, const double* y, const double* z, int n, double centroid[3]) {
  CenterOfMass(x, y, z, n, centroid);
}

int PrincipleComponentAnalysis(const float* x, const float* y, const float* z, int n,
                               double eigenvalues[3], double axes[3][3]) {
  if (!x || !y || !z || n < 2) return -2;
  TrackingScope scope;
  double c[3];
  ComputeCenterOfMass(x, y, z, n, c);
  float* cx = MallocArray<float>(3u, n);
  double** M = allocate_matrix_ff(3, 3);
  if (!cx || !M || KernelFailed()) return -2;
  float* cy = cx + n;
  float* cz = cy + n;
  for (int i = 0; i < n; ++i) {
    cx[i] = static_cast<float>(x[i] - c[0]);
    cy[i] = static_cast<float>(y[i] - c[1]);
    cz[i] = static_cast<float>(z[i] - c[2]);
  }
  ComputeCorrelationMatrix(cx, cy, cz, n, M);
  double d[3];
  if (eigensystem(M, 3, d) != 0) return -2;

  Xform frame;
  Get_imat(frame);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) frame[4 * r + k] = M[r][k];
  const bool flip = ComputeMatrixDeterminant(frame) < 0.0;
  for (int k = 0; k < 3; ++k) {
    const double s = (flip && k == 0) ? -1.0 : 1.0;
    for (int r = 0; r < 3; ++r) axes[k][r] = s * M[r][k];
    eigenvalues[k] = d[k];
  }
  return 0;
}
