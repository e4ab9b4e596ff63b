#include "construct/srfr2nr.h"

#include <cstdlib>

#include "bspline/bsvalid.h"
#include "bspline/sfree.h"
#include "cloud/makecld.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "splinefit/intrplt.h"
#include "splinefit/sconvert.h"
#include "stitch/srfsample.h"
#include "surface/srfnorm.h"
#include "surface/trimutils.h"

namespace {

// n parameters from lo to hi in equal steps accumulated from the start, the last set to hi
// exactly (a single one is hi).
void GridParams(double lo, double hi, int n, double* t) {
  t[0] = lo;
  for (int i = 1; i < n; ++i) t[i] = t[i - 1] + (hi - lo) / (n - 1);
  t[n - 1] = hi;
}

}  // namespace

Cloud* SampleSurfacePlateBspline(const Bspline* surface, int m, int n, double* bbox) {
  // The samples are placed between the distinct knots: every knot is read.
  if (surface && !RecordsSound({surface})) return nullptr;
  return KnotSpanSampleCloud(surface, m, n, bbox);
}

Cloud* SampleSurfaceBspline(const Bspline* surface, int nu, int nv, int useTrims, double* bbox) {
  if (!surface || surface->kind != 2 || surface->dimension != 3 || !BsplineShapeSound(surface) ||
      nu < 1 || nv < 1)
    return nullptr;
  Bspline* s = const_cast<Bspline*>(surface);
  TrackingScope scope;
  const int n = nu * nv;
  double* u = MallocArray<double>(nu);
  double* v = MallocArray<double>(nv);
  double(*P)[3] = reinterpret_cast<double(*)[3]>(MallocArray<double>(3, n));
  double(*N)[3] = reinterpret_cast<double(*)[3]>(MallocArray<double>(3, n));
  float* x = MallocArray<float>(n);
  float* y = MallocArray<float>(n);
  float* z = MallocArray<float>(n);
  int* first = MallocArray<int>(nv);
  int* last = MallocArray<int>(nv);
  if (!u || !v || !P || !N || !x || !y || !z || !first || !last || KernelFailed()) return nullptr;
  GridParams(s->umin, s->umax, nu, u);
  GridParams(s->vmin, s->vmax, nv, v);
  if (ComputeSurfGridPositionAndNormal(s, u, v, nu, nv, P, N) != 0 || KernelFailed()) return nullptr;
  float* normals[3];
  {
    UntrackedScope own;  // the cloud's, once attached
    for (float*& a : normals) a = MallocArray<float>(n);
  }
  Owned<float, Free> hold[3] = {Owned<float, Free>(normals[0]), Owned<float, Free>(normals[1]),
                                Owned<float, Free>(normals[2])};
  if (!normals[0] || !normals[1] || !normals[2] || KernelFailed()) return nullptr;
  const bool trimmed = useTrims && s->trims;
  double*** tu = nullptr;
  double*** tv = nullptr;
  double far[2] = {0.0, 0.0};
  if (trimmed) {
    const int loops = CountTrimCurves(s);
    tu = MallocArray<double**>(loops);
    tv = MallocArray<double**>(loops);
    if (!tu || !tv || KernelFailed()) return nullptr;
    GetAllTrimArrays(s, tu, tv);
    if (KernelFailed()) return nullptr;
    // A reference point outside the domain for the crossing counts (runtime rand, unseeded).
    const double r1 = std::rand(), r2 = std::rand();
    far[0] = 2.0 * s->umax + r1 / 3276.7 - s->umin;
    far[1] = 0.5 * (s->vmin + s->vmax) + r2 / 3276.7;
  }
  int kept = 0, scans = 0;
  for (int j = 0; j < nv; ++j) {
    const int rowStart = kept;
    for (int i = 0; i < nu; ++i) {
      const int g = j * nu + i;
      if (trimmed && !IsPointInTrimArrays(s, u[i], v[j], far, tu, tv)) continue;
      double unit[3];
      VecNormalize3(N[g], unit);
      x[kept] = static_cast<float>(P[g][0]);
      y[kept] = static_cast<float>(P[g][1]);
      z[kept] = static_cast<float>(P[g][2]);
      for (int c = 0; c < 3; ++c) hold[c][kept] = static_cast<float>(unit[c]);
      ++kept;
    }
    if (kept > rowStart) {
      first[scans] = rowStart;
      last[scans] = kept - 1;
      ++scans;
    }
  }
  if (KernelFailed() || kept < 1) return nullptr;
  // The normal arrays are shrunk to the kept count; a refused shrink leaves a block still held.
  if (kept < n)
    for (auto& h : hold) {
      float* shrunk = ReallocArray<float>(h.get(), kept);
      if (!shrunk) return nullptr;
      h.release();
      h.reset(shrunk);
    }
  Cloud* cloud = MakeScanCld(x, y, z, kept, first, last, scans, bbox);
  if (!cloud || KernelFailed()) {
    if (cloud) FreeCloud(cloud);
    return nullptr;
  }
  cloud->nx = hold[0].release();
  cloud->ny = hold[1].release();
  cloud->nz = hold[2].release();
  return cloud;
}

Bspline* SurfaceRationalToNonRationalBspline(const Bspline* surface) {
  if (!surface || surface->kind != 2 || surface->dimension != 3 || !BsplineShapeSound(surface))
    return nullptr;
  // The grid of SampleSurfaceBspline (trims ignored), interpolated in double precision: narrowed
  // to single precision, the samples of a surface far from the origin would lose the digits of
  // its shape (3e-4 of its size 1e4 sizes away, 5e-8 of it anywhere).
  Bspline* s = const_cast<Bspline*>(surface);
  const int nu = 2 * NumCtrlU(surface) - 2, nv = 2 * NumCtrlV(surface) - 2, n = nu * nv;
  Owned<double, Free> u(MallocArray<double>(nu)), v(MallocArray<double>(nv));
  Owned<double, Free> P(MallocArray<double>(3, n)), N(MallocArray<double>(3, n)), xyz(MallocArray<double>(3, n));
  if (!u || !v || !P || !N || !xyz) return nullptr;
  GridParams(s->umin, s->umax, nu, u.get());
  GridParams(s->vmin, s->vmax, nv, v.get());
  if (ComputeSurfGridPositionAndNormal(s, u.get(), v.get(), nu, nv, reinterpret_cast<double(*)[3]>(P.get()),
                                       reinterpret_cast<double(*)[3]>(N.get())) != 0 ||
      KernelFailed())
    return nullptr;
  double *x = xyz.get(), *y = x + n, *z = y + n;
  for (int g = 0; g < n; ++g) x[g] = P.get()[3 * g], y[g] = P.get()[3 * g + 1], z[g] = P.get()[3 * g + 2];
  Bspline* result = SurfaceInterpolate(x, y, z, nu, nv, nullptr, nullptr, 3, 3);
  if (!result) return nullptr;
  if (KernelFailed()) {
    FreeBspline(result);
    return nullptr;
  }
  ProjectAllCONSToSurf(surface, result);
  return result;
}

void ProjectAllCONSToSurf(const Bspline* source, Bspline* target) {
  ProjectCurvesAndLoopsOnSurf(source, target);
}
