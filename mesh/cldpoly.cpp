#include "mesh/cldpoly.h"

#include <algorithm>
#include <cmath>

#include "cloud/makecld.h"
#include "foundation/geo2.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

namespace {

// The tail of the chain InsertPolyCloudEdge builds: process-wide, so one walk at a time.
IndexNode* chainTail = nullptr;

inline int EdgeOfCorner(int32_t* const* cornerEdges, const int32_t* edges, int corner) {
  return static_cast<int>((cornerEdges[corner] - edges) / 2);
}

}  // namespace

void MakeMarkedPolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes, const unsigned char* mask) {
  for (int i = 0; i < mesh->npts; ++i) heads[i] = nullptr;
  IndexNode* node = nodes;
  for (int t = 0; t < mesh->ntri; ++t) {
    for (int k = 0; k < 3; ++k) {
      const int32_t v = mesh->tri[t].v[k];
      if (!mask[v]) continue;
      node->next = heads[v];
      node->index = t;
      heads[v] = node++;
    }
  }
}

void MakeEdgePointers(const Cloud* mesh, const int32_t* edges, int nedges, IndexNode** heads, IndexNode* nodes) {
  for (int i = 0; i < mesh->npts; ++i) heads[i] = nullptr;
  if (!edges) return;
  for (int e = 0; e < nedges; ++e) {
    for (int k = 0; k < 2; ++k) {
      IndexNode* node = &nodes[2 * e + k];
      const int32_t v = edges[2 * e + k];
      node->next = heads[v];
      node->index = e;
      heads[v] = node;
    }
  }
}

void MakeMarkedEdgePointers(const Cloud* mesh, const int32_t* edges, int nedges, IndexNode** heads,
                            IndexNode* nodes, const unsigned char* mask) {
  for (int i = 0; i < mesh->npts; ++i) heads[i] = nullptr;
  if (!edges) return;
  IndexNode* node = nodes;
  for (int e = 0; e < nedges; ++e) {
    for (int k = 0; k < 2; ++k) {
      const int32_t v = edges[2 * e + k];
      if (!mask[v]) continue;
      node->next = heads[v];
      node->index = e;
      heads[v] = node++;
    }
  }
}

int GetEdgeNo(const int32_t* edges, IndexNode* const* vertexEdgeHeads, int v, int w) {
  for (const IndexNode* n = vertexEdgeHeads[v]; n; n = n->next) {
    const int e = n->index;
    if (edges[2 * e] == w || edges[2 * e + 1] == w) return e;
  }
  return -1;
}

int CompareEdgeValue(const PolyCloudEdge* a, const PolyCloudEdge* b) {
  if (a->vmin < b->vmin) return -1;
  if (a->vmin > b->vmin) return 1;
  if (a->vmax < b->vmax) return -1;
  return a->vmax > b->vmax ? 1 : 0;
}

void CompareEdge(int count, const PolyCloudEdge* records, int32_t* map, int32_t* pairs, int* nedges) {
  int c = 0;
  for (int i = 0; i < count; ++i) {
    map[records[i].corner] = c;
    if (CompareEdgeValue(&records[i], &records[i + 1]) != 0) {
      pairs[2 * c] = records[i].vmin;
      pairs[2 * c + 1] = records[i].vmax;
      ++c;
    }
  }
  *nedges = c;
}

// Unique edges: one record per corner with its ends ordered, sorted by (vmin, vmax) in place,
// then each run of equal records becomes one pair and names the edge of every corner in it.
int CreatePolyEdges(const Cloud* mesh, int32_t** edges, int32_t*** cornerEdges, int* nedges) {
  *edges = nullptr;
  *cornerEdges = nullptr;
  *nedges = 0;
  if (mesh->ntri < 1 || !mesh->tri) return 1;
  const int m = 3 * mesh->ntri;
  TrackingScope scope;
  auto* records = MallocArray<PolyCloudEdge>(m + 1);
  auto* map = MallocArray<int32_t>(m);
  auto* pairs = MallocArray<int32_t>(m, 2);
  auto** corners = MallocArray<int32_t*>(m);
  if (!records || !map || !pairs || !corners) return 0;
  bool inRange = true;
  for (int t = 0; t < mesh->ntri; ++t) {
    for (int k = 0; k < 3; ++k) {
      int32_t a = mesh->tri[t].v[k], b = mesh->tri[t].v[(k + 1) % 3];
      if (a > b) std::swap(a, b);
      records[3 * t + k] = {a, b, 3 * t + k};
      inRange = inRange && a >= 0 && b < mesh->npts;
    }
  }
  // Equal records keep no particular order. Records go to their vmin's bucket in one counting
  // pass (a vertex has few edges), each bucket sorted by vmax; vertex numbers outside the point
  // range leave a comparison sort of the whole.
  auto byValue = [](const PolyCloudEdge& a, const PolyCloudEdge& b) { return CompareEdgeValue(&a, &b) < 0; };
  if (inRange) {
    auto* starts = CallocArray<int32_t>(mesh->npts + 1L);
    auto* bucketed = MallocArray<PolyCloudEdge>(m + 1);
    if (!starts || !bucketed) return 0;
    for (int i = 0; i < m; ++i) ++starts[records[i].vmin + 1];
    for (int v = 0; v < mesh->npts; ++v) starts[v + 1] += starts[v];
    for (int i = 0; i < m; ++i) bucketed[starts[records[i].vmin]++] = records[i];
    for (int v = 0, from = 0; v < mesh->npts; from = starts[v++]) {
      PolyCloudEdge* first = bucketed + from;
      PolyCloudEdge* last = bucketed + starts[v];
      if (last - first > 32) {
        std::sort(first, last, byValue);
        continue;
      }
      for (PolyCloudEdge* r = first + 1; r < last; ++r)
        for (PolyCloudEdge* q = r; q > first && q[-1].vmax > q->vmax; --q) std::swap(q[-1], *q);
    }
    records = bucketed;
  } else {
    std::sort(records, records + m, byValue);
  }
  // The sentinel differs from the last record in vmin, whatever numbers the corners hold: a
  // fixed value would equal the last record of a mesh whose corners are all negative, and that
  // run would then name an edge never written.
  records[m] = {~records[m - 1].vmin, 0, -1};
  int count = 0;
  CompareEdge(m, records, map, pairs, &count);
  for (int c = 0; c < m; ++c) corners[c] = pairs + 2 * map[c];
  RemoveMallocFromTrack(pairs);
  RemoveMallocFromTrack(corners);
  *edges = pairs;
  *cornerEdges = corners;
  *nedges = count;
  return 1;
}

void EdgeToPolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes, int32_t* const* cornerEdges,
                        const int32_t* edges, int nedges) {
  for (int e = 0; e < nedges; ++e) heads[e] = nullptr;
  IndexNode* node = nodes;
  for (int t = 0; t < mesh->ntri; ++t) {
    for (int k = 0; k < 3; ++k, ++node) {
      const int e = EdgeOfCorner(cornerEdges, edges, 3 * t + k);
      node->next = heads[e];
      node->index = t;
      heads[e] = node;
    }
  }
}

IndexNode* InsertPolyCloudEdge(IndexNode* head, int32_t value) {
  auto* node = MallocArray<IndexNode>(1);
  if (!node) return nullptr;
  node->next = nullptr;
  node->index = value;
  if (!head) {
    chainTail = node;
    return node;
  }
  chainTail->next = node;
  chainTail = node;
  return head;
}

IndexNode* DeletePolyCloudEdge(IndexNode* node) {
  IndexNode* next = node->next;
  Free(node);
  return next;
}

void DeleteCloudEdge(IndexNode** head, int32_t index) {
  for (IndexNode** link = head; *link; link = &(*link)->next) {
    if ((*link)->index == index) {
      *link = (*link)->next;
      return;
    }
  }
}

namespace {

// The walk over the boundary edges. Each edge is taken once; the path walked so far is kept, and
// arriving at a vertex already on it cuts the cycle closed there off as a loop, so loops that
// meet at a vertex (two holes sharing a corner) come out as separate closed cycles.
struct BoundaryWalk {
  const int32_t* edges;
  const int32_t* from;  // per edge, the vertex its single triangle leaves it from; -1 when unknown
  IndexNode** lists;    // per vertex, the boundary edges not yet taken, ascending
  int32_t* counts;      // per vertex, the length of its list
  int32_t* pathAt;      // per vertex, its position on the current path, -1 when off it
  int32_t* pathEdges;
  int32_t* pathVerts;
  int32_t* out;   // the loops' edges one after another, each loop ended by -1 (room: two per edge)
  long nout = 0;

  void Emit(const int32_t* run, int n) {
    std::copy(run, run + n, out + nout);
    nout += n;
    out[nout++] = -1;
  }
  // An edge at v to go on with after arriving over edge `in` (-1 at the start): at a vertex with
  // several, one that keeps the sense the mesh runs the boundary in, so that a cycle goes on
  // along its own hole where the mesh tells it.
  int Choose(int v, int in) const {
    const IndexNode* first = lists[v];
    if (!first || in < 0 || from[in] < 0) return first ? first->index : -1;
    const bool along = from[in] != v;
    for (const IndexNode* n = first; n; n = n->next)
      if (from[n->index] >= 0 && (from[n->index] == v) == along) return n->index;
    return first->index;
  }
  void Take(int e) {
    for (int k = 0; k < 2; ++k) {
      DeleteCloudEdge(&lists[edges[2 * e + k]], e);
      --counts[edges[2 * e + k]];
    }
  }
  void Walk(int start);
};

void BoundaryWalk::Walk(int start) {
  int depth = 0, v = start;
  pathVerts[0] = start;
  pathAt[start] = 0;
  for (;;) {
    const int e = Choose(v, depth > 0 ? pathEdges[depth - 1] : -1);
    if (e < 0) {
      // A dead end (an odd count left by deleted edges): what was walked stays an open chain.
      if (depth > 0) Emit(pathEdges, depth);
      for (int i = 0; i <= depth; ++i) pathAt[pathVerts[i]] = -1;
      return;
    }
    Take(e);
    const int u = edges[2 * e] == v ? edges[2 * e + 1] : edges[2 * e];
    pathEdges[depth++] = e;
    pathVerts[depth] = u;
    if (pathAt[u] < 0) {
      pathAt[u] = depth;
    } else {
      const int k = pathAt[u];
      Emit(pathEdges + k, depth - k);
      for (int i = k + 1; i < depth; ++i) pathAt[pathVerts[i]] = -1;
      depth = k;
      if (depth == 0 && counts[u] == 0) {
        pathAt[u] = -1;
        return;
      }
    }
    v = u;
  }
}

// Walks the edges used an odd number of times (ascending edge numbers; from[e]: the vertex the
// single triangle of an edge used once leaves it from, else -1) into loops, as MakeOuterEdgeList
// describes them, over the edge numbers given.
int WalkBoundaryEdges(int npts, const int32_t* edges, int nedges, const int32_t* uses, const int32_t* from,
                      IndexNode*** loopHeads, int* nloops, int** loopSizes, IndexNode** loopNodes) {
  TrackingScope scope;
  auto** lists = CallocArray<IndexNode*>(npts);
  auto** tails = CallocArray<IndexNode*>(npts);
  auto* counts = CallocArray<int32_t>(npts);
  auto* pathAt = MallocArray<int32_t>(npts);
  auto* listNodes = MallocArray<IndexNode>(nedges, 2);
  if (!lists || !tails || !counts || !pathAt || !listNodes) return 0;
  int nboundary = 0;
  IndexNode* node = listNodes;
  for (int e = 0; e < nedges; ++e) {
    if (uses[e] % 2 == 0 || edges[2 * e] < 0) continue;
    ++nboundary;
    for (int k = 0; k < 2; ++k, ++node) {
      const int v = edges[2 * e + k];
      *node = {nullptr, e};
      if (tails[v]) tails[v]->next = node;
      else lists[v] = node;
      tails[v] = node;
      ++counts[v];
    }
  }
  if (nboundary == 0) return 0;
  std::fill(pathAt, pathAt + npts, -1);
  auto* pathEdges = MallocArray<int32_t>(nboundary);
  auto* pathVerts = MallocArray<int32_t>(nboundary + 1);
  auto* out = MallocArray<int32_t>(nboundary, 2);
  auto* sizes = CallocArray<int>(nboundary);
  auto** heads = CallocArray<IndexNode*>(nboundary);
  auto* nodes = MallocArray<IndexNode>(nboundary);
  if (!pathEdges || !pathVerts || !out || !sizes || !heads || !nodes) return 0;

  BoundaryWalk walk{edges, from, lists, counts, pathAt, pathEdges, pathVerts, out};
  // Loops start at their lowest vertex of two boundary edges, as the plain loops always have
  // one; what is left (only vertices where loops meet, or chain ends) is walked afterwards.
  for (int v = 0; v < npts; ++v)
    if (counts[v] == 2) walk.Walk(v);
  for (int v = 0; v < npts; ++v)
    while (counts[v] > 0) walk.Walk(v);

  // Edges of three or more triangles counted as boundary for the walk only.
  int kept = 0, total = 0, size = 0;
  IndexNode* tail = nullptr;
  for (long i = 0; i < walk.nout; ++i) {
    const int e = out[i];
    if (e < 0) {
      if (size > 0) sizes[kept++] = size, total += size;
      size = 0;
      tail = nullptr;
    } else if (uses[e] == 1) {
      IndexNode* n = &nodes[total + size++];
      *n = {nullptr, e};
      if (tail) tail->next = n;
      else heads[kept] = n;
      tail = n;
    }
  }
  if (kept == 0) return 0;
  RemoveMallocFromTrack(heads);
  RemoveMallocFromTrack(sizes);
  RemoveMallocFromTrack(nodes);
  *loopHeads = heads;
  *nloops = kept;
  *loopSizes = sizes;
  *loopNodes = nodes;
  return total;
}

}  // namespace

// Boundary loops: count each edge's corners, then walk the odd-used (boundary) edges into closed
// cycles (BoundaryWalk) and take out of them the edges used three or more times.
int MakeOuterEdgeList(const Cloud* mesh, const int32_t* edges, int32_t* const* cornerEdges, int nedges,
                      IndexNode*** loopHeads, int* nloops, int** loopSizes, IndexNode** loopNodes) {
  *loopHeads = nullptr;
  *nloops = 0;
  *loopSizes = nullptr;
  *loopNodes = nullptr;
  if (mesh->ntri < 1 || nedges < 1) return 0;
  TrackingScope scope;
  auto* uses = CallocArray<int32_t>(nedges);
  auto* from = MallocArray<int32_t>(nedges);
  if (!uses || !from) return 0;
  // The walk indexes by the edges' ends, the corners: a triangle that names no point refuses the
  // mesh in the same pass.
  const int n = mesh->npts;
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    if (!CornersNamePoints(v, n)) return 0;
    for (int k = 0; k < 3; ++k) {
      const int e = EdgeOfCorner(cornerEdges, edges, 3 * t + k);
      ++uses[e];
      from[e] = v[k];
    }
  }
  for (int e = 0; e < nedges; ++e)
    if (uses[e] != 1) from[e] = -1;
  return WalkBoundaryEdges(mesh->npts, edges, nedges, uses, from, loopHeads, nloops, loopSizes, loopNodes);
}

int MakeBoundaryLoops(const Cloud* mesh, int32_t** edges, IndexNode*** loopHeads, int* nloops, int** loopSizes,
                      IndexNode** loopNodes) {
  *edges = nullptr;
  *loopHeads = nullptr;
  *nloops = 0;
  *loopSizes = nullptr;
  *loopNodes = nullptr;
  if (mesh->ntri < 1 || !mesh->tri) return 0;
  const int n = mesh->npts;
  TrackingScope scope;
  // Each corner's edge in the bucket of its lower end as (higher end, whether the corner runs it
  // from the higher end), so that a bucket holds the edges of the table at that vmin.
  const int m = 3 * mesh->ntri;
  auto* starts = CallocArray<int32_t>(n + 1L);
  auto* records = MallocArray<int32_t>(m);
  if (!starts || !records) return 0;
  if (n >= (1 << 30)) {
    // Vertex numbers the records cannot hold beside their flag bit: through the whole edge table.
    Owned<int32_t*, Free> corners;
    int nedges = 0;
    if (!CreatePolyEdges(mesh, edges, corners.receive(), &nedges)) return 0;
    const int total = MakeOuterEdgeList(mesh, *edges, corners.get(), nedges, loopHeads, nloops, loopSizes, loopNodes);
    if (!total && *edges) Free(*edges), *edges = nullptr;
    return total;
  }
  // A triangle's corners are its edges' first ends: checking them checks every end, and one that
  // names no point refuses the mesh.
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    if (!CornersNamePoints(v, n)) return 0;
    const int32_t a = v[0], b = v[1], c = v[2];  // held: the counts written could alias them
    ++starts[std::min(a, b) + 1];
    ++starts[std::min(b, c) + 1];
    ++starts[std::min(c, a) + 1];
  }
  for (int v = 0; v < n; ++v) starts[v + 1] += starts[v];
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    for (int k = 0; k < 3; ++k) {
      const int32_t a = v[k], b = v[k == 2 ? 0 : k + 1];
      records[starts[std::min(a, b)]++] = a <= b ? b << 1 : a << 1 | 1;
    }
  }
  // The odd-used edges in table order, with their uses and the vertex an edge used once is left from.
  int nodd = 0;
  for (int v = n; v > 0; --v) starts[v] = starts[v - 1];
  starts[0] = 0;
  auto* pairs = MallocArray<int32_t>(m, 2);
  auto* uses = MallocArray<int32_t>(m);
  auto* from = MallocArray<int32_t>(m);
  auto* seen = CallocArray<int32_t>(n);  // per higher end, its corners in the bucket at hand
  if (!pairs || !uses || !from || !seen) return 0;
  for (int v = 0; v < n; ++v) {
    const int32_t* first = records + starts[v];
    const int32_t* last = records + starts[v + 1];
    // Counted rather than sorted: most buckets hold no odd edge, and the few odd ones are then put
    // in order of their higher end.
    for (const int32_t* r = first; r < last; ++r) ++seen[*r >> 1];
    const int bucketStart = nodd;
    for (const int32_t* r = first; r < last; ++r) {
      const int32_t w = *r >> 1, count = seen[w];
      seen[w] = 0;
      if (count % 2 == 0) continue;
      int at = nodd++;
      for (; at > bucketStart && pairs[2 * at - 1] > w; --at) {
        pairs[2 * at] = v, pairs[2 * at + 1] = pairs[2 * at - 1];
        uses[at] = uses[at - 1], from[at] = from[at - 1];
      }
      pairs[2 * at] = v, pairs[2 * at + 1] = w;
      uses[at] = count;
      from[at] = count == 1 ? (*r & 1 ? w : v) : -1;
    }
  }
  if (nodd == 0) return 0;
  const int total = WalkBoundaryEdges(n, pairs, nodd, uses, from, loopHeads, nloops, loopSizes, loopNodes);
  if (!total) return 0;
  RemoveMallocFromTrack(pairs);
  *edges = pairs;
  return total;
}

int GetPolyFromVertices(IndexNode* const* vertexTriangleHeads, const CloudTriangle* tri, int v, int a, int b) {
  for (const IndexNode* n = vertexTriangleHeads[v]; n; n = n->next) {
    const int32_t* w = tri[n->index].v;
    int others[2], k = 0;
    for (int i = 0; i < 3 && k < 2; ++i)
      if (w[i] != v) others[k++] = w[i];
    if (k == 2 && ((others[0] == a && others[1] == b) || (others[0] == b && others[1] == a))) return n->index;
  }
  return -1;
}

void DeleteVertexPoly(IndexNode** vertexTriangleHeads, int v, int t) { DeleteCloudEdge(&vertexTriangleHeads[v], t); }

void FindAllPolysWithVert(const Cloud* mesh, int a, int b, IndexNode* const* vertexTriangleHeads, int32_t* tris,
                          int* count) {
  *count = 0;
  if (a == b) return;
  for (const IndexNode* n = vertexTriangleHeads[a]; n; n = n->next)
    if (PolygonHasVertex(mesh, n->index, b)) tris[(*count)++] = n->index;
}

int PolygonHasVertex(const Cloud* mesh, int t, int v) {
  if (!TriangleInMesh(mesh, t)) return 0;
  const int32_t* w = mesh->tri[t].v;
  return w[0] == v || w[1] == v || w[2] == v;
}

int FindPolygonEdges(const Cloud* mesh, int t, const int32_t* edges, IndexNode* const* vertexEdgeHeads,
                     int32_t e[3]) {
  const int32_t* w = mesh->tri[t].v;
  e[0] = GetEdgeNo(edges, vertexEdgeHeads, w[0], w[1]);
  e[1] = GetEdgeNo(edges, vertexEdgeHeads, w[1], w[2]);
  e[2] = GetEdgeNo(edges, vertexEdgeHeads, w[0], w[2]);
  return e[2];
}

void UpdatePolyPointers(const Cloud* mesh, int t, IndexNode** vertexTriangleHeads, IndexNode* nodes, int* used) {
  for (int k = 0; k < 3; ++k) {
    IndexNode* node = &nodes[(*used)++];
    const int32_t v = mesh->tri[t].v[k];
    node->next = vertexTriangleHeads[v];
    node->index = t;
    vertexTriangleHeads[v] = node;
  }
}

void MakeEdgeVertsConsistent(int32_t* edges, IndexNode* const* loopHeads, int nloops) {
  for (int l = 0; l < nloops; ++l) {
    const IndexNode* head = loopHeads[l];
    if (!head || !head->next) continue;
    int32_t* firstPair = edges + 2 * head->index;
    const int32_t* second = edges + 2 * head->next->index;
    if (second[0] == firstPair[0] || second[1] == firstPair[0]) std::swap(firstPair[0], firstPair[1]);
    const int32_t* prev = firstPair;
    for (const IndexNode* n = head->next; n; n = n->next) {
      int32_t* pair = edges + 2 * n->index;
      if (pair[0] != prev[1]) std::swap(pair[0], pair[1]);
      prev = pair;
    }
  }
}

// ---- Faulty triangles ---------------------------------------------------------------------------
namespace {

// A finder's result: the list grows by doubling; on a refused growth the finder frees both and
// reports the count so far plus one (callers test the outputs).
struct FoundTriangles {
  int32_t* list = nullptr;
  unsigned char* mask = nullptr;
  int count = 0;
  int capacity = 0;
  // Room for `more` further entries. False when memory ran out.
  bool Room(int more) {
    if (count + more <= capacity) return true;
    int cap = std::max(capacity, 20);
    while (count + more > cap) cap *= 2;
    int32_t* grown = ReallocArray(list, cap);
    if (!grown) return false;
    list = grown;
    capacity = cap;
    return true;
  }
  void Add(int t) {
    list[count++] = t;
    mask[t] = 1;
  }
};

// Opens the finder's result in the caller's scope: list of 40, zeroed mask.
bool StartFound(const Cloud* mesh, FoundTriangles* f) {
  f->list = MallocArray<int32_t>(40);
  f->mask = MallocArray<unsigned char>(std::max(mesh->ntri, 1));
  if (!f->list || !f->mask) return false;
  f->capacity = 40;
  std::fill(f->mask, f->mask + std::max(mesh->ntri, 1), 0);
  return true;
}

// Hands a finder's result out of scope: kept (untracked) when something was found, else freed.
int FinishFound(TrackingScope& scope, FoundTriangles* f, int32_t** list, unsigned char** mask) {
  if (f->count > 0) {
    *list = f->list;
    *mask = f->mask;
    scope.keep();
  }
  return f->count;
}

void TrianglePoint(const Cloud* m, int v, double p[3]) {
  p[0] = m->x[v];
  p[1] = m->y[v];
  p[2] = m->z[v];
}

// The two corners of triangle t other than v, 0 when v is not exactly one of its corners.
int OtherCorners(const Cloud* m, int t, int v, int out[2]) {
  int n = 0, hits = 0;
  for (int k = 0; k < 3; ++k) {
    if (m->tri[t].v[k] == v) {
      ++hits;
    } else {
      if (n == 2) return 0;
      out[n++] = m->tri[t].v[k];
    }
  }
  return hits == 1 && n == 2;
}

// Weights (s, t) of p's foot on the plane of triangle (a, b, c): foot = s a + t b + (1 - s - t) c.
bool FootWeights(const double p[3], const double a[3], const double b[3], const double c[3], double* s, double* t) {
  double e1[3], e2[3], w[3];
  for (int k = 0; k < 3; ++k) e1[k] = a[k] - c[k], e2[k] = b[k] - c[k], w[k] = p[k] - c[k];
  const double a11 = VecDotProd3(e1, e1), a12 = VecDotProd3(e1, e2), a22 = VecDotProd3(e2, e2);
  const double r1 = VecDotProd3(w, e1), r2 = VecDotProd3(w, e2);
  const double det = a11 * a22 - a12 * a12;
  // A triangle without area has no inside.
  if (!(det > 1e-24 * a11 * a22) || det == 0.0) return false;
  *s = (r1 * a22 - r2 * a12) / det;
  *t = (r2 * a11 - r1 * a12) / det;
  return true;
}

// Weight of a corner other than the shared one below this counts as on the triangle's edge.
constexpr double kInsideWeight = 1e-6;

bool StrictlyInside(const double p[3], const double a[3], const double b[3], const double c[3]) {
  double s = 0.0, t = 0.0;
  return FootWeights(p, a, b, c, &s, &t) && s > kInsideWeight && t > kInsideWeight && s + t <= 1.0;
}

}  // namespace

void FindQuadAndSin(const double p[3], double* a) {
  const double x = p[0], y = p[1], r2 = x * x + y * y;
  if (r2 < 1e-20) {
    *a = 0.0;
    return;
  }
  const double s = y * y / r2;
  if (x >= 0.0 && y >= 0.0) *a = s;
  else if (x < 0.0 && y >= 0.0) *a = 2.0 - s;
  else if (x < 0.0) *a = 2.0 + s;
  else *a = 4.0 - s;
}

void ArrangeCCW(double sector[3]) {
  if (sector[0] > sector[1] && sector[1] > sector[2]) std::swap(sector[0], sector[2]);
  else if (sector[0] < sector[1] && sector[1] < sector[2]) return;
  else if (sector[2] > 2.0) std::swap(sector[0], sector[2]);
}

int PolyOverlapExists(const double a[3], const double b[3]) {
  if (a[0] <= a[2]) return a[0] < b[0] && b[0] < a[2];
  return (a[0] < b[0] && b[0] < 4.0) || (0.0 < b[0] && b[0] < a[2]);
}

int PolysOverlap(Cloud* mesh, int t1, int t2, int v) {
  if (!TriangleNamesPoints(mesh, t1) || !TriangleNamesPoints(mesh, t2)) return 1;
  int c1[2], c2[2];
  if (!OtherCorners(mesh, t1, v, c1) || !OtherCorners(mesh, t2, v, c2)) return 1;
  const float* pl = mesh->tri[t1].plane;
  double pv[3], up[3];
  TrianglePoint(mesh, v, pv);
  for (int k = 0; k < 3; ++k) up[k] = pv[k] + pl[k];
  Xform M;
  TransformToZAxis(pv, up, M);
  double s1[3], s2[3];
  auto sector = [&](const double p[3], const double q[3], double s[3]) {
    double mp[3], mq[3], mm[3];
    VecTrans3(p, M, mp);
    VecTrans3(q, M, mq);
    for (int k = 0; k < 3; ++k) mm[k] = 0.5 * (mp[k] + mq[k]);
    FindQuadAndSin(mp, &s[0]);
    FindQuadAndSin(mm, &s[1]);
    FindQuadAndSin(mq, &s[2]);
    ArrangeCCW(s);
  };
  double a[3], b[3];
  TrianglePoint(mesh, c1[0], a);
  TrianglePoint(mesh, c1[1], b);
  sector(a, b, s1);
  double q[2][3];
  for (int i = 0; i < 2; ++i) {
    TrianglePoint(mesh, c2[i], q[i]);
    if (!PolygonHasVertex(mesh, t1, c2[i])) {
      double foot[3], d2 = 0.0;
      PlaneMinDistSq(q[i], pl[0], pl[1], pl[2], pl[3], foot, &d2);
      for (int k = 0; k < 3; ++k) q[i][k] = foot[k];
    }
  }
  sector(q[0], q[1], s2);
  return PolyOverlapExists(s1, s2) || PolyOverlapExists(s2, s1);
}

int FindMultCloudPolyFromPolyArray(Cloud* mesh, int32_t** list, unsigned char** mask,
                                   const unsigned char* vertexMask, IndexNode* const* heads) {
  *list = nullptr;
  *mask = nullptr;
  TrackingScope scope;
  FoundTriangles f;
  if (!StartFound(mesh, &f)) return 0;
  for (int v = 0; v < mesh->npts; ++v) {
    if (vertexMask && !vertexMask[v]) continue;
    for (const IndexNode* n = heads[v]; n && n->next; n = n->next) {
      int o[2];
      if (!OtherCorners(mesh, n->index, v, o)) continue;
      for (const IndexNode* m = n->next; m; m = m->next) {
        int p[2];
        const int t2 = m->index;
        if (f.mask[t2] || !OtherCorners(mesh, t2, v, p)) continue;
        if (!((p[0] == o[0] && p[1] == o[1]) || (p[0] == o[1] && p[1] == o[0]))) continue;
        if (!f.Room(1)) return f.count + 1;
        f.Add(t2);
        break;
      }
    }
  }
  return FinishFound(scope, &f, list, mask);
}

int FindMultCloudPoly(Cloud* mesh, int32_t** list, unsigned char** mask, const unsigned char* vertexMask) {
  *list = nullptr;
  *mask = nullptr;
  if (!mesh || mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  IndexNode** heads = NewPolyPointers(mesh);
  if (!heads) return 0;
  return FindMultCloudPolyFromPolyArray(mesh, list, mask, vertexMask, heads);
}

int RemoveCldPolys(Cloud* mesh, const unsigned char* mask) {
  if (!mesh || (mesh->ntri > 0 && !mask)) return 0;
  int kept = 0;
  for (int t = 0; t < mesh->ntri; ++t)
    if (!mask[t]) mesh->tri[kept++] = mesh->tri[t];
  mesh->ntri = kept;
  if (kept == 0) {
    FreeCloudPolygons(mesh);
    return 1;
  }
  return CloudSetIsVerts(mesh);
}

int RemoveMultCloudPoly(Cloud* mesh, const unsigned char* vertexMask) {
  int32_t* list = nullptr;
  unsigned char* mask = nullptr;
  const int n = FindMultCloudPoly(mesh, &list, &mask, vertexMask);
  // A finder that ran out of memory hands out nothing: nothing was removed.
  if (n <= 0 || !list) return 0;
  Free(list);
  RemoveCldPolys(mesh, mask);
  Free(mask);
  return n;
}

int FindDegenerateCloudPoly(Cloud* mesh, double tol, int32_t** list, unsigned char** mask,
                            const unsigned char* vertexMask) {
  *list = nullptr;
  *mask = nullptr;
  if (!mesh || mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  FoundTriangles f;
  if (!StartFound(mesh, &f)) return 0;
  const double tol2 = tol * tol;
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    if (vertexMask && !vertexMask[v[0]] && !vertexMask[v[1]] && !vertexMask[v[2]]) continue;
    double p[3][3];
    for (int k = 0; k < 3; ++k) TrianglePoint(mesh, v[k], p[k]);
    for (int k = 0; k < 3; ++k) {
      double foot[3], d2 = 0.0, s = 0.0;
      LineSegPntMinDistSq(p[(k + 2) % 3], p[k], p[(k + 1) % 3], foot, &d2, &s);
      if (d2 < tol2) {
        if (!f.Room(1)) return f.count + 1;
        f.Add(t);
        break;
      }
    }
  }
  return FinishFound(scope, &f, list, mask);
}

int FindOverlapCloudPolyFromPolyArray(Cloud* mesh, double angle, IndexNode* const* heads, int32_t** list,
                                      unsigned char** mask) {
  *list = nullptr;
  *mask = nullptr;
  TrackingScope scope;
  FoundTriangles f;
  if (!StartFound(mesh, &f)) return 0;
  const double c = std::cos(angle * 0.017453292519943295), c2 = c * c;
  for (int v = 0; v < mesh->npts; ++v) {
    for (const IndexNode* n = heads[v]; n && n->next; n = n->next) {
      const int t = n->index;
      for (const IndexNode* m = n->next; m; m = m->next) {
        const int t2 = m->index;
        if (f.mask[t] && f.mask[t2]) continue;
        const float* N1 = mesh->tri[t].plane;
        const float* N2 = mesh->tri[t2].plane;
        const double l1 = double(N1[0]) * N1[0] + double(N1[1]) * N1[1] + double(N1[2]) * N1[2];
        const double l2 = double(N2[0]) * N2[0] + double(N2[1]) * N2[1] + double(N2[2]) * N2[2];
        if (l1 * l2 <= 1e-10) continue;
        const double d = double(N1[0]) * N2[0] + double(N1[1]) * N2[1] + double(N1[2]) * N2[2];
        if (d * d / (l1 * l2) <= c2) continue;
        if (!PolysOverlap(mesh, t, t2, v)) continue;
        if (!f.Room(2)) return f.count + 1;
        if (!f.mask[t2]) f.Add(t2);
        if (!f.mask[t]) f.Add(t);
      }
    }
  }
  return FinishFound(scope, &f, list, mask);
}

int FindOverlapCloudPoly(Cloud* mesh, double angle, int32_t** list, unsigned char** mask) {
  *list = nullptr;
  *mask = nullptr;
  if (!mesh || mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  IndexNode** heads = NewPolyPointers(mesh);
  if (!heads) return 0;
  return FindOverlapCloudPolyFromPolyArray(mesh, angle, heads, list, mask);
}

int IsOverlapTouchTriangles(const double c[3], const double a1[3], const double b1[3], const double a2[3],
                            const double b2[3]) {
  return StrictlyInside(a2, a1, b1, c) || StrictlyInside(b2, a1, b1, c) || StrictlyInside(a1, a2, b2, c) ||
         StrictlyInside(b1, a2, b2, c);
}

int CompareValue(const CloudSortPoint* a, double x, double y, double z) {
  const double ax = a->x, ay = a->y, az = a->z;
  if (ax != x) return ax < x ? -1 : 1;
  if (ay != y) return ay < y ? -1 : 1;
  if (az != z) return az < z ? -1 : 1;
  return 0;
}

void SortCoordXYZ(int n, CloudSortPoint* points) {
  if (n < 2) return;
  std::sort(points, points + n, [](const CloudSortPoint& a, const CloudSortPoint& b) {
    const int c = CompareValue(&a, b.x, b.y, b.z);
    return c != 0 ? c < 0 : a.index < b.index;
  });
}

void Compare(int n, const CloudSortPoint* points, int32_t* map, float* unique, int* count) {
  int group = 0;
  for (int i = 0; i < n; ++i) {
    map[points[i].index] = group;
    if (CompareValue(&points[i + 1], points[i].x, points[i].y, points[i].z) != 0) {
      unique[3 * group] = points[i].x;
      unique[3 * group + 1] = points[i].y;
      unique[3 * group + 2] = points[i].z;
      ++group;
    }
  }
  *count = group;
}

double FindMaxCloudEdgeDims(const Cloud* mesh, const int32_t* edges, int nedges, double* dx, double* dy,
                            double* dz) {
  *dx = *dy = *dz = 1e-6;
  if (!mesh || mesh->ntri < 1 || !edges || nedges < 1) return 1e-6;
  double longest = 1e-12;
  for (int e = 0; e < nedges; ++e) {
    const int a = edges[2 * e], b = edges[2 * e + 1];
    if (a < 0 || b < 0) continue;  // a deleted edge
    const double ex = std::fabs(double(mesh->x[a]) - mesh->x[b]);
    const double ey = std::fabs(double(mesh->y[a]) - mesh->y[b]);
    const double ez = std::fabs(double(mesh->z[a]) - mesh->z[b]);
    *dx = std::max(*dx, ex);
    *dy = std::max(*dy, ey);
    *dz = std::max(*dz, ez);
    longest = std::max(longest, ex * ex + ey * ey + ez * ez);
  }
  return std::sqrt(longest);
}

Cloud* MakePolyCenterCloud(const Cloud* mesh, double* bbox) {
  if (!mesh || mesh->ntri < 1 || !mesh->tri || !MeshCornersNamePoints(mesh, nullptr)) return nullptr;
  TrackingScope scope;
  const int n = mesh->ntri;
  float* x = MallocArray<float>(n);
  float* y = MallocArray<float>(n);
  float* z = MallocArray<float>(n);
  if (!x || !y || !z) return nullptr;
  for (int t = 0; t < n; ++t) {
    double s[3] = {0.0, 0.0, 0.0};
    for (int k = 0; k < 3; ++k) {
      const int v = mesh->tri[t].v[k];
      s[0] += mesh->x[v], s[1] += mesh->y[v], s[2] += mesh->z[v];
    }
    // The historical factor (not exactly a third) keeps centroids as they always were.
    x[t] = float(s[0] * 0.3333333333333);
    y[t] = float(s[1] * 0.3333333333333);
    z[t] = float(s[2] * 0.3333333333333);
  }
  Cloud* c = MakeCldNoAlloc(x, y, z, n, bbox);
  if (c) scope.keep();
  return c;
}
