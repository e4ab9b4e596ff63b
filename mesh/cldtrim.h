// Growth of a mesh's arrays, trimming a mesh to a curve, refinement and small edits, with the
// loop and polygon helpers they share. Mesh edits keep spare room while they work and trim to
// the final counts at the end; the growth functions never change the counts themselves.
//
// Edge pairs and vertex-to-edge lists are those of CreatePolyEdges and MakeEdgePointers
// (mesh/cldpoly.h); a loop is an array of edge numbers into the pairs.
#pragma once

#include <cstdint>

#include "foundation/cloudrec.h"

struct Bspline;
struct CurveSampleCache;
struct IndexNode;

// Room for n points in x, y, z, the normals (created when absent), the colours and the
// reliability bytes (when present). Entries from npts on get normal (-1, -1, -1) (to be
// computed), colour 0.33 and reliability 0; a created normal array is (-1, -1, -1) throughout.
// 1, or 0 for a null mesh, n below npts or when memory runs out (the mesh then keeps arrays holding its
// points; created normals never enter it).
int ReallocCldXYZArrays(Cloud* mesh, int n);
// Resizes the triangle array to n records (n = 0 leaves it null). 1, or 0 for a null mesh, n
// below ntri or when memory runs out (the array stays as it was).
int ReallocCldPolyList(Cloud* mesh, int n);

// ---- Trimming to a curve ----------------------------------------------------------------------

// Pulls the open boundary loop loopEdges[0 .. *loopCount - 1] onto a curve lying on or near the
// mesh: boundary triangles are peeled while a loop triangle's corner nearest the curve lies
// inside the loop (never through a vertex whose fixedPoints entry is 1; fixedPoints may be
// null), then every loop vertex moves onto its closest curve point (its normal marked to be
// computed) and, unless subdivideTol is -1.0, boundary triangles are split until each loop span
// follows the curve within subdivideTol (at least 0.1; SubdivideLoopPolys). Peeled triangles and
// the loop corners they cut off are removed at the end; every per-point array is compacted with
// the points. The curve has dimension 3, or 2 on its owner surface. The loop array needs room
// for *loopCount + ntri entries (a peel can lengthen it by one); it and *loopCount end as the
// final loop, numbered in the edge table given.
// Where the curve runs through triangles too large to peel (points not held by fixedPoints would
// stay beyond it: seen along the final loop's mean plane, outside the region the loop bounds and
// farther out than their closest curve point, by more than 1e-3 of the loop's longest span; or,
// where the loop on the curve bounds no area, as an open curve can draw it, farther than 1e-3 of
// the mesh's size from the curve), or the loop the peel leaves on a closed curve spans
// less than nine tenths of the area the curve bounds or has two vertices on one curve point,
// or the peel reaches a point of another rim of the mesh (a hole the curve crosses or comes near),
// the mesh is cut along the curve instead: the curve as a polyline straying from it by at most
// 1e-3 of its size (less where subdivideTol asks, down to 1e-6) is made a chain of mesh edges, seen
// along its mean plane, by splitting the triangles and edges it crosses (new points on the
// polyline, each half facing its parent's way), and every triangle reached from the loop (from
// its edges the chain does not run along) without crossing the chain is removed, with the points
// only they held. *loopCount then ends as the
// number of edges of the result's loop along the curve; those edges were made by the cut and are
// in no table given, so the loop array is left as given (read none of it past the count given).
// No subdivision follows a cut. Either way the points are renumbered: the edge table, the lists
// and the loop are the mesh's as it was, to be made again before the mesh is trimmed again.
// 1 done; 0 for a failed closest point while peeling or a triangle that names no point (the mesh
// unchanged), no memory (after a cut had written its points, the triangles split but none
// removed), or a failure in the subdivision (vertices then moved and some triangles split,
// nothing removed). A peel that would keep mesh beyond the curve and cannot be replaced by a cut
// gives 0 with the mesh and loop as they were and a message with the reason: a curve that is not
// closed, bounds no area or cannot be evaluated, leaves the mesh, crosses an edge of more than two
// triangles or a fold of the mesh (seen along the curve's plane), does not part the loop from the
// rest, or would take a held point; so does a peel that reaches another rim. Where the peel keeps
// nothing beyond the curve and reaches no other rim, it stands when the cut cannot be made.
int TrimCloudWithCurve(Cloud* mesh, int* loopEdges, int* loopCount, Bspline* curve, int32_t* edgePairs,
                       IndexNode* const* vertexEdgeLists, const int* fixedPoints, double subdivideTol);

// Splits the live triangles (deletedTriangles: 1 = removed, may be null) on the spans of the
// ordered loop vertices loopVertices[0 .. loopVertexCount - 1] (the last repeating the first for
// a closed loop) at the curve point closest to each span's midpoint, while that point lies at
// least the working tolerance (max(tol, 0.1)) away; from the fifth split of one span on, a
// distance that changed by less than a fifth stops it and raises the working tolerance to it.
// New points get normal (-1, -1, -1); the point and triangle arrays keep spare room. 1 done, 0
// for a failed closest point or no memory (the splits made stay).
int SubdivideLoopPolys(Cloud* mesh, int* loopEdges, int loopVertexCount, double tol, int32_t* edgePairs,
                       const int* loopVertices, Bspline* curve, CurveSampleCache* cache,
                       const int* deletedTriangles);

// The point of the curve (dimension 3, or 2 through its owner) closest to p, from the start
// that the cached samples give, refined over the curve's whole domain. A refinement that does
// not settle in its iterations or stops at an end still gives its point; 0 only for a curve of
// another dimension, a sample cache that cannot be made, or a vanishing tangent (or a curve the
// refiner refuses). parameter may be null.
int GetClosestCurvePoint(Bspline* curve, const double p[3], CurveSampleCache* cache, double closest[3],
                         double* parameter);

// ---- Loop and polygon helpers -----------------------------------------------------------------
// They trust the mesh's corners and the edges given to name points (MeshCornersNamePoints).

// The triangle with edge a-b (vertex-to-triangle lists as MakePolyPointers makes them): without
// flags the first on a's list, with flags the first whose flag is not 1. 1 with *triangle, 0
// when no triangle (or no unflagged one) has the edge.
int FindPolyWithOutsideVerts(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, int a, int b,
                             const int* triangleFlags, int* triangle);
// FindPolyWithOutsideVerts on the two ends of edge number edge.
int GetPolyWithOutsideEdge(const Cloud* mesh, IndexNode* const* vertexTriangleHeads, const int32_t* edgePairs,
                           int edge, const int* triangleFlags, int* triangle);
// How many of the triangle's edges v0-v1, v1-v2, v0-v2 (also written to edges, -1 where an edge
// is missing from the lists) are among the loop's edges.
int GetNumPolyEdgesInLoop(const Cloud* mesh, int triangle, const int32_t* edgePairs, IndexNode* const* vertexEdgeLists,
                          const int* loopEdges, int loopCount, int32_t edges[3]);
// The loop's vertices in walking order: from the first vertex of the first edge, repeatedly
// across the first edge not yet taken (in loop order) that has the current vertex at either end.
// Stops when no edge is found or n vertices are written; returns how many (a loop of one edge
// gives 1), 0 for n < 1, a null array or no memory.
int GetLoopVerticesInOrder(const Cloud* mesh, const int* loopEdges, const int32_t* edgePairs, int n, int* vertices);
// Inserts value after position in an array of n entries, shifting the rest up by one; the
// caller gives room for n + 1. A position of -1 inserts at the front.
void InsertPtInArray(int value, int* array, int position, int n);
// shift[i] = 0 where flags[i] is 1, else minus the number of flagged entries before i: after
// compaction entry v is entry v + shift[v].
void SetIndexTable(const int* flags, int* shift, int n);
// 1 when (x, y) lies inside the polygon of n points (closed by its first point), 0 outside or
// on the boundary: a ray from the point to beyond the polygon's lower left corner crosses it an
// odd number of times; a crossing at the point itself (within 1e-6 of the ray) means on it. 0 for
// a null array.
int IsPointInPoly2D(double x, double y, int n, const double* xs, const double* ys);
// The two end points of edge number edge; both (0, 0, 0) when edge is negative, an end names no
// point or the mesh or pairs are null.
void FindEdgePoints(const Cloud* mesh, const int32_t* edgePairs, int edge, double a[3], double b[3]);
// 1 when the two triangles share a vertex; 0 also when either is no triangle of the mesh.
int PolysHaveCommonVertex(const Cloud* mesh, int t1, int t2);
// The vertex edges e1 and e2 share, or -1.
int FindCommonEdgeVertex(const int32_t* edgePairs, int e1, int e2);

// ---- Refinement and small edits ---------------------------------------------------------------
//
// A triangle is selected unless pointMask is given and all three of its vertices have mask 0,
// or triangleMask is given and its byte is 0. New points get normal (-1, -1, -1), colour 0.33
// and reliability 0.

// SubdividePolysInto4Polys when fourWay is non-zero, else SubdividePolysInto3Polys.
int SubdivideCldPolys(Cloud* mesh, int fourWay, const uint8_t* pointMask, const uint8_t* triangleMask);
// Each selected triangle becomes three around its centroid, each facing the parent's way (the
// parent keeps the one without its corner 2); new normals are then computed. The arrays keep
// their room. 1, or 0 when room cannot be made or the normals cannot be computed, or for a
// triangle that names no point or a null mesh (the mesh unchanged).
int SubdividePolysInto3Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask);
// Each selected triangle becomes four through its edge midpoints, each facing the parent's way.
// A midpoint is shared by the edge's two triangles, so an unselected neighbour is left with a
// hanging midpoint. The arrays are trimmed to the counts also after a failure. 1, or 0 when
// memory runs out (the triangles split so far stay), or a triangle names no point or the mesh is
// null (the mesh unchanged).
int SubdividePolysInto4Polys(Cloud* mesh, const uint8_t* pointMask, const uint8_t* triangleMask);
// Inserts count picked points, pick k on triangles[k] at weights s[k] (corner 0), t[k] (corner 1)
// and 1 - s[k] - t[k] (corner 2), in order: a triangle number refers to the mesh as the earlier
// picks left it. 1; 0 when memory runs out or a pick is refused (CreateNewPolys), the picks
// before it done; 0 also, the mesh unchanged, when a triangle names no point.
int DividePolyAtPickedPoint(Cloud* mesh, const int* triangles, const double* s, const double* t, int count);
// Inserts one picked point (weights as above, tolerance 1e-6) into the triangle: a pick on a
// corner gives that corner and changes nothing; inside, the triangle becomes three (the parent
// keeps the one without its corner 0); on an edge, both triangles of the edge are split. The
// vertex goes to *vertex. The lists are vertex-to-triangle lists with heads for the new point
// and room in the store for twelve more nodes; the mesh has room for a point and two
// triangles. 1; 0 for a triangle out of range or weights that are not finite or put the point
// outside the triangle (nothing changed).
int CreateNewPolys(Cloud* mesh, int triangle, double s, double t, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                   int* nodesUsed, int* vertex);
// Removes the triangles with an edge of at least maxLength (only those with a vertex of
// non-zero mask when pointMask is given); points stay. The number removed, 0 also when the
// compaction fails, the mesh is null or a triangle names no point (the mesh unchanged).
int RemoveLongCldPolys(Cloud* mesh, double maxLength, const uint8_t* pointMask);
// Caps every closed boundary loop of the mesh on its own, facing the mesh's way; open chains are
// skipped. A loop without area (a slit, which fits no plane: faces meeting at a T-junction
// without sharing points), and a thin loop every cap of which would cross the mesh (such a
// T-junction whose middle points stray into the triangle across), is zipped once every other loop
// is capped, where its points lie along a line (within 1e-2 of its length), each side running one
// way along it, and no two of them at one place (1e-9 of its length): each mesh triangle on an
// edge of one side is split, as a fan from its far corner facing its way, at the points of the
// other side inside that edge, unless a fan edge is already an edge of the mesh or a fan triangle
// would turn over; the sides then share their edges. A thin loop that cannot be zipped is capped
// as below. A cap never makes an edge the mesh
// (or an earlier cap) already has and never crosses a mesh triangle near it or one of its own:
// the loop is cut on its mean plane where that is sound, else ears are clipped least inner angle
// first, the next candidate taken where that one's would not be sound, else the cap of least
// area among sound triangles is taken (loops of up to 200 vertices); a longer loop is cut along
// one of its shortest chords (against the way round) into two pieces of a third to a half of it
// each, capped so in turn (cut again while longer), a chord taken only where both caps are sound
// and do not cross. A cap so made with a corner
// angle below a degree (flat triangles along straight runs of collinear rim points) has its
// diagonals flipped, where seen along the loop's mean plane normal the cap tiles the loop, until
// no flip raises the least angle of its two triangles: on a plane that is the cap of largest
// least angle over the rim's own points (fans from the corners where the sides are straight);
// the flips are undone when one of their triangles crosses the mesh. Where the mesh itself folds
// over at the loop so that no sound cap exists, the loop is capped on its plane all the same (no
// edge reused) and the error state is set, as it is for a loop left open because every cap
// would reuse an edge. Every loop not capped soundly is named in a message with its reason
// ("Hole <k> of the mesh left open: ..." for an open chain, a slit that cannot be zipped or a
// loop every cap of which would reuse an edge; "... capped across a fold of the mesh ..."). Returns 1 in every case: failures (also no memory) show only in the error
// state, which callers test (the caps made before stay); a mesh with a triangle that names no
// point or with a point that is not finite is left unchanged with the error state set, as is a
// null mesh.
int CapAllLoops(Cloud* mesh);

// ---- Sound caps for other cappers of a mesh's holes --------------------------------------------
// The checks and the loop capper of CapAllLoops, for a capper that lays its own caps over some of
// the mesh's boundary loops and keeps them only where they are sound.
struct HoleCapper;

// Readies the checks for caps over the given loops (edge lists over edges): the mesh's triangles
// whose boxes meet a loop's box binned, the triangle lists of the loop vertices with room for
// `room` more triangles, scratch for the longest loop. Everything lives in the caller's tracking scope; null
// when memory runs out or a triangle names no point.
HoleCapper* BeginHoleCaps(Cloud* mesh, const int32_t* edges, IndexNode* const* loops, int nloops, long room);

// 1 when the count triangles (mesh vertex numbers, three each) are sound over the mesh: no edge is
// used by more than two triangles of the mesh and the caps together, and none crosses a mesh
// triangle near it. 0 otherwise, also when memory runs out.
int HoleCapsSound(HoleCapper* capper, const int* tri, int count);

// Caps the loop of n mesh vertices (in either sense; no more than the longest loop given) as
// CapAllLoops caps each loop, facing the mesh's way, into tri (n - 2 triangles, mesh vertex
// numbers). 1 capped soundly; 0 capped although a triangle crosses the mesh (which then folds
// over at the loop); -1 not capped, a loop without area; -2 not capped, every cap would reuse an
// edge of the mesh.
int CapHoleLoop(HoleCapper* capper, const int* verts, int n, int* tri);
