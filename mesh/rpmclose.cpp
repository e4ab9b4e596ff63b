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
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/trianum.h"
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

// Two vectors of squared lengths a and b have no angle to speak of when one vanishes beside the
// other (relative 1e-10 on the product of the squares, so meshes of any size compare alike).
inline bool NoDirection(double a, double b) { return a * b == 0 || std::min(a, b) < 1e-10 * std::max(a, b); }

// 1 when triangle t runs from a to b, -1 when from b to a, 0 when it lacks either.
int Runs(const CloudTriangle& t, int a, int b) {
  for (int k = 0; k < 3; ++k) {
    if (t.v[k] == a && t.v[(k + 1) % 3] == b) return 1;
    if (t.v[k] == b && t.v[(k + 1) % 3] == a) return -1;
  }
  return 0;
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
      const double a = VecDotProd3(d1, d1), b = VecDotProd3(d2, d2), dot = VecDotProd3(d1, d2);
      if (!NoDirection(a, b) && dot * dot / (a * b) < cosSqLimit) corner[v] = 1;
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
  // How the triangle on open edge a-b runs it: 1 from a to b, -1 from b to a, 0 without one.
  int RunBy(int a, int b) const {
    const int t = TriangleWith(a, b);
    return t < 0 ? 0 : Runs(tri[t], a, b);
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
  double lo[3] = {kNoValue, kNoValue, kNoValue}, hi[3] = {-kNoValue, -kNoValue, -kNoValue};
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
  // The two halves run a -> v -> b where the split triangle ran a -> b (or the reverse); a
  // triangle already on v-a or v-b must run that edge the other way, or the split would leave
  // two triangles facing against each other across it.
  if (e1 >= 0 || e2 >= 0) {
    const int t = TriangleWith(a, b);
    if (t < 0) return false;
    const int sense = Runs(tri[t], a, b);
    if ((e1 >= 0 && RunBy(v, a) != sense) || (e2 >= 0 && RunBy(b, v) != sense)) return false;
  }
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
  // A triangle that names one of the edge's ends twice has no third corner to stand on a side.
  const int c = t < 0 ? -1 : Third(t, s, q);
  if (c < 0) return false;
  double ps[3], pq[3], pc[3], pp[3], fc[3], fp[3];
  GetCldPoint(cloud, s, ps);
  GetCldPoint(cloud, q, pq);
  GetCldPoint(cloud, c, pc);
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
  // Tolerances are lengths the weld squares, and points that are not finite have no neighbours.
  const bool lengths = tol >= 0.0 && std::isfinite(tol * tol) && std::isfinite(bridgeTol * bridgeTol);
  if (cloud && cloud->ntri > 0 && cloud->tri && lengths && MeshCornersNamePoints(cloud, nullptr) && CloudPointsFinite(cloud))
    return state.Run(tol, bridgeTol, splitCount, openCount);
  Free(mask);
  return 0;
}

// ---- zipping vertex chains and closing edge rings -------------------------------------------

namespace {

// Room for `need` more triangles: the capacity grows by need when that exceeds 20, else by 20
// (and at least to what is needed).
bool BandRoom(Cloud* cloud, int* capacity, int need) {
  if (cloud->ntri + need <= *capacity) return true;
  const int grown = std::max(*capacity + std::max(need, 20), cloud->ntri + need);
  if (!ReallocCldPolyList(cloud, grown)) return false;
  *capacity = grown;
  return true;
}

// Appends (a, b, c) with its plane, within the room made; a repeated vertex appends nothing.
void AppendBandTriangle(Cloud* cloud, int a, int b, int c) {
  if (a == b || b == c || a == c) return;
  CloudTriangle* t = &cloud->tri[cloud->ntri++];
  t->v[0] = a;
  t->v[1] = b;
  t->v[2] = c;
  MakeCldPolyPlane(cloud, t);
}

// Turns the triangles from `first` on when the one holding a-b runs the same way along it as
// the older triangle there (two triangles on an edge must run it in opposite senses).
void OrientBandToMesh(Cloud* cloud, int first, int a, int b) {
  int before = 0, band = 0;
  for (int t = 0; t < first && !before; ++t) before = Runs(cloud->tri[t], a, b);
  for (int t = first; t < cloud->ntri && !band; ++t) band = Runs(cloud->tri[t], a, b);
  if (!before || before != band) return;
  for (int t = first; t < cloud->ntri; ++t) {
    std::swap(cloud->tri[t].v[1], cloud->tri[t].v[2]);
    MakeCldPolyPlane(cloud, &cloud->tri[t]);
  }
}

}  // namespace

int JoinVerticesByBridging(Cloud* cloud, int* chainA, int countA, int* chainB, int countB, int* capacity) {
  if (countA < 1 || countB < 1) return 1;
  if (!cloud || !chainA || !chainB || !capacity) return 0;
  if (chainB[countB - 1] == chainA[0] || chainA[countA - 1] == chainB[0]) ReverseIntArray(chainA, countA);
  if (!BandRoom(cloud, capacity, countA + countB)) return 0;
  const int* A = chainA;
  const int* B = chainB;
  int i = 0, j = 0;
  // Each step closes one edge of one chain with the shorter of the two diagonals of the quad
  // A[i], A[i+1], B[j+1], B[j]; a tie takes chain A's side.
  while (i < countA - 1 && j < countB - 1) {
    const double d1 = Dist2(cloud, A[i], B[j + 1]), d2 = Dist2(cloud, A[i + 1], B[j]);
    if (d2 > d1) {
      AppendBandTriangle(cloud, A[i], B[j + 1], B[j]);
      ++j;
    } else {
      AppendBandTriangle(cloud, A[i], A[i + 1], B[j]);
      ++i;
    }
  }
  for (; j < countB - 1; ++j) AppendBandTriangle(cloud, A[countA - 1], B[j + 1], B[j]);
  for (; i < countA - 1; ++i) AppendBandTriangle(cloud, A[i], A[i + 1], B[countB - 1]);
  return 1;
}

int JoinEqualVerticesByBridging(Cloud* cloud, const int* chainA, const int* chainB, int count, int* capacity) {
  if (count < 2) return 1;
  if (!cloud || !chainA || !chainB || !capacity) return 0;
  if (!BandRoom(cloud, capacity, 2 * count)) return 0;
  for (int i = 0; i + 1 < count; ++i) {
    AppendBandTriangle(cloud, chainA[i], chainB[i + 1], chainB[i]);
    AppendBandTriangle(cloud, chainA[i], chainA[i + 1], chainB[i + 1]);
  }
  return 1;
}

int CloseCloudEdgeRings(Cloud* cloud, const int32_t* edges, IndexNode* const* loops, const int ringPair[2]) {
  const IndexNode* ringA = loops[ringPair[0]];
  const IndexNode* ringB = loops[ringPair[1]];
  if (!ringA || !ringB) return 0;
  TrackingScope scope;
  // Ring A's edge nearest to ring B's first vertex (the first of equal ones).
  double p[3];
  GetCldPoint(cloud, edges[2 * ringB->index], p);
  int nA = 0, nB = 0;
  const IndexNode* nearest = nullptr;
  double best = kNoValue;
  for (const IndexNode* n = ringA; n; n = n->next, ++nA) {
    double a[3], b[3], foot[3], d2 = 0, t = 0;
    GetCldPoint(cloud, edges[2 * n->index], a);
    GetCldPoint(cloud, edges[2 * n->index + 1], b);
    LineSegPntMinDistSq(p, a, b, foot, &d2, &t);
    if (d2 < best) best = d2, nearest = n;
  }
  for (const IndexNode* n = ringB; n; n = n->next) ++nB;
  int* chainA = MallocArray<int>(nA + 2);
  int* chainB = MallocArray<int>(nB + 1);
  const int most = nA + nB + 3;
  float* fx = MallocArray<float>(most);
  float* fy = MallocArray<float>(most);
  float* fz = MallocArray<float>(most);
  double* px = MallocArray<double>(most);
  double* py = MallocArray<double>(most);
  if (!chainA || !chainB || !fx || !fy || !fz || !px || !py || KernelFailed()) return 0;
  int countB = 0, countA = 0, last = -1;
  for (const IndexNode* n = ringB; n; n = n->next) {
    chainB[countB++] = edges[2 * n->index];
    last = n->index;
  }
  chainB[countB++] = edges[2 * last + 1];
  for (const IndexNode* n = nearest; n; n = n->next) {
    chainA[countA++] = edges[2 * n->index];
    last = n->index;
  }
  chainA[countA++] = edges[2 * last + 1];
  for (const IndexNode* n = ringA; n != nearest; n = n->next)
    if (n != ringA || edges[2 * n->index] != chainA[countA - 1]) chainA[countA++] = edges[2 * n->index];
  if (edges[2 * nearest->index] != chainA[countA - 1]) chainA[countA++] = edges[2 * nearest->index];

  // Both chains counter-clockwise in their best-fit plane, so rings given in opposite senses
  // still zip without crossing.
  int n = 0;
  for (int* chain : {chainA, chainB})
    for (int i = 0; i < (chain == chainA ? countA : countB); ++i, ++n)
      fx[n] = cloud->x[chain[i]], fy[n] = cloud->y[chain[i]], fz[n] = cloud->z[chain[i]];
  PlaneEq plane;
  if (!PlaneFit(fx, fy, fz, n, plane)) return 0;
  const double origin[3] = {0, 0, 0}, normal[3] = {plane[0], plane[1], plane[2]};
  Xform M;
  TransformToZAxis(origin, normal, M);
  int flag = 0;
  for (int* chain : {chainA, chainB}) {
    const int count = chain == chainA ? countA : countB;
    for (int i = 0; i < count; ++i) {
      double q[3], r[3];
      GetCldPoint(cloud, chain[i], q);
      VecTrans3(q, M, r);
      px[i] = r[0];
      py[i] = r[1];
    }
    SetCounterClock2DPoly(count, chain, px, py, &flag);
  }
  int capacity = cloud->ntri;
  const int first = cloud->ntri;
  if (!JoinVerticesByBridging(cloud, chainA, countA, chainB, countB, &capacity)) return 0;
  OrientBandToMesh(cloud, first, chainA[0], chainA[1]);
  if (capacity != cloud->ntri) ReallocCldPolyList(cloud, cloud->ntri);
  return 1;
}

void SetCldPointsEqual(Cloud* cloud, int v, int w) {
  if (!cloud || v < 0 || w < 0 || v >= cloud->npts || w >= cloud->npts) return;
  const float x = 0.5f * (cloud->x[v] + cloud->x[w]), y = 0.5f * (cloud->y[v] + cloud->y[w]),
              z = 0.5f * (cloud->z[v] + cloud->z[w]);
  cloud->x[v] = cloud->x[w] = x;
  cloud->y[v] = cloud->y[w] = y;
  cloud->z[v] = cloud->z[w] = z;
}

int GetThirdPoint(IndexNode* const* vertexTriangles, const CloudTriangle* triangles, int v, int w) {
  int third = -1;
  for (const IndexNode* n = vertexTriangles[v]; n; n = n->next) {
    const int32_t* t = triangles[n->index].v;
    if (t[0] != w && t[1] != w && t[2] != w) continue;
    for (int k = 0; k < 3; ++k)
      if (t[k] != v && t[k] != w) third = t[k];
  }
  return third;
}

// ---- cell and edge link bookkeeping ---------------------------------------------------------

namespace {

// Pushes a node {index} on *head from the block; a new block when the current one is used up.
bool PushBlockNode(IndexNode** head, int index, IndexNode** block, int blockSize, int* used) {
  if (!*block || *used >= blockSize) {
    IndexNode* fresh = MallocArray<IndexNode>(std::max(blockSize, 1));
    if (!fresh || KernelFailed()) return false;
    *block = fresh;
    *used = 0;
  }
  IndexNode* n = &(*block)[(*used)++];
  n->index = index;
  n->next = *head;
  *head = n;
  return true;
}

// Calls visit(cell) for every non-empty cell of the box of p's and q's own cells, ix outermost.
template <class Visit>
bool ForCellBox(const Subdiv* s, int p, int q, Visit visit) {
  const int nx = s->ncellsX, nxy = s->ncellsX * s->ncellsY;
  const int cp = s->ownCell[p], cq = s->ownCell[q];
  const int lo[3] = {std::min(cp % nx, cq % nx), std::min(cp % nxy / nx, cq % nxy / nx), std::min(cp / nxy, cq / nxy)};
  const int hi[3] = {std::max(cp % nx, cq % nx), std::max(cp % nxy / nx, cq % nxy / nx), std::max(cp / nxy, cq / nxy)};
  for (int ix = lo[0]; ix <= hi[0]; ++ix)
    for (int iy = lo[1]; iy <= hi[1]; ++iy)
      for (int iz = lo[2]; iz <= hi[2]; ++iz) {
        const int cell = ix + iy * nx + iz * nxy;
        if (s->cells[cell].count != 0 && !visit(cell)) return false;
      }
  return true;
}

}  // namespace

int AddEdgeToCellLinks(const Subdiv* subdiv, int p, int q, int edge, IndexNode** edgeCellLists, IndexNode** block,
                       int blockSize, int* used, unsigned char* cellFlags) {
  return ForCellBox(subdiv, p, q, [&](int cell) {
    cellFlags[cell] = 1;
    return PushBlockNode(&edgeCellLists[edge], cell, block, blockSize, used);
  }) ? 1 : 0;
}

void SetCellFlag(const Subdiv* subdiv, int p, int q, unsigned char* cellFlags) {
  ForCellBox(subdiv, p, q, [&](int cell) { return cellFlags[cell] = 1; });
}

void RemoveEdgeCellLinks(int edge, IndexNode* const* edgeCellLists, SubdivCell* cells, int base) {
  for (const IndexNode* n = edgeCellLists[edge]; n; n = n->next) {
    SubdivCell& c = cells[n->index];
    // The items are searched from the first: the cell's isOwn array marks own-cell points, it
    // holds no start index.
    int i = 0;
    while (i < c.count && c.items[i] != base + edge) ++i;
    if (i == c.count) continue;
    for (; i + 1 < c.count; ++i) {
      c.items[i] = c.items[i + 1];
      if (c.isOwn) c.isOwn[i] = c.isOwn[i + 1];
    }
    --c.count;
  }
}

void RemoveEdgeVertexLinks(const int32_t* edgeEnds, int edge, IndexNode** vertexEdgeLists, const int* vertexMap) {
  for (int s = 0; s < 2; ++s) {
    const int v = edgeEnds[2 * edge + s];
    DeleteCloudEdge(&vertexEdgeLists[vertexMap ? vertexMap[v] : v], edge);
  }
}

int AddVedgeLinks(int v, int w, int edge, IndexNode** vertexEdgeLists, IndexNode** block, int blockSize, int* used) {
  return PushBlockNode(&vertexEdgeLists[v], edge, block, blockSize, used) &&
                 PushBlockNode(&vertexEdgeLists[w], edge, block, blockSize, used)
             ? 1
             : 0;
}

void RemoveJointEdgesFromOuter(int v, int w, const int* vertexMap, IndexNode* const* vertexEdgeLists,
                               int16_t* openFlags, const int32_t* edges) {
  const int lv = vertexMap ? vertexMap[v] : v, lw = vertexMap ? vertexMap[w] : w;
  for (const IndexNode* n = vertexEdgeLists[lv]; n; n = n->next) {
    const int u = OtherEnd(edges, n->index, v);
    for (const IndexNode* m = vertexEdgeLists[lw]; m; m = m->next)
      if (OtherEnd(edges, m->index, w) == u) {
        openFlags[m->index] = 0;
        openFlags[n->index] = 0;
        break;
      }
  }
}

// ---- joining edge loops ---------------------------------------------------------------------

namespace {

void EdgeVector(const Cloud* cloud, const int32_t* edges, int e, double d[3]) {
  double a[3], b[3];
  GetCldPoint(cloud, edges[2 * e], a);
  GetCldPoint(cloud, edges[2 * e + 1], b);
  VecDiff3(b, a, d);
}

// (d1.d2)^2 / (|d1|^2 |d2|^2) of two edges, and their dot product; -1 when the product of the
// squared lengths is below 1e-10.
double EdgeCosSq(const Cloud* cloud, const int32_t* edges, int e1, int e2, double* dot) {
  double d1[3], d2[3];
  EdgeVector(cloud, edges, e1, d1);
  EdgeVector(cloud, edges, e2, d2);
  const double a = VecDotProd3(d1, d1), b = VecDotProd3(d2, d2);
  *dot = VecDotProd3(d1, d2);
  return NoDirection(a, b) ? -1.0 : *dot * *dot / (a * b);
}

// The loop edges after and before node i of a loop of n nodes in list order (none past the ends)
// that run within the limit of it in the same sense.
int NeighboursInList(const Cloud* cloud, const int32_t* edges, const int* loopEdges, int n, int i,
                     double cosSqLimit, int neighbours[2]) {
  int count = 0;
  for (int j : {i + 1, i - 1})
    if (j >= 0 && j < n && EdgesWithinTol(cloud, edges, cosSqLimit, loopEdges[i], loopEdges[j], 1))
      neighbours[count++] = loopEdges[j];
  return count;
}

}  // namespace

int EdgesWithinTol(const Cloud* cloud, const int32_t* edges, double cosSqLimit, int e1, int e2, int sameSense) {
  if (!cloud || !edges) return 0;
  const auto named = [cloud, edges](int e) {
    return e >= 0 && edges[2 * e] >= 0 && edges[2 * e] < cloud->npts && edges[2 * e + 1] >= 0 &&
           edges[2 * e + 1] < cloud->npts;
  };
  if (!named(e1) || !named(e2)) return 0;
  double dot = 0;
  const double c2 = EdgeCosSq(cloud, edges, e1, e2, &dot);
  if (sameSense && dot < 0) return 0;
  return c2 >= 0 && c2 > cosSqLimit ? 1 : 0;
}

void FindNeighborEdge(const Cloud* cloud, const int32_t* edges, int edge, int loopCount, IndexNode* const* loops,
                      double cosSqLimit, int neighbours[2], int* count) {
  *count = 0;
  for (int l = 0; l < loopCount; ++l) {
    int prev = -1, i = 0;
    for (const IndexNode* n = loops[l]; n; n = n->next, ++i) {
      if (n->index != edge) {
        prev = n->index;
        continue;
      }
      const int around[3] = {prev, edge, n->next ? n->next->index : -1};
      const int first = prev < 0 ? 1 : 0, last = around[2] < 0 ? 1 : 2;
      *count = NeighboursInList(cloud, edges, around + first, last - first + 1, 1 - first, cosSqLimit, neighbours);
      return;
    }
  }
}

void ConvertLooplistTo2Links(const int32_t* edges, const IndexNode* loop, EdgeRingNode* nodes, EdgeRingNode** ring) {
  int n = 0;
  for (const IndexNode* l = loop; l; l = l->next, ++n) {
    nodes[n].edge = l->index;
    nodes[n].prev = n > 0 ? &nodes[n - 1] : nullptr;
    nodes[n].next = nullptr;
    if (n > 0) nodes[n - 1].next = &nodes[n];
  }
  *ring = n > 0 ? nodes : nullptr;
  if (n > 0 && edges[2 * nodes[n - 1].edge + 1] == edges[2 * nodes[0].edge]) {
    nodes[n - 1].next = &nodes[0];
    nodes[0].prev = &nodes[n - 1];
  }
}

int CloseEdgeLoops(Cloud* cloud, const int32_t* edges, const int* chainA, int countA, const int* chainB, int countB,
                   int reverseB, int* capacity) {
  if (countA < 1 || countB < 1) return 1;
  if (!cloud || !edges || !chainA || !chainB || !capacity) return 0;
  TrackingScope scope;
  int* va = MallocArray<int>(countA + 1);
  int* vb = MallocArray<int>(countB + 1);
  if (!va || !vb || KernelFailed()) return 0;
  for (int i = 0; i < countA; ++i) va[i] = edges[2 * chainA[i]];
  va[countA] = edges[2 * chainA[countA - 1] + 1];
  for (int i = 0; i < countB; ++i) vb[i] = edges[2 * chainB[i]];
  vb[countB] = edges[2 * chainB[countB - 1] + 1];
  if (reverseB) ReverseIntArray(vb, countB + 1);
  const int first = cloud->ntri;
  if (!JoinVerticesByBridging(cloud, va, countA + 1, vb, countB + 1, capacity)) return 0;
  OrientBandToMesh(cloud, first, va[0], va[1]);
  return 1;
}

namespace {

// One pass of NewJoinCldPolys over the topology of the mesh as it stands.
class LoopJoinPass {
 public:
  LoopJoinPass(Cloud* cloud, double endTol, double sideTol, double minLength, int* capacity)
      : m_(cloud), endTol_(endTol), sideTol_(sideTol), minLength_(minLength), capacity_(capacity) {}
  // 1 done (*added: triangles added), 0 on a break, no memory or a failed zip.
  int Run(int* added);

 private:
  int Other(int e, int v) const { return OtherEnd(edges_, e, v); }
  double SegmentD2(int p, int a, int b, double* t) const { return SegmentDist2(m_, p, a, b, t); }
  bool Build();
  int NearestVertex(int e, const int* exclude, int nexclude) const;
  bool Accepts(int w, int e, const int* nb, int nnb) const;
  int Partner(int e, int w) const;
  int GrowChain(int seed, int avoid, int* chain) const;
  bool CutBack(int* chainA, int* na, int* chainB, int* nb, int e, int g, bool reverseB) const;
  double ChainLengthBetween(const int* chainA, int na, const int* chainB, int nb, bool reverseB) const;
  bool Zip(int e, int w, int* chainA, int na, int* chainB, int nb, bool reverseB);
  bool CheckNewTriangles(int first);
  bool AddEdge(int a, int b);

  Cloud* m_;
  double endTol_, sideTol_, minLength_;
  int* capacity_;
  int32_t* edges_ = nullptr;
  int nedges_ = 0, edgeCap_ = 0, edgesAtStart_ = 0;
  unsigned char* loopEdge_ = nullptr;
  unsigned char* consumed_ = nullptr;
  unsigned char* inChain_ = nullptr;
  unsigned char* boundary_ = nullptr;
  IndexNode** vedge_ = nullptr;
  IndexNode* linkBlock_ = nullptr;  // nodes of new edges' links
  int linkBlockSize_ = 64, linksUsed_ = 0;
  EdgeRingNode** ringOf_ = nullptr;  // per loop edge at the start, its ring node
  int* loopOf_ = nullptr;            // per loop edge at the start, its loop
  EdgeRingNode** loopFirst_ = nullptr;
  EdgeRingNode** loopLast_ = nullptr;
  int* byLength_ = nullptr;          // loop edges, longest first
  int nloopEdges_ = 0;
  int* sorted_ = nullptr;  // boundary vertices by the sort coordinate
  int* rank_ = nullptr;
  int nsorted_ = 0;
  const float* axis_ = nullptr;
};

bool LoopJoinPass::Build() {
  int32_t* edges0 = nullptr;
  int32_t** corners = nullptr;
  int nedges0 = 0;
  if (!CreatePolyEdges(m_, &edges0, &corners, &nedges0)) return false;
  Owned<int32_t, Free> edgesOwner(edges0);
  Owned<int32_t*, Free> cornersOwner(corners);
  IndexNode** heads = nullptr;
  IndexNode* loopNodes = nullptr;
  int* sizes = nullptr;
  int nloops = 0;
  const int total = MakeOuterEdgeList(m_, edges0, corners, nedges0, &heads, &nloops, &sizes, &loopNodes);
  Owned<IndexNode*, Free> headsOwner(heads);
  Owned<int, Free> sizesOwner(sizes);
  Owned<IndexNode, Free> nodesOwner(loopNodes);
  if (KernelFailed()) return false;
  if (total <= 0) return true;
  MakeEdgeVertsConsistent(edges0, heads, nloops);
  const int npts = m_->npts;
  nedges_ = edgesAtStart_ = nedges0;
  edgeCap_ = nedges0 + 50;
  edges_ = MallocArray<int32_t>(2, edgeCap_);
  loopEdge_ = CallocArray<unsigned char>(edgeCap_);
  consumed_ = MallocArray<unsigned char>(edgeCap_);
  inChain_ = CallocArray<unsigned char>(edgeCap_);
  boundary_ = CallocArray<unsigned char>(npts);
  vedge_ = MallocArray<IndexNode*>(npts);
  IndexNode* edgeNodes = MallocArray<IndexNode>(2 * std::max(nedges0, 1));
  ringOf_ = CallocArray<EdgeRingNode*>(std::max(nedges0, 1));
  loopOf_ = MallocArray<int>(std::max(nedges0, 1));
  loopFirst_ = MallocArray<EdgeRingNode*>(nloops);
  loopLast_ = MallocArray<EdgeRingNode*>(nloops);
  EdgeRingNode* ringNodes = MallocArray<EdgeRingNode>(total);
  byLength_ = MallocArray<int>(total);
  double* keys = MallocArray<double>(std::max(total, npts));
  sorted_ = MallocArray<int>(std::max(total, npts));
  rank_ = MallocArray<int>(npts);
  if (!edges_ || !loopEdge_ || !consumed_ || !inChain_ || !boundary_ || !vedge_ || !edgeNodes || !ringOf_ ||
      !loopOf_ || !loopFirst_ || !loopLast_ || !ringNodes || !byLength_ || !keys || !sorted_ || !rank_ || KernelFailed())
    return false;
  std::copy(edges0, edges0 + 2 * nedges0, edges_);
  linkBlockSize_ = std::max(2 * total, 64);
  MakeEdgePointers(m_, edges_, nedges_, vedge_, edgeNodes);
  EdgeRingNode* next = ringNodes;
  for (int l = 0; l < nloops; ++l) {
    EdgeRingNode* ring = nullptr;
    ConvertLooplistTo2Links(edges_, heads[l], next, &ring);
    loopFirst_[l] = next;
    for (const IndexNode* n = heads[l]; n; n = n->next, ++next) ringOf_[n->index] = next, loopOf_[n->index] = l;
    loopLast_[l] = next - 1;
  }
  for (int e = 0; e < nedges_; ++e) consumed_[e] = 1;
  nloopEdges_ = 0;
  for (int e = 0; e < nedges_; ++e) {
    if (!ringOf_[e]) continue;
    loopEdge_[e] = 1;
    consumed_[e] = 0;
    boundary_[edges_[2 * e]] = boundary_[edges_[2 * e + 1]] = 1;
    keys[nloopEdges_] = -Dist2(m_, edges_[2 * e], edges_[2 * e + 1]);  // longest first
    byLength_[nloopEdges_++] = e;
  }
  HeapSort2FloatInt4(nloopEdges_, keys, byLength_);
  // The boundary vertices along x or y, whichever spans more of their box (ties to x).
  double lo[2] = {kNoValue, kNoValue}, hi[2] = {-kNoValue, -kNoValue};
  for (int v = 0; v < npts; ++v) {
    if (!boundary_[v]) continue;
    lo[0] = std::min(lo[0], double(m_->x[v])), hi[0] = std::max(hi[0], double(m_->x[v]));
    lo[1] = std::min(lo[1], double(m_->y[v])), hi[1] = std::max(hi[1], double(m_->y[v]));
  }
  axis_ = hi[1] - lo[1] > hi[0] - lo[0] ? m_->y : m_->x;
  nsorted_ = 0;
  for (int v = 0; v < npts; ++v)
    if (boundary_[v]) keys[nsorted_] = axis_[v], sorted_[nsorted_++] = v;
  HeapSort2FloatInt4(nsorted_, keys, sorted_);
  for (int i = 0; i < nsorted_; ++i) rank_[sorted_[i]] = i;
  return true;
}

// The boundary vertex nearest to segment e, leaving out the listed vertices: first those ranked
// between e's ends, then outward from them until the sort coordinate alone is farther than the
// best distance found. -1 when there is none.
int LoopJoinPass::NearestVertex(int e, const int* exclude, int nexclude) const {
  const int p = edges_[2 * e], q = edges_[2 * e + 1];
  const int lowEnd = rank_[p] <= rank_[q] ? p : q, highEnd = lowEnd == p ? q : p;
  double best = kNoValue;
  int found = -1;
  auto consider = [&](int w) {
    if (!boundary_[w]) return;
    for (int k = 0; k < nexclude; ++k)
      if (exclude[k] == w) return;
    double t = 0;
    const double d2 = SegmentD2(w, p, q, &t);
    if (d2 < best) best = d2, found = w;
  };
  for (int r = rank_[lowEnd] + 1; r < rank_[highEnd]; ++r) consider(sorted_[r]);
  for (int r = rank_[highEnd] + 1; r < nsorted_; ++r) {
    if (found >= 0 && double(axis_[sorted_[r]]) - axis_[highEnd] > std::sqrt(best)) break;
    consider(sorted_[r]);
  }
  for (int r = rank_[lowEnd] - 1; r >= 0; --r) {
    if (found >= 0 && double(axis_[lowEnd]) - axis_[sorted_[r]] > std::sqrt(best)) break;
    consider(sorted_[r]);
  }
  return found;
}

// w lies across the crack from e: within sideTol of e (or of the segment spanning e and a
// neighbour) with its foot strictly inside, or within endTol.
bool LoopJoinPass::Accepts(int w, int e, const int* nb, int nnb) const {
  const double side2 = sideTol_ * sideTol_, end2 = endTol_ * endTol_;
  auto accepts = [&](int a, int b) {
    double t = 0;
    const double d2 = SegmentD2(w, a, b, &t);
    return (t > 0 && t < 1 && d2 <= side2) || d2 <= end2;
  };
  if (nnb == 0) return accepts(edges_[2 * e], edges_[2 * e + 1]);
  for (int k = 0; k < nnb; ++k) {
    const int n = nb[k];
    // The spanning segment runs from e's end not shared with n to n's other end.
    const int shared = edges_[2 * n] == edges_[2 * e] || edges_[2 * n] == edges_[2 * e + 1] ? edges_[2 * n]
                                                                                           : edges_[2 * n + 1];
    if (accepts(Other(e, shared), Other(n, shared))) return true;
  }
  return false;
}

// Among the loop edges at w that existed at the pass's start, the one most nearly parallel to
// e, if within 30 degrees; -1 otherwise.
int LoopJoinPass::Partner(int e, int w) const {
  const double limit = std::pow(std::cos(M_PI / 6), 2);
  int best = -1;
  double bestC2 = -1;
  for (const IndexNode* n = vedge_[w]; n; n = n->next) {
    const int g = n->index;
    if (g >= edgesAtStart_ || !loopEdge_[g] || !ringOf_[g]) continue;
    double dot = 0;
    const double c2 = EdgeCosSq(m_, edges_, e, g, &dot);
    if (c2 > bestC2) bestC2 = c2, best = g;
  }
  return best >= 0 && bestC2 >= limit ? best : -1;
}

// The chain of loop edges around seed, in loop order: from seed backward and then forward along
// its ring, each further edge unconsumed, not `avoid`, in no chain yet and within 30 degrees of
// both its neighbour in the chain and the seed, in the same sense. Returns its length.
int LoopJoinPass::GrowChain(int seed, int avoid, int* chain) const {
  const double limit = std::pow(std::cos(M_PI / 6), 2);
  auto fits = [&](int f, int neighbour) {
    return f != avoid && f != seed && !consumed_[f] && !inChain_[f] && loopEdge_[f] &&
           EdgesWithinTol(m_, edges_, limit, f, neighbour, 1) && EdgesWithinTol(m_, edges_, limit, f, seed, 1);
  };
  int nback = 0;
  const EdgeRingNode* start = ringOf_[seed];
  int prev = seed;
  for (const EdgeRingNode* r = start->prev; r && r != start && fits(r->edge, prev); r = r->prev)
    chain[nback++] = prev = r->edge;
  std::reverse(chain, chain + nback);
  int n = nback;
  chain[n++] = seed;
  prev = seed;
  for (const EdgeRingNode* r = start->next; r && r != start && fits(r->edge, prev); r = r->next) {
    bool taken = false;
    for (int k = 0; k < nback && !taken; ++k) taken = chain[k] == r->edge;
    if (taken) break;  // the ring came round to the backward part
    chain[n++] = prev = r->edge;
  }
  return n;
}

// Cuts both chains back until they face each other: chain B (from g outward) to where its
// vertices stay within sideTol of chain A, then chain A at each end to the vertex or edge that
// chain B's facing end vertex meets; where it meets none, chain B's end is cut back to chain A's
// end vertex instead. False when the pair is to be dropped.
bool LoopJoinPass::CutBack(int* chainA, int* na, int* chainB, int* nb, int e, int g, bool reverseB) const {
  const double side2 = sideTol_ * sideTol_, end2 = endTol_ * endTol_;
  auto toChainA = [&](int v) {
    double best = kNoValue, t = 0;
    for (int i = 0; i < *na; ++i) best = std::min(best, SegmentD2(v, edges_[2 * chainA[i]], edges_[2 * chainA[i] + 1], &t));
    return best;
  };
  int posG = 0;
  while (chainB[posG] != g) ++posG;
  int first = 0, last = *nb - 1;
  bool endsNear = false;
  for (int k = posG; k < *nb; ++k)
    if (toChainA(edges_[2 * chainB[k] + 1]) > side2) {
      last = std::max(k - 1, posG);
      endsNear |= k > posG;
      break;
    } else if (k == *nb - 1) {
      endsNear = true;
    }
  for (int k = posG; k >= 0; --k)
    if (toChainA(edges_[2 * chainB[k]]) > side2) {
      first = std::min(k + 1, posG);
      endsNear |= k < posG;
      break;
    } else if (k == 0) {
      endsNear = true;
    }
  if (!endsNear) return false;
  *nb = last - first + 1;
  std::copy(chainB + first, chainB + last + 1, chainB);

  // Vertex i of chain A: the first vertex of edge i, or the second vertex of the last edge.
  auto vertexA = [&](int i) { return i < *na ? edges_[2 * chainA[i]] : edges_[2 * chainA[*na - 1] + 1]; };
  auto projects = [&](int v, int a, int b) {
    double t = 0;
    SegmentD2(v, a, b, &t);
    return t > 0 && t < 1;
  };
  // Cuts chain B's end (its start when fromStart) back to its first edge within sideTol of v.
  auto cutB = [&](bool fromStart, int v) {
    double t = 0;
    for (int k = 0; k < *nb; ++k) {
      const int i = fromStart ? k : *nb - 1 - k;
      if (SegmentD2(v, edges_[2 * chainB[i]], edges_[2 * chainB[i] + 1], &t) <= side2) {
        if (fromStart) std::copy(chainB + i, chainB + *nb, chainB);
        *nb -= k;
        return true;
      }
    }
    return false;
  };
  // Start of chain A against the chain-B vertex facing it.
  const int fs = reverseB ? edges_[2 * chainB[*nb - 1] + 1] : edges_[2 * chainB[0]];
  int s = -1;
  for (int i = 0; i < *na && s < 0; ++i)
    if (vertexA(i) == fs || Dist2(m_, vertexA(i), fs) < end2) s = i;
  for (int i = 0; i < *na && s < 0; ++i)
    if (projects(fs, vertexA(i), vertexA(i + 1))) s = i;
  for (int i = 0; i + 1 < *na && s < 0; ++i)
    if (projects(fs, vertexA(i), vertexA(i + 2))) s = i + 1;
  if (s < 0) {
    if (!cutB(!reverseB, vertexA(0))) return false;
    s = 0;
  }
  // End of chain A against the chain-B vertex facing it.
  const int fe = reverseB ? edges_[2 * chainB[0]] : edges_[2 * chainB[*nb - 1] + 1];
  int l = -1;
  for (int i = *na; i >= 1 && l < 0; --i)
    if (vertexA(i) == fe || Dist2(m_, vertexA(i), fe) < end2) l = i - 1;
  for (int i = *na - 1; i >= 0 && l < 0; --i)
    if (projects(fe, vertexA(i), vertexA(i + 1))) l = i;
  for (int i = *na - 1; i >= 1 && l < 0; --i)
    if (projects(fe, vertexA(i - 1), vertexA(i + 1))) l = i - 1;
  if (l < 0) {
    if (!cutB(reverseB, vertexA(*na))) return false;
    l = *na - 1;
  }
  if (*nb < 1 || l < s) return false;
  bool holdsE = false;
  for (int i = s; i <= l; ++i) holdsE |= chainA[i] == e;
  if (!holdsE) return false;
  *na = l - s + 1;
  std::copy(chainA + s, chainA + l + 1, chainA);
  return true;
}

// The length along chain B between the feet of chain A's end vertices on chain B's end edges.
double LoopJoinPass::ChainLengthBetween(const int* chainA, int na, const int* chainB, int nb, bool reverseB) const {
  const int aStart = edges_[2 * chainA[0]], aEnd = edges_[2 * chainA[na - 1] + 1];
  auto foot = [&](int v, int edge, double f[3]) {
    double p[3], a[3], b[3], d2 = 0, t = 0;
    GetCldPoint(m_, v, p);
    GetCldPoint(m_, edges_[2 * edge], a);
    GetCldPoint(m_, edges_[2 * edge + 1], b);
    LineSegPntMinDistSq(p, a, b, f, &d2, &t);
  };
  double f0[3], f1[3], d[3];
  foot(reverseB ? aEnd : aStart, chainB[0], f0);
  foot(reverseB ? aStart : aEnd, chainB[nb - 1], f1);
  if (nb == 1) return VecSize3(VecDiff3(f1, f0, d));
  double b0[3], b1[3];
  GetCldPoint(m_, edges_[2 * chainB[0] + 1], b0);
  GetCldPoint(m_, edges_[2 * chainB[nb - 1]], b1);
  double length = VecSize3(VecDiff3(b0, f0, d)) + VecSize3(VecDiff3(f1, b1, d));
  for (int i = 1; i + 1 < nb; ++i) length += std::sqrt(Dist2(m_, edges_[2 * chainB[i]], edges_[2 * chainB[i] + 1]));
  return length;
}

bool LoopJoinPass::AddEdge(int a, int b) {
  if (nedges_ == edgeCap_) {
    const int cap = edgeCap_ + 50;
    int32_t* e = ReallocArray(edges_, 2, cap);
    if (!e) return false;
    edges_ = e;
    for (unsigned char** flags : {&loopEdge_, &consumed_, &inChain_}) {
      unsigned char* f = ReallocArray(*flags, cap);
      if (!f) return false;
      *flags = f;
    }
    edgeCap_ = cap;
  }
  const int e = nedges_++;
  edges_[2 * e] = a;
  edges_[2 * e + 1] = b;
  loopEdge_[e] = 1;  // used by one triangle so far: open
  consumed_[e] = 1;  // never the seed or part of a chain in this pass
  inChain_[e] = 0;
  return PushBlockNode(&vedge_[a], e, &linkBlock_, linkBlockSize_, &linksUsed_) &&
         PushBlockNode(&vedge_[b], e, &linkBlock_, linkBlockSize_, &linksUsed_);
}

// New triangles from `first` on: one with an edge that is already interior is taken out again;
// the others close the loop edges they use and add the edges they create (open, until a second
// triangle uses them).
bool LoopJoinPass::CheckNewTriangles(int first) {
  int kept = first;
  for (int t = first; t < m_->ntri; ++t) {
    const CloudTriangle tri = m_->tri[t];
    bool interior = false;
    for (int k = 0; k < 3 && !interior; ++k) {
      const int ge = GetEdgeNo(edges_, vedge_, tri.v[k], tri.v[(k + 1) % 3]);
      interior = ge >= 0 && !loopEdge_[ge];
    }
    if (interior) continue;
    for (int k = 0; k < 3; ++k) {
      const int a = tri.v[k], b = tri.v[(k + 1) % 3];
      const int ge = GetEdgeNo(edges_, vedge_, a, b);
      if (ge >= 0) loopEdge_[ge] = 0;
      else if (!AddEdge(a, b)) return false;
    }
    m_->tri[kept++] = tri;
  }
  m_->ntri = kept;
  for (int t = first; t < kept; ++t)
    for (int32_t v : m_->tri[t].v) {
      boundary_[v] = 0;
      for (const IndexNode* n = vedge_[v]; n && !boundary_[v]; n = n->next) boundary_[v] = loopEdge_[n->index];
    }
  return true;
}

bool LoopJoinPass::Zip(int e, int w, int* chainA, int na, int* chainB, int nb, bool reverseB) {
  for (int i = 0; i < na; ++i) consumed_[chainA[i]] = 1;
  for (int i = 0; i < nb; ++i) consumed_[chainB[i]] = 1;
  const int first = m_->ntri;
  if (nb > 0) {
    if (!CloseEdgeLoops(m_, edges_, chainA, na, chainB, nb, reverseB ? 1 : 0, capacity_)) return false;
  } else {
    for (int i = 0; i < na; ++i)
      if (edges_[2 * chainA[i]] == w || edges_[2 * chainA[i] + 1] == w) return true;
    if (!BandRoom(m_, capacity_, na + 10)) return false;
    for (int i = 0; i < na; ++i) AppendBandTriangle(m_, edges_[2 * chainA[i]], edges_[2 * chainA[i] + 1], w);
    OrientBandToMesh(m_, first, edges_[2 * chainA[0]], edges_[2 * chainA[0] + 1]);
  }
  (void)e;
  return CheckNewTriangles(first);
}

int LoopJoinPass::Run(int* added) {
  *added = 0;
  TrackingScope scope;
  if (user_break() || !Build() || KernelFailed()) return 0;
  if (nloopEdges_ == 0) return 1;
  const int startCount = m_->ntri;
  int* chainA = MallocArray<int>(nloopEdges_ + 1);
  int* chainB = MallocArray<int>(nloopEdges_ + 1);
  if (!chainA || !chainB || KernelFailed()) return 0;
  for (int i = 0; i < nloopEdges_; ++i) {
    if (i > 0 && i % 500 == 0 && user_break()) return 0;
    const int e = byLength_[i];
    if (!loopEdge_[e]) continue;
    const int p = edges_[2 * e], q = edges_[2 * e + 1];
    // Neighbours in list order: none past the loop list's head or tail.
    const EdgeRingNode* node = ringOf_[e];
    const int l = loopOf_[e];
    const int around[3] = {node != loopFirst_[l] ? node->prev->edge : -1, e,
                           node != loopLast_[l] ? node->next->edge : -1};
    const int from = around[0] < 0 ? 1 : 0, to = around[2] < 0 ? 1 : 2;
    int nbs[2];
    const int nnb = NeighboursInList(m_, edges_, around + from, to - from + 1, 1 - from,
                                     std::pow(std::cos(M_PI / 6), 2), nbs);
    int exclude[6] = {p, q}, nex = 2;
    for (int k = 0; k < nnb; ++k) exclude[nex++] = edges_[2 * nbs[k]], exclude[nex++] = edges_[2 * nbs[k] + 1];
    const int w = NearestVertex(e, exclude, nex);
    if (w < 0 || !Accepts(w, e, nbs, nnb)) continue;
    const int g = Partner(e, w);
    if (g < 0) continue;
    double dot = 0;
    EdgeCosSq(m_, edges_, e, g, &dot);
    const bool reverseB = dot < 0;
    int na = GrowChain(e, g, chainA);
    for (int k = 0; k < na; ++k) inChain_[chainA[k]] = 1;
    int nb = GrowChain(g, e, chainB);
    for (int k = 0; k < na; ++k) inChain_[chainA[k]] = 0;
    if (!CutBack(chainA, &na, chainB, &nb, e, g, reverseB)) continue;
    if (ChainLengthBetween(chainA, na, chainB, nb, reverseB) < minLength_) continue;
    if (!Zip(e, w, chainA, na, chainB, nb, reverseB) || KernelFailed()) return 0;
  }
  *added = m_->ntri - startCount;
  return 1;
}

}  // namespace

int NewJoinCldPolys(Cloud* cloud, double endTol, double sideTol, double minLength) {
  if (!MeshCornersNamePoints(cloud, nullptr)) return 0;
  int capacity = cloud->ntri, result = 1;
  for (int pass = 0; pass < 4; ++pass) {
    LoopJoinPass joinPass(cloud, endTol, sideTol, minLength, &capacity);
    int added = 0;
    if (!joinPass.Run(&added)) {
      result = 0;
      break;
    }
    if (added == 0) break;
  }
  if (capacity != cloud->ntri) ReallocCldPolyList(cloud, cloud->ntri);
  return result;
}
