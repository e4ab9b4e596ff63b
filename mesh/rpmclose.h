// Closing open meshes along their boundaries: welding short boundary edges, corner and boundary
// vertices within a joining tolerance, splitting boundary edges at nearby boundary vertices, and
// bridging wider gaps with new triangles; edge-use counts and the open-edge mask.
//
// The mesh is a Cloud whose points are its vertices and whose CloudTriangle list holds the
// triangles. Edge tables and corner tables are those of mesh/cldpoly.h. An open edge is an edge
// used by exactly one non-degenerate triangle; a triangle with two equal corner edges (a repeated
// vertex) counts for no edge. The stages and helpers below JoinCldPolys and NewJoinCldPolys trust
// the corners, chains and edges they are given to name points (MeshCornersNamePoints).
#pragma once

#include <cstdint>

#include "cloud/cldpoly.h"
#include "cloud/psubdiv.h"

// Edge-use counts of a mesh: uses[1] edges used by exactly one triangle (open edges), [2] by two,
// [3] by three, [4] by four, [5] by more than four; uses[0] is always 0.
struct PolyEdgeCounts {
  int32_t uses[6];
};

// Closes small gaps and cracks along the open boundary in place, in five stages: boundary edges
// shorter than tol/2 collapse into their midpoints; boundary corner vertices, then any boundary
// vertices, within tol of each other weld at their midpoint; boundary vertices within tol of an
// open edge (foot strictly inside it) split it, unless a triangle on the vertex's edge to either
// end runs that edge the way the split's half would (the two would face against each other);
// with bridgeTol > 0, vertices within bridgeTol of an open edge are bridged to it by a new triangle (CloseCloudByBridging). New triangles keep the
// orientation of the triangle they split or border. Vertices are never removed: welded-away
// points stay in the arrays, unreferenced; moved points stay moved even when the operation fails.
// *splitCount gets the number of vertex-to-edge splits (0 unless it succeeds).
// mask: an optional open-edge mask of the mesh's current edges (one byte per edge as
// FindOuterPolyEdges makes it) with its openCount; null: built here (openCount ignored). A given
// mask becomes the operation's own: it must come from the kernel allocator, is grown and freed
// on every exit, and the caller must not use it afterwards.
// Returns 1, or 0 (the triangle list as it was) for a mesh without triangles, when memory runs
// out or when user_break asks to stop; 0 also for a mesh with a triangle that names no point or
// a point that is not finite, a tol negative or either tolerance not finite when squared (refused
// before anything moves, the given mask freed).
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
// (where one edge vanishes beside the other, 1e-10 relative on the product of the squared
// lengths, it counts as straight); 0 for the rest. A straight run and a
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

// ---- zipping vertex chains and closing edge rings -------------------------------------------
// A band of triangles between two vertex chains (arrays of point indices) facing each other
// across a gap. Triangles are appended to the mesh with their planes; one that would repeat a
// vertex is left out. *capacity is the room of the triangle list, grown here (ReallocCldPolyList)
// before anything is appended. Every triangle of a band runs the same way: for chains running
// the same way, chain B lies on the left of chain A's edges.

// Zips the chains, each step taking the shorter diagonal (ties: the triangle on chain A's side).
// When chain B ends at chain A's first vertex or chain A ends at chain B's first vertex, chain A
// is reversed in place first. countA + countB - 2 triangles at most; 1, or 0 when the list cannot
// grow or for a null argument (nothing appended).
int JoinVerticesByBridging(Cloud* cloud, int* chainA, int countA, int* chainB, int countB, int* capacity);
// Joins chains of equal length rung by rung: 2 (count - 1) triangles at most; a count below 2
// adds nothing. 1, or 0 when the list cannot grow or for a null argument (nothing appended).
int JoinEqualVerticesByBridging(Cloud* cloud, const int* chainA, const int* chainB, int count, int* capacity);
// Closes the space between boundary loops ringPair[0] (ring A) and ringPair[1] (ring B), given
// as lists of edge numbers into edges (pairs) with edges head to tail (MakeEdgeVertsConsistent):
// both rings become closed chains, ring A's starting at its edge nearest ring B's first vertex,
// both put counter-clockwise in their best-fit plane, zipped, and the band turned to run against
// the mesh's triangle on ring A's first edge. The edges' ends must name points (they are read
// unchecked). 1, or 0 (mesh unchanged) when ring A has no edge, the plane fit fails or memory
// runs out.
int CloseCloudEdgeRings(Cloud* cloud, const int32_t* edges, IndexNode* const* loops, const int ringPair[2]);
// Moves points v and w to their midpoint; nothing when either names no point or the cloud is
// null.
void SetCldPointsEqual(Cloud* cloud, int v, int w);
// Among v's triangles (vertex-to-triangle lists) that hold w, the third vertex of the last one
// found; -1 when there is none.
int GetThirdPoint(IndexNode* const* vertexTriangles, const CloudTriangle* triangles, int v, int w);

// ---- cell and edge link bookkeeping ---------------------------------------------------------
// Lists of IndexNode per edge (the bin-grid cells an edge passes near) and per vertex (its
// edges). New nodes are taken in order from *block, blockSize to a block; when *used reaches
// blockSize a new block is allocated (Malloc, in the caller's scope) and *used restarts at 0.
// The cell box of points p and q: every cell whose ix, iy and iz lie between those of the two
// points' own cells (cell c = ix + iy nx + iz nx ny); a cell is non-empty when it holds items.

// For each non-empty cell of the box (ix outermost, then iy, then iz): cellFlags[cell] = 1 and
// the cell is pushed on edgeCellLists[edge]. 1; 0 when a new block cannot be had (the nodes
// pushed before stay).
int AddEdgeToCellLinks(const Subdiv* subdiv, int p, int q, int edge, IndexNode** edgeCellLists, IndexNode** block,
                       int blockSize, int* used, unsigned char* cellFlags);
// cellFlags[cell] = 1 for each non-empty cell of the box of p and q.
void SetCellFlag(const Subdiv* subdiv, int p, int q, unsigned char* cellFlags);
// Takes the item base + edge out of every cell on the edge's list (later items and their own-cell
// marks move down, the count drops by one); a cell without it is left alone.
void RemoveEdgeCellLinks(int edge, IndexNode* const* edgeCellLists, SubdivCell* cells, int base);
// Unlinks the node of edge from the lists of both its ends; vertexMap (null: identity) gives
// each vertex's list.
void RemoveEdgeVertexLinks(const int32_t* edgeEnds, int edge, IndexNode** vertexEdgeLists, const int* vertexMap);
// Pushes the edge on the lists of v and then of w. 1; 0 when a new block cannot be had.
int AddVedgeLinks(int v, int w, int edge, IndexNode** vertexEdgeLists, IndexNode** block, int blockSize, int* used);
// When v and w are about to be joined: for each edge e1 of v with far end u, the first edge e2
// of w with far end u is no longer open, nor is e1 (the two become one edge).
void RemoveJointEdgesFromOuter(int v, int w, const int* vertexMap, IndexNode* const* vertexEdgeLists,
                               int16_t* openFlags, const int32_t* edges);

// ---- joining edge loops ---------------------------------------------------------------------
// A node of a boundary loop made a doubly linked ring: the loop's edges in order, closed into a
// ring when the last edge's second vertex is the first edge's first vertex.
struct EdgeRingNode {
  EdgeRingNode* next;
  EdgeRingNode* prev;
  int32_t edge;
};

// Closes long narrow cracks whose sides are runs of nearly parallel boundary edges: each loop
// edge (longest first) seeks the nearest boundary vertex across the crack (within sideTol of the
// edge with its foot inside, or within endTol), pairs with that vertex's loop edge most nearly
// parallel to it (within 30 degrees), grows both into chains of edges along their loops, cuts
// the chains back until they face each other and zips them with a band of triangles; a pair
// whose common length is below minLength is left. At most four passes, each on the topology the
// last one left; a pass that adds nothing ends the operation. The triangle list is trimmed to
// its count whenever the count changed. 1 (also when no loop is left), or 0 when user_break
// asks to stop or memory runs out (triangles added before stay), or for a mesh with a triangle
// that names no point (the mesh unchanged).
int NewJoinCldPolys(Cloud* cloud, double endTol, double sideTol, double minLength);
// The loop edges following and preceding edge on its loop (in that order; none past the list's
// tail or head) that run within the limit of it in the same sense, into neighbours; *count 0, 1
// or 2 (0 also when the edge is on no loop).
void FindNeighborEdge(const Cloud* cloud, const int32_t* edges, int edge, int loopCount, IndexNode* const* loops,
                      double cosSqLimit, int neighbours[2], int* count);
// 1 when edges e1 and e2 (second vertex minus first) run within the limit: (d1.d2)^2 /
// (|d1|^2 |d2|^2) > cosSqLimit, neither edge vanishing beside the other (1e-10 relative on the
// product of the squared lengths), and d1.d2 >= 0 when sameSense. 0 when an edge number is
// negative, an end names no point or the cloud or edges are null.
int EdgesWithinTol(const Cloud* cloud, const int32_t* edges, double cosSqLimit, int e1, int e2, int sameSense);
// Fills nodes (one per edge of the loop) in loop order and hands back the first through *ring.
void ConvertLooplistTo2Links(const int32_t* edges, const IndexNode* loop, EdgeRingNode* nodes, EdgeRingNode** ring);
// Zips two chains of edges: each becomes a chain of vertices (first vertex of every edge, then
// the second of the last), chain B's reversed when reverseB, then JoinVerticesByBridging; the
// band is turned to run against the mesh's triangle on chain A's first edge. 1, or 0 when the
// triangle list cannot grow or memory runs out, or for a null argument.
int CloseEdgeLoops(Cloud* cloud, const int32_t* edges, const int* chainA, int countA, const int* chainB, int countB,
                   int reverseB, int* capacity);
