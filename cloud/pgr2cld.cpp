#include "cloud/pgr2cld.h"

void GetCldPoint(const Cloud* cloud, int i, double p[3]) {
  p[0] = cloud->x[i];
  p[1] = cloud->y[i];
  p[2] = cloud->z[i];
}
