#include "cloud/pnterr.h"

#include <algorithm>
#include <cmath>

#include "cloud/cldpoly.h"
#include "cloud/makecld.h"
#include "cloud/pgr2cld.h"
#include "cloud/psubdiv.h"
#include "cloud/putil.h"
#include "foundation/coreglob.h"
#include "foundation/geo2.h"
#include "foundation/minmax.h"
#include "foundation/umalloc.h"

int CldArrayTypeExists(const Cloud* cloud, int type) {
  if (!cloud || cloud->farrays.count < 1 || !cloud->farrays.types) return -1;
  for (int i = 0; i < cloud->farrays.count; ++i)
    if (cloud->farrays.types[i] == type) return i;
  return -1;
}

int RemoveCldArrayType(Cloud* cloud, int type) {
  const int i = CldArrayTypeExists(cloud, type);
  if (i < 0) return -1;
  CloudFarrays& f = cloud->farrays;
  int w = type == 0 ? 4 : 1;
  if (i + w > f.count) w = f.count - i;  // a group cut short by hand loses what it has
  for (int k = i; k < i + w; ++k) Free(f.arrays[k]);
  for (int k = i + w; k < f.count; ++k) f.arrays[k - w] = f.arrays[k], f.types[k - w] = f.types[k];
  f.count -= w;
  if (f.count == 0) {
    FreeAndNull(f.arrays);
    FreeAndNull(f.types);
    return 0;
  }
  // Shrinking cannot lose data: a refused shrink keeps the longer lists.
  if (float** a = ReallocArray(f.arrays, f.count)) f.arrays = a;
  if (int32_t* t = ReallocArray(f.types, f.count)) f.types = t;
  return 0;
}

int AdoptDifferenceGroup(Cloud* cloud, float* group[4]) {
  CloudFarrays& f = cloud->farrays;
  float** arrays;
  int32_t* types;
  {
    UntrackedScope own;  // the lists belong to the cloud
    arrays = ReallocArray(f.arrays, f.count + 4);
    if (arrays) f.arrays = arrays;
    types = arrays ? ReallocArray(f.types, f.count + 4) : nullptr;
    if (types) f.types = types;
  }
  if (!arrays || !types || KernelFailed()) return 0;
  for (int k = 0; k < 4; ++k) {
    RemoveMallocFromTrack(group[k]);
    f.arrays[f.count + k] = group[k];
    f.types[f.count + k] = k;
  }
  f.count += 4;
  return 1;
}

namespace {

// Four arrays of n floats in the caller's scope; false on no memory.
bool NewGroup(int n, float* group[4]) {
  for (int k = 0; k < 4; ++k) group[k] = MallocArray<float>(n > 0 ? n : 1);
  return group[0] && group[1] && group[2] && group[3] && !KernelFailed();
}

void SetNoMatch(float* group[4], int i) {
  for (int k = 0; k < 4; ++k) group[k][i] = kNoMatchDeviation;
}

// The cell of p, each index held into the grid; false when its truncated index lies below -1 or
// above the cell count (p about a cell or more outside the box).
bool CellOf(const Subdiv* grid, const double p[3], const double size[3], int* cell) {
  const double origin[3] = {grid->minX, grid->minY, grid->minZ};
  const int cells[3] = {grid->ncellsX, grid->ncellsY, grid->ncellsZ};
  int j[3];
  for (int a = 0; a < 3; ++a) {
    const double t = (p[a] - origin[a]) / size[a];
    if (!(t > -2.0) || t >= cells[a] + 1.0) return false;
    j[a] = t < 0.0 ? 0 : static_cast<int>(t);
    if (j[a] > cells[a] - 1) j[a] = cells[a] - 1;
  }
  *cell = j[0] + j[1] * cells[0] + j[2] * cells[0] * cells[1];
  return true;
}

// How far from vertex j a point p can lie and still have a point of one of j's triangles within
// sqrt(b): every point of a triangle lies within its longest edge at j of j, that is within
// 2 sqrt(r) (r the vertex's largest squared edge / 4), widened past the rounding of the sum.
double TriangleReach(double r, double b) {
  const double h = std::sqrt(b) + 2.0 * std::sqrt(r);
  return h + 1e-12 * h;
}

// Half the side of a cube about vertex pj holding every p within TriangleReach of it, the
// vertices MinDistPtPolyCld reads: widened past the rounding of the cube's sides about
// coordinates far from the origin. NaN when nothing can pass.
double VertexReach(double r, double maxDistSq, const double pj[3]) {
  const double far = std::max({std::fabs(pj[0]), std::fabs(pj[1]), std::fabs(pj[2])});
  const double h = TriangleReach(r, maxDistSq);
  return h + 1e-9 * h + 1e-14 * far;
}

// Where vertices crowd a cell of the grid (a few vertices orders of magnitude beyond the rest
// size it by their edges), a tree over the vertices whose nodes hold their reach cubes, so a
// search reads only the vertices that can pass rather than the whole cell.
bool BuildReachTree(const Cloud* mesh, const double* r, double maxDistSq, Subdiv* grid) {
  TrackingScope scope;
  const int n = mesh->npts;
  // The tree reads its own copy of the points: callers grow the mesh's arrays (new points) while
  // the grid serves them.
  float* xyz = MallocArray<float>(3, n);
  double* boxes = MallocArray<double>(6, n);
  if (!xyz || !boxes) return false;
  std::copy(mesh->x, mesh->x + n, xyz);
  std::copy(mesh->y, mesh->y + n, xyz + n);
  std::copy(mesh->z, mesh->z + n, xyz + 2L * n);
  for (int j = 0; j < n; ++j) {
    double pj[3];
    GetCldPoint(mesh, j, pj);
    const double h = VertexReach(r[j], maxDistSq, pj);
    for (int a = 0; a < 3; ++a) boxes[6L * j + a] = pj[a] - h, boxes[6L * j + 3 + a] = pj[a] + h;
  }
  NearTree* tree = BuildNearTree(xyz, xyz + n, xyz + 2L * n, n);
  if (!tree) return false;
  WidenNearTree(tree, boxes);
  Free(boxes);
  tree->own = xyz;
  scope.keep();  // the copy goes with the tree, outside every scope as the grid is
  grid->tree = tree;
  return true;
}

}  // namespace

Subdiv* CreateSubdivisionStruct(SegmentSet** sets, int nsets, double maxDist) {
  if (!sets || nsets < 1) return nullptr;
  long total = 0;
  double Q = -1.0;
  for (int s = 0; s < nsets; ++s) {
    const SegmentSet* set = sets[s];
    if (!set || set->nseg < 1) continue;
    total += 2L * set->nseg;
    for (int k = 0; k < set->nseg; ++k) {
      const double dx = double(set->x[2 * k + 1]) - set->x[2 * k], dy = double(set->y[2 * k + 1]) - set->y[2 * k],
                   dz = double(set->z[2 * k + 1]) - set->z[2 * k];
      const double q = (dx * dx + dy * dy + dz * dz) / 4.0;
      if (q > Q) Q = q;
    }
  }
  if (total < 1 || total > 0x7fffffff) return nullptr;
  TrackingScope scope;
  float* x = MallocArray<float>(total);
  float* y = MallocArray<float>(total);
  float* z = MallocArray<float>(total);
  if (!x || !y || !z || KernelFailed()) return nullptr;
  int m = 0;
  for (int s = 0; s < nsets; ++s) {
    const SegmentSet* set = sets[s];
    if (!set || set->nseg < 1) continue;
    for (int k = 0; k < 2 * set->nseg; ++k, ++m) x[m] = set->x[k], y[m] = set->y[k], z[m] = set->z[k];
  }
  double box[6];
  GetMinMaxF(x, m, &box[0], &box[3]);
  GetMinMaxF(y, m, &box[1], &box[4]);
  GetMinMaxF(z, m, &box[2], &box[5]);
  return SubdivideArrays(x, y, z, m, box[0], box[1], box[2], box[3], box[4], box[5],
                         std::sqrt(maxDist * maxDist + Q), 96);
}

int CloudToPolylinesDiff(Cloud* cloud, SegmentSet** sets, int nsets, double maxDist, const Subdiv* grid) {
  if (!grid || !cloud) return 0;
  const double gsize[3] = {grid->sizeX, grid->sizeY, grid->sizeZ};
  double size[3];
  for (int a = 0; a < 3; ++a) {
    size[a] = gsize[a] > 2.0 * maxDist ? gsize[a] : 2.0 * maxDist;
    if (!(size[a] >= 1e-10)) size[a] = 1e-10;
  }
  TrackingScope scope;
  float* group[4];
  if (!NewGroup(cloud->npts, group)) return 0;
  // End point e of the gathered list belongs to the set whose run of 2 nseg numbers holds it.
  int* setOf = MallocArray<int>(nsets + 1);
  if (!setOf || KernelFailed()) return 0;
  setOf[0] = 0;
  for (int s = 0; s < nsets; ++s) setOf[s + 1] = setOf[s] + (sets[s] && sets[s]->nseg > 0 ? 2 * sets[s]->nseg : 0);
  for (int i = 0; i < cloud->npts; ++i) {
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    double best = 3.3748289e38, bestFoot[3] = {0, 0, 0};
    bool found = false;
    int cell;
    if (CellOf(grid, p, size, &cell)) {
      const SubdivCell& c = grid->cells[cell];
      for (int k = 0; k < c.count; ++k) {
        const int e = c.items[k];
        int s = 0;
        while (s < nsets && e >= setOf[s + 1]) ++s;
        if (s >= nsets) continue;
        const int a = (e - setOf[s]) & ~1;
        const SegmentSet* set = sets[s];
        const double A[3] = {set->x[a], set->y[a], set->z[a]}, B[3] = {set->x[a + 1], set->y[a + 1], set->z[a + 1]};
        double foot[3], d2, t;
        LineSegPntMinDistSq(p, A, B, foot, &d2, &t);
        if (d2 < best) {
          best = d2, found = true;
          for (int q = 0; q < 3; ++q) bestFoot[q] = foot[q];
        }
      }
    }
    // Whether a segment was found decides, not the size of the distance: far points of a large
    // model are matches too.
    if (!found) {
      SetNoMatch(group, i);
      continue;
    }
    group[0][i] = float(std::sqrt(best));
    for (int q = 0; q < 3; ++q) group[q + 1][i] = float(bestFoot[q]);
  }
  RemoveCldArrayType(cloud, 0);
  if (!AdoptDifferenceGroup(cloud, group)) return 0;
  return 1;  // the scope frees the scratch; the group's arrays left it when adopted
}

int Compare2Clouds(const Cloud* ref, Cloud* cloud) {
  if (!ref || !cloud || ref->npts != cloud->npts) return 0;
  RemoveCldArrayType(cloud, 0);
  TrackingScope scope;
  float* group[4];
  if (!NewGroup(cloud->npts, group)) return 0;
  for (int i = 0; i < cloud->npts; ++i) {
    const double d[3] = {double(ref->x[i]) - cloud->x[i], double(ref->y[i]) - cloud->y[i],
                         double(ref->z[i]) - cloud->z[i]};
    double dev = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (ref->nx && ref->nx[i] * d[0] + ref->ny[i] * d[1] + ref->nz[i] * d[2] < 0.0) dev = -dev;
    group[0][i] = float(dev);
    group[1][i] = ref->x[i], group[2][i] = ref->y[i], group[3][i] = ref->z[i];
  }
  if (!AdoptDifferenceGroup(cloud, group)) return 0;
  return 1;
}

int GetOutOfTolCldPts(Cloud** clouds, int nclouds, double posOuter, double posInner, double negInner,
                      double negOuter, int useAbs, int flagOuter, int flagBand, int* nWithin, int* nInner) {
  *nWithin = *nInner = 0;
  int outside = 0;
  for (int c = 0; c < nclouds; ++c) {
    Cloud* cloud = clouds[c];
    const int g = CldArrayTypeExists(cloud, 0);
    if (g < 0) continue;
    const float* dev = cloud->farrays.arrays[g];
    const bool flags = (flagOuter || flagBand) && cloud->labels && AllocateIsShowLabels(cloud);
    for (int i = 0; i < cloud->npts; ++i) {
      const float d = useAbs ? std::fabs(dev[i]) : dev[i];
      const bool positive = d >= 0.0f;
      const bool out = positive ? d > posOuter : d < negOuter;
      const bool inner = positive ? d <= posInner : d >= negInner;
      if (out) {
        ++outside;
      } else {
        ++*nWithin;
        if (inner) ++*nInner;
      }
      if (!flags) continue;
      // The label bits take the side from the float's sign bit, as the display always has.
      const bool negative = std::signbit(d);
      const bool labelOut = negative ? d < negOuter : d > posOuter;
      const bool labelInner = negative ? d >= negInner : d <= posInner;
      const bool set = (labelOut && flagOuter) || !(labelInner || !flagBand);
      uint8_t& byte = cloud->labelIsShow[i >> 3];
      const uint8_t bit = uint8_t(1u << (i & 7));
      byte = set ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    }
  }
  return outside;
}

int SplitDifferenceResults(const Cloud* whole, Cloud** parts, int nparts) {
  const int g = CldArrayTypeExists(whole, 0);
  if (g < 0 || g + 4 > whole->farrays.count) return 0;
  long total = 0;
  for (int p = 0; p < nparts; ++p) total += parts[p] ? parts[p]->npts : 0;
  if (total > whole->npts) return 0;  // the runs would read past the whole's arrays
  for (int p = 0; p < nparts; ++p)
    if (parts[p]) RemoveCldArrayType(parts[p], 0);
  TrackingScope scope;
  int run = 0;
  for (int p = 0; p < nparts; ++p) {
    Cloud* part = parts[p];
    if (!part) continue;
    float* group[4];
    if (!NewGroup(part->npts, group)) return 0;
    for (int k = 0; k < 4; ++k)
      for (int i = 0; i < part->npts; ++i) group[k][i] = whole->farrays.arrays[g + k][run + i];
    if (!AdoptDifferenceGroup(part, group)) return 0;
    // The whole's type codes travel with its values.
    for (int k = 0; k < 4; ++k) part->farrays.types[part->farrays.count - 4 + k] = whole->farrays.types[g + k];
    run += part->npts;
  }
  return 1;
}

// ---- Distances to a triangle mesh ------------------------------------------------------------

int InitPolycldStructs(const Cloud* mesh, double maxDistSq, IndexNode** heads, IndexNode* nodes, double* r,
                       Subdiv** grid) {
  *grid = nullptr;
  if (!MeshCornersNamePoints(mesh, nullptr)) return 0;
  const int n = mesh->npts;
  MakePolyPointers(mesh, heads, nodes);
  double R = -1.0;
  for (int j = 0; j < n; ++j) {
    double pj[3], best = 0.0;
    GetCldPoint(mesh, j, pj);
    for (const IndexNode* node = heads[j]; node; node = node->next) {
      const CloudTriangle& t = mesh->tri[node->index];
      for (int k = 0; k < 3; ++k) {
        if (t.v[k] == j) continue;
        double pk[3];
        GetCldPoint(mesh, t.v[k], pk);
        const double q = ((pj[0] - pk[0]) * (pj[0] - pk[0]) + (pj[1] - pk[1]) * (pj[1] - pk[1]) +
                          (pj[2] - pk[2]) * (pj[2] - pk[2])) / 4.0;
        if (q > best) best = q;
      }
    }
    r[j] = best;
    if (best > R) R = best;
  }
  double box[6];
  GetCloudMinMax(mesh, &box[0], &box[1], &box[2], &box[3], &box[4], &box[5]);
  // Every point of a triangle lies within its longest edge over sqrt(3) of its nearest corner
  // (2 sqrt(R / 3) at most), so a point within sqrt(maxDistSq) of a triangle has a corner of it
  // within this length, and the corner is among the items of the point's cell.
  const double len = std::sqrt(maxDistSq > 0.0 ? maxDistSq : 0.0) + 2.0 * std::sqrt((R > 0.0 ? R : 0.0) / 3.0);
  *grid = SubdivideArrays(mesh->x, mesh->y, mesh->z, n, box[0], box[1], box[2], box[3], box[4], box[5],
                          len * (1.0 + 1e-12), SubdivDivisionsFor(n, box));
  if (!*grid) return 0;
  const int ncells = (*grid)->ncellsX * (*grid)->ncellsY * (*grid)->ncellsZ;
  bool crowded = false;
  for (int c = 0; c < ncells && !crowded; ++c) crowded = (*grid)->cells[c].count > kCrowdedCells;
  if (crowded && !BuildReachTree(mesh, r, maxDistSq, *grid)) {
    FreeSubdiv(*grid);
    *grid = nullptr;
    return 0;
  }
  return 1;
}

int MinDistPtPolyCld(const double p[3], const Cloud* mesh, int maxTri, double maxDistSq, const Subdiv* grid,
                     IndexNode* const* heads, const double* r, double foot[3], float* dist, int* nearestVertex,
                     int* triangle, double bary[3]) {
  *nearestVertex = -1, *triangle = -1, *dist = kNoMatchDeviation;
  // A flat mesh has cells of size 0 across its plane: there the search radius is the cell, or
  // every point off the plane would lie "outside the grid" (the segment search does the same).
  const double reach = 2.0 * std::sqrt(maxDistSq > 0.0 ? maxDistSq : 0.0);
  double size[3] = {grid->sizeX, grid->sizeY, grid->sizeZ};
  for (double& s : size) s = s > reach ? s : (reach > 1e-10 ? reach : 1e-10);
  int cell;
  if (!CellOf(grid, p, size, &cell)) return 0;
  const SubdivCell& c = grid->cells[cell];
  double b = maxDistSq;
  int best = -1;
  const auto consider = [&](int j) {
    if (mesh->isVert && !((mesh->isVert[j >> 3] >> (j & 7)) & 1)) return;
    double pj[3];
    GetCldPoint(mesh, j, pj);
    const double w[3] = {pj[0] - p[0], pj[1] - p[1], pj[2] - p[2]};
    const double d2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2];
    // The triangles around j reach no farther from j than its longest edge.
    const double reach = TriangleReach(r[j], b);
    if (!(reach * reach >= d2)) return;
    for (const IndexNode* node = heads[j]; node; node = node->next) {
      const int t = node->index;
      if (t == best || t > maxTri) continue;
      const CloudTriangle& T = mesh->tri[t];
      double m = 0.0;
      for (int v = 0; v < 3; ++v) {
        if (T.v[v] == j) continue;
        double pv[3];
        GetCldPoint(mesh, T.v[v], pv);
        const double e2 = (pv[0] - pj[0]) * (pv[0] - pj[0]) + (pv[1] - pj[1]) * (pv[1] - pj[1]) +
                          (pv[2] - pj[2]) * (pv[2] - pj[2]);
        if (e2 > m) m = e2;
      }
      const double within = std::sqrt(m) + std::sqrt(b);
      if (!(within * within * (1.0 + 1e-12) >= d2)) continue;  // every point of T lies within sqrt(m) of j
      double A[3], B[3], C[3], f[3], e, s, u;
      GetCldPoint(mesh, T.v[0], A);
      GetCldPoint(mesh, T.v[1], B);
      GetCldPoint(mesh, T.v[2], C);
      // The triangle's plane alone farther than the best so far rules it out. The normal is taken
      // from the corners, not the stored plane: a triangle of no area stores a made-up normal
      // whose "plane" would rule out the segment it is (and the margin covers rounding).
      const double e1[3] = {B[0] - A[0], B[1] - A[1], B[2] - A[2]}, e2[3] = {C[0] - A[0], C[1] - A[1], C[2] - A[2]};
      const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
      const double h = n[0] * w[0] + n[1] * w[1] + n[2] * w[2];
      if (h * h > b * (n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) * (1.0 + 1e-9)) continue;
      if (TriangPntMinDistSq(p, A, B, C, f, &e, &s, &u) != 0 || !(e < b)) continue;
      b = e, best = t;
      for (int q = 0; q < 3; ++q) foot[q] = f[q];
      bary[0] = s, bary[1] = u, bary[2] = 1.0 - s - u;
    }
  };
  if (grid->tree && c.count > kCrowdedCells) {
    // The vertices that can pass the test above (b never exceeds maxDistSq; the margin covers
    // any rounding of d2 apart from the test's), in ascending order as a cell lists them: the
    // same vertices pass in the same order, so the answer is the cell's.
    TrackingScope scope;
    int32_t local[256];
    int32_t* list = local;
    long room = 256, count = 0;
    bool failed = false;
    SearchNearTree(
        *grid->tree, p, [&] { return failed ? -1.0 : 0.0; },
        [&](int j, double d2) {
          const double reach = TriangleReach(r[j], maxDistSq);
          if (failed || !(reach * reach * (1.0 + 1e-12) >= d2)) return;
          if (count == room) {
            int32_t* more = MallocArray<int32_t>(2 * room);
            if (!more) {
              failed = true;
              return;
            }
            std::copy(list, list + count, more);
            list = more, room *= 2;
          }
          list[count++] = j;
        });
    if (failed) return 0;
    std::sort(list, list + count);
    for (long k = 0; k < count; ++k) consider(list[k]);
  } else {
    for (int k = 0; k < c.count; ++k) consider(c.items[k]);
  }
  if (best < 0) return 0;
  const CloudTriangle& T = mesh->tri[best];
  double nearest = kNoValue;
  for (int v = 0; v < 3; ++v) {
    double pv[3];
    GetCldPoint(mesh, T.v[v], pv);
    const double d2 = (pv[0] - p[0]) * (pv[0] - p[0]) + (pv[1] - p[1]) * (pv[1] - p[1]) + (pv[2] - p[2]) * (pv[2] - p[2]);
    if (d2 < nearest) nearest = d2, *nearestVertex = T.v[v];
  }
  *triangle = best;
  const double side = (p[0] - foot[0]) * T.plane[0] + (p[1] - foot[1]) * T.plane[1] + (p[2] - foot[2]) * T.plane[2];
  *dist = float(side >= 0.0 ? std::sqrt(b) : -std::sqrt(b));
  return 1;
}

int PolycldToCldDiff(const Cloud* mesh, Cloud* cloud, double maxDistSq, int* nearestVertex, int* triangle,
                     double* bary) {
  if (!mesh || !cloud || !MeshCornersNamePoints(mesh, nullptr)) return 0;
  RemoveCldArrayType(cloud, 0);
  if (mesh->npts < 1 || mesh->ntri < 1 || !mesh->tri) return 0;
  TrackingScope scope;
  double* r = MallocArray<double>(mesh->npts);
  IndexNode** heads = MallocArray<IndexNode*>(mesh->npts);
  IndexNode* nodes = MallocArray<IndexNode>(3, mesh->ntri);
  float* group[4];
  if (!r || !heads || !nodes || !NewGroup(cloud->npts, group)) return 0;
  Subdiv* made = nullptr;
  const int built = InitPolycldStructs(mesh, maxDistSq, heads, nodes, r, &made);
  Owned<Subdiv, FreeSubdiv> grid(made);
  if (!built || KernelFailed()) return 0;
  Thermometer thermo(nullptr);
  // 5 percent per mark; few points bring the marks together and the thermometer holds 100.
  const int unit = static_cast<int>(cloud->npts * 0.01) * 5;
  int mark = 0, percent = 0, found = 0;
  for (int i = 0; i < cloud->npts; ++i) {
    if (i > mark) {
      thermo.set(percent);
      percent += 5;
      mark += unit;
    }
    const double p[3] = {cloud->x[i], cloud->y[i], cloud->z[i]};
    double foot[3], w[3] = {0.0, 0.0, 0.0};
    int vertex, t;
    float d;
    const int hit = MinDistPtPolyCld(p, mesh, mesh->ntri - 1, maxDistSq, grid.get(), heads, r, foot, &d, &vertex, &t, w);
    group[0][i] = d;
    for (int k = 0; k < 3; ++k) group[k + 1][i] = hit ? float(foot[k]) : kNoMatchDeviation;
    found += hit;
    if (nearestVertex) nearestVertex[i] = vertex;
    if (triangle) triangle[i] = t;
    if (bary) bary[2 * i] = w[0], bary[2 * i + 1] = w[1];
  }
  thermo.finish();
  if (found == 0) return 0;
  grid.reset();
  return AdoptDifferenceGroup(cloud, group);
}
