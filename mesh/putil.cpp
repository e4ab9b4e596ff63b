#include "mesh/putil.h"

#include <initializer_list>

#include "cloud/makecld.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "mesh/cldpoly.h"
#include "mesh/pgr2cld.h"

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
  if (mesh->ntri < 1) return 0;
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
