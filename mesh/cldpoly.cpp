#include "mesh/cldpoly.h"

#include <algorithm>

#include "foundation/umalloc.h"
#include "platform/tstubs.h"

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
  for (int t = 0; t < mesh->ntri; ++t) {
    for (int k = 0; k < 3; ++k) {
      int32_t a = mesh->tri[t].v[k], b = mesh->tri[t].v[(k + 1) % 3];
      if (a > b) std::swap(a, b);
      records[3 * t + k] = {a, b, 3 * t + k};
    }
  }
  // Equal records keep no particular order, so any in-place O(m log m) sort serves.
  std::sort(records, records + m, [](const PolyCloudEdge& a, const PolyCloudEdge& b) {
    return CompareEdgeValue(&a, &b) < 0;
  });
  records[m] = {-2, -1, -1};
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

// Chain markers of the loop walk; values of zero or more are edge numbers.
constexpr int32_t kLoopEnd = -1;
constexpr int32_t kDropRun = -2;     // discard the edges written since the last marker
constexpr int32_t kBranchEnd = -3;   // a loop that closed at a branch vertex

// The boundary-edge lists of the walk and the chain it writes.
struct LoopWalk {
  const int32_t* edges;
  IndexNode** lists;  // per vertex, boundary edges in ascending edge order
  int32_t* counts;    // per vertex, boundary edges not yet used up
  IndexNode* chain = nullptr;
  bool failed = false;

  void Append(int32_t value) {
    if (failed) return;
    IndexNode* head = InsertPolyCloudEdge(chain, value);
    if (!head) failed = true;
    else chain = head;
  }
  // The first edge on v's list other than e, or -1.
  int Other(int v, int e) const {
    for (const IndexNode* n = lists[v]; n; n = n->next)
      if (n->index != e) return n->index;
    return -1;
  }
  // Walks the loop that starts at vertex start. restart is lowered to a vertex whose count drops
  // to 2, the only way a vertex before the scan position can become a start vertex again.
  void Walk(int start, int maxSteps, int* restart);
};

// From the start vertex the walk goes forward along count-2 vertices until it returns over the
// closing edge. Meeting a branch vertex (3 or more boundary edges left) it drops what it wrote,
// turns back and walks the same loop backwards through the start until it meets the branch
// vertex again, which closes a loop through it; the branch's other edges are left for later loops.
void LoopWalk::Walk(int start, int maxSteps, int* restart) {
  const int first = lists[start]->index;
  const int closing = lists[start]->next->index;
  bool forward = true, closingCounts = true;
  Append(first);
  counts[start] = 0;
  int cur = first, v = start;
  for (int step = 0;; ++step) {
    const int a = edges[2 * cur], b = edges[2 * cur + 1];
    if ((a != v && b != v) || step > maxSteps) {
      // Lost the loop (or went round a cycle of walked vertices): end it, carry on with the next.
      StatusMessageFormat("%s", MSGstr("Error in identifying loop"));
      Append(kLoopEnd);
      return;
    }
    const int u = a == v ? b : a;
    int next;
    if (counts[u] == 2) {
      counts[u] = 0;
      next = Other(u, cur);
      v = u;
    } else if (forward && counts[u] >= 3) {
      if (--counts[u] == 2) *restart = std::min(*restart, u);
      DeleteCloudEdge(&lists[u], cur);
      Append(kDropRun);
      Append(cur);
      forward = false;
      closingCounts = false;
      next = Other(v, cur);
    } else if (!forward && counts[u] == 0) {
      next = Other(u, cur);
      v = u;
    } else if (!forward) {
      DeleteCloudEdge(&lists[u], cur);
      if (--counts[u] == 2) *restart = std::min(*restart, u);
      Append(kBranchEnd);
      return;
    } else {
      next = -1;  // forward onto a vertex with no edge left to take
    }
    if (next < 0) {
      Append(kLoopEnd);
      return;
    }
    Append(next);
    cur = next;
    if (closingCounts && cur == closing) {
      Append(kLoopEnd);
      return;
    }
  }
}

}  // namespace

// Boundary loops: count each edge's corners, list the odd-used (boundary) edges at both ends,
// walk the lists into a chain of edge numbers and markers (LoopWalk), cut the chain into loops
// and take out of them the edges used three or more times.
int MakeOuterEdgeList(const Cloud* mesh, const int32_t* edges, int32_t* const* cornerEdges, int nedges,
                      IndexNode*** loopHeads, int* nloops, int** loopSizes, IndexNode** loopNodes) {
  *loopHeads = nullptr;
  *nloops = 0;
  *loopSizes = nullptr;
  *loopNodes = nullptr;
  if (mesh->ntri < 1 || nedges < 1) return 0;
  TrackingScope scope;
  auto* uses = CallocArray<int32_t>(nedges);
  auto** lists = CallocArray<IndexNode*>(mesh->npts);
  auto** tails = CallocArray<IndexNode*>(mesh->npts);
  auto* counts = CallocArray<int32_t>(mesh->npts);
  auto* listNodes = MallocArray<IndexNode>(nedges, 2);
  if (!uses || !lists || !tails || !counts || !listNodes) return 0;
  for (int c = 0; c < 3 * mesh->ntri; ++c) ++uses[EdgeOfCorner(cornerEdges, edges, c)];
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

  LoopWalk walk{edges, lists, counts};
  for (int scan = 0; !walk.failed;) {
    while (scan < mesh->npts && counts[scan] != 2) ++scan;
    if (scan == mesh->npts) break;
    walk.Walk(scan, 2 * nboundary + 2, &scan);
  }
  // A chain node that could not be had leaves the loops unknown: nothing is handed out.
  if (walk.failed) return 0;

  int nruns = 0;
  for (const IndexNode* n = walk.chain; n; n = n->next)
    if (n->index == kLoopEnd || n->index == kBranchEnd) ++nruns;
  auto** heads = CallocArray<IndexNode*>(nruns);
  auto* sizes = CallocArray<int>(nruns);
  auto* nodes = MallocArray<IndexNode>(nedges, 2);
  if (!heads || !sizes || !nodes) return 0;
  const int capacity = 2 * nedges;
  int used = 0, runStart = 0, runSize = 0, count = 0;
  IndexNode* runTail = nullptr;
  for (const IndexNode* n = walk.chain; n; n = n->next) {
    const int32_t value = n->index;
    if (value >= 0) {
      if (used == capacity) continue;  // cannot happen for a table from CreatePolyEdges
      IndexNode* loopNode = &nodes[used++];
      *loopNode = {nullptr, value};
      if (runTail) runTail->next = loopNode;
      else heads[count] = loopNode;
      runTail = loopNode;
      ++runSize;
      continue;
    }
    if (value == kLoopEnd || value == kBranchEnd) {
      if (runSize > 0) sizes[count++] = runSize;
      else heads[count] = nullptr;
    } else {
      heads[count] = nullptr;
      used = runStart;  // the dropped run's nodes are reused
    }
    runStart = used;
    runSize = 0;
    runTail = nullptr;
  }
  // Edges of three or more triangles counted as boundary for the walk only.
  int kept = 0, total = 0;
  for (int l = 0; l < count; ++l) {
    IndexNode** link = &heads[l];
    while (*link) {
      if (uses[(*link)->index] != 1) {
        *link = (*link)->next;
        --sizes[l];
      } else {
        link = &(*link)->next;
      }
    }
    if (sizes[l] > 0) {
      heads[kept] = heads[l];
      sizes[kept++] = sizes[l];
      total += sizes[l];
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
