#include "quadric/pnterr.h"

#include <cmath>

#include "cloud/makecld.h"
#include "cloud/pnterr.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "quadric/pinspect.h"

int CldToCldDiff(const Cloud* ref, Cloud* cloud, double maxDist, int** match) {
  if (match) *match = nullptr;
  if (!ref || !cloud) return 0;
  RemoveCldArrayType(cloud, 0);
  if (!ref->nx || ref->npts < 1) return 0;
  Bbox box;
  GetCloudMinMax(ref, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  const int n = cloud->npts;
  TrackingScope scope;
  int* index = MallocArray<int>(n > 0 ? n : 1);
  if (!index || KernelFailed()) return 0;
  Thermometer thermo(nullptr);
  int hits = 0;
  if (CloudCloudDiffIndex(ref, cloud, maxDist, index, &hits, box) != 0 || hits == 0) return 0;
  thermo.set(20);
  float* group[4];
  for (int k = 0; k < 4; ++k) group[k] = MallocArray<float>(n > 0 ? n : 1);
  if (!group[0] || !group[1] || !group[2] || !group[3] || KernelFailed()) return 0;
  // Progress from 20 on, 5 at a time; the thermometer holds the value to 100 where few points
  // bring the marks close together.
  const int unit = static_cast<int>(n * 0.01);
  int mark = unit * 20, percent = 20;
  for (int i = 0; i < n; ++i) {
    if (i > mark) {
      thermo.set(percent);
      percent += 5;
      mark += unit * 5;
    }
    const int j = index[i];
    if (j < 0) {
      for (int k = 0; k < 4; ++k) group[k][i] = kNoMatchDeviation;
      continue;
    }
    const double q[3] = {cloud->x[i], cloud->y[i], cloud->z[i]}, r[3] = {ref->x[j], ref->y[j], ref->z[j]};
    const double nrm[3] = {ref->nx[j], ref->ny[j], ref->nz[j]};
    double foot[3], dev;
    if (nrm[0] == 0.0 && nrm[1] == 0.0 && nrm[2] == 0.0) {
      for (int k = 0; k < 3; ++k) foot[k] = r[k];
      dev = std::sqrt((q[0] - r[0]) * (q[0] - r[0]) + (q[1] - r[1]) * (q[1] - r[1]) + (q[2] - r[2]) * (q[2] - r[2]));
    } else {
      PlaneEq plane;
      GetPlnFromPtAndNorm(r, nrm, plane);
      PlaneMinDist(q, plane[0], plane[1], plane[2], plane[3], foot, &dev);
      dev = std::fabs(dev);
      if ((foot[0] - q[0]) * nrm[0] + (foot[1] - q[1]) * nrm[1] + (foot[2] - q[2]) * nrm[2] < 0.0) dev = -dev;
    }
    group[0][i] = float(dev);
    for (int k = 0; k < 3; ++k) group[k + 1][i] = float(foot[k]);
  }
  thermo.finish();
  if (!AdoptDifferenceGroup(cloud, group)) return 0;
  if (match) {
    RemoveMallocFromTrack(index);
    *match = index;
  }
  return 1;
}
