#include "cloud/premove.h"

#include <algorithm>
#include <cmath>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "foundation/coreglob.h"
#include "foundation/mathmat.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

int ReliabilitySample(Cloud* cloud, int minReliability) {
  if (!cloud || !cloud->reliability) return 0;
  TrackingScope scope;
  char* keep = MallocArray<char>(cloud->npts);
  if ((!keep && cloud->npts > 0) || KernelFailed()) return 0;
  for (int i = 0; i < cloud->npts; ++i) keep[i] = int(cloud->reliability[i]) >= minReliability;
  return SampleCloudBasedOnArray(cloud, keep) ? 1 : 0;
}

int GetMinMaxReliability(const Cloud* cloud, int* min, int* max) {
  *min = 255, *max = 0;
  if (!cloud || !cloud->reliability) return 0;
  for (int i = 0; i < cloud->npts; ++i) {
    const int r = cloud->reliability[i];
    if (r < *min) *min = r;
    if (r > *max) *max = r;
  }
  return 1;
}

int CutCloudByPlane(const Cloud* cloud, double a, double b, double c, double d, Cloud** above, Cloud** below,
                    double* boxAbove, double* boxBelow) {
  *above = *below = nullptr;
  if (!cloud) return 0;
  double n[3] = {a, b, c};
  if (NormalizeVector(n, 3, 1e-6) != 0) return 0;
  // A point of the plane on the first axis the normal leans on, from the given (unscaled)
  // coefficient so that d keeps its meaning.
  const double given[3] = {a, b, c};
  double o[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < 3; ++k)
    if (std::fabs(n[k]) > 0.5) {
      o[k] = -d / given[k];
      break;
    }
  const int npts = cloud->npts;
  TrackingScope scope;
  unsigned char* up = MallocArray<unsigned char>(npts);
  unsigned char* down = MallocArray<unsigned char>(npts);
  if (!up || !down || KernelFailed()) return 0;
  for (int i = 0; i < npts; ++i) {
    const double s = (cloud->x[i] - o[0]) * n[0] + (cloud->y[i] - o[1]) * n[1] + (cloud->z[i] - o[2]) * n[2];
    up[i] = s >= 0.0;
    down[i] = s <= 0.0;
  }
  *above = CreateCloudBasedOnArray(cloud, up, boxAbove);
  if (KernelFailed()) return 0;
  *below = CreateCloudBasedOnArray(cloud, down, boxBelow);
  if (KernelFailed()) return 0;
  return 1;
}

int RemoveScatteredPoints(Cloud* cloud, double dist) {
  if (!cloud || cloud->npts < 3) {
    // The count in the text is the host's long-standing wording.
    InfoMessageFormat("%s", MSGstr("At least 2 points required"));
    return -2;
  }
  const int n = cloud->npts;
  TrackingScope scope;
  char* keep = MallocArray<char>(n);
  if (!keep || KernelFailed()) {
    ClearKernelError();
    return -2;
  }
  const double d2 = dist * dist;
  auto gap = [&](int i) {
    const double dx = double(cloud->x[i + 1]) - cloud->x[i], dy = double(cloud->y[i + 1]) - cloud->y[i],
                 dz = double(cloud->z[i + 1]) - cloud->z[i];
    return dx * dx + dy * dy + dz * dz;
  };
  int kept = 0;
  double before = kNoValue;  // the gap before point 0
  for (int i = 0; i + 1 < n; ++i) {
    const double after = gap(i);
    keep[i] = !(after >= d2 && before >= d2);
    before = after;
    kept += keep[i];
  }
  keep[n - 1] = before <= d2;
  kept += keep[n - 1];
  if (kept == 0 || kept == n) return 0;
  return SampleCloudBasedOnArray(cloud, keep) ? 0 : -2;
}

namespace {

template <class T>
int RemoveConsecutive(T* x, T* y, T* z, int n, double tol) {
  if (n <= 1) return n;
  TrackingScope scope;
  // The kept points are gathered first, so a failed allocation leaves the arrays as they were.
  T* kx = MallocArray<T>(n);
  T* ky = MallocArray<T>(n);
  T* kz = z ? MallocArray<T>(n) : nullptr;
  if (!kx || !ky || (z && !kz) || KernelFailed()) return -2;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const bool dup = i > 0 && std::fabs(double(x[i]) - x[i - 1]) <= tol &&
                     std::fabs(double(y[i]) - y[i - 1]) <= tol && (!z || std::fabs(double(z[i]) - z[i - 1]) <= tol);
    if (dup) continue;
    kx[m] = x[i];
    ky[m] = y[i];
    if (z) kz[m] = z[i];
    ++m;
  }
  for (int i = 0; i < m; ++i) {
    x[i] = kx[i];
    y[i] = ky[i];
    if (z) z[i] = kz[i];
  }
  return m;
}

double Dist2(double ax, double ay, double az, double bx, double by, double bz) {
  return (ax - bx) * (ax - bx) + (ay - by) * (ay - by) + (az - bz) * (az - bz);
}

}  // namespace

int RemoveDuplicates(float* x, float* y, float* z, int n, double tol) { return RemoveConsecutive(x, y, z, n, tol); }

int RemoveDuplicates_d(double* x, double* y, double* z, int n, double tol) {
  return RemoveConsecutive(x, y, z, n, tol);
}

int RemoveDuplicatePoints(float* x, float* y, float* z, int n, int* index, double tol) {
  for (int i = 0; i < n; ++i) index[i] = i;
  if (n <= 1) return n;
  TrackingScope scope;
  char* mask = MallocArray<char>(n);
  if (!mask || KernelFailed() || !DuplicatePointsIndices(x, y, z, n, tol, mask)) {
    for (int i = 0; i < n; ++i) index[i] = i;
    return n;
  }
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (!mask[i]) continue;
    x[m] = x[i], y[m] = y[i], z[m] = z[i];
    index[m++] = i;
  }
  return m;
}

int JoinPointSetsToTol(const float* x1, const float* y1, const float* z1, int n1, const float* x2,
                       const float* y2, const float* z2, int n2, float* xo, float* yo, float* zo, int* map,
                       double tol) {
  n1 = std::max(n1, 0), n2 = std::max(n2, 0);
  if ((n1 > 0 && (!x1 || !y1 || !z1)) || (n2 > 0 && (!x2 || !y2 || !z2)) ||
      (n1 + n2 > 0 && (!xo || !yo || !zo || !map))) {
    SetKernelError(-2);
    return 0;
  }
  const int n = n1 + n2;
  for (int i = 0; i < n1; ++i) xo[i] = x1[i], yo[i] = y1[i], zo[i] = z1[i];
  for (int j = 0; j < n2; ++j) xo[n1 + j] = x2[j], yo[n1 + j] = y2[j], zo[n1 + j] = z2[j];
  for (int i = 0; i < n; ++i) map[i] = i;
  if (n1 <= 0) return n2;
  if (n2 <= 0) return n1;
  TrackingScope scope;
  int* ids = MallocArray<int>(n);
  if (!ids || KernelFailed()) return n;
  for (int i = 0; i < n; ++i) ids[i] = i;
  SortXYZIndex_f(xo, yo, zo, ids, n1);
  SortXYZIndex_f(xo + n1, yo + n1, zo + n1, ids + n1, n2);
  for (int i = 0; i < n1; ++i) map[ids[i]] = i;
  const double tol2 = tol * tol;
  // Set 2 ascends in x: the set-1 pointer only moves on, and candidates lie within tol in x.
  int w = n1, p = 0;
  for (int j = n1; j < n; ++j) {
    const double qx = xo[j], qy = yo[j], qz = zo[j];
    while (p < n1 && xo[p] + tol < qx) ++p;
    int hit = -1;
    if (p < n1) {
      for (int k = p; k >= 0 && std::fabs(xo[k] - qx) <= tol && hit < 0; --k)
        if (Dist2(xo[k], yo[k], zo[k], qx, qy, qz) < tol2) hit = k;
      for (int k = p + 1; k < n1 && std::fabs(xo[k] - qx) <= tol && hit < 0; ++k)
        if (Dist2(xo[k], yo[k], zo[k], qx, qy, qz) < tol2) hit = k;
    }
    if (hit >= 0) {
      map[ids[j]] = hit;
      continue;
    }
    xo[w] = float(qx), yo[w] = float(qy), zo[w] = float(qz);
    map[ids[j]] = w++;
  }
  return w;
}

int SubtractCloudsIndex(const float* xa, const float* ya, const float* za, const float* xb, const float* yb,
                        const float* zb, int na, int nb, const double* xform, double tol, int /*spare*/, char* keep) {
  for (int i = 0; i < na; ++i) keep[i] = 0;
  const int n = na + nb;
  if (na <= 0) return 1;
  TrackingScope scope;
  float* x = MallocArray<float>(n);
  float* y = MallocArray<float>(n);
  float* z = MallocArray<float>(n);
  int* ids = MallocArray<int>(n);
  char* covered = CallocArray<char>(na);
  if (!x || !y || !z || !ids || !covered || KernelFailed()) return 0;
  const bool move = xform && not_identity_xform(xform);
  for (int j = 0; j < nb; ++j) {
    double p[3] = {xb[j], yb[j], zb[j]};
    if (move) VecTrans3(p, xform, p);
    x[j] = float(p[0]), y[j] = float(p[1]), z[j] = float(p[2]);
    ids[j] = j;
  }
  for (int i = 0; i < na; ++i) x[nb + i] = xa[i], y[nb + i] = ya[i], z[nb + i] = za[i], ids[nb + i] = nb + i;
  SortXYZIndex_f(x, y, z, ids, n);
  int* seen = MallocArray<int>(nb > 0 ? nb : 1);
  if (!seen || KernelFailed()) return 0;
  const double tol2 = tol * tol;
  // Two passes, each walking back over the B points met so far while they lie within tol in x:
  // the ascending pass finds covering B points at or below an A point's x, the descending one
  // those above it.
  auto pass = [&](int from, int to, int step) {
    int m = 0;
    for (int k = from; k != to; k += step) {
      if (ids[k] < nb) {
        seen[m++] = k;
        continue;
      }
      const int a = ids[k] - nb;
      for (int s = m - 1; s >= 0 && !covered[a] && std::fabs(double(x[seen[s]]) - x[k]) <= tol; --s)
        if (Dist2(x[seen[s]], y[seen[s]], z[seen[s]], x[k], y[k], z[k]) < tol2) covered[a] = 1;
    }
  };
  pass(0, n, 1);
  pass(n - 1, -1, -1);
  for (int i = 0; i < na; ++i) keep[i] = !covered[i];
  return 1;
}

namespace {

// boundary[v] = 1 for the vertices of the mesh with fewer triangles around them than distinct
// other vertices on those triangles (an open fan). False on no memory.
bool MarkBoundaryVertices(const Cloud* mesh, char* boundary) {
  const int n = mesh->npts;
  for (int v = 0; v < n; ++v) boundary[v] = 0;
  if (mesh->ntri < 1 || !mesh->tri) return true;
  TrackingScope scope;
  IndexNode** heads = NewPolyPointers(mesh);
  int room = 20;
  int32_t* others = MallocArray<int32_t>(room);
  if (!heads || !others || KernelFailed()) return false;
  for (int v = 0; v < n; ++v) {
    int triangles = 0, distinct = 0;
    for (const IndexNode* node = heads[v]; node; node = node->next) {
      ++triangles;
      for (int32_t w : mesh->tri[node->index].v) {
        if (w == v || IntInArray(w, others, distinct, nullptr)) continue;
        if (distinct == room) {
          int32_t* grown = ReallocArray(others, 2 * room);
          if (!grown) return false;
          others = grown, room *= 2;
        }
        others[distinct++] = w;
      }
    }
    boundary[v] = triangles < distinct;
  }
  return true;
}

}  // namespace

int JoinCloudSetsToTol(const Cloud* a, const Cloud* b, float* xo, float* yo, float* zo, int* map, double tol) {
  if (!a || !b || !MeshCornersNamePoints(a, nullptr) || !MeshCornersNamePoints(b, nullptr)) return 0;
  const int na = a->npts, nb = b->npts;
  TrackingScope scope;
  char* onA = MallocArray<char>(na > 0 ? na : 1);
  char* onB = MallocArray<char>(nb > 0 ? nb : 1);
  if (!onA || !onB || KernelFailed() || !MarkBoundaryVertices(a, onA) || !MarkBoundaryVertices(b, onB)) return 0;
  int ma = 0, mb = 0;
  for (int v = 0; v < na; ++v) ma += onA[v];
  for (int v = 0; v < nb; ++v) mb += onB[v];
  const int m = ma + mb > 0 ? ma + mb : 1;
  float* bx = MallocArray<float>(m);
  float* by = MallocArray<float>(m);
  float* bz = MallocArray<float>(m);
  float* jx = MallocArray<float>(m);
  float* jy = MallocArray<float>(m);
  float* jz = MallocArray<float>(m);
  int* joined = MallocArray<int>(m);
  int* claimed = MallocArray<int>(m);
  if (!bx || !by || !bz || !jx || !jy || !jz || !joined || !claimed || KernelFailed()) return 0;
  int k = 0;
  for (int v = 0; v < na; ++v)
    if (onA[v]) bx[k] = a->x[v], by[k] = a->y[v], bz[k] = a->z[v], ++k;
  for (int v = 0; v < nb; ++v)
    if (onB[v]) bx[k] = b->x[v], by[k] = b->y[v], bz[k] = b->z[v], ++k;
  JoinPointSetsToTol(bx, by, bz, ma, bx + ma, by + ma, bz + ma, mb, jx, jy, jz, joined, tol);
  if (KernelFailed()) return 0;
  for (int q = 0; q < m; ++q) claimed[q] = -1;
  // The points of a keep their indices; its boundary vertices claim their joined places.
  k = 0;
  for (int v = 0; v < na; ++v) {
    xo[v] = a->x[v], yo[v] = a->y[v], zo[v] = a->z[v];
    map[v] = v;
    if (!onA[v]) continue;
    const int q = joined[k++];
    xo[v] = jx[q], yo[v] = jy[q], zo[v] = jz[q];
    claimed[q] = v;
  }
  // A boundary vertex of b whose place is claimed was merged into that vertex and is not output.
  int out = na;
  for (int v = 0; v < nb; ++v) {
    if (onB[v]) {
      const int q = joined[k++];
      if (claimed[q] >= 0) {
        map[na + v] = claimed[q];
        continue;
      }
      claimed[q] = out;
    }
    xo[out] = b->x[v], yo[out] = b->y[v], zo[out] = b->z[v];
    map[na + v] = out++;
  }
  return out;
}
