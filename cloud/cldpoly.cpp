#include "cloud/cldpoly.h"

#include <cmath>

#include "cloud/pgr2cld.h"
#include "foundation/coreglob.h"
#include "foundation/umalloc.h"
#include "foundation/vec3.h"

int MeshCornersNamePoints(const Cloud* mesh, const int* triangleFlags) {
  if (!mesh) return 0;
  if (!mesh->tri) return 1;
  const int n = mesh->npts;
  for (int t = 0; t < mesh->ntri; ++t)
    if ((!triangleFlags || triangleFlags[t] != 1) && !CornersNamePoints(mesh->tri[t].v, n)) return 0;
  return 1;
}

int CloudPointsFinite(const Cloud* cloud) {
  if (!cloud) return 0;
  if (cloud->npts < 1) return 1;
  if (!cloud->x || !cloud->y || !cloud->z) return 0;
  for (int i = 0; i < cloud->npts; ++i)
    if (!std::isfinite(cloud->x[i]) || !std::isfinite(cloud->y[i]) || !std::isfinite(cloud->z[i])) return 0;
  return 1;
}

int RunsNamePoints(const int32_t* first, const int32_t* last, int count, int npts) {
  if (count < 1) return 1;
  if (!first || !last) return 0;
  for (int k = 0; k < count; ++k)
    if (first[k] < 0 || first[k] > last[k] || last[k] >= npts) return 0;
  return 1;
}

int CloudScansNamePoints(const Cloud* cloud) {
  if (!cloud) return 0;
  if (!cloud->scanStart || !cloud->scanEnd) return 1;
  if (!RunsNamePoints(cloud->scanStart, cloud->scanEnd, cloud->nscans, cloud->npts)) return 0;
  for (int k = 1; k < cloud->nscans; ++k)
    if (cloud->scanStart[k] <= cloud->scanEnd[k - 1]) return 0;
  return 1;
}

void MakePolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes) {
  for (int i = 0; i < mesh->npts; ++i) heads[i] = nullptr;
  IndexNode* node = nodes;
  for (int t = 0; t < mesh->ntri; ++t) {
    for (int k = 0; k < 3; ++k, ++node) {
      const int32_t v = mesh->tri[t].v[k];
      node->next = heads[v];
      node->index = t;
      heads[v] = node;
    }
  }
}

IndexNode** NewPolyPointers(const Cloud* mesh) {
  if (!MeshCornersNamePoints(mesh, nullptr)) return nullptr;
  IndexNode** heads = MallocArray<IndexNode*>(mesh->npts);
  IndexNode* nodes = MallocArray<IndexNode>(3, mesh->ntri);
  if (!heads || !nodes || KernelFailed()) return nullptr;
  MakePolyPointers(mesh, heads, nodes);
  return heads;
}

int IntInArray(int32_t value, const int32_t* array, int n, int* position) {
  for (int i = 0; i < n; ++i) {
    if (array[i] == value) {
      if (position) *position = i;
      return 1;
    }
  }
  return 0;
}

void FindPolyVertsAndNorms(const Cloud* mesh, int t, int32_t v[3], double pts[3][3], double norms[3][3]) {
  if (!TriangleNamesPoints(mesh, t)) {
    for (int k = 0; k < 3; ++k) {
      if (v) v[k] = -1;
      if (pts) pts[k][0] = pts[k][1] = pts[k][2] = 0.0;
      if (norms) norms[k][0] = norms[k][1] = norms[k][2] = 0.0;
    }
    return;
  }
  const CloudTriangle& tr = mesh->tri[t];
  for (int k = 0; k < 3; ++k) {
    const int32_t i = tr.v[k];
    if (v) v[k] = i;
    if (pts) GetCldPoint(mesh, i, pts[k]);
    if (norms) {
      if (mesh->nx && mesh->ny && mesh->nz) {
        const double n[3] = {mesh->nx[i], mesh->ny[i], mesh->nz[i]};
        VecNormalize3(n, norms[k]);
      } else {
        norms[k][0] = norms[k][1] = norms[k][2] = 0.0;
      }
    }
  }
}
