#include "mesh/pgr2cld.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <utility>

#include "bspline/nubs.h"
#include "bspline/smake.h"
#include "foundation/geometry.h"
#include "foundation/sort.h"
#include "healing/srfbndrc.h"
#include "mesh/putil.h"
#include "platform/tstubs.h"
#include "stitch/srfcont.h"

#include "cloud/makecld.h"
#include "cloud/psample.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"

void ReverseIntArray(int* array, int n) {
  for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(array[i], array[j]);
}

void SplitCloudPoly(Cloud* mesh, int t, int a, int b, int v, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                    int* nodesUsed) {
  for (int k = 0; k < 3; ++k) DeleteVertexPoly(vertexTriangleHeads, mesh->tri[t].v[k], t);
  const int added = mesh->ntri++;
  CloudTriangle& kept = mesh->tri[t];
  CloudTriangle& other = mesh->tri[added];
  other = kept;
  for (int k = 0; k < 3; ++k) {
    if (kept.v[k] == a) kept.v[k] = v;
    if (other.v[k] == b) other.v[k] = v;
  }
  for (int s : {t, added}) {
    UpdatePolyPointers(mesh, s, vertexTriangleHeads, nodeStore, nodesUsed);
    MakeCldPolyPlane(mesh, &mesh->tri[s]);
  }
}

namespace {

// Trims the triangle array to its count; a refused shrink only leaves spare room behind the
// live triangles, so it is not a failure.
void ShrinkTriangleArray(Cloud* mesh) {
  const bool failedBefore = KernelFailed();
  if (!ReallocCldPolyList(mesh, mesh->ntri) && !failedBefore) ClearKernelError();
}

// DeleteCldVertsAndPolys on a mesh whose kept triangles are known to name points.
int CompactMesh(Cloud* mesh, const int* pointFlags, const int* triangleFlags) {
  if (triangleFlags) {
    int kept = 0;
    // Nothing is copied before the first dropped triangle: a weld keeps nearly all of them.
    for (int t = 0; t < mesh->ntri; ++t)
      if (triangleFlags[t] != 1) {
        if (kept != t) mesh->tri[kept] = mesh->tri[t];
        ++kept;
      }
    if (kept < mesh->ntri) {
      mesh->ntri = kept;
      ShrinkTriangleArray(mesh);
    }
  }
  if (!pointFlags) return 1;
  const int n = mesh->npts;
  TrackingScope scope;
  auto* keep = MallocArray<char>(n);
  auto* number = MallocArray<int32_t>(n);
  if (n > 0 && (!keep || !number)) return 0;
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    keep[i] = pointFlags[i] == 0;
    number[i] = keep[i] ? kept++ : -1;
  }
  if (kept == n) return 1;
  // The sampling would renumber the triangles as well, but when memory runs out there it drops
  // them all and still reports success. Held aside they come back unchanged when the points
  // cannot be compacted, and are renumbered here in place, where nothing can fail.
  CloudTriangle* tri = mesh->tri;
  const int ntri = mesh->ntri;
  mesh->tri = nullptr;
  mesh->ntri = 0;
  const int sampled = SampleCloudBasedOnArray(mesh, keep);
  mesh->tri = tri;
  mesh->ntri = ntri;
  if (!sampled) return 0;
  int live = 0;
  for (int t = 0; t < ntri; ++t) {
    const int32_t* v = tri[t].v;
    if (number[v[0]] < 0 || number[v[1]] < 0 || number[v[2]] < 0) continue;
    if (live != t) tri[live] = tri[t];
    for (int32_t& w : tri[live].v) w = number[w];
    ++live;
  }
  mesh->ntri = live;
  if (live == 0) {
    FreeCloudPolygons(mesh);
    return 1;
  }
  if (live < ntri) ShrinkTriangleArray(mesh);
  // The IsVert bits still describe the old numbering; the normals follow the changed triangles.
  FreeAndNull(mesh->isVert);
  return mesh->nx && mesh->ny && mesh->nz ? CloudResetZeroNormsIsVerts(mesh) : CloudSetNormVerts(mesh);
}

}  // namespace

int DeleteCldVertsAndPolys(Cloud* mesh, const int* pointFlags, const int* triangleFlags) {
  // Dropping triangles reads no corner; renumbering reads those of every triangle kept.
  if (!mesh || (pointFlags && !MeshCornersNamePoints(mesh, triangleFlags))) return 0;
  return CompactMesh(mesh, pointFlags, triangleFlags);
}

// ---- Closing the tessellations of a surface group ---------------------------------------------
namespace {

// An element counts as near a point within this squared distance (model units, as the group's
// tessellations are made).
constexpr double kNearElementSq = 0.001;
// Corners of a surface loop are matched within at least this distance.
constexpr double kLeastCornerTol = 0.001;
// Look-ahead into later elements only when it is nearer by more than this (squared distance).
constexpr double kLookAheadTie = 1e-10;
// Degenerate triangles of a tessellation are repaired at this size first.
constexpr double kDegenTol = 1e-5;
// Mesh-loop lists get this many entries beyond twice their length: refinement inserts at most two
// points in each of its ten rounds.
constexpr int kLoopSlack = 24;

double Sq3(const double a[3], const double b[3]) {
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return dx * dx + dy * dy + dz * dz;
}

int Kind(const Gsrf* g, int e) { return g->els[e].crv->kind; }
// Sides 1 and 4 are travelled with decreasing parameter.
bool Backward(int kind) { return kind == 1 || kind == 4; }
double LoopStartParam(const Gsrf* g, int e) { return Backward(Kind(g, e)) ? g->els[e].t1 : g->els[e].t0; }
double LoopEndParam(const Gsrf* g, int e) { return Backward(Kind(g, e)) ? g->els[e].t0 : g->els[e].t1; }

void SetPoint(Cloud* m, int i, const double p[3]) {
  m->x[i] = float(p[0]);
  m->y[i] = float(p[1]);
  m->z[i] = float(p[2]);
}

// Appends to an element's lists, doubling their room when full. 0 when memory runs out.
int AppendToElem(int e, int v, double t, int** verts, double** params, int* counts, int* caps) {
  if (counts[e] >= caps[e]) {
    const int cap = 2 * caps[e] + 8;
    int* nv = ReallocArray(verts[e], cap);
    if (!nv) return 0;
    verts[e] = nv;
    double* np = ReallocArray(params[e], cap);
    if (!np) return 0;
    params[e] = np;
    caps[e] = cap;
  }
  verts[e][counts[e]] = v;
  params[e][counts[e]] = t;
  ++counts[e];
  return 1;
}

// A mesh being edited with its vertex-to-triangle lists: points appended and triangles split at
// them, the mesh arrays grown in the steps the caller names. The lists are rebuilt whenever the
// room of the mesh grows, so splits always find room for their nodes. Its blocks belong to the
// enclosing tracking scope.
struct MeshEdit {
  Cloud* mesh;
  int* pointCap;
  int* triCap;
  IndexNode** heads = nullptr;
  IndexNode* nodes = nullptr;
  int used = 0;
  int headRoom = 0;
  int nodeRoom = 0;

  MeshEdit(Cloud* m, int* pc, int* tc) : mesh(m), pointCap(pc), triCap(tc) {}

  // Lists over the current room: each further triangle needs at most six nodes (a split).
  int Rebuild() {
    FreeAndNull(heads);
    FreeAndNull(nodes);
    headRoom = std::max(*pointCap, mesh->npts) + 1;
    nodeRoom = 3 * mesh->ntri + 6 * std::max(0, *triCap - mesh->ntri) + 6;
    heads = MallocArray<IndexNode*>(headRoom);
    nodes = MallocArray<IndexNode>(nodeRoom);
    if (!heads || !nodes) return 0;
    std::fill(heads, heads + headRoom, nullptr);
    MakePolyPointers(mesh, heads, nodes);
    used = 3 * mesh->ntri;
    return 1;
  }
  // Room for `points` more points and `tris` more triangles; a full array grows by the step.
  int Ensure(int points, int tris, int pointStep, int triStep) {
    bool grown = false;
    if (mesh->npts + points > *pointCap) {
      const int cap = std::max(*pointCap + pointStep, mesh->npts + points);
      if (!ReallocCldXYZArrays(mesh, cap)) return 0;
      *pointCap = cap;
      grown = true;
    }
    if (mesh->ntri + tris > *triCap) {
      const int cap = std::max(*triCap + triStep, mesh->ntri + tris);
      if (!ReallocCldPolyList(mesh, cap)) return 0;
      *triCap = cap;
      grown = true;
    }
    return grown || !heads ? Rebuild() : 1;
  }
  // A new point (normal to be computed); the caller made room. The IsVert bits no longer cover
  // it: they are dropped (every point a vertex) until the normals are recomputed.
  int AddPoint(const double p[3]) {
    const int i = mesh->npts++;
    SetPoint(mesh, i, p);
    if (mesh->nx) mesh->nx[i] = mesh->ny[i] = mesh->nz[i] = -1.0f;
    if (mesh->isVert) {
      Free(mesh->isVert);
      mesh->isVert = nullptr;
    }
    if (i < headRoom) heads[i] = nullptr;
    return i;
  }
  // Splits the triangle on edge a-b at v; 0 when no triangle has the edge.
  int SplitEdge(int a, int b, int v) {
    int t = -1;
    if (!FindPolyWithOutsideVerts(mesh, heads, a, b, nullptr, &t)) return 0;
    SplitCloudPoly(mesh, t, a, b, v, heads, nodes, &used);
    return 1;
  }
};

BndrCrvCache* CacheOf(const Gsrf* g, int e, BndrCrvCache* caches) { return &caches[g->els[e].crv->id]; }

// Nearest element and the count of near ones for mesh-loop vertex v.
struct Nearest {
  int count;
  int element;
  double t;
  double d2;
};
Nearest NearestInLoop(Gsrf* g, int loop, const Cloud* mesh, int v, BndrCrvCache* caches) {
  double p[3];
  GetCldPoint(mesh, v, p);
  Nearest r{0, -1, 0.0, 0.0};
  r.count = GetClosestBndryElInLoop(g, loop, p, &r.element, &r.t, &r.d2, caches);
  return r;
}

// Edge (L[i], L[i + 1]) (cyclic) starts the walk when neither end is near two elements and both
// ends have the same nearest element.
bool IsStartEdge(Gsrf* g, int loop, const Cloud* mesh, const int* L, int len, int i, BndrCrvCache* caches) {
  const Nearest a = NearestInLoop(g, loop, mesh, L[i], caches);
  if (a.count >= 2) return false;
  const Nearest b = NearestInLoop(g, loop, mesh, L[(i + 1) % len], caches);
  return b.count < 2 && a.element == b.element;
}
int FindStartEdge(Gsrf* g, int loop, const Cloud* mesh, const int* L, int len, BndrCrvCache* caches) {
  for (int i = 0; i < len; ++i)
    if (IsStartEdge(g, loop, mesh, L, len, i, caches)) return i;
  return -1;
}

// Parameter of mesh vertex v on element e.
double ParamOn(Gsrf* g, int e, const Cloud* mesh, int v, BndrCrvCache* caches) {
  double p[3], t = 0.0, foot[3];
  GetCldPoint(mesh, v, p);
  GetClosestPointOnBndrEl(g, e, p, &t, foot, CacheOf(g, e, caches));
  return t;
}

// Neighbour's parameter at the corner it shares with e, by the kinds (start: the previous
// neighbour at e's loop-start end). 0 for a combination that names none.
int CornerParam(const Gsrf* g, int e, bool start, int nb, double* t) {
  const int ke = Kind(g, e), kn = Kind(g, nb);
  const double t0 = g->els[nb].t0, t1 = g->els[nb].t1;
  int which = -1;  // 0: t0, 1: t1
  if (start) {
    switch (ke) {
      case 0: which = 1; break;
      case 1: which = (kn == 1 || kn == 4) ? 0 : -1; break;
      case 2: which = kn == 2 ? 1 : kn == 1 ? 0 : -1; break;
      case 3: which = 1; break;
      case 4: which = kn == 4 ? 0 : kn == 3 ? 1 : -1; break;
    }
  } else {
    switch (ke) {
      case 0: which = 0; break;
      case 1: which = kn == 1 ? 1 : kn == 2 ? 0 : -1; break;
      case 2: which = 0; break;
      case 3: which = kn == 3 ? 0 : kn == 4 ? 1 : -1; break;
      case 4: which = 1; break;
    }
  }
  if (which < 0) return 0;
  *t = which ? t1 : t0;
  return 1;
}

// Position of element e in a loop order of n elements, -1 when absent.
int PositionIn(const int* order, int n, int e) {
  for (int i = 0; i < n; ++i)
    if (order[i] == e) return i;
  return -1;
}

}  // namespace

void FreeBndrCrvCache(BndrCrvCache* cache) {
  for (double** p : {&cache->x, &cache->y, &cache->z})
    if (*p) Free(*p), *p = nullptr;
}

void EvalPointOnBndrEl(Gsrf* graph, int element, double t, double point[3]) {
  const GsrfBndrEl& e = graph->els[element];
  const Bspline* s = graph->srfs[e.srfId].srf;
  switch (e.crv->kind) {
    case 0: Eval3DPointOnBsplOnSurfCoord(s, e.crv->node->item, t, 0, 0, point); break;
    case 1: Eval3DPointOnSurfCoord(s, s->umin, t, 0, 0, point); break;
    case 2: Eval3DPointOnSurfCoord(s, t, s->vmin, 0, 0, point); break;
    case 3: Eval3DPointOnSurfCoord(s, s->umax, t, 0, 0, point); break;
    default: Eval3DPointOnSurfCoord(s, t, s->vmax, 0, 0, point); break;
  }
}

int GetClosestPointOnBndrEl(Gsrf* graph, int element, const double p[3], double* t, double foot[3],
                            BndrCrvCache* cache) {
  const GsrfBndrEl& e = graph->els[element];
  Bspline* s = graph->srfs[e.srfId].srf;
  const int kind = e.crv->kind;
  Bspline* obj = kind == 0 ? e.crv->node->item : s;
  const double iso = kind == 1 ? s->umin : kind == 2 ? s->vmin : kind == 3 ? s->umax : kind == 4 ? s->vmax : 0.0;
  const int alongV = kind == 1 || kind == 3;
  const double pts[1][3] = {{p[0], p[1], p[2]}};
  double par = 0.5 * (e.t0 + e.t1), closest[1][3];
  GetClosestPointsOnCrvOnSrfArrays(pts, 1, obj, iso, alongV, &par, closest, &cache->x, &cache->y, &cache->z);
  if (par >= e.t0 && par <= e.t1) {
    *t = par;
    EvalPointOnBndrEl(graph, element, par, foot);
    return 1;
  }
  double a[3], b[3];
  EvalPointOnBndrEl(graph, element, e.t0, a);
  EvalPointOnBndrEl(graph, element, e.t1, b);
  const bool atStart = Sq3(p, a) < Sq3(p, b);
  *t = atStart ? e.t0 : e.t1;
  for (int k = 0; k < 3; ++k) foot[k] = atStart ? a[k] : b[k];
  return 0;
}

int GetClosestBndryElInLoop(Gsrf* graph, int loop, const double p[3], int* element, double* t, double* d2,
                            BndrCrvCache* caches) {
  const GsrfLoop& lp = graph->loops[loop];
  int near = 0;
  *element = -1;
  for (int e = lp.firstEl; e < lp.firstEl + lp.nEl; ++e) {
    double te = 0.0, foot[3];
    GetClosestPointOnBndrEl(graph, e, p, &te, foot, CacheOf(graph, e, caches));
    const double d = Sq3(p, foot);
    if (d < kNearElementSq) ++near;
    if (*element < 0 || d < *d2) *element = e, *t = te, *d2 = d;
  }
  return near;
}

void GetDistToNextBndrEl(Gsrf* graph, int element, const double p[3], double* d2, BndrCrvCache* cache) {
  const GsrfBndrEl& e = graph->els[element];
  const double span = e.t1 - e.t0;
  const double lo = Backward(e.crv->kind) ? e.t1 - 0.1 * span : e.t0;
  const double hi = Backward(e.crv->kind) ? e.t1 : e.t0 + 0.1 * span;
  double t = 0.0, foot[3];
  GetClosestPointOnBndrEl(graph, element, p, &t, foot, cache);
  if (t >= lo && t <= hi) {
    *d2 = Sq3(p, foot);
    return;
  }
  double a[3], b[3];
  EvalPointOnBndrEl(graph, element, lo, a);
  EvalPointOnBndrEl(graph, element, hi, b);
  *d2 = std::min(Sq3(p, a), Sq3(p, b));
}

int BndrElClosed(Gsrf* graph, int element) {
  double a[3], b[3];
  EvalPointOnBndrEl(graph, element, graph->els[element].t0, a);
  EvalPointOnBndrEl(graph, element, graph->els[element].t1, b);
  return Sq3(a, b) < graph->tol * graph->tol;
}

double GetModifiedParamValue(Gsrf* graph, int element, double t, int firstTime, double lastStored) {
  const GsrfBndrEl& e = graph->els[element];
  const double ptol = 1e-6 * (e.t1 - e.t0);
  if (!Backward(e.crv->kind)) {
    if (!firstTime && t < lastStored) return e.t1;
    if (firstTime && std::fabs(t - e.t1) < ptol) return e.t0;
  } else {
    if (!firstTime && t > lastStored) return e.t0;
    if (firstTime && std::fabs(t - e.t0) < ptol) return e.t1;
  }
  return t;
}

int FindLoopOfBndrEl(Gsrf* graph, int element, int* loop) {
  for (int l = 0; l < graph->nLoop; ++l)
    if (element >= graph->loops[l].firstEl && element < graph->loops[l].firstEl + graph->loops[l].nEl) {
      *loop = l;
      return 1;
    }
  return 0;
}

int GetLoopBndrsInOrder(Gsrf* graph, int loop, int* order) {
  const GsrfLoop& lp = graph->loops[loop];
  int n = 0;
  if (lp.trim) {
    for (int k = 0; k < lp.nEl; ++k) order[n++] = lp.firstEl + k;
  } else {
    for (int c = lp.firstCrv; c < lp.firstCrv + lp.nCrv; ++c) {
      const GsrfCrv& cv = graph->crvs[c];
      for (int k = 0; k < cv.nEl; ++k)
        order[n++] = (cv.kind == 2 || cv.kind == 3) ? cv.firstEl + k : cv.firstEl + cv.nEl - 1 - k;
    }
  }
  if (n > 0) order[n] = order[0];
  return n;
}

void ArrangeVertsInOrder(Gsrf* graph, int element, int count, double* params, int* verts) {
  if (count < 2) return;
  HeapSort2FloatInt4(count, params, verts);
  if (Backward(Kind(graph, element))) {
    ReverseDoubleArray(params, count);
    ReverseIntArray(verts, count);
  }
}

int RearrangeVertsInLoop(int start, int* list, int n) {
  if (n > 0 && start > 0 && start < n) std::rotate(list, list + start, list + n);
  return 1;
}

void ReverseDoubleArray(double* array, int n) {
  for (int i = 0, j = n - 1; i < j; ++i, --j) std::swap(array[i], array[j]);
}

namespace {

// 1. The mesh loop for graph loop `loop`: the last loop takes the one left; the others the one
// whose vertex at the same share of its length lies nearest, twice running. -1 when none.
int ChooseMeshLoop(Gsrf* graph, const GsrfSrf& sr, int loop, bool last, const int* usedLoop, int** meshLoops,
                   const int* meshLoopSizes, Cloud* mesh, BndrCrvCache* caches) {
  int chosen = -1;
  if (last) {
    for (int m = 0; m < sr.nLoop && chosen < 0; ++m)
      if (!usedLoop[m]) chosen = m;
    return chosen;
  }
  int previous = -1;
  for (double f = 0.0; f <= 1.0 && chosen < 0; f += 0.1) {
    int best = -1;
    double bestD = 0.0;
    for (int m = 0; m < sr.nLoop; ++m) {
      if (usedLoop[m] || meshLoopSizes[m] < 1) continue;
      const int pos = std::min(int(std::floor(meshLoopSizes[m] * f)), meshLoopSizes[m] - 1);
      const Nearest r = NearestInLoop(graph, loop, mesh, meshLoops[m][pos], caches);
      if (best < 0 || r.d2 < bestD) best = m, bestD = r.d2;
    }
    if (best >= 0 && best == previous) chosen = best;
    previous = best;
  }
  return chosen;
}

// 2, 3. The start edge of mesh loop L, splitting edges into halves along it until one
// qualifies. -1 when none does or the mesh cannot grow.
int FindOrMakeStartEdge(Gsrf* graph, int loop, Cloud* mesh, int* L, int& len, int nEl, MeshEdit& ed,
                        BndrCrvCache* caches) {
  int start = FindStartEdge(graph, loop, mesh, L, len, caches);
  int prevP = -1;
  for (double f = 0.0; f < 1.0 && start < 0; f += 0.1) {
    const int p = std::max(std::min(int(std::floor(len * f)), len - 1), prevP + 1);
    if (p >= len - 1) return -1;
    prevP = p;
    if (!ed.Ensure(2, 2, 2 * nEl, 4 * nEl)) return -1;
    for (int q = p; q < p + 2; ++q) {
      double a[3], b[3], m[3];
      GetCldPoint(mesh, L[q], a);
      GetCldPoint(mesh, L[q + 1], b);
      for (int k = 0; k < 3; ++k) m[k] = 0.5 * (a[k] + b[k]);
      const int v = ed.AddPoint(m);
      const int va = L[q], vb = L[q + 1];
      InsertPtInArray(v, L, q, len);
      ++len;
      if (!ed.SplitEdge(va, vb, v)) return -1;
    }
    if (IsStartEdge(graph, loop, mesh, L, len, p, caches)) start = p;
    else if (IsStartEdge(graph, loop, mesh, L, len, p + 1, caches)) start = p + 1;
  }
  return start;
}

// 4. Whether mesh loop L runs against the travel direction of element E, its start edge's.
bool LoopRunsBackward(Gsrf* graph, int E, Cloud* mesh, const int* L, int len, int start, BndrCrvCache* caches) {
  const int kind = Kind(graph, E);
  auto runsBack = [&](int i) {
    return ParamOn(graph, E, mesh, L[(i + 1) % len], caches) < ParamOn(graph, E, mesh, L[i], caches);
  };
  if (Backward(kind))
    return ParamOn(graph, E, mesh, L[(start + 1) % len], caches) > ParamOn(graph, E, mesh, L[start], caches);
  if (kind != 0 || !BndrElClosed(graph, E)) return runsBack(start);
  // A closed trim curve: the start edge may straddle its seam; the first answer that repeats on
  // the next edge is the loop's sense.
  bool before = runsBack(start), reverse = before;
  for (int k = 1; k < len; ++k) {
    const bool now = runsBack((start + k) % len);
    reverse = now;
    if (now == before) break;
    before = now;
  }
  return reverse;
}

// 6. The walk along the oriented loop from element order[firstPos]: each vertex goes to the
// current element, or to the next (or, looking ahead, a later one) when that lies nearer.
bool WalkLoop(Gsrf* graph, Cloud* mesh, const int* L, int len, const int* order, int n, int firstPos,
              int** elemVerts, int* elemCounts, int* elemCapacities, double** elemParams, BndrCrvCache* caches) {
  int c = firstPos;
  bool away = false;
  for (int i = 0; i < len; ++i) {
    double p[3];
    GetCldPoint(mesh, L[i], p);
    double tc = 0.0, tn = 0.0, foot[3];
    const int ec = order[c], en = order[(c + 1) % n];
    GetClosestPointOnBndrEl(graph, ec, p, &tc, foot, CacheOf(graph, ec, caches));
    const double dc = Sq3(p, foot);
    GetClosestPointOnBndrEl(graph, en, p, &tn, foot, CacheOf(graph, en, caches));
    const double dn = Sq3(p, foot);
    int win = c;
    double bt = tc;
    if (dn <= dc) {
      win = (c + 1) % n;
      bt = tn;
      double best = dn, dNext = 0.0;
      int k = 2;
      GetDistToNextBndrEl(graph, order[(c + k) % n], p, &dNext, CacheOf(graph, order[(c + k) % n], caches));
      while (dNext < best - kLookAheadTie) {
        if (k >= n) return false;
        const int ek = order[(c + k) % n];
        double tk = 0.0;
        GetClosestPointOnBndrEl(graph, ek, p, &tk, foot, CacheOf(graph, ek, caches));
        const double dk = Sq3(p, foot);
        if (dk < best) best = dk, win = (c + k) % n, bt = tk;
        const int after = order[(c + k + 1) % n];
        GetDistToNextBndrEl(graph, after, p, &dNext, CacheOf(graph, after, caches));
        ++k;
      }
    }
    const bool returned = win == firstPos && c != firstPos;
    if (win != firstPos) away = true;
    c = win;
    const int e = order[c];
    if (BndrElClosed(graph, e)) {
      const bool first = elemCounts[e] == 0 || (returned && away);
      bt = GetModifiedParamValue(graph, e, bt, first, elemCounts[e] ? elemParams[e][elemCounts[e] - 1] : bt);
    }
    if (!AppendToElem(e, L[i], bt, elemVerts, elemParams, elemCounts, elemCapacities)) return false;
  }
  return true;
}

// 7. Elements of the last loop (in `order`, n of them) that no vertex reached get one at their
// middle, splitting the mesh edge between their neighbours' vertices.
bool AddMiddleVertices(Gsrf* graph, const int* order, int n, MeshEdit& ed, int** elemVerts, int* elemCounts,
                       int* elemCapacities, double** elemParams) {
  for (int pos = 0; pos < n; ++pos) {
    const int e = order[pos];
    const GsrfBndrEl& el = graph->els[e];
    if (elemCounts[e] > 0 || el.t0 == el.t1) continue;
    int before = -1, after = -1;
    for (int k = 1; k < n && before < 0; ++k)
      if (elemCounts[order[(pos - k + n) % n]] > 0) before = order[(pos - k + n) % n];
    for (int k = 1; k < n && after < 0; ++k)
      if (elemCounts[order[(pos + k) % n]] > 0) after = order[(pos + k) % n];
    if (before < 0 || after < 0) return false;
    if (!ed.Ensure(1, 1, 20, 50)) return false;
    double m[3];
    const double t = 0.5 * (el.t0 + el.t1);
    EvalPointOnBndrEl(graph, e, t, m);
    const int v = ed.AddPoint(m);
    if (!AppendToElem(e, v, t, elemVerts, elemParams, elemCounts, elemCapacities)) return false;
    ArrangeVertsInOrder(graph, before, elemCounts[before], elemParams[before], elemVerts[before]);
    ArrangeVertsInOrder(graph, after, elemCounts[after], elemParams[after], elemVerts[after]);
    if (!ed.SplitEdge(elemVerts[before][elemCounts[before] - 1], elemVerts[after][0], v)) return false;
  }
  return true;
}

}  // namespace

// Method: for each graph loop pick the mesh loop whose sampled vertices lie nearest it, find an
// edge whose ends both lie near one element only (splitting an edge into quarters until one does),
// orient the mesh loop along the travel direction, rotate it to start there and walk it, moving
// the current element on when the next one (or, looking ahead, a later one) is nearer.
int MapOuterVertsToBndrEl(Gsrf* graph, int** meshLoops, int** elemVerts, int* elemCounts, int* elemCapacities,
                          double** elemParams, int surface, int* meshLoopSizes, Cloud* mesh, int* pointCapacity,
                          int* triangleCapacity) {
  const GsrfSrf& sr = graph->srfs[surface];
  if (sr.nLoop == 1 && sr.nEl < 4 && !graph->loops[sr.firstLoop].trim) return 0;
  TrackingScope scope;
  MeshEdit ed(mesh, pointCapacity, triangleCapacity);
  int* usedLoop = MallocArray<int>(sr.nLoop);
  int* order = MallocArray<int>(sr.nEl + 1);
  BndrCrvCache* caches = MallocArray<BndrCrvCache>(graph->nCrv);
  if (!usedLoop || !order || !caches || !ed.Rebuild()) return 0;
  std::fill(usedLoop, usedLoop + sr.nLoop, 0);
  int lastOrderCount = 0;
  for (int li = 0; li < sr.nLoop; ++li) {
    const int loop = sr.firstLoop + li;
    const int n = GetLoopBndrsInOrder(graph, loop, order);
    lastOrderCount = n;
    if (n < 1) return 0;
    // The caches are blocks of this scope: freed at the end of the loop, or with the scope.
    std::fill(caches, caches + graph->nCrv, BndrCrvCache{nullptr, nullptr, nullptr});
    const int chosen =
        ChooseMeshLoop(graph, sr, loop, li == sr.nLoop - 1, usedLoop, meshLoops, meshLoopSizes, mesh, caches);
    if (chosen < 0 || meshLoopSizes[chosen] < 2) return 0;
    usedLoop[chosen] = 1;
    int* L = meshLoops[chosen];
    int& len = meshLoopSizes[chosen];
    int start = FindOrMakeStartEdge(graph, loop, mesh, L, len, n, ed, caches);
    if (start < 0) return 0;
    const int E = NearestInLoop(graph, loop, mesh, L[start], caches).element;
    if (LoopRunsBackward(graph, E, mesh, L, len, start, caches)) ReverseIntArray(L, len);
    // 5. Start again on the oriented list.
    start = FindStartEdge(graph, loop, mesh, L, len, caches);
    if (start < 0) return 0;
    RearrangeVertsInLoop(start, L, len);
    if (!WalkLoop(graph, mesh, L, len, order, n, PositionIn(order, n, E), elemVerts, elemCounts, elemCapacities,
                  elemParams, caches))
      return 0;
    for (int k = 0; k < graph->nCrv; ++k) FreeBndrCrvCache(&caches[k]);
  }
  return AddMiddleVertices(graph, order, lastOrderCount, ed, elemVerts, elemCounts, elemCapacities, elemParams)
             ? 1
             : 0;
}

int CloseAllLoops(Gsrf* graph, Cloud* mesh, int surface, int** elemVerts, double** elemParams, int* elemCounts,
                  int* elemCapacities, int* triangleCapacity, int* pointCapacity) {
  const GsrfSrf& sr = graph->srfs[surface];
  const double tol = std::max(graph->tol, kLeastCornerTol);
  TrackingScope scope;
  MeshEdit ed(mesh, pointCapacity, triangleCapacity);
  int* order = MallocArray<int>(sr.nEl + 1);
  if (!order || !ed.Rebuild()) return 0;
  auto arrange = [&](int e) { ArrangeVertsInOrder(graph, e, elemCounts[e], elemParams[e], elemVerts[e]); };
  auto lists = [&](int e, int v) { return IntInArray(v, elemVerts[e], elemCounts[e], nullptr); };
  for (int l = sr.firstLoop; l < sr.firstLoop + sr.nLoop; ++l) {
    const int n = GetLoopBndrsInOrder(graph, l, order);
    for (int p = 0; p < n; ++p) arrange(order[p]);
    for (int p = 0; p < n; ++p) {
      const int e = order[p];
      if (elemCounts[e] < 1) continue;
      const int ends[2] = {elemVerts[e][0], elemVerts[e][elemCounts[e] - 1]};
      for (int side = 0; side < 2; ++side) {
        const bool start = side == 0;
        const int nb = order[start ? (p - 1 + n) % n : (p + 1) % n];
        double tn = 0.0;
        if (!CornerParam(graph, e, start, nb, &tn)) continue;  // no corner parameter: left alone
        const double te = start ? LoopStartParam(graph, e) : LoopEndParam(graph, e);
        double C[3], V[3];
        EvalPointOnBndrEl(graph, e, te, C);
        const int v = ends[side];
        GetCldPoint(mesh, v, V);
        if (Sq3(C, V) < tol * tol) {
          if (!lists(nb, v)) {
            if (!AppendToElem(nb, v, tn, elemVerts, elemParams, elemCounts, elemCapacities)) return 0;
            arrange(nb);
          }
          continue;
        }
        if (elemCounts[nb] < 1) continue;
        const int w = start ? elemVerts[nb][elemCounts[nb] - 1] : elemVerts[nb][0];
        double W[3];
        GetCldPoint(mesh, w, W);
        if (Sq3(C, W) < tol * tol) {
          if (!lists(e, w)) {
            if (!AppendToElem(e, w, te, elemVerts, elemParams, elemCounts, elemCapacities)) return 0;
            arrange(e);
          }
          continue;
        }
        int t = -1;
        if (!FindPolyWithOutsideVerts(mesh, ed.heads, v, w, nullptr, &t)) continue;
        if (!ed.Ensure(1, 1, 20, 20)) return 0;
        const int c = ed.AddPoint(C);
        if (!AppendToElem(nb, c, tn, elemVerts, elemParams, elemCounts, elemCapacities) ||
            !AppendToElem(e, c, te, elemVerts, elemParams, elemCounts, elemCapacities))
          return 0;
        arrange(nb);
        arrange(e);
        ed.SplitEdge(v, w, c);
      }
    }
  }
  return 1;
}

int MapVertexEyeToPolyline(const float* xA, const float* yA, const float* zA, int nA, const float* xB,
                           const float* yB, const float* zB, int nB, int* orderA, int* orderB) {
  if (nA < 2 || nB < 2 || !xA || !yA || !zA || !xB || !yB || !zB || !orderA || !orderB) return 0;
  TrackingScope scope;
  double(*M)[3] = MallocArray<double[3]>(nA + nB);
  struct Proj {
    int seg;
    double along;
    int isB;
    int idx;
  };
  Proj* proj = MallocArray<Proj>(nA + nB);
  if (!M || !proj) return 0;
  auto A = [&](int i, double p[3]) { p[0] = xA[i], p[1] = yA[i], p[2] = zA[i]; };
  auto B = [&](int j, double p[3]) { p[0] = xB[j], p[1] = yB[j], p[2] = zB[j]; };
  auto mid = [&](const double a[3], const double b[3], double out[3]) {
    for (int k = 0; k < 3; ++k) out[k] = 0.5 * (a[k] + b[k]);
  };
  // 1. The middle polyline, advancing on the side whose step keeps the two chains closer.
  double a[3], b[3], a1[3], b1[3];
  int m = 0, i = 0, j = 0;
  A(0, a), B(0, b), mid(a, b, M[m++]);
  while (i < nA - 1 && j < nB - 1) {
    A(i, a), A(i + 1, a1), B(j, b), B(j + 1, b1);
    if (std::sqrt(Sq3(b, a1)) > std::sqrt(Sq3(a, b1))) {
      mid(a, b1, M[m++]);
      ++j;
    } else {
      mid(a1, b, M[m++]);
      ++i;
    }
  }
  A(nA - 1, a), B(nB - 1, b), mid(a, b, M[m++]);
  // 2. Projections of the interior vertices: nearest segment (the first on a tie).
  int np = 0;
  for (int side = 0; side < 2; ++side) {
    const int n = side ? nB : nA;
    for (int k = 1; k < n - 1; ++k) {
      double p[3];
      side ? B(k, p) : A(k, p);
      Proj best{0, 0.0, side, k};
      double bestD = -1.0;
      for (int s = 0; s + 1 < m; ++s) {
        double foot[3], d2 = 0.0, t = 0.0;
        LineSegPntMinSqDistParam(p, M[s], M[s + 1], foot, &d2, &t);
        if (bestD < 0.0 || d2 < bestD) bestD = d2, best.seg = s, best.along = std::sqrt(Sq3(foot, M[s]));
      }
      proj[np++] = best;
    }
  }
  // 3. Ranks in projection order; a B vertex first where projections coincide.
  std::sort(proj, proj + np, [](const Proj& p, const Proj& q) {
    if (p.seg != q.seg) return p.seg < q.seg;
    if (p.along != q.along) return p.along < q.along;
    if (p.isB != q.isB) return p.isB > q.isB;
    return p.idx < q.idx;
  });
  orderA[0] = orderB[0] = 0;
  orderA[nA - 1] = orderB[nB - 1] = nA + nB - 3;
  for (int k = 0; k < np; ++k) (proj[k].isB ? orderB : orderA)[proj[k].idx] = k + 1;
  return 1;
}

int CloseOneVertexBndr(Cloud* mesh, const int* list, const int* order, int n, Cloud* otherMesh,
                       const int* otherList, const int* otherOrder, int otherN, double mergeTol, int* pointCapacity,
                       int* triangleCapacity) {
  // The walk indexes both meshes by the chains' vertices and by their triangles' corners.
  auto chainNamesPoints = [](const Cloud* m, const int* chain, int count) {
    if (count < 1 || !chain || !MeshCornersNamePoints(m, nullptr)) return false;
    for (int i = 0; i < count; ++i)
      if (chain[i] < 0 || chain[i] >= m->npts) return false;
    return true;
  };
  if (!order || !otherOrder || !chainNamesPoints(mesh, list, n) || !chainNamesPoints(otherMesh, otherList, otherN))
    return 0;
  TrackingScope scope;
  MeshEdit ed(mesh, pointCapacity, triangleCapacity);
  if (!ed.Rebuild()) return 0;
  const double m = mergeTol * mergeTol;
  int i = 1, j = 1, k = 1;
  int prev = list[0], prevOther = otherList[0];
  double P[3], Q[3], PO[3];
  // Both meshes move to the midpoint of a merged pair.
  auto merge = [&](int p, int q) {
    double mid[3];
    for (int c = 0; c < 3; ++c) mid[c] = 0.5 * (P[c] + Q[c]);
    SetPoint(mesh, p, mid);
    SetPoint(otherMesh, q, mid);
  };
  // P is merged with Q only when it lies nearer Q than the other side's previous vertex.
  auto mergeable = [&]() { return Sq3(P, Q) < m && Sq3(P, PO) > Sq3(P, Q); };
  while (j < otherN - 1 && i < n) {
    const int p = list[i], q = otherList[j];
    GetCldPoint(mesh, p, P);
    GetCldPoint(otherMesh, q, Q);
    GetCldPoint(otherMesh, prevOther, PO);
    if (order[i] == k) {
      if (!(i + 1 < n && order[i + 1] == k + 1) && mergeable()) {
        merge(p, q);
        prevOther = q;
        ++j, ++k;
      }
      ++i, ++k;
      prev = p;
    } else if (otherOrder[j] == k) {
      if (otherOrder[j] == order[i] - 1 && mergeable()) {
        merge(p, q);
        ++i, ++j, k += 2;
        prev = p;
        prevOther = q;
      } else {
        if (!ed.Ensure(1, 1, otherN, 20)) return 0;
        const int c = ed.AddPoint(Q);
        ed.SplitEdge(prev, p, c);  // no triangle on prev-P: the copy stays alone
        prev = c;
        prevOther = q;
        ++j, ++k;
      }
    } else {
      // Ranks out of list order (a chain folding back on the seam): resume at the lower rank.
      k = std::min(order[i], otherOrder[j]);
    }
  }
  return 1;
}

int CloseVertexEye(Cloud* meshA, Cloud* meshB, int* listA, int* listB, int nA, int nB, const int* orderA,
                   const int* orderB, int* pointCapacityA, int* triangleCapacityA, int* pointCapacityB,
                   int* triangleCapacityB, double mergeTol) {
  return CloseOneVertexBndr(meshA, listA, orderA, nA, meshB, listB, orderB, nB, mergeTol, pointCapacityA,
                            triangleCapacityA) &&
         CloseOneVertexBndr(meshB, listB, orderB, nB, meshA, listA, orderA, nA, mergeTol, pointCapacityB,
                            triangleCapacityB);
}

int JoinStartAndEndOfBndrEl(Gsrf* graph, int** elemVerts, const int* elemCounts, Cloud** objects, double tol) {
  TrackingScope scope;
  const int nEl = graph->nEl;
  int* order = MallocArray<int>(nEl + 1);
  int* otherOrder = MallocArray<int>(nEl + 1);
  // Cluster members: element and end (0 first vertex, 1 last); an element joins at most once.
  int* memEl = MallocArray<int>(nEl);
  int* memEnd = MallocArray<int>(nEl);
  if (!order || !otherOrder || !memEl || !memEnd) return 0;
  auto endVert = [&](int e, int end) { return elemVerts[e][end ? elemCounts[e] - 1 : 0]; };
  auto meshOf = [&](int e) { return objects[graph->els[e].srfId]; };
  for (int l = 0; l < graph->nLoop; ++l) {
    const int n = GetLoopBndrsInOrder(graph, l, order);
    for (int p = 0; p < n; ++p) {
      const int e = order[p];
      if (elemCounts[e] < 2 || !meshOf(e)) continue;
      for (int end = 0; end < 2; ++end) {
        if (endVert(e, end) < 0) continue;  // done
        int nm = 0;
        auto isMember = [&](int x) {
          for (int k = 0; k < nm; ++k)
            if (memEl[k] == x) return true;
          return false;
        };
        // The loop neighbour (next, else previous) of member x ending at its vertex v; false when
        // neither ends there.
        auto addLoopNeighbour = [&](const int* ord, int cnt, int pos, int v) {
          const int nx = ord[(pos + 1) % cnt], pv = ord[(pos - 1 + cnt) % cnt];
          for (int cand : {nx, pv}) {
            if (elemCounts[cand] < 2) continue;
            for (int ce = 0; ce < 2; ++ce)
              if (endVert(cand, ce) == v) {
                if (!isMember(cand)) memEl[nm] = cand, memEnd[nm++] = ce;
                return true;
              }
          }
          return false;
        };
        memEl[nm] = e, memEnd[nm++] = end;
        bool ok = addLoopNeighbour(order, n, p, endVert(e, end));
        for (int k = 0; ok && k < nm; ++k) {
          const GsrfBndrEl* partner = graph->els[memEl[k]].partner;
          if (!partner) continue;
          const int pe = partner->id;
          if (elemCounts[pe] < 2 || isMember(pe) || !meshOf(pe)) continue;
          const bool sameWay = graph->els[memEl[k]].orient != 0;
          const int pend = (memEnd[k] == 0) == sameWay ? 0 : 1;
          memEl[nm] = pe, memEnd[nm++] = pend;
          int pl = 0;
          if (!FindLoopOfBndrEl(graph, pe, &pl)) {
            ok = false;
            break;
          }
          const int cnt = GetLoopBndrsInOrder(graph, pl, otherOrder);
          ok = addLoopNeighbour(otherOrder, cnt, PositionIn(otherOrder, cnt, pe), endVert(pe, pend));
        }
        if (!ok) continue;
        bool done = false;
        for (int k = 0; k < nm && !done; ++k) done = endVert(memEl[k], memEnd[k]) < 0;
        if (done) continue;
        double mean[3] = {0.0, 0.0, 0.0};
        for (int k = 0; k < nm; ++k) {
          double q[3];
          GetCldPoint(meshOf(memEl[k]), endVert(memEl[k], memEnd[k]), q);
          for (int c = 0; c < 3; ++c) mean[c] += q[c] / nm;
        }
        bool within = true;
        for (int k = 0; k < nm; ++k) {
          double q[3];
          GetCldPoint(meshOf(memEl[k]), endVert(memEl[k], memEnd[k]), q);
          within = within && Sq3(q, mean) <= tol * tol;
        }
        // Positions first, marks after: a vertex shared by two members is read before either mark.
        if (within)
          for (int k = 0; k < nm; ++k) SetPoint(meshOf(memEl[k]), endVert(memEl[k], memEnd[k]), mean);
        for (int k = 0; k < nm; ++k) elemVerts[memEl[k]][memEnd[k] ? elemCounts[memEl[k]] - 1 : 0] = -1;
      }
    }
  }
  return 1;
}

// The vertex lists of a mesh's boundary loops (room for twice the length plus kLoopSlack), from
// the loops' edge lists: the first edge's ends, then each edge's end that is not the current last
// vertex, the closing repeat dropped. Blocks of the caller's scope; 1, or 0 on no memory.
static int MeshLoopLists(const Cloud* mesh, int*** loops, int** sizes, int* nloops) {
  // The edge table and loop lists are handed back untracked: their owners free them.
  Owned<int32_t, Free> edgeTable;
  Owned<int32_t*, Free> corners;
  Owned<IndexNode*, Free> heads;
  Owned<int, Free> loopSizes;
  Owned<IndexNode, Free> nodes;
  int nedges = 0;
  *nloops = 0;
  if (!CreatePolyEdges(mesh, edgeTable.receive(), corners.receive(), &nedges)) return 0;
  MakeOuterEdgeList(mesh, edgeTable.get(), corners.get(), nedges, heads.receive(), nloops, loopSizes.receive(),
                    nodes.receive());
  if (KernelFailed()) return 0;
  const int32_t* edges = edgeTable.get();
  *loops = MallocArray<int*>(*nloops + 1);
  *sizes = MallocArray<int>(*nloops + 1);
  if (!*loops || !*sizes) return 0;
  for (int l = 0; l < *nloops; ++l) {
    int* L = (*loops)[l] = MallocArray<int>(2 * loopSizes[l] + kLoopSlack);
    if (!L) return 0;
    int len = 0;
    const IndexNode* node = heads[l];
    if (node) {
      const int32_t* e0 = edges + 2 * node->index;
      L[len++] = e0[0];
      L[len++] = e0[1];
      // The walk may hand the first edge either way round: start so the second edge meets its end.
      if (node->next) {
        const int32_t* e1 = edges + 2 * node->next->index;
        if (e1[0] != e0[1] && e1[1] != e0[1]) std::swap(L[0], L[1]);
      }
      for (node = node->next; node; node = node->next) {
        const int32_t* ek = edges + 2 * node->index;
        const int last = L[len - 1];
        L[len++] = ek[0] == last ? ek[1] : ek[0];
      }
      if (len > 2 && L[len - 1] == L[0]) --len;  // the closing repeat
    }
    (*sizes)[l] = len;
  }
  return 1;
}

int CloseCloudGroup(Gsrf* graph, Cloud** objects, double tol) {
  if (!graph || !objects || graph->nSrf < 1) return 0;
  for (int s = 0; s < graph->nSrf; ++s)
    if (objects[s] && !MeshCornersNamePoints(objects[s], nullptr)) return 0;
  TrackingScope scope;
  const int nEl = graph->nEl, nSrf = graph->nSrf;
  int** elemVerts = MallocArray<int*>(nEl + 1);
  double** elemParams = MallocArray<double*>(nEl + 1);
  int* elemCounts = MallocArray<int>(nEl + 1);
  int* elemCaps = MallocArray<int>(nEl + 1);
  int* mapped = MallocArray<int>(nSrf);
  int* pointCap = MallocArray<int>(nSrf);
  int* triCap = MallocArray<int>(nSrf);
  if (!elemVerts || !elemParams || !elemCounts || !elemCaps || !mapped || !pointCap || !triCap) return 0;
  // The element lists belong to this scope from the start: the per-surface scopes below only grow
  // them, and a grown block stays in the scope it was made in.
  constexpr int kFirstRoom = 8;
  for (int e = 0; e < nEl; ++e) {
    elemCounts[e] = 0;
    elemCaps[e] = kFirstRoom;
    elemVerts[e] = MallocArray<int>(kFirstRoom);
    elemParams[e] = MallocArray<double>(kFirstRoom);
    if (!elemVerts[e] || !elemParams[e]) return 0;
  }
  // 1. Repair, and room for the edits.
  for (int s = 0; s < nSrf; ++s) {
    mapped[s] = 0;
    pointCap[s] = triCap[s] = 0;
    Cloud* mesh = objects[s];
    if (!mesh) continue;
    if (RemoveDegenCldPolys(mesh, kDegenTol, nullptr) < 0) return 0;
    pointCap[s] = mesh->npts + 20;
    triCap[s] = mesh->ntri + 20;
    if (!ReallocCldXYZArrays(mesh, pointCap[s]) || !ReallocCldPolyList(mesh, triCap[s])) return 0;
  }
  // 2. Outer vertices onto the elements.
  int thermo = 20;
  SetThermoMeterValue(thermo);
  for (int s = 0; s < nSrf; ++s) {
    if (s % 10 == 0 && user_break()) return 0;
    if (s % (nSrf / 12 + 1) == 0) SetThermoMeterValue(thermo += 5);
    Cloud* mesh = objects[s];
    if (!mesh) continue;
    TrackingScope surfaceScope;
    int** meshLoops = nullptr;
    int* meshLoopSizes = nullptr;
    int nloops = 0;
    if (!MeshLoopLists(mesh, &meshLoops, &meshLoopSizes, &nloops)) return 0;
    int longest = 0;
    for (int l = 0; l < nloops; ++l) longest = std::max(longest, meshLoopSizes[l]);
    const GsrfSrf& sr = graph->srfs[s];
    for (int e = sr.firstEl; e < sr.firstEl + sr.nEl; ++e) {
      int* v = ReallocArray(elemVerts[e], longest + 30);
      if (!v) return 0;
      elemVerts[e] = v;
      double* t = ReallocArray(elemParams[e], longest + 30);
      if (!t) return 0;
      elemParams[e] = t;
      elemCaps[e] = longest + 30;
    }
    if (sr.nLoop == nloops)
      mapped[s] = MapOuterVertsToBndrEl(graph, meshLoops, elemVerts, elemCounts, elemCaps, elemParams, s,
                                        meshLoopSizes, mesh, &pointCap[s], &triCap[s]);
    if (KernelFailed()) return 0;
  }
  // 3. Lists in travel order.
  for (int e = 0; e < nEl; ++e) ArrangeVertsInOrder(graph, e, elemCounts[e], elemParams[e], elemVerts[e]);
  // 4. Corners of every mapped surface's loops.
  for (int s = 0; s < nSrf; ++s) {
    if (s % 10 == 0 && user_break()) return 0;
    if (mapped[s] && !CloseAllLoops(graph, objects[s], s, elemVerts, elemParams, elemCounts, elemCaps, &triCap[s],
                                    &pointCap[s]))
      return 0;
  }
  // 5. Lists by ascending parameter.
  SetThermoMeterValue(90);
  for (int e = 0; e < nEl; ++e) HeapSort2FloatInt4(elemCounts[e], elemParams[e], elemVerts[e]);
  // 6. The seams.
  for (int k = 0; k < graph->nPair; ++k) {
    if (k % 10 == 0 && user_break()) return 0;
    const GsrfPair& pr = graph->pairs[k];
    if (pr.crvA < 0 || pr.crvB < 0 || pr.elA < 0 || pr.elB < 0 || pr.elA >= nEl || pr.elB >= nEl) continue;
    const GsrfBndrEl& A = graph->els[pr.elA];
    const GsrfBndrEl& B = graph->els[pr.elB];
    if (!(A.maxDist < tol) || !mapped[A.srfId] || !mapped[B.srfId]) continue;
    const int nA = elemCounts[pr.elA], nB = elemCounts[pr.elB];
    // A chain of one vertex would give its end the start's rank.
    if (nA < 2 || nB < 2) continue;
    if (!A.orient) {
      ReverseIntArray(elemVerts[pr.elB], nB);
      ReverseDoubleArray(elemParams[pr.elB], nB);
    }
    TrackingScope seamScope;
    Cloud* meshA = objects[A.srfId];
    Cloud* meshB = objects[B.srfId];
    float* xyz = MallocArray<float>(3 * (nA + nB));
    int* orderA = MallocArray<int>(nA);
    int* orderB = MallocArray<int>(nB);
    if (!xyz || !orderA || !orderB) return 0;
    float *xA = xyz, *yA = xA + nA, *zA = yA + nA, *xB = zA + nA, *yB = xB + nB, *zB = yB + nB;
    for (int i = 0; i < nA; ++i) {
      const int v = elemVerts[pr.elA][i];
      xA[i] = meshA->x[v], yA[i] = meshA->y[v], zA[i] = meshA->z[v];
    }
    for (int i = 0; i < nB; ++i) {
      const int v = elemVerts[pr.elB][i];
      xB[i] = meshB->x[v], yB[i] = meshB->y[v], zB[i] = meshB->z[v];
    }
    if (!MapVertexEyeToPolyline(xA, yA, zA, nA, xB, yB, zB, nB, orderA, orderB)) return 0;
    if (!CloseVertexEye(meshA, meshB, elemVerts[pr.elA], elemVerts[pr.elB], nA, nB, orderA, orderB,
                        &pointCap[A.srfId], &triCap[A.srfId], &pointCap[B.srfId], &triCap[B.srfId], graph->tol))
      return 0;
  }
  // 7. Corners of the group, then normals; the arrays trimmed to their counts.
  for (int e = 0; e < nEl; ++e) HeapSort2FloatInt4(elemCounts[e], elemParams[e], elemVerts[e]);
  if (!JoinStartAndEndOfBndrEl(graph, elemVerts, elemCounts, objects, tol)) return 0;
  for (int s = 0; s < nSrf; ++s) {
    Cloud* mesh = objects[s];
    if (!mesh) continue;
    if (!ReallocCldXYZArrays(mesh, mesh->npts) || !ReallocCldPolyList(mesh, mesh->ntri) || !CloudSetNormVerts(mesh))
      return 0;
  }
  return 1;
}

// ---- Welding, merging and connected pieces ----------------------------------------------------
int ReallocIntArray(int** array, int* capacity) {
  const int cap = *capacity > 0 ? 2 * *capacity : 1;
  int* grown = MallocArray<int>(cap);
  if (!grown) return 0;  // the old block stays the caller's
  if (*array && *capacity > 0) std::copy(*array, *array + *capacity, grown);
  if (*array) Free(*array);
  *array = grown;
  *capacity = cap;
  return 1;
}

int Realloc2IntArray(int** a, int** b, int* capacity) {
  const int cap = *capacity > 0 ? 2 * *capacity : 1;
  int* ga = MallocArray<int>(cap);
  int* gb = ga ? MallocArray<int>(cap) : nullptr;
  if (!ga || !gb) {
    if (ga) Free(ga);
    return 0;
  }
  if (*capacity > 0) {
    if (*a) std::copy(*a, *a + *capacity, ga);
    if (*b) std::copy(*b, *b + *capacity, gb);
  }
  if (*a) Free(*a);
  if (*b) Free(*b);
  *a = ga;
  *b = gb;
  *capacity = cap;
  return 1;
}

namespace {

// The bits of a coordinate with -0 made +0, so that equal values have equal bits.
inline uint32_t CoordBits(float v) {
  v += 0.0f;
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

inline uint64_t PointHash(const float* x, const float* y, const float* z, int i) {
  uint64_t h = CoordBits(x[i]) * 0x9E3779B97F4A7C15ULL;
  h = (h ^ CoordBits(y[i])) * 0xC2B2AE3D27D4EB4FULL;
  return (h ^ CoordBits(z[i])) * 0x165667B19E3779F9ULL;
}

// Open addressing over point numbers (-1 empty), keyed on the exact coordinates, at most half
// full: each group of equal points is held by its lowest-numbered point.
struct WeldTable {
  int* slot = nullptr;
  uint64_t mask = 0;
  int held = 0;
};

// A fresh empty table of the given (power of two) size; false on no memory.
bool ResetWeldTable(WeldTable* t, uint64_t slots) {
  int* grown = MallocArray<int>(static_cast<long long>(slots));
  if (!grown) return false;
  std::fill(grown, grown + slots, -1);
  if (t->slot) Free(t->slot);
  t->slot = grown, t->mask = slots - 1, t->held = 0;
  return true;
}

// The holder of point i's group, or -1 after making i the holder of a new one.
inline int FindOrHold(WeldTable* t, const float* x, const float* y, const float* z, int i, uint64_t hash) {
  for (uint64_t at = (hash >> 32) & t->mask;; at = (at + 1) & t->mask) {
    const int j = t->slot[at];
    if (j < 0) {
      t->slot[at] = i;
      ++t->held;
      return -1;
    }
    if (x[j] == x[i] && y[j] == y[i] && z[j] == z[i]) return j;
  }
}

}  // namespace

// Method: one pass over the points in index order through an open-addressing table of the
// groups met so far, keyed on the exact coordinates: a point equal to a held one joins its group
// (whose holder is the lowest-numbered), any other starts one. (A sort of all points by their
// coordinates took most of the weld's time.) The table starts sized for a soup, where every
// point is met several times, and doubles when half full; the slot of a point some way ahead is
// fetched early, as the table is too large for the cache and its slots are met at random.
int RemoveCldIdenticalPtsWIndices(Cloud* mesh, int* newNumbers) {
  if (!mesh || mesh->npts < 1 || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  const int n = mesh->npts;
  WeldTable table;
  uint64_t slots = 16;
  while (slots < static_cast<uint64_t>(n) / 2) slots *= 2;
  int* rep = MallocArray<int>(n);
  int* triFlags = MallocArray<int>(std::max(mesh->ntri, 1));
  if (!rep || !triFlags || !ResetWeldTable(&table, slots)) return 0;
  const float *x = mesh->x, *y = mesh->y, *z = mesh->z;
  // A NaN coordinate equals nothing: such points stay apart.
  auto apart = [&](int i) { return std::isnan(x[i]) || std::isnan(y[i]) || std::isnan(z[i]); };
  constexpr int kAhead = 16;  // a power of two
  uint64_t ahead[kAhead];
  for (int i = 0; i < std::min(n, kAhead); ++i) ahead[i] = PointHash(x, y, z, i);
  for (int i = 0; i < n; ++i) {
    const uint64_t hash = ahead[i & (kAhead - 1)];
    if (i + kAhead < n) {
      const uint64_t next = PointHash(x, y, z, i + kAhead);
      ahead[(i + kAhead) & (kAhead - 1)] = next;
      __builtin_prefetch(table.slot + ((next >> 32) & table.mask));
    }
    rep[i] = i;
    if (apart(i)) continue;
    const int j = FindOrHold(&table, x, y, z, i, hash);
    if (j >= 0) {
      rep[i] = j;
      continue;
    }
    if (2LL * table.held <= static_cast<long long>(table.mask)) continue;
    // Half full: the holders so far (every point up to i that holds a group) into a table twice
    // the size.
    if (!ResetWeldTable(&table, 2 * (table.mask + 1))) return 0;
    for (int k = 0; k <= i; ++k)
      if (rep[k] == k && !apart(k)) FindOrHold(&table, x, y, z, k, PointHash(x, y, z, k));
  }
  if (newNumbers) {
    for (int i = 0, welded = 0; i < n; ++i) {
      welded += rep[i] != i;
      newNumbers[i] = i - welded;
    }
    for (int i = 0; i < n; ++i) newNumbers[i] = newNumbers[rep[i]];
  }
  for (int t = 0; t < mesh->ntri; ++t) {
    int32_t* v = mesh->tri[t].v;
    for (int k = 0; k < 3; ++k) v[k] = rep[v[k]];
    triFlags[t] = v[0] == v[1] || v[1] == v[2] || v[0] == v[2];
  }
  int keptTriangles = 0;
  for (int t = 0; t < mesh->ntri; ++t) keptTriangles += !triFlags[t];
  // The holders are not needed any more: rep becomes the flags of the points welded away.
  for (int i = 0; i < n; ++i) rep[i] = rep[i] != i;
  // The corners were checked on the way in and now name holders.
  if (!CompactMesh(mesh, rep, mesh->ntri > 0 ? triFlags : nullptr) || KernelFailed()) return 0;
  // The compaction drops every triangle, and clears the error state, when recomputing the vertex
  // normals runs out of memory: a weld that lost its triangles has failed.
  if (mesh->ntri != keptTriangles) {
    SetOutOfMemory();
    return 0;
  }
  return 1;
}

int RemoveCldIdenticalPts(Cloud* mesh) { return RemoveCldIdenticalPtsWIndices(mesh, nullptr); }

namespace {

// The root of t's set, halving the path on the way (union-find over triangles).
inline int PieceRoot(int* parent, int t) {
  while (parent[t] != t) t = parent[t] = parent[parent[t]];
  return t;
}

}  // namespace

// Method: union-find over the triangles, each joined to the first triangle met on each of its
// edges; then the edges in order give the pieces their numbers, a piece taking the next number
// at its lowest edge. (A breadth-first walk over lists of each edge's triangles spent its time
// following the lists through memory.)
int IdentifySeparateObjectsWithEdges(Cloud* mesh, int* edgePairs, int** cornerEdges, int edgeCount,
                                     int* triangleComponent) {
  if (!mesh || mesh->ntri < 1 || edgeCount < 1) return 0;
  TrackingScope scope;
  const int ntri = mesh->ntri;
  int* comp = triangleComponent ? triangleComponent : MallocArray<int>(ntri);
  int* parent = MallocArray<int>(ntri);
  int* firstTriangle = MallocArray<int>(edgeCount);
  if (!comp || !parent || !firstTriangle) return -1;
  std::fill(firstTriangle, firstTriangle + edgeCount, -1);
  for (int t = 0; t < ntri; ++t) {
    parent[t] = t;
    for (int k = 0; k < 3; ++k) {
      const int e = int((cornerEdges[3 * t + k] - edgePairs) / 2);
      if (firstTriangle[e] < 0) {
        firstTriangle[e] = t;
        continue;
      }
      const int a = PieceRoot(parent, firstTriangle[e]), b = PieceRoot(parent, t);
      if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
  }
  // A root's number is written into comp at the root's place, read back by the rest of its set.
  for (int t = 0; t < ntri; ++t) comp[t] = -1;
  int piece = 0;
  for (int e = 0; e < edgeCount; ++e) {
    if (firstTriangle[e] < 0) continue;
    const int r = PieceRoot(parent, firstTriangle[e]);
    if (comp[r] < 0) comp[r] = piece++;
  }
  for (int t = 0; t < ntri; ++t) comp[t] = comp[PieceRoot(parent, t)];
  return piece;
}

int IdentifySeparateObjects(Cloud* mesh, int* triangleComponent) {
  if (!mesh || mesh->ntri < 1) return 0;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return -1;
  return IdentifySeparateObjectsWithEdges(mesh, edges.get(), corners.get(), nedges, triangleComponent);
}

int BreakDistinctClouds(Cloud* mesh, Cloud*** pieces, double** boxes, int* count) {
  *pieces = nullptr;
  *boxes = nullptr;
  *count = 0;
  if (!mesh || mesh->ntri < 1) return 1;
  if (!MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  int* comp = MallocArray<int>(mesh->ntri);
  if (!comp) return 0;
  const int k = IdentifySeparateObjects(mesh, comp);
  if (k < 0) return 0;
  // Triangles grouped by piece, each group in mesh order (a counting sort).
  int* start = MallocArray<int>(k + 1);
  int* byPiece = MallocArray<int>(mesh->ntri);
  int* newNo = MallocArray<int>(mesh->npts);
  int* idx = MallocArray<int>(3, mesh->ntri);
  float* verts = MallocArray<float>(3, mesh->npts);
  float* norms = mesh->nx ? MallocArray<float>(3, mesh->npts) : nullptr;
  if (!start || !byPiece || !newNo || !idx || !verts || (mesh->nx && !norms)) return 0;
  std::fill(start, start + k + 1, 0);
  for (int t = 0; t < mesh->ntri; ++t) ++start[comp[t] + 1];
  for (int p = 0; p < k; ++p) start[p + 1] += start[p];
  {
    int* fill = MallocArray<int>(k);
    if (!fill) return 0;
    std::copy(start, start + k, fill);
    for (int t = 0; t < mesh->ntri; ++t) byPiece[fill[comp[t]]++] = t;
  }
  std::fill(newNo, newNo + mesh->npts, -1);
  // The results leave the scope: the arrays and every piece are the caller's.
  Cloud** out = nullptr;
  double* outBoxes = nullptr;
  {
    UntrackedScope untracked;
    out = CallocArray<Cloud*>(k);
    outBoxes = MallocArray<double>(6, k);
  }
  OwnedArray<Cloud, FreeCloud> made(out, k);
  Owned<double, Free> madeBoxes(outBoxes);
  if (!out || !outBoxes) return 0;
  for (int p = 0; p < k; ++p) {
    int nv = 0, ni = 0;
    for (int i = start[p]; i < start[p + 1]; ++i) {
      const int t = byPiece[i];
      for (int c = 0; c < 3; ++c) {
        const int v = mesh->tri[t].v[c];
        if (newNo[v] < 0) {
          newNo[v] = nv;
          verts[3 * nv] = mesh->x[v], verts[3 * nv + 1] = mesh->y[v], verts[3 * nv + 2] = mesh->z[v];
          if (norms) norms[3 * nv] = mesh->nx[v], norms[3 * nv + 1] = mesh->ny[v], norms[3 * nv + 2] = mesh->nz[v];
          ++nv;
        }
        idx[ni++] = newNo[v];
      }
    }
    for (int i = start[p]; i < start[p + 1]; ++i)
      for (int c = 0; c < 3; ++c) newNo[mesh->tri[byPiece[i]].v[c]] = -1;
    {
      UntrackedScope untracked;
      out[p] = MakePolyCldWithNorms(start[p + 1] - start[p], idx, ni, verts, norms, nv, outBoxes + 6 * p);
    }
    // A piece whose triangles were refused comes back without them (the error state set or, when
    // its normals were refused, cleared): a failure either way.
    if (!out[p] || KernelFailed()) return 0;
    if (out[p]->ntri != start[p + 1] - start[p]) {
      SetOutOfMemory();
      return 0;
    }
  }
  *pieces = made.release();
  *boxes = madeBoxes.release();
  *count = k;
  return 1;
}

// Method: points, normals, colours and reliability concatenated (the optional arrays only when
// every input has them), triangles offset by the points before them, then exact duplicates
// welded. The inputs are freed (keepInputs 0) only once the merge stands.
Cloud* AddPolyClds(Cloud** meshes, int count, int keepInputs) {
  if (!meshes || count < 1) return nullptr;
  int npts = 0, ntri = 0;
  bool normals = true, colours = true, reliability = true;
  for (int i = 0; i < count; ++i) {
    const Cloud* m = meshes[i];
    if (!m || !MeshCornersNamePoints(m, nullptr)) return nullptr;
    if (npts > INT_MAX - m->npts || ntri > INT_MAX - m->ntri) {
      SetOutOfMemory();
      return nullptr;
    }
    npts += m->npts;
    ntri += m->ntri;
    normals = normals && m->nx && m->ny && m->nz;
    colours = colours && m->colour[0] && m->colour[1] && m->colour[2];
    reliability = reliability && m->reliability;
  }
  if (npts < 1) return nullptr;
  TrackingScope scope;
  float* x = MallocArray<float>(npts);
  float* y = MallocArray<float>(npts);
  float* z = MallocArray<float>(npts);
  if (!x || !y || !z) return nullptr;
  Cloud* merged = MakeCldNoAlloc(x, y, z, npts, nullptr);
  if (!merged) return nullptr;
  Owned<Cloud, FreeCloud> owner(merged);
  float* nrm[3] = {nullptr, nullptr, nullptr};
  float* col[3] = {nullptr, nullptr, nullptr};
  for (int k = 0; k < 3; ++k) {
    if (normals && !(nrm[k] = MallocArray<float>(npts))) return nullptr;
    if (colours && !(col[k] = MallocArray<float>(npts))) return nullptr;
  }
  uint8_t* rel = reliability ? MallocArray<uint8_t>(npts) : nullptr;
  CloudTriangle* tri = ntri > 0 ? MallocArray<CloudTriangle>(ntri) : nullptr;
  // The inputs in address order, so one listed twice is freed once; taken now so that a
  // refusal leaves the inputs alone.
  Cloud** distinct = keepInputs ? nullptr : MallocArray<Cloud*>(count);
  if ((reliability && !rel) || (ntri > 0 && !tri) || (!keepInputs && !distinct)) return nullptr;
  int p0 = 0, t0 = 0;
  for (int i = 0; i < count; ++i) {
    const Cloud* m = meshes[i];
    std::copy(m->x, m->x + m->npts, x + p0);
    std::copy(m->y, m->y + m->npts, y + p0);
    std::copy(m->z, m->z + m->npts, z + p0);
    const float* src[3] = {m->nx, m->ny, m->nz};
    for (int k = 0; k < 3; ++k) {
      if (nrm[k]) std::copy(src[k], src[k] + m->npts, nrm[k] + p0);
      if (col[k]) std::copy(m->colour[k], m->colour[k] + m->npts, col[k] + p0);
    }
    if (rel) std::copy(m->reliability, m->reliability + m->npts, rel + p0);
    for (int t = 0; t < m->ntri; ++t) {
      tri[t0 + t] = m->tri[t];
      for (int k = 0; k < 3; ++k) tri[t0 + t].v[k] += p0;
    }
    p0 += m->npts;
    t0 += m->ntri;
  }
  // The merged record takes the arrays out of this scope.
  for (void* block : {(void*)nrm[0], (void*)nrm[1], (void*)nrm[2], (void*)col[0], (void*)col[1], (void*)col[2],
                      (void*)rel, (void*)tri})
    if (block) RemoveMallocFromTrack(block);
  if (normals) {
    FreeAndNull(merged->nx), FreeAndNull(merged->ny), FreeAndNull(merged->nz);
    merged->nx = nrm[0], merged->ny = nrm[1], merged->nz = nrm[2];
  }
  if (colours) {
    for (int k = 0; k < 3; ++k) FreeAndNull(merged->colour[k]), merged->colour[k] = col[k];
    merged->colourFlag = meshes[0]->colourFlag;
  }
  merged->reliability = rel;
  merged->tri = tri;
  merged->ntri = ntri;
  if (!RemoveCldIdenticalPts(merged)) return nullptr;
  if (!keepInputs) {
    std::copy(meshes, meshes + count, distinct);
    std::sort(distinct, distinct + count, std::less<Cloud*>());
    Cloud** end = std::unique(distinct, distinct + count);
    for (Cloud** m = distinct; m != end; ++m) FreeCloud(*m);
    std::fill(meshes, meshes + count, nullptr);
    Free(distinct);
  }
  scope.keep();
  return owner.release();
}

int FindCloudPolySub(Cloud* mesh, int vertex, int rings, int* vertexCount, int** vertices, int** ringNumbers,
                     int* edgeCount, int** edgeStarts, int** edgeEnds, int* triangleCount, int** triangles) {
  *vertexCount = *edgeCount = *triangleCount = 0;
  *vertices = *ringNumbers = *edgeStarts = *edgeEnds = *triangles = nullptr;
  if (!mesh || vertex < 0 || vertex >= mesh->npts || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  TrackingScope scope;
  IndexNode** heads = MallocArray<IndexNode*>(mesh->npts);
  IndexNode* nodes = MallocArray<IndexNode>(3, std::max(mesh->ntri, 1));
  unsigned char* seenV = MallocArray<unsigned char>(mesh->npts);
  unsigned char* seenT = MallocArray<unsigned char>(std::max(mesh->ntri, 1));
  int* endOf = MallocArray<int>(mesh->npts);  // the vertex whose take last listed an edge to it
  int vCap = 32, eCap = 64, tCap = 32;
  int* vs = MallocArray<int>(vCap);
  int* rs = MallocArray<int>(vCap);
  int* es = MallocArray<int>(eCap);
  int* ee = MallocArray<int>(eCap);
  int* ts = MallocArray<int>(tCap);
  if (!heads || !nodes || !seenV || !seenT || !endOf || !vs || !rs || !es || !ee || !ts) return 0;
  MakePolyPointers(mesh, heads, nodes);
  std::fill(seenV, seenV + mesh->npts, 0);
  std::fill(seenT, seenT + std::max(mesh->ntri, 1), 0);
  std::fill(endOf, endOf + mesh->npts, -1);
  int nv = 0, ne = 0, nt = 0;
  // The vertex with its ring, then its triangles and its edges to their other corners. Edge v-w
  // is listed already exactly when w was taken before (its take met the triangle they share) or
  // this take listed it: two marks instead of a search of the list.
  auto take = [&](int v, int ring) {
    if (nv == vCap && !Realloc2IntArray(&vs, &rs, &vCap)) return false;
    vs[nv] = v, rs[nv++] = ring;
    seenV[v] = 1;
    for (const IndexNode* n = heads[v]; n; n = n->next) {
      const int t = n->index;
      if (!seenT[t]) {
        if (nt == tCap && !ReallocIntArray(&ts, &tCap)) return false;
        ts[nt++] = t;
        seenT[t] = 1;
      }
      for (int k = 0; k < 3; ++k) {
        const int w = mesh->tri[t].v[k];
        if (w == v || seenV[w] || endOf[w] == v) continue;
        if (ne == eCap && !Realloc2IntArray(&es, &ee, &eCap)) return false;
        es[ne] = v, ee[ne++] = w;
        endOf[w] = v;
      }
    }
    return true;
  };
  if (!take(vertex, 0)) return 0;
  for (int ring = 1, from = 0; ring <= rings; ++ring) {
    const int upTo = ne, before = nv;
    for (int i = from; i < upTo; ++i)
      for (int end : {es[i], ee[i]})
        if (!seenV[end] && !take(end, ring)) return 0;
    from = upTo;
    if (nv == before) break;
  }
  // Only the outputs leave the scope.
  Free(heads);
  Free(nodes);
  Free(seenV);
  Free(seenT);
  Free(endOf);
  scope.keep();
  *vertexCount = nv, *vertices = vs, *ringNumbers = rs;
  *edgeCount = ne, *edgeStarts = es, *edgeEnds = ee;
  *triangleCount = nt, *triangles = ts;
  return 1;
}

void FindSideOfPlane(Cloud* cloud, int* side, double a, double b, double c, double d) {
  if (!cloud || !side) return;
  for (int i = 0; i < cloud->npts; ++i) side[i] = a * cloud->x[i] + b * cloud->y[i] + c * cloud->z[i] + d > 0.0 ? 1 : -1;
}
