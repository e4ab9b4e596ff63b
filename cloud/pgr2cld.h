// Point access of meshes that the cloud floor needs; the rest of the module (reversal, splits,
// compaction) lives in mesh/pgr2cld.
#pragma once

#include "foundation/cloudrec.h"

// Point i widened to doubles; i is not range-tested.
// Inline: the distance queries of the mesh tools read points in their innermost loops.
inline void GetCldPoint(const Cloud* cloud, int i, double p[3]) {
  p[0] = cloud->x[i];
  p[1] = cloud->y[i];
  p[2] = cloud->z[i];
}
