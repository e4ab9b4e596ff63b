#include "cloud/putil.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "cloud/psample.h"
#include "cloud/psubdiv.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/minmax.h"
#include "foundation/cloudrec.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "platform/tstubs.h"

Thermometer::Thermometer(const char* title) : open_(true), titled_(title != nullptr) {
  DisplayThermoMeter();
  if (titled_) StatusMessageFormat("%s", MSGstr(title));
}

Thermometer::~Thermometer() {
  if (open_) UnDisplayThermoMeter();
}

void Thermometer::set(int percent) {
  if (!open_) return;
  SetThermoMeterValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

void Thermometer::set(long done, long total) {
  const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
  set(share <= 0.0 ? 0 : share >= 1.0 ? 100 : static_cast<int>(100.0 * share));
}

void Thermometer::finish() {
  if (!open_) return;
  SetThermoMeterValue(100);
  UnDisplayThermoMeter();
  open_ = false;
  if (titled_) ClearStatusMessage();
}

namespace {

// Grows a per-point array of n entries by one holding entry 0. Null arrays stay null.
template <typename T>
bool AppendFirst(T*& a, int n) {
  if (!a) return true;
  T* grown = ReallocArray(a, n + 1);
  if (!grown) return false;
  a = grown;
  a[n] = a[0];
  return true;
}

// A bit array of n points grown to n + 1, bit n set as bit 0.
bool AppendFirstBit(uint8_t*& bits, int n) {
  if (!bits) return true;
  const int had = CloudBitArrayBytes(n), need = CloudBitArrayBytes(n + 1);
  if (need > had) {
    uint8_t* grown = ReallocArray(bits, need);
    if (!grown) return false;
    bits = grown;
    for (int b = had; b < need; ++b) bits[b] = 0;
  }
  const uint8_t mask = static_cast<uint8_t>(1u << (n & 7));
  if (bits[0] & 1u)
    bits[n >> 3] |= mask;
  else
    bits[n >> 3] &= static_cast<uint8_t>(~mask);
  return true;
}

bool AppendFirstLabel(char**& labels, int n) {
  if (!labels) return true;
  char* first = nullptr;
  if (labels[0]) {
    const int len = static_cast<int>(std::strlen(labels[0])) + 1;
    first = MallocArray<char>(len);
    if (!first) return false;
    std::memcpy(first, labels[0], len);
  }
  char** grown = ReallocArray(labels, n + 1);
  if (!grown) {
    Free(first);
    return false;
  }
  labels = grown;
  labels[n] = first;
  return true;
}

}  // namespace

Cloud* GetClosedCloud(const Cloud* cloud) {
  if (!cloud || cloud->npts < 1 || !cloud->x || !cloud->y || !cloud->z) return nullptr;
  Owned<Cloud, FreeCloud> copy(CopyCloud(cloud));
  if (!copy || KernelFailed()) return nullptr;
  Cloud* c = copy.get();
  const int n = c->npts;
  const double dx = static_cast<double>(c->x[n - 1]) - c->x[0];
  const double dy = static_cast<double>(c->y[n - 1]) - c->y[0];
  const double dz = static_cast<double>(c->z[n - 1]) - c->z[0];
  if (dx * dx + dy * dy + dz * dz < 1e-8) return copy.release();
  // Grown one array at a time: a failure part-way frees the copy, whose arrays are each still
  // consistent with themselves.
  bool ok = AppendFirst(c->x, n) && AppendFirst(c->y, n) && AppendFirst(c->z, n) &&
            AppendFirst(c->nx, n) && AppendFirst(c->ny, n) && AppendFirst(c->nz, n) &&
            AppendFirst(c->colour[0], n) && AppendFirst(c->colour[1], n) &&
            AppendFirst(c->colour[2], n) && AppendFirst(c->reliability, n) &&
            AppendFirst(c->rowNumber, n) && AppendFirstBit(c->isVert, n) &&
            AppendFirstBit(c->isShow, n) && AppendFirstBit(c->labelIsShow, n) &&
            AppendFirstLabel(c->labels, n);
  for (int k = 0; ok && k < c->farrays.count; ++k) ok = AppendFirst(c->farrays.arrays[k], n);
  if (!ok || KernelFailed()) return nullptr;
  c->npts = n + 1;
  return copy.release();
}

void UniteIndices(int* list, int* parent, char* mark, int m) {
  int smallest = list[0];
  // The list grows while it is walked: every parent not yet seen joins it, so the whole chain of
  // each index ends up under one representative.
  for (int i = 0; i < m; ++i) mark[list[i]] = 1;
  for (int i = 0; i < m; ++i) {
    const int v = list[i];
    if (v < smallest) smallest = v;
    const int p = parent[v];
    if (p != v && !mark[p]) {
      mark[p] = 1;
      list[m++] = p;
    }
  }
  for (int i = 0; i < m; ++i) {
    parent[list[i]] = smallest;
    mark[list[i]] = 0;
  }
}

int CloudConnectivityBreak(const Cloud* cloud, double dist, Cloud*** clouds, int* count) {
  if (clouds) *clouds = nullptr;
  if (count) *count = 0;
  if (!cloud || !clouds || !count || cloud->npts < 2) return 0;
  if (!(dist >= 0.0) || !std::isfinite(dist * dist) || !CloudPointsFinite(cloud)) return 0;
  const int n = cloud->npts;
  // A balanced tree, not a grid: a few points far beyond the rest would put all others in one
  // grid cell, and every pair of them would be measured. The components do not hang on the
  // order in which the pairs are joined.
  Owned<NearTree, FreeNearTree> tree(BuildNearTree(cloud->x, cloud->y, cloud->z, n));
  if (!tree || KernelFailed()) return 0;
  TrackingScope scope;
  int* parent = MallocArray<int>(n);
  char* mark = CallocArray<char>(n);
  int* list = MallocArray<int>(n);
  if (!parent || !mark || !list || KernelFailed()) return 0;
  for (int i = 0; i < n; ++i) parent[i] = i;
  const double d2 = dist * dist;
  for (int i = 0; i < n; ++i) {
    if (i % 1000 == 0 && user_break()) return 0;
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    SearchNearTree(*tree, p, [d2] { return d2; }, [&](int j, double) {
      if (j <= i) return;
      const double dx = double(cloud->x[i]) - cloud->x[j], dy = double(cloud->y[i]) - cloud->y[j],
                   dz = double(cloud->z[i]) - cloud->z[j];
      // Two points under one parent are one set already (a heap of thousands of points joins
      // every pair of them).
      if (dx * dx + dy * dy + dz * dz > d2 || parent[i] == parent[j]) return;
      list[0] = i;
      list[1] = j;
      UniteIndices(list, parent, mark, 2);
    });
  }
  int components = 0;
  for (int i = 0; i < n; ++i) {
    list[0] = i;
    UniteIndices(list, parent, mark, 1);
    components += parent[i] == i;
  }
  if (components < 2) return 1;
  auto* out = CallocArray<Cloud*>(components);
  unsigned char* keep = CallocArray<unsigned char>(n);
  int* start = MallocArray<int>(n + 1);
  if (!out || !keep || !start || KernelFailed()) return 0;
  // The members of every component in ascending order, the components in the order of their
  // representatives (a counting sort): each cloud is then built from its own members, so a file
  // of thousands of lone points costs n, not n per component.
  for (int i = 0; i <= n; ++i) start[i] = 0;
  for (int i = 0; i < n; ++i) ++start[parent[i] + 1];
  for (int i = 0; i < n; ++i) start[i + 1] += start[i];
  for (int i = 0; i < n; ++i) list[start[parent[i]]++] = i;
  int made = 0;
  for (int r = 0, first = 0; r < n; ++r) {
    if (parent[r] != r) continue;
    const int* members = list + first;
    const int k = start[r] - first;
    first = start[r];
    for (int i = 0; i < k; ++i) keep[members[i]] = 1;
    out[made] = CreateCloudBasedOnIndices(cloud, keep, members, k, nullptr);
    for (int i = 0; i < k; ++i) keep[members[i]] = 0;
    if (!out[made] || KernelFailed()) {
      for (int j = 0; j <= made; ++j) FreeCloud(out[j]);
      return 0;
    }
    ++made;
  }
  RemoveMallocFromTrack(out);  // handed to the caller
  *clouds = out;
  *count = components;
  return 1;
}

int IsAllPointsTheSame(const float* x, const float* y, const float* z, int n) {
  if (n < 2 || !x || !y || !z) return 1;
  for (int i = 1; i < n; ++i) {
    if (std::fabs(double(x[i]) - x[0]) > 1e-10 || std::fabs(double(y[i]) - y[0]) > 1e-10 ||
        std::fabs(double(z[i]) - z[0]) > 1e-10)
      return 0;
  }
  return 1;
}

int ComputeCloudBbox(const Cloud* cloud, double* bbox) {
  if (!cloud || !bbox || cloud->npts < 1) return -2;
  GetCloudMinMax(cloud, &bbox[0], &bbox[1], &bbox[2], &bbox[3], &bbox[4], &bbox[5]);
  return 0;
}

int BboxInBbox(const double* a, const double* b) {
  if (!a || !b) return 0;
  bool same = true;
  for (int k = 0; k < 6; ++k) same = same && a[k] == b[k];
  if (same) return 0;
  for (int k = 0; k < 3; ++k)
    if (b[k] > a[k] || b[k + 3] < a[k + 3]) return 0;
  return 1;
}

int FindCloudPointNormal(const Cloud* cloud, double x, double y, double z, double normal[3]) {
  if (!cloud) return -2;
  const double r = cloud->charLength;
  TrackingScope scope;
  const int n = cloud->npts;
  float* px = MallocArray<float>(n);
  float* py = MallocArray<float>(n);
  float* pz = MallocArray<float>(n);
  if (!px || !py || !pz || KernelFailed()) return -2;
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const double dx = cloud->x[i] - x, dy = cloud->y[i] - y, dz = cloud->z[i] - z;
    if (std::fabs(dx) > r || std::fabs(dy) > r || std::fabs(dz) > r) continue;
    if (dx * dx + dy * dy + dz * dz > r * r) continue;
    px[m] = cloud->x[i], py[m] = cloud->y[i], pz[m] = cloud->z[i];
    ++m;
  }
  if (m < 3) return -2;
  PlaneEq plane;
  if (PlaneFit(px, py, pz, m, plane) != 1) return -2;
  normal[0] = plane[0], normal[1] = plane[1], normal[2] = plane[2];
  return 0;
}

int GetClosestPointOnCloud(const Cloud* cloud, double x, double y, double z, double foot[3]) {
  if (!cloud || cloud->npts < 1) return -2;
  int k = 0;
  double best = 0;
  for (int i = 0; i < cloud->npts; ++i) {
    const double dx = cloud->x[i] - x, dy = cloud->y[i] - y, dz = cloud->z[i] - z;
    const double d = dx * dx + dy * dy + dz * dz;
    if (i == 0 || d < best) best = d, k = i;
  }
  const double p[3] = {cloud->x[k], cloud->y[k], cloud->z[k]};
  foot[0] = p[0], foot[1] = p[1], foot[2] = p[2];
  double normal[3];
  if (cloud->nx && cloud->ny && cloud->nz) {
    normal[0] = cloud->nx[k], normal[1] = cloud->ny[k], normal[2] = cloud->nz[k];
  } else if (FindCloudPointNormal(cloud, p[0], p[1], p[2], normal) != 0) {
    return -2;
  }
  if (normal[0] == 0 && normal[1] == 0 && normal[2] == 0) return 0;
  PlaneEq plane;
  GetPlnFromPtAndNorm(p, normal, plane);
  const double q[3] = {x, y, z};
  double d;
  PlaneMinDist(q, plane[0], plane[1], plane[2], plane[3], foot, &d);
  return 0;
}

namespace {

// List nodes belong to no scope: they outlive the caller's FreeTrackedMallocs.
CoordList* NewNode(double x, double y, double z) {
  UntrackedScope untracked;
  auto* node = static_cast<CoordList*>(Malloc(sizeof(CoordList)));
  if (!node) return nullptr;
  *node = CoordList{x, y, z, nullptr};
  return node;
}

}  // namespace

CoordList* AppendCoordList(CoordList* list, double x, double y, double z) {
  CoordList* node = NewNode(x, y, z);
  if (!node) return list;
  if (!list) return node;
  CoordList* last = list;
  while (last->next) last = last->next;
  last->next = node;
  return list;
}

int FreeCoordList(CoordList* list) {
  while (list) {
    CoordList* next = list->next;
    Free(list);
    list = next;
  }
  return 0;
}

int CountCoordList(const CoordList* list) {
  int n = 0;
  for (; list; list = list->next) ++n;
  return n;
}

CoordQueue* AllocateNullCoordQueue() {
  UntrackedScope untracked;
  auto* q = static_cast<CoordQueue*>(Malloc(sizeof(CoordQueue)));
  if (q) *q = CoordQueue{nullptr, nullptr};
  return q;
}

int InsertCoordQueue(CoordQueue* queue, double x, double y, double z) {
  if (!queue) return -2;
  CoordList* node = NewNode(x, y, z);
  if (!node) return -2;
  if (queue->tail)
    queue->tail->next = node;
  else
    queue->head = node;
  queue->tail = node;
  return 0;
}

int FreeCoordQueue(CoordQueue* queue) {
  if (!queue) return -2;
  FreeCoordList(queue->head);
  Free(queue);
  return 0;
}

int CountCoordQueue(const CoordQueue* queue) { return queue ? CountCoordList(queue->head) : 0; }
