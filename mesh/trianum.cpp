#include "mesh/trianum.h"

#include "surface/trimutils.h"

int IsPoint2DInList(double px, double py, double qx, double qy, const double* x, const double* y,
                    int n) {
  return PointInPolygonByFarPoint(px, py, qx, qy, x, y, n);
}
