#include "curve/premove.h"

#include <algorithm>
#include <cmath>

#include "bspline/nubs.h"
#include "bspline/sfree.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "curve/fitcurve.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

void PointOf(const Cloud* c, int i, double p[3]) { p[0] = c->x[i], p[1] = c->y[i], p[2] = c->z[i]; }

void MoveTo(Cloud* c, int i, const double p[3]) {
  c->x[i] = float(p[0]), c->y[i] = float(p[1]), c->z[i] = float(p[2]);
}

void MidpointOf(const Cloud* c, int i, double m[3]) {
  double a[3], b[3];
  PointOf(c, i - 1, a);
  PointOf(c, i + 1, b);
  for (int k = 0; k < 3; ++k) m[k] = 0.5 * (a[k] + b[k]);
}

double SpikeMeasure(const Cloud* c, int i) {
  double p[3], a[3], b[3];
  PointOf(c, i, p);
  PointOf(c, i - 1, a);
  PointOf(c, i + 1, b);
  double ab = 0, aa = 0, bb = 0;
  for (int k = 0; k < 3; ++k) {
    a[k] -= p[k], b[k] -= p[k];
    ab += a[k] * b[k], aa += a[k] * a[k], bb += b[k] * b[k];
  }
  const double q = ab * ab / std::max(aa * bb, 1e-10);
  return ab < 0 ? -q : q;
}

// Fits the curve to the four good points idx[0..3] (ascending) and moves point i onto it,
// halfway in parameter between its nearest chosen neighbours. False when the fit fails.
bool RefitPoint(Cloud* c, Bspline* curve, const int idx[4], int i) {
  float x[4], y[4], z[4];
  for (int k = 0; k < 4; ++k) x[k] = c->x[idx[k]], y[k] = c->y[idx[k]], z[k] = c->z[idx[k]];
  double t[4];
  const double length = normalize_tarray3(x, y, z, 4, t);
  int cont[2] = {0, 0};
  Bspline* neighbour[2] = {nullptr, nullptr};
  double scale[2] = {1.0, 1.0}, param[2] = {0.0, 0.0}, tangent[2][3] = {{0, 0, 0}, {0, 0, 0}};
  if (Curve3Approximate(x, y, z, t, 4, curve, -1, cont, neighbour, scale, param, tangent, length,
                        Global_Roughness, Global_Tension, Global_Sigma) != 0)
    return false;
  int before = 0;
  while (before + 1 < 4 && idx[before + 1] < i) ++before;
  double p[3];
  Eval3DPointOnCurve3Coord(curve, 0.5 * (t[before] + t[before + 1]), 0, p);
  MoveTo(c, i, p);
  return true;
}

}  // namespace

int Do2ndOrderSmoothing(Cloud* cloud, int nstr, const int* first, const int* last, char* good) {
  TrackingScope scope;
  Owned<Bspline, FreeBspline> curve(allocate_curve3(2, 2));
  if (!curve || KernelFailed()) return 0;
  for (int s = 0; s < nstr; ++s) {
    for (int i = first[s]; i <= last[s]; ++i) {
      if (good[i]) continue;
      int back[3], ahead[3], nb = 0, na = 0;
      for (int j = i - 1; j >= first[s] && nb < 3; --j)
        if (good[j]) back[nb++] = j;
      if (nb > 0)
        for (int j = i + 1; j <= last[s] && na < 3; ++j)
          if (good[j]) ahead[na++] = j;
      if (nb + na >= 4) {
        // One and three, two and two, or three and one around the point.
        const int takeBack = nb == 1 ? 1 : (na == 1 ? 3 : 2);
        int idx[4], m = 0;
        for (int k = takeBack - 1; k >= 0; --k) idx[m++] = back[k];
        for (int k = 0; k < 4 - takeBack; ++k) idx[m++] = ahead[k];
        if (RefitPoint(cloud, curve.get(), idx, i)) {
          good[i] = 1;
        } else {
          if (memory_error == 1) return 0;
          ClearKernelError();  // the point stays where it was
        }
      } else if (i - 1 >= first[s] && i + 1 <= last[s]) {
        double m[3];
        MidpointOf(cloud, i, m);
        MoveTo(cloud, i, m);
        good[i] = 1;
      }
    }
  }
  return 1;
}

int RemoveSpikesFromCldStrs(Cloud* cloud, int repair, int mode, double limit, int nstr, const int* first,
                            const int* last) {
  if (!cloud || (nstr > 0 && (!first || !last))) return 0;
  TrackingScope scope;
  char* mask = nullptr;
  if (repair == 0 || mode == 2) {
    mask = MallocArray<char>(cloud->npts);
    if (!mask || KernelFailed()) return 0;
    for (int i = 0; i < cloud->npts; ++i) mask[i] = 1;
  }
  for (int s = 0; s < nstr; ++s) {
    for (int i = first[s] + 1; i < last[s]; ++i) {
      // Measured on the current coordinates: a spike moved in mode 1 is what its successor sees.
      const bool spike = SpikeMeasure(cloud, i) > limit;
      if (mask) mask[i] = !spike;
      if (spike && mode == 1) {
        double m[3];
        MidpointOf(cloud, i, m);
        MoveTo(cloud, i, m);
      }
    }
  }
  if (repair != 0) return mode == 2 ? Do2ndOrderSmoothing(cloud, nstr, first, last, mask) : 1;
  return SampleCloudBasedOnArray(cloud, mask) ? 1 : 0;
}

int RemoveSpikesArbitCloud(Cloud* cloud, int repair, int mode, double limit) {
  if (!cloud) return 0;
  const int n = cloud->npts;
  if (n < 1) return 1;
  TrackingScope scope;
  int* first = MallocArray<int>(n);
  int* last = MallocArray<int>(n);
  if (!first || !last || KernelFailed()) return 0;
  const double gap2 = cloud->charLength * cloud->charLength;
  int nstr = 0;
  first[0] = 0;
  for (int i = 1; i < n; ++i) {
    double a[3], b[3];
    PointOf(cloud, i - 1, a);
    PointOf(cloud, i, b);
    const double d2 = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
    if (d2 >= gap2) last[nstr] = i - 1, first[++nstr] = i;
  }
  last[nstr++] = n - 1;
  return RemoveSpikesFromCldStrs(cloud, repair, mode, limit, nstr, first, last);
}

int RemoveSpikesFromClds(Cloud* cloud, double cosLimit, int repair, int mode) {
  if (!cloud) return 0;
  const double limit = cosLimit * std::fabs(cosLimit);
  if (cloud->type == 0) return RemoveSpikesArbitCloud(cloud, repair, mode, limit) ? 1 : 0;
  const CloudSlice* slice = cloud->slice;
  // The strings are walked by their ends: they must name the cloud's points.
  if (slice ? !RunsNamePoints(slice->sliceStart, slice->sliceEnd, slice->nslices, cloud->npts)
            : !RunsNamePoints(cloud->scanStart, cloud->scanEnd, cloud->nscans, cloud->npts))
    return 0;
  const int r = slice ? RemoveSpikesFromCldStrs(cloud, repair, mode, limit, slice->nslices, slice->sliceStart,
                                                slice->sliceEnd)
                      : RemoveSpikesFromCldStrs(cloud, repair, mode, limit, cloud->nscans, cloud->scanStart,
                                                cloud->scanEnd);
  return r ? 1 : 0;
}
