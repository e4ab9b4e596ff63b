#include "shrinkwrap/clouddev.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bspline/bsvalid.h"
#include "bspline/ctrlnubs.h"
#include "bspline/helper.h"
#include "bspline/nubs.h"
#include "bspline/refines2.h"
#include "cloud/cldpoly.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/solvmat.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "surface/srfutils.h"
#include "surface/trimutils.h"

int FAE_mid = -1;

namespace {
// A signed distance above this was not set yet (the estimate's own distance stands).
constexpr double kUnset = 1e30;
constexpr int kMaxSurfaces = 32000;
// One surface alone is sampled on a fixed grid of cell centres.
constexpr int kSingleGrid = 100;
// A group's surfaces get 2 .. kMaxPerDirection samples per direction, kSizeCap from their size.
constexpr int kMaxPerDirection = 75;
constexpr double kSizeCap = 30.0;
// Rings of bins searched around an empty bin.
constexpr int kRings = 9;
// Bins narrower than this along an axis (a flat sample set) count as this wide.
constexpr double kLeastCell = 1e-10;
// Deviation vectors shorter than this share of the samples' diagonal have no direction: the
// point lies on the surface (its offset moves along the normal, no angle is tested, its foot is
// not re-projected). Relative, so the same input at any scale gives the same answer.
constexpr double kOnSurfaceShare = 1e-6;
// The initial capacity of a group's shared sample grid.
constexpr int kGroupCapacity = 50000;

double Dist2(const double a[3], const float* x, const float* y, const float* z, int k) {
  const double dx = a[0] - x[k], dy = a[1] - y[k], dz = a[2] - z[k];
  return dx * dx + dy * dy + dz * dz;
}

// v / |v| at any length: a surface normal Su x Sv of a small surface is far below the 1e-10
// under which VecNormalize3 stops dividing. The zero vector stays zero.
void Unit(const double v[3], double out[3]) {
  const double len = VecSize3(v);
  for (int k = 0; k < 3; ++k) out[k] = len > 0.0 ? v[k] / len : 0.0;
}

double Dist2(const double a[3], const double b[3]) {
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return dx * dx + dy * dy + dz * dz;
}

// The bin grid over the samples with the geometry the searches read.
struct Bins {
  Owned<Subdiv, FreeSubdiv> grid;
  double min[3] = {0, 0, 0};
  double size[3] = {1, 1, 1};
  int n[3] = {1, 1, 1};
  double diagSq = 0.0;  // squared diagonal of the samples' box

  // Box of the m samples, grid of bins of length len (at most about 1.5 sqrt(m), 96 in all).
  bool Build(const float* x, const float* y, const float* z, int m, double len) {
    double lo[3] = {kNoValue, kNoValue, kNoValue}, hi[3] = {-kNoValue, -kNoValue, -kNoValue};
    for (int k = 0; k < m; ++k) {
      const double p[3] = {x[k], y[k], z[k]};
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], p[a]);
        hi[a] = std::max(hi[a], p[a]);
      }
    }
    const int budget = static_cast<int>(std::min(1.5 * std::sqrt(static_cast<double>(m)), 96.0));
    grid.reset(SubdivideArrays(x, y, z, m, lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], len, budget));
    if (!grid || KernelFailed()) return false;
    const double sizes[3] = {grid->sizeX, grid->sizeY, grid->sizeZ};
    const int counts[3] = {grid->ncellsX, grid->ncellsY, grid->ncellsZ};
    diagSq = 0.0;
    for (int a = 0; a < 3; ++a) {
      min[a] = lo[a];
      size[a] = std::max(sizes[a], kLeastCell);
      n[a] = counts[a];
      diagSq += (hi[a] - lo[a]) * (hi[a] - lo[a]);
    }
    return true;
  }
  void BinOf(const double p[3], int b[3]) const { BinOf(min, size, n, p, b); }
  static void BinOf(const double* min, const double* size, const int* n, const double p[3],
                    int b[3]) {
    for (int a = 0; a < 3; ++a) {
      const double t = std::min(std::max((p[a] - min[a]) / size[a], 0.0), n[a] - 1.0);
      b[a] = static_cast<int>(t);
    }
  }
};

// The grid geometry of a Subdiv as the ring search reads it.
void GridGeometry(const Subdiv* g, int n[3], double size[3]) {
  n[0] = g->ncellsX;
  n[1] = g->ncellsY;
  n[2] = g->ncellsZ;
  size[0] = std::max(g->sizeX, kLeastCell);
  size[1] = std::max(g->sizeY, kLeastCell);
  size[2] = std::max(g->sizeZ, kLeastCell);
}

// Whether ring r (from 2 on) around c is still worth scanning: some axis must reach inside the
// grid on one side, and the ring's inner face, half a bin per ring beyond the first, must lie
// within the search radius.
bool RingWorthScanning(const int c[3], int r, const int n[3], const double size[3],
                       double searchDistSq) {
  if (r < 2) return true;
  double s = kNoValue;
  for (int a = 0; a < 3; ++a)
    if (c[a] - r >= 0 || c[a] + r < n[a]) s = std::min(s, size[a]);
  if (s > 1e20) return false;
  const double reach = 0.5 * s * (r - 1);
  return reach * reach <= searchDistSq;
}

// Calls visit(cell) for every bin of the clamped grid at Chebyshev distance r from c.
template <class Visit>
void VisitRing(const int c[3], int r, const int n[3], Visit visit) {
  const int z0 = std::max(c[2] - r, 0), z1 = std::min(c[2] + r, n[2] - 1);
  const int y0 = std::max(c[1] - r, 0), y1 = std::min(c[1] + r, n[1] - 1);
  const int x0 = std::max(c[0] - r, 0), x1 = std::min(c[0] + r, n[0] - 1);
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y) {
      const int base = y * n[0] + z * n[0] * n[1];
      if (std::abs(z - c[2]) == r || std::abs(y - c[1]) == r) {
        for (int x = x0; x <= x1; ++x) visit(base + x);
      } else {
        if (c[0] - r >= 0) visit(base + c[0] - r);
        if (c[0] + r < n[0]) visit(base + c[0] + r);
      }
    }
}

// ---- Sample grids -----------------------------------------------------------------------------
// Five parallel float arrays of samples (x, y, z and the surface's own u, v) in the call's scope.
struct Samples {
  float* x = nullptr;
  float* y = nullptr;
  float* z = nullptr;
  float* u = nullptr;
  float* v = nullptr;
  int count = 0;
  int capacity = 0;

  bool Allocate(int n) {
    x = MallocArray<float>(n);
    y = MallocArray<float>(n);
    z = MallocArray<float>(n);
    u = MallocArray<float>(n);
    v = MallocArray<float>(n);
    capacity = n;
    return x && y && z && u && v && !KernelFailed();
  }
  // Capacity for `needed` samples, doubling (a group's many trim samples may need several).
  bool Reserve(int needed) {
    if (needed <= capacity) return true;
    int cap = std::max(capacity, 1);
    while (cap < needed) cap = cap > (1 << 29) ? needed : 2 * cap;
    return Resize(cap);
  }
  bool Resize(int cap) {
    for (float** a : {&x, &y, &z, &u, &v}) {
      float* grown = ReallocArray<float>(*a, std::max(cap, 1));
      if (!grown) return false;
      *a = grown;
    }
    capacity = cap;
    return !KernelFailed();
  }
};

// One surface's sampled trim loops, in its own frame, with the far point of its inside test.
struct TrimSamples {
  int loops = 0;
  int total = 0;
  int* curvesPerLoop = nullptr;
  int** counts = nullptr;
  double*** u = nullptr;
  double*** v = nullptr;
  float*** x = nullptr;
  float*** y = nullptr;
  float*** z = nullptr;
  double far[2] = {0, 0};

  bool Take(Bspline* srf) {
    loops = CountTrimCurves(srf);
    curvesPerLoop = MallocArray<int>(loops);
    counts = MallocArray<int*>(loops);
    u = MallocArray<double**>(loops);
    v = MallocArray<double**>(loops);
    x = MallocArray<float**>(loops);
    y = MallocArray<float**>(loops);
    z = MallocArray<float**>(loops);
    if (!curvesPerLoop || !counts || !u || !v || !x || !y || !z || KernelFailed()) return false;
    int nCurves = 0, nLoops = 0;
    if (!GetAllTrimXYZArrays(srf, u, v, x, y, z, &total, &nCurves, &nLoops, curvesPerLoop, counts) ||
        KernelFailed())
      return false;
    // One far point per surface, beyond its domain in u (the C runtime's rand, never seeded).
    const double r1 = std::rand(), r2 = std::rand();
    far[0] = 2.0 * srf->umax - srf->umin + 10.0 * r1 / 32767.0;
    far[1] = 0.5 * (srf->vmin + srf->vmax) + 10.0 * r2 / 32767.0;
    return true;
  }
  bool Inside(Bspline* srf, double uu, double vv) const {
    return IsPointInTrimArrays(srf, uu, vv, far, u, v) != 0;
  }
  // The flat sample arrays: all curves of all loops, in order, from the first curve's entry.
  bool Flat(const float** fx, const float** fy, const float** fz, const double** fu,
            const double** fv) const {
    for (int l = 0; l < loops; ++l)
      if (curvesPerLoop[l] > 0) {
        *fx = x[l][0];
        *fy = y[l][0];
        *fz = z[l][0];
        *fu = u[l][0];
        *fv = v[l][0];
        return total > 0;
      }
    return false;
  }
  double Nearest(const double p[3], double* uu, double* vv, double C[3]) const {
    return NearestTrimBoundaryPoint(p, x, y, z, u, v, loops, curvesPerLoop, counts, uu, vv, C);
  }
};

// The surface's parameter box: the domain, or the box of its outer trim loops.
void ParameterBox(Bspline* srf, double box[4]) {
  box[0] = srf->umin;
  box[1] = srf->umax;
  box[2] = srf->vmin;
  box[3] = srf->vmax;
  if (srf->trims) GetParametricExtent(srf, &box[0], &box[1], &box[2], &box[3]);
}

// nu x nv cell-centre samples of srf over box into g at index `at` (u fastest), their (u, v)
// too. False on failure.
bool SampleCellCentres(Bspline* srf, const double box[4], int nu, int nv, Samples& g, int at) {
  TrackingScope scope;
  double* us = MallocArray<double>(nu);
  double* vs = MallocArray<double>(nv);
  if (!us || !vs || KernelFailed()) return false;
  for (int i = 0; i < nu; ++i) us[i] = box[0] + (i + 0.5) * (box[1] - box[0]) / nu;
  for (int j = 0; j < nv; ++j) vs[j] = box[2] + (j + 0.5) * (box[3] - box[2]) / nv;
  if (Eval3DGridOnBsplArray_f(srf, us, nu, vs, nv, g.x + at, g.y + at, g.z + at) != 0) return false;
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      g.u[at + j * nu + i] = static_cast<float>(us[i]);
      g.v[at + j * nu + i] = static_cast<float>(vs[j]);
    }
  return !KernelFailed();
}

// Keeps the samples g[at .. at + m) inside the trim loops (in order) and appends the trim
// samples after them, their points moved by M when it is given. Returns the new total, -1 on
// failure.
int TrimSampleBlock(Bspline* srf, const TrimSamples& t, Samples& g, int at, int m, const double* M) {
  int kept = at;
  for (int k = at; k < at + m; ++k)
    if (t.Inside(srf, g.u[k], g.v[k])) {
      g.x[kept] = g.x[k];
      g.y[kept] = g.y[k];
      g.z[kept] = g.z[k];
      g.u[kept] = g.u[k];
      g.v[kept] = g.v[k];
      ++kept;
    }
  const float *fx, *fy, *fz;
  const double *fu, *fv;
  if (!t.Flat(&fx, &fy, &fz, &fu, &fv)) return kept;
  if (!g.Reserve(kept + t.total)) return -1;
  for (int k = 0; k < t.total; ++k) {
    double p[3] = {fx[k], fy[k], fz[k]};
    if (M) VecTrans3(p, M, p);
    g.x[kept + k] = static_cast<float>(p[0]);
    g.y[kept + k] = static_cast<float>(p[1]);
    g.z[kept + k] = static_cast<float>(p[2]);
    g.u[kept + k] = static_cast<float>(fu[k]);
    g.v[kept + k] = static_cast<float>(fv[k]);
  }
  return kept + t.total;
}

// ---- Progress -------------------------------------------------------------------------------
// The thermometer and status line of a pass over n points, the user-break poll before every
// tenth point and a progress mark about every percent. A break closes the thermometer and leaves
// the status line.
class Progress {
 public:
  Progress(int n, const char* status) : thermometer_(status), marks_(n) {}
  // False on a user break.
  bool Tick(int i) {
    if (i > 0 && i % 10 == 0 && user_break()) return false;
    int percent = 0;
    if (marks_.Due(i, &percent)) thermometer_.set(percent);
    return true;
  }
  void Done() { thermometer_.finish(); }

 private:
  Thermometer thermometer_;
  PercentMarks marks_;
};

bool Shown(const Cloud* cloud, int useShowMask, int i) {
  if (!useShowMask || !cloud->isShow) return true;
  return (cloud->isShow[i >> 3] >> (i & 7)) & 1;
}

// Surface point and (not unit) normal at (u, v).
void PointAndNormal(Bspline* srf, double u, double v, double C[3], double N[3]) {
  const int du[3] = {0, 1, 0}, dv[3] = {0, 0, 1};
  double d[3][3];
  EvalPointOnGeometryM(srf, u, v, du, dv, 3, 0, d);
  ComputeSurfaceNormal(srf, u, v, d[1], d[2], N);
  for (int k = 0; k < 3; ++k) C[k] = d[0][k];
}

// The foot being near a side of the domain (within e): no re-projection along the normal there.
bool NearDomainEdge(const double dom[4], double u, double v, double e) {
  return dom[1] - u < e || u - dom[0] < e || dom[3] - v < e || v - dom[2] < e;
}

// The offset move: compare against the surface moved by `offset` along its normal. The point
// moves by the offset against the normal on either side and s becomes its signed distance to
// the moved surface. D runs from the foot towards the point; a point on the surface (within
// onSurfaceSq) moves against the normal as every other does.
void MoveByOffset(double p[3], const double C[3], const double N[3], double d2, double onSurfaceSq,
                  double offset, double* s) {
  double D[3];
  if (d2 <= onSurfaceSq) {
    Unit(N, D);
    if (*s <= 0.0)
      for (double& c : D) c = -c;
  } else {
    for (int k = 0; k < 3; ++k) D[k] = (p[k] - C[k]) / std::fabs(*s);
  }
  const double moved = *s - offset;
  for (int k = 0; k < 3; ++k) p[k] = *s > 0.0 ? C[k] + moved * D[k] : C[k] - moved * D[k];
  *s = moved;
}

// The reported foot of a refined point not on the boundary: the foot of the normal through p.
void ReprojectAlongNormal(const double p[3], const double N[3], double onSurfaceSq, double C[3],
                          double* s) {
  double V[3], n[3];
  VecDiff3(p, C, V);
  if (VecDotProd3(V, V) <= onSurfaceSq) return;
  Unit(N, n);
  const double t = VecDotProd3(V, n);
  for (int k = 0; k < 3; ++k) C[k] = p[k] - t * n[k];
  *s = *s > 0.0 ? std::fabs(t) : -std::fabs(t);
}

void WriteResult(const CloudDiffArrays& out, int k, const double p[3], int i, const double C[3],
                 const double N[3], double u, double v, double s) {
  out.px[k] = static_cast<float>(p[0]);
  out.py[k] = static_cast<float>(p[1]);
  out.pz[k] = static_cast<float>(p[2]);
  if (out.index) out.index[k] = i;
  out.cx[k] = static_cast<float>(C[0]);
  out.cy[k] = static_cast<float>(C[1]);
  out.cz[k] = static_cast<float>(C[2]);
  if (out.nx) {
    double n[3];
    Unit(N, n);
    out.nx[k] = static_cast<float>(n[0]);
    out.ny[k] = static_cast<float>(n[1]);
    out.nz[k] = static_cast<float>(n[2]);
  }
  if (out.u) {
    out.u[k] = static_cast<float>(u);
    out.v[k] = static_cast<float>(v);
  }
  if (out.dist) out.dist[k] = static_cast<float>(s);
}

bool RequiredArrays(const CloudDiffArrays& out) {
  return out.px && out.py && out.pz && out.cx && out.cy && out.cz && (!out.nx || (out.ny && out.nz)) &&
         (!out.u || out.v);
}

bool Surfaces(Bspline** srfs, int n) {
  for (int s = 0; s < n; ++s)
    if (!srfs[s] || srfs[s]->kind != 2) return false;
  return true;
}

double OnSurfaceSq(const Bins& bins) {
  return kOnSurfaceShare * kOnSurfaceShare * std::max(bins.diagSq, 1e-300);
}

}  // namespace

// ---- Estimates --------------------------------------------------------------------------------
double WeedOutDistSq(double maxDistSq, int nu, int nv, const float* x, const float* y,
                     const float* z) {
  if (!x || !y || !z) return 4.0 * maxDistSq;
  double a = 0.0, b = 0.0;
  for (int k = 1; k < nu; ++k) {
    const double p[3] = {x[k - 1], y[k - 1], z[k - 1]};
    a = std::max(a, Dist2(p, x, y, z, k));
  }
  for (int k = nu; k < nu * nv; k += nu) {
    const double p[3] = {x[k - nu], y[k - nu], z[k - nu]};
    b = std::max(b, Dist2(p, x, y, z, k));
  }
  return (0.25 * a + 0.25 * b + maxDistSq) * 4.0;
}

double NearestSampleEstimate(const double p[3], const Subdiv* grid, int ix, int iy, int iz,
                             int* cell, double searchDistSq, const float* x, const float* y,
                             const float* z, const float* u, const float* v, double closest[3],
                             double* uOut, double* vOut, int* sampleIndex) {
  *sampleIndex = -1;
  closest[0] = closest[1] = closest[2] = 0.0;
  *uOut = *vOut = 0.0;
  double best = kNoValue;
  int at = -1, atCell = -1;
  auto scan = [&](int c) {
    const SubdivCell& bin = grid->cells[c];
    for (int k = 0; k < bin.count; ++k) {
      const int g = bin.items[k];
      const double d = Dist2(p, x, y, z, g);
      if (d < best) {  // ties keep the first found
        best = d;
        at = g;
        atCell = c;
      }
    }
  };
  auto found = [&] {
    *sampleIndex = at;
    *uOut = u[at];
    *vOut = v[at];
    closest[0] = x[at];
    closest[1] = y[at];
    closest[2] = z[at];
    return best;
  };
  scan(*cell);
  if (at >= 0) return found();
  *cell = -1;
  int n[3];
  double size[3];
  GridGeometry(grid, n, size);
  const int c[3] = {ix, iy, iz};
  for (int r = 1; r <= kRings; ++r) {
    if (!RingWorthScanning(c, r, n, size, searchDistSq)) return kNoValue;
    VisitRing(c, r, n, scan);
    if (at >= 0) {
      *cell = atCell;
      return found();
    }
  }
  return best;
}

double NearestTrimBoundaryPoint(const double p[3], float*** xs, float*** ys, float*** zs,
                                double*** us, double*** vs, int loops, const int* curvesPerLoop,
                                int** pointsPerCurve, double* uOut, double* vOut,
                                double closest[3]) {
  double best = kNoValue, bu = 0, bv = 0, bc[3] = {0, 0, 0};
  for (int l = 0; l < loops; ++l)
    for (int c = 0; c < curvesPerLoop[l]; ++c) {
      const float *x = xs[l][c], *y = ys[l][c], *z = zs[l][c];
      const double *u = us[l][c], *v = vs[l][c];
      for (int k = 1; k < pointsPerCurve[l][c]; ++k) {
        const double a[3] = {x[k - 1], y[k - 1], z[k - 1]}, b[3] = {x[k], y[k], z[k]};
        double foot[3], d2 = 0, t = 0;
        LineSegPntMinDistSq(p, a, b, foot, &d2, &t);
        if (d2 < best) {
          best = d2;
          // t weighs the segment's first sample.
          bu = t * u[k - 1] + (1.0 - t) * u[k];
          bv = t * v[k - 1] + (1.0 - t) * v[k];
          for (int q = 0; q < 3; ++q) bc[q] = foot[q];
        }
      }
    }
  if (best >= 1e20) return best;
  *uOut = bu;
  *vOut = bv;
  for (int q = 0; q < 3; ++q) closest[q] = bc[q];
  return best;
}

int RangeIndexOf(const int* starts, const int* ends, int n, int value) {
  // A search over fewer ranges than the last one must not read past them.
  if (FAE_mid < 0 || FAE_mid >= n) FAE_mid = n / 2;
  const int m = FAE_mid;
  int lo = 0, hi = 0;
  if (starts[m] > value) {
    hi = m;
  } else {
    lo = m;
    hi = n - 1;
  }
  if (hi <= lo) return m;
  while (hi > lo) {
    const int mid = (lo + hi) / 2;
    FAE_mid = mid;
    if (starts[mid] > value) {
      FAE_mid = hi = mid - 1;
    } else if (ends[mid] >= value) {
      break;
    } else {
      FAE_mid = lo = mid + 1;
    }
  }
  return FAE_mid;
}

void NearestSamplePerRange(const double p[3], const Subdiv* grid, int ix, int iy, int iz,
                           int* cell, double searchDistSq, const float* x, const float* y,
                           const float* z, const int* starts, const int* ends, int nRanges,
                           int* bestIndex, double* bestDistSq) {
  for (int r = 0; r < nRanges; ++r) {
    bestIndex[r] = -1;
    bestDistSq[r] = kNoValue;
  }
  bool any = false;
  auto scan = [&](int c) {
    const SubdivCell& bin = grid->cells[c];
    for (int k = 0; k < bin.count; ++k) {
      const int g = bin.items[k];
      const int r = FAE_mid >= 0 && FAE_mid < nRanges && starts[FAE_mid] <= g && g <= ends[FAE_mid]
                        ? FAE_mid
                        : RangeIndexOf(starts, ends, nRanges, g);
      const double d = Dist2(p, x, y, z, g);
      any = true;
      if (d < bestDistSq[r]) {
        bestDistSq[r] = d;
        bestIndex[r] = g;
      }
    }
  };
  scan(*cell);
  if (any) return;
  int n[3];
  double size[3];
  GridGeometry(grid, n, size);
  const int c[3] = {ix, iy, iz};
  for (int r = 1; r <= kRings; ++r) {
    if (!RingWorthScanning(c, r, n, size, searchDistSq)) return;
    VisitRing(c, r, n, scan);
  }
}

// ---- One surface ------------------------------------------------------------------------------
int SurfCloudDeviations(Bspline* srf, const Cloud* cloud, int refine, double maxDist,
                        double sinSqMaxAngle, double offset, int useShowMask, int* count,
                        const CloudDiffArrays& out) {
  *count = 0;
  // Points and samples are binned on a grid sized from their extent: each must be a point.
  if (!srf || srf->kind != 2 || !cloud || !RequiredArrays(out) || !BsplineSound(srf) || !CloudPointsFinite(cloud))
    return 0;
  const double maxDistSq = (maxDist + offset) * (maxDist + offset);
  const int n = cloud->npts;
  *count = n;
  const bool hasOffset = offset != 0.0;  // -0.0 counts as none
  TrackingScope scope;
  double box[4];
  ParameterBox(srf, box);
  const double e = std::min({0.01 * (box[1] - box[0]), 0.01 * (box[3] - box[2]), 1e-5});

  Samples g;
  const int gridCount = kSingleGrid * kSingleGrid;
  if (!g.Allocate(gridCount) || !SampleCellCentres(srf, box, kSingleGrid, kSingleGrid, g, 0))
    return 0;
  // Coefficients near the double range overflow the samples.
  for (int i = 0; i < gridCount; ++i)
    if (!std::isfinite(g.x[i]) || !std::isfinite(g.y[i]) || !std::isfinite(g.z[i])) return 0;
  const double weedOutDistSq = WeedOutDistSq(maxDistSq, kSingleGrid, kSingleGrid, g.x, g.y, g.z);
  const double first[3] = {g.x[0], g.y[0], g.z[0]};
  const double h = 0.2 * std::sqrt(5e-5 * Dist2(first, g.x, g.y, g.z, gridCount - 1));

  TrimSamples trims;
  const bool trimmed = srf->trims != nullptr;
  g.count = gridCount;
  if (trimmed) {
    if (!trims.Take(srf)) return 0;
    g.count = TrimSampleBlock(srf, trims, g, 0, gridCount, nullptr);
    if (g.count < 0) return 0;
  }
  Bins bins;
  if (!bins.Build(g.x, g.y, g.z, g.count, h)) return 0;
  const double onSurfaceSq = OnSurfaceSq(bins);

  Progress progress(n, "Difference Analysis");
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (!progress.Tick(i)) return 0;
    if (!Shown(cloud, useShowMask, i)) {
      --*count;
      continue;
    }
    double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    int b[3];
    bins.BinOf(p, b);
    int cell = b[0] + b[1] * bins.n[0] + b[2] * bins.n[0] * bins.n[1];
    double C[3], u = 0, v = 0, N[3] = {0, 0, 1};
    int sample = -1;
    double d2 = NearestSampleEstimate(p, bins.grid.get(), b[0], b[1], b[2], &cell, maxDistSq, g.x,
                                      g.y, g.z, g.u, g.v, C, &u, &v, &sample);
    double limit = weedOutDistSq, s = kNoValue;
    if (refine && sample >= 0) {
      double Cr[3], Nr[3], ur = u, vr = v, sr = 0, stepSq = 0;
      if (FindClosestUVPointGuessNorm(srf, p, Cr, &ur, &vr, &sr, &stepSq, 20, Nr) == 0 &&
          sr * sr <= d2) {
        for (int q = 0; q < 3; ++q) {
          C[q] = Cr[q];
          N[q] = Nr[q];
        }
        u = ur;
        v = vr;
        s = sr;
        d2 = sr * sr;
        limit = maxDistSq;
      }
    }
    if (d2 > limit) {
      --*count;
      continue;
    }
    bool boundary = false;
    if (trimmed && !trims.Inside(srf, u, v)) {
      boundary = true;
      d2 = trims.Nearest(p, &u, &v, C);
      if (d2 > maxDistSq) {
        --*count;
        continue;
      }
      s = kNoValue;
    } else if (refine && NearDomainEdge(box, u, v, e)) {
      boundary = true;
    }
    if (s > kUnset) {
      PointAndNormal(srf, u, v, C, N);
      double V[3];
      s = std::sqrt(d2);
      if (VecDotProd3(VecDiff3(p, C, V), N) < 0) s = -s;
    }
    if (hasOffset) MoveByOffset(p, C, N, d2, onSurfaceSq, offset, &s);
    if (sinSqMaxAngle < 1.0) {
      double V[3];
      VecDiff3(p, C, V);
      const double vv = VecDotProd3(V, V), vn = VecDotProd3(V, N);
      if (vv > onSurfaceSq && vn * vn / (VecDotProd3(N, N) * vv) < 1.0 - sinSqMaxAngle) {
        --*count;
        continue;
      }
    }
    if (refine && !boundary) ReprojectAlongNormal(p, N, onSurfaceSq, C, &s);
    WriteResult(out, k++, p, i, C, N, u, v, s);
  }
  progress.Done();
  return *count != 0 ? 1 : 0;
}

// ---- Several surfaces -------------------------------------------------------------------------
namespace {

// The nearest surface found for a point so far.
struct Nearest {
  int srf = -1;
  double d2 = kNoValue;
  double q[3] = {0, 0, 0};  // the point in that surface's own frame
  double C[3] = {0, 0, 0};
  double u = 0, v = 0;
  double s = kNoValue;  // signed distance, when set
  double N[3] = {0, 0, 1};
  bool boundary = false;  // on the trim boundary or near a side: its foot stays where it is
};

// The set-up every group search shares: one sample grid and bin grid over all surfaces, each
// surface's transform inverse, domain and trim samples.
class Group {
 public:
  Group(Bspline** srfs, int n, const Xform* xforms, double maxDistSq, int refine)
      : srfs_(srfs), n_(n), xforms_(xforms), maxDistSq_(maxDistSq), refine_(refine) {}

  bool Build() {
    starts_ = MallocArray<int>(n_);
    ends_ = MallocArray<int>(n_);
    moved_ = MallocArray<char>(n_);
    inverse_ = MallocArray<Xform>(n_);
    domain_ = MallocArray<double[4]>(n_);
    trims_ = MallocArray<TrimSamples>(n_);
    bestIndex_ = MallocArray<int>(n_);
    bestDistSq_ = MallocArray<double>(n_);
    if (!starts_ || !ends_ || !moved_ || !inverse_ || !domain_ || !trims_ || !bestIndex_ ||
        !bestDistSq_ || KernelFailed() || !samples_.Allocate(kGroupCapacity))
      return false;
    // Sample counts follow each surface's size against the whole group's.
    double lo[3] = {1.797693e308, 1.797693e308, 1.797693e308};
    double hi[3] = {-1.797693e308, -1.797693e308, -1.797693e308};
    for (int s = 0; s < n_; ++s) {
      double b[6];
      GetCPTValueExtent(srfs_[s], &b[0], &b[3], &b[1], &b[4], &b[2], &b[5]);
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], b[a]);
        hi[a] = std::max(hi[a], b[a + 3]);
      }
    }
    const double gscale = 0.01 * std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) +
                                           (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                           (hi[2] - lo[2]) * (hi[2] - lo[2]));
    double spacing = 0.0;
    int total = 0;
    for (int s = 0; s < n_; ++s) {
      Bspline* srf = srfs_[s];
      const int nu = SamplesAlong(srf, 3, 1, srf->degreeU, srf->interiorU, gscale);
      const int nv = SamplesAlong(srf, 2, 0, srf->degreeV, srf->interiorV, gscale);
      double box[4];
      ParameterBox(srf, box);
      double* dom = domain_[s];
      dom[0] = srf->umin;
      dom[1] = srf->umax;
      dom[2] = srf->vmin;
      dom[3] = srf->vmax;
      edge_ = std::min({edge_, 0.01 * (dom[1] - dom[0]), 0.01 * (dom[3] - dom[2])});
      if (!samples_.Reserve(total + nu * nv) ||
          !SampleCellCentres(srf, box, nu, nv, samples_, total))
        return false;
      const float *x = samples_.x + total, *y = samples_.y + total, *z = samples_.z + total;
      weedOut_ = std::max(weedOut_, WeedOutDistSq(maxDistSq_, nu, nv, x, y, z));
      const double first[3] = {x[0], y[0], z[0]};
      spacing = std::max(spacing, std::sqrt(Dist2(first, x, y, z, nu * nv - 1) /
                                            (static_cast<double>(nu) * nu + static_cast<double>(nv) * nv)));
      moved_[s] = xforms_ && not_identity_xform(xforms_[s]);
      if (moved_[s]) {
        if (mat_inverse4(xforms_[s], inverse_[s]) != 0) return false;
        for (int k = total; k < total + nu * nv; ++k) MoveSample(k, xforms_[s]);
      }
      int end = total + nu * nv;
      trims_[s] = TrimSamples();
      if (srf->trims) {
        if (!trims_[s].Take(srf)) return false;
        end = TrimSampleBlock(srf, trims_[s], samples_, total, nu * nv,
                              moved_[s] ? xforms_[s] : nullptr);
        if (end < 0) return false;
      }
      starts_[s] = total;
      ends_[s] = end - 1;
      total = end;
    }
    samples_.count = total;
    if (!samples_.Resize(total)) return false;
    return bins_.Build(samples_.x, samples_.y, samples_.z, total, 0.2 * spacing) &&
           !KernelFailed();
  }

  double Limit() const { return refine_ ? maxDistSq_ : weedOut_; }
  double OnSurface() const { return OnSurfaceSq(bins_); }
  Bspline* Surface(int s) const { return srfs_[s]; }

  // The nearest surface to the scene point p (Nearest::srf -1 when none was found).
  Nearest Find(const double p[3]) {
    int b[3];
    bins_.BinOf(p, b);
    int cell = b[0] + b[1] * bins_.n[0] + b[2] * bins_.n[0] * bins_.n[1];
    Nearest best;
    const Samples& g = samples_;
    if (!refine_) {
      double C[3], u = 0, v = 0;
      int at = -1;
      NearestSampleEstimate(p, bins_.grid.get(), b[0], b[1], b[2], &cell, maxDistSq_, g.x, g.y,
                            g.z, g.u, g.v, C, &u, &v, &at);
      if (at < 0) return best;
      best.srf = FAE_mid >= 0 && FAE_mid < n_ && starts_[FAE_mid] <= at && at <= ends_[FAE_mid]
                     ? FAE_mid
                     : RangeIndexOf(starts_, ends_, n_, at);
      ToFrame(best.srf, p, best.q);
      ToFrame(best.srf, C, best.C);
      best.d2 = Dist2(best.q, best.C);
      best.u = u;
      best.v = v;
      return best;
    }
    NearestSamplePerRange(p, bins_.grid.get(), b[0], b[1], b[2], &cell, maxDistSq_, g.x, g.y, g.z,
                          starts_, ends_, n_, bestIndex_, bestDistSq_);
    for (int s = 0; s < n_; ++s) {
      const int at = bestIndex_[s];
      if (at < 0 || bestDistSq_[s] > weedOut_) continue;
      Nearest cand;
      cand.srf = s;
      ToFrame(s, p, cand.q);
      const double sample[3] = {g.x[at], g.y[at], g.z[at]};
      ToFrame(s, sample, cand.C);
      cand.d2 = Dist2(cand.q, cand.C);
      cand.u = g.u[at];
      cand.v = g.v[at];
      if (cand.d2 < best.d2) best = cand;
      Refine(cand, 1, &best);
    }
    if (best.d2 < kUnset) {
      Nearest from = best;
      Refine(from, 6, &best);
    }
    return best;
  }

 private:
  static int SamplesAlong(Bspline* srf, int sideA, int sideB, int degree, int interior,
                          double gscale) {
    const double len = std::max(EstLenSurfEdge(srf, sideA), EstLenSurfEdge(srf, sideB));
    double k = gscale > 0.0 ? len / gscale : kSizeCap;
    if (!(k <= kSizeCap)) k = kSizeCap;
    int byLength = static_cast<int>(k);
    if (byLength < 3) byLength = 2;
    const int byKnots = std::max(degree - 1, 1) * (interior + 1);
    return std::min(std::max(byKnots, byLength), kMaxPerDirection);
  }
  void MoveSample(int k, const double* M) {
    double p[3] = {samples_.x[k], samples_.y[k], samples_.z[k]};
    VecTrans3(p, M, p);
    samples_.x[k] = static_cast<float>(p[0]);
    samples_.y[k] = static_cast<float>(p[1]);
    samples_.z[k] = static_cast<float>(p[2]);
  }
  void ToFrame(int s, const double p[3], double q[3]) const {
    if (moved_[s])
      VecTrans3(p, inverse_[s], q);
    else
      for (int k = 0; k < 3; ++k) q[k] = p[k];
  }
  // Refines cand on its surface with `iterations` steps from its (u, v), falls back to the trim
  // boundary outside the trim region, and makes the result the best when it is nearer. Every
  // comparison runs in the surface's own frame, trim samples included.
  void Refine(const Nearest& cand, int iterations, Nearest* best) {
    Nearest r = cand;
    Bspline* srf = srfs_[r.srf];
    double stepSq = 0;
    if (FindClosestUVPointGuessNorm(srf, r.q, r.C, &r.u, &r.v, &r.s, &stepSq, iterations, r.N) != 0)
      return;
    r.d2 = r.s * r.s;
    const TrimSamples* t = srf->trims ? &trims_[r.srf] : nullptr;
    if (t && !t->Inside(srf, r.u, r.v)) {
      double C[3];
      r.d2 = t->Nearest(r.q, &r.u, &r.v, C);
      Eval3DPointOnSurfCoord(srf, r.u, r.v, 0, 0, r.C);
      r.s = kNoValue;
      r.boundary = true;
    } else {
      r.boundary = NearDomainEdge(domain_[r.srf], r.u, r.v, edge_);
    }
    if (r.d2 < best->d2) *best = r;
  }

  Bspline** srfs_;
  int n_;
  const Xform* xforms_;
  double maxDistSq_;
  int refine_;
  Samples samples_;
  Bins bins_;
  int* starts_ = nullptr;
  int* ends_ = nullptr;
  char* moved_ = nullptr;
  Xform* inverse_ = nullptr;
  double (*domain_)[4] = nullptr;
  TrimSamples* trims_ = nullptr;
  int* bestIndex_ = nullptr;
  double* bestDistSq_ = nullptr;
  double weedOut_ = 0.0;
  double edge_ = 1e-5;
};

// Signed distance, foot and normal of a best whose distance the estimate gave: the foot is the
// surface point at the estimate's parameters.
void SetDistance(Bspline* srf, Nearest& b) {
  if (b.s <= kUnset) return;
  double V[3];
  PointAndNormal(srf, b.u, b.v, b.C, b.N);
  b.s = std::sqrt(b.d2);
  if (VecDotProd3(VecDiff3(b.q, b.C, V), b.N) < 0) b.s = -b.s;
}

}  // namespace

int SurfsCloudDeviations(Bspline** srfs, int nSrfs, const Xform* xforms, const Cloud* cloud,
                         int refine, double maxDist, double offset, int flagFar, int useShowMask,
                         int* count, const CloudDiffArrays& out) {
  if (nSrfs < 1 || nSrfs > kMaxSurfaces) return 0;
  *count = 0;
  if (!srfs || !cloud || !RequiredArrays(out) || !out.srfIndex || !Surfaces(srfs, nSrfs)) return 0;
  const double maxDistSq = (maxDist + offset) * (maxDist + offset);
  const int n = cloud->npts;
  *count = n;
  const bool hasOffset = offset != 0.0;  // -0.0 counts as none
  TrackingScope scope;
  Group group(srfs, nSrfs, xforms, maxDistSq, refine);
  if (!group.Build()) return 0;
  const double onSurfaceSq = group.OnSurface();
  Progress progress(n, "Surface(s) to Cloud Difference");
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (!progress.Tick(i)) return 0;
    if (!Shown(cloud, useShowMask, i)) {
      --*count;
      continue;
    }
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    Nearest b = group.Find(p);
    if (b.srf < 0 || b.d2 > group.Limit()) {
      if (!flagFar) {
        --*count;
        continue;
      }
      // The point keeps its slot, marked by surface -1, so the arrays stay in step.
      const double zero[3] = {0, 0, 0};
      WriteResult(out, k, p, i, p, zero, 0.0, 0.0, 0.0);
      out.srfIndex[k++] = -1;
      continue;
    }
    Bspline* srf = group.Surface(b.srf);
    SetDistance(srf, b);
    if (hasOffset) MoveByOffset(b.q, b.C, b.N, b.d2, onSurfaceSq, offset, &b.s);
    if (refine && !b.boundary) ReprojectAlongNormal(b.q, b.N, onSurfaceSq, b.C, &b.s);
    WriteResult(out, k, b.q, i, b.C, b.N, b.u, b.v, b.s);
    out.srfIndex[k++] = static_cast<int16_t>(b.srf);
  }
  progress.Done();
  return 1;
}

int SurfsCloudNormals(Bspline** srfs, int nSrfs, const Xform* xforms, const Cloud* cloud,
                      int refine, double maxDist, int* count, float* nx, float* ny, float* nz) {
  if (nSrfs < 1 || nSrfs > kMaxSurfaces) return 0;
  *count = 0;
  if (!srfs || !cloud || !nx || !ny || !nz || !Surfaces(srfs, nSrfs)) return 0;
  const int n = cloud->npts;
  *count = n;
  TrackingScope scope;
  Group group(srfs, nSrfs, xforms, maxDist * maxDist, refine);
  if (!group.Build()) return 0;
  Progress progress(n, "Surface(s) to Cloud Difference");
  for (int i = 0; i < n; ++i) {
    if (!progress.Tick(i)) return 0;
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    Nearest b = group.Find(p);
    double N[3] = {0, 0, 0};
    if (b.srf < 0 || b.d2 > group.Limit()) {
      --*count;
    } else {
      SetDistance(group.Surface(b.srf), b);
      double V[3];
      Unit(b.N, N);
      // Turned towards the point, whichever side of the surface it lies on.
      if (VecDotProd3(VecDiff3(b.q, b.C, V), N) < 0)
        for (double& c : N) c = -c;
    }
    nx[i] = static_cast<float>(N[0]);
    ny[i] = static_cast<float>(N[1]);
    nz[i] = static_cast<float>(N[2]);
  }
  progress.Done();
  return 1;
}
