// Closing open meshes along their boundaries: welding short boundary edges, corner and boundary
// vertices within a joining tolerance, splitting boundary edges at nearby boundary vertices, and
// bridging wider gaps with new triangles; edge-use counts and the open-edge mask.
//
// The mesh is a Cloud whose points are its vertices and whose CloudTriangle list holds the
// triangles. Edge tables and corner tables are those of mesh/cldpoly.h. An open edge is an edge
// used by exactly one non-degenerate triangle; a triangle with two equal corner edges (a repeated
// vertex) counts for no edge.
#pragma once

#include <cstdint>

#include "cloud/cldpoly.h"

// Edge-use counts of a mesh: uses[1] edges used by exactly one triangle (open edges), [2] by two,
// [3] by three, [4] by four, [5] by more than four; uses[0] is always 0.
struct PolyEdgeCounts {
  int32_t uses[6];
};

// Closes small gaps and cracks along the open boundary in place, in five stages: boundary edges
// shorter than tol/2 collapse into their midpoints; boundary corner vertices, then any boundary
// vertices, within tol of each other weld at their midpoint; boundary vertices within tol of an
// open edge (foot strictly inside it) split it; with bridgeTol > 0, vertices within bridgeTol of
// an open edge are bridged to it by a new triangle (CloseCloudByBridging). New triangles keep the
// orientation of the triangle they split or border. Vertices are never removed: welded-away
// points stay in the arrays, unreferenced; moved points stay moved even when the operation fails.
// *splitCount gets the number of vertex-to-edge splits (0 unless it succeeds).
// mask: an optional open-edge mask of the mesh's current edges (one byte per edge as
// FindOuterPolyEdges makes it) with its openCount; null: built here (openCount ignored). A given
// mask becomes the operation's own: it must come from the kernel allocator, is grown and freed
// on every exit, and the caller must not use it afterwards.
// Returns 1, or 0 (the triangle list as it was) for a mesh without triangles, when memory runs
// out or when user_break asks to stop.
int JoinCldPolys(Cloud* cloud, double tol, double bridgeTol, int* splitCount, unsigned char* mask, int openCount);

// Fills counts (cleared first). 1, or 0 when the edges cannot be built (out of memory); a mesh
// without edges gives zeros and 1.
int JustVerifyClosedPolyCloud(const Cloud* cloud, PolyEdgeCounts* counts);

// The open-edge mask (one byte per edge, 1 for an open edge) and the number of open edges, from
// the edges and corner table of CreatePolyEdges. Uses are counted in full, so an edge of 256
// triangles is not open. 1, or 0 when memory runs out (mask and count untouched).
int FindOuterPolyEdges(const Cloud* cloud, const int32_t* edges, int32_t* const* cornerEdges, int edgeCount,
                       int* openCount, unsigned char* mask);

// corner[v] = 1 for every vertex with more than two open edges, and for one with exactly two
// whose edge vectors d1, d2 (far ends to v) meet with (d1.d2)^2 / (|d1|^2 |d2|^2) < cosSqLimit
// (products |d1|^2 |d2|^2 below 1e-10 count as straight); 0 for the rest. A straight run and a
// spike are not corners. vertexEdges may hold lists for some vertices only.
void MarkCornerVertices(const Cloud* cloud, const int32_t* edges, IndexNode* const* vertexEdges,
                        const unsigned char* mask, double cosSqLimit, unsigned char* corner);

// Veto of a weld of boundary vertices v and w: 1 when their inward directions (the pull of their
// edges into the mesh) agree, so the weld would lay the boundary's sides over each other; 0 when
// they face each other, or when either vertex has more than two open edges or no usable edge.
int PolygonsEdgesOverlap(const float* x, const float* y, const float* z, IndexNode* const* vertexEdges,
                         const int32_t* edges, int v, int w, const unsigned char* mask);

// Veto of splitting the open edge a-b of triangle (a, b, c) at vertex v: 1 when v's inward
// direction does not face the triangle's side of the edge (the direction in the triangle's plane
// from the edge into it); 0 otherwise, or when v has more than two open edges or no usable edge.
int PolyVertEdgesOverlap(const float* x, const float* y, const float* z, IndexNode* const* vertexEdges,
                         const int32_t* edges, int v, int a, int b, int c, const CloudTriangle* triangle,
                         const unsigned char* mask);

// The working state JoinCldPolys builds (triangle and edge lists with their room, the open-edge
// mask, boundary flags, the sorted boundary-vertex and open-edge lists, the vertex-to-triangle
// and vertex-to-edge lists).
struct JoinPolysState;

// The bridging stage of JoinCldPolys on its working state: boundary vertices are joined to open
// edges within bridgeTol by new triangles, first only from the outer side of the edges, then to
// the nearest edge. *bridgeCount gets the triangles added by the second phase. 1 (at once when
// bridgeTol <= 0), or 0 when memory runs out or user_break asks to stop (the state's triangle
// list and mask stay valid and owned by the state).
int CloseCloudByBridging(Cloud* cloud, double tol, double bridgeTol, JoinPolysState* state, int* bridgeCount);
