#include "cloud/psort.h"

#include <cstring>
#include <utility>

#include "cloud/pcopy.h"
#include "foundation/coreglob.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"

namespace {

// from = the inverse of position, false when position is no permutation of 0..n-1.
bool Invert(const int* position, int n, int* from) {
  for (int i = 0; i < n; ++i) from[i] = -1;
  for (int k = 0; k < n; ++k) {
    const int p = position[k];
    if (p < 0 || p >= n || from[p] >= 0) return false;
    from[p] = k;
  }
  return true;
}

// The carrying step: every datum to its point's new place, triangles renumbered, slices freed.
// False (cloud unchanged) when position is no permutation or the coordinates cannot be had.
bool Carry(Cloud* cloud, const int* position) {
  const int n = cloud->npts;
  TrackingScope work;
  int* from = MallocArray<int>(n);
  if (!from || KernelFailed() || !Invert(position, n, from)) return false;
  Owned<Cloud, FreeCloud> moved(MallocNullCloud());
  if (!moved || !GatherCloudPoints(cloud, from, n, true, false, moved.get())) return false;
  const bool hadShow = cloud->isShow != nullptr;
  ReplaceCloudPoints(cloud, moved.get());
  for (int t = 0; t < cloud->ntri; ++t)
    for (int32_t& v : cloud->tri[t].v) v = position[v];
  if (cloud->isVert) {
    // Vertex bits are per point too; they are rebuilt rather than moved.
    if (!CloudSetIsVerts(cloud)) FreeAndNull(cloud->isVert);
  }
  if (hadShow && !cloud->isShow) {
    cloud->strideU = cloud->strideV = 1;
  } else {
    const int su = cloud->strideU;
    cloud->strideU = cloud->strideV;
    cloud->strideV = su;
  }
  FreeCloudSlice(cloud);
  return true;
}

bool InsideScans(const Cloud* c, const int* position) {
  for (int s = 0; s < c->nscans; ++s)
    for (int i = c->scanStart[s]; i <= c->scanEnd[s]; ++i)
      if (position[i] < c->scanStart[s] || position[i] > c->scanEnd[s]) return false;
  return true;
}

void DropScanDescription(Cloud* c) {
  FreeAndNull(c->scanStart);
  FreeAndNull(c->scanEnd);
  FreeAndNull(c->rowNumber);
  c->nscans = 0;
  c->type = 0;
}

}  // namespace

int ReorderPointsbyIndices(Cloud* cloud, const int* position) {
  if (!cloud || cloud->npts < 1 || !position) return 0;
  const bool ordered = cloud->type != 0 && cloud->scanStart && cloud->scanEnd;
  const bool keepsScans = ordered && InsideScans(cloud, position);
  if (!Carry(cloud, position)) return 0;
  if (cloud->type == 17) cloud->type = 13;
  if (ordered && !keepsScans) DropScanDescription(cloud);
  if (keepsScans) cloud->direction = 0;
  return 1;
}

int SortCldFarraysByIndices(Cloud* cloud, const int* position) {
  if (cloud->farrays.count <= 0) return 1;
  TrackingScope scope;
  float* tmp = MallocArray<float>(cloud->npts);
  if (!tmp || KernelFailed()) {
    FreeCloudFarrays(cloud);
    return 0;
  }
  for (int a = 0; a < cloud->farrays.count; ++a) {
    float* values = cloud->farrays.arrays[a];
    if (!values) continue;
    for (int k = 0; k < cloud->npts; ++k) tmp[position[k]] = values[k];
    std::memcpy(values, tmp, sizeof(float) * cloud->npts);
  }
  return 1;
}

void RearrangeCloudByStart(Cloud* cloud, int start) {
  if (!cloud || cloud->npts < 2 || start <= 0 || start >= cloud->npts) return;
  const int n = cloud->npts;
  TrackingScope scope;
  int* position = MallocArray<int>(n);
  if (!position || KernelFailed()) return;
  for (int k = 0; k < n; ++k) position[k] = (k - start + n) % n;
  ReorderPointsbyIndices(cloud, position);
}

int TransposeCloud(Cloud* cloud, int* position) {
  if (!cloud || cloud->npts < 1 || !position) return 0;
  const bool grid = cloud->type == 17 && cloud->scanStart && cloud->scanEnd;
  if (!grid && !cloud->rowNumber) return 0;
  const int n = cloud->npts;
  if (!ResetRowIndex(cloud)) return 0;
  for (int k = 0; k < n; ++k) position[k] = k;
  const bool scans = cloud->type != 0 && cloud->scanStart && cloud->scanEnd;
  const int oldScans = scans ? cloud->nscans : 1;
  int R = 0;
  if (!grid)
    for (int k = 0; k < n; ++k) R = cloud->rowNumber[k] + 1 > R ? cloud->rowNumber[k] + 1 : R;
  TrackingScope work;
  int* count = nullptr;
  int* first = nullptr;
  if (!grid && (!CallocArrayUnlessFailed(count, R) || !CallocArrayUnlessFailed(first, R))) return 0;
  TrackingScope made;  // what the cloud receives
  int32_t *start, *end;
  int16_t* newRow = nullptr;
  int newScans, longest;
  bool dropScans = false;
  if (grid) {
    const int S = cloud->nscans, P = cloud->ptsPerRow;
    if (S < 1 || P < 1 || static_cast<long>(S) * P != n) return 0;
    start = MallocArray<int32_t>(P);
    end = MallocArray<int32_t>(P);
    if (!start || !end || KernelFailed()) return 0;
    for (int s = 0; s < S; ++s)
      for (int j = 0; j < P; ++j) position[s * P + j] = j * S + s;
    for (int j = 0; j < P; ++j) start[j] = j * S, end[j] = (j + 1) * S - 1;
    newScans = P;
    longest = S;
  } else {
    start = MallocArray<int32_t>(R);
    end = MallocArray<int32_t>(R);
    newRow = MallocArray<int16_t>(n);
    if (!start || !end || !newRow || KernelFailed()) return 0;
    for (int k = 0; k < n; ++k) ++count[cloud->rowNumber[k]];
    for (int r = 0, sum = 0; r < R; ++r) first[r] = sum, sum += count[r];
    for (int r = 0; r < R; ++r) start[r] = first[r], end[r] = first[r] + count[r] - 1, count[r] = 0;
    // Visiting scans in order and points in scan order fixes each point's place in its row.
    for (int s = 0; s < oldScans; ++s) {
      const int a = scans ? cloud->scanStart[s] : 0, b = scans ? cloud->scanEnd[s] : n - 1;
      for (int k = a; k <= b; ++k) {
        const int r = cloud->rowNumber[k];
        position[k] = first[r] + count[r]++;
        newRow[position[k]] = static_cast<int16_t>(s);
      }
    }
    newScans = R;
    longest = oldScans;
    for (int r = 1; r < R; ++r)
      if (start[r] == end[r] && start[r - 1] == end[r - 1]) dropScans = true;
  }
  if (!Carry(cloud, position)) {
    for (int k = 0; k < n; ++k) position[k] = k;
    return 0;
  }
  made.keep();
  Free(cloud->scanStart);
  Free(cloud->scanEnd);
  cloud->scanStart = start;
  cloud->scanEnd = end;
  cloud->nscans = newScans;
  cloud->ptsPerRow = longest;
  if (grid) {
    CloudGrid& g = cloud->grid;
    std::swap(g.rowOrigin, g.colOrigin);
    std::swap(g.rowStep, g.colStep);
    std::swap(g.rowAxis, g.colAxis);
    const int height = 3 - g.rowAxis - g.colAxis;
    for (int a = 0; a < 3; ++a) g.heightAxis[a] = a == height ? 1.0 : 0.0;
  } else {
    Free(cloud->rowNumber);
    cloud->rowNumber = newRow;
    cloud->type = 13;
    if (dropScans) {
      FreeAndNull(cloud->scanStart);
      FreeAndNull(cloud->scanEnd);
      cloud->nscans = 0;
      cloud->type = 0;
    }
  }
  return 1;
}

void FindClosestScanAndDistsq(const float* sx, const float* sy, const float* sz, const float* ex, const float* ey,
                              const float* ez, int nscans, int s, const int* degree, const int* pathEnd,
                              int* closest, double* distsq) {
  *closest = -1;
  *distsq = 3.37e38;
  auto d2 = [](double ax, double ay, double az, double bx, double by, double bz) {
    return (ax - bx) * (ax - bx) + (ay - by) * (ay - by) + (az - bz) * (az - bz);
  };
  for (int t = 0; t < nscans; ++t) {
    if (t == s || degree[t] >= 2 || pathEnd[s] == t || pathEnd[t] == s) continue;
    const double d[4] = {d2(sx[t], sy[t], sz[t], sx[s], sy[s], sz[s]), d2(ex[t], ey[t], ez[t], sx[s], sy[s], sz[s]),
                         d2(sx[t], sy[t], sz[t], ex[s], ey[s], ez[s]), d2(ex[t], ey[t], ez[t], ex[s], ey[s], ez[s])};
    for (double v : d)
      if (v < *distsq) *distsq = v, *closest = t;
  }
}

// Method: every scan proposes its nearest free neighbour; the proposals are taken shortest
// first into a list, joining scans into paths (never closing a path into a ring); a scan
// whose proposal was refused or used up proposes again and its record moves to its new place
// in the list. The one path is then read off from one of its ends, and each scan is turned to
// run like the one before it.
int OrderCloudScans(Cloud* cloud, int* order, char* reversed) {
  if (!cloud || !cloud->scanStart || !cloud->scanEnd || cloud->nscans < 1 || !order || !reversed) return 0;
  const int N = cloud->nscans, n = cloud->npts;
  TrackingScope work;
  float *sx = MallocArray<float>(N), *sy = MallocArray<float>(N), *sz = MallocArray<float>(N);
  float *ex = MallocArray<float>(N), *ey = MallocArray<float>(N), *ez = MallocArray<float>(N);
  int *link = MallocArray<int>(2 * N), *degree = CallocArray<int>(N), *pathEnd = MallocArray<int>(N);
  int *partner = MallocArray<int>(N), *prev = MallocArray<int>(N), *next = MallocArray<int>(N);
  int* ids = MallocArray<int>(N);
  double* dist = MallocArray<double>(N);
  double* keys = MallocArray<double>(N);
  int* placeOrder = MallocArray<int>(N);
  char* turned = CallocArray<char>(N);
  if (!sx || !sy || !sz || !ex || !ey || !ez || !link || !degree || !pathEnd || !partner || !prev || !next ||
      !ids || !dist || !keys || !placeOrder || !turned || KernelFailed())
    return 0;
  for (int s = 0; s < N; ++s) {
    const int a = cloud->scanStart[s], b = cloud->scanEnd[s];
    if (a < 0 || b >= n || b < a) return 0;
    sx[s] = cloud->x[a], sy[s] = cloud->y[a], sz[s] = cloud->z[a];
    ex[s] = cloud->x[b], ey[s] = cloud->y[b], ez[s] = cloud->z[b];
    link[2 * s] = link[2 * s + 1] = -1;
    pathEnd[s] = s;
  }
  // Record r belongs to scan r: its partner and squared distance.
  for (int s = 0; s < N; ++s) {
    FindClosestScanAndDistsq(sx, sy, sz, ex, ey, ez, N, s, degree, pathEnd, &partner[s], &dist[s]);
    keys[s] = dist[s];
    ids[s] = s;
  }
  HeapSort2FloatInt4(N, keys, ids);
  for (int i = 0; i < N; ++i) prev[ids[i]] = i > 0 ? ids[i - 1] : -1, next[ids[i]] = i + 1 < N ? ids[i + 1] : -1;
  int joins = 0;
  // A refused record moves on in the list; the cap only guards against a list that never
  // empties (every pass either joins or moves a record behind the walk).
  long steps = 0;
  const long maxSteps = 4L * N * N + 16;
  for (int cur = N > 0 ? ids[0] : -1; cur >= 0 && joins < N - 1 && next[cur] >= 0 && steps < maxSteps; ++steps) {
    const int following = next[cur];
    const int a = cur, b = partner[cur];
    if (degree[a] == 2) {
      cur = following;
      continue;
    }
    if (b >= 0 && degree[b] < 2 && pathEnd[a] != b) {
      link[2 * a + (link[2 * a] >= 0)] = b;
      link[2 * b + (link[2 * b] >= 0)] = a;
      const int ea = pathEnd[a], eb = pathEnd[b];
      pathEnd[ea] = eb;
      pathEnd[eb] = ea;
      ++degree[a], ++degree[b], ++joins;
    }
    if (degree[a] < 2) {
      FindClosestScanAndDistsq(sx, sy, sz, ex, ey, ez, N, a, degree, pathEnd, &partner[a], &dist[a]);
      int r = cur;
      while (next[r] >= 0 && dist[next[r]] < dist[a]) r = next[r];
      if (r != cur) {
        // Unlink cur, then put it after r.
        if (prev[cur] >= 0) next[prev[cur]] = next[cur];
        if (next[cur] >= 0) prev[next[cur]] = prev[cur];
        prev[cur] = r;
        next[cur] = next[r];
        if (next[r] >= 0) prev[next[r]] = cur;
        next[r] = cur;
      }
    }
    cur = following;
  }
  int begin = 0;
  while (begin < N && link[2 * begin + 1] >= 0) ++begin;
  if (begin == N) return 0;
  int placed = 0;
  for (int from = -1, at = begin; at >= 0 && placed < N;) {
    placeOrder[placed++] = at;
    const int l0 = link[2 * at], l1 = link[2 * at + 1];
    const int to = l0 >= 0 && l0 != from ? l0 : (l1 >= 0 && l1 != from ? l1 : -1);
    from = at;
    at = to;
  }
  if (placed < N) return 0;
  // Each scan is turned to run like the one before it.
  auto d2 = [&](int p, int q) {
    const double dx = double(cloud->x[p]) - cloud->x[q], dy = double(cloud->y[p]) - cloud->y[q],
                 dz = double(cloud->z[p]) - cloud->z[q];
    return dx * dx + dy * dy + dz * dz;
  };
  auto firstOf = [&](int s) { return turned[s] ? cloud->scanEnd[s] : cloud->scanStart[s]; };
  auto lastOf = [&](int s) { return turned[s] ? cloud->scanStart[s] : cloud->scanEnd[s]; };
  bool identity = true;
  for (int p = 0; p < N; ++p) {
    identity = identity && placeOrder[p] == p;
    if (p == 0) continue;
    const int a = placeOrder[p - 1], b = placeOrder[p];
    const double same = d2(firstOf(a), firstOf(b)) + d2(lastOf(a), lastOf(b));
    const double cross = d2(firstOf(b), lastOf(a)) + d2(lastOf(b), firstOf(a));
    if (cross < same) turned[b] = 1;
  }
  bool anyTurned = false;
  for (int s = 0; s < N; ++s) anyTurned = anyTurned || turned[s];
  for (int p = 0; p < N; ++p) order[p] = placeOrder[p];
  for (int s = 0; s < N; ++s) reversed[s] = turned[s];
  if (identity && !anyTurned) return 1;

  int* position = MallocArray<int>(n);
  if (!position || KernelFailed()) return 0;
  for (int k = 0; k < n; ++k) position[k] = k;  // points after the last scan stay where they are
  TrackingScope made;
  int32_t* start = MallocArray<int32_t>(N);
  int32_t* end = MallocArray<int32_t>(N);
  if (!start || !end || KernelFailed()) return 0;
  int at = cloud->scanStart[0];
  for (int p = 0; p < N; ++p) {
    const int s = placeOrder[p], a = cloud->scanStart[s], b = cloud->scanEnd[s];
    start[p] = at;
    for (int i = 0; i <= b - a; ++i) position[turned[s] ? b - i : a + i] = at++;
    end[p] = at - 1;
  }
  if (!Carry(cloud, position)) return 0;
  made.keep();
  Free(cloud->scanStart);
  Free(cloud->scanEnd);
  cloud->scanStart = start;
  cloud->scanEnd = end;
  cloud->type = 13;
  cloud->direction = 0;
  FreeAndNull(cloud->rowNumber);
  return 1;
}
