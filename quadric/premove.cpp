#include "quadric/premove.h"

#include <cmath>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "quadric/sphere.h"

namespace {

// The column of a coordinate, held to the grid.
int Column(double v, double min, double size, int cells) {
  const double t = (v - min) / size;
  int j = t > 0.0 ? static_cast<int>(t) : 0;
  return j > cells - 1 ? cells - 1 : j;
}

}  // namespace

int OutlierRemove(Cloud* cloud, double radius, double tol, int useSphere) {
  if (!cloud) return 0;
  const int n = cloud->npts;
  if (n < 1) return 1;
  // The neighbour grid is sized from the points' extent and the radius: both must be lengths.
  if (!(radius > 0.0) || !std::isfinite(radius * radius) || !(tol >= 0.0) || !std::isfinite(tol * tol) ||
      !CloudPointsFinite(cloud))
    return 0;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  TrackingScope scope;
  char* keep = MallocArray<char>(n);
  float* nx = MallocArray<float>(n);
  float* ny = MallocArray<float>(n);
  float* nz = MallocArray<float>(n);
  if (!keep || !nx || !ny || !nz || KernelFailed()) return 0;
  double box[6];
  GetCloudMinMax(cloud, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  Owned<Subdiv, FreeSubdiv> grid(SubdivideArrays(x, y, z, n, box[0], box[1], box[2], box[3], box[4], box[5], radius, 96));
  if (!grid || KernelFailed()) return 0;
  const double sx = grid->sizeX > 1e-10 ? grid->sizeX : 1e-10;
  const double sy = grid->sizeY > 1e-10 ? grid->sizeY : 1e-10;
  const double sz = grid->sizeZ > 1e-10 ? grid->sizeZ : 1e-10;
  const int nxCells = grid->ncellsX, nxyCells = grid->ncellsX * grid->ncellsY;
  const double r2 = radius * radius, tol2 = tol * tol;

  Thermometer thermo(nullptr);
  StatusMessageFormat("%s", MSGstr("Remove 3D outlier points"));  // stays on the status line
  PercentMarks marks(n);
  for (int i = 0; i < n; ++i) {
    if (user_break()) return 0;
    int percent;
    if (marks.Due(i, &percent)) thermo.set(percent);
    const double p[3] = {x[i], y[i], z[i]};
    const int cell = Column(p[0], box[0], sx, grid->ncellsX) + Column(p[1], box[1], sy, grid->ncellsY) * nxCells +
                     Column(p[2], box[2], sz, grid->ncellsZ) * nxyCells;
    const SubdivCell& c = grid->cells[cell];
    int m = 0;
    for (int k = 0; k < c.count; ++k) {
      const int j = c.items[k];
      if (j == i) continue;
      const double dx = x[j] - p[0], dy = y[j] - p[1], dz = z[j] - p[2];
      if (dx * dx + dy * dy + dz * dz > r2) continue;
      nx[m] = x[j], ny[m] = y[j], nz[m] = z[j];
      ++m;
    }
    keep[i] = m > 0;
    if (m < 4) continue;  // too few to fit: kept on trust
    if (useSphere) {
      double centre[3], r, err;
      if (FitSphere(nx, ny, nz, m, centre, &r, &err) != 0) {
        if (memory_error == 1) return 0;
        ClearKernelError();  // a failed local fit keeps the point; it fails nothing else
        continue;
      }
      const double d = std::sqrt((p[0] - centre[0]) * (p[0] - centre[0]) + (p[1] - centre[1]) * (p[1] - centre[1]) +
                                 (p[2] - centre[2]) * (p[2] - centre[2]));
      keep[i] = std::fabs(d - r) <= tol;
    } else {
      PlaneEq plane;
      if (!PlaneFit(nx, ny, nz, m, plane)) continue;
      double foot[3], d2;
      PlaneMinDistSq(p, plane[0], plane[1], plane[2], plane[3], foot, &d2);
      keep[i] = d2 <= tol2;
    }
  }
  thermo.finish();
  grid.reset();
  return SampleCloudBasedOnArray(cloud, keep) ? 1 : 0;
}
