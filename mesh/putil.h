// Repair of triangle meshes: degenerate triangles (short edges, small triangles, slivers) and
// triangles around edges shared by three or more triangles. Both work in place and leave vertex
// normals as they were (callers recompute them where needed). The building blocks of the passes
// and the plane cut trust their mesh's corners to name points (MeshCornersNamePoints), as the
// entry points make sure.
#pragma once

#include <cstdint>

#include "cloud/cldpoly.h"
#include "foundation/vec3.h"

// Repeated passes until one repairs nothing. With tol2 = tol * tol, an edge is short when its
// squared length is at most tol2. Each pass collapses triangles whose three edges are short
// into one vertex, then collapses lone short edges, then deletes slivers on the boundary and
// flips interior ones (a vertex within tol of the opposite edge, its foot inside it); each
// deleted triangle and each flip counts as one repair, and the pass compacts the mesh. With a
// mask (one byte per point) only triangles with a marked vertex are examined, and the mask is
// compacted with the points. Returns the number of repairs, or -1 when a pass could not
// complete for want of memory; the mesh is then compacted as far as the pass got, so every
// corner names a point and no flagged triangle is left. -1 also, the mesh unchanged, for a
// triangle that names no point, a point that is not finite, or a tol that is negative or whose
// square is not finite.
int RemoveDegenCldPolys(Cloud* mesh, double tol, unsigned char* mask);
// Deletes every triangle around an edge used by more than two triangles, as the mode bits
// enable it: 1 edges of exactly 3 triangles, 2 of exactly 4, 4 of 5 or more. With a mask, an
// edge is treated only when one of its ends is marked. Two rounds (one with all three bits), so
// an edge that the first round brings down to an enabled count is treated too. Returns the
// number of triangles deleted; 0 when memory runs out, the mesh is null or a triangle names no
// point (mesh unchanged).
int RemoveMultiEdgePolys(Cloud* mesh, int modeBits, const unsigned char* mask);

// Building blocks of the passes; edgeLength2 holds each edge's squared length, -1 for an edge
// collapsed in this pass (neither short nor existing any more).
// 1 when edge pair[0]-pair[1] may be collapsed: its two ends share no neighbour (through an
// edge not yet collapsed) other than the vertices opposite it in its first two triangles.
int CanCollapseEdge(const Cloud* mesh, const int32_t* edges, IndexNode* const* vertexEdgeHeads, const int32_t pair[2],
                    IndexNode* const* vertexTriangleHeads, const double* edgeLength2);
// Merges b into a (a into b when a is already flagged removed), flagging the removed vertex:
// its triangles and edges take the kept vertex and move to its lists, the edges' lengths are
// recomputed. Nothing when a = b.
void CollapseEdgeToVert(Cloud* mesh, int a, int b, int* pointFlags, IndexNode** vertexTriangleHeads,
                        IndexNode** vertexEdgeHeads, int32_t* edges, double* edgeLength2);
// 1 when triangle v is a sliver at squared threshold d2: no edge's squared length at most d2,
// and some vertex within that of the segment of the other two, its foot strictly inside. 0 for a
// null mesh.
int IsPolyType3Degen(const Cloud* mesh, const int v[3], double d2);

// ---- Decimation -------------------------------------------------------------------------------
//
// A vertex is removed by deleting its fan of triangles and triangulating the ring of its
// neighbours again. Both entries keep, for every current triangle, the removed points that lie
// over it, so that errors are always measured against the points as they were at the start.

// Thins the mesh in passes while every point removed so far stays strictly within tol of the
// new triangles and all normals around a removal stay within `angle` degrees of each other (the
// degree is taken as 3.14/180 radians, a factor callers' thresholds were tuned with). A pass
// tries each point whose mask byte is non-zero (null mask: every point) and that no removal of
// the pass has touched yet; a boundary point only when it lies within tol of the segment of its
// two boundary neighbours. A triangle that names no point (a number outside 0 .. npts - 1) takes
// no part: it is dropped before the first pass. The passes end when one removes nothing; the mask
// is compacted with the points (the tail left as it was), the point arrays trimmed and the cloud
// made unordered. 1 done; 0 on a user break or when memory runs out: the mesh is then as the last
// finished pass left it (as it was when memory runs out before the first); 0 also, the mesh
// unchanged, for a point that is not finite.
int ReduceCloudPolygons(Cloud* mesh, double tol, double angle, unsigned char* mask);
// Removes points one at a time in order of a weighted cost (neighbourWeight times the squared
// length of the shortest edge over the mean, angleWeight times 1 minus the least dot product of
// two normals around the point, eliminationWeight times the squared error of removing it over
// (1% of the smallest non-zero box extent)^2) until the live triangle count is at most the
// target; a point whose removal keeps the shape exactly (its fan in one plane, or creased along a
// straight line through it with each side in one plane, the ring then triangulated each side
// apart; every point it leaves on the new triangles to round-off: 1e-9 of bbox's diagonal, or
// where larger the single-precision rounding of bbox's largest coordinate) costs 0 and goes
// first: it ends at the target or one below, above it only when no point can be removed any
// more. A point on an open boundary is removed only where the boundary keeps its shape: not where
// the boundary turns by more than 30 degrees (a corner), and only when the points it leaves lie
// no farther from the new triangles than the largest error of the removals before it (or 1e-9 of
// bbox's diagonal); where that leaves too few removable points the reduction stops above the
// target, its count telling the caller, and a message says where it stopped and why. Neighbours of a removed point are costed again. A triangle that repeats a corner or names
// no point (a number outside 0 .. npts - 1) takes no part and does not count; it is dropped, so
// the result may end further below the target. Points of no triangle are dropped and the cloud
// made unordered. *maxError receives the distance between the result and the original, measured
// both ways over every point of both surfaces (0 first): a bound at most 1% above it, except
// where one surface runs over a corner of the other at about that distance, where it is
// measured at pieces of a thirty-second of the original's mean edge. No removal gives an edge a third
// triangle. bbox is the mesh's box. 0 done (also when the mesh has
// fewer triangles than the target, or none that takes part: then it is left as it was); -1, the
// mesh as it was, for a null mesh or a point that is not finite; -1 when memory runs out: the mesh as it was, or, when the final compaction fails, its triangles
// compacted (those that took no part dropped too) and its points as they were.
int ReducePolygonsByCount(Cloud* mesh, int targetTriangles, double neighbourWeight, double eliminationWeight,
                          double angleWeight, const double bbox[6], double* maxError);
// Removes vertex v trial-wise: checks its fan (CanVertexBeRemoved with tol^2, MultipleEdgeFormed)
// and triangulates the ring of its neighbours into newTriangles (room for fanCount triangles;
// vertex numbers and planes set; nothing is written into the mesh). *newCount receives how many
// were made; with newNumbers, newNumbers[k] = ntri + k. A null fan (or fanCount 0) makes the
// function collect v's triangles itself by scanning the mesh (newTriangles then needs room for
// that many). 1 done; 0 when the vertex cannot be removed, the mesh has no triangles or memory
// runs out.
int RemoveCldVertexLow2(const Cloud* mesh, int v, int* newCount, int* newNumbers, int fanCount, const int32_t* fan,
                        CloudTriangle* newTriangles, IndexNode* const* vertexTriangleHeads, double tol);
// 1 when v's fan (fanCount triangles) is one edge-connected piece in which no edge at v is
// shared by three or more triangles; on an open fan exactly two neighbours must close it and v
// must lie within squared distance tol2 of the segment between them. 0 also when memory runs
// out, or for a null mesh or fan.
int CanVertexBeRemoved(const Cloud* mesh, int v, const int32_t* fan, int fanCount, double tol2);
// The edges opposite v of its fan, each in its triangle's turning order, joined into chains:
// pairs receives the chains' edges back to back (2 fanCount values, each edge (a, b) in chain
// order), chainStarts[c] the first edge of chain c (and chainStarts[count] = fanCount; room for
// fanCount + 1). Returns the chain count, -1 when memory runs out or for a null argument.
int IdentifySharedEdges(const Cloud* mesh, int v, const int32_t* fan, int fanCount, int32_t* pairs,
                        int* chainStarts);
// 1 when two ring vertices that are not ring neighbours already share a triangle: removing the
// vertex would then make an edge twice, whichever diagonals the triangulation chooses.
int MultipleEdgeFormed(const Cloud* mesh, const int32_t* ring, int n, IndexNode* const* vertexTriangleHeads);

// ---- Plane cut --------------------------------------------------------------------------------
//
// Splits a mesh by a plane into a negative and a positive half, written into the caller's arrays
// from their start. side[i] is -1, 0 or 1 for point i below, on or above the plane, as the caller
// classified it. Each half gets its points (coordinates and normals as float triples, numbered in
// the order its triangles first use them), its triangles (int triples in its numbering), the map
// from its numbers to mesh numbers and the map from mesh numbers to its numbers (-1 on entry,
// room for npts plus the cut edges), and the list of its points on the cut. A point made where
// an edge crosses the plane is numbered npts, npts + 1, ... in mesh numbers, made once per edge
// (edgeCache, -1 per edge of the table on entry, keeps its number) and shared by both halves,
// with normal (-1, -1, -1). A triangle in the plane is dropped; a triangle with a corner on the
// plane and the others on both sides gives one triangle to each half, one with a corner alone on
// its side gives one to that side and two to the other; every piece faces the way its triangle
// did. The index and point counters are increased by what was written, the cut counts set.
// Nothing is allocated.
void MakeLeftAndRightClouds(const int32_t* side, const Cloud* mesh, const int32_t* triangleVertices,
                            int32_t* negTriangles, int32_t* posTriangles, int32_t* negToMesh, int32_t* posToMesh,
                            int32_t* meshToNeg, int32_t* meshToPos, float* negXyz, float* negNormals, float* posXyz,
                            float* posNormals, int* negIndexCount, int* posIndexCount, int* negPointCount,
                            int* posPointCount, int32_t* negCut, int32_t* posCut, const PlaneEq plane,
                            int32_t* edgeCache, int* negCutCount, int* posCutCount, const int32_t* edges,
                            int32_t* const* cornerEdges);
// 1 when the segment between points edge[0] and edge[1] crosses the triangle (ends strictly on
// both sides of its stored plane, the crossing inside or on its border), else 0.
int IntersectPolyEdge(const Cloud* mesh, const CloudTriangle* triangle, const int32_t edge[2]);
