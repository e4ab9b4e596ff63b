// Repair of triangle meshes: degenerate triangles (short edges, small triangles, slivers) and
// triangles around edges shared by three or more triangles. Both work in place and leave vertex
// normals as they were (callers recompute them where needed).
#pragma once

#include <cstdint>

#include "cloud/cldpoly.h"

// Repeated passes until one repairs nothing. With tol2 = tol * tol, an edge is short when its
// squared length is at most tol2. Each pass collapses triangles whose three edges are short
// into one vertex, then collapses lone short edges, then deletes slivers on the boundary and
// flips interior ones (a vertex within tol of the opposite edge, its foot inside it); each
// deleted triangle and each flip counts as one repair, and the pass compacts the mesh. With a
// mask (one byte per point) only triangles with a marked vertex are examined, and the mask is
// compacted with the points. Returns the number of repairs, or -1 when a pass could not
// complete for want of memory; the mesh is then compacted as far as the pass got, so every
// corner names a point and no flagged triangle is left.
int RemoveDegenCldPolys(Cloud* mesh, double tol, unsigned char* mask);
// Deletes every triangle around an edge used by more than two triangles, as the mode bits
// enable it: 1 edges of exactly 3 triangles, 2 of exactly 4, 4 of 5 or more. With a mask, an
// edge is treated only when one of its ends is marked. Two rounds (one with all three bits), so
// an edge that the first round brings down to an enabled count is treated too. Returns the
// number of triangles deleted; 0 when memory runs out (mesh unchanged).
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
// and some vertex within that of the segment of the other two, its foot strictly inside.
int IsPolyType3Degen(const Cloud* mesh, const int v[3], double d2);
