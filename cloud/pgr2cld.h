// Point access of meshes that the cloud floor needs; the rest of the module (reversal, splits,
// compaction) lives in mesh/pgr2cld.
#pragma once

#include "foundation/cloudrec.h"

// Point i widened to doubles; i is not range-tested.
void GetCldPoint(const Cloud* cloud, int i, double p[3]);
