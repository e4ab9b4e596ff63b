#include "mesh/rpmclose.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cloud/makecld.h"
#include "cloud/pgr2cld.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "mesh/cldpoly.h"
#include "platform/tstubs.h"

namespace rpmclose_detail {

// A node of the two sorted lists (boundary vertices, open edges): item is a vertex or an edge.
struct SortNode {
  SortNode* prev;
  SortNode* next;
  int32_t item;
};

// Nodes handed out one by one from blocks of a fixed size; a new block is taken when the current
// one is used up and the old ones stay in use (the operation's scope frees them all).
template <class T>
class NodeBlocks {
 public:
  void SetBlockSize(int n) { size_ = std::max(n, 1); }
  // Null when a new block cannot be had (the error state is then set).
  T* Take() {
    if (!block_ || used_ == size_) {
      T* fresh = MallocArray<T>(size_);
      if (!fresh) return nullptr;
      block_ = fresh;
      used_ = 0;
    }
    return &block_[used_++];
  }

 private:
  T* block_ = nullptr;
  int size_ = 1;
  int used_ = 0;
};

// A list kept in ascending order of one coordinate, with the two places a walk may stand on
// (the next node of a walk, the start of a scan window): unlinking a node moves either place on
// to its successor, so walks survive the edits they make.
struct SortedList {
  SortNode* head = nullptr;
  SortNode* cursor = nullptr;
  SortNode* start = nullptr;

  void Unlink(SortNode* n) {
    if (cursor == n) cursor = n->next;
    if (start == n) start = n->next;
    if (n->prev) n->prev->next = n->next;
    else head = n->next;
    if (n->next) n->next->prev = n->prev;
    n->prev = n->next = nullptr;
  }
  // After pos; at the head when pos is null.
  void InsertAfter(SortNode* pos, SortNode* n) {
    n->prev = pos;
    n->next = pos ? pos->next : head;
    if (n->next) n->next->prev = n;
    if (pos) pos->next = n;
    else head = n;
  }
  // Shifts n backward or forward until its key is in order again.
  template <class Key>
  void Resort(SortNode* n, Key key) {
    const float k = key(n->item);
    SortNode* p = n->prev;
    while (p && key(p->item) > k) p = p->prev;
    if (p != n->prev) {
      Unlink(n);
      InsertAfter(p, n);
      return;
    }
    SortNode* last = n;
    for (SortNode* q = n->next; q && key(q->item) < k; q = q->next) last = q;
    if (last != n) {
      Unlink(n);
      InsertAfter(last, n);
    }
  }
};

double Dist2(const Cloud* m, int a, int b) {
  const double dx = double(m->x[a]) - m->x[b], dy = double(m->y[a]) - m->y[b], dz = double(m->z[a]) - m->z[b];
  return dx * dx + dy * dy + dz * dz;
}

// Squared distance of point p from the segment a-b and the foot's parameter (1 at a).
double SegmentDist2(const Cloud* m, int p, int a, int b, double* t) {
  double pp[3], pa[3], pb[3], foot[3], d2 = 0, tt = 0;
  GetCldPoint(m, p, pp);
  GetCldPoint(m, a, pa);
  GetCldPoint(m, b, pb);
  LineSegPntMinDistSq(pp, pa, pb, foot, &d2, &tt);
  if (t) *t = tt;
  return d2;
}

void AppendList(IndexNode** to, IndexNode* list) {
  IndexNode** tail = to;
  while (*tail) tail = &(*tail)->next;
  *tail = list;
}

// The foot of p on the line through a and b (a itself when a = b). Written out: the line's
// degeneracy must be judged relative to the mesh's size, as the side tests run at any scale.
void FootOnLine(const double p[3], const double a[3], const double b[3], double foot[3]) {
  double ab[3], ap[3];
  VecDiff3(b, a, ab);
  VecDiff3(p, a, ap);
  const double len2 = VecDotProd3(ab, ab);
  const double t = len2 > 0 ? VecDotProd3(ap, ab) / len2 : 0.0;
  for (int k = 0; k < 3; ++k) foot[k] = a[k] + t * ab[k];
}

inline int OtherEnd(const int32_t* edges, int e, int v) { return edges[2 * e] == v ? edges[2 * e + 1] : edges[2 * e]; }

// The pull of a boundary vertex's edges into the mesh: its edge vectors scaled to a largest
// component of 1, open edges each with weight 1 and the interior ones sharing weight 1, turned
// round when an interior edge points against it. False when p has more than two open edges or
// no edge of usable length.
bool InwardDirection(const float* x, const float* y, const float* z, IndexNode* const* vertexEdges,
                     const int32_t* edges, int p, const unsigned char* mask, double D[3]) {
  int nOpen = 0, nInner = 0;
  for (const IndexNode* n = vertexEdges[p]; n; n = n->next) (mask[n->index] ? nOpen : nInner)++;
  if (nOpen > 2) return false;
  auto edgeVector = [&](int e, double d[3]) {
    const int u = OtherEnd(edges, e, p);
    d[0] = double(x[u]) - x[p];
    d[1] = double(y[u]) - y[p];
    d[2] = double(z[u]) - z[p];
    return std::max({std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])});
  };
  D[0] = D[1] = D[2] = 0;
  bool usable = false;
  for (const IndexNode* n = vertexEdges[p]; n; n = n->next) {
    double d[3];
    const double m = edgeVector(n->index, d);
    if (m < 1e-10) continue;
    const double w = mask[n->index] ? 1.0 / m : 1.0 / (nInner * m);
    for (int k = 0; k < 3; ++k) D[k] += w * d[k];
    usable = true;
  }
  if (!usable) return false;
  for (const IndexNode* n = vertexEdges[p]; n; n = n->next) {
    if (mask[n->index]) continue;
    double d[3];
    if (edgeVector(n->index, d) < 1e-10) continue;
    if (VecDotProd3(d, D) < 0) {
      for (int k = 0; k < 3; ++k) D[k] = -D[k];
      break;
    }
  }
  return true;
}

}  // namespace rpmclose_detail

using namespace rpmclose_detail;

namespace {

// Uses of each edge by non-degenerate triangles (a repeated vertex gives two equal corner edges
// and counts for none), in int: an edge of 256 triangles must not read as unused. A block of the
// caller's scope; null when memory runs out.
int* CountEdgeUses(const Cloud* cloud, const int32_t* edges, int32_t* const* cornerEdges, int edgeCount) {
  int* uses = CallocArray<int>(std::max(edgeCount, 1));
  if (!uses || KernelFailed()) return nullptr;
  for (int t = 0; t < cloud->ntri; ++t) {
    int32_t* const* c = cornerEdges + 3 * t;
    if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) continue;
    for (int k = 0; k < 3; ++k) ++uses[(c[k] - edges) / 2];
  }
  return uses;
}

}  // namespace

int FindOuterPolyEdges(const Cloud* cloud, const int32_t* edges, int32_t* const* cornerEdges, int edgeCount,
                       int* openCount, unsigned char* mask) {
  TrackingScope scope;
  const int* uses = CountEdgeUses(cloud, edges, cornerEdges, edgeCount);
  if (!uses) return 0;
  int open = 0;
  for (int e = 0; e < edgeCount; ++e) {
    mask[e] = uses[e] == 1;
    open += mask[e];
  }
  *openCount = open;
  return 1;
}

int JustVerifyClosedPolyCloud(const Cloud* cloud, PolyEdgeCounts* counts) {
  for (int32_t& n : counts->uses) n = 0;
  int32_t* edges = nullptr;
  int32_t** corners = nullptr;
  int nedges = 0;
  if (!CreatePolyEdges(cloud, &edges, &corners, &nedges)) return 0;
  Owned<int32_t, Free> edgesOwner(edges);
  Owned<int32_t*, Free> cornersOwner(corners);
  if (nedges < 1) return 1;
  TrackingScope scope;
  const int* uses = CountEdgeUses(cloud, edges, corners, nedges);
  if (!uses) return 0;
  for (int e = 0; e < nedges; ++e)
    if (uses[e] > 0) ++counts->uses[std::min(uses[e], 5)];
  return 1;
}

void MarkCornerVertices(const Cloud* cloud, const int32_t* edges, IndexNode* const* vertexEdges,
                        const unsigned char* mask, double cosSqLimit, unsigned char* corner) {
  for (int v = 0; v < cloud->npts; ++v) {
    int nOpen = 0, ends[2] = {-1, -1};
    for (const IndexNode* n = vertexEdges[v]; n; n = n->next) {
      if (!mask[n->index]) continue;
      if (nOpen < 2) ends[nOpen] = OtherEnd(edges, n->index, v);
      ++nOpen;
    }
    corner[v] = 0;
    if (nOpen > 2) {
      corner[v] = 1;
    } else if (nOpen == 2) {
      double p[3], d1[3], d2[3], q[3];
      GetCldPoint(cloud, v, p);
      GetCldPoint(cloud, ends[0], q);
      VecDiff3(p, q, d1);
      GetCldPoint(cloud, ends[1], q);
      VecDiff3(p, q, d2);
      const double l2 = VecDotProd3(d1, d1) * VecDotProd3(d2, d2);
      const double dot = VecDotProd3(d1, d2);
      if (l2 >= 1e-10 && dot * dot / l2 < cosSqLimit) corner[v] = 1;
    }
  }
}

int PolygonsEdgesOverlap(const float* x, const float* y, const float* z, IndexNode* const* vertexEdges,
                         const int32_t* edges, int v, int w, const unsigned char* mask) {
  double Dv[3], Dw[3];
  if (!rpmclose_detail::InwardDirection(x, y, z, vertexEdges, edges, v, mask, Dv)) return 0;
  if (!rpmclose_detail::InwardDirection(x, y, z, vertexEdges, edges, w, mask, Dw)) return 0;
  return VecDotProd3(Dv, Dw) >= 0 ? 1 : 0;
}

int PolyVertEdgesOverlap(const float* x, const float* y, const float* z, IndexNode* const* vertexEdges,
                         const int32_t* edges, int v, int a, int b, int c, const CloudTriangle* triangle,
                         const unsigned char* mask) {
  double D[3];
  if (!rpmclose_detail::InwardDirection(x, y, z, vertexEdges, edges, v, mask, D)) return 0;
  const double n[3] = {triangle->plane[0], triangle->plane[1], triangle->plane[2]};
  const double e[3] = {double(x[b]) - x[a], double(y[b]) - y[a], double(z[b]) - z[a]};
  const double ac[3] = {double(x[c]) - x[a], double(y[c]) - y[a], double(z[c]) - z[a]};
  double p[3];
  VecCrossProd3(n, e, p);
  if (VecDotProd3(p, ac) < 0)
    for (double& k : p) k = -k;
  return VecDotProd3(p, D) >= 0 ? 1 : 0;
}

// ---- the working state of the joining ------------------------------------------------------

struct JoinPolysState {
  Cloud* cloud = nullptr;
  const float* axis = nullptr;  // the sort coordinate: one of the cloud's coordinate arrays
  CloudTriangle* tri = nullptr;
  int ntri = 0, triCap = 0, triGrowth = 16;
  int32_t* edges = nullptr;  // pairs; an open edge's first end has the smaller sort coordinate
  int nedges = 0, edgeCap = 0, edgeGrowth = 16;
  unsigned char* mask = nullptr;  // per edge, 1 while open; grown with the edges
  SortNode** edgeNode = nullptr;  // per edge, its node in the open-edge list (null when closed)
  int nopen = 0;                  // open edges now
  int openAtStart = 0;            // open edges at set-up: the growth steps' unit
  unsigned char* boundary = nullptr;
  unsigned char* corner = nullptr;
  unsigned char* moved = nullptr;  // points whose position changed: their triangles need planes
  SortNode** vertNode = nullptr;   // per vertex, its node in the boundary-vertex list
  IndexNode** vtri = nullptr;      // vertex-to-triangle lists (boundary vertices)
  IndexNode** vedge = nullptr;     // vertex-to-edge lists (boundary vertices)
  NodeBlocks<IndexNode> links;
  NodeBlocks<SortNode> sortNodes;
  SortedList verts, open;

  float VertexKey(int v) const { return axis[v]; }
  float EdgeKey(int e) const { return axis[edges[2 * e]]; }
  int Edge(int v, int w) const { return GetEdgeNo(edges, vedge, v, w); }
  int Other(int e, int v) const { return OtherEnd(edges, e, v); }

  int OpenEdgeCount(int v) const {
    int n = 0;
    for (const IndexNode* l = vedge[v]; l; l = l->next) n += mask[l->index];
    return n;
  }
  // The first triangle on a's list that holds b, or -1.
  int TriangleWith(int a, int b) const {
    for (const IndexNode* n = vtri[a]; n; n = n->next) {
      const int32_t* w = tri[n->index].v;
      if (w[0] == b || w[1] == b || w[2] == b) return n->index;
    }
    return -1;
  }
  int Third(int t, int a, int b) const {
    for (int32_t w : tri[t].v)
      if (w != a && w != b) return w;
    return -1;
  }
  bool InGrownBox(int p, int a, int b, double r) const {
    const float* c[3] = {cloud->x, cloud->y, cloud->z};
    for (const float* k : c) {
      const double lo = std::min(k[a], k[b]) - r, hi = std::max(k[a], k[b]) + r;
      if (k[p] < lo || k[p] > hi) return false;
    }
    return true;
  }

  void OrientEdge(int e) {
    if (axis[edges[2 * e]] > axis[edges[2 * e + 1]]) std::swap(edges[2 * e], edges[2 * e + 1]);
  }
  void ResortVertex(int v) {
    if (vertNode[v]) verts.Resort(vertNode[v], [this](int u) { return VertexKey(u); });
  }
  void ResortOpenEdgesOf(int v) {
    for (const IndexNode* n = vedge[v]; n; n = n->next) {
      const int e = n->index;
      if (!edgeNode[e]) continue;
      OrientEdge(e);
      open.Resort(edgeNode[e], [this](int f) { return EdgeKey(f); });
    }
  }
  void Unflag(int v) {
    boundary[v] = 0;
    if (vertNode[v]) verts.Unlink(vertNode[v]);
    vertNode[v] = nullptr;
  }
  void UnflagIfClosed(int v) {
    if (OpenEdgeCount(v) == 0) Unflag(v);
  }
  void CloseEdge(int e) {
    nopen -= mask[e];
    mask[e] = 0;
    if (edgeNode[e]) open.Unlink(edgeNode[e]);
    edgeNode[e] = nullptr;
  }
  bool PushLink(IndexNode** head, int index) {
    IndexNode* n = links.Take();
    if (!n) return false;
    n->index = index;
    n->next = *head;
    *head = n;
    return true;
  }
  void SetPlanes(int v) {
    for (const IndexNode* n = vtri[v]; n; n = n->next) MakeCldPolyPlane(cloud, &tri[n->index]);
  }
  void MoveVertex(int v, const double p[3]) {
    cloud->x[v] = float(p[0]);
    cloud->y[v] = float(p[1]);
    cloud->z[v] = float(p[2]);
    moved[v] = 1;
  }

  // Room for `more` further edges (edges, mask and node table grow together; a refusal keeps
  // the old blocks and capacity).
  bool EdgeRoom(int more) {
    while (nedges + more > edgeCap) {
      const int cap = edgeCap + edgeGrowth;
      int32_t* e = ReallocArray(edges, 2, cap);
      if (!e) return false;
      edges = e;
      unsigned char* m = ReallocArray(mask, cap);
      if (!m) return false;
      mask = m;
      SortNode** s = ReallocArray(edgeNode, cap);
      if (!s) return false;
      edgeNode = s;
      edgeCap = cap;
    }
    return !KernelFailed();
  }
  bool TriangleRoom(int more) {
    while (ntri + more > triCap) {
      const int cap = triCap + triGrowth;
      CloudTriangle* t = ReallocArray(tri, cap);
      if (!t) return false;
      tri = t;
      triCap = cap;
    }
    return !KernelFailed();
  }
  // A new edge v-w (room made beforehand), on the lists of both ends; an open one goes into the
  // open-edge list beside `near` and is sorted from there. -1 when a node cannot be had.
  int AddEdge(int v, int w, bool isOpen, SortNode* near) {
    const int e = nedges++;
    edges[2 * e] = v;
    edges[2 * e + 1] = w;
    mask[e] = isOpen;
    edgeNode[e] = nullptr;
    if (!PushLink(&vedge[v], e) || !PushLink(&vedge[w], e)) return -1;
    if (isOpen) {
      SortNode* n = sortNodes.Take();
      if (!n) return -1;
      n->item = e;
      open.InsertAfter(near, n);
      edgeNode[e] = n;
      ++nopen;
      OrientEdge(e);
      open.Resort(n, [this](int f) { return EdgeKey(f); });
    }
    return e;
  }
  // A new triangle (room made beforehand) with its plane, on its vertices' lists; -1 when a
  // node cannot be had.
  int AddTriangle(int a, int b, int c) {
    const int t = ntri++;
    tri[t].v[0] = a;
    tri[t].v[1] = b;
    tri[t].v[2] = c;
    MakeCldPolyPlane(cloud, &tri[t]);
    for (int v : {a, b, c})
      if (!PushLink(&vtri[v], t)) return -1;
    return t;
  }
  // Drops triangle t, the last one taking its number.
  void RemoveTriangle(int t) {
    for (int32_t v : tri[t].v) DeleteVertexPoly(vtri, v, t);
    const int last = --ntri;
    if (t == last) return;
    tri[t] = tri[last];
    for (int32_t v : tri[t].v)
      for (IndexNode* n = vtri[v]; n; n = n->next)
        if (n->index == last) {
          n->index = t;
          break;
        }
  }
  // w's triangles and edges take v, w's lists join v's, and w leaves the boundary.
  void Weld(int w, int v) {
    for (const IndexNode* n = vtri[w]; n; n = n->next)
      for (int32_t& k : tri[n->index].v)
        if (k == w) k = v;
    for (const IndexNode* n = vedge[w]; n; n = n->next)
      for (int s = 0; s < 2; ++s)
        if (edges[2 * n->index + s] == w) edges[2 * n->index + s] = v;
    AppendList(&vtri[v], vtri[w]);
    AppendList(&vedge[v], vedge[w]);
    vtri[w] = nullptr;
    vedge[w] = nullptr;
    Unflag(w);
  }

  // Edge e (-1: none yet) between v and w: a missing one is added open beside `near`, an
  // existing one (open) becomes interior. False when a node cannot be had.
  bool OpenOrClose(int e, int v, int w, SortNode* near) {
    if (e >= 0) {
      CloseEdge(e);
      return true;
    }
    return AddEdge(v, w, true, near) >= 0;
  }

  // Visits (e, a, b) for the open edges of v's scan window, a being each edge's near end: edges
  // whose far end lies more than `behind` below v's sort coordinate are passed for good (the
  // window's start moves on, as the vertices come in ascending order), and the walk ends at the
  // first edge whose near end lies more than `ahead` above it. Edges ending at v are left out.
  template <class Visit>
  void ScanEdges(int v, double behind, double ahead, Visit visit) {
    const double cv = axis[v];
    while (open.start && axis[edges[2 * open.start->item + 1]] < cv - behind) open.start = open.start->next;
    for (const SortNode* m = open.start; m; m = m->next) {
      const int e = m->item, a = edges[2 * e], b = edges[2 * e + 1];
      if (axis[a] > cv + ahead) break;
      if (a != v && b != v) visit(e, a, b);
    }
  }

  void Report(const char* title);
  int Setup(int givenOpen);
  void CollapseShortEdges(double tol);
  int Nearest(int v, double best2, double window, bool cornersOnly, int exclude, double* d2) const;
  bool WeldAllowed(int v, int w) const;
  void JoinPair(int v, int w);
  void JoinVertexPasses(double tol, bool cornerStage);
  bool SplitCandidate(int v, int a, int b, double* d2, bool* hasEdge) const;
  bool CloserVertexTakesEdge(int v, int a, int b, double best2) const;
  bool SplitEdge(int v, int e, int t, int c);
  bool SplitPasses(double tol, int* splits);
  bool SameSide(int e, int p) const;
  bool BridgeCandidate(int v, int a, int b, bool sideTest, double* d2) const;
  bool OuterTieWins(int v, int chosen, int e) const;
  bool CloserVertexBridges(int v, int a, int b, double best2) const;
  bool Bridge(int v, int e);
  int BridgePass(double tol, double bridgeTol, bool sideTest);
  int Install();
  int Stages(double tol, double bridgeTol, int* splitCount, int givenOpen);
  int Run(double tol, double bridgeTol, int* splitCount, int givenOpen);
};

// Stage reports for debugging, only under ZK666DEBUG: edge uses of the working triangles.
void JoinPolysState::Report(const char* title) {
  if (!ZK666DEBUG) return;
  CloudTriangle* keepTri = cloud->tri;
  const int keepCount = cloud->ntri;
  cloud->tri = tri;
  cloud->ntri = ntri;
  PolyEdgeCounts counts;
  const int ok = JustVerifyClosedPolyCloud(cloud, &counts);
  cloud->tri = keepTri;
  cloud->ntri = keepCount;
  if (!ok) return;
  std::printf("%s", title);
  std::printf("  %d open edges\n", counts.uses[1]);
  const int mults = counts.uses[3] + counts.uses[4] + counts.uses[5];
  if (mults) std::printf("  %d MULTS !!!\n", mults);
  std::printf("--------------------------------\n");
}

// Edges, mask, flags, lists and the two sorted lists, all in the caller's scope. 1, or 0 (out
// of memory or a break).
int JoinPolysState::Setup(int givenOpen) {
  int32_t* edges0 = nullptr;
  int32_t** corners = nullptr;
  int nedges0 = 0;
  if (!CreatePolyEdges(cloud, &edges0, &corners, &nedges0)) return 0;
  Owned<int32_t, Free> edgesOwner(edges0);
  Owned<int32_t*, Free> cornersOwner(corners);
  const int npts = cloud->npts;
  if (mask) {
    edgeCap = nedges0;
    nopen = 0;
    for (int e = 0; e < nedges0; ++e) nopen += mask[e] = mask[e] == 1;
    (void)givenOpen;  // recounted: the mask itself says which edges are open
  } else {
    edgeCap = nedges0 + nedges0 / 2;
    mask = MallocArray<unsigned char>(std::max(edgeCap, 1));
    if (!mask || KernelFailed()) return 0;
    if (!FindOuterPolyEdges(cloud, edges0, corners, nedges0, &nopen, mask)) return 0;
  }
  edgeCap = std::max(edgeCap, 1);
  openAtStart = nopen;
  triGrowth = std::max(2 * nopen, 16);
  edgeGrowth = std::max(4 * nopen, 16);
  links.SetBlockSize(std::max(6 * nopen, 6));
  sortNodes.SetBlockSize(std::max(nopen, 6));

  boundary = CallocArray<unsigned char>(npts);
  corner = CallocArray<unsigned char>(npts);
  moved = CallocArray<unsigned char>(npts);
  if (!boundary || !corner || !moved || KernelFailed()) return 0;
  for (int e = 0; e < nedges0; ++e)
    if (mask[e]) boundary[edges0[2 * e]] = boundary[edges0[2 * e + 1]] = 1;
  nedges = nedges0;
  edges = MallocArray<int32_t>(2, edgeCap);
  edgeNode = CallocArray<SortNode*>(edgeCap);
  if (!edges || !edgeNode || KernelFailed()) return 0;
  std::copy(edges0, edges0 + 2 * nedges0, edges);
  edgesOwner.reset();
  cornersOwner.reset();
  if (mask && edgeCap > nedges0) {
    unsigned char* m = ReallocArray(mask, edgeCap);
    if (!m) return 0;
    mask = m;
  }

  if (user_break()) return 0;
  int nTriNodes = 0, nEdgeNodes = 0;
  for (int t = 0; t < cloud->ntri; ++t)
    for (int32_t v : cloud->tri[t].v) nTriNodes += boundary[v];
  for (int k = 0; k < 2 * nedges; ++k) nEdgeNodes += boundary[edges[k]];
  vtri = MallocArray<IndexNode*>(npts);
  vedge = MallocArray<IndexNode*>(npts);
  IndexNode* triNodes = MallocArray<IndexNode>(std::max(nTriNodes, 1));
  IndexNode* edgeNodes = MallocArray<IndexNode>(std::max(nEdgeNodes, 1));
  triCap = cloud->ntri + std::max(2 * nopen, 1);
  tri = MallocArray<CloudTriangle>(triCap);
  vertNode = CallocArray<SortNode*>(npts);
  if (!vtri || !vedge || !triNodes || !edgeNodes || !tri || !vertNode || KernelFailed()) return 0;
  MakeMarkedPolyPointers(cloud, vtri, triNodes, boundary);
  MakeMarkedEdgePointers(cloud, edges, nedges, vedge, edgeNodes, boundary);
  ntri = cloud->ntri;
  std::copy(cloud->tri, cloud->tri + ntri, tri);

  // The sort axis: the largest extent of the boundary vertices' box (ties to the earlier axis).
  double lo[3] = {3.37e38, 3.37e38, 3.37e38}, hi[3] = {-3.37e38, -3.37e38, -3.37e38};
  int nb = 0;
  for (int v = 0; v < npts; ++v) {
    if (!boundary[v]) continue;
    ++nb;
    double p[3];
    GetCldPoint(cloud, v, p);
    for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
  }
  int ax = 0;
  for (int k = 1; k < 3; ++k)
    if (hi[k] - lo[k] > hi[ax] - lo[ax]) ax = k;
  axis = ax == 0 ? cloud->x : ax == 1 ? cloud->y : cloud->z;

  float* keys = MallocArray<float>(std::max(std::max(nb, nopen), 1));
  int* ids = MallocArray<int>(std::max(std::max(nb, nopen), 1));
  SortNode* vnodes = MallocArray<SortNode>(std::max(nb, 1));
  SortNode* enodes = MallocArray<SortNode>(std::max(nopen, 1));
  if (!keys || !ids || !vnodes || !enodes || KernelFailed()) return 0;
  int n = 0;
  for (int e = 0; e < nedges; ++e) {
    if (!mask[e]) continue;
    OrientEdge(e);
    keys[n] = EdgeKey(e);
    ids[n++] = e;
  }
  HeapSortFloatInt(n, keys, ids);
  SortNode* prev = nullptr;
  for (int i = 0; i < n; ++i) {
    enodes[i].item = ids[i];
    open.InsertAfter(prev, &enodes[i]);
    edgeNode[ids[i]] = prev = &enodes[i];
  }
  n = 0;
  for (int v = 0; v < npts; ++v)
    if (boundary[v]) keys[n] = axis[v], ids[n++] = v;
  HeapSortFloatInt(n, keys, ids);
  prev = nullptr;
  for (int i = 0; i < n; ++i) {
    vnodes[i].item = ids[i];
    verts.InsertAfter(prev, &vnodes[i]);
    vertNode[ids[i]] = prev = &vnodes[i];
  }
  return 1;
}

// Stage 1: an open edge shorter than tol/2 whose triangle's other two edges are interior
// collapses into its midpoint, unless its ends share a neighbour besides that triangle's third
// vertex (the collapse would fold the mesh).
void JoinPolysState::CollapseShortEdges(double tol) {
  const float limit = float(0.25 * tol * tol);
  const float* x = cloud->x;
  const float* y = cloud->y;
  const float* z = cloud->z;
  open.cursor = open.head;
  while (SortNode* node = open.cursor) {
    open.cursor = node->next;
    const int e = node->item, a = edges[2 * e], b = edges[2 * e + 1];
    const float dx = x[b] - x[a], dy = y[b] - y[a], dz = z[b] - z[a];
    if (!(dx * dx + dy * dy + dz * dz < limit)) continue;
    const int t = TriangleWith(a, b);
    if (t < 0) continue;
    const int c = Third(t, a, b);
    const int eac = Edge(a, c), ebc = Edge(b, c);
    if (c < 0 || eac < 0 || ebc < 0 || mask[eac] || mask[ebc]) continue;
    bool shared = false;
    for (const IndexNode* n = vedge[a]; n && !shared; n = n->next) {
      const int u = Other(n->index, a);
      shared = u != b && u != c && Edge(b, u) >= 0;
    }
    if (shared) continue;
    DeleteCloudEdge(&vedge[b], ebc);
    DeleteCloudEdge(&vedge[c], ebc);
    RemoveTriangle(t);
    DeleteCloudEdge(&vedge[a], e);
    DeleteCloudEdge(&vedge[b], e);
    CloseEdge(e);
    double pa[3], pb[3], mid[3];
    GetCldPoint(cloud, a, pa);
    GetCldPoint(cloud, b, pb);
    for (int k = 0; k < 3; ++k) mid[k] = 0.5 * (pa[k] + pb[k]);
    Weld(b, a);
    MoveVertex(a, mid);
    ResortVertex(a);
    ResortOpenEdgesOf(a);
    SetPlanes(a);
  }
}

// The boundary vertex nearest to v with a squared distance strictly below best2 (corners only
// when asked, never `exclude`): walks the sorted list back and forth from v, each walk ending
// at the first vertex beyond the window, which shrinks to the best distance found. -1 if none.
int JoinPolysState::Nearest(int v, double best2, double window, bool cornersOnly, int exclude, double* d2) const {
  int found = -1;
  const double cv = axis[v];
  auto consider = [&](int w) {
    if (w == exclude || (cornersOnly && !corner[w])) return;
    const double dd = Dist2(cloud, v, w);
    if (dd < best2) {
      best2 = dd;
      window = std::sqrt(dd);
      found = w;
    }
  };
  for (const SortNode* n = vertNode[v]->prev; n && cv - axis[n->item] <= window; n = n->prev) consider(n->item);
  for (const SortNode* n = vertNode[v]->next; n && axis[n->item] - cv <= window; n = n->next) consider(n->item);
  *d2 = best2;
  return found;
}

// v and w may weld when no edge joins them and each neighbour they share is joined to both by
// open edges (those pairs become one interior edge).
bool JoinPolysState::WeldAllowed(int v, int w) const {
  if (Edge(v, w) >= 0) return false;
  for (const IndexNode* n = vedge[v]; n; n = n->next) {
    const int ew = Edge(w, Other(n->index, v));
    if (ew >= 0 && (!mask[n->index] || !mask[ew])) return false;
  }
  return true;
}

// Welds w into v at their midpoint; the vertices around v follow by half of v's move.
void JoinPolysState::JoinPair(int v, int w) {
  for (const IndexNode* n = vedge[v]; n; n = n->next) {
    const int e = n->index, u = Other(e, v);
    const int ew = Edge(w, u);
    if (ew < 0) continue;
    DeleteCloudEdge(&vedge[w], ew);
    DeleteCloudEdge(&vedge[u], ew);
    CloseEdge(e);
    CloseEdge(ew);
    if (boundary[u]) UnflagIfClosed(u);
  }
  double pv[3], pw[3], mid[3], half[3];
  GetCldPoint(cloud, v, pv);
  GetCldPoint(cloud, w, pw);
  for (int k = 0; k < 3; ++k) {
    mid[k] = 0.5 * (pv[k] + pw[k]);
    half[k] = 0.5 * (mid[k] - pv[k]);
  }
  Weld(w, v);
  MoveVertex(v, mid);
  for (const IndexNode* n = vedge[v]; n; n = n->next) {
    const int u = Other(n->index, v);
    if (u == v) continue;
    cloud->x[u] += float(half[0]);
    cloud->y[u] += float(half[1]);
    cloud->z[u] += float(half[2]);
    moved[u] = 1;
    if (boundary[u]) {
      ResortVertex(u);
      ResortOpenEdgesOf(u);
    }
  }
  ResortVertex(v);
  ResortOpenEdgesOf(v);
  SetPlanes(v);
  UnflagIfClosed(v);
}

// Stages 2 and 3: passes over the boundary vertices (corners only in stage 2) until one welds
// nothing; a vertex welds to its nearest candidate within tol when that candidate has none
// nearer. In stage 3 a weld that involves a corner must not lay the boundary over itself.
void JoinPolysState::JoinVertexPasses(double tol, bool cornerStage) {
  // Vertices exactly tol apart still weld: the limits lie just above tol^2 and tol, by 1e-20 or,
  // where that is lost to rounding, by one unit in the last place.
  const double limit2 = std::max(tol * tol + 1e-20, std::nextafter(tol * tol, HUGE_VAL));
  const double window = std::max(tol + 1e-20, std::nextafter(tol, HUGE_VAL));
  for (bool joined = true; joined;) {
    joined = false;
    verts.cursor = verts.head;
    while (SortNode* node = verts.cursor) {
      verts.cursor = node->next;
      const int v = node->item;
      if (cornerStage && !corner[v]) continue;
      double d2 = 0, closer = 0;
      const int w = Nearest(v, limit2, window, cornerStage, -1, &d2);
      if (w < 0) continue;
      if (!cornerStage && (corner[v] || corner[w]) &&
          PolygonsEdgesOverlap(cloud->x, cloud->y, cloud->z, vedge, edges, v, w, mask))
        continue;
      if (Nearest(w, d2, std::sqrt(d2), cornerStage, v, &closer) >= 0) continue;
      if (!WeldAllowed(v, w)) continue;
      JoinPair(v, w);
      joined = true;
    }
  }
}

// The tests of a split of edge a-b at v: v's edges to a and b, where they exist, are open; not
// already a triangle (v, a, b); the foot of v strictly inside the edge. d2 gets the squared
// distance, hasEdge whether v already has an edge to a or b.
bool JoinPolysState::SplitCandidate(int v, int a, int b, double* d2, bool* hasEdge) const {
  const int e1 = Edge(v, a), e2 = Edge(v, b);
  if ((e1 >= 0 && !mask[e1]) || (e2 >= 0 && !mask[e2])) return false;
  if (e1 >= 0 && e2 >= 0 && GetPolyFromVertices(vtri, tri, v, a, b) >= 0) return false;
  double t = 0;
  *d2 = SegmentDist2(cloud, v, a, b, &t);
  if (t < 1e-6 || t > 0.999999) return false;
  *hasEdge = e1 >= 0 || e2 >= 0;
  return true;
}

// Whether another boundary vertex near the edge passes the split tests strictly closer to it.
bool JoinPolysState::CloserVertexTakesEdge(int v, int a, int b, double best2) const {
  const double dist = std::sqrt(best2);
  auto takes = [&](int w) {
    if (w == a || w == b) return false;
    double d2 = 0;
    bool hasEdge = false;
    return InGrownBox(w, a, b, dist) && SplitCandidate(w, a, b, &d2, &hasEdge) && d2 < best2;
  };
  for (const SortNode* n = vertNode[v]->next; n && axis[n->item] - axis[b] <= dist; n = n->next) {
    const int w = n->item;
    if (corner[v] && Edge(w, a) < 0 && Edge(w, b) < 0) continue;
    if (takes(w)) return true;
  }
  for (const SortNode* n = vertNode[v]->prev; n && axis[a] - axis[n->item] <= dist; n = n->prev)
    if (takes(n->item)) return true;
  return false;
}

// Splits open edge e = a-b of triangle t = (a, b, c) at v: v-a and v-b become interior where
// they existed and open where they are new, v-c is new and interior; t keeps a and its vertex
// order with v for b, and the appended triangle has t's old vertices with v for a.
bool JoinPolysState::SplitEdge(int v, int e, int t, int c) {
  if (!EdgeRoom(3) || !TriangleRoom(1)) return false;
  const int a = edges[2 * e], b = edges[2 * e + 1];
  const int e1 = Edge(v, a), e2 = Edge(v, b);
  SortNode* near = edgeNode[e];
  if (!OpenOrClose(e1, v, a, near) || !OpenOrClose(e2, v, b, near)) return false;
  CloseEdge(e);
  DeleteCloudEdge(&vedge[a], e);
  DeleteCloudEdge(&vedge[b], e);
  if (AddEdge(v, c, false, nullptr) < 0) return false;
  if (e1 >= 0) UnflagIfClosed(a);
  if (e2 >= 0) UnflagIfClosed(b);
  if (e1 >= 0 && e2 >= 0) UnflagIfClosed(v);
  int32_t old[3] = {tri[t].v[0], tri[t].v[1], tri[t].v[2]};
  for (int32_t& k : tri[t].v)
    if (k == b) k = v;
  MakeCldPolyPlane(cloud, &tri[t]);
  DeleteVertexPoly(vtri, b, t);
  if (!PushLink(&vtri[v], t)) return false;
  for (int32_t& k : old)
    if (k == a) k = v;
  return AddTriangle(old[0], old[1], old[2]) >= 0;
}

// Stage 4: passes until one splits nothing; each boundary vertex splits the nearest open edge
// within tol whose foot lies inside it, unless a closer vertex claims that edge or the split
// would lay the boundary over itself.
bool JoinPolysState::SplitPasses(double tol, int* splits) {
  const double tol2 = tol * tol;
  for (;;) {
    if (user_break()) return false;
    bool split = false;
    open.start = open.head;
    verts.cursor = verts.head;
    while (SortNode* node = verts.cursor) {
      verts.cursor = node->next;
      const int v = node->item;
      int chosen = -1;
      bool chosenHasEdge = false;
      double best = tol2;
      ScanEdges(v, tol, tol, [&](int e, int a, int b) {
        double d2 = 0;
        bool hasEdge = false;
        if (!InGrownBox(v, a, b, tol) || !SplitCandidate(v, a, b, &d2, &hasEdge)) return;
        if (d2 < best || (d2 == best && !chosenHasEdge && hasEdge)) {
          chosen = e;
          best = d2;
          chosenHasEdge = hasEdge;
        }
      });
      if (chosen < 0) continue;
      const int a = edges[2 * chosen], b = edges[2 * chosen + 1];
      if (best > 0 && !chosenHasEdge && CloserVertexTakesEdge(v, a, b, best)) continue;
      const int t = TriangleWith(a, b);
      if (t < 0) continue;
      const int c = Third(t, a, b);
      if (c < 0 || c == v || Edge(v, c) >= 0) continue;
      // Consulted whenever v has no edge to the edge's ends: then nothing else says on which
      // side of the edge v lies.
      if (!chosenHasEdge &&
          PolyVertEdgesOverlap(cloud->x, cloud->y, cloud->z, vedge, edges, v, a, b, c, &tri[t], mask))
        continue;
      if (!SplitEdge(v, chosen, t, c)) return false;
      ++*splits;
      split = true;
    }
    if (!split) return true;
  }
}

// ---- bridging ----------------------------------------------------------------------------

// Whether point p lies on the same side of edge e's line as the triangle that holds e (or on the
// line): the bridge triangle would fold onto it.
bool JoinPolysState::SameSide(int e, int p) const {
  const int s = edges[2 * e], q = edges[2 * e + 1];
  const int t = TriangleWith(s, q);
  if (t < 0) return false;
  double ps[3], pq[3], pc[3], pp[3], fc[3], fp[3];
  GetCldPoint(cloud, s, ps);
  GetCldPoint(cloud, q, pq);
  GetCldPoint(cloud, Third(t, s, q), pc);
  GetCldPoint(cloud, p, pp);
  FootOnLine(pc, ps, pq, fc);
  FootOnLine(pp, ps, pq, fp);
  double dc[3], dp[3];
  VecDiff3(pc, fc, dc);
  VecDiff3(pp, fp, dp);
  return VecDotProd3(dc, dp) > 0;
}

bool JoinPolysState::BridgeCandidate(int v, int a, int b, bool sideTest, double* d2) const {
  const int e1 = Edge(v, a), e2 = Edge(v, b);
  if ((e1 >= 0 && !mask[e1]) || (e2 >= 0 && !mask[e2])) return false;
  if (e1 >= 0 && e2 >= 0 && GetPolyFromVertices(vtri, tri, v, a, b) >= 0) return false;
  // A bridge of no area (v on the edge's line) closes nothing and leaves a sliver.
  double pv[3], pa[3], pb[3], da[3], db[3], cr[3];
  GetCldPoint(cloud, v, pv);
  GetCldPoint(cloud, a, pa);
  GetCldPoint(cloud, b, pb);
  VecDiff3(pa, pv, da);
  VecDiff3(pb, pv, db);
  VecCrossProd3(da, db, cr);
  if (VecDotProd3(cr, cr) <= 1e-10 * VecDotProd3(da, da) * VecDotProd3(db, db)) return false;
  if (sideTest) {
    const int e = GetEdgeNo(edges, vedge, a, b);
    // Each edge of the bridge that already exists must have its triangle on the far side from
    // the bridge's third corner.
    if ((e >= 0 && SameSide(e, v)) || (e1 >= 0 && SameSide(e1, b)) || (e2 >= 0 && SameSide(e2, a))) return false;
  }
  *d2 = SegmentDist2(cloud, v, a, b, nullptr);
  return true;
}

// On a tie between the chosen edge and edge e that share an end s already joined to v: e wins
// when it lies further to the outer side of the joint v-s, away from v's triangle there.
bool JoinPolysState::OuterTieWins(int v, int chosen, int e) const {
  const int c0 = edges[2 * chosen], c1 = edges[2 * chosen + 1], n0 = edges[2 * e], n1 = edges[2 * e + 1];
  int s = -1;
  if (c0 == n0 || c0 == n1) s = c0;
  else if (c1 == n0 || c1 == n1) s = c1;
  if (s < 0 || Edge(v, s) < 0) return false;
  const int t = TriangleWith(v, s);
  if (t < 0) return false;
  const int third = Third(t, v, s), otherNew = n0 == s ? n1 : n0, otherChosen = c0 == s ? c1 : c0;
  double pv[3], ps[3];
  GetCldPoint(cloud, v, pv);
  GetCldPoint(cloud, s, ps);
  auto offLine = [&](int p, double dir[3]) {
    double pp[3], foot[3], raw[3];
    GetCldPoint(cloud, p, pp);
    FootOnLine(pp, pv, ps, foot);
    VecDiff3(pp, foot, raw);
    VecPseudoNormalize3(raw, dir);
  };
  double dt[3], dn[3], dc[3];
  offLine(third, dt);
  offLine(otherNew, dn);
  offLine(otherChosen, dc);
  return VecDotProd3(dn, dt) < VecDotProd3(dc, dt);
}

bool JoinPolysState::CloserVertexBridges(int v, int a, int b, double best2) const {
  const double dist = std::sqrt(best2);
  auto closer = [&](int w) {
    return w != a && w != b && InGrownBox(w, a, b, dist) && SegmentDist2(cloud, w, a, b, nullptr) < best2;
  };
  for (const SortNode* n = vertNode[v]->next; n && axis[n->item] - axis[b] <= dist; n = n->next)
    if (closer(n->item)) return true;
  for (const SortNode* n = vertNode[v]->prev; n && axis[a] - axis[n->item] <= dist; n = n->prev)
    if (closer(n->item)) return true;
  return false;
}

// Bridges v to open edge e = a-b with the triangle (v, a, b), turned against e's triangle.
bool JoinPolysState::Bridge(int v, int e) {
  if (!EdgeRoom(2) || !TriangleRoom(1)) return false;
  const int a = edges[2 * e], b = edges[2 * e + 1];
  const int t = TriangleWith(a, b);
  bool aThenB = false;  // e's triangle runs a to b, so the bridge runs b to a
  if (t >= 0)
    for (int k = 0; k < 3; ++k) aThenB |= tri[t].v[k] == a && tri[t].v[(k + 1) % 3] == b;
  const int e1 = Edge(v, a), e2 = Edge(v, b);
  SortNode* near = edgeNode[e];
  if (!OpenOrClose(e1, v, a, near) || !OpenOrClose(e2, v, b, near)) return false;
  CloseEdge(e);
  if (e1 >= 0) UnflagIfClosed(a);
  if (e2 >= 0) UnflagIfClosed(b);
  if (e1 >= 0 && e2 >= 0) UnflagIfClosed(v);
  return (aThenB ? AddTriangle(b, a, v) : AddTriangle(a, b, v)) >= 0;
}

// One pass of bridging: the number of bridges, or -1 when memory ran out.
int JoinPolysState::BridgePass(double tol, double bridgeTol, bool sideTest) {
  int added = 0;
  open.start = open.head;
  verts.cursor = verts.head;
  while (SortNode* node = verts.cursor) {
    verts.cursor = node->next;
    const int v = node->item;
    int chosen = -1;
    double best = bridgeTol * bridgeTol, reach = bridgeTol;
    // The forward reach is tol, not bridgeTol: bridges are laid from the side of the edge's
    // start, so each gap is bridged once from its lower end.
    ScanEdges(v, bridgeTol, tol, [&](int e, int a, int b) {
      double d2 = 0;
      if (!InGrownBox(v, a, b, reach) || !BridgeCandidate(v, a, b, sideTest, &d2)) return;
      if (d2 < best || (d2 == best && chosen < 0)) {
        chosen = e;
        best = d2;
        reach = std::sqrt(d2);
      } else if (d2 == best && OuterTieWins(v, chosen, e)) {
        chosen = e;
      }
    });
    if (chosen < 0) continue;
    if (!sideTest && best > 0 && CloserVertexBridges(v, edges[2 * chosen], edges[2 * chosen + 1], best)) continue;
    if (!Bridge(v, chosen)) return -1;
    ++added;
  }
  return added;
}

int CloseCloudByBridging(Cloud* cloud, double tol, double bridgeTol, JoinPolysState* s, int* bridgeCount) {
  *bridgeCount = 0;
  if (!(bridgeTol > 0)) return 1;
  (void)cloud;
  s->links.SetBlockSize(std::max(6 * s->openAtStart, 50));
  s->sortNodes.SetBlockSize(std::max(6 * s->openAtStart, 50));
  // Each bridge can open two edges while closing one, so each phase is bounded by the open
  // edges at its start; every pass polls for a break.
  for (int phase = 1; phase <= 2; ++phase) {
    const int passes = std::max(s->nopen, 1);
    for (int pass = 0; pass < passes; ++pass) {
      if (user_break()) return 0;
      const int added = s->BridgePass(tol, bridgeTol, phase == 1);
      if (added < 0 || KernelFailed()) return 0;
      if (phase == 2) *bridgeCount += added;
      if (added == 0) break;
    }
  }
  s->Report("After Bridge vert to edge edges\n");
  return KernelFailed() ? 0 : 1;
}

// Hands the working triangles to the cloud, with fresh planes wherever a corner moved.
int JoinPolysState::Install() {
  for (int t = 0; t < ntri; ++t) {
    const int32_t* v = tri[t].v;
    if (moved[v[0]] || moved[v[1]] || moved[v[2]]) MakeCldPolyPlane(cloud, &tri[t]);
  }
  CloudTriangle* final = ReallocArray(tri, std::max(ntri, 1));
  if (!final || KernelFailed()) return 0;
  tri = final;
  RemoveMallocFromTrack(final);
  Free(cloud->tri);
  cloud->tri = final;
  cloud->ntri = ntri;
  return 1;
}

int JoinPolysState::Stages(double tol, double bridgeTol, int* splitCount, int givenOpen) {
  if (!Setup(givenOpen) || KernelFailed()) return 0;
  Report("Join Polys Start\n");
  if (user_break()) return 0;
  CollapseShortEdges(tol);
  Report("After removing small outer edges\n");
  if (user_break() || KernelFailed()) return 0;
  // cos^2 of 45 degrees: two open edges meeting at a sharper turn make a corner.
  const double cornerLimit = std::pow(std::cos(M_PI / 4), 2);
  MarkCornerVertices(cloud, edges, vedge, mask, cornerLimit, corner);
  JoinVertexPasses(tol, true);
  Report("After joining corner vertices\n");
  if (user_break() || KernelFailed()) return 0;
  MarkCornerVertices(cloud, edges, vedge, mask, cornerLimit, corner);
  JoinVertexPasses(tol, false);
  Report("After joining vertices\n");
  int splits = 0;
  if (!SplitPasses(tol, &splits) || KernelFailed()) return 0;
  Report("After Join vert to edge edges\n");
  int bridges = 0;
  if (!CloseCloudByBridging(cloud, tol, bridgeTol, this, &bridges)) return 0;
  if (!Install()) return 0;
  *splitCount = splits;
  return 1;
}

// The mask lives in whichever scope allocated it (the caller's or this one): freed here, before
// this scope closes, it is freed exactly once either way.
int JoinPolysState::Run(double tol, double bridgeTol, int* splitCount, int givenOpen) {
  TrackingScope scope;
  const int result = Stages(tol, bridgeTol, splitCount, givenOpen);
  Free(mask);
  mask = nullptr;
  return result;
}

int JoinCldPolys(Cloud* cloud, double tol, double bridgeTol, int* splitCount, unsigned char* mask, int openCount) {
  *splitCount = 0;
  JoinPolysState state;
  state.cloud = cloud;
  state.mask = mask;
  if (cloud && cloud->ntri > 0 && cloud->tri) return state.Run(tol, bridgeTol, splitCount, openCount);
  Free(mask);
  return 0;
}
