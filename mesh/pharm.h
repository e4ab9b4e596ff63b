// Separating mesh regions along given edges: the mesh is cut open along a set of edges by
// giving every vertex on them one copy and moving the triangles of alternate sectors round
// the vertex onto the copy. No triangle and no position changes.
//
// Edges are pairs of vertex numbers (a, b), matched in either orientation. While a cut runs,
// every triangle's edges are compared through an origin map (per point slot: -1, or for a copy
// the vertex it was copied from), so a triangle whose corner already moved to a copy still
// shows the edges it had before.
#pragma once

#include "foundation/cloudrec.h"

// Cuts the mesh open along cutEdges[0 .. 2 cutEdgeCount - 1] (pairs). The cut vertices (the
// points on a cut edge, in ascending order) each get one copy, with the vertex's coordinates
// and normal, appended to the points. Round a cut vertex with k cut edges, (k + 2) / 2 passes
// each claim for the copy one sector of its triangles bounded by cut edges, the first sector
// first and later only sectors that border none already claimed: where sectors can alternate
// (an even number round an inner vertex, any number along a boundary vertex's open fan) every
// cut edge ends with its two triangles on different vertices; with an odd number round an inner
// vertex two neighbouring sectors stay on the vertex and share their cut edge there. 1, or 0
// when memory runs out (copies made and corners renumbered before that stay) or, the mesh
// unchanged, when a triangle names no point or the mesh or cut edges are null.
int SepHarmonizedRegionsCore(Cloud* mesh, const int* cutEdges, int cutEdgeCount);

// The triangle's edges (c0, c1), (c1, c2), (c2, c0) as six vertex numbers, each corner mapped
// through the origin map (an entry per point of the mesh); all six -1 when triangle is no
// triangle of the mesh, a corner names no point or the map is null.
void FindPolyEdges(const Cloud* mesh, int triangle, int edges[6], const int* originMap);
// 1 when one of the triangle's mapped edges is among the count pairs of edgeList; 0 when the
// triangle is no triangle of the mesh or names no point, or for a null array.
int PolyConnected(const Cloud* mesh, int triangle, const int* edgeList, int edgeCount, const int* originMap);
// 1 when the region that grows from the triangle across edges that are not cut edges, through
// the fan's open triangles (state 1; fan holds fanCount triangle numbers, states theirs), meets
// no claimed edge, the triangle's own edges included; always 1 when nothing is claimed. 0 also
// when memory runs out (the error state then set), or when the triangle is no triangle of the mesh,
// names no point, or an array is null.
int PolyDisconnected(const Cloud* mesh, int triangle, const int* claimedEdges, int claimedCount, const int* originMap,
                     const int* fan, int fanCount, const int* cutEdges, int cutEdgeCount, const int* states);
// 1 when (a, b) or (b, a) is one of the count pairs.
int IsEdgeInArray(int a, int b, const int* pairs, int count);
