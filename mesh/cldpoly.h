// Mesh topology: index lists from vertices to triangles and edges, the table of unique edges,
// edge-to-triangle lists, the boundary loops of an open mesh and small triangle and vertex
// queries. The list node, vertex-to-triangle lists, IntInArray and FindPolyVertsAndNorms live on
// the cloud floor (cloud/cldpoly.h), which needs them too.
//
// Edge table: int32 pairs, pair e at edges[2e] and edges[2e + 1], (vmin, vmax) with vmin <= vmax
// as CreatePolyEdges makes them, sorted by vmin and then vmax; the edge number is the pair's
// position. A corner array of 3 ntri pointers points at the pair of each corner's edge (corner
// 3t + k names edge v[k]-v[(k + 1) mod 3] of triangle t), so a corner's edge number is
// (cornerEdges[c] - edges) / 2. An edge whose vmin is negative counts as deleted.
//
// The list builders and the queries on lists, triangles and vertices index by corner numbers
// unchecked: their mesh's corners must name points (MeshCornersNamePoints). The edge table takes
// any corners; the loop finders and the finders of faulty triangles refuse a mesh that fails it.
#pragma once

#include <cstdint>

#include "cloud/cldpoly.h"

// The sort record of CreatePolyEdges: one per corner, vmin <= vmax.
struct PolyCloudEdge {
  int32_t vmin;
  int32_t vmax;
  int32_t corner;
};

// As MakePolyPointers, but only corners whose vertex has a non-zero mask byte get a node; nodes
// are taken from the block consecutively.
void MakeMarkedPolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes, const unsigned char* mask);
// Vertex-to-edge lists: heads[npts] set; edge e pushes node 2e on the list of its first vertex
// and node 2e + 1 on that of its second, so lists run from the highest edge number down. Null
// edges or nedges < 1 leave every list empty.
void MakeEdgePointers(const Cloud* mesh, const int32_t* edges, int nedges, IndexNode** heads, IndexNode* nodes);
// As MakeEdgePointers, at ends with a non-zero mask byte only, nodes taken consecutively.
void MakeMarkedEdgePointers(const Cloud* mesh, const int32_t* edges, int nedges, IndexNode** heads,
                            IndexNode* nodes, const unsigned char* mask);
// The first edge on v's list that has w at either end, or -1.
int GetEdgeNo(const int32_t* edges, IndexNode* const* vertexEdgeHeads, int v, int w);

// The unique edges of the mesh. *edges gets room for 3 ntri pairs (not shrunk), *cornerEdges the
// 3 ntri corner pointers, *nedges the count; both arrays are the caller's (Free). Corners that
// name no point give edges like any others (one with a negative end reads as deleted). 1 done (a
// mesh without triangles gives null arrays and 0 edges), 0 out of memory (outputs null and 0).
int CreatePolyEdges(const Cloud* mesh, int32_t** edges, int32_t*** cornerEdges, int* nedges);
// -1, 0 or 1 as (a.vmin, a.vmax) is before, equal to or after (b.vmin, b.vmax); corners are not
// compared.
int CompareEdgeValue(const PolyCloudEdge* a, const PolyCloudEdge* b);
// Over count sorted records followed by a sentinel that differs from the last: map[corner]
// receives each record's edge number, pairs the distinct (vmin, vmax) in order, *nedges their
// count.
void CompareEdge(int count, const PolyCloudEdge* records, int32_t* map, int32_t* pairs, int* nedges);
// Edge-to-triangle lists: heads[nedges] set, each triangle pushed on its three edges' lists
// (nodes: 3 ntri).
void EdgeToPolyPointers(const Cloud* mesh, IndexNode** heads, IndexNode* nodes, int32_t* const* cornerEdges,
                        const int32_t* edges, int nedges);

// The boundary loops: edges used an odd number of times, walked into closed cycles, then edges
// used three or more times taken out and loops left empty dropped. Where loops meet at a vertex
// (two holes sharing a corner) they are split there, so every boundary edge is in exactly one
// loop; a walk is led on along the sense the mesh's triangles give the boundary. Only an odd count
// left by deleted edges ends a loop as an open chain. *loopHeads[nloops] are lists of edge
// numbers in walking order, *loopSizes their lengths, *loopNodes the block holding their nodes;
// all three are the caller's (Free). Returns the number of edges in all loops: 0 when there is
// none (outputs null), for a mesh without triangles or with one that names no point and when
// memory runs out (outputs null).
int MakeOuterEdgeList(const Cloud* mesh, const int32_t* edges, int32_t* const* cornerEdges, int nedges,
                      IndexNode*** loopHeads, int* nloops, int** loopSizes, IndexNode** loopNodes);
// The same loops, the same vertices in the same order, without the whole edge table: *edges
// receives only the pairs of the edges used an odd number of times, in the table's order, and the
// loops number those pairs. For a mesh of 2^30 points or more the whole table is made and handed
// out. All four outputs are the caller's (Free); returns as MakeOuterEdgeList (outputs null with
// 0).
int MakeBoundaryLoops(const Cloud* mesh, int32_t** edges, IndexNode*** loopHeads, int* nloops, int** loopSizes,
                      IndexNode** loopNodes);
// Appends a freshly allocated node holding value to the chain (a null head starts a new chain)
// and returns the chain's head; null when the node cannot be allocated.
IndexNode* InsertPolyCloudEdge(IndexNode* head, int32_t value);
// Frees the node and returns its successor.
IndexNode* DeletePolyCloudEdge(IndexNode* node);
// Unlinks the first node of *head holding index; the node stays in its block.
void DeleteCloudEdge(IndexNode** head, int32_t index);

// The first triangle on v's list whose two other vertices are a and b (either order), or -1.
int GetPolyFromVertices(IndexNode* const* vertexTriangleHeads, const CloudTriangle* tri, int v, int a, int b);
// Unlinks triangle t from v's list.
void DeleteVertexPoly(IndexNode** vertexTriangleHeads, int v, int t);
// The triangles of a's list that also hold b, in list order, into tris (room for the length of
// a's list); *count 0 when a = b.
void FindAllPolysWithVert(const Cloud* mesh, int a, int b, IndexNode* const* vertexTriangleHeads, int32_t* tris,
                          int* count);
// 1 when triangle t has vertex v; 0 also when t is no triangle of the mesh.
int PolygonHasVertex(const Cloud* mesh, int t, int v);
// The edge numbers of v0-v1, v1-v2 and v0-v2 of triangle t into e (each -1 when missing);
// returns the third.
int FindPolygonEdges(const Cloud* mesh, int t, const int32_t* edges, IndexNode* const* vertexEdgeHeads,
                     int32_t e[3]);
// Pushes triangle t on its vertices' lists with nodes *used, *used + 1, *used + 2 of the block
// (which needs room for them), raising *used: how a triangle appended to the mesh enters lists
// made by MakePolyPointers.
void UpdatePolyPointers(const Cloud* mesh, int t, IndexNode** vertexTriangleHeads, IndexNode* nodes, int* used);

// Orients the edges of each loop of two or more edges head to tail in walking order, swapping
// the ends of pairs in place: afterwards the table's pairs are no longer ordered (callers rely
// on getting them as walked).
void MakeEdgeVertsConsistent(int32_t* edges, IndexNode* const* loopHeads, int nloops);

// ---- Faulty triangles ---------------------------------------------------------------------------
// Finder results: a list of triangle numbers and a mask of one byte per triangle (1 = listed),
// both the caller's (Free), handed out only when the count is positive (else both null).

// 1 when triangles t1 and t2 fold over each other around their common vertex v: seen along t1's
// normal from v, the angular sectors the two cover overlap (t2's corners that t1 lacks are first
// projected onto t1's plane). Also 1 when v is not a corner of both, or when either is no
// triangle of the mesh or has a corner that names no point.
int PolysOverlap(Cloud* mesh, int t1, int t2, int v);
// The pseudo-angle of direction (p[0], p[1]) in [0, 4): 0 along +x, 1 +y, 2 -x, 3 -y, monotone in
// the true angle; 0 for a direction shorter than 1e-10.
void FindQuadAndSin(const double p[3], double* a);
// Puts a sector (start, bisector, end pseudo-angles) in counter-clockwise order; a sector whose
// start then exceeds its end wraps through the 0 direction.
void ArrangeCCW(double sector[3]);
// 1 when b's start lies strictly inside sector a.
int PolyOverlapExists(const double a[3], const double b[3]);

// Triangles repeating another's three vertices (in any order): of each group the one met first on
// the vertex-to-triangle lists (the highest-numbered) stays unlisted. With a vertex mask only the
// lists of marked vertices are searched. The count; 0 when memory runs out at the start or a
// triangle names no point (nothing handed out); the count found so far plus one, with both
// outputs null, when it runs out later.
int FindMultCloudPoly(Cloud* mesh, int32_t** list, unsigned char** mask, const unsigned char* vertexMask);
// The same on vertex-to-triangle lists the caller built (MakePolyPointers, whose corners name
// points).
int FindMultCloudPolyFromPolyArray(Cloud* mesh, int32_t** list, unsigned char** mask,
                                   const unsigned char* vertexMask, IndexNode* const* heads);
// Removes the duplicates FindMultCloudPoly finds; the number removed, 0 when memory runs out
// (nothing removed, the error state set).
int RemoveMultCloudPoly(Cloud* mesh, const unsigned char* vertexMask);
// Keeps, in order, the triangles whose mask byte is 0 and rebuilds the IsVert bits; the triangle
// array is freed when none is left. 1, or 0 when the IsVert bits could not be rebuilt (also
// when a kept triangle names no point: CloudSetIsVerts refuses it); 0, the mesh unchanged, for a
// null mesh or mask.
int RemoveCldPolys(Cloud* mesh, const unsigned char* mask);
// Triangles with a corner within tol of the line segment of the other two (tol = 0: none). With a
// vertex mask only triangles with a marked corner. Counts and outputs as FindMultCloudPoly.
int FindDegenerateCloudPoly(Cloud* mesh, double tol, int32_t** list, unsigned char** mask,
                            const unsigned char* vertexMask);
// Pairs of triangles around a common vertex whose normals are within angle degrees of parallel
// (either sense) and that fold over each other there (PolysOverlap): both listed. Counts and
// outputs as FindMultCloudPoly.
int FindOverlapCloudPoly(Cloud* mesh, double angle, int32_t** list, unsigned char** mask);
int FindOverlapCloudPolyFromPolyArray(Cloud* mesh, double angle, IndexNode* const* heads, int32_t** list,
                                      unsigned char** mask);
// 1 when triangles (c, a1, b1) and (c, a2, b2) overlap: a2 or b2 projects strictly inside the
// first (both weights of its corners other than c above 1e-6), or a1 or b1 inside the second.
int IsOverlapTouchTriangles(const double c[3], const double a1[3], const double b1[3], const double a2[3],
                            const double b2[3]);

// Point sort record: brings equal points together.
struct CloudSortPoint {
  float x;
  float y;
  float z;
  int32_t index;
};
// Ascending by x, then y, then z (exact), equal points in index order.
void SortCoordXYZ(int n, CloudSortPoint* points);
// -1, 0 or 1 as point a is before, equal to or after (x, y, z) (doubles).
int CompareValue(const CloudSortPoint* a, double x, double y, double z);
// Over n sorted records followed by one that differs from the last: map[record's index] receives
// its group number, unique (x, y, z triples) the coordinates of each group's last record, *count
// the number of groups.
void Compare(int n, const CloudSortPoint* points, int32_t* map, float* unique, int* count);
// Length of the longest edge; the largest |dx|, |dy|, |dz| over the edges (each at least 1e-6).
// 1e-6 without triangles or edges. The edges' ends must name points (read unchecked).
double FindMaxCloudEdgeDims(const Cloud* mesh, const int32_t* edges, int nedges, double* dx, double* dy,
                            double* dz);
// A new cloud of the triangles' centroids (bbox: six doubles written); null for no mesh, no
// triangles, a triangle that names no point or no memory.
Cloud* MakePolyCenterCloud(const Cloud* mesh, double* bbox);
