#include "foundation/minmax.h"

#include "foundation/cloudrec.h"

namespace {

template <typename T>
void MinMaxOf(const T* a, int n, double* min, double* max) {
  if (n < 1 || !a || !min || !max) return;
  double lo = a[0];
  double hi = a[0];
  for (int i = 1; i < n; ++i) {
    const double v = a[i];
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  *min = lo;
  *max = hi;
}

}  // namespace

void GetMinMaxF(const float* a, int n, double* min, double* max) { MinMaxOf(a, n, min, max); }

void GetMinMaxD(const double* a, int n, double* min, double* max) { MinMaxOf(a, n, min, max); }

void GetCloudMinMax(const Cloud* cloud, double* xmin, double* ymin, double* zmin, double* xmax,
                    double* ymax, double* zmax) {
  if (!cloud) return;
  GetMinMaxF(cloud->x, cloud->npts, xmin, xmax);
  GetMinMaxF(cloud->y, cloud->npts, ymin, ymax);
  GetMinMaxF(cloud->z, cloud->npts, zmin, zmax);
}

void GrowBoxForOverlap(double box[6], double size) {
  for (int k = 0; k < 3; ++k) {
    const double m = 0.1 * (box[k + 3] - box[k]) + 1e-6 * size;
    box[k] -= m;
    box[k + 3] += m;
  }
}
