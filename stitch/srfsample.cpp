#include "stitch/srfsample.h"

#include <climits>

#include "bspline/bsvalid.h"
#include "bspline/isocurve.h"
#include "bspline/knots.h"
#include "bspline/nubs.h"
#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "surface/trimutils.h"

namespace {

// Each distinct span's start and `per` equal steps into it, then the last distinct knot. Null
// on failure; *count receives the number of values.
double* SpanSamples(const double* knots, int nKnots, int per, int* count) {
  int nd = 0;
  double* d = nullptr;
  DistinctKnotValues(nKnots, knots, &nd, &d);
  if (!d || KernelFailed()) return nullptr;
  const int L = nd - 1;
  // A count no array can hold is the ordinary out-of-memory failure.
  if (static_cast<long long>(L) * per + 1 > INT_MAX) {
    SetOutOfMemory();
    return nullptr;
  }
  double* out = MallocArray<double>(L * per + 1);
  if (!out || KernelFailed()) return nullptr;
  for (int i = 0; i < L; ++i)
    for (int j = 0; j < per; ++j) out[i * per + j] = d[i] + j * (d[i + 1] - d[i]) / per;
  out[L * per] = d[L];
  *count = L * per + 1;
  return out;
}

}  // namespace

Cloud* KnotSpanSampleCloud(const Bspline* surface, int m, int n, double* bbox) {
  if (!IsCompleteSurface3(surface) || m < 1 || n < 1) return nullptr;
  if (!RecordsSound({surface})) return nullptr;
  TrackingScope scope;
  int nu = 0, nv = 0;
  double* us = SpanSamples(surface->knotsU, NumKnotsU(surface), m, &nu);
  double* vs = SpanSamples(surface->knotsV, NumKnotsV(surface), n, &nv);
  if (!us || !vs) return nullptr;
  float* x = MallocArray<float>(nu, nv);
  float* y = MallocArray<float>(nu, nv);
  float* z = MallocArray<float>(nu, nv);
  if (!x || !y || !z || KernelFailed()) return nullptr;
  if (Eval3DGridOnBsplArray_f(surface, us, nu, vs, nv, x, y, z) < 0) return nullptr;
  if (!surface->trims) {
    int* starts = MallocArray<int>(nv);
    int* ends = MallocArray<int>(nv);
    if (!starts || !ends || KernelFailed()) return nullptr;
    for (int j = 0; j < nv; ++j) {
      starts[j] = j * nu;
      ends[j] = j * nu + nu - 1;
    }
    return MakeScanCld(x, y, z, nu * nv, starts, ends, nv, bbox);
  }
  const int loops = CountTrimCurves(surface);
  double*** tu = MallocArray<double**>(loops);
  double*** tv = MallocArray<double**>(loops);
  if (!tu || !tv || KernelFailed()) return nullptr;
  GetAllTrimArrays(surface, tu, tv);
  if (KernelFailed()) return nullptr;
  const double far[2] = {0.0, 0.0};
  int kept = 0;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      if (!IsPointInTrimArrays(surface, us[i], vs[j], far, tu, tv)) continue;
      // Kept points move down in place: kept never passes the index being read.
      x[kept] = x[j * nu + i];
      y[kept] = y[j * nu + i];
      z[kept] = z[j * nu + i];
      ++kept;
    }
  if (KernelFailed() || kept < 1) return nullptr;
  return MakeCld(x, y, z, kept, bbox);
}
