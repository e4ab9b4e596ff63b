#include "construct/srfr2nr.h"

#include "stitch/srfsample.h"

Cloud* SampleSurfacePlateBspline(const Bspline* surface, int m, int n, double* bbox) {
  return KnotSpanSampleCloud(surface, m, n, bbox);
}
