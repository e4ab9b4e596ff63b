#include "mesh/poffset.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "bspline/bsvalid.h"
#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pcopy.h"
#include "cloud/pnterr.h"
#include "cloud/poffset.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/minmax.h"
#include "foundation/coreglob.h"
#include "foundation/fmalloc.h"
#include "foundation/geometry.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"
#include "mesh/cldpoly.h"
#include "mesh/cldtrim.h"
#include "mesh/pgr2cld.h"
#include "mesh/putil.h"
#include "mesh/rpmclose.h"
#include "platform/tstubs.h"

namespace {

void PointOf(const Cloud* c, int i, double p[3]) { p[0] = c->x[i], p[1] = c->y[i], p[2] = c->z[i]; }

void PlaneNormal(const CloudTriangle& t, double n[3]) { n[0] = t.plane[0], n[1] = t.plane[1], n[2] = t.plane[2]; }

// +0 and -0 alike: a sign bit alone is no normal.
bool HasNormal(const float* nx, const float* ny, const float* nz, int i) {
  return nx[i] != 0.0f || ny[i] != 0.0f || nz[i] != 0.0f;
}

void Store(float* x, float* y, float* z, int i, const double p[3]) {
  x[i] = static_cast<float>(p[0]), y[i] = static_cast<float>(p[1]), z[i] = static_cast<float>(p[2]);
}

}  // namespace

// ---- Offsets of point clouds ---------------------------------------------------------------------

namespace {

// The shared step of the cloud offsets: the points with a normal moved by step along it, in order.
// With keepScans a scan-ordered source gives one scan per scan that keeps a point, and labels and
// label-visibility bits follow their points to the new numbers. withNormals: the result carries
// the kept normals. *kept receives the number of points kept (0: null result, error state clear).
// Null on no memory, everything made here freed.
Cloud* OffsetAlongNormals(const Cloud* cloud, const float* nx, const float* ny, const float* nz, double step,
                          bool keepScans, bool withNormals, double* bbox, int* kept) {
  *kept = 0;
  const int n = cloud->npts;
  TrackingScope scope;
  float *ox = MallocArray<float>(n), *oy = MallocArray<float>(n), *oz = MallocArray<float>(n);
  if (!ox || !oy || !oz) return nullptr;
  float *onx = nullptr, *ony = nullptr, *onz = nullptr;
  if (withNormals && (!(onx = MallocArray<float>(n)) || !(ony = MallocArray<float>(n)) || !(onz = MallocArray<float>(n))))
    return nullptr;
  char** labels = nullptr;
  uint8_t* shown = nullptr;
  if (keepScans && cloud->labels && !CallocArrayUnlessFailed(labels, n)) return nullptr;
  if (keepScans && cloud->labelIsShow && !CallocArrayUnlessFailed(shown, CloudBitArrayBytes(n))) return nullptr;

  // Scans as the source records them, each clamped to the points it has; an unordered source is
  // one run over every point.
  const bool scanned = keepScans && cloud->type != 0 && cloud->nscans > 0 && cloud->scanStart && cloud->scanEnd;
  const int runs = scanned ? cloud->nscans : 1;
  int32_t *starts = nullptr, *ends = nullptr;
  if (scanned && (!(starts = MallocArray<int32_t>(runs)) || !(ends = MallocArray<int32_t>(runs)))) return nullptr;
  int count = 0, nscans = 0;
  for (int s = 0; s < runs; ++s) {
    const int first = scanned ? std::max(cloud->scanStart[s], 0) : 0;
    const int last = scanned ? std::min(cloud->scanEnd[s], n - 1) : n - 1;
    const int before = count;
    for (int i = first; i <= last; ++i) {
      if (!HasNormal(nx, ny, nz, i)) continue;
      ox[count] = static_cast<float>(cloud->x[i] + step * nx[i]);
      oy[count] = static_cast<float>(cloud->y[i] + step * ny[i]);
      oz[count] = static_cast<float>(cloud->z[i] + step * nz[i]);
      if (onx) onx[count] = nx[i], ony[count] = ny[i], onz[count] = nz[i];
      if (labels && cloud->labels[i] && !(labels[count] = lstrdup(cloud->labels[i]))) return nullptr;
      if (shown && (cloud->labelIsShow[i >> 3] >> (i & 7) & 1)) shown[count >> 3] |= static_cast<uint8_t>(1 << (count & 7));
      ++count;
    }
    if (scanned && count > before) starts[nscans] = before, ends[nscans++] = count - 1;
  }
  if (count == 0) return nullptr;
  double localBox[6];
  double* box = bbox ? bbox : localBox;
  Cloud* out = scanned ? MakeScanCldNoAlloc(ox, oy, oz, count, starts, ends, nscans, box)
                       : MakeCldNoAlloc(ox, oy, oz, count, box);
  if (!out) return nullptr;
  scope.keep();
  if (starts) Free(starts), Free(ends);  // the scan cloud copied them
  out->nx = onx, out->ny = ony, out->nz = onz;
  out->labels = labels;
  out->labelIsShow = shown;
  *kept = count;
  return out;
}

}  // namespace

Cloud* CloudScanOffset(Cloud* cloud, double dist, const Xform xform, double* bbox) {
  if (!cloud) return nullptr;
  const int n = cloud->npts;
  if (n < 3) {
    InfoMessageFormat("%s", MSGstr("At least 3 points required"));
    return nullptr;
  }
  if (!cloud->nx || !cloud->ny || !cloud->nz) {
    TrackingScope scope;
    float *nx = MallocArray<float>(n), *ny = MallocArray<float>(n), *nz = MallocArray<float>(n);
    if (!nx || !ny || !nz) return nullptr;
    // The normals' builder reports nothing: a failure shows only in the error state.
    ComputeCloud2DOffsetNormals(cloud, nx, ny, nz, dist, xform);
    if (KernelFailed()) return nullptr;
    scope.keep();
    FreeCloudNormals(cloud);  // a partial set would break the all-or-none rule and leak
    cloud->nx = nx, cloud->ny = ny, cloud->nz = nz;
  }
  int kept = 0;
  return OffsetAlongNormals(cloud, cloud->nx, cloud->ny, cloud->nz, dist, true, true, bbox, &kept);
}

int CreateOffsetCloud(Cloud* cloud, const float* nx, const float* ny, const float* nz, double dist, int keepNormals,
                      Cloud** result, double* bbox) {
  *result = nullptr;
  if (!cloud) return 1;
  if (!nx || !ny || !nz) return 0;
  const int n = cloud->npts;
  TrackingScope scope;
  float *cx = MallocArray<float>(n), *cy = MallocArray<float>(n), *cz = MallocArray<float>(n);
  if (!cx || !cy || !cz) return 0;
  std::copy(nx, nx + n, cx), std::copy(ny, ny + n, cy), std::copy(nz, nz + n, cz);
  if (!RmOffsetSelfXsec(cloud, cx, cy, cz, dist)) return 0;
  int kept = 0;
  *result = OffsetAlongNormals(cloud, cx, cy, cz, dist, true, keepNormals != 0, bbox, &kept);
  return *result || (kept == 0 && !KernelFailed()) ? 1 : 0;
}

Cloud* CloudOffsetOppositeNorms(Cloud* cloud, double dist, double* bbox) {
  if (!cloud || !cloud->nx || !cloud->ny || !cloud->nz) return nullptr;
  int kept = 0;
  return OffsetAlongNormals(cloud, cloud->nx, cloud->ny, cloud->nz, -dist, false, false, bbox, &kept);
}

// ---- Concave edges -------------------------------------------------------------------------------

int VertNotInPoly2(const Cloud* mesh, int t1, int t2) {
  if (!TriangleInMesh(mesh, t1) || !TriangleInMesh(mesh, t2)) return -1;
  for (int k = 0; k < 3; ++k) {
    const int v = mesh->tri[t1].v[k];
    if (!PolygonHasVertex(mesh, t2, v)) return v;
  }
  return -1;
}

int IsConcaveEdge(const Cloud* mesh, int t1, int t2, double dist, int shared[2]) {
  shared[0] = shared[1] = -1;
  if (!TriangleNamesPoints(mesh, t1) || !TriangleNamesPoints(mesh, t2)) return 0;
  int nshared = 0;
  for (int k = 0; k < 3; ++k) {
    const int v = mesh->tri[t1].v[k];
    if (PolygonHasVertex(mesh, t2, v) && nshared < 2) shared[nshared++] = v;
    else if (PolygonHasVertex(mesh, t2, v)) ++nshared;
  }
  if (nshared != 2) return 0;
  const int w1 = VertNotInPoly2(mesh, t1, t2), w2 = VertNotInPoly2(mesh, t2, t1);
  // A triangle naming one of the edge's ends twice has no third corner to fold about.
  if (w1 < 0 || w2 < 0) return 0;
  double a[3], b[3], p[2][3], u[2][3];
  PointOf(mesh, shared[0], a);
  PointOf(mesh, shared[1], b);
  PointOf(mesh, w1, p[0]);
  PointOf(mesh, w2, p[1]);
  for (int k = 0; k < 2; ++k) {
    double foot[3], d2;
    LinePntMinDistSq(p[k], a, b, foot, &d2);
    VecDiff3(p[k], foot, u[k]);
    VecNormalize3(u[k], u[k]);
  }
  double n1[3], c[3], d[3];
  PlaneNormal(mesh->tri[t1], n1);
  if (dist < 0) n1[0] = -n1[0], n1[1] = -n1[1], n1[2] = -n1[2];
  VecCrossProd3(u[0], u[1], c);
  VecCrossProd3(c, n1, d);
  return VecDotProd3(d, u[0]) <= -0.25 ? 1 : 0;
}

// ---- Refinement of long edges --------------------------------------------------------------------

namespace {

// Room for at least need entries and half as much again as room: arrays grown by a fixed step are
// copied a number of times that grows with the count, and so copy the square of it in all.
int GrownRoom(int room, int need) {
  const long long grown = std::max<long long>(need, room + std::max(room / 2, 50));
  return static_cast<int>(std::min<long long>(grown, INT_MAX));
}

// List nodes for triangles split in: blocks that are never moved (lists point into them), a new
// one started when the current one cannot give the six nodes of a split, each half as large again
// as the one before.
struct NodeBlocks {
  IndexNode* block = nullptr;
  int used = 0;
  int size = 0;
  int step = 0;
  bool Room(int need) {
    if (block && used + need <= size) return true;
    size = std::max(step, need);
    step = GrownRoom(step, step);
    block = MallocArray<IndexNode>(size);
    used = 0;
    return block != nullptr;
  }
};

// One sweep after another until no edge is longer than sqrt(L2); see SubdivideCloudEdgesToTol.
int SplitLongEdges(Cloud* mesh, double L2) {
  TrackingScope scope;
  Owned<int32_t, Free> table;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, table.receive(), corners.receive(), &nedges)) return 0;
  // The sweep's own edge list, growing as splits append halves and cross edges.
  int edgeRoom = nedges + 50;
  int32_t* edges = MallocArray<int32_t>(edgeRoom, 2);
  int pointRoom = mesh->npts, triRoom = mesh->ntri;
  int headRoom = mesh->npts + 50;
  IndexNode** heads = MallocArray<IndexNode*>(headRoom);
  IndexNode* nodes = MallocArray<IndexNode>(mesh->ntri, 3);
  int trisRoom = 16;
  int32_t* tris = MallocArray<int32_t>(trisRoom);
  if (!edges || !heads || !nodes || !tris) return 0;
  std::copy(table.get(), table.get() + 2 * nedges, edges);
  MakePolyPointers(mesh, heads, nodes);
  NodeBlocks store;
  store.step = std::max(600, 3 * mesh->ntri / 4);

  long visits = 0;
  for (bool split = true; split;) {
    split = false;
    for (int e = 0; e < nedges; ++e) {
      if (++visits % 1000 == 0 && user_break()) return 0;
      const int a = edges[2 * e], b = edges[2 * e + 1];
      if (a < 0 || a == b) continue;
      double pa[3], pb[3];
      PointOf(mesh, a, pa);
      PointOf(mesh, b, pb);
      double d[3];
      const double len2 = VecDotProd3(VecDiff3(pb, pa, d), d);
      if (len2 <= L2) continue;
      int count = 0;
      bool waits = false;
      for (IndexNode* node = heads[a]; node && !waits; node = node->next) {
        if (!PolygonHasVertex(mesh, node->index, b)) continue;
        // Halving an edge that is not its triangle's longest leaves the long sides and thins
        // the triangle, and sweeps of such splits need not end: the edge waits until the
        // longer one is split (the longest long edge of the mesh never waits).
        const int32_t* tv = mesh->tri[node->index].v;
        double pc[3], e1[3], e2[3];
        PointOf(mesh, tv[0] != a && tv[0] != b ? tv[0] : tv[1] != a && tv[1] != b ? tv[1] : tv[2], pc);
        waits = VecDotProd3(VecDiff3(pc, pa, e1), e1) > len2 || VecDotProd3(VecDiff3(pc, pb, e2), e2) > len2;
        if (count == trisRoom) {
          int32_t* grown = ReallocArray(tris, trisRoom * 2);
          if (!grown) return 0;
          tris = grown, trisRoom *= 2;
        }
        tris[count++] = node->index;
      }
      if (count == 0 || waits) continue;
      // Room first, so a refusal leaves the mesh whole.
      if (mesh->npts == pointRoom) {
        const int want = GrownRoom(pointRoom, pointRoom + 1);
        if (!ReallocCldXYZArrays(mesh, want)) return 0;
        pointRoom = want;
      }
      if (mesh->npts == headRoom) {
        const int want = GrownRoom(headRoom, headRoom + 1);
        IndexNode** grown = ReallocArray(heads, want);
        if (!grown) return 0;
        heads = grown, headRoom = want;
      }
      if (mesh->ntri + count > triRoom) {
        const int want = GrownRoom(triRoom, mesh->ntri + count);
        if (!ReallocCldPolyList(mesh, want)) return 0;
        triRoom = want;
      }
      if (nedges + count + 1 > edgeRoom) {
        const int want = GrownRoom(edgeRoom, nedges + count + 1);
        int32_t* grown = ReallocArray(edges, want, 2);
        if (!grown) return 0;
        edges = grown, edgeRoom = want;
      }
      if (!store.Room(6 * count)) return 0;  // one block holds every split of this edge
      const int v = mesh->npts++;
      const double mid[3] = {0.5 * (pa[0] + pb[0]), 0.5 * (pa[1] + pb[1]), 0.5 * (pa[2] + pb[2])};
      Store(mesh->x, mesh->y, mesh->z, v, mid);
      mesh->nx[v] = mesh->ny[v] = mesh->nz[v] = -1.0f;
      heads[v] = nullptr;
      for (int k = 0; k < count; ++k) {
        const int t = tris[k];
        const int32_t* tv = mesh->tri[t].v;
        const int c = tv[0] != a && tv[0] != b ? tv[0] : tv[1] != a && tv[1] != b ? tv[1] : tv[2];
        SplitCloudPoly(mesh, t, a, b, v, heads, store.block, &store.used);
        edges[2 * nedges] = c, edges[2 * nedges + 1] = v, ++nedges;
      }
      edges[2 * e + 1] = v;
      edges[2 * nedges] = v, edges[2 * nedges + 1] = b, ++nedges;
      split = true;
    }
  }
  return 1;
}

// The most triangles the splits may add. Each added triangle costs about 100 bytes of points,
// normals, triangles, edges and index nodes and some 4 microseconds of sweeps (2.4 million made
// in 10 s under the sanitizers), so 2^24 of them ask for some 1.7 GB and a minute: more than any
// refinement of a scan to its own scale needs (the offsets refine to a tenth of the box
// diagonal, at most about 100 triangles a triangle), and past it a length far below the
// mesh's size would only run until memory ran out.
constexpr double kMaxAddedTriangles = 16777216.0;

// Whether the triangles the splits make stay within kMaxAddedTriangles more than the mesh has,
// and within its int32 count, by a count they cannot fall below: the pieces a triangle becomes
// have no edge longer than maxLength, so each covers at most the equilateral area
// sqrt(3) / 4 maxLength^2, and its longest edge L is cut into at least L / maxLength pieces, each
// a side of a different piece.
bool SplitsFitTheMesh(const Cloud* mesh, double maxLength) {
  const double most = std::sqrt(3.0) / 4.0 * maxLength * maxLength;
  double made = 0.0;
  for (int t = 0; t < mesh->ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    double longest = 0.0;
    for (int k = 0; k < 3; ++k) {
      const int a = v[k], b = v[(k + 1) % 3];
      longest = std::max(longest, std::hypot(double(mesh->x[a]) - mesh->x[b], double(mesh->y[a]) - mesh->y[b],
                                             double(mesh->z[a]) - mesh->z[b]));
    }
    made += std::max({longest / maxLength, FindCldTriangleArea(mesh, t) / most, 1.0});
  }
  return made <= INT32_MAX && made - mesh->ntri <= kMaxAddedTriangles;
}

}  // namespace

int SubdivideCloudEdgesToTol(Cloud* mesh, double maxLength) {
  if (!mesh) return 0;
  // Every edge is longer than a length that is not positive: the sweeps would never end.
  if (!(maxLength > 0.0) || !std::isfinite(maxLength)) return 0;
  if (mesh->ntri < 1 || !mesh->tri) return 1;
  if (!MeshCornersNamePoints(mesh, nullptr) || !CloudPointsFinite(mesh)) return 0;
  if (!SplitsFitTheMesh(mesh, maxLength)) {
    SetKernelError(-2);
    return 0;
  }
  const int done = SplitLongEdges(mesh, maxLength * maxLength);
  // Outside the sweep's scope, so what the normals' pass attaches to the mesh stays the mesh's.
  if (mesh->isVert && !CloudSetIsVerts(mesh)) return 0;
  if (!CloudSetSomeNormVerts(mesh)) return 0;
  ReallocCldXYZArrays(mesh, mesh->npts);
  ReallocCldPolyList(mesh, mesh->ntri);
  return done;
}

// ---- The offset shell ----------------------------------------------------------------------------

namespace {

// Scratch of the offset of one vertex without a reliable normal: per triangle of the vertex its
// weight, and the offset planes taken.
struct PlaneScratch {
  double* weight;
  double (*planes)[4];
  int32_t* tris;
};

// The offset of point i (see BuildOffsetPolyCloud). A unit normal, or a point on no triangle,
// moves by dist along the normal. Otherwise each triangle of the point is weighted by how well it
// agrees with the others (the later triangle's area times the normals' cosine, added to both of a
// pair); those weighted at least a quarter of the way from the least to the most agreeing give
// their offset planes, whose common point is taken when it stays within sqrt(2.1) |dist| of the
// point, else the point moves along their area-weighted normal.
void OffsetVertex(const Cloud* mesh, int i, IndexNode* const* heads, double dist, PlaneScratch& s, double out[3]) {
  double p[3], nrm[3] = {0.0, 0.0, 0.0};
  PointOf(mesh, i, p);
  if (mesh->nx) nrm[0] = mesh->nx[i], nrm[1] = mesh->ny[i], nrm[2] = mesh->nz[i];
  int m = 0;
  for (IndexNode* node = heads[i]; node; node = node->next) s.tris[m++] = node->index;
  if (VecDotProd3(nrm, nrm) > 0.9 || m == 0) {
    for (int k = 0; k < 3; ++k) out[k] = p[k] + dist * nrm[k];
    return;
  }
  for (int k = 0; k < m; ++k) s.weight[k] = 0.0;
  for (int j = 0; j < m; ++j)
    for (int k = j + 1; k < m; ++k) {
      double nj[3], nk[3];
      PlaneNormal(mesh->tri[s.tris[j]], nj);
      PlaneNormal(mesh->tri[s.tris[k]], nk);
      const double grow = FindCldTriangleArea(mesh, s.tris[k]) * VecDotProd3(nj, nk);
      s.weight[j] += grow, s.weight[k] += grow;
    }
  const double lo = *std::min_element(s.weight, s.weight + m), hi = *std::max_element(s.weight, s.weight + m);
  const double threshold = (3.0 * lo + hi) / 4.0;
  double sum[3] = {0.0, 0.0, 0.0};
  int np = 0;
  for (int k = 0; k < m; ++k) {
    if (!(s.weight[k] >= threshold)) continue;
    const CloudTriangle& t = mesh->tri[s.tris[k]];
    const double area = FindCldTriangleArea(mesh, s.tris[k]);
    for (int c = 0; c < 3; ++c) s.planes[np][c] = t.plane[c], sum[c] += area * t.plane[c];
    s.planes[np++][3] = t.plane[3] - dist;
  }
  if (np == 0) {  // weights that are not numbers: the first triangle stands for all
    const CloudTriangle& t = mesh->tri[s.tris[0]];
    for (int c = 0; c < 3; ++c) s.planes[0][c] = sum[c] = t.plane[c];
    s.planes[np++][3] = t.plane[3] - dist;
  }
  double dir[3] = {s.planes[0][0], s.planes[0][1], s.planes[0][2]};
  if (np < 2) {
    if (VecDotProd3(dir, dir) < 0.9) VecNormalize3(dir, dir);
    for (int k = 0; k < 3; ++k) out[k] = p[k] + dist * dir[k];
    return;
  }
  double q[3];
  if (FindBestPlanesSect(s.planes, p, np, q)) {
    double d[3];
    if (VecDotProd3(VecDiff3(q, p, d), d) <= 2.1 * dist * dist) {
      for (int k = 0; k < 3; ++k) out[k] = q[k];
      return;
    }
  }
  if (VecSize3(sum) >= 1e-20) VecNormalize3(sum, dir);
  for (int k = 0; k < 3; ++k) out[k] = p[k] + dist * dir[k];
}

// The shell's arrays, made in the caller's scope.
struct Shell {
  float *x, *y, *z, *nx, *ny, *nz;
  CloudTriangle* tri;
  int ntri;
};

void AddTriangle(Shell& s, int a, int b, int c) {
  CloudTriangle& t = s.tri[s.ntri++];
  t.v[0] = a, t.v[1] = b, t.v[2] = c;
}

}  // namespace

Cloud* BuildOffsetPolyCloud(Cloud* mesh, double dist, double* bbox) {
  if (!mesh || mesh->ntri < 1 || !mesh->tri || mesh->npts < 1) return nullptr;
  if (!std::isfinite(dist) || !MeshCornersNamePoints(mesh, nullptr) || !CloudPointsFinite(mesh)) {
    SetKernelError(-2);
    return nullptr;
  }
  // Before the scope: the normals belong to the mesh and must outlive it.
  if (!mesh->nx || !mesh->ny || !mesh->nz ? !CloudSetNormVerts(mesh) : !CloudSetSomeNormVerts(mesh)) return nullptr;
  TrackingScope scope;
  const int n = mesh->npts, ntri = mesh->ntri;
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(mesh, edges.receive(), corners.receive(), &nedges)) return nullptr;
  Owned<IndexNode*, Free> loops;
  Owned<int, Free> sizes;
  Owned<IndexNode, Free> loopNodes;
  int nloops = 0;
  const int nbnd = MakeOuterEdgeList(mesh, edges.get(), corners.get(), nedges, loops.receive(), &nloops,
                                     sizes.receive(), loopNodes.receive());
  if (KernelFailed()) return nullptr;
  IndexNode** heads = MallocArray<IndexNode*>(n);
  IndexNode* nodes = MallocArray<IndexNode>(ntri, 3);
  // A point's list of triangles names a triangle once per corner on it: three times over for a
  // triangle that names the point at every corner.
  PlaneScratch scratch{MallocArray<double>(3, ntri), MallocArray<double[4]>(3, ntri), MallocArray<int32_t>(3, ntri)};
  Shell s{MallocArray<float>(2, n), MallocArray<float>(2, n), MallocArray<float>(2, n), MallocArray<float>(2, n),
          MallocArray<float>(2, n), MallocArray<float>(2, n), MallocArray<CloudTriangle>(2, ntri + nbnd), 0};
  if (!heads || !nodes || !scratch.weight || !scratch.planes || !scratch.tris || !s.x || !s.y || !s.z || !s.nx ||
      !s.ny || !s.nz || !s.tri)
    return nullptr;
  MakePolyPointers(mesh, heads, nodes);
  for (int i = 0; i < n; ++i) {
    double p[3], q[3];
    PointOf(mesh, i, p);
    OffsetVertex(mesh, i, heads, dist, scratch, q);
    Store(s.x, s.y, s.z, i, p);
    Store(s.x, s.y, s.z, n + i, q);
    s.nx[i] = mesh->nx[i], s.ny[i] = mesh->ny[i], s.nz[i] = mesh->nz[i];
    s.nx[n + i] = -mesh->nx[i], s.ny[n + i] = -mesh->ny[i], s.nz[n + i] = -mesh->nz[i];
  }
  // Finite points offset by a finite distance may still leave the float range.
  for (int i = n; i < 2 * n; ++i)
    if (!std::isfinite(s.x[i]) || !std::isfinite(s.y[i]) || !std::isfinite(s.z[i])) {
      SetKernelError(-2);
      return nullptr;
    }
  for (int t = 0; t < ntri; ++t) s.tri[s.ntri++] = mesh->tri[t];
  for (int t = 0; t < ntri; ++t) {
    const int32_t* v = mesh->tri[t].v;
    AddTriangle(s, v[2] + n, v[1] + n, v[0] + n);
  }
  // Walls run each boundary edge against the source triangle on it, so the shell agrees across
  // every edge whichever way the edge table stores the pair.
  for (int l = 0; l < nloops; ++l)
    for (IndexNode* node = loops[l]; node; node = node->next) {
      int a = edges[2 * node->index], b = edges[2 * node->index + 1];
      for (IndexNode* tn = heads[a]; tn; tn = tn->next) {
        const int32_t* v = mesh->tri[tn->index].v;
        if (v[0] != b && v[1] != b && v[2] != b) continue;
        const int k = v[0] == a ? 0 : v[1] == a ? 1 : 2;
        if (v[(k + 1) % 3] != b) std::swap(a, b);
        break;
      }
      double pa[3], pb[3], qa[3], qb[3], d[3];
      PointOf(mesh, a, pa), PointOf(mesh, b, pb);
      qa[0] = s.x[n + a], qa[1] = s.y[n + a], qa[2] = s.z[n + a];
      qb[0] = s.x[n + b], qb[1] = s.y[n + b], qb[2] = s.z[n + b];
      const double acrossA = VecDotProd3(VecDiff3(pb, qa, d), d), acrossB = VecDotProd3(VecDiff3(pa, qb, d), d);
      if (acrossA >= acrossB) {
        AddTriangle(s, a, b + n, b);
        AddTriangle(s, a, a + n, b + n);
      } else {
        AddTriangle(s, b, a, a + n);
        AddTriangle(s, b, a + n, b + n);
      }
    }
  double localBox[6];
  Cloud* shell = MakeCldNoAlloc(s.x, s.y, s.z, 2 * n, bbox ? bbox : localBox);
  if (!shell) return nullptr;
  // The rest of the shell's arrays leave the scope with it; the scratch is freed.
  for (void* p : {(void*)s.nx, (void*)s.ny, (void*)s.nz, (void*)s.tri}) RemoveMallocFromTrack(p);
  shell->nx = s.nx, shell->ny = s.ny, shell->nz = s.nz;
  shell->tri = s.tri, shell->ntri = s.ntri;
  for (int t = ntri; t < s.ntri; ++t) MakeCldPolyPlane(shell, &shell->tri[t]);
  shell->sourceRef = mesh->sourceRef;
  return shell;
}

// ---- The offset of a mesh in place -------------------------------------------------------------

namespace {

// Squared distance of two mesh points.
double Dist2(const Cloud* m, int a, int b) {
  const double dx = double(m->x[a]) - m->x[b], dy = double(m->y[a]) - m->y[b], dz = double(m->z[a]) - m->z[b];
  return dx * dx + dy * dy + dz * dz;
}

int CornerOf(const Cloud* m, int t, int v) {
  const int32_t* tv = m->tri[t].v;
  return tv[0] == v ? 0 : tv[1] == v ? 1 : tv[2] == v ? 2 : -1;
}

// The working state of CreateOffsetPolyCloud. Point-sized arrays grow with the mesh's points.
class MeshOffsetter {
 public:
  MeshOffsetter(Cloud* mesh, double dist, int mode) : m_(mesh), dist_(dist), mode_(mode) {}
  bool Run(int walls, int keepSource, Thermometer& therm);

 private:
  bool Setup();
  bool AddPoint(const double p[3], int flag, int* index);
  bool AddTriangle(int a, int b, int c);
  void MarkSharpVertices();
  bool OffsetVertices();
  bool OffsetVertex(int v);
  void FanNormal(int v, const int32_t* fan, const int32_t* group, int count, int g, double n[3]) const;
  bool CloseGaps();
  bool CloseGapEdge(int v, int u, int t, int group);
  bool AddWalls();
  double SourceDistance(const double p[3]) const;
  bool CheckDistances(Thermometer& therm);
  bool CutEdges(Thermometer& therm);
  bool SubdivideEdge(int e, const int32_t pair[2]);
  bool SubdividePolygons();
  bool SubdivideOnePolygon(int t, const int* chainA, int na, const int* chainB, int nb);

  Cloud* m_;
  double dist_;
  int mode_;
  int nsrc_ = 0, ntsrc_ = 0;          // source points and triangles
  int pointRoom_ = 0, triRoom_ = 0;
  IndexNode** heads_ = nullptr;      // source vertex-to-triangle lists (the distance search's)
  IndexNode* nodes_ = nullptr;
  double* radius_ = nullptr;
  Owned<Subdiv, FreeSubdiv> grid_;
  int32_t* cornerCopy_ = nullptr;    // per source corner, the copy serving it (-1 none)
  int32_t* firstCopy_ = nullptr;     // per source vertex, its first copy (-1 none)
  int32_t* kind_ = nullptr;          // per source vertex: 0 smooth, 1 one copy, 2 several copies
  int32_t* fan_ = nullptr;           // per source vertex its triangles in fan order, at fanStart_
  int32_t* fanStart_ = nullptr;
  int32_t* groupOf_ = nullptr;       // per fan place, its group (sharp vertices with several copies)
  int32_t* drop_ = nullptr;          // per point: 1 removed at the end
  double* gap_ = nullptr;            // per point: its distance to the source (offset points)
  // Per edge of the offset: the two split vertices, in edge order (-1 none).
  Owned<int32_t, Free> edges_;
  Owned<int32_t*, Free> cornerEdges_;
  int nedges_ = 0;
  int32_t* split_ = nullptr;
  double limit_ = 0;
};

bool MeshOffsetter::AddPoint(const double p[3], int flag, int* index) {
  if (m_->npts == pointRoom_) {
    const int room = GrownRoom(pointRoom_, pointRoom_ + 1);
    if (!ReallocCldXYZArrays(m_, room)) return false;
    int32_t* drop = ReallocArray(drop_, room);
    if (drop) drop_ = drop;
    double* gap = drop ? ReallocArray(gap_, room) : nullptr;
    if (!gap) return false;
    gap_ = gap, pointRoom_ = room;
  }
  const int i = m_->npts++;
  Store(m_->x, m_->y, m_->z, i, p);
  m_->nx[i] = m_->ny[i] = m_->nz[i] = -1.0f;
  drop_[i] = flag;
  gap_[i] = 0.0;
  *index = i;
  return true;
}

bool MeshOffsetter::AddTriangle(int a, int b, int c) {
  if (m_->ntri == triRoom_) {
    const int room = GrownRoom(triRoom_, triRoom_ + 1);
    if (!ReallocCldPolyList(m_, room)) return false;
    triRoom_ = room;
  }
  CloudTriangle& t = m_->tri[m_->ntri++];
  t.v[0] = a, t.v[1] = b, t.v[2] = c;
  MakeCldPolyPlane(m_, &t);
  return true;
}

bool MeshOffsetter::Setup() {
  nsrc_ = m_->npts, ntsrc_ = m_->ntri;
  pointRoom_ = 2 * nsrc_, triRoom_ = 2 * ntsrc_ + 20;
  if (!ReallocCldXYZArrays(m_, pointRoom_) || !ReallocCldPolyList(m_, triRoom_)) return false;
  heads_ = MallocArray<IndexNode*>(nsrc_);
  nodes_ = MallocArray<IndexNode>(ntsrc_, 3);
  radius_ = MallocArray<double>(nsrc_);
  cornerCopy_ = MallocArray<int32_t>(ntsrc_, 3);
  firstCopy_ = MallocArray<int32_t>(nsrc_);
  kind_ = MallocArray<int32_t>(nsrc_);
  fan_ = MallocArray<int32_t>(ntsrc_, 3);
  fanStart_ = MallocArray<int32_t>(nsrc_ + 1);
  groupOf_ = MallocArray<int32_t>(ntsrc_, 3);
  drop_ = MallocArray<int32_t>(pointRoom_);
  gap_ = MallocArray<double>(pointRoom_);
  if (!heads_ || !nodes_ || !radius_ || !cornerCopy_ || !firstCopy_ || !kind_ || !fan_ || !fanStart_ || !groupOf_ ||
      !drop_ || !gap_)
    return false;
  const double reach = 1.2 * dist_;
  if (!InitPolycldStructs(m_, reach * reach, heads_, nodes_, radius_, grid_.receive())) return false;
  std::fill(cornerCopy_, cornerCopy_ + 3 * ntsrc_, -1);
  std::fill(firstCopy_, firstCopy_ + nsrc_, -1);
  std::fill(kind_, kind_ + nsrc_, 0);
  std::fill(drop_, drop_ + nsrc_, 0);
  std::fill(gap_, gap_ + nsrc_, 0.0);
  // Fans start as the vertices' lists; OffsetVertex orders those it needs.
  int at = 0;
  for (int v = 0; v < nsrc_; ++v) {
    fanStart_[v] = at;
    for (IndexNode* node = heads_[v]; node; node = node->next) groupOf_[at] = 0, fan_[at++] = node->index;
  }
  fanStart_[nsrc_] = at;
  return true;
}

// Vertices on an edge of two triangles folded by more than 45 degrees lose their normals.
void MeshOffsetter::MarkSharpVertices() {
  for (int t = 0; t < ntsrc_; ++t)
    for (int k = 0; k < 3; ++k) {
      const int a = m_->tri[t].v[k], b = m_->tri[t].v[(k + 1) % 3];
      int other = -1, count = 0;
      for (IndexNode* node = heads_[a]; node; node = node->next)
        if (PolygonHasVertex(m_, node->index, b)) ++count, other = node->index == t ? other : node->index;
      if (count != 2 || other < t) continue;  // each edge once, from its lower triangle
      double n1[3], n2[3];
      PlaneNormal(m_->tri[t], n1);
      PlaneNormal(m_->tri[other], n2);
      if (VecDotProd3(n1, n2) >= 0.707) continue;
      for (int v : {a, b}) m_->nx[v] = m_->ny[v] = m_->nz[v] = 0.0f;
    }
}

// The angle-weighted mean of the normals of the fan's triangles in group g (all for g < 0), made
// unit.
void MeshOffsetter::FanNormal(int v, const int32_t* fan, const int32_t* group, int count, int g, double n[3]) const {
  n[0] = n[1] = n[2] = 0.0;
  for (int k = 0; k < count; ++k) {
    if (g >= 0 && group[k] != g) continue;
    double angle, tn[3];
    FindTriangleAngleAtVert(m_, fan[k], v, &angle);
    PlaneNormal(m_->tri[fan[k]], tn);
    for (int c = 0; c < 3; ++c) n[c] += angle * tn[c];
  }
  if (VecSize3(n) > 0) VecNormalize3(n, n);
}

bool MeshOffsetter::OffsetVertex(int v) {
  int32_t* fan = fan_ + fanStart_[v];
  const int count = fanStart_[v + 1] - fanStart_[v];
  kind_[v] = 0;
  if (count == 0) return true;
  double p[3], nrm[3] = {m_->nx[v], m_->ny[v], m_->nz[v]}, q[3];
  PointOf(m_, v, p);
  auto serve = [&](int t, int copy) { cornerCopy_[3 * t + CornerOf(m_, t, v)] = copy; };
  if (nrm[0] != 0 || nrm[1] != 0 || nrm[2] != 0) {
    for (int k = 0; k < 3; ++k) q[k] = p[k] + dist_ * nrm[k];
    if (!AddPoint(q, 0, &firstCopy_[v])) return false;
    for (int k = 0; k < count; ++k) serve(fan[k], firstCopy_[v]);
    return true;
  }
  // Order the fan across shared edges: from a triangle (v, a, b) on to the other triangle on
  // edge v-b. Closed when every step finds exactly one other triangle and the walk comes back.
  bool closed = true;
  int t = fan[0];
  for (int k = 1; k <= count && closed; ++k) {
    const int b = m_->tri[t].v[(CornerOf(m_, t, v) + 2) % 3];
    int next = -1, onEdge = 0;
    for (IndexNode* node = heads_[v]; node; node = node->next)
      if (PolygonHasVertex(m_, node->index, b) && ++onEdge && node->index != t) next = node->index;
    if (onEdge != 2 || next < 0) closed = false;
    else if (k == count) closed = next == fan[0];
    else if (std::find(fan, fan + k, next) != fan + k) closed = false;
    else fan[k] = next, t = next;
  }
  if (!closed) {  // back to list order
    int at = 0;
    for (IndexNode* node = heads_[v]; node; node = node->next) fan[at++] = node->index;
  }
  double avg[3];
  FanNormal(v, fan, nullptr, count, -1, avg);
  for (int k = 0; k < 3; ++k) q[k] = p[k] + dist_ * avg[k];
  if (!AddPoint(q, 0, &firstCopy_[v])) return false;
  const int first = firstCopy_[v];
  kind_[v] = 1;
  int32_t* group = groupOf_ + fanStart_[v];
  int ngroups = 1;
  bool concave = false;
  if (closed) {
    int shared[2];
    group[0] = 0;
    for (int k = 0; k < count; ++k) {
      const int a = fan[k], b = fan[(k + 1) % count];
      concave = concave || IsConcaveEdge(m_, a, b, dist_, shared);
      if (k + 1 == count) break;
      double na[3], nb[3];
      PlaneNormal(m_->tri[a], na), PlaneNormal(m_->tri[b], nb);
      group[k + 1] = VecDotProd3(na, nb) >= 0.707 ? group[k] : ++ngroups - 1;
    }
    double nl[3], nf[3];
    PlaneNormal(m_->tri[fan[count - 1]], nl), PlaneNormal(m_->tri[fan[0]], nf);
    if (ngroups > 1 && VecDotProd3(nl, nf) >= 0.707) {  // the last group closes round into the first
      const int last = group[count - 1];
      for (int k = count - 1; k >= 0 && group[k] == last; --k) group[k] = 0;
      --ngroups;
    }
  }
  // Each group's normal; s is the smallest agreement of the mean normal with them.
  double s = 1.0;
  for (int g = 0; g < ngroups && closed; ++g) {
    double gn[3];
    FanNormal(v, fan, group, count, g, gn);
    s = std::min(s, std::fabs(VecDotProd3(avg, gn)));
    if (ngroups > 1 && !(concave && mode_ == 1)) {
      for (int k = 0; k < 3; ++k) q[k] = p[k] + dist_ * gn[k];
      int copy;
      if (!AddPoint(q, 0, &copy)) return false;
      for (int k = 0; k < count; ++k)
        if (group[k] == g) serve(fan[k], copy);
      kind_[v] = 2;
    }
  }
  if (kind_[v] == 2) return true;
  for (int k = 0; k < count; ++k) serve(fan[k], first), group[k] = 0;
  if (concave && mode_ == 1) {  // one mitred point: far enough out to clear every face
    const double step = dist_ / std::max(s, 0.5);
    double mitre[3];
    for (int k = 0; k < 3; ++k) mitre[k] = p[k] + step * avg[k];
    Store(m_->x, m_->y, m_->z, first, mitre);
  }
  return true;
}

bool MeshOffsetter::OffsetVertices() {
  for (int v = 0; v < nsrc_; ++v) {
    if (m_->isVert && !(m_->isVert[v >> 3] >> (v & 7) & 1)) continue;
    if (!OffsetVertex(v)) return false;
  }
  for (int t = 0; t < ntsrc_; ++t) {
    const int32_t* c = cornerCopy_ + 3 * t;
    if (c[0] >= 0 && c[1] >= 0 && c[2] >= 0 && !AddTriangle(c[0], c[1], c[2])) return false;
  }
  return true;
}

// Across the edge v-u that bounds the group copy G of v (t: the group's triangle on the edge).
// The gap's triangles run the edge they share with t's copy against it, whichever way t runs
// v-u, so that they agree with it.
bool MeshOffsetter::CloseGapEdge(int v, int u, int t, int G) {
  const int Fv = firstCopy_[v];
  if (kind_[u] == 0) return true;
  const bool forward = CornerOf(m_, t, u) == (CornerOf(m_, t, v) + 1) % 3;
  auto add = [&](int a, int b, int c) { return forward ? AddTriangle(a, c, b) : AddTriangle(a, b, c); };
  if (kind_[u] == 1) return firstCopy_[u] < 0 || add(firstCopy_[u], Fv, G);
  if (v < u) return true;  // the pair is closed from its higher vertex
  const int Gv = cornerCopy_[3 * t + CornerOf(m_, t, v)], Gu = cornerCopy_[3 * t + CornerOf(m_, t, u)];
  const int Fu = firstCopy_[u];
  if (Gv < 0 || Gu < 0 || Fu < 0) return true;
  if (Dist2(m_, Fu, Gv) >= Dist2(m_, Fv, Gu)) return add(Fu, Fv, Gu) && add(Gv, Gu, Fv);
  return add(Fu, Gv, Gu) && add(Gv, Fu, Fv);
}

// The gaps between a sharp vertex's group copies and its hub, group by group from the last made.
bool MeshOffsetter::CloseGaps() {
  for (int v = 0; v < nsrc_; ++v) {
    if (kind_[v] != 2) continue;
    const int32_t* fan = fan_ + fanStart_[v];
    const int32_t* group = groupOf_ + fanStart_[v];
    const int count = fanStart_[v + 1] - fanStart_[v];
    const int ngroups = *std::max_element(group, group + count) + 1;
    for (int g = ngroups - 1; g >= 0; --g)
      for (int k = 0; k < count; ++k) {
        if (group[k] != g) continue;
        const int t = fan[k], G = cornerCopy_[3 * t + CornerOf(m_, t, v)];
        const int before = fan[(k + count - 1) % count], after = fan[(k + 1) % count];
        // The fan runs from (v, a, b) on across v-b: a is shared with the one before, b with the next.
        const int c = CornerOf(m_, t, v);
        if (group[(k + count - 1) % count] != g && PolygonHasVertex(m_, before, m_->tri[t].v[(c + 1) % 3]) &&
            !CloseGapEdge(v, m_->tri[t].v[(c + 1) % 3], t, G))
          return false;
        if (group[(k + 1) % count] != g && PolygonHasVertex(m_, after, m_->tri[t].v[(c + 2) % 3]) &&
            !CloseGapEdge(v, m_->tri[t].v[(c + 2) % 3], t, G))
          return false;
      }
  }
  return true;
}

// Walls along the source's boundary, running each edge against the source triangle on it.
bool MeshOffsetter::AddWalls() {
  Owned<int32_t, Free> edges;
  Owned<int32_t*, Free> corners;
  int nedges = 0;
  if (!CreatePolyEdges(m_, edges.receive(), corners.receive(), &nedges)) return false;
  Owned<IndexNode*, Free> loops;
  Owned<int, Free> sizes;
  Owned<IndexNode, Free> loopNodes;
  int nloops = 0;
  MakeOuterEdgeList(m_, edges.get(), corners.get(), nedges, loops.receive(), &nloops, sizes.receive(),
                    loopNodes.receive());
  if (KernelFailed()) return false;
  for (int l = 0; l < nloops; ++l)
    for (IndexNode* node = loops[l]; node; node = node->next) {
      int a = edges[2 * node->index], b = edges[2 * node->index + 1];
      if (a >= nsrc_ || b >= nsrc_) continue;  // an open edge of the offset, not of the source
      int t = -1;
      for (IndexNode* tn = heads_[a]; tn && t < 0; tn = tn->next)
        if (PolygonHasVertex(m_, tn->index, b)) t = tn->index;
      if (t < 0) continue;
      if (m_->tri[t].v[(CornerOf(m_, t, a) + 1) % 3] != b) std::swap(a, b);
      const int A = firstCopy_[a], B = firstCopy_[b];
      if (A < 0 || B < 0) continue;
      if (!AddTriangle(b, a, A) || !AddTriangle(b, A, B)) return false;
    }
  return true;
}

// The distance of p to the source triangles; one not found lies beyond the search's reach.
double MeshOffsetter::SourceDistance(const double p[3]) const {
  const double reach = 1.2 * dist_;
  double foot[3], bary[3];
  float d = 0.0f;
  int vertex = -1, tri = -1;
  if (!MinDistPtPolyCld(p, m_, ntsrc_ - 1, reach * reach, grid_.get(), heads_, radius_, foot, &d, &vertex, &tri, bary))
    return HUGE_VAL;
  return std::fabs(d);
}

bool MeshOffsetter::CheckDistances(Thermometer& therm) {
  const int first = nsrc_, n = m_->npts - nsrc_;
  const int sixth = std::max(1, n / 6);
  for (int i = first; i < m_->npts; ++i) {
    if ((i - first) % sixth == 0) therm.set(20 + 5 * ((i - first) / sixth));
    double p[3];
    PointOf(m_, i, p);
    gap_[i] = SourceDistance(p);
    if (gap_[i] < limit_) drop_[i] = 1;
  }
  return true;
}

// Brackets the place on edge e where the offset crosses from kept to removed points by
// bisection, and gives the edge its two split vertices (see CreateOffsetPolyCloud).
bool MeshOffsetter::SubdivideEdge(int e, const int32_t pair[2]) {
  double pa[3], pb[3];
  PointOf(m_, pair[0], pa), PointOf(m_, pair[1], pb);
  const double length = std::sqrt(Dist2(m_, pair[0], pair[1]));
  double kept = drop_[pair[0]] ? 1.0 : 0.0, marked = 1.0 - kept;
  auto at = [&](double s, double q[3]) {
    for (int k = 0; k < 3; ++k) q[k] = pa[k] + s * (pb[k] - pa[k]);
  };
  auto atEnd = [](double s) { return s == 0.0 || s == 1.0; };
  for (;;) {
    const double span = std::fabs(marked - kept);
    if (span <= 0.001) break;
    if (span * length < 0.1 * std::fabs(dist_) && !atEnd(kept) && !atEnd(marked)) break;
    const double mid = 0.5 * (kept + marked);
    double q[3];
    at(mid, q);
    (SourceDistance(q) <= limit_ ? marked : kept) = mid;
  }
  int vertex[2];  // kept side, marked side
  const double params[2] = {kept, marked};
  for (int s = 0; s < 2; ++s) {
    if (atEnd(params[s])) {
      vertex[s] = pair[params[s] == 0.0 ? 0 : 1];
      continue;
    }
    double q[3];
    at(params[s], q);
    if (!AddPoint(q, s, &vertex[s])) return false;
  }
  const bool keptFirst = kept < marked;
  split_[2 * e] = keptFirst ? vertex[0] : vertex[1];
  split_[2 * e + 1] = keptFirst ? vertex[1] : vertex[0];
  return true;
}

bool MeshOffsetter::CutEdges(Thermometer& therm) {
  if (!CreatePolyEdges(m_, edges_.receive(), cornerEdges_.receive(), &nedges_)) return false;
  split_ = MallocArray<int32_t>(nedges_, 2);
  if (!split_) return false;
  std::fill(split_, split_ + 2 * nedges_, -1);
  const int sixth = std::max(1, nedges_ / 6);
  for (int e = 0; e < nedges_; ++e) {
    if (e % 500 == 0 && user_break()) return false;
    if (e % sixth == 0) therm.set(50 + 5 * (e / sixth));
    const int32_t* pair = edges_.get() + 2 * e;
    if (pair[0] < 0 || drop_[pair[0]] == drop_[pair[1]]) continue;
    if (!SubdivideEdge(e, pair)) return false;
  }
  return true;
}

bool MeshOffsetter::SubdivideOnePolygon(int t, const int* chainA, int na, const int* chainB, int nb) {
  if (na > nb) std::swap(chainA, chainB), std::swap(na, nb);
  const int c = chainA[0], a = chainA[na - 1], b = chainB[nb - 1];
  const int x1 = na > 2 ? chainA[1] : -1, x2 = na > 3 ? chainA[2] : -1;
  const int y1 = nb > 2 ? chainB[1] : -1, y2 = nb > 3 ? chainB[2] : -1;
  int tris[5][3];
  int n = 0;
  auto put = [&](int p, int q, int r) { tris[n][0] = p, tris[n][1] = q, tris[n++][2] = r; };
  if (na == 2 && nb == 3) put(c, a, y1), put(a, y1, b);
  else if (na == 2 && nb == 4) put(c, a, y1), put(a, y1, y2), put(a, y2, b);
  else if (na == 3 && nb == 3) put(c, x1, y1), put(x1, a, y1), put(a, y1, b);
  else if (na == 3 && nb == 4) put(c, x1, y1), put(x1, a, y2), put(a, y2, b), put(x1, y1, y2);
  else if (na == 4 && nb == 4) put(c, x1, y1), put(x1, x2, y1), put(x2, y2, y1), put(x2, a, y2), put(a, y2, b);
  if (n == 0) return true;
  // The patterns fix vertices, not turning: each piece is turned to face the way its parent faced.
  double parent[3];
  PlaneNormal(m_->tri[t], parent);
  for (int k = 0; k < n; ++k) {
    CloudTriangle piece{};
    piece.v[0] = tris[k][0], piece.v[1] = tris[k][1], piece.v[2] = tris[k][2];
    MakeCldPolyPlane(m_, &piece);
    double pn[3];
    PlaneNormal(piece, pn);
    if (VecDotProd3(pn, parent) < 0) std::swap(tris[k][1], tris[k][2]);
  }
  m_->tri[t].v[0] = tris[0][0], m_->tri[t].v[1] = tris[0][1], m_->tri[t].v[2] = tris[0][2];
  MakeCldPolyPlane(m_, &m_->tri[t]);
  for (int k = 1; k < n; ++k)
    if (!AddTriangle(tris[k][0], tris[k][1], tris[k][2])) return false;
  return true;
}

bool MeshOffsetter::SubdividePolygons() {
  const int known = m_->ntri;  // the triangles the edge table was made from; pieces are appended
  for (int t = ntsrc_; t < known; ++t) {
    int chains[2][4], sizes[2], found = 0;
    for (int k = 0; k < 3 && found < 2; ++k) {
      const int e = static_cast<int>(cornerEdges_[3 * t + k] - edges_.get()) / 2;
      if (split_[2 * e] < 0) continue;
      int* chain = chains[found];
      int n = 0;
      const int32_t* pair = edges_.get() + 2 * e;
      chain[n++] = pair[0];
      for (int s = 0; s < 2; ++s)
        if (split_[2 * e + s] != pair[0] && split_[2 * e + s] != pair[1]) chain[n++] = split_[2 * e + s];
      chain[n++] = pair[1];
      sizes[found++] = n;
    }
    if (found != 2) continue;
    // Both chains start at the vertex their edges share.
    for (int s = 0; s < 2; ++s) {
      const int* other = chains[1 - s];
      const int shared = chains[s][0] == other[0] || chains[s][0] == other[sizes[1 - s] - 1];
      if (!shared) std::reverse(chains[s], chains[s] + sizes[s]);
    }
    if (!SubdivideOnePolygon(t, chains[0], sizes[0], chains[1], sizes[1])) return false;
  }
  return true;
}

bool MeshOffsetter::Run(int walls, int keepSource, Thermometer& therm) {
  TrackingScope scope;
  limit_ = 0.95 * std::fabs(dist_);
  if (!Setup()) return false;
  MarkSharpVertices();
  therm.set(15);
  if (!OffsetVertices() || !CloseGaps()) return false;
  therm.set(20);
  if (walls && keepSource && !AddWalls()) return false;
  if (!CheckDistances(therm) || !CutEdges(therm) || !SubdividePolygons()) return false;
  therm.set(80);
  int* flags = MallocArray<int>(m_->ntri);
  if (!flags) return false;
  for (int t = 0; t < m_->ntri; ++t) flags[t] = t < ntsrc_ && !keepSource ? 1 : 0;
  if (!CloudSetSomeNormVerts(m_)) return false;
  return DeleteCldVertsAndPolys(m_, drop_, flags) == 1;
}

// Moves the points of the mesh's triangles that lie nearer the source than limit out along their
// shortest way to it, to limit: welding merges points that were each far enough into one that
// need not be (on the inside of a fold). A moved point may come nearer another part of the
// source, so a point is tried again, a few times at most.
bool PushOutNearPoints(Cloud* mesh, const Cloud* source, double limit, double reach) {
  TrackingScope scope;
  auto** heads = MallocArray<IndexNode*>(source->npts);
  auto* nodes = MallocArray<IndexNode>(source->ntri, 3);
  auto* radius = MallocArray<double>(source->npts);
  auto* used = CallocArray<unsigned char>(mesh->npts);
  if (!heads || !nodes || !radius || !used) return false;
  Owned<Subdiv, FreeSubdiv> grid;
  if (!InitPolycldStructs(source, reach * reach, heads, nodes, radius, grid.receive())) return false;
  for (int t = 0; t < mesh->ntri; ++t)
    for (int k = 0; k < 3; ++k) used[mesh->tri[t].v[k]] = 1;
  // Aimed a little beyond limit, so that rounding to float leaves the point outside.
  const double target = limit * (1.0 + 1e-6);
  for (int i = 0; i < mesh->npts; ++i) {
    if (!used[i]) continue;
    for (int pass = 0; pass < 4; ++pass) {
      double p[3], foot[3], bary[3];
      PointOf(mesh, i, p);
      float d = 0.0f;
      int vertex = -1, tri = -1;
      if (!MinDistPtPolyCld(p, source, source->ntri - 1, reach * reach, grid.get(), heads, radius, foot, &d, &vertex,
                            &tri, bary))
        break;
      const double away[3] = {p[0] - foot[0], p[1] - foot[1], p[2] - foot[2]};
      const double gap = VecSize3(away);
      if (gap >= limit || !(gap > 0.0)) break;
      double q[3];
      for (int k = 0; k < 3; ++k) q[k] = foot[k] + away[k] * (target / gap);
      Store(mesh->x, mesh->y, mesh->z, i, q);
    }
  }
  return true;
}

// A triangle's side as one of the two triangles (or more) on an edge sees it.
struct SideUse {
  int32_t lo, hi;  // the edge's ends, lo < hi
  int32_t side;    // 3 t + k: side k of triangle t, corners k and k + 1
  bool forward;    // the triangle runs the edge from lo to hi
};

// The uses of every edge, grouped by edge (sorted); null when memory runs out.
SideUse* SortedSideUses(const Cloud* mesh) {
  SideUse* uses = MallocArray<SideUse>(3, std::max(mesh->ntri, 1));
  if (!uses) return nullptr;
  for (int t = 0; t < mesh->ntri; ++t)
    for (int k = 0; k < 3; ++k) {
      const int32_t a = mesh->tri[t].v[k], b = mesh->tri[t].v[(k + 1) % 3];
      uses[3 * t + k] = SideUse{std::min(a, b), std::max(a, b), 3 * t + k, a < b};
    }
  std::sort(uses, uses + 3L * mesh->ntri, [](const SideUse& p, const SideUse& q) {
    return p.lo < q.lo || (p.lo == q.lo && (p.hi < q.hi || (p.hi == q.hi && p.side < q.side)));
  });
  return uses;
}

// 1 when every edge of the mesh is used by exactly two triangles running it opposite ways (a
// closed, consistently oriented surface), 0 when not, -1 when memory runs out.
int ClosedAndOriented(const Cloud* mesh) {
  TrackingScope scope;
  const SideUse* uses = SortedSideUses(mesh);
  if (!uses) return -1;
  const long n = 3L * mesh->ntri;
  for (long i = 0; i < n; i += 2)
    if (i + 1 >= n || uses[i + 1].lo != uses[i].lo || uses[i + 1].hi != uses[i].hi ||
        uses[i].forward == uses[i + 1].forward || (i + 2 < n && uses[i + 2].lo == uses[i].lo && uses[i + 2].hi == uses[i].hi))
      return 0;
  return 1;
}

// The local mending where patches cannot be turned over as wholes (a fold that ends inside a
// piece): a triangle is turned over alone while that leaves fewer of its edges run the same way by
// both their triangles, until none is; 1 when no edge is left so (the turns made), 0 otherwise
// (the mesh as it was). across and same as MendOrientation makes them.
int TurnSingleTriangles(Cloud* mesh, const int32_t* across, unsigned char* same) {
  TrackingScope scope;
  const int n = mesh->ntri;
  unsigned char* turned = CallocArray<unsigned char>(std::max(n, 1));
  if (!turned) return -1;
  for (bool any = true; any;) {
    any = false;
    for (int t = 0; t < n; ++t) {
      int against = 0, with = 0;
      for (int k = 0; k < 3; ++k)
        if (across[3 * t + k] >= 0) (same[3 * t + k] ? against : with) += 1;
      if (against <= with) continue;
      turned[t] ^= 1;
      any = true;
      for (int k = 0; k < 3; ++k) {
        const int o = across[3 * t + k];
        if (o >= 0) same[3 * t + k] ^= 1, same[o] ^= 1;
      }
    }
  }
  for (int side = 0; side < 3 * n; ++side)
    if (across[side] >= 0 && same[side]) return 0;
  for (int t = 0; t < n; ++t)
    if (turned[t]) {
      std::swap(mesh->tri[t].v[1], mesh->tri[t].v[2]);
      MakeCldPolyPlane(mesh, &mesh->tri[t]);
    }
  return 1;
}

// Where two triangles run an edge the same way, the patches between such edges are turned over
// so that every edge of two triangles is run both ways: the triangles are given a parity through
// their edges of two triangles (same across an agreeing edge, opposite across a disagreeing one),
// breadth first from the first triangle of each connected piece, and in each piece the parity
// that fewer triangles have is turned over (the piece keeps the way most of it faces). Where the
// parities contradict each other (a fold ending inside a piece), TurnSingleTriangles instead. 1
// done (the mesh then agrees across every edge of two triangles); 0 when an edge is open or no
// mending makes every edge agree; -1 when memory runs out. The mesh is changed only when it
// returns 1.
int MendOrientation(Cloud* mesh) {
  TrackingScope scope;
  const SideUse* uses = SortedSideUses(mesh);
  const int n = mesh->ntri;
  int32_t* across = MallocArray<int32_t>(3, std::max(n, 1));  // per side: the side beyond, -1 none
  unsigned char* same = MallocArray<unsigned char>(3, std::max(n, 1));  // per side: the other runs it the same way
  signed char* parity = MallocArray<signed char>(std::max(n, 1));
  int32_t* queue = MallocArray<int32_t>(std::max(n, 1));
  if (!uses || !across || !same || !parity || !queue) return -1;
  bool disagreeing = false;
  for (long i = 0; i < 3L * n;) {
    long j = i;
    while (j < 3L * n && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
    if (j - i == 1) return 0;  // an open edge
    for (long k = i; k < j; ++k) across[uses[k].side] = -1;
    if (j - i == 2) {
      across[uses[i].side] = uses[i + 1].side, across[uses[i + 1].side] = uses[i].side;
      same[uses[i].side] = same[uses[i + 1].side] = uses[i].forward == uses[i + 1].forward;
      disagreeing = disagreeing || uses[i].forward == uses[i + 1].forward;
    }
    i = j;
  }
  if (!disagreeing) return 1;
  std::fill(parity, parity + n, -1);
  for (int seed = 0; seed < n; ++seed) {
    if (parity[seed] >= 0) continue;
    int head = 0, tail = 0, turned = 0;
    parity[seed] = 0;
    queue[tail++] = seed;
    while (head < tail) {
      const int t = queue[head++];
      for (int k = 0; k < 3; ++k) {
        const int o = across[3 * t + k];
        if (o < 0) continue;
        const int want = parity[t] ^ same[3 * t + k];
        if (parity[o / 3] < 0) {
          parity[o / 3] = static_cast<signed char>(want);
          turned += want;
          queue[tail++] = o / 3;
        } else if (parity[o / 3] != want) {
          return TurnSingleTriangles(mesh, across, same);
        }
      }
    }
    // The piece is queue[0 .. tail): keep the way most of it faces.
    if (2 * turned > tail)
      for (int i = 0; i < tail; ++i) parity[queue[i]] ^= 1;
    for (int i = 0; i < tail; ++i) parity[queue[i]] += 2;  // done: 2 keep, 3 turn over
  }
  for (int t = 0; t < n; ++t)
    if (parity[t] == 3) {
      std::swap(mesh->tri[t].v[1], mesh->tri[t].v[2]);
      MakeCldPolyPlane(mesh, &mesh->tri[t]);
    }
  return 1;
}

// The edge-connected pieces of the mesh (triangles joined across edges of exactly two
// triangles): their number, and with piece (room ntri) each triangle's piece, numbered from 0 in
// the order of their first triangles; -1 when memory runs out.
int LabelPieces(const Cloud* mesh, int32_t* piece) {
  TrackingScope scope;
  const SideUse* uses = SortedSideUses(mesh);
  const int n = mesh->ntri;
  int32_t* parent = MallocArray<int32_t>(std::max(n, 1));
  if (!uses || !parent) return -1;
  for (int t = 0; t < n; ++t) parent[t] = t;
  const auto root = [parent](int t) {
    while (parent[t] != t) t = parent[t] = parent[parent[t]];
    return t;
  };
  int pieces = n;
  for (long i = 0; i < 3L * n;) {
    long j = i;
    while (j < 3L * n && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
    if (j - i == 2) {
      const int a = root(uses[i].side / 3), b = root(uses[i + 1].side / 3);
      if (a != b) parent[a] = b, --pieces;
    }
    i = j;
  }
  if (piece) {
    // A root's label goes into its own slot once it has one (roots come first or are met first).
    int next = 0;
    for (int t = 0; t < n; ++t) piece[t] = -1;
    for (int t = 0; t < n; ++t) {
      const int r = root(t);
      if (piece[r] < 0) piece[r] = next++;
      piece[t] = piece[r];
    }
  }
  return pieces;
}

int CountPieces(const Cloud* mesh) { return LabelPieces(mesh, nullptr); }

// An offset piece facing the source less than this (the area-weighted mean cosine between its
// triangles' normals and those of the source's nearest triangles) is a shell turned inside out,
// or a closed tent whose sides face both ways; a true offset piece faces the source's way all
// over (its triangles are the source's moved along their normals), so the mean is near 1.
constexpr double kLeastFacing = 0.5;
// An offset piece whose triangles' centroids lie, on area-weighted average, nearer the source than
// this part of |dist| is not where the offset is: the points of a true piece are at least 0.95
// |dist| away and its triangles' centroids fall short of that only by their sagitta.
constexpr double kLeastReach = 0.8;

// Drops the closed pieces an offset of a closed source should not have (bubbles the fold repair
// and the caps can leave): pieces facing against the source (kLeastFacing) or lying within it
// (kLeastReach), measured at the triangles' centroids against the source's nearest triangle
// within 2 |dist|, when there are two pieces or more. Returns the number of pieces dropped; -2
// when every piece is such a bubble (nothing dropped: no piece is where the offset should be),
// -1 when memory runs out (the mesh then as it was).
int DropBubbles(Cloud* mesh, const Cloud* source, double dist) {
  TrackingScope scope;
  const int n = mesh->ntri;
  const double reach = 2 * std::fabs(dist);
  int32_t* piece = MallocArray<int32_t>(std::max(n, 1));
  auto** heads = MallocArray<IndexNode*>(source->npts);
  auto* nodes = MallocArray<IndexNode>(source->ntri, 3);
  auto* radius = MallocArray<double>(source->npts);
  if (!piece || !heads || !nodes || !radius) return -1;
  const int pieces = LabelPieces(mesh, piece);
  if (pieces < 0) return -1;
  if (pieces < 2) return 0;  // one piece is the offset, however it was made
  double* sums = CallocArray<double>(pieces, 3);  // area, area x facing, area x distance / |dist|
  if (!sums) return -1;
  Owned<Subdiv, FreeSubdiv> grid;
  if (!InitPolycldStructs(source, reach * reach, heads, nodes, radius, grid.receive())) return -1;
  for (int t = 0; t < n; ++t) {
    double a[3], b[3], c[3], normal[3];
    PointOf(mesh, mesh->tri[t].v[0], a);
    PointOf(mesh, mesh->tri[t].v[1], b);
    PointOf(mesh, mesh->tri[t].v[2], c);
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    VecCrossProd3(u, w, normal);
    const double twice = VecSize3(normal);
    if (!(twice > 0)) continue;
    const double centroid[3] = {(a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3, (a[2] + b[2] + c[2]) / 3};
    double foot[3], bary[3];
    float d = 0.0f;
    int vertex = -1, tri = -1;
    double facing = 1, away = reach;  // beyond reach: as far as a true piece may be, facing its way
    if (MinDistPtPolyCld(centroid, source, source->ntri - 1, reach * reach, grid.get(), heads, radius, foot, &d,
                         &vertex, &tri, bary)) {
      double sa[3], sb[3], sc[3], sn[3];
      PointOf(source, source->tri[tri].v[0], sa);
      PointOf(source, source->tri[tri].v[1], sb);
      PointOf(source, source->tri[tri].v[2], sc);
      const double su[3] = {sb[0] - sa[0], sb[1] - sa[1], sb[2] - sa[2]},
                   sw[3] = {sc[0] - sa[0], sc[1] - sa[1], sc[2] - sa[2]};
      VecCrossProd3(su, sw, sn);
      const double size = VecSize3(sn);
      if (size > 0) facing = VecDotProd3(normal, sn) / (twice * size);
      const double off[3] = {centroid[0] - foot[0], centroid[1] - foot[1], centroid[2] - foot[2]};
      away = VecSize3(off);
    }
    double* sum = sums + 3 * piece[t];
    sum[0] += twice, sum[1] += twice * facing, sum[2] += twice * away / std::fabs(dist);
  }
  unsigned char* drop = CallocArray<unsigned char>(pieces);
  if (!drop) return -1;
  int dropped = 0;
  for (int k = 0; k < pieces; ++k) {
    const double* sum = sums + 3 * k;
    if (!(sum[1] >= kLeastFacing * sum[0] && sum[2] >= kLeastReach * sum[0])) drop[k] = 1, ++dropped;
  }
  if (dropped == 0 || dropped == pieces) return dropped == pieces ? -2 : 0;
  int kept = 0;
  for (int t = 0; t < n; ++t)
    if (!drop[piece[t]]) mesh->tri[kept++] = mesh->tri[t];
  mesh->ntri = kept;
  return dropped;
}

// Where no turning mends the result (a small tent of triangles folded over the surface), the
// triangles on every faulty edge (open, run the same way by both its triangles, or used more than
// twice) and one, two, then three rings of triangles round them are taken out, the holes capped
// (CapAllLoops), the patches turned (MendOrientation) and, with a source, the bubbles dropped
// (DropBubbles). The first attempt that leaves the mesh closed, run both ways across every edge,
// capped without a complaint and in no more pieces than it had is kept (1); failing that, the
// first that does so with a complaint (a cap laid across a fold of the mesh where no cap avoids
// it: the surface then crosses itself there, as folded offsets do, but stays closed and
// oriented); otherwise the mesh is put back as it was (0); -1 when memory runs out.
int MendFoldsLocally(Cloud* mesh, const Cloud* source, double dist) {
  TrackingScope scope;
  const int n0 = mesh->ntri;
  const int pieces = CountPieces(mesh);
  CloudTriangle* saved = MallocArray<CloudTriangle>(std::max(n0, 1));
  unsigned char* out = MallocArray<unsigned char>(std::max(n0, 1));
  unsigned char* near = MallocArray<unsigned char>(std::max(mesh->npts, 1));
  if (pieces < 0 || !saved || !out || !near) return -1;
  std::copy(mesh->tri, mesh->tri + n0, saved);
  std::fill(out, out + n0, 0);
  {
    TrackingScope uses_scope;
    const SideUse* uses = SortedSideUses(mesh);
    if (!uses) return -1;
    for (long i = 0; i < 3L * n0;) {
      long j = i;
      while (j < 3L * n0 && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
      if (j - i != 2 || uses[i].forward == uses[i + 1].forward)
        for (long k = i; k < j; ++k) out[uses[k].side / 3] = 1;
      i = j;
    }
  }
  const int status = zk_error_status;
  unsigned char* faulty = MallocArray<unsigned char>(std::max(n0, 1));
  if (!faulty) return -1;
  std::copy(out, out + n0, faulty);
  for (int attempt = 0; attempt < 6; ++attempt) {
    const int rings = 1 + attempt % 3;
    const bool strict = attempt < 3;
    if (rings == 1) std::copy(faulty, faulty + n0, out);
    std::fill(near, near + mesh->npts, 0);
    for (int t = 0; t < n0; ++t)
      if (out[t])
        for (int32_t v : saved[t].v) near[v] = 1;
    for (int t = 0; t < n0; ++t)
      for (int32_t v : saved[t].v) out[t] |= near[v];
    int kept = 0;
    for (int t = 0; t < n0; ++t)
      if (!out[t]) mesh->tri[kept++] = saved[t];
    mesh->ntri = kept;
    ClearKernelError();
    if (kept > 0 && CapAllLoops(mesh) && !MemoryErrorSet() && !(strict && KernelFailed())) {
      ClearKernelError();
      const int mended = MendOrientation(mesh);
      const int dropped = mended == 1 && source ? DropBubbles(mesh, source, dist) : 0;
      if (mended < 0 || dropped == -1) return -1;
      const int closed = mended == 1 && dropped >= 0 ? ClosedAndOriented(mesh) : 0;
      const int now = closed == 1 ? CountPieces(mesh) : 0;
      if (closed < 0 || now < 0) return -1;
      if (closed == 1 && now <= pieces) {
        SetKernelError(status);
        return 1;
      }
    }
    if (MemoryErrorSet()) return -1;
    if (!ReallocCldPolyList(mesh, n0)) return -1;
    std::copy(saved, saved + n0, mesh->tri);
    mesh->ntri = n0;
  }
  ClearKernelError();
  SetKernelError(status);
  return 0;
}

}  // namespace

Cloud* CreateOffsetPolyCloud(Cloud* mesh, double dist, double tol, int walls, const double bbox[6], int mode,
                             int keepSource) {
  if (!mesh || mesh->ntri < 1 || !mesh->tri) return nullptr;
  if (!std::isfinite(dist) || !MeshCornersNamePoints(mesh, nullptr) || !CloudPointsFinite(mesh) ||
      (bbox && !AllFinite(bbox, 6))) {
    SetKernelError(-2);
    return nullptr;
  }
  double own[6];
  GetCloudMinMax(mesh, &own[0], &own[1], &own[2], &own[3], &own[4], &own[5]);
  if (bbox) {
    // The edges are cut to a tenth of the box's diagonal: a box much smaller than the mesh would
    // cut it into more triangles than any offset needs (its square ratio per triangle).
    const double slack = 1e-3 * std::hypot(own[3] - own[0], own[4] - own[1], own[5] - own[2]);
    for (int k = 0; k < 3; ++k)
      if (bbox[k] > own[k] + slack || bbox[k + 3] < own[k + 3] - slack) {
        SetKernelError(-2);
        return nullptr;
      }
  }
  // A closed, consistently oriented source must give a result that is so too.
  const int closed = ClosedAndOriented(mesh);
  if (closed < 0) return nullptr;
  // A closed source's offset pieces are weighed against it after the caps (DropBubbles).
  Thermometer therm(nullptr);  // hidden on every way out
  for (float*& c : mesh->colour)
    if (c) Free(c), c = nullptr;
  mesh->colourFlag = 0;
  if (mesh->reliability) Free(mesh->reliability), mesh->reliability = nullptr;
  FreeCloudFarrays(mesh);
  therm.set(1);
  double box[6];
  std::copy(bbox ? bbox : own, (bbox ? bbox : own) + 6, box);
  const double diagonal = std::hypot(box[3] - box[0], box[4] - box[1], box[5] - box[2]);
  bool ok = diagonal > 0 && SubdivideCloudEdgesToTol(mesh, 0.1 * diagonal);
  therm.set(3);
  ok = ok && RemoveDegenCldPolys(mesh, tol, nullptr) >= 0 && mesh->ntri > 0;
  therm.set(10);
  ok = ok && (mesh->nx || CloudSetNormVerts(mesh));
  // The surface the offset keeps its distance from, past the weld.
  Owned<Cloud, FreeCloud> source;
  if (ok && !keepSource) {
    source.reset(CopyCloud(mesh));
    ok = source.get() != nullptr;
  }
  if (ok) {
    MeshOffsetter work(mesh, dist, mode);
    ok = work.Run(walls, keepSource, therm);
  }
  int splits = 0;
  ok = ok && JoinCldPolys(mesh, 0.1 * std::fabs(dist), 0.0, &splits, nullptr, 0);
  if (ok) therm.set(90);
  ok = ok && JoinCldPolys(mesh, 0.2 * std::fabs(dist), 0.0, &splits, nullptr, 0);
  ok = ok && (!source || PushOutNearPoints(mesh, source.get(), 0.95 * std::fabs(dist), 1.2 * std::fabs(dist)));
  if (ok) therm.set(95);
  if (ok) {
    // A loop the capper reports (capped over a fold of the mesh, or left open as the slits of
    // mode 1 are) does not fail the offset; only running out of memory does here.
    const int status = zk_error_status;
    ok = CapAllLoops(mesh) && !MemoryErrorSet();
    if (ok) SetKernelError(status);
  }
  if (ok && closed) {
    const int dropped = source ? DropBubbles(mesh, source.get(), dist) : 0;
    int mended = dropped == -1 ? -1 : dropped == -2 ? 0 : MendOrientation(mesh);
    if (mended == 0 && dropped != -2) mended = MendFoldsLocally(mesh, source.get(), dist);
    ok = mended >= 0;
    if (mended == 0) SetKernelError(-2);
  }
  source.reset();
  // On every way out: normals of the new points, isVert over the grown point set, the arrays
  // trimmed to their counts.
  CloudSetSomeNormVerts(mesh);
  if (mesh->isVert) CloudSetIsVerts(mesh);
  const bool trimmed = ReallocCldXYZArrays(mesh, mesh->npts) && ReallocCldPolyList(mesh, mesh->ntri);
  // Points of a finite mesh moved past the float range make no offset either.
  if (!ok || !trimmed || KernelFailed() || !CloudPointsFinite(mesh)) return MadeOrFailed<Cloud>(nullptr);
  therm.finish();
  return mesh;
}
