#include "quadric/premove.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"
#include "quadric/sphere.h"

namespace {

// Neighbours closer than this fraction of the radius to one place count as one heap.
constexpr double kHeap = 1e-6;

// True when more than half of the m neighbours lie within kHeap radius of their coordinate-wise
// (lower) median: a heap of coincident points (garbage records of tiny values read as floats put
// thousands at the origin) that fixes one place, not a sphere. The fit is then not tried, as
// when it fails, and the point is kept; a scan's neighbourhood never looks so, and the fits over
// thousands of points each it would cost are what made such files take minutes.
bool MostlyOneHeap(const float* x, const float* y, const float* z, const int32_t* near, int m, double radius,
                   float* scratch) {
  double median[3];
  const float* axes[3] = {x, y, z};
  for (int a = 0; a < 3; ++a) {
    for (int k = 0; k < m; ++k) scratch[k] = axes[a][near[k]];
    std::nth_element(scratch, scratch + m / 2, scratch + m);
    median[a] = scratch[m / 2];
  }
  const double reach2 = (kHeap * radius) * (kHeap * radius);
  int inHeap = 0;
  for (int k = 0; k < m; ++k) {
    const double dx = x[near[k]] - median[0], dy = y[near[k]] - median[1], dz = z[near[k]] - median[2];
    inHeap += dx * dx + dy * dy + dz * dz <= reach2;
  }
  return 2 * inHeap > m;
}

// Sorts the m distinct point indices ascending; where they are as many as the words of a bit
// per point, by marking them in seen (all zero, and left so) and reading the marks back.
void IndexOrder(int32_t* near, int m, uint64_t* seen, int words) {
  if (m < words) {
    std::sort(near, near + m);
    return;
  }
  for (int k = 0; k < m; ++k) seen[near[k] >> 6] |= uint64_t(1) << (near[k] & 63);
  int k = 0;
  for (int w = 0; w < words; ++w)
    for (uint64_t bits = seen[w]; bits; bits &= bits - 1) near[k++] = 64 * w + __builtin_ctzll(bits);
  std::fill(seen, seen + words, uint64_t(0));
}

}  // namespace

int OutlierRemove(Cloud* cloud, double radius, double tol, int useSphere) {
  if (!cloud) return 0;
  const int n = cloud->npts;
  if (n < 1) return 1;
  // The neighbour grid is sized from the points' extent and the radius: both must be lengths.
  if (!(radius > 0.0) || !std::isfinite(radius * radius) || !(tol >= 0.0) || !std::isfinite(tol * tol) ||
      !CloudPointsFinite(cloud))
    return 0;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  TrackingScope scope;
  char* keep = MallocArray<char>(n);
  int32_t* near = MallocArray<int32_t>(n);
  float* nx = MallocArray<float>(n);
  float* ny = MallocArray<float>(n);
  float* nz = MallocArray<float>(n);
  float* scratch = useSphere ? MallocArray<float>(n) : nullptr;
  if (!keep || !near || !nx || !ny || !nz || (useSphere && !scratch) || KernelFailed()) return 0;
  double box[6];
  GetCloudMinMax(cloud, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  Owned<Subdiv, FreeSubdiv> grid(
      SubdivideArrays(x, y, z, n, box[0], box[1], box[2], box[3], box[4], box[5], radius, SubdivDivisionsFor(n, box)));
  if (!grid || KernelFailed()) return 0;
  // A point in a crowded cell (a few points far beyond the rest put all others into one) finds
  // its neighbours in a balanced tree instead of measuring all the cell holds.
  Owned<NearTree, FreeNearTree> tree;
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  const int words = (n + 63) / 64;
  uint64_t* seen = nullptr;
  for (int c = 0; c < ncells && !tree; ++c)
    if (grid->cells[c].count > kCrowdedCells) {
      tree.reset(BuildNearTree(x, y, z, n));
      seen = CallocArray<uint64_t>(words);
      if (!tree || !seen || KernelFailed()) return 0;
    }
  const double r2 = radius * radius, tol2 = tol * tol;

  Thermometer thermo(nullptr);
  StatusMessageFormat("%s", MSGstr("Remove 3D outlier points"));  // stays on the status line
  PercentMarks marks(n);
  for (int i = 0; i < n; ++i) {
    if (user_break()) return 0;
    int percent;
    if (marks.Due(i, &percent)) thermo.set(percent);
    const double p[3] = {x[i], y[i], z[i]};
    const SubdivCell& c = grid->cells[grid->ownCell[i]];
    int m = 0;
    if (c.count > kCrowdedCells) {
      SearchNearTree(*tree, p, [r2] { return r2; }, [&](int j, double d2) {
        if (j != i && d2 <= r2) near[m++] = j;
      });
    } else {
      for (int k = 0; k < c.count; ++k) {
        const int j = c.items[k];
        const double dx = x[j] - p[0], dy = y[j] - p[1], dz = z[j] - p[2];
        if (j != i && dx * dx + dy * dy + dz * dz <= r2) near[m++] = j;
      }
    }
    keep[i] = m > 0;
    if (m < 4) continue;  // too few to fit: kept on trust
    if (useSphere && MostlyOneHeap(x, y, z, near, m, radius, scratch)) continue;  // kept
    // The fits see the neighbours in the cloud's order, as the cell lists them.
    if (c.count > kCrowdedCells) IndexOrder(near, m, seen, words);
    for (int k = 0; k < m; ++k) nx[k] = x[near[k]], ny[k] = y[near[k]], nz[k] = z[near[k]];
    if (useSphere) {
      double centre[3], r, err;
      if (FitSphereNewton(nx, ny, nz, m, centre, &r, &err) != 0) {
        if (memory_error == 1) return 0;
        ClearKernelError();  // a failed local fit keeps the point; it fails nothing else
        continue;
      }
      const double d = std::sqrt((p[0] - centre[0]) * (p[0] - centre[0]) + (p[1] - centre[1]) * (p[1] - centre[1]) +
                                 (p[2] - centre[2]) * (p[2] - centre[2]));
      keep[i] = std::fabs(d - r) <= tol;
    } else {
      PlaneEq plane;
      if (!PlaneFit(nx, ny, nz, m, plane)) continue;
      double foot[3], d2;
      PlaneMinDistSq(p, plane[0], plane[1], plane[2], plane[3], foot, &d2);
      keep[i] = d2 <= tol2;
    }
  }
  thermo.finish();
  grid.reset();
  tree.reset();
  return SampleCloudBasedOnArray(cloud, keep) ? 1 : 0;
}
