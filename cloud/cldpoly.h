// The few mesh-topology services the cloud floor itself needs: the index-list node that every
// mesh list family is made of, vertex-to-triangle lists, a short-array search and a triangle's
// corners, points and vertex normals. The rest of the mesh topology (edge tables, boundary
// loops) builds on these in mesh/cldpoly.
//
// Corner k (0, 1, 2) of triangle t has the number 3t + k; edge k of triangle t joins v[k] and
// v[(k + 1) mod 3], so corner 3t + k also names that edge of the triangle.
#pragma once

#include <cstdint>

#include "foundation/cloudrec.h"

// A node of a singly linked index list. Every list family keeps an array of heads (null =
// empty) and takes its nodes from one block the caller allocates in advance: nodes are never
// freed one at a time, an unlinked node simply stays in its block.
struct IndexNode {
  IndexNode* next;
  int32_t index;
};

// 1 when the three corner numbers v name points of a mesh of npts points (each in 0 .. npts - 1),
// else 0. Scans and exported meshes carry triangles that name no point: the decimations drop
// them, the other mesh tools refuse a mesh holding one (MeshCornersNamePoints). The count is
// passed, not the mesh: loops that store ints as they check would reload it from the mesh.
inline int CornersNamePoints(const int32_t v[3], int npts) {
  // One unsigned compare also catches the negative numbers.
  const auto n = static_cast<uint32_t>(npts);
  return static_cast<uint32_t>(v[0]) < n && static_cast<uint32_t>(v[1]) < n && static_cast<uint32_t>(v[2]) < n;
}
// 1 when t numbers one of the mesh's triangles (0 .. ntri - 1, with a triangle array), else 0:
// the queries on one triangle check it first, since a number from elsewhere (another mesh, a
// list made before a decimation) would read past the array.
inline int TriangleInMesh(const Cloud* mesh, int t) {
  return mesh && mesh->tri && t >= 0 && t < mesh->ntri;
}
// TriangleInMesh, and the triangle's corners name points: the check of a query that reads them.
inline int TriangleNamesPoints(const Cloud* mesh, int t) {
  return TriangleInMesh(mesh, t) && CornersNamePoints(mesh->tri[t].v, mesh->npts);
}
// 1 when CornersNamePoints holds for every triangle whose flag is not 1 (triangleFlags: one per
// triangle, may be null), else 0: one pass over the corners, the check the mesh tools make before
// reading a mesh's triangles. A mesh without a triangle array passes, a null mesh does not.
int MeshCornersNamePoints(const Cloud* mesh, const int* triangleFlags);
// 1 when every one of the cloud's npts points has finite coordinates, else 0 (also for missing
// coordinate arrays with points, or a null cloud): the check the mesh and cloud tools that size grids, lengths or
// subdivisions from the points make first, since one NaN or infinity makes every such size
// meaningless.
int CloudPointsFinite(const Cloud* cloud);
// 1 when each of the count runs first[k] .. last[k] names points, 0 <= first[k] <= last[k] < npts
// (count < 1 passes; null arrays with runs do not), else 0: the check of a reader that walks a
// cloud's strings of points (scans, slices) by their ends.
int RunsNamePoints(const int32_t* first, const int32_t* last, int count, int npts);
// 1 when a cloud with both scan arrays has scans that name its points (RunsNamePoints over
// nscans) one after another, each beginning past the end of the one before; a cloud without them
// passes. Else 0 (a null cloud too): the check the cloud tools make before they walk or renumber
// the scans.
int CloudScansNamePoints(const Cloud* cloud);

// Vertex-to-triangle lists: heads[npts] are set, nodes (3 ntri of them) are taken in order, the
// node of corner k of triangle t being nodes[3t + k]. Each list runs from the highest triangle
// number down. Every corner must name a point (MeshCornersNamePoints): the lists are indexed by
// them unchecked.
void MakePolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes);
// The same lists in two blocks of the caller's tracking scope (freed with it): the heads, or
// null when memory runs out, the mesh is null or a corner names no point.
IndexNode** NewPolyPointers(const Cloud* mesh);

// 1 when value is among the first n entries of array (position, when given, receives the first
// place it holds), else 0; 0 for n < 1. A linear scan, meant for short arrays.
int IntInArray(int32_t value, const int32_t* array, int n, int* position);

// Fills what is asked of triangle t: its three vertex numbers (v), its three points widened to
// doubles (pts) and its three vertex normals made unit (norms). A mesh without normals gives
// (0, 0, 0), the marker of a point without a reliable normal. When t is no triangle of the mesh
// or a corner names no point: vertex numbers -1, points and normals (0, 0, 0).
void FindPolyVertsAndNorms(const Cloud* mesh, int t, int32_t v[3], double pts[3][3], double norms[3][3]);
