#include "mesh/putil.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <initializer_list>

#include "bspline/bsvalid.h"
#include "cloud/makecld.h"
#include "cloud/psubdiv.h"
#include "foundation/algebra.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/geometry.h"
#include "foundation/sort.h"
#include "foundation/umalloc.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/trianum.h"
#include "platform/tstubs.h"

namespace {

double Dist2(const Cloud* m, int a, int b) {
  const double dx = double(m->x[a]) - m->x[b], dy = double(m->y[a]) - m->y[b], dz = double(m->z[a]) - m->z[b];
  return dx * dx + dy * dy + dz * dz;
}

// Squared distance of point v from the line a-b and the foot's parameter along a-b. Written
// out rather than clamped to the segment: only a foot strictly inside counts, and a fixed
// threshold on |b - a| would make small meshes lose their slivers.
void FootOnSegment(const Cloud* m, int v, int a, int b, double* d2, double* t) {
  double p[3], pa[3], pb[3];
  GetCldPoint(m, v, p);
  GetCldPoint(m, a, pa);
  GetCldPoint(m, b, pb);
  const double ab[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
  const double ap[3] = {p[0] - pa[0], p[1] - pa[1], p[2] - pa[2]};
  const double len2 = ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2];
  *t = len2 > 0 ? (ap[0] * ab[0] + ap[1] * ab[1] + ap[2] * ab[2]) / len2 : 0.0;
  double dist2 = 0;
  for (int k = 0; k < 3; ++k) {
    const double d = ap[k] - *t * ab[k];
    dist2 += d * d;
  }
  *d2 = dist2;
}

// Unlinks and returns the first node of *head holding index (null when none).
IndexNode* Unlink(IndexNode** head, int32_t index) {
  for (IndexNode** link = head; *link; link = &(*link)->next) {
    if ((*link)->index == index) {
      IndexNode* node = *link;
      *link = node->next;
      return node;
    }
  }
  return nullptr;
}

void AppendList(IndexNode** to, IndexNode* list) {
  IndexNode** tail = to;
  while (*tail) tail = &(*tail)->next;
  *tail = list;
}

inline int EdgeOf(int32_t* const* corners, const int32_t* edges, int corner) {
  return static_cast<int>((corners[corner] - edges) / 2);
}

}  // namespace

int IsPolyType3Degen(const Cloud* mesh, const int v[3], double d2) {
  if (!mesh) return 0;
  for (int k = 0; k < 3; ++k)
    if (Dist2(mesh, v[k], v[(k + 1) % 3]) <= d2) return 0;
  for (int k = 0; k < 3; ++k) {
    double dist2, t;
    FootOnSegment(mesh, v[k], v[(k + 1) % 3], v[(k + 2) % 3], &dist2, &t);
    if (dist2 <= d2 && t > 0 && t < 1) return 1;
  }
  return 0;
}

int CanCollapseEdge(const Cloud* mesh, const int32_t* edges, IndexNode* const* vertexEdgeHeads, const int32_t pair[2],
                    IndexNode* const* vertexTriangleHeads, const double* edgeLength2) {
  const int a = pair[0], b = pair[1];
  if (a == b) return 1;
  int opposite[2] = {-1, -1}, nopp = 0;
  for (const IndexNode* n = vertexTriangleHeads[a]; n && nopp < 2; n = n->next) {
    const int32_t* w = mesh->tri[n->index].v;
    if (!PolygonHasVertex(mesh, n->index, b)) continue;
    for (int k = 0; k < 3; ++k)
      if (w[k] != a && w[k] != b) opposite[nopp] = w[k];
    ++nopp;
  }
  for (int x : {b, a}) {
    const int y = x == b ? a : b;
    for (const IndexNode* n = vertexEdgeHeads[x]; n; n = n->next) {
      const int32_t* e = edges + 2 * n->index;
      const int z = e[0] == x ? e[1] : e[0];
      // A collapsed edge may have become x-x: it names no neighbour.
      if (z == x || z == y || z == opposite[0] || z == opposite[1]) continue;
      const int yz = GetEdgeNo(edges, vertexEdgeHeads, y, z);
      if (yz >= 0 && edgeLength2[yz] != -1.0) return 0;
    }
  }
  return 1;
}

void CollapseEdgeToVert(Cloud* mesh, int a, int b, int* pointFlags, IndexNode** vertexTriangleHeads,
                        IndexNode** vertexEdgeHeads, int32_t* edges, double* edgeLength2) {
  if (a == b) return;
  const int r = pointFlags[a] ? a : b, k = r == a ? b : a;
  pointFlags[r] = 1;
  // Triangles already on k's list leave r's; the rest of r's list moves to k's.
  IndexNode** link = &vertexTriangleHeads[r];
  while (*link) {
    const int t = (*link)->index;
    if (PolygonHasVertex(mesh, t, k)) *link = (*link)->next;
    else link = &(*link)->next;
    for (int32_t& v : mesh->tri[t].v)
      if (v == r) v = k;
    MakeCldPolyPlane(mesh, &mesh->tri[t]);
  }
  AppendList(&vertexTriangleHeads[k], vertexTriangleHeads[r]);
  vertexTriangleHeads[r] = nullptr;
  for (const IndexNode* n = vertexEdgeHeads[r]; n; n = n->next) {
    int32_t* e = edges + 2 * n->index;
    for (int s = 0; s < 2; ++s)
      if (e[s] == r) e[s] = k;
    // A collapsed edge stays marked for the rest of the pass.
    if (edgeLength2[n->index] != -1.0) edgeLength2[n->index] = Dist2(mesh, e[0], e[1]);
  }
  AppendList(&vertexEdgeHeads[k], vertexEdgeHeads[r]);
  vertexEdgeHeads[r] = nullptr;
}

namespace {

// One pass of RemoveDegenCldPolys over the tables it builds; the mesh's points keep their
// numbers until the compaction at the end.
class DegenPass {
 public:
  DegenPass(Cloud* mesh, double tol2, unsigned char* mask) : m_(mesh), tol2_(tol2), mask_(mask) {}

  // The repairs of the pass, or -1 when it could not complete (the mesh is then compacted as
  // far as the pass got).
  int Run();

 private:
  bool Examined(int t) const {
    if (triFlags_[t]) return false;
    if (!mask_) return true;
    const int32_t* v = m_->tri[t].v;
    return mask_[v[0]] || mask_[v[1]] || mask_[v[2]];
  }
  double Length2(int t, int k) const { return len2_[EdgeOf(corners_.get(), edges_.get(), 3 * t + k)]; }
  bool Short(int t, int k) const {
    const double l = Length2(t, k);
    return l != -1.0 && l <= tol2_;
  }
  int Deleted(int t) {
    for (int k = 0; k < 3; ++k) DeleteVertexPoly(vtri_, m_->tri[t].v[k], t);
    triFlags_[t] = 1;
    return 1;
  }
  // Deletes every triangle still on edge a-b; returns how many.
  int DeleteOnEdge(int a, int b) {
    int count = 0;
    FindAllPolysWithVert(m_, a, b, vtri_, found_, &count);
    for (int i = 0; i < count; ++i) Deleted(found_[i]);
    return count;
  }
  bool CanCollapse(int a, int b) const {
    const int32_t pair[2] = {a, b};
    return CanCollapseEdge(m_, edges_.get(), vedge_, pair, vtri_, len2_) != 0;
  }
  void Collapse(int a, int b) { CollapseEdgeToVert(m_, a, b, pointFlags_, vtri_, vedge_, edges_.get(), len2_); }
  int SmallTriangle(int t);
  int ShortEdge(int t);
  int Sliver(int t);
  bool Flip(int t, int other, int V, int A, int B, int W);
  bool Compact(int* newNumber);

  Cloud* m_;
  double tol2_;
  unsigned char* mask_;  // compacted with the points
  Owned<int32_t, Free> edges_;
  Owned<int32_t*, Free> corners_;
  int nedges_ = 0;
  IndexNode** vtri_ = nullptr;
  IndexNode** vedge_ = nullptr;
  double* len2_ = nullptr;
  int* pointFlags_ = nullptr;
  int* triFlags_ = nullptr;
  int32_t* found_ = nullptr;  // triangles on one edge: at most all of them
  // Nodes for triangles re-listed by flips, in blocks of 4 ntri: a new block is taken when the
  // next flip might not fit.
  IndexNode* nodes_ = nullptr;
  int nodesUsed_ = 0, nodesCap_ = 0;
};

int DegenPass::SmallTriangle(int t) {
  const int32_t* v = m_->tri[t].v;
  const int p = v[0], q = v[1], r = v[2];
  for (int k = 0; k < 3; ++k)
    if (!Short(t, k)) return 0;
  if (!CanCollapse(p, q) || !CanCollapse(q, r) || !CanCollapse(r, p)) return 0;
  const int e[3] = {EdgeOf(corners_.get(), edges_.get(), 3 * t), EdgeOf(corners_.get(), edges_.get(), 3 * t + 1),
                    EdgeOf(corners_.get(), edges_.get(), 3 * t + 2)};
  const int repairs = DeleteOnEdge(p, q) + DeleteOnEdge(q, r) + DeleteOnEdge(r, p);
  const int kept = !pointFlags_[p] ? p : (!pointFlags_[q] ? q : r);
  for (int w : {p, q, r})
    if (w != kept) pointFlags_[w] = 1;
  for (int i : e) len2_[i] = -1.0;
  for (int w : {p, q, r})
    if (w != kept) Collapse(kept, w);
  return repairs;
}

int DegenPass::ShortEdge(int t) {
  int nshort = 0, which = -1;
  for (int k = 0; k < 3; ++k)
    if (Short(t, k)) ++nshort, which = k;
  if (nshort != 1) return 0;
  const int a = m_->tri[t].v[which], b = m_->tri[t].v[(which + 1) % 3];
  if (a == b) return Deleted(t);
  if (!CanCollapse(a, b)) return 0;
  const int repairs = DeleteOnEdge(a, b);
  len2_[EdgeOf(corners_.get(), edges_.get(), 3 * t + which)] = -1.0;
  Collapse(a, b);
  return repairs;
}

// The sliver's vertex V is the one closest to its opposite edge A-B (first on a tie).
int DegenPass::Sliver(int t) {
  for (int k = 0; k < 3; ++k)
    if (Short(t, k)) return 0;
  const int32_t* v = m_->tri[t].v;
  int best = -1;
  double bestD2 = 0;
  for (int k = 0; k < 3; ++k) {
    double d2, s;
    FootOnSegment(m_, v[k], v[(k + 1) % 3], v[(k + 2) % 3], &d2, &s);
    if (d2 <= tol2_ && s > 0 && s < 1 && (best < 0 || d2 < bestD2)) best = k, bestD2 = d2;
  }
  if (best < 0) return 0;
  const int V = v[best], A = v[(best + 1) % 3], B = v[(best + 2) % 3];
  int count = 0;
  FindAllPolysWithVert(m_, A, B, vtri_, found_, &count);
  if (count == 1 && found_[0] == t) return Deleted(t);
  if (count != 2) return 0;
  const int other = found_[0] == t ? found_[1] : found_[0];
  if (triFlags_[other] || (found_[0] != t && found_[1] != t)) return 0;
  int W = -1;
  for (int32_t w : m_->tri[other].v)
    if (w != A && w != B) W = w;
  if (W < 0 || W == V) return 0;
  int existing = 0;
  FindAllPolysWithVert(m_, V, W, vtri_, found_, &existing);
  const int vwa[3] = {V, W, A}, vwb[3] = {V, W, B};
  if (existing || IsPolyType3Degen(m_, vwa, bestD2) || IsPolyType3Degen(m_, vwb, bestD2)) return 0;
  return Flip(t, other, V, A, B, W) ? 1 : -1;
}

// Turns edge A-B of triangles t (V, A, B) and other (A, B, W) into V-W: t takes W for A, other
// takes V for B, both keep their vertex order; the edge record and the corner pointers follow.
bool DegenPass::Flip(int t, int other, int V, int A, int B, int W) {
  if (nodesCap_ - nodesUsed_ < 9) {
    nodes_ = MallocArray<IndexNode>(m_->ntri, 4);
    if (!nodes_) return false;
    nodesUsed_ = 0;
    nodesCap_ = 4 * m_->ntri;
  }
  for (int s : {t, other})
    for (int k = 0; k < 3; ++k) DeleteVertexPoly(vtri_, m_->tri[s].v[k], s);
  for (int32_t& w : m_->tri[t].v)
    if (w == A) w = W;
  for (int32_t& w : m_->tri[other].v)
    if (w == B) w = V;
  for (int s : {t, other}) {
    UpdatePolyPointers(m_, s, vtri_, nodes_, &nodesUsed_);
    MakeCldPolyPlane(m_, &m_->tri[s]);
  }
  const int e = GetEdgeNo(edges_.get(), vedge_, A, B);
  int32_t* pair = edges_.get() + 2 * e;
  IndexNode* na = Unlink(&vedge_[A], e);
  IndexNode* nb = Unlink(&vedge_[B], e);
  pair[0] = V;
  pair[1] = W;
  len2_[e] = Dist2(m_, V, W);
  na->next = vedge_[V];
  vedge_[V] = na;
  nb->next = vedge_[W];
  vedge_[W] = nb;
  for (int s : {t, other})
    for (int k = 0; k < 3; ++k) {
      const int f = GetEdgeNo(edges_.get(), vedge_, m_->tri[s].v[k], m_->tri[s].v[(k + 1) % 3]);
      if (f >= 0) corners_[3 * s + k] = edges_.get() + 2 * f;
    }
  return true;
}

bool DegenPass::Compact(int* newNumber) {
  if (mask_) {
    int removed = 0;
    for (int i = 0; i < m_->npts; ++i) {
      newNumber[i] = i - removed;
      if (pointFlags_[i]) ++removed;
    }
  }
  const int npts = m_->npts;
  if (!DeleteCldVertsAndPolys(m_, pointFlags_, triFlags_)) return false;
  if (mask_) {
    for (int i = 0; i < npts; ++i)
      if (!pointFlags_[i]) mask_[newNumber[i]] = mask_[i];
  }
  return true;
}

int DegenPass::Run() {
  TrackingScope scope;
  if (!CreatePolyEdges(m_, edges_.receive(), corners_.receive(), &nedges_)) return -1;
  // Everything the pass needs before it touches the mesh, but for the nodes of flips.
  const int n = m_->npts, ntri = m_->ntri;
  vtri_ = MallocArray<IndexNode*>(n);
  vedge_ = MallocArray<IndexNode*>(n);
  auto* vtriNodes = MallocArray<IndexNode>(ntri, 3);
  auto* vedgeNodes = MallocArray<IndexNode>(nedges_, 2);
  len2_ = MallocArray<double>(nedges_);
  pointFlags_ = CallocArray<int>(n);
  triFlags_ = CallocArray<int>(ntri);
  found_ = MallocArray<int32_t>(ntri);
  int* newNumber = mask_ ? MallocArray<int>(n) : nullptr;
  if (!vtri_ || !vedge_ || !vtriNodes || !vedgeNodes || !len2_ || !pointFlags_ || !triFlags_ || !found_ ||
      (mask_ && !newNumber))
    return -1;
  MakePolyPointers(m_, vtri_, vtriNodes);
  MakeEdgePointers(m_, edges_.get(), nedges_, vedge_, vedgeNodes);
  for (int e = 0; e < nedges_; ++e) len2_[e] = Dist2(m_, edges_[2 * e], edges_[2 * e + 1]);

  int repairs = 0;
  bool complete = true;
  for (int t = 0; t < ntri; ++t)
    if (Examined(t)) repairs += SmallTriangle(t);
  for (int t = 0; t < ntri; ++t)
    if (Examined(t)) repairs += ShortEdge(t);
  for (int t = 0; t < ntri && complete; ++t) {
    if (!Examined(t)) continue;
    const int r = Sliver(t);
    if (r < 0) complete = false;
    else repairs += r;
  }
  if (!complete) ClearKernelError();  // so that the compaction below can still run
  if (!Compact(newNumber) || !complete) {
    SetOutOfMemory();
    return -1;
  }
  return repairs;
}

}  // namespace

// Passes until one repairs nothing: small triangles collapsed, then lone short edges, then
// slivers deleted or flipped, then compaction. A pass that cannot complete leaves the mesh
// compacted as far as it got and the whole repair reports failure.
int RemoveDegenCldPolys(Cloud* mesh, double tol, unsigned char* mask) {
  // Deletions end the passes by themselves, but flips alone could swap an edge back and forth
  // on a degenerate configuration: a bound on the passes keeps that from hanging.
  constexpr int kMaxPasses = 100;
  // A tolerance whose square is not a finite length, or points without one, would make every edge
  // short or none comparable.
  if (!(tol >= 0.0) || !std::isfinite(tol * tol) || !MeshCornersNamePoints(mesh, nullptr) ||
      !CloudPointsFinite(mesh))
    return -1;
  int total = 0;
  for (int i = 0; i < kMaxPasses && mesh->ntri > 0; ++i) {
    DegenPass pass(mesh, tol * tol, mask);
    const int repairs = pass.Run();
    if (repairs < 0) return -1;
    if (repairs == 0) break;
    total += repairs;
  }
  return total;
}

int RemoveMultiEdgePolys(Cloud* mesh, int modeBits, const unsigned char* mask) {
  if (!mesh || mesh->ntri < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return 0;
  const int n = mesh->npts, ntri = mesh->ntri;
  auto* uses = MallocArray<int>(nedges);
  auto* flags = CallocArray<int>(ntri);
  auto** heads = MallocArray<IndexNode*>(n);
  auto* nodes = MallocArray<IndexNode>(ntri, 3);
  if (!uses || !flags || !heads || !nodes) return 0;
  int deleted = 0;
  const int rounds = (modeBits & 7) == 7 ? 1 : 2;
  for (int round = 0; round < rounds; ++round) {
    for (int e = 0; e < nedges; ++e) uses[e] = 0;
    for (int t = 0; t < ntri; ++t)
      if (!flags[t])
        for (int k = 0; k < 3; ++k) ++uses[EdgeOf(corners.get(), edges.get(), 3 * t + k)];
    MakePolyPointers(mesh, heads, nodes);
    for (int e = 0; e < nedges; ++e) {
      const int u = uses[e];
      const bool enabled = (u == 3 && (modeBits & 1)) || (u == 4 && (modeBits & 2)) || (u >= 5 && (modeBits & 4));
      const int a = edges[2 * e], b = edges[2 * e + 1];
      if (!enabled || (mask && !mask[a] && !mask[b])) continue;
      for (const IndexNode* node = heads[a]; node; node = node->next)
        if (!flags[node->index] && PolygonHasVertex(mesh, node->index, b)) {
          flags[node->index] = 1;
          ++deleted;
        }
    }
  }
  if (deleted == 0) return 0;
  return DeleteCldVertsAndPolys(mesh, nullptr, flags) ? deleted : 0;
}

// ---- Decimation -----------------------------------------------------------------------------

namespace {

// n records from a cache-line boundary, so that none of a line's size straddles two lines; the
// block is the scope's (null when memory runs out).
template <class T>
T* CacheAligned(long n) {
  constexpr long kLine = 64;
  auto* block = MallocArray<unsigned char>(n + kLine / static_cast<long>(sizeof(T)) + 1, sizeof(T));
  if (!block) return nullptr;
  return reinterpret_cast<T*>(block + (kLine - reinterpret_cast<uintptr_t>(block) % kLine) % kLine);
}

// Marks "no removal possible" in the costs and "no bound" as a tolerance, as the distance
// helpers of the foundation do.
// Fans and rings of ordinary meshes fit on the stack; larger ones take a block of the scope.
constexpr int kStackRoom = 32;

template <class T>
T* Room(T* stack, long stackCount, long n) {
  return n <= stackCount ? stack : MallocArray<T>(n);
}

double Dot(const float a[4], const float b[4]) { return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2]; }

double Distance(const double a[3], const double b[3]) {
  const double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
  return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

void TrianglePoints(const Cloud* m, const CloudTriangle& t, double a[3], double b[3], double c[3]) {
  GetCldPoint(m, t.v[0], a);
  GetCldPoint(m, t.v[1], b);
  GetCldPoint(m, t.v[2], c);
}

// Position of v among the triangle's corners (0 when it is not one).
int CornerOf(const int32_t* tri, int v) { return tri[1] == v ? 1 : (tri[2] == v ? 2 : 0); }

int Root(int* parent, int k) {
  while (parent[k] != k) k = parent[k];
  return k;
}

// Every pair of the triangles' normals within the cosine limit.
bool NormalsAgree(const CloudTriangle* tris, int n, double cosLimit) {
  for (int k = 0; k < n; ++k)
    for (int l = k + 1; l < n; ++l)
      if (Dot(tris[k].plane, tris[l].plane) < cosLimit) return false;
  return true;
}

}  // namespace

int CanVertexBeRemoved(const Cloud* mesh, int v, const int32_t* fan, int fanCount, double tol2) {
  if (fanCount < 1 || !mesh || !fan) return 0;
  struct Neighbour {
    int32_t w;
    int uses;
    int first;
    int second;
  };
  TrackingScope scope;
  Neighbour nbStack[kStackRoom + 1];
  int parentStack[kStackRoom];
  Neighbour* nb = Room(nbStack, kStackRoom + 1, fanCount + 1L);
  int* parent = Room(parentStack, kStackRoom, fanCount);
  if (!nb || !parent) return 0;
  int count = 0;
  for (int k = 0; k < fanCount; ++k) {
    for (int32_t w : mesh->tri[fan[k]].v) {
      if (w == v) continue;
      int j = 0;
      while (j < count && nb[j].w != w) ++j;
      if (j == count) {
        if (count == fanCount + 1) return 0;
        nb[count++] = Neighbour{w, 1, k, -1};
      } else if (nb[j].uses == 1) {
        nb[j].uses = 2;
        nb[j].second = k;
      } else {
        return 0;  // an edge v-w of three or more triangles
      }
    }
  }
  if (count == fanCount + 1) {
    // An open fan: v lies on the boundary, which the removal straightens.
    int ends[2], nends = 0;
    for (int j = 0; j < count; ++j)
      if (nb[j].uses == 1) {
        if (nends == 2) return 0;
        ends[nends++] = nb[j].w;
      }
    if (nends != 2) return 0;
    double p[3], a[3], b[3], foot[3], d2, t;
    GetCldPoint(mesh, v, p);
    GetCldPoint(mesh, ends[0], a);
    GetCldPoint(mesh, ends[1], b);
    LineSegPntMinSqDistParam(p, a, b, foot, &d2, &t);
    if (d2 > tol2) return 0;
  }
  // Union-find over the fan's triangles joined across shared edges; a root hangs under the
  // smaller root, so one piece leaves triangle 0 the only root.
  for (int k = 0; k < fanCount; ++k) parent[k] = k;
  for (int j = 0; j < count; ++j) {
    if (nb[j].uses != 2) continue;
    const int r1 = Root(parent, nb[j].first), r2 = Root(parent, nb[j].second);
    if (r1 < r2) parent[r2] = r1;
    else if (r2 < r1) parent[r1] = r2;
  }
  for (int k = 1; k < fanCount; ++k)
    if (parent[k] == k) return 0;
  return 1;
}

int IdentifySharedEdges(const Cloud* mesh, int v, const int32_t* fan, int fanCount, int32_t* pairs,
                        int* chainStarts) {
  if (!chainStarts || (fanCount > 0 && (!mesh || !fan || !pairs))) return -1;
  if (fanCount < 1) {
    chainStarts[0] = 0;
    return 0;
  }
  TrackingScope scope;
  // Each chain is a linked list of edges (a[e], b[e], next[e]) from head[c] to tail[c]; order
  // holds the live chains in their order.
  int stack[6][kStackRoom];
  int* a = Room(stack[0], kStackRoom, fanCount);
  int* b = Room(stack[1], kStackRoom, fanCount);
  int* next = Room(stack[2], kStackRoom, fanCount);
  int* head = Room(stack[3], kStackRoom, fanCount);
  int* tail = Room(stack[4], kStackRoom, fanCount);
  int* order = Room(stack[5], kStackRoom, fanCount);
  if (!a || !b || !next || !head || !tail || !order) return -1;
  for (int k = 0; k < fanCount; ++k) {
    const int32_t* tri = mesh->tri[fan[k]].v;
    const int c = CornerOf(tri, v);
    a[k] = tri[(c + 1) % 3];
    b[k] = tri[(c + 2) % 3];
    next[k] = -1;
    head[k] = tail[k] = order[k] = k;
  }
  auto reverse = [&](int c) {
    int prev = -1;
    for (int e = head[c]; e >= 0;) {
      const int following = next[e];
      next[e] = prev;
      std::swap(a[e], b[e]);
      prev = e;
      e = following;
    }
    std::swap(head[c], tail[c]);
  };
  int nchains = fanCount;
  for (int i = 0; i < nchains; ++i) {
    for (bool joined = true; joined;) {
      joined = false;
      const int c = order[i];
      const int s = a[head[c]], e = b[tail[c]];
      if (s == e) break;  // closed
      for (int j = i + 1; j < nchains && !joined; ++j) {
        const int d = order[j];
        const int ds = a[head[d]], de = b[tail[d]];
        bool front;
        if (ds == s) reverse(d), front = true;
        else if (de == s) front = true;
        else if (ds == e) front = false;
        else if (de == e) reverse(d), front = false;
        else continue;
        if (front) {
          next[tail[d]] = head[c];
          head[c] = head[d];
        } else {
          next[tail[c]] = head[d];
          tail[c] = tail[d];
        }
        for (int r = j; r + 1 < nchains; ++r) order[r] = order[r + 1];
        --nchains;
        joined = true;
      }
    }
  }
  int written = 0;
  for (int i = 0; i < nchains; ++i) {
    chainStarts[i] = written;
    for (int e = head[order[i]]; e >= 0; e = next[e]) {
      pairs[2 * written] = a[e];
      pairs[2 * written + 1] = b[e];
      ++written;
    }
  }
  chainStarts[nchains] = written;
  return nchains;
}

namespace {

// 1 when some ring vertex is joined to a ring vertex that is neither itself nor one of its ring
// neighbours. joined(i, found) offers each vertex joined to ring[i] to found, which answers true
// for such a one; joined answers true as soon as found does.
// Joined vertices are looked up in the ring (short: a linear scan is the fastest lookup), but for
// one whose bit in a 256-bit filter of the ring is clear: most (the centre, the outer vertices)
// are no ring vertex, and the filter spares them the scan. The bit comes from a multiplicative
// hash of the number: the low bits alone collide along the rows of grid-like meshes, whose
// neighbours differ by a row length. In a ring without repeated vertices the neighbours along it
// need no scan either.
template <class Joined>
int RingJoinedAcross(const int32_t* ring, int n, Joined joined) {
  auto slot = [](int32_t w) { return (static_cast<uint32_t>(w) * 2654435761u) >> 24; };
  uint64_t filter[4] = {0, 0, 0, 0};
  bool repeats = false;
  for (int j = 0; j < n; ++j) {
    const uint32_t h = slot(ring[j]);
    filter[h >> 6] |= uint64_t{1} << (h & 63);
    for (int k = 0; k < j; ++k) repeats = repeats || ring[k] == ring[j];
  }
  for (int i = 0; i < n; ++i) {
    const int ib = i > 0 ? i - 1 : n - 1, ia = i + 1 < n ? i + 1 : 0;
    const int32_t self = ring[i], before = ring[ib], after = ring[ia];
    auto across = [&](int32_t w) {
      if (w == self || (!repeats && (w == before || w == after))) return false;
      const uint32_t h = slot(w);
      if (!(filter[h >> 6] >> (h & 63) & 1)) return false;
      for (int j = 0; j < n; ++j)
        if (ring[j] == w && j != ib && j != ia) return true;
      return false;
    };
    if (joined(i, across)) return 1;
  }
  return 0;
}

// A list of numbers per point for the count reduction, in the order they were added (where the
// reduction walks a list, the order of its steps is part of its answer): each point's neighbours
// along the edges and its triangles. Up to 14 numbers lie in the point's row of one cache line; a
// point with more keeps them in a block of its own from then on.
class IndexRows {
 public:
  bool Init(int npts) {
    rows_ = CacheAligned<Row>(npts);
    if (!rows_) return false;
    for (int i = 0; i < npts; ++i) rows_[i].count = rows_[i].room = 0;
    return true;
  }
  // b after a's other numbers; false when memory runs out.
  bool Add(int a, int b) {
    Row& r = rows_[a];
    if (r.count == (r.room > 0 ? r.room : kSlots)) {
      // A block twice as long; the one it replaces stays with the scope until the end.
      const int room = 2 * r.count;
      auto* grown = MallocArray<int32_t>(room);
      if (!grown) return false;
      std::copy(Data(a), Data(a) + r.count, grown);
      r.block = grown;
      r.room = room;
    }
    Data(a)[r.count++] = b;
    return true;
  }
  // The first b goes; the order of the others is kept.
  void Remove(int a, int b) {
    int32_t* w = Data(a);
    int32_t& count = rows_[a].count;
    for (int k = 0; k < count; ++k)
      if (w[k] == b) {
        std::copy(w + k + 1, w + count, w + k);
        --count;
        return;
      }
  }
  void Clear(int a) { rows_[a].count = 0; }
  // a's numbers into *w, oldest first, and their count.
  int Get(int a, const int32_t** w) const {
    *w = Data(a);
    return rows_[a].count;
  }
  bool Has(int a, int b) const {
    const int32_t* w = Data(a);
    for (int k = 0; k < rows_[a].count; ++k)
      if (w[k] == b) return true;
    return false;
  }
  // Always inline: a call to a function that only prefetches counts as free of effects, and the
  // compiler drops it.
  [[gnu::always_inline]] void Prefetch(int a) const { __builtin_prefetch(rows_ + a); }

 private:
  static constexpr int kSlots = 14;
  struct Row {
    int32_t count;
    int32_t room;  // of the block; 0 while the row holds the numbers
    union {
      int32_t w[kSlots];
      int32_t* block;
    };
  };
  static_assert(sizeof(Row) == 64);
  int32_t* Data(int a) const { return rows_[a].room > 0 ? rows_[a].block : rows_[a].w; }
  Row* rows_ = nullptr;  // a row per cache line
};

// Whether some ring vertex has an edge to a ring vertex other than itself and its ring
// neighbours. Every two corners of a triangle are joined by an edge, so a ring none of whose
// vertices has an edge across it cannot have a triangle across it either, and the walk over
// the triangles around the ring (scattered in memory) is needed only when some edge crosses.
bool EdgeJoinsAcross(const IndexRows& neighbours, const int32_t* ring, int n) {
  // The rows lie scattered over the table: asking for all of them at once overlaps the waits.
  for (int j = 0; j < n; ++j) neighbours.Prefetch(ring[j]);
  return RingJoinedAcross(ring, n, [&](int i, auto& found) {
    const int32_t* w;
    for (int k = neighbours.Get(ring[i], &w) - 1; k >= 0; --k)
      if (found(w[k])) return true;
    return false;
  });
}

}  // namespace

int MultipleEdgeFormed(const Cloud* mesh, const int32_t* ring, int n, IndexNode* const* vertexTriangleHeads) {
  // Each triangle around ring vertex i is read once.
  return RingJoinedAcross(ring, n, [&](int i, auto& found) {
    for (const IndexNode* node = vertexTriangleHeads[ring[i]]; node; node = node->next)
      for (int32_t w : mesh->tri[node->index].v)
        if (found(w)) return true;
    return false;
  });
}

namespace {

// The ring of v's neighbours from a fan that CanVertexBeRemoved accepted, into ring (room for
// fanCount + 1), and its length; 0 when the fan gives no single chain or memory runs out.
int FanRing(const Cloud* mesh, int v, const int32_t* fan, int fanCount, int32_t* ring) {
  TrackingScope scope;
  int32_t pairStack[2 * kStackRoom];
  int startStack[kStackRoom + 1];
  int32_t* pairs = Room(pairStack, 2 * kStackRoom, 2L * fanCount);
  int* starts = Room(startStack, kStackRoom + 1, fanCount + 1L);
  if (!pairs || !starts) return 0;
  // One edge-connected fan gives one chain: the ring of v's neighbours.
  if (IdentifySharedEdges(mesh, v, fan, fanCount, pairs, starts) != 1) return 0;
  int n = 0;
  ring[n++] = pairs[0];
  for (int e = 0; e < fanCount; ++e) ring[n++] = pairs[2 * e + 1];
  if (ring[n - 1] == ring[0]) --n;
  return n;
}

// The count reduction's point lists, which stand for the mesh's edge and vertex-to-triangle
// lists in a trial removal.
struct ReductionRows {
  const IndexRows* neighbours;
  const IndexRows* triangles;
};

// Not removable for an edge between ring vertices that are not ring neighbours; the rows, when
// given, spare the walk over the triangles where no edge crosses the ring and stand for the
// lists in it.
bool EdgeAcross(const Cloud* mesh, const int32_t* ring, int n, IndexNode* const* vertexTriangleHeads,
                const ReductionRows* rows) {
  if (!rows) return MultipleEdgeFormed(mesh, ring, n, vertexTriangleHeads);
  if (!EdgeJoinsAcross(*rows->neighbours, ring, n)) return false;
  // Each triangle around ring vertex i is read once.
  return RingJoinedAcross(ring, n, [&](int i, auto& found) {
    const int32_t* t;
    for (int k = rows->triangles->Get(ring[i], &t) - 1; k >= 0; --k)
      for (int32_t w : mesh->tri[t[k]].v)
        if (found(w)) return true;
    return false;
  });
}

// Whether the fan triangles (v, ring[k], ring[k + 1]) for k in the ranges [r[0], r[1]) and
// [r[2], r[3]) (ring numbers taken round n) lie in one plane through p within slack: the unit
// normal of their summed area vectors, and every ring point they use within slack of the plane
// it makes with p.
bool FanFlat(const double* x, const double* y, const double* z, int n, const double p[3], const int r[4],
             double slack) {
  double normal[3] = {0, 0, 0};
  for (int range = 0; range < 2; ++range)
    for (int k = r[2 * range]; k < r[2 * range + 1]; ++k) {
      const int a = k % n, b = (k + 1) % n;
      const double u[3] = {x[a] - p[0], y[a] - p[1], z[a] - p[2]}, w[3] = {x[b] - p[0], y[b] - p[1], z[b] - p[2]};
      double c[3];
      VecCrossProd3(u, w, c);
      for (int d = 0; d < 3; ++d) normal[d] += c[d];
    }
  const double length = std::sqrt(VecDotProd3(normal, normal));
  if (!(length > 0)) return false;
  for (int range = 0; range < 2; ++range)
    for (int k = r[2 * range]; k < r[2 * range + 1] + (r[2 * range + 1] > r[2 * range]); ++k) {
      const int a = k % n;
      const double u[3] = {x[a] - p[0], y[a] - p[1], z[a] - p[2]};
      if (!(std::fabs(VecDotProd3(u, normal)) <= slack * length)) return false;
    }
  return true;
}

// Whether p lies within slack of the segment from ring point i to ring point j, strictly
// between its ends.
bool OnSegment(const double* x, const double* y, const double* z, int i, int j, const double p[3], double slack) {
  const double d[3] = {x[j] - x[i], y[j] - y[i], z[j] - z[i]}, q[3] = {p[0] - x[i], p[1] - y[i], p[2] - z[i]};
  const double along = VecDotProd3(d, d);
  const double s = along > 0 ? VecDotProd3(q, d) / along : -1;
  if (!(s > 0 && s < 1)) return false;
  const double off[3] = {q[0] - s * d[0], q[1] - s * d[1], q[2] - s * d[2]};
  return VecDotProd3(off, off) <= slack * slack;
}

// Where removing v keeps the shape exactly: its fan lies in one plane (*split -1), or v lies on
// the straight segment between ring points i and j, strictly inside it, with the fan flat on each
// side of that segment (a straight crease), all within slack. Triangulating each side apart then
// keeps every new triangle in the plane of the old ones it replaces, where one triangulation of
// the whole ring could cut across the crease. An open fan's ring (n - 1 triangles) closes along
// its boundary chord, so v must lie on that chord too (a straight run of the boundary).
bool ExactRemoval(const double* x, const double* y, const double* z, int n, bool open, const double p[3],
                  double slack, int split[2]) {
  const int triangles = open ? n - 1 : n;
  split[0] = split[1] = -1;
  if (open && !OnSegment(x, y, z, 0, n - 1, p, slack)) return false;
  const int whole[4] = {0, triangles, 0, 0};
  if (FanFlat(x, y, z, n, p, whole, slack)) return true;
  for (int i = 0; i < n; ++i)
    for (int j = i + 2; j < n && j - i <= n - 2; ++j) {  // each side a polygon of three points at least
      if (!OnSegment(x, y, z, i, j, p, slack)) continue;
      // Side one takes the triangles i .. j - 1, side two the others (round the ring; those of
      // an open fan stop at its last).
      const int one[4] = {i, j, 0, 0};
      const int two[4] = {j, open ? triangles : n + i, 0, open ? i : 0};
      if (!FanFlat(x, y, z, n, p, one, slack) || !FanFlat(x, y, z, n, p, two, slack)) continue;
      split[0] = i, split[1] = j;
      return true;
    }
  return false;
}

// The ring triangulated with BreakPoly3DToTriangleToo, as one polygon or, split at ring points
// split[0] < split[1], as the two polygons each side of their segment (each keeping the ring's
// order, so the triangles keep the fan's orientation); count receives the triangles made.
int TriangulateRing(int n, const int32_t* ring, const double* x, const double* y, const double* z, const int split[2],
                    int* count, int* tri) {
  if (split[0] < 0) return BreakPoly3DToTriangleToo(n, ring, x, y, z, count, tri);
  TrackingScope scope;
  int idxStack[kStackRoom + 1];
  double xyzStack[3][kStackRoom + 1];
  int* idx = Room(idxStack, kStackRoom + 1, n + 1L);
  double* px = Room(xyzStack[0], kStackRoom + 1, n + 1L);
  double* py = Room(xyzStack[1], kStackRoom + 1, n + 1L);
  double* pz = Room(xyzStack[2], kStackRoom + 1, n + 1L);
  if (!idx || !px || !py || !pz) return 0;
  *count = 0;
  for (int side = 0; side < 2; ++side) {
    const int from = side == 0 ? split[0] : split[1], to = side == 0 ? split[1] : split[0] + n;
    int m = 0;
    for (int k = from; k <= to; ++k) idx[m] = ring[k % n], px[m] = x[k % n], py[m] = y[k % n], pz[m] = z[k % n], ++m;
    int made = 0;
    if (!BreakPoly3DToTriangleToo(m, idx, px, py, pz, &made, tri + 3 * *count)) return 0;
    *count += made;
  }
  return 1;
}

// RemoveCldVertexLow2, with the count reduction's rows where it has them; the planes
// of the new triangles are left unset when not asked for (a costing reads only the corners).
// With `exact`, a fan that ExactRemoval finds flat or creased within exactSlack is triangulated
// so as to keep its shape, and *exact says whether it was.
int TrialRemoval(const Cloud* mesh, int v, int* newCount, int* newNumbers, int fanCount, const int32_t* fan,
                 CloudTriangle* newTriangles, IndexNode* const* vertexTriangleHeads, double tol,
                 const ReductionRows* rows, bool planes = true, bool* exact = nullptr, double exactSlack = 0) {
  if (exact) *exact = false;
  *newCount = 0;
  if (mesh->ntri < 1) return 0;
  TrackingScope scope;
  if (!fan || fanCount < 1) {
    int room = 20;
    fanCount = 0;
    auto* found = MallocArray<int32_t>(room);
    if (!found) return 0;
    for (int t = 0; t < mesh->ntri; ++t) {
      if (!PolygonHasVertex(mesh, t, v)) continue;
      if (fanCount == room) {
        auto* grown = ReallocArray(found, 2 * room);
        if (!grown) return 0;
        found = grown;
        room *= 2;
      }
      found[fanCount++] = t;
    }
    if (fanCount == 0) return 0;
    fan = found;
  }
  if (!CanVertexBeRemoved(mesh, v, fan, fanCount, tol * tol)) return 0;
  int32_t ringStack[kStackRoom + 1];
  int32_t* ring = Room(ringStack, kStackRoom + 1, fanCount + 1L);
  if (!ring) return 0;
  const int n = FanRing(mesh, v, fan, fanCount, ring);
  if (n < 3 || EdgeAcross(mesh, ring, n, vertexTriangleHeads, rows)) return 0;
  double xyzStack[3][kStackRoom + 1];
  int triStack[3 * kStackRoom];
  double* x = Room(xyzStack[0], kStackRoom + 1, n);
  double* y = Room(xyzStack[1], kStackRoom + 1, n);
  double* z = Room(xyzStack[2], kStackRoom + 1, n);
  int* tri = Room(triStack, 3 * kStackRoom, 3L * n);
  if (!x || !y || !z || !tri) return 0;
  for (int i = 0; i < n; ++i) {
    double p[3];
    GetCldPoint(mesh, ring[i], p);
    x[i] = p[0], y[i] = p[1], z[i] = p[2];
  }
  int count = 0;
  int split[2] = {-1, -1};
  if (exact) {
    double p[3];
    GetCldPoint(mesh, v, p);
    *exact = ExactRemoval(x, y, z, n, n == fanCount + 1, p, exactSlack, split);
  }
  if (!TriangulateRing(n, ring, x, y, z, split, &count, tri)) return 0;
  for (int k = 0; k < count; ++k) {
    for (int c = 0; c < 3; ++c) newTriangles[k].v[c] = tri[3 * k + c];
    if (planes) MakeCldPolyPlane(mesh, &newTriangles[k]);
    if (newNumbers) newNumbers[k] = mesh->ntri + k;
  }
  *newCount = count;
  return 1;
}

}  // namespace

int RemoveCldVertexLow2(const Cloud* mesh, int v, int* newCount, int* newNumbers, int fanCount, const int32_t* fan,
                        CloudTriangle* newTriangles, IndexNode* const* vertexTriangleHeads, double tol) {
  return TrialRemoval(mesh, v, newCount, newNumbers, fanCount, fan, newTriangles, vertexTriangleHeads, tol, nullptr);
}

namespace {

// A point removed by the tolerance decimation: its coordinates are copied, since the point
// arrays are compacted after every pass.
struct RemovedPoint {
  RemovedPoint* next;
  double p[3];
};

// The nearest of the triangles strictly closer than tol to p (the first on ties), or -1.
int NearestWithin(const Cloud* m, const CloudTriangle* tris, int n, const double p[3], double tol) {
  int best = -1;
  double bestDist = 0;
  for (int k = 0; k < n; ++k) {
    double a[3], b[3], c[3], foot[3], d;
    TrianglePoints(m, tris[k], a, b, c);
    TriangPntMinDist(p, a, b, c, foot, &d);
    if (d < tol && (best < 0 || d < bestDist)) best = k, bestDist = d;
  }
  return best;
}

// Flags (1) the triangles a reduction leaves out, in one pass, and returns how many take part.
// One that names no point (scans and exports have them) has no place: left in, a corner out of
// range would index past the point lists, so neither reduction works with it. With cornersApart
// one that repeats a corner, which has no area, is left out too: in the count reduction it would
// make a point its own neighbour, re-costed (and moved in the queue) by its own removal. Left-out
// triangles bound nothing a reduction could keep and are dropped with its removals.
int FlagTrianglesLeftOut(const Cloud* m, bool cornersApart, int* flags) {
  int live = 0;
  for (int t = 0; t < m->ntri; ++t) {
    const int32_t* v = m->tri[t].v;
    const bool part = CornersNamePoints(v, m->npts) &&
                      (!cornersApart || (v[0] != v[1] && v[1] != v[2] && v[0] != v[2]));
    flags[t] = !part;
    live += part;
  }
  return live;
}

// Pass after pass of ReduceCloudPolygons. Triangle numbers of a pass: the mesh's own, then the
// triangles made in the pass from ntri on, in the order they were made.
class ToleranceDecimation {
 public:
  ToleranceDecimation(Cloud* mesh, double tol, double angle, unsigned char* mask)
      : m_(mesh), tol_(tol), cosLimit_(std::cos(angle * kDegree)), mask_(mask) {}
  int Run();

 private:
  // The legacy degree, 3.14/180: the angle limits callers chose were tuned with it.
  static constexpr double kDegree = 0.017444444444444446;

  bool Allocate();
  bool FitFans();
  int CheckAndRemoveVertex(int v);
  bool DrawnThisPass(int fanCount, int count) const;
  bool Compact();

  Cloud* m_;
  double tol_;
  double cosLimit_;
  unsigned char* mask_;
  int npts0_ = 0;
  IndexNode** vtri_ = nullptr;
  IndexNode* vtriNodes_ = nullptr;
  RemovedPoint** lists_ = nullptr;  // per triangle of the pass
  RemovedPoint* records_ = nullptr;
  int usedRecords_ = 0;
  int* assigned_ = nullptr;  // per record on a fan's lists: its new triangle
  int* removed_ = nullptr;
  int* touched_ = nullptr;
  int* triFlags_ = nullptr;
  int* newNumber_ = nullptr;
  CloudTriangle* passTris_ = nullptr;
  int passCount_ = 0, passRoom_ = 0;
  // The pass's new triangles around each point (positions in passTris_): the lists of the pass's
  // start do not know them.
  IndexNode** passHeads_ = nullptr;
  IndexNode* passNodes_ = nullptr;
  // One removal's fan, its triangles and the trial triangles, with room for the largest fan.
  int32_t* fan_ = nullptr;
  CloudTriangle* fanTris_ = nullptr;
  CloudTriangle* trial_ = nullptr;
  int fanRoom_ = 0;
};

bool ToleranceDecimation::Allocate() {
  npts0_ = m_->npts;
  const int ntri = m_->ntri;
  vtri_ = MallocArray<IndexNode*>(npts0_);
  vtriNodes_ = MallocArray<IndexNode>(ntri, 3);
  // A removal replaces f triangles by at most f - 1: a pass never makes more than ntri.
  lists_ = CallocArray<RemovedPoint*>(ntri, 2);
  triFlags_ = MallocArray<int>(ntri, 2);
  records_ = MallocArray<RemovedPoint>(npts0_);
  assigned_ = MallocArray<int>(npts0_);
  removed_ = MallocArray<int>(npts0_);
  touched_ = MallocArray<int>(npts0_);
  newNumber_ = mask_ ? MallocArray<int>(npts0_) : nullptr;
  passRoom_ = ntri / 8 + 16;
  passTris_ = MallocArray<CloudTriangle>(passRoom_);
  passHeads_ = MallocArray<IndexNode*>(npts0_);
  passNodes_ = MallocArray<IndexNode>(ntri, 3);
  return vtri_ && vtriNodes_ && lists_ && triFlags_ && records_ && assigned_ && removed_ && touched_ &&
         (!mask_ || newNumber_) && passTris_ && passHeads_ && passNodes_;
}

// Room for the largest fan of the pass.
bool ToleranceDecimation::FitFans() {
  int largest = 0;
  for (int i = 0; i < m_->npts; ++i) {
    int n = 0;
    for (const IndexNode* node = vtri_[i]; node; node = node->next) ++n;
    largest = std::max(largest, n);
  }
  if (largest <= fanRoom_) return true;
  fanRoom_ = largest;
  fan_ = MallocArray<int32_t>(fanRoom_);
  fanTris_ = MallocArray<CloudTriangle>(fanRoom_);
  trial_ = MallocArray<CloudTriangle>(fanRoom_);
  return fan_ && fanTris_ && trial_;
}

// 1 removed, 0 left in place, -1 out of memory. Nothing changes unless every test passes.
int ToleranceDecimation::CheckAndRemoveVertex(int v) {
  int fanCount = 0;
  for (const IndexNode* node = vtri_[v]; node; node = node->next) {
    fan_[fanCount] = node->index;
    fanTris_[fanCount++] = m_->tri[node->index];
  }
  if (fanCount == 0 || !NormalsAgree(fanTris_, fanCount, cosLimit_)) return 0;
  int count = 0;
  if (!RemoveCldVertexLow2(m_, v, &count, nullptr, fanCount, fan_, trial_, vtri_, tol_))
    return KernelFailed() ? -1 : 0;
  if (count < 1 || DrawnThisPass(fanCount, count)) return 0;
  for (int k = 0; k < count; ++k)
    for (int l = 0; l < fanCount; ++l)
      if (Dot(trial_[k].plane, fanTris_[l].plane) < cosLimit_) return 0;
  double p[3];
  GetCldPoint(m_, v, p);
  const int own = NearestWithin(m_, trial_, count, p, tol_);
  if (own < 0) return 0;
  int nrec = 0;
  for (int l = 0; l < fanCount; ++l)
    for (const RemovedPoint* r = lists_[fan_[l]]; r; r = r->next) {
      const int k = NearestWithin(m_, trial_, count, r->p, tol_);
      if (k < 0) return 0;
      assigned_[nrec++] = k;
    }
  if (passCount_ + count > passRoom_) {
    const int room = std::max(2 * passRoom_, passCount_ + count);
    CloudTriangle* grown = ReallocArray(passTris_, room);
    if (!grown) return -1;
    passTris_ = grown;
    passRoom_ = room;
  }
  const int base = m_->ntri + passCount_;
  RemovedPoint* record = &records_[usedRecords_++];
  for (int c = 0; c < 3; ++c) record->p[c] = p[c];
  record->next = lists_[base + own];
  lists_[base + own] = record;
  nrec = 0;
  for (int l = 0; l < fanCount; ++l) {
    for (RemovedPoint* r = lists_[fan_[l]]; r;) {
      RemovedPoint* following = r->next;
      const int t = base + assigned_[nrec++];
      r->next = lists_[t];
      lists_[t] = r;
      r = following;
    }
    lists_[fan_[l]] = nullptr;
    triFlags_[fan_[l]] = 1;
  }
  for (int k = 0; k < count; ++k) {
    passTris_[passCount_ + k] = trial_[k];
    for (int c = 0; c < 3; ++c) {
      IndexNode* node = &passNodes_[3 * (passCount_ + k) + c];
      node->index = passCount_ + k;
      node->next = passHeads_[trial_[k].v[c]];
      passHeads_[trial_[k].v[c]] = node;
    }
  }
  passCount_ += count;
  return 1;
}

// 1 when a trial diagonal (an edge of the trial triangles that is no edge of the fan) joins two
// points between which an earlier removal of the pass drew an edge already.
bool ToleranceDecimation::DrawnThisPass(int fanCount, int count) const {
  for (int k = 0; k < count; ++k)
    for (int c = 0; c < 3; ++c) {
      const int a = trial_[k].v[c], b = trial_[k].v[(c + 1) % 3];
      if (!touched_[a] || !touched_[b]) continue;
      bool ringEdge = false;
      for (int l = 0; l < fanCount && !ringEdge; ++l) {
        const int32_t* f = fanTris_[l].v;
        ringEdge = (f[0] == a || f[1] == a || f[2] == a) && (f[0] == b || f[1] == b || f[2] == b);
      }
      if (ringEdge) continue;
      for (const IndexNode* node = passHeads_[a]; node; node = node->next) {
        const int32_t* f = passTris_[node->index].v;
        if (f[0] == b || f[1] == b || f[2] == b) return true;
      }
    }
  return false;
}

// The pass's triangles enter the mesh, its removed points and deleted triangles leave it.
bool ToleranceDecimation::Compact() {
  const int ntri = m_->ntri, npts = m_->npts;
  if (!ReallocCldPolyList(m_, ntri + passCount_)) return false;
  for (int k = 0; k < passCount_; ++k) {
    m_->tri[ntri + k] = passTris_[k];
    triFlags_[ntri + k] = 0;
  }
  m_->ntri = ntri + passCount_;
  int kept = 0;
  for (int t = 0; t < ntri + passCount_; ++t)
    if (!triFlags_[t]) lists_[kept++] = lists_[t];
  for (int t = kept; t < ntri + passCount_; ++t) lists_[t] = nullptr;
  if (mask_) {
    int gone = 0;
    for (int i = 0; i < npts; ++i) {
      newNumber_[i] = i - gone;
      if (removed_[i]) ++gone;
    }
  }
  if (!DeleteCldVertsAndPolys(m_, removed_, triFlags_)) return false;
  if (mask_)
    for (int i = 0; i < npts; ++i)
      if (!removed_[i]) mask_[newNumber_[i]] = mask_[i];
  MakePolyPointers(m_, vtri_, vtriNodes_);
  return true;
}

int ToleranceDecimation::Run() {
  TrackingScope scope;
  if (m_->ntri < 1) {  // nothing to thin
    MakeCloudArbitrary(m_);
    return 1;
  }
  if (!Allocate()) return 0;
  // Those that name no point go before the first pass. One that repeats a corner stays, as it
  // always has, for the removal checks to take like any other: it names only points.
  if (FlagTrianglesLeftOut(m_, false, triFlags_) < m_->ntri) DeleteCldVertsAndPolys(m_, nullptr, triFlags_);
  MakePolyPointers(m_, vtri_, vtriNodes_);
  for (bool changed = true; changed;) {
    changed = false;
    const int npts = m_->npts, ntri = m_->ntri;
    if (!FitFans()) return 0;
    for (int i = 0; i < npts; ++i) removed_[i] = touched_[i] = 0, passHeads_[i] = nullptr;
    for (int t = 0; t < ntri; ++t) triFlags_[t] = 0;
    passCount_ = 0;
    for (int i = 0; i < npts; ++i) {
      if (i % 5000 == 0 && user_break()) return 0;
      if ((mask_ && !mask_[i]) || touched_[i]) continue;
      const int r = CheckAndRemoveVertex(i);
      if (r < 0) return 0;
      if (r == 0) continue;
      removed_[i] = 1;
      // The neighbours' triangle lists are stale until the pass ends: they wait for the next.
      for (const IndexNode* node = vtri_[i]; node; node = node->next)
        for (int32_t w : m_->tri[node->index].v) touched_[w] = 1;
      changed = true;
    }
    if (user_break()) return 0;
    if (changed && !Compact()) return 0;
  }
  if (!ReallocCldXYZArrays(m_, m_->npts)) return 0;
  MakeCloudArbitrary(m_);
  return 1;
}

}  // namespace

int ReduceCloudPolygons(Cloud* mesh, double tol, double angle, unsigned char* mask) {
  // Errors are measured against the points as they were: every one must be a point.
  if (!mesh || !CloudPointsFinite(mesh)) return 0;
  ToleranceDecimation run(mesh, tol, angle, mask);
  return run.Run();
}

namespace {

// The cost queue of the count reduction: one node per point, in one list. The nodes before the
// current one (and the current one) are done or wait behind it; the nodes still to come stay in
// ascending cost, over which a skip list finds a re-costed point's place in logarithmic time
// rather than by walking the list. A point that becomes cheaper than the current one therefore
// comes next, cheapest first; among equal costs a re-costed point goes first.
class CostQueue {
 public:
  // n nodes, ids in ascending order of their costs (cost[i] belongs to point i); the first
  // becomes the current node. false when memory runs out.
  bool Init(int n, const int* ids, const double* cost);
  int Current() const { return current_; }
  int Following() const { return current_ >= 0 ? node_[current_].next : -1; }
  // The successor of the current node becomes current.
  void Advance();
  // Point v's cost is now c: its node moves to its place.
  void Update(int v, double c);

 private:
  static constexpr int kLevels = 16;
  // Nodes up to this height are unlinked by walking back to their predecessors, taller ones by
  // a search.
  static constexpr int kWalkBack = 3;
  // Links above the plain list kept in the node itself: three nodes in four have none, one in
  // 256 has more.
  static constexpr int kNear = 3;

  // What a search step reads of a node, cost and links, in half a cache line.
  struct Node {
    double cost;
    int next, prev;
    int up[kNear];  // levels 1 .. kNear
    unsigned char height;
    unsigned char toCome;
  };
  static_assert(sizeof(Node) == 32);

  int& Up(int x, int level) {
    return level <= kNear ? node_[x].up[level - 1] : far_[(long)x * (kLevels - 1 - kNear) + level - 1 - kNear];
  }
  int Next(int x, int level) {
    return level == 0 ? (x < 0 ? head_[0] : node_[x].next) : (x < 0 ? head_[level] : Up(x, level));
  }
  void SetNext(int x, int level, int to) {
    if (x < 0) head_[level] = to;
    else if (level == 0) node_[x].next = to;
    else Up(x, level) = to;
  }
  // The last node at each level with a cost below c (-1: none), and the first with c or more.
  int Search(double c, int* before);
  void LinkAfter(int s, int v);  // in the plain list
  void Unlink(int v);
  void InsertToCome(int v);
  void EraseToCome(int v);

  Node* node_ = nullptr;  // on a cache-line boundary, so that no node straddles two lines
  int* far_ = nullptr;    // levels above kNear
  int head_[kLevels];
  int current_ = -1;
};

bool CostQueue::Init(int n, const int* ids, const double* cost) {
  node_ = CacheAligned<Node>(n);
  far_ = MallocArray<int>(n, kLevels - 1 - kNear);
  if (!node_ || !far_) return false;
  int last[kLevels];
  for (int l = 0; l < kLevels; ++l) head_[l] = last[l] = -1;
  uint32_t state = 2463534242u;  // a fixed seed: the same mesh gives the same removals
  for (int i = 0; i < n; ++i) {
    const int v = ids[i];
    Node& x = node_[v];
    x.cost = cost[v];
    x.next = i + 1 < n ? ids[i + 1] : -1;
    x.prev = i > 0 ? ids[i - 1] : -1;
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    int h = 1;
    while (h < kLevels && ((state >> (2 * h)) & 3) == 0) ++h;
    x.height = static_cast<unsigned char>(h);
    x.toCome = i > 0;
    if (i == 0) continue;
    for (int l = 0; l < h; ++l) {
      if (l > 0) Up(v, l) = -1;
      if (last[l] < 0) head_[l] = v;
      else if (l > 0) Up(last[l], l) = v;
      last[l] = v;
    }
  }
  current_ = n > 0 ? ids[0] : -1;
  return true;
}

int CostQueue::Search(double c, int* before) {
  int x = -1;
  for (int l = kLevels - 1; l >= 0; --l) {
    for (int nx = Next(x, l); nx >= 0 && node_[nx].cost < c; nx = Next(x, l)) x = nx;
    before[l] = x;
  }
  return Next(x, 0);
}

void CostQueue::LinkAfter(int s, int v) {
  Node& x = node_[v];
  Node& t = node_[s];
  x.prev = s;
  x.next = t.next;
  if (t.next >= 0) node_[t.next].prev = v;
  t.next = v;
}

void CostQueue::Unlink(int v) {
  Node& x = node_[v];
  if (x.prev >= 0) node_[x.prev].next = x.next;
  if (x.next >= 0) node_[x.next].prev = x.prev;
  x.next = x.prev = -1;
}

void CostQueue::InsertToCome(int v) {
  int before[kLevels];
  Search(node_[v].cost, before);
  LinkAfter(before[0] >= 0 ? before[0] : current_, v);
  if (before[0] < 0) head_[0] = v;
  for (int l = 1; l < node_[v].height; ++l) {
    Up(v, l) = Next(before[l], l);
    SetNext(before[l], l, v);
  }
  node_[v].toCome = 1;
}

void CostQueue::EraseToCome(int v) {
  const int height = node_[v].height;
  if (height <= kWalkBack) {
    // Most nodes are low: their predecessor on each level is the nearest node before them (to
    // come, so after the current one) that is tall enough, a few steps back.
    // Once none is left, v is first on this level and on those above.
    int x = v;
    for (int l = 1; l < height; ++l) {
      while (x >= 0 && (x == v || node_[x].height <= l)) {
        x = node_[x].prev;
        if (x >= 0 && !node_[x].toCome) x = -1;
      }
      SetNext(x, l, Up(v, l));
    }
  } else {
    int before[kLevels];
    Search(node_[v].cost, before);
    for (int l = 1; l < height; ++l) {
      int x = before[l];
      while (Next(x, l) != v) x = Next(x, l);  // past nodes of equal cost
      SetNext(x, l, Up(v, l));
    }
  }
  if (head_[0] == v) head_[0] = node_[v].next;
  Unlink(v);
  node_[v].toCome = 0;
}

void CostQueue::Advance() {
  const int v = node_[current_].next;
  current_ = v;
  if (v < 0 || !node_[v].toCome) return;
  // The first node to come is first on every level it is on.
  for (int l = 1; l < node_[v].height; ++l) head_[l] = Up(v, l);
  head_[0] = node_[v].next;
  node_[v].toCome = 0;
}

void CostQueue::Update(int v, double c) {
  const int p = node_[v].prev, q = node_[v].next;
  const bool stays = (p < 0 || node_[p].cost <= c) && (q < 0 || node_[q].cost >= c);
  if (node_[v].toCome) {
    if (stays) {
      node_[v].cost = c;  // its neighbours still frame it
      return;
    }
    EraseToCome(v);
    node_[v].cost = c;
    InsertToCome(v);
    return;
  }
  node_[v].cost = c;
  if (stays) return;
  Unlink(v);
  if (q >= 0 && node_[q].cost <= c) {
    // Dearer, behind the current node: forward past the nodes done while they are cheaper.
    for (int s = q; s != current_; s = node_[s].next) {
      const int after = node_[s].next;
      if (node_[after].cost >= c) {
        LinkAfter(s, v);
        return;
      }
    }
  }
  InsertToCome(v);
}

// Triangles binned on a uniform grid by their boxes, for the distance of a point from the
// nearest of them: the cells round the point's are searched shell by shell until no farther cell
// can hold a nearer triangle.
class TriangleGrid {
 public:
  // Bins triangles tris[0..n) of m (n > 0); false when memory runs out.
  bool Build(const Cloud* m, const int32_t* tris, int n) {
    m_ = m, tris_ = tris, n_ = n;
    double hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, size = 0;
    for (int k = 0; k < 3; ++k) lo_[k] = HUGE_VAL;
    // A triangle with a corner that is not a point sizes nothing (it goes to the first cell).
    int sized = 0;
    for (int i = 0; i < n; ++i) {
      double b[6];
      Box(i, b);
      if (!AllFinite(b, 6)) continue;
      ++sized;
      for (int k = 0; k < 3; ++k) lo_[k] = std::min(lo_[k], b[k]), hi[k] = std::max(hi[k], b[3 + k]);
      size += std::max({b[3] - b[0], b[4] - b[1], b[5] - b[2]});
    }
    if (sized == 0)
      for (int k = 0; k < 3; ++k) lo_[k] = hi[k] = 0.0;
    const double extent = std::max({hi[0] - lo_[0], hi[1] - lo_[1], hi[2] - lo_[2], 1e-300});
    cell_ = std::max(size / std::max(sized, 1), extent * 1e-4);
    // No more cells than a few per triangle.
    for (;;) {
      long cells = 1;
      for (int k = 0; k < 3; ++k) cells *= dims_[k] = static_cast<int>(std::min((hi[k] - lo_[k]) / cell_, 1e6)) + 1;
      if (cells <= 4L * n + 64) break;
      cell_ *= 1.25;
    }
    const long ncells = static_cast<long>(dims_[0]) * dims_[1] * dims_[2];
    start_ = CallocArray<int32_t>(ncells + 1);
    boxes_ = MallocArray<double>(6, n);
    if (!start_ || !boxes_) return false;
    for (int i = 0; i < n; ++i) Box(i, boxes_ + 6L * i);
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < n; ++i) {
        const double* b = boxes_ + 6L * i;
        int c0[3], c1[3];
        for (int k = 0; k < 3; ++k) c0[k] = CellOf(b[k], k), c1[k] = CellOf(b[3 + k], k);
        for (int z = c0[2]; z <= c1[2]; ++z)
          for (int y = c0[1]; y <= c1[1]; ++y)
            for (int x = c0[0]; x <= c1[0]; ++x) {
              const long c = Index(x, y, z);
              if (pass == 0) ++start_[c + 1];
              else items_[start_[c]++] = i;
            }
      }
      if (pass == 0) {
        for (long c = 0; c < ncells; ++c) start_[c + 1] += start_[c];
        items_ = MallocArray<int32_t>(std::max(start_[ncells], 1));
        if (!items_) return false;
      } else {
        for (long c = ncells; c > 0; --c) start_[c] = start_[c - 1];
        start_[0] = 0;
      }
    }
    // Each cell's boxes beside its items (in floats, exact: the corners are the cloud's floats),
    // so that a search reads them in a row instead of gathering them triangle by triangle.
    itemBoxes_ = MallocArray<float>(6, std::max(start_[ncells], 1));
    if (!itemBoxes_) return false;
    for (int32_t at = 0; at < start_[ncells]; ++at)
      for (int k = 0; k < 6; ++k) itemBoxes_[6L * at + k] = static_cast<float>(boxes_[6L * items_[at] + k]);
    long crowd = 0;
    for (long c = 0; c < ncells; ++c) crowd = std::max(crowd, long{start_[c + 1] - start_[c]});
    if (crowd <= kCrowdedCells) return true;
    tree_ = BuildBoxTree(boxes_, n);
    return tree_ != nullptr;
  }

  // The triangles binned (mesh numbers) and their count.
  const int32_t* Triangles() const { return tris_; }
  int Count() const { return n_; }

  // The squared distance of p from the nearest triangle, whose number in the mesh goes to
  // *nearest when given (-1 for none); a point not finite is at no finite distance (HUGE_VAL),
  // without a search: no cell or node bound can stop one from it. A hint (a mesh number among
  // the grid's triangles, or -1), measured first, lets the search pass over every triangle
  // whose box lies no nearer: the nearest of a point close to a measured one is mostly its
  // nearest or beside it. Of triangles at one distance the hint is then the one named.
  double DistSq(const double p[3], int* nearest = nullptr, int hint = -1) const {
    if (nearest) *nearest = -1;
    if (!AllFinite(p, 3)) return HUGE_VAL;
    double best = HUGE_VAL;
    auto measureTriangle = [&](int t) {
      double a[3], b[3], cc[3], foot[3], d2, s, w;
      TrianglePoints(m_, m_->tri[t], a, b, cc);
      TriangPntMinDistSq(p, a, b, cc, foot, &d2, &s, &w);
      if (d2 < best) {
        best = d2;
        if (nearest) *nearest = t;
      }
    };
    auto measure = [&](int i) {
      if (tris_[i] != hint) measureTriangle(tris_[i]);
    };
    if (hint >= 0) measureTriangle(hint);
    if (tree_) {
      SearchNearTree(*tree_, p, [&] { return best; }, [&](int i, double) {
        if (NearBoxGap2(boxes_ + 6L * i, p) < best) measure(i);
      });
      return best;
    }
    int c[3];
    double outside = 0;  // squared distance of p from the grid's box
    for (int k = 0; k < 3; ++k) {
      c[k] = CellOf(p[k], k);
      const double below = lo_[k] - p[k], above = p[k] - (lo_[k] + dims_[k] * cell_);
      if (below > 0) outside += below * below;
      if (above > 0) outside += above * above;
    }
    for (int r = 0;; ++r) {
      for (int z = c[2] - r; z <= c[2] + r; ++z)
        for (int y = c[1] - r; y <= c[1] + r; ++y)
          for (int x = c[0] - r; x <= c[0] + r; ++x) {
            if (std::max({std::abs(x - c[0]), std::abs(y - c[1]), std::abs(z - c[2])}) != r) continue;
            if (x < 0 || y < 0 || z < 0 || x >= dims_[0] || y >= dims_[1] || z >= dims_[2]) continue;
            // A triangle nearer than the best so far is binned in the cell that holds its point
            // nearest p, and that cell lies nearer than the best: a cell farther (widened by
            // the round-off of the binning) holds none.
            if (r > 0 && CellGap2(x, y, z, p) >= best) continue;
            const long cell = Index(x, y, z);
            for (int32_t at = start_[cell]; at < start_[cell + 1]; ++at) {
              // A triangle whose box lies no nearer than the best so far cannot be nearer.
              const float* box = itemBoxes_ + 6L * at;
              double gap = 0;
              for (int k = 0; k < 3; ++k) {
                const double g = std::max({double(box[k]) - p[k], p[k] - double(box[3 + k]), 0.0});
                gap += g * g;
              }
              if (gap < best) measure(items_[at]);
            }
          }
      // Every point of a cell beyond this shell lies farther from p's foot on the grid's box than
      // the nearest side of the shell with cells beyond it (none left: all were seen).
      double beyond = HUGE_VAL;
      for (int k = 0; k < 3; ++k) {
        const double foot = std::clamp(p[k], lo_[k], lo_[k] + dims_[k] * cell_);
        if (c[k] - r > 0) beyond = std::min(beyond, foot - (lo_[k] + (c[k] - r) * cell_));
        if (c[k] + r < dims_[k] - 1) beyond = std::min(beyond, lo_[k] + (c[k] + r + 1) * cell_ - foot);
      }
      if (beyond == HUGE_VAL || best <= outside + beyond * beyond) break;
    }
    return best;
  }

 private:
  int CellOf(double x, int k) const {
    const double c = (x - lo_[k]) / cell_;
    return !(c > 0) ? 0 : c >= dims_[k] - 1 ? dims_[k] - 1 : static_cast<int>(c);  // a NaN to the first
  }
  // Squared distance of p from cell (x, y, z), the cell widened by a millionth of its size: far
  // above the round-off of its bounds, as a cell is no smaller than the spacing of float corners.
  double CellGap2(int x, int y, int z, const double p[3]) const {
    const int at[3] = {x, y, z};
    double s = 0;
    for (int k = 0; k < 3; ++k) {
      const double lo = lo_[k] + (at[k] - 1e-6) * cell_, hi = lo_[k] + (at[k] + 1 + 1e-6) * cell_;
      const double g = p[k] < lo ? lo - p[k] : p[k] > hi ? p[k] - hi : 0.0;
      s += g * g;
    }
    return s;
  }
  long Index(int x, int y, int z) const { return x + static_cast<long>(dims_[0]) * (y + static_cast<long>(dims_[1]) * z); }
  void Box(int i, double b[6]) const {
    double p[3][3];
    TrianglePoints(m_, m_->tri[tris_[i]], p[0], p[1], p[2]);
    for (int k = 0; k < 3; ++k)
      b[k] = std::min({p[0][k], p[1][k], p[2][k]}), b[3 + k] = std::max({p[0][k], p[1][k], p[2][k]});
  }

  const Cloud* m_ = nullptr;
  const int32_t* tris_ = nullptr;
  int n_ = 0;
  double lo_[3] = {0, 0, 0};
  double cell_ = 1;
  int dims_[3] = {1, 1, 1};
  int32_t* start_ = nullptr;
  int32_t* items_ = nullptr;
  double* boxes_ = nullptr;  // per triangle: min x, y, z, max x, y, z
  float* itemBoxes_ = nullptr;  // per item of a cell: its triangle's box
  // Searched instead of the cells where a few triangles spanning far beyond the rest (corners
  // near the float range) leave nearly all others in one cell.
  NearTree* tree_ = nullptr;
};

// Within this share of the distance found, the bound on a surface's distance from another is
// taken as found: it may exceed the distance by as much.
constexpr double kBoundShare = 1e-2;

// The largest distance of the n points from triangle t of m: over their convex hull the
// distance from the triangle is no larger.
double FarthestFrom(const Cloud* m, int t, const double (*points)[3], int n) {
  double a[3], b[3], c[3], worst = 0;
  TrianglePoints(m, m->tri[t], a, b, c);
  for (int j = 0; j < n; ++j) {
    double foot[3], d2, s, w;
    TriangPntMinDistSq(points[j], a, b, c, foot, &d2, &s, &w);
    worst = std::max(worst, d2);
  }
  return std::sqrt(worst);
}

// A bound on the distance of every point of the triangle `corner` from triangles t1 and t2 of m
// where they share an edge (HUGE_VAL where they do not): the plane through that edge halfway
// between the two triangles cuts the piece in two convex parts, each no farther from the
// triangle on its side than its farthest vertex. Where two triangles of a smooth surface meet
// under a piece, each part lies over its own triangle, and the bound is the distance itself.
double SplitBound(const Cloud* m, int t1, int t2, const double corner[3][3]) {
  const int32_t* a = m->tri[t1].v;
  const int32_t* b = m->tri[t2].v;
  int shared[2], nshared = 0, w1 = -1, w2 = -1;
  for (int i = 0; i < 3; ++i) {
    const bool inB = a[i] == b[0] || a[i] == b[1] || a[i] == b[2];
    if (inB && nshared < 2) shared[nshared++] = a[i];
    else if (!inB) w1 = a[i];
  }
  for (int i = 0; i < 3; ++i)
    if (b[i] != a[0] && b[i] != a[1] && b[i] != a[2]) w2 = b[i];
  if (nshared != 2 || w1 < 0 || w2 < 0) return HUGE_VAL;
  double u[3], v[3], p1[3], p2[3];
  GetCldPoint(m, shared[0], u);
  GetCldPoint(m, shared[1], v);
  GetCldPoint(m, w1, p1);
  GetCldPoint(m, w2, p2);
  double e[3] = {v[0] - u[0], v[1] - u[1], v[2] - u[2]};
  const double le = std::sqrt(VecDotProd3(e, e));
  if (!(le > 0)) return HUGE_VAL;
  for (double& x : e) x /= le;
  // The unit directions within each triangle, square to the edge, towards its far corner; the
  // cut's normal is their difference.
  double t[2][3];
  const double* far[2] = {p1, p2};
  for (int k = 0; k < 2; ++k) {
    double d[3] = {far[k][0] - u[0], far[k][1] - u[1], far[k][2] - u[2]};
    const double along = VecDotProd3(d, e);
    for (int c = 0; c < 3; ++c) d[c] -= along * e[c];
    const double l = std::sqrt(VecDotProd3(d, d));
    if (!(l > 0)) return HUGE_VAL;
    for (int c = 0; c < 3; ++c) t[k][c] = d[c] / l;
  }
  double n[3] = {t[0][0] - t[1][0], t[0][1] - t[1][1], t[0][2] - t[1][2]};
  const double ln = std::sqrt(VecDotProd3(n, n));
  if (!(ln > 1e-6)) return HUGE_VAL;  // folded onto itself: no plane between them
  for (double& x : n) x /= ln;
  double side[3];
  for (int j = 0; j < 3; ++j) {
    const double d[3] = {corner[j][0] - u[0], corner[j][1] - u[1], corner[j][2] - u[2]};
    side[j] = VecDotProd3(d, n);
  }
  // The vertices of each part: the corners on its side and where the edges cross the cut.
  double part[2][4][3];
  int count[2] = {0, 0};
  for (int j = 0; j < 3; ++j) {
    const int k = (j + 1) % 3;
    for (int h = 0; h < 2; ++h)
      if (h == 0 ? side[j] >= 0 : side[j] <= 0) std::copy(corner[j], corner[j] + 3, part[h][count[h]++]);
    if ((side[j] < 0 && side[k] > 0) || (side[j] > 0 && side[k] < 0)) {
      const double f = side[j] / (side[j] - side[k]);
      double x[3];
      for (int c = 0; c < 3; ++c) x[c] = corner[j][c] + f * (corner[k][c] - corner[j][c]);
      for (int h = 0; h < 2; ++h) std::copy(x, x + 3, part[h][count[h]++]);
    }
  }
  return std::max(FarthestFrom(m, t1, part[0], count[0]), FarthestFrom(m, t2, part[1], count[1]));
}

// The triangles round each point, of a list of a mesh's triangles: those of point v are
// list[first[v] .. first[v + 1] - 1].
struct TriangleStars {
  int32_t* first = nullptr;
  int32_t* list = nullptr;
  // false when memory runs out (the arrays live in the caller's tracking scope).
  bool Build(const Cloud* m, const int32_t* tris, int n) {
    first = CallocArray<int32_t>(m->npts + 1L);
    list = MallocArray<int32_t>(3L * std::max(n, 1));
    if (!first || !list) return false;
    for (int i = 0; i < n; ++i)
      for (int32_t v : m->tri[tris[i]].v) ++first[v + 1];
    for (int v = 0; v < m->npts; ++v) first[v + 1] += first[v];
    for (int i = 0; i < n; ++i)
      for (int32_t v : m->tri[tris[i]].v) list[first[v]++] = tris[i];
    for (int v = m->npts; v > 0; --v) first[v] = first[v - 1];
    first[0] = 0;
    return true;
  }
};

// The part of the triangle `corner` in the wedge round the line through p along the normal that
// turns from half-plane `from` to half-plane `to` (each given by normal x its direction; less
// than half a turn) into poly (room for 5 points); the number of its points.
int ClipToWedge(const double corner[3][3], const double p[3], const double from[3], const double to[3],
                double poly[5][3]) {
  double scratch[5][3];
  double(*bufs[2])[3] = {scratch, poly};
  int size = 3;
  for (int j = 0; j < 3; ++j) std::copy(corner[j], corner[j] + 3, poly[j]);
  for (int side = 0; side < 2 && size > 0; ++side) {
    // Side 0 keeps (x - p) . from >= 0, side 1 keeps (x - p) . to <= 0.
    const double* h = side == 0 ? from : to;
    const double sign = side == 0 ? 1.0 : -1.0;
    const double(*in)[3] = bufs[1 - side];
    double(*out)[3] = bufs[side];
    double value[5];
    for (int j = 0; j < size; ++j) {
      const double d[3] = {in[j][0] - p[0], in[j][1] - p[1], in[j][2] - p[2]};
      value[j] = sign * VecDotProd3(d, h);
    }
    int kept = 0;
    for (int j = 0; j < size; ++j) {
      const int next = (j + 1) % size;
      if (value[j] >= 0) std::copy(in[j], in[j] + 3, out[kept++]);
      if ((value[j] > 0 && value[next] < 0) || (value[j] < 0 && value[next] > 0)) {
        const double f = value[j] / (value[j] - value[next]);
        for (int d = 0; d < 3; ++d) out[kept][d] = in[j][d] + f * (in[next][d] - in[j][d]);
        ++kept;
      }
    }
    size = kept;
  }
  return size;
}

// A bound on the distance of every point of the triangle `corner` from the triangles round point
// v (HUGE_VAL where it cannot be had), no smaller than `enough` only when no smaller one was
// found. Where those triangles make one fan round v, each turning the same way about their mean
// normal n, the half-planes through the line along n at v that hold their edges from v cut space
// into wedges, one per triangle; an open fan's gap is halved, each half going to the fan's end
// triangle beside it. The part of the piece in each wedge is convex and no farther from that
// wedge's triangle than its farthest vertex (distance from one triangle is convex): the largest
// of these bounds the piece's distance from the fan, and so from the surface, whatever the
// triangles the wedges are given. Where a smooth surface lies under the piece each part lies
// over its own triangle and the bound is the distance itself.
double StarBound(const Cloud* m, const TriangleStars& stars, int v, const double corner[3][3], double enough) {
  constexpr int kMostFan = 64;
  const int count = stars.first[v + 1] - stars.first[v];
  if (count < 1 || count > kMostFan) return HUGE_VAL;
  const int32_t* star = stars.list + stars.first[v];
  // Each triangle's corners after v in its own turning order.
  int after[kMostFan][2];
  for (int j = 0; j < count; ++j) {
    const int32_t* c = m->tri[star[j]].v;
    const int at = c[0] == v ? 0 : c[1] == v ? 1 : 2;
    after[j][0] = c[(at + 1) % 3], after[j][1] = c[(at + 2) % 3];
  }
  // The fan in turning order, each triangle's second corner the next one's first: from the
  // triangle whose first corner no other's second is (an open fan), else from any.
  int order[kMostFan];
  bool used[kMostFan] = {};
  order[0] = 0;
  for (int j = 0; j < count; ++j) {
    bool follows = false;
    for (int i = 0; i < count && !follows; ++i) follows = i != j && after[i][1] == after[j][0];
    if (!follows) {
      order[0] = j;
      break;
    }
  }
  used[order[0]] = true;
  for (int k = 1; k < count; ++k) {
    order[k] = -1;
    for (int j = 0; j < count && order[k] < 0; ++j)
      if (!used[j] && after[j][0] == after[order[k - 1]][1]) order[k] = j;
    if (order[k] < 0) return HUGE_VAL;
    used[order[k]] = true;
  }
  const bool closed = after[order[count - 1]][1] == after[order[0]][0];
  double p[3], n[3] = {0, 0, 0};
  GetCldPoint(m, v, p);
  // Edges from v to each triangle's first corner in fan order, and the last one's second.
  double edge[kMostFan + 1][3];
  for (int k = 0; k <= count; ++k) {
    double q[3];
    GetCldPoint(m, k < count ? after[order[k]][0] : after[order[count - 1]][1], q);
    for (int d = 0; d < 3; ++d) edge[k][d] = q[d] - p[d];
  }
  for (int k = 0; k < count; ++k) {
    double c[3];
    VecCrossProd3(edge[k], edge[k + 1], c);
    for (int d = 0; d < 3; ++d) n[d] += c[d];
  }
  if (!(VecDotProd3(n, n) > 0)) return HUGE_VAL;
  // Each wedge turns less than half a turn the way of n, so it is the meet of two half-spaces.
  double cut[kMostFan + 1][3];  // n x edge: (x - v) . cut[k] >= 0 on the turning side of edge k
  for (int k = 0; k <= count; ++k) VecCrossProd3(n, edge[k], cut[k]);
  for (int k = 0; k < count; ++k)
    if (!(VecDotProd3(cut[k], edge[k + 1]) > 0)) return HUGE_VAL;
  double worst = 0, poly[5][3];
  for (int k = 0; k < count && worst < enough; ++k) {
    const int size = ClipToWedge(corner, p, cut[k], cut[k + 1], poly);
    if (size > 0) worst = std::max(worst, FarthestFrom(m, star[order[k]], poly, size));
  }
  if (closed || worst >= enough) return worst;
  // The gap from the last edge round to the first, seen across n, halved by its middle direction.
  double u[3], w[3];
  const double ln = std::sqrt(VecDotProd3(n, n));
  for (double& x : n) x /= ln;
  const double lu = std::sqrt(VecDotProd3(cut[0], cut[0]));
  for (int d = 0; d < 3; ++d) w[d] = cut[0][d] / lu;
  VecCrossProd3(w, n, u);  // u along edge 0 seen across n, w a quarter turn on
  const double a1 = std::atan2(VecDotProd3(edge[count], w), VecDotProd3(edge[count], u));
  // The gap turns from the last edge's angle a1 on to a full turn (edge 0 is at angle 0); where the
  // fan turned past a full turn the extra wedges only cover again what it covers.
  double gap = 2 * M_PI - (a1 < 0 ? a1 + 2 * M_PI : a1);
  if (!(gap > 0 && gap < 2 * M_PI)) return HUGE_VAL;
  const double mid = a1 + 0.5 * gap;
  double middle[3], midCut[3];
  for (int d = 0; d < 3; ++d) middle[d] = std::cos(mid) * u[d] + std::sin(mid) * w[d];
  VecCrossProd3(n, middle, midCut);
  int size = ClipToWedge(corner, p, cut[count], midCut, poly);
  if (size > 0) worst = std::max(worst, FarthestFrom(m, star[order[count - 1]], poly, size));
  size = ClipToWedge(corner, p, midCut, cut[0], poly);
  if (size > 0) worst = std::max(worst, FarthestFrom(m, star[order[0]], poly, size));
  return worst;
}

// A piece of a triangle in the search for its farthest point from another surface: its corners,
// their distances from the surface and the triangle nearest each, its longest edge, and a bound
// on the distance of every point of the piece.
struct BoundPiece {
  double corner[3][3];
  double dist[3];
  int near[3];
  double longest;
  double upper;
  bool operator<(const BoundPiece& o) const { return upper < o.upper; }
};

// The distance of the farthest point of the triangles `from` (nfrom of them) from the surface of
// grid's triangles, with every piece no farther than `start` passed over (the answer is then at
// least start). Where the search settles the answer is a bound, never below that distance and
// at most kBoundShare of it (or `slack`) above; *reached receives the largest distance measured
// (no less than start), which that bound is within the share of. Pieces are split no finer than an edge of
// `fine`, nor after `budget` points were measured: such a piece stands for itself by its
// corners (the answer then may fall short by its edge over sqrt(3), where the distance does
// not run about linearly over it). False when memory runs out.
// Method: branch and bound. The distance is 1-Lipschitz, so over a piece it is at most its
// largest corner distance plus the farthest any point of the piece lies from its nearest
// corner (no more than the longest edge over sqrt(3)); the distance from one triangle is convex,
// so over the piece it is at most the largest corner distance from the triangle nearest any one
// corner; where the triangles nearest two corners share an edge, the piece cut by the plane
// halfway between them is bounded part by part (SplitBound); and where the triangles nearest the
// corners meet at a point, the piece cut into wedges round the fan at that point is bounded wedge
// by wedge (StarBound), which settles the pieces over a vertex of the other surface without
// splitting them down to the finest size. The piece with the largest bound is
// split in four at its edges' midpoints until that bound comes within the tolerance of the
// largest distance measured; pieces whose bound cannot beat that are dropped.
bool BoundDistance(const Cloud* m, const int32_t* from, int nfrom, const TriangleGrid& grid, double slack,
                   double fine, long budget, double start, double* bound, double* reached) {
  TrackingScope scope;
  // The pieces wait in a pool; the heap orders their bounds and slots, so that its moves shift
  // two words rather than whole pieces. Freed slots are taken again first.
  struct Waiting {
    double upper;
    int32_t slot;
    bool operator<(const Waiting& o) const { return upper < o.upper; }
  };
  long room = std::max(nfrom, 16), count = 0, used = 0, nfree = 0;
  Waiting* heap = MallocArray<Waiting>(room);
  BoundPiece* pool = MallocArray<BoundPiece>(room);
  int32_t* freed = MallocArray<int32_t>(room);
  if (!heap || !pool || !freed) return false;
  TriangleStars stars;
  if (!stars.Build(m, grid.Triangles(), grid.Count())) return false;
  double lower = start;
  auto finish = [&](BoundPiece& piece) {
    piece.longest = 0;
    for (int k = 0; k < 3; ++k) {
      lower = std::max(lower, piece.dist[k]);
      piece.longest = std::max(piece.longest, Distance(piece.corner[k], piece.corner[(k + 1) % 3]));
    }
    piece.upper = std::max({piece.dist[0], piece.dist[1], piece.dist[2]}) + piece.longest / std::sqrt(3.0);
    // Each bound is taken only while the piece could still hold the farthest point.
    for (int k = 0; k < 3 && piece.upper > lower; ++k) {
      if (piece.near[k] < 0 || (k > 0 && piece.near[k] == piece.near[0]) || (k > 1 && piece.near[k] == piece.near[1]))
        continue;
      piece.upper = std::min(piece.upper, FarthestFrom(m, piece.near[k], piece.corner, 3));
    }
    for (int k = 1; k < 3 && piece.upper > lower; ++k)
      for (int j = 0; j < k && piece.upper > lower; ++j)
        if (piece.near[j] >= 0 && piece.near[k] >= 0 && piece.near[j] != piece.near[k])
          piece.upper = std::min(piece.upper, SplitBound(m, piece.near[j], piece.near[k], piece.corner));
    // Corners nearest different triangles round one point: the fan round it bounds the piece.
    if (piece.upper > lower && piece.near[0] >= 0 && piece.near[1] >= 0 && piece.near[2] >= 0 &&
        (piece.near[0] != piece.near[1] || piece.near[0] != piece.near[2]))
      for (int32_t v : m->tri[piece.near[0]].v) {
        const auto has = [&](int t) {
          const int32_t* c = m->tri[t].v;
          return c[0] == v || c[1] == v || c[2] == v;
        };
        if (piece.upper > lower && has(piece.near[1]) && has(piece.near[2]))
          piece.upper = std::min(piece.upper, StarBound(m, stars, v, piece.corner, piece.upper));
      }
  };
  auto push = [&](const BoundPiece& piece) {
    if (piece.upper <= lower) return true;  // it cannot hold the farthest point
    if (nfree == 0 && used == room) {
      room *= 2;
      auto* grownHeap = ReallocArray(heap, room);
      if (grownHeap) heap = grownHeap;
      auto* grownPool = ReallocArray(pool, room);
      if (grownPool) pool = grownPool;
      auto* grownFreed = ReallocArray(freed, room);
      if (grownFreed) freed = grownFreed;
      if (!grownHeap || !grownPool || !grownFreed) return false;
    }
    const int32_t slot = static_cast<int32_t>(nfree > 0 ? freed[--nfree] : used++);
    pool[slot] = piece;
    heap[count++] = Waiting{piece.upper, slot};
    std::push_heap(heap, heap + count);
    return true;
  };
  auto measure = [&](const double p[3], double* d, int* near, int hint) {
    const double d2 = grid.DistSq(p, near, hint);
    *d = std::isfinite(d2) ? std::sqrt(d2) : 0.0;  // a point not a number is at no distance
  };
  // The triangles share their corners: each point is measured once.
  double* pointDist = MallocArray<double>(m->npts);
  int* pointNear = MallocArray<int>(m->npts);
  if (!pointDist || !pointNear) return false;
  std::fill(pointNear, pointNear + m->npts, -2);  // -2: not measured yet
  for (int i = 0; i < nfrom; ++i) {
    BoundPiece piece;
    TrianglePoints(m, m->tri[from[i]], piece.corner[0], piece.corner[1], piece.corner[2]);
    // A corner's nearest triangle is the hint for the next corner's.
    int hint = -1;
    for (int k = 0; k < 3; ++k) {
      const int v = m->tri[from[i]].v[k];
      if (pointNear[v] == -2) measure(piece.corner[k], &pointDist[v], &pointNear[v], hint);
      piece.dist[k] = pointDist[v], piece.near[k] = pointNear[v];
      if (pointNear[v] >= 0) hint = pointNear[v];
    }
    finish(piece);
    if (!push(piece)) return false;
  }
  long measured = 0;
  *bound = lower;
  while (count > 0) {
    std::pop_heap(heap, heap + count);
    const BoundPiece piece = pool[heap[--count].slot];
    freed[nfree++] = heap[count].slot;
    if (piece.upper <= lower + std::max(kBoundShare * lower, slack)) {
      *bound = std::max(lower, piece.upper);
      *reached = lower;
      return true;
    }
    if (piece.longest <= fine || measured >= budget) continue;
    // Points 0..2 are the corners, 3 + k the midpoint of the edge across from corner k.
    double at[6][3], dist[6];
    int near[6];
    for (int k = 0; k < 3; ++k) {
      for (int d = 0; d < 3; ++d) {
        at[k][d] = piece.corner[k][d];
        at[3 + k][d] = 0.5 * (piece.corner[(k + 1) % 3][d] + piece.corner[(k + 2) % 3][d]);
      }
      dist[k] = piece.dist[k], near[k] = piece.near[k];
      // The midpoint's nearest is mostly that of an end of its edge, or beside it.
      measure(at[3 + k], &dist[3 + k], &near[3 + k], piece.near[(k + 1) % 3]);
    }
    measured += 3;
    static constexpr int kChildren[4][3] = {{0, 5, 4}, {5, 1, 3}, {4, 3, 2}, {3, 4, 5}};
    for (const auto& corners : kChildren) {
      BoundPiece child;
      for (int j = 0; j < 3; ++j) {
        for (int d = 0; d < 3; ++d) child.corner[j][d] = at[corners[j]][d];
        child.dist[j] = dist[corners[j]], child.near[j] = near[corners[j]];
      }
      finish(child);
      if (!push(child)) return false;
    }
  }
  *bound = *reached = lower;  // every piece was dropped or stands for itself by its corners
  return true;
}

// Whether the triangle has both corners a and b.
bool TriangleHas(const CloudTriangle& t, int a, int b) {
  const auto has = [&](int w) { return t.v[0] == w || t.v[1] == w || t.v[2] == w; };
  return has(a) && has(b);
}

// ReducePolygonsByCount. The mesh's triangles keep their numbers until the end: a removal flags
// its fan and appends the new triangles, and the lists are updated in place. Removed points
// keep their numbers too (records hold point numbers).
// An open boundary turning by more than this (radians) at a point has a corner there, kept.
constexpr double kBoundaryCorner = 30.0 * M_PI / 180.0;
// Round-off of a distance, as a part of the box diagonal: a boundary point may go when what it
// leaves lies within the removals' largest error so far or within this (so that straight runs of
// a flat boundary go), and a removal whose points stay within it of the new triangles keeps the
// shape.
constexpr double kBoundarySlack = 1e-9;

// The rounding of a coordinate to single precision, as a part of its size, with room for the
// round-off of the planes and lines through such points: one unit in the last place (half a unit
// misses planes turned off the axes, which their points' rounding bends by about that much).
constexpr double kFloatRounding = FLT_EPSILON;

class CountDecimation {
 public:
  CountDecimation(Cloud* mesh, int target, double neighbourWeight, double eliminationWeight, double angleWeight)
      : m_(mesh), target_(target), wNeighbour_(neighbourWeight), wElimination_(eliminationWeight),
        wAngle_(angleWeight) {}
  int Run(const double bbox[6], double* maxError);

 private:
  bool FlagLeftOut();
  bool Setup(const double bbox[6]);
  IndexNode* NewRecord();
  bool Gather(int v);
  void KeepTrial(int v, int count);
  int TrialStillHolds(int v);
  double FindDistSqToClosestNbor(int v) const;
  double FindSharpestAngleAtVert(int v) const;
  double FindElimDistanceOfVert(int v);
  double FindVertexRemovalParam(int v);
  bool DeleteVertex(int v, int* newCount);
  bool OverfillsAnEdge(int newCount) const;
  bool Grow(int needed);
  bool StoreRemovedVertices(int v, int newCount);
  bool BoundaryMayMove(int v, int newCount);
  bool MeasureError(double* maxError);
  void BoundTrial(int count);
  double NearestSq(int point, int newCount, int* which, double floor = -1) const;
  bool Replace(int v, int newCount, int* noted, int* nnoted);
  bool AddEdge(int a, int b);
  // removal: also what the removal of v reads (its neighbours' triangles).
  [[gnu::always_inline]] inline void Prefetch(int v, bool removal) const;  // inline: see IndexRows::Prefetch
  int Fail();

  Cloud* m_;
  int target_;
  double wNeighbour_, wElimination_, wAngle_;
  double elimNorm_ = 1, edgeNorm_ = 1;
  int ntri0_ = 0;
  IndexRows neighbours_;  // along the edges
  IndexRows triangles_;   // the live triangles of each point
  ReductionRows rows_{&neighbours_, &triangles_};
  IndexNode* recordBlock_ = nullptr;  // removed-point records, a block of npts at a time
  int recordsUsed_ = 0;
  IndexNode** lists_ = nullptr;  // removed points per triangle
  int* triFlags_ = nullptr;       // 1: removed or left out
  int room_ = 0;  // of the per-triangle arrays and the mesh's triangle array
  int live_ = 0;
  CostQueue queue_;
  double maxErrorSq_ = 0;
  double slack_ = 0, slackSq_ = 0;  // round-off of a distance at the mesh's size, and its square
  // Within this a removal keeps the shape: the round-off at the mesh's size or, larger where the
  // mesh lies far from the origin or turned off the axes, the rounding of its points to single
  // precision (no plane or line through them can be told apart from another closer than that).
  double exactSlack_ = 0;
  bool exact_ = false;  // the last costing's removal keeps the shape
  int32_t* original_ = nullptr;  // the triangles taking part, as they were
  int noriginal_ = 0;
  int32_t* fan_ = nullptr;  // the fan and trial triangles of one point, room fanRoom_
  CloudTriangle* trial_ = nullptr;
  // The trial triangles' corners (a, b, c back to back) and the centre and radius of a sphere
  // round each (room fanRoom_).
  double* trialXyz_ = nullptr;
  double* trialBall_ = nullptr;
  int fanRoom_ = 0, fanCount_ = 0;
  // Each point's trial triangulation from its last costing, so that its removal need not
  // triangulate its ring again: keptCount_ triangles (-1 none kept) at keptTri_[kKept * 3 * v],
  // made when clock_ (the count of removals) was keptAt_[v]. changedAt_[w] is the clock of the
  // last removal that changed w's triangles.
  static constexpr int kKept = 8;
  signed char* keptCount_ = nullptr;
  int32_t* keptTri_ = nullptr;
  int* keptAt_ = nullptr;
  int* changedAt_ = nullptr;
  int clock_ = 0;
};

IndexNode* CountDecimation::NewRecord() {
  if (!recordBlock_ || recordsUsed_ == m_->npts) {
    recordBlock_ = MallocArray<IndexNode>(m_->npts);
    recordsUsed_ = 0;
    if (!recordBlock_) return nullptr;
  }
  return &recordBlock_[recordsUsed_++];
}

// v's live triangles into fan_ (room grown as needed).
bool CountDecimation::Gather(int v) {
  const int32_t* tris;
  fanCount_ = triangles_.Get(v, &tris);
  if (fanCount_ > fanRoom_) {
    fanRoom_ = std::max(2 * fanRoom_, fanCount_);
    fan_ = MallocArray<int32_t>(fanRoom_);
    trial_ = MallocArray<CloudTriangle>(fanRoom_);
    trialXyz_ = MallocArray<double>(fanRoom_, 9);
    trialBall_ = MallocArray<double>(fanRoom_, 4);
    if (!fan_ || !trial_ || !trialXyz_ || !trialBall_) return false;
  }
  // Newest first, the order of the vertex-to-triangle lists this stands for.
  for (int k = 0; k < fanCount_; ++k) fan_[k] = tris[fanCount_ - 1 - k];
  return true;
}

void CountDecimation::KeepTrial(int v, int count) {
  keptCount_[v] = static_cast<signed char>(count <= kKept ? count : -1);
  if (count > kKept) return;
  keptAt_[v] = clock_;
  int32_t* kept = keptTri_ + (long)kKept * 3 * v;
  for (int k = 0; k < count; ++k)
    for (int c = 0; c < 3; ++c) kept[3 * k + c] = trial_[k].v[c];
}

// Whether the trial triangulation kept for v (its fan in fan_) is what removing v gives now: 1
// it is, 0 v cannot be removed now, -1 none is kept (or memory ran out). Every removal that
// changed v's fan re-costed v after it, so fan, ring and triangulation are those of the trial;
// only the test for an edge between ring vertices that are not ring neighbours reads further,
// the triangles around the ring vertices, and needs doing again when one of those changed.
int CountDecimation::TrialStillHolds(int v) {
  if (keptCount_[v] < 1 || changedAt_[v] > keptAt_[v]) return -1;
  bool ringChanged = false;
  for (int l = 0; l < fanCount_ && !ringChanged; ++l)
    for (int32_t w : m_->tri[fan_[l]].v) ringChanged = ringChanged || changedAt_[w] > keptAt_[v];
  if (!ringChanged) return 1;
  TrackingScope scope;
  int32_t ringStack[kStackRoom + 1];
  int32_t* ring = Room(ringStack, kStackRoom + 1, fanCount_ + 1L);
  const int n = ring ? FanRing(m_, v, fan_, fanCount_, ring) : 0;
  if (n < 3) return -1;
  return EdgeAcross(m_, ring, n, nullptr, &rows_) ? 0 : 1;
}

double CountDecimation::FindDistSqToClosestNbor(int v) const {
  double least = kNoValue;
  const int32_t* w;
  const int count = neighbours_.Get(v, &w);
  for (int k = 0; k < count; ++k) least = std::min(least, Dist2(m_, v, w[k]));
  return least;
}

double CountDecimation::FindSharpestAngleAtVert(int v) const {
  double least = 1;
  const int32_t* t;
  const int n = triangles_.Get(v, &t);
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b) least = std::min(least, Dot(m_->tri[t[a]].plane, m_->tri[t[b]].plane));
  return n < 2 ? 0.0 : 1 - least;
}

void CountDecimation::BoundTrial(int count) {
  for (int k = 0; k < count; ++k) {
    double* corner = trialXyz_ + 9 * k;
    TrianglePoints(m_, trial_[k], corner, corner + 3, corner + 6);
    double* ball = trialBall_ + 4 * k;
    for (int i = 0; i < 3; ++i) ball[i] = (corner[i] + corner[3 + i] + corner[6 + i]) / 3;
    ball[3] = 0;
    for (int j = 0; j < 3; ++j) ball[3] = std::max(ball[3], Distance(corner + 3 * j, ball));
  }
}

// The squared distance of a point from the nearest trial triangle (the first on ties).
// With a floor, the search stops at the first triangle nearer than it: the caller only needs to
// know the point cannot raise a maximum it already has.
// The triangle whose sphere's centre is nearest is measured first (any order gives the same
// answer), then the others in order, each only when its sphere does not keep it farther than
// the best so far. The sphere's bound is lowered by a millionth of the distances, far more than
// the round-off of either distance, so a triangle passed over could never have been the nearest
// or tied with it: the answer is the one of measuring every triangle in order.
double CountDecimation::NearestSq(int point, int newCount, int* which, double floor) const {
  double p[3], best = kNoValue, gapStack[kStackRoom];
  GetCldPoint(m_, point, p);
  // The centres' squared distances need no root; a sphere's gap is taken only once the search
  // gets past the first triangle, which with a floor is seldom.
  double* gap = newCount <= kStackRoom ? gapStack : nullptr;
  int first = 0;
  for (int k = 0; gap && k < newCount; ++k) {
    const double* ball = trialBall_ + 4 * k;
    const double d[3] = {p[0] - ball[0], p[1] - ball[1], p[2] - ball[2]};
    gap[k] = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (gap[k] < gap[first]) first = k;
  }
  *which = 0;  // also when no triangle comes nearer than the start value
  bool found = false;
  for (int i = -1; i < newCount && best >= floor; ++i) {
    const int k = i < 0 ? first : i;
    if (i >= 0 && k == first) continue;
    if (i >= 0 && gap) {
      const double centre = std::sqrt(gap[k]), radius = trialBall_[4 * k + 3];
      const double g = centre - radius - 1e-6 * (centre + radius);
      if (g > 0 && g * g > best) continue;
    }
    const double* corner = trialXyz_ + 9 * k;
    double foot[3], d2, s, t;
    TriangPntMinDistSq(p, corner, corner + 3, corner + 6, foot, &d2, &s, &t);
    if (d2 < best || (found && d2 == best && k < *which)) best = d2, *which = k, found = true;
  }
  return best;
}

double CountDecimation::FindElimDistanceOfVert(int v) {
  int count = 0;
  if (!Gather(v) || fanCount_ == 0) return kNoValue;
  if (!TrialRemoval(m_, v, &count, nullptr, fanCount_, fan_, trial_, nullptr, kNoValue, &rows_, false, &exact_,
                    exactSlack_) ||
      count < 1)
    return kNoValue;
  KeepTrial(v, count);
  BoundTrial(count);
  int which;
  double worst = NearestSq(v, count, &which);
  for (int l = 0; l < fanCount_; ++l)
    for (const IndexNode* r = lists_[fan_[l]]; r; r = r->next)
      worst = std::max(worst, NearestSq(r->index, count, &which, worst));
  return worst;
}

// A removal that keeps the shape exactly (the fan flat or creased along a straight line through
// the point, and every point it leaves on the new triangles to round-off) costs nothing, so such
// points go before any that changes the shape; the others cost the weighted sum.
double CountDecimation::FindVertexRemovalParam(int v) {
  keptCount_[v] = -1;
  if (m_->isVert && !(m_->isVert[v >> 3] & (1 << (v & 7)))) return 0;
  exact_ = false;
  const double elimination = FindElimDistanceOfVert(v);
  if (exact_ && elimination <= exactSlack_ * exactSlack_) return 0;
  return wNeighbour_ * FindDistSqToClosestNbor(v) / edgeNorm_ + wAngle_ * FindSharpestAngleAtVert(v) +
         wElimination_ * elimination / elimNorm_;
}

bool CountDecimation::DeleteVertex(int v, int* newCount) {
  *newCount = 0;
  if (!Gather(v) || fanCount_ == 0) return false;
  const int holds = TrialStillHolds(v);
  if (holds == 0) return false;
  if (holds == 1) {
    *newCount = keptCount_[v];
    const int32_t* kept = keptTri_ + (long)kKept * 3 * v;
    for (int k = 0; k < *newCount; ++k) {
      for (int c = 0; c < 3; ++c) trial_[k].v[c] = kept[3 * k + c];
      MakeCldPolyPlane(m_, &trial_[k]);
    }
  } else {
    bool exact;
    if (!TrialRemoval(m_, v, newCount, nullptr, fanCount_, fan_, trial_, nullptr, kNoValue, &rows_, true, &exact,
                      exactSlack_) ||
        *newCount < 1)
      return false;
  }
  return !OverfillsAnEdge(*newCount);
}

// Whether the trial triangles would put some edge into three triangles or more with the
// triangles that stay. The ring's diagonals are new edges (a removal that would repeat one is
// refused before), but an open fan's ring closes along the chord between its ends, and that
// chord may already be an edge of two triangles beside the fan (a point on the boundary lying
// on an edge of the mesh, as where the faces of a tessellated part meet without sharing points).
bool CountDecimation::OverfillsAnEdge(int newCount) const {
  for (int k = 0; k < newCount; ++k)
    for (int c = 0; c < 3; ++c) {
      const int a = trial_[k].v[c], b = trial_[k].v[(c + 1) % 3];
      int uses = 0;
      for (int j = 0; j < newCount; ++j) uses += TriangleHas(trial_[j], a, b);
      const int32_t* t;
      for (int i = triangles_.Get(a, &t) - 1; i >= 0; --i)
        if (std::find(fan_, fan_ + fanCount_, t[i]) == fan_ + fanCount_ && TriangleHas(m_->tri[t[i]], a, b)) ++uses;
      if (uses > 2) return true;
    }
  return false;
}

// Room for `needed` triangles in the mesh's array and the per-triangle arrays.
bool CountDecimation::Grow(int needed) {
  if (needed < room_) return true;
  const int room = std::max({room_ + 20, 2 * room_, needed + 1});
  if (!ReallocCldPolyList(m_, room)) return false;
  auto* flags = ReallocArray(triFlags_, room);
  if (!flags) return false;
  triFlags_ = flags;
  auto* lists = ReallocArray(lists_, room);
  if (!lists) return false;
  lists_ = lists;
  for (int t = room_; t < room; ++t) lists_[t] = nullptr;
  room_ = room;
  return true;
}

// v and the points over its fan go to their nearest new triangle (numbered from ntri on).
bool CountDecimation::StoreRemovedVertices(int v, int newCount) {
  IndexNode* record = NewRecord();
  if (!record) return false;
  BoundTrial(newCount);
  int which;
  maxErrorSq_ = std::max(maxErrorSq_, NearestSq(v, newCount, &which));
  record->index = v;
  record->next = lists_[m_->ntri + which];
  lists_[m_->ntri + which] = record;
  for (int l = 0; l < fanCount_; ++l) {
    for (IndexNode* r = lists_[fan_[l]]; r;) {
      IndexNode* following = r->next;
      maxErrorSq_ = std::max(maxErrorSq_, NearestSq(r->index, newCount, &which));
      r->next = lists_[m_->ntri + which];
      lists_[m_->ntri + which] = r;
      r = following;
    }
    lists_[fan_[l]] = nullptr;
  }
  return true;
}

// A point on an open boundary goes only where the boundary keeps its shape: not at a corner
// (the boundary turning there by more than kBoundaryCorner), and only when the points its
// removal leaves over the new triangles (itself and those over its fan) lie no farther from them
// than the largest error of the removals so far. The trial triangles are in trial_.
bool CountDecimation::BoundaryMayMove(int v, int newCount) {
  const int32_t* w;
  const int degree = neighbours_.Get(v, &w);
  if (degree == fanCount_) return true;  // a closed fan
  int ends[2], nends = 0;
  for (int k = 0; k < degree; ++k) {
    int uses = 0;
    for (int l = 0; l < fanCount_; ++l) uses += PolygonHasVertex(m_, fan_[l], w[k]);
    if (uses == 1) {
      if (nends == 2) return false;
      ends[nends++] = w[k];
    }
  }
  if (nends != 2) return false;
  double p[3], a[3], b[3];
  GetCldPoint(m_, v, p);
  GetCldPoint(m_, ends[0], a);
  GetCldPoint(m_, ends[1], b);
  const double in[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]}, out[3] = {b[0] - p[0], b[1] - p[1], b[2] - p[2]};
  const double lengths = std::sqrt(VecDotProd3(in, in) * VecDotProd3(out, out));
  if (!(VecDotProd3(in, out) > std::cos(kBoundaryCorner) * lengths)) return false;
  BoundTrial(newCount);
  int which;
  const double bound = maxErrorSq_ + slackSq_;
  if (NearestSq(v, newCount, &which) > bound) return false;
  for (int l = 0; l < fanCount_; ++l)
    for (const IndexNode* r = lists_[fan_[l]]; r; r = r->next)
      if (NearestSq(r->index, newCount, &which) > bound) return false;
  return true;
}

// Pieces of the surfaces are split no finer than this share of twice the original's mean edge:
// where one runs over a corner of the other at about the distance found (one plane, a common
// crease), or a piece lies across slivers no one fan holds, the bound would need ever smaller
// pieces to settle, and there the distance runs about linearly over a piece, which its corners
// then measure. It is no coarser so that pieces the fans' bounds settle a few splits on are
// split that far, rather than standing for themselves where the distance still bends.
constexpr double kFinePiece = 1.0 / 64;

// The result's distance from the original, measured both ways (BoundDistance): a bound at most a
// hundredth above the largest distance of a point of either from the other, measured at pieces
// of a thirty-second of the original's mean edge where it cannot be settled; false when memory
// runs out.
bool CountDecimation::MeasureError(double* maxError) {
  TrackingScope scope;
  int32_t* result = MallocArray<int32_t>(std::max(live_, 1));
  if (!result) return false;
  int nresult = 0;
  for (int t = 0; t < m_->ntri; ++t)
    if (!triFlags_[t]) result[nresult++] = t;
  *maxError = 0;
  if (nresult == 0 || noriginal_ == 0) return true;
  TriangleGrid onOriginal, onResult;
  if (!onOriginal.Build(m_, original_, noriginal_) || !onResult.Build(m_, result, nresult)) return false;
  // A few pieces per triangle settle nearly every bound; the budget only caps a pathological
  // search.
  const long budget = 16L * (noriginal_ + nresult) + 100000;
  const double fine = kFinePiece * std::sqrt(edgeNorm_);
  // The original's small triangles settle quickly; what they find spares the result's big ones
  // every piece that cannot come farther.
  // The second search starts from the distance the first measured, not from its bound: started
  // from the bound, the second's share would stack on the first's.
  double back = 0, backReached = 0, forth = 0, forthReached = 0;
  if (!BoundDistance(m_, original_, noriginal_, onResult, slack_, fine, budget, 0.0, &back, &backReached) ||
      !BoundDistance(m_, result, nresult, onOriginal, slack_, fine, budget, backReached, &forth, &forthReached))
    return false;
  *maxError = std::max(back, forth);
  return true;
}

bool CountDecimation::AddEdge(int a, int b) {
  return neighbours_.Has(a, b) || (neighbours_.Add(a, b) && neighbours_.Add(b, a));
}

// Takes v out of the lists, flags its fan and appends the new triangles; noted receives v's
// neighbours.
bool CountDecimation::Replace(int v, int newCount, int* noted, int* nnoted) {
  *nnoted = 0;
  ++clock_;
  changedAt_[v] = clock_;
  const int32_t* around;
  for (int k = neighbours_.Get(v, &around) - 1; k >= 0; --k) {
    const int w = around[k];
    neighbours_.Remove(w, v);
    noted[(*nnoted)++] = w;
    changedAt_[w] = clock_;
  }
  neighbours_.Clear(v);
  for (int l = 0; l < fanCount_; ++l) {
    const int t = fan_[l];
    for (int32_t w : m_->tri[t].v)
      if (w != v) triangles_.Remove(w, t);
    triFlags_[t] = 1;
  }
  triangles_.Clear(v);
  live_ -= fanCount_;
  for (int k = 0; k < newCount; ++k) {
    const int t = m_->ntri++;
    m_->tri[t] = trial_[k];
    triFlags_[t] = 0;
    ++live_;
    for (int32_t w : trial_[k].v)
      if (!triangles_.Add(w, t)) return false;
    for (int c = 0; c < 3; ++c)
      if (!AddEdge(trial_[k].v[c], trial_[k].v[(c + 1) % 3])) return false;
  }
  return true;
}

// What costing v reads beyond its own rows (which a removal beside it has just written): its
// point and kept trial, its triangles and the lists over them, its neighbours' rows and points.
// Asked for one costing ahead, so that the waits for these scattered lines overlap the work of
// the costing before.
inline void CountDecimation::Prefetch(int v, bool removal) const {
  auto point = [&](int w) {
    __builtin_prefetch(&m_->x[w]);
    __builtin_prefetch(&m_->y[w]);
    __builtin_prefetch(&m_->z[w]);
  };
  point(v);
  __builtin_prefetch(&keptCount_[v], 1);
  __builtin_prefetch(&keptAt_[v], 1);
  __builtin_prefetch(keptTri_ + (long)kKept * 3 * v, 1);
  const int32_t* w;
  for (int k = triangles_.Get(v, &w) - 1; k >= 0; --k) {
    // A record may straddle two lines: its plane ends the second.
    __builtin_prefetch(m_->tri[w[k]].v);
    __builtin_prefetch(m_->tri[w[k]].plane + 3);
    __builtin_prefetch(&lists_[w[k]]);
  }
  for (int k = neighbours_.Get(v, &w) - 1; k >= 0; --k) {
    neighbours_.Prefetch(w[k]);
    if (removal) triangles_.Prefetch(w[k]);
    point(w[k]);
  }
}

bool CountDecimation::Setup(const double bbox[6]) {
  // A flat mesh along an axis has a zero extent: the smallest non-zero one normalises the
  // elimination term (1 when the points coincide), so no cost divides by zero.
  double least = 0;
  for (int k = 0; k < 3; ++k) {
    const double extent = bbox[k + 3] - bbox[k];
    if (extent > 0 && (least == 0 || extent < least)) least = extent;
  }
  elimNorm_ = least > 0 ? (0.01 * least) * (0.01 * least) : 1.0;
  const double diagonal = std::sqrt((bbox[3] - bbox[0]) * (bbox[3] - bbox[0]) + (bbox[4] - bbox[1]) * (bbox[4] - bbox[1]) +
                                    (bbox[5] - bbox[2]) * (bbox[5] - bbox[2]));
  const double slack = std::isfinite(diagonal) ? kBoundarySlack * diagonal : 0.0;
  slack_ = slack;
  slackSq_ = slack * slack;
  double largest = 0;
  for (int k = 0; k < 6; ++k) largest = std::max(largest, std::fabs(bbox[k]));
  exactSlack_ = std::isfinite(largest) ? std::max(slack, kFloatRounding * largest) : slack;
  // The edges of the triangles that take part: where some are left out, those of a view of the
  // mesh that has only the others, in their order.
  Cloud taking = *m_;
  if (live_ < m_->ntri) {
    taking.tri = MallocArray<CloudTriangle>(live_);
    if (!taking.tri) return false;
    taking.ntri = 0;
    for (int t = 0; t < m_->ntri; ++t)
      if (!triFlags_[t]) taking.tri[taking.ntri++] = m_->tri[t];
  }
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(&taking, edges.receive(), corners.receive(), &nedges)) return false;
  // An edge to a point that is not finite has no length: counted, it would leave a fixed unit
  // blind to the mesh's size to weigh the costs and space the error's samples.
  double sum = 0;
  int measured = 0;
  for (int e = 0; e < nedges; ++e) {
    const double d2 = Dist2(m_, edges[2 * e], edges[2 * e + 1]);
    if (std::isfinite(d2)) sum += d2, ++measured;
  }
  edgeNorm_ = measured > 0 && sum > 0 ? sum / measured : 1.0;
  const int n = m_->npts;
  lists_ = CallocArray<IndexNode*>(room_);
  auto* keys = MallocArray<double>(n);
  auto* costs = MallocArray<double>(n);
  auto* ids = MallocArray<int>(n);
  keptCount_ = MallocArray<signed char>(n);
  keptTri_ = MallocArray<int32_t>(n, 3 * kKept);
  keptAt_ = MallocArray<int>(n);
  changedAt_ = CallocArray<int>(n);
  if (!lists_ || !keys || !costs || !ids ||
      !keptCount_ || !keptTri_ || !keptAt_ || !changedAt_)
    return false;
  if (!neighbours_.Init(n) || !triangles_.Init(n)) return false;
  for (int e = 0; e < nedges; ++e)
    if (!neighbours_.Add(edges[2 * e], edges[2 * e + 1]) || !neighbours_.Add(edges[2 * e + 1], edges[2 * e]))
      return false;
  for (int t = 0; t < m_->ntri; ++t)
    if (!triFlags_[t])
      for (int32_t w : m_->tri[t].v)
        if (!triangles_.Add(w, t)) return false;
  for (int i = 0; i < n; ++i) {
    keys[i] = costs[i] = FindVertexRemovalParam(i);
    ids[i] = i;
    if (KernelFailed()) return false;
  }
  HeapSort2FloatInt4(n, keys, ids);
  return queue_.Init(n, ids, costs);
}

// Flags the triangles left out, in one pass, and counts the others as live; false when memory
// runs out.
bool CountDecimation::FlagLeftOut() {
  room_ = m_->ntri;
  triFlags_ = MallocArray<int>(room_);
  if (!triFlags_) return false;
  live_ = FlagTrianglesLeftOut(m_, true, triFlags_);
  original_ = MallocArray<int32_t>(std::max(live_, 1));
  if (!original_) return false;
  for (int t = 0; t < m_->ntri; ++t)
    if (!triFlags_[t]) original_[noriginal_++] = t;
  return true;
}

// The appended triangles go; the mesh's own were never changed.
int CountDecimation::Fail() {
  m_->ntri = ntri0_;
  return -1;
}

int CountDecimation::Run(const double bbox[6], double* maxError) {
  *maxError = 0;
  if (m_->ntri < target_ || m_->ntri < 1) return 0;
  ntri0_ = m_->ntri;
  TrackingScope scope;
  if (!FlagLeftOut()) return Fail();
  if (live_ == 0) return 0;  // nothing to reduce: left as a mesh without triangles is
  if (!Setup(bbox)) return Fail();
  int* noted = nullptr;
  int notedRoom = 0;
  int boundaryKept = 0;  // open-boundary points left where removing them would change the boundary
  for (; queue_.Current() >= 0 && live_ > target_; queue_.Advance()) {
    const int current = queue_.Current();
    int count = 0;
    if (!DeleteVertex(current, &count)) {
      if (KernelFailed()) return Fail();
      continue;
    }
    if (!BoundaryMayMove(current, count)) {
      ++boundaryKept;
      continue;
    }
    if (!Grow(m_->ntri + count)) return Fail();
    if (!StoreRemovedVertices(current, count)) return Fail();
    const int32_t* around;
    const int degree = neighbours_.Get(current, &around);
    if (degree > notedRoom) {
      notedRoom = std::max(2 * notedRoom, degree);
      if (!(noted = MallocArray<int>(notedRoom))) return Fail();
    }
    int nnoted = 0;
    if (!Replace(current, count, noted, &nnoted)) return Fail();
    // The current point is none of them (triangles that repeat a corner are left out), so the
    // queue only ever moves points other than the one it stands on.
    if (nnoted > 0) Prefetch(noted[0], false);
    for (int i = 0; i < nnoted; ++i) {
      if (i + 1 < nnoted) Prefetch(noted[i + 1], false);
      // The point that comes next, unless a costing makes another cheaper, while the last runs.
      else if (queue_.Following() >= 0) Prefetch(queue_.Following(), true);
      const double cost = FindVertexRemovalParam(noted[i]);
      if (KernelFailed()) return Fail();
      queue_.Update(noted[i], cost);
    }
  }
  // A count the method cannot reach is not met quietly: the caller is told where it stopped and why.
  if (live_ > target_)
    InfoMessageFormat("%s %d %s %d%s\n", MSGstr("Decimation stopped at"), live_, MSGstr("triangles, above the"),
                      target_,
                      MSGstr(boundaryKept > 0 ? " asked for: the points left keep an open boundary or its corners in shape"
                                              : " asked for: no point left can be removed"));
  auto* pointFlags = MallocArray<int>(m_->npts);
  if (!pointFlags) return Fail();
  const int32_t* around;
  for (int i = 0; i < m_->npts; ++i) pointFlags[i] = neighbours_.Get(i, &around) == 0;
  if (!MeasureError(maxError)) return Fail();
  if (!DeleteCldVertsAndPolys(m_, pointFlags, triFlags_)) return -1;
  MakeCloudArbitrary(m_);
  return 0;
}

}  // namespace

int ReducePolygonsByCount(Cloud* mesh, int targetTriangles, double neighbourWeight, double eliminationWeight,
                          double angleWeight, const double bbox[6], double* maxError) {
  *maxError = 0;
  if (!mesh) return -1;
  // The error is measured against the points as they were, and the costs weigh their distances:
  // every one must be a point.
  if (!CloudPointsFinite(mesh)) return -1;
  CountDecimation run(mesh, targetTriangles, neighbourWeight, eliminationWeight, angleWeight);
  return run.Run(bbox, maxError);
}

// ---- Plane cut ------------------------------------------------------------------------------

namespace {

// One half of a plane cut: the caller's arrays and how far they are filled.
struct CutHalf {
  int32_t* triangles;
  int32_t* toMesh;
  int32_t* fromMesh;
  float* xyz;
  float* normals;
  int32_t* cut;
  int indices = 0;
  int points = 0;
  int cuts = 0;
};

class PlaneCut {
 public:
  PlaneCut(const int32_t* side, const Cloud* mesh, const int32_t* tv, const double* plane, int32_t* cache,
           const int32_t* edges, int32_t* const* corners)
      : side_(side), m_(mesh), tv_(tv), plane_(plane), cache_(cache), edges_(edges), corners_(corners) {}
  void Run(CutHalf& neg, CutHalf& pos);

 private:
  // Point v (a mesh or cut number) into the half, with its coordinates and normal; a new point
  // on the plane enters the half's cut list.
  int Add(CutHalf& h, int v, const float xyz[3], const float normal[3], bool onCut) {
    if (h.fromMesh[v] >= 0) return h.fromMesh[v];
    const int k = h.points++;
    h.fromMesh[v] = k;
    h.toMesh[k] = v;
    for (int c = 0; c < 3; ++c) h.xyz[3 * k + c] = xyz[c], h.normals[3 * k + c] = normal[c];
    if (onCut) h.cut[h.cuts++] = k;
    return k;
  }
  int AddMeshPoint(CutHalf& h, int v) {
    const float xyz[3] = {m_->x[v], m_->y[v], m_->z[v]};
    const float unknown[3] = {-1, -1, -1};
    const float normal[3] = {m_->nx ? m_->nx[v] : -1.0f, m_->ny ? m_->ny[v] : -1.0f, m_->nz ? m_->nz[v] : -1.0f};
    return Add(h, v, xyz, m_->nx ? normal : unknown, side_[v] == 0);
  }
  // The triangle a, b, c (mesh or cut numbers, already in the half) in the half, turned over when
  // flip is set so that it faces the way the triangle it came from did.
  void Emit(CutHalf& h, int a, int b, int c, bool flip) {
    int32_t* out = h.triangles + h.indices;
    out[0] = h.fromMesh[a];
    out[1] = h.fromMesh[flip ? c : b];
    out[2] = h.fromMesh[flip ? b : c];
    h.indices += 3;
  }
  void Whole(CutHalf& h, const int32_t* v) {
    for (int k = 0; k < 3; ++k) AddMeshPoint(h, v[k]);
    Emit(h, v[0], v[1], v[2], false);
  }
  int CutPoint(int t, int u, int w, CutHalf& neg, CutHalf& pos);

  const int32_t* side_;
  const Cloud* m_;
  const int32_t* tv_;
  const double* plane_;
  int32_t* cache_;
  const int32_t* edges_;
  int32_t* const* corners_;
  int made_ = 0;
};

// The cut point of edge u-w of triangle t, made once per edge. Where the edge lies within the
// plane's parallel threshold the crossing is interpolated from the ends' plane values (the
// midpoint when they are equal), so every cut edge gets its point.
int PlaneCut::CutPoint(int t, int u, int w, CutHalf& neg, CutHalf& pos) {
  const int32_t* v = tv_ + 3 * t;
  int k = 0;
  while (k < 3 && !((v[k] == u && v[(k + 1) % 3] == w) || (v[k] == w && v[(k + 1) % 3] == u))) ++k;
  const int e = static_cast<int>((corners_[3 * t + k] - edges_) / 2);
  if (cache_[e] >= 0) return cache_[e];
  double pu[3], pw[3], dir[3], x[3];
  GetCldPoint(m_, u, pu);
  GetCldPoint(m_, w, pw);
  for (int c = 0; c < 3; ++c) dir[c] = pw[c] - pu[c];
  if (PlaneLineIntersect(plane_, pu, dir, x) != 0) {
    const double fu = VecDotProd3(plane_, pu) + plane_[3], fw = VecDotProd3(plane_, pw) + plane_[3];
    const double s = fu == fw ? 0.5 : std::clamp(fu / (fu - fw), 0.0, 1.0);
    for (int c = 0; c < 3; ++c) x[c] = pu[c] + s * dir[c];
  }
  const int number = m_->npts + made_++;
  cache_[e] = number;
  const float xyz[3] = {float(x[0]), float(x[1]), float(x[2])};
  const float unknown[3] = {-1, -1, -1};
  Add(neg, number, xyz, unknown, true);
  Add(pos, number, xyz, unknown, true);
  return number;
}

void PlaneCut::Run(CutHalf& neg, CutHalf& pos) {
  for (int t = 0; t < m_->ntri; ++t) {
    const int32_t* v = tv_ + 3 * t;
    int zero = 0, plus = 0, minus = 0;
    for (int k = 0; k < 3; ++k) {
      const int s = side_[v[k]];
      zero += s == 0, plus += s > 0, minus += s < 0;
    }
    if (zero == 3) continue;
    if (minus == 0 || plus == 0) {
      Whole(plus > 0 ? pos : neg, v);
      continue;
    }
    if (zero == 1) {
      int o = 0;
      while (side_[v[o]] != 0) ++o;
      const int O = v[o], P = side_[v[(o + 1) % 3]] > 0 ? v[(o + 1) % 3] : v[(o + 2) % 3];
      const int M = P == v[(o + 1) % 3] ? v[(o + 2) % 3] : v[(o + 1) % 3];
      AddMeshPoint(neg, M);
      AddMeshPoint(pos, P);
      AddMeshPoint(neg, O);
      AddMeshPoint(pos, O);
      const int X = CutPoint(t, P, M, neg, pos);
      // Corners running O, P, M: the positive piece X, P, O runs against them, else the
      // negative piece X, M, O does.
      const bool opm = P == v[(o + 1) % 3];
      Emit(neg, X, M, O, !opm);
      Emit(pos, X, P, O, opm);
      continue;
    }
    // One corner alone on its side.
    const int lonely = plus == 1 ? 1 : -1;
    int l = 0;
    while (side_[v[l]] != lonely) ++l;
    const int L = v[l], A = v[l == 0 ? 1 : 0], B = v[l == 2 ? 1 : 2];
    CutHalf& pair = lonely > 0 ? neg : pos;
    CutHalf& alone = lonely > 0 ? pos : neg;
    AddMeshPoint(pair, A);
    AddMeshPoint(pair, B);
    const int X1 = CutPoint(t, L, A, neg, pos), X2 = CutPoint(t, L, B, neg, pos);
    AddMeshPoint(alone, L);
    // The pieces follow corners L, A, B; with L the middle corner they run the other way.
    const bool flip = l == 1;
    Emit(pair, A, B, X1, flip);
    Emit(pair, X1, B, X2, flip);
    Emit(alone, L, X1, X2, flip);
  }
}

}  // namespace

void MakeLeftAndRightClouds(const int32_t* side, const Cloud* mesh, const int32_t* triangleVertices,
                            int32_t* negTriangles, int32_t* posTriangles, int32_t* negToMesh, int32_t* posToMesh,
                            int32_t* meshToNeg, int32_t* meshToPos, float* negXyz, float* negNormals, float* posXyz,
                            float* posNormals, int* negIndexCount, int* posIndexCount, int* negPointCount,
                            int* posPointCount, int32_t* negCut, int32_t* posCut, const PlaneEq plane,
                            int32_t* edgeCache, int* negCutCount, int* posCutCount, const int32_t* edges,
                            int32_t* const* cornerEdges) {
  CutHalf neg{negTriangles, negToMesh, meshToNeg, negXyz, negNormals, negCut};
  CutHalf pos{posTriangles, posToMesh, meshToPos, posXyz, posNormals, posCut};
  PlaneCut cut(side, mesh, triangleVertices, plane, edgeCache, edges, cornerEdges);
  cut.Run(neg, pos);
  *negIndexCount += neg.indices;
  *posIndexCount += pos.indices;
  *negPointCount += neg.points;
  *posPointCount += pos.points;
  *negCutCount = neg.cuts;
  *posCutCount = pos.cuts;
}

int IntersectPolyEdge(const Cloud* mesh, const CloudTriangle* triangle, const int32_t edge[2]) {
  double V[3][3], P[2][3];
  for (int k = 0; k < 3; ++k) GetCldPoint(mesh, triangle->v[k], V[k]);
  for (int k = 0; k < 2; ++k) GetCldPoint(mesh, edge[k], P[k]);
  for (int c = 0; c < 3; ++c) {
    const double lo = std::min({V[0][c], V[1][c], V[2][c]}), hi = std::max({V[0][c], V[1][c], V[2][c]});
    if (std::max(P[0][c], P[1][c]) < lo || std::min(P[0][c], P[1][c]) > hi) return 0;
  }
  const PlaneEq plane = {triangle->plane[0], triangle->plane[1], triangle->plane[2], triangle->plane[3]};
  const double f0 = VecDotProd3(plane, P[0]) + plane[3], f1 = VecDotProd3(plane, P[1]) + plane[3];
  if (f0 * f1 >= 0) return 0;
  const double dir[3] = {P[1][0] - P[0][0], P[1][1] - P[0][1], P[1][2] - P[0][2]};
  double X[3];
  if (PlaneLineIntersect(plane, P[0], dir, X) != 0) return 1;
  // The inside test in the coordinate plane the normal is most nearly along (by magnitude: a
  // normal pointing down is as good as one pointing up).
  const double a = std::fabs(plane[0]), b = std::fabs(plane[1]), c = std::fabs(plane[2]);
  const int i = c >= a && c >= b ? 0 : (b >= a && b >= c ? 0 : 2);
  const int j = c >= a && c >= b ? 1 : (b >= a && b >= c ? 2 : 1);
  double s, t;
  const double e0i = V[0][i] - V[2][i], e0j = V[0][j] - V[2][j], e1i = V[1][i] - V[2][i], e1j = V[1][j] - V[2][j];
  if (SolveLin2(e0i, e1i, X[i] - V[2][i], e0j, e1j, X[j] - V[2][j], &s, &t) != 0) return 0;
  return s >= 0 && s <= 1 && t >= 0 && t <= 1 && s + t <= 1 ? 1 : 0;
}
