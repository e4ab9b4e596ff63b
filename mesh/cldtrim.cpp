#include "mesh/cldtrim.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bspline/refines2.h"
#include "bspline/smake.h"
#include "cloud/makecld.h"
#include "curve/crvutil.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "mesh/cldpoly.h"
#include "mesh/pgr2cld.h"
#include "mesh/trianum.h"

namespace {

// Resizes a caller's array in place of the field: a refused size leaves the field's block.
template <class T>
bool Resize(T*& field, int n) {
  T* moved = ReallocArray(field, n);
  if (!moved) return false;
  field = moved;
  return true;
}

}  // namespace

int ReallocCldXYZArrays(Cloud* mesh, int n) {
  if (n < mesh->npts) return 0;
  if (n == 0) return 1;
  const int old = mesh->npts;
  TrackingScope scope;
  if (!Resize(mesh->x, n) || !Resize(mesh->y, n) || !Resize(mesh->z, n)) return 0;
  // Absent normals are made in the scope and enter the mesh only once every resize succeeded, so
  // a failure frees them without touching the mesh.
  const bool made = !mesh->nx;
  float* normals[3] = {nullptr, nullptr, nullptr};
  if (made) {
    for (float*& a : normals)
      if (!(a = MallocArray<float>(n))) return 0;
  } else if (!Resize(mesh->nx, n) || !Resize(mesh->ny, n) || !Resize(mesh->nz, n)) {
    return 0;
  }
  for (float*& c : mesh->colour)
    if (c && !Resize(c, n)) return 0;
  if (mesh->reliability && !Resize(mesh->reliability, n)) return 0;
  scope.keep();
  if (made) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < old; ++j) normals[i][j] = -1.0f;
    mesh->nx = normals[0];
    mesh->ny = normals[1];
    mesh->nz = normals[2];
  }
  for (int j = old; j < n; ++j) {
    mesh->nx[j] = mesh->ny[j] = mesh->nz[j] = -1.0f;
    for (float* c : mesh->colour)
      if (c) c[j] = 0.33f;
    if (mesh->reliability) mesh->reliability[j] = 0;
  }
  return 1;
}

int ReallocCldPolyList(Cloud* mesh, int n) {
  if (n < mesh->ntri) return 0;
  if (n == 0) {
    FreeAndNull(mesh->tri);
    return 1;
  }
  return Resize(mesh->tri, n) ? 1 : 0;
}

// ---- Trimming to a curve --------------------------------------------------------------------------

namespace {

// The refiners' step output when the tangent vanishes (or the curve is refused before a step).
constexpr double kVanishedStep = 3.37e38;

// Closest curve points of the vertices looked at while trimming: record slot[v] (-1: none yet)
// holds three doubles; room starts at five records per loop edge and doubles when full.
struct ClosestPointCache {
  int* slot = nullptr;
  double* pts = nullptr;
  int n = 0;
  int room = 0;

  bool Init(int npts, int loopCount) {
    slot = MallocArray<int>(npts);
    room = std::max(5 * loopCount, 8);
    pts = MallocArray<double>(room, 3);
    if (!slot || !pts) return false;
    std::fill(slot, slot + npts, -1);
    return true;
  }
  // The closest curve point of vertex v, computed on first use; null on failure.
  const double* Get(const Cloud* mesh, int v, Bspline* curve, CurveSampleCache* samples) {
    if (slot[v] >= 0) return pts + 3 * slot[v];
    if (n == room) {
      double* grown = ReallocArray(pts, 2 * room, 3);
      if (!grown) return nullptr;
      pts = grown;
      room *= 2;
    }
    double p[3];
    GetCldPoint(mesh, v, p);
    if (!GetClosestCurvePoint(curve, p, samples, pts + 3 * n, nullptr)) return nullptr;
    slot[v] = n++;
    return pts + 3 * slot[v];
  }
};

// 1 when a triangle other than t whose flag is not 1 holds v.
bool HeldByAnotherLiveTriangle(IndexNode* const* heads, int v, int t, const int* triFlags) {
  for (const IndexNode* n = heads[v]; n; n = n->next)
    if (n->index != t && triFlags[n->index] != 1) return true;
  return false;
}

void RemoveAt(int* array, int position, int* n) {
  std::memmove(array + position, array + position + 1, sizeof(int) * (*n - position - 1));
  --*n;
}

}  // namespace

int GetClosestCurvePoint(Bspline* curve, const double p[3], CurveSampleCache* cache, double closest[3],
                         double* parameter) {
  if (!curve || !cache || (curve->dimension != 3 && curve->dimension != 2)) return 0;
  double t = 0.0, C[3];
  if (cache->Estimate(curve, p, &t, C) != 0) return 0;
  double distSq = 0.0, stepSq = kVanishedStep;
  const int r = curve->dimension == 3
                    ? FindClosestPointCurve3(curve, p, C, curve->umin, curve->umax, &t, &distSq, &stepSq, 7)
                    : FindClosestPointCurveOnSurf(curve, p, C, curve->umin, curve->umax, &t, &distSq, &stepSq, 7);
  // The refiners answer -2 also when seven iterations do not settle or the foot is held at an
  // end of the domain; their point is still the best at hand. Only a vanishing tangent (or a
  // refused curve, which writes no step) leaves nothing to use.
  if (r != 0 && !(stepSq < kVanishedStep)) return 0;
  for (int k = 0; k < 3; ++k) closest[k] = C[k];
  if (parameter) *parameter = t;
  return 1;
}

int TrimCloudWithCurve(Cloud* mesh, int* loopEdges, int* loopCount, Bspline* curve, int32_t* edgePairs,
                       IndexNode* const* vertexEdgeLists, const int* fixedPoints, double subdivideTol) {
  if (!mesh || !loopEdges || !loopCount || !curve || !edgePairs || !vertexEdgeLists || *loopCount < 1 ||
      mesh->ntri < 1)
    return 0;
  TrackingScope scope;
  CurveSampleCache samples;
  const int n = mesh->npts, ntri = mesh->ntri;
  auto** heads = MallocArray<IndexNode*>(n);
  auto* nodes = MallocArray<IndexNode>(ntri, 3);
  int* pointFlags = CallocArray<int>(n);
  int* triFlags = CallocArray<int>(ntri);
  ClosestPointCache closest;
  if (!heads || !nodes || !pointFlags || !triFlags || !closest.Init(n, *loopCount)) return 0;
  MakePolyPointers(mesh, heads, nodes);
  auto fixed = [&](int v) { return fixedPoints && fixedPoints[v] == 1; };

  // Peeling. Triangles and corners are only flagged here, so a failure leaves the mesh as it was.
  int count = *loopCount;
  for (int i = 0; i < count;) {
    const int e = loopEdges[i];
    int T = -1;
    // A loop edge without a live triangle is left as it is.
    if (!GetPolyWithOutsideEdge(mesh, heads, edgePairs, e, triFlags, &T)) {
      ++i;
      continue;
    }
    int32_t te[3];
    const int inLoop = GetNumPolyEdgesInLoop(mesh, T, edgePairs, vertexEdgeLists, loopEdges, count, te);
    int nearest = -1;
    double best = HUGE_VAL;
    for (int k = 0; k < 3; ++k) {
      const int v = mesh->tri[T].v[k];
      const double* c = closest.Get(mesh, v, curve, &samples);
      if (!c) return 0;
      double p[3];
      GetCldPoint(mesh, v, p);
      const double d = (c[0] - p[0]) * (c[0] - p[0]) + (c[1] - p[1]) * (c[1] - p[1]) + (c[2] - p[2]) * (c[2] - p[2]);
      if (d < best) best = d, nearest = v;
    }
    // An isolated triangle (all three edges in the loop) and a triangle with an edge missing
    // from the lists stay.
    if (inLoop == 3 || te[0] < 0 || te[1] < 0 || te[2] < 0) {
      ++i;
      continue;
    }
    if (inLoop == 2) {
      // An ear: f is its other loop edge, g its inner edge.
      int f = -1, g = -1;
      for (int k = 0; k < 3; ++k) {
        if (te[k] == e) continue;
        if (IntInArray(te[k], loopEdges, count, nullptr))
          f = te[k];
        else
          g = te[k];
      }
      const int shared = FindCommonEdgeVertex(edgePairs, e, f);
      // A fixed corner is never cut off either.
      if (f < 0 || g < 0 || shared < 0 || shared == nearest || fixed(shared)) {
        ++i;
        continue;
      }
      triFlags[T] = 1;
      // The corner goes only when no live triangle keeps it (a vertex where the mesh pinches).
      if (!HeldByAnotherLiveTriangle(heads, shared, T, triFlags)) pointFlags[shared] = 1;
      loopEdges[i] = g;
      int fpos = 0;
      IntInArray(f, loopEdges, count, &fpos);
      RemoveAt(loopEdges, fpos, &count);
      if (fpos < i) --i;
      continue;
    }
    int opposite = -1;
    for (int k = 0; k < 3; ++k) {
      const int v = mesh->tri[T].v[k];
      if (v != edgePairs[2 * e] && v != edgePairs[2 * e + 1]) opposite = v;
    }
    if (opposite != nearest || fixed(opposite)) {
      ++i;
      continue;
    }
    triFlags[T] = 1;
    int placed = 0;
    for (int k = 0; k < 3; ++k) {
      if (te[k] == e) continue;
      if (placed++ == 0)
        loopEdges[i] = te[k];
      else
        loopEdges[count++] = te[k];
    }
  }
  *loopCount = count;

  // The loop vertices in order, closed by repeating the first, moved onto the curve.
  int* verts = MallocArray<int>(count + 1);
  if (!verts) return 0;
  const int nv = GetLoopVerticesInOrder(mesh, loopEdges, edgePairs, count, verts);
  if (nv < 1) return 0;
  verts[nv] = verts[0];
  for (int k = 0; k < nv; ++k)
    if (!closest.Get(mesh, verts[k], curve, &samples)) return 0;
  for (int k = 0; k < nv; ++k) {
    const int v = verts[k];
    const double* c = closest.pts + 3 * closest.slot[v];
    mesh->x[v] = float(c[0]);
    mesh->y[v] = float(c[1]);
    mesh->z[v] = float(c[2]);
    if (mesh->nx) mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
  }
  for (int t = 0; t < mesh->ntri; ++t) MakeCldPolyPlane(mesh, &mesh->tri[t]);

  if (subdivideTol != -1.0 &&
      !SubdivideLoopPolys(mesh, loopEdges, nv + 1, subdivideTol, edgePairs, verts, curve, &samples, triFlags))
    return 0;

  // Compaction: points and triangles the subdivision added are kept. The points go through the
  // cloud's own sampling, which carries every per-point array (colours and reliability
  // included) with its point.
  int* allPoints = CallocArray<int>(mesh->npts);
  int* allTris = CallocArray<int>(mesh->ntri);
  if (!allPoints || !allTris) return 0;
  std::copy(pointFlags, pointFlags + n, allPoints);
  std::copy(triFlags, triFlags + ntri, allTris);
  if (!DeleteCldVertsAndPolys(mesh, allPoints, allTris)) return 0;
  if (!ReallocCldXYZArrays(mesh, mesh->npts) || !ReallocCldPolyList(mesh, mesh->ntri)) return 0;
  if (mesh->isVert && !CloudSetIsVerts(mesh)) return 0;
  return 1;
}

int SubdivideLoopPolys(Cloud* mesh, int* /*loopEdges*/, int loopVertexCount, double tol, int32_t* /*edgePairs*/,
                       const int* loopVertices, Bspline* curve, CurveSampleCache* cache,
                       const int* deletedTriangles) {
  if (!mesh || !loopVertices || !curve || !cache) return 0;
  if (loopVertexCount < 2) return 1;
  // An absolute floor: spans are never split finer than this however tight the request.
  double workTol = std::max(tol, 0.1);
  TrackingScope scope;
  const int ntri0 = mesh->ntri;
  int pointRoom = std::max(2 * mesh->npts, mesh->npts + 1);
  int triRoom = std::max(2 * ntri0, ntri0 + 2);
  if (!ReallocCldXYZArrays(mesh, pointRoom) || !ReallocCldPolyList(mesh, triRoom)) return 0;
  auto** heads = MallocArray<IndexNode*>(pointRoom);
  // List nodes come in blocks of four per starting triangle: the first holds the lists as built
  // (three per triangle), later ones the six of each split.
  const int blockSize = std::max(4 * ntri0, 6);
  IndexNode* nodes = MallocArray<IndexNode>(blockSize);
  int* flags = CallocArray<int>(triRoom);
  int vertRoom = 5 * loopVertexCount;
  int* verts = MallocArray<int>(vertRoom);
  if (!heads || !nodes || !flags || !verts) return 0;
  std::fill(heads, heads + pointRoom, nullptr);
  MakePolyPointers(mesh, heads, nodes);
  int used = 3 * ntri0;
  if (deletedTriangles) std::copy(deletedTriangles, deletedTriangles + ntri0, flags);
  std::copy(loopVertices, loopVertices + loopVertexCount, verts);
  int nv = loopVertexCount;

  // A span whose midpoint keeps its distance is given up after this many splits whatever the
  // change: by then it is shorter than the float coordinates can tell apart.
  constexpr int kMostAttempts = 60;
  int attempts = 0;
  double previous = 0.0;
  for (int i = 0; i + 1 < nv;) {
    const int a = verts[i], b = verts[i + 1];
    double pa[3], pb[3], m[3], c[3];
    GetCldPoint(mesh, a, pa);
    GetCldPoint(mesh, b, pb);
    for (int k = 0; k < 3; ++k) m[k] = 0.5 * (pa[k] + pb[k]);
    if (!GetClosestCurvePoint(curve, m, cache, c, nullptr)) return 0;
    const double d = VecDist3(c, m);
    ++attempts;
    const bool stalled = attempts >= 5 && std::fabs(d - previous) < 0.2 * previous;
    previous = d;
    if (d >= workTol && !stalled && attempts < kMostAttempts) {
      int T = -1;
      // No live triangle on the span: nothing to split (no point is added either), next span.
      if (!FindPolyWithOutsideVerts(mesh, heads, a, b, flags, &T)) {
        ++i;
        continue;
      }
      if (mesh->npts == pointRoom) {
        auto** grownHeads = ReallocArray(heads, 2 * pointRoom);
        if (!grownHeads) return 0;
        heads = grownHeads;
        if (!ReallocCldXYZArrays(mesh, 2 * pointRoom)) return 0;
        std::fill(heads + pointRoom, heads + 2 * pointRoom, nullptr);
        pointRoom *= 2;
      }
      if (mesh->ntri == triRoom) {
        int* grownFlags = ReallocArray(flags, 2 * triRoom);
        if (!grownFlags) return 0;
        flags = grownFlags;
        if (!ReallocCldPolyList(mesh, 2 * triRoom)) return 0;
        std::fill(flags + triRoom, flags + 2 * triRoom, 0);
        triRoom *= 2;
      }
      if (used + 6 > blockSize) {
        if (!(nodes = MallocArray<IndexNode>(blockSize))) return 0;
        used = 0;
      }
      if (nv == vertRoom) {
        int* grown = ReallocArray(verts, 2 * vertRoom);
        if (!grown) return 0;
        verts = grown;
        vertRoom *= 2;
      }
      const int v = mesh->npts++;
      mesh->x[v] = float(c[0]);
      mesh->y[v] = float(c[1]);
      mesh->z[v] = float(c[2]);
      mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
      SplitCloudPoly(mesh, T, a, b, v, heads, nodes, &used);
      InsertPtInArray(v, verts, i, nv++);
      continue;  // the span from a to the new point next
    }
    i += attempts == 1 ? 1 : 2;
    if (attempts >= 5 && d > workTol) workTol = d;
    attempts = 0;
  }
  return 1;
}

// ---- Loop and polygon helpers -------------------------------------------------------------------

int FindPolyWithOutsideVerts(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, int a, int b,
                             const int* triangleFlags, int* triangle) {
  if (a == b) return 0;
  // a's list in list order, as FindAllPolysWithVert gives the triangles on edge a-b.
  for (const IndexNode* n = vertexTriangleHeads[a]; n; n = n->next) {
    const int t = n->index;
    if (!PolygonHasVertex(mesh, t, b)) continue;
    if (triangleFlags && triangleFlags[t] == 1) continue;
    *triangle = t;
    return 1;
  }
  return 0;
}

int GetPolyWithOutsideEdge(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, const int32_t* edgePairs,
                           int edge, const int* triangleFlags, int* triangle) {
  return FindPolyWithOutsideVerts(mesh, vertexTriangleHeads, edgePairs[2 * edge], edgePairs[2 * edge + 1],
                                  triangleFlags, triangle);
}

int GetNumPolyEdgesInLoop(const Cloud* mesh, int triangle, const int32_t* edgePairs, IndexNode* const* vertexEdgeLists,
                          const int* loopEdges, int loopCount, int32_t edges[3]) {
  FindPolygonEdges(mesh, triangle, edgePairs, vertexEdgeLists, edges);
  int in = 0;
  for (int k = 0; k < 3; ++k) in += edges[k] >= 0 && IntInArray(edges[k], loopEdges, loopCount, nullptr);
  return in;
}

int GetLoopVerticesInOrder(const Cloud* /*mesh*/, const int* loopEdges, const int32_t* edgePairs, int n,
                           int* vertices) {
  if (n < 1) return 0;
  TrackingScope scope;
  char* taken = CallocArray<char>(n);
  if (!taken) return 0;
  int current = edgePairs[2 * loopEdges[0]];
  int written = 0;
  vertices[written++] = current;
  while (written < n) {
    int next = -1;
    for (int k = 0; k < n && next < 0; ++k) {
      if (taken[k]) continue;
      const int a = edgePairs[2 * loopEdges[k]], b = edgePairs[2 * loopEdges[k] + 1];
      if (a == current || b == current) {
        taken[k] = 1;
        next = a == current ? b : a;
      }
    }
    if (next < 0) break;
    vertices[written++] = current = next;
  }
  return written;
}

void InsertPtInArray(int value, int* array, int position, int n) {
  const int at = position + 1;
  if (at < n) std::memmove(array + at + 1, array + at, sizeof(int) * (n - at));
  array[at] = value;
}

void SetIndexTable(const int* flags, int* shift, int n) {
  int flagged = 0;
  for (int i = 0; i < n; ++i) {
    if (flags[i] == 1) {
      shift[i] = 0;
      ++flagged;
    } else {
      shift[i] = -flagged;
    }
  }
}

int IsPointInPoly2D(double x, double y, int n, const double* xs, const double* ys) {
  if (n < 3) return 0;
  double xmin = xs[0], ymin = ys[0], xmax = xs[0], ymax = ys[0];
  for (int i = 1; i < n; ++i) {
    xmin = std::min(xmin, xs[i]), xmax = std::max(xmax, xs[i]);
    ymin = std::min(ymin, ys[i]), ymax = std::max(ymax, ys[i]);
  }
  // The far point lies 100 and 50 polygon sizes beyond the lower left corner (units for a
  // polygon of size 1), so that the on-boundary test (s below 1e-6 along the ray) keeps its
  // meaning at every scale.
  const double size = std::max(xmax - xmin, ymax - ymin) > 0.0 ? std::max(xmax - xmin, ymax - ymin) : 1.0;
  const double fx = xmin - 100.0 * size, fy = ymin - 50.0 * size;
  int crossings = 0;
  for (int i = 0; i < n; ++i) {
    const int j = i + 1 < n ? i + 1 : 0;
    double s = 0.0, t = 0.0;
    if (!Intersect2DSegments(x, y, fx, fy, xs[i], ys[i], xs[j], ys[j], &s, &t)) continue;
    if (s < 1e-6) return 0;
    // A crossing at a polygon vertex counts once, on the edge that ends there.
    if (t > 0.0) ++crossings;
  }
  return crossings % 2;
}

void FindEdgePoints(const Cloud* mesh, const int32_t* edgePairs, int edge, double a[3], double b[3]) {
  GetCldPoint(mesh, edgePairs[2 * edge], a);
  GetCldPoint(mesh, edgePairs[2 * edge + 1], b);
}

int PolysHaveCommonVertex(const Cloud* mesh, int t1, int t2) {
  for (int k = 0; k < 3; ++k)
    if (PolygonHasVertex(mesh, t2, mesh->tri[t1].v[k])) return 1;
  return 0;
}

int FindCommonEdgeVertex(const int32_t* edgePairs, int e1, int e2) {
  const int a = edgePairs[2 * e1], b = edgePairs[2 * e1 + 1];
  const int c = edgePairs[2 * e2], d = edgePairs[2 * e2 + 1];
  if (a == c || a == d) return a;
  if (b == c || b == d) return b;
  return -1;
}

// ---- Refinement and small edits -----------------------------------------------------------------

namespace {

bool Selected(const Cloud* mesh, int t, const uint8_t* pointMask, const uint8_t* triangleMask) {
  const int32_t* v = mesh->tri[t].v;
  if (pointMask && !pointMask[v[0]] && !pointMask[v[1]] && !pointMask[v[2]]) return false;
  return !(triangleMask && !triangleMask[t]);
}

// Appends a point (room already made); its normal is to be computed.
int AppendPoint(Cloud* mesh, const double p[3]) {
  const int v = mesh->npts++;
  mesh->x[v] = float(p[0]);
  mesh->y[v] = float(p[1]);
  mesh->z[v] = float(p[2]);
  if (mesh->nx) mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
  return v;
}

// Appends triangle (a, b, c) with its plane (room already made); returns its number.
int AppendTriangle(Cloud* mesh, int a, int b, int c) {
  const int t = mesh->ntri++;
  CloudTriangle& tri = mesh->tri[t];
  tri.v[0] = a, tri.v[1] = b, tri.v[2] = c;
  MakeCldPolyPlane(mesh, &tri);
  return t;
}

// Brings the arrays to the counts; a refused shrink only leaves spare room, so it is no failure.
void TrimToCounts(Cloud* mesh) {
  const bool failedBefore = KernelFailed();
  const bool trimmed = ReallocCldXYZArrays(mesh, mesh->npts) && ReallocCldPolyList(mesh, mesh->ntri);
  if (!trimmed && !failedBefore) ClearKernelError();
}

}  // namespace

int SubdivideCldPolys(Cloud* mesh, int fourWay, const uint8_t* pointMask, const uint8_t* triangleMask) {
  return fourWay ? SubdividePolysInto4Polys(mesh, pointMask, triangleMask)
                 : SubdividePolysInto3Polys(mesh, pointMask, triangleMask);
}

int SubdividePolysInto3Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask) {
  const int ntri0 = mesh->ntri;
  if (!ReallocCldXYZArrays(mesh, mesh->npts + ntri0) || !ReallocCldPolyList(mesh, 3 * ntri0)) return 0;
  for (int t = 0; t < ntri0; ++t) {
    if (!Selected(mesh, t, pointMask, triangleMask)) continue;
    double p[3][3], centroid[3];
    FindPolyVertsAndNorms(mesh, t, nullptr, p, nullptr);
    for (int k = 0; k < 3; ++k) centroid[k] = (p[0][k] + p[1][k] + p[2][k]) * 0.3333333333333333;
    const int c = AppendPoint(mesh, centroid);
    const CloudTriangle parent = mesh->tri[t];
    AppendTriangle(mesh, c, parent.v[1], parent.v[2]);
    AppendTriangle(mesh, parent.v[0], c, parent.v[2]);
    mesh->tri[t].v[2] = c;
    MakeCldPolyPlane(mesh, &mesh->tri[t]);
  }
  return CloudSetSomeNormVerts(mesh) ? 1 : 0;
}

int SubdividePolysInto4Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask) {
  const int ntri0 = mesh->ntri;
  if (ntri0 < 1) return 1;
  TrackingScope scope;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return 0;
  int* mid = MallocArray<int>(nedges);
  if (!mid) return 0;
  std::fill(mid, mid + nedges, -1);
  // Room grows in steps of 100 points and triangles.
  int pointRoom = mesh->npts + std::min(nedges, 100);
  int triRoom = ntri0 + std::min(3 * ntri0, 100);
  int result = ReallocCldXYZArrays(mesh, pointRoom) && ReallocCldPolyList(mesh, triRoom);
  for (int t = 0; result && t < ntri0; ++t) {
    if (!Selected(mesh, t, pointMask, triangleMask)) continue;
    int e[3];
    for (int k = 0; k < 3; ++k) {
      e[k] = int(corners[3 * t + k] - edges.get()) / 2;
      if (mid[e[k]] >= 0) continue;
      if (mesh->npts == pointRoom) {
        if (!ReallocCldXYZArrays(mesh, pointRoom + 100)) {
          result = 0;
          break;
        }
        pointRoom += 100;
      }
      double a[3], b[3], m[3];
      FindEdgePoints(mesh, edges.get(), e[k], a, b);
      for (int j = 0; j < 3; ++j) m[j] = 0.5 * (a[j] + b[j]);
      mid[e[k]] = AppendPoint(mesh, m);
    }
    if (!result) break;
    if (mesh->ntri + 4 > triRoom) {
      if (!ReallocCldPolyList(mesh, triRoom + 100)) {
        result = 0;
        break;
      }
      triRoom += 100;
    }
    AppendTriangle(mesh, mid[e[0]], mid[e[1]], mid[e[2]]);
    // Corner triangle at the vertex two consecutive edges share, keeping the parent's sense.
    for (int k = 0; k < 3; ++k) {
      const int first = e[k], second = e[(k + 1) % 3];
      const int v = FindCommonEdgeVertex(edges.get(), first, second);
      if (k < 2) {
        AppendTriangle(mesh, v, mid[second], mid[first]);
      } else {
        CloudTriangle& parent = mesh->tri[t];
        parent.v[0] = v, parent.v[1] = mid[second], parent.v[2] = mid[first];
        MakeCldPolyPlane(mesh, &parent);
      }
    }
  }
  TrimToCounts(mesh);
  return result;
}

int DividePolyAtPickedPoint(Cloud* mesh, const int* triangles, const double* s, const double* t, int count) {
  if (count < 1) return 1;
  if (!triangles || !s || !t) return 0;
  TrackingScope scope;
  const int ntri0 = mesh->ntri;
  if (!ReallocCldXYZArrays(mesh, mesh->npts + count) || !ReallocCldPolyList(mesh, ntri0 + 2 * count)) return 0;
  const int slots = mesh->npts + count;
  auto** heads = MallocArray<IndexNode*>(slots);
  // An edge pick splits two triangles, six nodes each.
  auto* nodes = MallocArray<IndexNode>(3L * ntri0 + 12L * count);
  int result = heads && nodes;
  if (result) {
    std::fill(heads, heads + slots, nullptr);
    MakePolyPointers(mesh, heads, nodes);
    int used = 3 * ntri0;
    for (int k = 0; k < count && result; ++k) {
      int vertex = -1;
      result = CreateNewPolys(mesh, triangles[k], s[k], t[k], heads, nodes, &used, &vertex);
    }
  }
  TrimToCounts(mesh);
  return result;
}

int CreateNewPolys(Cloud* mesh, int triangle, double s, double t, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                   int* nodesUsed, int* vertex) {
  constexpr double kTol = 1e-6;
  if (triangle < 0 || triangle >= mesh->ntri || !std::isfinite(s) || !std::isfinite(t)) return 0;
  const double u = 1.0 - s - t;
  // A pick outside the triangle would fold the mesh.
  if (s < -kTol || t < -kTol || u < -kTol) return 0;
  const CloudTriangle parent = mesh->tri[triangle];
  const int32_t* c = parent.v;
  if (s + t < kTol) return *vertex = c[2], 1;
  if (1.0 - s < kTol) return *vertex = c[0], 1;
  if (1.0 - t < kTol) return *vertex = c[1], 1;
  double p[3][3], q[3];
  FindPolyVertsAndNorms(mesh, triangle, nullptr, p, nullptr);
  if (s >= kTol && t >= kTol && u >= kTol) {
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + t * p[1][k] + u * p[2][k];
    const int v = *vertex = AppendPoint(mesh, q);
    for (int k = 0; k < 3; ++k) DeleteVertexPoly(vertexTriangleHeads, c[k], triangle);
    for (int k = 0; k < 3; ++k) {
      int child = triangle;
      if (k > 0) {
        child = mesh->ntri++;
        mesh->tri[child] = parent;
      }
      mesh->tri[child].v[k] = v;
      UpdatePolyPointers(mesh, child, vertexTriangleHeads, nodeStore, nodesUsed);
      MakeCldPolyPlane(mesh, &mesh->tri[child]);
    }
    return 1;
  }
  int a, b;
  if (s < kTol) {
    a = c[1], b = c[2];
    for (int k = 0; k < 3; ++k) q[k] = t * p[1][k] + (1.0 - t) * p[2][k];
  } else if (t >= kTol) {
    a = c[0], b = c[1];
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + t * p[1][k];
  } else {
    a = c[0], b = c[2];
    for (int k = 0; k < 3; ++k) q[k] = s * p[0][k] + (1.0 - s) * p[2][k];
  }
  const int v = *vertex = AppendPoint(mesh, q);
  // The triangles on the edge, at most two, gathered before the splits relink the lists.
  int on[2], n = 0;
  for (const IndexNode* node = vertexTriangleHeads[a]; node && n < 2; node = node->next)
    if (PolygonHasVertex(mesh, node->index, b)) on[n++] = node->index;
  for (int k = 0; k < n; ++k) SplitCloudPoly(mesh, on[k], a, b, v, vertexTriangleHeads, nodeStore, nodesUsed);
  return 1;
}

int RemoveLongCldPolys(Cloud* mesh, double maxLength, const uint8_t* pointMask) {
  if (mesh->ntri < 1) return 0;
  TrackingScope scope;
  int* flags = CallocArray<int>(mesh->ntri);
  if (!flags) return 0;
  const double limit = maxLength * maxLength;
  int removed = 0;
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    if (pointMask && !pointMask[v[0]] && !pointMask[v[1]] && !pointMask[v[2]]) continue;
    double p[3][3];
    FindPolyVertsAndNorms(mesh, t, nullptr, p, nullptr);
    for (int k = 0; k < 3; ++k) {
      const double* a = p[k];
      const double* b = p[(k + 1) % 3];
      const double d = (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
      if (d >= limit) {
        flags[t] = 1;
        ++removed;
        break;
      }
    }
  }
  if (removed == 0) return 0;
  return DeleteCldVertsAndPolys(mesh, nullptr, flags) ? removed : 0;
}

int CapAllLoops(Cloud* mesh) {
  if (mesh->ntri < 1) return 1;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  Owned<IndexNode*, Free> loops;
  Owned<int, Free> sizes;
  Owned<IndexNode, Free> loopNodes;
  int nedges = 0, nloops = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return 1;
  if (!MakeOuterEdgeList(mesh, edges.get(), corners.get(), nedges, loops.receive(), &nloops, sizes.receive(),
                         loopNodes.receive()))
    return 1;
  MakeEdgeVertsConsistent(edges.get(), loops.get(), nloops);
  for (int l = 0; l < nloops; ++l) {
    const IndexNode* first = loops[l];
    const IndexNode* last = first;
    while (last->next) last = last->next;
    // Oriented head to tail, a closed loop's last edge ends where its first one starts.
    if (edges[2 * last->index + 1] != edges[2 * first->index]) continue;
    CapModel(mesh, edges.get(), 1, &loops[l]);
  }
  return 1;
}
