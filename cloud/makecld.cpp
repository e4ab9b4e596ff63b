#include "cloud/makecld.h"

#include <cmath>

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// Box of the points in double, written as {xmin, ymin, zmin, xmax, ymax, zmax}.
void PointsBox(const float* x, const float* y, const float* z, int n, double box[6]) {
  box[0] = box[3] = x[0];
  box[1] = box[4] = y[0];
  box[2] = box[5] = z[0];
  for (int i = 1; i < n; ++i) {
    const double p[3] = {x[i], y[i], z[i]};
    for (int k = 0; k < 3; ++k) {
      if (p[k] < box[k]) box[k] = p[k];
      if (p[k] > box[k + 3]) box[k + 3] = p[k];
    }
  }
}

// Default neighbourhood radius: small clouds are sparse, so they get a wide one.
double CharLengthOfBox(const double box[6], int npts) {
  const double dx = box[3] - box[0];
  const double dy = box[4] - box[1];
  const double dz = box[5] - box[2];
  const double diagonal = std::sqrt(dx * dx + dy * dy + dz * dz);
  return npts < 20 ? 2.0 * diagonal : diagonal * 0.3333333333333333;
}

}  // namespace

Cloud* MallocNullCloud() {
  TrackingScope scope;
  auto* cloud = static_cast<Cloud*>(Malloc(sizeof(Cloud)));
  if (!cloud || KernelFailed()) return nullptr;
  *cloud = Cloud{};
  scope.keep();
  return cloud;
}

Cloud* MakeCld(const float* x, const float* y, const float* z, int n, double* bbox) {
  if (n < 1) return nullptr;
  TrackingScope scope;
  Cloud* cloud = MallocNullCloud();
  if (!cloud) return nullptr;
  cloud->x = MallocArray<float>(n);
  cloud->y = MallocArray<float>(n);
  cloud->z = MallocArray<float>(n);
  if (KernelFailed() || !cloud->x || !cloud->y || !cloud->z) {
    FreeCloud(cloud);  // the record left its own scope; the arrays go with it
    return nullptr;
  }
  for (int i = 0; i < n; ++i) {
    cloud->x[i] = x[i];
    cloud->y[i] = y[i];
    cloud->z[i] = z[i];
  }
  double box[6];
  PointsBox(x, y, z, n, box);
  if (bbox) {
    for (int k = 0; k < 6; ++k) bbox[k] = box[k];
  }
  cloud->type = 0;
  cloud->npts = n;
  cloud->nptsBuilt = n;
  cloud->strideU = 1;
  cloud->strideV = 1;
  cloud->charLength = CharLengthOfBox(box, n);
  scope.keep();
  return cloud;
}

void FreeCloudPolygons(Cloud* cloud) {
  Free(cloud->tri);
  Free(cloud->isVert);
  cloud->ntri = 0;
  cloud->tri = nullptr;
  cloud->isVert = nullptr;
}

void FreeCloudSlice(Cloud* cloud) {
  CloudSlice* s = cloud->slice;
  if (!s) return;
  Free(s->scanValue);
  Free(s->scanFirstSlice);
  Free(s->scanSliceCount);
  Free(s->sliceStart);
  Free(s->sliceEnd);
  Free(s->sliceKind);
  Free(s->sliceFlag);
  Free(s->sliceNext);
  Free(s);
  cloud->slice = nullptr;
}

void FreeCloudFarrays(Cloud* cloud) {
  CloudFarrays& f = cloud->farrays;
  if (f.count == 0) return;
  if (f.arrays) {
    for (int k = 0; k < f.count; ++k) Free(f.arrays[k]);
  }
  Free(f.arrays);
  Free(f.types);
  f = CloudFarrays{};
}

void FreeCloudLabels(Cloud* cloud) {
  if (cloud->labels) {
    for (int i = 0; i < cloud->npts; ++i) Free(cloud->labels[i]);
  }
  Free(cloud->labels);
  Free(cloud->labelIsShow);
  cloud->labels = nullptr;
  cloud->labelIsShow = nullptr;
}

void FreeCloud(Cloud* cloud) {
  if (!cloud) return;
  Free(cloud->x);
  Free(cloud->y);
  Free(cloud->z);
  Free(cloud->nx);
  Free(cloud->ny);
  Free(cloud->nz);
  for (float* c : cloud->colour) Free(c);
  Free(cloud->scanStart);
  Free(cloud->scanEnd);
  Free(cloud->isShow);
  FreeCloudPolygons(cloud);
  Free(cloud->rowNumber);
  Free(cloud->reliability);
  FreeCloudSlice(cloud);
  FreeCloudFarrays(cloud);
  FreeCloudLabels(cloud);
  Free(cloud);
}
