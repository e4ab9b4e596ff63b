#include "cloud/psort.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "cloud/cldpoly.h"
#include "cloud/pcopy.h"
#include "cloud/premove.h"
#include "cloud/psample.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/minmax.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "platform/tstubs.h"

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

// The carrying step: entry j of every per-point datum becomes that of point from[j] (k entries,
// no point twice); triangles follow their corners and a triangle that lost a corner goes; vertex
// bits are rebuilt, a slice record is freed. A datum that cannot be had is dropped (losing isShow
// sets the strides to 1). False (cloud unchanged) when the coordinates cannot be had.
bool CarryPoints(Cloud* cloud, const int* from, int k) {
  const int n = cloud->npts;
  TrackingScope work;
  int* to = MallocArray<int>(n);
  if (!to || KernelFailed()) return false;
  for (int i = 0; i < n; ++i) to[i] = -1;
  for (int j = 0; j < k; ++j) to[from[j]] = j;
  Owned<Cloud, FreeCloud> moved(MallocNullCloud());
  if (!moved || !GatherCloudPoints(cloud, from, k, true, false, moved.get())) return false;
  const bool hadShow = cloud->isShow != nullptr;
  ReplaceCloudPoints(cloud, moved.get());
  int kept = 0;
  for (int t = 0; t < cloud->ntri; ++t) {
    CloudTriangle tri = cloud->tri[t];
    bool whole = true;
    for (int32_t& v : tri.v) whole = whole && v >= 0 && v < n && (v = to[v]) >= 0;
    if (whole) cloud->tri[kept++] = tri;
  }
  if (cloud->ntri > 0 && kept == 0) FreeCloudPolygons(cloud);
  cloud->ntri = kept;
  if (cloud->isVert) {
    // Vertex bits are per point too; they are rebuilt rather than moved.
    if (!CloudSetIsVerts(cloud)) FreeAndNull(cloud->isVert);
  }
  if (hadShow && !cloud->isShow) cloud->strideU = cloud->strideV = 1;
  FreeCloudSlice(cloud);
  return true;
}

// CarryPoints for a permutation (position: the new place of every point), the strides exchanged
// (a legacy quirk of the transposition that shares this step). False (cloud unchanged) when
// position is no permutation or the coordinates cannot be had.
bool Carry(Cloud* cloud, const int* position) {
  const int n = cloud->npts;
  TrackingScope work;
  int* from = MallocArray<int>(n);
  if (!from || KernelFailed() || !Invert(position, n, from)) return false;
  const bool hadShow = cloud->isShow != nullptr;
  if (!CarryPoints(cloud, from, n)) return false;
  if (!hadShow || cloud->isShow) std::swap(cloud->strideU, cloud->strideV);
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
  if (!cloud || cloud->npts < 1 || !position || !CloudScansNamePoints(cloud)) return 0;
  const bool ordered = cloud->type != 0 && cloud->scanStart && cloud->scanEnd;
  const bool keepsScans = ordered && InsideScans(cloud, position);
  if (!Carry(cloud, position)) return 0;
  if (cloud->type == 17) cloud->type = 13;
  if (ordered && !keepsScans) DropScanDescription(cloud);
  if (keepsScans) cloud->direction = 0;
  return 1;
}

int SortCldFarraysByIndices(Cloud* cloud, const int* position) {
  if (!cloud) return 0;
  if (cloud->farrays.count <= 0) return 1;
  if (!position) return 0;
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
  *distsq = kNoValue;
  if (s < 0 || s >= nscans) return;
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

// ---- Chaining scattered points ------------------------------------------------------------

namespace {
constexpr int kMaxOptions = 10;

bool IsSingle(const ChainLink* links, int p) { return !links[p].next && !links[p].prev; }
bool IsInterior(const ChainLink* links, int p) { return links[p].next && links[p].prev; }
bool IsEnd(const ChainLink* links, int p) { return !links[p].next != !links[p].prev; }
// Chain slots are right at chain ends, so this holds for available points only.
bool SameChain(const ChainLink* links, int a, int b) { return links[a].chain == links[b].chain; }

// The other end of p's chain; -1 for a single (or interior) point.
int FarEnd(const ChainLink* links, const Chain* chains, int p) {
  if (!IsEnd(links, p)) return -1;
  const Chain& c = chains[links[p].chain];
  return (links[p].next ? c.tail : c.head)->point;
}

double Dist2(const float* x, const float* y, const float* z, int a, int b) {
  const double dx = double(x[a]) - x[b], dy = double(y[a]) - y[b], dz = double(z[a]) - z[b];
  return dx * dx + dy * dy + dz * dz;
}

void ClearCandidate(int* nearest, float* dist) {
  *nearest = -1;
  *dist = kNoValueF;
}

// Strict comparisons: of equal distances the first offered stays.
void OfferCandidate(int p, int j, float d, float* dist1, float* dist2, int* nearest1, int* nearest2) {
  if (d < dist1[p]) {
    dist2[p] = dist1[p], nearest2[p] = nearest1[p];
    dist1[p] = d, nearest1[p] = j;
  } else if (d < dist2[p]) {
    dist2[p] = d, nearest2[p] = j;
  }
}

// A candidate that became interior or joined p's chain is dropped; the second moves up.
void DropStaleCandidates(int p, const ChainLink* links, float* dist1, float* dist2, int* nearest1, int* nearest2) {
  auto stale = [&](int q) { return IsInterior(links, q) || SameChain(links, q, p); };
  if (nearest2[p] >= 0 && stale(nearest2[p])) ClearCandidate(&nearest2[p], &dist2[p]);
  if (nearest1[p] >= 0 && stale(nearest1[p])) {
    if (nearest2[p] >= 0) {
      nearest1[p] = nearest2[p], dist1[p] = dist2[p];
      ClearCandidate(&nearest2[p], &dist2[p]);
    } else {
      ClearCandidate(&nearest1[p], &dist1[p]);
    }
  }
}

void ConsiderForCandidate(int p, int j, const ChainLink* links, float* dist1, float* dist2, int* nearest1,
                          int* nearest2, const float* x, const float* y, const float* z) {
  if (j == p || j == nearest1[p] || IsInterior(links, j) || SameChain(links, j, p)) return;
  OfferCandidate(p, j, float(Dist2(x, y, z, p, j)), dist1, dist2, nearest1, nearest2);
}

// A point nearer to the other end of p's own chain is never offered to p (no promotion here).
void DropNearerToFarEnd(int p, int farEnd, float* dist1, float* dist2, int* nearest1, int* nearest2,
                        const float* x, const float* y, const float* z) {
  if (farEnd < 0) return;
  if (nearest1[p] >= 0 && Dist2(x, y, z, nearest1[p], farEnd) < dist1[p]) ClearCandidate(&nearest1[p], &dist1[p]);
  if (nearest2[p] >= 0 && Dist2(x, y, z, nearest2[p], farEnd) < dist2[p]) ClearCandidate(&nearest2[p], &dist2[p]);
}

void PushRef(NearRef** list, NearRef* ref) {
  ref->next = *list;
  *list = ref;
}

// An entry not found (its list was emptied) is just left unlinked.
void UnlinkRef(NearRef** list, NearRef* ref) {
  for (NearRef** at = list; *at; at = &(*at)->next)
    if (*at == ref) {
      *at = ref->next;
      break;
    }
  ref->next = nullptr;
}

// Moves p's two entries from the lists of its old candidates to those of its new ones.
void MoveNearRefs(int p, int old1, int old2, int new1, int new2, NearRef* refs1, NearRef* refs2, NearRef** nearOf1,
                  NearRef** nearOf2) {
  if (new1 != old1) {
    if (old1 >= 0) UnlinkRef(&nearOf1[old1], &refs1[p]);
    if (new1 >= 0) PushRef(&nearOf1[new1], &refs1[p]);
  }
  if (new2 != old2) {
    if (old2 >= 0) UnlinkRef(&nearOf2[old2], &refs2[p]);
    if (new2 >= 0) PushRef(&nearOf2[new2], &refs2[p]);
  }
}

// Refreshes p through search (which rewrites p's candidates); an interior p loses its candidates.
template <typename Search>
void RefreshCandidates(int p, const ChainLink* links, NearRef* refs1, NearRef* refs2, NearRef** nearOf1,
                       NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2, Search search) {
  const int old1 = nearest1[p], old2 = nearest2[p];
  if (IsInterior(links, p)) {
    ClearCandidate(&nearest1[p], &dist1[p]);
    ClearCandidate(&nearest2[p], &dist2[p]);
  } else {
    search();
  }
  MoveNearRefs(p, old1, old2, nearest1[p], nearest2[p], refs1, refs2, nearOf1, nearOf2);
}

// Copies the points of p's two reverse lists (first list first) into out and empties the lists.
int TakeReverseLists(int p, NearRef** nearOf1, NearRef** nearOf2, int* out) {
  int k = 0;
  for (NearRef** list : {&nearOf1[p], &nearOf2[p]}) {
    for (NearRef* r = *list; r;) {
      NearRef* following = r->next;
      out[k++] = r->point;
      r->next = nullptr;
      r = following;
    }
    *list = nullptr;
  }
  return k;
}

bool Names(const int* nearest1, const int* nearest2, int a, int q) { return nearest1[a] == q || nearest2[a] == q; }

bool InList(const int* list, int n, int v) {
  for (int i = 0; i < n; ++i)
    if (list[i] == v) return true;
  return false;
}

// Index of the first place of a sequence of n points: the largest opening, the closing gap from
// the last point back to the first counting first and a later gap replacing it only when
// strictly larger.
int StartAfterLargestGap(const int* sequence, int n, const float* x, const float* y, const float* z) {
  double largest = Dist2(x, y, z, sequence[n - 1], sequence[0]);
  int start = 0;
  for (int i = 1; i < n; ++i) {
    const double d = Dist2(x, y, z, sequence[i - 1], sequence[i]);
    if (d > largest) largest = d, start = i;
  }
  return start;
}

// Lists the chains of slots 0..nslots-1 head to tail (empty slots skipped), rotates the sequence
// to start after its largest gap and writes every point's place. False when the chains do not
// hold every point once.
bool PositionsFromChains(const Chain* chains, int nslots, int n, const float* x, const float* y, const float* z,
                         int* sequence, int* position) {
  int count = 0;
  for (int s = 0; s < nslots; ++s)
    for (const ChainLink* l = chains[s].head; l; l = l->next) {
      if (count == n) return false;
      sequence[count++] = l->point;
    }
  if (count != n) return false;
  const int start = StartAfterLargestGap(sequence, n, x, y, z);
  for (int i = 0; i < n; ++i) position[i] = -1;
  for (int k = 0; k < n; ++k) {
    const int p = sequence[(start + k) % n];
    if (position[p] >= 0) return false;
    position[p] = k;
  }
  return true;
}

// The scratch both chaining sorts share, one tracked block per array.
struct ChainWork {
  ChainLink* links;
  Chain* chains;
  NearRef* refs1;
  NearRef* refs2;
  NearRef** nearOf1;
  NearRef** nearOf2;
  float* dist1;
  float* dist2;
  int* nearest1;
  int* nearest2;
  int* buffer;    // the points of emptied reverse lists
  int* sequence;  // the final walk

  bool Allocate(int n) {
    links = MallocArray<ChainLink>(n);
    chains = MallocArray<Chain>(n);
    refs1 = MallocArray<NearRef>(n);
    refs2 = MallocArray<NearRef>(n);
    nearOf1 = MallocArray<NearRef*>(n);
    nearOf2 = MallocArray<NearRef*>(n);
    dist1 = MallocArray<float>(n);
    dist2 = MallocArray<float>(n);
    nearest1 = MallocArray<int>(n);
    nearest2 = MallocArray<int>(n);
    buffer = MallocArray<int>(2 * n);
    sequence = MallocArray<int>(n);
    if (!links || !chains || !refs1 || !refs2 || !nearOf1 || !nearOf2 || !dist1 || !dist2 || !nearest1 ||
        !nearest2 || !buffer || !sequence || KernelFailed())
      return false;
    // Every point single in its own chain, without candidates, its entries in no list.
    for (int i = 0; i < n; ++i) {
      links[i] = ChainLink{nullptr, nullptr, i, i};
      chains[i] = Chain{&links[i], &links[i]};
      refs1[i] = NearRef{nullptr, i};
      refs2[i] = NearRef{nullptr, i};
      nearOf1[i] = nearOf2[i] = nullptr;
      ClearCandidate(&nearest1[i], &dist1[i]);
      ClearCandidate(&nearest2[i], &dist2[i]);
    }
    return true;
  }
  void PushRefs(int p) {
    if (nearest1[p] >= 0) PushRef(&nearOf1[nearest1[p]], &refs1[p]);
    if (nearest2[p] >= 0) PushRef(&nearOf2[nearest2[p]], &refs2[p]);
  }
  // The refresh after the join of p and q (farP, farQ: their chains' far ends before it): the far
  // ends; then for p, and then q, the points of its reverse lists when it became interior, and
  // the point itself.
  template <typename Refresh>
  void RefreshAfterJoin(int p, int q, int farP, int farQ, Refresh refresh) {
    if (farP >= 0) refresh(farP);
    if (farQ >= 0) refresh(farQ);
    for (int s : {p, q}) {
      if (IsInterior(links, s)) {
        const int k = TakeReverseLists(s, nearOf1, nearOf2, buffer);
        for (int i = 0; i < k; ++i) refresh(buffer[i]);
      }
      refresh(s);
    }
  }
};

// "Sort Cloud:  %d%%" every percent of joins.
class JoinProgress {
 public:
  explicit JoinProgress(int n) : n_(n), step_(int(n * 0.01) < 1 ? 1 : int(n * 0.01)), next_(step_) {}
  void Join() {
    if (++joins_ < next_) return;
    const int percent = int(double(joins_) / n_ * 100.0);
    StatusMessageFormat(MSGstr("Sort Cloud:  %d%%"), percent);
    next_ = (percent + 1) * step_;
  }

 private:
  int n_, step_, next_, joins_ = 0;
};

}  // namespace

void GetAllOptions(int p, int maxOptions, int* count, int* options, const int* nearest1, const int* nearest2,
                   NearRef* const* nearOf1, NearRef* const* nearOf2) {
  int m = 0;
  if (nearest1[p] >= 0 && m < maxOptions) options[m++] = nearest1[p];
  if (nearest2[p] >= 0 && m < maxOptions) options[m++] = nearest2[p];
  const int candidates = m;
  for (NearRef* list : {nearOf1[p], nearOf2[p]})
    for (const NearRef* r = list; r && m < maxOptions; r = r->next)
      if (!InList(options, candidates, r->point)) options[m++] = r->point;
  *count = m;
}

void GetAllOptDists(int p, int maxOptions, int* count, int* options, double* dists, const int* nearest1,
                    const int* nearest2, NearRef* const* nearOf1, NearRef* const* nearOf2, const float* x,
                    const float* y, const float* z) {
  GetAllOptions(p, maxOptions, count, options, nearest1, nearest2, nearOf1, nearOf2);
  for (int i = 0; i < *count; ++i) dists[i] = Dist2(x, y, z, p, options[i]);
  HeapSort2FloatInt4(*count, dists, options);
}

// Method: each option b of a is costed by its own distance plus what the join leaves the others:
// b, when single, still needs a partner other than a; every other option c needs one (an end)
// or two (a single point) partners, a and b being usable only while single and only once. A
// partner that is itself an option of a counts a quarter (it is likely joined cheaply anyway);
// a missing one counts 4 P, P the largest distance seen, and penalises b. Past the second
// penalised option no option can become the best.
int GetBestOption(int a, const ChainLink* links, const Chain* chains, const int* nearest1, const int* nearest2,
                  NearRef* const* nearOf1, NearRef* const* nearOf2, const float* x, const float* y, const float* z) {
  int opt[kMaxOptions], m = 0;
  double d[kMaxOptions];
  GetAllOptDists(a, kMaxOptions, &m, opt, d, nearest1, nearest2, nearOf1, nearOf2, x, y, z);
  // One option per chain: the farther end of an option's chain goes.
  for (int i = 0; i < m - 1; ++i) {
    const int far = FarEnd(links, chains, opt[i]);
    if (far < 0) continue;
    for (int j = i + 1; j < m; ++j)
      if (opt[j] == far) {
        for (int k = j; k + 1 < m; ++k) opt[k] = opt[k + 1], d[k] = d[k + 1];
        --m;
        break;
      }
  }
  if (m == 0) return -1;
  const int farA = FarEnd(links, chains, a);
  const bool aSingle = farA < 0;
  if (m == 1) return aSingle || d[0] < Dist2(x, y, z, opt[0], farA) ? opt[0] : -1;

  int sub[kMaxOptions][kMaxOptions], subCount[kMaxOptions];
  double subDist[kMaxOptions][kMaxOptions];
  double P = d[m - 1];
  for (int k = 0; k < m; ++k) {
    GetAllOptDists(opt[k], kMaxOptions, &subCount[k], sub[k], subDist[k], nearest1, nearest2, nearOf1, nearOf2, x,
                   y, z);
    if (subCount[k] > 0 && subDist[k][subCount[k] - 1] > P) P = subDist[k][subCount[k] - 1];
  }
  const double unit = 4.0 * P;
  // 0.25 for a partner that is also an option of a (other than the ones named), else 1.
  auto weight = [&](int r, int notB, int notC) {
    for (int i = 0; i < m; ++i)
      if (opt[i] == r && r != notB && r != notC) return 0.25;
    return 1.0;
  };
  int penalties = 0, best = -1;
  double bestCost = kNoValue;
  for (int k = 0; k < m; ++k) {
    const int b = opt[k];
    const bool bSingle = IsSingle(links, b);
    double cost = d[k];
    bool penalised = false;
    if (bSingle) {
      int i = 0;
      while (i < subCount[k] && (sub[k][i] == a || sub[k][i] == farA)) ++i;
      if (i < subCount[k]) {
        cost += subDist[k][i] * weight(sub[k][i], b, -1);
      } else {
        cost += unit;
        penalised = true;
      }
    }
    for (int j = 0; j < m; ++j) {
      if (j == k) continue;
      const int c = opt[j];
      if (IsSingle(links, c)) {
        int taken = 0;
        bool usedAB = false;
        for (int i = 0; i < subCount[j] && taken < 2; ++i) {
          const int r = sub[j][i];
          if (r == a || r == b) {
            if (usedAB || !(r == a ? aSingle : bSingle)) continue;
            usedAB = true;
          }
          cost += subDist[j][i] * weight(r, b, c);
          ++taken;
        }
        if (taken < 2) {
          cost += (2 - taken) * unit;
          penalised = true;
        }
      } else {
        int i = 0;
        while (i < subCount[j] && ((sub[j][i] == a && !aSingle) || (sub[j][i] == b && !bSingle))) ++i;
        if (i < subCount[j]) {
          cost += subDist[j][i] * weight(sub[j][i], b, c);
        } else {
          cost += unit;
          penalised = true;
        }
      }
    }
    if (penalised) ++penalties;
    if (cost < bestCost && penalties < 2) bestCost = cost, best = k;
  }
  if (best < 0) return -1;
  if (aSingle) return opt[best];
  return d[best] < Dist2(x, y, z, opt[best], farA) ? opt[best] : -1;
}

namespace {

// Every grid cell's items sorted along the axis of the cell's largest spread, with their
// coordinates and their place in the cell's item list (rank). A scan walks outward from p and
// stops where the key difference alone puts an item beyond the second candidate.
struct CellEntry {
  float xyz[3];
  int32_t item;
  int32_t rank;
};
struct AvailTree;
struct SortedCells {
  const int* offset;      // cell c's entries at offset[c] .. offset[c + 1] - 1
  const CellEntry* entries;
  const int8_t* axis;     // per cell
  const int* ownSlot;     // per point: its entry in its own cell
  AvailTree* const* trees;  // per cell: a tree over a crowded cell's items, else null
};

// A balanced tree over points that chaining only ever takes away (they turn interior): a leaf
// found with all its points interior is marked spent, and so is a node whose two children are,
// and searches pass spent nodes over. Tree index k stands for point[k].
struct AvailTree {
  const NearTree* tree;
  const int* point;
  int32_t* parent;   // per node; -1 at the root
  char* spent;       // per node
  int32_t* minRank;  // per node, the least tree index below it; null where ranks change
};

// A tree over the k listed points: copies of their coordinates and the bookkeeping in the open
// scope, the tree itself handed to *owner; with ranked, every node's least tree index. False on
// no memory.
bool BuildAvailTree(const int* points, int k, const float* x, const float* y, const float* z, bool ranked,
                    NearTree** owner, AvailTree* out) {
  float* cx = MallocArray<float>(k);
  float* cy = MallocArray<float>(k);
  float* cz = MallocArray<float>(k);
  if (!cx || !cy || !cz || KernelFailed()) return false;
  for (int i = 0; i < k; ++i) cx[i] = x[points[i]], cy[i] = y[points[i]], cz[i] = z[points[i]];
  *owner = BuildNearTree(cx, cy, cz, k);
  if (!*owner || KernelFailed()) return false;
  const NearTree& t = **owner;
  out->tree = &t, out->point = points;
  out->parent = MallocArray<int32_t>(t.nodeCount);
  out->spent = CallocArray<char>(t.nodeCount);
  if (!out->parent || !out->spent || KernelFailed()) return false;
  out->parent[0] = -1;
  for (int i = 0; i < t.nodeCount; ++i)
    if (t.nodes[i].child >= 0) out->parent[t.nodes[i].child] = out->parent[t.nodes[i].child + 1] = i;
  out->minRank = nullptr;
  if (!ranked) return true;
  out->minRank = MallocArray<int32_t>(t.nodeCount);
  if (!out->minRank || KernelFailed()) return false;
  for (int i = 0; i < t.nodeCount; ++i) {
    const NearNode& nd = t.nodes[i];
    out->minRank[i] = nd.last > nd.first ? *std::min_element(t.order + nd.first, t.order + nd.last) : INT_MAX;
  }
  return true;
}

// The largest squared distance (double) whose float can still be at most d: beyond it by the
// float's relative rounding, or by its absolute spacing where it is subnormal (points 1e-23
// apart are at float distance 0, and ties are broken by their place in the scan).
double EnterBound(float d) { return double(d) * (1.0 + 1e-6) + double(std::numeric_limits<float>::denorm_min()); }

// The search of ScanOwnCell over a tree: the two least by (distance, rank) among the tree's
// points other than p, p's first candidate, interior points and p's chain, the candidates held
// before counting as found first. rank(k) orders tree point k as the sequential scan meets it.
template <class Rank>
void TwoNearestAvailable(int p, const AvailTree& t, const ChainLink* links, float* dist1, float* dist2,
                         int* nearest1, int* nearest2, const float* x, const float* y, const float* z, Rank rank) {
  // As in ScanOwnCell: a second candidate held without a first is found again as a point.
  if (nearest1[p] < 0) ClearCandidate(&nearest2[p], &dist2[p]);
  const double pc[3] = {x[p], y[p], z[p]};
  int rank1 = -2, rank2 = -1;
  auto before = [](float d, int r, float D, int R) { return d < D || (d == D && r < R); };
  // No point of the node is nearer than the second candidate, and none ranks before it: a heap
  // of points at float distance 0 is not read whole for every one of them.
  auto beyond = [&](int node) {
    return t.minRank && t.minRank[node] >= rank2 && float(NearBoxGap2(t.tree->nodes[node].box, pc)) >= dist2[p];
  };
  auto enter = [&](int node) {
    if (t.spent[node] || beyond(node)) return false;
    const NearNode& nd = t.tree->nodes[node];
    if (nd.child >= 0) return true;
    int least = INT_MAX;  // the least rank of the leaf's available points
    for (int k = nd.first; k < nd.last; ++k)
      if (!IsInterior(links, t.point[t.tree->order[k]])) least = std::min(least, t.tree->order[k]);
    if (least == INT_MAX) {
      for (int at = node;;) {
        t.spent[at] = 1;
        const int up = t.parent[at];
        if (up < 0) break;
        const int first = t.tree->nodes[up].child;
        if (!t.spent[at == first ? first + 1 : first]) break;
        at = up;
      }
    }
    // The nodes above learn the leaf's least rank (they only grow, so a stale one still bounds).
    if (t.minRank && least != t.minRank[node]) {
      t.minRank[node] = least;
      for (int up = t.parent[node]; up >= 0; up = t.parent[up]) {
        const int first = t.tree->nodes[up].child, m = std::min(t.minRank[first], t.minRank[first + 1]);
        if (m == t.minRank[up]) break;
        t.minRank[up] = m;
      }
    }
    return least != INT_MAX && !beyond(node);
  };
  SearchNearTreeIf(*t.tree, pc, [&] { return EnterBound(dist2[p]); }, enter, [&](int k, double d2) {
    const float d = float(d2);
    if (!(d <= dist2[p])) return;
    const int j = t.point[k];
    if (j == p || j == nearest1[p] || IsInterior(links, j) || SameChain(links, j, p)) return;
    const int r = rank(k);
    if (before(d, r, dist1[p], rank1)) {
      dist2[p] = dist1[p], nearest2[p] = nearest1[p], rank2 = rank1;
      dist1[p] = d, nearest1[p] = j, rank1 = r;
    } else if (before(d, r, dist2[p], rank2)) {
      dist2[p] = d, nearest2[p] = j, rank2 = r;
    }
  });
}

bool SortCells(const Subdiv* grid, int n, const float* x, const float* y, const float* z, SortedCells* out) {
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  int* offset = MallocArray<int>(ncells + 1);
  int8_t* axis = MallocArray<int8_t>(ncells);
  int* ownSlot = MallocArray<int>(n);
  if (!offset || !axis || !ownSlot || KernelFailed()) return false;
  long total = 0;
  for (int c = 0; c < ncells; ++c) offset[c] = int(total), total += grid->cells[c].count;
  offset[ncells] = int(total);
  CellEntry* entries = total <= 0x7fffffff / int(sizeof(CellEntry)) ? MallocArray<CellEntry>(int(total)) : nullptr;
  if (!entries || KernelFailed()) return false;
  const float* coords[3] = {x, y, z};
  for (int c = 0; c < ncells; ++c) {
    const SubdivCell& cell = grid->cells[c];
    CellEntry* e = entries + offset[c];
    float lo[3] = {kNoValueF, kNoValueF, kNoValueF}, hi[3] = {-kNoValueF, -kNoValueF, -kNoValueF};
    for (int i = 0; i < cell.count; ++i) {
      const int j = cell.items[i];
      e[i].item = j, e[i].rank = i;
      for (int a = 0; a < 3; ++a) {
        e[i].xyz[a] = coords[a][j];
        lo[a] = std::min(lo[a], e[i].xyz[a]), hi[a] = std::max(hi[a], e[i].xyz[a]);
      }
    }
    int best = 0;
    for (int a = 1; a < 3; ++a)
      if (hi[a] - lo[a] > hi[best] - lo[best]) best = a;
    axis[c] = int8_t(best);
    std::sort(e, e + cell.count, [best](const CellEntry& u, const CellEntry& v) { return u.xyz[best] < v.xyz[best]; });
  }
  for (int i = 0; i < n; ++i) ownSlot[i] = -1;
  for (int c = 0; c < ncells; ++c)
    for (int k = offset[c]; k < offset[c + 1]; ++k)
      if (grid->ownCell[entries[k].item] == c) ownSlot[entries[k].item] = k;
  out->offset = offset, out->entries = entries, out->axis = axis, out->ownSlot = ownSlot;
  out->trees = nullptr;
  return true;
}

// Trees over the items of the crowded cells (a few points far beyond the rest put nearly all
// others into one cell, where a walk along one axis reads most of the cell), held by owners.
bool CrowdedCellTrees(const Subdiv* grid, const float* x, const float* y, const float* z,
                      OwnedArray<NearTree, FreeNearTree>* owners, SortedCells* sorted) {
  const int ncells = grid->ncellsX * grid->ncellsY * grid->ncellsZ;
  int crowded = 0;
  for (int c = 0; c < ncells; ++c) crowded += grid->cells[c].count > kCrowdedCells;
  if (crowded == 0) return true;
  AvailTree** trees = CallocArray<AvailTree*>(ncells);
  AvailTree* built = MallocArray<AvailTree>(crowded);
  *owners = OwnedArray<NearTree, FreeNearTree>::Zeroed(crowded);
  if (!trees || !built || !*owners || KernelFailed()) return false;
  for (int c = 0, k = 0; c < ncells; ++c) {
    const SubdivCell& cell = grid->cells[c];
    if (cell.count <= kCrowdedCells) continue;
    if (!BuildAvailTree(cell.items, cell.count, x, y, z, true, &(*owners)[k], &built[k])) return false;
    trees[c] = &built[k++];
  }
  sorted->trees = trees;
  return true;
}

// FindClosest2AvailInCell, walking the sorted cell when there is one. The sequential scan keeps
// the two least by (distance, place in the walk), the candidates held before it counting as
// found first; so with every item ranked by its place in the cell's item list and the held
// candidates ranked before all, any walk order gives the same two.
void ScanOwnCell(int p, int farEnd, const ChainLink* links, float* dist1, float* dist2, int* nearest1, int* nearest2,
                 const float* x, const float* y, const float* z, const Subdiv* subdiv, const SortedCells* sorted) {
  DropStaleCandidates(p, links, dist1, dist2, nearest1, nearest2);
  const int c = subdiv->ownCell[p];
  if (sorted && sorted->trees && sorted->trees[c]) {
    // Tree index k is item k of the cell: its rank.
    TwoNearestAvailable(p, *sorted->trees[c], links, dist1, dist2, nearest1, nearest2, x, y, z,
                        [](int k) { return k; });
  } else if (sorted && sorted->ownSlot[p] >= 0) {
    const double pc[3] = {x[p], y[p], z[p]};
    const int a = sorted->axis[c], first = sorted->offset[c], last = sorted->offset[c + 1] - 1;
    const int at = sorted->ownSlot[p];
    int rank1 = -2, rank2 = -1;
    // A second candidate held without a first is dropped by the first item offered and found
    // again as an item: drop it now so that the walk's bound only shrinks.
    if (nearest1[p] < 0) ClearCandidate(&nearest2[p], &dist2[p]);
    auto before = [](float d, int r, float D, int R) { return d < D || (d == D && r < R); };
    for (int step : {-1, 1})
      for (int k = at + step; k >= first && k <= last; k += step) {
        const CellEntry& e = sorted->entries[k];
        const double dx = pc[0] - e.xyz[0], dy = pc[1] - e.xyz[1], dz = pc[2] - e.xyz[2];
        const double dk = a == 0 ? dx : a == 1 ? dy : dz;
        // The distance is at least dk², and beyond what still rounds to the second candidate's:
        // no further item can enter.
        if (dk * dk > EnterBound(dist2[p])) break;
        const float d = float(dx * dx + dy * dy + dz * dz);
        if (!(d <= dist2[p])) continue;
        const int j = e.item;
        if (j == p || j == nearest1[p] || IsInterior(links, j) || SameChain(links, j, p)) continue;
        if (before(d, e.rank, dist1[p], rank1)) {
          dist2[p] = dist1[p], nearest2[p] = nearest1[p], rank2 = rank1;
          dist1[p] = d, nearest1[p] = j, rank1 = e.rank;
        } else if (before(d, e.rank, dist2[p], rank2)) {
          dist2[p] = d, nearest2[p] = j, rank2 = e.rank;
        }
      }
  } else {
    const SubdivCell& cell = subdiv->cells[c];
    for (int i = 0; i < cell.count; ++i)
      ConsiderForCandidate(p, cell.items[i], links, dist1, dist2, nearest1, nearest2, x, y, z);
  }
  DropNearerToFarEnd(p, farEnd, dist1, dist2, nearest1, nearest2, x, y, z);
}

void UpdateByCell(int p, const ChainLink* links, const Chain* chains, NearRef* refs1, NearRef* refs2,
                  NearRef** nearOf1, NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2,
                  const float* x, const float* y, const float* z, const Subdiv* subdiv, const SortedCells* sorted) {
  RefreshCandidates(p, links, refs1, refs2, nearOf1, nearOf2, dist1, dist2, nearest1, nearest2, [&] {
    const int far = FarEnd(links, chains, p);
    ScanOwnCell(p, far >= 0 ? far : p, links, dist1, dist2, nearest1, nearest2, x, y, z, subdiv, sorted);
  });
}

}  // namespace

void FindClosest2AvailInCell(int p, int farEnd, const ChainLink* links, float* dist1, float* dist2, int* nearest1,
                             int* nearest2, const float* x, const float* y, const float* z, const Subdiv* subdiv) {
  ScanOwnCell(p, farEnd, links, dist1, dist2, nearest1, nearest2, x, y, z, subdiv, nullptr);
}

void FindClosest2AvailInChains(int p, const ChainLink* links, const Chain* chains, int nchains, float* dist1,
                               float* dist2, int* nearest1, int* nearest2, const float* x, const float* y,
                               const float* z) {
  DropStaleCandidates(p, links, dist1, dist2, nearest1, nearest2);
  for (int s = 0; s < nchains; ++s) {
    if (!chains[s].head) continue;
    ConsiderForCandidate(p, chains[s].head->point, links, dist1, dist2, nearest1, nearest2, x, y, z);
    if (chains[s].tail != chains[s].head)
      ConsiderForCandidate(p, chains[s].tail->point, links, dist1, dist2, nearest1, nearest2, x, y, z);
  }
  const int far = FarEnd(links, chains, p);
  DropNearerToFarEnd(p, far >= 0 ? far : p, dist1, dist2, nearest1, nearest2, x, y, z);
}

void UpdateAllLinks(int p, const ChainLink* links, const Chain* chains, NearRef* refs1, NearRef* refs2,
                    NearRef** nearOf1, NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2,
                    const float* x, const float* y, const float* z, const Subdiv* subdiv) {
  UpdateByCell(p, links, chains, refs1, refs2, nearOf1, nearOf2, dist1, dist2, nearest1, nearest2, x, y, z, subdiv,
               nullptr);
}

void UpdateAllChains(int p, const ChainLink* links, const Chain* chains, int nchains, NearRef* refs1,
                     NearRef* refs2, NearRef** nearOf1, NearRef** nearOf2, float* dist1, float* dist2,
                     int* nearest1, int* nearest2, const float* x, const float* y, const float* z) {
  RefreshCandidates(p, links, refs1, refs2, nearOf1, nearOf2, dist1, dist2, nearest1, nearest2, [&] {
    FindClosest2AvailInChains(p, links, chains, nchains, dist1, dist2, nearest1, nearest2, x, y, z);
  });
}

void JoinChains(int a, int b, Chain* chains, ChainLink* links) {
  ChainLink *la = &links[a], *lb = &links[b];
  Chain& ca = chains[la->chain];
  Chain& cb = chains[lb->chain];
  ChainLink *bHead = cb.head, *bTail = cb.tail;
  // Turns b's chain around: its head becomes its tail.
  auto reverseB = [&] {
    for (ChainLink* l = bHead; l;) {
      ChainLink* following = l->next;
      std::swap(l->next, l->prev);
      l = following;
    }
    std::swap(bHead, bTail);
  };
  const int slot = la->chain;
  if (la->next) {  // a heads its chain: b's chain goes in front, ending in b
    if (lb->next) reverseB();
    bTail->next = la;
    la->prev = bTail;
    ca.head = bHead;
    bHead->chain = slot;
  } else {  // a ends its chain (or is single): b's chain follows, starting at b
    if (lb->prev) reverseB();
    la->next = bHead;
    bHead->prev = la;
    ca.tail = bTail;
    bTail->chain = slot;
  }
  cb.head = cb.tail = nullptr;
}

// Method: candidates (two per point) come from the point's own grid cell, and every point keeps
// the lists of the points naming it, so a join refreshes only those whose candidates it can
// change. Local passes join the best options (GetBestOption) walking on from each new chain
// end; the chains left are then joined end to end with candidates among all chain ends. The
// chains are read off in slot order and the sequence starts after its largest gap.
int SortByNearestNbor(Cloud* cloud) {
  if (!cloud) return 0;
  const int n = cloud->npts;
  if (n < 3) return 1;
  // The grid is sized from the points' extent, and a point that is not a number has no place in
  // a sequence of near neighbours.
  if (!CloudPointsFinite(cloud)) return 0;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  double box[6];
  GetCloudMinMax(cloud, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  TrackingScope scope;
  const int divisions = int(std::min(0.5 * std::sqrt(double(n)), 96.0));
  Owned<Subdiv, FreeSubdiv> grid(
      SubdivideArrays(x, y, z, n, box[0], box[1], box[2], box[3], box[4], box[5], 1e-6, divisions));
  if (!grid || KernelFailed()) return 0;
  ChainWork w;
  int* position = MallocArray<int>(n);
  SortedCells sorted;
  OwnedArray<NearTree, FreeNearTree> cellTrees;
  if (!w.Allocate(n) || !position || !SortCells(grid.get(), n, x, y, z, &sorted) ||
      !CrowdedCellTrees(grid.get(), x, y, z, &cellTrees, &sorted))
    return 0;
  ChainLink* links = w.links;
  Chain* chains = w.chains;
  JoinProgress progress(n);

  for (int i = 0; i < n; ++i) {
    ScanOwnCell(i, -1, links, w.dist1, w.dist2, w.nearest1, w.nearest2, x, y, z, grid.get(), &sorted);
    w.PushRefs(i);
  }
  auto byCell = [&](int p) {
    UpdateByCell(p, links, chains, w.refs1, w.refs2, w.nearOf1, w.nearOf2, w.dist1, w.dist2, w.nearest1,
                 w.nearest2, x, y, z, grid.get(), &sorted);
  };
  auto bestOption = [&](int p) {
    const int q = GetBestOption(p, links, chains, w.nearest1, w.nearest2, w.nearOf1, w.nearOf2, x, y, z);
    // Only an available point of another chain can be joined.
    return q >= 0 && q != p && !IsInterior(links, q) && !SameChain(links, p, q) ? q : -1;
  };

  int c = n;
  for (int before = c + 1; c < before && c >= 2;) {
    before = c;
    for (int s = 0, p = 0; p < n && c >= 2;) {
      if (p < 0) {
        p = ++s;
        continue;
      }
      const int q = IsInterior(links, p) ? -1 : bestOption(p);
      if (q < 0) {
        p = -1;
        continue;
      }
      const int farP = FarEnd(links, chains, p), farQ = FarEnd(links, chains, q);
      JoinChains(p, q, chains, links);
      --c;
      progress.Join();
      w.RefreshAfterJoin(p, q, farP, farQ, byCell);
      p = farQ >= 0 ? farQ : q;
    }
  }
  grid.reset();

  // Slots compacted in order; the ends start afresh with candidates among all chain ends.
  int slots = 0;
  for (int s = 0; s < n; ++s) {
    if (!chains[s].head) continue;
    chains[slots] = chains[s];
    chains[slots].head->chain = chains[slots].tail->chain = slots;
    ++slots;
  }
  c = slots;
  int* ends = MallocArray<int>(2 * c);
  if (!ends || KernelFailed()) return 0;
  int nends = 0;
  for (int s = 0; s < c; ++s)
    for (ChainLink* e : {chains[s].head, chains[s].tail}) {
      const int p = e->point;
      ClearCandidate(&w.nearest1[p], &w.dist1[p]);
      ClearCandidate(&w.nearest2[p], &w.dist2[p]);
      w.nearOf1[p] = w.nearOf2[p] = nullptr;
      w.refs1[p].next = w.refs2[p].next = nullptr;
      ends[nends++] = p;
      if (chains[s].tail == chains[s].head) break;
    }
  // Candidates among all chain ends come from a tree over the ends, ranked as the scan of
  // FindClosest2AvailInChains meets them (slot order, head before tail), so that a file of
  // thousands of lone points does not compare every end with every other at every join.
  Owned<NearTree, FreeNearTree> endOwner;
  AvailTree endTree;
  if (!BuildAvailTree(ends, nends, x, y, z, false, endOwner.receive(), &endTree)) return 0;
  auto endRank = [&](int k) {
    const int p = ends[k], slot = links[p].chain;
    return 2 * slot + (chains[slot].head->point == p ? 0 : 1);
  };
  auto amongEnds = [&](int p) {
    DropStaleCandidates(p, links, w.dist1, w.dist2, w.nearest1, w.nearest2);
    TwoNearestAvailable(p, endTree, links, w.dist1, w.dist2, w.nearest1, w.nearest2, x, y, z, endRank);
    const int far = FarEnd(links, chains, p);
    DropNearerToFarEnd(p, far >= 0 ? far : p, w.dist1, w.dist2, w.nearest1, w.nearest2, x, y, z);
  };
  for (int k = 0; k < nends; ++k) {
    amongEnds(ends[k]);
    w.PushRefs(ends[k]);
  }
  auto byChains = [&](int p) {
    RefreshCandidates(p, links, w.refs1, w.refs2, w.nearOf1, w.nearOf2, w.dist1, w.dist2, w.nearest1, w.nearest2,
                      [&] { amongEnds(p); });
  };
  for (int before = c + 1; c < before && c >= 2;) {
    before = c;
    // A single point is visited twice, as head and as tail; a chain moved into a visited slot
    // waits for the next sweep.
    for (int s = 0; s < c; ++s)
      for (int side = 0; side < 2 && s < c && c >= 2; ++side) {
        const int p = (side == 0 ? chains[s].head : chains[s].tail)->point;
        const int q = bestOption(p);
        if (q < 0) continue;
        const int farP = FarEnd(links, chains, p), farQ = FarEnd(links, chains, q);
        const int slotQ = links[q].chain;
        JoinChains(p, q, chains, links);
        --c;
        if (slotQ != c) {
          chains[slotQ] = chains[c];
          chains[slotQ].head->chain = chains[slotQ].tail->chain = slotQ;
          chains[c] = Chain{nullptr, nullptr};
        }
        progress.Join();
        w.RefreshAfterJoin(p, q, farP, farQ, byChains);
      }
  }

  if (!PositionsFromChains(chains, c, n, x, y, z, w.sequence, position)) return 0;
  if (!ReorderPointsbyIndices(cloud, position)) return 0;
  ClearStatusMessage();
  return 1;
}

// ---- Direction-aware chaining -------------------------------------------------------------

namespace {

void RemoveFromKeyList(KeyLink* list, int p) {
  if (list[p].prev == -2) return;
  if (list[p].prev >= 0) list[list[p].prev].next = list[p].next;
  if (list[p].next >= 0) list[list[p].next].prev = list[p].prev;
  list[p] = KeyLink{-2, -2};
}

void Diff(const float* x, const float* y, const float* z, int a, int b, double out[3]) {
  out[0] = double(x[a]) - x[b], out[1] = double(y[a]) - y[b], out[2] = double(z[a]) - z[b];
}

// s = cos² of the angle between u and v (0 for a zero vector).
double CosSquared(double c, double uu, double vv) { return uu > 0 && vv > 0 ? c * c / (uu * vv) : 0.0; }

// Walks the key-ordered list from p, toward smaller keys first, calling visit(j, towardLarger)
// for every point until the squared key difference exceeds bound().
template <typename Bound, typename Visit>
void WalkKeyList(int p, const float* key, const KeyLink* list, Bound bound, Visit visit) {
  for (int side = 0; side < 2; ++side)
    for (int j = side ? list[p].next : list[p].prev; j >= 0; j = side ? list[j].next : list[j].prev) {
      const double dk = double(key[j]) - key[p];
      if (dk * dk > bound()) break;
      visit(j, side == 1);
    }
}

}  // namespace

// Method: with a direction (p ends a chain), candidates are ranked by distance weighted with the
// angle to the chain's direction; without one the four nearest are kept and p takes the two it
// lies between, or the pair cheapest by distance weighted with the bend at p. Walks stop where
// the key difference alone exceeds the distance still to beat.
void FindClosest2AvailInLink2(int p, const ChainLink* links, float* dist1, float* dist2, int* nearest1,
                              int* nearest2, const float* x, const float* y, const float* z, const float* key,
                              const KeyLink* sortedList, double factor) {
  ClearCandidate(&nearest1[p], &dist1[p]);
  ClearCandidate(&nearest2[p], &dist2[p]);
  if (sortedList[p].prev == -2) return;
  double v[3] = {0, 0, 0}, vv = 0;
  bool direction = false;
  if (factor > 0 && IsEnd(links, p)) {
    const ChainLink* nb = links[p].next ? links[p].next : links[p].prev;
    Diff(x, y, z, p, nb->point, v);
    vv = VecDotProd3(v, v);
    direction = true;
    if (vv < 1e-6) {
      const ChainLink* further = nb->next == &links[p] ? nb->prev : nb->next;
      direction = further != nullptr;
      if (further) {
        Diff(x, y, z, p, further->point, v);
        vv = VecDotProd3(v, v);
        direction = vv >= 1e-6;
      }
    }
  }
  int near[4];
  double nearD[4];
  int found = 0;
  auto bound = [&]() -> double {
    if (direction) return dist2[p];
    return found == 4 ? nearD[3] : kNoValue;
  };
  WalkKeyList(p, key, sortedList, bound, [&](int j, bool) {
    if (SameChain(links, j, p)) return;
    double w[3];
    Diff(x, y, z, j, p, w);
    const double d = VecDotProd3(w, w);
    if (direction) {
      const double c = VecDotProd3(v, w), s = CosSquared(c, d, vv);
      const double f = c >= 0 ? 1.0 - s : 1.0 + s;
      OfferCandidate(p, j, float((factor * f * 0.5 + 1.0) * d), dist1, dist2, nearest1, nearest2);
      return;
    }
    OfferCandidate(p, j, float(d), dist1, dist2, nearest1, nearest2);
    int at = found < 4 ? found : 4;
    while (at > 0 && d < nearD[at - 1]) --at;
    if (at == 4) return;
    for (int k = std::min(found, 3); k > at; --k) near[k] = near[k - 1], nearD[k] = nearD[k - 1];
    near[at] = j, nearD[at] = d;
    found = std::min(found + 1, 4);
  });
  if (direction) return;
  if (found == 4) {
    double a[3], b[3];
    Diff(x, y, z, p, near[0], a);
    Diff(x, y, z, near[1], p, b);
    const double t = VecDotProd3(a, b);
    const double between = t * t / (std::max(VecDotProd3(a, a), 1e-10) * std::max(VecDotProd3(b, b), 1e-10));
    int first = 0, second = 1;
    if (!(t > 0 && between >= 0.97)) {
      double best = kNoValue;
      for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) {
          Diff(x, y, z, p, near[i], a);
          Diff(x, y, z, near[j], p, b);
          const double c = VecDotProd3(a, b), s = CosSquared(c, VecDotProd3(a, a), VecDotProd3(b, b));
          const double f = c >= 0 ? 1.0 - s : 1.0 + s;
          const double cost = (nearD[i] + nearD[j]) * (factor * f * 0.5 + 1.0);
          if (cost < best) best = cost, first = i, second = j;
        }
    }
    nearest1[p] = near[first], dist1[p] = float(nearD[first]);
    nearest2[p] = near[second], dist2[p] = float(nearD[second]);
    return;
  }
  if (dist1[p] >= 1e-6 && nearest2[p] >= 0 && factor > 0) {
    // The second candidate again, preferring to go on the way from the first through p; behind
    // counts far more toward smaller keys than toward larger ones (a kept legacy asymmetry).
    const int first = nearest1[p];
    double u[3];
    Diff(x, y, z, p, first, u);
    const double uu = VecDotProd3(u, u);
    ClearCandidate(&nearest2[p], &dist2[p]);
    WalkKeyList(p, key, sortedList, [&] { return double(dist2[p]); }, [&](int j, bool towardLarger) {
      if (j == first || SameChain(links, j, p)) return;
      double w[3];
      Diff(x, y, z, j, p, w);
      const double d = VecDotProd3(w, w);
      const double c = VecDotProd3(u, w), s = CosSquared(c, d, uu);
      const double weight = c >= 0 ? factor * 0.5 * (1.0 - s) + 1.0
                                   : factor * (towardLarger ? 0.5 : 25.0) * (1.0 + s) + 1.0;
      const float wd = float(weight * d);
      if (wd < dist2[p]) dist2[p] = wd, nearest2[p] = j;
    });
  }
}

void UpdateAllLinksLink2(int p, const ChainLink* links, NearRef* refs1, NearRef* refs2, NearRef** nearOf1,
                         NearRef** nearOf2, float* dist1, float* dist2, int* nearest1, int* nearest2,
                         const float* x, const float* y, const float* z, const float* key,
                         const KeyLink* sortedList, double factor) {
  RefreshCandidates(p, links, refs1, refs2, nearOf1, nearOf2, dist1, dist2, nearest1, nearest2, [&] {
    FindClosest2AvailInLink2(p, links, dist1, dist2, nearest1, nearest2, x, y, z, key, sortedList, factor);
  });
}

namespace {

// The thermometer of a direction-aware sort, when shown: percentages go up in steps of joins.
class SortThermometer {
 public:
  SortThermometer(bool show, int n) : step_(std::max(1, int((n - 1) * 0.01))), next_(step_) {
    if (show) thermo_.emplace("Sort Cloud");
  }
  // joins reached: the percentage share (scaled) plus base, shown when it changed.
  void Joins(int joins, int n, double scale, int base) {
    if (!thermo_ || joins < next_) return;
    const int percent = int(double(joins) / (n - 1) * scale) + base;
    if (percent == last_) return;
    Show(percent);
    next_ = (percent + 1) * step_;
  }
  void Show(int percent) {
    if (!thermo_) return;
    thermo_->set(percent);
    last_ = percent;
  }
  int Last() const { return last_; }
  void Finish() {
    if (thermo_) thermo_->finish();
  }

 private:
  std::optional<Thermometer> thermo_;
  int step_, next_, last_ = 0;
};

// A point other than the excluded ones in the list, optionally only a single one.
bool ListHoldsOther(const NearRef* list, int notA, int notB, const ChainLink* links, bool singleOnly) {
  for (const NearRef* r = list; r; r = r->next)
    if (r->point != notA && r->point != notB && (!singleOnly || IsSingle(links, r->point))) return true;
  return false;
}

}  // namespace

namespace {

// One directional chaining of n points: the candidate lists, the key list along the box's
// longest axis and the counts its steps share. The steps run in order; each that polls for a
// user break answers false when the user stopped it.
class DirectionalChainer {
 public:
  DirectionalChainer(float* x, float* y, float* z, int n, ChainWork& w, const char* mask, float* key,
                     KeyLink* list, const int* keyOrder, int m, SortThermometer& thermo)
      : x_(x), y_(y), z_(z), n_(n), w_(w), links_(w.links), chains_(w.chains), mask_(mask), key_(key),
        list_(list), keyOrder_(keyOrder), m_(m), thermo_(thermo), chainsLeft_(m) {}

  // Every kept point's two nearest candidates; the longest first distance, doubled, bounds the
  // end joins.
  bool FindCandidates() {
    for (int i = 0; i < n_; ++i) {
      if (i % 1000 == 0 && user_break()) return false;
      if (!mask_[i]) continue;
      FindClosest2AvailInLink2(i, links_, w_.dist1, w_.dist2, w_.nearest1, w_.nearest2, x_, y_, z_, key_, list_,
                               factor_);
      w_.PushRefs(i);
      if (w_.nearest1[i] >= 0) maxD1_ = std::max(maxD1_, double(w_.dist1[i]));
    }
    maxD1_ *= 2.0;
    return true;
  }

  // Seeding. A pass that joins nothing relaxes the straightness threshold and the direction
  // weight; the passes end after a fruitful one, or after a fruitless one made at threshold 0.
  bool Seed() {
    double threshold = 0.97;
    int divisor = 512;
    for (bool seeded = m_ < 3; !seeded;) {
      for (int i = 0; i < n_; ++i) {
        if (i % 1000 == 0 && user_break()) return false;
        if (!mask_[i] || !IsSingle(links_, i)) continue;
        const int a = w_.nearest1[i], b = w_.nearest2[i];
        if (a < 0 || b < 0 || !IsSingle(links_, a) || !IsSingle(links_, b) || !Named(a, i) || !Named(b, i)) continue;
        double u[3], v[3];
        Diff(x_, y_, z_, i, a, u);
        Diff(x_, y_, z_, b, i, v);
        const double t = VecDotProd3(u, v);
        if (t < 0 || CosSquared(t, VecDotProd3(u, u), VecDotProd3(v, v)) < threshold) continue;
        RemoveFromKeyList(list_, i);
        JoinChains(i, a, chains_, links_);
        JoinChains(i, b, chains_, links_);
        chainsLeft_ -= 2, joins_ += 2;
        seeded = true;
        Refresh(a);
        Refresh(b);
        const int k = TakeReverseLists(i, w_.nearOf1, w_.nearOf2, w_.buffer);
        for (int r = 0; r < k; ++r) Refresh(w_.buffer[r]);
        Refresh(i);
        thermo_.Joins(joins_, n_, 50.0, 0);
      }
      if (seeded || threshold <= 0.0) break;
      threshold = divisor > 1 ? std::max(0.0, threshold * (1.0 - 1.0 / divisor)) : 0.0;
      factor_ *= 0.5;
      divisor /= 2;
    }
    return true;
  }

  // Pairing of single points that only each other contest.
  bool PairSingles() {
    for (int i = 0; i < n_; ++i) {
      if (i % 1000 == 0 && user_break()) return false;
      if (!mask_[i] || !IsSingle(links_, i)) continue;
      if (ListHoldsOther(w_.nearOf1[i], w_.nearest1[i], w_.nearest2[i], links_, false) ||
          ListHoldsOther(w_.nearOf2[i], w_.nearest1[i], w_.nearest2[i], links_, false))
        continue;
      const int a = w_.nearest1[i];
      if (a < 0 || !IsSingle(links_, a) || !Named(a, i)) continue;
      const int b = w_.nearest1[a] == i ? w_.nearest2[a] : w_.nearest1[a];
      if (ListHoldsOther(w_.nearOf1[a], i, b, links_, false) || ListHoldsOther(w_.nearOf2[a], i, b, links_, false))
        continue;
      JoinChains(i, a, chains_, links_);
      --chainsLeft_, ++joins_;
      Refresh(a);
      Refresh(i);
    }
    thermo_.Show(std::min(thermo_.Last() + 25, 50));
    return true;
  }

  // End joining, with a forced join of the nearest single point whenever a sweep joins nothing.
  void JoinEnds() {
    for (;;) {
      for (bool any = true; any && chainsLeft_ > 1;) {
        any = false;
        for (int k = 0; k < m_ && chainsLeft_ > 1; ++k) {
          const int q = keyOrder_[k];
          if (list_[q].prev == -2 || !IsEnd(links_, q)) continue;
          const int a = w_.nearest1[q];
          if (a < 0 || w_.dist1[q] > maxD1_ || IsInterior(links_, a) || SameChain(links_, q, a)) continue;
          if (IsSingle(links_, a)) {
            if (!Named(a, q) || ListHoldsOther(w_.nearOf1[q], a, a, links_, false) ||
                ListHoldsOther(w_.nearOf2[q], a, a, links_, true) ||
                (ListHoldsOther(w_.nearOf1[a], q, q, links_, false) &&
                 ListHoldsOther(w_.nearOf2[a], q, q, links_, true)))
              continue;
          } else {
            if (w_.nearest1[a] != q || ContestedEnd(q, a) || ContestedEnd(a, q) ||
                ListHoldsOther(w_.nearOf2[q], a, a, links_, true) || ListHoldsOther(w_.nearOf2[a], q, q, links_, true))
              continue;
          }
          JoinAndRefresh(q, a);
          any = true;
        }
      }
      int best = -1;
      bool bestToEnd = false;
      for (int i = 0; i < n_ && chainsLeft_ > 1; ++i) {
        if (!mask_[i] || !IsSingle(links_, i) || w_.nearest1[i] < 0) continue;
        const int a = w_.nearest1[i];
        if (IsInterior(links_, a) || SameChain(links_, i, a)) continue;
        const bool toEnd = IsEnd(links_, a);
        if (best < 0 || (toEnd && !bestToEnd) || (toEnd == bestToEnd && w_.dist1[i] < w_.dist1[best]))
          best = i, bestToEnd = toEnd;
      }
      if (best < 0) break;
      JoinAndRefresh(best, w_.nearest1[best]);
    }
  }

  // The chains left are joined cheapest first: each end's option is the cheaper of its two
  // candidates, counting also the candidate's own view of the end. costs and ids hold 2n
  // entries, pairs 4n. False when scratch could not be had.
  bool JoinCheapestFirst(double* costs, int* ids, int* pairs) {
    thermo_.Show(75);
    if (!costs || !ids || !pairs || KernelFailed()) return false;
    auto view = [&](int a, int g) {
      if (w_.nearest1[a] == g) return double(w_.dist1[a]);
      if (w_.nearest2[a] == g) return double(w_.dist2[a]);
      return (factor_ * 0.5 + 1.0) * Dist2(x_, y_, z_, g, a);
    };
    while (chainsLeft_ > 1) {
      int options = 0;
      for (int k = 0; k < m_; ++k) {
        const int e = keyOrder_[k];
        if (list_[e].prev == -2) continue;
        const int far = FarEnd(links_, chains_, e), g = far >= 0 ? far : e;
        const int a1 = w_.nearest1[g], a2 = w_.nearest2[g];
        const double c1 = a1 >= 0 ? w_.dist1[g] + view(a1, g) : kNoValue;
        const double c2 = a2 >= 0 ? w_.dist2[g] + view(a2, g) : kNoValue;
        if (a1 < 0 && a2 < 0) continue;
        const bool second = a2 >= 0 && c2 <= c1;
        costs[options] = second ? c2 : c1;
        ids[options] = options;
        pairs[2 * options] = g, pairs[2 * options + 1] = second ? a2 : a1;
        ++options;
      }
      HeapSort2FloatInt4(options, costs, ids);
      int g = -1, a = -1;
      for (int k = 0; k < options && g < 0; ++k) {
        const int pg = pairs[2 * ids[k]], pa = pairs[2 * ids[k] + 1];
        if (pg != pa && !IsInterior(links_, pg) && !IsInterior(links_, pa) && !SameChain(links_, pg, pa))
          g = pg, a = pa;
      }
      if (g < 0) break;
      JoinAndRefresh(g, a);
      thermo_.Joins(joins_, n_, 25.0, 75);
    }
    return true;
  }

  // Near-duplicates go in beside their nearest kept point, on the side where they lengthen the
  // sequence less. sortKeys, ids and rank are scratch of n entries.
  void InsertNearDuplicates(float* sortKeys, int* ids, int* rank) {
    for (int i = 0; i < n_; ++i) sortKeys[i] = key_[i], ids[i] = i;
    HeapSortFloatInt(n_, sortKeys, ids);
    for (int k = 0; k < n_; ++k) rank[ids[k]] = k;
    for (int d = 0; d < n_; ++d) {
      if (mask_[d]) continue;
      int k = -1;
      double best = kNoValue;
      for (int side = 0; side < 2; ++side)
        for (int r = rank[d] + (side ? 1 : -1); r >= 0 && r < n_; r += side ? 1 : -1) {
          const int j = ids[r];
          const double dk = double(key_[j]) - key_[d];
          if (dk * dk > best) break;
          if (!mask_[j]) continue;
          const double dd = Dist2(x_, y_, z_, d, j);
          if (dd < best) best = dd, k = j;
        }
      if (k < 0) k = keyOrder_[0];
      ChainLink *lk = &links_[k], *ld = &links_[d], *before = lk->prev, *after = lk->next;
      const double gainBefore = before ? Dist2(x_, y_, z_, k, before->point) - Dist2(x_, y_, z_, d, before->point) : 0.0;
      const double gainAfter = after ? Dist2(x_, y_, z_, k, after->point) - Dist2(x_, y_, z_, d, after->point) : 0.0;
      chains_[d] = Chain{nullptr, nullptr};
      ld->chain = lk->chain;
      if (gainBefore <= gainAfter) {
        ld->prev = lk, ld->next = after, lk->next = ld;
        if (after) after->prev = ld;
        else chains_[lk->chain].tail = ld;
      } else {
        ld->next = lk, ld->prev = before, lk->prev = ld;
        if (before) before->next = ld;
        else chains_[lk->chain].head = ld;
      }
    }
  }

 private:
  bool Named(int a, int q) const { return Names(w_.nearest1, w_.nearest2, a, q); }

  void Refresh(int p) {
    UpdateAllLinksLink2(p, links_, w_.refs1, w_.refs2, w_.nearOf1, w_.nearOf2, w_.dist1, w_.dist2, w_.nearest1,
                        w_.nearest2, x_, y_, z_, key_, list_, factor_);
  }

  // Joins q (an end or single) with a and refreshes what the join can change: the points naming
  // a point that became interior, the two, and a merged chain's end still naming the other end.
  void JoinAndRefresh(int q, int a) {
    const int slot = links_[q].chain;
    JoinChains(q, a, chains_, links_);
    --chainsLeft_, ++joins_;
    for (int s : {q, a}) {
      if (!IsInterior(links_, s)) continue;
      RemoveFromKeyList(list_, s);
      const int partner = s == q ? a : q;
      const int k = TakeReverseLists(s, w_.nearOf1, w_.nearOf2, w_.buffer);
      for (int r = 0; r < k; ++r)
        if (w_.buffer[r] != partner) Refresh(w_.buffer[r]);
    }
    Refresh(q);
    Refresh(a);
    const int h = chains_[slot].head->point, t = chains_[slot].tail->point;
    if (Named(h, t)) Refresh(h);
    if (Named(t, h)) Refresh(t);
  }

  // r contests a's claim on q unless r is the other end of a's chain and likes q no better.
  bool Contests(int r, int a) const {
    return !(SameChain(links_, r, a) && w_.dist1[r] >= w_.dist1[a] && w_.dist2[r] <= w_.dist2[a]);
  }
  bool ContestedEnd(int q, int a) const {
    for (const NearRef* r = w_.nearOf1[q]; r; r = r->next)
      if (r->point != a && Contests(r->point, a)) return true;
    return false;
  }

  float *x_, *y_, *z_;
  int n_;
  ChainWork& w_;
  ChainLink* links_;
  Chain* chains_;
  const char* mask_;
  float* key_;
  KeyLink* list_;
  const int* keyOrder_;
  int m_;
  SortThermometer& thermo_;
  double factor_ = 4.0;  // the direction weight of the candidate search, halved as seeding relaxes
  double maxD1_ = 0.0;
  int chainsLeft_, joins_ = 0;
};

}  // namespace

// Method: near-duplicates are set aside; chains are seeded at points lying between two mutual
// candidates (the straightness threshold relaxed pass by pass), mutual single pairs are joined,
// then chain ends are joined to their candidates while the choice is uncontested, falling back
// to the nearest single point; the chains left are joined cheapest first; the near-duplicates
// are linked in beside their nearest point where they lengthen the sequence least.
int SortArraysByNearestNborAndDir(float* x, float* y, float* z, int n, double, int showProgress, int* position) {
  for (int k = 0; k < n; ++k) position[k] = k;
  if (n < 4) return 1;
  TrackingScope scope;
  char* mask = MallocArray<char>(n);
  float* key = MallocArray<float>(n);
  float* sortKeys = MallocArray<float>(n);
  int* keyOrder = MallocArray<int>(n);
  int* rank = MallocArray<int>(n);
  KeyLink* list = MallocArray<KeyLink>(n);
  ChainWork w;
  if (!mask || !key || !sortKeys || !keyOrder || !rank || !list || !w.Allocate(n)) return 0;
  if (!DuplicatePointsIndices(x, y, z, n, 0.001, mask)) return 0;

  // The key axis is the box's longest (the earlier one on ties).
  const float* axes[3] = {x, y, z};
  int axis = 0;
  double longest = -1;
  for (int a = 0; a < 3; ++a) {
    double lo, hi;
    GetMinMaxF(axes[a], n, &lo, &hi);
    if (hi - lo > longest) longest = hi - lo, axis = a;
  }
  int m = 0;
  for (int i = 0; i < n; ++i) {
    key[i] = axes[axis][i];
    list[i] = KeyLink{-2, -2};
    if (mask[i]) sortKeys[m] = key[i], keyOrder[m++] = i;
  }
  HeapSortFloatInt(m, sortKeys, keyOrder);
  for (int k = 0; k < m; ++k) list[keyOrder[k]] = KeyLink{k > 0 ? keyOrder[k - 1] : -1, k + 1 < m ? keyOrder[k + 1] : -1};
  if (m < 2) return 1;

  SortThermometer thermo(showProgress != 0, n);
  DirectionalChainer chainer(x, y, z, n, w, mask, key, list, keyOrder, m, thermo);
  if (!chainer.FindCandidates() || !chainer.Seed() || !chainer.PairSingles()) return 0;
  chainer.JoinEnds();
  double* costs = MallocArray<double>(2 * n);
  int* ids = MallocArray<int>(2 * n);
  int* pairs = MallocArray<int>(4 * n);
  if (!chainer.JoinCheapestFirst(costs, ids, pairs)) return 0;
  chainer.InsertNearDuplicates(sortKeys, ids, rank);

  thermo.Show(100);
  if (!PositionsFromChains(w.chains, n, n, x, y, z, w.sequence, position)) {
    for (int k = 0; k < n; ++k) position[k] = k;
    return 0;
  }
  thermo.Finish();
  return 1;
}

int SortByNearestNborAndDir(Cloud* cloud, double, int showProgress) {
  if (!cloud) return 0;
  const int n = cloud->npts;
  if (n < 4) return 1;
  TrackingScope scope;
  int* position = MallocArray<int>(n);
  if (!position || KernelFailed()) return 0;
  const bool ordered = cloud->type != 0 && cloud->scanStart && cloud->scanEnd && cloud->nscans > 0;
  if (!ordered) {
    if (!SortArraysByNearestNborAndDir(cloud->x, cloud->y, cloud->z, n, 4.0, showProgress, position)) return 0;
  } else {
    const int S = cloud->nscans;
    int longest = 0;
    for (int s = 0; s < S; ++s) {
      const int a = cloud->scanStart[s], b = cloud->scanEnd[s];
      if (a < 0 || b >= n || b < a) return 0;
      longest = std::max(longest, b - a + 1);
    }
    int* scratch = MallocArray<int>(longest);
    if (!scratch || KernelFailed()) return 0;
    for (int k = 0; k < n; ++k) position[k] = k;
    std::optional<Thermometer> thermo;
    if (showProgress) thermo.emplace("Sort Cloud");
    const int step = std::max(1, int(S * 0.01 + 0.5));
    for (int s = 0, next = step; s < S; ++s) {
      if (thermo && s >= next) {
        const int percent = int(double(s) / S * 100.0 + 0.5);
        thermo->set(percent);
        next = (percent + 1) * step;
      }
      const int a = cloud->scanStart[s], len = cloud->scanEnd[s] - a + 1;
      if (!SortArraysByNearestNborAndDir(cloud->x + a, cloud->y + a, cloud->z + a, len, 4.0, 0, scratch)) return 0;
      for (int k = 0; k < len; ++k) position[a + k] = a + scratch[k];
    }
    if (thermo) thermo->finish();
  }
  return ReorderPointsbyIndices(cloud, position);
}

int CloudTypeAfterSort(Cloud* cloud) {
  if (!cloud || cloud->npts < 2) return 1;
  SortByNearestNborAndDir(cloud, 1.0, 0);
  double box[6];
  GetCloudMinMax(cloud, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  const double D2 = (box[3] - box[0]) * (box[3] - box[0]) + (box[4] - box[1]) * (box[4] - box[1]) +
                    (box[5] - box[2]) * (box[5] - box[2]);
  const double g2 = Dist2(cloud->x, cloud->y, cloud->z, cloud->npts - 1, 0);
  return g2 >= 0.01 * D2 ? 1 : 0;
}

int PerturbeCloud(Cloud* cloud, double tol, double step) {
  if (!cloud) return 0;
  if (cloud->npts < 2) return 1;
  const int n = cloud->npts;
  if (std::fabs(2.0 * tol) > step) step = std::fabs(2.0 * tol);
  TrackingScope scope;
  char* mask = MallocArray<char>(n);
  if (!mask || KernelFailed() || !DuplicatePointsIndices(cloud->x, cloud->y, cloud->z, n, tol, mask)) return 0;
  for (;;) {
    bool moved = false;
    for (int i = 0; i < n; ++i) {
      if (mask[i]) continue;
      double r[3];
      for (double& c : r) c = std::rand() * (1.0 / 32767);
      VecNormalize3(r, r);
      cloud->x[i] = float(cloud->x[i] + step * r[0]);
      cloud->y[i] = float(cloud->y[i] + step * r[1]);
      cloud->z[i] = float(cloud->z[i] + step * r[2]);
      moved = true;
    }
    if (!moved) return 1;
    step *= 1.5;
    // Steps grow without end only when the points cannot be separated (tol not finite).
    if (!std::isfinite(step) || !DuplicatePointsIndices(cloud->x, cloud->y, cloud->z, n, tol, mask)) return 0;
  }
}

// ---- Cell-based sorting and reversal ------------------------------------------------------

namespace {

constexpr uint8_t kFree = 0, kHead = 1, kTail = 2, kInterior = 3;

double CellDist2(const SortCell* a, const SortCell* b) {
  const double dx = double(a->x) - b->x, dy = double(a->y) - b->y, dz = double(a->z) - b->z;
  return dx * dx + dy * dy + dz * dz;
}

bool Usable(const SortCell* c) { return c && c->state != kInterior; }

// The nearest cell to c that is not interior and none of c and the excluded ones (first of
// equal distances wins).
SortCell* ClosestCell(SortCell** cells, int n, const SortCell* c, const SortCell* notA, const SortCell* notB) {
  SortCell* best = nullptr;
  double bestD = kNoValue;
  for (int i = 0; i < n; ++i) {
    SortCell* o = cells[i];
    if (o == c || o == notA || o == notB || o->state == kInterior) continue;
    const double d = CellDist2(c, o);
    if (d < bestD) bestD = d, best = o;
  }
  return best;
}

// Turns the chain from head h around: every cell's sides exchange, so h becomes its tail.
void ReverseCellChain(SortCell* h) {
  for (SortCell* c = h; c;) {
    SortCell* following = c->state == kTail ? nullptr : c->nextSide;
    std::swap(c->prevSide, c->nextSide);
    c = following;
  }
}

// The merged chain's ends know each other; each end's other pointer is itself.
void SealChain(SortCell* head, SortCell* tail) {
  head->state = kHead, tail->state = kTail;
  head->tailCell = tail, head->headCell = head;
  tail->headCell = head, tail->tailCell = tail;
}

// Turns the chain that end e belongs to round: its head becomes its tail.
void TurnChain(SortCell* e) {
  SortCell* head = e->state == kHead ? e : e->headCell;
  SortCell* tail = head->tailCell;
  ReverseCellChain(head);
  SealChain(tail, head);
}

void SortByCells(Cloud* cloud) {
  if (!cloud || cloud->type != 0 || cloud->npts < 2) return;
  const int n = cloud->npts;
  TrackingScope scope;
  SortCell* store = MallocArray<SortCell>(n);
  SortCell** cells = MallocArray<SortCell*>(n);
  int* from = MallocArray<int>(n);
  if (!store || !cells || !from || KernelFailed()) return;
  for (int i = 0; i < n; ++i) {
    SortCell& c = store[i];
    c = SortCell{nullptr, nullptr, &c, &c, kFree, i, cloud->x[i], cloud->y[i], cloud->z[i]};
    cells[i] = &c;
  }
  int chains = n;
  auto tryJoin = [&](SortCell* a, SortCell* b) {
    FindClosestUnusedCell(cells, n, b);
    if (CombineCells(cells, a, b)) return --chains, true;
    return false;
  };
  for (bool joined = true; joined && chains >= 2;) {
    joined = false;
    for (int i = 0; i < n && chains > 1; ++i) {
      SortCell* c = cells[i];
      if (c->state == kFree) {
        FindClosestUnusedCell(cells, n, c);
        SortCell *nearest = c->nextSide, *second = c->prevSide;
        if (nearest && tryJoin(c, nearest)) joined = true;
        if (second && chains >= 2 && tryJoin(c, second)) joined = true;
      } else if (c->state != kInterior) {
        FindClosestUnusedCell(cells, n, c);
        SortCell* candidate = c->state == kHead ? c->prevSide : c->nextSide;
        if (candidate && tryJoin(c, candidate)) joined = true;
      }
    }
  }
  // Chains in the order of their first points: a free point alone, a head with its chain.
  int k = 0;
  for (int i = 0; i < n; ++i) {
    SortCell* c = cells[i];
    if (c->state == kFree) from[k++] = c->point;
    if (c->state != kHead) continue;
    for (SortCell* e = c;; e = e->nextSide) {
      if (k == n) return;  // never: a chain holds each point once
      from[k++] = e->point;
      if (e->state == kTail) break;
    }
  }
  if (k != n || !CarryPoints(cloud, from, n)) return;
  scope.release();
  ChangeStartCloudToLargestOpening(cloud);
}

void StartAtLargestOpening(Cloud* cloud) {
  if (!cloud || cloud->npts < 2) return;
  const int n = cloud->npts;
  double largest = 0.0;
  int gap = -1;
  for (int i = 0; i + 1 < n; ++i) {
    const double d = Dist2(cloud->x, cloud->y, cloud->z, i, i + 1);
    if (d > largest) largest = d, gap = i;
  }
  if (gap < 0 || !(Dist2(cloud->x, cloud->y, cloud->z, n - 1, 0) < largest)) return;
  TrackingScope scope;
  int* from = MallocArray<int>(n);
  if (!from || KernelFailed()) return;
  for (int k = 0; k < n; ++k) from[k] = (gap + 1 + k) % n;
  CarryPoints(cloud, from, n);
}

}  // namespace

void FindClosestUnusedCell(SortCell** cells, int n, SortCell* c) {
  if (!c || c->state == kInterior) return;
  if (c->state == kFree) {
    SortCell *&nearest = c->nextSide, *&second = c->prevSide;
    if (Usable(nearest)) {
      if (Usable(second)) return;
      second = nullptr;
    } else if (Usable(second)) {
      nearest = second, second = nullptr;
    } else {
      nearest = second = nullptr;
    }
    if (nearest) {
      second = ClosestCell(cells, n, c, nearest, nullptr);
      return;
    }
    double d1 = kNoValue, d2 = kNoValue;
    for (int i = 0; i < n; ++i) {
      SortCell* o = cells[i];
      if (o == c || o->state == kInterior) continue;
      const double d = CellDist2(c, o);
      if (d < d1) {
        d2 = d1, second = nearest;
        d1 = d, nearest = o;
      } else if (d < d2) {
        d2 = d, second = o;
      }
    }
    return;
  }
  // An end: its candidate lies on its free side and is never the other end of its own chain.
  SortCell*& side = c->state == kHead ? c->prevSide : c->nextSide;
  SortCell* otherEnd = c->state == kHead ? c->tailCell : c->headCell;
  if (side && (side->state == kInterior || side == otherEnd)) side = nullptr;
  if (side) return;
  side = ClosestCell(cells, n, c, otherEnd, nullptr);
}

int CombineCells(SortCell**, SortCell* c1, SortCell* c2) {
  if (!c1 || !c2 || c1 == c2) return 0;
  if (c2->state == kFree && c1->state != kFree) std::swap(c1, c2);
  SortCell *A = c1, *B = c2;
  if (A->state == kInterior || B->state == kInterior) return 0;
  // The candidate of a free cell is its nearest; of an end, the one on its free side.
  auto choice = [](const SortCell* c) { return c->state == kHead ? c->prevSide : c->nextSide; };
  if (choice(A) != B || choice(B) != A) return 0;
  if (A->state == kFree && B->state == kFree) {
    A->nextSide = B;  // A's second stays on its free side
    B->nextSide = B->prevSide, B->prevSide = A;
    SealChain(A, B);
  } else if (A->state == kFree && B->state == kHead) {
    SortCell* tail = B->tailCell;
    A->nextSide = B, B->prevSide = A;
    B->state = kInterior;
    SealChain(A, tail);
  } else if (A->state == kFree && B->state == kTail) {
    SortCell* head = B->headCell;
    A->nextSide = A->prevSide, A->prevSide = B;
    B->nextSide = A;
    B->state = kInterior;
    SealChain(head, A);
  } else {
    // Two heads or two tails: B's chain turns round first. Then a tail's chain runs into a
    // head's (of a different chain).
    if (A->state == B->state) TurnChain(B);
    SortCell* tail = A->state == kTail ? A : B;
    SortCell* head = A->state == kTail ? B : A;
    if (tail->headCell == head) return 0;
    SortCell *first = tail->headCell, *last = head->tailCell;
    tail->nextSide = head, head->prevSide = tail;
    A->state = B->state = kInterior;
    SealChain(first, last);
  }
  return 1;
}

void SortCloudByNearest(Cloud* cloud) { SortByCells(cloud); }
void SortCloudByNearestNoDle(Cloud* cloud) { SortByCells(cloud); }
void ChangeStartCloudToLargestOpening(Cloud* cloud) { StartAtLargestOpening(cloud); }
void ChangeStartCloudToLargestOpeningNoDle(Cloud* cloud) { StartAtLargestOpening(cloud); }

void ReverseCloud(Cloud* cloud) {
  if (!cloud || cloud->npts < 2) return;
  const int n = cloud->npts;
  TrackingScope scope;
  int* from = MallocArray<int>(n);
  if (!from || KernelFailed()) return;
  for (int k = 0; k < n; ++k) from[k] = n - 1 - k;
  if (!CarryPoints(cloud, from, n)) return;
  if (cloud->type == 0) return;
  if (cloud->scanStart && cloud->scanEnd) {
    const int S = cloud->nscans;
    for (int s = 0; s < S / 2; ++s) {
      std::swap(cloud->scanStart[s], cloud->scanStart[S - 1 - s]);
      std::swap(cloud->scanEnd[s], cloud->scanEnd[S - 1 - s]);
    }
    for (int s = 0; s < S; ++s) {
      const int first = n - 1 - cloud->scanEnd[s], last = n - 1 - cloud->scanStart[s];
      cloud->scanStart[s] = first, cloud->scanEnd[s] = last;
    }
  }
  CloudGrid& g = cloud->grid;
  if (cloud->type == 17) {
    g.rowOrigin += (cloud->nscans - 1) * g.rowStep;
    g.colOrigin += (cloud->ptsPerRow - 1) * g.colStep;
  }
  for (double& a : g.heightAxis) a = -a;
  g.rowStep = -g.rowStep, g.colStep = -g.colStep;
}

void ReverseCloudKeepFirst(Cloud* cloud) {
  if (!cloud || cloud->npts < 2) return;
  const int n = cloud->npts;
  TrackingScope scope;
  int* from = MallocArray<int>(n);
  if (!from || KernelFailed()) return;
  from[0] = 0;
  for (int k = 1; k < n; ++k) from[k] = n - k;
  if (!CarryPoints(cloud, from, n)) return;
  cloud->type = 0;
  FreeCloudPolygons(cloud);
}

void ReverseCloudArrays(Cloud* cloud) {
  if (!cloud || cloud->npts < 2) return;
  std::reverse(cloud->x, cloud->x + cloud->npts);
  std::reverse(cloud->y, cloud->y + cloud->npts);
  std::reverse(cloud->z, cloud->z + cloud->npts);
}

// ---- Scan starts at a polyline ------------------------------------------------------------

// Method: a sweep along the sort axis visits the vertices in key order; for each, the scan
// segments (each from a point to its cyclic successor) are taken in key order of their first
// point, from a start that only moves forward, until both ends lie beyond the best distance
// found. The nearest pair is then refined against the polyline's own segments at that vertex.
int FindClosestSpanToPline(int count, const float* x, const float* y, const float* z, int* scanIdx, float* scanKey,
                           int npl, const double* plx, const double* ply, const double* plz, int* plIdx,
                           float* plKey, int* i, int* j, double* t, double target[3]) {
  if (count < 2 || npl < 1 || !x || !y || !z || !scanIdx || !scanKey || !plx || !ply || !plz || !plIdx || !plKey)
    return 0;
  double lo[2] = {kNoValue, kNoValue}, hi[2] = {-kNoValue, -kNoValue};
  auto grow = [&](double px, double py) {
    lo[0] = std::min(lo[0], px), hi[0] = std::max(hi[0], px);
    lo[1] = std::min(lo[1], py), hi[1] = std::max(hi[1], py);
  };
  for (int k = 0; k < count; ++k) grow(x[k], y[k]);
  for (int v = 0; v < npl; ++v) grow(plx[v], ply[v]);
  const bool alongX = hi[0] - lo[0] >= hi[1] - lo[1];
  const float* key = alongX ? x : y;
  const double* plAxis = alongX ? plx : ply;
  for (int k = 0; k < count; ++k) scanIdx[k] = k, scanKey[k] = key[k];
  for (int v = 0; v < npl; ++v) plIdx[v] = v, plKey[v] = float(plAxis[v]);
  HeapSortFloatInt(count, scanKey, scanIdx);
  HeapSortFloatInt(npl, plKey, plIdx);
  auto pointAt = [&](int k, double p[3]) { p[0] = x[k], p[1] = y[k], p[2] = z[k]; };
  auto vertexAt = [&](int v, double p[3]) { p[0] = plx[v], p[1] = ply[v], p[2] = plz[v]; };
  double best = 1e20;
  int bestK = -1, bestV = -1;
  for (int sv = 0, start = 0; sv < npl && start < count; ++sv) {
    const int v = plIdx[sv];
    const double kv = plAxis[v];
    auto below = [&](int p) {
      const int q = (p + 1) % count;
      return key[p] < kv - best && key[q] < kv - best;
    };
    while (start < count && below(scanIdx[start])) ++start;
    double V[3];
    vertexAt(v, V);
    for (int sk = start; sk < count; ++sk) {
      const int p = scanIdx[sk], q = (p + 1) % count;
      if (key[p] > kv + best && key[q] > kv + best) break;
      if (below(p)) continue;
      double P[3], Q[3], foot[3], d2, s;
      pointAt(p, P), pointAt(q, Q);
      LineSegPntMinDistSq(V, P, Q, foot, &d2, &s);
      if (d2 < best * best) best = std::sqrt(d2), bestK = p, bestV = v;
    }
  }
  if (bestK < 0) return 0;
  // The refinement: scan segments k-1, k, k+1 against the polyline segments at the vertex.
  double bestD2 = kNoValue, along = -1;
  int offset = 0;
  for (int side = -1; side <= 0; ++side) {
    const int v0 = bestV + side, v1 = v0 + 1;
    if (v0 < 0 || v1 >= npl) continue;
    double A[3], B[3];
    vertexAt(v0, A), vertexAt(v1, B);
    for (int off = -1; off <= 1; ++off) {
      const int a = ((bestK + off) % count + count) % count, b = (a + 1) % count;
      double P[3], Q[3], d2, s, u;
      pointAt(a, P), pointAt(b, Q);
      if (LineSegsMinDistsq(P, Q, A, B, &d2, &s, &u) != 0) continue;
      if (d2 < bestD2) bestD2 = d2, offset = off, along = s;
    }
  }
  if (along < 0) {
    // No refining pair (all nearly parallel, or a single vertex): the sweep's own segment.
    double P[3], Q[3], V[3], e[3], w[3];
    pointAt(bestK, P), pointAt((bestK + 1) % count, Q), vertexAt(bestV, V);
    VecDiff3(Q, P, e), VecDiff3(V, P, w);
    const double ee = VecDotProd3(e, e);
    offset = 0;
    along = ee > 0 ? std::clamp(VecDotProd3(w, e) / ee, 0.0, 1.0) : 0.0;
  }
  const int a = ((bestK + offset) % count + count) % count, b = (a + 1) % count;
  double P[3], Q[3];
  pointAt(a, P), pointAt(b, Q);
  for (int c = 0; c < 3; ++c) target[c] = P[c] + along * (Q[c] - P[c]);
  *t = along;
  if (along > 0 && along < 1) {
    *i = a, *j = b;
  } else {
    *i = *j = along >= 1 ? b : a;
  }
  return 1;
}

// ---- Neighbour-consistency reordering -----------------------------------------------------

int IsNextDistLessThanCurrent(int a, int b, int s, int e, int n, const float* x, const float* y, const float* z,
                              int inOrder) {
  for (int i : {a, b, s, e})
    if (i < 0 || i >= n) return 0;
  auto d = [&](int p, int q) { return std::sqrt(Dist2(x, y, z, p, q)); };
  double moved = inOrder ? d(a, s) + d(b, e) : d(a, e) + d(b, s);
  double now = d(a, b);
  if (s > 0) now += d(s - 1, s);
  if (e < n - 1) now += d(e, e + 1);
  if (s > 0 && e < n - 1) moved += d(s - 1, e + 1);
  return now > moved ? 1 : 0;
}

// Method: with after/before the neighbours each point expects (its nearest two, turned to fit
// the old order), the old order is walked from the first point that agrees with its successor;
// before each point b (a the one before it) a later point or run tied to a or b is moved in when
// that shortens the path, and an earlier one (before the start) whenever it is tied.
int NrNbrFullConsistency(Cloud* cloud) {
  if (!cloud || cloud->npts < 3) return 0;
  const int n = cloud->npts;
  TrackingScope scope;
  int* kept = MallocArray<int>(n);
  float* pair = MallocArray<float>(6);
  if (!kept || !pair || KernelFailed()) return -2;
  // The duplicate rule is RemoveDuplicates' own, asked pair by pair so that every datum can
  // follow the points it keeps.
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (i > 0) {
      for (int k = 0; k < 2; ++k) pair[k] = cloud->x[i - 1 + k], pair[2 + k] = cloud->y[i - 1 + k], pair[4 + k] = cloud->z[i - 1 + k];
      const int left = RemoveDuplicates(pair, pair + 2, pair + 4, 2, 1e-6);
      if (left < 0) return -2;
      if (left == 1) continue;
    }
    kept[m++] = i;
  }
  if (m < n && !CarryPoints(cloud, kept, m)) return -2;
  const float *x = cloud->x, *y = cloud->y, *z = cloud->z;
  int* after = MallocArray<int>(m);
  int* before = MallocArray<int>(m);
  float* d1 = MallocArray<float>(m);
  float* d2 = MallocArray<float>(m);
  int* order = MallocArray<int>(m);
  char* placed = CallocArray<char>(m);
  if (!after || !before || !d1 || !d2 || !order || !placed || KernelFailed()) return -2;
  for (int i = 0; i < m; ++i) after[i] = before[i] = -1, d1[i] = d2[i] = kNoValueF;
  for (int i = 0; i < m; ++i)
    for (int j = i + 1; j < m; ++j) {
      const float d = float(Dist2(x, y, z, i, j));
      OfferCandidate(i, j, d, d1, d2, after, before);
      OfferCandidate(j, i, d, d1, d2, after, before);
    }
  // after holds the nearest and before the second so far: turn them to fit the order.
  for (int i = 0; i < m; ++i) {
    const int nearest = after[i], second = before[i];
    const bool fits = i < m - 1 && (nearest == i + 1 || (i > 0 && second == i - 1));
    after[i] = fits ? nearest : second;
    before[i] = fits ? second : nearest;
  }
  int start = after[0] == 1 ? 0 : -1;
  for (int i = 0; start < 0 && i < m - 1; ++i)
    if (after[i] == i + 1 && before[i + 1] == i) start = i;
  if (start < 0) return -2;
  int count = 0;
  auto place = [&](int p) {
    order[count++] = p;
    placed[p] = 1;
    after[p] = before[p] = -1;
  };
  place(start);
  auto tied = [&](int t, int q) { return after[t] == q || before[t] == q; };
  // The run from t while each point expects the next after it, not past last.
  auto runEnd = [&](int t, int last) {
    int e = t;
    while (e + 1 <= last && !placed[e + 1] && after[e] == e + 1 && before[e + 1] == e) ++e;
    return e;
  };
  auto placeRun = [&](int t, int e, bool inOrder) {
    for (int k = 0; k <= e - t; ++k) place(inOrder ? t + k : e - k);
  };
  for (int step = 1; step < m && count < m; ++step) {
    const int b = (start + step) % m, a = (start + step - 1) % m;
    if (placed[b]) continue;
    bool inserted = false;
    for (int t = b + 2; t < m && !inserted; ++t) {
      if (placed[t]) continue;
      const bool ta = tied(t, a), tb = tied(t, b);
      if (!ta && !tb) continue;
      if (ta && tb) {
        if (IsNextDistLessThanCurrent(a, b, t, t, m, x, y, z, 1)) place(t), inserted = true;
        continue;
      }
      const int e = runEnd(t, m - 1);
      if (e == t || !(after[e] == a || after[e] == b)) continue;
      const bool inOrder = before[t] == a;
      if (IsNextDistLessThanCurrent(a, b, t, e, m, x, y, z, inOrder ? 1 : 0)) placeRun(t, e, inOrder), inserted = true;
    }
    for (int t = 0; !inserted && t < start; ++t) {
      if (placed[t]) continue;
      const bool ta = tied(t, a), tb = tied(t, b);
      if (!ta && !tb) continue;
      if (ta && tb) {
        place(t), inserted = true;
        continue;
      }
      const int e = runEnd(t, start - 1);
      if (e == t || !(after[e] == a || after[e] == b)) continue;
      placeRun(t, e, before[t] == a), inserted = true;
    }
    place(b);
  }
  if (count != m || !CarryPoints(cloud, order, m)) return -2;
  return 0;
}
