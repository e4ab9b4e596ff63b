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
  // Steps accumulated from the start, the last value set to the end exactly.
  u[0] = s->umin;
  for (int i = 1; i < nu; ++i) u[i] = u[i - 1] + (s->umax - s->umin) / (nu - 1);
  u[nu - 1] = s->umax;
  v[0] = s->vmin;
  for (int j = 1; j < nv; ++j) v[j] = v[j - 1] + (s->vmax - s->vmin) / (nv - 1);
  v[nv - 1] = s->vmax;
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
  // The grid shape is the sampled counts: an unordered fallback of the cloud constructor would
  // carry no scan fields to read it from.
  const int nu = 2 * NumCtrlU(surface) - 2, nv = 2 * NumCtrlV(surface) - 2;
  Cloud* cloud = SampleSurfaceBspline(surface, nu, nv, 0, nullptr);
  if (!cloud) return nullptr;
  Owned<Cloud, FreeCloud> held(cloud);
  if (cloud->npts != nu * nv) return nullptr;
  Bspline* result = SurfaceInterpolate_f(cloud->x, cloud->y, cloud->z, nu, nv, nullptr, nullptr, 3, 3);
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
