// Triangulation of loops, capping of holes, and the even-odd point-in-polygon tests beside them.
//
// A loop is a vertex count n, an array of vertex indices (mesh point numbers or any labels) and
// parallel coordinate arrays; the first vertex follows the last. Triangles are written as triples
// of the loop's index values into the caller's array, triangle k at tri[3k..3k+2], starting at
// position 3 * (*count); *count grows by one per triangle. A loop of n vertices gives n - 2
// triangles (a merged loop counts its bridge vertices twice), so tri needs room for that many
// after *count. Counter-clockwise means counter-clockwise in the (x, y) plane, x to the right and
// y upwards.
//
// The triangulators only read the caller's loop arrays (exactly n entries of each) and work in
// scratch of their own; out of memory they return 0.
#pragma once

#include <cstdint>

#include "foundation/vec3.h"

struct Cloud;
struct IndexNode;


// ---- Planar loops -----------------------------------------------------------------------------

// Triangulates the closed planar polygon (x, y) by clipping ears at its leftmost vertex: the ear
// (prev, m, next) at the vertex m of least x (the first on ties) is written when no vertex lies
// strictly inside it or on its edges m-prev and m-next (where the loop touches itself); otherwise the polygon is split along the diagonal from m to the blocking
// vertex of least x and the part between the two (in loop order) is triangulated before the
// rest. A vertex that repeats the index value of one of the ear's corners (as at a bridge to a
// hole) never blocks. A polygon that crosses itself is triangulated without any check.
// 1 done; 0 for n < 3, a non-finite coordinate or no memory (triangles already written stay).
int BreakPolyToTriangle(int n, const int* idx, const double* x, const double* y, int* count, int* tri);

// Puts the loop into counter-clockwise order: when it runs clockwise all three arrays are
// reversed (entry i exchanged with n - 1 - i) and *flag is set to 1, else 0. A loop whose x
// values are all equal is left as it is.
void SetCounterClock2DPoly(int n, int* idx, double* x, double* y, int* flag);

// 1 when the segment from p (px, py) to the far point q (qx, qy), which the caller chooses
// outside the polygon, crosses the closed polygon x, y of n points (the last joined to the
// first) an odd number of times: p is inside. A crossing through a polygon vertex is counted
// once, on the edge that ends there. 0 for a null array.
int IsPoint2DInList(double px, double py, double qx, double qy, const double* x, const double* y,
                    int n);

// 1 when strictly more of the loop's first min(n, 21) points are inside the polygon (X, Y, N)
// than outside it (by IsPoint2DInList with the far point q); 0 otherwise, also for n < 1 or a
// null array.
int IsList2DInList(const double* x, const double* y, int n, double qx, double qy, const double* X,
                   const double* Y, int N);

// ---- Loops in space ---------------------------------------------------------------------------

// Compacts the loop in place, keeping in order the first entry of every index value; *n becomes
// the number kept.
void RemoveDuplicateVertices(int* n, int* idx, double* x, double* y, double* z);

// Triangulates a loop in space on its least-squares plane: later repeats of an index are dropped,
// the rest is projected along the plane's normal and triangulated by BreakPolyToTriangle; the
// triangles follow the loop's order as seen from the side the normal points to. Points that fit
// no plane (collinear, coincident) give a fan from the first vertex. 1 done; 0 for fewer than
// three distinct indices, a non-finite coordinate or no memory.
int BreakPoly3DToTriangle(int n, const int* idx, const double* x, const double* y, const double* z,
                          int* count, int* tri);

// Triangulates a loop in space by clipping its sharpest convex corner first: the corner value of
// a vertex runs from 0 (straight on) to 2 (full turn back) by the angle between its two edges in
// space, negative where the projected loop turns clockwise. When a vertex lies strictly inside
// the projected ear, the loop is split from the corner to the nearest such vertex in space and
// each part is fitted, projected and oriented afresh (the part between them in loop order first).
// The triangles follow the loop's own order. 1 done; 0 for fewer than three distinct indices, a
// loop or a part that fits no plane, a non-finite coordinate or no memory (triangles already
// written stay).
int BreakPoly3DToTriangleToo(int n, const int* idx, const double* x, const double* y, const double* z,
                             int* count, int* tri);

// ---- Capping holes ----------------------------------------------------------------------------
//
// A loop set is k loops, loop i with counts[i] vertices, index array idx[i] and planar
// coordinates x[i], y[i]. The loops are sorted into outer loops, their holes and islands inside
// the holes; each outer loop is merged with its holes into one polygon by bridge edges and
// triangulated. Outer loops and holes are expected in the same (counter-clockwise) order: a hole
// is walked backwards into the merged polygon. A set of V vertices in all gives at most V + 2k
// triangles. Loops that cross one another, or bridges that cross other loops, are not detected.

// Caps the loop set: the loop O of largest box is the outer loop; the loops mostly outside it are
// capped first, as a set of their own; O is merged with the loops inside it that lie inside no
// other of them (its holes) and triangulated; the loops inside those holes are then capped as a
// set of their own (an island becomes an outer loop again). The arrays are only read. 1 done;
// 0 for k < 1, a loop that cannot be triangulated (fewer than three vertices) or no memory: the
// triangles of the sets already capped stay counted.
int CreateCapPolysRecursive(int k, const int* counts, const int* const* idx, const double* const* x,
                            const double* const* y, int* count, int* tri);

// Caps the outer loop (loop 0) with its h holes (loops 1..h): they are merged into one polygon
// (MakeAnOuterPoly2D, on copies) and triangulated. The arrays are only read. 1 done; 0 when the
// merged polygon cannot be triangulated or memory runs out.
int MakeInnerOuterPoly2D(int h, const int* counts, const int* const* idx, const double* const* x,
                         const double* const* y, int* count, int* tri);

// Merges h holes into the outer loop, all lying back to back in one set of arrays (loop 0 first),
// which need room for the total vertex count plus 2h. Hole by hole, the pair (outer vertex, hole)
// of least distance from the vertex to the hole's box is bridged: from that vertex to the nearer
// end of the hole's edge nearest to it, round the hole backwards and back. counts[0] becomes the
// merged loop's size. 1 done (also for h = 0); 0 when memory runs out (arrays unchanged).
int MakeAnOuterPoly2D(int h, int* counts, int* idx, double* x, double* y);

// Caps the mesh's boundary loops (edge lists as MakeOuterEdgeList gives them over the edge table
// of CreatePolyEdges) and appends the cap triangles to the mesh, planes set. The loops are walked
// head to tail (the edge table's pairs are swapped in place to run so), projected onto the
// least-squares plane of their vertices, put in counter-clockwise order and capped as a loop set.
// Each cap faces the way the mesh does: a cap whose outer loop's first edge runs the same way as
// in the mesh triangle on that edge is turned over, so that a consistently oriented mesh stays
// so; where no such triangle is found the cap faces the fitted plane's normal. A cap that would
// make an edge the mesh already has (or one of three triangles with the other caps) or cross a
// mesh triangle near it is not kept: a lone loop is then capped as CapAllLoops caps it (where the
// mesh folds over at the loop so that no sound cap exists, capped all the same with the error
// state set), an outer loop with holes fails the call. A sound cap of a lone loop with a corner
// angle below a degree is made again so too, and that cap kept where it is sound. 1 done (also when no triangle came out);
// 0 when the loop vertices fit no plane, a loop cannot be triangulated or capped soundly, or
// memory runs out, the mesh's triangles then as they were; 0 also for a mesh with a triangle that
// names no point (mesh and edges unchanged).
int CapModel(Cloud* mesh, int32_t* edges, int nloops, IndexNode* const* loopHeads);

// Caps loops given as lists of point indices into x, y, z, projected by the caller's transform
// (its x and y taken): each loop is put in counter-clockwise order and the set capped into tri
// from *count = 0. 1 done; 0 as for CreateCapPolysRecursive.
int SpecCapPolys(const float* x, const float* y, const float* z, int k, IndexNode* const* loopHeads,
                 const Xform xform, int* count, int* tri);

// Caps one long loop of mesh points in two pieces, each triangulated on its own least-squares
// plane: the loop is split between the two vertices of sharpest turn (by the signed squared
// cosine of the angle between their edges) unless the second sharpest turns by less than 45
// degrees or the two are neighbours. *count is set to the number written (n - 2). 1 done; 0 for
// n < 3, a piece that fits no plane or cannot be triangulated, or no memory.
int CapModelBySplitting(const Cloud* mesh, const int* idx, int n, int* count, int* tri);

// ---- Caps with dowel sockets ------------------------------------------------------------------

// The square of side `size` centred at (cx, cy), counter-clockwise from its lower left corner.
void GetDowellCoords(double size, double cx, double cy, double xs[4], double ys[4]);

// Closes the boundary loops made of the listed vertices with a flat cap seen along the direction,
// with *dowelCount square dowel sockets cut into it: socket k is a square hole of side
// dowelSizes[k] centred at dowelPositions[3k], [3k + 1] (cap-frame x and y) that continues as a
// four-sided tube narrowing to 0.9 of its width, dowelSizes[k] deep, closed by a square bottom
// (8 points and 10 triangles a dowel). The cap frame turns the direction onto +z; the cap lies at
// the frame z of the last loop vertex. The loops are the edges between listed vertices, walked
// from each listed vertex in list order (at a vertex with more than one way on, the way that
// leads back to the loop's start). When positionsInWorld is non-null the positions are world
// points and are overwritten with their frame coordinates; the sockets then run against the
// direction unless depthSense is non-zero (with frame positions they always run along it). w is
// not read. New points get normal (-1, -1, -1), then every such normal is computed. 1 done (also
// when nothing was capped); 0 for a mesh without triangles or with one that names no point (the
// mesh unchanged), a listed vertex with an odd number of edges to other listed vertices, a branch
// with no way back, a failed cap or no memory; points appended for dowels stay in the mesh's
// arrays.
int STLPolygonCap(Cloud* mesh, double dirX, double dirY, double dirZ, double w, int vertexCount, const int* vertices,
                  const int* dowelCount, const double* dowelSizes, const void* positionsInWorld, int depthSense,
                  double* dowelPositions);

// ---- Closing between two loops ----------------------------------------------------------------

// Joins matching stretches of two boundary loops of the mesh (loops[0], loops[1], mesh vertex
// numbers, loopSizes[0] and [1] long) with strips of triangles appended to the mesh, and returns
// a separate closed plug: both loops lifted along z by 1.5 times the distance between their first
// vertices, each capped by BreakPoly3DToTriangleToo, joined by the same strips. Span pair k joins
// positions spans[0][2k]..spans[0][2k + 1] of loop 0 with spans[1][2k]..spans[1][2k + 1] of loop
// 1: the strip zigzags between the two while both have vertices left, then fans from the shorter
// one's last vertex. loopSizes is overwritten with the sizes of the last span pair handled;
// *triangleRoom, the room of the mesh's triangle array, doubles whenever the triangle count + 2
// reaches it. flags is not read (the plug's box is not handed out). Null for a loop vertex outside
// the mesh, a span outside its loop or running backwards (mesh unchanged), a loop that cannot be
// triangulated (mesh unchanged) or no memory; strip triangles appended before a failed growth of
// the triangle array stay.
Cloud* CreatePlugForHole(Cloud* mesh, int** loops, int** spans, int spanCount, int* loopSizes, int* triangleRoom,
                         short* flags);
