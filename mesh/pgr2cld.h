// Mesh points, reversal of index arrays, splitting a triangle at a new vertex and compaction of
// a mesh after points and triangles were flagged for deletion. GetCldPoint lives on the cloud
// floor (cloud/pgr2cld.h), which needs it too.
#pragma once

#include "cloud/cldpoly.h"
#include "cloud/pgr2cld.h"

// Reverses the first n entries in place; nothing for n < 2.
void ReverseIntArray(int* array, int n);
// Splits triangle t across its edge a-b at vertex v: t becomes t with a replaced by v, and a
// triangle of t's former vertices with b replaced by v is appended (ntri grows by one); both
// keep t's vertex order, get their planes and take t's place on the vertex-to-triangle lists
// (nodes taken from the store at *nodesUsed, which rises by 6). The caller provides room for
// one more triangle and six more nodes.
void SplitCloudPoly(Cloud* mesh, int t, int a, int b, int v, IndexNode** vertexTriangleHeads, IndexNode* nodeStore,
                    int* nodesUsed);
// Drops the triangles whose flag is exactly 1 (the others keep their order) and then the points
// whose flag is non-zero, renumbering the triangles and dropping those that lose a vertex.
// Either flag array may be null. Vertex normals (those (0, 0, 0) when the mesh has normals, else
// all) and IsVert are recomputed when points went. 1, or 0 when memory runs out: the triangles
// are then already compacted and the points untouched, or, when only the normals failed, both
// compacted with normals and IsVert absent; the triangles are never lost. 0 for a null mesh.
// With pointFlags, 0 also for a triangle kept that names no point (the mesh unchanged); without,
// such triangles are dropped or kept as flagged.
int DeleteCldVertsAndPolys(Cloud* mesh, const int* pointFlags, const int* triangleFlags);

// ---- Closing the tessellations of a surface group ---------------------------------------------
// Each surface of a boundary graph (healing/srfbndrc.h) tessellated on its own: along a shared
// boundary the two meshes' vertices sit at different places and every mesh has its own corner
// vertices. CloseCloudGroup makes them meet: degenerate triangles repaired, every outer vertex
// assigned to the boundary element it lies on (with its curve parameter), every corner of a
// surface loop given a vertex shared by the two elements meeting there, the vertex chains of each
// paired seam merged or completed with copies of the other side's vertices, the vertices meeting
// at a corner of the group moved to their mean, and vertex normals recomputed.
//
// Tolerances: `tol` (the caller's) gates seams (element A's gap below it) and corner clusters (all
// members within it of their mean). The graph tolerance is the graph's `tol` (its sample-merge
// distance; the heal builds graphs with 1e-6): facing seam vertices closer than it are merged to
// their midpoint (elsewhere a copy of the other side's vertex is inserted), and an element whose
// end points lie closer than it is closed. Corners of a surface loop use max(graph tolerance,
// 0.001). Fixed: an element counts as near a point within squared distance 0.001.
//
// Element kinds are the boundary curves' (0 trim curve, 1 u-min, 2 v-min, 3 u-max, 4 v-max). A
// loop is travelled 1 -> 2 -> 3 -> 4; sides 1 and 4 with decreasing parameter, all other elements
// with increasing parameter. Per-element working lists: vertex numbers in the element's surface
// mesh (elemVerts), their parameters on the element (elemParams), counts and capacities; lists
// grow as they are appended to. A mesh's point and triangle capacities are the entries its arrays
// have room for; the edits grow them in steps.
struct Gsrf;

// Sample caches of one boundary curve's closest-point search (kept between calls on that curve,
// freed by the caller with FreeBndrCrvCache).
struct BndrCrvCache {
  double* x;
  double* y;
  double* z;
};
void FreeBndrCrvCache(BndrCrvCache* cache);

// objects: one mesh per graph surface, in the graph's order; null = no tessellation (skipped, its
// seams left open). The meshes are changed in place. 1 done; 0 for a null graph or objects or a
// mesh with a triangle that names no point (every mesh unchanged); 0 on running out of memory, a
// failed grow of a mesh or a user break: the meshes keep every change made so far and their
// normals are not recomputed. The thermometer is only set (20, rising by 5, 90), never shown
// or hidden: its display belongs to the caller.
int CloseCloudGroup(Gsrf* graph, Cloud** objects, double tol);

// Assigns the outer vertices of the surface's mesh to its boundary elements. meshLoops: the mesh
// loops' vertex lists (as many as the surface has graph loops, each with room for twice its length
// plus 24 entries, reoriented and rotated in place). 1 when every loop was mapped; 0 otherwise
// (the mesh may already carry points and splits made while refining a loop).
int MapOuterVertsToBndrEl(Gsrf* graph, int** meshLoops, int** elemVerts, int* elemCounts, int* elemCapacities,
                          double** elemParams, int surface, int* meshLoopSizes, Cloud* mesh, int* pointCapacity,
                          int* triangleCapacity);
// Gives every corner of the surface's loops a vertex that both elements meeting there list,
// inserting one at the exact corner point where none is near. A corner whose element kinds name no
// neighbour parameter is left alone. 1, or 0 when memory runs out.
int CloseAllLoops(Gsrf* graph, Cloud* mesh, int surface, int** elemVerts, double** elemParams, int* elemCounts,
                  int* elemCapacities, int* triangleCapacity, int* pointCapacity);
// Ranks of two vertex chains that start at the same end of a seam (at least 2 vertices each):
// both starts 0, both ends nA + nB - 3, the interior vertices 1, 2, ... in the order of their
// projections on the middle polyline of the two (a B vertex first where projections coincide).
// 1; 0 for a chain shorter than 2, a null array or no memory.
int MapVertexEyeToPolyline(const float* xA, const float* yA, const float* zA, int nA, const float* xB,
                           const float* yB, const float* zB, int nB, int* orderA, int* orderB);
// CloseOneVertexBndr for side A against B, then for B against A. 1, or 0 as it gives 0.
int CloseVertexEye(Cloud* meshA, Cloud* meshB, int* listA, int* listB, int nA, int nB, const int* orderA,
                   const int* orderB, int* pointCapacityA, int* triangleCapacityA, int* pointCapacityB,
                   int* triangleCapacityB, double mergeTol);
// Walks both chains by rank: facing vertices within mergeTol (and nearer each other than to the
// other side's previous vertex) move to their midpoint in both meshes; every other interior vertex
// of the other side gets a copy in this mesh, splitting the triangle on this side's boundary edge
// (a copy with no such triangle is still added). 1, or 0 on no memory, or (nothing changed) for
// an empty chain, a null mesh, chain or order, a chain vertex or a triangle corner of either mesh that
// names no point.
int CloseOneVertexBndr(Cloud* mesh, const int* list, const int* order, int n, Cloud* otherMesh,
                       const int* otherList, const int* otherOrder, int otherN, double mergeTol, int* pointCapacity,
                       int* triangleCapacity);
// Moves the vertices meeting at each corner of the group (an element's end, its loop neighbour's
// matching end and, across every seam, the partners' ends, until the cluster stops growing) to
// their mean when all lie within tol of it. Marks handled ends by overwriting them with -1, so the
// lists mean nothing afterwards. 1, or 0 on no memory.
int JoinStartAndEndOfBndrEl(Gsrf* graph, int** elemVerts, const int* elemCounts, Cloud** objects, double tol);

// ---- boundary element geometry and list helpers ----
// The element's point at curve parameter t.
void EvalPointOnBndrEl(Gsrf* graph, int element, double t, double point[3]);
// Closest point of p on the element's curve: 1 with the foot when its parameter lies in [t0, t1],
// else 0 with t and foot at the nearer end (ties to t1).
int GetClosestPointOnBndrEl(Gsrf* graph, int element, const double p[3], double* t, double foot[3],
                            BndrCrvCache* cache);
// Number of the loop's elements within squared distance 0.001 of p; the nearest (the lowest index
// on a tie) with its parameter and squared distance. caches: one per curve of the graph.
int GetClosestBndryElInLoop(Gsrf* graph, int loop, const double p[3], int* element, double* t, double* d2,
                            BndrCrvCache* caches);
// Squared distance from p to the first tenth (in travel direction) of the element.
void GetDistToNextBndrEl(Gsrf* graph, int element, const double p[3], double* d2, BndrCrvCache* cache);
// 1 when the element's end points lie closer than the graph tolerance.
int BndrElClosed(Gsrf* graph, int element);
// The parameter of a vertex on a closed element adjusted to the walk: a parameter at the far end
// on the first visit is taken as the near end, and one running backwards later as the far end.
double GetModifiedParamValue(Gsrf* graph, int element, double t, int firstTime, double lastStored);
// 1 with the loop whose element range holds element, else 0.
int FindLoopOfBndrEl(Gsrf* graph, int element, int* loop);
// The loop's elements in travel order into order (room for its element count + 1; the first is
// repeated after the last); returns the count without the repeat. A trim loop's elements run in id
// order; the natural boundary takes its sides in curve order, sides 1 and 4 reversed.
int GetLoopBndrsInOrder(Gsrf* graph, int loop, int* order);
// Sorts the first count parameters ascending with the vertices alongside; for sides 1 and 4 then
// reverses both (travel order). Nothing for fewer than 2.
void ArrangeVertsInOrder(Gsrf* graph, int element, int count, double* params, int* verts);
// Rotates the list so that it begins at position start. 1.
int RearrangeVertsInLoop(int start, int* list, int n);
void ReverseDoubleArray(double* array, int n);

// ---- Welding, merging and connected pieces ------------------------------------------------------
// Points are never moved: only how the mesh divides into points and pieces changes.

// Welds points whose coordinates are exactly equal into one (the lowest-numbered of each group);
// triangles that lose a distinct corner are removed, the rest renumbered. newNumbers (one per old
// point, may be null) receives each old point's number after welding. 1, or 0 on no memory (the
// triangle corners may already be redirected) or, the mesh unchanged, for a triangle that names
// no point.
int RemoveCldIdenticalPtsWIndices(Cloud* mesh, int* newNumbers);
int RemoveCldIdenticalPts(Cloud* mesh);
// Number of edge-connected pieces (triangles touching at a vertex only are apart); each
// triangle's piece into triangleComponent when given, pieces numbered in order of their lowest
// edge. -1 on no memory; 0 for a mesh without triangles.
int IdentifySeparateObjectsWithEdges(Cloud* mesh, int* edgePairs, int** cornerEdges, int edgeCount,
                                     int* triangleComponent);
int IdentifySeparateObjects(Cloud* mesh, int* triangleComponent);
// One new mesh per piece (triangles in mesh order, points in order of first use, normals carried),
// with its box (six doubles per piece); the arrays and meshes are the caller's. 1 (a mesh without
// triangles gives no piece), 0 on no memory or for a triangle that names no point (nothing
// handed out).
int BreakDistinctClouds(Cloud* mesh, Cloud*** pieces, double** boxes, int* count);
// One mesh of all inputs: points concatenated, triangles offset, normals, colours and reliability
// carried only when every input has them, exact duplicates welded. keepInputs 0 frees the inputs
// and nulls their pointers, but only once the merge has succeeded (a mesh listed twice is merged
// twice and freed once). Null on failure (inputs kept), also for an input with a triangle that
// names no point.
Cloud* AddPolyClds(Cloud** meshes, int count, int keepInputs);
// The vertices within `rings` edge steps of vertex (with their ring numbers), the edges (either
// orientation counted once) and triangles met; outputs are the caller's. 1, or 0 on no memory
// or for a triangle that names no point (outputs null).
int FindCloudPolySub(Cloud* mesh, int vertex, int rings, int* vertexCount, int** vertices, int** ringNumbers,
                     int* edgeCount, int** edgeStarts, int** edgeEnds, int* triangleCount, int** triangles);
// Double the capacity into new blocks, copying the old entries. On no memory the old blocks stay
// as they were (the error state set) and 0 is returned.
int ReallocIntArray(int** array, int* capacity);
int Realloc2IntArray(int** a, int** b, int* capacity);
// side[i] = 1 when a x + b y + c z + d > 0 at point i, else -1 (on the plane: -1). Does nothing
// for a null cloud or side.
void FindSideOfPlane(Cloud* cloud, int* side, double a, double b, double c, double d);
