#include "mesh/pharm.h"

#include <algorithm>

#include "cloud/cldpoly.h"
#include "foundation/umalloc.h"
#include "mesh/cldtrim.h"

namespace {

// A growable int array in the current tracking scope: room doubles when full.
struct IntList {
  int* data = nullptr;
  int count = 0;
  int room = 0;

  bool Init(int n) {
    room = std::max(n, 2);
    count = 0;
    data = MallocArray<int>(room);
    return data != nullptr;
  }
  bool Push(int value) {
    if (count == room) {
      int* grown = ReallocArray(data, 2 * room);
      if (!grown) return false;
      data = grown;
      room *= 2;
    }
    data[count++] = value;
    return true;
  }
  // Appends edge (a, b) unless the list (of pairs) holds it.
  bool PushEdge(int a, int b) {
    if (IsEdgeInArray(a, b, data, count / 2)) return true;
    return Push(a) && Push(b);
  }
};

inline int Origin(const int* originMap, int v) { return originMap[v] >= 0 ? originMap[v] : v; }

}  // namespace

void FindPolyEdges(const Cloud* mesh, int triangle, int edges[6], const int* originMap) {
  // A corner naming no point would index the map outside the points it covers.
  if (!TriangleNamesPoints(mesh, triangle) || !originMap) {
    for (int k = 0; k < 6; ++k) edges[k] = -1;
    return;
  }
  const int32_t* v = mesh->tri[triangle].v;
  for (int k = 0; k < 3; ++k) {
    edges[2 * k] = Origin(originMap, v[k]);
    edges[2 * k + 1] = Origin(originMap, v[(k + 1) % 3]);
  }
}

int IsEdgeInArray(int a, int b, const int* pairs, int count) {
  for (int i = 0; i < count; ++i)
    if ((pairs[2 * i] == a && pairs[2 * i + 1] == b) || (pairs[2 * i] == b && pairs[2 * i + 1] == a)) return 1;
  return 0;
}

int PolyConnected(const Cloud* mesh, int triangle, const int* edgeList, int edgeCount, const int* originMap) {
  if (!TriangleNamesPoints(mesh, triangle) || !originMap || (edgeCount > 0 && !edgeList)) return 0;
  int e[6];
  FindPolyEdges(mesh, triangle, e, originMap);
  for (int k = 0; k < 3; ++k)
    if (IsEdgeInArray(e[2 * k], e[2 * k + 1], edgeList, edgeCount)) return 1;
  return 0;
}

namespace {

// PolyDisconnected's answer, or -1 when memory runs out.
int RegionMeetsNoClaimedEdge(const Cloud* mesh, int triangle, const int* claimedEdges, int claimedCount,
                             const int* originMap, const int* fan, int fanCount, const int* cutEdges, int cutEdgeCount,
                             const int* states) {
  if (claimedCount < 1) return 1;
  if (PolyConnected(mesh, triangle, claimedEdges, claimedCount, originMap)) return 0;
  TrackingScope scope;
  int* open = MallocArray<int>(fanCount);
  IntList region;
  if ((fanCount > 0 && !open) || !region.Init(6)) return -1;
  for (int i = 0; i < fanCount; ++i) open[i] = states[i] == 1 && fan[i] != triangle;
  auto addFree = [&](int t) {
    int e[6];
    FindPolyEdges(mesh, t, e, originMap);
    for (int k = 0; k < 3; ++k)
      if (!IsEdgeInArray(e[2 * k], e[2 * k + 1], cutEdges, cutEdgeCount) && !region.PushEdge(e[2 * k], e[2 * k + 1]))
        return false;
    return true;
  };
  if (!addFree(triangle)) return -1;
  // Grows the region through open fan triangles until it stops or meets a claimed edge.
  for (bool grew = true; grew;) {
    grew = false;
    for (int i = 0; i < fanCount; ++i) {
      if (!open[i] || !PolyConnected(mesh, fan[i], region.data, region.count / 2, originMap)) continue;
      if (PolyConnected(mesh, fan[i], claimedEdges, claimedCount, originMap)) return 0;
      open[i] = 0;
      if (!addFree(fan[i])) return -1;
      grew = true;
    }
  }
  return 1;
}

}  // namespace

int PolyDisconnected(const Cloud* mesh, int triangle, const int* claimedEdges, int claimedCount, const int* originMap,
                     const int* fan, int fanCount, const int* cutEdges, int cutEdgeCount, const int* states) {
  if (!TriangleNamesPoints(mesh, triangle) || !originMap || (claimedCount > 0 && !claimedEdges) ||
      (fanCount > 0 && (!fan || !states)) || (cutEdgeCount > 0 && !cutEdges))
    return 0;
  return RegionMeetsNoClaimedEdge(mesh, triangle, claimedEdges, claimedCount, originMap, fan, fanCount, cutEdges,
                                  cutEdgeCount, states) == 1;
}

int SepHarmonizedRegionsCore(Cloud* mesh, const int* cutEdges, int cutEdgeCount) {
  if (!mesh || (cutEdgeCount > 0 && !cutEdges)) return 0;
  const int n = mesh->npts, ntri = mesh->ntri;
  if (cutEdgeCount < 1 || n < 1) return 1;
  if (!MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  auto** heads = MallocArray<IndexNode*>(n);
  auto* nodes = MallocArray<IndexNode>(ntri, 3);
  int* originMap = MallocArray<int>(2, n);
  int* cutCount = CallocArray<int>(n);
  IntList fan, states, region, claimed;
  if ((ntri > 0 && (!heads || !nodes)) || !originMap || !cutCount || !fan.Init(20) || !states.Init(20) ||
      !region.Init(6 * cutEdgeCount) || !claimed.Init(6 * cutEdgeCount))
    return 0;
  if (!ReallocCldXYZArrays(mesh, 2 * n)) return 0;
  MakePolyPointers(mesh, heads, nodes);
  std::fill(originMap, originMap + 2 * n, -1);
  for (int i = 0; i < 2 * cutEdgeCount; ++i)
    if (cutEdges[i] >= 0 && cutEdges[i] < n) ++cutCount[cutEdges[i]];

  for (int v = 0; v < n; ++v) {
    const int k = cutCount[v];
    if (k == 0) continue;
    const int c = mesh->npts++;
    originMap[c] = v;
    mesh->x[c] = mesh->x[v], mesh->y[c] = mesh->y[v], mesh->z[c] = mesh->z[v];
    mesh->nx[c] = mesh->nx[v], mesh->ny[c] = mesh->ny[v], mesh->nz[c] = mesh->nz[v];
    fan.count = states.count = 0;
    for (const IndexNode* node = heads[v]; node; node = node->next)
      if (!fan.Push(node->index) || !states.Push(1)) return 0;
    claimed.count = 0;
    for (int pass = 0; pass < (k + 2) / 2; ++pass) {
      region.count = 0;
      // Each scan claims at most one triangle and starts again from the fan's start.
      for (bool claimedOne = true; claimedOne;) {
        claimedOne = false;
        for (int i = 0; i < fan.count && !claimedOne; ++i) {
          if (states.data[i] != 1) continue;
          const int t = fan.data[i];
          const int take =
              region.count == 0
                  ? RegionMeetsNoClaimedEdge(mesh, t, claimed.data, claimed.count / 2, originMap, fan.data, fan.count,
                                             cutEdges, cutEdgeCount, states.data)
                  : PolyConnected(mesh, t, region.data, region.count / 2, originMap);
          if (take < 0) return 0;
          if (!take) continue;
          states.data[i] = -1;
          int e[6];
          FindPolyEdges(mesh, t, e, originMap);
          for (int j = 0; j < 3; ++j) {
            const int a = e[2 * j], b = e[2 * j + 1];
            if (!IsEdgeInArray(a, b, cutEdges, cutEdgeCount) && !region.PushEdge(a, b)) return 0;
            if (!claimed.PushEdge(a, b)) return 0;
          }
          for (int32_t& corner : mesh->tri[t].v)
            if (corner == v) corner = c;
          claimedOne = true;
        }
      }
    }
  }
  return 1;
}
